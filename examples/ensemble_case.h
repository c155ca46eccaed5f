// The example ensemble: design storms of three durations (1h, 3h, 9h), three temporal patterns
// each, run through the valley of the example flood case. The short storms rise highest
// upstream and fade on their way down; the long ones carry more water to the lower valley. So
// the critical duration changes along the valley: what the ensemble statistics are for.
// Depths only, hourly for the maximum at 99999 and stored every two hours, to keep it small.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "flood_case.h"

namespace flood_example {

struct EnsembleRun {
    const char* duration;
    const char* pattern;
    Scenario wave;
};

inline const std::vector<EnsembleRun>& ensembleRuns() {
    static const std::vector<EnsembleRun> runs = {
        {"1h", "tp01", {"", 2.9, 1.5, 2.0}}, {"1h", "tp02", {"", 2.6, 1.3, 2.5}},
        {"1h", "tp03", {"", 3.1, 1.6, 1.5}}, {"3h", "tp01", {"", 2.5, 2.1, 3.0}},
        {"3h", "tp02", {"", 2.3, 2.3, 3.5}}, {"3h", "tp03", {"", 2.7, 1.9, 3.0}},
        {"9h", "tp01", {"", 1.9, 2.6, 5.0}}, {"9h", "tp02", {"", 2.1, 2.4, 5.5}},
        {"9h", "tp03", {"", 1.7, 2.9, 4.5}},
    };
    return runs;
}

// Writes valley.2dm and its valley.prj, <duration>/<pattern>_d.dat for every run and the list study.csv into
// folder (created when missing). Returns the names written, in order.
inline std::vector<std::string> writeEnsembleCase(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    const Valley v = buildValley();
    std::vector<std::string> written;
    auto emit = [&](const std::string& name, const std::string& bytes) {
        writeFile(folder / name, bytes);
        written.push_back(name);
    };
    emit("valley.2dm", meshText(v));
    emit("valley.prj", referenceText());
    std::string list = "group,file\n# storm duration, run of one temporal pattern\n";
    for (const EnsembleRun& run : ensembleRuns()) {
        std::vector<Step> hourly, stored;
        for (int hour = 0; hour <= kLastHour; ++hour) hourly.push_back(computeStep(v, run.wave, hour));
        for (int hour = 0; hour <= kLastHour; hour += 2) stored.push_back(hourly[hour]);
        stored.push_back(maximumStep(v, hourly));
        const std::string name = std::string(run.duration) + "/" + run.pattern + "_d.dat";
        std::filesystem::create_directories(folder / run.duration);
        emit(name, datasetBytes(v, stored, Quantity::Depth));
        list += std::string(run.duration) + "," + name + "\n";
    }
    emit("study.csv", list);
    return written;
}

}  // namespace flood_example
