// One kelvara run: the command line, the run driver and the end of the run, as the executable
// performs it and as a program performs it inside its own process.
#pragma once

#include <string>
#include <vector>

#include "fileio/error.h"
#include "kelvara.h"

namespace kelvara {

// How a run ended, beyond its status: the code of its error (None when it finished), and the
// line that says why standard output could not be written, when that ended it.
struct RunOutcome {
    ErrorCode code = ErrorCode::None;
    std::string consoleFailure;
};

// Runs one command line (arguments without the program name) in this process, in batch mode:
// nothing is read from standard input, nothing pauses, nothing ends the process, and the console
// text goes to consoleLines (one entry per line, without line ends) instead of standard output.
// Returns the exit status the executable would end with (0 finished or the plain usage text,
// 1 an error). A failed run leaves no partial output and no open file behind; units that the
// calling program opened itself stay open, and the run's files take the free unit numbers.
// Each run has its own context (console, files): runs on several threads at once do not wait
// for each other and each has its own console text.
int runCommandLine(const std::vector<std::string>& arguments,
                   std::vector<std::string>& consoleLines, RunOutcome* outcome = nullptr);

// The same, with the console text exactly as the executable would write it.
int runCommandLineText(const std::vector<std::string>& arguments, std::string& consoleText,
                       RunOutcome* outcome = nullptr);

// The executable's run: console on standard output and input; returns the exit status. When
// standard output cannot be written, the run ends with status 1 and the reason on standard
// error; the calling process goes on.
int runExecutable(const std::vector<std::string>& arguments);

}  // namespace kelvara

// Entry of kelvara.exe, exported from the library so that the executable stays thin.
extern "C" KELVARA_API int kelvara_run(int argc, char** argv);
