// The single pass over the inputs (-con, -k, -r, -trim, -va) and the times listing (-times).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

#include "fileio/console.h"
#include "fileio/error.h"
#include "fileio/units.h"
#include "steps/flow_angle.h"
#include "tool/operations.h"
#include "steps/pick.h"
#include "steps/step_times.h"
#include "util/numbers.h"

namespace kelvara {
namespace {

// Nodes per block of the trimming loop.
constexpr std::size_t kBlock = 256;

// The step choice of -k and -r, the same for every input; without either every step is written.
// -k and -r name the steps within 0.001 of their time, as the times listing prints them.
bool isStepWritten(const Operation& o, float t) {
    switch (o.steps) {
    case StepChoice::All: return true;
    case StepChoice::Keep: return matchesGivenTime(o.time, t);
    case StepChoice::Remove:
        return !matchesGivenTime(o.time, t) && !(o.removeAllMaxTimes && std::fabs(t) > 99998.0f);
    }
    return true;
}

constexpr float kInfinity = std::numeric_limits<float>::infinity();

// Trims one vector of magnitude m (VECTOR_MAGNITUDE) to the cutoff c (not below zero): the
// ordinary vectors exactly as the block loop below does, and those it cannot scale. A vector of
// magnitude 0 stays as it is; one whose squares overflow is scaled by its larger component
// first; an infinite one becomes the cutoff along its axis (or its diagonal).
void trimVector(float& x, float& y, float m, float c) {
    if (!(m >= c)) return;
    if (m == 0.0f) return;
    if (m != kInfinity) {
        const float scale = c / m;
        x *= scale;
        y *= scale;
        return;
    }
    if (std::isinf(x) || std::isinf(y)) {
        const float along = std::isinf(x) && std::isinf(y) ? c * 0.70710678f : c;
        x = std::isinf(x) ? std::copysign(along, x) : 0.0f;
        y = std::isinf(y) ? std::copysign(along, y) : 0.0f;
        return;
    }
    const float larger = std::max(std::fabs(x), std::fabs(y));
    const float sx = x / larger;
    const float sy = y / larger;
    const float length = std::sqrt(sx * sx + sy * sy);
    x = c * (sx / length);
    y = c * (sy / length);
}

// Trims the values of nodes [begin, end) of the step just read to the cutoff.
void trimValues(RunState& run, float cutoff, std::size_t begin, std::size_t end) {
    float* x = run.values1.data();
    float* y = run.values2.data();
    const float c = cutoff;  // a copy, which no store in the loops can be taken to change
    if (!run.primary.isVector) {
        for (std::size_t i = begin; i < end; ++i) x[i] = x[i] >= c ? c : x[i];
        return;
    }
    // Block by block: the magnitudes, then every vector at or above the cutoff keeps its
    // direction at magnitude cutoff (the others are stored as they were).
    float magnitude[kBlock];
    for (std::size_t start = begin; start < end; start += kBlock) {
        const std::size_t count = std::min(kBlock, end - start);
        float* __restrict bx = x + start;
        float* __restrict by = y + start;
        VECTOR_MAGNITUDES(bx, by, magnitude, count);
        unsigned unusual = 0;
        for (std::size_t i = 0; i < count; ++i)
            unusual |= (magnitude[i] >= c) & ((magnitude[i] == 0.0f) | (magnitude[i] == kInfinity));
        if (unusual != 0) {
            for (std::size_t i = 0; i < count; ++i) trimVector(bx[i], by[i], magnitude[i], c);
            continue;
        }
        for (std::size_t i = 0; i < count; ++i) {
            const bool over = magnitude[i] >= c;
            const float scale = c / magnitude[i];
            bx[i] = pick(over, bx[i] * scale, bx[i]);
            by[i] = pick(over, by[i] * scale, by[i]);
        }
    }
}

// Replaces the vectors of nodes [begin, end) of the step just read by their flow angles.
void flowAngles(RunState& run, std::size_t begin, std::size_t end) {
    float* x = run.values1.data();
    FLOW_ANGLES(x + begin, run.values2.data() + begin, x + begin, end - begin);
}

}  // namespace

void runSinglePass(RunState& run) {
    const RunOptions& options = *run.options;
    const Operation& o = options.operation;
    std::int64_t writtenSteps = 0;
    std::int64_t droppedSteps = 0;
    for (int i = 1; i <= options.fileCount; ++i) {
        consoleLine();
        consoleLine("Processing file: " + run.inputName(i));
        // Steps that are not written are passed over without reading their values. -k writes
        // one time out of many: there the flags too are read only for the steps written (those
        // in force at a step, which may be an earlier step's).
        const auto written = [&o](float t) { return isStepWritten(o, t); };
        const auto flags =
            o.steps == StepChoice::Keep ? RunState::Flags::Defer : RunState::Flags::Read;
        // -trim and -va transform the values as they arrive.
        const PieceWork transform = [&run, &o](std::size_t, std::size_t begin, std::size_t end) {
            if (o.transform == ValueTransform::Trim) {
                trimValues(run, o.cutoff, begin, end);
            } else {
                flowAngles(run, begin, end);
            }
        };
        const bool transforms = o.transform != ValueTransform::None;
        while (run.readStep(i, written, flags, transforms ? &transform : nullptr)) {
            if (!written(run.time)) {
                ++droppedSteps;
                continue;
            }
            ++writtenSteps;
            run.takeDeferredFlags();
            // Pairs when the output is a vector dataset (vectors, unless -va made them angles).
            run.output->writeStep(run.time, run.active.data(), run.values1.data(),
                                  run.values2.data());
        }
    }
    // A time that names no step is a mistake in the time, not an empty result.
    std::string inputs = run.inputName(1);
    for (int i = 2; i <= options.fileCount; ++i) inputs += ", " + run.inputName(i);
    if (o.steps == StepChoice::Keep && writtenSteps == 0) {
        throw errorLine(noStepAtTimeError(o.time, inputs));
    }
    if (o.steps == StepChoice::Remove && droppedSteps == 0) {
        consoleLine();
        consoleLine("WARNING - " + inputs + " has no time step at " + timeText(o.time) +
                    ": nothing was removed.");
    }
}

void runTimesListing(RunState& run) {
    consoleLine();
    consoleLine("Reading times from file: " + run.inputName(1));
    std::FILE* out = run.timesFile;
    // Only the times are needed: every step's flags and values are passed over.
    while (run.readStep(1, [](float) { return false; }, RunState::Flags::PassOver)) {
        if (out != nullptr) std::fprintf(out, "%s\n", formatFixed(run.time, 15, 3).c_str());
        ++run.timesListed;
    }
}

}  // namespace kelvara
