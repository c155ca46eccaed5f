// The NetCDF writer room: reference times, variable names, mesh counts, and UgridWriter's files
// read back through the NetCDF library (time axis, fill values, faces, summary variables), with
// the refusals that must leave no file behind. (The example run, value by value in xarray, is
// tests/netcdf/test_xarray.py.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "fileio/console.h"
#include "fileio/error.h"
#include "fileio/units.h"
#include "netcdf/reading.h"
#include "netcdf/ugrid.h"
#include "support/tempdir.h"

namespace {

using kelvara::MeshGeometry;
using kelvara::netcdf::UgridWriter;
using kelvara::test::Reading;
using kelvara::test::TempDir;

std::string errorText(const kelvara::Error& e) {
    std::string text;
    for (const auto& line : e.lines()) text += line + "\n";
    return text;
}

TEST(NetcdfNames, ReferenceTimes) {
    const struct {
        const char* given;
        const char* text;  // nullptr: refused
    } cases[] = {
        {"2000-01-01", "2000-01-01 00:00:00"},
        {" 2024-02-29 06:30 ", "2024-02-29 06:30:00"},
        {"1999-12-31T23:59:59", "1999-12-31 23:59:59"},
        {"2023-02-29", nullptr},  // not a leap year
        {"1900-02-29", nullptr},
        {"2000-02-29", "2000-02-29 00:00:00"},
        {"2000-13-01", nullptr},
        {"2000-04-31", nullptr},
        {"2000-01-01 24:00", nullptr},
        {"2000-01-01 12:60:00", nullptr},
        {"2000-1-1", nullptr},
        {"2000/01/01", nullptr},
        {"yesterday", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.given);
        if (c.text != nullptr) {
            EXPECT_EQ(kelvara::netcdf::referenceTimeText(c.given), c.text);
        } else {
            try {
                kelvara::netcdf::referenceTimeText(c.given);
                ADD_FAILURE() << "accepted";
            } catch (const kelvara::Error& e) {
                EXPECT_NE(errorText(e).find("ERROR - The reference time \"" + std::string(c.given)),
                          std::string::npos);
            }
        }
    }
}

TEST(NetcdfNames, VariablesAndSummarySteps) {
    const struct {
        const char* type;
        const char* file;
        const char* name;
    } variables[] = {
        {"_d", "run_d.dat", "depth"},          {"_h", "run_h.dat", "water_level"},
        {"_v", "run_V.dat", "velocity"},       {"_q", "run_q.dat", "q"},
        {"_zuk0", "run_ZUK0.dat", "zuk0"},     {"_2nd-x", "a_2nd-x.dat", "v2nd_x"},
        {"XX", "flow.dat", "flow"},            {"XX", "9 lives.dat", "v9_lives"},
        {"XX", "___.dat", "dataset"},
    };
    for (const auto& v : variables)
        EXPECT_EQ(kelvara::netcdf::variableNameFor(v.type, v.file), v.name) << v.file;

    const struct {
        float time;
        const char* name;
    } summaries[] = {
        {99999.0f, "maximum"},     {111111.0f, "summary"},   {222222.0f, "maximum_input"},
        {100001.0f, "arrival"},    {100002.0f, "end"},       {100003.0f, "peak"},
        {100011.0f, "depth_velocity"}, {100012.0f, "hazard_class"},
        {100013.0f, "hazard_rating"},  {99999.5f, "at_99999p5"}, {-99999.0f, "at_m99999"},
    };
    for (const auto& s : summaries)
        EXPECT_EQ(kelvara::netcdf::summaryNameFor(s.time), s.name) << s.time;
}

TEST(NetcdfNames, MeshCountsAreTheHighestNumbers) {
    TempDir dir;
    const struct {
        const char* text;
        std::int32_t nodes, cells;
    } cases[] = {
        {"MESH2D\nND 1 0 0 0\nND 3 1 1 1\nND 2 1 0 0\nE3T 1 1 2 3 1\n", 3, 1},
        {"E4Q 7 1 2 3 4\nE6T,2,1,2,3,4,5,6\nE8Q 4 1 2 3 4 5 6 7 8\n", 0, 7},
        {"NS 1 2 3\nE2L 9 1 2\nND4 1 1 1\n ND 5 0 0 0\r\nBEGPARAMDEF\n", 5, 0},
        {"", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto counts = kelvara::netcdf::countMesh(dir.write("m.2dm", c.text));
        EXPECT_EQ(counts.nodes, c.nodes);
        EXPECT_EQ(counts.cells, c.cells);
    }
    EXPECT_THROW(kelvara::netcdf::countMesh(dir.file("none.2dm")), kelvara::Error);
    EXPECT_THROW(kelvara::netcdf::countMesh(dir.write("big.2dm", "ND 3000000000 0 0 0\n")),
                 kelvara::Error);
}

kelvara::netcdf::DatasetDescription described(const char* name, const char* source,
                                              const char* type, bool vector, bool flags,
                                              double hoursPerUnit) {
    kelvara::netcdf::DatasetDescription d;
    d.name = name;
    d.source = source;
    d.dataType = type;
    d.vector = vector;
    d.hasFlags = flags;
    d.hoursPerTimeUnit = hoursPerUnit;
    return d;
}

TEST(NetcdfNames, StepNamesFromDescriptions) {
    const struct {
        const char* description;
        const char* name;
    } cases[] = {
        {"maximum", "maximum"},
        {"input number", "input_number"},
        {"peak depth (m)", "peak_depth"},
        {"Hazard Class", "hazard_class"},
        {"hours at or above 0.3", "hours_at_or_above_0_3"},
        {"d*v  (m2/s)", "d_v"},
        {"0.3 m reached", "v0_3_m_reached"},
        {"(m)", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(kelvara::netcdf::stepNameFor(c.description), c.name);
    }
}

// Two triangles (the second given clockwise) and a quadrilateral over six nodes.
MeshGeometry smallMesh() {
    MeshGeometry mesh;
    mesh.x = {0, 10, 10, 0, 20, 20};
    mesh.y = {0, 0, 10, 10, 0, 10};
    mesh.elevation = {1, 2, 3, kelvara::kNoElevation, 4, 5};
    mesh.cells = {{1, 2, 3, 0}, {1, 4, 3, 0}, {2, 5, 6, 3}};
    mesh.meshNodeCount = 6;
    mesh.meshCellCount = 3;
    return mesh;
}

class NetcdfWriter : public ::testing::Test {
protected:
    void SetUp() override {
        kelvara::INITFILEUNITS();
        kelvara::setConsoleBatch(true);
        testing::internal::CaptureStdout();
    }
    void TearDown() override {
        testing::internal::GetCapturedStdout();
        kelvara::setConsoleBatch(false);
    }
    TempDir dir;
    kelvara::ErrorScope scope;
};

TEST_F(NetcdfWriter, StepsLandOnOneIncreasingTimeAxisWithFillWhereNoValue) {
    const MeshGeometry mesh = smallMesh();
    const std::string path = dir.file("run.nc");
    {
        kelvara::netcdf::UgridOptions options;
        options.referenceTime = "2010-06-01";
        UgridWriter writer(path, mesh, options);
        writer.addTime(0.0);
        writer.addTime(2.0);
        const int depth = writer.addDataset(described("depth", "run_d.dat", "_d", false, true, 1.0));
        const int speed = writer.addDataset(described("velocity", "run_V.dat", "_v", true, false, 1.0 / 60));
        const std::int8_t active[3] = {1, 0, 1};
        const float d0[6] = {0.5f, -99999.0f, -99998.0f, -99997.5f, NAN, 1e30f};
        const float d2[6] = {1, 2, 3, 4, 5, 6};
        const float vx[6] = {1, 1, 1, 1, 1, 1}, vy[6] = {-1, -1, -1, -1, -1, -1};
        writer.appendStep(depth, 0.0f, active, d0, nullptr);
        writer.appendStep(depth, 2.0f, nullptr, d2, nullptr);
        writer.appendStep(speed, 180.0f, active, vx, vy);    // minutes: 3 h, a new time
        writer.appendStep(depth, 99999.0f, active, d2, nullptr);
        EXPECT_EQ(writer.times(), (std::vector<double>{0.0, 2.0, 3.0}));
        writer.close();
    }
    Reading nc(path);
    EXPECT_EQ(nc.format(), NC_FORMAT_NETCDF4_CLASSIC);
    EXPECT_EQ(nc.dim("time"), 3u);
    EXPECT_EQ(nc.text("time", "units"), "hours since 2010-06-01 00:00:00");
    EXPECT_EQ(nc.all<double>("time", 3), (std::vector<double>{0.0, 2.0, 3.0}));
    const auto depth = nc.all<float>("depth", 18);
    const std::vector<float> firstStep(depth.begin(), depth.begin() + 6);
    EXPECT_EQ(firstStep[0], 0.5f);
    EXPECT_EQ(firstStep[1], -99999.0f);
    EXPECT_EQ(firstStep[2], -99999.0f);  // no value: the fill value
    EXPECT_EQ(firstStep[3], -99997.5f);  // a value
    EXPECT_TRUE(std::isnan(firstStep[4]));
    EXPECT_EQ(firstStep[5], 1e30f);
    for (std::size_t n = 12; n < 18; ++n) EXPECT_EQ(depth[n], kelvara::netcdf::kFillValue);
    EXPECT_EQ(nc.all<signed char>("depth_active", 9),
              (std::vector<signed char>{1, 0, 1, -1, -1, -1, -1, -1, -1}));
    EXPECT_FALSE(nc.has("velocity_active"));
    const auto vy = nc.all<float>("velocity_y", 18);
    EXPECT_EQ(vy[0], kelvara::netcdf::kFillValue);
    EXPECT_EQ(vy[17], -1.0f);
    EXPECT_EQ(nc.all<float>("depth_maximum", 6), (std::vector<float>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(nc.text("depth_maximum", "cell_methods"), "time: maximum");
    EXPECT_EQ(nc.all<float>("mesh2d_node_z", 6)[3], kelvara::netcdf::kFillValue);
    // the clockwise triangle turned anticlockwise, keeping its first corner
    EXPECT_EQ(nc.all<int>("mesh2d_face_nodes", 12),
              (std::vector<int>{0, 1, 2, -1, 0, 2, 3, -1, 1, 4, 5, 2}));
    EXPECT_EQ(nc.text("mesh2d", "cf_role"), "mesh_topology");
    EXPECT_EQ(nc.text(nullptr, "Conventions"), "CF-1.8 UGRID-1.0");
    EXPECT_EQ(kelvara::test::listFolder(dir.path()), (std::vector<std::string>{"run.nc"}));
}

TEST_F(NetcdfWriter, TrianglesAloneHaveThreeCornersAndNamesStayUnique) {
    MeshGeometry mesh = smallMesh();
    mesh.cells.pop_back();
    const std::string path = dir.file("tri.nc");
    {
        UgridWriter writer(path, mesh, {});
        const float v[6] = {};
        const int a = writer.addDataset(described("depth", "a_d.dat", "_d", false, false, 1.0));
        const int b = writer.addDataset(described("depth", "b_d.dat", "_d", false, false, 1.0));
        writer.appendStep(a, 1.0f, nullptr, v, nullptr);
        writer.appendStep(b, 1.0f, nullptr, v, nullptr);
        writer.appendStep(b, 111111.0f, nullptr, v, nullptr);
        const auto names = writer.variableNames();
        EXPECT_NE(std::find(names.begin(), names.end(), "depth_2"), names.end());
        EXPECT_NE(std::find(names.begin(), names.end(), "depth_summary"), names.end());
        writer.close();
    }
    Reading nc(path);
    EXPECT_EQ(nc.dim("max_nmesh2d_face_nodes"), 3u);
    EXPECT_EQ(nc.text("depth_2", "source_file"), "b_d.dat");
    EXPECT_EQ(nc.text("depth_summary", "units"), "(none)");
    EXPECT_EQ(nc.text("mesh2d_node_x", "standard_name"), "(none)");  // no coordinate reference
}

// Steps an operation describes: variables of their own without a time axis at any time,
// named after the dataset or alone, numbers and classes as integers with their meanings.
TEST_F(NetcdfWriter, DescribedStepsGetVariablesOfTheirOwn) {
    using kelvara::netcdf::NamedStep;
    using kelvara::netcdf::StepContent;
    const MeshGeometry mesh = smallMesh();
    const std::string path = dir.file("ops.nc");
    {
        UgridWriter writer(path, mesh, {});
        auto depth = described("depth", "run_d.dat", "_d", false, true, 1.0);
        depth.namedSteps = {NamedStep{111111.0f, "maximum", "maximum", StepContent::Values, {}},
                            NamedStep{222222.0f, "input_number", "input number",
                                      StepContent::Numbers, {}},
                            NamedStep{5.0f, "", "", StepContent::Values, {}}};
        auto own = described("value", "run_d.dat", "XX", false, false, 1.0);
        own.prefixSteps = false;
        own.namedSteps = {NamedStep{100012.0f, "hazard_class", "hazard class",
                                    StepContent::Classes, {"H1", "H2 low", ""}}};
        const int d = writer.addDataset(depth);
        const int o = writer.addDataset(own);
        const std::int8_t active[3] = {1, 1, 0};
        const float values[6] = {0.5f, 1.5f, 2.49f, -99999.0f, NAN, 3.0f};
        writer.appendStep(d, 1.0f, active, values, nullptr);
        writer.appendStep(d, 5.0f, active, values, nullptr);  // described: off the time axis
        writer.appendStep(d, 111111.0f, active, values, nullptr);
        writer.appendStep(d, 222222.0f, active, values, nullptr);
        writer.appendStep(o, 100012.0f, nullptr, values, nullptr);
        EXPECT_EQ(writer.times(), (std::vector<double>{1.0}));
        writer.close();
    }
    Reading nc(path);
    EXPECT_EQ(nc.dim("time"), 1u);
    EXPECT_EQ(nc.all<float>("depth_maximum", 6)[2], 2.49f);
    EXPECT_EQ(nc.text("depth_maximum", "long_name"), "water depth, maximum (step 111111)");
    EXPECT_EQ(nc.text("depth_maximum", "units"), "m");
    EXPECT_TRUE(nc.has("depth_maximum_active"));
    EXPECT_TRUE(nc.has("depth_at_5"));
    EXPECT_EQ(nc.all<int>("depth_input_number", 6),
              (std::vector<int>{1, 2, 2, -99999, -99999, 3}));  // rounded; no value as fill
    EXPECT_EQ(nc.text("depth_input_number", "units"), "(none)");
    EXPECT_EQ(nc.text("depth_input_number", "flag_meanings"), "(none)");
    EXPECT_EQ(nc.all<int>("hazard_class", 6)[1], 2);
    EXPECT_EQ(nc.text("hazard_class", "long_name"), "hazard class (step 100012)");
    EXPECT_EQ(nc.text("hazard_class", "flag_meanings"), "H1 H2_low class_3");
    EXPECT_FALSE(nc.has("value_hazard_class"));
    EXPECT_FALSE(nc.has("hazard_class_active"));
}

TEST_F(NetcdfWriter, RefusalsLeaveNoFileAndKeepAnEarlierOne) {
    const MeshGeometry mesh = smallMesh();
    MeshGeometry holed = smallMesh();
    holed.cells[1] = {0, 0, 0, 0};
    MeshGeometry outside = smallMesh();
    outside.cells[2][3] = 7;
    const float v[6] = {};
    const struct {
        const char* what;
        const MeshGeometry* mesh;
        std::string reference;
        void (*steps)(UgridWriter&, const float*);
        const char* message;
    } cases[] = {
        {"a cell with no element line", &holed, kelvara::netcdf::kDefaultReferenceTime, nullptr,
         "cell 2 of the mesh has no element line"},
        {"a corner outside the nodes", &outside, kelvara::netcdf::kDefaultReferenceTime, nullptr,
         "cell 3 of the mesh"},
        {"a bad reference time", &mesh, "2000-02-30", nullptr, "The reference time"},
        {"two steps at one time", &mesh, kelvara::netcdf::kDefaultReferenceTime,
         [](UgridWriter& w, const float* values) {
             const int d = w.addDataset(described("depth", "run_d.dat", "_d", false, false, 1.0));
             w.appendStep(d, 1.0f, nullptr, values, nullptr);
             w.appendStep(d, 1.0f, nullptr, values, nullptr);
         },
         "run_d.dat has two steps at time 1 h"},
        {"two summary steps at one time", &mesh, kelvara::netcdf::kDefaultReferenceTime,
         [](UgridWriter& w, const float* values) {
             const int d = w.addDataset(described("depth", "run_d.dat", "_d", false, false, 1.0));
             w.appendStep(d, 99999.0f, nullptr, values, nullptr);
             w.appendStep(d, 99999.0f, nullptr, values, nullptr);
         },
         "two steps at time 99999"},
        {"a time before the last", &mesh, kelvara::netcdf::kDefaultReferenceTime,
         [](UgridWriter& w, const float* values) {
             w.addTime(1.0);
             w.addTime(3.0);
             const int d = w.addDataset(described("depth", "run_d.dat", "_d", false, false, 1.0));
             w.appendStep(d, 2.0f, nullptr, values, nullptr);
         },
         "the times must increase"},
        {"a time that is not a number", &mesh, kelvara::netcdf::kDefaultReferenceTime,
         [](UgridWriter& w, const float* values) {
             const int d = w.addDataset(described("depth", "run_d.dat", "_d", false, false, 1.0));
             w.appendStep(d, NAN, nullptr, values, nullptr);
         },
         "not a number"},
        {"a writer given up before close", &mesh, kelvara::netcdf::kDefaultReferenceTime,
         [](UgridWriter& w, const float* values) {
             const int d = w.addDataset(described("depth", "run_d.dat", "_d", false, false, 1.0));
             w.appendStep(d, 2.0f, nullptr, values, nullptr);
             throw kelvara::errorLine("ERROR - given up");
         },
         "given up"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.write("run.nc", "earlier");
        try {
            kelvara::netcdf::UgridOptions options;
            options.referenceTime = c.reference;
            UgridWriter writer(path, *c.mesh, options);
            if (c.steps != nullptr) c.steps(writer, v);
            writer.close();
            ADD_FAILURE() << "written";
        } catch (const kelvara::Error& e) {
            EXPECT_NE(errorText(e).find(c.message), std::string::npos) << errorText(e);
        }
        EXPECT_EQ(kelvara::test::readFile(path), "earlier");
        EXPECT_EQ(kelvara::test::listFolder(dir.path()), (std::vector<std::string>{"run.nc"}));
    }
}

}  // namespace
