// The flow angle: a single-precision atan2 computed the same way one node at a time and whole
// vectors of nodes at a time.
//
// Every operation below rounds to single precision on its own. A multiply and an add fused into
// one instruction would round once instead of twice and change results (AVX-512 has such
// instructions), so this file is built with contraction off (CMakeLists.txt).
#include "steps/flow_angle.h"

#include <cstdint>
#include <cstring>

namespace kelvara {
namespace {

constexpr float kRadiansToDegrees = 180.0f / 3.14159265358979323846f;

constexpr std::uint32_t kSignBit = 0x80000000u;
constexpr std::uint32_t kInfinityBits = 0x7F800000u;
constexpr std::uint32_t kQuietBit = 0x00400000u;

// Bounds of the arc tangent's intervals, as the bits of the (non-negative) argument.
constexpr std::uint32_t kBelow7_16 = 0x3EE00000u;   // 7/16: no reduction below
constexpr std::uint32_t kBelow11_16 = 0x3F300000u;  // 11/16: around 1/2 below
constexpr std::uint32_t kBelow19_16 = 0x3F980000u;  // 19/16: around 1 below
constexpr std::uint32_t kBelow39_16 = 0x401C0000u;  // 39/16: around 3/2 below, around infinity above
constexpr std::uint32_t kFrom2To25 = 0x4C000000u;   // 2^25: pi/2 from here on

// atan(1/2), atan(1), atan(3/2) and atan(infinity) = pi/2, each as a head and a small tail.
constexpr float kAtanHead[4] = {0x1.dac670p-2f, 0x1.921fb4p-1f, 0x1.f730bcp-1f, 0x1.921fb4p+0f};
constexpr float kAtanTail[4] = {0x1.586ed2p-28f, 0x1.4442d0p-25f, 0x1.281f68p-25f,
                                0x1.4442d0p-24f};
// atan(x) ~ x - x * (c0 z + c1 z^2 + ... + c10 z^11), z = x^2.
constexpr float kC0 = 0x1.555556p-2f;
constexpr float kC1 = -0x1.99999ap-3f;
constexpr float kC2 = 0x1.24924ap-3f;
constexpr float kC3 = -0x1.c71c70p-4f;
constexpr float kC4 = 0x1.745cdcp-4f;
constexpr float kC5 = -0x1.3b0f2ap-4f;
constexpr float kC6 = 0x1.10d66ap-4f;
constexpr float kC7 = -0x1.dde2d6p-5f;
constexpr float kC8 = 0x1.97b4b2p-5f;
constexpr float kC9 = -0x1.2b4442p-5f;
constexpr float kC10 = 0x1.0ad3aep-6f;

constexpr float kPi = 0x1.921fb6p+1f;
constexpr float kPiTail = -0x1.777a5cp-24f;  // pi - kPi
constexpr float kHalfPi = 0x1.921fb6p+0f;
constexpr float kQuarterPi = 0x1.921fb6p-1f;
constexpr float kThreeQuarterPi = 3.0f * kQuarterPi;
constexpr float kAtanOfHuge = kAtanHead[3] + kAtanTail[3];

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

// ---- One node at a time ------------------------------------------------------------------

// atan(t) for t >= 0, not NaN. No shortcut is needed for tiny t: t - t * (...) rounds to t.
float arcTangent(float t) {
    const std::uint32_t bits = bitsOf(t);
    if (bits >= kFrom2To25) return kAtanOfHuge;
    int interval = -1;
    float x = t;
    if (bits < kBelow7_16) {
        // used as it is
    } else if (bits < kBelow11_16) {
        interval = 0;
        x = (2.0f * t - 1.0f) / (2.0f + t);
    } else if (bits < kBelow19_16) {
        interval = 1;
        x = (t - 1.0f) / (t + 1.0f);
    } else if (bits < kBelow39_16) {
        interval = 2;
        x = (t - 1.5f) / (1.0f + 1.5f * t);
    } else {
        interval = 3;
        x = -1.0f / t;
    }
    const float z = x * x;
    const float w = z * z;
    const float odd = z * (kC0 + w * (kC2 + w * (kC4 + w * (kC6 + w * (kC8 + w * kC10)))));
    const float even = w * (kC1 + w * (kC3 + w * (kC5 + w * (kC7 + w * kC9))));
    if (interval < 0) return x - x * (odd + even);
    return kAtanHead[interval] - ((x * (odd + even) - kAtanTail[interval]) - x);
}

// atan2(a, b): the angle of the point (b, a), in radians.
float arcTangent2(float a, float b) {
    const std::uint32_t bitsA = bitsOf(a);
    const std::uint32_t bitsB = bitsOf(b);
    const std::uint32_t absA = bitsA & ~kSignBit;
    const std::uint32_t absB = bitsB & ~kSignBit;
    const bool negativeB = (bitsB & kSignBit) != 0;
    // NaN in, the quiet form of the first NaN of (b, a) out.
    if (absB > kInfinityBits) return fromBits(bitsB | kQuietBit);
    if (absA > kInfinityBits) return fromBits(bitsA | kQuietBit);

    // The angle for a >= 0; a negative a (-0 included) mirrors it.
    float angle;
    if (absA == 0) {
        angle = negativeB ? kPi : 0.0f;
    } else if (absB == 0) {
        angle = kHalfPi;
    } else if (absB == kInfinityBits) {
        if (absA == kInfinityBits) {
            angle = negativeB ? kThreeQuarterPi : kQuarterPi;
        } else {
            angle = negativeB ? kPi : 0.0f;
        }
    } else if (absA == kInfinityBits) {
        angle = kHalfPi;
    } else {
        // A ratio that overflows or underflows needs no care: at 2^25 and above atan is pi/2
        // already, and a z below 2^-60 is lost in z - kPiTail.
        const float z = arcTangent(fromBits(absA) / fromBits(absB));
        angle = negativeB ? kPi - (z - kPiTail) : z;
    }
    return fromBits(bitsOf(angle) | (bitsA & kSignBit));
}

float flowAngle(float x, float y) { return arcTangent2(x, y) * kRadiansToDegrees; }

// ---- Whole vectors of nodes ----------------------------------------------------------------
//
// The same operations lane by lane, with every choice made by masks: all candidates are
// computed and each lane keeps its own. F is a vector of floats and I the vector of 32-bit
// integers of the same lanes. The code is written once with the compiler's vector types and
// compiled for each instruction set.
//
// A mask has all bits set in the lanes where a condition holds and none elsewhere. Masks come
// from the sign of a difference spread over the lane by >> 31 (x - k for x < k, (x ^ k) - 1 for
// x == k), with x and k in [0, 2^31) so that nothing overflows, rather than from comparisons:
// GCC does some combinations of comparisons of 64-byte vectors one lane at a time. Vectors are
// passed to the helpers by reference only, as by value their calling convention would differ
// between instruction sets.

#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
#define KELVARA_FLOW_ANGLE_VECTORS 1

#define KELVARA_LANES inline __attribute__((always_inline))

constexpr std::int32_t laneBits(float f) { return __builtin_bit_cast(std::int32_t, f); }
constexpr std::int32_t kInfinity = static_cast<std::int32_t>(kInfinityBits);

// value = replacement in the lanes where mask is set.
template <class I>
KELVARA_LANES void replaceWhere(I& value, const I& mask, const I& replacement) {
    value = (replacement & mask) | (value & ~mask);
}

// value = the constant c[k] of each lane's interval k, from the nested masks below[0..3] (below
// 39/16, 19/16, 11/16, 7/16): each mask that holds swaps the previous interval's constant for
// its own. c[0] belongs to the interval around infinity, c[4] to the arguments left as they are.
template <class I>
KELVARA_LANES void byInterval(I& value, const float (&c)[5], const I (&below)[4]) {
    const I first = I{} + laneBits(c[0]);
    value = first ^ (below[0] & (laneBits(c[0]) ^ laneBits(c[1]))) ^
            (below[1] & (laneBits(c[1]) ^ laneBits(c[2]))) ^
            (below[2] & (laneBits(c[2]) ^ laneBits(c[3]))) ^
            (below[3] & (laneBits(c[3]) ^ laneBits(c[4])));
}

// In every interval the reduced argument is (p t - q) / (p + q t): -1 / t, (t - 1.5) / (1 + 1.5 t),
// (t - 1) / (1 + t), (2 t - 1) / (2 + t) and t / 1, each rounding as written there.
constexpr float kReductionP[5] = {0.0f, 1.0f, 1.0f, 2.0f, 1.0f};
constexpr float kReductionQ[5] = {1.0f, 1.5f, 1.0f, 1.0f, 0.0f};
constexpr float kHeads[5] = {kAtanHead[3], kAtanHead[2], kAtanHead[1], kAtanHead[0], 0.0f};
constexpr float kTails[5] = {kAtanTail[3], kAtanTail[2], kAtanTail[1], kAtanTail[0], 0.0f};

template <class F, class I>
KELVARA_LANES void flowAngleLanes(const float* x, const float* y, float* angle) {
    F a;
    F b;
    std::memcpy(&a, x, sizeof a);
    std::memcpy(&b, y, sizeof b);
    const I bitsA = (I)a;
    const I bitsB = (I)b;
    const I absA = bitsA & 0x7FFFFFFF;
    const I absB = bitsB & 0x7FFFFFFF;
    const I signA = bitsA & ~0x7FFFFFFF;
    const I negativeB = bitsB >> 31;

    // atan(t), t = |a| / |b|. t is NaN where a or b is NaN or both are zero or infinite, lanes
    // answered below without it; clearing its sign bit keeps the masks' differences in range.
    const F t = (F)absA / (F)absB;
    const I bitsT = (I)t & 0x7FFFFFFF;
    const I below[4] = {(bitsT - static_cast<std::int32_t>(kBelow39_16)) >> 31,
                        (bitsT - static_cast<std::int32_t>(kBelow19_16)) >> 31,
                        (bitsT - static_cast<std::int32_t>(kBelow11_16)) >> 31,
                        (bitsT - static_cast<std::int32_t>(kBelow7_16)) >> 31};
    I p;
    I q;
    I head;
    I tail;
    byInterval(p, kReductionP, below);
    byInterval(q, kReductionQ, below);
    byInterval(head, kHeads, below);
    byInterval(tail, kTails, below);
    const F r = ((F)p * t - (F)q) / ((F)p + (F)q * t);
    const F z = r * r;
    const F w = z * z;
    const F odd = z * (kC0 + w * (kC2 + w * (kC4 + w * (kC6 + w * (kC8 + w * kC10)))));
    const F even = w * (kC1 + w * (kC3 + w * (kC5 + w * (kC7 + w * kC9))));
    // Where the argument is left as it is (head and tail 0) this is r - r * (odd + even),
    // negated twice, which changes no bit.
    I atan = (I)((F)head - ((r * (odd + even) - (F)tail) - r));
    const I hugeT = (static_cast<std::int32_t>(kFrom2To25 - 1) - bitsT) >> 31;
    replaceWhere(atan, hugeT, I{} + laneBits(kAtanOfHuge));

    // Into the left half-plane for a negative b.
    I result = atan;
    replaceWhere(result, negativeB, (I)(kPi - ((F)atan - kPiTail)));

    // Zeros and infinities: pi/2, or by the sign of b 0 or pi, pi/4 or 3 pi/4.
    const I zeroA = (absA - 1) >> 31;
    const I zeroB = (absB - 1) >> 31;
    const I infiniteA = ((absA ^ kInfinity) - 1) >> 31;
    const I infiniteB = ((absB ^ kInfinity) - 1) >> 31;
    const I zeroOrPi = negativeB & laneBits(kPi);
    I quarter = I{} + laneBits(kQuarterPi);
    replaceWhere(quarter, negativeB, I{} + laneBits(kThreeQuarterPi));
    I infinityB = zeroOrPi;
    replaceWhere(infinityB, infiniteA, quarter);
    I edge = I{} + laneBits(kHalfPi);
    replaceWhere(edge, infiniteB, infinityB);
    replaceWhere(edge, zeroA, zeroOrPi);
    replaceWhere(result, zeroA | zeroB | infiniteA | infiniteB, edge);
    result |= signA;

    // NaN: the quiet form of b if b is NaN, else of a.
    const I nanA = (kInfinity - absA) >> 31;
    const I nanB = (kInfinity - absB) >> 31;
    I nan = bitsA;
    replaceWhere(nan, nanB, bitsB);
    replaceWhere(result, nanA | nanB, nan | static_cast<std::int32_t>(kQuietBit));

    const F degrees = (F)result * kRadiansToDegrees;
    std::memcpy(angle, &degrees, sizeof degrees);
}

// Whether all lanes of a vector are at rest (both components +0): the angles are +0 then.
// Nodes at rest come in large groups (dry land), where this costs less than the arc tangents.
template <std::size_t lanes>
KELVARA_LANES bool atRest(const float* x, const float* y) {
    std::uint64_t any = 0;
    for (std::size_t k = 0; k < lanes; k += 2) {
        std::uint64_t pairX;
        std::uint64_t pairY;
        std::memcpy(&pairX, x + k, sizeof pairX);
        std::memcpy(&pairY, y + k, sizeof pairY);
        any |= pairX | pairY;
    }
    return any == 0;
}

template <class F, class I>
KELVARA_LANES std::size_t flowAngleBlocks(const float* x, const float* y, float* angle,
                                          std::size_t count) {
    constexpr std::size_t lanes = sizeof(F) / sizeof(float);
    std::size_t i = 0;
    for (; i + lanes <= count; i += lanes) {
        if (atRest<lanes>(x + i, y + i)) {
            std::memset(angle + i, 0, lanes * sizeof(float));
        } else {
            flowAngleLanes<F, I>(x + i, y + i, angle + i);
        }
    }
    return i;
}

typedef float Floats4 __attribute__((vector_size(16)));
typedef std::int32_t Ints4 __attribute__((vector_size(16)));

// Each returns how many nodes from the start it did (whole vectors only).
std::size_t flowAnglesSse2(const float* x, const float* y, float* angle, std::size_t count) {
    return flowAngleBlocks<Floats4, Ints4>(x, y, angle, count);
}

#if defined(__x86_64__) && !defined(_WIN32)
// (Not on Windows, where the compiler cannot keep 32- and 64-byte values aligned on the stack.)
#define KELVARA_FLOW_ANGLE_WIDE 1

typedef float Floats8 __attribute__((vector_size(32)));
typedef std::int32_t Ints8 __attribute__((vector_size(32)));
typedef float Floats16 __attribute__((vector_size(64)));
typedef std::int32_t Ints16 __attribute__((vector_size(64)));

__attribute__((target("avx2"))) std::size_t flowAnglesAvx2(const float* x, const float* y,
                                                           float* angle, std::size_t count) {
    return flowAngleBlocks<Floats8, Ints8>(x, y, angle, count);
}

__attribute__((target("avx512f"))) std::size_t flowAnglesAvx512(const float* x, const float* y,
                                                                float* angle,
                                                                std::size_t count) {
    return flowAngleBlocks<Floats16, Ints16>(x, y, angle, count);
}
#endif

using FlowAngleBlocks = std::size_t (*)(const float*, const float*, float*, std::size_t);

FlowAngleBlocks widestBlocks() {
#if defined(KELVARA_FLOW_ANGLE_WIDE)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return flowAnglesAvx512;
    if (__builtin_cpu_supports("avx2")) return flowAnglesAvx2;
#endif
    return flowAnglesSse2;
}

#endif  // vectors

}  // namespace

void FLOW_ANGLES(const float* x, const float* y, float* angle, std::size_t count) {
    std::size_t i = 0;
#if defined(KELVARA_FLOW_ANGLE_VECTORS)
    static const FlowAngleBlocks widest = widestBlocks();
    i = widest(x, y, angle, count);
    i += flowAnglesSse2(x + i, y + i, angle + i, count - i);
#endif
    for (; i < count; ++i) angle[i] = flowAngle(x[i], y[i]);
}

}  // namespace kelvara
