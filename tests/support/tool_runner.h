// Runs the built kelvara executable as a user would: given arguments, a given standard input
// (closed after it, so that prompts meet the end of input), in a given folder.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kelvara::test {

struct ToolResult {
    std::string output;  // everything written to standard output and standard error
    int status = -1;     // exit status; -1 when the process did not exit normally
};

ToolResult runTool(const std::vector<std::string>& args, const std::string& input = {},
                   const std::string& workingDir = {});

#ifndef _WIN32
// Reads a started tool's console output from outputFd to its end, closes it, and waits for the
// process: for tests that start the tool themselves (under limits, as another user).
ToolResult collectTool(int pid, int outputFd);
#endif

// Path of the built executable.
std::string toolPath();

// Whether the console text holds part, and how many times.
inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}
inline std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

}  // namespace kelvara::test
