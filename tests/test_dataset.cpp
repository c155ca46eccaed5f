// Binary dataset reader and writer: written layout byte for byte, round trips, the reader's
// tolerance (card order, unknown cards, missing end card, steps without flags, 4-byte flags)
// and the fatal end of truncated or inconsistent files.
// GCC 12 reports the std::string inside the brace-initialised header of the case tables below
// as maybe uninitialised at -O2; it is a known false positive of aggregate arrays.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <regex>

#include "fileio/error.h"
#include "fileio/units.h"
#include "formats/dataset.h"
#include "formats/dataset_io.h"
#include "support/dat_builder.h"
#include "support/tempdir.h"

namespace {

using kelvara::DatasetHeader;
using kelvara::test::DatBuilder;
using kelvara::test::TempDir;

struct Step {
    float time = 0.0f;
    std::vector<std::int8_t> active;
    std::vector<float> values1, values2;
};

struct ReadBack {
    DatasetHeader header;
    std::int32_t headerCard = 0;
    std::vector<Step> steps;
    std::int32_t finalCard = 0;
    std::string console;  // the reader's lines, each ended by a line end
};

// Reads a whole dataset the way the run driver does: header, then steps while the card is 200
// and the file goes on. Flags start as 1 (active) before any step supplies them.
ReadBack readAll(const std::string& path, DatasetHeader start = {}) {
    ReadBack r;
    kelvara::DatasetReader reader = kelvara::DatasetReader::open(
        path, [&r](const std::string& line) { r.console += line + "\n"; });
    r.header = reader.readHeader(path, start);
    r.headerCard = reader.card();
    std::vector<std::int8_t> active(static_cast<std::size_t>(r.header.cellCount), 1);
    std::vector<float> v1(static_cast<std::size_t>(r.header.nodeCount));
    std::vector<float> v2(v1.size());
    while (reader.hasStep()) {
        Step s;
        s.time = reader.nextStep({active.data(), v1.data(), v2.data()}).time;
        s.active = active;
        s.values1 = v1;
        if (r.header.isVector) s.values2 = v2;
        r.steps.push_back(s);
    }
    r.finalCard = reader.card();
    return r;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class DatasetFormat : public ::testing::Test {
protected:
    void SetUp() override { kelvara::INITFILEUNITS(); }
    TempDir dir;
};

TEST_F(DatasetFormat, WrittenLayoutAndRoundTrip) {
    struct Case {
        bool vector;
        std::int32_t nodes, cells;
        std::string outputName;
        std::string datasetName;  // as stored, without padding
        std::int64_t stepBytes;
    };
    const Case cases[] = {
        {false, 100, 50, "C:\\runs\\run_h(con).dat", "run_h(con)", 459},
        {true, 100, 50, "/runs/run_V(con).dat", "run_V(con)", 859},
        // 45 characters: the last 40 are kept.
        {false, 3, 2, "d/abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHI.dat",
         "fghijklmnopqrstuvwxyz0123456789ABCDEFGHI", 4 + 1 + 4 + 2 + 12},
        {false, 0, 0, "empty.dat", "empty", 9},
        // More pairs than one pass through the work area holds.
        {true, 300001, 5, "big_V.dat", "big_V", 4 + 1 + 4 + 5 + 8 * 300001},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.outputName);
        EXPECT_EQ(kelvara::writtenStepBytes(c.vector, c.nodes, c.cells), c.stepBytes);
        const auto nodes = static_cast<std::size_t>(c.nodes);
        std::vector<Step> steps(2);
        for (std::size_t k = 0; k < steps.size(); ++k) {
            Step& s = steps[k];
            s.time = 0.25f + 1.5f * static_cast<float>(k);
            for (std::int32_t i = 0; i < c.cells; ++i) s.active.push_back(static_cast<std::int8_t>((i + k) % 2));
            for (std::size_t i = 0; i < nodes; ++i) {
                s.values1.push_back(static_cast<float>(i) * 0.37f - 11.0f * static_cast<float>(k));
                if (c.vector) s.values2.push_back(-0.5f * static_cast<float>(i) + 1e-3f);
            }
            if (nodes >= 2) {
                s.values1[0] = -0.0f;
                s.values1[1] = std::numeric_limits<float>::denorm_min();
            }
        }

        const std::string path = dir.file("out.dat");
        {
            kelvara::DatasetWriter writer(kelvara::fileSink(std::fopen(path.c_str(), "wb"), true),
                                          path);
            writer.writeHeader(c.nodes, c.cells, c.vector, c.outputName);
            for (const Step& s : steps) {
                writer.writeStep(s.time, s.active.data(), s.values1.data(),
                                 c.vector ? s.values2.data() : nullptr);
            }
            writer.writeEnd();
        }

        const std::string bytes = kelvara::test::readFile(path);
        ASSERT_EQ(static_cast<std::int64_t>(bytes.size()),
                  kelvara::kWrittenHeaderBytes + 2 * c.stepBytes + 4);
        const std::string header = DatBuilder().header(c.nodes, c.cells, c.vector, c.datasetName).bytes();
        ASSERT_EQ(header.size(), 92u);
        EXPECT_EQ(bytes.substr(0, 92), header);

        const auto written = kelvara::test::parseWrittenDat(bytes);
        ASSERT_EQ(written.error, "");
        ASSERT_EQ(written.steps.size(), steps.size());
        for (std::size_t k = 0; k < steps.size(); ++k) {
            EXPECT_EQ(written.steps[k].time, steps[k].time);
            EXPECT_EQ(written.steps[k].active, steps[k].active);
            EXPECT_TRUE(sameBits(written.steps[k].values1, steps[k].values1));
            EXPECT_TRUE(sameBits(written.steps[k].values2, steps[k].values2));
        }

        const ReadBack back = readAll(path);
        EXPECT_EQ(back.header.nodeCount, c.nodes);
        EXPECT_EQ(back.header.cellCount, c.cells);
        EXPECT_EQ(back.header.isVector, c.vector);
        EXPECT_EQ(back.header.datasetName, c.datasetName);
        ASSERT_EQ(back.steps.size(), steps.size());
        for (std::size_t k = 0; k < steps.size(); ++k) {
            EXPECT_EQ(back.steps[k].time, steps[k].time);
            EXPECT_EQ(back.steps[k].active, steps[k].active);
            EXPECT_TRUE(sameBits(back.steps[k].values1, steps[k].values1));
            EXPECT_TRUE(sameBits(back.steps[k].values2, steps[k].values2));
        }
        EXPECT_EQ(back.finalCard, kelvara::kCardEnd);
    }
}

TEST_F(DatasetFormat, ReaderAcceptsWhatOtherWritersProduce) {
    DatasetHeader vectorCaller;
    vectorCaller.isVector = true;
    struct Case {
        const char* what;
        std::string bytes;
        DatasetHeader start;
        std::int32_t nodes, cells;
        bool isVector;
        std::string name;
        std::int32_t headerCard;
        std::vector<Step> steps;
        std::int32_t finalCard;
        std::string console;  // a text the console must show
    };
    std::string referenceTime(8, '\0');
    const Case cases[] = {
        {"the written layout",
         DatBuilder().header(2, 3, false, "run_h").step(0.5f, {1, 0, 1}, {1.5f, 2.5f})
             .step(1.0f, {0, 0, 1}, {3.0f, -4.0f}).end().bytes(),
         {}, 2, 3, false, "run_h", 200,
         {{0.5f, {1, 0, 1}, {1.5f, 2.5f}, {}}, {1.0f, {0, 0, 1}, {3.0f, -4.0f}, {}}}, 210,
         "Number Cells:           3\nNumber Nodes:           2\nData Description: run_h\n"},
        {"cards in any order and repeated, unknown cards and an early end card",
         DatBuilder().i32(3000).name("first").card(180, 99).card(999).card(170, 2).card(130)
             .card(210).card(180, 3).card(100, 3).card(150, 1).card(160, 0).card(7)
             .name("second").card(140).card(110, 4)
             .step(2.0f, {1, 1, 0}, {1.0f, 2.0f}, {3.0f, 4.0f}).end().bytes(),
         {}, 2, 3, true, "second", 200, {{2.0f, {1, 1, 0}, {1.0f, 2.0f}, {3.0f, 4.0f}}}, 210, ""},
        {"no card 130 or 140 keeps the caller's form",
         DatBuilder().i32(3000).card(170, 1).card(180, 1).name("v")
             .step(1.0f, {1}, {5.0f}, {6.0f}).end().bytes(),
         vectorCaller, 1, 1, true, "v", 200, {{1.0f, {1}, {5.0f}, {6.0f}}}, 210, ""},
        {"header and end card only", DatBuilder().header(2, 3, false, "none").end().bytes(),
         {}, 2, 3, false, "none", 210, {}, 210, ""},
        {"file ends among the header cards",
         DatBuilder().i32(3000).card(170, 2).card(180, 3).bytes(),
         {}, 2, 3, false, "", 180, {}, 180, ""},
        {"no end card after the last step",
         DatBuilder().header(1, 1, false, "x").step(3.0f, {0}, {7.0f}).bytes(),
         {}, 1, 1, false, "x", 200, {{3.0f, {0}, {7.0f}, {}}}, 210, ""},
        {"steps without flags keep the flags before them",
         DatBuilder().header(2, 3, false, "nf").stepWithoutFlags(1.0f, {1.0f, 2.0f})
             .step(2.0f, {0, 1, 0}, {3.0f, 4.0f}).stepWithoutFlags(3.0f, {5.0f, 6.0f}, {}, 7)
             .end().bytes(),
         {}, 2, 3, false, "nf", 200,
         {{1.0f, {1, 1, 1}, {1.0f, 2.0f}, {}}, {2.0f, {0, 1, 0}, {3.0f, 4.0f}, {}},
          {3.0f, {0, 1, 0}, {5.0f, 6.0f}, {}}},
         210, ""},
        {"four-byte status and flags: a flag that fits in a byte is read as that byte",
         DatBuilder().i32(3000).card(100, 3).card(110, 4).card(120, 4).card(140).card(170, 2)
             .card(180, 3).name("wide").flagBytes(4)
             .step(2.0f, {1, 0, 2}, {1.0f, 2.0f}, {3.0f, 4.0f})
             .stepWithoutFlags(4.0f, {5.0f, 6.0f}, {7.0f, 8.0f}).end().bytes(),
         {}, 2, 3, true, "wide", 200,
         {{2.0f, {1, 0, 2}, {1.0f, 2.0f}, {3.0f, 4.0f}}, {4.0f, {1, 0, 2}, {5.0f, 6.0f}, {7.0f, 8.0f}}},
         210, ""},
        {"reference time and time units in hours are passed over",
         DatBuilder().header(1, 2, false, "ref").i32(240).i8(1).raw(referenceTime).card(250, 0)
             .step(1.0f, {1, 0}, {9.0f}).end().bytes(),
         {}, 1, 2, false, "ref", 200, {{1.0f, {1, 0}, {9.0f}, {}}}, 210, ""},
        {"times in minutes are read and warned about",
         DatBuilder().header(1, 1, false, "min").card(250, 1).step(30.0f, {1}, {1.0f}).end().bytes(),
         {}, 1, 1, false, "min", 200, {{30.0f, {1}, {1.0f}, {}}}, 210,
         "are in minutes, not hours"},
        {"a name padded with NULs",
         DatBuilder().i32(3000).card(170, 0).card(180, 0).name("nulpad", '\0').end().bytes(),
         {}, 0, 0, false, "nulpad", 210, {}, 210, "Data Description: nulpad\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.write("in_h.dat", c.bytes);
        const ReadBack r = readAll(path, c.start);
        const std::string& console = r.console;
        EXPECT_EQ(r.header.nodeCount, c.nodes);
        EXPECT_EQ(r.header.cellCount, c.cells);
        EXPECT_EQ(r.header.isVector, c.isVector);
        EXPECT_EQ(r.header.datasetName, c.name);
        EXPECT_EQ(r.headerCard, c.headerCard);
        EXPECT_EQ(r.finalCard, c.finalCard);
        ASSERT_EQ(r.steps.size(), c.steps.size());
        for (std::size_t k = 0; k < c.steps.size(); ++k) {
            EXPECT_EQ(r.steps[k].time, c.steps[k].time) << "step " << k;
            EXPECT_EQ(r.steps[k].active, c.steps[k].active) << "step " << k;
            EXPECT_EQ(r.steps[k].values1, c.steps[k].values1) << "step " << k;
            EXPECT_EQ(r.steps[k].values2, c.steps[k].values2) << "step " << k;
        }
        EXPECT_NE(console.find("Reading Header for: " + path + "\n"), std::string::npos) << console;
        EXPECT_EQ(occurrences(console, "Reading data for time "), c.steps.size()) << console;
        EXPECT_NE(console.find(c.console), std::string::npos) << console;
    }
}

TEST_F(DatasetFormat, TruncatedOrInconsistentFilesEndTheRun) {
    const std::string header = DatBuilder().header(2, 3, false, "cut").bytes();
    const std::string oneStep = DatBuilder().header(2, 3, false, "cut")
                                    .step(2.5f, {1, 0, 1}, {1.0f, 2.0f}).bytes();  // 112 bytes
    struct Case {
        const char* what;
        std::string bytes;
        std::string message;  // regular expression after "ERROR - "
    };
    const Case cases[] = {
        {"integer payload cut", DatBuilder().i32(3000).card(100, 3).i32(170).i8(2).bytes(),
         "Unexpected end of file in .*bad_h\\.dat while reading its header"},
        {"name cut", DatBuilder().i32(3000).i32(190).raw("abc").bytes(),
         "Unexpected end of file in .*bad_h\\.dat while reading its header"},
        {"card cut", DatBuilder().i32(3000).raw("\x01\x02").bytes(),
         "Unexpected end of file in .*bad_h\\.dat while reading its header"},
        {"negative node count", DatBuilder().i32(3000).card(170, -5).card(180, 3).end().bytes(),
         "Negative number of nodes in the header of .*bad_h\\.dat"},
        {"negative cell count", DatBuilder().i32(3000).card(170, 5).card(180, -1).end().bytes(),
         "Negative number of cells in the header of .*bad_h\\.dat"},
        {"flag size 2", DatBuilder().i32(3000).card(120, 2).bytes(),
         "Unsupported flag size 2 in .*bad_h\\.dat"},
        {"8-byte reals", DatBuilder().i32(3000).card(110, 8).bytes(),
         "Unsupported real size 8 in .*bad_h\\.dat"},
        {"time cut", header + DatBuilder().card(200).i8(1).raw(std::string(2, '\0')).bytes(),
         "Unexpected end of file in .*bad_h\\.dat while reading a time step"},
        {"flags cut", oneStep.substr(0, 92 + 4 + 5 + 1),
         "Unexpected end of file in .*bad_h\\.dat while reading the time step at time 2\\.5"},
        {"values cut", oneStep.substr(0, oneStep.size() - 1),
         "Unexpected end of file in .*bad_h\\.dat while reading the time step at time 2\\.5"},
        {"vector pairs cut",
         DatBuilder().header(2, 0, true, "v").step(1.5f, {}, {1.0f, 2.0f}, {3.0f, 4.0f})
             .dropLast(4).bytes(),
         "Unexpected end of file in .*bad_h\\.dat while reading the time step at time 1\\.5"},
        {"card after the step cut", oneStep + "\xD2",
         "Unexpected end of file in .*bad_h\\.dat while reading the time step at time 2\\.5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.write("bad_h.dat", c.bytes);
        std::vector<std::string> lines;
        try {
            readAll(path);
        } catch (const kelvara::Error& e) {
            lines = e.lines();
        }
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0], "");
        EXPECT_TRUE(std::regex_search(lines[1], std::regex("^ERROR - " + c.message))) << lines[1];
    }
}

TEST(DatasetVectorMagnitude, SmallComponentsAreZero) {
    struct Case {
        float x, y, magnitude;
    };
    const Case cases[] = {
        {0.00001f, -0.00001f, 0.0f}, {3.0f, 4.0f, 5.0f},   {-3.0f, -4.0f, 5.0f},
        {0.0f, 0.0f, 0.0f},          {2e-5f, 0.0f, 2e-5f}, {0.0f, -1.0f, 1.0f},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kelvara::VECTOR_MAGNITUDE(c.x, c.y), c.magnitude) << c.x << ", " << c.y;
    }
}

TEST_F(DatasetFormat, BytesLeftFollowThePosition) {
    const std::string bytes = DatBuilder().header(2, 3, false, "left")
                                  .step(1.0f, {1, 1, 1}, {1.0f, 2.0f}).end().bytes();
    const std::string path = dir.write("left.dat", bytes);
    kelvara::DatasetReader reader = kelvara::DatasetReader::open(path);
    EXPECT_EQ(reader.bytesLeft(), static_cast<std::int64_t>(bytes.size()));
    reader.readHeader();
    EXPECT_EQ(reader.bytesLeft(), static_cast<std::int64_t>(bytes.size()) - 96);
    // Asking does not move the reading position.
    std::vector<std::int8_t> active(3);
    std::vector<float> values(2);
    reader.nextStep({active.data(), values.data(), nullptr});
    EXPECT_EQ(values, (std::vector<float>{1.0f, 2.0f}));
    EXPECT_EQ(reader.card(), kelvara::kCardEnd);
    EXPECT_EQ(reader.bytesLeft(), 0);
}

}  // namespace

namespace {

// The reader on bytes in memory, as a program embedding it uses it: the same steps as from a
// file, its lines through the sink, flags deferred and read later, and a second reading after
// rewind.
TEST(DatasetReaderInMemory, StepsLinesDeferredFlagsAndRewind) {
    const std::string bytes = DatBuilder().header(2, 3, false, "mem")
                                  .step(1.0f, {1, 0, 1}, {1.0f, 2.0f})
                                  .stepWithoutFlags(2.0f, {3.0f, 4.0f})
                                  .step(3.0f, {0, 1, 1}, {5.0f, 6.0f})
                                  .end()
                                  .bytes();
    std::vector<std::string> lines;
    kelvara::DatasetReader reader(kelvara::memorySource(bytes.data(), bytes.size()), "mem.dat",
                                  [&lines](const std::string& line) { lines.push_back(line); });
    const DatasetHeader& header = reader.readHeader();
    EXPECT_EQ(header.nodeCount, 2);
    EXPECT_EQ(header.cellCount, 3);
    EXPECT_EQ(lines, (std::vector<std::string>{"", "Reading Header for: mem.dat",
                                               "Number Cells:           3",
                                               "Number Nodes:           2",
                                               "Data Description: mem"}));
    std::vector<std::int8_t> active(3, 9);
    std::vector<float> values(2);
    kelvara::StepRequest defer;
    defer.flags = kelvara::FlagReading::Defer;
    kelvara::StepRead step = reader.nextStep({active.data(), values.data(), nullptr}, defer);
    EXPECT_TRUE(step.hasFlags);
    EXPECT_EQ(active, (std::vector<std::int8_t>{9, 9, 9}));  // deferred, not read
    EXPECT_TRUE(reader.hasDeferredFlags());
    step = reader.nextStep({active.data(), values.data(), nullptr}, defer);
    EXPECT_FALSE(step.hasFlags);
    EXPECT_TRUE(reader.hasDeferredFlags());  // a step without flags keeps those before
    reader.readDeferredFlags(active.data());
    EXPECT_EQ(active, (std::vector<std::int8_t>{1, 0, 1}));
    EXPECT_FALSE(reader.hasDeferredFlags());
    EXPECT_EQ(values, (std::vector<float>{3.0f, 4.0f}));
    EXPECT_EQ(lines.back(), "Reading data for time 2.");

    reader.rewind();
    reader.readHeader();
    int steps = 0;
    while (reader.hasStep()) {
        step = reader.nextStep({active.data(), values.data(), nullptr});
        ++steps;
    }
    EXPECT_EQ(steps, 3);
    EXPECT_EQ(step.time, 3.0f);
    EXPECT_EQ(active, (std::vector<std::int8_t>{0, 1, 1}));
    EXPECT_EQ(reader.card(), kelvara::kCardEnd);

    // Cut inside the last step: the error names the reader's file.
    const std::string cut = bytes.substr(0, bytes.size() - 6);
    kelvara::DatasetReader short_(kelvara::memorySource(cut.data(), cut.size()), "cut.dat");
    short_.readHeader();
    try {
        while (short_.hasStep()) short_.nextStep({active.data(), values.data(), nullptr});
        ADD_FAILURE() << "no error";
    } catch (const kelvara::Error& e) {
        EXPECT_EQ(e.lines(), (std::vector<std::string>{
                                 "", "ERROR - Unexpected end of file in cut.dat while reading "
                                     "the time step at time 3.."}));
    }
}

}  // namespace
