// The simulation driver: reads the input, builds the mesh, initialises the state and runs the
// time steps.
#pragma once

#include "driver/run.h"

namespace nep {

void nepora3d(records& R);
void check(const dimensions& dim, const control& ctl, iofiles& io);
void datin(records& R);

}  // namespace nep
