// Where a run's steps go: a sink, chosen by the output's extension from the registry below.
// A sink is begun with the run's counts and the kinds of the steps it will be given, is given
// the steps one at a time, then ends (what it still has to write) and lands its file through
// the one safe finish (fileio/output_file.h, or the file unit of a dataset), or is abandoned:
// nothing of it is then left behind. A new sink (GeoPackage, NetCDF) adds its class and one
// entry of kSinks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "formats/dataset_io.h"
#include "formats/mesh.h"

namespace kelvara {

// What a step of an output holds, which decides how a grid draws it and how a GIS shows it.
enum class StepKind {
    Values,        // a continuous quantity (depth, level, speed, times, ratings): interpolated
    InputNumbers,  // the number of the input or run that gave a value (-max at 222222): a
                   // count, never interpolated
    Classes,       // a class (hazard classes, critical group): never interpolated, the highest
                   // class of a cell's corners where it is drawn
    CodedDifference,  // a difference with 99 / -99 where only the first / the second run is
                      // wet: the codes are not values
};

// One step of an output whose kind the operation knows by its time.
struct OutputStep {
    float time;
    StepKind kind;
    // What the step holds, with its unit, for a band's or a variable's description
    // ("peak depth (m)", "hours at or above 0.3"); "" when the operation does not say.
    std::string description;
    // Class steps: the names of classes 1, 2, ... ("H1" ... "H6"; "low" ... "extreme").
    std::vector<std::string> categories;
    // The unit of the values ("m", "h"); "" when none or when the description ends with it
    // in brackets.
    std::string unit;
};

// The time of an entry of OutputStep lists that stands for every step at no time listed (the
// steps of -dif, whose times are those of its inputs).
constexpr float kEveryOtherStep = -3.0e38f;

struct SinkStart {
    std::int32_t nodeCount = 0;
    std::int32_t cellCount = 0;
    bool vectors = false;
    // Steps whose kind the operation knows by their time (a step at no time listed holds values).
    std::vector<OutputStep> steps;

    StepKind kindOf(float time) const;
    // The step listed at that time, else the entry for every other step (kEveryOtherStep), or
    // null (a step at no time listed holds values).
    const OutputStep* stepAt(float time) const;
};

class StepSink {
public:
    virtual ~StepSink() = default;
    virtual void begin(const SinkStart& start) = 0;
    // Values (nodeCount; pairs of values1 and values2 for vectors), flags (cellCount).
    virtual void writeStep(float time, const std::int8_t* active, const float* values1,
                           const float* values2) = 0;
    // Writes what follows the last step (the end card, the grid).
    virtual void end() = 0;
    // Gives the output its name. Until then (and when the sink is destroyed without it) the
    // output lives under a hidden work name.
    virtual void land() = 0;
    // The last line of the run: "Wrote NAME: ...".
    virtual std::string summary() const = 0;
};

// What a sink is made from: the output, where its messages go, and what each kind needs.
struct SinkSetup {
    std::string output;     // the file to write
    MessageSink messages;   // console lines
    // A dataset: the open stream (a file unit, landed when the unit is closed) and its name.
    std::FILE* stream = nullptr;
    std::string streamName;  // as messages name the file
    // A grid: the cell size, the mesh (read when the grid is drawn) and its coordinate
    // reference, both named by the companion resolver (formats/companions.h).
    double cellSize = 0.0;
    std::string meshName;
    std::string referenceName;
    std::function<void(MeshGeometry& mesh, std::int32_t nodes, std::int32_t cells)> readMesh;
    // Polygons (.gpkg): the thresholds steps of values are traced at (-extent); the mesh and
    // its reference as for a grid.
    std::vector<double> thresholds;
    // A NetCDF file (with the mesh and reference above): its time axis's reference time ("" the
    // default), the first input, and whether the output holds that input's quantity (its
    // variables are then named after it: "depth") or one the operation makes.
    std::string referenceTime;
    int deflateLevel = -1;  // a NetCDF file's compression (--deflate), -1 its default
    std::string primaryInput;
    bool holdsInputQuantity = false;
};

struct SinkType {
    const char* extension;  // lower case, with its dot
    const char* what;       // the console line's word: "Output .dat File", "Output Grid File"
    std::unique_ptr<StepSink> (*make)(const SinkSetup& setup);
    // A sink that reads the run's mesh: what for ("the grid": "...need to read .2dm file for
    // the grid"), and the reason a missing mesh gives, around the output's name ("The grid ",
    // " draws the values on the mesh of " and the input). Null for a sink that needs none.
    const char* meshFor = nullptr;
    const char* meshReasonStart = nullptr;
    const char* meshReasonEnd = nullptr;
};

// The sink of an output's name (its extension compared ignoring case), or null.
const SinkType* findSink(const std::string& output);
// The extensions of the registry, for a message: ".dat, .tif or .tiff".
std::string knownSinkExtensions();
// Whether an output's name is that of a grid (.tif or .tiff).
bool isGridOutput(const std::string& output);
// Whether an output's name is that of a NetCDF file (.nc).
bool isNetcdfOutput(const std::string& output);

// Whether an output's name is that of a GeoPackage of polygons (.gpkg).
bool isPolygonOutput(const std::string& output);

// The sinks of the registry.
std::unique_ptr<StepSink> makeDatasetSink(const SinkSetup& setup);
std::unique_ptr<StepSink> makeGridSink(const SinkSetup& setup);
std::unique_ptr<StepSink> makePolygonSink(const SinkSetup& setup);
std::unique_ptr<StepSink> makeNetcdfSink(const SinkSetup& setup);

}  // namespace kelvara
