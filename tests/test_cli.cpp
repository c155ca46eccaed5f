// The tool as a user meets it: banner, usage, command-line errors, prompts at the end of
// standard input, exit statuses, and outputs that never replace inputs or linger half-written.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "support/tempdir.h"
#include "support/tool_runner.h"
#include "tool/options.h"

namespace kelvara::test {
namespace {

const std::string kBanner = "\nBuild 2007-07-AA\n\n";

std::string usage() {
    std::string text;
    for (const auto& line : kelvara::usageText()) text += line + "\n";
    return text;
}

// A small scalar dataset: the header, one step per time (all cells wet, value = time + node)
// and the end card.
std::string dataset(int nodes, int cells, const std::vector<float>& times) {
    std::string b;
    auto i32 = [&](std::int32_t v) { b.append(reinterpret_cast<const char*>(&v), 4); };
    auto f32 = [&](float v) { b.append(reinterpret_cast<const char*>(&v), 4); };
    i32(3000);
    i32(100); i32(3);
    i32(110); i32(4);
    i32(120); i32(1);
    i32(130);
    i32(170); i32(nodes);
    i32(180); i32(cells);
    i32(190);
    std::string name = "test";
    name.resize(40, ' ');
    b += name;
    for (float t : times) {
        i32(200);
        b.push_back(1);
        f32(t);
        b.append(static_cast<std::size_t>(cells), '\1');
        for (int n = 0; n < nodes; ++n) f32(t + static_cast<float>(n));
    }
    i32(210);
    return b;
}

TEST(Cli, NoArgumentsPrintsBannerAndUsageThenPauses) {
    ToolResult r = runTool({});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, kBanner + usage() + "Press Enter to Continue\n");
}

TEST(Cli, ErrorsOfTheCommandLineEndWithStatusOne) {
    struct Case {
        std::vector<std::string> args;
        std::string expected;
    };
    const std::string cont = "Press Enter to Continue\n";
    const std::vector<Case> cases = {
        {{"-q"}, "\nERROR - Incorrect flag specified: \"-q\"\n" + cont},
        {{"-k", "a.dat"},
         "ERROR - Reading the time of -k\n"
         "\"-k\" needs its time written right after it, for example -k99999\n" + cont},
        {{"-con", "a.dat"}, "\nERROR - Must specify at least two .dat files for -con option.\n" + cont},
        {{"-ddur1", "a.dat", "b.dat"},
         "ERROR - Must specify an end time using -t option for duration differences\n\n"
         "Press Enter to Close\n"},
        {{"-b", "a.dat"}, "\nERROR - No operational flag specified.\n\n" + usage()},
        {{"-max"}, "\nERROR - No .dat file specified.\n" + cont},
    };
    for (const auto& c : cases) {
        ToolResult r = runTool(c.args);
        EXPECT_EQ(r.status, 1) << c.args[0];
        EXPECT_EQ(r.output, kBanner + c.expected) << c.args[0];
    }
}

TEST(Cli, ATypedLineAtThePauseIsRunAsACommand) {
    ToolResult r = runTool({}, "echo typed-command-ran\n\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(contains(r.output, "Press Enter to Continue\ntyped-command-ran\nPress Enter to Continue\n"));
}

TEST(Cli, AnEmptyArgumentIsRefused) {
    TempDir dir;
    ToolResult r = runTool({"-times", ""}, "", dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.output, "\nERROR - An empty file name was given.\n")) << r.output;
    EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{});
}

TEST(Cli, AMissingInputAtTheEndOfInputStopsInsteadOfWaiting) {
    TempDir dir;
    ToolResult r = runTool({"-times", "missing.dat"}, "", dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.output, "\nTrying to open file missing.dat...\nCHECK - \"missing.dat\" cannot be found\n"
                                   "\nCheck file exists and press enter or enter another file name: "));
    EXPECT_TRUE(contains(r.output, "ERROR - "));
    EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{});
}

TEST(Cli, AMissingInputCanBeReplacedByATypedName) {
    TempDir dir;
    dir.write("real_h.dat", dataset(3, 2, {0.0f, 0.5f, 99999.0f}));
    // Enter once (try again), then the right name with leading blanks.
    ToolResult r = runTool({"-times", "missing.dat"}, "\n   real_h.dat\n\n", dir.path());
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(contains(r.output, "\nNo file name entered.  Trying file again...\n"));
    EXPECT_TRUE(contains(r.output, "\nTrying to open file real_h.dat...OK.\nOpened File Unit: 901\n"));
    EXPECT_EQ(readText(dir.file("times.txt")),
              "          0.000\n          0.500\n      99999.000\n");
}

TEST(Cli, ATypedNameIsCutAtEightyCharacters) {
    TempDir dir;
    std::string typed = std::string(80, 'a') + "tail.dat";
    ToolResult r = runTool({"-times", "missing.dat"}, typed + "\n", dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.output, "Trying to open file " + std::string(80, 'a') + "...\n"));
}

TEST(Cli, DoubledSeparatorsAndLeadingBlanksAreCleanedBeforeOpening) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("sub"));
    dir.write("sub/run_h.dat", dataset(2, 1, {1.0f}));
    ToolResult r = runTool({"-b", "-times", "  sub//run_h.dat"}, "", dir.path());
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(contains(r.output, "Trying to open file sub/run_h.dat...OK.\nOpened File Unit: 901\n"));
    EXPECT_TRUE(contains(r.output, "\nOutput Times File: times.txt\n\nTrying to open file times.txt...OK.  File Unit: 902\n"));
}

TEST(Cli, AnOutputThatCannotBeCreatedStopsAtTheEndOfInput) {
    TempDir dir;
    dir.write("a.dat", dataset(2, 1, {1.0f}));
    dir.write("b.dat", dataset(2, 1, {2.0f}));
    ToolResult r = runTool({"-dif", "a.dat", "b.dat", "no/such/folder/out.dat"}, "", dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.output,
                         "Trying to open file no/such/folder/out.dat...Can't Open\n\n"
                         " Can't open: no/such/folder/out.dat\n"
                         " The folder no/such/folder/ does not exist.\n\n"
                         " Another application or user maybe using it,\n"
                         "    or the file's folder does not exist.\n"
                         " If so, close the file or create file path.\n\n"
                         "Press Enter to Continue\n"));
    EXPECT_TRUE(contains(r.output, "ERROR - Could not create output file"));
}

TEST(Cli, TheOutputNeverReplacesAnInput) {
    TempDir dir;
    const std::string a = dataset(2, 1, {1.0f});
    dir.write("a_d.dat", a);
    dir.write("b_d.dat", dataset(2, 1, {1.0f}));
#ifdef _WIN32
    // Symbolic links need privileges there; a hard link is the same file under another name.
    std::filesystem::create_hard_link(dir.file("a_d.dat"), dir.file("alias.dat"));
#else
    ::symlink(dir.file("a_d.dat").c_str(), dir.file("alias.dat").c_str());
#endif
    for (const auto& third : {"a_d.dat", "./a_d.dat", "alias.dat", "a_h.dat"}) {
        if (std::strcmp(third, "a_h.dat") == 0) dir.write("a_h.dat", a);
        ToolResult r = runTool({"-b", "-dif", "a_d.dat", "b_d.dat", third}, "", dir.path());
        EXPECT_EQ(r.status, 1) << third;
        EXPECT_TRUE(contains(r.output, "ERROR - The output file")) << third << r.output;
        EXPECT_EQ(readFile(dir.file("a_d.dat")), a) << third;
    }
}

TEST(Cli, AFailedRunLeavesNoPartialOutputAndKeepsAnEarlierFile) {
    TempDir dir;
    dir.write("a.dat", dataset(3, 2, {1.0f, 2.0f}));
    dir.write("b.dat", dataset(4, 2, {3.0f}));  // a different mesh
    dir.write("a(con).dat", "earlier result");
    ToolResult r = runTool({"-b", "-con", "a.dat", "b.dat"}, "", dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.output, "ERROR - Number nodes and/or cells in b.dat not the same as in primary .dat file.\n"));
    EXPECT_EQ(readFile(dir.file("a(con).dat")), "earlier result");
    EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"a(con).dat", "a.dat", "b.dat"}));
}

TEST(Cli, NamingAnInputTwiceAsksWhetherToCloseIt) {
    TempDir dir;
    dir.write("a.dat", dataset(2, 1, {1.0f}));
    ToolResult r = runTool({"-con", "a.dat", "a.dat"}, "n\n", dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.output, "Trying to open file a.dat...\na.dat is already open, close it? \n"
                                   "Check file exists and press enter or enter another file name: "));
    r = runTool({"-b", "-con", "a.dat", "a.dat"}, "", dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.output, "ERROR - "));
}

}  // namespace
}  // namespace kelvara::test

namespace kelvara::test {
namespace {

// Every run that ends with status 1 says why on a line of its own beginning "ERROR - ", and
// the number of inputs the command line accepts is one the file units can open together with
// the output and a mesh.
TEST(Cli, EveryStoppedRunPrintsAnErrorLineAndTheInputLimitFitsTheFileUnits) {
    TempDir dir;
    // A mesh of three nodes and one triangle, for water levels.
    dir.write("w.2dm", "MESH2D\nE3T 1 1 2 3 1\nND 1 0 0 0\nND 2 1 0 0\nND 3 0 1 0\n");
    std::vector<std::string> levels;
    for (int i = 0; i < 99; ++i) {
        levels.push_back("w" + std::string(i == 0 ? "" : std::to_string(i)) + "_h.dat");
        dir.write(levels.back(), dataset(3, 1, {static_cast<float>(i)}));
    }
    // An input path of 996 characters: the output name built from it is longer than 1000.
    std::string deep = dir.path();
    while (deep.size() < 996 - 210) deep += "/" + std::string(200, 'd');
    std::filesystem::create_directories(deep);
    const std::string longInput =
        deep + "/" + std::string(996 - deep.size() - 1 - 9, 'r') + "run_d.dat";
    ASSERT_EQ(longInput.size(), 996u);
    {
        std::FILE* f = std::fopen(longInput.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        const std::string bytes = dataset(3, 1, {1.0f});
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }

    auto first = [&](int n) { return std::vector<std::string>(levels.begin(), levels.begin() + n); };
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int status;
        std::string error;  // beginning of the ERROR line, for status 1
    };
    auto with = [](std::vector<std::string> flags, const std::vector<std::string>& names) {
        flags.insert(flags.end(), names.begin(), names.end());
        return flags;
    };
    const std::vector<Case> cases = {
        {"-max of 98 water levels, their mesh and the output", with({"-b", "-max"}, first(98)), 0,
         ""},
        {"-con of 98 inputs", with({"-b", "-con"}, first(98)), 0, ""},
        // A run's files are its own: the 100 units of old no longer limit the inputs.
        {"-max of 99 water levels", with({"-b", "-max"}, first(99)), 0, ""},
        {"-con of 99 inputs", with({"-b", "-con"}, first(99)), 0, ""},
        {"an empty name", {"-b", "-max", ""}, 1, "ERROR - An empty file name was given."},
        {"a number with more after it", {"-b", "-k1,5", "w_h.dat"}, 1,
         "ERROR - Reading the time of -k"},
#ifndef _WIN32
        // Windows opens no path of this length in the first place (its own limit is 260).
        {"an output name longer than 1000 characters", {"-b", "-k1", longInput}, 1,
         "ERROR - The name \""},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<std::string> before = listFolder(dir.path());
        const ToolResult r = runTool(c.args, "", dir.path());
        EXPECT_EQ(r.status, c.status) << r.output.substr(r.output.size() > 2000 ? r.output.size() - 2000 : 0);
        if (c.status == 1) {
            EXPECT_TRUE(contains(r.output, "\n" + c.error)) << r.output.substr(0, 3000);
            EXPECT_EQ(listFolder(dir.path()), before);
        }
        for (const char* out : {"w_h(maxmax).dat", "w_h(con).dat"}) std::remove(dir.file(out).c_str());
    }
#ifndef _WIN32
    EXPECT_EQ(listFolder(deep), std::vector<std::string>{longInput.substr(deep.size() + 1)});
#endif
}

}  // namespace
}  // namespace kelvara::test
