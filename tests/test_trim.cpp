// Trimming (-trim<cutoff>) through the real tool: values capped at the cutoff, vectors scaled
// to it along their own direction, and the vectors plain scaling cannot handle (squares that
// overflow, infinite components, magnitude zero).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "support/dat_builder.h"
#include "support/tempdir.h"
#include "support/tool_runner.h"

namespace kelvara::test {
namespace {

const float kInf = std::numeric_limits<float>::infinity();

struct TrimCase {
    const char* what;
    std::string flag;
    float x, y;
    float expectedX, expectedY;
    bool exact;  // bit for bit; otherwise within a few units in the last place
};

// An ordinary vector at or above the cutoff c takes (x * (c / m), y * (c / m)) exactly.
float scaled(float v, float c, float m) { return v * (c / m); }

const std::vector<TrimCase> kVectorCases = {
    {"an ordinary vector keeps its direction at the cutoff", "-trim2", 3.0f, 4.0f,
     scaled(3.0f, 2.0f, 5.0f), scaled(4.0f, 2.0f, 5.0f), true},
    {"an ordinary vector below the cutoff is unchanged", "-trim2", 0.3f, -1.1f, 0.3f, -1.1f, true},
    {"a vector whose squares overflow", "-trim1", 3e19f, -4e19f, 0.6f, -0.8f, false},
    {"a vector at the largest finite size", "-trim5", 3.4e38f, 3.4e38f, 3.5355339f, 3.5355339f,
     false},
    {"an infinite vector is capped along its axis", "-trim2", kInf, 0.0f, 2.0f, 0.0f, true},
    {"an infinite vector with a finite second component", "-trim2", 5.0f, -kInf, 0.0f, -2.0f, true},
    {"infinite along both axes: along the diagonal", "-trim2", -kInf, kInf, -1.4142135f,
     1.4142135f, false},
    {"a zero vector stays zero at cutoff 0", "-trim0", 0.0f, 0.0f, 0.0f, 0.0f, true},
    {"a vector of magnitude zero (within 1e-5) is unchanged at cutoff 0", "-trim0", 1e-6f, 0.0f,
     1e-6f, 0.0f, true},
    {"an ordinary vector at cutoff 0 becomes zero", "-trim0", 3.0f, 4.0f, 0.0f, 0.0f, true},
};

bool close(float a, float b) {
    return a == b || std::fabs(a - b) <= 4.0f * std::numeric_limits<float>::epsilon() * std::fabs(b);
}

TEST(Trim, VectorsAreScaledToTheCutoffWithoutOverflowOrNotANumber) {
    for (const TrimCase& c : kVectorCases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        // The vector under test beside an ordinary one, so that both ways through the loop meet.
        DatBuilder b;
        b.header(2, 1, true, "v").step(0.0f, {1}, {c.x, 0.5f}, {c.y, 0.0f}).end();
        dir.write("run_V.dat", b.bytes());
        const ToolResult r = runTool({"-b", c.flag, "run_V.dat"}, "", dir.path());
        ASSERT_EQ(r.status, 0) << r.output;
        const WrittenDat out =
            parseWrittenDat(readFile(dir.file("run_V(" + c.flag.substr(1) + ").dat")));
        ASSERT_EQ(out.error, "");
        ASSERT_EQ(out.steps.size(), 1u);
        const float x = out.steps[0].values1[0];
        const float y = out.steps[0].values2[0];
        if (c.exact) {
            EXPECT_EQ(x, c.expectedX);
            EXPECT_EQ(y, c.expectedY);
            EXPECT_EQ(std::signbit(x), std::signbit(c.expectedX));
        } else {
            EXPECT_TRUE(close(x, c.expectedX)) << x;
            EXPECT_TRUE(close(y, c.expectedY)) << y;
        }
        // The ordinary neighbour (magnitude 0.5) as plain scaling gives it.
        const float c2 = std::stof(c.flag.substr(5));
        EXPECT_EQ(out.steps[0].values1[1], 0.5f >= c2 ? scaled(0.5f, c2, 0.5f) : 0.5f);
    }
}

}  // namespace
}  // namespace kelvara::test
