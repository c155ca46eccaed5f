// The binary mesh dataset (".dat"): a header of numbered cards, then one record per output time
// (card 200, status, time, activity flags, node values) and the end card 210. Every multi-byte
// item is little-endian. Reading and writing stream one step at a time through the caller's
// buffers; failures print an "ERROR - " line naming the file and end the run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kelvara {

// Card codes the tool writes or reacts to.
constexpr std::int32_t kCardObjectType = 100;
constexpr std::int32_t kCardFloatSize = 110;
constexpr std::int32_t kCardFlagSize = 120;
constexpr std::int32_t kCardBeginScalar = 130;
constexpr std::int32_t kCardBeginVector = 140;
constexpr std::int32_t kCardObjectId = 150;
constexpr std::int32_t kCardSflt = 160;
constexpr std::int32_t kCardValueCount = 170;
constexpr std::int32_t kCardCellCount = 180;
constexpr std::int32_t kCardName = 190;
constexpr std::int32_t kCardStep = 200;
constexpr std::int32_t kCardEnd = 210;
constexpr std::int32_t kCardReferenceTime = 240;
constexpr std::int32_t kCardTimeUnits = 250;

constexpr std::size_t kDatasetNameLength = 40;
// Size of the header WRITE_DAT_HEADER writes.
constexpr std::int64_t kWrittenHeaderBytes = 92;

// Bytes one written step takes (card 200, status, time, flags, values).
constexpr std::int64_t writtenStepBytes(bool vectorOutput, std::int64_t nodeCount,
                                        std::int64_t cellCount) {
    return 4 + 1 + 4 + cellCount + nodeCount * (vectorOutput ? 8 : 4);
}

// What the readers keep of a header. A card that does not occur leaves the field as the caller
// set it.
struct DatasetHeader {
    std::int32_t nodeCount = 0;
    std::int32_t cellCount = 0;
    bool isVector = false;
    std::string datasetName;  // without trailing blanks
};

// Prints "Reading Header for: <file>", reads cards until card 200 or the end of the file and
// prints the counts and the dataset name. card is in/out and must not be 200 on entry; on
// return it is 200 when a step follows. Also takes note, for this unit, of the flag size of card
// 120 (1 or 4 bytes) that READ_DAT_STEP then honours, skips the payloads of cards 240 and 250 and
// warns when card 250 says the times are not in hours.
void READ_DAT_HEADER(int unit, DatasetHeader& header, std::int32_t& card,
                     const std::string& fileName);

// Reads one step after its card 200: prints "Reading data for time ...", fills active
// (cellCount bytes, 1 = active; left as it was when the step has no flags), values1 (nodeCount),
// values2 (nodeCount, vectors only), time, and the card that follows (210 at the end of the
// file). Buffers are indexed from 0.
void READ_DAT_STEP(int unit, bool isVector, std::int32_t nodeCount, std::int32_t cellCount,
                   std::int8_t* active, float* values1, float* values2, float& time,
                   std::int32_t& card);

// Work on the node values of a step as they arrive: called with nodes [begin, end) as soon as
// their values are in values1 (and values2), while they are still in the cache. The ranges of a
// step are disjoint and cover every node; those of one part come in node order, part 0 starting
// at node 0 and the parts following each other in node order, but different parts may be worked
// on at the same time by different threads. Every range starts at a multiple of 1024 nodes.
using PieceWork = std::function<void(std::size_t part, std::size_t begin, std::size_t end)>;

// As READ_DAT_STEP, except that the node values are read only when wanted(time) holds. When it
// does not, they are passed over (values1 and values2 keep what they held) and false is
// returned; the console line, the flags, the card that follows and every error are as
// READ_DAT_STEP gives them. A step is passed over in one seek instead of being read. active
// may be null: the flags of every step are then passed over too. flagsAt, when given, receives
// the position of the step's flags in the file (-1 when the step has none), so that flags passed
// over can be read later with READ_DAT_FLAGS. onValues, when given, is called for the values of
// a wanted step as they arrive (see PieceWork); a step cut short in its values may have had some
// of them worked on before the run ends with its error.
bool READ_DAT_STEP(int unit, bool isVector, std::int32_t nodeCount, std::int32_t cellCount,
                   std::int8_t* active, float* values1, float* values2, float& time,
                   std::int32_t& card, const std::function<bool(float)>& wanted,
                   std::int64_t* flagsAt = nullptr, const PieceWork* onValues = nullptr);

// Reads the cellCount flags at position at of an input unit (a position READ_DAT_STEP gave)
// into active as READ_DAT_STEP would have, and returns to where the unit was.
void READ_DAT_FLAGS(int unit, std::int64_t at, std::int32_t cellCount, std::int8_t* active);

// Writes the 92-byte header: 3000, cards 100, 110, 120 with their payloads, 130 (scalar) or 140
// (vector), 170, 180 and 190 with the last 40 characters of the output's bare name.
void WRITE_DAT_HEADER(int unit, std::int32_t nodeCount, std::int32_t cellCount,
                      bool vectorOutput, const std::string& outputName);

// Writes card 200, status 1, time, cellCount flags, then values1 (scalar) or the pairs
// (values1[i], values2[i]) when vectorOutput.
void WRITE_DAT_STEP(int unit, bool vectorOutput, float time, std::int32_t nodeCount,
                    std::int32_t cellCount, const std::int8_t* active, const float* values1,
                    const float* values2);

// Writes the end card 210.
void WRITE_DAT_END(int unit);

// Length of (x, y) in single precision; 0 when both components are within 1.0E-5 of zero.
float VECTOR_MAGNITUDE(float x, float y);
// VECTOR_MAGNITUDE of count vectors (x[i], y[i]) into magnitude[i], bit for bit as one call
// for each would give, several at a time where the machine has vector square roots. magnitude
// may be x or y.
void VECTOR_MAGNITUDES(const float* x, const float* y, float* magnitude, std::size_t count);

// Bytes between the current position of an input unit and its end: 0 when the unit is not open,
// INT64_MAX when its stream cannot seek (nothing can then be checked in advance).
std::int64_t unitBytesLeft(int unit);

}  // namespace kelvara
