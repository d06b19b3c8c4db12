// Flow element matrices and the boundary conditions of the linear system, on one tetrahedron
// whose stiffness is known by hand: the unit right-handed tetrahedron, gradients of its basis
// functions (-1,-1,-1), (1,0,0), (0,1,0), (0,0,1), volume 1/6.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "flow/assemble.h"
#include "flow/nonlinear.h"
#include "mesh/csr.h"
#include "run/run.h"
#include "run/storage.h"

using namespace nep;

namespace {

// The hand stiffness V * grad(phi_j) . grad(phi_k) of the unit tetrahedron.
double stiff(int j, int k) {
    static const double g[4][3] = {{-1, -1, -1}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    return (g[j - 1][0] * g[k - 1][0] + g[j - 1][1] * g[k - 1][1] + g[j - 1][2] * g[k - 1][2]) / 6.0;
}

struct one_tet {
    std::unique_ptr<records> R = std::make_unique<records>();
    explicit one_tet(int iflow, int lump = 1) {
        dimensions& d = R->dim;
        d.N = 4;
        d.NT = 1;
        d.NTRI = 1;
        d.NTRI3 = 3;
        d.NSTR = 1;
        d.NZONE = 1;
        d.N1 = 8;
        d.NNOD = 4;
        d.NP = 1;
        d.NQ = 1;
        d.NBCMAX = 8;
        R->ctl.IFLOW = iflow;
        R->ctl.TETAF = 1.0;
        R->ctl.DELTAT = 0.5;
        R->ctl.LUMP = lump;
        R->io.out(6).open_memory();
        R->io.STDOUT.open_memory();
        mesh& m = R->msh;
        m.TETRA.alloc(5, 1);
        for (int i = 1; i <= 4; ++i) m.TETRA.kept()(i, 1) = i;
        m.TETRA.kept()(5, 1) = 1;
        m.X.alloc(4);
        m.Y.alloc(4);
        m.Z.alloc(4);
        m.X(2) = 1.0;
        m.Y(3) = 1.0;
        m.Z(4) = 1.0;
        alloc_sparse(d, R->ctl, R->sp);
        csr_ptr(d, R->ctl, R->io, m, R->sp);
        soil& s = R->sl;
        for (auto* t : {&s.XPERM, &s.YPERM, &s.ZPERM, &s.STORAGE, &s.POROSITY}) t->alloc(1, 1, 1.0);
        s.CKRW.alloc(4, 1.0);
        s.STCOEF.alloc(4, 2.0);
        s.SW.alloc(4, 1.0);
        lmass(lump, R->sp.LMASS);
        flowstate& f = R->fs;
        for (auto* v : {&f.PNEW, &f.PSAVE, &f.PTHETA, &f.POLD}) v->alloc(4);
    }
    double A(int j, int k) const { return R->sp.AMAT(R->sp.IPOS(j, k, 1, R->msh.TETRA, R->sp.IA)); }
    // Lumped, only the diagonal is kept, by node.
    double B(int j, int k) const {
        if (R->sp.BDIAG) return j == k ? R->sp.BMAT(R->msh.TETRA(j, 1)) : 0.0;
        return R->sp.BMAT(R->sp.IPOS(j, k, 1, R->msh.TETRA, R->sp.IA));
    }
};

}  // namespace

TEST(FlowAssembly, PicardStiffnessAndLumpedStorageOfOneTetrahedron) {
    one_tet t(1);
    EXPECT_EQ(t.R->dim.NTERM, 10);
    asmpic(t.R->dim, t.R->ctl, t.R->msh, t.R->sl, t.R->sp, density());
    for (int j = 1; j <= 4; ++j) {
        for (int k = j; k <= 4; ++k) {
            EXPECT_NEAR(t.A(j, k), stiff(j, k), 1e-15) << j << k;
            // Lumped: volume * mean STCOEF / 4 on the diagonal only.
            EXPECT_NEAR(t.B(j, k), j == k ? 2.0 / 6.0 / 4.0 : 0.0, 1e-15);
        }
    }
}

TEST(FlowAssembly, ConsistentStorageAndMirroredNewtonMatrices) {
    one_tet t(2, 0);
    EXPECT_EQ(t.R->dim.NTERM, 16);
    t.R->sl.DCKRW.alloc(4);
    t.R->sl.DSTCOEF.alloc(4);
    t.R->sp.JMAT.fill(0.0);
    asmnew(t.R->dim, t.R->ctl, t.R->msh, t.R->sl, t.R->sp, t.R->fs, density());
    for (int j = 1; j <= 4; ++j) {
        for (int k = 1; k <= 4; ++k) {
            EXPECT_NEAR(t.A(j, k), stiff(j, k), 1e-15);
            EXPECT_NEAR(t.B(j, k), (2.0 / 6.0) * (j == k ? 0.1 : 0.05), 1e-15);
            // No derivative of the characteristics: no Jacobian term.
            EXPECT_EQ(t.R->sp.JMAT(t.R->sp.IPOS(j, k, 1, t.R->msh.TETRA, t.R->sp.IA)), 0.0);
        }
    }
}

TEST(FlowAssembly, OscillationControlRowsSumToZeroAndStaySymmetric) {
    one_tet t(1);
    t.R->sl.XPERM(1, 1) = 4.0;  // anisotropic: kg = (4*1*2)^(1/3) = 2
    t.R->sl.ZPERM(1, 1) = 2.0;
    asmosc(t.R->dim, t.R->ctl, t.R->msh, t.R->sl, t.R->sp, density());
    for (int j = 1; j <= 4; ++j) {
        double row = 0.0;
        for (int k = 1; k <= 4; ++k) row += j <= k ? t.A(j, k) : t.A(k, j);
        EXPECT_NEAR(row, 0.0, 1e-12) << j;
    }
}

TEST(FlowAssembly, HydrostaticHeadsLeaveNoResidual) {
    // psi + z constant: the conductance and gravity terms cancel at every node.
    one_tet t(1);
    flowstate& f = t.R->fs;
    for (int i = 1; i <= 4; ++i) {
        f.PNEW(i) = f.PSAVE(i) = f.PTHETA(i) = 3.0 - t.R->msh.Z(i);
    }
    asmpic(t.R->dim, t.R->ctl, t.R->msh, t.R->sl, t.R->sp, density());
    rhsres(t.R->dim, t.R->ctl, t.R->sp, f);
    rhsgrv(t.R->dim, t.R->ctl, t.R->msh, t.R->sl, t.R->sp, density());
    for (int i = 1; i <= 4; ++i) EXPECT_NEAR(t.R->sp.RHS(i), 0.0, 1e-15) << i;
    // A head one higher at node 2 alone draws its conductance row as the residual.
    f.PTHETA(2) += 1.0;
    rhsres(t.R->dim, t.R->ctl, t.R->sp, f);
    rhsgrv(t.R->dim, t.R->ctl, t.R->msh, t.R->sl, t.R->sp, density());
    for (int i = 1; i <= 4; ++i) EXPECT_NEAR(t.R->sp.RHS(i), -stiff(i, 2), 1e-15) << i;
}

TEST(FlowAssembly, SystemMatrixAndBoundaryConditions) {
    one_tet t(1);
    records& R = *t.R;
    asmpic(R.dim, R.ctl, R.msh, R.sl, R.sp, density());
    sysmat(R.dim, R.ctl, R.sp);
    // TETAF * A + B / DELTAT on the diagonal of node 3.
    EXPECT_NEAR(t.A(3, 3), stiff(3, 3) + (2.0 / 24.0) / 0.5, 1e-15);
    // Node 4 a Dirichlet node at head 7, node 2 a Neumann node with 0.25, no atmospheric node.
    R.bc.DIRNOD.alloc(1, 4);
    R.bc.DIRVAL.alloc(1, 7.0);
    R.bc.NEUNOD.alloc(1, 2);
    R.bc.NEUVAL.alloc(1, 0.25);
    R.bc.IFATM.alloc(4, -1);
    R.bc.IBCNOD.alloc(8);
    R.sp.RHS.fill(1.0);
    const double d4 = t.A(4, 4);
    // The Dirichlet row is declared to the system (an increment of 0), whose specified solver
    // takes it with the penalty at its solve (tests/solvers/linsys_test.cpp): the assembled
    // diagonal stays.
    linear_system& ls = flow_system(R.dim, R.ctl, R.sp, R.cpu, false);
    bcapic(R.dim, R.ctl, R.bc, R.sp, ls, density());
    EXPECT_EQ(R.sp.NPRES, 1);
    ASSERT_EQ(ls.NP, 1);
    EXPECT_EQ(ls.rows(1), 4);
    EXPECT_EQ(ls.values(1), 0.0);
    EXPECT_EQ(t.A(4, 4), d4);
    EXPECT_EQ(R.sp.RHS(4), 0.0);
    EXPECT_EQ(R.sp.RHS(2), 1.25);
    EXPECT_EQ(R.sp.RHS(1), 1.0);
    bcrpic(R.dim, R.bc, R.fs);
    EXPECT_EQ(t.A(4, 4), d4);
    EXPECT_EQ(R.fs.PNEW(4), 7.0);
}

TEST(FlowAssembly, DensityAndViscosityOfAGivenConcentration) {
    // Concentration 0.5 everywhere, at both time levels: relative density 1 + 0.2*0.5 = 1.1 and
    // viscosity 1 + 0.1*0.5 = 1.05.
    one_tet t(1);
    records& R = *t.R;
    R.sl.EPSLON = 0.2;
    R.sl.EPSLON1 = 0.1;
    const double c[5] = {0.0, 0.5, 0.5, 0.5, 0.5};  // 1-based
    density rho;
    rho.cnew = c;
    rho.cold = c;
    rho.eps = 0.2;
    const double rr = 1.1, w = 1.1 / 1.05;
    asmpic(R.dim, R.ctl, R.msh, R.sl, R.sp, rho);
    for (int j = 1; j <= 4; ++j) {
        for (int k = j; k <= 4; ++k) {
            EXPECT_NEAR(t.A(j, k), w * stiff(j, k), 1e-15);
            EXPECT_NEAR(t.B(j, k), j == k ? rr * 2.0 / 24.0 : 0.0, 1e-15);
        }
    }
    // The dense fluid is at rest when psi + 1.1 z is constant ...
    flowstate& f = R.fs;
    for (int i = 1; i <= 4; ++i) f.PNEW(i) = f.PSAVE(i) = f.PTHETA(i) = 3.0 - rr * R.msh.Z(i);
    rhsres(R.dim, R.ctl, R.sp, f);
    rhsgrv(R.dim, R.ctl, R.msh, R.sl, R.sp, rho);
    for (int i = 1; i <= 4; ++i) EXPECT_NEAR(R.sp.RHS(i), 0.0, 1e-15) << i;
    // ... and fresh-water equilibrium leaves the buoyancy residual (1 - 1.1) w Kz DI.
    for (int i = 1; i <= 4; ++i) f.PNEW(i) = f.PSAVE(i) = f.PTHETA(i) = 3.0 - R.msh.Z(i);
    rhsres(R.dim, R.ctl, R.sp, f);
    rhsgrv(R.dim, R.ctl, R.msh, R.sl, R.sp, rho);
    const double di[4] = {-1.0 / 6, 0.0, 0.0, 1.0 / 6};
    for (int i = 1; i <= 4; ++i) EXPECT_NEAR(R.sp.RHS(i), (1.0 - rr) * w * di[i - 1], 1e-15) << i;
    // A concentration that grew by 0.1 over the step adds the density-change term
    // -V * porosity * SW * EPSLON / DELTAT * (0.1 + 3*0.05) * 0.1 at every node.
    const double cn[5] = {0.0, 0.6, 0.6, 0.6, 0.6};
    rho.cnew = cn;
    rhsres(R.dim, R.ctl, R.sp, f);
    R.sp.RHS.fill(0.0);
    rhsgrv(R.dim, R.ctl, R.msh, R.sl, R.sp, rho);
    const double rr2 = 1.0 + 0.2 * 0.6, w2 = rr2 / (1.0 + 0.1 * 0.6);
    for (int i = 1; i <= 4; ++i) {
        const double grav = rr2 * w2 * di[i - 1];
        const double dens = (1.0 / 6.0) * 1.0 * 1.0 * 0.2 / 0.5 * 0.25 * 0.1;
        EXPECT_NEAR(R.sp.RHS(i), -grav - dens, 1e-15) << i;
    }
}

TEST(FlowAssembly, NewtonMatrixOfKslopeFiveIsTheDerivativeOfItsResidual) {
    // Nodal Kr = exp(psi) and water held W = 0.3 + 0.1 atan(psi), with their exact slopes, on the
    // unit tetrahedron: the system matrix of a Newton iteration against central differences of
    // the residual (the right-hand side is minus the residual), at TETAF 1 and 0.6, in the
    // second iteration of a step under LINESEARCH.
    for (double tf : {1.0, 0.6}) {
        one_tet t(2, 1);
        records& R = *t.R;
        R.sl.KSLOPE = 5;
        R.ctl.ITER = 2;  // an iteration that takes Kr's derivative only with the line search
        R.ctl.LSON = true;
        R.ctl.TETAF = tf;
        for (auto* v : {&R.sl.DCKRW, &R.sl.DSTCOEF, &R.sl.WNEW, &R.sl.WSAVE}) v->alloc(4);
        R.msh.VOLNOD.alloc(4, 1.0 / 24.0);
        const double psave[4] = {-0.5, -0.8, -0.2, -1.1};
        auto residual = [&](const double* p) {
            for (int i = 1; i <= 4; ++i) {
                R.fs.PNEW(i) = p[i - 1];
                R.fs.PSAVE(i) = psave[i - 1];
                const double th = tf * p[i - 1] + (1.0 - tf) * psave[i - 1];
                R.fs.PTHETA(i) = th;
                R.sl.CKRW(i) = std::exp(th);
                R.sl.DCKRW(i) = std::exp(th);
                R.sl.WNEW(i) = 0.3 + 0.1 * std::atan(p[i - 1]);
                R.sl.STCOEF(i) = 0.1 / (1.0 + p[i - 1] * p[i - 1]);
                R.sl.WSAVE(i) = 0.3 + 0.1 * std::atan(psave[i - 1]);
            }
            for (auto* v : {&R.sp.AMAT, &R.sp.BMAT, &R.sp.JMAT}) v->fill(0.0);
            asmnew(R.dim, R.ctl, R.msh, R.sl, R.sp, R.fs, density());
            rhsres(R.dim, R.ctl, R.sp, R.fs);
            sysmat(R.dim, R.ctl, R.sp);
            rhsgrv(R.dim, R.ctl, R.msh, R.sl, R.sp, density());
            stornod(R.dim, R.ctl, R.msh, R.sl, R.sp, density());
            std::vector<double> r(4);
            for (int i = 1; i <= 4; ++i) r[i - 1] = -R.sp.RHS(i);
            return r;
        };
        const double p0[4] = {-0.3, -1.0, 0.2, -0.6};
        residual(p0);
        double J[4][4];
        for (int j = 1; j <= 4; ++j) {
            for (int k = 1; k <= 4; ++k) J[j - 1][k - 1] = t.A(j, k);
        }
        const double h = 1e-6;
        for (int k = 0; k < 4; ++k) {
            double pp[4], pm[4];
            for (int i = 0; i < 4; ++i) pp[i] = pm[i] = p0[i];
            pp[k] += h;
            pm[k] -= h;
            const auto rp = residual(pp), rm = residual(pm);
            for (int j = 0; j < 4; ++j) {
                EXPECT_NEAR(J[j][k], (rp[j] - rm[j]) / (2.0 * h), 1e-7) << "TETAF " << tf << " row " << j + 1 << " column " << k + 1;
            }
        }
    }
}
