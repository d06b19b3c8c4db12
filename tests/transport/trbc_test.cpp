// Transport boundary conditions and the solute-parameter file: lists, echoes, stops, the
// replication down the verticals, the nodal retardation and the imposition on a system.
// Expected listing lines were printed by gfortran through the same format strings.
#include <gtest/gtest.h>

#include <cmath>

#include "mesh/geometry.h"
#include "mesh/grid.h"
#include "mesh/mesh_fixture.h"
#include "transport/solute.h"
#include "transport/trbc.h"

using namespace nep;
using namespace nep::meshtest;

namespace {

// A 3 x 3 surface grid (NNOD = 9) of two materials on NSTR = 3 layers (N = 36), with the
// transport storage sized for NP2C surface nodes, NPFC fixed nodes and NMC Cauchy nodes.
void coupled_case(meshcase& c, int np2c, int npfc, int nmc, const std::string& transbc) {
    c.ctl.ITRANS = 1;
    c.sizes(2, 3, 20, 9, 8);
    rect_surface(c, 2, 2, 10.0, 10.0);
    for (int j = 1; j <= 8; ++j) c.msh.TRIANG(4, j) = 1 + (j + 1) % 2;
    for (int l = 1; l <= 3; ++l) c.msh.ZRATIO(l) = 1.0 / 3;
    c.msh.IVERT = 0;
    c.msh.BASE = 6.0;
    c.dim.NP2C = np2c;
    c.dim.NPFC = npfc;
    c.dim.NPC = 4 * np2c + npfc;
    c.dim.NMC = nmc;
    c.io.IPRT1 = 1;
    alloc_transport(c.dim, c.R->tra);
    c.io.in(18).open_text(transbc, "transport boundary-condition file", "transbc");
}

const char* const kTransbc =
    "2\n2 7\n0.5 1.25e-3\n1\n30\n0.75\n3\n30 5 36\n2.0 0.0 7.5\n-4.0 1.0e-100 123456.0\n";

}  // namespace

TEST(TransportBoundaryFile, EchoesListsAndReplicatesDownTheVerticals) {
    meshcase c;
    coupled_case(c, 2, 1, 3, kTransbc);
    read_transp_bc(c.dim, c.ctl, c.io, c.R->tra);
    EXPECT_EQ(c.listing(),
              "\n     NP2C (# OF DIR NODES; 2-D MESH, TRNS EQ)=      2\n"
              "\n     DIRICHLET NODES IN 2-D MESH FOR TRANSPORT EQUATION\n"
              "       2      7\n"
              "\n     #  NODE  DIRICH VALUE    #  NODE  DIRICH VALUE    #  NODE  DIRICH VALUE\n"
              "     1     2   5.00000E-01    2     7   1.25000E-03\n"
              "\n     NPFC (# OF FIXED DIR NODES; TRNSPORT EQ)=      1\n"
              "\n     #  NODE  DIRICH VALUE    #  NODE  DIRICH VALUE    #  NODE  DIRICH VALUE\n"
              "     9    30   7.50000E-01\n"
              "\n     NPC  (TOT # OF DIRICH NODES; TRNSPT EQ) =      9\n"
              "\n     NMC  (# OF CAUCHY NODES; TRANSPORT EQ.) =      3\n"
              "\n     CAUCHY NODES IN 3-D MESH FOR TRANSPORT EQUATION\n"
              "      30      5     36\n"
              "\n     #  NODE  TOTAL CAUCHY  ADVECT. PART    #  NODE  TOTAL CAUCHY  ADVECT. PART\n"
              "     1    30   2.00000E+00  -4.00000E+00    2     5   0.00000E+00   1.00000-100\n"
              "     3    36   7.50000E+00   1.23456E+05\n");
    EXPECT_EQ(c.out(), "");
    EXPECT_EQ(c.dim.NPC, 9);

    // With the mesh: a, b, a+NNOD, b+NNOD, ..., b+3 NNOD, then the fixed node f.
    gen3d(c.dim, c.ctl, c.io, c.msh, c.bc, c.R->tra);
    const transport& t = c.R->tra;
    const int nodes[9] = {2, 7, 11, 16, 20, 25, 29, 34, 30};
    for (int k = 1; k <= 9; ++k) {
        EXPECT_EQ(t.DIRNODC(k), nodes[k - 1]) << "entry " << k;
        EXPECT_EQ(t.DIRVALC(k), k == 9 ? 0.75 : (k % 2 == 1 ? 0.5 : 1.25e-3)) << "entry " << k;
    }
}

TEST(TransportBoundaryFile, NodesOutsideTheMeshStopTheRun) {
    // A surface node above NNOD: the fixed text on standard output, the detail for standard error.
    meshcase c;
    coupled_case(c, 2, 0, 0, "2\n3 10\n1 1\n0\n0\n");
    stop_result r = run_until_stop([&] { read_transp_bc(c.dim, c.ctl, c.io, c.R->tra); });
    EXPECT_EQ(r.status, EXIT_ERROR);
    EXPECT_EQ(c.out(), "  ERROR in transport boundary conditions file: a node value to be replicated is"
                       " greater than the number (NNOD) of surface nodes!\n");
    EXPECT_EQ(r.message, "transport boundary-condition file 'transbc' line 2: entry 2 of the NP2C list "
                         "is node 10, outside 1..NNOD = 9");
    // The second program begins the line in lower case.
    meshcase a;
    coupled_case(a, 2, 0, 0, "2\n3 10\n1 1\n0\n0\n");
    a.ctl.DIALECT = dialect::ALT;
    EXPECT_EQ(run_until_stop([&] { read_transp_bc(a.dim, a.ctl, a.io, a.R->tra); }).status, EXIT_ERROR);
    EXPECT_EQ(a.out(), "  error in transport boundary conditions file: a node value to be replicated is"
                       " greater than the number (NNOD) of surface nodes!\n");

    // Node 0 on the surface, a fixed node above N, a Cauchy node below 1: listing and standard
    // output name the file, line, entry and node.
    struct bad_case { const char* text; int np2c, npfc, nmc; const char* what; };
    const bad_case cases[] = {
        {"1\n0\n1\n0\n0\n", 1, 0, 0, "line 2: entry 1 of the NP2C list is node 0, outside 1..NNOD = 9"},
        {"0\n2\n5\n37\n", 0, 2, 0, "line 4: entry 2 of the NPFC list is node 37, outside 1..N = 36"},
        {"0\n0\n2\n4 -1\n", 0, 0, 2, "line 4: entry 2 of the NMC list is node -1, outside 1..N = 36"},
    };
    for (const bad_case& b : cases) {
        meshcase d;
        coupled_case(d, b.np2c, b.npfc, b.nmc, b.text);
        EXPECT_EQ(run_until_stop([&] { read_transp_bc(d.dim, d.ctl, d.io, d.R->tra); }).status, EXIT_ERROR);
        const std::string line =
            "  ERROR: transport boundary-condition file 'transbc' " + std::string(b.what) + "\n";
        EXPECT_NE(d.listing().find(line), std::string::npos) << d.listing();
        EXPECT_EQ(d.out(), line);
    }
}

TEST(TransportBoundaryConditions, CauchyWeights) {
    // Three nodes, full pattern with the diagonal in the middle of row 2 and last in row 3. The
    // Dirichlet rows are the linear system's (tests/solvers/linsys_test.cpp): bctrn leaves them.
    arr1<int> IAC(4), JAC(9);
    const double a0[9] = {4, -1, 0, 1e6, 5, -1e6, 0, -1, 3}, b0[3] = {1, 2, 3};
    for (int i = 1; i <= 4; ++i) IAC(i) = 3 * i - 2;
    for (int j = 1; j <= 9; ++j) JAC(j) = (j - 1) % 3 + 1;
    arr1<double> A(9), RHS(3), RHSSAV(3);
    auto reset = [&] {
        for (int j = 1; j <= 9; ++j) A(j) = a0[j - 1];
        for (int i = 1; i <= 3; ++i) RHS(i) = b0[i - 1];
        RHSSAV.fill(-7.0);
    };
    arr1<int> CAUNOD(1, 3);
    arr1<double> CAUTOT(1, 2.0), CAUADV(1, 4.0);

    for (int step : {1, 2, 5}) {
        reset();
        bctrn(3, step, 1, CAUNOD, IAC, JAC, RHS, RHSSAV, CAUTOT, CAUADV, A);
        const double w = step == 1 ? 0.5 : 1.0;
        for (int i = 1; i <= 3; ++i) EXPECT_EQ(RHSSAV(i), b0[i - 1]);
        for (int j = 1; j <= 8; ++j) EXPECT_EQ(A(j), a0[j - 1]) << j;
        EXPECT_EQ(RHS(3), 3.0 + 2.0 * w);  // +1 in step 1, +2 afterwards
        EXPECT_EQ(A(9), 3.0 + 4.0 * w);    // +2 in step 1, +4 afterwards
        EXPECT_EQ(RHS(1), 1.0);
        EXPECT_EQ(RHS(2), 2.0);
    }

    // No Cauchy nodes: only the copy of the right-hand side.
    reset();
    arr1<int> none_i;
    arr1<double> none_r;
    bctrn(3, 1, 0, none_i, IAC, JAC, RHS, RHSSAV, none_r, none_r, A);
    for (int j = 1; j <= 9; ++j) EXPECT_EQ(A(j), a0[j - 1]);
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(RHS(i), b0[i - 1]);
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(RHSSAV(i), b0[i - 1]);
}

TEST(SoluteFile, EchoTablesAndNodalRetardation) {
    meshcase c;
    coupled_case(c, 0, 0, 0, "0\n0\n0\n");
    c.dim.NSTR = 2;  // two layers of two materials for the tables
    alloc_soil(c.dim, c.ctl, c.sl);
    c.io.IPRT1 = 0;
    c.io.in(17).open_text("1000.0 0.025 1e-9 0.0\n0.5 0.05 1.0\n1.5 0.15 2.0\n2.5, 0.25, 1.25\n10 1 3\n",
                          "solute file", "solute");
    read_transp_solute(c.dim, c.io, c.sl);
    const std::string head =
        "\n\n     LONGITUDINAL AND TRANSVERSE DISPERSIVITY VALUES AND RETARDATION FACTORS\n"
        "  LAYER MAT.TYPE  ALFA-L       ALFA-T      RETARD FAC\n"
        "\n     RHO0    (DENSITY OF FRESH WATER)         =     1.00000E+03\n"
        "     EPSLON  (DENSITY DIFFERENCE RATIO)       =     2.50000E-02\n"
        "     DIFFUS  (MOLECULAR DIFFUSION COEFFICIENT)=     1.00000E-09\n"
        "     EPSLON1 (VISCOSITY DIFFERENCE RATIO)     =     0.00000E+00\n";
    EXPECT_EQ(c.listing(), head +
                               "    1       1    5.00000E-01  5.00000E-02  1.00000E+00\n"
                               "    1       2    1.50000E+00  1.50000E-01  2.00000E+00\n"
                               "    2       1    2.50000E+00  2.50000E-01  1.25000E+00\n"
                               "    2       2    1.00000E+01  1.00000E+00  3.00000E+00\n");
    // Layer outside, material inside.
    EXPECT_EQ(c.sl.ALFAT(2, 1), 0.25);
    EXPECT_EQ(c.sl.RETARD(1, 2), 2.0);

    // IPRT1 < 0: the header and the constants only. A retardation factor of 0 stops the run.
    meshcase d;
    coupled_case(d, 0, 0, 0, "0\n0\n0\n");
    d.dim.NSTR = 2;
    alloc_soil(d.dim, d.ctl, d.sl);
    d.io.IPRT1 = -1;
    d.io.in(17).open_text("1000.0 0.025 1e-9 0.0\n0.5 0.05 1.0\n1.5 0.15 0.0\n", "solute file", "solute");
    EXPECT_EQ(run_until_stop([&] { read_transp_solute(d.dim, d.io, d.sl); }).status, EXIT_ERROR);
    const std::string bad =
        "  ERROR: solute file 'solute' line 3: RETARD = 0 (layer 1, material 2) is not positive\n";
    EXPECT_EQ(d.listing(), head + bad);
    EXPECT_EQ(d.out(), bad);

    // The nodal retardation is averaged like the porosity: with RETARD = 10 POROSITY everywhere
    // the two nodal averages keep the same ratio.
    meshcase m;
    coupled_case(m, 0, 0, 0, "0\n0\n0\n");
    alloc_soil(m.dim, m.ctl, m.sl);
    gen3d(m.dim, m.ctl, m.io, m.msh, m.bc, m.R->tra);
    for (int l = 1; l <= 3; ++l)
        for (int k = 1; k <= 2; ++k) {
            m.sl.POROSITY(l, k) = 0.1 * l + 0.01 * k;
            m.sl.RETARD(l, k) = 10.0 * m.sl.POROSITY(l, k);
        }
    tpnodic(m.dim, m.ctl, m.io, m.msh, m.sl);
    for (int v = 1; v <= m.dim.N; ++v) EXPECT_NEAR(m.sl.RETNOD(v), 10.0 * m.sl.PORNOD(v), 1e-14) << v;
    // Corner node 3 touches triangle 3 (material 1) only; below the last layer layer 3 only.
    EXPECT_DOUBLE_EQ(m.sl.RETNOD(3), 1.1);
    EXPECT_DOUBLE_EQ(m.sl.RETNOD(27 + 3), 3.1);
}
