// Characteristic curves: hand values and closed forms of the five models, analytic derivatives
// against centred differences of the functions, the XVG linear limit, the slope options of
// KSLOPE and the nodal coefficients, and the stops (messages rendered by gfortran).
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <initializer_list>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "base/stop.h"
#include "run/storage.h"
#include "soil/curves.h"

using namespace nep;

namespace {

struct curveset {
    dimensions dim;
    control ctl;
    iofiles io;
    soil sl;
    arr1<double> PT, PO;

    curveset(int ivghu, int n) {
        dim.N = n;
        dim.NWAT = n;
        dim.NT = 1;
        dim.NSTR = 1;
        dim.NZONE = 1;
        alloc_soil(dim, ctl, sl);
        PT.alloc(n);
        PO.alloc(n);
        sl.IVGHU = ivghu;
        ctl.IFLOW = 1;
        io.out(6).open_memory();
        io.STDOUT.open_memory();
        io.NAMES[5] = "parm";
        io.NAMES[14] = "soil.dat";
        sl.PORNOD.fill(0.45);
        sl.SNODI.fill(1.0e-3);
    }
    // van Genuchten n = 2, psis = -1, residual 0.05 (the hand-value curve).
    curveset& vg2() {
        sl.VGN = 2.0;
        sl.VGPSAT = -1.0;
        sl.VGRMC = 0.05;
        return *this;
    }
    void parm() { chparm(dim, io, sl); }
    void init() { chinit(dim, ctl, io, sl); }
};

chpoint at(const soil& s, long i, double psi) {
    chpoint c;
    ch_eval(s, i, psi, CH_SE | CH_DSE | CH_DDSE | CH_KR | CH_DKR, c);
    return c;
}

// Closed forms written independently of the library's arrangement of the powers.
double vg_se(double psi, double n, double psis) {
    return psi < -1e-14 ? 1.0 / std::pow(1.0 + std::pow(psi / psis, n), 1.0 - 1.0 / n) : 1.0;
}
double vg_kr(double psi, double n, double psis) {
    if (!(psi < -1e-14)) return 1.0;
    const double m = 1.0 - 1.0 / n, b = std::pow(psi / psis, n);
    const double f = std::pow(1.0 + b, m) - std::pow(b, m);
    return std::pow(1.0 + b, -2.5 * m) * f * f;
}
// d(Se)/d(psi) of van Genuchten from the chain rule in b: m*n*(b/|psi|)*(1+b)^(-m-1).
double vg_cap(double psi, double n, double psis) {
    const double m = 1.0 - 1.0 / n, b = std::pow(psi / psis, n);
    return m * n * b / std::fabs(psi) * std::pow(1.0 + b, -m - 1.0);
}

std::string stop_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const run_stop& s) {
        EXPECT_EQ(s.status, EXIT_ERROR);
        return s.message.empty() ? "(stop)" : s.message;
    }
    return "";
}

void expect_rel(double got, double want, double rel, const char* what, double psi) {
    EXPECT_NEAR(got, want, rel * std::fabs(want) + 1e-300) << what << " at psi = " << psi;
}

}  // namespace

TEST(SoilCurves, DerivedConstantsByHand) {
    curveset a(0, 1);
    a.vg2();
    a.sl.VGPSAT = -3.0;
    a.parm();
    EXPECT_EQ(a.sl.VGM, 0.5);
    EXPECT_EQ(a.sl.VGN1, 1.0);
    EXPECT_EQ(a.sl.VGM25, 1.25);
    EXPECT_EQ(a.sl.VGNINV, 0.5);
    EXPECT_EQ(a.sl.VGM1, -0.5);
    EXPECT_EQ(a.sl.VGMINV, 2.0);
    EXPECT_DOUBLE_EQ(a.sl.VGPSN, 9.0);
    EXPECT_DOUBLE_EQ(a.sl.SEFRAC(1), (0.45 - 0.05) / 0.45);

    curveset b(4, 1);
    b.sl.BCBETA = 2.0;
    b.sl.BCPSAT = -0.5;
    b.sl.BCRMC = 0.09;
    b.parm();
    EXPECT_EQ(b.sl.BCBET1, 3.0);
    EXPECT_EQ(b.sl.BCBET2, 4.0);
    EXPECT_EQ(b.sl.BCDDSE, 24.0);
    EXPECT_EQ(b.sl.BCDSE, 4.0);
    EXPECT_EQ(b.sl.BCKRX, 8.0);
    EXPECT_EQ(b.sl.BCDKR, 16.0);
    EXPECT_EQ(b.sl.BCDKRX, 9.0);
    EXPECT_DOUBLE_EQ(b.sl.SEFRAC(1), 0.8);

    curveset h(3, 1);
    h.sl.HUALFA = 2.0;
    h.sl.HUBETA = 3.0;
    h.sl.HUGAMA = 0.5;
    h.sl.HUSWR = 0.25;
    h.sl.HUA = 1.0;
    h.sl.HUB = 3.0;
    h.parm();
    EXPECT_EQ(h.sl.HU1SWR, 0.75);
    EXPECT_EQ(h.sl.HUALBE, 8.0);
    EXPECT_EQ(h.sl.HUGA1, 1.5);
    EXPECT_EQ(h.sl.HUGA2, 2.5);
    EXPECT_EQ(h.sl.HUGABE, 1.5);
    EXPECT_EQ(h.sl.HUGAB1, 2.5);
    EXPECT_EQ(h.sl.HU1BET, -2.0);
    EXPECT_EQ(h.sl.HUA2, 2.0);
    EXPECT_EQ(h.sl.HUB2A, 1.0);
    EXPECT_EQ(h.sl.HUAB, -2.0);
    EXPECT_DOUBLE_EQ(h.sl.ALN10, 2.302585092994046);
}

TEST(SoilCurves, VanGenuchtenWetTestIsStrictAtMinusOneEMinus14) {
    curveset a(0, 1);
    a.vg2().parm();
    for (double psi : {-1.0e-14, 0.0, 0.0 * -1.0, 2.5}) {
        const chpoint c = at(a.sl, 1, psi);
        EXPECT_EQ(c.se, 1.0) << psi;
        EXPECT_EQ(c.kr, 1.0) << psi;
        EXPECT_EQ(c.dse, 0.0) << psi;
        EXPECT_EQ(c.ddse, 0.0) << psi;
        EXPECT_EQ(c.dkr, 0.0) << psi;
    }
    // Just below the limit the curve branch is taken: Se rounds to 1 but the capacity does not
    // vanish. With n = 2, psis = -1: dSe/dpsi = |psi|*(1+b)^(-1.5), b = psi^2.
    const chpoint c = at(a.sl, 1, -1.0000001e-14);
    EXPECT_NEAR(c.dse, 1.0000001e-14, 1e-26);
    EXPECT_GT(c.dkr, 0.0);
}

TEST(SoilCurves, VanGenuchtenHandValuesAtMinusOne) {
    curveset a(0, 1);
    a.vg2().parm();
    const chpoint c = at(a.sl, 1, -1.0);
    // b = 1: Se = 2^-0.5, Kr = Se^0.5 (1 - (1 - 0.5)^0.5)^2, dSe = 2^0.5/4.
    EXPECT_NEAR(c.se, 0.70711, 5e-6);
    EXPECT_NEAR(c.kr, 0.072138, 5e-7);
    EXPECT_NEAR(c.dse, 0.35355, 5e-6);
    EXPECT_NEAR(c.se, 1.0 / std::sqrt(2.0), 1e-15);
    EXPECT_NEAR(c.dse, std::sqrt(2.0) / 4.0, 1e-15);
    // Se = (1 + psi^2)^-0.5: d2Se/dpsi2 = -(1+psi^2)^-1.5 + 3 psi^2 (1+psi^2)^-2.5 = 2^-2.5.
    EXPECT_NEAR(c.ddse, std::pow(2.0, -2.5), 1e-15);
    // Kr = (1+x^2)^-1.25 (sqrt(1+x^2) - x)^2 with x = |psi|, differentiated by hand at x = 1.
    EXPECT_NEAR(c.dkr, 0.192190, 1e-6);
}

TEST(SoilCurves, BrooksCoreyAndHuyakornHandValues) {
    curveset b(4, 1);
    b.sl.BCBETA = 2.0;
    b.sl.BCPSAT = -0.5;
    b.parm();
    const chpoint w = at(b.sl, 1, -0.5);  // the wet test is strict: psi = BCPSAT is saturated
    EXPECT_EQ(w.se, 1.0);
    EXPECT_EQ(w.kr, 1.0);
    EXPECT_EQ(w.dse, 0.0);
    const chpoint c = at(b.sl, 1, -1.0);  // (psis/psi) = 0.5
    EXPECT_DOUBLE_EQ(c.se, 0.25);
    EXPECT_DOUBLE_EQ(c.dse, 0.5);
    EXPECT_DOUBLE_EQ(c.ddse, 1.5);
    EXPECT_DOUBLE_EQ(c.kr, 1.0 / 256.0);
    EXPECT_DOUBLE_EQ(c.dkr, 1.0 / 32.0);

    // Huyakorn with alpha = 1, beta = 2, gamma = 1, psia = 0: Se = 1/(1 + psi^2).
    for (int model : {2, 3}) {
        curveset h(model, 1);
        h.sl.HUALFA = 1.0;
        h.sl.HUBETA = 2.0;
        h.sl.HUGAMA = 1.0;
        h.sl.HUPSIA = 0.0;
        h.sl.HUN = 2.0;
        h.sl.HUA = 1.0;
        h.sl.HUB = 3.0;
        h.parm();
        EXPECT_EQ(at(h.sl, 1, 0.0).se, 1.0);
        const chpoint u = at(h.sl, 1, -1.0);
        EXPECT_DOUBLE_EQ(u.se, 0.5);
        EXPECT_DOUBLE_EQ(u.dse, 0.5);   // -2 psi/(1+psi^2)^2
        EXPECT_DOUBLE_EQ(u.ddse, 0.5);  // -2/(1+psi^2)^2 + 8 psi^2/(1+psi^2)^3
        if (model == 2) {
            EXPECT_DOUBLE_EQ(u.kr, 0.25);
            EXPECT_DOUBLE_EQ(u.dkr, 0.5);
        } else {
            // log10 Kr = Se^2 + Se - 2 = -1.25; dKr = ln10 (2 Se + 1) Kr dSe.
            EXPECT_DOUBLE_EQ(u.kr, std::pow(10.0, -1.25));
            EXPECT_DOUBLE_EQ(u.dkr, std::log(10.0) * 2.0 * std::pow(10.0, -1.25) * 0.5);
        }
    }
}

TEST(SoilCurves, AnalyticDerivativesMatchCentredDifferencesForEveryModel) {
    struct model {
        curveset* set;
        std::vector<double> heads;
    };
    curveset vg(0, 1), xvg(1, 1), hu2(2, 1), hu3(3, 1), bc(4, 1);
    vg.sl.VGN = 1.6;
    vg.sl.VGPSAT = -0.8;
    vg.sl.VGRMC = 0.08;
    xvg.sl.VGN = 1.8;
    xvg.sl.VGPSAT = -1.2;
    xvg.sl.VGRMC = 0.06;
    xvg.sl.PORNOD(1) = 0.4;
    xvg.sl.SNODI(1) = 0.01;
    for (curveset* h : {&hu2, &hu3}) {
        h->sl.HUALFA = 1.5;
        h->sl.HUBETA = 1.7;
        h->sl.HUGAMA = 0.6;
        h->sl.HUPSIA = -0.1;
        h->sl.HUSWR = 0.1;
        h->sl.HUN = 3.5;
        h->sl.HUA = 0.5;
        h->sl.HUB = 1.2;
    }
    bc.sl.BCBETA = 1.3;
    bc.sl.BCPSAT = -0.4;
    bc.sl.BCRMC = 0.06;
    for (curveset* s : {&vg, &xvg, &hu2, &hu3, &bc}) s->parm();
    const std::vector<double> common = {-0.5, -0.7, -1.3, -3.0, -8.0, -25.0};
    std::vector<double> vgh = common, huh = common, xh = common;
    vgh.insert(vgh.end(), {-0.01, -0.15, -0.3});
    huh.insert(huh.end(), {-0.15, -0.3});
    // XVG: heads on both sides of the linear limit (away from it), up to positive heads.
    const double px = xvg.sl.PXVG(1);
    ASSERT_LT(px, 0.0);
    xh.insert(xh.end(), {px * 0.5, px * 0.1, 0.3, 2.0});
    const model models[] = {{&vg, vgh}, {&xvg, xh}, {&hu2, huh}, {&hu3, huh}, {&bc, common}};

    for (const model& m : models) {
        const soil& s = m.set->sl;
        for (double psi : m.heads) {
            const double h = 1e-5 * std::max(std::fabs(psi), 0.01);
            const chpoint c = at(s, 1, psi), p = at(s, 1, psi + h), q = at(s, 1, psi - h);
            const std::string what = "model " + std::to_string(s.IVGHU);
            const double scale_se = std::fabs(c.dse) + 1e-9;
            EXPECT_NEAR(c.dse, (p.se - q.se) / (2 * h), 1e-6 * scale_se) << what << " dSe at " << psi;
            EXPECT_NEAR(c.ddse, (p.dse - q.dse) / (2 * h), 1e-6 * (std::fabs(c.ddse) + 1e-9))
                << what << " d2Se at " << psi;
            EXPECT_NEAR(c.dkr, (p.kr - q.kr) / (2 * h), 1e-6 * (std::fabs(c.dkr) + 1e-9))
                << what << " dKr at " << psi;

            // The water held under KSLOPE 5 and its slope, from one evaluation (chmix) and
            // from the heads around it (chwat).
            soil& w = m.set->sl;
            arr1<double> P(1), W(1);
            auto water = [&](double head) {
                P(1) = head;
                chwat(m.set->dim, w, P, W);
                return W(1);
            };
            const double wp = water(psi + h), wq = water(psi - h), wc = water(psi);
            P(1) = psi;
            chmix(m.set->dim, w, P, P, true);
            EXPECT_NEAR(w.STCOEF(1), (wp - wq) / (2 * h), 1e-6 * (std::fabs(w.STCOEF(1)) + 1e-9))
                << what << " dW at " << psi;
            EXPECT_EQ(w.WNEW(1), wc) << what;
            EXPECT_NEAR(w.CKRW(1), c.kr, 1e-10 * c.kr) << what;
            EXPECT_NEAR(w.DCKRW(1), c.dkr, 1e-10 * std::fabs(c.dkr)) << what;
        }
    }
    // W = porosity*SW + Ss*SW*psi, SW = (porosity - residual)/porosity*Se + residual/porosity.
    for (double psi : vgh) {
        arr1<double> P(1), W(1);
        P(1) = psi;
        chwat(vg.dim, vg.sl, P, W);
        const double sw = (0.45 - 0.08) / 0.45 * vg_se(psi, 1.6, -0.8) + 0.08 / 0.45;
        expect_rel(W(1), 0.45 * sw + 1.0e-3 * sw * psi, 1e-13, "VG W", psi);
    }

    // The values themselves against closed forms written here.
    for (double psi : vgh) {
        expect_rel(at(vg.sl, 1, psi).se, vg_se(psi, 1.6, -0.8), 1e-13, "VG Se", psi);
        expect_rel(at(vg.sl, 1, psi).kr, vg_kr(psi, 1.6, -0.8), 1e-9, "VG Kr", psi);
        expect_rel(at(xvg.sl, 1, psi).kr, vg_kr(psi, 1.8, -1.2), 1e-13, "XVG Kr", psi);
    }
    for (double psi : huh) {
        const double se = std::pow(1.0 + std::pow(1.5 * (-0.1 - psi), 1.7), -0.6);
        expect_rel(at(hu2.sl, 1, psi).se, se, 1e-13, "HU Se", psi);
        expect_rel(at(hu2.sl, 1, psi).kr, std::pow(se, 3.5), 1e-13, "HU Kr (2)", psi);
        expect_rel(at(hu3.sl, 1, psi).kr, std::pow(10.0, 0.5 * se * se + 0.2 * se - 0.7), 1e-13, "HU Kr (3)", psi);
    }
    for (double psi : common) {
        expect_rel(at(bc.sl, 1, psi).se, std::pow(-0.4 / psi, 1.3), 1e-13, "BC Se", psi);
        expect_rel(at(bc.sl, 1, psi).kr, std::pow(-0.4 / psi, 5.9), 1e-13, "BC Kr", psi);
    }
}

TEST(SoilCurves, FewestPowersAgreeWithTheSpecifiedArithmetic) {
    // The van Genuchten point of the mass-conservative scheme takes two powers instead of up to
    // nine; its values must be those of the specified formulas.
    for (double n : {1.3, 2.0, 3.0}) {
        curveset v(0, 1);
        v.sl.VGN = n;
        v.sl.VGPSAT = -0.4;
        v.sl.VGRMC = 0.05;
        v.parm();
        for (double psi : {-1e-6, -0.05, -0.4, -1.0, -3.0, -10.0}) {
            chpoint a, b;
            const unsigned all = CH_SE | CH_DSE | CH_DDSE | CH_KR | CH_DKR;
            vg_point(v.sl, psi, all, a);
            vg_point_fast(v.sl, psi, all, b);
            expect_rel(b.se, a.se, 1e-14, "Se", psi);
            expect_rel(b.dse, a.dse, 1e-13, "dSe", psi);
            expect_rel(b.kr, a.kr, 1e-8, "Kr", psi);
            expect_rel(b.dkr, a.dkr, 1e-8, "dKr", psi);
        }
    }
}

TEST(SoilCurves, ExtendedVanGenuchtenLimitWhereCapacityEqualsStorage) {
    curveset x(1, 3);
    x.sl.VGN = 1.8;
    x.sl.VGPSAT = -1.2;
    x.sl.VGRMC = 0.06;
    x.sl.PORNOD(1) = 0.4;
    x.sl.PORNOD(2) = 0.4;
    x.sl.PORNOD(3) = 0.35;
    x.sl.SNODI(1) = 0.01;
    x.sl.SNODI(2) = 0.05;
    x.sl.SNODI(3) = 1.0e-4;
    x.parm();
    const double m = 1.0 - 1.0 / 1.8;
    const double hmax = -1.2 * std::pow(m, 1.0 / 1.8);
    for (long i = 1; i <= 3; ++i) {
        const double px = x.sl.PXVG(i);
        EXPECT_GT(px, hmax) << i;
        EXPECT_LT(px, 0.0) << i;
        // The van Genuchten capacity at PXVG is the node's storage.
        const double cap = (x.sl.PORNOD(i) - 0.06) * vg_cap(px, 1.8, -1.2);
        EXPECT_NEAR(cap, x.sl.SNODI(i), 1e-9 * x.sl.SNODI(i)) << i;
        // ... and the curve's own C is SNODI on both sides of it.
        EXPECT_NEAR(at(x.sl, i, px * (1.0 + 1e-9)).dse, x.sl.SNODI(i), 1e-7 * x.sl.SNODI(i));
        EXPECT_EQ(at(x.sl, i, px).dse, x.sl.SNODI(i));
        // theta is continuous at PXVG.
        EXPECT_NEAR(at(x.sl, i, px * (1.0 + 1e-12)).se, at(x.sl, i, px).se, 1e-12);
    }
    // A larger storage meets the falling capacity further from saturation.
    EXPECT_LT(x.sl.PXVG(2), x.sl.PXVG(1));
    EXPECT_LT(x.sl.PXVG(1), x.sl.PXVG(3));

    // Above PXVG theta grows linearly with slope SNODI, also above zero head, and the storage
    // coefficient is SNODI exactly.
    const double px = x.sl.PXVG(1);
    const double t1 = at(x.sl, 1, px * 0.5).se, t2 = at(x.sl, 1, 0.75).se;
    EXPECT_NEAR(t2 - t1, 0.01 * (0.75 - px * 0.5), 1e-15);
    x.sl.KSLOPE = 0;
    x.PT(1) = px * 0.5;
    x.PT(2) = 0.75;
    x.PT(3) = -5.0;
    x.PO = x.PT;
    chpic(x.dim, x.sl, x.PT, x.PO);
    EXPECT_EQ(x.sl.STCOEF(1), x.sl.SNODI(1));
    EXPECT_EQ(x.sl.STCOEF(2), x.sl.SNODI(2));
    EXPECT_NEAR(x.sl.STCOEF(3), 0.29 * vg_cap(-5.0, 1.8, -1.2), 1e-12);
    chnew(x.dim, x.sl, x.PT, x.PO);
    EXPECT_EQ(x.sl.STCOEF(1), x.sl.SNODI(1));
    EXPECT_EQ(x.sl.DSTCOEF(1), 0.0);
    // SW = theta/phi; at zero head above PXVG: theta = theta(PXVG) + SNODI*(0 - PXVG).
    swkrw(x.dim, x.sl, x.PT);
    EXPECT_NEAR(x.sl.SW(2) * 0.4, at(x.sl, 2, x.sl.PXVG(2)).se + 0.05 * (0.75 - x.sl.PXVG(2)), 1e-15);
    EXPECT_EQ(x.sl.CKRW(2), 1.0);
}

TEST(SoilCurves, ExtendedVanGenuchtenStops) {
    // n = 2, psis = -1, phi - residual = 0.4: the peak capacity is
    // m n (phi - tr) m^m / ((1 + m)^(1 + m) |psis|) = 0.15396007.
    curveset x(1, 3);
    x.vg2();
    x.sl.SNODI(1) = 0.01;
    x.sl.SNODI(2) = 0.01;
    x.sl.SNODI(3) = 0.25;
    const std::string msg = stop_of([&] { x.parm(); });
    const std::string lines =
        "\n"
        "  ****** ERROR IN SNODI INPUT: NODE     3;   SNODI  =    2.50000E-01\n"
        "  ****** SS MUST BE SMALLER THAN DMCMAX  =    1.53960E-01\n"
        "  ****** PROGRAM ABORTING\n";
    EXPECT_EQ(x.io.OUT[6].str(), lines);
    EXPECT_EQ(x.io.STDOUT.str(), lines);
    EXPECT_NE(msg.find("soil file 'soil.dat': node 3"), std::string::npos) << msg;

    // The first failing node is reported.
    curveset y(1, 3);
    y.vg2();
    y.sl.SNODI(2) = 0.2;
    y.sl.SNODI(3) = 0.3;
    stop_of([&] { y.parm(); });
    EXPECT_NE(y.io.OUT[6].str().find("NODE     2;"), std::string::npos);

    // Parameters that leave the curve undefined never end the bisection.
    curveset z(1, 1);
    z.vg2();
    z.sl.VGRMC = std::numeric_limits<double>::quiet_NaN();
    stop_of([&] { z.parm(); });
    const std::string bis =
        "\n"
        "  ****** MAX ITERATIONS  =    500 EXCEEDED IN BISECTION ALGORITHM\n"
        "  ****** PROGRAM ABORTING\n";
    EXPECT_EQ(z.io.OUT[6].str(), bis);
    EXPECT_EQ(z.io.STDOUT.str(), bis);
}

TEST(SoilCurves, NodalSaturationAndStorageOfEachModel) {
    // VG: SW = SEFRAC Se + tr/phi (1 when saturated), STCOEF = SW Ss + phi SEFRAC dSe.
    curveset a(0, 2);
    a.vg2().parm();
    a.PT(1) = -1.0;
    a.PT(2) = 0.0;
    a.PO = a.PT;
    swkrw(a.dim, a.sl, a.PT);
    EXPECT_NEAR(a.sl.SW(1), 0.05 / 0.45 + 0.4 / 0.45 * std::sqrt(0.5), 1e-15);
    EXPECT_NEAR(a.sl.SW(2), 1.0, 1e-15);
    EXPECT_NEAR(a.sl.CKRW(1), 0.072138, 5e-7);
    EXPECT_EQ(a.sl.CKRW(2), 1.0);
    chpic(a.dim, a.sl, a.PT, a.PO);
    EXPECT_NEAR(a.sl.STCOEF(1), a.sl.SW(1) * 1e-3 + 0.4 * std::sqrt(2.0) / 4.0, 1e-15);
    EXPECT_NEAR(a.sl.STCOEF(2), 1e-3, 1e-18);
    chnew(a.dim, a.sl, a.PT, a.PO);
    const double sef = 0.4 / 0.45;
    EXPECT_NEAR(a.sl.DSTCOEF(1), 1e-3 * sef * std::sqrt(2.0) / 4.0 + 0.4 * std::pow(2.0, -2.5), 1e-15);
    EXPECT_NEAR(a.sl.DCKRW(1), 0.192190, 1e-6);
    EXPECT_EQ(a.sl.DSTCOEF(2), 0.0);
    EXPECT_EQ(a.sl.DCKRW(2), 0.0);

    // Huyakorn: SW = Swr + (1 - Swr) Se.
    curveset h(2, 1);
    h.sl.HUALFA = 1.0;
    h.sl.HUBETA = 2.0;
    h.sl.HUGAMA = 1.0;
    h.sl.HUPSIA = 0.0;
    h.sl.HUSWR = 0.2;
    h.sl.HUN = 2.0;
    h.sl.PORNOD(1) = 0.0;  // no porosity: the Huyakorn coefficients do not divide by it
    h.parm();
    h.PT(1) = -1.0;
    h.PO = h.PT;
    swkrw(h.dim, h.sl, h.PT);
    EXPECT_DOUBLE_EQ(h.sl.SW(1), 0.2 + 0.8 * 0.5);
    chnew(h.dim, h.sl, h.PT, h.PO);
    EXPECT_DOUBLE_EQ(h.sl.STCOEF(1), 0.6 * 1e-3);
    EXPECT_DOUBLE_EQ(h.sl.DSTCOEF(1), 1e-3 * 0.8 * 0.5);
    EXPECT_DOUBLE_EQ(h.sl.DCKRW(1), 0.5);

    // BC: SW = SEFRAC Se + BCRMC/phi.
    curveset b(4, 1);
    b.sl.BCBETA = 2.0;
    b.sl.BCPSAT = -0.5;
    b.sl.BCRMC = 0.09;
    b.parm();
    b.PT(1) = -1.0;
    swkrw(b.dim, b.sl, b.PT);
    EXPECT_DOUBLE_EQ(b.sl.SW(1), 0.8 * 0.25 + 0.2);
    chstor(b.dim, b.sl, b.PT);
    EXPECT_DOUBLE_EQ(b.sl.STCOEF(1), b.sl.SW(1) * 1e-3 + 0.45 * 0.8 * 0.5);
}

TEST(SoilCurves, ChordAndCentredSlopesOfKslopeOneTwoThree) {
    curveset a(0, 3);
    a.vg2().parm();
    a.sl.TOLKSL = 0.5;
    // Node 1 moved by exactly TOLKSL, node 2 by less, node 3 by more but outside the window.
    a.PT(1) = -1.0;
    a.PO(1) = -1.5;
    a.PT(2) = -1.0;
    a.PO(2) = -1.25;
    a.PT(3) = -3.0;
    a.PO(3) = -4.0;
    const double sef = 0.4 / 0.45, ss = 1e-3;
    auto stc = [&](double psi, double slope) {
        return (sef * vg_se(psi, 2, -1) + 0.05 / 0.45) * ss + 0.45 * sef * slope;
    };
    const double chord1 = (vg_se(-1.0, 2, -1) - vg_se(-1.5, 2, -1)) / 0.5;
    const double chord3 = (vg_se(-3.0, 2, -1) - vg_se(-4.0, 2, -1)) / 1.0;
    const double ana1 = std::sqrt(2.0) / 4.0;
    const double ana3 = vg_cap(-3.0, 2, -1);

    a.sl.KSLOPE = 1;
    chpic(a.dim, a.sl, a.PT, a.PO);
    EXPECT_NEAR(a.sl.STCOEF(1), stc(-1.0, chord1), 1e-15);  // |delta| == TOLKSL: chord
    EXPECT_NEAR(a.sl.STCOEF(2), stc(-1.0, ana1), 1e-15);
    EXPECT_NEAR(a.sl.STCOEF(3), stc(-3.0, chord3), 1e-15);
    // The chord conserves the stored water: the capacity part times the head change is the
    // change of phi*SW between the two heads.
    EXPECT_NEAR((a.sl.STCOEF(1) - (sef * vg_se(-1.0, 2, -1) + 0.05 / 0.45) * ss) * 0.5,
                0.45 * sef * (vg_se(-1.0, 2, -1) - vg_se(-1.5, 2, -1)), 1e-15);

    a.sl.KSLOPE = 2;
    chpic(a.dim, a.sl, a.PT, a.PO);
    EXPECT_NEAR(a.sl.STCOEF(1), stc(-1.0, chord1), 1e-15);
    EXPECT_NEAR(a.sl.STCOEF(2), stc(-1.0, (vg_se(-0.5, 2, -1) - vg_se(-1.5, 2, -1)) / 1.0), 1e-15);

    a.sl.KSLOPE = 3;
    a.sl.PSEL = -2.0;
    a.sl.PSER = -1.0;  // closed window: node 1 and 2 at its right end
    chpic(a.dim, a.sl, a.PT, a.PO);
    EXPECT_NEAR(a.sl.STCOEF(1), stc(-1.0, chord1), 1e-15);
    EXPECT_NEAR(a.sl.STCOEF(2), stc(-1.0, ana1), 1e-15);
    EXPECT_NEAR(a.sl.STCOEF(3), stc(-3.0, ana3), 1e-15);

    // Newton with KSLOPE 2: chords of Se, dSe, Kr; below TOLKSL the centred differences.
    a.sl.KSLOPE = 2;
    chnew(a.dim, a.sl, a.PT, a.PO);
    EXPECT_NEAR(a.sl.DCKRW(1), (vg_kr(-1.0, 2, -1) - vg_kr(-1.5, 2, -1)) / 0.5, 1e-13);
    EXPECT_NEAR(a.sl.DSTCOEF(1),
                ss * sef * chord1 + 0.45 * sef * (vg_cap(-1.0, 2, -1) - vg_cap(-1.5, 2, -1)) / 0.5, 1e-13);
    const double second = (vg_se(-0.5, 2, -1) - 2.0 * vg_se(-1.0, 2, -1) + vg_se(-1.5, 2, -1)) / 0.25;
    const double centred = (vg_se(-0.5, 2, -1) - vg_se(-1.5, 2, -1)) / 1.0;
    EXPECT_NEAR(a.sl.DSTCOEF(2), ss * sef * centred + 0.45 * sef * second, 1e-13);
    EXPECT_NEAR(a.sl.DCKRW(2), (vg_kr(-0.5, 2, -1) - vg_kr(-1.5, 2, -1)) / 1.0, 1e-13);

    // Newton with KSLOPE 3: each quantity has its own window.
    a.sl.KSLOPE = 3;
    a.sl.PDSE1L = -5.0;
    a.sl.PDSE1R = -4.0;
    a.sl.PDSE2L = -3.5;
    a.sl.PDSE2R = -2.5;
    a.sl.PKRL = -1.2;
    a.sl.PKRR = -0.8;
    chnew(a.dim, a.sl, a.PT, a.PO);
    // Node 3 (-3): Se slope analytic (outside [-2,-1]), dSe slope chord (range 2), Kr analytic.
    chpoint c3 = at(a.sl, 3, -3.0);
    EXPECT_NEAR(a.sl.DSTCOEF(3), ss * sef * ana3 + 0.45 * sef * (vg_cap(-3.0, 2, -1) - vg_cap(-4.0, 2, -1)), 1e-13);
    EXPECT_NEAR(a.sl.DCKRW(3), c3.dkr, 1e-15);
    // Node 1 (-1): Kr chord (inside [-1.2,-0.8]), dSe slope analytic.
    EXPECT_NEAR(a.sl.DCKRW(1), (vg_kr(-1.0, 2, -1) - vg_kr(-1.5, 2, -1)) / 0.5, 1e-13);
    EXPECT_NEAR(a.sl.DSTCOEF(1), ss * sef * chord1 + 0.45 * sef * std::pow(2.0, -2.5), 1e-13);
}

TEST(SoilCurves, ChordsThatDoNotExistGiveWayToTheAnalyticSlope) {
    // TOLKSL = 0 and a head that did not move: neither a chord nor a centred difference exists.
    curveset a(0, 1);
    a.vg2().parm();
    a.sl.TOLKSL = 0.0;
    a.PT(1) = -1.0;
    a.PO(1) = -1.0;
    for (int k : {1, 2, 3}) {
        a.sl.KSLOPE = k;
        a.sl.PSEL = -2.0;
        a.sl.PSER = 0.0;
        chnew(a.dim, a.sl, a.PT, a.PO);
        EXPECT_NEAR(a.sl.STCOEF(1), (0.4 / 0.45 * std::sqrt(0.5) + 0.05 / 0.45) * 1e-3 + 0.4 * std::sqrt(2.0) / 4.0,
                    1e-15) << k;
        EXPECT_NEAR(a.sl.DCKRW(1), 0.192190, 1e-6) << k;
    }
}

TEST(SoilCurves, WindowSlopesOfKslopeFour) {
    curveset a(0, 4);
    a.vg2();
    a.sl.KSLOPE = 4;
    a.sl.PSEL = -1.0;
    a.sl.PSER = -0.5;
    a.sl.PDSE1L = -0.75;  // inside the Se window: takes DSESLP
    a.sl.PDSE1R = -0.25;
    a.sl.PDSE2L = -0.8;   // overlaps range 1
    a.sl.PDSE2R = -0.3;
    a.sl.PKRL = -2.0;
    a.sl.PKRR = -1.0;
    a.ctl.IFLOW = 2;
    a.init();
    const double dseslp = (vg_se(-0.5, 2, -1) - vg_se(-1.0, 2, -1)) / 0.5;
    EXPECT_NEAR(a.sl.DSESLP(1), dseslp, 1e-15);
    EXPECT_NEAR(a.sl.DDSE1(1), (vg_cap(-0.25, 2, -1) - dseslp) / 0.5, 1e-14);
    EXPECT_NEAR(a.sl.DDSE2(1), (vg_cap(-0.3, 2, -1) - dseslp) / 0.5, 1e-14);
    EXPECT_NEAR(a.sl.DKRSLP, (vg_kr(-1.0, 2, -1) - vg_kr(-2.0, 2, -1)) / 1.0, 1e-14);

    // Node 1 at PSEL: window slope; node 2 just outside: analytic Se slope (but inside the Kr
    // window); node 3 in both dSe ranges takes range 1; node 4 in range 2 only.
    a.PT(1) = -1.0;
    a.PT(2) = -1.0000001;
    a.PT(3) = -0.5;
    a.PT(4) = -0.78;
    a.PO(1) = -7.0;
    a.PO(2) = -7.0;
    a.PO(3) = -7.0;
    a.PO(4) = -7.0;
    const double sef = 0.4 / 0.45, ss = 1e-3;
    auto sw = [&](double psi) { return sef * vg_se(psi, 2, -1) + 0.05 / 0.45; };
    chpic(a.dim, a.sl, a.PT, a.PO);
    EXPECT_NEAR(a.sl.STCOEF(1), sw(-1.0) * ss + 0.45 * sef * dseslp, 1e-15);
    EXPECT_NEAR(a.sl.STCOEF(2), sw(-1.0000001) * ss + 0.45 * sef * vg_cap(-1.0000001, 2, -1), 1e-15);
    chnew(a.dim, a.sl, a.PT, a.PO);
    EXPECT_NEAR(a.sl.STCOEF(1), sw(-1.0) * ss + 0.45 * sef * dseslp, 1e-15);
    EXPECT_EQ(a.sl.DCKRW(1), a.sl.DKRSLP);  // -1 is PKRR
    EXPECT_EQ(a.sl.DCKRW(2), a.sl.DKRSLP);
    EXPECT_NEAR(a.sl.DCKRW(3), at(a.sl, 3, -0.5).dkr, 1e-15);
    EXPECT_NEAR(a.sl.STCOEF(2), sw(-1.0000001) * ss + 0.45 * sef * vg_cap(-1.0000001, 2, -1), 1e-15);
    EXPECT_NEAR(a.sl.DSTCOEF(3), ss * sef * dseslp + 0.45 * sef * a.sl.DDSE1(1), 1e-15);
    EXPECT_NEAR(a.sl.DSTCOEF(4), ss * sef * dseslp + 0.45 * sef * a.sl.DDSE2(1), 1e-15);

    // chstor ignores KSLOPE.
    chstor(a.dim, a.sl, a.PT);
    EXPECT_NEAR(a.sl.STCOEF(1), sw(-1.0) * ss + 0.45 * sef * std::sqrt(2.0) / 4.0, 1e-15);

    // Picard forms only DSESLP.
    curveset p(0, 1);
    p.vg2();
    p.sl.KSLOPE = 4;
    p.sl.PSEL = -1.0;
    p.sl.PSER = -0.5;
    p.ctl.IFLOW = 1;
    p.init();
    EXPECT_NEAR(p.sl.DSESLP(1), dseslp, 1e-15);
    EXPECT_EQ(p.sl.DDSE1(1), 0.0);
    EXPECT_EQ(p.sl.DKRSLP, 0.0);
}

// A node whose head has not moved keeps STCOEF and CKRW without a new evaluation: whatever
// wrote them in between (the balance's storage, SW and CKRW, a chord slope), the Picard values
// at a head are those of a first evaluation there.
TEST(SoilCurves, PicardValuesAtAnUnmovedHeadAreThoseOfAFirstEvaluation) {
    auto fresh = [](double psi, double old, int kslope) {
        curveset f(0, 1);
        f.vg2().parm();
        f.sl.KSLOPE = kslope;
        f.PT(1) = psi;
        f.PO(1) = old;
        chpic(f.dim, f.sl, f.PT, f.PO);
        return std::pair<double, double>(f.sl.STCOEF(1), f.sl.CKRW(1));
    };
    curveset a(0, 2);
    a.vg2().parm();
    a.PT(1) = -0.7;
    a.PT(2) = -2.0;
    a.PO = a.PT;
    const auto p1 = fresh(-0.7, -0.7, 0), p2 = fresh(-2.0, -2.0, 0);
    auto expect_picard = [&](const char* after) {
        chpic(a.dim, a.sl, a.PT, a.PO);
        EXPECT_EQ(a.sl.STCOEF(1), p1.first) << after;
        EXPECT_EQ(a.sl.CKRW(1), p1.second) << after;
        EXPECT_EQ(a.sl.STCOEF(2), p2.first) << after;
        EXPECT_EQ(a.sl.CKRW(2), p2.second) << after;
    };
    expect_picard("first");
    arr1<double> q(2);
    q(1) = -3.0;  // node 1 elsewhere, node 2 at its head
    q(2) = -2.0;
    chstor(a.dim, a.sl, q);
    EXPECT_EQ(a.sl.STCOEF(1), fresh(-3.0, -3.0, 0).first);
    expect_picard("chstor");
    swkrw(a.dim, a.sl, q);
    EXPECT_EQ(a.sl.CKRW(1), fresh(-3.0, -3.0, 0).second);
    EXPECT_NEAR(a.sl.SW(2), 0.05 / 0.45 + 0.4 / 0.45 / std::sqrt(5.0), 1e-15);
    expect_picard("swkrw");
    a.sl.KSLOPE = 1;
    a.PO(1) = -1.7;
    chpic(a.dim, a.sl, a.PT, a.PO);
    EXPECT_EQ(a.sl.STCOEF(1), fresh(-0.7, -1.7, 1).first);
    EXPECT_NE(a.sl.STCOEF(1), p1.first);
    a.sl.KSLOPE = 0;
    expect_picard("chord");
    chnew(a.dim, a.sl, q, q);
    expect_picard("chnew");
}

TEST(SoilCurves, ExtendedVanGenuchtenWindowSlopesArePerNode) {
    curveset x(1, 2);
    x.sl.VGN = 1.8;
    x.sl.VGPSAT = -1.2;
    x.sl.VGRMC = 0.06;
    x.sl.PORNOD(1) = 0.4;
    x.sl.PORNOD(2) = 0.3;
    x.sl.SNODI(1) = 0.01;
    x.sl.SNODI(2) = 0.02;
    x.sl.KSLOPE = 4;
    x.sl.PSEL = -3.0;
    x.sl.PSER = -2.0;
    x.sl.PDSE1L = -2.5;
    x.sl.PDSE1R = -1.0;
    x.sl.PDSE2L = -6.0;
    x.sl.PDSE2R = -4.0;
    x.sl.PKRL = -3.0;
    x.sl.PKRR = -1.0;
    x.ctl.IFLOW = 2;
    x.init();
    for (long i = 1; i <= 2; ++i) {
        const double span = x.sl.PORNOD(i) - 0.06;
        const double th = span * (vg_se(-2.0, 1.8, -1.2) - vg_se(-3.0, 1.8, -1.2)) / 1.0;
        EXPECT_NEAR(x.sl.DSESLP(i), th, 1e-14) << i;
        // Range 1: left end inside the theta window, right end -1 on the curve (below PXVG).
        ASSERT_LT(-1.0, x.sl.PXVG(i));
        const double c_right = at(x.sl, i, -1.0).dse;
        EXPECT_NEAR(x.sl.DDSE1(i), (c_right - x.sl.DSESLP(i)) / 1.5, 1e-14) << i;
        EXPECT_NEAR(x.sl.DDSE2(i), (span * vg_cap(-4.0, 1.8, -1.2) - span * vg_cap(-6.0, 1.8, -1.2)) / 2.0,
                    1e-14) << i;
    }
    EXPECT_NE(x.sl.DSESLP(1), x.sl.DSESLP(2));
    EXPECT_NEAR(x.sl.DKRSLP, (vg_kr(-1.0, 1.8, -1.2) - vg_kr(-3.0, 1.8, -1.2)) / 2.0, 1e-14);
    x.PT(1) = -2.5;
    x.PT(2) = -2.5;
    x.PO = x.PT;
    chnew(x.dim, x.sl, x.PT, x.PO);
    EXPECT_EQ(x.sl.STCOEF(1), x.sl.DSESLP(1));
    EXPECT_EQ(x.sl.STCOEF(2), x.sl.DSESLP(2));
    EXPECT_EQ(x.sl.DSTCOEF(2), x.sl.DDSE1(2));
}

TEST(SoilCurves, InitialisationStops) {
    {
        curveset a(0, 1);
        a.vg2();
        a.sl.KSLOPE = 6;
        const std::string msg = stop_of([&] { a.init(); });
        EXPECT_EQ(a.io.OUT[6].str(), "\n\n INPUT ERROR : BAD VALUE KSLOPE     6\n");
        EXPECT_EQ(msg, "parameter file 'parm': KSLOPE = 6, the derivative option must be 0 to 5");
    }
    {
        curveset a(0, 1);
        a.vg2();
        a.sl.KSLOPE = 4;
        a.sl.PSEL = -1.0;
        a.sl.PSER = -1.0;
        const std::string msg = stop_of([&] { a.init(); });
        EXPECT_EQ(a.io.OUT[6].str(), "\n\n INPUT ERROR : ZERO WIDTH WINDOW PSEL = PSER =    -1.00000E+00\n");
        EXPECT_NE(msg.find("parameter file 'parm': PSEL = PSER = -1"), std::string::npos) << msg;
    }
    {
        // Picard does not use the dSe and Kr windows.
        curveset a(0, 1);
        a.vg2();
        a.sl.KSLOPE = 4;
        a.sl.PSEL = -1.0;
        a.sl.PSER = -0.5;
        EXPECT_EQ(stop_of([&] { a.init(); }), "");
        a.ctl.IFLOW = 2;
        EXPECT_NE(stop_of([&] { a.init(); }), "");
    }
    {
        curveset a(4, 2);
        a.sl.BCBETA = 2.0;
        a.sl.BCPSAT = -0.5;
        a.sl.PORNOD(2) = 0.0;
        const std::string msg = stop_of([&] { a.parm(); });
        const std::string lines =
            "\n"
            "  ****** ERROR IN POROSITY INPUT: NODE     2;   PORNOD  =    0.00000E+00\n"
            "  ****** POROSITY MUST BE POSITIVE\n"
            "  ****** PROGRAM ABORTING\n";
        EXPECT_EQ(a.io.OUT[6].str(), lines);
        EXPECT_EQ(a.io.STDOUT.str(), lines);
        EXPECT_NE(msg.find("node 2"), std::string::npos) << msg;
    }
}
