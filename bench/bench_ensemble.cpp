// Times the ensemble statistics on generated runs of the benchmark mesh's size:
//   bench_ensemble [--runs N] [--nodes M] [--steps S] [--no-max] [--budget MB] [--folder DIR]
//                  [--keep] [--reuse DIR] [--rounds R] [--tool PATH]
// Writes N depth runs (groups of 10, "d01" ...) of the valley's node and cell counts into a fresh
// folder (untimed), each with S hourly steps and, unless --no-max, the model's maxima at 99999;
// then, from the page cache, times reading the bytes of the steps the ensemble uses (the 99999
// step of each run, or every step with --no-max) two ways: as cat would (1 MiB reads into one
// buffer) and through the dataset reader (each run opened, its header read, the other steps
// passed over, the used steps' flags and values read into tables, no work on them); and the
// ensemble pass itself (median, percentiles 10, 50 and 90, per-group medians, the output and
// legend written) in a child process whose peak resident memory is reported (ru_maxrss from
// wait4), R times (default 1; each figure the median). --budget MB sets the memory for the peaks
// (by default the pass works it out). The folder is removed at the end, unless --keep; --reuse
// DIR takes the runs of a folder kept before (written with the same --nodes, --steps and
// --no-max) instead of writing new ones. --tool PATH: the pass is the command line
// "PATH -b -ensemble --runs LIST --percentiles 10,50,90 --per-group", run as its own process
// (the figure of the runs' reading is then not known; --budget does not apply).
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
#include <functional>
#include <string>
#include <vector>

#include <algorithm>

#include "bench_case.h"
#include "ensemble/ensemble.h"
#include "fileio/error.h"
#include "fileio/units.h"
#include "formats/dataset_io.h"

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

// The byte range [first, end) of the used steps of a run written by writeRun, from its size.
std::pair<long, long> usedRange(const std::string& path, std::int32_t nodes, std::int32_t cells,
                                bool maximum) {
    std::error_code ec;
    const auto size = static_cast<long>(std::filesystem::file_size(path, ec));
    if (ec) die("cannot find " + path);
    const long headerBytes = 92;
    const long stepBytes = 4 + 1 + 4 + static_cast<long>(cells) + 4 * static_cast<long>(nodes);
    const long last = size - 4;
    return maximum ? std::make_pair(last - stepBytes, last) : std::make_pair(headerBytes, last);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Reads the used steps of every run through the dataset reader, as the ensemble must at least.
void readThroughReader(const std::vector<std::string>& paths, bool maximum, std::int32_t nodes,
                       std::int32_t cells) {
    std::vector<float> values(static_cast<std::size_t>(nodes));
    std::vector<std::int8_t> active(static_cast<std::size_t>(cells));
    const std::function<bool(float)> wanted = [maximum](float t) {
        return maximum ? t == bench_case::kMaximumTime : t > -99998.0f && t < 99998.0f;
    };
    kelvara::StepRequest request;
    request.wanted = &wanted;
    request.flags = kelvara::FlagReading::Defer;
    for (const std::string& path : paths) {
        kelvara::DatasetReader reader = kelvara::DatasetReader::open(path);
        reader.readHeader();
        while (reader.hasStep()) {
            const kelvara::StepRead step = reader.nextStep({active.data(), values.data(), nullptr}, request);
            if (step.valuesRead && reader.hasDeferredFlags()) reader.readDeferredFlags(active.data());
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 100, steps = 3;
    std::int64_t nodesWanted = 1000000;
    bool maximum = true, keep = false;
    int rounds = 1;
    std::string reuse, tool;
    std::size_t budgetMb = 0;  // 0: worked out by the pass
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
        else if (a == "--reuse") reuse = value();
        else if (a == "--rounds") rounds = std::max(1, std::atoi(value().c_str()));
        else if (a == "--tool") tool = value();
        else die("unknown argument " + a);
    }
    if (runs < 1 || steps < 1 || nodesWanted < 3) die("runs, steps and nodes must be positive");

    // Only the counts of the valley are used: its tables are not kept, so that the children do
    // not inherit them (their resident memory would count them).
    std::int32_t nodes = 0, cells = 0;
    {
        const bench_case::Valley valley = bench_case::buildValley(nodesWanted);
        nodes = static_cast<std::int32_t>(valley.nodeCount());
        cells = static_cast<std::int32_t>(valley.cellCount());
    }
    std::string folder = reuse;
    if (reuse.empty()) {
        folder = parent + "/kelvara-ensemble-XXXXXX";
        if (::mkdtemp(folder.data()) == nullptr) die("cannot make a folder in " + parent);
    } else {
        keep = true;
    }

    const double t0 = now();
    std::string list = "group,file\n";
    std::vector<std::string> paths;
    std::vector<std::pair<long, long>> used;
    for (int r = 0; r < runs; ++r) {
        char name[64];
        std::snprintf(name, sizeof name, "d%02d_tp%02d_d.dat", r / 10 + 1, r % 10 + 1);
        paths.push_back(folder + "/" + name);
        if (reuse.empty()) {
            used.push_back(writeRun(paths.back(), static_cast<std::uint32_t>(r), nodes, cells, steps, maximum));
        } else {
            used.push_back(usedRange(paths.back(), nodes, cells, maximum));
        }
        list += "d" + std::to_string(r / 10 + 1) + "," + name + "\n";
    }
    const std::string listPath = folder + "/study" + std::to_string(runs) + ".csv";
    {
        std::FILE* f = std::fopen(listPath.c_str(), "w");
        if (f == nullptr) die("cannot write the list");
        std::fputs(list.c_str(), f);
        std::fclose(f);
    }
    std::printf("%d runs of %d nodes and %d cells, %d steps each%s: %s in %.1f s\n", runs, nodes,
                cells, steps, maximum ? " and the maxima at 99999" : "",
                reuse.empty() ? "written" : "found", now() - t0);

    // The bytes the ensemble uses, read as cat reads them (1 MiB at a time); the first round
    // brings them into the page cache.
    std::vector<double> catSeconds, readerSeconds, passSeconds, readingSeconds, memory, cpuSeconds;
    long long usedBytes = 0;
    std::vector<char> buffer(1 << 20);
    for (int round = 0; round <= rounds; ++round) {
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
        if (round > 0) catSeconds.push_back(now() - start);
    }

    std::string spilled;
    for (int round = 0; round < rounds; ++round) {
        // The same through the dataset reader, in a child so that its tables are fresh each time.
        std::fflush(stdout);
        double start = now();
        pid_t pid = ::fork();
        if (pid == 0) {
            kelvara::ErrorScope scope;
            try {
                readThroughReader(paths, maximum, nodes, cells);
            } catch (const kelvara::Error& e) {
                for (const auto& line : e.lines()) std::fprintf(stderr, "%s\n", line.c_str());
                std::_Exit(1);
            }
            std::_Exit(0);
        }
        int status = 0;
        if (pid < 0 || ::waitpid(pid, &status, 0) != pid) die("fork or wait failed");
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) die("the reader failed");
        readerSeconds.push_back(now() - start);

        // The ensemble pass; the child writes when its last run was read and how it kept the peaks
        // into a pipe.
        int pipeEnds[2];
        if (::pipe(pipeEnds) != 0) die("pipe failed");
        std::fflush(stdout);
        start = now();
        pid = ::fork();
        const std::string console = folder + "/tool_console.txt";
        if (pid == 0 && !tool.empty()) {
            ::close(pipeEnds[0]);
            ::close(pipeEnds[1]);
            const int out = ::open(console.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out < 0 || ::dup2(out, 1) < 0) std::_Exit(126);
            ::execl(tool.c_str(), tool.c_str(), "-b", "-ensemble", "--runs", listPath.c_str(),
                    "--percentiles", "10,50,90", "--per-group", static_cast<char*>(nullptr));
            std::_Exit(127);
        }
        if (pid == 0) {
            ::close(pipeEnds[0]);
            kelvara::INITFILEUNITS();
            kelvara::ErrorScope scope;
            try {
                kelvara::EnsembleRequest request;
                request.runs = kelvara::readRunList(listPath);
                request.percentiles = {10, 50, 90};
                request.perGroup = true;
                request.outputPath = kelvara::defaultEnsembleOutputName(listPath);
                request.peakBudget = budgetMb << 20;
                // The runs are read once the last progress line has come and one run's time more
                // has passed: the first and last lines give that time.
                double first = 0, last = 0;
                int lines = 0;
                const kelvara::EnsembleResult result =
                    kelvara::computeEnsemble(request, [&](const std::string& line) {
                        if (line.rfind("[", 0) != 0) return;
                        last = now();
                        if (lines++ == 0) first = last;
                    });
                kelvara::writeEnsembleOutputs(result, request.outputPath);
                const double perRun = lines > 1 ? (last - first) / (lines - 1) : 0;
                char text[128];
                const int n = std::snprintf(text, sizeof text, "%.6f %d\n", last + perRun - start,
                                            result.spilled ? 1 : 0);
                if (::write(pipeEnds[1], text, static_cast<std::size_t>(n)) != n) std::_Exit(1);
            } catch (const kelvara::Error& e) {
                for (const auto& line : e.lines()) std::fprintf(stderr, "%s\n", line.c_str());
                std::_Exit(1);
            }
            std::_Exit(0);
        }
        ::close(pipeEnds[1]);
        rusage usage{};
        if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) die("fork or wait4 failed");
        const double seconds = now() - start;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) die("the ensemble pass failed");
        char text[128] = {};
        const ssize_t got = ::read(pipeEnds[0], text, sizeof text - 1);
        ::close(pipeEnds[0]);
        double reading = 0;
        int spill = 0;
        if (!tool.empty()) {
            // The tool says when its peaks went through the work file.
            std::FILE* f = std::fopen(console.c_str(), "r");
            std::string said;
            for (int c; f != nullptr && (c = std::fgetc(f)) != EOF;) said.push_back(static_cast<char>(c));
            if (f != nullptr) std::fclose(f);
            spill = said.find("work file") != std::string::npos ? 1 : 0;
            reading = -1;
        } else if (got <= 0 || std::sscanf(text, "%lf %d", &reading, &spill) != 2) {
            die("no word from the pass");
        }
        spilled = spill ? "through the work file" : "in memory";
        passSeconds.push_back(seconds);
        readingSeconds.push_back(reading);
        memory.push_back(usage.ru_maxrss / 1024.0);
        const auto cpu = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
        cpuSeconds.push_back(cpu(usage.ru_utime) + cpu(usage.ru_stime));
    }

    const double cat = median(catSeconds), reader = median(readerSeconds), pass = median(passSeconds);
    std::printf("used steps: %.0f MB, read from the page cache in %.3f s as cat, %.3f s through the reader\n",
                usedBytes / 1e6, cat, reader);
    std::printf("ensemble pass%s: %.3f s (%.2f x the cat read, %.2f x the reader), ",
                tool.empty() ? "" : " (the tool's command line)", pass, pass / cat, pass / reader);
    if (tool.empty()) std::printf("runs read by about %.3f s, ", median(readingSeconds));
    std::printf("peaks %s, peak memory %.1f MiB\n", spilled.c_str(), median(memory));
    std::printf("processor time of the pass (both cores): %.3f s\n", median(cpuSeconds));
    if (rounds > 1) {
        std::printf("passes:");
        for (double t : passSeconds) std::printf(" %.3f", t);
        std::printf("\n");
    }
    if (keep) {
        std::printf("kept: %s\n", folder.c_str());
    } else {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
    return 0;
}
