// Faults from outside, end to end: inputs cut short at every byte of their header and first
// step, outputs that meet a full disk or a folder they may not write to, and the inputs that
// fuzzing found to crash the tool or make it allocate without bound. Whatever happens, the run
// finishes (status 0) or stops with status 1 on an "ERROR - " line that names the file, and a
// failed run leaves no output, partial or hidden, behind.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "support/dat_builder.h"
#include "support/tempdir.h"
#include "support/tool_runner.h"
#include "tool/driver.h"
#include "tool/options.h"

#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#endif

namespace kelvara::test {
namespace {

// Whether some console line starts with "ERROR - " and mentions name.
bool errorLineNames(const std::string& output, const std::string& name) {
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        const std::string line = output.substr(start, end - start);
        if (line.rfind("ERROR - ", 0) == 0 && contains(line, name)) return true;
        start = end + 1;
    }
    return false;
}

// Files of a folder other than those expected: outputs a failed run should not have left.
std::vector<std::string> unexpectedFiles(const std::string& folder,
                                         const std::vector<std::string>& expected) {
    std::vector<std::string> extra;
    for (const auto& name : listFolder(folder))
        if (std::find(expected.begin(), expected.end(), name) == expected.end())
            extra.push_back(name);
    return extra;
}

// ---- Inputs cut short --------------------------------------------------------------------

// A dataset of 4 nodes and 2 cells with two steps, and the offsets at which a file cut short is
// still well formed: after each complete header item (the file then ends before its card 200
// and holds no step) and after the complete first step (the end card is missing).
struct CutDataset {
    std::string bytes;
    std::vector<std::size_t> wellFormedCuts;
    std::size_t firstStepEnd = 0;
};

enum class Shape { Scalar, Vector, WideFlags, NoFlags };

CutDataset cutDataset(Shape shape) {
    DatBuilder b;
    CutDataset d;
    auto mark = [&] { d.wellFormedCuts.push_back(b.size()); };
    const bool vector = shape == Shape::Vector;
    mark();  // the empty file
    b.i32(3000);
    mark();
    b.card(100, 3);
    mark();
    b.card(110, 4);
    mark();
    b.card(120, shape == Shape::WideFlags ? 4 : 1);
    mark();
    b.card(vector ? 140 : 130);
    mark();
    b.card(170, 4);
    mark();
    b.card(180, 2);
    mark();
    b.name("cut");
    mark();
    b.flagBytes(shape == Shape::WideFlags ? 4 : 1);
    const std::vector<float> v1 = {10.5f, 10.0f, 11.5f, 9.5f};
    const std::vector<float> v2 = vector ? std::vector<float>{1, 2, 3, 4} : std::vector<float>{};
    if (shape == Shape::NoFlags) {
        b.stepWithoutFlags(1.0f, v1, v2);
    } else {
        b.step(1.0f, {1, 0}, v1, v2);
    }
    d.firstStepEnd = b.size();
    d.wellFormedCuts.push_back(b.size());
    b.step(2.0f, {1, 1}, v1, v2).end();
    d.bytes = b.bytes();
    return d;
}

// Ground 10.0 under every node of two triangles.
const char* const kMesh =
    "MESH2D\nND 1 0 0 10\nND 2 1 0 10\nND 3 1 1 10\nND 4 0 1 10\nE3T 1 1 2 3 1\nE3T 2 1 3 4 1\n";

struct CutCase {
    const char* label;
    Shape shape;
    std::vector<std::string> flags;
    std::vector<const char*> inputs;  // named on the command line, in this order
    const char* cutName;              // the file cut short: one of the inputs, or read beside them
    std::vector<const char*> beside;  // other files in the folder: intact datasets and meshes
    // An error that a well-formed short file may also meet (it gives no nodes for the mesh).
    const char* shortFileError;
};

void PrintTo(const CutCase& c, std::ostream* os) { *os << c.label; }

class CutInputs : public ::testing::TestWithParam<CutCase> {};

TEST_P(CutInputs, EveryCutStopsCleanlyOrReadsAsAShortFile) {
    const CutCase& c = GetParam();
    const CutDataset d = cutDataset(c.shape);
    TempDir dir;
    auto writeIntact = [&](const std::string& name) {
        const bool mesh = name.size() > 4 && name.compare(name.size() - 4, 4, ".2dm") == 0;
        return dir.write(name, mesh ? std::string(kMesh) : d.bytes);
    };
    for (const char* name : c.beside) writeIntact(name);
    std::vector<std::string> inputs;
    for (const char* name : c.inputs)
        inputs.push_back(std::string(name) == c.cutName ? dir.write(name, "") : writeIntact(name));
    dir.write(c.cutName, "");

    std::vector<std::string> args = {"-b"};
    args.insert(args.end(), c.flags.begin(), c.flags.end());
    args.insert(args.end(), inputs.begin(), inputs.end());
    RunOptions options;
    CommandLineError error;
    ASSERT_TRUE(PARSE_COMMAND_LINE(args, options, error));
    ASSERT_TRUE(BUILD_OUTPUT_NAME(options));
    const std::string output = options.fileNames[0];
    const std::vector<std::string> before = listFolder(dir.path());

    // Every cut up to and including the card that opens the second step.
    for (std::size_t cut = 0; cut <= d.firstStepEnd + 4; ++cut) {
        SCOPED_TRACE(std::string(c.label) + ", cut at byte " + std::to_string(cut));
        dir.write(c.cutName, d.bytes.substr(0, cut));
        const ToolResult r = runTool(args);
        const bool wellFormed =
            std::count(d.wellFormedCuts.begin(), d.wellFormedCuts.end(), cut) > 0;
        ASSERT_TRUE(r.status == 0 || r.status == 1) << r.output;
        if (r.status == 0) {
            // Only a file that ends between two items of its header, or one that lacks no more
            // than its end card, reads without an error.
            EXPECT_TRUE(wellFormed) << "a damaged file was read without an error\n" << r.output;
            EXPECT_EQ(parseWrittenDat(readFile(output)).error, "");
            std::remove(output.c_str());
        } else {
            // A short file may still not suit the other inputs or the mesh; a damaged one must
            // be named.
            const bool shortFileStop = wellFormed && c.shortFileError != nullptr &&
                                       contains(r.output, c.shortFileError);
            EXPECT_TRUE(errorLineNames(r.output, c.cutName) || shortFileStop) << r.output;
            EXPECT_NE(cut, d.firstStepEnd) << "a file without its end card was refused\n"
                                           << r.output;
        }
        EXPECT_EQ(unexpectedFiles(dir.path(), before), std::vector<std::string>{});
        if (::testing::Test::HasFailure()) break;  // one cut's report is enough
    }
}

const char* const kMeshMismatch = "ERROR - .2dm file is incompatible with .dat file";

INSTANTIATE_TEST_SUITE_P(
    Faults, CutInputs,
    ::testing::Values(
        CutCase{"scalar, trim", Shape::Scalar, {"-trim5"}, {"run_d.dat"}, "run_d.dat", {}, nullptr},
        CutCase{"vector, maximum", Shape::Vector, {"-max"}, {"run_V.dat"}, "run_V.dat", {},
                nullptr},
        CutCase{"4-byte flags, duration", Shape::WideFlags, {"-dur0.5"}, {"run_d.dat"},
                "run_d.dat", {}, nullptr},
        CutCase{"steps without flags, second of a concatenation", Shape::NoFlags, {"-con"},
                {"base_d.dat", "run_d.dat"}, "run_d.dat", {}, nullptr},
        CutCase{"water levels with their mesh, maximum", Shape::Scalar, {"-max"}, {"run_h.dat"},
                "run_h.dat", {"run.2dm"}, kMeshMismatch},
        CutCase{"second run of a difference", Shape::Scalar, {"-dif", "-nowetdry"},
                {"base_d.dat", "run_d.dat"}, "run_d.dat", {}, nullptr},
        // At -t1 only: a short file of water levels lacks the later pairs' levels.
        CutCase{"water levels beside the depths of a difference", Shape::Scalar, {"-dif", "-t1"},
                {"base_d.dat", "run_d.dat"}, "run_h.dat",
                {"base_h.dat", "base.2dm", "run.2dm"}, nullptr}),
    [](const ::testing::TestParamInfo<CutCase>& info) {
        std::string name;
        for (const char* p = info.param.label; *p != '\0'; ++p)
            if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
        return name;
    });

// ---- Inputs that fuzzing found -----------------------------------------------------------

// Command lines that combine -dif or -ddur with another operation: they are refused before any
// file is opened, so that nothing reaches for a second input that was never given.
TEST(FuzzRegressions, DifferenceFlagsNeverReachForAMissingSecondInput) {
    const std::vector<std::string> cases[] = {
        {"-dur0.3", "-ddur0.5", "-t10", "a_at"},
        {"-dif", "-dur1", "a.dat"},
        {"-max", "-dif", "a.dat", "b.dat"},
        {"-dif", "-va", "a.dat"},
        {"-dif", "-times", "a.dat"},
        {"-ddur1", "-t5", "-trim2", "a.dat"},
        {"-dif", "-k1", "-nowetdry", "a.dat"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        RunOptions options;
        CommandLineError error;
        EXPECT_FALSE(PARSE_COMMAND_LINE(args, options, error));
        EXPECT_EQ(error.kind, CommandLineError::Kind::ConflictingOperations);
    }
}

// Headers whose counts no step of the file bears out must not size the run's tables.
TEST(FuzzRegressions, CountsTheFileCannotHoldAreRefusedBeforeAnyAllocation) {
    const std::vector<float> four = {1, 2, 3, 4};
    struct Case {
        const char* label;
        std::string bytes;
        int status;
    };
    const Case cases[] = {
        {"no step, a billion nodes", DatBuilder().header(1 << 30, 2, false, "x").end().bytes(), 1},
        {"no step, a billion cells", DatBuilder().header(4, 1 << 30, false, "x").end().bytes(), 1},
        {"a step without flags, a billion cells",
         DatBuilder().header(4, 1 << 30, false, "x").stepWithoutFlags(1, four).end().bytes(), 1},
        {"a step whose flags the file cannot hold",
         DatBuilder().header(4, (1 << 24) + 1, false, "x").step(1, {1}, four).end().bytes(), 1},
        {"a step without flags, more than two cells per node",
         DatBuilder().header(4, 9, false, "x").stepWithoutFlags(1, four).end().bytes(), 1},
        {"no step, a plausible mesh", DatBuilder().header(50000, 99000, false, "x").end().bytes(),
         0},
        {"a step without flags, two cells per node",
         DatBuilder().header(4, 8, false, "x").stepWithoutFlags(1, four).end().bytes(), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        const std::string input = dir.write("run_d.dat", c.bytes);
        const ToolResult r = runTool({"-b", "-max", input});
        EXPECT_EQ(r.status, c.status) << r.output;
        if (c.status == 1) {
            EXPECT_TRUE(errorLineNames(r.output, "run_d.dat")) << r.output;
            EXPECT_FALSE(contains(r.output, "Allocating RAM")) << r.output;
            EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{"run_d.dat"});
        }
    }
}

#ifndef _WIN32

// ---- Outputs that cannot be written ------------------------------------------------------

struct Limits {
    long long fileSizeLimit = -1;  // bytes any file of the run may grow to; -1 for no limit
    bool asNobody = false;         // run as the unprivileged user "nobody" (root only)
};

// Runs the tool with standard input at its end, under the given limits, in workingDir when it
// is given. status is the exit status, -1 for a signal, 127 when the tool could not be started.
ToolResult runLimited(const std::vector<std::string>& args, const Limits& limits,
                      const std::string& workingDir = {}) {
    int pipeFd[2];
    if (::pipe(pipeFd) != 0) return {"pipe failed", -1};
    std::string exe = toolPath();
    std::vector<std::string> store = {exe};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : store) argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        ::dup2(in, 0);
        ::dup2(pipeFd[1], 1);
        ::dup2(pipeFd[1], 2);
        ::close(pipeFd[0]);
        ::close(pipeFd[1]);
        if (!workingDir.empty() && ::chdir(workingDir.c_str()) != 0) ::_exit(127);
        if (limits.fileSizeLimit >= 0) {
            // A write past the limit then fails with EFBIG, as on a full disk, instead of
            // killing the process.
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{static_cast<rlim_t>(limits.fileSizeLimit),
                               static_cast<rlim_t>(limits.fileSizeLimit)};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(127);
        }
        if (limits.asNobody) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(127);
        }
        ::alarm(120);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(pipeFd[1]);
    return collectTool(pid, pipeFd[0]);
}

// A scalar run of the given number of nodes (as many cells) and steps.
std::string largeDataset(int nodes, int steps) {
    DatBuilder b;
    b.header(nodes, nodes, false, "large");
    const std::vector<std::int8_t> active(static_cast<std::size_t>(nodes), 1);
    std::vector<float> values(static_cast<std::size_t>(nodes));
    for (int s = 1; s <= steps; ++s) {
        for (int n = 0; n < nodes; ++n) values[static_cast<std::size_t>(n)] = 0.001f * n + s;
        b.step(static_cast<float>(s), active, values);
    }
    return b.end().bytes();
}

// A tmpfs of the given size mounted on a folder for the length of a test (root only).
class TinyDisk {
public:
    TinyDisk(const std::string& folder, std::size_t bytes) : folder_(folder) {
        ::mkdir(folder.c_str(), 0755);
        const std::string options = "size=" + std::to_string(bytes);
        mounted_ = ::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                           options.c_str()) == 0;
    }
    ~TinyDisk() {
        if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

private:
    std::string folder_;
    bool mounted_ = false;
};

// The difference of two runs is written to a third name, in a folder of its own: a file-size
// limit or a tiny disk there makes the output fail at the first write past it, which with a
// large output comes while the steps are written and with a small one when the file is closed.
struct DiskFullCase {
    const char* label;
    int nodes;                 // output step of 5 * nodes + 9 bytes, three steps
    long long fileSizeLimit;   // -1: a tmpfs of diskBytes instead
    std::size_t diskBytes;
};

void PrintTo(const DiskFullCase& c, std::ostream* os) { *os << c.label; }

class DiskFull : public ::testing::TestWithParam<DiskFullCase> {};

TEST_P(DiskFull, RunStopsWithAnErrorAndLeavesTheOldOutputAlone) {
    const DiskFullCase& c = GetParam();
    TempDir dir;
    const std::string first = dir.write("run_d.dat", largeDataset(c.nodes, 3));
    const std::string second = dir.write("base_d.dat", largeDataset(c.nodes, 3));
    const std::string outFolder = dir.file("out");
    std::unique_ptr<TinyDisk> disk;
    if (c.fileSizeLimit < 0) {
        disk = std::make_unique<TinyDisk>(outFolder, c.diskBytes);
        if (!disk->mounted()) GTEST_SKIP() << "no tmpfs can be mounted here (needs root)";
    } else {
        ::mkdir(outFolder.c_str(), 0755);
    }
    const std::string oldText = "the result of an earlier run";
    {
        std::FILE* f = std::fopen((outFolder + "/result.dat").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs(oldText.c_str(), f);
        std::fclose(f);
    }

    Limits limits;
    limits.fileSizeLimit = c.fileSizeLimit;
    const ToolResult r = runLimited(
        {"-b", "-dif", "-nowetdry", first, second, outFolder + "/result.dat"}, limits);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_TRUE(errorLineNames(r.output, "result.dat")) << r.output;
    EXPECT_EQ(readFile(outFolder + "/result.dat"), oldText);
    EXPECT_EQ(listFolder(outFolder), std::vector<std::string>{"result.dat"});
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DiskFull,
    ::testing::Values(
        DiskFullCase{"LimitBeforeTheHeader", 100, 0, 0},
        DiskFullCase{"LimitInsideTheFirstStep", 100, 200, 0},
        DiskFullCase{"LimitJustShortOfTheEndCard", 100, 92 + 3 * (9 + 500), 0},
        DiskFullCase{"LimitWhileStepsAreWritten", 60000, 400000, 0},
        DiskFullCase{"TinyDiskSmallOutput", 2000, -1, 16 * 1024},
        DiskFullCase{"TinyDiskLargeOutput", 60000, -1, 256 * 1024}),
    [](const ::testing::TestParamInfo<DiskFullCase>& info) { return info.param.label; });

// The times listing is a text output in the current folder; a full disk must not leave a
// truncated list there either.
TEST(DiskFullTimes, TimesListingStopsWithAnError) {
    TempDir dir;
    const std::string input = dir.write("run_d.dat", largeDataset(4, 3));
    Limits limits;
    limits.fileSizeLimit = 3;
    const ToolResult r = runLimited({"-b", "-times", input}, limits, dir.path());
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_TRUE(errorLineNames(r.output, "times.txt")) << r.output;
    EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{"run_d.dat"});
}

// A folder, or an existing output, that the user may not write: the run asks for the problem
// to be put right and, at the end of its input, stops with an error and writes nothing.
TEST(NoWritePermission, OutputFolderOrFileThatCannotBeWritten) {
    const bool root = ::geteuid() == 0;
    struct Case {
        const char* label;
        mode_t folderMode;
        bool existingReadOnlyOutput;
    };
    const Case cases[] = {
        {"read-only folder", 0555, false},
        {"read-only output in a writable folder", 0777, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        ::chmod(dir.path().c_str(), 0755);
        const std::string folder = dir.file("runs");
        ::mkdir(folder.c_str(), 0755);
        const std::string input = folder + "/run_d.dat";
        {
            const std::string bytes = largeDataset(4, 2);
            std::FILE* f = std::fopen(input.c_str(), "wb");
            ASSERT_NE(f, nullptr);
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        ::chmod(input.c_str(), 0644);
        const std::string output = folder + "/run_d(trim5).dat";
        std::vector<std::string> expected = {"run_d.dat"};
        if (c.existingReadOnlyOutput) {
            std::FILE* f = std::fopen(output.c_str(), "wb");
            ASSERT_NE(f, nullptr);
            std::fputs("old", f);
            std::fclose(f);
            ::chmod(output.c_str(), 0444);
            expected.insert(expected.begin(), "run_d(trim5).dat");
        }
        ::chmod(folder.c_str(), c.folderMode);

        Limits limits;
        limits.asNobody = root;
        const ToolResult r = runLimited({"-b", "-trim5", input}, limits);
        ::chmod(folder.c_str(), 0755);
        if (r.status == 127) GTEST_SKIP() << "the tool cannot be started as user nobody here";
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_TRUE(contains(r.output, "Can't open: " + output)) << r.output;
        EXPECT_TRUE(errorLineNames(r.output, output)) << r.output;
        EXPECT_EQ(listFolder(folder), expected);
        if (c.existingReadOnlyOutput) {
            EXPECT_EQ(readFile(output), "old");
        }
    }
}

#endif  // _WIN32

}  // namespace
}  // namespace kelvara::test
