#include "fileio/console.h"
#include "tool/operations.h"

namespace kelvara {

void runDurationDifference(RunState&) {
    consoleLine();
    consoleLine("ERROR - This operation is not available in this build.");
    FATALSTOP();
}

}  // namespace kelvara
