#include "support/tool_runner.h"

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
    ToolResult result;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(pipeFd[0], buffer, sizeof buffer);
        if (n > 0) {
            result.output.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(pipeFd[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace kelvara::test
