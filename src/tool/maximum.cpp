// The maximum (-max): for each node the highest value over every step of every input, and the
// number of the input that reached it. Water levels count only at corners of wet cells.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "fileio/console.h"
#include "fileio/units.h"
#include "fileio/workers.h"
#include "formats/dataset.h"
#include "formats/datatype.h"
#include "formats/mesh.h"
#include "tool/operations.h"
#include "tool/pick.h"
#include "util/path.h"

namespace kelvara {
namespace {

constexpr float kMaximumTime = 111111.0f;
constexpr float kFileNumberTime = 222222.0f;
constexpr float kStageMaximumTime = 99999.1f;

// Steps that are not value steps: those at 99999.1 and the input numbers this operation writes
// at 222222, so that its own output can be fed back in.
bool isSummaryStep(float t) {
    return std::fabs(t - kStageMaximumTime) <= 0.01f || std::fabs(t - kFileNumberTime) <= 0.01f;
}

// Corners and elevations of the mesh that belongs to the first input.
void readMesh(RunState& run) {
    consoleLine("...need to read .2dm file for _h data type");
    run.meshUnit = OPENFILEUNIT("I ", FILENAMEPATHNO_(run.inputName(1)) + ".2dm");
    READ_2DM_ELEVATIONS(run.meshUnit, run.extra[0].data(), run.nodeCount(),
                        run.cellNodes[0].data(), run.cellNodes[1].data(), run.cellNodes[2].data(),
                        run.cellNodes[3].data(), run.cellCount());
    CLOSEFILEUNIT(run.meshUnit);
    run.meshUnit = 0;
}

// Node numbers run from 1. A corner that names no node of the dataset (0 for the missing fourth
// corner of a triangle or for a cell the mesh does not describe, or anything beyond the mesh)
// is set to 0 here, once: the steps then mark it in a sink entry that no node reads.
void dropCornersOutsideTheMesh(RunState& run) {
    const auto nodes = static_cast<std::uint32_t>(run.nodeCount());
    for (auto& corner : run.cellNodes) {
        for (std::int32_t& n : corner) {
            if (static_cast<std::uint32_t>(n) - 1u >= nodes) n = 0;
        }
    }
}

// Marks in wet (one byte per node, entry n for node n, entry 0 a sink for dropped corners) every
// corner of a cell whose flag is 1 in the step just read.
void markWetNodes(const RunState& run, unsigned char* wet) {
    const std::size_t cells = static_cast<std::size_t>(run.cellCount());
    const std::int8_t* active = run.active.data();
    const std::int32_t* first = run.cellNodes[0].data();
    const std::int32_t* second = run.cellNodes[1].data();
    const std::int32_t* third = run.cellNodes[2].data();
    const std::int32_t* fourth = run.cellNodes[3].data();
    std::fill(wet, wet + run.nodeCount() + 1, static_cast<unsigned char>(0));
    for (std::size_t c = 0; c < cells; ++c) {
        if (active[c] != 1) continue;
        wet[first[c]] = 1;
        wet[second[c]] = 1;
        wet[third[c]] = 1;
        wet[fourth[c]] = 1;
    }
}

// The same marks kept up to date from one step to the next: each node counts how many times it
// is a corner of a cell counted as wet (wasWet, one byte per cell), and only the cells whose flag
// changed since the step before are visited; in a flood most cells stay wet or dry from one
// output time to the next. counts holds a 4-byte count per node from node 1 on, all three tables
// start at zero.
void updateWetMarks(const RunState& run, unsigned char* wet, unsigned char* counts,
                    unsigned char* wasWet) {
    const std::size_t cells = static_cast<std::size_t>(run.cellCount());
    const std::int8_t* active = run.active.data();
    const std::int32_t* corners[4] = {run.cellNodes[0].data(), run.cellNodes[1].data(),
                                      run.cellNodes[2].data(), run.cellNodes[3].data()};
    constexpr std::size_t kChunk = 64;
    for (std::size_t start = 0; start < cells; start += kChunk) {
        const std::size_t end = std::min(cells, start + kChunk);
        unsigned changed = 0;
        for (std::size_t c = start; c < end; ++c)
            changed |= static_cast<unsigned>(active[c] == 1) ^ wasWet[c];
        if (changed == 0) continue;
        for (std::size_t c = start; c < end; ++c) {
            const unsigned char now = active[c] == 1 ? 1 : 0;
            if (now == wasWet[c]) continue;
            wasWet[c] = now;
            for (const std::int32_t* corner : corners) {
                const std::int32_t node = corner[c];
                if (node == 0) continue;  // a dropped corner
                unsigned char* slot = counts + 4 * static_cast<std::size_t>(node - 1);
                std::uint32_t count;
                std::memcpy(&count, slot, sizeof count);
                count = now == 1 ? count + 1 : count - 1;
                std::memcpy(slot, &count, sizeof count);
                wet[node] = count != 0 ? 1 : 0;
            }
        }
    }
}

// Comparisons are strict, so equal values keep the earlier file; a value that is not a number
// never compares greater and so never becomes a maximum.
//
// The nodes go in blocks, and a block where no value is greater is left as it is without
// writing it again: once the flood has passed its peak that is most of them.
constexpr std::size_t kBlock = 1024;
// Nodes at least, per part of the work shared out over the cores.
constexpr std::size_t kPartNodes = 64 * 1024;
static_assert(kBlock <= 1024 && 1024 % kBlock == 0, "pieces of a step start on block boundaries");

// Whether any of n wet values is greater than the one kept.
bool anyGreaterWet(std::size_t n, const unsigned char* __restrict wet,
                   const float* __restrict v, const float* __restrict maximum) {
    unsigned any = 0;
    for (std::size_t k = 0; k < n; ++k) any |= (wet[k] != 0) & (v[k] > maximum[k]);
    return any != 0;
}

void keepGreaterWet(std::size_t n, std::int32_t file, const unsigned char* __restrict wet,
                    const float* __restrict v, float* __restrict maximum,
                    std::int32_t* __restrict fileOf) {
    for (std::size_t k = 0; k < n; ++k) {
        const bool greater = (wet[k] != 0) & (v[k] > maximum[k]);
        maximum[k] = pick(greater, v[k], maximum[k]);
        fileOf[k] = greater ? file : fileOf[k];
    }
}

void updateWetNodes(RunState& run, std::int32_t file, const unsigned char* wet) {
    const std::size_t nodes = static_cast<std::size_t>(run.nodeCount());
    const unsigned char* wetNode = wet + 1;
    const float* v = run.values1.data();
    float* maximum = run.result1.data();
    std::int32_t* fileOf = run.fileOfMaximum.data();
    forEachPart(nodes, kBlock, kPartNodes, [&](std::size_t, std::size_t begin, std::size_t end) {
        for (std::size_t start = begin; start < end; start += kBlock) {
            const std::size_t n = std::min(kBlock, end - start);
            if (!anyGreaterWet(n, wetNode + start, v + start, maximum + start)) continue;
            keepGreaterWet(n, file, wetNode + start, v + start, maximum + start, fileOf + start);
        }
    });
}

// Where v is greater, v and file are kept.
void keepGreater(std::size_t n, std::int32_t file, const float* __restrict v,
                 float* __restrict maximum, std::int32_t* __restrict fileOf) {
    for (std::size_t k = 0; k < n; ++k) {
        const bool greater = v[k] > maximum[k];
        maximum[k] = pick(greater, v[k], maximum[k]);
        fileOf[k] = greater ? file : fileOf[k];
    }
}

// Whether any of n values is greater than the one kept.
bool anyGreater(std::size_t n, const float* __restrict v, const float* __restrict kept) {
    unsigned any = 0;
    for (std::size_t k = 0; k < n; ++k) any |= v[k] > kept[k];
    return any != 0;
}

// The scalar nodes [begin, end) of the step just read (begin and end on block boundaries, or
// end the last node).
void updateScalars(RunState& run, std::int32_t file, std::size_t begin, std::size_t end) {
    const float* v = run.values1.data();
    float* maximum = run.result1.data();
    std::int32_t* fileOf = run.fileOfMaximum.data();
    for (std::size_t start = begin; start < end; start += kBlock) {
        const std::size_t n = std::min(kBlock, end - start);
        if (!anyGreater(n, v + start, maximum + start)) continue;
        keepGreater(n, file, v + start, maximum + start, fileOf + start);
    }
}

// Where the magnitude of the step's vector is greater than the one kept, the vector, its
// magnitude and file are kept.
void keepGreaterVectors(std::size_t n, std::int32_t file, const float* __restrict stepMagnitude,
                        const float* __restrict x, const float* __restrict y,
                        float* __restrict kept, float* __restrict keptX, float* __restrict keptY,
                        std::int32_t* __restrict fileOf) {
    for (std::size_t k = 0; k < n; ++k) {
        const bool greater = stepMagnitude[k] > kept[k];
        kept[k] = pick(greater, stepMagnitude[k], kept[k]);
        keptX[k] = pick(greater, x[k], keptX[k]);
        keptY[k] = pick(greater, y[k], keptY[k]);
        fileOf[k] = greater ? file : fileOf[k];
    }
}

// magnitude holds the magnitude of the vector kept so far, so that it is computed once per
// change rather than once per step. Block by block: the magnitudes of the step, then the nodes
// where it is greater take its vector (the others are stored as they were).
// The vector nodes [begin, end) of the step just read, as updateScalars.
void updateVectors(RunState& run, std::int32_t file, float* magnitude, std::size_t begin,
                   std::size_t end) {
    float stepMagnitude[kBlock];
    for (std::size_t start = begin; start < end; start += kBlock) {
        const std::size_t n = std::min(kBlock, end - start);
        const float* x = run.values1.data() + start;
        const float* y = run.values2.data() + start;
        VECTOR_MAGNITUDES(x, y, stepMagnitude, n);
        if (!anyGreater(n, stepMagnitude, magnitude + start)) continue;
        keepGreaterVectors(n, file, stepMagnitude, x, y, magnitude + start,
                           run.result1.data() + start, run.result2.data() + start,
                           run.fileOfMaximum.data() + start);
    }
}

}  // namespace

void runMaximum(RunState& run) {
    const Operation& o = run.options->operation;
    const int inputs = run.options->fileCount;
    const bool isVector = run.primary.isVector;

    // The maxima (with their vectors' second components), the input numbers and the output's
    // flags start at zero. The tables come zeroed, but are written once here all the same: a
    // fresh page that is first read maps the system's shared zero page and is faulted in a
    // second time at its first write, which on some virtual machines costs more than the pass.
    fillInParts(run.result1.data(), run.result1.size(), 0.0f);
    if (isVector) fillInParts(run.result2.data(), run.result2.size(), 0.0f);
    fillInParts(run.fileOfMaximum.data(), run.fileOfMaximum.size(), 0);
    fillInParts(run.outActive.data(), run.outActive.size(), std::int8_t{0});

    const bool waterLevel =
        IDENTIFY_DATA_TYPE(run.inputName(1), "SMS data type identified as: ").isWaterLevel;
    if (waterLevel) {
        readMesh(run);
        dropCornersOutsideTheMesh(run);
    }

    // Water levels: which nodes touch a wet cell in the step, one byte per node and one for
    // node 0, in the storage of a per-node table this operation has no other use for.
    unsigned char* wet = nullptr;
    if (waterLevel && run.nodeCount() > 0) {
        wet = reinterpret_cast<unsigned char*>(run.extra[1].data());
    }
    // The node counts and the cells' flags of updateWetMarks, in two more such tables when the
    // flags fit (a mesh of at most four cells per node, as every real mesh). All three start at
    // zero (written once, as above).
    unsigned char* wetCounts = nullptr;
    unsigned char* cellWasWet = nullptr;
    const std::size_t nodeTableBytes = run.extra[2].size() * sizeof(float);
    if (wet != nullptr && static_cast<std::size_t>(run.cellCount()) <= nodeTableBytes) {
        wetCounts = reinterpret_cast<unsigned char*>(run.extra[2].data());
        cellWasWet = reinterpret_cast<unsigned char*>(run.extra[3].data());
        fillInParts(wet, static_cast<std::size_t>(run.nodeCount()) + 1, 0);
        fillInParts(wetCounts, nodeTableBytes, 0);
        fillInParts(cellWasWet, static_cast<std::size_t>(run.cellCount()), 0);
    }
    // The magnitude of the kept vector (VECTOR_MAGNITUDE of 0, 0 is 0).
    float* keptMagnitude = nullptr;
    if (isVector && !waterLevel) {
        fillInParts(run.extra[1].data(), run.extra[1].size(), 0.0f);
        keptMagnitude = run.extra[1].data();
    }

    for (int i = 1; i <= inputs; ++i) {
        consoleLine();
        consoleLine("Processing file: " + run.inputName(i));
        // Steps that do not count are passed over without reading their values.
        const auto counts = [&o](float t) {
            return !isSummaryStep(t) && !(o.atTime && !(std::fabs(o.time - t) < 0.001f));
        };
        // Depths and vectors are worked on as their values arrive; water levels wait for the
        // step's flags to be taken into the wet nodes first.
        const PieceWork update = [&run, i, isVector, keptMagnitude](std::size_t, std::size_t b,
                                                                    std::size_t e) {
            if (isVector) {
                updateVectors(run, i, keptMagnitude, b, e);
            } else {
                updateScalars(run, i, b, e);
            }
        };
        while (run.readStep(i, counts, RunState::Flags::Read, waterLevel ? nullptr : &update)) {
            if (!counts(run.time)) continue;
            if (waterLevel) {
                if (wetCounts != nullptr) {
                    updateWetMarks(run, wet, wetCounts, cellWasWet);
                    updateWetNodes(run, i, wet);
                } else if (wet != nullptr) {
                    markWetNodes(run, wet);
                    updateWetNodes(run, i, wet);
                }
            }
            run.mergeActiveIntoOutActive();
        }
    }

    // The output has the inputs' form: pairs (maximum vector) for vectors, values otherwise.
    run.output->writeStep(kMaximumTime, run.outActive.data(), run.result1.data(),
                          run.result2.data());

    // The file numbers as reals, through the step buffers that are no longer needed.
    std::transform(run.fileOfMaximum.begin(), run.fileOfMaximum.end(), run.values1.begin(),
                   [](std::int32_t f) { return static_cast<float>(f); });
    std::fill(run.values2.begin(), run.values2.end(), 0.0f);
    run.output->writeStep(kFileNumberTime, run.outActive.data(), run.values1.data(),
                          run.values2.data());
}

}  // namespace kelvara
