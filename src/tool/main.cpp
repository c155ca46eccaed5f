// The kelvara executable: everything happens in the library's run function.
#include "tool/run.h"

int main(int argc, char** argv) { return kelvara_run(argc, argv); }
