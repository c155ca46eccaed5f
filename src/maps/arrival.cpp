#include "maps/arrival.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "fileio/workers.h"
#include "steps/pick.h"
#include "util/text.h"

namespace kelvara {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
// Nodes are worked on in blocks of this many; a block whose nodes are all below the cutoff at
// both ends of the interval has nothing to change but the previous values.
constexpr std::size_t kBlock = 256;

}  // namespace

ArrivalMap::ArrivalMap(std::size_t nodeCount, std::size_t cellCount, float cutoff)
    : cutoff_(cutoff) {
    // The tables come zeroed and faulted in by every core; the not-a-numbers are written the
    // same way.
    for (Table<float>* t : {&arrival_, &end_, &peak_, &peakValue_, &previous_}) {
        t->resize(nodeCount);
        fillInParts(t->data(), nodeCount, kNaN);
    }
    next_.resize(nodeCount);
    flags_.resize(cellCount);
}

std::string ArrivalMap::beginStep(float time, const float* values) {
    std::string warning;
    values_ = values;
    time_ = time;
    interval_ = 0.0f;
    // The first step is measured from a step of values that are not numbers: nothing is at or
    // above the cutoff there, so what is at or above it now arrives now.
    mergeFlags_ = steps_ > 0;
    if (steps_ > 0) {
        if (time > previousTime_) {
            interval_ = time - previousTime_;
        } else {
            warning = "WARNING - The time step at " + AREAL(time) + " does not come after the one at " +
                      AREAL(previousTime_) + ": the interval is not measured.";
        }
    }
    return warning;
}

void ArrivalMap::addNodes(std::size_t begin, std::size_t end) {
    const float c = cutoff_;
    const float t = time_;
    const float dt = interval_;
    const float before = previousTime_;
    const bool inPlace = values_ == next_.data();
    for (std::size_t start = begin; start < end; start += kBlock) {
        const std::size_t n = std::min(kBlock, end - start);
        const float* __restrict v = values_ + start;
        float* __restrict p = previous_.data() + start;
        float* __restrict peakValue = peakValue_.data() + start;
        // A node has arrived once it has a peak value. Most blocks change nothing but the
        // previous values (dry nodes, and wet ones past their peak), so a first look decides
        // which tables the block writes at all.
        unsigned arrives = 0, falls = 0, higher = 0;
        for (std::size_t k = 0; k < n; ++k) {
            const bool nowAbove = v[k] >= c;
            arrives |= nowAbove & (peakValue[k] != peakValue[k]);
            falls |= (p[k] >= c) & !nowAbove;
            higher |= nowAbove & !(v[k] <= peakValue[k]);
        }
        if (arrives != 0) {
            float* __restrict arrival = arrival_.data() + start;
            for (std::size_t k = 0; k < n; ++k) {
                // The time above the cutoff at the end of the interval, as the duration takes it.
                const float rising = dt * (v[k] - c) / (v[k] - p[k]);
                const float up = pick(rising != rising, 0.0f, rising);
                arrival[k] = pick((v[k] >= c) & (peakValue[k] != peakValue[k]), t - up, arrival[k]);
            }
        }
        if (higher != 0) {
            float* __restrict peak = peak_.data() + start;
            for (std::size_t k = 0; k < n; ++k) {
                const bool rises = (v[k] >= c) & !(v[k] <= peakValue[k]);
                peakValue[k] = pick(rises, v[k], peakValue[k]);
                peak[k] = pick(rises, t, peak[k]);
            }
        }
        if (falls != 0) {
            float* __restrict last = end_.data() + start;
            for (std::size_t k = 0; k < n; ++k) {
                // The time above the cutoff at the start of the interval.
                const float falling = dt * (p[k] - c) / (p[k] - v[k]);
                const float down = pick(falling != falling, 0.0f, falling);
                last[k] = pick((p[k] >= c) & !(v[k] >= c), before + down, last[k]);
            }
        }
        if (!inPlace) std::memcpy(p, v, n * sizeof(float));
    }
}

void ArrivalMap::finish() {
    if (finished_) return;
    // A node at or above the cutoff at the last step has not ended within the run: its end is
    // no data, not the last step's time (which would read as a recession there).
    const float c = cutoff_;
    const float* p = previous_.data();
    float* e = end_.data();
    std::vector<std::size_t> counts(partCount(), 0);
    forEachPart(nodeCount(), 1024, 64 * 1024,
                [=, &counts](std::size_t part, std::size_t begin, std::size_t end) {
                    std::size_t still = 0;
                    for (std::size_t k = begin; k < end; ++k) {
                        const bool wet = p[k] >= c;
                        still += wet;
                        e[k] = pick(wet, kNaN, e[k]);
                    }
                    counts[part] += still;
                });
    stillAtOrAbove_ = 0;
    for (std::size_t n : counts) stillAtOrAbove_ += n;
    finished_ = true;
}

void ArrivalMap::addFlags(const std::int8_t* active, std::size_t begin, std::size_t end) {
    if (!mergeFlags_ || active == nullptr) return;
    const std::int8_t* __restrict a = active + begin;
    std::int8_t* __restrict o = flags_.data() + begin;
    // Any flag but 0 is active; the map's flags are 1 or 0.
    for (std::size_t k = 0; k < end - begin; ++k) o[k] = static_cast<std::int8_t>(o[k] | (a[k] != 0));
}

void ArrivalMap::endStep() {
    if (values_ == next_.data()) previous_.swap(next_);
    previousTime_ = time_;
    finished_ = false;
    values_ = nullptr;
    ++steps_;
}

std::string ArrivalMap::addStep(float time, const float* values, const std::int8_t* active) {
    std::string warning = beginStep(time, values);
    forEachPart(nodeCount(), 1024, 64 * 1024,
                [this](std::size_t, std::size_t begin, std::size_t end) { addNodes(begin, end); });
    forEachPart(cellCount(), 4096, 256 * 1024, [this, active](std::size_t, std::size_t begin, std::size_t end) {
        addFlags(active, begin, end);
    });
    endStep();
    return warning;
}

}  // namespace kelvara
