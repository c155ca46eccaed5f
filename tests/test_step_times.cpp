// Step times through the real tool: intervals whose time does not increase (-dur, -ddur), and
// the times given with -k, -r and -t, which name the steps within 0.001 of them and must name
// at least one.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/dat_builder.h"
#include "support/tempdir.h"
#include "support/tool_runner.h"

namespace kelvara::test {
namespace {

struct Step {
    float time;
    std::vector<float> values;
};

std::string datBytes(const std::vector<Step>& steps) {
    DatBuilder b;
    b.header(static_cast<std::int32_t>(steps.front().values.size()), 1, false, "test");
    for (const Step& s : steps) b.step(s.time, {1}, s.values);
    return b.end().bytes();
}

struct IntervalCase {
    const char* what;
    std::vector<std::string> args;  // besides -b; inputs are a_h.dat and b_h.dat
    std::vector<Step> run1, run2;   // run2 only for -ddur
    std::string output;
    std::vector<float> expected;
    std::vector<std::string> warnings;  // each printed exactly once
};

const std::vector<IntervalCase> kIntervalCases = {
    {"times that go back add nothing", {"-dur0.5", "a_h.dat"},
     {{3.0f, {1.0f}}, {2.0f, {1.0f}}, {1.0f, {1.0f}}}, {}, "a_h(dur0.5).dat", {0.0f},
     {"WARNING - The time step at 2.000 does not come after the one at 3.000: the interval is "
      "not measured.",
      "WARNING - The time step at 1.000 does not come after the one at 2.000: the interval is "
      "not measured."}},
    {"two runs one after the other that both start at 0: each is measured from its own start",
     {"-dur0.5", "a_h.dat"},
     {{0.0f, {1.0f}}, {10.0f, {1.0f}}, {0.0f, {0.0f}}, {5.0f, {1.0f}}, {10.0f, {1.0f}}},
     {}, "a_h(dur0.5).dat", {10.0f + 2.5f + 5.0f},
     {"WARNING - The time step at 0.000 does not come after the one at 10.000: the interval is "
      "not measured."}},
    {"a repeated time adds nothing", {"-dur0.5", "a_h.dat"},
     {{0.0f, {0.0f}}, {1.0f, {1.0f}}, {1.0f, {0.0f}}, {2.0f, {0.0f}}}, {}, "a_h(dur0.5).dat",
     {0.5f},
     {"WARNING - The time step at 1.000 does not come after the one at 1.000: the interval is "
      "not measured."}},
    {"-ddur: a run whose times go back after the -t time", {"-ddur0.5", "-t2", "a_h.dat", "b_h.dat"},
     {{0.0f, {4.0f}}, {1.0f, {5.0f}}, {2.0f, {4.0f}}, {1.0f, {5.0f}}, {3.0f, {5.0f}}},
     {{0.0f, {4.0f}}, {1.0f, {5.0f}}, {2.0f, {4.0f}}, {3.0f, {4.0f}}}, "a_h - b_h.dat",
     {(0.5f + 0.5f + 2.0f) - (0.5f + 0.5f)},
     {"WARNING - The time step at 1.000 does not come after the one at 2.000: the interval is "
      "not measured."}},
};

TEST(StepTimes, IntervalsWhoseTimeDoesNotIncreaseAddNothingAndWarn) {
    for (const IntervalCase& c : kIntervalCases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        dir.write("a_h.dat", datBytes(c.run1));
        if (!c.run2.empty()) dir.write("b_h.dat", datBytes(c.run2));
        std::vector<std::string> args = {"-b"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ToolResult r = runTool(args, "", dir.path());
        ASSERT_EQ(r.status, 0) << r.output;
        const WrittenDat out = parseWrittenDat(readFile(dir.file(c.output)));
        ASSERT_EQ(out.error, "");
        ASSERT_EQ(out.steps.size(), 1u);
        EXPECT_EQ(out.steps[0].values1, c.expected);
        for (const std::string& w : c.warnings) EXPECT_EQ(countOf(r.output, w), 1u) << r.output;
        EXPECT_FALSE(contains(r.output, "Increment =-")) << r.output;
    }
}

// Steps every 20 minutes: the times listing prints the second as 0.333.
const std::vector<Step> kThirds = {
    {0.0f, {1.0f}}, {1.0f / 3.0f, {2.0f}}, {2.0f / 3.0f, {3.0f}}, {1.0f, {4.0f}}};

struct GivenTimeCase {
    const char* what;
    std::vector<std::string> args;  // besides -b; the inputs are a_d.dat and b_d.dat
    std::string output;             // "" when the run must stop with an error and no output
    std::vector<float> times;       // of the output's steps
    std::string message;            // a console line expected
};

const std::vector<GivenTimeCase> kGivenTimeCases = {
    {"-k keeps the step the times listing shows as 0.333", {"-k0.333", "a_d.dat"},
     "a_d(k0.333).dat", {1.0f / 3.0f}, ""},
    {"-r removes it", {"-r0.333", "a_d.dat"}, "a_d(r0.333).dat", {0.0f, 2.0f / 3.0f, 1.0f}, ""},
    {"-k of a time no step has is an error", {"-k0.5", "a_d.dat"}, "", {},
     "ERROR - a_d.dat has no time step at 0.500."},
    {"-k of a time 0.001 away from every step is an error", {"-k0.332", "a_d.dat"}, "", {},
     "ERROR - a_d.dat has no time step at 0.332."},
    {"-r of a time no step has warns and copies every step", {"-r0.5", "a_d.dat"},
     "a_d(r0.5).dat", {0.0f, 1.0f / 3.0f, 2.0f / 3.0f, 1.0f},
     "WARNING - a_d.dat has no time step at 0.500: nothing was removed."},
    {"-max -t of a time the second input lacks is an error naming it",
     {"-max", "-t1", "a_d.dat", "b_d.dat"}, "", {}, "ERROR - b_d.dat has no time step at 1.000."},
    {"-max -t of a time every input has", {"-max", "-t0.667", "a_d.dat", "a2_d.dat"},
     "a_d(maxmax).dat", {111111.0f, 222222.0f}, ""},
    {"-ddur -t of a time the first run lacks is an error naming it",
     {"-ddur0.1", "-t0.5", "a_d.dat", "a2_d.dat"}, "", {},
     "ERROR - a_d.dat has no time step at 0.500."},
};

TEST(StepTimes, GivenTimesNameTheStepsWithinAThousandthAndMustNameOne) {
    for (const GivenTimeCase& c : kGivenTimeCases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        dir.write("a_d.dat", datBytes(kThirds));
        dir.write("a2_d.dat", datBytes(kThirds));
        dir.write("b_d.dat", datBytes({{0.0f, {1.0f}}, {0.5f, {2.0f}}}));
        std::vector<std::string> args = {"-b"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const std::vector<std::string> before = listFolder(dir.path());
        const ToolResult r = runTool(args, "", dir.path());
        if (!c.message.empty()) {
            EXPECT_TRUE(contains(r.output, "\n" + c.message + "\n")) << r.output;
        }
        if (c.output.empty()) {
            EXPECT_EQ(r.status, 1) << r.output;
            EXPECT_EQ(listFolder(dir.path()), before) << "an output was left behind";
            continue;
        }
        ASSERT_EQ(r.status, 0) << r.output;
        const WrittenDat out = parseWrittenDat(readFile(dir.file(c.output)));
        ASSERT_EQ(out.error, "");
        std::vector<float> times;
        for (const WrittenStep& s : out.steps) times.push_back(s.time);
        EXPECT_EQ(times, c.times);
    }
}

}  // namespace
}  // namespace kelvara::test
