// Inside the extent room: the boundary of a region, as directed sides with the region on their
// left, joined into rings and polygons; and the connection of triangles that decides which
// holes belong to which outer ring.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "extent/extent.h"

namespace kelvara::extent {

// A point of the boundary, named by the mesh: a node n (from 0) is (n << 32 | n); the point
// where a side from node a to node b is crossed is (min << 32 | max), so that both triangles
// sharing the side name it alike.
inline std::uint64_t nodeKey(std::uint32_t n) {
    return (static_cast<std::uint64_t>(n) << 32) | n;
}
inline std::uint64_t sideKey(std::uint32_t a, std::uint32_t b) {
    return a < b ? (static_cast<std::uint64_t>(a) << 32) | b
                 : (static_cast<std::uint64_t>(b) << 32) | a;
}

// One piece of the boundary, from one point to another with the region on its left, and the
// triangle whose side or inside it runs along.
struct BoundaryEdge {
    std::uint64_t from, to;
    std::uint32_t triangle;
};

// Triangles joined where their parts of the region share a side (union-find).
class Components {
public:
    explicit Components(std::size_t count);
    std::uint32_t find(std::uint32_t t);
    void join(std::uint32_t a, std::uint32_t b);

private:
    std::vector<std::uint32_t> parent_;
};

// Joins the edges into closed rings and the rings into polygons. Where several rings meet at a
// point, each incoming edge goes on with the first outgoing edge clockwise from it, and a walk
// that comes back to a point it has passed is cut there, so that every ring is simple. Rings
// that run counter-clockwise are outer rings, the others holes; a hole belongs to the outer ring
// of its triangles' component, or when that has none around it, to the smallest outer ring
// around it. edges is reordered. pointOf gives a boundary point's
// coordinates; components the component of a triangle.
std::vector<Polygon> assemblePolygons(std::vector<BoundaryEdge>& edges,
                                      const std::function<Point(std::uint64_t)>& pointOf,
                                      Components& components);

}  // namespace kelvara::extent
