// Extent polygons traced on the mesh itself, free of files, GDAL and the console.
//
// traceExtent gives the region where a node field is at or above a threshold: within each
// triangle the field is the plane through its corners' values, so the region's edge crosses a
// triangle's side where linear interpolation along that side reaches the threshold (marching
// triangles). The polygons are exact at the threshold, not a staircase of grid cells.
// traceClasses gives, for each class value, the union of the cells whose highest corner class is
// that value (the worst case, as hazard maps are drawn).
//
// Both work on triangles: a triangle cell as it is, a quadrilateral split along the diagonal from
// its first to its third corner (the split the grid writer uses). The pieces of neighbouring
// triangles are merged into whole polygons through the mesh's topology: a side shared by two
// triangles that both hold the region along it is dropped, matched by the node numbers of its
// ends, never by comparing coordinates. Each polygon is an outer ring with the holes inside it,
// found by the connection of its triangles (no point-in-ring search).
//
// Rings are closed (the last point repeats the first), outer rings counter-clockwise, holes
// clockwise, without repeated consecutive points and without self-intersections; rings of the
// same result may touch at single points (two regions meeting at a node, a hole touching its
// outer ring), as simple-feature polygons allow.
//
// Left out of every result (they contribute nothing): cells with a corner that is not a node
// with coordinates, triangles without area (corners on one line), inactive cells, and
// triangles with a corner whose value is not a finite number. A side shared by more than two
// triangles, or by two that lie on the same side of it (a folded mesh), is an edge of each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/mesh.h"

namespace kelvara::extent {

struct Point {
    double x = 0.0, y = 0.0;
};

// Closed: the last point is the first one again.
using Ring = std::vector<Point>;

struct Polygon {
    Ring outer;               // counter-clockwise
    std::vector<Ring> holes;  // clockwise, each inside outer
    double area = 0.0;        // the outer ring's area less its holes' (m2)
};

// The triangles of a mesh and which triangle lies across each of their sides: built once per
// mesh, then used for any number of fields and thresholds. The mesh must outlive it.
class MeshTopology {
public:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    // One triangle: its corners as node indices (from 0) in counter-clockwise order, the mesh
    // cell (from 0) it belongs to, and across side j (from corner j to corner j + 1) the
    // triangle that shares it and runs along it the other way, or kNone.
    struct Triangle {
        std::uint32_t corner[3];
        std::uint32_t cell;
        std::uint32_t neighbour[3];
    };

    explicit MeshTopology(const MeshGeometry& mesh);

    const MeshGeometry& mesh() const { return mesh_; }
    std::size_t nodeCount() const { return nodeCount_; }
    std::size_t cellCount() const { return mesh_.cells.size(); }
    const std::vector<Triangle>& triangles() const { return triangles_; }
    // Cells left out because a corner is not a node with coordinates.
    std::int64_t cellsLeftOut() const { return cellsLeftOut_; }
    // Triangles left out because their corners lie on one line.
    std::int64_t trianglesWithoutArea() const { return trianglesWithoutArea_; }

private:
    const MeshGeometry& mesh_;
    std::size_t nodeCount_ = 0;
    std::vector<Triangle> triangles_;
    std::int64_t cellsLeftOut_ = 0;
    std::int64_t trianglesWithoutArea_ = 0;
};

// The region where nodeValue (one value per node) is at or above threshold, as polygons.
// cellActive holds one flag per cell (0: the cell is left out) or is null when every cell
// counts. The threshold is taken in single precision, as the values are, so that a value
// stored as 0.7 is at a threshold of 0.7; a node exactly at the threshold is in the region, a
// triangle whose region is only a side or a corner adds nothing. Throws kelvara::Error for a
// threshold that is not a finite number.
std::vector<Polygon> traceExtent(const MeshTopology& topology, const float* nodeValue,
                                 const std::int8_t* cellActive, double threshold);

// traceExtent for each threshold in turn, in the order given.
std::vector<std::vector<Polygon>> traceExtents(const MeshTopology& topology,
                                               const float* nodeValue,
                                               const std::int8_t* cellActive,
                                               const std::vector<double>& thresholds);

// The cells of one class value, dissolved into polygons.
struct ClassRegion {
    float value = 0.0f;
    std::vector<Polygon> polygons;
};

// For each class value that some cell takes, in increasing order, the union of the cells whose
// highest corner value (nodeClass, one per node) is that value. A cell with a corner that is
// not a finite number, or whose flag in cellActive (null: all active) is 0, belongs to none.
std::vector<ClassRegion> traceClasses(const MeshTopology& topology, const float* nodeClass,
                                      const std::int8_t* cellActive);

// The area enclosed by a ring, positive when it runs counter-clockwise (shoelace formula, in
// double precision about the ring's first point).
double signedArea(const Ring& ring);

// The sum of the polygons' areas.
double totalArea(const std::vector<Polygon>& polygons);

}  // namespace kelvara::extent
