// The values a grid's cells take from the mesh triangles under their centres, drawn straight by
// the rasteriser (no file): always within the corner values of a triangle under the centre, also
// for triangles whose corners are on one line as the .2dm writes them but not quite in binary;
// a linear field reproduced; random meshes of triangles, quadrilaterals and slivers.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "formats/mesh.h"
#include "grid/grid.h"
#include "grid/raster.h"

namespace {

using kelvara::MeshGeometry;
using kelvara::grid::Rasteriser;

constexpr float kNoData = kelvara::grid::kNoData;

struct Node {
    double x, y;
};

MeshGeometry makeMesh(const std::vector<Node>& nodes,
                      const std::vector<std::array<std::int32_t, 4>>& cells) {
    MeshGeometry mesh;
    for (const Node& n : nodes) {
        mesh.x.push_back(n.x);
        mesh.y.push_back(n.y);
        mesh.elevation.push_back(0.0f);
    }
    mesh.cells = cells;
    mesh.meshNodeCount = static_cast<std::int32_t>(nodes.size());
    mesh.meshCellCount = static_cast<std::int32_t>(cells.size());
    return mesh;
}

// A grid drawn whole: its layout and its values, row after row.
struct Drawn {
    kelvara::grid::GridLayout layout;
    std::vector<float> values;

    double x(std::int64_t column) const {
        return layout.originX + (static_cast<double>(column) + 0.5) * layout.cellSize;
    }
    double y(std::int64_t row) const {
        return layout.originY - (static_cast<double>(row) + 0.5) * layout.cellSize;
    }
};

// Draws the node values in bands of a few rows (several bands, as the writer does).
Drawn draw(const MeshGeometry& mesh, const std::vector<float>& values, double cellSize) {
    const Rasteriser raster(mesh, cellSize, 7, "mesh.2dm");
    Drawn d;
    d.layout = raster.layout();
    const auto columns = static_cast<std::size_t>(d.layout.columns);
    d.values.assign(columns * static_cast<std::size_t>(d.layout.rows), 0.0f);
    for (std::int64_t b = 0; b < raster.bandCount(); ++b) {
        raster.fill(b, 0, d.layout.columns, values.data(), nullptr, kNoData,
                    d.values.data() + static_cast<std::size_t>(b * raster.bandRows()) * columns);
    }
    return d;
}

// The triangles of a mesh as the grid splits them: A B C, and A C D for a quadrilateral.
std::vector<std::array<std::int32_t, 3>> triangles(const MeshGeometry& mesh) {
    std::vector<std::array<std::int32_t, 3>> out;
    for (const auto& k : mesh.cells) {
        out.push_back({k[0], k[1], k[2]});
        if (k[3] != 0) out.push_back({k[0], k[2], k[3]});
    }
    return out;
}

// Distance from (px, py) to segment a-b.
double segmentDistance(double px, double py, const Node& a, const Node& b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double length2 = dx * dx + dy * dy;
    double s = length2 > 0.0 ? ((px - a.x) * dx + (py - a.y) * dy) / length2 : 0.0;
    s = std::clamp(s, 0.0, 1.0);
    return std::hypot(px - (a.x + s * dx), py - (a.y + s * dy));
}

// How a point lies to a triangle: its distance outside it (0 inside), and how deep inside it
// is (0 outside: its distance to the nearest side).
struct Placement {
    double outside = 0.0, depth = 0.0;
};

Placement place(double px, double py, const Node (&t)[3]) {
    double sides[3];
    bool in = true;
    double sign = 0.0;
    for (int i = 0; i < 3; ++i) {
        const Node& a = t[i];
        const Node& b = t[(i + 1) % 3];
        const double cross = (b.x - a.x) * (py - a.y) - (b.y - a.y) * (px - a.x);
        sides[i] = segmentDistance(px, py, a, b);
        if (cross != 0.0) {
            if (sign == 0.0) sign = cross;
            if ((cross > 0.0) != (sign > 0.0)) in = false;
        }
    }
    const double nearest = std::min({sides[0], sides[1], sides[2]});
    return in ? Placement{0.0, nearest} : Placement{nearest, 0.0};
}

// Height of a triangle on its longest side, as a share of that side.
double thinness(const Node (&t)[3]) {
    double longest = 0.0;
    for (int i = 0; i < 3; ++i) {
        longest = std::max(longest, std::hypot(t[(i + 1) % 3].x - t[i].x, t[(i + 1) % 3].y - t[i].y));
    }
    const double twiceArea = std::fabs((t[1].x - t[0].x) * (t[2].y - t[0].y) -
                                       (t[2].x - t[0].x) * (t[1].y - t[0].y));
    return longest > 0.0 ? twiceArea / (longest * longest) : 0.0;
}

// Checks a drawn grid against its mesh: every value lies within the corner values of a triangle
// under (or a rounding from) its centre; a centre well inside a triangle of good shape has a
// value; a centre under no triangle has none. With a linear field, each value is also the field
// at its centre within 1e-5. Returns the number of cells drawn.
int checkDrawn(const MeshGeometry& mesh, const std::vector<float>& values, double cellSize,
               double (*field)(double, double) = nullptr) {
    const Drawn d = draw(mesh, values, cellSize);
    const double near = 1e-6 * cellSize;
    struct Triangle {
        Node corners[3];
        float low, high;
        double xmin, xmax, ymin, ymax;
        bool goodShape;
    };
    std::vector<Triangle> tris;
    for (const auto& k : triangles(mesh)) {
        Triangle t{};
        for (int i = 0; i < 3; ++i) t.corners[i] = {mesh.x[k[i] - 1], mesh.y[k[i] - 1]};
        const float f[3] = {values[k[0] - 1], values[k[1] - 1], values[k[2] - 1]};
        t.low = std::min({f[0], f[1], f[2]});
        t.high = std::max({f[0], f[1], f[2]});
        t.xmin = std::min({t.corners[0].x, t.corners[1].x, t.corners[2].x}) - near;
        t.xmax = std::max({t.corners[0].x, t.corners[1].x, t.corners[2].x}) + near;
        t.ymin = std::min({t.corners[0].y, t.corners[1].y, t.corners[2].y}) - near;
        t.ymax = std::max({t.corners[0].y, t.corners[1].y, t.corners[2].y}) + near;
        t.goodShape = thinness(t.corners) > 1e-6;
        tris.push_back(t);
    }
    int drawn = 0, failures = 0;
    for (std::int64_t row = 0; row < d.layout.rows && failures < 5; ++row) {
        for (std::int64_t col = 0; col < d.layout.columns && failures < 5; ++col) {
            const double x = d.x(col), y = d.y(row);
            const float v = d.values[static_cast<std::size_t>(row * d.layout.columns + col)];
            bool within = false, under = false, mustDraw = false;
            for (const Triangle& t : tris) {
                if (x < t.xmin || x > t.xmax || y < t.ymin || y > t.ymax) continue;
                const Placement p = place(x, y, t.corners);
                if (p.outside > near) continue;
                under = true;
                mustDraw = mustDraw || (p.depth > near && t.goodShape);
                within = within || (v >= t.low && v <= t.high);
            }
            const std::string where = "centre (" + std::to_string(x) + ", " + std::to_string(y) +
                                      ") value " + std::to_string(v);
            if (v == kNoData) {
                if (mustDraw) {
                    ADD_FAILURE() << where << ": well inside a triangle, not drawn";
                    ++failures;
                }
                continue;
            }
            ++drawn;
            if (!under || !within) {
                ADD_FAILURE() << where << (under ? ": outside its corners' values"
                                                 : ": under no triangle");
                ++failures;
            }
            if (field != nullptr && !(std::fabs(v - field(x, y)) <= 1e-5)) {
                ADD_FAILURE() << where << ": the field there is " << field(x, y);
                ++failures;
            }
        }
    }
    return drawn;
}

TEST(GridInterpolation, CornersOnOneLineAsWrittenStayWithinTheirValues) {
    // (0.5, 0.5), (8.5, 7.5) and (1.3, 1.2) are on one line in decimal, not quite in binary.
    struct Case {
        const char* what;
        std::vector<Node> nodes;
        std::vector<std::array<std::int32_t, 4>> cells;
        std::vector<float> values;
        double cellSize;
        bool drawsSomething;
    };
    const Case cases[] = {
        // Cells of 0.2 put centres on the line ((2.1, 1.9), (3.7, 3.3), ...); of 0.1, beside it.
        {"the sliver alone", {{0.5, 0.5}, {8.5, 7.5}, {1.3, 1.2}}, {{1, 2, 3, 0}}, {1, 2, 3},
         0.2, false},
        {"the sliver alone, centres beside its line", {{0.5, 0.5}, {8.5, 7.5}, {1.3, 1.2}},
         {{1, 2, 3, 0}}, {1, 2, 3}, 0.1, false},
        {"the sliver beside a triangle sharing its long side",
         {{0.5, 0.5}, {8.5, 7.5}, {1.3, 1.2}, {0.5, 7.5}}, {{1, 2, 3, 0}, {1, 4, 2, 0}},
         {1, 2, 3, 4}, 0.2, true},
        {"the sliver as the first half of a quadrilateral",
         {{0.5, 0.5}, {1.3, 1.2}, {8.5, 7.5}, {0.5, 7.5}}, {{1, 2, 3, 4}}, {1, 3, 2, 4}, 0.2,
         true},
        {"the sliver far from the origin, as real coordinates are",
         {{412000.5, 6100000.5}, {412008.5, 6100007.5}, {412001.3, 6100001.2}}, {{1, 2, 3, 0}},
         {1, 2, 3}, 0.2, false},
        {"three corners exactly on one line", {{0, 0}, {8, 4}, {2, 1}}, {{1, 2, 3, 0}},
         {1, 2, 3}, 0.5, false},
        {"two corners at one place", {{0, 0}, {8, 4}, {8, 4}}, {{1, 2, 3, 0}}, {1, 2, 3}, 0.5,
         false},
        {"a thin triangle that is still a triangle", {{0, 0}, {10, 0}, {5, 0.001}},
         {{1, 2, 3, 0}}, {1, 2, 3}, 0.0005, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const MeshGeometry mesh = makeMesh(c.nodes, c.cells);
        const int drawn = checkDrawn(mesh, c.values, c.cellSize);
        if (c.drawsSomething) {
            EXPECT_GT(drawn, 0);
        }
    }
}

double plane(double x, double y) { return 1.5 + 0.25 * x - 0.125 * y; }
double localPlane(double x, double y) { return 2.0 + 0.01 * (x - 412000.0) + 0.02 * (y - 6100000.0); }

// Random meshes on a lattice of tenths, as .2dm files write coordinates: triangles, convex
// quadrilaterals, slivers whose corners are on one line in decimal, quadrilaterals with a
// corner on their diagonal, and thin triangles one tenth off a line.
MeshGeometry randomMesh(std::mt19937& random, double offsetX, double offsetY) {
    std::uniform_int_distribution<int> tenths(0, 100);
    std::uniform_int_distribution<int> step(-5, 5);
    std::uniform_int_distribution<int> kind(0, 4);
    std::vector<Node> nodes;
    std::vector<std::array<std::int32_t, 4>> cells;
    auto node = [&](int tx, int ty) {
        // As a .2dm reader gets them: the decimal text's nearest double.
        nodes.push_back({offsetX + tx / 10.0, offsetY + ty / 10.0});
        return static_cast<std::int32_t>(nodes.size());
    };
    for (int cell = 0; cell < 24; ++cell) {
        const int ax = tenths(random), ay = tenths(random);
        int px = step(random), py = step(random);
        if (px == 0 && py == 0) px = 1;
        switch (kind(random)) {
        case 0:  // any triangle
            cells.push_back({node(ax, ay), node(tenths(random), tenths(random)),
                             node(tenths(random), tenths(random)), 0});
            break;
        case 1: {  // a convex quadrilateral
            const int w = 1 + tenths(random) / 4, h = 1 + tenths(random) / 4;
            cells.push_back({node(ax, ay), node(ax + w, ay + step(random) / 3),
                             node(ax + w, ay + h), node(ax + step(random) / 3, ay + h)});
            break;
        }
        case 2: {  // a sliver: corners on one line in decimal
            const int far = 2 + tenths(random) / 10, mid = 1 + far / 3;
            cells.push_back({node(ax, ay), node(ax + far * px, ay + far * py),
                             node(ax + mid * px, ay + mid * py), 0});
            break;
        }
        case 3: {  // a quadrilateral whose second corner is on its diagonal A-C
            const int far = 2 + tenths(random) / 10, mid = 1 + far / 2;
            cells.push_back({node(ax, ay), node(ax + mid * px, ay + mid * py),
                             node(ax + far * px, ay + far * py), node(ax - py * 5, ay + px * 5)});
            break;
        }
        default: {  // a thin triangle: its third corner a tenth off the line
            const int far = 20 + tenths(random) / 2;
            cells.push_back({node(ax, ay), node(ax + far * px, ay + far * py),
                             node(ax + (far / 2) * px - py, ay + (far / 2) * py + px), 0});
            break;
        }
        }
    }
    return makeMesh(nodes, cells);
}

TEST(GridInterpolation, RandomMeshesStayWithinTheirCornersAndReproduceAPlane) {
    const double cellSizes[] = {0.1, 0.2, 0.25, 0.5, 1.0, 0.3};
    for (unsigned seed = 1; seed <= 30; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        const bool far = seed % 3 == 0;  // coordinates as large as real ones
        const double x0 = far ? 412000.0 : 0.0, y0 = far ? 6100000.0 : 0.0;
        const MeshGeometry mesh = randomMesh(random, x0, y0);
        const double cellSize = cellSizes[seed % 6];

        std::uniform_real_distribution<float> any(-5.0f, 5.0f);
        std::vector<float> values;
        for (std::size_t n = 0; n < mesh.x.size(); ++n) values.push_back(any(random));
        EXPECT_GT(checkDrawn(mesh, values, cellSize), 0);

        double (*field)(double, double) = far ? localPlane : plane;
        std::vector<float> linear;
        for (std::size_t n = 0; n < mesh.x.size(); ++n) {
            linear.push_back(static_cast<float>(field(mesh.x[n], mesh.y[n])));
        }
        // The field's values are floats: a rounding of theirs is allowed for.
        EXPECT_GT(checkDrawn(mesh, linear, cellSize, field), 0);
    }
}

}  // namespace
