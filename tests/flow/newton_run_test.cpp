// Newton runs with every linear solver: the same heads as the Picard run within the nonlinear
// tolerance, and fewer nonlinear iterations on a strongly nonlinear infiltration.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "e2e.h"

using e2e::deck;

namespace {

std::vector<double> final_heads(const deck& d) {
    std::vector<double> v;
    std::istringstream in(d.read("root-ntupla.dat"));
    double x, y, z, h, p;
    while (in >> x >> y >> z >> h >> p) v.push_back(p);
    return v;
}

int nonlinear_total(const deck& d) {
    const std::string lst = d.read("out.lst");
    const size_t k = lst.find("TOT # OF NONLIN ITER FOR FLOW EQ        =");
    return k == std::string::npos ? -1 : std::atoi(lst.c_str() + k + 42);
}

// The infiltration column with the given scheme, iteration limits and time control, and no
// detailed or partial output.
void infiltration(deck& d, int iflow, const char* iterations, const char* times,
                  const char* factors = nullptr) {
    d.set_line("parm", 2, std::to_string(iflow) + " 0 F");
    d.set_line("parm", 8, iterations);
    d.set_line("parm", 14, times);
    if (factors != nullptr) d.set_line("parm", 15, factors);
    d.set_line("parm", 16, "0 0 0");
    d.set_line("parm", 17, "0");
    d.set_line("parm", 18, "0");
    d.set_line("parm", 19, "");
}

}  // namespace

TEST(NewtonRun, EverySolverReachesTheLinearFieldOfTheBox) {
    for (int isolv : {-5, -3, -1, 0, 1, 2, 3}) {
        deck d("box");
        d.set_line("parm", 2, "2 0 F");
        d.set_line("parm", 11, std::to_string(isolv) + " 0 1.0");
        auto r = d.run();
        ASSERT_EQ(r.status, 0) << isolv << r.err;
        std::istringstream in(d.read("root-ntupla.dat"));
        double x, y, z, h, p;
        int n = 0;
        while (in >> x >> y >> z >> h >> p) {
            EXPECT_NEAR(p + z, 10.0 - 0.5 * x, 2e-6) << isolv;
            ++n;
        }
        EXPECT_EQ(n, 45);
        const std::string lst = d.read("out.lst");
        EXPECT_NE(lst.find(isolv == 3 ? "MINIMUM IBOT VALUE FOR NONITER SOLVER" : "<<NONSYMMETRIC SOLVER>>"),
                  std::string::npos)
            << isolv;
    }
}

TEST(NewtonRun, AgreesWithPicardOnTheSameSteps) {
    // Rain twice the saturated conductivity on a column over a water table: a sharp wetting front,
    // fixed steps of 0.005 (no growth, no reduction, iterations enough for both schemes).
    deck pic("column"), nwt("column");
    infiltration(pic, 1, "60 0 61 1.0e-7", "0.0 0.005 1.0e-5 0.005 0.2", "0.0 1.0 0.0 1.0");
    infiltration(nwt, 2, "60 0 61 1.0e-7", "0.0 0.005 1.0e-5 0.005 0.2", "0.0 1.0 0.0 1.0");
    ASSERT_EQ(pic.run().status, 0);
    ASSERT_EQ(nwt.run().status, 0);
    const auto a = final_heads(pic), b = final_heads(nwt);
    ASSERT_EQ(a.size(), b.size());
    ASSERT_FALSE(a.empty());
    // Both solve the same discrete equations to 1e-7 per iteration.
    for (size_t i = 0; i < a.size(); ++i) EXPECT_NEAR(a[i], b[i], 1e-5) << i;
}

TEST(NewtonRun, ConvergesWherePicardBacksteps) {
    // The same infiltration with steps of 0.01 and 30 iterations: Picard has to back-step, Newton
    // does not, and Newton's run takes fewer nonlinear iterations.
    deck pic("column"), nwt("column");
    infiltration(pic, 1, "30 5 25 1.0e-7", "0.0 0.01 1.0e-5 0.01 0.3");
    infiltration(nwt, 2, "30 5 25 1.0e-7", "0.0 0.01 1.0e-5 0.01 0.3");
    ASSERT_EQ(pic.run().status, 0);
    ASSERT_EQ(nwt.run().status, 0);
    EXPECT_NE(pic.read("out.lst").find(">>> FLOW EQ. BACK-STEPPING..."), std::string::npos);
    EXPECT_EQ(nwt.read("out.lst").find(">>> FLOW EQ. BACK-STEPPING..."), std::string::npos);
    EXPECT_LT(nonlinear_total(nwt), nonlinear_total(pic));
}
