// Exported C boundary of the triangle and element interpolation routines: every argument by
// pointer, logical results as -1 / 0.
#include "kelvara.h"
#include "library/interpolation.h"
#include "util/field.h"

extern "C" {

KELVARA_API kelvara_logical KELVARA_CALL INTERPOLATE_TRIANGLE(const float* xp, const float* yp,
                                                              const float* x, const float* y,
                                                              const float* z, float* result) {
    return kelvara::toLogical(kelvara::INTERPOLATE_TRIANGLE(*xp, *yp, x, y, z, *result));
}

KELVARA_API kelvara_logical KELVARA_CALL INTERPOLATE_TRIANGLE_8(const double* xp,
                                                                const double* yp,
                                                                const double* x,
                                                                const double* y, const float* z,
                                                                float* result) {
    return kelvara::toLogical(kelvara::INTERPOLATE_TRIANGLE_8(*xp, *yp, x, y, z, *result));
}

KELVARA_API kelvara_logical KELVARA_CALL INTERPOLATE_ELEMENT_8(
    const double* xp, const double* yp, const double* x, const double* y, const float* z,
    const int32_t* vertexCount, const double* xmin, float* result) {
    return kelvara::toLogical(
        kelvara::INTERPOLATE_ELEMENT_8(*xp, *yp, x, y, z, *vertexCount, *xmin, *result));
}

}  // extern "C"
