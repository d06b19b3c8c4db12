// Prescribed heads and fluxes on the nodes that are neither atmospheric nor on seepage faces.
#pragma once

#include "records/bcdata.h"
#include "records/dimensions.h"
#include "records/iofiles.h"

namespace nep {

// Reads the node file of the prescribed heads and fluxes (unit 9): POTBC, NDIR and the surface
// Dirichlet nodes DIR2D, NDIRC and the fixed Dirichlet nodes (the tail of DIRNOD), NP, NQ and the
// Neumann nodes NEUNOD. The replicated part of DIRNOD is filled with the 3-D mesh.
void read_flow_nansfbc(dimensions& dim, iofiles& io, bcdata& bc);

}  // namespace nep
