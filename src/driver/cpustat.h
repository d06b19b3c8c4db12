// The end-of-run report of times and iteration statistics.
#pragma once

#include "driver/records.h"

namespace nep {

void cputime(control& ctl, iofiles& io, cpustat& cpu);

}  // namespace nep
