// The maximum (-max): for each node the highest value over every step of every input, and the
// number of the input that reached it. Water levels count only at corners of wet cells.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "fileio/console.h"
#include "fileio/error.h"
#include "fileio/units.h"
#include "fileio/workers.h"
#include "formats/dataset.h"
#include "formats/datatype.h"
#include "formats/mesh.h"
#include "tool/companions.h"
#include "tool/operations.h"
#include "steps/pick.h"
#include "steps/step_times.h"
#include "util/path.h"

namespace kelvara {
namespace {

constexpr float kMaximumTime = 111111.0f;
constexpr float kFileNumberTime = 222222.0f;
constexpr float kStageMaximumTime = 99999.1f;
// Start of a scalar maximum: a value counts as set only above it.
constexpr float kNoValueYet = -99998.0f;

// Steps that are not value steps: those at 99999.1 and the input numbers this operation writes
// at 222222, so that its own output can be fed back in.
bool isSummaryStep(float t) {
    return std::fabs(t - kStageMaximumTime) <= 0.01f || std::fabs(t - kFileNumberTime) <= 0.01f;
}

// Corners and elevations of the mesh that belongs to the first input.
void readMesh(RunState& run, MeshTables& mesh) {
    consoleLine("...need to read .2dm file for _h data type");
    const std::string meshName = explainMissing(
        run.options->companions(), CompanionFile::Mesh, run.inputName(1),
        {"-max of water levels counts only the nodes of wet cells, which it takes from the mesh "
         "of " + run.inputName(1), "the run's mesh"});
    run.meshUnit = OPENFILEUNIT("I ", meshName);
    READ_2DM_ELEVATIONS(run.meshUnit, mesh.elevation.data(), run.nodeCount(),
                        mesh.corners[0].data(), mesh.corners[1].data(), mesh.corners[2].data(),
                        mesh.corners[3].data(), run.cellCount());
    CLOSEFILEUNIT(run.meshUnit);
    run.meshUnit = 0;
}

// Node numbers run from 1. A corner that names no node of the dataset (0 for the missing fourth
// corner of a triangle or for a cell the mesh does not describe, or anything beyond the mesh)
// is set to 0 here, once: the steps then mark it in a sink entry that no node reads.
void dropCornersOutsideTheMesh(const RunState& run, MeshTables& mesh) {
    const auto nodes = static_cast<std::uint32_t>(run.nodeCount());
    for (auto& corner : mesh.corners) {
        for (std::int32_t& n : corner) {
            if (static_cast<std::uint32_t>(n) - 1u >= nodes) n = 0;
        }
    }
}

// Marks in wetNode (entry n for node n, entry 0 a sink for dropped corners) every corner of a
// cell active (flag not 0) in the step just read, kept up to date from one step to the next: each
// node counts how many times it is a corner of a cell counted as wet (cellWasWet), and only the
// cells whose flag changed since the step before are visited; in a flood most cells stay wet or
// dry from one output time to the next. All three tables start at zero.
void updateWetMarks(const RunState& run, MaximumTables& t) {
    const std::size_t cells = static_cast<std::size_t>(run.cellCount());
    const std::int8_t* active = run.active.data();
    unsigned char* wet = t.wetNode.data();
    std::uint32_t* counts = t.wetCorners.data();
    unsigned char* wasWet = t.cellWasWet.data();
    const std::int32_t* corners[4] = {t.mesh.corners[0].data(), t.mesh.corners[1].data(),
                                      t.mesh.corners[2].data(), t.mesh.corners[3].data()};
    constexpr std::size_t kChunk = 64;
    for (std::size_t start = 0; start < cells; start += kChunk) {
        const std::size_t end = std::min(cells, start + kChunk);
        unsigned changed = 0;
        for (std::size_t c = start; c < end; ++c)
            changed |= static_cast<unsigned>(active[c] != 0) ^ wasWet[c];
        if (changed == 0) continue;
        for (std::size_t c = start; c < end; ++c) {
            const unsigned char now = active[c] != 0 ? 1 : 0;
            if (now == wasWet[c]) continue;
            wasWet[c] = now;
            for (const std::int32_t* corner : corners) {
                const std::int32_t node = corner[c];
                if (node == 0) continue;  // a dropped corner
                std::uint32_t& count = counts[static_cast<std::size_t>(node - 1)];
                count = now == 1 ? count + 1 : count - 1;
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

void updateWetNodes(RunState& run, MaximumTables& t, std::int32_t file) {
    const std::size_t nodes = static_cast<std::size_t>(run.nodeCount());
    const unsigned char* wetNode = t.wetNode.data() + 1;
    const float* v = run.values1.data();
    float* maximum = t.maximum.data();
    std::int32_t* fileOf = t.inputOfMaximum.data();
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
void updateScalars(RunState& run, MaximumTables& t, std::int32_t file, std::size_t begin,
                   std::size_t end) {
    const float* v = run.values1.data();
    float* maximum = t.maximum.data();
    std::int32_t* fileOf = t.inputOfMaximum.data();
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
void updateVectors(RunState& run, MaximumTables& t, std::int32_t file, std::size_t begin,
                   std::size_t end) {
    float* magnitude = t.keptMagnitude.data();
    float stepMagnitude[kBlock];
    for (std::size_t start = begin; start < end; start += kBlock) {
        const std::size_t n = std::min(kBlock, end - start);
        const float* x = run.values1.data() + start;
        const float* y = run.values2.data() + start;
        VECTOR_MAGNITUDES(x, y, stepMagnitude, n);
        if (!anyGreater(n, stepMagnitude, magnitude + start)) continue;
        keepGreaterVectors(n, file, stepMagnitude, x, y, magnitude + start,
                           t.maximum.data() + start, t.maximumY.data() + start,
                           t.inputOfMaximum.data() + start);
    }
}

}  // namespace

void runMaximum(RunState& run) {
    const Operation& o = run.options->operation;
    const int inputs = run.options->fileCount;
    const bool isVector = run.primary.isVector;
    const auto nodes = static_cast<std::size_t>(run.nodeCount());
    const auto cells = static_cast<std::size_t>(run.cellCount());

    const bool waterLevel =
        IDENTIFY_DATA_TYPE(run.inputName(1), "SMS data type identified as: ", toConsole).isWaterLevel;
    // Every table starts at zero (the input numbers, the output's flags, the vectors kept and
    // the wet marks) but two. A scalar maximum starts below every set value (a value counts as
    // set above -99998), so that values below zero, water levels below datum, are kept as they
    // are; nodes that never get a value are given 0.0 at the end. The kept vector's magnitude
    // starts below zero, so that the first vector, a zero vector included, is kept with its
    // input number.
    MaximumTables t;
    sizeTables([&] {
        t.maximum.resize(nodes);
        t.inputOfMaximum.resize(nodes);
        t.outActive.resize(cells);
        if (isVector) t.maximumY.resize(nodes);
        if (isVector && !waterLevel) t.keptMagnitude.resize(nodes);
        if (waterLevel) {
            t.mesh.size(nodes, cells);
            t.wetNode.resize(nodes + 1);
            t.wetCorners.resize(nodes);
            t.cellWasWet.resize(cells);
        }
    });
    if (!isVector) fillInParts(t.maximum.data(), t.maximum.size(), kNoValueYet);
    if (!t.keptMagnitude.empty())
        fillInParts(t.keptMagnitude.data(), t.keptMagnitude.size(), -1.0f);
    if (waterLevel) {
        readMesh(run, t.mesh);
        dropCornersOutsideTheMesh(run, t.mesh);
    }

    for (int i = 1; i <= inputs; ++i) {
        consoleLine();
        consoleLine("Processing file: " + run.inputName(i));
        // Steps that do not count are passed over without reading their values.
        const auto counts = [&o](float t) {
            return !isSummaryStep(t) && !(o.atTime && !matchesGivenTime(o.time, t));
        };
        // Depths and vectors are worked on as their values arrive; water levels wait for the
        // step's flags to be taken into the wet nodes first.
        const PieceWork update = [&run, &t, i, isVector](std::size_t, std::size_t b,
                                                         std::size_t e) {
            if (isVector) {
                updateVectors(run, t, i, b, e);
            } else {
                updateScalars(run, t, i, b, e);
            }
        };
        bool used = false;
        while (run.readStep(i, counts, RunState::Flags::Read, waterLevel ? nullptr : &update)) {
            if (!counts(run.time)) continue;
            used = true;
            if (waterLevel && nodes > 0) {
                updateWetMarks(run, t);
                updateWetNodes(run, t, i);
            }
            run.mergeActiveInto(t.outActive);
        }
        if (o.atTime && !used) {
            throw errorLine(noStepAtTimeError(o.time, run.inputName(i)));
        }
    }
    // Nodes that never had a value keep 0.0 and input number 0.
    if (!isVector) {
        float* maximum = t.maximum.data();
        const std::int32_t* fileOf = t.inputOfMaximum.data();
        forEachPart(nodes, kBlock, kPartNodes, [&](std::size_t, std::size_t begin, std::size_t end) {
            for (std::size_t n = begin; n < end; ++n) maximum[n] = fileOf[n] == 0 ? 0.0f : maximum[n];
        });
    }

    // The output has the inputs' form: pairs (maximum vector) for vectors, values otherwise.
    run.output->writeStep(kMaximumTime, t.outActive.data(), t.maximum.data(),
                          t.maximumY.data());

    // The input numbers as reals, through the step buffers that are no longer needed.
    std::transform(t.inputOfMaximum.begin(), t.inputOfMaximum.end(), run.values1.begin(),
                   [](std::int32_t f) { return static_cast<float>(f); });
    std::fill(run.values2.begin(), run.values2.end(), 0.0f);
    run.output->writeStep(kFileNumberTime, t.outActive.data(), run.values1.data(),
                          run.values2.data());
}

}  // namespace kelvara
