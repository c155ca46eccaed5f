// Errors as values: a failure anywhere in the core raises a kelvara::Error that carries a code
// (what kind of failure it is), the console lines reporting it and a hint line (what to do about
// it). The core never decides how a run ends: the top of the tool (tool/run.cpp) prints the
// lines, chooses the pause from the code and ends the run with status 1; the in-process entries
// hand the code to their caller.
#pragma once

#include <exception>
#include <string>
#include <vector>

namespace kelvara {

// What kind of failure an error is. The numbers are part of the C interface (kelvara.h) and of
// the Python module: never renumber them.
enum class ErrorCode : int {
    None = 0,         // no error
    Usage = 2,        // the command line (or an expression) cannot be honoured
    BadInput = 3,     // an input that cannot be read: damaged, truncated, not of its format
    WrongInput = 4,   // inputs that are readable but do not suit the operation or each other
    MissingFile = 5,  // a file that cannot be found or opened, no other name given for it
    Output = 6,       // an output that cannot be created, written or put in place
    Memory = 7,       // not enough memory
    Console = 8,      // the console (standard output) can no longer be written
    Internal = 9,     // anything else: a fault of kelvara itself
    FileTable = 10,   // the file-unit table of the exported routines (no free unit, empty name)
};

// The code's name as the Python module and the documentation spell it ("usage", "bad_input").
const char* errorCodeName(ErrorCode code);

class Error : public std::exception {
public:
    // lines: the console lines ("" is an empty line); hint: a line printed after them that says
    // what to do (none when empty).
    explicit Error(std::vector<std::string> lines, ErrorCode code = ErrorCode::BadInput,
                   std::string hint = {});

    ErrorCode code() const { return code_; }
    const std::vector<std::string>& lines() const { return lines_; }
    const std::string& hint() const { return hint_; }
    // The lines, then the hint when there is one: the error's whole console text.
    std::vector<std::string> consoleLines() const;
    // The first line that is not empty, or "run stopped".
    const char* what() const noexcept override;

private:
    std::vector<std::string> lines_;
    ErrorCode code_;
    std::string hint_;
};

// The usual form: an empty line, then one "ERROR - ..." line.
Error errorLine(const std::string& text, ErrorCode code = ErrorCode::BadInput,
                std::string hint = {});

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

// How a run that failed ends after its error's lines.
enum class ErrorPause {
    Close,      // every file closed, an empty line, "Press Enter to Close"
    Continue,   // a pause "Press Enter to Continue"
    CloseNow,   // "Press Enter to Close" with no empty line before it
    None,       // no pause
};

// The end of a run that failed: prints the error's lines, closes every file (removing the run's
// unfinished output) and pauses as pause says. The caller then ends the run with status 1.
void reportError(const Error& error, ErrorPause pause);

}  // namespace kelvara
