#include "fileio/console.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fileio/units.h"

namespace kelvara {
namespace {

bool gBatch = false;
bool gOutputFailed = false;  // standard output could not be written; reported once

// Flushes standard output. False (with the failure reported on standard error, once) when it or
// an earlier write to it failed.
bool flushConsole() {
    if (gOutputFailed) return false;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
    const int error = errno;
    gOutputFailed = true;
    std::clearerr(stdout);
    std::fprintf(stderr, "ERROR - Standard output cannot be written: %s\n", std::strerror(error));
    std::fflush(stderr);
    return false;
}

void flushOrEnd() {
    if (!flushConsole()) endRun(1);
}

}  // namespace

void setConsoleBatch(bool batch) { gBatch = batch; }
bool consoleBatch() { return gBatch; }

void consoleLine(std::string_view text) {
    if (gOutputFailed) return;  // on the way out after the failure: nothing more to say
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    flushOrEnd();
}

void consoleWrite(std::string_view text) {
    if (gOutputFailed) return;
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
    flushOrEnd();
}

bool consoleReadLine(std::string& line) {
    flushOrEnd();
    line.clear();
    if (gBatch) return false;  // nothing reads standard input in batch mode
    int c;
    bool any = false;
    while ((c = std::fgetc(stdin)) != EOF) {
        any = true;
        if (c == '\n') break;
        line.push_back(static_cast<char>(c));
    }
    if (!any) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

void waitForEnter(std::string_view prompt) {
    if (gBatch) return;
    consoleLine(prompt);
    std::string line;
    while (consoleReadLine(line)) {
        if (line.empty()) return;
        // A typed line is a command for the system's command processor; then ask again.
        flushOrEnd();
        int ignored = std::system(line.c_str());
        (void)ignored;
        consoleLine(prompt);
    }
    // End of standard input: carry on as if Enter had been pressed.
}

void pauseForUser() { waitForEnter("Press Enter to Continue"); }

void PAUSECONSOLE() {
    consoleLine();
    waitForEnter("Press Enter to Continue");
}

void FATALSTOP() {
    abandonAllUnits();
    consoleLine();
    waitForEnter("Press Enter to Close");
    endRun(1);
}

void endRun(int status) {
    abandonAllUnits();
    if (!flushConsole()) status = 1;
#ifdef KELVARA_FUZZING
    gOutputFailed = false;
    throw RunEnded{status};
#else
    std::exit(status);
#endif
}

void finishConsole() { flushOrEnd(); }

}  // namespace kelvara
