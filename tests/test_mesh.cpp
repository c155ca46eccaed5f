// Mesh reader: node elevations and cell corners from ND, E3T and E4Q lines, the 100-character
// line field, free-format numbers, the missing-elevation warning, and the fatal end of
// unreadable lines and numbers that do not fit the dataset.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fileio/units.h"
#include "formats/mesh.h"
#include "support/tempdir.h"

namespace {

using kelvara::kNoElevation;
using kelvara::test::TempDir;
using Ints = std::vector<std::int32_t>;

// Standard input at its end for the lifetime of the object, so that a pause returns at once.
class EmptyStdin {
public:
    EmptyStdin() : saved_(dup(0)) {
        int fd = open(kelvara::test::kNullDevice, O_RDONLY);
        dup2(fd, 0);
        close(fd);
        std::clearerr(stdin);
    }
    ~EmptyStdin() {
        dup2(saved_, 0);
        close(saved_);
        std::clearerr(stdin);
    }
    EmptyStdin(const EmptyStdin&) = delete;
    EmptyStdin& operator=(const EmptyStdin&) = delete;

private:
    int saved_;
};

struct Mesh {
    std::vector<float> elevation;
    Ints first, second, third, fourth;
};

// Reads a mesh file into tables that start out filled with rubbish.
Mesh readMesh(const std::string& path, std::int32_t nodes, std::int32_t cells) {
    Mesh m;
    m.elevation.assign(static_cast<std::size_t>(nodes), 123.0f);
    for (Ints* t : {&m.first, &m.second, &m.third, &m.fourth}) t->assign(static_cast<std::size_t>(cells), 77);
    int unit = kelvara::OPENFILEUNIT("I ", path);
    kelvara::READ_2DM_ELEVATIONS(unit, m.elevation.data(), nodes, m.first.data(), m.second.data(),
                                 m.third.data(), m.fourth.data(), cells);
    kelvara::CLOSEFILEUNIT(unit);
    return m;
}

// A line whose visible part (the first 100 characters) ends with the digits of whole, followed
// by more digits that must not be seen.
std::string longNodeLine(int node, int whole) {
    std::string line = "ND " + std::to_string(node) + " 1.0 2.0 ";
    const std::string z = std::to_string(whole);
    line.append(100 - line.size() - z.size(), ' ');
    return line + z + ".75  and more text";
}

class MeshReader : public ::testing::Test {
protected:
    void SetUp() override { kelvara::INITFILEUNITS(); }
    TempDir dir;
};

TEST_F(MeshReader, ReadsElevationsAndCorners) {
    const std::string pad(92, ' ');
    struct Case {
        const char* what;
        std::string text;
        std::int32_t nodes, cells;
        std::vector<float> elevation;
        Ints first, second, third, fourth;
        bool warning;
    };
    const Case cases[] = {
        {"a whole mesh with the lines that are skipped",
         "MESH2D\nMESHNAME \"demo\"\nE3T 1 1 2 3 1\nE4Q 2 2 4 5 3 1\nND 1 0.0 0.0 10.5\n"
         "ND 2 1.0 0.0 11\nND 3,0.5,1.0,12.25\nND4 1 1 -3.5\nND 5 2.0 1.0 1.5D1\n"
         "NS 1 2 3 -4\nE6T 3 1 2 3 4 5 1 1\nnd 4 0 0 999\n ND 4 0 0 999\n"
         "BEGPARAMDEF\n\n",
         5, 2, {10.5f, 11.0f, 12.25f, -3.5f, 15.0f}, {1, 2}, {3, 3}, {2, 5}, {0, 4}, false},
        {"a quadrilateral: first A, second D, third C, fourth B", "E4Q 7 10 11 12 13 1\n", 13, 7,
         std::vector<float>(13, kNoElevation), {0, 0, 0, 0, 0, 0, 10}, {0, 0, 0, 0, 0, 0, 13},
         {0, 0, 0, 0, 0, 0, 12}, {0, 0, 0, 0, 0, 0, 11}, true},
        {"a triangle after a quadrilateral of the same cell keeps the fourth corner",
         "E4Q 1 1 2 3 4\nE3T 1 4 3 2\nND 1 0 0 1\nND 2 0 0 2\nND 3 0 0 3\nND 4 0 0 4\n", 4, 1,
         {1, 2, 3, 4}, {4}, {2}, {3}, {2}, false},
        {"one node missing", "ND 1 0 0 1\nND 3 0 0 3\n", 3, 0, {1.0f, kNoElevation, 3.0f},
         {}, {}, {}, {}, true},
        {"one node twice and another missing", "ND 1 0 0 1\nND 1 0 0 5\nND 3 0 0 3\n", 3, 0,
         {5.0f, kNoElevation, 3.0f}, {}, {}, {}, {}, false},
        {"more node lines than nodes", "ND 1 0 0 1\nND 2 0 0 2\nND 2 0 0 2\n", 2, 0,
         {1.0f, 2.0f}, {}, {}, {}, {}, true},
        {"line ends of two characters and no line end at the last line",
         "ND 1 0 0 1.5\r\nE3T 1 1 2 2\r\nND 2 0 0 -2", 2, 1, {1.5f, -2.0f}, {1}, {2}, {2}, {0},
         false},
        {"other number forms and separators", "ND 1 +1.0 .5 1.5-1\nND\t2 , 3. ,4e0  2.5E+1 9 9\n",
         2, 0, {0.15f, 25.0f}, {}, {}, {}, {}, false},
        {"characters after the hundredth are not seen",
         longNodeLine(1, 42) + "\nND 2 0 0 7" + pad + "8\n", 2, 0, {42.0f, 7.0f}, {}, {}, {}, {},
         false},
        {"an empty file", "", 1, 1, {kNoElevation}, {0}, {0}, {0}, {0}, true},
    };
    EmptyStdin noAnswers;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.write("run.2dm", c.text);
        testing::internal::CaptureStdout();
        const Mesh m = readMesh(path, c.nodes, c.cells);
        const std::string console = testing::internal::GetCapturedStdout();
        EXPECT_EQ(m.elevation, c.elevation);
        EXPECT_EQ(m.first, c.first);
        EXPECT_EQ(m.second, c.second);
        EXPECT_EQ(m.third, c.third);
        EXPECT_EQ(m.fourth, c.fourth);
        EXPECT_NE(console.find("OK.\nOpened File Unit: 901\n...reading .2dm file\n"), std::string::npos)
            << console;
        const std::string warning =
            "\nWARNING - Did not read an elevation for all nodes from .2dm file.\n\n"
            "Press Enter to Continue\n";
        EXPECT_EQ(console.find(warning) != std::string::npos, c.warning) << console;
        EXPECT_EQ(console.find("WARNING") != std::string::npos, c.warning) << console;
    }
}

TEST_F(MeshReader, LinesAcrossBlockBoundaries) {
    // Several megabytes of mixed short, long and two-character-ended lines, so that lines are
    // cut by the ends of the reader's blocks at many different places.
    const int nodes = 30000;
    const int cells = nodes - 2;
    std::string text = "MESH2D\n";
    std::vector<float> elevation(nodes);
    Ints first(cells), second(cells), third(cells), fourth(cells, 0);
    for (int i = 1; i <= nodes; ++i) {
        if (i % 3 == 0) {
            text += longNodeLine(i, i) + "\n";
            elevation[i - 1] = static_cast<float>(i);
        } else {
            text += "ND " + std::to_string(i) + " 0 0 " + std::to_string(i) + ".5" +
                    (i % 2 ? "\r\n" : "\n");
            elevation[i - 1] = static_cast<float>(i) + 0.5f;
        }
        if (i <= cells) {
            text += "E3T " + std::to_string(i) + " " + std::to_string(i) + " " +
                    std::to_string(i + 1) + " " + std::to_string(i + 2) + " 1" +
                    std::string(static_cast<std::size_t>(i % 150), ' ') + "\n";
            first[i - 1] = i;
            second[i - 1] = i + 2;
            third[i - 1] = i + 1;
        }
    }
    ASSERT_GT(text.size(), 3u << 20);
    const std::string path = dir.write("big.2dm", text);
    testing::internal::CaptureStdout();
    const Mesh m = readMesh(path, nodes, cells);
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(console.find("WARNING"), std::string::npos);
    EXPECT_EQ(m.elevation, elevation);
    EXPECT_EQ(m.first, first);
    EXPECT_EQ(m.second, second);
    EXPECT_EQ(m.third, third);
    EXPECT_EQ(m.fourth, fourth);
}

TEST_F(MeshReader, BadLinesAndNumbersOutsideTheDatasetEndTheRun) {
    const std::string lineError =
        "ERROR - Reading \\.2dm file from following line in \\.2dm file\n\n";
    const std::string incompatible =
        "ERROR - \\.2dm file is incompatible with \\.dat file whilst reading node elevations\n\n";
    struct Case {
        std::string line;
        std::string message;
    };
    const Case cases[] = {
        {"ND 1 0.0 5.0", lineError + "ND 1 0\\.0 5\\.0\n"},  // no z
        {"NDX 1 0 0 0", lineError + "NDX 1 0 0 0\n"},
        {"ND 1 a 0 0", lineError},
        {"ND 1.5 0 0 0", lineError},
        {"ND 99999999999 0 0 0", lineError},
        {"ND 2147483648 0 0 0", lineError},
        {"ND +-5 0 0 1", lineError},
        {"ND 1 - 0 1", lineError},
        {"ND 1 0 . 1", lineError},
        {"ND 1 0 0 1..5", lineError},
        {"ND 1 0 0 1e999", lineError},
        {"E4Q 1 1 2 3", lineError + "E4Q 1 1 2 3\n"},
        {"E3T 1 1 2 3.5 1", lineError},
        {"ND 1 0 0" + std::string(92, ' ') + " 7", lineError},  // z beyond the hundredth column
        {"ND 0 0 0 1", incompatible + "ND 0 0 0 1\n"},
        {"ND 6 0 0 1", incompatible},
        {"ND -1 0 0 1", incompatible},
        {"ND -2147483648 0 0 1", incompatible},
        {"E3T 0 1 2 3", incompatible},
        {"E3T 3 1 2 3", incompatible},
        {"E4Q 1 1 2 3 6", incompatible},
        {"E3T 1 1 0 2", incompatible},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string path = dir.write("bad.2dm", "MESH2D\nND 2 0 0 1\n" + c.line + "\nND 3 0 0 1\n");
        EXPECT_EXIT(
            {
                dup2(2, 1);  // console text where the matcher looks
                EmptyStdin noAnswers;
                readMesh(path, 5, 2);
            },
            testing::ExitedWithCode(1), c.message);
    }
}

}  // namespace
