// OutputFile, the one safe finish of an output: the file takes its name only when landed, an
// earlier file of the name stays as it was until then (and for good when the output is
// dropped or abandoned), and no work file is left either way.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "fileio/error.h"
#include "fileio/output_file.h"
#include "support/tempdir.h"

namespace kelvara::test {
namespace {

void fill(const OutputFile& f, const std::string& text) {
    std::FILE* stream = std::fopen(f.workPath().c_str(), "wb");
    ASSERT_NE(stream, nullptr);
    std::fputs(text.c_str(), stream);
    std::fclose(stream);
}

TEST(OutputFile, TakesItsNameOnlyWhenLandedAndLeavesNoWorkFile) {
    enum class End { Land, Drop, Destroy };
    struct Case {
        End end;
        bool earlier;         // a file of the name exists before
        std::string content;  // what the name holds afterwards ("" for no file)
    };
    const std::vector<Case> cases = {
        {End::Land, false, "new"},     {End::Land, true, "new"},
        {End::Drop, false, ""},        {End::Drop, true, "earlier"},
        {End::Destroy, false, ""},     {End::Destroy, true, "earlier"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.end) * 2 + (c.earlier ? 1 : 0));
        TempDir dir;
        if (c.earlier) dir.write("out.dat", "earlier");
        {
            auto f = std::make_unique<OutputFile>(dir.file("out.dat"));
            ASSERT_TRUE(f->open());
            EXPECT_EQ(f->workPath().substr(0, dir.path().size() + 3), dir.path() + "/.k");
            fill(*f, "new");
            // Until it lands, the name keeps what it held.
            EXPECT_EQ(fileExists(dir.file("out.dat")), c.earlier);
            if (c.end == End::Land) {
                EXPECT_TRUE(f->land());
            }
            if (c.end == End::Drop) f->drop();
            if (c.end != End::Destroy) {
                EXPECT_EQ(f->workPath(), "");
            }
        }
        const std::vector<std::string> left = listFolder(dir.path());
        EXPECT_EQ(left, c.content.empty() ? std::vector<std::string>{}
                                          : std::vector<std::string>{"out.dat"});
        if (!c.content.empty()) {
            EXPECT_EQ(readFile(dir.file("out.dat")), c.content);
        }
    }
}

TEST(OutputFile, SaysWhyItCannotBeMade) {
    TempDir dir;
    OutputFile f(dir.file("none/out.dat"));
    EXPECT_FALSE(f.open());
    EXPECT_FALSE(f.land());
    const Error e = f.creationError();
    EXPECT_EQ(e.code(), ErrorCode::Output);
    ASSERT_EQ(e.lines().size(), 3u);
    EXPECT_EQ(e.lines()[1], "ERROR - Could not create output file \"" + dir.file("none/out.dat") +
                                "\".");
    EXPECT_EQ(e.lines()[2], "The folder " + dir.file("none/") + " does not exist.");
}

}  // namespace
}  // namespace kelvara::test
