// Console dialogue: all text goes to the console sink (standard output unless a caller routes it
// elsewhere), answers come from it one line at a time, and standard output is flushed before
// every read of standard input.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelvara {

// Where the console's text goes and where its answers come from.
class ConsoleSink {
public:
    virtual ~ConsoleSink() = default;
    virtual void write(std::string_view text) = 0;
    // One line of answer without its line end; false when no answer can come.
    virtual bool readLine(std::string& line) = 0;
    virtual void flush() {}
    // Called after each whole line; a sink may pass its text on here.
    virtual void lineEnded() {}
    // Whether a line typed at a pause is run as a command by the system's command processor.
    virtual bool runsCommands() const { return false; }
};

// Standard output and standard input.
ConsoleSink& standardConsole();

// The console of the calling thread: a run binds its own (ConsoleScope), so that runs on
// several threads at once each have their own text and batch flag; without one, the routines
// below use the process's console (standard output, and the batch flag of setConsoleBatch),
// which is what the exported routines of the library document.
class ConsoleScope {
public:
    ConsoleScope(ConsoleSink& sink, bool batch);
    ~ConsoleScope();
    ConsoleScope(const ConsoleScope&) = delete;
    ConsoleScope& operator=(const ConsoleScope&) = delete;
    void setBatch(bool batch);

private:
    ConsoleSink* previousSink_;
    int previousBatch_;
};

// Console text kept as lines (without their line ends) for a caller that reports them itself;
// no answer ever comes, so prompts end in their error and pauses return at once.
class LineConsole final : public ConsoleSink {
public:
    void write(std::string_view text) override;
    bool readLine(std::string&) override { return false; }
    // The lines written so far, the last one even when it has not ended; the console is empty
    // after.
    std::vector<std::string> take();

private:
    std::vector<std::string> lines_;
    std::string partial_;
};

// Routes the console of the calling thread to sink while it lives (the previous sink after);
// the batch flag stays as it is.
class ConsoleRedirect {
public:
    explicit ConsoleRedirect(ConsoleSink& sink);
    ~ConsoleRedirect();
    ConsoleRedirect(const ConsoleRedirect&) = delete;
    ConsoleRedirect& operator=(const ConsoleRedirect&) = delete;

private:
    ConsoleSink* previous_;
};

// Batch mode (the tool's -b): nothing reads standard input. consoleReadLine answers as at the
// end of standard input, pauses show no prompt and return at once, and prompts end the run with
// their "ERROR - " line. setConsoleBatch sets the process's flag (the exported routines'); a
// run's ConsoleScope has its own. consoleBatch answers for the calling thread.
void setConsoleBatch(bool batch);
bool consoleBatch();

// Standard output can be written again after a run that found it closed (a new run).
void resetStandardConsole();

// Writes text and ends the line. Standard output is flushed before every read of an answer, at
// the end of a run and whenever a line ends after 50 ms without a flush. When standard output
// can no longer be written to (a closed pipe, a full disk), inside a run (an ErrorScope) an
// Error of code Console is thrown once and later text is dropped; the top of the run ends it
// with status 1 and a line on standard error. Outside a run (an exported routine), the process
// ends with status 1 and that line, as documented.
void consoleLine(std::string_view text = {});
// Writes text without ending the line (an announcement whose outcome follows on the same line).
void consoleWrite(std::string_view text);
// Reads one line of answer (line end removed); false when no answer can come (the end of
// standard input, and always in batch mode).
bool consoleReadLine(std::string& line);
void consoleFlush();

// Writes prompt on a line of its own and waits for an empty line; a non-empty line is run as a
// command by the system's command processor and the prompt is shown again. Returns at once when
// no answer can come, as if Enter had been pressed; the result then is false. In batch mode it
// shows no prompt and returns false at once.
bool waitForEnter(std::string_view prompt);
// The pause of the command line and of the end of a run: "Press Enter to Continue".
void pauseForUser();

// An empty line, then waitForEnter("Press Enter to Continue").
void PAUSECONSOLE();
// The fatal stop of the exported routines, after the caller has printed its error text: every
// unit in use is closed, an empty line and "Press Enter to Close" are shown and the process
// ends with status 1. (Inside an ErrorScope an Error is thrown instead.) Nothing of the core
// calls it.
[[noreturn]] void FATALSTOP();

}  // namespace kelvara
