// Whole flow runs on small decks, checked against independent truths: the exact linear head field
// of a saturated box between two prescribed heads (linear elements reproduce it), the closed water
// balance, hydrostatic rest, the step-size control around back-steps and output times.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "e2e.h"

using e2e::deck;

namespace {

struct node_state {
    double x, y, z, hpot, p;
};

// The final state of every node from root-ntupla.dat.
std::vector<node_state> final_state(const deck& d) {
    std::vector<node_state> v;
    std::istringstream in(d.read("root-ntupla.dat"));
    node_state s{};
    while (in >> s.x >> s.y >> s.z >> s.hpot >> s.p) v.push_back(s);
    return v;
}

// Largest |absolute balance error| over the steps of mbal.out.
double worst_balance(const deck& d) {
    double worst = 0.0;
    for (const auto& l : e2e::lines_of(d.read("mbal.out"))) {
        std::istringstream in(l);
        int step;
        double dt, t, abs_err, rel_err;
        if (in >> step >> dt >> t >> abs_err >> rel_err) worst = std::fmax(worst, std::fabs(abs_err));
    }
    return worst;
}

int count_of(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

}  // namespace

TEST(FlowRun, SaturatedBoxReachesTheLinearHeadField) {
    // Heads 10 (x = 0) and 9 (x = 2), conductivity 1, cross-section 2 x 5: H = 10 - x/2 and a
    // flux of 5 through each end.
    deck d("box");
    auto r = d.run();
    ASSERT_EQ(r.status, 0) << r.err;
    const auto nodes = final_state(d);
    ASSERT_EQ(nodes.size(), 45u);
    for (const auto& s : nodes) {
        // The export file carries 7 significant digits.
        EXPECT_NEAR(s.p + s.z, 10.0 - 0.5 * s.x, 2e-6) << s.x << " " << s.y << " " << s.z;
    }
    const std::string lst = d.read("out.lst");
    EXPECT_NE(lst.find(" C F   0.0E+00  0.0E+00  5.0E+00 -5.0E+00"), std::string::npos);
    EXPECT_LT(worst_balance(d), 1e-10);
    // A steady-state solve is one step.
    EXPECT_EQ(count_of(lst, "TIME STEP:"), 1);
    EXPECT_NE(lst.find("TOT # OF TIME STEPS                   =         1"), std::string::npos);
}

TEST(FlowRun, TransientBoxConvergesToTheSameFieldWithAClosedBalance) {
    deck d("box");
    d.set_line("parm", 14, "0.0 0.05 1.0e-4 0.5 3.0");
    d.set_line("parm", 15, "0.0 2.0 0.0 0.5");
    auto r = d.run();
    ASSERT_EQ(r.status, 0) << r.err;
    for (const auto& s : final_state(d)) EXPECT_NEAR(s.p + s.z, 10.0 - 0.5 * s.x, 1e-5);
    // Every step balances: the stored-volume change matches the boundary volumes.
    EXPECT_LT(worst_balance(d), 1e-8);
    const std::string lst = d.read("out.lst");
    // Growth 2x from 0.05 capped at 0.5, ending exactly at TMAX.
    EXPECT_NE(lst.find("TIME STEP:     2    DELTAT:   1.0000E-01    TIME:   1.5000E-01"), std::string::npos);
    EXPECT_NE(lst.find("TIME:   3.0000E+00"), std::string::npos);
}

TEST(FlowRun, HydrostaticColumnStaysAtRest) {
    // Water table at the bottom (pressure head 0 there), potential head uniform 0, no rain.
    deck d("tiny");
    d.write("atmbc", "9999\n");
    auto r = d.run();
    ASSERT_EQ(r.status, 0) << r.err;
    for (const auto& s : final_state(d)) {
        EXPECT_NEAR(s.p, -s.z, 1e-9);
        EXPECT_NEAR(s.hpot, 0.0, 1e-9);
    }
    EXPECT_LT(worst_balance(d), 1e-15);
}

TEST(FlowRun, OutputTimesCutTheStepsAndAreWrittenOnce) {
    deck d("tiny");
    d.set_line("parm", 16, "1 1 3 0.05 0.3 0.31");
    auto r = d.run();
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string heads = d.read("heads.out");
    // The initial state, the three output times and the end of the run.
    EXPECT_EQ(count_of(heads, "NSTEP   TIME    ISEC"), 5);
    EXPECT_NE(heads.find("5.0000E-02     1     NSTEP"), std::string::npos);
    EXPECT_NE(heads.find("3.0000E-01     1     NSTEP"), std::string::npos);
    EXPECT_NE(heads.find("3.1000E-01     1     NSTEP"), std::string::npos);
    EXPECT_NE(heads.find("2.0000E+00     1     NSTEP"), std::string::npos);
    // The step that lands on 0.05 was cut from 0.01 * 1.5^k growth.
    EXPECT_NE(d.read("out.lst").find("TIME:   5.0000E-02"), std::string::npos);
}

TEST(FlowRun, BackSteppingRepeatsTheStepAndEndsWithStatusTwo) {
    // A water table forced to the bottom against a column saturated to the top, two iterations
    // allowed: every attempt fails; two back-steps reach DTMIN and the run ends after the step.
    deck d("tiny");
    d.write("flowic", "F\n2\n");
    d.set_line("parm", 8, "2 3 8 1.0d-9");
    d.set_line("parm", 14, "0.0 0.01 2.5e-3 0.5 2.0");
    auto r = d.run();
    EXPECT_EQ(r.status, 2) << r.err;
    const std::string lst = d.read("out.lst");
    EXPECT_EQ(count_of(lst, "TIME STEP:     1    DELTAT:"), 3);
    EXPECT_EQ(count_of(lst, ">>> FLOW EQ. BACK-STEPPING..."), 2);
    EXPECT_EQ(count_of(lst, "NO BACK-STEPPING POSSIBLE -- SIMULATION WILL TERMINATE"), 1);
    EXPECT_NE(lst.find("TOTAL NUMBER OF BACK-STEPPING OCCURRENCES      :     2"), std::string::npos);
    // The output of that last step and of the end of the run is still written.
    EXPECT_EQ(count_of(d.read("mbal.out"), "\n     1  2.5000E-03  2.5000E-03"), 1);
    EXPECT_TRUE(d.exists("root-ntupla.dat"));
    EXPECT_NE(lst.find("TOT # OF TIME STEPS"), std::string::npos);
}

TEST(FlowRun, ResidualBeyondTheLimitStops) {
    deck d("tiny");
    d.write("flowic", "F\n2\n");
    d.set_line("parm", 10, "0 1.0e-3");
    auto r = d.run();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(" STOP: residual errors have become greater  than the allowed maximum = "),
              std::string::npos)
        << r.out;
    EXPECT_FALSE(d.exists("root-ntupla.dat"));
}

TEST(FlowRun, BackStepThatCannotShortenTheStepEndsTheRun) {
    // DTREDM = 1 and DTREDS = 0 leave a failed step as long as it was: repeating it would never
    // end, so the run ends as when no back-step is possible.
    deck d("tiny");
    d.write("flowic", "F\n2\n");
    d.set_line("parm", 8, "2 3 8 1.0d-9");
    d.set_line("parm", 15, "0.0 1.5 0.0 1.0");
    auto r = d.run();
    EXPECT_EQ(r.status, 2) << r.err;
    const std::string lst = d.read("out.lst");
    EXPECT_EQ(count_of(lst, "TIME STEP:     1    DELTAT:"), 1);
    EXPECT_EQ(count_of(lst, "NO BACK-STEPPING POSSIBLE -- SIMULATION WILL TERMINATE"), 1);
}
