// Flow angles of velocity vectors (the -va operation).
#pragma once

#include <cstddef>

namespace kelvara {

// The flow angle in degrees of each of count vectors: angle[i] is the single-precision arc
// tangent atan2(x[i], y[i]) (the direction of the vector measured from the y axis towards the x
// axis, -180 to 180) times 180 / pi; +0 for a node at rest (both components +0); NaN where a
// component is NaN (the quiet form of y[i] if that is NaN, else of x[i]).
//
// The arc tangent is the tool's own single-precision algorithm: NaNs, zeros and infinities
// answered directly, otherwise z = atan(|x / y|) by reduction to one of four intervals around
// 1/2, 1, 3/2 and infinity (none below 7/16) and an odd polynomial of degree 23, then moved into
// the vector's quadrant. The tool first computed its angles one node at a time with the C
// library's atan2f of 64-bit Linux; these are the same bits. They are also the same for every
// count and start: several nodes are done at once with SSE2, AVX2 or AVX-512 (chosen at run
// time), the rest one at a time by the same operations.
//
// angle may be the same array as x or y.
void FLOW_ANGLES(const float* x, const float* y, float* angle, std::size_t count);

}  // namespace kelvara
