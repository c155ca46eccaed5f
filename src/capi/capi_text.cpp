// Exported C boundary of the text routines: blank-padded fields in, blank-padded fields out.
#include <cstdint>
#include <string_view>

#include "kelvara.h"
#include "util/field.h"
#include "util/text.h"

namespace {

// The caller's field as it is, trailing blanks included (empty for a missing field).
std::string_view fieldView(const char* text, std::int32_t length) {
    if (text == nullptr || length <= 0) return {};
    return std::string_view(text, static_cast<std::size_t>(length));
}

}  // namespace

extern "C" {

KELVARA_API kelvara_logical KELVARA_CALL FLAGEXISTS(const char* line, int32_t lineLen,
                                                     const char* flag, int32_t flagLen) {
    return kelvara::toLogical(
        kelvara::FLAGEXISTS(fieldView(line, lineLen), fieldView(flag, flagLen)));
}

KELVARA_API void KELVARA_CALL UPPERCASE(char* result, int32_t resultLen, const char* text,
                                        int32_t textLen) {
    kelvara::toField(result, resultLen, kelvara::UPPERCASE(fieldView(text, textLen)));
}

KELVARA_API void KELVARA_CALL LOWERCASE(char* result, int32_t resultLen, const char* text,
                                        int32_t textLen) {
    kelvara::toField(result, resultLen, kelvara::LOWERCASE(fieldView(text, textLen)));
}

KELVARA_API void KELVARA_CALL TRIMF(char* result, int32_t resultLen, const char* text,
                                    int32_t textLen) {
    kelvara::toField(result, resultLen, kelvara::TRIMF(fieldView(text, textLen)));
}

KELVARA_API int32_t KELVARA_CALL LENSL(char* text, int32_t textLen) {
    const int position = kelvara::LENSL(fieldView(text, textLen));
    // NUL-terminate the text too, when there is room inside the declared length.
    if (position > 0 && position < textLen) text[position] = '\0';
    return position;
}

KELVARA_API void KELVARA_CALL AINTEGER(char* result, int32_t resultLen, const int32_t* value) {
    kelvara::toField(result, resultLen, value ? kelvara::AINTEGER(*value) : std::string());
}

KELVARA_API void KELVARA_CALL AREAL(char* result, int32_t resultLen, const float* value) {
    kelvara::toField(result, resultLen, value ? kelvara::AREAL(*value) : std::string());
}

}  // extern "C"
