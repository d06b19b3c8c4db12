// The mesh room: the grid file, the generated tetrahedral mesh, its geometry and the sparse
// patterns. It includes only the records and base floors.
//
// The surface grid file and the generation of the layered tetrahedral mesh.
#pragma once

#include "records/bcdata.h"
#include "records/control.h"
#include "records/dimensions.h"
#include "records/iofiles.h"
#include "records/mesh.h"
#include "records/transport.h"

namespace nep {

// Reads the grid file (unit 8) into the mesh record and echoes it to the main listing.
// control gives the dialect (the second program writes no "ZRATIO SUM" line).
void read_grid(dimensions& dim, const control& ctl, iofiles& io, mesh& msh);

// The mesh generation sequence: sortcol on TRIANG, area2d, gen3d, and sortcol on TETRA under
// the Picard scheme.
void grid3d(dimensions& dim, control& ctl, iofiles& io, mesh& msh, bcdata& bc, transport& tra);

// Sorts entries 1..K of each of the first count columns of a ascending (K <= 4).
void sortcol(int count, arr2<int>& a, int K);

// Extrusion of the surface grid: prisms split into tetrahedra, node coordinates, the seepage-face
// order check, the coordinate dump of IPRT1 = 3 (which ends the run) and the replication of the
// surface Dirichlet nodes down the verticals.
void gen3d(dimensions& dim, control& ctl, iofiles& io, mesh& msh, bcdata& bc, transport& tra);

// The elevation gen3d gives the node of layer L (0 the surface) under surface node s, from the
// surface alone (the deck's surface of a start on several processes, mesh::SURFONLY).
double column_z(const mesh& msh, long s, int L);

}  // namespace nep
