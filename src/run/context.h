// The context of one run: where its console text goes and its answers come from (the message
// sink), whether it runs in batch mode, and its own table of files (inputs, output, mesh). One
// object per run, made at the top of the run (tool/run.cpp) and held by the run's state
// (RunState); nothing that serves a run is process-wide, so runs on several threads at once
// each have their own text and files.
//
// While the run is under way its context is bound to the run's thread (Binding): the console
// routines (fileio/console.h) and the unit routines (fileio/units.h) that the operations call
// reach this run's sink and file table, not the process's.
#pragma once

#include <string>
#include <string_view>

#include "fileio/console.h"
#include "fileio/units.h"

namespace kelvara {

class RunContext {
public:
    RunContext(ConsoleSink& sink, bool batch) : sink_(sink), batch_(batch) {}
    RunContext(const RunContext&) = delete;
    RunContext& operator=(const RunContext&) = delete;

    ConsoleSink& sink() { return sink_; }
    bool batch() const { return batch_; }
    FileTable& files() { return files_; }

    // One console line of the run (ended), and text that the next line ends.
    void line(std::string_view text = {});
    void write(std::string_view text);
    // A reporter of lines for a reader or writer (formats' MessageSink).
    auto messages() {
        return [this](const std::string& text) { line(text); };
    }

    // Makes the context the calling thread's while it lives: its console and its files.
    class Binding {
    public:
        explicit Binding(RunContext& context)
            : console_(context.sink_, context.batch_), files_(context.files_) {}

    private:
        ConsoleScope console_;
        FileTableScope files_;
    };

private:
    ConsoleSink& sink_;
    bool batch_;
    FileTable files_;
};

}  // namespace kelvara
