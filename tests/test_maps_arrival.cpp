// The arrival map: arrival, end and peak times of each node against hand-computed values, the
// same maps however a step's work is cut up, the output flags, and steps whose time does not
// increase.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "maps/arrival.h"

namespace kelvara {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Equal bits, or both not a number.
bool same(float a, float b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    std::uint32_t x, y;
    std::memcpy(&x, &a, 4);
    std::memcpy(&y, &b, 4);
    return x == y;
}

struct Step {
    float time;
    std::vector<float> values;
    std::vector<std::int8_t> active;  // empty: the step has no flags
};

struct Node {
    const char* what;
    std::vector<float> values;  // one per step of the case
    float arrival, end, peak;
};

struct Maps {
    std::vector<float> arrival, end, peak;
    std::vector<std::int8_t> flags;
    std::vector<std::string> warnings;
};

enum class Feed { WholeSteps, ReversedPiecesInPlace, PiecesOwnBuffer };

Maps runMap(const std::vector<Step>& steps, float cutoff, Feed feed, std::size_t cells = 1) {
    const std::size_t nodes = steps.front().values.size();
    ArrivalMap map(nodes, cells, cutoff);
    Maps out;
    for (const Step& s : steps) {
        const std::int8_t* active = s.active.empty() ? nullptr : s.active.data();
        std::string warning;
        if (feed == Feed::WholeSteps) {
            warning = map.addStep(s.time, s.values.data(), active);
        } else {
            // One node at a time from the last, as threads finishing in any order would.
            const bool inPlace = feed == Feed::ReversedPiecesInPlace;
            const float* values = inPlace ? map.stepBuffer() : s.values.data();
            warning = map.beginStep(s.time, values);
            if (inPlace) std::copy(s.values.begin(), s.values.end(), map.stepBuffer());
            for (std::size_t i = nodes; i-- > 0;) map.addNodes(i, i + 1);
            for (std::size_t c = 0; c < cells; ++c) map.addFlags(active, c, c + 1);
            map.endStep();
        }
        if (!warning.empty()) out.warnings.push_back(warning);
    }
    out.arrival.assign(map.arrival().begin(), map.arrival().end());
    out.end.assign(map.end().begin(), map.end().end());
    out.peak.assign(map.peak().begin(), map.peak().end());
    out.flags.assign(map.flags().begin(), map.flags().end());
    return out;
}

// Steps at 0, 1, 2, 4 and 8 hours, cutoff 0.5; values chosen so that every crossing is exact.
const std::vector<float> kTimes = {0.0f, 1.0f, 2.0f, 4.0f, 8.0f};
const std::vector<Node> kNodes = {
    {"wets and dries inside intervals (1 h and 2 h long)", {0, 1, 1, 0, 0}, 0.5f, 3.0f, 1.0f},
    {"already wet at the first step", {2, 1, 0, 0, 0}, 0.0f, 1.5f, 0.0f},
    {"still wet at the last step: no end", {0, 0, 0, 1, 2}, 3.0f, kNaN, 8.0f},
    {"two wet periods: arrival at the first, end at the last", {1, 0, 2, 0, 0}, 0.0f, 3.5f, 2.0f},
    {"never reaches the cutoff", {0, 0.25f, 0.4999f, 0, kNaN}, kNaN, kNaN, kNaN},
    {"touches the cutoff at one step only", {0, 0.5f, 0, 0, 0}, 1.0f, 1.0f, 1.0f},
    {"not a number counts as below and crossings next to it lie at the wet step",
     {kNaN, 1, kNaN, 1, kNaN}, 1.0f, 4.0f, 1.0f},
    {"a tie of the peak goes to the earlier step", {0, 1, 3, 3, 1}, 0.5f, kNaN, 2.0f},
    {"a tie, then dry at the last step", {0, 1, 3, 3, 0}, 0.5f, 4.0f + 4.0f * (3 - 0.5f) / 3, 2.0f},
    {"an infinite value: the crossings lie at its step", {0, kInf, 0, 0, 0}, 1.0f, 1.0f, 1.0f},
    {"minus infinity before: arrival at the wet step", {-kInf, 1, 1, 1, 1}, 1.0f, kNaN, 1.0f},
    {"at the cutoff from the start to the end", {0.5f, 0.5f, 0.5f, 0.5f, 0.5f}, 0.0f, kNaN, 0.0f},
    {"just below the cutoff at the last step: an end", {0.5f, 0.5f, 0.5f, 0.5f, 0.4999f}, 0.0f,
     4.0f + 4.0f * (0.5f - 0.5f) / (0.5f - 0.4999f), 0.0f},
};

std::vector<Step> tableSteps() {
    std::vector<Step> steps;
    for (std::size_t s = 0; s < kTimes.size(); ++s) {
        Step step{kTimes[s], {}, {1}};
        for (const Node& n : kNodes) step.values.push_back(n.values[s]);
        steps.push_back(step);
    }
    return steps;
}

TEST(ArrivalMap, HandComputedTimesWhateverTheWorkIsCutInto) {
    for (Feed feed : {Feed::WholeSteps, Feed::ReversedPiecesInPlace, Feed::PiecesOwnBuffer}) {
        const Maps m = runMap(tableSteps(), 0.5f, feed);
        EXPECT_TRUE(m.warnings.empty());
        for (std::size_t i = 0; i < kNodes.size(); ++i) {
            const Node& n = kNodes[i];
            SCOPED_TRACE(n.what);
            EXPECT_TRUE(same(m.arrival[i], n.arrival)) << m.arrival[i];
            EXPECT_TRUE(same(m.end[i], n.end)) << m.end[i];
            EXPECT_TRUE(same(m.peak[i], n.peak)) << m.peak[i];
        }
    }
}

// The crossings are those of the duration's arithmetic: -dur gives this node
// 1 * (0.2 - 0.1) / (0.2 - 0.0) hours on each side of the hour at 0.2, and end - arrival is
// that duration.
TEST(ArrivalMap, CrossingsAgreeWithTheDuration) {
    const std::vector<Step> steps = {
        {0.0f, {0.0f}, {}}, {1.0f, {0.2f}, {}}, {2.0f, {0.2f}, {}}, {3.0f, {0.0f}, {}}};
    const Maps m = runMap(steps, 0.1f, Feed::WholeSteps);
    const float part = 1.0f * (0.2f - 0.1f) / (0.2f - 0.0f);
    EXPECT_TRUE(same(m.arrival[0], 1.0f - part));
    EXPECT_TRUE(same(m.end[0], 2.0f + part));
    EXPECT_NEAR(m.end[0] - m.arrival[0], part + 1.0f + part, 1e-6f);
}

// The nodes still at or above the cutoff at the last step are counted, whatever the work is
// cut into, and have no end; one that fell below just before the end has its end.
TEST(ArrivalMap, NodesStillAtOrAboveTheCutoffAtTheEndAreCounted) {
    const std::vector<Step> steps = {{0.0f, {0, 1, 1, 1, kNaN}, {}}, {1.0f, {1, 1, 0.5f, 0.25f, 1}, {}}};
    for (Feed feed : {Feed::WholeSteps, Feed::ReversedPiecesInPlace, Feed::PiecesOwnBuffer}) {
        const std::size_t nodes = steps.front().values.size();
        ArrivalMap map(nodes, 1, 0.5f);
        for (const Step& s : steps) {
            if (feed == Feed::WholeSteps) {
                map.addStep(s.time, s.values.data(), nullptr);
                continue;
            }
            map.beginStep(s.time, s.values.data());
            for (std::size_t i = nodes; i-- > 0;) map.addNodes(i, i + 1);
            map.endStep();
        }
        const std::vector<float> end(map.end().begin(), map.end().end());
        EXPECT_EQ(map.stillAtOrAbove(), 4u);
        const std::vector<float> want = {kNaN, kNaN, kNaN, 0.0f + 1.0f * (1 - 0.5f) / (1 - 0.25f), kNaN};
        for (std::size_t i = 0; i < nodes; ++i) EXPECT_TRUE(same(end[i], want[i])) << i << " " << end[i];
    }
}

// Times 0, 2, then back to 1, then 3 (cutoff 0.5). The interval from 2 to 1 is not measured;
// the step at 1 becomes the one the next interval is measured from.
TEST(ArrivalMap, TimeThatDoesNotIncrease) {
    const std::vector<Step> steps = {{0.0f, {1, 0, 0}, {}},
                                     {2.0f, {0, 1, 0}, {}},
                                     {1.0f, {1, 0, 0}, {}},
                                     {3.0f, {0, 0, 1}, {}}};
    for (Feed feed : {Feed::WholeSteps, Feed::ReversedPiecesInPlace, Feed::PiecesOwnBuffer}) {
        const Maps m = runMap(steps, 0.5f, feed);
        ASSERT_EQ(m.warnings.size(), 1u);
        EXPECT_EQ(m.warnings[0],
                  "WARNING - The time step at 1. does not come after the one at 2.: the interval is "
                  "not measured.");
        // Node 1: falls in 0..2 (end 1), wet again at 1 (unmeasured), falls in 1..3 (end 2).
        // Node 2: rises in 0..2 (arrival 1), below at 1: its end stays at 2, the wet step's time.
        // Node 3: rises in 1..3 at 2, still wet at the end: no end.
        const std::vector<float> arrival = {0.0f, 1.0f, 2.0f}, end = {2.0f, 2.0f, kNaN},
                                 peak = {0.0f, 2.0f, 3.0f};
        for (std::size_t i = 0; i < 3; ++i) {
            SCOPED_TRACE(i);
            EXPECT_TRUE(same(m.arrival[i], arrival[i])) << m.arrival[i];
            EXPECT_TRUE(same(m.end[i], end[i])) << m.end[i];
            EXPECT_TRUE(same(m.peak[i], peak[i])) << m.peak[i];
        }
    }
}

// Two runs joined end to end, both starting at 0: a node wet throughout has no end, and a
// repeated time (0 after 0) is not measured either.
TEST(ArrivalMap, RunsJoinedEndToEnd) {
    const std::vector<Step> steps = {{0.0f, {1, 0}, {}}, {0.0f, {1, 0}, {}}, {2.0f, {1, 0}, {}},
                                     {0.0f, {1, 0}, {}}, {2.0f, {1, 1}, {}}};
    const Maps m = runMap(steps, 0.5f, Feed::WholeSteps);
    ASSERT_EQ(m.warnings.size(), 2u);
    EXPECT_EQ(m.warnings[0],
              "WARNING - The time step at 0. does not come after the one at 0.: the interval is not "
              "measured.");
    EXPECT_NE(m.warnings[1].find("at 0. does not come after the one at 2."), std::string::npos);
    EXPECT_TRUE(same(m.arrival[0], 0.0f) && same(m.end[0], kNaN) && same(m.peak[0], 0.0f));
    EXPECT_TRUE(same(m.arrival[1], 1.0f) && same(m.end[1], kNaN) && same(m.peak[1], 2.0f));
}

// As -dur makes them: the greatest flag of each cell over every step after the first; a step
// without flags changes nothing.
TEST(ArrivalMap, OutputFlags) {
    const std::vector<Step> steps = {{0.0f, {0}, {1, 0, 0, 0}},
                                     {1.0f, {0}, {0, 1, 0, 0}},
                                     {2.0f, {0}, {}},
                                     {3.0f, {0}, {0, 0, 1, 0}}};
    for (Feed feed : {Feed::WholeSteps, Feed::PiecesOwnBuffer}) {
        const Maps m = runMap(steps, 0.5f, feed, 4);
        EXPECT_EQ(m.flags, (std::vector<std::int8_t>{0, 1, 1, 0}));
    }
}

// Many nodes through the shared-out path against the same nodes one at a time.
TEST(ArrivalMap, LargeStepsGiveTheSameMapsAsNodeByNode) {
    const std::size_t nodes = 300000;
    std::vector<Step> steps;
    for (int s = 0; s < 6; ++s) {
        Step step{static_cast<float>(s) * 0.75f, std::vector<float>(nodes), {}};
        for (std::size_t i = 0; i < nodes; ++i) {
            const unsigned h = static_cast<unsigned>(i * 2654435761u + static_cast<unsigned>(s) * 40503u);
            step.values[i] = (i % 97 == 5) ? kNaN : static_cast<float>(h % 1000) / 1000.0f;
        }
        steps.push_back(step);
    }
    const Maps whole = runMap(steps, 0.6f, Feed::WholeSteps);
    const Maps pieces = runMap(steps, 0.6f, Feed::PiecesOwnBuffer);
    for (std::size_t i = 0; i < nodes; ++i) {
        ASSERT_TRUE(same(whole.arrival[i], pieces.arrival[i]) && same(whole.end[i], pieces.end[i]) &&
                    same(whole.peak[i], pieces.peak[i]))
            << i;
    }
}

}  // namespace
}  // namespace kelvara
