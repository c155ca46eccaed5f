#include "formats/dataset.h"

#include <cmath>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kelvara {

float VECTOR_MAGNITUDE(float x, float y) {
    if (std::fabs(x) <= 1.0E-5f && std::fabs(y) <= 1.0E-5f) return 0.0f;
    return std::sqrt(x * x + y * y);
}

void VECTOR_MAGNITUDES(const float* x, const float* y, float* magnitude, std::size_t count) {
    std::size_t i = 0;
#if defined(__SSE2__)
    // The same single-precision operations four lanes at a time; the square root instruction
    // rounds exactly as std::sqrt(float) does.
    const __m128 noSign = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    const __m128 tiny = _mm_set1_ps(1.0E-5f);
    for (; i + 4 <= count; i += 4) {
        const __m128 vx = _mm_loadu_ps(x + i);
        const __m128 vy = _mm_loadu_ps(y + i);
        const __m128 small = _mm_and_ps(_mm_cmple_ps(_mm_and_ps(vx, noSign), tiny),
                                        _mm_cmple_ps(_mm_and_ps(vy, noSign), tiny));
        const __m128 length = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(vx, vx), _mm_mul_ps(vy, vy)));
        _mm_storeu_ps(magnitude + i, _mm_andnot_ps(small, length));
    }
#endif
    for (; i < count; ++i) magnitude[i] = VECTOR_MAGNITUDE(x[i], y[i]);
}

}  // namespace kelvara
