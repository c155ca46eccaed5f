// Reading and taking apart lines of control and data files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "fileio/units.h"
#include "library/lines.h"
#include "library/messages.h"
#include "support/tempdir.h"

namespace {

using kelvara::test::TempDir;

struct InPlaceCase {
    const char* text;
    bool result;
    const char* after;
};

template <typename Routine>
void checkInPlace(Routine routine, const InPlaceCase* begin, const InPlaceCase* end) {
    for (const InPlaceCase* c = begin; c != end; ++c) {
        SCOPED_TRACE(c->text);
        std::string s = c->text;
        EXPECT_EQ(routine(s), c->result);
        EXPECT_EQ(s, c->after);
    }
}

TEST(LineParsing, CommentAndNumberLines) {
    const InPlaceCase comment[] = {
        {"   ! note", true, ""},
        {"# all comment", true, ""},
        {"", true, ""},
        {"    ", true, ""},
        {"Depth == 2.5 ! m", false, "Depth == 2.5"},
        {"a # b ! c", false, "a"},
        {"a ! b # c", false, "a"},
        {"  plain text", false, "plain text"},
        {"\t# tab first", false, "\t"},
    };
    checkInPlace([](std::string& s) { return kelvara::COMMENTLINE(s); }, std::begin(comment),
                 std::end(comment));

    const InPlaceCase number[] = {
        {"-3", true, "-3"},     {".5", true, ".5"},     {"  12.5", true, "12.5"},
        {"", true, ""},         {"+3", false, "+3"},    {"x1", false, "x1"},
    };
    checkInPlace([](std::string& s) { return kelvara::NUMBERLINE(s); }, std::begin(number),
                 std::end(number));

    const InPlaceCase integer[] = {
        {"  42", true, "42"}, {"", false, ""},     {"4 2", false, "4 2"},
        {"-4", false, "-4"},  {"4.", false, "4."}, {"007", true, "007"},
    };
    checkInPlace([](std::string& s) { return kelvara::POSITIVEINTEGERNUMBER(s); },
                 std::begin(integer), std::end(integer));

    const InPlaceCase blank[] = {
        {"\t \t", true, " "}, {"", true, ""}, {"a\tb", false, "ab"},
    };
    checkInPlace([](std::string& s) { return kelvara::BLANK(s); }, std::begin(blank),
                 std::end(blank));
}

TEST(LineParsing, WordComparison) {
    struct Case {
        const char* a;
        const char* b;
        bool same;
        bool sameCase;
    };
    const Case cases[] = {
        {"Depth", "depth", true, false},
        {"  Depth", "\tDepth  ", true, true},
        {"De\tpth", "Depth", true, true},
        {"Depth", "Dept", false, false},
        {"", "   ", true, true},
        {"a b", "ab", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + "|" + c.b);
        EXPECT_EQ(kelvara::ASAME(c.a, c.b), c.same);
        EXPECT_EQ(kelvara::ASAMECS(c.a, c.b), c.sameCase);
    }
    // Only the first 1000 characters are compared.
    EXPECT_TRUE(kelvara::ASAME(std::string(1000, 'a') + "x", std::string(1000, 'A') + "y"));
}

TEST(LineParsing, CheckLineSplits) {
    struct Case {
        const char* line;
        const char* keyword;
        const char* separator;
        int column;
        bool result;
        const char* left;
        const char* right;
    };
    const Case cases[] = {
        {"Timestep == 2", "timestep", "==", 0, true, "Timestep ", " 2"},
        {"Timestep == 2", "depth", "==", 0, false, "Timestep ", " 2"},
        {"Timestep == 2", "", "==", 0, true, "Timestep ", " 2"},
        {"== 2", "", "==", 0, false, "", " 2"},
        {"no separator", "", "==", 0, true, "no separator", ""},
        {"", "", "==", 0, true, "", ""},
        {"abcdef", "ab", "==", 3, true, "abc", "def"},
        {"abcdef", "", "==", 30, true, "abcdef", ""},
        {"abcdef", "", "==", -2, false, "", "abcdef"},
        {"abcdef", "bc", " ", 3, true, "abc", "def"},
        {"abcdef", "", "", 0, true, "", "abcdef"},
        {"abcdef", "", " ", -4, false, "", "abcdef"},
        {"Key = 5", "key", "= ", 0, true, "Key ", "5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.line) + "|" + c.separator + "|" + std::to_string(c.column));
        std::string right = "old";
        std::string left = "old";
        EXPECT_EQ(kelvara::CHECKLINE(c.line, c.keyword, c.separator, c.column, right, left),
                  c.result);
        EXPECT_EQ(left, c.left);
        EXPECT_EQ(right, c.right);
    }
}

TEST(LineParsing, CleaningAndReplacing) {
    struct Case {
        std::string (*routine)(std::string_view);
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {kelvara::REMOVETABS, "a\tb", "ab"},
        {kelvara::REMOVETABS, "\t\t", ""},
        {kelvara::REMOVESPACES, " a b  c ", "abc"},
        {kelvara::REMOVEQUOTES, "\"b c\" 'd'", "b c d"},
        {kelvara::DOUBLEQUOTE, "say \"hi\"", "say \"\"hi\"\""},
        {kelvara::DOUBLEQUOTE, "\"", "\"\""},
        {kelvara::DOUBLEQUOTE, "none", "none"},
        {kelvara::SS256, "abc   ", "abc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.routine(c.text), c.expected);
    }
    EXPECT_EQ(kelvara::SS256(std::string(300, 'x')), std::string(256, 'x'));

    struct Replace {
        const char* text;
        const char* oldWord;
        const char* newWord;
        const char* expected;
    };
    const Replace replaces[] = {
        {"Read GIS Z", "gis", "MI", "Read MI Z"},
        {"Read GIS Z gis", "gis  ", "MI  ", "Read MI Z gis"},
        {"Read GIS Z", "mif", "MI", "Read GIS Z"},
        {"Read GIS Z", "", "New ", "NewRead GIS Z"},
        {"abc", "c", "", "ab"},
    };
    for (const auto& r : replaces) {
        SCOPED_TRACE(r.text);
        EXPECT_EQ(kelvara::REPLACE(r.text, r.oldWord, r.newWord), r.expected);
    }
}

TEST(LineParsing, CommaSeparatedColumnsAndValues) {
    struct Column {
        const char* header;
        const char* name;
        int expected;
    };
    const Column columns[] = {
        {"X, Y ,Depth", "y", 2},  {"X, Y ,Depth", "DEPTH", 3}, {"X, Y ,Depth", "Z", -1},
        {"X,,Z", "z", 3},         {"", "x", -1},               {"X,\tY", "y", 2},
    };
    for (const auto& c : columns) {
        SCOPED_TRACE(std::string(c.header) + "|" + c.name);
        EXPECT_EQ(kelvara::CSVCOLUMN(c.header, c.name, -1), c.expected);
    }

    struct Value {
        const char* line;
        int column;
        bool ok;
        float value;
    };
    const Value values[] = {
        {"1,2,abc", 3, false, 0.0f}, {"1,2,abc", 4, false, 0.0f}, {"1, 2 5", 2, true, 25.0f},
        {"1,2,abc", 1, true, 1.0f},  {"1,,3", 2, false, 0.0f},    {" -1.5e2 ,x", 1, true, -150.0f},
        {"7", 0, true, 7.0f},        {"1,.5", 2, true, 0.5f},     {"1,2.5d1", 2, true, 25.0f},
        {"1,+", 2, false, 0.0f},     {"1,1.2.3", 2, false, 0.0f}, {"1,\t4", 2, true, 4.0f},
    };
    for (const auto& v : values) {
        SCOPED_TRACE(std::string(v.line) + "|" + std::to_string(v.column));
        float value = -1.0f;
        EXPECT_EQ(kelvara::CSVVALUE(v.line, v.column, value), v.ok);
        EXPECT_EQ(value, v.value);
    }
}

TEST(LineParsing, FieldsAndNumberCounts) {
    struct Field {
        const char* text;
        const char* delimiter;
        int n;
        const char* expected;
    };
    const Field fields[] = {
        {"a, b,c", ",", 1, "a"},  {"a, b,c", ",", 2, "b"},  {"a, b,c", ",", 3, "c"},
        {"a, b,c", ",", 4, ""},   {"a, b,c", ",", 0, ""},   {"a,,c", ",", 2, ""},
        {"a b", " ", 2, "b"},     {"a::b::c", "::", 2, "b"}, {"a::b:c", "::", 2, "b:c"},
        {"a::b", "::", 3, ""},    {"abc", "", 1, "abc"},    {"abc", "", 2, ""},
    };
    for (const auto& f : fields) {
        SCOPED_TRACE(std::string(f.text) + "|" + f.delimiter + "|" + std::to_string(f.n));
        EXPECT_EQ(kelvara::SUBSTRING(f.text, f.delimiter, f.n), f.expected);
    }

    struct Count {
        const char* line;
        int expected;
    };
    const Count counts[] = {
        {"1 2 x", -2}, {"", 0}, {"1.5 2e3,-4 ! x", 3}, {"1\t2,3", 3},
        {"+1", 0},     {"a", 0}, {"12 # 3 4", 1},       {"1--2 3", 2},
    };
    for (const auto& c : counts) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(kelvara::NUMBEROFNUMBERS(c.line), c.expected);
    }
}

class ReadLine : public ::testing::Test {
protected:
    int openInput(const std::string& text) {
        const std::string path = dir_.write("control.txt", text);
        testing::internal::CaptureStdout();
        unit_ = kelvara::OPENFILEUNIT("I ", path);
        testing::internal::GetCapturedStdout();
        return unit_;
    }
    void TearDown() override {
        if (unit_ == 0) return;
        testing::internal::CaptureStdout();
        kelvara::CLOSEFILEUNIT(unit_);
        testing::internal::GetCapturedStdout();
    }
    TempDir dir_;
    int unit_ = 0;
};

TEST_F(ReadLine, ReadsClassifiesAndCleansEachRecord) {
    struct Case {
        bool result;
        const char* line;
    };
    const Case cases[] = {
        {false, "12.5"},
        {false, ""},
        {true, "Read File == x.csv"},
        {true, "ReadGIS == a"},
        {true, "crlf line"},
        {false, ""},
        {true, "last"},
    };
    const int unit = openInput(
        "  12.5\n# comment\nRead File == x.csv\n\tRead\tGIS == a ! c\ncrlf line\r\n\nlast");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::string line = "previous";
        EXPECT_EQ(kelvara::READLINE(unit, line, 100), c.result);
        EXPECT_EQ(line, c.line);
    }
}

TEST_F(ReadLine, CutsARecordAtTheLineLength) {
    const int unit = openInput("abcdefgh\nnext\r\n");
    std::string line;
    EXPECT_TRUE(kelvara::READLINE(unit, line, 5));
    EXPECT_EQ(line, "abcde");
    EXPECT_TRUE(kelvara::READLINE(unit, line, 4));
    EXPECT_EQ(line, "next");
}

// Runs statement in a death-test child with standard input at its end and the console text on
// standard error, where the death test can match it.
#define EXPECT_STOPS_WITH(statement, pattern)                                              \
    EXPECT_EXIT(                                                                           \
        {                                                                                  \
            if (std::freopen(kelvara::test::kNullDevice, "r", stdin) == nullptr) std::abort(); \
            ::dup2(2, 1);                                                                  \
            statement;                                                                     \
        },                                                                                 \
        ::testing::ExitedWithCode(1), pattern)

TEST_F(ReadLine, EndOfFileStopsTheRun) {
    const int unit = openInput("only\n");
    std::string line;
    EXPECT_TRUE(kelvara::READLINE(unit, line, 80));
    const std::string expected =
        "\nERROR - End-of-file encountered reading text line from file unit number" +
        std::to_string(unit) + "\n\nPress Enter to Close";
    EXPECT_STOPS_WITH(kelvara::READLINE(unit, line, 80), expected);
}

TEST(ReadLineStop, UnitThatIsNotOpenStopsTheRun) {
    std::string line;
    EXPECT_STOPS_WITH(kelvara::READLINE(999, line, 80),
                      "\nERROR - Reading text line from file unit number999\n");
    EXPECT_STOPS_WITH(kelvara::READLINE(1000, line, 80),
                      "ERROR - Reading text line from file unit number\\*\\*\\*\n");
    EXPECT_STOPS_WITH(kelvara::READLINE(7, line, 80),
                      "ERROR - Reading text line from file unit number  7\n");
}

}  // namespace
