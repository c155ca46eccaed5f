// Extent and class polygons through the real tool: -extent's areas over random meshes against
// the at-or-above area of each triangle clipped on its own, inactive cells left out, the -t
// step and summary steps, vectors by their magnitude, validity through OGR; the UK classes of a
// hazard output as a class layer; ogrinfo reading the output; and the command lines refused
// with an "ERROR - " line and nothing written.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/dat_builder.h"
#include "vector/vector.h"
#include "support/tempdir.h"
#include "support/tool_runner.h"

#ifdef KELVARA_WITH_GDAL
#include <gdal.h>
#include <ogr_api.h>
#include <ogr_geometry.h>
#endif

namespace kelvara::test {
namespace {

// A mesh as the tests make it: coordinates, and cells of 3 or 4 node numbers (from 1).
struct TestMesh {
    std::vector<double> x, y;
    std::vector<std::vector<int>> cells;

    std::string text() const {
        std::ostringstream out;
        out.precision(17);
        out << "MESH2D\n";
        for (std::size_t c = 0; c < cells.size(); ++c) {
            out << (cells[c].size() == 3 ? "E3T " : "E4Q ") << c + 1;
            for (int n : cells[c]) out << ' ' << n;
            out << " 1\n";
        }
        for (std::size_t n = 0; n < x.size(); ++n)
            out << "ND " << n + 1 << ' ' << x[n] << ' ' << y[n] << " 0\n";
        return out.str();
    }
};

// A jittered grid of nx by ny squares of size h at survey coordinates: each square one
// quadrilateral or two triangles split along either diagonal, at random.
TestMesh randomMesh(unsigned seed, int nx, int ny, double h) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> jitter(-0.3 * h, 0.3 * h);
    std::uniform_int_distribution<int> shape(0, 2);
    TestMesh mesh;
    for (int j = 0; j <= ny; ++j) {
        for (int i = 0; i <= nx; ++i) {
            const bool inside = i > 0 && j > 0 && i < nx && j < ny;
            mesh.x.push_back(412000.0 + i * h + (inside ? jitter(random) : 0.0));
            mesh.y.push_back(5795000.0 + j * h + (inside ? jitter(random) : 0.0));
        }
    }
    for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < nx; ++i) {
            const int a = j * (nx + 1) + i + 1, b = a + 1, c = a + nx + 2, d = a + nx + 1;
            switch (shape(random)) {
            case 0: mesh.cells.push_back({a, b, c, d}); break;
            case 1:
                mesh.cells.push_back({a, b, c});
                mesh.cells.push_back({a, c, d});
                break;
            default:
                mesh.cells.push_back({a, b, d});
                mesh.cells.push_back({b, c, d});
                break;
            }
        }
    }
    return mesh;
}

// The area of the part of a triangle where the plane through its corners' values is at or
// above level, the triangle clipped on its own.
double clippedArea(const std::array<std::array<double, 3>, 3>& corner, double level) {
    std::vector<std::array<double, 2>> kept;
    for (int i = 0; i < 3; ++i) {
        const auto& p = corner[i];
        const auto& q = corner[(i + 1) % 3];
        if (p[2] >= level) kept.push_back({p[0], p[1]});
        if ((p[2] >= level) != (q[2] >= level)) {
            const double s = (level - p[2]) / (q[2] - p[2]);
            kept.push_back({p[0] + s * (q[0] - p[0]), p[1] + s * (q[1] - p[1])});
        }
    }
    double twice = 0.0;
    for (std::size_t i = 1; i + 1 < kept.size(); ++i) {
        twice += (kept[i][0] - kept[0][0]) * (kept[i + 1][1] - kept[0][1]) -
                 (kept[i + 1][0] - kept[0][0]) * (kept[i][1] - kept[0][1]);
    }
    return std::fabs(twice) / 2.0;
}

// The at-or-above area over the mesh's active cells, triangle by triangle (a quadrilateral
// split from its first corner to its third).
double referenceArea(const TestMesh& mesh, const std::vector<float>& value,
                     const std::vector<std::int8_t>& active, double threshold) {
    const double level = static_cast<float>(threshold);
    double area = 0.0;
    for (std::size_t c = 0; c < mesh.cells.size(); ++c) {
        if (active[c] == 0) continue;
        const std::vector<int>& k = mesh.cells[c];
        for (std::size_t t = 1; t + 1 < k.size(); ++t) {
            std::array<std::array<double, 3>, 3> triangle{};
            const int corner[3] = {k[0], k[t], k[t + 1]};
            for (int i = 0; i < 3; ++i) {
                const auto n = static_cast<std::size_t>(corner[i] - 1);
                triangle[static_cast<std::size_t>(i)] = {mesh.x[n], mesh.y[n], value[n]};
            }
            area += clippedArea(triangle, level);
        }
    }
    return area;
}

std::string thresholdsText(const std::vector<double>& thresholds) {
    std::string text;
    for (double t : thresholds) {
        std::ostringstream item;
        item << t;
        text += (text.empty() ? "" : ",") + item.str();
    }
    return text;
}

// No file of the folder is a GeoPackage or a hidden work file.
bool nothingWritten(const std::string& folder) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name[0] == '.' || entry.path().extension() == ".gpkg") return false;
    }
    return true;
}

#ifdef KELVARA_WITH_GDAL

struct Feature {
    double threshold = 0.0, time = 0.0, area = 0.0, ogrArea = 0.0;
    int classValue = 0;
    std::string className;
    bool valid = false;
};
struct Layer {
    std::string name;
    std::vector<Feature> features;
};

std::vector<Layer> readLayers(const std::string& path) {
    GDALAllRegister();
    std::vector<Layer> layers;
    GDALDatasetH ds =
        GDALOpenEx(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr);
    if (ds == nullptr) {
        ADD_FAILURE() << "OGR cannot open " << path;
        return layers;
    }
    for (int l = 0; l < GDALDatasetGetLayerCount(ds); ++l) {
        OGRLayerH layer = GDALDatasetGetLayer(ds, l);
        Layer out;
        out.name = OGR_L_GetName(layer);
        OGR_L_ResetReading(layer);
        while (OGRFeatureH feature = OGR_L_GetNextFeature(layer)) {
            Feature f;
            const auto field = [&](const char* name) { return OGR_F_GetFieldIndex(feature, name); };
            if (field("threshold") >= 0) f.threshold = OGR_F_GetFieldAsDouble(feature, field("threshold"));
            if (field("class") >= 0) {
                f.classValue = OGR_F_GetFieldAsInteger(feature, field("class"));
                f.className = OGR_F_GetFieldAsString(feature, field("class_name"));
            }
            f.time = OGR_F_GetFieldAsDouble(feature, field("time"));
            f.area = OGR_F_GetFieldAsDouble(feature, field("area_m2"));
            OGRGeometryH g = OGR_F_GetGeometryRef(feature);
            f.valid = g != nullptr && (!OGRGeometryFactory::haveGEOS() || OGR_G_IsValid(g) != 0);
            f.ogrArea = g != nullptr ? OGR_G_Area(g) : -1.0;
            out.features.push_back(f);
            OGR_F_Destroy(feature);
        }
        layers.push_back(out);
    }
    GDALClose(ds);
    return layers;
}

const Layer* layerNamed(const std::vector<Layer>& layers, const std::string& name) {
    for (const Layer& l : layers)
        if (l.name == name) return &l;
    return nullptr;
}

// Linear fields over random meshes, two steps, some cells inactive at the second: the area of
// every threshold at every step within 0.5% of the reference, each feature valid and its area
// that of its geometry.
TEST(ExtentTool, AreasOverRandomMeshesAgreeWithEachTriangleClipped) {
    struct Case {
        unsigned seed;
        int nx, ny;
        double h;
        std::vector<double> thresholds;
        bool vectors;  // the field as the magnitude of (field, 0)
    };
    const std::vector<Case> cases = {
        {1, 12, 9, 5.0, {0.1, 0.3, 1.0}, false},
        {2, 20, 7, 2.5, {0.05, 0.6}, false},
        {3, 9, 14, 10.0, {0.25, 0.5, 0.75, 1.25}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seed);
        TempDir dir;
        const TestMesh mesh = randomMesh(c.seed, c.nx, c.ny, c.h);
        dir.write("run.2dm", mesh.text());
        std::mt19937 random(c.seed * 7u);
        std::uniform_real_distribution<double> slope(-1.0, 1.0);
        const std::size_t nodes = mesh.x.size(), cells = mesh.cells.size();
        struct Step {
            float time;
            std::vector<float> values;
            std::vector<std::int8_t> active;
        };
        std::vector<Step> steps;
        for (int s = 0; s < 2; ++s) {
            const double a = slope(random) / (c.nx * c.h), b = slope(random) / (c.ny * c.h);
            Step step{static_cast<float>(s) * 1.5f, {}, std::vector<std::int8_t>(cells, 1)};
            for (std::size_t n = 0; n < nodes; ++n) {
                const double v = 0.6 + a * (mesh.x[n] - 412000.0) + b * (mesh.y[n] - 5795000.0);
                step.values.push_back(static_cast<float>(v));
            }
            if (s == 1)
                for (std::size_t k = 0; k < cells; k += 5) step.active[k] = 0;
            steps.push_back(step);
        }
        DatBuilder dat;
        dat.header(static_cast<std::int32_t>(nodes), static_cast<std::int32_t>(cells), c.vectors,
                   "test");
        for (const Step& s : steps) {
            if (c.vectors) {
                // Minus the value, so that only the magnitude can give the field back.
                std::vector<float> x, y(nodes, 0.0f);
                for (float v : s.values) x.push_back(-v);
                dat.step(s.time, s.active, x, y);
            } else {
                dat.step(s.time, s.active, s.values, {});
            }
        }
        dir.write("run_d.dat", dat.end().bytes());
        const std::string flag = "-extent" + thresholdsText(c.thresholds);
        ToolResult r = runTool({"-b", flag, "run_d.dat"}, "", dir.path());
        ASSERT_EQ(r.status, 0) << r.output;
        const std::string output = "run_d(" + flag.substr(1) + ").gpkg";
        EXPECT_TRUE(contains(r.output, "Wrote " + output + ": 1 layer of " +
                                           std::to_string(2 * c.thresholds.size()) + " features"))
            << r.output;
        const std::vector<Layer> layers = readLayers(dir.file(output));
        ASSERT_EQ(layers.size(), 1u);
        EXPECT_EQ(layers[0].name, "extent");
        ASSERT_EQ(layers[0].features.size(), 2 * c.thresholds.size());
        bool someBetween = false;
        for (std::size_t i = 0; i < layers[0].features.size(); ++i) {
            const Feature& f = layers[0].features[i];
            const Step& s = steps[i / c.thresholds.size()];
            const double threshold = c.thresholds[i % c.thresholds.size()];
            SCOPED_TRACE("time " + std::to_string(s.time) + " threshold " + std::to_string(threshold));
            EXPECT_EQ(f.time, static_cast<double>(s.time));
            EXPECT_EQ(f.threshold, threshold);
            std::vector<float> traced = s.values;
            if (c.vectors)
                for (float& v : traced) v = std::fabs(v);
            const double want = referenceArea(mesh, traced, s.active, threshold);
            EXPECT_NEAR(f.area, want, 0.005 * want + 1e-6);
            EXPECT_NEAR(f.ogrArea, f.area, 1e-9 * f.area + 1e-6);
            EXPECT_TRUE(f.valid);
            someBetween = someBetween || (want > 0.0 && want < 0.99 * c.nx * c.ny * c.h * c.h);
        }
        EXPECT_TRUE(someBetween) << "no threshold cuts the field";
    }
}

// -t takes one step, a summary step included; without -t every step, summary steps too.
TEST(ExtentTool, TheStepsTraced) {
    const TestMesh mesh = randomMesh(5, 4, 3, 1.0);
    const std::size_t nodes = mesh.x.size(), cells = mesh.cells.size();
    struct Case {
        std::vector<std::string> flags;
        std::vector<double> times;
    };
    const std::vector<Case> cases = {
        {{"-t99999"}, {99999.0}},
        {{"-t1"}, {1.0}},
        {{}, {0.0, 1.0, 99999.0}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        dir.write("run.2dm", mesh.text());
        DatBuilder dat;
        dat.header(static_cast<std::int32_t>(nodes), static_cast<std::int32_t>(cells), false, "d");
        for (float t : {0.0f, 1.0f, 99999.0f})
            dat.step(t, std::vector<std::int8_t>(cells, 1), std::vector<float>(nodes, 1.0f), {});
        dir.write("run_d.dat", dat.end().bytes());
        std::vector<std::string> arguments = {"-b", "-extent0.5,2"};
        arguments.insert(arguments.end(), c.flags.begin(), c.flags.end());
        arguments.insert(arguments.end(), {"run_d.dat", "--output", "wet.gpkg"});
        ToolResult r = runTool(arguments, "", dir.path());
        ASSERT_EQ(r.status, 0) << r.output;
        const std::vector<Layer> layers = readLayers(dir.file("wet.gpkg"));
        ASSERT_EQ(layers.size(), 1u);
        ASSERT_EQ(layers[0].features.size(), 2 * c.times.size());
        for (std::size_t i = 0; i < layers[0].features.size(); ++i) {
            EXPECT_EQ(layers[0].features[i].time, c.times[i / 2]);
            // Everywhere at 1: all of the mesh at or above 0.5, none at or above 2.
            EXPECT_NEAR(layers[0].features[i].area, i % 2 == 0 ? 12.0 : 0.0, 1e-9);
        }
    }
}

// A hazard output named .gpkg: the UK classes of four columns of nodes (dry, low, moderate,
// significant, extreme from west to east) give each cell the class of its worst corner.
TEST(ExtentTool, HazardClassesAsALayerOfTheirOwn) {
    TestMesh mesh;
    for (int j = 0; j <= 1; ++j)
        for (int i = 0; i <= 4; ++i) {
            mesh.x.push_back(10.0 * i);
            mesh.y.push_back(10.0 * j);
        }
    for (int i = 0; i < 4; ++i) mesh.cells.push_back({i + 1, i + 2, i + 7, i + 6});
    // Urban: 0.375 low; 0.3 * 0.75 + 1 = 1.225 moderate; 1.75 significant; 2.5 extreme.
    const std::vector<float> d = {0.0f, 0.25f, 0.3f, 0.5f, 1.0f}, v = {1.0f, 1.0f, 0.25f, 1.0f, 1.0f};
    std::vector<float> depth, speed;
    for (int j = 0; j <= 1; ++j) {
        depth.insert(depth.end(), d.begin(), d.end());
        speed.insert(speed.end(), v.begin(), v.end());
    }
    TempDir dir;
    dir.write("run.2dm", mesh.text());
    DatBuilder dd, vv;
    dir.write("run_d.dat", dd.header(10, 4, false, "d").step(1.0f, {1, 1, 1, 1}, depth, {}).end().bytes());
    dir.write("run_V.dat", vv.header(10, 4, false, "v").step(1.0f, {1, 1, 1, 1}, speed, {}).end().bytes());
    ToolResult r = runTool({"-b", "-hazard", "run_d.dat", "--output", "hazard.gpkg"}, "", dir.path());
    ASSERT_EQ(r.status, 0) << r.output;
    const std::vector<Layer> layers = readLayers(dir.file("hazard.gpkg"));
    const Layer* uk = layerNamed(layers, "uk_hazard_class_100014");
    ASSERT_NE(uk, nullptr) << r.output;
    const std::vector<std::string> names = {"low", "moderate", "significant", "extreme"};
    ASSERT_EQ(uk->features.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        const Feature& f = uk->features[i];
        EXPECT_EQ(f.classValue, static_cast<int>(i) + 1);
        EXPECT_EQ(f.className, names[i]);
        EXPECT_EQ(f.time, 100014.0);
        EXPECT_NEAR(f.area, 100.0, 1e-9);
        EXPECT_TRUE(f.valid);
    }
    // The steps of values have no thresholds: left out, and said so.
    EXPECT_TRUE(contains(r.output, "Step 100013 is left out of hazard.gpkg")) << r.output;
}

TEST(ExtentTool, OgrinfoReadsTheOutput) {
    if (std::system("ogrinfo --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "ogrinfo is not installed (Debian: gdal-bin)";
    }
    TempDir dir;
    const TestMesh mesh = randomMesh(9, 6, 4, 2.0);
    dir.write("run.2dm", mesh.text());
    const std::size_t nodes = mesh.x.size(), cells = mesh.cells.size();
    std::vector<float> values;
    for (std::size_t n = 0; n < nodes; ++n) values.push_back(static_cast<float>(mesh.x[n] - 412000.0));
    DatBuilder dat;
    dat.header(static_cast<std::int32_t>(nodes), static_cast<std::int32_t>(cells), false, "d");
    dir.write("run_d.dat",
              dat.step(99999.0f, std::vector<std::int8_t>(cells, 1), values, {}).end().bytes());
    ToolResult r = runTool({"-b", "-extent1,3,5", "run_d.dat"}, "", dir.path());
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string command = "ogrinfo -al -so '" + dir.file("run_d(extent1,3,5).gpkg") + "' 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, got);
    EXPECT_EQ(pclose(pipe), 0) << output;
    for (const char* line : {"using driver `GPKG' successful", "Layer name: extent",
                             "Geometry: Multi Polygon", "Feature Count: 3",
                             "threshold: Real", "time: Real", "area_m2: Real"}) {
        EXPECT_TRUE(contains(output, line)) << line << "\n" << output;
    }
}

#endif

// Command lines refused before or while running: an "ERROR - " line, status 1, no GeoPackage
// and no work file left.
TEST(ExtentCommandLine, RefusalsLeaveNothingBehind) {
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
        bool mesh = true;  // run.2dm written
    };
    const std::string readThreshold = "ERROR - Reading the threshold of -extent";
    const std::vector<Case> cases = {
        {{"-extent", "run_d.dat"}, readThreshold},
        {{"-extent0.1,x", "run_d.dat"}, readThreshold},
        {{"-extent0.1,,1", "run_d.dat"}, readThreshold},
        {{"-extent0.1,", "run_d.dat"}, readThreshold},
        {{"-extent1e39", "run_d.dat"}, readThreshold},
        {{"-extentnan", "run_d.dat"}, readThreshold},
        {{"-extent0.1", "run_d.dat", "--output", "x.dat"},
         "ERROR - -extent writes a GeoPackage: its output x.dat must end in .gpkg."},
        {{"-extent0.1", "run_d.dat", "--output", "x.tif", "--cell", "2"},
         "ERROR - -extent writes a GeoPackage"},
        {{"-extent0.1", "run_d.dat", "run_d.dat"},
         "ERROR - Can only specify one .dat file for -extent."},
        {{"-extent0.1", "-max", "run_d.dat"}, "cannot be used together"},
        {{"-extent0.1", "-t5", "run_d.dat"}, "ERROR - run_d.dat has no time step at 5.000."},
        {{"-extent0.1", "run_d.dat"}, "ERROR - ", false},
        {{"-max", "run_d.dat", "--output", "x.gpkg"},
         "ERROR - There is nothing to write to x.gpkg"},
        {{"--land-use", "pasture", "-max", "run_d.dat"},
         "ERROR - --land-use sets the debris factor of -hazard: give it with -hazard."},
        {{"-hazard0.5", "--land-use", "pasture", "run_d.dat"},
         "ERROR - -hazard0.5 and --land-use both set the debris factor"},
        {{"-hazard", "--land-use", "arable", "run_d.dat"},
         "ERROR - Reading the land use of --land-use"},
        {{"-hazard", "--land-use", "run_d.dat"}, "ERROR - Reading the land use of --land-use"},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const auto& a : c.arguments) shown += a + " ";
        SCOPED_TRACE(shown);
        TempDir dir;
        if (c.mesh) dir.write("run.2dm", "MESH2D\nE3T 1 1 2 3 1\nND 1 0 0 0\nND 2 1 0 0\nND 3 0 1 0\n");
        DatBuilder dat;
        dir.write("run_d.dat", dat.header(3, 1, false, "d").step(0.0f, {1}, {1, 2, 3}, {}).end().bytes());
        std::vector<std::string> arguments = {"-b"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        ToolResult r = runTool(arguments, "", dir.path());
        EXPECT_EQ(r.status, 1) << r.output;
        // A build without GDAL refuses what reaches the writer with its own line instead.
        EXPECT_TRUE(contains(r.output, c.message) ||
                    (!vector::available() &&
                     contains(r.output, "ERROR - This build of kelvara cannot write GeoPackage")))
            << r.output;
        EXPECT_TRUE(nothingWritten(dir.path()));
    }
}

// A mesh of another dataset is refused with the mesh named.
TEST(ExtentCommandLine, AMeshOfAnotherDatasetIsRefused) {
    TempDir dir;
    dir.write("run.2dm", "MESH2D\nE3T 1 1 2 3 1\nND 1 0 0 0\nND 2 1 0 0\nND 3 0 1 0\n");
    DatBuilder dat;
    dir.write("run_d.dat",
              dat.header(4, 1, false, "d").step(0.0f, {1}, {1, 2, 3, 4}, {}).end().bytes());
    ToolResult r = runTool({"-b", "-extent0.5", "run_d.dat"}, "", dir.path());
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_TRUE(contains(r.output, "ERROR - ")) << r.output;
    EXPECT_TRUE(nothingWritten(dir.path()));
}

}  // namespace
}  // namespace kelvara::test
