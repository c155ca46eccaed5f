// The difference of two runs (-dif) through the real tool: steps paired by time, the wet/dry
// markers from the companion water levels and both meshes, -nowetdry, -t, vectors by magnitude,
// and the ends of the pairing.
#include <gtest/gtest.h>

#include <cmath>

#include "support/dat_builder.h"
#include "support/tempdir.h"
#include "support/tool_runner.h"

namespace kelvara::test {
namespace {

struct Step {
    float time;
    std::vector<std::int8_t> active;
    std::vector<float> x;
    std::vector<float> y;  // vectors only
};

struct File {
    std::string name;
    std::vector<Step> steps;
};

struct Expected {
    float time;
    std::vector<std::int8_t> active;
    std::vector<float> values;
};

std::string datBytes(const std::vector<Step>& steps, std::int32_t nodes, std::int32_t cells,
                     bool vector) {
    DatBuilder b;
    b.header(nodes, cells, vector, "test");
    for (const Step& s : steps) b.step(s.time, s.active, s.x, s.y);
    return b.end().bytes();
}

// Four nodes on ground 10.0 and two triangles; written as a.2dm and b.2dm.
const std::string kMesh =
    "MESH2D\nE3T 1 1 2 3 1\nE3T 2 2 4 3 1\n"
    "ND 1 0 0 10.0\nND 2 1 0 10.0\nND 3 0 1 10.0\nND 4 1 1 10.0\n";

// Node by node: wet in both, wet in run 1 only, dry in run 1 at 10.0005 (not above 10.001)
// with run 2 wet, dry in both.
const std::vector<float> kLevels1 = {11.0f, 11.0f, 10.0005f, 9.0f};
const std::vector<float> kLevels2 = {12.0f, 9.0f, 11.0f, 10.0f};
const std::vector<float> kMarkers = {1.5f, 99.0f, -99.0f, 0.0f};  // for values 3.5, 2.0 below
const std::vector<float> kDry = {0.0f, 0.0f, 0.0f, 0.0f};
// Run 1 wet everywhere, run 2 at kLevels2.
const std::vector<float> kAllWet = {11.0f, 11.0f, 11.0f, 11.0f};
const std::vector<float> kMarkersAllWet1 = {1.5f, 99.0f, 1.5f, 99.0f};

struct DifCase {
    const char* what;
    std::vector<std::string> flags;  // besides -b -dif
    bool vector;
    bool meshes;
    std::vector<File> files;  // the two inputs first, then any companions
    std::vector<Expected> expected;
    std::vector<std::string> lines;   // console lines expected in this order
    std::vector<std::string> absent;  // console texts that must not appear
};

const std::vector<float> kA = {3.5f, 1.0f, 2.0f, 7.0f};
const std::vector<float> kB = {2.0f, 5.0f, 0.5f, 1.0f};
const std::vector<float> kAMinusB = {1.5f, -4.0f, 1.5f, 6.0f};

const std::vector<DifCase> kCases = {
    {"wet/dry markers from the companions and meshes; flags merged with the last read",
     {}, false, true,
     {{"a_d.dat", {{1.0f, {0, 0}, kA, {}}, {2.0f, {0, 0}, kA, {}}, {3.0f, {0, 0}, kA, {}}}},
      {"b_d.dat", {{1.0f, {0, 0}, kB, {}}, {2.0f, {0, 0}, kB, {}}, {3.0f, {0, 0}, kB, {}}}},
      {"a_h.dat", {{1.0f, {0, 1}, kLevels1, {}}, {2.0f, {0, 1}, kLevels1, {}},
                   {3.0f, {0, 1}, kLevels1, {}}}},
      {"b_h.dat", {{1.0f, {1, 0}, kLevels2, {}}, {2.0f, {1, 0}, kLevels2, {}},
                   {3.0f, {1, 0}, kLevels2, {}}}}},
     {{1.0f, {1, 0}, kMarkers}, {2.0f, {1, 0}, kMarkers}, {3.0f, {1, 0}, kMarkers}},
     {"First .dat file type identified as: \"_d\"", "Second .dat file type identified as: \"_d\"",
      "...need to also read .2dm files", "...need to also read first _h.dat file",
      "...need to also read second _h.dat file", " Processing Time: 1.000000",
      " Processing Time: 2.000000", " Processing Time: 3.000000"},
     {"WARNING", "Skipping"}},
    {"-t keeps one time, and the companions are read at that time",
     {"-t2"}, false, true,
     {{"a_d.dat", {{1.0f, {1, 1}, kA, {}}, {2.0f, {1, 1}, kA, {}}, {3.0f, {1, 1}, kA, {}}}},
      {"b_d.dat", {{1.0f, {1, 1}, kB, {}}, {2.0f, {1, 1}, kB, {}}, {3.0f, {1, 1}, kB, {}}}},
      {"a_h.dat", {{0.0f, {1, 1}, kDry, {}}, {1.0f, {1, 1}, kDry, {}},
                   {2.0f, {1, 1}, kLevels1, {}}, {3.0f, {1, 1}, kDry, {}}}},
      {"b_h.dat", {{0.0f, {1, 1}, kDry, {}}, {1.0f, {1, 1}, kDry, {}},
                   {2.0f, {1, 1}, kLevels2, {}}, {3.0f, {1, 1}, kDry, {}}}}},
     {{2.0f, {1, 1}, kMarkers}},
     {" Skipping Time: 1.000000", " Processing Time: 2.000000", " Skipping Time: 3.000000"},
     {"WARNING"}},
    {"the maxima of two runs take the companions' levels at the maxima's time, not their first",
     {}, false, true,
     {{"a_d.dat", {{99999.0f, {0, 0}, kA, {}}}},
      {"b_d.dat", {{99999.0f, {0, 0}, kB, {}}}},
      {"a_h.dat", {{0.0f, {0, 0}, kDry, {}}, {99999.0f, {0, 1}, kLevels1, {}}}},
      {"b_h.dat", {{0.0f, {0, 0}, kDry, {}}, {1.0f, {0, 0}, kDry, {}},
                   {99999.0f, {1, 0}, kLevels2, {}}}}},
     {{99999.0f, {1, 0}, kMarkers}},
     {" Processing Time: 99999.000000"},
     {"WARNING"}},
    {"the run that is ahead waits for the other",
     {"-nowetdry"}, false, false,
     {{"a_d.dat", {{1.0f, {1, 1}, {1.0f}, {}}, {2.0f, {1, 1}, {2.0f}, {}},
                   {3.0f, {1, 1}, {3.0f}, {}}}},
      {"b_d.dat", {{1.0f, {1, 0}, {0.25f}, {}}, {1.5f, {1, 1}, {100.0f}, {}},
                   {2.0f, {0, 1}, {0.5f}, {}}, {3.0f, {1, 1}, {0.75f}, {}}}}},
     {{1.0f, {1, 0}, {0.75f}}, {2.0f, {0, 1}, {1.5f}}, {3.0f, {1, 1}, {2.25f}}},
     {" Processing Time: 1.000000", "WARNING - Inconsistent times were found:     2.000     1.500",
      "          Trying to find next match.", " Processing Time: 2.000000",
      " Processing Time: 3.000000"},
     {"Premature"}},
    {"times within 0.00005 match; 1.0 and 1.0001 do not",
     {"-nowetdry"}, false, false,
     {{"a_d.dat", {{1.0f, {1}, {4.0f}, {}}, {2.0f, {1}, {4.0f}, {}}}},
      {"b_d.dat", {{1.00004f, {1}, {1.0f}, {}}, {2.0001f, {1}, {2.0f}, {}}}}},
     {{1.0f, {1}, {3.0f}}},
     {" Processing Time: 1.000000",
      "WARNING - Inconsistent times were found:     2.000     2.000"},
     {"Premature", "Processing Time: 2"}},
    {"-nowetdry writes plain differences, active where both runs are, and reads no mesh",
     {"-nowetdry"}, false, false,
     {{"a_d.dat", {{0.5f, {1, 1, 0, 0}, kA, {}}}},
      {"b_d.dat", {{0.5f, {1, 0, 1, 0}, kB, {}}}}},
     {{0.5f, {1, 0, 0, 0}, kAMinusB}},
     {" Processing Time: 0.500000"},
     {".2dm", "_h.dat file"}},
    {"vectors are compared by magnitude and written as scalars",
     {"-nowetdry"}, true, false,
     {{"a_v.dat", {{0.0f, {1}, {3.0f, 6.0f, 0.00001f}, {4.0f, -8.0f, -0.00001f}}}},
      {"b_v.dat", {{0.0f, {1}, {0.0f, -3.0f, 0.0f}, {1.0f, 4.0f, 0.0f}}}}},
     {{0.0f, {1}, {4.0f, 5.0f, 0.0f}}},
     {},
     {"different data types"}},
    {"two water levels supply their own levels: both meshes, no companion",
     {}, false, true,
     {{"a_h.dat", {{1.0f, {1, 0}, kLevels1, {}}}},
      {"b_h.dat", {{1.0f, {0, 0}, kLevels2, {}}}}},
     {{1.0f, {1, 0}, {-1.0f, 99.0f, -99.0f, 0.0f}}},
     {"...need to also read .2dm files", "Trying to open file a.2dm...OK.",
      "Trying to open file b.2dm...OK."},
     {"_h.dat file"}},
    {"a shorter first run ends the pairing with the premature-end warning",
     {"-nowetdry"}, false, false,
     {{"a_d.dat", {{1.0f, {1}, {1.0f}, {}}, {2.0f, {1}, {2.0f}, {}}}},
      {"b_d.dat", {{1.0f, {1}, {0.0f}, {}}, {2.0f, {1}, {0.0f}, {}}, {3.0f, {1}, {0.0f}, {}}}}},
     {{1.0f, {1}, {1.0f}}, {2.0f, {1}, {2.0f}}},
     {" Processing Time: 2.000000", "WARNING - Premature end of one of the .dat files."},
     {"Reading data for time 3."}},
    {"a waiting run whose file has ended still meets its match",
     {"-nowetdry"}, false, false,
     {{"a_d.dat", {{1.0f, {1}, {1.0f}, {}}, {2.0f, {1}, {2.0f}, {}}, {5.0f, {1}, {5.0f}, {}}}},
      {"b_d.dat", {{1.0f, {1}, {0.0f}, {}}, {2.0f, {1}, {0.0f}, {}}, {3.0f, {1}, {0.0f}, {}},
                   {4.0f, {1}, {0.0f}, {}}, {5.0f, {1}, {1.0f}, {}}}}},
     {{1.0f, {1}, {1.0f}}, {2.0f, {1}, {2.0f}}, {5.0f, {1}, {4.0f}}},
     {"WARNING - Inconsistent times were found:     5.000     3.000",
      "WARNING - Inconsistent times were found:     5.000     4.000",
      " Processing Time: 5.000000"},
     {"Premature"}},
    {"differing data types of which one is of no known quantity warn and the run goes on",
     {"-nowetdry"}, false, false,
     {{"a_d.dat", {{1.0f, {1}, {1.0f}, {}}}}, {"b_x.dat", {{1.0f, {1}, {0.5f}, {}}}}},
     {{1.0f, {1}, {0.5f}}},
     {"WARNING - The two .dat files are of different data types"},
     {}},
};

// Position just after the line in output, searching from "from"; npos when not found.
std::size_t findLine(const std::string& output, const std::string& line, std::size_t from) {
    std::size_t at = output.find("\n" + line + "\n", from == 0 ? 0 : from - 1);
    return at == std::string::npos ? at : at + line.size() + 2;
}

TEST(Difference, PairsStepsAndWritesDifferencesOrMarkers) {
    for (const DifCase& c : kCases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const auto& firstStep = c.files[0].steps.front();
        const auto nodes = static_cast<std::int32_t>(firstStep.x.size());
        const auto cells = static_cast<std::int32_t>(firstStep.active.size());
        for (const File& f : c.files) dir.write(f.name, datBytes(f.steps, nodes, cells, c.vector));
        if (c.meshes) {
            dir.write("a.2dm", kMesh);
            dir.write("b.2dm", kMesh);
        }
        std::vector<std::string> args = {"-b", "-dif"};
        args.insert(args.end(), c.flags.begin(), c.flags.end());
        args.insert(args.end(), {c.files[0].name, c.files[1].name, "out.dat"});

        ToolResult r = runTool(args, "", dir.path());
        ASSERT_EQ(r.status, 0) << r.output;
        WrittenDat out = parseWrittenDat(readFile(dir.file("out.dat")));
        ASSERT_EQ(out.error, "");
        EXPECT_FALSE(out.isVector);
        ASSERT_EQ(out.steps.size(), c.expected.size()) << r.output;
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_EQ(out.steps[i].time, c.expected[i].time) << "step " << i;
            EXPECT_EQ(out.steps[i].active, c.expected[i].active) << "step " << i;
            EXPECT_EQ(out.steps[i].values1, c.expected[i].values) << "step " << i;
        }
        std::size_t at = 0;
        for (const std::string& line : c.lines) {
            at = findLine(r.output, line, at);
            ASSERT_NE(at, std::string::npos) << "missing in order: " << line << "\n" << r.output;
        }
        for (const std::string& text : c.absent)
            EXPECT_EQ(r.output.find(text), std::string::npos) << text << "\n" << r.output;
    }
}

TEST(Difference, MismatchWarningLinesFollowEachOtherWithoutEmptyLines) {
    TempDir dir;
    dir.write("a_d.dat", datBytes({{2.0f, {1}, {1.0f}, {}}}, 1, 1, false));
    dir.write("b_d.dat", datBytes({{1.5f, {1}, {1.0f}, {}}}, 1, 1, false));
    ToolResult r = runTool({"-b", "-dif", "-nowetdry", "a_d.dat", "b_d.dat"}, "", dir.path());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Reading data for time 1.5\n"
                            "WARNING - Inconsistent times were found:     2.000     1.500\n"
                            "          Trying to find next match.\n"),
              std::string::npos)
        << r.output;
    WrittenDat out = parseWrittenDat(readFile(dir.file("a_d - b_d.dat")));
    ASSERT_EQ(out.error, "");
    EXPECT_TRUE(out.steps.empty());
}

struct FailureCase {
    const char* what;
    bool writeCompanion;
    std::int32_t companionNodes;
    std::string expected;
    bool companionIsVector = false;
};

TEST(Difference, CompanionProblemsEndTheRunWithAnErrorNamingTheFile) {
    const std::vector<FailureCase> cases = {
        {"companion with another node count", true, 3,
         "ERROR - Number nodes and/or cells in "},
        {"missing companion", false, 0,
         "ERROR - b_h.dat cannot be found: -dif tests each node wet or dry by the water levels"},
        {"companion of vectors", true, 4,
         "ERROR - b_h.dat holds vectors where single values are expected", true},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        // Levels compared with values of no known quantity (levels and depths are refused).
        dir.write("a_h.dat", datBytes({{1.0f, {1, 1}, kLevels1, {}}}, 4, 2, false));
        dir.write("b_x.dat", datBytes({{1.0f, {1, 1}, kB, {}}}, 4, 2, false));
        if (c.writeCompanion) {
            std::vector<float> levels(static_cast<std::size_t>(c.companionNodes), 11.0f);
            const std::vector<float> y = c.companionIsVector ? levels : std::vector<float>{};
            dir.write("b_h.dat", datBytes({{1.0f, {1, 1}, levels, y}}, c.companionNodes, 2,
                                          c.companionIsVector));
        }
        dir.write("a.2dm", kMesh);
        dir.write("b.2dm", kMesh);
        ToolResult r = runTool({"-b", "-dif", "a_h.dat", "b_x.dat", "out.dat"}, "", dir.path());
        EXPECT_EQ(r.status, 1) << r.output;
        const std::size_t at = r.output.find(c.expected);
        ASSERT_NE(at, std::string::npos) << r.output;
        EXPECT_NE(r.output.find("b_h.dat", at), std::string::npos) << r.output;
        EXPECT_FALSE(fileExists(dir.file("out.dat")));
    }
}

// Where a companion has no step at a pair's time no node can be tested wet or dry: the run
// ends, naming the file, the time and -nowetdry, instead of using levels of another time.
TEST(Difference, ACompanionWithoutAStepAtAPairsTimeEndsTheRun) {
    struct Case {
        const char* what;
        std::vector<std::string> flags;
        std::vector<float> levelTimes;  // of a_h.dat; b_h.dat has every time
        std::string message;            // "": the run succeeds
    };
    const std::vector<Case> cases = {
        {"a time missing between two", {}, {1.0f, 3.0f}, "ERROR - a_h.dat has no time step at 2.000"},
        {"the maxima of -max, which have no levels", {}, {1.0f, 2.0f, 3.0f, 99999.0f},
         "ERROR - a_h.dat has no time step at 111111.000"},
        {"-t at a time the levels have", {"-t3"}, {1.0f, 3.0f}, ""},
        {"-nowetdry reads no levels", {"-nowetdry"}, {1.0f}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const bool maxima = c.levelTimes.back() == 99999.0f;
        std::vector<Step> runSteps, levels1, levels2;
        for (float t : maxima ? std::vector<float>{111111.0f} : std::vector<float>{1.0f, 2.0f, 3.0f})
            runSteps.push_back({t, {1, 1}, kA, {}});
        for (float t : c.levelTimes) levels1.push_back({t, {1, 1}, kLevels1, {}});
        for (float t : {1.0f, 2.0f, 3.0f, 99999.0f}) levels2.push_back({t, {1, 1}, kLevels2, {}});
        dir.write("a_d.dat", datBytes(runSteps, 4, 2, false));
        dir.write("b_d.dat", datBytes(runSteps, 4, 2, false));
        dir.write("a_h.dat", datBytes(levels1, 4, 2, false));
        dir.write("b_h.dat", datBytes(levels2, 4, 2, false));
        dir.write("a.2dm", kMesh);
        dir.write("b.2dm", kMesh);
        std::vector<std::string> args = {"-b", "-dif"};
        args.insert(args.end(), c.flags.begin(), c.flags.end());
        args.insert(args.end(), {"a_d.dat", "b_d.dat", "out.dat"});
        ToolResult r = runTool(args, "", dir.path());
        if (c.message.empty()) {
            EXPECT_EQ(r.status, 0) << r.output;
            EXPECT_TRUE(fileExists(dir.file("out.dat")));
            continue;
        }
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_TRUE(contains(r.output, c.message + ": the wet/dry test of -dif cannot be made"))
            << r.output;
        EXPECT_TRUE(contains(r.output, "Give -nowetdry for the plain difference")) << r.output;
        EXPECT_FALSE(contains(r.output, "last read")) << r.output;
        EXPECT_FALSE(fileExists(dir.file("out.dat")));
    }
}

TEST(Difference, RunsOfOneStemShareTheirCompanionInsteadOfOpeningItTwice) {
    TempDir dir;
    dir.write("run_d.dat", datBytes({{1.0f, {1, 1}, kA, {}}, {2.0f, {1, 1}, kB, {}}}, 4, 2, false));
    dir.write("run_x.dat", datBytes({{1.0f, {1, 1}, kB, {}}, {2.0f, {1, 1}, kA, {}}}, 4, 2, false));
    dir.write("run_h.dat", datBytes({{1.0f, {1, 1}, kLevels1, {}}, {2.0f, {1, 1}, kLevels2, {}}},
                                    4, 2, false));
    dir.write("run.2dm", kMesh);
    ToolResult r = runTool({"-b", "-dif", "run_d.dat", "run_x.dat", "out.dat"}, "", dir.path());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("already open"), std::string::npos) << r.output;
    WrittenDat out = parseWrittenDat(readFile(dir.file("out.dat")));
    ASSERT_EQ(out.error, "");
    ASSERT_EQ(out.steps.size(), 2u);
    // Both runs wet or dry together, each pair with the levels of its own step.
    EXPECT_EQ(out.steps[0].values1, (std::vector<float>{1.5f, -4.0f, 0.0f, 0.0f}));
    EXPECT_EQ(out.steps[1].values1, (std::vector<float>{-1.5f, 0.0f, -1.5f, 0.0f}));
}

TEST(Difference, MissingMeshFollowsTheOpenProtocol) {
    TempDir dir;
    dir.write("a_h.dat", datBytes({{1.0f, {1, 1}, kLevels1, {}}}, 4, 2, false));
    dir.write("b_h.dat", datBytes({{1.0f, {1, 1}, kLevels2, {}}}, 4, 2, false));
    dir.write("a.2dm", kMesh);
    dir.write("other.2dm", kMesh);
    // The missing b.2dm is replaced by the name typed at the prompt (which -b would not ask).
    ToolResult r =
        runTool({"-dif", "a_h.dat", "b_h.dat", "out.dat"}, "other.2dm\n", dir.path());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("CHECK - \"b.2dm\" cannot be found"), std::string::npos) << r.output;
    WrittenDat out = parseWrittenDat(readFile(dir.file("out.dat")));
    ASSERT_EQ(out.error, "");
    ASSERT_EQ(out.steps.size(), 1u);
    EXPECT_EQ(out.steps[0].values1, (std::vector<float>{-1.0f, 99.0f, -99.0f, 0.0f}));
}

}  // namespace
}  // namespace kelvara::test
