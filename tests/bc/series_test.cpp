// Prescribed-head and prescribed-flux time series: reading, replication, potential heads,
// interpolation, the end of a file, back-steps, the echo tables and the stops on bad records.
// Expected listing and echo lines were printed by gfortran through the same format strings;
// expected values are hand computations of the linear interpolation.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "bc/bc_fixture.h"
#include "bc/series.h"
#include "run/storage.h"

using namespace nep;
using bctest::bcrun;
using bctest::stop_status;

namespace {

// NNOD surface nodes on NSTR + 1 node layers, with the prescribed-head counts given; every other
// count is 0, there is no atmospheric input, and the echo files are memory units.
struct seriesrun : bcrun {
    seriesrun(int nnod, int nstr, int ndir, int ndirc, int nq) {
        mesh_sizes(nnod, nstr);
        dim.NDIR = ndir;
        dim.NDIRC = ndirc;
        dim.NP = (nstr + 1) * ndir + ndirc;
        dim.NQ = nq;
        alloc_bcdata(dim, bc);
        msh.Z.alloc(dim.N, 0.0);
        msh.ARENOD.alloc(nnod, 1.0);
        fs.PNEW.alloc(dim.N, -1.0);
        fs.PSAVE.alloc(dim.N, -1.0);
        sl.PMIN = -10.0;
        io.out(45).open_memory();
        io.out(46).open_memory();
        io.out(33).open_memory();
        io.IPRT1 = 0;
    }
    void dirts(const std::string& text) { input(10, text, "prescribed-head time-series file", "dirts"); }
    void neuts(const std::string& text) { input(11, text, "prescribed-flux time-series file", "neuts"); }
    void at(double time, double deltat = 1.0) {
        ctl.TIME = time;
        ctl.DELTAT = deltat;
    }
    std::string echo(int unit) const { return R->io.OUT[unit].str(); }
    std::vector<double> dirval() const { return {bc.DIRVAL.begin(), bc.DIRVAL.end()}; }
    std::vector<double> neuval() const { return {bc.NEUVAL.begin(), bc.NEUVAL.end()}; }
    void init() { bcinit(dim, ctl, io, msh, bc, sl, fs); }
    void update() { bcupdt(dim, ctl, io, msh, bc, sl, fs); }
    void restore() { bcrstr(dim, ctl, io, msh, bc, sl, fs); }
};

void expect_values(const std::vector<double>& got, const std::vector<double>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_NEAR(got[i], want[i], 1e-12 * (1.0 + std::abs(want[i]))) << "entry " << i + 1;
    }
}

// Four fixed nodes; records at 0, 10 and 20.
const char* const kThreeRecords =
    "0.0\n1 2 3 4\n"
    "10.0\n11 12 13 14\n"
    "20.0\n31 32 33 34\n";

}  // namespace

TEST(BcSeries, ThreeRecordsAdvanceBackStepAndHoldWithTheirEchoes) {
    seriesrun r(30, 0, 0, 4, 0);
    const int nodes[] = {5, 17, 30, 2};
    for (int i = 1; i <= 4; ++i) r.bc.DIRNOD(i) = nodes[i - 1];
    r.io.IPRT1 = 1;
    r.dirts(kThreeRecords);

    // First step ends at 8: the record at 10 is read, the values lie 8/10 of the way.
    r.at(8.0);
    r.init();
    expect_values(r.dirval(), {9, 10, 11, 12});
    EXPECT_EQ(r.bc.DIRTIM[2], 0.0);
    EXPECT_EQ(r.bc.DIRTIM[3], 10.0);

    // A step from 8 to 15 passes the record at 10: halfway between the records at 10 and 20.
    r.at(15.0);
    r.update();
    expect_values(r.dirval(), {21, 22, 23, 24});
    EXPECT_EQ(r.bc.DIRTIM[1], 0.0);
    EXPECT_EQ(r.bc.DIRTIM[2], 10.0);
    EXPECT_EQ(r.bc.DIRTIM[3], 20.0);
    const long line = r.io.in(10).line();

    // Back-step to 9: nine tenths of the way from the record at 0 to the record at 10.
    r.at(9.0);
    r.restore();
    expect_values(r.dirval(), {10, 11, 12, 13});
    // Back-step to 12: between the records at 10 and 20 again, without reading.
    r.at(12.0);
    r.restore();
    expect_values(r.dirval(), {15, 16, 17, 18});
    EXPECT_EQ(r.io.in(10).line(), line);
    EXPECT_EQ(r.bc.DIREOF, 0);

    // Past the last record: the file ends, the last record holds, nothing more is written.
    r.at(25.0);
    r.update();
    expect_values(r.dirval(), {31, 32, 33, 34});
    EXPECT_EQ(r.bc.DIREOF, 1);
    EXPECT_EQ(r.bc.DIRTIM[2], 20.0);
    EXPECT_EQ(r.bc.DIRTIM[3], 20.0);
    const std::string echo_before = r.echo(45);
    const std::string listing_before = r.listing();
    r.at(40.0);
    r.update();
    expect_values(r.dirval(), {31, 32, 33, 34});
    EXPECT_EQ(r.echo(45), echo_before);
    EXPECT_EQ(r.listing(), listing_before);

    const char* const head = "     #  NODE  BC VALUE        #  NODE  BC VALUE        #  NODE  BC VALUE    \n";
    auto table = [&](const char* a, const char* b, const char* c, const char* d) {
        return std::string(head) + "     1     5   " + a + "    2    17   " + b + "    3    30   " + c +
               "\n     4     2   " + d + "\n";
    };
    const std::string listing =
        "\n     NATM, NSF DIRICHLET BCs AT BEGINNING OF SIMULATION\n" +
        table("1.00000E+00", "2.00000E+00", "3.00000E+00", "4.00000E+00") +
        "\n     NATM, NSF DIRICHLET BCs INPUT AT TIME:   0.0000E+00\n"
        "\n     NATM, NSF DIRICHLET BCs INPUT AT TIME:   1.0000E+01\n"
        "\n     NATM, NSF DIRICHLET BCs INPUT AT TIME:   2.0000E+01\n";
    EXPECT_EQ(r.listing(), listing);
    const std::string echo =
        "     NATM, NSF DIRICHLET BCs  INPUT AT TIME:   0.0000E+00\n" +
        table("1.00000E+00", "2.00000E+00", "3.00000E+00", "4.00000E+00") +
        "     NATM, NSF DIRICHLET BCs VALUES AT TIME:   8.0000E+00\n" +
        table("9.00000E+00", "1.00000E+01", "1.10000E+01", "1.20000E+01") +
        "     NATM, NSF DIRICHLET BCs  INPUT AT TIME:   1.0000E+01\n" +
        table("1.10000E+01", "1.20000E+01", "1.30000E+01", "1.40000E+01") +
        "     NATM, NSF DIRICHLET BCs VALUES AT TIME:   1.5000E+01\n" +
        table("2.10000E+01", "2.20000E+01", "2.30000E+01", "2.40000E+01") +
        "  BACK-STEP NATM,NSF DIR BCs VALUES AT TIME:   9.0000E+00\n" +
        table("1.00000E+01", "1.10000E+01", "1.20000E+01", "1.30000E+01") +
        "  BACK-STEP NATM,NSF DIR BCs VALUES AT TIME:   1.2000E+01\n" +
        table("1.50000E+01", "1.60000E+01", "1.70000E+01", "1.80000E+01") +
        "     NATM, NSF DIRICHLET BCs  INPUT AT TIME:   2.0000E+01\n" +
        table("3.10000E+01", "3.20000E+01", "3.30000E+01", "3.40000E+01") +
        "     NATM, NSF DIRICHLET BCs VALUES AT TIME:   2.5000E+01\n" +
        table("3.10000E+01", "3.20000E+01", "3.30000E+01", "3.40000E+01");
    EXPECT_EQ(r.echo(45), echo);
    EXPECT_EQ(r.echo(46), "");
    EXPECT_EQ(r.stdout_text(), "");
}

TEST(BcSeries, WithoutEchoNothingIsWritten) {
    seriesrun r(4, 0, 0, 4, 0);
    for (int i = 1; i <= 4; ++i) r.bc.DIRNOD(i) = i;
    r.dirts(kThreeRecords);
    r.at(8.0);
    r.init();
    r.at(15.0);
    r.update();
    r.at(9.0);
    r.restore();
    expect_values(r.dirval(), {10, 11, 12, 13});
    EXPECT_EQ(r.listing(), "");
    EXPECT_EQ(r.echo(45), "");
}

TEST(BcSeries, ReadingFixedAndReplicatedRecords) {
    // NDIR = 0, NDIRC = 3: each record is three values on one read; the rest of its last line is
    // passed over and a record may span lines.
    {
        seriesrun r(12, 1, 0, 3, 0);
        for (int i = 1; i <= 3; ++i) r.bc.DIRNOD(i) = 10 + i;
        r.dirts("0\n1 2 3 99\n10\n4\n5,\n6\n");
        r.at(5.0);
        r.init();
        EXPECT_EQ(r.dim.NP, 3);
        for (int i = 1; i <= 3; ++i) {
            EXPECT_EQ(r.bc.DIRTAB(i, 2), i);
            EXPECT_EQ(r.bc.DIRTAB(i, 3), i + 3);
        }
        expect_values(r.dirval(), {2.5, 3.5, 4.5});
    }
    // NDIR = 2, NSTR = 4, NDIRC = 1: two surface values replicated to ten entries, then one.
    {
        seriesrun r(6, 4, 2, 1, 0);
        EXPECT_EQ(r.dim.NP, 11);
        r.dirts("5 6 /\n7\n");
        readbcf(r.io.in(10), 2, 1, 11, 4, r.bc.DIRTAB);
        const double want[] = {5, 6, 5, 6, 5, 6, 5, 6, 5, 6, 7};
        for (int i = 1; i <= 11; ++i) EXPECT_EQ(r.bc.DIRTAB(i, 3), want[i - 1]) << i;
        EXPECT_TRUE(r.io.in(10).at_end());
    }
    // The flux series of bcinit is simply NQ values a record, on its own files.
    {
        seriesrun r(6, 1, 0, 0, 2);
        r.bc.NEUNOD(1) = 3;
        r.bc.NEUNOD(2) = 9;
        r.msh.Z(3) = 100.0;  // never subtracted from fluxes
        r.bc.POTBC = true;
        r.io.IPRT1 = 1;
        r.neuts("0\n-1.0 2.0\n4\n-3.0 6.0\n");
        r.at(1.0);
        r.init();
        expect_values(r.neuval(), {-1.5, 3.0});
        EXPECT_EQ(r.echo(45), "");
        EXPECT_EQ(r.echo(46).rfind("       NATM, NSF NEUMANN BCs  INPUT AT TIME:   0.0000E+00\n", 0), 0u);
        EXPECT_NE(r.listing().find("\n       NATM, NSF NEUMANN BCs AT BEGINNING OF SIMULATION\n"),
                  std::string::npos);
        // Back-step behind the record at 0 is impossible (slots 1 and 2 both at 0): kept.
        r.at(0.0);
        r.restore();
        expect_values(r.neuval(), {-1.5, 3.0});
        r.at(0.5);
        r.restore();
        expect_values(r.neuval(), {-1.25, 2.5});
        EXPECT_NE(r.echo(46).find("  BACK-STEP NATM,NSF NEU BCs VALUES AT TIME:   5.0000E-01\n"),
                  std::string::npos);
    }
}

TEST(BcSeries, PotentialHeadsBecomeHydrostaticPressureHeads) {
    // One surface node at elevation 10 with the nodes below at 8, 6 and 4.
    seriesrun r(1, 3, 1, 0, 0);
    for (int i = 1; i <= 4; ++i) {
        r.bc.DIRNOD(i) = i;
        r.msh.Z(i) = 12.0 - 2.0 * i;
    }
    r.bc.POTBC = true;
    // A null value keeps the potential head of the record before it.
    r.dirts("0\n10\n10\n1*\n20\n12\n");
    r.at(5.0);
    r.init();
    for (int k = 2; k <= 3; ++k) {
        for (int i = 1; i <= 4; ++i) EXPECT_DOUBLE_EQ(r.bc.DIRTAB(i, k), 2.0 * (i - 1));
    }
    expect_values(r.dirval(), {0, 2, 4, 6});
    r.at(15.0);
    r.update();
    expect_values(r.dirval(), {1, 3, 5, 7});
}

TEST(BcSeries, SingleRecordAndSteadyState) {
    // A single record at time 0, run from 0 to 100: the first advance meets the end of the file.
    {
        seriesrun r(2, 0, 0, 2, 0);
        r.bc.DIRNOD(1) = 1;
        r.bc.DIRNOD(2) = 2;
        r.io.IPRT1 = 1;
        r.dirts("0\n3 4\n\n  \n");
        r.at(10.0, 10.0);
        r.init();
        EXPECT_EQ(r.bc.DIREOF, 1);
        expect_values(r.dirval(), {3, 4});
        for (double t : {50.0, 100.0}) {
            r.at(t);
            r.update();
            expect_values(r.dirval(), {3, 4});
        }
        // The record was passed once.
        const std::string lst = r.listing();
        EXPECT_EQ(lst.find("BCs INPUT AT TIME"), lst.rfind("BCs INPUT AT TIME"));
    }
    // DELTAT >= 1.0E10: the first record is used whatever its time, and nothing more is read.
    {
        seriesrun r(2, 0, 0, 2, 0);
        r.bc.DIRNOD(1) = 1;
        r.bc.DIRNOD(2) = 2;
        r.io.IPRT1 = 1;
        r.dirts("50\n3 4\n60\n7 8\n");
        r.at(1.7e38, 1.7e38);
        r.init();
        expect_values(r.dirval(), {3, 4});
        EXPECT_EQ(r.bc.DIRTIM[3], 0.0);
        EXPECT_EQ(r.bc.DIREOF, 0);
        EXPECT_EQ(r.io.in(10).line(), 3);
        EXPECT_EQ(r.listing().find("INPUT AT TIME"), std::string::npos);
        // Exactly at the threshold it is a steady state too.
        seriesrun s(2, 0, 0, 2, 0);
        s.bc.DIRNOD(1) = 1;
        s.bc.DIRNOD(2) = 2;
        s.dirts("50\n3 4\n60\n7 8\n");
        s.at(1.0e10, 1.0e10);
        s.init();
        expect_values(s.dirval(), {3, 4});
        EXPECT_EQ(s.io.in(10).line(), 3);
    }
}

TEST(BcSeries, AStepAfterABackStepBehindSlotTwoStaysInsideTheSeries) {
    // Records at 0, 10, 20 with slopes 1 and 2: after a back-step to 9 the next step ends at
    // 9.5, which lies between the records at 0 and 10 (value 10.5), not on the line through
    // the records at 10 and 20 carried backwards (10).
    {
        seriesrun r(1, 0, 0, 1, 0);
        r.bc.DIRNOD(1) = 1;
        r.dirts("0\n1\n10\n11\n20\n31\n");
        r.at(8.0);
        r.init();
        r.at(15.0);
        r.update();
        r.at(9.0);
        r.restore();
        expect_values(r.dirval(), {10});
        r.at(9.5);
        r.update();
        expect_values(r.dirval(), {10.5});
        r.at(10.5);
        r.update();
        expect_values(r.dirval(), {12});
    }
    // The same after the end of the file: the last record holds only after its own time.
    {
        seriesrun r(1, 0, 0, 1, 0);
        r.bc.DIRNOD(1) = 1;
        r.dirts("0\n1\n10\n11\n");
        r.at(8.0);
        r.init();
        r.at(12.0);
        r.update();
        EXPECT_EQ(r.bc.DIREOF, 1);
        expect_values(r.dirval(), {11});
        r.at(9.0);
        r.restore();
        expect_values(r.dirval(), {10});
        r.at(9.5);
        r.update();
        expect_values(r.dirval(), {10.5});
        r.at(11.0);
        r.update();
        expect_values(r.dirval(), {11});
    }
}

TEST(BcSeries, BadRecordsStopNamingTheFileAndLine) {
    std::string listing;
    auto run = [&listing](const std::string& text, double time, std::string* message) {
        seriesrun r(3, 0, 0, 3, 0);
        for (int i = 1; i <= 3; ++i) r.bc.DIRNOD(i) = i;
        r.dirts(text);
        r.at(time);
        int status = -1;
        try {
            r.init();
        } catch (const run_stop& s) {
            status = s.status;
            *message = s.message;
            listing = r.listing();
        }
        return status;
    };
    std::string msg;
    // Times going back: the listing has the line, standard error the message. The whole file is
    // read through at the start, so a bad record far after the start time stops the run too.
    EXPECT_EQ(run("0\n1 2 3\n10\n4 5 6\n5\n7 8 9\n", 1.0, &msg), 1);
    EXPECT_EQ(msg, "prescribed-head time-series file 'dirts' line 5: time 5 is earlier than the time"
                   " 10 of the record before it");
    EXPECT_EQ(listing, "  ERROR: " + msg + "\n");
    // A record cut short inside its values names its time line and both numbers.
    EXPECT_EQ(run("0\n1 2 3\n10\n4 5\n", 1.0, &msg), 1);
    EXPECT_EQ(msg, "prescribed-head time-series file 'dirts' line 3: the record of time 10 needs 3 values,"
                   " but the file ends after 2 values (line 4)");
    // No first record at all.
    EXPECT_EQ(run("\n", 1.0, &msg), 1);
    EXPECT_EQ(msg, "prescribed-head time-series file 'dirts': end of file after line 1, expected a real number");
    // A value that is not a number.
    EXPECT_EQ(run("0\n1 x 3\n", 1.0, &msg), 1);
    EXPECT_EQ(msg, "prescribed-head time-series file 'dirts' line 2: expected a real number, found 'x'");
    // Equal times are a step change, not an error.
    EXPECT_EQ(run("0\n1 2 3\n10\n4 5 6\n10\n7 8 9\n", 12.0, &msg), -1);
}
