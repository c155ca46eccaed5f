// Runs the built kelvara executable as a user would: given arguments, a given standard input
// (closed after it, so that prompts meet the end of input), in a given folder.
#pragma once

#include <string>
#include <vector>

namespace kelvara::test {

struct ToolResult {
    std::string output;  // everything written to standard output and standard error
    int status = -1;     // exit status; -1 when the process did not exit normally
};

ToolResult runTool(const std::vector<std::string>& args, const std::string& input = {},
                   const std::string& workingDir = {});

// Path of the built executable.
std::string toolPath();

}  // namespace kelvara::test
