#include "tool/run.h"

#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "fileio/console.h"
#include "fileio/error.h"
#include "fileio/platform.h"
#include "fileio/units.h"
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

// The whole run, its errors turned into their console text, pause and status. Errors are thrown
// to here: the caller holds an ErrorScope.
int runTool(const std::vector<std::string>& arguments, bool batch) {
    consoleLine();
    consoleLine("Build 2007-07-AA");
    consoleLine();
    try {
        RunOptions options;
        options.batch = batch;
        CommandLineError error;
        if (!PARSE_COMMAND_LINE(arguments, options, error)) {
            throw Error(error.lines, error.kind == CommandLineError::Kind::NoEndTime
                                         ? StopKind::Close
                                         : StopKind::Continue);
        }
        if (options.showUsage) {
            showUsage();
            return 0;
        }
        if (!BUILD_OUTPUT_NAME(options)) {
            consoleLine();
            consoleLine("ERROR - No operational flag specified.");
            consoleLine();
            pauseForUser();
            showUsage();
            abandonAllUnits();
            return 1;
        }
        return RUN_DRIVER(options);
    } catch (const Error& error) {
        reportError(error);
    } catch (const std::bad_alloc&) {
        try {
            reportError(errorLine("ERROR - Could not allocate enough memory (RAM)."));
        } catch (const std::bad_alloc&) {  // not even for the report: the line alone
            consoleLine("ERROR - Could not allocate enough memory (RAM).");
            abandonAllUnits();
        }
    } catch (const std::exception& e) {
        reportError(errorLine(std::string("ERROR - ") + e.what()));
    }
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

std::mutex& runLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace

int runCommandLineText(const std::vector<std::string>& arguments, std::string& consoleText) {
    std::lock_guard<std::mutex> lock(runLock());
    CapturedConsole console;
    int status = 1;
    const bool wasBatch = consoleBatch();
    setConsoleBatch(true);  // the executable's text with -b: no pause, no prompt
    {
        ConsoleRedirect redirect(console);
        RunUnits units;
        ErrorScope scope;
        status = runTool(arguments, true);
        abandonAllUnits();  // none is left open after a finished run
    }
    setConsoleBatch(wasBatch);
    consoleText = std::move(console.text());
    return status;
}

int runCommandLine(const std::vector<std::string>& arguments,
                   std::vector<std::string>& consoleLines) {
    std::string text;
    const int status = runCommandLineText(arguments, text);
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
    std::lock_guard<std::mutex> lock(runLock());
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
            consoleFlush();
            return 0;
        }
        if (argument == "--version") {
            consoleLine("kelvara " KELVARA_VERSION);
            consoleFlush();
            return 0;
        }
    }

    INITFILEUNITS();
    ErrorScope scope;
    const int status = runTool(arguments, false);
    consoleFlush();
    return status;
}

}  // namespace kelvara

extern "C" KELVARA_API int kelvara_run(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    return kelvara::runExecutable(arguments);
}
