// Transport matrices and solves on a column of prisms under one surface triangle.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "flow/assemble.h"
#include "mesh/csr.h"
#include "mesh/geometry.h"
#include "run_fixture.h"
#include "transport/matrices.h"

namespace {

using namespace nep;

// NSTR layers of thickness DZ under the triangle (0,0), (1,0), (0,1) (plan area 0.5), or under a
// skewed triangle with a sloping, thinning column when `skew`. One material; transport pattern,
// geometry and every array the transport solve uses.
struct column : fixture::memrun {
    static constexpr double DZ = 0.5;
    column(int nstr, bool skew, int nmc = 0) {
        const int NNOD = 3;
        mesh_sizes(NNOD, nstr);
        dim.NTRI = 1;
        dim.NTRI3 = 3;
        dim.NZONE = 1;
        dim.NT = 3 * nstr;
        dim.N1 = dim.N1C = 20;
        const int N = dim.N, NT = dim.NT;
        for (int i = 1; i <= 4; ++i)
            for (int j = 1; j <= 4; ++j) ctl.IP4[i][j] = ((i + j - 2) % 4) + 1;
        ctl.ITRANS = 1;
        ctl.HUGER = 1.7e38;
        ctl.TINYR = 1.7e-38;
        ctl.ISOLV = 0;
        ctl.ISOLVC = 0;
        ctl.ITCGNS = 200;
        ctl.TLCGNS = 1.0e-14;
        ctl.NSTEP = 2;
        ctl.ITERC = 2;
        ctl.TETAC = 1.0;
        ctl.DELTAT = 1.0;

        msh.X.alloc(N);
        msh.Y.alloc(N);
        msh.Z.alloc(N);
        const double xs[] = {0.0, 1.0, 0.0}, ys[] = {0.0, 0.0, 1.0};
        const double xk[] = {0.1, 1.3, 0.4}, yk[] = {-0.2, 0.3, 1.1}, zk[] = {0.3, -0.1, 0.2};
        for (int l = 0; l <= nstr; ++l) {
            for (int i = 0; i < NNOD; ++i) {
                const int k = l * NNOD + i + 1;
                msh.X(k) = skew ? xk[i] + 0.05 * l * i : xs[i];
                msh.Y(k) = skew ? yk[i] - 0.03 * l : ys[i];
                msh.Z(k) = (skew ? zk[i] : 0.0) - l * DZ * (skew ? 1.0 + 0.2 * i : 1.0);
            }
        }
        msh.TETRA.alloc(5, NT);
        for (int l = 0, e = 0; l < nstr; ++l) {
            const int a = 1 + l * NNOD, b = a + 1, c = a + 2;
            const int tets[3][4] = {{a, b, c, a + 3}, {b, c, a + 3, b + 3}, {c, a + 3, b + 3, c + 3}};
            for (const auto& v : tets) {
                ++e;
                for (int m = 1; m <= 4; ++m) msh.TETRA(m, e) = v[m - 1];
                msh.TETRA(5, e) = 1;
            }
        }
        msh.IVOL.alloc(NT);
        msh.VOLUR.alloc(NT);
        msh.VOLINV.alloc(NT);
        sp.BI.alloc(4, NT);
        sp.CI.alloc(4, NT);
        sp.DI.alloc(4, NT);
        volumet(io, NT, ctl.IP4, msh.TETRA, msh.X, msh.Y, msh.Z, msh.IVOL, msh.VOLUR, msh.VOLINV);
        basfun(NT, ctl.IP4, msh.TETRA, msh.X, msh.Y, msh.Z, sp.BI, sp.CI, sp.DI);

        transpcsr_ptr(dim, ctl, io, msh, sp);
        sp.JAC_OWN.trim(dim.NTERMC);
        sp.IROWC_OWN.alloc(dim.NTERMC);
        rowind(N, sp.IAC_OWN, sp.IROWC_OWN);
        sp.AMATC.alloc(10 * N);
        sp.BMATC.alloc(10 * N);
        sp.WORK1.alloc(15 * N + dim.NTERMC);
        sp.WORK2.alloc(15 * N + dim.NTERMC);
        for (auto* a : {&sp.RHSC, &sp.RHSSAV, &sp.DELTA}) a->alloc(N);
        lmass(0, sp.LMASSC);

        for (auto* a : {&sl.POROSITY, &sl.ALFAL, &sl.ALFAT, &sl.RETARD}) a->alloc(nstr, 1);
        sl.ELSW.alloc(NT, 1.0);
        for (int l = 1; l <= nstr; ++l) {
            sl.POROSITY(l, 1) = 0.4;
            sl.ALFAL(l, 1) = 0.3;
            sl.ALFAT(l, 1) = 0.05;
            sl.RETARD(l, 1) = 1.5;
        }
        sl.DIFFUS = 0.02;
        for (auto* a : {&fs.VX, &fs.VY, &fs.VZ}) a->alloc(NT);
        for (auto* a : {&fs.CNEW, &fs.CSAVE}) a->alloc(N);

        // Dirichlet: the three nodes of the top and of the bottom node layer.
        dim.NPC = 6;
        dim.NMC = nmc;
        tra.DIRNODC.alloc(6);
        tra.DIRVALC.alloc(6);
        for (int i = 1; i <= 3; ++i) {
            tra.DIRNODC(i) = i;
            tra.DIRVALC(i) = 1.0;
            tra.DIRNODC(3 + i) = nstr * NNOD + i;
            tra.DIRVALC(3 + i) = 0.0;
        }
        tra.CAUNOD.alloc(nmc);
        tra.CAUTOT.alloc(nmc);
        tra.CAUADV.alloc(nmc);
        tra.TRFLX.alloc(6 + nmc);
        tra.TRFLXP.alloc(6 + nmc);
        sp.DIAGSAV.alloc(6);
    }
    nep::transport& tra = R->tra;

    void velocity(double qx, double qy, double qz) {
        fs.VX.fill(qx);
        fs.VY.fill(qy);
        fs.VZ.fill(qz);
    }
    // K and M of the current velocities, as full dense matrices (row-major, 0-based).
    void assemble(std::vector<double>& K, std::vector<double>& M) {
        sp.AMATC.fill(0.0);
        sp.BMATC.fill(0.0);
        asmtrn(dim, ctl, msh, sl, sp, fs);
        K.assign((size_t)dim.N * dim.N, 0.0);
        M = K;
        for (int i = 1; i <= dim.N; ++i) {
            for (int k = sp.IAC()(i); k < sp.IAC()(i + 1); ++k) {
                K[(i - 1) * dim.N + sp.JAC()(k) - 1] = sp.AMATC(k);
                M[(i - 1) * dim.N + sp.JAC()(k) - 1] = sp.BMATC(k);
            }
        }
    }
};

// Gradient of the basis function of local vertex m of element e, from the stored coefficients.
void grad(const column& c, int m, int e, double g[3]) {
    const double s = c.msh.IVOL(e) * c.msh.VOLINV(e);
    g[0] = s * c.sp.BI(m, e);
    g[1] = s * c.sp.CI(m, e);
    g[2] = s * c.sp.DI(m, e);
}

TEST(TransportFrame, RotationOfVelocityFrame) {
    column c(1, true);
    double X[4], Y[4], Z[4];
    for (int m = 0; m < 4; ++m) {
        const int n = c.msh.TETRA(m + 1, 2);
        X[m] = c.msh.X(n);
        Y[m] = c.msh.Y(n);
        Z[m] = c.msh.Z(n);
    }
    double XR[4], YR[4], ZR[4], B[4], C[4], D[4];
    // q along +x: x' = x, y' = -y, z' = -z, so b' = b and c', d' change sign.
    rotvel(2.5, 0.0, 0.0, X, Y, Z, XR, YR, ZR);
    rotcof(c.ctl.IP4, XR, YR, ZR, B, C, D);
    for (int m = 0; m < 4; ++m) {
        EXPECT_NEAR(XR[m], X[m], 1e-15);
        EXPECT_NEAR(B[m], c.sp.BI(m + 1, 2), 1e-15);
        EXPECT_NEAR(C[m], -c.sp.CI(m + 1, 2), 1e-15);
        EXPECT_NEAR(D[m], -c.sp.DI(m + 1, 2), 1e-15);
    }
    // Vertical flow: the axes become (z, x, y); no flow: unrotated.
    rotvel(0.0, 0.0, -3.0, X, Y, Z, XR, YR, ZR);
    for (int m = 0; m < 4; ++m) EXPECT_TRUE(XR[m] == Z[m] && YR[m] == X[m] && ZR[m] == Y[m]);
    rotvel(0.0, 0.0, 0.0, X, Y, Z, XR, YR, ZR);
    for (int m = 0; m < 4; ++m) EXPECT_TRUE(XR[m] == X[m] && YR[m] == Y[m] && ZR[m] == Z[m]);
}

// K(q) = Kd(|q|, direction) + Ka(q) with Ka linear in q: the dispersion part is (K(q) + K(-q))/2.
// It must equal the tensor form D = D_T I + (D_L - D_T) q q^T / |q|^2 over the unrotated
// gradients, be symmetric and have rows summing to 0; the advection part applied to the field
// c = x gives q_x times the nodal volume (a quarter of each element's volume per vertex).
TEST(TransportMatrices, DispersionAndAdvectionAgainstTensorForm) {
    const double qs[3][3] = {{0.0, 0.0, -2.0}, {1.0, -2.0, 0.5}, {0.0, 0.0, 0.0}};
    column c(2, true);
    c.sl.ELSW.fill(0.8);
    const int N = c.dim.N;
    for (const auto& q : qs) {
        std::vector<double> Kp, Km, M;
        c.velocity(q[0], q[1], q[2]);
        c.assemble(Kp, M);
        c.velocity(-q[0], -q[1], -q[2]);
        c.assemble(Km, M);
        std::vector<double> Kd(N * N, 0.0), vol(N, 0.0);
        const double qn = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2]);
        const double th = 0.4 * 0.8;
        const double dl = th * 0.02 + 0.3 * qn, dt = th * 0.02 + 0.05 * qn;
        for (int e = 1; e <= c.dim.NT; ++e) {
            double D[3][3];
            for (int a = 0; a < 3; ++a)
                for (int b = 0; b < 3; ++b)
                    D[a][b] = (a == b ? dt : 0.0) + (qn > 0 ? (dl - dt) * q[a] * q[b] / (qn * qn) : 0.0);
            for (int i = 1; i <= 4; ++i) {
                vol[c.msh.TETRA(i, e) - 1] += 0.25 * c.msh.VOLUR(e);
                for (int j = 1; j <= 4; ++j) {
                    double gi[3], gj[3], s = 0.0;
                    grad(c, i, e, gi);
                    grad(c, j, e, gj);
                    for (int a = 0; a < 3; ++a)
                        for (int b = 0; b < 3; ++b) s += gi[a] * D[a][b] * gj[b];
                    Kd[(c.msh.TETRA(i, e) - 1) * N + c.msh.TETRA(j, e) - 1] += s * c.msh.VOLUR(e);
                }
            }
        }
        for (int i = 0; i < N; ++i) {
            double rowd = 0.0, rowa = 0.0, ax = 0.0;
            for (int j = 0; j < N; ++j) {
                const double d = 0.5 * (Kp[i * N + j] + Km[i * N + j]);
                const double a = 0.5 * (Kp[i * N + j] - Km[i * N + j]);
                EXPECT_NEAR(d, Kd[i * N + j], 1e-12);
                EXPECT_NEAR(d, 0.5 * (Kp[j * N + i] + Km[j * N + i]), 1e-14);
                rowd += d;
                rowa += a;
                ax += a * c.msh.X(j + 1);
            }
            EXPECT_NEAR(rowd, 0.0, 1e-12);
            EXPECT_NEAR(rowa, 0.0, 1e-12);
            EXPECT_NEAR(ax, q[0] * vol[i], 1e-12);
        }
    }
    // No dispersivity and no diffusion: K is the advection alone, odd in q.
    c.sl.ALFAL.fill(0.0);
    c.sl.ALFAT.fill(0.0);
    c.sl.DIFFUS = 0.0;
    std::vector<double> Kp, Km, M;
    c.velocity(0.7, 0.2, -1.1);
    c.assemble(Kp, M);
    c.velocity(-0.7, -0.2, 1.1);
    c.assemble(Km, M);
    for (int k = 0; k < N * N; ++k) EXPECT_NEAR(Kp[k] + Km[k], 0.0, 1e-15);
}

// Mass: the template sums to 1, so M sums to the retarded water volume; with TETAC = 1 the
// system is b = M CSAVE/dt and A = K + M/dt.
TEST(TransportMatrices, MassAndBackwardEulerSystem) {
    column c(2, true);
    c.velocity(0.3, -0.1, -0.6);
    c.ctl.DELTAT = 0.25;
    std::vector<double> K, M;
    c.assemble(K, M);
    double msum = 0.0, water = 0.0;
    for (double v : M) msum += v;
    for (int e = 1; e <= c.dim.NT; ++e) water += 0.4 * 1.5 * c.msh.VOLUR(e);
    EXPECT_NEAR(msum, water, 1e-14);
    const int N = c.dim.N;
    for (int i = 1; i <= N; ++i) c.fs.CSAVE(i) = 0.1 * i * i;
    rhstrn(c.dim, c.ctl, c.sp, c.fs);
    lhstrn(c.dim, c.ctl, c.sp);
    for (int i = 1; i <= N; ++i) {
        double b = 0.0;
        for (int j = 1; j <= N; ++j) b += M[(i - 1) * N + j - 1] / 0.25 * c.fs.CSAVE(j);
        EXPECT_NEAR(c.sp.RHSC(i), b, 1e-12);
        for (int k = c.sp.IAC()(i); k < c.sp.IAC()(i + 1); ++k) {
            const int j = c.sp.JAC()(k);
            EXPECT_NEAR(c.sp.AMATC(k), K[(i - 1) * N + j - 1] + M[(i - 1) * N + j - 1] / 0.25, 1e-12);
        }
    }
}

// Steady diffusion between c = 1 at the top and c = 0 at the bottom of a column of 1 m: the
// profile is linear in depth and the boundary fluxes follow Fick's law, theta Dm A / L in at the
// top and out at the bottom (theta = 0.4, Dm = 0.02, A = 0.5).
TEST(TransportSolve, SteadyDiffusionProfileAndFluxes) {
    column c(2, false);
    c.velocity(0.0, 0.0, 0.0);
    c.ctl.DELTAT = 1.0e20;
    c.ctl.NSTEP = 1;
    c.ctl.ITERC = 1;
    c.fs.CNEW.fill(0.3);
    unsattrn(c.dim, c.ctl, c.io, c.cpu, c.msh, c.tra, c.sl, c.sp, c.fs);
    for (int i = 1; i <= c.dim.N; ++i) EXPECT_NEAR(c.fs.CNEW(i), 1.0 + c.msh.Z(i), 1e-10) << i;
    trnflx(c.dim, c.tra, c.sp, 0.5, c.sp.AMATC, c.sp.RHSSAV, c.fs.CNEW, c.tra.TRFLX);
    const double fick = 0.4 * 0.02 * 0.5 / 1.0;
    double top = 0.0, bottom = 0.0, init = 0.0;
    for (int k = 1; k <= 3; ++k) {
        top += c.tra.TRFLX(k);
        bottom += c.tra.TRFLX(3 + k);
        init += c.tra.TRFLXP(k) + c.tra.TRFLXP(3 + k);
    }
    EXPECT_NEAR(top, fick, 1e-10);
    EXPECT_NEAR(bottom, -fick, 1e-10);
    EXPECT_NEAR(init, 0.0, 1e-15);  // a uniform initial field carries no flux
    EXPECT_NE(c.listing().find(" >>> LINEAR SOLUTION OF TRANSPORT EQ. >>>:\n"), std::string::npos);
    EXPECT_NE(c.listing().find("<<NONSYMMETRIC SOLVER>>\n  \n"), std::string::npos);
    EXPECT_EQ(c.ctl.ITLINC, c.ctl.ITLTRN);
    EXPECT_GT(c.ctl.ITLTRN, 0);
}

// The Newton form reaches the Picard solution of a linear problem in one solve, whatever the
// starting iterate, Cauchy node included: its residual vanishes at that solution.
TEST(TransportSolve, NewtonMatchesPicardWithCauchyNode) {
    std::vector<double> picard;
    for (int newton = 0; newton <= 1; ++newton) {
        column c(3, true, 1);
        c.velocity(0.1, 0.0, -0.4);
        c.ctl.DELTAT = 0.5;
        c.tra.CAUNOD(1) = 5;
        c.tra.CAUTOT(1) = 0.2;
        c.tra.CAUADV(1) = 0.3;
        for (int i = 1; i <= c.dim.N; ++i) {
            c.fs.CSAVE(i) = 0.05 * i;
            c.fs.CNEW(i) = newton ? 0.7 - 0.02 * i : 0.0;
        }
        if (newton) unsatrnw(c.dim, c.ctl, c.io, c.cpu, c.msh, c.tra, c.sl, c.sp, c.fs);
        else unsattrn(c.dim, c.ctl, c.io, c.cpu, c.msh, c.tra, c.sl, c.sp, c.fs);
        for (int i = 1; i <= c.dim.N; ++i) {
            if (!newton) picard.push_back(c.fs.CNEW(i));
            else EXPECT_NEAR(c.fs.CNEW(i), picard[i - 1], 1e-9) << i;
        }
        // The Cauchy flux is what the condition supplies at the solution.
        trnflx(c.dim, c.tra, c.sp, 1.0, c.sp.AMATC, c.sp.RHSSAV, c.fs.CNEW, c.tra.TRFLX);
        EXPECT_NEAR(c.tra.TRFLX(7), 0.2 - 0.3 * c.fs.CNEW(5), 1e-9);
    }
}

TEST(TransportSolve, DirectSolverFailureStops) {
    column c(1, false);
    c.ctl.ISOLVC = 3;
    c.dim.LIMNS1 = 3;  // far too little factor storage
    c.sp.RNSYM.alloc(nonsym_work_length(c.dim.LIMNS1, c.dim.N));
    c.fs.CSAVE.fill(0.5);
    c.ctl.ISOLV = 3;
    auto run = [&c] { unsattrn(c.dim, c.ctl, c.io, c.cpu, c.msh, c.tra, c.sl, c.sp, c.fs); };
    EXPECT_EQ(fixture::stop_status(run), 1);
    EXPECT_NE(c.stdout_text().find(" STOP: ISOLV .EQ. 3 .AND. IERSYM .NE. 0\n"), std::string::npos);
    // With another flow solver the run still stops instead of keeping a zero solution.
    c.ctl.ISOLV = 0;
    EXPECT_NE(fixture::stop_message(run).find("failed with code"), std::string::npos);
}

}  // namespace
