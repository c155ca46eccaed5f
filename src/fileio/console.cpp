#include "fileio/console.h"

#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "fileio/error.h"
#include "fileio/units.h"

namespace kelvara {
namespace {

// The process's batch flag: the exported routines' (a run has its own, in its ConsoleScope).
std::atomic<bool> gBatch{false};

// Standard output could not be written outside any run (an exported routine): the process ends
// with status 1, its unfinished outputs removed, and the reason on standard error (where else
// could it go).
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
        if (failed_) return;  // reported once; later text has nowhere to go
        if (!text.empty() && std::fwrite(text.data(), 1, text.size(), stdout) != text.size())
            fail(errno);
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
        if (failed_) return;
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) fail(errno);
    }
    bool runsCommands() const override { return true; }
    void reset() {
        failed_ = false;
        std::clearerr(stdout);
    }

private:
    // Inside a run the failure is an error of the run, thrown once; outside one the process
    // ends as documented.
    void fail(int error) {
        if (!ErrorScope::active()) standardOutputFailed(error);
        failed_ = true;
        std::clearerr(stdout);
        throw Error({std::string("ERROR - Standard output cannot be written: ") + std::strerror(error)},
                    ErrorCode::Console);
    }

    std::chrono::steady_clock::time_point lastFlush_{};
    std::atomic<bool> failed_{false};
};

StandardConsole& theStandardConsole() {
    static StandardConsole console;
    return console;
}

// The calling thread's console: its run's sink and batch flag (-1: the process's flag).
thread_local ConsoleSink* tSink = nullptr;
thread_local int tBatch = -1;

ConsoleSink& sink() { return tSink != nullptr ? *tSink : theStandardConsole(); }

thread_local int gErrorScopes = 0;

}  // namespace

void setConsoleBatch(bool batch) { gBatch = batch; }
bool consoleBatch() { return tBatch >= 0 ? tBatch != 0 : gBatch.load(); }

ConsoleSink& standardConsole() { return theStandardConsole(); }
void resetStandardConsole() { theStandardConsole().reset(); }

ConsoleScope::ConsoleScope(ConsoleSink& sink, bool batch)
    : previousSink_(tSink), previousBatch_(tBatch) {
    tSink = &sink;
    tBatch = batch ? 1 : 0;
}
ConsoleScope::~ConsoleScope() {
    tSink = previousSink_;
    tBatch = previousBatch_;
}
void ConsoleScope::setBatch(bool batch) { tBatch = batch ? 1 : 0; }

ConsoleRedirect::ConsoleRedirect(ConsoleSink& sink) : previous_(tSink) { tSink = &sink; }
ConsoleRedirect::~ConsoleRedirect() { tSink = previous_; }

void consoleLine(std::string_view text) {
    sink().write(text);
    sink().write("\n");
    sink().lineEnded();
}

void consoleWrite(std::string_view text) { sink().write(text); }

bool consoleReadLine(std::string& line) {
    line.clear();
    if (consoleBatch()) {  // nothing reads standard input in batch mode
        sink().flush();
        return false;
    }
    return sink().readLine(line);
}

void consoleFlush() { sink().flush(); }

bool waitForEnter(std::string_view prompt) {
    if (consoleBatch()) return false;
    consoleLine(prompt);
    std::string line;
    while (consoleReadLine(line)) {
        if (line.empty()) return true;
        // A typed line is a command for the system's command processor; then ask again.
        if (sink().runsCommands()) {
            sink().flush();
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

void FATALSTOP() { raise(Error({}, ErrorCode::Internal)); }

// ---- Errors ---------------------------------------------------------------------------------

const char* errorCodeName(ErrorCode code) {
    switch (code) {
    case ErrorCode::None: return "none";
    case ErrorCode::Usage: return "usage";
    case ErrorCode::BadInput: return "bad_input";
    case ErrorCode::WrongInput: return "wrong_input";
    case ErrorCode::MissingFile: return "missing_file";
    case ErrorCode::Output: return "output";
    case ErrorCode::Memory: return "memory";
    case ErrorCode::Console: return "console";
    case ErrorCode::Internal: return "internal";
    case ErrorCode::FileTable: return "file_table";
    }
    return "internal";
}

Error::Error(std::vector<std::string> lines, ErrorCode code, std::string hint)
    : lines_(std::move(lines)), code_(code), hint_(std::move(hint)) {}

std::vector<std::string> Error::consoleLines() const {
    std::vector<std::string> all = lines_;
    if (!hint_.empty()) all.push_back(hint_);
    return all;
}

const char* Error::what() const noexcept {
    for (const auto& line : lines_)
        if (!line.empty()) return line.c_str();
    return "run stopped";
}

Error errorLine(const std::string& text, ErrorCode code, std::string hint) {
    return Error({"", text}, code, std::move(hint));
}

ErrorScope::ErrorScope() { ++gErrorScopes; }
ErrorScope::~ErrorScope() { --gErrorScopes; }
bool ErrorScope::active() { return gErrorScopes > 0; }

void reportError(const Error& error, ErrorPause pause) {
    for (const auto& line : error.consoleLines()) consoleLine(line);
    switch (pause) {
    case ErrorPause::Close:
        abandonAllUnits();
        consoleLine();
        waitForEnter("Press Enter to Close");
        break;
    case ErrorPause::Continue: pauseForUser(); break;
    case ErrorPause::CloseNow: waitForEnter("Press Enter to Close"); break;
    case ErrorPause::None: break;
    }
    abandonAllUnits();
    consoleFlush();
}

void raise(Error error) {
    if (ErrorScope::active()) throw error;
    // A routine of the C interface called by another program: the documented stop.
    ErrorPause pause = ErrorPause::Close;
    if (error.code() == ErrorCode::FileTable)
        pause = error.lines().empty() || !error.lines()[0].empty() ? ErrorPause::None
                                                                   : ErrorPause::CloseNow;
    reportError(error, pause);
    std::exit(1);
}

void LineConsole::write(std::string_view text) {
    for (char c : text) {
        if (c == '\n') {
            lines_.push_back(std::move(partial_));
            partial_.clear();
        } else {
            partial_.push_back(c);
        }
    }
}

std::vector<std::string> LineConsole::take() {
    if (!partial_.empty()) lines_.push_back(std::move(partial_));
    partial_.clear();
    return std::move(lines_);
}

}  // namespace kelvara
