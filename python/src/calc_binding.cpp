// kelvara.calc: a quantity computed node by node at every output time of a run, on the same
// code as the tool's -calc (src/calc/quantity_steps.h): the run's dataset by path, the datasets
// the expression reads beside it by the name rule or named, one step of each in memory. The
// package (kelvara/__init__.py) wraps _kelvara.Calculation.
#include "calc_binding.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "calc/calc.h"
#include "calc/quantity_steps.h"
#include "fileio/console.h"
#include "fileio/error.h"
#include "fileio/table_memory.h"
#include "fileio/units.h"
#include "formats/mesh.h"

namespace py = pybind11;

namespace kelvara_python {
namespace {

using kelvara::calc::Source;

void toConsole(const std::string& line) { kelvara::consoleLine(line); }

const char* keywordOf(Source source) {
    switch (source) {
    case Source::Depths: return "depth";
    case Source::Levels: return "level";
    case Source::Velocities: return "velocity";
    }
    return "";
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// A file the calculation reads that is not there: which file, why, and how to name another.
[[noreturn]] void missing(const std::string& name, const std::string& why, const std::string& how) {
    throw kelvara::Error({"", "ERROR - " + name + " cannot be found: " + why, how},
                         kelvara::ErrorCode::MissingFile);
}

class Calculation {
public:
    Calculation(CoreCall call, const std::string& expression, const std::string& path,
                const std::optional<std::string>& depth, const std::optional<std::string>& level,
                const std::optional<std::string>& velocity, const std::optional<std::string>& mesh)
        : call_(std::move(call)) {
        call_([&] { open(expression, path, {depth, level, velocity}, mesh); });
    }

    ~Calculation() {
        try {
            close();
        } catch (...) {  // nothing to report from a destructor
        }
    }
    Calculation(const Calculation&) = delete;
    Calculation& operator=(const Calculation&) = delete;

    std::int32_t nodes() const { return nodes_; }
    std::int32_t cells() const { return cells_; }
    const std::vector<std::string>& files() const { return files_; }
    std::int64_t notANumber() const { return steps_ ? steps_->notANumberCount() : 0; }
    bool closed() const { return steps_ == nullptr; }

    // (time, flags, values) of the next output time, or None after the last one (when the
    // warning about values that came out not a number, if any, is given).
    py::object nextStep() {
        if (!steps_) throw py::value_error("I/O operation on a closed calculation");
        py::array_t<std::uint8_t> flags(static_cast<py::ssize_t>(cells_));
        py::array_t<float> values(static_cast<py::ssize_t>(nodes_));
        auto* flagData = flags.mutable_data();
        float* valueData = values.mutable_data();
        float time = 0.0f;
        bool ended = false;
        call_([&] {
            try {
                ended = !steps_->next();
            } catch (...) {
                release();  // a calculation that failed is read no further
                throw;
            }
            if (ended) {
                if (!warned_ && !steps_->notANumberWarning().empty())
                    kelvara::consoleLine(steps_->notANumberWarning());
                warned_ = true;
                if (steps_->stepsComputed() == 0 && !noStepsTold_) {
                    noStepsTold_ = true;
                    throw kelvara::errorLine(
                        "ERROR - " + files_.front() + (readers_.size() > 1
                            ? std::string(" and the datasets the expression reads have no "
                                          "output time in common")
                            : std::string(" holds no output time below 99998")) +
                            ": there is nothing to compute.",
                        kelvara::ErrorCode::WrongInput);
                }
                return;
            }
            time = steps_->time();
            std::memcpy(valueData, steps_->values(),
                        sizeof(float) * static_cast<std::size_t>(nodes_));
            const std::int8_t* active = steps_->flags();
            for (std::int32_t c = 0; c < cells_; ++c) flagData[c] = active[c] != 0 ? 1 : 0;
        });
        if (ended) return py::none();
        return py::make_tuple(time, flags, values);
    }

    void close() {
        if (steps_) call_([&] { release(); });
    }

private:
    void open(const std::string& text, const std::string& path,
              const std::array<std::optional<std::string>, kelvara::calc::kSourceCount>& named,
              const std::optional<std::string>& meshName) {
        const kelvara::calc::Expression expression(text);
        kelvara::calc::SourceFiles names;
        for (Source source : kelvara::calc::kSources) {
            const auto& given = named[static_cast<std::size_t>(source)];
            if (given) names.named[static_cast<std::size_t>(source)] = *given;
        }
        if (meshName) names.mesh = *meshName;

        readers_.push_back(std::make_unique<kelvara::DatasetReader>(
            kelvara::DatasetReader::open(path, toConsole)));
        kelvara::DatasetReader& primary = *readers_.front();
        primary.readHeader();
        files_.push_back(path);
        nodes_ = primary.header().nodeCount;
        cells_ = primary.header().cellCount;

        kelvara::calc::QuantityInputs in;
        in.primary = &primary;
        in.messages = toConsole;
        for (Source source : kelvara::calc::kSources) {
            if (!kelvara::calc::reads(expression, source)) continue;
            const std::string name = names.file(source, path);
            auto& reader = in.sources[static_cast<std::size_t>(source)];
            for (std::size_t i = 0; i < files_.size() && reader == nullptr; ++i)
                if (name == files_[i] || kelvara::sameFile(name, files_[i]))
                    reader = readers_[i].get();
            if (reader != nullptr) continue;
            if (!exists(name)) explainMissing(expression, source, path, names, name);
            readers_.push_back(std::make_unique<kelvara::DatasetReader>(
                kelvara::DatasetReader::open(name, toConsole)));
            readers_.back()->readHeader();
            files_.push_back(name);
            reader = readers_.back().get();
        }
        if (kelvara::calc::readsMesh(expression)) {
            const std::string name = names.meshFile(path);
            if (!exists(name)) {
                const std::string why =
                    "calc reads z (bed elevation) from the mesh of the run of " + path;
                if (meshName)
                    missing(name, why + ", named with mesh=.",
                            "Give mesh= the name of the run's mesh.");
                missing(name, why + ", looked for beside it.",
                        "Put the run's mesh there under that name (" +
                            kelvara::CompanionResolver().rule(kelvara::CompanionFile::Mesh, path) +
                            "), or name it with mesh=.");
            }
            readMesh(name);
            files_.push_back(name);
            in.bed = bed_.data();
        }
        steps_ = std::make_unique<kelvara::calc::QuantitySteps>(expression, in);
    }

    static void explainMissing(const kelvara::calc::Expression& expression, Source source,
                               const std::string& path, const kelvara::calc::SourceFiles& names,
                               const std::string& name) {
        const std::string keyword = std::string(keywordOf(source)) + "=";
        const std::string what = kelvara::calc::sourceWhat(source);
        const std::string why = "calc reads " + kelvara::calc::namesReading(expression, source) +
                                " from the " + what + " of the run of " + path;
        if (names.isNamed(source))
            missing(name, why + ", named with " + keyword + ".",
                    "Give " + keyword + " the name of the run's " + what + ".");
        missing(name, why + ", looked for beside it.",
                "Put the run's " + what + " there under that name (" +
                    kelvara::CompanionResolver().rule(kelvara::calc::companionOf(source), path) +
                    "), or name it with " + keyword + ".");
    }

    void readMesh(const std::string& name) {
        const auto nodes = static_cast<std::size_t>(nodes_);
        const auto cells = static_cast<std::size_t>(cells_);
        bed_.resize(nodes);
        std::array<kelvara::Table<std::int32_t>, 4> corners;
        for (auto& c : corners) c.resize(cells);
        const int unit = kelvara::OPENFILEUNIT("I ", name);
        try {
            kelvara::readMeshElevations(kelvara::unitStream(unit), name, toConsole, bed_.data(),
                                        nodes_, corners[0].data(), corners[1].data(),
                                        corners[2].data(), corners[3].data(), cells_);
        } catch (...) {
            kelvara::CLOSEFILEUNIT(unit);
            throw;
        }
        kelvara::CLOSEFILEUNIT(unit);
    }

    void release() {
        steps_.reset();
        readers_.clear();
        kelvara::Table<float>().swap(bed_);
    }

    CoreCall call_;
    std::vector<std::unique_ptr<kelvara::DatasetReader>> readers_;  // [0]: the run's dataset
    std::vector<std::string> files_;  // the files read, the run's dataset first
    kelvara::Table<float> bed_;
    std::unique_ptr<kelvara::calc::QuantitySteps> steps_;
    std::int32_t nodes_ = 0, cells_ = 0;
    bool warned_ = false;
    bool noStepsTold_ = false;
};

}  // namespace

void registerCalc(py::module_& m, CoreCall call) {
    py::class_<Calculation>(m, "Calculation",
                            "A quantity computed step by step (kelvara.calc wraps it).")
        .def(py::init([call](const std::string& expression, const std::string& path,
                             const std::optional<std::string>& depth,
                             const std::optional<std::string>& level,
                             const std::optional<std::string>& velocity,
                             const std::optional<std::string>& mesh) {
                 return std::make_unique<Calculation>(call, expression, path, depth, level,
                                                      velocity, mesh);
             }),
             py::arg("expression"), py::arg("path"), py::arg("depth") = py::none(),
             py::arg("level") = py::none(), py::arg("velocity") = py::none(),
             py::arg("mesh") = py::none(),
             "Checks the expression and opens the run's dataset and what the expression reads.")
        .def_property_readonly("nodes", &Calculation::nodes, "Number of nodes.")
        .def_property_readonly("cells", &Calculation::cells, "Number of cells.")
        .def_property_readonly("files", &Calculation::files,
                               "The files read, the run's dataset first.")
        .def_property_readonly("not_a_number", &Calculation::notANumber,
                               "Values stored as not a number so far.")
        .def_property_readonly("closed", &Calculation::closed, "True once closed.")
        .def("next_step", &Calculation::nextStep,
             "(time, flags, values) of the next output time, or None after the last one.")
        .def("close", &Calculation::close, "Closes the files.");
}

}  // namespace kelvara_python
