// What the file unit table and the run driver need from the operating system, one small routine
// each, so that the differences between POSIX systems and Windows stay in platform.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kelvara::platform {

// Identity of an existing file or folder: two names with the same identity name the same file
// (device and inode; on Windows volume serial number and file index).
struct FileIdentity {
    bool valid = false;
    std::uint64_t device = 0;
    std::uint64_t index = 0;
};
FileIdentity fileIdentity(const std::string& path);
inline bool sameIdentity(const FileIdentity& a, const FileIdentity& b) {
    return a.valid && b.valid && a.device == b.device && a.index == b.index;
}

// Length of the drive that a drive-relative name such as "C:run.dat" starts with (2 there; 0
// for every name on POSIX systems, where "C:" is an ordinary part of a file name).
std::size_t drivePrefixLength(const std::string& path);

// Creates the new file path, for an output that will replace target once it is complete (path
// names a hidden file in target's folder). The new file gets the permissions of target when
// target exists, those of any new file otherwise, and is opened with the fopen mode ("w" or
// "wb"). Returns nullptr with errno set: EEXIST when path exists already, EACCES when target
// exists but is not a writable regular file, another value when the file cannot be created.
std::FILE* createBesideFile(const std::string& target, const std::string& path, const char* mode);

// Names of the entries of a folder ("" for the current folder), "." and ".." left out; empty
// when the folder cannot be read.
std::vector<std::string> folderEntries(const std::string& folder);

// This process's id, and whether a process of the given id is running on this machine.
unsigned long currentProcessId();
bool processRunning(unsigned long id);

// Moves a closed file onto name, replacing any file of that name. False with errno set when
// it fails (the moved file is then still there).
bool replaceFile(const std::string& from, const std::string& name);

// Removes a file; safe to call from a signal handler.
void removeFile(const char* path);

// Calls handler on every signal that would end the process and that can be caught (on POSIX
// systems interruption, hang-up, termination, quit, alarms and timers, file-size and CPU limits,
// user and real-time signals, aborts and faults; on Windows Ctrl+C, Ctrl+Break, termination and
// abort), except a signal that is being ignored or that the program handles itself. The handler
// must end with endBySignal.
void onTermination(void (*handler)(int));
// Ends the process by signal as its default action does (called last in the handler).
void endBySignal(int signal);

// A write to a closed pipe fails with EPIPE instead of ending the process (POSIX systems; on
// Windows such a write fails anyway).
void ignoreBrokenPipe();

// Memory the process can have at most, in bytes: physical memory, and on Windows also the
// process's address space; 0 when unknown.
double availableMemoryBytes();

// Reads size bytes of stream's file from position at, without moving the stream and without
// disturbing other such reads of the same file made at the same time by other threads. Returns
// the bytes read (fewer at the end of the file), or -1. Where the system has no such read
// (readAtSupported() false) it always returns -1; callers then read the stream itself.
bool readAtSupported();
std::int64_t readAt(std::FILE* stream, void* data, std::size_t size, std::int64_t at);

}  // namespace kelvara::platform
