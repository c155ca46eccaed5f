// The duration (-dur<cutoff>) through the real tool: interpolated crossings, special times,
// values that are not numbers, vectors by magnitude, and the increment lines on the console.
#include <gtest/gtest.h>

#include <limits>

#include "support/dat_builder.h"
#include "support/tempdir.h"
#include "support/tool_runner.h"

namespace kelvara::test {
namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Step {
    float time;
    std::vector<float> x;
    std::vector<float> y;  // vectors only
    std::vector<std::int8_t> active = {1};
};

std::string datBytes(const std::vector<Step>& steps) {
    DatBuilder b;
    b.header(static_cast<std::int32_t>(steps.front().x.size()),
             static_cast<std::int32_t>(steps.front().active.size()), !steps.front().y.empty(),
             "test");
    for (const Step& s : steps) b.step(s.time, s.active, s.x, s.y);
    return b.end().bytes();
}

struct DurationRun {
    ToolResult result;
    WrittenDat out;
};

DurationRun runDuration(const std::vector<Step>& steps, const std::string& flag) {
    TempDir dir;
    dir.write("run_d.dat", datBytes(steps));
    DurationRun run{runTool({flag, "-b", "run_d.dat"}, "", dir.path()), {}};
    run.out = parseWrittenDat(readFile(dir.file("run_d(" + flag.substr(1) + ").dat")));
    return run;
}

struct DurationCase {
    const char* what;
    std::string flag;
    std::vector<Step> steps;
    std::vector<float> expected;  // hours per node, as single-precision arithmetic gives them
};

const std::vector<DurationCase> kCases = {
    {"crossings are interpolated, a value equal to the cutoff counts",
     "-dur0.1",
     {{0.0f, {0.0f, 0.1f, 0.3f, 0.0f}, {}},
      {1.0f, {0.2f, 0.1f, 0.0f, 0.05f}, {}},
      {2.0f, {0.2f, 0.1f, 0.0f, 0.0f}, {}}},
     {1.0f * (0.2f - 0.1f) / (0.2f - 0.0f) + 1.0f, 2.0f, 1.0f * (0.3f - 0.1f) / (0.3f - 0.0f),
      0.0f}},
    {"steps at special times are skipped and the next measured from the last ordinary one",
     "-dur1",
     {{0.0f, {2.0f, 0.0f}, {}},
      {1.0f, {2.0f, 0.0f}, {}},
      {99999.0f, {0.0f, 5.0f}, {}},
      {-99998.0f, {0.0f, 5.0f}, {}},
      {3.0f, {2.0f, 3.0f}, {}}},
     {1.0f + 2.0f, 2.0f * (3.0f - 1.0f) / (3.0f - 0.0f)}},
    {"a first step at a special time does not prime",
     "-dur1",
     {{111111.0f, {9.0f}, {}}, {0.0f, {2.0f}, {}}, {0.5f, {2.0f}, {}}},
     {0.5f}},
    {"one step gives no duration",
     "-dur0.1",
     {{0.0f, {5.0f}, {}}},
     {0.0f}},
    {"a value that is not a number is below the cutoff and never spoils the total",
     "-dur1",
     {{0.0f, {2.0f, kNaN}, {}},
      {1.0f, {kNaN, kNaN}, {}},
      {2.0f, {2.0f, 2.0f}, {}},
      {3.0f, {2.0f, 2.0f}, {}}},
     {1.0f, 1.0f}},
    {"vectors are measured by their magnitude",
     "-dur4.5",
     {{0.0f, {3.0f, 0.0f}, {4.0f, 4.0f}}, {2.0f, {3.0f, 0.0f}, {4.0f, 4.0f}}},
     {2.0f, 0.0f}},
};

TEST(Duration, HoursAtOrAboveTheCutoff) {
    for (const DurationCase& c : kCases) {
        SCOPED_TRACE(c.what);
        DurationRun run = runDuration(c.steps, c.flag);
        ASSERT_EQ(run.result.status, 0) << run.result.output;
        ASSERT_EQ(run.out.error, "");
        EXPECT_FALSE(run.out.isVector);
        ASSERT_EQ(run.out.steps.size(), 1u);
        EXPECT_EQ(run.out.steps[0].time, 111111.0f);
        EXPECT_EQ(run.out.steps[0].values1, c.expected);
    }
}

TEST(Duration, CellsActiveInAnyMeasuredStepAreActive) {
    // The priming step and skipped steps leave the flags alone.
    DurationRun run = runDuration({{0.0f, {1.0f}, {}, {1, 0, 0}},
                           {1.0f, {1.0f}, {}, {0, 0, 1}},
                           {99999.0f, {1.0f}, {}, {0, 1, 0}},
                           {2.0f, {1.0f}, {}, {0, 0, 0}}},
                          "-dur0.1");
    ASSERT_EQ(run.result.status, 0) << run.result.output;
    ASSERT_EQ(run.out.steps.size(), 1u);
    EXPECT_EQ(run.out.steps[0].active, (std::vector<std::int8_t>{0, 0, 1}));
}

TEST(Duration, OneIncrementLinePerMeasuredStep) {
    struct LineCase {
        float secondTime;
        std::vector<float> secondValues;
        std::string line;
    };
    const std::vector<LineCase> cases = {
        {0.25f, {1.0f, 0.75f}, "...Duration Increment = 0.25   Average duration of all nodes = 0.17h"},
        {12.0f, {1.0f, 1.0f}, "...Duration Increment =12.00   Average duration of all nodes = 9.00h"},
        {100.0f, {1.0f, 0.0f}, "...Duration Increment =*****   Average duration of all nodes =50.00h"},
        {-2.0f, {1.0f, 1.0f}, "WARNING - The time step at -2.000 does not come after the one at 0.000: the interval is not measured."},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.line);
        DurationRun run = runDuration({{0.0f, {1.0f, 0.0f}, {}}, {c.secondTime, c.secondValues, {}}},
                              "-dur0.5");
        ASSERT_EQ(run.result.status, 0) << run.result.output;
        // The first step is read before the file is announced.
        EXPECT_NE(run.result.output.find("Reading data for time 0.\n\nProcessing file: run_d.dat\n"
                                         "Reading data for time "),
                  std::string::npos)
            << run.result.output;
        EXPECT_NE(run.result.output.find("\n" + c.line + "\n"), std::string::npos)
            << run.result.output;
    }

    // No line for a skipped step.
    DurationRun skipped = runDuration({{0.0f, {1.0f}, {}}, {99999.0f, {1.0f}, {}}}, "-dur0.5");
    EXPECT_EQ(skipped.result.output.find("Duration Increment"), std::string::npos);
}

TEST(Duration, ADatasetWithoutStepsStopsWithAnError) {
    TempDir dir;
    DatBuilder b;
    dir.write("run_d.dat", b.header(2, 1, false, "test").end().bytes());
    ToolResult r = runTool({"-dur0.1", "-b", "run_d.dat"}, "", dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("ERROR - run_d.dat holds no time step."), std::string::npos)
        << r.output;
    EXPECT_FALSE(fileExists(dir.file("run_d(dur0.1).dat")));
}

}  // namespace
}  // namespace kelvara::test
