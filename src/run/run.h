// The run floor, on top: the driver, the step routines, storage sizing, the file set, the
// parameter file and the main program. It may include every floor below.
//
// The main program of both builds.
#pragma once

#include "records/records.h"

namespace nep {

// The main program: opens the file set, sizes and creates the storage, runs the simulation,
// closes and releases everything. Returns the exit status.
// The command line is "PROGNAME [DECK_DIR]" with -h/--help and --version.
int run_program(dialect d, const char* progname, int argc, char** argv);

}  // namespace nep
