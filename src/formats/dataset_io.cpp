#include "formats/dataset_io.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <utility>
#include <sys/types.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "fileio/error.h"
#include "fileio/platform.h"
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

// Vector pairs are (de)interleaved and 4-byte flags converted through a work area of this size,
// one per reader and writer, so that no step allocates.
constexpr std::size_t kChunkBytes = std::size_t{1} << 20;

std::uint32_t load32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::int32_t loadInt(const unsigned char* p) { return static_cast<std::int32_t>(load32(p)); }

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

[[noreturn]] void fail(const std::string& text) { throw errorLine(text); }

// ---- Sources and sinks ----------------------------------------------------------------------

class FileSource final : public ByteSource {
public:
    FileSource(std::FILE* file, bool owned) : file_(file), owned_(owned) {}
    ~FileSource() override {
        if (owned_ && file_ != nullptr) std::fclose(file_);
    }
    std::size_t read(void* data, std::size_t size) override {
        return std::fread(data, 1, size, file_);
    }
    bool failed() const override { return std::ferror(file_) != 0; }
    bool atEnd() override {
        const int c = std::getc(file_);
        if (c == EOF) return true;
        std::ungetc(c, file_);
        return false;
    }
    std::int64_t position() override {
        const off_t here = ftello(file_);
        return here < 0 ? -1 : static_cast<std::int64_t>(here);
    }
    bool seek(std::int64_t at) override {
        return fseeko(file_, static_cast<off_t>(at), SEEK_SET) == 0;
    }
    std::int64_t size() override {
        const off_t here = ftello(file_);
        if (here < 0 || fseeko(file_, 0, SEEK_END) != 0) return -1;
        const off_t end = ftello(file_);
        fseeko(file_, here, SEEK_SET);
        return static_cast<std::int64_t>(end);
    }
    bool canReadAt() const override { return platform::readAtSupported(); }
    std::int64_t readAt(void* data, std::size_t size, std::int64_t at) override {
        return platform::readAt(file_, data, size, at);
    }

private:
    std::FILE* file_;
    bool owned_;
};

class MemorySource final : public ByteSource {
public:
    MemorySource(const void* data, std::size_t size)
        : data_(static_cast<const unsigned char*>(data)), size_(size) {}
    std::size_t read(void* data, std::size_t size) override {
        const std::size_t n = std::min(size, size_ - at_);
        if (n > 0) std::memcpy(data, data_ + at_, n);
        at_ += n;
        return n;
    }
    bool failed() const override { return false; }
    bool atEnd() override { return at_ >= size_; }
    std::int64_t position() override { return static_cast<std::int64_t>(at_); }
    bool seek(std::int64_t at) override {
        if (at < 0) return false;
        at_ = std::min(static_cast<std::size_t>(at), size_);
        return true;
    }
    std::int64_t size() override { return static_cast<std::int64_t>(size_); }
    bool canReadAt() const override { return true; }
    std::int64_t readAt(void* data, std::size_t size, std::int64_t at) override {
        if (at < 0) return -1;
        const std::size_t from = std::min(static_cast<std::size_t>(at), size_);
        const std::size_t n = std::min(size, size_ - from);
        if (n > 0) std::memcpy(data, data_ + from, n);
        return static_cast<std::int64_t>(n);
    }

private:
    const unsigned char* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

class FileSink final : public ByteSink {
public:
    FileSink(std::FILE* file, bool owned) : file_(file), owned_(owned) {}
    ~FileSink() override {
        if (owned_ && file_ != nullptr) std::fclose(file_);
    }
    bool write(const void* data, std::size_t size) override {
        return std::fwrite(data, 1, size, file_) == size;
    }

private:
    std::FILE* file_;
    bool owned_;
};

class MemorySink final : public ByteSink {
public:
    explicit MemorySink(std::string& into) : into_(into) {}
    bool write(const void* data, std::size_t size) override {
        into_.append(static_cast<const char*>(data), size);
        return true;
    }

private:
    std::string& into_;
};

// Large blocks go to and from the system in pieces of at most this size: the system copies
// them fastest, and much larger single calls now and then stall for a long time on some
// systems while it finds room for them in its cache.
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

// Large blocks of a file are read by several threads at once, each its own part, where the
// source reads at a position without moving: copying from the system's cache is then shared
// among the cores. Smaller blocks, sources that cannot (pipes) and big-endian hosts go the
// ordinary way.
constexpr std::size_t kSharedReadBytes = std::size_t{1} << 20;
constexpr std::size_t kSharedPartBytes = std::size_t{512} << 10;  // at least, per part
constexpr std::size_t kPartChunkBytes = std::size_t{256} << 10;

// The outcome of the parts of a shared read.
struct SharedRead {
    std::array<bool, kMaxParts> failed{};
    std::array<bool, kMaxParts> shortRead{};

    void note(std::size_t part, std::int64_t got, std::size_t wanted) {
        if (got < 0) failed[part] = true;
        if (got >= 0 && static_cast<std::size_t>(got) != wanted) shortRead[part] = true;
    }
    // Moves the source past the block read; false when the data ended first.
    bool finish(ByteSource& source, std::int64_t start, std::size_t size,
                const std::string& name) const {
        for (bool f : failed)
            if (f) fail("ERROR - Could not read " + name + ".");
        for (bool s : shortRead)
            if (s) return false;
        if (!source.seek(start + static_cast<std::int64_t>(size))) {
            fail("ERROR - Could not read " + name + ".");
        }
        return true;
    }
};

// Splits n pairs at p into the two tables.
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

// Cards a header may have before its first step: a real one has a dozen.
constexpr int kHeaderCardLimit = 100;

// Counts that no step of the file bears out are believed only up to this many (a mesh of more
// than 16 million nodes or cells is not taken on the word of a header alone).
constexpr std::int64_t kUnconfirmedCountLimit = std::int64_t{1} << 24;

}  // namespace

std::unique_ptr<ByteSource> fileSource(std::FILE* file, bool owned) {
    return std::make_unique<FileSource>(file, owned);
}

std::unique_ptr<ByteSource> memorySource(const void* data, std::size_t size) {
    return std::make_unique<MemorySource>(data, size);
}

std::unique_ptr<ByteSink> fileSink(std::FILE* file, bool owned) {
    return std::make_unique<FileSink>(file, owned);
}

std::unique_ptr<ByteSink> memorySink(std::string& into) {
    return std::make_unique<MemorySink>(into);
}

// ---- Reader -------------------------------------------------------------------------------

struct DatasetReader::State {
    std::unique_ptr<ByteSource> source;
    MessageSink messages;
    std::size_t flagSize = 1;  // bytes of the status and of each flag (card 120)
    bool warnedNoEndCard = false;  // the data ended without its end card, and was warned of
    std::int32_t timeUnits = 0;  // card 250 (0: hours)
    std::vector<unsigned char> chunk;
    std::array<std::vector<unsigned char>, kMaxParts> partAreas;

    void say(const std::string& line) const {
        if (messages) messages(line);
    }
    // The work area, at least min(bytes, kChunkBytes) long: small datasets never pay for more.
    std::size_t work(std::size_t bytes) {
        const std::size_t wanted = std::max<std::size_t>(8, std::min(bytes, kChunkBytes));
        if (chunk.size() < wanted) chunk.resize(wanted);
        return chunk.size();
    }

    // Reads exactly size bytes; false when the data ends first (a read error fails).
    bool readBytes(void* data, std::size_t size, const std::string& name) {
        auto* bytes = static_cast<unsigned char*>(data);
        for (std::size_t done = 0; done < size;) {
            const std::size_t n = std::min(kPieceBytes, size - done);
            if (source->read(bytes + done, n) != n) {
                if (source->failed()) fail("ERROR - Could not read " + name + ".");
                return false;
            }
            done += n;
        }
        return true;
    }

    // Position where a shared read of size bytes starts, or -1 for an ordinary read.
    std::int64_t sharedReadStart(std::size_t size) {
        if (!kLittleEndianHost || size < kSharedReadBytes || !source->canReadAt() ||
            partCount() < 2) {
            return -1;
        }
        return source->position();
    }

    // Reads exactly size bytes, shared among threads when the block is large. onPiece, when
    // given, is called with the part and the range of items (of itemBytes each) of every piece
    // as soon as the piece is in place.
    bool readBlock(void* data, std::size_t size, const std::string& name,
                   const PieceWork* onPiece = nullptr, std::size_t itemBytes = 1) {
        auto* bytes = static_cast<unsigned char*>(data);
        const auto arrived = [&](std::size_t part, std::size_t b, std::size_t e) {
            if (onPiece != nullptr) (*onPiece)(part, b / itemBytes, e / itemBytes);
        };
        const std::int64_t start = sharedReadStart(size);
        if (start < 0) {
            for (std::size_t done = 0; done < size;) {
                const std::size_t n = std::min(kPieceBytes, size - done);
                if (!readBytes(bytes + done, n, name)) return false;
                arrived(0, done, done + n);
                done += n;
            }
            return true;
        }
        SharedRead outcome;
        ByteSource& from = *source;
        forEachPart(size, 4096, kSharedPartBytes,
                    [&](std::size_t part, std::size_t b, std::size_t e) {
                        for (std::size_t done = b; done < e;) {
                            const std::size_t n = std::min(kPieceBytes, e - done);
                            const std::int64_t got = from.readAt(
                                bytes + done, n, start + static_cast<std::int64_t>(done));
                            outcome.note(part, got, n);
                            if (got != static_cast<std::int64_t>(n)) return;
                            arrived(part, done, done + n);
                            done += n;
                        }
                    });
        return outcome.finish(*source, start, size, name);
    }

    // Reads count little-endian 4-byte reals straight into values.
    bool readReals(float* values, std::size_t count, const std::string& name,
                   const PieceWork* onPiece) {
        if (!kLittleEndianHost) {
            if (!readBlock(values, count * 4, name)) return false;
            swapBytes4(values, count);
            if (onPiece != nullptr && count > 0) (*onPiece)(0, 0, count);
            return true;
        }
        return readBlock(values, count * 4, name, onPiece, 4);
    }

    // Reads count (first, second) pairs of reals into two tables: through the work area, or in
    // a shared read through a work area of each part's own.
    bool readPairs(float* first, float* second, std::size_t count, const std::string& name,
                   const PieceWork* onPiece) {
        const std::int64_t start = sharedReadStart(count * 8);
        if (start < 0) {
            const std::size_t kPairsPerChunk = work(count * 8) / 8;
            unsigned char* area = chunk.data();
            for (std::size_t done = 0; done < count;) {
                std::size_t n = std::min(kPairsPerChunk, count - done);
                if (!readBytes(area, n * 8, name)) return false;
                splitPairs(area, n, first + done, second + done);
                if (onPiece != nullptr) (*onPiece)(0, done, done + n);
                done += n;
            }
            return true;
        }
        for (std::size_t part = 0; part < partCount(); ++part) partAreas[part].resize(kPartChunkBytes);
        SharedRead outcome;
        ByteSource& from = *source;
        constexpr std::size_t kPairsPerChunk = kPartChunkBytes / 8;
        forEachPart(count, 1024, kSharedPartBytes / 8,
                    [&](std::size_t part, std::size_t b, std::size_t e) {
                        unsigned char* area = partAreas[part].data();
                        for (std::size_t done = b; done < e;) {
                            const std::size_t n = std::min(kPairsPerChunk, e - done);
                            const std::int64_t got = from.readAt(
                                area, n * 8, start + static_cast<std::int64_t>(done) * 8);
                            outcome.note(part, got, n * 8);
                            if (got != static_cast<std::int64_t>(n * 8)) return;
                            splitPairs(area, n, first + done, second + done);
                            if (onPiece != nullptr) (*onPiece)(part, done, done + n);
                            done += n;
                        }
                    });
        return outcome.finish(*source, start, count * 8, name);
    }

    // Reads count flags: single bytes as they are; 4-byte flags as the byte of the same value
    // when it fits in one (0 to 255: 255 stays 255, read as -1), and as 1 for any other, which
    // is active as any flag but 0 is.
    bool readFlags(std::int8_t* active, std::size_t count, const std::string& name) {
        if (flagSize == 1) return readBlock(active, count, name);
        const std::size_t kFlagsPerChunk = work(count * 4) / 4;
        unsigned char* area = chunk.data();
        for (std::size_t done = 0; done < count;) {
            std::size_t n = std::min(kFlagsPerChunk, count - done);
            if (!readBytes(area, n * 4, name)) return false;
            for (std::size_t i = 0; i < n; ++i) {
                const std::uint32_t flag = load32(area + 4 * i);
                active[done + i] = static_cast<std::int8_t>(flag <= 255u ? flag : 1u);
            }
            done += n;
        }
        return true;
    }

    std::int64_t bytesLeft() {
        const std::int64_t here = source->position();
        const std::int64_t end = here < 0 ? -1 : source->size();
        if (end < 0) return std::numeric_limits<std::int64_t>::max();
        return end < here ? 0 : end - here;
    }

    // Moves past size bytes, when the data surely holds them: data too short is left to the
    // reader, which reports it.
    bool skipBytes(std::int64_t size) {
        if (bytesLeft() < size) return false;
        return source->seek(source->position() + size);
    }

    // Moves past size bytes in any case: by a seek when it can, else by reading them into the
    // work area. False when the data ends first.
    bool passOver(std::size_t size, const std::string& name) {
        if (skipBytes(static_cast<std::int64_t>(size))) return true;
        const std::size_t areaBytes = work(size);
        unsigned char* area = chunk.data();
        for (std::size_t done = 0; done < size;) {
            const std::size_t n = std::min(areaBytes, size - done);
            if (!readBytes(area, n, name)) return false;
            done += n;
        }
        return true;
    }

    // The counts of a header decide how large a run's tables are, so a header alone may not ask
    // for tables the file could never fill. Counts are confirmed by a first step that fits in
    // the rest of the file (the cells only when its status says it carries flags). Counts that
    // are not confirmed are held to two cells per node, as in any flat mesh, and (unless a step
    // confirms the nodes) to kUnconfirmedCountLimit. A first step cut short with small counts
    // is left to the step reader, which reports it.
    void checkCountsAgainstFile(const DatasetHeader& h, std::int32_t card,
                                const std::string& name) {
        bool nodesConfirmed = false;
        bool cellsConfirmed = false;
        const std::int64_t here = card == kCardStep ? source->position() : -1;
        if (here >= 0) {
            unsigned char status[4];
            const std::size_t got = source->read(status, flagSize);
            // A card 200 with nothing after it opens a step that was cut off.
            if (got == 0 && !source->failed()) {
                fail("ERROR - Unexpected end of file in " + name + " while reading a time step.");
            }
            const std::int64_t end = source->size();
            source->seek(here);
            if (got == flagSize && end >= here) {
                const std::int32_t s =
                    flagSize == 1 ? static_cast<std::int8_t>(status[0]) : loadInt(status);
                const std::int64_t nodes = h.nodeCount;
                const std::int64_t flags = s == 1 ? std::int64_t{h.cellCount} * static_cast<std::int64_t>(flagSize) : 0;
                const std::int64_t needed =
                    static_cast<std::int64_t>(flagSize) + 4 + flags + nodes * (h.isVector ? 8 : 4);
                nodesConfirmed = end - here >= needed;
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
};

DatasetReader::DatasetReader(std::unique_ptr<ByteSource> source, std::string name,
                             MessageSink messages)
    : state_(std::make_unique<State>()), name_(std::move(name)) {
    state_->source = std::move(source);
    state_->messages = std::move(messages);
}

DatasetReader DatasetReader::open(const std::string& path, MessageSink messages) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) fail("ERROR - Unable to open \"" + path + "\".");
    return DatasetReader(fileSource(file, true), path, std::move(messages));
}

DatasetReader::~DatasetReader() = default;
DatasetReader::DatasetReader(DatasetReader&&) noexcept = default;
DatasetReader& DatasetReader::operator=(DatasetReader&&) noexcept = default;

std::int64_t DatasetReader::bytesLeft() { return state_->bytesLeft(); }
int DatasetReader::flagSize() const { return static_cast<int>(state_->flagSize); }
std::int32_t DatasetReader::timeUnits() const { return state_->timeUnits; }

void DatasetReader::rewind() {
    state_->source->seek(0);
    card_ = 0;
    deferredAt_ = -1;
}

std::int64_t DatasetReader::stepPosition() { return state_->source->position(); }

bool DatasetReader::returnToStep(std::int64_t at) {
    if (at < 0 || !state_->source->seek(at)) return false;
    card_ = kCardStep;
    deferredAt_ = -1;
    return true;
}

bool DatasetReader::hasStep() { return card_ == kCardStep && !state_->source->atEnd(); }

namespace {

// What a file that is not a dataset begins with, said so that the user sees what was given:
// a mesh, or other text. "" for binary bytes.
std::string notADatasetHint(ByteSource& source, const std::string& name) {
    if (!source.seek(0)) return {};
    char first[24] = {};
    const std::size_t got = source.read(first, sizeof first);
    std::string text(first, got);
    std::size_t printable = 0;
    while (printable < text.size() &&
           ((text[printable] >= 32 && text[printable] < 127) || text[printable] == '\t' ||
            text[printable] == '\r' || text[printable] == '\n'))
        ++printable;
    if (printable < 4 || printable < text.size()) return {};
    for (const char* mesh : {"MESH2D", "MESHNAME", "ND ", "E3T", "E4Q", "E6T", "E8Q"}) {
        if (text.compare(0, std::string(mesh).size(), mesh) == 0) {
            return name + " is not a .dat dataset (it begins like a .2dm mesh): give a run's "
                          "result dataset, such as run_h.dat, run_d.dat or run_V.dat.";
        }
    }
    const std::size_t lineEnd = text.find_first_of("\r\n");
    if (lineEnd != std::string::npos) text.resize(lineEnd);
    return name + " is not a .dat dataset (it begins with the text \"" + text + "\").";
}

}  // namespace

const DatasetHeader& DatasetReader::readHeader(const std::string& shownName,
                                               const DatasetHeader& startingFrom) {
    State& s = *state_;
    const std::string name(shownName.empty() ? name_ : std::string(trimRight(shownName)));
    DatasetHeader& header = header_;
    header = startingFrom;
    s.say("");
    s.say("Reading Header for: " + name);

    s.flagSize = 1;
    std::int32_t timeUnits = 0;

    // A header that fails on a file that is text says what the file looks like.
    const auto fail = [&s, &name](const std::string& text) {
        std::vector<std::string> lines = {"", text};
        const std::string hint = notADatasetHint(*s.source, name);
        if (!hint.empty()) lines.push_back(hint);
        throw Error(std::move(lines));
    };
    auto truncated = [&name, &fail]() {
        fail("ERROR - Unexpected end of file in " + name + " while reading its header.");
    };

    unsigned char item[kDatasetNameLength];
    // A header that never gives its counts, or runs on far beyond any real header, is no
    // dataset (an empty file, zeros, text, a device that never ends).
    int cardsRead = 0;
    bool hasNodeCount = false;
    bool hasCellCount = false;
    while (card_ != kCardStep) {
        std::size_t got = s.source->read(item, 4);
        if (got == 0) {
            if (s.source->failed()) fail("ERROR - Could not read " + name + ".");
            if (cardsRead == 0) fail("ERROR - " + name + " is empty: it holds no dataset.");
            break;  // end of file: no step follows
        }
        if (got != 4) truncated();
        if (++cardsRead > kHeaderCardLimit) {
            fail("ERROR - " + name + " holds no dataset: no card 200 or 210 within the first " +
                 AINTEGER(kHeaderCardLimit) + " cards of its header.");
        }
        card_ = loadInt(item);
        hasNodeCount = hasNodeCount || card_ == kCardValueCount;
        hasCellCount = hasCellCount || card_ == kCardCellCount;
        switch (card_) {
            case kCardObjectType:
            case kCardObjectId:
            case kCardSflt:
                if (!s.readBytes(item, 4, name)) truncated();
                break;
            case kCardFloatSize: {
                // Values are read as 4-byte reals; 8-byte ones would be read as garbage.
                if (!s.readBytes(item, 4, name)) truncated();
                std::int32_t size = loadInt(item);
                if (size != 4) {
                    fail("ERROR - Unsupported real size " + AINTEGER(size) + " in " + name +
                         " (4 expected).");
                }
                break;
            }
            case kCardFlagSize: {
                if (!s.readBytes(item, 4, name)) truncated();
                std::int32_t size = loadInt(item);
                if (size != 1 && size != 4) {
                    fail("ERROR - Unsupported flag size " + AINTEGER(size) + " in " + name +
                         " (1 or 4 expected).");
                }
                s.flagSize = static_cast<std::size_t>(size);
                break;
            }
            case kCardBeginScalar: header.isVector = false; break;
            case kCardBeginVector: header.isVector = true; break;
            case kCardValueCount:
                if (!s.readBytes(item, 4, name)) truncated();
                header.nodeCount = loadInt(item);
                break;
            case kCardCellCount:
                if (!s.readBytes(item, 4, name)) truncated();
                header.cellCount = loadInt(item);
                break;
            case kCardName: {
                if (!s.readBytes(item, kDatasetNameLength, name)) truncated();
                std::size_t n = kDatasetNameLength;
                while (n > 0 && (item[n - 1] == ' ' || item[n - 1] == '\0')) --n;
                header.datasetName.assign(reinterpret_cast<const char*>(item), n);
                break;
            }
            case kCardReferenceTime:
                // A status of the flag size, then an 8-byte real: neither is used.
                if (!s.readBytes(item, s.flagSize + 8u, name)) truncated();
                break;
            case kCardTimeUnits:
                if (!s.readBytes(item, 4, name)) truncated();
                timeUnits = loadInt(item);
                break;
            default: break;  // 200 ends the loop; 210 and unknown cards carry nothing
        }
    }

    if (!hasNodeCount || !hasCellCount) {
        fail("ERROR - " + name + " holds no dataset: its header gives no number of " +
             (hasNodeCount ? "cells" : hasCellCount ? "nodes" : "nodes and cells") + ".");
    }
    s.say("Number Cells:" + countField(header.cellCount));
    s.say("Number Nodes:" + countField(header.nodeCount));
    s.say("Data Description: " + header.datasetName);

    if (header.nodeCount < 0 || header.cellCount < 0) {
        fail("ERROR - Negative number of " +
             std::string(header.nodeCount < 0 ? "nodes" : "cells") + " in the header of " + name +
             ".");
    }
    s.checkCountsAgainstFile(header, card_, name);
    s.timeUnits = timeUnits;
    if (timeUnits != 0) {
        const char* unitText = timeUnitName(timeUnits);
        s.say("");
        if (unitText != nullptr) {
            s.say("WARNING - The times of " + name + " are in " + unitText +
                  ", not hours; durations are in " + unitText + " too.");
        } else {
            s.say("WARNING - The times of " + name + " are in an unknown unit (code " +
                  AINTEGER(timeUnits) + "), not hours.");
        }
    }
    return header_;
}

StepRead DatasetReader::nextStep(const StepBuffers& into, const StepRequest& request) {
    State& s = *state_;
    const std::string& name = name_;
    const bool isVector = header_.isVector;
    const std::size_t flagSize = s.flagSize;
    StepRead step;
    // A caller with no table for the second components expects single values.
    if (isVector && into.values1 != nullptr && into.values2 == nullptr)
        fail("ERROR - " + name + " holds vectors where single values are expected.");

    // Flags can be deferred only where they can be read again.
    FlagReading flags = request.flags;
    if (flags == FlagReading::Defer && s.bytesLeft() == std::numeric_limits<std::int64_t>::max())
        flags = FlagReading::Read;

    unsigned char item[8];
    const std::int64_t statusAt = s.source->position();
    if (!s.readBytes(item, flagSize + 4, name)) {
        fail("ERROR - Unexpected end of file in " + name + " while reading a time step.");
    }
    const std::int32_t status = flagSize == 1 ? static_cast<std::int8_t>(item[0]) : loadInt(item);
    step.time = loadFloat(item + flagSize);
    // No step can be placed in time without a time: it is not passed over as if it were no step.
    if (step.time != step.time) {
        fail("ERROR - " + name + " is damaged: the time of the time step" +
             (statusAt >= 4 ? " at byte " + std::to_string(static_cast<long long>(statusAt - 4))
                            : std::string()) +
             " is not a number.");
    }
    const std::string timeText = AREAL(step.time);
    s.say("Reading data for time " + timeText);
    auto truncated = [&]() {
        fail("ERROR - Unexpected end of file in " + name + " while reading the time step at time " +
             timeText + ".");
    };

    const auto cells = static_cast<std::size_t>(header_.cellCount);
    const auto nodes = static_cast<std::size_t>(header_.nodeCount);
    if (status == 1) {
        step.hasFlags = true;
        const std::int64_t flagsAt = s.source->position();
        const bool read = flags == FlagReading::Read && into.active != nullptr;
        const bool ok = read ? s.readFlags(into.active, cells, name)
                             : s.passOver(cells * flagSize, name);
        if (!ok) truncated();
        // Flags read now replace any deferred ones; deferred ones replace those before.
        if (flags != FlagReading::PassOver) deferredAt_ = flags == FlagReading::Defer ? flagsAt : -1;
    }
    const bool wanted = request.wanted == nullptr || (*request.wanted)(step.time);
    const std::size_t valueBytes = nodes * (isVector ? 8 : 4);
    bool skipped = !wanted && s.skipBytes(static_cast<std::int64_t>(valueBytes));
    if (!skipped && !wanted && into.values1 == nullptr) {
        // No table to read into: the values are passed over through the work area.
        if (!s.passOver(valueBytes, name)) truncated();
        skipped = true;
    }
    if (!skipped) {
        // Values read although not wanted (a source that cannot seek) are not worked on.
        const PieceWork* onPiece = wanted ? request.onValues : nullptr;
        const bool ok = isVector ? s.readPairs(into.values1, into.values2, nodes, name, onPiece)
                                 : s.readReals(into.values1, nodes, name, onPiece);
        if (!ok) truncated();
    }
    step.valuesRead = !skipped;

    const std::size_t got = s.source->read(item, 4);
    if (got == 0) {
        if (s.source->failed()) fail("ERROR - Could not read " + name + ".");
        // A whole last step without the end card: a run still being written.
        if (!s.warnedNoEndCard) {
            s.warnedNoEndCard = true;
            s.say("WARNING - " + name + " has no end card (210) after its last time step; it may "
                  "still be being written.");
        }
        card_ = kCardEnd;
    } else if (got != 4) {
        truncated();
    } else {
        card_ = loadInt(item);
        // Anything else means that the steps are out of line with the header: a damaged card,
        // a repeated header or an extra card.
        if (card_ != kCardStep && card_ != kCardEnd) {
            const std::int64_t at = s.source->position();
            fail("ERROR - " + name + " is damaged: card " + AINTEGER(card_) +
                 " follows the time step at time " + timeText +
                 (at >= 4 ? " at byte " + std::to_string(static_cast<long long>(at - 4)) : "") +
                 ", where only 200 or 210 may.");
        }
        // A card 200 with nothing after it opens a step that was cut off.
        if (card_ == kCardStep && s.source->atEnd()) {
            fail("ERROR - Unexpected end of file in " + name + " while reading a time step.");
        }
    }
    return step;
}

void DatasetReader::readDeferredFlags(std::int8_t* active) {
    if (deferredAt_ < 0) return;
    State& s = *state_;
    const std::int64_t here = s.source->position();
    const auto cells = static_cast<std::size_t>(header_.cellCount);
    const bool ok = here >= 0 && s.source->seek(deferredAt_) &&
                    s.readFlags(active, cells, name_) && s.source->seek(here);
    if (!ok) fail("ERROR - Could not read " + name_ + " again.");
    deferredAt_ = -1;
}

// ---- Writer -------------------------------------------------------------------------------

struct DatasetWriter::State {
    std::unique_ptr<ByteSink> sink;
    std::string name;
    std::int32_t nodeCount = 0;
    std::int32_t cellCount = 0;
    bool vectors = false;
    std::int64_t steps = 0;    // written
    std::vector<float> times;  // of the first few steps written
    std::vector<unsigned char> chunk;

    // The work area, at least min(bytes, kChunkBytes) long.
    std::size_t work(std::size_t bytes) {
        const std::size_t wanted = std::max<std::size_t>(8, std::min(bytes, kChunkBytes));
        if (chunk.size() < wanted) chunk.resize(wanted);
        return chunk.size();
    }

    void writeBytes(const void* data, std::size_t size) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (std::size_t done = 0; done < size;) {
            const std::size_t n = std::min(kPieceBytes, size - done);
            if (!sink->write(bytes + done, n)) fail("ERROR - Could not write to " + name + ".");
            done += n;
        }
    }

    void writeReals(const float* values, std::size_t count) {
        if (kLittleEndianHost) {
            writeBytes(values, count * 4);
            return;
        }
        const std::size_t kPerChunk = work(count * 4) / 4;
        unsigned char* area = chunk.data();
        for (std::size_t done = 0; done < count;) {
            std::size_t n = std::min(kPerChunk, count - done);
            for (std::size_t i = 0; i < n; ++i) storeFloat(area + 4 * i, values[done + i]);
            writeBytes(area, n * 4);
            done += n;
        }
    }

    void writePairs(const float* first, const float* second, std::size_t count) {
        const std::size_t kPairsPerChunk = work(count * 8) / 8;
        unsigned char* area = chunk.data();
        for (std::size_t done = 0; done < count;) {
            std::size_t n = std::min(kPairsPerChunk, count - done);
            unsigned char* p = area;
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
            writeBytes(area, n * 8);
            done += n;
        }
    }
};

DatasetWriter::DatasetWriter(std::unique_ptr<ByteSink> sink, std::string name)
    : state_(std::make_unique<State>()) {
    state_->sink = std::move(sink);
    state_->name = std::move(name);
}

DatasetWriter::~DatasetWriter() = default;
DatasetWriter::DatasetWriter(DatasetWriter&&) noexcept = default;
DatasetWriter& DatasetWriter::operator=(DatasetWriter&&) noexcept = default;

void DatasetWriter::writeHeader(std::int32_t nodeCount, std::int32_t cellCount, bool vectors,
                                const std::string& outputName) {
    State& s = *state_;
    if (nodeCount < 0 || cellCount < 0) {
        fail("ERROR - Invalid number of nodes (" + AINTEGER(nodeCount) + ") or cells (" +
             AINTEGER(cellCount) + ") for " + s.name + ".");
    }
    s.nodeCount = nodeCount;
    s.cellCount = cellCount;
    s.vectors = vectors;
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
                                  vectors ? kCardBeginVector : kCardBeginScalar,
                                  kCardValueCount, nodeCount,
                                  kCardCellCount, cellCount,
                                  kCardName};
    unsigned char* p = bytes;
    for (std::int32_t value : items) {
        storeInt(p, value);
        p += 4;
    }
    std::memcpy(p, datasetName.data(), kDatasetNameLength);
    s.writeBytes(bytes, sizeof bytes);
}

std::int64_t DatasetWriter::stepCount() const { return state_->steps; }
const std::vector<float>& DatasetWriter::firstStepTimes() const { return state_->times; }
std::int32_t DatasetWriter::nodeCount() const { return state_->nodeCount; }
std::int32_t DatasetWriter::cellCount() const { return state_->cellCount; }

void DatasetWriter::writeStep(float time, const std::int8_t* active, const float* values1,
                              const float* values2) {
    State& s = *state_;
    if (s.times.size() < kTimesKept) s.times.push_back(time);
    ++s.steps;
    unsigned char lead[9];
    storeInt(lead, kCardStep);
    lead[4] = 1;
    storeFloat(lead + 5, time);
    s.writeBytes(lead, sizeof lead);
    s.writeBytes(active, static_cast<std::size_t>(s.cellCount));
    const auto nodes = static_cast<std::size_t>(s.nodeCount);
    if (s.vectors) {
        s.writePairs(values1, values2, nodes);
    } else {
        s.writeReals(values1, nodes);
    }
}

void DatasetWriter::writeEnd() {
    unsigned char bytes[4];
    storeInt(bytes, kCardEnd);
    state_->writeBytes(bytes, sizeof bytes);
}

}  // namespace kelvara
