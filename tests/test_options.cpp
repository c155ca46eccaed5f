// Command-line classification: flag words, their numbers, the label and the validations.
#include <gtest/gtest.h>

#include <algorithm>

#include <cmath>

#include "tool/driver.h"
#include "tool/options.h"
#include "util/numbers.h"

namespace kelvara {
namespace {

using Kind = CommandLineError::Kind;

struct Parsed {
    bool ok;
    RunOptions options;
    CommandLineError error;
};

Parsed parse(const std::vector<std::string>& args) {
    Parsed p{};
    p.ok = PARSE_COMMAND_LINE(args, p.options, p.error);
    return p;
}

TEST(CommandLine, FlagWordsAreMatchedByPrefixInTableOrder) {
    using K = OperationKind;
    using Check = bool (*)(const RunOptions&);
    struct Case {
        std::vector<std::string> args;
        OperationKind kind;
        Check check;
    };
    const Check none = [](const RunOptions&) { return true; };
    const std::vector<Case> cases = {
        {{"-con", "a.dat", "b.dat"}, K::SinglePass, [](const RunOptions& o) { return o.operation.concatenate; }},
        {{"-conx", "a.dat", "b.dat"}, K::SinglePass, [](const RunOptions& o) { return o.operation.concatenate; }},
        {{"-CON", "a.dat", "b.dat"}, K::SinglePass, [](const RunOptions& o) { return o.operation.concatenate; }},
        {{"-maxima", "a.dat"}, K::Maximum, none},
        {{"-dif", "a.dat", "b.dat"}, K::Difference, none},
        {{"-dur0.3", "a.dat"}, K::Duration, none},
        {{"-ddur0.5", "-t3", "a.dat", "b.dat"}, K::DurationDifference,
         [](const RunOptions& o) { return o.operation.atTime; }},
        {{"-trim2", "a.dat"}, K::SinglePass,
         [](const RunOptions& o) { return o.operation.transform == ValueTransform::Trim; }},
        {{"-B", "-k1", "a.dat"}, K::SinglePass, [](const RunOptions& o) { return o.batch; }},
        {{"-bogus", "-k1", "a.dat"}, K::SinglePass, [](const RunOptions& o) { return o.batch; }},
        {{"-k99999", "a.dat"}, K::SinglePass,
         [](const RunOptions& o) { return o.operation.steps == StepChoice::Keep; }},
        {{"-r2", "a.dat"}, K::SinglePass,
         [](const RunOptions& o) { return o.operation.steps == StepChoice::Remove; }},
        {{"-times", "a.dat"}, K::ListTimes, none},
        {{"-TIMES", "a.dat"}, K::ListTimes, none},
        {{"-t5", "-max", "a.dat"}, K::Maximum, [](const RunOptions& o) { return o.operation.atTime; }},
        {{"-va", "a.dat"}, K::SinglePass,
         [](const RunOptions& o) { return o.operation.transform == ValueTransform::FlowAngle; }},
        {{"-nowetdry", "-dif", "a.dat", "b.dat"}, K::Difference,
         [](const RunOptions& o) { return o.operation.noWetDry; }},
    };
    for (const auto& c : cases) {
        Parsed p = parse(c.args);
        ASSERT_TRUE(p.ok) << c.args[0];
        EXPECT_EQ(p.options.operation.kind, c.kind) << c.args[0];
        EXPECT_TRUE(c.check(p.options)) << c.args[0];
        EXPECT_FALSE(p.options.showUsage);
    }
}

TEST(CommandLine, NumbersAreReadInFreeFormatAndTheLastOneWins) {
    struct Case {
        std::vector<std::string> args;
        float cutoff;
        float time;
        std::string label;
    };
    const std::vector<Case> cases = {
        {{"-k99999", "a.dat"}, 0.1f, 99999.0f, ""},
        {{"-k1e2", "a.dat"}, 0.1f, 100.0f, ""},
        {{"-k 2.5", "a.dat"}, 0.1f, 2.5f, ""},
        {{"-k-.5", "a.dat"}, 0.1f, -0.5f, ""},
        {{"-k3.", "a.dat"}, 0.1f, 3.0f, ""},
        {{"-k1d1", "a.dat"}, 0.1f, 10.0f, ""},
        {{"-trim2", "a.dat"}, 2.0f, 0.0f, "trim2"},
        {{"-dur0.3", "a.dat"}, 0.3f, 0.0f, "dur0.3"},
        {{"-dur0.3", "-dur0.5", "a.dat"}, 0.5f, 0.0f, "dur0.5"},
        {{"-ddur0.5", "-t1", "a.dat", "b.dat"}, 0.5f, 1.0f, ""},
        {{"-k5", "-t10", "a.dat"}, 0.1f, 10.0f, ""},
        {{"-t10", "-k5", "a.dat"}, 0.1f, 5.0f, ""},
        {{"-trim2", "-k1", "-trim3", "a.dat"}, 3.0f, 1.0f, "trim3"},
        {{"-VA  ", "a.dat"}, 0.1f, 0.0f, "VA"},
    };
    for (const auto& c : cases) {
        Parsed p = parse(c.args);
        ASSERT_TRUE(p.ok) << c.args[0];
        EXPECT_EQ(p.options.operation.cutoff, c.cutoff) << c.args[0];
        EXPECT_EQ(p.options.operation.time, c.time) << c.args[0];
        EXPECT_EQ(p.options.operation.label, c.label) << c.args[0];
    }
}

TEST(CommandLine, RemovingATimeAbove99998RemovesEveryMaximumTime) {
    EXPECT_TRUE(parse({"-r99999", "a.dat"}).options.operation.removeAllMaxTimes);
    EXPECT_FALSE(parse({"-r99998", "a.dat"}).options.operation.removeAllMaxTimes);
    EXPECT_FALSE(parse({"-r5", "a.dat"}).options.operation.removeAllMaxTimes);
}

TEST(CommandLine, BadArgumentsStopWithTheirMessages) {
    const std::string readingTime = "ERROR - Reading the time of -k";
    const std::string readingCutoff = "ERROR - Reading the cutoff of -trim";
    struct Case {
        std::vector<std::string> args;
        Kind kind;
        std::string lastLine;
    };
    const std::vector<Case> cases = {
        {{"-d", "a.dat"}, Kind::IncorrectFlag, "ERROR - Incorrect flag specified: \"-d\""},
        {{"-no", "a.dat"}, Kind::IncorrectFlag, "ERROR - Incorrect flag specified: \"-no\""},
        {{"-", "a.dat"}, Kind::IncorrectFlag, "ERROR - Incorrect flag specified: \"-\""},
        {{"-xyz  ", "a.dat"}, Kind::IncorrectFlag, "ERROR - Incorrect flag specified: \"-xyz\""},
        {{"-k", "a.dat"}, Kind::UnreadableNumber, readingTime},
        {{"-tim", "a.dat"}, Kind::UnreadableNumber, "ERROR - Reading the time of -t"},
        {{"-trim", "a.dat"}, Kind::UnreadableNumber, readingCutoff},
        {{"-trimx", "a.dat"}, Kind::UnreadableNumber, readingCutoff},
        {{"-k1e", "a.dat"}, Kind::UnreadableNumber, readingTime},
        {{"-k1e99", "a.dat"}, Kind::UnreadableNumber, readingTime},
        {{"-k.", "a.dat"}, Kind::UnreadableNumber, readingTime},
        {{"-k--1", "a.dat"}, Kind::UnreadableNumber, readingTime},
        {{"-dif", "a.dat"}, Kind::WrongFileCount,
         "ERROR - Must specify two .dat files for -dif or -ddur options."},
        {{"-dif", "a", "b", "c", "d"}, Kind::WrongFileCount,
         "ERROR - Must specify two .dat files for -dif or -ddur options."},
        {{"-con", "a.dat"}, Kind::WrongFileCount,
         "ERROR - Must specify at least two .dat files for -con option."},
        {{"-k1", "a.dat", "b.dat"}, Kind::WrongFileCount,
         "ERROR - Can only specify one .dat file for -dur, -trim, -va, -times, -k and -r options."},
        {{"-ddur0.1", "a.dat", "b.dat"}, Kind::NoEndTime,
         "ERROR - Must specify an end time using -t option for duration differences"},
        {{"-max"}, Kind::NoFiles, "ERROR - No .dat file specified."},
        {{"-k1"}, Kind::NoFiles, "ERROR - No .dat file specified."},
    };
    for (const auto& c : cases) {
        Parsed p = parse(c.args);
        EXPECT_FALSE(p.ok) << c.args[0];
        EXPECT_EQ(p.error.kind, c.kind) << c.args[0];
        ASSERT_FALSE(p.error.lines.empty());
        // The error line; a line saying what to do may follow it.
        const auto error = std::find_if(p.error.lines.begin(), p.error.lines.end(),
                                        [](const std::string& l) { return l.rfind("ERROR - ", 0) == 0; });
        ASSERT_NE(error, p.error.lines.end()) << c.args[0];
        EXPECT_EQ(*error, c.lastLine) << c.args[0];
    }
}

TEST(CommandLine, ANumberErrorNamesItsFlagAndIsFollowedByHowToWriteTheNumber) {
    struct Case {
        std::vector<std::string> args;
        std::string error, hint;
    };
    const std::vector<Case> cases = {
        {{"-dur", "0.3", "a.dat"}, "ERROR - Reading the cutoff of -dur",
         "\"-dur\" needs its cutoff written right after it, without a blank: -dur0.3"},
        {{"-dur=0.3", "a.dat"}, "ERROR - Reading the cutoff of -dur",
         "\"-dur=0.3\": write its cutoff right after the flag, without \"=\": -dur0.3"},
        {{"-k", "6", "a.dat"}, "ERROR - Reading the time of -k",
         "\"-k\" needs its time written right after it, without a blank: -k6"},
        {{"-k", "a.dat"}, "ERROR - Reading the time of -k",
         "\"-k\" needs its time written right after it, for example -k99999"},
        {{"-time", "a.dat"}, "ERROR - Reading the time of -t",
         "\"-time\" is read as -t followed by the time \"ime\": write a time right after -t (for "
         "example -t12), or use -times to list the times"},
        {{"-k1,5", "a.dat"}, "ERROR - Reading the time of -k",
         "\"-k1,5\": its time must be a number written right after the flag, for example -k99999"},
        {{"-r", "a.dat"}, "ERROR - Reading the time of -r",
         "\"-r\" needs its time written right after it, for example -r99999"},
        {{"-trim-2", "a.dat"}, "ERROR - Reading the cutoff of -trim",
         "\"-trim-2\": its cutoff must be a number of zero or more written right after the flag, "
         "for example -trim1"},
        {{"-hazardx", "a.dat"}, "ERROR - Reading the debris factor of -hazard",
         "\"-hazardx\": its debris factor must be a number of zero or more written right after "
         "the flag, for example -hazard0.5"},
        {{"-arrival", "a.dat"}, "ERROR - Reading the cutoff of -arrival",
         "\"-arrival\" needs its cutoff written right after it, for example -arrival0.3"},
        {{"-ddurx", "a.dat", "b.dat"}, "ERROR - Reading the cutoff of -ddur",
         "\"-ddurx\": its cutoff must be a number written right after the flag, for example -ddur0.1"},
        {{"-grid", "2", "a.dat"}, "ERROR - Reading the cell size of -grid",
         "\"-grid\" needs its cell size written right after it, without a blank: -grid2"},
    };
    for (const Case& c : cases) {
        Parsed p = parse(c.args);
        EXPECT_EQ(p.error.kind, Kind::UnreadableNumber) << c.args[0];
        ASSERT_EQ(p.error.lines.size(), 2u) << c.args[0];
        EXPECT_EQ(p.error.lines[0], c.error);
        EXPECT_EQ(p.error.lines[1], c.hint);
    }
}

TEST(CommandLine, AMisspeltFlagNamesTheNearestFlag) {
    struct Case {
        std::vector<std::string> args;
        std::string error;  // "": no flag is named, the plain message stays
    };
    const std::string incorrect = "ERROR - Incorrect flag specified: ";
    const std::vector<Case> cases = {
        {{"-durr0.3", "a.dat"}, incorrect + "\"-durr0.3\": did you mean -dur0.3?"},
        {{"-hazzard", "a.dat"}, incorrect + "\"-hazzard\": did you mean -hazard?"},
        {{"-hazzard0.5", "a.dat"}, incorrect + "\"-hazzard0.5\": did you mean -hazard0.5?"},
        {{"-arival0.3", "a.dat"}, incorrect + "\"-arival0.3\": did you mean -arrival0.3?"},
        {{"-gird2", "a.dat"}, incorrect + "\"-gird2\": did you mean -grid2?"},
        {{"-ddurr0.1", "a.dat", "b.dat"}, incorrect + "\"-ddurr0.1\": did you mean -ddur0.1?"},
        {{"-trimm1", "a.dat"}, incorrect + "\"-trimm1\": did you mean -trim1?"},
        {{"-nowetdyr", "a.dat"}, incorrect + "\"-nowetdyr\": did you mean -nowetdry?"},
        {{"-Conn", "a.dat"}, ""},  // -con takes every argument that begins with it
        {{"-mix", "a.dat"}, incorrect + "\"-mix\": did you mean -max?"},
        // Too far from any flag, or too short to tell.
        {{"-xyz", "a.dat"}, incorrect + "\"-xyz\""},
        {{"-q", "a.dat"}, incorrect + "\"-q\""},
        {{"-no", "a.dat"}, incorrect + "\"-no\""},
        {{"-hazardous", "a.dat"}, ""},  // the number error of -hazard
        // A flag that takes no number is not suggested with one.
        {{"-mix5", "a.dat"}, incorrect + "\"-mix5\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        Parsed p = parse(c.args);
        if (c.error.empty()) {
            EXPECT_NE(p.error.kind, Kind::IncorrectFlag);
            continue;
        }
        EXPECT_FALSE(p.ok);
        EXPECT_EQ(p.error.kind, Kind::IncorrectFlag);
        ASSERT_FALSE(p.error.lines.empty());
        EXPECT_EQ(p.error.lines.back(), c.error);
    }
}

TEST(CommandLine, TheFirstBadArgumentStopsTheReading) {
    Parsed p = parse({"-q", "-k"});
    EXPECT_EQ(p.error.kind, Kind::IncorrectFlag);
    p = parse({"-k", "-q"});
    EXPECT_EQ(p.error.kind, Kind::UnreadableNumber);
}

TEST(CommandLine, FileNamesAreKeptInOrderWithoutALimitOfFileUnits) {
    Parsed p = parse({"-con", "a.dat", " b.dat  ", "c.dat"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.options.fileCount, 3);
    EXPECT_EQ(p.options.fileNames[1], "a.dat");
    EXPECT_EQ(p.options.fileNames[2], " b.dat");
    EXPECT_EQ(p.options.fileNames[3], "c.dat");

    // A run's files are its own and have no limit: far more than the 100 units of old.
    std::vector<std::string> many = {"-con"};
    for (int i = 0; i < 1500; ++i) many.push_back("f" + std::to_string(i) + ".dat");
    p = parse(many);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.options.fileCount, 1500);
    EXPECT_EQ(p.options.fileNames[1500], "f1499.dat");
}

// Whatever does not fit is refused, never cut or read in part.
TEST(CommandLine, NumbersAndNamesThatDoNotFitAreRefused) {
    struct Case {
        std::vector<std::string> args;
        Kind kind;
    };
    const std::vector<Case> cases = {
        {{"-k1,5", "a.dat"}, Kind::UnreadableNumber},
        {{"-dur0,1", "a.dat"}, Kind::UnreadableNumber},
        {{"-trim0,4", "a.dat"}, Kind::UnreadableNumber},
        {{"-t2 x", "-max", "a.dat"}, Kind::UnreadableNumber},
        {{"-k2/", "a.dat"}, Kind::UnreadableNumber},
        {{"-trim-5", "a.dat"}, Kind::UnreadableNumber},
        {{"-trim-0.001", "a.dat"}, Kind::UnreadableNumber},
        {{"-max", ""}, Kind::BadName},
        {{"-max", "  "}, Kind::BadName},
        {{"-max", std::string(1001, 'x')}, Kind::BadName},
        {{"-k" + std::string(1000, '1'), "a.dat"}, Kind::BadName},
        // What still fits.
        {{"-k 2.5 ", "a.dat"}, Kind::None},
        {{"-trim0", "a.dat"}, Kind::None},
        {{"-dur-0.5", "a.dat"}, Kind::None},
        {{"-max", std::string(1000, 'x')}, Kind::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0].substr(0, 20) + " " + c.args[1].substr(0, 20));
        Parsed p = parse(c.args);
        EXPECT_EQ(p.ok, c.kind == Kind::None);
        EXPECT_EQ(p.error.kind, c.kind);
        if (!p.ok) {
            ASSERT_FALSE(p.error.lines.empty());
            EXPECT_TRUE(std::any_of(p.error.lines.begin(), p.error.lines.end(),
                                    [](const std::string& l) { return l.rfind("ERROR - ", 0) == 0; }))
                << p.error.lines.back();
        }
    }
}

TEST(OutputName, IsBuiltFromTheFirstInputAndTheOperation) {
    struct Case {
        std::vector<std::string> args;
        std::string output;
        int fileCount;
    };
    const std::vector<Case> cases = {
        {{"-con", "C:\\run\\run_h.dat", "b.dat"}, "C:\\run\\run_h(con).dat", 2},
        {{"-k99999", "dir/run_h.dat"}, "dir/run_h(k99999.).dat", 1},
        {{"-r2.5", "run_h.dat"}, "run_h(r2.5).dat", 1},
        {{"-max", "run_h.dat", "run2_h.dat"}, "run_h(maxmax).dat", 2},
        {{"-dif", "C:\\run\\run_h.dat", "D:\\b\\run2_h.dat"}, "C:\\run\\run_h - run2_h.dat", 2},
        {{"-dif", "a_d.dat", "b_d.dat", "out/res.xyz"}, "out/res.dat", 2},
        {{"-ddur0.1", "-t5", "a_h.dat", "b_h.dat"}, "a_h - b_h.dat", 2},
        {{"-dur0.3", "run_d.dat"}, "run_d(dur0.3).dat", 1},
        {{"-trim2", "run_V.dat"}, "run_V(trim2).dat", 1},
        {{"-va", "run_V.dat"}, "run_V(va).dat", 1},
        {{"-times", "dir/run_h.dat"}, "times.txt", 1},
    };
    for (const auto& c : cases) {
        Parsed p = parse(c.args);
        ASSERT_TRUE(p.ok) << c.args[0];
        ASSERT_TRUE(BUILD_OUTPUT_NAME(p.options)) << c.args[0];
        EXPECT_EQ(p.options.fileNames[0], c.output) << c.args[0];
        EXPECT_EQ(p.options.fileCount, c.fileCount) << c.args[0];
    }
}

TEST(OutputName, NoOperationAsksForTheUsageText) {
    for (const auto& args : {std::vector<std::string>{"-b", "a.dat"},
                             std::vector<std::string>{"-nowetdry", "a.dat"},
                             std::vector<std::string>{"a.dat"}}) {
        Parsed p = parse(args);
        ASSERT_TRUE(p.ok);
        EXPECT_FALSE(p.options.showUsage);
        EXPECT_FALSE(BUILD_OUTPUT_NAME(p.options));
        EXPECT_TRUE(p.options.showUsage);
    }
}

TEST(FreeFormatReal, AcceptsFortranStyleItems) {
    struct Case {
        const char* text;
        bool ok;
        float value;
    };
    const Case cases[] = {
        {"0.1", true, 0.1f},  {"  7", true, 7.0f},     {"1E2", true, 100.0f},
        {"+3", true, 3.0f},   {"2.5e-1", true, 0.25f}, {"4,5", true, 4.0f},
        {"6 x", true, 6.0f},    {"1.5d1", true, 15.0f},  {"", false, 0},          {"   ", false, 0},
        {"im", false, 0},     {"1.2.3", false, 0},     {"nan", false, 0},
        {"1e", false, 0},     {"e5", false, 0},        {"3x", false, 0},
    };
    for (const auto& c : cases) {
        float v = -1.0f;
        EXPECT_EQ(readFreeReal(c.text, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

TEST(UsageText, KeepsItsLinesAndAddsTheNewOperationsAfterThem) {
    const auto& lines = usageText();
    ASSERT_GE(lines.size(), 32u);
    EXPECT_EQ(lines[12].back(), ' ');
    EXPECT_EQ(lines[21].back(), ' ');
    EXPECT_EQ(lines[24], "     \"-va\" outputs the flow angle in degrees (N=0, E=90, W=-90, S=180/-180)");
    const auto example = std::find(lines.begin(), lines.end(),
                                   "Example:  kelvara.exe -k99999 run_h.dat");
    ASSERT_NE(example, lines.end());
    EXPECT_EQ(*(example - 1), "");
    EXPECT_EQ(lines.back(), "");
    for (const char* word : {"\"-arrival<cutoff_value>\"", "\"-hazard<debris_factor>\""}) {
        EXPECT_TRUE(std::any_of(lines.begin() + 25, example, [&](const std::string& line) {
            return line.find(word) != std::string::npos;
        })) << word;
    }
}

}  // namespace
}  // namespace kelvara
