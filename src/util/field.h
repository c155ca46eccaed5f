// Conversion between the blank-padded fixed-length text fields of the exported C interface and
// the std::string used everywhere inside the library. Only the C boundary uses these.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace kelvara {

// The caller's field without its trailing blanks (trailing blanks are never significant).
inline std::string fromField(const char* text, std::int32_t length) {
    if (text == nullptr || length <= 0) return {};
    std::size_t n = static_cast<std::size_t>(length);
    while (n > 0 && text[n - 1] == ' ') --n;
    return std::string(text, n);
}

// Writes value left-aligned into the caller's field, blank-padded and cut at its length.
inline void toField(char* field, std::int32_t length, std::string_view value) {
    if (field == nullptr || length <= 0) return;
    std::size_t n = static_cast<std::size_t>(length);
    std::size_t k = value.size() < n ? value.size() : n;
    if (k > 0) std::memmove(field, value.data(), k);
    if (k < n) std::memset(field + k, ' ', n - k);
}

// Logical values as the exported interface passes them.
constexpr std::int32_t kTrue = -1;
constexpr std::int32_t kFalse = 0;
inline std::int32_t toLogical(bool b) { return b ? kTrue : kFalse; }
inline bool fromLogical(std::int32_t v) { return (v & 1) != 0; }

}  // namespace kelvara
