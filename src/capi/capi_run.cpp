// Exported C interface of a whole kelvara run inside the calling process.
#include <string>
#include <vector>

#include "kelvara.h"
#include "tool/run.h"
#include "util/field.h"

namespace {

void runFromFields(char* console, int32_t consoleLen, const char* arguments, int32_t argumentsLen,
                   int32_t* status, int32_t* consoleUsed, int32_t* code) {
    // Arguments are separated by NULs; one NUL at the very end only ends the last.
    const std::string text = kelvara::fromField(arguments, argumentsLen);
    std::vector<std::string> list;
    if (!text.empty()) {
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = text.find('\0', start);
            if (end == std::string::npos) {
                list.push_back(text.substr(start));
                break;
            }
            list.push_back(text.substr(start, end - start));
            start = end + 1;
            if (start == text.size()) break;
        }
    }
    std::string output;
    kelvara::RunOutcome outcome;
    const int result = kelvara::runCommandLineText(list, output, &outcome);
    kelvara::toField(console, consoleLen, output);
    if (status != nullptr) *status = result;
    if (consoleUsed != nullptr) *consoleUsed = static_cast<int32_t>(output.size());
    if (code != nullptr) *code = static_cast<int32_t>(outcome.code);
}

}  // namespace

extern "C" {

KELVARA_API void KELVARA_CALL RUNCOMMANDLINE(char* console, int32_t consoleLen,
                                             const char* arguments, int32_t argumentsLen,
                                             int32_t* status, int32_t* consoleUsed) {
    runFromFields(console, consoleLen, arguments, argumentsLen, status, consoleUsed, nullptr);
}

KELVARA_API void KELVARA_CALL RUNCOMMANDLINECODE(char* console, int32_t consoleLen,
                                                 const char* arguments, int32_t argumentsLen,
                                                 int32_t* status, int32_t* consoleUsed,
                                                 int32_t* code) {
    runFromFields(console, consoleLen, arguments, argumentsLen, status, consoleUsed, code);
}

}  // extern "C"
