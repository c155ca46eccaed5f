// -ugrid (--to-netcdf): a run's mesh and every dataset named (base_d.dat base_h.dat
// base_V.dat) in one NetCDF file by the UGRID conventions, through the converter of
// src/netcdf/. The driver has checked that the inputs share their counts of nodes and cells;
// the converter checks them against the mesh and streams each dataset, one step at a time.
#include <string>
#include <vector>

#include "fileio/console.h"
#include "fileio/units.h"
#include "netcdf/ugrid.h"
#include "tool/operations.h"

namespace kelvara {

void runUgrid(RunState& run) {
    const RunOptions& options = *run.options;
    netcdf::RunConversion conversion;
    // The mesh as the companion resolver names it (or as given at the prompt when it is missing).
    run.meshUnit =
        OPENFILEUNIT("I ", options.companions().name(CompanionFile::Mesh, run.inputName(1)));
    conversion.meshPath = unitName(run.meshUnit);
    CLOSEFILEUNIT(run.meshUnit);
    run.meshUnit = 0;
    for (int i = 1; i <= options.fileCount; ++i) conversion.datasetPaths.push_back(run.inputName(i));
    conversion.outputPath = run.outputName();
    if (!options.referenceTime.empty()) conversion.referenceTime = options.referenceTime;
    if (options.deflateLevel >= 0) conversion.deflateLevel = options.deflateLevel;
    consoleLine();
    consoleLine("Writing the mesh and " + std::to_string(options.fileCount) +
                (options.fileCount == 1 ? " dataset" : " datasets") + " to " + run.outputName());
    run.written = netcdf::convertRun(conversion);
}

}  // namespace kelvara
