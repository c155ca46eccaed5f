#include "tool/run.h"

#include <string>
#include <vector>

#include "fileio/console.h"
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

int run(int argc, char** argv) {
    INITFILEUNITS();
    consoleLine();
    consoleLine("Build 2007-07-AA");
    consoleLine();

    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);

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
    return RUN_DRIVER(options);
}

}  // namespace
}  // namespace kelvara

extern "C" KELVARA_API int kelvara_run(int argc, char** argv) { return kelvara::run(argc, argv); }
