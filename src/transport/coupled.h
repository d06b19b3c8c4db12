// The transport room: solute file and boundary conditions, transport matrices and the coupled
// iteration. It sits above flow, beside output.
//
// The coupled flow-transport iteration of one time step: flow with the current densities,
// velocities, transport, and the changes of potential head and concentration between two outer
// iterations as the convergence measure.
#pragma once

#include "records/records.h"

namespace nep {

// One coupled step with the Picard (piccpl) or Newton (newtcpl) transport solve. On return
// ISTATUS < -1 when the flow step asked for a back-step or failed; otherwise CPLSTA holds the
// coupled status (1, 2, 3 converged; -3 failed without back-step).
void piccpl(dimensions& dim, control& ctl, iofiles& io, cpustat& cpu, mesh& msh, bcdata& bc,
            transport& tra, soil& sl, sparse& sp, flowstate& fs);
void newtcpl(dimensions& dim, control& ctl, iofiles& io, cpustat& cpu, mesh& msh, bcdata& bc,
             transport& tra, soil& sl, sparse& sp, flowstate& fs);

// DIFMAX, IKMAX, the history entry of ITERC and the status CPLSTA.
void cnvrgc(const dimensions& dim, control& ctl, const mesh& msh, flowstate& fs);
// Trace line, relaxation and copies of the iterates, convergence table, back-step, messages.
void nlupd(const dimensions& dim, control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
           soil& sl, flowstate& fs, int flowlin, int translin);
// Relaxation of the concentrations between outer iterations.
void relaxc(const dimensions& dim, control& ctl, flowstate& fs);

}  // namespace nep
