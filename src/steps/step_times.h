// Times given on the command line and the steps they name, and the messages about step times
// that several operations share.
#pragma once

#include <cmath>
#include <string>

#include "util/numbers.h"

namespace kelvara {

// A time given with -k, -r or -t names the steps within this of it: the times listing prints
// three decimals, and a time it prints names its step.
constexpr float kGivenTimeTolerance = 0.001f;

inline bool matchesGivenTime(float given, float t) {
    return std::fabs(given - t) < kGivenTimeTolerance;
}

// A time as the messages show it: three decimals, no padding.
inline std::string timeText(float t) {
    std::string text = formatFixed(t, 40, 3);
    return text.substr(text.find_first_not_of(' '));
}

// An interval from previous to t is measured only when t comes after previous.
inline bool timeIncreases(float previous, float t) { return t > previous; }

inline std::string intervalNotMeasuredWarning(float previous, float t) {
    return "WARNING - The time step at " + timeText(t) + " does not come after the one at " +
           timeText(previous) + ": the interval is not measured.";
}

inline std::string noStepAtTimeError(float given, const std::string& fileName) {
    return "ERROR - " + fileName + " has no time step at " + timeText(given) + ".";
}

// -t given to an operation that measures over the event (-dur, -arrival, -hazard): the steps up
// to that time are used, those after it are not (a step within the tolerance counts as at it).
inline bool upToGivenTime(float given, float t) {
    return t <= given || matchesGivenTime(given, t);
}

inline std::string noStepUpToTimeError(float given, const std::string& fileName) {
    return "ERROR - " + fileName + " has no output time up to the -t time " + timeText(given) +
           ": there is nothing to measure.";
}

}  // namespace kelvara
