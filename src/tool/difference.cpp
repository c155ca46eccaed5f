// -dif: the first run minus the second, step by step, with the two runs' steps paired by time.
// Unless -nowetdry is given, each node is first tested wet or dry in both runs (water level
// above ground elevation + 0.001); a marker is written where only one run is wet and 0.0 where
// neither is.
//
// Both inputs and the companion water levels of runs that are not water levels themselves are
// streamed together, one step of each, in the step buffers and DifferenceTables: each run's
// value at its current step, its water level (a water-level run uses its own values) and its
// mesh's ground elevations; the output values go into values1.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "fileio/console.h"
#include "fileio/error.h"
#include "fileio/workers.h"
#include "fileio/units.h"
#include "formats/datatype.h"
#include "formats/mesh.h"
#include "tool/companions.h"
#include "tool/operations.h"
#include "steps/pick.h"
#include "steps/step_times.h"
#include "util/numbers.h"
#include "util/path.h"

namespace kelvara {
namespace {

constexpr float kTimeTolerance = 0.00005f;
constexpr float kWetMargin = 0.001f;
constexpr float kWetInSecondOnly = -99.0f;
constexpr float kWetInFirstOnly = 99.0f;
constexpr float kDryInBoth = 0.0f;
constexpr float kNoLevel = -99999.0f;

std::string freeFormat(float value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", static_cast<double>(value));
    return text;
}

// The water levels of a run that is not a water level itself: its stem_h.dat beside it.
struct Companion {
    bool used = false;
    int unit = 0;
    std::unique_ptr<DatasetReader> reader;
    float time = 0.0f;      // time of the step last read
    bool haveStep = false;  // a step has been read
};

// One side of the comparison.
struct Side {
    int input = 0;                 // 1 or 2
    float* value = nullptr;        // its value at its current step
    std::int8_t* flags = nullptr;  // flag buffer its steps are read into
    float* level = nullptr;        // water level (its own values when it is a water level)
    Table<float>* levelTable = nullptr;  // where level lies when a companion is read
    const float* ground = nullptr;
    float time = 0.0f;
    bool held = false;             // ahead of the other side, waiting for it
    Companion companion;
};

int unitOf(const RunState& run, const Side& side) {
    return run.inputUnits[static_cast<std::size_t>(side.input)];
}

bool canAdvance(RunState& run, const Side& side) { return run.input(side.input).hasStep(); }

// Reads the side's next step; a vector step is kept as the magnitude of each node's vector.
void readValues(RunState& run, Side& side) {
    const std::int32_t nodes = run.nodeCount();
    DatasetReader& reader = run.input(side.input);
    if (run.primary.isVector) {
        side.time = reader.nextStep({side.flags, run.values1.data(), run.values2.data()}).time;
        const float* x = run.values1.data();
        const float* y = run.values2.data();
        VECTOR_MAGNITUDES(x, y, side.value, static_cast<std::size_t>(nodes));
    } else {
        side.time = reader.nextStep({side.flags, side.value, run.values2.data()}).time;
    }
}

// How a run without its mesh or water levels beside it can still be compared.
const char* const kWithoutTheTest =
    ", or give -nowetdry for the plain difference without the wet/dry test.";

void readGround(RunState& run, MeshTables& mesh, const std::string& datasetName, float* ground,
                bool keepOpen) {
    const std::string meshName = explainMissing(
        run.options->companions(), CompanionFile::Mesh, datasetName,
        {"-dif tests each node wet or dry against the ground elevations of the mesh of " +
             datasetName, "the run's mesh", kWithoutTheTest});
    const int unit = OPENFILEUNIT("I ", meshName);
    READ_2DM_ELEVATIONS(unit, ground, run.nodeCount(), mesh.corners[0].data(),
                        mesh.corners[1].data(), mesh.corners[2].data(), mesh.corners[3].data(),
                        run.cellCount());
    if (keepOpen) {
        run.meshUnit = unit;
    } else {
        CLOSEFILEUNIT(unit);
    }
}

void openCompanion(RunState& run, Side& side, const Side& other, const char* which) {
    consoleLine();
    consoleLine(std::string("...need to also read ") + which + " _h.dat file");
    Companion& c = side.companion;
    const CompanionResolver companions = run.options->companions();
    const std::string name = companions.name(CompanionFile::Levels, run.inputName(side.input));
    // Levels already being read from the same file are shared: opening it a second time would
    // ask to close the unit that reads it.
    if (other.level == other.value && sameFile(name, unitName(unitOf(run, other)))) {
        side.level = other.value;
        return;
    }
    if (other.companion.used && sameFile(name, unitName(other.companion.unit))) {
        side.level = other.level;
        return;
    }
    explainMissing(companions, CompanionFile::Levels, run.inputName(side.input),
                   {"-dif tests each node wet or dry by the water levels of the run of " +
                        run.inputName(side.input), "the run's water levels", kWithoutTheTest});
    c.unit = OPENFILEUNIT("BI", name);
    c.used = true;
    c.reader = readerOfUnit(c.unit);
    const DatasetHeader& header = c.reader->readHeader(name);
    // Its steps are read into the run's tables, which hold the first input's counts.
    if (header.nodeCount != run.nodeCount() || header.cellCount != run.cellCount()) {
        throw errorLine("ERROR - Number nodes and/or cells in " + unitName(c.unit) +
                    " not the same as in primary .dat file.");
    }
    // Before its first step a companion gives no level: its nodes count as dry.
    fillInParts(side.level, static_cast<std::size_t>(run.nodeCount()), kNoLevel);
}

// Brings a side's water level to the pair's time: its own values, or the companion's step at
// that time (within the pairing tolerance). Earlier companion steps are passed over; a later one
// is left unread for a later pair. Where the companion has no step at the time, no node can be
// tested wet or dry: the run ends with an error (the maxima of -max, at 111111, have no levels
// beside them; -nowetdry compares them). Values are read into values1, which is free
// until the output values are worked out; a match trades that table for the level table, so
// that levels are replaced only by a match, and never copied.
void advanceLevel(RunState& run, Side& side, Side& other, float pairTime) {
    Companion& c = side.companion;
    if (!c.used) return;  // level is the side's own values
    const std::function<bool(float)> atPair = [pairTime](float t) {
        return std::fabs(t - pairTime) <= kTimeTolerance;
    };
    if (c.haveStep && atPair(c.time)) return;
    DatasetReader& reader = *c.reader;
    while (reader.hasStep()) {
        const std::int64_t stepAt = reader.stepPosition();
        const StepRead step = reader.nextStep({run.active.data(), run.values1.data(),
                                               run.values2.data()},
                                              {&atPair, FlagReading::Defer});
        if (step.valuesRead && atPair(step.time)) {
            const float* before = side.level;
            std::swap(run.values1, *side.levelTable);
            side.level = side.levelTable->data();
            if (other.level == before) other.level = side.level;  // the same levels, shared
            reader.readDeferredFlags(run.active.data());
            c.time = step.time;
            c.haveStep = true;
            return;
        }
        // A step after the pair's time is read again for the pair at its time.
        if (step.time > pairTime && reader.returnToStep(stepAt)) break;
    }
    throw Error({"", "ERROR - " + unitName(c.unit) + " has no time step at " + timeText(pairTime) +
                         ": the wet/dry test of -dif cannot be made without the run's water "
                         "levels at the time of each pair of steps.",
                 "Give -nowetdry for the plain difference without the wet/dry test."});
}

// Both step loops write the output values into values1, which no input is read into at a match
// (scalar steps go straight into result1 and result2; vector components are no longer needed).
void plainDifference(RunState& run, DifferenceTables& t) {
    const float* first = t.value1.data();
    const float* second = t.value2.data();
    float* __restrict out = run.values1.data();
    const std::int32_t nodes = run.nodeCount();
    for (std::int32_t i = 0; i < nodes; ++i) out[i] = first[i] - second[i];
    std::int8_t* __restrict flags = t.firstFlags.data();
    const std::int8_t* in = run.active.data();
    const std::int32_t cells = run.cellCount();
    for (std::int32_t i = 0; i < cells; ++i)
        flags[i] = static_cast<std::int8_t>((flags[i] != 0) & (in[i] != 0));
}

void wetDryDifference(RunState& run, DifferenceTables& t, const Side& a, const Side& b) {
    const float* first = a.value;
    const float* second = b.value;
    const float* level1 = a.level;  // the side's own values when it is a water level
    const float* level2 = b.level;
    const float* ground1 = a.ground;
    const float* ground2 = b.ground;
    float* __restrict out = run.values1.data();
    const std::int32_t nodes = run.nodeCount();
    for (std::int32_t i = 0; i < nodes; ++i) {
        // Strict comparisons: equal values, or a value that is not a number, count as dry.
        const bool wet1 = ground1[i] + kWetMargin < level1[i];
        const bool wet2 = ground2[i] + kWetMargin < level2[i];
        const float ifWet1 = pick(wet2, first[i] - second[i], kWetInFirstOnly);
        const float ifDry1 = pick(wet2, kWetInSecondOnly, kDryInBoth);
        out[i] = pick(wet1, ifWet1, ifDry1);
    }
    // active holds the flags last read into it: the second companion's step when there is one,
    // else the first companion's, else the second run's.
    std::int8_t* __restrict flags = t.firstFlags.data();
    const std::int8_t* in = run.active.data();
    const std::int32_t cells = run.cellCount();
    for (std::int32_t i = 0; i < cells; ++i)
        flags[i] = static_cast<std::int8_t>((flags[i] != 0) | (in[i] != 0));
}

}  // namespace

void runDifference(RunState& run) {
    const Operation& o = run.options->operation;

    const auto nodes = static_cast<std::size_t>(run.nodeCount());
    const auto cells = static_cast<std::size_t>(run.cellCount());
    DifferenceTables t;
    sizeTables([&] {
        t.value1.resize(nodes);
        t.value2.resize(nodes);
        t.firstFlags.resize(cells);
        if (!o.noWetDry) {
            t.level1.resize(nodes);
            t.level2.resize(nodes);
            t.ground1.resize(nodes);
            t.ground2.resize(nodes);
            t.mesh.size(0, cells);
        }
    });

    Side first;
    first.input = 1;
    first.value = t.value1.data();
    first.flags = t.firstFlags.data();
    first.level = t.level1.data();
    first.levelTable = &t.level1;
    first.ground = t.ground1.data();
    Side second;
    second.input = 2;
    second.value = t.value2.data();
    second.flags = run.active.data();
    second.level = t.level2.data();
    second.levelTable = &t.level2;
    second.ground = t.ground2.data();

    const DataTypeInfo firstType =
        IDENTIFY_DATA_TYPE(run.inputName(1), "First .dat file type identified as: ", toConsole);
    const DataTypeInfo secondType =
        IDENTIFY_DATA_TYPE(run.inputName(2), "Second .dat file type identified as: ", toConsole);
    if (firstType.rawSuffix != secondType.rawSuffix) {
        consoleLine();
        consoleLine("WARNING - The two .dat files are of different data types");
    }

    if (!o.noWetDry) {
        consoleLine();
        consoleLine("...need to also read .2dm files");
        readGround(run, t.mesh, run.inputName(1), t.ground1.data(), true);
        readGround(run, t.mesh, run.inputName(2), t.ground2.data(), false);
        if (firstType.isWaterLevel) first.level = first.value;
        if (secondType.isWaterLevel) second.level = second.value;
        if (!firstType.isWaterLevel) openCompanion(run, first, second, "first");
        if (!secondType.isWaterLevel) openCompanion(run, second, first, "second");
    }

    // Cells count as active until a step of the first run supplies flags.
    fillInParts(t.firstFlags.data(), t.firstFlags.size(), std::int8_t{1});

    bool bothEnded = false;
    while (!bothEnded) {
        // A side that is not waiting must advance; when it cannot, no further pair can be made.
        const bool firstCan = canAdvance(run, first);
        const bool secondCan = canAdvance(run, second);
        if ((!first.held && !firstCan) || (!second.held && !secondCan)) {
            if (first.held || firstCan || second.held || secondCan)
                consoleLine("WARNING - Premature end of one of the .dat files.");
            break;
        }
        if (!first.held) readValues(run, first);
        if (!second.held) readValues(run, second);
        const bool cardsEnded =
            run.input(1).card() == kCardEnd && run.input(2).card() == kCardEnd;

        if (std::fabs(first.time - second.time) > kTimeTolerance) {
            consoleLine("WARNING - Inconsistent times were found:" + formatFixed(first.time, 10, 3) +
                        formatFixed(second.time, 10, 3));
            consoleLine("          Trying to find next match.");
            // The side that is ahead waits while the other advances.
            first.held = first.time > second.time;
            second.held = second.time > first.time;
            bothEnded = cardsEnded;
            continue;
        }

        const bool selected = !o.atTime || std::fabs(o.time - first.time) <= kTimeTolerance;
        consoleLine(std::string(selected ? " Processing Time: " : " Skipping Time: ") +
                    freeFormat(first.time));
        first.held = false;
        second.held = false;
        bothEnded = cardsEnded;

        if (o.noWetDry) {
            if (selected) plainDifference(run, t);
        } else {
            // The companions are read at the time of each pair processed.
            if (selected) {
                advanceLevel(run, first, second, first.time);
                advanceLevel(run, second, first, first.time);
                wetDryDifference(run, t, first, second);
            }
        }
        if (selected) {
            run.output->writeStep(first.time, t.firstFlags.data(), run.values1.data(), nullptr);
        }
    }

    if (first.companion.used) CLOSEFILEUNIT(first.companion.unit);
    if (second.companion.used) CLOSEFILEUNIT(second.companion.unit);
    if (run.meshUnit != 0) {
        CLOSEFILEUNIT(run.meshUnit);
        run.meshUnit = 0;
    }
}

}  // namespace kelvara
