// Grids of classes, input numbers and coded differences: what each step of a dataset holds,
// told by the operation or by the dataset's name and time; classes never interpolated (a cell
// takes the highest class of the corners of the mesh cell under its centre); the file's data
// type, colours and category names, read back through GDAL; -dif's codes in a band of their
// own; descriptions, units and statistics.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "formats/mesh.h"
#include "grid/grid.h"
#include "sinks/known_steps.h"
#include "support/mesh_builder.h"
#include "support/tempdir.h"
#include "support/tool_runner.h"

#ifdef KELVARA_WITH_GDAL
#include <gdal.h>
#endif

namespace kelvara::test {
namespace {

namespace fs = std::filesystem;
using grid::BandSpec;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// The steps a dataset's name and a time tell.
TEST(KnownSteps, TheNameAndTheTimeTellWhatAStepHolds) {
    struct Case {
        const char* name;
        float time;
        StepKind kind;
        std::string description;
        std::size_t categories;
    };
    const Case cases[] = {
        {"base_d(maxmax).dat", 111111.0f, StepKind::Values, "maximum depth (m)", 0},
        {"base_V(maxmax).dat", 222222.0f, StepKind::InputNumbers, "input number", 0},
        {"base_d(dur0.3).dat", 111111.0f, StepKind::Values, "hours with depth at or above 0.3 m",
         0},
        {"run(dur1.5).dat", 111111.0f, StepKind::Values, "hours at or above 1.5", 0},
        {"base_d(arrival0.3).dat", 100002.0f, StepKind::Values,
         "time depth last falls below 0.3 m (h)", 0},
        {"any.dat", 100001.0f, StepKind::Values, "arrival time (h)", 0},
        {"base_d(hazard).dat", 100012.0f, StepKind::Classes, "ARR2019 hazard class", 6},
        {"any.dat", 100014.0f, StepKind::Classes, "UK hazard class", 4},
        {"any.dat", 120002.0f, StepKind::Classes, "critical group", 0},
        {"any.dat", 120003.0f, StepKind::InputNumbers, "representative run", 0},
        {"base_h.dat", 1.5f, StepKind::Values, "time 1.5 h: water level (m)", 0},
        {"base_h.dat", 99999.0f, StepKind::Values, "maximum water level of the run (m)", 0},
        {"base_V(trim1)(k5.).dat", 5.0f, StepKind::Values, "time 5 h: speed (m/s)", 0},
        {"run.dat", 2.0f, StepKind::Values, "time 2 h", 0},
        {"run.dat", 111111.0f, StepKind::Values, "time 111111", 0},
        // -dif's own name: coded differences, 99999 among them.
        {"out/base_d - design_d.dat", 5.0f, StepKind::CodedDifference,
         "time 5 h: depth difference, first run minus second (m)", 0},
        {"base_d - design_d.dat", 99999.0f, StepKind::CodedDifference,
         "time 99999: depth difference, first run minus second (m)", 0},
        {"base_d(maxmax) - design_d(maxmax).dat", 111111.0f, StepKind::CodedDifference,
         "time 111111: depth difference, first run minus second (m)", 0},
        // -ddur under the same rule writes hours at 111111.
        {"base_h - design_h.dat", 111111.0f, StepKind::Values,
         "hours flooded, first run minus second (h)", 0},
        // Names that -dif does not give: 99 and -99 stay values.
        {"d5.dat", 5.0f, StepKind::Values, "time 5 h", 0},
        {"base_d - design_h.dat", 5.0f, StepKind::Values, "time 5 h: water level (m)", 0},
        {"a - b - c_d.dat", 5.0f, StepKind::Values, "time 5 h: depth (m)", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(c.time));
        const std::vector<OutputStep> steps = knownSteps(c.name);
        SinkStart start;
        start.steps = steps;
        EXPECT_EQ(start.kindOf(c.time), c.kind);
        EXPECT_EQ(describeStep(steps, c.time), c.description);
        const OutputStep* s = start.stepAt(c.time);
        EXPECT_EQ(s != nullptr ? s->categories.size() : 0u, c.categories);
    }
}

#ifdef KELVARA_WITH_GDAL

// Two quadrilaterals side by side, 20 by 10: nodes 1 2 3 along the bottom, 4 5 6 along the top.
MeshGeometry twoQuads() {
    return makeMesh({{0, 0}, {10, 0}, {20, 0}, {0, 10}, {10, 10}, {20, 10}},
                    {{1, 2, 5, 4}, {2, 3, 6, 5}});
}

struct Band {
    GDALDataType type = GDT_Unknown;
    std::string description, unit;
    double noData = 0.0;
    std::vector<double> values;  // row after row
    std::vector<std::string> categories;
    std::vector<std::array<short, 4>> colours;  // the colour table, when the band has one
    bool hasStatistics = false;
    double minimum = 0.0, maximum = 0.0;
    int attributeRows = 0;
};

struct Read {
    int columns = 0, rows = 0;
    std::vector<Band> bands;
    double at(int band, int column, int row) const {
        return bands[static_cast<std::size_t>(band)]
            .values[static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) +
                    static_cast<std::size_t>(column)];
    }
};

Read readGrid(const std::string& path) {
    GDALAllRegister();
    Read r;
    GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
    if (ds == nullptr) {
        ADD_FAILURE() << "GDAL cannot open " << path;
        return r;
    }
    r.columns = GDALGetRasterXSize(ds);
    r.rows = GDALGetRasterYSize(ds);
    for (int b = 1; b <= GDALGetRasterCount(ds); ++b) {
        GDALRasterBandH h = GDALGetRasterBand(ds, b);
        Band band;
        band.type = GDALGetRasterDataType(h);
        band.description = GDALGetDescription(h);
        band.unit = GDALGetRasterUnitType(h);
        band.noData = GDALGetRasterNoDataValue(h, nullptr);
        band.values.resize(static_cast<std::size_t>(r.columns) * static_cast<std::size_t>(r.rows));
        EXPECT_EQ(GDALRasterIO(h, GF_Read, 0, 0, r.columns, r.rows, band.values.data(),
                               r.columns, r.rows, GDT_Float64, 0, 0),
                  CE_None);
        if (char** names = GDALGetRasterCategoryNames(h)) {
            for (; *names != nullptr; ++names) band.categories.emplace_back(*names);
        }
        if (GDALColorTableH table = GDALGetRasterColorTable(h)) {
            for (int i = 0; i < GDALGetColorEntryCount(table); ++i) {
                const GDALColorEntry* e = GDALGetColorEntry(table, i);
                band.colours.push_back({e->c1, e->c2, e->c3, e->c4});
            }
        }
        double mean = 0.0, spread = 0.0;
        band.hasStatistics = GDALGetRasterStatistics(h, FALSE, FALSE, &band.minimum,
                                                     &band.maximum, &mean, &spread) == CE_None;
        if (GDALRasterAttributeTableH rat = GDALGetDefaultRAT(h)) {
            band.attributeRows = GDALRATGetRowCount(rat);
        }
        r.bands.push_back(std::move(band));
    }
    GDALClose(ds);
    return r;
}

// One step to write: its node values and cell flags (empty: every cell active).
struct Step {
    std::vector<float> values;
    std::vector<std::int8_t> active;
};

Read writeGrid(const TempDir& dir, const MeshGeometry& mesh, const std::vector<BandSpec>& bands,
               float largestClass, const std::vector<Step>& steps, double cellSize = 1.0) {
    const grid::GridRequest request{dir.file("run.2dm"), dir.file("run.prj"),
                                    dir.file("run.tif"), cellSize};
    std::vector<std::string> warnings;
    grid::GridWriter writer(mesh, request, mesh.meshNodeCount, mesh.meshCellCount, false, bands,
                            largestClass, warnings);
    for (const Step& s : steps) {
        writer.addStep(s.active.empty() ? nullptr : s.active.data(), s.values.data(), nullptr);
    }
    writer.finish();
    return readGrid(request.outputPath);
}

BandSpec classBand(const OutputStep& step) { return grid::bandsOfStep(step.time, {step})[0]; }

class GridClasses : public ::testing::Test {
protected:
    void SetUp() override {
        if (!grid::available()) GTEST_SKIP() << "GDAL cannot be loaded";
    }
    TempDir dir;
};

// A hand-made mesh of known classes: each cell the highest class of its mesh cell's corners,
// whatever the triangle under its centre, nothing interpolated; every value a class or no data.
TEST_F(GridClasses, ACellTakesTheHighestClassOfItsMeshCellsCorners) {
    const OutputStep arr = hazardSteps()[1];
    struct Case {
        const char* what;
        std::vector<float> classes;  // nodes 1 to 6
        std::vector<std::int8_t> active;
        double left, right;  // expected classes left and right of x = 10 (0: no data)
    };
    const Case cases[] = {
        {"corners 1 3 1 0 and 3 2 6 1", {1, 3, 2, 0, 1, 6}, {}, 3, 6},
        {"the right cell dry", {1, 3, 2, 0, 1, 6}, {1, 0}, 3, 0},
        {"no class at the right cell's own corners: the shared ones count", {1, 2, 0, 1, 1, kNaN},
         {}, 2, 2},
        {"never wet anywhere (class 0) is no data", {0, 0, 0, 0, 0, 0}, {}, 0, 0},
        {"classes stored as near whole numbers", {0.9999f, 4.0001f, 0, 0, 0, 0}, {}, 4, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Read r = writeGrid(dir, twoQuads(), {classBand(arr)}, 6.0f, {{c.classes, c.active}});
        ASSERT_EQ(r.bands.size(), 1u);
        EXPECT_EQ(r.bands[0].type, GDT_Byte);
        EXPECT_EQ(r.bands[0].noData, 0.0);
        ASSERT_EQ(r.columns, 20);
        ASSERT_EQ(r.rows, 10);
        for (int row = 0; row < r.rows; ++row) {
            for (int column = 0; column < r.columns; ++column) {
                EXPECT_EQ(r.at(0, column, row), column < 10 ? c.left : c.right)
                    << column << ", " << row;
            }
        }
    }
}

// Classes among values: one data type for the file, float32, the classes whole numbers; the
// bands' names, units, statistics, category names and attribute tables read back.
TEST_F(GridClasses, AFileOfValuesAndClassesDescribesEveryBand) {
    const std::vector<OutputStep> hazard = {hazardSteps()[0], hazardSteps()[1],
                                            ukHazardClassStep()};
    std::vector<BandSpec> bands;
    for (const OutputStep& s : hazard) bands.push_back(grid::bandsOfStep(s.time, hazard)[0]);
    const Read r = writeGrid(dir, twoQuads(), bands, 6.0f,
                             {{{0.5f, 1.0f, 2.0f, 0.0f, 1.5f, 3.0f}, {}},
                              {{1, 3, 2, 0, 1, 6}, {}},
                              {{1, 2, 1, 0, 1, 4}, {}}});
    ASSERT_EQ(r.bands.size(), 3u);
    struct Expected {
        std::string description, unit;
        std::set<double> allowed;  // every value one of them (empty: any)
        std::size_t categories;    // names, no-class entry 0 included
        int attributeRows;
        double minimum, maximum;
    };
    const Expected expected[] = {
        {"peak depth x velocity (m2/s)", "m2/s", {}, 0, 0, kNaN, kNaN},
        {"ARR2019 hazard class", "", {-99999, 1, 2, 3, 4, 5, 6}, 7, 6, 3.0, 6.0},
        {"UK hazard class", "", {-99999, 1, 2, 3, 4}, 5, 4, 2.0, 4.0},
    };
    for (std::size_t b = 0; b < 3; ++b) {
        SCOPED_TRACE(b);
        const Band& band = r.bands[b];
        const Expected& e = expected[b];
        EXPECT_EQ(band.type, GDT_Float32);
        EXPECT_EQ(band.noData, -99999.0);
        EXPECT_EQ(band.description, e.description);
        EXPECT_EQ(band.unit, e.unit);
        EXPECT_EQ(band.categories.size(), e.categories);
        EXPECT_EQ(band.attributeRows, e.attributeRows);
        EXPECT_TRUE(band.colours.empty()) << "a GeoTIFF's colour table is for whole numbers";
        ASSERT_TRUE(band.hasStatistics);
        if (!std::isnan(e.minimum)) {
            EXPECT_DOUBLE_EQ(band.minimum, e.minimum);
            EXPECT_DOUBLE_EQ(band.maximum, e.maximum);
        } else {  // interpolated within the corners' values
            EXPECT_GE(band.minimum, 0.0);
            EXPECT_LE(band.maximum, 3.0);
            EXPECT_LT(band.minimum, band.maximum);
        }
        for (double v : band.values) {
            if (!e.allowed.empty()) {
                EXPECT_EQ(e.allowed.count(v), 1u) << v;
            }
        }
    }
    EXPECT_EQ(r.bands[1].categories[1], "H1");
    EXPECT_EQ(r.bands[1].categories[6], "H6");
    EXPECT_EQ(r.bands[2].categories[1], "low");
    EXPECT_EQ(r.bands[2].categories[4], "extreme");
}

// A file of classes alone: whole numbers in the smallest type that holds them, no data 0, and
// the colours of the first band in the file: none for no data, green for the lowest class to
// dark red for the highest.
TEST_F(GridClasses, AFileOfClassesAloneIsWholeNumbersWithItsColours) {
    struct Case {
        OutputStep step;
        float largest;
        GDALDataType type;
        std::size_t colours;  // entries read back (0: no table)
    };
    const Case cases[] = {
        {hazardSteps()[1], 6.0f, GDT_Byte, 256},
        {ukHazardClassStep(), 4.0f, GDT_Byte, 256},
        {{kInputNumberTime, StepKind::InputNumbers, "input number", {}, {}}, 255.0f, GDT_Byte, 0},
        {{kInputNumberTime, StepKind::InputNumbers, "input number", {}, {}}, 256.0f, GDT_UInt16,
         0},
        {{kInputNumberTime, StepKind::InputNumbers, "input number", {}, {}}, 70000.0f, GDT_Int32,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step.description + " up to " + std::to_string(c.largest));
        const std::vector<float> values = {1, c.largest, 1, 1, 1, 1};
        const Read r = writeGrid(dir, twoQuads(), {classBand(c.step)}, c.largest, {{values, {}}});
        ASSERT_EQ(r.bands.size(), 1u);
        const Band& band = r.bands[0];
        EXPECT_EQ(band.type, c.type);
        EXPECT_EQ(band.noData, 0.0);
        EXPECT_EQ(r.at(0, 5, 5), c.largest);
        EXPECT_EQ(band.colours.size(), c.colours);
        if (c.colours == 0) continue;
        const std::size_t n = c.step.categories.size();
        EXPECT_EQ(band.colours[0][3], 0) << "no data is transparent";
        EXPECT_EQ(band.colours[1], (std::array<short, 4>{56, 168, 0, 255})) << "green";
        EXPECT_EQ(band.colours[n], (std::array<short, 4>{140, 0, 0, 255})) << "dark red";
        for (std::size_t k = 1; k < n; ++k) EXPECT_NE(band.colours[k], band.colours[k + 1]);
        EXPECT_EQ(band.categories.size(), n + 1);
        EXPECT_EQ(band.attributeRows, static_cast<int>(n));
    }
}

// -dif's codes: the difference has no data where a corner is a code, and the codes' band holds
// 1 (wet in the first run only), 2 (the second only) or 0, the highest of the mesh cell.
TEST_F(GridClasses, CodesOfADifferenceGoToABandOfTheirOwn) {
    const std::vector<OutputStep> steps = {differenceStep(quantityOf("a_d.dat"), true)};
    const std::vector<BandSpec> bands = grid::bandsOfStep(4.0f, steps);
    struct Case {
        const char* what;
        std::vector<float> values;
        double leftValue, rightValue;  // -99999: no data
        double leftCode, rightCode;
    };
    const Case cases[] = {
        {"no codes", {0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.1f}, 0.1f, 0.1f, 0, 0},
        {"wet in the first run only at a corner of the right cell",
         {0.1f, 0.1f, 99, 0.1f, 0.1f, 0.1f}, 0.1f, -99999, 0, 1},
        {"wet in the second run only at a shared corner, the first only at the right",
         {0.1f, -99, 99, 0.1f, 0.1f, 0.1f}, -99999, -99999, 2, 2},
        {"a difference of 98.5 is a value", {98.5f, 98.5f, 98.5f, 98.5f, 98.5f, 98.5f}, 98.5f,
         98.5f, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Read r = writeGrid(dir, twoQuads(), bands, 0.0f, {{c.values, {}}});
        ASSERT_EQ(r.bands.size(), 2u);
        EXPECT_EQ(r.bands[0].type, GDT_Float32);
        EXPECT_EQ(r.bands[0].description, "time 4 h: depth difference, first run minus second (m)");
        EXPECT_EQ(r.bands[1].description, "time 4 h: wet in one run only (1 the first, 2 the second)");
        EXPECT_EQ(r.bands[1].categories.size(), 3u);
        for (double v : r.bands[1].values) EXPECT_TRUE(v == 0 || v == 1 || v == 2) << v;
        for (double v : r.bands[0].values) EXPECT_TRUE(v == -99999 || std::fabs(v) < 99) << v;
        // Centres well inside each mesh cell, away from the diagonal's two triangles' sides.
        EXPECT_FLOAT_EQ(static_cast<float>(r.at(0, 2, 8)), static_cast<float>(c.leftValue));
        EXPECT_FLOAT_EQ(static_cast<float>(r.at(0, 17, 8)), static_cast<float>(c.rightValue));
        EXPECT_EQ(r.at(1, 2, 8), c.leftCode);
        EXPECT_EQ(r.at(1, 17, 8), c.rightCode);
    }
}

// The side file of names lands with the grid and leaves with a grid that has no names; no
// work file is left either way.
TEST_F(GridClasses, TheSideFileOfNamesFollowsTheGrid) {
    const std::string side = dir.file("run.tif.aux.xml");
    writeGrid(dir, twoQuads(), {classBand(hazardSteps()[1])}, 6.0f, {{{1, 2, 3, 4, 5, 6}, {}}});
    EXPECT_TRUE(fileExists(side));
    BandSpec values;
    values.description = "depth";
    const Read r = writeGrid(dir, twoQuads(), {values}, 0.0f, {{{1, 2, 3, 4, 5, 6}, {}}});
    EXPECT_FALSE(fileExists(side)) << "it would name the classes of a band that is no more";
    EXPECT_TRUE(r.bands[0].categories.empty());
    for (const std::string& name : listFolder(dir.path())) EXPECT_NE(name[0], '.') << name;

    // A grid abandoned before it is finished leaves neither file nor work file behind.
    TempDir other;
    {
        const MeshGeometry mesh = twoQuads();
        std::vector<std::string> warnings;
        grid::GridWriter writer(mesh, {other.file("run.2dm"), "", other.file("run.tif"), 1.0},
                                6, 2, false, {classBand(hazardSteps()[1])}, 6.0f, warnings);
        const std::vector<float> classes = {1, 2, 3, 4, 5, 6};
        writer.addStep(nullptr, classes.data(), nullptr);
    }
    EXPECT_EQ(listFolder(other.path()), std::vector<std::string>{});
}

// Through the tool: classes and codes from the example's runs, straight from the operation or
// from its .dat output by the steps' times and the output's name.
const fs::path kExample = fs::path(__FILE__).parent_path().parent_path() / "examples" / "flood";

void copyExample(const TempDir& dir) {
    for (const char* name : {"base.2dm", "design.2dm", "base_d.dat", "base_h.dat", "base_V.dat",
                             "design_d.dat", "design_h.dat"}) {
        dir.write(name, readFile((kExample / name).string()));
    }
}

TEST_F(GridClasses, TheToolKeepsClassesAndCodesApart) {
    TempDir run;
    copyExample(run);
    struct Case {
        std::vector<std::string> args;
        std::string grid;
        std::vector<std::string> descriptions;
        std::vector<GDALDataType> types;
        int classBand;   // -1: none; else every value a class 1 to 6 or no data
        int codeBand;    // -1: none; else every value 0, 1, 2 or no data
        int valueBand;   // -1: none; else no value is a code
    };
    const std::vector<Case> cases = {
        {{"-b", "-hazard", "base_d.dat", "--output", "h.tif", "--cell", "5"},
         "h.tif",
         {"peak depth x velocity (m2/s)", "ARR2019 hazard class", "UK hazard rating",
          "UK hazard class"},
         {GDT_Float32, GDT_Float32, GDT_Float32, GDT_Float32},
         1, -1, -1},
        {{"-b", "-grid5", "-t100012", "base_d(hazard).dat"},
         "base_d(hazard)(grid5).tif",
         {"ARR2019 hazard class"},
         {GDT_Byte},
         0, -1, -1},
        {{"-b", "-dif", "-t5", "base_d.dat", "design_d.dat", "--output", "d.tif", "--cell", "5"},
         "d.tif",
         {"time 5 h: depth difference, first run minus second (m)",
          "time 5 h: wet in one run only (1 the first, 2 the second)"},
         {GDT_Float32, GDT_Float32},
         -1, 1, 0},
        {{"-b", "-grid5", "-t5", "base_d - design_d.dat", "--mesh", "base.2dm"},
         "base_d - design_d(grid5).tif",
         {"time 5 h: depth difference, first run minus second (m)",
          "time 5 h: wet in one run only (1 the first, 2 the second)"},
         {GDT_Float32, GDT_Float32},
         -1, 1, 0},
        // A -dif output under a name of the user's: nothing tells that 99 is a code.
        {{"-b", "-grid5", "d5.dat", "--mesh", "base.2dm"}, "d5(grid5).tif", {"time 5 h"}, {GDT_Float32}, -1, -1, -1},
        {{"-b", "-max", "base_d.dat", "design_d.dat", "--output", "m.tif", "--cell", "5"},
         "m.tif",
         {"maximum depth (m)", "input number"},
         {GDT_Float32, GDT_Float32},
         1, -1, -1},
    };
    // The .dat outputs the grids of existing datasets read.
    ASSERT_EQ(runTool({"-b", "-hazard", "base_d.dat"}, "", run.path()).status, 0);
    ASSERT_EQ(runTool({"-b", "-dif", "base_d.dat", "design_d.dat"}, "", run.path()).status, 0);
    ASSERT_EQ(runTool({"-b", "-dif", "-t5", "base_d.dat", "design_d.dat", "d5.dat"}, "",
                      run.path())
                  .status,
              0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.grid);
        const ToolResult r = runTool(c.args, "", run.path());
        ASSERT_EQ(r.status, 0) << r.output;
        const Read g = readGrid(run.file(c.grid));
        ASSERT_EQ(g.bands.size(), c.descriptions.size());
        for (std::size_t b = 0; b < g.bands.size(); ++b) {
            EXPECT_EQ(g.bands[b].description, c.descriptions[b]);
            EXPECT_EQ(g.bands[b].type, c.types[b]);
        }
        const auto all = [&](int band, const std::set<double>& allowed) {
            if (band < 0) return;
            const Band& b = g.bands[static_cast<std::size_t>(band)];
            int data = 0;
            for (double v : b.values) {
                if (v == b.noData) continue;
                ++data;
                EXPECT_EQ(allowed.count(v), 1u) << v;
            }
            EXPECT_GT(data, 0);
        };
        all(c.classBand, {1, 2, 3, 4, 5, 6});
        all(c.codeBand, {0, 1, 2});
        if (c.valueBand >= 0) {
            for (double v : g.bands[static_cast<std::size_t>(c.valueBand)].values)
                EXPECT_TRUE(v == -99999 || std::fabs(v) < 98.0) << v;
        }
        if (c.grid == "d5(grid5).tif") {
            double highest = 0.0;
            for (double v : g.bands[0].values) highest = std::max(highest, v);
            EXPECT_GT(highest, 50.0) << "the codes stay values";
        }
    }
}

#endif

}  // namespace
}  // namespace kelvara::test
