// The example flood case: what its generator writes reads back as well-formed datasets that
// agree with their mesh and with each other, and the files shipped under examples/flood/ are
// exactly what the generator makes today.
#include "../examples/flood_case.h"

#include "support/tempdir.h"
#include "support/tool_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using kelvara::test::readFile;
using kelvara::test::TempDir;

namespace {

struct Dataset {
    std::int32_t nodes = 0, cells = 0;
    bool vector = false;
    std::string name;
    std::vector<float> times;
    std::vector<std::vector<std::int8_t>> flags;
    std::vector<std::vector<float>> values;  // per step; pairs for vectors
};

// Walks the bytes exactly as the generator lays them out (the tool's header, steps with flags,
// the end card and nothing after it); a fault is reported through gtest.
Dataset parseDataset(const std::string& bytes) {
    Dataset d;
    std::size_t pos = 0;
    auto take = [&](std::size_t n) {
        if (pos + n > bytes.size()) throw std::runtime_error("dataset ends early");
        const char* p = bytes.data() + pos;
        pos += n;
        return p;
    };
    auto readInt = [&] {
        std::uint32_t u = 0;
        const auto* p = reinterpret_cast<const unsigned char*>(take(4));
        for (int k = 3; k >= 0; --k) u = (u << 8) | p[k];
        return static_cast<std::int32_t>(u);
    };
    auto readFloat = [&] {
        std::int32_t i = readInt();
        float f;
        std::memcpy(&f, &i, 4);
        return f;
    };
    for (std::int32_t expected : {3000, 100, 3, 110, 4, 120, 1}) EXPECT_EQ(readInt(), expected);
    std::int32_t kind = readInt();
    EXPECT_TRUE(kind == 130 || kind == 140);
    d.vector = kind == 140;
    EXPECT_EQ(readInt(), 170);
    d.nodes = readInt();
    EXPECT_EQ(readInt(), 180);
    d.cells = readInt();
    EXPECT_EQ(readInt(), 190);
    d.name = std::string(take(40), 40);
    EXPECT_EQ(pos, 92u);
    for (std::int32_t card = readInt(); card != 210; card = readInt()) {
        EXPECT_EQ(card, 200);
        EXPECT_EQ(*take(1), 1);
        d.times.push_back(readFloat());
        const char* f = take(d.cells);
        d.flags.emplace_back(f, f + d.cells);
        std::vector<float> v(static_cast<std::size_t>(d.nodes) * (d.vector ? 2 : 1));
        for (float& x : v) x = readFloat();
        d.values.push_back(std::move(v));
    }
    EXPECT_EQ(pos, bytes.size()) << "bytes after the end card";
    return d;
}

struct Mesh {
    std::map<int, float> ground;
    std::vector<std::vector<int>> cells;
};

Mesh parseMesh(const std::string& text) {
    Mesh m;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream in(line);
        std::string tag;
        int id = 0;
        in >> tag >> id;
        if (tag == "ND") {
            double x, y, z;
            in >> x >> y >> z;
            m.ground[id] = static_cast<float>(z);
        } else if (tag == "E3T" || tag == "E4Q") {
            std::vector<int> corners(tag == "E3T" ? 3 : 4);
            for (int& c : corners) in >> c;
            m.cells.push_back(corners);
        }
    }
    return m;
}

float magnitude(const std::vector<float>& v, int n) { return std::hypot(v[2 * n], v[2 * n + 1]); }

}  // namespace

TEST(ExampleCase, GeneratedRunsReadBackAndAgreeWithTheirMesh) {
    TempDir dir;
    flood_example::writeFloodCase(dir.path());
    const std::vector<float> expectedTimes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 99999};
    // Highest depth of each run at the upstream and the downstream cross-section.
    std::map<std::string, std::pair<float, float>> peakDepth;
    for (std::string run : {"base", "design"}) {
        SCOPED_TRACE(run);
        const std::string meshText = readFile(dir.file(run + ".2dm"));
        EXPECT_EQ(meshText, readFile(dir.file("flood.2dm")));
        const Mesh mesh = parseMesh(meshText);
        ASSERT_EQ(mesh.ground.size(), 300u);
        ASSERT_EQ(mesh.cells.size(), 504u);

        struct { const char* suffix; bool vector; const char* name; } table[] = {
            {"_h", false, "Water Level"}, {"_d", false, "Depth"}, {"_V", true, "Velocity"}};
        std::map<std::string, Dataset> sets;
        for (const auto& row : table) {
            SCOPED_TRACE(row.suffix);
            const std::string bytes = readFile(dir.file(run + row.suffix + ".dat"));
            Dataset d = parseDataset(bytes);
            EXPECT_EQ(d.nodes, 300);
            EXPECT_EQ(d.cells, 504);
            EXPECT_EQ(d.vector, row.vector);
            EXPECT_EQ(d.name, std::string(row.name) + std::string(40 - std::strlen(row.name), ' '));
            EXPECT_EQ(d.times, expectedTimes);
            EXPECT_EQ(bytes.size(), 92u + 14u * (9 + 504 + 300 * (row.vector ? 8 : 4)) + 4u);
            sets[row.suffix] = std::move(d);
        }
        const Dataset &h = sets["_h"], &d = sets["_d"], &v = sets["_V"];
        const std::size_t last = expectedTimes.size() - 1;
        for (std::size_t s = 0; s <= last; ++s) {
            for (int n = 0; n < 300; ++n) {
                // level = ground + depth; nothing flows where there is no water.
                ASSERT_NEAR(h.values[s][n] - d.values[s][n], mesh.ground.at(n + 1), 0.0005f);
                ASSERT_GE(d.values[s][n], 0.0f);
                if (d.values[s][n] <= 0.01f) {
                    ASSERT_EQ(magnitude(v.values[s], n), 0.0f);
                }
            }
            for (std::size_t c = 0; c < mesh.cells.size(); ++c) {
                bool wet = true;
                for (int node : mesh.cells[c]) wet = wet && d.values[s][node - 1] > 0.01f;
                ASSERT_EQ(d.flags[s][c], wet ? 1 : 0) << "step " << s << " cell " << c + 1;
                ASSERT_EQ(h.flags[s][c], d.flags[s][c]);
                ASSERT_EQ(v.flags[s][c], d.flags[s][c]);
            }
        }
        // The last step holds each node's maximum of the hourly steps.
        for (int n = 0; n < 300; ++n) {
            float hMax = 0, dMax = 0, vMax = 0;
            for (std::size_t s = 0; s < last; ++s) {
                hMax = std::max(hMax, h.values[s][n]);
                dMax = std::max(dMax, d.values[s][n]);
                vMax = std::max(vMax, magnitude(v.values[s], n));
            }
            ASSERT_EQ(h.values[last][n], hMax);
            ASSERT_EQ(d.values[last][n], dMax);
            ASSERT_EQ(magnitude(v.values[last], n), vMax);
            auto& peaks = peakDepth[run];
            if (n < 15) peaks.first = std::max(peaks.first, dMax);
            if (n >= 300 - 15) peaks.second = std::max(peaks.second, dMax);
        }
        // A flood wave: more cells wet at the peak than at the start and at the end.
        auto wetCount = [&](std::size_t s) { return std::count(d.flags[s].begin(), d.flags[s].end(), 1); };
        EXPECT_GT(wetCount(5), 2 * wetCount(0));
        EXPECT_GT(wetCount(5), wetCount(12));
    }
    // The design lowers the flood upstream and raises it downstream.
    EXPECT_LT(peakDepth["design"].first, peakDepth["base"].first - 0.5f);
    EXPECT_GT(peakDepth["design"].second, peakDepth["base"].second + 0.5f);
}

TEST(ExampleCase, ShippedFilesEqualAFreshGeneration) {
    const fs::path shipped = fs::path(__FILE__).parent_path().parent_path() / "examples" / "flood";
    ASSERT_TRUE(fs::is_directory(shipped)) << shipped;
    TempDir dir;
    const std::vector<std::string> made = flood_example::writeFloodCase(dir.path());
    std::vector<std::string> expected = kelvara::test::listFolder(dir.path());
    std::vector<std::string> present;
    for (const std::string& name : kelvara::test::listFolder(shipped.string()))
        if (name != "README.md" && name != ".gitattributes") present.push_back(name);
    EXPECT_EQ(present, expected);
    for (const std::string& name : made)
        EXPECT_TRUE(readFile((shipped / name).string()) == readFile(dir.file(name)))
            << name << " is stale: regenerate examples/flood (see its README.md)";
}

TEST(ExampleCase, ToolReadsEveryStepOfTheCase) {
    TempDir dir;
    flood_example::writeFloodCase(dir.path());
    const auto result = kelvara::test::runTool({"-b", "-times", "design_V.dat"}, "", dir.path());
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("Reading data for time 99999."), std::string::npos);
    const std::string times = readFile(dir.file("times.txt"));
    EXPECT_EQ(std::count(times.begin(), times.end(), '\n'), 14) << times;
}
