// The flood-risk maps through the real tool: -arrival<cutoff> and -hazard<debris factor> read
// their inputs, write three summary steps under the names the usage text gives, and refuse
// inputs they cannot measure with an "ERROR - " line and no output.
#include <gtest/gtest.h>

#include <cmath>
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

std::string datBytes(const std::vector<Step>& steps, std::int32_t nodes = -1) {
    DatBuilder b;
    b.header(nodes >= 0 ? nodes : static_cast<std::int32_t>(steps.front().x.size()),
             static_cast<std::int32_t>(steps.front().active.size()), !steps.front().y.empty(),
             "test");
    for (const Step& s : steps) b.step(s.time, s.active, s.x, s.y);
    return b.end().bytes();
}

// Equal bits for numbers, both not a number otherwise.
void expectSameValues(const std::vector<float>& got, const std::vector<float>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (std::isnan(want[i])) {
            EXPECT_TRUE(std::isnan(got[i])) << "node " << i << ": " << got[i];
        } else {
            EXPECT_EQ(got[i], want[i]) << "node " << i;
        }
    }
}

TEST(ArrivalTool, ArrivalEndAndPeakTimesAtTheirSummaryTimes) {
    TempDir dir;
    // Node 0 crosses up and down inside intervals, node 1 is wet from the start to the end (no
    // end, and a warning counts it), node 2 never reaches the cutoff; the summary step at 99999
    // is not measured.
    dir.write("run_d.dat", datBytes({{0.0f, {0.0f, 0.5f, 0.0f}, {}},
                                     {1.0f, {0.2f, 0.7f, 0.05f}, {}},
                                     {2.0f, {0.0f, 0.7f, 0.0f}, {}},
                                     {99999.0f, {9.0f, 9.0f, 9.0f}, {}}}));
    ToolResult r = runTool({"-b", "-arrival0.1", "run_d.dat"}, "", dir.path());
    ASSERT_EQ(r.status, 0) << r.output;
    WrittenDat out = parseWrittenDat(readFile(dir.file("run_d(arrival0.1).dat")));
    ASSERT_EQ(out.error, "");
    EXPECT_FALSE(out.isVector);
    ASSERT_EQ(out.steps.size(), 3u);
    EXPECT_EQ(out.steps[0].time, 100001.0f);
    EXPECT_EQ(out.steps[1].time, 100002.0f);
    EXPECT_EQ(out.steps[2].time, 100003.0f);
    const float rising = 1.0f * (0.2f - 0.1f) / (0.2f - 0.0f);
    const float falling = 1.0f * (0.2f - 0.1f) / (0.2f - 0.0f);
    expectSameValues(out.steps[0].values1, {1.0f - rising, 0.0f, kNaN});
    expectSameValues(out.steps[1].values1, {1.0f + falling, kNaN, kNaN});
    expectSameValues(out.steps[2].values1, {1.0f, 1.0f, kNaN});  // ties: the earliest step
    EXPECT_NE(r.output.find("WARNING - 1 node is still at or above the cutoff at the last output "
                            "time: its end (step 100002) holds no data."),
              std::string::npos)
        << r.output;
}

TEST(ArrivalTool, VectorsAreMeasuredByTheirMagnitude) {
    TempDir dir;
    dir.write("run_V.dat", datBytes({{0.0f, {0.0f}, {0.0f}}, {2.0f, {3.0f}, {4.0f}}}));
    ToolResult r = runTool({"-b", "-arrival2.5", "run_V.dat"}, "", dir.path());
    ASSERT_EQ(r.status, 0) << r.output;
    WrittenDat out = parseWrittenDat(readFile(dir.file("run_V(arrival2.5).dat")));
    ASSERT_EQ(out.error, "");
    EXPECT_FALSE(out.isVector);
    ASSERT_EQ(out.steps.size(), 3u);
    expectSameValues(out.steps[0].values1, {2.0f - 2.0f * (5.0f - 2.5f) / (5.0f - 0.0f)});
    expectSameValues(out.steps[2].values1, {2.0f});
}

struct HazardFiles {
    std::string depth;
    std::string velocity;
};

HazardFiles hazardCase() {
    // Node 0: d 0.5, v 1 (H2, rating 0.5 * 1.5 + 1); node 1: dry; node 2: d 0.25, v 0.6 (at the
    // debris limit: no debris factor). The velocity file has one step the depths lack.
    return {datBytes({{0.0f, {0.5f, 0.0f, 0.25f}, {}}, {99999.0f, {1.0f, 1.0f, 1.0f}, {}}}),
            datBytes({{0.0f, {0.6f, 5.0f, 0.6f}, {0.8f, 0.0f, 0.0f}},
                      {0.5f, {9.0f, 9.0f, 9.0f}, {0.0f, 0.0f, 0.0f}}})};
}

TEST(HazardTool, VelocitiesFoundBesideTheDepthsOrNamedSecond) {
    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        std::string velocityName;
        std::string outputName;
        float debris;
        float ukClass;  // of node 0 (node 1 is dry: 0; node 2 rates 0.275: low, 1)
    };
    const std::vector<Case> cases = {
        {"run_V.dat beside the depths, urban debris factor", {"-b", "-hazard", "run_d.dat"},
         "run_V.dat", "run_d(hazard).dat", 1.0f, 3.0f},
        {"a velocity file named second, a fixed factor",
         {"-b", "-hazard0.5", "run_d.dat", "speed.dat"}, "speed.dat", "run_d(hazard0.5).dat", 0.5f,
         2.0f},
        {"pasture by land use: no debris at 0.5 m and 1 m/s",
         {"-b", "-hazard", "--land-use", "pasture", "run_d.dat"}, "run_V.dat",
         "run_d(hazard,pasture).dat", 0.0f, 2.0f},
        {"woodland by land use, named after the flag", {"-b", "--land-use=Woodland", "-hazard", "run_d.dat"},
         "run_V.dat", "run_d(hazard,woodland).dat", 0.5f, 2.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const HazardFiles files = hazardCase();
        dir.write("run_d.dat", files.depth);
        dir.write(c.velocityName, files.velocity);
        ToolResult r = runTool(c.arguments, "", dir.path());
        ASSERT_EQ(r.status, 0) << r.output;
        WrittenDat out = parseWrittenDat(readFile(dir.file(c.outputName)));
        ASSERT_EQ(out.error, "");
        EXPECT_FALSE(out.isVector);
        ASSERT_EQ(out.steps.size(), 4u);
        EXPECT_EQ(out.steps[0].time, 100011.0f);
        EXPECT_EQ(out.steps[1].time, 100012.0f);
        EXPECT_EQ(out.steps[2].time, 100013.0f);
        EXPECT_EQ(out.steps[3].time, 100014.0f);
        const float speed = std::sqrt(0.6f * 0.6f + 0.8f * 0.8f);
        expectSameValues(out.steps[0].values1, {0.5f * speed, 0.0f, 0.25f * 0.6f});
        expectSameValues(out.steps[1].values1, {2.0f, 0.0f, 1.0f});
        expectSameValues(out.steps[2].values1,
                         {0.5f * (speed + 0.5f) + c.debris, 0.0f, 0.25f * (0.6f + 0.5f)});
        expectSameValues(out.steps[3].values1, {c.ukClass, 0.0f, 1.0f});
        // The velocity step at 0.5 has no depth step: told, not measured.
        EXPECT_NE(r.output.find("WARNING"), std::string::npos) << r.output;
    }
}

TEST(HazardTool, InputsItCannotMeasureEndInAnErrorAndNoOutput) {
    struct Case {
        const char* what;
        std::string depth;
        std::string velocity;  // empty: no velocity file
        std::string message;
    };
    const HazardFiles good = hazardCase();
    const std::vector<Case> cases = {
        {"depths that are vectors", good.velocity, good.velocity,
         "ERROR - run_d.dat is a vector dataset"},
        {"no velocity file", good.depth, "", "ERROR - "},
        {"velocities of another mesh", good.depth,
         datBytes({{0.0f, {1.0f, 1.0f}, {0.0f, 0.0f}}}),
         "ERROR - Number nodes and/or cells in run_V.dat not the same"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        dir.write("run_d.dat", c.depth);
        if (!c.velocity.empty()) dir.write("run_V.dat", c.velocity);
        ToolResult r = runTool({"-b", "-hazard", "run_d.dat"}, "", dir.path());
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
        EXPECT_FALSE(fileExists(dir.file("run_d(hazard).dat")));
    }
}

TEST(FloodMapsCommandLine, NumbersAndCombinationsTheMapsRefuse) {
    const std::vector<std::vector<std::string>> refused = {
        {"-b", "-arrival", "run_d.dat"},          // a cutoff is needed
        {"-b", "-arrivalx", "run_d.dat"},
        {"-b", "-arrivalinf", "run_d.dat"},
        {"-b", "-hazard-1", "run_d.dat"},         // a negative debris factor
        {"-b", "-arrival0.1", "-max", "run_d.dat"},
        {"-b", "-hazard", "-k1", "run_d.dat"},
        {"-b", "-arrival0.1", "a_d.dat", "b_d.dat"},
    };
    for (const auto& arguments : refused) {
        TempDir dir;
        dir.write("run_d.dat", datBytes({{0.0f, {1.0f}, {}}}));
        ToolResult r = runTool(arguments, "", dir.path());
        EXPECT_EQ(r.status, 1) << arguments[1] << "\n" << r.output;
        EXPECT_NE(r.output.find("ERROR - "), std::string::npos) << r.output;
    }
}

}  // namespace
}  // namespace kelvara::test
