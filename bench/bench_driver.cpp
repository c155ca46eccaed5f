// The benchmark driver (POSIX): runs the built tool on a case written by generate_bench and
// reports what it finds.
//
//   bench_driver table  <case> [--runs N] [--only NAME,...]
//       Times every operation (median of N runs, default 5, after one untimed run) against its
//       I/O limit: reading the operation's inputs (meshes and companions included) once from the
//       page cache and writing a file of the size of its output. Prints one table row per
//       operation with the peak resident memory of the tool (ru_maxrss from wait4) and the
//       memory the design allows: 36 bytes per node + 18 per cell + 64 MiB.
//   bench_driver memory <case with few steps> <case with many steps>
//       Peak resident memory of every operation on both cases, which must be the same.
//   bench_driver large  <case with only _V datasets of over 2 GiB each>
//       Concatenates the two vector datasets into one of over 4 GiB, checks its size and its
//       bytes, and reads it back (-max, -times) to check that the values beyond 4 GiB come out
//       right.
//
// The tool runs in the case's folder with "-b", standard input from /dev/null and its console
// output in bench_console.txt there. Every output is removed before each run and at the end,
// and every timed run starts after sync(), with no dirty pages left from the run before.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char* const kConsoleFile = "bench_console.txt";
const char* const kLimitFile = "bench_limit.tmp";
constexpr double kMiB = 1024.0 * 1024.0;

std::string gTool = KELVARA_TOOL_PATH;
std::string gMeshTool = KELVARA_BENCH_MESH_PATH;

[[noreturn]] void die(const std::string& text) {
    std::fprintf(stderr, "bench_driver: %s\n", text.c_str());
    std::exit(1);
}

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

struct Child {
    int status = -1;
    double seconds = 0.0;     // wall clock
    double cpuSeconds = 0.0;  // user + system
    long peakKb = 0;
};

double cpuNow() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double toSeconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
}

// Runs argv in folder with standard input from /dev/null, standard output into the console
// file and standard error into errPath (or the console file too).
Child spawn(const std::vector<std::string>& argv, const std::string& folder,
            const std::string& errPath = {}) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::fflush(nullptr);
    Child result;
    const double start = now();
    const pid_t pid = fork();
    if (pid < 0) die("fork failed");
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0) _exit(126);
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(kConsoleFile, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = errPath.empty() ? out : open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid) die("wait4 failed");
    result.seconds = now() - start;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.peakKb = usage.ru_maxrss;
    result.cpuSeconds = toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
    return result;
}

std::string consoleTail(const std::string& folder) {
    std::ifstream in(folder + "/" + kConsoleFile);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::string tail;
    for (std::size_t i = lines.size() > 8 ? lines.size() - 8 : 0; i < lines.size(); ++i)
        tail += "    " + lines[i] + "\n";
    return tail;
}

// Name -> (size, modification time) of the files of a folder.
std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>> listing(const std::string& folder) {
    std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>> files;
    for (const auto& e : fs::directory_iterator(folder)) {
        if (!e.is_regular_file()) continue;
        files[e.path().filename().string()] = {e.file_size(), e.last_write_time()};
    }
    return files;
}

std::uintmax_t fileSize(const std::string& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    return ec ? 0 : size;
}

// Node and cell counts from the header that generate_bench writes.
struct Counts {
    std::int64_t nodes = 0, cells = 0;
};

Counts countsOf(const std::string& dataset) {
    std::ifstream in(dataset, std::ios::binary);
    unsigned char h[92];
    if (!in.read(reinterpret_cast<char*>(h), sizeof h)) die("cannot read " + dataset);
    auto at = [&h](int offset) {
        std::int32_t v;
        std::memcpy(&v, h + offset, 4);
        return v;
    };
    if (at(32) != 170 || at(40) != 180) die(dataset + " is not a dataset of generate_bench");
    return {at(36), at(44)};
}

double allowedMiB(const Counts& c) {
    return (36.0 * static_cast<double>(c.nodes) + 18.0 * static_cast<double>(c.cells)) / kMiB + 64.0;
}

// --- the I/O limit ----------------------------------------------------------------------

struct Timing {
    double wall = 0.0, cpu = 0.0;
};

Timing ioLimit(const std::string& folder, const std::vector<std::string>& inputs,
               std::uintmax_t outputBytes) {
    static std::vector<char> buffer(std::size_t{1} << 20);
    const std::string outPath = folder + "/" + kLimitFile;
    unlink(outPath.c_str());
    const double start = now();
    const double cpuStart = cpuNow();
    for (const auto& name : inputs) {
        const int fd = open((folder + "/" + name).c_str(), O_RDONLY);
        if (fd < 0) die("cannot open " + name);
        while (read(fd, buffer.data(), buffer.size()) > 0) {
        }
        close(fd);
    }
    if (outputBytes > 0) {
        const int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) die("cannot create " + outPath);
        for (std::uintmax_t left = outputBytes; left > 0;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uintmax_t>(left, buffer.size()));
            if (write(fd, buffer.data(), n) != static_cast<ssize_t>(n)) die("cannot write " + outPath);
            left -= n;
        }
        close(fd);
    }
    const Timing t{now() - start, cpuNow() - cpuStart};
    unlink(outPath.c_str());
    return t;
}

// --- the operations ---------------------------------------------------------------------

enum class Target { CopyRatio, NodeRatio, Seconds, None };

struct Operation {
    std::string name;
    std::vector<std::string> args;    // after the tool's "-b"; empty for the mesh reader
    std::vector<std::string> inputs;  // every file the operation reads
    Target target;
    double limit;  // ratio or seconds
};

std::vector<Operation> operations() {
    const std::string h1 = "base_h.dat", h2 = "design_h.dat", d1 = "base_d.dat",
                      d2 = "design_d.dat", v1 = "base_V.dat", m1 = "base.2dm", m2 = "design.2dm";
    return {
        {"-con", {"-con", h1, h2}, {h1, h2}, Target::CopyRatio, 1.3},
        {"-k", {"-k5", h1}, {h1}, Target::CopyRatio, 1.3},
        {"-r", {"-r99999", h1}, {h1}, Target::CopyRatio, 1.3},
        {"-trim (vector)", {"-trim1", v1}, {v1}, Target::CopyRatio, 1.3},
        {"-va", {"-va", v1}, {v1}, Target::CopyRatio, 1.3},
        {"-times", {"-times", h1}, {h1}, Target::CopyRatio, 1.3},
        {"-max (water level)", {"-max", h1}, {h1, m1}, Target::Seconds, 1.2},
        {"-max (depth)", {"-max", d1}, {d1}, Target::NodeRatio, 2.0},
        {"-max (vector)", {"-max", v1}, {v1}, Target::NodeRatio, 2.0},
        {"-dur", {"-dur0.1", d1}, {d1}, Target::NodeRatio, 2.0},
        {"-dif", {"-dif", d1, d2}, {d1, d2, h1, h2, m1, m2}, Target::Seconds, 2.0},
        {"-dif -nowetdry", {"-dif", "-nowetdry", d1, d2}, {d1, d2}, Target::NodeRatio, 2.0},
        {"-ddur", {"-ddur0.1", "-t48", d1, d2}, {d1, d2}, Target::Seconds, 0.6},
        {"-arrival", {"-arrival0.1", d1}, {d1}, Target::NodeRatio, 2.0},
        {"-hazard", {"-hazard", d1}, {d1, v1}, Target::NodeRatio, 2.0},
        // One band of 10,000,000 cells (the valley is 10 km by 1 km) from the step at 48 h.
        {"-grid", {"-grid1", "-t48", d1}, {d1, m1}, Target::Seconds, 3.0},
        {"mesh read", {}, {m1}, Target::Seconds, 0.4},
        {"-calc dv2", {"-calc", "dv2", d1}, {d1, v1}, Target::NodeRatio, 2.0},
        // Polygons of the depths at 48 h at three thresholds, traced on the whole mesh.
        {"-extent", {"-extent0.1,0.3,1", "-t48", d1}, {d1, m1}, Target::Seconds, 3.0},
        // The mesh and two datasets of 101 steps in one NetCDF file.
        {"-ugrid", {"-ugrid", d1, v1}, {d1, v1, m1}, Target::NodeRatio, 2.0},
        {"-ugrid --deflate 0", {"-ugrid", d1, v1, "--deflate", "0"}, {d1, v1, m1},
         Target::NodeRatio, 2.0},
    };
}

std::string commandText(const Operation& op) {
    if (op.args.empty()) return "(mesh reader alone)";
    std::string text = "kelvara -b";
    for (const auto& a : op.args) text += " " + a;
    return text;
}

std::vector<std::string> toolArgv(const Operation& op) {
    std::vector<std::string> argv{gTool, "-b"};
    argv.insert(argv.end(), op.args.begin(), op.args.end());
    return argv;
}

// Runs the operation once; returns its result and the name of the file it wrote ("" if none).
Child runOnce(const Operation& op, const std::string& folder, const Counts& counts,
              std::string& output, Timing& inner) {
    if (op.args.empty()) {
        const std::string errPath = folder + "/bench_mesh.txt";
        Child c = spawn({gMeshTool, op.inputs[0], std::to_string(counts.nodes),
                         std::to_string(counts.cells), "1"},
                        folder, errPath);
        std::ifstream in(errPath);
        std::string word, cpuWord;
        in >> word >> inner.wall >> cpuWord >> inner.cpu;
        unlink(errPath.c_str());
        output.clear();
        return c;
    }
    const auto before = listing(folder);
    Child c = spawn(toolArgv(op), folder);
    inner = {c.seconds, c.cpuSeconds};
    if (c.status != 0) {
        die("\"" + commandText(op) + "\" ended with status " + std::to_string(c.status) + ":\n" +
            consoleTail(folder));
    }
    output.clear();
    for (const auto& [name, info] : listing(folder)) {
        if (name == kConsoleFile) continue;
        auto it = before.find(name);
        if (it == before.end() || it->second != info) output = name;
    }
    return c;
}

void removeOutput(const std::string& folder, const std::string& output) {
    if (!output.empty()) unlink((folder + "/" + output).c_str());
}

std::string fixed(double v, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

std::vector<std::string> splitNames(const std::string& list) {
    std::vector<std::string> names;
    std::stringstream in(list);
    for (std::string name; std::getline(in, name, ',');) names.push_back(name);
    return names;
}

std::string loadAverage() {
    std::string text = "?";
    if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
        char line[128];
        if (std::fgets(line, sizeof line, f)) {
            text = line;
            text = text.substr(0, text.find(' ', text.find(' ', text.find(' ') + 1) + 1));
        }
        std::fclose(f);
    }
    return text;
}

int table(const std::string& folder, int runs, const std::vector<std::string>& only) {
    const Counts counts = countsOf(folder + "/base_h.dat");
    const double allowed = allowedMiB(counts);
    std::printf("Case: %lld nodes, %lld cells, %lld steps per dataset (base_h.dat %.0f MB); "
                "medians of %d runs; load average %s at the start\n\n",
                static_cast<long long>(counts.nodes), static_cast<long long>(counts.cells),
                static_cast<long long>((static_cast<std::int64_t>(fileSize(folder + "/base_h.dat")) - 96) /
                                       (9 + counts.cells + 4 * counts.nodes)),
                fileSize(folder + "/base_h.dat") / 1e6, runs, loadAverage().c_str());
    std::printf("| operation | command | in MB | out MB | seconds | CPU s | I/O limit s | limit CPU s "
                "| ratio | target | peak MiB | allowed MiB |\n");
    std::printf("|---|---|--:|--:|--:|--:|--:|--:|--:|---|--:|--:|\n");
    std::fflush(stdout);
    bool allMet = true;
    for (const Operation& op : operations()) {
        if (!only.empty() && std::find(only.begin(), only.end(), op.name) == only.end()) continue;
        std::string output;
        Timing inner;
        runOnce(op, folder, counts, output, inner);  // untimed: warms the page cache
        const std::uintmax_t outBytes = output.empty() ? 0 : fileSize(folder + "/" + output);
        std::uintmax_t inBytes = 0;
        for (const auto& name : op.inputs) inBytes += fileSize(folder + "/" + name);

        std::vector<double> wall, cpu, limitWall, limitCpu;
        long peakKb = 0;
        for (int r = 0; r < runs; ++r) {
            // Alternately, so that both see the same load; each starts with no dirty pages
            // waiting to be written, so that neither is held back to the disk's pace by what
            // the other wrote.
            removeOutput(folder, output);
            sync();
            const Timing limit = ioLimit(folder, op.inputs, outBytes);
            limitWall.push_back(limit.wall);
            limitCpu.push_back(limit.cpu);
            sync();
            std::string again;
            Child c = runOnce(op, folder, counts, again, inner);
            wall.push_back(inner.wall);
            cpu.push_back(inner.cpu);
            peakKb = std::max(peakKb, c.peakKb);
        }
        removeOutput(folder, output);
        const double s = median(wall), limit = median(limitWall), ratio = s / limit;
        std::string target;
        bool met = true;
        switch (op.target) {
            case Target::CopyRatio:
            case Target::NodeRatio:
                target = "<= " + fixed(op.limit, 1) + " x limit";
                met = ratio <= op.limit;
                break;
            case Target::Seconds:
                target = "<= " + fixed(op.limit, 1) + " s";
                met = s <= op.limit;
                break;
            case Target::None: break;
        }
        const double peak = peakKb / 1024.0;
        const bool tool = !op.args.empty();
        if (tool && peak > allowed) met = false;
        allMet = allMet && met;
        std::printf("| %s | `%s` | %.0f | %.0f | %.3f | %.3f | %.3f | %.3f | %.2f | %s%s | %s | %s |\n",
                    op.name.c_str(), commandText(op).c_str(), inBytes / 1e6, outBytes / 1e6, s,
                    median(cpu), limit, median(limitCpu), ratio, target.c_str(),
                    met ? "" : " (missed)", tool ? fixed(peak, 1).c_str() : "-",
                    tool ? fixed(allowed, 1).c_str() : "-");
        std::fflush(stdout);
    }
    unlink((folder + "/" + kConsoleFile).c_str());
    std::printf("\nLoad average at the end: %s. %s\n", loadAverage().c_str(),
                allMet ? "Every target met." : "Some targets missed (marked).");
    return 0;
}

// --- memory against the number of steps ------------------------------------------------

std::int64_t stepsOf(const std::string& dataset, const Counts& c) {
    const std::int64_t step = 9 + c.cells + 4 * c.nodes;
    return (static_cast<std::int64_t>(fileSize(dataset)) - 96) / step;
}

int memory(const std::string& few, const std::string& many) {
    const Counts c1 = countsOf(few + "/base_h.dat"), c2 = countsOf(many + "/base_h.dat");
    if (c1.nodes != c2.nodes || c1.cells != c2.cells) die("the two cases differ in size");
    const std::int64_t s1 = stepsOf(few + "/base_h.dat", c1), s2 = stepsOf(many + "/base_h.dat", c2);
    std::printf("Peak resident memory, %lld nodes and %lld cells: %lld steps against %lld steps "
                "(allowed %.1f MiB)\n\n",
                static_cast<long long>(c1.nodes), static_cast<long long>(c1.cells),
                static_cast<long long>(s1), static_cast<long long>(s2), allowedMiB(c1));
    std::printf("| operation | peak MiB, %lld steps | peak MiB, %lld steps | difference MiB |\n",
                static_cast<long long>(s1), static_cast<long long>(s2));
    std::printf("|---|--:|--:|--:|\n");
    double worst = 0.0;
    for (const Operation& op : operations()) {
        if (op.args.empty()) continue;
        double peak[2];
        const std::string folders[2] = {few, many};
        for (int i = 0; i < 2; ++i) {
            std::string output;
            Timing inner;
            Child c = runOnce(op, folders[i], c1, output, inner);
            removeOutput(folders[i], output);
            peak[i] = c.peakKb / 1024.0;
        }
        worst = std::max(worst, std::abs(peak[1] - peak[0]));
        std::printf("| %s | %.1f | %.1f | %+.1f |\n", op.name.c_str(), peak[0], peak[1],
                    peak[1] - peak[0]);
        std::fflush(stdout);
    }
    for (const auto& f : {few, many}) unlink((f + "/" + kConsoleFile).c_str());
    std::printf("\nLargest difference: %.1f MiB.\n", worst);
    return worst <= 1.0 ? 0 : 1;
}

// --- datasets over 4 GiB ---------------------------------------------------------------

// A 64-bit hash of bytes [from, to) of a file, 8 bytes at a time.
std::uint64_t hashRange(const std::string& path, std::uint64_t from, std::uint64_t to) {
    static std::vector<unsigned char> buffer(std::size_t{1} << 22);
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) die("cannot open " + path);
    std::uint64_t h = 0x9E3779B97F4A7C15ull;
    std::uint64_t at = from;
    while (at < to) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), to - at));
        const ssize_t got = pread(fd, buffer.data(), want, static_cast<off_t>(at));
        if (got <= 0) die("cannot read " + path);
        const std::size_t n = static_cast<std::size_t>(got);
        std::size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            std::uint64_t w;
            std::memcpy(&w, buffer.data() + i, 8);
            h = (h ^ w) * 0x100000001B3ull;
            h ^= h >> 29;
        }
        for (; i < n; ++i) h = (h ^ buffer[i]) * 0x100000001B3ull;
        at += n;
    }
    close(fd);
    return h;
}

std::vector<unsigned char> bytesAt(const std::string& path, std::uint64_t at, std::size_t count) {
    std::vector<unsigned char> bytes(count);
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0 || pread(fd, bytes.data(), count, static_cast<off_t>(at)) != static_cast<ssize_t>(count))
        die("cannot read " + path);
    close(fd);
    return bytes;
}

float floatAt(const std::vector<unsigned char>& bytes, std::size_t at) {
    float f;
    std::memcpy(&f, bytes.data() + at, 4);
    return f;
}

int large(const std::string& folder) {
    const std::string a = folder + "/base_V.dat", b = folder + "/design_V.dat";
    const Counts c = countsOf(a);
    const std::uint64_t sizeA = fileSize(a), sizeB = fileSize(b);
    const std::uint64_t step = 9 + c.cells + 8 * c.nodes;
    bool ok = true;
    auto check = [&ok](bool good, const std::string& what) {
        std::printf("  %s  %s\n", good ? "ok  " : "FAIL", what.c_str());
        std::fflush(stdout);
        ok = ok && good;
    };
    std::printf("Datasets over 4 GiB: %lld nodes, %lld cells, base_V.dat %.2f GB, design_V.dat "
                "%.2f GB\n",
                static_cast<long long>(c.nodes), static_cast<long long>(c.cells), sizeA / 1e9,
                sizeB / 1e9);

    // Writing: -con of the two.
    Operation con{"-con", {"-con", "base_V.dat", "design_V.dat"}, {}, Target::None, 0};
    std::string joined;
    Timing seconds;
    runOnce(con, folder, c, joined, seconds);
    const std::string out = folder + "/" + joined;
    const std::uint64_t size = fileSize(out);
    std::printf("kelvara -b -con base_V.dat design_V.dat: %s, %.2f GB (%.2f GiB) in %.1f s\n",
                joined.c_str(), size / 1e9, size / (kMiB * 1024.0), seconds.wall);
    check(size > (std::uint64_t{4} << 30), "the output is over 4 GiB");
    check(size == sizeA + sizeB - 96, "its size is the two inputs' steps + header + end card (" +
                                          std::to_string(sizeA + sizeB - 96) + " bytes)");
    const std::uint64_t stepsA = (sizeA - 96) / step, stepsB = (sizeB - 96) / step;
    const std::uint64_t hA = hashRange(a, 92, sizeA - 4), hB = hashRange(b, 92, sizeB - 4);
    const std::uint64_t hOutA = hashRange(out, 92, sizeA - 4);
    const std::uint64_t hOutB = hashRange(out, sizeA - 4, size - 4);
    char text[200];
    std::snprintf(text, sizeof text, "hash of the first input's steps %016llx = output bytes 92..%llu",
                  static_cast<unsigned long long>(hA), static_cast<unsigned long long>(sizeA - 4));
    check(hA == hOutA, text);
    std::snprintf(text, sizeof text, "hash of the second input's steps %016llx = output bytes %llu..%llu",
                  static_cast<unsigned long long>(hB), static_cast<unsigned long long>(sizeA - 4),
                  static_cast<unsigned long long>(size - 4));
    check(hB == hOutB, text);
    const auto end = bytesAt(out, size - 4, 4);
    check(end[0] == 210 && end[1] == 0 && end[2] == 0 && end[3] == 0, "the end card 210 closes it");
    // Some values of the last step, read at their offsets beyond 4 GiB.
    const std::uint64_t lastStep = size - 4 - step;
    const auto outLast = bytesAt(out, lastStep, static_cast<std::size_t>(step));
    const auto inLast = bytesAt(b, sizeB - 4 - step, static_cast<std::size_t>(step));
    // Shown: the fastest node of that step, and the last node.
    const std::size_t values = static_cast<std::size_t>(9 + c.cells);
    std::size_t fastest = 0;
    float top = -1.0f;
    for (std::size_t k = 0; k < static_cast<std::size_t>(c.nodes); ++k) {
        const float x = floatAt(outLast, values + 8 * k), y = floatAt(outLast, values + 8 * k + 4);
        if (x * x + y * y > top) top = x * x + y * y, fastest = k;
    }
    const std::size_t at = values + 8 * fastest;
    const std::size_t lastNode = values + 8 * static_cast<std::size_t>(c.nodes - 1);
    std::snprintf(text, sizeof text,
                  "last step at byte %llu: time %.1f, node %zu (%.3f, %.3f), node %lld (%.3f, "
                  "%.3f), as in design_V.dat",
                  static_cast<unsigned long long>(lastStep), floatAt(outLast, 5), fastest + 1,
                  floatAt(outLast, at), floatAt(outLast, at + 4), static_cast<long long>(c.nodes),
                  floatAt(outLast, lastNode), floatAt(outLast, lastNode + 4));
    check(outLast == inLast, text);

    // Reading: the maximum of the joined file equals that of the two inputs.
    Operation maxJoined{"-max", {"-max", joined}, {}, Target::None, 0};
    Operation maxBoth{"-max", {"-max", "base_V.dat", "design_V.dat"}, {}, Target::None, 0};
    std::string m1, m2;
    runOnce(maxJoined, folder, c, m1, seconds);
    std::printf("kelvara -b -max \"%s\": %.1f s\n", joined.c_str(), seconds.wall);
    runOnce(maxBoth, folder, c, m2, seconds);
    const auto r1 = bytesAt(folder + "/" + m1, 92, static_cast<std::size_t>(step));
    const auto r2 = bytesAt(folder + "/" + m2, 92, static_cast<std::size_t>(step));
    check(r1 == r2, "-max of the joined file = -max of the two inputs (maxima, flags and time)");
    removeOutput(folder, m1);
    removeOutput(folder, m2);

    Operation times{"-times", {"-times", joined}, {}, Target::None, 0};
    std::string listed;
    runOnce(times, folder, c, listed, seconds);
    std::ifstream in(folder + "/" + listed);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    check(lines.size() == stepsA + stepsB,
          "-times lists " + std::to_string(lines.size()) + " steps (" + std::to_string(stepsA) +
              " + " + std::to_string(stepsB) + "), the last " +
              (lines.empty() ? std::string("?") : lines.back()));
    removeOutput(folder, listed);
    removeOutput(folder, joined);
    unlink((folder + "/" + kConsoleFile).c_str());
    std::printf("%s\n", ok ? "Datasets over 4 GiB are written and read correctly."
                           : "Datasets over 4 GiB: FAILED.");
    return ok ? 0 : 1;
}

int usage() {
    std::fprintf(stderr,
                 "usage: bench_driver table <case> [--runs N] [--only NAME,...]\n"
                 "       bench_driver memory <case with few steps> <case with many steps>\n"
                 "       bench_driver large <case of _V datasets over 2 GiB each>\n"
                 "       (any mode: --tool <kelvara>)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> positional;
    int runs = 5;
    std::vector<std::string> only;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--only" && i + 1 < argc) {
            only = splitNames(argv[++i]);
        } else if (a == "--tool" && i + 1 < argc) {
            gTool = fs::absolute(argv[++i]).string();
        } else {
            positional.push_back(a);
        }
    }
    if (positional.empty()) return usage();
    const std::string mode = positional[0];
    for (std::size_t i = 1; i < positional.size(); ++i)
        positional[i] = fs::absolute(positional[i]).string();
    if (mode == "table" && positional.size() == 2) return table(positional[1], runs, only);
    if (mode == "memory" && positional.size() == 3) return memory(positional[1], positional[2]);
    if (mode == "large" && positional.size() == 2) return large(positional[1]);
    return usage();
}
