// Exported C boundary of the line reading and parsing routines.
#include <string>
#include <string_view>

#include "kelvara.h"
#include "library/lines.h"
#include "util/field.h"

using kelvara::fromField;
using kelvara::toField;
using kelvara::toLogical;

namespace {

// A field with its full declared length, trailing blanks included (separators, delimiters).
std::string_view rawField(const char* text, int32_t length) {
    if (text == nullptr || length <= 0) return {};
    return std::string_view(text, static_cast<std::size_t>(length));
}

// Runs an in-place routine on a caller's field and writes the changed text back.
template <typename Routine>
int32_t inPlace(char* text, int32_t length, Routine routine) {
    std::string s = fromField(text, length);
    const bool result = routine(s);
    toField(text, length, s);
    return toLogical(result);
}

}  // namespace

extern "C" {

KELVARA_API void KELVARA_CALL SS256(char* result, int32_t resultLen, const char* text,
                                    int32_t textLen) {
    toField(result, resultLen, kelvara::SS256(fromField(text, textLen)));
}

KELVARA_API kelvara_logical KELVARA_CALL READLINE(const int32_t* unit, char* line,
                                                  int32_t lineLen) {
    std::string s;
    const bool result =
        kelvara::READLINE(*unit, s, lineLen > 0 ? static_cast<std::size_t>(lineLen) : 0);
    toField(line, lineLen, s);
    return toLogical(result);
}

KELVARA_API kelvara_logical KELVARA_CALL COMMENTLINE(char* line, int32_t lineLen) {
    return inPlace(line, lineLen, [](std::string& s) { return kelvara::COMMENTLINE(s); });
}

KELVARA_API kelvara_logical KELVARA_CALL NUMBERLINE(char* line, int32_t lineLen) {
    return inPlace(line, lineLen, [](std::string& s) { return kelvara::NUMBERLINE(s); });
}

KELVARA_API kelvara_logical KELVARA_CALL POSITIVEINTEGERNUMBER(char* text, int32_t textLen) {
    return inPlace(text, textLen,
                   [](std::string& s) { return kelvara::POSITIVEINTEGERNUMBER(s); });
}

KELVARA_API kelvara_logical KELVARA_CALL BLANK(char* text, int32_t textLen) {
    return inPlace(text, textLen, [](std::string& s) { return kelvara::BLANK(s); });
}

KELVARA_API kelvara_logical KELVARA_CALL ASAME(const char* a, int32_t aLen, const char* b,
                                               int32_t bLen) {
    return toLogical(kelvara::ASAME(fromField(a, aLen), fromField(b, bLen)));
}

KELVARA_API kelvara_logical KELVARA_CALL ASAMECS(const char* a, int32_t aLen, const char* b,
                                                 int32_t bLen) {
    return toLogical(kelvara::ASAMECS(fromField(a, aLen), fromField(b, bLen)));
}

KELVARA_API kelvara_logical KELVARA_CALL CHECKLINE(const char* line, int32_t lineLen,
                                                   const char* keyword, int32_t keywordLen,
                                                   const char* separator, int32_t separatorLen,
                                                   const int32_t* column, char* right,
                                                   int32_t rightLen, char* left,
                                                   int32_t leftLen) {
    std::string r;
    std::string l;
    const bool result =
        kelvara::CHECKLINE(rawField(line, lineLen), fromField(keyword, keywordLen),
                           rawField(separator, separatorLen), *column, r, l);
    toField(right, rightLen, r);
    toField(left, leftLen, l);
    return toLogical(result);
}

KELVARA_API void KELVARA_CALL REMOVETABS(char* result, int32_t resultLen, const char* text,
                                         int32_t textLen) {
    toField(result, resultLen, kelvara::REMOVETABS(fromField(text, textLen)));
}

KELVARA_API void KELVARA_CALL REMOVESPACES(char* result, int32_t resultLen, const char* text,
                                           int32_t textLen) {
    toField(result, resultLen, kelvara::REMOVESPACES(fromField(text, textLen)));
}

KELVARA_API void KELVARA_CALL REMOVEQUOTES(char* result, int32_t resultLen, const char* text,
                                           int32_t textLen) {
    toField(result, resultLen, kelvara::REMOVEQUOTES(fromField(text, textLen)));
}

KELVARA_API void KELVARA_CALL DOUBLEQUOTE(char* result, int32_t resultLen, const char* text,
                                          int32_t textLen) {
    toField(result, resultLen, kelvara::DOUBLEQUOTE(fromField(text, textLen)));
}

KELVARA_API void KELVARA_CALL REPLACE(char* result, int32_t resultLen, const char* text,
                                      int32_t textLen, const char* oldWord, int32_t oldLen,
                                      const char* newWord, int32_t newLen) {
    toField(result, resultLen,
            kelvara::REPLACE(fromField(text, textLen), fromField(oldWord, oldLen),
                             fromField(newWord, newLen)));
}

KELVARA_API int32_t KELVARA_CALL CSVCOLUMN(const char* header, int32_t headerLen,
                                           const char* name, int32_t nameLen,
                                           const int32_t* defaultColumn) {
    return kelvara::CSVCOLUMN(fromField(header, headerLen), fromField(name, nameLen),
                              *defaultColumn);
}

KELVARA_API kelvara_logical KELVARA_CALL CSVVALUE(const char* line, int32_t lineLen,
                                                  const int32_t* column, float* value) {
    float v = 0.0f;
    const bool result = kelvara::CSVVALUE(fromField(line, lineLen), *column, v);
    *value = v;
    return toLogical(result);
}

KELVARA_API void KELVARA_CALL SUBSTRING(char* result, int32_t resultLen, const char* text,
                                        int32_t textLen, const char* delimiter,
                                        int32_t delimiterLen, const int32_t* n) {
    toField(result, resultLen,
            kelvara::SUBSTRING(fromField(text, textLen), rawField(delimiter, delimiterLen), *n));
}

KELVARA_API int32_t KELVARA_CALL NUMBEROFNUMBERS(const char* line, int32_t lineLen) {
    return kelvara::NUMBEROFNUMBERS(fromField(line, lineLen));
}

}  // extern "C"
