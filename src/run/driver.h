// The simulation driver: reads the input, builds the mesh, initialises the state and runs the
// time steps.
#pragma once

#include "run/run.h"

namespace nep {

struct deck_nodes;

// Returns the exit status of a run that ends normally (0, or 2 when a step could not be
// completed at the smallest step size).
int nepora3d(records& R);
// The state at the start of the run, in two parts: on several processes the heads of the seepage
// faces go to every process in between (share_face_heads). `dn`: the deck's nodes, read by
// blocks, of a run on meshes of the processes' own (its echo of the initial state). Collective
// on several processes, in sections of its own (base/procs.h, together): not called inside one.
void initial(records& R, const deck_nodes* dn = nullptr);
void initial_rest(records& R);
void check(const dimensions& dim, const control& ctl, iofiles& io);
// The input: the parameter file and the surface grid, then the rest of the deck (`held`: on a
// start on several processes, the maps of this process's columns, whose nodes alone keep what the
// deck gives per node; process 0 reads the initial conditions and hands them on). datin_rest is
// collective on several processes, as initial is.
void datin_grid(records& R);
void datin_rest(records& R, const mesh* held = nullptr);

}  // namespace nep
