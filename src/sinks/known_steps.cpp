#include "sinks/known_steps.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "formats/datatype.h"
#include "util/path.h"

namespace kelvara {
namespace {

// A number as a description shows it, in the fewest digits: 0.3, 12.
std::string shortNumber(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
    return text;
}

// "0.3 m" or "0.3": a cutoff with the quantity's unit.
std::string withUnit(float value, const Quantity& q) {
    return shortNumber(value) + (q.unit.empty() ? "" : " " + q.unit);
}

// "depth" or "the value".
std::string subject(const Quantity& q) { return q.known() ? q.name : "the value"; }

OutputStep values(float time, std::string description, std::string unit = {}) {
    return {time, StepKind::Values, std::move(description), {}, std::move(unit)};
}

// "maximum depth" + " (m)".
std::string inUnit(const std::string& text, const std::string& unit) {
    return unit.empty() ? text : text + " (" + unit + ")";
}

// The steps every dataset may have whatever its name: they are known by their times alone.
std::vector<OutputStep> stepsOfTheirOwnTime() {
    std::vector<OutputStep> steps = {
        {kInputNumberTime, StepKind::InputNumbers, "input number", {}, {}}};
    for (const OutputStep& s : arrivalSteps(NAN, {})) steps.push_back(s);
    for (const OutputStep& s : hazardSteps()) steps.push_back(s);
    steps.push_back(ukHazardClassStep());
    steps.push_back(values(kEnvelopeStepTime, "envelope of the group statistics"));
    steps.push_back({kCriticalGroupStepTime, StepKind::Classes, "critical group", {}, {}});
    steps.push_back(
        {kRepresentativeRunStepTime, StepKind::InputNumbers, "representative run", {}, {}});
    return steps;
}

// The number after a tag's word ("dur0.3" -> 0.3), or NaN.
float tagNumber(const std::string& tag, std::size_t wordLength) {
    const std::string rest = tag.substr(wordLength);
    char* end = nullptr;
    const float value = std::strtof(rest.c_str(), &end);
    return !rest.empty() && end != nullptr && *end == '\0' ? value : NAN;
}

bool startsWith(const std::string& text, const char* word) {
    return text.compare(0, std::char_traits<char>::length(word), word) == 0;
}

}  // namespace

Quantity quantityOf(const std::string& datasetName) {
    switch (dataKindOf(datasetName)) {
    case DataKind::Depth: return {"depth", "m"};
    case DataKind::WaterLevel: return {"water level", "m"};
    case DataKind::Velocity: return {"speed", "m/s"};
    case DataKind::Unknown: break;
    }
    return {};
}

std::vector<OutputStep> maximumSteps(const Quantity& q) {
    return {values(kSummaryTime, inUnit(q.known() ? "maximum " + q.name : "maximum", q.unit),
                   q.unit),
            {kInputNumberTime, StepKind::InputNumbers, "input number", {}, {}}};
}

OutputStep durationStep(float cutoff, const Quantity& q) {
    return values(kSummaryTime,
                  q.known() ? "hours with " + q.name + " at or above " + withUnit(cutoff, q)
                            : "hours at or above " + shortNumber(cutoff),
                  "h");
}

OutputStep durationDifferenceStep(float cutoff, const Quantity& q) {
    const std::string level =
        std::isnan(cutoff) ? std::string() : ", cutoff " + withUnit(cutoff, q);
    return values(kSummaryTime, "hours flooded, first run minus second" + level + " (h)", "h");
}

std::vector<OutputStep> arrivalSteps(float cutoff, const Quantity& q) {
    const std::string below =
        std::isnan(cutoff) ? "the cutoff" : withUnit(cutoff, q);
    return {values(kArrivalStepTime, "arrival time (h)", "h"),
            values(kArrivalEndTime, "time " + subject(q) + " last falls below " + below + " (h)",
                   "h"),
            values(kArrivalPeakTime, "time of peak (h)", "h")};
}

std::vector<OutputStep> hazardSteps() {
    return {values(kDepthSpeedTime, "peak depth x velocity (m2/s)", "m2/s"),
            {kHazardClassTime,
             StepKind::Classes,
             "ARR2019 hazard class",
             {"H1", "H2", "H3", "H4", "H5", "H6"},
             {}},
            values(kHazardRatingTime, "UK hazard rating")};
}

OutputStep ukHazardClassStep() {
    return {kUkHazardClassTime,
            StepKind::Classes,
            "UK hazard class",
            {"low", "moderate", "significant", "extreme"},
            {}};
}

OutputStep differenceStep(const Quantity& q, bool coded) {
    const std::string what = q.known() ? q.name + " difference" : "difference";
    return {kEveryOtherStep, coded ? StepKind::CodedDifference : StepKind::Values,
            inUnit(what + ", first run minus second", q.unit), {}, q.unit};
}

std::vector<OutputStep> quantitySteps(const Quantity& q) {
    if (!q.known()) return {};
    return {values(kModelMaximumTime, inUnit("maximum " + q.name + " of the run", q.unit), q.unit),
            values(kEveryOtherStep, inUnit(q.name, q.unit), q.unit)};
}

std::vector<OutputStep> knownSteps(const std::string& datasetName) {
    const std::string bare = FILENAME(datasetName);
    std::vector<OutputStep> steps;
    const auto add = [&steps](const std::vector<OutputStep>& more) {
        steps.insert(steps.end(), more.begin(), more.end());
    };

    // The tag of the operation that wrote it, last in its name, and the name before it.
    std::string tag, before = bare;
    if (!bare.empty() && bare.back() == ')') {
        const std::size_t open = bare.rfind('(');
        if (open != std::string::npos) {
            tag = bare.substr(open + 1, bare.size() - open - 2);
            before = bare.substr(0, open);
        }
    }
    const Quantity input = quantityOf(before + ".dat");
    // -dif's own name: two names of one quantity ("base_d(maxmax) - design_d(maxmax)" too).
    bool differences = false;
    const std::size_t dash = bare.find(" - ");
    if (dash != std::string::npos && dash == bare.rfind(" - ")) {
        const std::string first = bare.substr(0, dash), second = bare.substr(dash + 3);
        const Quantity a = quantityOf(first + ".dat"), b = quantityOf(second + ".dat");
        if (a.known() && a.name == b.name) {
            // -ddur writes one step at 111111 under the same name; -dif writes 111111 only
            // when its inputs are -max outputs.
            if (first.find("(maxmax)") == std::string::npos)
                steps.push_back(durationDifferenceStep(NAN, a));
            steps.push_back(differenceStep(a, true));
            differences = true;
        }
    }
    // Else the operation whose tag ends the name.
    if (differences) {
        // told above
    } else if (startsWith(tag, "maxmax")) {
        add(maximumSteps(input));
    } else if (startsWith(tag, "dur")) {
        steps.push_back(durationStep(tagNumber(tag, 3), input));
    } else if (startsWith(tag, "arrival")) {
        add(arrivalSteps(tagNumber(tag, 7), input));
    } else if (tag == "va") {
        steps.push_back(values(kModelMaximumTime,
                               "flow direction of the run's maximum (degrees clockwise from north)",
                               "degree"));
        steps.push_back(values(kEveryOtherStep,
                               "flow direction (degrees clockwise from north)", "degree"));
    }
    add(stepsOfTheirOwnTime());
    if (!differences) {
        const std::vector<OutputStep> own = quantitySteps(quantityOf(datasetName));
        add(own.empty() ? std::vector<OutputStep>{values(kModelMaximumTime, "maximum of the run")}
                        : own);
    }
    return steps;
}

std::string shownTime(float time) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(time));
    std::string shown = text;
    if (shown.find('.') != std::string::npos) {
        shown.erase(shown.find_last_not_of('0') + 1);
        if (shown.back() == '.') shown.pop_back();
    }
    if (shown == "-0") shown = "0";
    return shown;
}

std::string describeStep(const std::vector<OutputStep>& steps, float time) {
    SinkStart start;
    start.steps = steps;
    const OutputStep* s = start.stepAt(time);
    const bool summary = std::fabs(time) >= 99998.0f;
    const std::string plain = "time " + shownTime(time) + (summary ? "" : " h");
    if (s == nullptr || s->description.empty()) return plain;
    if (s->time == kEveryOtherStep) return plain + ": " + s->description;
    return s->description;
}

}  // namespace kelvara
