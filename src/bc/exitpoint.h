// Seepage-face exit points. On each face the nodes from the exit point down are saturated and
// held at pressure head 0; the nodes above it carry no flux. The exit point starts from the
// initial heads and is moved after every nonlinear flow iteration: lowered below a saturated
// node that draws water in, raised over unsaturated nodes that have become saturated. Unusual
// situations are the SFFLAG events, counted in bc.SFFLAG(1..5) and written to unit 134 together
// with the exit-point listings.
#pragma once

#include "records/bcdata.h"
#include "records/control.h"
#include "records/dimensions.h"
#include "records/flowstate.h"
#include "records/iofiles.h"
#include "records/mesh.h"

namespace nep {

// Output file of the SFFLAG messages and of the exit-point listings.
constexpr int kSfflagUnit = 134;

// Once, after the initial conditions and bcinit: the exit point of each face is the highest
// node whose initial pressure head (PSAVE) is not negative; PSAVE and PNEW are set to 0 from
// there to the bottom of the face. IEXITP and IEXOLD start equal to IEXIT. A face without exit
// point is SFFLAG(1), a face saturated to the top SFFLAG(2), both reported at TIMEP with ITER 0.
// Also sets SFCHK (NSF > 0 and ISFCVG = 1), zeroes the run counters SFFAIL, SFFAILT and
// SFFLAG(1..5), and the face fluxes SFQ and SFQOLD.
void sfinit(const dimensions& dim, const control& ctl, iofiles& io, bcdata& bc, flowstate& fs);

// After a nonlinear iteration: moves the exit points over any number of nodes (ISFONE = 0), then
// extcvg. A face whose saturated part draws water in anywhere is lowered below the lowest such
// node; otherwise it is raised over the unbroken run of non-negative heads above it.
void extall(const dimensions& dim, const control& ctl, iofiles& io, bcdata& bc, flowstate& fs);

// The same, moving each exit point by at most one node (ISFONE != 0), then extcvg.
void extone(const dimensions& dim, const control& ctl, iofiles& io, bcdata& bc, flowstate& fs);

// Counts the faces whose exit point differs from IEXITP into bc.SFNCVG (also returned) and writes
// the previous and current exit points, with their node numbers, to unit 134.
int extcvg(const dimensions& dim, const control& ctl, iofiles& io, bcdata& bc);

// A process of several with a mesh of its own (mesh::cut): the heads P of every face node, from
// their own processes, into bc.SFH, for the moves of the exit points above (collective; nothing
// otherwise).
void share_face_heads(const dimensions& dim, const mesh& msh, const arr1<double>& P, bcdata& bc);

// The node at position i of face k as the deck numbers it.
inline int face_node(const bcdata& bc, int k, int i) {
    return bc.SFDECK.empty() ? bc.SFNOD(k, i) : bc.SFDECK(k, i);
}

}  // namespace nep
