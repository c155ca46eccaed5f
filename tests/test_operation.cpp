// One operation per run: which flags combine, which conflict, and what a combination writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/dat_builder.h"
#include "support/tempdir.h"
#include "support/tool_runner.h"
#include "tool/driver.h"
#include "tool/options.h"

namespace kelvara {
namespace {

// Every operation flag with the inputs it accepts on its own.
struct Flag {
    std::string word;
    std::vector<std::string> names;
};
const std::vector<Flag> kStandAlone = {
    {"-times", {"a.dat"}},  {"-max", {"a.dat"}},         {"-dur0.5", {"a.dat"}},
    {"-dif", {"a.dat", "b.dat"}}, {"-ddur1", {"a.dat", "b.dat"}},
};
const std::vector<std::string> kSinglePass = {"-con", "-k1", "-r2", "-trim3", "-va"};

std::string conflictLine(const std::string& flags) {
    return "ERROR - The flags " + flags + " cannot be used together: give one operation per run.";
}

TEST(OperationRule, AnOperationThatStandsAloneConflictsWithEveryOtherOperationFlag) {
    std::vector<std::string> others = kSinglePass;
    for (const auto& f : kStandAlone) others.push_back(f.word);
    for (const auto& alone : kStandAlone) {
        for (const auto& other : others) {
            if (other == alone.word) continue;
            std::vector<std::string> args = {"-t1", alone.word, other};
            args.insert(args.end(), alone.names.begin(), alone.names.end());
            SCOPED_TRACE(alone.word + " " + other);
            RunOptions options;
            CommandLineError error;
            ASSERT_FALSE(PARSE_COMMAND_LINE(args, options, error));
            EXPECT_EQ(error.kind, CommandLineError::Kind::ConflictingOperations);
            EXPECT_EQ(error.lines, (std::vector<std::string>{
                                       "", conflictLine(alone.word + " and " + other)}));
        }
    }
}

TEST(OperationRule, SinglePassCombinationsAndTheirNames) {
    struct Case {
        std::vector<std::string> args;
        std::string outcome;  // the output name, or the conflict line
    };
    const std::vector<Case> cases = {
        // -con, one of -k and -r and one of -trim and -va go together, named as ever: -r, -k,
        // -con, then the transform's flag.
        {{"-con", "-k5", "a.dat"}, "a(k5.).dat"},
        {{"-k5", "-con", "a.dat"}, "a(k5.).dat"},
        {{"-con", "-r5", "a.dat"}, "a(r5.).dat"},
        {{"-k5", "-trim2", "a.dat"}, "a(k5.).dat"},
        {{"-va", "-r99999", "a.dat"}, "a(r99999.).dat"},
        {{"-con", "-trim2", "a.dat"}, "a(con).dat"},
        {{"-con", "-va", "a.dat"}, "a(con).dat"},
        {{"-con", "-k5", "-va", "a.dat"}, "a(k5.).dat"},
        {{"-k5", "-k6", "a.dat"}, "a(k6.).dat"},
        {{"-trim2", "-trim3", "a.dat"}, "a(trim3).dat"},
        {{"-k5", "-t7", "-b", "-nowetdry", "a.dat"}, "a(k7.).dat"},
        // Two step choices or two transforms cannot both be honoured.
        {{"-k5", "-r6", "a.dat"}, conflictLine("-k5 and -r6")},
        {{"-r6", "-con", "-k5", "a.dat"}, conflictLine("-r6 and -k5")},
        {{"-trim2", "-va", "a.dat"}, conflictLine("-trim2 and -va")},
        {{"-VA", "-k1", "-TRIM2", "a.dat"}, conflictLine("-VA and -TRIM2")},
        {{"-max", "-con", "-k1", "a.dat"}, conflictLine("-max, -con and -k1")},
        {{"-dif", "-dif", "-max", "a.dat", "b.dat"}, conflictLine("-dif and -max")},
    };
    for (const auto& c : cases) {
        std::string shown;
        for (const auto& a : c.args) shown += a + " ";
        SCOPED_TRACE(shown);
        RunOptions options;
        CommandLineError error;
        if (PARSE_COMMAND_LINE(c.args, options, error)) {
            ASSERT_TRUE(BUILD_OUTPUT_NAME(options));
            EXPECT_EQ(options.operation.kind, OperationKind::SinglePass);
            EXPECT_EQ(options.fileNames[0], c.outcome);
        } else {
            ASSERT_EQ(error.lines.size(), 2u);
            EXPECT_EQ(error.lines[1], c.outcome);
        }
    }
}

TEST(OperationRule, ShapeOfEachOperation) {
    struct Case {
        std::vector<std::string> args;
        OperationKind kind;
        OutputForm output;
        bool vectorFromVector;
        std::string outputName;
        int inputs;
    };
    const std::vector<Case> cases = {
        {{"-con", "d/a.x", "b"}, OperationKind::SinglePass, OutputForm::LikeInput, true, "d/a(con).dat", 2},
        {{"-va", "a"}, OperationKind::SinglePass, OutputForm::Scalar, false, "a(va).dat", 1},
        {{"-trim1", "a"}, OperationKind::SinglePass, OutputForm::LikeInput, true, "a(trim1).dat", 1},
        {{"-times", "d/a"}, OperationKind::ListTimes, OutputForm::TimesText, false, "times.txt", 1},
        {{"-max", "a", "b", "c"}, OperationKind::Maximum, OutputForm::LikeInput, true, "a(maxmax).dat", 3},
        {{"-dur1", "a"}, OperationKind::Duration, OutputForm::Scalar, false, "a(dur1).dat", 1},
        {{"-dif", "d/a_d", "e/b_d"}, OperationKind::Difference, OutputForm::Scalar, false, "d/a_d - b_d.dat", 2},
        {{"-dif", "a", "b", "o/c.x"}, OperationKind::Difference, OutputForm::Scalar, false, "o/c.dat", 2},
        {{"-ddur1", "-t2", "a", "b", "c"}, OperationKind::DurationDifference, OutputForm::Scalar, false, "c.dat", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        RunOptions options;
        CommandLineError error;
        ASSERT_TRUE(PARSE_COMMAND_LINE(c.args, options, error));
        ASSERT_TRUE(BUILD_OUTPUT_NAME(options));
        EXPECT_EQ(options.operation.kind, c.kind);
        EXPECT_EQ(options.shape().output, c.output);
        EXPECT_EQ(writesVectors(options.operation, true), c.vectorFromVector);
        EXPECT_FALSE(writesVectors(options.operation, false));
        EXPECT_EQ(options.fileNames[0], c.outputName);
        EXPECT_EQ(options.fileCount, c.inputs);
    }
}

// The tool itself: a combination writes what its name says, and a conflict stops before any
// file is opened.
TEST(OperationRun, CombinationsOfTheSinglePassAreHonoured) {
    using test::DatBuilder;
    struct Case {
        std::vector<std::string> flags;
        std::string output;
        std::vector<float> times;
        std::vector<float> firstValues;
    };
    const std::vector<Case> cases = {
        {{"-k2", "-trim1.5"}, "a(k2.).dat", {2}, {1.5f}},
        {{"-trim1.5", "-r2"}, "a(r2.).dat", {1, 3}, {1.0f, 1.5f}},
        {{"-con", "-k3"}, "a(k3.).dat", {3}, {3.0f}},
        {{"-con", "-r1", "-trim2.5"}, "a(r1.).dat", {2, 3}, {2.0f, 2.5f}},
        {{"-con", "-trim2.5"}, "a(con).dat", {1, 2, 3}, {1.0f, 2.0f, 2.5f}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output + " " + c.flags[0]);
        test::TempDir dir;
        DatBuilder b;
        b.header(2, 1, false, "a");
        for (float t : {1.0f, 2.0f, 3.0f}) b.step(t, {1}, {t, t + 10.0f});
        dir.write("a.dat", b.end().bytes());
        std::vector<std::string> args = {"-b"};
        args.insert(args.end(), c.flags.begin(), c.flags.end());
        args.push_back("a.dat");
        const test::ToolResult r = test::runTool(args, "", dir.path());
        ASSERT_EQ(r.status, 0) << r.output;
        const test::WrittenDat out = test::parseWrittenDat(test::readFile(dir.file(c.output)));
        ASSERT_EQ(out.error, "");
        ASSERT_EQ(out.steps.size(), c.times.size());
        for (std::size_t i = 0; i < c.times.size(); ++i) {
            EXPECT_EQ(out.steps[i].time, c.times[i]);
            EXPECT_EQ(out.steps[i].values1[0], c.firstValues[i]);
        }
    }
}

TEST(OperationRun, AConflictStopsBeforeAnyFileIsOpened) {
    test::TempDir dir;
    dir.write("a.dat", "not even read");
    const test::ToolResult r = test::runTool({"-b", "-k1", "-max", "a.dat"}, "", dir.path());
    EXPECT_EQ(r.status, 1);
    // -b: no pause after the message.
    EXPECT_EQ(r.output, "\nBuild 2007-07-AA\n\n\n" + conflictLine("-k1 and -max") + "\n");
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"a.dat"});
}

}  // namespace
}  // namespace kelvara
