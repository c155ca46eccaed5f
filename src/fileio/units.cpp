#include "fileio/units.h"

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>

#include "fileio/console.h"
#include "fileio/error.h"
#include "fileio/platform.h"
#include "util/path.h"
#include "util/text.h"

namespace kelvara {
namespace {

constexpr std::size_t kNameLength = 1000;      // the name buffer
constexpr std::size_t kReplyLength = 80;       // a name typed at the prompt
constexpr std::size_t kStreamBuffer = 1 << 18; // stdio buffer of each open unit

enum class Direction { Input, Output, Both, Unknown };

Direction directionOf(std::string_view kind) {
    if (kind == "BI" || kind == "UI" || kind == "I ") return Direction::Input;
    if (kind == "BO" || kind == "UO" || kind == "O " || kind == "F " || kind == "A ")
        return Direction::Output;
    if (kind == "IO") return Direction::Both;
    return Direction::Unknown;
}

// Outputs that replace a file are written to a hidden file beside it and moved into place when
// the unit is closed, so that a run that fails never leaves a partial file behind.
bool writesBeside(std::string_view kind) {
    return kind == "BO" || kind == "UO" || kind == "O " || kind == "F ";
}

using platform::FileIdentity;
using platform::fileIdentity;
using platform::sameIdentity;

struct Unit {
    bool inUse = false;
    int slot = -1;           // the signal handler's slot of besidePath
    bool suspended = false;  // an input closed for a while to spare descriptors, reopened at use
    std::int64_t at = 0;     // where a suspended input was
    std::uint64_t lastUse = 0;
    std::FILE* file = nullptr;
    std::string name;
    std::string kind;
    std::string besidePath;  // hidden file the output is written to until it is closed
    FileIdentity identity;
    bool discardOnFailure = false;  // the run's own result: removed when the run fails
    std::unique_ptr<char[]> buffer;
};

}  // namespace

// A table of units: the process's (the exported routines', kUnitCount units) or one run's (as
// many as the run opens). Entry i has unit 901 + i.
struct FileTable::Units {
    explicit Units(std::size_t limit) : limit(limit) {
        if (limit > 0) entries.resize(limit);
    }
    std::size_t limit;  // 0: no limit
    std::deque<Unit> entries;
    int workSlots[kWorkFileCount] = {-1, -1, -1, -1, -1, -1, -1, -1};  // makeWorkFile's
    std::uint64_t clock = 0;
};

namespace {

// The one lock of what runs share: the signal handler's list of hidden files, and the
// process's own table (the exported routines' and the Python module's).
std::recursive_mutex gShared;

// Hidden files as plain C strings, so that a signal handler can remove them safely: a slot
// is claimed for each output's work file while it exists, by whatever table made it.
constexpr std::size_t kSlotCount = 512;
std::array<std::array<char, 4200>, kSlotCount> gBesideNames{};
std::array<bool, kSlotCount> gSlotTaken{};

int claimSlot() {
    std::lock_guard<std::recursive_mutex> hold(gShared);
    for (std::size_t i = 0; i < kSlotCount; ++i) {
        if (!gSlotTaken[i]) {
            gSlotTaken[i] = true;
            return static_cast<int>(i);
        }
    }
    return -1;
}

FileTable::Units& processUnits() {
    static FileTable::Units* const table = new FileTable::Units(kUnitCount);
    return *table;
}

thread_local FileTable::Units* tUnits = nullptr;

// The calling thread's table: its run's, or the process's.
FileTable::Units& units() { return tUnits != nullptr ? *tUnits : processUnits(); }

// Holds the shared lock when the process's table is in use; a run's table is its own.
class TableLock {
public:
    TableLock() : locked_(tUnits == nullptr) {
        if (locked_) gShared.lock();
    }
    ~TableLock() {
        if (locked_) gShared.unlock();
    }
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;

private:
    bool locked_;
};

// Inputs a run's table keeps open at once; more are closed while they wait and reopened at
// their turn, so that a run may read any number of inputs.
constexpr int kOpenInputs = 32;

const std::string kNoName;

Unit* findUnit(FileTable::Units& table, int unit) {
    const long index = static_cast<long>(unit) - kUnitBase - 1;
    if (index < 0 || static_cast<std::size_t>(index) >= table.entries.size()) return nullptr;
    return &table.entries[static_cast<std::size_t>(index)];
}
Unit* findUnit(int unit) { return findUnit(units(), unit); }

std::string unitField(int unit) {  // the unit number right-aligned in four columns
    char text[16];
    std::snprintf(text, sizeof text, "%4d", unit);
    return text;
}

void rememberSlot(std::size_t index, const std::string& path) {
    auto& slot = gBesideNames[index];
    std::size_t n = path.size() < slot.size() - 1 ? path.size() : slot.size() - 1;
    std::memcpy(slot.data(), path.data(), n);
    slot[n] = '\0';
}

void forgetSlot(std::size_t index) {
    std::lock_guard<std::recursive_mutex> hold(gShared);
    gBesideNames[index][0] = '\0';
    gSlotTaken[index] = false;
}

void forgetBeside(Unit& u) {
    u.besidePath.clear();
    if (u.slot >= 0) forgetSlot(static_cast<std::size_t>(u.slot));
    u.slot = -1;
}

extern "C" void removeBesideFilesOnSignal(int signal) {
    for (auto& slot : gBesideNames)
        if (slot[0] != '\0') platform::removeFile(slot.data());
    platform::endBySignal(signal);
}

void installSignalCleanup() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    platform::onTermination(removeBesideFilesOnSignal);
}

// Closes the file of a unit. An output written beside its real name is moved into place when
// keep is true and removed otherwise. Returns false when the close or the move failed.
bool closeFile(Unit& u, bool keep) {
    u.suspended = false;
    if (u.file == nullptr) return true;
    bool ok = std::fflush(u.file) == 0;
    ok = std::fclose(u.file) == 0 && ok;
    u.file = nullptr;
    if (!u.besidePath.empty()) {
        if (keep && ok) {
            ok = platform::replaceFile(u.besidePath, u.name);
            if (!ok) platform::removeFile(u.besidePath.c_str());
        } else {
            platform::removeFile(u.besidePath.c_str());
        }
        forgetBeside(u);
    }
    u.buffer.reset();
    u.discardOnFailure = false;
    return ok;
}

void attachBuffer(Unit& u) {
    u.buffer.reset(new char[kStreamBuffer]);
    std::setvbuf(u.file, u.buffer.get(), _IOFBF, kStreamBuffer);
}

// The work file of an output is ".k<process id>.<tag>" in the output's folder, tag being eight
// hexadecimal digits made from the output's file name; a second one of the same tag in the same
// process has "-<n>" after the process id. It is short whatever the output's name, so that an
// output name as long as the system allows still has its work file.
constexpr std::size_t kTagLength = 8;

std::string workTag(const std::string& file) {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (unsigned char c : file) hash = (hash ^ c) * 16777619u;
    char text[16];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(hash));
    return text;
}

// Whether entry is a work file name of this tag; id receives its process id.
bool isWorkFileOf(const std::string& entry, const std::string& tag, unsigned long& id) {
    if (entry.size() < 2 + 1 + 1 + kTagLength || entry.compare(0, 2, ".k") != 0) return false;
    if (entry.compare(entry.size() - kTagLength - 1, std::string::npos, "." + tag) != 0) return false;
    const std::string middle = entry.substr(2, entry.size() - 2 - kTagLength - 1);
    const std::size_t dash = middle.find('-');
    const std::string digits = middle.substr(0, dash);
    if (digits.empty() || digits.size() > 10 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    if (dash != std::string::npos) {
        const std::string count = middle.substr(dash + 1);
        if (count.empty() || count.find_first_not_of("0123456789") != std::string::npos) return false;
    }
    id = std::stoul(digits);
    return true;
}

// Removes the work files of this tag in folder that a process left behind when it was killed
// without a chance to remove them (or that this process's id had in an earlier life): those of
// a process that no longer runs, and this process's own that none of its units holds.
void removeStaleWorkFiles(const std::string& folder, const std::string& tag) {
    const unsigned long self = platform::currentProcessId();
    for (const auto& entry : platform::folderEntries(folder)) {
        unsigned long id = 0;
        if (!isWorkFileOf(entry, tag, id)) continue;
        const std::string path = folder + entry;
        if (id == self) {
            bool held = false;
            std::lock_guard<std::recursive_mutex> hold(gShared);
            for (const auto& slot : gBesideNames) held = held || path == slot.data();
            if (held) continue;
        } else if (platform::processRunning(id)) {
            continue;
        }
        platform::removeFile(path.c_str());
    }
}

// Opens an output that replaces any file of its name: a hidden work file in the same folder,
// given the permissions a newly created file would have (or those of the file it will replace),
// its name in path and in the signal handler's slot.
std::FILE* createWorkFile(std::size_t slot, const std::string& name, const char* mode,
                          std::string& path) {
    std::string folder = FILEFOLDERPATH(name);
    std::string file = FILENAME(name);
    if (folder.empty()) {  // a drive-relative name ("C:run.dat") keeps its drive in front
        const std::size_t drive = platform::drivePrefixLength(file);
        folder = file.substr(0, drive);
        file.erase(0, drive);
    }
    const std::string tag = workTag(file);
    removeStaleWorkFiles(folder, tag);
    const std::string stem = folder + ".k" + std::to_string(platform::currentProcessId());
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = stem + (attempt == 0 ? std::string() : "-" + std::to_string(attempt)) + "." + tag;
        if (path.size() + 1 > gBesideNames[0].size()) {
            errno = ENAMETOOLONG;
            return nullptr;
        }
        // Known to the signal handler before it exists: no moment when it could be left over.
        // (No other process has this name: it carries this process's id.)
        rememberSlot(slot, path);
        if (std::FILE* f = platform::createBesideFile(name, path, mode)) return f;
        const int error = errno;
        gBesideNames[slot][0] = '\0';
        errno = error;
        if (error != EEXIST) return nullptr;
    }
    return nullptr;
}

std::FILE* openBeside(Unit& u, const std::string& name, const char* mode) {
    const int slot = claimSlot();
    if (slot < 0) {
        errno = EMFILE;
        return nullptr;
    }
    std::string path;
    std::FILE* f = createWorkFile(static_cast<std::size_t>(slot), name, mode, path);
    if (f != nullptr) {
        u.besidePath = path;
        u.slot = slot;
    } else {
        const int error = errno;
        forgetSlot(static_cast<std::size_t>(slot));
        errno = error;
    }
    return f;
}

// Removes the work file of a writer of its own in entry index of table, if any.
void removeWorkFile(FileTable::Units& table, int index) {
    int& slot = table.workSlots[index];
    if (slot < 0) return;
    if (gBesideNames[static_cast<std::size_t>(slot)][0] != '\0')
        platform::removeFile(gBesideNames[static_cast<std::size_t>(slot)].data());
    forgetSlot(static_cast<std::size_t>(slot));
    slot = -1;
}

bool tryOpenOutput(Unit& u, const std::string& name, std::string_view kind) {
    const char* mode = (kind == "BO" || kind == "UO") ? "wb" : "w";
    std::FILE* f = nullptr;
    if (writesBeside(kind)) {
        f = openBeside(u, name, mode);
    } else {  // "A ": appended to in place, created when missing
        f = std::fopen(name.c_str(), "a");
    }
    if (f == nullptr) return false;
    u.file = f;
    attachBuffer(u);
    return true;
}

// The unit (other than self) that holds the file called name, by identity or by name.
Unit* unitHolding(const std::string& name, const Unit& self) {
    FileIdentity id = fileIdentity(name);
    for (auto& other : units().entries) {
        if (&other == &self || (other.file == nullptr && !other.suspended)) continue;
        if (sameIdentity(id, other.identity)) return &other;
        if (!other.besidePath.empty() && other.name == name) return &other;
    }
    return nullptr;
}

[[noreturn]] void stopWithError(const std::string& text, ErrorCode code = ErrorCode::MissingFile) {
    raise(errorLine(text, code));
}

}  // namespace

std::string outputFailureCause(const std::string& name, int why) {
    std::string folder = FILEFOLDERPATH(name);
    if (folder.empty()) folder = "the current folder";
    switch (why) {
    case EACCES:
    case EPERM: return "No permission to write in " + folder + ".";
    case ENOENT:
    case ENOTDIR: return "The folder " + folder + " does not exist.";
    case EROFS: return folder + " is on a read-only file system.";
    case ENOSPC: return "No space left on the disk of " + folder + ".";
    default: return {};
    }
}

namespace {

// Asks for another name for a file that could not be opened. Returns the new name (the old one
// when the reply is blank).
std::string askForName(const std::string& name) {
    consoleLine();
    if (consoleBatch()) {
        stopWithError("ERROR - No file name entered for \"" + name +
                      "\"; none is asked for in batch mode (-b).");
    }
    consoleWrite("Check file exists and press enter or enter another file name: ");
    std::string reply;
    if (!consoleReadLine(reply)) {
        stopWithError("ERROR - No file name entered for \"" + name + "\"; input has ended.");
    }
    if (reply.size() > kReplyLength) reply.resize(kReplyLength);
    if (trimRight(reply).empty()) {
        consoleLine();
        consoleLine("No file name entered.  Trying file again...");
        return name;
    }
    return std::string(trimRight(TRIMF(reply)));
}

void suspendOneInput(FileTable::Units& table, const Unit* keep);

void openFile(Unit& u, int unit, std::string name, std::string_view kind) {
    Direction direction = directionOf(kind);
    for (;;) {
        if (trimRight(name).empty()) {
            name = askForName(name);
            continue;
        }
        const std::size_t length = name.size();  // before cleaning, as the question shows it
        name = CLEANPATH(name);
        consoleWrite("\nTrying to open file " + name + "...");

        struct stat st {};
        bool exists = ::stat(name.c_str(), &st) == 0;

        if (kind != "I ") {
            if (Unit* holder = unitHolding(name, u)) {
                consoleLine();
                std::string shown = name;
                shown.resize(length, ' ');
                if (consoleBatch()) {
                    stopWithError("ERROR - \"" + name +
                          "\" is already open; no question is asked in batch mode (-b).");
                }
                consoleWrite(shown + " is already open, close it? ");
                std::string answer;
                if (!consoleReadLine(answer)) {
                    stopWithError("ERROR - \"" + name + "\" is already open and no answer was given.");
                }
                if (!answer.empty() && (answer[0] == 'Y' || answer[0] == 'y')) {
                    if (!closeFile(*holder, true)) {
                        raise(Error({"ERROR - Unable to close \"" + holder->name + "\"."},
                                    ErrorCode::FileTable));
                    }
                    exists = ::stat(name.c_str(), &st) == 0;
                } else {
                    name = askForName(name);
                    continue;
                }
            }
        }

        switch (direction) {
        case Direction::Input: {
            if (!exists) {
                consoleLine();
                consoleLine("CHECK - \"" + name + "\" cannot be found");
                name = askForName(name);
                continue;
            }
            if (S_ISDIR(st.st_mode)) {
                stopWithError("ERROR - \"" + name + "\" is a folder, not a file.");
            }
            if (tUnits != nullptr) suspendOneInput(*tUnits, &u);
            std::FILE* f = std::fopen(name.c_str(), "rb");
            if (f == nullptr) {
                stopWithError("ERROR - Unable to open \"" + name + "\": " + std::strerror(errno));
            }
            u.file = f;
            attachBuffer(u);
            u.name = name;
            u.kind = std::string(kind);
            u.identity = fileIdentity(name);
            u.lastUse = ++units().clock;
            consoleLine("OK.");
            consoleLine("Opened File Unit:" + unitField(unit));
            return;
        }
        case Direction::Output: {
            for (;;) {
                if (tryOpenOutput(u, name, kind)) {
                    u.name = name;
                    u.kind = std::string(kind);
                    u.identity = fileIdentity(kind == "A " ? name : u.besidePath);
                    consoleLine("OK.  File Unit:" + unitField(unit));
                    return;
                }
                const int why = errno;
                if (kind == "A ") {
                    consoleLine("FAILED.  No File Unit allocated.");
                    return;
                }
                consoleLine("Can't Open");
                consoleLine();
                consoleLine(" Can't open: " + name);
                const std::string cause = outputFailureCause(name, why);
                if (!cause.empty()) consoleLine(" " + cause);
                consoleLine();
                consoleLine(" Another application or user maybe using it,");
                consoleLine("    or the file's folder does not exist.");
                consoleLine(" If so, close the file or create file path.");
                consoleLine();
                const bool answered = waitForEnter("Press Enter to Continue");
                if (!answered) {
                    std::vector<std::string> lines = {
                        "", "ERROR - Could not create output file \"" + name + "\"."};
                    if (!cause.empty()) lines.push_back(cause);
                    raise(Error(std::move(lines), ErrorCode::Output));
                }
            }
        }
        case Direction::Both: {
            std::FILE* f = std::fopen(name.c_str(), exists ? "r+" : "w+");
            if (f == nullptr) {
                stopWithError("ERROR - Unable to open \"" + name + "\": " + std::strerror(errno));
            }
            u.file = f;
            attachBuffer(u);
            u.name = name;
            u.kind = std::string(kind);
            u.identity = fileIdentity(name);
            return;
        }
        case Direction::Unknown: {
            std::string shown = name.substr(0, 80);
            shown.resize(80, ' ');
            consoleLine("  Unrecognised file type " + std::string(kind) + " file " + shown);
            return;
        }
        }
    }
}

void finishPendingOutputsAtExit() {
    std::lock_guard<std::recursive_mutex> hold(gShared);
    for (auto& u : processUnits().entries) closeFile(u, true);
    for (int i = 0; i < kWorkFileCount; ++i) removeWorkFile(processUnits(), i);  // never finished
}

// Closes the input that waited longest, keeping where it was, so that another can be opened.
void suspendOneInput(FileTable::Units& table, const Unit* keep) {
    int open = 0;
    Unit* oldest = nullptr;
    for (auto& u : table.entries) {
        if (u.file == nullptr || directionOf(u.kind) != Direction::Input) continue;
        ++open;
        if (&u != keep && (oldest == nullptr || u.lastUse < oldest->lastUse)) oldest = &u;
    }
    if (open < kOpenInputs || oldest == nullptr) return;
    const off_t here = ftello(oldest->file);
    oldest->at = here < 0 ? 0 : static_cast<std::int64_t>(here);
    std::fclose(oldest->file);
    oldest->file = nullptr;
    oldest->buffer.reset();
    oldest->suspended = true;
}

// Reopens a suspended input where it was; the file must still be the one opened.
void resumeInput(FileTable::Units& table, Unit& u) {
    suspendOneInput(table, &u);
    std::FILE* f = std::fopen(u.name.c_str(), "rb");
    if (f == nullptr || !sameIdentity(fileIdentity(u.name), u.identity) ||
        fseeko(f, static_cast<off_t>(u.at), SEEK_SET) != 0) {
        if (f != nullptr) std::fclose(f);
        raise(errorLine("ERROR - " + u.name + " was removed or replaced while the run read it.",
                        ErrorCode::BadInput));
    }
    u.file = f;
    u.suspended = false;
    attachBuffer(u);
}

}  // namespace

void INITFILEUNITS() {
    static bool registered = false;
    TableLock lock;
    if (!registered) {
        registered = true;
        std::atexit(finishPendingOutputsAtExit);
    }
    FileTable::Units& table = units();
    for (auto& u : table.entries) {
        closeFile(u, false);
        u = Unit{};
    }
    for (int i = 0; i < kWorkFileCount; ++i) removeWorkFile(table, i);
    installSignalCleanup();
}

int OPENFILEUNIT(std::string_view kind, std::string_view name) {
    TableLock lock;
    installSignalCleanup();
    std::string buffer = std::string(trimRight(TRIMF(name)));
    // A name cut to fit would name another file.
    if (buffer.size() > kNameLength) {
        stopWithError("ERROR - The name \"" + buffer.substr(0, 100) + "...\" is longer than the " +
                      std::to_string(kNameLength) + " characters a file name may have.", ErrorCode::Usage);
    }
    if (buffer.empty()) {
        raise(Error({"", "ERROR - Empty filename specified.  Bailing out.  Contact ZPN."},
                    ErrorCode::FileTable));
    }
    FileTable::Units& table = units();
    std::size_t i = 0;
    while (i < table.entries.size() && table.entries[i].inUse) ++i;
    if (i == table.entries.size()) {
        if (table.limit > 0) raise(Error({"ERROR - No free file numbers."}, ErrorCode::FileTable));
        table.entries.emplace_back();
    }
    Unit& u = table.entries[i];
    const int unit = kUnitBase + 1 + static_cast<int>(i);
    std::string code(kind.substr(0, 2));
    code.resize(2, ' ');
    openFile(u, unit, buffer, code);
    u.inUse = true;
    return unit;
}

void CLOSEFILEUNIT(int unit) {
    TableLock lock;
    Unit* u = findUnit(unit);
    if (u == nullptr) return;
    if (u->inUse) {
        bool ok = closeFile(*u, true);
        if (!ok) {
            const std::string reason = std::strerror(errno);
            u->inUse = false;
            raise(errorLine("ERROR - Could not finish writing \"" + u->name + "\": " + reason,
                            ErrorCode::Output));
        }
        consoleLine("...Closed File Unit:" + unitField(unit));
    }
    u->inUse = false;
    u->name.clear();
    u->identity = FileIdentity{};
}

void abandonUnit(int unit) {
    TableLock lock;
    Unit* u = findUnit(unit);
    if (u == nullptr || !u->inUse) return;
    closeFile(*u, false);
    u->inUse = false;
    u->name.clear();
    u->identity = FileIdentity{};
}

std::FILE* unitStream(int unit) { return unitStreamIn(&units(), unit); }

std::FILE* unitStreamIn(FileTable::Units* table, int unit) {
    Unit* u = findUnit(*table, unit);
    if (u == nullptr) return nullptr;
    if (u->suspended) resumeInput(*table, *u);
    if (u->file != nullptr) u->lastUse = ++table->clock;
    return u->file;
}

std::FILE* openUnitStreamIn(FileTable::Units* table, int unit) {
    Unit* u = findUnit(*table, unit);
    return u == nullptr ? nullptr : u->file;
}

FileTable::Units* currentFileTable() { return &units(); }

const std::string& unitName(int unit) {
    Unit* u = findUnit(unit);
    return (u == nullptr || (u->file == nullptr && !u->suspended)) ? kNoName : u->name;
}

const std::string& unitWorkFile(int unit) {
    Unit* u = findUnit(unit);
    return (u == nullptr || u->file == nullptr) ? kNoName : u->besidePath;
}

bool unitAtEnd(int unit) {
    std::FILE* f = unitStream(unit);
    if (f == nullptr) return true;
    int c = std::getc(f);
    if (c == EOF) return true;
    std::ungetc(c, f);
    return false;
}

void rewindUnit(int unit) {
    if (std::FILE* f = unitStream(unit)) std::rewind(f);
}

void markRunOutput(int unit) {
    if (Unit* u = findUnit(unit)) u->discardOnFailure = true;
}

namespace {
RunUnits* gRunUnits = nullptr;  // the process table's (a run's own table needs none)
}  // namespace

RunUnits::RunUnits() : outer_(gRunUnits) {
    FileTable::Units& table = processUnits();
    for (std::size_t i = 0; i < table.entries.size(); ++i) before_[i] = table.entries[i].inUse;
    for (int i = 0; i < kWorkFileCount; ++i) workBefore_[i] = table.workSlots[i] >= 0;
    gRunUnits = this;
}

RunUnits::~RunUnits() { gRunUnits = outer_; }

void abandonAllUnits() {
    TableLock lock;
    FileTable::Units& table = units();
    RunUnits* kept = &table == &processUnits() ? gRunUnits : nullptr;
    const bool free = kept != nullptr || &table != &processUnits();
    for (std::size_t i = 0; i < table.entries.size(); ++i) {
        Unit& u = table.entries[i];
        if (kept != nullptr && kept->wasOpen(static_cast<int>(i))) continue;
        closeFile(u, !u.discardOnFailure);
        // A unit the run left behind is free again (a program's later opens reuse it).
        if (free) {
            u.inUse = false;
            u.name.clear();
            u.identity = FileIdentity{};
        }
    }
    for (int i = 0; i < kWorkFileCount; ++i) {
        if (kept != nullptr && kept->heldWorkFile(i)) continue;
        removeWorkFile(table, i);
    }
}

std::string makeWorkFile(const std::string& output) {
    TableLock lock;
    FileTable::Units& table = units();
    int index = 0;
    while (index < kWorkFileCount && table.workSlots[index] >= 0) ++index;
    const int slot = index == kWorkFileCount ? -1 : claimSlot();
    if (slot < 0) {
        errno = EMFILE;
        return {};
    }
    table.workSlots[index] = slot;
    std::string path;
    std::FILE* f = createWorkFile(static_cast<std::size_t>(slot), output, "wb", path);
    if (f == nullptr) {
        const int error = errno;
        forgetSlot(static_cast<std::size_t>(slot));
        table.workSlots[index] = -1;
        errno = error;
        return {};
    }
    if (std::fclose(f) != 0) {
        const int error = errno;
        removeWorkFile(table, index);
        errno = error;
        return {};
    }
    return path;
}

namespace {
// The entry of the calling thread's table that holds work, or -1.
int workFileIndex(const std::string& work) {
    FileTable::Units& table = units();
    for (int i = 0; i < kWorkFileCount; ++i) {
        const int slot = table.workSlots[i];
        if (slot >= 0 && !work.empty() && work == gBesideNames[static_cast<std::size_t>(slot)].data())
            return i;
    }
    return -1;
}
}  // namespace

bool landWorkFile(const std::string& work, const std::string& output) {
    TableLock lock;
    const int index = workFileIndex(work);
    if (index < 0) {
        errno = ENOENT;
        return false;
    }
    FileTable::Units& table = units();
    if (!platform::replaceFile(work, output)) {
        const int error = errno;
        removeWorkFile(table, index);
        errno = error;
        return false;
    }
    forgetSlot(static_cast<std::size_t>(table.workSlots[index]));
    table.workSlots[index] = -1;
    return true;
}

void dropWorkFile(const std::string& work) {
    TableLock lock;
    const int index = workFileIndex(work);
    if (index >= 0) removeWorkFile(units(), index);
}

FileTable::FileTable() : units_(new Units(0)) {}

FileTable::~FileTable() {
    FileTableScope scope(*this);
    abandonAllUnits();
}

FileTableScope::FileTableScope(FileTable& table) : previous_(tUnits) { tUnits = table.units_.get(); }
FileTableScope::~FileTableScope() { tUnits = previous_; }

bool sameFile(const std::string& a, const std::string& b) {
    return sameIdentity(fileIdentity(a), fileIdentity(b));
}

}  // namespace kelvara
