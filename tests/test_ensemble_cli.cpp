// -ensemble on the command line, through the built executable: the runs from a list file and
// from --group agree, the statistics asked for are the ones written, bad runs and misplaced
// options are refused by name with nothing written, and the output's name follows its rules.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "../examples/ensemble_case.h"
#include "grid/grid.h"
#include "support/dat_builder.h"
#include "support/tempdir.h"
#include "support/tool_runner.h"

namespace kelvara {
namespace {

using test::contains;
using test::DatBuilder;
using test::fileExists;
using test::listFolder;
using test::parseWrittenDat;
using test::readFile;
using test::runTool;
using test::TempDir;
using test::WrittenDat;

const float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kDry = -99999.0f;  // no value: scalars count only above -99998

// A depth run of nodes.size() nodes and two cells: an ordinary step of lower values, then the
// model's maximum at 99999.
std::string runBytes(const std::vector<float>& peaks) {
    const auto nodes = static_cast<std::int32_t>(peaks.size());
    std::vector<float> low(peaks.size());
    for (std::size_t n = 0; n < peaks.size(); ++n) low[n] = peaks[n] == kDry ? kDry : peaks[n] - 0.5f;
    DatBuilder b;
    b.header(nodes, 2, false, "Depth");
    b.step(1.0f, {1, 0}, low);
    b.step(99999.0f, {1, 1}, peaks);
    b.end();
    return b.bytes();
}

// Two groups of three runs, three nodes: node 1 and 2 have values, node 3 none in any run.
//   node 1: 1h 1, 2, 6 (median 2, mean 3); 2h 4, 5, 3 (median 4, mean 4)
//   node 2: 1h 5, 1, 1 (median 1, mean 7/3); 2h 2, 2, 2 (median 2, mean 2)
struct Study {
    TempDir dir;
    Study() {
        const std::vector<std::vector<float>> peaks = {{1, 5, kDry}, {2, 1, kDry}, {6, 1, kDry},
                                                       {4, 2, kDry}, {5, 2, kDry}, {3, 2, kDry}};
        const char* names[] = {"a_d.dat", "b_d.dat", "c_d.dat", "d_d.dat", "e_d.dat", "f_d.dat"};
        for (std::size_t r = 0; r < 6; ++r) dir.write(names[r], runBytes(peaks[r]));
        dir.write("study.csv",
                  "group,file\n# one hour\n1h,a_d.dat\n1h,b_d.dat\n1h,c_d.dat\n"
                  "2h,d_d.dat\n2h,e_d.dat\n2h,f_d.dat\n");
    }
    test::ToolResult run(std::vector<std::string> args) const {
        args.insert(args.begin(), "-b");
        return runTool(args, "", dir.path());
    }
    WrittenDat output(const std::string& name) const {
        return parseWrittenDat(readFile(dir.file(name)));
    }
};

const std::vector<std::string> kCommandLineRuns = {"--group", "1h", "a_d.dat", "b_d.dat", "c_d.dat",
                                                   "--group", "2h", "d_d.dat", "e_d.dat", "f_d.dat"};

std::vector<std::string> withRuns(std::vector<std::string> args) {
    args.insert(args.end(), kCommandLineRuns.begin(), kCommandLineRuns.end());
    return args;
}

bool same(float a, float b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

TEST(EnsembleCommandLine, AListAndGroupsOnTheCommandLineWriteTheSameOutput) {
    Study s;
    const auto fromList =
        s.run({"-ensemble", "--runs", "study.csv", "--percentiles", "25,75", "--per-group"});
    ASSERT_EQ(fromList.status, 0) << fromList.output;
    const auto fromGroups = s.run(withRuns(
        {"-ensemble", "--percentiles=25,75", "--per-group", "--output", "groups.dat"}));
    ASSERT_EQ(fromGroups.status, 0) << fromGroups.output;

    const WrittenDat a = s.output("study(ensemble).dat");
    const WrittenDat b = s.output("groups.dat");
    ASSERT_EQ(a.error, "");
    ASSERT_EQ(a.steps.size(), 7u);  // 3, two percentiles, two groups
    ASSERT_EQ(b.steps.size(), a.steps.size());
    for (std::size_t k = 0; k < a.steps.size(); ++k) {
        EXPECT_EQ(a.steps[k].time, b.steps[k].time);
        EXPECT_EQ(a.steps[k].active, b.steps[k].active);
        for (std::size_t n = 0; n < 3; ++n)
            EXPECT_TRUE(same(a.steps[k].values1[n], b.steps[k].values1[n])) << k << " " << n;
    }
    EXPECT_EQ(readFile(s.dir.file("study(ensemble).csv")), readFile(s.dir.file("groups.csv")));
    // Progress per run, with its group, and the time taken.
    EXPECT_TRUE(contains(fromList.output, "[1/6] 1h/a_d.dat")) << fromList.output;
    EXPECT_TRUE(contains(fromList.output, "[6/6] 2h/f_d.dat")) << fromList.output;
    EXPECT_TRUE(contains(fromList.output, "Time taken: ")) << fromList.output;
    EXPECT_FALSE(contains(fromList.output, "Press Enter")) << fromList.output;
}

// With -b nothing waits for an answer; without it the run ends on its pause, which meets the
// end of standard input.
TEST(EnsembleCommandLine, WaitsForEnterOnlyWithoutBatchMode) {
    const struct {
        bool batch;
        bool pauses;
    } cases[] = {{true, false}, {false, true}};
    for (const auto& c : cases) {
        Study s;
        std::vector<std::string> args = {"-ensemble", "--runs", "study.csv"};
        if (c.batch) args.insert(args.begin(), "-b");
        const auto result = runTool(args, "", s.dir.path());
        EXPECT_EQ(result.status, 0) << result.output;
        EXPECT_EQ(contains(result.output, "Press Enter"), c.pauses) << result.output;
        EXPECT_TRUE(fileExists(s.dir.file("study(ensemble).dat"))) << result.output;
    }
}

struct StatisticCase {
    const char* what;
    std::vector<std::string> options;
    // Per written step: its time and the values of nodes 1 to 3.
    std::vector<std::pair<float, std::vector<float>>> steps;
};

TEST(EnsembleCommandLine, WritesTheStatisticsAskedFor) {
    const std::vector<StatisticCase> cases = {
        {"median (the default)", {},
         {{120001, {4, 2, kNaN}}, {120002, {2, 2, kNaN}}, {120003, {4, 4, kNaN}}}},
        {"mean: node 2's greatest mean is group 1's, represented by its first run",
         {"--stat", "mean"},
         {{120001, {4, 7.0f / 3.0f, kNaN}}, {120002, {2, 1, kNaN}}, {120003, {4, 1, kNaN}}}},
        {"percentiles over all six runs, in the order given",
         {"--percentiles", "50, 0,100"},
         {{120001, {4, 2, kNaN}}, {120002, {2, 2, kNaN}}, {120003, {4, 4, kNaN}},
          {120011, {3.5f, 2, kNaN}}, {120012, {1, 1, kNaN}}, {120013, {6, 5, kNaN}}}},
        {"each group's statistic", {"--per-group", "--stat=MEAN"},
         {{120001, {4, 7.0f / 3.0f, kNaN}}, {120002, {2, 1, kNaN}}, {120003, {4, 1, kNaN}},
          {120101, {3, 7.0f / 3.0f, kNaN}}, {120102, {4, 2, kNaN}}}},
    };
    for (const StatisticCase& c : cases) {
        Study s;
        std::vector<std::string> args = {"-ensemble", "--runs", "study.csv"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto result = s.run(args);
        ASSERT_EQ(result.status, 0) << c.what << "\n" << result.output;
        const WrittenDat out = s.output("study(ensemble).dat");
        ASSERT_EQ(out.error, "") << c.what;
        ASSERT_EQ(out.steps.size(), c.steps.size()) << c.what;
        for (std::size_t k = 0; k < c.steps.size(); ++k) {
            EXPECT_EQ(out.steps[k].time, c.steps[k].first) << c.what;
            // A cell is active where any run's was in a step it used (the 99999 step).
            EXPECT_EQ(out.steps[k].active, (std::vector<std::int8_t>{1, 1})) << c.what;
            for (std::size_t n = 0; n < 3; ++n) {
                EXPECT_TRUE(same(out.steps[k].values1[n], c.steps[k].second[n]))
                    << c.what << ": step " << c.steps[k].first << " node " << n + 1 << " is "
                    << out.steps[k].values1[n];
            }
        }
    }
}

struct RefusalCase {
    const char* what;
    std::vector<std::string> args;
    std::string line;  // a line, or the start of one, that the console must hold
    int status;
};

// Runs that cannot be used, and options out of place: refused by name, nothing written (or,
// with --skip-missing, a warning and the output).
TEST(EnsembleCommandLine, RefusesBadRunsAndMisplacedOptionsByName) {
    const std::vector<RefusalCase> cases = {
        {"a missing run", {"-ensemble", "--group", "1h", "a_d.dat", "gone_d.dat", "b_d.dat"},
         "ERROR - The run gone_d.dat (the command line) cannot be found or read.", 1},
        {"a missing run in the list", {"-ensemble", "--runs", "broken.csv"},
         "ERROR - The run gone_d.dat (line 2 of broken.csv) cannot be found or read.", 1},
        {"a run of another node count",
         {"-ensemble", "--group", "1h", "a_d.dat", "b_d.dat", "--group", "2h", "small_d.dat"},
         "small_d.dat", 1},
        {"the same run twice", {"-ensemble", "--group", "1h", "a_d.dat", "./a_d.dat"},
         "ERROR - ./a_d.dat (the command line) is the same file as a_d.dat", 1},
        {"a run before any --group", {"-ensemble", "a_d.dat", "--group", "1h", "b_d.dat"},
         "ERROR - The run a_d.dat comes before any --group NAME", 1},
        {"a --group without runs", {"-ensemble", "--group", "1h", "a_d.dat", "--group", "2h"},
         "ERROR - --group 2h is followed by no run", 1},
        {"-ensemble without runs", {"-ensemble", "--stat", "mean"},
         "ERROR - -ensemble needs its runs", 1},
        {"an ensemble option with another operation", {"-max", "--per-group", "a_d.dat"},
         "ERROR - --per-group is only for -ensemble", 1},
        {"ensemble options without any operation", {"--runs", "study.csv", "--stat", "mean"},
         "ERROR - --runs and --stat are only for -ensemble", 1},
        {"an unknown statistic", {"-ensemble", "--runs", "study.csv", "--stat", "mode"},
         "ERROR - --stat takes median or mean, not \"mode\".", 1},
        {"a percentile above 100", {"-ensemble", "--runs", "study.csv", "--percentiles", "10,101"},
         "\"101\": each percentile must be a number from 0 to 100", 1},
        {"a percentile that is no number", {"-ensemble", "--runs", "study.csv", "--percentiles", "10,,90"},
         "\"\": each percentile must be a number from 0 to 100", 1},
        {"an output in a run's place", {"-ensemble", "--runs", "study.csv", "--output", "c_d.dat"},
         "ERROR - The output file \"c_d.dat\" would replace the input", 1},
        {"a legend in the list's place", {"-ensemble", "--runs", "study.csv", "--output", "study.dat"},
         "would replace the input \"study.csv\"", 1},
        {"an output of no known form", {"-ensemble", "--runs", "study.csv", "--output", "out.txt"},
         "ERROR - kelvara cannot write out.txt", 1},
#ifndef _WIN32
        {"a list that is no list (a device without end)", {"-ensemble", "--runs", "/dev/zero"},
         "ERROR - \"/dev/zero\" is over 64 MiB: it is not a list of runs.", 1},
#endif
        {"with --skip-missing a missing run is a warning",
         {"-ensemble", "--skip-missing", "--group", "1h", "a_d.dat", "gone_d.dat", "b_d.dat"},
         "WARNING - The run gone_d.dat (the command line) cannot be found or read: it is left out "
         "of group 1h.", 0},
        {"a group of one run is a warning", {"-ensemble", "--group", "1h", "a_d.dat", "--group", "2h", "d_d.dat", "e_d.dat"},
         "WARNING - The group 1h has a single run", 0},
    };
    for (const RefusalCase& c : cases) {
        Study s;
        s.dir.write("small_d.dat", runBytes({1, 2}));
        s.dir.write("broken.csv", "1h,a_d.dat\n1h,gone_d.dat\n");
        const std::vector<std::string> before = listFolder(s.dir.path());
        const auto result = s.run(c.args);
        EXPECT_EQ(result.status, c.status) << c.what << "\n" << result.output;
        EXPECT_TRUE(contains(result.output, c.line)) << c.what << "\n" << result.output;
        if (c.status != 0) {
            EXPECT_EQ(listFolder(s.dir.path()), before) << c.what << ": something was written";
        } else {
            EXPECT_TRUE(fileExists(s.dir.file("a_d(ensemble).dat"))) << c.what;
        }
    }
}

TEST(EnsembleCommandLine, ALeftOutRunKeepsItsNumberInTheLegend) {
    Study s;
    const auto result = s.run({"-ensemble", "--skip-missing", "--group", "1h", "a_d.dat",
                               "gone_d.dat", "b_d.dat", "--group", "2h", "d_d.dat", "e_d.dat"});
    ASSERT_EQ(result.status, 0) << result.output;
    const std::string legend = readFile(s.dir.file("a_d(ensemble).csv"));
    EXPECT_TRUE(contains(legend, "\n2,missing,gone_d.dat,1h\n")) << legend;
    EXPECT_TRUE(contains(legend, "\n4,run,d_d.dat,2h\n")) << legend;
    // Node 1: 1h's runs 1 and 3 (1, 2: median 1.5), 2h's 4 and 5 (4, 5: 4.5), represented by
    // run 5 (number 5 of the list, the gap kept).
    const WrittenDat out = s.output("a_d(ensemble).dat");
    ASSERT_EQ(out.steps.size(), 3u);
    EXPECT_EQ(out.steps[0].values1[0], 4.5f);
    EXPECT_EQ(out.steps[2].values1[0], 5.0f);
    EXPECT_TRUE(contains(result.output, "[4/4] 2h/e_d.dat")) << result.output;
}

struct NameCase {
    const char* what;
    std::vector<std::string> args;
    std::vector<std::string> written;  // the output and its legend, from the test's folder
};

TEST(EnsembleCommandLine, NamesItsOutputByTheListOrTheFirstRun) {
    const std::vector<NameCase> cases = {
        {"beside the list, after its stem", {"-ensemble", "--runs", "lists/study.csv"},
         {"lists/study(ensemble).dat", "lists/study(ensemble).csv"}},
        {"after the first run when the runs are on the command line", withRuns({"-ensemble"}),
         {"a_d(ensemble).dat", "a_d(ensemble).csv"}},
        {"the list's name when both are given", {"-ensemble", "--runs", "lists/study.csv", "--group", "2h", "e_d.dat", "f_d.dat"},
         {"lists/study(ensemble).dat", "lists/study(ensemble).csv"}},
        {"--output, with the legend beside it", withRuns({"-ensemble", "--output", "out/design.dat"}),
         {"out/design.dat", "out/design.csv"}},
    };
    for (const NameCase& c : cases) {
        Study s;
        std::filesystem::create_directories(s.dir.file("lists"));
        std::filesystem::create_directories(s.dir.file("out"));
        s.dir.write("lists/study.csv", "1h,../a_d.dat\n1h,../b_d.dat\n9h,../c_d.dat\n9h,../d_d.dat\n");
        const auto result = s.run(c.args);
        ASSERT_EQ(result.status, 0) << c.what << "\n" << result.output;
        for (const std::string& name : c.written)
            EXPECT_TRUE(fileExists(s.dir.file(name))) << c.what << ": " << name << "\n" << result.output;
        EXPECT_TRUE(contains(result.output, "Wrote " + c.written[0] + ":")) << c.what << "\n" << result.output;
    }
}

// A list and runs given together: the command line's runs follow the list's, in their groups.
TEST(EnsembleCommandLine, RunsOnTheCommandLineFollowTheList) {
    Study s;
    s.dir.write("part.csv", "1h,a_d.dat\n2h,d_d.dat\n");
    const auto result = s.run({"-ensemble", "--runs", "part.csv", "--group", "2h", "e_d.dat",
                               "--group", "1h", "b_d.dat", "c_d.dat", "--group", "2h", "f_d.dat"});
    ASSERT_EQ(result.status, 0) << result.output;
    const std::string legend = readFile(s.dir.file("part(ensemble).csv"));
    for (const char* row : {"\n1,run,a_d.dat,1h\n", "\n2,run,d_d.dat,2h\n", "\n3,run,e_d.dat,2h\n",
                            "\n4,run,b_d.dat,1h\n", "\n6,run,f_d.dat,2h\n", "\n2,group,2h,2h\n"})
        EXPECT_TRUE(contains(legend, row)) << row << "\n" << legend;
    // The same six peaks as the study: the same envelope.
    EXPECT_EQ(s.output("part(ensemble).dat").steps[0].values1[0], 4.0f);
}

namespace fs = std::filesystem;

TEST(EnsembleExample, ShippedFilesEqualAFreshGeneration) {
    const fs::path shipped = fs::path(__FILE__).parent_path().parent_path() / "examples" / "ensemble";
    ASSERT_TRUE(fs::is_directory(shipped)) << shipped;
    TempDir dir;
    for (const std::string& name : flood_example::writeEnsembleCase(dir.path())) {
        EXPECT_TRUE(readFile((shipped / name).string()) == readFile(dir.file(name)))
            << name << " is stale: regenerate examples/ensemble (see its README.md)";
    }
}

// The example's point: the critical duration changes along the valley, 1h at the upstream end
// and 9h at the downstream end, each represented by one of its own runs.
TEST(EnsembleExample, TheCriticalDurationChangesAlongTheValley) {
    TempDir dir;
    flood_example::writeEnsembleCase(dir.path());
    const auto result = runTool({"-b", "-ensemble", "--runs", "study.csv"}, "", dir.path());
    ASSERT_EQ(result.status, 0) << result.output;
    const WrittenDat out = parseWrittenDat(readFile(dir.file("study(ensemble).dat")));
    ASSERT_EQ(out.steps.size(), 3u);
    // The middle node of the first and of the last cross-section.
    const int middle = flood_example::kRows / 2;
    const struct {
        int column;
        float group;
        float firstRun, lastRun;
    } ends[] = {{0, 1, 1, 3}, {flood_example::kColumns - 1, 3, 7, 9}};
    for (const auto& end : ends) {
        const auto n = static_cast<std::size_t>(flood_example::nodeNumber(end.column, middle) - 1);
        EXPECT_EQ(out.steps[1].values1[n], end.group) << "column " << end.column;
        EXPECT_GE(out.steps[2].values1[n], end.firstRun) << "column " << end.column;
        EXPECT_LE(out.steps[2].values1[n], end.lastRun) << "column " << end.column;
        EXPECT_GT(out.steps[0].values1[n], 1.0f) << "column " << end.column;
    }
}

// A grid output gets the steps through its sink: the envelope, the critical group, the
// representative run and the percentile drawn as bands (the group and run numbers taken from
// a cell's corners, never interpolated), the legend beside it.
TEST(EnsembleExample, AGridOutputDrawsTheStepsOfValues) {
    if (!grid::available()) GTEST_SKIP() << "built without GDAL";
    TempDir dir;
    flood_example::writeEnsembleCase(dir.path());
    const auto result = runTool({"-b", "-ensemble", "--runs", "study.csv", "--percentiles", "50",
                                 "--output", "design.tif", "--cell", "25", "--mesh", "valley.2dm"},
                                "", dir.path());
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_TRUE(contains(result.output, "Wrote design.tif: 4 bands of ")) << result.output;
    EXPECT_TRUE(fileExists(dir.file("design.csv")));
    EXPECT_FALSE(fileExists(dir.file("study(ensemble).dat")));
}

}  // namespace
}  // namespace kelvara
