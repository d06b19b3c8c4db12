// The parameter file: run control, schemes, tolerances, solvers, time control and output lists.
#pragma once

#include "run/run.h"

namespace nep {

// The lines after the last record: UNITS, and the surface-flow section (surface/overland.h).
void read_parm(dimensions& dim, control& ctl, iofiles& io, bcdata& bc, soil& sl, surface& sf);

}  // namespace nep
