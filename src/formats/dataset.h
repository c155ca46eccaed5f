// The binary mesh dataset (".dat"): a header of numbered cards, then one record per output time
// (card 200, status, time, activity flags, node values) and the end card 210. Every multi-byte
// item is little-endian. DatasetReader and DatasetWriter (dataset_io.h) read and write it one
// step at a time through the caller's buffers.
#pragma once

#include <cstddef>
#include <cstdint>
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
// Size of the header DatasetWriter writes.
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

// Length of (x, y) in single precision; 0 when both components are within 1.0E-5 of zero.
float VECTOR_MAGNITUDE(float x, float y);
// VECTOR_MAGNITUDE of count vectors (x[i], y[i]) into magnitude[i], bit for bit as one call
// for each would give, several at a time where the machine has vector square roots. magnitude
// may be x or y.
void VECTOR_MAGNITUDES(const float* x, const float* y, float* magnitude, std::size_t count);

}  // namespace kelvara
