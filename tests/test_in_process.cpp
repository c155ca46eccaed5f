// A whole run inside the test's own process: the same console text as the executable in batch
// mode, errors that come back as a status instead of ending the process, and nothing left behind.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "fileio/units.h"
#include "support/dat_builder.h"
#include "support/tempdir.h"
#include "support/tool_runner.h"
#include "tool/run.h"

namespace kelvara {
namespace {

using test::DatBuilder;

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

std::string scalarDataset(const std::vector<float>& times) {
    DatBuilder b;
    b.header(3, 1, false, "run");
    for (float t : times) b.step(t, {1}, {t, t + 1.0f, t + 2.0f});
    return b.end().bytes();
}

// Paths inside dir, each argument that names a file given in full.
std::vector<std::string> inFolder(const test::TempDir& dir, std::vector<std::string> args) {
    for (auto& a : args)
        if (!a.empty() && a[0] != '-') a = dir.file(a);
    return args;
}

TEST(InProcess, FailuresComeBackAsAStatusAndTheNextRunWorks) {
    test::TempDir dir;
    dir.write("run_d.dat", scalarDataset({1, 2, 3}));
    dir.write("cut_d.dat", scalarDataset({1, 2}).substr(0, 130));
    dir.write("other_d.dat", DatBuilder().header(4, 1, false, "o").end().bytes());
    dir.write("run_h.dat", scalarDataset({1, 2}));
    dir.write("run.2dm", "MESH2D\nND 1 0 0 1\nE3T 1 1 2 9\n");  // a corner beyond the mesh
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string part;  // a piece of the console text
    };
    const std::vector<Case> cases = {
        {{"-k1", "missing_d.dat"}, 1, "cannot be found"},
        {{"-k1", "cut_d.dat"}, 1, "ERROR - Unexpected end of file in "},
        {{"-con", "run_d.dat", "other_d.dat"}, 1, "not the same as in primary .dat file."},
        {{"-max", "-k1", "run_d.dat"}, 1, "ERROR - The flags -max and -k1 cannot be used together"},
        {{"-max", "run_h.dat"}, 1, "ERROR - .2dm file is incompatible with .dat file"},
        {{"-q"}, 1, "ERROR - Incorrect flag specified: \"-q\""},
        {{"-ddur1", "run_d.dat", "run_d.dat"}, 1, "ERROR - Must specify an end time"},
        {{}, 0, "Performs various operations on KORVEN .dat files"},
        {{"-k2", "run_d.dat"}, 0, "Finished."},
        {{"-k2", "run_d.dat"}, 0, "Opened File Unit: 901"},
    };
    for (const auto& c : cases) {
        const std::vector<std::string> args = inFolder(dir, c.args);
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
        std::vector<std::string> lines;
        const int status = runCommandLine(args, lines);
        EXPECT_EQ(status, c.status);
        EXPECT_NE(joined(lines).find(c.part), std::string::npos) << joined(lines);
        // Nothing but the inputs and finished outputs in the folder, no unit left open.
        for (const auto& name : test::listFolder(dir.path())) EXPECT_NE(name[0], '.') << name;
        for (int unit = kUnitBase + 1; unit <= kUnitBase + kUnitCount; ++unit)
            EXPECT_EQ(unitStream(unit), nullptr) << unit;
    }
    EXPECT_TRUE(test::fileExists(dir.file("run_d(k2.).dat")));
    EXPECT_FALSE(test::fileExists(dir.file("run_d(k1.).dat")));
    EXPECT_FALSE(test::fileExists(dir.file("run_h(maxmax).dat")));
}

TEST(InProcess, ConsoleTextIsTheExecutablesInBatchMode) {
    test::TempDir dir;
    dir.write("a_d.dat", scalarDataset({1, 2, 3}));
    dir.write("b_d.dat", scalarDataset({1, 3}));
    const std::vector<std::vector<std::string>> commands = {
        {"-r2", "a_d.dat"},   {"-dur1.5", "a_d.dat"},          {"-max", "a_d.dat", "b_d.dat"},
        {"-dif", "-nowetdry", "a_d.dat", "b_d.dat"},
        {"-k9", "gone.dat"},  {"-con", "a_d.dat"},             {"-b"},
    };
    for (const auto& command : commands) {
        SCOPED_TRACE(command[0]);
        std::vector<std::string> args = {"-b"};
        args.insert(args.end(), command.begin(), command.end());
        const test::ToolResult tool = test::runTool(args, "", dir.path());
        std::string text;
        // The in-process run works in the test's folder, so names are given in full there; the
        // executable ran with the folder as its working folder: compare with the folder removed.
        const int status = runCommandLineText(inFolder(dir, command), text);
        std::string shown = text;
        for (std::size_t p; (p = shown.find(dir.path() + "/")) != std::string::npos;)
            shown.erase(p, dir.path().size() + 1);
        EXPECT_EQ(status, tool.status);
        EXPECT_EQ(shown, tool.output);
    }
}

TEST(InProcess, ConcurrentRunsAreServedOneAfterTheOther) {
    test::TempDir dir;
    dir.write("a_d.dat", scalarDataset({1, 2, 3, 4}));
    dir.write("b_d.dat", scalarDataset({5, 6}));
    int statusA = -1;
    int statusB = -1;
    std::vector<std::string> linesA;
    std::vector<std::string> linesB;
    std::thread first([&] { statusA = runCommandLine({"-k2", dir.file("a_d.dat")}, linesA); });
    std::thread second([&] { statusB = runCommandLine({"-r5", dir.file("b_d.dat")}, linesB); });
    first.join();
    second.join();
    EXPECT_EQ(statusA, 0);
    EXPECT_EQ(statusB, 0);
    EXPECT_EQ(test::readFile(dir.file("a_d(k2.).dat")).size(), 92u + 4 + 1 + 4 + 1 + 12 + 4);
    EXPECT_EQ(test::readFile(dir.file("b_d(r5.).dat")).size(), 92u + 4 + 1 + 4 + 1 + 12 + 4);
    // Each run numbers its units from 901: the other's were all closed.
    EXPECT_NE(joined(linesA).find("Opened File Unit: 901"), std::string::npos);
    EXPECT_NE(joined(linesB).find("Opened File Unit: 901"), std::string::npos);
}

TEST(InProcess, UnitsOfTheCallingProgramStayOpen) {
    test::TempDir dir;
    dir.write("a_d.dat", scalarDataset({1}));
    const int mine = OPENFILEUNIT("O ", dir.file("log.txt"));
    std::vector<std::string> lines;
    EXPECT_EQ(runCommandLine({"-k9", dir.file("missing.dat")}, lines), 1);
    EXPECT_NE(unitStream(mine), nullptr);
    EXPECT_EQ(runCommandLine({"-k1", dir.file("a_d.dat")}, lines), 0);
    // The run's files are its own: numbered from 901 as in the executable.
    EXPECT_NE(joined(lines).find("Opened File Unit: 901"), std::string::npos);
    EXPECT_NE(unitStream(mine), nullptr);
    CLOSEFILEUNIT(mine);
}

}  // namespace
}  // namespace kelvara
