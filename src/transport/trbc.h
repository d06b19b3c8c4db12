// Transport boundary conditions: the boundary file (prescribed concentrations and Cauchy nodes)
// and their imposition on each assembled transport system.
#pragma once

#include "records/control.h"
#include "records/dimensions.h"
#include "records/iofiles.h"
#include "records/transport.h"

namespace nep {

// Reads the transport boundary-condition file (unit 18): NP2C and the surface Dirichlet nodes
// DIR2DC with their concentrations (DIRVALC(1..NP2C)), NPFC and the fixed Dirichlet nodes with
// theirs (the tail of DIRNODC and DIRVALC), NPC, NMC and the Cauchy nodes CAUNOD with CAUTOT and
// CAUADV. The replicated part of DIRNODC and DIRVALC is filled with the 3-D mesh. Stops on a node
// outside the mesh and on counts that disagree with the storage.
void read_transp_bc(dimensions& dim, const control& ctl, iofiles& io, transport& tra);

// Imposes the Cauchy conditions on the assembled system A c = RHS of one iteration (A on the
// transport pattern IAC/JAC): saves RHS in RHSSAV(1..N); adds w*CAUTOT to RHS and w*CAUADV to
// the diagonal of each Cauchy node, w = 0.5 in step 1 and 1 afterwards. The Dirichlet rows are
// declared to the linear system, whose solver imposes them (savdgc, transport/matrices.h).
void bctrn(int N, int NSTEP, int NMC, const arr1<int>& CAUNOD, const arr1<int>& IAC,
           const arr1<int>& JAC, arr1<double>& RHS, arr1<double>& RHSSAV,
           const arr1<double>& CAUTOT, const arr1<double>& CAUADV, arr1<double>& A);

}  // namespace nep
