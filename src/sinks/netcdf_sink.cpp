// The .nc sink: the steps of any operation whose output is a dataset, with the run's mesh and
// coordinate reference, in one NetCDF file by the UGRID conventions (src/netcdf/). Ordinary
// steps go on the time axis; the steps the operation says what they hold, and the summary steps
// (99999, 111111, 100001, ...: any time beyond 99998 either way), get variables of their own
// without a time axis. The mesh is read when the output begins; then one step at a time.
#include <memory>
#include <set>
#include <string>

#include "fileio/error.h"
#include "netcdf/ugrid.h"
#include "sinks/sink.h"
#include "util/path.h"
#include "util/text.h"

namespace kelvara {
namespace {

// The variable of a step the operation describes: a short name that stays the same whatever
// the description says (which becomes the variable's long name).
std::string variableNameOf(const OutputStep& step, bool inputQuantity) {
    if (step.time == 111111.0f) return inputQuantity ? "maximum" : "hours";
    if (step.time == 222222.0f) return "input_number";
    const std::string fixed = netcdf::summaryNameFor(step.time);
    if (fixed.rfind("at_", 0) != 0) return fixed;
    const std::string described = netcdf::stepNameFor(step.description);
    return described.empty() ? fixed : described;
}

// A time as a console line shows it: "0", "99999", "1.5".
std::string trimmedTime(float time) {
    std::string text = AREAL(time);
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

netcdf::StepContent contentOf(StepKind kind) {
    switch (kind) {
    case StepKind::InputNumbers: return netcdf::StepContent::Numbers;
    case StepKind::Classes: return netcdf::StepContent::Classes;
    default: return netcdf::StepContent::Values;
    }
}

class NetcdfSink : public StepSink {
public:
    explicit NetcdfSink(const SinkSetup& s) : setup_(s) {}

    void begin(const SinkStart& start) override {
        // A dataset without flags says nothing of the cells: the mesh's own count is taken.
        const std::int32_t cells = start.cellCount > 0 ? start.cellCount
                                                       : netcdf::countMesh(setup_.meshName).cells;
        setup_.readMesh(mesh_, start.nodeCount, cells);
        if (mesh_.meshNodeCount != start.nodeCount || mesh_.meshCellCount != cells) {
            throw errorLine("ERROR - Cannot write \"" + CLEANPATH(setup_.output) + "\": its steps have " +
                            AINTEGER(start.nodeCount) + " nodes and " + AINTEGER(start.cellCount) +
                            " cells, the mesh " + setup_.meshName + " " +
                            AINTEGER(mesh_.meshNodeCount) + " nodes and " +
                            AINTEGER(mesh_.meshCellCount) + " cells.");
        }

        netcdf::UgridOptions options;
        options.meshName = FILENAME(setup_.meshName);
        if (!setup_.referenceTime.empty()) options.referenceTime = setup_.referenceTime;
        if (setup_.deflateLevel >= 0) options.deflateLevel = setup_.deflateLevel;
        options.crsWkt = netcdf::readReferenceWkt(setup_.referenceName);
        if (options.crsWkt.empty()) {
            say("");
            say("WARNING - No coordinate reference (" + setup_.referenceName +
                "): the file has none.");
        }
        writer_ = std::make_unique<netcdf::UgridWriter>(setup_.output, mesh_, options);

        netcdf::DatasetDescription dataset;
        const std::string& input = setup_.primaryInput;
        dataset.source = FILENAME(input) + FILEEXT(input);
        if (setup_.holdsInputQuantity) {
            dataset.dataType = FILE___EXT(input);
            dataset.name = netcdf::variableNameFor(dataset.dataType, input);
        } else {
            // A quantity of the operation's own (angles, differences, hours, classes): its
            // steps' variables are named after what they hold alone.
            dataset.dataType = "XX";
            dataset.name = "value";
            dataset.longName = "values of " + FILENAME(setup_.output);
            dataset.prefixSteps = false;
        }
        dataset.vector = start.vectors;
        dataset.hasFlags = start.cellCount > 0;
        for (const OutputStep& step : start.steps) {
            // Steps at times the operation does not know in advance (-dif's) stay on the time
            // axis.
            if (step.time == kEveryOtherStep) continue;
            netcdf::NamedStep named;
            named.time = step.time;
            named.name = variableNameOf(step, setup_.holdsInputQuantity);
            named.description = step.description;
            named.content = contentOf(step.kind);
            named.categories = step.categories;
            dataset.namedSteps.push_back(named);
        }
        dataset_ = writer_->addDataset(dataset);
        nodes_ = start.nodeCount;
        cells_ = cells;
    }

    void writeStep(float time, const std::int8_t* active, const float* values1,
                   const float* values2) override {
        // Steps of several inputs (-con of runs that each start at 0 h) may share a time; the
        // file holds one step a time, and the fault is the output's, not its first input's.
        if (!timesSeen_.insert(time).second) {
            throw errorLine("ERROR - Cannot write \"" + CLEANPATH(setup_.output) +
                            "\": two steps of the output are at time " + trimmedTime(time) +
                            ", and a NetCDF file holds one step a time (write a .dat instead).");
        }
        writer_->appendStep(dataset_, time, active, values1, values2);
        ++steps_;
    }

    void end() override {}

    void land() override { writer_->close(); }

    std::string summary() const override {
        const std::size_t times = writer_->times().size();
        const int apart = steps_ - static_cast<int>(times);
        return "Wrote " + CLEANPATH(setup_.output) + ": the mesh (" + AINTEGER(nodes_) +
               " nodes, " + AINTEGER(cells_) + " cells), " + AINTEGER(static_cast<int>(times)) +
               (times == 1 ? " time" : " times") + " and " + AINTEGER(apart) +
               (apart == 1 ? " step" : " steps") + " without a time axis.";
    }

private:
    void say(const std::string& line) const {
        if (setup_.messages) setup_.messages(line);
    }

    SinkSetup setup_;
    MeshGeometry mesh_;
    std::unique_ptr<netcdf::UgridWriter> writer_;
    int dataset_ = -1;
    int steps_ = 0;
    std::set<float> timesSeen_;
    std::int32_t nodes_ = 0, cells_ = 0;
};

}  // namespace

std::unique_ptr<StepSink> makeNetcdfSink(const SinkSetup& setup) {
    return std::make_unique<NetcdfSink>(setup);
}

}  // namespace kelvara
