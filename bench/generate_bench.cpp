// Writes the benchmark flood case into a folder:
//   generate_bench <folder> [--nodes N] [--steps S] [--no-maximum] [--datasets hdV]
// N nodes (default 1000000) on about 2 N cells, S hourly steps (default 100) plus a step of the
// maxima at 99999, and for each of the runs "base" and "design" its mesh <run>.2dm and the
// datasets <run>_h.dat, <run>_d.dat and <run>_V.dat (--datasets picks a subset, e.g. "V").
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

#include "bench_case.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: generate_bench <folder> [--nodes N] [--steps S] [--no-maximum] "
                 "[--datasets hdV]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace bench_case;
    Settings settings;
    std::string folder;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--nodes" && hasValue) {
            settings.nodes = std::atoll(argv[++i]);
        } else if (a == "--steps" && hasValue) {
            settings.steps = std::atoi(argv[++i]);
        } else if (a == "--datasets" && hasValue) {
            settings.datasets = argv[++i];
        } else if (a == "--no-maximum") {
            settings.maximumStep = false;
        } else if (!a.empty() && a[0] != '-' && folder.empty()) {
            folder = a;
        } else {
            return usage();
        }
    }
    if (folder.empty() || settings.nodes < 12 || settings.steps < 0) return usage();

    try {
        const auto start = std::chrono::steady_clock::now();
        std::filesystem::create_directories(folder);
        folder = (std::filesystem::path(folder) / "").string();
        const Valley valley = buildValley(settings.nodes);

        // One thread per run; this one formats and writes the meshes meanwhile.
        std::exception_ptr failure[2];
        std::thread runs[2];
        for (int r = 0; r < 2; ++r) {
            runs[r] = std::thread([&, r] {
                try {
                    writeRun(valley, scenarios()[r], settings, folder);
                } catch (...) {
                    failure[r] = std::current_exception();
                }
            });
        }
        const std::vector<char> mesh = meshText(valley);
        for (const Scenario& s : scenarios()) writeBytes(folder + s.name + ".2dm", mesh);
        for (auto& t : runs) t.join();
        for (auto& f : failure)
            if (f) std::rethrow_exception(f);

        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::uintmax_t bytes = 0;
        for (const Scenario& s : scenarios()) {
            for (const char* ending : {".2dm", "_h.dat", "_d.dat", "_V.dat"}) {
                const std::string path = folder + s.name + ending;
                std::error_code ec;
                const std::uintmax_t size = std::filesystem::file_size(path, ec);
                if (!ec) bytes += size;
            }
        }
        std::printf("Wrote the case to %s: %lld nodes (%d x %d), %lld cells, %d hourly steps%s, "
                    "%.2f GB in %.1f s\n",
                    folder.c_str(), static_cast<long long>(valley.nodeCount()), valley.columns,
                    valley.rows, static_cast<long long>(valley.cellCount()), settings.steps,
                    settings.maximumStep ? " + the maxima at 99999" : "", bytes / 1e9, seconds);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "generate_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
