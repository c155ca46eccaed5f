// Times the arithmetic of the arrival and hazard maps alone, in memory, on the benchmark valley:
//   bench_maps [--nodes N] [--steps S] [--repeats R]
// Builds the "base" run's depth, speed and cell flags step by step (untimed) and feeds them to
// the two maps, timing only the maps' work; prints the total over the steps (median of R runs)
// for the arrival map given the depths in its own table (as the tool reads a step into it) and
// in another, and for the hazard map. KELVARA_THREADS sets the number of threads.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "bench_case.h"
#include "fileio/workers.h"
#include "maps/arrival.h"
#include "maps/hazard.h"

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double cpuNow() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// One hourly step of the base run, as generate_bench makes it (to the millimetre).
struct StepMaker {
    const bench_case::Valley& valley;
    std::vector<float> depth, speed;
    std::vector<std::int8_t> nodeWet, cellWet;

    explicit StepMaker(const bench_case::Valley& v)
        : valley(v),
          depth(static_cast<std::size_t>(v.nodeCount())),
          speed(depth.size()),
          nodeWet(depth.size()),
          cellWet(static_cast<std::size_t>(v.cellCount())) {}

    void make(int hour) {
        using namespace bench_case;
        const Scenario& s = scenarios()[0];
        const std::size_t rows = static_cast<std::size_t>(valley.rows);
        for (std::size_t i = 0; i < static_cast<std::size_t>(valley.columns); ++i) {
            const double x = static_cast<double>(i) * valley.dx;
            const double tau = hour - x / kWaveSpeed;
            const double rise = (s.riseUpstream + (s.riseDownstream - s.riseUpstream) * x / kLength) *
                                waveShape(tau, s.peakHour);
            const std::int64_t level = toMm(30.0 - kBedSlope * x - 2.5 + 1.2 + rise);
            for (std::size_t k = i * rows; k < (i + 1) * rows; ++k) {
                const std::int64_t dp = std::max<std::int64_t>(level - valley.groundMm[k], 0);
                const double metres = static_cast<double>(dp) / 1000.0;
                depth[k] = mmToFloat(dp);
                speed[k] = dp > kWetDepthMm
                               ? mmToFloat(toMm(std::cbrt(metres * metres) * valley.speedFactor[k]))
                               : 0.0f;
                nodeWet[k] = dp > kWetDepthMm;
            }
        }
        const std::int8_t* wet = nodeWet.data() - 1;
        for (std::size_t c = 0; c < cellWet.size(); ++c) {
            const auto& k = valley.cells[c];
            cellWet[c] = static_cast<std::int8_t>(wet[k[0]] & wet[k[1]] & wet[k[2]] & (k[3] == 0 ? 1 : wet[k[3]]));
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::int64_t nodes = 1000000;
    int steps = 100, repeats = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--nodes") nodes = std::atoll(argv[i + 1]);
        else if (a == "--steps") steps = std::atoi(argv[i + 1]);
        else if (a == "--repeats") repeats = std::max(1, std::atoi(argv[i + 1]));
    }
    const bench_case::Valley valley = bench_case::buildValley(nodes);
    const std::size_t n = static_cast<std::size_t>(valley.nodeCount());
    const std::size_t cells = static_cast<std::size_t>(valley.cellCount());
    StepMaker maker(valley);

    std::vector<double> arrivalOwn, arrivalOther, hazard, cpuOwn, cpuOther, cpuHazard;
    std::size_t warnings = 0;
    for (int r = 0; r < repeats; ++r) {
        kelvara::ArrivalMap own(n, cells, 0.1f), other(n, cells, 0.1f);
        kelvara::HazardMap map(n, cells, kelvara::kDefaultDebrisFactor);
        double tOwn = 0.0, tOther = 0.0, tHazard = 0.0, cOwn = 0.0, cOther = 0.0, cHazard = 0.0;
        for (int h = 0; h < steps; ++h) {
            maker.make(h);
            const float time = static_cast<float>(h);
            std::copy(maker.depth.begin(), maker.depth.end(), own.stepBuffer());  // the read
            const double t0 = now(), c0 = cpuNow();
            warnings += !own.addStep(time, own.stepBuffer(), maker.cellWet.data()).empty();
            const double t1 = now(), c1 = cpuNow();
            warnings += !other.addStep(time, maker.depth.data(), maker.cellWet.data()).empty();
            const double t2 = now(), c2 = cpuNow();
            map.addStep(maker.depth.data(), maker.speed.data(), maker.cellWet.data(), maker.cellWet.data());
            const double t3 = now(), c3 = cpuNow();
            tOwn += t1 - t0;
            tOther += t2 - t1;
            tHazard += t3 - t2;
            cOwn += c1 - c0;
            cOther += c2 - c1;
            cHazard += c3 - c2;
        }
        arrivalOwn.push_back(tOwn);
        arrivalOther.push_back(tOther);
        hazard.push_back(tHazard);
        cpuOwn.push_back(cOwn);
        cpuOther.push_back(cOther);
        cpuHazard.push_back(cHazard);
        if (r == 0) {
            std::size_t arrived = 0, hazardous = 0;
            for (std::size_t i = 0; i < n; ++i) {
                arrived += !std::isnan(own.arrival()[i]);
                hazardous += map.hazardClasses()[i] >= 3.0f;
            }
            std::printf("%zu nodes, %zu cells, %d steps, %zu threads: %zu nodes reach 0.1, %zu reach H3 or above\n",
                        n, cells, steps, kelvara::partCount(), arrived, hazardous);
        }
    }
    std::printf("medians of %d runs, wall clock and processor time (all threads):\n", repeats);
    std::printf("arrival map, step read into its table:  %.3f s  cpu %.3f s\n", median(arrivalOwn),
                median(cpuOwn));
    std::printf("arrival map, step in another table:     %.3f s  cpu %.3f s\n", median(arrivalOther),
                median(cpuOther));
    std::printf("hazard map:                             %.3f s  cpu %.3f s\n", median(hazard),
                median(cpuHazard));
    return warnings == 0 ? 0 : 1;
}
