// A branch-free choice between two reals, for the node loops of the operations.
#pragma once

#include <cstdint>
#include <cstring>

namespace kelvara {

// a when c holds, else b, by masking the bits. Wet and dry nodes are interleaved unpredictably,
// and a choice that the compiler turns into a branch costs a misprediction at every other node
// and keeps the loop from running on whole vectors of nodes.
inline float pick(bool c, float a, float b) {
    std::uint32_t bitsA;
    std::uint32_t bitsB;
    std::memcpy(&bitsA, &a, sizeof a);
    std::memcpy(&bitsB, &b, sizeof b);
    const std::uint32_t mask = 0u - static_cast<std::uint32_t>(c);
    const std::uint32_t bits = (bitsA & mask) | (bitsB & ~mask);
    float result;
    std::memcpy(&result, &bits, sizeof result);
    return result;
}

}  // namespace kelvara
