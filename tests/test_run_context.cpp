// A run's own context: runs on several threads at once, a standard output that fails inside an
// in-process run, error codes, and inputs far beyond the old 100 file units.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "fileio/error.h"
#include "kelvara.h"
#include "support/dat_builder.h"
#include "support/sanitizer.h"
#include "support/tempdir.h"
#include "support/tool_runner.h"
#include "tool/run.h"



namespace kelvara {
namespace {

using test::DatBuilder;

std::string dataset(std::int32_t nodes, const std::vector<float>& times, float shift) {
    DatBuilder b;
    b.header(nodes, 1, false, "run");
    for (float t : times) {
        std::vector<float> values(static_cast<std::size_t>(nodes));
        for (std::int32_t n = 0; n < nodes; ++n) values[static_cast<std::size_t>(n)] = t + shift + 0.001f * n;
        b.step(t, {1}, values);
    }
    return b.end().bytes();
}

std::vector<std::string> inFolder(const test::TempDir& dir, std::vector<std::string> args) {
    for (auto& a : args)
        if (!a.empty() && a[0] != '-') a = dir.file(a);
    return args;
}

struct Outcome {
    int status = -1;
    std::string console;
    std::string output;  // the output file's bytes
};

// Runs on several threads at once give each the output and console text of a lone run.
TEST(RunContext, RunsOnTwoThreadsAtOnceEachGiveTheLoneRunsResult) {
    test::TempDir dir;
    // Large enough that a run's steps are shared out over the worker threads.
    dir.write("a_d.dat", dataset(300000, {1, 2, 3}, 0.0f));
    dir.write("b_d.dat", dataset(300000, {1, 2, 3, 4}, 5.0f));
    struct Command {
        std::vector<std::string> args;
        std::string output;
    };
    const std::vector<Command> commands = {
        {{"-max", "a_d.dat", "b_d.dat"}, "a_d(maxmax).dat"},
        {{"-k2", "b_d.dat"}, "b_d(k2.).dat"},
        {{"-con", "a_d.dat", "b_d.dat"}, "a_d(con).dat"},
        {{"-k9", "missing_d.dat"}, ""},
    };
    const auto runOne = [&](const Command& c) {
        Outcome o;
        o.status = runCommandLineText(inFolder(dir, c.args), o.console);
        if (!c.output.empty()) {
            o.output = test::readFile(dir.file(c.output));
            std::remove(dir.file(c.output).c_str());
        }
        return o;
    };
    std::vector<Outcome> alone;
    for (const auto& c : commands) alone.push_back(runOne(c));
    EXPECT_EQ(alone[0].status, 0);
    EXPECT_EQ(alone[3].status, 1);
    // Pairs of different commands at once (outputs of different names), a few times over.
    for (int round = 0; round < 3; ++round) {
        for (std::size_t i = 0; i < commands.size(); ++i) {
            const std::size_t j = (i + 1 + static_cast<std::size_t>(round) % 3) % commands.size();
            if (i == j || commands[i].output == commands[j].output) continue;
            SCOPED_TRACE(commands[i].args[0] + " with " + commands[j].args[0]);
            Outcome first, second;
            // Each thread removes its own output after reading it, once both have finished.
            Outcome* slots[2] = {&first, &second};
            const std::size_t which[2] = {i, j};
            std::vector<std::thread> threads;
            for (int t = 0; t < 2; ++t) {
                threads.emplace_back([&, t] {
                    const Command& c = commands[which[t]];
                    slots[t]->status = runCommandLineText(inFolder(dir, c.args), slots[t]->console);
                });
            }
            for (auto& t : threads) t.join();
            for (int t = 0; t < 2; ++t) {
                const Command& c = commands[which[t]];
                if (!c.output.empty()) {
                    slots[t]->output = test::readFile(dir.file(c.output));
                    std::remove(dir.file(c.output).c_str());
                }
                EXPECT_EQ(slots[t]->status, alone[which[t]].status);
                EXPECT_EQ(slots[t]->console, alone[which[t]].console);
                EXPECT_EQ(slots[t]->output, alone[which[t]].output);
            }
        }
    }
    // Nothing but the inputs is left.
    for (const auto& name : test::listFolder(dir.path())) EXPECT_NE(name[0], '.') << name;
}

// The exported in-process entry called from two threads at once: each console text and output
// as a lone call gives.
TEST(RunContext, TheCEntryOnTwoThreadsAtOnce) {
    test::TempDir dir;
    dir.write("a_d.dat", dataset(200000, {1, 2, 3}, 0.0f));
    dir.write("b_d.dat", dataset(200000, {1, 2}, 1.0f));
    const auto fields = [&](const std::string& flag, const std::string& name) {
        return flag + std::string(1, '\0') + dir.file(name);
    };
    const std::string args[2] = {fields("-max", "a_d.dat"), fields("-r1", "b_d.dat")};
    const std::string outputs[2] = {dir.file("a_d(maxmax).dat"), dir.file("b_d(r1.).dat")};
    struct Call {
        std::string console = std::string(100000, ' ');
        int32_t status = -1, used = 0, code = -1;
        std::string output;
    };
    const auto call = [&](int i, Call& c) {
        RUNCOMMANDLINECODE(c.console.data(), static_cast<int32_t>(c.console.size()), args[i].data(),
                           static_cast<int32_t>(args[i].size()), &c.status, &c.used, &c.code);
        c.console.resize(static_cast<std::size_t>(c.used));
    };
    Call alone[2];
    for (int i = 0; i < 2; ++i) {
        call(i, alone[i]);
        alone[i].output = test::readFile(outputs[i]);
        std::remove(outputs[i].c_str());
        EXPECT_EQ(alone[i].status, 0);
        EXPECT_EQ(alone[i].code, 0);
    }
    for (int round = 0; round < 3; ++round) {
        Call together[2];
        std::thread first([&] { call(0, together[0]); });
        std::thread second([&] { call(1, together[1]); });
        first.join();
        second.join();
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(together[i].status, 0);
            EXPECT_EQ(together[i].console, alone[i].console);
            EXPECT_EQ(test::readFile(outputs[i]), alone[i].output);
            std::remove(outputs[i].c_str());
        }
    }
}

// A run's outcome carries the code of its error, and one that finished none.
TEST(RunContext, TheOutcomeCarriesTheErrorsCode) {
    test::TempDir dir;
    dir.write("a_d.dat", dataset(3, {1, 2}, 0.0f));
    dir.write("a_V.dat", dataset(3, {1, 2}, 0.0f));
    dir.write("short_d.dat", dataset(3, {1, 2}, 0.0f).substr(0, 60));
    dir.write("other_d.dat", dataset(4, {1}, 0.0f));
    struct Case {
        std::vector<std::string> args;
        ErrorCode code;
    };
    const std::vector<Case> cases = {
        {{"-k1", "a_d.dat"}, ErrorCode::None},
        {{"-q"}, ErrorCode::Usage},
        {{"-ddur1", "a_d.dat", "a_d.dat"}, ErrorCode::Usage},  // no end time: the fatal stop
        {{"-k1", "missing_d.dat"}, ErrorCode::MissingFile},
        {{"-k1", "short_d.dat"}, ErrorCode::BadInput},
        {{"-max", "a_d.dat", "a_V.dat"}, ErrorCode::BadInput},  // two quantities
        {{"-con", "a_d.dat", "other_d.dat"}, ErrorCode::WrongInput},
        {{"-max", "a_d.dat"}, ErrorCode::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        std::string text;
        RunOutcome outcome;
        const int status = runCommandLineText(inFolder(dir, c.args), text, &outcome);
        EXPECT_EQ(status, c.code == ErrorCode::None ? 0 : 1) << text;
        EXPECT_EQ(outcome.code, c.code) << text;
        EXPECT_TRUE(outcome.consoleFailure.empty());
    }
}

#ifndef _WIN32
// Standard output that can no longer be written inside an in-process run of the executable's
// entry: the run fails with status 1 and its reason on standard error, its output is not put
// in place, and the calling process goes on.
TEST(RunContext, AClosedStandardOutputFailsTheRunNotTheCaller) {
    test::TempDir dir;
    dir.write("a_d.dat", dataset(3, {1, 2}, 0.0f));
    std::fflush(stdout);
    const int savedOut = ::dup(1);
    const int savedErr = ::dup(2);
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    ::close(pipeEnds[0]);  // nobody reads: every write fails
    ::dup2(pipeEnds[1], 1);
    ::close(pipeEnds[1]);
    const std::string errPath = dir.file("stderr.txt");
    const int errFile = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(errFile, 2);
    ::close(errFile);
    const int status = runExecutable({"-b", "-k1", dir.file("a_d.dat")});
    std::fflush(stdout);
    std::clearerr(stdout);
    ::dup2(savedOut, 1);
    ::dup2(savedErr, 2);
    ::close(savedOut);
    ::close(savedErr);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(test::readFile(errPath).rfind("ERROR - Standard output cannot be written: ", 0), 0u)
        << test::readFile(errPath);
    EXPECT_FALSE(test::fileExists(dir.file("a_d(k1.).dat")));
    for (const auto& name : test::listFolder(dir.path())) EXPECT_NE(name[0], '.') << name;
    // The next run writes as ever.
    std::string text;
    EXPECT_EQ(runCommandLineText({"-k1", dir.file("a_d.dat")}, text), 0);
    EXPECT_TRUE(test::fileExists(dir.file("a_d(k1.).dat")));
}

// -max and -con stream their inputs one after the other: 1,000 inputs run with 256 file
// descriptors, and the memory they take does not grow with their number.
TEST(RunContext, AThousandInputsRunInFewDescriptorsAndFlatMemory) {
    test::TempDir dir;
    const int nodes = 20000;
    const std::string bytes = dataset(nodes, {1, 2}, 0.0f);
    std::vector<std::string> names;
    for (int i = 0; i < 1000; ++i) {
        names.push_back("r" + std::to_string(i) + "_d.dat");
        dir.write(names.back(), bytes);
    }
    // Peak resident memory of the tool (kB) run on count inputs with at most 256 descriptors.
    const auto peak = [&](const std::string& flag, int count, int& status) {
        const pid_t child = ::fork();
        if (child == 0) {
            struct rlimit limit = {256, 256};
            ::setrlimit(RLIMIT_NOFILE, &limit);
            if (::chdir(dir.path().c_str()) != 0) ::_exit(99);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            std::vector<std::string> args = {test::toolPath(), "-b", flag};
            args.insert(args.end(), names.begin(), names.begin() + count);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(98);
        }
        int wstatus = 0;
        struct rusage usage {};
        ::wait4(child, &wstatus, 0, &usage);
        status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
        return usage.ru_maxrss;
    };
    for (const std::string flag : {"-max", "-con"}) {
        SCOPED_TRACE(flag);
        int fewStatus = -1, manyStatus = -1;
        const long few = peak(flag, 10, fewStatus);
        const long many = peak(flag, 1000, manyStatus);
        EXPECT_EQ(fewStatus, 0);
        EXPECT_EQ(manyStatus, 0);
        // Each input is 160 kB of values: held at once, 1,000 would take 160 MB more. A
        // generous bound for the names and the table of 1,000 entries.
        // (A sanitizer's quarantine keeps what each input freed: the bound holds for the real
        // build only.)
        if (!test::kSanitized) {
            EXPECT_LT(many, few + 32 * 1024) << few << " kB for 10 inputs, " << many << " for 1000";
        }
        std::remove(dir.file(flag == "-max" ? "r0_d(maxmax).dat" : "r0_d(con).dat").c_str());
    }
}

#endif

}  // namespace
}  // namespace kelvara
