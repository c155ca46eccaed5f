// A run's mesh and datasets as one NetCDF file for the scientific stack (xarray, ocean and climate
// tools, the GIS's mesh layer), by the UGRID 1.0 and CF 1.8 conventions. The only part of
// kelvara that uses the NetCDF C library; a build without it has the same interface, with
// available() false and every UgridWriter refusing.
//
// What a file holds (names for a dataset called "depth"):
//   mesh2d                      the mesh topology (cf_role mesh_topology, topology_dimension 2)
//   mesh2d_node_x, _node_y      node coordinates (double)
//   mesh2d_node_z               bed elevation (the .2dm's third column)
//   mesh2d_face_nodes           corners of each face, from 0, anticlockwise, -1 after a
//                               triangle's third corner
//   crs                         the coordinate reference (crs_wkt, spatial_ref), when known
//   time                        hours since the reference time, increasing
//   depth(time, node)           a scalar dataset's values; a vector's as depth_x and depth_y
//   depth_active(time, face)    the cells' flags: 1 active (wet), 0 inactive (dry)
//   depth_maximum(node)         a summary step (time 99999 and beyond), with no time axis
// Values of -99998 and below (the datasets' "no value") are written as the fill value -99999,
// which xarray reads as not a number; a time that a dataset has no step for is fill as well.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/mesh.h"

namespace kelvara::netcdf {

// Whether this build can write NetCDF (it was built with the NetCDF C library).
bool available();

// The value written where a node has no value; the datasets' own marker of no value.
constexpr float kFillValue = -99999.0f;
// Values at or below this are no value (as -grid and the operations count them).
constexpr float kNoValueLimit = -99998.0f;

// The reference time used when none is given: times are hours since then.
constexpr const char* kDefaultReferenceTime = "2000-01-01 00:00:00";

// A reference time as the "since" part of the time units takes it: "YYYY-MM-DD" or
// "YYYY-MM-DD hh:mm[:ss]" (a "T" may stand for the blank) becomes "YYYY-MM-DD hh:mm:ss". Throws
// Error for anything else, or a date that does not exist.
std::string referenceTimeText(const std::string& given);

// The name a dataset's variables take, from the data type of its file's name ("_d" depth, "_h"
// water_level, "_V" velocity; any other suffix as it is, without its underscore, made into a
// valid name), and the part a summary step adds to it ("maximum" for 99999, ...).
std::string variableNameFor(const std::string& dataType, const std::string& fileName);
std::string summaryNameFor(float time);

// The highest node number and the highest cell number of a .2dm file's "ND" and element lines
// (E3T, E4Q, E6T, E8Q), for the tables the mesh is read into. Throws Error when it cannot be read.
struct MeshCounts {
    std::int32_t nodes = 0;
    std::int32_t cells = 0;
};
MeshCounts countMesh(const std::string& meshPath);

// What a step that its output describes holds: values, numbers (of an input or a run) or
// classes, the last two written as integers.
enum class StepContent { Values, Numbers, Classes };

// A step the output says what it holds, by its time (within 0.01): it gets variables of its
// own without a time axis, whatever its time, named and described by what is given here.
struct NamedStep {
    float time = 0.0f;
    std::string name;         // the part of the variable's name it gives ("maximum"); "" for
                              // the one of its time (summaryNameFor)
    std::string description;  // its long name ("peak depth (m)"); "" for one made of the name
    StepContent content = StepContent::Values;
    std::vector<std::string> categories;  // classes 1, 2, ...: flag_values and flag_meanings
};

// The part of a variable's name that a step's description gives: its words before any unit
// in brackets, lower case, joined by underscores ("peak depth (m)": "peak_depth"); "" when
// nothing of it can be a name.
std::string stepNameFor(const std::string& description);

// What is known of a dataset before its steps.
struct DatasetDescription {
    std::string name;        // the variables' name (variableNameFor), unique within the file
    std::string source;      // the file it came from (named in messages and in an attribute)
    std::string dataType;    // "_d", "_h", "_V", ... or "XX"
    bool vector = false;
    bool hasFlags = true;    // its steps carry one flag per cell
    double hoursPerTimeUnit = 1.0;  // its times' unit in hours (1/60 for minutes)
    std::string longName;    // "" for the one its type gives ("water depth")
    // Steps of its own variables; and whether their names begin with the dataset's
    // ("depth_maximum") or are theirs alone ("hazard_class", for an operation's own quantity).
    std::vector<NamedStep> namedSteps;
    bool prefixSteps = true;
};

// Deflate level of the chunks when none is asked for: quick to write, and no-value areas and
// smooth fields shrink much.
constexpr int kDefaultDeflateLevel = 1;

struct UgridOptions {
    std::string crsWkt;                                // "" when the mesh has no .prj
    std::string referenceTime = kDefaultReferenceTime; // as referenceTimeText takes it
    std::string meshName = "mesh";                     // the topology's long name
    // Compression of each chunk: 0 none, 1 (quick, the default) to 9 (smallest, slowest).
    int deflateLevel = kDefaultDeflateLevel;
};

// Writes one file, step by step: only the step being written is held, and each step goes to the
// file as it is appended. The file is written to a work file beside the output (the file
// units' protocol: announced, and removed when the run fails or is killed) and takes its name
// in close(); a writer destroyed before close() leaves nothing behind. Every failure throws
// kelvara::Error with a line "ERROR - " naming the file.
class UgridWriter {
public:
    // The mesh must outlive the writer; its node and cell tables are the file's nodes and
    // faces (every face needs three or four corners).
    UgridWriter(const std::string& outputPath, const MeshGeometry& mesh,
                const UgridOptions& options);
    ~UgridWriter();
    UgridWriter(const UgridWriter&) = delete;
    UgridWriter& operator=(const UgridWriter&) = delete;

    // Adds a time to the time axis (hours); times must increase. A step at a time the axis
    // lacks adds it too (when it is later than every time so far).
    void addTime(double hours);
    // Declares a dataset; returns its number for appendStep.
    int addDataset(const DatasetDescription& dataset);
    // Writes one step of a dataset: its time in the dataset's unit, values per node (x and y
    // for a vector), flags per face (null for a step without flags). A summary time (99999 and beyond) goes to a variable of
    // its own. A second step at the same time of the same dataset is refused.
    void appendStep(int dataset, float time, const std::int8_t* activeOrNull,
                    const float* values1, const float* values2OrNull);
    // Completes the file and gives it its name.
    void close();

    // The file's times so far, and the variables written (in order of definition).
    const std::vector<double>& times() const;
    std::vector<std::string> variableNames() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A run in one file: the mesh, then each dataset with every step, streamed one step at a time.
// Each dataset must have the mesh's nodes (and its cells, when its steps carry flags). The
// coordinate reference comes from the .prj beside the mesh (stem.prj) when there is one. The
// time axis is every ordinary time of every dataset, in order. Lines about what is done go to
// the console; returns the line that sums up what was written.
// The coordinate reference in a .prj file (its WKT, trailing blanks removed), "" when there is
// no such file.
std::string readReferenceWkt(const std::string& prjPath);

struct RunConversion {
    std::string meshPath;
    std::vector<std::string> datasetPaths;
    std::string outputPath;
    std::string referenceTime = kDefaultReferenceTime;
    int deflateLevel = kDefaultDeflateLevel;
};
std::string convertRun(const RunConversion& run);

}  // namespace kelvara::netcdf
