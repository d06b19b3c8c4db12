// Surface node areas, element volumes and orientation, basis coefficients, nodal volumes and the
// nodal soil averages. Truths: hand computation, the determinant formula of the volume, linear
// reproduction of the basis functions, and conservation of area and volume.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>

#include "mesh/geometry.h"
#include "mesh/grid.h"
#include "mesh/mesh_fixture.h"

using namespace nep;
using namespace nep::meshtest;

namespace {

// A case of four free nodes and NT elements set by hand (not a generated mesh).
void free_nodes(meshcase& c, int n, int nt) {
    c.dim.N = n;
    c.dim.NT = nt;
    c.msh.X.alloc(n);
    c.msh.Y.alloc(n);
    c.msh.Z.alloc(n);
    c.msh.TETRA.alloc(5, nt);
    c.msh.VOLNOD.alloc(n);
    c.msh.NCONT.alloc(n);
}

tetra_geo geo(const meshcase& c, int e) {
    tetra_geo g;
    tetra_geometry(c.msh, e, g);
    return g;
}

// The geometry of element e vertex by vertex, from the formulas of mesh/geometry.h in their
// order: what the kept and the formed geometry must give to the bit.
tetra_geo by_vertex(const meshcase& c, int e) {
    auto C = [](const double* a, const double* b, int j1, int j2, int j3) {
        return a[j1] * (b[j2] - b[j3]) + a[j2] * (b[j3] - b[j1]) + a[j3] * (b[j1] - b[j2]);
    };
    double x[4], y[4], z[4];
    for (int m = 0; m < 4; ++m) {
        const int n = c.msh.TETRA(m + 1, e);
        x[m] = c.msh.X(n);
        y[m] = c.msh.Y(n);
        z[m] = c.msh.Z(n);
    }
    tetra_geo g;
    double v = 0.0;
    for (int m = 0; m < 4; ++m) {
        const int j1 = (m + 1) % 4, j2 = (m + 2) % 4, j3 = (m + 3) % 4;
        const double s = m % 2 == 1 ? 1.0 : -1.0;
        v += s * x[m] * C(y, z, j1, j2, j3) / 6.0;
        g.b[m] = s * C(y, z, j1, j2, j3) / 6.0;
        g.c[m] = -s * C(x, z, j1, j2, j3) / 6.0;
        g.d[m] = s * C(x, y, j1, j2, j3) / 6.0;
    }
    g.sign = v < 0.0 ? -1 : 1;
    g.vol = std::fabs(v);
    g.volinv = 1.0 / g.vol;
    return g;
}

void put(meshcase& c, int k, double x, double y, double z) {
    c.msh.X(k) = x;
    c.msh.Y(k) = y;
    c.msh.Z(k) = z;
}

// Signed volume det[P2-P1, P3-P1, P4-P1] / 6 of element e, formed independently.
double det_volume(const meshcase& c, int e) {
    const auto& t = c.msh.TETRA;
    double a[3][3];
    for (int r = 0; r < 3; ++r) {
        const int p = t(r + 2, e), q = t(1, e);
        a[r][0] = c.msh.X(p) - c.msh.X(q);
        a[r][1] = c.msh.Y(p) - c.msh.Y(q);
        a[r][2] = c.msh.Z(p) - c.msh.Z(q);
    }
    return (a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
            a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0])) / 6.0;
}

// The gradient of every linear basis function reproduces linear fields: sum_m dN_m/dx * x_m = 1,
// sum_m dN_m/dx * y_m = 0, ... and sum_m dN_m/dx = 0.
void expect_linear_reproduction(const meshcase& c, int e) {
    const arr1<double>* xyz[3] = {&c.msh.X, &c.msh.Y, &c.msh.Z};
    const tetra_geo g = geo(c, e);
    const double* coef[3] = {g.b, g.c, g.d};
    const double s = g.sign / g.vol;
    double scale = 0.0;
    for (int m = 1; m <= 4; ++m)
        for (int a = 0; a < 3; ++a) scale = std::max(scale, std::fabs((*xyz[a])(c.msh.TETRA(m, e))));
    for (int d = 0; d < 3; ++d) {
        double sum = 0.0;
        for (int m = 1; m <= 4; ++m) sum += coef[d][m - 1];
        EXPECT_NEAR(sum * s, 0.0, 1e-9) << "element " << e;
        for (int a = 0; a < 3; ++a) {
            double v = 0.0;
            for (int m = 1; m <= 4; ++m) v += s * coef[d][m - 1] * (*xyz[a])(c.msh.TETRA(m, e));
            EXPECT_NEAR(v, d == a ? 1.0 : 0.0, 1e-9 * std::max(1.0, scale)) << "element " << e << " d " << d << " a " << a;
        }
    }
}

// A generated 3 x 3 grid: surface sloping with x, layers below.
void generated(meshcase& c, int iflow, int ivert, double base) {
    c.ctl.IFLOW = iflow;
    c.sizes(2, 3, 20, 9, 8);
    rect_surface(c, 2, 2, 10.0, 10.0);
    for (int i = 1; i <= 9; ++i) c.msh.Z(i) = 10.0 + 0.3 * c.msh.X(i) - 0.1 * c.msh.Y(i);
    c.msh.ZRATIO(1) = 0.2;
    c.msh.ZRATIO(2) = 0.3;
    c.msh.ZRATIO(3) = 0.5;
    c.msh.ISP = 1;
    c.msh.IVERT = ivert;
    c.msh.BASE = base;
    grid3d(c.dim, c.ctl, c.io, c.msh, c.bc, c.R->tra);
}

}  // namespace

TEST(ElementGeometry, UnitTetrahedron) {
    meshcase c;
    free_nodes(c, 4, 1);
    put(c, 1, 0, 0, 0);
    put(c, 2, 1, 0, 0);
    put(c, 3, 0, 1, 0);
    put(c, 4, 0, 0, 1);
    for (int m = 1; m <= 4; ++m) c.msh.TETRA.kept()(m, 1) = m;
    elmgeo(c.dim, c.ctl, c.io, c.msh);
    EXPECT_EQ(geo(c, 1).sign, 1);
    EXPECT_DOUBLE_EQ(geo(c, 1).vol, 1.0 / 6.0);
    EXPECT_DOUBLE_EQ(geo(c, 1).volinv, 6.0);
    const double bi[4] = {-1.0 / 6, 1.0 / 6, 0, 0}, ci[4] = {-1.0 / 6, 0, 1.0 / 6, 0}, di[4] = {-1.0 / 6, 0, 0, 1.0 / 6};
    const double dndx[4] = {-1, 1, 0, 0};
    for (int m = 1; m <= 4; ++m) {
        EXPECT_DOUBLE_EQ(geo(c, 1).b[m - 1], bi[m - 1]) << m;
        EXPECT_DOUBLE_EQ(geo(c, 1).c[m - 1], ci[m - 1]) << m;
        EXPECT_DOUBLE_EQ(geo(c, 1).d[m - 1], di[m - 1]) << m;
        EXPECT_DOUBLE_EQ(geo(c, 1).sign * geo(c, 1).b[m - 1] / geo(c, 1).vol, dndx[m - 1]) << m;
        EXPECT_DOUBLE_EQ(c.msh.VOLNOD(m), 1.0 / 24.0);
    }
    EXPECT_EQ(c.listing(), "");

    // Vertices 2 and 3 swapped: left-handed, same volume, same gradient of every node's function.
    meshcase d;
    free_nodes(d, 4, 1);
    put(d, 1, 0, 0, 0);
    put(d, 2, 1, 0, 0);
    put(d, 3, 0, 1, 0);
    put(d, 4, 0, 0, 1);
    d.msh.TETRA.kept()(1, 1) = 1; d.msh.TETRA.kept()(2, 1) = 3; d.msh.TETRA.kept()(3, 1) = 2; d.msh.TETRA.kept()(4, 1) = 4;
    elmgeo(d.dim, d.ctl, d.io, d.msh);
    EXPECT_EQ(geo(d, 1).sign, -1);
    EXPECT_DOUBLE_EQ(geo(d, 1).vol, 1.0 / 6.0);
    const double dndx_node[5] = {0, -1, 1, 0, 0};  // by node number
    const double dndy_node[5] = {0, -1, 0, 1, 0};
    for (int m = 1; m <= 4; ++m) {
        const int node = d.msh.TETRA(m, 1);
        EXPECT_DOUBLE_EQ(geo(d, 1).sign * geo(d, 1).b[m - 1] / geo(d, 1).vol, dndx_node[node]) << m;
        EXPECT_DOUBLE_EQ(geo(d, 1).sign * geo(d, 1).c[m - 1] / geo(d, 1).vol, dndy_node[node]) << m;
    }
}

TEST(ElementGeometry, GeneralTetrahedraAgreeWithTheDeterminant) {
    meshcase c;
    free_nodes(c, 8, 4);
    put(c, 1, 0.3, -1.2, 4.0);
    put(c, 2, 2.5, 0.1, 3.1);
    put(c, 3, -0.7, 1.9, 2.2);
    put(c, 4, 0.9, 0.4, -1.5);
    put(c, 5, 1000.25, 2000.5, 150.0);
    put(c, 6, 1003.0, 2000.5, 149.0);
    put(c, 7, 1000.25, 2004.0, 151.5);
    put(c, 8, 1001.0, 2001.0, 140.0);
    const int t[4][4] = {{1, 2, 3, 4}, {2, 1, 3, 4}, {5, 6, 7, 8}, {8, 7, 5, 6}};
    for (int e = 1; e <= 4; ++e)
        for (int m = 1; m <= 4; ++m) c.msh.TETRA.kept()(m, e) = t[e - 1][m - 1];
    elmgeo(c.dim, c.ctl, c.io, c.msh);
    for (int e = 1; e <= 4; ++e) {
        const double v = det_volume(c, e);
        EXPECT_EQ(geo(c, e).sign, v > 0 ? 1 : -1) << e;
        EXPECT_NEAR(geo(c, e).vol, std::fabs(v), 1e-9 * std::fabs(v)) << e;
        EXPECT_DOUBLE_EQ(geo(c, e).volinv * geo(c, e).vol, 1.0);
        // sum_m BI(m)*x_m = signed volume, likewise CI with y and DI with z.
        double sb = 0, sc = 0, sd = 0;
        for (int m = 1; m <= 4; ++m) {
            const int k = c.msh.TETRA(m, e);
            sb += geo(c, e).b[m - 1] * c.msh.X(k);
            sc += geo(c, e).c[m - 1] * c.msh.Y(k);
            sd += geo(c, e).d[m - 1] * c.msh.Z(k);
        }
        EXPECT_NEAR(sb, v, 1e-7 * std::fabs(v)) << e;
        EXPECT_NEAR(sc, v, 1e-7 * std::fabs(v)) << e;
        EXPECT_NEAR(sd, v, 1e-7 * std::fabs(v)) << e;
        expect_linear_reproduction(c, e);
    }
}

TEST(ElementGeometry, ZeroVolumeStops) {
    meshcase c;
    free_nodes(c, 4, 2);
    put(c, 1, 0, 0, 0);
    put(c, 2, 1, 0, 0);
    put(c, 3, 0, 1, 0);
    put(c, 4, 0, 0, 1);
    for (int m = 1; m <= 4; ++m) c.msh.TETRA.kept()(m, 1) = m;
    c.msh.TETRA.kept()(1, 2) = 1; c.msh.TETRA.kept()(2, 2) = 2; c.msh.TETRA.kept()(3, 2) = 3; c.msh.TETRA.kept()(4, 2) = 1;
    EXPECT_EQ(run_until_stop([&] { elmgeo(c.dim, c.ctl, c.io, c.msh); }).status, EXIT_ERROR);
    const std::string msg = "\n ERROR IN SUBROUTINE VOLUMET: ZERO VOLUME CALCULATED\n"
                            "    AT ELEMENT      2  NODE NUMBERS:     1     2     3     1\n";
    EXPECT_EQ(c.listing(), msg);
    EXPECT_EQ(c.out(), msg);

    // Nearly flat is not zero: it passes.
    meshcase d;
    free_nodes(d, 4, 1);
    put(d, 1, 0, 0, 0);
    put(d, 2, 1, 0, 0);
    put(d, 3, 0, 1, 0);
    put(d, 4, 0.3, 0.3, 1e-12);
    for (int m = 1; m <= 4; ++m) d.msh.TETRA.kept()(m, 1) = m;
    EXPECT_FALSE(run_until_stop([&] { elmgeo(d.dim, d.ctl, d.io, d.msh); }).stopped);
    EXPECT_GT(geo(d, 1).vol, 0.0);
}

TEST(SurfaceAreas, ThirdOfEveryTriangleToItsVertices) {
    meshcase c;
    c.sizes(1, 1, 20, 9, 8);
    rect_surface(c, 2, 2, 10.0, 10.0);
    area2d(c.dim, c.ctl, c.io, c.msh);
    // Every triangle has 50 m2: a corner in two triangles, the centre in six, edge nodes in 3 or 1.
    EXPECT_DOUBLE_EQ(c.msh.ARENOD(1), 2 * 50.0 / 3);
    EXPECT_DOUBLE_EQ(c.msh.ARENOD(3), 50.0 / 3);
    EXPECT_DOUBLE_EQ(c.msh.ARENOD(5), 6 * 50.0 / 3);
    double sum = 0;
    for (int i = 1; i <= 9; ++i) sum += c.msh.ARENOD(i);
    EXPECT_NEAR(sum, 400.0, 1e-12);  // the plan area

    // A triangle listed twice doubles its share.
    c.msh.TRIANG(1, 2) = 1; c.msh.TRIANG(2, 2) = 2; c.msh.TRIANG(3, 2) = 5;
    area2d(c.dim, c.ctl, c.io, c.msh);
    EXPECT_DOUBLE_EQ(c.msh.ARENOD(2), 4 * 50.0 / 3);
    EXPECT_DOUBLE_EQ(c.msh.ARENOD(4), 2 * 50.0 / 3);  // (1, 5, 4) is gone
    EXPECT_EQ(c.listing(), "");
}

TEST(SurfaceAreas, DegenerateTriangleStops) {
    {
        meshcase c;  // three collinear nodes on the diagonal
        c.sizes(1, 1, 20, 9, 8);
        rect_surface(c, 2, 2, 10.0, 10.0);
        c.msh.TRIANG(1, 2) = 1; c.msh.TRIANG(2, 2) = 5; c.msh.TRIANG(3, 2) = 9;
        EXPECT_EQ(run_until_stop([&] { area2d(c.dim, c.ctl, c.io, c.msh); }).status, EXIT_ERROR);
        const std::string msg = "\n ERROR IN SUBROUTINE AREA2D: ZERO AREA CALCULATED\n"
                                "    AT TRIANG      2  NODE NUMBERS:     1     5     9\n";
        EXPECT_EQ(c.listing(), msg);
        EXPECT_EQ(c.out(), msg);
    }
    {
        meshcase c;  // a vertex given twice, at coordinates whose products do not cancel exactly
        c.sizes(1, 1, 20, 9, 8);
        rect_surface(c, 2, 2, 10.0, 10.0);
        c.msh.X(1) = 0.1;
        c.msh.Y(1) = 0.7;
        c.msh.X(5) = 1e17;
        c.msh.Y(5) = 3.3;
        c.msh.TRIANG(1, 2) = 1; c.msh.TRIANG(2, 2) = 1; c.msh.TRIANG(3, 2) = 5;
        EXPECT_EQ(run_until_stop([&] { area2d(c.dim, c.ctl, c.io, c.msh); }).status, EXIT_ERROR);
        EXPECT_EQ(c.out(), "\n ERROR IN SUBROUTINE AREA2D: ZERO AREA CALCULATED\n"
                           "    AT TRIANG      2  NODE NUMBERS:     1     1     5\n");
    }
    {
        meshcase c;  // the second program has no listing message; the stop names the triangle
        c.ctl.DIALECT = dialect::ALT;
        c.sizes(1, 1, 20, 9, 8);
        rect_surface(c, 2, 2, 10.0, 10.0);
        c.msh.TRIANG(1, 3) = 1; c.msh.TRIANG(2, 3) = 5; c.msh.TRIANG(3, 3) = 9;
        stop_result r = run_until_stop([&] { area2d(c.dim, c.ctl, c.io, c.msh); });
        EXPECT_EQ(r.status, EXIT_ERROR);
        EXPECT_EQ(c.listing(), "");
        EXPECT_EQ(r.message, "grid file: triangle 3 (nodes 1 5 9) has zero area");
    }
}

TEST(ElementGeometry, ExtrudedMeshConservesVolume) {
    // Verticals of constant length BASE (IVERT = 0) under a sloping surface: the volume is the
    // plan area times BASE, whatever the slope. With IVERT = 1 the bottom is flat at zmin - BASE:
    // the volume is the integral of the depth Z(x, y) - zmin + BASE over the plan, exactly
    // the plan area times the mean of a linear surface (the centre's elevation) minus the bottom.
    struct volcase {
        int iflow, ivert;
        double base, volume;
    } cases[] = {
        {2, 0, 5.0, 400.0 * 5.0},
        {1, 0, 5.0, 400.0 * 5.0},
        {2, 1, 5.0, 400.0 * (12.0 - (10.0 - 2.0 - 5.0))},
    };
    for (const volcase& t : cases) {
        meshcase c;
        generated(c, t.iflow, t.ivert, t.base);
        elmgeo(c.dim, c.ctl, c.io, c.msh);
        double svol = 0.0, snod = 0.0, sarea = 0.0;
        for (int e = 1; e <= c.dim.NT; ++e) {
            svol += geo(c, e).vol;
            EXPECT_NEAR(geo(c, e).vol, std::fabs(det_volume(c, e)), 1e-9);
            expect_linear_reproduction(c, e);
        }
        for (int k = 1; k <= c.dim.N; ++k) snod += c.msh.VOLNOD(k);
        for (int i = 1; i <= c.dim.NNOD; ++i) sarea += c.msh.ARENOD(i);
        // Kept by elmgeo, the geometry reads back to the bit as it is formed.
        // The layers share the d of the top one; a node moved sideways makes every element keep
        // its own. One process of several keeps the elements touching its columns alone (here
        // the first surface node's column), and forms the others: the same geometry and volumes.
        auto expect_kept = [&c](long period) {
            c.dim.NGEO = c.dim.NT;
            elmgeo(c.dim, c.ctl, c.io, c.msh);
            EXPECT_EQ(c.msh.GEOMD.n2(), period);
            if (!c.msh.GSLOT.empty()) {
                long touching = 0;
                for (long e = 1; e <= c.dim.NTRI3; ++e)
                    for (int m = 1; m <= 4; ++m)
                        if ((c.msh.TETRA(m, e) - 1) % c.dim.NNOD == 0) { ++touching; break; }
                EXPECT_GT(touching, 0);
                EXPECT_EQ(c.msh.GEOM.n2(), touching * (c.dim.NT / c.dim.NTRI3));
            }
            for (int e = 1; e <= c.dim.NT; ++e) {
                tetra_geo kept, formed;
                const tetra_geo hand = by_vertex(c, e);
                tetra_geometry(c.msh, e, kept);
                form_geometry(c.msh, e, formed);
                EXPECT_EQ(std::memcmp(&kept, &hand, offsetof(tetra_geo, sign)), 0) << e;
                EXPECT_EQ(std::memcmp(&formed, &hand, offsetof(tetra_geo, sign)), 0) << e;
                EXPECT_EQ(kept.sign, hand.sign) << e;
                EXPECT_EQ(formed.sign, hand.sign) << e;
            }
        };
        // Not kept (ISOLV -11): the d of the top layer alone while the layers share it, nothing
        // otherwise; the loops' geometry, b, c and the volume formed, is the same to the bit.
        auto expect_formed = [&c](long period) {
            c.dim.NGEO = 0;
            elmgeo(c.dim, c.ctl, c.io, c.msh);
            EXPECT_TRUE(c.msh.GEOM.empty());
            EXPECT_EQ(c.msh.GEOMD.n2(), period);
            for (int e = 1; e <= c.dim.NT; ++e) {
                tetra_geo formed;
                const tetra_geo hand = by_vertex(c, e);
                tetra_geometry(c.msh, e, formed);
                EXPECT_EQ(std::memcmp(&formed, &hand, offsetof(tetra_geo, sign)), 0) << e;
                EXPECT_EQ(formed.sign, hand.sign) << e;
            }
        };
        expect_formed(c.dim.NTRI3);
        expect_kept(c.dim.NTRI3);
        const double x = c.msh.X(c.dim.N);
        c.msh.X(c.dim.N) += 0.25;
        expect_formed(0);
        expect_kept(c.dim.NT);
        c.msh.X(c.dim.N) = x;
        expect_kept(c.dim.NTRI3);
        sparse first;
        first.OWNCOL.assign(c.dim.NNOD, 0);
        first.OWNCOL[0] = 1;
        keep_own_geometry(c.dim, first, c.msh);
        expect_kept(c.dim.NTRI3);
        double split = 0.0;
        for (int k = 1; k <= c.dim.N; ++k) split += c.msh.VOLNOD(k);
        EXPECT_EQ(split, snod);
        EXPECT_NEAR(svol, t.volume, 1e-9 * t.volume) << "IFLOW " << t.iflow << " IVERT " << t.ivert;
        EXPECT_NEAR(snod, svol, 1e-9 * t.volume);
        EXPECT_NEAR(sarea, 400.0, 1e-9);
    }
}

TEST(NodeConnectivity, NodalAveragesOverTheSurroundingTetrahedra) {
    // Node 1 lies in 12 tetrahedra: 6 in element layer 1 (porosity 0.3) and 6 in layer 2 (0.4):
    // PORNOD = 0.35. With NTRI = 2 an element layer holds 6 tetrahedra.
    meshcase c;
    c.sizes(1, 2, 20, 5, 2);  // N = 15, NT = 12
    c.msh.TETRA.alloc(5, 12);  // layers that do not repeat: every element kept
    for (int e = 1; e <= 12; ++e) {
        c.msh.TETRA.kept()(1, e) = 1;
        for (int m = 2; m <= 4; ++m) c.msh.TETRA.kept()(m, e) = 2 + (3 * (e - 1) + m - 2) % 14;
        c.msh.TETRA.kept()(5, e) = 1;
    }
    c.sl.POROSITY.alloc(2, 1);
    c.sl.STORAGE.alloc(2, 1);
    c.sl.POROSITY(1, 1) = 0.3;
    c.sl.POROSITY(2, 1) = 0.4;
    c.sl.STORAGE(1, 1) = 1e-3;
    c.sl.STORAGE(2, 1) = 3e-3;
    c.sl.PORNOD.alloc(15);
    c.sl.SNODI.alloc(15);
    tpnodic(c.dim, c.ctl, c.io, c.msh, c.sl);
    EXPECT_EQ(c.msh.NCONT(1), 12);
    EXPECT_NEAR(c.sl.PORNOD(1), 0.35, 1e-15);
    EXPECT_NEAR(c.sl.SNODI(1), 2e-3, 1e-18);
    // Node 2 takes positions 0, 14 and 28 of the cycle 3(e-1) + m - 2: elements 1 and 5 of
    // layer 1 and element 10 of layer 2.
    EXPECT_EQ(c.msh.NCONT(2), 3);
    EXPECT_NEAR(c.sl.PORNOD(2), (0.3 + 0.3 + 0.4) / 3, 1e-15);
    long total = 0;
    for (int k = 1; k <= 15; ++k) total += c.msh.NCONT(k);
    EXPECT_EQ(total, 4 * 12);
    EXPECT_EQ(c.listing(), "");
}

TEST(NodeConnectivity, NodesOutsideEveryElementAreAllReported) {
    meshcase c;
    c.sizes(1, 1, 20, 3, 1);  // N = 6, NT = 3; only one element used, twice
    for (int e = 1; e <= 3; ++e) {
        for (int m = 1; m <= 4; ++m) c.msh.TETRA.kept()(m, e) = m;
        c.msh.TETRA.kept()(5, e) = 1;
    }
    c.sl.POROSITY.alloc(1, 1, 0.3);
    c.sl.STORAGE.alloc(1, 1, 0.0);
    c.sl.PORNOD.alloc(6);
    c.sl.SNODI.alloc(6);
    EXPECT_EQ(run_until_stop([&] { tpnodic(c.dim, c.ctl, c.io, c.msh, c.sl); }).status, EXIT_ERROR);
    const std::string msg = "\n ERROR IN MESH CONSTRUCTION:    NODE       5 IS NOT CONNECTED TO ANY ELEMENTS\n"
                            "\n ERROR IN MESH CONSTRUCTION:    NODE       6 IS NOT CONNECTED TO ANY ELEMENTS\n";
    EXPECT_EQ(c.listing(), msg);
    EXPECT_EQ(c.out(), msg);
    EXPECT_EQ(c.msh.NCONT(1), 3);
    EXPECT_DOUBLE_EQ(c.sl.PORNOD(4), 0.3);
}

TEST(NodeConnectivity, GeneratedMeshUsesLayerAndMaterial) {
    meshcase c;
    generated(c, 2, 0, 5.0);
    c.sl.POROSITY.alloc(3, 2);
    c.sl.STORAGE.alloc(3, 2);
    for (int l = 1; l <= 3; ++l)
        for (int k = 1; k <= 2; ++k) {
            c.sl.POROSITY(l, k) = 0.1 * l + 0.01 * k;
            c.sl.STORAGE(l, k) = 1.0;
        }
    c.sl.PORNOD.alloc(c.dim.N);
    c.sl.SNODI.alloc(c.dim.N);
    // Materials: triangles alternate 1, 2.
    for (int j = 1; j <= 8; ++j) c.msh.TRIANG(4, j) = 1 + (j + 1) % 2;
    gen3d(c.dim, c.ctl, c.io, c.msh, c.bc, c.R->tra);
    tpnodic(c.dim, c.ctl, c.io, c.msh, c.sl);
    // Corner node 3 is in triangle 3 only (material 1): every tetrahedron around it on the
    // surface is of layer 1, material 1; below it layers 1 and 2 meet.
    EXPECT_DOUBLE_EQ(c.sl.PORNOD(3), 0.11);
    const int below = 9 + 3;
    EXPECT_GT(c.msh.NCONT(below), 0);
    double want = 0.0;
    int count = 0;
    for (int e = 1; e <= c.dim.NT; ++e)
        for (int m = 1; m <= 4; ++m)
            if (c.msh.TETRA(m, e) == below) {
                const int L = (e - 1) / 24 + 1;
                want += 0.1 * L + 0.01 * c.msh.TETRA(5, e);
                ++count;
            }
    EXPECT_EQ(c.msh.NCONT(below), count);
    EXPECT_NEAR(c.sl.PORNOD(below), want / count, 1e-15);
    EXPECT_DOUBLE_EQ(c.sl.SNODI(below), 1.0);
}
