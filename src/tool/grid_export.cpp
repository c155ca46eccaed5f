// -grid<cell size>: the steps of a dataset drawn on a regular grid over its mesh and written as
// a GeoTIFF (src/grid/), one band per step (two for a coded difference), or the bands of the one
// step at the -t time. What each step holds is told by its time and the dataset's name
// (sinks/known_steps.h): classes and input numbers are never interpolated.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "fileio/console.h"
#include "fileio/error.h"
#include "fileio/units.h"
#include "formats/mesh.h"
#include "grid/grid.h"
#include "tool/operations.h"
#include "steps/step_times.h"
#include "util/path.h"
#include "util/text.h"

namespace kelvara {

void runGrid(RunState& run) {
    const Operation& o = run.options->operation;
    if (!grid::available()) {
        throw errorLine("ERROR - This build of kelvara cannot write grids: " +
                        grid::whyUnavailable() + ".");
    }
    const auto selected = [&o](float t) { return !o.atTime || matchesGivenTime(o.time, t); };

    // The bands are those of the steps to be drawn: found first in a pass that reads only the
    // steps' times, and the values of the steps of classes (their largest value decides the
    // file's data type).
    const std::vector<OutputStep> steps = run.options->shape().steps;
    std::vector<grid::BandSpec> bands;
    float largestClass = 0.0f;
    {
        DatasetReader counter = DatasetReader::open(run.input(1).name());
        counter.readHeader();
        const std::function<bool(float)> classes = [&](float t) {
            if (!selected(t)) return false;
            const std::vector<grid::BandSpec> more = grid::bandsOfStep(t, steps);
            bands.insert(bands.end(), more.begin(), more.end());
            return more.front().kind == grid::BandKind::Classes;
        };
        StepRequest request;
        request.wanted = &classes;
        request.flags = FlagReading::PassOver;
        const bool vectors = run.primary.isVector;
        while (counter.hasStep()) {
            const StepRead step = counter.nextStep(
                {run.active.data(), run.values1.data(), vectors ? run.values2.data() : nullptr},
                request);
            if (!step.valuesRead) continue;
            for (std::int32_t n = 0; n < run.nodeCount(); ++n) {
                const float x = run.values1[n], y = vectors ? run.values2[n] : 0.0f;
                const float v = y == 0.0f ? x : std::hypot(x, y);
                if (std::isfinite(v)) largestClass = std::max(largestClass, v);
            }
        }
    }
    if (bands.empty()) {
        if (o.atTime) throw errorLine(noStepAtTimeError(o.time, run.inputName(1)));
        throw errorLine("ERROR - " + run.inputName(1) + " holds no time step.");
    }

    const CompanionResolver companions = run.options->companions();
    MeshGeometry mesh;
    consoleLine();
    consoleLine("...need to read .2dm file for the grid");
    run.meshUnit = OPENFILEUNIT("I ", companions.name(CompanionFile::Mesh, run.inputName(1)));
    READ_2DM_GEOMETRY(run.meshUnit, run.nodeCount(), run.cellCount(), mesh);
    grid::GridRequest request;
    request.meshPath = unitName(run.meshUnit);
    CLOSEFILEUNIT(run.meshUnit);
    run.meshUnit = 0;
    request.prjPath = companions.name(CompanionFile::Reference, run.inputName(1));
    request.outputPath = run.outputName();
    request.cellSize = o.cellSize;

    try {
        std::vector<std::string> warnings;
        grid::GridWriter writer(mesh, request, run.nodeCount(), run.cellCount(),
                                run.primary.isVector, bands, largestClass, warnings);
        for (const auto& line : warnings) {
            consoleLine();
            consoleLine(line);
        }
        consoleLine();
        consoleLine("Grid: " + AINTEGER(static_cast<int>(writer.columns())) + " columns by " +
                    AINTEGER(static_cast<int>(writer.rows())) + " rows, cell size " +
                    std::string(trimRight(AREAL(static_cast<float>(o.cellSize)))));
        consoleLine("Processing file: " + run.inputName(1));
        const std::function<bool(float)> wanted = selected;
        while (run.readStep(1, wanted)) {
            if (!selected(run.time)) continue;
            writer.addStep(run.active.data(), run.values1.data(),
                           run.primary.isVector ? run.values2.data() : nullptr);
        }
        consoleFlush();  // a console that cannot be written fails the run before the grid lands
        writer.finish();
        const int count = writer.bandCount();
        run.written = "Wrote " + CLEANPATH(run.outputName()) + ": " + AINTEGER(count) +
                      (count == 1 ? " band" : " bands") + " of " +
                      AINTEGER(static_cast<int>(writer.columns())) + " by " +
                      AINTEGER(static_cast<int>(writer.rows())) + " cells.";
    } catch (const grid::GridError& e) {
        throw grid::asRunError(e);
    }
}

}  // namespace kelvara
