// A run on several processes in which each process holds a mesh of its own: its own columns of
// the deck's mesh (those of its part of the surface) and two rings of columns around them. Every
// node of its own columns and of the first ring then has all its tetrahedra, so the sums over the
// tetrahedra around a node (volumes, soil shares, nodal averages) and the rows of its own nodes
// are those of the whole mesh; the second ring only closes the first. The numbers the deck gives
// (boundary-condition lists) are taken into this numbering, 0 for a node the process does not
// hold.
#pragma once

#include <vector>

#include "records/state.h"
#include "run/run.h"

namespace nep {

// Whether a deck runs on meshes of their own, built by each process from the deck's surface:
// several processes (and the layers repeating the top one, as every mesh built from a surface
// grid does), and not the mesh-only run (IPRT1 = 3), which writes the whole mesh.
bool holds_own_columns(const dimensions& dim, const iofiles& io);

// What the writers of the listing and the result files read, in the deck's numbering, on
// process 0 of a run on meshes of their own: the deck's mesh, and the state gathered from every
// process (view_gather). The VTK pieces are written by every process from its own mesh.
struct whole_view {
    bool on = false;  // process 0 of such a run
    dimensions dim;
    mesh msh;
    bcdata bc;
    soil sl;
    flowstate fs;
    std::vector<long> nodes;  // the deck's number of every node gathered, process after process
    std::vector<int> own;     // every process: the nodes of its own columns, ascending
    // Kept element velocities (NVEL): the tetrahedra of every process's own triangles (those
    // whose first node is its own), and their numbers in the deck on process 0.
    std::vector<int> own_elements;
    std::vector<long> elements;
    std::vector<int> own_surface;  // the surface nodes of the own columns
    std::vector<long> surface;     // process 0: their numbers in the deck
    // The nodes that the output of every step reads (the observation nodes and the nodes of the
    // vertical profiles) among every process's own, and their numbers in the deck on process 0.
    std::vector<int> own_watched;
    std::vector<long> watched;
};

// The records the writers of the listing and the result files read: the view on process 0 of a
// run on meshes of the processes' own (V may be null: no such run), the run's own otherwise;
// `on` is false on the other processes of such a run, which write none of them.
struct writer_records {
    bool on;
    const dimensions& dim;
    const mesh& msh;
    bcdata& bc;
    soil& sl;
    flowstate& fs;
};
writer_records writers(const dimensions& dim, const mesh& msh, bcdata& bc, soil& sl, flowstate& fs,
                       whole_view* V);

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
// surface nodes' state and the boundary-condition lists into its numbering. Process 0 builds the
// deck's mesh for its view in V.
void hold_own_columns(records& R, mesh& maps, whole_view& V);

// Collective, after hold_own_columns: the halo of the rings' surface nodes (mesh::SRING), from
// the part of every surface node of the deck. Nothing in a run not cut.
void ring_halo(mesh& msh, const std::vector<int>& deck_parts);

// Collective, once the patterns are formed: the listing's numbers of stored entries, those of the
// whole mesh (the rows of every process's own nodes). Nothing in a run not cut.
void list_patterns(records& R);
// Collective: standard error says how many nodes the processes hold.
void report_held(const records& R, const whole_view& V);

// Collective, once the initial state is formed: the nodes gathered, and what is fixed from then
// on (VIEW_ONCE: the nodal volumes, tetrahedra around the nodes, porosities). Nothing in a run
// not cut.
// V.own and V.nodes are set on every process and on process 0.
void view_start(const records& R, whole_view& V);
// Collective: the fields the view gathers (records/state.h, VIEW: the heads, characteristics,
// nodal velocities and concentrations of every node, the kept element velocities) to process 0.
void view_gather(const mesh& msh, const bcdata& bc, const soil& sl, const flowstate& fs, whole_view& V);
// Collective: those it gathers at the nodes that the output of every step reads (WATCHED: the
// pressure and total heads, characteristics and concentrations; whole_view::watched).
void view_gather_watched(const mesh& msh, const bcdata& bc, const soil& sl, const flowstate& fs,
                         whole_view& V);
// The exit points and fluxes of the seepage faces (the same on every process) into the view.
void view_faces(const bcdata& bc, whole_view& V);

// The deck's number of entry i (from 1) of an array of extent e of this process's mesh, and the
// deck's number of entries of such an array, in a run on meshes of the processes' own.
long deck_number(const mesh& msh, extent e, long i);
long deck_size(const records& R, extent e);

}  // namespace nep
