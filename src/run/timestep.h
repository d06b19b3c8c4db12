// The time axis of a run: set-up of the time control, the step-size update after a converged
// step with its alignment to output times and to the end time, and the step statistics.
#pragma once

#include "records/control.h"
#include "records/dimensions.h"
#include "records/iofiles.h"

namespace nep {

void timinit(control& ctl);

// Pseudo-transient continuation of a steady-state solve (flow only). The steps run in a
// pseudo-time from TIMEP with the steady boundary conditions, TETAF = 1 (implicit Euler): the
// first of DTMIN; after a step that took fewer than ITMX1 iterations the next one is grown by the
// ratio of the largest head changes per unit time of the last two steps (switched evolution
// relaxation), by kGrowthEasy at least and kGrowthMax at most; it is held after ITMX1 iterations
// or more, cut by kGrowthMin after ITMX2 or more, and never above kSteadyStep. A step of kSteadyStep
// is the steady solve (the balance takes it as steady): it is taken once the change over a step
// is within TOLNL or the growth reaches it, and the run ends when it converges; when it does not,
// it back-steps into pseudo-time again.
constexpr double kSteadyStep = 1.0e10;
constexpr double kGrowthMax = 10.0;
constexpr double kGrowthMin = 0.5;
constexpr double kGrowthEasy = 2.0;
// A continuation that has not reached the steady step after this many steps ends early (exit 2).
constexpr int kPseudoStepsMax = 1000;

// Starts the continuation (the deck's DTMIN checked) and writes its line to the listing.
void ptc_start(control& ctl, iofiles& io);

// After a converged pseudo-time step whose largest head change was `change`: the next step.
void ptc_step(control& ctl, double change);
void tstepf(const dimensions& dim, control& ctl, const iofiles& io);
void tstepc(const dimensions& dim, control& ctl, const iofiles& io);
void tstats(control& ctl);

// TIMEP = TIME and the end of the next step of size DELTAT: stretched to TMAX when the rest of
// the run would be shorter than half a reduced step, else cut to the next output time.
void advance_time(const dimensions& dim, control& ctl, const iofiles& io);

// The end-of-step test shared by the step routines: true when the run goes on after this step
// (not at the end time, not steady, not failed, not interrupted).
bool run_continues(const control& ctl);

}  // namespace nep
