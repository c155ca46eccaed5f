// The tool in shell scripts and pipelines: batch runs (-b) that never read standard input, runs
// ended by a signal or by a closed standard output that leave no work file behind, work files of
// killed runs removed by the next run, long output names, and --help and --version.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#endif

#include "support/dat_builder.h"
#include "support/tempdir.h"
#include "support/tool_runner.h"
#include "tool/options.h"

namespace kelvara::test {
namespace {

std::string goodDataset() {
    DatBuilder b;
    b.header(3, 2, false, "levels");
    b.step(0.0f, {1, 1}, {1.0f, 2.0f, 3.0f}).step(1.0f, {1, 1}, {4.0f, 5.0f, 6.0f}).end();
    return b.bytes();
}

// A header that announces far more nodes than the file holds: the run stops on reading it.
std::string damagedDataset() {
    DatBuilder b;
    b.header(300000, 2, false, "levels");
    b.step(0.0f, {1, 1}, {1.0f, 2.0f, 3.0f}).end();
    return b.bytes();
}

// Work files are the hidden ".k<process id>.<tag>" files beside an output.
std::vector<std::string> workFiles(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& name : listFolder(folder))
        if (name.rfind(".k", 0) == 0) found.push_back(name);
    return found;
}

TEST(HelpAndVersion, AnswerWithStatusZeroAndNoPause) {
    std::string usage;
    for (const auto& line : usageText()) usage += line + "\n";
    const struct {
        std::vector<std::string> args;
        std::string expected;
    } cases[] = {
        {{"--help"}, usage},
        {{"--version"}, "kelvara " KELVARA_VERSION "\n"},
        {{"-max", "--version", "a.dat"}, "kelvara " KELVARA_VERSION "\n"},
    };
    for (const auto& c : cases) {
        // A typed line would be run at a pause: none may be read.
        TempDir dir;
        ToolResult r = runTool(c.args, "echo read-at-a-pause\n", dir.path());
        EXPECT_EQ(r.status, 0) << c.args[0];
        EXPECT_EQ(r.output, c.expected) << c.args[0];
    }
    // Only the exact words: "-help" and "--versions" stay errors of the command line.
    for (const std::string word : {"-help", "--versions"}) {
        ToolResult r = runTool({word});
        EXPECT_EQ(r.status, 1) << word;
        EXPECT_TRUE(contains(r.output, "ERROR - Incorrect flag specified")) << word;
    }
}

// Every place that would pause or ask, met with -b and a standard input full of answers and
// commands: none of them is read, each run ends with its "ERROR - " line and nothing is run.
TEST(Batch, NoPauseAndNoPromptReadsStandardInput) {
    const struct {
        const char* what;
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {"damaged input (fatal stop)", {"-b", "-k1", "bad_d.dat"}, "ERROR - bad_d.dat is too short"},
        {"missing input (name prompt)", {"-b", "-k1", "missing_d.dat"},
         "ERROR - No file name entered for \"missing_d.dat\""},
        {"output that cannot be created", {"-b", "-dif", "a_d.dat", "b_d.dat", "no/such/out.dat"},
         "ERROR - Could not create output file"},
        {"input named twice (question)", {"-b", "-con", "a_d.dat", "a_d.dat"},
         "is already open; no question is asked"},
        {"command-line error before -b", {"-q", "-b"}, "ERROR - Incorrect flag specified"},
        {"batch flag in capitals", {"-B", "-k1", "bad_d.dat"}, "ERROR - bad_d.dat is too short"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        dir.write("a_d.dat", goodDataset());
        dir.write("b_d.dat", goodDataset());
        dir.write("bad_d.dat", damagedDataset());
        ToolResult r = runTool(c.args, "touch INJECTED\na_d.dat\ny\n\n", dir.path());
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_TRUE(contains(r.output, c.error)) << r.output;
        EXPECT_FALSE(contains(r.output, "Press Enter")) << r.output;
        EXPECT_FALSE(contains(r.output, "press enter")) << r.output;
        EXPECT_FALSE(fileExists(dir.file("INJECTED")));
        EXPECT_EQ(workFiles(dir.path()), std::vector<std::string>{});
    }
}

#ifndef _WIN32

// The single-quoted text for a shell script.
std::string quoted(const std::string& text) {
    std::string q = "'";
    for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs a bash script in folder; its exit status, -1 when it did not exit.
int runScript(const std::string& folder, const std::string& script) {
    const std::string path = folder + "/script.sh";
    std::ofstream(path) << script;
    const int status = std::system(("cd " + quoted(folder) + " && bash script.sh >script.log 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Batch, AShellLoopOverAListRunsNothingFromTheList) {
    TempDir dir;
    dir.write("one_d.dat", goodDataset());
    dir.write("bad_d.dat", damagedDataset());
    dir.write("three_d.dat", goodDataset());
    dir.write("list.txt", "one_d.dat\nbad_d.dat\nmissing_d.dat\ntouch INJECTED\nthree_d.dat\n");
    const std::string script = "while read f; do " + quoted(toolPath()) +
                               " -b -k1 \"$f\" >/dev/null; echo \"$f $?\" >>statuses.txt; "
                               "done <list.txt\n";
    ASSERT_EQ(runScript(dir.path(), script), 0) << readFile(dir.file("script.log"));
    EXPECT_EQ(readFile(dir.file("statuses.txt")),
              "one_d.dat 0\nbad_d.dat 1\nmissing_d.dat 1\ntouch INJECTED 1\nthree_d.dat 0\n");
    EXPECT_FALSE(fileExists(dir.file("INJECTED")));
    EXPECT_EQ(listFolder(dir.path()),
              (std::vector<std::string>{"bad_d.dat", "list.txt", "one_d(k1.).dat", "one_d.dat",
                                        "script.log", "script.sh", "statuses.txt",
                                        "three_d(k1.).dat", "three_d.dat"}));
    EXPECT_EQ(readFile(dir.file("three_d(k1.).dat")).size(), readFile(dir.file("one_d(k1.).dat")).size());
}

// A tool started with the given standard input and its console read through a pipe.
struct Started {
    pid_t pid = -1;
    int output = -1;
};

Started startTool(const std::vector<std::string>& args, const std::string& folder, int input,
                  bool separateErrors = false) {
    int pipeFd[2];
    if (::pipe(pipeFd) != 0) return {};
    std::string exe = toolPath();
    std::vector<std::string> store = {exe};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : store) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(folder.c_str()) != 0) ::_exit(127);
        ::dup2(input, 0);
        ::dup2(pipeFd[1], 1);
        if (separateErrors) {
            const int errors = ::open("errors.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(errors, 2);
        } else {
            ::dup2(pipeFd[1], 2);
        }
        ::close(pipeFd[0]);
        ::close(pipeFd[1]);
        const rlimit noCore{0, 0};  // signals that dump core leave no core file in the folder
        ::setrlimit(RLIMIT_CORE, &noCore);
        ::alarm(60);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(pipeFd[1]);
    return {pid, pipeFd[0]};
}

// Waits up to a minute for the process to end; false (and the process killed) when it does not.
bool waitForEnd(pid_t pid, int& status) {
    for (int i = 0; i < 600; ++i) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return false;
}

// Waits until folder holds a work file (the run has opened its output); false after a minute.
bool waitForWorkFile(const std::string& folder) {
    for (int i = 0; i < 600; ++i) {
        if (!workFiles(folder).empty()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

TEST(Batch, ASilentOpenStandardInputIsNeverWaitedFor) {
    TempDir dir;
    dir.write("bad_d.dat", damagedDataset());
    int silent[2];  // the write end stays open and says nothing, as "sleep 8 |" does
    ASSERT_EQ(::pipe(silent), 0);
    const auto started = std::chrono::steady_clock::now();
    Started tool = startTool({"-b", "-k1", "bad_d.dat"}, dir.path(), silent[0]);
    ::close(silent[0]);
    int status = 0;
    const bool ended = waitForEnd(tool.pid, status);
    ::close(silent[1]);
    ::close(tool.output);
    ASSERT_TRUE(ended) << "the run waited for standard input";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}

// A run that stops while reading its input: the input is a named pipe (made when missing) that
// gets no data until the test writes it, so the run has made its work file and waits.
struct BlockedRun {
    Started tool;
    int feed = -1;  // the pipe's write end
};

BlockedRun startBlockedRun(const TempDir& dir, bool separateErrors = false) {
    BlockedRun run;
    const std::string fifo = dir.file("in_d.dat");
    if (::mkfifo(fifo.c_str(), 0600) != 0 && errno != EEXIST) return run;
    const int devNull = ::open("/dev/null", O_RDONLY);
    run.tool = startTool({"-b", "-k1", "in_d.dat"}, dir.path(), devNull, separateErrors);
    ::close(devNull);
    run.feed = ::open(fifo.c_str(), O_WRONLY);  // returns once the run has opened its input
    return run;
}

int endSignal(int status) { return WIFSIGNALED(status) ? WTERMSIG(status) : 0; }

TEST(Signals, EveryEndingSignalLeavesNoWorkFile) {
    std::vector<int> signals = {SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM,
                                SIGXFSZ, SIGXCPU, SIGVTALRM, SIGPROF, SIGABRT, SIGTRAP, SIGSYS};
#ifdef SIGRTMIN
    signals.push_back(SIGRTMIN);
    signals.push_back(SIGRTMAX);
#endif
    for (int s : signals) {
        SCOPED_TRACE(std::string("signal ") + std::to_string(s) + " (" + strsignal(s) + ")");
        TempDir dir;
        dir.write("in_d(k1.).dat", "earlier result");
        BlockedRun run = startBlockedRun(dir);
        ASSERT_GE(run.feed, 0);
        ASSERT_TRUE(waitForWorkFile(dir.path()));
        ::kill(run.tool.pid, s);
        int status = 0;
        ASSERT_TRUE(waitForEnd(run.tool.pid, status));
        ::close(run.feed);
        ::close(run.tool.output);
        EXPECT_EQ(endSignal(status), s);  // it still ends by the signal, as its callers expect
        EXPECT_EQ(workFiles(dir.path()), std::vector<std::string>{});
        EXPECT_EQ(readFile(dir.file("in_d(k1.).dat")), "earlier result");
    }
}

// The work file of a run killed where nothing can clean up (SIGKILL) is removed by the next run
// of the same output, unless its process still runs.
TEST(Signals, TheNextRunRemovesTheWorkFileOfAKilledRun) {
    TempDir dir;
    BlockedRun killed = startBlockedRun(dir);
    ASSERT_GE(killed.feed, 0);
    ASSERT_TRUE(waitForWorkFile(dir.path()));
    ::kill(killed.tool.pid, SIGKILL);
    int status = 0;
    ASSERT_TRUE(waitForEnd(killed.tool.pid, status));
    ::close(killed.feed);
    ::close(killed.tool.output);
    const std::vector<std::string> leftOver = workFiles(dir.path());
    ASSERT_EQ(leftOver.size(), 1u);

    // Another output's work file, whose process (init) runs anyway: never touched.
    dir.write(".k1.00000000", "another output's");
    BlockedRun live = startBlockedRun(dir);
    ASSERT_GE(live.feed, 0);
    // The run removes what it finds stale before it makes its own work file.
    auto madeOwn = [&](const std::vector<std::string>& known) {
        for (int i = 0; i < 600; ++i) {
            for (const auto& name : workFiles(dir.path()))
                if (std::count(known.begin(), known.end(), name) == 0) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    };
    madeOwn({leftOver[0], ".k1.00000000"});
    // The killed run's is gone, the live run has its own.
    const std::vector<std::string> afterSecond = workFiles(dir.path());
    EXPECT_EQ(afterSecond.size(), 2u);
    EXPECT_EQ(std::count(afterSecond.begin(), afterSecond.end(), leftOver[0]), 0);
    EXPECT_EQ(std::count(afterSecond.begin(), afterSecond.end(), ".k1.00000000"), 1);

    // A third run of the same output while the second waits keeps the second's work file.
    BlockedRun third = startBlockedRun(dir);
    ASSERT_GE(third.feed, 0);
    madeOwn(afterSecond);
    const std::vector<std::string> afterThird = workFiles(dir.path());
    EXPECT_EQ(afterThird.size(), 3u);
    for (const auto& name : afterSecond)
        EXPECT_EQ(std::count(afterThird.begin(), afterThird.end(), name), 1) << name;

    for (BlockedRun* run : {&live, &third}) {
        ::kill(run->tool.pid, SIGTERM);
        ASSERT_TRUE(waitForEnd(run->tool.pid, status));
        ::close(run->feed);
        ::close(run->tool.output);
    }
    EXPECT_EQ(workFiles(dir.path()), std::vector<std::string>{".k1.00000000"});
}

// A reader that stops reading (head) closes standard output: the next line the run writes ends
// it with status 1, a line on standard error, no work file and no output.
TEST(Signals, AClosedStandardOutputEndsTheRunWithStatusOne) {
    TempDir dir;
    BlockedRun run = startBlockedRun(dir, true);
    ASSERT_GE(run.feed, 0);
    ASSERT_TRUE(waitForWorkFile(dir.path()));
    ::close(run.tool.output);  // the reader has gone
    const std::string data = goodDataset();
    ASSERT_EQ(::write(run.feed, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    ::close(run.feed);
    int status = 0;
    ASSERT_TRUE(waitForEnd(run.tool.pid, status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << endSignal(status);
    EXPECT_TRUE(contains(readFile(dir.file("errors.txt")),
                         "ERROR - Standard output cannot be written"));
    EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"errors.txt", "in_d.dat"}));
}

TEST(Signals, APipeIntoHeadLeavesNoWorkFile) {
    TempDir dir;
    dir.write("a_d.dat", goodDataset());
    dir.write("b_d.dat", goodDataset());
    const std::string script = quoted(toolPath()) +
                               " -b -con a_d.dat b_d.dat | head -3 >head.txt\n"
                               "echo \"${PIPESTATUS[0]}\" >status.txt\n";
    ASSERT_EQ(runScript(dir.path(), script), 0) << readFile(dir.file("script.log"));
    // Either the run had written everything before head left (0, the whole output), or it
    // met the closed pipe (1: before its output was complete, no output; after, the complete
    // output may stay); never killed by SIGPIPE (141).
    const std::string status = readFile(dir.file("status.txt"));
    EXPECT_TRUE(status == "0\n" || status == "1\n") << status;
    if (status == "0\n") {
        EXPECT_TRUE(fileExists(dir.file("a_d(con).dat")));
    }
    EXPECT_EQ(workFiles(dir.path()), std::vector<std::string>{});
}

// Output names up to the longest a file name can be: the work file's name stays short.
TEST(Signals, OutputNamesUpToTheSystemsLongestWork) {
    for (std::size_t length : {244u, 250u, 255u}) {
        TempDir dir;
        const std::string stem(length - std::string("(con).dat").size(), 'r');
        dir.write(stem + ".dat", goodDataset());
        dir.write("b.dat", goodDataset());
        ToolResult r = runTool({"-b", "-con", stem + ".dat", "b.dat"}, "", dir.path());
        EXPECT_EQ(r.status, 0) << length << r.output;
        EXPECT_TRUE(fileExists(dir.file(stem + "(con).dat"))) << length;
        EXPECT_EQ(workFiles(dir.path()), std::vector<std::string>{}) << length;
    }
}

#endif

}  // namespace
}  // namespace kelvara::test
