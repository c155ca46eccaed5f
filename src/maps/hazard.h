// The hazard map (-hazard<debris factor>): from the depth d and the speed v of the same run, for
// each node the greatest over the event of
//   d*v       the product of depth and speed (m2/s);
//   class     the combined hazard class of the Australian guidance (Australian Rainfall and
//             Runoff 2019, Book 6 Chapter 7), 1 to 6 (H1 to H6), 0 where dry;
//   rating    the hazard rating of the UK guidance (Flood Risks to People, FD2320/FD2321),
//             HR = d*(v + 0.5) + DF, with the debris factor DF 0 where d <= 0.25 m; above
//             that, either one fixed factor (-hazard<number>) or the factor of a land use by
//             band (DebrisFactors).
// and, from the greatest rating, the UK hazard class (ukHazardClass).
// Each is the greatest of the values of the single steps, never a value made of separate maxima.
// Everything is computed in single precision, the limits compared as single-precision numbers:
// a depth stored as 0.3 lies on the H1 limit, not above it.
//
// A node is dry at a step where its depth is not above zero or is not a number; a dry node, or
// one whose speed is not a number, gives 0 for all three at that step (so a node never wet
// keeps 0). The speed is taken without its sign. The output's cell flags are 1 where the cell
// was active (any flag but 0) in either dataset at a step given to the map, otherwise 0.
//
// The steps given are the pairs of ordinary steps (see StepPairing and isOrdinaryTime). A step
// is given whole (addStep) or in pieces: addNodes over ranges of nodes that cover them all, on
// any threads, and addFlags likewise over the cells; ranges share nothing, so the maps do not
// depend on how the work is shared out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fileio/table_memory.h"

namespace kelvara {

// The debris factor where -hazard is given no number: the value for urban areas.
constexpr float kDefaultDebrisFactor = 1.0f;

// The land use that sets the debris factor by depth band (--land-use).
enum class LandUse { None, Pasture, Woodland, Urban };

// The debris factor above 0.25 m: `middle` for depths up to 0.75 m at speeds up to 2 m/s,
// `deep` for depths above 0.75 m or speeds above 2 m/s. Up to 0.25 m it is 0 at any speed.
// A fixed factor is the same in both bands.
struct DebrisFactors {
    float middle = kDefaultDebrisFactor;
    float deep = kDefaultDebrisFactor;
};

inline DebrisFactors fixedDebrisFactor(float factor) { return {factor, factor}; }
// Pasture and arable land 0 / 0.5, woodland 0.5 / 1, urban 1 / 1 (None: urban).
DebrisFactors debrisFactorsOf(LandUse use);
// "pasture", "woodland", "urban" (None: "").
const char* landUseName(LandUse use);
// The land use of a word, compared ignoring case; false when it names none.
bool readLandUse(const std::string& word, LandUse& use);

// The debris factor of one depth and speed (d above zero, v not below zero), compared in
// single precision: 0.25 m is in the band without debris, 0.75 m and 2 m/s in the middle band.
inline float debrisFactorAt(float d, float v, DebrisFactors f) {
    const float band = ((d <= 0.75f) & (v <= 2.0f)) ? f.middle : f.deep;
    return d <= 0.25f ? 0.0f : band;
}

// The combined hazard class of one depth and speed (1 to 6; 0 for a dry node). d and v as
// the map takes them: d above zero, v not below zero.
inline float hazardClass(float d, float v, float dv) {
    const int within = ((dv <= 0.3f) & (d <= 0.3f) & (v <= 2.0f)) +
                       ((dv <= 0.6f) & (d <= 0.5f) & (v <= 2.0f)) +
                       ((dv <= 0.6f) & (d <= 1.2f) & (v <= 2.0f)) +
                       ((dv <= 1.0f) & (d <= 2.0f) & (v <= 2.0f)) +
                       ((dv <= 4.0f) & (d <= 4.0f) & (v <= 4.0f));
    // The limits are nested: whatever lies within one class's limits lies within the next's.
    return static_cast<float>(6 - within);
}

// The hazard rating of one depth and speed, step by step in single precision (no fused
// multiply-add: each operation is rounded as written).
inline float hazardRating(float d, float v, DebrisFactors factors) {
    const float speed = v + 0.5f;
    const float wading = d * speed;
    const float debris = debrisFactorAt(d, v, factors);
    return wading + debris;
}
inline float hazardRating(float d, float v, float fixedFactor) {
    return hazardRating(d, v, fixedDebrisFactor(fixedFactor));
}

// The UK hazard class of a rating: 1 low (below 0.75), 2 moderate (0.75 up to 1.25, both
// included), 3 significant (above 1.25 up to 2.0, included), 4 extreme (above 2.0); not a
// number for a rating that is not one. The limits are exact in single precision.
inline float ukHazardClass(float rating) {
    if (rating != rating) return rating;
    return 1.0f + static_cast<float>((rating >= 0.75f) + (rating > 1.25f) + (rating > 2.0f));
}

class HazardMap {
public:
    HazardMap(std::size_t nodeCount, std::size_t cellCount, DebrisFactors factors);
    HazardMap(std::size_t nodeCount, std::size_t cellCount, float fixedFactor)
        : HazardMap(nodeCount, cellCount, fixedDebrisFactor(fixedFactor)) {}

    // Takes one pair of steps: depth and speed hold one value per node (the magnitude for a
    // vector velocity), depthActive and speedActive one flag per cell each, or are null for a
    // step without flags. The work is shared out over the cores.
    void addStep(const float* depth, const float* speed, const std::int8_t* depthActive,
                 const std::int8_t* speedActive);

    // The same in pieces.
    void addNodes(const float* depth, const float* speed, std::size_t begin, std::size_t end);
    void addFlags(const std::int8_t* depthActive, const std::int8_t* speedActive, std::size_t begin,
                  std::size_t end);
    // After the pieces of a step, to count it.
    void endStep() { ++steps_; }

    std::size_t nodeCount() const { return depthSpeed_.size(); }
    std::size_t cellCount() const { return flags_.size(); }
    DebrisFactors debrisFactors() const { return debrisFactors_; }
    std::size_t steps() const { return steps_; }

    // The three maps and the output's cell flags.
    const Table<float>& depthSpeed() const { return depthSpeed_; }
    const Table<float>& hazardClasses() const { return class_; }
    const Table<float>& rating() const { return rating_; }
    const Table<std::int8_t>& flags() const { return flags_; }
    // The UK hazard class of the greatest rating of each node, into out (nodeCount values):
    // 0 where the node was never wet at a step given (as the hazard class step).
    void ukClasses(float* out) const;

private:
    DebrisFactors debrisFactors_;
    Table<float> depthSpeed_, class_, rating_;  // zero until a node is wet
    Table<std::int8_t> flags_;
    std::size_t steps_ = 0;
};

}  // namespace kelvara
