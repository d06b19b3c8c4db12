// The surface package: water on the ground flows over the surface triangles to its outlets.
//
// Depth of water d = max(psi, 0) at every surface node, psi its pressure head; mobile depth
// m = max(d - DEPST, 0). Between the nodes i, j of an edge of triangle e flows
//   F_ij = w_ij * K_e * m_up^(5/3) * (H_i - H_j),   K_e = (1/n_e) / sqrt(max(S_e, SMIN)),
// the diffusion wave (H = z + d, S_e the slope of H over the triangle, m_up the mobile depth of
// the node of the higher H), or under the kinematic wave the same with z for H (the friction
// slope is the ground slope). w_ij is the weight of the edge in the linear triangle's Laplacian:
// summed over the triangles, F is the control-volume flux of Manning's law between the nodes'
// areas ARENOD. The node's row of the flow system gains the storage A (d - d_old)/DELTAT, the
// fluxes to its neighbours and its discharge at an outlet, implicit in time, linearised about
// the iterate (the lateral terms symmetric, so that the Picard system stays symmetric).
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
#include "records/sparse.h"
#include "records/surface.h"

namespace nep {

// The slope of the water surface below which the conveyance stops growing (flat ground, ponds).
constexpr double kSurfaceMinSlope = 1.0e-5;

// The keywords of the section, each the first word of a line after the last record of the
// parameter file.
bool surface_keyword(const std::string& key);
// Reads the rest of one line of the section (`in` after its keyword, `key` in capitals); `where`
// is "parameter file 'parm' line 22: " for the messages. Stops on a bad value.
void surface_read(surface& sf, const std::string& key, std::istringstream& in, long line,
                  const std::string& where);

// After the grid has been read and the 3-D mesh built (every surface node and triangle of the
// deck): checks the section against the mesh (material codes, outlet nodes on the boundary),
// forms what the outlets need from the whole surface, and echoes the section to the listing.
void surface_check(const dimensions& dim, iofiles& io, const mesh& msh, surface& sf);

// Once the mesh of this process and the flow matrix pattern are final: the triangle coefficients
// and the matrix positions of the edges, and the outlet nodes held here.
void surface_setup(const dimensions& dim, const control& ctl, const mesh& msh, const sparse& sp,
                   surface& sf);

// The surface terms of one flow iteration, after the soil's assembly: into sp.AMAT (symmetric
// storage, or full with `full`) and sp.RHS, the system being in increments of PNEW. The rain
// (and evaporation) of the surface nodes with another condition goes to their rows too: it joins
// the water on the ground, and leaves through their condition when they are held.
void surfasm(const dimensions& dim, const control& ctl, const mesh& msh, const bcdata& bc,
             const flowstate& fs, sparse& sp, const surface& sf, bool full);

// The update of an iteration crosses the ground at no surface node: a head that would go from
// below the ground to above it (or back) stops at the ground, where the next iteration takes
// the storage of the standing water into account (or leaves it out). A change that reverses
// the last one of the node without being much smaller (the iteration swinging between two
// states, as the limited depth on an edge can make it) is halved. Nodes held at a head (another
// condition, or air-dry) keep the change the solve gave them, from which their flux is formed.
// Returns whether a change was halved on any process (the iterate is then no solution of the
// step). Collective on several processes.
bool surface_limit(const dimensions& dim, const control& ctl, const mesh& msh, const bcdata& bc,
                   const flowstate& fs, const surface& sf, arr1<double>& delta);

// The depth-averaged velocity of the water on the ground at the surface nodes (NNOD each): in
// every triangle Manning's velocity (1/n) m^(2/3) S^(1/2) down the slope of the water surface
// (of the ground under the kinematic wave), m the mean mobile depth of its corners; at a node the
// mean of its triangles weighted by their areas.
void surface_velocity(const dimensions& dim, const mesh& msh, const arr1<double>& p,
                      const surface& sf, arr1<double>& vx, arr1<double>& vy);

// The largest imbalance of the water of a flux-controlled surface node in the system of the
// iteration (its right-hand side after the boundary conditions), as a depth over the node's area
// in the step; 0 in a steady-state run. Collective on several processes.
double surface_imbalance(const dimensions& dim, const control& ctl, const mesh& msh,
                         const bcdata& bc, const sparse& sp);

// The surface part of the balance of a converged step, from PSAVE to PNEW: SSTORE, the outlet
// discharges and volumes, the exchange with the soil (VINF, VEXF). Collective on several
// processes with meshes of their own.
void surfmb(const dimensions& dim, const control& ctl, const mesh& msh, const bcdata& bc,
            const flowstate& fs, surface& sf, massbal& mb);
}  // namespace nep
