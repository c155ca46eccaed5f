#include "tool/run.h"

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "fileio/console.h"
#include "fileio/error.h"
#include "fileio/platform.h"
#include "fileio/units.h"
#include "run/context.h"
#include "tool/driver.h"
#include "tool/options.h"

namespace kelvara {
namespace {

void showUsage() {
    for (const auto& line : usageText()) consoleLine(line);
    pauseForUser();
}

// Whether an argument is the batch flag. Flag words match by their first characters in table
// order, and no word before "b" begins with b, so every argument "-b..." is the batch flag
// however the rest of the command line reads.
bool isBatchFlag(const std::string& argument) {
    return argument.size() >= 2 && argument[0] == '-' && (argument[1] == 'b' || argument[1] == 'B');
}

// How a failed run ends after its error's lines: the one place where a code becomes a pause.
ErrorPause pauseFor(ErrorCode code) {
    switch (code) {
    case ErrorCode::Usage:
    case ErrorCode::WrongInput: return ErrorPause::Continue;  // the user may try again
    case ErrorCode::FileTable: return ErrorPause::CloseNow;
    case ErrorCode::Console: return ErrorPause::None;  // nobody can see a pause
    default: return ErrorPause::Close;                  // the fatal stop
    }
}

// Ends a failed run: its lines and pause. A console that fails while the error is reported
// leaves the run's console error in failure.
void endWithError(const Error& error, ErrorPause pause, RunOutcome& outcome) {
    outcome.code = error.code();
    try {
        if (error.code() == ErrorCode::Console) {
            outcome.consoleFailure = error.lines().empty() ? std::string() : error.lines()[0];
            abandonAllUnits();
            return;
        }
        reportError(error, pause);
    } catch (const Error& again) {
        abandonAllUnits();
        if (again.code() != ErrorCode::Console) throw;
        outcome.code = ErrorCode::Console;
        outcome.consoleFailure = again.lines().empty() ? std::string() : again.lines()[0];
    }
}

// The whole run, its errors turned into their console text, pause and status. Errors are thrown
// to here: the caller holds an ErrorScope and has bound the run's context to this thread.
int runTool(const std::vector<std::string>& arguments, RunContext& context, RunOutcome& outcome) {
    try {
        try {
            consoleLine();
            consoleLine("Build 2007-07-AA");
            consoleLine();
            RunOptions options;
            options.batch = context.batch();
            CommandLineError error;
            if (!PARSE_COMMAND_LINE(arguments, options, error)) {
                endWithError(Error(error.lines, ErrorCode::Usage),
                             error.kind == CommandLineError::Kind::NoEndTime ? ErrorPause::Close
                                                                             : ErrorPause::Continue,
                             outcome);
                return 1;
            }
            if (options.showUsage) {
                showUsage();
                return 0;
            }
            if (!BUILD_OUTPUT_NAME(options)) {
                outcome.code = ErrorCode::Usage;
                consoleLine();
                consoleLine("ERROR - No operational flag specified.");
                consoleLine();
                pauseForUser();
                showUsage();
                abandonAllUnits();
                return 1;
            }
            return RUN_DRIVER(options, context);
        } catch (const Error& error) {
            endWithError(error, pauseFor(error.code()), outcome);
        } catch (const std::bad_alloc&) {
            try {
                endWithError(errorLine("ERROR - Could not allocate enough memory (RAM).",
                                       ErrorCode::Memory),
                             ErrorPause::Close, outcome);
            } catch (const std::bad_alloc&) {  // not even for the report: the line alone
                outcome.code = ErrorCode::Memory;
                consoleLine("ERROR - Could not allocate enough memory (RAM).");
                abandonAllUnits();
            }
        } catch (const std::exception& e) {
            endWithError(errorLine(std::string("ERROR - ") + e.what(), ErrorCode::Internal),
                         ErrorPause::Close, outcome);
        }
    } catch (const Error& error) {  // the console failed while the usage text was shown
        abandonAllUnits();
        outcome.code = ErrorCode::Console;
        outcome.consoleFailure = error.lines().empty() ? std::string() : error.lines()[0];
    }
    if (outcome.code == ErrorCode::None) outcome.code = ErrorCode::Internal;
    return 1;
}

// Console text kept for the caller; no answer ever comes.
class CapturedConsole final : public ConsoleSink {
public:
    void write(std::string_view text) override { text_.append(text); }
    bool readLine(std::string&) override { return false; }
    std::string& text() { return text_; }

private:
    std::string text_;
};

}  // namespace

int runCommandLineText(const std::vector<std::string>& arguments, std::string& consoleText,
                       RunOutcome* outcome) {
    CapturedConsole console;
    RunOutcome result;
    int status = 1;
    {
        // The executable's text with -b: no pause, no prompt.
        RunContext context(console, true);
        RunContext::Binding binding(context);
        ErrorScope scope;
        status = runTool(arguments, context, result);
        abandonAllUnits();  // none is left open after a finished run
    }
    consoleText = std::move(console.text());
    if (outcome != nullptr) *outcome = result;
    return status;
}

int runCommandLine(const std::vector<std::string>& arguments,
                   std::vector<std::string>& consoleLines, RunOutcome* outcome) {
    std::string text;
    const int status = runCommandLineText(arguments, text, outcome);
    consoleLines.clear();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        consoleLines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return status;
}

int runExecutable(const std::vector<std::string>& arguments) {
    // Before anything can pause: -b anywhere on the command line means nothing reads standard
    // input, also when an error in the command line comes before it.
    bool batch = false;
    for (const auto& argument : arguments) batch = batch || isBatchFlag(argument);
    resetStandardConsole();
    // A closed standard output (a reader such as "head" that has had enough) is a write error
    // that ends the run through the console, not a signal that kills it mid-write.
    platform::ignoreBrokenPipe();

    // The two answers every command-line user tries first. Only these exact words, which were
    // flag errors before, so no command line that ran changes meaning.
    for (const auto& argument : arguments) {
        if (argument == "--help") {
            for (const auto& line : usageText()) consoleLine(line);
            consoleFlush();
            return 0;
        }
        if (argument == "--version") {
            consoleLine("kelvara " KELVARA_VERSION);
            consoleFlush();
            return 0;
        }
    }

    RunOutcome outcome;
    int status = 1;
    {
        RunContext context(standardConsole(), batch);
        RunContext::Binding binding(context);
        ErrorScope scope;
        status = runTool(arguments, context, outcome);
        try {
            consoleFlush();
        } catch (const Error& error) {  // the last text could not be passed on
            abandonAllUnits();
            status = 1;
            outcome.consoleFailure = error.lines().empty() ? std::string() : error.lines()[0];
        }
    }
    // Standard output failed: the reason goes to standard error (where else could it go).
    if (!outcome.consoleFailure.empty()) {
        std::fprintf(stderr, "%s\n", outcome.consoleFailure.c_str());
        std::fflush(stderr);
        status = 1;
    }
    return status;
}

}  // namespace kelvara

extern "C" KELVARA_API int kelvara_run(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    return kelvara::runExecutable(arguments);
}
