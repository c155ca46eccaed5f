#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "extent/extent.h"
#include "fileio/error.h"

namespace kelvara::extent {
namespace {

// Twice the signed area of a triangle, about its first corner.
double doubledArea(const MeshGeometry& m, std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    const double ux = m.x[b] - m.x[a], uy = m.y[b] - m.y[a];
    const double vx = m.x[c] - m.x[a], vy = m.y[c] - m.y[a];
    return ux * vy - uy * vx;
}

}  // namespace

MeshTopology::MeshTopology(const MeshGeometry& mesh)
    : mesh_(mesh), nodeCount_(std::min(mesh.x.size(), mesh.y.size())) {
    // Nodes and triangle sides are numbered in 32 bits.
    if (nodeCount_ >= kNone || mesh.cells.size() >= kNone / 6) {
        throw errorLine("ERROR - The mesh is too large to trace polygons on: " +
                        std::to_string(nodeCount_) + " nodes and " +
                        std::to_string(mesh.cells.size()) + " cells.");
    }
    // The triangles, each turned counter-clockwise.
    triangles_.reserve(mesh.cells.size() + mesh.cells.size() / 2);
    for (std::size_t c = 0; c < mesh.cells.size(); ++c) {
        const auto& k = mesh.cells[c];
        if (k[0] == 0) continue;  // no element line names this cell
        const int corners = k[3] == 0 ? 3 : 4;
        bool drawable = true;
        for (int i = 0; i < corners && drawable; ++i) {
            drawable = k[i] >= 1 && static_cast<std::size_t>(k[i]) <= nodeCount_ &&
                       std::isfinite(mesh.x[k[i] - 1]) && std::isfinite(mesh.y[k[i] - 1]);
        }
        if (!drawable) {
            ++cellsLeftOut_;
            continue;
        }
        for (int half = 0; half < corners - 2; ++half) {
            auto a = static_cast<std::uint32_t>(k[0] - 1);
            auto b = static_cast<std::uint32_t>(k[half == 0 ? 1 : 2] - 1);
            auto d = static_cast<std::uint32_t>(k[half == 0 ? 2 : 3] - 1);
            const double area = doubledArea(mesh, a, b, d);
            if (!(area != 0.0)) {
                ++trianglesWithoutArea_;
                continue;
            }
            if (area < 0.0) std::swap(b, d);
            triangles_.push_back({{a, b, d}, static_cast<std::uint32_t>(c), {kNone, kNone, kNone}});
        }
    }

    // Each side, filed under its lower node: (higher node, triangle * 3 + side).
    std::vector<std::size_t> start(nodeCount_ + 1, 0);
    for (const Triangle& t : triangles_) {
        for (int j = 0; j < 3; ++j) ++start[std::min(t.corner[j], t.corner[(j + 1) % 3]) + 1];
    }
    for (std::size_t n = 1; n < start.size(); ++n) start[n] += start[n - 1];
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sides(start.back());
    {
        std::vector<std::size_t> next(start.begin(), start.end() - 1);
        for (std::size_t t = 0; t < triangles_.size(); ++t) {
            for (std::uint32_t j = 0; j < 3; ++j) {
                const std::uint32_t a = triangles_[t].corner[j];
                const std::uint32_t b = triangles_[t].corner[(j + 1) % 3];
                sides[next[std::min(a, b)]++] = {std::max(a, b),
                                                 static_cast<std::uint32_t>(t * 3 + j)};
            }
        }
    }

    // Two triangles are neighbours across a side that exactly they share and run along in
    // opposite directions.
    for (std::size_t n = 0; n < nodeCount_; ++n) {
        auto first = sides.begin() + static_cast<std::ptrdiff_t>(start[n]);
        auto last = sides.begin() + static_cast<std::ptrdiff_t>(start[n + 1]);
        std::sort(first, last);
        for (auto i = first; i != last;) {
            auto j = i;
            while (j != last && j->first == i->first) ++j;
            if (j - i == 2) {
                const std::uint32_t t1 = i->second / 3, s1 = i->second % 3;
                const std::uint32_t t2 = (i + 1)->second / 3, s2 = (i + 1)->second % 3;
                if (triangles_[t1].corner[s1] == triangles_[t2].corner[(s2 + 1) % 3]) {
                    triangles_[t1].neighbour[s1] = t2;
                    triangles_[t2].neighbour[s2] = t1;
                }
            }
            i = j;
        }
    }
}

}  // namespace kelvara::extent
