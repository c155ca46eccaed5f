// The file unit table: numbering, reuse, shared text inputs, and outputs that reach their name
// only when they are closed.
#include <gtest/gtest.h>

#include <cstdio>

#include "fileio/console.h"
#include "fileio/units.h"
#include "support/tempdir.h"

namespace kelvara {
namespace {

using test::TempDir;

class Units : public ::testing::Test {
protected:
    void SetUp() override {
        // No prompt may wait for a terminal: standard input is empty.
        ASSERT_NE(std::freopen(test::kNullDevice, "r", stdin), nullptr);
        INITFILEUNITS();
    }
    void TearDown() override { abandonAllUnits(); }
    TempDir dir;
};

TEST_F(Units, AreNumberedFrom901AndTheLowestFreeOneIsReused) {
    std::string a = dir.write("a.dat", "a"), b = dir.write("b.dat", "b");
    EXPECT_EQ(OPENFILEUNIT("BI", a), 901);
    EXPECT_EQ(OPENFILEUNIT("BI", b), 902);
    CLOSEFILEUNIT(901);
    EXPECT_EQ(unitStream(901), nullptr);
    EXPECT_EQ(OPENFILEUNIT("BI", "  " + a), 901);
    EXPECT_EQ(unitName(901), a);
    CLOSEFILEUNIT(4711);  // not a unit: nothing happens
}

TEST_F(Units, AMeshIsOpenedAgainOnANewUnitWithoutAQuestion) {
    std::string mesh = dir.write("run.2dm", "MESH2D\n");
    EXPECT_EQ(OPENFILEUNIT("I ", mesh), 901);
    EXPECT_EQ(OPENFILEUNIT("I ", mesh), 902);
    EXPECT_NE(unitStream(902), nullptr);
}

TEST_F(Units, AtEndAndRewindFollowTheReadPosition) {
    std::string a = dir.write("a.dat", "xy");
    int unit = OPENFILEUNIT("BI", a);
    EXPECT_FALSE(unitAtEnd(unit));
    char buffer[2];
    ASSERT_EQ(std::fread(buffer, 1, 2, unitStream(unit)), 2u);
    EXPECT_TRUE(unitAtEnd(unit));
    rewindUnit(unit);
    EXPECT_FALSE(unitAtEnd(unit));
}

TEST_F(Units, AnOutputReachesItsNameWhenClosed) {
    std::string out = dir.file("out.dat");
    dir.write("out.dat", "earlier");
    int unit = OPENFILEUNIT("BO", out);
    std::fputs("new", unitStream(unit));
    EXPECT_EQ(test::readFile(out), "earlier");  // still the earlier file while writing
    EXPECT_EQ(test::listFolder(dir.path()).size(), 2u);
    CLOSEFILEUNIT(unit);
    EXPECT_EQ(test::readFile(out), "new");
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"out.dat"});
}

TEST_F(Units, AnAbandonedRunOutputLeavesNothingBehindButLogsAreKept) {
    std::string out = dir.file("out.dat");
    int unit = OPENFILEUNIT("BO", out);
    markRunOutput(unit);
    std::fputs("partial", unitStream(unit));
    int log = OPENFILEUNIT("O ", dir.file("log.txt"));
    std::fputs("ERROR - kept\n", unitStream(log));
    abandonAllUnits();
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"log.txt"});
    EXPECT_EQ(test::readText(dir.file("log.txt")), "ERROR - kept\n");
}

TEST_F(Units, AppendingWritesInPlace) {
    std::string log = dir.write("log.txt", "one\n");
    int unit = OPENFILEUNIT("A ", log);
    std::fputs("two\n", unitStream(unit));
    CLOSEFILEUNIT(unit);
    EXPECT_EQ(test::readText(log), "one\ntwo\n");
}

TEST_F(Units, AnUnknownKindOpensNothingButTakesTheUnit) {
    std::string a = dir.write("a.dat", "a");
    EXPECT_EQ(OPENFILEUNIT("ZZ", a), 901);
    EXPECT_EQ(unitStream(901), nullptr);
    EXPECT_EQ(OPENFILEUNIT("BI", a), 902);
}

TEST_F(Units, SameFileComparesIdentityNotSpelling) {
    std::string a = dir.write("a.dat", "a");
    EXPECT_TRUE(sameFile(a, dir.path() + "/./a.dat"));
    EXPECT_FALSE(sameFile(a, dir.write("b.dat", "a")));
    EXPECT_FALSE(sameFile(a, dir.file("missing.dat")));
}

TEST_F(Units, TheHundredAndFirstOpenEndsTheRun) {
    std::string a = dir.write("a.2dm", "a");
    EXPECT_EXIT(
        {
            for (int i = 0; i <= kUnitCount; ++i) OPENFILEUNIT("I ", a);
        },
        ::testing::ExitedWithCode(1), "");
}

TEST_F(Units, FatalStopClosesEverythingAndEndsWithStatusOne) {
    std::string out = dir.file("out.dat");
    EXPECT_EXIT(
        {
            markRunOutput(OPENFILEUNIT("BO", out));
            FATALSTOP();
        },
        ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{});
}

}  // namespace
}  // namespace kelvara
