#include "transport/matrices.h"

#include <cmath>
#include <string>

#include "base/format.h"
#include "base/stop.h"
#include "base/timer.h"
#include "flow/elavg.h"
#include "mesh/geometry.h"
#include "solvers/linsys.h"
#include "transport/trbc.h"

namespace nep {

namespace {

// Sign table of the basis formula; entry 5 serves s(m+1) for m = 4.
constexpr double kSign[6] = {0.0, -1.0, 1.0, -1.0, 1.0, -1.0};


// (A x)_i over the transport pattern.
double row_dot(const sparse& sp, const arr1<double>& A, int i, const arr1<double>& x) {
    const arr1<int>& IAC = sp.IAC();
    const arr1<int>& JAC = sp.JAC();
    double s = 0.0;
    for (int k = IAC(i); k < IAC(i + 1); ++k) s += A(k) * x(JAC(k));
    return s;
}

// Weight of the Cauchy terms in the system of the current step.
inline double cauchy_weight(const control& ctl) { return ctl.NSTEP == 1 ? 0.5 : 1.0; }

// Clear, assemble, right-hand side and system matrix: the part both solves share.
void build_system(const dimensions& dim, const control& ctl, cpustat& cpu, const mesh& msh,
                  const soil& sl, sparse& sp, const flowstate& fs, bool newton) {
    {
        timed_phase t(cpu.TT[1]);
        sp.AMATC.fill(0.0);
        sp.BMATC.fill(0.0);
    }
    {
        timed_phase t(cpu.TT[2]);
        if (newton) asmtrnw(dim, ctl, msh, sl, sp, fs);
        else asmtrn(dim, ctl, msh, sl, sp, fs);
    }
    {
        timed_phase t(cpu.TT[3]);
        rhstrn(dim, ctl, sp, fs);
    }
    {
        timed_phase t(cpu.TT[4]);
        lhstrn(dim, ctl, sp);
    }
}

// At the first coupled iteration of the first step, the boundary fluxes at the initial
// concentrations become the previous fluxes of the first balance. b is still in RHSC and A has
// no boundary terms yet.
void initial_fluxes(const dimensions& dim, const control& ctl, cpustat& cpu, transport& tra,
                    const sparse& sp, const flowstate& fs) {
    if (ctl.NSTEP != 1 || ctl.ITERC != 1) return;
    timed_phase t(cpu.TT[7]);
    trnflx(dim, tra, sp, 0.0, sp.AMATC, sp.RHSC, fs.CNEW, tra.TRFLXP);
}

// The linear solve of either form, with its banner, trace and the stop of the direct flow
// solver's runs; x receives the solution.
void solve(dimensions& dim, control& ctl, iofiles& io, cpustat& cpu, sparse& sp, arr1<double>& x) {
    wfree(io.out(6), " >>> LINEAR SOLUTION OF TRANSPORT EQ. >>>:");
    int niter = 0, ier = 0;
    {
        timed_phase t(cpu.TT[6]);
        transport_system(dim, ctl, sp, cpu).solve(io.out(6), io.STDOUT, x, niter, ier);
    }
    wfree(io.out(6), " ");  // a line of two blanks
    if (ier != 0) {
        // Only the direct solver returns a code, and with a code its solution is 0: carrying on
        // would replace the concentrations by zeros, so the run stops whatever ISOLV is.
        if (ctl.ISOLV == 3) {
            wfree(io.out(6), " STOP: ISOLV .EQ. 3 .AND. IERSYM .NE. 0");
            wfree(io.STDOUT, " STOP: ISOLV .EQ. 3 .AND. IERSYM .NE. 0");
            stop_run(EXIT_ERROR);
        }
        input_error("transport equation: the direct solver (ISOLVC = " + std::to_string(ctl.ISOLVC) +
                    ") failed with code " + std::to_string(ier));
    }
    ctl.ITLTRN = niter;
    ctl.ITLINSC += niter;
    ctl.ITLINC += niter;
}

}  // namespace

void rotvel(double qx, double qy, double qz, const double X[4], const double Y[4],
            const double Z[4], double XR[4], double YR[4], double ZR[4]) {
    const double q = std::sqrt(qx * qx + qy * qy + qz * qz);
    const double h = std::sqrt(qx * qx + qy * qy);
    for (int m = 0; m < 4; ++m) {
        if (q == 0.0) {
            XR[m] = X[m];
            YR[m] = Y[m];
            ZR[m] = Z[m];
        } else if (h == 0.0) {
            XR[m] = Z[m];
            YR[m] = X[m];
            ZR[m] = Y[m];
        } else {
            XR[m] = (qx * X[m] + qy * Y[m] + qz * Z[m]) / q;
            YR[m] = (qy * X[m] - qx * Y[m]) / h;
            ZR[m] = (qx * qz * X[m] + qz * qy * Y[m] - h * h * Z[m]) / (h * q);
        }
    }
}

void rotcof(const int (&IP4)[5][5], const double XR[4], const double YR[4], const double ZR[4],
            double B[4], double C[4], double D[4]) {
    // cof(a, b) = a_j1 (b_j2 - b_j3) + a_j2 (b_j3 - b_j1) + a_j3 (b_j1 - b_j2)
    auto cof = [](const double* a, const double* b, int j1, int j2, int j3) {
        return a[j1] * (b[j2] - b[j3]) + a[j2] * (b[j3] - b[j1]) + a[j3] * (b[j1] - b[j2]);
    };
    for (int m = 1; m <= 4; ++m) {
        const int j1 = IP4[2][m] - 1, j2 = IP4[3][m] - 1, j3 = IP4[4][m] - 1;
        B[m - 1] = kSign[m] * cof(YR, ZR, j1, j2, j3) / 6.0;
        C[m - 1] = kSign[m + 1] * cof(XR, ZR, j1, j2, j3) / 6.0;
        D[m - 1] = kSign[m] * cof(XR, YR, j1, j2, j3) / 6.0;
    }
}

void asmtrn(const dimensions& dim, const control& ctl, const mesh& msh, const soil& sl,
            sparse& sp, const flowstate& fs) {
    double* K = sp.AMATC.data() - 1;
    double* M = sp.BMATC.data() - 1;
    const posmap& IPOSC = sp.IPOSC();
    tetra_geo geo;
    element_runs(sp, dim.NT, [&](long first, long last) {
        for (long e = first; e <= last; ++e) {
            const int L = (int)((e - 1) / dim.NTRI3) + 1;
            int t[5];
            msh.TETRA.nodes(e, t);
            const int mat = t[4];
            const double qx = fs.VX(e), qy = fs.VY(e), qz = fs.VZ(e);
            const double q = std::sqrt(qx * qx + qy * qy + qz * qz);
            const double theta = sl.POROSITY(L, mat) * elmean(sl.SW, t);
            const double dl = theta * sl.DIFFUS + sl.ALFAL(L, mat) * q;
            const double dt = theta * sl.DIFFUS + sl.ALFAT(L, mat) * q;
            tetra_geometry(msh, e, geo);
            const double f = geo.volinv;
            const double g = theta * geo.vol * sl.RETARD(L, mat);
            const double s4 = geo.sign * 0.25;

            double X[4], Y[4], Z[4], XR[4], YR[4], ZR[4], B[4], C[4], D[4];
            for (int m = 0; m < 4; ++m) {
                const int n = t[m];
                X[m] = msh.X(n);
                Y[m] = msh.Y(n);
                Z[m] = msh.Z(n);
            }
            rotvel(qx, qy, qz, X, Y, Z, XR, YR, ZR);
            rotcof(ctl.IP4, XR, YR, ZR, B, C, D);

            // Advection of column j, the same in every row: (V/4) q . grad(phi_j).
            const double *bi = geo.b, *ci = geo.c, *di = geo.d;
            double adv[4];
            for (int j = 0; j < 4; ++j) adv[j] = s4 * (qx * bi[j] + qy * ci[j] + qz * di[j]);

            int pos[16];
            IPOSC.positions(IPOSC.at(e, L, e - (L - 1) * dim.NTRI3), t, sp.IAC().data(), pos);
            // The dispersion block is symmetric: each pair is formed once and added to both of its
            // entries, so the two triangles of K receive the same sums in the same order.
            for (int i = 0; i < 4; ++i) {
                for (int j = i; j < 4; ++j) {
                    const double d = f * (dl * B[i] * B[j] + dt * (C[i] * C[j] + D[i] * D[j]));
                    const double m = g * sp.LMASSC[i + 1][j + 1];
                    const int pij = pos[j * 4 + i], pji = pos[i * 4 + j];
                    K[pij] += d;
                    M[pij] += m;
                    if (j != i) {
                        K[pji] += d;
                        M[pji] += m;
                    }
                }
            }
            for (int i = 0; i < 4; ++i) {
                for (int j = 0; j < 4; ++j) K[pos[j * 4 + i]] += adv[j];
            }
        }
    });
}

void asmtrnw(const dimensions& dim, const control& ctl, const mesh& msh, const soil& sl,
             sparse& sp, const flowstate& fs) {
    asmtrn(dim, ctl, msh, sl, sp, fs);
}

void rhstrn(const dimensions& dim, const control& ctl, sparse& sp, const flowstate& fs) {
    const arr1<int>& IAC = sp.IAC();
    const arr1<int>& JAC = sp.JAC();
    const double rdt = 1.0 / ctl.DELTAT, w = 1.0 - ctl.TETAC;
    for (int i = 1; i <= dim.N; ++i) {
        double s = 0.0;
        for (int k = IAC(i); k < IAC(i + 1); ++k) {
            s += (sp.BMATC(k) * rdt - w * sp.AMATC(k)) * fs.CSAVE(JAC(k));
        }
        sp.RHSC(i) = s;
    }
}

void lhstrn(const dimensions& /*dim*/, const control& ctl, sparse& sp) {
    const double rdt = 1.0 / ctl.DELTAT, th = ctl.TETAC;
    double* A = sp.AMATC.data();
    const double* M = sp.BMATC.data();
    const long n = sp.storedc();
    for (long k = 0; k < n; ++k) A[k] = th * A[k] + M[k] * rdt;
}

void restrn(const dimensions& dim, sparse& sp, const flowstate& fs) {
    for (int i = 1; i <= dim.N; ++i) sp.RHSC(i) -= row_dot(sp, sp.AMATC, i, fs.CNEW);
}

void savdgc(const dimensions& dim, const transport& tra, const flowstate& fs, linear_system& ls,
            bool increment) {
    // On several processes the rows are those this process holds (the others are 0 here).
    ls.clear_prescribed();
    for (int k = 1; k <= dim.NPC; ++k) {
        const int i = tra.DIRNODC(k);
        if (i != 0) ls.prescribe(i, increment ? tra.DIRVALC(k) - fs.CNEW(i) : tra.DIRVALC(k));
    }
}

void rstdgc(const dimensions& dim, const transport& tra, flowstate& fs) {
    for (int k = 1; k <= dim.NPC; ++k) {
        const int i = tra.DIRNODC(k);
        if (i != 0) fs.CNEW(i) = tra.DIRVALC(k);
    }
}

void trnflx(const dimensions& dim, const transport& tra, const sparse& sp, double WCAU,
            const arr1<double>& A, const arr1<double>& RHS, const arr1<double>& C,
            arr1<double>& FLUX) {
    for (int k = 1; k <= dim.NPC; ++k) {
        const int i = tra.DIRNODC(k);
        if (i != 0) FLUX(k) = row_dot(sp, A, i, C) - RHS(i);
    }
    for (int j = 1; j <= dim.NMC; ++j) {
        const int i = tra.CAUNOD(j);
        if (i != 0) FLUX(dim.NPC + j) = row_dot(sp, A, i, C) - RHS(i) - WCAU * tra.CAUADV(j) * C(i);
    }
    share_owned(sp, dim.NNOD, [&](auto f) {
        for (int k = 1; k <= dim.NPC; ++k) f(tra.DIRNODC(k), FLUX(k));
        for (int j = 1; j <= dim.NMC; ++j) f(tra.CAUNOD(j), FLUX(dim.NPC + j));
    });
}

void unsattrn(dimensions& dim, control& ctl, iofiles& io, cpustat& cpu, const mesh& msh,
              transport& tra, soil& sl, sparse& sp, flowstate& fs) {
    build_system(dim, ctl, cpu, msh, sl, sp, fs, false);
    initial_fluxes(dim, ctl, cpu, tra, sp, fs);
    {
        timed_phase t(cpu.TT[5]);
        bctrn(dim.N, ctl.NSTEP, dim.NMC, tra.CAUNOD, sp.IAC(), sp.JAC(), sp.RHSC, sp.RHSSAV,
              tra.CAUTOT, tra.CAUADV, sp.AMATC);
        savdgc(dim, tra, fs, transport_system(dim, ctl, sp, cpu), false);
    }
    solve(dim, ctl, io, cpu, sp, fs.CNEW);
    timed_phase t(cpu.TT[6]);
    rstdgc(dim, tra, fs);
}

void unsatrnw(dimensions& dim, control& ctl, iofiles& io, cpustat& cpu, const mesh& msh,
              transport& tra, soil& sl, sparse& sp, flowstate& fs) {
    build_system(dim, ctl, cpu, msh, sl, sp, fs, true);
    initial_fluxes(dim, ctl, cpu, tra, sp, fs);
    {
        timed_phase t(cpu.TT[3]);
        for (int i = 1; i <= dim.N; ++i) sp.RHSSAV(i) = sp.RHSC(i);  // b, for the fluxes
        restrn(dim, sp, fs);
    }
    {
        timed_phase t(cpu.TT[5]);
        // bctrn saves the residual it is given; b stays in RHSSAV, so the copy goes to WORK1,
        // which the solver overwrites with its factors anyway.
        bctrn(dim.N, ctl.NSTEP, dim.NMC, tra.CAUNOD, sp.IAC(), sp.JAC(), sp.RHSC, sp.WORK1,
              tra.CAUTOT, tra.CAUADV, sp.AMATC);
        // For the increment, a Dirichlet row asks for the change DIRVALC - CNEW, and a Cauchy
        // row's residual also holds the advective part at the current iterate.
        savdgc(dim, tra, fs, transport_system(dim, ctl, sp, cpu), true);
        const double w = cauchy_weight(ctl);
        for (int j = 1; j <= dim.NMC; ++j) {
            const int i = tra.CAUNOD(j);
            if (i != 0) sp.RHSC(i) -= w * tra.CAUADV(j) * fs.CNEW(i);
        }
    }
    for (int i = 1; i <= dim.N; ++i) sp.DELTA(i) = 0.0;
    solve(dim, ctl, io, cpu, sp, sp.DELTA);
    timed_phase t(cpu.TT[6]);
    for (int i = 1; i <= dim.N; ++i) fs.CNEW(i) += sp.DELTA(i);
    rstdgc(dim, tra, fs);
}

}  // namespace nep
