// The soil file: the characteristic-curve model with its parameters, and the saturated
// conductivities, specific storage and porosity of every layer and material type.
#pragma once

#include "records/dimensions.h"
#include "records/iofiles.h"
#include "records/soil.h"

namespace nep {

// Reads the soil file (unit 14) and echoes it to the main listing; stops on a bad model number
// or on curve parameters that leave the chosen model undefined.
void read_soil(const dimensions& dim, iofiles& io, soil& sl);

}  // namespace nep
