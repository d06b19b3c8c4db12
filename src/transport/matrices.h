// Element matrices of the advection-dispersion equation, the system of one transport solve and
// its solution (Picard and Newton forms), and the boundary fluxes of the transport balance.
//
// K (dispersion and advection) is assembled into sp.AMATC and M (mass) into sp.BMATC on the
// transport pattern; the right-hand side goes to sp.RHSC. lhstrn then turns AMATC into the system
// matrix A = TETAC K + M/DELTAT.
#pragma once

#include "solvers/linsys.h"

#include "records/control.h"
#include "records/cpustat.h"
#include "records/dimensions.h"
#include "records/flowstate.h"
#include "records/iofiles.h"
#include "records/mesh.h"
#include "records/soil.h"
#include "records/sparse.h"
#include "records/transport.h"

namespace nep {

// Rotates the four vertices (X, Y, Z) of an element into the frame of its Darcy velocity q: the
// first axis along q, the other two across it. A zero velocity leaves the coordinates as they
// are; a vertical velocity (no horizontal part) takes the axes in the order (z, x, y). The
// rotation is proper, so the orientation of the element is kept.
void rotvel(double qx, double qy, double qz, const double X[4], const double Y[4],
            const double Z[4], double XR[4], double YR[4], double ZR[4]);

// The basis coefficients (b', c', d') of the four vertices from the rotated coordinates: signed
// cofactors divided by 6, with the same alternating signs as the element geometry uses.
void rotcof(const int (&IP4)[5][5], const double XR[4], const double YR[4], const double ZR[4],
            double B[4], double C[4], double D[4]);

// Element loop: K (dispersion with D_L and D_T in the velocity frame, plus Galerkin advection)
// added into sp.AMATC and M (retardation and water content times the template sp.LMASSC) into
// sp.BMATC. The caller clears both first. Uses the element velocities VX, VY, VZ, the element
// saturations (the mean of SW), POROSITY, ALFAL, ALFAT, RETARD and DIFFUS.
void asmtrn(const dimensions& dim, const control& ctl, const mesh& msh, const soil& sl,
            sparse& sp, const flowstate& fs);

// The element routine of the Newton step. It assembles the same K and M as asmtrn: the Newton
// step then works with the Picard matrix in place of the exact Jacobian, which keeps it
// convergent (more slowly) and makes its residual vanish at the Picard solution.
void asmtrnw(const dimensions& dim, const control& ctl, const mesh& msh, const soil& sl,
             sparse& sp, const flowstate& fs);

// sp.RHSC(i) = sum_j (M_ij/DELTAT - (1 - TETAC) K_ij) CSAVE_j.
void rhstrn(const dimensions& dim, const control& ctl, sparse& sp, const flowstate& fs);

// sp.AMATC = TETAC K + M/DELTAT, in place of K.
void lhstrn(const dimensions& dim, const control& ctl, sparse& sp);

// Newton residual: sp.RHSC = b - A CNEW (b in sp.RHSC, A in sp.AMATC on entry).
void restrn(const dimensions& dim, sparse& sp, const flowstate& fs);

// The Dirichlet rows i = DIRNODC(k) declared to the transport system `ls`, whose solver imposes
// them (and keeps the diagonals the assembly formed): the concentration DIRVALC(k), or with
// `increment` the change DIRVALC(k) - CNEW(i). After the solve, CNEW(i) = DIRVALC(k) exactly
// (rstdgc), so that the boundary fluxes see the prescribed values.
void savdgc(const dimensions& dim, const transport& tra, const flowstate& fs, linear_system& ls,
            bool increment);
void rstdgc(const dimensions& dim, const transport& tra, flowstate& fs);

// Boundary fluxes of the transport balance (positive into the domain): for every Dirichlet node
// i = DIRNODC(k), FLUX(k) = (A C)_i - RHS(i); for every Cauchy node i = CAUNOD(j),
// FLUX(NPC + j) = (A C)_i - RHS(i) - WCAU CAUADV(j) C(i), where WCAU is the weight with which
// the Cauchy coefficient sits in the diagonal of A (0 before the boundary conditions are
// imposed, the step's weight after them). A is the assembled matrix (the solver puts back what it
// imposed on the Dirichlet rows) and
// RHS the right-hand side before the boundary conditions (RHSSAV after a solve).
void trnflx(const dimensions& dim, const transport& tra, const sparse& sp, double WCAU,
            const arr1<double>& A, const arr1<double>& RHS, const arr1<double>& C,
            arr1<double>& FLUX);

// One Picard transport solve: assemble, initial boundary fluxes (first coupled iteration of the
// first step, into TRFLXP), Cauchy conditions, Dirichlet rows declared, linear solve for CNEW
// with the solver chosen by ISOLVC, Dirichlet values set. The linear
// iterations go to ITLTRN (this solve), ITLINSC (step) and ITLINC (run).
void unsattrn(dimensions& dim, control& ctl, iofiles& io, cpustat& cpu, const mesh& msh,
              transport& tra, soil& sl, sparse& sp, flowstate& fs);

// One Newton transport solve: as unsattrn, but for the increment of CNEW from the residual
// (restrn), with the Dirichlet rows asking for DIRVALC - CNEW and the Cauchy rows holding their
// full residual. RHSSAV keeps b, so that trnflx serves both forms. The increment is solved into
// sp.DELTA, which the flow step leaves free once it has converged.
void unsatrnw(dimensions& dim, control& ctl, iofiles& io, cpustat& cpu, const mesh& msh,
              transport& tra, soil& sl, sparse& sp, flowstate& fs);

}  // namespace nep
