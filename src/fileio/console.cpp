#include "fileio/console.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "fileio/error.h"
#include "fileio/units.h"

namespace kelvara {
namespace {

bool gBatch = false;

// Standard output could not be written: the run ends with status 1, its unfinished outputs
// removed, and the reason on standard error (where else could it go).
[[noreturn]] void standardOutputFailed(int error) {
    std::clearerr(stdout);
    abandonAllUnits();
    std::fprintf(stderr, "ERROR - Standard output cannot be written: %s\n", std::strerror(error));
    std::fflush(stderr);
    std::_Exit(1);
}

class StandardConsole final : public ConsoleSink {
public:
    // Text goes through the C library's buffer; a write that fails (a closed pipe, a full disk)
    // is noticed at once when the buffer is passed on, and at the latest at the next flush.
    void write(std::string_view text) override {
        if (!text.empty() && std::fwrite(text.data(), 1, text.size(), stdout) != text.size())
            standardOutputFailed(errno);
    }
    // A line is passed on when the console has been quiet for a while, so that a reader at the
    // other end of a pipe (a log, "tee") follows the run, without a system call for each of the
    // thousands of lines some runs write.
    void lineEnded() override {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastFlush_ >= std::chrono::milliseconds(50)) flush();
    }
    bool readLine(std::string& line) override {
        flush();
        line.clear();
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
    void flush() override {
        lastFlush_ = std::chrono::steady_clock::now();
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) standardOutputFailed(errno);
    }
    bool runsCommands() const override { return true; }

private:
    std::chrono::steady_clock::time_point lastFlush_{};
};

ConsoleSink* gConsole = &standardConsole();

thread_local int gErrorScopes = 0;

}  // namespace

void setConsoleBatch(bool batch) { gBatch = batch; }
bool consoleBatch() { return gBatch; }

ConsoleSink& standardConsole() {
    static StandardConsole console;
    return console;
}

ConsoleRedirect::ConsoleRedirect(ConsoleSink& sink) : previous_(gConsole) { gConsole = &sink; }
ConsoleRedirect::~ConsoleRedirect() { gConsole = previous_; }

void consoleLine(std::string_view text) {
    gConsole->write(text);
    gConsole->write("\n");
    gConsole->lineEnded();
}

void consoleWrite(std::string_view text) { gConsole->write(text); }

bool consoleReadLine(std::string& line) {
    line.clear();
    if (gBatch) {  // nothing reads standard input in batch mode
        gConsole->flush();
        return false;
    }
    return gConsole->readLine(line);
}

void consoleFlush() { gConsole->flush(); }

bool waitForEnter(std::string_view prompt) {
    if (gBatch) return false;
    consoleLine(prompt);
    std::string line;
    while (consoleReadLine(line)) {
        if (line.empty()) return true;
        // A typed line is a command for the system's command processor; then ask again.
        if (gConsole->runsCommands()) {
            gConsole->flush();
            int ignored = std::system(line.c_str());
            (void)ignored;
        }
        consoleLine(prompt);
    }
    // No answer can come: carry on as if Enter had been pressed.
    return false;
}

void pauseForUser() { waitForEnter("Press Enter to Continue"); }

void PAUSECONSOLE() {
    consoleLine();
    waitForEnter("Press Enter to Continue");
}

void FATALSTOP() { raise(Error({}, StopKind::Close)); }

// ---- Errors ---------------------------------------------------------------------------------

Error::Error(std::vector<std::string> lines, StopKind stop)
    : lines_(std::move(lines)), stop_(stop) {}

const char* Error::what() const noexcept {
    for (const auto& line : lines_)
        if (!line.empty()) return line.c_str();
    return "run stopped";
}

Error errorLine(const std::string& text) { return Error({"", text}, StopKind::Close); }

ErrorScope::ErrorScope() { ++gErrorScopes; }
ErrorScope::~ErrorScope() { --gErrorScopes; }
bool ErrorScope::active() { return gErrorScopes > 0; }

void reportError(const Error& error) {
    for (const auto& line : error.lines()) consoleLine(line);
    switch (error.stop()) {
    case StopKind::Close:
        abandonAllUnits();
        consoleLine();
        waitForEnter("Press Enter to Close");
        break;
    case StopKind::Continue: pauseForUser(); break;
    case StopKind::CloseAtOnce: waitForEnter("Press Enter to Close"); break;
    case StopKind::Plain: break;
    }
    abandonAllUnits();
    consoleFlush();
}

void raise(Error error) {
    if (ErrorScope::active()) throw error;
    // A routine of the C interface called by another program: the documented stop.
    reportError(error);
    std::exit(1);
}

}  // namespace kelvara
