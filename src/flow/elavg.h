// Element means of the nodal characteristics.
#pragma once

#include "records/dimensions.h"
#include "records/mesh.h"
#include "records/soil.h"

namespace nep {

// ELKRW, ELSTC, ELSW of every tetrahedron: the arithmetic means of CKRW, STCOEF and SW over its
// four vertices.
void elavg(const dimensions& dim, const mesh& msh, soil& sl);

}  // namespace nep
