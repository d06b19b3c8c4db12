// The node file of the prescribed heads and fluxes: lists, echoes and the stops on bad nodes.
// Expected listing lines were printed by gfortran through the same format strings.
#include <gtest/gtest.h>

#include "bc/bc_fixture.h"
#include "bc/prescribed.h"
#include "run/storage.h"

using namespace nep;
using bctest::bcrun;
using bctest::stop_status;

namespace {

// 12 surface nodes on 3 node layers (N = 36); storage sized as the first pass would size it.
void setup(bcrun& r, const std::string& text, int ndir, int ndirc, int nq, int iprt1 = 1) {
    r.mesh_sizes(12, 2);
    r.dim.NDIR = ndir;
    r.dim.NDIRC = ndirc;
    r.dim.NP = (r.dim.NSTR + 1) * ndir + ndirc;
    r.dim.NQ = nq;
    r.io.IPRT1 = iprt1;
    alloc_bcdata(r.dim, r.bc);
    r.input(9, text, "flow boundary-condition file", "bcf");
}

const char* const kNP38 =
    "\n"
    "     NP   (TOT # OF DIRICH NODES; FLOW EQ.)  =     38\n";

}  // namespace

TEST(BcNodeFile, EchoesEveryListAndFillsTheFixedTail) {
    bcrun r;
    setup(r, "T\n10\n1 2 3 4 5 6 7 8 9 10\n2\n36 13\n3\n11 23 35\n", 10, 2, 3);
    read_flow_nansfbc(r.dim, r.io, r.bc);

    const std::string expected =
        "\n"
        "     NDIR (# OF DIR NODES; 2-D MESH, FLOW EQ)=     10\n"
        "\n"
        "     DIRICHLET NODES IN 2-D MESH FOR FLOW EQUATION\n"
        "       1      2      3      4      5      6      7      8      9     10\n"
        "\n"
        "     NDIRC(# OF FIXED DIR NODES; FLOW EQ.)   =      2\n"
        "\n"
        "     #  DIRICHLET     NODE    #  DIRICHLET     NODE    #  DIRICHLET     NODE\n"
        "      36     13\n"
        "\n"
        "     NP   (TOT # OF DIRICH NODES; FLOW EQ.)  =     32\n"
        "\n"
        "     NQ   (# OF NEUMANN NODES; FLOW EQ.)     =      3\n"
        "\n"
        "     NEUMANN NODES IN 3-D MESH FOR FLOW EQUATION\n"
        "      11     23     35\n";
    EXPECT_EQ(r.listing(), expected);
    EXPECT_EQ(r.stdout_text(), "");

    EXPECT_TRUE(r.bc.POTBC);
    EXPECT_EQ(r.dim.NDIR, 10);
    EXPECT_EQ(r.dim.NDIRC, 2);
    EXPECT_EQ(r.dim.NP, 32);
    EXPECT_EQ(r.dim.NQ, 3);
    for (int p = 1; p <= 10; ++p) EXPECT_EQ(r.bc.DIR2D(p), p);
    // The replicated entries 1..30 belong to the mesh generation; the fixed nodes follow them.
    for (int p = 1; p <= 30; ++p) EXPECT_EQ(r.bc.DIRNOD(p), 0);
    EXPECT_EQ(r.bc.DIRNOD(31), 36);
    EXPECT_EQ(r.bc.DIRNOD(32), 13);
    EXPECT_EQ(r.bc.NEUNOD(1), 11);
    EXPECT_EQ(r.bc.NEUNOD(2), 23);
    EXPECT_EQ(r.bc.NEUNOD(3), 35);
}

TEST(BcNodeFile, WithoutEchoOnlyNPIsWrittenAndListsMaySpanLines) {
    bcrun r;
    setup(r, "F\n12\n1 2 3\n4 5 6 7\n8, 9, 10, 11 12\n2\n36\n13\n0\n", 12, 2, 0, 0);
    read_flow_nansfbc(r.dim, r.io, r.bc);
    EXPECT_EQ(r.listing(), kNP38);
    EXPECT_FALSE(r.bc.POTBC);
    for (int p = 1; p <= 12; ++p) EXPECT_EQ(r.bc.DIR2D(p), p);
    EXPECT_EQ(r.bc.DIRNOD(37), 36);
    EXPECT_EQ(r.bc.DIRNOD(38), 13);
    EXPECT_EQ(r.dim.NQ, 0);
}

TEST(BcNodeFile, FixedNodesOnlyAndNoLists) {
    {
        // NDIR = 0, NDIRC = 3: NP = 3, all of them fixed nodes.
        bcrun r;
        setup(r, "F\n0\n3\n5 17 29\n0\n", 0, 3, 0, 0);
        read_flow_nansfbc(r.dim, r.io, r.bc);
        EXPECT_EQ(r.dim.NP, 3);
        EXPECT_EQ(r.bc.DIRNOD(1), 5);
        EXPECT_EQ(r.bc.DIRNOD(2), 17);
        EXPECT_EQ(r.bc.DIRNOD(3), 29);
        EXPECT_EQ(r.listing(), "\n     NP   (TOT # OF DIRICH NODES; FLOW EQ.)  =      3\n");
    }
    {
        // Nothing at all: only the counts are echoed.
        bcrun r;
        setup(r, "F\n0\n0\n0\n", 0, 0, 0);
        read_flow_nansfbc(r.dim, r.io, r.bc);
        EXPECT_EQ(r.listing(),
                  "\n     NDIR (# OF DIR NODES; 2-D MESH, FLOW EQ)=      0\n"
                  "\n     NDIRC(# OF FIXED DIR NODES; FLOW EQ.)   =      0\n"
                  "\n     NP   (TOT # OF DIRICH NODES; FLOW EQ.)  =      0\n"
                  "\n     NQ   (# OF NEUMANN NODES; FLOW EQ.)     =      0\n");
    }
}

TEST(BcNodeFile, SurfaceNodeAboveNNODStops) {
    bcrun r;
    setup(r, "T\n2\n1 13\n0\n0\n", 2, 0, 0);
    std::string detail;
    try {
        read_flow_nansfbc(r.dim, r.io, r.bc);
    } catch (const run_stop& s) {
        EXPECT_EQ(s.status, EXIT_ERROR);
        detail = s.message;
    }
    // The listing text is the fixed one; the file, line and value go to standard error.
    const std::string stop =
        "  ERROR: a node value to be replicated is greater than number (NNOD) of surface nodes!\n";
    EXPECT_EQ(detail, "flow boundary-condition file 'bcf' line 3: entry 2 of the NDIR list is node 13,"
                      " outside 1..NNOD = 12");
    EXPECT_EQ(r.listing(), "\n     NDIR (# OF DIR NODES; 2-D MESH, FLOW EQ)=      2\n" + stop);
    EXPECT_EQ(r.stdout_text(), stop);
}

TEST(BcNodeFile, NodesOutsideTheMeshOrFluxesAtHeldHeadsStop) {
    struct bad {
        const char* text;
        int ndir, ndirc, nq;
        const char* message;
    };
    const bad cases[] = {
        // A surface node below 1: only the detail line (the node is not above NNOD).
        {"F\n2\n0 4\n0\n0\n", 2, 0, 0,
         "  ERROR: flow boundary-condition file 'bcf' line 3: entry 1 of the NDIR list is node 0,"
         " outside 1..NNOD = 12\n"},
        // Fixed Dirichlet nodes beyond N or below 1.
        {"F\n0\n3\n5\n37 2\n0\n", 0, 3, 0,
         "  ERROR: flow boundary-condition file 'bcf' line 5: entry 2 of the NDIRC list is node 37,"
         " outside 1..N = 36\n"},
        {"F\n1\n3\n2\n-4 2\n0\n", 1, 2, 0,
         "  ERROR: flow boundary-condition file 'bcf' line 5: entry 1 of the NDIRC list is node -4,"
         " outside 1..N = 36\n"},
        // Neumann nodes beyond N or below 1.
        {"F\n0\n0\n3\n1 2 99\n", 0, 0, 3,
         "  ERROR: flow boundary-condition file 'bcf' line 5: entry 3 of the NQ list is node 99,"
         " outside 1..N = 36\n"},
        {"F\n0\n0\n2\n0,\n1\n", 0, 0, 2,
         "  ERROR: flow boundary-condition file 'bcf' line 5: entry 1 of the NQ list is node 0,"
         " outside 1..N = 36\n"},
        // A flux where the head is held: surface node 4 down its vertical (4, 16, 28), and a
        // fixed node.
        {"F\n1\n4\n0\n2\n3 16\n", 1, 0, 2,
         "  ERROR: flow boundary-condition file 'bcf' line 5: entry 2 of the NQ list is node 16,"
         " whose head is prescribed (NDIR): a flux there would not enter the solution; give the"
         " node one condition\n"},
        {"F\n0\n2\n30 7\n1\n7\n", 0, 2, 1,
         "  ERROR: flow boundary-condition file 'bcf' line 5: entry 1 of the NQ list is node 7,"
         " whose head is prescribed (NDIRC): a flux there would not enter the solution; give the"
         " node one condition\n"},
    };
    for (const bad& c : cases) {
        bcrun r;
        setup(r, c.text, c.ndir, c.ndirc, c.nq, 0);
        EXPECT_EQ(stop_status([&] { read_flow_nansfbc(r.dim, r.io, r.bc); }), EXIT_ERROR) << c.text;
        EXPECT_EQ(r.stdout_text(), c.message) << c.text;
        // The listing ends with the same line.
        const std::string lst = r.listing();
        ASSERT_GE(lst.size(), std::string(c.message).size());
        EXPECT_EQ(lst.substr(lst.size() - std::string(c.message).size()), c.message) << c.text;
    }
}

TEST(BcNodeFile, CountsThatCannotBeStoredStop) {
    {
        bcrun r;
        setup(r, "F\n-1\n", 0, 0, 0);
        EXPECT_EQ(stop_status([&] { read_flow_nansfbc(r.dim, r.io, r.bc); }), EXIT_ERROR);
        EXPECT_EQ(r.stdout_text(), "  ERROR: flow boundary-condition file 'bcf' line 2: NDIR = -1 is negative\n");
    }
    {
        // More Neumann nodes than the storage was sized for.
        bcrun r;
        setup(r, "F\n0\n0\n4\n1 2 3 4\n", 0, 0, 3);
        EXPECT_EQ(stop_status([&] { read_flow_nansfbc(r.dim, r.io, r.bc); }), EXIT_ERROR);
        EXPECT_EQ(r.stdout_text(),
                  "  ERROR: flow boundary-condition file 'bcf' line 4: NQ = 4 differs from the 3 counted"
                  " when the problem sizes were read\n");
    }
}
