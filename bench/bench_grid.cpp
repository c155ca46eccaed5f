// Times the grid writer: bench_grid <mesh.2dm> <dataset.dat> <cell size> <output.tif> [time|all]
// Reads the mesh with its coordinates, then draws the dataset's step at time (default: its last
// step), or every step with "all" (one band each), on a grid of the given cell size and writes
// the GeoTIFF. Prints on standard error the seconds of each part, the processor time and the
// peak resident memory; standard output carries the readers' console lines.
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "fileio/units.h"
#include "fileio/error.h"
#include "formats/dataset_io.h"
#include "formats/mesh.h"
#include "grid/grid.h"

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Passes over the steps of a dataset: each(time, read) for every step, read telling whether
// its values were read (wanted(time)).
struct Dataset {
    kelvara::DatasetHeader header;
    std::vector<std::int8_t> active;
    std::vector<float> v1, v2;

    void pass(const char* path, const std::function<bool(float)>& wanted,
              const std::function<void(float)>& each) {
        kelvara::DatasetReader reader = kelvara::DatasetReader::open(path);
        header = reader.readHeader();
        const auto nodes = static_cast<std::size_t>(header.nodeCount);
        active.assign(static_cast<std::size_t>(header.cellCount), 1);
        v1.resize(nodes);
        v2.resize(header.isVector ? nodes : 0);
        kelvara::StepRequest request;
        request.wanted = &wanted;
        while (reader.hasStep()) {
            const kelvara::StepRead read = reader.nextStep(
                {active.data(), v1.data(), header.isVector ? v2.data() : nullptr}, request);
            if (read.valuesRead) each(read.time);
        }
    }
};

int run(int argc, char** argv) {
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: bench_grid <mesh.2dm> <dataset.dat> <cell size> "
                             "<output.tif> [time|all]\n");
        return 2;
    }
    const double cellSize = std::atof(argv[3]);
    const bool all = argc == 6 && std::strcmp(argv[5], "all") == 0;
    const bool last = argc == 5;
    const float wantedTime = argc == 6 && !all ? static_cast<float>(std::atof(argv[5])) : 0.0f;
    auto wanted = [&](float t) { return all || last || std::fabs(t - wantedTime) < 0.001f; };
    // The steps to write, counted first (their values passed over).
    auto start = Clock::now();
    Dataset data;
    int bands = 0;
    float lastTime = 0.0f;
    data.pass(argv[2], [](float) { return false; }, [](float) {});
    data.pass(argv[2], [&](float t) {
        if (wanted(t)) {
            ++bands;
            lastTime = t;
        }
        return false;
    }, [](float) {});
    if (last) bands = bands > 0 ? 1 : 0;
    const double countSeconds = since(start);
    if (bands == 0) {
        std::fprintf(stderr, "no step to write\n");
        return 1;
    }

    start = Clock::now();
    const int unit = kelvara::OPENFILEUNIT("I ", argv[1]);
    kelvara::MeshGeometry mesh;
    kelvara::READ_2DM_GEOMETRY(unit, data.header.nodeCount, data.header.cellCount, mesh);
    kelvara::CLOSEFILEUNIT(unit);
    const double meshSeconds = since(start);

    std::vector<std::string> warnings;
    try {
        start = Clock::now();
        kelvara::grid::GridWriter writer(mesh, {argv[1], "", argv[4], cellSize},
                                         data.header.nodeCount, data.header.cellCount,
                                         data.header.isVector, bands, warnings);
        const double setUp = since(start);
        double drawing = 0.0;
        data.pass(argv[2], [&](float t) { return last ? t == lastTime : wanted(t); },
                  [&](float time) {
                      const auto bandStart = Clock::now();
                      writer.addBand(time, data.active.data(), data.v1.data(),
                                     data.header.isVector ? data.v2.data() : nullptr);
                      drawing += since(bandStart);
                  });
        const auto finishStart = Clock::now();
        writer.finish();
        drawing += since(finishStart);
        std::fflush(stdout);
        struct rusage usage {};
        getrusage(RUSAGE_SELF, &usage);
        const double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 +
                           usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
        std::fprintf(stderr,
                     "grid %lld x %lld = %.1f million cells, %d band(s)\n"
                     "seconds: counting steps %.3f, mesh %.3f, grid set-up %.3f, bands and file "
                     "%.3f, grid total %.3f; processor time of the whole run %.3f\n"
                     "peak memory %.0f MiB\n",
                     static_cast<long long>(writer.columns()),
                     static_cast<long long>(writer.rows()),
                     writer.columns() * static_cast<double>(writer.rows()) / 1e6, bands,
                     countSeconds, meshSeconds, setUp, drawing, setUp + drawing, cpu,
                     usage.ru_maxrss / 1024.0);
    } catch (const kelvara::grid::GridError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    kelvara::INITFILEUNITS();
    kelvara::ErrorScope errors;
    try {
        return run(argc, argv);
    } catch (const kelvara::Error& e) {
        for (const std::string& line : e.lines()) std::fprintf(stderr, "%s\n", line.c_str());
        return 1;
    }
}
