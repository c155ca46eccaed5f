// Exported C boundary of the planar geometry routines: every argument by pointer, logical
// results as -1 / 0.
#include "kelvara.h"
#include "library/geometry.h"
#include "util/field.h"

extern "C" {

KELVARA_API float KELVARA_CALL ANGLE2D(const double* x1, const double* y1, const double* x2,
                                       const double* y2, const double* x3, const double* y3,
                                       const double* x4, const double* y4) {
    return kelvara::ANGLE2D(*x1, *y1, *x2, *y2, *x3, *y3, *x4, *y4);
}

KELVARA_API float KELVARA_CALL DISTANCE(const float* x1, const float* y1, const float* x2,
                                        const float* y2) {
    return kelvara::DISTANCE(*x1, *y1, *x2, *y2);
}

KELVARA_API float KELVARA_CALL DISTANCE_8(const double* x1, const double* y1, const double* x2,
                                          const double* y2) {
    return kelvara::DISTANCE_8(*x1, *y1, *x2, *y2);
}

KELVARA_API kelvara_logical KELVARA_CALL SAME_POINT(const float* x1, const float* y1,
                                                    const float* x2, const float* y2,
                                                    const float* tolerance) {
    return kelvara::toLogical(kelvara::SAME_POINT(*x1, *y1, *x2, *y2, *tolerance));
}

KELVARA_API kelvara_logical KELVARA_CALL SAME_POINT_8(const double* x1, const double* y1,
                                                      const double* x2, const double* y2,
                                                      const double* tolerance) {
    return kelvara::toLogical(kelvara::SAME_POINT_8(*x1, *y1, *x2, *y2, *tolerance));
}

KELVARA_API float KELVARA_CALL SAME_SIDE(const float* x1, const float* y1, const float* x2,
                                         const float* y2, const float* xa, const float* ya,
                                         const float* xb, const float* yb) {
    return kelvara::SAME_SIDE(*x1, *y1, *x2, *y2, *xa, *ya, *xb, *yb);
}

KELVARA_API float KELVARA_CALL SAME_SIDE_8(const double* x1, const double* y1, const double* x2,
                                           const double* y2, const double* xa,
                                           const double* ya, const double* xb,
                                           const double* yb) {
    return kelvara::SAME_SIDE_8(*x1, *y1, *x2, *y2, *xa, *ya, *xb, *yb);
}

KELVARA_API kelvara_logical KELVARA_CALL INTERSECT_POINT(const float* x1, const float* y1,
                                                         const float* x2, const float* y2,
                                                         const float* xp, const float* yp) {
    return kelvara::toLogical(kelvara::INTERSECT_POINT(*x1, *y1, *x2, *y2, *xp, *yp));
}

KELVARA_API kelvara_logical KELVARA_CALL INTERSECT_LINE(const float* x1, const float* y1,
                                                        const float* x2, const float* y2,
                                                        const float* x3, const float* y3,
                                                        const float* x4, const float* y4) {
    return kelvara::toLogical(kelvara::INTERSECT_LINE(*x1, *y1, *x2, *y2, *x3, *y3, *x4, *y4));
}

KELVARA_API kelvara_logical KELVARA_CALL INTERSECT_LINE_8(const double* x1, const double* y1,
                                                          const double* x2, const double* y2,
                                                          const double* x3, const double* y3,
                                                          const double* x4, const double* y4) {
    return kelvara::toLogical(
        kelvara::INTERSECT_LINE_8(*x1, *y1, *x2, *y2, *x3, *y3, *x4, *y4));
}

KELVARA_API int32_t KELVARA_CALL INTERSECT_LINE_V2(const float* x1, const float* y1,
                                                   const float* x2, const float* y2,
                                                   const float* x3, const float* y3,
                                                   const float* x4, const float* y4) {
    return kelvara::INTERSECT_LINE_V2(*x1, *y1, *x2, *y2, *x3, *y3, *x4, *y4);
}

KELVARA_API kelvara_logical KELVARA_CALL INTERSECTION_POINT(const float* x1, const float* y1,
                                                            const float* x2, const float* y2,
                                                            const float* x3, const float* y3,
                                                            const float* x4, const float* y4,
                                                            float* xi, float* yi) {
    return kelvara::toLogical(
        kelvara::INTERSECTION_POINT(*x1, *y1, *x2, *y2, *x3, *y3, *x4, *y4, *xi, *yi));
}

KELVARA_API kelvara_logical KELVARA_CALL INTERSECTION_POINT_8(
    const double* x1, const double* y1, const double* x2, const double* y2, const double* x3,
    const double* y3, const double* x4, const double* y4, double* xi, double* yi) {
    return kelvara::toLogical(
        kelvara::INTERSECTION_POINT_8(*x1, *y1, *x2, *y2, *x3, *y3, *x4, *y4, *xi, *yi));
}

KELVARA_API kelvara_logical KELVARA_CALL INSIDE_POLYGON(const float* xp, const float* yp,
                                                        const float* x, const float* y,
                                                        const int32_t* n, const float* xmin,
                                                        const int32_t* ringEnds,
                                                        const int32_t* ringCount) {
    return kelvara::toLogical(
        kelvara::INSIDE_POLYGON(*xp, *yp, x, y, *n, *xmin, ringEnds, *ringCount));
}

KELVARA_API kelvara_logical KELVARA_CALL INSIDE_POLYGON_8(const double* xp, const double* yp,
                                                          const double* x, const double* y,
                                                          const int32_t* n, const double* xmin,
                                                          const int32_t* ringEnds,
                                                          const int32_t* ringCount) {
    return kelvara::toLogical(
        kelvara::INSIDE_POLYGON_8(*xp, *yp, x, y, *n, *xmin, ringEnds, *ringCount));
}

KELVARA_API void KELVARA_CALL GEO_SHIFT(const double* x, const double* y, const int32_t* n,
                                        const double* x0, const double* y0, const float* theta,
                                        float* u, float* v) {
    kelvara::GEO_SHIFT(x, y, *n, *x0, *y0, *theta, u, v);
}

KELVARA_API void KELVARA_CALL SET_SUB_GRID_AREA(const float* x, const float* y, const int32_t* n,
                                                const float* cellSize, const int32_t* rowLimit,
                                                const int32_t* columnLimit, int32_t* firstRow,
                                                int32_t* firstColumn, int32_t* lastRow,
                                                int32_t* lastColumn, float* xmin, float* ymin,
                                                float* xmax, float* ymax) {
    kelvara::SET_SUB_GRID_AREA(x, y, *n, *cellSize, *rowLimit, *columnLimit, *firstRow,
                               *firstColumn, *lastRow, *lastColumn, *xmin, *ymin, *xmax, *ymax);
}

KELVARA_API void KELVARA_CALL HYD_PARAM(const float* x1, const float* z1, const float* x2,
                                        const float* z2, const float* waterLevel,
                                        const float* factor, float* area, float* width,
                                        float* perimeter) {
    kelvara::HYD_PARAM(*x1, *z1, *x2, *z2, *waterLevel, *factor, *area, *width, *perimeter);
}

KELVARA_API void KELVARA_CALL HYD_PARAM2(const float* x1, const float* z1, const float* factor1,
                                         const float* x2, const float* z2, const float* factor2,
                                         const float* waterLevel, float* area1, float* area2,
                                         float* width1, float* width2, float* perimeter1,
                                         float* perimeter2) {
    kelvara::HYD_PARAM2(*x1, *z1, *factor1, *x2, *z2, *factor2, *waterLevel, *area1, *area2,
                        *width1, *width2, *perimeter1, *perimeter2);
}

KELVARA_API float KELVARA_CALL CIRCLE_WIDTH(const float* radius, const float* depth) {
    return kelvara::CIRCLE_WIDTH(*radius, *depth);
}

}  // extern "C"
