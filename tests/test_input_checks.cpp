// Inputs checked before they are trusted, through the real tool: the quantities that the names
// tell against what the operation needs, files read beside the inputs that are missing, times
// that are not numbers, -t for the operations that measure over the event, and cell flags other
// than 0 and 1.
#include "../examples/flood_case.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "grid/grid.h"
#include "support/dat_builder.h"
#include "support/tempdir.h"
#include "support/tool_runner.h"

namespace kelvara::test {
namespace {

std::vector<std::string> withBatch(std::vector<std::string> args) {
    args.insert(args.begin(), "-b");
    return args;
}

// Runs the tool in a copy of the example case; returns the run and the files it added.
struct CaseRun {
    ToolResult result;
    std::vector<std::string> added;
};

CaseRun runOnExample(const TempDir& dir, const std::vector<std::string>& args) {
    const std::vector<std::string> before = listFolder(dir.path());
    CaseRun run;
    run.result = runTool(withBatch(args), "", dir.path());
    for (const std::string& name : listFolder(dir.path()))
        if (std::find(before.begin(), before.end(), name) == before.end()) run.added.push_back(name);
    return run;
}

TEST(InputKinds, AnInputOfAnotherQuantityEndsTheRunNamingBothFilesAndTheirQuantities) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::string hazard = "ERROR - -hazard takes a run's depths (_d) first, then its "
                               "velocities (_V): ";
    const std::vector<Case> cases = {
        {{"-hazard", "base_h.dat"},
         hazard + "base_h.dat holds water levels (_h), base_V.dat velocities (_V)."},
        {{"-hazard", "base_d.dat", "base_h.dat"},
         hazard + "base_d.dat holds depths (_d), base_h.dat water levels (_h)."},
        {{"-hazard", "base_V.dat", "base_d.dat"},
         hazard + "base_V.dat holds velocities (_V), base_d.dat depths (_d)."},
        {{"-hazard", "base_V.dat"},
         "ERROR - base_V.dat holds velocities (_V): -hazard takes the depths first (base_d.dat), "
         "then the velocities"},
        {{"-max", "base_d.dat", "base_h.dat"},
         "ERROR - base_d.dat holds depths (_d) but base_h.dat holds water levels (_h): -max takes "
         "inputs of one quantity."},
        {{"-max", "base_h.dat", "design_h.dat", "design_d(maxmax).dat"},
         "ERROR - base_h.dat holds water levels (_h) but design_d(maxmax).dat holds depths (_d)"},
        {{"-dif", "base_d.dat", "design_h.dat"},
         "ERROR - base_d.dat holds depths (_d) but design_h.dat holds water levels (_h): -dif"},
        {{"-ddur0.1", "-t12", "base_h.dat", "design_d.dat"},
         "ERROR - base_h.dat holds water levels (_h) but design_d.dat holds depths (_d): -ddur"},
        {{"-con", "base_V.dat", "design_d.dat"},
         "ERROR - base_V.dat holds velocities (_V) but design_d.dat holds depths (_d): -con"},
    };
    TempDir dir;
    flood_example::writeFloodCase(dir.path());
    dir.write("design_d(maxmax).dat", readFile(dir.file("design_d.dat")));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        const CaseRun run = runOnExample(dir, c.args);
        EXPECT_EQ(run.result.status, 1) << run.result.output;
        EXPECT_TRUE(contains(run.result.output, c.message)) << run.result.output;
        EXPECT_FALSE(contains(run.result.output, "already open")) << run.result.output;
        EXPECT_EQ(run.added, std::vector<std::string>{});
    }
}

TEST(InputKinds, NamesOfNoKnownQuantityAndOutputsOfTheSameOneAreTaken) {
    struct Case {
        std::vector<std::string> args;
        std::string output;
        std::vector<std::string> lines;   // console texts expected
        std::vector<std::string> absent;  // console texts that must not appear
    };
    const std::string mixed = "WARNING - design_V.dat is not of the run of base_d.dat (stems "
                              "\"design\" and \"base\"): the depths of one run are measured with "
                              "the velocities of another.";
    const std::vector<Case> cases = {
        {{"-max", "levels.dat", "base_h.dat"}, "levels(maxmax).dat",
         {"WARNING - Could not identify data type"}, {}},
        {{"-max", "base_d.dat", "design_d(maxmax).dat"}, "base_d(maxmax).dat", {}, {}},
        {{"-hazard", "base_d.dat", "design_V.dat"}, "base_d(hazard).dat", {mixed}, {}},
        {{"-hazard", "base_d.dat", "base_V.dat"}, "base_d(hazard).dat", {}, {"is not of the run"}},
        {{"-hazard", "base_d.dat"}, "base_d(hazard).dat", {}, {"is not of the run"}},
        {{"-hazard", "base_d.dat", "speed.dat"}, "base_d(hazard).dat", {"is not of the run"}, {}},
        {{"-dur0.3", "base_h.dat"}, "base_h(dur0.3).dat", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        TempDir dir;
        flood_example::writeFloodCase(dir.path());
        dir.write("design_d(maxmax).dat", readFile(dir.file("design_d.dat")));
        dir.write("levels.dat", readFile(dir.file("design_h.dat")));
        dir.write("speed.dat", readFile(dir.file("base_V.dat")));
        const CaseRun run = runOnExample(dir, c.args);
        EXPECT_EQ(run.result.status, 0) << run.result.output;
        EXPECT_EQ(run.added, std::vector<std::string>{c.output});
        for (const std::string& line : c.lines)
            EXPECT_TRUE(contains(run.result.output, line)) << line << "\n" << run.result.output;
        for (const std::string& text : c.absent)
            EXPECT_FALSE(contains(run.result.output, text)) << text << "\n" << run.result.output;
    }
}

// The peaks of two runs compared: their levels have no step at 111111, so the wet/dry test
// cannot be made; -nowetdry gives the real differences.
TEST(ExampleDifference, PeaksOfTwoRunsNeedNoWetDryAndDifferForReal) {
    TempDir dir;
    flood_example::writeFloodCase(dir.path());
    ASSERT_EQ(runOnExample(dir, {"-max", "base_d.dat"}).result.status, 0);
    ASSERT_EQ(runOnExample(dir, {"-max", "design_d.dat"}).result.status, 0);
    const std::vector<std::string> peaks = {"base_d(maxmax).dat", "design_d(maxmax).dat"};
    std::vector<std::string> args = {"-dif"};
    args.insert(args.end(), peaks.begin(), peaks.end());

    const CaseRun refused = runOnExample(dir, args);
    EXPECT_EQ(refused.result.status, 1) << refused.result.output;
    EXPECT_TRUE(contains(refused.result.output,
                         "ERROR - base_h.dat has no time step at 111111.000: the wet/dry test of "
                         "-dif cannot be made"))
        << refused.result.output;
    EXPECT_TRUE(contains(refused.result.output, "-nowetdry")) << refused.result.output;
    EXPECT_EQ(refused.added, std::vector<std::string>{});

    args.insert(args.begin() + 1, "-nowetdry");
    const CaseRun plain = runOnExample(dir, args);
    ASSERT_EQ(plain.result.status, 0) << plain.result.output;
    const WrittenDat out =
        parseWrittenDat(readFile(dir.file("base_d(maxmax) - design_d(maxmax).dat")));
    ASSERT_EQ(out.error, "");
    ASSERT_EQ(out.steps.size(), 2u);
    EXPECT_EQ(out.steps[0].time, 111111.0f);
    const auto& d = out.steps[0].values1;
    EXPECT_NEAR(*std::min_element(d.begin(), d.end()), -0.70f, 0.005f);
    EXPECT_NEAR(*std::max_element(d.begin(), d.end()), 0.66f, 0.005f);
}

// Two nodes, one cell, hourly steps 0 to 3: node 0 rises to its peak at 3 h; node 1 is wet only
// from 2 h. Velocities beside them.
std::string risingDepths(int lastHour) {
    DatBuilder b;
    b.header(2, 1, false, "depth");
    const float depth0[] = {0.0f, 0.4f, 0.8f, 1.2f};
    const float depth1[] = {0.0f, 0.0f, 0.5f, 0.9f};
    for (int h = 0; h <= lastHour; ++h)
        b.step(static_cast<float>(h), {1}, {depth0[h], depth1[h]});
    b.step(99999.0f, {1}, {1.2f, 0.9f});
    return b.end().bytes();
}

std::string steadyVelocities() {
    DatBuilder b;
    b.header(2, 1, true, "velocity");
    for (int h = 0; h <= 3; ++h)
        b.step(static_cast<float>(h), {1}, {1.0f + static_cast<float>(h), 0.5f}, {0.0f, 0.0f});
    return b.end().bytes();
}

// -t with an operation that measures over the event: the steps up to that time, exactly as a
// file that ends there.
TEST(MeasuringUpToATime, StepsAfterTheTimeAreNotUsed) {
    struct Case {
        std::vector<std::string> args;  // before the input
        std::string output;
    };
    const std::vector<Case> cases = {
        {{"-dur0.3"}, "run_d(dur0.3).dat"},
        {{"-arrival0.3"}, "run_d(arrival0.3).dat"},
        {{"-hazard"}, "run_d(hazard).dat"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        auto run = [&](const std::string& depths, const std::vector<std::string>& more) {
            TempDir dir;
            dir.write("run_d.dat", depths);
            dir.write("run_V.dat", steadyVelocities());
            std::vector<std::string> args = withBatch(c.args);
            args.insert(args.end(), more.begin(), more.end());
            args.push_back("run_d.dat");
            const ToolResult r = runTool(args, "", dir.path());
            EXPECT_EQ(r.status, 0) << r.output;
            return readFile(dir.file(c.output));
        };
        const std::string untilTwo = run(risingDepths(3), {"-t2"});
        EXPECT_EQ(untilTwo, run(risingDepths(2), {}));
        EXPECT_NE(untilTwo, run(risingDepths(3), {}));
        // A time within 0.001 h of a step counts as at it; a time past the last step uses all.
        EXPECT_EQ(run(risingDepths(3), {"-t1.9995"}), untilTwo);
        EXPECT_EQ(run(risingDepths(3), {"-t50"}), run(risingDepths(3), {}));

        TempDir dir;
        dir.write("run_d.dat", risingDepths(3));
        dir.write("run_V.dat", steadyVelocities());
        std::vector<std::string> early = withBatch(c.args);
        early.insert(early.end(), {"-t-1", "run_d.dat"});
        const ToolResult r = runTool(early, "", dir.path());
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_TRUE(contains(r.output, "up to the -t time -1.000")) << r.output;
        EXPECT_FALSE(fileExists(dir.file(c.output)));
    }
}

TEST(MeasuringUpToATime, TheUsageTextSaysSo) {
    const ToolResult r = runTool({});
    EXPECT_TRUE(contains(r.output, "\"-t<time>\" with -dur, -arrival or -hazard uses only the "
                                   "steps up to that time"))
        << r.output;
}

// A step whose time is not a number, in every operation: an error naming the file and where
// the step begins, and no output.
TEST(DamagedTimes, AStepWhoseTimeIsNotANumberEndsEveryOperation) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    DatBuilder b;
    b.header(2, 1, false, "depth").step(0.0f, {1}, {0.0f, 0.0f}).step(1.0f, {1}, {0.5f, 0.5f});
    const std::size_t damagedAt = b.size();
    b.step(nan, {1}, {1.0f, 0.2f}).step(3.0f, {1}, {0.0f, 0.0f});
    const std::string damaged = b.end().bytes();
    DatBuilder good;
    good.header(2, 1, false, "depth");
    for (float t : {0.0f, 1.0f, 2.0f, 3.0f}) good.step(t, {1}, {0.5f, 0.5f});
    const std::string intact = good.end().bytes();
    DatBuilder speeds;
    speeds.header(2, 1, false, "speed");
    for (float t : {0.0f, 1.0f, 2.0f, 3.0f}) speeds.step(t, {1}, {1.0f, 1.0f});
    const std::string speedBytes = speeds.end().bytes();

    struct Case {
        std::vector<std::string> args;
        std::string damagedName;  // which input holds the step
    };
    const std::vector<Case> cases = {
        {{"-arrival0.3", "run_d.dat"}, "run_d.dat"},
        {{"-dur0.3", "run_d.dat"}, "run_d.dat"},
        {{"-max", "other_d.dat", "run_d.dat"}, "run_d.dat"},
        {{"-dif", "-nowetdry", "other_d.dat", "run_d.dat"}, "run_d.dat"},
        {{"-dif", "-nowetdry", "run_d.dat", "other_d.dat"}, "run_d.dat"},
        {{"-hazard", "run_d.dat"}, "run_d.dat"},
        {{"-ddur0.1", "-t3", "run_d.dat", "other_d.dat"}, "run_d.dat"},
        {{"-con", "other_d.dat", "run_d.dat"}, "run_d.dat"},
        {{"-k3", "run_d.dat"}, "run_d.dat"},
        {{"-r1", "run_d.dat"}, "run_d.dat"},
        {{"-trim1", "run_d.dat"}, "run_d.dat"},
        {{"-times", "run_d.dat"}, "run_d.dat"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        TempDir dir;
        dir.write("run_d.dat", damaged);
        dir.write("other_d.dat", intact);
        dir.write("run_V.dat", speedBytes);
        const std::vector<std::string> before = listFolder(dir.path());
        const ToolResult r = runTool(withBatch(c.args), "", dir.path());
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_TRUE(contains(r.output, "ERROR - " + c.damagedName +
                                           " is damaged: the time of the time step at byte " +
                                           std::to_string(damagedAt) + " is not a number."))
            << r.output;
        EXPECT_EQ(listFolder(dir.path()), before);
    }
}

// Cell flags other than 0 and 1, of one byte and of four: every flag but 0 is active. The
// operations that combine flags write 1 or 0; those that copy steps keep what they read.
TEST(CellFlags, AnyFlagButZeroIsActive) {
    struct Flags {
        int width;
        std::vector<std::int32_t> written;  // in the input, per cell
        std::vector<std::int8_t> copied;    // as the copying operations write them
    };
    const std::vector<Flags> inputs = {
        {1, {0, 1, 2, -1, 5}, {0, 1, 2, -1, 5}},
        {4, {0, 1, 2, 255, 256}, {0, 1, 2, -1, 1}},
    };
    const std::vector<std::int8_t> combined = {0, 1, 1, 1, 1};
    struct Case {
        std::vector<std::string> args;
        std::string output;
        bool copies;
    };
    const std::vector<Case> cases = {
        {{"-arrival0.1", "run_d.dat"}, "run_d(arrival0.1).dat", false},
        {{"-dur0.1", "run_d.dat"}, "run_d(dur0.1).dat", false},
        {{"-max", "run_d.dat", "other_d.dat"}, "run_d(maxmax).dat", false},
        {{"-hazard", "run_d.dat"}, "run_d(hazard).dat", false},
        {{"-dif", "-nowetdry", "run_d.dat", "other_d.dat", "out.dat"}, "out.dat", false},
        {{"-ddur0.1", "-t1", "run_d.dat", "other_d.dat", "out.dat"}, "out.dat", false},
        {{"-con", "run_d.dat", "other_d.dat"}, "run_d(con).dat", true},
        {{"-k1", "run_d.dat"}, "run_d(k1.).dat", true},
        {{"-r0", "run_d.dat"}, "run_d(r0.).dat", true},
        {{"-trim0.5", "run_d.dat"}, "run_d(trim0.5).dat", true},
        {{"-va", "run_V.dat"}, "run_V(va).dat", true},
    };
    for (const Flags& f : inputs) {
        auto dataset = [&](bool vector) {
            DatBuilder b;
            b.i32(3000).card(100, 3).card(110, 4).card(120, f.width).card(vector ? 140 : 130);
            b.card(170, 3).card(180, 5).name("flags").flagBytes(f.width);
            const std::vector<float> y = vector ? std::vector<float>{0.0f, 1.0f, 0.0f} : std::vector<float>{};
            for (float t : {0.0f, 1.0f}) {
                b.card(200);
                if (f.width == 4) {
                    b.i32(1).f32(t);
                    for (std::int32_t a : f.written) b.i32(a);
                } else {
                    b.i8(1).f32(t);
                    for (std::int32_t a : f.written) b.i8(static_cast<std::int8_t>(a));
                }
                for (std::size_t n = 0; n < 3; ++n) {
                    b.f32(0.5f + t);
                    if (vector) b.f32(y[n]);
                }
            }
            return b.end().bytes();
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(f.width) + "-byte flags, " + c.args[0]);
            TempDir dir;
            dir.write("run_d.dat", dataset(false));
            dir.write("other_d.dat", dataset(false));
            dir.write("run_V.dat", dataset(true));
            const ToolResult r = runTool(withBatch(c.args), "", dir.path());
            ASSERT_EQ(r.status, 0) << r.output;
            const WrittenDat out = parseWrittenDat(readFile(dir.file(c.output)));
            ASSERT_EQ(out.error, "");
            ASSERT_FALSE(out.steps.empty());
            for (const WrittenStep& step : out.steps)
                EXPECT_EQ(step.active, c.copies ? f.copied : combined) << "time " << step.time;
        }
    }
}

// A file that an operation reads beside its inputs and that is missing: the message says why
// the file is needed, by which rule its name was made, and how to supply it (the option that
// names it among the ways).
TEST(MissingCompanions, SayWhyTheFileIsNeededAndHowToSupplyIt) {
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> present;
        std::string error;  // the ERROR line's start
        std::string how;    // the line after it
    };
    const std::string withoutTest =
        ", or give -nowetdry for the plain difference without the wet/dry test.";
    const auto rule = [](const std::string& dataset, const std::string& ending) {
        return " there under that name (the name of " + dataset + " up to its last \"_\", then " +
               ending + ")";
    };
    const std::vector<Case> cases = {
        {{"-hazard", "run_d.dat"}, {"run_d.dat", "run.2dm"},
         "ERROR - run_V.dat cannot be found: -hazard measures the depths of run_d.dat with the "
         "velocities of the same run, looked for beside them.",
         "Put the run's velocity file" + rule("run_d.dat", "_V.dat") +
             ", or name it after the depths: kelvara -hazard run_d.dat velocities.dat"},
        {{"-dif", "run_d.dat", "other_d.dat"},
         {"run_d.dat", "other_d.dat", "run.2dm", "other.2dm", "other_h.dat"},
         "ERROR - run_h.dat cannot be found: -dif tests each node wet or dry by the water levels "
         "of the run of run_d.dat, looked for beside it.",
         "Put the run's water levels" + rule("run_d.dat", "_h.dat") + withoutTest},
        {{"-dif", "run_h.dat", "other_h.dat"}, {"run_h.dat", "other_h.dat", "run.2dm"},
         "ERROR - other.2dm cannot be found: -dif tests each node wet or dry against the ground "
         "elevations of the mesh of other_h.dat, looked for beside it.",
         "Put the run's mesh" + rule("other_h.dat", ".2dm") + ", or name it with --mesh" +
             withoutTest},
        {{"-max", "run_h.dat"}, {"run_h.dat"},
         "ERROR - run.2dm cannot be found: -max of water levels counts only the nodes of wet "
         "cells, which it takes from the mesh of run_h.dat, looked for beside it.",
         "Put the run's mesh" + rule("run_h.dat", ".2dm") + ", or name it with --mesh."},
        {{"-grid2", "run_d.dat"}, {"run_d.dat"},
         "ERROR - run.2dm cannot be found: -grid draws the values of run_d.dat on the mesh of its "
         "run, looked for beside it.",
         "Put the run's mesh" + rule("run_d.dat", ".2dm") + ", or name it with --mesh."},
    };
    const std::string mesh = "MESH2D\nE3T 1 1 2 3 1\nND 1 0 0 0\nND 2 1 0 0\nND 3 0 1 0\n";
    DatBuilder b;
    b.header(3, 1, false, "x").step(1.0f, {1}, {1.0f, 2.0f, 3.0f});
    const std::string data = b.end().bytes();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        // A build that cannot write grids refuses -grid before it looks for the mesh.
        if (c.args[0] == "-grid2" && !grid::available()) continue;
        TempDir dir;
        for (const std::string& name : c.present)
            dir.write(name, name.size() > 4 && name.substr(name.size() - 4) == ".2dm" ? mesh : data);
        const std::vector<std::string> before = listFolder(dir.path());
        ToolResult r = runTool(withBatch(c.args), "", dir.path());
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_TRUE(contains(r.output, "\n" + c.error + "\n" + c.how + "\n")) << r.output;
        EXPECT_FALSE(contains(r.output, "already open")) << r.output;
        EXPECT_EQ(listFolder(dir.path()), before);

        // Without -b the same words come before the question for another name.
        r = runTool(c.args, "", dir.path());
        EXPECT_EQ(r.status, 1) << r.output;
        const std::string said = c.error.substr(std::string("ERROR - ").size());
        const std::size_t at = r.output.find("\n" + said + "\n" + c.how + "\n");
        ASSERT_NE(at, std::string::npos) << r.output;
        EXPECT_NE(r.output.find("cannot be found", at + said.size()), std::string::npos) << r.output;
    }
}

}  // namespace
}  // namespace kelvara::test
