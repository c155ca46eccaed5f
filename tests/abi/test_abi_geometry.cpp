// The geometry and interpolation routines called through the shared library as a C or Fortran
// program calls them: every number by address, logicals as -1 / 0, arrays indexed from 1 by
// the caller's own layout.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "kelvara.h"

namespace {

#ifdef _WIN32
constexpr const char* kNullDevice = "NUL";
#else
constexpr const char* kNullDevice = "/dev/null";
#endif

TEST(AbiGeometry, ScalarsByAddress) {
    float x1 = 0, y1 = 0, x2 = 3, y2 = 4;
    EXPECT_EQ(DISTANCE(&x1, &y1, &x2, &y2), 5.0f);
    double dx1 = 0, dy1 = 0, dx2 = 9.999999970e-07, dy2 = 0;
    EXPECT_EQ(DISTANCE_8(&dx1, &dy1, &dx2, &dy2), 1e-6f);

    double a[8] = {0, 0, 1, 1, 0, 0, 1, -1};
    EXPECT_EQ(ANGLE2D(&a[0], &a[1], &a[2], &a[3], &a[4], &a[5], &a[6], &a[7]), 90.0f);

    float tol = 1;
    float px = 1, py = 0;
    EXPECT_EQ(SAME_POINT(&x1, &y1, &px, &py, &tol), 0);  // equal to the tolerance
    px = 0.5f;
    EXPECT_EQ(SAME_POINT(&x1, &y1, &px, &py, &tol), -1);

    // Segments (0,0)-(1,0) and (1,0)-(1,1) touch.
    float s[8] = {0, 0, 1, 0, 1, 0, 1, 1};
    EXPECT_EQ(INTERSECT_LINE(&s[0], &s[1], &s[2], &s[3], &s[4], &s[5], &s[6], &s[7]), -1);
    // The crossing at the end of segment 1-2 counts, at the start of segment 3-4 does not.
    EXPECT_EQ(INTERSECT_LINE_V2(&s[0], &s[1], &s[2], &s[3], &s[4], &s[5], &s[6], &s[7]), 1);

    double l[8] = {0, 0, 2, 2, 1, 0, 1, 5};
    double xi = 777, yi = 777;
    EXPECT_EQ(INTERSECTION_POINT_8(&l[0], &l[1], &l[2], &l[3], &l[4], &l[5], &l[6], &l[7], &xi,
                                   &yi),
              -1);
    EXPECT_EQ(xi, 1.0);
    EXPECT_EQ(yi, 1.0);
    l[0] = l[2] = 1;  // both lines vertical: false, outputs untouched
    xi = yi = 777;
    EXPECT_EQ(INTERSECTION_POINT_8(&l[0], &l[1], &l[2], &l[3], &l[4], &l[5], &l[6], &l[7], &xi,
                                   &yi),
              0);
    EXPECT_EQ(xi, 777.0);

    float r = 1, depth = 1;
    EXPECT_EQ(CIRCLE_WIDTH(&r, &depth), 2.0f);
}

TEST(AbiGeometry, RegionsAndArrays) {
    // The unit square, closed by its first two vertices again; one ring ending at entry 5.
    float x[6] = {0, 1, 1, 0, 0, 1}, y[6] = {0, 0, 1, 1, 0, 0};
    int32_t n = 6, ends[1] = {5}, rings = 1;
    float xmin = 0;
    struct Case {
        float xp, yp;
        int32_t expected;
    };
    const Case cases[] = {{0.5f, 0.5f, -1}, {1.5f, 0.5f, 0}, {0.5f, 0.0f, 0}};
    for (const Case& c : cases) {
        float xp = c.xp, yp = c.yp;
        EXPECT_EQ(INSIDE_POLYGON(&xp, &yp, x, y, &n, &xmin, ends, &rings), c.expected)
            << c.xp << "," << c.yp;
    }

    float gx[3] = {0.5f, 2.5f, 1.5f}, gy[3] = {0.5f, 1.5f, 3.5f};
    int32_t gn = 3, rowLimit = 3, columnLimit = 10;
    float cell = 1;
    int32_t firstRow, firstColumn, lastRow, lastColumn;
    float gxmin, gymin, gxmax, gymax;
    SET_SUB_GRID_AREA(gx, gy, &gn, &cell, &rowLimit, &columnLimit, &firstRow, &firstColumn,
                      &lastRow, &lastColumn, &gxmin, &gymin, &gxmax, &gymax);
    EXPECT_EQ(firstRow, 1);
    EXPECT_EQ(firstColumn, 1);
    EXPECT_EQ(lastRow, 3);  // lowered to the row limit
    EXPECT_EQ(lastColumn, 3);
    EXPECT_EQ(gxmax, 2.5f);
    EXPECT_EQ(gymax, 3.5f);

    double wx[2] = {500000.25, 500001}, wy[2] = {7000000.5, 7000000};
    int32_t wn = 2;
    double x0 = 500000, y0 = 7000000;
    float theta = 0, u[2], v[2];
    GEO_SHIFT(wx, wy, &wn, &x0, &y0, &theta, u, v);
    EXPECT_EQ(u[0], 0.25f);
    EXPECT_EQ(v[0], 0.5f);
    EXPECT_EQ(u[1], 1.0f);

    float hx1 = 0, hz1 = 0, hf1 = 1, hx2 = 4, hz2 = 4, hf2 = 0, level = 4;
    float a1, a2, w1, w2, p1, p2;
    HYD_PARAM2(&hx1, &hz1, &hf1, &hx2, &hz2, &hf2, &level, &a1, &a2, &w1, &w2, &p1, &p2);
    EXPECT_EQ(a1, 6.0f);
    EXPECT_EQ(w1, 2.0f);
    EXPECT_EQ(a2, 0.0f);
}

TEST(AbiInterpolation, TriangleAndElement) {
    float tx[3] = {0, 1, 0}, ty[3] = {0, 0, 1}, tz[3] = {10, 20, 40};
    float xp = 0.5f, yp = 0, result = 0;
    EXPECT_EQ(INTERPOLATE_TRIANGLE(&xp, &yp, tx, ty, tz, &result), -1);
    EXPECT_EQ(result, 15.0f);
    xp = 2;
    yp = 1;  // on the line through V3 parallel to V1-V2
    EXPECT_EQ(INTERPOLATE_TRIANGLE(&xp, &yp, tx, ty, tz, &result), 0);
    EXPECT_EQ(result, -99999.0f);

    double dx[3] = {0, 1, 0}, dy[3] = {0, 0, 1};
    float dz[3] = {0, 0, 3};
    double dxp = 1.0 / 3, dyp = 1.0 / 3;
    EXPECT_EQ(INTERPOLATE_TRIANGLE_8(&dxp, &dyp, dx, dy, dz, &result), -1);
    EXPECT_EQ(result, 1.0f);

    double qx[4] = {0, 1, 1, 0}, qy[4] = {0, 0, 1, 1};
    float qz[4] = {0, 0, 1, 0};
    int32_t four = 4, five = 5;
    double qxmin = 0, qxp = 0.25, qyp = 0.5;
    EXPECT_EQ(INTERPOLATE_ELEMENT_8(&qxp, &qyp, qx, qy, qz, &four, &qxmin, &result), -1);
    EXPECT_FLOAT_EQ(result, 0.125f);
    result = 123;
    EXPECT_EQ(INTERPOLATE_ELEMENT_8(&qxp, &qyp, qx, qy, qz, &five, &qxmin, &result), 0);
    EXPECT_EQ(result, 123.0f);
}

TEST(AbiGeometryDeathTest, InsidePolygonEndsTheRunOnABadRingCount) {
    // Two rings' entries but a ring count of 1.
    double x[12] = {0, 10, 10, 0, 0, 10, 3, 7, 7, 3, 3, 7};
    double y[12] = {0, 0, 10, 10, 0, 0, 3, 3, 7, 7, 3, 3};
    int32_t n = 12, ends[2] = {5, 11}, rings = 1;
    double xp = 1, yp = 5, xmin = 0;
    EXPECT_EXIT(
        {
            std::fflush(stdout);
            dup2(2, 1);  // the console, where the death test can read it
            if (!std::freopen(kNullDevice, "r", stdin)) std::_Exit(99);
            INSIDE_POLYGON_8(&xp, &yp, x, y, &n, &xmin, ends, &rings);
        },
        ::testing::ExitedWithCode(1),
        "ERROR - Invalid number of polygons in region sent to inside_polygon routine - contact "
        "support@kelvara.example");
}

}  // namespace
