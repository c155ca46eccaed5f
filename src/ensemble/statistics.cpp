#include "ensemble/statistics.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && !defined(_WIN32)
#include <immintrin.h>
#endif

#include "fileio/workers.h"

namespace kelvara {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();
// Nodes taken together, one lane each: the peaks of a tile are copied run by run into rows of
// kTile values, and sorted all at once by a sorting network whose compare-exchanges work on
// whole rows (the machine's vector instructions), with no branch that depends on the data.
constexpr std::size_t kTile = 16;
// Nodes copied at a time from each run's peaks into the part's own table, a page of each run:
// the tiles then read from the cache instead of from a page of every run per tile.
constexpr std::size_t kChunk = 1024;

// A compare-exchange of two rows, each given by the offset of its first value (row * kTile).
using Pair = std::pair<std::uint32_t, std::uint32_t>;
using Network = std::vector<Pair>;

// Batcher's odd-even merge sort for n elements: the network of the next power of two with the
// pairs that reach beyond n left out (the missing elements would be +infinity at the end, which
// no compare-exchange moves).
Network sortingNetwork(std::size_t n) {
    Network net;
    std::size_t size = 1;
    while (size < n) size <<= 1;
    for (std::size_t p = 1; p < size; p <<= 1) {
        for (std::size_t k = p; k >= 1; k >>= 1) {
            for (std::size_t j = k % p; j + k < size; j += 2 * k) {
                for (std::size_t i = 0; i < std::min(k, size - j - k); ++i) {
                    if ((i + j) / (2 * p) != (i + j + k) / (2 * p)) continue;
                    if (i + j + k < n)
                        net.emplace_back(static_cast<std::uint32_t>((i + j) * kTile),
                                         static_cast<std::uint32_t>((i + j + k) * kTile));
                }
            }
        }
    }
    return net;
}

// The compare-exchanges put the smaller of each pair of lanes first and the greater second, by
// min(y, x) and max(x, y), which keep x and y where they are when they are equal: the values
// are only ever moved (-0 and +0 stay as they are; there is no NaN in a sorted row).
using SortRows = void (*)(float* rows, const Pair* net, std::size_t pairs);

void sortRowsBase(float* rows, const Pair* net, std::size_t pairs) {
    for (std::size_t i = 0; i < pairs; ++i) {
        float* x = rows + net[i].first;
        float* y = rows + net[i].second;
#if defined(__SSE2__)
        for (std::size_t k = 0; k < kTile; k += 4) {
            const __m128 a = _mm_loadu_ps(x + k);
            const __m128 b = _mm_loadu_ps(y + k);
            _mm_storeu_ps(x + k, _mm_min_ps(b, a));
            _mm_storeu_ps(y + k, _mm_max_ps(a, b));
        }
#else
        for (std::size_t k = 0; k < kTile; ++k) {
            const float a = x[k], b = y[k];
            x[k] = b < a ? b : a;
            y[k] = b < a ? a : b;
        }
#endif
    }
}

#if defined(__x86_64__) && !defined(_WIN32)
// (Not on Windows, where the compiler cannot keep 32- and 64-byte values aligned on the stack.)
#define KELVARA_ENSEMBLE_WIDE 1

__attribute__((target("avx2"))) void sortRowsAvx2(float* rows, const Pair* net, std::size_t pairs) {
    for (std::size_t i = 0; i < pairs; ++i) {
        float* x = rows + net[i].first;
        float* y = rows + net[i].second;
        for (std::size_t k = 0; k < kTile; k += 8) {
            const __m256 a = _mm256_loadu_ps(x + k);
            const __m256 b = _mm256_loadu_ps(y + k);
            _mm256_storeu_ps(x + k, _mm256_min_ps(b, a));
            _mm256_storeu_ps(y + k, _mm256_max_ps(a, b));
        }
    }
}

__attribute__((target("avx512f"))) void sortRowsAvx512(float* rows, const Pair* net,
                                                       std::size_t pairs) {
    static_assert(kTile == 16, "a row is one 64-byte vector");
    for (std::size_t i = 0; i < pairs; ++i) {
        float* x = rows + net[i].first;
        float* y = rows + net[i].second;
        const __m512 a = _mm512_loadu_ps(x);
        const __m512 b = _mm512_loadu_ps(y);
        // (The masked forms with every lane set: the plain ones start from an undefined value
        // that GCC 12 warns of.)
        const __mmask16 every = 0xFFFF;
        _mm512_storeu_ps(x, _mm512_mask_min_ps(a, every, b, a));
        _mm512_storeu_ps(y, _mm512_mask_max_ps(b, every, a, b));
    }
}
#endif

// The ways this processor can sort rows, the widest first.
std::vector<SortRows> rowSorters() {
    std::vector<SortRows> sorters;
#if defined(KELVARA_ENSEMBLE_WIDE)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) sorters.push_back(sortRowsAvx512);
    if (__builtin_cpu_supports("avx2")) sorters.push_back(sortRowsAvx2);
#endif
    sorters.push_back(sortRowsBase);
    return sorters;
}

const std::vector<SortRows>& availableSorters() {
    static const std::vector<SortRows> sorters = rowSorters();
    return sorters;
}

std::atomic<SortRows> chosenSorter{nullptr};

void sortRows(float* rows, const Network& net) {
    SortRows sorter = chosenSorter.load(std::memory_order_relaxed);
    if (sorter == nullptr) sorter = availableSorters().front();
    if (!net.empty()) sorter(rows, net.data(), net.size());
}

// Linear interpolation between order statistics as numpy does it, sorted(i) giving the i-th
// smallest of n > 0 values.
template <class Sorted>
float percentileOf(std::size_t n, double percent, const Sorted& sorted) {
    const double h = static_cast<double>(n - 1) * (percent / 100.0);
    if (h >= static_cast<double>(n - 1)) return sorted(n - 1);
    if (h <= 0.0) return sorted(0);
    const double below = std::floor(h);
    const auto i = static_cast<std::size_t>(below);
    const float a = sorted(i);
    const float b = sorted(i + 1);
    const float d = b - a;
    const double t = h - below;
    const double r = t < 0.5 ? static_cast<double>(a) + static_cast<double>(d) * t
                             : static_cast<double>(b) - static_cast<double>(d) * (1.0 - t);
    return static_cast<float>(r);
}

template <class Sorted>
float medianOf(std::size_t n, const Sorted& sorted) {
    if (n % 2 == 1) return sorted(n / 2);
    const float sum = sorted(n / 2 - 1) + sorted(n / 2);
    return sum / 2.0f;
}

struct Scratch {
    std::vector<float> chunk;   // kChunk nodes of every stored run, run after run
    std::vector<float> peaks;   // rows in group order, each group's runs in list order
    std::vector<float> sorted;  // the same with every group's rows sorted (no value: +infinity)
    std::vector<float> all;     // every run's row, sorted
};

}  // namespace

namespace ensemble_detail {

std::size_t rowSorterCount() { return availableSorters().size(); }

void useRowSorter(std::size_t which) {
    chosenSorter.store(availableSorters()[std::min(which, rowSorterCount() - 1)]);
}

}  // namespace ensemble_detail

float medianOfSorted(const float* sorted, std::size_t n) {
    return medianOf(n, [sorted](std::size_t i) { return sorted[i]; });
}

float meanOf(const float* values, std::size_t n) {
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) sum += values[i];
    return static_cast<float>(sum / static_cast<double>(n));
}

float percentileOfSorted(const float* sorted, std::size_t n, double percent) {
    return percentileOf(n, percent, [sorted](std::size_t i) { return sorted[i]; });
}

void computeEnsembleBlock(const EnsembleLayout& layout, const float* peaks, std::size_t stride,
                          std::size_t count, const EnsembleOutputs& out) {
    std::vector<const float*> runs(layout.groupOfRun.size());
    for (std::size_t r = 0; r < runs.size(); ++r) runs[r] = peaks + r * stride;
    computeEnsembleBlock(layout, runs.data(), count, out);
}

void computeEnsembleBlock(const EnsembleLayout& layout, const float* const* runPeaks,
                          std::size_t count, const EnsembleOutputs& out) {
    const std::size_t runs = layout.groupOfRun.size();
    const std::size_t groups = layout.groupCount;
    // Rows in group order: group g's runs (in list order) are rows [first[g], first[g + 1]).
    std::vector<std::size_t> order, first(groups + 1, 0);
    for (std::size_t g = 0; g < groups; ++g) {
        first[g] = order.size();
        for (std::size_t r = 0; r < runs; ++r)
            if (layout.groupOfRun[r] == g) order.push_back(r);
    }
    first[groups] = order.size();
    // The mean needs no order: its groups are not sorted.
    const bool medians = layout.statistic == Statistic::Median;
    std::vector<Network> groupNetwork(groups);
    if (medians) {
        for (std::size_t g = 0; g < groups; ++g) groupNetwork[g] = sortingNetwork(first[g + 1] - first[g]);
    }
    const bool percentiles = !layout.percentiles.empty();
    const Network allNetwork = percentiles ? sortingNetwork(runs) : Network{};

    // Each part's tables, made here: the work of a part must not throw.
    std::vector<Scratch> scratch(std::min(kMaxParts, partCount()));
    for (Scratch& s : scratch) {
        s.chunk.resize(kChunk * runs);
        s.peaks.resize(kTile * runs);
        s.sorted.resize(kTile * runs);
        if (percentiles) s.all.resize(kTile * runs);
    }
    forEachPart(count, kTile, 4096, [&](std::size_t part, std::size_t begin, std::size_t end) {
        Scratch& s = scratch[part];
        std::uint32_t valid[kTile], total[kTile];
        double sum[kTile];
        for (std::size_t chunkStart = begin; chunkStart < end; chunkStart += kChunk) {
        const std::size_t chunkEnd = std::min(end, chunkStart + kChunk);
        for (std::size_t r = 0; r < runs; ++r) {
            std::copy(runPeaks[r] + chunkStart, runPeaks[r] + chunkEnd, s.chunk.data() + r * kChunk);
        }
        for (std::size_t start = chunkStart; start < chunkEnd; start += kTile) {
            const std::size_t n = std::min(kTile, chunkEnd - start);
            for (std::size_t row = 0; row < runs; ++row) {
                const float* from = s.chunk.data() + order[row] * kChunk + (start - chunkStart);
                float* to = s.peaks.data() + row * kTile;
                float* sortedTo = s.sorted.data() + row * kTile;
                for (std::size_t k = 0; k < kTile; ++k) {
                    const float v = k < n ? from[k] : kNaN;
                    to[k] = v;
                    sortedTo[k] = v == v ? v : kInfinity;
                }
            }
            if (percentiles) {
                std::copy(s.sorted.begin(), s.sorted.end(), s.all.begin());
                sortRows(s.all.data(), allNetwork);
            }
            if (medians) {
                for (std::size_t g = 0; g < groups; ++g) sortRows(s.sorted.data() + first[g] * kTile, groupNetwork[g]);
            }

            float envelope[kTile], critical[kTile], representative[kTile];
            std::fill(envelope, envelope + kTile, kNaN);
            std::fill(critical, critical + kTile, kNaN);
            std::fill(representative, representative + kTile, kNaN);
            std::fill(total, total + kTile, 0u);
            for (std::size_t g = 0; g < groups; ++g) {
                const std::size_t size = first[g + 1] - first[g];
                const float* rows = s.peaks.data() + first[g] * kTile;
                // Lane by lane: the values the group has, and their sum in list order.
                std::fill(valid, valid + kTile, 0u);
                for (std::size_t i = 0; i < size; ++i) {
                    const float* row = rows + i * kTile;
                    for (std::size_t k = 0; k < kTile; ++k) valid[k] += row[k] == row[k] ? 1u : 0u;
                }
                if (!medians) {
                    std::fill(sum, sum + kTile, 0.0);
                    for (std::size_t i = 0; i < size; ++i) {
                        const float* row = rows + i * kTile;
                        for (std::size_t k = 0; k < kTile; ++k) sum[k] += row[k] == row[k] ? row[k] : 0.0;
                    }
                }
                for (std::size_t k = 0; k < n; ++k) {
                    total[k] += valid[k];
                    float stat = kNaN;
                    if (valid[k] > 0) {
                        const float* sorted = s.sorted.data() + first[g] * kTile + k;
                        stat = medians ? medianOf(valid[k], [sorted](std::size_t i) { return sorted[i * kTile]; })
                                       : static_cast<float>(sum[k] / static_cast<double>(valid[k]));
                        // Equal statistics keep the earlier group.
                        if (std::isnan(envelope[k]) || stat > envelope[k]) {
                            envelope[k] = stat;
                            critical[k] = static_cast<float>(g + 1);
                            // The first run at or above it, in list order (there always is one:
                            // the statistic lies within the values).
                            for (std::size_t i = 0; i < size; ++i) {
                                if (rows[i * kTile + k] >= stat) {
                                    representative[k] = layout.numberOfRun[order[first[g] + i]];
                                    break;
                                }
                            }
                        }
                    }
                    if (layout.perGroup) out.groupStatistics[g][start + k] = stat;
                }
            }
            std::copy(envelope, envelope + n, out.envelope + start);
            std::copy(critical, critical + n, out.criticalGroup + start);
            std::copy(representative, representative + n, out.representativeRun + start);
            for (std::size_t k = 0; k < n; ++k) {
                const float* all = s.all.data() + k;
                for (std::size_t p = 0; p < layout.percentiles.size(); ++p) {
                    out.percentiles[p][start + k] =
                        total[k] == 0 ? kNaN
                                      : percentileOf(total[k], layout.percentiles[p],
                                                     [all](std::size_t i) { return all[i * kTile]; });
                }
            }
        }
        }
    });
}

}  // namespace kelvara
