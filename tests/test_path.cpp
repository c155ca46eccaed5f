// Path-name routines: taking a path apart, reducing separators, resolving "." and "..", joining.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "util/path.h"

namespace {

using PathRoutine = std::string (*)(std::string_view);

struct Named {
    const char* name;
    PathRoutine routine;
};
const Named kRoutines[] = {
    {"FILEEXT", kelvara::FILEEXT},
    {"FILE___EXT", kelvara::FILE___EXT},
    {"FILENAME", kelvara::FILENAME},
    {"FILENAMENO_", kelvara::FILENAMENO_},
    {"FILENAMEPATH", kelvara::FILENAMEPATH},
    {"FILENAMEPATHNO_", kelvara::FILENAMEPATHNO_},
    {"FILEFOLDERPATH", kelvara::FILEFOLDERPATH},
    {"CLEANPATH", kelvara::CLEANPATH},
    {"REMOVEDOTDOT", kelvara::REMOVEDOTDOT},
};

PathRoutine routineNamed(const std::string& name) {
    for (const Named& n : kRoutines)
        if (name == n.name) return n.routine;
    return nullptr;
}

TEST(PathRoutines, TakingPathsApart) {
    struct Case {
        const char* routine;
        std::string path, result;
    };
    const Case cases[] = {
        {"FILENAME", "C:\\runs\\model_h.dat", "model_h"},
        {"FILE___EXT", "C:\\runs\\model_h.dat", "_h"},
        {"FILENAMENO_", "C:\\runs\\model_h.dat", "model"},
        {"FILENAMEPATH", "C:\\runs\\model_h.dat", "C:\\runs\\model_h"},
        {"FILENAMEPATHNO_", "C:\\runs\\model_h.dat", "C:\\runs\\model"},
        {"FILEFOLDERPATH", "C:\\runs\\model_h.dat", "C:\\runs\\"},
        {"FILEEXT", "C:\\runs\\Model.DAT", ".dat"},
        // A dot in a folder name.
        {"FILENAME", "C:\\old.runs\\model", "model"},
        {"FILENAMEPATH", "C:\\old.runs\\model", "C:\\old.runs\\model"},
        {"FILEEXT", "C:\\old.runs\\model", ".runs\\model"},
        // Several dots, a leading dot.
        {"FILENAME", "model.tar.dat", "model.tar"},
        {"FILENAME", ".dat", ""},
        {"FILENAME", "C:\\runs\\.dat", ".dat"},  // after a folder the leading dot stays
        {"FILENAMEPATH", ".dat", ".dat"},
        // Forward slashes, mixed separators.
        {"FILEFOLDERPATH", "C:/x\\y/a.dat", "C:/x\\y/"},
        {"FILENAMEPATHNO_", "/data/run_x/a.dat", "/data/run_x/a"},  // "_" in a folder is no tag
        {"FILENAMENO_", "C:\\run_x\\a.dat", "a"},
        // Underscores at the ends of the name.
        {"FILENAMENO_", "_h.dat", ""},
        {"FILE___EXT", "_h.dat", "_h"},
        {"FILENAMEPATHNO_", "_h.dat", "_h"},  // an underscore at position 1 stays
        // No folder, no extension.
        {"FILEFOLDERPATH", "model", ""},
        {"FILENAME", "C:\\runs\\", ""},
        // Degenerate texts.
        {"FILENAMEPATH", ".", "."},
        {"FILENAME", "..", "."},
        {"FILENAMEPATHNO_", "___", "__"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(routineNamed(c.routine)(c.path), c.result) << c.routine << " of [" << c.path << "]";
}

TEST(PathRoutines, ReducingAndResolving) {
    struct Case {
        const char* routine;
        std::string path, result;
    };
    const Case cases[] = {
        {"CLEANPATH", "C:\\a\\\\b//c", "C:\\a\\b/c"},
        {"CLEANPATH", "   C:\\a\\\\\\b  ", "C:\\a\\b"},
        {"CLEANPATH", "\\\\server\\\\share//x", "\\\\server\\\\share/x"},  // pinned at position 1
        {"CLEANPATH", "//host//x\\\\y", "//host//x\\y"},
        {"CLEANPATH", "////", "////"},
        {"REMOVEDOTDOT", "C:\\a\\b\\..\\c\\.\\d", "C:\\a\\c\\d"},
        {"REMOVEDOTDOT", "..\\..\\x", "..\\..\\x"},
        {"REMOVEDOTDOT", "B\\..\\C", "C"},
        {"REMOVEDOTDOT", "A\\B\\..\\C", "A\\C"},
        {"REMOVEDOTDOT", "  A\\B\\C\\..\\..\\D", "A\\D"},
        {"REMOVEDOTDOT", "\\..\\x", "\\..\\x"},  // a parent at the very start stays
        {"REMOVEDOTDOT", "..\\..\\a\\..\\b", "..\\..\\b"},
        {"REMOVEDOTDOT", "..\\..\\..\\a\\..\\b", "..\\..\\..\\b"},
        {"REMOVEDOTDOT", "x..\\..\\y", "x..\\..\\y"},  // a name ending in ".." is not resolved
        {"REMOVEDOTDOT", "C:\\a\\\\b\\\\..\\c", "C:\\a\\c"},
        {"REMOVEDOTDOT", "\\\\srv\\\\a\\..\\b", "\\\\srv\\\\b"},  // leading pair: no reduction
        {"REMOVEDOTDOT", "a/b/../c", "a/b/../c"},  // only "\" is known
        {"REMOVEDOTDOT", "\\.\\.\\x\\.", "\\x\\."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(routineNamed(c.routine)(c.path), c.result) << c.routine << " of [" << c.path << "]";
}

TEST(PathRoutines, JoiningFolderAndName) {
    struct Case {
        std::string folder, name, result;
    };
    const Case cases[] = {
        {"C:\\runs", "..\\in\\a.dat", "C:\\in\\a.dat"},
        {"C:\\runs\\", "D:\\x.dat", "D:\\x.dat"},
        {"", "", "."},
        {"", "  a.dat", "a.dat"},
        {"  C:\\runs  ", "", "C:\\runs"},
        {"C:\\runs/", "  a.dat", "C:\\runs/a.dat"},
        {"C:\\runs\\", ".\\a.dat", "C:\\runs\\a.dat"},
        {"runs", "..\\a.dat", "a.dat"},
        {"/data/runs", "a.dat", "/data/runs\\a.dat"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(kelvara::ADDFOLDER(c.folder, c.name), c.result)
            << "[" << c.folder << "] + [" << c.name << "]";
}

TEST(PathRoutines, BlankPathGivesBlankResult) {
    for (const std::string blank : {"", " ", "          "}) {
        for (const Named& n : kRoutines) EXPECT_EQ(n.routine(blank), "") << n.name;
    }
}

TEST(PathRoutines, WorkFieldsCutAt1000Characters) {
    const std::string folder = "C:\\" + std::string(1200, 'f') + "\\";
    const std::string path = folder + "run_h.dat";
    // These three work on the whole text.
    EXPECT_EQ(kelvara::FILENAME(path), "run_h");
    EXPECT_EQ(kelvara::FILENAMEPATH(path), folder + "run_h");
    EXPECT_EQ(kelvara::FILEFOLDERPATH(path), folder);
    // The others see only the first 1000 characters: no name, no tag, no extension.
    EXPECT_EQ(kelvara::FILEEXT(path), "");
    EXPECT_EQ(kelvara::FILE___EXT(path), "");
    EXPECT_EQ(kelvara::FILENAMENO_(path), std::string(997, 'f'));
    EXPECT_EQ(kelvara::FILENAMEPATHNO_(path), path.substr(0, 1000));
    EXPECT_EQ(kelvara::CLEANPATH(path), path.substr(0, 1000));
    EXPECT_EQ(kelvara::REMOVEDOTDOT(path), path.substr(0, 1000));
    EXPECT_EQ(kelvara::ADDFOLDER(folder, "a.dat"), path.substr(0, 1000));

    // Exactly 1000 characters pass whole; blanks cut off at the edge do not count.
    const std::string full = std::string(992, 'p') + "\\run.dat";
    ASSERT_EQ(full.size(), 1000u);
    EXPECT_EQ(kelvara::FILEEXT(full + "xyz"), ".dat");
    EXPECT_EQ(kelvara::CLEANPATH(std::string(998, 'p') + "  q"), std::string(998, 'p'));
    // Leading blanks go before the cut.
    EXPECT_EQ(kelvara::REMOVEDOTDOT(std::string(50, ' ') + full), full);
    // The uncut cleaning that the C boundary writes back keeps everything.
    EXPECT_EQ(kelvara::cleanPathUncut(" " + std::string(1500, 'p') + "//x"), std::string(1500, 'p') + "/x");
}

// CLEANPATH as its loop is described: remove the second character of the later of the first
// "//" and the first "\\" while that lies past position 1.
std::string cleanPathByLoop(std::string p) {
    while (!p.empty() && p.back() == ' ') p.pop_back();
    while (!p.empty() && p.front() == ' ') p.erase(0, 1);
    const auto position = [&p](const char* pair) {
        const std::size_t at = p.find(pair);
        return at == std::string::npos ? std::size_t{0} : at + 1;
    };
    for (std::size_t k = std::max(position("//"), position("\\\\")); k > 1;
         k = std::max(position("//"), position("\\\\")))
        p.erase(k, 1);
    return p;
}

// Every text of up to six characters over a small alphabet: CLEANPATH matches its loop, and
// no routine reads outside its text (run under a sanitizer to see the latter).
TEST(PathRoutines, ExhaustiveShortTexts) {
    const std::string alphabet = "\\/._a ";
    std::vector<std::string> texts{""};
    for (std::size_t start = 0, length = 1; length <= 6; ++length) {
        const std::size_t end = texts.size();
        for (std::size_t i = start; i < end; ++i)
            for (char c : alphabet) texts.push_back(texts[i] + c);
        start = end;
    }
    for (const std::string& t : texts) {
        ASSERT_EQ(kelvara::CLEANPATH(t), cleanPathByLoop(t)) << "[" << t << "]";
        for (const Named& n : kRoutines) {
            const std::string r = n.routine(t);
            EXPECT_LE(r.size(), t.size()) << n.name << " of [" << t << "]";
        }
        kelvara::ADDFOLDER(t, t);
        kelvara::ADDFOLDER(t, "..\\..\\x");
    }
}

}  // namespace
