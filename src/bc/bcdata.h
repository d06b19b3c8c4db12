// Flow boundary conditions: atmospheric, prescribed-head, prescribed-flux and seepage-face data.
#pragma once

#include "driver/array.h"

namespace nep {

struct bcdata {
    // Seepage-face options (parameter file).
    int ISFONE = 0, ISFCVG = 0;

    // Prescribed heads and fluxes on nodes that are neither atmospheric nor on seepage faces.
    bool POTBC = false;
    arr1<int> DIR2D;    // (NDIR) surface Dirichlet nodes, replicated down the verticals
    arr1<int> DIRNOD;   // (NP) 3-D Dirichlet nodes
    arr1<int> NEUNOD;   // (NQ) 3-D Neumann nodes

    // Seepage faces.
    arr1<int> NSFNUM;   // (NSF) nodes on each face
    arr2<int> SFNOD;    // (NSF, NSFNMX) face nodes from the top down, -9999 after the last
};

}  // namespace nep
