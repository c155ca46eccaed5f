#include "formats/dataset.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>
#include <sys/types.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "fileio/console.h"
#include "fileio/error.h"
#include "fileio/platform.h"
#include "fileio/units.h"
#include "fileio/workers.h"
#include "util/path.h"
#include "util/text.h"

static_assert(sizeof(off_t) >= 8, "datasets over 4 GiB need 64-bit file offsets");

namespace kelvara {
namespace {

#if defined(__BYTE_ORDER__) && defined(__ORDER_BIG_ENDIAN__) && \
    __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr bool kLittleEndianHost = false;
#else
constexpr bool kLittleEndianHost = true;
#endif

// One fixed work area for the whole module: vector pairs are (de)interleaved and 4-byte flags
// converted through it in chunks, so no step allocates.
constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
alignas(8) unsigned char gChunk[kChunkBytes];

// Flag size (bytes of the status and of each activity flag) per unit, from card 120.
std::array<std::uint8_t, kUnitCount + 1> gFlagSize = [] {
    std::array<std::uint8_t, kUnitCount + 1> a{};
    a.fill(1);
    return a;
}();

std::uint8_t& flagSizeOf(int unit) {
    static std::uint8_t outside = 1;
    int index = unit - kUnitBase;
    if (index < 1 || index > kUnitCount) {
        outside = 1;
        return outside;
    }
    return gFlagSize[static_cast<std::size_t>(index)];
}

std::uint32_t load32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::int32_t loadInt(const unsigned char* p) {
    return static_cast<std::int32_t>(load32(p));
}

float loadFloat(const unsigned char* p) {
    std::uint32_t bits = load32(p);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void store32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

void storeInt(unsigned char* p, std::int32_t v) { store32(p, static_cast<std::uint32_t>(v)); }

void storeFloat(unsigned char* p, float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    store32(p, bits);
}

// Reverses the bytes of count 4-byte items in place (big-endian hosts only).
void swapBytes4(void* data, std::size_t count) {
    auto* p = static_cast<unsigned char*>(data);
    for (std::size_t i = 0; i < count; ++i, p += 4) {
        std::swap(p[0], p[3]);
        std::swap(p[1], p[2]);
    }
}

[[noreturn]] void fail(const std::string& text) { raise(errorLine(text)); }

std::string nameOf(int unit) {
    const std::string& name = unitName(unit);
    return name.empty() ? "file unit " + AINTEGER(unit) : name;
}

std::FILE* streamOf(int unit) {
    std::FILE* stream = unitStream(unit);
    if (stream == nullptr) fail("ERROR - File unit " + AINTEGER(unit) + " is not open.");
    return stream;
}

// Reads exactly size bytes; false when the file ends first (a read error ends the run).
// Large blocks go to and from the system in pieces of at most this size: the system copies
// them fastest, and much larger single calls now and then stall for a long time on some
// systems while it finds room for them in its cache.
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

bool readBytes(std::FILE* stream, void* data, std::size_t size, const std::string& name) {
    auto* bytes = static_cast<unsigned char*>(data);
    for (std::size_t done = 0; done < size;) {
        const std::size_t n = std::min(kPieceBytes, size - done);
        const std::size_t got = std::fread(bytes + done, 1, n, stream);
        if (got != n) {
            if (std::ferror(stream)) fail("ERROR - Could not read " + name + ".");
            return false;
        }
        done += n;
    }
    return true;
}

void writeBytes(int unit, std::FILE* stream, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t done = 0; done < size;) {
        const std::size_t n = std::min(kPieceBytes, size - done);
        if (std::fwrite(bytes + done, 1, n, stream) != n) {
            fail("ERROR - Could not write to " + nameOf(unit) + ".");
        }
        done += n;
    }
}

// Large blocks of a file are read by several threads at once, each its own part, where the
// system reads at a position without moving the stream: copying from the system's cache is then
// shared among the cores. Smaller blocks, streams that cannot seek (pipes) and big-endian hosts
// go the ordinary way.
constexpr std::size_t kSharedReadBytes = std::size_t{1} << 20;
constexpr std::size_t kSharedPartBytes = std::size_t{512} << 10;  // at least, per part
constexpr std::size_t kPartChunkBytes = std::size_t{256} << 10;

// Position of stream where a shared read of size bytes starts, or -1 for an ordinary read.
off_t sharedReadStart(std::FILE* stream, std::size_t size) {
    if (!kLittleEndianHost || size < kSharedReadBytes || !platform::readAtSupported() ||
        partCount() < 2) {
        return -1;
    }
    return ftello(stream);
}

// The outcome of the parts of a shared read.
struct SharedRead {
    std::array<bool, kMaxParts> failed{};
    std::array<bool, kMaxParts> shortRead{};

    void note(std::size_t part, std::int64_t got, std::size_t wanted) {
        if (got < 0) failed[part] = true;
        if (got >= 0 && static_cast<std::size_t>(got) != wanted) shortRead[part] = true;
    }
    // Moves the stream past the block read; false when the file ended first.
    bool finish(std::FILE* stream, off_t start, std::size_t size, const std::string& name) const {
        for (bool f : failed)
            if (f) fail("ERROR - Could not read " + name + ".");
        for (bool s : shortRead)
            if (s) return false;
        if (fseeko(stream, start + static_cast<off_t>(size), SEEK_SET) != 0) {
            fail("ERROR - Could not read " + name + ".");
        }
        return true;
    }
};

// Reads exactly size bytes, shared among threads when the block is large. onPiece, when given,
// is called with the part and the range of items (of itemBytes each) of every piece as soon as
// the piece is in place, while it is still in the cache.
bool readBlock(std::FILE* stream, void* data, std::size_t size, const std::string& name,
               const PieceWork* onPiece = nullptr, std::size_t itemBytes = 1) {
    auto* bytes = static_cast<unsigned char*>(data);
    const auto arrived = [&](std::size_t part, std::size_t b, std::size_t e) {
        if (onPiece != nullptr) (*onPiece)(part, b / itemBytes, e / itemBytes);
    };
    const off_t start = sharedReadStart(stream, size);
    if (start < 0) {
        for (std::size_t done = 0; done < size;) {
            const std::size_t n = std::min(kPieceBytes, size - done);
            if (!readBytes(stream, bytes + done, n, name)) return false;
            arrived(0, done, done + n);
            done += n;
        }
        return true;
    }
    SharedRead outcome;
    forEachPart(size, 4096, kSharedPartBytes, [&](std::size_t part, std::size_t b, std::size_t e) {
        for (std::size_t done = b; done < e;) {
            const std::size_t n = std::min(kPieceBytes, e - done);
            const std::int64_t got =
                platform::readAt(stream, bytes + done, n, start + static_cast<off_t>(done));
            outcome.note(part, got, n);
            if (got != static_cast<std::int64_t>(n)) return;
            arrived(part, done, done + n);
            done += n;
        }
    });
    return outcome.finish(stream, start, size, name);
}

// Reads count little-endian 4-byte reals straight into values.
bool readReals(std::FILE* stream, float* values, std::size_t count, const std::string& name,
               const PieceWork* onPiece) {
    if (!kLittleEndianHost) {
        if (!readBlock(stream, values, count * 4, name)) return false;
        swapBytes4(values, count);
        if (onPiece != nullptr && count > 0) (*onPiece)(0, 0, count);
        return true;
    }
    return readBlock(stream, values, count * 4, name, onPiece, 4);
}

// Splits n pairs at p into the two tables from index at.
void splitPairs(const unsigned char* p, std::size_t n, float* first, float* second) {
    if (kLittleEndianHost) {
        std::size_t i = 0;
#if defined(__SSE2__)
        // Four pairs at a time, by shuffling the bits as they are (a shuffle never touches a
        // value that is not a number).
        for (; i + 4 <= n; i += 4, p += 32) {
            const __m128 a = _mm_loadu_ps(reinterpret_cast<const float*>(p));
            const __m128 b = _mm_loadu_ps(reinterpret_cast<const float*>(p + 16));
            _mm_storeu_ps(first + i, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
            _mm_storeu_ps(second + i, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
        }
#endif
        for (; i < n; ++i, p += 8) {
            std::memcpy(first + i, p, 4);
            std::memcpy(second + i, p + 4, 4);
        }
    } else {
        for (std::size_t i = 0; i < n; ++i, p += 8) {
            first[i] = loadFloat(p);
            second[i] = loadFloat(p + 4);
        }
    }
}

// Reads count (first, second) pairs of reals into two tables: through the work area, or in a
// shared read through a work area of each part's own.
bool readPairs(std::FILE* stream, float* first, float* second, std::size_t count,
               const std::string& name, const PieceWork* onPiece) {
    const off_t start = sharedReadStart(stream, count * 8);
    if (start < 0) {
        constexpr std::size_t kPairsPerChunk = kChunkBytes / 8;
        for (std::size_t done = 0; done < count;) {
            std::size_t n = std::min(kPairsPerChunk, count - done);
            if (!readBytes(stream, gChunk, n * 8, name)) return false;
            splitPairs(gChunk, n, first + done, second + done);
            if (onPiece != nullptr) (*onPiece)(0, done, done + n);
            done += n;
        }
        return true;
    }
    static std::array<std::vector<unsigned char>, kMaxParts> areas;
    for (std::size_t part = 0; part < partCount(); ++part) areas[part].resize(kPartChunkBytes);
    SharedRead outcome;
    constexpr std::size_t kPairsPerChunk = kPartChunkBytes / 8;
    forEachPart(count, 1024, kSharedPartBytes / 8, [&](std::size_t part, std::size_t b, std::size_t e) {
        unsigned char* area = areas[part].data();
        for (std::size_t done = b; done < e;) {
            const std::size_t n = std::min(kPairsPerChunk, e - done);
            const std::int64_t got =
                platform::readAt(stream, area, n * 8, start + static_cast<off_t>(done) * 8);
            outcome.note(part, got, n * 8);
            if (got != static_cast<std::int64_t>(n * 8)) return;
            splitPairs(area, n, first + done, second + done);
            if (onPiece != nullptr) (*onPiece)(part, done, done + n);
            done += n;
        }
    });
    return outcome.finish(stream, start, count * 8, name);
}

// Reads count 4-byte flags and keeps 1 for a flag that is 1, 0 for any other.
bool readWideFlags(std::FILE* stream, std::int8_t* active, std::size_t count,
                   const std::string& name) {
    constexpr std::size_t kFlagsPerChunk = kChunkBytes / 4;
    for (std::size_t done = 0; done < count;) {
        std::size_t n = std::min(kFlagsPerChunk, count - done);
        if (!readBytes(stream, gChunk, n * 4, name)) return false;
        for (std::size_t i = 0; i < n; ++i) {
            active[done + i] = loadInt(gChunk + 4 * i) == 1 ? 1 : 0;
        }
        done += n;
    }
    return true;
}

void writeReals(int unit, std::FILE* stream, const float* values, std::size_t count) {
    if (kLittleEndianHost) {
        writeBytes(unit, stream, values, count * 4);
        return;
    }
    constexpr std::size_t kPerChunk = kChunkBytes / 4;
    for (std::size_t done = 0; done < count;) {
        std::size_t n = std::min(kPerChunk, count - done);
        for (std::size_t i = 0; i < n; ++i) storeFloat(gChunk + 4 * i, values[done + i]);
        writeBytes(unit, stream, gChunk, n * 4);
        done += n;
    }
}

void writePairs(int unit, std::FILE* stream, const float* first, const float* second,
                std::size_t count) {
    constexpr std::size_t kPairsPerChunk = kChunkBytes / 8;
    for (std::size_t done = 0; done < count;) {
        std::size_t n = std::min(kPairsPerChunk, count - done);
        unsigned char* p = gChunk;
        if (kLittleEndianHost) {
            std::size_t i = 0;
#if defined(__SSE2__)
            for (; i + 4 <= n; i += 4, p += 32) {  // four pairs at a time, as splitPairs
                const __m128 a = _mm_loadu_ps(first + done + i);
                const __m128 b = _mm_loadu_ps(second + done + i);
                _mm_storeu_ps(reinterpret_cast<float*>(p), _mm_unpacklo_ps(a, b));
                _mm_storeu_ps(reinterpret_cast<float*>(p + 16), _mm_unpackhi_ps(a, b));
            }
#endif
            for (; i < n; ++i, p += 8) {
                std::memcpy(p, first + done + i, 4);
                std::memcpy(p + 4, second + done + i, 4);
            }
        } else {
            for (std::size_t i = 0; i < n; ++i, p += 8) {
                storeFloat(p, first[done + i]);
                storeFloat(p + 4, second[done + i]);
            }
        }
        writeBytes(unit, stream, gChunk, n * 8);
        done += n;
    }
}

std::string countField(std::int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%12d", static_cast<int>(value));
    return text;
}

const char* timeUnitName(std::int32_t code) {
    switch (code) {
        case 1: return "minutes";
        case 2: return "seconds";
        case 4: return "days";
        default: return nullptr;
    }
}

void checkCounts(std::int32_t nodeCount, std::int32_t cellCount, const std::string& name) {
    if (nodeCount < 0 || cellCount < 0) {
        fail("ERROR - Invalid number of nodes (" + AINTEGER(nodeCount) + ") or cells (" +
             AINTEGER(cellCount) + ") for " + name + ".");
    }
}

// Counts that no step of the file bears out are believed only up to this many (a mesh of more
// than 16 million nodes or cells is not taken on the word of a header alone).
constexpr std::int64_t kUnconfirmedCountLimit = std::int64_t{1} << 24;

// The counts of a header decide how large the run's tables are, so a header alone may not ask
// for tables the file could never fill. Counts are confirmed by a first step that fits in the
// rest of the file (the cells only when its status says it carries flags). Counts that are not
// confirmed are held to two cells per node, as in any flat mesh, and (unless a step confirms
// the nodes) to kUnconfirmedCountLimit. A first step cut short with small counts is left to
// the step reader, which reports it.
void checkCountsAgainstFile(std::FILE* stream, const DatasetHeader& h, std::int32_t card,
                            std::size_t flagSize, const std::string& name) {
    bool nodesConfirmed = false;
    bool cellsConfirmed = false;
    const off_t here = card == kCardStep ? ftello(stream) : -1;
    if (here >= 0) {
        unsigned char status[4];
        const std::size_t got = std::fread(status, 1, flagSize, stream);
        // A card 200 with nothing after it opens a step that was cut off.
        if (got == 0 && !std::ferror(stream)) {
            fail("ERROR - Unexpected end of file in " + name + " while reading a time step.");
        }
        fseeko(stream, 0, SEEK_END);
        const off_t end = ftello(stream);
        fseeko(stream, here, SEEK_SET);
        if (got == flagSize && end >= here) {
            const std::int32_t s =
                flagSize == 1 ? static_cast<std::int8_t>(status[0]) : loadInt(status);
            const std::int64_t nodes = h.nodeCount;
            const std::int64_t flags = s == 1 ? std::int64_t{h.cellCount} * flagSize : 0;
            const std::int64_t needed =
                static_cast<std::int64_t>(flagSize) + 4 + flags + nodes * (h.isVector ? 8 : 4);
            nodesConfirmed = static_cast<std::int64_t>(end - here) >= needed;
            cellsConfirmed = nodesConfirmed && s == 1;
        }
    }
    const std::int64_t cellsPerNodeLimit = 2 * std::int64_t{h.nodeCount};
    const std::int64_t cellLimit = nodesConfirmed
                                       ? cellsPerNodeLimit
                                       : std::min(kUnconfirmedCountLimit, cellsPerNodeLimit);
    if ((!nodesConfirmed && h.nodeCount > kUnconfirmedCountLimit) ||
        (!cellsConfirmed && h.cellCount > cellLimit)) {
        fail("ERROR - The header of " + name + " gives " + AINTEGER(h.nodeCount) +
             " nodes and " + AINTEGER(h.cellCount) +
             " cells, more than the file bears out: it is truncated or its header is damaged.");
    }
}

}  // namespace

void READ_DAT_HEADER(int unit, DatasetHeader& header, std::int32_t& card,
                     const std::string& fileName) {
    std::string name(trimRight(fileName));
    if (name.empty()) name = nameOf(unit);
    consoleLine();
    consoleLine("Reading Header for: " + name);

    std::FILE* stream = streamOf(unit);
    std::uint8_t& flagSize = flagSizeOf(unit);
    flagSize = 1;
    std::int32_t timeUnits = 0;
    auto truncated = [&name]() {
        fail("ERROR - Unexpected end of file in " + name + " while reading its header.");
    };

    unsigned char item[kDatasetNameLength];
    while (card != kCardStep) {
        std::size_t got = std::fread(item, 1, 4, stream);
        if (got == 0) {
            if (std::ferror(stream)) fail("ERROR - Could not read " + name + ".");
            break;  // end of file: no step follows
        }
        if (got != 4) truncated();
        card = loadInt(item);
        switch (card) {
            case kCardObjectType:
            case kCardObjectId:
            case kCardSflt:
                if (!readBytes(stream, item, 4, name)) truncated();
                break;
            case kCardFloatSize: {
                // Values are read as 4-byte reals; 8-byte ones would be read as garbage.
                if (!readBytes(stream, item, 4, name)) truncated();
                std::int32_t size = loadInt(item);
                if (size != 4) {
                    fail("ERROR - Unsupported real size " + AINTEGER(size) + " in " + name +
                         " (4 expected).");
                }
                break;
            }
            case kCardFlagSize: {
                if (!readBytes(stream, item, 4, name)) truncated();
                std::int32_t size = loadInt(item);
                if (size != 1 && size != 4) {
                    fail("ERROR - Unsupported flag size " + AINTEGER(size) + " in " + name +
                         " (1 or 4 expected).");
                }
                flagSize = static_cast<std::uint8_t>(size);
                break;
            }
            case kCardBeginScalar: header.isVector = false; break;
            case kCardBeginVector: header.isVector = true; break;
            case kCardValueCount:
                if (!readBytes(stream, item, 4, name)) truncated();
                header.nodeCount = loadInt(item);
                break;
            case kCardCellCount:
                if (!readBytes(stream, item, 4, name)) truncated();
                header.cellCount = loadInt(item);
                break;
            case kCardName: {
                if (!readBytes(stream, item, kDatasetNameLength, name)) truncated();
                std::size_t n = kDatasetNameLength;
                while (n > 0 && (item[n - 1] == ' ' || item[n - 1] == '\0')) --n;
                header.datasetName.assign(reinterpret_cast<const char*>(item), n);
                break;
            }
            case kCardReferenceTime:
                // A status of the flag size, then an 8-byte real: neither is used.
                if (!readBytes(stream, item, flagSize + 8u, name)) truncated();
                break;
            case kCardTimeUnits:
                if (!readBytes(stream, item, 4, name)) truncated();
                timeUnits = loadInt(item);
                break;
            default: break;  // 200 ends the loop; 210 and unknown cards carry nothing
        }
    }

    consoleLine("Number Cells:" + countField(header.cellCount));
    consoleLine("Number Nodes:" + countField(header.nodeCount));
    consoleLine("Data Description: " + header.datasetName);

    if (header.nodeCount < 0 || header.cellCount < 0) {
        fail("ERROR - Negative number of " +
             std::string(header.nodeCount < 0 ? "nodes" : "cells") + " in the header of " + name +
             ".");
    }
    checkCountsAgainstFile(stream, header, card, flagSize, name);
    if (timeUnits != 0) {
        const char* unitText = timeUnitName(timeUnits);
        consoleLine();
        if (unitText != nullptr) {
            consoleLine("WARNING - The times of " + name + " are in " + unitText +
                        ", not hours; durations are in " + unitText + " too.");
        } else {
            consoleLine("WARNING - The times of " + name + " are in an unknown unit (code " +
                        AINTEGER(timeUnits) + "), not hours.");
        }
    }
}

namespace {

// Moves past size bytes of an input, when the file surely holds them: a file too short is left
// to the reader, which reports it.
bool skipBytes(int unit, std::FILE* stream, std::int64_t size) {
    if (unitBytesLeft(unit) < size) return false;
    return fseeko(stream, static_cast<off_t>(size), SEEK_CUR) == 0;
}

// Moves past size bytes of an input in any case: by a seek when it can, else by reading them
// into the work area. False when the file ends first.
bool passOver(int unit, std::FILE* stream, std::size_t size, const std::string& name) {
    if (skipBytes(unit, stream, static_cast<std::int64_t>(size))) return true;
    for (std::size_t done = 0; done < size;) {
        const std::size_t n = std::min(kChunkBytes, size - done);
        if (!readBytes(stream, gChunk, n, name)) return false;
        done += n;
    }
    return true;
}

bool readStep(int unit, bool isVector, std::int32_t nodeCount, std::int32_t cellCount,
              std::int8_t* active, float* values1, float* values2, float& time,
              std::int32_t& card, const std::function<bool(float)>* wanted,
              std::int64_t* flagsAt, const PieceWork* onValues) {
    std::FILE* stream = streamOf(unit);
    const std::string name = nameOf(unit);
    checkCounts(nodeCount, cellCount, name);
    const std::size_t flagSize = flagSizeOf(unit);

    unsigned char item[8];
    if (!readBytes(stream, item, flagSize + 4, name)) {
        fail("ERROR - Unexpected end of file in " + name + " while reading a time step.");
    }
    const std::int32_t status = flagSize == 1 ? static_cast<std::int8_t>(item[0]) : loadInt(item);
    time = loadFloat(item + flagSize);
    const std::string timeText = AREAL(time);
    consoleLine("Reading data for time " + timeText);
    auto truncated = [&]() {
        fail("ERROR - Unexpected end of file in " + name + " while reading the time step at time " +
             timeText + ".");
    };

    const auto cells = static_cast<std::size_t>(cellCount);
    const auto nodes = static_cast<std::size_t>(nodeCount);
    if (flagsAt != nullptr) *flagsAt = -1;
    if (status == 1) {
        if (flagsAt != nullptr) {
            const off_t here = ftello(stream);
            *flagsAt = here < 0 ? -1 : static_cast<std::int64_t>(here);
        }
        bool ok = active == nullptr ? passOver(unit, stream, cells * flagSize, name)
                  : flagSize == 1   ? readBlock(stream, active, cells, name)
                                    : readWideFlags(stream, active, cells, name);
        if (!ok) truncated();
    }
    const bool isWanted = wanted == nullptr || (*wanted)(time);
    const bool skipped =
        !isWanted && skipBytes(unit, stream, static_cast<std::int64_t>(nodes) * (isVector ? 8 : 4));
    if (!skipped) {
        // Values read although not wanted (a stream that cannot seek) are not worked on.
        const PieceWork* onPiece = isWanted ? onValues : nullptr;
        bool ok = isVector ? readPairs(stream, values1, values2, nodes, name, onPiece)
                           : readReals(stream, values1, nodes, name, onPiece);
        if (!ok) truncated();
    }

    std::size_t got = std::fread(item, 1, 4, stream);
    if (got == 0) {
        if (std::ferror(stream)) fail("ERROR - Could not read " + name + ".");
        card = kCardEnd;
    } else if (got != 4) {
        truncated();
    } else {
        card = loadInt(item);
        // A card 200 with nothing after it opens a step that was cut off.
        if (card == kCardStep && unitAtEnd(unit)) {
            fail("ERROR - Unexpected end of file in " + name + " while reading a time step.");
        }
    }
    return !skipped;
}

}  // namespace

void READ_DAT_STEP(int unit, bool isVector, std::int32_t nodeCount, std::int32_t cellCount,
                   std::int8_t* active, float* values1, float* values2, float& time,
                   std::int32_t& card) {
    readStep(unit, isVector, nodeCount, cellCount, active, values1, values2, time, card, nullptr,
             nullptr, nullptr);
}

bool READ_DAT_STEP(int unit, bool isVector, std::int32_t nodeCount, std::int32_t cellCount,
                   std::int8_t* active, float* values1, float* values2, float& time,
                   std::int32_t& card, const std::function<bool(float)>& wanted,
                   std::int64_t* flagsAt, const PieceWork* onValues) {
    return readStep(unit, isVector, nodeCount, cellCount, active, values1, values2, time, card,
                    &wanted, flagsAt, onValues);
}

void READ_DAT_FLAGS(int unit, std::int64_t at, std::int32_t cellCount, std::int8_t* active) {
    std::FILE* stream = streamOf(unit);
    const std::string name = nameOf(unit);
    checkCounts(0, cellCount, name);
    const off_t here = ftello(stream);
    const auto cells = static_cast<std::size_t>(cellCount);
    const bool ok = here >= 0 && fseeko(stream, static_cast<off_t>(at), SEEK_SET) == 0 &&
                    (flagSizeOf(unit) == 1 ? readBytes(stream, active, cells, name)
                                           : readWideFlags(stream, active, cells, name)) &&
                    fseeko(stream, here, SEEK_SET) == 0;
    if (!ok) fail("ERROR - Could not read " + name + " again.");
}

void WRITE_DAT_HEADER(int unit, std::int32_t nodeCount, std::int32_t cellCount,
                      bool vectorOutput, const std::string& outputName) {
    std::FILE* stream = streamOf(unit);
    std::string datasetName(trimRight(FILENAME(outputName)));
    if (datasetName.size() > kDatasetNameLength) {
        datasetName.erase(0, datasetName.size() - kDatasetNameLength);
    }
    datasetName.resize(kDatasetNameLength, ' ');

    unsigned char bytes[kWrittenHeaderBytes];
    const std::int32_t items[] = {3000,
                                  kCardObjectType, 3,
                                  kCardFloatSize, 4,
                                  kCardFlagSize, 1,
                                  vectorOutput ? kCardBeginVector : kCardBeginScalar,
                                  kCardValueCount, nodeCount,
                                  kCardCellCount, cellCount,
                                  kCardName};
    unsigned char* p = bytes;
    for (std::int32_t value : items) {
        storeInt(p, value);
        p += 4;
    }
    std::memcpy(p, datasetName.data(), kDatasetNameLength);
    writeBytes(unit, stream, bytes, sizeof bytes);
}

void WRITE_DAT_STEP(int unit, bool vectorOutput, float time, std::int32_t nodeCount,
                    std::int32_t cellCount, const std::int8_t* active, const float* values1,
                    const float* values2) {
    std::FILE* stream = streamOf(unit);
    checkCounts(nodeCount, cellCount, nameOf(unit));
    unsigned char lead[9];
    storeInt(lead, kCardStep);
    lead[4] = 1;
    storeFloat(lead + 5, time);
    writeBytes(unit, stream, lead, sizeof lead);
    writeBytes(unit, stream, active, static_cast<std::size_t>(cellCount));
    const auto nodes = static_cast<std::size_t>(nodeCount);
    if (vectorOutput) {
        writePairs(unit, stream, values1, values2, nodes);
    } else {
        writeReals(unit, stream, values1, nodes);
    }
}

void WRITE_DAT_END(int unit) {
    std::FILE* stream = streamOf(unit);
    unsigned char bytes[4];
    storeInt(bytes, kCardEnd);
    writeBytes(unit, stream, bytes, sizeof bytes);
}

float VECTOR_MAGNITUDE(float x, float y) {
    if (std::fabs(x) <= 1.0E-5f && std::fabs(y) <= 1.0E-5f) return 0.0f;
    return std::sqrt(x * x + y * y);
}

void VECTOR_MAGNITUDES(const float* x, const float* y, float* magnitude, std::size_t count) {
    std::size_t i = 0;
#if defined(__SSE2__)
    // The same single-precision operations four lanes at a time; the square root instruction
    // rounds exactly as std::sqrt(float) does.
    const __m128 noSign = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    const __m128 tiny = _mm_set1_ps(1.0E-5f);
    for (; i + 4 <= count; i += 4) {
        const __m128 vx = _mm_loadu_ps(x + i);
        const __m128 vy = _mm_loadu_ps(y + i);
        const __m128 small = _mm_and_ps(_mm_cmple_ps(_mm_and_ps(vx, noSign), tiny),
                                        _mm_cmple_ps(_mm_and_ps(vy, noSign), tiny));
        const __m128 length = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(vx, vx), _mm_mul_ps(vy, vy)));
        _mm_storeu_ps(magnitude + i, _mm_andnot_ps(small, length));
    }
#endif
    for (; i < count; ++i) magnitude[i] = VECTOR_MAGNITUDE(x[i], y[i]);
}

std::int64_t unitBytesLeft(int unit) {
    std::FILE* stream = unitStream(unit);
    if (stream == nullptr) return 0;
    const off_t here = ftello(stream);
    if (here < 0 || fseeko(stream, 0, SEEK_END) != 0) {
        return std::numeric_limits<std::int64_t>::max();
    }
    const off_t end = ftello(stream);
    fseeko(stream, here, SEEK_SET);
    if (end < here) return 0;
    return static_cast<std::int64_t>(end - here);
}

}  // namespace kelvara
