// The command line: flags, the numbers that follow some of them, and the dataset names.
#pragma once

#include <string>
#include <vector>

#include "formats/companions.h"
#include "tool/operation.h"

namespace kelvara {

// Inputs a run may name: a run's files have no limit of their own (its inputs wait their turn
// closed), so this only keeps the count in range.
constexpr int kMaxInputs = 1000000;
constexpr std::size_t kArgumentLength = 1000;
constexpr std::size_t kLabelLength = 100;

struct RunOptions {
    Operation operation;  // the one operation, resolved once from the flags
    bool batch = false;
    // Entry 0 is the output name; entries 1 to fileCount are the inputs in command-line order.
    std::vector<std::string> fileNames = std::vector<std::string>(1);
    int fileCount = 0;
    bool showUsage = true;
    // -hazard given the depths alone: the velocities (the last input) were named after them.
    bool velocitiesBesideDepths = false;

    // The long options (--name VALUE or --name=VALUE), "" or 0 when not given.
    std::string meshName;    // --mesh: the mesh of every input, instead of the name rule
    std::string outputGiven; // --output: the output's name, instead of the operation's rule
    double outputCellSize = 0.0;  // --cell: the cell size of a grid output, in double
    std::string referenceTime;  // --reference-time: of a NetCDF output's times, "" the default
    int deflateLevel = -1;      // --deflate: a NetCDF output's compression, 0 to 9; -1 the default
    bool toNetcdf = false;      // --to-netcdf: -ugrid
    // -calc: the expression given with --expr; the datasets its names read when not those
    // beside the input (--depth, --level, --velocity); the names given before -calc's argument.
    std::string expressionGiven;
    std::string depthName, levelName, velocityName;
    int calcArgumentAt = 0;

    // The files read beside the inputs, named by --mesh or by the name rule.
    CompanionResolver companions() const { return CompanionResolver(meshName); }

    // The names given on the command line (entries 1 on of fileNames).
    std::vector<std::string> inputNames() const {
        return std::vector<std::string>(fileNames.begin() + 1, fileNames.end());
    }
    // The operation's shape for these names (the output named by --output when given).
    OperationShape shape() const {
        OperationShape s = describeOperation(operation, inputNames());
        if (!outputGiven.empty()) s.outputName = outputGiven;
        return s;
    }
};

// What stopped the reading of the command line, with the console text that reports it.
struct CommandLineError {
    enum class Kind {
        None,
        IncorrectFlag,   // pause, end
        UnreadableNumber,
        WrongFileCount,  // validation of the number of names
        NoEndTime,       // -ddur without -t: fatal stop
        TooManyFiles,
        NoFiles,
        ConflictingOperations,  // operations that cannot be honoured together
        BadName,  // empty, or longer than a name may be
    };
    Kind kind = Kind::None;
    std::vector<std::string> lines;  // console lines, in order ("" is an empty line)
};

// Classifies the arguments (program name excluded) and makes the checks that need no file.
// Returns false with error filled when the run must stop.
bool PARSE_COMMAND_LINE(const std::vector<std::string>& arguments, RunOptions& options,
                        CommandLineError& error);

// Whether an operation was given (-b, -t and -nowetdry alone are no operation).
bool hasOperation(const RunOptions& options);

// The usage text, one entry per console line.
const std::vector<std::string>& usageText();

}  // namespace kelvara
