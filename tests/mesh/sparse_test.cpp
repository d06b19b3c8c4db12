// Compressed-row patterns, their checks, the element position maps and the sizes of the value
// and work arrays. Truths: hand-built patterns of one and two tetrahedra, the edge count of the
// extruded mesh (surface edges per node layer, verticals, one diagonal per vertical face), and an
// independent set-based count of the distinct node pairs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <utility>
#include <vector>

#include "mesh/csr.h"
#include "mesh/geometry.h"
#include "mesh/grid.h"
#include "mesh/mesh_fixture.h"

using namespace nep;
using namespace nep::meshtest;

namespace {

void tets(meshcase& c, int n, std::initializer_list<std::vector<int>> list) {
    c.dim.N = n;
    c.dim.NT = (int)list.size();
    c.msh.TETRA.alloc(5, c.dim.NT);
    int e = 0;
    for (const auto& t : list) {
        ++e;
        for (int m = 1; m <= 4; ++m) c.msh.TETRA.kept()(m, e) = t[m - 1];
        c.msh.TETRA.kept()(5, e) = 1;
    }
}

// Builds the pattern of the elements of c with a window of n1 slots per row.
void build(meshcase& c, bool sym, int n1) {
    c.sp.IA.alloc(c.dim.N + 1);
    c.sp.JA.alloc((long)c.dim.N * n1);
    if (sym) {
        strsym(c.io, c.dim.N, c.dim.NTERM, c.msh.TETRA, c.sp.JA, c.sp.IA, c.dim.NT, n1, c.ctl);
    } else {
        strnsym(c.io, c.dim.N, c.dim.NTERM, c.msh.TETRA, c.sp.JA, c.sp.IA, c.dim.NT, n1, c.ctl);
    }
}

std::vector<int> head(const arr1<int>& a, long n) { return std::vector<int>(a.begin(), a.begin() + n); }

// Every defined position holds the element's column, inside the element's row.
void expect_positions(const arr1<int>& IA, const arr1<int>& JA, const tetra_table& TETRA, const posmap& P, int NT,
                      bool upper_only) {
    long bad = 0;
    for (int e = 1; e <= NT; ++e)
        for (int i = 1; i <= 4; ++i)
            for (int j = upper_only ? i : 1; j <= 4; ++j) {
                const int k = P(i, j, e, TETRA, IA), row = TETRA(i, e);
                if (k < IA(row) || k >= IA(row + 1) || JA(k) != TETRA(j, e)) ++bad;
            }
    EXPECT_EQ(bad, 0);
}

// Distinct unordered node pairs of the elements, counted through a set.
long distinct_edges(const tetra_table& TETRA, int NT) {
    std::set<std::pair<int, int>> s;
    for (int e = 1; e <= NT; ++e)
        for (int a = 1; a <= 4; ++a)
            for (int b = a + 1; b <= 4; ++b)
                s.insert(std::minmax(TETRA(a, e), TETRA(b, e)));
    return (long)s.size();
}

// Edges of the extruded rectangular grid: nx*ny cells, each split by a diagonal, so
// nx(ny+1) + ny(nx+1) + nx*ny surface edges on each of NSTR+1 node layers, one vertical per node
// and layer, and one diagonal per vertical face of every prism (a surface edge per layer).
long extruded_edges(int nx, int ny, int nstr) {
    const long es = (long)nx * (ny + 1) + (long)ny * (nx + 1) + (long)nx * ny;
    const long nnod = (long)(nx + 1) * (ny + 1);
    return es * (nstr + 1) + nnod * nstr + es * nstr;
}

// A generated mesh of nx*ny cells and nstr layers, flat at z = 0, with its sparse storage.
void generated(meshcase& c, int nx, int ny, int nstr, int n1, int iflow, int itrans) {
    c.ctl.IFLOW = iflow;
    c.ctl.ITRANS = itrans;
    c.sizes(1, nstr, n1, (nx + 1) * (ny + 1), 2 * nx * ny);
    rect_surface(c, nx, ny, 10.0, 10.0);
    for (int l = 1; l <= nstr; ++l) c.msh.ZRATIO(l) = 1.0 / nstr;
    c.msh.ISP = 1;
    c.msh.IVERT = 0;
    c.msh.BASE = 20.0;
    alloc_sparse(c.dim, c.ctl, c.sp);
    grid3d(c.dim, c.ctl, c.io, c.msh, c.bc, c.R->tra);
}

}  // namespace

// A fan of tetrahedra around node 1, whose row holds 256 entries (85 elements: places of one
// byte) or 259 (86: the positions themselves), in both storages.
TEST(SparsePattern, PositionsOfALongRow) {
    for (int ne : {85, 86}) {
        for (bool sym : {true, false}) {
            meshcase c;
            tets(c, 1 + 3 * ne, {});
            c.dim.NT = ne;
            c.msh.TETRA.alloc(5, ne);
            for (int e = 1; e <= ne; ++e) {
                const int t[5] = {1, 3 * e - 1, 3 * e, 3 * e + 1, 1};
                std::copy(t, t + 5, c.msh.TETRA.kept().col(e));
            }
            build(c, sym, 2 + 3 * ne);  // the window has a slot to spare
            EXPECT_EQ(c.sp.IA(2) - c.sp.IA(1), 1 + 3 * ne);
            c.sp.IPOS.alloc(ne, sym);
            if (sym) possym(ne, c.msh.TETRA, c.sp.JA, c.sp.IA, c.sp.IPOS);
            else posnsy(ne, c.msh.TETRA, c.sp.JA, c.sp.IA, c.sp.IPOS);
            EXPECT_EQ(c.sp.IPOS.POS.empty(), ne == 85);
            expect_positions(c.sp.IA, c.sp.JA, c.msh.TETRA, c.sp.IPOS, ne, sym);
        }
    }
}

TEST(SparsePattern, OneTetrahedron) {
    {
        meshcase c;  // symmetric storage: rows of 4, 3, 2, 1 entries, diagonal first
        tets(c, 4, {{1, 2, 3, 4}});
        build(c, true, 4);
        EXPECT_EQ(c.dim.NTERM, 10);
        EXPECT_EQ(head(c.sp.IA, 5), (std::vector<int>{1, 5, 8, 10, 11}));
        EXPECT_EQ(head(c.sp.JA, 10), (std::vector<int>{1, 2, 3, 4, 2, 3, 4, 3, 4, 4}));
        c.sp.IPOS.alloc(1, true);  // the upper map of symmetric storage
        possym(1, c.msh.TETRA, c.sp.JA, c.sp.IA, c.sp.IPOS);
        expect_positions(c.sp.IA, c.sp.JA, c.msh.TETRA, c.sp.IPOS, 1, true);
        EXPECT_EQ(c.sp.IPOS(1, 1, 1, c.msh.TETRA, c.sp.IA), 1);
        EXPECT_EQ(c.sp.IPOS(2, 4, 1, c.msh.TETRA, c.sp.IA), 7);
        EXPECT_EQ(c.sp.IPOS(4, 4, 1, c.msh.TETRA, c.sp.IA), 10);
        EXPECT_EQ(c.listing(), "");
    }
    {
        meshcase c;  // full storage, the element's nodes given in any order
        tets(c, 4, {{3, 1, 4, 2}});
        build(c, false, 4);
        EXPECT_EQ(c.dim.NTERM, 16);
        EXPECT_EQ(head(c.sp.IA, 5), (std::vector<int>{1, 5, 9, 13, 17}));
        for (int k = 1; k <= 16; ++k) EXPECT_EQ(c.sp.JA(k), (k - 1) % 4 + 1);
        c.sp.IPOS.alloc(1);
        posnsy(1, c.msh.TETRA, c.sp.JA, c.sp.IA, c.sp.IPOS);
        expect_positions(c.sp.IA, c.sp.JA, c.msh.TETRA, c.sp.IPOS, 1, false);
        EXPECT_EQ(c.sp.IPOS(1, 2, 1, c.msh.TETRA, c.sp.IA), 9);  // row 3, column 1
        EXPECT_EQ(c.sp.IPOS(4, 3, 1, c.msh.TETRA, c.sp.IA), 8);  // row 2, column 4
    }
    {
        meshcase c;  // three slots cannot hold row 1 of the symmetric pattern
        tets(c, 4, {{1, 2, 3, 4}});
        EXPECT_EQ(run_until_stop([&] { build(c, true, 3); }).status, EXIT_ERROR);
        EXPECT_EQ(c.listing(), " RIGA =      1 TETRAEDRO =      1  AUMENTARE N1 \n");
        EXPECT_EQ(c.out(), c.listing());
    }
}

TEST(SparsePattern, TwoTetrahedraSharingAFace) {
    {
        meshcase c;  // full storage: rows 2, 3, 4 need five entries, which five slots cannot hold
        tets(c, 5, {{1, 2, 3, 4}, {2, 3, 4, 5}});
        EXPECT_EQ(run_until_stop([&] { build(c, false, 5); }).status, EXIT_ERROR);
        const std::string msg = "\n\nRIGA =      2 TETRAEDRO =      2  AUMENTARE N1 \n";
        EXPECT_EQ(c.listing(), msg);
        EXPECT_EQ(c.out(), msg);
    }
    {
        meshcase c;
        tets(c, 5, {{1, 2, 3, 4}, {2, 3, 4, 5}});
        build(c, false, 6);
        EXPECT_EQ(c.dim.NTERM, 23);
        EXPECT_EQ(head(c.sp.IA, 6), (std::vector<int>{1, 5, 10, 15, 20, 24}));
        EXPECT_EQ(head(c.sp.JA, 23), (std::vector<int>{1, 2, 3, 4, 1, 2, 3, 4, 5, 1, 2, 3, 4, 5, 1, 2, 3, 4, 5,
                                                        2, 3, 4, 5}));
        arr1<int> ier(kPatternErrLen);
        EXPECT_EQ(chknsym(c.io, 5, c.dim.NTERM, c.sp.IA, c.sp.JA, ier), 0);
        EXPECT_EQ(ier(8), 0);
    }
    {
        meshcase c;  // symmetric storage fits in four slots
        tets(c, 5, {{4, 3, 2, 5}, {1, 2, 3, 4}});
        build(c, true, 4);
        EXPECT_EQ(c.dim.NTERM, 14);
        EXPECT_EQ(head(c.sp.IA, 6), (std::vector<int>{1, 5, 9, 12, 14, 15}));
        EXPECT_EQ(head(c.sp.JA, 14), (std::vector<int>{1, 2, 3, 4, 2, 3, 4, 5, 3, 4, 5, 4, 5, 5}));
    }
}

TEST(SparsePattern, NodeWithoutElementsLeavesItsRowEmpty) {
    meshcase c;
    tets(c, 5, {{1, 2, 3, 4}});
    build(c, false, 5);
    EXPECT_EQ(c.dim.NTERM, 16);
    EXPECT_EQ(c.sp.IA(5), 17);
    EXPECT_EQ(c.sp.IA(6), 17);
    arr1<int> ier(kPatternErrLen);
    EXPECT_EQ(chknsym(c.io, 5, 16, c.sp.IA, c.sp.JA, ier), 0);
    EXPECT_EQ(ier(8), 1);  // the row without its diagonal is counted, nothing is written
    EXPECT_EQ(c.listing(), "");
}

TEST(SparsePattern, ChecksReportTheFirstFault) {
    struct fault {
        bool sym;
        int n, nterm;
        std::vector<int> ia, ja;
        int code;
        std::vector<int> ier;  // entries 2..7
    } cases[] = {
        {true, 1, 1, {1, 2}, {1}, 1000, {0, 0, 0, 0, 0, 0}},
        {true, 4, 10, {1, 5, 8, 10, 12}, {1, 2, 3, 4, 2, 3, 4, 3, 4, 4, 4}, 2000, {0, 0, 0, 0, 0, 0}},
        {true, 4, 10, {1, 5, 8, 10, 11}, {1, 2, 3, 4, 2, 4, 3, 3, 4, 4}, 6000, {7, 4, 3, 5, 7, 2}},
        {false, 4, 10, {1, 5, 8, 7, 11}, {1, 2, 3, 4, 2, 3, 4, 3, 4, 4}, 7000, {0, 0, 0, 8, 6, 3}},
        {true, 4, 10, {1, 5, 8, 10, 11}, {1, 2, 3, 4, 1, 3, 4, 3, 4, 4}, 4000, {0, 0, 0, 5, 7, 2}},
        {false, 4, 10, {1, 5, 8, 10, 11}, {1, 2, 3, 4, 0, 3, 4, 3, 4, 4}, 4000, {0, 0, 0, 5, 7, 2}},
        {false, 4, 10, {1, 5, 8, 10, 11}, {1, 2, 3, 4, 2, 3, 4, 3, 5, 4}, 5000, {0, 0, 0, 8, 9, 3}},
    };
    for (const fault& f : cases) {
        meshcase c;
        arr1<int> ia((long)f.ia.size()), ja((long)f.ja.size()), ier(kPatternErrLen);
        std::copy(f.ia.begin(), f.ia.end(), ia.begin());
        std::copy(f.ja.begin(), f.ja.end(), ja.begin());
        const int code = f.sym ? chksym(c.io, f.n, f.nterm, ia, ja, ier) : chknsym(c.io, f.n, f.nterm, ia, ja, ier);
        EXPECT_EQ(code, f.code);
        EXPECT_EQ(ier(1), f.code);
        for (int k = 2; k <= 7; ++k) EXPECT_EQ(ier(k), f.ier[k - 2]) << "code " << f.code << " entry " << k;
        char want[80];
        if (f.sym) {
            std::snprintf(want, sizeof want, "\n     ROUTINE CHKSYM  CODICE DI ERRORE = %5d\n", f.code);
        } else {
            std::snprintf(want, sizeof want, " ROUTINE CHKNSYM  CODICE DI ERRORE =%5d\n", f.code);
        }
        EXPECT_EQ(c.listing(), want);
        EXPECT_EQ(c.out(), "");  // the run goes on
    }
}

TEST(SparsePattern, RowIndex) {
    arr1<int> ia(5), irow(11);
    const int p[5] = {1, 5, 8, 8, 12};  // row 3 empty
    std::copy(p, p + 5, ia.begin());
    rowind(4, ia, irow);
    EXPECT_EQ(head(irow, 11), (std::vector<int>{1, 1, 1, 1, 2, 2, 2, 4, 4, 4, 4}));
}

TEST(SparsePattern, NewtonFlowWithTransportSharesOnePattern) {
    meshcase c;
    generated(c, 2, 2, 2, 20, 2, 1);  // N = 27, 98 edges
    csr_ptr(c.dim, c.ctl, c.io, c.msh, c.sp);
    EXPECT_EQ(c.dim.NTERM, 27 + 2 * 98);
    EXPECT_EQ(c.dim.NTERMC, c.dim.NTERM);
    EXPECT_EQ(c.listing(), "     NTERM  (# OF NONZERO TERMS; FLOW EQ)    =       223\n"
                           "     NTERMC (# OF NONZERO TERMS; TRANSP EQ)   =    223\n");
    EXPECT_TRUE(c.sp.TSHARE);
    EXPECT_EQ(c.sp.IAC().data(), c.sp.IA.data());
    EXPECT_EQ(c.sp.JAC().data(), c.sp.JA.data());
    EXPECT_EQ(c.sp.IROWC().data(), c.sp.IROW.data());
    EXPECT_EQ(&c.sp.IPOSC(), &c.sp.IPOS);
    EXPECT_EQ(c.sp.JAC_OWN.size(), 0);
    EXPECT_EQ(c.sp.JA.size(), 223);
    EXPECT_EQ(c.sp.IROW.size(), 223);
    for (int i = 1; i <= 27; ++i)
        for (int k = c.sp.IA(i); k < c.sp.IA(i + 1); ++k) ASSERT_EQ(c.sp.IROW(k), i);
    expect_positions(c.sp.IA, c.sp.JA, c.msh.TETRA, c.sp.IPOS, c.dim.NT, false);
    // 223 / 27 = 8: the extra flow array is 15 N, the transport ones 10 N, the work ones 15 N.
    EXPECT_EQ(c.sp.AMAT.size(), 223);
    EXPECT_EQ(c.sp.BMAT.size(), 223);
    EXPECT_EQ(c.sp.JMAT.size(), 15 * 27);
    EXPECT_EQ(c.sp.AMATC.size(), 10 * 27);
    EXPECT_EQ(c.sp.BMATC.size(), 10 * 27);
    EXPECT_EQ(c.sp.WORK1.size(), 15 * 27);
    EXPECT_EQ(c.sp.WORK2.size(), 15 * 27);
}

TEST(SparsePattern, PicardFlowWithTransportBuildsBoth) {
    meshcase c;
    generated(c, 2, 2, 2, 20, 1, 1);
    csr_ptr(c.dim, c.ctl, c.io, c.msh, c.sp);
    EXPECT_EQ(c.dim.NTERM, 27 + 98);
    EXPECT_EQ(c.dim.NTERMC, 2 * c.dim.NTERM - c.dim.N);
    EXPECT_EQ(c.listing(), "     NTERM  (# OF NONZERO TERMS; FLOW EQ)    =       125\n"
                           "     NTERMC (# OF NONZERO TERMS; TRANSP EQ)  =       223\n");
    EXPECT_FALSE(c.sp.TSHARE);
    EXPECT_EQ(c.sp.JA.size(), 125);
    EXPECT_EQ(c.sp.JAC().size(), 223);
    EXPECT_EQ(c.sp.IROW.size(), 0);
    EXPECT_EQ(c.sp.JMAT.size(), 0);
    EXPECT_EQ(c.sp.IROWC().size(), 223);
    for (int i = 1; i <= 27; ++i) {
        EXPECT_EQ(c.sp.JA(c.sp.IA(i)), i);  // the diagonal heads every row
        for (int k = c.sp.IAC()(i); k < c.sp.IAC()(i + 1); ++k) ASSERT_EQ(c.sp.IROWC()(k), i);
    }
    expect_positions(c.sp.IA, c.sp.JA, c.msh.TETRA, c.sp.IPOS, c.dim.NT, true);
    expect_positions(c.sp.IAC(), c.sp.JAC(), c.msh.TETRA, c.sp.IPOSC(), c.dim.NT, false);
    EXPECT_EQ(c.sp.AMATC.size(), 10 * 27);
    EXPECT_EQ(c.sp.WORK1.size(), 15 * 27);
}

TEST(SparsePattern, FlowOnlyArrays) {
    {
        meshcase c;  // Picard, second program: six-digit echo, the symmetric solver's five
                     // vectors and its factor in the pattern
        c.ctl.DIALECT = dialect::ALT;
        generated(c, 2, 2, 2, 20, 1, 0);
        csr_ptr(c.dim, c.ctl, c.io, c.msh, c.sp);
        EXPECT_EQ(c.listing(), "     NTERM  (# OF NONZERO TERMS; FLOW EQ)    =    125\n");
        EXPECT_EQ(c.sp.WORK1.size(), 5 * 27);
        EXPECT_EQ(c.sp.WORK2.size(), 125);
        EXPECT_EQ(c.sp.AMATC.size(), 0);
        EXPECT_EQ(c.sp.IAC().size(), 0);
    }
    {
        meshcase c;  // Newton, one tetrahedron: 16 / 4 = 4 entries a row, below 15 and below 10
        tets(c, 4, {{1, 2, 3, 4}});
        c.dim.N1 = 4;
        alloc_sparse(c.dim, c.ctl, c.sp);
        csr_ptr(c.dim, c.ctl, c.io, c.msh, c.sp);
        EXPECT_EQ(c.dim.NTERM, 16);  // 16 / 4 = 4
        EXPECT_EQ(c.sp.JMAT.size(), 15 * 4);
        EXPECT_EQ(c.sp.WORK1.size(), 10 * 4);
        EXPECT_EQ(c.listing(), "     NTERM  (# OF NONZERO TERMS; FLOW EQ)    =        16\n");
    }
}

// Enough elements for the position maps to be filled on all cores: the same positions as the
// scan finds; a pattern lacking an entry is reported for the first element, in order, that needs
// it.
TEST(SparsePattern, PositionsOfAMeshLargeEnoughForTheThreads) {
    for (int iflow : {1, 2}) {
        meshcase c;
        generated(c, 16, 16, 6, 16, iflow, 0);
        ASSERT_GE(c.dim.NT, 4096);
        csr_ptr(c.dim, c.ctl, c.io, c.msh, c.sp);
        const bool sym = iflow == 1;
        expect_positions(c.sp.IA, c.sp.JA, c.msh.TETRA, c.sp.IPOS, c.dim.NT, sym);
        // Entry (row, col) of an element in the middle, taken out of the pattern.
        const long mid = c.dim.NT / 2;
        int t[4];
        for (int m = 0; m < 4; ++m) t[m] = c.msh.TETRA(m + 1, mid);
        std::sort(t, t + 4);
        const int row = t[1], col = t[2];
        for (int k = c.sp.IA(row); k < c.sp.IA(row + 1); ++k)
            if (c.sp.JA(k) == col) c.sp.JA(k) = -1;
        long first = 0;
        for (long e = 1; e <= c.dim.NT && first == 0; ++e) {
            int both = 0;
            for (int m = 1; m <= 4; ++m) both += c.msh.TETRA(m, e) == row || c.msh.TETRA(m, e) == col;
            if (both == 2) first = e;
        }
        const stop_result r = run_until_stop([&] {
            if (sym) possym(c.dim.NT, c.msh.TETRA, c.sp.JA, c.sp.IA, c.sp.IPOS);
            else posnsy(c.dim.NT, c.msh.TETRA, c.sp.JA, c.sp.IA, c.sp.IPOS);
        });
        EXPECT_EQ(r.status, EXIT_ERROR);
        EXPECT_NE(r.message.find("element " + std::to_string(first) + ": entry (" +
                                 std::to_string(row) + ", " + std::to_string(col) + ")"),
                  std::string::npos)
            << r.message;
    }
}

TEST(SparsePattern, PatternHoldsTheEdgesOfTheExtrudedMesh) {
    const int nx = 6, ny = 5, nstr = 3;
    const long edges = extruded_edges(nx, ny, nstr);
    for (int iflow : {1, 2}) {
        meshcase c;
        generated(c, nx, ny, nstr, 16, iflow, 0);
        EXPECT_EQ(distinct_edges(c.msh.TETRA, c.dim.NT), edges);
        csr_ptr(c.dim, c.ctl, c.io, c.msh, c.sp);
        EXPECT_EQ(c.dim.NTERM, c.dim.N + (iflow == 1 ? 1 : 2) * edges) << "IFLOW " << iflow;
        int widest = 0;
        for (int i = 1; i <= c.dim.N; ++i) widest = std::max(widest, c.sp.IA(i + 1) - c.sp.IA(i));
        if (iflow == 2) {
            // An inner node of an inner node layer: 6 neighbours in its layer, 2 above and below,
            // one face diagonal per surface edge, and itself.
            EXPECT_EQ(widest, 15);
        }
        arr1<int> ier(kPatternErrLen);
        EXPECT_EQ(iflow == 1 ? chksym(c.io, c.dim.N, c.dim.NTERM, c.sp.IA, c.sp.JA, ier)
                             : chknsym(c.io, c.dim.N, c.dim.NTERM, c.sp.IA, c.sp.JA, ier), 0);
        EXPECT_EQ(ier(8), 0);
    }
    // N1 above 4 holds N1 - 1 entries: 16 slots take the rows of 15, 15 slots do not.
    meshcase c;
    generated(c, nx, ny, nstr, 15, 2, 0);
    EXPECT_EQ(run_until_stop([&] { csr_ptr(c.dim, c.ctl, c.io, c.msh, c.sp); }).status, EXIT_ERROR);
    EXPECT_NE(c.out().find("AUMENTARE N1"), std::string::npos);
}

TEST(SparsePattern, WideWindowIsCappedAtTheRowLimit) {
    // An N1 far above any row (here 10^6 for 4 nodes) costs no more than N + 1 slots per row.
    EXPECT_EQ(pattern_width(1000000, 4), 5);
    EXPECT_EQ(pattern_width(20, 1000), 20);
    meshcase c;
    tets(c, 4, {{1, 2, 3, 4}});
    c.dim.N1 = 1000000;
    alloc_sparse(c.dim, c.ctl, c.sp);
    EXPECT_EQ(c.sp.JA.size(), 4 * 5);
    csr_ptr(c.dim, c.ctl, c.io, c.msh, c.sp);
    EXPECT_EQ(c.dim.NTERM, 16);
    // A window of more than 2^31 - 1 slots cannot be indexed by the row pointers.
    meshcase d;
    d.dim.N = 100000000;
    d.dim.N1 = 30;
    stop_result r = run_until_stop([&] { alloc_sparse(d.dim, d.ctl, d.sp); });
    EXPECT_EQ(r.status, EXIT_ERROR);
    EXPECT_NE(r.message.find("N1 * N = 3000000000"), std::string::npos) << r.message;
}

TEST(SparsePattern, LargeMeshIsBuilt) {
    // 100 x 101 surface nodes, 20 layers: 212,100 nodes and 1,188,000 tetrahedra, Picard flow
    // with transport, so both builders, both position maps and the geometry run.
    const int nx = 99, ny = 100, nstr = 20;
    meshcase c;
    c.ctl.IFLOW = 1;
    c.ctl.ITRANS = 1;
    c.sizes(1, nstr, 20, (nx + 1) * (ny + 1), 2 * nx * ny);
    ASSERT_EQ(c.dim.N, 212100);
    ASSERT_EQ(c.dim.NT, 1188000);
    rect_surface(c, nx, ny, 10.0, 10.0);
    for (int i = 1; i <= c.dim.NNOD; ++i) c.msh.Z(i) = 100.0 + 0.01 * c.msh.X(i) - 0.02 * c.msh.Y(i);
    for (int l = 1; l <= nstr; ++l) c.msh.ZRATIO(l) = 0.05;
    c.msh.ISP = 1;
    c.msh.IVERT = 0;
    c.msh.BASE = 30.0;
    alloc_sparse(c.dim, c.ctl, c.sp);
    c.sl.POROSITY.alloc(nstr, 1, 0.4);
    c.sl.STORAGE.alloc(nstr, 1, 1e-4);
    c.sl.PORNOD.alloc(c.dim.N);
    c.sl.SNODI.alloc(c.dim.N);

    grid3d(c.dim, c.ctl, c.io, c.msh, c.bc, c.R->tra);
    csr_ptr(c.dim, c.ctl, c.io, c.msh, c.sp);
    tpnodic(c.dim, c.ctl, c.io, c.msh, c.sl);
    elmgeo(c.dim, c.ctl, c.io, c.msh);

    const long edges = extruded_edges(nx, ny, nstr);
    EXPECT_EQ(c.dim.NTERM, c.dim.N + edges);
    EXPECT_EQ(c.dim.NTERMC, 2L * c.dim.NTERM - c.dim.N);
    EXPECT_EQ(c.listing().find("CODICE"), std::string::npos);
    long nodiag = 0;
    for (int i = 1; i <= c.dim.N; ++i) nodiag += c.sp.JA(c.sp.IA(i)) != i;
    EXPECT_EQ(nodiag, 0);
    expect_positions(c.sp.IA, c.sp.JA, c.msh.TETRA, c.sp.IPOS, c.dim.NT, true);
    expect_positions(c.sp.IAC(), c.sp.JAC(), c.msh.TETRA, c.sp.IPOSC(), c.dim.NT, false);

    const double area = (nx * 10.0) * (ny * 10.0);
    double svol = 0.0, snod = 0.0, sarea = 0.0;
    for (int e = 1; e <= c.dim.NT; ++e) {
        tetra_geo g;
        tetra_geometry(c.msh, e, g);
        svol += g.vol;
    }
    for (int k = 1; k <= c.dim.N; ++k) snod += c.msh.VOLNOD(k);
    for (int i = 1; i <= c.dim.NNOD; ++i) sarea += c.msh.ARENOD(i);
    EXPECT_NEAR(sarea, area, 1e-9 * area);
    EXPECT_NEAR(svol, area * 30.0, 1e-9 * area * 30.0);
    EXPECT_NEAR(snod, svol, 1e-9 * svol);
    EXPECT_DOUBLE_EQ(c.sl.PORNOD(c.dim.N / 2), 0.4);
}

// One process of several (keep_own_rows, own columns: the second half of the surface nodes): the
// rows that its elements reach kept whole, of the others the diagonal alone, the position map of
// its elements alone. Truth: the pattern before, and the elements' nodes: every element with a
// vertex in its columns finds in its rows the columns of its nodes, every other element is not
// kept. On a rectangle (places of one byte) and on a fan of 260 triangles around node 1, whose
// rows hold more than 256 entries (the positions themselves), in both storages, with transport.
TEST(SparsePattern, OwnRowsOfOneProcessOfSeveral) {
    for (bool fan : {false, true})
        for (int iflow : {1, 2}) {
            meshcase c;
            if (fan) {
                const int rim = 260;
                c.ctl.IFLOW = iflow;
                c.ctl.ITRANS = 1;
                c.sizes(1, 2, 2 * rim + 8, rim + 1, rim);
                c.msh.X(1) = c.msh.Y(1) = 0.0;
                for (int k = 1; k <= rim; ++k) {
                    c.msh.X(k + 1) = std::cos(6.283185307179586 * k / rim);
                    c.msh.Y(k + 1) = std::sin(6.283185307179586 * k / rim);
                    const int t[4] = {1, k + 1, k % rim + 2, 1};
                    for (int m = 0; m < 4; ++m) c.msh.TRIANG(m + 1, k) = t[m];
                }
                for (int l = 1; l <= 2; ++l) c.msh.ZRATIO(l) = 0.5;
                c.msh.ISP = 1;
                c.msh.IVERT = 0;
                c.msh.BASE = 20.0;
                alloc_sparse(c.dim, c.ctl, c.sp);
                grid3d(c.dim, c.ctl, c.io, c.msh, c.bc, c.R->tra);
            } else {
                generated(c, 4, 3, 2, 20, iflow, 1);
            }
            csr_ptr(c.dim, c.ctl, c.io, c.msh, c.sp);
            const int N = c.dim.N, nnod = c.dim.NNOD;
            std::vector<std::vector<int>> before(N + 1);
            for (int i = 1; i <= N; ++i) before[i].assign(c.sp.JA.begin() + c.sp.IA(i) - 1, c.sp.JA.begin() + c.sp.IA(i + 1) - 1);
            c.sp.OWNCOL.assign(nnod, 0);
            for (int i = nnod / 2; i < nnod; ++i) c.sp.OWNCOL[i] = 1;
            keep_own_rows(c.dim, c.msh.TETRA, c.sp);
            EXPECT_EQ(c.sp.IPOS.POS.empty(), !fan);
            std::vector<bool> reached(N + 1, false);
            long kept = 0;
            for (long e = 1; e <= c.dim.NT; ++e) {
                bool mine = false;
                for (int m = 1; m <= 4; ++m) mine = mine || (c.msh.TETRA(m, e) - 1) % nnod >= nnod / 2;
                if (!mine) continue;
                ++kept;
                for (int i = 1; i <= 4; ++i) {
                    reached[c.msh.TETRA(i, e)] = true;
                    for (int j = iflow == 1 ? i : 1; j <= 4; ++j) {
                        const int row = c.msh.TETRA(i, e);
                        for (const posmap* P : {&c.sp.IPOS, &c.sp.IPOSC()}) {
                            const arr1<int>& IA = P == &c.sp.IPOS ? c.sp.IA : c.sp.IAC();
                            const arr1<int>& JA = P == &c.sp.IPOS ? c.sp.JA : c.sp.JAC();
                            const int k = (*P)(i, j, e, c.msh.TETRA, IA);
                            ASSERT_TRUE(k >= IA(row) && k < IA(row + 1) && JA(k) == c.msh.TETRA(j, e))
                                << "element " << e << " pair " << i << " " << j;
                        }
                    }
                }
            }
            EXPECT_EQ(c.sp.IPOS.NT, kept);
            EXPECT_GT(kept, 0);
            EXPECT_LT(kept, c.dim.NT);
            for (int i = 1; i <= N; ++i) {
                const std::vector<int> row(c.sp.JA.begin() + c.sp.IA(i) - 1, c.sp.JA.begin() + c.sp.IA(i + 1) - 1);
                ASSERT_EQ(row, reached[i] ? before[i] : std::vector<int>{i}) << "row " << i;
            }
            EXPECT_EQ(c.sp.AMAT.size(), c.sp.stored());
            EXPECT_EQ(c.sp.AMATC.size(), c.sp.storedc());
            EXPECT_EQ(c.sp.IROW.size(), 0);
        }
}
