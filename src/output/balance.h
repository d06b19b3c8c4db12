// The output room: water and solute balance, result files and viewer exports. It sits above
// flow, beside transport.
//
// Water and solute balance: the boundary fluxes of a step, the storage change, the absolute and
// relative errors of the step, the per-step lines of the listing and of the mass-balance file,
// and the cumulative errors and event counters at the end of the run.
#pragma once

#include <cmath>

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

namespace nep {

// Steady state is a step of DELTAT >= 1.0e10.
constexpr double MB_STEADY = 1.0e10;

// A net volume in + out that is zero but for rounding (below 1e-9 of the volume that crossed
// the boundary) counts as zero, so that no relative error is taken against it.
inline bool net_is_zero(double net, double in, double out) {
    return std::fabs(net) <= 1.0e-9 * (in + std::fabs(out));
}

// Previous-level fluxes at the start of the run and the cumulative flow sums. The previous
// atmospheric fluxes are those of the surface nodes that start flux-controlled (IFATMP = 0);
// the previous prescribed fluxes are NEUVAL (none in a steady-state run).
void mbinit(const dimensions& dim, const control& ctl, const mesh& msh, const bcdata& bc,
            massbal& mb);
// Several processes with meshes of their own (mesh::cut): the sums of mbinit, each process's
// over its own surface nodes, summed over the processes (collective; nothing otherwise).
void mbinit_share(const mesh& msh, massbal& mb);

// The solute part of the initialisation: previous mass fluxes and cumulative sums cleared.
void mbinit_transport(massbal& mb);

// Current boundary fluxes of the step: DIRFLX of the prescribed-head nodes, NEUVAL of the
// prescribed-flux nodes, SFQ of the saturated seepage-face nodes (IEXIT..NSFNUM; a node that
// does not seep out is an SFFLAG(5) event, reported on unit 134) and ATMACT of the atmospheric
// nodes (head-controlled into the DIRIC classes, flux-controlled into the NEUMN classes).
void fluxmb(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
            massbal& mb);

// The water balance of a converged step: storage change from the storage coefficients at
// PSAVE and at PNEW (chstor; the coefficients at PSAVE are kept in sp.WORK1, which the solvers
// do not need between steps, and STCOEF is left at the PNEW values), fluxmb, trapezoidal
// volumes, totals, absolute and relative error. Under KSLOPE = 5 the storage change is that of
// the water held, sum of VOLNOD*(W(PNEW) - WSAVE), and the volumes are those applied. The time
// taken goes to FT(8).
// With a surface-flow section (sf), the water standing on the ground joins the storage change
// and the outlets' discharge the outflow (surfmb).
void flowmb(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
            soil& sl, sparse& sp, const flowstate& fs, cpustat& cpu, massbal& mb,
            surface* sf = nullptr);

// The volumes, totals and errors of a step from the current fluxes in mb and the storage
// change (flowmb without its first steps): f*(current + previous flux), f = DELTAT/2 or 1 in a
// steady-state run; with `applied` (KSLOPE = 5) the volumes the scheme applied over the step,
// DELTAT*(TETAF*current + (1-TETAF)*previous), and DELTAT*current for the prescribed fluxes.
void flowmb_volumes(const control& ctl, massbal& mb, double dstore, bool applied = false);

// The solute balance of a step once the current mass fluxes TFLXCUR and the mass storage
// change are known: masses (trapezoidal), totals, absolute and relative error, cumulative sums,
// then previous = current.
void tranmb_close(const control& ctl, massbal& mb, double tdstore);

// The balance of the step to the main listing (unit 6) and its line to the mass-balance file
// (unit 27; with the solute errors in coupled runs).
void mbeout(const dimensions& dim, const control& ctl, iofiles& io, const massbal& mb);

// After mbeout: the cumulative flow sums grow by the step, and every current flux becomes the
// previous one.
void mbnext(massbal& mb);

// End of the run: cumulative errors (unsteady runs), the HGFLAG and SFFLAG counters, back-steps,
// linear-solver failures, seepage-face exit-point failures, and the smallest IBOT of the direct
// solver.
void cumberr(const dimensions& dim, const control& ctl, iofiles& io, const bcdata& bc,
             const massbal& mb);

// End of the run: when the net cumulative error (in + out - storage change over the run)
// exceeds 1 % of the water that entered (of what left, when nothing entered) and is more than
// rounding (1e-10 of the pore volume), a warning to the
// main listing and to standard error, with the likely reason: the storage term of KSLOPE 0-4
// in a flow-only run (KSLOPE = 5 closes the budget), or the density coupling. `pores`: the pore
// volume of the mesh, pore_volume (collective: a sum over every process's own nodes).
double pore_volume(const mesh& msh, const soil& sl);
void mbwarn(const control& ctl, iofiles& io, double pores, const soil& sl, const massbal& mb);

// End of the run, when atmospheric input fell on surface nodes with another condition
// (prescribed head, prescribed flux, seepage face), where the model does not apply it: the
// nodes by condition, and the rain and the evaporation not applied against those that fell on
// the whole surface, to the main listing; a warning when either is more than 1 % of its whole
// (napwarn). Nothing otherwise.
void napout(iofiles& io, const massbal& mb);
bool napwarn(const massbal& mb);

}  // namespace nep
