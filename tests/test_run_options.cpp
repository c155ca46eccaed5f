// The long options of a run through the real tool: --mesh names the mesh of every operation that
// reads one, --output names the output of every operation (its extension choosing the sink),
// --cell the cell size of a grid drawn from any operation's steps; the never-replace-an-input
// rule and the refusals of names the tool cannot write.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "formats/companions.h"
#include "tool/operation.h"
#include "grid/grid.h"
#include "support/tempdir.h"
#include "support/tool_runner.h"

#ifdef KELVARA_WITH_GDAL
#include <gdal.h>
#endif

namespace kelvara::test {
namespace {

namespace fs = std::filesystem;

// The shipped example case (two runs, base and design, of one mesh).
const fs::path kExample = fs::path(__FILE__).parent_path().parent_path() / "examples" / "flood";

void copyExample(const TempDir& dir, bool withMeshes = true) {
    for (const auto& entry : fs::directory_iterator(kExample)) {
        const std::string name = entry.path().filename().string();
        const std::string ext = entry.path().extension().string();
        if (ext == ".dat" || (withMeshes && ext == ".2dm"))
            dir.write(name, readFile(entry.path().string()));
    }
}

std::vector<std::string> batch(std::vector<std::string> args) {
    args.insert(args.begin(), "-b");
    return args;
}

// A dataset's bytes but for the name its header carries (the output's name, 40 bytes after
// card 190).
std::string withoutHeaderName(std::string bytes, const std::string& name) {
    if (name.size() > 4 && name.substr(name.size() - 4) == ".dat" && bytes.size() >= 92)
        bytes.erase(52, 40);
    return bytes;
}

std::vector<std::string> hiddenFiles(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& name : listFolder(folder))
        if (name[0] == '.') found.push_back(name);
    return found;
}

// Every operation that writes a dataset: what --output names is what the default name holds.
TEST(OutputOption, NamesTheOutputOfEveryOperation) {
    struct Case {
        std::vector<std::string> args;
        std::string defaultName;
    };
    const std::vector<Case> cases = {
        {{"-con", "base_d.dat", "design_d.dat"}, "base_d(con).dat"},
        {{"-k5", "base_h.dat"}, "base_h(k5.).dat"},
        {{"-r5", "base_d.dat"}, "base_d(r5.).dat"},
        {{"-trim0.5", "base_V.dat"}, "base_V(trim0.5).dat"},
        {{"-va", "base_V.dat"}, "base_V(va).dat"},
        {{"-max", "base_h.dat", "design_h.dat"}, "base_h(maxmax).dat"},
        {{"-dur0.1", "base_d.dat"}, "base_d(dur0.1).dat"},
        {{"-dif", "base_d.dat", "design_d.dat"}, "base_d - design_d.dat"},
        {{"-ddur0.1", "-t10", "base_h.dat", "design_h.dat"}, "base_h - design_h.dat"},
        {{"-arrival0.3", "base_d.dat"}, "base_d(arrival0.3).dat"},
        {{"-hazard", "base_d.dat"}, "base_d(hazard).dat"},
        {{"-times", "base_d.dat"}, "times.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        TempDir plain;
        copyExample(plain);
        const ToolResult byRule = runTool(batch(c.args), "", plain.path());
        ASSERT_EQ(byRule.status, 0) << byRule.output;
        ASSERT_TRUE(fileExists(plain.file(c.defaultName))) << byRule.output;

        for (const std::string& form : {std::string("split"), std::string("joined")}) {
            TempDir dir;
            copyExample(dir);
            fs::create_directory(dir.file("out"));
            std::vector<std::string> args = batch(c.args);
            if (form == "split") {
                args.insert(args.end(), {"--output", "out/result.dat"});
            } else {
                args.push_back("--output=out/result.dat");
            }
            const ToolResult named = runTool(args, "", dir.path());
            ASSERT_EQ(named.status, 0) << named.output;
            EXPECT_FALSE(fileExists(dir.file(c.defaultName)));
            EXPECT_TRUE(withoutHeaderName(readFile(dir.file("out/result.dat")), c.defaultName) ==
                        withoutHeaderName(readFile(plain.file(c.defaultName)), c.defaultName));
            EXPECT_TRUE(contains(named.output, "\nWrote out/result.dat: ")) << named.output;
            EXPECT_EQ(hiddenFiles(dir.file("out")), std::vector<std::string>{});
        }
    }
}

// Names the tool refuses before any file is read, and outputs that would replace a file the
// run reads: an ERROR line, status 1, the folder as it was.
TEST(OutputOption, RefusesWhatItCannotWrite) {
    struct Case {
        std::vector<std::string> args;
        std::string error;
    };
    const std::vector<Case> cases = {
        {{"-max", "base_d.dat", "--output", "peak.csv"},
         "ERROR - kelvara cannot write peak.csv: an output ends in .dat, .tif, .tiff, .gpkg or .nc."},
        {{"-max", "base_d.dat", "--output", "peak"},
         "ERROR - kelvara cannot write peak: an output ends in .dat, .tif, .tiff, .gpkg or .nc."},
        {{"-grid2", "base_d.dat", "--output", "grid.dat"},
         "ERROR - -grid writes a GeoTIFF: its output grid.dat must end in .tif."},
        {{"-dif", "base_d.dat", "design_d.dat", "third.dat", "--output", "x.dat"},
         "ERROR - The output is named twice, by the last file name and by --output: give one "
         "of them."},
        {{"-max", "base_d.dat", "--output"},
         "ERROR - --output needs a file name: --output FILE or --output=FILE."},
        {{"-max", "base_d.dat", "--mesh="},
         "ERROR - --mesh needs a file name: --mesh FILE or --mesh=FILE."},
        {{"-max", "base_d.dat", "--output", "p.tif", "--cell", "0"},
         "ERROR - Reading the cell size of --cell"},
        {{"-max", "base_d.dat", "--output", "p.tif", "--cell=2,5"},
         "ERROR - Reading the cell size of --cell"},
        {{"-max", "base_d.dat", "--output", "p.tif"},
         "ERROR - The grid p.tif needs its cell size: --cell SIZE, in the mesh's units."},
        {{"-max", "base_d.dat", "--cell", "2"},
         "ERROR - --cell is the cell size of a grid output: name one with --output NAME.tif."},
        {{"-grid2", "base_d.dat", "--cell", "2"},
         "ERROR - -grid takes its cell size right after the flag (-grid2), not from --cell."},
        // Unknown long options are incorrect flags, as every "--" argument was before.
        {{"-max", "base_d.dat", "--meshes", "base.2dm"},
         "ERROR - Incorrect flag specified: \"--meshes\""},
        {{"-max", "base_d.dat", "design_d.dat", "--output", "design_d.dat"},
         "ERROR - The output file \"design_d.dat\" would replace the input \"design_d.dat\". Give "
         "the output another name."},
        {{"-dif", "base_d.dat", "design_d.dat", "--output", "design_h.dat"},
         "ERROR - The output file \"design_h.dat\" would replace the input \"design_h.dat\"."},
        {{"-max", "base_h.dat", "--mesh", "design_V.dat", "--output", "design_V.dat"},
         "ERROR - The output file \"design_V.dat\" would replace the input \"design_V.dat\"."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        TempDir dir;
        copyExample(dir);
        const std::vector<std::string> before = listFolder(dir.path());
        const std::string baseBefore = readFile(dir.file("design_d.dat"));
        const ToolResult r = runTool(batch(c.args), "", dir.path());
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_TRUE(contains(r.output, "\n" + c.error)) << r.output;
        EXPECT_EQ(listFolder(dir.path()), before);
        EXPECT_EQ(readFile(dir.file("design_d.dat")), baseBefore);
    }
}

// --mesh on every operation that reads a mesh: the same output as the mesh found by the name
// rule, when the rule would find none.
TEST(MeshOption, NamesTheMeshOfEveryOperationThatReadsOne) {
    struct Case {
        std::vector<std::string> args;
        std::string output;
    };
    const std::vector<Case> cases = {
        {{"-max", "base_h.dat", "design_h.dat"}, "base_h(maxmax).dat"},
        {{"-dif", "base_d.dat", "design_d.dat"}, "base_d - design_d.dat"},
        {{"-dif", "base_h.dat", "design_h.dat"}, "base_h - design_h.dat"},
        {{"-grid5", "-t5", "base_d.dat"}, "base_d(grid5).tif"},
        // A grid drawn from another operation's steps reads the mesh that --mesh names.
        {{"-max", "base_d.dat", "--output", "peak.tif", "--cell", "5"}, "peak.tif"},
        {{"-max", "base_h.dat", "--output=peak.tif", "--cell=5"}, "peak.tif"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        if (c.output.find(".tif") != std::string::npos && !grid::available()) continue;
        TempDir byRule;
        copyExample(byRule);
        const ToolResult expected = runTool(batch(c.args), "", byRule.path());
        ASSERT_EQ(expected.status, 0) << expected.output;

        for (const std::string& form : {std::string("split"), std::string("joined")}) {
            TempDir dir;
            copyExample(dir, false);
            fs::create_directory(dir.file("meshes"));
            dir.write("meshes/run mesh.2dm", readFile((kExample / "base.2dm").string()));
            std::vector<std::string> args = batch(c.args);
            if (form == "split") {
                args.insert(args.end(), {"--mesh", "meshes/run mesh.2dm"});
            } else {
                args.push_back("--mesh=meshes/run mesh.2dm");
            }
            const ToolResult r = runTool(args, "", dir.path());
            ASSERT_EQ(r.status, 0) << r.output;
            EXPECT_TRUE(contains(r.output, "Trying to open file meshes/run mesh.2dm...OK."))
                << r.output;
            EXPECT_TRUE(readFile(dir.file(c.output)) == readFile(byRule.file(c.output)));
        }
    }
}

// A name whose rule finds no mesh ("base_d - design" is no run): with --mesh it works in batch
// mode; without it the message says which rule it applied and names the option.
TEST(MeshOption, ReachesAMeshTheNameRuleCannot) {
    if (!grid::available()) GTEST_SKIP() << "built without GDAL";
    TempDir dir;
    copyExample(dir);
    ASSERT_EQ(runTool(batch({"-dif", "-nowetdry", "base_d.dat", "design_d.dat"}), "", dir.path())
                  .status,
              0);
    ToolResult r = runTool(batch({"-grid2", "base_d - design_d.dat"}), "", dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(
        r.output,
        "\nERROR - base_d - design.2dm cannot be found: -grid draws the values of base_d - "
        "design_d.dat on the mesh of its run, looked for beside it.\nPut the run's mesh there "
        "under that name (the name of base_d - design_d.dat up to its last \"_\", then .2dm), or "
        "name it with --mesh.\n"))
        << r.output;

    r = runTool(batch({"-grid2", "base_d - design_d.dat", "--mesh", "base.2dm"}), "", dir.path());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(fileExists(dir.file("base_d - design_d(grid2).tif")));

    r = runTool(batch({"-grid2", "base_d.dat", "--mesh", "none.2dm"}), "", dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.output,
                         "\nERROR - none.2dm cannot be found: -grid draws the values of "
                         "base_d.dat on the mesh of its run, named with --mesh.\nGive --mesh the "
                         "name of the run's mesh.\n"))
        << r.output;
}

// The table of flag words and operations: every operation has a row that describes and runs
// it, and no flag word is out of reach (begins with a word tried before it). The words after
// the first thirteen also have no earlier word beginning with them, so that no command line
// that was written before them changes its meaning.
TEST(OperationTable, EveryOperationHasItsRowAndEveryWordIsReachable) {
    const std::vector<OperationEntry>& table = operationTable();
    for (OperationKind kind :
         {OperationKind::SinglePass, OperationKind::ListTimes, OperationKind::Maximum,
          OperationKind::Duration, OperationKind::Difference, OperationKind::DurationDifference,
          OperationKind::Arrival, OperationKind::Hazard, OperationKind::Grid}) {
        const OperationEntry& e = operationEntry(kind);
        EXPECT_EQ(e.kind, kind);
        EXPECT_NE(e.run, nullptr);
        OperationShape shape;
        Operation operation;
        operation.kind = kind;
        e.describe(operation, {"run_d.dat"}, shape);
        EXPECT_FALSE(shape.outputName.empty()) << e.word;
    }
    EXPECT_EQ(operationEntry(OperationKind::None).run, nullptr);
    constexpr std::size_t kFirstWords = 13;
    for (std::size_t j = 0; j < table.size(); ++j) {
        const std::string later = table[j].word;
        for (std::size_t i = 0; i < j; ++i) {
            const std::string earlier = table[i].word;
            EXPECT_NE(later.rfind(earlier, 0), 0u) << later << " begins with " << earlier;
            if (j >= kFirstWords) {
                EXPECT_NE(earlier.rfind(later, 0), 0u) << earlier << " begins with " << later;
            }
        }
        EXPECT_EQ(table[j].number == NumberUse::None, std::string(table[j].numberName).empty())
            << later;
    }
}

TEST(CompanionResolver, BuildsEverySiblingNameInOnePlace) {
    struct Case {
        std::string mesh;  // --mesh, "" for the rule
        CompanionFile which;
        std::string dataset;
        std::string name;
        std::string rule;
    };
    const std::vector<Case> cases = {
        {"", CompanionFile::Mesh, "runs/base_h.dat", "runs/base.2dm",
         "the name of runs/base_h.dat up to its last \"_\", then .2dm"},
        {"", CompanionFile::Levels, "base_d.dat", "base_h.dat",
         "the name of base_d.dat up to its last \"_\", then _h.dat"},
        {"", CompanionFile::Velocities, "a_b_d.dat", "a_b_V.dat",
         "the name of a_b_d.dat up to its last \"_\", then _V.dat"},
        {"", CompanionFile::Reference, "base_d.dat", "base.prj",
         "the name of the mesh base.2dm with .prj for .2dm"},
        {"", CompanionFile::Mesh, "plain.dat", "plain.2dm",
         "the name of plain.dat up to its last \"_\", then .2dm"},
        {"m/flood.2dm", CompanionFile::Mesh, "base_d.dat", "m/flood.2dm", "named with --mesh"},
        {"m/flood.2dm", CompanionFile::Reference, "base_d.dat", "m/flood.prj",
         "the name of the mesh m/flood.2dm with .prj for .2dm"},
        // --mesh names the mesh only: the levels keep their rule.
        {"m/flood.2dm", CompanionFile::Levels, "base_d.dat", "base_h.dat",
         "the name of base_d.dat up to its last \"_\", then _h.dat"},
    };
    for (const Case& c : cases) {
        const CompanionResolver r(c.mesh);
        EXPECT_EQ(r.name(c.which, c.dataset), c.name) << c.dataset;
        EXPECT_EQ(r.rule(c.which, c.dataset), c.rule) << c.dataset;
    }
}

#ifdef KELVARA_WITH_GDAL
// Every band's values, description and time, and the grid's placement.
struct GridContents {
    int bands = 0;
    double transform[6] = {};
    std::vector<std::vector<float>> values;
    std::vector<std::string> descriptions;
};

GridContents readGrid(const std::string& path) {
    GridContents g;
    GDALAllRegister();
    GDALDatasetH d = GDALOpen(path.c_str(), GA_ReadOnly);
    if (d == nullptr) return g;
    g.bands = GDALGetRasterCount(d);
    GDALGetGeoTransform(d, g.transform);
    const int x = GDALGetRasterXSize(d), y = GDALGetRasterYSize(d);
    for (int b = 1; b <= g.bands; ++b) {
        GDALRasterBandH band = GDALGetRasterBand(d, b);
        std::vector<float> values(static_cast<std::size_t>(x) * static_cast<std::size_t>(y));
        if (GDALRasterIO(band, GF_Read, 0, 0, x, y, values.data(), x, y, GDT_Float32, 0, 0) !=
            CE_None)
            values.clear();
        g.values.push_back(values);
        g.descriptions.push_back(GDALGetDescription(band));
    }
    GDALClose(d);
    return g;
}

// A grid drawn from an operation's steps is the grid that -grid draws from its output: band
// for band, each described alike.
TEST(GridOutput, EqualsTheTwoStepRouteBandForBand) {
    struct Case {
        std::vector<std::string> args;  // the operation
        std::string output;             // its .dat output
        std::string gridFlags;          // what -grid takes to draw the same steps
    };
    const std::vector<Case> cases = {
        {{"-max", "base_d.dat", "design_d.dat"}, "base_d(maxmax).dat", ""},
        {{"-max", "base_V.dat", "design_V.dat"}, "base_V(maxmax).dat", ""},
        {{"-dur0.1", "base_d.dat"}, "base_d(dur0.1).dat", ""},
        {{"-k5", "base_h.dat"}, "base_h(k5.).dat", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        TempDir dir;
        copyExample(dir);
        std::vector<std::string> oneStep = batch(c.args);
        oneStep.insert(oneStep.end(), {"--output", "direct.tif", "--cell", "5"});
        const ToolResult direct = runTool(oneStep, "", dir.path());
        ASSERT_EQ(direct.status, 0) << direct.output;
        EXPECT_TRUE(contains(direct.output, "\nOutput Grid File: direct.tif\n")) << direct.output;

        ASSERT_EQ(runTool(batch(c.args), "", dir.path()).status, 0);
        std::vector<std::string> grid = {"-b", "-grid5"};
        if (!c.gridFlags.empty()) grid.push_back(c.gridFlags);
        grid.push_back(c.output);
        const ToolResult twoSteps = runTool(grid, "", dir.path());
        ASSERT_EQ(twoSteps.status, 0) << twoSteps.output;

        const GridContents a = readGrid(dir.file("direct.tif"));
        const std::string twoStepName = c.output.substr(0, c.output.size() - 4) + "(grid5).tif";
        const GridContents b = readGrid(dir.file(twoStepName));
        ASSERT_GT(a.bands, 0);
        EXPECT_EQ(a.bands, b.bands);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(a.transform[i], b.transform[i]);
        EXPECT_TRUE(a.values == b.values);
        EXPECT_EQ(a.descriptions, b.descriptions);
        // The last line says what was written, in bands.
        const std::string last = "Wrote direct.tif: " + std::to_string(a.bands) +
                                 (a.bands == 1 ? " band" : " bands");
        EXPECT_TRUE(contains(direct.output, "\n" + last)) << direct.output;
        EXPECT_EQ(hiddenFiles(dir.path()), std::vector<std::string>{});
    }
}
#endif

// -grid's own GeoTIFF under the name --output gives it.
TEST(GridOutput, GridTakesItsNameFromOutput) {
    if (!grid::available()) GTEST_SKIP() << "built without GDAL";
    TempDir dir;
    copyExample(dir);
    const ToolResult r =
        runTool(batch({"-grid5", "-t5", "base_d.dat", "--output=grids/g.TIF"}), "", dir.path());
    EXPECT_EQ(r.status, 1) << "no folder grids";
    fs::create_directory(dir.file("grids"));
    const ToolResult named =
        runTool(batch({"-grid5", "-t5", "base_d.dat", "--output=grids/g.TIF"}), "", dir.path());
    ASSERT_EQ(named.status, 0) << named.output;
    EXPECT_TRUE(contains(named.output, "\nOutput Grid File: grids/g.TIF\n")) << named.output;
    EXPECT_TRUE(contains(named.output, "\nWrote grids/g.TIF: 1 band of ")) << named.output;
    EXPECT_FALSE(fileExists(dir.file("base_d(grid5).tif")));
    EXPECT_EQ(hiddenFiles(dir.file("grids")), std::vector<std::string>{});
}

// A grid output that fails when the grid is drawn leaves nothing: no grid, no work file.
TEST(GridOutput, AFailedGridLeavesNothing) {
    if (!grid::available()) GTEST_SKIP() << "built without GDAL";
    TempDir dir;
    copyExample(dir);
    dir.write("small.2dm", "MESH2D\nND 1 0 0 0\nND 2 1 0 0\nND 3 0 1 0\nE3T 1 1 2 3 1\n");
    const std::vector<std::string> before = listFolder(dir.path());
    const ToolResult r = runTool(
        batch({"-max", "base_d.dat", "--mesh", "small.2dm", "--output", "p.tif", "--cell", "5"}),
        "", dir.path());
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_TRUE(contains(r.output, "ERROR - ")) << r.output;
    EXPECT_EQ(listFolder(dir.path()), before);
}

}  // namespace
}  // namespace kelvara::test
