// Seepage faces: columns of boundary nodes through which water may leave but never enter.
#pragma once

#include "records/bcdata.h"
#include "records/dimensions.h"
#include "records/iofiles.h"

namespace nep {

// Reads the seepage-face file (unit 13): NSF, then per face NSFNUM(k) and its nodes from the top
// down into SFNOD(k, 1..NSFNUM(k)); SFNOD(k, NSFNUM(k)+1) = -9999 marks the end of the face.
void read_flow_sfbc(dimensions& dim, iofiles& io, bcdata& bc);

}  // namespace nep
