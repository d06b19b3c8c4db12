// The time axis of a run: set-up of the time control, the step-size update after a converged
// step with its alignment to output times and to the end time, and the step statistics.
#pragma once

#include "driver/records.h"

namespace nep {

void timinit(control& ctl);
void tstepf(const dimensions& dim, control& ctl, const iofiles& io);
void tstats(control& ctl);

// The end-of-step test shared by the step routines: true when the run goes on after this step.
bool run_continues(const control& ctl);

}  // namespace nep
