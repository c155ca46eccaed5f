// The extent tracer on small meshes made from the input: up to 16 nodes on a 4 x 4 grid of
// points, either a grid of squares each drawn as a quadrilateral (either way round, split
// either way) or two triangles or left out, with nodes moved onto others now and then, or cells
// whose corners are any nodes, repeated or missing; so that sound meshes and degenerate,
// collinear, repeated and overlapping corners all occur. Some nodes have no coordinates. Node
// values come from a table holding the thresholds themselves, their neighbours in single
// precision, NaN and infinities; cells have flags. Each mesh is traced at two thresholds and
// as classes.
//
// For every input: no crash, no hang, and every ring closed, of at least three distinct
// points, without repeated consecutive points, outer rings counter-clockwise and holes
// clockwise. Where the mesh is sound (every triangle has area, no two overlap), no two rings of
// a result cross, and for classes each class's area is the area of its cells; where its values
// are finite too, the polygons' total area must match the area of each triangle clipped to the
// region, computed here on its own.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "extent/extent.h"
#include "harness.h"

namespace {

using kelvara::MeshGeometry;
using kelvara::extent::Point;
using kelvara::extent::Polygon;
using kelvara::extent::Ring;
using kelvara::fuzz::broken;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Area of a polygon given without its closing point (shoelace, about its first point).
double areaOf(const std::vector<Point>& p) {
    double twice = 0.0;
    for (std::size_t i = 1; i + 1 < p.size(); ++i)
        twice += (p[i].x - p[0].x) * (p[i + 1].y - p[0].y) -
                 (p[i + 1].x - p[0].x) * (p[i].y - p[0].y);
    return 0.5 * twice;
}

// The part of a convex polygon where the linear function f (one value per corner) is >= 0.
void clip(const std::vector<Point>& p, const std::vector<double>& f, std::vector<Point>& out) {
    out.clear();
    for (std::size_t i = 0; i < p.size(); ++i) {
        const std::size_t j = (i + 1) % p.size();
        if (f[i] >= 0.0) out.push_back(p[i]);
        if ((f[i] > 0.0 && f[j] < 0.0) || (f[i] < 0.0 && f[j] > 0.0)) {
            const double s = f[i] / (f[i] - f[j]);
            out.push_back({p[i].x + s * (p[j].x - p[i].x), p[i].y + s * (p[j].y - p[i].y)});
        }
    }
}

// A cell's triangles as node numbers (from 1): a quadrilateral split from its first corner to
// its third.
std::vector<std::array<std::int32_t, 3>> trianglesOf(const std::array<std::int32_t, 4>& k) {
    if (k[3] == 0) return {{k[0], k[1], k[2]}};
    return {{k[0], k[1], k[2]}, {k[0], k[2], k[3]}};
}

struct Case {
    MeshGeometry mesh;
    std::vector<float> value;
    std::vector<std::int8_t> active;  // empty: every cell counts
    double threshold[2] = {0.0, 0.0};
};

Case makeCase(FuzzedDataProvider& in) {
    static const double kThresholds[] = {0.0, 0.5, 1.0, 0.1, -1.0, 2.5, 1e-30, 3.0e38};
    Case c;
    c.threshold[0] = kThresholds[in.ConsumeIntegralInRange<int>(0, 7)];
    c.threshold[1] = kThresholds[in.ConsumeIntegralInRange<int>(0, 7)];
    const auto at = [&c](int i) { return static_cast<float>(c.threshold[i]); };
    const float values[] = {at(0),
                            at(1),
                            std::nextafter(at(0), kInf),
                            std::nextafter(at(0), -kInf),
                            0.0f,
                            1.0f,
                            2.0f,
                            3.0f,
                            0.25f,
                            -2.0f,
                            kNaN,
                            kInf,
                            -kInf,
                            -99999.0f,
                            1e30f,
                            std::numeric_limits<float>::denorm_min()};
    constexpr int kValues = sizeof values / sizeof values[0];

    const std::uint8_t shape = in.ConsumeIntegral<std::uint8_t>();
    const double scale = (shape & 1) ? 1000.0 : 1.0;
    const double offset = (shape & 2) ? 512345.0 : 0.0;
    const bool flagged = (shape & 4) != 0;
    // A grid of squares (each left out, a quadrilateral either way round and from either
    // corner, or two triangles either way) with a few free cells added, or free cells alone.
    const bool grid = (shape & 8) != 0;
    const int nx = grid ? in.ConsumeIntegralInRange<int>(1, 3) : 0;
    const int ny = grid ? in.ConsumeIntegralInRange<int>(1, 3) : 0;
    const int nodes = grid ? (nx + 1) * (ny + 1) : in.ConsumeIntegralInRange<int>(3, 16);
    for (int n = 0; n < nodes; ++n) {
        // A node byte from 0xE0 moves a grid node onto another point; from 0xF8 it has no
        // coordinates.
        const std::uint8_t b = in.ConsumeIntegral<std::uint8_t>();
        const bool free = !grid || (b >= 0xE0 && b < 0xF8);
        const double gx = free ? (b & 3) : n % (nx + 1), gy = free ? ((b >> 2) & 3) : n / (nx + 1);
        const bool located = b < 0xF8;
        c.mesh.x.push_back(located ? offset + scale * gx : std::nan(""));
        c.mesh.y.push_back(located ? offset + scale * gy : std::nan(""));
        c.mesh.elevation.push_back(0.0f);
        const int v = in.ConsumeIntegralInRange<int>(0, kValues);
        c.value.push_back(v < kValues ? values[v] : in.ConsumeFloatingPoint<float>());
    }
    for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < nx; ++i) {
            const std::int32_t a = j * (nx + 1) + i + 1, b = a + 1, d = a + nx + 1, e = d + 1;
            switch (in.ConsumeIntegralInRange<int>(0, 5)) {
                case 0: break;
                case 1: c.mesh.cells.push_back({a, b, e, d}); break;
                case 2: c.mesh.cells.push_back({b, e, d, a}); break;
                case 3: c.mesh.cells.push_back({a, d, e, b}); break;
                case 4:
                    c.mesh.cells.push_back({a, b, e, 0});
                    c.mesh.cells.push_back({a, e, d, 0});
                    break;
                default:
                    c.mesh.cells.push_back({a, b, d, 0});
                    c.mesh.cells.push_back({e, d, b, 0});
                    break;
            }
        }
    }
    const int freeCells = in.ConsumeIntegralInRange<int>(grid ? 0 : 1, grid ? 2 : 16);
    for (int k = 0; k < freeCells; ++k) {
        std::array<std::int32_t, 4> corner{};
        const int corners = in.ConsumeBool() ? 4 : 3;
        for (int i = 0; i < corners; ++i) {
            const std::uint8_t r = in.ConsumeIntegral<std::uint8_t>();
            // Now and then a corner that is no node (0, or past the last one).
            corner[i] = r < 250 ? 1 + r % nodes : r == 250 ? 0 : nodes + (r - 250);
        }
        c.mesh.cells.push_back(corner);
    }
    for (std::size_t k = 0; flagged && k < c.mesh.cells.size(); ++k)
        c.active.push_back(static_cast<std::int8_t>(in.ConsumeIntegralInRange<int>(0, 3) != 0));
    c.mesh.meshNodeCount = nodes;
    c.mesh.meshCellCount = static_cast<std::int32_t>(c.mesh.cells.size());
    return c;
}

bool located(const MeshGeometry& m, std::int32_t n) {
    return n >= 1 && static_cast<std::size_t>(n) <= m.x.size() && std::isfinite(m.x[n - 1]) &&
           std::isfinite(m.y[n - 1]);
}

// Whether a cell is drawn: every corner a node with coordinates.
bool drawn(const MeshGeometry& m, const std::array<std::int32_t, 4>& k) {
    if (k[0] == 0) return false;
    for (int i = 0; i < (k[3] == 0 ? 3 : 4); ++i)
        if (!located(m, k[i])) return false;
    return true;
}

std::vector<Point> cornersOf(const MeshGeometry& m, const std::array<std::int32_t, 3>& t) {
    return {{m.x[t[0] - 1], m.y[t[0] - 1]}, {m.x[t[1] - 1], m.y[t[1] - 1]},
            {m.x[t[2] - 1], m.y[t[2] - 1]}};
}

// Whether the mesh is sound: every drawn triangle has area and no two overlap.
bool soundMesh(const Case& c) {
    std::vector<std::vector<Point>> tris;
    for (const auto& k : c.mesh.cells) {
        if (!drawn(c.mesh, k)) continue;
        for (const auto& t : trianglesOf(k)) {
            std::vector<Point> p = cornersOf(c.mesh, t);
            const double a = areaOf(p);
            if (a == 0.0) return false;
            if (a < 0.0) std::swap(p[1], p[2]);
            tris.push_back(p);
        }
    }
    std::vector<Point> piece, next;
    std::vector<double> f;
    for (std::size_t i = 0; i < tris.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            piece = tris[j];
            const double size = std::fabs(areaOf(tris[i]));
            for (int s = 0; s < 3 && piece.size() >= 3; ++s) {
                // Clipped to the left of side s of triangle i.
                const Point& a = tris[i][s];
                const Point& b = tris[i][(s + 1) % 3];
                f.clear();
                for (const Point& p : piece)
                    f.push_back((b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x));
                clip(piece, f, next);
                piece.swap(next);
            }
            if (piece.size() >= 3 && areaOf(piece) > 1e-9 * size) return false;
        }
    }
    return true;
}

// The area where the values interpolated over each triangle are at or above the level.
double clippedArea(const Case& c, float level) {
    double area = 0.0;
    std::vector<Point> out;
    for (std::size_t k = 0; k < c.mesh.cells.size(); ++k) {
        if (!drawn(c.mesh, c.mesh.cells[k]) || (!c.active.empty() && c.active[k] == 0)) continue;
        for (const auto& t : trianglesOf(c.mesh.cells[k])) {
            const std::vector<double> f = {static_cast<double>(c.value[t[0] - 1]) - level,
                                           static_cast<double>(c.value[t[1] - 1]) - level,
                                           static_cast<double>(c.value[t[2] - 1]) - level};
            clip(cornersOf(c.mesh, t), f, out);
            if (out.size() >= 3) area += std::fabs(areaOf(out));
        }
    }
    return area;
}

double meshArea(const Case& c) {
    double area = 0.0;
    for (const auto& k : c.mesh.cells)
        if (drawn(c.mesh, k))
            for (const auto& t : trianglesOf(k)) area += std::fabs(areaOf(cornersOf(c.mesh, t)));
    return area;
}

bool allFinite(const Case& c) {
    for (float v : c.value)
        if (!std::isfinite(v)) return false;
    return true;
}

void checkRing(const Ring& ring, bool outer, const char* what) {
    if (ring.size() < 4) broken(std::string(what) + ": a ring of fewer than 3 points");
    if (ring.front().x != ring.back().x || ring.front().y != ring.back().y)
        broken(std::string(what) + ": a ring that is not closed");
    std::vector<std::pair<double, double>> distinct;
    for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
        if (!std::isfinite(ring[i].x) || !std::isfinite(ring[i].y))
            broken(std::string(what) + ": a ring point that is not finite");
        if (ring[i].x == ring[i + 1].x && ring[i].y == ring[i + 1].y)
            broken(std::string(what) + ": a ring with a repeated point");
        distinct.emplace_back(ring[i].x, ring[i].y);
    }
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    if (distinct.size() < 3) broken(std::string(what) + ": a ring of fewer than 3 distinct points");
    const double area = kelvara::extent::signedArea(ring);
    if (outer ? !(area > 0.0) : !(area < 0.0))
        broken(std::string(what) + (outer ? ": an outer ring not counter-clockwise"
                                          : ": a hole not clockwise"));
}

void checkPolygons(const std::vector<Polygon>& polygons, const char* what) {
    for (const Polygon& p : polygons) {
        checkRing(p.outer, true, what);
        for (const Ring& hole : p.holes) checkRing(hole, false, what);
        if (!std::isfinite(p.area)) broken(std::string(what) + ": a polygon area not finite");
    }
}

// Whether segments ab and cd cross at a point inside both, each end farther than tolerance
// from the other's line (touching at an end, running along a line, or crossing by less than
// the rounding of points placed a tiny fraction along a side, is not crossing).
bool crossing(const Point& a, const Point& b, const Point& c, const Point& d, double tolerance) {
    const auto side = [tolerance](const Point& p, const Point& q, const Point& r) {
        const double length = std::hypot(q.x - p.x, q.y - p.y);
        const double t = ((q.x - p.x) * (r.y - p.y) - (q.y - p.y) * (r.x - p.x)) / length;
        return t > tolerance ? 1 : t < -tolerance ? -1 : 0;
    };
    const int s1 = side(a, b, c), s2 = side(a, b, d), s3 = side(c, d, a), s4 = side(c, d, b);
    return s1 * s2 < 0 && s3 * s4 < 0;
}

// On a sound mesh no ring of a result crosses itself or another (they may touch at points).
void checkNoCrossings(const std::vector<Polygon>& polygons, double tolerance, const char* what) {
    std::vector<std::pair<Point, Point>> segments;
    const auto add = [&segments](const Ring& ring) {
        for (std::size_t i = 0; i + 1 < ring.size(); ++i)
            segments.emplace_back(ring[i], ring[i + 1]);
    };
    for (const Polygon& p : polygons) {
        add(p.outer);
        for (const Ring& hole : p.holes) add(hole);
    }
    for (std::size_t i = 0; i < segments.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (crossing(segments[i].first, segments[i].second, segments[j].first,
                         segments[j].second, tolerance))
                broken(std::string(what) + ": rings that cross");
}

void checkArea(double traced, double expected, double scale, const std::string& what) {
    if (!(std::fabs(traced - expected) <= 1e-6 * scale))
        broken(what + ": traced area " + std::to_string(traced) + ", clipped area " +
               std::to_string(expected));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const Case c = makeCase(in);
    const std::int8_t* active = c.active.empty() ? nullptr : c.active.data();
    const bool sound = soundMesh(c);
    const bool exact = sound && allFinite(c);
    const double scale = std::max(meshArea(c), 1.0);
    // A length far below the mesh's sizes and far above the rounding of its coordinates.
    double reach = 1.0;
    for (std::size_t n = 0; n < c.mesh.x.size(); ++n)
        if (std::isfinite(c.mesh.x[n]))
            reach = std::max({reach, std::fabs(c.mesh.x[n]), std::fabs(c.mesh.y[n])});
    const double tolerance = 1e-9 * reach;

    kelvara::ErrorScope scope;
    const kelvara::extent::MeshTopology topology(c.mesh);
    if (topology.triangles().size() > 2 * c.mesh.cells.size())
        broken("more triangles than cells allow");
    for (const auto& tri : topology.triangles()) {
        for (int j = 0; j < 3; ++j) {
            const std::uint32_t across = tri.neighbour[j];
            if (across == kelvara::extent::MeshTopology::kNone) continue;
            const auto& other = topology.triangles()[across];
            bool back = false;
            for (int i = 0; i < 3; ++i) {
                back = back || (other.corner[i] == tri.corner[(j + 1) % 3] &&
                                other.corner[(i + 1) % 3] == tri.corner[j]);
            }
            if (!back) broken("a neighbour that does not share the side the other way");
        }
    }

    const std::vector<double> thresholds = {c.threshold[0], c.threshold[1]};
    const auto layers = kelvara::extent::traceExtents(topology, c.value.data(), active, thresholds);
    if (layers.size() != 2) broken("not one layer per threshold");
    for (int i = 0; i < 2; ++i) {
        checkPolygons(layers[i], "extent");
        if (sound) checkNoCrossings(layers[i], tolerance, "extent");
        if (exact) {
            checkArea(kelvara::extent::totalArea(layers[i]),
                      clippedArea(c, static_cast<float>(c.threshold[i])), scale,
                      "extent at " + std::to_string(c.threshold[i]));
        }
    }

    const auto regions = kelvara::extent::traceClasses(topology, c.value.data(), active);
    for (std::size_t r = 0; r < regions.size(); ++r) {
        checkPolygons(regions[r].polygons, "classes");
        if (sound) checkNoCrossings(regions[r].polygons, tolerance, "classes");
        if (!std::isfinite(regions[r].value)) broken("a class that is not a finite number");
        if (r > 0 && !(regions[r - 1].value < regions[r].value)) broken("classes out of order");
    }
    if (sound) {
        // Each class's cells (highest corner value, every corner finite), by area.
        std::vector<std::pair<float, double>> expected;
        for (std::size_t k = 0; k < c.mesh.cells.size(); ++k) {
            const auto& cell = c.mesh.cells[k];
            if (!drawn(c.mesh, cell) || (!c.active.empty() && c.active[k] == 0)) continue;
            float highest = -kInf;
            bool usable = true;
            for (int i = 0; i < (cell[3] == 0 ? 3 : 4); ++i) {
                usable = usable && std::isfinite(c.value[cell[i] - 1]);
                highest = std::max(highest, c.value[cell[i] - 1]);
            }
            if (!usable) continue;
            double area = 0.0;
            for (const auto& t : trianglesOf(cell)) area += std::fabs(areaOf(cornersOf(c.mesh, t)));
            auto place = std::find_if(expected.begin(), expected.end(),
                                      [highest](const auto& e) { return e.first == highest; });
            if (place == expected.end()) expected.emplace_back(highest, area);
            else place->second += area;
        }
        for (const auto& region : regions) {
            auto place = std::find_if(expected.begin(), expected.end(),
                                      [&region](const auto& e) { return e.first == region.value; });
            const double want = place == expected.end() ? 0.0 : place->second;
            checkArea(kelvara::extent::totalArea(region.polygons), want, scale,
                      "class " + std::to_string(region.value));
            if (place != expected.end()) place->second = -1.0;  // matched
        }
        for (const auto& e : expected)
            if (e.second > 0.0)
                broken("class " + std::to_string(e.first) + " has cells but no region");
    }
    return 0;
}
