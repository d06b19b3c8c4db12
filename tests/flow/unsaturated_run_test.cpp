// Steady infiltration through an unsaturated column over a water table, against the quadrature
// of Darcy's law: with a downward flux q, dpsi/dz = q/K(psi) - 1, so the elevation of a head psi
// above the water table is z(psi) = integral from 0 to psi of dpsi' / (q/K(psi') - 1). The
// conductivity here is an independent statement of van Genuchten-Mualem (n = 2, psi_s = -0.5,
// Ks = 0.05); the run lasts long enough (300 h at 0.01 m/h) for the column to reach steady state.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "e2e.h"

using e2e::deck;

namespace {

const double kN = 2.0, kM = 0.5, kPsiS = -0.5, kKs = 0.05, kQ = 0.01;

double conductivity(double psi) {
    if (psi >= 0.0) return kKs;
    const double se = std::pow(1.0 + std::pow(psi / kPsiS, kN), -kM);
    const double f = 1.0 - std::pow(1.0 - std::pow(se, 1.0 / kM), kM);
    return kKs * std::sqrt(se) * f * f;
}

// z(psi) by Simpson's rule.
double elevation(double psi) {
    const int steps = 400;
    const double h = psi / steps;
    auto f = [](double p) { return 1.0 / (kQ / conductivity(p) - 1.0); };
    double s = 0.0;
    for (int i = 0; i < steps; ++i) {
        const double a = i * h, b = a + h;
        s += h / 6.0 * (f(a) + 4.0 * f(0.5 * (a + b)) + f(b));
    }
    return s;
}

// The head at elevation z: bisection between the head where K = q (infinitely high) and 0.
double head_at(double z) {
    double lo = -10.0, hi = 0.0;
    for (int i = 0; i < 200; ++i) {
        const double mid = 0.5 * (lo + hi);
        (conductivity(mid) > kQ ? hi : lo) = mid;
    }
    lo = hi * (1.0 - 1e-12);
    hi = 0.0;
    for (int i = 0; i < 60; ++i) {
        const double mid = 0.5 * (lo + hi);
        (elevation(mid) > z ? lo : hi) = mid;
    }
    return 0.5 * (lo + hi);
}

}  // namespace

TEST(UnsaturatedRun, SteadyInfiltrationProfileMatchesQuadrature) {
    deck d("infiltration");
    auto r = d.run();
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream in(d.read("root-ntupla.dat"));
    double x, y, z, h, p;
    int n = 0;
    while (in >> x >> y >> z >> h >> p) {
        if (x != 0.0 || y != 0.0) continue;
        // 5 cm elements with element-mean conductivity: first-order agreement, about 3e-3.
        EXPECT_NEAR(p, z > 1e-9 ? head_at(z) : 0.0, 5e-3) << "z = " << z;
        ++n;
    }
    EXPECT_EQ(n, 41);
    // At steady state the water table takes the rain: the bottom outflow equals the 0.01 m/h.
    const auto lines = e2e::lines_of(d.read("hgnatm.out"));
    std::istringstream last(lines.back());
    int step;
    double dt, t, dir, neu;
    ASSERT_TRUE(last >> step >> dt >> t >> dir >> neu);
    EXPECT_NEAR(dir, -0.01, 1e-6);
}
