#include "tool/operation.h"

#include <cmath>
#include <string_view>

#include "calc/calc.h"
#include "maps/hazard.h"
#include "sinks/known_steps.h"
#include "tool/ensemble_run.h"
#include "tool/operations.h"
#include "tool/options.h"
#include "util/numbers.h"
#include "util/path.h"
#include "util/text.h"

namespace kelvara {
namespace {

using Names = std::vector<std::string>;

const char* const kOneFile =
    "ERROR - Can only specify one .dat file for -dur, -trim, -va, -times, -k and -r options.";
const char* const kTwoFiles = "ERROR - Must specify two .dat files for -dif or -ddur options.";

// The first input's folder and name without its extension.
std::string firstStem(const Names& inputs) {
    return FILENAMEPATH(inputs.empty() ? std::string() : inputs[0]);
}

// The first input's name, "" when there is none.
std::string firstInput(const Names& inputs) { return inputs.empty() ? std::string() : inputs[0]; }

// "stem(label).dat": the name of an operation that names its output after its flag.
std::string labelled(const Operation& o, const Names& inputs, const char* extension = ".dat") {
    return firstStem(inputs) + "(" + o.label + ")" + extension;
}

// -dif and -ddur: a third name names the output; otherwise "first - second".
void compared(const Names& inputs, OperationShape& s) {
    s.minInputs = s.maxInputs = 2;
    s.countError = kTwoFiles;
    s.lastNameNamesOutput = true;
    if (inputs.size() == 3) {
        s.outputName = FILENAMEPATH(inputs[2]) + ".dat";
    } else {
        s.outputName = firstStem(inputs) + " - " +
                       FILENAME(inputs.size() > 1 ? inputs[1] : std::string()) + ".dat";
    }
}

void describeSinglePass(const Operation& o, const Names& inputs, OperationShape& s) {
    if (o.steps != StepChoice::All || o.transform != ValueTransform::None) {
        s.maxInputs = 1;
        s.countError = kOneFile;
    } else {
        s.minInputs = 2;
        s.maxInputs = kMaxInputs;
        s.countError = "ERROR - Must specify at least two .dat files for -con option.";
    }
    s.output = o.transform == ValueTransform::FlowAngle ? OutputForm::Scalar : OutputForm::LikeInput;
    const std::string first = firstStem(inputs);
    if (o.steps == StepChoice::Remove) {
        s.outputName = first + "(r" + AREAL(o.time) + ").dat";
    } else if (o.steps == StepChoice::Keep) {
        s.outputName = first + "(k" + AREAL(o.time) + ").dat";
    } else if (o.concatenate) {
        s.outputName = first + "(con).dat";
    } else {
        s.outputName = labelled(o, inputs);
    }
    // The input's steps, or the flow directions.
    s.steps = knownSteps(o.transform == ValueTransform::FlowAngle ? s.outputName
                                                                   : firstInput(inputs));
}

void describeTimes(const Operation&, const Names&, OperationShape& s) {
    s.maxInputs = 1;
    s.countError = kOneFile;
    s.output = OutputForm::TimesText;
    s.outputName = "times.txt";  // in the current folder
}

void describeMaximum(const Operation&, const Names& inputs, OperationShape& s) {
    s.maxInputs = kMaxInputs;
    s.output = OutputForm::LikeInput;
    s.outputName = firstStem(inputs) + "(maxmax).dat";
    s.steps = maximumSteps(quantityOf(firstInput(inputs)));
}

void describeDuration(const Operation& o, const Names& inputs, OperationShape& s) {
    s.maxInputs = 1;
    s.countError = kOneFile;
    s.outputName = labelled(o, inputs);
    s.steps = {durationStep(o.cutoff, quantityOf(firstInput(inputs)))};
}

void describeDifference(const Operation& o, const Names& inputs, OperationShape& s) {
    compared(inputs, s);
    s.readsCompanionLevels = !o.noWetDry;
    s.steps = {differenceStep(quantityOf(firstInput(inputs)), !o.noWetDry)};
}

void describeDurationDifference(const Operation& o, const Names& inputs, OperationShape& s) {
    compared(inputs, s);
    s.steps = {durationDifferenceStep(o.cutoff, quantityOf(firstInput(inputs)))};
}

void describeArrival(const Operation& o, const Names& inputs, OperationShape& s) {
    s.maxInputs = 1;
    s.countError = "ERROR - Can only specify one .dat file for -arrival.";
    s.outputName = labelled(o, inputs);
    s.steps = arrivalSteps(o.cutoff, quantityOf(firstInput(inputs)));
}

void describeHazard(const Operation& o, const Names& inputs, OperationShape& s) {
    // The depths, and the velocities of the same run (stem_V.dat when not named).
    s.maxInputs = 2;
    s.countError = "ERROR - Specify the depth .dat file, and optionally the velocity .dat "
                   "file, for -hazard.";
    s.inputsShareForm = false;
    s.outputName = labelled(o, inputs);
    // A land use names the output too, so that the maps of two land uses sit side by side.
    if (o.landUse != LandUse::None)
        s.outputName = firstStem(inputs) + "(" + o.label + "," + landUseName(o.landUse) + ").dat";
    s.steps = hazardSteps();
    s.steps.push_back(ukHazardClassStep());
}

void describeGrid(const Operation& o, const Names& inputs, OperationShape& s) {
    s.maxInputs = 1;
    s.countError = "ERROR - Can only specify one .dat file for -grid.";
    s.output = OutputForm::Grid;
    s.outputName = labelled(o, inputs, ".tif");
    s.steps = knownSteps(firstInput(inputs));
}

// -extent: polygons of one dataset's steps, a GeoPackage named after its thresholds.
void describeExtent(const Operation& o, const Names& inputs, OperationShape& s) {
    s.maxInputs = 1;
    s.countError = "ERROR - Can only specify one .dat file for -extent.";
    s.outputName = labelled(o, inputs, ".gpkg");
}

// A run's mesh and datasets of any quantities (base_d.dat base_h.dat base_V.dat) in base.nc.
void describeUgrid(const Operation&, const Names& inputs, OperationShape& s) {
    s.minInputs = 1;
    s.maxInputs = kMaxInputs;
    s.countError = "ERROR - Specify the .dat files of the run for -ugrid.";
    s.output = OutputForm::Netcdf;
    s.inputsShareForm = false;
    s.outputName = FILENAMEPATHNO_(inputs.empty() ? std::string() : inputs[0]) + ".nc";
}

// -calc: one input, the run's dataset whose steps give the times and whose name, up to its last
// "_", the stem of the output and of the datasets found beside it: "stem(dv2).dat" for a
// ready-made quantity, "stem(calc).dat" for any other expression.
void describeCalc(const Operation& o, const Names& inputs, OperationShape& s) {
    s.maxInputs = 1;
    s.countError = "ERROR - Specify one .dat file for -calc, of the run whose datasets the "
                   "expression reads (they are found beside it).";
    const std::size_t first = o.expression.find_first_not_of(" \t");
    const std::string_view bare =
        first == std::string::npos ? "" : trimRight(std::string_view(o.expression).substr(first));
    std::string label = "calc";
    for (const auto& quantity : calc::readyMadeQuantities())
        if (bare == quantity.name) label = quantity.name;
    s.outputName = FILENAMEPATHNO_(inputs.empty() ? std::string() : inputs[0]) + "(" + label +
                   ").dat";
}

void describeNothing(const Operation&, const Names&, OperationShape&) {}

template <class Real>
bool readNumber(const std::string& rest, Real& value) {
    std::string_view item;
    if (!freeItem(rest, item)) return false;
    const std::size_t end = static_cast<std::size_t>(item.data() - rest.data()) + item.size();
    return rest.find_first_not_of(" \t", end) == std::string::npos && parseReal(item, value);
}

// The parameters of the flags: each stores what its flag asks for and reads the number after
// it (the rest of the argument), false when that cannot be read or is out of range.
bool noNumber(RunOptions&, const std::string&) { return true; }
bool concatenate(RunOptions& o, const std::string&) {
    o.operation.concatenate = true;
    return true;
}
bool cutoff(RunOptions& o, const std::string& rest) {
    return readNumber(rest, o.operation.cutoff);
}
// A negative cutoff would turn every trimmed vector round.
bool trimCutoff(RunOptions& o, const std::string& rest) {
    o.operation.transform = ValueTransform::Trim;
    return readNumber(rest, o.operation.cutoff) && !(o.operation.cutoff < 0.0f);
}
// The maps refuse numbers that measure nothing (not finite, or a negative debris factor).
bool finiteCutoff(RunOptions& o, const std::string& rest) {
    return readNumber(rest, o.operation.cutoff) && std::isfinite(o.operation.cutoff);
}
bool batch(RunOptions& o, const std::string&) {
    o.batch = true;
    return true;
}
bool keepTime(RunOptions& o, const std::string& rest) {
    o.operation.steps = StepChoice::Keep;
    return readNumber(rest, o.operation.time);
}
bool removeTime(RunOptions& o, const std::string& rest) {
    o.operation.steps = StepChoice::Remove;
    if (!readNumber(rest, o.operation.time)) return false;
    o.operation.removeAllMaxTimes = o.operation.time > 99998.0f;
    return true;
}
bool atTime(RunOptions& o, const std::string& rest) {
    o.operation.atTime = true;
    return readNumber(rest, o.operation.time);
}
bool flowAngle(RunOptions& o, const std::string&) {
    o.operation.transform = ValueTransform::FlowAngle;
    return true;
}
bool noWetDry(RunOptions& o, const std::string&) {
    o.operation.noWetDry = true;
    return true;
}
// -calc: the argument after it, checked once the command line is read (checkCalcOptions).
bool calcExpression(RunOptions& o, const std::string& next) {
    o.operation.expression = next;
    o.calcArgumentAt = o.fileCount;
    return true;
}
// -hazard alone takes the debris factor of urban areas.
bool debrisFactor(RunOptions& o, const std::string& rest) {
    float& factor = o.operation.debrisFactor;
    if (trimRight(rest).empty()) {
        factor = kDefaultDebrisFactor;
        return true;
    }
    o.operation.debrisFactorGiven = true;
    return readNumber(rest, factor) && std::isfinite(factor) && factor >= 0.0f;
}
// A grid's cells have a size, checked as every number is, then kept in double so that its
// corners lie on its multiples.
bool cellSize(RunOptions& o, const std::string& rest) {
    float size = 0.0f;
    return readNumber(rest, size) && size > 0.0f && std::isfinite(size) &&
           readNumber(rest, o.operation.cellSize);
}

// -extent's thresholds: numbers separated by commas, each finite in single precision.
bool extentThresholds(RunOptions& o, const std::string& rest) {
    return readThresholdList(rest, o.operation.thresholds);
}

using K = OperationKind;
using N = NumberUse;
using R = NumberRule;

// Tried in this order; the first word that matches the characters after the dash wins, so
// "times" comes before "t", "trim" before "t", and "dur" and "ddur" never collide. Words added
// later begin with no earlier word and no earlier word begins with them, so that every command
// line keeps the meaning it had.
const std::vector<OperationEntry> kTable = {
    {"con", K::SinglePass, N::None, "", "", R::Any, concatenate, false, describeSinglePass,
     runSinglePass},
    {"max", K::Maximum, N::None, "", "", R::Any, noNumber, false, describeMaximum, runMaximum},
    {"dif", K::Difference, N::None, "", "", R::Any, noNumber, false, describeDifference,
     runDifference},
    {"dur", K::Duration, N::Needed, "the cutoff", "0.3", R::Any, cutoff, true, describeDuration,
     runDuration},
    {"ddur", K::DurationDifference, N::Needed, "the cutoff", "0.1", R::Any, cutoff, false,
     describeDurationDifference, runDurationDifference},
    {"trim", K::SinglePass, N::Needed, "the cutoff", "1", R::NotNegative, trimCutoff, true,
     describeSinglePass, runSinglePass},
    {"b", K::None, N::None, "", "", R::Any, batch, false, describeNothing, nullptr},
    {"k", K::SinglePass, N::Needed, "the time", "99999", R::Any, keepTime, false,
     describeSinglePass, runSinglePass},
    {"r", K::SinglePass, N::Needed, "the time", "99999", R::Any, removeTime, false,
     describeSinglePass, runSinglePass},
    {"times", K::ListTimes, N::None, "", "", R::Any, noNumber, false, describeTimes,
     runTimesListing},
    {"t", K::None, N::Needed, "the time", "12", R::Any, atTime, false, describeNothing, nullptr},
    {"va", K::SinglePass, N::None, "", "", R::Any, flowAngle, true, describeSinglePass,
     runSinglePass},
    {"nowetdry", K::None, N::None, "", "", R::Any, noWetDry, false, describeNothing, nullptr},
    {"arrival", K::Arrival, N::Needed, "the cutoff", "0.3", R::Any, finiteCutoff, true,
     describeArrival, runArrival},
    {"hazard", K::Hazard, N::Optional, "the debris factor", "0.5", R::NotNegative, debrisFactor,
     true, describeHazard, runHazard},
    {"grid", K::Grid, N::Needed, "the cell size", "2", R::AboveZero, cellSize, true,
     describeGrid, runGrid},
    {"extent", K::Extent, N::Needed, "the threshold", "0.1,0.3,1", R::Any, extentThresholds, true,
     describeExtent, runExtent},
    {"ensemble", K::Ensemble, N::None, "", "", R::Any, noNumber, false, describeEnsemble,
     runEnsemble},
    {"ugrid", K::Ugrid, N::None, "", "", R::Any, noNumber, false, describeUgrid, runUgrid},
    {"calc", K::Calc, N::NextArgument, "the expression", "\"d*v^2\"", R::Any, calcExpression,
     false, describeCalc, runCalc},
};

const OperationEntry kNoOperation = {"", K::None, N::None, "", "", R::Any, noNumber, false,
                                     describeNothing, nullptr};

}  // namespace

const std::vector<OperationEntry>& operationTable() { return kTable; }

const OperationEntry& operationEntry(OperationKind kind) {
    if (kind == OperationKind::None) return kNoOperation;
    for (const OperationEntry& e : kTable)
        if (e.kind == kind) return e;
    return kNoOperation;
}

bool readFlagNumber(const std::string& rest, float& value) { return readNumber(rest, value); }
bool readFlagNumber(const std::string& rest, double& value) { return readNumber(rest, value); }

bool readThresholdList(const std::string& text, std::vector<double>& thresholds) {
    thresholds.clear();
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        double value = 0.0;
        if (!readNumber(text.substr(start, comma == std::string::npos ? comma : comma - start),
                        value) ||
            !std::isfinite(static_cast<float>(value))) {
            thresholds.clear();
            return false;
        }
        thresholds.push_back(value);
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

OperationShape describeOperation(const Operation& o, const std::vector<std::string>& inputs) {
    OperationShape s;
    operationEntry(o.kind).describe(o, inputs, s);
    return s;
}

bool writesVectors(const Operation& o, bool primaryIsVector) {
    return primaryIsVector &&
           describeOperation(o, {}).output == OutputForm::LikeInput;
}

}  // namespace kelvara
