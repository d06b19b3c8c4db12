// The water budget of whole runs, checked by integrating the water held from the heads the
// program wrote, with nodal volumes and soil values rebuilt here from the deck's own geometry.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"

using e2e::deck;

namespace {

// A strip of NX x 2 surface nodes (x = 0, DX, ..., y = 0, 1), surface elevation Z0 + SLOPE*x,
// NSTR equal layers down to a flat bottom BASE below the lowest surface point; the top TOP
// layers are of one soil, the others of a second. Van Genuchten curves (Brooks-Corey with model
// 4: n is then beta and psis the air-entry head), one for both soils or, with `curves`, the
// second soil's own (nb, psisb, thrb) from a CURVES section of the soil file; rain RAIN over the
// whole surface until TRAIN, a flux QPUMP (negative: pumping) at the bottom node under surface
// node 1, no other boundary: all that enters or leaves is known exactly.
struct strip {
    int nx = 2, nstr = 20, top = 20;
    double dx = 1.0, z0 = 2.0, slope = 0.0, base = 2.0;
    double n = 3.0, psis = -0.3, thr = 0.05;
    int model = 0;
    bool curves = false;
    double nb = 3.0, psisb = -0.3, thrb = 0.05;
    double ks[2] = {0.3, 0.3}, ss[2] = {1.0e-4, 1.0e-4}, phi[2] = {0.35, 0.35};
    double rain = 0.05, train = 3.0, qpump = 0.0, tmax = 3.0;
    bool potential = false;  // initial value a potential head, else a pressure head
    double h0 = -1.0;
    int kslope = 5, iflow = 1;
    double dt = 0.01, dtmax = 0.01;
    std::string isolv;    // the selector line (default: the specified solvers)
    std::string section;  // lines after the last record

    int nnod() const { return 2 * nx; }
    int node(int level, int i) const { return level * nnod() + i; }  // i = 1..NNOD
    double xs(int i) const { return dx * ((i - 1) / 2); }
    double ys(int i) const { return (i - 1) % 2; }
    double zsurf(int i) const { return z0 + slope * xs(i); }
    double zmin() const { return z0 + std::min(0.0, slope * dx * (nx - 1)); }
    double zof(int level, int i) const {
        const double zi = zsurf(i);
        return zi - (zi - zmin() + base) * level / nstr;
    }
    int material_layer(int layer) const { return layer <= top ? 0 : 1; }
    double area() const { return dx * (nx - 1); }

    void write(const deck& d) const {
        std::ostringstream g, s, p;
        g.precision(17);
        g << "1 " << nstr << " 40\n" << nnod() << " " << 2 * (nx - 1) << "\n1 1 " << base << "\n";
        for (int l = 1; l <= nstr; ++l) g << 1.0 / nstr << (l % 10 == 0 ? "\n" : " ");
        g << "\n";
        for (int i = 1; i <= nnod(); ++i) g << zsurf(i) << " ";
        g << "\n";
        for (int c = 0; c + 1 < nx; ++c) {
            const int a = 2 * c + 1;  // (a, a+1) at x, (a+2, a+3) at x + dx
            g << a << " " << a + 2 << " " << a + 3 << " 1\n" << a << " " << a + 3 << " " << a + 1 << " 1\n";
        }
        for (int i = 1; i <= nnod(); ++i) g << xs(i) << " " << ys(i) << " ";
        g << "\n";
        d.write("grid", g.str());
        const std::string own = std::to_string(n) + " " + std::to_string(thr) + " " + std::to_string(psis);
        s << "-100.0\n" << model << "\n" << (model == 0 ? own : "2.0 0.05 -0.5")
          << "\n1.0 2.0 1.0 0.0 0.0\n3.0\n1.0 1.0\n" << (model == 4 ? own : "2.0 0.05 -0.5") << "\n";
        for (int l = 1; l <= nstr; ++l) {
            const int m = material_layer(l);
            s << ks[m] << " " << ks[m] << " " << ks[m] << " " << ss[m] << " " << phi[m] << "\n";
        }
        if (curves) {
            s << "CURVES LAYER\n";
            for (int l = 1; l <= nstr; ++l) {
                if (material_layer(l) == 0) s << own << "\n";
                else s << nb << " " << thrb << " " << psisb << "\n";
            }
        }
        d.write("soil", s.str());
        d.write("flowic", std::string(potential ? "T" : "F") + "\n0\n" + std::to_string(h0) + "\n");
        d.write("atmbc", "1\n0.0\n" + std::to_string(rain) + "\n" + std::to_string(train) + "\n" +
                             std::to_string(rain) + "\n" + std::to_string(train) + "\n0.0\n1.0e6\n0.0\n");
        const bool pump = qpump != 0.0;
        d.write("nansfbc", pump ? "F\n0\n0\n1\n" + std::to_string(node(nstr, 1)) + "\n" : "F\n0\n0\n0\n");
        d.write("dirts", "0.0\n");
        d.write("neuts", pump ? "0.0\n" + std::to_string(qpump) + "\n1.0e6\n" + std::to_string(qpump) + "\n"
                              : "0.0\n");
        d.set_line("parm", 2, std::to_string(iflow) + " 0 F");
        d.set_line("parm", 3, std::to_string(kslope) + " 0.01");
        d.set_line("parm", 8, "30 10 20 1.0e-6");
        d.set_line("parm", 11, !isolv.empty() ? isolv : iflow == 1 ? "0 0 1.0" : "3 0 1.0");
        d.set_line("parm", 14, "0.0 " + std::to_string(dt) + " 1.0e-6 " + std::to_string(dtmax) + " " +
                                   std::to_string(tmax));
        d.set_line("parm", 15, "0.0 1.25 0.0 0.5");
        // An output time at the end of the rain, so that a step ends there (the scheme applies
        // the flux of the end of each step over the whole step).
        d.set_line("parm", 16, train < tmax ? "1 0 2 " + std::to_string(train) + " " + std::to_string(tmax)
                                            : "1 0 1 " + std::to_string(tmax));
        d.set_line("parm", 17, "0");
        d.set_line("parm", 18, "0");
        d.set_line("parm", 19, "");
        if (!section.empty()) d.write("parm", d.read("parm") + section);
    }

    // The curve of soil m (0 top, 1 bottom; the top one for both without `curves`, or with
    // `uniform`) from its closed form: Se, and Kr.
    bool bottom_curve(int m, bool uniform) const { return m == 1 && curves && !uniform; }
    double se(int m, double psi, bool uniform = false) const {
        const bool b = bottom_curve(m, uniform);
        const double nn = b ? nb : n, ps = b ? psisb : psis;
        if (model == 4) return psi < ps ? std::pow(ps / psi, nn) : 1.0;
        return psi < -1e-14 ? std::pow(1.0 + std::pow(psi / ps, nn), -(1.0 - 1.0 / nn)) : 1.0;
    }
    double kr(int m, double psi) const {
        const bool b = bottom_curve(m, false);
        const double nn = b ? nb : n, ps = b ? psisb : psis;
        if (model == 4) return psi < ps ? std::pow(ps / psi, 3.0 * nn + 2.0) : 1.0;
        const double e = se(m, psi), mm = 1.0 - 1.0 / nn;
        const double f = 1.0 - std::pow(1.0 - std::pow(e, 1.0 / mm), mm);
        return std::sqrt(e) * f * f;
    }
    // Water content of soil m.
    double theta(int m, double psi, bool uniform = false) const {
        const double r = bottom_curve(m, uniform) ? thrb : thr;
        return r + (phi[m] - r) * se(m, psi, uniform);
    }

    // Per node (1-based) the mean over its tetrahedra of their porosity, storage, water content
    // and Kr at the heads h, and its volume: each tetrahedron gives a quarter of its volume and
    // its soil's values to each vertex. The saturation is the mean water content over the mean
    // porosity.
    struct nodal {
        std::vector<double> vol, por, sto, th, kr;
    };
    nodal nodes_at(const std::vector<double>& h, bool uniform = false) const {
        const int N = nnod() * (nstr + 1);
        nodal r;
        for (auto* v : {&r.vol, &r.por, &r.sto, &r.th, &r.kr}) v->assign(N + 1, 0.0);
        std::vector<double> cnt(N + 1, 0.0);
        for (int l = 1; l <= nstr; ++l) {
            const int m = material_layer(l);
            for (int c = 0; c + 1 < nx; ++c) {
                const int a = 2 * c + 1;
                for (auto t : {std::array<int, 3>{a, a + 2, a + 3}, std::array<int, 3>{a, a + 1, a + 3}}) {
                    const int u[3] = {node(l - 1, t[0]), node(l - 1, t[1]), node(l - 1, t[2])};
                    const int b[3] = {node(l, t[0]), node(l, t[1]), node(l, t[2])};
                    const int tets[3][4] = {{u[0], u[1], u[2], b[0]}, {b[0], b[1], b[2], u[2]},
                                            {u[1], u[2], b[1], b[0]}};
                    for (const auto& q : tets) {
                        auto X = [&](int k) { return xs((k - 1) % nnod() + 1); };
                        auto Y = [&](int k) { return ys((k - 1) % nnod() + 1); };
                        auto Z = [&](int k) { return zof((k - 1) / nnod(), (k - 1) % nnod() + 1); };
                        double e[3][3];
                        for (int r = 0; r < 3; ++r) {
                            e[r][0] = X(q[r + 1]) - X(q[0]);
                            e[r][1] = Y(q[r + 1]) - Y(q[0]);
                            e[r][2] = Z(q[r + 1]) - Z(q[0]);
                        }
                        const double v = std::fabs(e[0][0] * (e[1][1] * e[2][2] - e[1][2] * e[2][1]) -
                                                   e[0][1] * (e[1][0] * e[2][2] - e[1][2] * e[2][0]) +
                                                   e[0][2] * (e[1][0] * e[2][1] - e[1][1] * e[2][0])) / 6.0;
                        for (int k : q) {
                            r.vol[k] += v / 4.0;
                            r.por[k] += phi[m];
                            r.sto[k] += ss[m];
                            r.th[k] += theta(m, h[k], uniform);
                            r.kr[k] += kr(m, h[k]);
                            cnt[k] += 1.0;
                        }
                    }
                }
            }
        }
        for (int k = 1; k <= N; ++k) {
            for (auto* v : {&r.por, &r.sto, &r.th, &r.kr}) (*v)[k] /= cnt[k];
        }
        return r;
    }

    // The water held by the mesh at nodal heads h: the water content and the specific storage
    // of the saturated fraction under pressure, por*Sw + Ss*Sw*psi with Sw = theta/por.
    double held(const std::vector<double>& h, bool uniform = false) const {
        const nodal r = nodes_at(h, uniform);
        double w = 0.0;
        for (size_t k = 1; k < r.vol.size(); ++k) {
            const double sw = r.th[k] / r.por[k];
            w += r.vol[k] * (r.por[k] * sw + r.sto[k] * sw * h[k]);
        }
        return w;
    }
};

// The blocks of nodal values of heads.out (or of another nodal file whose blocks begin with a
// line holding `marker`), each 1-based.
std::vector<std::vector<double>> head_blocks(const std::string& text, const char* marker = "NSTEP") {
    std::vector<std::vector<double>> out;
    for (const std::string& l : e2e::lines_of(text)) {
        if (l.find(marker) != std::string::npos) {
            out.push_back({0.0});
        } else if (!out.empty()) {
            std::istringstream in(l);
            for (double v; in >> v;) out.back().push_back(v);
        }
    }
    return out;
}

long listing_count(const std::string& lst, const std::string& label) {
    const auto p = lst.find(label);
    return p == std::string::npos ? -1 : std::stol(lst.substr(lst.find('=', p) + 1));
}

struct outcome {
    double error;  // (stored - (in + out)) / in
    long nonlinear;
    std::string listing, err;
};

outcome run_strip(const strip& s) {
    deck d("column");
    s.write(d);
    const auto r = d.run();
    EXPECT_EQ(r.status, 0) << r.err;
    const auto blocks = head_blocks(d.read("heads.out"));
    EXPECT_GE(blocks.size(), 2u);
    if (blocks.size() < 2) return {1.0, 0, "", r.err};
    const double in = s.rain * s.area() * s.train;
    const double out = s.qpump * s.tmax;
    const double stored = s.held(blocks.back()) - s.held(blocks.front());
    const std::string lst = d.read("out.lst");
    return {(stored - in - out) / in, listing_count(lst, "TOT # OF NONLIN ITER FOR FLOW EQ"), lst, r.err};
}

const char* const kWarning = "WARNING: THE WATER BUDGET DOES NOT CLOSE";

}  // namespace

TEST(WaterBudget, DrySandColumnClosesUnderKslopeFiveAndWarnsUnderKslopeZero) {
    strip s;  // 20 layers of 0.1 m of sand (n = 3), head -1 m, rain 0.05 for 3 h
    s.kslope = 0;
    const outcome classic = run_strip(s);
    s.kslope = 5;
    const outcome picard = run_strip(s);
    s.iflow = 2;
    const outcome newton = run_strip(s);

    // The specified storage loses several percent of the rain, and says so.
    EXPECT_LT(classic.error, -0.02);
    EXPECT_NE(classic.listing.find(kWarning), std::string::npos);
    EXPECT_NE(classic.listing.find("KSLOPE = 5 (MASS-CONSERVATIVE STORAGE) CLOSES THE BUDGET"), std::string::npos);
    EXPECT_NE(classic.err.find("warning: the water budget does not close"), std::string::npos);

    for (const outcome* o : {&picard, &newton}) {
        EXPECT_LT(std::fabs(o->error), 1.0e-4) << o->error;
        EXPECT_EQ(o->listing.find(kWarning), std::string::npos);
        EXPECT_EQ(o->err.find("warning"), std::string::npos) << o->err;
        EXPECT_NE(o->listing.find("KSLOPE  (5 MASS-CONSERVATIVE STORAGE)     =      5"), std::string::npos);
    }
    EXPECT_LE(picard.nonlinear, 1.5 * classic.nonlinear);
    EXPECT_LT(newton.nonlinear, picard.nonlinear);
}

// A layered hillslope of 11 columns, 4 layers of loam over 6 of a tighter soil, the water table
// at z = 6 (2 m below the lowest surface), 6 h of rain and a pump, to 10 h.
static strip layered_hillslope() {
    strip s;
    s.nx = 11;
    s.dx = 5.0;
    s.z0 = 8.0;
    s.slope = 0.1;
    s.base = 5.0;
    s.nstr = 10;
    s.top = 4;
    s.n = 1.8;
    s.psis = -0.5;
    s.ks[0] = 0.5;
    s.ks[1] = 0.05;
    s.ss[1] = 1.0e-3;
    s.phi[0] = 0.4;
    s.phi[1] = 0.3;
    s.potential = true;
    s.h0 = 6.0;
    s.rain = 0.002;
    s.train = 6.0;
    s.qpump = -0.01;
    s.tmax = 10.0;
    s.dt = 0.1;
    s.dtmax = 1.0;
    return s;
}

TEST(WaterBudget, LayeredHillslopeWithWaterTableAndPumpingClosesUnderKslopeFive) {
    strip s = layered_hillslope();
    for (int iflow : {1, 2}) {
        s.iflow = iflow;
        const outcome o = run_strip(s);
        EXPECT_LT(std::fabs(o.error), 1.0e-3) << "IFLOW " << iflow << ": " << o.error;
        EXPECT_EQ(o.err.find("warning"), std::string::npos) << o.err;
    }
}

TEST(WaterBudget, InexactSolvesAndIterationStepControlCloseTheBudget) {
    // The layered hillslope above, with BoomerAMG, FORCING EW and STEPCONTROL ITERATIONS, under
    // Picard and Newton: the budget closes as tightly, in fewer steps.
    strip s = layered_hillslope();
    s.isolv = "-11 0 1.0";
    for (int iflow : {1, 2}) {
        s.iflow = iflow;
        s.section = "";
        const outcome plain = run_strip(s);
        s.section = "FORCING EW\nSTEPCONTROL ITERATIONS\n";
        const outcome o = run_strip(s);
        EXPECT_LT(std::fabs(o.error), 1.0e-3) << "IFLOW " << iflow << ": " << o.error;
        EXPECT_EQ(o.err.find("warning"), std::string::npos) << o.err;
        EXPECT_LT(listing_count(o.listing, "TOT # OF TIME STEPS"), listing_count(plain.listing, "TOT # OF TIME STEPS"));
    }
}

TEST(WaterBudget, NewtonUnderKslopeFiveConvergesQuadratically) {
    strip s;
    s.iflow = 2;
    deck d("column");
    s.write(d);
    ASSERT_EQ(d.run().status, 0);
    // conv.out: iteration, linear iterations, PL2, PINF, ... one line per iteration. Take the
    // pairs of successive Newton iterations (from the third on) whose first change is small:
    // log(change k+1) / log(change k) is about 2 for a quadratic method, about 1 for a linear one.
    std::vector<std::pair<int, double>> it;
    for (const std::string& l : e2e::lines_of(d.read("conv.out"))) {
        std::istringstream in(l);
        int k = 0, lin = 0;
        double pl2 = 0.0, pinf = 0.0;
        if (in >> k >> lin >> pl2 >> pinf) it.emplace_back(k, pinf);
    }
    int pairs = 0;
    for (size_t j = 0; j + 1 < it.size(); ++j) {
        if (it[j].first < 3 || it[j + 1].first != it[j].first + 1) continue;
        if (!(it[j].second < 1.0e-4 && it[j + 1].second > 0.0)) continue;
        ++pairs;
        EXPECT_GT(std::log(it[j + 1].second) / std::log(it[j].second), 1.7)
            << it[j].second << " -> " << it[j + 1].second;
    }
    EXPECT_GT(pairs, 20);
}

TEST(WaterBudget, SteadyThroughFlowGivesNoRelativeErrorAgainstRounding) {
    // The saturated box between two heads, run in time: once the flow is steady, in + out is
    // zero but for rounding, and so is the error; no relative error is taken against it.
    deck d("box");
    d.set_line("parm", 14, "0.0 1.0 0.1 1.0 30.0");
    ASSERT_EQ(d.run().status, 0);
    const auto rows = e2e::lines_of(d.read("mbal.out"));
    ASSERT_GT(rows.size(), 30u);
    std::istringstream last(rows.back());
    int step = 0;
    double dt = 0.0, t = 0.0, abs_err = 1.0, rel_err = 1.0;
    last >> step >> dt >> t >> abs_err >> rel_err;
    EXPECT_EQ(step, 30);
    EXPECT_LT(std::fabs(abs_err), 1.0e-12);
    EXPECT_EQ(rel_err, 0.0);
    EXPECT_EQ(d.read("out.lst").find("CUMULATIVE (TOTAL-IN+OUT)"), std::string::npos);
}

TEST(WaterBudget, AColumnAtRestGivesNoWarningForRoundingNoise) {
    // Hydrostatic heads over a water table, no rain: nothing flows, and the few 1e-13 that the
    // balance sees are not a budget that fails to close.
    deck d("column");
    d.write("atmbc", "9999\n");
    const auto r = d.run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
}

TEST(WaterBudget, TwoSoilColumnWithACurvePerSoilHoldsTheWaterOfEachSoilsOwnCurve) {
    // Sand over a finer soil, each with its own retention curve (CURVES LAYER): the rain soaks
    // through the sand into the second soil. The water the program keeps must be that of each
    // soil's own curve, integrated here from the closed forms; the first soil's curve everywhere
    // misses it by far. At the end the saturation and Kr of every node are those of its soils.
    for (int model : {0, 4}) {
        strip s;
        s.model = model;
        s.curves = true;
        s.nstr = 10;
        s.top = 3;  // 0.6 m of sand over 1.4 m
        s.base = 2.0;
        s.rain = 0.1;
        s.train = 2.0;
        s.tmax = 3.0;
        s.h0 = -1.0;
        s.ks[1] = 0.05;
        s.phi[1] = 0.45;
        s.ss[1] = 1.0e-3;
        if (model == 0) {
            s.nb = 1.4, s.psisb = -1.5, s.thrb = 0.12;
        } else {
            s.n = 2.0, s.nb = 0.6, s.psisb = -0.8, s.thrb = 0.10;
        }
        for (int iflow : {1, 2}) {
            s.iflow = iflow;
            deck d("column");
            s.write(d);
            d.set_line("parm", 16, "4 0 2 2.0 3.0");  // heads, saturations and Kr at 2 and 3 h
            const auto r = d.run();
            ASSERT_EQ(r.status, 0) << r.err;
            const std::string tag = "model " + std::to_string(model) + ", IFLOW " + std::to_string(iflow);
            const auto heads = head_blocks(d.read("heads.out"));
            ASSERT_GE(heads.size(), 2u) << tag;
            const double in = s.rain * s.area() * s.train;
            const double own = (s.held(heads.back()) - s.held(heads.front()) - in) / in;
            const double one = (s.held(heads.back(), true) - s.held(heads.front(), true) - in) / in;
            EXPECT_LT(std::fabs(own), 1.0e-4) << tag;
            EXPECT_GT(std::fabs(one), 0.05) << tag;
            const auto sw = head_blocks(d.read("sw.out"), "TIME");
            const auto kr = head_blocks(d.read("ckrw.out"));
            ASSERT_EQ(sw.size(), heads.size()) << tag;
            ASSERT_EQ(kr.size(), heads.size()) << tag;
            int unsat = 0;
            for (size_t b = 0; b < heads.size(); ++b) {
                const auto hand = s.nodes_at(heads[b]);
                ASSERT_EQ(sw[b].size(), hand.th.size()) << tag;
                for (size_t k = 1; k < hand.th.size(); ++k) {
                    const double swk = hand.th[k] / hand.por[k];
                    // The heads are printed to 7 digits, and Kr goes up to their 8th power.
                    EXPECT_NEAR(sw[b][k], swk, 1.0e-5 * swk) << tag << ", node " << k;
                    EXPECT_NEAR(kr[b][k], hand.kr[k], 2.0e-5 * hand.kr[k]) << tag << ", node " << k;
                    unsat += swk < 0.99;
                }
            }
            EXPECT_GT(unsat, 50) << tag;
            EXPECT_NE(d.read("out.lst").find("RETENTION CURVES OF EVERY LAYER AND MATERIAL TYPE (CURVES LAYER)"),
                      std::string::npos);
        }
    }
}

TEST(WaterBudget, LineSearchBackStepsLessOnADrySandUnderHeavyRainAndClosesTheBudget) {
    // Newton on a dry sand (head -10 m) under rain near its conductivity, steps growing from 0.05
    // to 0.5: full updates from the dry start overshoot and the step is cut back; halving them on
    // the residual norm, with the whole derivative at every iteration, does with fewer back-steps
    // and nonlinear iterations, and holds the same water.
    strip s;
    s.iflow = 2;
    s.h0 = -10.0;
    s.rain = 0.25;
    s.train = 1.5;  // 0.375 m of rain: the 2 m column takes it all
    s.tmax = 1.5;
    s.dt = 0.05;
    s.dtmax = 0.5;
    const outcome plain = run_strip(s);
    s.section = "LINESEARCH BACKTRACK\n";
    const outcome ls = run_strip(s);
    auto backsteps = [](const std::string& lst) {
        long n = 0;
        for (size_t p = lst.find("BACK-STEPPING..."); p != std::string::npos; p = lst.find("BACK-STEPPING...", p + 1)) ++n;
        return n;
    };
    const long b0 = backsteps(plain.listing), b1 = backsteps(ls.listing);
    EXPECT_LT(b1, b0);
    EXPECT_LT(ls.nonlinear, plain.nonlinear) << b0 << " and " << b1 << " back-steps";
    EXPECT_LT(std::fabs(ls.error), 1.0e-4) << ls.error;
    EXPECT_EQ(ls.err.find("warning"), std::string::npos) << ls.err;
    EXPECT_EQ(plain.listing.find("LINESEARCH"), std::string::npos);
    EXPECT_NE(ls.listing.find("LINESEARCH (NEWTON UPDATES HALVED ON THE RESIDUAL NORM)"), std::string::npos);
}
