// The grid file, the prism split, the elevations of the node layers, the seepage-face order
// check, the coordinate dump and the Dirichlet lists down the verticals. Formatted lines were
// produced once through gfortran (fortran-format) and are compared byte for byte.
#include <gtest/gtest.h>

#include "mesh/grid.h"
#include "mesh/mesh_fixture.h"

using namespace nep;
using namespace nep::meshtest;

namespace {

// The 3 x 3 grid of nodes 10 m apart, numbered row by row; eight triangles of materials 1, 2
// in turn; surface elevations 10, 11, 12 across each row.
const char* kGridHead = "2 2 20\n9 8\n";
const char* kTriangles =
    "1 2 5 1\n1 5 4 2\n2 3 6 1\n2 6 5 2\n4 5 8 1\n4 8 7 2\n5 6 9 1\n5 9 8 2\n";
const char* kCoords = "0 0  10 0  20 0\n0 10 10 10 20 10\n0,20,10,20,20,20\n";

std::string grid(const std::string& vert, const std::string& zratio, const std::string& elev,
                 const std::string& triangles = kTriangles) {
    return std::string(kGridHead) + vert + "\n" + zratio + "\n" + elev + "\n" + triangles + kCoords;
}

// The 3 x 3 grid set up in memory: surface as above, NSTR layers.
void small_grid(meshcase& c, int nstr, int isp, int ivert, double base) {
    c.sizes(2, nstr, 20, 9, 8);
    rect_surface(c, 2, 2, 10.0, 10.0);
    for (int j = 1; j <= 8; ++j) c.msh.TRIANG(4, j) = 1 + (j + 1) % 2;
    for (int i = 1; i <= 9; ++i) c.msh.Z(i) = 10.0 + c.msh.X(i) / 10.0;
    for (int l = 1; l <= nstr; ++l) c.msh.ZRATIO(l) = 1.0 / nstr;
    c.msh.ISP = isp;
    c.msh.IVERT = ivert;
    c.msh.BASE = base;
}

const char* kEchoDims =
    "\n"
    "     NNOD   (NUM. NODI RET. BIDIMENSIONALE)  =      9\n"
    "     NTRI   (NUM. TRIANGOLI RET. BIDIM.)     =      8\n"
    "     NZONE  (NUMERO ZONE (MATERIAL TYPES))   =      2\n"
    "     NSTR   (NUMERO STRATI)                  =      2\n"
    "     N1     (NUM. MAX CONTATTI NODALI)       =     20\n";
const char* kEchoVert =
    "\n"
    "     IVERT  (TYPE OF VERTICAL DISCRETIZATION)=      1\n"
    "     ISP    (0 FLAT SURFACE,                   \n"
    "            (1 NOT FLAT reads upp. surf values)\n"
    "            (2 NOT FLAT reads upper and bottom)     1\n"
    "     BASE   (THICKNESS OR BASE OF 3-D MESH)  =     5.00000E+00\n";
const char* kEchoLayers =
    "     LAYER   1     ZRATIO =   5.00000E-01\n"
    "     LAYER   2     ZRATIO =   5.00000E-01\n";
const char* kEchoElevations =
    "\n"
    "      SURFACE ELEVATION VALUES\n"
    "    1   1.0000E+01    2   1.1000E+01    3   1.2000E+01    4   1.0000E+01\n"
    "    5   1.1000E+01    6   1.2000E+01    7   1.0000E+01    8   1.1000E+01\n"
    "    9   1.2000E+01\n";
const char* kZratioError = "\n\n INPUT ERROR : ZRATIO VALUES MUST SUM TO 1.0\n";

}  // namespace

TEST(GridFile, ReadsAndEchoesEveryRecord) {
    meshcase c;
    c.sizes(2, 2, 20, 9, 8);
    c.io.IPRT1 = 1;
    c.grid_text(grid("1 1 5.0", "0.5 0.5", "10 11 12\n10 11 12\n10 11 12"));
    read_grid(c.dim, c.ctl, c.io, c.msh);
    EXPECT_EQ(c.listing(), std::string(kEchoDims) + kEchoVert + kEchoLayers + kEchoElevations);
    EXPECT_EQ(c.out(), "");
    EXPECT_EQ(c.msh.IVERT, 1);
    EXPECT_EQ(c.msh.ISP, 1);
    EXPECT_EQ(c.msh.BASE, 5.0);
    EXPECT_EQ(c.msh.Z(6), 12.0);
    EXPECT_EQ(c.msh.Z(10), 0.0);  // below the surface nothing is read with ISP = 1
    const int t8[4] = {5, 9, 8, 2};
    for (int r = 1; r <= 4; ++r) EXPECT_EQ(c.msh.TRIANG(r, 8), t8[r - 1]);
    EXPECT_EQ(c.msh.X(3), 20.0);
    EXPECT_EQ(c.msh.Y(7), 20.0);  // the pairs were read across lines and commas
    EXPECT_EQ(c.msh.X(9), 20.0);
}

TEST(GridFile, FlatAndTwoSurfaceElevations) {
    {
        meshcase c;  // ISP = 0: one value for the whole surface; no elevation echo at IPRT1 = 0
        c.sizes(2, 2, 20, 9, 8);
        c.grid_text(grid("0 0 5.0", "0.5 0.5", "7.5 99 99"));
        read_grid(c.dim, c.ctl, c.io, c.msh);
        for (int i = 1; i <= 9; ++i) EXPECT_EQ(c.msh.Z(i), 7.5);
        EXPECT_EQ(c.listing().find("SURFACE ELEVATION"), std::string::npos);
    }
    {
        meshcase c;  // ISP = 2: the surface, then the bottom node layer as a second read
        c.sizes(2, 2, 20, 9, 8);
        c.grid_text(grid("0 2 0.0", "0.5 0.5", "9*10 7\n9*-3 8"));
        read_grid(c.dim, c.ctl, c.io, c.msh);
        EXPECT_EQ(c.msh.Z(9), 10.0);
        for (int i = 19; i <= 27; ++i) EXPECT_EQ(c.msh.Z(i), -3.0);
        EXPECT_EQ(c.msh.TRIANG(1, 1), 1);  // the 7 and 8 ended their records unread
    }
}

TEST(GridFile, LayerFractionsMustSumToOne) {
    {
        meshcase c;  // 1 + 5e-11 is within the tolerance
        c.sizes(2, 2, 20, 9, 8);
        c.grid_text(grid("1 1 5.0", "0.50000000005 0.5", "9*10"));
        EXPECT_FALSE(run_until_stop([&] { read_grid(c.dim, c.ctl, c.io, c.msh); }).stopped);
    }
    {
        meshcase c;  // 1 + 2e-10 is not: the sum goes to standard output only
        c.sizes(2, 2, 20, 9, 8);
        c.grid_text(grid("1 1 5.0", "0.5 0.5000000002", "9*10"));
        stop_result r = run_until_stop([&] { read_grid(c.dim, c.ctl, c.io, c.msh); });
        EXPECT_TRUE(r.stopped);
        EXPECT_EQ(r.status, EXIT_ERROR);
        const std::string layers =
            "     LAYER   1     ZRATIO =   5.00000E-01\n"
            "     LAYER   2     ZRATIO =   5.00000E-01\n";
        EXPECT_EQ(c.listing(), std::string(kEchoDims) + kEchoVert + layers + kZratioError);
        EXPECT_EQ(c.out(), std::string(kZratioError) + " ZRATIO SUM =     1.00000E+00\n");
    }
    {
        meshcase c;  // the second program writes no sum
        c.ctl.DIALECT = dialect::ALT;
        c.sizes(2, 2, 20, 9, 8);
        c.grid_text(grid("1 1 5.0", "0.6 0.6", "9*10"));
        EXPECT_TRUE(run_until_stop([&] { read_grid(c.dim, c.ctl, c.io, c.msh); }).stopped);
        EXPECT_EQ(c.out(), kZratioError);
    }
}

TEST(GridFile, BadIspStopsBeforeTheElevations) {
    meshcase c;
    c.sizes(2, 2, 20, 9, 8);
    c.grid_text(grid("1 3 5.0", "0.5 0.5", "9*10"));
    stop_result r = run_until_stop([&] { read_grid(c.dim, c.ctl, c.io, c.msh); });
    EXPECT_EQ(r.status, EXIT_ERROR);
    const std::string msg = "\n     STOP   (BAD ISP VALUE)=      3\n";
    EXPECT_EQ(c.out(), msg);
    ASSERT_GE(c.listing().size(), msg.size());
    EXPECT_EQ(c.listing().substr(c.listing().size() - msg.size()), msg);
}

TEST(GridFile, TriangleVerticesAndMaterialsAreCheckedAsRead) {
    struct bad {
        const char* triangles;
        const char* message;
    } cases[] = {
        {"1 2 5 1\n1 5 10 2\n", " INPUT ERROR : TRIANGLE 2 HAS NODE 10 OUTSIDE 1..NNOD (NNOD = 9); GRID FILE 'grid', LINE 7\n"},
        {"1 2 5 1\n1 5 4 2\n2 3 6 1\n0 6 5 2\n", " INPUT ERROR : TRIANGLE 4 HAS NODE 0 OUTSIDE 1..NNOD (NNOD = 9); GRID FILE 'grid', LINE 9\n"},
        {"1 2 5 1\n1 5 4 3\n", " INPUT ERROR : TRIANGLE 2 HAS MATERIAL CODE 3 OUTSIDE 1..NZONE (NZONE = 2); GRID FILE 'grid', LINE 7\n"},
        // A slash leaves the remaining triangles unset: the first of them is refused.
        {"1 2 5 1 /\n", " INPUT ERROR : TRIANGLE 2 HAS NODE 0 OUTSIDE 1..NNOD (NNOD = 9); GRID FILE 'grid', LINE 6\n"},
    };
    for (const bad& b : cases) {
        meshcase c;
        c.sizes(2, 2, 20, 9, 8);
        c.grid_text(grid("1 1 5.0", "0.5 0.5", "9*10", b.triangles));
        stop_result r = run_until_stop([&] { read_grid(c.dim, c.ctl, c.io, c.msh); });
        EXPECT_EQ(r.status, EXIT_ERROR) << b.triangles;
        EXPECT_EQ(c.out(), b.message);
        ASSERT_GE(c.listing().size(), c.out().size());
        EXPECT_EQ(c.listing().substr(c.listing().size() - c.out().size()), c.out());
    }
}

TEST(GridFile, NegativeLayerFractionOrThicknessStops) {
    {
        meshcase c;
        c.sizes(2, 2, 20, 9, 8);
        c.grid_text(grid("1 1 5.0", "1.5 -0.5", "9*10"));
        EXPECT_EQ(run_until_stop([&] { read_grid(c.dim, c.ctl, c.io, c.msh); }).status, EXIT_ERROR);
        EXPECT_EQ(c.out(), " INPUT ERROR : ZRATIO OF LAYER 2 IS NOT POSITIVE (-5.00000E-01); GRID FILE 'grid', LINE 4\n");
    }
    {
        // A layer of zero thickness would hold flat tetrahedra.
        meshcase c;
        c.sizes(2, 2, 20, 9, 8);
        c.grid_text(grid("1 1 5.0", "1.0 0", "9*10"));
        EXPECT_EQ(run_until_stop([&] { read_grid(c.dim, c.ctl, c.io, c.msh); }).status, EXIT_ERROR);
        EXPECT_EQ(c.out(), " INPUT ERROR : ZRATIO OF LAYER 2 IS NOT POSITIVE (0.00000E+00); GRID FILE 'grid', LINE 4\n");
    }
    {
        meshcase c;
        c.sizes(2, 2, 20, 9, 8);
        c.grid_text(grid("0 1 -5.0", "0.5 0.5", "9*10"));
        EXPECT_EQ(run_until_stop([&] { read_grid(c.dim, c.ctl, c.io, c.msh); }).status, EXIT_ERROR);
        EXPECT_EQ(c.out(), " INPUT ERROR : BASE IS NEGATIVE (-5.00000E+00); THE LAYERS LIE BELOW THE SURFACE; "
                           "GRID FILE 'grid'\n");
    }
    {
        meshcase c;  // with both surfaces given BASE is not used
        c.sizes(2, 2, 20, 9, 8);
        c.grid_text(grid("0 2 -5.0", "0.5 0.5", "9*10\n9*0"));
        EXPECT_FALSE(run_until_stop([&] { read_grid(c.dim, c.ctl, c.io, c.msh); }).stopped);
    }
}

TEST(GridFile, SizesMustBeThoseOfTheFirstPass) {
    meshcase c;
    c.sizes(2, 2, 20, 8, 8);
    c.grid_text(grid("1 1 5.0", "0.5 0.5", "9*10"));
    stop_result r = run_until_stop([&] { read_grid(c.dim, c.ctl, c.io, c.msh); });
    EXPECT_EQ(r.status, EXIT_ERROR);
    EXPECT_NE(r.message.find("grid file 'grid'"), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("differ from the sizes read at start-up"), std::string::npos) << r.message;
}

TEST(MeshGeneration, SortcolOrdersTheVerticesOnly) {
    arr2<int> a(5, 6);
    const int cols[6][5] = {{5, 2, 9, 1, 7}, {3, 2, 1, 0, 4}, {1, 2, 3, 4, 0},
                            {4, 3, 2, 1, 9}, {2, 2, 1, 3, 1}, {9, 8, 7, 6, 5}};
    for (int j = 1; j <= 6; ++j)
        for (int i = 1; i <= 5; ++i) a(i, j) = cols[j - 1][i - 1];
    sortcol(3, a, 3);   // triangles: rows 1..3 of the first three columns; row 4 stays
    const int want3[3][5] = {{2, 5, 9, 1, 7}, {1, 2, 3, 0, 4}, {1, 2, 3, 4, 0}};
    for (int j = 1; j <= 3; ++j)
        for (int i = 1; i <= 5; ++i) EXPECT_EQ(a(i, j), want3[j - 1][i - 1]) << i << "," << j;
    arr2<int> b = a;
    sortcol(6, b, 4);   // tetrahedra: rows 1..4; row 5 stays
    const int want[3][5] = {{1, 2, 3, 4, 9}, {1, 2, 2, 3, 1}, {6, 7, 8, 9, 5}};
    for (int j = 4; j <= 6; ++j)
        for (int i = 1; i <= 5; ++i) EXPECT_EQ(b(i, j), want[j - 4][i - 1]) << i << "," << j;
}

TEST(MeshGeneration, PrismSplitNumbering) {
    for (int iflow : {2, 1}) {
        meshcase c;
        c.ctl.IFLOW = iflow;
        small_grid(c, 2, 1, 0, 5.0);
        // Triangle 1 given as (5, 2, 9): sorted to (2, 5, 9) before the split.
        c.msh.TRIANG(1, 1) = 5; c.msh.TRIANG(2, 1) = 2; c.msh.TRIANG(3, 1) = 9; c.msh.TRIANG(4, 1) = 2;
        grid3d(c.dim, c.ctl, c.io, c.msh, c.bc, c.R->tra);
        EXPECT_EQ(c.msh.TRIANG(1, 1), 2);
        EXPECT_EQ(c.msh.TRIANG(2, 1), 5);
        EXPECT_EQ(c.msh.TRIANG(3, 1), 9);
        EXPECT_EQ(c.dim.NT, 48);
        // NNOD = 9: layer 1 elements 1..3, layer 2 elements 3*(8+1)-2 = 25..27.
        const int newton[6][5] = {{2, 5, 9, 11, 2},   {11, 14, 18, 9, 2}, {5, 9, 14, 11, 2},
                                  {11, 14, 18, 20, 2}, {20, 23, 27, 18, 2}, {14, 18, 23, 20, 2}};
        const int picard[6][5] = {{2, 5, 9, 11, 2},   {9, 11, 14, 18, 2}, {5, 9, 11, 14, 2},
                                  {11, 14, 18, 20, 2}, {18, 20, 23, 27, 2}, {14, 18, 20, 23, 2}};
        const int elems[6] = {1, 2, 3, 25, 26, 27};
        for (int k = 0; k < 6; ++k)
            for (int r = 1; r <= 5; ++r) {
                const int want = iflow == 1 ? picard[k][r - 1] : newton[k][r - 1];
                EXPECT_EQ(c.msh.TETRA(r, elems[k]), want) << "IFLOW " << iflow << " element " << elems[k] << " row " << r;
            }
        // Every tetrahedron takes the material of its triangle, in every layer.
        for (int e = 1; e <= c.dim.NT; ++e) {
            const int j = ((e - 1) % 24) / 3 + 1;
            EXPECT_EQ(c.msh.TETRA(5, e), c.msh.TRIANG(4, j)) << e;
        }
    }
}

TEST(MeshGeneration, ElevationsOfTheNodeLayers) {
    struct expect_layer {
        int isp, ivert;
        double base;
        double z1[3], z2[3];  // nodes 1..3 of node layers 1 and 2
    };
    // Surface nodes 1, 2, 3 at 10, 11, 12 (zmin = 10), two layers 0.25 / 0.75.
    const expect_layer cases[] = {
        // Each vertical BASE deep below its own surface node.
        {1, 0, 4.0, {9.0, 10.0, 11.0}, {6.0, 7.0, 8.0}},
        // Flat bottom at zmin - BASE, layers proportional: 11 - (11 - 10 + 4) * 0.25 = 9.75.
        {1, 1, 4.0, {9.0, 9.75, 10.5}, {6.0, 6.0, 6.0}},
        // Any other IVERT: horizontal interfaces below zmin.
        {1, 7, 4.0, {9.0, 9.0, 9.0}, {6.0, 6.0, 6.0}},
        {1, -1, 4.0, {9.0, 9.0, 9.0}, {6.0, 6.0, 6.0}},
    };
    for (const expect_layer& t : cases) {
        meshcase c;
        small_grid(c, 2, t.isp, t.ivert, t.base);
        c.msh.ZRATIO(1) = 0.25;
        c.msh.ZRATIO(2) = 0.75;
        gen3d(c.dim, c.ctl, c.io, c.msh, c.bc, c.R->tra);
        for (int i = 1; i <= 3; ++i) {
            EXPECT_DOUBLE_EQ(c.msh.Z(9 + i), t.z1[i - 1]) << "IVERT " << t.ivert << " node " << i;
            EXPECT_DOUBLE_EQ(c.msh.Z(18 + i), t.z2[i - 1]) << "IVERT " << t.ivert << " node " << i;
            EXPECT_EQ(c.msh.X(18 + i), c.msh.X(i));
            EXPECT_EQ(c.msh.Y(9 + i), c.msh.Y(i));
        }
    }
    {
        // ISP = 1, IVERT = 1, surfaces 10 and 12, BASE 5, two layers of 0.5: the verticals end
        // at 5 and the node under the 12 m surface in node layer 1 is at 12 - 7 * 0.5 = 8.5.
        meshcase c;
        small_grid(c, 2, 1, 1, 5.0);
        for (int i = 1; i <= 9; ++i) c.msh.Z(i) = c.msh.X(i) > 0.0 ? 12.0 : 10.0;
        gen3d(c.dim, c.ctl, c.io, c.msh, c.bc, c.R->tra);
        EXPECT_DOUBLE_EQ(c.msh.Z(9 + 2), 8.5);
        EXPECT_DOUBLE_EQ(c.msh.Z(9 + 1), 7.5);
        for (int i = 19; i <= 27; ++i) EXPECT_DOUBLE_EQ(c.msh.Z(i), 5.0);
    }
    {
        // ISP = 0 (flat) with IVERT = 0: every node of node layer L at Z(1) - BASE * c_L.
        meshcase c;
        small_grid(c, 2, 0, 0, 8.0);
        for (int i = 1; i <= 9; ++i) c.msh.Z(i) = 3.0;
        c.msh.ZRATIO(1) = 0.25;
        c.msh.ZRATIO(2) = 0.75;
        gen3d(c.dim, c.ctl, c.io, c.msh, c.bc, c.R->tra);
        for (int i = 1; i <= 9; ++i) {
            EXPECT_EQ(c.msh.Z(9 + i), 1.0);
            EXPECT_EQ(c.msh.Z(18 + i), -5.0);
        }
    }
    {
        // One layer: N = 2 NNOD, NT = 3 NTRI, the bottom BASE below the surface.
        meshcase c;
        small_grid(c, 1, 1, 0, 2.0);
        EXPECT_EQ(c.dim.N, 18);
        EXPECT_EQ(c.dim.NT, 24);
        gen3d(c.dim, c.ctl, c.io, c.msh, c.bc, c.R->tra);
        for (int i = 1; i <= 9; ++i) EXPECT_EQ(c.msh.Z(9 + i), c.msh.Z(i) - 2.0);
        EXPECT_EQ(c.msh.TETRA(4, 24), 9 + c.msh.TRIANG(1, 8));  // last element: (a2, a3, b2, b1)
    }
}

TEST(MeshGeneration, SurfaceAndBottomGiven) {
    meshcase c;
    small_grid(c, 2, 2, 99, -1.0);  // IVERT and BASE are not used
    for (int i = 1; i <= 9; ++i) c.msh.Z(18 + i) = c.msh.Z(i) - 4.0 - i;
    gen3d(c.dim, c.ctl, c.io, c.msh, c.bc, c.R->tra);
    for (int i = 1; i <= 9; ++i) {
        const double d = 4.0 + i;
        EXPECT_DOUBLE_EQ(c.msh.Z(9 + i), c.msh.Z(i) - 0.5 * d);
        EXPECT_DOUBLE_EQ(c.msh.Z(18 + i), c.msh.Z(i) - d);
    }
    // A bottom at the height of the surface stops at that node, naming its bottom node.
    meshcase d;
    small_grid(d, 2, 2, 0, 1.0);
    for (int i = 1; i <= 9; ++i) d.msh.Z(18 + i) = d.msh.Z(i) - 1.0;
    d.msh.Z(18 + 2) = d.msh.Z(2);
    d.msh.Z(18 + 5) = d.msh.Z(5) + 1.0;
    EXPECT_EQ(run_until_stop([&] { gen3d(d.dim, d.ctl, d.io, d.msh, d.bc, d.R->tra); }).status, EXIT_ERROR);
    const std::string msg = "\n\n INPUT ERROR : BAD VALUE OF elevations for nodes #     2    20\n";
    EXPECT_EQ(d.listing(), msg);
    EXPECT_EQ(d.out(), msg);
}

TEST(MeshGeneration, BadIspStopsTheExtrusion) {
    meshcase c;
    small_grid(c, 2, 4, 0, 1.0);
    EXPECT_EQ(run_until_stop([&] { gen3d(c.dim, c.ctl, c.io, c.msh, c.bc, c.R->tra); }).status, EXIT_ERROR);
    EXPECT_EQ(c.listing(), "\n\n INPUT ERROR : BAD VALUE OF ISP     4\n");
    EXPECT_EQ(c.out(), c.listing());
}

namespace {

void faces(meshcase& c, std::initializer_list<std::initializer_list<int>> lists) {
    int nmax = 0;
    for (auto& l : lists) nmax = std::max(nmax, (int)l.size());
    c.dim.NSF = (int)lists.size();
    c.dim.NSFNMX = nmax + 1;
    c.bc.NSFNUM.alloc(c.dim.NSF);
    c.bc.SFNOD.alloc(c.dim.NSF, c.dim.NSFNMX);
    int s = 0;
    for (auto& l : lists) {
        ++s;
        c.bc.NSFNUM(s) = (int)l.size();
        int p = 0;
        for (int v : l) c.bc.SFNOD(s, ++p) = v;
        c.bc.SFNOD(s, p + 1) = -9999;
    }
    c.io.in(13).open_text("", "seepage-face file", "sfbc");
}

}  // namespace

TEST(MeshGeneration, SeepageFacesGoDownwards) {
    {
        meshcase c;  // descending, and equal elevations along the surface row 1, 4, 7
        small_grid(c, 2, 1, 0, 5.0);
        faces(c, {{3, 12, 21}, {1, 4, 7, 16}, {5}});
        EXPECT_FALSE(run_until_stop([&] { gen3d(c.dim, c.ctl, c.io, c.msh, c.bc, c.R->tra); }).stopped);
        EXPECT_EQ(c.listing(), "");
    }
    {
        meshcase c;  // node 2 (11 m) after node 1 (10 m)
        small_grid(c, 2, 1, 0, 5.0);
        faces(c, {{3, 12}, {1, 2}});
        EXPECT_EQ(run_until_stop([&] { gen3d(c.dim, c.ctl, c.io, c.msh, c.bc, c.R->tra); }).status, EXIT_ERROR);
        const std::string msg =
            "\n\n INPUT ERROR : ELEVATION VALUES NOT IN DESCENDING ORDER ON SEEPAGE FACE      2\n"
            "    NODES   1 (NODE #     1) AND   2 (NODE #     2)\n";
        EXPECT_EQ(c.listing(), msg);
        EXPECT_EQ(c.out(), msg);
    }
    {
        meshcase c;  // deeper nodes are compared too: 13 lies 1.25 m above 21
        small_grid(c, 2, 1, 0, 5.0);
        faces(c, {{4, 13, 21, 12}});
        EXPECT_EQ(run_until_stop([&] { gen3d(c.dim, c.ctl, c.io, c.msh, c.bc, c.R->tra); }).status, EXIT_ERROR);
        EXPECT_NE(c.out().find("NODES   3 (NODE #    21) AND   4 (NODE #    12)"), std::string::npos) << c.out();
    }
    {
        meshcase c;  // a node number outside the mesh is refused before its elevation is read
        small_grid(c, 2, 1, 0, 5.0);
        faces(c, {{3, 12}, {1, 28}});
        EXPECT_EQ(run_until_stop([&] { gen3d(c.dim, c.ctl, c.io, c.msh, c.bc, c.R->tra); }).status, EXIT_ERROR);
        const std::string msg = " INPUT ERROR : SEEPAGE FACE 2, NODE 2 OF ITS LIST (NODE # 28) IS OUTSIDE 1..N (N = 27); "
                                "SEEPAGE-FACE FILE 'sfbc'\n";
        EXPECT_EQ(c.listing(), msg);
        EXPECT_EQ(c.out(), msg);
    }
}

TEST(MeshGeneration, CoordinateDumpEndsTheRun) {
    {
        meshcase c;
        small_grid(c, 2, 0, 0, 10.0);
        for (int i = 1; i <= 9; ++i) c.msh.Z(i) = 0.0;
        c.io.IPRT1 = 3;
        stop_result r = run_until_stop([&] { grid3d(c.dim, c.ctl, c.io, c.msh, c.bc, c.R->tra); });
        EXPECT_TRUE(r.stopped);
        EXPECT_EQ(r.status, EXIT_DONE);
        const std::string& f = c.coords();
        EXPECT_EQ(count_lines(f), 48 + 27);  // NT + N
        EXPECT_EQ(f.substr(0, 46), "        1        2        5       10        1\n");
        EXPECT_EQ(f.substr(47 * 46, 46), "       17       18       26       23        2\n");
        EXPECT_EQ(f.substr(48 * 46, 37), "       0.000       0.000       0.000\n");
        EXPECT_EQ(f.substr(f.size() - 37), "      20.000      20.000     -10.000\n");
        const std::string end = "\n\n   IPRT1 = 3: END OF RUN\n";
        EXPECT_EQ(c.listing(), end);
        EXPECT_EQ(c.out(), end);
    }
    {
        meshcase c;  // the second program: numbered coordinates only
        c.ctl.DIALECT = dialect::ALT;
        small_grid(c, 2, 0, 0, 10.0);
        for (int i = 1; i <= 9; ++i) c.msh.Z(i) = 0.0;
        c.io.IPRT1 = 3;
        EXPECT_EQ(run_until_stop([&] { grid3d(c.dim, c.ctl, c.io, c.msh, c.bc, c.R->tra); }).status, EXIT_DONE);
        const std::string& f = c.coords();
        EXPECT_EQ(count_lines(f), 27);
        EXPECT_EQ(f.substr(0, 44), "      1       0.000       0.000       0.000\n");
        EXPECT_EQ(f.substr(f.size() - 44), "     27      20.000      20.000     -10.000\n");
    }
    {
        meshcase c;  // other output levels go on
        small_grid(c, 2, 0, 0, 10.0);
        c.io.IPRT1 = 2;
        EXPECT_FALSE(run_until_stop([&] { grid3d(c.dim, c.ctl, c.io, c.msh, c.bc, c.R->tra); }).stopped);
        EXPECT_EQ(c.coords(), "");
    }
}

TEST(MeshGeneration, DirichletNodesFollowTheVerticals) {
    meshcase c;
    small_grid(c, 2, 1, 0, 5.0);
    c.dim.NDIR = 2;
    c.dim.NDIRC = 1;
    c.dim.NP = 3 * 2 + 1;
    c.bc.DIR2D.alloc(2);
    c.bc.DIRNOD.alloc(7);
    c.bc.DIR2D(1) = 3;
    c.bc.DIR2D(2) = 7;
    c.bc.DIRNOD(7) = 25;  // a fixed node read from the file
    gen3d(c.dim, c.ctl, c.io, c.msh, c.bc, c.R->tra);
    const int want[7] = {3, 7, 12, 16, 21, 25, 25};
    for (int p = 1; p <= 7; ++p) EXPECT_EQ(c.bc.DIRNOD(p), want[p - 1]) << p;

    meshcase d;
    small_grid(d, 2, 1, 0, 5.0);
    d.dim.NDIR = 1;
    d.dim.NP = 3;
    d.bc.DIR2D.alloc(1);
    d.bc.DIRNOD.alloc(3);
    d.io.in(9).open_text("", "flow boundary-condition file", "nansfbc");
    EXPECT_EQ(run_until_stop([&] { gen3d(d.dim, d.ctl, d.io, d.msh, d.bc, d.R->tra); }).status, EXIT_ERROR);
    EXPECT_EQ(d.out(), " INPUT ERROR : SURFACE DIRICHLET NODE 1 OF THE LIST (NODE # 0) IS OUTSIDE 1..NNOD (NNOD = 9); "
                       "FLOW BOUNDARY-CONDITION FILE 'nansfbc'\n");
}
