// The message log, line parsing and value extraction called through the shared library as a C
// or Fortran program calls them: the shared record read and written in place, blank-padded
// fixed-length fields, lengths by value, numbers by address.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "kelvara.h"

namespace {

std::string field(const std::string& text, std::size_t length) {
    std::string f = text.substr(0, length);
    f.resize(length, ' ');
    return f;
}

void setText(char* target, std::size_t size, const std::string& text) {
    const std::string f = field(text, size);
    std::memcpy(target, f.data(), size);
}

// The first test of this file: nothing in this program has touched the record yet.
TEST(AbiMessages, RecordIsPackedAndZeroFilledAtLoad) {
    EXPECT_EQ(sizeof(kelvara_dmessages), 7096u);
    struct Offset {
        std::size_t actual;
        std::size_t expected;
        const char* name;
    };
    const Offset offsets[] = {
        {offsetof(kelvara_dmessages, messageUnit), 0, "messageUnit"},
        {offsetof(kelvara_dmessages, messageMifUnit), 4, "messageMifUnit"},
        {offsetof(kelvara_dmessages, messageMidUnit), 8, "messageMidUnit"},
        {offsetof(kelvara_dmessages, checkMifUnit), 12, "checkMifUnit"},
        {offsetof(kelvara_dmessages, checkMidUnit), 16, "checkMidUnit"},
        {offsetof(kelvara_dmessages, text), 20, "text"},
        {offsetof(kelvara_dmessages, prefix), 4020, "prefix"},
        {offsetof(kelvara_dmessages, labelWidth), 4024, "labelWidth"},
        {offsetof(kelvara_dmessages, labelOffset), 4032, "labelOffset"},
        {offsetof(kelvara_dmessages, errorCount), 4040, "errorCount"},
        {offsetof(kelvara_dmessages, warningCount), 4044, "warningCount"},
        {offsetof(kelvara_dmessages, checkCount), 4048, "checkCount"},
        {offsetof(kelvara_dmessages, xyErrorCount), 4052, "xyErrorCount"},
        {offsetof(kelvara_dmessages, xyWarningCount), 4056, "xyWarningCount"},
        {offsetof(kelvara_dmessages, xyCheckCount), 4060, "xyCheckCount"},
        {offsetof(kelvara_dmessages, messageNumber), 4064, "messageNumber"},
        {offsetof(kelvara_dmessages, severity), 4068, "severity"},
        {offsetof(kelvara_dmessages, extra), 4072, "extra"},
        {offsetof(kelvara_dmessages, logUnit), 7072, "logUnit"},
        {offsetof(kelvara_dmessages, x), 7076, "x"},
        {offsetof(kelvara_dmessages, y), 7084, "y"},
        {offsetof(kelvara_dmessages, oneLine), 7092, "oneLine"},
    };
    for (const auto& o : offsets) EXPECT_EQ(o.actual, o.expected) << o.name;

    const auto* bytes = reinterpret_cast<const unsigned char*>(&DMESSAGES);
    std::size_t nonZero = 0;
    for (std::size_t i = 0; i < sizeof DMESSAGES; ++i) nonZero += bytes[i] != 0;
    EXPECT_EQ(nonZero, 0u);
}

TEST(AbiMessages, MessageToALogUnitOpenedByTheCaller) {
#ifdef _WIN32
    // No mkdtemp there: a new folder of a random name in the temporary folder.
    const std::string folder = (std::filesystem::temp_directory_path() /
                                ("kelvara_abi_msg_" + std::to_string(std::random_device{}())))
                                   .string();
    ASSERT_TRUE(std::filesystem::create_directory(folder));
#else
    char folderTemplate[] = "/tmp/kelvara_abi_msg_XXXXXX";
    ASSERT_NE(::mkdtemp(folderTemplate), nullptr);
    const std::string folder = folderTemplate;
#endif
    const std::string name = field(folder + "/messages.csv", 1000);

    int32_t unit = 0;
    OPENFILEUNIT(&unit, "O ", 2, name.data(), 1000);
    ASSERT_GT(unit, 900);

    DMESSAGECLEAR();
    DMESSAGERESETCOUNTERS();
    DMESSAGES.logUnit = unit;
    setText(DMESSAGES.text[0], 1000, "WARNING 12 - check \"this\"");
    setText(DMESSAGES.extra[1], 1000, "pipe 7");
    const int32_t n = -2;
    const double x = 1.5;
    const double y = -2.25;
    DMESSAGEXY(&n, &x, &y);
    CLOSEFILEUNIT(&unit);
    DMESSAGES.logUnit = 0;

    std::ifstream in(folder + "/messages.csv");
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(),
              " 0012, 2,           1.500,          -2.250, \"WARNING 12 - check \"this\"\", "
              "\"\", \"pipe 7\", \"\"\n");
    EXPECT_EQ(DMESSAGES.warningCount, 1);
    EXPECT_EQ(DMESSAGES.xyWarningCount, 1);
    EXPECT_EQ(DMESSAGES.messageNumber, 12);
    EXPECT_EQ(DMESSAGES.severity, 2);
    EXPECT_EQ(std::string(DMESSAGES.text[0], 1000), std::string(1000, ' '));
    EXPECT_EQ(double{DMESSAGES.x}, -99999.0);  // a copy: the packed double is not aligned

    std::remove((folder + "/messages.csv").c_str());
    ::rmdir(folder.c_str());
}

TEST(AbiMessages, ParsingWithBlankPaddedFields) {
    // CHECKLINE: the separator keeps its declared length; the parts fill the caller's fields.
    std::string line = field("Timestep == 2", 40);
    std::string keyword = field("timestep", 20);
    std::string right(10, '#');
    std::string left(12, '#');
    const int32_t zero = 0;
    EXPECT_EQ(CHECKLINE(line.data(), 40, keyword.data(), 20, "==", 2, &zero, right.data(), 10,
                        left.data(), 12),
              -1);
    EXPECT_EQ(left, "Timestep    ");
    EXPECT_EQ(right, " 2        ");

    // COMMENTLINE changes its argument in place.
    std::string comment = field("   Depth == 2.5 ! m", 30);
    EXPECT_EQ(COMMENTLINE(comment.data(), 30), 0);
    EXPECT_EQ(comment, field("Depth == 2.5", 30));

    // SUBSTRING and EXTRACTSTRING write into a result area ahead of their arguments.
    std::string sub(4, '#');
    const int32_t two = 2;
    const std::string csv = field("a, b,c", 16);
    SUBSTRING(sub.data(), 4, csv.data(), 16, ",", 1, &two);
    EXPECT_EQ(sub, "b   ");

    const std::string data = field("Depth = 2.5, Width = \"3\"", 60);
    const std::string lower = field("depth = 2.5, width = \"3\"", 60);
    const std::string name = field("WIDTH", 10);
    std::string value(6, '#');
    EXTRACTSTRING(value.data(), 6, data.data(), 60, lower.data(), 60, name.data(), 10, &zero);
    EXPECT_EQ(value, "3     ");
    const float fallback = -1.0f;
    const std::string depth = field("depth", 8);
    EXPECT_EQ(EXTRACTREAL(data.data(), 60, lower.data(), 60, depth.data(), 8, &zero, &fallback),
              2.5f);

    float number = -1.0f;
    const std::string values = field("1, 2 5", 20);
    EXPECT_EQ(CSVVALUE(values.data(), 20, &two, &number), -1);
    EXPECT_EQ(number, 25.0f);
    EXPECT_EQ(NUMBEROFNUMBERS(field("1.5 2e3,-4 ! x", 30).data(), 30), 3);

    // Number texts, cut at the result area when it is too short.
    std::string text(8, '#');
    const double v = 123.456;
    AREAL8(text.data(), 8, &v);
    EXPECT_EQ(text, "123.456 ");
    const int64_t big = 5;
    const int32_t three = 3;
    AINTEGER8PREC0(text.data(), 2, &big, &three);
    EXPECT_EQ(text.substr(0, 2), "00");
}

}  // namespace
