// Entry of one kelvara run, exported from the library so that the executable stays thin.
#pragma once

#include "kelvara.h"

extern "C" KELVARA_API int kelvara_run(int argc, char** argv);
