// kelvara._kelvara: the compiled half of the Python package (python/kelvara/__init__.py is the
// other half and the one users see). It holds the same core objects as the tool and only turns
// their calls into Python ones: paths in, numpy arrays out, the core's errors into kelvara.Error
// and its warnings into Python warnings.
//
// Every call into the core gives up the interpreter's lock first and then holds one lock of its
// own (the core keeps process-wide state: the file units, the console, the pool of workers that
// share a step's reading among the cores), so other Python threads go on meanwhile and no two
// threads can wait on each other. Inside, the console goes to a capture and errors are thrown
// back here instead of ending the process.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/mman.h>

#include "calc_binding.h"
#include "core_dataset.h"
#include "fileio/console.h"
#include "fileio/error.h"
#include "fileio/units.h"
#include "formats/mesh.h"
#include "tool/options.h"
#include "tool/run.h"

namespace py = pybind11;

namespace kelvara_python {
namespace {

// Guards the readers and writers of datasets (their objects and the process's file units);
// runs have a context each and do not take it.
std::mutex gCoreLock;

// ---- Errors and console ---------------------------------------------------------------------

// A failure of the core, on its way to the interpreter as kelvara.Error.
struct CoreFailure {
    std::vector<std::string> lines;
    kelvara::ErrorCode code = kelvara::ErrorCode::Internal;
};

// kelvara.Error, and the package's function that issues one warning (kelvara._warn), handed
// over by the package when it is imported.
py::object& errorType() {
    static auto* type = new py::object();  // lives as long as the process: never destroyed
    return *type;
}
py::object& warnFunction() {
    static auto* function = new py::object();  // as errorType
    return *function;
}

bool startsWith(const std::string& line, std::string_view prefix) {
    return line.compare(0, prefix.size(), prefix) == 0;
}

// Whether the usage text begins at line `at` (a few command-line errors show it after their
// own lines).
bool usageAt(const std::vector<std::string>& lines, std::size_t at) {
    const auto& usage = kelvara::usageText();
    return lines.size() - at >= usage.size() &&
           std::equal(usage.begin(), usage.end(), lines.begin() + static_cast<std::ptrdiff_t>(at));
}

// The text of a failure: its "ERROR - " line and every non-empty line after it (the file it
// says, the line of a mesh it could not read, what to write instead), up to the usage text;
// without an "ERROR - " line, the first non-empty one.
std::string errorText(const std::vector<std::string>& lines) {
    std::size_t first = 0;
    while (first < lines.size() && !startsWith(lines[first], "ERROR - ")) ++first;
    if (first == lines.size()) {
        for (const auto& line : lines)
            if (!line.empty()) return line;
        return "ERROR - kelvara stopped";
    }
    std::string text = lines[first];
    for (std::size_t i = first + 1; i < lines.size() && !usageAt(lines, i); ++i) {
        if (lines[i].empty() || startsWith(lines[i], "Press Enter to ")) continue;
        text += '\n';
        text += lines[i];
    }
    return text;
}

void raiseError(const std::vector<std::string>& lines, int status = 1,
                kelvara::ErrorCode code = kelvara::ErrorCode::Internal) {
    const std::string message = errorText(lines);
    if (!errorType()) throw std::runtime_error(message);
    py::object error = errorType()(message, lines, status, kelvara::errorCodeName(code));
    PyErr_SetObject(errorType().ptr(), error.ptr());
}

// Each warning of a call: its "WARNING - " line with the indented lines that go on with it.
std::vector<std::string> warningsOf(const std::vector<std::string>& lines) {
    std::vector<std::string> warnings;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!startsWith(lines[i], "WARNING - ")) continue;
        std::string text = lines[i];
        while (i + 1 < lines.size() && startsWith(lines[i + 1], " ")) text += '\n' + lines[++i];
        warnings.push_back(std::move(text));
    }
    return warnings;
}

// The warnings of a call as Python warnings (with the interpreter's lock held). The package's
// function points them at the user's line; a warning turned into an error is thrown.
void passOnWarnings(const std::vector<std::string>& lines) {
    for (const auto& text : warningsOf(lines)) {
        if (warnFunction()) {
            warnFunction()(text);
        } else if (PyErr_WarnEx(PyExc_UserWarning, text.c_str(), 1) != 0) {
            throw py::error_already_set();
        }
    }
}

// A path or argument for the core, which takes names as C strings: a NUL would cut the name
// (and "victim_d.dat\0.new" would name victim_d.dat), so it is refused, as Python's open()
// refuses it.
void refuseNul(const std::string& text) {
    if (text.find('\0') != std::string::npos)
        throw py::value_error("embedded null character in path or argument");
}

// Runs f() in the core: the interpreter's lock given up, the core's lock held, the console
// captured. Then, with the interpreter's lock back, the call's warnings become Python warnings
// and a failure is thrown as CoreFailure (which becomes kelvara.Error).
template <typename F>
void inCore(F&& f) {
    std::vector<std::string> lines;
    bool failed = false;
    kelvara::ErrorCode code = kelvara::ErrorCode::Internal;
    {
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> hold(gCoreLock);
        kelvara::LineConsole console;
        kelvara::ConsoleRedirect redirect(console);
        kelvara::ErrorScope scope;
        try {
            f();
        } catch (const kelvara::Error& error) {
            failed = true;
            code = error.code();
            lines = console.take();
            const std::vector<std::string> text = error.consoleLines();
            lines.insert(lines.end(), text.begin(), text.end());
        } catch (const std::bad_alloc&) {
            failed = true;
            code = kelvara::ErrorCode::Memory;
            lines = console.take();
            lines.push_back("ERROR - Could not allocate enough memory (RAM).");
        }
        if (!failed) lines = console.take();
    }
    passOnWarnings(lines);
    if (failed) throw CoreFailure{std::move(lines), code};
}

// ---- Arrays ---------------------------------------------------------------------------------

// Blocks for the arrays of steps. A block comes back when the last array over it dies; the
// pool keeps a few, so that reading step after step (each step's arrays let go when the next
// one comes) reuses the same memory instead of having the system map and fault in new pages
// for every step. A pool lives as long as its reader or any array of it.
class BlockPool {
public:
    void* take(std::size_t bytes) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            for (auto it = free_.begin(); it != free_.end(); ++it) {
                if (it->first == bytes) {
                    void* block = it->second;
                    free_.erase(it);
                    return block;
                }
            }
        }
        return allocate(bytes);
    }
    void give(void* block, std::size_t bytes) {
        std::lock_guard<std::mutex> hold(lock_);
        if (free_.size() < kKept) {
            free_.emplace_back(bytes, block);
        } else {
            std::free(block);
        }
    }
    ~BlockPool() {
        for (auto& entry : free_) std::free(entry.second);
    }

private:
    // Large blocks start on a large-page boundary and are advised for large pages where the
    // system has them: the system then copies a step's bytes into fewer, larger pages.
    static void* allocate(std::size_t bytes) {
        constexpr std::size_t kLargePage = std::size_t{2} << 20;
        void* block = nullptr;
        if (bytes >= kLargePage) {
            if (posix_memalign(&block, kLargePage, bytes) != 0) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
            madvise(block, bytes - bytes % kLargePage, MADV_HUGEPAGE);
#endif
            return block;
        }
        block = std::malloc(std::max<std::size_t>(bytes, 1));
        if (block == nullptr) throw std::bad_alloc();
        return block;
    }

    static constexpr std::size_t kKept = 6;  // two steps' values and flags, with room to spare
    std::mutex lock_;
    std::vector<std::pair<std::size_t, void*>> free_;
};

struct BlockOwner {
    std::shared_ptr<BlockPool> pool;
    void* block;
    std::size_t bytes;
};

// A new C-ordered array of the given shape over a block of the pool.
template <typename T>
py::array_t<T> pooledArray(const std::shared_ptr<BlockPool>& pool,
                           std::vector<py::ssize_t> shape) {
    std::size_t count = 1;
    for (py::ssize_t n : shape) count *= static_cast<std::size_t>(n);
    const std::size_t bytes = count * sizeof(T);
    auto* owner = new BlockOwner{pool, pool->take(bytes), bytes};
    py::capsule base(owner, [](void* p) {
        auto* o = static_cast<BlockOwner*>(p);
        o->pool->give(o->block, o->bytes);
        delete o;
    });
    return py::array_t<T>(std::move(shape), static_cast<T*>(owner->block), base);
}

// ---- Reader ---------------------------------------------------------------------------------

const char* timeUnitText(std::int32_t code) {
    switch (code) {
        case 0: return "hours";
        case 1: return "minutes";
        case 2: return "seconds";
        case 4: return "days";
        default: return "unknown";
    }
}

class Reader {
public:
    explicit Reader(const std::string& path) : pool_(std::make_shared<BlockPool>()) {
        refuseNul(path);
        inCore([&] { dataset_.open(path); });
    }
    ~Reader() {
        try {
            close();
        } catch (...) {  // nothing to report from a destructor
        }
    }
    std::int32_t nodes() const { return dataset_.header().nodeCount; }
    std::int32_t cells() const { return dataset_.header().cellCount; }
    bool vector() const { return dataset_.header().isVector; }
    std::string name() const { return dataset_.header().datasetName; }
    int flagSize() const { return dataset_.flagSize(); }
    std::string timeUnit() const { return timeUnitText(dataset_.timeUnits()); }
    bool closed() const { return !dataset_.isOpen(); }

    // (time, flags or None, values) of the next step, or None after the last one.
    py::object nextStep() {
        if (!dataset_.isOpen()) throw py::value_error("I/O operation on a closed dataset");
        const py::ssize_t nodes = this->nodes(), cells = this->cells();
        auto flags = pooledArray<std::uint8_t>(pool_, {cells});
        py::array_t<float> values = vector() ? pooledArray<float>(pool_, {nodes, 2})
                                             : pooledArray<float>(pool_, {nodes});
        auto* activeData = reinterpret_cast<std::int8_t*>(flags.mutable_data());
        float* valuesData = values.mutable_data();
        float time = 0.0f;
        bool ended = false, hasFlags = false;
        // The test for a following step, the read and, after a failure, the close happen under
        // one hold of the core's lock, so that threads sharing a reader each get a whole step.
        inCore([&] {
            if (!dataset_.isOpen()) throw kelvara::errorLine("ERROR - The dataset was closed.");
            ended = !dataset_.hasStep();
            if (ended) return;
            try {
                hasFlags = dataset_.readStep(activeData, valuesData, time);
            } catch (...) {
                dataset_.close();  // a dataset that failed is read no further
                throw;
            }
        });
        if (ended) return py::none();
        return py::make_tuple(time, hasFlags ? py::object(flags) : py::none(), values);
    }

    void close() {
        if (dataset_.isOpen()) inCore([&] { dataset_.close(); });
    }

private:
    CoreDataset dataset_;
    std::shared_ptr<BlockPool> pool_;
};

// ---- Writer ---------------------------------------------------------------------------------

class Writer {
public:
    Writer(const std::string& path, std::int32_t nodes, std::int32_t cells, bool vector,
           const std::string& name) {
        refuseNul(path);
        inCore([&] { output_.open(path, nodes, cells, vector, name); });
    }
    ~Writer() {
        try {
            abandon();
        } catch (...) {
        }
    }
    void writeStep(float time, std::optional<py::array_t<std::uint8_t, py::array::c_style>> flags,
                   py::array_t<float, py::array::c_style> values) {
        if (!output_.isOpen()) throw py::value_error("the dataset is finished");
        const auto nodes = static_cast<py::ssize_t>(output_.nodeCount());
        const auto cells = static_cast<py::ssize_t>(output_.cellCount());
        const py::ssize_t width = output_.isVector() ? 2 : 1;
        if (values.size() != nodes * width || (flags && flags->size() != cells)) {
            throw py::value_error("a step of the wrong size");
        }
        const auto* active =
            flags ? reinterpret_cast<const std::int8_t*>(flags->data()) : nullptr;
        const float* data = values.data();
        inCore([&] { output_.writeStep(time, active, data); });
    }
    void finish() {
        if (output_.isOpen()) inCore([&] { output_.finish(); });
    }
    void abandon() {
        if (output_.isOpen()) inCore([&] { output_.abandon(); });
    }

private:
    CoreOutput output_;
};

// ---- Mesh -----------------------------------------------------------------------------------

py::tuple readMesh(const std::string& path) {
    refuseNul(path);
    kelvara::MeshGeometry mesh;
    inCore([&] { readMeshFile(path, mesh); });
    const auto n = static_cast<py::ssize_t>(mesh.x.size());
    const auto m = static_cast<py::ssize_t>(mesh.cells.size());
    py::array_t<double> nodes({n, py::ssize_t{3}});
    py::array_t<std::int32_t> cells({m, py::ssize_t{4}});
    auto xyz = nodes.mutable_unchecked<2>();
    for (py::ssize_t i = 0; i < n; ++i) {
        xyz(i, 0) = mesh.x[static_cast<std::size_t>(i)];
        xyz(i, 1) = mesh.y[static_cast<std::size_t>(i)];
        // A node that no "ND" line names has no coordinates and no elevation.
        xyz(i, 2) = std::isnan(xyz(i, 0)) ? std::numeric_limits<double>::quiet_NaN()
                                          : mesh.elevation[static_cast<std::size_t>(i)];
    }
    static_assert(sizeof(mesh.cells[0]) == 4 * sizeof(std::int32_t), "cells are 4 numbers");
    if (m > 0) {
        std::memcpy(cells.mutable_data(), mesh.cells.data(),
                    static_cast<std::size_t>(m) * 4 * sizeof(std::int32_t));
    }
    return py::make_tuple(nodes, cells);
}

// ---- Runs -----------------------------------------------------------------------------------

py::tuple run(const std::vector<std::string>& arguments) {
    for (const auto& argument : arguments) refuseNul(argument);
    // "--help" and "--version" anywhere answer as the executable answers them, before any run.
    for (const auto& argument : arguments) {
        if (argument == "--help") return py::make_tuple(0, kelvara::usageText());
        if (argument == "--version") {
            return py::make_tuple(0, std::vector<std::string>{"kelvara " KELVARA_VERSION});
        }
    }
    std::vector<std::string> lines;
    int status = 1;
    kelvara::RunOutcome outcome;
    {
        // A run has its own context: runs on several Python threads go on at once.
        py::gil_scoped_release release;
        status = kelvara::runCommandLine(arguments, lines, &outcome);
    }
    passOnWarnings(lines);
    if (status != 0) {
        raiseError(lines, status, outcome.code);
        throw py::error_already_set();
    }
    return py::make_tuple(status, lines);
}

}  // namespace
void registerEnsemble(py::module_& m);  // ensemble_bindings.cpp
}  // namespace kelvara_python

PYBIND11_MODULE(_kelvara, m) {
    using namespace kelvara_python;
    m.doc() = "The compiled core of the kelvara package; use the package kelvara, not this.";
    m.def(
        "_set_error_type", [](py::object type) { errorType() = std::move(type); },
        "Sets the exception class raised for the core's errors (kelvara.Error).");
    m.def(
        "_set_warn", [](py::object function) { warnFunction() = std::move(function); },
        "Sets the function called with the text of each of the core's warnings.");
    py::register_exception_translator([](std::exception_ptr failure) {
        try {
            if (failure) std::rethrow_exception(failure);
        } catch (const CoreFailure& f) {
            raiseError(f.lines, 1, f.code);
        }
    });

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
        .def("write_step", &Writer::writeStep, "Writes one step (flags may be None).")
        .def("finish", &Writer::finish, "Ends the dataset and moves it into place.")
        .def("abandon", &Writer::abandon, "Removes an unfinished dataset (no-op when finished).");

    m.def("read_mesh", &readMesh, py::arg("path"), "(nodes (n, 3), cells (m, 4)) of a mesh.");
    m.def("run", &run, py::arg("arguments"), "(status, console lines) of one command line.");
    registerEnsemble(m);
    registerCalc(m, [](const std::function<void()>& call) { inCore(call); });
}
