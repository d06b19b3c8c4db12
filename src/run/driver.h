// The simulation driver: reads the input, builds the mesh, initialises the state and runs the
// time steps.
#pragma once

#include "run/run.h"

namespace nep {

// Returns the exit status of a run that ends normally (0, or 2 when a step could not be
// completed at the smallest step size).
int nepora3d(records& R);
void initial(records& R);
void check(const dimensions& dim, const control& ctl, iofiles& io);
void datin(records& R);

}  // namespace nep
