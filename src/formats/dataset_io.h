// Reading and writing binary mesh datasets (".dat", see dataset.h for the layout): one
// DatasetReader per open dataset and one DatasetWriter per output, each owning its stream and
// all of its state. Neither prints: the lines a reader reports (the header's summary, "Reading
// data for time ...", warnings) go to the MessageSink it is given. Failures throw kelvara::Error
// (fileio/error.h) carrying the "ERROR - " lines that name the file.
//
// Usable on its own: a program opens a dataset by path or hands over bytes in memory; the tool
// hands over the streams of its file units.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "formats/dataset.h"

namespace kelvara {

// Lines a reader or writer reports, one call per console line ("" is an empty line).
using MessageSink = std::function<void(const std::string& line)>;

// Where a reader's bytes come from.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to size bytes; fewer only at the end of the data or on an error (failed()).
    virtual std::size_t read(void* data, std::size_t size) = 0;
    virtual bool failed() const = 0;
    // Whether the next read would find no more bytes.
    virtual bool atEnd() = 0;
    // Position from the start, and moving there; -1 / false when the source cannot seek.
    virtual std::int64_t position() = 0;
    virtual bool seek(std::int64_t at) = 0;
    // Total size in bytes; -1 when unknown.
    virtual std::int64_t size() = 0;
    // Reads at a position without moving, safe from several threads at once (shared reads of
    // large blocks); canReadAt() false when the source has no such read.
    virtual bool canReadAt() const { return false; }
    virtual std::int64_t readAt(void*, std::size_t, std::int64_t) { return -1; }
};

// A stdio stream (closed with the source when owned).
std::unique_ptr<ByteSource> fileSource(std::FILE* file, bool owned);
// size bytes at data, which must outlive the source; nothing is copied.
std::unique_ptr<ByteSource> memorySource(const void* data, std::size_t size);

// Work on the node values of a step as they arrive: called with nodes [begin, end) as soon as
// their values are in values1 (and values2), while they are still in the cache. The ranges of a
// step are disjoint and cover every node; those of one part come in node order, part 0 starting
// at node 0 and the parts following each other in node order, but different parts may be worked
// on at the same time by different threads. Every range starts at a multiple of 1024 nodes.
// The work must not throw.
using PieceWork = std::function<void(std::size_t part, std::size_t begin, std::size_t end)>;

// What becomes of the cells' flags of a step: read into the buffer; passed over (the buffer
// keeping what it held); or deferred: passed over, but remembered, so that readDeferredFlags can
// read them later when they turn out to be needed.
enum class FlagReading { Read, PassOver, Defer };

// The caller's buffers for one step, indexed from 0: active (cellCount flags, 1 = active),
// values1 (nodeCount), values2 (nodeCount, vector datasets only).
struct StepBuffers {
    std::int8_t* active = nullptr;
    float* values1 = nullptr;
    float* values2 = nullptr;
};

// How much of a step to read. Without wanted every step's values are read; with it, the values
// of a step whose time it refuses are passed over (in one seek where the source can seek).
struct StepRequest {
    const std::function<bool(float)>* wanted = nullptr;
    FlagReading flags = FlagReading::Read;
    const PieceWork* onValues = nullptr;  // called for the values of a wanted step as they arrive
};

// What nextStep read.
struct StepRead {
    float time = 0.0f;
    bool valuesRead = false;  // false: passed over (the buffers keep what they held)
    bool hasFlags = false;    // the step carries flags (read, passed over or deferred)
};

class DatasetReader {
public:
    // name: the file as the reader's messages name it.
    DatasetReader(std::unique_ptr<ByteSource> source, std::string name, MessageSink messages = {});
    // Opens the file at path for reading; throws Error when it cannot be opened.
    static DatasetReader open(const std::string& path, MessageSink messages = {});
    ~DatasetReader();
    DatasetReader(DatasetReader&&) noexcept;
    DatasetReader& operator=(DatasetReader&&) noexcept;

    // Reads the header from the current position (the start, or after rewind()): prints
    // "Reading Header for: <shownName>" (the reader's name when empty), the counts and the
    // dataset name, and warns when the times are not in hours. Cards the file lacks leave the
    // fields of startingFrom as they are. Refuses counts that the file cannot bear out.
    const DatasetHeader& readHeader(const std::string& shownName = {},
                                    const DatasetHeader& startingFrom = {});
    const DatasetHeader& header() const { return header_; }

    // Whether another step follows (the last card read was 200 and the data goes on).
    bool hasStep();
    // Reads the next step into the buffers and the card after it; prints "Reading data for time
    // <time>". Only when hasStep(). A step whose time is not a number is an error naming the
    // byte at which the step begins (its card 200). Flags of 4 bytes are read as the one-byte
    // flag of the same value (0 to 255), any other value as 1: every flag but 0 is active.
    StepRead nextStep(const StepBuffers& into, const StepRequest& request = {});

    // Whether the flags of the last step read with FlagReading::Defer are still to be read, and
    // reading them (into active, as nextStep would have); they are then no longer pending.
    bool hasDeferredFlags() const { return deferredAt_ >= 0; }
    void readDeferredFlags(std::int8_t* active);

    // Back to the start of the data, to read the header again.
    void rewind();
    // Where the next step starts (-1 when the source cannot seek), and coming back there to
    // read that step again: for a step read before its time had come. Only when hasStep().
    std::int64_t stepPosition();
    bool returnToStep(std::int64_t at);

    // The last card read (200 when a step follows, 210 at the end).
    std::int32_t card() const { return card_; }
    const std::string& name() const { return name_; }
    // Bytes of the status and of each flag (card 120: 1 or 4), and the time unit of card 250
    // (0 when the header has none, meaning hours; 1 minutes, 2 seconds, 4 days), as readHeader
    // found them.
    int flagSize() const;
    std::int32_t timeUnits() const;
    // Bytes from the current position to the end; INT64_MAX when the source cannot seek.
    std::int64_t bytesLeft();

private:
    struct State;
    std::unique_ptr<State> state_;
    DatasetHeader header_;
    std::string name_;
    std::int32_t card_ = 0;
    std::int64_t deferredAt_ = -1;
};

// Where a writer's bytes go.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Writes size bytes; false on an error.
    virtual bool write(const void* data, std::size_t size) = 0;
};

// A stdio stream (closed with the sink when owned).
std::unique_ptr<ByteSink> fileSink(std::FILE* file, bool owned);
// Appends to into, which must outlive the sink.
std::unique_ptr<ByteSink> memorySink(std::string& into);

class DatasetWriter {
public:
    // name: the file as error messages name it.
    DatasetWriter(std::unique_ptr<ByteSink> sink, std::string name);
    ~DatasetWriter();
    DatasetWriter(DatasetWriter&&) noexcept;
    DatasetWriter& operator=(DatasetWriter&&) noexcept;

    // The 92-byte header: 3000, cards 100, 110, 120 with their payloads, 130 (scalar) or 140
    // (vector), 170, 180 and 190 with the last 40 characters of the output's bare name.
    void writeHeader(std::int32_t nodeCount, std::int32_t cellCount, bool vectors,
                     const std::string& outputName);
    // Card 200, status 1, time, the header's cellCount flags, then values1 (scalar) or the pairs
    // (values1[i], values2[i]).
    void writeStep(float time, const std::int8_t* active, const float* values1,
                   const float* values2);
    // The end card 210.
    void writeEnd();

    // What was written: the number of steps, the times of the first kTimesKept of them, and
    // the counts of the header.
    static constexpr std::size_t kTimesKept = 5;
    std::int64_t stepCount() const;
    const std::vector<float>& firstStepTimes() const;
    std::int32_t nodeCount() const;
    std::int32_t cellCount() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace kelvara
