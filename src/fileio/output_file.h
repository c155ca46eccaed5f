// The one safe finish of an output: written under a hidden work name beside its real one
// (removed by the signal handler, by a later run of the same output when a killed run left it,
// and when the run is abandoned) and given its real name only when complete, by the replace
// that works on every platform. Every writer of an output file of its own (the grid, the sinks)
// lands it through this class; outputs opened as file units get the same work file and replace
// from the unit table.
#pragma once

#include <string>

#include "fileio/error.h"

namespace kelvara {

class OutputFile {
public:
    // Makes the work file beside name (fileio/units.h, makeWorkFile). open() tells whether it
    // could be made; errno says why not.
    explicit OutputFile(std::string name);
    // Removes the work file unless it has landed.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool open() const { return !work_.empty(); }
    // Why the work file could not be made, as the run reports it: "ERROR - Could not create
    // output file ..." and what the system said, in words that say what to do.
    Error creationError() const;
    // The hidden file to write, "" when none could be made or it has landed or been dropped.
    const std::string& workPath() const { return work_; }
    const std::string& name() const { return name_; }

    // Gives the finished work file its name, replacing any file of that name. False with errno
    // set when it fails (the work file is then removed).
    bool land();
    // Removes the work file; an earlier file of the name stays as it was.
    void drop() noexcept;

private:
    std::string name_;
    std::string work_;
    int why_ = 0;  // errno when the work file could not be made
};

}  // namespace kelvara
