// What each band of a grid holds, from the steps an output declares; the colours of classes.
// Free of GDAL: a build without it has them too.
#include <algorithm>
#include <cmath>

#include "grid/grid.h"
#include "sinks/known_steps.h"

namespace kelvara::grid {
namespace {

// The unit at the end of a description in brackets: "peak depth (m)" -> "m".
std::string bracketedUnit(const std::string& description) {
    if (description.empty() || description.back() != ')') return {};
    const std::size_t open = description.rfind('(');
    return open == std::string::npos ? std::string()
                                     : description.substr(open + 1, description.size() - open - 2);
}

}  // namespace

std::string describeTime(float time) { return describeStep(knownSteps(""), time); }

std::vector<BandSpec> bandsOfStep(float time, const std::vector<OutputStep>& steps) {
    SinkStart start;
    start.steps = steps;
    const OutputStep* step = start.stepAt(time);
    BandSpec band;
    band.time = time;
    band.description = describeStep(steps, time);
    if (step == nullptr) return {band};
    band.unit = step->unit.empty() ? bracketedUnit(step->description) : step->unit;
    switch (step->kind) {
    case StepKind::Values: return {band};
    case StepKind::InputNumbers:
        band.kind = BandKind::Classes;
        return {band};
    case StepKind::Classes:
        band.kind = BandKind::Classes;
        band.categories = step->categories;
        return {band};
    case StepKind::CodedDifference: {
        band.kind = BandKind::Difference;
        BandSpec codes;
        codes.time = time;
        codes.kind = BandKind::WetDryCodes;
        codes.description = "time " + shownTime(time) +
                            (std::fabs(time) >= 99998.0f ? "" : " h") +
                            ": wet in one run only (1 the first, 2 the second)";
        codes.categories = {"wet in both runs or neither", "wet in the first run only",
                            "wet in the second run only"};
        return {band, codes};
    }
    }
    return {band};
}

Colour classColour(BandKind kind, int value, int count) {
    if (kind == BandKind::WetDryCodes) {
        static const Colour kCodes[] = {{200, 200, 200}, {0, 92, 230}, {230, 40, 30}};
        return kCodes[std::clamp(value, 0, 2)];
    }
    // Green, yellow, orange, dark red, evenly over the classes.
    static const Colour kRamp[] = {{56, 168, 0}, {255, 235, 0}, {245, 120, 0}, {140, 0, 0}};
    const double at = count > 1 ? 3.0 * (std::clamp(value, 1, count) - 1) / (count - 1) : 0.0;
    const int i = std::min(2, static_cast<int>(at));
    const double share = at - i;
    const auto mix = [share](int a, int b) {
        return static_cast<int>(std::lround(a + share * (b - a)));
    };
    return {mix(kRamp[i].red, kRamp[i + 1].red), mix(kRamp[i].green, kRamp[i + 1].green),
            mix(kRamp[i].blue, kRamp[i + 1].blue)};
}

}  // namespace kelvara::grid
