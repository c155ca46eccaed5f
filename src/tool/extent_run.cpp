// -extent<depth>[,<depth>...]: the steps of one dataset (or the -t step) handed to the
// GeoPackage sink, which traces the region at or above each threshold on the mesh
// (sinks/polygon_sink.cpp). Vectors are traced by their magnitude. A cell inactive at a step
// (its flag 0) is dry there: it belongs to no region.
#include <functional>

#include "fileio/console.h"
#include "fileio/error.h"
#include "formats/dataset.h"
#include "steps/step_times.h"
#include "tool/operations.h"
#include "util/text.h"

namespace kelvara {

void runExtent(RunState& run) {
    const Operation& o = run.options->operation;
    const bool isVector = run.primary.isVector;
    const auto nodes = static_cast<std::size_t>(run.nodeCount());
    const std::function<bool(float)> wanted = [&o](float t) {
        return !o.atTime || matchesGivenTime(o.time, t);
    };

    consoleLine();
    consoleLine("Processing file: " + run.inputName(1));
    int traced = 0;
    while (run.readStep(1, wanted)) {
        if (!wanted(run.time)) continue;
        consoleLine(" Processing Time: " + AREAL(run.time));
        float* values = run.values1.data();
        if (isVector) VECTOR_MAGNITUDES(values, run.values2.data(), values, nodes);
        run.output->writeStep(run.time, run.active.data(), values, nullptr);
        ++traced;
    }
    if (traced == 0) {
        throw errorLine(o.atTime ? noStepAtTimeError(o.time, run.inputName(1))
                                 : "ERROR - " + run.inputName(1) + " holds no time step.");
    }
}

}  // namespace kelvara
