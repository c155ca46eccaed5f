// The arrival map (-arrival<cutoff>): for each node, when the value first reaches the cutoff,
// when it falls below it for the last time, and when it peaks, over the output times of one
// dataset. Between two consecutive steps the value is taken to vary linearly, as for the
// duration (-dur), and the crossings are placed with the same single-precision arithmetic, so
// that a node wet over one period has end - arrival equal to its duration up to rounding.
//
// Per node:
//   arrival  the first time the value is at or above the cutoff: the first step's time when it
//            already is, otherwise the interpolated upward crossing;
//   end      the time after which it stays below: the last interpolated downward crossing;
//            not a number (no data) when it is still at or above the cutoff at the last step,
//            as it has not ended within the run (stillAtOrAbove counts such nodes);
//   peak     the time of the step with the greatest value, the earliest of equal values.
// A value that is not a number counts as below the cutoff and is never a peak; where a crossing
// cannot be placed (an end not a number or both ends infinite) it is put at the step that is at
// or above the cutoff, as the duration counts nothing of that interval. A node that never
// reaches the cutoff has not-a-number in all three.
//
// A step whose time does not come after the previous step's leaves its interval unmeasured:
// a node that is at or above the cutoff at the new step counts as arrived at that step's time,
// and a node that falls below keeps as its end the previous step's time; the step then becomes
// the previous one (so that two runs joined end to end are both measured). A warning names the
// two times.
//
// Only ordinary steps (isOrdinaryTime) are given to the map: the caller passes over the others.
// The output's cell flags are those -dur writes: 1 where the cell is active (any flag but 0)
// in any step after the first, otherwise 0.
//
// A step is given whole (addStep) or in pieces: beginStep, then addNodes over ranges of nodes
// that cover them all (in any order, on any threads, each range once), addFlags likewise over
// the cells, then endStep. The nodes of different ranges share nothing, so the maps do not
// depend on how the work is shared out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fileio/table_memory.h"

namespace kelvara {

class ArrivalMap {
public:
    ArrivalMap(std::size_t nodeCount, std::size_t cellCount, float cutoff);

    // Takes one step: values holds one value per node (the magnitude for a vector dataset),
    // active one flag per cell or is null when the step has none. Returns the warning line when
    // the step's time does not come after the previous step's, otherwise an empty text. The
    // work is shared out over the cores.
    std::string addStep(float time, const float* values, const std::int8_t* active);

    // The same in pieces. values must hold the step's values by the time addNodes covers them.
    std::string beginStep(float time, const float* values);
    void addNodes(std::size_t begin, std::size_t end);
    void addFlags(const std::int8_t* active, std::size_t begin, std::size_t end);
    void endStep();

    // A table of nodeCount values a step may be read into: given to beginStep or addStep as
    // values, it spares copying the step's values to keep them for the next interval.
    float* stepBuffer() { return next_.data(); }

    std::size_t nodeCount() const { return arrival_.size(); }
    std::size_t cellCount() const { return flags_.size(); }
    float cutoff() const { return cutoff_; }
    std::size_t steps() const { return steps_; }

    // The three maps and the output's cell flags, after the last step. The ends of the nodes
    // still at or above the cutoff at the last step are cleared at the first call.
    const Table<float>& arrival() const { return arrival_; }
    const Table<float>& end() {
        finish();
        return end_;
    }
    const Table<float>& peak() const { return peak_; }
    // Nodes still at or above the cutoff at the last step, counted by end().
    std::size_t stillAtOrAbove() const { return stillAtOrAbove_; }
    const Table<std::int8_t>& flags() const { return flags_; }

private:
    float cutoff_;
    Table<float> arrival_, end_, peak_;
    Table<float> peakValue_;  // the value at the peak so far, not a number until arrival
    Table<float> previous_;   // the values of the previous step (not a number before it)
    Table<float> next_;       // see stepBuffer
    Table<std::int8_t> flags_;

    // The step under way.
    const float* values_ = nullptr;
    float time_ = 0.0f;
    float interval_ = 0.0f;  // its interval, 0 when it is not measured
    bool mergeFlags_ = false;

    float previousTime_ = 0.0f;
    std::size_t steps_ = 0;
    std::size_t stillAtOrAbove_ = 0;
    bool finished_ = true;

    void finish();
};

}  // namespace kelvara
