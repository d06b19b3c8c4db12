// Whole runs of the column deck (1 m x 1 m, four surface nodes, 20 layers of 0.1 m) for what
// the atmospheric condition does not do: the rain that falls on surface nodes with another
// condition, which is reported as not applied, checked against rate x area x time; and water
// standing above the ground at a flux-controlled node, reported once per episode with the head
// the program wrote for that node and step.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"

using e2e::deck;

namespace {

// The column of a csv/ table by its header name, as numbers, row by row.
std::vector<double> csv_column(const deck& d, const std::string& table, const std::string& name) {
    const auto lines = e2e::lines_of(d.read("csv/" + table));
    std::vector<double> v;
    if (lines.empty()) return v;
    int col = -1, k = 0;
    std::istringstream head(lines[0]);
    for (std::string f; std::getline(head, f, ','); ++k) {
        if (f == name) col = k;
    }
    if (col < 0) return v;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::istringstream row(lines[i]);
        std::string f;
        for (int c = 0; c <= col; ++c) std::getline(row, f, ',');
        v.push_back(std::stod(f));
    }
    return v;
}

double sum(const std::vector<double>& v) {
    double s = 0.0;
    for (double x : v) s += x;
    return s;
}

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

TEST(AtmosphereRun, RainOnNodesWithOtherConditionsIsReportedAsNotApplied) {
    // Rain of 0.01 for 2 days on the column; surface node 1 is a seepage face of one node, node
    // 3 a prescribed head (-1 m). Nodes 1 and 3 stand for 1/3 m2 each (both triangles), nodes 2
    // and 4 for 1/6 m2 each.
    deck d("column");
    d.set_line("parm", 14, "0.0 0.01 1.0e-5 0.25 2.0");
    d.set_line("parm", 16, "0 0 1 1.0");
    d.write("atmbc", "1\n0.0\n0.01\n");
    d.write("nansfbc", "F\n0\n5\n81 82 83 84 3\n0\n");
    d.write("dirts", "0.0\n0.0 0.0 0.0 0.0 -1.0\n");
    d.write("sfbc", "1\n1\n1\n");
    const auto r = d.run();
    ASSERT_EQ(r.status, 0) << r.err;
    const double lost = 0.01 * (1.0 / 3 + 1.0 / 3) * 2.0, fell = 0.01 * 1.0 * 2.0;

    // Step by step, in the budget table: the rain on nodes 1 and 3, and (the soil takes all of
    // this light rain) the rain on nodes 2 and 4 applied to the flux-controlled nodes.
    const auto rain = csv_column(d, "budget.csv", "atm_not_applied_in_L3");
    const auto evap = csv_column(d, "budget.csv", "atm_not_applied_out_L3");
    const auto dt = csv_column(d, "budget.csv", "dt_T");
    ASSERT_GT(rain.size(), 5u);
    ASSERT_EQ(rain.size(), dt.size());
    for (std::size_t k = 0; k < rain.size(); ++k) {
        EXPECT_NEAR(rain[k], 0.01 * (2.0 / 3) * dt[k], 1e-15) << "step " << k + 1;
        EXPECT_EQ(evap[k], 0.0);
    }
    EXPECT_NEAR(sum(rain), lost, 1e-12);
    EXPECT_NEAR(sum(csv_column(d, "budget.csv", "atm_flux_in_L3")), 0.01 * (1.0 / 6 + 1.0 / 6) * 2.0,
                1e-12);

    // The listing: a line after the balance of every step, the sums at the end, the warning.
    const std::string lst = d.read("out.lst");
    char line[400];
    std::snprintf(line, sizeof line,
                  " ATM. INPUT NOT APPLIED AT      2 NODES WITH OTHER BC'S: RAIN VOL = %9.2E EVAP VOL = "
                  " 0.00E+00",
                  rain.back());
    EXPECT_NE(lst.find(line), std::string::npos) << line;
    EXPECT_EQ(count(lst, " ATM. INPUT NOT APPLIED AT      2 NODES WITH OTHER BC'S:"), (int)rain.size());
    std::snprintf(line, sizeof line,
                  "\n\n ATMOSPHERIC INPUT NOT APPLIED AT      2 SURFACE NODES WITH OTHER BC'S\n"
                  "          (      1 PRESCRIBED HEAD,      0 PRESCRIBED FLUX,      1 SEEPAGE FACE)\n"
                  "          RAIN        = %12.5E OF %12.5E ON THE SURFACE (%7.2f %%)\n"
                  "\n WARNING: MORE THAN 1 %% OF THE ATMOSPHERIC INPUT WAS NOT APPLIED\n",
                  lost, fell, 100.0 * lost / fell);
    EXPECT_NE(lst.find(line), std::string::npos) << line;
    std::snprintf(line, sizeof line,
                  "nepora3d: warning: atmospheric input not applied at 2 surface nodes with another "
                  "condition (1 prescribed head, 1 seepage face): rain %.6g of %.6g on the surface (%.3g %%)\n",
                  lost, fell, 100.0 * lost / fell);
    EXPECT_NE(r.err.find(line), std::string::npos) << r.err;

    // A run killed in its second checkpoint (step 10) and continued from the first ends with the
    // same listing: the sums and the nodes reported are part of the checkpoint.
    deck k("column");
    for (const char* f : {"parm", "atmbc", "nansfbc", "dirts", "sfbc"}) k.write(f, d.read(f));
    const std::string go = "cd '" + k.dir().string() + "' && ";
    std::system((go + "NEPORA3D_CHECKPOINT_FAULT=2:999999999 '" NEPORA_BIN
                      "' --checkpoint-every 5 >/dev/null 2>&1 </dev/null").c_str());
    ASSERT_TRUE(k.exists("nepora3d.chk"));
    ASSERT_EQ(std::system((go + "'" NEPORA_BIN "' --restart nepora3d.chk >/dev/null 2>&1").c_str()), 0);
    auto without_cpu = [](const std::string& text) {
        std::string out;
        for (const auto& l : e2e::lines_of(text)) {
            if (l.find("CPU") == std::string::npos && l.find("SECONDS") == std::string::npos) {
                out += l + "\n";
            }
        }
        return out;
    };
    EXPECT_TRUE(without_cpu(k.read("out.lst")) == without_cpu(lst))
        << "the continued run's listing differs";

    // Without the seepage face and the prescribed surface head nothing is lost: no such line.
    deck plain("column");
    plain.set_line("parm", 14, "0.0 0.01 1.0e-5 0.25 2.0");
    plain.set_line("parm", 16, "0 0 1 1.0");
    plain.write("atmbc", "1\n0.0\n0.01\n");
    const auto p = plain.run();
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(plain.read("out.lst").find("NOT APPLIED"), std::string::npos);
    EXPECT_EQ(p.err.find("not applied"), std::string::npos);
    EXPECT_TRUE(csv_column(plain, "budget.csv", "atm_not_applied_in_L3").empty());
}

TEST(AtmosphereRun, WaterStandingAtAFluxControlledNodeIsReportedOncePerEpisode) {
    // Light evaporation on the column, whose bottom is held at a pressure head of 3 m (1 m above
    // the ground) for 15 days, then at 0 (the water table falls back), then from day 31 at 3 m
    // again: the surface nodes stay flux-controlled while their heads rise above the ground,
    // twice.
    deck d("column");
    d.set_line("parm", 3, "5 0.01");
    d.set_line("parm", 14, "0.0 0.01 1.0e-5 0.25 45.0");
    d.set_line("parm", 16, "0 0 1 1.0");
    d.write("atmbc", "1\n0.0\n-0.001\n");
    d.write("dirts", "0.0\n3.0 3.0 3.0 3.0\n15.0\n3.0 3.0 3.0 3.0\n16.0\n0.0 0.0 0.0 0.0\n"
                     "30.0\n0.0 0.0 0.0 0.0\n31.0\n3.0 3.0 3.0 3.0\n");
    const auto r = d.run();
    ASSERT_EQ(r.status, 0) << r.err;

    // The warnings: node, time, head.
    struct warning {
        int node;
        double time, head;
    };
    std::vector<warning> w;
    const auto lines = e2e::lines_of(d.read("out.lst"));
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        const std::string key = " WARNING: WATER STANDS ABOVE THE GROUND AT FLUX-CONTROLLED SURFACE NODE";
        if (lines[i].compare(0, key.size(), key) != 0) continue;
        warning x{};
        ASSERT_EQ(std::sscanf(lines[i].c_str() + key.size(), "%d", &x.node), 1);
        ASSERT_EQ(std::sscanf(lines[i + 1].c_str(), " TIME = %lf PRESSURE HEAD = %lf", &x.time, &x.head), 2)
            << lines[i + 1];
        w.push_back(x);
    }
    // Two episodes of each of the four surface nodes.
    ASSERT_EQ(w.size(), 8u);
    for (int k = 0; k < 8; ++k) EXPECT_EQ(w[k].node, k % 4 + 1);
    // Node 1 is an observation node: its head after every step. Each episode starts at the first
    // step of a rise whose head is above 5 cm, with that head.
    const auto t = csv_column(d, "observations.csv", "time_T");
    const auto node = csv_column(d, "observations.csv", "node");
    const auto h = csv_column(d, "observations.csv", "pressure_head_L");
    std::vector<std::pair<double, double>> starts;  // time, head of node 1
    bool above = false;
    for (std::size_t k = 0; k < t.size(); ++k) {
        if (node[k] != 1) continue;
        if (h[k] > 0.05 && !above) starts.emplace_back(t[k], h[k]);
        above = h[k] > 0.05;
    }
    ASSERT_EQ(starts.size(), 2u);
    for (int e = 0; e < 2; ++e) {
        EXPECT_NEAR(w[4 * e].time, starts[e].first, 1e-5 * starts[e].first);
        EXPECT_NEAR(w[4 * e].head, starts[e].second, 1e-5 * starts[e].second);
        EXPECT_GT(w[4 * e].head, 0.05);
    }
    EXPECT_EQ(count(d.read(d.exists("terminal.log") ? "terminal.log" : "not a tty"),
                    " WARNING: WATER STANDS ABOVE THE GROUND"), 8);
    EXPECT_NE(r.err.find("water stood above the ground at flux-controlled surface nodes 8 times"),
              std::string::npos) << r.err;
}
