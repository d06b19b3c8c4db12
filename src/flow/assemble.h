// Element matrices of the flow equation and the system of one nonlinear iteration: the
// conductance matrix AMAT, the storage matrix BMAT, the Newton derivative matrix JMAT and the
// residual RHS.
#pragma once

#include "records/control.h"
#include "records/dimensions.h"
#include "records/flowstate.h"
#include "records/mesh.h"
#include "records/soil.h"
#include "records/sparse.h"

namespace nep {

// Concentrations that couple density and viscosity into the flow equation; cnew == nullptr in a
// flow-only run (relative density and viscosity 1).
struct density {
    const double* cnew = nullptr;  // new time level, 1-based (cnew[1..N])
    const double* cold = nullptr;  // previous time level
    double eps = 0.0;              // EPSLON: relative density 1 + EPSLON*c
    bool on() const { return cnew != nullptr; }
};

// The local mass template of a tetrahedron (divided by its volume): lumped or consistent.
void lmass(int lump, double T[5][5]);

void asmpic(const dimensions& dim, const control& ctl, const mesh& msh, const soil& sl, sparse& sp,
            const density& rho);
void asmosc(const dimensions& dim, const control& ctl, const mesh& msh, const soil& sl, sparse& sp,
            const density& rho);
void asmnew(const dimensions& dim, const control& ctl, const mesh& msh, const soil& sl, sparse& sp,
            const flowstate& fs, const density& rho);
void rhsres(const dimensions& dim, const control& ctl, sparse& sp, const flowstate& fs);
void sysmat(const dimensions& dim, const control& ctl, sparse& sp);
void rhsgrv(const dimensions& dim, const control& ctl, const mesh& msh, const soil& sl, sparse& sp,
            const density& rho);

}  // namespace nep
