// -ddur<cutoff> -t<time>: the difference in inundation duration between two runs. Three passes
// over each run:
//   1. each run's peak up to the -t time, and per node the lower of the two peaks;
//   2. per node the reference level: the highest value at the -t time of a run whose flood has
//      fallen by more than the cutoff below that lower peak;
//   3. per run the time each node stays at or above reference level + cutoff.
// The output is one step at 111111.0: run 1's duration minus run 2's (0.0 where no reference
// level was found).
//
// Tables: DurationDifferenceTables.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fileio/console.h"
#include "fileio/error.h"
#include "fileio/workers.h"
#include "fileio/units.h"
#include "tool/operations.h"
#include "steps/pick.h"
#include "steps/step_times.h"
#include "util/numbers.h"

namespace kelvara {
namespace {

constexpr float kNotSet = -99999.0f;
constexpr float kSetThreshold = -99998.0f;
constexpr float kTimeLimit = 99998.0f;
constexpr float kOutputTime = 111111.0f;

// An ordinary output time: not one of the special times that summarise a run.
bool isOrdinaryTime(float t) { return std::fabs(t) < kTimeLimit; }

// Rewinds input i and reads its header again (into the primary header, which input 2 shares).
void restartInput(RunState& run, int i) {
    const DatasetHeader before = run.primary;
    run.input(i).rewind();
    run.primary = run.input(i).readHeader(run.inputName(i), before);
    // The tables were sized from the first reading: a file that changed since is not read on.
    if (run.primary.nodeCount != before.nodeCount || run.primary.cellCount != before.cellCount) {
        throw errorLine("ERROR - " + run.inputName(i) + " changed while it was being read.");
    }
}

// Each entry of peak becomes the value where that is higher.
void keepHigher(std::size_t n, const float* __restrict v, float* __restrict peak) {
    for (std::size_t k = 0; k < n; ++k) peak[k] = pick(v[k] > peak[k], v[k], peak[k]);
}

void findPeaks(RunState& run, int i, float* peak) {
    const float endTime = run.options->operation.time;
    const std::int32_t nodes = run.nodeCount();
    consoleLine();
    consoleLine("Processing file: " + run.inputName(i));
    // Steps after the -t time are passed over without reading their values (vectors are read,
    // to be refused below). This pass has no use for the flags: they are deferred.
    const auto used = [&run, endTime](float t) {
        return run.primary.isVector || (t <= endTime && isOrdinaryTime(t));
    };
    while (run.readStep(i, used, RunState::Flags::Defer)) {
        if (run.primary.isVector) {
            throw errorLine("ERROR - Vector data set can not be used for the -ddur option");
        }
        if (!(run.time <= endTime && isOrdinaryTime(run.time))) continue;
        keepHigher(static_cast<std::size_t>(nodes), run.values1.data(), peak);
    }
}

void findLevels(RunState& run, DurationDifferenceTables& t, int i) {
    const float* lowerPeak = t.lowerPeak.data();
    float* level = t.level.data();
    const Operation& o = run.options->operation;
    const std::int32_t nodes = run.nodeCount();
    const std::int32_t cells = run.cellCount();
    restartInput(run, i);
    consoleLine();
    consoleLine("Processing file: " + run.inputName(i));
    // Only the step at the -t time is read; the others are passed over, and the flags are read
    // only for that step (those in force at it, which may be an earlier step's).
    const auto atTime = [&o](float t) { return matchesGivenTime(o.time, t); };
    bool found = false;
    while (run.readStep(i, atTime, RunState::Flags::Defer)) {
        if (!atTime(run.time)) continue;
        found = true;
        run.takeDeferredFlags();
        const float* v = run.values1.data();
        for (std::int32_t n = 0; n < nodes; ++n) {
            // The flood has fallen by more than the cutoff below the lower of the two peaks.
            if (lowerPeak[n] - v[n] > o.cutoff && v[n] > level[n]) level[n] = v[n];
        }
        // A cell is active in the output only when it is active at the time in both runs.
        std::int8_t* out = t.outActive.data();
        const std::int8_t* in = run.active.data();
        // Any flag but 0 is active; the output's flags are 1 or 0.
        if (i == 1) {
            for (std::int32_t c = 0; c < cells; ++c) out[c] = in[c] != 0 ? 1 : 0;
        } else {
            for (std::int32_t c = 0; c < cells; ++c)
                out[c] = static_cast<std::int8_t>((out[c] != 0) & (in[c] != 0));
        }
    }
    // Without a step at the time the run has no level to compare: the difference would be
    // that of the other run alone.
    if (!found) {
        throw errorLine(noStepAtTimeError(o.time, run.inputName(i)));
    }
}

// Part of an interval of length dt in which the straight line from p to v lies at or above
// limit. Both crossing fractions are computed and the one that applies is picked; a value that
// is not a number compares as below the limit.
inline float durationIncrement(float dt, float p, float v, float limit) {
    const bool previousAbove = p >= limit;
    const bool currentAbove = v >= limit;
    const float rising = dt * (v - limit) / (v - p);
    const float falling = dt * (p - limit) / (p - v);
    return pick(previousAbove, pick(currentAbove, dt, falling), pick(currentAbove, rising, 0.0f));
}

// One interval for a block of n nodes: each node's increment is added to its duration and kept
// in increment, and its value becomes the previous one. A node without a level gains 0.0, which
// leaves its duration as it is; its previous value is never used. Returns whether any increment
// is other than zero.
bool addIntervalBlock(std::size_t n, float dt, float cutoff, const float* __restrict level,
                      const float* __restrict v, float* __restrict previous,
                      float* __restrict duration, float* __restrict increment) {
    unsigned nonZero = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const bool measured = level[k] > kSetThreshold;
        const float add =
            pick(measured, durationIncrement(dt, previous[k], v[k], level[k] + cutoff), 0.0f);
        duration[k] += add;
        increment[k] = add;
        previous[k] = v[k];
        nonZero |= add != 0.0f;
    }
    return nonZero != 0;
}

// Adds one interval to every node and returns the sum of the increments, added in node order.
// The increments of a block of nodes are worked out together, then summed one by one, leaving
// out the zeros and blocks of zeros only (adding zero leaves the sum as it is, since a sum that
// starts at +0 never becomes -0).
float addInterval(std::size_t nodes, float dt, float cutoff, const float* level, const float* v,
                  float* previous, float* duration) {
    constexpr std::size_t kBlock = 256;
    float increment[kBlock];
    float sum = 0.0f;
    for (std::size_t start = 0; start < nodes; start += kBlock) {
        const std::size_t n = std::min(kBlock, nodes - start);
        if (!addIntervalBlock(n, dt, cutoff, level + start, v + start, previous + start,
                              duration + start, increment)) {
            continue;
        }
        for (std::size_t k = 0; k < n; ++k)
            if (increment[k] != 0.0f) sum += increment[k];
    }
    return sum;
}

// Fills t.duration with the time each node of input i stays at or above its level + cutoff.
void measureDurations(RunState& run, DurationDifferenceTables& t, int i) {
    const float* level = t.level.data();
    const float cutoff = run.options->operation.cutoff;
    const std::int32_t nodes = run.nodeCount();
    float* duration = t.duration.data();
    float* previous = t.previous.data();
    fillInParts(t.duration.data(), t.duration.size(), 0.0f);

    restartInput(run, i);
    consoleLine();
    consoleLine("Calculating durations from file: " + run.inputName(i));
    DatasetReader& reader = run.input(i);
    if (!reader.hasStep()) {
        throw Error({"ERROR - No data in .dat file"});
    }
    // This pass and the output have no use for the cells' flags: they are passed over. Steps
    // that are not measured are passed over whole.
    float previousTime = 0.0f;
    StepRequest passFlags;
    passFlags.flags = FlagReading::PassOver;
    previousTime = reader.nextStep({nullptr, previous, run.values2.data()}, passFlags).time;
    const auto measured = [&previousTime](float t) {
        return isOrdinaryTime(t) && isOrdinaryTime(previousTime);
    };
    while (run.readStep(i, measured, RunState::Flags::PassOver)) {
        if (!measured(run.time)) continue;
        if (!timeIncreases(previousTime, run.time)) {
            // The step starts the next interval, but this one is not measured.
            consoleLine(intervalNotMeasuredWarning(previousTime, run.time));
            std::copy(run.values1.begin(), run.values1.end(), previous);
            previousTime = run.time;
            continue;
        }
        const float dt = run.time - previousTime;
        const float sum = addInterval(static_cast<std::size_t>(nodes), dt, cutoff, level,
                                      run.values1.data(), previous, duration);
        // The average is over all nodes, not only the measured ones.
        consoleLine("...Duration Increment =" + formatFixed(dt, 5, 2) +
                    "   Average duration of all nodes =" +
                    formatFixed(sum / static_cast<float>(nodes), 5, 2) + "h");
        previousTime = run.time;
    }
}

}  // namespace

void runDurationDifference(RunState& run) {
    const Operation& o = run.options->operation;
    const std::int32_t nodes = run.nodeCount();
    const auto count = static_cast<std::size_t>(nodes);
    DurationDifferenceTables t;
    sizeTables([&] {
        t.peak1.resize(count);
        t.lowerPeak.resize(count);
        t.level.resize(count);
        t.duration.resize(count);
        t.firstDuration.resize(count);
        t.previous.resize(count);
        t.outActive.resize(static_cast<std::size_t>(run.cellCount()));
    });
    float* peak1 = t.peak1.data();
    float* peak2 = t.lowerPeak.data();

    consoleLine();
    consoleLine("Determining peak value of two simulations up until time: " +
                formatFixed(o.time, 10, 2));
    fillInParts(peak1, count, kNotSet);
    fillInParts(peak2, count, kNotSet);
    findPeaks(run, 1, peak1);
    findPeaks(run, 2, peak2);
    float* lowerPeak = peak2;  // the lower of the two: run 1's peak when the two are equal
    for (std::int32_t n = 0; n < nodes; ++n) lowerPeak[n] = peak2[n] < peak1[n] ? peak2[n] : peak1[n];

    consoleLine();
    consoleLine("Determining higher value of two simulations at time: " +
                formatFixed(o.time, 10, 2));
    const float* level = t.level.data();
    fillInParts(t.level.data(), count, kNotSet);
    findLevels(run, t, 1);
    findLevels(run, t, 2);

    float* firstDuration = t.firstDuration.data();
    measureDurations(run, t, 1);
    std::copy(t.duration.begin(), t.duration.end(), firstDuration);
    measureDurations(run, t, 2);

    consoleLine("Calculating difference in duration...");
    float* duration = t.duration.data();
    for (std::int32_t n = 0; n < nodes; ++n)
        duration[n] = level[n] > kSetThreshold ? firstDuration[n] - duration[n] : 0.0f;
    run.output->writeStep(kOutputTime, t.outActive.data(), duration, nullptr);
}

}  // namespace kelvara
