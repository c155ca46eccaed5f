#include "tool/driver.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>
#include <utility>
#include <sys/stat.h>

#include "fileio/console.h"
#include "fileio/error.h"
#include "fileio/platform.h"
#include "fileio/units.h"
#include "fileio/workers.h"
#include "formats/datatype.h"
#include "tool/companions.h"
#include "tool/operations.h"
#include "formats/mesh.h"
#include "util/path.h"
#include "util/text.h"

namespace kelvara {
namespace {


// An input-check failure: the message, a pause, and the end of the run with nothing written.
[[noreturn]] void stopAfterPause(std::vector<std::string> lines) {
    throw Error(std::move(lines), ErrorCode::WrongInput);
}

// The files the output must never replace: the inputs, and the companion water levels that the
// difference reads beside them.
void checkOutputIsNotAnInput(const RunState& run) {
    const RunOptions& o = *run.options;
    const std::string output = CLEANPATH(run.outputName());
    const bool companions = o.shape().readsCompanionLevels;
    const CompanionResolver resolver = o.companions();
    std::vector<std::string> protectedNames;
    for (int i = 1; i <= o.fileCount; ++i) {
        protectedNames.push_back(unitName(run.inputUnits[static_cast<std::size_t>(i)]));
        if (companions)
            protectedNames.push_back(CLEANPATH(resolver.name(CompanionFile::Levels, run.inputName(i))));
    }
    if (!o.meshName.empty()) protectedNames.push_back(CLEANPATH(o.meshName));
    for (const auto& name : protectedNames) {
        if (name.empty()) continue;
        if (name == output || sameFile(name, output)) {
            throw errorLine("ERROR - The output file \"" + output + "\" would replace the input \"" +
                        name + "\". Give the output another name.", ErrorCode::Output);
        }
    }
}

// Bytes of the smallest step a dataset with these counts can hold (a step without flags).
std::int64_t smallestStepBytes(const DatasetHeader& h) {
    return 1 + 4 + std::int64_t{4} * h.nodeCount * (h.isVector ? 2 : 1);
}

// Counts that the file itself contradicts would make the storage absurdly large: a dataset
// whose header announces a step must hold at least one step of its size.
void checkStepFits(RunState& run, int i, const DatasetHeader& h) {
    DatasetReader& reader = run.input(i);
    if (reader.card() == kCardStep && reader.bytesLeft() < smallestStepBytes(h)) {
        throw errorLine("ERROR - " + run.inputName(i) + " is too short for a time step of " +
                        AINTEGER(h.nodeCount) + " nodes and " + AINTEGER(h.cellCount) +
                        " cells: the file is truncated or its header is damaged.",
                        ErrorCode::BadInput);
    }
}

void allocateStorage(RunState& run) {
    const std::size_t nodes = static_cast<std::size_t>(run.nodeCount());
    const std::size_t cells = static_cast<std::size_t>(run.cellCount());
    // What the largest operation needs, 36 bytes per node and 18 per cell, must fit.
    const double needed = 36.0 * static_cast<double>(nodes) + 18.0 * static_cast<double>(cells);
    const double physical = platform::availableMemoryBytes();
    sizeTables([&] {
        if (physical > 0 && needed > physical) throw std::bad_alloc();
        // Listing times passes over every step's flags and values: no table is filled.
        const OperationKind kind = run.options->operation.kind;
        if (kind == OperationKind::ListTimes || kind == OperationKind::Ugrid) return;
        run.active.assign(cells, 1);  // cells count as active until a step supplies flags
        // The arrival map reads each step into a table of its own; values2 holds the second
        // components of vectors (inputs other than the first that may differ in form are read
        // into the operation's own tables).
        if (kind != OperationKind::Arrival) run.values1.resize(nodes);
        if (run.primary.isVector) run.values2.resize(nodes);
    });
}

void runOperation(RunState& run) {
    // Stopped with the usage text before any file when no operation was given.
    if (const RunFunction function = operationEntry(run.options->operation.kind).run)
        function(run);
}

// The last line of a finished run: what it wrote, where.
std::string writtenSummary(const RunState& run) {
    const std::string where = CLEANPATH(run.outputName());
    if (!run.written.empty()) return run.written;
    if (run.output) return run.output->summary();
    return "Wrote " + where + ": " + AINTEGER(static_cast<int>(run.timesListed)) +
           (run.timesListed == 1 ? " time." : " times.");
}

// The mesh of a grid drawn from the steps of another operation (a .tif output), read when the
// grid is drawn, as -grid reads it; or of a NetCDF file (.nc), read when it begins.
void readGridMesh(const std::string& name, MeshGeometry& mesh, std::int32_t nodes,
                  std::int32_t cells, const char* what = "the grid") {
    consoleLine();
    consoleLine(std::string("...need to read .2dm file for ") + what);
    const int unit = OPENFILEUNIT("I ", name);
    READ_2DM_GEOMETRY(unit, nodes, cells, mesh);
    CLOSEFILEUNIT(unit);
}

// The sink of the run's output, by its extension, its file unit opened for a dataset.
void openOutput(RunState& run) {
    const RunOptions& options = *run.options;
    const SinkType* type = findSink(run.outputName());
    if (type == nullptr) {  // refused with the command line; a name given at a prompt aside
        throw errorLine("ERROR - kelvara cannot write " + run.outputName() +
                        ": an output ends in " + knownSinkExtensions() + ".", ErrorCode::Usage);
    }
    consoleLine(std::string(type->what) + ": " + run.outputName());
    SinkSetup setup;
    setup.output = run.outputName();
    setup.messages = [](const std::string& line) { consoleLine(line); };
    if (type->meshFor != nullptr) {
        const CompanionResolver resolver = options.companions();
        setup.cellSize = options.outputCellSize;
        setup.thresholds = options.operation.thresholds;
        setup.meshName = CLEANPATH(resolver.name(CompanionFile::Mesh, run.inputName(1)));
        setup.referenceName = resolver.name(CompanionFile::Reference, run.inputName(1));
        const std::string mesh = setup.meshName;
        const char* what = type->meshFor;
        setup.readMesh = [mesh, what](MeshGeometry& m, std::int32_t nodes, std::int32_t cells) {
            readGridMesh(mesh, m, nodes, cells, what);
        };
        setup.referenceTime = options.referenceTime;
        setup.deflateLevel = options.deflateLevel;
        setup.primaryInput = run.inputName(1);
        setup.holdsInputQuantity = options.shape().output == OutputForm::LikeInput;
    } else {
        run.outputUnit = OPENFILEUNIT("BO", run.outputName());
        setup.stream = unitStream(run.outputUnit);
        setup.streamName = unitName(run.outputUnit);
    }
    run.output = type->make(setup);
}

// The flag that names an operation whose inputs must hold one quantity; empty for the others.
std::string oneKindFlag(const Operation& o) {
    switch (o.kind) {
    case OperationKind::Maximum: return "-max";
    case OperationKind::Difference: return "-dif";
    case OperationKind::DurationDifference: return "-ddur";
    case OperationKind::SinglePass: return o.concatenate ? "-con" : "";
    default: return "";
    }
}

// The quantities the inputs' names tell (datatype.h), checked against the operation before any
// file is opened: -hazard takes depths, then velocities; the inputs of -max, -dif, -ddur and
// -con hold one quantity. A name that tells no quantity is taken as it is. A velocity file named
// for -hazard that is not of the depths' run is warned of.
void checkInputKinds(const RunOptions& o) {
    const auto name = [&o](int i) -> const std::string& {
        return o.fileNames[static_cast<std::size_t>(i)];
    };
    if (o.operation.kind == OperationKind::Hazard && o.fileCount == 2) {
        const DataKind depth = dataKindOf(name(1));
        const DataKind speed = dataKindOf(name(2));
        if (depth == DataKind::Velocity && o.velocitiesBesideDepths) {
            throw errorLine("ERROR - " + name(1) + " holds " + dataKindText(depth) +
                            ": -hazard takes the depths first (" + FILENAMEPATHNO_(name(1)) +
                            "_d.dat), then the velocities, which it finds beside the depths "
                            "when they are not named.");
        }
        if ((depth != DataKind::Unknown && depth != DataKind::Depth) ||
            (speed != DataKind::Unknown && speed != DataKind::Velocity)) {
            throw errorLine("ERROR - -hazard takes a run's depths (_d) first, then its velocities "
                            "(_V): " + name(1) + " holds " + dataKindText(depth) + ", " +
                            name(2) + " " + dataKindText(speed) + ".");
        }
        const std::string depthStem = LOWERCASE(FILENAMENO_(name(1)));
        const std::string speedStem = LOWERCASE(FILENAMENO_(name(2)));
        if (!o.velocitiesBesideDepths && depthStem != speedStem) {
            consoleLine();
            consoleLine("WARNING - " + name(2) + " is not of the run of " + name(1) + " (stems \"" +
                        FILENAMENO_(name(2)) + "\" and \"" + FILENAMENO_(name(1)) +
                        "\"): the depths of one run are measured with the velocities of another.");
        }
        return;
    }
    const std::string flag = oneKindFlag(o.operation);
    if (flag.empty()) return;
    int first = 0;
    DataKind kind = DataKind::Unknown;
    for (int i = 1; i <= o.fileCount; ++i) {
        const DataKind k = dataKindOf(name(i));
        if (k == DataKind::Unknown) continue;
        if (first == 0) {
            first = i;
            kind = k;
        } else if (k != kind) {
            throw errorLine("ERROR - " + name(first) + " holds " + dataKindText(kind) + " but " +
                            name(i) + " holds " + dataKindText(k) + ": " + flag +
                            " takes inputs of one quantity.");
        }
    }
}

std::string fileLine(int i, const std::string& name) {
    char number[16];
    std::snprintf(number, sizeof number, "%3d", i);
    return "   File" + std::string(number) + ": " + name;
}

}  // namespace

void explainMissingCompanion(const std::string& name, const std::string& why,
                             const std::string& how) {
    struct stat st {};
    if (::stat(CLEANPATH(name).c_str(), &st) == 0) return;
    const std::string what = CLEANPATH(name) + " cannot be found: " + why;
    if (consoleBatch()) throw Error({"", "ERROR - " + what}, ErrorCode::MissingFile, how);
    consoleLine();
    consoleLine(what);
    consoleLine(how);
}

void toConsole(const std::string& line) { consoleLine(line); }

namespace {

// The bytes of an input unit of the run's table, fetched from the table at every use: the
// table may have closed the file while the input waited, and reopens it where it was.
class UnitSource final : public ByteSource {
public:
    UnitSource(FileTable::Units* table, int unit) : table_(table), unit_(unit) {}
    std::size_t read(void* data, std::size_t size) override {
        return std::fread(data, 1, size, file());
    }
    bool failed() const override {
        std::FILE* f = openUnitStreamIn(table_, unit_);
        return f == nullptr || std::ferror(f) != 0;
    }
    bool atEnd() override {
        std::FILE* f = file();
        const int c = std::getc(f);
        if (c == EOF) return true;
        std::ungetc(c, f);
        return false;
    }
    std::int64_t position() override {
        const off_t here = ftello(file());
        return here < 0 ? -1 : static_cast<std::int64_t>(here);
    }
    bool seek(std::int64_t at) override {
        return fseeko(file(), static_cast<off_t>(at), SEEK_SET) == 0;
    }
    std::int64_t size() override {
        std::FILE* f = file();
        const off_t here = ftello(f);
        if (here < 0 || fseeko(f, 0, SEEK_END) != 0) return -1;
        const off_t end = ftello(f);
        fseeko(f, here, SEEK_SET);
        return static_cast<std::int64_t>(end);
    }
    bool canReadAt() const override { return platform::readAtSupported(); }
    // From worker threads, during a step whose start was read on the run's thread: the file is
    // open then.
    std::int64_t readAt(void* data, std::size_t size, std::int64_t at) override {
        std::FILE* f = openUnitStreamIn(table_, unit_);
        return f == nullptr ? -1 : platform::readAt(f, data, size, at);
    }

private:
    std::FILE* file() {
        std::FILE* f = unitStreamIn(table_, unit_);
        if (f == nullptr) throw errorLine("ERROR - File unit " + std::to_string(unit_) + " is not open.",
                                          ErrorCode::Internal);
        return f;
    }

    FileTable::Units* table_;
    int unit_;
};

}  // namespace

std::unique_ptr<DatasetReader> readerOfUnit(int unit) {
    return std::make_unique<DatasetReader>(std::make_unique<UnitSource>(currentFileTable(), unit),
                                           unitName(unit),
                                           [](const std::string& line) { consoleLine(line); });
}

bool RunState::readStep(int i) {
    return readStep(i, [](float) { return true; });
}

bool RunState::readStep(int i, const std::function<bool(float)>& wanted, Flags flags,
                        const PieceWork* onValues) {
    DatasetReader& reader = input(i);
    if (!reader.hasStep()) return false;
    // time is set as soon as the step's time is read, before its values arrive: the work on
    // the values as they arrive may use it.
    const std::function<bool(float)> timeRead = [this, &wanted](float t) {
        time = t;
        return wanted(t);
    };
    StepRequest request;
    request.wanted = &timeRead;
    request.flags = flags;
    request.onValues = onValues;
    const StepRead step = reader.nextStep(
        {flags == Flags::PassOver ? nullptr : active.data(), values1.data(), values2.data()},
        request);
    // Flags read now replace any deferred ones; deferred ones replace those before.
    if (step.hasFlags && flags != Flags::PassOver)
        deferredFlags = reader.hasDeferredFlags() ? &reader : nullptr;
    return true;
}

void RunState::mergeActiveInto(Table<std::int8_t>& flags) const {
    const std::size_t cells = static_cast<std::size_t>(cellCount());
    const std::int8_t* in = active.data();
    std::int8_t* out = flags.data();
    forEachPart(cells, 4096, 256 * 1024, [&](std::size_t, std::size_t begin, std::size_t end) {
        const std::int8_t* __restrict a = in + begin;
        std::int8_t* __restrict o = out + begin;
        // Any flag but 0 is active, and the merged flags are 1 or 0. Every entry is stored, so
        // that the loop runs on whole vectors of flags.
        for (std::size_t c = 0; c < end - begin; ++c)
            o[c] = static_cast<std::int8_t>(o[c] | (a[c] != 0));
    });
}

void sizeTables(const std::function<void()>& size) {
    try {
        size();
    } catch (const std::bad_alloc&) {
        throw errorLine("ERROR - Could not allocate enough memory (RAM).", ErrorCode::Memory);
    }
}

void RunState::takeDeferredFlags() {
    if (deferredFlags == nullptr) return;
    deferredFlags->readDeferredFlags(active.data());
    deferredFlags = nullptr;
}

bool BUILD_OUTPUT_NAME(RunOptions& o) {
    if (o.operation.kind == OperationKind::None) {
        o.showUsage = true;
        return false;
    }
    return true;  // the names were completed with the command line
}

int RUN_DRIVER(RunOptions& options, RunContext& context) {
    RunState run;
    run.options = &options;
    run.context = &context;
    if (options.shape().readsItsOwnInputs) {
        operationEntry(options.operation.kind).run(run);
        return 0;
    }
    const int count = options.fileCount;
    run.inputUnits.assign(static_cast<std::size_t>(count) + 1, 0);
    run.inputs.resize(static_cast<std::size_t>(count) + 1);

    consoleLine();
    consoleLine("KORVEN .dat Files:");
    for (int i = 1; i <= count; ++i) consoleLine(fileLine(i, run.inputName(i)));
    checkInputKinds(options);
    if (options.velocitiesBesideDepths) {
        explainMissing(options.companions(), CompanionFile::Velocities, run.inputName(1),
                       {"-hazard measures the depths of " + run.inputName(1) +
                            " with the velocities of the same run",
                        "the run's velocity file",
                        ", or name it after the depths: kelvara -hazard " + run.inputName(1) +
                            " velocities.dat",
                        "them"});
    }

    for (int i = 1; i <= count; ++i)
        run.inputUnits[static_cast<std::size_t>(i)] = OPENFILEUNIT("BI", run.inputName(i));
    for (int i = 1; i <= count; ++i) {
        const int unit = run.inputUnits[static_cast<std::size_t>(i)];
        if (unitName(unit).empty()) {
            throw errorLine("ERROR - " + run.inputName(i) +
                            " was closed while another input was opened; name each input once.");
        }
        run.inputs[static_cast<std::size_t>(i)] = readerOfUnit(unit);
        // A name given at the missing-file prompt replaces the one typed on the command line,
        // so that the output is named after the file actually read.
        const std::string& opened = unitName(unit);
        if (!opened.empty() && CLEANPATH(run.inputName(i)) != opened) {
            options.fileNames[static_cast<std::size_t>(i)] = opened;
            if (i == 1 || options.shape().lastNameNamesOutput) {
                options.fileNames[0] = options.shape().outputName;
            }
        }
    }
    checkOutputIsNotAnInput(run);
    const OutputForm form = options.shape().output;  // the input names are settled
    if (options.operation.kind == OperationKind::Grid) {
        explainMissing(options.companions(), CompanionFile::Mesh, run.inputName(1),
                       {"-grid draws the values of " + run.inputName(1) + " on the mesh of its run",
                        "the run's mesh"});
    } else if (const SinkType* type = findSink(run.outputName());
               form != OutputForm::TimesText && type != nullptr && type->meshFor != nullptr) {
        explainMissing(options.companions(), CompanionFile::Mesh, run.inputName(1),
                       {type->meshReasonStart + run.outputName() + type->meshReasonEnd +
                            run.inputName(1), "the run's mesh"});
    }

    consoleLine();
    if (form == OutputForm::Grid) {
        // The grid writer makes its file itself, under a hidden name until it is complete.
        consoleLine("Output Grid File: " + run.outputName());
    } else if (form == OutputForm::Netcdf) {  // written by the run's own conversion
        consoleLine("Output NetCDF File: " + run.outputName());
    } else if (form == OutputForm::TimesText) {
        consoleLine("Output Times File: " + run.outputName());
        run.outputUnit = OPENFILEUNIT("O ", run.outputName());
        run.timesFile = unitStream(run.outputUnit);
    } else {
        openOutput(run);
    }
    if (run.outputUnit != 0) markRunOutput(run.outputUnit);

    RUN_OPERATION(run);

    // A console that can no longer be written fails the run before its output is put in place.
    consoleFlush();
    if (run.output) run.output->land();
    for (int i = 1; i <= count; ++i) CLOSEFILEUNIT(run.inputUnits[static_cast<std::size_t>(i)]);
    if (run.outputUnit != 0) CLOSEFILEUNIT(run.outputUnit);
    consoleLine();
    consoleLine("Finished.");
    consoleLine(writtenSummary(run));
    if (!options.batch) pauseForUser();
    consoleFlush();
    return 0;
}

void RUN_OPERATION(RunState& run) {
    const RunOptions& options = *run.options;
    const int count = options.fileCount;
    run.primary = run.input(1).readHeader(run.inputName(1));
    checkStepFits(run, 1, run.primary);
    if (options.operation.transform == ValueTransform::FlowAngle && !run.primary.isVector) {
        stopAfterPause({"", "ERROR - .dat file must be a vector file for -va option"});
    }
    if (options.operation.kind == OperationKind::Hazard && run.primary.isVector) {
        stopAfterPause({"", "ERROR - " + run.inputName(1) +
                                " is a vector dataset: -hazard takes the depths first, then the "
                                "velocities."});
    }
    const bool shareForm = options.shape().inputsShareForm;
    if (count > 1) {
        consoleLine();
        consoleLine("Checking that .dat files have same number nodes and cells...");
        for (int i = 2; i <= count; ++i) {
            run.second = run.input(i).readHeader(run.inputName(i), run.primary);
            if (run.second.nodeCount != run.primary.nodeCount ||
                run.second.cellCount != run.primary.cellCount) {
                stopAfterPause({"ERROR - Number nodes and/or cells in " + run.inputName(i) +
                                " not the same as in primary .dat file."});
            }
            if (shareForm && run.second.isVector != run.primary.isVector) {
                stopAfterPause({"ERROR - " + run.inputName(i) +
                                " is not the same vector or scalar format as in primary .dat file."});
            }
            checkStepFits(run, i, run.second);
        }
    }

    consoleLine();
    consoleLine("Allocating RAM for a mesh of " + AINTEGER(run.nodeCount()) + " nodes and " +
                AINTEGER(run.cellCount()) + " cells...");
    allocateStorage(run);

    if (run.output) {
        SinkStart start;
        start.nodeCount = run.nodeCount();
        start.cellCount = run.cellCount();
        start.vectors = writesVectors(options.operation, run.primary.isVector);
        start.steps = options.shape().steps;
        run.output->begin(start);
    }
    runOperation(run);
    if (run.output) run.output->end();
}

}  // namespace kelvara
