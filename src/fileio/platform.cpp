#include "fileio/platform.h"

#include <cerrno>
#include <csignal>

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstring>

namespace kelvara::platform {
namespace {

void setErrnoFromLastError() {
    switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_INVALID_NAME:
        errno = ENOENT;
        break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        errno = EEXIST;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        errno = EACCES;
        break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        errno = ENOSPC;
        break;
    default:
        errno = EIO;
        break;
    }
}

}  // namespace

std::size_t drivePrefixLength(const std::string& path) {
    const bool letter = path.size() >= 2 && ((path[0] >= 'A' && path[0] <= 'Z') ||
                                             (path[0] >= 'a' && path[0] <= 'z'));
    return letter && path[1] == ':' ? 2 : 0;
}

FileIdentity fileIdentity(const std::string& path) {
    FileIdentity id;
    // No access rights are needed to read the identity, and any sharing mode lets it through
    // files that others (or this process) hold open.
    HANDLE h = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return id;
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(h, &info)) {
        id.valid = true;
        id.device = info.dwVolumeSerialNumber;
        id.index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    }
    ::CloseHandle(h);
    return id;
}

std::FILE* createBesideFile(const std::string& target, const std::string& path, const char* mode) {
    const DWORD attributes = ::GetFileAttributesA(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_READONLY))) {
        errno = EACCES;
        return nullptr;
    }
    // Hidden while it is being written; shared for deletion so that the termination handler can
    // remove it while it is still open.
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        setErrnoFromLastError();
        return nullptr;
    }
    const bool binary = std::strchr(mode, 'b') != nullptr;
    int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), binary ? _O_BINARY : _O_TEXT);
    if (fd < 0) {
        ::CloseHandle(h);
        ::DeleteFileA(path.c_str());
        errno = EMFILE;
        return nullptr;
    }
    std::FILE* f = ::_fdopen(fd, mode);
    if (f == nullptr) {
        ::_close(fd);
        ::DeleteFileA(path.c_str());
        return nullptr;
    }
    return f;
}

std::vector<std::string> folderEntries(const std::string& folder) {
    std::vector<std::string> names;
    std::string pattern = folder.empty() ? std::string("*") : folder + "*";
    if (!folder.empty() && folder.back() != '\\' && folder.back() != '/' && folder.back() != ':')
        pattern = folder + "\\*";
    WIN32_FIND_DATAA data;
    HANDLE h = ::FindFirstFileA(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = data.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (::FindNextFileA(h, &data));
    ::FindClose(h);
    return names;
}

unsigned long currentProcessId() { return ::GetCurrentProcessId(); }

bool processRunning(unsigned long id) {
    HANDLE h = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                             static_cast<DWORD>(id));
    if (h == nullptr) return ::GetLastError() == ERROR_ACCESS_DENIED;  // someone else's
    const bool running = ::WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    ::CloseHandle(h);
    return running;
}

bool replaceFile(const std::string& from, const std::string& name) {
    // The finished file is no longer hidden; rename() of the C library fails over an existing
    // file on Windows, MoveFileEx replaces it.
    ::SetFileAttributesA(from.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (::MoveFileExA(from.c_str(), name.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    setErrnoFromLastError();
    return false;
}

void removeFile(const char* path) { ::DeleteFileA(path); }

void onTermination(void (*handler)(int)) {
    for (int s : {SIGINT, SIGTERM, SIGBREAK, SIGABRT}) {
        auto previous = std::signal(s, handler);
        if (previous != SIG_DFL && previous != SIG_ERR) std::signal(s, previous);
    }
}

void endBySignal(int signal) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void ignoreBrokenPipe() {}

double availableMemoryBytes() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!::GlobalMemoryStatusEx(&status)) return 0;
    // A 32-bit process cannot have more than its address space, whatever the machine holds.
    return static_cast<double>(std::min(status.ullTotalPhys, status.ullTotalVirtual));
}

bool readAtSupported() { return false; }
std::int64_t readAt(std::FILE*, void*, std::size_t, std::int64_t) { return -1; }

}  // namespace kelvara::platform

#else  // POSIX

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace kelvara::platform {

std::size_t drivePrefixLength(const std::string&) { return 0; }

FileIdentity fileIdentity(const std::string& path) {
    struct stat st {};
    FileIdentity id;
    if (::stat(path.c_str(), &st) == 0) {
        id.valid = true;
        id.device = static_cast<std::uint64_t>(st.st_dev);
        id.index = static_cast<std::uint64_t>(st.st_ino);
    }
    return id;
}

std::FILE* createBesideFile(const std::string& target, const std::string& path, const char* mode) {
    struct stat st {};
    bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && (!S_ISREG(st.st_mode) || ::access(target.c_str(), W_OK) != 0)) {
        errno = EACCES;
        return nullptr;
    }
    mode_t perms;
    if (exists) {
        perms = st.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        perms = 0666 & ~mask;
    }
    // Only the owner can read the file while it is being written; its own permissions come
    // with fchmod (open's mode would pass through the umask).
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    ::fchmod(fd, perms);
    std::FILE* f = ::fdopen(fd, mode);
    if (f == nullptr) {
        ::close(fd);
        ::unlink(path.c_str());
        return nullptr;
    }
    return f;
}

std::vector<std::string> folderEntries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

unsigned long currentProcessId() { return static_cast<unsigned long>(::getpid()); }

bool processRunning(unsigned long id) {
    const auto pid = static_cast<pid_t>(id);
    if (pid <= 0 || static_cast<unsigned long>(pid) != id) return false;
    return ::kill(pid, 0) == 0 || errno == EPERM;  // EPERM: running, as another user
}

bool replaceFile(const std::string& from, const std::string& name) {
    return std::rename(from.c_str(), name.c_str()) == 0;
}

void removeFile(const char* path) { ::unlink(path); }

void onTermination(void (*handler)(int)) {
    std::vector<int> signals = {SIGINT, SIGTERM, SIGHUP,  SIGQUIT, SIGUSR1,   SIGUSR2,
                                SIGALRM, SIGXFSZ, SIGXCPU, SIGVTALRM, SIGPROF, SIGABRT,
                                SIGSEGV, SIGBUS,  SIGFPE,  SIGILL,  SIGTRAP,   SIGSYS};
#ifdef SIGPOLL
    signals.push_back(SIGPOLL);
#endif
#ifdef SIGPWR
    signals.push_back(SIGPWR);
#endif
#ifdef SIGSTKFLT
    signals.push_back(SIGSTKFLT);
#endif
#if defined(SIGRTMIN) && defined(SIGRTMAX)
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) signals.push_back(s);
#endif
    struct sigaction action {};
    action.sa_handler = handler;
    sigfillset(&action.sa_mask);  // one signal at a time: the handler ends the process
    for (int s : signals) {
        struct sigaction previous {};
        if (::sigaction(s, nullptr, &previous) != 0) continue;
        // An ignored signal stays ignored (nohup), and a handler of the program's own (a
        // sanitizer's, a library client's) stays in place.
        if ((previous.sa_flags & SA_SIGINFO) != 0 || previous.sa_handler != SIG_DFL) continue;
        ::sigaction(s, &action, nullptr);
    }
}

void endBySignal(int signal) {
    // The default action again, and the signal raised once more: it is delivered as the
    // handler returns (a fault also recurs as its instruction runs again), ending the process.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    ::raise(signal);
}

void ignoreBrokenPipe() {
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGPIPE, &action, nullptr);
}

double availableMemoryBytes() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return static_cast<double>(pages) * static_cast<double>(pageSize);
}

bool readAtSupported() { return true; }

std::int64_t readAt(std::FILE* stream, void* data, std::size_t size, std::int64_t at) {
    const int fd = ::fileno(stream);
    if (fd < 0 || at < 0) return -1;
    auto* p = static_cast<unsigned char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, p + done, size - done, static_cast<off_t>(at) +
                                                                   static_cast<off_t>(done));
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

}  // namespace kelvara::platform

#endif
