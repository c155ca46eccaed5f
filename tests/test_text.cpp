// Text routines: flag search, case conversion, leading blanks, significant length, number texts.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "util/text.h"

namespace {

using namespace std::string_literals;

TEST(TextRoutines, FlagSearch) {
    struct Case {
        std::string line, flag;
        bool found;
    };
    const Case cases[] = {
        {"MAX", "max", true},
        {"maxmax", "xm", true},  // anywhere in the line
        {"con", "dur", false},
        {"-con a.dat", "   ", true},  // a blank flag is always found
        {"   ", "a", false},
        {"-dur 0.3", " -DUR", false},  // leading blanks of the flag are searched for
        {"x -dur 0.3", " -DUR", true},
        {"-max   ", "-max  ", true},  // trailing blanks on both sides do not count
        {"-\xE9T", "-\xC9T", false},  // only ASCII letters change case
    };
    for (const Case& c : cases)
        EXPECT_EQ(kelvara::FLAGEXISTS(c.line, c.flag), c.found) << "[" << c.line << "] [" << c.flag << "]";
}

TEST(TextRoutines, FlagSearchLooksAtTheFirst10000Characters) {
    std::string line(9996, ' ');
    line += "-max";  // ends exactly at character 10000
    EXPECT_TRUE(kelvara::FLAGEXISTS(line, "-max"));
    EXPECT_FALSE(kelvara::FLAGEXISTS(" " + line, "-max"));  // its "x" is cut off
}

TEST(TextRoutines, CaseAndLeadingBlanks) {
    struct Case {
        std::string text, upper, lower, trimmed;
    };
    const Case cases[] = {
        {"     ", "", "", ""},
        {"   ab c  ", "   AB C", "   ab c", "ab c"},
        {"az@[`{AZ09", "AZ@[`{AZ09", "az@[`{az09", "az@[`{AZ09"},
        {"\tX ", "\tX", "\tx", "\tX"},  // a tab is not a blank
        {"a\0b"s, "A\0B"s, "a\0b"s, "a\0b"s},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kelvara::UPPERCASE(c.text), c.upper) << c.text;
        EXPECT_EQ(kelvara::LOWERCASE(c.text), c.lower) << c.text;
        EXPECT_EQ(kelvara::TRIMF(c.text), c.trimmed) << c.text;
    }
}

TEST(TextRoutines, SignificantLength) {
    struct Case {
        std::string text;
        int length;
    };
    const Case cases[] = {
        {"", 0},
        {"\0\0 \0"s, 0},
        {"ab\0   "s, 2},
        {" a\0b \0"s, 4},  // a NUL inside the text is not padding once something follows it
        {"\t", 1},
    };
    for (const Case& c : cases) EXPECT_EQ(kelvara::LENSL(c.text), c.length);
}

TEST(TextRoutines, IntegerText) {
    EXPECT_EQ(kelvara::AINTEGER(0), "0");
    EXPECT_EQ(kelvara::AINTEGER(-12), "-12");
    EXPECT_EQ(kelvara::AINTEGER(std::numeric_limits<std::int32_t>::min()), "-2147483648");
}

TEST(TextRoutines, RealText) {
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        float value;
        const char* text;
    };
    const Case cases[] = {
        {2.0f, "2."},
        {0.0f, "0."},
        {-0.0f, "-0."},
        {0.005f, "0.005"},
        {3.14159f, "3.142"},
        {-12.5f, "-12.5"},
        {1234.56f, "1235."},
        // The magnitude bands and their boundaries.
        {0.0123456f, "0.01235"},
        {123.456f, "123.5"},
        {999.96f, "1000."},  // rounding may carry into a new digit
        {9.9996f, "10."},
        {0.01f, "0.01"},
        {-1e-7f, "-0."},
        // Exact ties round away from zero (a tie-to-even printer would give 1000., 10.12, ...).
        {1000.5f, "1001."},
        {-1000.5f, "-1001."},
        {10.125f, "10.13"},
        {-10.125f, "-10.13"},
        {0.0625f, "0.0625"},
        {1.0015f, "1.002"},  // not ties: the binary value lies just above ...
        {1.0005f, "1."},     // ... or just below the half
        // The 20-character field: 19 digits and the point fit, one more does not.
        {9e18f, "9000000202358128640."},
        {1e20f, "********************"},
        {-1e19f, "********************"},
        {std::nanf(""), "NaN"},
        {inf, "Infinity"},
        {-inf, "-Infinity"},
    };
    for (const Case& c : cases) EXPECT_EQ(kelvara::AREAL(c.value), c.text) << c.value;
}

}  // namespace
