// Darcy velocities. Truth: a linear potential head H = a + b x + c y + d z has the exact gradient
// (b, c, d) on every linear tetrahedron, so the element flux must be -kr (Kx b, Ky c, Kz d) with
// the conductivities of the element's layer and material and kr the mean vertex conductivity.
#include <gtest/gtest.h>

#include <cmath>

#include "flow/elavg.h"
#include "flow/velocity.h"
#include "small_mesh.h"

using namespace nep;
using outtest::outrun;

namespace {

const double GB = 0.3, GC = -0.7, GD = 2.0;

void linear_head(outrun& r) {
    for (int i = 1; i <= r.dim.N; ++i) {
        r.fs.HPOT(i) = 1.0 + GB * r.msh.X(i) + GC * r.msh.Y(i) + GD * r.msh.Z(i);
    }
}

double mean_at(const outrun& r, const arr1<double>& v, int e) {
    double s = 0.0;
    for (int m = 1; m <= 4; ++m) s += v(r.msh.TETRA(m, e));
    return s / 4.0;
}

int layer_of(int e) { return (e - 1) / 6 + 1; }  // 3 * NTRI = 6 elements per layer

}  // namespace

TEST(Velocity, ElementMeansOfTheCharacteristics) {
    outrun r;
    outtest::small_mesh(r);
    // Element 1 has vertices 1, 2, 3 and 5: CKRW = 0.25, 0.30, 0.35, 0.45.
    EXPECT_DOUBLE_EQ(elmean(r.sl.CKRW, r.msh, 1), 0.3375);
}

TEST(Velocity, LinearHeadGivesDarcyFluxInEveryElement) {
    outrun r;
    outtest::small_mesh(r);
    // Both vertex orientations occur (sign +1 and -1).
    int plus = 0, minus = 0;
    for (int e = 1; e <= r.dim.NT; ++e) {
        tetra_geo g;
        tetra_geometry(r.msh, e, g);
        (g.sign > 0 ? plus : minus) += 1;
    }
    ASSERT_GT(plus, 0);
    ASSERT_GT(minus, 0);
    linear_head(r);
    velcmp(r.dim, r.ctl, r.msh, r.sl, r.fs);
    for (int e = 1; e <= r.dim.NT; ++e) {
        const int l = layer_of(e), m = r.msh.TETRA(5, e);
        const double kr = mean_at(r, r.sl.CKRW, e);
        EXPECT_NEAR(r.fs.VX(e), -kr * r.sl.XPERM(l, m) * GB, 1e-12) << "element " << e;
        EXPECT_NEAR(r.fs.VY(e), -kr * r.sl.YPERM(l, m) * GC, 1e-12) << "element " << e;
        EXPECT_NEAR(r.fs.VZ(e), -kr * r.sl.ZPERM(l, m) * GD, 1e-12) << "element " << e;
    }
}

TEST(Velocity, NodalVelocitiesAverageTheElementsAround) {
    outrun r;
    outtest::small_mesh(r);
    linear_head(r);
    velcmp(r.dim, r.ctl, r.msh, r.sl, r.fs);
    for (int i = 1; i <= r.dim.N; ++i) {
        double sx = 0, sy = 0, sz = 0;
        int k = 0;
        for (int e = 1; e <= r.dim.NT; ++e) {
            for (int m = 1; m <= 4; ++m) {
                if (r.msh.TETRA(m, e) != i) continue;
                const int l = layer_of(e), mat = r.msh.TETRA(5, e);
                const double kr = mean_at(r, r.sl.CKRW, e);
                sx += -kr * r.sl.XPERM(l, mat) * GB;
                sy += -kr * r.sl.YPERM(l, mat) * GC;
                sz += -kr * r.sl.ZPERM(l, mat) * GD;
                ++k;
            }
        }
        ASSERT_GT(k, 0);
        EXPECT_NEAR(r.fs.VXNOD(i), sx / k, 1e-12) << "node " << i;
        EXPECT_NEAR(r.fs.VYNOD(i), sy / k, 1e-12) << "node " << i;
        EXPECT_NEAR(r.fs.VZNOD(i), sz / k, 1e-12) << "node " << i;
    }
    // Surface node 2 belongs to two tetrahedra of the first prism only.
    EXPECT_EQ(r.msh.NCONT(2), 2);
}

TEST(Velocity, UniformFieldIsTheSameAtEveryNode) {
    outrun r;
    outtest::small_mesh(r);
    linear_head(r);
    for (int i = 1; i <= r.dim.N; ++i) r.sl.CKRW(i) = 0.5;
    for (int l = 1; l <= 2; ++l) {
        for (int m = 1; m <= 2; ++m) {
            r.sl.XPERM(l, m) = 2.0;
            r.sl.YPERM(l, m) = 3.0;
            r.sl.ZPERM(l, m) = 5.0;
        }
    }
    velcmp(r.dim, r.ctl, r.msh, r.sl, r.fs);
    for (int i = 1; i <= r.dim.N; ++i) {
        EXPECT_NEAR(r.fs.VXNOD(i), -0.5 * 2.0 * GB, 1e-12);
        EXPECT_NEAR(r.fs.VYNOD(i), -0.5 * 3.0 * GC, 1e-12);
        EXPECT_NEAR(r.fs.VZNOD(i), -0.5 * 5.0 * GD, 1e-12);
    }
}

TEST(Velocity, CoupledRunAddsBuoyancyAndViscosity) {
    outrun r;
    outtest::small_mesh(r);
    linear_head(r);
    r.ctl.ITRANS = 1;
    r.sl.EPSLON = 0.025;
    r.sl.EPSLON1 = 0.1;
    for (int i = 1; i <= r.dim.N; ++i) r.fs.CNEW(i) = 0.1 * i;
    velcmp(r.dim, r.ctl, r.msh, r.sl, r.fs);
    for (int e = 1; e <= r.dim.NT; ++e) {
        const int l = layer_of(e), m = r.msh.TETRA(5, e);
        const double kr = mean_at(r, r.sl.CKRW, e), c = mean_at(r, r.fs.CNEW, e);
        const double mu = 1.0 + 0.1 * c;
        EXPECT_NEAR(r.fs.VX(e), -kr * r.sl.XPERM(l, m) * GB / mu, 1e-12) << e;
        EXPECT_NEAR(r.fs.VY(e), -kr * r.sl.YPERM(l, m) * GC / mu, 1e-12) << e;
        EXPECT_NEAR(r.fs.VZ(e), -kr * r.sl.ZPERM(l, m) * (GD + 0.025 * c) / mu, 1e-12) << e;
    }

    // An explicit concentration array replaces CNEW.
    arr1<double> zero(r.dim.N, 0.0);
    velele(r.dim, r.ctl, r.msh, r.sl, r.fs, &zero);
    const double kr1 = mean_at(r, r.sl.CKRW, 1);
    EXPECT_NEAR(r.fs.VZ(1), -kr1 * r.sl.ZPERM(1, 1) * GD, 1e-12);
}

TEST(Velocity, ZeroDensityAndViscosityRatiosGiveTheFlowOnlyField) {
    outrun r, q;
    outtest::small_mesh(r);
    outtest::small_mesh(q);
    linear_head(r);
    linear_head(q);
    q.ctl.ITRANS = 2;
    for (int i = 1; i <= q.dim.N; ++i) q.fs.CNEW(i) = 35.0 + i;
    velcmp(r.dim, r.ctl, r.msh, r.sl, r.fs);
    velcmp(q.dim, q.ctl, q.msh, q.sl, q.fs);
    for (int e = 1; e <= r.dim.NT; ++e) {
        EXPECT_EQ(q.fs.VX(e), r.fs.VX(e));
        EXPECT_EQ(q.fs.VY(e), r.fs.VY(e));
        EXPECT_EQ(q.fs.VZ(e), r.fs.VZ(e));
    }
}
