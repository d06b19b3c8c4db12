// Element geometry and node connectivity: surface node areas, element volumes and orientation,
// basis coefficients, nodal volumes, node-element counts and nodal soil averages.
#pragma once

#include "records/control.h"
#include "records/dimensions.h"
#include "records/iofiles.h"
#include "records/mesh.h"
#include "records/soil.h"
#include "records/sparse.h"

namespace nep {

// ARENOD: a third of the plan area of every surface triangle to each of its vertices.
// control gives the dialect (the second program has no zero-area message).
void area2d(dimensions& dim, const control& ctl, iofiles& io, mesh& msh);

// IVOL, VOLUR, VOLINV of every tetrahedron; a zero volume stops the run.
void volumet(iofiles& io, int NT, const int (&IP4)[5][5], const arr2<int>& TETRA, const arr1<double>& X,
             const arr1<double>& Y, const arr1<double>& Z, arr1<int>& IVOL, arr1<double>& VOLUR,
             arr1<double>& VOLINV);

// BI, CI, DI (4, NT): signed basis coefficients of the four vertices of every tetrahedron.
void basfun(int NT, const int (&IP4)[5][5], const arr2<int>& TETRA, const arr1<double>& X,
            const arr1<double>& Y, const arr1<double>& Z, arr2<double>& BI, arr2<double>& CI,
            arr2<double>& DI);

// volumet, basfun, then VOLNOD.
void elmgeo(dimensions& dim, control& ctl, iofiles& io, mesh& msh, sparse& sp);

// NCONT and the nodal averages SNODI, PORNOD; stops when a node belongs to no tetrahedron.
void tpnodic(dimensions& dim, control& ctl, iofiles& io, mesh& msh, soil& sl);

}  // namespace nep
