#include "fileio/console.h"

#include <cstdio>
#include <cstdlib>

#include "fileio/units.h"

namespace kelvara {

void consoleLine(std::string_view text) {
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
}

void consoleWrite(std::string_view text) {
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
}

bool consoleReadLine(std::string& line) {
    std::fflush(stdout);
    line.clear();
    int c;
    bool any = false;
    while ((c = std::fgetc(stdin)) != EOF) {
        any = true;
        if (c == '\n') break;
        line.push_back(static_cast<char>(c));
    }
    if (!any) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

void waitForEnter(std::string_view prompt) {
    consoleLine(prompt);
    std::string line;
    while (consoleReadLine(line)) {
        if (line.empty()) return;
        // A typed line is a command for the system's command processor; then ask again.
        std::fflush(stdout);
        int ignored = std::system(line.c_str());
        (void)ignored;
        consoleLine(prompt);
    }
    // End of standard input: carry on as if Enter had been pressed.
}

void pauseForUser() { waitForEnter("Press Enter to Continue"); }

void PAUSECONSOLE() {
    consoleLine();
    waitForEnter("Press Enter to Continue");
}

void FATALSTOP() {
    abandonAllUnits();
    consoleLine();
    waitForEnter("Press Enter to Close");
    endRun(1);
}

void endRun(int status) {
    abandonAllUnits();
    std::fflush(stdout);
#ifdef KELVARA_FUZZING
    throw RunEnded{status};
#else
    std::exit(status);
#endif
}

}  // namespace kelvara
