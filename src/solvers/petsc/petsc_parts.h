// The columns of the mesh in parts, one part a process, for the PETSc solves of a run on
// several processes (solvers/petsc/petsc_matrix.cpp). A column is a surface node with every node below
// it; the surface grid (its nodes, joined by the edges of its triangles) is cut by PETSc's graph
// partitioner (PT-Scotch when PETSc has it) into parts of as many columns, and so of as many
// nodes, as it can make alike. A column never spans two parts: the column solves, the vertical
// profiles and the seepage faces stay on one process.
//
// The unknowns are numbered anew so that each process owns one range of them: the parts in
// order, and within a part its nodes layer by layer from the surface down, its columns in the
// order of their surface nodes (as the mesh numbers its nodes: within a part, the node below
// row r is row r + ncol).
#pragma once

#include <petscsys.h>

#include <memory>
#include <vector>

#include "records/dimensions.h"
#include "records/mesh.h"

namespace nep {

struct column_parts {
    int nparts = 1, rank = 0;
    std::vector<int> part;         // (NNOD) the part of the column of every surface node held
    PetscInt columns = 0;          // the columns of the deck's mesh
    std::vector<PetscInt> first;   // (nparts + 1) the first unknown of every part
    std::vector<PetscInt> cfirst;  // (nparts + 1) the first column of every part
    std::vector<PetscInt> number;  // (N) the new number of every node held, both from 0
    std::vector<PetscInt> rows;    // the nodes (from 0) of this process's rows, in their order
    PetscInt lo = 0, hi = 0;       // this process's rows: lo .. hi-1
    PetscInt ncol = 0;             // its columns
};

// The part of every surface node of the deck, from 0 (collective on PETSC_COMM_WORLD): process 0
// cuts the surface grid, every process gets the whole partition.
std::vector<int> cut_surface(const dimensions& dim, const mesh& msh);
// The parts of the columns and the numbering of the unknowns, from the parts of the deck's
// surface nodes (`deck_parts`), for the mesh this process holds: the whole mesh, or its own
// columns with the rings around them (mesh::cut).
std::shared_ptr<const column_parts> number_columns(const std::vector<int>& deck_parts,
                                                   const dimensions& dim, const mesh& msh);

}  // namespace nep
