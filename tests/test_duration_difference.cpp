// The duration difference (-ddur) through the real tool: peaks up to the -t time, reference
// levels at that time, durations above level + cutoff in both runs, and the single output step.
#include <gtest/gtest.h>

#include "support/dat_builder.h"
#include "support/tempdir.h"
#include "support/tool_runner.h"

namespace kelvara::test {
namespace {

struct Step {
    float time;
    std::vector<std::int8_t> active;
    std::vector<float> values;
};

std::string datBytes(const std::vector<Step>& steps, std::int32_t nodes, std::int32_t cells) {
    DatBuilder b;
    b.header(nodes, cells, false, "test");
    for (const Step& s : steps) b.step(s.time, s.active, s.values);
    return b.end().bytes();
}

struct DdurCase {
    const char* what;
    std::vector<std::string> flags;  // -ddur<cutoff> and -t<time>
    std::vector<Step> run1, run2;
    std::vector<float> expected;
    std::vector<std::int8_t> active;
    std::vector<std::string> lines;  // console lines expected in this order
};

// Nodes, cutoff 0.25 and -t10:
//  1 run 1 has fallen from 6 to 5 (level 5, L 5.25), run 2 only by exactly the cutoff:
//    run 1 lies above L for 1.875 + 3.75 h, run 2 for 5 + 5 + 5 h
//  2 a fall equal to the cutoff in both runs: no level, 0 whatever the durations
//  3 run 2's peak (6) is the lower one: run 1 at 7 has not fallen below it, run 2 at 5 has
//    (level 5): 20 h against 5 + 3.75 h
//  4 never wet
//  5 the values 9 and 5 after the -t time are no peaks: the fall up to it is only 0.125
const std::vector<DdurCase> kCases = {
    {"reference level from the run that has fallen, measured in both runs",
     {"-ddur0.25", "-t10"},
     {{0.0f, {0, 0}, {4.0f, 1.0f, 8.0f, 0.0f, 3.0f}},
      {5.0f, {0, 0}, {6.0f, 1.5f, 8.0f, 0.0f, 4.0f}},
      {10.0f, {1, 1}, {5.0f, 1.25f, 7.0f, 0.0f, 3.875f}},
      {20.0f, {0, 0}, {5.0f, 1.0f, 7.0f, 0.0f, 9.0f}}},
     {{0.0f, {0, 0}, {6.0f, 1.5f, 6.0f, 0.0f, 3.0f}},
      {5.0f, {0, 0}, {6.0f, 1.5f, 6.0f, 0.0f, 4.0f}},
      {10.0f, {1, 0}, {5.75f, 1.25f, 5.0f, 0.0f, 3.875f}},
      {20.0f, {0, 0}, {4.75f, 0.0f, 5.0f, 0.0f, 5.0f}}},
     {-9.375f, 0.0f, 11.25f, 0.0f, 0.0f},
     {1, 0},
     {"Determining peak value of two simulations up until time:      10.00",
      "Processing file: a_h.dat", "Processing file: b_h.dat",
      "Determining higher value of two simulations at time:      10.00",
      "Processing file: a_h.dat", "Processing file: b_h.dat",
      "Calculating durations from file: a_h.dat", "Calculating durations from file: b_h.dat",
      "Calculating difference in duration..."}},
    {"a crossing on each side of the peak, and a step at 99999 ignored in peaks and durations",
     {"-ddur0.5", "-t2"},
     {{0.0f, {1}, {4.0f}}, {1.0f, {1}, {5.0f}}, {99999.0f, {1}, {9.0f}}, {2.0f, {1}, {4.0f}}},
     {{0.0f, {1}, {5.0f}}, {1.0f, {1}, {5.0f}}, {2.0f, {1}, {4.0f}}},
     {-0.5f},
     {1},
     {"Calculating durations from file: a_h.dat",
      "...Duration Increment = 1.00   Average duration of all nodes = 0.50h",
      "...Duration Increment = 1.00   Average duration of all nodes = 0.50h",
      "Calculating durations from file: b_h.dat",
      "...Duration Increment = 1.00   Average duration of all nodes = 1.00h",
      "...Duration Increment = 1.00   Average duration of all nodes = 0.50h"}},
    {"a first step at 99999 leaves that run no interval to measure",
     {"-ddur0.5", "-t2"},
     {{0.0f, {1}, {4.0f}}, {1.0f, {1}, {5.0f}}, {2.0f, {1}, {4.0f}}},
     {{99999.0f, {1}, {9.0f}}, {0.0f, {1}, {5.0f}}, {1.0f, {1}, {5.0f}}, {2.0f, {1}, {4.0f}}},
     {1.0f},
     {1},
     {"Calculating durations from file: b_h.dat", "Calculating difference in duration..."}},
    {"every step within 0.001 of the time sets the level",
     {"-ddur0.5", "-t10"},
     {{0.0f, {1}, {6.0f}}, {10.0f, {1}, {3.0f}}, {10.0005f, {1}, {4.0f}}, {20.0f, {1}, {4.0f}}},
     {{0.0f, {1}, {6.0f}}, {10.0f, {1}, {5.8f}}, {10.0005f, {1}, {5.8f}}, {20.0f, {1}, {5.8f}}},
     {-15.0f},
     {1},
     {}},
};

// Position just after the line in output, searching from "from"; npos when not found.
std::size_t findLine(const std::string& output, const std::string& line, std::size_t from) {
    std::size_t at = output.find("\n" + line + "\n", from == 0 ? 0 : from - 1);
    return at == std::string::npos ? at : at + line.size() + 2;
}

TEST(DurationDifference, WritesRunOneMinusRunTwoAtTheSummaryTime) {
    for (const DdurCase& c : kCases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const auto nodes = static_cast<std::int32_t>(c.expected.size());
        const auto cells = static_cast<std::int32_t>(c.active.size());
        dir.write("a_h.dat", datBytes(c.run1, nodes, cells));
        dir.write("b_h.dat", datBytes(c.run2, nodes, cells));
        std::vector<std::string> args = {"-b"};
        args.insert(args.end(), c.flags.begin(), c.flags.end());
        args.insert(args.end(), {"a_h.dat", "b_h.dat"});

        ToolResult r = runTool(args, "", dir.path());
        ASSERT_EQ(r.status, 0) << r.output;
        WrittenDat out = parseWrittenDat(readFile(dir.file("a_h - b_h.dat")));
        ASSERT_EQ(out.error, "");
        EXPECT_FALSE(out.isVector);
        ASSERT_EQ(out.steps.size(), 1u);
        EXPECT_EQ(out.steps[0].time, 111111.0f);
        EXPECT_EQ(out.steps[0].values1, c.expected);
        EXPECT_EQ(out.steps[0].active, c.active);
        std::size_t at = 0;
        for (const std::string& line : c.lines) {
            at = findLine(r.output, line, at);
            ASSERT_NE(at, std::string::npos) << "missing in order: " << line << "\n" << r.output;
        }
    }
}

TEST(DurationDifference, UnusableInputsEndTheRunWithAnError) {
    struct Case {
        const char* what;
        std::string run1, run2;
        std::string expected;
    };
    DatBuilder vector1, vector2, empty1, empty2;
    vector1.header(1, 1, true, "v").step(0.0f, {1}, {1.0f}, {2.0f}).end();
    vector2.header(1, 1, true, "v").step(0.0f, {1}, {1.0f}, {2.0f}).end();
    empty1.header(1, 1, false, "e").end();
    empty2.header(1, 1, false, "e").end();
    const std::vector<Case> cases = {
        {"vector datasets", vector1.bytes(), vector2.bytes(),
         "Reading data for time 0.\n\n"
         "ERROR - Vector data set can not be used for the -ddur option\n"},
        {"no steps after the header", empty1.bytes(), empty2.bytes(),
         "ERROR - a_h.dat has no time step at 1.000.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        dir.write("a_h.dat", c.run1);
        dir.write("b_h.dat", c.run2);
        ToolResult r = runTool({"-b", "-ddur0.1", "-t1", "a_h.dat", "b_h.dat"}, "", dir.path());
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_NE(r.output.find(c.expected), std::string::npos) << r.output;
        EXPECT_FALSE(fileExists(dir.file("a_h - b_h.dat")));
    }
}

}  // namespace
}  // namespace kelvara::test
