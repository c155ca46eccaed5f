// Times the ensemble statistics on generated runs of the benchmark mesh's size:
//   bench_ensemble [--runs N] [--nodes M] [--steps S] [--no-max] [--budget MB] [--folder DIR]
//                  [--keep]
// Writes N depth runs (groups of 10, "d01" ...) of the valley's node and cell counts into a fresh
// folder (untimed), each with S hourly steps and, unless --no-max, the model's maxima at 99999;
// then, from the page cache, times reading the bytes of the steps the ensemble uses (the 99999
// step of each run, or every step with --no-max) as cat would, and the ensemble pass itself
// (median, percentiles 10, 50 and 90, per-group medians, the output and legend written) in a
// child process whose peak resident memory is reported (ru_maxrss from wait4). The folder is
// removed at the end, unless --keep.
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_case.h"
#include "ensemble/ensemble.h"
#include "fileio/error.h"
#include "fileio/units.h"

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "bench_ensemble: %s\n", what.c_str());
    std::exit(2);
}

struct Put {
    std::vector<unsigned char> bytes;
    void i32(std::int32_t v) {
        unsigned char b[4];
        bench_case::putInt(b, v);
        bytes.insert(bytes.end(), b, b + 4);
    }
    void f32(float v) {
        unsigned char b[4];
        bench_case::putFloat(b, v);
        bytes.insert(bytes.end(), b, b + 4);
    }
};

// A depth that rises and falls with the hour, different for each run and node.
float depthAt(std::uint32_t run, std::size_t node, int hour) {
    std::uint32_t h = static_cast<std::uint32_t>(node) * 2654435761u ^ (run * 40503u);
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    const float base = static_cast<float>(h % 4000) * 0.001f;  // 0 to 4 m
    const float shape = 1.0f - 0.1f * static_cast<float>((hour - static_cast<int>(run % 5)) *
                                                         (hour - static_cast<int>(run % 5)));
    return h % 7 == 0 ? 0.0f : base * (shape > 0 ? shape : 0.05f);
}

// One run; returns the byte range [first, end) of its 99999 step (or of all its steps).
std::pair<long, long> writeRun(const std::string& path, std::uint32_t run, std::int32_t nodes,
                               std::int32_t cells, int steps, bool maximum) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) die("cannot write " + path);
    Put header;
    header.i32(3000);
    for (std::int32_t v : {100, 3, 110, 4, 120, 1, 130, 170}) header.i32(v);
    header.i32(nodes);
    header.i32(180);
    header.i32(cells);
    header.i32(190);
    std::string name = "Depth";
    name.resize(40, ' ');
    header.bytes.insert(header.bytes.end(), name.begin(), name.end());
    std::fwrite(header.bytes.data(), 1, header.bytes.size(), f);
    const long stepsStart = static_cast<long>(header.bytes.size());
    long maxStart = 0;
    std::vector<float> peak(static_cast<std::size_t>(nodes), 0.0f);
    std::vector<std::int8_t> active(static_cast<std::size_t>(cells), 1);
    Put values;
    const auto step = [&](float time, const std::vector<float>& v) {
        values.bytes.clear();
        values.i32(200);
        values.bytes.push_back(1);
        values.f32(time);
        std::fwrite(values.bytes.data(), 1, values.bytes.size(), f);
        std::fwrite(active.data(), 1, active.size(), f);
        values.bytes.clear();
        for (float x : v) values.f32(x);
        std::fwrite(values.bytes.data(), 1, values.bytes.size(), f);
    };
    std::vector<float> v(static_cast<std::size_t>(nodes));
    for (int hour = 0; hour < steps; ++hour) {
        for (std::size_t n = 0; n < v.size(); ++n) {
            v[n] = depthAt(run, n, hour);
            peak[n] = v[n] > peak[n] ? v[n] : peak[n];
        }
        step(static_cast<float>(hour), v);
    }
    if (maximum) {
        maxStart = std::ftell(f);
        step(bench_case::kMaximumTime, peak);
    }
    Put end;
    end.i32(210);
    std::fwrite(end.bytes.data(), 1, 4, f);
    const long last = std::ftell(f) - 4;
    if (std::fclose(f) != 0) die("cannot finish " + path);
    return maximum ? std::make_pair(maxStart, last) : std::make_pair(stepsStart, last);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 100, steps = 3;
    std::int64_t nodesWanted = 1000000;
    bool maximum = true, keep = false;
    std::size_t budgetMb = 64;
    std::string parent = std::filesystem::temp_directory_path().string();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) die(a + " needs a value");
            return argv[++i];
        };
        if (a == "--runs") runs = std::atoi(value().c_str());
        else if (a == "--nodes") nodesWanted = std::atoll(value().c_str());
        else if (a == "--steps") steps = std::atoi(value().c_str());
        else if (a == "--no-max") maximum = false;
        else if (a == "--budget") budgetMb = static_cast<std::size_t>(std::atoll(value().c_str()));
        else if (a == "--folder") parent = value();
        else if (a == "--keep") keep = true;
        else die("unknown argument " + a);
    }
    if (runs < 1 || steps < 1 || nodesWanted < 3) die("runs, steps and nodes must be positive");

    const bench_case::Valley valley = bench_case::buildValley(nodesWanted);
    const auto nodes = static_cast<std::int32_t>(valley.nodeCount());
    const auto cells = static_cast<std::int32_t>(valley.cellCount());
    std::string folder = parent + "/kelvara-ensemble-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) die("cannot make a folder in " + parent);

    const double t0 = now();
    std::string list = "group,file\n";
    std::vector<std::string> paths;
    std::vector<std::pair<long, long>> used;
    for (int r = 0; r < runs; ++r) {
        char name[64];
        std::snprintf(name, sizeof name, "d%02d_tp%02d_d.dat", r / 10 + 1, r % 10 + 1);
        paths.push_back(folder + "/" + name);
        used.push_back(writeRun(paths.back(), static_cast<std::uint32_t>(r), nodes, cells, steps, maximum));
        list += "d" + std::to_string(r / 10 + 1) + "," + name + "\n";
    }
    const std::string listPath = folder + "/study.csv";
    {
        std::FILE* f = std::fopen(listPath.c_str(), "w");
        if (f == nullptr) die("cannot write the list");
        std::fputs(list.c_str(), f);
        std::fclose(f);
    }
    std::printf("%d runs of %d nodes and %d cells, %d steps each%s: written in %.1f s\n", runs, nodes,
                cells, steps, maximum ? " and the maxima at 99999" : "", now() - t0);

    // The bytes the ensemble uses, read as cat reads them (1 MiB at a time), twice: the first
    // brings them into the page cache.
    double readSeconds = 0;
    long long usedBytes = 0;
    std::vector<char> buffer(1 << 20);
    for (int round = 0; round < 2; ++round) {
        const double start = now();
        usedBytes = 0;
        for (std::size_t r = 0; r < paths.size(); ++r) {
            const int fd = ::open(paths[r].c_str(), O_RDONLY);
            if (fd < 0) die("cannot read " + paths[r]);
            for (long at = used[r].first; at < used[r].second;) {
                const long want = std::min<long>(static_cast<long>(buffer.size()), used[r].second - at);
                const ssize_t got = ::pread(fd, buffer.data(), static_cast<std::size_t>(want), at);
                if (got <= 0) die("short read of " + paths[r]);
                at += got;
                usedBytes += got;
            }
            ::close(fd);
        }
        readSeconds = now() - start;
    }

    std::fflush(stdout);
    const double start = now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        kelvara::INITFILEUNITS();
        kelvara::ErrorScope scope;
        try {
            kelvara::EnsembleRequest request;
            request.runs = kelvara::readRunList(listPath);
            request.percentiles = {10, 50, 90};
            request.perGroup = true;
            request.outputPath = kelvara::defaultEnsembleOutputName(listPath);
            request.peakBudget = budgetMb << 20;
            const kelvara::EnsembleResult result = kelvara::computeEnsemble(request);
            kelvara::writeEnsembleOutputs(result, request.outputPath);
            std::printf("peaks %s\n", result.spilled ? "through the work file" : "in memory");
            std::fflush(stdout);
        } catch (const kelvara::Error& e) {
            for (const auto& line : e.lines()) std::fprintf(stderr, "%s\n", line.c_str());
            std::_Exit(1);
        }
        std::_Exit(0);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) die("fork or wait4 failed");
    const double seconds = now() - start;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) die("the ensemble pass failed");

    std::printf("used steps: %.0f MB, read from the page cache in %.3f s\n", usedBytes / 1e6, readSeconds);
    std::printf("ensemble pass: %.3f s (%.2f x the read), peak memory %.1f MiB\n", seconds,
                seconds / readSeconds, usage.ru_maxrss / 1024.0);
    if (keep) {
        std::printf("kept: %s\n", folder.c_str());
    } else {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
    return 0;
}
