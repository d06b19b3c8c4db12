// Element means of the nodal characteristics.
#pragma once

#include "driver/records.h"
#include "mesh/mesh.h"
#include "soil/soil.h"

namespace nep {

// ELKRW, ELSTC, ELSW of every tetrahedron: the arithmetic means of CKRW, STCOEF and SW over its
// four vertices.
void elavg(const dimensions& dim, const mesh& msh, soil& sl);

}  // namespace nep
