#include "library/geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "fileio/console.h"

namespace kelvara {

namespace {

// Tolerances are single-precision constants; double routines compare against the same values.
constexpr float kTiny = 1.0E-6f;
constexpr float kSmall = 1.0E-5f;
constexpr double kPi = 3.14159265358979323846;

// The remembered y of the vertex rule of the region tests, one per precision. It lives from
// call to call; each ring primes it before use (see primeRememberedY).
float rememberedY = 0.0f;
double rememberedY8 = 0.0;

[[noreturn]] void badRingCount() {
    consoleLine();
    consoleLine(
        "ERROR - Invalid number of polygons in region sent to inside_polygon routine - contact "
        "support@kelvara.example");
    FATALSTOP();
}

// At the start of a ring the vertex rule may meet the ring's second entry on the probe's line
// before the edge that arrives at it (V1 -> V2, the ring's last edge) has been seen. The
// remembered y is therefore primed with the y of the nearest vertex before V2 (going backwards
// through V1, Vm, ..., V3) that is off the probe's line: the value the traversal would have
// remembered had it walked the ring's closing edges first. start is the 1-based entry of V1.
template <typename Real>
void primeRememberedY(const Real* y, std::int32_t n, std::int32_t start, std::int32_t ringEnd,
                      Real yp, Real& remembered) {
    if (y[start - 1] != yp) {
        remembered = y[start - 1];
        return;
    }
    std::int32_t last = std::min(ringEnd - 1, n);
    for (std::int32_t i = last; i >= start + 2; --i) {
        if (y[i - 1] != yp) {
            remembered = y[i - 1];
            return;
        }
    }
}

// The traversal shared by both precisions; crosses(A, B) tests the probe against edge A-B.
template <typename Real, typename Crosses>
bool insideRegion(Real xp, Real yp, const Real* x, const Real* y, std::int32_t n,
                  const std::int32_t* ringEnds, std::int32_t ringCount, Real& remembered,
                  Crosses crosses) {
    if (n < 3) return false;  // no edge to look at
    if (ringCount < 1) badRingCount();
    std::int32_t count = 0;
    std::int32_t ring = 1;
    std::int32_t k = 1;
    std::int32_t ringStart = 1;
    while (k < n - 1) {
        if (k == ringStart) primeRememberedY(y, n, ringStart, ringEnds[ring - 1], yp, remembered);
        ++k;
        const Real xa = x[k - 1], ya = y[k - 1];
        const Real xb = x[k], yb = y[k];
        if (ya == yb) {
            // horizontal edge: leaves the remembered y alone
        } else if (yb == yp) {
            remembered = ya;
        } else if (ya == yp && xa <= xp) {
            if ((remembered - yp) * (yb - yp) < Real(0)) ++count;
        } else if (crosses(xa, ya, xb, yb)) {
            ++count;
        }
        if (k == ringEnds[ring - 1]) {
            k += 2;
            ++ring;
            ringStart = k;
            if (ring > ringCount && k < n - 1) badRingCount();
        }
    }
    return count % 2 == 1;
}

// Truncation toward zero into a 64-bit integer that cannot overflow (NaN gives 0).
std::int64_t truncSaturated(float v) {
    if (std::isnan(v)) return 0;
    if (v >= 9.0e18f) return std::numeric_limits<std::int64_t>::max() / 2;
    if (v <= -9.0e18f) return std::numeric_limits<std::int64_t>::min() / 2;
    return static_cast<std::int64_t>(v);
}

std::int32_t toInt32(std::int64_t v) {
    constexpr std::int64_t lo = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t hi = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(v, lo, hi));
}

}  // namespace

float DISTANCE(float x1, float y1, float x2, float y2) {
    const float dx = std::fabs(x2 - x1);
    const float dy = std::fabs(y2 - y1);
    if (dx < kTiny && dy < kTiny) return 0.0f;
    return std::sqrt(dy * dy + dx * dx);
}

float DISTANCE_8(double x1, double y1, double x2, double y2) {
    const float dx = static_cast<float>(std::fabs(x2 - x1));
    const float dy = static_cast<float>(std::fabs(y2 - y1));
    if (dx < kTiny && dy < kTiny) return 0.0f;
    return std::sqrt(dy * dy + dx * dx);
}

float ANGLE2D(double x1, double y1, double x2, double y2, double x3, double y3, double x4,
              double y4) {
    if (std::fabs(x2 - x1) < double(kTiny) || std::fabs(x4 - x3) < double(kTiny)) return 0.0f;
    const double degree = kPi / 180.0;
    const float a1 = static_cast<float>(std::atan2(y2 - y1, x2 - x1) / degree);
    const float a2 = static_cast<float>(std::atan2(y4 - y3, x4 - x3) / degree);
    const float d = std::fabs(a2 - a1);
    return d > 180.0f ? 360.0f - d : d;
}

bool SAME_POINT(float x1, float y1, float x2, float y2, float tolerance) {
    return std::fabs(x1 - x2) < tolerance && std::fabs(y1 - y2) < tolerance;
}

bool SAME_POINT_8(double x1, double y1, double x2, double y2, double tolerance) {
    return std::fabs(x1 - x2) < tolerance && std::fabs(y1 - y2) < tolerance;
}

float SAME_SIDE(float x1, float y1, float x2, float y2, float xa, float ya, float xb, float yb) {
    const float dx = x2 - x1;
    const float dy = y2 - y1;
    const float sideA = dx * (ya - y1) - dy * (xa - x1);
    const float sideB = dx * (yb - y2) - dy * (xb - x2);
    return sideA * sideB;
}

float SAME_SIDE_8(double x1, double y1, double x2, double y2, double xa, double ya, double xb,
                  double yb) {
    const float dx = static_cast<float>(x2 - x1);
    const float dy = static_cast<float>(y2 - y1);
    const float ya1 = static_cast<float>(ya - y1);
    const float xa1 = static_cast<float>(xa - x1);
    const float yb2 = static_cast<float>(yb - y2);
    const float xb2 = static_cast<float>(xb - x2);
    const float sideA = dx * ya1 - dy * xa1;
    const float sideB = dx * yb2 - dy * xb2;
    return sideA * sideB;
}

bool INTERSECT_POINT(float x1, float y1, float x2, float y2, float xp, float yp) {
    return SAME_SIDE(x1, y1, x2, y2, xp, yp, xp, yp) == 0.0f;
}

bool INTERSECT_LINE(float x1, float y1, float x2, float y2, float x3, float y3, float x4,
                    float y4) {
    const float s1 = SAME_SIDE(x1, y1, x2, y2, x3, y3, x4, y4);
    const float s2 = SAME_SIDE(x3, y3, x4, y4, x1, y1, x2, y2);
    return s1 <= 0.0f && s2 <= 0.0f;
}

bool INTERSECT_LINE_8(double x1, double y1, double x2, double y2, double x3, double y3,
                      double x4, double y4) {
    const float s1 = SAME_SIDE_8(x1, y1, x2, y2, x3, y3, x4, y4);
    const float s2 = SAME_SIDE_8(x3, y3, x4, y4, x1, y1, x2, y2);
    return s1 <= 0.0f && s2 <= 0.0f;
}

std::int32_t INTERSECT_LINE_V2(float x1, float y1, float x2, float y2, float x3, float y3,
                               float x4, float y4) {
    const float den = (x2 - x1) * (y4 - y3) - (y2 - y1) * (x4 - x3);
    const float na = (x4 - x3) * (y1 - y3) - (y4 - y3) * (x1 - x3);
    const float nb = (x2 - x1) * (y1 - y3) - (y2 - y1) * (x1 - x3);
    if (den == 0.0f) return (na == 0.0f && nb == 0.0f) ? -1 : 0;
    const float ua = na / den;
    const float ub = nb / den;
    const bool onFirst = ua > 0.0f && ua <= 1.0f;
    const bool onSecond = ub > 0.0f && ub <= 1.0f;
    if (onFirst && onSecond) return 3;
    if (onFirst) return 1;
    if (onSecond) return 2;
    return 4;
}

bool INTERSECTION_POINT(float x1, float y1, float x2, float y2, float x3, float y3, float x4,
                        float y4, float& xi, float& yi) {
    if (x1 == x2) {
        if (x3 == x4) return false;
        const float m2 = (y4 - y3) / (x4 - x3);
        xi = x1;
        yi = (x1 - x3) * m2 + y3;
        return true;
    }
    if (x3 == x4) {
        const float m1 = (y2 - y1) / (x2 - x1);
        xi = x3;
        yi = (x3 - x1) * m1 + y1;
        return true;
    }
    const float m1 = (y2 - y1) / (x2 - x1);
    const float m2 = (y4 - y3) / (x4 - x3);
    if (m1 == m2) return false;
    const float x = (m2 * x3 - m1 * x1 + y1 - y3) / (m2 - m1);
    xi = x;
    yi = (x - x3) * m2 + y3;
    return true;
}

bool INTERSECTION_POINT_8(double x1, double y1, double x2, double y2, double x3, double y3,
                          double x4, double y4, double& xi, double& yi) {
    if (x1 == x2) {
        if (x3 == x4) return false;
        const double m2 = (y4 - y3) / (x4 - x3);
        xi = x1;
        yi = (x1 - x3) * m2 + y3;
        return true;
    }
    if (x3 == x4) {
        const double m1 = (y2 - y1) / (x2 - x1);
        xi = x3;
        yi = (x3 - x1) * m1 + y1;
        return true;
    }
    const double m1 = (y2 - y1) / (x2 - x1);
    const double m2 = (y4 - y3) / (x4 - x3);
    if (m1 == m2) return false;
    const double x = (m2 * x3 - m1 * x1 + y1 - y3) / (m2 - m1);
    xi = x;
    yi = (x - x3) * m2 + y3;
    return true;
}

bool INSIDE_POLYGON(float xp, float yp, const float* x, const float* y, std::int32_t n,
                    float xmin, const std::int32_t* ringEnds, std::int32_t ringCount) {
    const float probeStart = xmin - 10.0f;
    return insideRegion(xp, yp, x, y, n, ringEnds, ringCount, rememberedY,
                        [&](float xa, float ya, float xb, float yb) {
                            return INTERSECT_LINE(probeStart, yp, xp, yp, xa, ya, xb, yb);
                        });
}

bool INSIDE_POLYGON_8(double xp, double yp, const double* x, const double* y, std::int32_t n,
                      double xmin, const std::int32_t* ringEnds, std::int32_t ringCount) {
    const double probeStart = xmin - 10.0;
    return insideRegion(xp, yp, x, y, n, ringEnds, ringCount, rememberedY8,
                        [&](double xa, double ya, double xb, double yb) {
                            return INTERSECT_LINE_8(probeStart, yp, xp, yp, xa, ya, xb, yb);
                        });
}

void GEO_SHIFT(const double* x, const double* y, std::int32_t n, double x0, double y0,
               float theta, float* u, float* v) {
    const float c = std::cos(theta);
    const float s = std::sin(theta);
    for (std::int32_t i = 0; i < n; ++i) {
        const double dx = x[i] - x0;
        const double dy = y[i] - y0;
        u[i] = static_cast<float>(dx * c + dy * s);
        v[i] = static_cast<float>(dy * c - dx * s);
    }
}

void SET_SUB_GRID_AREA(const float* x, const float* y, std::int32_t n, float cellSize,
                       std::int32_t rowLimit, std::int32_t columnLimit, std::int32_t& firstRow,
                       std::int32_t& firstColumn, std::int32_t& lastRow,
                       std::int32_t& lastColumn, float& xmin, float& ymin, float& xmax,
                       float& ymax) {
    if (n <= 0) return;
    float x0 = x[0], x1 = x[0], y0 = y[0], y1 = y[0];
    for (std::int32_t i = 1; i < n; ++i) {
        x0 = std::min(x0, x[i]);
        x1 = std::max(x1, x[i]);
        y0 = std::min(y0, y[i]);
        y1 = std::max(y1, y[i]);
    }
    xmin = x0;
    xmax = x1;
    ymin = y0;
    ymax = y1;
    firstColumn = toInt32(std::max<std::int64_t>(truncSaturated(x0 / cellSize) + 1, 0));
    lastColumn = toInt32(std::min<std::int64_t>(truncSaturated(x1 / cellSize) + 1, columnLimit));
    firstRow = toInt32(std::max<std::int64_t>(truncSaturated(y0 / cellSize) + 1, 0));
    lastRow = toInt32(std::min<std::int64_t>(truncSaturated(y1 / cellSize) + 1, rowLimit));
}

void HYD_PARAM(float x1, float z1, float x2, float z2, float waterLevel, float factor,
               float& area, float& width, float& perimeter) {
    const float dx = x2 - x1;
    if (factor <= 0.0f || (waterLevel < z1 && waterLevel < z2)) {
        area = 0.0f;
        width = 0.0f;
        perimeter = 0.0f;
    } else if (waterLevel >= z1 && waterLevel >= z2) {
        area = (waterLevel - (z1 + z2) / 2.0f) * dx;
        width = dx;
        perimeter = DISTANCE(x1, z1, x2, z2);
    } else if (waterLevel >= z1) {
        const float w = (waterLevel - z1) / (z2 - z1) * dx;
        area = w * (waterLevel - z1) / 2.0f;
        width = w;
        perimeter = DISTANCE(x1, z1, x1 + w, waterLevel);
    } else {
        const float w = (waterLevel - z2) / (z1 - z2) * dx;
        area = w * (waterLevel - z2) / 2.0f;
        width = w;
        perimeter = DISTANCE(x2 - w, waterLevel, x2, z2);
    }
}

void HYD_PARAM2(float x1, float z1, float factor1, float x2, float z2, float factor2,
                float waterLevel, float& area1, float& area2, float& width1, float& width2,
                float& perimeter1, float& perimeter2) {
    const float xm = (x1 + x2) / 2.0f;
    const float zm = (z1 + z2) / 2.0f;
    HYD_PARAM(x1, z1, xm, zm, waterLevel, factor1, area1, width1, perimeter1);
    HYD_PARAM(xm, zm, x2, z2, waterLevel, factor2, area2, width2, perimeter2);
}

float CIRCLE_WIDTH(float radius, float depth) {
    if (depth < kSmall || depth > 2.0f * radius - kSmall) return 0.0f;
    const float h = radius - depth;
    return 2.0f * std::sqrt(radius * radius - h * h);
}

}  // namespace kelvara
