// The end-of-run report of times and iteration statistics.
#pragma once

#include "records/control.h"
#include "records/cpustat.h"
#include "records/iofiles.h"

namespace nep {

void cputime(control& ctl, iofiles& io, cpustat& cpu);

// Several processes: every time of the report becomes that of the slowest process (collective;
// nothing on one process).
void cpu_slowest(cpustat& cpu);

}  // namespace nep
