// Grids: small meshes whose values at the grid cells' centres are known exactly, written by the
// GeoTIFF writer and read back through GDAL itself; the checks that refuse a grid and leave
// nothing behind; the file's layout, no-data value, band descriptions and coordinate reference;
// and gdalinfo reading a written file.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "fileio/units.h"
#include "formats/mesh.h"
#include "grid/grid.h"
#include "support/mesh_builder.h"
#include "support/tempdir.h"

#ifdef KELVARA_WITH_GDAL
#include <gdal.h>
#include <ogr_srs_api.h>
#endif

namespace {

using kelvara::MeshGeometry;
using kelvara::test::makeMesh;
using kelvara::grid::GridError;
using kelvara::grid::GridRequest;
using kelvara::grid::GridWriter;
using kelvara::test::TempDir;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

#ifdef KELVARA_WITH_GDAL

// What GDAL reads of a written file.
struct ReadBack {
    int columns = 0, rows = 0;
    double transform[6] = {};
    std::string projection;
    std::string compression;
    int blockX = 0, blockY = 0;
    struct Band {
        std::string description;
        std::string time;
        double noData = 0.0;
        bool hasNoData = false;
        std::vector<float> values;  // row after row
    };
    std::vector<Band> bands;

    float at(int band, int column, int row) const {
        return bands[static_cast<std::size_t>(band)].values[static_cast<std::size_t>(row) * columns + column];
    }
    // Centre of a grid cell.
    double x(int column) const { return transform[0] + (column + 0.5) * transform[1]; }
    double y(int row) const { return transform[3] + (row + 0.5) * transform[5]; }
};

ReadBack readGrid(const std::string& path) {
    GDALAllRegister();
    ReadBack r;
    GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
    if (ds == nullptr) {
        ADD_FAILURE() << "GDAL cannot open " << path;
        return r;
    }
    r.columns = GDALGetRasterXSize(ds);
    r.rows = GDALGetRasterYSize(ds);
    GDALGetGeoTransform(ds, r.transform);
    r.projection = GDALGetProjectionRef(ds);
    const char* compression = GDALGetMetadataItem(ds, "COMPRESSION", "IMAGE_STRUCTURE");
    r.compression = compression != nullptr ? compression : "";
    for (int b = 1; b <= GDALGetRasterCount(ds); ++b) {
        GDALRasterBandH band = GDALGetRasterBand(ds, b);
        ReadBack::Band out;
        out.description = GDALGetDescription(band);
        const char* time = GDALGetMetadataItem(band, "TIME", nullptr);
        out.time = time != nullptr ? time : "";
        int has = 0;
        out.noData = GDALGetRasterNoDataValue(band, &has);
        out.hasNoData = has != 0;
        GDALGetBlockSize(band, &r.blockX, &r.blockY);
        EXPECT_EQ(GDALGetRasterDataType(band), GDT_Float32);
        out.values.resize(static_cast<std::size_t>(r.columns) * r.rows);
        EXPECT_EQ(GDALRasterIO(band, GF_Read, 0, 0, r.columns, r.rows, out.values.data(),
                               r.columns, r.rows, GDT_Float32, 0, 0),
                  CE_None);
        r.bands.push_back(std::move(out));
    }
    GDALClose(ds);
    return r;
}

// One step to write: time, flags (empty: none) and node values.
struct Step {
    float time;
    std::vector<std::int8_t> active;
    std::vector<float> v1, v2;
};

// Writes steps of a mesh's dataset to folder/run.tif and reads the file back.
ReadBack writeGrid(const TempDir& dir, const MeshGeometry& mesh, double cellSize,
                   const std::vector<Step>& steps, std::vector<std::string>* warnings = nullptr,
                   const std::string& prj = {}) {
    GridRequest request{dir.file("run.2dm"), prj.empty() ? dir.file("run.prj") : prj,
                        dir.file("run.tif"), cellSize};
    std::vector<std::string> ignored;
    const bool vector = !steps.empty() && !steps[0].v2.empty();
    GridWriter writer(mesh, request, mesh.meshNodeCount,
                      static_cast<std::int32_t>(mesh.cells.size()), vector,
                      static_cast<int>(steps.size()), warnings != nullptr ? *warnings : ignored);
    for (const Step& s : steps) {
        writer.addBand(s.time, s.active.empty() ? nullptr : s.active.data(), s.v1.data(),
                       vector ? s.v2.data() : nullptr);
    }
    writer.finish();
    return readGrid(request.outputPath);
}

// Node values of a field.
std::vector<float> field(const MeshGeometry& mesh, const std::function<double(double, double)>& f) {
    std::vector<float> values;
    for (std::size_t n = 0; n < mesh.x.size(); ++n) values.push_back(static_cast<float>(f(mesh.x[n], mesh.y[n])));
    return values;
}

class Grid : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(Grid, CentresTakeTheValueOfTheirTriangleOrNone) {
    const auto plane = [](double x, double y) { return 2.0 + 0.5 * x - 0.25 * y; };
    const auto ridge = [](double x, double y) { return 2.0 * (y - x); };
    // inside(x, y): whether the centre lies in a drawn cell; expected(x, y) its value there.
    struct Case {
        const char* what;
        MeshGeometry mesh;
        double cellSize;
        std::function<double(double, double)> values;
        std::vector<std::int8_t> active;
        std::function<bool(double, double)> inside;
        std::function<double(double, double)> expected;
        int columns, rows;
        double originX, originY;
    };
    const Case cases[] = {
        {"one triangle, a plane: centres on the long edge belong to it",
         makeMesh({{0, 0}, {10, 0}, {0, 10}}, {{1, 2, 3, 0}}), 1.0, plane, {},
         [](double x, double y) { return x + y <= 10.0; }, plane, 10, 10, 0.0, 10.0},
        {"corners off the grid: the origin on a multiple of the cell size",
         makeMesh({{3.3, 7.1}, {23.3, 7.1}, {3.3, 27.1}}, {{1, 2, 3, 0}}), 2.0, plane, {},
         [](double x, double y) { return (x - 3.3) + (y - 7.1) <= 20.0 && x >= 3.3 && y >= 7.1; },
         plane, 11, 11, 2.0, 28.0},
        {"a quadrilateral split along its diagonal from the first to the third corner",
         makeMesh({{0, 0}, {4, 0}, {4, 4}, {0, 4}}, {{1, 2, 3, 4}}), 0.5,
         [](double x, double y) { return x == 0 && y == 4 ? 8.0 : 0.0; }, {},
         [](double, double) { return true; },
         [](double x, double y) { return y > x ? 2.0 * (y - x) : 0.0; }, 8, 8, 0.0, 4.0},
        {"two triangles with a gap between them",
         makeMesh({{0, 0}, {4, 0}, {0, 4}, {6, 0}, {10, 0}, {10, 4}}, {{1, 2, 3, 0}, {4, 5, 6, 0}}),
         1.0, ridge, {},
         [](double x, double y) { return x + y <= 4.0 || (x >= 6.0 && y <= x - 6.0); }, ridge, 10,
         4, 0.0, 4.0},
        {"an inactive cell has no data, its active neighbour has",
         makeMesh({{0, 0}, {4, 0}, {4, 4}, {0, 4}}, {{1, 2, 3, 0}, {1, 3, 4, 0}}), 1.0, plane,
         {1, 0}, [](double x, double y) { return y <= x; }, plane, 4, 4, 0.0, 4.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ReadBack r = writeGrid(dir, c.mesh, c.cellSize,
                                     {{1.0f, c.active, field(c.mesh, c.values), {}}});
        ASSERT_EQ(r.bands.size(), 1u);
        EXPECT_EQ(r.columns, c.columns);
        EXPECT_EQ(r.rows, c.rows);
        EXPECT_DOUBLE_EQ(r.transform[0], c.originX);
        EXPECT_DOUBLE_EQ(r.transform[3], c.originY);
        EXPECT_DOUBLE_EQ(r.transform[1], c.cellSize);
        EXPECT_DOUBLE_EQ(r.transform[5], -c.cellSize);
        EXPECT_EQ(r.transform[2], 0.0);
        EXPECT_EQ(r.transform[4], 0.0);
        int drawn = 0;
        for (int row = 0; row < r.rows; ++row) {
            for (int col = 0; col < r.columns; ++col) {
                const double x = r.x(col), y = r.y(row);
                SCOPED_TRACE("centre " + std::to_string(x) + ", " + std::to_string(y));
                if (c.inside(x, y)) {
                    EXPECT_NEAR(r.at(0, col, row), c.expected(x, y), 1e-5);
                    ++drawn;
                } else {
                    EXPECT_EQ(r.at(0, col, row), kelvara::grid::kNoData);
                }
            }
        }
        EXPECT_GT(drawn, 0);
    }
}

TEST_F(Grid, CornersWithoutANumberLeaveTheirCellsWithoutData) {
    // Four triangles around a centre node; one outer corner at a time has no usable value.
    const MeshGeometry mesh = makeMesh({{0, 0}, {4, 0}, {4, 4}, {0, 4}, {2, 2}},
                                       {{1, 2, 5, 0}, {2, 3, 5, 0}, {3, 4, 5, 0}, {4, 1, 5, 0}});
    const float inf = std::numeric_limits<float>::infinity();
    for (float bad : {kNaN, inf, -inf, -99999.0f, -99998.0f}) {
        SCOPED_TRACE(bad);
        std::vector<float> values{1, 2, 3, 4, 5};
        values[2] = bad;  // the corner at (4, 4): cells 2 and 3 lose their data
        const ReadBack r = writeGrid(dir, mesh, 1.0, {{0.0f, {}, values, {}}});
        for (int row = 0; row < 4; ++row) {
            for (int col = 0; col < 4; ++col) {
                const double x = r.x(col), y = r.y(row);
                const bool touchesBadCorner = x + y > 4.0;  // in cell 2 or 3 only
                EXPECT_EQ(r.at(0, col, row) == kelvara::grid::kNoData, touchesBadCorner)
                    << x << ", " << y << ": " << r.at(0, col, row);
            }
        }
    }
}

TEST_F(Grid, VectorsAreDrawnByTheirMagnitude) {
    const MeshGeometry mesh = makeMesh({{0, 0}, {3, 0}, {0, 3}}, {{1, 2, 3, 0}});
    struct Case {
        std::vector<float> x, y;
        float magnitude;  // at every centre
    };
    const Case cases[] = {
        {{3, 3, 3}, {4, 4, 4}, 5.0f},
        {{-3e19f, -3e19f, -3e19f}, {4e19f, 4e19f, 4e19f}, 5e19f},  // x * x overflows a float
        {{0, 0, 0}, {0, 0, 0}, 0.0f},
        {{1, kNaN, 1}, {1, 1, 1}, kelvara::grid::kNoData},
        {{3e38f, 3e38f, 3e38f}, {3e38f, 3e38f, 3e38f}, kelvara::grid::kNoData},  // beyond a float
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.magnitude);
        const ReadBack r = writeGrid(dir, mesh, 1.0, {{0.0f, {}, c.x, c.y}});
        for (int row = 0; row < 3; ++row) {
            for (int col = 0; col < 3; ++col) {
                if (r.x(col) + r.y(row) > 3.0) continue;
                EXPECT_FLOAT_EQ(r.at(0, col, row), c.magnitude);
            }
        }
    }
}

TEST_F(Grid, OneBandPerStepDescribedByItsTime) {
    const MeshGeometry mesh = makeMesh({{100, 200}, {110, 200}, {100, 210}}, {{1, 2, 3, 0}});
    const std::vector<float> times{0.0f, 1.0f / 3.0f, 1.5f, 99999.0f, 111111.0f, 222222.0f};
    std::vector<Step> steps;
    for (float t : times) steps.push_back({t, {1}, {t, t, t}, {}});
    const ReadBack r = writeGrid(dir, mesh, 1.0, steps);
    const std::vector<std::string> expected{
        "time 0 h", "time 0.333 h", "time 1.5 h", "maximum of the run", "time 111111",
        "input number"};
    ASSERT_EQ(r.bands.size(), times.size());
    for (std::size_t b = 0; b < times.size(); ++b) {
        SCOPED_TRACE(b);
        EXPECT_EQ(r.bands[b].description, expected[b]);
        EXPECT_FLOAT_EQ(std::strtof(r.bands[b].time.c_str(), nullptr), times[b]);
        EXPECT_TRUE(r.bands[b].hasNoData);
        EXPECT_EQ(r.bands[b].noData, -99999.0);
        EXPECT_EQ(r.at(static_cast<int>(b), 0, 9), times[b]);  // the bottom left centre
    }
    EXPECT_EQ(r.compression, "DEFLATE");
    EXPECT_EQ(r.blockX, 256);
    EXPECT_EQ(r.blockY, 256);
}

TEST_F(Grid, GridsLargerThanOnePieceAreWholeAndExact) {
    // 17,000 by 300 cells: several bands of 256 rows and more columns than one piece holds.
    const MeshGeometry mesh = makeMesh({{0, 0}, {17000, 0}, {17000, 300}, {0, 300}},
                                       {{1, 2, 3, 0}, {1, 3, 4, 0}});
    const auto plane = [](double x, double y) { return 0.001 * x + 0.01 * y; };
    const ReadBack r = writeGrid(dir, mesh, 1.0, {{0.0f, {}, field(mesh, plane), {}}});
    ASSERT_EQ(r.columns, 17000);
    ASSERT_EQ(r.rows, 300);
    int wrong = 0;
    for (int row = 0; row < r.rows; ++row) {
        for (int col = 0; col < r.columns; ++col) {
            wrong += std::fabs(r.at(0, col, row) - plane(r.x(col), r.y(row))) > 1e-4;
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(Grid, CoordinateReferenceFromThePrjBesideTheMesh) {
    // A projected reference as desktop GIS programs write it, and a mesh read from its file.
    const std::string prj =
        "PROJCS[\"GDA_1994_MGA_Zone_55\",GEOGCS[\"GCS_GDA_1994\",DATUM[\"D_GDA_1994\","
        "SPHEROID[\"GRS_1980\",6378137.0,298.257222101]],PRIMEM[\"Greenwich\",0.0],"
        "UNIT[\"Degree\",0.0174532925199433]],PROJECTION[\"Transverse_Mercator\"],"
        "PARAMETER[\"False_Easting\",500000.0],PARAMETER[\"False_Northing\",10000000.0],"
        "PARAMETER[\"Central_Meridian\",147.0],PARAMETER[\"Scale_Factor\",0.9996],"
        "PARAMETER[\"Latitude_Of_Origin\",0.0],UNIT[\"Meter\",1.0]]\n";
    const std::string meshPath = dir.write(
        "run.2dm", "MESH2D\nE3T 1 1 2 3 1\nND 1 320000 5810000 1\nND 2 320010 5810000 2\n"
                   "ND 3 320000 5810010 3\n");
    kelvara::INITFILEUNITS();
    MeshGeometry mesh;
    testing::internal::CaptureStdout();
    const int unit = kelvara::OPENFILEUNIT("I ", meshPath);
    kelvara::READ_2DM_GEOMETRY(unit, 3, 1, mesh);
    kelvara::CLOSEFILEUNIT(unit);
    testing::internal::GetCapturedStdout();
    const std::vector<float> values{1, 2, 3};

    std::vector<std::string> warnings;
    ReadBack r = writeGrid(dir, mesh, 5.0, {{0.0f, {}, values, {}}}, &warnings);
    EXPECT_EQ(r.projection, "");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], "WARNING - No coordinate reference " + dir.file("run.prj") +
                               ": the grid has none.");
    EXPECT_DOUBLE_EQ(r.transform[0], 320000.0);
    EXPECT_DOUBLE_EQ(r.transform[3], 5810010.0);

    dir.write("run.prj", prj);
    warnings.clear();
    r = writeGrid(dir, mesh, 5.0, {{0.0f, {}, values, {}}}, &warnings);
    EXPECT_TRUE(warnings.empty());
    OGRSpatialReferenceH written = OSRNewSpatialReference(r.projection.c_str());
    ASSERT_NE(written, nullptr) << r.projection;
    EXPECT_TRUE(OSRIsProjected(written));
    EXPECT_NEAR(OSRGetProjParm(written, SRS_PP_CENTRAL_MERIDIAN, 0.0, nullptr), 147.0, 1e-9);
    EXPECT_NEAR(OSRGetProjParm(written, SRS_PP_FALSE_NORTHING, 0.0, nullptr), 1e7, 1e-3);
    OSRDestroySpatialReference(written);

    dir.write("run.prj", "not a reference at all\n");
    warnings.clear();
    r = writeGrid(dir, mesh, 5.0, {{0.0f, {}, values, {}}}, &warnings);
    EXPECT_EQ(r.projection, "");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("WARNING - " + dir.file("run.prj") + " is not a coordinate"),
              std::string::npos);
}

TEST_F(Grid, RefusedGridsLeaveNothingBehind) {
    const MeshGeometry mesh = makeMesh({{0, 0}, {10, 0}, {0, 10}}, {{1, 2, 3, 0}});
    const std::vector<float> values{1, 2, 3};
    const std::string output = dir.file("run.tif");
    struct Case {
        const char* what;
        double cellSize;
        std::int32_t nodeCount;
        std::string outputPath;
        std::string message;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {"cell size 0", 0.0, 3, output, "ERROR - The grid's cell size 0 is not a positive number."},
        {"negative cell size", -2.0, 3, output, "ERROR - The grid's cell size -2 is not a positive"},
        {"cell size NaN", std::nan(""), 3, output, "ERROR - The grid's cell size nan is not"},
        {"infinite cell size", inf, 3, output, "ERROR - The grid's cell size inf is not"},
        {"too many cells", 1e-4, 3, output,
         "ERROR - A grid of cell size 0.0001 over " + dir.file("run.2dm") +
             " would have 10000000000 cells (100000 by 100000), more than 2147483648 (2^31)"},
        {"too many cells to count", 1e-300, 3, output, "more than 2147483648 (2^31)"},
        {"a dataset of more nodes", 1.0, 4, output,
         "ERROR - " + dir.file("run.2dm") +
             " has 3 nodes and the dataset 4: the mesh does not belong to the dataset."},
        {"a dataset of fewer nodes", 1.0, 2, output, "has 3 nodes and the dataset 2"},
        {"a folder that does not exist", 1.0, 3, dir.file("none/run.tif"),
         "ERROR - Could not write the grid " + dir.file("none/run.tif") + ": "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> warnings;
        try {
            GridWriter writer(mesh, {dir.file("run.2dm"), "", c.outputPath, c.cellSize},
                              c.nodeCount, 1, false, 1, warnings);
            writer.addBand(0.0f, nullptr, values.data(), nullptr);
            writer.finish();
            ADD_FAILURE() << "no error";
        } catch (const GridError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
        EXPECT_EQ(kelvara::test::listFolder(dir.path()), std::vector<std::string>{});
    }
}

TEST_F(Grid, AnUnfinishedGridKeepsTheEarlierFile) {
    const MeshGeometry mesh = makeMesh({{0, 0}, {10, 0}, {0, 10}}, {{1, 2, 3, 0}});
    const std::vector<float> values{1, 2, 3};
    const std::string output = dir.write("run.tif", "an earlier grid");
    std::vector<std::string> warnings;
    {
        GridWriter writer(mesh, {"run.2dm", "", output, 1.0}, 3, 1, false, 2, warnings);
        writer.addBand(0.0f, nullptr, values.data(), nullptr);
        EXPECT_THROW(writer.finish(), GridError);  // one band of two
    }
    {
        GridWriter writer(mesh, {"run.2dm", "", output, 1.0}, 3, 1, false, 1, warnings);
        writer.addBand(0.0f, nullptr, values.data(), nullptr);
        EXPECT_THROW(writer.addBand(1.0f, nullptr, values.data(), nullptr), GridError);
    }
    {
        GridWriter writer(mesh, {"run.2dm", "", output, 1.0}, 3, 1, false, 1, warnings);
        writer.addBand(0.0f, nullptr, values.data(), nullptr);
        // destroyed before finish: a run that ends on an error elsewhere
    }
    EXPECT_EQ(kelvara::test::listFolder(dir.path()), std::vector<std::string>{"run.tif"});
    EXPECT_EQ(kelvara::test::readFile(output), "an earlier grid");
}

TEST_F(Grid, GdalinfoReadsTheStatistics) {
    if (std::system("gdalinfo --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "gdalinfo is not installed (Debian: gdal-bin)";
    }
    const MeshGeometry mesh = makeMesh({{0, 0}, {4, 0}, {4, 4}, {0, 4}}, {{1, 2, 3, 4}});
    writeGrid(dir, mesh, 1.0, {{99999.0f, {}, {1, 1, 3, 3}, {}}});
    const std::string command = "gdalinfo -stats '" + dir.file("run.tif") + "' 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, got);
    EXPECT_EQ(pclose(pipe), 0) << output;
    for (const char* line : {"Size is 4, 4", "Origin = (0.000000000000000,4.000000000000000)",
                             "Pixel Size = (1.000000000000000,-1.000000000000000)",
                             "Description = maximum of the run",
                             "NoData Value=-99999", "COMPRESSION=DEFLATE", "Type=Float32",
                             "STATISTICS_MINIMUM=1.25", "STATISTICS_MAXIMUM=2.75",
                             "STATISTICS_MEAN=2"}) {
        EXPECT_NE(output.find(line), std::string::npos) << line << "\n" << output;
    }
}

#else  // a build without GDAL

TEST(Grid, ThisBuildCannotWriteGrids) {
    EXPECT_FALSE(kelvara::grid::available());
    const MeshGeometry mesh = makeMesh({{0, 0}, {10, 0}, {0, 10}}, {{1, 2, 3, 0}});
    std::vector<std::string> warnings;
    try {
        GridWriter writer(mesh, {"run.2dm", "", "run.tif", 1.0}, 3, 1, false, 1, warnings);
        ADD_FAILURE() << "no error";
    } catch (const GridError& e) {
        EXPECT_NE(std::string(e.what()).find("ERROR - This build of kelvara cannot write grids"),
                  std::string::npos);
    }
}

#endif

}  // namespace
