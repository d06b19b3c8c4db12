// The eleven records of one run, owned together by the main program.
#pragma once

#include "bc/bcdata.h"
#include "driver/records.h"
#include "flow/flowstate.h"
#include "mesh/mesh.h"
#include "mesh/sparse.h"
#include "output/massbal.h"
#include "soil/soil.h"
#include "transport/transport.h"

namespace nep {

struct records {
    dimensions dim;
    control ctl;
    iofiles io;
    mesh msh;
    bcdata bc;
    transport tra;
    soil sl;
    sparse sp;
    flowstate fs;
    massbal mb;
    cpustat cpu;
};

// The main program: opens the file set, sizes and creates the storage, runs the simulation,
// closes and releases everything. Returns the exit status.
int run_program(dialect d, const char* progname);

}  // namespace nep
