#include "extent/rings.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <unordered_map>

namespace kelvara::extent {
namespace {

constexpr std::uint32_t kNoEdge = 0xFFFFFFFFu;

// Whether p lies inside the closed ring (crossings of a ray towards +x; a point on the ring
// may count either way).
bool inside(const Ring& ring, const Point& p) {
    bool in = false;
    for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
        const Point& a = ring[i];
        const Point& b = ring[j];
        if ((a.y > p.y) != (b.y > p.y) &&
            p.x < a.x + (p.y - a.y) * (b.x - a.x) / (b.y - a.y)) {
            in = !in;
        }
    }
    return in;
}

// The rings' points of one loop of edges: each edge's start, without repeated consecutive
// points, closed.
Ring ringOf(const std::vector<BoundaryEdge>& edges, const std::vector<std::uint32_t>& loop,
            const std::function<Point(std::uint64_t)>& pointOf) {
    Ring ring;
    ring.reserve(loop.size() + 1);
    for (std::uint32_t e : loop) {
        const Point p = pointOf(edges[e].from);
        if (ring.empty() || p.x != ring.back().x || p.y != ring.back().y) ring.push_back(p);
    }
    while (ring.size() > 1 && ring.back().x == ring.front().x && ring.back().y == ring.front().y) {
        ring.pop_back();
    }
    if (ring.size() < 3) return {};
    ring.push_back(ring.front());
    return ring;
}

// Angle of the direction from a to b.
double angle(const Point& a, const Point& b) { return std::atan2(b.y - a.y, b.x - a.x); }

}  // namespace

Components::Components(std::size_t count) : parent_(count) {
    std::iota(parent_.begin(), parent_.end(), 0u);
}

std::uint32_t Components::find(std::uint32_t t) {
    while (parent_[t] != t) {
        parent_[t] = parent_[parent_[t]];
        t = parent_[t];
    }
    return t;
}

void Components::join(std::uint32_t a, std::uint32_t b) {
    a = find(a);
    b = find(b);
    if (a == b) return;
    if (a < b) std::swap(a, b);
    parent_[a] = b;
}

double signedArea(const Ring& ring) {
    if (ring.size() < 3) return 0.0;
    const double x0 = ring[0].x, y0 = ring[0].y;
    double twice = 0.0;
    for (std::size_t i = 1; i + 1 < ring.size(); ++i) {
        twice += (ring[i].x - x0) * (ring[i + 1].y - y0) - (ring[i + 1].x - x0) * (ring[i].y - y0);
    }
    return 0.5 * twice;
}

double totalArea(const std::vector<Polygon>& polygons) {
    double sum = 0.0;
    for (const Polygon& p : polygons) sum += p.area;
    return sum;
}

std::vector<Polygon> assemblePolygons(std::vector<BoundaryEdge>& edges,
                                      const std::function<Point(std::uint64_t)>& pointOf,
                                      Components& components) {
    std::sort(edges.begin(), edges.end(), [](const BoundaryEdge& a, const BoundaryEdge& b) {
        return a.from != b.from ? a.from < b.from : a.to < b.to;
    });
    const auto outgoing = [&](std::uint64_t key) {
        const auto first = std::lower_bound(
            edges.begin(), edges.end(), key,
            [](const BoundaryEdge& e, std::uint64_t k) { return e.from < k; });
        auto last = first;
        while (last != edges.end() && last->from == key) ++last;
        return std::make_pair(static_cast<std::size_t>(first - edges.begin()),
                              static_cast<std::size_t>(last - edges.begin()));
    };

    // Which edge follows each: the only one leaving its end, or at a point where several
    // leave, the first clockwise from the edge's way in.
    std::vector<std::uint32_t> next(edges.size(), kNoEdge);
    std::vector<std::pair<std::uint64_t, std::uint32_t>> meeting;  // (point, incoming edge)
    for (std::size_t e = 0; e < edges.size(); ++e) {
        const auto [first, last] = outgoing(edges[e].to);
        if (last - first == 1) {
            next[e] = static_cast<std::uint32_t>(first);
        } else if (last - first > 1) {
            meeting.emplace_back(edges[e].to, static_cast<std::uint32_t>(e));
        }
    }
    std::sort(meeting.begin(), meeting.end());
    struct Spoke {
        double angle;
        bool out;
        std::uint32_t edge;
    };
    std::vector<Spoke> spokes;
    std::vector<std::uint32_t> waiting;
    for (std::size_t i = 0; i < meeting.size();) {
        const std::uint64_t key = meeting[i].first;
        const Point at = pointOf(key);
        spokes.clear();
        for (; i < meeting.size() && meeting[i].first == key; ++i) {
            spokes.push_back({angle(at, pointOf(edges[meeting[i].second].from)), false,
                              meeting[i].second});
        }
        const auto [first, last] = outgoing(key);
        for (std::size_t o = first; o < last; ++o) {
            spokes.push_back({angle(at, pointOf(edges[o].to)), true, static_cast<std::uint32_t>(o)});
        }
        // Clockwise order; each incoming edge is matched with the next outgoing one, around the
        // point twice so that those after the last outgoing edge find theirs.
        std::sort(spokes.begin(), spokes.end(), [](const Spoke& a, const Spoke& b) {
            return a.angle != b.angle ? a.angle > b.angle : a.out < b.out;
        });
        waiting.clear();
        std::vector<bool> taken(spokes.size(), false);
        for (int round = 0; round < 2; ++round) {
            for (std::size_t s = 0; s < spokes.size(); ++s) {
                if (!spokes[s].out) {
                    if (round == 0) waiting.push_back(spokes[s].edge);
                } else if (!taken[s] && !waiting.empty()) {
                    next[waiting.back()] = spokes[s].edge;
                    waiting.pop_back();
                    taken[s] = true;
                }
            }
        }
    }

    // The walks: each follows next until it is back at its first edge; a walk that reaches a
    // meeting point it has already left from is cut there into a ring of its own.
    std::vector<bool> used(edges.size(), false);
    std::vector<std::uint32_t> path;
    std::unordered_map<std::uint64_t, std::size_t> leftAt;  // meeting point -> place in path
    std::vector<std::vector<std::uint32_t>> loops;
    const auto isMeeting = [&](std::uint64_t key) {
        const auto [first, last] = outgoing(key);
        return last - first > 1;
    };
    const auto cut = [&](std::size_t from) {
        loops.emplace_back(path.begin() + static_cast<std::ptrdiff_t>(from), path.end());
        for (std::size_t p = from; p < path.size(); ++p) leftAt.erase(edges[path[p]].from);
        path.resize(from);
    };
    for (std::size_t start = 0; start < edges.size(); ++start) {
        if (used[start]) continue;
        path.clear();
        leftAt.clear();
        auto e = static_cast<std::uint32_t>(start);
        for (;;) {
            used[e] = true;
            const std::uint64_t key = edges[e].from;
            if (isMeeting(key)) {
                const auto seen = leftAt.find(key);
                if (seen != leftAt.end()) cut(seen->second);
                leftAt[key] = path.size();
            }
            path.push_back(e);
            const std::uint32_t n = next[e];
            if (n == start) {
                cut(0);
                break;
            }
            if (n == kNoEdge || used[n]) break;  // an open chain: not a boundary, dropped
            e = n;
        }
    }

    // Rings, grouped by the component of their triangles: one outer ring each, the rest holes.
    struct Loop {
        std::uint32_t component;
        Ring ring;
        double area;
    };
    std::vector<Loop> rings;
    rings.reserve(loops.size());
    for (const auto& loop : loops) {
        Ring ring = ringOf(edges, loop, pointOf);
        if (ring.empty()) continue;
        const double area = signedArea(ring);
        if (!(area != 0.0)) continue;
        rings.push_back({components.find(edges[loop.front()].triangle), std::move(ring), area});
    }
    std::vector<std::size_t> order(rings.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return rings[a].component < rings[b].component;
    });

    std::vector<Polygon> polygons;
    // The smallest of polygons [first, last) whose outer ring holds the middle of a hole's first
    // side; last when none does.
    const auto ownerOf = [&polygons](std::size_t first, std::size_t last, const Ring& hole) {
        const Point middle{0.5 * (hole[0].x + hole[1].x), 0.5 * (hole[0].y + hole[1].y)};
        std::size_t owner = last;
        for (std::size_t p = first; p < last; ++p) {
            if (inside(polygons[p].outer, middle) &&
                (owner == last ||
                 signedArea(polygons[p].outer) < signedArea(polygons[owner].outer))) {
                owner = p;
            }
        }
        return owner;
    };
    std::vector<std::size_t> unowned;  // holes of components without an outer ring around them
    for (std::size_t i = 0; i < order.size();) {
        std::size_t j = i;
        while (j < order.size() && rings[order[j]].component == rings[order[i]].component) ++j;
        const std::size_t firstPolygon = polygons.size();
        for (std::size_t k = i; k < j; ++k) {
            Loop& r = rings[order[k]];
            if (r.area > 0.0) polygons.push_back({std::move(r.ring), {}, r.area});
        }
        const std::size_t outers = polygons.size() - firstPolygon;
        for (std::size_t k = i; k < j; ++k) {
            Loop& r = rings[order[k]];
            if (r.area > 0.0) continue;
            // One outer ring in a component is the rule; with more (a mesh that overlaps
            // itself), a hole goes to the smallest outer ring around its first side's middle.
            const std::size_t owner =
                outers == 1 ? firstPolygon : ownerOf(firstPolygon, polygons.size(), r.ring);
            if (owner == polygons.size()) {
                unowned.push_back(order[k]);
                continue;
            }
            polygons[owner].holes.push_back(std::move(r.ring));
            polygons[owner].area += r.area;
        }
        i = j;
    }
    // Two regions that touch at a point can be walked as one outer ring when boundary points a
    // tiny fraction along their sides round onto that point; the hole between them then has its
    // outer ring in another component. It goes to the smallest outer ring around it.
    for (std::size_t h : unowned) {
        const std::size_t owner = ownerOf(0, polygons.size(), rings[h].ring);
        if (owner == polygons.size()) continue;
        polygons[owner].holes.push_back(std::move(rings[h].ring));
        polygons[owner].area += rings[h].area;
    }
    return polygons;
}

}  // namespace kelvara::extent
