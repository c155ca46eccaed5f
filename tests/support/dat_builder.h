// Dataset bytes for tests: DatBuilder assembles a .dat file in memory item by item (header cards
// in any order, steps with or without flags, 1- or 4-byte flags, truncated files), and
// parseWrittenDat takes apart the exact layout the tool writes so that outputs can be compared
// value by value. Everything is little-endian, as in the files.
//
// Header-only: the test binary compiles only the test_*.cpp files and a fixed list of support
// sources, so the definitions live here as inline functions.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace kelvara::test {

class DatBuilder {
public:
    // A 4-byte signed integer: a card code or an integer payload.
    DatBuilder& i32(std::int32_t value) {
        std::uint32_t bits = static_cast<std::uint32_t>(value);
        for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
        return *this;
    }
    DatBuilder& f32(float value) {
        std::uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        return i32(static_cast<std::int32_t>(bits));
    }
    DatBuilder& i8(std::int8_t value) {
        bytes_.push_back(static_cast<char>(value));
        return *this;
    }
    DatBuilder& raw(const std::string& bytes) {
        bytes_ += bytes;
        return *this;
    }

    // A payload-free card (130, 140, 200, 210 or any unknown code).
    DatBuilder& card(std::int32_t code) { return i32(code); }
    // A card with a 4-byte integer payload (100, 110, 120, 150, 160, 170, 180, 250).
    DatBuilder& card(std::int32_t code, std::int32_t payload) { return i32(code).i32(payload); }
    // Card 190 and the name blank-padded (or cut) to 40 bytes; pad may be '\0' to imitate
    // programs that pad with NULs.
    DatBuilder& name(std::string text, char pad = ' ') {
        text.resize(40, pad);
        i32(190);
        return raw(text);
    }

    // The header exactly as the tool writes it (92 bytes).
    DatBuilder& header(std::int32_t nodeCount, std::int32_t cellCount, bool vector,
                       const std::string& datasetName) {
        i32(3000).card(100, 3).card(110, 4).card(120, 1).card(vector ? 140 : 130);
        card(170, nodeCount).card(180, cellCount);
        return name(datasetName);
    }

    // Width of the status and of each flag in the steps that follow (1, or 4 after a card 120
    // of 4 in the header).
    DatBuilder& flagBytes(int width) {
        flagBytes_ = width;
        return *this;
    }

    // Card 200, status 1, time, the flags, then values1 alone or the pairs (values1[i],
    // values2[i]) when values2 is not empty.
    DatBuilder& step(float time, const std::vector<std::int8_t>& active,
                     const std::vector<float>& values1, const std::vector<float>& values2 = {}) {
        card(200);
        flag(1).f32(time);
        for (std::int8_t a : active) flag(a);
        return values(values1, values2);
    }
    // Card 200, a status other than 1 (no flags follow), time and values.
    DatBuilder& stepWithoutFlags(float time, const std::vector<float>& values1,
                                 const std::vector<float>& values2 = {}, std::int32_t status = 0) {
        card(200);
        flag(status).f32(time);
        return values(values1, values2);
    }
    DatBuilder& end() { return card(210); }

    // Removes the last count bytes (a file cut short).
    DatBuilder& dropLast(std::size_t count) {
        bytes_.resize(count < bytes_.size() ? bytes_.size() - count : 0);
        return *this;
    }

    const std::string& bytes() const { return bytes_; }
    std::size_t size() const { return bytes_.size(); }

private:
    DatBuilder& flag(std::int32_t value) {
        return flagBytes_ == 4 ? i32(value) : i8(static_cast<std::int8_t>(value));
    }
    DatBuilder& values(const std::vector<float>& values1, const std::vector<float>& values2) {
        for (std::size_t i = 0; i < values1.size(); ++i) {
            f32(values1[i]);
            if (!values2.empty()) f32(values2[i]);
        }
        return *this;
    }

    std::string bytes_;
    int flagBytes_ = 1;
};

struct WrittenStep {
    std::int8_t status = 0;
    float time = 0.0f;
    std::vector<std::int8_t> active;
    std::vector<float> values1;
    std::vector<float> values2;  // vectors only
};

struct WrittenDat {
    std::int32_t nodeCount = 0;
    std::int32_t cellCount = 0;
    bool isVector = false;
    std::string datasetName;  // all 40 bytes, padding included
    std::vector<WrittenStep> steps;
    // Empty when the bytes follow the written layout exactly: the fixed header, steps with
    // card 200 and status 1, and the end card as the last four bytes.
    std::string error;
};

namespace detail {
inline std::int32_t loadI32(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        v |= static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + i])) << (8 * i);
    }
    return static_cast<std::int32_t>(v);
}
inline float loadF32(const std::string& b, std::size_t at) {
    std::uint32_t bits = static_cast<std::uint32_t>(loadI32(b, at));
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}
}  // namespace detail

// Takes apart bytes written by the tool's writer; any departure from that layout is reported
// in error (with its byte offset) rather than guessed around.
inline WrittenDat parseWrittenDat(const std::string& b) {
    WrittenDat out;
    std::size_t at = 0;
    auto fault = [&](const std::string& what) {
        out.error = what + " at byte " + std::to_string(at);
        return out;
    };
    auto has = [&](std::size_t n) { return at + n <= b.size(); };
    auto expectInt = [&](std::int32_t want) {
        if (!has(4) || detail::loadI32(b, at) != want) return false;
        at += 4;
        return true;
    };

    const std::int32_t lead[] = {3000, 100, 3, 110, 4, 120, 1};
    for (std::int32_t want : lead) {
        if (!expectInt(want)) return fault("expected " + std::to_string(want));
    }
    if (expectInt(130)) {
        out.isVector = false;
    } else if (expectInt(140)) {
        out.isVector = true;
    } else {
        return fault("expected card 130 or 140");
    }
    if (!expectInt(170) || !has(4)) return fault("expected card 170");
    out.nodeCount = detail::loadI32(b, at);
    at += 4;
    if (!expectInt(180) || !has(4)) return fault("expected card 180");
    out.cellCount = detail::loadI32(b, at);
    at += 4;
    if (!expectInt(190) || !has(40)) return fault("expected card 190 and 40 name bytes");
    out.datasetName = b.substr(at, 40);
    at += 40;
    if (out.nodeCount < 0 || out.cellCount < 0) return fault("negative count");

    const std::size_t cells = static_cast<std::size_t>(out.cellCount);
    const std::size_t nodes = static_cast<std::size_t>(out.nodeCount);
    const std::size_t valueBytes = nodes * (out.isVector ? 8 : 4);
    while (true) {
        if (!has(4)) return fault("missing end card");
        std::int32_t card = detail::loadI32(b, at);
        if (card == 210) {
            at += 4;
            if (at != b.size()) return fault("bytes after the end card");
            return out;
        }
        if (card != 200) return fault("expected card 200 or 210");
        at += 4;
        if (!has(5 + cells + valueBytes)) return fault("step cut short");
        WrittenStep step;
        step.status = static_cast<std::int8_t>(b[at]);
        if (step.status != 1) return fault("status byte not 1");
        step.time = detail::loadF32(b, at + 1);
        at += 5;
        step.active.resize(cells);
        if (cells > 0) std::memcpy(step.active.data(), b.data() + at, cells);
        at += cells;
        step.values1.resize(nodes);
        if (out.isVector) step.values2.resize(nodes);
        for (std::size_t i = 0; i < nodes; ++i) {
            if (out.isVector) {
                step.values1[i] = detail::loadF32(b, at + 8 * i);
                step.values2[i] = detail::loadF32(b, at + 8 * i + 4);
            } else {
                step.values1[i] = detail::loadF32(b, at + 4 * i);
            }
        }
        at += valueBytes;
        out.steps.push_back(std::move(step));
    }
}

}  // namespace kelvara::test
