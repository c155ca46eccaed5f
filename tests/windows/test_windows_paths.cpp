// The tool as a Windows user runs it: inputs named with a drive and backslashes, relative to the
// current drive's root or to a drive's current folder ("C:run_d.dat"), outputs named and placed
// beside them, a Windows name typed at the missing-file prompt, and a line typed at the pause
// run by the command processor (cmd).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/dat_builder.h"
#include "support/tempdir.h"
#include "support/tool_runner.h"

namespace kelvara::test {
namespace {

// Three nodes, two cells, two steps.
std::string dataset(float first, float second) {
    DatBuilder b;
    b.header(3, 2, false, "test");
    b.step(0.0f, {1, 1}, {first, 2.0f, 3.0f});
    b.step(1.0f, {1, 0}, {second, 1.0f, 0.5f});
    return b.end().bytes();
}

// Placeholders in the arguments and the typed input: {dir} the test's folder with its drive
// ("C:\\users\\...\\kelvara-test-1"), {root} the same without the drive ("\\users\\..."),
// {drive} the drive alone ("C:").
std::string expand(std::string text, const TempDir& dir) {
    const std::string full = dir.path();
    const std::string drive = full.substr(0, 2);
    const std::string root = full.substr(2);
    for (const auto& [key, value] : {std::pair<std::string, std::string>{"{dir}", full},
                                     {"{root}", root},
                                     {"{drive}", drive}}) {
        for (std::size_t p = text.find(key); p != std::string::npos; p = text.find(key, p + value.size()))
            text.replace(p, key.size(), value);
    }
    return text;
}

TEST(WindowsPaths, TheTestFolderHasADriveAndBackslashes) {
    TempDir dir;
    ASSERT_GE(dir.path().size(), 3u);
    EXPECT_EQ(dir.path()[1], ':');
    EXPECT_EQ(dir.path()[2], '\\');
    EXPECT_EQ(dir.path().find('/'), std::string::npos);
}

struct NamingCase {
    const char* what;
    std::vector<std::string> args;
    std::string typed;                 // standard input
    std::vector<std::string> console;  // texts the console must show
    std::vector<std::string> outputs;  // new files in the folder, and nothing else new
};

TEST(WindowsPaths, OutputsAreNamedAndPlacedBesideTheirInputs) {
    const std::vector<NamingCase> cases = {
        {"drive and backslashes",
         {"-b", "-max", "{dir}\\run_d.dat"},
         "",
         {"Trying to open file {dir}\\run_d.dat...OK.\n",
          "Trying to open file {dir}\\run_d(maxmax).dat...OK.  File Unit: 902\n"},
         {"run_d(maxmax).dat"}},
        {"from the current drive's root",
         {"-b", "-max", "{root}\\run_d.dat"},
         "",
         {"Trying to open file {root}\\run_d(maxmax).dat...OK."},
         {"run_d(maxmax).dat"}},
        {"drive-relative",
         {"-b", "-max", "{drive}run_d.dat"},
         "",
         {"Trying to open file {drive}run_d.dat...OK.\n",
          "Trying to open file {drive}run_d(maxmax).dat...OK."},
         {"run_d(maxmax).dat"}},
        {"difference of two runs, doubled separators",
         {"-b", "-dif", "-nowetdry", "{dir}\\\\base_d.dat", "{dir}\\design_d.dat"},
         "",
         {"Trying to open file {dir}\\base_d - design_d.dat...OK."},
         {"base_d - design_d.dat"}},
        {"mixed separators",
         {"-b", "-con", "{dir}/run_d.dat", "{dir}\\design_d.dat"},
         "",
         {"Trying to open file {dir}/run_d(con).dat...OK."},
         {"run_d(con).dat"}},
        {"a Windows name typed at the missing-file prompt (which -b would not show)",
         {"-max", "missing_d.dat"},
         "{dir}\\run_d.dat\n",
         {"CHECK - \"missing_d.dat\" cannot be found\n",
          "Trying to open file {dir}\\run_d.dat...OK.\n"},
         {"run_d(maxmax).dat"}},  // named after the file read, not the name that was missing
    };
    for (const NamingCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        dir.write("run_d.dat", dataset(1.0f, 4.0f));
        dir.write("base_d.dat", dataset(1.0f, 4.0f));
        dir.write("design_d.dat", dataset(0.5f, 2.0f));
        const std::vector<std::string> inputs = listFolder(dir.path());

        std::vector<std::string> args;
        for (const auto& a : c.args) args.push_back(expand(a, dir));
        ToolResult r = runTool(args, expand(c.typed, dir), dir.path());
        EXPECT_EQ(r.status, 0) << r.output;
        for (const auto& text : c.console)
            EXPECT_TRUE(contains(r.output, expand(text, dir))) << expand(text, dir) << "\n" << r.output;

        std::vector<std::string> expected = inputs;
        expected.insert(expected.end(), c.outputs.begin(), c.outputs.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(listFolder(dir.path()), expected);  // no hidden file left behind
        for (const auto& out : c.outputs) {
            WrittenDat written = parseWrittenDat(readFile(dir.file(out)));
            EXPECT_EQ(written.error, "") << out;
            EXPECT_EQ(written.nodeCount, 3) << out;
        }
    }
}

TEST(WindowsPaths, ALineTypedAtThePauseRunsInTheCommandProcessor) {
    TempDir dir;
    dir.write("run_d.dat", dataset(1.0f, 4.0f));
    // "cd" alone prints the current folder in cmd (and nothing in a POSIX shell); the second
    // line writes a file through cmd's redirection; the empty line ends the pause.
    ToolResult r = runTool({"-times", dir.path() + "\\run_d.dat"}, "cd\necho made> made.txt\n\n",
                           dir.path());
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(contains(r.output, "Finished.\n"));
    EXPECT_TRUE(contains(r.output, "Press Enter to Continue\n" + dir.path() +
                                       "\nPress Enter to Continue\nPress Enter to Continue\n"))
        << r.output;
    EXPECT_EQ(readText(dir.file("made.txt")), "made\n");
    EXPECT_EQ(readText(dir.file("times.txt")), "          0.000\n          1.000\n");
}

}  // namespace
}  // namespace kelvara::test
