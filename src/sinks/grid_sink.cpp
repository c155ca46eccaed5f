// The .tif sink: the steps of any operation drawn on a grid over the mesh (src/grid/), each as
// the operation declares it (values, classes, input numbers, coded differences: grid.h,
// bandsOfStep). The steps are written as a dataset to a work file as they come, and drawn from
// it at the end, when their bands and the largest class (the file's data type) are known: one
// step in memory at a time.
#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <vector>

#include "fileio/error.h"
#include "fileio/output_file.h"
#include "grid/grid.h"
#include "sinks/sink.h"
#include "util/path.h"
#include "util/text.h"

namespace kelvara {
namespace {

class GridSink : public StepSink {
public:
    explicit GridSink(const SinkSetup& s) : setup_(s) {}

    void begin(const SinkStart& start) override {
        if (!grid::available()) {
            throw errorLine("ERROR - This build of kelvara cannot write grids: " +
                            grid::whyUnavailable() + ".");
        }
        start_ = start;
        steps_ = std::make_unique<OutputFile>(setup_.output + ".dat");
        std::FILE* file = steps_->open() ? std::fopen(steps_->workPath().c_str(), "wb") : nullptr;
        if (file == nullptr) {
            throw errorLine("ERROR - Could not write the grid " + setup_.output +
                            ": its work file cannot be created beside it: " +
                            std::strerror(errno), ErrorCode::Output);
        }
        writer_ = std::make_unique<DatasetWriter>(fileSink(file, true), setup_.output);
        writer_->writeHeader(start.nodeCount, start.cellCount, start.vectors, setup_.output);
    }

    void writeStep(float time, const std::int8_t* active, const float* values1,
                   const float* values2) override {
        const std::vector<grid::BandSpec> bands = grid::bandsOfStep(time, start_.steps);
        if (bands.front().kind == grid::BandKind::Classes) {
            for (std::int32_t n = 0; n < start_.nodeCount; ++n) {
                const float x = values1[n], y = values2 != nullptr ? values2[n] : 0.0f;
                const float v = y == 0.0f ? x : std::hypot(x, y);
                if (std::isfinite(v)) largestClass_ = std::max(largestClass_, v);
            }
        }
        bands_.insert(bands_.end(), bands.begin(), bands.end());
        writer_->writeStep(time, active, values1, values2);
    }

    void end() override {
        writer_->writeEnd();
        writer_.reset();  // closes the work file
        if (bands_.empty()) throw errorLine("ERROR - There is no step to write to the grid.");
        setup_.readMesh(mesh_, start_.nodeCount, start_.cellCount);
        grid::GridRequest request;
        request.meshPath = setup_.meshName;
        request.prjPath = setup_.referenceName;
        request.outputPath = setup_.output;
        request.cellSize = setup_.cellSize;

        DatasetReader reader = DatasetReader::open(steps_->workPath());
        const DatasetHeader header = reader.readHeader(setup_.output);
        const auto nodes = static_cast<std::size_t>(header.nodeCount);
        std::vector<std::int8_t> active(static_cast<std::size_t>(header.cellCount), 1);
        std::vector<float> values1(nodes), values2(header.isVector ? nodes : 0);
        try {
            std::vector<std::string> warnings;
            grid_ = std::make_unique<grid::GridWriter>(mesh_, request, header.nodeCount,
                                                       header.cellCount, header.isVector, bands_,
                                                       largestClass_, warnings);
            for (const auto& line : warnings) {
                say("");
                say(line);
            }
            say("");
            say("Grid: " + AINTEGER(static_cast<int>(grid_->columns())) + " columns by " +
                AINTEGER(static_cast<int>(grid_->rows())) + " rows, cell size " +
                std::string(trimRight(AREAL(static_cast<float>(setup_.cellSize)))));
            while (reader.hasStep()) {
                reader.nextStep({active.data(), values1.data(), values2.data()});
                grid_->addStep(active.data(), values1.data(),
                               header.isVector ? values2.data() : nullptr);
            }
        } catch (const grid::GridError& e) {
            throw grid::asRunError(e);
        }
    }

    void land() override {
        try {
            grid_->finish();
        } catch (const grid::GridError& e) {
            throw grid::asRunError(e);
        }
        steps_->drop();
    }

    std::string summary() const override {
        const int bands = grid_->bandCount();
        return "Wrote " + CLEANPATH(setup_.output) + ": " + AINTEGER(bands) +
               (bands == 1 ? " band" : " bands") + " of " +
               AINTEGER(static_cast<int>(grid_->columns())) + " by " +
               AINTEGER(static_cast<int>(grid_->rows())) + " cells.";
    }

private:
    void say(const std::string& line) const {
        if (setup_.messages) setup_.messages(line);
    }

    SinkSetup setup_;
    SinkStart start_;
    std::unique_ptr<OutputFile> steps_;  // the steps as a dataset, until they are drawn
    std::unique_ptr<DatasetWriter> writer_;
    MeshGeometry mesh_;
    std::unique_ptr<grid::GridWriter> grid_;
    std::vector<grid::BandSpec> bands_;  // of the steps given so far
    float largestClass_ = 0.0f;          // in the steps of classes
};

}  // namespace

std::unique_ptr<StepSink> makeGridSink(const SinkSetup& setup) {
    return std::make_unique<GridSink>(setup);
}

}  // namespace kelvara
