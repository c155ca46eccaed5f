// The statistics of an ensemble node by node: the median, mean and percentiles against values
// numpy gives, and the per-node choices (representative run, envelope, critical group) against
// a plain reference on random ensembles with ties and missing values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "ensemble/statistics.h"

namespace kelvara {
namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

bool sameFloat(float a, float b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

struct PercentileCase {
    std::vector<float> values;
    std::vector<double> percents;
    // np.float32(np.percentile(np.array(values, dtype=np.float32), p)) for each p (numpy 1.24).
    std::vector<float> expected;
    float median;  // np.median(values)
    float mean;    // np.float32(np.mean(values.astype(np.float64)))
};

const std::vector<PercentileCase> kNumpyCases = {
    {{1.1f, 2.3f, 7.7f, 0.001f},
     {10, 33.3, 50, 90, 100, 0},
     {0.33069998f, 1.09890103f, 1.70000005f, 6.07999992f, 7.69999981f, 0.00100000005f},
     1.70000005f, 2.77524996f},
    {{0.3f, 0.1f, 0.7f}, {25, 75, 62.5}, {0.200000003f, 0.5f, 0.400000006f}, 0.300000012f, 0.366666675f},
    {{5.0f}, {10, 99}, {5.0f, 5.0f}, 5.0f, 5.0f},
    // A wide spread: the difference of the two order statistics is rounded to float first.
    {{1e8f, 1.0f, 3.3333333f, -2.5f, 7.125f}, {17, 50, 83}, {-0.119999997f, 3.33333325f, 32000004.0f},
     3.33333325f, 20000002.0f},
    {{0.1f, 0.2f, 0.7f, 0.3f, 0.9f, 1.3f},
     {12.5, 37, 50, 66.6, 95},
     {0.162500009f, 0.284999996f, 0.5f, 0.765999973f, 1.19999993f},
     0.5f, 0.583333313f},
};

TEST(EnsembleStatistics, MedianMeanAndPercentilesAsNumpyGivesThem) {
    for (const PercentileCase& c : kNumpyCases) {
        std::vector<float> sorted = c.values;
        std::sort(sorted.begin(), sorted.end());
        for (std::size_t k = 0; k < c.percents.size(); ++k) {
            EXPECT_EQ(percentileOfSorted(sorted.data(), sorted.size(), c.percents[k]), c.expected[k])
                << "percentile " << c.percents[k] << " of " << c.values.size() << " values";
        }
        EXPECT_EQ(medianOfSorted(sorted.data(), sorted.size()), c.median);
        EXPECT_EQ(meanOf(c.values.data(), c.values.size()), c.mean);
    }
}

TEST(EnsembleStatistics, MedianOfAnEvenCountIsTheMeanOfTheMiddleTwoInSinglePrecision) {
    const float big = std::numeric_limits<float>::max();
    const struct {
        std::vector<float> sorted;
        float expected;
    } cases[] = {
        {{1.0f, 2.0f}, 1.5f},
        {{1.0f, 2.0f, 4.0f, 9.0f}, 3.0f},
        {{3.0f, 3.0f, 3.0f, 3.0f}, 3.0f},
        {{-1.0f, 1.0f}, 0.0f},
        // (a + b) overflows in float as it does in numpy's float32 median.
        {{big, big}, std::numeric_limits<float>::infinity()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(medianOfSorted(c.sorted.data(), c.sorted.size()), c.expected);
    }
}

// A tiny generator, the same on every platform.
struct Random {
    std::uint32_t state;
    std::uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    // Quarters from 0 to 5: many ties, and sums and halves that are exact.
    float quarter() { return static_cast<float>(next() % 21) * 0.25f; }
    bool chance(unsigned percent) { return next() % 100 < percent; }
};

struct Reference {
    std::vector<float> envelope, critical, representative;
    std::vector<std::vector<float>> percentiles, groups;
};

// The results straight from their definitions, node by node.
Reference reference(const EnsembleLayout& layout, const std::vector<float>& peaks, std::size_t nodes) {
    const std::size_t runs = layout.groupOfRun.size();
    Reference ref;
    ref.envelope.assign(nodes, kNaN);
    ref.critical.assign(nodes, kNaN);
    ref.representative.assign(nodes, kNaN);
    ref.percentiles.assign(layout.percentiles.size(), std::vector<float>(nodes, kNaN));
    ref.groups.assign(layout.groupCount, std::vector<float>(nodes, kNaN));
    for (std::size_t n = 0; n < nodes; ++n) {
        for (std::size_t g = 0; g < layout.groupCount; ++g) {
            std::vector<float> v;
            for (std::size_t r = 0; r < runs; ++r) {
                const float x = peaks[r * nodes + n];
                if (layout.groupOfRun[r] == g && !std::isnan(x)) v.push_back(x);
            }
            if (v.empty()) continue;
            std::sort(v.begin(), v.end());
            float stat;
            if (layout.statistic == Statistic::Mean) {
                long double sum = 0;
                for (float x : v) sum += x;
                stat = static_cast<float>(sum / v.size());
            } else if (v.size() % 2 == 1) {
                stat = v[v.size() / 2];
            } else {
                stat = (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2.0f;
            }
            ref.groups[g][n] = stat;
            if (!std::isnan(ref.envelope[n]) && !(stat > ref.envelope[n])) continue;
            ref.envelope[n] = stat;
            ref.critical[n] = static_cast<float>(g + 1);
            for (std::size_t r = 0; r < runs; ++r) {
                const float x = peaks[r * nodes + n];
                if (layout.groupOfRun[r] == g && x >= stat) {
                    ref.representative[n] = layout.numberOfRun[r];
                    break;
                }
            }
        }
        std::vector<float> all;
        for (std::size_t r = 0; r < runs; ++r)
            if (!std::isnan(peaks[r * nodes + n])) all.push_back(peaks[r * nodes + n]);
        std::sort(all.begin(), all.end());
        for (std::size_t p = 0; p < layout.percentiles.size(); ++p) {
            if (all.empty()) continue;
            const double h = (all.size() - 1) * (layout.percentiles[p] / 100.0);
            const std::size_t lo = static_cast<std::size_t>(h);
            const std::size_t hi = std::min(lo + 1, all.size() - 1);
            ref.percentiles[p][n] =
                static_cast<float>(all[lo] + (static_cast<double>(all[hi]) - all[lo]) * (h - lo));
        }
    }
    return ref;
}

void expectSameTable(const std::vector<float>& got, const float* want, std::size_t nodes,
                     const char* what) {
    for (std::size_t n = 0; n < nodes; ++n) {
        ASSERT_TRUE(sameFloat(got[n], want[n])) << what << " at node " << n << ": " << got[n]
                                                << " instead of " << want[n];
    }
}

TEST(EnsembleStatistics, RandomEnsemblesMatchTheReference) {
    // About one peak in six missing, some nodes with none at all, some where the second group
    // has none. First 3 groups x 10 runs, the list interleaving the groups (run r in group
    // r % 3), so that list order and group order differ; then groups of uneven sizes. Each way
    // of sorting the rows that this processor has (vectors of 4, 8 or 16 lanes) in turn.
    const std::size_t nodes = 3000;
    std::vector<std::vector<std::size_t>> groupings;
    groupings.emplace_back();
    for (std::size_t r = 0; r < 30; ++r) groupings.back().push_back(r % 3);
    for (std::vector<std::size_t> sizes : {std::vector<std::size_t>{1, 5, 17}, {2, 33, 64}}) {
        groupings.emplace_back();
        for (std::size_t g = 0; g < sizes.size(); ++g) groupings.back().insert(groupings.back().end(), sizes[g], g);
    }
    for (std::size_t sorter = 0; sorter < ensemble_detail::rowSorterCount(); ++sorter) {
    ensemble_detail::useRowSorter(sorter);
    SCOPED_TRACE("row sorter " + std::to_string(sorter));
    for (Statistic statistic : {Statistic::Median, Statistic::Mean}) {
        for (unsigned seed : {1u, 2u, 3u}) {
            const std::vector<std::size_t>& grouping = groupings[seed - 1];
            const std::size_t runs = grouping.size();
            Random random{seed};
            EnsembleLayout layout;
            layout.groupCount = 3;
            layout.groupOfRun.assign(grouping.begin(), grouping.end());
            for (std::size_t r = 0; r < runs; ++r) layout.numberOfRun.push_back(static_cast<float>(r + 1));
            layout.statistic = statistic;
            layout.percentiles = {10, 50, 90, 0, 100, 33.3};
            layout.perGroup = true;
            std::vector<float> peaks(nodes * runs);
            for (std::size_t n = 0; n < nodes; ++n) {
                const bool empty = n % 97 == 5;
                const bool groupEmpty = n % 89 == 7;  // group 2 has no value there
                for (std::size_t r = 0; r < runs; ++r) {
                    float v = random.quarter();
                    if (empty || (groupEmpty && grouping[r] == 1) || random.chance(15)) v = kNaN;
                    peaks[r * nodes + n] = v;
                }
            }
            const Reference ref = reference(layout, peaks, nodes);

            std::vector<float> envelope(nodes), critical(nodes), representative(nodes);
            std::vector<std::vector<float>> pct(layout.percentiles.size(), std::vector<float>(nodes));
            std::vector<std::vector<float>> groups(3, std::vector<float>(nodes));
            // In uneven blocks, as the work file gives them.
            for (std::size_t begin = 0; begin < nodes; begin += 1000) {
                const std::size_t count = std::min<std::size_t>(1000, nodes - begin);
                std::vector<float> block(count * runs);
                for (std::size_t r = 0; r < runs; ++r)
                    for (std::size_t k = 0; k < count; ++k)
                        block[r * count + k] = peaks[r * nodes + begin + k];
                EnsembleOutputs out;
                out.envelope = envelope.data() + begin;
                out.criticalGroup = critical.data() + begin;
                out.representativeRun = representative.data() + begin;
                for (auto& p : pct) out.percentiles.push_back(p.data() + begin);
                for (auto& g : groups) out.groupStatistics.push_back(g.data() + begin);
                computeEnsembleBlock(layout, block.data(), count, count, out);
            }
            SCOPED_TRACE(statistic == Statistic::Mean ? "mean" : "median");
            expectSameTable(envelope, ref.envelope.data(), nodes, "envelope");
            expectSameTable(critical, ref.critical.data(), nodes, "critical group");
            expectSameTable(representative, ref.representative.data(), nodes, "representative run");
            for (std::size_t p = 0; p < pct.size(); ++p)
                expectSameTable(pct[p], ref.percentiles[p].data(), nodes, "percentile");
            for (std::size_t g = 0; g < 3; ++g)
                expectSameTable(groups[g], ref.groups[g].data(), nodes, "group statistic");
        }
    }
    }
    ensemble_detail::useRowSorter(0);
}

struct ChoiceCase {
    const char* what;
    std::vector<std::size_t> groupOfRun;
    std::vector<float> peaks;  // one node
    Statistic statistic;
    float envelope, critical, representative;
};

const std::vector<ChoiceCase> kChoices = {
    {"the first run at or above the median, in list order", {0, 0, 0, 0}, {4, 1, 3, 2},
     Statistic::Median, 2.5f, 1, 1},
    {"a run equal to the median represents it", {0, 0, 0}, {5, 2, 3}, Statistic::Median, 3, 1, 1},
    {"ties: the earliest run equal to the median", {0, 0, 0}, {1, 3, 3}, Statistic::Median, 3, 1, 2},
    {"equal group statistics keep the earlier group", {0, 0, 1, 1}, {2, 4, 3, 3},
     Statistic::Median, 3, 1, 2},
    {"the later group wins with a greater statistic", {0, 0, 1, 1}, {2, 4, 3, 3.5f},
     Statistic::Median, 3.25f, 2, 4},
    {"missing peaks are left out", {0, 0, 0, 1}, {kNaN, 7, kNaN, 2}, Statistic::Median, 7, 1, 2},
    {"a group with no value is never critical", {0, 0, 1, 1}, {kNaN, kNaN, 1, 2},
     Statistic::Median, 1.5f, 2, 4},
    {"no value anywhere: no data in every result", {0, 1}, {kNaN, kNaN}, Statistic::Median,
     kNaN, kNaN, kNaN},
    {"the mean: the first run at or above it", {0, 0, 0}, {1, 2, 6}, Statistic::Mean, 3, 1, 3},
    {"runs numbered in list order across interleaved groups", {1, 0, 1, 0}, {9, 1, 8, 1},
     Statistic::Median, 8.5f, 2, 1},
};

TEST(EnsembleStatistics, RepresentativeRunAndCriticalGroup) {
    for (const ChoiceCase& c : kChoices) {
        EnsembleLayout layout;
        layout.groupCount = *std::max_element(c.groupOfRun.begin(), c.groupOfRun.end()) + 1;
        layout.groupOfRun = c.groupOfRun;
        for (std::size_t r = 0; r < c.groupOfRun.size(); ++r)
            layout.numberOfRun.push_back(static_cast<float>(r + 1));
        layout.statistic = c.statistic;
        float envelope = 0, critical = 0, representative = 0;
        EnsembleOutputs out;
        out.envelope = &envelope;
        out.criticalGroup = &critical;
        out.representativeRun = &representative;
        computeEnsembleBlock(layout, c.peaks.data(), 1, 1, out);
        EXPECT_TRUE(sameFloat(envelope, c.envelope)) << c.what << ": envelope " << envelope;
        EXPECT_TRUE(sameFloat(critical, c.critical)) << c.what << ": critical " << critical;
        EXPECT_TRUE(sameFloat(representative, c.representative))
            << c.what << ": representative " << representative;
    }
}

}  // namespace
}  // namespace kelvara
