// The final-state files for the post-processor: "root-ntupla.dat" (coordinates, time-weighted
// potential head, pressure head and, in coupled runs, concentration of every node) and
// "test-vel.dat" (the nodal velocity field), written in the working directory.
#pragma once

#include <string>

#include "records/control.h"
#include "records/dimensions.h"
#include "records/flowstate.h"
#include "records/mesh.h"
#include "records/soil.h"
#include "records/sparse.h"

namespace nep {

// Writes both files (through a local unit opened and closed around each), recomputing the
// velocities from the final state in between (velcmp) unless `formed` says the caller has.
// dir, when not empty, is the directory that receives the files (with its trailing '/'); the
// program leaves it empty. `dn`: the deck's nodes of a run whose processes hold their own
// columns (mesh/blocks.h), read block after block (every process calls this, process 0 writes).
struct deck_nodes;
void test_output(const dimensions& dim, const control& ctl, const mesh& msh, soil& sl,
                 flowstate& fs, const std::string& dir = std::string(), bool formed = false,
                 const deck_nodes* dn = nullptr);

}  // namespace nep
