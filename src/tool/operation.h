// The one operation a command line asks for, with its parameters, and what each operation is:
// how many inputs it reads, the form of its output and the output's name. Everything after the
// command line reads the operation from here; no flag decides it again further down.
#pragma once

#include <string>
#include <vector>

#include "maps/hazard.h"
#include "sinks/sink.h"
#include "tool/ensemble_settings.h"

namespace kelvara {

enum class OperationKind {
    None,                // no operation flag: the usage text
    SinglePass,          // -con, -k, -r, -trim, -va: steps copied, chosen and transformed
    ListTimes,           // -times
    Maximum,             // -max
    Duration,            // -dur<cutoff>
    Difference,          // -dif
    DurationDifference,  // -ddur<cutoff> -t<time>
    Arrival,             // -arrival<cutoff>: when the cutoff is reached, left and the peak
    Hazard,              // -hazard<debris factor>: depth and velocity to hazard maps
    Grid,                // -grid<cell size>: steps drawn on a grid, written as a GeoTIFF
    Extent,              // -extent<depth>[,<depth>...]: polygons at or above each, a GeoPackage
    Ensemble,            // -ensemble: statistics over the peaks of many runs, group by group
    Ugrid,               // -ugrid (--to-netcdf): a run's mesh and datasets in one NetCDF file
    Calc,                // -calc EXPRESSION: a quantity computed node by node at every time
};

// Which steps the single pass writes, and what it does to their values.
enum class StepChoice { All, Keep, Remove };
enum class ValueTransform { None, Trim, FlowAngle };

struct Operation {
    OperationKind kind = OperationKind::None;

    // The single pass.
    bool concatenate = false;
    StepChoice steps = StepChoice::All;
    ValueTransform transform = ValueTransform::None;
    bool removeAllMaxTimes = false;  // -r above 99998: every step beyond |99998| goes too

    // Parameters shared as on the command line: the last of -dur, -ddur and -trim sets cutoff,
    // the last of -k, -r and -t sets time.
    float cutoff = 0.1f;
    float time = 0.0f;
    bool atTime = false;    // -t given: -max and -dif use only that time, -ddur ends there
    bool noWetDry = false;  // -dif without the wet/dry test
    float debrisFactor = 1.0f;  // -hazard
    double cellSize = 0.0;      // -grid, in double: the grid's corners lie on its multiples
    std::string label;      // text of the last -dur, -trim or -va flag, without its dash
    bool debrisFactorGiven = false;  // -hazard<number>: a fixed factor, not a land use's
    LandUse landUse = LandUse::None;  // --land-use: -hazard's debris factor by depth band
    std::vector<double> thresholds;   // -extent, in the order given
    EnsembleSettings ensemble;  // -ensemble's long options
    std::string expression;  // -calc: the expression after it (or --expr)
};

// The form of an operation's output.
enum class OutputForm {
    Scalar,     // a dataset of one value per node
    LikeInput,  // a dataset of the primary input's form (pairs when it is a vector dataset)
    TimesText,  // the text file times.txt in the current folder, no dataset
    Grid,       // a GeoTIFF written by the grid writer itself, no dataset
    Netcdf,     // a NetCDF file of the mesh and every input, written by the run itself
};

// What an operation is, in one place: a new operation adds its case to describeOperation.
struct OperationShape {
    // Inputs the operation reads; a count outside gives countError.
    int minInputs = 0;
    int maxInputs = 0;
    std::string countError;
    // With one more name than maxInputs, the last name names the output instead (-dif, -ddur).
    bool lastNameNamesOutput = false;
    OutputForm output = OutputForm::Scalar;
    // Reads the water levels beside its inputs (stem_h.dat), which the output must not replace.
    bool readsCompanionLevels = false;
    // Every input has the first's form (all scalar or all vector); otherwise the inputs are
    // datasets of different quantities, each checked by the operation.
    bool inputsShareForm = true;
    // The output's full name, built from the first input (its folder and name without
    // extension) or, with lastNameNamesOutput, from that last name.
    std::string outputName;
    // The steps of the output whose kind is known by their time (the others hold values).
    std::vector<OutputStep> steps;
    // The operation opens its inputs itself, one at a time, by path (the ensemble's runs, from
    // a list file too): the driver opens none and hands it the whole run.
    bool readsItsOwnInputs = false;
};

struct RunState;
struct RunOptions;
using RunFunction = void (*)(RunState& run);

// Whether a flag word is followed by a number: always, never or optionally (-hazard); or
// whether it takes the next argument as its parameter (-calc: the expression), unless that
// argument is a long option.
enum class NumberUse { None, Needed, Optional, NextArgument };
// What the hint after an unreadable number says the number must be.
enum class NumberRule { Any, NotNegative, AboveZero };

// One row of the table of flag words and operations (operation.cpp), which the command line
// (options.cpp), the shape of each operation and the driver's dispatch all read:
//   - the flag word, matched by prefix in table order (a new word after every earlier one,
//     beginning with none of them and none of them beginning with it);
//   - the operation it asks for (the single pass for -con, -k, -r, -trim and -va; None for
//     the settings -b, -t and -nowetdry), the flags of other operations standing alone;
//   - its parameter: whether a number follows, how it is named and shown in messages, and the
//     parse that stores it (false when it cannot be read or is out of range);
//   - whether the flag's text (without its dash) labels the output's name;
//   - the operation's shape (input counts and their error, the output's name rule, form and
//     steps) and the function that runs it.
// Adding an operation: its OperationKind, one row here, its run function (operations.h, and
// its own file) and its lines in the usage text.
struct OperationEntry {
    const char* word;
    OperationKind kind;
    NumberUse number;
    const char* numberName;  // "the cutoff": the number errors say "Reading the cutoff of -dur"
    const char* example;     // a number the hint shows after the flag: "0.3"
    NumberRule rule;
    bool (*parameter)(RunOptions& options, const std::string& rest);
    bool labelsOutput;
    void (*describe)(const Operation& operation, const std::vector<std::string>& inputs,
                     OperationShape& shape);
    RunFunction run;
};

// The rows of the table, in the order flag words are tried.
const std::vector<OperationEntry>& operationTable();
// The row that describes and runs an operation (None: no inputs, no output, nothing to run).
const OperationEntry& operationEntry(OperationKind kind);

// The number after a flag is the whole rest of the argument (blanks around it aside): "0,1"
// is no number, not 0.
bool readFlagNumber(const std::string& rest, float& value);
bool readFlagNumber(const std::string& rest, double& value);
// Numbers separated by commas ("0.1,0.3,1"), each finite in single precision as the values
// are compared; false (and none kept) when one cannot be read.
bool readThresholdList(const std::string& text, std::vector<double>& thresholds);

// inputs: the dataset names of the command line (output name not included).
OperationShape describeOperation(const Operation& operation,
                                 const std::vector<std::string>& inputs);

// Whether the operation's output is a vector dataset, given the primary input's form.
bool writesVectors(const Operation& operation, bool primaryIsVector);

}  // namespace kelvara
