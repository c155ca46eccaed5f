// -calc through the real tool: the expression after the flag or with --expr, the datasets it
// reads found beside the input or named, the output's name and steps, and the errors that stop
// a run before anything is written.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "calc/calc.h"
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

// The calculator is optional: a build without muParser refuses -calc (CalcToolWithout below).
class CalcTool : public ::testing::Test {
protected:
    void SetUp() override {
        if (!calc::available()) GTEST_SKIP() << "built without muParser";
    }
};

TEST(CalcToolWithout, MuParserRefusesClearlyAndWritesNothing) {
    if (calc::available()) GTEST_SKIP() << "built with muParser";
    TempDir dir;
    DatBuilder dat;
    dir.write("run_d.dat", dat.header(3, 1, false, "d").step(0.0f, {1}, {1, 2, 3}, {}).end().bytes());
    const ToolResult r = runTool({"-b", "-calc", "dv2", "run_d.dat"}, "", dir.path());
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("ERROR - This build of kelvara has no calculator"), std::string::npos)
        << r.output;
    EXPECT_FALSE(std::filesystem::exists(dir.file("run(dv2).dat")));
}

TEST_F(CalcTool, TheExpressionAfterTheFlagOrWithExprAndTheOutputsName) {
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

TEST_F(CalcTool, OutputTimesLeaveOutTheMaximaAndTimesADatasetLacks) {
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

TEST_F(CalcTool, DepthFromTheExamplesLevelsAndMeshIsItsDepths) {
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

TEST_F(CalcTool, ErrorsStopTheRunBeforeAnythingIsWritten) {
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

void setThreads(const std::string& value) {
#ifdef _WIN32
    _putenv_s("KELVARA_THREADS", value.c_str());
#else
    setenv("KELVARA_THREADS", value.c_str(), 1);
#endif
}

// Node values with dry runs, wet ones and now and then one that is not a number or infinite.
std::vector<float> randomValues(std::mt19937& random, std::size_t count) {
    std::uniform_real_distribution<float> value(-0.5f, 3.0f);
    std::vector<float> v(count);
    for (std::size_t i = 0; i < count; ++i) {
        v[i] = random() % 3 == 0 ? 0.0f : value(random);
        if (random() % 20000 == 0) v[i] = std::numeric_limits<float>::quiet_NaN();
        if (random() % 20000 == 1) v[i] = std::numeric_limits<float>::infinity();
    }
    return v;
}

TEST_F(CalcTool, ResultsDoNotDependOnTheNumberOfThreads) {
    // Enough nodes for reads shared out in several parts, each computed on as it arrives.
    constexpr std::size_t kNodes = 300003;
    constexpr std::size_t kCells = 200001;
    TempDir dir;
    std::mt19937 random(11);
    DatBuilder depths, levels, velocities;
    depths.header(kNodes, kCells, false, "depths");
    levels.header(kNodes, kCells, false, "levels");
    velocities.header(kNodes, kCells, true, "velocities");
    std::vector<float> firstDepths, firstX, firstY;  // of the step at 0 h
    for (int s = 0; s < 4; ++s) {
        const float time = s == 3 ? 99999.0f : static_cast<float>(s);
        for (DatBuilder* b : {&depths, &levels, &velocities}) {
            std::vector<std::int8_t> active(kCells);
            for (auto& a : active) a = static_cast<std::int8_t>(random() % 3 == 0 ? 0 : 1);
            const std::vector<float> x = randomValues(random, kNodes);
            const std::vector<float> y =
                b == &velocities ? randomValues(random, kNodes) : std::vector<float>();
            b->step(time, active, x, y);
            if (s == 0 && b == &depths) firstDepths = x;
            if (s == 0 && b == &velocities) {
                firstX = x;
                firstY = y;
            }
        }
    }
    dir.write("run_d.dat", depths.end().bytes());
    dir.write("run_h.dat", levels.end().bytes());
    dir.write("run_V.dat", velocities.end().bytes());
    // Cut inside the values of the second step.
    dir.write("cut_V.dat", DatBuilder(velocities).dropLast(velocities.size() / 2).bytes());

    struct Case {
        std::vector<std::string> args;
        std::string output;
    };
    const std::vector<Case> cases = {
        {{"-b", "-calc", "dv2", "run_d.dat"}, "run(dv2).dat"},
        {{"-b", "-calc", "froude", "run_V.dat"}, "run(froude).dat"},
        {{"-b", "-calc", "h*2 - 1", "run_h.dat"}, "run(calc).dat"},
        {{"-b", "-calc", "d/v + h - vx", "run_V.dat"}, "run(calc).dat"},
        {{"-b", "-calc", "dv", "run_d.dat", "--velocity", "cut_V.dat"}, "run(dv).dat"},
    };
    for (const Case& c : cases) {
        const std::string what = c.args[2] + " " + c.args[3];
        SCOPED_TRACE(what);
        std::string written[2];
        ToolResult result[2];
        for (int run = 0; run < 2; ++run) {
            setThreads(run == 0 ? "1" : "3");
            result[run] = runTool(c.args, "", dir.path());
            setThreads("");
            const std::string path = dir.file(c.output);
            if (fileExists(path)) {
                written[run] = readFile(path);
                std::remove(path.c_str());
            }
        }
        EXPECT_EQ(result[0].status, result[1].status);
        EXPECT_EQ(result[0].output, result[1].output);
        EXPECT_TRUE(written[0] == written[1]) << "the outputs differ";
        if (c.args.back() == "cut_V.dat") {
            EXPECT_EQ(result[0].status, 1);
            EXPECT_TRUE(contains(result[0].output, "ERROR - Unexpected end of file in"));
            EXPECT_TRUE(written[0].empty());
        } else {
            EXPECT_EQ(result[0].status, 0) << result[0].output;
            const WrittenDat out = parseWrittenDat(written[0]);
            EXPECT_EQ(out.error, "");
            EXPECT_EQ(out.steps.size(), 3u);
        }
        if (c.output != "run(dv2).dat" || written[0].empty()) continue;
        // Every piece in its place: d * v^2 node by node, not a number where it is not finite
        // (the speed rounded to a float may differ from the double's by a unit in the last place).
        const WrittenDat out = parseWrittenDat(written[0]);
        const std::vector<float>& got = out.steps.at(0).values1;
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < kNodes; ++i) {
            // The tool's speed: 0 where both components are within 1e-5.
            const bool still = std::fabs(firstX[i]) <= 1e-5f && std::fabs(firstY[i]) <= 1e-5f;
            const double speed2 =
                still ? 0.0 : double(firstX[i]) * firstX[i] + double(firstY[i]) * firstY[i];
            const float want = static_cast<float>(firstDepths[i] * speed2);
            const bool bad = !std::isfinite(want);
            if (bad ? !std::isnan(got[i])
                    : !(std::fabs(got[i] - want) <= 4e-7f * std::fabs(want)))
                ++wrong;
        }
        EXPECT_EQ(wrong, 0u);
    }
}

}  // namespace
}  // namespace kelvara::test
