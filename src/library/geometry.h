// Planar geometry of the exported library: distances and angles, side-of-line and segment
// crossing tests, line intersection, point-in-region by ray crossing, a world-to-local shift,
// the grid window of a polygon and the hydraulic properties of cross-section segments.
//
// Most routines work in single precision (float arithmetic throughout, so results are the same
// bit for bit wherever they are computed). A routine whose name ends in _8 takes double
// coordinates; where it rounds to single precision is stated beside it.
//
// Regions (INSIDE_POLYGON) hold one or more closed rings in parallel arrays x, y of n entries.
// A ring of m vertices V1..Vm occupies m + 2 consecutive entries V1, V2, ..., Vm, V1, V2; the
// next ring follows directly. ringEnds[j] (0-based j) is the 1-based index of the entry holding
// the repeated V1 of ring j + 1. A single triangle is n = 5, ringEnds = {4}, one ring.
#pragma once

#include <cstdint>

namespace kelvara {

// Distance between two points; exactly 0 when both coordinate differences are below 1.0E-6.
float DISTANCE(float x1, float y1, float x2, float y2);
// The same for double coordinates; the absolute differences are rounded to single first.
float DISTANCE_8(double x1, double y1, double x2, double y2);

// Angle in degrees (0 to 180) between line 1 (point 1 to 2) and line 2 (point 3 to 4); 0 when
// either line is vertical or has no length (|dx| < 1.0E-6).
float ANGLE2D(double x1, double y1, double x2, double y2, double x3, double y3, double x4,
              double y4);

// True when both coordinate differences are strictly below the tolerance (a square box).
bool SAME_POINT(float x1, float y1, float x2, float y2, float tolerance);
bool SAME_POINT_8(double x1, double y1, double x2, double y2, double tolerance);

// Product of the side values of points a and b against the infinite line through points 1
// and 2: positive on one side, negative on opposite sides, zero when either is on the line.
float SAME_SIDE(float x1, float y1, float x2, float y2, float xa, float ya, float xb, float yb);
// The same for double coordinates; direction components and point offsets are rounded to
// single before the products.
float SAME_SIDE_8(double x1, double y1, double x2, double y2, double xa, double ya, double xb,
                  double yb);

// True when point p lies exactly on the infinite line through points 1 and 2.
bool INTERSECT_POINT(float x1, float y1, float x2, float y2, float xp, float yp);

// True when segments 1-2 and 3-4 cross or touch (collinear segments always count).
bool INTERSECT_LINE(float x1, float y1, float x2, float y2, float x3, float y3, float x4,
                    float y4);
bool INTERSECT_LINE_8(double x1, double y1, double x2, double y2, double x3, double y3,
                      double x4, double y4);

// Where the lines 1-2 and 3-4 meet, by parameters along each segment (0 < u <= 1 counts as
// on the segment): -1 lines coincide, 0 parallel, 3 on both segments, 1 on segment 1-2 only,
// 2 on segment 3-4 only, 4 on neither.
std::int32_t INTERSECT_LINE_V2(float x1, float y1, float x2, float y2, float x3, float y3,
                               float x4, float y4);

// Intersection of the infinite lines 1-2 and 3-4. False for two vertical lines or equal
// slopes; xi and yi are written only when true.
bool INTERSECTION_POINT(float x1, float y1, float x2, float y2, float x3, float y3, float x4,
                        float y4, float& xi, float& yi);
bool INTERSECTION_POINT_8(double x1, double y1, double x2, double y2, double x3, double y3,
                          double x4, double y4, double& xi, double& yi);

// Even-odd test of point p against a region (layout above), along a horizontal probe from
// (xmin - 10, yp) to p. Ends the run through the fatal stop when the ring count is used up
// before the entries are.
bool INSIDE_POLYGON(float xp, float yp, const float* x, const float* y, std::int32_t n,
                    float xmin, const std::int32_t* ringEnds, std::int32_t ringCount);
bool INSIDE_POLYGON_8(double xp, double yp, const double* x, const double* y, std::int32_t n,
                      double xmin, const std::int32_t* ringEnds, std::int32_t ringCount);

// Moves n double world points into a single-precision frame with origin (x0, y0) whose u axis
// points along theta (radians). n <= 0 does nothing.
void GEO_SHIFT(const double* x, const double* y, std::int32_t n, double x0, double y0,
               float theta, float* u, float* v);

// Grid window of a polygon in grid-local coordinates (cell column i covers x from (i-1)*cell
// to i*cell): the polygon's extremes and the first/last row and column it touches, first ones
// raised to 0, last ones lowered to the limits. n <= 0 writes nothing.
void SET_SUB_GRID_AREA(const float* x, const float* y, std::int32_t n, float cellSize,
                       std::int32_t rowLimit, std::int32_t columnLimit, std::int32_t& firstRow,
                       std::int32_t& firstColumn, std::int32_t& lastRow,
                       std::int32_t& lastColumn, float& xmin, float& ymin, float& xmax,
                       float& ymax);

// Flow area, surface width and wetted perimeter below waterLevel of the cross-section segment
// (x1, z1)-(x2, z2) (x across the section, z bed level); all 0 when factor <= 0.
void HYD_PARAM(float x1, float z1, float x2, float z2, float waterLevel, float factor,
               float& area, float& width, float& perimeter);
// HYD_PARAM for each half of the segment, split at its midpoint, each with its own factor.
void HYD_PARAM2(float x1, float z1, float factor1, float x2, float z2, float factor2,
                float waterLevel, float& area1, float& area2, float& width1, float& width2,
                float& perimeter1, float& perimeter2);

// Water-surface width of a circle of the given radius filled to depth; 0 within 1.0E-5 of
// empty or full.
float CIRCLE_WIDTH(float radius, float depth);

}  // namespace kelvara
