// Drawing a mesh's values on a regular grid, without any file format: the grid's layout over the
// mesh and the interpolation of node values at the grid cells' centres, one band of rows at a
// time. Used by the GeoTIFF writer (grid.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/mesh.h"

namespace kelvara::grid {

// A regular grid, north up: column c, row r (from 0) has its centre at
// (originX + (c + 0.5) cellSize, originY - (r + 0.5) cellSize).
struct GridLayout {
    double originX = 0.0, originY = 0.0;  // top left corner
    double cellSize = 0.0;
    std::int64_t columns = 0, rows = 0;
};

// Throws GridError unless cellSize is a positive finite number.
void checkCellSize(double cellSize);

// Grids have at most this many cells.
constexpr std::int64_t kMostCells = std::int64_t{1} << 31;

// When a triangle is too thin to be trusted: its height at most share times its longest side
// plus rounding (in grid cells, the rounding of positions on the grid). Such a triangle is
// passed over as one of no area: its corners are as good as on one line (often exactly so as
// the mesh file writes them, but not in binary), and a plane through them would tilt without
// bound.
struct Thinness {
    double share = 1e-9;
    double rounding = 0.0;
};

// The triangles of a mesh in the grid's cell units, sorted into bands of grid rows, and the
// interpolation of node values within them.
class Rasteriser {
public:
    // Lays the grid over the extent of the mesh's cells that can be drawn (every corner a node
    // with coordinates) and sorts their triangles into bands of bandRows rows. Throws GridError
    // for a cell size that is not a positive finite number, a grid of more than kMostCells cells
    // and a mesh with no cell to draw; meshName names the mesh in those messages. The mesh must
    // outlive the rasteriser.
    Rasteriser(const MeshGeometry& mesh, double cellSize, int bandRows,
               const std::string& meshName);

    const GridLayout& layout() const { return layout_; }
    int bandRows() const { return bandRows_; }
    std::int64_t bandCount() const;
    // Cells left out because a corner is not a node with coordinates.
    std::int64_t cellsLeftOut() const { return cellsLeftOut_; }

    // Fills out, rows [band * bandRows, + bandRows) (fewer in the last band) by columns
    // [column, column + width), row after row with width values each, with the values of
    // nodeValue (one per node) interpolated at the cells' centres, and noData where no drawable
    // mesh triangle holds the centre. A mesh cell c (from 0) is drawn only when active is null
    // or active[c] is not 0, and when its corners' values are numbers above -99998. A value is
    // the corners' values weighted by the centre's barycentric weights, and always lies within
    // them; a triangle too thin to be trusted (Thinness) is left to the triangles beside it.
    void fill(std::int64_t band, std::int64_t column, std::int64_t width, const float* nodeValue,
              const std::int8_t* active, float noData, float* out) const;

    // Fills out as fill() does, but with classes, which are never interpolated: a centre takes
    // the highest class (nodeClass, one per node) of the corners of the mesh cell under it, of
    // the corners whose class is a number above -99998; a mesh cell none of whose corners has a
    // class above noData is not drawn.
    void fillClasses(std::int64_t band, std::int64_t column, std::int64_t width,
                     const float* nodeClass, const std::int8_t* active, float noData,
                     float* out) const;

private:
    // The rows [rowStart, rowEnd) and the centres' columns [firstColumn, lastColumn] of the part
    // of a band being filled.
    struct Window {
        std::int64_t rowStart, rowEnd;
        double firstColumn, lastColumn;
    };
    // Sets the part of out that band, column and width name to noData, then calls
    // draw(cell, half, window) for each triangle of the band whose mesh cell is active (active
    // null, or active[cell] not 0).
    template <class Draw>
    void forEachBandTriangle(std::int64_t band, std::int64_t column, std::int64_t width,
                             const std::int8_t* active, float noData, float* out,
                             Draw draw) const;
    // Calls span(row, firstColumn, lastColumn) for each row of the rows [rowStart, rowEnd) whose
    // centres within the columns [firstColumn, lastColumn] the triangle (u, v) holds.
    template <class Span>
    void forEachSpan(const double u[3], const double v[3], std::int64_t rowStart,
                     std::int64_t rowEnd, double firstColumn, double lastColumn, Span span) const;
    // Whether every corner of a cell is a node with coordinates.
    bool drawable(const std::array<std::int32_t, 4>& corners) const;
    // Position of node n (from 1) in cell units: centres at whole numbers.
    double u(std::int32_t n) const { return (mesh_.x[n - 1] - layout_.originX) / layout_.cellSize - 0.5; }
    double v(std::int32_t n) const { return (layout_.originY - mesh_.y[n - 1]) / layout_.cellSize - 0.5; }
    // Corners (node numbers from 1) of triangle half (0 or 1) of a cell.
    static void triangle(const std::array<std::int32_t, 4>& k, int half, std::int32_t out[3]) {
        out[0] = k[0];
        out[1] = k[half == 0 ? 1 : 2];
        out[2] = k[half == 0 ? 2 : 3];
    }
    // Calls add(entry, firstBand, lastBand) for every triangle that holds a centre.
    template <class Add>
    void forEachTriangle(Add add) const;

    const MeshGeometry& mesh_;
    GridLayout layout_;
    int bandRows_;
    double eps_ = 0.0;  // how far outside a triangle a centre still counts as in it
    Thinness thinness_;
    std::int64_t cellsLeftOut_ = 0;
    std::vector<std::size_t> bandStart_;  // per band (and one more): where its entries start
    // Per band: its triangles, as cell (from 0) * 2 + half.
    std::vector<std::uint32_t> bandTriangles_;
};

}  // namespace kelvara::grid
