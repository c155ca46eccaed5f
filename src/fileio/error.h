// Errors as values: a failure anywhere in the core raises a kelvara::Error that carries the
// console lines reporting it and the way the run ends; the top of the tool (or the in-process
// entry) prints them, pauses and ends the run with status 1.
#pragma once

#include <exception>
#include <string>
#include <vector>

namespace kelvara {

// How a run ends after the error's lines.
enum class StopKind {
    Close,         // the fatal stop: every file closed, an empty line, "Press Enter to Close"
    Continue,      // a pause "Press Enter to Continue" (command line and input checks)
    CloseAtOnce,   // "Press Enter to Close" with no empty line before it
    Plain,         // no pause
};

class Error : public std::exception {
public:
    // lines: the console lines ("" is an empty line); they may be empty when the code that
    // raised the error has printed its text already.
    explicit Error(std::vector<std::string> lines, StopKind stop = StopKind::Close);

    const std::vector<std::string>& lines() const { return lines_; }
    StopKind stop() const { return stop_; }
    // The first line that is not empty, or "run stopped".
    const char* what() const noexcept override;

private:
    std::vector<std::string> lines_;
    StopKind stop_;
};

// The usual form: an empty line, then one "ERROR - ..." line, then the fatal stop.
Error errorLine(const std::string& text);

// While an ErrorScope lives on a thread, errors raised on it are thrown for the scope's owner
// to catch. Without one (a routine of the C interface called by another program), raise ends
// the process as the documented stop does: lines, pause, status 1.
class ErrorScope {
public:
    ErrorScope();
    ~ErrorScope();
    ErrorScope(const ErrorScope&) = delete;
    ErrorScope& operator=(const ErrorScope&) = delete;
    static bool active();
};

[[noreturn]] void raise(Error error);

// The end of a run that failed: prints the error's lines, closes every file (removing the run's
// unfinished output) and pauses as its StopKind says. The caller then ends the run with status 1.
void reportError(const Error& error);

}  // namespace kelvara
