// Darcy velocities: per element from the potential heads, and their nodal averages.
#pragma once

#include "records/control.h"
#include "records/dimensions.h"
#include "records/flowstate.h"
#include "records/mesh.h"
#include "records/soil.h"
#include "records/sparse.h"

namespace nep {

// Element Darcy velocities VX, VY, VZ from the gradient of HPOT and the element relative
// conductivity (the mean of CKRW), with the conductivities of the element's layer and material:
// q = -kr (XPERM dH/dx, YPERM dH/dy, ZPERM dH/dz). In a coupled run (ITRANS != 0) the
// concentration C (CNEW when not given) adds the buoyancy EPSLON*c to dH/dz and the relative
// viscosity 1 + EPSLON1*c divides every component, c being the mean of C over the element.
void velele(const dimensions& dim, const control& ctl, const mesh& msh, const soil& sl,
            flowstate& fs, const arr1<double>* C = nullptr);

// VXNOD, VYNOD, VZNOD: each node's mean of the element velocities around it (NCONT elements).
void velnod(const dimensions& dim, const mesh& msh, flowstate& fs);

// velele, velnod; when the element velocities are not kept (VX empty: flow-only runs that do
// not write them) only the nodal means, as velnod_of forms them.
void velcmp(const dimensions& dim, const control& ctl, const mesh& msh, soil& sl,
            flowstate& fs, const arr1<double>* C = nullptr);

// The Darcy velocity q of element e of the current state, as velele forms it (with CNEW in a
// coupled run).
void velocity_of(const dimensions& dim, const control& ctl, const mesh& msh, const soil& sl,
                 const flowstate& fs, long e, double q[3]);

// The nodal means of velnod into vx, vy, vz (N each) without keeping the element velocities:
// each element's velocity is added to its vertices as it is formed, in the order velnod adds
// them, so that the means are those of velele and velnod to the last bit.
void velnod_of(const dimensions& dim, const control& ctl, const mesh& msh, const soil& sl,
               const flowstate& fs, const arr1<double>* C, arr1<double>& vx, arr1<double>& vy,
               arr1<double>& vz);

}  // namespace nep
