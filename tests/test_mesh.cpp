// Mesh reader: node elevations and cell corners from ND and element lines (three-, four-, six-
// and eight-node), whole lines of any length, free-format numbers, the warning that counts the
// nodes without an elevation, the geometry kept for grids, and the fatal end of unreadable lines
// and numbers that do not fit the dataset.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "fileio/units.h"
#include "fileio/error.h"
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

// A node line whose elevation starts in column 97 and runs past the hundredth character.
std::string longNodeLine(int node, int whole) {
    std::string line = "ND " + std::to_string(node) + " 1.0 2.0 ";
    const std::string z = std::to_string(whole);
    line.append(96 - line.size(), ' ');
    return line + z + ".75  and more text";
}

// The warning for missing of nodes nodes without an elevation, or "" for none.
std::string missingWarning(int missing, int nodes) {
    if (missing == 0) return "";
    return "\nWARNING - Did not read an elevation for all nodes from .2dm file: " +
           std::to_string(missing) + " of " + std::to_string(nodes) +
           " nodes have none.\n\nPress Enter to Continue\n";
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
        int missing;  // nodes the warning counts
    };
    const Case cases[] = {
        {"a whole mesh with the lines that are skipped",
         "MESH2D\nMESHNAME \"demo\"\nE3T 1 1 2 3 1\nE4Q 2 2 4 5 3 1\nND 1 0.0 0.0 10.5\n"
         "ND 2 1.0 0.0 11\nND 3,0.5,1.0,12.25\nND4 1 1 -3.5\nND 5 2.0 1.0 1.5D1\n"
         "NS 1 2 3 -4\nE2L 3 1 2 1\nE5X 2 1 1 1 1 1\nnd 4 0 0 999\n ND 4 0 0 999\n"
         "BEGPARAMDEF\n\n",
         5, 2, {10.5f, 11.0f, 12.25f, -3.5f, 15.0f}, {1, 2}, {3, 3}, {2, 5}, {0, 4}, 0},
        {"a quadrilateral: first A, second D, third C, fourth B", "E4Q 7 10 11 12 13 1\n", 13, 7,
         std::vector<float>(13, kNoElevation), {0, 0, 0, 0, 0, 0, 10}, {0, 0, 0, 0, 0, 0, 13},
         {0, 0, 0, 0, 0, 0, 12}, {0, 0, 0, 0, 0, 0, 11}, 13},
        {"six- and eight-node elements give their corners as triangles and quadrilaterals",
         "E6T 1 1 2 3 4 5 6 1\nE8Q 2 1 2 3 4 5 6 7 8 1\nE6T 3,8,7,6,5,4,3\n", 8, 3,
         std::vector<float>(8, kNoElevation), {1, 1, 8}, {5, 7, 4}, {3, 5, 6}, {0, 3, 0}, 8},
        {"a triangle after a quadrilateral of the same cell keeps the fourth corner",
         "E4Q 1 1 2 3 4\nE3T 1 4 3 2\nND 1 0 0 1\nND 2 0 0 2\nND 3 0 0 3\nND 4 0 0 4\n", 4, 1,
         {1, 2, 3, 4}, {4}, {2}, {3}, {2}, 0},
        {"one node missing", "ND 1 0 0 1\nND 3 0 0 3\n", 3, 0, {1.0f, kNoElevation, 3.0f},
         {}, {}, {}, {}, 1},
        {"one node twice does not hide another missing", "ND 1 0 0 1\nND 1 0 0 5\nND 3 0 0 3\n",
         3, 0, {5.0f, kNoElevation, 3.0f}, {}, {}, {}, {}, 1},
        {"more node lines than nodes, every node named", "ND 1 0 0 1\nND 2 0 0 2\nND 2 0 0 2\n",
         2, 0, {1.0f, 2.0f}, {}, {}, {}, {}, 0},
        {"an elevation of -99999 is no elevation", "ND 1 0 0 -99999\nND 2 0 0 -99998.5\n", 2, 0,
         {kNoElevation, -99998.5f}, {}, {}, {}, {}, 2},
        {"line ends of two characters and no line end at the last line",
         "ND 1 0 0 1.5\r\nE3T 1 1 2 2\r\nND 2 0 0 -2", 2, 1, {1.5f, -2.0f}, {1}, {2}, {2}, {0}, 0},
        {"other number forms and separators",
         "ND 1 +1.0 .5 1.5-1\nND\t2 , 3. ,4e0  2.5E+1 9 9\nND 3 0 0 " + std::string(300, '0') +
             "1.25\n",
         3, 0, {0.15f, 25.0f, 1.25f}, {}, {}, {}, {}, 0},
        {"whole lines are read, however long",
         longNodeLine(1, -12) + "\nND 2 0 0" + pad + "8\nE3T 1" + std::string(5000, ' ') +
             "1 2 2\n",
         2, 1, {-12.75f, 8.0f}, {1}, {2}, {2}, {0}, 0},
        {"an empty file", "", 1, 1, {kNoElevation}, {0}, {0}, {0}, {0}, 1},
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
        const std::string warning = missingWarning(c.missing, c.nodes);
        if (!warning.empty()) {
            EXPECT_NE(console.find(warning), std::string::npos) << console;
        }
        EXPECT_EQ(console.find("WARNING") != std::string::npos, c.missing > 0) << console;
    }
}

TEST_F(MeshReader, KeepsTheGeometryForGrids) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* what;
        std::string text;
        std::int32_t nodes, cells;
        std::vector<double> x, y;
        std::vector<float> elevation;
        std::vector<std::array<std::int32_t, 4>> corners;
        std::int32_t meshNodes, meshCells;
        int missing;
    };
    const Case cases[] = {
        {"coordinates in double precision, corners in file order",
         "MESH2D\nE4Q 1 1 2 3 4 1\nE3T 2 2 3 5 1\nND 1 412000.125 5795000.001 10\n"
         "ND 2 412001 5795000 11\nND 3 412001.5,5795001.25,12\nND 4 412000 5795001 13\n"
         "ND 5 1.5D3 -2.5 -1\n",
         5, 2, {412000.125, 412001, 412001.5, 412000, 1500},
         {5795000.001, 5795000, 5795001.25, 5795001, -2.5}, {10, 11, 12, 13, -1},
         {{1, 2, 3, 4}, {2, 3, 5, 0}}, 5, 2, 0},
        {"six- and eight-node elements keep their corners, nodes and cells not named stay unset",
         "E8Q 1 1 9 2 9 3 9 4 9\nE6T 3 4 9 3 9 1 9\nND 2 1 2 3\n", 9, 4,
         {nan, 1, nan, nan, nan, nan, nan, nan, nan}, {nan, 2, nan, nan, nan, nan, nan, nan, nan},
         {kNoElevation, 3, kNoElevation, kNoElevation, kNoElevation, kNoElevation, kNoElevation,
          kNoElevation, kNoElevation},
         {{1, 2, 3, 4}, {0, 0, 0, 0}, {4, 3, 1, 0}, {0, 0, 0, 0}}, 2, 3, 8},
    };
    EmptyStdin noAnswers;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.write("run.2dm", c.text);
        kelvara::MeshGeometry mesh;
        mesh.x.assign(3, 5.0);  // rubbish to be replaced
        testing::internal::CaptureStdout();
        const int unit = kelvara::OPENFILEUNIT("I ", path);
        kelvara::READ_2DM_GEOMETRY(unit, c.nodes, c.cells, mesh);
        kelvara::CLOSEFILEUNIT(unit);
        const std::string console = testing::internal::GetCapturedStdout();
        ASSERT_EQ(mesh.x.size(), c.x.size());
        ASSERT_EQ(mesh.y.size(), c.y.size());
        for (std::size_t i = 0; i < c.x.size(); ++i) {
            SCOPED_TRACE(i);
            if (std::isnan(c.x[i])) {
                EXPECT_TRUE(std::isnan(mesh.x[i]) && std::isnan(mesh.y[i]));
            } else {
                EXPECT_EQ(mesh.x[i], c.x[i]);
                EXPECT_EQ(mesh.y[i], c.y[i]);
            }
        }
        EXPECT_EQ(mesh.elevation, c.elevation);
        EXPECT_EQ(mesh.cells, c.corners);
        EXPECT_EQ(mesh.meshNodeCount, c.meshNodes);
        EXPECT_EQ(mesh.meshCellCount, c.meshCells);
        const std::string warning = missingWarning(c.missing, c.nodes);
        if (!warning.empty()) {
            EXPECT_NE(console.find(warning), std::string::npos) << console;
        }
        EXPECT_EQ(console.find("WARNING") != std::string::npos, c.missing > 0) << console;
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
            elevation[i - 1] = static_cast<float>(i) + 0.75f;
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
        "ERROR - Reading .2dm file from following line in .2dm file\n\n";
    const std::string incompatible =
        "ERROR - .2dm file is incompatible with .dat file whilst reading node elevations\n\n";
    struct Case {
        std::string line;
        std::string message;
    };
    const Case cases[] = {
        {"ND 1 0.0 5.0", lineError + "ND 1 0.0 5.0\n"},  // no z
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
        {"ND 1 0 0 nan", lineError},
        {"ND 1 inf 0 1", lineError},
        {"ND 1 0 0 1e39", lineError},
        {"ND 1 0 0" + std::string(200, ' ') + "x", lineError},  // beyond the hundredth column
        // A line too long to be a mesh's: the message shows its first 100 characters.
        {"ND 1 0 0 1" + std::string(1u << 20, ' '), lineError + "ND 1 0 0 1\n"},
        {"E6T 1 1 2 3 4 5", lineError},
        {"E8Q 1 1 2 3 4 5 6 7", lineError},
        {"ND 0 0 0 1", incompatible + "ND 0 0 0 1\n"},
        {"ND 6 0 0 1", incompatible},
        {"ND -1 0 0 1", incompatible},
        {"ND -2147483648 0 0 1", incompatible},
        {"E3T 0 1 2 3", incompatible},
        {"E3T 3 1 2 3", incompatible},
        {"E4Q 1 1 2 3 6", incompatible},
        {"E3T 1 1 0 2", incompatible},
        {"E6T 1 1 2 3 4 5 6", incompatible},  // a mid-side node outside the dataset
        {"E8Q 3 1 2 3 4 5 1 2 3", incompatible},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string path = dir.write("bad.2dm", "MESH2D\nND 2 0 0 1\n" + c.line + "\nND 3 0 0 1\n");
        // An error as a value: its lines are the console text, nothing is printed.
        testing::internal::CaptureStdout();
        std::string text;
        kelvara::ErrorCode code = kelvara::ErrorCode::None;
        try {
            kelvara::ErrorScope scope;
            readMesh(path, 5, 2);
        } catch (const kelvara::Error& e) {
            code = e.code();
            for (const auto& line : e.consoleLines()) text += line + "\n";
            kelvara::abandonAllUnits();
        }
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(code, kelvara::ErrorCode::BadInput);
        EXPECT_NE(text.find(c.message), std::string::npos) << text;
        EXPECT_EQ(printed.find("ERROR"), std::string::npos) << printed;
    }
}

}  // namespace
