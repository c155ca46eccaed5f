#include "ensemble/statistics.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "fileio/workers.h"

namespace kelvara {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
// Nodes taken together: the peaks of a tile of nodes are copied run by run, whole cache lines
// at a time, into one table per tile.
constexpr std::size_t kTile = 16;

void sortSmall(float* v, std::size_t n) {
    if (n > 24) {
        std::sort(v, v + n);
        return;
    }
    for (std::size_t i = 1; i < n; ++i) {
        const float x = v[i];
        std::size_t j = i;
        for (; j > 0 && v[j - 1] > x; --j) v[j] = v[j - 1];
        v[j] = x;
    }
}

struct Scratch {
    std::vector<float> tile;      // kTile x runs
    std::vector<float> values;    // a group's values, in list order
    std::vector<float> runs;      // their run numbers
    std::vector<float> sorted;
    std::vector<float> all;
};

}  // namespace

float medianOfSorted(const float* sorted, std::size_t n) {
    if (n % 2 == 1) return sorted[n / 2];
    const float sum = sorted[n / 2 - 1] + sorted[n / 2];
    return sum / 2.0f;
}

float meanOf(const float* values, std::size_t n) {
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) sum += values[i];
    return static_cast<float>(sum / static_cast<double>(n));
}

float percentileOfSorted(const float* sorted, std::size_t n, double percent) {
    const double h = static_cast<double>(n - 1) * (percent / 100.0);
    if (h >= static_cast<double>(n - 1)) return sorted[n - 1];
    if (h <= 0.0) return sorted[0];
    const double below = std::floor(h);
    const auto i = static_cast<std::size_t>(below);
    const float a = sorted[i];
    const float b = sorted[i + 1];
    const float d = b - a;
    const double t = h - below;
    const double r = t < 0.5 ? static_cast<double>(a) + static_cast<double>(d) * t
                             : static_cast<double>(b) - static_cast<double>(d) * (1.0 - t);
    return static_cast<float>(r);
}

void computeEnsembleBlock(const EnsembleLayout& layout, const float* peaks, std::size_t stride,
                          std::size_t count, const EnsembleOutputs& out) {
    const std::size_t runs = layout.groupOfRun.size();
    const std::size_t groups = layout.groupCount;
    // The stored runs of each group, in list order.
    std::vector<std::vector<std::size_t>> runsOf(groups);
    for (std::size_t r = 0; r < runs; ++r) runsOf[layout.groupOfRun[r]].push_back(r);

    // Each part's tables, made here: the work of a part must not throw.
    std::vector<Scratch> scratch(kMaxParts);
    for (Scratch& s : scratch) {
        s.tile.resize(kTile * runs);
        s.values.reserve(runs);
        s.runs.reserve(runs);
        s.sorted.reserve(runs);
        s.all.reserve(runs);
    }
    forEachPart(count, kTile, 4096, [&](std::size_t part, std::size_t begin, std::size_t end) {
        Scratch& s = scratch[part];
        for (std::size_t start = begin; start < end; start += kTile) {
            const std::size_t n = std::min(kTile, end - start);
            for (std::size_t r = 0; r < runs; ++r) {
                const float* from = peaks + r * stride + start;
                for (std::size_t k = 0; k < n; ++k) s.tile[k * runs + r] = from[k];
            }
            for (std::size_t k = 0; k < n; ++k) {
                const float* v = s.tile.data() + k * runs;
                const std::size_t node = start + k;
                float envelope = kNaN, critical = kNaN, representative = kNaN;
                for (std::size_t g = 0; g < groups; ++g) {
                    s.values.clear();
                    s.runs.clear();
                    for (std::size_t r : runsOf[g]) {
                        if (std::isnan(v[r])) continue;
                        s.values.push_back(v[r]);
                        s.runs.push_back(layout.numberOfRun[r]);
                    }
                    float stat = kNaN, chosen = kNaN;
                    if (!s.values.empty()) {
                        if (layout.statistic == Statistic::Mean) {
                            stat = meanOf(s.values.data(), s.values.size());
                        } else {
                            s.sorted.assign(s.values.begin(), s.values.end());
                            sortSmall(s.sorted.data(), s.sorted.size());
                            stat = medianOfSorted(s.sorted.data(), s.sorted.size());
                        }
                        // The first run at or above it (there always is one: the statistic
                        // lies within the values).
                        for (std::size_t i = 0; i < s.values.size(); ++i) {
                            if (s.values[i] >= stat) {
                                chosen = s.runs[i];
                                break;
                            }
                        }
                        // Equal statistics keep the earlier group.
                        if (std::isnan(envelope) || stat > envelope) {
                            envelope = stat;
                            critical = static_cast<float>(g + 1);
                            representative = chosen;
                        }
                    }
                    if (layout.perGroup) out.groupStatistics[g][node] = stat;
                }
                out.envelope[node] = envelope;
                out.criticalGroup[node] = critical;
                out.representativeRun[node] = representative;
                if (!layout.percentiles.empty()) {
                    s.all.clear();
                    for (std::size_t r = 0; r < runs; ++r)
                        if (!std::isnan(v[r])) s.all.push_back(v[r]);
                    sortSmall(s.all.data(), s.all.size());
                    for (std::size_t p = 0; p < layout.percentiles.size(); ++p) {
                        out.percentiles[p][node] =
                            s.all.empty() ? kNaN
                                          : percentileOfSorted(s.all.data(), s.all.size(),
                                                               layout.percentiles[p]);
                    }
                }
            }
        }
    });
}

}  // namespace kelvara
