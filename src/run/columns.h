// A run on several processes in which each process holds a mesh of its own: its own columns of
// the deck's mesh (those of its part of the surface) and two rings of columns around them. Every
// node of its own columns and of the first ring then has all its tetrahedra, so the sums over the
// tetrahedra around a node (volumes, soil shares, nodal averages) and the rows of its own nodes
// are those of the whole mesh; the second ring only closes the first. The numbers the deck gives
// (boundary-condition lists) are taken into this numbering, 0 for a node the process does not
// hold.
#pragma once

#include <vector>

#include "mesh/blocks.h"
#include "records/state.h"
#include "run/run.h"

namespace nep {

// Whether a deck runs on meshes of their own, built by each process from the deck's surface:
// several processes (and the layers repeating the top one, as every mesh built from a surface
// grid does), and not the mesh-only run (IPRT1 = 3), which writes the whole mesh.
bool holds_own_columns(const dimensions& dim, const iofiles& io);

// What a run on meshes of the processes' own keeps to write the deck's files: no whole mesh and no
// whole nodal array. The writers read the deck's nodes in blocks gathered in turn to process 0
// (mesh/blocks.h, `nodes`); the sums and extremes of the listing are reductions. A run not cut
// keeps nodes.cut false, and its writers read its arrays.
struct deck_view {
    bool on = false;  // process 0 of such a run
    deck_nodes nodes;
};

// A start on several processes builds no whole mesh: the deck's surface is read (mesh::SURFONLY)
// and cut, and each process then builds its own columns and the two rings around them.
// column_maps gives the maps of that mesh (SDECK, SHELD, TDECK, SOWN, NNODW, NTRIW) from the
// deck's surface and the part of every surface node (`deck_parts`, from 0), held_sizes its sizes
// (dim the deck's), and hold_state creates the nodal and elemental state at them, which the
// readers of the initial heads and concentrations fill with the values of its nodes alone.
void column_maps(const dimensions& dim, const mesh& surf, const std::vector<int>& deck_parts, mesh& maps);
void held_sizes(const mesh& maps, dimensions& dim);
void hold_state(const dimensions& dim, const control& ctl, const mesh& maps, flowstate& fs);

// Once the deck is read and its surface built (grid3d): builds this process's columns from the
// deck's surface in R.msh and `maps` (column_maps), with the deck's node and element numbers
// taken into its own, creates every other nodal and elemental array at its sizes, and takes the
// surface nodes' state and the boundary-condition lists into its numbering. V.nodes gets what
// the block writers need: the deck's sizes, this process's own nodes and tetrahedra, and on
// process 0 the part of every column and surface triangle (deck_parts, from 0).
void hold_own_columns(records& R, mesh& maps, const std::vector<int>& deck_parts, deck_view& V);

// Collective, after hold_own_columns: the halo of the rings' surface nodes (mesh::SRING), from
// the part of every surface node of the deck. Nothing in a run not cut.
void ring_halo(mesh& msh, const std::vector<int>& deck_parts);

// Collective, once the patterns are formed: the listing's numbers of stored entries, those of the
// whole mesh (the rows of every process's own nodes). Nothing in a run not cut.
void list_patterns(records& R);
// Collective: standard error says how many nodes the processes hold.
void report_held(const records& R, const deck_view& V);

// Collective, once the boundary conditions are read: checks that the processes' own nodes and
// tetrahedra are the deck's, and lists the nodes that the output of every step reads one by one
// (deck_nodes::watched: the observation nodes, the verticals of the profiles, the nodes of the
// seepage faces), whose values `watch` (mesh/blocks.h) then gathers. Nothing in a run not cut.
void view_start(const records& R, deck_view& V);

// The deck's number of entry i (from 1) of an array of extent e of this process's mesh, and the
// deck's number of entries of such an array, in a run on meshes of the processes' own.
long deck_number(const mesh& msh, extent e, long i);
long deck_size(const records& R, extent e);

}  // namespace nep
