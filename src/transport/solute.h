// The solute-parameter file: fluid and solute constants and the dispersivities and retardation
// factors of every layer and material type.
#pragma once

#include "records/dimensions.h"
#include "records/iofiles.h"
#include "records/soil.h"

namespace nep {

// Reads the solute-parameter file (unit 17): RHO0, EPSLON, DIFFUS, EPSLON1, then ALFAL, ALFAT
// and RETARD for each layer and, inside it, each material type; echoes them to the main listing.
// Stops on a negative dispersivity or diffusion coefficient and on a retardation factor <= 0.
void read_transp_solute(const dimensions& dim, iofiles& io, soil& sl);

}  // namespace nep
