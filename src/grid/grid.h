// Grids for GIS: the values of dataset steps drawn on a regular grid over the mesh and written
// as a GeoTIFF, one band per step (two for a difference with wet/dry codes): values as float32,
// classes kept as whole numbers with their names and colours. The only part of kelvara that uses GDAL; a build
// without GDAL has the same interface, with available() false and every GridWriter refusing.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "fileio/error.h"
#include "formats/mesh.h"
#include "sinks/sink.h"

namespace kelvara::grid {

// Whether this build can write grids (it was built with GDAL, and GDAL can be loaded).
bool available();
// Why it cannot, as the end of a sentence; "" when it can.
std::string whyUnavailable();

// A failure to write a grid: what() is the console text, one or more lines, the first
// beginning "ERROR - ". Nothing is left behind of the grid when it is thrown.
class GridError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A grid error as the core's errors carry it: an empty line, then its text one line each.
Error asRunError(const GridError& error);

// The value written where a cell has none.
constexpr float kNoData = -99999.0f;

struct GridRequest {
    std::string meshPath;    // the mesh the geometry was read from (named in messages)
    std::string prjPath;     // its coordinate reference (WKT), used when the file exists
    std::string outputPath;  // the GeoTIFF to write
    double cellSize = 0.0;   // in the mesh's units
};

// The text a band's description gives for a step's time when nothing else is known of it:
// "time 1.5 h", or what a special time holds ("maximum of the run" for 99999, "input number"
// for 222222; sinks/known_steps.h).
std::string describeTime(float time);

// What a band holds, which decides how it is drawn and written.
enum class BandKind {
    Values,      // interpolated in the mesh triangle under a cell's centre
    Difference,  // values with the wet/dry codes 99 and -99: interpolated, no data in a
                 // triangle with a coded corner; always followed by its WetDryCodes band
    Classes,     // whole numbers from 1 (classes, input numbers), never interpolated: a cell
                 // takes the highest of the corners of the mesh cell under its centre; 0, less
                 // and no value: no data
    WetDryCodes, // the codes of the Difference band before it: 1 where a corner is 99 (wet in
                 // the first run only), 2 where -99 (the second only), 0 otherwise; drawn as
                 // classes
};

struct BandSpec {
    float time = 0.0f;
    BandKind kind = BandKind::Values;
    std::string description;
    std::string unit;  // "m", "h"; "" when none
    // The names of the values: of classes 1, 2, ... (Classes), of codes 0, 1, 2 (WetDryCodes);
    // empty when they have none.
    std::vector<std::string> categories;
};

// The bands of the step at time of an output whose steps are declared (sinks/sink.h): a band of
// its kind, described from the declaration (sinks/known_steps.h), and for a coded difference
// the difference and its codes.
std::vector<BandSpec> bandsOfStep(float time, const std::vector<OutputStep>& steps);

// The colour (red, green, blue) of class value of a band of count classes: green for the lowest
// through yellow and orange to dark red for the highest; for wet/dry codes: grey, blue, red.
struct Colour {
    int red, green, blue;
};
Colour classColour(BandKind kind, int value, int count);

// Writes one GeoTIFF, band by band. The grid covers the extent of the mesh's cells with its
// corners on multiples of the cell size; the value at a grid cell's centre is interpolated
// linearly within the mesh triangle that holds it (a quadrilateral A B C D is split along its
// diagonal A-C into A B C and A C D), and always lies within that triangle's corner values; a
// triangle too thin to be trusted is left to the triangles beside it. A centre outside every
// mesh cell, or in a cell that is inactive at the step or that has a corner whose value is not
// a number (NaN, infinite, or -99998 and below: not set), gets kNoData. Vectors are drawn by
// their magnitude.
//
// The file is written as a work file (fileio/output_file.h: removed by the
// signal handler, by a later run of the same output when a killed run left it, and when a run
// is abandoned) and takes its name in finish(); a writer destroyed before finish() (or one that
// threw) removes it. Memory: the mesh, its triangles sorted into bands of 256 grid rows, one
// band of 256 rows at a time, and GDAL's own objects of a few KB per band.
class GridWriter {
public:
    // Checks the request against the mesh and the dataset (nodeCount and cellCount from its
    // header: the mesh must have exactly nodeCount nodes; cellCount 0 when its steps have no
    // activity flags) and creates the file for bandCount bands (the number of steps to be
    // written, counted beforehand). Warnings (no coordinate reference, cells that cannot be
    // drawn) are added to warnings as whole "WARNING - " lines. Throws GridError. The mesh must
    // outlive the writer.
    GridWriter(const MeshGeometry& mesh, const GridRequest& request, std::int32_t nodeCount,
               std::int32_t cellCount, bool vector, int bandCount,
               std::vector<std::string>& warnings);
    // The same for bands known beforehand (bandsOfStep): their kinds decide the file's data
    // type. Bands all of classes are written as whole numbers (Byte when largestClass, the
    // greatest class value in any of them, is at most 255, else UInt16 or Int32) with no data
    // 0, the first band's colours in the file itself; otherwise every band is float32 with no
    // data kNoData, classes as whole numbers. The names and colours of every band with
    // categories go to the GDAL side file NAME.aux.xml (category names and an attribute table
    // of value, name and colour), landed with the grid; a grid without them removes an older
    // side file of its name. Every band has its statistics, its description and its unit.
    GridWriter(const MeshGeometry& mesh, const GridRequest& request, std::int32_t nodeCount,
               std::int32_t cellCount, bool vector, std::vector<BandSpec> bands,
               float largestClass, std::vector<std::string>& warnings);
    ~GridWriter();
    GridWriter(const GridWriter&) = delete;
    GridWriter& operator=(const GridWriter&) = delete;

    // Draws and writes the next band: the step at time with its cells' activity flags (null:
    // every cell active), values v1 and, for vectors, v2 (nodeCount each). description replaces
    // describeTime(time) when not empty. Throws GridError.
    void addBand(float time, const std::int8_t* activeOrNull, const float* v1,
                 const float* v2OrNull, const std::string& description = {});
    // For bands known beforehand: draws and writes the next band of the list, and its codes when
    // it is a Difference. Throws GridError.
    void addStep(const std::int8_t* activeOrNull, const float* v1, const float* v2OrNull);
    // The number of bands the file has.
    int bandCount() const;

    // Closes the file and gives it its name (replacing a file of that name). Throws GridError
    // when fewer bands than announced were written or the file cannot be completed.
    void finish();

    // Size of the grid: columns, rows, and the x and y of its top left corner.
    std::int64_t columns() const;
    std::int64_t rows() const;
    double originX() const;
    double originY() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kelvara::grid
