// Console dialogue: all text goes to standard output, answers come from standard input one line
// at a time, and standard output is flushed before every read.
#pragma once

#include <string>
#include <string_view>

namespace kelvara {

// Writes text and ends the line.
void consoleLine(std::string_view text = {});
// Writes text without ending the line (an announcement whose outcome follows on the same line).
void consoleWrite(std::string_view text);
// Flushes standard output and reads one line of standard input (line end removed).
// Returns false at the end of standard input.
bool consoleReadLine(std::string& line);

// Writes prompt on a line of its own and waits for an empty line; a non-empty line is run as a
// command by the system's command processor and the prompt is shown again. Returns at once at
// the end of standard input, as if Enter had been pressed.
void waitForEnter(std::string_view prompt);
// The pause of the command line and of the end of a run: "Press Enter to Continue".
void pauseForUser();

// An empty line, then waitForEnter("Press Enter to Continue").
void PAUSECONSOLE();
// Closes every unit in use (removing the run's unfinished result), then an empty line,
// "Press Enter to Close", and ends the process with status 1.
[[noreturn]] void FATALSTOP();

// Ends the process with the given status after discarding every output not yet finished.
// The one way out of the process on every path that does not finish normally.
[[noreturn]] void endRun(int status);

#ifdef KELVARA_FUZZING
// Fuzz builds only (fuzz/CMakeLists.txt defines KELVARA_FUZZING): endRun throws this instead of
// ending the process, so that a fuzz target takes an error stop as an ordinary outcome and goes
// on with its next input.
struct RunEnded {
    int status;
};
#endif

}  // namespace kelvara
