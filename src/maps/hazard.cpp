#include "maps/hazard.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "fileio/workers.h"
#include "steps/pick.h"

namespace kelvara {
namespace {

// Nodes are worked on in blocks of this many; a block with no wet node has nothing to change.
constexpr std::size_t kBlock = 256;

}  // namespace

DebrisFactors debrisFactorsOf(LandUse use) {
    switch (use) {
    case LandUse::Pasture: return {0.0f, 0.5f};
    case LandUse::Woodland: return {0.5f, 1.0f};
    case LandUse::Urban:
    case LandUse::None: break;
    }
    return {1.0f, 1.0f};
}

const char* landUseName(LandUse use) {
    switch (use) {
    case LandUse::Pasture: return "pasture";
    case LandUse::Woodland: return "woodland";
    case LandUse::Urban: return "urban";
    case LandUse::None: break;
    }
    return "";
}

bool readLandUse(const std::string& word, LandUse& use) {
    std::string lower;
    for (char c : word) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (LandUse u : {LandUse::Pasture, LandUse::Woodland, LandUse::Urban}) {
        if (lower == landUseName(u)) {
            use = u;
            return true;
        }
    }
    return false;
}

HazardMap::HazardMap(std::size_t nodeCount, std::size_t cellCount, DebrisFactors factors)
    : debrisFactors_(factors) {
    depthSpeed_.resize(nodeCount);
    class_.resize(nodeCount);
    rating_.resize(nodeCount);
    flags_.resize(cellCount);
}

void HazardMap::addNodes(const float* depth, const float* speed, std::size_t begin, std::size_t end) {
    const DebrisFactors debris = debrisFactors_;
    for (std::size_t start = begin; start < end; start += kBlock) {
        const std::size_t n = std::min(kBlock, end - start);
        const float* __restrict d = depth + start;
        const float* __restrict s = speed + start;
        unsigned wetNodes = 0;
        for (std::size_t k = 0; k < n; ++k) wetNodes |= d[k] > 0.0f;
        if (wetNodes == 0) continue;
        float* __restrict greatestDv = depthSpeed_.data() + start;
        float* __restrict greatestClass = class_.data() + start;
        float* __restrict greatestRating = rating_.data() + start;
        // The step's values first, then only the tables with a new greatest value are written:
        // past the peak of the event most blocks have none.
        float dvs[kBlock], classes[kBlock], ratings[kBlock];
        unsigned newDv = 0, newClass = 0, newRating = 0;
        for (std::size_t k = 0; k < n; ++k) {
            const float v = std::fabs(s[k]);
            const bool counts = (d[k] > 0.0f) & (v == v);
            const float dv = d[k] * v;
            // A value that is not a number (an infinite depth at no speed) is never the greatest.
            dvs[k] = pick(counts, dv, 0.0f);
            classes[k] = pick(counts, hazardClass(d[k], v, dv), 0.0f);
            ratings[k] = pick(counts, hazardRating(d[k], v, debris), 0.0f);
            newDv |= dvs[k] > greatestDv[k];
            newClass |= classes[k] > greatestClass[k];
            newRating |= ratings[k] > greatestRating[k];
        }
        if (newDv != 0) {
            for (std::size_t k = 0; k < n; ++k) greatestDv[k] = pick(dvs[k] > greatestDv[k], dvs[k], greatestDv[k]);
        }
        if (newClass != 0) {
            for (std::size_t k = 0; k < n; ++k)
                greatestClass[k] = pick(classes[k] > greatestClass[k], classes[k], greatestClass[k]);
        }
        if (newRating != 0) {
            for (std::size_t k = 0; k < n; ++k)
                greatestRating[k] = pick(ratings[k] > greatestRating[k], ratings[k], greatestRating[k]);
        }
    }
}

void HazardMap::addFlags(const std::int8_t* depthActive, const std::int8_t* speedActive,
                         std::size_t begin, std::size_t end) {
    std::int8_t* __restrict o = flags_.data() + begin;
    const std::size_t n = end - begin;
    if (depthActive != nullptr && speedActive != nullptr) {
        const std::int8_t* __restrict a = depthActive + begin;
        const std::int8_t* __restrict b = speedActive + begin;
        for (std::size_t k = 0; k < n; ++k)
            o[k] = static_cast<std::int8_t>(o[k] | (a[k] != 0) | (b[k] != 0));
        return;
    }
    const std::int8_t* one = depthActive != nullptr ? depthActive : speedActive;
    if (one == nullptr) return;
    const std::int8_t* __restrict a = one + begin;
    for (std::size_t k = 0; k < n; ++k) o[k] = static_cast<std::int8_t>(o[k] | (a[k] != 0));
}

void HazardMap::addStep(const float* depth, const float* speed, const std::int8_t* depthActive,
                        const std::int8_t* speedActive) {
    forEachPart(nodeCount(), 1024, 64 * 1024, [=](std::size_t, std::size_t begin, std::size_t end) {
        addNodes(depth, speed, begin, end);
    });
    forEachPart(cellCount(), 4096, 256 * 1024, [=](std::size_t, std::size_t begin, std::size_t end) {
        addFlags(depthActive, speedActive, begin, end);
    });
    endStep();
}

void HazardMap::ukClasses(float* out) const {
    const float* hazard = class_.data();
    const float* rating = rating_.data();
    forEachPart(nodeCount(), 1024, 64 * 1024, [=](std::size_t, std::size_t begin, std::size_t end) {
        for (std::size_t k = begin; k < end; ++k)
            out[k] = hazard[k] > 0.0f ? ukHazardClass(rating[k]) : 0.0f;
    });
}

}  // namespace kelvara
