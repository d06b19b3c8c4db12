// Result files: detailed nodal output of the whole mesh or of one horizontal section, element
// velocities, surface maps, vertical profiles, concentrations, the partial output of chosen nodes
// in the main listing, and the column heads of the time-series files. `dn`: the deck's nodes of
// a run whose processes hold their own columns (mesh/blocks.h; dim, msh and the state are then
// this process's, and every process calls the writer); null: the arrays are the deck's.
#pragma once

#include "records/bcdata.h"
#include "records/control.h"
#include "records/dimensions.h"
#include "records/flowstate.h"
#include "records/iofiles.h"
#include "records/mesh.h"
#include "records/soil.h"


namespace nep {

struct deck_nodes;

// The detailed output: with current false the initial state (TIMEP, step 0), else TIME and
// NSTEP. Flow files through detprf; concentration files through detprc when ITRANS != 0 (CNEW).
void detout(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
            const soil& sl, const flowstate& fs, bool current, const deck_nodes* dn = nullptr);

// Flow files at time t of step s: nodal heads (35), velocities (36), relative conductivities (39),
// saturations (38) and element velocities (40) by IPRT, of the whole mesh (ISEC = 0) or of
// section ISEC; vertical profiles (29) when NUMVP > 0; the surface maps of heads (41), SATSUR
// (42, which is set here) and saturations (43) always.
void detprf(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
            const soil& sl, const flowstate& fs, double t, int s, const deck_nodes* dn = nullptr);

// Concentration files at time t of step s: nodal (37, by IPRT and ISEC), profiles (30) and the
// surface map (44), of the nodal concentrations C.
void detprc(const dimensions& dim, iofiles& io, const mesh& msh, const arr1<double>& C, double t,
            int s, const deck_nodes* dn = nullptr);

// Partial output of a coupled step to the main listing: IPOUT(1..NR) with PNEW (write_pot) or
// the concentration (write_conc). Nothing when NR <= 0.
void write_pot(iofiles& io, int NR, const arr1<int>& IPOUT, const arr1<double>& PNEW,
               const deck_nodes* dn = nullptr);
void write_conc(iofiles& io, int NR, const arr1<int>& IPOUT, const arr1<double>& C,
                const deck_nodes* dn = nullptr);

// Partial output of a flow step to the main listing ("SOLUZIONE SUI NODI DI OUTPUT"):
// PNEW, SW and CKRW of the IPOUT nodes, two nodes per line. Nothing when NR <= 0.
void write_partial(const dimensions& dim, iofiles& io, const soil& sl, const flowstate& fs,
                   const deck_nodes* dn = nullptr);

// Column heads of the time-series files, once before the first step.
void file_header(const control& ctl, iofiles& io, const soil& sl);

}  // namespace nep
