#include "tool/run.h"

#include <string>
#include <vector>

#include "fileio/console.h"
#include "fileio/platform.h"
#include "fileio/units.h"
#include "tool/driver.h"
#include "tool/options.h"

namespace kelvara {
namespace {

[[noreturn]] void showUsageAndEnd(int status) {
    for (const auto& line : usageText()) consoleLine(line);
    pauseForUser();
    endRun(status);
}

// Whether an argument is the batch flag. Flag words match by their first characters in table
// order, and no word before "b" begins with b, so every argument "-b..." is the batch flag
// however the rest of the command line reads.
bool isBatchFlag(const std::string& argument) {
    return argument.size() >= 2 && argument[0] == '-' && (argument[1] == 'b' || argument[1] == 'B');
}

int run(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);

    // Before anything can pause: -b anywhere on the command line means nothing reads standard
    // input, also when an error in the command line comes before it.
    bool batch = false;
    for (const auto& argument : arguments) batch = batch || isBatchFlag(argument);
    setConsoleBatch(batch);
    // A closed standard output (a reader such as "head" that has had enough) is a write error
    // that ends the run through the console, not a signal that kills it mid-write.
    platform::ignoreBrokenPipe();

    // The two answers every command-line user tries first. Only these exact words, which were
    // flag errors before, so no command line that ran changes meaning.
    for (const auto& argument : arguments) {
        if (argument == "--help") {
            for (const auto& line : usageText()) consoleLine(line);
            endRun(0);
        }
        if (argument == "--version") {
            consoleLine("kelvara " KELVARA_VERSION);
            endRun(0);
        }
    }

    INITFILEUNITS();
    consoleLine();
    consoleLine("Build 2007-07-AA");
    consoleLine();

    RunOptions options;
    CommandLineError error;
    if (!PARSE_COMMAND_LINE(arguments, options, error)) {
        for (const auto& line : error.lines) consoleLine(line);
        if (error.kind == CommandLineError::Kind::NoEndTime) FATALSTOP();
        pauseForUser();
        endRun(1);
    }
    if (options.showUsage) showUsageAndEnd(0);
    if (!BUILD_OUTPUT_NAME(options)) {
        consoleLine();
        consoleLine("ERROR - No operational flag specified.");
        consoleLine();
        pauseForUser();
        showUsageAndEnd(1);
    }
    const int status = RUN_DRIVER(options);
    finishConsole();
    return status;
}

}  // namespace
}  // namespace kelvara

extern "C" KELVARA_API int kelvara_run(int argc, char** argv) { return kelvara::run(argc, argv); }
