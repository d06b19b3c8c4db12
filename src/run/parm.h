// The parameter file: run control, schemes, tolerances, solvers, time control and output lists.
#pragma once

#include "run/run.h"

namespace nep {

void read_parm(dimensions& dim, control& ctl, iofiles& io, bcdata& bc, soil& sl);

}  // namespace nep
