// Extent polygons: planes and bumps on small meshes whose regions are known exactly (straight
// boundaries, an annulus, two islands, thresholds on node values, no-data and inactive cells,
// quadrilaterals), class regions of hand-made meshes, and random meshes whose total area is
// checked against the at-or-above area of each triangle clipped on its own; every result has
// closed simple rings, outer rings counter-clockwise and holes clockwise inside them, and
// polygons that do not overlap.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "extent/extent.h"
#include "fileio/error.h"
#include "formats/mesh.h"

#ifdef KELVARA_WITH_GDAL
#include <ogr_api.h>
#include <ogr_geometry.h>
#endif

namespace {

using kelvara::MeshGeometry;
using kelvara::extent::ClassRegion;
using kelvara::extent::MeshTopology;
using kelvara::extent::Point;
using kelvara::extent::Polygon;
using kelvara::extent::Ring;
using kelvara::extent::signedArea;
using kelvara::extent::totalArea;
using kelvara::extent::traceClasses;
using kelvara::extent::traceExtent;
using kelvara::extent::traceExtents;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------------------------------------
// Meshes

// A grid of nx by ny cells of size h from (x0, y0); node (i, j) is number j * (nx + 1) + i + 1.
// Cells are quadrilaterals, or pairs of triangles split along either diagonal as split says.
enum class Split { Quads, FirstToThird, SecondToFourth };

MeshGeometry gridMesh(int nx, int ny, double h, Split split, double x0 = 0.0, double y0 = 0.0) {
    MeshGeometry mesh;
    for (int j = 0; j <= ny; ++j) {
        for (int i = 0; i <= nx; ++i) {
            mesh.x.push_back(x0 + i * h);
            mesh.y.push_back(y0 + j * h);
            mesh.elevation.push_back(0.0f);
        }
    }
    const auto node = [nx](int i, int j) { return j * (nx + 1) + i + 1; };
    for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < nx; ++i) {
            const int a = node(i, j), b = node(i + 1, j), c = node(i + 1, j + 1), d = node(i, j + 1);
            switch (split) {
            case Split::Quads: mesh.cells.push_back({a, b, c, d}); break;
            case Split::FirstToThird:
                mesh.cells.push_back({a, b, c, 0});
                mesh.cells.push_back({a, c, d, 0});
                break;
            case Split::SecondToFourth:
                mesh.cells.push_back({a, b, d, 0});
                mesh.cells.push_back({b, c, d, 0});
                break;
            }
        }
    }
    mesh.meshNodeCount = static_cast<std::int32_t>(mesh.x.size());
    mesh.meshCellCount = static_cast<std::int32_t>(mesh.cells.size());
    return mesh;
}

std::vector<float> nodeValues(const MeshGeometry& mesh, const std::function<double(double, double)>& f) {
    std::vector<float> v(mesh.x.size());
    for (std::size_t n = 0; n < v.size(); ++n) v[n] = static_cast<float>(f(mesh.x[n], mesh.y[n]));
    return v;
}

// ---------------------------------------------------------------------------------------------
// The independent reference: each triangle clipped on its own, without any topology.

std::vector<std::array<std::int32_t, 3>> trianglesOf(const std::array<std::int32_t, 4>& k) {
    if (k[0] == 0) return {};
    if (k[3] == 0) return {{k[0], k[1], k[2]}};
    return {{k[0], k[1], k[2]}, {k[0], k[2], k[3]}};
}

double polygonArea(const std::vector<Point>& p) {
    double twice = 0.0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        const Point& a = p[i];
        const Point& b = p[(i + 1) % p.size()];
        twice += (a.x - p[0].x) * (b.y - p[0].y) - (b.x - p[0].x) * (a.y - p[0].y);
    }
    return 0.5 * std::fabs(twice);
}

// The area where the interpolated value is at or above the threshold (taken in single
// precision, as the values are).
double referenceArea(const MeshGeometry& mesh, const std::vector<float>& value,
                     const std::vector<std::int8_t>& active, double threshold) {
    const double t = static_cast<float>(threshold);
    double area = 0.0;
    for (std::size_t c = 0; c < mesh.cells.size(); ++c) {
        if (!active.empty() && active[c] == 0) continue;
        const auto& k = mesh.cells[c];
        bool located = true;
        for (int i = 0; i < (k[3] == 0 ? 3 : 4); ++i) {
            located = located && k[i] != 0 && std::isfinite(mesh.x[k[i] - 1]) && std::isfinite(mesh.y[k[i] - 1]);
        }
        if (!located) continue;
        for (const auto& tri : trianglesOf(k)) {
            std::vector<Point> p;
            std::vector<double> f;
            for (int n : tri) {
                p.push_back({mesh.x[n - 1], mesh.y[n - 1]});
                f.push_back(value[n - 1]);
            }
            if (!std::isfinite(f[0]) || !std::isfinite(f[1]) || !std::isfinite(f[2])) continue;
            std::vector<Point> clipped;
            for (int i = 0; i < 3; ++i) {
                const int j = (i + 1) % 3;
                if (f[i] >= t) clipped.push_back(p[i]);
                if ((f[i] >= t) != (f[j] >= t)) {
                    const double s = (t - f[i]) / (f[j] - f[i]);
                    clipped.push_back({p[i].x + s * (p[j].x - p[i].x), p[i].y + s * (p[j].y - p[i].y)});
                }
            }
            if (clipped.size() >= 3) area += polygonArea(clipped);
        }
    }
    return area;
}

// The area of each cell class (the highest corner value), by class.
std::vector<std::pair<float, double>> referenceClassAreas(const MeshGeometry& mesh,
                                                          const std::vector<float>& cls,
                                                          const std::vector<std::int8_t>& active) {
    std::vector<std::pair<float, double>> areas;
    for (std::size_t c = 0; c < mesh.cells.size(); ++c) {
        const auto& k = mesh.cells[c];
        if (k[0] == 0 || (!active.empty() && active[c] == 0)) continue;
        float highest = -INFINITY;
        bool usable = true;
        for (int i = 0; i < (k[3] == 0 ? 3 : 4); ++i) {
            usable = usable && std::isfinite(cls[k[i] - 1]);
            highest = std::max(highest, cls[k[i] - 1]);
        }
        if (!usable) continue;
        double area = 0.0;
        for (const auto& tri : trianglesOf(k)) {
            area += polygonArea({{mesh.x[tri[0] - 1], mesh.y[tri[0] - 1]},
                                 {mesh.x[tri[1] - 1], mesh.y[tri[1] - 1]},
                                 {mesh.x[tri[2] - 1], mesh.y[tri[2] - 1]}});
        }
        auto it = std::find_if(areas.begin(), areas.end(), [&](const auto& a) { return a.first == highest; });
        if (it == areas.end()) {
            areas.emplace_back(highest, area);
        } else {
            it->second += area;
        }
    }
    std::sort(areas.begin(), areas.end());
    return areas;
}

// ---------------------------------------------------------------------------------------------
// Checks of the polygons' form

bool same(const Point& a, const Point& b) { return a.x == b.x && a.y == b.y; }

double orient(const Point& a, const Point& b, const Point& c) {
    return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

// Whether p lies on segment ab, strictly between its ends.
bool strictlyOn(const Point& p, const Point& a, const Point& b) {
    if (orient(a, b, p) != 0.0 || same(p, a) || same(p, b)) return false;
    return std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x) && std::min(a.y, b.y) <= p.y &&
           p.y <= std::max(a.y, b.y);
}

// Crossing test of a ray towards +x; p must not lie on the ring.
bool insideRing(const Ring& ring, const Point& p) {
    bool in = false;
    for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
        const Point& a = ring[i];
        const Point& b = ring[i + 1];
        if ((a.y > p.y) != (b.y > p.y) && p.x < a.x + (p.y - a.y) * (b.x - a.x) / (b.y - a.y)) in = !in;
    }
    return in;
}

bool insidePolygon(const Polygon& polygon, const Point& p) {
    if (!insideRing(polygon.outer, p)) return false;
    for (const Ring& hole : polygon.holes) {
        if (insideRing(hole, p)) return false;
    }
    return true;
}

Point middle(const Point& a, const Point& b) { return {0.5 * (a.x + b.x), 0.5 * (a.y + b.y)}; }

struct Segment {
    Point a, b;
    std::size_t ring, index, ringSize;
};

// Everything the polygons of one result must be: closed rings of three points or more without
// repeated points, outer rings counter-clockwise and holes clockwise, areas that add up, no
// two sides crossing or overlapping, rings touching at most at points (and a ring never
// itself), holes inside their outer ring, and no polygon inside another. The side checks take
// every pair of sides: for small results only (checkSides).
void checkPolygons(const std::vector<Polygon>& polygons, bool checkSides = true) {
    std::vector<Segment> segments;
    std::size_t ringNumber = 0;
    for (const Polygon& polygon : polygons) {
        double area = 0.0;
        std::vector<const Ring*> rings = {&polygon.outer};
        for (const Ring& hole : polygon.holes) rings.push_back(&hole);
        for (std::size_t r = 0; r < rings.size(); ++r) {
            const Ring& ring = *rings[r];
            ASSERT_GE(ring.size(), 4u);
            EXPECT_TRUE(same(ring.front(), ring.back())) << "ring not closed";
            std::set<std::pair<double, double>> seen;
            for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
                EXPECT_TRUE(std::isfinite(ring[i].x) && std::isfinite(ring[i].y));
                EXPECT_TRUE(seen.insert({ring[i].x, ring[i].y}).second)
                    << "point (" << ring[i].x << ", " << ring[i].y << ") twice in a ring";
                segments.push_back({ring[i], ring[i + 1], ringNumber, i, ring.size() - 1});
            }
            const double a = signedArea(ring);
            if (r == 0) {
                EXPECT_GT(a, 0.0) << "outer ring not counter-clockwise";
            } else {
                EXPECT_LT(a, 0.0) << "hole not clockwise";
                for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
                    EXPECT_TRUE(insideRing(polygon.outer, middle(ring[i], ring[i + 1])))
                        << "hole side outside its outer ring";
                }
            }
            area += a;
            ++ringNumber;
        }
        EXPECT_NEAR(polygon.area, area, 1e-9 * std::fabs(area) + 1e-12);
        EXPECT_GT(polygon.area, 0.0);
    }
    if (!checkSides) return;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        for (std::size_t j = i + 1; j < segments.size(); ++j) {
            const Segment& s = segments[i];
            const Segment& t = segments[j];
            const double o1 = orient(s.a, s.b, t.a), o2 = orient(s.a, s.b, t.b);
            const double o3 = orient(t.a, t.b, s.a), o4 = orient(t.a, t.b, s.b);
            ASSERT_FALSE(((o1 > 0 && o2 < 0) || (o1 < 0 && o2 > 0)) &&
                         ((o3 > 0 && o4 < 0) || (o3 < 0 && o4 > 0)))
                << "sides cross";
            ASSERT_FALSE(strictlyOn(t.a, s.a, s.b) || strictlyOn(t.b, s.a, s.b) ||
                         strictlyOn(s.a, t.a, t.b) || strictlyOn(s.b, t.a, t.b))
                << "a side touches another inside it, at (" << s.a.x << ", " << s.a.y << ")";
            const bool shareStart = same(s.a, t.a) || same(s.a, t.b);
            const bool shareEnd = same(s.b, t.a) || same(s.b, t.b);
            ASSERT_FALSE(shareStart && shareEnd) << "a side twice";
            if (s.ring == t.ring && (shareStart || shareEnd)) {
                const bool adjacent = t.index == s.index + 1 || (s.index == 0 && t.index + 1 == t.ringSize);
                ASSERT_TRUE(adjacent) << "a ring touches itself at (" << s.a.x << ", " << s.a.y << ")";
            }
        }
    }
    for (std::size_t p = 0; p < polygons.size(); ++p) {
        for (std::size_t q = 0; q < polygons.size(); ++q) {
            if (p == q) continue;
            const Ring& ring = polygons[p].outer;
            for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
                ASSERT_FALSE(insidePolygon(polygons[q], middle(ring[i], ring[i + 1])))
                    << "polygons overlap";
            }
        }
    }
}

std::size_t holeCount(const std::vector<Polygon>& polygons) {
    std::size_t n = 0;
    for (const Polygon& p : polygons) n += p.holes.size();
    return n;
}

// ---------------------------------------------------------------------------------------------
// Known regions

struct Case {
    const char* what;
    MeshGeometry mesh;
    std::vector<float> value;
    std::vector<std::int8_t> active;
    double threshold;
    double area;          // expected
    std::size_t polygons;  // expected count
    std::size_t holes;     // expected count over all polygons
};

MeshGeometry withNaNCoordinates(MeshGeometry mesh, std::size_t node) {
    mesh.x[node] = std::nan("");
    return mesh;
}

std::vector<Case> knownCases() {
    std::vector<Case> cases;
    const auto plane = [](double x, double) { return x; };
    for (Split split : {Split::Quads, Split::FirstToThird, Split::SecondToFourth}) {
        MeshGeometry m = gridMesh(10, 10, 1.0, split);
        cases.push_back({"plane x >= 3.5", m, nodeValues(m, plane), {}, 3.5, 65.0, 1, 0});
        cases.push_back({"plane x >= 3 (threshold on a column of nodes)", m, nodeValues(m, plane), {},
                         3.0, 70.0, 1, 0});
        cases.push_back({"plane x + y >= 15", m, nodeValues(m, [](double x, double y) { return x + y; }),
                         {}, 15.0, 12.5, 1, 0});
        cases.push_back({"everything at the threshold", m, std::vector<float>(m.x.size(), 2.0f), {}, 2.0,
                         100.0, 1, 0});
        cases.push_back({"nothing reaches it", m, nodeValues(m, plane), {}, 10.5, 0.0, 0, 0});
        // Nodes on the threshold along x = 5 and below it elsewhere: the region is a line.
        cases.push_back({"only a line of nodes at the threshold", m,
                         nodeValues(m, [](double x, double) { return -std::fabs(x - 5.0); }), {}, 0.0,
                         0.0, 0, 0});
        cases.push_back({"a single node at the threshold", m,
                         nodeValues(m, [](double x, double y) { return x == 5 && y == 5 ? 1.0 : 0.0; }),
                         {}, 1.0, 0.0, 0, 0});
        // The tent -|x - 5|: the region at or above -1 is the strip 4 <= x <= 6.
        cases.push_back({"a strip between two columns of nodes at the threshold", m,
                         nodeValues(m, [](double x, double) { return -std::fabs(x - 5.0); }), {}, -1.0,
                         20.0, 1, 0});
    }
    {
        // One inactive cell in the middle of a plane above the threshold: a hole of one cell.
        MeshGeometry m = gridMesh(10, 10, 1.0, Split::Quads);
        std::vector<std::int8_t> active(m.cells.size(), 1);
        active[5 * 10 + 5] = 0;
        cases.push_back({"an inactive cell", m, std::vector<float>(m.x.size(), 1.0f), active, 0.5, 99.0, 1, 1});
        // Two inactive cells meeting at a corner: two holes that touch at a point.
        active[4 * 10 + 4] = 0;
        cases.push_back({"two inactive cells meeting at a corner", m, std::vector<float>(m.x.size(), 1.0f),
                         active, 0.5, 98.0, 1, 2});
        // An inactive cell in the corner and one diagonally beside it: a notch in the outer
        // ring and a hole that touches it at a node.
        std::vector<std::int8_t> notch(m.cells.size(), 1);
        notch[0] = 0;
        notch[1 * 10 + 1] = 0;
        cases.push_back({"a hole touching the outer ring at a node", m, std::vector<float>(m.x.size(), 1.0f),
                         notch, 0.5, 98.0, 1, 1});
        // A column of inactive cells cuts the mesh in two.
        std::vector<std::int8_t> cut(m.cells.size(), 1);
        for (int j = 0; j < 10; ++j) cut[j * 10 + 3] = 0;
        cases.push_back({"a column of inactive cells", m, std::vector<float>(m.x.size(), 1.0f), cut, 0.5,
                         90.0, 2, 0});
        // Active cells only where (i + j) is even: a checkerboard of squares meeting at corners.
        std::vector<std::int8_t> board(m.cells.size(), 0);
        for (int j = 0; j < 4; ++j) {
            for (int i = 0; i < 4; ++i) board[j * 10 + i] = (i + j) % 2 == 0;
        }
        cases.push_back({"a checkerboard of cells", m, std::vector<float>(m.x.size(), 1.0f), board, 0.5,
                         8.0, 8, 0});
        // A square ring of active cells with its inside inactive but with the same corners.
        std::vector<std::int8_t> frame(m.cells.size(), 0);
        for (int j = 2; j <= 6; ++j) {
            for (int i = 2; i <= 6; ++i) frame[j * 10 + i] = (i == 2 || i == 6 || j == 2 || j == 6);
        }
        cases.push_back({"a frame of cells", m, std::vector<float>(m.x.size(), 1.0f), frame, 0.5, 16.0, 1, 1});
    }
    for (Split split : {Split::Quads, Split::FirstToThird}) {
        // A node without a value in the middle: the triangles around it are left out.
        MeshGeometry m = gridMesh(10, 10, 1.0, split);
        std::vector<float> v(m.x.size(), 1.0f);
        v[5 * 11 + 5] = kNaN;
        // With the first-to-third split (both grids' triangles are the same), six triangles of
        // half a cell each have node (5, 5) as a corner.
        cases.push_back({"a node without a value", m, v, {}, 0.5, 97.0, 1, 1});
        // A node without coordinates: its cells are left out.
        v[5 * 11 + 5] = 1.0f;
        cases.push_back({"a node without coordinates", withNaNCoordinates(m, 5 * 11 + 5), v, {}, 0.5,
                         split == Split::Quads ? 96.0 : 97.0, 1, 1});
    }
    {
        // One quadrilateral, wet along the diagonal from its first to its third corner: each
        // triangle loses the corner triangle at its dry corner (1/8 of the cell each).
        MeshGeometry m = gridMesh(1, 1, 1.0, Split::Quads);
        cases.push_back({"a quadrilateral wet along its split", m, {1.0f, 0.0f, 0.0f, 1.0f}, {}, 0.5,
                         0.75, 1, 0});
        // Wet along the other diagonal: the split cuts the wet band; each triangle keeps the
        // corner triangle at its wet corner.
        cases.push_back({"a quadrilateral wet across its split", m, {0.0f, 1.0f, 1.0f, 0.0f}, {}, 0.5,
                         0.25, 2, 0});
        // Corners listed clockwise: the same region.
        MeshGeometry cw = m;
        cw.cells[0] = {1, 3, 4, 2};
        cases.push_back({"a quadrilateral listed clockwise", cw, {1.0f, 0.0f, 0.0f, 1.0f}, {}, 0.5, 0.75, 1, 0});
    }
    {
        // A peak of 1 at the centre falling away linearly with the distance along each axis (a
        // pyramid): the region at or above 0.5 is a square of side 4 turned by nothing.
        MeshGeometry m = gridMesh(8, 8, 1.0, Split::FirstToThird, -4.0, -4.0);
        const auto pyramid = [](double x, double y) { return 1.0 - std::max(std::fabs(x), std::fabs(y)) / 4.0; };
        cases.push_back({"a pyramid", m, nodeValues(m, pyramid), {}, 0.5, 16.0, 1, 0});
        // Its inverse: a pit, the region a square frame, and two triangles inside the square
        // whose corners are all on the threshold (at two corners of the square, where the
        // split runs across the corner).
        cases.push_back({"a pit", m, nodeValues(m, [&](double x, double y) { return -pyramid(x, y); }), {},
                         -0.5, 64.0 - 16.0 + 2 * 0.5, 1, 1});
        // Two pyramids side by side: two islands.
        MeshGeometry wide = gridMesh(20, 8, 1.0, Split::Quads, -4.0, -4.0);
        cases.push_back({"two islands", wide,
                         nodeValues(wide, [&](double x, double y) { return std::max(pyramid(x, y), pyramid(x - 12, y)); }),
                         {}, 0.5, 32.0, 2, 0});
    }
    return cases;
}

TEST(Extent, KnownRegions) {
    for (const Case& c : knownCases()) {
        SCOPED_TRACE(c.what);
        const MeshTopology topology(c.mesh);
        const auto polygons = traceExtent(topology, c.value.data(), c.active.empty() ? nullptr : c.active.data(),
                                          c.threshold);
        checkPolygons(polygons);
        EXPECT_NEAR(totalArea(polygons), c.area, 1e-9);
        EXPECT_NEAR(referenceArea(c.mesh, c.value, c.active, c.threshold), c.area, 1e-9);
        EXPECT_EQ(polygons.size(), c.polygons);
        EXPECT_EQ(holeCount(polygons), c.holes);
    }
}

// Two regions that touch at nodes on the threshold, with a band below it between them whose
// crossing points lie so close to nodes (values near the largest float) that they round onto
// them: the rings of both regions may be walked as one, but the band stays a hole of it.
TEST(Extent, BandBetweenRegionsWhosePointsRoundOntoNodes) {
    MeshGeometry m = gridMesh(3, 3, 1.0, Split::Quads);
    m.cells = {{1, 5, 6, 2},  {2, 3, 7, 0},   {2, 7, 6, 0},    {3, 4, 8, 7},    {5, 6, 10, 9},
               {6, 7, 11, 10}, {7, 8, 12, 11}, {9, 13, 14, 10}, {10, 14, 15, 11}, {11, 15, 16, 12}};
    const float big = 3.0e38f;
    const float tiny = std::numeric_limits<float>::denorm_min();
    const std::vector<float> v = {1, big, 0, std::nextafter(big, INFINITY), 3, tiny, big, 1,
                                  1, 1, -2, big, big, big, big, 1};
    for (double threshold : {1.0, 0.5, 2.5}) {
        SCOPED_TRACE(threshold);
        const MeshTopology topology(m);
        const auto polygons = traceExtent(topology, v.data(), nullptr, threshold);
        EXPECT_NEAR(totalArea(polygons), referenceArea(m, v, {}, threshold), 1e-9);
    }
}

// Where the threshold lies between nodes of a plane, every point of the boundary inside the
// mesh is on the line where the plane reaches it, exactly.
TEST(Extent, StraightBoundaryOfAPlane) {
    struct Row {
        double threshold;
        double line;
    };
    for (Split split : {Split::Quads, Split::FirstToThird, Split::SecondToFourth}) {
        for (const Row& row : {Row{3.5, 3.5}, Row{7.25, 7.25}, Row{0.125, 0.125}}) {
            const MeshGeometry m = gridMesh(10, 10, 1.0, split);
            const auto polygons = traceExtent(MeshTopology(m), nodeValues(m, [](double x, double) { return x; }).data(),
                                              nullptr, row.threshold);
            ASSERT_EQ(polygons.size(), 1u);
            std::size_t onLine = 0;
            for (const Point& p : polygons[0].outer) {
                EXPECT_GE(p.x, row.line);
                const bool onEdge = p.y == 0.0 || p.y == 10.0 || p.x == 10.0;
                EXPECT_TRUE(onEdge || p.x == row.line) << p.x << ", " << p.y;
                onLine += p.x == row.line;
            }
            EXPECT_GE(onLine, 11u);
        }
    }
}

// An annulus: 1 - |r^2 - 25| / 9 is at or above 0 for 16 <= r^2 <= 34. Interpolated on a fine
// mesh, the area is the annulus's within the interpolation's error.
TEST(Extent, AnnulusWithItsHole) {
    for (Split split : {Split::Quads, Split::SecondToFourth}) {
        const MeshGeometry m = gridMesh(160, 160, 0.1, split, -8.0, -8.0);
        const auto v = nodeValues(m, [](double x, double y) { return 1.0 - std::fabs(x * x + y * y - 25.0) / 9.0; });
        const auto polygons = traceExtent(MeshTopology(m), v.data(), nullptr, 0.0);
        ASSERT_EQ(polygons.size(), 1u);
        ASSERT_EQ(polygons[0].holes.size(), 1u);
        EXPECT_NEAR(polygons[0].area, kPi * (34.0 - 16.0), 0.005 * kPi * (34.0 - 16.0));
        EXPECT_NEAR(-signedArea(polygons[0].holes[0]), kPi * 16.0, 0.005 * kPi * 16.0);
        EXPECT_NEAR(polygons[0].area, referenceArea(m, v, {}, 0.0), 1e-9 * polygons[0].area);
        checkPolygons(polygons, false);
    }
}

// A value stored in single precision is at a threshold given as the same decimal number.
TEST(Extent, ThresholdInSinglePrecision) {
    const MeshGeometry m = gridMesh(2, 1, 1.0, Split::Quads);
    const std::vector<float> v = {0.7f, 0.7f, 0.0f, 0.7f, 0.7f, 0.0f};
    const auto polygons = traceExtent(MeshTopology(m), v.data(), nullptr, 0.7);
    EXPECT_NEAR(totalArea(polygons), 1.0, 1e-12);
}

TEST(Extent, SeveralThresholdsAsOneByOne) {
    const MeshGeometry m = gridMesh(12, 9, 1.0, Split::Quads);
    const auto v = nodeValues(m, [](double x, double y) { return std::sin(x) * std::cos(y / 2); });
    const MeshTopology topology(m);
    const std::vector<double> thresholds = {0.1, 0.3, 0.9, -0.5};
    const auto layers = traceExtents(topology, v.data(), nullptr, thresholds);
    ASSERT_EQ(layers.size(), thresholds.size());
    for (std::size_t i = 0; i < thresholds.size(); ++i) {
        const auto one = traceExtent(topology, v.data(), nullptr, thresholds[i]);
        ASSERT_EQ(layers[i].size(), one.size());
        EXPECT_EQ(totalArea(layers[i]), totalArea(one));
    }
    EXPECT_GT(totalArea(layers[0]), totalArea(layers[1]));
    EXPECT_GT(totalArea(layers[1]), totalArea(layers[2]));
}

TEST(Extent, ThresholdThatIsNotANumberIsRefused) {
    const MeshGeometry m = gridMesh(1, 1, 1.0, Split::Quads);
    const std::vector<float> v(4, 1.0f);
    const MeshTopology topology(m);
    for (double t : {std::nan(""), static_cast<double>(INFINITY), 1e300}) {
        try {
            traceExtent(topology, v.data(), nullptr, t);
            ADD_FAILURE() << "accepted " << t;
        } catch (const kelvara::Error& e) {
            EXPECT_EQ(std::string(e.what()).rfind("ERROR - The extent threshold", 0), 0u) << e.what();
        }
    }
}

// Cells that no element line names, corners that are not nodes, triangles without area and a
// side shared by three triangles are left out or bounded, never a failure.
TEST(Extent, DamagedMeshes) {
    MeshGeometry m = gridMesh(3, 1, 1.0, Split::Quads);
    m.cells.push_back({0, 0, 0, 0});    // named by no element line
    m.cells.push_back({1, 2, 99, 0});   // a corner beyond the nodes
    m.cells.push_back({1, 2, 3, 0});    // corners on one line
    m.cells.push_back({2, 3, 7, 0});    // a third triangle on side 2-3 (the cell 2-3-7-6 has it)
    const MeshTopology topology(m);
    EXPECT_EQ(topology.cellsLeftOut(), 1);
    EXPECT_EQ(topology.trianglesWithoutArea(), 1);
    const std::vector<float> v(m.x.size(), 1.0f);
    const auto polygons = traceExtent(topology, v.data(), nullptr, 0.5);
    EXPECT_NEAR(totalArea(polygons), 3.5, 1e-12);  // the third triangle overlaps its cell
}

// ---------------------------------------------------------------------------------------------
// Class regions

// Node classes on a grid of nx by ny cells, row after row from the bottom.
std::vector<float> classes(const std::vector<std::string>& rows) {
    std::vector<float> v;
    for (auto r = rows.rbegin(); r != rows.rend(); ++r) {
        for (char c : *r) v.push_back(c == '.' ? kNaN : static_cast<float>(c - '0'));
    }
    return v;
}

struct ClassCase {
    const char* what;
    int nx, ny;
    std::vector<std::string> nodes;   // nx + 1 by ny + 1 node classes, top row first
    std::vector<std::int8_t> active;  // empty: all
    // Per class present: value, area, polygons, holes.
    struct Expected {
        float value;
        double area;
        std::size_t polygons, holes;
    };
    std::vector<Expected> expected;
};

std::vector<ClassCase> classCases() {
    return {
        {"one node of a higher class colours its four cells", 3, 3,
         {"1111", "1311", "1111", "1111"}, {}, {{1, 5, 1, 0}, {3, 4, 1, 0}}},
        {"a border of class 2 around an island of class 1", 5, 5,
         {"222222", "211112", "211112", "211112", "211112", "222222"}, {},
         {{1, 9, 1, 0}, {2, 16, 1, 1}}},
        {"two nodes whose cells meet at a corner", 4, 4,
         {"00000", "00040", "00000", "04000", "00000"}, {},
         {{0, 8, 2, 0}, {4, 8, 2, 0}}},
        {"cells of a class meeting at a corner only", 2, 2,
         {"105", "000", "501"}, {},
         {{1, 2, 2, 0}, {5, 2, 2, 0}}},
        {"a node without a value leaves its cells out", 3, 3,
         {"1111", "1.11", "1111", "1111"}, {}, {{1, 5, 1, 0}}},
        {"inactive cells", 3, 1, {"2222", "2222"}, {1, 0, 1}, {{2, 2, 2, 0}}},
        {"a class around another around a third", 8, 8,
         {"111111111", "111111111", "112222211", "112333211", "112333211", "112333211",
          "112222211", "111111111", "111111111"},
         {},
         {{1, 28, 1, 1}, {2, 20, 1, 1}, {3, 16, 1, 0}}},
    };
}

TEST(ExtentClasses, HandMadeMeshes) {
    for (const ClassCase& c : classCases()) {
        SCOPED_TRACE(c.what);
        const MeshGeometry m = gridMesh(c.nx, c.ny, 1.0, Split::Quads);
        const auto regions = traceClasses(MeshTopology(m), classes(c.nodes).data(),
                                          c.active.empty() ? nullptr : c.active.data());
        ASSERT_EQ(regions.size(), c.expected.size());
        for (std::size_t i = 0; i < regions.size(); ++i) {
            SCOPED_TRACE(regions[i].value);
            EXPECT_EQ(regions[i].value, c.expected[i].value);
            EXPECT_NEAR(totalArea(regions[i].polygons), c.expected[i].area, 1e-12);
            EXPECT_EQ(regions[i].polygons.size(), c.expected[i].polygons);
            EXPECT_EQ(holeCount(regions[i].polygons), c.expected[i].holes);
            checkPolygons(regions[i].polygons);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Random meshes

// A jittered grid of nx by ny cells: each cell a quadrilateral or two triangles split either
// way, corners listed either way round, cells in shuffled order, some inactive and some nodes
// without a value.
struct RandomMesh {
    MeshGeometry mesh;
    std::vector<std::int8_t> active;
};

RandomMesh randomMesh(std::mt19937& random, int nx, int ny, double inactiveShare) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    RandomMesh r;
    MeshGeometry& m = r.mesh;
    const double x0 = 500000.0, y0 = 180000.0, h = 2.0;  // coordinates as large as a survey's
    for (int j = 0; j <= ny; ++j) {
        for (int i = 0; i <= nx; ++i) {
            const bool edgeX = i == 0 || i == nx, edgeY = j == 0 || j == ny;
            m.x.push_back(x0 + h * (i + (edgeX ? 0.0 : 0.4 * (unit(random) - 0.5))));
            m.y.push_back(y0 + h * (j + (edgeY ? 0.0 : 0.4 * (unit(random) - 0.5))));
            m.elevation.push_back(0.0f);
        }
    }
    const auto node = [nx](int i, int j) { return j * (nx + 1) + i + 1; };
    for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < nx; ++i) {
            int a = node(i, j), b = node(i + 1, j), c = node(i + 1, j + 1), d = node(i, j + 1);
            const double pick = unit(random);
            const bool reverse = unit(random) < 0.5;
            if (reverse) std::swap(b, d);
            if (pick < 0.4) {
                m.cells.push_back({a, b, c, d});
            } else if (pick < 0.7) {
                m.cells.push_back({a, b, c, 0});
                m.cells.push_back({a, c, d, 0});
            } else {
                m.cells.push_back({b, c, d, 0});
                m.cells.push_back({d, a, b, 0});
            }
        }
    }
    std::shuffle(m.cells.begin(), m.cells.end(), random);
    r.active.resize(m.cells.size());
    for (auto& a : r.active) a = unit(random) >= inactiveShare;
    return r;
}

// A wavy field with noise, on steps of 0.25 so that many nodes lie exactly on a threshold.
std::vector<float> randomField(std::mt19937& random, const MeshGeometry& m, double noDataShare) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double fx = 0.1 + 0.3 * unit(random), fy = 0.1 + 0.3 * unit(random);
    std::vector<float> v(m.x.size());
    for (std::size_t n = 0; n < v.size(); ++n) {
        const double x = m.x[n] - 500000.0, y = m.y[n] - 180000.0;
        const double f = std::sin(fx * x) + std::cos(fy * y) + 0.8 * (unit(random) - 0.5);
        v[n] = unit(random) < noDataShare ? kNaN : static_cast<float>(std::round(f * 4.0) / 4.0);
    }
    return v;
}

TEST(ExtentRandom, AreaAgainstTrianglesClippedOneByOne) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE(round);
        const bool small = round < 20;
        const RandomMesh r = randomMesh(random, small ? 7 + round % 5 : 40, small ? 6 + round % 4 : 35,
                                        round % 3 == 0 ? 0.0 : 0.05);
        const auto v = randomField(random, r.mesh, round % 2 == 0 ? 0.0 : 0.03);
        const MeshTopology topology(r.mesh);
        for (double threshold : {-0.75, 0.0, 0.25, 0.6, 1.0, 1.5}) {
            SCOPED_TRACE(threshold);
            const auto polygons = traceExtent(topology, v.data(), r.active.data(), threshold);
            const double expected = referenceArea(r.mesh, v, r.active, threshold);
            EXPECT_NEAR(totalArea(polygons), expected, 1e-9 * std::max(1.0, expected));
            checkPolygons(polygons, small);
        }
    }
}

// A plane interpolates exactly: the region at or above a threshold over a random mesh of a
// rectangle is the rectangle cut by a straight line, whose area is known in closed form.
TEST(ExtentRandom, PlaneOverRandomMeshes) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        const RandomMesh r = randomMesh(random, 30, 20, 0.0);
        const double angle = 2.0 * kPi * unit(random);
        const double gx = std::cos(angle), gy = std::sin(angle);
        std::vector<float> v(r.mesh.x.size());
        for (std::size_t n = 0; n < v.size(); ++n) {
            v[n] = static_cast<float>(gx * (r.mesh.x[n] - 500000.0) + gy * (r.mesh.y[n] - 180000.0));
        }
        const double threshold = std::round(gx * 30.0 * unit(random) + gy * 20.0 * unit(random));
        // The rectangle [0, 60] x [0, 40] clipped by gx x + gy y >= threshold.
        const std::vector<Point> box = {{0, 0}, {60, 0}, {60, 40}, {0, 40}};
        std::vector<Point> clipped;
        for (std::size_t i = 0; i < box.size(); ++i) {
            const Point& a = box[i];
            const Point& b = box[(i + 1) % box.size()];
            const double fa = gx * a.x + gy * a.y - threshold, fb = gx * b.x + gy * b.y - threshold;
            if (fa >= 0) clipped.push_back(a);
            if ((fa >= 0) != (fb >= 0)) {
                const double s = fa / (fa - fb);
                clipped.push_back({a.x + s * (b.x - a.x), a.y + s * (b.y - a.y)});
            }
        }
        const double expected = clipped.size() >= 3 ? polygonArea(clipped) : 0.0;
        const auto polygons = traceExtent(MeshTopology(r.mesh), v.data(), nullptr, threshold);
        EXPECT_NEAR(totalArea(polygons), expected, 1e-3);
        EXPECT_LE(polygons.size(), 1u);
        EXPECT_EQ(holeCount(polygons), 0u);
        checkPolygons(polygons, false);
    }
}

TEST(ExtentRandom, ClassAreasAgainstCellByCell) {
    std::mt19937 random(99);
    for (int round = 0; round < 15; ++round) {
        SCOPED_TRACE(round);
        const RandomMesh r = randomMesh(random, 9 + round % 4, 8, 0.05);
        std::vector<float> cls = randomField(random, r.mesh, 0.02);
        for (float& c : cls) {
            if (!std::isnan(c)) c = std::clamp(std::round(c + 2.0f), 0.0f, 6.0f);
        }
        const auto regions = traceClasses(MeshTopology(r.mesh), cls.data(), r.active.data());
        const auto expected = referenceClassAreas(r.mesh, cls, r.active);
        ASSERT_EQ(regions.size(), expected.size());
        for (std::size_t i = 0; i < regions.size(); ++i) {
            EXPECT_EQ(regions[i].value, expected[i].first);
            EXPECT_NEAR(totalArea(regions[i].polygons), expected[i].second, 1e-9 * expected[i].second);
            checkPolygons(regions[i].polygons);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// OGR's own validity test (GEOS), where GDAL is built with it

#ifdef KELVARA_WITH_GDAL
std::string wkt(const std::vector<Polygon>& polygons) {
    std::ostringstream out;
    out.precision(17);
    out << "MULTIPOLYGON (";
    for (std::size_t p = 0; p < polygons.size(); ++p) {
        out << (p ? "," : "") << "(";
        std::vector<const Ring*> rings = {&polygons[p].outer};
        for (const Ring& hole : polygons[p].holes) rings.push_back(&hole);
        for (std::size_t r = 0; r < rings.size(); ++r) {
            out << (r ? "," : "") << "(";
            for (std::size_t i = 0; i < rings[r]->size(); ++i) {
                out << (i ? "," : "") << (*rings[r])[i].x << " " << (*rings[r])[i].y;
            }
            out << ")";
        }
        out << ")";
    }
    out << ")";
    return out.str();
}

// Valid as OGR (GEOS) sees it, with the area OGR computes.
void expectValid(const std::vector<Polygon>& polygons) {
    if (polygons.empty()) return;
    std::string text = wkt(polygons);
    char* cursor = text.data();
    OGRGeometryH geometry = nullptr;
    ASSERT_EQ(OGR_G_CreateFromWkt(&cursor, nullptr, &geometry), OGRERR_NONE);
    EXPECT_TRUE(OGR_G_IsValid(geometry)) << text.substr(0, 2000);
    EXPECT_NEAR(OGR_G_Area(geometry), totalArea(polygons), 1e-6 * totalArea(polygons));
    OGR_G_DestroyGeometry(geometry);
}

TEST(ExtentRandom, ValidForOgr) {
    if (!OGRGeometryFactory::haveGEOS()) GTEST_SKIP() << "GDAL without GEOS";
    for (const Case& c : knownCases()) {
        SCOPED_TRACE(c.what);
        expectValid(traceExtent(MeshTopology(c.mesh), c.value.data(),
                                c.active.empty() ? nullptr : c.active.data(), c.threshold));
    }
    std::mt19937 random(5);
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        const RandomMesh r = randomMesh(random, 25, 20, 0.05);
        const auto v = randomField(random, r.mesh, 0.02);
        const MeshTopology topology(r.mesh);
        for (double threshold : {0.0, 0.25, 1.0}) expectValid(traceExtent(topology, v.data(), r.active.data(), threshold));
        std::vector<float> cls = v;
        for (float& c : cls) {
            if (!std::isnan(c)) c = std::round(c);
        }
        for (const ClassRegion& region : traceClasses(topology, cls.data(), r.active.data())) {
            expectValid(region.polygons);
        }
    }
}
#endif

}  // namespace
