// The settings of -ensemble from its long options (--runs, --group, --stat, --percentiles,
// --per-group, --skip-missing), kept with the operation: they decide its runs, its output's
// name and its steps.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kelvara {

struct EnsembleSettings {
    std::string runsList;  // --runs: the list file of "group,file" lines
    // --group NAME, each with the count of names given on the command line before it: the files
    // from there to the next --group are that group's runs.
    std::vector<std::pair<std::string, int>> groups;
    bool mean = false;                // --stat mean (median by default)
    std::vector<double> percentiles;  // --percentiles, in the order given
    bool perGroup = false;            // --per-group
    bool skipMissing = false;         // --skip-missing
    // The options given, as typed, for the error when they come without -ensemble.
    std::vector<std::string> given;
};

}  // namespace kelvara
