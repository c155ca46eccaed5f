// Value extraction from data lines, number-to-text conversion, and the shared formatting and
// free-format reading helpers.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "library/values.h"
#include "support/tempdir.h"
#include "util/text.h"

namespace {

TEST(NumberFormat, FixedPointAndIntegerFields) {
    struct Fixed {
        double value;
        int width;
        int decimals;
        const char* expected;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Fixed fixed[] = {
        {-99999.0, 16, 3, "      -99999.000"},
        {0.5, 16, 3, "           0.500"},
        {-0.25, 6, 3, "-0.250"},
        {0.25, 4, 3, ".250"},
        {-0.25, 5, 3, "-.250"},
        {12345.678, 8, 3, "********"},
        {1.0e20, 16, 3, "****************"},
        {2.5, 20, 3, "               2.500"},
        {2.0625, 16, 3, "           2.063"},
        {-2.0625, 16, 3, "          -2.063"},
        {2.0624999, 16, 3, "           2.062"},
        {9.99951, 6, 3, "10.000"},
        {99.9996, 6, 3, "******"},
        {-0.0001, 8, 3, "  -0.000"},
        {0.0, 20, 0, "                  0."},
        {1.0, 20, 25, "********************"},
        {std::nan(""), 16, 3, "             NaN"},
        {inf, 16, 3, "        Infinity"},
        {-inf, 16, 3, "       -Infinity"},
        {-inf, 4, 3, "-Inf"},
    };
    for (const auto& f : fixed) {
        SCOPED_TRACE(f.expected);
        EXPECT_EQ(kelvara::formatFixed(f.value, f.width, f.decimals), f.expected);
    }

    struct Integer {
        long long value;
        int width;
        int minDigits;
        const char* expected;
    };
    const Integer integers[] = {
        {2012, 5, 4, " 2012"}, {7, 5, 4, " 0007"},   {-7, 5, 4, "-0007"},
        {123456, 5, 4, "*****"}, {905, 3, 1, "905"}, {1000, 3, 1, "***"},
        {5, 3, 1, "  5"},      {-12, 3, 1, "-12"},   {1, 2, 1, " 1"},
    };
    for (const auto& i : integers) {
        SCOPED_TRACE(i.expected);
        EXPECT_EQ(kelvara::formatInteger(i.value, i.width, i.minDigits), i.expected);
    }
}

TEST(NumberFormat, FreeFormItems) {
    struct IntegerCase {
        const char* text;
        bool ok;
        int value;
    };
    const IntegerCase integers[] = {
        {"12", true, 12},          {"  12 34", true, 12},   {"12,5", true, 12},
        {"12/", true, 12},         {"-7", true, -7},         {"+7", true, 7},
        {"1.5", false, 0},         {"abc", false, 0},        {"", false, 0},
        {"   ", false, 0},         {",5", false, 0},         {"/5", false, 0},
        {"2147483647", true, 2147483647}, {"2147483648", false, 0},
        {"-2147483648", true, -2147483647 - 1}, {"-", false, 0}, {"\t3", true, 3},
    };
    for (const auto& c : integers) {
        SCOPED_TRACE(c.text);
        std::int32_t value = 0;
        EXPECT_EQ(kelvara::readFreeInteger(c.text, value), c.ok);
        if (c.ok) {
            EXPECT_EQ(value, c.value);
        }
    }

    struct RealCase {
        const char* text;
        bool ok;
        float value;
    };
    const RealCase reals[] = {
        {"2", true, 2.0f},        {"1e3", true, 1000.0f},  {"1.5D2", true, 150.0f},
        {".5", true, 0.5f},       {"5.", true, 5.0f},      {"-2.5e-1 x", true, -0.25f},
        {"1.5+2", true, 150.0f},  {"0.1", true, 0.1f},     {"e5", false, 0.0f},
        {".", false, 0.0f},       {"1e", false, 0.0f},     {"1e+", false, 0.0f},
        {"1x", false, 0.0f},      {"1e99", false, 0.0f},   {"abc", false, 0.0f},
    };
    for (const auto& c : reals) {
        SCOPED_TRACE(c.text);
        float value = 0.0f;
        EXPECT_EQ(kelvara::readFreeReal(c.text, value), c.ok);
        if (c.ok) {
            EXPECT_EQ(value, c.value);
        }
    }
}

TEST(ValueExtraction, StringsByNameAndByColumn) {
    struct Case {
        const char* line;
        const char* name;
        int column;
        const char* expected;
    };
    const Case cases[] = {
        {"a,\"b c\",d", "", 2, "b c"},
        {"a,\"b c\",d", "", 4, ""},
        {"a,\"b c\",d", "", 0, ""},
        {"a,\"b,c\",d", "", 2, "b"},
        {"a, 'x' ,d", "", 2, "x"},
        {"Depth = 2.5, Width = 3", "WIDTH", 0, "3"},
        {"Depth = 2.5, Width = 3", "depth", 0, "2.5"},
        {"Depth = 2.5, Width = 3", "depth  ", 0, "2.5"},
        {"Depth = 2.5, Width = 3", "height", 2, "Width = 3"},
        {"Name = \"Main St\"", "name", 0, "Main St"},
        {"Depth = , Width = 3", "depth", 0, ""},
        // A name with no "=" after it is not a key: the column decides.
        {"type, depth, 4", "depth", 3, "4"},
        {"type, depth, 4", "depth", 0, ""},
        // A blank name goes straight to the column.
        {"x = 1, 2", "   ", 2, "2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.line) + "|" + c.name + "|" + std::to_string(c.column));
        const std::string lower = kelvara::LOWERCASE(c.line);
        EXPECT_EQ(kelvara::EXTRACTSTRING(c.line, lower, c.name, c.column), c.expected);
    }
}

TEST(ValueExtraction, NumbersAndDefaults) {
    struct Case {
        const char* line;
        int column;
        int integer;
        float real;
    };
    const Case cases[] = {
        {"a,,c", 2, -9, -9.5f},
        {"a,12,c", 2, 12, 12.0f},
        {"a,12 34,c", 2, 12, 12.0f},
        {"a,\"7\",c", 2, 7, 7.0f},
        {"a", 3, -9, -9.5f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string lower = kelvara::LOWERCASE(c.line);
        EXPECT_EQ(kelvara::EXTRACTINTEGER(c.line, lower, "", c.column, -9), c.integer);
        EXPECT_EQ(kelvara::EXTRACTREAL(c.line, lower, "", c.column, -9.5f), c.real);
    }
    EXPECT_EQ(kelvara::EXTRACTREAL("x,2", "x,2", "", 2, 0.0f), 2.0f);
    EXPECT_EQ(kelvara::EXTRACTREAL("x,1e3", "x,1e3", "", 2, 0.0f), 1000.0f);
    EXPECT_EQ(kelvara::EXTRACTREAL("Depth = 1.5", "depth = 1.5", "DEPTH", 0, 0.0f), 1.5f);
}

// The statement runs in a death-test child with standard input at its end and the console
// text on standard error, where the death test can match it.
#define EXPECT_STOPS_WITH(statement, pattern)                                              \
    EXPECT_EXIT(                                                                           \
        {                                                                                  \
            if (std::freopen(kelvara::test::kNullDevice, "r", stdin) == nullptr) std::abort(); \
            ::dup2(2, 1);                                                                  \
            statement;                                                                     \
        },                                                                                 \
        ::testing::ExitedWithCode(1), pattern)

TEST(ValueExtraction, UnreadableNumberStopsTheRun) {
    EXPECT_STOPS_WITH(kelvara::EXTRACTINTEGER("a,1.5", "a,1.5", "depth ", 2, 0),
                      "^ Could not convert \"1\\.5\" in column  2 to an integer value for the "
                      "depth field\\.\n\nPress Enter to Close\n");
    EXPECT_STOPS_WITH(kelvara::EXTRACTINTEGER("a,abc", "a,abc", "", 2, 0),
                      "^ Could not convert \"abc\" in column  2 to an integer value for the  "
                      "field\\.\n");
    EXPECT_STOPS_WITH(kelvara::EXTRACTREAL("Depth = x1", "depth = x1", "Depth", 123, 0.0f),
                      "^ Could not convert \"x1\" in column123 to a real value for the Depth "
                      "field\\.\n");
    EXPECT_STOPS_WITH(kelvara::EXTRACTREAL("a,/", "a,/", "v", 2, 0.0f),
                      "^ Could not convert \"/\" in column  2 to a real value");
}

TEST(NumberText, PaddedIntegersAndReals) {
    struct Padded {
        long long value;
        int digits;
        const char* expected;
    };
    const Padded padded[] = {
        {5, 3, "005"},    {1234, 3, "1234"}, {-5, 3, "-5"}, {0, 1, "0"},
        {0, 0, "0"},      {7, -4, "7"},      {42, 20, "00000000000000000042"},
        {42, 25, "00000000000000000042"},
    };
    for (const auto& p : padded) {
        SCOPED_TRACE(p.expected);
        EXPECT_EQ(kelvara::AINTEGERPREC0(static_cast<std::int32_t>(p.value), p.digits),
                  p.expected);
        EXPECT_EQ(kelvara::AINTEGER8PREC0(p.value, p.digits), p.expected);
    }
    EXPECT_EQ(kelvara::AINTEGER8PREC0(12345678901234LL, 16), "0012345678901234");
    EXPECT_EQ(kelvara::AINTEGER8PREC0(std::numeric_limits<std::int64_t>::min(), 3),
              "-9223372036854775808");

    struct Decimals {
        float value;
        int decimals;
        const char* expected;
    };
    const Decimals decimals[] = {
        {2.5f, 3, "2.500"}, {-2.5f, 0, "-3."}, {0.125f, 1, "0.1"}, {1.0e20f, 2, "********************"},
        {3.0f, -1, "3."},   {0.5f, 18, "0.500000000000000000"},
    };
    for (const auto& d : decimals) {
        SCOPED_TRACE(d.expected);
        EXPECT_EQ(kelvara::AREALD(d.value, d.decimals), d.expected);
    }

    struct Real8 {
        double value;
        const char* expected;
    };
    const Real8 reals[] = {
        {5.0, "5."},           {0.25, "0.25"},          {123.456, "123.456"},
        {2.0e9, "2000000000."}, {0.0, "0."},             {-0.125, "-0.125"},
        {1.0 / 3.0, "0.3333333333"}, {99999.5, "99999.5"}, {1.0e20, "********************"},
        {-1234567.891, "-1234567.891"},
    };
    for (const auto& r : reals) {
        SCOPED_TRACE(r.expected);
        EXPECT_EQ(kelvara::AREAL8(r.value), r.expected);
    }
}

}  // namespace
