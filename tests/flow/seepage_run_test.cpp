// Runs with a seepage face: a dam fed by an upstream head, drained only through its downstream
// face. Truths: the steady discharge of an unconfined dam without tailwater is K h1^2 / 2L exactly
// (the Dupuit-Charny result), a steady step balances exactly, water never enters through the
// face, and the exit point moves down the face as the water table falls.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "e2e.h"

using e2e::deck;

namespace {

// Seepage column (last) of every line of the unit-31 hydrograph.
std::vector<double> seepage_fluxes(const deck& d) {
    std::vector<double> v;
    for (const auto& l : e2e::lines_of(d.read("hgatm.out"))) {
        std::istringstream in(l);
        int step;
        double a[7];
        if (!(in >> step)) continue;
        for (double& x : a) in >> x;
        if (in) v.push_back(a[6]);
    }
    return v;
}

// Exit points (face 1, face 2) after every update listed in the seepage-face file.
std::vector<std::pair<int, int>> exit_points(const deck& d) {
    std::vector<std::pair<int, int>> v;
    const auto lines = e2e::lines_of(d.read("sfflag.out"));
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].find("EXIT POINTS CURR ITER") == std::string::npos) continue;
        int a = 0, b = 0;
        std::sscanf(lines[i + 1].c_str(), " %d(%*d) %d", &a, &b);
        v.emplace_back(a, b);
    }
    return v;
}

}  // namespace

TEST(SeepageRun, SteadyDamDischargesThroughTheFaceOnly) {
    deck d("dam");
    auto r = d.run();
    ASSERT_EQ(r.status, 0) << r.err;
    const auto q = seepage_fluxes(d);
    ASSERT_EQ(q.size(), 1u);
    // K h1^2 / (2 L) per metre of width = 64 / 40; the 1 m mesh overestimates it slightly.
    EXPECT_LT(q[0], 0.0);
    EXPECT_NEAR(-q[0], 1.6, 0.16);
    const std::string lst = d.read("out.lst");
    // The upstream inflow leaves through the face: a steady step balances to round-off.
    std::istringstream mb(e2e::lines_of(d.read("mbal.out")).back());
    int step;
    double dt, t, abs_err, rel_err;
    ASSERT_TRUE(mb >> step >> dt >> t >> abs_err >> rel_err);
    EXPECT_LT(std::fabs(abs_err), 1e-9);
    EXPECT_NE(lst.find(" SFFLAG:    (1)    (2)    (3)    (4)    (5)\n             0      0      0      0      0"),
              std::string::npos);
    EXPECT_NE(lst.find("SUBSURFACE OUTFLOW AT SEEP. FACE BC'S:"), std::string::npos);
    EXPECT_NE(d.read("sfflag.out").find("SEEPAGE FACE EXIT POINTS CONVERGED"), std::string::npos);
}

TEST(SeepageRun, ExitPointFallsWithTheWaterTable) {
    // The reservoir drops from 8 m to 2 m in one day; the dam drains for 60 days.
    deck d("dam");
    d.set_line("parm", 14, "0.0 0.05 1.0e-4 2.0 60.0");
    d.write("dirts", "0.0\n8.0 8.0\n1.0\n2.0 2.0\n400.0\n2.0 2.0\n");
    auto r = d.run();
    ASSERT_EQ(r.status, 0) << r.err;
    for (double q : seepage_fluxes(d)) EXPECT_LE(q, 0.0);
    const auto ex = exit_points(d);
    ASSERT_GT(ex.size(), 10u);
    for (size_t i = 1; i < ex.size(); ++i) {
        EXPECT_GE(ex[i].first, ex[i - 1].first) << i;
        EXPECT_GE(ex[i].second, ex[i - 1].second) << i;
    }
    EXPECT_LT(ex.front().first, ex.back().first);
    EXPECT_EQ(ex.back().first, 11);  // the bottom node of the face at the end
}
