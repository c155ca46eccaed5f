// The duration (-dur<cutoff>): for each node the hours its value stays at or above the cutoff,
// the value taken to vary linearly between consecutive steps.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fileio/console.h"
#include "formats/dataset.h"
#include "tool/operations.h"
#include "tool/pick.h"
#include "util/numbers.h"

namespace kelvara {
namespace {

constexpr float kDurationTime = 111111.0f;
constexpr float kSpecialTimeLimit = 99998.0f;

// Times of summary steps (maxima, file numbers) lie at or beyond the limit; a time that is not a
// number cannot be measured from either.
bool isOrdinaryTime(float t) { return std::fabs(t) < kSpecialTimeLimit; }

// The node values of the step just read: scalars as they are, vectors as magnitudes (in
// values1, which the next read replaces anyway).
const float* stepValues(RunState& run) {
    if (!run.primary.isVector) return run.values1.data();
    const std::size_t nodes = static_cast<std::size_t>(run.nodeCount());
    float* x = run.values1.data();
    const float* y = run.values2.data();
    VECTOR_MAGNITUDES(x, y, x, nodes);
    return x;
}

// Time at or above the cutoff c within an interval of length dt whose ends hold p and v.
// A value that is not a number counts as below the cutoff; when the crossing cannot be placed
// (an end not a number, or both ends infinite) the interval adds nothing. Both crossing
// fractions are computed and the one that applies is chosen, so that a loop of these runs on
// whole vectors of nodes.
inline float durationIncrement(float dt, float p, float v, float c) {
    const bool nowAbove = v >= c;
    const bool wasAbove = p >= c;
    const float rising = dt * (v - c) / (v - p);
    const float falling = dt * (p - c) / (p - v);
    const float crossed =
        pick(nowAbove, pick(wasAbove, dt, rising), pick(wasAbove, falling, 0.0f));
    return pick(crossed != crossed, 0.0f, crossed);  // not a number: nothing
}

// Adds one interval to every node and returns the sum of the increments, added in node order.
// The nodes go in blocks: the increments of a block are worked out together, then summed one by
// one, leaving out the zeros (dry nodes) and blocks of zeros only: adding zero leaves the sum as
// it is, since a sum that starts at +0 never becomes -0.
float addInterval(RunState& run, float dt, const float* v, float cutoff) {
    const std::size_t nodes = static_cast<std::size_t>(run.nodeCount());
    float* __restrict total = run.result1.data();
    float* __restrict previous = run.result2.data();
    const float* __restrict value = v;
    constexpr std::size_t kBlock = 256;
    float increment[kBlock];
    float sum = 0.0f;
    for (std::size_t start = 0; start < nodes; start += kBlock) {
        const std::size_t n = std::min(kBlock, nodes - start);
        float* __restrict t = total + start;
        float* __restrict p = previous + start;
        const float* __restrict now = value + start;
        unsigned nonZero = 0;
        for (std::size_t k = 0; k < n; ++k) {
            const float add = durationIncrement(dt, p[k], now[k], cutoff);
            increment[k] = add;
            p[k] = now[k];
            t[k] += add;
            nonZero |= add != 0.0f;
        }
        if (nonZero != 0) {
            // Dry and wet nodes come in runs, so the test is well predicted.
            for (std::size_t k = 0; k < n; ++k)
                if (increment[k] != 0.0f) sum += increment[k];
        }
    }
    return sum;
}

}  // namespace

void runDuration(RunState& run) {
    const RunOptions& o = *run.options;
    const std::int32_t nodes = run.nodeCount();
    // The durations and the output's flags start at zero. The tables come zeroed, but are
    // written once here all the same: a fresh page that is first read maps the system's shared
    // zero page and is faulted in a second time at its first write.
    std::fill(run.result1.begin(), run.result1.end(), 0.0f);
    std::fill(run.outActive.begin(), run.outActive.end(), std::int8_t{0});

    // The first step primes the previous time and values; it adds no duration. A first step
    // at a special time could never be measured from, so the first ordinary step primes instead.
    // Steps at special times are passed over without reading their values.
    if (!run.readStep(1, isOrdinaryTime)) {
        consoleLine();
        consoleLine("ERROR - " + run.inputName(1) + " holds no time step.");
        FATALSTOP();
    }
    bool primed = false;
    float previousTime = 0.0f;
    auto prime = [&]() {
        const float* v = stepValues(run);
        std::copy(v, v + nodes, run.result2.begin());
        previousTime = run.time;
        primed = true;
    };
    if (isOrdinaryTime(run.time)) prime();

    consoleLine();
    consoleLine("Processing file: " + run.inputName(1));

    while (run.readStep(1, isOrdinaryTime)) {
        const float t = run.time;
        if (!isOrdinaryTime(t)) continue;
        if (!primed) {
            prime();
            continue;
        }
        const float dt = t - previousTime;
        const float sum = addInterval(run, dt, stepValues(run), o.cutoff);
        const float average = nodes > 0 ? sum / static_cast<float>(nodes) : 0.0f;
        consoleLine("...Duration Increment =" + formatFixed(dt, 5, 2) + "   Average duration of all nodes =" +
                    formatFixed(average, 5, 2) + "h");
        run.mergeActiveIntoOutActive();
        previousTime = t;
    }

    WRITE_DAT_STEP(run.outputUnit, false, kDurationTime, nodes, run.cellCount(),
                   run.outActive.data(), run.result1.data(), run.result2.data());
}

}  // namespace kelvara
