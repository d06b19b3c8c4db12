// The parameter file: run control, schemes, tolerances, solvers, time control and output lists.
#pragma once

#include "run/run.h"

namespace nep {

// The lines after the last record: UNITS, and the surface-flow section (surface/overland.h).
void read_parm(dimensions& dim, control& ctl, iofiles& io, bcdata& bc, soil& sl, surface& sf);

// The selectors the run solves with (run_selector) from those of the parameter file (ISOLVD,
// ISOLVCD): on several processes PETSc's default in place of a solver of one process, said once
// on standard error (with the file's line, when not 0) unless ISOLV and ISOLVC are already so.
void parallel_selectors(control& ctl, const iofiles& io, long isolv_line, long isolvc_line);

}  // namespace nep
