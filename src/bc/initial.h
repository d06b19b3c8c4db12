// Initial conditions: the heads and concentrations at the initial time.
#pragma once

#include "records/control.h"
#include "records/dimensions.h"
#include "records/flowstate.h"
#include "records/iofiles.h"
#include "records/mesh.h"
#include "records/soil.h"

namespace nep {

struct deck_nodes;

// Reads the flow initial-condition file (unit 15): POTINP, INDP and the uniform or nodal values,
// into HPOTP (potential heads) or PSAVE (pressure heads). INDP = 2 reads nothing more. `held`:
// the maps of the columns of one process of several (run/columns.h), whose nodes alone keep their
// values, in its numbering (the arrays sized so). On several processes process 0 alone reads and
// checks the file, a block of values at a time handed to every process; a stop in it stops all
// (collective: called by every process, not inside a section of base/procs.h's together).
void read_flow_ic(const dimensions& dim, const control& ctl, iofiles& io, flowstate& fs,
                  const mesh* held = nullptr);

// Reads the transport initial-condition file (unit 16): INDC and the uniform or nodal
// concentrations, into CSAVE (the concentrations at the initial time level).
void read_transp_ic(const dimensions& dim, iofiles& io, flowstate& fs, const mesh* held = nullptr);

// Resets the step and iteration counters, clears the nodal soil averages and builds PNEW, PSAVE,
// HPOT and HPOTP from what read_flow_ic read. `dn`: see icvhe.
void flowinit(const dimensions& dim, control& ctl, iofiles& io, const mesh& msh, soil& sl,
              flowstate& fs, const deck_nodes* dn = nullptr);

// Hydrostatic pressure heads with the water table at the ground surface of every column. A run
// whose processes hold their own columns (they hold them whole) echoes those of the deck's nodes
// block after block (`dn`, mesh/blocks.h: every process calls this, process 0 writes).
void icvhe(const dimensions& dim, iofiles& io, const mesh& msh, flowstate& fs,
           const deck_nodes* dn = nullptr);

}  // namespace nep
