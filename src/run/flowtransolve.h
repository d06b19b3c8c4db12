// One attempt at a coupled flow-transport time step, with its bookkeeping and output.
#pragma once

#include "run/columns.h"
#include "run/run.h"

namespace nep {

// V: what process 0 writes from in a run on meshes of the processes' own (run/columns.h).
void flowtransolve(dimensions& dim, control& ctl, iofiles& io, cpustat& cpu, mesh& msh,
                   bcdata& bc, transport& tra, soil& sl, massbal& mb, sparse& sp, flowstate& fs,
                   deck_view* V = nullptr);

// After an accepted coupled step that does not end the run: the concentrations of the step
// become the previous ones, then the next step's size and time, boundary values and heads.
void next_coupled_step(const dimensions& dim, control& ctl, iofiles& io, const mesh& msh,
                       bcdata& bc, const soil& sl, flowstate& fs);

// The solute balance of a converged coupled step (current boundary mass fluxes, storage change,
// errors, cumulative sums); then the boundary fluxes of the step become the previous ones.
void tranmb(const dimensions& dim, const control& ctl, const mesh& msh, const bcdata& bc,
            transport& tra, const soil& sl, const sparse& sp, const flowstate& fs, massbal& mb);

}  // namespace nep
