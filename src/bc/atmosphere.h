// Atmospheric boundary conditions: rainfall and evaporation rates on the surface nodes that carry
// no other flow boundary condition, the switching of those nodes between flux control and head
// control (ponding at pressure head 0, air-dry at PMIN), and the classification of the
// head-controlled nodes after each step (the HGFLAG diagnostics) with the surface-flux totals.
#pragma once

#include "records/bcdata.h"
#include "records/control.h"
#include "records/dimensions.h"
#include "records/flowstate.h"
#include "records/iofiles.h"
#include "records/massbal.h"
#include "records/mesh.h"
#include "records/soil.h"

namespace nep {

// Input unit of the atmospheric file and the output file of the HGFLAG messages.
constexpr int kAtmUnit = 12;
constexpr int kHgflagUnit = 33;

// HSPATM value that means no atmospheric input at all.
constexpr int kNoAtmInput = 9999;

// Start of the run (TIME is the end of the first step): reads HSPATM and the records up to TIME,
// marks the surface nodes that carry another boundary condition (IFATM = IFATMP = -1) and makes
// the initial switch of the atmospheric nodes.
void atmone(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
            const soil& sl, flowstate& fs);

// Advances the series to TIME and recomputes the potential fluxes (and the actual fluxes of the
// flux-controlled nodes); nothing is read once the file has ended.
void atmnxt(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh, bcdata& bc);

// Potential fluxes after a back-step to a TIME not after ATMTIM(2).
void atmbak(const dimensions& dim, const control& ctl, const mesh& msh, bcdata& bc);

// The potential transpiration at TIME (TRPOT) formed again, ATMPOT left as it is: a run continued
// from a checkpoint, which holds the potential fluxes but not it.
void atmtrp(const dimensions& dim, const control& ctl, const mesh& msh, bcdata& bc);

// Switching between flux and head control; runs after every nonlinear flow iteration too, so
// nothing in it allocates.
void atmswt(const dimensions& dim, bcdata& bc, const soil& sl, flowstate& fs);

// After a converged step: surface-flux totals of the step (POTFLX, ACTFLX, OVLFLX, RETFLX) and
// the HGFLAG events of the head-controlled nodes, counted and written to unit 33.
void hgraph(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
            const soil& sl, const flowstate& fs, massbal& mb);

// The pressure head above which water stands on the ground: 5 cm of a deck in metres (pondck).
constexpr double kStandingHead = 0.05;

// After a converged step, when the deck has atmospheric input: a flux-controlled surface node
// (IFATM = 0) whose pressure head exceeds kStandingHead (5 cm, in the deck's unit of length when
// the parameter file names it) holds water above the ground that no switching rule releases
// (under evaporation or without input a node does not switch at ponding). Each such episode of
// a node, which ends when the head falls back to the limit or the node switches, is reported
// once, with the deck's node number, TIME and the head, to the main listing and the terminal
// log, and counted in NPONDEP. Collective on several processes.
void pondck(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
            const flowstate& fs);

}  // namespace nep
