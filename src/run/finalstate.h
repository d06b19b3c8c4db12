// The final state of a run, and a run started from it. Every run that writes the csv/ tables
// ends by writing csv/final-state.csv: one row a node of the deck (node, x, y, z, pressure_head)
// with every value in the shortest text that reads back to the same double, so that the heads
// are taken again bit for bit. --initial-from DIR takes the heads of DIR/csv/final-state.csv (or
// of the file DIR) as the initial heads of the deck, in place of those of its initial-condition
// file, once the file is checked to be of the same mesh: the same number of nodes, and every node
// at the same place. docs/spinup.md shows its use after a steady spin-up.
#pragma once

#include "records/control.h"
#include "records/dimensions.h"
#include "records/flowstate.h"
#include "records/iofiles.h"
#include "records/mesh.h"

namespace nep {

// The file in the csv/ folder of a run.
constexpr const char* kFinalStatePath = "csv/final-state.csv";

// Writes the final state, when the csv/ tables are on. `dn`: the deck's nodes of a run whose
// processes hold their own columns (mesh/blocks.h): every process calls this, process 0 writes
// the nodes block after block.
struct deck_nodes;
void write_final_state(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh,
                       const flowstate& fs, const deck_nodes* dn = nullptr);

// Replaces the initial heads (PSAVE, PNEW and the potential heads) by those of io.INITFROM,
// at the nodes this process holds, and writes where they came from to the listing. A file that
// cannot be read or is of another mesh stops the run (status 1), naming the file, the line and
// the value.
void initial_from(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh,
                  flowstate& fs);

}  // namespace nep
