// Atmospheric boundary conditions: the rate series, the marking of the surface nodes that carry
// other conditions, the switching rules, the surface-flux totals and the HGFLAG messages.
// Expected fluxes are hand computations (rate interpolated in time, times the node's area);
// the HGFLAG message texts were printed by gfortran through the formats of the eight messages.
#include <gtest/gtest.h>

#include <string>

#include "bc/atmosphere.h"
#include "bc/bc_fixture.h"
#include "bc/series.h"
#include "run/storage.h"

using namespace nep;
using bctest::bcrun;

namespace {

constexpr double kPmin = -5.0;

// NNOD surface nodes on two node layers; no other boundary condition unless a test adds one.
struct atmrun : bcrun {
    explicit atmrun(int nnod, int np = 0, int nq = 0, int nsf = 0, int nsfnmx = 0) {
        mesh_sizes(nnod, 1);
        dim.NDIRC = np;
        dim.NP = np;
        dim.NQ = nq;
        dim.NSF = nsf;
        dim.NSFNMX = nsfnmx;
        alloc_bcdata(dim, bc);
        msh.Z.alloc(dim.N, 0.0);
        msh.ARENOD.alloc(nnod, 1.0);
        fs.PNEW.alloc(dim.N, -1.0);
        fs.PSAVE.alloc(dim.N, -1.0);
        sl.PMIN = kPmin;
        io.out(33).open_memory();
        io.out(45).open_memory();
        io.out(46).open_memory();
    }
    void atmbc(const std::string& text) { input(12, text, "atmospheric boundary-condition file", "atmbc"); }
    void at(double time, double deltat = 1.0) {
        ctl.TIME = time;
        ctl.DELTAT = deltat;
    }
    void one() { atmone(dim, ctl, io, msh, bc, sl, fs); }
    void next() { atmnxt(dim, ctl, io, msh, bc); }
    void swt() { atmswt(dim, bc, sl, fs); }
    void graph() { hgraph(dim, ctl, io, msh, bc, sl, fs, R->mb); }
    massbal& mb() { return R->mb; }
    std::string hgfile() const { return R->io.OUT[33].str(); }
    // One surface node in a given state.
    void node(int j, int ifatm, double p, double pot, double act) {
        bc.IFATM(j) = ifatm;
        fs.PNEW(j) = p;
        bc.ATMPOT(j) = pot;
        bc.ATMACT(j) = act;
    }
};

const char* const kHspatm1 = "\n     HSPATM(0 SPAT. VAR. ATM BC, ELSE HOMO.) =      1\n";

}  // namespace

TEST(AtmSeries, HomogeneousRateDecreasingLinearly) {
    // Rate 1.0E-3 at time 0 falling to 0 at time 100, one value for the whole surface.
    atmrun r(3);
    r.msh.ARENOD(1) = 4.0;
    r.msh.ARENOD(2) = 2.0;
    r.msh.ARENOD(3) = 0.5;
    r.atmbc("1\n0.0\n1.0E-3\n100.0\n0.0\n");
    r.at(25.0);
    r.one();
    EXPECT_EQ(r.listing(), kHspatm1);
    EXPECT_EQ(r.bc.HSPATM, 1);
    EXPECT_NEAR(r.bc.ATMPOT(1), 3.0e-3, 1e-18);
    EXPECT_NEAR(r.bc.ATMPOT(2), 1.5e-3, 1e-18);
    EXPECT_NEAR(r.bc.ATMPOT(3), 3.75e-4, 1e-18);
    for (int j = 1; j <= 3; ++j) {
        EXPECT_EQ(r.bc.IFATM(j), 0);
        EXPECT_EQ(r.bc.ATMACT(j), r.bc.ATMPOT(j));
        // The first record is at time 0: it gives the fluxes of the previous time level.
        EXPECT_NEAR(r.bc.ATMACP(j), 1.0e-3 * r.msh.ARENOD(j), 1e-18);
    }
    r.at(50.0);
    r.next();
    EXPECT_NEAR(r.bc.ATMPOT(1), 2.0e-3, 1e-18);
    r.at(100.0);
    r.next();
    EXPECT_NEAR(r.bc.ATMPOT(1), 0.0, 1e-18);
    EXPECT_EQ(r.bc.ATMEOF, 0);
    // Past the last record the file ends and the last rate holds.
    r.at(150.0);
    r.next();
    EXPECT_EQ(r.bc.ATMEOF, 1);
    EXPECT_EQ(r.bc.ATMPOT(1), 0.0);
    EXPECT_EQ(r.bc.ATMTIM[2], 100.0);
    EXPECT_EQ(r.bc.ATMTIM[3], 100.0);
    EXPECT_EQ(r.hgfile(), "");
}

TEST(AtmSeries, RatesPerNodeAndTheStartOfThePreviousLevel) {
    // HSPATM = 0: one rate per surface node, in node order, a record may span lines.
    {
        atmrun r(3);
        r.atmbc("0\n-10\n1 2\n3\n10\n3 2 1\n");
        r.at(5.0);
        r.one();
        EXPECT_EQ(r.listing(), "\n     HSPATM(0 SPAT. VAR. ATM BC, ELSE HOMO.) =      0\n");
        EXPECT_NEAR(r.bc.ATMPOT(1), 2.5, 1e-14);
        EXPECT_NEAR(r.bc.ATMPOT(2), 2.0, 1e-14);
        EXPECT_NEAR(r.bc.ATMPOT(3), 1.5, 1e-14);
        // First record at -10: the previous level starts at its fluxes.
        EXPECT_EQ(r.bc.ATMACP(1), 1.0);
        EXPECT_EQ(r.bc.ATMACP(2), 2.0);
        EXPECT_EQ(r.bc.ATMACP(3), 3.0);
    }
    // First record at 5: the previous level starts at 0, and before the first record the rates
    // rise from 0 at time 0.
    {
        atmrun r(2);
        r.msh.ARENOD(2) = 3.0;
        r.atmbc("1\n5\n2.0E-3\n");
        r.at(1.0);
        r.one();
        EXPECT_EQ(r.bc.ATMACP(1), 0.0);
        EXPECT_EQ(r.bc.ATMACP(2), 0.0);
        EXPECT_NEAR(r.bc.ATMPOT(1), 4.0e-4, 1e-18);
        EXPECT_NEAR(r.bc.ATMPOT(2), 1.2e-3, 1e-18);
        EXPECT_EQ(r.bc.ATMEOF, 0);
    }
    // A node that is ponded at the start under a first record at -10 starts head-controlled at
    // the previous level, with no previous flux; the flux-controlled one starts at the record.
    {
        atmrun r(2);
        r.msh.ARENOD(1) = 2.0;
        r.msh.ARENOD(2) = 2.0;
        r.fs.PSAVE(1) = 0.3;
        r.atmbc("1\n-10\n1.0E-3\n");
        r.at(1.0);
        r.one();
        EXPECT_EQ(r.bc.ATMEOF, 1);
        EXPECT_EQ(r.fs.PSAVE(1), 0.0);
        EXPECT_EQ(r.bc.IFATMP(1), 1);
        EXPECT_EQ(r.bc.ATMACP(1), 0.0);
        EXPECT_EQ(r.bc.IFATMP(2), 0);
        EXPECT_EQ(r.bc.ATMACP(2), 2.0e-3);
        EXPECT_EQ(r.bc.ATMPOT(2), 2.0e-3);
    }
}

TEST(AtmSeries, BackStepsReinterpolateWithoutReading) {
    // Rates 1, 3, 7 at times 0, 10, 20 on nodes of area 2. Node 2 is head-controlled: its actual
    // flux belongs to the flow solution and is left alone.
    atmrun r(2);
    r.msh.ARENOD(1) = 2.0;
    r.msh.ARENOD(2) = 2.0;
    r.atmbc("1\n0\n1\n10\n3\n20\n7\n");
    r.at(8.0);
    r.one();
    EXPECT_NEAR(r.bc.ATMPOT(1), 5.2, 1e-13);
    r.bc.IFATM(2) = 1;
    r.bc.ATMACT(2) = -0.25;
    r.at(15.0);
    bcupdt(r.dim, r.ctl, r.io, r.msh, r.bc, r.sl, r.fs);
    EXPECT_NEAR(r.bc.ATMPOT(1), 10.0, 1e-13);
    EXPECT_EQ(r.bc.ATMACT(1), r.bc.ATMPOT(1));
    const long line = r.io.in(12).line();
    // Back to 9 (not after the record at 10): between the records at 0 and 10.
    r.at(9.0);
    bcrstr(r.dim, r.ctl, r.io, r.msh, r.bc, r.sl, r.fs);
    EXPECT_NEAR(r.bc.ATMPOT(1), 5.6, 1e-13);
    EXPECT_NEAR(r.bc.ATMPOT(2), 5.6, 1e-13);
    EXPECT_EQ(r.bc.ATMACT(1), r.bc.ATMPOT(1));
    EXPECT_EQ(r.bc.ATMACT(2), -0.25);
    // Back to 12: between the records at 10 and 20.
    r.at(12.0);
    bcrstr(r.dim, r.ctl, r.io, r.msh, r.bc, r.sl, r.fs);
    EXPECT_NEAR(r.bc.ATMPOT(1), 7.6, 1e-13);
    EXPECT_EQ(r.io.in(12).line(), line);
    // After a back-step to 9 the next step may end before the record at 10 again.
    r.at(9.0);
    bcrstr(r.dim, r.ctl, r.io, r.msh, r.bc, r.sl, r.fs);
    r.at(9.5);
    bcupdt(r.dim, r.ctl, r.io, r.msh, r.bc, r.sl, r.fs);
    EXPECT_NEAR(r.bc.ATMPOT(1), 5.8, 1e-13);
    EXPECT_EQ(r.bc.ATMACT(2), -0.25);
    // atmbak with slots 1 and 2 at the same time keeps the fluxes.
    atmrun s(1);
    s.atmbc("1\n0\n4\n10\n8\n");
    s.at(1.0);
    s.one();
    EXPECT_NEAR(s.bc.ATMPOT(1), 4.4, 1e-13);
    s.at(0.0);
    atmbak(s.dim, s.ctl, s.msh, s.bc);
    EXPECT_NEAR(s.bc.ATMPOT(1), 4.4, 1e-13);
}

TEST(AtmSeries, NoInputAtAll) {
    // HSPATM = 9999: no echo, no node excluded, no flux, nothing switches, nothing more read.
    {
        atmrun r(3, 1);
        r.bc.DIRNOD(1) = 2;
        r.atmbc("9999\n0\n5\n");
        r.fs.PNEW(1) = 1.0;
        r.fs.PNEW(3) = kPmin - 1.0;
        r.at(10.0);
        r.one();
        EXPECT_EQ(r.bc.ATMEOF, 1);
        EXPECT_EQ(r.bc.HSPATM, 9999);
        EXPECT_EQ(r.listing(), "");
        for (int j = 1; j <= 3; ++j) {
            EXPECT_EQ(r.bc.IFATM(j), 0);
            EXPECT_EQ(r.bc.IFATMP(j), 0);
        }
        r.at(20.0);
        r.next();
        r.swt();
        EXPECT_EQ(r.io.in(12).line(), 2);
        for (int j = 1; j <= 3; ++j) {
            EXPECT_EQ(r.bc.IFATM(j), 0);
            EXPECT_EQ(r.bc.ATMPOT(j), 0.0);
            EXPECT_EQ(r.bc.ATMACT(j), 0.0);
        }
        EXPECT_EQ(r.fs.PNEW(1), 1.0);
        EXPECT_EQ(r.fs.PNEW(3), kPmin - 1.0);
    }
    // An empty file: nothing marked, nothing read, and its end is met without error later.
    {
        atmrun r(2, 1);
        r.bc.DIRNOD(1) = 1;
        r.atmbc("\n\n");
        r.at(1.0);
        r.one();
        EXPECT_EQ(r.bc.IFATM(1), 0);
        EXPECT_EQ(r.listing(), "");
        r.at(2.0);
        r.next();
        EXPECT_EQ(r.bc.ATMEOF, 1);
        EXPECT_EQ(r.bc.ATMPOT(1), 0.0);
    }
    // HSPATM and then nothing: the end of the file at the first time line.
    {
        atmrun r(2);
        r.atmbc("1\n");
        r.at(1.0);
        r.one();
        EXPECT_EQ(r.bc.ATMEOF, 1);
        EXPECT_EQ(r.listing(), kHspatm1);
        EXPECT_EQ(r.bc.ATMPOT(1), 0.0);
    }
}

TEST(AtmSeries, BadRecordsStop) {
    auto message = [](const std::string& text) {
        atmrun r(2);
        r.atmbc(text);
        r.at(30.0);
        try {
            r.one();
        } catch (const run_stop& s) {
            EXPECT_EQ(s.status, EXIT_ERROR);
            return s.message.empty() ? r.stdout_text() : s.message;
        }
        return std::string("(no stop)");
    };
    // The listing and standard output have it as " ERROR: ...", standard error as below.
    EXPECT_EQ(message("0\n0\n1 2\n20\n3 4\n10\n5 6\n"),
              "atmospheric boundary-condition file 'atmbc' line 6: time 10 is earlier than"
              " the time 20 of the record before it");
    EXPECT_EQ(message("0\n0\n1 2\n40\n3\n"),
              "atmospheric boundary-condition file 'atmbc': end of file after line 5, expected a real number");
    EXPECT_EQ(message("1.5\n"),
              "atmospheric boundary-condition file 'atmbc' line 1: expected an integer, found '1.5'");
}

TEST(AtmMarking, NodesWithOtherConditionsAreNotAtmospheric) {
    // Dirichlet nodes 2 (surface) and 7 (below), Neumann node 3, a seepage face 4 -> 8 (N = 10).
    atmrun r(5, 2, 1, 1, 3);
    r.bc.DIRNOD(1) = 2;
    r.bc.DIRNOD(2) = 7;
    r.bc.NEUNOD(1) = 3;
    r.bc.NSFNUM(1) = 2;
    r.bc.SFNOD(1, 1) = 4;
    r.bc.SFNOD(1, 2) = 9;
    r.bc.SFNOD(1, 3) = -9999;
    for (int j = 1; j <= 5; ++j) r.fs.PNEW(j) = r.fs.PSAVE(j) = 1.0;  // saturated everywhere
    r.atmbc("1\n0\n2.0E-3\n");
    r.at(1.0);
    r.one();
    const int status[] = {1, -1, -1, -1, 1};
    for (int j = 1; j <= 5; ++j) {
        EXPECT_EQ(r.bc.IFATM(j), status[j - 1]) << j;
        EXPECT_EQ(r.bc.IFATMP(j), status[j - 1]) << j;
    }
    // Only the atmospheric nodes were switched to ponding.
    EXPECT_EQ(r.fs.PNEW(1), 0.0);
    EXPECT_EQ(r.fs.PNEW(2), 1.0);
    EXPECT_EQ(r.fs.PSAVE(4), 1.0);
    EXPECT_EQ(r.bc.ATMACT(1), 0.0);

    // Switching, totals and diagnostics pass them by.
    r.node(2, -1, 1.0, 5.0, 9.0);
    r.swt();
    EXPECT_EQ(r.bc.IFATM(2), -1);
    EXPECT_EQ(r.fs.PNEW(2), 1.0);
    r.node(1, 1, 0.0, 2.0e-3, 1.0e-3);
    r.node(5, 1, 0.0, 2.0e-3, 1.0e-3);
    r.graph();
    EXPECT_DOUBLE_EQ(r.mb().POTFLX, 4.0e-3);
    EXPECT_DOUBLE_EQ(r.mb().ACTFLX, 2.0e-3);
    EXPECT_DOUBLE_EQ(r.mb().OVLFLX, 2.0e-3);
    EXPECT_EQ(r.hgfile(), "");
}

TEST(AtmSwitching, InitialSwitchAtBothTimeLevels) {
    // Rain on nodes 1-2, evaporation on nodes 3-4; first record at 0 drives the previous level.
    atmrun r(6);
    r.atmbc("0\n0\n1 1 -1 -1 -1 1\n");
    r.fs.PNEW(1) = 0.5;                           // ponds
    r.fs.PSAVE(2) = 0.0;                          // ponded at the previous level
    r.fs.PNEW(3) = kPmin - 1.0;                   // air-dry
    r.fs.PSAVE(4) = kPmin;                        // air-dry at the previous level
    r.fs.PNEW(4) = kPmin + 1.0e-9;                // just wetter than air-dry: flux control
    r.fs.PNEW(5) = kPmin;                         // exactly air-dry
    r.fs.PNEW(6) = 0.0;                           // exactly saturated
    r.at(1.0);
    r.one();
    EXPECT_EQ(r.fs.PNEW(1), 0.0);
    EXPECT_EQ(r.bc.IFATM(1), 1);
    EXPECT_EQ(r.bc.IFATMP(1), 0);
    EXPECT_EQ(r.fs.PSAVE(2), 0.0);
    EXPECT_EQ(r.bc.IFATM(2), 0);
    EXPECT_EQ(r.bc.IFATMP(2), 1);
    EXPECT_EQ(r.fs.PNEW(3), kPmin);
    EXPECT_EQ(r.bc.IFATM(3), 1);
    EXPECT_EQ(r.bc.IFATMP(3), 0);
    EXPECT_EQ(r.fs.PSAVE(4), kPmin);
    EXPECT_EQ(r.bc.IFATM(4), 0);
    EXPECT_EQ(r.bc.IFATMP(4), 1);
    EXPECT_EQ(r.fs.PNEW(4), kPmin + 1.0e-9);
    EXPECT_EQ(r.bc.IFATM(5), 1);
    EXPECT_EQ(r.fs.PNEW(5), kPmin);
    EXPECT_EQ(r.bc.IFATM(6), 1);
    EXPECT_EQ(r.fs.PNEW(6), 0.0);
    // Head-controlled nodes start with no actual flux; so do the previous-level ones.
    const double act[] = {0.0, 1.0, 0.0, -1.0};
    const double acp[] = {1.0, 0.0, -1.0, 0.0};
    for (int j = 1; j <= 4; ++j) {
        EXPECT_EQ(r.bc.ATMACT(j), act[j - 1]) << j;
        EXPECT_EQ(r.bc.ATMACP(j), acp[j - 1]) << j;
    }
}

TEST(AtmSwitching, RulesWithExactComparisons) {
    atmrun r(16);
    // Flux control to ponding: any P >= 0 under rain; P = 0 exactly counts.
    r.node(1, 0, 0.01, 1.0e-3, 1.0e-3);
    r.node(2, 0, 0.0, 1.0e-3, 1.0e-3);
    r.node(3, 0, -1.0e-12, 1.0e-3, 1.0e-3);   // not yet saturated
    r.node(4, 0, 0.5, 0.0, 0.0);               // no rain: stays
    // Flux control to air-dry: P <= PMIN under evaporation; P = PMIN exactly counts.
    r.node(5, 0, kPmin, -1.0e-3, -1.0e-3);
    r.node(6, 0, kPmin - 2.0, -1.0e-3, -1.0e-3);
    r.node(7, 0, kPmin + 1.0e-9, -1.0e-3, -1.0e-3);
    // Ponded node back to flux control: the soil takes more than the rain, or evaporation.
    r.node(8, 1, 0.0, 3.0e-3, 5.0e-3);
    r.node(9, 1, 0.2, -1.0e-3, 2.0e-3);
    r.node(10, 1, 0.0, 3.0e-3, 3.0e-3);        // ACT = POT: stays ponded
    // Air-dry node back to flux control: rain, or exfiltration larger than the demand.
    r.node(11, 1, kPmin, 2.0e-3, -1.0e-3);
    r.node(12, 1, kPmin, -2.0e-3, -3.0e-3);   // |ACT| > |POT|
    r.node(13, 1, kPmin, -2.0e-3, -1.0e-3);   // |ACT| < |POT|: the soil limits, stays
    r.node(14, 1, kPmin, -2.0e-3, -2.0e-3);   // equal: stays
    // Head control between PMIN and 0 keeps its status whatever the fluxes.
    r.node(15, 1, -1.0, 3.0e-3, 5.0e-3);
    r.node(16, 1, -1.0, -2.0e-3, -3.0e-3);
    r.swt();

    const int status[] = {1, 1, 0, 0, 1, 1, 0, 0, 0, 1, 0, 0, 1, 1, 1, 1};
    const double pnew[] = {0.0, 0.0, -1.0e-12, 0.5, kPmin, kPmin, kPmin + 1.0e-9, 0.0, 0.2,
                           0.0, kPmin, kPmin, kPmin, kPmin, -1.0, -1.0};
    const double act[] = {1.0e-3, 1.0e-3, 1.0e-3, 0.0, -1.0e-3, -1.0e-3, -1.0e-3, 3.0e-3, -1.0e-3,
                          3.0e-3, 2.0e-3, -2.0e-3, -1.0e-3, -2.0e-3, 5.0e-3, -3.0e-3};
    for (int j = 1; j <= 16; ++j) {
        EXPECT_EQ(r.bc.IFATM(j), status[j - 1]) << "node " << j;
        EXPECT_EQ(r.fs.PNEW(j), pnew[j - 1]) << "node " << j;
        EXPECT_EQ(r.bc.ATMACT(j), act[j - 1]) << "node " << j;
    }
    // A second call changes nothing more except where the new state meets another rule:
    // node 8 (flux control, P = 0, rain) ponds again.
    r.swt();
    EXPECT_EQ(r.bc.IFATM(8), 1);
    EXPECT_EQ(r.bc.IFATM(9), 0);   // evaporation on a saturated node: flux control
    EXPECT_EQ(r.bc.IFATM(12), 1);  // air-dry under evaporation again
    EXPECT_EQ(r.bc.IFATM(11), 0);  // rain on a dry node: flux control
}

TEST(AtmHydrograph, TotalsCountersAndMessages) {
    atmrun r(15);
    r.node(1, -1, 0.0, 100.0, 100.0);          // Dirichlet: ignored
    r.node(2, 0, -1.0, 2.0e-3, 2.0e-3);        // flux-controlled: totals only
    r.node(3, 1, 0.0, 3.0e-3, -1.0e-3);        // return flow
    r.node(4, 1, 0.0, 3.0e-3, 4.0e-3);         // HGFLAG(1)
    r.node(5, 1, 0.2, 3.0e-3, 1.0e-3);         // overland flow 2.0E-3
    r.node(6, 1, kPmin, 2.0e-3, -5.0e-4);      // HGFLAG(2), overland 2.0E-3
    r.node(7, 1, kPmin - 1.0, 1.0e-3, 1.5e-3); // HGFLAG(3) and (4)
    r.node(8, 1, kPmin, 1.0e-3, 2.5e-4);       // HGFLAG(4), overland 7.5E-4
    r.node(9, 1, 0.0, -2.0e-3, -1.0e-3);       // HGFLAG(5)
    r.node(10, 1, 0.1, -2.0e-3, 0.0);          // HGFLAG(6)
    r.node(11, 1, kPmin, -2.0e-3, -3.0e-3);    // HGFLAG(7)
    r.node(12, 1, kPmin, -2.0e-3, -1.0e-3);    // nothing
    r.node(13, 1, kPmin - 2.0, -2.0e-3, 1.0e-4); // HGFLAG(8)
    r.node(14, 1, -1.0, 5.0e-3, 1.0e-3);       // between PMIN and 0: nothing
    r.node(15, 1, 0.0, 0.0, 0.0);              // no rain, no infiltration: nothing
    r.at(25.0, 0.5);
    r.mb().POTFLX = 99.0;  // totals of an earlier step are not carried over
    r.graph();

    EXPECT_NEAR(r.mb().POTFLX, 1.0e-2, 1e-15);
    EXPECT_NEAR(r.mb().ACTFLX, 3.35e-3, 1e-15);
    EXPECT_NEAR(r.mb().OVLFLX, 7.75e-3, 1e-15);
    EXPECT_NEAR(r.mb().RETFLX, 1.0e-3, 1e-15);
    const int count[] = {1, 1, 1, 2, 1, 1, 1, 1};
    for (int k = 1; k <= 8; ++k) EXPECT_EQ(r.bc.HGFLAG[k], count[k - 1]) << k;
    // hgraph reports; it changes no state.
    EXPECT_EQ(r.bc.IFATM(11), 1);
    EXPECT_EQ(r.bc.ATMACT(11), -3.0e-3);

    const std::string expected =
        " HGFLAG(1) AT SATURATED SURFACE NODE      4 (TIME=2.50E+01, DELTAT=5.00E-01)\n"
        "           ACTUAL    INFLOW: INFILTRATION  ( 4.00000E-03)\n"
        "           POTENTIAL INFLOW: PRECIPITATION ( 3.00000E-03)\n"
        "           MAGNITUDE OF ACTUAL EXCEEDS MAGNITUDE OF POTENTIAL\n"
        " HGFLAG(2) AT AIR DRY   SURFACE NODE      6 (TIME=2.50E+01, DELTAT=5.00E-01)\n"
        "           ACTUAL    INFLOW: EXFILTRATION  (-5.00000E-04)\n"
        "           POTENTIAL INFLOW: PRECIPITATION ( 2.00000E-03)\n"
        "           SURFACE RUNOFF GENERATED AT AN AIR DRY NODE\n"
        " HGFLAG(3) AT AIR DRY   SURFACE NODE      7 (TIME=2.50E+01, DELTAT=5.00E-01)\n"
        "           ACTUAL    INFLOW: INFILTRATION  ( 1.50000E-03)\n"
        "           POTENTIAL INFLOW: PRECIPITATION ( 1.00000E-03)\n"
        "           MAGNITUDE OF ACTUAL EXCEEDS MAGNITUDE OF POTENTIAL\n"
        " HGFLAG(4) AT AIR DRY   SURFACE NODE      7 (TIME=2.50E+01, DELTAT=5.00E-01)\n"
        "           ACTUAL    INFLOW: INFILTRATION  ( 1.50000E-03)\n"
        "           POTENTIAL INFLOW: PRECIPITATION ( 1.00000E-03)\n"
        "           INFILTRATION AT AN AIR DRY NODE\n"
        " HGFLAG(4) AT AIR DRY   SURFACE NODE      8 (TIME=2.50E+01, DELTAT=5.00E-01)\n"
        "           ACTUAL    INFLOW: INFILTRATION  ( 2.50000E-04)\n"
        "           POTENTIAL INFLOW: PRECIPITATION ( 1.00000E-03)\n"
        "           INFILTRATION AT AN AIR DRY NODE\n"
        " HGFLAG(5) AT SATURATED SURFACE NODE      9 (TIME=2.50E+01, DELTAT=5.00E-01)\n"
        "           ACTUAL    INFLOW: EXFILTRATION  (-1.00000E-03)\n"
        "           POTENTIAL INFLOW: EVAPORATION   (-2.00000E-03)\n"
        "           EXFILTRATION AT A SATURATED NODE\n"
        " HGFLAG(6) AT SATURATED SURFACE NODE     10 (TIME=2.50E+01, DELTAT=5.00E-01)\n"
        "           ACTUAL    INFLOW: INFILTRATION  ( 0.00000E+00)\n"
        "           POTENTIAL INFLOW: EVAPORATION   (-2.00000E-03)\n"
        "           INFILTRATION AT A SATURATED NODE WITH EVAPORATIVE POTENTIAL FLUX\n"
        " HGFLAG(7) AT AIR DRY   SURFACE NODE     11 (TIME=2.50E+01, DELTAT=5.00E-01)\n"
        "           ACTUAL    INFLOW: EXFILTRATION  (-3.00000E-03)\n"
        "           POTENTIAL INFLOW: EVAPORATION   (-2.00000E-03)\n"
        "           MAGNITUDE OF ACTUAL EXCEEDS MAGNITUDE OF POTENTIAL\n"
        " HGFLAG(8) AT AIR DRY   SURFACE NODE     13 (TIME=2.50E+01, DELTAT=5.00E-01)\n"
        "           ACTUAL    INFLOW: INFILTRATION  ( 1.00000E-04)\n"
        "           POTENTIAL INFLOW: EVAPORATION   (-2.00000E-03)\n"
        "           INFILTRATION AT AN AIR DRY NODE WITH EVAPORATIVE POTENTIAL FLUX\n";
    EXPECT_EQ(r.hgfile(), expected);

    // The next step: the totals start again from zero, the counters go on.
    r.graph();
    EXPECT_NEAR(r.mb().POTFLX, 1.0e-2, 1e-15);
    EXPECT_NEAR(r.mb().RETFLX, 1.0e-3, 1e-15);
    for (int k = 1; k <= 8; ++k) EXPECT_EQ(r.bc.HGFLAG[k], 2 * count[k - 1]) << k;
    EXPECT_EQ(r.hgfile(), expected + expected);
}

TEST(AtmHydrograph, AirDryNodeUnderEvaporation) {
    // |ACT| < |POT|: the soil cannot meet the demand; the node stays at PMIN with no message.
    // |ACT| > |POT|: switching returns it to flux control; seen by hgraph while still
    // head-controlled, it is reported as HGFLAG(7).
    atmrun r(3);
    r.node(1, 1, kPmin, -2.0e-3, -1.0e-3);
    r.node(2, 1, kPmin, -2.0e-3, -3.0e-3);
    r.node(3, 1, kPmin, -2.0e-3, -2.0e-3);  // equal magnitudes: neither

    r.at(3.0, 1.0);
    r.graph();
    EXPECT_EQ(r.bc.HGFLAG[7], 1);
    EXPECT_EQ(r.hgfile().rfind(" HGFLAG(7) AT AIR DRY   SURFACE NODE      2 (TIME=3.00E+00, DELTAT=1.00E+00)\n", 0), 0u);
    r.swt();
    EXPECT_EQ(r.bc.IFATM(1), 1);
    EXPECT_EQ(r.bc.IFATM(2), 0);
    EXPECT_EQ(r.bc.IFATM(3), 1);
    EXPECT_EQ(r.bc.ATMACT(2), -2.0e-3);
    r.graph();
    EXPECT_EQ(r.bc.HGFLAG[7], 1);
    EXPECT_NEAR(r.mb().ACTFLX, -5.0e-3, 1e-18);
}
