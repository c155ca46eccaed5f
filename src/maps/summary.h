// What the flood-risk maps share: which steps are ordinary output times, and the times at which
// the maps write their summary steps.
//
// Ordinary output times lie below 99998 in absolute value; the tool's own summary steps use
// 99999 (a model's maxima), 111111 and 222222. The maps take times of their own beyond all of
// these, each a whole number that single precision holds exactly, so that -k and -r pick one
// map out of an output and -r99999 removes them all as it removes every summary step:
//
//   arrival map   100001 arrival   100002 end     100003 peak
//   hazard map    100011 d*v       100012 class   100013 rating   100014 UK class
#pragma once

#include <cmath>

namespace kelvara {

// Times at or beyond this (in absolute value) are summary steps, not output times.
constexpr float kSummaryTimeLimit = 99998.0f;

// Whether a step's time is an output time of the simulation. A time that is not a number is not.
inline bool isOrdinaryTime(float time) { return std::fabs(time) < kSummaryTimeLimit; }

constexpr float kArrivalTime = 100001.0f;
constexpr float kEndTime = 100002.0f;
constexpr float kPeakTime = 100003.0f;

constexpr float kGreatestDepthSpeedTime = 100011.0f;
constexpr float kGreatestClassTime = 100012.0f;
constexpr float kGreatestRatingTime = 100013.0f;
constexpr float kUkClassTime = 100014.0f;

}  // namespace kelvara
