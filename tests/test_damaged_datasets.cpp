// Files that are not, or no longer, whole datasets, through the real tool: a damaged card
// between steps, a repeated header or an extra card, files that hold no dataset at all (empty,
// zeros, text, the null and zero devices), headers without counts or without end. Each stops
// with an "ERROR - " line naming the file and leaves no output; a file whose last whole step
// lacks only its end card is read, with a warning.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/dat_builder.h"
#include "support/tempdir.h"
#include "support/tool_runner.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace kelvara::test {
namespace {

constexpr int kNodes = 3;
constexpr int kCells = 2;
// Bytes of one step of the datasets below: card, status, time, flags and values.
constexpr std::size_t kStepBytes = 4 + 1 + 4 + kCells + 4 * kNodes;
constexpr std::size_t kHeaderBytes = 92;

// Ten steps at hours 0 to 9 whose values are the hour, without the end card when asked.
DatBuilder tenSteps(bool endCard = true) {
    DatBuilder b;
    b.header(kNodes, kCells, false, "ten");
    for (int i = 0; i < 10; ++i) {
        const float t = static_cast<float>(i);
        b.step(t, {1, 1}, {t, t, t});
    }
    if (endCard) b.end();
    return b;
}

// The ten steps with one byte of the card of step `step` (from 0) changed.
std::string damagedCard(int step) {
    std::string bytes = tenSteps().bytes();
    bytes[kHeaderBytes + static_cast<std::size_t>(step) * kStepBytes] = '\xC9';  // 200 -> 201
    return bytes;
}

std::string offsetOfStep(int step) {
    return std::to_string(kHeaderBytes + static_cast<std::size_t>(step) * kStepBytes);
}

// Whether some console line starts with "ERROR - " and holds every part.
bool errorLineWith(const std::string& output, const std::vector<std::string>& parts) {
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        const std::string line = output.substr(start, end - start);
        bool all = line.rfind("ERROR - ", 0) == 0;
        for (const std::string& part : parts) all = all && contains(line, part);
        if (all) return true;
        start = end + 1;
    }
    return false;
}

struct DamageCase {
    const char* what;
    std::string bytes;  // of run_d.dat
    const char* device;  // instead of bytes: run_d.dat is a link to this device
    std::vector<std::string> flags;
    std::vector<std::string> error;  // texts of the ERROR line besides the file name; none: runs
    int steps;                       // of the output, when the run goes through
};

std::vector<DamageCase> damageCases() {
    std::string unknownCards;
    for (int i = 0; i < 150; ++i) unknownCards += DatBuilder().card(7).bytes();
    const std::string twoHeaders = DatBuilder()
                                       .header(kNodes, kCells, false, "one")
                                       .step(0.0f, {1, 1}, {1, 1, 1})
                                       .header(kNodes, kCells, false, "two")
                                       .step(1.0f, {1, 1}, {2, 2, 2})
                                       .end()
                                       .bytes();
    const std::string extraStepCard = DatBuilder()
                                          .header(kNodes, kCells, false, "x")
                                          .step(0.0f, {1, 1}, {1, 1, 1})
                                          .card(200)
                                          .step(1.0f, {1, 1}, {2, 2, 2})
                                          .end()
                                          .bytes();
    return {
        {"-max: a damaged card before the 6th step", damagedCard(5), nullptr, {"-max"},
         {"card 201", "byte " + offsetOfStep(5)}, 0},
        {"-times: the same", damagedCard(5), nullptr, {"-times"},
         {"card 201", "byte " + offsetOfStep(5)}, 0},
        {"-con: a damaged card before the last step", damagedCard(9), nullptr,
         {"-con", "good_d.dat"}, {"card 201", "byte " + offsetOfStep(9)}, 0},
        {"-k1: a header repeated after the first step", twoHeaders, nullptr, {"-k1"},
         {"card 3000", "byte " + std::to_string(kHeaderBytes + kStepBytes)}, 0},
        {"-con: an extra card 200", extraStepCard, nullptr, {"-con", "good_d.dat"}, {"damaged"}, 0},
        {"an empty file", "", nullptr, {"-max"}, {"is empty"}, 0},
        {"a megabyte of zeros", std::string(1 << 20, '\0'), nullptr, {"-k1"},
         {"holds no dataset"}, 0},
        {"text", "junk", nullptr, {"-times"}, {"holds no dataset", "number of nodes and cells"}, 0},
        {"a header without counts",
         DatBuilder().i32(3000).card(100, 3).card(130).name("x").step(1.0f, {}, {}).end().bytes(),
         nullptr, {"-max"}, {"no number of nodes and cells"}, 0},
        {"a header without a cell count",
         DatBuilder().i32(3000).card(170, 3).card(130).name("x").end().bytes(), nullptr, {"-max"},
         {"no number of cells"}, 0},
        {"a header that runs on without a card 200 or 210",
         unknownCards + tenSteps().bytes(), nullptr, {"-max"}, {"holds no dataset", "100 cards"},
         0},
#ifndef _WIN32
        {"the null device", "", "/dev/null", {"-k1"}, {"is empty"}, 0},
        {"the zero device, which never ends", "", "/dev/zero", {"-times"},
         {"holds no dataset"}, 0},
#endif
        // What still reads.
        {"a last step without the end card", tenSteps(false).bytes(), nullptr, {"-k9"}, {}, 1},
        {"a header that ends before any step", DatBuilder().header(kNodes, kCells, false, "h")
                                                   .bytes(),
         nullptr, {"-max"}, {}, 2},
        {"unknown cards in a header", DatBuilder().card(7).card(8).bytes() + tenSteps().bytes(),
         nullptr, {"-max"}, {}, 2},
    };
}

TEST(DamagedDatasets, AreErrorsNamingTheFileAndLeaveNoOutput) {
    for (const DamageCase& c : damageCases()) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        if (c.device != nullptr) {
#ifndef _WIN32
            ASSERT_EQ(::symlink(c.device, dir.file("run_d.dat").c_str()), 0);
#endif
        } else {
            dir.write("run_d.dat", c.bytes);
        }
        dir.write("good_d.dat", tenSteps().bytes());
        const std::vector<std::string> before = listFolder(dir.path());
        std::vector<std::string> args = {"-b"};
        args.insert(args.end(), c.flags.begin(), c.flags.end());
        args.push_back("run_d.dat");
        const ToolResult r = runTool(args, "", dir.path());
        if (!c.error.empty()) {
            EXPECT_EQ(r.status, 1) << r.output;
            std::vector<std::string> parts = c.error;
            parts.push_back("run_d.dat");
            EXPECT_TRUE(errorLineWith(r.output, parts)) << r.output;
            EXPECT_EQ(listFolder(dir.path()), before) << "an output was left behind";
            continue;
        }
        ASSERT_EQ(r.status, 0) << r.output;
        std::string output = dir.file("run_d(maxmax).dat");
        if (c.flags[0] == "-k9") output = dir.file("run_d(k9.).dat");
        const WrittenDat out = parseWrittenDat(readFile(output));
        ASSERT_EQ(out.error, "");
        EXPECT_EQ(out.steps.size(), static_cast<std::size_t>(c.steps));
        const bool noEndCard = contains(c.what, "without the end card");
        EXPECT_EQ(countOf(r.output, "WARNING - run_d.dat has no end card"), noEndCard ? 1u : 0u)
            << r.output;
    }
}

}  // namespace
}  // namespace kelvara::test
