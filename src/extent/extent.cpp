#include "extent/extent.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "extent/rings.h"
#include "fileio/error.h"

namespace kelvara::extent {
namespace {

using Triangle = MeshTopology::Triangle;

// Where a node's value lies against the threshold.
enum : std::uint8_t { kBelow = 0, kAt = 1, kAbove = 2, kNoValue = 3 };

// Whether the part of a side (ends in states a and b) in the region is longer than a point.
bool sideInRegion(std::uint8_t a, std::uint8_t b) {
    return (a == kAbove || b == kAbove) || (a == kAt && b == kAt);
}

// Whether the region crosses the inside of a side: one end above, the other below.
bool crossed(std::uint8_t a, std::uint8_t b) {
    return (a == kAbove && b == kBelow) || (a == kBelow && b == kAbove);
}

// Whether a triangle's part of the region has an area: three corners in it, or corners and
// crossed sides making three points or more.
bool holdsRegion(const std::uint8_t s[3]) {
    if (s[0] == kNoValue || s[1] == kNoValue || s[2] == kNoValue) return false;
    int points = 0;
    for (int i = 0; i < 3; ++i) points += (s[i] != kBelow) + crossed(s[i], s[(i + 1) % 3]);
    return points >= 3;
}

bool isActive(const std::int8_t* active, std::uint32_t cell) {
    return active == nullptr || active[cell] != 0;
}

// The region of one threshold over one field.
class ThresholdTracer {
public:
    ThresholdTracer(const MeshTopology& topology, const float* value, const std::int8_t* active,
                    float level)
        : topology_(topology), mesh_(topology.mesh()), value_(value), active_(active),
          level_(level) {}

    std::vector<Polygon> trace() {
        const std::vector<Triangle>& triangles = topology_.triangles();
        state_.resize(topology_.nodeCount());
        for (std::size_t n = 0; n < state_.size(); ++n) {
            const float v = value_[n];
            state_[n] = !std::isfinite(v) ? kNoValue : v > level_ ? kAbove : v == level_ ? kAt : kBelow;
        }
        holds_.assign(triangles.size(), 0);
        for (std::size_t t = 0; t < triangles.size(); ++t) {
            const Triangle& tri = triangles[t];
            const std::uint8_t s[3] = {state_[tri.corner[0]], state_[tri.corner[1]],
                                       state_[tri.corner[2]]};
            holds_[t] = isActive(active_, tri.cell) && holdsRegion(s);
        }

        Components components(triangles.size());
        std::vector<BoundaryEdge> edges;
        for (std::size_t t = 0; t < triangles.size(); ++t) {
            if (holds_[t]) addTriangle(static_cast<std::uint32_t>(t), components, edges);
        }
        return assemblePolygons(
            edges, [this](std::uint64_t key) { return pointOf(key); }, components);
    }

private:
    // The boundary of one triangle's part of the region: its corners in the region and the
    // crossings of its sides, counter-clockwise. Each piece along a side that the triangle
    // across holds too is inside the region, and joins the two triangles instead.
    void addTriangle(std::uint32_t t, Components& components, std::vector<BoundaryEdge>& edges) {
        const Triangle& tri = topology_.triangles()[t];
        struct Vertex {
            std::uint64_t key;
            unsigned sides;  // bit j: on side j (from corner j to corner j + 1)
        };
        Vertex vertex[4];
        int count = 0;
        for (int i = 0; i < 3; ++i) {
            const std::uint32_t a = tri.corner[i], b = tri.corner[(i + 1) % 3];
            if (state_[a] != kBelow) vertex[count++] = {nodeKey(a), (1u << i) | (1u << ((i + 2) % 3))};
            if (crossed(state_[a], state_[b])) vertex[count++] = {sideKey(a, b), 1u << i};
            const std::uint32_t across = tri.neighbour[i];
            if (across != MeshTopology::kNone && across > t && holds_[across] &&
                sideInRegion(state_[a], state_[b])) {
                components.join(t, across);
            }
        }
        for (int k = 0; k < count; ++k) {
            const Vertex& from = vertex[k];
            const Vertex& to = vertex[(k + 1) % count];
            const unsigned side = from.sides & to.sides;
            if (side != 0) {
                const int j = side == 1u ? 0 : side == 2u ? 1 : 2;
                const std::uint32_t across = tri.neighbour[j];
                if (across != MeshTopology::kNone && holds_[across]) continue;
            }
            edges.push_back({from.key, to.key, t});
        }
    }

    // A node, or the point of a side where the values interpolated along it reach the level,
    // placed from the side's lower node so that both triangles sharing the side agree.
    Point pointOf(std::uint64_t key) const {
        const auto lo = static_cast<std::uint32_t>(key >> 32);
        const auto hi = static_cast<std::uint32_t>(key & 0xFFFFFFFFu);
        if (lo == hi) return {mesh_.x[lo], mesh_.y[lo]};
        const double vlo = value_[lo], vhi = value_[hi];
        const double s = (static_cast<double>(level_) - vlo) / (vhi - vlo);
        return {mesh_.x[lo] + s * (mesh_.x[hi] - mesh_.x[lo]),
                mesh_.y[lo] + s * (mesh_.y[hi] - mesh_.y[lo])};
    }

    const MeshTopology& topology_;
    const MeshGeometry& mesh_;
    const float* value_;
    const std::int8_t* active_;
    float level_;
    std::vector<std::uint8_t> state_;  // per node
    std::vector<std::uint8_t> holds_;  // per triangle: its part of the region has an area
};

std::string number(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

}  // namespace

std::vector<Polygon> traceExtent(const MeshTopology& topology, const float* nodeValue,
                                 const std::int8_t* cellActive, double threshold) {
    const auto level = static_cast<float>(threshold);
    if (!std::isfinite(threshold) || !std::isfinite(level)) {
        throw errorLine("ERROR - The extent threshold " + number(threshold) +
                        " is not a finite single-precision number.");
    }
    return ThresholdTracer(topology, nodeValue, cellActive, level).trace();
}

std::vector<std::vector<Polygon>> traceExtents(const MeshTopology& topology,
                                               const float* nodeValue,
                                               const std::int8_t* cellActive,
                                               const std::vector<double>& thresholds) {
    std::vector<std::vector<Polygon>> layers;
    layers.reserve(thresholds.size());
    for (double threshold : thresholds) {
        layers.push_back(traceExtent(topology, nodeValue, cellActive, threshold));
    }
    return layers;
}

std::vector<ClassRegion> traceClasses(const MeshTopology& topology, const float* nodeClass,
                                      const std::int8_t* cellActive) {
    const MeshGeometry& mesh = topology.mesh();
    const std::vector<Triangle>& triangles = topology.triangles();

    // Each cell's class: the highest of its corners'; not a number for a cell left out.
    const float none = std::nanf("");
    std::vector<float> cellClass(mesh.cells.size(), none);
    for (const Triangle& tri : triangles) {
        const std::uint32_t c = tri.cell;
        if (!isActive(cellActive, c) || !std::isnan(cellClass[c])) continue;
        const auto& k = mesh.cells[c];
        float highest = -INFINITY;
        bool usable = true;
        for (int i = 0; i < (k[3] == 0 ? 3 : 4); ++i) {
            const float v = nodeClass[k[i] - 1];
            usable = usable && std::isfinite(v);
            highest = std::max(highest, v);
        }
        if (usable) cellClass[c] = highest;
    }

    std::vector<float> values;
    for (const Triangle& tri : triangles) {
        if (!std::isnan(cellClass[tri.cell])) values.push_back(cellClass[tri.cell]);
    }
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());

    // A side is on the boundary of its triangle's class unless the triangle across has the same.
    Components components(triangles.size());
    std::vector<std::vector<BoundaryEdge>> edges(values.size());
    for (std::size_t t = 0; t < triangles.size(); ++t) {
        const Triangle& tri = triangles[t];
        const float value = cellClass[tri.cell];
        if (std::isnan(value)) continue;
        const std::size_t layer = static_cast<std::size_t>(
            std::lower_bound(values.begin(), values.end(), value) - values.begin());
        for (int j = 0; j < 3; ++j) {
            const std::uint32_t across = tri.neighbour[j];
            if (across != MeshTopology::kNone && cellClass[triangles[across].cell] == value) {
                if (across > t) components.join(static_cast<std::uint32_t>(t), across);
                continue;
            }
            edges[layer].push_back({nodeKey(tri.corner[j]), nodeKey(tri.corner[(j + 1) % 3]),
                                    static_cast<std::uint32_t>(t)});
        }
    }

    const auto pointOf = [&mesh](std::uint64_t key) {
        const auto n = static_cast<std::uint32_t>(key & 0xFFFFFFFFu);
        return Point{mesh.x[n], mesh.y[n]};
    };
    std::vector<ClassRegion> regions;
    for (std::size_t layer = 0; layer < values.size(); ++layer) {
        regions.push_back({values[layer], assemblePolygons(edges[layer], pointOf, components)});
    }
    return regions;
}

}  // namespace kelvara::extent
