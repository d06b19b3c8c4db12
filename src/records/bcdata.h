// Flow boundary conditions: atmospheric, prescribed-head, prescribed-flux and seepage-face data.
#pragma once

#include <vector>

#include "base/array.h"
#include "records/control.h"
#include "records/dimensions.h"

namespace nep {

struct bcdata {
    // Seepage-face options (parameter file).
    int ISFONE = 0, ISFCVG = 0;

    // Prescribed heads and fluxes on nodes that are neither atmospheric nor on seepage faces.
    bool POTBC = false;     // the head series holds potential heads (z is subtracted per node)
    arr1<int> DIR2D;        // (NDIR) surface Dirichlet nodes, replicated down the verticals
    arr1<int> DIRNOD;       // (NP) 3-D Dirichlet nodes: NDIR per node layer, then the NDIRC fixed
    arr1<int> NEUNOD;       // (NQ) 3-D Neumann nodes
    double DIRTIM[4] = {};  // 1..3: times of the older, previous and next Dirichlet records
    double NEUTIM[4] = {};  // 1..3: the same for the Neumann series
    arr2<double> DIRTAB;    // (NP, 3) the three stored Dirichlet records, column k at DIRTIM[k]
    arr2<double> NEUTAB;    // (NQ, 3) the three stored Neumann records
    arr1<double> DIRVAL;    // (NP) prescribed pressure heads at TIME
    arr1<double> NEUVAL;    // (NQ) prescribed nodal fluxes at TIME
    int DIREOF = 0, NEUEOF = 0;  // 1 once the series file has ended
    arr1<double> DIRFLX;    // (NP) fluxes through the Dirichlet nodes, current level
    arr1<double> DIRFLP;    // (NP) the same at the previous time level

    // Atmospheric boundary conditions.
    int HSPATM = 0;         // 0 one rate per surface node, else one for all; 9999 no input
    int ATMEOF = 0;         // 1 once the atmospheric file has ended
    double ATMTIM[4] = {};  // 1..3: times of the older, previous and next records
    arr2<double> ATMINP;    // (3, NNOD) the three stored records of rates, record k at ATMTIM[k]
    arr1<double> ATMPOT;    // (NNOD) potential flux at TIME (rate * ARENOD)
    arr1<double> ATMACT;    // (NNOD) actual flux at TIME
    arr1<double> ATMACP;    // (NNOD) actual flux at the start of the step
    arr1<int> IFATM;        // (NNOD) -1 not atmospheric, 0 flux-controlled, 1 head-controlled
    arr1<int> IFATMP;       // (NNOD) IFATM at the start of the step
    arr1<int> SATSUR;       // (NNOD) surface saturation indicator of the nodal output
    int HGFLAG[9] = {};     // 1..8: run totals of the atmospheric diagnostics
    // Rain and evaporation that fall on a surface node with another condition are not applied:
    // the balance reports them (output/balance.h). ATMIN: the atmospheric file gives input (it
    // is not empty and HSPATM is not 9999). ATMPOP: the potential flux at the start of the step,
    // as ATMACP is the actual one. ATMOTH: the other condition of each surface node, the first
    // of 1 prescribed head, 2 prescribed flux, 3 seepage face (0 for an atmospheric node),
    // negated once input has fallen on the node.
    bool ATMIN = false;
    arr1<double> ATMPOP;    // (NNOD)
    arr1<int> ATMOTH;       // (NNOD)
    // Water standing above the ground at a flux-controlled node, which the switching cannot
    // release (pondck): 1 while an episode of the node lasts (it has been reported), else 0;
    // and the number of episodes reported in the run.
    arr1<int> PONDEP;       // (NNOD)
    int NPONDEP = 0;
    // The deck routes the water on the ground (a surface-flow section): an atmospheric node is
    // not held at a head when water ponds on it, the water standing there flows on.
    bool PONDRT = false;
    // Root water uptake (a roots section): the share of each surface node's evaporative demand
    // that is transpiration, taken by the roots of its column (empty without the section, or
    // 0 for a column without roots), and the potential transpiration at TIME (rate * ARENOD
    // times that share, 0 under rain); ATMPOT then holds the rest, the ground's evaporation.
    std::vector<double> TRFRAC, TRPOT;

    // Seepage faces.
    arr1<int> NSFNUM;       // (NSF) nodes on each face
    arr2<int> SFNOD;        // (NSF, NSFNMX) face nodes from the top down, -9999 after the last
    arr1<int> IEXIT;        // (NSF) exit point: position of the highest saturated node
    arr1<int> IEXITP;       // (NSF) exit points of the previous nonlinear iteration
    arr1<int> IEXOLD;       // (NSF) exit points at the start of the step
    arr2<double> SFQ;       // (NSF, NSFNMX) flux through each saturated face node, < 0 outflow
    arr2<double> SFQOLD;    // (NSF, NSFNMX) SFQ at the start of the step
    int SFCHK = 0;          // 1: exit-point convergence is part of the nonlinear test
    int SFNCVG = 0;         // faces whose exit point moved in the last update
    int SFCVG = 0;          // 1 when SFNCVG = 0 after the last update
    int SFFAIL = 0, SFFAILT = 0;  // iterations with moving exit points, and their SFNCVG sum
    int SFFLAG[6] = {};     // 1..5: run totals of the seepage-face diagnostics

    // Nodes held at a prescribed head in the current iteration (NBCMAX): the Dirichlet nodes,
    // the seepage-face nodes from the exit points down, the head-controlled surface nodes.
    arr1<int> IBCNOD;
    // A process of several with a mesh of its own (mesh::cut), whose lists hold its numbers of
    // the nodes (0 for those it does not hold): the nodes in the deck's numbering, which the echo
    // of the series names, and the elevation of every Dirichlet node, with which the potential
    // heads of the series become pressure heads. Empty otherwise.
    arr1<int> DIRDECK, NEUDECK;
    arr1<double> DIRZ;
    // The same for the seepage faces: their nodes in the deck's numbering, and the heads of
    // every face node (those of their own processes), which every process moves its exit
    // points by.
    arr2<int> SFDECK;
    arr2<double> SFH;
};

// Creates the arrays from the sizes; releases them at the end of the run
// (ctl: whether the run is coupled; without it, every field of the record is created.)
void alloc_bcdata(const dimensions& dim, bcdata& bc, const control* ctl = nullptr);
void release_bcdata(bcdata& bc);

}  // namespace nep
