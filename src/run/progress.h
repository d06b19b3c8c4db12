// Progress of a run on the terminal: a status line that is redrawn (simulated time against
// TMAX, percent, steps, wall time, time left) on standard output, or in a batch job a line
// every few percent on standard error.
#pragma once

#include "records/control.h"
#include "records/iofiles.h"

namespace nep {

// Chooses what is shown from the mode of the command line and whether standard output is a
// terminal; before the file set is opened (the terminal log depends on it).
void progress_start(iofiles& io);

// Before the first step: the start of the simulated time and of the wall clock.
void progress_begin(const control& ctl, iofiles& io);

// After each completed step.
void progress_step(const control& ctl, iofiles& io);

// Clears the status line before the closing summary.
void progress_end(iofiles& io);

}  // namespace nep
