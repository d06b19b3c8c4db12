// Coupled runs end to end. A saturated box at rest (equal heads at both ends, no density
// coupling) whose left face holds concentration 1 and right face 0: diffusion alone must reach
// the linear profile c = 1 - x/2, with the flow untouched, under Picard and Newton coupling.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "e2e.h"

using e2e::deck;

namespace {

void expect_linear_profile(const deck& d) {
    std::istringstream in(d.read("root-ntupla.dat"));
    double x, y, z, h, p, c;
    int n = 0;
    while (in >> x >> y >> z >> h >> p >> c) {
        EXPECT_NEAR(c, 1.0 - 0.5 * x, 1e-5) << x << " " << y << " " << z;
        EXPECT_NEAR(p + z, 10.0, 1e-9);  // the flow stays at rest
        ++n;
    }
    EXPECT_EQ(n, 45);
}

}  // namespace

TEST(CoupledRun, DiffusionReachesTheLinearProfile) {
    deck d("tbox");
    auto r = d.run();
    ASSERT_EQ(r.status, 0) << r.err;
    expect_linear_profile(d);
    const std::string lst = d.read("out.lst");
    EXPECT_NE(lst.find("COUPL. SYSTEM CONVERGENCE ACHIEVED IN"), std::string::npos);
    EXPECT_NE(lst.find("TRANSPORT EQUATION: CUMULATIVE (TOTAL) ABS."), std::string::npos);
    // The coupled files: iteration trace under its head, seven-column balance lines, the second
    // hydrograph line with the solute fluxes.
    const std::string cpl = d.read("cpl.out");
    EXPECT_NE(cpl.find("(NSTEP:     1  DELTAT:   1.0000E-02  TIME:   1.0000E-02)"), std::string::npos);
    std::istringstream mb(e2e::lines_of(d.read("mbal.out")).back());
    double v;
    int cols = 0;
    while (mb >> v) ++cols;
    EXPECT_EQ(cols, 7);
    EXPECT_NE(d.read("hgnatm.out").find("NET DIRICH  NET NEUMANN   NET DIRICH   NET CAUCHY"), std::string::npos);
    EXPECT_NE(d.read("conc.out").find(" transp: nodal concentrations"), std::string::npos);
}

TEST(CoupledRun, NewtonCouplingReachesTheSameProfile) {
    deck d("tbox");
    d.set_line("parm", 2, "1 2 F");
    auto r = d.run();
    ASSERT_EQ(r.status, 0) << r.err;
    expect_linear_profile(d);
    EXPECT_NE(d.read("out.lst").find("NEWTON SCHEME FOR TRANSPORT EQUATION"), std::string::npos);
}

TEST(CoupledRun, CoupledBackStepEndsAtTheSmallestStep) {
    // One outer iteration allowed: a step that does not converge at once is repeated with a
    // reduced step until DTMIN, then the run ends with status 2 after the step's output.
    deck d("tbox");
    d.set_line("parm", 9, "1 3 8 1.0d-12");
    d.set_line("parm", 14, "0.0 0.01 2.5e-3 0.5 20.0");
    auto r = d.run();
    EXPECT_EQ(r.status, 2) << r.err;
    const std::string lst = d.read("out.lst");
    EXPECT_NE(lst.find(">>> COUPL. SYSTEM BACK-STEPPING..."), std::string::npos);
    EXPECT_NE(lst.find(">>> COUPL. SYSTEM NO BACK-STEPPING POSSIBLE  -- SIMULATION WILL TERMINATE"),
              std::string::npos);
    EXPECT_TRUE(d.exists("root-ntupla.dat"));
}
