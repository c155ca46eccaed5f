// An ensemble from its files: which steps give a run's peak, water levels wet only, vectors by
// magnitude, runs that do not match the first; then the whole pass, in memory and through the
// work file, and the written dataset and legend.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "ensemble/ensemble.h"
#include "fileio/error.h"
#include "fileio/units.h"
#include "support/dat_builder.h"
#include "support/tempdir.h"

namespace kelvara {
namespace {

using test::DatBuilder;
using test::TempDir;

const float kNaN = std::numeric_limits<float>::quiet_NaN();

bool sameFloat(float a, float b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

std::string errorText(const Error& e) {
    std::string text;
    for (const auto& line : e.lines()) text += line + "\n";
    return text;
}

struct Step {
    float time;
    std::vector<std::int8_t> active;  // empty: a step without flags
    std::vector<float> x;
    std::vector<float> y;  // vectors only
};

std::string datBytes(const std::vector<Step>& steps, bool vector) {
    DatBuilder b;
    std::size_t cells = 0;
    for (const Step& s : steps) cells = std::max(cells, s.active.size());
    b.header(static_cast<std::int32_t>(steps.front().x.size()), static_cast<std::int32_t>(cells),
             vector, "run");
    for (const Step& s : steps) {
        if (s.active.empty()) {
            b.stepWithoutFlags(s.time, s.x, s.y);
        } else {
            b.step(s.time, s.active, s.x, s.y);
        }
    }
    return b.end().bytes();
}

// Triangle 1 (nodes 1 2 3) and quadrilateral 2 (1 2 4 3).
const std::string kTwoCellMesh =
    "MESH2D\nE3T 1 1 2 3 1\nE4Q 2 1 2 4 3 1\nND 1 0 0 0\nND 2 1 0 0\nND 3 0 1 0\nND 4 1 1 0\n";

class EnsembleFiles : public ::testing::Test {
protected:
    void SetUp() override { INITFILEUNITS(); }
};

struct PeakCase {
    const char* what;
    std::string name;  // its suffix gives the type
    bool vector;
    std::vector<Step> steps;
    std::vector<float> peak;
    std::vector<std::int8_t> activeAny;
    PeakSource source;
};

const std::vector<PeakCase> kPeakCases = {
    {"the model's maximum at 99999 alone, -99999 and below no value", "r_d.dat", false,
     {{0, {1, 1}, {5, 5, 5, 5}, {}},
      {1, {1, 1}, {9, 9, 9, 9}, {}},
      {99999, {1, 0}, {3, 4, -99999, -100000}, {}}},
     {3, 4, kNaN, kNaN}, {1, 0}, PeakSource::ModelMaximum},
    {"a maximum written by this tool: 111111, input number 0 for no value", "m_d.dat", false,
     {{111111, {0, 1}, {2, 0, 7, -1}, {}}, {222222, {0, 1}, {1, 0, 2, 1}, {}}},
     {2, kNaN, 7, -1}, {0, 1}, PeakSource::MaximumOutput},
    {"ordinary steps: the greatest; 99999.1 passed over; NaN never a value", "o_d.dat", false,
     {{0, {1, 0}, {1, -99999, kNaN, -5}, {}},
      {2, {0, 0}, {3, -99999, kNaN, -7}, {}},
      {99999.1f, {1, 1}, {100, 100, 100, 100}, {}}},
     {3, kNaN, kNaN, -5}, {1, 0}, PeakSource::OrdinarySteps},
    {"two maxima at 99999: the greater at each node", "t_d.dat", false,
     {{99999, {0, 1}, {1, 8, -99999, 2}, {}},
      {4, {1, 1}, {50, 50, 50, 50}, {}},
      {99999, {0, 0}, {3, 7, 5, -99999}, {}}},
     {3, 8, 5, 2}, {0, 1}, PeakSource::ModelMaximum},
    {"a step without flags takes those of the step before it, used or not", "f_d.dat", false,
     {{0, {1, 0}, {1, 1, 1, 1}, {}}, {99999, {}, {6, 5, 4, 3}, {}}},
     {6, 5, 4, 3}, {1, 0}, PeakSource::ModelMaximum},
    {"water levels count only at corners of wet cells", "w_h.dat", false,
     {{0, {1, 0}, {1, 1, 1, 9}, {}},
      {1, {0, 1}, {2, 0.5f, 3, 4}, {}},
      {2, {0, 0}, {10, 10, 10, 10}, {}}},
     {2, 1, 3, 4}, {1, 1}, PeakSource::OrdinarySteps},
    {"water levels at 99999: the flags of that step", "v_h.dat", false,
     {{0, {1, 1}, {5, 5, 5, 5}, {}}, {99999, {1, 0}, {2, 2, 2, 2}, {}}},
     {2, 2, 2, kNaN}, {1, 0}, PeakSource::ModelMaximum},
    {"vectors by magnitude, a zero vector is a value", "s_V.dat", true,
     {{0, {1, 1}, {3, 0, 0, 0}, {4, 0, 0, 0}}, {1, {1, 1}, {0, 1, 0, -6}, {1, 0, 0, 8}}},
     {5, 1, 0, 10}, {1, 1}, PeakSource::OrdinarySteps},
    {"vectors of a maximum: by magnitude, input number 0 no value", "x_V.dat", true,
     {{222222, {1, 1}, {1, 0, 1, 1}, {0, 0, 0, 0}}, {111111, {1, 1}, {3, 1, 0, 0}, {4, 1, 2, 0}}},
     {5, kNaN, 2, 0}, {1, 1}, PeakSource::MaximumOutput},
};

TEST_F(EnsembleFiles, PeakOfARun) {
    for (const PeakCase& c : kPeakCases) {
        TempDir dir;
        const std::string path = dir.write(c.name, datBytes(c.steps, c.vector));
        std::unique_ptr<WetNodes> wet;
        if (c.name.find("_h") != std::string::npos) {
            const std::string mesh = dir.write("mesh.2dm", kTwoCellMesh);
            wet = readWetNodesMesh(mesh, 4, 2, {});
        }
        const DatasetHeader first = readRunHeader(path);
        PeakReader reader(first, wet.get());
        std::vector<float> peak(first.nodeCount, 123.0f);
        std::vector<std::int8_t> active(first.cellCount, 0);
        const PeakSource source = reader.read(path, peak.data(), active.data(), {});
        EXPECT_EQ(source, c.source) << c.what;
        for (std::size_t n = 0; n < peak.size(); ++n)
            EXPECT_TRUE(sameFloat(peak[n], c.peak[n])) << c.what << ": node " << n + 1 << " " << peak[n];
        EXPECT_EQ(active, c.activeAny) << c.what;
    }
}

TEST_F(EnsembleFiles, ARunsPeakDoesNotDependOnTheRunsReadBefore) {
    // The reader reads a run like the one before it in one pass, and others in two: the scalar
    // cases of four nodes and two cells, read by one reader forwards, backwards and each twice.
    std::vector<const PeakCase*> cases;
    for (const PeakCase& c : kPeakCases)
        if (!c.vector && c.name.find("_d") != std::string::npos) cases.push_back(&c);
    ASSERT_GE(cases.size(), 4u);
    TempDir dir;
    std::vector<std::string> paths;
    for (const PeakCase* c : cases) paths.push_back(dir.write(c->name, datBytes(c->steps, false)));
    std::vector<std::size_t> forwards, backwards, twice;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        forwards.push_back(i);
        backwards.insert(backwards.begin(), i);
        twice.insert(twice.end(), {i, i});
    }
    for (const auto& order : {forwards, backwards, twice}) {
        PeakReader reader(readRunHeader(paths.front()), nullptr);
        for (std::size_t i : order) {
            const PeakCase& c = *cases[i];
            std::vector<float> peak(4, 123.0f);
            std::vector<std::int8_t> active(2, 0);
            EXPECT_EQ(reader.read(paths[i], peak.data(), active.data(), {}), c.source) << c.what;
            for (std::size_t n = 0; n < peak.size(); ++n)
                EXPECT_TRUE(sameFloat(peak[n], c.peak[n])) << c.what << ": node " << n + 1 << " " << peak[n];
            EXPECT_EQ(active, c.activeAny) << c.what;
        }
    }
}

TEST_F(EnsembleFiles, LargeRunsArePeakedPieceByPiece) {
    // Steps of more than a megabyte are worked on in pieces as they arrive, on several threads
    // where there are cores: every piece must be taken, the first step's and the later ones'.
    const std::size_t nodes = 700001;
    std::uint32_t state = 11;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    const struct {
        const char* name;
        bool vector;
        std::vector<float> times;
    } cases[] = {
        {"big_d.dat", false, {0, 1, 2}},
        {"bigmax_d.dat", false, {0, 99999, 1, 99999}},
        {"big_V.dat", true, {0, 1}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        std::vector<Step> steps;
        std::vector<float> expected(nodes, kNaN);
        for (float t : c.times) {
            Step s{t, {1}, std::vector<float>(nodes), {}};
            if (c.vector) s.y.resize(nodes);
            for (std::size_t n = 0; n < nodes; ++n) {
                s.x[n] = next() % 11 == 0 ? -99999.0f : static_cast<float>(next() % 1000) * 0.01f;
                if (c.vector) s.y[n] = static_cast<float>(next() % 1000) * 0.01f;
            }
            if (t == 99999.0f || c.times.back() != 99999.0f) {
                for (std::size_t n = 0; n < nodes; ++n) {
                    float v = c.vector ? std::sqrt(s.x[n] * s.x[n] + s.y[n] * s.y[n]) : s.x[n];
                    if (!c.vector && v <= -99998.0f) continue;
                    if (std::isnan(expected[n]) || v > expected[n]) expected[n] = v;
                }
            }
            steps.push_back(std::move(s));
        }
        const std::string path = dir.write(c.name, datBytes(steps, c.vector));
        PeakReader reader(readRunHeader(path), nullptr);
        std::vector<float> peak(nodes, 123.0f);
        std::vector<std::int8_t> active(1, 0);
        reader.read(path, peak.data(), active.data(), {});
        std::size_t wrong = 0;
        for (std::size_t n = 0; n < nodes; ++n) {
            // The magnitude as the tool computes it may differ from sqrt in the last bit.
            const bool same = c.vector ? std::fabs(peak[n] - expected[n]) <= 1e-6f * expected[n]
                                       : sameFloat(peak[n], expected[n]);
            if (!same && wrong++ < 5) ADD_FAILURE() << c.name << " node " << n << ": " << peak[n] << " " << expected[n];
        }
        EXPECT_EQ(wrong, 0u) << c.name;
    }
}

TEST_F(EnsembleFiles, RunsUnlikeTheFirstAreRefusedByName) {
    const Step scalarStep{0, {1}, {1, 2}, {}};
    const struct {
        const char* what;
        std::string second;
        std::string error;
    } cases[] = {
        {"another node count", datBytes({{0, {1}, {1, 2, 3}, {}}}, false), "has 3 nodes and 1 cells"},
        {"another cell count", datBytes({{0, {1, 1}, {1, 2}, {}}}, false), "has 2 nodes and 2 cells"},
        {"vectors among single values", datBytes({{0, {1}, {1, 2}, {0, 0}}}, true), "holds vectors"},
        {"no step to take a peak from", datBytes({{99999.1f, {1}, {1, 2}, {}}}, false),
         "has no step to take a peak from"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        dir.write("a_d.dat", datBytes({scalarStep}, false));
        dir.write("b_d.dat", datBytes({scalarStep}, false));
        const std::string second = dir.write("c_d.dat", c.second);
        EnsembleRequest request;
        request.runs = parseRunList("1h,a_d.dat\n1h,c_d.dat\n2h,b_d.dat\n", "s.csv", dir.path() + "/");
        request.outputPath = dir.file("s(ensemble).dat");
        request.peakBudget = 1;  // through the work file, which must not be left behind
        try {
            computeEnsemble(request);
            ADD_FAILURE() << c.what << ": no error";
        } catch (const Error& e) {
            EXPECT_NE(errorText(e).find("ERROR - " + second), std::string::npos) << c.what << "\n" << errorText(e);
            EXPECT_NE(errorText(e).find(c.error), std::string::npos) << c.what << "\n" << errorText(e);
        }
        EXPECT_EQ(test::listFolder(dir.path()), (std::vector<std::string>{"a_d.dat", "b_d.dat", "c_d.dat"}))
            << c.what;
    }
}

TEST_F(EnsembleFiles, WaterLevelsWithoutTheirMeshAreAnErrorNamingIt) {
    TempDir dir;
    dir.write("a_h.dat", datBytes({{0, {1}, {1, 2}, {}}}, false));
    dir.write("b_h.dat", datBytes({{0, {1}, {1, 2}, {}}}, false));
    EnsembleRequest request;
    request.runs = parseRunList("1h,a_h.dat\n1h,b_h.dat\n", "s.csv", dir.path() + "/");
    try {
        computeEnsemble(request);
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(errorText(e).find("ERROR - The mesh " + dir.file("a.2dm")), std::string::npos)
            << errorText(e);
    }
}

// Three durations of three patterns each, the peaks random with missing values.
struct Study {
    TempDir dir;
    std::string list;
    std::vector<std::vector<float>> peaks;  // per run in list order
    static constexpr std::size_t kNodes = 100;

    Study() {
        std::uint32_t state = 7;
        auto next = [&state] {
            state = state * 1664525u + 1013904223u;
            return state >> 8;
        };
        std::string text = "group,file\n";
        const char* groups[] = {"1h", "2h", "9h"};
        for (int g = 0; g < 3; ++g) {
            for (int p = 1; p <= 3; ++p) {
                const std::string name = std::string(groups[g]) + "_tp0" + std::to_string(p) + "_d.dat";
                std::vector<float> peak(kNodes), early(kNodes);
                for (std::size_t n = 0; n < kNodes; ++n) {
                    peak[n] = next() % 9 == 0 ? -99999.0f : static_cast<float>(next() % 40) * 0.125f;
                    early[n] = peak[n] > 0 ? peak[n] / 2 : peak[n];
                }
                dir.write(name, datBytes({{0, {1, 0}, early, {}}, {1, {0, 1}, peak, {}}}, false));
                for (float& v : peak) v = v < -99998 ? kNaN : v;
                peaks.push_back(peak);
                text += std::string(groups[g]) + "," + name + "\n";
            }
        }
        list = dir.write("study.csv", text);
    }
};

void expectSameTables(const std::vector<float>& a, const std::vector<float>& b, const char* what) {
    ASSERT_EQ(a.size(), b.size()) << what;
    for (std::size_t n = 0; n < a.size(); ++n)
        ASSERT_TRUE(sameFloat(a[n], b[n])) << what << " at node " << n << ": " << a[n] << " " << b[n];
}

TEST_F(EnsembleFiles, TheWorkFileGivesWhatMemoryGives) {
    Study study;
    EnsembleRequest request;
    request.runs = readRunList(study.list);
    request.percentiles = {10, 50, 90};
    request.perGroup = true;
    request.outputPath = defaultEnsembleOutputName(study.list);
    std::vector<std::string> lines;
    const EnsembleResult inMemory =
        computeEnsemble(request, [&](const std::string& l) { lines.push_back(l); });
    EXPECT_FALSE(inMemory.spilled);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], "[1/9] 1h/1h_tp01_d.dat");
    EXPECT_EQ(lines[8], "[9/9] 9h/9h_tp03_d.dat");

    // 400 bytes a run: all runs through the work file; 3 runs in memory and 6 through it, in
    // blocks of 16 nodes; 7 in memory and 2 in blocks of 48; all in memory.
    const struct {
        std::size_t budget;
        bool spilled;
    } budgets[] = {{1, true}, {9 * 4 * 40, true}, {3200, true}, {9 * 400, false}};
    for (const auto& b : budgets) {
        request.peakBudget = b.budget;
        const EnsembleResult spilled = computeEnsemble(request);
        EXPECT_EQ(spilled.spilled, b.spilled) << b.budget;
        expectSameTables(spilled.envelope, inMemory.envelope, "envelope");
        expectSameTables(spilled.criticalGroup, inMemory.criticalGroup, "critical group");
        expectSameTables(spilled.representativeRun, inMemory.representativeRun, "representative");
        for (std::size_t k = 0; k < 3; ++k)
            expectSameTables(spilled.percentileValues[k], inMemory.percentileValues[k], "percentile");
        for (std::size_t g = 0; g < 3; ++g)
            expectSameTables(spilled.groupStatistics[g], inMemory.groupStatistics[g], "group");
        EXPECT_EQ(test::listFolder(study.dir.path()).size(), 10u) << "the work file is left behind";
    }

    // The group medians from the peaks written (the second step of each run).
    for (std::size_t n = 0; n < Study::kNodes; ++n) {
        for (std::size_t g = 0; g < 3; ++g) {
            std::vector<float> v;
            for (std::size_t p = 0; p < 3; ++p)
                if (!std::isnan(study.peaks[g * 3 + p][n])) v.push_back(study.peaks[g * 3 + p][n]);
            std::sort(v.begin(), v.end());
            const float median = v.empty() ? kNaN
                                 : v.size() % 2 ? v[v.size() / 2]
                                                : (v[0] + v[1]) / 2.0f;
            ASSERT_TRUE(sameFloat(inMemory.groupStatistics[g][n], median)) << "node " << n << " group " << g;
        }
    }
    EXPECT_EQ(inMemory.active, (std::vector<std::int8_t>{1, 1}));
}

TEST_F(EnsembleFiles, WritesTheStepsAndTheLegend) {
    Study study;
    EnsembleRequest request;
    request.runs = readRunList(study.list);
    request.statistic = Statistic::Mean;
    request.percentiles = {50, 95};
    request.perGroup = true;
    const std::string output = defaultEnsembleOutputName(study.list);
    request.outputPath = output;
    const EnsembleResult result = computeEnsemble(request);
    writeEnsembleOutputs(result, output);

    const test::WrittenDat dat = test::parseWrittenDat(test::readFile(output));
    ASSERT_EQ(dat.error, "");
    EXPECT_EQ(dat.nodeCount, 100);
    EXPECT_FALSE(dat.isVector);
    const std::vector<float> times = {120001, 120002, 120003, 120011, 120012, 120101, 120102, 120103};
    ASSERT_EQ(dat.steps.size(), times.size());
    const std::vector<const std::vector<float>*> tables = {
        &result.envelope,          &result.criticalGroup,      &result.representativeRun,
        &result.percentileValues[0], &result.percentileValues[1], &result.groupStatistics[0],
        &result.groupStatistics[1], &result.groupStatistics[2]};
    for (std::size_t s = 0; s < times.size(); ++s) {
        EXPECT_EQ(dat.steps[s].time, times[s]);
        expectSameTables(dat.steps[s].values1, *tables[s], "written step");
        EXPECT_EQ(dat.steps[s].active, (std::vector<std::int8_t>{1, 1}));
    }

    const std::string legend = test::readText(study.dir.file("study(ensemble).csv"));
    for (const char* line : {"number,kind,name,group\n", "120001,step,envelope: greatest group mean,\n",
                             "120012,step,percentile 95 of all runs,\n",
                             "120103,step,mean of group 9h,9h\n", "\n3,group,9h,9h\n"}) {
        EXPECT_NE(legend.find(line), std::string::npos) << line << "\n" << legend;
    }
    EXPECT_NE(legend.find("\n8,run," + study.dir.file("9h_tp02_d.dat") + ",9h\n"), std::string::npos)
        << legend;
    EXPECT_EQ(test::listFolder(study.dir.path()).size(), 12u);

    // An output that would replace an input is refused before anything is written.
    try {
        writeEnsembleOutputs(result, study.dir.file("1h_tp01_d.dat"));
        ADD_FAILURE() << "an input replaced";
    } catch (const Error& e) {
        EXPECT_NE(errorText(e).find("would replace the input"), std::string::npos);
    }
    // A folder that does not exist: nothing is left anywhere.
    EXPECT_THROW(writeEnsembleOutputs(result, study.dir.file("none/out.dat")), Error);
    EXPECT_EQ(test::listFolder(study.dir.path()).size(), 12u);
}

}  // namespace
}  // namespace kelvara
