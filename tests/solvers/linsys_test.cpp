// The linear system between the physics and the solvers: prescribed rows declared to it, each
// family of solvers imposing them its own way. Sources of truth: the solutions of the free rows
// solved by hand with the prescribed values in place, and the assembled values, which a solve
// leaves as they were to the bit.
#include <gtest/gtest.h>

#include <cmath>

#include "solvers/specified/direct.h"
#include "solvers/linsys.h"

using namespace nep;

namespace {

// The work every specified solver may take, for a system of 3 unknowns.
struct work {
    arr1<double> w1{64}, w2{64}, rnsym{(std::size_t)nonsym_work_length(64, 3)};
    int ibotmn = 64;
    nonsym_state st;
    void attach(linear_system& s) {
        s.work1 = &w1;
        s.work2 = &w2;
        s.LIMNS1 = 64;
        s.IBOTMN = &ibotmn;
        s.RNSYM = &rnsym;
        s.NSST = &st;
        s.tiny = 1.7e-38;
        s.penalty = 1.7e38 * 1.0e-9;
        s.rows.alloc(2);
        s.values.alloc(2);
        s.solver = choose_solver(s);
    }
};

}  // namespace

TEST(LinearSystem, SpecifiedSolversTakeThePrescribedRowsWithAPenalty) {
    // Full storage, the diagonal in the middle of row 2; row 2 prescribed to 0.7 (a transport
    // Dirichlet row) with off-diagonals of 1e6 against neighbours of order 1.
    arr1<int> IA(4), JA(9), IROW(9);
    const double a0[9] = {4, -1, 0, 1e6, 5, -1e6, 0, -1, 3};
    for (int i = 1; i <= 4; ++i) IA(i) = 3 * i - 2;
    for (int j = 1; j <= 9; ++j) JA(j) = (j - 1) % 3 + 1, IROW(j) = (j - 1) / 3 + 1;
    for (int selector : {0, 1, 3}) {  // BiCGSTAB, GRAMRB, the direct solver
        arr1<double> A(9), b(3), x(3);
        for (int j = 1; j <= 9; ++j) A(j) = a0[j - 1];
        b(1) = 1.0, b(2) = 2.0, b(3) = 3.0;
        linear_system s;
        s.selector = selector;
        s.N = 3, s.NTERM = 9;
        s.IA = &IA, s.JA = &JA, s.IROW = &IROW, s.A = &A, s.b = &b;
        s.ITMAX = 50, s.TOL = 1e-14;
        work w;
        w.attach(s);
        s.clear_prescribed();
        s.prescribe(2, 0.7);
        EXPECT_DOUBLE_EQ(b(2), 0.7 * 1.7e29);  // the penalty's right-hand side
        ounit lst, out;
        lst.open_memory();
        out.open_memory();
        int niter = -1, ier = -1;
        s.solve(lst, out, x, niter, ier);
        EXPECT_EQ(ier, 0);
        // The free rows with x2 = 0.7: 4 x1 - 0.7 = 1 and -0.7 + 3 x3 = 3.
        EXPECT_NEAR(x(1), 1.7 / 4.0, 1e-13) << selector;
        EXPECT_NEAR(x(3), 3.7 / 3.0, 1e-13) << selector;
        // The penalty row gives 0.7 to rounding: the neighbours shift it by about 1e6 / 1.7e29.
        EXPECT_NEAR(x(2), 0.7, 2e-16) << selector;
        for (int j = 1; j <= 9; ++j) EXPECT_EQ(A(j), a0[j - 1]) << selector << " " << j;
    }
}

TEST(LinearSystem, SymmetricSolverRestoresTheDiagonalsOfRowsDeclaredTwice) {
    // Symmetric upper storage of [[4,-1,0],[-1,5,-2],[0,-2,3]], diagonal first; row 2 prescribed
    // (a flow increment of 0), declared twice as a node may be in two lists.
    arr1<int> IA(4), JA(5);
    const int ia[4] = {1, 3, 5, 6}, ja[5] = {1, 2, 2, 3, 3};
    const double a0[5] = {4, -1, 5, -2, 3};
    for (int i = 1; i <= 4; ++i) IA(i) = ia[i - 1];
    for (int k = 1; k <= 5; ++k) JA(k) = ja[k - 1];
    arr1<double> A(5), b(3), x(3);
    for (int k = 1; k <= 5; ++k) A(k) = a0[k - 1];
    b(1) = 1.0, b(2) = 9.0, b(3) = 3.0;
    linear_system s;
    s.symmetric = true;
    s.N = 3, s.NTERM = 5;
    s.IA = &IA, s.JA = &JA, s.A = &A, s.b = &b;
    s.ITMAX = 50, s.TOL = 1e-14;
    work w;
    w.attach(s);
    s.clear_prescribed();
    s.prescribe(2, 0.0);
    s.prescribe(2, 0.0);
    EXPECT_EQ(b(2), 0.0);
    ounit lst, out;
    lst.open_memory();
    out.open_memory();
    int niter = -1, ier = -1;
    s.solve(lst, out, x, niter, ier);
    // x2 = 0: 4 x1 = 1, 3 x3 = 3.
    EXPECT_NEAR(x(1), 0.25, 1e-14);
    EXPECT_NEAR(x(3), 1.0, 1e-14);
    EXPECT_LT(std::fabs(x(2)), 1e-28);
    for (int k = 1; k <= 5; ++k) EXPECT_EQ(A(k), a0[k - 1]) << k;
    EXPECT_GE(niter, 1);
}
