// NetCDF files through the real tool: -ugrid (and --to-netcdf) of the example run, the steps of
// other operations in a .nc output, the reference time, and the runs refused with an "ERROR - "
// line and nothing left behind. Every value read back is compared with the .dat it came from.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "formats/dataset_io.h"
#include "netcdf/reading.h"
#include "support/dat_builder.h"
#include "support/tempdir.h"
#include "support/tool_runner.h"

namespace kelvara::test {
namespace {

namespace fs = std::filesystem;

const fs::path kExample = fs::path(__FILE__).parent_path().parent_path() / "examples" / "flood";

void copyExample(const TempDir& dir) {
    for (const auto& entry : fs::directory_iterator(kExample)) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".dat" || ext == ".2dm")
            dir.write(entry.path().filename().string(), readFile(entry.path().string()));
    }
}

std::vector<std::string> batch(std::vector<std::string> args) {
    args.insert(args.begin(), "-b");
    return args;
}

struct Step {
    float time = 0.0f;
    bool hasFlags = false;
    std::vector<std::int8_t> active;
    std::vector<float> values[2];
};

struct Dataset {
    std::int32_t nodes = 0, cells = 0;
    bool vector = false;
    std::vector<Step> steps;
};

Dataset readDataset(const std::string& path) {
    DatasetReader reader = DatasetReader::open(path);
    const DatasetHeader& header = reader.readHeader();
    Dataset d;
    d.nodes = header.nodeCount;
    d.cells = header.cellCount;
    d.vector = header.isVector;
    while (reader.hasStep()) {
        Step s;
        s.active.assign(static_cast<std::size_t>(d.cells), 1);
        s.values[0].resize(static_cast<std::size_t>(d.nodes));
        s.values[1].resize(d.vector ? s.values[0].size() : 0);
        const StepRead read = reader.nextStep(
            {s.active.data(), s.values[0].data(), d.vector ? s.values[1].data() : nullptr});
        s.time = read.time;
        s.hasFlags = read.hasFlags;
        d.steps.push_back(std::move(s));
    }
    return d;
}

bool isSummary(float time) { return !(std::fabs(time) < 99998.0f); }

// The part of a variable read whole from entry at on: each value as the dataset holds it, no
// value (-99998 and below) as the fill value. Returns the first node that differs, or -1.
long firstDifference(const std::vector<float>& file, std::size_t at, const std::vector<float>& dat) {
    for (std::size_t n = 0; n < dat.size(); ++n) {
        const float want = dat[n] <= -99998.0f ? -99999.0f : dat[n];
        const float got = file[at + n];
        if (!(got == want || (std::isnan(got) && std::isnan(want)))) return static_cast<long>(n);
    }
    return -1;
}

// Every step of the dataset at path against the file: ordinary steps at their place on the
// time axis in the variables named after name, the others in the variables names gives (all
// of them when names is empty: the dataset's own name, then "_maximum" for 99999).
void expectDatasetInFile(const Reading& nc, const std::string& datPath, const std::string& name,
                         const std::map<float, std::string>& names) {
    SCOPED_TRACE(datPath);
    const Dataset d = readDataset(datPath);
    const std::size_t nodes = static_cast<std::size_t>(d.nodes);
    const std::size_t cells = static_cast<std::size_t>(d.cells);
    const std::size_t times = nc.dim("time");
    const std::vector<double> axis = nc.all<double>("time", times);
    const auto parts = [&](const std::string& stem) {
        return d.vector ? std::vector<std::string>{stem + "_x", stem + "_y"}
                        : std::vector<std::string>{stem};
    };
    for (const Step& s : d.steps) {
        SCOPED_TRACE("step " + std::to_string(s.time));
        std::vector<std::string> variables;
        std::string flags;
        std::size_t valuesAt = 0, flagsAt = 0;
        const bool timed = !isSummary(s.time) && names.count(s.time) == 0;
        if (!timed) {
            const auto named = names.find(s.time);
            ASSERT_TRUE(named != names.end() || s.time == 99999.0f);
            const std::string stem = named != names.end() ? named->second : name + "_maximum";
            variables = named != names.end() || !d.vector
                            ? std::vector<std::string>{stem}
                            : std::vector<std::string>{name + "_x_maximum", name + "_y_maximum"};
            flags = stem + "_active";
        } else {
            std::size_t index = 0;
            while (index < times && axis[index] != static_cast<double>(s.time)) ++index;
            ASSERT_LT(index, times) << "no place on the time axis";
            variables = parts(name);
            flags = name + "_active";
            valuesAt = index * nodes;
            flagsAt = index * cells;
        }
        for (std::size_t part = 0; part < variables.size(); ++part) {
            ASSERT_TRUE(nc.has(variables[part].c_str())) << variables[part];
            // Numbers and classes are integers in the file, read back as floats.
            const std::vector<float> file =
                nc.all<float>(variables[part].c_str(), timed ? times * nodes : nodes);
            EXPECT_EQ(firstDifference(file, valuesAt, s.values[part]), -1) << variables[part];
        }
        if (s.hasFlags) {
            ASSERT_TRUE(nc.has(flags.c_str())) << flags;
            const auto file = nc.all<signed char>(flags.c_str(), timed ? times * cells : cells);
            for (std::size_t c = 0; c < cells; ++c) {
                ASSERT_EQ(file[flagsAt + c], s.active[c] != 0 ? 1 : 0) << flags << " cell " << c;
            }
        }
    }
}

bool noHiddenFiles(const std::string& folder) {
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string()[0] == '.') return false;
    return true;
}

// -ugrid and --to-netcdf: the mesh and every dataset named, in one file, every value equal.
TEST(UgridTool, WritesTheMeshAndEveryDatasetOfTheRun) {
    struct Case {
        std::vector<std::string> args;
        std::string file;
        std::string mesh;
        std::vector<std::pair<std::string, std::string>> datasets;  // .dat and variable name
        std::string written;
    };
    const std::vector<Case> cases = {
        {{"-ugrid", "base_d.dat", "base_h.dat", "base_V.dat"},
         "base.nc",
         "base",
         {{"base_d.dat", "depth"}, {"base_h.dat", "water_level"}, {"base_V.dat", "velocity"}},
         "Wrote base.nc: the mesh (300 nodes, 504 cells), 3 datasets at 13 times."},
        {{"--to-netcdf", "design_V.dat", "design_d.dat"},
         "design.nc",
         "design",
         {{"design_V.dat", "velocity"}, {"design_d.dat", "depth"}},
         "Wrote design.nc: the mesh (300 nodes, 504 cells), 2 datasets at 13 times."},
        {{"-ugrid", "base_d.dat", "base_V.dat", "--deflate", "0", "--output", "plain.nc"},
         "plain.nc",
         "base",
         {{"base_d.dat", "depth"}, {"base_V.dat", "velocity"}},
         "Wrote plain.nc: the mesh (300 nodes, 504 cells), 2 datasets at 13 times."},
        {{"-ugrid", "base_d.dat", "--deflate=9", "--output", "small.nc"},
         "small.nc",
         "base",
         {{"base_d.dat", "depth"}},
         "Wrote small.nc: the mesh (300 nodes, 504 cells), 1 dataset at 13 times."},
        {{"-UGRID", "base_h.dat", "--output", "levels.nc"},
         "levels.nc",
         "base",
         {{"base_h.dat", "water_level"}},
         "Wrote levels.nc: the mesh (300 nodes, 504 cells), 1 dataset at 13 times."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.file);
        TempDir dir;
        copyExample(dir);
        const ToolResult r = runTool(batch(c.args), "", dir.path());
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_TRUE(contains(r.output, "\nOutput NetCDF File: " + c.file + "\n")) << r.output;
        EXPECT_TRUE(contains(r.output, "\n" + c.written + "\n")) << r.output;
        EXPECT_TRUE(noHiddenFiles(dir.path()));
        Reading nc(dir.file(c.file));
        EXPECT_EQ(nc.dim("nmesh2d_node"), 300u);
        EXPECT_EQ(nc.dim("nmesh2d_face"), 504u);
        EXPECT_EQ(nc.text("mesh2d", "cf_role"), "mesh_topology");
        EXPECT_EQ(nc.text("mesh2d", "long_name"), c.mesh);
        EXPECT_EQ(nc.all<double>("time", 13),
                  (std::vector<double>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
        for (const auto& [dat, name] : c.datasets)
            expectDatasetInFile(nc, dir.file(dat), name, {});
    }
}

// --output NAME.nc: the steps of any operation that writes a dataset, the same values as its
// .dat, the steps it describes and the summary steps in variables of their own.
TEST(NetcdfOutput, HoldsEveryStepOfTheOperationsDataset) {
    struct Case {
        std::vector<std::string> args;  // the output's name follows
        std::string name;               // of the ordinary steps' variables
        std::map<float, std::string> named;
    };
    const std::vector<Case> cases = {
        {{"-max", "base_d.dat", "design_d.dat"},
         "depth",
         {{111111.0f, "depth_maximum"}, {222222.0f, "depth_input_number"}}},
        {{"-hazard", "base_d.dat"},
         "value",
         {{100011.0f, "depth_velocity"}, {100012.0f, "hazard_class"},
          {100013.0f, "hazard_rating"}, {100014.0f, "uk_hazard_class"}}},
        {{"-arrival0.3", "base_d.dat"},
         "value",
         {{100001.0f, "arrival"}, {100002.0f, "end"}, {100003.0f, "peak"}}},
        {{"-trim1", "base_V.dat"}, "velocity", {}},
        {{"-va", "base_V.dat"}, "value", {{99999.0f, "maximum"}}},
        {{"-r99999", "base_h.dat"}, "water_level", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        TempDir dir;
        copyExample(dir);
        std::vector<std::string> dat = c.args, nc = c.args;
        dat.insert(dat.end(), {"--output", "out.dat"});
        nc.insert(nc.end(), {"--output", "out.nc"});
        const ToolResult asDat = runTool(batch(dat), "", dir.path());
        ASSERT_EQ(asDat.status, 0) << asDat.output;
        const ToolResult asNc = runTool(batch(nc), "", dir.path());
        ASSERT_EQ(asNc.status, 0) << asNc.output;
        EXPECT_TRUE(contains(asNc.output, "\nOutput NetCDF File: out.nc\n")) << asNc.output;
        EXPECT_TRUE(contains(asNc.output, "\nWrote out.nc: the mesh (300 nodes, 504 cells), "))
            << asNc.output;
        EXPECT_TRUE(noHiddenFiles(dir.path()));
        Reading file(dir.file("out.nc"));
        EXPECT_EQ(file.text(nullptr, "Conventions"), "CF-1.8 UGRID-1.0");
        expectDatasetInFile(file, dir.file("out.dat"), c.name, c.named);
    }
}

TEST(NetcdfOutput, TimesCountFromTheReferenceTime) {
    struct Case {
        std::vector<std::string> args;
        std::string file;
        std::string reference;
    };
    const std::vector<Case> cases = {
        {{"-ugrid", "base_d.dat"}, "base.nc", "2000-01-01 00:00:00"},
        {{"-ugrid", "base_d.dat", "--reference-time", "2010-06-01 06:00"}, "base.nc",
         "2010-06-01 06:00:00"},
        {{"--reference-time=1999-12-31T23:59:59", "-k3", "base_d.dat", "--output", "k.nc"},
         "k.nc", "1999-12-31 23:59:59"},
        {{"-max", "base_d.dat", "--output", "m.nc", "--reference-time", "2024-02-29"}, "m.nc",
         "2024-02-29 00:00:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reference);
        TempDir dir;
        copyExample(dir);
        const ToolResult r = runTool(batch(c.args), "", dir.path());
        ASSERT_EQ(r.status, 0) << r.output;
        Reading nc(dir.file(c.file));
        EXPECT_EQ(nc.text("time", "units"), "hours since " + c.reference);
        EXPECT_EQ(nc.text(nullptr, "reference_time"), c.reference);
    }
}

// A mesh of four nodes and two cells, and a dataset of its own: neither matches the example's
// 300 nodes and 504 cells.
const char* kSmallMesh =
    "MESH2D\nND 1 0 0 0\nND 2 10 0 0\nND 3 10 10 0\nND 4 0 10 0\nE3T 1 1 2 3 1\nE3T 2 1 3 4 1\n";

std::string smallDataset() {
    DatBuilder b;
    b.header(4, 2, false, "small");
    b.step(0.0f, {1, 1}, {0.1f, 0.2f, 0.3f, 0.4f});
    return b.end().bytes();
}

TEST(NetcdfOutput, RunsItRefusesLeaveNothingBehind) {
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string message;
        bool smallMesh = true;
    };
    const std::vector<Case> cases = {
        {"a date that does not exist",
         {"-ugrid", "base_d.dat", "--reference-time", "2000-02-30"},
         "ERROR - The reference time \"2000-02-30\" is not a date and time of the form "
         "2000-01-01 00:00:00."},
        {"a reference time that is no date",
         {"-max", "base_d.dat", "--output", "m.nc", "--reference-time=noon"},
         "ERROR - The reference time \"noon\""},
        {"a reference time without a NetCDF output",
         {"-max", "base_d.dat", "--reference-time", "2000-01-01"},
         "ERROR - --reference-time is the reference of a NetCDF file's times: use it with -ugrid "
         "or --output NAME.nc."},
        {"a deflate level out of range",
         {"-ugrid", "base_d.dat", "--deflate", "10"},
         "ERROR - Reading the level of --deflate"},
        {"a deflate level without a NetCDF output",
         {"-max", "base_d.dat", "--deflate=1"},
         "ERROR - --deflate is the compression of a NetCDF file: use it with -ugrid or --output "
         "NAME.nc."},
        {"-ugrid named a .dat",
         {"-ugrid", "base_d.dat", "--output", "x.dat"},
         "ERROR - -ugrid writes a NetCDF file: its output x.dat must end in .nc."},
        {"--to-netcdf with another operation",
         {"-max", "--to-netcdf", "base_d.dat"},
         "ERROR - The flags -max and --to-netcdf cannot be used together"},
        {"no dataset", {"-ugrid"}, "ERROR - Specify the .dat files of the run for -ugrid."},
        {"inputs of other counts",
         {"-ugrid", "base_d.dat", "small_d.dat"},
         "ERROR - Number nodes and/or cells in small_d.dat not the same as in primary .dat file."},
        {"a dataset of another mesh",
         {"-ugrid", "base_d.dat", "--mesh", "small.2dm"},
         "ERROR - base_d.dat has 300 nodes and 504 cells; its mesh small.2dm has 4 nodes and 2 "
         "cells."},
        {"an operation's steps on another mesh",
         {"-max", "base_d.dat", "--mesh", "small.2dm", "--output", "m.nc"},
         "ERROR - Cannot write \"m.nc\": its steps have 300 nodes and 504 cells, the mesh "
         "small.2dm 4 nodes and 2 cells."},
        {"no mesh", {"-ugrid", "small_d.dat"}, "ERROR - small.2dm cannot be found", false},
        {"no mesh for a .nc output",
         {"-k0", "small_d.dat", "--output", "k.nc"},
         "ERROR - small.2dm cannot be found",
         false},
        {"a time twice",
         {"-con", "base_d.dat", "design_d.dat", "--output", "c.nc"},
         "ERROR - Cannot write \"c.nc\": two steps of the output are at time 0, and a NetCDF "
         "file holds one step a time (write a .dat instead)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        copyExample(dir);
        dir.write("small_d.dat", smallDataset());
        if (c.smallMesh) dir.write("small.2dm", kSmallMesh);
        const std::vector<std::string> before = listFolder(dir.path());
        const ToolResult r = runTool(batch(c.args), "", dir.path());
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_TRUE(contains(r.output, c.message)) << r.output;
        EXPECT_EQ(listFolder(dir.path()), before);
    }
}

}  // namespace
}  // namespace kelvara::test
