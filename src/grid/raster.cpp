#include "grid/raster.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>

#include "grid/grid.h"

namespace kelvara::grid {
namespace {

// A real for a message, in the fewest digits that give it back.
std::string number(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

// Whether a node value can be interpolated: a finite number above -99998 (the values at and
// below it mark nodes that are not set).
bool usable(float value) { return value > -99998.0f && value <= FLT_MAX; }

}  // namespace

void checkCellSize(double cellSize) {
    if (!(std::isfinite(cellSize) && cellSize > 0.0)) {
        throw GridError("ERROR - The grid's cell size " + number(cellSize) +
                        " is not a positive number.");
    }
}

std::string describeTime(float time) {
    struct Summary {
        float time;
        const char* holds;
    };
    static const Summary kSummaries[] = {
        {99999.0f, "maximum of the run"},
        {111111.0f, "maximum"},
        {222222.0f, "number of the input holding the maximum"},
    };
    for (const Summary& s : kSummaries) {
        if (std::fabs(time - s.time) < 0.01f) {
            return "time " + number(s.time) + ": " + s.holds;
        }
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(time));
    std::string shown = text;
    if (shown.find('.') != std::string::npos) {
        shown.erase(shown.find_last_not_of('0') + 1);
        if (shown.back() == '.') shown.pop_back();
    }
    if (shown == "-0") shown = "0";
    if (std::fabs(time) >= 99998.0f) return "time " + shown + ": summary step";
    return "time " + shown + " h";
}

Rasteriser::Rasteriser(const MeshGeometry& mesh, double cellSize, int bandRows,
                       const std::string& meshName)
    : bandRows_(std::max(bandRows, 1)) {
    checkCellSize(cellSize);

    // The cells that can be drawn, and their extent.
    const std::size_t nodes = std::min(mesh.x.size(), mesh.y.size());
    auto located = [&](std::int32_t node) {
        return node >= 1 && static_cast<std::size_t>(node) <= nodes &&
               std::isfinite(mesh.x[node - 1]) && std::isfinite(mesh.y[node - 1]);
    };
    double xmin = INFINITY, xmax = -INFINITY, ymin = INFINITY, ymax = -INFINITY;
    std::vector<std::int32_t> drawn;
    for (std::size_t c = 0; c < mesh.cells.size(); ++c) {
        const auto& k = mesh.cells[c];
        if (k[0] == 0) continue;  // no element line names this cell
        const int corners = k[3] == 0 ? 3 : 4;
        bool ok = true;
        for (int i = 0; i < corners; ++i) ok = ok && located(k[i]);
        if (!ok) {
            ++cellsLeftOut_;
            continue;
        }
        for (int i = 0; i < corners; ++i) {
            const double x = mesh.x[k[i] - 1], y = mesh.y[k[i] - 1];
            xmin = std::min(xmin, x);
            xmax = std::max(xmax, x);
            ymin = std::min(ymin, y);
            ymax = std::max(ymax, y);
        }
        drawn.push_back(static_cast<std::int32_t>(c));
    }
    if (drawn.empty()) {
        throw GridError("ERROR - " + meshName +
                        " has no cell whose corners all have coordinates: there is no grid to "
                        "draw.");
    }

    // Corners on multiples of the cell size.
    const double left = std::floor(xmin / cellSize) * cellSize;
    const double right = std::ceil(xmax / cellSize) * cellSize;
    const double bottom = std::floor(ymin / cellSize) * cellSize;
    const double top = std::ceil(ymax / cellSize) * cellSize;
    const double columns = std::max(1.0, std::round((right - left) / cellSize));
    const double rows = std::max(1.0, std::round((top - bottom) / cellSize));
    const double cells = columns * rows;
    if (!(cells <= static_cast<double>(kMostCells)) || !(columns < 2147483648.0) ||
        !(rows < 2147483648.0)) {
        throw GridError("ERROR - A grid of cell size " + number(cellSize) + " over " + meshName +
                        " would have " + number(std::round(cells)) + " cells (" +
                        number(columns) + " by " + number(rows) +
                        "), more than 2147483648 (2^31): choose a larger cell size.");
    }
    layout_.originX = left;
    layout_.originY = top;
    layout_.cellSize = cellSize;
    layout_.columns = static_cast<std::int64_t>(columns);
    layout_.rows = static_cast<std::int64_t>(rows);

    // Node positions in cell units, cell centres at whole numbers.
    u_.assign(nodes, 0.0);
    v_.assign(nodes, 0.0);
    for (std::size_t n = 0; n < nodes; ++n) {
        u_[n] = (mesh.x[n] - left) / cellSize - 0.5;
        v_[n] = (top - mesh.y[n]) / cellSize - 0.5;
    }

    // Triangles (quadrilaterals split along A-C), and how many fall into each band of rows.
    const double eps = 4.0 * DBL_EPSILON * (columns + rows) + 1e-9;
    const std::int64_t bands = bandCount();
    bandStart_.assign(static_cast<std::size_t>(bands) + 1, 0);
    triangles_.reserve(drawn.size() + drawn.size() / 8);
    std::vector<std::int32_t> firstBand, lastBand;
    auto addTriangle = [&](std::int32_t cell, std::int32_t a, std::int32_t b, std::int32_t c) {
        const double va = v_[a - 1], vb = v_[b - 1], vc = v_[c - 1];
        const double lo = std::max(0.0, std::ceil(std::min({va, vb, vc}) - eps));
        const double hi = std::min(rows - 1.0, std::floor(std::max({va, vb, vc}) + eps));
        if (lo > hi) return;  // between two rows of centres
        const std::int64_t b0 = static_cast<std::int64_t>(lo) / bandRows_;
        const std::int64_t b1 = static_cast<std::int64_t>(hi) / bandRows_;
        for (std::int64_t b = b0; b <= b1; ++b) ++bandStart_[static_cast<std::size_t>(b) + 1];
        triangles_.push_back({{a - 1, b - 1, c - 1}, cell});
        firstBand.push_back(static_cast<std::int32_t>(b0));
        lastBand.push_back(static_cast<std::int32_t>(b1));
    };
    for (std::int32_t c : drawn) {
        const auto& k = mesh.cells[static_cast<std::size_t>(c)];
        addTriangle(c, k[0], k[1], k[2]);
        if (k[3] != 0) addTriangle(c, k[0], k[2], k[3]);
    }
    for (std::size_t b = 1; b < bandStart_.size(); ++b) bandStart_[b] += bandStart_[b - 1];
    bandTriangles_.resize(bandStart_.back());
    std::vector<std::size_t> next(bandStart_.begin(), bandStart_.end() - 1);
    for (std::size_t t = 0; t < triangles_.size(); ++t) {
        for (std::int32_t b = firstBand[t]; b <= lastBand[t]; ++b) {
            bandTriangles_[next[static_cast<std::size_t>(b)]++] = static_cast<std::uint32_t>(t);
        }
    }
}

std::int64_t Rasteriser::bandCount() const {
    return (layout_.rows + bandRows_ - 1) / bandRows_;
}

void Rasteriser::fill(std::int64_t band, std::int64_t column, std::int64_t width,
                      const float* nodeValue, const std::int8_t* active, float noData,
                      float* out) const {
    const std::int64_t rowStart = band * bandRows_;
    const std::int64_t rowEnd = std::min(layout_.rows, rowStart + bandRows_);
    std::fill(out, out + (rowEnd - rowStart) * width, noData);
    const double eps = 4.0 * DBL_EPSILON * static_cast<double>(layout_.columns + layout_.rows) + 1e-9;
    const double firstColumn = static_cast<double>(column);
    const double lastColumn = static_cast<double>(column + width - 1);

    const std::size_t b = static_cast<std::size_t>(band);
    for (std::size_t e = bandStart_[b]; e < bandStart_[b + 1]; ++e) {
        const Triangle& t = triangles_[bandTriangles_[e]];
        if (active != nullptr && active[t.cell] == 0) continue;
        const float f[3] = {nodeValue[t.node[0]], nodeValue[t.node[1]], nodeValue[t.node[2]]};
        if (!(usable(f[0]) && usable(f[1]) && usable(f[2]))) continue;
        const double u[3] = {u_[t.node[0]], u_[t.node[1]], u_[t.node[2]]};
        const double v[3] = {v_[t.node[0]], v_[t.node[1]], v_[t.node[2]]};

        // The plane through the three corners: value = f0 + a (u - u0) + b (v - v0).
        const double du1 = u[1] - u[0], dv1 = v[1] - v[0];
        const double du2 = u[2] - u[0], dv2 = v[2] - v[0];
        const double det = du1 * dv2 - du2 * dv1;
        if (!(std::fabs(det) > 0.0)) continue;  // no area
        const double df1 = static_cast<double>(f[1]) - f[0];
        const double df2 = static_cast<double>(f[2]) - f[0];
        const double a = (df1 * dv2 - df2 * dv1) / det;
        const double bv = (du1 * df2 - du2 * df1) / det;
        if (!(std::isfinite(a) && std::isfinite(bv))) continue;

        // Each edge ordered by v, so that two triangles sharing it compute the same crossings.
        double eu0[3], ev0[3], eu1[3], ev1[3];
        for (int i = 0; i < 3; ++i) {
            const int j = (i + 1) % 3;
            const bool up = v[i] <= v[j];
            eu0[i] = up ? u[i] : u[j];
            ev0[i] = up ? v[i] : v[j];
            eu1[i] = up ? u[j] : u[i];
            ev1[i] = up ? v[j] : v[i];
        }
        const double vmin = std::min({v[0], v[1], v[2]});
        const double vmax = std::max({v[0], v[1], v[2]});
        const std::int64_t r0 =
            std::max<std::int64_t>(rowStart, static_cast<std::int64_t>(std::ceil(vmin - eps)));
        const std::int64_t r1 =
            std::min<std::int64_t>(rowEnd - 1, static_cast<std::int64_t>(std::floor(vmax + eps)));
        for (std::int64_t r = r0; r <= r1; ++r) {
            const double rv = static_cast<double>(r);
            double ul = INFINITY, ur = -INFINITY;
            for (int i = 0; i < 3; ++i) {
                if (rv < ev0[i] - eps || rv > ev1[i] + eps) continue;
                const double span = ev1[i] - ev0[i];
                if (span <= eps) {
                    ul = std::min({ul, eu0[i], eu1[i]});
                    ur = std::max({ur, eu0[i], eu1[i]});
                } else {
                    const double s = std::clamp((rv - ev0[i]) / span, 0.0, 1.0);
                    const double cu = eu0[i] + s * (eu1[i] - eu0[i]);
                    ul = std::min(ul, cu);
                    ur = std::max(ur, cu);
                }
            }
            const double c0 = std::max(firstColumn, std::ceil(ul - eps));
            const double c1 = std::min(lastColumn, std::floor(ur + eps));
            if (c0 > c1) continue;
            const double base = f[0] - a * u[0] + bv * (rv - v[0]);
            float* line = out + (r - rowStart) * width;
            for (auto c = static_cast<std::int64_t>(c0), end = static_cast<std::int64_t>(c1);
                 c <= end; ++c) {
                line[c - column] = static_cast<float>(base + a * static_cast<double>(c));
            }
        }
    }
}

}  // namespace kelvara::grid
