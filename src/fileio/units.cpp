#include "fileio/units.h"

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>

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
    std::FILE* file = nullptr;
    std::string name;
    std::string kind;
    std::string besidePath;  // hidden file the output is written to until it is closed
    FileIdentity identity;
    bool discardOnFailure = false;  // the run's own result: removed when the run fails
    std::unique_ptr<char[]> buffer;
};

std::array<Unit, kUnitCount> gUnits;

// Hidden files as plain C strings, so that a signal handler can remove them safely: one slot
// per unit, then one per work file of a writer of its own (makeWorkFile).
std::array<std::array<char, 4200>, kUnitCount + kWorkFileCount> gBesideNames{};

std::array<char, 4200>& workSlot(int index) {
    return gBesideNames[static_cast<std::size_t>(kUnitCount + index)];
}

const std::string kNoName;

Unit* findUnit(int unit) {
    int index = unit - kUnitBase - 1;
    if (index < 0 || index >= kUnitCount) return nullptr;
    return &gUnits[static_cast<std::size_t>(index)];
}

std::size_t indexOf(const Unit& u) { return static_cast<std::size_t>(&u - gUnits.data()); }

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

void forgetSlot(std::size_t index) { gBesideNames[index][0] = '\0'; }

void forgetBeside(Unit& u) {
    u.besidePath.clear();
    forgetSlot(indexOf(u));
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
        forgetSlot(slot);
        errno = error;
        if (error != EEXIST) return nullptr;
    }
    return nullptr;
}

std::FILE* openBeside(Unit& u, const std::string& name, const char* mode) {
    std::string path;
    std::FILE* f = createWorkFile(indexOf(u), name, mode, path);
    if (f != nullptr) u.besidePath = path;
    return f;
}

// Removes the work file in slot index of a writer of its own, if any.
void removeWorkFile(int index) {
    auto& slot = workSlot(index);
    if (slot[0] == '\0') return;
    platform::removeFile(slot.data());
    slot[0] = '\0';
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
    for (auto& other : gUnits) {
        if (&other == &self || other.file == nullptr) continue;
        if (sameIdentity(id, other.identity)) return &other;
        if (!other.besidePath.empty() && other.name == name) return &other;
    }
    return nullptr;
}

[[noreturn]] void stopWithError(const std::string& text) { raise(errorLine(text)); }

// What the system said of an output that could not be created, in words that say what to do;
// "" when it gave no reason worth naming.
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
                                    StopKind::Plain));
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
            std::FILE* f = std::fopen(name.c_str(), "rb");
            if (f == nullptr) {
                stopWithError("ERROR - Unable to open \"" + name + "\": " + std::strerror(errno));
            }
            u.file = f;
            attachBuffer(u);
            u.name = name;
            u.kind = std::string(kind);
            u.identity = fileIdentity(name);
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
                    raise(Error(std::move(lines)));
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
    for (auto& u : gUnits) closeFile(u, true);
    for (int i = 0; i < kWorkFileCount; ++i) removeWorkFile(i);  // never finished
}

}  // namespace

void INITFILEUNITS() {
    static bool registered = false;
    if (!registered) {
        registered = true;
        std::atexit(finishPendingOutputsAtExit);
    }
    for (auto& u : gUnits) {
        closeFile(u, false);
        u = Unit{};
    }
    for (int i = 0; i < kWorkFileCount; ++i) removeWorkFile(i);
    installSignalCleanup();
}

int OPENFILEUNIT(std::string_view kind, std::string_view name) {
    std::string buffer = std::string(trimRight(TRIMF(name)));
    // A name cut to fit would name another file.
    if (buffer.size() > kNameLength) {
        stopWithError("ERROR - The name \"" + buffer.substr(0, 100) + "...\" is longer than the " +
                      std::to_string(kNameLength) + " characters a file name may have.");
    }
    if (buffer.empty()) {
        raise(Error({"", "ERROR - Empty filename specified.  Bailing out.  Contact ZPN."},
                    StopKind::CloseAtOnce));
    }
    for (int i = 0; i < kUnitCount; ++i) {
        Unit& u = gUnits[static_cast<std::size_t>(i)];
        if (u.inUse) continue;
        int unit = kUnitBase + 1 + i;
        std::string code(kind.substr(0, 2));
        code.resize(2, ' ');
        openFile(u, unit, buffer, code);
        u.inUse = true;
        return unit;
    }
    raise(Error({"ERROR - No free file numbers."}, StopKind::Plain));
}

void CLOSEFILEUNIT(int unit) {
    Unit* u = findUnit(unit);
    if (u == nullptr) return;
    if (u->inUse) {
        bool ok = closeFile(*u, true);
        if (!ok) {
            const std::string reason = std::strerror(errno);
            u->inUse = false;
            raise(errorLine("ERROR - Could not finish writing \"" + u->name + "\": " + reason));
        }
        consoleLine("...Closed File Unit:" + unitField(unit));
    }
    u->inUse = false;
    u->name.clear();
    u->identity = FileIdentity{};
}

void abandonUnit(int unit) {
    Unit* u = findUnit(unit);
    if (u == nullptr || !u->inUse) return;
    closeFile(*u, false);
    u->inUse = false;
    u->name.clear();
    u->identity = FileIdentity{};
}

std::FILE* unitStream(int unit) {
    Unit* u = findUnit(unit);
    return u == nullptr ? nullptr : u->file;
}

const std::string& unitName(int unit) {
    Unit* u = findUnit(unit);
    return (u == nullptr || u->file == nullptr) ? kNoName : u->name;
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
RunUnits* gRunUnits = nullptr;
}  // namespace

RunUnits::RunUnits() : outer_(gRunUnits) {
    for (std::size_t i = 0; i < gUnits.size(); ++i) before_[i] = gUnits[i].inUse;
    for (int i = 0; i < kWorkFileCount; ++i) workBefore_[i] = workSlot(i)[0] != '\0';
    gRunUnits = this;
}

RunUnits::~RunUnits() { gRunUnits = outer_; }

void abandonAllUnits() {
    for (std::size_t i = 0; i < gUnits.size(); ++i) {
        Unit& u = gUnits[i];
        if (gRunUnits != nullptr && gRunUnits->wasOpen(static_cast<int>(i))) continue;
        closeFile(u, !u.discardOnFailure);
        // A unit the run left behind is free again (a program's later opens reuse it).
        if (gRunUnits != nullptr) {
            u.inUse = false;
            u.name.clear();
            u.identity = FileIdentity{};
        }
    }
    for (int i = 0; i < kWorkFileCount; ++i) {
        if (gRunUnits != nullptr && gRunUnits->heldWorkFile(i)) continue;
        removeWorkFile(i);
    }
}

std::string makeWorkFile(const std::string& output) {
    int index = 0;
    while (index < kWorkFileCount && workSlot(index)[0] != '\0') ++index;
    if (index == kWorkFileCount) {
        errno = EMFILE;
        return {};
    }
    std::string path;
    std::FILE* f = createWorkFile(static_cast<std::size_t>(kUnitCount + index), output, "wb", path);
    if (f == nullptr) return {};
    if (std::fclose(f) != 0) {
        const int error = errno;
        removeWorkFile(index);
        errno = error;
        return {};
    }
    return path;
}

namespace {
// The slot that holds work, or -1.
int workFileIndex(const std::string& work) {
    for (int i = 0; i < kWorkFileCount; ++i)
        if (!work.empty() && work == workSlot(i).data()) return i;
    return -1;
}
}  // namespace

bool landWorkFile(const std::string& work, const std::string& output) {
    const int index = workFileIndex(work);
    if (index < 0) {
        errno = ENOENT;
        return false;
    }
    if (!platform::replaceFile(work, output)) {
        const int error = errno;
        removeWorkFile(index);
        errno = error;
        return false;
    }
    forgetSlot(static_cast<std::size_t>(kUnitCount + index));
    return true;
}

void dropWorkFile(const std::string& work) {
    const int index = workFileIndex(work);
    if (index >= 0) removeWorkFile(index);
}

bool sameFile(const std::string& a, const std::string& b) {
    return sameIdentity(fileIdentity(a), fileIdentity(b));
}

}  // namespace kelvara
