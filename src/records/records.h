// The records floor: every record of a run, one header each (dimensions, control, iofiles,
// cpustat, mesh, sparse, soil, bcdata, flowstate, transport, massbal, and the surface water of
// the surface-flow section), with the creation and
// release of its arrays, and the input-error stops that every deck reader shares. It includes
// only the base floor.
//
// The eleven records of one run, owned together by the main program, which hands each routine
// the ones it needs.
#pragma once

#include "records/bcdata.h"
#include "records/control.h"
#include "records/cpustat.h"
#include "records/dimensions.h"
#include "records/flowstate.h"
#include "records/iofiles.h"
#include "records/massbal.h"
#include "records/mesh.h"
#include "records/soil.h"
#include "records/sparse.h"
#include "records/surface.h"
#include "records/transport.h"

namespace nep {

struct records {
    dimensions dim;
    control ctl;
    iofiles io;
    mesh msh;
    bcdata bc;
    transport tra;
    soil sl;
    sparse sp;
    flowstate fs;
    massbal mb;
    cpustat cpu;
    surface sf;
};

}  // namespace nep
