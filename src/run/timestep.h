// The time axis of a run: set-up of the time control, the step-size update after a converged
// step with its alignment to output times and to the end time, and the step statistics.
#pragma once

#include "records/control.h"
#include "records/dimensions.h"
#include "records/iofiles.h"

namespace nep {

void timinit(control& ctl);

// Pseudo-transient continuation of a steady-state solve (flow only). The steps run in a
// pseudo-time from TIMEP with the steady boundary conditions and TETAF = 1 (implicit Euler),
// the first of DTMIN. After a step that took fewer than ITMX1 iterations the next one grows by
// the ratio of the largest head changes per unit time of the last two steps (switched evolution
// relaxation), by kGrowthEasy at least and kGrowthMax at most; after ITMX1 iterations or more
// by kGrowthHeld; after ITMX2 or more it shrinks by kGrowthMin. A failed step goes back to the
// size of the last one that converged. A step of kSteadyStep is the steady solve (the balance
// takes it as steady): it is taken when the growth reaches it and ends the run when it
// converges; when it does not, the continuation goes on in pseudo-time without it.
constexpr double kSteadyStep = 1.0e10;
constexpr double kGrowthMax = 3.0;
constexpr double kGrowthMin = 0.5;
constexpr double kGrowthEasy = 2.0;
constexpr double kGrowthHeld = 1.25;
// A continuation not steady after this many steps ends early (exit 2).
constexpr int kPseudoStepsMax = 1000;

// A pseudo-time step is taken as steady, and ends the continuation, when its largest head change
// is within TOLNL and its storage change within kSteadyStorage of the water through the domain
// (the mean of what came in and went out). A steady step that fails is not tried again.
constexpr double kSteadyStorage = 1.0e-4;
bool ptc_steady(const control& ctl, double change, double in, double out, double dstore);

// After a failed step of size `tried` of the continuation (unsatflw has reduced DELTAT): back to the size of the
// last step that converged, and no steady step again after it failed.
void ptc_backstep(control& ctl, double tried);

// Starts the continuation (the deck's DTMIN checked) and writes its line to the listing.
void ptc_start(control& ctl, iofiles& io);

// After a converged pseudo-time step whose largest head change was `change`: the next step (the
// steady step when `steady`).
void ptc_step(control& ctl, double change, bool steady);
void tstepf(const dimensions& dim, control& ctl, const iofiles& io);
// The step control of the STEPCONTROL line: the factor of the next step after one that took
// `iter` nonlinear iterations, the one before it `iterprev` (0: none), aiming at `target`,
// within [shrink, grow].
double lookahead_factor(int iter, int iterprev, int target, double grow, double shrink);
void tstepc(const dimensions& dim, control& ctl, const iofiles& io);
void tstats(control& ctl);

// TIMEP = TIME and the end of the next step of size DELTAT: stretched to TMAX when the rest of
// the run would be shorter than half a reduced step, else cut to the next output time.
void advance_time(const dimensions& dim, control& ctl, const iofiles& io);

// The end-of-step test shared by the step routines: true when the run goes on after this step
// (not at the end time, not steady, not failed, not interrupted).
bool run_continues(const control& ctl);

}  // namespace nep
