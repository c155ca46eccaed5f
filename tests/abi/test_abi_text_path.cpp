// The text and path routines called through the shared library as a C or Fortran program calls
// them: fixed-length blank-padded fields, lengths by value, numbers by address.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "kelvara.h"

namespace {

// A caller's fixed-length field: the text padded with blanks to its declared length.
std::string field(const std::string& text, std::size_t length) {
    std::string f = text.substr(0, length);
    f.resize(length, ' ');
    return f;
}

using PathFunction = void(KELVARA_CALL*)(char*, int32_t, const char*, int32_t);

// Calls a one-argument text function with a blank-padded argument and result field.
std::string call(PathFunction function, const std::string& text, std::size_t textLength,
                 std::size_t resultLength) {
    std::string argument = field(text, textLength);
    std::string result(resultLength, '#');
    function(result.data(), static_cast<int32_t>(resultLength), argument.data(),
             static_cast<int32_t>(textLength));
    return result;
}

TEST(AbiTextPath, PathFunctionsFillTheCallersField) {
    struct Case {
        PathFunction function;
        const char* name;
        std::string path;
        std::size_t resultLength;
        std::string expected;  // the whole result field, padding included
    };
    const Case cases[] = {
        {FILENAME, "FILENAME", "C:\\runs\\model_h.dat", 10, "model_h   "},
        {FILE___EXT, "FILE___EXT", "C:\\runs\\model_h.dat", 4, "_h  "},
        {FILENAMENO_, "FILENAMENO_", "C:\\runs\\model_h.dat", 8, "model   "},
        {FILENAMEPATHNO_, "FILENAMEPATHNO_", "C:\\runs\\model_h.dat", 14, "C:\\runs\\model "},
        {FILEFOLDERPATH, "FILEFOLDERPATH", "C:\\runs\\model_h.dat", 9, "C:\\runs\\ "},
        {FILEEXT, "FILEEXT", "C:\\runs\\Model.DAT", 5, ".dat "},
        {REMOVEDOTDOT, "REMOVEDOTDOT", "C:\\a\\b\\..\\c\\.\\d", 9, "C:\\a\\c\\d "},
        // A result field shorter than the result keeps the first characters.
        {FILENAMEPATH, "FILENAMEPATH", "C:\\runs\\model_h.dat", 5, "C:\\ru"},
        // A blank path gives a blank field.
        {FILENAME, "FILENAME", "", 6, "      "},
        {FILE___EXT, "FILE___EXT", "", 6, "      "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(call(c.function, c.path, 1000, c.resultLength), c.expected) << c.name;
        EXPECT_EQ(call(c.function, c.path, c.path.size() + 3, c.resultLength), c.expected) << c.name;
    }
}

TEST(AbiTextPath, WorkFieldsOf1000Characters) {
    // A 1200-character argument: FILENAME sees it whole, FILEEXT only its first 1000 characters.
    const std::string path = std::string(1190, 'p') + "\\run_h.dat";
    EXPECT_EQ(call(FILENAME, path, 1200, 8), "run_h   ");
    EXPECT_EQ(call(FILEEXT, path, 1200, 8), std::string(8, ' '));
    EXPECT_EQ(call(FILENAMEPATHNO_, path, 1200, 1200), field(std::string(1000, 'p'), 1200));
}

TEST(AbiTextPath, CleanPathWritesBackIntoItsArgument) {
    std::string path = field("   C:\\a\\\\b//c", 20);
    std::string result(30, '#');
    CLEANPATH(result.data(), 30, path.data(), 20);
    EXPECT_EQ(result, field("C:\\a\\b/c", 30));
    EXPECT_EQ(path, field("C:\\a\\b/c", 20));

    // A short result field does not shorten what is written back.
    path = field("x//y", 8);
    result.assign(2, '#');
    CLEANPATH(result.data(), 2, path.data(), 8);
    EXPECT_EQ(result, "x/");
    EXPECT_EQ(path, "x/y     ");

    // The caller may use one field for both.
    std::string both = field("a\\\\b", 6);
    CLEANPATH(both.data(), 6, both.data(), 6);
    EXPECT_EQ(both, "a\\b   ");
}

TEST(AbiTextPath, AddFolder) {
    std::string folder = field("C:\\runs", 80), name = field("..\\in\\a.dat", 80), result(14, '#');
    ADDFOLDER(result.data(), 14, folder.data(), 80, name.data(), 80);
    EXPECT_EQ(result, field("C:\\in\\a.dat", 14));
    folder = field("", 80);
    name = field("", 80);
    ADDFOLDER(result.data(), 14, folder.data(), 80, name.data(), 80);
    EXPECT_EQ(result, field(".", 14));
}

TEST(AbiTextPath, TextFunctions) {
    std::string line = field("kelvara -MAX a_h.dat", 1000), flag = field("-max", 10);
    EXPECT_EQ(FLAGEXISTS(line.data(), 1000, flag.data(), 10), -1);
    flag = field("-dur", 10);
    EXPECT_EQ(FLAGEXISTS(line.data(), 1000, flag.data(), 10), 0);

    std::string text = field("  Run_H.dat", 16);
    EXPECT_EQ(call(UPPERCASE, text, 16, 14), "  RUN_H.DAT   ");
    EXPECT_EQ(call(LOWERCASE, text, 16, 6), "  run_");
    EXPECT_EQ(call(TRIMF, "   ab c  ", 9, 9), "ab c     ");
}

TEST(AbiTextPath, SignificantLengthWritesTheNul) {
    char text[6] = {'a', 'b', '\0', ' ', ' ', ' '};
    EXPECT_EQ(LENSL(text, 6), 2);
    EXPECT_EQ(text[2], '\0');

    // A full field has no room for the NUL; the declared length is the limit, not a NUL.
    char full[5] = {'a', 'b', 'c', 'd', 'X'};
    EXPECT_EQ(LENSL(full, 4), 4);
    EXPECT_EQ(full[4], 'X');

    char blank[3] = {' ', '\0', ' '};
    EXPECT_EQ(LENSL(blank, 3), 0);
    EXPECT_EQ(std::memcmp(blank, " \0 ", 3), 0);
    EXPECT_EQ(LENSL(blank, 0), 0);
}

TEST(AbiTextPath, NumberTexts) {
    std::string result(20, '#');
    const int32_t unit = 901, negative = -12;
    AINTEGER(result.data(), 6, &unit);
    EXPECT_EQ(result.substr(0, 7), "901   #");
    AINTEGER(result.data(), 2, &negative);
    EXPECT_EQ(result.substr(0, 2), "-1");

    const struct {
        float value;
        const char* text;
    } reals[] = {{2.0f, "2."}, {0.005f, "0.005"}, {1234.56f, "1235."}, {1e20f, "********************"}};
    for (const auto& r : reals) {
        result.assign(20, '#');
        AREAL(result.data(), 20, &r.value);
        EXPECT_EQ(result, field(r.text, 20)) << r.text;
    }
}

}  // namespace
