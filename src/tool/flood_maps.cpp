// The flood-risk maps: -arrival<cutoff> (when the water arrives, recedes and peaks) and
// -hazard<debris factor> (depth times speed, hazard class, hazard rating and UK class). The
// arithmetic is in src/maps/; this is the streaming of the inputs into it and the writing of
// its steps.
#include <functional>
#include <string>
#include <vector>

#include "fileio/console.h"
#include "fileio/error.h"
#include "fileio/workers.h"
#include "formats/dataset.h"
#include "maps/arrival.h"
#include "maps/hazard.h"
#include "maps/pairing.h"
#include "maps/summary.h"
#include "tool/operations.h"
#include "steps/step_times.h"
#include "util/text.h"

namespace kelvara {

void runArrival(RunState& run) {
    const Operation& o = run.options->operation;
    const auto nodes = static_cast<std::size_t>(run.nodeCount());
    const auto cells = static_cast<std::size_t>(run.cellCount());
    ArrivalMap map(nodes, cells, o.cutoff);

    consoleLine();
    consoleLine("Processing file: " + run.inputName(1));
    DatasetReader& reader = run.input(1);
    const bool isVector = run.primary.isVector;
    float* values = nullptr;  // the map's step buffer, which it keeps as the previous step's
    float* const valuesY = run.values2.data();
    // The map measures each piece of values as it arrives, while it is still in the cache.
    bool measuring = false;
    std::string warning;
    // With -t, the steps after that time are passed over as the special ones are.
    const std::function<bool(float)> wanted = [&](float t) {
        measuring = isOrdinaryTime(t) && (!o.atTime || upToGivenTime(o.time, t));
        if (measuring) warning = map.beginStep(t, values);
        return measuring;
    };
    const PieceWork onValues = [&](std::size_t, std::size_t begin, std::size_t end) {
        if (isVector)
            VECTOR_MAGNITUDES(values + begin, valuesY + begin, values + begin, end - begin);
        map.addNodes(begin, end);
    };
    StepRequest request;
    request.wanted = &wanted;
    request.onValues = &onValues;
    bool anyStep = false;
    while (reader.hasStep()) {
        values = map.stepBuffer();
        const StepRead step = reader.nextStep({run.active.data(), values, valuesY}, request);
        anyStep = true;
        if (!step.valuesRead || !measuring) continue;
        if (!warning.empty()) consoleLine(warning);
        const std::int8_t* active = run.active.data();
        forEachPart(cells, 4096, 256 * 1024, [&](std::size_t, std::size_t begin, std::size_t end) {
            map.addFlags(active, begin, end);
        });
        map.endStep();
    }
    if (!anyStep) throw errorLine("ERROR - " + run.inputName(1) + " holds no time step.");
    if (map.steps() == 0 && o.atTime) throw errorLine(noStepUpToTimeError(o.time, run.inputName(1)));
    if (map.steps() == 0) {
        throw errorLine("ERROR - " + run.inputName(1) +
                        " holds no output time below 99998: there is nothing to measure.");
    }

    const std::int8_t* flags = map.flags().data();
    const Table<float>& end = map.end();
    if (map.stillAtOrAbove() > 0) {
        consoleLine();
        consoleLine("WARNING - " + AINTEGER(static_cast<int>(map.stillAtOrAbove())) +
                    (map.stillAtOrAbove() == 1 ? " node is" : " nodes are") +
                    " still at or above the cutoff at the last output time: " +
                    (map.stillAtOrAbove() == 1 ? "its" : "their") +
                    " end (step 100002) holds no data.");
    }
    run.output->writeStep(kArrivalTime, flags, map.arrival().data(), nullptr);
    run.output->writeStep(kEndTime, flags, end.data(), nullptr);
    run.output->writeStep(kPeakTime, flags, map.peak().data(), nullptr);
}

void runHazard(RunState& run) {
    const Operation& o = run.options->operation;
    const auto nodes = static_cast<std::size_t>(run.nodeCount());
    const auto cells = static_cast<std::size_t>(run.cellCount());
    // A land use sets the factor by depth band; otherwise the one factor (urban: 1).
    HazardMap map(nodes, cells,
                  o.landUse != LandUse::None ? debrisFactorsOf(o.landUse)
                                             : fixedDebrisFactor(o.debrisFactor));

    DatasetReader& depthReader = run.input(1);
    DatasetReader& speedReader = run.input(2);
    const bool speedIsVector = run.second.isVector;

    // Each side keeps its own step: the one that is ahead waits with it.
    Table<float> speed, speedY;
    Table<std::int8_t> speedActive;
    sizeTables([&] {
        speed.resize(nodes);
        if (speedIsVector) speedY.resize(nodes);
        speedActive.assign(cells, 1);
    });
    float* depth = run.values1.data();
    std::int8_t* depthActive = run.active.data();
    float depthTime = 0.0f, speedTime = 0.0f;

    consoleLine();
    consoleLine("Processing files: " + run.inputName(1) + " and " + run.inputName(2));
    // A speed step that pairs with the depths in hand is measured piece by piece as it is read.
    // Whether it pairs is known from its time, before its values arrive.
    bool inPieces = false;
    // With -t, the steps after that time are passed over as the special ones are.
    const auto usable = [&o](float t) {
        return isOrdinaryTime(t) && (!o.atTime || upToGivenTime(o.time, t));
    };
    const std::function<bool(float)> depthWanted = [&depthTime, &usable](float t) {
        depthTime = t;
        return usable(t);
    };
    const std::function<bool(float)> speedWanted = [&](float t) {
        speedTime = t;
        inPieces = usable(t) && usable(depthTime) && StepPairing::matches(depthTime, t);
        return usable(t);
    };
    float* const speedX = speed.data();
    float* const speedY0 = speedIsVector ? speedY.data() : nullptr;
    const PieceWork onSpeed = [&](std::size_t, std::size_t begin, std::size_t end) {
        if (speedIsVector)
            VECTOR_MAGNITUDES(speedX + begin, speedY0 + begin, speedX + begin, end - begin);
        if (inPieces) map.addNodes(depth, speedX, begin, end);
    };
    StepPairing pairing;
    for (;;) {
        std::string warning;
        if (!pairing.canContinue(depthReader.hasStep(), speedReader.hasStep(), warning)) {
            if (!warning.empty()) consoleLine(warning);
            break;
        }
        bool measured = false;
        if (pairing.readsFirst()) {
            StepRequest request;
            request.wanted = &depthWanted;
            depthReader.nextStep({depthActive, depth, nullptr}, request);
        }
        if (pairing.readsSecond()) {
            StepRequest request;
            request.wanted = &speedWanted;
            request.onValues = &onSpeed;
            inPieces = false;
            const StepRead step =
                speedReader.nextStep({speedActive.data(), speedX, speedY0}, request);
            measured = inPieces && step.valuesRead;
        }
        std::vector<std::string> lines;
        const bool paired = pairing.pair(depthTime, speedTime, lines);
        for (const auto& line : lines) consoleLine(line);
        if (!paired || !usable(depthTime) || !usable(speedTime)) continue;
        consoleLine(" Processing Time: " + AREAL(depthTime));
        // Cells count as active until a step supplies flags, and a step without flags leaves
        // those of the step before, as for every operation.
        if (measured) {
            const std::int8_t* a = depthActive;
            const std::int8_t* b = speedActive.data();
            forEachPart(cells, 4096, 256 * 1024,
                        [&](std::size_t, std::size_t begin, std::size_t end) {
                            map.addFlags(a, b, begin, end);
                        });
            map.endStep();
        } else {
            map.addStep(depth, speedX, depthActive, speedActive.data());
        }
    }
    if (map.steps() == 0) {
        throw errorLine("ERROR - " + run.inputName(1) + " and " + run.inputName(2) +
                        " have no output time in common" +
                        (o.atTime ? " up to the -t time " + timeText(o.time) : std::string()) +
                        ": there is nothing to measure.");
    }

    const std::int8_t* flags = map.flags().data();
    run.output->writeStep(kGreatestDepthSpeedTime, flags, map.depthSpeed().data(), nullptr);
    run.output->writeStep(kGreatestClassTime, flags, map.hazardClasses().data(), nullptr);
    run.output->writeStep(kGreatestRatingTime, flags, map.rating().data(), nullptr);
    // The depths are measured: their table takes the UK classes.
    map.ukClasses(depth);
    run.output->writeStep(kUkClassTime, flags, depth, nullptr);
}

}  // namespace kelvara
