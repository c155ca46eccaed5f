// The quick roads the operations take at real size give the same results as the plain ones:
// magnitudes several at a time, steps passed over unread, and the wet nodes of -max kept up to
// date from step to step.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "fileio/units.h"
#include "formats/dataset.h"
#include "support/dat_builder.h"
#include "support/tempdir.h"
#include "support/tool_runner.h"
#include "tool/driver.h"

namespace kelvara::test {
namespace {

std::uint32_t bitsOf(float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

TEST(FastPaths, VectorMagnitudesAreThoseOfOneCallEach) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float tiny = std::numeric_limits<float>::denorm_min();
    // Pairs on both sides of the 1.0E-5 threshold, signed zeros, denormals, overflow,
    // infinities and values that are not numbers; odd counts reach the one-by-one tail.
    const std::vector<float> x = {3.0f,  0.0f,    -0.0f, 1.0E-5f, 1.00001E-5f, -1.0E-5f, tiny,
                                  3e38f, -3e38f,  inf,   nan,     0.5f,        -7.25f,   1e-20f,
                                  2.0f,  1.0E-5f, nan,   -inf,    6.0f};
    const std::vector<float> y = {4.0f,    -0.0f, 0.0f,  1.0E-5f, 0.0f, 2.0E-5f, tiny,
                                  3e38f,   1.0f,  nan,   inf,     -0.5f, 1e-30f, 1e-20f,
                                  -1.0E-6f, 1.1E-5f, 0.0f, 1.0f,  8.0f};
    for (std::size_t count = 0; count <= x.size(); ++count) {
        std::vector<float> out(count, -1.0f);
        VECTOR_MAGNITUDES(x.data(), y.data(), out.data(), count);
        std::vector<float> inPlace(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(count));
        VECTOR_MAGNITUDES(inPlace.data(), y.data(), inPlace.data(), count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t expected = bitsOf(VECTOR_MAGNITUDE(x[i], y[i]));
            EXPECT_EQ(bitsOf(out[i]), expected) << x[i] << ", " << y[i];
            EXPECT_EQ(bitsOf(inPlace[i]), expected) << x[i] << ", " << y[i];
        }
    }
}

TEST(FastPaths, PassedOverStepsKeepTheirFlagsTimeAndFollowingCard) {
    TempDir dir;
    const std::string path = dir.write(
        "run_V.dat", DatBuilder()
                         .header(2, 3, true, "skip")
                         .step(1.0f, {1, 0, 1}, {1.0f, 2.0f}, {3.0f, 4.0f})
                         .step(2.0f, {0, 1, 0}, {5.0f, 6.0f}, {7.0f, 8.0f})
                         .stepWithoutFlags(3.0f, {9.0f, 10.0f}, {11.0f, 12.0f})
                         .step(4.0f, {1, 1, 1}, {13.0f, 14.0f}, {15.0f, 16.0f})
                         .end()
                         .bytes());
    struct Expected {
        bool wanted;
        bool flags;  // false: no flag buffer is given
        float time;
        std::vector<std::int8_t> active;
        std::vector<float> x, y;
        std::int32_t card;
    };
    // The second step is passed over: the values stay those of the first, its flags are read
    // all the same and stay for the third step, which has none of its own. The fourth step's
    // flags are passed over for want of a buffer.
    const std::vector<Expected> table = {
        {true, true, 1.0f, {1, 0, 1}, {1.0f, 2.0f}, {3.0f, 4.0f}, kCardStep},
        {false, true, 2.0f, {0, 1, 0}, {1.0f, 2.0f}, {3.0f, 4.0f}, kCardStep},
        {true, true, 3.0f, {0, 1, 0}, {9.0f, 10.0f}, {11.0f, 12.0f}, kCardStep},
        {true, false, 4.0f, {0, 1, 0}, {13.0f, 14.0f}, {15.0f, 16.0f}, kCardEnd},
    };
    std::string console;
    DatasetReader reader = DatasetReader::open(
        path, [&console](const std::string& line) { console += line + "\n"; });
    reader.readHeader();
    std::vector<std::int8_t> active(3, 1);
    std::vector<float> x(2), y(2);
    for (const Expected& e : table) {
        const std::function<bool(float)> wanted = [&e](float) { return e.wanted; };
        StepRequest request;
        request.wanted = &wanted;
        const StepRead step =
            reader.nextStep({e.flags ? active.data() : nullptr, x.data(), y.data()}, request);
        EXPECT_EQ(step.valuesRead, e.wanted);
        EXPECT_EQ(step.time, e.time);
        EXPECT_EQ(active, e.active);
        EXPECT_EQ(x, e.x);
        EXPECT_EQ(y, e.y);
        EXPECT_EQ(reader.card(), e.card);
    }
    EXPECT_NE(console.find("Reading data for time 1.\nReading data for time 2.\n"
                           "Reading data for time 3.\nReading data for time 4.\n"),
              std::string::npos)
        << console;
}

TEST(FastPaths, PassedOverStepCutShortIsReportedAsWhenRead) {
    // The second step's values are cut off: passing it over must not hide that.
    TempDir dir;
    std::string bytes = DatBuilder()
                            .header(3, 1, false, "cut")
                            .step(0.0f, {1}, {1.0f, 2.0f, 3.0f})
                            .step(99999.0f, {1}, {4.0f, 5.0f, 6.0f})
                            .bytes();
    bytes.resize(bytes.size() - 5);
    dir.write("run_d.dat", bytes);
    dir.write("other_d.dat", DatBuilder()
                                 .header(3, 1, false, "whole")
                                 .step(0.0f, {1}, {1.0f, 2.0f, 3.0f})
                                 .step(99999.0f, {1}, {4.0f, 5.0f, 6.0f})
                                 .end()
                                 .bytes());
    const std::vector<std::vector<std::string>> commands = {
        {"-k0", "run_d.dat"}, {"-times", "run_d.dat"}, {"-max", "run_d.dat"},
        {"-dur0.1", "run_d.dat"}, {"-ddur0.1", "-t0", "run_d.dat", "other_d.dat"},
        {"-ddur0.1", "-t0", "other_d.dat", "run_d.dat"}};
    for (std::vector<std::string> args : commands) {
        SCOPED_TRACE(args[0]);
        args.insert(args.begin(), "-b");
        ToolResult r = runTool(args, "", dir.path());
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_NE(r.output.find("ERROR - Unexpected end of file in "), std::string::npos)
            << r.output;
    }
}

TEST(FastPaths, RunTablesComeZeroedWholeAndWritable) {
    const std::size_t large = std::size_t{2} << 20;
    for (std::size_t bytes : {std::size_t{0}, std::size_t{1}, std::size_t{4095}, large - 1, large,
                              large + 1, 5 * large + 123}) {
        SCOPED_TRACE(bytes);
        auto* table = static_cast<unsigned char*>(allocateZeroedTable(bytes));
        ASSERT_NE(table, nullptr);
        std::size_t nonZero = 0;
        for (std::size_t i = 0; i < bytes; ++i) nonZero += table[i] != 0;
        EXPECT_EQ(nonZero, 0u);
        std::memset(table, 0xA5, bytes);  // every byte of it can be written
        releaseZeroedTable(table, bytes);
    }
    // Sized tables read as zeros, as the operations expect.
    Table<float> values;
    values.resize(3 * large / sizeof(float) + 7);
    std::size_t nonZero = 0;
    for (float v : values) nonZero += v != 0.0f;
    EXPECT_EQ(nonZero, 0u);
    values.assign(values.size(), 1.5f);
    EXPECT_EQ(values.back(), 1.5f);
}

// -ddur reads the flags only at the -t time; the flags in force there may come from an earlier
// step of the same run, or, when that run has none yet, from the last step read before.
TEST(FastPaths, DurationDifferenceTakesTheFlagsInForceAtTheTime) {
    using Flags = std::vector<std::int8_t>;
    struct RunStep {
        float time;
        Flags flags;  // empty: a step without flags
    };
    struct Case {
        const char* what;
        std::vector<RunStep> first, second;
        Flags expected;
    };
    const std::vector<Case> cases = {
        {"the first run's time step has none: its step before",
         {{0.0f, {1, 0, 1}}, {1.0f, {}}, {2.0f, {0, 0, 0}}},
         {{0.0f, {1, 1, 0}}, {1.0f, {1, 1, 1}}},
         {1, 0, 1}},
        {"the first run has none: the last of the second run's first pass",
         {{0.0f, {}}, {1.0f, {}}},
         {{0.0f, {1, 1, 0}}, {1.0f, {1, 1, 1}}, {2.0f, {0, 1, 0}}},
         {0, 1, 0}},
        {"the second run has none up to its time step: the first run's last",
         {{0.0f, {1, 1, 1}}, {1.0f, {1, 0, 1}}, {2.0f, {0, 1, 1}}},
         {{0.0f, {}}, {1.0f, {}}, {2.0f, {1, 1, 1}}},
         {0, 0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        auto write = [&dir](const std::string& name, const std::vector<RunStep>& steps) {
            DatBuilder b;
            b.header(2, 3, false, "depth");
            for (const RunStep& s : steps) {
                if (s.flags.empty()) {
                    b.stepWithoutFlags(s.time, {0.5f, 1.5f});
                } else {
                    b.step(s.time, s.flags, {0.5f, 1.5f});
                }
            }
            dir.write(name, b.end().bytes());
        };
        write("a_d.dat", c.first);
        write("b_d.dat", c.second);
        ToolResult r = runTool({"-ddur0.1", "-t1", "-b", "a_d.dat", "b_d.dat"}, "", dir.path());
        ASSERT_EQ(r.status, 0) << r.output;
        WrittenDat out = parseWrittenDat(readFile(dir.file("a_d - b_d.dat")));
        ASSERT_EQ(out.error, "");
        ASSERT_EQ(out.steps.size(), 1u);
        EXPECT_EQ(out.steps[0].active, c.expected);
    }
}

// -k reads the flags only of the steps it keeps; a kept step without flags of its own takes
// those in force, from the last step before that has some (or all cells active).
TEST(FastPaths, KeepTakesTheFlagsInForceAtItsTime) {
    struct Case {
        const char* flag;
        std::vector<std::int8_t> expected;
    };
    const std::vector<Case> cases = {
        {"-k2", {0, 1, 1}}, {"-k0", {1, 1, 1}}, {"-k1", {0, 1, 1}}, {"-k3", {1, 0, 0}}};
    TempDir dir;
    dir.write("run_d.dat", DatBuilder()
                               .header(2, 3, false, "depth")
                               .stepWithoutFlags(0.0f, {1.0f, 2.0f})
                               .step(0.5f, {1, 0, 1}, {1.0f, 2.0f})
                               .step(1.0f, {0, 1, 1}, {1.0f, 2.0f})
                               .stepWithoutFlags(2.0f, {3.0f, 4.0f})
                               .step(2.5f, {1, 0, 0}, {1.0f, 2.0f})
                               .stepWithoutFlags(3.0f, {5.0f, 6.0f})
                               .end()
                               .bytes());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flag);
        ToolResult r = runTool({c.flag, "-b", "run_d.dat"}, "", dir.path());
        ASSERT_EQ(r.status, 0) << r.output;
        const std::string name = std::string("run_d(k") + (c.flag + 2) + ".).dat";
        WrittenDat out = parseWrittenDat(readFile(dir.file(name)));
        ASSERT_EQ(out.error, "");
        ASSERT_EQ(out.steps.size(), 1u);
        EXPECT_EQ(out.steps[0].active, c.expected);
    }
}

// -max of water levels against the plain definition: a node counts at a step when it is a
// corner of a cell active at that step (any flag but 0). Random meshes and flags over many steps, so
// that cells turn wet and dry again; one mesh has more cells than its nodes can hold flags for,
// which takes the other road.
TEST(FastPaths, WaterLevelMaximumFollowsCellsTurningWetAndDry) {
    struct Case {
        int nodes, cells, describedCells, steps;
        unsigned seed;
    };
    const std::vector<Case> cases = {{40, 70, 66, 30, 1}, {25, 48, 48, 12, 2}, {3, 20, 20, 9, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seed);
        std::mt19937 random(c.seed);
        auto pickNode = [&]() { return static_cast<int>(random() % c.nodes) + 1; };
        std::string mesh = "MESH2D\n";
        std::vector<std::vector<int>> corners(static_cast<std::size_t>(c.cells));
        for (int cell = 1; cell <= c.describedCells; ++cell) {
            const int count = random() % 4 == 0 ? 4 : 3;  // corners may repeat
            std::vector<int>& k = corners[static_cast<std::size_t>(cell - 1)];
            for (int i = 0; i < count; ++i) k.push_back(pickNode());
            mesh += (count == 4 ? "E4Q " : "E3T ") + std::to_string(cell);
            for (int n : k) mesh += " " + std::to_string(n);
            mesh += " 1\n";
        }
        for (int n = 1; n <= c.nodes; ++n) mesh += "ND " + std::to_string(n) + " 0 0 0\n";

        const std::int8_t flagChoices[] = {0, 1, 1, 2, -1};
        std::vector<float> maximum(static_cast<std::size_t>(c.nodes), 0.0f);
        std::vector<float> file(maximum.size(), 0.0f);
        TempDir dir;
        std::vector<std::string> args = {"-max", "-b"};
        for (int input = 1; input <= 2; ++input) {
            DatBuilder b;
            b.header(c.nodes, c.cells, false, "levels");
            std::vector<std::int8_t> active(static_cast<std::size_t>(c.cells), 0);
            for (int s = 0; s < c.steps; ++s) {
                // Most cells keep their flag from one step to the next.
                for (auto& a : active)
                    if (random() % 5 == 0) a = flagChoices[random() % 5];
                std::vector<float> level(maximum.size());
                for (auto& v : level) v = static_cast<float>(random() % 1000) / 100.0f - 2.0f;
                b.step(static_cast<float>(s), active, level);
                std::vector<bool> wet(maximum.size(), false);
                for (std::size_t cell = 0; cell < active.size(); ++cell) {
                    if (active[cell] == 0) continue;
                    for (int n : corners[cell]) wet[static_cast<std::size_t>(n - 1)] = true;
                }
                for (std::size_t n = 0; n < maximum.size(); ++n) {
                    if (wet[n] && level[n] > maximum[n]) {
                        maximum[n] = level[n];
                        file[n] = static_cast<float>(input);
                    }
                }
            }
            const std::string name = "run" + std::to_string(input) + "_h.dat";
            dir.write(name, b.end().bytes());
            args.push_back(name);
        }
        dir.write("run1.2dm", mesh);
        ToolResult r = runTool(args, "", dir.path());
        ASSERT_EQ(r.status, 0) << r.output;
        WrittenDat out = parseWrittenDat(readFile(dir.file("run1_h(maxmax).dat")));
        ASSERT_EQ(out.error, "");
        ASSERT_EQ(out.steps.size(), 2u);
        EXPECT_EQ(out.steps[0].values1, maximum);
        EXPECT_EQ(out.steps[1].values1, file);
    }
}

}  // namespace
}  // namespace kelvara::test
