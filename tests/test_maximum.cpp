// The maximum (-max) through the real tool: maxima and input numbers, water levels over the
// corners of wet cells, vectors by magnitude, summary steps passed over, and -t.
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
    std::vector<std::int8_t> active;
    std::vector<float> x;
    std::vector<float> y;  // vectors only
};

struct Input {
    std::string name;
    std::vector<Step> steps;
};

struct MaxCase {
    const char* what;
    std::vector<std::string> flags;  // besides -max and -b
    std::string mesh;                // written as stem.2dm beside the first input, when given
    std::vector<Input> inputs;
    std::vector<float> maxX;
    std::vector<float> maxY;  // vectors only
    std::vector<float> files;
    std::vector<std::int8_t> outActive;
};

std::string datBytes(const Input& input, bool vector) {
    const Step& first = input.steps.front();
    DatBuilder b;
    b.header(static_cast<std::int32_t>(first.x.size()), static_cast<std::int32_t>(first.active.size()),
             vector, "test");
    for (const Step& s : input.steps) b.step(s.time, s.active, s.x, s.y);
    return b.end().bytes();
}

// Mesh of four nodes: triangle 1 (1 2 3) and quadrilateral 2 (1 2 4 3); elevations unused.
const std::string kTwoCellMesh =
    "MESH2D\nE3T 1 1 2 3 1\nE4Q 2 1 2 4 3 1\n"
    "ND 1 0 0 0\nND 2 1 0 0\nND 3 0 1 0\nND 4 1 1 0\n";

const std::vector<MaxCase> kCases = {
    {"later input wins a higher value, an equal one keeps the earlier input",
     {}, "",
     {{"a_d.dat", {{0.0f, {1, 0}, {2.0f, 5.0f, 1.0f}, {}}}},
      {"b_d.dat", {{0.0f, {0, 0}, {3.0f, 5.0f, 0.5f}, {}}}}},
     {3.0f, 5.0f, 1.0f}, {}, {2.0f, 1.0f, 1.0f}, {1, 0}},
    {"values below zero are true maxima; not a number and not set (-99999) never are",
     {}, "",
     {{"a_d.dat", {{0.0f, {1}, {-1.0f, kNaN, 0.5f, -99999.0f}, {}},
                   {1.0f, {1}, {-0.5f, kNaN, kNaN, -99998.0f}, {}}}},
      {"b_d.dat", {{0.0f, {1}, {-3.0f, kNaN, 0.0f, -99999.0f}, {}}}}},
     {-0.5f, 0.0f, 0.5f, 0.0f}, {}, {1.0f, 0.0f, 1.0f, 0.0f}, {1}},
    {"a node that is zero throughout has its maximum in the first input",
     {}, "",
     {{"a_d.dat", {{0.0f, {0}, {0.0f, 2.0f}, {}}}}, {"b_d.dat", {{0.0f, {0}, {0.0f, 3.0f}, {}}}}},
     {0.0f, 3.0f}, {}, {1.0f, 2.0f}, {0}},
    {"water levels below datum at corners of wet cells; a node never wet keeps 0 and input 0",
     {}, kTwoCellMesh,
     {{"run_h.dat", {{0.0f, {1, 0}, {-4.0f, -3.0f, -2.0f, 5.0f}, {}},
                     {1.0f, {1, 0}, {-4.5f, -2.5f, -2.5f, 6.0f}, {}}}},
      {"run2_h.dat", {{0.0f, {1, 0}, {-3.5f, -2.75f, -1.0f, 7.0f}, {}}}}},
     {-3.5f, -2.5f, -1.0f, 0.0f}, {}, {2.0f, 1.0f, 2.0f, 0.0f}, {1, 0}},
    {"steps at 99999.1 and 222222 are passed over, 99999 takes part",
     {}, "",
     {{"a_d.dat", {{0.0f, {0}, {1.0f, 1.0f}, {}},
                   {99999.1f, {1}, {9.0f, 9.0f}, {}},
                   {222222.0f, {1}, {9.0f, 9.0f}, {}},
                   {99999.0f, {0}, {4.0f, 0.0f}, {}}}}},
     {4.0f, 1.0f}, {}, {1.0f, 1.0f}, {0}},
    {"-t keeps only the steps within 0.001 of the time",
     {"-t2.5"}, "",
     {{"a_d.dat", {{2.0f, {1, 1}, {9.0f, 9.0f}, {}}, {2.5009f, {1, 0}, {3.0f, 1.0f}, {}}}},
      {"b_d.dat", {{2.4995f, {0, 0}, {1.0f, 4.0f}, {}}, {2.502f, {1, 1}, {9.0f, 9.0f}, {}}}}},
     {3.0f, 4.0f}, {}, {1.0f, 2.0f}, {1, 0}},
    {"vectors keep the components of the largest magnitude",
     {}, "",
     {{"a_V.dat", {{0.0f, {1}, {3.0f, 0.0f, 0.0f}, {4.0f, 2.0f, 0.0f}},
                   {1.0f, {1}, {4.5f, -1.0f, 0.000001f}, {0.0f, 0.0f, 0.000001f}}}},
      {"b_V.dat", {{0.0f, {1}, {-5.0f, 0.0f, 0.0f}, {0.0f, -2.0f, 0.0f}}}}},
     {3.0f, 0.0f, 0.0f}, {4.0f, 2.0f, 0.0f}, {1.0f, 1.0f, 1.0f}, {1}},
    {"water levels count only at corners of wet cells",
     {}, kTwoCellMesh,
     {{"run_h.dat", {{0.0f, {1, 0}, {1.0f, 2.0f, 3.0f, 9.0f}, {}},
                     {1.0f, {0, 0}, {8.0f, 8.0f, 8.0f, 8.0f}, {}}}},
      {"run2_h.dat", {{0.0f, {0, 1}, {0.5f, 2.5f, 3.0f, 7.0f}, {}}}}},
     {1.0f, 2.5f, 3.0f, 7.0f}, {}, {1.0f, 2.0f, 1.0f, 2.0f}, {1, 1}},
    {"a cell the mesh does not describe has no corners to follow",
     {}, "MESH2D\nE3T 1 1 2 3 1\nND 1 0 0 0\nND 2 1 0 0\nND 3 0 1 0\nND 4 1 1 0\n",
     {{"run_h.dat", {{0.0f, {1, 1}, {1.0f, 2.0f, 3.0f, 4.0f}, {}}}}},
     {1.0f, 2.0f, 3.0f, 0.0f}, {}, {1.0f, 1.0f, 1.0f, 0.0f}, {1, 1}},
};

TEST(Maximum, MaximaAndInputNumbersOverEveryUsedStep) {
    for (const MaxCase& c : kCases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const bool vector = !c.maxY.empty();
        std::vector<std::string> args = {"-max", "-b"};
        args.insert(args.end(), c.flags.begin(), c.flags.end());
        for (const Input& input : c.inputs) {
            dir.write(input.name, datBytes(input, vector));
            args.push_back(input.name);
        }
        if (!c.mesh.empty()) dir.write("run.2dm", c.mesh);

        ToolResult r = runTool(args, "", dir.path());
        ASSERT_EQ(r.status, 0) << r.output;
        const std::string outName = c.inputs[0].name.substr(0, c.inputs[0].name.size() - 4);
        WrittenDat out = parseWrittenDat(readFile(dir.file(outName + "(maxmax).dat")));
        ASSERT_EQ(out.error, "");
        EXPECT_EQ(out.isVector, vector);
        ASSERT_EQ(out.steps.size(), 2u);
        EXPECT_EQ(out.steps[0].time, 111111.0f);
        EXPECT_EQ(out.steps[1].time, 222222.0f);
        EXPECT_EQ(out.steps[0].values1, c.maxX);
        EXPECT_EQ(out.steps[1].values1, c.files);
        if (vector) {
            EXPECT_EQ(out.steps[0].values2, c.maxY);
            EXPECT_EQ(out.steps[1].values2, std::vector<float>(c.files.size(), 0.0f));
        }
        EXPECT_EQ(out.steps[0].active, c.outActive);
        EXPECT_EQ(out.steps[1].active, c.outActive);
    }
}

TEST(Maximum, WaterLevelsAnnounceTheirTypeAndReadTheMesh) {
    TempDir dir;
    Input input{"run_h.dat", {{0.0f, {1, 1}, {1.0f, 2.0f, 3.0f, 4.0f}, {}}}};
    dir.write("run_h.dat", datBytes(input, false));
    dir.write("run.2dm", kTwoCellMesh);
    ToolResult r = runTool({"-max", "-b", "run_h.dat"}, "", dir.path());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("\n\nSMS data type identified as: \"_h\"\n"
                            "...need to read .2dm file for _h data type\n"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("\n\nProcessing file: run_h.dat\nReading data for time 0.\n"),
              std::string::npos)
        << r.output;
}

}  // namespace
}  // namespace kelvara::test
