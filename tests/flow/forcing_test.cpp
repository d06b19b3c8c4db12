// The forcing term of the inexact flow solves against Eisenstat and Walker's second choice
// worked by hand, and a run with the nonlinear section against the same run without it.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "e2e.h"
#include "flow/nonlinear.h"

using e2e::deck;

TEST(Forcing, EisenstatWalkerSecondChoiceWithSafeguardsByHand) {
    const double g = 0.9, a = 2.0;
    // The first iteration of a step: eta0.
    EXPECT_DOUBLE_EQ(nep::forcing_term(1, 5.0, 7.0, 0.3, 0.1, 0.9, g, a, 1e-10), 0.1);
    // Residual down by 10: 0.9 * 0.01 = 9e-3; the last eta 0.1 keeps 0.9 * 0.01 = 9e-3 < 0.1.
    EXPECT_DOUBLE_EQ(nep::forcing_term(2, 1.0, 10.0, 0.1, 0.1, 0.9, g, a, 1e-10), 9.0e-3);
    // Down by 100 after eta = 0.5: 0.9 * 1e-4, but 0.9 * 0.25 = 0.225 > 0.1 is kept.
    EXPECT_DOUBLE_EQ(nep::forcing_term(3, 0.01, 1.0, 0.5, 0.1, 0.9, g, a, 1e-10), 0.225);
    // A residual that grew: 0.9 * 4 = 3.6, at most ETAMAX.
    EXPECT_DOUBLE_EQ(nep::forcing_term(4, 2.0, 1.0, 0.01, 0.1, 0.9, g, a, 1e-10), 0.9);
    // Near convergence: 0.9 * 1e-12 = 9e-13, at least the deck's tolerance.
    EXPECT_DOUBLE_EQ(nep::forcing_term(5, 1e-6, 1.0, 1e-3, 0.1, 0.9, g, a, 1e-10), 1e-10);
    // The sequence of a Newton run whose residual falls 1 -> 0.3 -> 0.01 -> 1e-5.
    double eta = 0.0, fprev = 0.0;
    const double f[] = {1.0, 0.3, 0.01, 1e-5};
    const double want[] = {0.1, 0.081, 0.9 * std::pow(0.01 / 0.3, 2), 0.9 * 1e-6};
    for (int k = 0; k < 4; ++k) {
        eta = nep::forcing_term(k + 1, f[k], fprev, eta, 0.1, 0.9, g, a, 1e-10);
        fprev = f[k];
        EXPECT_NEAR(eta, want[k], 1e-15 + 1e-12 * want[k]) << k;
    }
}

namespace {

std::vector<double> final_heads(const deck& d) {
    std::vector<double> v;
    std::istringstream in(d.read("root-ntupla.dat"));
    double x, y, z, h, p;
    while (in >> x >> y >> z >> h >> p) v.push_back(p);
    return v;
}

long listing_count(const std::string& lst, const std::string& label) {
    const auto p = lst.find(label);
    return p == std::string::npos ? -1 : std::stol(lst.substr(lst.find('=', p) + 1));
}

}  // namespace

TEST(Forcing, InexactSolvesGiveTheSpecifiedHeadsWithFewerLinearIterations) {
    // Rain twice the saturated conductivity on a column over a water table (a sharp wetting
    // front), fixed steps of 0.005; Picard with BoomerAMG, Newton with BoomerAMG and with the
    // specified BiCGSTAB; each with and without FORCING EW: the heads within 10 TOLNL, at most
    // half the linear iterations a nonlinear one.
    for (const char* scheme : {"1 0 F|-11 0 1.0", "2 0 F|-11 0 1.0", "2 0 F|0 0 1.0"}) {
        const std::string s = scheme;
        deck plain("column"), inexact("column");
        for (deck* d : {&plain, &inexact}) {
            d->set_line("parm", 2, s.substr(0, s.find('|')));
            d->set_line("parm", 8, "60 0 61 1.0e-5");
            d->set_line("parm", 11, s.substr(s.find('|') + 1));
            d->set_line("parm", 13, "500 1.0e-10 500 1.0e-10");
            d->set_line("parm", 14, "0.0 0.005 1.0e-5 0.005 0.2");
            d->set_line("parm", 15, "0.0 1.0 0.0 1.0");
            d->set_line("parm", 16, "0 0 0");
            d->set_line("parm", 17, "0");
            d->set_line("parm", 18, "0");
            d->set_line("parm", 19, "");
        }
        inexact.write("parm", inexact.read("parm") + "forcing ew\n");
        const auto ra = plain.run(), rb = inexact.run();
        ASSERT_EQ(ra.status, 0) << s << ra.err;
        ASSERT_EQ(rb.status, 0) << s << rb.err;
        const auto a = final_heads(plain), b = final_heads(inexact);
        ASSERT_EQ(a.size(), b.size());
        ASSERT_FALSE(a.empty());
        for (size_t i = 0; i < a.size(); ++i) EXPECT_NEAR(a[i], b[i], 10 * 1.0e-5) << s << " node " << i + 1;
        const std::string la = plain.read("out.lst"), lb = inexact.read("out.lst");
        EXPECT_EQ(la.find("EISENSTAT-WALKER"), std::string::npos);
        EXPECT_NE(lb.find("FORCING (LINEAR TOLERANCES, EISENSTAT-WALKER)"), std::string::npos);
        const long lin_a = listing_count(la, "TOT # OF LIN ITER FOR FLOW EQ");
        const long lin_b = listing_count(lb, "TOT # OF LIN ITER FOR FLOW EQ");
        const long nl_a = listing_count(la, "TOT # OF NONLIN ITER FOR FLOW EQ");
        const long nl_b = listing_count(lb, "TOT # OF NONLIN ITER FOR FLOW EQ");
        // BoomerAMG: at most half; the specified BiCGSTAB, whose solves take 1 or 2 iterations
        // here: fewer.
        const long k = s.find("-11") != std::string::npos ? 2 : 1;
        EXPECT_LT(k * lin_b * nl_a, lin_a * nl_b) << s << ": " << lin_b << "/" << nl_b << " vs " << lin_a << "/" << nl_a;
    }
}

TEST(Forcing, BadSectionLinesNameTheFileAndLine) {
    for (const char* line : {"FORCING EW 0.95 0.5", "FORCING NEWTON", "STEPCONTROL ITERATIONS 1",
                             "FORCING EW 0.1 0.9 0", "STEPCONTRL ITERATIONS",
                             "LINESEARCH BACKTRACK" /* under Picard */}) {
        deck d("column");
        const std::string parm = d.read("parm");
        const int n = (int)e2e::lines_of(parm).size() + 1;
        d.write("parm", parm + line + "\n");
        const auto r = d.run();
        EXPECT_EQ(r.status, 1) << line;
        EXPECT_NE(r.err.find("'parm' line " + std::to_string(n)), std::string::npos) << line << ": " << r.err;
    }
}
