// Inside the calculator: the parser and evaluator of expressions (engine_muparser.cpp, the only
// file of kelvara that includes muParser), seen from the rest of the room.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "calc/calc.h"

namespace kelvara::calc::detail {

// Nodes per call of muParser's bulk mode: the inputs of a block, in double, stay in the cache.
constexpr std::size_t kBlock = 8192;

bool engineAvailable();

// The value of nan in an expression: a quiet NaN with a payload of its own, which arithmetic
// carries along (x86 and ARM hand on the payload of a NaN operand) and which survives rounding
// to a float, so that the nodes an expression leaves without data on purpose are told apart
// from results that came out not a number.
constexpr std::uint32_t kNoDataBits = 0x7fc04b56u;
inline float noDataFloat() {
    float value;
    std::memcpy(&value, &kNoDataBits, sizeof value);
    return value;
}
inline double noDataDouble() { return static_cast<double>(noDataFloat()); }
inline bool isNoData(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits & 0x7fffffffu) == kNoDataBits;
}

// A fault the parser found in a formula: where (0-based, in the formula), the token there and
// muParser's own words. unknownName: the token is a name that is neither an input, a constant
// nor a function.
struct ParseFault {
    bool unknownName = false;
    std::size_t position = 0;
    std::string token;
    std::string message;
};

// Checks a formula and returns the inputs it uses, as a mask of bits 1 << Input. Throws
// ParseFault, or kelvara::Error in a build without muParser.
unsigned checkFormula(const std::string& formula);

// The functions an expression can call, by name (empty without muParser).
std::vector<std::string> functionNames();

// The formula compiled for one thread, with a buffer of kBlock doubles for each input.
class Engine {
public:
    explicit Engine(const std::string& formula);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    double* buffer(Input input);
    // results[0, count) from the buffers' [0, count); count at most kBlock.
    void run(std::size_t count, double* results);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kelvara::calc::detail
