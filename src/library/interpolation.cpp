#include "library/interpolation.h"

#include "library/geometry.h"

namespace kelvara {

namespace {

constexpr float kTiny = 1.0E-6f;

// Value along the line from vertex 3 through p, given the distances measured by the caller's
// precision: d = |V1 I|, len = |V1 V2|, e = |V3 P|, f = |V3 I|.
float alongLines(const float* z, float d, float len, float e, float f) {
    const float zi = len < kTiny ? z[0] + (z[1] - z[0]) / 2.0f : z[0] + (z[1] - z[0]) * d / len;
    return f < kTiny ? z[2] + (zi - z[2]) / 2.0f : z[2] + (zi - z[2]) * e / f;
}

// Whether p lies inside the triangle a, b, c (indices into x, y), as a one-ring region.
bool insideTriangle(double xp, double yp, const double* x, const double* y, int a, int b, int c,
                    double xmin) {
    const double rx[5] = {x[a], x[b], x[c], x[a], x[b]};
    const double ry[5] = {y[a], y[b], y[c], y[a], y[b]};
    const std::int32_t ringEnds[1] = {4};
    return INSIDE_POLYGON_8(xp, yp, rx, ry, 5, xmin, ringEnds, 1);
}

}  // namespace

bool INTERPOLATE_TRIANGLE(float xp, float yp, const float* x, const float* y, const float* z,
                          float& result) {
    float xi = 0.0f, yi = 0.0f;
    if (!INTERSECTION_POINT(x[0], y[0], x[1], y[1], x[2], y[2], xp, yp, xi, yi)) {
        result = kNoInterpolatedValue;
        return false;
    }
    result = alongLines(z, DISTANCE(x[0], y[0], xi, yi), DISTANCE(x[0], y[0], x[1], y[1]),
                        DISTANCE(x[2], y[2], xp, yp), DISTANCE(x[2], y[2], xi, yi));
    return true;
}

bool INTERPOLATE_TRIANGLE_8(double xp, double yp, const double* x, const double* y,
                            const float* z, float& result) {
    double xi = 0.0, yi = 0.0;
    if (!INTERSECTION_POINT_8(x[0], y[0], x[1], y[1], x[2], y[2], xp, yp, xi, yi)) {
        result = kNoInterpolatedValue;
        return false;
    }
    result = alongLines(z, DISTANCE_8(x[0], y[0], xi, yi), DISTANCE_8(x[0], y[0], x[1], y[1]),
                        DISTANCE_8(x[2], y[2], xp, yp), DISTANCE_8(x[2], y[2], xi, yi));
    return true;
}

bool INTERPOLATE_ELEMENT_8(double xp, double yp, const double* x, const double* y,
                           const float* z, std::int32_t vertexCount, double xmin,
                           float& result) {
    if (vertexCount == 3) {
        if (!insideTriangle(xp, yp, x, y, 0, 1, 2, xmin)) return false;
        return INTERPOLATE_TRIANGLE_8(xp, yp, x, y, z, result);
    }
    if (vertexCount != 4) return false;
    std::int32_t count = 0;
    float total = 0.0f;
    for (int skip = 0; skip < 4; ++skip) {
        // The three vertices other than vertex skip, in their given order.
        int v[3];
        for (int i = 0, m = 0; i < 4; ++i)
            if (i != skip) v[m++] = i;
        if (!insideTriangle(xp, yp, x, y, v[0], v[1], v[2], xmin)) continue;
        const double tx[3] = {x[v[0]], x[v[1]], x[v[2]]};
        const double ty[3] = {y[v[0]], y[v[1]], y[v[2]]};
        const float tz[3] = {z[v[0]], z[v[1]], z[v[2]]};
        float value = 0.0f;
        if (INTERPOLATE_TRIANGLE_8(xp, yp, tx, ty, tz, value)) {
            total += value;
            ++count;
        }
    }
    if (count > 0) {
        result = total / static_cast<float>(count);
        return true;
    }
    result = kNoInterpolatedValue;
    return false;
}

}  // namespace kelvara
