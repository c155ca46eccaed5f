// -grid<cell size> through the real tool: the GeoTIFF beside the input, -t choosing one step,
// and the runs it refuses with an "ERROR - " line and nothing left behind. What the bands hold
// is checked through GDAL in test_grid.cpp.
#include <gtest/gtest.h>

#include <filesystem>

#include "grid/grid.h"
#include "support/dat_builder.h"
#include "support/tempdir.h"
#include "support/tool_runner.h"
#include "tool/options.h"

#ifdef KELVARA_WITH_GDAL
#include <gdal.h>
#endif

namespace kelvara::test {
namespace {

// Two triangles over the unit square, scaled by 10.
const char* kMesh =
    "MESH2D\n"
    "ND 1 0 0 0\nND 2 10 0 0\nND 3 10 10 0\nND 4 0 10 0\n"
    "E3T 1 1 2 3 1\nE3T 2 1 3 4 1\n";

std::string dataset(const std::vector<float>& times, std::int32_t nodes = 4) {
    DatBuilder b;
    b.header(nodes, 2, false, "test");
    for (float t : times) b.step(t, {1, 1}, std::vector<float>(static_cast<std::size_t>(nodes), t), {});
    return b.end().bytes();
}

bool noHiddenFiles(const std::string& folder) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().string()[0] == '.') return false;
    }
    return true;
}

TEST(GridTool, OneBandPerStepOrTheStepAtTheGivenTime) {
    if (!grid::available()) GTEST_SKIP() << "built without GDAL";
    struct Case {
        std::vector<std::string> args;
        std::string written;
    };
    const std::vector<Case> cases = {
        {{"-b", "-grid2", "run_d.dat"}, "Wrote run_d(grid2).tif: 3 bands of 5 by 5 cells."},
        {{"-b", "-grid2.5", "-t1", "run_d.dat"}, "Wrote run_d(grid2.5).tif: 1 band of 4 by 4 cells."},
        {{"-b", "-t2.0004", "-grid5", "run_d.dat"}, "Wrote run_d(grid5).tif: 1 band of 2 by 2 cells."},
    };
    for (const Case& c : cases) {
        TempDir dir;
        dir.write("run.2dm", kMesh);
        dir.write("run_d.dat", dataset({0, 1, 2}));
        ToolResult r = runTool(c.args, "", dir.path());
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_TRUE(contains(r.output, "\n" + c.written + "\n")) << r.output;
        EXPECT_TRUE(contains(r.output, "WARNING - ")) << "no .prj: no coordinate reference";
        EXPECT_TRUE(noHiddenFiles(dir.path()));
    }
}

TEST(GridTool, RunsItRefusesLeaveNothingBehind) {
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string mesh;  // empty: none
        std::string data;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"a cell size of zero", {"-b", "-grid0", "run_d.dat"}, kMesh, dataset({0}),
         "ERROR - Reading the cell size of -grid"},
        {"a negative cell size", {"-b", "-grid-2", "run_d.dat"}, kMesh, dataset({0}),
         "ERROR - Reading the cell size of -grid"},
        {"no time at -t", {"-b", "-grid2", "-t7", "run_d.dat"}, kMesh, dataset({0, 1}),
         "ERROR - "},
        {"no mesh", {"-b", "-grid2", "run_d.dat"}, "", dataset({0}), "ERROR - "},
        {"a dataset of another mesh", {"-b", "-grid2", "run_d.dat"}, kMesh, dataset({0}, 5),
         "ERROR - "},
        {"two inputs", {"-b", "-grid2", "run_d.dat", "run_d.dat"}, kMesh, dataset({0}),
         "ERROR - Can only specify one .dat file for -grid."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        if (!c.mesh.empty()) dir.write("run.2dm", c.mesh);
        dir.write("run_d.dat", c.data);
        ToolResult r = runTool(c.args, "", dir.path());
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_TRUE(contains(r.output, c.message)) << r.output;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            EXPECT_NE(entry.path().extension(), ".tif") << entry.path();
        }
        EXPECT_TRUE(noHiddenFiles(dir.path()));
    }
}

// The cell size is read in double: in single precision -grid0.1 gave cells of
// 0.10000000149011612 and a corner at 411999.906 instead of 412000.
TEST(GridTool, TheCellSizeIsReadInDouble) {
    const struct {
        const char* flag;
        double size;
    } sizes[] = {{"-grid0.1", 0.1}, {"-grid1d-1", 0.1}, {"-grid2.5", 2.5}, {"-grid0.3", 0.3},
                 {"-grid1E-2", 0.01}, {"-grid 0.7 ", 0.7}};
    for (const auto& c : sizes) {
        RunOptions options;
        CommandLineError error;
        ASSERT_TRUE(PARSE_COMMAND_LINE({c.flag, "run_d.dat"}, options, error)) << c.flag;
        EXPECT_EQ(options.operation.cellSize, c.size) << c.flag;
    }
}

#ifdef KELVARA_WITH_GDAL
TEST(GridTool, CornersLieOnMultiplesOfTheCellSize) {
    // A square of 1 by 1 at real coordinates.
    const char* mesh =
        "MESH2D\n"
        "ND 1 412000 6100000 0\nND 2 412001 6100000 0\nND 3 412001 6100001 0\n"
        "ND 4 412000 6100001 0\nE3T 1 1 2 3 1\nE3T 2 1 3 4 1\n";
    const struct {
        const char* flag;
        const char* output;
        double size;
    } cases[] = {{"-grid0.1", "run_d(grid0.1).tif", 0.1}, {"-grid1d-1", "run_d(grid1d-1).tif", 0.1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flag);
        TempDir dir;
        dir.write("run.2dm", mesh);
        dir.write("run_d.dat", dataset({0}));
        ToolResult r = runTool({"-b", c.flag, "run_d.dat"}, "", dir.path());
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_TRUE(contains(r.output, "Wrote " + std::string(c.output) +
                                           ": 1 band of 10 by 10 cells."))
            << r.output;
        GDALAllRegister();
        GDALDatasetH grid = GDALOpen(dir.file(c.output).c_str(), GA_ReadOnly);
        ASSERT_NE(grid, nullptr);
        double transform[6] = {};
        GDALGetGeoTransform(grid, transform);
        GDALClose(grid);
        EXPECT_EQ(transform[0], 412000.0);
        EXPECT_EQ(transform[3], 6100001.0);
        EXPECT_EQ(transform[1], c.size);
        EXPECT_EQ(transform[5], -c.size);
    }
}
#endif

TEST(GridTool, ABuildWithoutGdalSaysSo) {
    if (grid::available()) GTEST_SKIP() << "built with GDAL";
    TempDir dir;
    dir.write("run.2dm", kMesh);
    dir.write("run_d.dat", dataset({0}));
    ToolResult r = runTool({"-b", "-grid2", "run_d.dat"}, "", dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.output, "ERROR - This build of kelvara cannot write grids")) << r.output;
}

}  // namespace
}  // namespace kelvara::test
