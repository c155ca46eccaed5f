// Console dialogue: all text goes to standard output, answers come from standard input one line
// at a time, and standard output is flushed before every read.
#pragma once

#include <string>
#include <string_view>

namespace kelvara {

// Batch mode (the tool's -b): nothing reads standard input. consoleReadLine answers as at the
// end of standard input, so pauses return at once and prompts end the run with their "ERROR - "
// line. Set before anything can pause; off by default.
void setConsoleBatch(bool batch);
bool consoleBatch();

// Writes text and ends the line. Standard output is flushed after every line, so that a console
// that can no longer be written to (a closed pipe, a full disk) is noticed at once: the run then
// ends with status 1 through endRun, with a line on standard error.
void consoleLine(std::string_view text = {});
// Writes text without ending the line (an announcement whose outcome follows on the same line).
void consoleWrite(std::string_view text);
// Flushes standard output and reads one line of standard input (line end removed).
// Returns false at the end of standard input, and at once in batch mode.
bool consoleReadLine(std::string& line);

// Writes prompt on a line of its own and waits for an empty line; a non-empty line is run as a
// command by the system's command processor and the prompt is shown again. Returns at once at
// the end of standard input, as if Enter had been pressed; in batch mode it shows no prompt and
// returns at once.
void waitForEnter(std::string_view prompt);
// The pause of the command line and of the end of a run: "Press Enter to Continue".
void pauseForUser();

// An empty line, then waitForEnter("Press Enter to Continue").
void PAUSECONSOLE();
// Closes every unit in use (removing the run's unfinished result), then an empty line,
// "Press Enter to Close" (not in batch mode), and ends the process with status 1.
[[noreturn]] void FATALSTOP();

// Ends the process with the given status after discarding every output not yet finished.
// The one way out of the process on every path that does not finish normally. When standard
// output cannot be written, the status is 1 whatever was asked.
[[noreturn]] void endRun(int status);

// Flushes standard output; when that fails (or failed earlier) the run ends as consoleLine
// describes. For the end of a run that finishes normally.
void finishConsole();

#ifdef KELVARA_FUZZING
// Fuzz builds only (fuzz/CMakeLists.txt defines KELVARA_FUZZING): endRun throws this instead of
// ending the process, so that a fuzz target takes an error stop as an ordinary outcome and goes
// on with its next input.
struct RunEnded {
    int status;
};
#endif

}  // namespace kelvara
