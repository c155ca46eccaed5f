// Times the calculator alone, in memory:
//   bench_calc [--nodes N] [--steps S] [--repeats R]
// Makes one step of depths (a third of the nodes dry) and speeds (untimed), then evaluates
// dv2 over it S times: the ready-made quantity (its own loop) and the same formula written out,
// "d*v^2" (through muParser's bulk mode), each on one thread and over every core. Prints the
// nanoseconds per node, of the clock and of the processor time of every thread (median of R
// runs; on a busy machine the second tells whether the work was shared out or waited).
// KELVARA_THREADS sets the number of threads.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "calc/calc.h"
#include "fileio/error.h"
#include "fileio/workers.h"

namespace {

double now() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double>(since).count();
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

}  // namespace

int main(int argc, char** argv) {
    std::size_t nodes = 1000000;
    int steps = 10, repeats = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--nodes") == 0) nodes = std::strtoull(argv[i + 1], nullptr, 10);
        else if (std::strcmp(argv[i], "--steps") == 0) steps = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--repeats") == 0) repeats = std::atoi(argv[i + 1]);
    }
    using namespace kelvara;
    if (!calc::available()) {
        std::printf("this build has no calculator (no muParser)\n");
        return 1;
    }
    std::vector<float> depth(nodes), speed(nodes), out(nodes);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
    for (std::size_t i = 0; i < nodes; ++i) {
        depth[i] = uniform(random) < 0.33f ? 0.0f : 3.0f * uniform(random);
        speed[i] = depth[i] > 0.0f ? 2.5f * uniform(random) : 0.0f;
    }
    calc::Inputs inputs;
    inputs[calc::Input::Depth] = depth.data();
    inputs[calc::Input::Speed] = speed.data();

    std::printf("calculator: %zu nodes x %d steps, %zu threads, median of %d\n", nodes, steps,
                partCount(), repeats);
    std::printf("%-34s %12s %12s\n", "what", "ns per node", "cpu ns");
    for (const char* text : {"dv2", "d*v^2"}) {
        const calc::Expression expression(text);
        const std::string name = std::string(text) +
                                 (expression.readyMade().empty() ? " (muParser)" : " (own loop)");
        std::vector<double> single, cores, singleCpu, coresCpu;
        for (int r = 0; r < repeats; ++r) {
            calc::Evaluator evaluator(expression);
            double start = now(), startCpu = cpuNow();
            for (int s = 0; s < steps; ++s) {
                inputs.hours = static_cast<float>(s);
                evaluator.evaluate(inputs, nodes, out.data());
            }
            single.push_back(now() - start);
            singleCpu.push_back(cpuNow() - startCpu);
            calc::StepCalculator calculator(expression);
            start = now();
            startCpu = cpuNow();
            for (int s = 0; s < steps; ++s) {
                inputs.hours = static_cast<float>(s);
                calculator.evaluate(inputs, nodes, out.data());
            }
            cores.push_back(now() - start);
            coresCpu.push_back(cpuNow() - startCpu);
        }
        const double perNode = 1e9 / (static_cast<double>(nodes) * steps);
        std::printf("%-34s %12.2f %12.2f\n", (name + ", one thread").c_str(),
                    median(single) * perNode, median(singleCpu) * perNode);
        std::printf("%-34s %12.2f %12.2f\n", (name + ", every core").c_str(),
                    median(cores) * perNode, median(coresCpu) * perNode);
    }
    return 0;
}
