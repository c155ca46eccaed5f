#include "library/values.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "fileio/console.h"
#include "library/lines.h"
#include "util/text.h"

namespace kelvara {

namespace {

constexpr int kNumberField = 20;


// Drops leading blanks and trailing blanks.
std::string leftAdjusted(std::string_view text) { return std::string(trimRight(TRIMF(text))); }

bool isBlank(std::string_view text) {
    return text.find_first_not_of(' ') == std::string_view::npos;
}

[[noreturn]] void conversionFailure(const std::string& text, std::string_view name, int column,
                                    const char* kind) {
    consoleLine(" Could not convert \"" + text + "\" in column" + formatInteger(column, 3) +
                " to " + kind + " value for the " + std::string(trimRight(name)) + " field.");
    FATALSTOP();
}

}  // namespace

// ---- Value extraction ----------------------------------------------------------------------

std::string EXTRACTSTRING(std::string_view line, std::string_view lowerLine,
                          std::string_view name, int column) {
    line = trimRight(line);
    const std::string key = LOWERCASE(trimRight(name));
    if (!key.empty()) {
        const std::size_t p = trimRight(lowerLine).find(key);
        if (p != std::string_view::npos) {
            const std::size_t from = std::min(p + key.size(), line.size());
            const std::string_view work = line.substr(from, kLineWork);
            const std::size_t e = work.find('=');
            // Without any "=" after it the name is not a key here: the column decides.
            if (e != std::string_view::npos) {
                const std::size_t c = work.find(',', e + 1);
                const std::string_view value =
                    work.substr(e + 1, c == std::string_view::npos ? c : c - e - 1);
                return leftAdjusted(REMOVEQUOTES(value));
            }
        }
    }
    if (column <= 0) return {};
    return leftAdjusted(REMOVEQUOTES(SUBSTRING(line, ",", column)));
}

std::int32_t EXTRACTINTEGER(std::string_view line, std::string_view lowerLine,
                            std::string_view name, int column, std::int32_t defaultValue) {
    const std::string s = EXTRACTSTRING(line, lowerLine, name, column);
    if (isBlank(s)) return defaultValue;
    std::int32_t value = 0;
    if (!readFreeInteger(s, value)) conversionFailure(s, name, column, "an integer");
    return value;
}

float EXTRACTREAL(std::string_view line, std::string_view lowerLine, std::string_view name,
                  int column, float defaultValue) {
    const std::string s = EXTRACTSTRING(line, lowerLine, name, column);
    if (isBlank(s)) return defaultValue;
    float value = 0.0f;
    if (!readFreeReal(s, value)) conversionFailure(s, name, column, "a real");
    return value;
}

// ---- Number to text --------------------------------------------------------------------------

std::string AINTEGERPREC0(std::int32_t value, int digits) {
    return AINTEGER8PREC0(value, digits);
}

std::string AINTEGER8PREC0(std::int64_t value, int digits) {
    const int minDigits = value >= 0 ? std::clamp(digits, 1, kNumberField) : 1;
    return leftAdjusted(formatInteger(value, kNumberField, minDigits));
}

std::string AREALD(float value, int decimals) {
    return leftAdjusted(formatFixed(value, kNumberField, decimals));
}

std::string AREAL8(double value) {
    const double magnitude = std::fabs(value);
    int decimals = 0;
    static const double kLimits[] = {1.0, 10.0, 1.0e2, 1.0e3, 1.0e4, 1.0e5,
                                     1.0e6, 1.0e7, 1.0e8, 1.0e9};
    for (int i = 0; i < 10; ++i) {
        if (magnitude < kLimits[i]) {
            decimals = 10 - i;
            break;
        }
    }
    std::string text = formatFixed(value, kNumberField, decimals);
    while (!text.empty() && text.back() == '0') text.pop_back();
    return leftAdjusted(text);
}

}  // namespace kelvara
