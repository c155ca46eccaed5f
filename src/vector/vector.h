// Polygon layers for GIS: the extent and class polygons of src/extent written as layers of a
// GeoPackage (.gpkg) through OGR. The only part of kelvara that calls OGR, loaded from the GDAL
// library when the first layers are written (as the grid writer loads it); it prints nothing.
// A build without GDAL has the same interface, with available() false and every writer
// refusing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "extent/extent.h"
#include "formats/mesh.h"

namespace kelvara::vector {

// Whether this build can write polygon layers (it was built with GDAL, and GDAL can be loaded).
bool available();
// Why it cannot, as the end of a sentence; "" when it can.
std::string whyUnavailable();

// The attribute fields, by name.
inline constexpr const char* kThresholdField = "threshold";  // real: the extent's threshold
inline constexpr const char* kTimeField = "time";            // real: the step's time (h)
inline constexpr const char* kAreaField = "area_m2";         // real: the feature's area
inline constexpr const char* kClassField = "class";          // integer: the class value
inline constexpr const char* kClassNameField = "class_name"; // string: the class's name

// What a layer's features are.
enum class LayerKind {
    // One feature per threshold and step: the region at or above the threshold, with the
    // fields threshold, time and area_m2.
    Extent,
    // One feature per class and step: the cells of that class, with the fields class,
    // class_name, time and area_m2.
    Classes,
};

struct LayerDefinition {
    std::string name;         // the layer's name (its table in the GeoPackage)
    LayerKind kind = LayerKind::Extent;
    std::string crsWkt;       // its coordinate reference as WKT; "" for none (undefined
                              // Cartesian coordinates)
    std::string description;  // what the layer shows, kept in the GeoPackage; "" for none
};

// The coordinate reference in a .prj file as WKT that OGR reads, or "" with a "WARNING - "
// line added to warnings (naming the file, or "beside the mesh" for an empty prjPath) when it
// is missing, not a regular file, longer than 1 MB or not a coordinate reference. In a build
// without GDAL, always "" (the writer refuses).
std::string readCoordinateReference(const std::string& prjPath,
                                    std::vector<std::string>& warnings);

// Checks that this build can write layers and that the mesh (read from meshPath) belongs to
// a dataset of these counts, as for grids; throws kelvara::Error otherwise.
void checkMeshOfDataset(const MeshGeometry& mesh, const std::string& meshPath,
                        std::int32_t nodeCount, std::int32_t cellCount);

// Writes one GeoPackage, layer by layer and feature by feature. Every feature is one
// MultiPolygon, dissolved: all the polygons of one threshold (or one class) at one step, so
// that the attribute table has one row per threshold (or class) and step and its area is the
// whole area, as a GIS user expects of a dissolved layer. A threshold or class with no region
// at a step gets a feature with an empty geometry and area 0, so that every row is there.
//
// The file is written as a work file of the file unit table (fileio/units.h: removed by the
// signal handler, by a later run of the same output when a killed run left it, and when a run
// is abandoned) and takes its name in finish(), replacing an earlier file; a writer destroyed
// before finish() (or one that threw) removes it and leaves an earlier file as it was. SQLite
// keeps its journal in memory, so that nothing but the work file is ever beside the output.
// Errors are kelvara::Error with one "ERROR - " line naming the file.
class PolygonLayerWriter {
public:
    // Creates the work file of outputPath.
    explicit PolygonLayerWriter(const std::string& outputPath);
    ~PolygonLayerWriter();
    PolygonLayerWriter(const PolygonLayerWriter&) = delete;
    PolygonLayerWriter& operator=(const PolygonLayerWriter&) = delete;

    // Ends the layer being written, if any, and begins the next one.
    void beginLayer(const LayerDefinition& layer);

    // The next feature of an Extent layer: the polygons (of traceExtent) at or above threshold
    // at the step at time. The area is the sum of the polygons' areas.
    void addExtent(double threshold, double time, const std::vector<extent::Polygon>& polygons);
    // The next feature of a Classes layer: the polygons of the class value (named name) at the
    // step at time.
    void addClass(std::int32_t value, const std::string& name, double time,
                  const std::vector<extent::Polygon>& polygons);

    // Ends the last layer, closes the file and gives it its name.
    void finish();

    const std::string& outputPath() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The extent layer of a dataset's steps: what the "-extent" option writes.
struct ExtentRequest {
    std::string meshPath;     // the mesh the geometry was read from (named in messages)
    std::string prjPath;      // its coordinate reference (WKT), used when the file exists
    std::string outputPath;   // the GeoPackage to write
    std::string layerName = "extent";
    std::string description;  // what the values are ("depth (m)"), kept with the layer
    std::vector<double> thresholds;  // written in increasing order
};

// Traces the region at or above each threshold on the mesh (src/extent) for each step given
// and writes it: one layer, one feature per threshold and step. Memory: the mesh's topology and
// the polygons of one threshold at a time.
class ExtentLayerWriter {
public:
    // Checks the request against the mesh and the dataset (nodeCount and cellCount from its
    // header, as for grids), builds the mesh's topology, reads the coordinate reference and
    // creates the file. Warnings (no coordinate reference, cells that cannot be traced) are
    // added to warnings as whole "WARNING - " lines. Throws kelvara::Error. The mesh must
    // outlive the writer.
    ExtentLayerWriter(const MeshGeometry& mesh, const ExtentRequest& request,
                      std::int32_t nodeCount, std::int32_t cellCount,
                      std::vector<std::string>& warnings);
    ~ExtentLayerWriter();
    ExtentLayerWriter(const ExtentLayerWriter&) = delete;
    ExtentLayerWriter& operator=(const ExtentLayerWriter&) = delete;

    // The features of the step at time: values (nodeCount, magnitudes for vectors) and its
    // cells' activity flags (null: every cell active).
    void addStep(double time, const float* nodeValue, const std::int8_t* activeOrNull);
    // Closes the file and gives it its name.
    void finish();

    // The area at or above each threshold (in increasing order) at the last step added.
    const std::vector<double>& lastAreas() const { return areas_; }
    // Polygons written so far, over every threshold and step.
    std::int64_t polygonCount() const { return polygons_; }

private:
    extent::MeshTopology topology_;
    std::vector<double> thresholds_;
    std::unique_ptr<PolygonLayerWriter> writer_;
    std::vector<double> areas_;
    std::int64_t polygons_ = 0;
};

// ExtentLayerWriter for one step.
void writeExtentLayer(const MeshGeometry& mesh, const ExtentRequest& request,
                      std::int32_t nodeCount, std::int32_t cellCount, double time,
                      const float* nodeValue, const std::int8_t* activeOrNull,
                      std::vector<std::string>& warnings);

}  // namespace kelvara::vector
