// Exported C boundary of the value extraction and number conversion routines.
#include "kelvara.h"
#include "library/values.h"
#include "util/field.h"

using kelvara::fromField;
using kelvara::toField;

extern "C" {

KELVARA_API void KELVARA_CALL EXTRACTSTRING(char* result, int32_t resultLen, const char* line,
                                            int32_t lineLen, const char* lowerLine,
                                            int32_t lowerLineLen, const char* name,
                                            int32_t nameLen, const int32_t* column) {
    toField(result, resultLen,
            kelvara::EXTRACTSTRING(fromField(line, lineLen), fromField(lowerLine, lowerLineLen),
                                   fromField(name, nameLen), *column));
}

KELVARA_API int32_t KELVARA_CALL EXTRACTINTEGER(const char* line, int32_t lineLen,
                                                const char* lowerLine, int32_t lowerLineLen,
                                                const char* name, int32_t nameLen,
                                                const int32_t* column,
                                                const int32_t* defaultValue) {
    return kelvara::EXTRACTINTEGER(fromField(line, lineLen), fromField(lowerLine, lowerLineLen),
                                   fromField(name, nameLen), *column, *defaultValue);
}

KELVARA_API float KELVARA_CALL EXTRACTREAL(const char* line, int32_t lineLen,
                                           const char* lowerLine, int32_t lowerLineLen,
                                           const char* name, int32_t nameLen,
                                           const int32_t* column, const float* defaultValue) {
    return kelvara::EXTRACTREAL(fromField(line, lineLen), fromField(lowerLine, lowerLineLen),
                                fromField(name, nameLen), *column, *defaultValue);
}

KELVARA_API void KELVARA_CALL AINTEGERPREC0(char* result, int32_t resultLen,
                                            const int32_t* value, const int32_t* digits) {
    toField(result, resultLen, kelvara::AINTEGERPREC0(*value, *digits));
}

KELVARA_API void KELVARA_CALL AINTEGER8PREC0(char* result, int32_t resultLen,
                                             const int64_t* value, const int32_t* digits) {
    toField(result, resultLen, kelvara::AINTEGER8PREC0(*value, *digits));
}

KELVARA_API void KELVARA_CALL AREALD(char* result, int32_t resultLen, const float* value,
                                     const int32_t* decimals) {
    toField(result, resultLen, kelvara::AREALD(*value, *decimals));
}

KELVARA_API void KELVARA_CALL AREAL8(char* result, int32_t resultLen, const double* value) {
    toField(result, resultLen, kelvara::AREAL8(*value));
}

}  // extern "C"
