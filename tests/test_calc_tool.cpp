// -calc through the real tool: the expression after the flag or with --expr, the datasets it
// reads found beside the input or named, the output's name and steps, and the errors that stop
// a run before anything is written.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "support/dat_builder.h"
#include "support/tempdir.h"
#include "support/tool_runner.h"

namespace kelvara::test {
namespace {

struct Step {
    float time;
    std::vector<float> x;
    std::vector<float> y = {};  // vectors only
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

// A run of three nodes and one cell: bed 1, 2, 3; depths, levels and velocities (3-4-5
// triangles, speed 5 at node 0) at 0 h and 1 h, each dataset with its maxima at 99999.
void writeRun(const TempDir& dir, const std::string& stem = "run") {
    dir.write(stem + "_d.dat", datBytes({{0.0f, {0.5f, 0.0f, 2.0f}},
                                         {1.0f, {1.0f, 0.0f, 0.25f}, {}, {0}},
                                         {99999.0f, {1.0f, 0.0f, 2.0f}}}));
    dir.write(stem + "_h.dat", datBytes({{0.0f, {1.5f, 1.5f, 5.0f}},
                                         {1.0f, {2.0f, 2.0f, 3.25f}},
                                         {99999.0f, {2.0f, 2.0f, 5.0f}}}));
    dir.write(stem + "_V.dat", datBytes({{0.0f, {3.0f, 0.0f, 0.0f}, {4.0f, 1.0f, 0.0f}},
                                         {1.0f, {0.6f, 0.0f, 1.0f}, {0.8f, 0.0f, 0.0f}},
                                         {99999.0f, {3.0f, 1.0f, 1.0f}, {4.0f, 0.0f, 0.0f}}}));
    dir.write(stem + ".2dm",
              "MESH2D\nE3T 1 1 2 3 1\nND 1 0.0 0.0 1.0\nND 2 1.0 0.0 2.0\nND 3 0.0 1.0 3.0\n");
}

std::vector<std::string> withBatch(std::vector<std::string> args) {
    args.insert(args.begin(), "-b");
    return args;
}

TEST(CalcTool, TheExpressionAfterTheFlagOrWithExprAndTheOutputsName) {
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string output;
        std::vector<float> atZero;  // the values at 0 h
    };
    const std::vector<Case> cases = {
        {"a ready-made quantity names the output", {"-calc", "dv2", "run_d.dat"}, "run(dv2).dat",
         {0.5f * 25.0f, 0.0f, 0.0f}},
        {"a free expression, the velocities as the input", {"-calc", "d*v^2", "run_V.dat"},
         "run(calc).dat", {0.5f * 25.0f, 0.0f, 0.0f}},
        {"--expr after -calc", {"-calc", "--expr", "dv", "run_h.dat"}, "run(dv).dat",
         {0.5f * 5.0f, 0.0f, 0.0f}},
        {"--expr before -calc", {"--expr", "depth", "-calc", "run_h.dat"}, "run(depth).dat",
         {0.5f, 0.0f, 2.0f}},
        {"the file after -calc, then --expr", {"-calc", "run_h.dat", "--expr", "h - d"},
         "run(calc).dat", {1.0f, 1.5f, 3.0f}},
        {"--output", {"-calc", " energy ", "run_d.dat", "--output", "mine.dat"}, "mine.dat",
         {1.5f + 25.0f / (2.0f * 9.81f), 1.5f + 1.0f / (2.0f * 9.81f), 5.0f}},
        {"the bed and the time", {"-calc", "h - z + t", "run_h.dat"}, "run(calc).dat",
         {0.5f, -0.5f, 2.0f}},
        {"a dataset named instead of the one beside the input",
         {"-calc", "d", "run_h.dat", "--depth", "other_d.dat"}, "run(calc).dat",
         {7.0f, 7.0f, 7.0f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        writeRun(dir);
        dir.write("other_d.dat", datBytes({{0.0f, {7.0f, 7.0f, 7.0f}}}));
        const ToolResult r = runTool(withBatch(c.args), "", dir.path());
        ASSERT_EQ(r.status, 0) << r.output;
        const WrittenDat out = parseWrittenDat(readFile(dir.file(c.output)));
        ASSERT_EQ(out.error, "");
        EXPECT_FALSE(out.isVector);
        ASSERT_FALSE(out.steps.empty());
        ASSERT_EQ(out.steps[0].values1.size(), c.atZero.size());
        for (std::size_t i = 0; i < c.atZero.size(); ++i)
            EXPECT_NEAR(out.steps[0].values1[i], c.atZero[i], 1e-6f) << "node " << i;
    }
}

TEST(CalcTool, OutputTimesLeaveOutTheMaximaAndTimesADatasetLacks) {
    TempDir dir;
    writeRun(dir);
    // Velocities at 0 h and 2 h only: 1 h is left out, 2 h has no depths.
    dir.write("run_V.dat", datBytes({{0.0f, {1.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}, {0}},
                                     {2.0f, {2.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}},
                                     {99999.0f, {2.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}}}));
    const ToolResult r = runTool({"-b", "-calc", "d/v", "run_d.dat"}, "", dir.path());
    ASSERT_EQ(r.status, 0) << r.output;
    const WrittenDat out = parseWrittenDat(readFile(dir.file("run(calc).dat")));
    ASSERT_EQ(out.error, "");
    ASSERT_EQ(out.steps.size(), 1u);
    EXPECT_EQ(out.steps[0].time, 0.0f);
    // Active where either dataset is: the depths' cell is, the velocities' is not.
    EXPECT_EQ(out.steps[0].active, std::vector<std::int8_t>{1});
    EXPECT_EQ(out.steps[0].values1[0], 0.5f);
    EXPECT_TRUE(std::isnan(out.steps[0].values1[1]));  // 0 / 0
    EXPECT_TRUE(std::isnan(out.steps[0].values1[2]));  // 2 / 0
    EXPECT_TRUE(contains(r.output, "WARNING - run_V.dat has no step at time 1.000")) << r.output;
    EXPECT_TRUE(contains(r.output, "The step at 99999.000 of run_d.dat is not an output time"));
    EXPECT_EQ(countOf(r.output, "came out not a number or infinite"), 1u) << r.output;
    EXPECT_TRUE(contains(r.output, "WARNING - 2 values came out not a number")) << r.output;
}

TEST(CalcTool, DepthFromTheExamplesLevelsAndMeshIsItsDepths) {
    namespace fs = std::filesystem;
    const fs::path example = fs::path(__FILE__).parent_path().parent_path() / "examples" / "flood";
    TempDir dir;
    for (const char* name : {"base_h.dat", "base.2dm"})
        dir.write(name, readFile((example / name).string()));
    const ToolResult r = runTool({"-b", "-calc", "depth", "base_h.dat"}, "", dir.path());
    ASSERT_EQ(r.status, 0) << r.output;
    const WrittenDat got = parseWrittenDat(readFile(dir.file("base(depth).dat")));
    const WrittenDat want = parseWrittenDat(readFile((example / "base_d.dat").string()));
    ASSERT_EQ(got.error, "");
    ASSERT_EQ(want.error, "");
    ASSERT_EQ(got.steps.size() + 1, want.steps.size());  // the 99999 maxima left out
    std::size_t wet = 0;
    for (std::size_t s = 0; s < got.steps.size(); ++s) {
        EXPECT_EQ(got.steps[s].time, want.steps[s].time);
        for (std::size_t n = 0; n < want.steps[s].values1.size(); ++n) {
            if (!(want.steps[s].values1[n] > 0.0f)) continue;
            ++wet;
            EXPECT_NEAR(got.steps[s].values1[n], want.steps[s].values1[n], 2e-6f)
                << "step " << s << " node " << n;
        }
    }
    EXPECT_GT(wet, 100u);
}

TEST(CalcTool, ErrorsStopTheRunBeforeAnythingIsWritten) {
    struct Case {
        const char* what;
        std::vector<std::string> args;
        const char* removed;  // a file of the run taken away first, or ""
        std::vector<std::string> text;
    };
    const std::vector<Case> cases = {
        {"a syntax error", {"-calc", "d*/v", "run_d.dat"}, "",
         {"ERROR - Syntax error in the expression at character 3", "\n        d*/v\n"
                                                                   "          ^\n"}},
        {"an unknown name", {"-calc", "d*x", "run_d.dat"}, "",
         {"ERROR - Unknown name \"x\"", "The names: d (depth), h (water level), v (speed)",
          "The ready-made quantities: depth, dv, dv2, froude, energy."}},
        {"the velocities beside the depths missing", {"-calc", "dv2", "run_d.dat"}, "run_V.dat",
         {"ERROR - run_V.dat cannot be found", "the name of run_d.dat up to its last",
          "name it with --velocity"}},
        {"named depths missing", {"-calc", "d", "run_h.dat", "--depth", "gone_d.dat"}, "",
         {"ERROR - gone_d.dat cannot be found", "named with --depth"}},
        {"the mesh missing", {"-calc", "h - z", "run_h.dat"}, "run.2dm",
         {"ERROR - run.2dm cannot be found", "reads z (bed elevation)", "--mesh"}},
        {"no expression", {"-calc"}, "", {"ERROR - -calc needs an expression"}},
        {"the file where the expression goes", {"-calc", "run_d.dat"}, "",
         {"ERROR - -calc takes its expression first"}},
        {"two expressions", {"-calc", "d", "--expr", "v", "run_d.dat"}, "",
         {"ERROR - Two expressions were given, \"d\" after -calc and \"v\" with --expr"}},
        {"text stuck to the flag", {"-calcdv2", "run_d.dat"}, "",
         {"ERROR - Incorrect flag specified: \"-calcdv2\""}},
        {"a dataset option without -calc", {"-max", "run_d.dat", "--velocity", "run_V.dat"}, "",
         {"ERROR - --velocity gives -calc a dataset"}},
        {"vectors as depths", {"-calc", "d", "run_h.dat", "--depth", "run_V.dat"}, "",
         {"ERROR - run_V.dat is a vector dataset"}},
        {"components of scalars", {"-calc", "vx", "run_d.dat", "--velocity", "run_h.dat"}, "",
         {"ERROR - run_h.dat holds one value per node, not velocity vectors"}},
        {"an output that replaces a dataset read",
         {"-calc", "dv", "run_d.dat", "--output", "run_V.dat"}, "",
         {"would replace the input", "run_V.dat"}},
        {"another mesh", {"-calc", "d", "run_d.dat", "--depth", "small_d.dat"}, "",
         {"ERROR - Number nodes and/or cells in small_d.dat not the same"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        writeRun(dir);
        dir.write("small_d.dat", datBytes({{0.0f, {1.0f}}}));
        if (*c.removed != '\0') std::filesystem::remove(dir.file(c.removed));
        const std::vector<std::string> before = listFolder(dir.path());
        const std::string velocities = readFile(dir.file("run_V.dat"));
        const ToolResult r = runTool(withBatch(c.args), "", dir.path());
        EXPECT_NE(r.status, 0) << r.output;
        for (const std::string& part : c.text) EXPECT_TRUE(contains(r.output, part)) << r.output;
        EXPECT_EQ(listFolder(dir.path()), before);
        EXPECT_EQ(readFile(dir.file("run_V.dat")), velocities);
    }
}

}  // namespace
}  // namespace kelvara::test
