// The NetCDF conversion of a run as a program, for the tests that read its files back:
//   kelvara_ugrid_convert [--reference-time "YYYY-MM-DD hh:mm:ss"] out.nc mesh.2dm [run_x.dat ...]
// Prints the console lines and the summing-up line; on an error its lines, and status 1.
#include <cstdio>
#include <string>

#include "fileio/console.h"
#include "fileio/error.h"
#include "fileio/units.h"
#include "netcdf/ugrid.h"

int main(int argc, char** argv) {
    kelvara::netcdf::RunConversion run;
    int at = 1;
    if (at + 1 < argc && std::string(argv[at]) == "--reference-time") {
        run.referenceTime = argv[at + 1];
        at += 2;
    }
    if (argc - at < 2) {
        std::fprintf(stderr, "usage: %s [--reference-time T] out.nc mesh.2dm [data.dat ...]\n",
                     argv[0]);
        return 2;
    }
    run.outputPath = argv[at++];
    run.meshPath = argv[at++];
    for (; at < argc; ++at) run.datasetPaths.push_back(argv[at]);

    kelvara::setConsoleBatch(true);
    kelvara::INITFILEUNITS();
    kelvara::ErrorScope scope;
    kelvara::RunUnits units;
    try {
        kelvara::consoleLine(kelvara::netcdf::convertRun(run));
    } catch (const kelvara::Error& e) {
        for (const auto& line : e.lines()) kelvara::consoleLine(line);
        kelvara::abandonAllUnits();
        kelvara::consoleFlush();
        return 1;
    }
    kelvara::consoleFlush();
    return 0;
}
