// The time axis of a run: set-up of the time control, the step-size update after a converged
// step with its alignment to output times and to the end time, and the step statistics.
#pragma once

#include "records/control.h"
#include "records/dimensions.h"
#include "records/iofiles.h"

namespace nep {

void timinit(control& ctl);
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
