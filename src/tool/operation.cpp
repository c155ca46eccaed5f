#include "tool/operation.h"

#include "tool/operations.h"
#include "tool/options.h"
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
    s.steps = {{111111.0f, StepKind::Values}, {222222.0f, StepKind::InputNumbers}};
}

void describeDuration(const Operation& o, const Names& inputs, OperationShape& s) {
    s.maxInputs = 1;
    s.countError = kOneFile;
    s.outputName = labelled(o, inputs);
}

void describeDifference(const Operation& o, const Names& inputs, OperationShape& s) {
    compared(inputs, s);
    s.readsCompanionLevels = !o.noWetDry;
}

void describeDurationDifference(const Operation&, const Names& inputs, OperationShape& s) {
    compared(inputs, s);
}

void describeArrival(const Operation& o, const Names& inputs, OperationShape& s) {
    s.maxInputs = 1;
    s.countError = "ERROR - Can only specify one .dat file for -arrival.";
    s.outputName = labelled(o, inputs);
}

void describeHazard(const Operation& o, const Names& inputs, OperationShape& s) {
    // The depths, and the velocities of the same run (stem_V.dat when not named).
    s.maxInputs = 2;
    s.countError = "ERROR - Specify the depth .dat file, and optionally the velocity .dat "
                   "file, for -hazard.";
    s.inputsShareForm = false;
    s.outputName = labelled(o, inputs);
}

void describeGrid(const Operation& o, const Names& inputs, OperationShape& s) {
    s.maxInputs = 1;
    s.countError = "ERROR - Can only specify one .dat file for -grid.";
    s.output = OutputForm::Grid;
    s.outputName = labelled(o, inputs, ".tif");
}

void describeNothing(const Operation&, const Names&, OperationShape&) {}

// The table of operations, in the order of OperationKind.
const OperationEntry kOperations[] = {
    {OperationKind::None, "", describeNothing, nullptr},
    {OperationKind::SinglePass, "", describeSinglePass, runSinglePass},
    {OperationKind::ListTimes, "-times", describeTimes, runTimesListing},
    {OperationKind::Maximum, "-max", describeMaximum, runMaximum},
    {OperationKind::Duration, "-dur", describeDuration, runDuration},
    {OperationKind::Difference, "-dif", describeDifference, runDifference},
    {OperationKind::DurationDifference, "-ddur", describeDurationDifference,
     runDurationDifference},
    {OperationKind::Arrival, "-arrival", describeArrival, runArrival},
    {OperationKind::Hazard, "-hazard", describeHazard, runHazard},
    {OperationKind::Grid, "-grid", describeGrid, runGrid},
};

}  // namespace

const OperationEntry& operationEntry(OperationKind kind) {
    for (const OperationEntry& e : kOperations)
        if (e.kind == kind) return e;
    return kOperations[0];
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
