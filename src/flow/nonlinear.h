// The flow floor: element means, flow matrices, the nonlinear flow step and the Darcy velocities.
// It sits above the boundary conditions.
//
// The nonlinear flow step: Picard or Newton iterations with boundary conditions, relaxation,
// norms, convergence control and back-stepping.
#pragma once

#include "flow/assemble.h"
#include "records/bcdata.h"
#include "records/control.h"
#include "records/cpustat.h"
#include "records/dimensions.h"
#include "records/flowstate.h"
#include "records/iofiles.h"
#include "records/massbal.h"
#include "records/mesh.h"
#include "records/soil.h"
#include "records/sparse.h"
#include "records/surface.h"
#include "solvers/linsys.h"

namespace nep {

// One step attempt from TIMEP to TIME. On return ISTATUS is 0 (converged), -2 (back-step
// prepared) or -3 (failed without possible back-step; ENDFLOW set).
// With a surface-flow section (sf), the surface nodes' rows carry the water on the ground.
void unsatflw(dimensions& dim, control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
              soil& sl, sparse& sp, flowstate& fs, cpustat& cpu,
              const density& rho = density(), const surface* sf = nullptr);

void picflw(dimensions& dim, control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
            soil& sl, sparse& sp, flowstate& fs, cpustat& cpu, const density& rho,
            const surface* sf = nullptr);
void newtflw(dimensions& dim, control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
             soil& sl, sparse& sp, flowstate& fs, cpustat& cpu, const density& rho,
             const surface* sf = nullptr);

// Boundary conditions of the linear system: the prescribed rows (Dirichlet, seepage-face and
// head-controlled atmospheric nodes, an increment of 0 each) declared to the system `ls`, whose
// solver imposes them, listed in IBCNOD; the Neumann and atmospheric fluxes added to RHS. After
// the solve, the heads of the prescribed nodes.
void bcapic(const dimensions& dim, const control& ctl, bcdata& bc, sparse& sp,
            linear_system& ls, const density& rho);
void bcrpic(const dimensions& dim, bcdata& bc, flowstate& fs);
// Boundary fluxes from the solved system: DIRFLX, SFQ, ATMACT of head-controlled nodes.
void bflpic(const dimensions& dim, const control& ctl, const mesh& msh, bcdata& bc, sparse& sp,
            bool full);

// The tolerance of a linear solve tied to the nonlinear progress (Eisenstat and Walker's second
// choice): at the first iteration of a step eta0, then gamma * (fn / fprev)^alpha, fn and fprev
// the residual norms of this iterate and the last, kept at least gamma * etaprev^alpha when that
// is above 0.1 (a lucky drop of the residual does not tighten the solve at once), at most
// etamax, and at least `floor` (the deck's tolerance).
double forcing_term(int iter, double fn, double fprev, double etaprev, double eta0, double etamax,
                    double gamma, double alpha, double floor);

void relax(const dimensions& dim, double OMEGA, flowstate& fs);
void relaxv(const dimensions& dim, control& ctl, const mesh& msh, const sparse& sp,
            const flowstate& fs);
void cvnorm(const dimensions& dim, const mesh& msh, const sparse& sp, flowstate& fs);
void chgmax(const dimensions& dim, const mesh& msh, const sparse& sp, flowstate& fs);
// The state of the start of the step after a back-step has set the new TIME: boundary fluxes,
// exit points and atmospheric states of the previous time level, PNEW = PSAVE, the boundary
// values at the new TIME, and the iterates and time-weighted heads.
void restore_step(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh,
                  bcdata& bc, soil& sl, flowstate& fs);
void cnvrgf(const dimensions& dim, control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
            soil& sl, flowstate& fs);

}  // namespace nep
