// Transport boundary-condition lists and values: prescribed concentrations (Dirichlet nodes) and
// Cauchy nodes, read once and constant for the whole run, and the solute fluxes through them.
#pragma once

#include "base/array.h"
#include "records/dimensions.h"

namespace nep {

struct transport {
    arr1<int> DIR2DC;       // (NP2C) surface Dirichlet nodes, 1..NNOD, replicated down the verticals
    arr1<int> DIRNODC;      // (NPC) 3-D Dirichlet nodes: entry p + r*NP2C (r = 0..NSTR) is
                            // DIR2DC(p) + r*NNOD, then the NPFC fixed nodes of the file
    arr1<double> DIRVALC;   // (NPC) prescribed concentrations; entry p + r*NP2C equals entry p
    arr1<int> CAUNOD;       // (NMC) Cauchy nodes (3-D node numbers)
    arr1<double> CAUTOT;    // (NMC) total solute flux given at each Cauchy node
    arr1<double> CAUADV;    // (NMC) advective part: coefficient of the nodal concentration

    // Solute fluxes through the boundary nodes at the current and at the previous time level:
    // entries 1..NPC belong to the Dirichlet nodes DIRNODC, entries NPC+1..NPC+NMC to the Cauchy
    // nodes CAUNOD (entry NPC + j to CAUNOD(j)).
    arr1<double> TRFLX;     // (NPC + NMC)
    arr1<double> TRFLXP;    // (NPC + NMC)
    // A process of several with a mesh of its own (mesh::cut), whose lists hold 0 for the nodes
    // it does not hold: the Dirichlet nodes it holds, the prescribed rows of its solves. Empty
    // otherwise.
    bool HELD = false;
    arr1<int> DIRHELD;
};

// Creates the arrays from the sizes; releases them at the end of the run.
void alloc_transport(const dimensions& dim, transport& tra);
void release_transport(transport& tra);

}  // namespace nep
