// Pairs the steps of two datasets of the same run by time as they stream, as -dif does: both
// advance together while their times agree within a tolerance; where they do not, the dataset
// that is ahead waits while the other advances, and the console is told.
#pragma once

#include <string>
#include <vector>

namespace kelvara {

class StepPairing {
public:
    // Two step times match when they differ by no more than this.
    static constexpr float kTolerance = 0.00005f;
    static bool matches(float firstTime, float secondTime);

    // Whether each dataset reads its next step before the next comparison (a dataset that is
    // ahead waits with the step it holds).
    bool readsFirst() const { return !holdFirst_; }
    bool readsSecond() const { return !holdSecond_; }

    // Whether another comparison can be made, given whether each dataset has a further step to
    // read. When it cannot while one of them still has steps, warning receives the line to
    // print; otherwise it is left empty.
    bool canContinue(bool firstHasStep, bool secondHasStep, std::string& warning) const;

    // Compares the times of the steps the two datasets now hold: true when they make a pair.
    // Otherwise the two lines of the warning are appended to warnings and the dataset that is
    // ahead waits. A time that is not a number matches nothing; neither dataset then waits.
    bool pair(float firstTime, float secondTime, std::vector<std::string>& warnings);

private:
    bool holdFirst_ = false;
    bool holdSecond_ = false;
};

}  // namespace kelvara
