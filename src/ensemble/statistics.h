// The statistics of an ensemble at each node, from the peaks of its runs: per group a central
// value (median or mean) and the run that represents it; across groups the envelope, the
// critical group and its representative run; percentiles over every run. Free of files.
//
// Runs without a value at a node (NaN) are left out of that node's statistics. A node where no
// run of a group has a value has no statistic for that group (NaN); a node where no run at all
// has one is NaN in every result, critical group and representative run included.
#pragma once

#include <cstddef>
#include <vector>

namespace kelvara {

enum class Statistic { Median, Mean };

// The median of n > 0 sorted values: the middle one, or for an even count the mean of the two
// middle ones in single precision ((a + b) / 2 with a + b rounded to float, as numpy does).
float medianOfSorted(const float* sorted, std::size_t n);
// The mean of n > 0 values, summed in double and rounded once.
float meanOf(const float* values, std::size_t n);
// The percentile (0 to 100) of n > 0 sorted values by linear interpolation between order
// statistics, as numpy's percentile (method "linear"): index h = (n - 1) * percent / 100,
// a = sorted[floor h], b = the next; with d = b - a in single precision and t = h - floor h,
// a + d * t below t = 0.5 and b - d * (1 - t) from there, in double, rounded once.
float percentileOfSorted(const float* sorted, std::size_t n, double percent);

// How the runs (in the order their peaks are stored) fall into groups.
struct EnsembleLayout {
    std::size_t groupCount = 0;
    std::vector<std::size_t> groupOfRun;   // per stored run
    std::vector<float> numberOfRun;        // per stored run: its number in the list (from 1)
    Statistic statistic = Statistic::Median;
    std::vector<double> percentiles;
    bool perGroup = false;                 // keep each group's statistic
};

// Where the results of nodes [0, count) of a block go (each points at the block's first node).
struct EnsembleOutputs {
    float* envelope = nullptr;
    float* criticalGroup = nullptr;        // 1-based group number
    float* representativeRun = nullptr;    // run number of the critical group's representative
    std::vector<float*> percentiles;       // one per layout percentile
    std::vector<float*> groupStatistics;   // one per group when perGroup
};

// The statistics of count nodes whose peaks are at peaks[run * stride + node] for the stored
// runs in order. Shared out over the cores.
void computeEnsembleBlock(const EnsembleLayout& layout, const float* peaks, std::size_t stride,
                          std::size_t count, const EnsembleOutputs& out);
// The same with the peaks of stored run r at runPeaks[r][0 .. count): runs kept in memory and
// runs read back from a work file side by side.
void computeEnsembleBlock(const EnsembleLayout& layout, const float* const* runPeaks,
                          std::size_t count, const EnsembleOutputs& out);

namespace ensemble_detail {
// For the tests: the number of ways this processor sorts the rows of a tile (the widest vectors
// first, the narrowest last; every way gives the same results), and choosing one by number.
std::size_t rowSorterCount();
void useRowSorter(std::size_t which);
}  // namespace ensemble_detail

}  // namespace kelvara
