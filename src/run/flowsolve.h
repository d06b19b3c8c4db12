// One attempt at a flow-only time step, with its bookkeeping and output.
#pragma once

#include "run/columns.h"
#include "run/run.h"

namespace nep {

// V: what process 0 writes from in a run on meshes of the processes' own (run/columns.h).
void flowsolve(dimensions& dim, control& ctl, iofiles& io, cpustat& cpu, mesh& msh,
               bcdata& bc, soil& sl, massbal& mb, sparse& sp, flowstate& fs, surface& sf,
               deck_view* V = nullptr);

// The boundary state of an accepted step becomes the previous state: prescribed-head fluxes,
// atmospheric states and fluxes, seepage-face fluxes and exit points, and the heads.
void accept_step(const dimensions& dim, bcdata& bc, flowstate& fs);

// The end of an accepted step: the partial output, the detailed output when the step ends on
// the next output time, the rows and files of vtk/ and csv/ (extra_step), and the step
// statistics.
void step_output(const dimensions& dim, control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
                 soil& sl, const massbal& mb, flowstate& fs, deck_view* V = nullptr);

// After an accepted step that does not end the run: the size and time of the next step, its
// boundary values, its starting heads.
void next_flow_step(const dimensions& dim, control& ctl, iofiles& io, const mesh& msh,
                    bcdata& bc, const soil& sl, flowstate& fs);

// The time-weighted heads of a new step or iterate: POLD = PNEW, PTHETA, PTHOLD, and the same
// for the potential heads.
void start_heads(const dimensions& dim, const control& ctl, flowstate& fs);

}  // namespace nep
