// Work shared out over the cores: the parts cover their range once, and an operation gives the
// same bytes and the same console whatever the number of threads, at a size where the reads and
// node loops are really split (the error of a file cut short included).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "fileio/workers.h"
#include "support/dat_builder.h"
#include "support/tempdir.h"
#include "support/tool_runner.h"

namespace kelvara::test {
namespace {

TEST(SharedWork, PartsCoverTheRangeOnceInOrder) {
    struct Case {
        std::size_t count, grain, minimum;
    };
    const Case cases[] = {{0, 1, 1},         {1, 1, 1},          {7, 1, 1},
                          {1000, 64, 1},     {1000, 64, 600},    {65536, 1024, 65536},
                          {300001, 1024, 1}, {300001, 1024, 64 * 1024}, {5, 1000, 1}};
    for (const Case& c : cases) {
        std::vector<std::size_t> begins(kMaxParts, 0), ends(kMaxParts, 0);
        std::vector<int> calls(kMaxParts, 0);
        forEachPart(c.count, c.grain, c.minimum,
                    [&](std::size_t part, std::size_t begin, std::size_t end) {
                        ASSERT_LT(part, kMaxParts);
                        begins[part] = begin;
                        ends[part] = end;
                        ++calls[part];
                    });
        std::size_t covered = 0;
        std::size_t parts = 0;
        for (std::size_t p = 0; p < kMaxParts && calls[p] != 0; ++p, ++parts) {
            EXPECT_EQ(calls[p], 1);
            EXPECT_EQ(begins[p], covered) << "count " << c.count << " part " << p;
            EXPECT_LT(begins[p], ends[p]);
            if (ends[p] != c.count) {
                EXPECT_EQ(ends[p] % c.grain, 0u);
            }
            covered = ends[p];
        }
        EXPECT_EQ(covered, c.count) << "count " << c.count;
        EXPECT_LE(parts, partCount());
        if (c.count > 0) {
            EXPECT_LE(parts, std::max<std::size_t>(1, c.count / c.minimum));
        }
    }
}

void setThreads(const std::string& value) {
#ifdef _WIN32
    _putenv_s("KELVARA_THREADS", value.c_str());
#else
    setenv("KELVARA_THREADS", value.c_str(), 1);
#endif
}

// A run of a tool command with a given number of threads: console, status and the bytes of the
// file it wrote (removed afterwards, so that the next run writes it anew).
struct Outcome {
    ToolResult result;
    std::string written;
};

Outcome runWithThreads(const TempDir& dir, const std::vector<std::string>& args,
                       const std::string& output, const std::string& threads) {
    setThreads(threads);
    Outcome o{runTool(args, {}, dir.path()), {}};
    setThreads("");
    const std::string path = dir.file(output);
    if (fileExists(path)) {
        o.written = readFile(path);
        std::remove(path.c_str());
    }
    return o;
}

// Node values with runs of dry nodes, wet ones, and now and then a value that is not a number,
// an infinity or a signed zero.
std::vector<float> values(std::mt19937& random, std::size_t count, float scale) {
    std::uniform_real_distribution<float> value(-0.2f * scale, scale);
    std::vector<float> v(count);
    bool wet = false;
    for (std::size_t i = 0; i < count; ++i) {
        if (random() % 5000 == 0) wet = !wet;
        v[i] = wet ? value(random) : 0.0f;
        switch (random() % 20000) {
            case 0: v[i] = std::numeric_limits<float>::quiet_NaN(); break;
            case 1: v[i] = std::numeric_limits<float>::infinity(); break;
            case 2: v[i] = -0.0f; break;
            default: break;
        }
    }
    return v;
}

TEST(SharedWork, ResultsDoNotDependOnTheNumberOfThreads) {
    // Enough nodes for four parts of the node loops and several of the reads.
    constexpr std::size_t kNodes = 300003;  // not a multiple of four: the tails of the vector loops
    constexpr std::size_t kCells = 200001;
    TempDir dir;
    std::mt19937 random(7);
    DatBuilder depths, vectors;
    depths.header(kNodes, kCells, false, "depths");
    vectors.header(kNodes, kCells, true, "velocities");
    for (int s = 0; s < 4; ++s) {
        std::vector<std::int8_t> active(kCells);
        for (auto& a : active) a = static_cast<std::int8_t>(random() % 3 == 0 ? 0 : 1);
        const float time = s == 3 ? 99999.0f : static_cast<float>(s);
        depths.step(time, active, values(random, kNodes, 3.0f));
        vectors.step(time, active, values(random, kNodes, 2.0f), values(random, kNodes, 2.0f));
    }
    const DatBuilder design = DatBuilder(depths).end();
    depths.end();
    dir.write("base_d.dat", depths.bytes());
    dir.write("design_d.dat", design.bytes());
    dir.write("base_V.dat", vectors.end().bytes());
    // Cut inside the values of the second step, far beyond the first read of it.
    dir.write("cut_V.dat", DatBuilder(vectors).dropLast(vectors.size() / 2).bytes());

    struct Case {
        std::vector<std::string> args;
        std::string output;
    };
    const Case cases[] = {
        {{"-b", "-max", "base_d.dat"}, "base_d(maxmax).dat"},
        {{"-b", "-max", "base_V.dat"}, "base_V(maxmax).dat"},
        {{"-b", "-dur0.5", "base_d.dat"}, "base_d(dur0.5).dat"},
        {{"-b", "-dur0.25", "base_V.dat"}, "base_V(dur0.25).dat"},
        {{"-b", "-trim1", "base_V.dat"}, "base_V(trim1).dat"},
        {{"-b", "-trim1", "base_d.dat"}, "base_d(trim1).dat"},
        {{"-b", "-va", "base_V.dat"}, "base_V(va).dat"},
        {{"-b", "-con", "base_d.dat", "design_d.dat"}, "base_d(con).dat"},
        {{"-b", "-dif", "-nowetdry", "base_d.dat", "design_d.dat"}, "base_d - design_d.dat"},
        {{"-b", "-arrival0.5", "base_d.dat"}, "base_d(arrival0.5).dat"},
        {{"-b", "-arrival1", "base_V.dat"}, "base_V(arrival1).dat"},
        {{"-b", "-hazard", "base_d.dat"}, "base_d(hazard).dat"},
        {{"-b", "-max", "cut_V.dat"}, "cut_V(maxmax).dat"},
        {{"-b", "-arrival1", "cut_V.dat"}, "cut_V(arrival1).dat"},
    };
    for (const Case& c : cases) {
        const Outcome one = runWithThreads(dir, c.args, c.output, "1");
        const Outcome three = runWithThreads(dir, c.args, c.output, "3");
        const std::string what = c.args[1] + " " + c.args.back();
        EXPECT_EQ(one.result.status, three.result.status) << what;
        EXPECT_EQ(one.result.output, three.result.output) << what;
        EXPECT_TRUE(one.written == three.written) << what << ": the outputs differ";
        if (c.output.rfind("cut", 0) == 0) {
            EXPECT_EQ(one.result.status, 1);
            EXPECT_NE(one.result.output.find("ERROR - Unexpected end of file in"), std::string::npos)
                << one.result.output;
            EXPECT_TRUE(one.written.empty());
        } else {
            EXPECT_EQ(one.result.status, 0) << what << "\n" << one.result.output;
            EXPECT_GT(one.written.size(), kNodes) << what;
        }
    }
}

}  // namespace
}  // namespace kelvara::test
