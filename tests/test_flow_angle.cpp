// FLOW_ANGLES: the flow angle of every vector, the same bits whatever the count, the start or the
// instruction set, and the same bits as the tool's earlier node-by-node expression where the C
// library's atan2f is the one the tool's results were first computed with. A multiply and add
// fused by the compiler would change about one angle in a thousand of the random pairs.
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "steps/flow_angle.h"

namespace kelvara {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

std::uint32_t bitsOf(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

float fromBits(std::uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// The tool's expression before FLOW_ANGLES, one node at a time (through volatile, so that the
// compiler cannot compute the arc tangent of a constant itself).
float libraryAngle(float x, float y) {
    constexpr float kRadiansToDegrees = 180.0f / 3.14159265358979323846f;
    const volatile float vx = x;
    const volatile float vy = y;
    const float cx = vx;
    const float cy = vy;
    return (bitsOf(cx) | bitsOf(cy)) == 0 ? 0.0f : std::atan2(cx, cy) * kRadiansToDegrees;
}

// Whether std::atan2 here is the one the tool's results were first computed with, judged by
// pairs where that one is not correctly rounded (another library, or a later one, may differ).
bool libraryIsReference() {
#if defined(__GLIBC__) && defined(__x86_64__)
    struct Probe {
        float x, y;
        std::uint32_t radians;
    };
    const Probe probes[] = {{0x1.1f5458p+1f, -0x1.047cfep+1f, 0x4013A9C6u},
                            {-0x1.2f56fap+2f, 0x1.2b4230p+0f, 0xBFAA1C36u},
                            {0x1.4f7476p-11f, 1.0f, 0x3A27BA39u}};
    for (const Probe& p : probes) {
        // Through volatile, or the compiler computes the constant's arc tangent itself.
        const volatile float x = p.x;
        const volatile float y = p.y;
        if (bitsOf(std::atan2(static_cast<float>(x), static_cast<float>(y))) != p.radians) {
            return false;
        }
    }
    return true;
#else
    return false;
#endif
}

// Units in the last place between two finite floats of the same sign.
std::int64_t ulpsApart(float a, float b) {
    return std::llabs(static_cast<std::int64_t>(bitsOf(a) & 0x7FFFFFFFu) -
                      static_cast<std::int64_t>(bitsOf(b) & 0x7FFFFFFFu));
}

// angle against (x, y): bit for bit against the reference library, elsewhere NaN for NaN and
// otherwise close to the double-precision angle (the single-precision arc tangent and the
// conversion to degrees together are off by up to 3 units in the last place).
void expectAngle(float x, float y, float angle) {
    static const bool reference = [] {
        const bool is = libraryIsReference();
        if (!is) std::printf("(angles checked against double precision, not bit for bit)\n");
        return is;
    }();
    if (reference) {
        EXPECT_EQ(bitsOf(angle), bitsOf(libraryAngle(x, y)))
            << std::hexfloat << "x " << x << " y " << y << " angle " << angle;
        return;
    }
    if (std::isnan(x) || std::isnan(y)) {
        EXPECT_TRUE(std::isnan(angle)) << std::hexfloat << "x " << x << " y " << y;
        return;
    }
    const double exact = std::atan2(static_cast<double>(x), static_cast<double>(y)) *
                         (180.0 / 3.14159265358979323846);
    if (std::fabs(exact) < 1e-30) {  // underflowed ratios lose their relative precision
        EXPECT_LE(std::fabs(angle - exact), 1e-35) << std::hexfloat << "x " << x << " y " << y;
    } else {
        EXPECT_TRUE(std::signbit(angle) == std::signbit(exact) &&
                    ulpsApart(angle, static_cast<float>(exact)) <= 4)
            << std::hexfloat << "x " << x << " y " << y << " angle " << angle;
    }
}

// FLOW_ANGLES over whole arrays and node by node: the same bits both ways.
std::vector<float> anglesBothWays(const std::vector<float>& x, const std::vector<float>& y) {
    std::vector<float> whole(x.size());
    FLOW_ANGLES(x.data(), y.data(), whole.data(), x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        float one;
        FLOW_ANGLES(&x[i], &y[i], &one, 1);
        EXPECT_EQ(bitsOf(one), bitsOf(whole[i])) << std::hexfloat << x[i] << " " << y[i];
    }
    return whole;
}

TEST(FlowAngles, KnownAngles) {
    struct Case {
        float x, y, degrees;
    };
    const Case cases[] = {
        {0.0f, 0.0f, 0.0f},       {-0.0f, 0.0f, -0.0f},     {0.0f, -0.0f, 180.0f},
        {-0.0f, -0.0f, -180.0f},  {0.0f, 1.0f, 0.0f},       {-0.0f, 2.5f, -0.0f},
        {0.0f, -1.0f, 180.0f},    {-0.0f, -1.0f, -180.0f},  {1.0f, 0.0f, 90.0f},
        {-2.0f, -0.0f, -90.0f},   {1.0f, 1.0f, 45.0f},      {1.0f, -1.0f, 135.0f},
        {-1.0f, 1.0f, -45.0f},    {-1.0f, -1.0f, -135.0f},  {std::sqrt(3.0f), 1.0f, 60.0f},
        {1.0f, std::sqrt(3.0f), 30.0f},                     {kInf, kInf, 45.0f},
        {-kInf, kInf, -45.0f},    {kInf, -kInf, 135.0f},    {-kInf, -kInf, -135.0f},
        {3.0f, kInf, 0.0f},       {-3.0f, kInf, -0.0f},     {3.0f, -kInf, 180.0f},
        {-3.0f, -kInf, -180.0f},  {kInf, 3.0f, 90.0f},      {-kInf, -3.0f, -90.0f},
        {1e30f, 1e-30f, 90.0f},   {1e-30f, -1e30f, 180.0f}, {-1e-30f, -1e30f, -180.0f},
        {1e-30f, 1e30f, 0.0f},    {-FLT_MAX, FLT_MIN, -90.0f}};
    std::vector<float> x;
    std::vector<float> y;
    for (const Case& c : cases) {
        x.push_back(c.x);
        y.push_back(c.y);
    }
    const std::vector<float> angles = anglesBothWays(x, y);
    for (std::size_t i = 0; i < x.size(); ++i) {
#if FLT_EVAL_METHOD == 0
        EXPECT_EQ(bitsOf(angles[i]), bitsOf(cases[i].degrees))
#else  // intermediate results kept wider than float may move the last bit
        EXPECT_TRUE(std::signbit(angles[i]) == std::signbit(cases[i].degrees) &&
                    ulpsApart(angles[i], cases[i].degrees) <= 1)
#endif
            << std::hexfloat << "x " << x[i] << " y " << y[i] << " angle " << angles[i];
        expectAngle(x[i], y[i], angles[i]);
    }
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(std::isnan(anglesBothWays({nan, 1.0f, nan}, {1.0f, nan, nan})[2]));
}

// Every pair of special values, both signs of each: zeros, infinities, NaNs with payloads
// (signalling ones too), subnormals, the extremes, exactly 1, the bounds of the arc tangent's
// intervals and their neighbours, ratios around 2^60 and 2^-60.
TEST(FlowAngles, SpecialInputs) {
    std::vector<float> magnitudes = {0.0f,
                                     kInf,
                                     fromBits(0x7FC00000u),
                                     fromBits(0x7FC12345u),
                                     fromBits(0x7F800001u),
                                     fromBits(0x7FA00000u),
                                     fromBits(0x00000001u),
                                     fromBits(0x007FFFFFu),
                                     FLT_MIN,
                                     FLT_MAX,
                                     0.3f,
                                     2.5f,
                                     4.0f,
                                     1e-20f,
                                     1e20f};
    for (float bound : {1.0f, 7.0f / 16, 11.0f / 16, 19.0f / 16, 39.0f / 16, 0x1p25f}) {
        magnitudes.push_back(bound);
        magnitudes.push_back(std::nextafter(bound, 0.0f));
        magnitudes.push_back(std::nextafter(bound, kInf));
    }
    // Arguments whose angles with y = 1 change with the last bit of one of the arc tangent's
    // constants (any of them whose last bit changes an angle between 1/4 and 3).
    for (float t : {0x1.000016p-2f, 0x1.0003acp-2f, 0x1.001026p-2f, 0x1.0255e8p-2f,
                    0x1.0010c0p-2f, 0x1.062a44p-2f, 0x1.0fbe8ap-2f, 0x1.1a93f8p-2f,
                    0x1.461096p-2f, 0x1.8eae20p-2f, 0x1.62c816p-2f, 0x1.9beb12p-2f,
                    0x1.c00002p-2f, 0x1.6p-1f,      0x1.3p+0f,      0x1.300002p+0f,
                    0x1.38p+1f}) {
        magnitudes.push_back(t);
    }
    for (int gap = 58; gap <= 63; ++gap) {
        magnitudes.push_back(std::ldexp(1.0f, gap));
        magnitudes.push_back(std::ldexp(1.75f, gap));
        magnitudes.push_back(std::ldexp(1.0f, -gap));
        magnitudes.push_back(std::ldexp(1.75f, -gap));
    }
    std::vector<float> values;
    for (float m : magnitudes) {
        values.push_back(m);
        values.push_back(fromBits(bitsOf(m) | 0x80000000u));
    }
    std::vector<float> x;
    std::vector<float> y;
    for (float a : values) {
        for (float b : values) {
            x.push_back(a);
            y.push_back(b);
        }
    }
    const std::vector<float> angles = anglesBothWays(x, y);
    for (std::size_t i = 0; i < x.size(); ++i) expectAngle(x[i], y[i], angles[i]);
}

// Random pairs, a fixed seed: bit patterns of every kind and velocities as the models write
// them (a component within 5 m/s, some nodes at rest).
TEST(FlowAngles, RandomPairs) {
    std::mt19937_64 random(20240611);
    std::uniform_real_distribution<float> velocity(-5.0f, 5.0f);
    constexpr std::size_t kPairs = 3000000;
    std::vector<float> x(kPairs);
    std::vector<float> y(kPairs);
    for (std::size_t i = 0; i < kPairs; ++i) {
        if (i % 2 == 0) {
            const std::uint64_t r = random();
            x[i] = fromBits(static_cast<std::uint32_t>(r));
            y[i] = fromBits(static_cast<std::uint32_t>(r >> 32));
        } else if (i % 16 == 1) {
            x[i] = 0.0f;
            y[i] = 0.0f;
        } else {
            x[i] = velocity(random);
            y[i] = velocity(random);
        }
    }
    std::vector<float> angles(kPairs);
    FLOW_ANGLES(x.data(), y.data(), angles.data(), kPairs);
    for (std::size_t i = 0; i < kPairs && !HasFailure(); ++i) expectAngle(x[i], y[i], angles[i]);
}

// Every count from 0 to 17 from every start within a vector, into another array and in place
// over either input: the node-by-node bits, and nothing written outside the range. The first 20
// nodes are at rest, the next one only looks so (a component -0).
TEST(FlowAngles, EveryCountAndStart) {
    std::mt19937 random(17);
    std::uniform_real_distribution<float> velocity(-5.0f, 5.0f);
    constexpr std::size_t kSize = 64;
    std::vector<float> x(kSize, 0.0f);
    std::vector<float> y(kSize, 0.0f);
    for (std::size_t i = 21; i < kSize; ++i) {
        x[i] = i % 5 == 0 ? 0.0f : velocity(random);
        y[i] = i % 7 == 0 ? 0.0f : velocity(random);
    }
    y[20] = -0.0f;
    x[23] = kInf;
    y[26] = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> single(kSize);
    for (std::size_t i = 0; i < kSize; ++i) FLOW_ANGLES(&x[i], &y[i], &single[i], 1);

    const float sentinel = fromBits(0x7FC0BEEFu);
    for (int target = 0; target < 3; ++target) {  // another array, in place of x, of y
        for (std::size_t start = 0; start < 16; ++start) {
            for (std::size_t count = 0; count <= 17; ++count) {
                std::vector<float> xs = x;
                std::vector<float> ys = y;
                std::vector<float> out(kSize, sentinel);
                std::vector<float>& angles = target == 0 ? out : target == 1 ? xs : ys;
                FLOW_ANGLES(xs.data() + start, ys.data() + start, angles.data() + start, count);
                const std::vector<float>& before = target == 0 ? out : target == 1 ? x : y;
                for (std::size_t i = 0; i < kSize; ++i) {
                    const bool inside = i >= start && i < start + count;
                    const float expected = inside ? single[i]
                                           : target == 0 ? sentinel
                                                         : before[i];
                    ASSERT_EQ(bitsOf(angles[i]), bitsOf(expected))
                        << "target " << target << " start " << start << " count " << count
                        << " node " << i;
                }
            }
        }
    }
}

}  // namespace
}  // namespace kelvara
