// Grids for GIS: the values of dataset steps drawn on a regular grid over the mesh and written
// as a GeoTIFF, one float32 band per step. The only part of kelvara that uses GDAL; a build
// without GDAL has the same interface, with available() false and every GridWriter refusing.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "fileio/error.h"
#include "formats/mesh.h"

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

// The text a band's description gives for a step's time: "time 1.5 h", or what a summary step
// holds ("maximum of the run" for 99999, "maximum" for 111111, "number of the input holding
// the maximum" for 222222).
std::string describeTime(float time);

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
    ~GridWriter();
    GridWriter(const GridWriter&) = delete;
    GridWriter& operator=(const GridWriter&) = delete;

    // Draws and writes the next band: the step at time with its cells' activity flags (null:
    // every cell active), values v1 and, for vectors, v2 (nodeCount each). description replaces
    // describeTime(time) when not empty. Throws GridError.
    void addBand(float time, const std::int8_t* activeOrNull, const float* v1,
                 const float* v2OrNull, const std::string& description = {});

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
