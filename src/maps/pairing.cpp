#include "maps/pairing.h"

#include <cmath>

#include "util/numbers.h"

namespace kelvara {

bool StepPairing::canContinue(bool firstHasStep, bool secondHasStep, std::string& warning) const {
    warning.clear();
    const bool stuck = (readsFirst() && !firstHasStep) || (readsSecond() && !secondHasStep);
    if (!stuck) return true;
    if (firstHasStep || secondHasStep) warning = "WARNING - Premature end of one of the .dat files.";
    return false;
}

bool StepPairing::matches(float firstTime, float secondTime) {
    return std::fabs(firstTime - secondTime) <= kTolerance;
}

bool StepPairing::pair(float firstTime, float secondTime, std::vector<std::string>& warnings) {
    if (matches(firstTime, secondTime)) {
        holdFirst_ = false;
        holdSecond_ = false;
        return true;
    }
    warnings.push_back("WARNING - Inconsistent times were found:" + formatFixed(firstTime, 10, 3) +
                       formatFixed(secondTime, 10, 3));
    warnings.push_back("          Trying to find next match.");
    holdFirst_ = firstTime > secondTime;
    holdSecond_ = secondTime > firstTime;
    return false;
}

}  // namespace kelvara
