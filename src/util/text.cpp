// Text routines on blank-padded text: flag search, case conversion, leading-blank removal, the
// significant length of a text, and short number texts for messages and file names.
#include "util/text.h"

#include "util/numbers.h"

#include <cmath>
#include <cstddef>
#include <cstdio>

namespace kelvara {

namespace {

// A command line is examined in a work field of this many characters; the rest is not searched.
constexpr std::size_t kFlagLineField = 10000;
// Width of the fixed-point field a number is printed into before it is shortened.
constexpr std::size_t kNumberField = 20;

char upperOf(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char lowerOf(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Decimals shown for a real of this magnitude (a value that is not a number, or an infinite
// one, falls through every comparison and gets none).
int decimalsFor(float value) {
    const float a = std::fabs(value);
    if (a < 0.01f) return 6;
    if (a < 0.1f) return 5;
    if (a < 1.0f) return 4;
    if (a < 10.0f) return 3;
    if (a < 100.0f) return 2;
    if (a < 1000.0f) return 1;
    return 0;
}

}  // namespace

std::string_view trimRight(std::string_view text) {
    std::size_t n = text.size();
    while (n > 0 && text[n - 1] == ' ') --n;
    return text.substr(0, n);
}

bool FLAGEXISTS(std::string_view line, std::string_view flag) {
    const std::string lineText = UPPERCASE(line.substr(0, kFlagLineField));
    const std::string flagText = UPPERCASE(flag);
    return lineText.find(flagText) != std::string::npos;
}

std::string UPPERCASE(std::string_view text) {
    std::string result(trimRight(text));
    for (char& c : result) c = upperOf(c);
    return result;
}

std::string LOWERCASE(std::string_view text) {
    std::string result(trimRight(text));
    for (char& c : result) c = lowerOf(c);
    return result;
}

std::string TRIMF(std::string_view text) {
    const std::string_view significant = trimRight(text);
    std::size_t first = 0;
    while (first < significant.size() && significant[first] == ' ') ++first;
    return std::string(significant.substr(first));
}

int LENSL(std::string_view text) {
    std::size_t n = text.size();
    while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\0')) --n;
    return static_cast<int>(n);
}

std::string AINTEGER(std::int32_t value) { return std::to_string(value); }

std::string AREAL(float value) {
    std::string text = formatFixed(value, static_cast<int>(kNumberField), decimalsFor(value));
    // Only zero characters go from the end, so the decimal point always stays.
    while (!text.empty() && text.back() == '0') text.pop_back();
    return TRIMF(text);
}

}  // namespace kelvara
