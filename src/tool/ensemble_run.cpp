// -ensemble: design floods from the peaks of many runs (src/ensemble/), on the command line. The
// runs come from a list file (--runs) and/or from the command line, each group's files after its
// --group NAME. The runs are opened one at a time by the ensemble itself, never as the driver's
// inputs, so a study of hundreds of runs holds one open file at a time.
#include "tool/ensemble_run.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <cerrno>
#include <memory>

#include "ensemble/ensemble.h"
#include "fileio/console.h"
#include "fileio/error.h"
#include "fileio/output_file.h"
#include "fileio/units.h"
#include "formats/mesh.h"
#include "grid/grid.h"
#include "tool/companions.h"
#include "tool/operations.h"
#include "tool/options.h"
#include "util/path.h"
#include "util/text.h"

namespace kelvara {
namespace {

void noteGiven(RunOptions& o, const char* option) {
    std::vector<std::string>& given = o.operation.ensemble.given;
    for (const std::string& g : given)
        if (g == option) return;
    given.emplace_back(option);
}

std::string joinedWords(const std::vector<std::string>& words) {
    std::string text;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0) text += i + 1 == words.size() ? " and " : ", ";
        text += words[i];
    }
    return text;
}

std::string trimmedItem(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The runs of the command line: the list file's, then each --group's files.
RunList ensembleRuns(const RunOptions& o) {
    const EnsembleSettings& e = o.operation.ensemble;
    RunListBuilder builder = e.runsList.empty() ? RunListBuilder() : RunListBuilder(readRunList(e.runsList));
    std::size_t next = 0;
    for (int i = 1; i <= o.fileCount; ++i) {
        while (next < e.groups.size() && e.groups[next].second < i) builder.group(e.groups[next++].first);
        builder.run(o.fileNames[static_cast<std::size_t>(i)]);
    }
    return builder.finish();
}

std::vector<std::string> groupNamesOf(const RunList& runs) {
    std::vector<std::string> names;
    for (const EnsembleGroup& g : runs.groups) names.push_back(g.name);
    return names;
}

// The groups with their counts of runs, for the header: "1h (10), 2h (10), 9h (10)".
std::string groupsLine(const RunList& runs) {
    std::string text = AINTEGER(static_cast<int>(runs.runs.size())) +
                       (runs.runs.size() == 1 ? " run in " : " runs in ") +
                       AINTEGER(static_cast<int>(runs.groups.size())) +
                       (runs.groups.size() == 1 ? " group: " : " groups: ");
    for (std::size_t g = 0; g < runs.groups.size(); ++g) {
        if (g > 0) text += ", ";
        text += runs.groups[g].name + " (" + std::to_string(runs.groups[g].runs.size()) + ")";
    }
    return text;
}

std::string stepsLine(const EnsembleResult& result, std::size_t steps) {
    return AINTEGER(static_cast<int>(steps)) + (steps == 1 ? " step" : " steps") + " of " +
           AINTEGER(result.nodeCount) + " nodes and " + AINTEGER(result.cellCount) + " cells";
}

// Writes the steps through the output's sink (a grid), with the legend beside it, landed after
// the steps.
std::string writeThroughSink(const SinkType& type, const RunOptions& o, const EnsembleResult& result,
                             const std::string& output) {
    const std::string& firstRun = result.runs.runs.front().path;
    const CompanionResolver resolver = o.companions();
    SinkSetup setup;
    setup.output = output;
    setup.messages = [](const std::string& line) { consoleLine(line); };
    setup.cellSize = o.outputCellSize;
    setup.meshName = CLEANPATH(resolver.name(CompanionFile::Mesh, firstRun));
    setup.referenceName = resolver.name(CompanionFile::Reference, firstRun);
    const std::string mesh = setup.meshName;
    setup.readMesh = [mesh](MeshGeometry& m, std::int32_t nodes, std::int32_t cells) {
        consoleLine();
        consoleLine("...need to read .2dm file for the grid");
        const int unit = OPENFILEUNIT("I ", mesh);
        READ_2DM_GEOMETRY(unit, nodes, cells, m);
        CLOSEFILEUNIT(unit);
    };
    std::unique_ptr<StepSink> sink = type.make(setup);
    SinkStart start;
    start.nodeCount = result.nodeCount;
    start.cellCount = result.cellCount;
    start.steps = ensembleOutputSteps(o.operation.ensemble, groupNamesOf(result.runs));
    sink->begin(start);
    forEachEnsembleStep(result, [&sink](float time, const std::int8_t* active, const float* values) {
        sink->writeStep(time, active, values, nullptr);
    });
    sink->end();

    OutputFile legend(CLEANPATH(ensembleLegendName(output)));
    if (!legend.open()) throw legend.creationError();
    const std::string text = ensembleLegend(result);
    std::FILE* file = std::fopen(legend.workPath().c_str(), "w");
    const bool written = file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = file != nullptr && std::fclose(file) == 0;
    if (!written || !closed) {
        throw errorLine("ERROR - Could not write \"" + legend.name() + "\": " + std::strerror(errno),
                        ErrorCode::Output);
    }
    consoleFlush();
    sink->land();
    if (!legend.land()) {
        throw errorLine("ERROR - Could not finish writing \"" + legend.name() + "\": " +
                            std::strerror(errno), ErrorCode::Output);
    }
    return sink->summary();
}

}  // namespace

bool storeEnsembleRuns(RunOptions& o, const std::string& value, std::vector<std::string>& lines) {
    noteGiven(o, "--runs");
    if (!o.operation.ensemble.runsList.empty()) {
        lines = {"", "ERROR - --runs is given twice: name one list of runs (more runs can follow "
                     "on the command line, each group's files after --group NAME)."};
        return false;
    }
    o.operation.ensemble.runsList = value;
    return true;
}

bool storeEnsembleGroup(RunOptions& o, const std::string& value, std::vector<std::string>&) {
    noteGiven(o, "--group");
    o.operation.ensemble.groups.emplace_back(value, o.fileCount);
    return true;
}

bool storeEnsembleStat(RunOptions& o, const std::string& value, std::vector<std::string>& lines) {
    noteGiven(o, "--stat");
    const std::string word = LOWERCASE(trimmedItem(value));
    if (word != "median" && word != "mean") {
        lines = {"", "ERROR - --stat takes median or mean, not \"" + value + "\"."};
        return false;
    }
    o.operation.ensemble.mean = word == "mean";
    return true;
}

bool storeEnsemblePercentiles(RunOptions& o, const std::string& value,
                              std::vector<std::string>& lines) {
    noteGiven(o, "--percentiles");
    std::vector<double> percentiles;
    std::size_t at = 0;
    for (;;) {
        const std::size_t comma = value.find(',', at);
        const std::string item = trimmedItem(value.substr(at, comma == std::string::npos ? comma : comma - at));
        double p = 0.0;
        if (!readFlagNumber(item, p) || !(p >= 0.0 && p <= 100.0)) {
            lines = {"ERROR - Reading the percentiles of --percentiles",
                     "\"" + item + "\": each percentile must be a number from 0 to 100, the "
                     "percentiles separated by commas, for example --percentiles 10,50,90"};
            return false;
        }
        percentiles.push_back(p);
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    if (percentiles.size() > kMostPercentiles) {
        lines = {"", "ERROR - --percentiles names " + std::to_string(percentiles.size()) +
                         " percentiles: at most " + std::to_string(kMostPercentiles) +
                         " can be written."};
        return false;
    }
    o.operation.ensemble.percentiles = percentiles;
    return true;
}

bool storeEnsemblePerGroup(RunOptions& o, const std::string&, std::vector<std::string>&) {
    noteGiven(o, "--per-group");
    o.operation.ensemble.perGroup = true;
    return true;
}

bool storeEnsembleSkipMissing(RunOptions& o, const std::string&, std::vector<std::string>&) {
    noteGiven(o, "--skip-missing");
    o.operation.ensemble.skipMissing = true;
    return true;
}

bool checkEnsembleOptions(const RunOptions& o, std::vector<std::string>& lines) {
    const EnsembleSettings& e = o.operation.ensemble;
    if (o.operation.kind != OperationKind::Ensemble) {
        if (e.given.empty()) return true;
        lines = {"", "ERROR - " + joinedWords(e.given) + (e.given.size() == 1 ? " is" : " are") +
                         " only for -ensemble: add -ensemble, or leave " +
                         (e.given.size() == 1 ? "it" : "them") + " out."};
        return false;
    }
    if (e.runsList.empty() && o.fileCount == 0) {
        lines = {"", "ERROR - -ensemble needs its runs: --runs FILE (a list of group,file lines), "
                     "or on the command line --group NAME followed by the group's files."};
        return false;
    }
    if (o.fileCount > 0 && (e.groups.empty() || e.groups.front().second > 0)) {
        lines = {"", "ERROR - The run " + o.fileNames[1] + " comes before any --group NAME: give "
                     "each group's files after its --group NAME."};
        return false;
    }
    for (std::size_t g = 0; g < e.groups.size(); ++g) {
        const int next = g + 1 < e.groups.size() ? e.groups[g + 1].second : o.fileCount;
        if (next == e.groups[g].second) {
            lines = {"", "ERROR - --group " + e.groups[g].first + " is followed by no run: give "
                         "the group's files after its name."};
            return false;
        }
    }
    return true;
}

std::vector<OutputStep> ensembleOutputSteps(const EnsembleSettings& settings,
                                            const std::vector<std::string>& groupNames) {
    using Holds = EnsembleStepInfo::Holds;
    std::vector<OutputStep> steps;
    for (const EnsembleStepInfo& info :
         ensembleStepInfo(settings.mean ? Statistic::Mean : Statistic::Median, settings.percentiles,
                          groupNames, settings.perGroup)) {
        const StepKind kind = info.holds == Holds::GroupNumber ? StepKind::Classes
                              : info.holds == Holds::RunNumber ? StepKind::InputNumbers
                                                               : StepKind::Values;
        steps.push_back({info.time, kind, info.description,
                         info.holds == Holds::GroupNumber ? groupNames : std::vector<std::string>{},
                         std::string()});
    }
    return steps;
}

void describeEnsemble(const Operation& o, const std::vector<std::string>& inputs,
                      OperationShape& s) {
    const EnsembleSettings& e = o.ensemble;
    s.maxInputs = kMaxInputs;
    s.readsItsOwnInputs = true;
    s.output = OutputForm::Scalar;
    if (!e.runsList.empty()) {
        s.outputName = defaultEnsembleOutputName(e.runsList);
    } else {
        s.outputName = FILENAMEPATH(inputs.empty() ? std::string() : inputs.front()) + "(ensemble).dat";
    }
    // The groups named on the command line; those of a list are known once it is read.
    std::vector<std::string> groups;
    for (const auto& g : e.groups) {
        bool seen = false;
        for (const std::string& name : groups) seen = seen || name == g.first;
        if (!seen) groups.push_back(g.first);
    }
    s.steps = ensembleOutputSteps(e, groups);
}

void runEnsemble(RunState& run) {
    const auto started = std::chrono::steady_clock::now();
    const RunOptions& o = *run.options;
    const EnsembleSettings& e = o.operation.ensemble;
    const std::string output = run.outputName();

    EnsembleRequest request;
    request.runs = ensembleRuns(o);
    request.statistic = e.mean ? Statistic::Mean : Statistic::Median;
    request.percentiles = e.percentiles;
    request.perGroup = e.perGroup;
    request.skipMissing = e.skipMissing;
    request.outputPath = output;
    const std::string& firstRun = request.runs.runs.front().path;
    request.meshPath = o.companions().name(CompanionFile::Mesh, firstRun);

    consoleLine();
    consoleLine("KORVEN .dat Files:");
    if (!e.runsList.empty()) consoleLine("   List of runs: " + e.runsList);
    consoleLine("   " + groupsLine(request.runs));

    // Refused before any run is read: an output of a form it cannot take, or in an input's place.
    const SinkType* type = findSink(output);
    if (type == nullptr) {
        throw errorLine("ERROR - kelvara cannot write " + output + ": an output ends in " +
                        knownSinkExtensions() + ".", ErrorCode::Usage);
    }
    checkEnsembleOutputName(request.runs, output);
    if (!o.meshName.empty() && (CLEANPATH(o.meshName) == CLEANPATH(output) || sameFile(o.meshName, output))) {
        throw errorLine("ERROR - The output file \"" + output + "\" would replace the input \"" +
                        o.meshName + "\". Give the output another name.", ErrorCode::Output);
    }
    const bool dataset = type->make == makeDatasetSink;
    if (isGridOutput(output) && !grid::available()) {
        throw errorLine("ERROR - This build of kelvara cannot write grids: " +
                        grid::whyUnavailable() + ".");
    }
    if (type->meshFor != nullptr) {
        explainMissing(o.companions(), CompanionFile::Mesh, firstRun,
                       {type->meshReasonStart + output + type->meshReasonEnd + firstRun,
                        "the run's mesh"});
    }
    consoleLine();
    consoleLine(std::string(type->what) + ": " + output);

    consoleLine();
    consoleLine("Reading the peaks of the runs...");
    const EnsembleResult result = computeEnsemble(request, [](const std::string& line) {
        if (line.rfind("WARNING - ", 0) == 0) consoleLine();
        consoleLine(line);
    });

    if (result.spilled) {
        consoleLine();
        consoleLine("The peaks of the runs did not all fit in memory: some went through a work file "
                    "beside the output.");
    }
    std::string wrote;
    if (dataset) {
        const std::size_t steps =
            3 + result.percentileValues.size() + result.groupStatistics.size();
        // A console that can no longer be written fails the run before its output is put in place.
        consoleFlush();
        writeEnsembleOutputs(result, output);
        wrote = "Wrote " + CLEANPATH(output) + ": " + stepsLine(result, steps) + ".";
    } else {
        wrote = writeThroughSink(*type, o, result, output);
    }
    std::size_t missing = 0;
    for (const EnsembleRun& r : result.runs.runs) missing += r.missing ? 1 : 0;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    consoleLine();
    consoleLine("Finished.");
    consoleLine(wrote);
    consoleLine("Wrote " + ensembleLegendName(CLEANPATH(output)) + ": the legend of " +
                std::to_string(result.runs.groups.size()) +
                (result.runs.groups.size() == 1 ? " group and " : " groups and ") +
                std::to_string(result.runs.runs.size()) + " runs" +
                (missing > 0 ? " (" + std::to_string(missing) + " left out)" : "") + ".");
    char taken[64];
    std::snprintf(taken, sizeof taken, "Time taken: %.1f s", seconds);
    consoleLine(taken);
    if (!o.batch) pauseForUser();
    consoleFlush();
}

}  // namespace kelvara
