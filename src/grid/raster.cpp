#include "grid/raster.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>

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

// A triangle's barycentric weights: how much of each corner's value a point takes. Each weight
// is measured from the side facing its corner, relative to the point's own corners, so that a
// point near a corner or a side has weights as exact as its position; the weights of a point a
// rounding outside the triangle are clamped to zero and the rest scaled to add up to one, so
// that every value lies within the corners' values.
class Corners {
public:
    // u, v: the corners' positions; thinness: the height, as a share of the longest side, and
    // the rounding of positions, at or below which a triangle is not trusted.
    Corners(const double u[3], const double v[3], const Thinness& thinness) {
        for (int i = 0; i < 3; ++i) {
            u_[i] = u[i];
            v_[i] = v[i];
        }
        const double du1 = u[1] - u[0], dv1 = v[1] - v[0];
        const double du2 = u[2] - u[0], dv2 = v[2] - v[0];
        const double du3 = u[2] - u[1], dv3 = v[2] - v[1];
        const double twiceArea = du1 * dv2 - du2 * dv1;
        const double longest = std::sqrt(std::max({du1 * du1 + dv1 * dv1, du2 * du2 + dv2 * dv2,
                                                   du3 * du3 + dv3 * dv3}));
        // Twice the area is the longest side times the height on it.
        trusted_ = std::isfinite(twiceArea) && std::isfinite(longest) &&
                   std::fabs(twiceArea) > longest * (thinness.share * longest + thinness.rounding);
        inverse_ = trusted_ ? 1.0 / twiceArea : 0.0;
    }

    bool trusted() const { return trusted_; }

    // The weights of point (pu, pv), each 0 to 1, adding up to 1.
    void at(double pu, double pv, double w[3]) const {
        double sum = 0.0;
        for (int i = 0; i < 3; ++i) {
            const int j = (i + 1) % 3, k = (i + 2) % 3;
            // Twice the area of the triangle the point makes with the side j-k.
            const double a = (u_[j] - pu) * (v_[k] - pv) - (u_[k] - pu) * (v_[j] - pv);
            w[i] = std::max(0.0, a * inverse_);
            sum += w[i];
        }
        if (!(sum > 0.0)) {  // unreachable for a trusted triangle; the first corner then
            w[0] = 1.0;
            w[1] = w[2] = 0.0;
            return;
        }
        for (int i = 0; i < 3; ++i) w[i] /= sum;
    }

private:
    double u_[3], v_[3];
    double inverse_ = 0.0;
    bool trusted_ = false;
};

}  // namespace

void checkCellSize(double cellSize) {
    if (!(std::isfinite(cellSize) && cellSize > 0.0)) {
        throw GridError("ERROR - The grid's cell size " + number(cellSize) +
                        " is not a positive number.");
    }
}

bool Rasteriser::drawable(const std::array<std::int32_t, 4>& k) const {
    const std::size_t nodes = std::min(mesh_.x.size(), mesh_.y.size());
    const int corners = k[3] == 0 ? 3 : 4;
    for (int i = 0; i < corners; ++i) {
        if (k[i] < 1 || static_cast<std::size_t>(k[i]) > nodes || !std::isfinite(mesh_.x[k[i] - 1]) ||
            !std::isfinite(mesh_.y[k[i] - 1])) {
            return false;
        }
    }
    return true;
}

template <class Add>
void Rasteriser::forEachTriangle(Add add) const {
    const double lastRow = static_cast<double>(layout_.rows - 1);
    for (std::size_t c = 0; c < mesh_.cells.size(); ++c) {
        const auto& k = mesh_.cells[c];
        if (k[0] == 0 || !drawable(k)) continue;
        for (int half = 0; half < (k[3] == 0 ? 1 : 2); ++half) {
            std::int32_t t[3];
            triangle(k, half, t);
            const double va = v(t[0]), vb = v(t[1]), vc = v(t[2]);
            const double lo = std::max(0.0, std::ceil(std::min(va, std::min(vb, vc)) - eps_));
            const double hi = std::min(lastRow, std::floor(std::max(va, std::max(vb, vc)) + eps_));
            if (lo > hi) continue;  // between two rows of centres
            add(static_cast<std::uint32_t>(2 * c + static_cast<std::size_t>(half)),
                static_cast<std::size_t>(lo) / static_cast<std::size_t>(bandRows_),
                static_cast<std::size_t>(hi) / static_cast<std::size_t>(bandRows_));
        }
    }
}

Rasteriser::Rasteriser(const MeshGeometry& mesh, double cellSize, int bandRows,
                       const std::string& meshName)
    : mesh_(mesh), bandRows_(std::max(bandRows, 1)) {
    checkCellSize(cellSize);

    // The extent of the cells that can be drawn.
    double xmin = INFINITY, xmax = -INFINITY, ymin = INFINITY, ymax = -INFINITY;
    for (const auto& k : mesh.cells) {
        if (k[0] == 0) continue;  // no element line names this cell
        if (!drawable(k)) {
            ++cellsLeftOut_;
            continue;
        }
        for (int i = 0; i < (k[3] == 0 ? 3 : 4); ++i) {
            const double x = mesh.x[k[i] - 1], y = mesh.y[k[i] - 1];
            xmin = std::min(xmin, x);
            xmax = std::max(xmax, x);
            ymin = std::min(ymin, y);
            ymax = std::max(ymax, y);
        }
    }
    if (!(xmin <= xmax)) {
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
    // Rounding of positions in cell units grows with their size.
    eps_ = 4.0 * DBL_EPSILON * (columns + rows) + 1e-9;
    thinness_.rounding = 16.0 * DBL_EPSILON * (columns + rows + 1.0);

    // Triangles sorted into bands of rows: counted, then placed.
    bandStart_.assign(static_cast<std::size_t>(bandCount()) + 1, 0);
    forEachTriangle([&](std::uint32_t, std::size_t first, std::size_t last) {
        for (std::size_t b = first; b <= last; ++b) ++bandStart_[b + 1];
    });
    for (std::size_t b = 1; b < bandStart_.size(); ++b) bandStart_[b] += bandStart_[b - 1];
    bandTriangles_.resize(bandStart_.back());
    std::vector<std::size_t> next(bandStart_.begin(), bandStart_.end() - 1);
    forEachTriangle([&](std::uint32_t entry, std::size_t first, std::size_t last) {
        for (std::size_t b = first; b <= last; ++b) bandTriangles_[next[b]++] = entry;
    });
}

std::int64_t Rasteriser::bandCount() const {
    return (layout_.rows + bandRows_ - 1) / bandRows_;
}

template <class Draw>
void Rasteriser::forEachBandTriangle(std::int64_t band, std::int64_t column, std::int64_t width,
                                     const std::int8_t* active, float noData, float* out,
                                     Draw draw) const {
    Window w;
    w.rowStart = band * bandRows_;
    w.rowEnd = std::min(layout_.rows, w.rowStart + bandRows_);
    std::fill(out, out + (w.rowEnd - w.rowStart) * width, noData);
    w.firstColumn = static_cast<double>(column);
    w.lastColumn = static_cast<double>(column + width - 1);

    const std::size_t b = static_cast<std::size_t>(band);
    for (std::size_t e = bandStart_[b]; e < bandStart_[b + 1]; ++e) {
        const std::uint32_t entry = bandTriangles_[e];
        const std::size_t cell = entry / 2;
        if (active != nullptr && active[cell] == 0) continue;
        draw(cell, static_cast<int>(entry % 2), w);
    }
}

void Rasteriser::fill(std::int64_t band, std::int64_t column, std::int64_t width,
                      const float* nodeValue, const std::int8_t* active, float noData,
                      float* out) const {
    forEachBandTriangle(band, column, width, active, noData, out,
                        [&](std::size_t cell, int half, const Window& w) {
        std::int32_t t[3];
        triangle(mesh_.cells[cell], half, t);
        const float f[3] = {nodeValue[t[0] - 1], nodeValue[t[1] - 1], nodeValue[t[2] - 1]};
        if (!(usable(f[0]) && usable(f[1]) && usable(f[2]))) return;
        const double u[3] = {this->u(t[0]), this->u(t[1]), this->u(t[2])};
        const double v[3] = {this->v(t[0]), this->v(t[1]), this->v(t[2])};
        const Corners weights(u, v, thinness_);
        if (!weights.trusted()) return;  // left to the triangles beside it
        const double low = std::min({f[0], f[1], f[2]});
        const double high = std::max({f[0], f[1], f[2]});

        forEachSpan(u, v, w.rowStart, w.rowEnd, w.firstColumn, w.lastColumn,
                    [&](std::int64_t r, std::int64_t c0, std::int64_t c1) {
                        float* line = out + (r - w.rowStart) * width;
                        const double rv = static_cast<double>(r);
                        for (std::int64_t c = c0; c <= c1; ++c) {
                            double weight[3];
                            weights.at(static_cast<double>(c), rv, weight);
                            const double value =
                                weight[0] * f[0] + weight[1] * f[1] + weight[2] * f[2];
                            line[c - column] = static_cast<float>(std::clamp(value, low, high));
                        }
                    });
    });
}

void Rasteriser::fillClasses(std::int64_t band, std::int64_t column, std::int64_t width,
                             const float* nodeClass, const std::int8_t* active, float noData,
                             float* out) const {
    forEachBandTriangle(band, column, width, active, noData, out,
                        [&](std::size_t cell, int half, const Window& w) {
        // The highest class of the mesh cell's corners (of those that have one).
        const auto& k = mesh_.cells[cell];
        float highest = -INFINITY;
        for (int i = 0; i < (k[3] == 0 ? 3 : 4); ++i) {
            const float f = nodeClass[k[i] - 1];
            if (usable(f)) highest = std::max(highest, f);
        }
        if (!(highest > noData)) return;
        std::int32_t t[3];
        triangle(k, half, t);
        const double u[3] = {this->u(t[0]), this->u(t[1]), this->u(t[2])};
        const double v[3] = {this->v(t[0]), this->v(t[1]), this->v(t[2])};
        if (!Corners(u, v, thinness_).trusted()) return;  // as fill() leaves it
        forEachSpan(u, v, w.rowStart, w.rowEnd, w.firstColumn, w.lastColumn,
                    [&](std::int64_t r, std::int64_t c0, std::int64_t c1) {
                        float* line = out + (r - w.rowStart) * width;
                        // A centre on a side shared by two mesh cells takes the higher class.
                        for (std::int64_t c = c0; c <= c1; ++c)
                            line[c - column] = std::max(line[c - column], highest);
                    });
    });
}

template <class Span>
void Rasteriser::forEachSpan(const double u[3], const double v[3], std::int64_t rowStart,
                             std::int64_t rowEnd, double firstColumn, double lastColumn,
                             Span span) const {
    const double eps = eps_;
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
            const double spanV = ev1[i] - ev0[i];
            if (spanV <= eps) {
                ul = std::min({ul, eu0[i], eu1[i]});
                ur = std::max({ur, eu0[i], eu1[i]});
            } else {
                const double s = std::clamp((rv - ev0[i]) / spanV, 0.0, 1.0);
                const double cu = eu0[i] + s * (eu1[i] - eu0[i]);
                ul = std::min(ul, cu);
                ur = std::max(ur, cu);
            }
        }
        const double c0 = std::max(firstColumn, std::ceil(ul - eps));
        const double c1 = std::min(lastColumn, std::floor(ur + eps));
        if (c0 > c1) continue;
        span(r, static_cast<std::int64_t>(c0), static_cast<std::int64_t>(c1));
    }
}

Error asRunError(const GridError& error) {
    std::vector<std::string> lines = {""};
    std::istringstream text(error.what());
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return Error(std::move(lines));
}

}  // namespace kelvara::grid
