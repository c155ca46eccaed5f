// The tables of a run, named for what they hold in each operation family (the allocator that
// gives them is in fileio/table_memory.h). Tables are sized once per run, from the primary
// input's counts, and indexed from 0.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "fileio/table_memory.h"

namespace kelvara {

// Sizes tables in size(); a run that cannot have them stops with the memory error.
void sizeTables(const std::function<void()>& size);

// The mesh of a dataset (".2dm"): ground elevation per node, corner nodes per cell (the fourth
// 0 for triangles).
struct MeshTables {
    Table<float> elevation;
    std::array<Table<std::int32_t>, 4> corners;
    void size(std::size_t nodes, std::size_t cells) {
        elevation.resize(nodes);
        for (auto& c : corners) c.resize(cells);
    }
};

// -max: per node the maximum (of vectors: the vector kept, its magnitude) and the input that
// gave it; for water levels the mesh and which nodes touch a wet cell.
struct MaximumTables {
    Table<float> maximum;             // the value, or the kept vector's first component
    Table<float> maximumY;            // vectors: the kept vector's second component
    Table<float> keptMagnitude;       // vectors: the kept vector's magnitude
    Table<std::int32_t> inputOfMaximum;
    Table<std::int8_t> outActive;     // per cell: active in any step counted
    MeshTables mesh;                  // water levels
    Table<unsigned char> wetNode;     // water levels: entry n for node n, entry 0 a sink
    Table<std::uint32_t> wetCorners;  // water levels: per node, corners of wet cells it is
    Table<unsigned char> cellWasWet;  // water levels: per cell, counted wet in wetCorners
};

// -dur: per node the hours at or above the cutoff, the previous step's values and the
// increments of the step just measured.
struct DurationTables {
    Table<float> duration;
    Table<float> previous;
    Table<float> increments;
    Table<std::int8_t> outActive;  // per cell: active in any step measured
};

// -dif: per node each run's value at its current step, water level and ground elevation.
struct DifferenceTables {
    Table<float> value1, value2;
    Table<float> level1, level2;    // of a run that is not a water level itself
    Table<float> ground1, ground2;
    Table<std::int8_t> firstFlags;  // per cell: the first run's flags, then the output's
    MeshTables mesh;                // the corners the mesh reader fills (unused)
};

// -ddur: per node each run's peak up to the -t time (the second becoming the lower of the two),
// the reference level, the durations of the run measured and of the first run, the previous
// values.
struct DurationDifferenceTables {
    Table<float> peak1, lowerPeak;
    Table<float> level;
    Table<float> duration, firstDuration;
    Table<float> previous;
    Table<std::int8_t> outActive;  // per cell: active at the -t time in both runs
};

}  // namespace kelvara
