// Transport matrices and solves on the small layered mesh of the output tests (vertical sides,
// sloping layers, one element in the other orientation).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "flow/assemble.h"
#include "mesh/csr.h"
#include "output/small_mesh.h"
#include "solvers/specified/direct.h"
#include "transport/matrices.h"

namespace {

using namespace nep;

// Dirichlet c = z on the top and bottom node layers (nodes 1-4, 9-12); NMC Cauchy nodes.
struct trun : fixture::memrun {
    transport& tra = R->tra;
    explicit trun(int nmc = 0) {
        outtest::small_mesh(*this);
        const int N = dim.N;
        dim.NTRI3 = 3 * dim.NTRI;
        dim.N1C = 20;
        transpcsr_ptr(dim, ctl, io, msh, sp);
        sp.JAC_OWN.trim(dim.NTERMC);
        sp.IROWC_OWN.alloc(dim.NTERMC);
        rowind(N, sp.IAC_OWN, sp.IROWC_OWN);
        for (auto* a : {&sp.AMATC, &sp.BMATC, &sp.WORK1, &sp.WORK2}) a->alloc(dim.NTERMC + 15 * N);
        for (auto* a : {&sp.RHSC, &sp.RHSSAV, &sp.DELTA, &fs.CSAVE}) a->alloc(N);
        lmass(0, sp.LMASSC);
        for (auto* a : {&sl.ALFAL, &sl.ALFAT, &sl.RETARD}) a->alloc(dim.NSTR, dim.NZONE);
        sl.POROSITY.fill(0.4), sl.ALFAL.fill(0.3), sl.ALFAT.fill(0.05), sl.RETARD.fill(1.5);
        sl.SW.fill(1.0);
        sl.DIFFUS = 0.02;
        ctl.ITRANS = 1, ctl.ISOLVC = 0, ctl.ITCGNS = 200, ctl.TLCGNS = 1e-14, ctl.NSTEP = 2;
        ctl.ITERC = 2, ctl.TETAC = 1.0, ctl.DELTAT = 1.0;
        dim.NPC = 8, dim.NMC = nmc;
        for (auto* a : {&tra.DIRNODC, &tra.CAUNOD}) a->alloc(a == &tra.CAUNOD ? nmc : 8);
        for (auto* a : {&tra.CAUTOT, &tra.CAUADV}) a->alloc(nmc);
        for (auto* a : {&tra.DIRVALC, &tra.TRFLX, &tra.TRFLXP}) a->alloc(8 + nmc);
        for (int k = 1; k <= 8; ++k) tra.DIRNODC(k) = k <= 4 ? k : k + 4;
        for (int k = 1; k <= 8; ++k) tra.DIRVALC(k) = msh.Z(tra.DIRNODC(k));
    }
    void velocity(double qx, double qy, double qz) { fs.VX.fill(qx), fs.VY.fill(qy), fs.VZ.fill(qz); }
    // K and M of the current velocities as dense N x N matrices (row-major).
    void assemble(std::vector<double>& K, std::vector<double>& M) {
        sp.AMATC.fill(0.0), sp.BMATC.fill(0.0);
        asmtrn(dim, ctl, msh, sl, sp, fs);
        K.assign(dim.N * dim.N, 0.0), M = K;
        for (int i = 1; i <= dim.N; ++i) {
            for (int k = sp.IAC()(i); k < sp.IAC()(i + 1); ++k) {
                K[(i - 1) * dim.N + sp.JAC()(k) - 1] = sp.AMATC(k);
                M[(i - 1) * dim.N + sp.JAC()(k) - 1] = sp.BMATC(k);
            }
        }
    }
};

TEST(TransportFrame, RotatedCoefficients) {
    trun r;
    const int e = 5;
    double X[4], Y[4], Z[4], XR[4], YR[4], ZR[4], B[4], C[4], D[4];
    for (int m = 0; m < 4; ++m) {
        const int n = r.msh.TETRA(m + 1, e);
        X[m] = r.msh.X(n), Y[m] = r.msh.Y(n), Z[m] = r.msh.Z(n);
    }
    // q along +x: x' = x, y' = -y, z' = -z, so b' = b while c' and d' change sign.
    rotvel(2.5, 0.0, 0.0, X, Y, Z, XR, YR, ZR);
    rotcof(r.ctl.IP4, XR, YR, ZR, B, C, D);
    tetra_geo g;
    tetra_geometry(r.msh, e, g);
    for (int m = 0; m < 4; ++m) {
        EXPECT_NEAR(B[m], g.b[m], 1e-15);
        EXPECT_NEAR(C[m], -g.c[m], 1e-15);
        EXPECT_NEAR(D[m], -g.d[m], 1e-15);
    }
    rotvel(0.0, 0.0, -3.0, X, Y, Z, XR, YR, ZR);  // vertical flow: axes (z, x, y)
    for (int m = 0; m < 4; ++m) EXPECT_TRUE(XR[m] == Z[m] && YR[m] == X[m] && ZR[m] == Y[m]);
}

// K(q) = dispersion (even in q) + advection (odd, linear in q). The even part must be the tensor
// form D = D_T I + (D_L - D_T) q q^T/|q|^2 over the unrotated gradients, symmetric with rows
// summing to 0; the odd part has rows summing to 0 and, applied to c = x, gives q_x times the
// nodal volume. M sums to the retarded water volume (the template sums to 1).
TEST(TransportMatrices, DispersionAdvectionMass) {
    trun r;
    r.sl.SW.fill(0.8);
    const int N = r.dim.N;
    for (const auto& q : {std::vector<double>{0, 0, -2}, {1, -2, 0.5}, {0, 0, 0}}) {
        std::vector<double> Kp, Km, M, Kd(N * N, 0.0), vol(N, 0.0);
        r.velocity(-q[0], -q[1], -q[2]);
        r.assemble(Km, M);
        r.velocity(q[0], q[1], q[2]);
        r.assemble(Kp, M);
        const double qn = std::hypot(q[0], q[1], q[2]), th = 0.4 * 0.8;
        const double dl = th * 0.02 + 0.3 * qn, dt = th * 0.02 + 0.05 * qn;
        double msum = 0.0, water = 0.0;
        for (int e = 1; e <= r.dim.NT; ++e) {
            tetra_geo g;
            tetra_geometry(r.msh, e, g);
            water += th * 1.5 * g.vol;
            const double s = g.sign * g.volinv;
            for (int i = 1; i <= 4; ++i) {
                vol[r.msh.TETRA(i, e) - 1] += 0.25 * g.vol;
                const double gi[3] = {s * g.b[i - 1], s * g.c[i - 1], s * g.d[i - 1]};
                for (int j = 1; j <= 4; ++j) {
                    const double gj[3] = {s * g.b[j - 1], s * g.c[j - 1], s * g.d[j - 1]};
                    double v = 0.0, qi = 0.0, qj = 0.0;
                    for (int a = 0; a < 3; ++a) v += dt * gi[a] * gj[a], qi += q[a] * gi[a], qj += q[a] * gj[a];
                    if (qn > 0) v += (dl - dt) * qi * qj / (qn * qn);
                    Kd[(r.msh.TETRA(i, e) - 1) * N + r.msh.TETRA(j, e) - 1] += v * g.vol;
                }
            }
        }
        for (double v : M) msum += v;
        EXPECT_NEAR(msum, water, 1e-14);
        for (int i = 0; i < N; ++i) {
            double rowd = 0.0, rowa = 0.0, ax = 0.0;
            for (int j = 0; j < N; ++j) {
                const double d = 0.5 * (Kp[i * N + j] + Km[i * N + j]), a = 0.5 * (Kp[i * N + j] - Km[i * N + j]);
                EXPECT_NEAR(d, Kd[i * N + j], 1e-12);
                EXPECT_NEAR(d, 0.5 * (Kp[j * N + i] + Km[j * N + i]), 1e-14);
                rowd += d, rowa += a, ax += a * r.msh.X(j + 1);
            }
            EXPECT_NEAR(rowd, 0.0, 1e-12);
            EXPECT_NEAR(rowa, 0.0, 1e-12);
            EXPECT_NEAR(ax, q[0] * vol[i], 1e-12);
        }
    }
    // No dispersivity and no diffusion: K is the advection alone, odd in q.
    r.sl.ALFAL.fill(0.0), r.sl.ALFAT.fill(0.0), r.sl.DIFFUS = 0.0;
    std::vector<double> Kp, Km, M;
    r.velocity(0.7, 0.2, -1.1);
    r.assemble(Kp, M);
    r.velocity(-0.7, -0.2, 1.1);
    r.assemble(Km, M);
    for (int k = 0; k < N * N; ++k) EXPECT_NEAR(Kp[k] + Km[k], 0.0, 1e-15);
    // TETAC = 1: b = M CSAVE/dt and A = K + M/dt.
    r.ctl.DELTAT = 0.25;
    for (int i = 1; i <= N; ++i) r.fs.CSAVE(i) = 0.1 * i * i;
    rhstrn(r.dim, r.ctl, r.sp, r.fs);
    lhstrn(r.dim, r.ctl, r.sp);
    for (int i = 1; i <= N; ++i) {
        double b = 0.0;
        for (int j = 1; j <= N; ++j) b += M[(i - 1) * N + j - 1] / 0.25 * r.fs.CSAVE(j);
        EXPECT_NEAR(r.sp.RHSC(i), b, 1e-12);
        for (int k = r.sp.IAC()(i), j; k < r.sp.IAC()(i + 1); ++k) {
            j = r.sp.JAC()(k);
            EXPECT_NEAR(r.sp.AMATC(k), Km[(i - 1) * N + j - 1] + M[(i - 1) * N + j - 1] / 0.25, 1e-12);
        }
    }
}

// Steady diffusion with c = z held on the top and bottom layers (vertical sides): c = z inside,
// and Fick's law through the top and bottom, theta Dm times the plan area (shoelace formula).
TEST(TransportSolve, SteadyDiffusionProfileAndFluxes) {
    trun r;
    r.velocity(0.0, 0.0, 0.0);
    r.ctl.DELTAT = 1.0e20, r.ctl.NSTEP = 1, r.ctl.ITERC = 1;
    r.fs.CNEW.fill(0.3);
    unsattrn(r.dim, r.ctl, r.io, r.cpu, r.msh, r.tra, r.sl, r.sp, r.fs);
    for (int i = 5; i <= 8; ++i) EXPECT_NEAR(r.fs.CNEW(i), r.msh.Z(i), 1e-10) << i;
    trnflx(r.dim, r.tra, r.sp, 0.5, r.sp.AMATC, r.sp.RHSSAV, r.fs.CNEW, r.tra.TRFLX);
    double area = 0.0, top = 0.0, bottom = 0.0, init = 0.0;
    for (int i = 1; i <= 4; ++i) area += 0.5 * (r.msh.X(i) * r.msh.Y(i % 4 + 1) - r.msh.X(i % 4 + 1) * r.msh.Y(i));
    for (int k = 1; k <= 4; ++k) {
        top += r.tra.TRFLX(k), bottom += r.tra.TRFLX(4 + k);
        init += r.tra.TRFLXP(k) + r.tra.TRFLXP(4 + k);
    }
    EXPECT_NEAR(top, 0.4 * 0.02 * area, 1e-10);
    EXPECT_NEAR(bottom, -0.4 * 0.02 * area, 1e-10);
    EXPECT_NEAR(init, 0.0, 1e-15);  // the uniform initial field carries no flux
    EXPECT_NE(r.listing().find(" >>> LINEAR SOLUTION OF TRANSPORT EQ. >>>:\n"), std::string::npos);
    EXPECT_NE(r.listing().find("<<NONSYMMETRIC SOLVER>>\n  \n"), std::string::npos);
    EXPECT_TRUE(r.ctl.ITLTRN > 0 && r.ctl.ITLINC == r.ctl.ITLTRN && r.ctl.ITLINSC == r.ctl.ITLTRN);
}

// The Newton form reaches the Picard solution of this linear problem in one solve from any
// iterate, Cauchy node included; the Cauchy flux is what the condition supplies there.
TEST(TransportSolve, NewtonMatchesPicardWithCauchyNode) {
    std::vector<double> picard;
    for (int newton = 0; newton <= 1; ++newton) {
        trun r(1);
        r.velocity(0.1, 0.0, -0.4);
        r.ctl.DELTAT = 0.5;
        r.tra.CAUNOD(1) = 6, r.tra.CAUTOT(1) = 0.2, r.tra.CAUADV(1) = 0.3;
        for (int i = 1; i <= r.dim.N; ++i) r.fs.CSAVE(i) = 0.05 * i, r.fs.CNEW(i) = newton ? 0.7 - 0.02 * i : 0.0;
        (newton ? unsatrnw : unsattrn)(r.dim, r.ctl, r.io, r.cpu, r.msh, r.tra, r.sl, r.sp, r.fs);
        for (int i = 1; i <= r.dim.N; ++i) {
            if (!newton) picard.push_back(r.fs.CNEW(i));
            else EXPECT_NEAR(r.fs.CNEW(i), picard[i - 1], 1e-9) << i;
        }
        trnflx(r.dim, r.tra, r.sp, 1.0, r.sp.AMATC, r.sp.RHSSAV, r.fs.CNEW, r.tra.TRFLX);
        EXPECT_NEAR(r.tra.TRFLX(9), 0.2 - 0.3 * r.fs.CNEW(6), 1e-9);
    }
}

TEST(TransportSolve, DirectSolverFailureStops) {
    trun r;
    r.ctl.ISOLVC = 3, r.ctl.ISOLV = 3, r.dim.LIMNS1 = 3;  // far too little factor storage
    r.sp.RNSYM.alloc(nonsym_work_length(r.dim.LIMNS1, r.dim.N));
    r.fs.CSAVE.fill(0.5);
    auto run = [&r] { unsattrn(r.dim, r.ctl, r.io, r.cpu, r.msh, r.tra, r.sl, r.sp, r.fs); };
    EXPECT_EQ(fixture::stop_status(run), 1);
    EXPECT_NE(r.stdout_text().find(" STOP: ISOLV .EQ. 3 .AND. IERSYM .NE. 0\n"), std::string::npos);
    r.ctl.ISOLV = 0;  // another flow solver: the run still stops rather than keep a zero solution
    EXPECT_NE(fixture::stop_message(run).find("failed with code"), std::string::npos);
}

}  // namespace
