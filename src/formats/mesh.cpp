#include "formats/mesh.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "fileio/console.h"
#include "fileio/units.h"
#include "util/text.h"

namespace kelvara {
namespace {

// Characters of a line that are looked at; the rest of a longer line is not seen.
constexpr std::size_t kLineLength = 100;
constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

bool isSeparator(char c) { return c == ' ' || c == ',' || c == '\t' || c == '\r'; }

// A decimal number without exponent of at most 38 characters ("-12.5", "7", ".5"): the common
// form of mesh numbers, always within the range of a 4-byte real.
bool isPlainDecimal(std::string_view token) {
    if (token.empty() || token.size() > 38) return false;
    std::size_t i = (token[0] == '+' || token[0] == '-') ? 1 : 0;
    bool digits = false, point = false;
    for (; i < token.size(); ++i) {
        const char c = token[i];
        if (c >= '0' && c <= '9') {
            digits = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digits;
}

// Any real of the free format: also exponents written with D or Q or without a letter ("1.5-3"),
// a leading plus sign, and values so small that they read as zero.
bool parseReal(std::string_view token, float& value) {
    if (token.empty()) return false;
    if (isPlainDecimal(token)) {
        if (token.front() == '+') token.remove_prefix(1);
        return std::from_chars(token.data(), token.data() + token.size(), value).ec == std::errc();
    }
    char text[2 * kLineLength + 2];
    std::size_t n = 0;
    std::size_t i = token.front() == '+' ? 1 : 0;
    for (; i < token.size(); ++i) {
        char c = token[i];
        if (c == 'd' || c == 'D' || c == 'q' || c == 'Q') {
            c = 'e';
        } else if ((c == '+' || c == '-') && n > 0 &&
                   (std::isdigit(static_cast<unsigned char>(text[n - 1])) || text[n - 1] == '.')) {
            text[n++] = 'e';
        }
        text[n++] = c;
    }
    text[n] = '\0';
    if (n == 0) return false;
    auto [ptr, ec] = std::from_chars(text, text + n, value);
    if (ptr != text + n) return false;
    if (ec == std::errc::result_out_of_range) {
        // Underflow reads as (nearly) zero; overflow is not a number this reader accepts.
        value = std::strtof(text, nullptr);
        return std::isfinite(value);
    }
    return ec == std::errc();
}

// Free-format numbers of one line: blanks and commas separate them.
class FreeFormat {
public:
    explicit FreeFormat(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

    bool readInt(std::int32_t& value) {
        const std::string_view token = next();
        const char* p = token.data();
        const char* end = p + token.size();
        const bool negative = p < end && *p == '-';
        if (p < end && (*p == '+' || *p == '-')) ++p;
        if (p == end) return false;
        std::int64_t v = 0;
        for (; p < end; ++p) {
            const unsigned digit = static_cast<unsigned char>(*p) - static_cast<unsigned>('0');
            if (digit > 9) return false;
            v = v * 10 + digit;
            if (v > std::int64_t{1} << 31) return false;
        }
        if (negative) v = -v;
        if (v > std::numeric_limits<std::int32_t>::max()) return false;
        value = static_cast<std::int32_t>(v);
        return true;
    }

    bool readReal(float& value) { return parseReal(next(), value); }

    // A real that must be there and be a number but whose value is not kept.
    bool skipReal() {
        const std::string_view token = next();
        float ignored;
        return isPlainDecimal(token) || parseReal(token, ignored);
    }

private:
    std::string_view next() {
        while (p_ < end_ && isSeparator(*p_)) ++p_;
        const char* start = p_;
        while (p_ < end_ && !isSeparator(*p_)) ++p_;
        return {start, static_cast<std::size_t>(p_ - start)};
    }

    const char* p_;
    const char* end_;
};

class MeshReader {
public:
    MeshReader(float* nodeElevation, std::int32_t nodeCount, std::int32_t* first,
               std::int32_t* second, std::int32_t* third, std::int32_t* fourth,
               std::int32_t cellCount)
        : elevation_(nodeElevation), nodeCount_(std::max(nodeCount, 0)),
          first_(first), second_(second), third_(third), fourth_(fourth),
          cellCount_(std::max(cellCount, 0)) {}

    void clear() {
        const auto cells = static_cast<std::size_t>(cellCount_);
        for (std::int32_t* table : {first_, second_, third_, fourth_}) {
            if (cells > 0) std::fill_n(table, cells, 0);
        }
        if (nodeCount_ > 0) std::fill_n(elevation_, static_cast<std::size_t>(nodeCount_), kNoElevation);
    }

    // One whole line of the file (without its line end): only its first 100 characters count.
    void line(std::string_view text) {
        if (text.size() > kLineLength) text = text.substr(0, kLineLength);
        if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
        if (text.size() >= 2 && text[0] == 'N' && text[1] == 'D') {
            nodeLine(text);
        } else if (text.size() >= 3 && text[0] == 'E' && text[1] == '4' && text[2] == 'Q') {
            cellLine(text, 4);
        } else if (text.size() >= 3 && text[0] == 'E' && text[1] == '3' && text[2] == 'T') {
            cellLine(text, 3);
        }
    }

    std::int64_t elevationCount() const { return elevationCount_; }

private:
    void nodeLine(std::string_view text) {
        FreeFormat numbers(text.substr(2));
        std::int32_t node = 0;
        float z = 0.0f;
        if (!numbers.readInt(node) || !numbers.skipReal() || !numbers.skipReal() ||
            !numbers.readReal(z)) {
            lineError(text);
        }
        if (node < 1 || node > nodeCount_) incompatible(text);
        elevation_[node - 1] = z;
        ++elevationCount_;
    }

    void cellLine(std::string_view text, int corners) {
        FreeFormat numbers(text.substr(3));
        std::int32_t cell = 0;
        std::int32_t corner[4] = {0, 0, 0, 0};
        if (!numbers.readInt(cell)) lineError(text);
        for (int i = 0; i < corners; ++i) {
            if (!numbers.readInt(corner[i])) lineError(text);
        }
        if (cell < 1 || cell > cellCount_) incompatible(text);
        for (int i = 0; i < corners; ++i) {
            if (corner[i] < 1 || corner[i] > nodeCount_) incompatible(text);
        }
        const std::size_t c = static_cast<std::size_t>(cell - 1);
        first_[c] = corner[0];
        if (corners == 4) {
            second_[c] = corner[3];
            third_[c] = corner[2];
            fourth_[c] = corner[1];
        } else {
            second_[c] = corner[2];
            third_[c] = corner[1];
        }
    }

    [[noreturn]] static void lineError(std::string_view text) {
        consoleLine();
        consoleLine("ERROR - Reading .2dm file from following line in .2dm file");
        consoleLine();
        consoleLine(trimRight(text));
        consoleLine();
        FATALSTOP();
    }

    // A number that does not fit the dataset: the mesh belongs to another model.
    [[noreturn]] static void incompatible(std::string_view text) {
        consoleLine();
        consoleLine("ERROR - .2dm file is incompatible with .dat file whilst reading node elevations");
        consoleLine();
        consoleLine(trimRight(text));
        consoleLine();
        FATALSTOP();
    }

    float* elevation_;
    std::int32_t nodeCount_;
    std::int32_t* first_;
    std::int32_t* second_;
    std::int32_t* third_;
    std::int32_t* fourth_;
    std::int32_t cellCount_;
    std::int64_t elevationCount_ = 0;
};

}  // namespace

void READ_2DM_ELEVATIONS(int unit, float* nodeElevation, std::int32_t nodeCount,
                         std::int32_t* first, std::int32_t* second, std::int32_t* third,
                         std::int32_t* fourth, std::int32_t cellCount) {
    consoleLine("...reading .2dm file");
    MeshReader reader(nodeElevation, nodeCount, first, second, third, fourth, cellCount);
    reader.clear();

    std::FILE* stream = unitStream(unit);
    if (stream == nullptr) {
        consoleLine();
        consoleLine("ERROR - File unit " + AINTEGER(unit) + " is not open.");
        FATALSTOP();
    }

    // Lines are cut out of large blocks; a line that runs across the end of a block is gathered
    // (its first 100 characters only) in a small field until its line end arrives.
    std::vector<char> block(kBlockBytes);
    char pending[kLineLength];
    std::size_t pendingLength = 0;
    bool linePending = false;
    std::size_t got;
    while ((got = std::fread(block.data(), 1, block.size(), stream)) > 0) {
        const char* p = block.data();
        const char* end = p + got;
        while (p < end) {
            const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', end - p));
            const char* stop = lineEnd != nullptr ? lineEnd : end;
            if (!linePending && lineEnd != nullptr) {
                reader.line({p, static_cast<std::size_t>(stop - p)});
            } else {
                std::size_t take = std::min(kLineLength - pendingLength,
                                            static_cast<std::size_t>(stop - p));
                std::memcpy(pending + pendingLength, p, take);
                pendingLength += take;
                linePending = true;
                if (lineEnd != nullptr) {
                    reader.line({pending, pendingLength});
                    pendingLength = 0;
                    linePending = false;
                }
            }
            p = lineEnd != nullptr ? lineEnd + 1 : end;
        }
    }
    if (std::ferror(stream)) {
        consoleLine();
        consoleLine("ERROR - Could not read " + unitName(unit) + ".");
        FATALSTOP();
    }
    if (linePending) reader.line({pending, pendingLength});

    if (reader.elevationCount() != nodeCount) {
        consoleLine();
        consoleLine("WARNING - Did not read an elevation for all nodes from .2dm file.");
        PAUSECONSOLE();
    }
}

}  // namespace kelvara
