// Initial heads and concentrations: the readers, their echoes and messages, flowinit and the
// hydrostatic heads. Expected listing lines were printed by gfortran through the same formats;
// heads are checked against hand computations from the elevations set below.
#include <gtest/gtest.h>

#include "bc/bc_fixture.h"
#include "bc/initial.h"
#include "run/storage.h"

using namespace nep;
using bctest::bcrun;
using bctest::stop_status;

namespace {

// 3 surface nodes on 3 node layers. Columns of different depths: node i + 3j lies under
// surface node i on node layer j.
const double kZ[9] = {10, 11, 12, 9, 8, 7, 5, 6, 2};
// Hydrostatic pressure heads, z(surface node of the column) - z(node), by hand.
const double kHydro[9] = {0, 0, 0, 1, 3, 5, 5, 5, 10};

void setup(bcrun& r, int iprt1, int itrans = 0) {
    r.mesh_sizes(3, 2);
    r.dim.NT = 3;
    r.dim.ITMX = 5;
    r.dim.ITMXC = 5;
    r.ctl.ITRANS = itrans;
    r.io.IPRT1 = iprt1;
    alloc_flowstate(r.dim, r.ctl, r.fs);
    r.msh.Z.alloc(9);
    for (int i = 1; i <= 9; ++i) r.msh.Z(i) = kZ[i - 1];
    r.sl.SNODI.alloc(9, 0.5);
    r.sl.PORNOD.alloc(9, 0.25);
}

void flow_ic(bcrun& r, const std::string& text) {
    r.input(15, text, "flow initial-condition file", "ic");
    read_flow_ic(r.dim, r.ctl, r.io, r.fs);
}

void init(bcrun& r) { flowinit(r.dim, r.ctl, r.io, r.msh, r.sl, r.fs); }

const char* const kHydroEcho =
    "\n"
    "  PRESUURE HEADS INITIAL CONDITION\n"
    "     1    0.000E+00     2    0.000E+00     3    0.000E+00     4    1.000E+00\n"
    "     5    3.000E+00     6    5.000E+00     7    5.000E+00     8    5.000E+00\n"
    "     9    1.000E+01\n";

}  // namespace

TEST(BcInitial, UniformPotentialHead) {
    // POTINP true, INDP 0, value 10: HPOTP = 10 everywhere and PSAVE = 10 - z.
    bcrun r;
    setup(r, 1);
    flow_ic(r, "T\n0\n10.0\n");
    EXPECT_EQ(r.listing(),
              "\n"
              "     INITIAL POTENTIAL HEAD (UNIFORM)        =     1.00000E+01\n"
              "\n"
              "  INITIAL POTENTIAL HEADS\n"
              "     1    1.000E+01     2    1.000E+01     3    1.000E+01     4    1.000E+01\n"
              "     5    1.000E+01     6    1.000E+01     7    1.000E+01     8    1.000E+01\n"
              "     9    1.000E+01\n");
    EXPECT_EQ(r.stdout_text(), "");
    init(r);
    for (int i = 1; i <= 9; ++i) {
        EXPECT_EQ(r.fs.HPOTP(i), 10.0);
        EXPECT_EQ(r.fs.HPOT(i), 10.0);
        EXPECT_EQ(r.fs.PSAVE(i), 10.0 - kZ[i - 1]);
        EXPECT_EQ(r.fs.PNEW(i), r.fs.PSAVE(i));
    }
}

TEST(BcInitial, UniformAndNodalPressureHeads) {
    {
        bcrun r;
        setup(r, 1);
        flow_ic(r, "F\n0\n-2.5\n");
        EXPECT_EQ(r.listing(),
                  "\n"
                  "     INITIAL PRESSURE HEAD (UNIFORM)        =    -2.50000E+00\n"
                  "\n"
                  "  INITIAL PRESSURE HEADS\n"
                  "     1   -2.500E+00     2   -2.500E+00     3   -2.500E+00     4   -2.500E+00\n"
                  "     5   -2.500E+00     6   -2.500E+00     7   -2.500E+00     8   -2.500E+00\n"
                  "     9   -2.500E+00\n");
        init(r);
        for (int i = 1; i <= 9; ++i) {
            EXPECT_EQ(r.fs.PNEW(i), -2.5);
            EXPECT_EQ(r.fs.HPOTP(i), -2.5 + kZ[i - 1]);
        }
    }
    {
        // Nodal values spread over several lines, with a repeat count and a D exponent.
        bcrun r;
        setup(r, 1);
        flow_ic(r, "F\n1\n0.5 -1.25\n3*2.0\n-1D-3 4 5\n6.5\n");
        EXPECT_EQ(r.listing(),
                  "\n"
                  "  INITIAL PRESSURE HEADS\n"
                  "     1    5.000E-01     2   -1.250E+00     3    2.000E+00     4    2.000E+00\n"
                  "     5    2.000E+00     6   -1.000E-03     7    4.000E+00     8    5.000E+00\n"
                  "     9    6.500E+00\n");
        init(r);
        const double p[9] = {0.5, -1.25, 2, 2, 2, -1e-3, 4, 5, 6.5};
        for (int i = 1; i <= 9; ++i) {
            EXPECT_EQ(r.fs.PSAVE(i), p[i - 1]);
            EXPECT_EQ(r.fs.PNEW(i), p[i - 1]);
            EXPECT_EQ(r.fs.HPOTP(i), p[i - 1] + kZ[i - 1]);
            EXPECT_EQ(r.fs.HPOT(i), r.fs.HPOTP(i));
        }
    }
}

TEST(BcInitial, HydrostaticHeadsEitherWayOnlyMessagesDiffer) {
    bcrun pot, prs;
    setup(pot, 1);
    setup(prs, 1);
    flow_ic(pot, "T\n2\n");
    flow_ic(prs, "F\n2\n");
    // Upper-case notice on both outputs for potential input, lower-case on standard output only
    // for pressure input; no echo of values.
    EXPECT_EQ(pot.listing(), "  ---HYDROSTATIC IC's FOR FLOW--- \n");
    EXPECT_EQ(pot.stdout_text(), "  ---HYDROSTATIC IC's FOR FLOW--- \n");
    EXPECT_EQ(prs.listing(), "");
    EXPECT_EQ(prs.stdout_text(), "  ---hydrostatic IC's for flow--- \n");

    pot.io.out(6).clear();
    prs.io.out(6).clear();
    init(pot);
    init(prs);
    // icvhe echoes the hydrostatic list.
    EXPECT_EQ(pot.listing(), kHydroEcho);
    EXPECT_EQ(prs.listing(), kHydroEcho);
    for (int i = 1; i <= 9; ++i) {
        for (bcrun* r : {&pot, &prs}) {
            EXPECT_EQ(r->fs.PSAVE(i), kHydro[i - 1]);
            EXPECT_EQ(r->fs.PNEW(i), kHydro[i - 1]);
            // The potential head of every node is the elevation of its column's surface node.
            EXPECT_EQ(r->fs.HPOTP(i), kZ[(i - 1) % 3]);
            EXPECT_EQ(r->fs.HPOT(i), kZ[(i - 1) % 3]);
        }
    }
}

TEST(BcInitial, SecondBuildHydrostaticNotice) {
    for (bool potential : {true, false}) {
        bcrun r;
        setup(r, 1);
        r.ctl.DIALECT = dialect::ALT;
        flow_ic(r, potential ? "T\n2\n" : "F\n2\n");
        EXPECT_EQ(r.stdout_text(), "  hydrostatic IC's for flow \n");
        EXPECT_EQ(r.listing(), potential ? "  hydrostatic IC's for flow \n" : "");
    }
}

TEST(BcInitial, NoEchoWhenIPRT1IsZero) {
    const char* const files[] = {"T\n0\n10\n", "F\n1\n9*1.5\n", "F\n2\n"};
    for (const char* f : files) {
        bcrun r;
        setup(r, 0, 1);
        flow_ic(r, f);
        init(r);  // icvhe does not echo either
        r.input(16, "0\n0.25\n", "transport initial-condition file", "cic");
        read_transp_ic(r.dim, r.io, r.fs);
        r.input(16, "7\n9*0.5\n", "transport initial-condition file", "cic");
        read_transp_ic(r.dim, r.io, r.fs);
        EXPECT_EQ(r.listing(), "") << f;
    }
}

TEST(BcInitial, Concentrations) {
    {
        bcrun r;
        setup(r, 1, 1);
        r.input(16, "0\n0.25\n", "transport initial-condition file", "cic");
        read_transp_ic(r.dim, r.io, r.fs);
        EXPECT_EQ(r.listing(), "\n     INITIAL CONCENTRATION (UNIFORM)         =     2.50000E-01\n");
        for (int i = 1; i <= 9; ++i) EXPECT_EQ(r.fs.CSAVE(i), 0.25);
    }
    {
        // INDC = 7 is not range-checked: any value other than 0 means nodal values.
        bcrun r;
        setup(r, 1, 1);
        r.input(16, "7\n0 0.1 0.2 0.3\n3*1.0 1D-200 -0.5\n", "transport initial-condition file", "cic");
        read_transp_ic(r.dim, r.io, r.fs);
        EXPECT_EQ(r.listing(),
                  "\n"
                  "  INITIAL CONCENTRATIONS\n"
                  "     1    0.000E+00     2    1.000E-01     3    2.000E-01     4    3.000E-01\n"
                  "     5    1.000E+00     6    1.000E+00     7    1.000E+00     8    1.000-200\n"
                  "     9   -5.000E-01\n");
        const double c[9] = {0, 0.1, 0.2, 0.3, 1, 1, 1, 1e-200, -0.5};
        for (int i = 1; i <= 9; ++i) EXPECT_EQ(r.fs.CSAVE(i), c[i - 1]);
    }
}

TEST(BcInitial, BadOrShortInputStops) {
    {
        bcrun r;
        setup(r, 1);
        std::string detail;
        try {
            flow_ic(r, "F\n3\n1.0\n");
        } catch (const run_stop& s) {
            EXPECT_EQ(s.status, EXIT_ERROR);
            detail = s.message;
        }
        // The listing text is the fixed one; the file, line and value go to standard error.
        const std::string stop = "  ERROR: bad INDP value file = flow-ic\n";
        EXPECT_EQ(r.listing(), stop);
        EXPECT_EQ(r.stdout_text(), stop);
        EXPECT_EQ(detail, "flow initial-condition file 'ic' line 2: INDP = 3, expected 0, 1 or 2");
    }
    {
        // Eight values for nine nodes: the reader's end-of-file stop, naming the file.
        bcrun r;
        setup(r, 1);
        try {
            flow_ic(r, "F\n1\n8*1.0\n");
            ADD_FAILURE() << "a short nodal list was accepted";
        } catch (const run_stop& s) {
            EXPECT_EQ(s.status, EXIT_ERROR);
            EXPECT_NE(s.message.find("flow initial-condition file 'ic'"), std::string::npos) << s.message;
        }
    }
}

TEST(BcInitial, FlowinitResetsCountersAndNodalAverages) {
    bcrun r;
    setup(r, 0);
    flow_ic(r, "F\n0\n-1\n");
    r.ctl.NSTEP = 7;
    r.ctl.ITER = 4;
    r.io.KPRT = 3;
    r.ctl.ITUNS = 11;
    r.ctl.ITLIN = 12;
    r.ctl.ITLINS = 13;
    r.ctl.NLSFAIL = 2;
    init(r);
    EXPECT_EQ(r.ctl.NSTEP, 1);
    EXPECT_EQ(r.ctl.ITER, 1);
    EXPECT_EQ(r.io.KPRT, 1);
    EXPECT_EQ(r.ctl.ITUNS, 0);
    EXPECT_EQ(r.ctl.ITLIN, 0);
    EXPECT_EQ(r.ctl.ITLINS, 0);
    EXPECT_EQ(r.ctl.NLSFAIL, 0);
    for (int i = 1; i <= 9; ++i) {
        EXPECT_EQ(r.sl.SNODI(i), 0.0);
        EXPECT_EQ(r.sl.PORNOD(i), 0.0);
    }
}
