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

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
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
         "ERROR - Reading time for keep or remove argument, or cutoff depth for duration\n" + cont},
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

TEST(Cli, AnEmptyArgumentIsABlankFileName) {
    TempDir dir;
    ToolResult r = runTool({"-times", ""}, "", dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.output, "Empty filename specified.  Bailing out.  Contact ZPN.\nPress Enter to Close\n"));
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
                         " Can't open: no/such/folder/out.dat\n\n"
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
