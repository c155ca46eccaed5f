// File units: every file is opened and closed here, through the interactive open protocol
// (announcements, missing-file prompts, retries). Two kinds of table: the process's, of
// kUnitCount units, which the exported routines document; and one per run (FileTable), which
// has no limit: a run's units count from 901 as the process's do (the numbers are part of the
// console text), and an input of a run that waits its turn is closed and reopened when it comes,
// so that a run may read any number of inputs. The routines below use the calling thread's run
// table while a FileTableScope lives on it, the process's table otherwise.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace kelvara {

constexpr int kUnitBase = 900;   // entry i has unit 900 + i
constexpr int kUnitCount = 100;  // units 901 to 1000 of the process's table

// The files of one run. Destroying it closes what is still open (removing unfinished outputs
// marked as the run's result).
class FileTable {
public:
    FileTable();
    ~FileTable();
    FileTable(const FileTable&) = delete;
    FileTable& operator=(const FileTable&) = delete;
    struct Units;

private:
    friend class FileTableScope;
    std::unique_ptr<Units> units_;
};

// While this lives, the unit routines of the calling thread use table.
class FileTableScope {
public:
    explicit FileTableScope(FileTable& table);
    ~FileTableScope();
    FileTableScope(const FileTableScope&) = delete;
    FileTableScope& operator=(const FileTableScope&) = delete;

private:
    FileTable::Units* previous_;
};

// The calling thread's table, for a reader that may be used from other threads later: its
// stream through unitStreamIn (reopening a waiting input; the thread of the run only), or as
// it is (nullptr when not open; any thread).
FileTable::Units* currentFileTable();
std::FILE* unitStreamIn(FileTable::Units* table, int unit);
std::FILE* openUnitStreamIn(FileTable::Units* table, int unit);

void INITFILEUNITS();
// Opens name with the two-character kind ("BI", "UI", "I ", "BO", "UO", "O ", "F ", "A ", "IO")
// and returns its unit. Prompts, retries or ends the run itself when the file cannot be opened.
int OPENFILEUNIT(std::string_view kind, std::string_view name);
// Closes a unit obtained from OPENFILEUNIT. An output written through a unit reaches its real
// name only here: until then it lives in a hidden file beside it.
void CLOSEFILEUNIT(int unit);
// Closes a unit without keeping what was written through it: an output's hidden file is removed
// and an earlier file of its name stays as it was (a program giving up an output of its own).
void abandonUnit(int unit);

// The open stream of a unit, or nullptr when the unit is not open. Binary units are read and
// written with fread/fwrite in whole blocks; text units line by line.
std::FILE* unitStream(int unit);
// The name under which the unit was opened (after cleaning), "" when not open.
const std::string& unitName(int unit);
// The hidden work file an output unit is written to until it is closed, "" for other units: for
// a writer that must open its output by name itself (a library writing the file on its own).
const std::string& unitWorkFile(int unit);
// Whether the next read of an input unit would find no more bytes.
bool unitAtEnd(int unit);
// Rewinds an open unit to its start.
void rewindUnit(int unit);

// Marks an output unit as the run's result: should the run fail, it is removed instead of being
// moved into place, so that no partial result is left behind and an earlier file of the same
// name stays as it was.
void markRunOutput(int unit);

// Used when a run ends on an error: closes every open file. Outputs marked as the run's result
// are removed; other outputs (logs and message files of programs using the library) are kept.
// Work files from makeWorkFile are removed. Units and work files that were open when the
// innermost live RunUnits began are left alone.
void abandonAllUnits();

// Work files of outputs that a writer of its own makes (the grid writer, through GDAL), kept
// as safe as a unit's output (kWorkFileCount per table): named as a unit's work file (".k<process id>.<tag>" beside the
// output), so that a later run of the same output removes one that a killed run left; removed
// by the signal handler and by abandonAllUnits; and put in place by the same replace.
constexpr int kWorkFileCount = 8;  // held at the same time at most
// Removes the stale work files of output's name, then creates an empty work file beside it
// with the permissions the output will have, for the writer to open and fill. Returns its
// path, or "" with errno set when it cannot be made (EACCES when output exists but is not a
// writable regular file, EMFILE when kWorkFileCount are held already).
std::string makeWorkFile(const std::string& output);
// Moves a finished work file onto output, replacing any file of that name. False with errno
// set when it fails; the work file is then removed.
bool landWorkFile(const std::string& work, const std::string& output);
// Removes a work file (nothing when it is no longer held).
void dropWorkFile(const std::string& work);

// Work done in the process's table by a program that holds units of its own: while this
// lives, abandonAllUnits on that table closes only the units opened since it began. (A run
// has a FileTable of its own and needs none.)
class RunUnits {
public:
    RunUnits();
    ~RunUnits();
    RunUnits(const RunUnits&) = delete;
    RunUnits& operator=(const RunUnits&) = delete;
    bool wasOpen(int index) const { return before_[static_cast<std::size_t>(index)]; }
    bool heldWorkFile(int index) const { return workBefore_[static_cast<std::size_t>(index)]; }

private:
    bool before_[kUnitCount] = {};
    bool workBefore_[kWorkFileCount] = {};
    RunUnits* outer_;
};

// What the system said (errno why) of an output that could not be created, in words that say
// what to do ("No permission to write in out."); "" when it gave no reason worth naming.
std::string outputFailureCause(const std::string& name, int why);

// Whether path names the same existing file as another (by device and inode).
bool sameFile(const std::string& a, const std::string& b);

}  // namespace kelvara
