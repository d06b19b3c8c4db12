// A small layered mesh built by hand for the velocity and export tests: a quadrilateral surface
// of NNOD = 4 nodes and NTRI = 2 triangles over NSTR = 2 layers of unequal thickness, each prism
// split into three tetrahedra, element geometry by the mesh routines.
#pragma once

#include "mesh/geometry.h"
#include "output_fixture.h"

namespace outtest {

inline void small_mesh(outrun& r) {
    const int NNOD = 4, NTRI = 2, NSTR = 2;
    r.dim.NNOD = NNOD;
    r.dim.NTRI = NTRI;
    r.dim.NSTR = NSTR;
    r.dim.NZONE = 2;
    r.dim.N = NNOD * (NSTR + 1);
    r.dim.NT = 3 * NTRI * NSTR;
    const int N = r.dim.N, NT = r.dim.NT;
    for (int i = 1; i <= 4; ++i)
        for (int j = 1; j <= 4; ++j) r.ctl.IP4[i][j] = ((i + j - 2) % 4) + 1;

    r.msh.X.alloc(N);
    r.msh.Y.alloc(N);
    r.msh.Z.alloc(N);
    r.msh.TETRA.alloc(5, NT);
    r.msh.NCONT.alloc(N);

    // A slightly irregular quadrilateral; the ground surface slopes and the layers thin out.
    const double xs[] = {0.0, 2.0, 2.2, -0.1};
    const double ys[] = {0.0, 0.1, 1.5, 1.2};
    const double zs[] = {10.0, 10.4, 10.8, 10.2};
    const double depth[] = {0.0, 0.5, 2.0};
    for (int l = 0; l <= NSTR; ++l) {
        for (int i = 1; i <= NNOD; ++i) {
            const int k = l * NNOD + i;
            r.msh.X(k) = xs[i - 1];
            r.msh.Y(k) = ys[i - 1];
            r.msh.Z(k) = zs[i - 1] - depth[l] * (1.0 + 0.1 * i);
        }
    }
    const int tri[2][3] = {{1, 2, 3}, {1, 3, 4}};
    int e = 0;
    for (int l = 0; l < NSTR; ++l) {
        for (int t = 0; t < NTRI; ++t) {
            const int a = tri[t][0] + l * NNOD, b = tri[t][1] + l * NNOD, c = tri[t][2] + l * NNOD;
            const int a2 = a + NNOD, b2 = b + NNOD, c2 = c + NNOD;
            const int tets[3][4] = {{a, b, c, a2}, {b, c, a2, b2}, {c, a2, b2, c2}};
            for (const auto& v : tets) {
                ++e;
                for (int m = 1; m <= 4; ++m) r.msh.TETRA.kept()(m, e) = v[m - 1];
                r.msh.TETRA.kept()(5, e) = t + 1;  // material: the triangle
            }
        }
    }
    // One element listed in the other orientation.
    std::swap(r.msh.TETRA.kept()(1, 5), r.msh.TETRA.kept()(2, 5));

    r.msh.NCONT.fill(0);
    for (int k = 1; k <= NT; ++k)
        for (int m = 1; m <= 4; ++m) r.msh.NCONT(r.msh.TETRA(m, k)) += 1;

    // Soil: conductivities by (layer, material), all different.
    for (auto* a : {&r.sl.XPERM, &r.sl.YPERM, &r.sl.ZPERM, &r.sl.STORAGE, &r.sl.POROSITY})
        a->alloc(NSTR, 2);
    for (int l = 1; l <= NSTR; ++l) {
        for (int m = 1; m <= 2; ++m) {
            r.sl.XPERM(l, m) = 1.0 + l + 0.5 * m;
            r.sl.YPERM(l, m) = 0.25 * l + m;
            r.sl.ZPERM(l, m) = 0.1 * l * m + 0.05;
        }
    }
    for (auto* a : {&r.sl.SW, &r.sl.CKRW, &r.sl.STCOEF}) a->alloc(N);
    for (int i = 1; i <= N; ++i) {
        r.sl.CKRW(i) = 0.2 + 0.05 * i;
        r.sl.STCOEF(i) = 1.0e-3 * i;
        r.sl.SW(i) = 1.0 - 0.03 * i;
    }

    for (auto* a : {&r.fs.PNEW, &r.fs.HPOT, &r.fs.HPTHETA, &r.fs.VXNOD, &r.fs.VYNOD, &r.fs.VZNOD,
                    &r.fs.CNEW}) {
        a->alloc(N);
    }
    for (auto* a : {&r.fs.VX, &r.fs.VY, &r.fs.VZ}) a->alloc(NT);
}

}  // namespace outtest
