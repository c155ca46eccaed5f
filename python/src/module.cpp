// kelvara._kelvara: the compiled half of the Python package (python/kelvara/__init__.py is the
// other half and the one users see). It holds the same core objects as the tool and only turns
// their calls into Python ones: paths in, numpy arrays out, the core's errors into kelvara.Error.
//
// The core keeps process-wide state (the worker pool that shares a step's reading among the
// cores, the console sink of a run), so every call into it holds one lock. The interpreter's
// lock is given up first and taken back last, so that other Python threads go on meanwhile and
// no two threads can wait on each other.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace {

std::mutex gCoreLock;

// kelvara.Error, handed over by the package when it is imported.
py::object& errorType() {
    static py::object* type = new py::object();  // never destroyed: lives as long as the module
    return *type;
}

// Raises kelvara.Error(message, lines, status) in the interpreter.
[[noreturn]] void raiseError(const std::string& message, const std::vector<std::string>& lines,
                             int status) {
    if (!errorType()) throw std::runtime_error(message);
    py::object error = errorType()(message, lines, status);
    PyErr_SetObject(errorType().ptr(), error.ptr());
    throw py::error_already_set();
}

[[noreturn]] void notYet(const char* what) {
    PyErr_SetString(PyExc_NotImplementedError, what);
    throw py::error_already_set();
}

// Runs f with the interpreter's lock given up and the core's lock held.
template <typename F>
auto inCore(F&& f) {
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> hold(gCoreLock);
    return f();
}

class Reader {
public:
    explicit Reader(const std::string& path) : path_(path) {
        notYet("kelvara.open needs the core's dataset reader object");
    }
    std::int32_t nodes() const { return nodes_; }
    std::int32_t cells() const { return cells_; }
    bool vector() const { return vector_; }
    const std::string& name() const { return name_; }
    int flagSize() const { return flagSize_; }
    std::string timeUnit() const { return timeUnit_; }
    bool closed() const { return closed_; }
    py::object nextStep() { notYet("kelvara.open needs the core's dataset reader object"); }
    void close() { closed_ = true; }

private:
    std::string path_;
    std::int32_t nodes_ = 0;
    std::int32_t cells_ = 0;
    bool vector_ = false;
    std::string name_;
    int flagSize_ = 1;
    std::string timeUnit_ = "hours";
    bool closed_ = false;
};

class Writer {
public:
    Writer(const std::string&, std::int32_t, std::int32_t, bool, const std::string&) {
        notYet("kelvara.write needs the core's dataset writer object");
    }
    void writeStep(float, py::object, py::array_t<float, py::array::c_style>) {}
    void finish() {}
    void abandon() {}
};

py::tuple readMesh(const std::string&) {
    notYet("kelvara.read_mesh needs the core's mesh reader returning its errors");
}

py::tuple run(const std::vector<std::string>&) {
    notYet("kelvara.run needs the core's in-process entry point");
}

}  // namespace

PYBIND11_MODULE(_kelvara, m) {
    m.doc() = "The compiled core of the kelvara package; use the package kelvara, not this.";
    m.def(
        "_set_error_type", [](py::object type) { errorType() = std::move(type); },
        "Sets the exception class raised for the core's errors (kelvara.Error).");

    py::class_<Reader>(m, "Reader", "A dataset open for reading (kelvara.Dataset wraps it).")
        .def(py::init<const std::string&>(), py::arg("path"),
             "Opens a dataset and reads its header.")
        .def_property_readonly("nodes", &Reader::nodes, "Number of nodes.")
        .def_property_readonly("cells", &Reader::cells, "Number of cells.")
        .def_property_readonly("vector", &Reader::vector, "True for a vector dataset.")
        .def_property_readonly("name", &Reader::name, "The dataset's name.")
        .def_property_readonly("flag_size", &Reader::flagSize, "Bytes per activity flag.")
        .def_property_readonly("time_unit", &Reader::timeUnit, "Unit of the step times.")
        .def_property_readonly("closed", &Reader::closed, "True once closed.")
        .def("next_step", &Reader::nextStep,
             "(time, flags or None, values) of the next step, or None after the last one.")
        .def("close", &Reader::close, "Closes the file.");

    py::class_<Writer>(m, "Writer", "A dataset being written (kelvara.write drives it).")
        .def(py::init<const std::string&, std::int32_t, std::int32_t, bool, const std::string&>(),
             "Starts a dataset beside its final name.")
        .def("write_step", &Writer::writeStep, "Writes one step.")
        .def("finish", &Writer::finish, "Ends the dataset and moves it into place.")
        .def("abandon", &Writer::abandon, "Removes an unfinished dataset (no-op when finished).");

    m.def("read_mesh", &readMesh, py::arg("path"), "(nodes (n, 3), cells (m, 4)) of a mesh.");
    m.def("run", &run, py::arg("arguments"), "(status, console lines) of one command line.");
}
