// The hazard map: every class limit of H1 to H6 on both sides in single precision, the debris
// factor on both sides of 0.25 m, the debris factors of each land use on both sides of every
// band edge, the UK classes on both sides of theirs, dry nodes, the greatest of each step's
// values over the event, the output flags; and the pairing of the depth and velocity steps by
// time.
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "maps/hazard.h"
#include "maps/pairing.h"

namespace kelvara {
namespace {

template <class T>
std::vector<T> asVector(const Table<T>& table) {
    return {table.begin(), table.end()};
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

float above(float x) { return std::nextafter(x, kInf); }

struct Point {
    const char* what;
    float d, v;
    float hazardClass;
};

// Each limit is met by one quantity while the others lie within it; depths that are powers of
// two make d*v exact, so that the product lands on its limit (0.25 * 1.2f is 0.3f).
const std::vector<Point> kClassLimits = {
    {"d on the H1 limit (0.3 as stored)", 0.3f, 0.5f, 1},
    {"d just above 0.3", above(0.3f), 0.5f, 2},
    {"d on the H2 limit", 0.5f, 0.5f, 2},
    {"d just above 0.5", above(0.5f), 0.5f, 3},
    {"d on the H3 limit", 1.2f, 0.25f, 3},
    {"d just above 1.2", above(1.2f), 0.25f, 4},
    {"d on the H4 limit", 2.0f, 0.25f, 4},
    {"d just above 2.0", above(2.0f), 0.25f, 5},
    {"d on the H5 limit", 4.0f, 0.25f, 5},
    {"d just above 4.0", above(4.0f), 0.25f, 6},
    {"dv on the H1 limit", 0.25f, 1.2f, 1},
    {"dv just above 0.3", 0.25f, above(1.2f), 2},
    {"dv on the H2 limit", 0.5f, 1.2f, 2},
    {"dv just above 0.6 at d 0.5", 0.5f, above(1.2f), 4},
    {"dv on the H3 limit", 1.0f, 0.6f, 3},
    {"dv just above 0.6 at d 1.0", 1.0f, above(0.6f), 4},
    {"dv on the H4 limit", 1.0f, 1.0f, 4},
    {"dv just above 1.0", 1.0f, above(1.0f), 5},
    {"dv on the H5 limit", 2.0f, 2.0f, 5},
    {"dv just above 4.0", 2.0f, above(2.0f), 6},
    {"v on the H1 to H4 limit", 0.125f, 2.0f, 1},
    {"v just above 2.0", 0.125f, above(2.0f), 5},
    {"v on the H5 limit", 0.125f, 4.0f, 5},
    {"v just above 4.0", 0.125f, above(4.0f), 6},
    {"still water", 1.0f, 0.0f, 3},
    {"the least depth above zero", std::numeric_limits<float>::denorm_min(), 0.0f, 1},
    {"a signed speed counts by its size", 0.125f, -3.0f, 5},
    {"an infinite speed", 0.125f, kInf, 6},
    {"zero depth is dry", 0.0f, 1.0f, 0},
    {"a negative depth is dry", -1.0f, 1.0f, 0},
    {"a depth that is not a number is dry", kNaN, 1.0f, 0},
    {"a speed that is not a number gives nothing", 1.0f, kNaN, 0},
};

// One step through the map; returns its three maps at node 0.
struct Values {
    float dv, hazardClass, rating;
};

Values oneStep(float d, float v, float debrisFactor) {
    HazardMap map(1, 0, debrisFactor);
    map.addStep(&d, &v, nullptr, nullptr);
    return {map.depthSpeed()[0], map.hazardClasses()[0], map.rating()[0]};
}

TEST(HazardMap, EveryClassLimitOnBothSides) {
    for (const Point& p : kClassLimits) {
        SCOPED_TRACE(p.what);
        EXPECT_EQ(oneStep(p.d, p.v, 1.0f).hazardClass, p.hazardClass);
    }
    // The limits really are met: the products land on them exactly.
    EXPECT_EQ(0.25f * 1.2f, 0.3f);
    EXPECT_EQ(0.5f * 1.2f, 0.6f);
    EXPECT_EQ(1.0f * 0.6f, 0.6f);
}

TEST(HazardMap, ProductAndRating) {
    struct Case {
        const char* what;
        float d, v, debrisFactor;
        float dv, rating;
    };
    const std::vector<Case> cases = {
        {"no debris factor at 0.25 m", 0.25f, 1.5f, 1.0f, 0.375f, 0.5f},
        // 2 * (0.25 + 2^-25) = 0.5 + 2^-24; + 1 rounds to even: 1.5.
        {"the debris factor just above 0.25 m", above(0.25f), 1.5f, 1.0f, above(0.25f) * 1.5f, 1.5f},
        {"pasture and arable land just above 0.25 m", above(0.25f), 1.5f, 0.5f, above(0.25f) * 1.5f,
         1.0f},
        {"deep and fast", 2.0f, 3.0f, 1.0f, 6.0f, 8.0f},
        {"a factor of 0 leaves the wading term", 1.0f, 1.0f, 0.0f, 1.0f, 1.5f},
        {"dry", 0.0f, 3.0f, 1.0f, 0.0f, 0.0f},
        {"speed not a number", 1.0f, kNaN, 1.0f, 0.0f, 0.0f},
        {"infinite depth in still water: the product is not a number", kInf, 0.0f, 1.0f, 0.0f, kInf},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Values got = oneStep(c.d, c.v, c.debrisFactor);
        EXPECT_EQ(got.dv, c.dv);
        EXPECT_EQ(got.rating, c.rating);
    }
}

float below(float x) { return std::nextafter(x, -kInf); }

// The debris factor of each land use by hand, on both sides of every band edge: depth 0.25 m
// and 0.75 m, speed 2 m/s.
TEST(HazardMap, DebrisFactorOfEachLandUseOnBothSidesOfEveryBandEdge) {
    struct Case {
        const char* what;
        float d, v;
        float pasture, woodland, urban;
    };
    const std::vector<Case> cases = {
        {"on 0.25 m", 0.25f, 1.0f, 0.0f, 0.0f, 0.0f},
        {"just above 0.25 m", above(0.25f), 1.0f, 0.0f, 0.5f, 1.0f},
        {"on 0.75 m", 0.75f, 1.0f, 0.0f, 0.5f, 1.0f},
        {"just above 0.75 m", above(0.75f), 1.0f, 0.5f, 1.0f, 1.0f},
        {"on 2 m/s", 0.5f, 2.0f, 0.0f, 0.5f, 1.0f},
        {"just above 2 m/s", 0.5f, above(2.0f), 0.5f, 1.0f, 1.0f},
        {"fast but at most 0.25 m deep", 0.25f, 3.0f, 0.0f, 0.0f, 0.0f},
        {"deep and still", 3.0f, 0.0f, 0.5f, 1.0f, 1.0f},
        {"an infinite speed", 0.5f, kInf, 0.5f, 1.0f, 1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const float want[] = {c.pasture, c.woodland, c.urban};
        int i = 0;
        for (LandUse use : {LandUse::Pasture, LandUse::Woodland, LandUse::Urban}) {
            SCOPED_TRACE(landUseName(use));
            const float df = want[i++];
            EXPECT_EQ(debrisFactorAt(c.d, c.v, debrisFactorsOf(use)), df);
            HazardMap map(1, 0, debrisFactorsOf(use));
            map.addStep(&c.d, &c.v, nullptr, nullptr);
            EXPECT_EQ(map.rating()[0], c.d * (c.v + 0.5f) + df);
        }
        // A fixed factor is the same in every band above 0.25 m.
        EXPECT_EQ(debrisFactorAt(c.d, c.v, fixedDebrisFactor(0.7f)), c.d <= 0.25f ? 0.0f : 0.7f);
    }
    // No land use is urban, today's default.
    EXPECT_EQ(debrisFactorsOf(LandUse::None).middle, kDefaultDebrisFactor);
    EXPECT_EQ(debrisFactorsOf(LandUse::None).deep, kDefaultDebrisFactor);
}

TEST(HazardMap, UkClassOnBothSidesOfEveryLimit) {
    struct Case {
        float rating, ukClass;
    };
    const std::vector<Case> cases = {
        {0.0f, 1},           {below(0.75f), 1}, {0.75f, 2},      {1.0f, 2},
        {1.25f, 2},          {above(1.25f), 3}, {2.0f, 3},       {above(2.0f), 4},
        {kInf, 4},
    };
    for (const Case& c : cases) EXPECT_EQ(ukHazardClass(c.rating), c.ukClass) << c.rating;
    EXPECT_TRUE(std::isnan(ukHazardClass(kNaN)));
}

// The UK class of the greatest rating through the map, for each land use: ratings chosen by
// hand to land on the limits (0.5 m at 1 m/s wades 0.75; 1 m at 0.5 m/s wades 1).
TEST(HazardMap, UkClassOfTheGreatestRatingForEachLandUse) {
    struct Case {
        const char* what;
        float d, v;
        float pasture, woodland, urban;  // the UK class
    };
    const std::vector<Case> cases = {
        {"0.75 + 0 / 0.5 / 1", 0.5f, 1.0f, 2, 2, 3},
        {"just below 0.75 + 0 / 0.5 / 1", below(0.5f), 1.0f, 1, 2, 3},
        {"1 + 0.5 / 1 / 1", 1.0f, 0.5f, 3, 3, 3},
        {"1.5 + 0.5 / 1 / 1", 1.0f, 1.0f, 3, 4, 4},
        {"shallow: no debris", 0.25f, 1.0f, 1, 1, 1},
        {"never wet", 0.0f, 1.0f, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const float want[] = {c.pasture, c.woodland, c.urban};
        int i = 0;
        for (LandUse use : {LandUse::Pasture, LandUse::Woodland, LandUse::Urban}) {
            SCOPED_TRACE(landUseName(use));
            HazardMap map(1, 0, debrisFactorsOf(use));
            // A dry step first, then the case, then a lesser one: the greatest rating counts.
            const float dry = 0.0f, shallow = 0.125f, still = 0.0f;
            map.addStep(&dry, &c.v, nullptr, nullptr);
            map.addStep(&c.d, &c.v, nullptr, nullptr);
            if (c.d > 0.0f) map.addStep(&shallow, &still, nullptr, nullptr);
            float ukClass = -1.0f;
            map.ukClasses(&ukClass);
            EXPECT_EQ(ukClass, want[i++]);
        }
    }
}

TEST(HazardMap, LandUseWords) {
    const std::vector<std::pair<std::string, LandUse>> good = {
        {"pasture", LandUse::Pasture}, {"Woodland", LandUse::Woodland}, {"URBAN", LandUse::Urban}};
    for (const auto& g : good) {
        LandUse use = LandUse::None;
        EXPECT_TRUE(readLandUse(g.first, use)) << g.first;
        EXPECT_EQ(use, g.second) << g.first;
    }
    for (const char* bad : {"", "arable", "pastures", "0.5"}) {
        LandUse use = LandUse::None;
        EXPECT_FALSE(readLandUse(bad, use)) << bad;
        EXPECT_EQ(use, LandUse::None);
    }
}

// The greatest of each step's values, never values made of separate maxima: node 0 is deep and
// slow, then shallow and fast (the greatest depth times the greatest speed would be 6).
TEST(HazardMap, GreatestOverTheEventOfEachStep) {
    const std::vector<std::vector<float>> depth = {{2.0f, 0.5f, 0.0f}, {0.125f, kNaN, 0.0f},
                                                   {0.0f, 0.25f, 0.0f}};
    const std::vector<std::vector<float>> speed = {{0.125f, 1.0f, 5.0f}, {3.0f, 9.0f, 5.0f},
                                                   {9.0f, 1.0f, 5.0f}};
    HazardMap map(3, 0, 1.0f);
    for (std::size_t s = 0; s < depth.size(); ++s) map.addStep(depth[s].data(), speed[s].data(), nullptr, nullptr);
    // Node 0: step 1 gives 0.25, H4, 2 * 0.625 + 1 = 2.25; step 2 gives 0.375, H5 (v > 2),
    // 0.125 * 3.5 = 0.4375; step 3 is dry.
    // Node 1: step 1 gives 0.5, H2, 0.5 * 1.5 + 1 = 1.75; step 2 is dry (not a number);
    // step 3 gives 0.25, H1, 0.375.
    // Node 2 is never wet.
    EXPECT_EQ(asVector(map.depthSpeed()), (std::vector<float>{0.375f, 0.5f, 0.0f}));
    EXPECT_EQ(asVector(map.hazardClasses()), (std::vector<float>{5.0f, 2.0f, 0.0f}));
    EXPECT_EQ(asVector(map.rating()), (std::vector<float>{2.25f, 1.75f, 0.0f}));
    EXPECT_EQ(map.steps(), 3u);
}

TEST(HazardMap, OutputFlagsActiveInEitherDataset) {
    HazardMap map(1, 5, 1.0f);
    const float d = 0.0f, v = 0.0f;
    const std::vector<std::int8_t> depthFlags = {1, 0, 0, 0, 2}, speedFlags = {0, 1, 0, 0, 0};
    map.addStep(&d, &v, depthFlags.data(), speedFlags.data());
    const std::vector<std::int8_t> later = {0, 0, 0, 1, 0};
    map.addStep(&d, &v, nullptr, later.data());
    map.addStep(&d, &v, nullptr, nullptr);
    // Any flag but 0 is active (cell 4's 2), and the map's flags are 1 or 0.
    EXPECT_EQ(asVector(map.flags()), (std::vector<std::int8_t>{1, 1, 0, 1, 1}));
}

// Many nodes shared out over the cores against the same nodes in reversed single pieces.
TEST(HazardMap, LargeStepsGiveTheSameMapsAsNodeByNode) {
    const std::size_t nodes = 200000;
    HazardMap whole(nodes, 0, 0.5f), pieces(nodes, 0, 0.5f);
    std::vector<float> d(nodes), v(nodes);
    for (int s = 0; s < 4; ++s) {
        for (std::size_t i = 0; i < nodes; ++i) {
            const unsigned h = static_cast<unsigned>(i * 2654435761u + static_cast<unsigned>(s) * 977u);
            d[i] = static_cast<float>(h % 5000) / 1000.0f - 1.0f;
            v[i] = static_cast<float>((h >> 12) % 5000) / 1000.0f;
        }
        whole.addStep(d.data(), v.data(), nullptr, nullptr);
        for (std::size_t i = nodes; i-- > 0;) pieces.addNodes(d.data(), v.data(), i, i + 1);
        pieces.endStep();
    }
    EXPECT_EQ(whole.depthSpeed(), pieces.depthSpeed());
    EXPECT_EQ(whole.hazardClasses(), pieces.hazardClasses());
    EXPECT_EQ(whole.rating(), pieces.rating());
}

// The pairing loop as a run drives it: read what the pairing asks for, compare, repeat.
struct Paired {
    std::vector<float> times;
    std::vector<std::string> warnings;
};

Paired pairSteps(const std::vector<float>& first, const std::vector<float>& second) {
    StepPairing pairing;
    Paired out;
    std::size_t i = 0, j = 0;
    float a = 0.0f, b = 0.0f;
    for (;;) {
        std::string warning;
        if (!pairing.canContinue(i < first.size(), j < second.size(), warning)) {
            if (!warning.empty()) out.warnings.push_back(warning);
            break;
        }
        if (pairing.readsFirst()) a = first[i++];
        if (pairing.readsSecond()) b = second[j++];
        if (pairing.pair(a, b, out.warnings)) out.times.push_back(a);
    }
    return out;
}

TEST(StepPairing, PairsByTimeWithTheToleranceAndWarnings) {
    const std::string inconsistent = "WARNING - Inconsistent times were found:";
    const std::string trying = "          Trying to find next match.";
    const std::string premature = "WARNING - Premature end of one of the .dat files.";
    struct Case {
        const char* what;
        std::vector<float> first, second;
        std::vector<float> pairs;
        std::vector<std::string> warnings;
    };
    const std::vector<Case> cases = {
        {"the same times", {1, 2, 3}, {1, 2, 3}, {1, 2, 3}, {}},
        {"a step only in the second", {1, 2, 3}, {1, 1.5f, 2, 3}, {1, 2, 3},
         {inconsistent + "     2.000     1.500", trying}},
        {"a step only in the first", {1, 2, 3}, {1, 3}, {1, 3}, {inconsistent + "     2.000     3.000", trying}},
        {"within the tolerance", {1.0f, 2.0f}, {1.00004f, 2.0f}, {1.0f, 2.0f}, {}},
        {"beyond the tolerance: the second waits, then the first", {1.0f, 2.0f}, {1.0001f, 2.0f},
         {2.0f},
         {inconsistent + "     1.000     1.000", trying, inconsistent + "     2.000     1.000", trying}},
        {"the first has steps left", {1, 2, 3}, {1, 2}, {1, 2}, {premature}},
        {"the second has steps left", {1}, {1, 2}, {1}, {premature}},
        {"both end on an unpaired step", {1, 2, 3}, {1, 2, 2.5f}, {1, 2},
         {inconsistent + "     3.000     2.500", trying}},
        {"a time that is not a number pairs with nothing", {1, kNaN, 3}, {1, 2, 3}, {1, 3},
         {inconsistent + "       NaN     2.000", trying}},
        {"no pair at all", {1}, {2}, {}, {inconsistent + "     1.000     2.000", trying}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Paired got = pairSteps(c.first, c.second);
        EXPECT_EQ(got.times, c.pairs);
        EXPECT_EQ(got.warnings, c.warnings);
    }
}

}  // namespace
}  // namespace kelvara
