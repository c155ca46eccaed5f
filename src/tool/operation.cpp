#include "tool/operation.h"

#include "tool/options.h"
#include "util/path.h"
#include "util/text.h"

namespace kelvara {

OperationShape describeOperation(const Operation& o, const std::vector<std::string>& inputs) {
    static const std::string kOneFile =
        "ERROR - Can only specify one .dat file for -dur, -trim, -va, -times, -k and -r options.";
    static const std::string kTwoFiles =
        "ERROR - Must specify two .dat files for -dif or -ddur options.";

    OperationShape s;
    const std::string first = FILENAMEPATH(inputs.empty() ? std::string() : inputs[0]);
    // -dif and -ddur: a third name names the output; otherwise "first - second".
    auto comparedName = [&]() {
        if (inputs.size() == 3) return FILENAMEPATH(inputs[2]) + ".dat";
        return first + " - " + FILENAME(inputs.size() > 1 ? inputs[1] : std::string()) + ".dat";
    };
    switch (o.kind) {
    case OperationKind::None:
        break;
    case OperationKind::SinglePass:
        if (o.steps != StepChoice::All || o.transform != ValueTransform::None) {
            s.maxInputs = 1;
            s.countError = kOneFile;
        } else {
            s.minInputs = 2;
            s.maxInputs = kMaxInputs;
            s.countError = "ERROR - Must specify at least two .dat files for -con option.";
        }
        s.output = o.transform == ValueTransform::FlowAngle ? OutputForm::Scalar
                                                           : OutputForm::LikeInput;
        if (o.steps == StepChoice::Remove) {
            s.outputName = first + "(r" + AREAL(o.time) + ").dat";
        } else if (o.steps == StepChoice::Keep) {
            s.outputName = first + "(k" + AREAL(o.time) + ").dat";
        } else if (o.concatenate) {
            s.outputName = first + "(con).dat";
        } else {
            s.outputName = first + "(" + o.label + ").dat";
        }
        break;
    case OperationKind::ListTimes:
        s.maxInputs = 1;
        s.countError = kOneFile;
        s.output = OutputForm::TimesText;
        s.outputName = "times.txt";  // in the current folder
        break;
    case OperationKind::Maximum:
        s.maxInputs = kMaxInputs;
        s.output = OutputForm::LikeInput;
        s.outputName = first + "(maxmax).dat";
        break;
    case OperationKind::Duration:
        s.maxInputs = 1;
        s.countError = kOneFile;
        s.outputName = first + "(" + o.label + ").dat";
        break;
    case OperationKind::Difference:
        s.minInputs = s.maxInputs = 2;
        s.countError = kTwoFiles;
        s.lastNameNamesOutput = true;
        s.readsCompanionLevels = !o.noWetDry;
        s.outputName = comparedName();
        break;
    case OperationKind::Arrival:
        s.maxInputs = 1;
        s.countError = "ERROR - Can only specify one .dat file for -arrival.";
        s.outputName = first + "(" + o.label + ").dat";
        break;
    case OperationKind::Hazard:
        // The depths, and the velocities of the same run (stem_V.dat when not named).
        s.maxInputs = 2;
        s.countError = "ERROR - Specify the depth .dat file, and optionally the velocity .dat "
                       "file, for -hazard.";
        s.inputsShareForm = false;
        s.outputName = first + "(" + o.label + ").dat";
        break;
    case OperationKind::Grid:
        s.maxInputs = 1;
        s.countError = "ERROR - Can only specify one .dat file for -grid.";
        s.output = OutputForm::Grid;
        s.outputName = first + "(" + o.label + ").tif";
        break;
    case OperationKind::DurationDifference:
        s.minInputs = s.maxInputs = 2;
        s.countError = kTwoFiles;
        s.lastNameNamesOutput = true;
        s.outputName = comparedName();
        break;
    }
    return s;
}

bool writesVectors(const Operation& o, bool primaryIsVector) {
    return primaryIsVector &&
           describeOperation(o, {}).output == OutputForm::LikeInput;
}

}  // namespace kelvara
