// Triangle and element interpolation: values at vertices, edges and inside, the lines that do
// not meet, degenerate triangles, and the quadrilateral's mean of its diagonal splits.
#include <gtest/gtest.h>

#include <cstdint>

#include "library/interpolation.h"

namespace {

using namespace kelvara;

struct TriangleCase {
    const char* name;
    double x[3], y[3];
    float z[3];
    double xp, yp;
    bool found;
    float expected;  // compared within 4 ulps; exact cases are checked again below
};

const TriangleCase kTriangles[] = {
    {"at V1", {0, 1, 0}, {0, 0, 1}, {10, 20, 40}, 0, 0, true, 10},
    {"at V2", {0, 1, 0}, {0, 0, 1}, {10, 20, 40}, 1, 0, true, 20},
    {"at V3", {0, 1, 0}, {0, 0, 1}, {10, 20, 40}, 0, 1, true, 40},
    {"on edge 1-2", {0, 1, 0}, {0, 0, 1}, {10, 20, 40}, 0.5, 0, true, 15},
    {"centroid", {0, 1, 0}, {0, 0, 1}, {0, 0, 3}, 1.0 / 3, 1.0 / 3, true, 1},
    {"linear values", {0, 4, 1}, {0, 1, 3}, {0, 4, 1}, 2, 1.5, true, 2},  // z = x
    // V1 and V2 on one vertical: at V3 both lines are vertical.
    {"at V3, vertical edge", {0, 0, 1}, {0, 1, 0}, {10, 20, 40}, 1, 0, false, kNoInterpolatedValue},
    // The line through V3 and the point is parallel to V1-V2.
    {"parallel to the edge", {0, 1, 0}, {0, 0, 1}, {10, 20, 40}, 2, 1, false, kNoInterpolatedValue},
    // V1 = V2: the edge value is the mean of Z1 and Z2.
    {"V1 equals V2", {1, 1, 0}, {0, 0, 1}, {10, 20, 40}, 0.5, 0.5, true, 27.5f},
    // Collinear vertices with the point on V3: halfway between the edge value and Z3.
    {"collinear, at V3", {0, 2, 1}, {0, 0, 0}, {10, 20, 40}, 1, 0, true, 27.5f},
};

TEST(InterpolationTriangle, SingleAndDoubleCoordinates) {
    for (const TriangleCase& c : kTriangles) {
        const float xs[3] = {float(c.x[0]), float(c.x[1]), float(c.x[2])};
        const float ys[3] = {float(c.y[0]), float(c.y[1]), float(c.y[2])};
        float single = 123.0f, twin = 123.0f;
        EXPECT_EQ(INTERPOLATE_TRIANGLE(float(c.xp), float(c.yp), xs, ys, c.z, single), c.found)
            << c.name;
        EXPECT_EQ(INTERPOLATE_TRIANGLE_8(c.xp, c.yp, c.x, c.y, c.z, twin), c.found) << c.name;
        EXPECT_FLOAT_EQ(single, c.expected) << c.name;
        EXPECT_FLOAT_EQ(twin, c.expected) << c.name;
    }
}

TEST(InterpolationTriangle, ExactValues) {
    const float x[3] = {0, 1, 0}, y[3] = {0, 0, 1}, z[3] = {10, 20, 40};
    const double xd[3] = {0, 1, 0}, yd[3] = {0, 0, 1};
    struct Case {
        double xp, yp;
        float expected;
    };
    const Case cases[] = {{0, 0, 10}, {1, 0, 20}, {0, 1, 40}, {0.5, 0, 15}};
    for (const Case& c : cases) {
        float single = 0, twin = 0;
        INTERPOLATE_TRIANGLE(float(c.xp), float(c.yp), x, y, z, single);
        INTERPOLATE_TRIANGLE_8(c.xp, c.yp, xd, yd, z, twin);
        EXPECT_EQ(single, c.expected) << c.xp << "," << c.yp;
        EXPECT_EQ(twin, c.expected) << c.xp << "," << c.yp;
    }
    // The centroid of (0,0), (1,0), (0,1) with values 0, 0, 3: the single-precision third
    // leaves the result one step of 2^-22 above 1; the double coordinates give exactly 1.
    const float zc[3] = {0, 0, 3};
    float single = 0, twin = 0;
    INTERPOLATE_TRIANGLE(1.0f / 3.0f, 1.0f / 3.0f, x, y, zc, single);
    INTERPOLATE_TRIANGLE_8(1.0 / 3.0, 1.0 / 3.0, xd, yd, zc, twin);
    EXPECT_EQ(single, 1.00000024f);
    EXPECT_EQ(twin, 1.0f);
}

TEST(InterpolationElement, TrianglesAndQuadrilaterals) {
    const double triX[4] = {0, 1, 0, 99}, triY[4] = {0, 0, 1, 99};
    const float triZ[4] = {0, 0, 3, 99};
    const double sqX[4] = {0, 1, 1, 0}, sqY[4] = {0, 0, 1, 1};
    const float linearZ[4] = {0, 10, 30, 20};  // z = 10x + 20y
    const float peakZ[4] = {0, 0, 1, 0};       // only the corner (1,1) raised
    struct Case {
        const char* name;
        const double *x, *y;
        const float* z;
        std::int32_t vertexCount;
        double xp, yp;
        bool found;
        float expected;  // 123 = result left untouched
    };
    const Case cases[] = {
        {"triangle inside", triX, triY, triZ, 3, 1.0 / 3, 1.0 / 3, true, 1},
        {"triangle outside", triX, triY, triZ, 3, 2, 2, false, 123},
        {"triangle beyond its hypotenuse", triX, triY, triZ, 3, 0.6, 0.6, false, 123},
        {"quad, linear values", sqX, sqY, linearZ, 4, 0.25, 0.5, true, 12.5f},
        // Inside (0,0),(1,1),(0,1) the value is x = 0.25; inside (0,0),(1,0),(0,1) it is 0.
        {"quad, mean of the splits", sqX, sqY, peakZ, 4, 0.25, 0.5, true, 0.125f},
        {"quad outside", sqX, sqY, linearZ, 4, 2, 0.5, false, kNoInterpolatedValue},
        {"two vertices", sqX, sqY, linearZ, 2, 0.25, 0.5, false, 123},
        {"five vertices", sqX, sqY, linearZ, 5, 0.25, 0.5, false, 123},
        {"no vertices", sqX, sqY, linearZ, 0, 0.25, 0.5, false, 123},
        {"negative count", sqX, sqY, linearZ, -4, 0.25, 0.5, false, 123},
    };
    for (const Case& c : cases) {
        float result = 123.0f;
        EXPECT_EQ(INTERPOLATE_ELEMENT_8(c.xp, c.yp, c.x, c.y, c.z, c.vertexCount, 0.0, result),
                  c.found)
            << c.name;
        EXPECT_FLOAT_EQ(result, c.expected) << c.name;
    }
}

TEST(InterpolationElement, WorldCoordinates) {
    // A quadrilateral far from the origin, as meshes are: the double coordinates keep it
    // apart, and the values are linear in x.
    const double x0 = 512345.25, y0 = 6812345.5;
    const double x[4] = {x0, x0 + 2, x0 + 2, x0}, y[4] = {y0, y0, y0 + 2, y0 + 2};
    const float z[4] = {1, 3, 3, 1};  // z = 1 + (x - x0)
    float result = 0;
    EXPECT_TRUE(INTERPOLATE_ELEMENT_8(x0 + 0.5, y0 + 1.2, x, y, z, 4, x0, result));
    EXPECT_FLOAT_EQ(result, 1.5f);
}

}  // namespace
