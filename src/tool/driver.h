// The run driver: names the output, opens and checks the files, allocates the run's storage
// once, hands over to one operation and finishes the output.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/dataset.h"
#include "tool/options.h"

namespace kelvara {

struct RunState {
    const RunOptions* options = nullptr;

    // The primary (first) input's header, and that of the input being compared with it.
    DatasetHeader primary;
    DatasetHeader second;

    // Entry i for input i (entry 0 unused): its unit and the card its reader last read.
    std::vector<int> inputUnits;
    std::vector<std::int32_t> inputCards;
    int outputUnit = 0;
    int meshUnit = 0;

    // Storage allocated once from the primary header; indices from 0.
    std::array<std::vector<std::int32_t>, 4> cellNodes;  // corners; the fourth 0 for triangles
    std::vector<std::int32_t> fileOfMaximum;             // per node
    std::vector<std::int8_t> active;                     // per cell: flags of the step just read
    std::vector<std::int8_t> outActive;                  // per cell: flags written by some results
    std::vector<float> values1, values2;                 // per node: the step just read
    std::vector<float> result1, result2;                 // per node: accumulated results
    std::array<std::vector<float>, 4> extra;             // per node: per-file values, elevations
    float time = 0.0f;                                   // time of the step just read

    const std::string& inputName(int i) const { return options->fileNames[static_cast<std::size_t>(i)]; }
    const std::string& outputName() const { return options->fileNames[0]; }
    std::int32_t nodeCount() const { return primary.nodeCount; }
    std::int32_t cellCount() const { return primary.cellCount; }

    // Reads the next step of input i into active, values1, values2 and time, if it has one.
    // Returns false when the input has no more steps.
    bool readStep(int i);

    // A cell active in the step just read becomes active in outActive.
    void mergeActiveIntoOutActive() {
        const std::size_t cells = static_cast<std::size_t>(cellCount());
        for (std::size_t c = 0; c < cells; ++c)
            if (active[c] > outActive[c]) outActive[c] = active[c];
    }
};

// Builds the output name (entry 0 of fileNames). Returns false when no operation was given.
bool BUILD_OUTPUT_NAME(RunOptions& options);

// The whole run after the command line has been read; returns the exit status.
int RUN_DRIVER(RunOptions& options);

}  // namespace kelvara
