// The ensemble prints nothing: the file units and the mesh reader it borrows speak to the
// console, so they are called with the console captured. Their WARNING lines are passed on to
// the caller's messages; an error they raise is thrown with the lines that explain it.
#pragma once

#include <string>
#include <vector>

#include "ensemble/run_list.h"
#include "fileio/console.h"
#include "fileio/error.h"

namespace kelvara::ensemble_detail {

template <class F>
void quietly(const EnsembleMessages& messages, F&& f) {
    LineConsole console;
    std::vector<std::string> lines;
    {
        ConsoleRedirect redirect(console);
        ErrorScope scope;
        try {
            f();
        } catch (const Error& error) {
            lines = console.take();
            // The lines from the first ERROR on: the error and the text it shows.
            std::vector<std::string> all;
            bool inError = false;
            for (const auto& line : lines) {
                inError = inError || line.rfind("ERROR - ", 0) == 0;
                if (inError) all.push_back(line);
            }
            all.insert(all.end(), error.lines().begin(), error.lines().end());
            throw Error(std::move(all), error.code(), error.hint());
        }
        lines = console.take();
    }
    if (!messages) return;
    for (const auto& line : lines) {
        if (line.rfind("WARNING - ", 0) == 0) messages(line);
    }
}

}  // namespace kelvara::ensemble_detail
