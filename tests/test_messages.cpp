// The message log: classification and counts, the log line, console and message-file text, and
// the MapInfo text objects of located messages.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fileio/units.h"
#include "library/messages.h"
#include "support/tempdir.h"

namespace {

using kelvara::messageRecord;
using kelvara::recordText;
using kelvara::setRecordText;
using kelvara::test::readText;
using kelvara::test::TempDir;

std::string f163(double v) {  // a real in fixed point, 3 decimals, 16 characters
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%16.3f", v);
    return buffer;
}

class MessageLog : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(&messageRecord(), 0, sizeof(kelvara::MessageRecord));
        kelvara::DMESSAGECLEAR();
    }
    void TearDown() override {
        for (int unit : opened_) kelvara::CLOSEFILEUNIT(unit);
        std::memset(&messageRecord(), 0, sizeof(kelvara::MessageRecord));
    }

    // Opens a text output unit in the temporary folder; its text is read back with contents().
    int openOutput(const std::string& name) {
        testing::internal::CaptureStdout();  // the open announcement
        int unit = kelvara::OPENFILEUNIT("O ", dir_.file(name));
        testing::internal::GetCapturedStdout();
        opened_.push_back(unit);
        return unit;
    }
    // Closes every unit opened here and returns the text of the named file.
    std::string contents(const std::string& name) {
        testing::internal::CaptureStdout();
        for (int unit : opened_) kelvara::CLOSEFILEUNIT(unit);
        testing::internal::GetCapturedStdout();
        opened_.clear();
        return readText(dir_.file(name));
    }

    void setLines(const std::vector<std::string>& lines) {
        for (std::size_t i = 0; i < lines.size(); ++i) setRecordText(messageRecord().text[i], lines[i]);
    }

    // The console text of one call.
    template <typename F>
    std::string console(F call) {
        testing::internal::CaptureStdout();
        call();
        return testing::internal::GetCapturedStdout();
    }

    TempDir dir_;
    std::vector<int> opened_;
};

TEST_F(MessageLog, ClassifiesCountsAndNumbersByTheFirstWord) {
    struct Case {
        const char* line1;
        int severity;
        int number;
        int errors, warnings, checks;
        bool logged;
    };
    const Case cases[] = {
        {"ERROR 2012 - bad value", 1, 2012, 1, 0, 0, true},
        {"ERROR - Reading text line from file unit number905", 1, 0, 1, 0, 0, true},
        {"ERROR", 1, 0, 1, 0, 0, true},
        {"ERROR 1234567", 1, 12345, 1, 0, 0, true},  // six columns after the word
        {"WARNING 17 odd", 2, 17, 0, 1, 0, true},
        {"WARNING-12 x", 2, -12, 0, 1, 0, true},
        {"CHECK 3,x", 3, 3, 0, 0, 1, true},
        {"CHECK 1.5", 3, 0, 0, 0, 1, true},
        {"UNSTABLE 44", 4, 44, 0, 0, 0, true},
        {"Note: done", 0, 0, 0, 0, 0, false},
        {" ERROR 5", 0, 0, 0, 0, 0, false},
        {"error 5", 0, 0, 0, 0, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line1);
        SetUp();
        const std::string name = "log" + std::to_string(&c - cases) + ".csv";
        messageRecord().logUnit = openOutput(name);
        setLines({c.line1});
        const std::string shown = console([] { kelvara::DMESSAGE(0); });
        EXPECT_EQ(shown, std::string(c.line1) + "\n");  // always displayed
        EXPECT_EQ(messageRecord().severity, c.severity);
        EXPECT_EQ(messageRecord().messageNumber, c.number);
        EXPECT_EQ(messageRecord().errorCount, c.errors);
        EXPECT_EQ(messageRecord().warningCount, c.warnings);
        EXPECT_EQ(messageRecord().checkCount, c.checks);
        EXPECT_EQ(messageRecord().xyErrorCount + messageRecord().xyWarningCount +
                      messageRecord().xyCheckCount, 0);
        EXPECT_EQ(!contents(name).empty(), c.logged);
    }
}

TEST_F(MessageLog, LogLineConsoleAndRecordAfterAMessage) {
    auto& r = messageRecord();
    r.logUnit = openOutput("log.csv");
    r.errorCount = 4;
    setLines({"ERROR 2012 - bad value", "second \"q\"", ""});
    setRecordText(r.extra[0], "f1");
    setRecordText(r.extra[2], "f3");
    const std::string shown = console([] { kelvara::DMESSAGE(1); });
    EXPECT_EQ(shown, "\nERROR 2012 - bad value\nsecond \"q\"\nf1; f3\n");
    EXPECT_EQ(contents("log.csv"),
              " 2012, 1,      -99999.000,      -99999.000, \"ERROR 2012 - bad value  second "
              "\"q\"\", \"f1\", \"\", \"f3\"\n");
    EXPECT_EQ(r.errorCount, 5);
    EXPECT_EQ(r.messageNumber, 2012);
    // The texts are blank again, the location is none; counts and number stay.
    for (const auto& t : r.text) EXPECT_EQ(std::string(t, sizeof t), std::string(1000, ' '));
    for (const auto& e : r.extra) EXPECT_EQ(std::string(e, sizeof e), std::string(1000, ' '));
    EXPECT_EQ(std::string(r.prefix, 4), "    ");
    // Copies: the doubles of the packed record are not aligned for a reference.
    EXPECT_EQ(double{r.x}, -99999.0);
    EXPECT_EQ(double{r.y}, -99999.0);
    EXPECT_EQ(r.oneLine, 0);
}

TEST_F(MessageLog, DestinationsFollowTheEmptyLineCount) {
    struct Case {
        int n;
        const char* console;
        const char* messageFile;
    };
    const Case cases[] = {
        {2, "\n\nWARNING 1 x\n", "\n\nWARNING 1 x\n"},
        {0, "WARNING 1 x\n", "WARNING 1 x\n"},
        {-1, "", "WARNING 1 x\n"},
        {-2, "", ""},
        {-7, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.n);
        SetUp();
        const std::string tag = std::to_string(&c - cases);
        messageRecord().messageUnit = openOutput("msg" + tag + ".txt");
        messageRecord().logUnit = openOutput("log" + tag + ".csv");
        setLines({"WARNING 1 x"});
        const int n = c.n;
        EXPECT_EQ(console([n] { kelvara::DMESSAGE(n); }), c.console);
        EXPECT_EQ(contents("msg" + tag + ".txt"), c.messageFile);
        EXPECT_EQ(readText(dir_.file("log" + tag + ".csv")).substr(0, 8), " 0001, 2");
    }
}

TEST_F(MessageLog, DisplayLayout) {
    struct Case {
        std::vector<std::string> lines;
        std::vector<std::string> extras;
        const char* prefix;
        bool oneLine;
        const char* expected;
    };
    const Case cases[] = {
        {{"A", "B", ""}, {}, "", true, "A  B\n"},
        {{"A", "B", ""}, {}, "", false, "A\nB\n"},
        {{"A", "", "C"}, {}, "P:", true, "P: A  C\n"},
        {{"A", "B", "C"}, {"x"}, "", false, "A\nB\nC\nx\n"},
        {{"A"}, {"f1", "", "f3"}, "", false, "A\nf1; f3\n"},
        {{"A"}, {"", "f2", ""}, "", false, "A\n; f2\n"},
        {{"A"}, {"f1 ", "f2", "f3"}, "", true, "A  f1; f2; f3\n"},
        {{"A", "line 4 is never shown", "", "ignored"}, {}, "", false, "A\nline 4 is never shown\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        SetUp();
        setLines(c.lines);
        for (std::size_t i = 0; i < c.extras.size(); ++i)
            setRecordText(messageRecord().extra[i], c.extras[i]);
        setRecordText(messageRecord().prefix, c.prefix);
        messageRecord().oneLine = c.oneLine ? -1 : 0;
        EXPECT_EQ(console([] { kelvara::DMESSAGE(0); }), c.expected);
    }
}

TEST_F(MessageLog, ZeroFilledFieldsCountAsBlank) {
    std::memset(&messageRecord(), 0, sizeof(kelvara::MessageRecord));
    std::memcpy(messageRecord().text[0], "CHECK 9 zero", 12);
    EXPECT_EQ(console([] { kelvara::DMESSAGE(0); }), "CHECK 9 zero\n");
    EXPECT_EQ(messageRecord().checkCount, 1);
}

TEST_F(MessageLog, LocatedCheckGoesToTheCheckPair) {
    auto& r = messageRecord();
    r.messageMifUnit = openOutput("msg.mif");
    r.messageMidUnit = openOutput("msg.mid");
    r.checkMifUnit = openOutput("chk.mif");
    r.checkMidUnit = openOutput("chk.mid");
    r.logUnit = openOutput("log.csv");
    r.labelWidth = 10.0;
    r.labelOffset = 2.0;
    setLines({"CHECK 7 look here"});
    EXPECT_EQ(console([] { kelvara::DMESSAGEXY(0, 100.0, 200.0); }), "XY: CHECK 7 look here\n");
    contents("log.csv");
    EXPECT_EQ(readText(dir_.file("chk.mif")),
              "Text\n\"CHECK 7 look here\"\n    " + f163(102) + f163(199) + f163(112) +
                  f163(201) + "\n    Font (\"Arial\",257,0,255,16777215)\n"
                  "    Label Line Arrow " + f163(100) + f163(200) + "\n");
    EXPECT_EQ(readText(dir_.file("chk.mid")), "\"CHECK 7 look here\"\n");
    EXPECT_EQ(readText(dir_.file("msg.mif")), "");
    EXPECT_EQ(readText(dir_.file("msg.mid")), "");
    EXPECT_EQ(readText(dir_.file("log.csv")),
              " 0007, 3,         100.000,         200.000, \"CHECK 7 look here\", \"\", \"\", \"\"\n");
    EXPECT_EQ(r.checkCount, 1);
    EXPECT_EQ(r.xyCheckCount, 1);
    EXPECT_EQ(double{r.x}, -99999.0);  // a copy: the packed double is not aligned
}

TEST_F(MessageLog, LocatedLabelDoublesQuotesAndSplitsLines) {
    auto& r = messageRecord();
    r.messageMifUnit = openOutput("msg.mif");
    r.messageMidUnit = openOutput("msg.mid");
    r.labelWidth = 50.0;
    r.labelOffset = 8.0;
    setLines({"ERROR 3 say \"hi\"", "", "third"});
    EXPECT_EQ(console([] { kelvara::DMESSAGEXY(1, -5.0, 0.5); }),
              "\nXY: ERROR 3 say \"hi\"\nthird\n");
    contents("msg.mif");
    // Two label lines: the box is S/2 high.
    EXPECT_EQ(readText(dir_.file("msg.mif")),
              "Text\n\"ERROR 3 say \"\"hi\"\"\\nthird\"\n    " + f163(3) + f163(-1.5) + f163(53) +
                  f163(2.5) + "\n    Font (\"Arial\",257,0,16711935,0)\n"
                  "    Label Line Arrow " + f163(-5) + f163(0.5) + "\n");
    EXPECT_EQ(readText(dir_.file("msg.mid")), "\"ERROR 3 say \"\"hi\"\"\"\n");

    // One-line flag: two blanks between the label lines.
    SetUp();
    r.messageMifUnit = openOutput("one.mif");
    setLines({"WARNING 1 a", "b"});
    r.oneLine = -1;
    console([] { kelvara::DMESSAGEXY(-2, 0.0, 0.0); });
    EXPECT_EQ(contents("one.mif").substr(0, 22), "Text\n\"WARNING 1 a  b\"\n");
}

TEST_F(MessageLog, LocatedFontsPairsAndCounts) {
    struct Case {
        const char* line1;
        const char* font;
        bool checkPair;
        int xyErrors, xyWarnings, xyChecks;
    };
    const Case cases[] = {
        {"ERROR 1", "Font (\"Arial\",257,0,16711935,0)", false, 1, 0, 0},
        {"WARNING 1", "Font (\"Arial\",257,0,16776960,0)", false, 0, 1, 0},
        {"UNSTABLE 1", "Font (\"Arial\",257,0,16711935,0)", false, 0, 0, 0},
        {"CHECK 1", "Font (\"Arial\",257,0,255,16777215)", true, 0, 0, 1},
        {" ERROR 1", "Font (\"Arial\",257,0,53248,16777215)", true, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line1);
        SetUp();
        const std::string tag = std::to_string(&c - cases);
        auto& r = messageRecord();
        r.messageMifUnit = openOutput("m" + tag + ".mif");
        r.checkMifUnit = openOutput("c" + tag + ".mif");
        setLines({c.line1});
        console([] { kelvara::DMESSAGEXY(0, 1.0, 2.0); });
        const std::string used = contents((c.checkPair ? "c" : "m") + tag + ".mif");
        const std::string other = readText(dir_.file((c.checkPair ? "m" : "c") + tag + ".mif"));
        EXPECT_NE(used.find(std::string("\n    ") + c.font + "\n"), std::string::npos) << used;
        EXPECT_EQ(other, "");
        EXPECT_EQ(r.xyErrorCount, c.xyErrors);
        EXPECT_EQ(r.xyWarningCount, c.xyWarnings);
        EXPECT_EQ(r.xyCheckCount, c.xyChecks);
    }
}

TEST_F(MessageLog, UnitsThatAreNotOpenAreSkipped) {
    auto& r = messageRecord();
    r.messageUnit = 950;
    r.logUnit = 951;
    r.messageMifUnit = 952;
    r.messageMidUnit = 4000;
    setLines({"ERROR 1 nowhere"});
    EXPECT_EQ(console([] { kelvara::DMESSAGEXY(0, 1.0, 1.0); }), "XY: ERROR 1 nowhere\n");
    EXPECT_EQ(console([] { kelvara::DLINE(953); }), std::string(80, '_') + "\n");
}

TEST_F(MessageLog, ResetCountersAndRule) {
    auto& r = messageRecord();
    r.errorCount = r.warningCount = r.checkCount = 3;
    r.xyErrorCount = r.xyWarningCount = r.xyCheckCount = 2;
    r.messageNumber = 9;
    kelvara::DMESSAGERESETCOUNTERS();
    EXPECT_EQ(r.errorCount + r.warningCount + r.checkCount, 0);
    EXPECT_EQ(r.xyErrorCount + r.xyWarningCount + r.xyCheckCount, 0);
    EXPECT_EQ(r.messageNumber, 9);

    const int unit = openOutput("rule.txt");
    EXPECT_EQ(console([unit] { kelvara::DLINE(unit); }), std::string(80, '_') + "\n");
    EXPECT_EQ(contents("rule.txt"), std::string(80, '_') + "\n");
}

}  // namespace
