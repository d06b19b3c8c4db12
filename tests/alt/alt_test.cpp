// The second program on the test decks: each of its own listing lines against the Fortran
// runtime's rendering of the format (generated once with fortran-format), and the main
// program's lines unchanged on the same deck.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e.h"

namespace {

using e2e::deck;

bool has(const std::string& s, const std::string& t) { return s.find(t) != std::string::npos; }

int count(const std::string& s, const std::string& t) {
    int n = 0;
    for (size_t p = s.find(t); p != std::string::npos; p = s.find(t, p + 1)) ++n;
    return n;
}

// The rows of every convergence table: the lines after a heading line that starts with `head`
// (and after `skip` blank lines), as long as they have the row length.
std::vector<std::string> table_rows(const std::string& listing, const std::string& head, int skip) {
    std::vector<std::string> rows;
    const auto v = e2e::lines_of(listing);
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i].rfind(head, 0) != 0) continue;
        for (size_t j = i + 1 + skip; j < v.size() && v[j].size() == 104; ++j) rows.push_back(v[j]);
    }
    return rows;
}

const std::string kOscLine = "     OSC_FLG (.F. W/O OSC, .T. W/ OSC)       =      F\n";

}  // namespace

TEST(AltProgram, FlowRunListing) {
    deck a("tiny"), m("tiny");
    auto ra = a.run(NEPORA_ALT_BIN), rm = m.run(NEPORA_BIN);
    ASSERT_EQ(ra.status, 0) << ra.err;
    ASSERT_EQ(rm.status, 0) << rm.err;
    const std::string al = a.read("out.lst"), ml = m.read("out.lst");

    // KSLOPE 0: the seepage-face options alone, after the scheme block.
    EXPECT_TRUE(has(al, kOscLine + "\n     ISFONE  (0 ALL-NODE SFEX UPD, 1 1-NODE)   =      0\n"
                                   "     ISFCVG  (0 NL CONVG W/O SFEX, 1 W/ SFEX)  =      0\n"
                                   "     TETAF"));
    EXPECT_FALSE(has(al, "KSLOPE  ("));
    EXPECT_TRUE(has(ml, kOscLine + "     TETAF"));

    EXPECT_TRUE(has(al, "\n     NTERM  (# OF NONZERO TERMS; FLOW EQ)    =     45\n"));
    EXPECT_TRUE(has(ml, "\n     NTERM  (# OF NONZERO TERMS; FLOW EQ)    =        45\n"));

    // The same history in both tables: the node moves behind the two heads.
    EXPECT_TRUE(has(al, "\n\n FLOW EQ. NONLINEAR CONVERGENCE BEHAVIOR (MAXIMUM PRESSURE HEAD DIFFERENCES)\n"
                        "  iter   curr pr head   prev pr head   max difference  at node       conv tol\n"));
    EXPECT_FALSE(has(al, "FOR THE TIME:"));
    const auto arows = table_rows(al, "  iter   curr pr head", 0);
    const auto mrows = table_rows(ml, "      iter at node", 1);
    ASSERT_FALSE(mrows.empty());
    ASSERT_EQ(arows.size(), mrows.size());
    for (size_t i = 0; i < mrows.size(); ++i) {
        const std::string& r = mrows[i];
        EXPECT_EQ(arows[i], r.substr(0, 6) + r.substr(14, 30) + r.substr(6, 8) + r.substr(44)) << i;
    }

    // No empty line after the convergence message.
    EXPECT_TRUE(has(al, " LINEAR ITERATIONS\n\n  INFLOW (I)"));
    EXPECT_TRUE(has(ml, " LINEAR ITERATIONS\n\n\n  INFLOW (I)"));

    // One cumulative flow line, relative to in + out: the numbers of the main program's first.
    const size_t p = ml.find("\n\n  FLOW EQUATION     : CUMULATIVE (TOTAL-IN+OUT) ABS.");
    ASSERT_NE(p, std::string::npos);
    std::string block = ml.substr(p, ml.find('\n', ml.find('\n', p + 3) + 1) + 1 - p);
    for (size_t q; (q = block.find("(TOTAL-IN+OUT)")) != std::string::npos;) block.replace(q, 14, "(TOTAL)");
    EXPECT_TRUE(has(al, block + "\n HGFLAG:")) << block;
    EXPECT_EQ(count(al, "CUMULATIVE"), 2);
    EXPECT_TRUE(has(ml, "(TOTAL-IN) ABS.") || has(ml, "(TOTAL-OUT) ABS."));
}

TEST(AltProgram, ResidualStopAndBackSteps) {
    const std::string stop = " STOP: residual errors have become greater  than the allowed maximum";
    deck a("tiny"), m("tiny");
    a.set_line("parm", 10, "0 1.0e-4");
    m.set_line("parm", 10, "0 1.0e-4");
    auto ra = a.run(NEPORA_ALT_BIN), rm = m.run(NEPORA_BIN);
    EXPECT_EQ(ra.status, 1);
    const std::string line = stop + "!!!   1.0000000000000000E-004\n";
    EXPECT_EQ(ra.out, "\n" + line);
    const std::string al = a.read("out.lst");
    EXPECT_EQ(al.substr(al.size() - line.size()), line);
    EXPECT_EQ(rm.status, 1);
    EXPECT_TRUE(has(rm.out, stop + " =    1.0000000000000000E-004\n"));

    // One iteration a step and an unreachable tolerance: DELTAT 0.01 halves ten times down to
    // DTMIN 1e-5 (0.01 / 2^10 < 1e-5), and the eleventh attempt ends the run.
    deck b("tiny"), n("tiny");
    b.set_line("parm", 8, "1 3 8 1.0d-20");
    n.set_line("parm", 8, "1 3 8 1.0d-20");
    EXPECT_EQ(b.run(NEPORA_ALT_BIN).status, 2);
    EXPECT_EQ(n.run(NEPORA_BIN).status, 2);
    const std::string bl = b.read("out.lst"), nl = n.read("out.lst");
    const std::string fail = " FLOW EQ. CONVERGENCE NOT ACHIEVED IN    1 NONLINEAR ITERATIONS\n";
    EXPECT_EQ(count(bl, fail + " >>> FLOW EQ. BACK-STEPPING...\n\n\n      TIME STEP:"), 10);
    EXPECT_EQ(count(nl, fail + "\n >>> FLOW EQ. BACK-STEPPING...\n\n\n\n      TIME STEP:"), 10);
    const std::string end = " >>> FLOW EQ. NO BACK-STEPPING POSSIBLE -- SIMULATION WILL TERMINATE\n";
    EXPECT_TRUE(has(bl, fail + end + "\n  INFLOW (I)"));
    EXPECT_TRUE(has(nl, fail + "\n" + end + "\n\n  INFLOW (I)"));
}

TEST(AltProgram, DerivativeEchoAndCoordinateDump) {
    deck a("tiny"), m("tiny");
    for (deck* d : {&a, &m}) {
        d->set_line("parm", 1, "3");
        d->set_line("parm", 3, "2 0.01");
        d->set_line("parm", 6, "0 1");
    }
    ASSERT_EQ(a.run(NEPORA_ALT_BIN).status, 0);
    ASSERT_EQ(m.run(NEPORA_BIN).status, 0);
    EXPECT_TRUE(has(a.read("out.lst"),
                    kOscLine + "\n     KSLOPE  (0 ANA, 1 KSL/ANA, 2 KSL/C-DIFF)  =      2\n"
                               "     TOLKSL  (TOLERANCE FOR CHORD SLOPE)       =     1.00000E-02\n"
                               "     ISFONE  (0 ALL-NODE SFEX UPD, 1 1-NODE)   =      0\n"
                               "     ISFCVG  (0 NL CONVG W/O SFEX, 1 W/ SFEX)  =      1\n"
                               "     TETAF"));
    EXPECT_FALSE(has(m.read("out.lst"), "KSLOPE"));

    // 4 surface nodes on the unit square at elevation 1, two layers of 0.5 down to 0: N = 12,
    // NT = 3 * 2 * 2 = 12. Numbered coordinates only in the second program.
    const auto c = e2e::lines_of(a.read("coords.out"));
    ASSERT_EQ(c.size(), 13u);
    EXPECT_EQ(c[1], "      1       0.000       0.000       1.000");
    EXPECT_EQ(c[12], "     12       0.000       1.000       0.000");
    EXPECT_EQ(e2e::lines_of(m.read("coords.out")).size(), 26u);
}
