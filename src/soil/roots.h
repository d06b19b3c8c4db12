// Root water uptake: the roots section of the parameter file, the weights of the nodes in their
// columns' uptake, the sink in the flow system and its balance (records/roots.h).
#pragma once

#include <sstream>
#include <string>

#include "records/bcdata.h"
#include "records/control.h"
#include "records/dimensions.h"
#include "records/flowstate.h"
#include "records/iofiles.h"
#include "records/massbal.h"
#include "records/mesh.h"
#include "records/roots.h"
#include "records/sparse.h"

namespace nep {

// The keywords of the section, each the first word of a line after the last record of the
// parameter file.
bool roots_keyword(const std::string& key);
// Reads the rest of one line of the section (`in` after its keyword, `key` in capitals); `where`
// is "parameter file 'parm' line 22: " for the messages. Stops on a bad value.
void roots_read(roots& rt, const std::string& key, std::istringstream& in, long line,
                const std::string& where);

// After the grid has been read (every surface triangle of the deck): checks the section against
// the material codes of the surface triangles and the rest of the deck, and echoes it to the
// listing.
void roots_check(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh,
                 roots& rt);

// Once the mesh of this process and the flow matrix pattern are final: the root density of every
// node, the share of every surface node's demand that is transpiration (bc.TRFRAC, with bc.TRPOT
// sized), the diagonal positions. Before the atmospheric input is first read.
void roots_setup(const dimensions& dim, const mesh& msh, const sparse& sp, bcdata& bc, roots& rt);
// Once the nodal volumes are formed (elmgeo): the weight of every node in its column's uptake,
// its root density times its volume over the column's sum.
void roots_weights(const dimensions& dim, const mesh& msh, roots& rt);

// Feddes' reduction at pressure head h, and its derivative in da.
double feddes(const roots& rt, double h, double& da);

// The sink of one flow iteration, after the soil's assembly, at the iterate PNEW and the
// potential transpiration at TIME (implicit in time whatever TETAF): out of sp.RHS, and its
// derivative onto the diagonal (Newton), or the part of it that keeps the Picard system
// symmetric positive definite (the growth of the uptake with the head in the dry range).
void rootasm(const dimensions& dim, const flowstate& fs, const bcdata& bc, sparse& sp, roots& rt,
             bool newton);

// The uptake of a converged step: the potential and actual volumes (UPTPOT, UPTVOL) from the
// sink of the last iteration. Collective on several processes.
void rootmb(const dimensions& dim, const control& ctl, const mesh& msh, const bcdata& bc,
            const roots& rt, massbal& mb);

}  // namespace nep
