#include "util/numbers.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kelvara {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string rightAligned(std::string text, int width) {
    if (width <= 0) return {};
    const auto w = static_cast<std::size_t>(width);
    if (text.size() > w) return std::string(w, '*');
    return std::string(w - text.size(), ' ') + text;
}


// A finite value in fixed point with the given decimals, rounded half away from zero on its
// exact binary value (the library printer would round exact ties to even). The point is always
// shown.
std::string roundedFixed(double value, int decimals) {
    // Every double has a finite decimal expansion of at most 1074 fraction digits: printed with
    // more, the text is exact and nothing has been rounded yet.
    const int precision = std::max(1100, decimals + 1);
    const int n = std::snprintf(nullptr, 0, "%.*f", precision, value);
    std::string exact(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(exact.data(), exact.size(), "%.*f", precision, value);
    exact.resize(static_cast<std::size_t>(n));

    std::string sign;
    if (exact[0] == '-') {
        sign = "-";
        exact.erase(0, 1);
    }
    const std::size_t point = exact.find('.');
    const auto kept = static_cast<std::size_t>(decimals);
    std::string digits = exact.substr(0, point) + exact.substr(point + 1, kept);
    std::size_t integerDigits = point;
    if (exact[point + 1 + kept] >= '5') {
        std::size_t i = digits.size();
        while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
        if (i == 0) {
            digits.insert(0, 1, '1');
            ++integerDigits;
        } else {
            ++digits[i - 1];
        }
    }
    return sign + digits.substr(0, integerDigits) + "." + digits.substr(integerDigits);
}


}  // namespace

// ---- Number fields ------------------------------------------------------------

std::string formatInteger(std::int64_t value, int width, int minDigits) {
    const std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value)
                                              : static_cast<std::uint64_t>(value);
    std::string digits = std::to_string(magnitude);
    if (minDigits > 0 && digits.size() < static_cast<std::size_t>(minDigits)) {
        if (minDigits > width) return std::string(std::max(width, 0), '*');
        digits.insert(0, static_cast<std::size_t>(minDigits) - digits.size(), '0');
    }
    if (value < 0) digits.insert(0, 1, '-');
    return rightAligned(std::move(digits), width);
}

std::string formatFixed(double value, int width, int decimals) {
    if (width <= 0) return {};
    if (std::isnan(value)) return rightAligned("NaN", width);
    if (std::isinf(value)) {
        if (value > 0) return rightAligned(width >= 8 ? "Infinity" : "Inf", width);
        return rightAligned(width >= 9 ? "-Infinity" : "-Inf", width);
    }
    decimals = std::max(decimals, 0);
    // The point and the decimals alone must fit.
    if (decimals >= width) return std::string(static_cast<std::size_t>(width), '*');
    std::string text = roundedFixed(value, decimals);
    // The zero before the point is optional: it goes when only it keeps the value from fitting.
    if (text.size() > static_cast<std::size_t>(width)) {
        if (text.compare(0, 2, "0.") == 0) {
            text.erase(0, 1);
        } else if (text.compare(0, 3, "-0.") == 0) {
            text.erase(1, 1);
        }
    }
    return rightAligned(std::move(text), width);
}

// ---- Free-format reading ------------------------------------------------------------

bool freeItem(std::string_view text, std::string_view& item) {
    const auto isBlankChar = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t i = 0;
    while (i < text.size() && isBlankChar(text[i])) ++i;
    if (i == text.size() || text[i] == ',' || text[i] == '/') return false;
    std::size_t j = i;
    while (j < text.size() && !isBlankChar(text[j]) && text[j] != ',' && text[j] != '/') ++j;
    item = text.substr(i, j - i);
    return true;
}

bool parseInteger(std::string_view item, std::int32_t& value) {
    std::size_t i = 0;
    bool negative = false;
    if (i < item.size() && (item[i] == '+' || item[i] == '-')) negative = item[i++] == '-';
    if (i == item.size()) return false;
    std::int64_t magnitude = 0;
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT32_MIN) : INT32_MAX;
    for (; i < item.size(); ++i) {
        if (!isDigit(item[i])) return false;
        magnitude = magnitude * 10 + (item[i] - '0');
        if (magnitude > limit) return false;
    }
    value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return true;
}

namespace {

// A real item in the form strtod reads ("1.5e3" for "1.5D3" or "1.5+3"); false when it is none.
bool normalReal(std::string_view item, std::string& normal) {
    std::size_t i = 0;
    if (i < item.size() && (item[i] == '+' || item[i] == '-')) normal += item[i++];
    int mantissaDigits = 0;
    while (i < item.size() && isDigit(item[i])) { normal += item[i++]; ++mantissaDigits; }
    if (i < item.size() && item[i] == '.') {
        normal += item[i++];
        while (i < item.size() && isDigit(item[i])) { normal += item[i++]; ++mantissaDigits; }
    }
    if (mantissaDigits == 0) return false;
    if (i < item.size()) {
        const char c = item[i];
        const bool letter = c == 'e' || c == 'E' || c == 'd' || c == 'D' || c == 'q' || c == 'Q';
        if (!letter && c != '+' && c != '-') return false;
        if (letter) ++i;
        normal += 'e';
        if (i < item.size() && (item[i] == '+' || item[i] == '-')) normal += item[i++];
        if (i == item.size()) return false;
        for (; i < item.size(); ++i) {
            if (!isDigit(item[i])) return false;
            normal += item[i];
        }
    }
    return true;
}

}  // namespace

bool parseReal(std::string_view item, float& value) {
    std::string normal;
    if (!normalReal(item, normal)) return false;
    errno = 0;
    const float v = std::strtof(normal.c_str(), nullptr);
    if (errno == ERANGE && std::isinf(v)) return false;
    value = v;
    return true;
}

bool parseReal(std::string_view item, double& value) {
    std::string normal;
    if (!normalReal(item, normal)) return false;
    errno = 0;
    const double v = std::strtod(normal.c_str(), nullptr);
    if (errno == ERANGE && std::isinf(v)) return false;
    value = v;
    return true;
}

bool readFreeInteger(std::string_view text, std::int32_t& value) {
    std::string_view item;
    return freeItem(text, item) && parseInteger(item, value);
}

bool readFreeReal(std::string_view text, float& value) {
    std::string_view item;
    return freeItem(text, item) && parseReal(item, value);
}

}  // namespace kelvara
