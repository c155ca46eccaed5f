// Planar geometry: distances and angles, side and crossing tests, line intersection, regions,
// the coordinate shift, the grid window and the cross-section properties. Single-precision
// results are compared bit for bit.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "library/geometry.h"
#include "support/tempdir.h"

namespace {

using namespace kelvara;

TEST(GeometryDistance, SinglePrecisionAndTwin) {
    struct Case {
        double x1, y1, x2, y2;
        float expected;
    };
    const Case cases[] = {
        {0, 0, 3, 4, 5.0f},
        {3, 4, 0, 0, 5.0f},
        {2, 2, 2, 2, 0.0f},       // zero length
        {0, 0, 1e-7, 1e-7, 0.0f},  // both differences below 1.0E-6: exactly 0
        {0, 0, 1e-6, 0, 1e-6f},    // a difference of 1.0E-6 is not below it
        {0, 0, 2, 2, 2.82842708f},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DISTANCE(float(c.x1), float(c.y1), float(c.x2), float(c.y2)), c.expected)
            << c.x2 << "," << c.y2;
        EXPECT_EQ(DISTANCE_8(c.x1, c.y1, c.x2, c.y2), c.expected) << c.x2 << "," << c.y2;
    }
    // The twin rounds its differences to single before the 1.0E-6 test: this difference is
    // below 1.0E-6 as a double but rounds to it.
    EXPECT_LT(9.999999970e-07, double(1e-6f));
    EXPECT_EQ(DISTANCE_8(0, 0, 9.999999970e-07, 0), 1e-6f);
    EXPECT_EQ(DISTANCE_8(0, 0, 9.9e-07, 0), 0.0f);
}

TEST(GeometryAngle, FoldsToHalfTurnAndIgnoresVerticalLines) {
    const double deg = 3.14159265358979323846 / 180.0;
    auto dir = [&](double a, double& x, double& y) {
        x = std::cos(a * deg);
        y = std::sin(a * deg);
    };
    double c10, s10, cm10, sm10, c170, s170, cm170, sm170;
    dir(10, c10, s10);
    dir(-10, cm10, sm10);
    dir(170, c170, s170);
    dir(-170, cm170, sm170);
    struct Case {
        double x1, y1, x2, y2, x3, y3, x4, y4;
        float expected;
    };
    const Case cases[] = {
        {0, 0, 1, 1, 0, 0, 1, -1, 90.0f},
        {0, 0, c10, s10, 0, 0, cm10, sm10, 20.0f},
        {0, 0, c170, s170, 0, 0, cm170, sm170, 20.0f},  // 340 folded to 20
        {0, 0, 1, 0, 5, 5, 4, 5, 180.0f},               // opposite directions
        {0, 0, 1, 1, 0, 0, -1, -1, 180.0f},
        {0, 0, 1, 1, 0, 0, -1, 1, 90.0f},
        {1, 0, 1, 5, 0, 0, 1, 1, 0.0f},                 // line 1 vertical
        {0, 0, 1, 1, 2, 0, 2, -3, 0.0f},                // line 2 vertical
        {0, 0, 5e-7, 3, 0, 0, 1, 0, 0.0f},              // nearly vertical: |dx| < 1.0E-6
        {0, 0, 0, 0, 0, 0, 1, 1, 0.0f},                 // zero length
        {100, 200, 101, 200, 7, 7, 8, 7, 0.0f},         // parallel
    };
    for (const Case& c : cases)
        EXPECT_EQ(ANGLE2D(c.x1, c.y1, c.x2, c.y2, c.x3, c.y3, c.x4, c.y4), c.expected)
            << c.x2 << "," << c.y2 << " / " << c.x4 << "," << c.y4;
}

TEST(GeometrySamePoint, StrictSquareBox) {
    struct Case {
        double x1, y1, x2, y2, tolerance;
        bool expected;
    };
    const Case cases[] = {
        {0, 0, 0.5, 0.5, 1, true},
        {0, 0, 0.9, 0.9, 1, true},  // a box, not a circle
        {0, 0, 1, 0, 1, false},     // difference equal to the tolerance
        {0, 0, 0, -1, 1, false},
        {3, 3, 3, 3, 0, false},     // nothing is strictly below a zero tolerance
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SAME_POINT(float(c.x1), float(c.y1), float(c.x2), float(c.y2),
                             float(c.tolerance)),
                  c.expected)
            << c.x2 << "," << c.y2;
        EXPECT_EQ(SAME_POINT_8(c.x1, c.y1, c.x2, c.y2, c.tolerance), c.expected);
    }
    // The twin keeps double precision: 1.0000000001 and a tolerance of 1.0000000002 are both
    // 1 in single precision.
    EXPECT_TRUE(SAME_POINT_8(0, 0, 1.0000000001, 0, 1.0000000002));
    EXPECT_FALSE(SAME_POINT(0, 0, float(1.0000000001), 0, float(1.0000000002)));
}

TEST(GeometrySameSide, SignOfTheProduct) {
    struct Case {
        double x1, y1, x2, y2, xa, ya, xb, yb;
        float expected;
    };
    const Case cases[] = {
        {0, 0, 1, 0, 0, 1, 5, 2, 2.0f},     // same side
        {0, 0, 1, 0, 0, 1, 5, -3, -3.0f},   // opposite sides
        {0, 0, 1, 0, 0, 1, 7, 0, 0.0f},     // b on the (infinite) line
        {0, 0, 1, 0, -4, 0, 9, 0, 0.0f},    // both on the line
        {2, 2, 2, 2, 0, 1, 5, 2, 0.0f},     // zero-length line: everything is on it
        {0, 0, 0, 2, 1, 5, -1, -5, -4.0f},  // vertical line
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SAME_SIDE(float(c.x1), float(c.y1), float(c.x2), float(c.y2), float(c.xa),
                            float(c.ya), float(c.xb), float(c.yb)),
                  c.expected);
        EXPECT_EQ(SAME_SIDE_8(c.x1, c.y1, c.x2, c.y2, c.xa, c.ya, c.xb, c.yb), c.expected);
    }
    // The twin rounds the offsets to single: 16777217 becomes 16777216, so a point one unit
    // off the diagonal counts as on it.
    EXPECT_EQ(SAME_SIDE_8(0, 0, 1, 1, 16777217, 16777216, 5, 0), 0.0f);
}

TEST(GeometryIntersectPoint, OnTheInfiniteLine) {
    struct Case {
        float x1, y1, x2, y2, xp, yp;
        bool expected;
    };
    const Case cases[] = {
        {0, 0, 2, 2, 1, 1, true},
        {0, 0, 2, 2, 5, 5, true},  // beyond the segment
        {0, 0, 2, 2, -3, -3, true},
        {0, 0, 2, 2, 1, 1.001f, false},
        {0, 0, 0, 2, 0, 9, true},  // vertical line
        {1, 1, 1, 1, 4, 7, true},  // a zero-length line holds every point
    };
    for (const Case& c : cases)
        EXPECT_EQ(INTERSECT_POINT(c.x1, c.y1, c.x2, c.y2, c.xp, c.yp), c.expected)
            << c.xp << "," << c.yp;
}

TEST(GeometryIntersectLine, CrossingOrTouching) {
    struct Case {
        double x1, y1, x2, y2, x3, y3, x4, y4;
        bool expected;
    };
    const Case cases[] = {
        {0, 0, 2, 2, 0, 2, 2, 0, true},          // crossing
        {0, 0, 1, 0, 1, 0, 1, 1, true},          // touching at an end
        {0, 0, 1, 0, 2, 0, 3, 0, true},          // collinear and disjoint still count
        {0, 0, 1, 0, 0.5, 0, 3, 0, true},        // collinear, overlapping
        {0, 0, 1, 0, 0, 1, 1, 1, false},         // parallel
        {0, 0, 1, 1, 2, 0, 3, -1, false},        // both on one side
        {0, 0, 1, 0, 0.5, 0.1, 0.5, 2, false},   // would cross beyond segment 3-4's start
        {0.5, 0, 0.5, 0, 0, 0, 1, 0, true},      // zero-length segment on the other
        {0.5, 1, 0.5, 1, 0, 0, 1, 0, false},     // zero-length segment off it
    };
    for (const Case& c : cases) {
        EXPECT_EQ(INTERSECT_LINE(float(c.x1), float(c.y1), float(c.x2), float(c.y2),
                                 float(c.x3), float(c.y3), float(c.x4), float(c.y4)),
                  c.expected)
            << c.x3 << "," << c.y3 << "-" << c.x4 << "," << c.y4;
        EXPECT_EQ(INTERSECT_LINE_8(c.x1, c.y1, c.x2, c.y2, c.x3, c.y3, c.x4, c.y4), c.expected);
    }
    // Both ends of 3-4 lie below the long diagonal, but the twin's single-precision offsets
    // put (16777217, 16777216) on it, so the segments touch.
    EXPECT_TRUE(INTERSECT_LINE_8(0, 0, 33554432, 33554432, 16777217, 16777216, 16777300,
                                 16777000));
}

TEST(GeometryIntersectLineV2, Codes) {
    struct Case {
        float x1, y1, x2, y2, x3, y3, x4, y4;
        std::int32_t expected;
    };
    const Case cases[] = {
        {0, 0, 2, 2, 0, 2, 2, 0, 3},     // on both
        {0, 0, 1, 0, 2, 0, 3, 0, -1},    // coincident lines
        {0, 0, 1, 0, 0, 1, 1, 1, 0},     // parallel
        {0, 0, 2, 0, 0, -1, 0, 1, 2},    // at the start of 1-2 (ua = 0): not on 1-2
        {0, 0, 2, 0, 2, -1, 2, 1, 3},    // at the end of 1-2 (ua = 1): on it
        {0, 0, 2, 0, 1, 0, 1, 2, 1},     // at the start of 3-4 (ub = 0): not on 3-4
        {0, 0, 2, 0, 1, -2, 1, 0, 3},    // at the end of 3-4 (ub = 1)
        {0, 0, 2, 0, 1, 1, 1, 2, 1},     // on 1-2 only
        {0, 0, 1, 0, 5, -1, 5, 1, 2},    // on 3-4 only
        {0, 0, 1, 0, 5, 1, 5, 2, 4},     // on neither
        {1, 1, 1, 1, 3, 3, 3, 3, -1},    // two zero-length segments
        {1, 1, 1, 1, 0, 0, 2, 0, 0},     // one zero-length segment off the other's line
    };
    for (const Case& c : cases)
        EXPECT_EQ(INTERSECT_LINE_V2(c.x1, c.y1, c.x2, c.y2, c.x3, c.y3, c.x4, c.y4), c.expected)
            << c.x3 << "," << c.y3 << "-" << c.x4 << "," << c.y4;
}

TEST(GeometryIntersectionPoint, InfiniteLines) {
    struct Case {
        double x1, y1, x2, y2, x3, y3, x4, y4;
        bool expected;
        double xi, yi;  // when found
    };
    const Case cases[] = {
        {0, 0, 2, 2, 0, 2, 2, 0, true, 1, 1},
        {1, 0, 1, 5, 0, 0, 2, 2, true, 1, 1},  // line 1 vertical
        {0, 0, 2, 2, 1, 0, 1, 5, true, 1, 1},  // line 2 vertical
        {0, 0, 1, 0, 5, 1, 5, 2, true, 5, 0},  // beyond both segments
        {0, 0, 1, 0, 4, 2, 6, 3, true, 0, 0},
        {1, 0, 1, 5, 2, 0, 2, 5, false, 0, 0},  // both vertical
        {0, 0, 1, 1, 0, 1, 1, 2, false, 0, 0},  // equal slopes
        {0, 0, 1, 1, 3, 3, 5, 5, false, 0, 0},  // the same line
    };
    for (const Case& c : cases) {
        float xi = 777.0f, yi = 777.0f;
        EXPECT_EQ(INTERSECTION_POINT(float(c.x1), float(c.y1), float(c.x2), float(c.y2),
                                     float(c.x3), float(c.y3), float(c.x4), float(c.y4), xi,
                                     yi),
                  c.expected);
        double xd = 777.0, yd = 777.0;
        EXPECT_EQ(INTERSECTION_POINT_8(c.x1, c.y1, c.x2, c.y2, c.x3, c.y3, c.x4, c.y4, xd, yd),
                  c.expected);
        // Outputs are written only when the lines meet.
        EXPECT_EQ(xi, c.expected ? float(c.xi) : 777.0f);
        EXPECT_EQ(yi, c.expected ? float(c.yi) : 777.0f);
        EXPECT_EQ(xd, c.expected ? c.xi : 777.0);
        EXPECT_EQ(yd, c.expected ? c.yi : 777.0);
    }
    // Slopes that differ in double but are equal in single precision: the single routine
    // finds the lines parallel, the double twin finds where they meet.
    const float x4 = 3.00000024f, y4 = 1.50000012f;
    float xi = 777.0f, yi = 777.0f;
    EXPECT_FALSE(INTERSECTION_POINT(0, 0, 3, 1, 0, 0.5f, x4, y4, xi, yi));
    double xd = 777.0, yd = 777.0;
    EXPECT_TRUE(INTERSECTION_POINT_8(0, 0, 3, 1, 0, 0.5, x4, y4, xd, yd));
    EXPECT_GT(std::fabs(xd), 1e6);
}

// A region in the ring layout: each ring's vertices followed by its first two again.
struct Region {
    std::vector<double> x, y;
    std::vector<std::int32_t> ends;
};

Region region(const std::vector<std::vector<std::pair<double, double>>>& rings) {
    Region r;
    for (const auto& ring : rings) {
        for (const auto& p : ring) {
            r.x.push_back(p.first);
            r.y.push_back(p.second);
        }
        for (int i = 0; i < 2; ++i) {
            r.x.push_back(ring[i].first);
            r.y.push_back(ring[i].second);
        }
        r.ends.push_back(static_cast<std::int32_t>(r.x.size()) - 1);
    }
    return r;
}

bool insideSingle(const Region& r, double xp, double yp, double xmin) {
    std::vector<float> x(r.x.begin(), r.x.end()), y(r.y.begin(), r.y.end());
    return INSIDE_POLYGON(float(xp), float(yp), x.data(), y.data(),
                          static_cast<std::int32_t>(x.size()), float(xmin), r.ends.data(),
                          static_cast<std::int32_t>(r.ends.size()));
}

bool insideDouble(const Region& r, double xp, double yp, double xmin) {
    return INSIDE_POLYGON_8(xp, yp, r.x.data(), r.y.data(), static_cast<std::int32_t>(r.x.size()),
                            xmin, r.ends.data(), static_cast<std::int32_t>(r.ends.size()));
}

TEST(GeometryInsidePolygon, Regions) {
    const Region square = region({{{0, 0}, {1, 0}, {1, 1}, {0, 1}}});
    const Region diamond = region({{{1, 0}, {2, 1}, {1, 2}, {0, 1}}});
    // The same diamond starting one vertex earlier: its second entry, (0, 1), lies on the
    // probe's line of the points below, before the edge that arrives at it has been seen.
    const Region diamondFromTop = region({{{1, 2}, {0, 1}, {1, 0}, {2, 1}}});
    const Region withHole =
        region({{{0, 0}, {10, 0}, {10, 10}, {0, 10}}, {{3, 3}, {7, 3}, {7, 7}, {3, 7}}});
    // A U shape whose notch floor (4,2)-(2,2) lies on the probe's line y = 2.
    const Region notched =
        region({{{0, 0}, {6, 0}, {6, 4}, {4, 4}, {4, 2}, {2, 2}, {2, 4}, {0, 4}}});
    // An L shape whose step (4,2)-(2,2) is crossed by the probe's line y = 2.
    const Region stepped = region({{{0, 0}, {4, 0}, {4, 2}, {2, 2}, {2, 4}, {0, 4}}});
    struct Case {
        const char* name;
        const Region* r;
        double xp, yp;
        bool expected;
    };
    const Case cases[] = {
        {"square centre", &square, 0.5, 0.5, true},
        {"square right", &square, 1.5, 0.5, false},
        {"square bottom edge", &square, 0.5, 0, false},
        {"square left", &square, -0.5, 0.5, false},
        {"diamond", &diamond, 1.5, 1, true},  // the vertex (0,1) on the line counts once
        {"diamond left half", &diamond, 0.5, 1, true},
        {"diamond outside", &diamond, 2.5, 1, false},
        {"diamond from top", &diamondFromTop, 1.5, 1, true},
        {"diamond from top, left", &diamondFromTop, 0.5, 1, true},
        {"diamond from top, outside", &diamondFromTop, 2.5, 1, false},
        {"hole: outer ring", &withHole, 1, 5, true},
        {"hole: in the hole", &withHole, 5, 5, false},
        {"hole: right of the hole", &withHole, 8.5, 5, true},
        {"hole: outside", &withHole, 11, 5, false},
        {"notch: right arm", &notched, 5, 2, true},
        {"notch: below the floor", &notched, 3, 1, true},
        {"notch: in the notch", &notched, 3, 3, false},
        {"notch: outside", &notched, 7, 2, false},
        {"step: lower part", &stepped, 1, 2, true},
        {"step: right of the step", &stepped, 5, 2, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(insideSingle(*c.r, c.xp, c.yp, 0), c.expected) << c.name;
        EXPECT_EQ(insideDouble(*c.r, c.xp, c.yp, 0), c.expected) << c.name;
    }
    // The answer for a ring starting on the probe's line does not depend on earlier calls.
    for (double y : {0.0, 2.0, -5.0}) {
        const Region other = region({{{0, y}, {1, 1}, {0, 2}}});
        insideSingle(other, 9, 1, 0);
        insideDouble(other, 9, 1, 0);
        EXPECT_TRUE(insideSingle(diamondFromTop, 0.5, 1, 0)) << y;
        EXPECT_TRUE(insideDouble(diamondFromTop, 0.5, 1, 0)) << y;
    }
}

TEST(GeometryInsidePolygon, DoubleTwinKeepsWorldCoordinates) {
    // Edges at x = 1000000.1 and 1000000.3: in single precision both test points round onto
    // the right edge.
    const Region strip = region({{{1000000.1, 0}, {1000000.3, 0}, {1000000.3, 1}, {1000000.1, 1}}});
    EXPECT_TRUE(insideDouble(strip, 1000000.29, 0.5, 1000000.1));
    EXPECT_FALSE(insideDouble(strip, 1000000.31, 0.5, 1000000.1));
}

TEST(GeometryInsidePolygon, TooFewEntriesIsOutside) {
    const float x[2] = {0, 1}, y[2] = {0, 1};
    const double xd[2] = {0, 1}, yd[2] = {0, 1};
    const std::int32_t ends[1] = {1};
    for (std::int32_t n : {-3, 0, 1, 2}) {
        EXPECT_FALSE(INSIDE_POLYGON(0.5f, 0.5f, x, y, n, 0.0f, ends, 1));
        EXPECT_FALSE(INSIDE_POLYGON_8(0.5, 0.5, xd, yd, n, 0.0, ends, 0));
    }
}

// Runs a call that must end the process, with no standard input and the console on standard
// error so that the death test can read it.
template <typename F>
void consoleToStderr(F call) {
    std::fflush(stdout);
    dup2(2, 1);
    if (!std::freopen(kelvara::test::kNullDevice, "r", stdin)) std::_Exit(99);
    call();
}

TEST(GeometryInsidePolygonDeathTest, RingCountUsedUpBeforeTheEntries) {
    const Region twoRings =
        region({{{0, 0}, {10, 0}, {10, 10}, {0, 10}}, {{3, 3}, {7, 3}, {7, 7}, {3, 7}}});
    std::vector<float> x(twoRings.x.begin(), twoRings.x.end());
    std::vector<float> y(twoRings.y.begin(), twoRings.y.end());
    const std::int32_t n = static_cast<std::int32_t>(x.size());
    const char* message =
        "\nERROR - Invalid number of polygons in region sent to inside_polygon routine - "
        "contact support@kelvara.example\n";
    EXPECT_EXIT(consoleToStderr([&] {
                    INSIDE_POLYGON(1, 5, x.data(), y.data(), n, 0, twoRings.ends.data(), 1);
                }),
                ::testing::ExitedWithCode(1), message);
    EXPECT_EXIT(consoleToStderr([&] {
                    INSIDE_POLYGON_8(1, 5, twoRings.x.data(), twoRings.y.data(), n, 0,
                                     twoRings.ends.data(), 1);
                }),
                ::testing::ExitedWithCode(1), message);
    // No ring at all for entries that need one.
    EXPECT_EXIT(consoleToStderr([&] {
                    INSIDE_POLYGON(1, 5, x.data(), y.data(), n, 0, twoRings.ends.data(), 0);
                }),
                ::testing::ExitedWithCode(1), "Invalid number of polygons");
}

TEST(GeometryGeoShift, MovesAndTurns) {
    const double x[3] = {500000.25, 6000000.123456789, 500001};
    const double y[3] = {7000000.5, 7000000, 7000000};
    float u[3] = {-1, -1, -1}, v[3] = {-1, -1, -1};
    GEO_SHIFT(x, y, 2, 500000, 7000000, 0.0f, u, v);
    EXPECT_EQ(u[0], 0.25f);
    EXPECT_EQ(v[0], 0.5f);
    EXPECT_EQ(u[1], static_cast<float>(6000000.123456789 - 500000));
    EXPECT_EQ(v[1], 0.0f);
    EXPECT_EQ(u[2], -1.0f);  // only n points
    // A quarter turn: the u axis points along y.
    const float quarter = 1.57079637f;
    GEO_SHIFT(x + 2, y + 2, 1, 500000, 7000000, quarter, u, v);
    EXPECT_NEAR(u[0], 0.0f, 1e-6f);
    EXPECT_EQ(v[0], -1.0f);
    // n <= 0 does nothing.
    u[0] = v[0] = 42.0f;
    GEO_SHIFT(x, y, 0, 0, 0, 0.0f, u, v);
    GEO_SHIFT(x, y, -1, 0, 0, 0.0f, u, v);
    EXPECT_EQ(u[0], 42.0f);
    EXPECT_EQ(v[0], 42.0f);
}

TEST(GeometrySubGridArea, Window) {
    struct Case {
        std::vector<float> x, y;
        float cell;
        std::int32_t rowLimit, columnLimit;
        std::int32_t firstRow, firstColumn, lastRow, lastColumn;
    };
    const Case cases[] = {
        {{0.5f, 2.5f, 1.5f}, {0.5f, 1.5f, 3.5f}, 1, 10, 10, 1, 1, 4, 3},
        {{0.5f, 2.5f, 1.5f}, {0.5f, 1.5f, 3.5f}, 2, 10, 10, 1, 1, 2, 2},
        {{-1.5f, 2, 1}, {0, 0, 1}, 1, 10, 10, 1, 0, 2, 3},   // trunc(-1.5) + 1 = 0
        {{-3.5f, 2, 1}, {-7, 0, 1}, 1, 10, 10, 0, 0, 2, 3},  // raised to 0, not 1
        {{1, 30, 2}, {1, 2, 50}, 1, 8, 9, 2, 2, 8, 9},      // lowered to the limits
        {{2, 2.5f}, {2, 2.5f}, 1, 10, 10, 3, 3, 3, 3},      // a boundary belongs to the cell after it
    };
    for (const Case& c : cases) {
        std::int32_t fr = -9, fc = -9, lr = -9, lc = -9;
        float xmin = 0, ymin = 0, xmax = 0, ymax = 0;
        SET_SUB_GRID_AREA(c.x.data(), c.y.data(), static_cast<std::int32_t>(c.x.size()), c.cell,
                          c.rowLimit, c.columnLimit, fr, fc, lr, lc, xmin, ymin, xmax, ymax);
        EXPECT_EQ(fr, c.firstRow) << c.x[0];
        EXPECT_EQ(fc, c.firstColumn) << c.x[0];
        EXPECT_EQ(lr, c.lastRow) << c.x[0];
        EXPECT_EQ(lc, c.lastColumn) << c.x[0];
        EXPECT_EQ(xmin, *std::min_element(c.x.begin(), c.x.end()));
        EXPECT_EQ(xmax, *std::max_element(c.x.begin(), c.x.end()));
        EXPECT_EQ(ymin, *std::min_element(c.y.begin(), c.y.end()));
        EXPECT_EQ(ymax, *std::max_element(c.y.begin(), c.y.end()));
    }
    // No points: nothing written. A zero cell size stays within the limits.
    std::int32_t fr = -9, fc = -9, lr = -9, lc = -9;
    float xmin = -9, ymin = -9, xmax = -9, ymax = -9;
    const float x[2] = {1, 3}, y[2] = {1, 3};
    SET_SUB_GRID_AREA(x, y, 0, 1, 10, 10, fr, fc, lr, lc, xmin, ymin, xmax, ymax);
    EXPECT_EQ(fr, -9);
    EXPECT_EQ(xmin, -9.0f);
    SET_SUB_GRID_AREA(x, y, 2, 0, 10, 12, fr, fc, lr, lc, xmin, ymin, xmax, ymax);
    EXPECT_EQ(lr, 10);
    EXPECT_EQ(lc, 12);
}

TEST(GeometryHydParam, SegmentProperties) {
    const float root8 = 2.82842708f;  // the single-precision square root of 8
    struct Case {
        float x1, z1, x2, z2, level, factor;
        float area, width, perimeter;
    };
    const Case cases[] = {
        {0, 0, 2, 2, 3, 1, 4, 2, root8},      // both ends wet
        {2, 0, 0, 2, 3, 1, -4, -2, root8},    // x2 < x1: negative area and width
        {0, 0, 2, 2, 3, 0, 0, 0, 0},          // factor 0
        {0, 0, 2, 2, 3, -1, 0, 0, 0},         // negative factor
        {0, 0, 2, 2, -1, 1, 0, 0, 0},         // both ends dry
        {0, 1, 2, 3, 1, 1, 0, 0, 0},          // level exactly at z1, below z2
        {0, 0, 4, 4, 2, 1, 2, 2, root8},      // only the first end wet
        {0, 4, 4, 0, 2, 1, 2, 2, root8},      // only the second end wet
        {0, 2, 4, 2, 2, 1, 0, 4, 4},          // flat bed at the level
        {0, 0, 4, 0, 1, 0.25f, 4, 4, 4},      // only the factor's sign counts
    };
    for (const Case& c : cases) {
        float area = -1, width = -1, perimeter = -1;
        HYD_PARAM(c.x1, c.z1, c.x2, c.z2, c.level, c.factor, area, width, perimeter);
        EXPECT_EQ(area, c.area) << c.x1 << "," << c.z1 << "-" << c.x2 << "," << c.z2;
        EXPECT_EQ(width, c.width) << c.x1 << "," << c.z1 << "-" << c.x2 << "," << c.z2;
        EXPECT_EQ(perimeter, c.perimeter) << c.x1 << "," << c.z1 << "-" << c.x2 << "," << c.z2;
    }
}

TEST(GeometryHydParam, HalvesWithTheirOwnFactors) {
    const float root8 = 2.82842708f;
    float a1, a2, w1, w2, p1, p2;
    HYD_PARAM2(0, 0, 1, 4, 4, 1, 4, a1, a2, w1, w2, p1, p2);
    EXPECT_EQ(a1, 6.0f);
    EXPECT_EQ(a2, 2.0f);  // the halves add up to the whole segment's 8
    EXPECT_EQ(w1, 2.0f);
    EXPECT_EQ(w2, 2.0f);
    EXPECT_EQ(p1, root8);
    EXPECT_EQ(p2, root8);
    HYD_PARAM2(0, 0, 1, 4, 4, 0, 4, a1, a2, w1, w2, p1, p2);
    EXPECT_EQ(a1, 6.0f);
    EXPECT_EQ(a2, 0.0f);
    EXPECT_EQ(w2, 0.0f);
    EXPECT_EQ(p2, 0.0f);
}

TEST(GeometryCircleWidth, PartFullCircle) {
    struct Case {
        float radius, depth, expected;
    };
    const Case cases[] = {
        {1, 1, 2},
        {1, 0.000005f, 0},
        {1, 1.999995f, 0},
        {1, 1e-5f, 0.00895034336f},  // exactly 1.0E-5 is not below it
        {1, 0.5f, 1.73205078f},
        {1, 0, 0},
        {1, 2, 0},
        {1, 3, 0},
        {0, 0.5f, 0},
        {2, 2, 4},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CIRCLE_WIDTH(c.radius, c.depth), c.expected) << c.radius << " " << c.depth;
}

}  // namespace
