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

// Switching between flux and head control; runs after every nonlinear flow iteration too, so
// nothing in it allocates.
void atmswt(const dimensions& dim, bcdata& bc, const soil& sl, flowstate& fs);

// After a converged step: surface-flux totals of the step (POTFLX, ACTFLX, OVLFLX, RETFLX) and
// the HGFLAG events of the head-controlled nodes, counted and written to unit 33.
void hgraph(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
            const soil& sl, const flowstate& fs, massbal& mb);

}  // namespace nep
