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

// Six characters that differ from call to call and from process to process.
std::string uniqueSuffix(unsigned attempt) {
    static unsigned counter = 0;
    static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::uint64_t seed = (std::uint64_t{::GetCurrentProcessId()} << 32) ^ ::GetTickCount64() ^
                         (std::uint64_t{++counter} * 2654435761u) ^ (std::uint64_t{attempt} << 20);
    std::string text;
    for (int i = 0; i < 6; ++i) {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        text.push_back(kDigits[(seed >> 33) % 36]);
    }
    return text;
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

std::FILE* createBesideFile(const std::string& target, const std::string& stem, const char* mode,
                            std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_READONLY))) {
        errno = EACCES;
        return nullptr;
    }
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        std::string name = stem + uniqueSuffix(attempt);
        // Hidden while it is being written; shared for deletion so that the interruption
        // handler can remove it while it is still open.
        HANDLE h = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_HIDDEN, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (::GetLastError() == ERROR_FILE_EXISTS) continue;
            setErrnoFromLastError();
            return nullptr;
        }
        const bool binary = std::strchr(mode, 'b') != nullptr;
        int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), binary ? _O_BINARY : _O_TEXT);
        if (fd < 0) {
            ::CloseHandle(h);
            ::DeleteFileA(name.c_str());
            errno = EMFILE;
            return nullptr;
        }
        std::FILE* f = ::_fdopen(fd, mode);
        if (f == nullptr) {
            ::_close(fd);
            ::DeleteFileA(name.c_str());
            return nullptr;
        }
        path = name;
        return f;
    }
    errno = EEXIST;
    return nullptr;
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

void onInterruption(void (*handler)(int)) {
    for (int s : {SIGINT, SIGTERM, SIGBREAK}) {
        if (std::signal(s, handler) == SIG_IGN) std::signal(s, SIG_IGN);
    }
}

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

#include <fcntl.h>
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

std::FILE* createBesideFile(const std::string& target, const std::string& stem, const char* mode,
                            std::string& path) {
    struct stat st {};
    bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && (!S_ISREG(st.st_mode) || ::access(target.c_str(), W_OK) != 0)) {
        errno = EACCES;
        return nullptr;
    }
    std::string pattern = stem + "XXXXXX";
    std::vector<char> temp(pattern.begin(), pattern.end());
    temp.push_back('\0');
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return nullptr;
    mode_t perms;
    if (exists) {
        perms = st.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        perms = 0666 & ~mask;
    }
    ::fchmod(fd, perms);
    std::FILE* f = ::fdopen(fd, mode);
    if (f == nullptr) {
        ::close(fd);
        ::unlink(temp.data());
        return nullptr;
    }
    path = temp.data();
    return f;
}

bool replaceFile(const std::string& from, const std::string& name) {
    return std::rename(from.c_str(), name.c_str()) == 0;
}

void removeFile(const char* path) { ::unlink(path); }

void onInterruption(void (*handler)(int)) {
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        if (std::signal(s, handler) == SIG_IGN) std::signal(s, SIG_IGN);
    }
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
