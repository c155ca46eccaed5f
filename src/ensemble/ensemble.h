// Design floods from ensembles: the runs of a study (groups such as storm durations, several
// temporal patterns each) read once each, in list order, into a peak per node; then node by node
// each group's median or mean and its representative run, the envelope over the groups with the
// critical group, and percentiles over every run. The result is written as a dataset of steps at
// special times, with a small CSV legend beside it that names the groups and runs by number.
//
// Nothing is printed: progress and warnings reach the caller's messages; failures throw
// kelvara::Error with "ERROR - " lines naming the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ensemble/peaks.h"
#include "ensemble/run_list.h"
#include "ensemble/statistics.h"

namespace kelvara {

class DatasetWriter;

// The special times of the output's steps.
constexpr float kEnvelopeTime = 120001.0f;
constexpr float kCriticalGroupTime = 120002.0f;
constexpr float kRepresentativeRunTime = 120003.0f;
// Percentile k (from 1, in the order given) at 120010 + k; group g's statistic (from 1) at
// 120100 + g.
constexpr float kPercentileTimeBase = 120010.0f;
constexpr float kGroupStatisticTimeBase = 120100.0f;
constexpr std::size_t kMostPercentiles = 89;

// The memory a pass is to take in all, by default: the peaks get what the result tables, the
// tables of reading and a reserve for the rest of the process leave of it, at least
// kSmallestPeakBudget.
constexpr std::size_t kEnsembleMemory = 300000000;
constexpr std::size_t kEnsembleMemoryReserve = std::size_t{24} << 20;
constexpr std::size_t kSmallestPeakBudget = std::size_t{16} << 20;
// A peakBudget of this value: the budget is worked out so (the default).
constexpr std::size_t kAutomaticPeakBudget = 0;

struct EnsembleRequest {
    RunList runs;
    Statistic statistic = Statistic::Median;
    std::vector<double> percentiles;  // each from 0 to 100
    bool perGroup = false;            // also each group's statistic
    bool skipMissing = false;         // a run that cannot be read: a WARNING, not an error
    // Water levels need the mesh: by default "<first run's stem>.2dm" beside the first run.
    std::string meshPath;
    // Where the work file of peaks goes when they do not fit peakBudget: a hidden file beside
    // this output, removed when done or on failure.
    std::string outputPath;
    // Bytes for the peaks: the runs that fit in seven eighths of it stay in memory, the others
    // go through the work file and are read back in blocks of nodes that fit in the rest.
    std::size_t peakBudget = kAutomaticPeakBudget;
};

struct EnsembleResult {
    RunList runs;  // as checked: runs left out are marked missing
    Statistic statistic = Statistic::Median;
    std::vector<double> percentiles;
    std::int32_t nodeCount = 0;
    std::int32_t cellCount = 0;
    std::vector<float> envelope;            // greatest group statistic
    std::vector<float> criticalGroup;       // its group's number, from 1
    std::vector<float> representativeRun;   // the number of that group's representative run
    std::vector<std::vector<float>> percentileValues;  // one table per percentile
    std::vector<std::vector<float>> groupStatistics;   // per group, with perGroup
    std::vector<std::int8_t> active;        // cells active in a used step of any run
    std::vector<PeakSource> peakSources;    // per run of the list (missing runs: none read)
    bool spilled = false;                   // some peaks went through the work file
};

// Checks the request's runs, reads every run once and computes the statistics. Messages: one
// progress line per run read ("[37/200] 9h/tp07_d.dat") and the warnings.
EnsembleResult computeEnsemble(const EnsembleRequest& request, const EnsembleMessages& messages = {});

// What each step of an output holds, in the order written: its time, what kind of number it is
// and a description with the legend's words.
struct EnsembleStepInfo {
    enum class Holds { Values, GroupNumber, RunNumber };
    float time;
    Holds holds;
    std::string description;
};
// groupNames: the groups, for their statistics' steps when perGroup.
std::vector<EnsembleStepInfo> ensembleStepInfo(Statistic statistic,
                                               const std::vector<double>& percentiles,
                                               const std::vector<std::string>& groupNames,
                                               bool perGroup);

// Each step of the result in order: its time, the cells active and its values.
void forEachEnsembleStep(const EnsembleResult& result,
                         const std::function<void(float time, const std::int8_t* active,
                                                  const float* values)>& step);

// The steps of the result, in this order: envelope, critical group, representative run, the
// percentiles, the group statistics; into a writer whose header the caller has written
// (scalar, the result's counts) and whose end it writes afterwards.
void writeEnsembleSteps(const EnsembleResult& result, DatasetWriter& writer);

// The legend: "number,kind,name,group" lines: the output's steps by time (kind "step"), the
// groups by number, the runs by number with their file and group (kind "missing" for a run
// left out).
std::string ensembleLegend(const EnsembleResult& result);

// The legend's name beside an output: "study(ensemble).csv" for "study(ensemble).dat".
std::string ensembleLegendName(const std::string& outputPath);

// An output (or its legend) that would replace a run or the list is an error.
void checkEnsembleOutputName(const RunList& runs, const std::string& outputPath);

// Writes the dataset at outputPath and the legend beside it, each under a hidden name until
// both are complete; neither is left behind when the writing fails. An output that would
// replace a run or the list is an error.
void writeEnsembleOutputs(const EnsembleResult& result, const std::string& outputPath,
                          const EnsembleMessages& messages = {});

}  // namespace kelvara
