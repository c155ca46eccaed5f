// Times the mesh reader alone: bench_mesh <mesh.2dm> <nodes> <cells> <repeats>
// Reads the mesh repeats times through the tool's own open protocol and reader and prints
// "seconds <median> cpu <median>" (wall clock and processor time) on standard error; standard
// output carries the reader's console lines.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "fileio/units.h"
#include "formats/mesh.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: bench_mesh <mesh.2dm> <nodes> <cells> <repeats>\n");
        return 2;
    }
    const std::int32_t nodes = std::atoi(argv[2]);
    const std::int32_t cells = std::atoi(argv[3]);
    const int repeats = std::max(1, std::atoi(argv[4]));
    std::vector<float> elevation(static_cast<std::size_t>(nodes));
    std::vector<std::int32_t> corners[4];
    for (auto& c : corners) c.assign(static_cast<std::size_t>(cells), 0);

    kelvara::INITFILEUNITS();
    std::vector<double> seconds, cpuSeconds;
    for (int r = 0; r < repeats; ++r) {
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpuStart = std::clock();
        const int unit = kelvara::OPENFILEUNIT("I ", argv[1]);
        kelvara::READ_2DM_ELEVATIONS(unit, elevation.data(), nodes, corners[0].data(),
                                     corners[1].data(), corners[2].data(), corners[3].data(),
                                     cells);
        kelvara::CLOSEFILEUNIT(unit);
        seconds.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        cpuSeconds.push_back(static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC);
    }
    std::sort(seconds.begin(), seconds.end());
    std::sort(cpuSeconds.begin(), cpuSeconds.end());
    std::fflush(stdout);
    std::fprintf(stderr, "seconds %.6f cpu %.6f\n", seconds[seconds.size() / 2],
                 cpuSeconds[cpuSeconds.size() / 2]);
    return 0;
}
