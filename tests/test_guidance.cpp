// What the console tells a user beyond the error itself: what to fix, and what a finished run
// wrote.
#include <gtest/gtest.h>

#include <filesystem>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "support/dat_builder.h"
#include "support/tempdir.h"
#include "support/tool_runner.h"

namespace kelvara::test {
namespace {

std::string dataset(const std::vector<float>& times) {
    DatBuilder b;
    b.header(2, 1, false, "test");
    for (float t : times) b.step(t, {1}, {t, t + 1.0f}, {});
    return b.end().bytes();
}

TEST(Guidance, TheLastLineSaysWhatWasWritten) {
    struct Case {
        std::vector<std::string> args;
        std::string line;
    };
    const std::vector<Case> cases = {
        {{"-b", "-max", "run_d.dat"},
         "Wrote run_d(maxmax).dat: 2 steps (111111., 222222.) of 2 nodes and 1 cells."},
        {{"-b", "-con", "run_d.dat", "run2_d.dat"}, "Wrote run_d(con).dat: 12 steps of 2 nodes and 1 cells."},
        {{"-b", "-times", "run_d.dat"}, "Wrote times.txt: 6 times."},
    };
    for (const Case& c : cases) {
        TempDir dir;
        dir.write("run_d.dat", dataset({0, 1, 2, 3, 4, 5}));
        dir.write("run2_d.dat", dataset({6, 7, 8, 9, 10, 11}));
        ToolResult r = runTool(c.args, "", dir.path());
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_TRUE(contains(r.output, "\nFinished.\n" + c.line + "\n")) << r.output;
        EXPECT_EQ(r.output.substr(r.output.size() - c.line.size() - 1), c.line + "\n");
    }
}

TEST(Guidance, ANameGivenAtThePromptNamesTheOutput) {
    TempDir dir;
    dir.write("base_d.dat", dataset({0, 1}));
    ToolResult r = runTool({"-max", "base_dd.dat"}, "base_d.dat\n\n", dir.path());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(contains(r.output, "Output .dat File: base_d(maxmax).dat")) << r.output;
    EXPECT_TRUE(fileExists(dir.file("base_d(maxmax).dat")));
    EXPECT_FALSE(fileExists(dir.file("base_dd(maxmax).dat")));
}

TEST(Guidance, AFileThatIsNotADatasetSaysWhatItIs) {
    struct Case {
        const char* what;
        std::string bytes;
        std::string hint;
    };
    const std::vector<Case> cases = {
        {"a mesh", "MESH2D\nND 1 0 0 0\nND 2 1 0 0\nND 3 0 1 0\nE3T 1 1 2 3 1\n",
         "run_d.dat is not a .dat dataset (it begins like a .2dm mesh)"},
        {"other text", "       0.000\n       1.000\n",
         "run_d.dat is not a .dat dataset (it begins with the text \"       0.000\")."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        dir.write("run_d.dat", c.bytes);
        ToolResult r = runTool({"-b", "-max", "run_d.dat"}, "", dir.path());
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_TRUE(contains(r.output, "ERROR - ")) << r.output;
        EXPECT_TRUE(contains(r.output, c.hint)) << r.output;
    }
}

#ifndef _WIN32
TEST(Guidance, AnOutputFolderWithoutWritePermissionIsNamed) {
    if (geteuid() == 0) {
        // Permissions do not hold for the superuser: a folder on which writing fails otherwise.
        GTEST_SKIP() << "run as root: write permission is not enforced";
    }
    TempDir dir;
    std::filesystem::create_directory(dir.file("locked"));
    dir.write("locked/run_d.dat", dataset({0, 1}));
    ASSERT_EQ(chmod(dir.file("locked").c_str(), 0555), 0);
    ToolResult r = runTool({"-b", "-max", "locked/run_d.dat"}, "", dir.path());
    chmod(dir.file("locked").c_str(), 0755);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_TRUE(contains(r.output, "No permission to write in locked/.")) << r.output;
}
#endif

}  // namespace
}  // namespace kelvara::test
