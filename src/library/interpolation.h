// Interpolation of mesh vertex values at points: linear interpolation inside a triangle and
// inside a three- or four-vertex mesh element. Values are single precision; the _8 routines
// take double coordinates.
#pragma once

#include <cstdint>

namespace kelvara {

// Written to a result when an interpolation has nothing to give.
constexpr float kNoInterpolatedValue = -99999.0f;

// Value at point p inside the triangle x[3], y[3] with vertex values z[3]: along the line from
// vertex 3 through p to where it meets the line through vertices 1 and 2. False, with
// kNoInterpolatedValue in result, when those lines do not meet. Points outside the triangle are not
// extrapolated linearly; test insideness first where it matters.
bool INTERPOLATE_TRIANGLE(float xp, float yp, const float* x, const float* y, const float* z,
                          float& result);
// The same with double coordinates; distances and the intermediate value are single.
bool INTERPOLATE_TRIANGLE_8(double xp, double yp, const double* x, const double* y,
                            const float* z, float& result);

// Value at point p inside a mesh element of vertexCount (3 or 4) vertices x, y with values z,
// a quadrilateral given in boundary order. xmin is the element's smallest x (the insideness
// probe starts 10 units to its left). A triangle: false, result untouched, when p is outside.
// A quadrilateral: the mean of the interpolations of the triangles (of three of its vertices)
// that hold p, or false and kNoInterpolatedValue when none does. Other vertex counts: false, result
// untouched.
bool INTERPOLATE_ELEMENT_8(double xp, double yp, const double* x, const double* y,
                           const float* z, std::int32_t vertexCount, double xmin,
                           float& result);

}  // namespace kelvara
