// The operations. Each is entered with every input open and positioned after its header, the
// output open and (but for the times listing) its header written; each returns to the driver,
// which writes the end card and closes the files.
#pragma once

#include "tool/driver.h"

namespace kelvara {

void runSinglePass(RunState& run);          // -con, -k, -r, -trim, -va
void runTimesListing(RunState& run);        // -times
void runMaximum(RunState& run);             // -max
void runDuration(RunState& run);            // -dur
void runDifference(RunState& run);          // -dif
void runDurationDifference(RunState& run);  // -ddur
void runArrival(RunState& run);             // -arrival
void runHazard(RunState& run);              // -hazard
void runGrid(RunState& run);                // -grid
void runExtent(RunState& run);              // -extent
void runEnsemble(RunState& run);            // -ensemble (ensemble_run.cpp)
void runUgrid(RunState& run);               // -ugrid
void runCalc(RunState& run);                // -calc
// -calc's command line once read: one expression (after -calc or with --expr), checked; the
// options that name its datasets only with it. False with the error's lines otherwise.
bool checkCalcOptions(RunOptions& options, std::vector<std::string>& lines);

}  // namespace kelvara
