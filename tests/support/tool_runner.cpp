#include "support/tool_runner.h"

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <stdexcept>

namespace kelvara::test {
namespace {

// One argument as the C runtime of the started program splits its command line again: quoted
// when it holds blanks or quotes, with the backslashes before a quote doubled.
std::string quoteArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(2 * backslashes, '\\');
    quoted.push_back('"');
    return quoted;
}

struct Handle {
    HANDLE h = nullptr;
    ~Handle() {
        if (h != nullptr && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
    void close() {
        if (h != nullptr && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
        h = nullptr;
    }
};

struct Watchdog {
    HANDLE process;
    std::atomic<bool> fired;
};

VOID CALLBACK endHungTool(PVOID context, BOOLEAN) {
    auto* w = static_cast<Watchdog*>(context);
    w->fired = true;
    ::TerminateProcess(w->process, 1);
}

}  // namespace

// The build puts every program beside kelvara.dll, so the tool is found next to the test
// program itself (the configured path is the build machine's, which a Windows program under
// Wine or on another machine may not reach).
std::string toolPath() {
    char self[MAX_PATH * 4];
    DWORD n = ::GetModuleFileNameA(nullptr, self, sizeof self);
    if (n == 0 || n >= sizeof self) throw std::runtime_error("GetModuleFileName failed");
    std::filesystem::path folder = std::filesystem::path(std::string(self, n)).parent_path();
    return (folder / std::filesystem::path(KELVARA_TOOL_PATH).filename()).string();
}

ToolResult runTool(const std::vector<std::string>& args, const std::string& input,
                   const std::string& workingDir) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};

    // Standard input comes from a temporary file (removed when the last handle closes) so that
    // large inputs never block.
    char tempFolder[MAX_PATH + 1];
    char inName[MAX_PATH + 1];
    if (::GetTempPathA(sizeof tempFolder, tempFolder) == 0 ||
        ::GetTempFileNameA(tempFolder, "kvi", 0, inName) == 0)
        throw std::runtime_error("GetTempFileName failed");
    Handle in;
    in.h = ::CreateFileA(inName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                         &inherit, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (in.h == INVALID_HANDLE_VALUE) throw std::runtime_error("stdin file failed");
    DWORD written = 0;
    if (!input.empty() && (!::WriteFile(in.h, input.data(), static_cast<DWORD>(input.size()),
                                        &written, nullptr) ||
                           written != input.size()))
        throw std::runtime_error("write failed");
    ::SetFilePointer(in.h, 0, nullptr, FILE_BEGIN);

    Handle readEnd, writeEnd;
    if (!::CreatePipe(&readEnd.h, &writeEnd.h, &inherit, 0)) throw std::runtime_error("pipe failed");
    ::SetHandleInformation(readEnd.h, HANDLE_FLAG_INHERIT, 0);

    const std::string exe = toolPath();
    std::string commandLine = quoteArgument(exe);
    for (const auto& a : args) commandLine += " " + quoteArgument(a);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in.h;
    startup.hStdOutput = writeEnd.h;
    startup.hStdError = writeEnd.h;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                          workingDir.empty() ? nullptr : workingDir.c_str(), &startup, &process))
        throw std::runtime_error("CreateProcess failed for " + exe);
    Handle processHandle, threadHandle;
    processHandle.h = process.hProcess;
    threadHandle.h = process.hThread;
    writeEnd.close();
    in.close();

    // A hang fails the test instead of stalling the suite: the watchdog ends the tool, which
    // closes the pipe and ends the read below.
    Watchdog watchdog{process.hProcess, {false}};
    HANDLE timer = nullptr;
    ::CreateTimerQueueTimer(&timer, nullptr, endHungTool, &watchdog, 120000, 0,
                            WT_EXECUTEONLYONCE);

    ToolResult result;
    char buffer[65536];
    DWORD n = 0;
    while (::ReadFile(readEnd.h, buffer, sizeof buffer, &n, nullptr) && n > 0)
        result.output.append(buffer, n);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    if (timer != nullptr) ::DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE);

    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    result.status = watchdog.fired ? -1 : static_cast<int>(code);

    // The console's line ends are CRLF here; the tests compare lines without the CR.
    std::string lines;
    lines.reserve(result.output.size());
    for (std::size_t i = 0; i < result.output.size(); ++i) {
        if (result.output[i] == '\r' && i + 1 < result.output.size() && result.output[i + 1] == '\n')
            continue;
        lines.push_back(result.output[i]);
    }
    result.output = std::move(lines);
    return result;
}

}  // namespace kelvara::test

#else  // POSIX

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace kelvara::test {

std::string toolPath() { return KELVARA_TOOL_PATH; }

ToolResult collectTool(int pid, int outputFd) {
    ToolResult result;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(outputFd, buffer, sizeof buffer);
        if (n > 0) {
            result.output.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(outputFd);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

ToolResult runTool(const std::vector<std::string>& args, const std::string& input,
                   const std::string& workingDir) {
    // Standard input comes from a temporary file so that large inputs never block.
    char inName[] = "/tmp/kelvara-stdin-XXXXXX";
    int inFd = ::mkstemp(inName);
    if (inFd < 0) throw std::runtime_error("mkstemp failed");
    ::unlink(inName);
    if (!input.empty() && ::write(inFd, input.data(), input.size()) != static_cast<ssize_t>(input.size()))
        throw std::runtime_error("write failed");
    ::lseek(inFd, 0, SEEK_SET);

    int pipeFd[2];
    if (::pipe(pipeFd) != 0) throw std::runtime_error("pipe failed");

    std::string exe = toolPath();
    std::vector<std::string> argvStore;
    argvStore.push_back(exe);
    argvStore.insert(argvStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvStore) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::dup2(inFd, 0);
        ::dup2(pipeFd[1], 1);
        ::dup2(pipeFd[1], 2);
        ::close(pipeFd[0]);
        ::close(pipeFd[1]);
        ::close(inFd);
        if (!workingDir.empty() && ::chdir(workingDir.c_str()) != 0) ::_exit(127);
        ::alarm(60);  // a hang fails the test instead of stalling the suite
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(pipeFd[1]);
    ::close(inFd);
    return collectTool(pid, pipeFd[0]);
}

}  // namespace kelvara::test

#endif
