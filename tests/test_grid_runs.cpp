// -grid as a process: the grid's work file removed when the run is ended by a signal, by
// timeout or by a closed standard output, and by the next run when a killed run left it; memory
// that does not grow with the number of bands; runs under a memory limit that end with an
// ERROR; and a stem.prj that is no file to read, or far too long.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "grid/grid.h"
#include "support/dat_builder.h"
#include "support/sanitizer.h"
#include "support/tempdir.h"
#include "support/tool_runner.h"


namespace kelvara::test {
namespace {

// A square of 10 by 10 in two triangles.
const char* kMesh =
    "MESH2D\n"
    "ND 1 0 0 0\nND 2 10 0 0\nND 3 10 10 0\nND 4 0 10 0\n"
    "E3T 1 1 2 3 1\nE3T 2 1 3 4 1\n";

// Steps at times 1, 2, ... of four node values.
std::string dataset(int steps) {
    DatBuilder b;
    b.header(4, 2, false, "levels");
    for (int s = 1; s <= steps; ++s) {
        const float t = static_cast<float>(s);
        b.step(t, {1, 1}, {t, t + 1, t + 2, t + 3});
    }
    return b.end().bytes();
}

// Work files are the hidden ".k..." files beside an output.
std::vector<std::string> workFiles(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& name : listFolder(folder))
        if (name.rfind(".k", 0) == 0) found.push_back(name);
    return found;
}

struct Child {
    pid_t pid = -1;
    int output = -1;  // standard output (and error, unless sent to errors.txt)
};

struct Ended {
    int status = -1;  // exit status; -1 when ended by a signal
    int signal = 0;   // the signal that ended it
    long peakKb = 0;  // its peak resident memory
    std::string output;
};

// Starts the tool in folder with standard input at its end; addressSpace > 0 limits its memory.
Child startTool(const std::vector<std::string>& args, const std::string& folder,
                rlim_t addressSpace = 0, bool separateErrors = false) {
    int pipeFd[2];
    if (::pipe(pipeFd) != 0) return {};
    std::vector<std::string> store = {toolPath()};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : store) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(folder.c_str()) != 0) ::_exit(127);
        const int in = ::open("/dev/null", O_RDONLY);
        ::dup2(in, 0);
        ::dup2(pipeFd[1], 1);
        if (separateErrors) {
            ::dup2(::open("errors.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        } else {
            ::dup2(pipeFd[1], 2);
        }
        ::close(pipeFd[0]);
        ::close(pipeFd[1]);
        const rlimit noCore{0, 0};  // signals that dump core leave no core file in the folder
        ::setrlimit(RLIMIT_CORE, &noCore);
        if (addressSpace > 0) {
            const rlimit limit{addressSpace, addressSpace};
            ::setrlimit(RLIMIT_AS, &limit);
        }
        ::alarm(120);  // a hang fails the test instead of stalling the suite
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFd[1]);
    return {pid, pipeFd[0]};
}

// Reads the child's output to its end (when it still has it) and waits for it.
Ended finish(Child& child) {
    Ended e;
    if (child.output >= 0) {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(child.output, buffer, sizeof buffer);
            if (n > 0) {
                e.output.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                break;
            }
        }
        ::close(child.output);
        child.output = -1;
    }
    int status = 0;
    rusage usage{};
    while (::wait4(child.pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    e.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    e.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    e.peakKb = usage.ru_maxrss;
    return e;
}

Ended runGrid(const std::vector<std::string>& args, const std::string& folder,
              rlim_t addressSpace = 0) {
    Child child = startTool(args, folder, addressSpace);
    return finish(child);
}

// Waits until folder holds a work file (the grid has been begun); false after a minute.
bool waitForWorkFile(const std::string& folder) {
    for (int i = 0; i < 600; ++i) {
        if (!workFiles(folder).empty()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

// A grid of 1000 by 1000 cells and 2000 bands: minutes of work, so that the run is still
// writing when the test ends it.
const std::vector<std::string> kLongRun = {"-b", "-grid0.01", "run_d.dat"};
const char* kLongOutput = "run_d(grid0.01).tif";

class GridRuns : public ::testing::Test {
protected:
    void SetUp() override {
        if (!grid::available()) GTEST_SKIP() << "built without GDAL";
        dir.write("run.2dm", kMesh);
    }
    TempDir dir;
};

TEST_F(GridRuns, EndingSignalsLeaveNoWorkFileAndTheEarlierGrid) {
    dir.write("run_d.dat", dataset(2000));
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGXFSZ, SIGQUIT, SIGUSR1, SIGALRM}) {
        SCOPED_TRACE(std::string("signal ") + std::to_string(s) + " (" + strsignal(s) + ")");
        dir.write(kLongOutput, "an earlier grid");
        Child child = startTool(kLongRun, dir.path());
        ASSERT_TRUE(waitForWorkFile(dir.path()));
        ::kill(child.pid, s);
        const Ended e = finish(child);
        EXPECT_EQ(e.signal, s) << e.output;
        EXPECT_EQ(workFiles(dir.path()), std::vector<std::string>{});
        EXPECT_EQ(readFile(dir.file(kLongOutput)), "an earlier grid");
    }
}

// A grid drawn from another operation's steps (--output NAME.tif): its steps' work file and
// the grid's are both removed when the run is ended by a signal, whichever it has begun.
TEST_F(GridRuns, EndingSignalsLeaveNoWorkFileOfAGridOutput) {
    dir.write("run_d.dat", dataset(2000));
    const std::vector<std::string> run = {"-b", "-trim100", "run_d.dat", "--output", "peak.tif",
                                          "--cell", "0.01"};
    for (int s : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(std::string("signal ") + std::to_string(s));
        dir.write("peak.tif", "an earlier grid");
        Child child = startTool(run, dir.path());
        ASSERT_TRUE(waitForWorkFile(dir.path()));
        // Past the steps, into the grid, when the machine allows: the grid's work file as well.
        for (int i = 0; i < 50 && workFiles(dir.path()).size() < 2; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::kill(child.pid, s);
        const Ended e = finish(child);
        EXPECT_EQ(e.signal, s) << e.output;
        EXPECT_EQ(workFiles(dir.path()), std::vector<std::string>{});
        EXPECT_EQ(readFile(dir.file("peak.tif")), "an earlier grid");
    }
}

TEST_F(GridRuns, TimeoutLeavesNoWorkFile) {
    dir.write("run_d.dat", dataset(2000));
    std::ofstream(dir.file("script.sh"))
        << "timeout 2 '" << toolPath() << "' -b -grid0.01 run_d.dat >/dev/null 2>&1\n"
        << "echo $? >status.txt\n";
    ASSERT_EQ(std::system(("cd '" + dir.path() + "' && bash script.sh").c_str()), 0);
    const std::string status = readFile(dir.file("status.txt"));
    // Ended by timeout (124) with nothing of the grid left; or, on a machine fast enough to
    // finish first, the whole grid.
    EXPECT_TRUE(status == "124\n" || status == "0\n") << status;
    EXPECT_EQ(fileExists(dir.file(kLongOutput)), status == "0\n");
    EXPECT_EQ(workFiles(dir.path()), std::vector<std::string>{});
}

TEST_F(GridRuns, AClosedStandardOutputLeavesNoWorkFile) {
    dir.write("run_d.dat", dataset(2000));
    Child child = startTool(kLongRun, dir.path(), 0, true);
    ASSERT_TRUE(waitForWorkFile(dir.path()));
    ::close(child.output);  // the reader has gone
    child.output = -1;
    const Ended e = finish(child);
    EXPECT_EQ(e.status, 1) << "signal " << e.signal;
    EXPECT_TRUE(contains(readFile(dir.file("errors.txt")),
                         "ERROR - Standard output cannot be written"));
    EXPECT_EQ(listFolder(dir.path()),
              (std::vector<std::string>{"errors.txt", "run.2dm", "run_d.dat"}));
}

// Killed where nothing can clean up (SIGKILL): the next run of the same grid removes the work
// file; a grid of another output leaves it alone.
TEST_F(GridRuns, TheNextRunRemovesTheWorkFileOfAKilledRun) {
    dir.write("run_d.dat", dataset(2000));
    Child child = startTool(kLongRun, dir.path());
    ASSERT_TRUE(waitForWorkFile(dir.path()));
    ::kill(child.pid, SIGKILL);
    finish(child);
    const std::vector<std::string> leftOver = workFiles(dir.path());
    ASSERT_EQ(leftOver.size(), 1u);

    Ended other = runGrid({"-b", "-grid5", "-t1", "run_d.dat"}, dir.path());
    ASSERT_EQ(other.status, 0) << other.output;
    EXPECT_EQ(workFiles(dir.path()), leftOver);

    Ended next = runGrid({"-b", "-grid0.01", "-t1", "run_d.dat"}, dir.path());
    ASSERT_EQ(next.status, 0) << next.output;
    EXPECT_TRUE(contains(next.output, "Wrote run_d(grid0.01).tif: 1 band of 1000 by 1000 cells."));
    EXPECT_EQ(workFiles(dir.path()), std::vector<std::string>{});
}

TEST_F(GridRuns, MemoryDoesNotGrowWithTheBands) {
    // 5,000 bands of a 2 by 2 grid took 1.3 GB when each band kept a tile's memory.
    dir.write("run_d.dat", dataset(5000));
    const Ended e = runGrid({"-b", "-grid5", "run_d.dat"}, dir.path());
    ASSERT_EQ(e.status, 0) << e.output.substr(e.output.size() > 2000 ? e.output.size() - 2000 : 0);
    EXPECT_TRUE(contains(e.output, "Wrote run_d(grid5).tif: 5000 bands of 2 by 2 cells."));
    // A sanitizer's quarantine keeps freed memory: the bound holds for the real build only.
    if (!kSanitized) {
        EXPECT_LT(e.peakKb, 100 * 1024L);
    }
}

// Under memory limits from too little to load GDAL to enough: each run writes its grid or ends
// with an ERROR line and status 1, never by a signal, and leaves no work file.
TEST_F(GridRuns, UnderAMemoryLimitARunEndsWithAnError) {
    if (kSanitized) GTEST_SKIP() << "a sanitizer's memory does not fit a limit";
    dir.write("run_d.dat", dataset(3));
    int failed = 0, written = 0;
    for (rlim_t megabytes = 60; megabytes <= 540; megabytes += 40) {
        SCOPED_TRACE(std::to_string(megabytes) + " MB");
        const Ended e = runGrid({"-b", "-grid0.005", "run_d.dat"}, dir.path(), megabytes << 20);
        EXPECT_EQ(e.signal, 0);
        if (e.status == 0) {
            ++written;
            EXPECT_TRUE(fileExists(dir.file("run_d(grid0.005).tif")));
        } else {
            ++failed;
            EXPECT_EQ(e.status, 1);
            EXPECT_TRUE(contains(e.output, "ERROR - ")) << e.output;
        }
        EXPECT_EQ(workFiles(dir.path()), std::vector<std::string>{});
        std::remove(dir.file("run_d(grid0.005).tif").c_str());
    }
    EXPECT_GT(failed, 0);  // the limits did reach the run
    EXPECT_GT(written, 0);
}

TEST_F(GridRuns, APrjThatIsNoFileOrTooLongIsPassedOverWithAWarning) {
    dir.write("run_d.dat", dataset(1));
    const std::string prj = dir.file("run.prj");
    struct Case {
        const char* what;
        void (*make)(const std::string& path);
        std::string warning;  // "" for none
    };
    const Case cases[] = {
        {"a named pipe (no writer would ever come)",
         [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); },
         "WARNING - run.prj is not a regular file: it is not read as a coordinate reference, and "
         "the grid has none."},
        {"a link to /dev/zero (no end)",
         [](const std::string& p) { ASSERT_EQ(::symlink("/dev/zero", p.c_str()), 0); },
         "WARNING - run.prj is not a regular file"},
        {"a folder", [](const std::string& p) { ASSERT_EQ(::mkdir(p.c_str(), 0700), 0); },
         "WARNING - run.prj is not a regular file"},
        {"300 MB (of zeros, a sparse file)",
         [](const std::string& p) {
             std::ofstream(p).close();
             ASSERT_EQ(::truncate(p.c_str(), 300L << 20), 0);
         },
         "WARNING - run.prj is longer than the 1 MB a coordinate reference (WKT) may have: the "
         "grid has none."},
        {"a reference",
         [](const std::string& p) {
             std::ofstream(p) << "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\","
                                 "6378137,298.257223563]],PRIMEM[\"Greenwich\",0],"
                                 "UNIT[\"degree\",0.0174532925199433]]\n";
         },
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.make(prj);
        const Ended e = runGrid({"-b", "-grid5", "run_d.dat"}, dir.path());
        EXPECT_EQ(e.status, 0) << e.output;
        if (c.warning.empty()) {
            EXPECT_FALSE(contains(e.output, "WARNING - ")) << e.output;
        } else {
            EXPECT_TRUE(contains(e.output, "\n" + c.warning)) << e.output;
        }
        EXPECT_LT(e.peakKb, (kSanitized ? 500 : 100) * 1024L);
        ::rmdir(prj.c_str());
        ::unlink(prj.c_str());
    }
}

}  // namespace
}  // namespace kelvara::test

#endif
