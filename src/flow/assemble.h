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

// The storage of the mass-conservative scheme (KSLOPE = 5), lumped on the nodes whatever LUMP
// is, after sysmat and rhsgrv: RHS(i) -= V(i)*r(i)*(WNEW(i) - WSAVE(i))/DELTAT and the diagonal
// of the system matrix += V(i)*r(i)*STCOEF(i)/DELTAT, with V the nodal volume and r the node's
// relative density 1 + EPSLON*c (c weighted by TETAF between the two time levels; 1 in a
// flow-only run). At convergence the stored change is the change of the water held, whatever
// the slope STCOEF is.
void stornod(const dimensions& dim, const control& ctl, const mesh& msh, const soil& sl,
             sparse& sp, const density& rho);

// Position of the diagonal of row i: the first entry in symmetric storage, found among the
// row's ascending columns in full storage.
inline int diag_pos(const sparse& sp, int i, bool full) {
    const int k0 = sp.IA(i);
    if (!full) return k0;
    int lo = k0, hi = sp.IA(i + 1) - 1;
    while (lo <= hi) {
        const int mid = (lo + hi) / 2;
        const int c = sp.JA(mid);
        if (c == i) return mid;
        if (c < i) lo = mid + 1;
        else hi = mid - 1;
    }
    return 0;  // a node without its diagonal belongs to no element: refused by the geometry
}

}  // namespace nep
