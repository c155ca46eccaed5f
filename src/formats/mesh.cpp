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

#include "fileio/error.h"
#include "util/text.h"

// The line routine belongs inside the loop over a block's lines.
#if defined(__GNUC__)
#define KELVARA_INLINE inline __attribute__((always_inline))
#else
#define KELVARA_INLINE inline
#endif

namespace kelvara {
namespace {

// Characters of a line that messages show.
constexpr std::size_t kShownLength = 100;
constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
// A node or element line longer than this is not a line of a mesh: it ends the run rather than
// being gathered without limit. Other lines of any length are passed over.
constexpr std::size_t kLongestLine = std::size_t{1} << 20;

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

float toReal(const char* text, float) { return std::strtof(text, nullptr); }
double toReal(const char* text, double) { return std::strtod(text, nullptr); }

// Any finite real of the free format: also exponents written with D or Q or without a letter
// ("1.5-3"), a leading plus sign, and values so small that they read as zero. Infinities, NaN
// and values beyond the range of T are not numbers here.
template <class T>
bool parseReal(std::string_view token, T& value) {
    if (token.empty()) return false;
    if (isPlainDecimal(token)) {
        if (token.front() == '+') token.remove_prefix(1);
        return std::from_chars(token.data(), token.data() + token.size(), value).ec == std::errc();
    }
    std::string text;
    text.reserve(token.size() + 8);
    for (std::size_t i = token.front() == '+' ? 1 : 0; i < token.size(); ++i) {
        char c = token[i];
        if (c == 'd' || c == 'D' || c == 'q' || c == 'Q') {
            c = 'e';
        } else if ((c == '+' || c == '-') && !text.empty() &&
                   (std::isdigit(static_cast<unsigned char>(text.back())) || text.back() == '.')) {
            text += 'e';
        }
        text += c;
    }
    if (text.empty()) return false;
    const char* begin = text.data();
    const char* end = begin + text.size();
    auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ptr != end) return false;
    if (ec == std::errc::result_out_of_range) {
        // Underflow reads as (nearly) zero; overflow is not a number this reader accepts.
        value = toReal(begin, T{});
        return std::isfinite(value);
    }
    return ec == std::errc() && std::isfinite(value);
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

    template <class T>
    bool readReal(T& value) { return parseReal(next(), value); }

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

// Where the reader puts what it reads: the corner tables of READ_2DM_ELEVATIONS, or, with
// kGeometry, a MeshGeometry.
template <bool kGeometry>
class MeshReader {
public:
    MeshReader(float* nodeElevation, std::int32_t nodeCount, std::int32_t* first,
               std::int32_t* second, std::int32_t* third, std::int32_t* fourth,
               std::int32_t cellCount, MeshGeometry* geometry)
        : elevation_(nodeElevation), nodeCount_(std::max(nodeCount, 0)),
          first_(first), second_(second), third_(third), fourth_(fourth),
          cellCount_(std::max(cellCount, 0)), geometry_(geometry) {}

    void clear() {
        const auto cells = static_cast<std::size_t>(cellCount_);
        if constexpr (!kGeometry) {
            for (std::int32_t* table : {first_, second_, third_, fourth_}) {
                if (cells > 0) std::fill_n(table, cells, 0);
            }
        }
        if (nodeCount_ > 0) std::fill_n(elevation_, static_cast<std::size_t>(nodeCount_), kNoElevation);
    }

    // One whole line of the file (without its line end). overlong: the line was longer than
    // kLongestLine and text holds only its beginning.
    KELVARA_INLINE void line(std::string_view text, bool overlong = false) {
        if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
        if (text.size() < 2) return;
        if (text[0] == 'N' && text[1] == 'D') {
            if (overlong) lineError(text);
            nodeLine(text);
        } else if (text[0] == 'E' && text.size() >= 3) {
            // Element lines: the number of node numbers after the cell number, and how far
            // apart the corners are among them (2 for elements with mid-side nodes).
            if (text[1] == '3' && text[2] == 'T') {
                cellLine<3, 1>(text, overlong);
            } else if (text[1] == '4' && text[2] == 'Q') {
                cellLine<4, 1>(text, overlong);
            } else if (text[1] == '6' && text[2] == 'T') {
                cellLine<6, 2>(text, overlong);
            } else if (text[1] == '8' && text[2] == 'Q') {
                cellLine<8, 2>(text, overlong);
            }
        }
    }

    std::int32_t highestNode() const { return highestNode_; }
    std::int32_t highestCell() const { return highestCell_; }

private:
    void nodeLine(std::string_view text) {
        FreeFormat numbers(text.substr(2));
        std::int32_t node = 0;
        float z = 0.0f;
        double x = 0.0, y = 0.0;
        bool read;
        if constexpr (kGeometry) {
            read = numbers.readInt(node) && numbers.readReal(x) && numbers.readReal(y) &&
                   numbers.readReal(z);
        } else {
            read = numbers.readInt(node) && numbers.skipReal() && numbers.skipReal() &&
                   numbers.readReal(z);
        }
        if (!read) lineError(text);
        if (node < 1 || node > nodeCount_) incompatible(text);
        const std::size_t n = static_cast<std::size_t>(node - 1);
        elevation_[n] = z;
        if constexpr (kGeometry) {
            geometry_->x[n] = x;
            geometry_->y[n] = y;
            highestNode_ = std::max(highestNode_, node);
        }
    }

    template <int kNodes, int kStep>
    void cellLine(std::string_view text, bool overlong) {
        if (overlong) lineError(text);
        FreeFormat numbers(text.substr(3));
        std::int32_t cell = 0;
        std::int32_t node[kNodes] = {};
        if (!numbers.readInt(cell)) lineError(text);
        for (int i = 0; i < kNodes; ++i) {
            if (!numbers.readInt(node[i])) lineError(text);
        }
        if (cell < 1 || cell > cellCount_) incompatible(text);
        for (int i = 0; i < kNodes; ++i) {
            if (node[i] < 1 || node[i] > nodeCount_) incompatible(text);
        }
        constexpr int corners = kNodes / kStep;
        std::int32_t corner[4] = {0, 0, 0, 0};
        for (int i = 0; i < corners; ++i) corner[i] = node[i * kStep];
        const std::size_t c = static_cast<std::size_t>(cell - 1);
        if constexpr (kGeometry) {
            geometry_->cells[c] = {corner[0], corner[1], corner[2], corner[3]};
            highestCell_ = std::max(highestCell_, cell);
        } else {
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
    }

    static std::string_view shown(std::string_view text) {
        return trimRight(text.substr(0, std::min(text.size(), kShownLength)));
    }

    [[noreturn]] static void lineError(std::string_view text) {
        throw Error({"", "ERROR - Reading .2dm file from following line in .2dm file", "",
                     std::string(shown(text)), ""},
                    ErrorCode::BadInput);
    }

    // A number that does not fit the dataset: the mesh belongs to another model.
    [[noreturn]] static void incompatible(std::string_view text) {
        throw Error({"", "ERROR - .2dm file is incompatible with .dat file whilst reading node elevations",
                     "", std::string(shown(text)), ""},
                    ErrorCode::BadInput);
    }

    float* elevation_;
    std::int32_t nodeCount_;
    std::int32_t* first_;
    std::int32_t* second_;
    std::int32_t* third_;
    std::int32_t* fourth_;
    std::int32_t cellCount_;
    MeshGeometry* geometry_;
    std::int32_t highestNode_ = 0;
    std::int32_t highestCell_ = 0;
};

// Feeds every line of stream to reader, then warns when nodes were left without an
// elevation; returns how many.
template <bool kGeometry>
std::int64_t readLines(std::FILE* stream, const std::string& name, const MessageSink& messages,
                       MeshReader<kGeometry>& reader, const float* elevation,
                       std::int32_t nodeCount) {
    if (stream == nullptr) throw errorLine("ERROR - Could not read " + name + ".", ErrorCode::Internal);

    // Lines are cut out of large blocks; a line that runs across the end of a block is gathered
    // in pending (its first kLongestLine characters) until its line end arrives.
    std::vector<char> block(kBlockBytes);
    std::string pending;
    bool linePending = false, overlong = false;
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
                const auto length = static_cast<std::size_t>(stop - p);
                const std::size_t take = std::min(kLongestLine - pending.size(), length);
                pending.append(p, take);
                overlong = overlong || take < length;
                linePending = true;
                if (lineEnd != nullptr) {
                    reader.line(pending, overlong);
                    pending.clear();
                    linePending = overlong = false;
                }
            }
            p = lineEnd != nullptr ? lineEnd + 1 : end;
        }
    }
    if (std::ferror(stream)) throw errorLine("ERROR - Could not read " + name + ".");
    if (linePending) reader.line(pending, overlong);

    // Nodes, not lines, are counted: a node named twice does not make up for one never named.
    // An elevation of -99998 or below is this tool's mark of a value that is not set.
    std::int64_t missing = 0;
    for (std::int32_t n = 0; n < nodeCount; ++n) missing += !(elevation[n] > -99998.0f);
    if (missing > 0 && messages) {
        messages("");
        messages("WARNING - Did not read an elevation for all nodes from .2dm file: " +
                 std::to_string(missing) + " of " + std::to_string(nodeCount) + " nodes have none.");
    }
    return missing;
}

}  // namespace

std::int64_t readMeshElevations(std::FILE* stream, const std::string& name,
                                const MessageSink& messages, float* nodeElevation,
                                std::int32_t nodeCount, std::int32_t* first, std::int32_t* second,
                                std::int32_t* third, std::int32_t* fourth, std::int32_t cellCount) {
    if (messages) messages("...reading .2dm file");
    MeshReader<false> reader(nodeElevation, nodeCount, first, second, third, fourth, cellCount,
                             nullptr);
    reader.clear();
    return readLines(stream, name, messages, reader, nodeElevation, std::max(nodeCount, 0));
}

std::int64_t readMeshGeometry(std::FILE* stream, const std::string& name,
                              const MessageSink& messages, std::int32_t nodeCount,
                              std::int32_t cellCount, MeshGeometry& mesh) {
    if (messages) messages("...reading .2dm file");
    const auto nodes = static_cast<std::size_t>(std::max(nodeCount, 0));
    const auto cells = static_cast<std::size_t>(std::max(cellCount, 0));
    mesh.x.assign(nodes, std::numeric_limits<double>::quiet_NaN());
    mesh.y.assign(nodes, std::numeric_limits<double>::quiet_NaN());
    mesh.elevation.assign(nodes, kNoElevation);
    mesh.cells.assign(cells, {0, 0, 0, 0});
    MeshReader<true> reader(mesh.elevation.data(), nodeCount, nullptr, nullptr, nullptr, nullptr,
                            cellCount, &mesh);
    const std::int64_t missing =
        readLines(stream, name, messages, reader, mesh.elevation.data(), std::max(nodeCount, 0));
    mesh.meshNodeCount = reader.highestNode();
    mesh.meshCellCount = reader.highestCell();
    return missing;
}

}  // namespace kelvara
