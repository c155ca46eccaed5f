// -grid<cell size>: the steps of a dataset drawn on a regular grid over its mesh and written as
// a GeoTIFF (src/grid/), one band per step, or the one step at the -t time.
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

    // The number of bands is that of the steps to be drawn: counted first in a pass that reads
    // only the steps' times.
    int bands = 0;
    {
        DatasetReader counter = DatasetReader::open(run.input(1).name());
        counter.readHeader();
        const std::function<bool(float)> none = [&](float t) {
            bands += selected(t) ? 1 : 0;
            return false;
        };
        StepRequest request;
        request.wanted = &none;
        request.flags = FlagReading::PassOver;
        while (counter.hasStep()) counter.nextStep({}, request);
    }
    if (bands == 0) {
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
                                run.primary.isVector, bands, warnings);
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
            writer.addBand(run.time, run.active.data(), run.values1.data(),
                           run.primary.isVector ? run.values2.data() : nullptr);
        }
        consoleFlush();  // a console that cannot be written fails the run before the grid lands
        writer.finish();
        run.written = "Wrote " + CLEANPATH(run.outputName()) + ": " + AINTEGER(bands) +
                      (bands == 1 ? " band" : " bands") + " of " +
                      AINTEGER(static_cast<int>(writer.columns())) + " by " +
                      AINTEGER(static_cast<int>(writer.rows())) + " cells.";
    } catch (const grid::GridError& e) {
        throw grid::asRunError(e);
    }
}

}  // namespace kelvara
