// The duration (-dur<cutoff>): for each node the hours its value stays at or above the cutoff,
// the value taken to vary linearly between consecutive steps.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "fileio/console.h"
#include "fileio/error.h"
#include "fileio/workers.h"
#include "formats/dataset.h"
#include "tool/operations.h"
#include "steps/pick.h"
#include "steps/step_times.h"
#include "util/numbers.h"

namespace kelvara {
namespace {

constexpr float kDurationTime = 111111.0f;
constexpr float kSpecialTimeLimit = 99998.0f;

// Times of summary steps (maxima, file numbers) lie at or beyond the limit; a time that is not a
// number cannot be measured from either.
bool isOrdinaryTime(float t) { return std::fabs(t) < kSpecialTimeLimit; }

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

// The work on each step's node values, piece by piece as they arrive (see PieceWork): vectors
// become their magnitudes (in values1, which the next read replaces anyway), and a step measured
// from the one before adds its interval to every node (DurationTables).
//
// The increments are summed in node order, leaving out the zeros (dry nodes) and the blocks of
// zeros only: adding zero leaves the sum as it is, since a sum that starts at +0 never becomes
// -0 (nor does a duration, which is why a block whose values are all below the cutoff at both
// ends is passed over). The first part sums its blocks as they come; the others' are summed
// in order once the step is read.
class IntervalPass {
public:
    static constexpr std::size_t kBlock = 256;

    IntervalPass(RunState& run, DurationTables& tables, float cutoff)
        : run_(run),
          tables_(tables),
          cutoff_(cutoff),
          nodes_(static_cast<std::size_t>(run.nodeCount())),
          blockAdds_((nodes_ + kBlock - 1) / kBlock) {}

    // Before a step is read: whether it is measured from the step before, at previousTime.
    void expect(bool measured, float previousTime) {
        measured_ = measured;
        previousTime_ = previousTime;
        firstSum_ = 0.0f;
        firstEnd_ = 0;
    }

    void piece(std::size_t part, std::size_t begin, std::size_t end) {
        float* v = run_.values1.data();
        if (run_.primary.isVector) {
            VECTOR_MAGNITUDES(v + begin, run_.values2.data() + begin, v + begin, end - begin);
        }
        // An interval whose time does not increase adds nothing (see runDuration).
        if (!measured_ || !timeIncreases(previousTime_, run_.time)) return;
        const float interval = run_.time - previousTime_;
        const float c = cutoff_;
        float* total = tables_.duration.data();
        const float* previous = tables_.previous.data();
        float* increments = tables_.increments.data();
        float sum = part == 0 ? firstSum_ : 0.0f;
        for (std::size_t start = begin; start < end; start += kBlock) {
            const std::size_t n = std::min(kBlock, end - start);
            float* __restrict t = total + start;
            const float* __restrict p = previous + start;
            float* __restrict increment = increments + start;
            const float* __restrict now = v + start;
            unsigned above = 0;
            for (std::size_t k = 0; k < n; ++k) above |= (p[k] >= c) | (now[k] >= c);
            if (above == 0) {
                blockAdds_[start / kBlock] = 0;
                continue;
            }
            unsigned nonZero = 0;
            for (std::size_t k = 0; k < n; ++k) {
                const float add = durationIncrement(interval, p[k], now[k], c);
                increment[k] = add;
                t[k] += add;
                nonZero |= add != 0.0f;
            }
            blockAdds_[start / kBlock] = nonZero != 0;
            if (part == 0) sum = addBlock(sum, start);
        }
        if (part == 0) {
            firstSum_ = sum;
            firstEnd_ = end;
        }
    }

    // After a measured step: the sum of its increments, in node order.
    float sum() const {
        float sum = firstSum_;
        for (std::size_t start = firstEnd_; start < nodes_; start += kBlock) sum = addBlock(sum, start);
        return sum;
    }

private:
    // Sums the increments of the block at start in order onto sum. A zero is added as -0, which
    // leaves every sum as it is (+0 + -0 is +0), so that the loop has no branch to mispredict
    // where wet and dry nodes meet.
    float addBlock(float sum, std::size_t start) const {
        if (blockAdds_[start / kBlock] == 0) return sum;
        const std::size_t n = std::min(kBlock, nodes_ - start);
        const float* increment = tables_.increments.data() + start;
        for (std::size_t k = 0; k < n; ++k) sum += pick(increment[k] != 0.0f, increment[k], -0.0f);
        return sum;
    }

    RunState& run_;
    DurationTables& tables_;
    const float cutoff_;
    const std::size_t nodes_;
    std::vector<unsigned char> blockAdds_;
    bool measured_ = false;
    float previousTime_ = 0.0f;
    float firstSum_ = 0.0f;
    std::size_t firstEnd_ = 0;
};

}  // namespace

void runDuration(RunState& run) {
    const Operation& o = run.options->operation;
    const std::int32_t nodes = run.nodeCount();
    // The durations and the output's flags start at zero.
    DurationTables tables;
    sizeTables([&] {
        tables.duration.resize(static_cast<std::size_t>(nodes));
        tables.previous.resize(static_cast<std::size_t>(nodes));
        tables.increments.resize(static_cast<std::size_t>(nodes));
        tables.outActive.resize(static_cast<std::size_t>(run.cellCount()));
    });

    // The first step primes the previous time and values; it adds no duration. A first step
    // at a special time could never be measured from, so the first ordinary step primes instead.
    // Steps at special times are passed over without reading their values.
    // With -t, the steps after that time are passed over as the special ones are.
    const auto used = [&o](float t) {
        return isOrdinaryTime(t) && (!o.atTime || upToGivenTime(o.time, t));
    };
    IntervalPass pass(run, tables, o.cutoff);
    const PieceWork onValues = [&pass](std::size_t part, std::size_t begin, std::size_t end) {
        pass.piece(part, begin, end);
    };
    pass.expect(false, 0.0f);
    if (!run.readStep(1, used, RunState::Flags::Read, &onValues)) {
        throw errorLine("ERROR - " + run.inputName(1) + " holds no time step.");
    }
    bool primed = false;
    float previousTime = 0.0f;
    // The previous step's values are kept in tables.previous: the step just read is swapped into it,
    // and the next step is read into what it held.
    auto prime = [&]() {
        std::swap(run.values1, tables.previous);
        previousTime = run.time;
        primed = true;
    };
    if (used(run.time)) prime();

    consoleLine();
    consoleLine("Processing file: " + run.inputName(1));

    for (;;) {
        pass.expect(primed, previousTime);
        if (!run.readStep(1, used, RunState::Flags::Read, &onValues)) break;
        const float t = run.time;
        if (!used(t)) continue;
        if (!primed) {
            prime();
            continue;
        }
        if (!timeIncreases(previousTime, t)) {
            // Times that go back (a concatenation of runs that each start at 0) or repeat:
            // the step starts the next interval, but this one is not measured.
            consoleLine(intervalNotMeasuredWarning(previousTime, t));
            std::swap(run.values1, tables.previous);
            run.mergeActiveInto(tables.outActive);
            previousTime = t;
            continue;
        }
        const float dt = t - previousTime;
        const float sum = pass.sum();
        std::swap(run.values1, tables.previous);
        const float average = nodes > 0 ? sum / static_cast<float>(nodes) : 0.0f;
        consoleLine("...Duration Increment =" + formatFixed(dt, 5, 2) + "   Average duration of all nodes =" +
                    formatFixed(average, 5, 2) + "h");
        run.mergeActiveInto(tables.outActive);
        previousTime = t;
    }

    if (o.atTime && !primed) throw errorLine(noStepUpToTimeError(o.time, run.inputName(1)));
    run.output->writeStep(kDurationTime, tables.outActive.data(), tables.duration.data(), nullptr);
}

}  // namespace kelvara
