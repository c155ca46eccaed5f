// The special times of datasets and what their steps hold, in one list: the operations declare
// their outputs' steps from it (tool/operation.cpp), and a grid of an existing dataset (-grid)
// reads its steps by it, from their times and the dataset's name.
#pragma once

#include <string>
#include <vector>

#include "sinks/sink.h"

namespace kelvara {

// The special times.
constexpr float kModelMaximumTime = 99999.0f;     // a flood model's maximum of each node
constexpr float kSummaryTime = 111111.0f;         // -max, -dur, -ddur
constexpr float kInputNumberTime = 222222.0f;     // -max: the input that gave the maximum
constexpr float kArrivalStepTime = 100001.0f;     // -arrival: arrival, end, peak
constexpr float kArrivalEndTime = 100002.0f;
constexpr float kArrivalPeakTime = 100003.0f;
constexpr float kDepthSpeedTime = 100011.0f;      // -hazard: d x v, ARR class, UK rating,
constexpr float kHazardClassTime = 100012.0f;     // UK class
constexpr float kHazardRatingTime = 100013.0f;
constexpr float kUkHazardClassTime = 100014.0f;
constexpr float kEnvelopeStepTime = 120001.0f;    // ensembles: envelope, critical group,
constexpr float kCriticalGroupStepTime = 120002.0f;  // representative run
constexpr float kRepresentativeRunStepTime = 120003.0f;

// What a dataset's values measure, told by its name (run_d.dat: "depth", "m"); both empty when
// the name tells nothing.
struct Quantity {
    std::string name;  // "depth", "water level", "speed"
    std::string unit;  // "m", "m/s"
    bool known() const { return !name.empty(); }
};
Quantity quantityOf(const std::string& datasetName);

// The steps of each operation's output (descriptions with their units).
std::vector<OutputStep> maximumSteps(const Quantity& q);             // 111111, 222222
OutputStep durationStep(float cutoff, const Quantity& q);             // 111111
OutputStep durationDifferenceStep(float cutoff, const Quantity& q);   // 111111
std::vector<OutputStep> arrivalSteps(float cutoff, const Quantity& q);  // 100001 to 100003
std::vector<OutputStep> hazardSteps();  // 100011 to 100013
OutputStep ukHazardClassStep();         // 100014
// Every step of -dif: the difference, with the wet/dry codes 99 and -99 when coded.
OutputStep differenceStep(const Quantity& q, bool coded);
// The ordinary steps of a dataset of that quantity, and its model maximum at 99999 (kept by
// -con, -k, -r, -trim): none when the quantity is not known.
std::vector<OutputStep> quantitySteps(const Quantity& q);

// The steps of an existing dataset that its name and the special times tell: the steps of the
// operation whose tag ends its name ("run_d(maxmax).dat", "run_d(dur0.3).dat",
// "run_d(arrival0.3).dat", "run_d(hazard).dat"), the coded differences of a name that -dif
// gives ("base_d - design_d.dat": two names of one quantity; a name chosen by the user tells
// nothing, and 99 and -99 are then values), the ensemble's steps, the input numbers at 222222,
// and the ordinary steps of the quantity its name tells.
std::vector<OutputStep> knownSteps(const std::string& datasetName);

// The description of the step at time among steps: its own when listed, "time 1.5 h: " and that
// of the entry for every other step, or "time 1.5 h".
std::string describeStep(const std::vector<OutputStep>& steps, float time);

// A time as a description shows it: "1.5", "0.333", "99999".
std::string shownTime(float time);

}  // namespace kelvara
