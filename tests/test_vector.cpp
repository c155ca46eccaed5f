// GeoPackage layers: extents of fields whose regions are known (a plane, an annulus, a bump too
// low to reach a threshold) and class regions of a hand-made mesh, written by the polygon layer
// writer and read back through OGR itself (layer names, fields, feature counts, areas, holes,
// validity, coordinate reference); the bundled example's depths against the at-or-above area of
// each triangle clipped on its own; the refusals, failures and killed runs that leave nothing
// behind and keep an earlier file; and ogrinfo reading a written file.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "extent/extent.h"
#include "fileio/error.h"
#include "fileio/units.h"
#include "formats/dataset_io.h"
#include "formats/mesh.h"
#include "support/tempdir.h"
#include "vector/vector.h"

#ifdef KELVARA_WITH_GDAL  // never on Windows (cmake/KelvaraGdal.cmake)
#include <gdal.h>
#include <ogr_api.h>
#include <ogr_geometry.h>
#include <ogr_srs_api.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

namespace {

using kelvara::MeshGeometry;
using kelvara::test::listFolder;
using kelvara::test::TempDir;
using kelvara::vector::ExtentLayerWriter;
using kelvara::vector::ExtentRequest;
using kelvara::vector::LayerKind;
using kelvara::vector::LayerDefinition;
using kelvara::vector::PolygonLayerWriter;

constexpr double kPi = 3.14159265358979323846;

// A grid of nx by ny square cells of size h from (x0, y0), as quadrilaterals; node (i, j) is
// number j * (nx + 1) + i + 1.
MeshGeometry gridMesh(int nx, int ny, double h, double x0 = 0.0, double y0 = 0.0) {
    MeshGeometry mesh;
    for (int j = 0; j <= ny; ++j) {
        for (int i = 0; i <= nx; ++i) {
            mesh.x.push_back(x0 + i * h);
            mesh.y.push_back(y0 + j * h);
            mesh.elevation.push_back(0.0f);
        }
    }
    for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < nx; ++i) {
            const int a = j * (nx + 1) + i + 1;
            mesh.cells.push_back({a, a + 1, a + nx + 2, a + nx + 1});
        }
    }
    mesh.meshNodeCount = static_cast<std::int32_t>(mesh.x.size());
    mesh.meshCellCount = static_cast<std::int32_t>(mesh.cells.size());
    return mesh;
}

// Node values of a field.
std::vector<float> field(const MeshGeometry& mesh, const std::function<double(double, double)>& f) {
    std::vector<float> values;
    for (std::size_t n = 0; n < mesh.x.size(); ++n) {
        values.push_back(static_cast<float>(f(mesh.x[n], mesh.y[n])));
    }
    return values;
}

// The first line of an error.
std::string firstLine(const kelvara::Error& e) { return e.what(); }

#ifdef KELVARA_WITH_GDAL

const std::string kMga55 =
    "PROJCS[\"GDA_1994_MGA_Zone_55\",GEOGCS[\"GCS_GDA_1994\",DATUM[\"D_GDA_1994\","
    "SPHEROID[\"GRS_1980\",6378137.0,298.257222101]],PRIMEM[\"Greenwich\",0.0],"
    "UNIT[\"Degree\",0.0174532925199433]],PROJECTION[\"Transverse_Mercator\"],"
    "PARAMETER[\"False_Easting\",500000.0],PARAMETER[\"False_Northing\",10000000.0],"
    "PARAMETER[\"Central_Meridian\",147.0],PARAMETER[\"Scale_Factor\",0.9996],"
    "PARAMETER[\"Latitude_Of_Origin\",0.0],UNIT[\"Meter\",1.0]]\n";

// What OGR reads of a written GeoPackage.
struct Feature {
    double threshold = 0.0, time = 0.0, area = 0.0;
    int classValue = 0;
    std::string className;
    bool empty = false;
    bool valid = false;
    double ogrArea = 0.0;  // OGR_G_Area of the geometry
    int polygons = 0;
    int holes = 0;
};
struct Layer {
    std::string name;
    std::string description;
    std::string geometryType;
    double centralMeridian = 0.0;  // of a projected reference
    bool hasReference = false;     // a projected or geographic one
    std::string referenceName;
    std::vector<std::string> fields;  // name:type
    std::vector<Feature> features;
};

std::vector<Layer> readLayers(const std::string& path) {
    GDALAllRegister();
    std::vector<Layer> layers;
    GDALDatasetH ds = GDALOpenEx(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr,
                                 nullptr, nullptr);
    if (ds == nullptr) {
        ADD_FAILURE() << "OGR cannot open " << path;
        return layers;
    }
    for (int l = 0; l < GDALDatasetGetLayerCount(ds); ++l) {
        OGRLayerH layer = GDALDatasetGetLayer(ds, l);
        Layer out;
        out.name = OGR_L_GetName(layer);
        const char* description = GDALGetMetadataItem(layer, "DESCRIPTION", nullptr);
        out.description = description != nullptr ? description : "";
        out.geometryType = OGRGeometryTypeToName(OGR_L_GetGeomType(layer));
        OGRSpatialReferenceH reference = OGR_L_GetSpatialRef(layer);
        out.hasReference =
            reference != nullptr && (OSRIsProjected(reference) || OSRIsGeographic(reference));
        if (reference != nullptr) out.referenceName = OSRGetName(reference);
        if (out.hasReference) {
            out.centralMeridian = OSRGetProjParm(reference, SRS_PP_CENTRAL_MERIDIAN, 0.0, nullptr);
        }
        OGRFeatureDefnH definition = OGR_L_GetLayerDefn(layer);
        for (int f = 0; f < OGR_FD_GetFieldCount(definition); ++f) {
            OGRFieldDefnH fd = OGR_FD_GetFieldDefn(definition, f);
            out.fields.push_back(std::string(OGR_Fld_GetNameRef(fd)) + ":" +
                                 OGR_GetFieldTypeName(OGR_Fld_GetType(fd)));
        }
        OGR_L_ResetReading(layer);
        while (OGRFeatureH feature = OGR_L_GetNextFeature(layer)) {
            Feature f;
            const auto real = [&](const char* name) {
                const int i = OGR_F_GetFieldIndex(feature, name);
                return i < 0 ? std::nan("") : OGR_F_GetFieldAsDouble(feature, i);
            };
            f.threshold = real("threshold");
            f.time = real("time");
            f.area = real("area_m2");
            const int classIndex = OGR_F_GetFieldIndex(feature, "class");
            if (classIndex >= 0) {
                f.classValue = OGR_F_GetFieldAsInteger(feature, classIndex);
                f.className = OGR_F_GetFieldAsString(feature, OGR_F_GetFieldIndex(feature, "class_name"));
            }
            OGRGeometryH g = OGR_F_GetGeometryRef(feature);
            if (g == nullptr) {
                ADD_FAILURE() << "a feature without a geometry";
            } else {
                f.empty = OGR_G_IsEmpty(g) != 0;
                f.valid = !OGRGeometryFactory::haveGEOS() || OGR_G_IsValid(g) != 0;
                f.ogrArea = OGR_G_Area(g);
                EXPECT_EQ(wkbFlatten(OGR_G_GetGeometryType(g)), wkbMultiPolygon);
                f.polygons = OGR_G_GetGeometryCount(g);
                for (int p = 0; p < f.polygons; ++p) {
                    f.holes += OGR_G_GetGeometryCount(OGR_G_GetGeometryRef(g, p)) - 1;
                }
            }
            out.features.push_back(f);
            OGR_F_Destroy(feature);
        }
        layers.push_back(std::move(out));
    }
    GDALClose(ds);
    return layers;
}

// Every feature as OGR sees it agrees with the area it carries, and is valid.
void expectSound(const Layer& layer) {
    for (const Feature& f : layer.features) {
        EXPECT_TRUE(f.valid) << layer.name << " threshold " << f.threshold << " class " << f.classValue;
        EXPECT_NEAR(f.ogrArea, f.area, 1e-9 * f.area) << layer.name << " threshold " << f.threshold;
        EXPECT_EQ(f.empty, f.area == 0.0);
    }
}

class VectorLayers : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(VectorLayers, ExtentsOfKnownFieldsReadBack) {
    // Linear fields are exact; the annulus and the disc follow cones, whose circles the traced
    // edges follow within 1% of the area.
    struct Case {
        const char* what;
        MeshGeometry mesh;
        std::function<double(double, double)> f;
        std::vector<double> thresholds;  // as asked
        // In increasing threshold order: area, polygons and holes.
        std::vector<double> areas;
        std::vector<int> polygons, holes;
        double tolerance;  // relative, against the known area
    };
    const auto cone = [](double x, double y) { return 1.0 - std::fabs(std::hypot(x, y) - 3.0); };
    const double ring = kPi * (3.5 * 3.5 - 2.5 * 2.5);
    const Case cases[] = {
        {"a plane rising eastwards", gridMesh(10, 5, 1.0), [](double x, double) { return x; },
         {7.5, 2.5, 10.0}, {37.5, 12.5, 0.0}, {1, 1, 0}, {0, 0, 0}, 1e-12},
        {"a plane on survey coordinates", gridMesh(10, 5, 1.0, 320000.0, 5810000.0),
         [](double x, double) { return x - 320000.0; }, {4.0}, {30.0}, {1}, {0}, 1e-9},
        {"an annulus around a dry centre", gridMesh(100, 100, 0.1, -5.0, -5.0), cone,
         {0.5, 0.7}, {ring, kPi * (3.3 * 3.3 - 2.7 * 2.7)}, {1, 1}, {1, 1}, 0.01},
        {"a disc and a level no node reaches", gridMesh(100, 100, 0.1, -5.0, -5.0),
         [](double x, double y) { return 2.0 - std::hypot(x, y); }, {1.0, 2.5},
         {kPi, 0.0}, {1, 0}, {0, 0}, 0.01},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string output = dir.file("run.gpkg");
        ExtentRequest request{dir.file("run.2dm"), dir.file("run.prj"), output, "depth_extent",
                              "depth (m)", c.thresholds};
        std::vector<std::string> warnings;
        const std::vector<float> first = field(c.mesh, c.f);
        std::vector<float> second = first;
        for (float& v : second) v -= 100.0f;  // dry everywhere
        {
            ExtentLayerWriter writer(c.mesh, request, c.mesh.meshNodeCount,
                                     c.mesh.meshCellCount, warnings);
            writer.addStep(1.5, first.data(), nullptr);
            writer.addStep(3.0, second.data(), nullptr);
            writer.finish();
        }
        ASSERT_EQ(warnings.size(), 1u);  // no .prj
        EXPECT_EQ(warnings[0], "WARNING - No coordinate reference " + dir.file("run.prj") +
                                   ": the layers have none.");
        EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{"run.gpkg"});

        const std::vector<Layer> layers = readLayers(output);
        ASSERT_EQ(layers.size(), 1u);
        const Layer& layer = layers[0];
        EXPECT_EQ(layer.name, "depth_extent");
        EXPECT_EQ(layer.description, "depth (m)");
        EXPECT_EQ(layer.geometryType, "Multi Polygon");
        EXPECT_FALSE(layer.hasReference);
        EXPECT_EQ(layer.referenceName, "Undefined Cartesian SRS");
        EXPECT_EQ(layer.fields,
                  (std::vector<std::string>{"threshold:Real", "time:Real", "area_m2:Real"}));
        const std::size_t n = c.thresholds.size();
        ASSERT_EQ(layer.features.size(), 2 * n);
        expectSound(layer);
        for (std::size_t i = 0; i < 2 * n; ++i) {
            const Feature& f = layer.features[i];
            const std::size_t t = i % n;
            SCOPED_TRACE("feature " + std::to_string(i));
            if (t > 0) {
                EXPECT_LT(layer.features[i - 1].threshold, f.threshold);
            }
            EXPECT_EQ(f.time, i < n ? 1.5 : 3.0);
            if (i < n) {
                EXPECT_NEAR(f.area, c.areas[t], c.tolerance * c.areas[t]);
                EXPECT_EQ(f.polygons, c.polygons[t]);
                EXPECT_EQ(f.holes, c.holes[t]);
            } else {
                EXPECT_TRUE(f.empty);
                EXPECT_EQ(f.area, 0.0);
            }
        }
    }
}

TEST_F(VectorLayers, ClassRegionsAndExtentsAsLayersOfOneFile) {
    // A strip of four unit squares, classes by node: cells take their highest corner, so the
    // cells are 1, 3, 3, 2 from west to east; class 3 is the two middle cells, dissolved.
    const MeshGeometry mesh = gridMesh(4, 1, 1.0);
    const std::vector<float> nodeClass{1, 1, 3, 1, 2, 1, 1, 1, 2, 2};
    const kelvara::extent::MeshTopology topology(mesh);
    const auto regions = kelvara::extent::traceClasses(topology, nodeClass.data(), nullptr);
    const char* names[] = {"", "low", "moderate", "significant"};
    const std::string output = dir.file("hazard.gpkg");
    {
        PolygonLayerWriter writer(output);
        writer.beginLayer({"hazard", LayerKind::Classes, kMga55, "UK hazard class"});
        for (const auto& region : regions) {
            const int value = static_cast<int>(region.value);
            writer.addClass(value, names[value], 99999.0, region.polygons);
        }
        writer.beginLayer({"extent", LayerKind::Extent, kMga55, ""});
        writer.addExtent(2.0, 99999.0,
                         kelvara::extent::traceExtent(topology, nodeClass.data(), nullptr, 2.0));
        writer.finish();
        // Nothing more once it has its name, and the file stays.
        EXPECT_THROW(writer.addExtent(3.0, 99999.0, {}), kelvara::Error);
        EXPECT_THROW(writer.finish(), kelvara::Error);
    }
    const std::vector<Layer> layers = readLayers(output);
    ASSERT_EQ(layers.size(), 2u);
    EXPECT_EQ(layers[0].name, "hazard");
    EXPECT_EQ(layers[0].fields, (std::vector<std::string>{"class:Integer", "class_name:String",
                                                          "time:Real", "area_m2:Real"}));
    struct Expected {
        int value;
        const char* name;
        double area;
    };
    const Expected expected[] = {{1, "low", 1.0}, {2, "moderate", 1.0}, {3, "significant", 2.0}};
    ASSERT_EQ(layers[0].features.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const Feature& f = layers[0].features[i];
        EXPECT_EQ(f.classValue, expected[i].value);
        EXPECT_EQ(f.className, expected[i].name);
        EXPECT_EQ(f.time, 99999.0);
        EXPECT_NEAR(f.area, expected[i].area, 1e-12);
        EXPECT_EQ(f.polygons, 1);
    }
    EXPECT_EQ(layers[1].name, "extent");
    ASSERT_EQ(layers[1].features.size(), 1u);
    EXPECT_EQ(layers[1].features[0].threshold, 2.0);
    for (const Layer& layer : layers) {
        expectSound(layer);
        EXPECT_TRUE(layer.hasReference) << layer.name;
        EXPECT_NEAR(layer.centralMeridian, 147.0, 1e-9) << layer.name;
    }
}

TEST_F(VectorLayers, HolesAndSeparateIslandsAreKept) {
    // Two square islands on a 9 by 3 grid, the eastern one with a dry node inside: one feature,
    // two polygons, one hole.
    const MeshGeometry mesh = gridMesh(8, 2, 1.0);
    std::vector<float> depth(mesh.x.size(), 1.0f);
    for (std::size_t n = 0; n < depth.size(); ++n) {
        const double x = mesh.x[n];
        if (x == 0.0 || x == 4.0 || x == 8.0) depth[n] = 0.0f;  // the islands' shores
    }
    depth[9 + 6] = 0.0f;  // node (6, 1), inside the eastern island
    const std::vector<double> thresholds{0.5};
    std::vector<std::string> warnings;
    kelvara::vector::writeExtentLayer(mesh, {"run.2dm", "", dir.file("run.gpkg"), "extent", "", thresholds},
                                      mesh.meshNodeCount, mesh.meshCellCount, 2.0, depth.data(),
                                      nullptr, warnings);
    const std::vector<Layer> layers = readLayers(dir.file("run.gpkg"));
    ASSERT_EQ(layers.size(), 1u);
    ASSERT_EQ(layers[0].features.size(), 1u);
    const Feature& f = layers[0].features[0];
    EXPECT_EQ(f.polygons, 2);
    EXPECT_EQ(f.holes, 1);
    // Each island reaches halfway to its shores (3 m by 2 m); the hole is the middle quarter of
    // each of the six triangles around the dry node (0.125 m2 each).
    EXPECT_NEAR(f.area, 2 * 3.0 * 2.0 - 6 * 0.125, 1e-9);
    expectSound(layers[0]);
}

TEST_F(VectorLayers, CoordinateReferenceFromThePrj) {
    struct Case {
        const char* what;
        const char* prjText;  // null: no file
        bool hasReference;
        std::string warning;  // the start of the one warning, "" for none
    };
    const std::string prj = dir.file("run.prj");
    const Case cases[] = {
        {"a projected reference", kMga55.c_str(), true, ""},
        {"none", nullptr, false, "WARNING - No coordinate reference " + prj + ": the layers have none."},
        {"text that is not one", "not a reference at all\n", false,
         "WARNING - " + prj + " is not a coordinate reference (WKT) that can be read"},
        {"an empty file", "", false, "WARNING - " + prj + " is not a coordinate reference"},
    };
    const MeshGeometry mesh = gridMesh(2, 2, 1.0);
    const std::vector<float> values = field(mesh, [](double x, double) { return x; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(prj.c_str());
        if (c.prjText != nullptr) dir.write("run.prj", c.prjText);
        std::vector<std::string> warnings;
        kelvara::vector::writeExtentLayer(mesh, {"run.2dm", prj, dir.file("run.gpkg"), "extent", "", {1.0}},
                                          9, 4, 0.0, values.data(), nullptr, warnings);
        if (c.warning.empty()) {
            EXPECT_TRUE(warnings.empty());
        } else {
            ASSERT_EQ(warnings.size(), 1u);
            EXPECT_EQ(warnings[0].rfind(c.warning, 0), 0u) << warnings[0];
        }
        const std::vector<Layer> layers = readLayers(dir.file("run.gpkg"));
        ASSERT_EQ(layers.size(), 1u);
        EXPECT_EQ(layers[0].hasReference, c.hasReference);
        if (c.hasReference) {
            EXPECT_NEAR(layers[0].centralMeridian, 147.0, 1e-9);
        }
    }
}

TEST_F(VectorLayers, RefusedLayersLeaveNothingBehind) {
    const MeshGeometry mesh = gridMesh(2, 1, 1.0);  // 6 nodes, 2 cells
    const std::vector<float> values{0, 1, 2, 0, 1, 2};
    const std::string output = dir.file("run.gpkg");
    struct Case {
        const char* what;
        std::string outputPath;
        std::int32_t nodeCount, cellCount;
        std::vector<double> thresholds;
        std::string message;  // the start of the error's line
        kelvara::ErrorCode code;
    };
    using kelvara::ErrorCode;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {"a folder that does not exist", dir.file("none/run.gpkg"), 6, 2, {1.0},
         "ERROR - Could not write the GeoPackage " + dir.file("none/run.gpkg") +
             ": its work file cannot be created beside it: ",
         ErrorCode::Output},
        {"a folder in the output's place", dir.path(), 6, 2, {1.0},
         "ERROR - Could not write the GeoPackage " + dir.path() + ": ", ErrorCode::Output},
        {"a dataset of more nodes", output, 7, 2, {1.0},
         "ERROR - run.2dm has 6 nodes and the dataset 7: the mesh does not belong to the dataset.",
         ErrorCode::WrongInput},
        {"a dataset of fewer cells", output, 6, 1, {1.0},
         "ERROR - run.2dm has cells numbered up to 2 and the dataset 1 cells",
         ErrorCode::WrongInput},
        {"no threshold", output, 6, 2, {}, "ERROR - There is no threshold to trace the extent of",
         ErrorCode::Usage},
        {"a threshold that is not a number", output, 6, 2, {0.5, nan},
         "ERROR - The extent threshold nan is not a finite single-precision number.",
         ErrorCode::Usage},
        {"a threshold beyond single precision", output, 6, 2, {1e300},
         "ERROR - The extent threshold 1e+300 is not", ErrorCode::Usage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> warnings;
        try {
            kelvara::vector::writeExtentLayer(mesh, {"run.2dm", "", c.outputPath, "extent", "", c.thresholds},
                                              c.nodeCount, c.cellCount, 0.0, values.data(),
                                              nullptr, warnings);
            ADD_FAILURE() << "no error";
        } catch (const kelvara::Error& e) {
            EXPECT_EQ(firstLine(e).rfind(c.message, 0), 0u) << firstLine(e);
            EXPECT_EQ(e.lines().front(), "");
            EXPECT_EQ(e.code(), c.code);
        }
        EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{});
    }
}

TEST_F(VectorLayers, AnUnfinishedFileKeepsTheEarlierOne) {
    const MeshGeometry mesh = gridMesh(2, 1, 1.0);
    const std::vector<float> values{0, 1, 2, 0, 1, 2};
    const kelvara::extent::MeshTopology topology(mesh);
    const auto polygons = kelvara::extent::traceExtent(topology, values.data(), nullptr, 1.0);
    const std::string output = dir.write("run.gpkg", "an earlier file");
    struct Case {
        const char* what;
        std::function<void(PolygonLayerWriter&)> write;
        std::string message;  // "" when no error is expected (the writer is dropped)
    };
    const Case cases[] = {
        {"destroyed before finish (a run that fails elsewhere)",
         [&](PolygonLayerWriter& w) {
             w.beginLayer({"extent", LayerKind::Extent, "", ""});
             w.addExtent(1.0, 0.0, polygons);
         },
         ""},
        {"finished without a layer", [](PolygonLayerWriter& w) { w.finish(); },
         "ERROR - The GeoPackage " + output + ": it has no layer."},
        {"a class added to an extent layer",
         [&](PolygonLayerWriter& w) {
             w.beginLayer({"extent", LayerKind::Extent, "", ""});
             w.addClass(1, "low", 0.0, polygons);
         },
         "ERROR - The GeoPackage " + output + ": layer extent holds extents, not classes."},
        {"a feature before any layer", [&](PolygonLayerWriter& w) { w.addExtent(1.0, 0.0, polygons); },
         "ERROR - The GeoPackage " + output + ": no layer is begun"},
        {"a layer without a name",
         [](PolygonLayerWriter& w) { w.beginLayer({"", LayerKind::Extent, "", ""}); },
         "ERROR - The GeoPackage " + output + ": a layer needs a name."},
        {"two layers of one name",
         [](PolygonLayerWriter& w) {
             w.beginLayer({"extent", LayerKind::Extent, "", ""});
             w.beginLayer({"extent", LayerKind::Extent, "", ""});
         },
         "ERROR - Could not write the GeoPackage " + output + ": "},
        {"a reference that is not WKT",
         [](PolygonLayerWriter& w) { w.beginLayer({"extent", LayerKind::Extent, "nonsense", ""}); },
         "ERROR - Could not write the GeoPackage " + output +
             ": the coordinate reference of layer extent is not WKT that can be read ("},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            PolygonLayerWriter writer(output);
            c.write(writer);
            // While it is written, nothing but its work file is beside it (no SQLite journal).
            const std::vector<std::string> names = listFolder(dir.path());
            ASSERT_EQ(names.size(), 2u);
            EXPECT_EQ(names[0].rfind(".k", 0), 0u) << names[0];
            EXPECT_EQ(names[1], "run.gpkg");
            EXPECT_EQ(c.message, "") << "no error";
        } catch (const kelvara::Error& e) {
            EXPECT_EQ(firstLine(e).rfind(c.message, 0), 0u) << firstLine(e);
            EXPECT_NE(c.message, "");
            // GDAL's refusals are the output's; the others, mistakes of the calling code.
            const bool gdal = c.message.rfind("ERROR - Could not write", 0) == 0;
            EXPECT_EQ(e.code(), gdal ? kelvara::ErrorCode::Output : kelvara::ErrorCode::Internal);
        }
        EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{"run.gpkg"});
        EXPECT_EQ(kelvara::test::readFile(output), "an earlier file");
    }
}

TEST_F(VectorLayers, AKilledRunLeavesTheEarlierFile) {
    const MeshGeometry mesh = gridMesh(2, 1, 1.0);
    const std::vector<float> values{0, 1, 2, 0, 1, 2};
    const std::string output = dir.write("run.gpkg", "an earlier file");
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        try {
            kelvara::INITFILEUNITS();  // the signal handler
            PolygonLayerWriter writer(output);
            writer.beginLayer({"extent", LayerKind::Extent, "", ""});
            const kelvara::extent::MeshTopology topology(mesh);
            writer.addExtent(1.0, 0.0, kelvara::extent::traceExtent(topology, values.data(), nullptr, 1.0));
            if (listFolder(dir.path()).size() != 2) ::_exit(3);  // the work file is there
            ::raise(SIGTERM);
        } catch (...) {
        }
        ::_exit(2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{"run.gpkg"});
    EXPECT_EQ(kelvara::test::readFile(output), "an earlier file");
}

// The area of the part of triangle abc where the plane through the corner values is at or
// above level: the triangle clipped by the half-plane, on its own.
double clippedArea(const std::array<std::array<double, 3>, 3>& corner, double level) {
    std::vector<std::array<double, 3>> kept;  // x, y, value
    for (int i = 0; i < 3; ++i) {
        const auto& p = corner[i];
        const auto& q = corner[(i + 1) % 3];
        if (p[2] >= level) kept.push_back(p);
        if ((p[2] >= level) != (q[2] >= level)) {
            const double s = (level - p[2]) / (q[2] - p[2]);
            kept.push_back({p[0] + s * (q[0] - p[0]), p[1] + s * (q[1] - p[1]), level});
        }
    }
    double twice = 0.0;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const auto& p = kept[i];
        const auto& q = kept[(i + 1) % kept.size()];
        twice += (p[0] - kept[0][0]) * (q[1] - kept[0][1]) - (q[0] - kept[0][0]) * (p[1] - kept[0][1]);
    }
    return std::fabs(twice) / 2.0;
}

// The at-or-above area of a mesh's field, triangle by triangle (quadrilaterals split from
// their first corner to their third), inactive cells and corners without a number left out.
double referenceArea(const MeshGeometry& mesh, const std::vector<float>& value,
                     const std::vector<std::int8_t>& active, double threshold) {
    const double level = static_cast<float>(threshold);
    double area = 0.0;
    for (std::size_t c = 0; c < mesh.cells.size(); ++c) {
        if (!active.empty() && active[c] == 0) continue;
        const auto& k = mesh.cells[c];
        const int corners = k[3] == 0 ? 3 : 4;
        for (int t = 0; t + 2 < corners; ++t) {
            const int pick[3] = {0, t + 1, t + 2};
            std::array<std::array<double, 3>, 3> tri{};
            bool usable = true;
            for (int i = 0; i < 3; ++i) {
                const std::size_t n = static_cast<std::size_t>(k[pick[i]] - 1);
                tri[i] = {mesh.x[n], mesh.y[n], value[n]};
                usable = usable && std::isfinite(value[n]);
            }
            if (usable) area += clippedArea(tri, level);
        }
    }
    return area;
}

TEST_F(VectorLayers, TheBundledRunsDepthsAgreeWithEachTriangleClipped) {
    const std::string folder =
        (std::filesystem::path(__FILE__).parent_path().parent_path() / "examples" / "flood")
            .string() + "/";
    kelvara::INITFILEUNITS();
    testing::internal::CaptureStdout();
    kelvara::DatasetReader reader = kelvara::DatasetReader::open(folder + "base_d.dat");
    const kelvara::DatasetHeader header = reader.readHeader();
    MeshGeometry mesh;
    const int unit = kelvara::OPENFILEUNIT("I ", folder + "base.2dm");
    kelvara::READ_2DM_GEOMETRY(unit, header.nodeCount, header.cellCount, mesh);
    kelvara::CLOSEFILEUNIT(unit);
    const std::vector<double> thresholds{0.1, 0.3, 1.0};
    const ExtentRequest request{folder + "base.2dm", "", dir.file("base_d_extent.gpkg"),
                                "depth_extent", "depth (m)", thresholds};
    std::vector<std::string> warnings;
    ExtentLayerWriter writer(mesh, request, header.nodeCount, header.cellCount, warnings);
    std::vector<float> depth(static_cast<std::size_t>(header.nodeCount));
    std::vector<std::int8_t> active(static_cast<std::size_t>(header.cellCount), 1);
    std::vector<double> expected;
    std::vector<float> times;
    while (reader.hasStep()) {
        const kelvara::StepRead step = reader.nextStep({active.data(), depth.data(), nullptr});
        if (!step.hasFlags) std::fill(active.begin(), active.end(), std::int8_t{1});
        writer.addStep(step.time, depth.data(), active.data());
        times.push_back(step.time);
        for (std::size_t t = 0; t < thresholds.size(); ++t) {
            expected.push_back(referenceArea(mesh, depth, active, thresholds[t]));
            EXPECT_NEAR(writer.lastAreas()[t], expected.back(), 1e-9 * expected.back() + 1e-9)
                << "time " << step.time << " threshold " << thresholds[t];
        }
    }
    writer.finish();
    testing::internal::GetCapturedStdout();

    const std::vector<Layer> layers = readLayers(request.outputPath);
    ASSERT_EQ(layers.size(), 1u);
    ASSERT_EQ(layers[0].features.size(), expected.size());
    ASSERT_GT(times.size(), 1u);
    expectSound(layers[0]);
    bool someWet = false;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Feature& f = layers[0].features[i];
        EXPECT_EQ(f.time, static_cast<double>(times[i / thresholds.size()]));
        EXPECT_EQ(f.threshold, thresholds[i % thresholds.size()]);
        EXPECT_NEAR(f.area, expected[i], 1e-9 * expected[i] + 1e-9);
        someWet = someWet || f.area > 0.0;
    }
    EXPECT_TRUE(someWet);
}

TEST_F(VectorLayers, OgrinfoReadsTheLayers) {
    if (std::system("ogrinfo --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "ogrinfo is not installed (Debian: gdal-bin)";
    }
    const MeshGeometry mesh = gridMesh(10, 5, 1.0, 320000.0, 5810000.0);
    const std::vector<float> values = field(mesh, [](double x, double) { return x - 320000.0; });
    dir.write("run.prj", kMga55);
    std::vector<std::string> warnings;
    kelvara::vector::writeExtentLayer(mesh, {"run.2dm", dir.file("run.prj"), dir.file("run.gpkg"),
                                       "depth_extent", "peak depth (m)", {0.1, 0.3, 1.0}},
                                      mesh.meshNodeCount, mesh.meshCellCount, 99999.0,
                                      values.data(), nullptr, warnings);
    const std::string command = "ogrinfo -al -so '" + dir.file("run.gpkg") + "' 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, got);
    EXPECT_EQ(pclose(pipe), 0) << output;
    EXPECT_NE(output.find("147,"), std::string::npos) << output;  // the central meridian
    for (const char* line : {"using driver `GPKG' successful", "Layer name: depth_extent",
                             "DESCRIPTION=peak depth (m)", "Geometry: Multi Polygon",
                             "Feature Count: 3", "Extent: (320000.100000, 5810000.000000) - "
                             "(320010.000000, 5810005.000000)",
                             "PROJCRS[", "FID Column = fid",
                             "Geometry Column = geom", "threshold: Real (0.0)",
                             "time: Real (0.0)", "area_m2: Real (0.0)"}) {
        EXPECT_NE(output.find(line), std::string::npos) << line << "\n" << output;
    }
}

#endif

TEST(VectorBuild, AvailabilityIsSaidPlainly) {
    if (kelvara::vector::available()) {
        EXPECT_EQ(kelvara::vector::whyUnavailable(), "");
        return;
    }
    EXPECT_NE(kelvara::vector::whyUnavailable(), "");
    const MeshGeometry mesh = gridMesh(1, 1, 1.0);
    const std::vector<float> values = field(mesh, [](double x, double) { return x; });
    const std::function<void()> writes[] = {
        [] { PolygonLayerWriter writer("run.gpkg"); },
        [&] {
            std::vector<std::string> warnings;
            kelvara::vector::writeExtentLayer(mesh, {"run.2dm", "", "run.gpkg", "extent", "", {0.5}},
                                              4, 1, 0.0, values.data(), nullptr, warnings);
        },
    };
    for (const auto& write : writes) {
        try {
            write();
            ADD_FAILURE() << "no error";
        } catch (const kelvara::Error& e) {
            EXPECT_EQ(firstLine(e).rfind("ERROR - This build of kelvara cannot write GeoPackage layers: ", 0), 0u);
        }
    }
    EXPECT_FALSE(kelvara::test::fileExists("run.gpkg"));
}

}  // namespace
