// The seepage-face file: faces, their end marks, echoes and the stops on bad nodes.
// Expected listing lines were printed by gfortran through the same format strings.
#include <gtest/gtest.h>

#include "bc/bc_fixture.h"
#include "bc/seepage.h"
#include "run/storage.h"

using namespace nep;
using bctest::bcrun;
using bctest::stop_status;

namespace {

// 4 surface nodes on 4 node layers (N = 16); NSFNMX as the first pass derives it.
void setup(bcrun& r, const std::string& text, int nsf, int largest, int iprt1 = 1) {
    r.mesh_sizes(4, 3);
    r.dim.NSF = nsf;
    r.dim.NSFNMX = nsf == 0 ? 0 : largest + 1;
    r.io.IPRT1 = iprt1;
    alloc_bcdata(r.dim, r.bc);
    r.input(13, text, "seepage-face file", "sf");
}

const char* const kThreeFaces =
    "3\n"
    "3\n1 5 9\n"
    "12\n4 8 12 16 3 7 11 15\n2 6 10 14\n"
    "0\n";

}  // namespace

TEST(BcSeepageFile, FacesEndMarksAndEcho) {
    bcrun r;
    setup(r, kThreeFaces, 3, 12);
    read_flow_sfbc(r.dim, r.io, r.bc);

    const std::string expected =
        "\n"
        "     NSF   (# OF SEEPAGE FACES)              =      3\n"
        "     NUMBER OF NODES ON SEEPAGE FACE      1  =      3\n"
        "     NODE #'S :      1     5     9\n"
        "     NUMBER OF NODES ON SEEPAGE FACE      2  =     12\n"
        "     NODE #'S :      4     8    12    16     3     7    11    15     2     6\n"
        "     NODE #'S :     10    14\n"
        "     NUMBER OF NODES ON SEEPAGE FACE      3  =      0\n"
        "     NODE #'S : \n";
    EXPECT_EQ(r.listing(), expected);
    EXPECT_EQ(r.stdout_text(), "");

    EXPECT_EQ(r.dim.NSF, 3);
    EXPECT_EQ(r.bc.NSFNUM(1), 3);
    EXPECT_EQ(r.bc.NSFNUM(2), 12);
    EXPECT_EQ(r.bc.NSFNUM(3), 0);
    const int face1[] = {1, 5, 9, -9999};
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(r.bc.SFNOD(1, i), face1[i - 1]);
    const int face2[] = {4, 8, 12, 16, 3, 7, 11, 15, 2, 6, 10, 14, -9999};
    for (int i = 1; i <= 13; ++i) EXPECT_EQ(r.bc.SFNOD(2, i), face2[i - 1]);
    EXPECT_EQ(r.bc.SFNOD(3, 1), -9999);
    // Positions after the end mark stay as created.
    EXPECT_EQ(r.bc.SFNOD(1, 5), 0);
}

TEST(BcSeepageFile, NoEchoWithoutIPRT1AndNoFaces) {
    {
        bcrun r;
        setup(r, kThreeFaces, 3, 12, 0);
        read_flow_sfbc(r.dim, r.io, r.bc);
        EXPECT_EQ(r.listing(), "");
        EXPECT_EQ(r.bc.SFNOD(1, 4), -9999);
        EXPECT_EQ(r.bc.SFNOD(2, 13), -9999);
    }
    {
        // No faces: NSFNMX = 0 and the face tables are empty.
        bcrun r;
        setup(r, "0\n", 0, 0);
        read_flow_sfbc(r.dim, r.io, r.bc);
        EXPECT_EQ(r.bc.SFNOD.size(), 0);
        EXPECT_EQ(r.bc.SFQ.size(), 0);
        EXPECT_EQ(r.bc.NSFNUM.size(), 0);
        EXPECT_EQ(r.listing(), "\n     NSF   (# OF SEEPAGE FACES)              =      0\n");
    }
}

TEST(BcSeepageFile, BadFacesStop) {
    struct bad {
        const char* text;
        int nsf, largest;
        const char* message;
    };
    const bad cases[] = {
        {"2\n2\n1 5\n3\n4 17 12\n", 2, 3,
         "  ERROR: seepage-face file 'sf' line 5: entry 2 of seepage face 2 is node 17, outside 1..N = 16\n"},
        {"1\n2\n0 5\n", 1, 2,
         "  ERROR: seepage-face file 'sf' line 3: entry 1 of seepage face 1 is node 0, outside 1..N = 16\n"},
        // A slash leaves the rest of the face without nodes.
        {"1\n3\n1 5 /\n", 1, 3,
         "  ERROR: seepage-face file 'sf' line 3: entry 3 of seepage face 1 is node 0, outside 1..N = 16\n"},
        {"1\n-2\n", 1, 2, "  ERROR: seepage-face file 'sf' line 2: NSFNUM(1) = -2 is negative\n"},
        {"2\n1\n1\n5\n1 5 9 13 2\n", 2, 4,
         "  ERROR: seepage-face file 'sf' line 4: NSFNUM(2) = 5 exceeds the 4 nodes per face counted"
         " when the problem sizes were read\n"},
        {"3\n", 2, 4,
         "  ERROR: seepage-face file 'sf' line 1: NSF = 3 differs from the 2 counted when the problem"
         " sizes were read\n"},
    };
    for (const bad& c : cases) {
        bcrun r;
        setup(r, c.text, c.nsf, c.largest, 0);
        EXPECT_EQ(stop_status([&] { read_flow_sfbc(r.dim, r.io, r.bc); }), EXIT_ERROR) << c.text;
        EXPECT_EQ(r.stdout_text(), c.message) << c.text;
        EXPECT_EQ(r.listing(), c.message) << c.text;
    }
}
