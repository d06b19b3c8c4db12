// The symmetric solver: incomplete Cholesky factor, preconditioned conjugate gradients, the
// pivot patch, the norms that leave the prescribed rows out, the trace line and the stops.
// Expected lines come from gfortran (tools/fortran-format); solutions from dense elimination.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "driver/format.h"
#include "driver/stop.h"
#include "solvers/symmetric.h"

using namespace nep;

namespace {

// A dense matrix, row-major, 1-based access.
struct dense {
    int n;
    std::vector<double> a;
    explicit dense(int n_) : n(n_), a((size_t)n_ * n_, 0.0) {}
    double& operator()(int i, int j) { return a[(size_t)(i - 1) * n + (j - 1)]; }
    double operator()(int i, int j) const { return a[(size_t)(i - 1) * n + (j - 1)]; }
};

// Gaussian elimination with partial pivoting: the reference solution.
std::vector<double> dense_solve(dense m, std::vector<double> b) {
    const int n = m.n;
    for (int k = 1; k <= n; ++k) {
        int piv = k;
        for (int i = k + 1; i <= n; ++i)
            if (std::fabs(m(i, k)) > std::fabs(m(piv, k))) piv = i;
        if (piv != k) {
            for (int j = 1; j <= n; ++j) std::swap(m(k, j), m(piv, j));
            std::swap(b[k - 1], b[piv - 1]);
        }
        for (int i = k + 1; i <= n; ++i) {
            const double f = m(i, k) / m(k, k);
            for (int j = k; j <= n; ++j) m(i, j) -= f * m(k, j);
            b[i - 1] -= f * b[k - 1];
        }
    }
    std::vector<double> x(n);
    for (int i = n; i >= 1; --i) {
        double s = b[i - 1];
        for (int j = i + 1; j <= n; ++j) s -= m(i, j) * x[j - 1];
        x[i - 1] = s / m(i, i);
    }
    return x;
}

// A system in symmetric upper storage, with its dense twin.
struct symsys {
    int N = 0, NTERM = 0;
    arr1<int> IA, JA;
    arr1<double> A;
    dense full{1};

    // Builds the storage of the upper triangle of `m` on the pattern `rows` (column sets,
    // diagonal included).
    void build(const dense& m, const std::vector<std::set<int>>& rows) {
        N = m.n;
        full = m;
        NTERM = 0;
        for (int i = 1; i <= N; ++i)
            for (int j : rows[i]) NTERM += j >= i ? 1 : 0;
        IA.alloc(N + 1);
        JA.alloc(NTERM);
        A.alloc(NTERM);
        int k = 1;
        for (int i = 1; i <= N; ++i) {
            IA(i) = k;
            for (int j : rows[i]) {  // ascending; the diagonal is the smallest column >= i
                if (j < i) continue;
                JA(k) = j;
                A(k) = m(i, j);
                ++k;
            }
        }
        IA(N + 1) = k;
    }
};

// The P1 (linear tetrahedra) matrix K + c M of the unit-spaced grid nx*ny*nz, each cube cut
// into the six tetrahedra that share its main diagonal (K the stiffness, M the consistent mass:
// a flow matrix of a Picard step), plus `shift` on the diagonal; the pattern holds every pair of
// nodes that share a tetrahedron. On this grid K alone is the 7-point stencil (its diagonal
// couplings are 0); the mass term gives every stored coupling a value.
symsys tet_laplacian(int nx, int ny, int nz, double shift, double cmass = 0.5) {
    const int N = nx * ny * nz;
    auto id = [&](int i, int j, int k) { return 1 + i + nx * (j + ny * k); };
    dense m(N);
    std::vector<std::set<int>> rows(N + 1);
    const int perms[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    for (int k = 0; k + 1 < nz; ++k)
        for (int j = 0; j + 1 < ny; ++j)
            for (int i = 0; i + 1 < nx; ++i)
                for (const auto& p : perms) {
                    int c[3] = {i, j, k};
                    int v[4];
                    double x[4][3];
                    v[0] = id(c[0], c[1], c[2]);
                    for (int d = 0; d < 3; ++d) x[0][d] = c[d];
                    for (int s = 0; s < 3; ++s) {
                        c[p[s]] += 1;
                        v[s + 1] = id(c[0], c[1], c[2]);
                        for (int d = 0; d < 3; ++d) x[s + 1][d] = c[d];
                    }
                    // J rows = x_s - x_0; gradients of the barycentric functions 1..3 are the
                    // columns of J^-1, that of function 0 minus their sum.
                    double J[3][3], inv[3][3];
                    for (int s = 0; s < 3; ++s)
                        for (int d = 0; d < 3; ++d) J[s][d] = x[s + 1][d] - x[0][d];
                    const double det = J[0][0] * (J[1][1] * J[2][2] - J[1][2] * J[2][1]) -
                                       J[0][1] * (J[1][0] * J[2][2] - J[1][2] * J[2][0]) +
                                       J[0][2] * (J[1][0] * J[2][1] - J[1][1] * J[2][0]);
                    for (int r = 0; r < 3; ++r)
                        for (int s = 0; s < 3; ++s) {
                            const int r1 = (s + 1) % 3, r2 = (s + 2) % 3;
                            const int c1 = (r + 1) % 3, c2 = (r + 2) % 3;
                            inv[r][s] = (J[r1][c1] * J[r2][c2] - J[r1][c2] * J[r2][c1]) / det;
                        }
                    double g[4][3];
                    for (int d = 0; d < 3; ++d) {
                        g[0][d] = 0.0;
                        for (int s = 1; s <= 3; ++s) {
                            g[s][d] = inv[d][s - 1];
                            g[0][d] -= g[s][d];
                        }
                    }
                    const double vol = std::fabs(det) / 6.0;
                    for (int a = 0; a < 4; ++a)
                        for (int b = 0; b < 4; ++b) {
                            m(v[a], v[b]) += vol * (g[a][0] * g[b][0] + g[a][1] * g[b][1] + g[a][2] * g[b][2]) +
                                             cmass * vol / 20.0 * (a == b ? 2.0 : 1.0);
                            rows[v[a]].insert(v[b]);
                        }
                }
    for (int i = 1; i <= N; ++i) m(i, i) += shift;
    symsys s;
    s.build(m, rows);
    return s;
}

std::vector<double> dense_mul(const dense& m, const std::vector<double>& x) {
    std::vector<double> y(m.n, 0.0);
    for (int i = 1; i <= m.n; ++i)
        for (int j = 1; j <= m.n; ++j) y[i - 1] += m(i, j) * x[j - 1];
    return y;
}

arr1<double> to_arr(const std::vector<double>& v) {
    arr1<double> a(v.size());
    for (size_t i = 0; i < v.size(); ++i) a(i + 1) = v[i];
    return a;
}

std::vector<std::string> lines_of(const std::string& s) {
    std::vector<std::string> v;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
}

// One call of the solver with memory units for the listing and standard output.
struct run {
    ounit lst, out;
    int NITER = -1;
    bool stopped = false;
    int status = -1;
    arr1<double> x, U, work;

    run() { lst.open_memory(); out.open_memory(); }

    void solve(const symsys& s, const arr1<double>& b, const std::vector<int>& dir, int itmax,
               double tol, dialect d = dialect::MAIN) {
        arr1<int> nodes(dir.size());
        for (size_t k = 0; k < dir.size(); ++k) nodes(k + 1) = dir[k];
        x.alloc(s.N, 123.0);  // overwritten by the initial guess
        U.alloc(s.NTERM, -7.0);
        work.alloc(10L * s.N, 99.0);
        try {
            SYMSLV(lst, out, s.N, s.NTERM, (int)dir.size(), NITER, itmax, tol, 1.7e-38, nodes,
                   s.JA, s.IA, x, b, s.A, U, work, d);
        } catch (const run_stop& e) {
            stopped = true;
            status = e.status;
        }
    }

    // The three numbers of the trace line.
    void trace(int& niter, double& err, double& res) const {
        const auto ls = lines_of(lst.str());
        const std::string& t = ls.back();
        EXPECT_NE(t.find("  <<SYMMETRIC SOLVER>>"), std::string::npos) << t;
        niter = std::atoi(t.substr(1, 4).c_str());
        err = std::strtod(t.substr(5, 15).c_str(), nullptr);
        res = std::strtod(t.substr(20, 15).c_str(), nullptr);
    }
};

// The relative residual over the free nodes, computed densely from a solution.
double free_residual(const symsys& s, const arr1<double>& b, const arr1<double>& x,
                     const std::vector<int>& dir, bool rms) {
    std::vector<double> xv(x.begin(), x.end());
    const auto ax = dense_mul(s.full, xv);
    std::set<int> d(dir.begin(), dir.end());
    double rr = 0.0, bb = 0.0;
    for (int i = 1; i <= s.N; ++i) {
        if (d.count(i)) continue;
        rr += (b(i) - ax[i - 1]) * (b(i) - ax[i - 1]);
        bb += b(i) * b(i);
    }
    return rms ? std::sqrt(rr / s.N) : std::sqrt(rr / bb);
}

// A diagonal system whose solution is exact in binary: squares on the diagonal, so the factor,
// the initial guess and its residual (0) involve no rounding.
symsys exact_diagonal() {
    dense m(3);
    m(1, 1) = 4.0;
    m(2, 2) = 9.0;
    m(3, 3) = 16.0;
    symsys s;
    s.build(m, {{}, {1}, {2}, {3}});
    return s;
}

}  // namespace

TEST(SymmetricKernels, ProductServesBothTriangles) {
    const symsys s = tet_laplacian(3, 3, 2, 0.25);
    std::vector<double> v(s.N);
    for (int i = 0; i < s.N; ++i) v[i] = std::sin(1.0 + i);
    std::vector<double> y(s.N, 5.0);
    symmul(s.N, s.JA, s.IA, s.A, v.data(), y.data());
    const auto ref = dense_mul(s.full, v);
    for (int i = 0; i < s.N; ++i) EXPECT_NEAR(y[i], ref[i], 1e-13) << i + 1;
}

TEST(SymmetricKernels, IncompleteFactorMatchesMatrixOnItsPattern) {
    // The tetrahedral pattern has couplings between the columns of a row (two neighbours of a
    // node that are neighbours themselves), so the merge that updates later rows is exercised.
    const symsys s = tet_laplacian(4, 3, 3, 0.1);
    ounit lst;
    lst.open_memory();
    arr1<double> U(s.NTERM, 3.0);
    symfac(lst, s.N, s.NTERM, s.JA, s.IA, s.A, U);
    EXPECT_EQ(lst.str(), "");  // an M-matrix: no pivot trouble
    dense u(s.N);
    for (int i = 1; i <= s.N; ++i)
        for (int k = s.IA(i); k < s.IA(i + 1); ++k) u(i, s.JA(k)) = U(k);
    // Without fill-in, (U'U)(i,j) equals A(i,j) at every stored position.
    int couplings = 0;
    for (int i = 1; i <= s.N; ++i)
        for (int k = s.IA(i); k < s.IA(i + 1); ++k) {
            const int j = s.JA(k);
            double p = 0.0;
            for (int m = 1; m <= std::min(i, j); ++m) p += u(m, i) * u(m, j);
            EXPECT_NEAR(p, s.A(k), 1e-12) << i << "," << j;
            for (int m = 1; m < i; ++m) couplings += (u(m, i) != 0.0 && u(m, j) != 0.0 && j > i) ? 1 : 0;
        }
    EXPECT_GT(couplings, 0);
    // And the preconditioner solves with U'U.
    std::vector<double> r(s.N), z(s.N);
    for (int i = 0; i < s.N; ++i) r[i] = std::cos(0.3 * i);
    symprc(s.N, s.JA, s.IA, U, r.data(), z.data());
    for (int i = 1; i <= s.N; ++i) {
        double v = 0.0;
        for (int m = 1; m <= s.N; ++m) {
            double uz = 0.0;
            for (int j = 1; j <= s.N; ++j) uz += u(m, j) * z[j - 1];
            v += u(m, i) * uz;
        }
        EXPECT_NEAR(v, r[i - 1], 1e-12) << i;
    }
}

TEST(SymmetricKernels, DroppedFillIsHandComputed) {
    // A = [4 2 2; 2 5 0; 2 0 5] with (2,3) absent: U = [2 1 1; . 2 (dropped); . . 2].
    dense m(3);
    m(1, 1) = 4; m(1, 2) = 2; m(1, 3) = 2; m(2, 1) = 2; m(3, 1) = 2; m(2, 2) = 5; m(3, 3) = 5;
    symsys s;
    s.build(m, {{}, {1, 2, 3}, {2}, {3}});
    ounit lst;
    lst.open_memory();
    arr1<double> U(s.NTERM, 0.0);
    symfac(lst, s.N, s.NTERM, s.JA, s.IA, s.A, U);
    ASSERT_EQ(s.NTERM, 5);
    EXPECT_EQ(U(1), 2.0);
    EXPECT_EQ(U(2), 1.0);
    EXPECT_EQ(U(3), 1.0);
    EXPECT_EQ(U(4), 2.0);
    EXPECT_EQ(U(5), 2.0);
}

TEST(SymmetricSolve, TetrahedralLaplacianReachesKnownSolution) {
    const symsys s = tet_laplacian(4, 4, 3, 0.05);
    std::vector<double> xt(s.N);
    for (int i = 0; i < s.N; ++i) xt[i] = 1.0 + 0.5 * std::sin(0.7 * i) - 0.01 * i;
    const arr1<double> b = to_arr(dense_mul(s.full, xt));
    run r;
    r.solve(s, b, {}, 200, 1e-12);
    ASSERT_FALSE(r.stopped) << r.out.str();
    for (int i = 1; i <= s.N; ++i) EXPECT_NEAR(r.x(i), xt[i - 1], 1e-9) << i;
    int niter;
    double err, res;
    r.trace(niter, err, res);
    EXPECT_EQ(niter, r.NITER);
    EXPECT_GT(r.NITER, 1);
    EXPECT_LT(r.NITER, s.N);  // preconditioned CG finishes well within N steps
    EXPECT_LE(err, 1e-12);
    EXPECT_LT(res, 1e-10);
    EXPECT_EQ(r.out.str(), "");
    // One listing line per call: the trace.
    EXPECT_EQ(lines_of(r.lst.str()).size(), 1u);
}

TEST(SymmetricSolve, LooseToleranceResidualIsTheFreeNodeMeasure) {
    // Prescribed rows carry the penalty diagonal 1.7e29 with a zero right-hand side (increment
    // form). A loose tolerance leaves a residual well above rounding, which the trace reports
    // relative to the free part of b; counting the penalty rows would change it by orders.
    symsys s = tet_laplacian(4, 4, 3, 0.05);
    const std::vector<int> dir = {1, 2, 5, 17, 48};
    for (int n : dir) {
        s.A(s.IA(n)) = 1.7e29;
        s.full(n, n) = 1.7e29;
    }
    arr1<double> b(s.N);
    for (int i = 1; i <= s.N; ++i) b(i) = std::cos(0.9 * i);
    for (int n : dir) b(n) = 0.0;
    run r;
    r.solve(s, b, dir, 500, 1e-3);
    ASSERT_FALSE(r.stopped) << r.out.str();
    int niter;
    double err, res;
    r.trace(niter, err, res);
    EXPECT_LE(err, 1e-3);
    const double ref = free_residual(s, b, r.x, dir, false);
    EXPECT_GT(ref, 1e-9);
    EXPECT_NEAR(res, ref, 1e-6 * ref + 1e-20);

    // The tight solve against the reduced system solved densely (prescribed increments 0).
    run t;
    t.solve(s, b, dir, 500, 1e-13);
    ASSERT_FALSE(t.stopped) << t.out.str();
    dense red = s.full;
    std::vector<double> rb(b.begin(), b.end());
    for (int n : dir) {
        for (int j = 1; j <= s.N; ++j) red(n, j) = red(j, n) = 0.0;
        red(n, n) = 1.0;
        rb[n - 1] = 0.0;
    }
    const auto xr = dense_solve(red, rb);
    for (int i = 1; i <= s.N; ++i) EXPECT_NEAR(t.x(i), xr[i - 1], 1e-9) << i;
    for (int n : dir) EXPECT_LT(std::fabs(t.x(n)), 1e-25) << n;
}

TEST(SymmetricSolve, ZeroFreeRightHandSideUsesRootMeanSquare) {
    // b = 0 apart from the prescribed rows: the free part of b has no size, so both measures are
    // root-mean-square residuals over N. The prescribed values g are imposed by the penalty.
    symsys s = tet_laplacian(3, 3, 3, 0.0);
    const std::vector<int> dir = {1, 27};
    const double P = 1.7e29;
    arr1<double> b(s.N, 0.0);
    for (int n : dir) {
        s.A(s.IA(n)) = P;
        s.full(n, n) = P;
    }
    b(1) = P * 2.0;
    b(27) = P * -1.0;
    run r;
    r.solve(s, b, dir, 300, 1e-9);
    ASSERT_FALSE(r.stopped) << r.out.str();
    int niter;
    double err, res;
    r.trace(niter, err, res);
    EXPECT_TRUE(std::isfinite(err));
    EXPECT_LE(err, 1e-9);
    const double ref = free_residual(s, b, r.x, dir, true);
    EXPECT_NEAR(res, ref, 1e-6 * ref + 1e-300);
    // The reference: the Laplace problem with the two values imposed (it is exact for the
    // penalty system up to relative 1e-29).
    dense red = s.full;
    std::vector<double> rb(s.N, 0.0);
    for (int n : dir) {
        for (int j = 1; j <= s.N; ++j) {
            if (j == n) continue;
            const double g = n == 1 ? 2.0 : -1.0;
            rb[j - 1] -= red(j, n) * g;
            red(n, j) = red(j, n) = 0.0;
        }
        red(n, n) = 1.0;
    }
    rb[0] = 2.0;
    rb[26] = -1.0;
    const auto xr = dense_solve(red, rb);
    for (int i = 1; i <= s.N; ++i) EXPECT_NEAR(r.x(i), xr[i - 1], 1e-6) << i;
}

TEST(SymmetricSolve, ExactInitialGuessLeavesWithoutDividingZeroByZero) {
    const symsys s = exact_diagonal();
    const arr1<double> b = to_arr({8.0, -27.0, 4.0});
    run r;
    r.solve(s, b, {}, 1, 0.0);  // even a zero tolerance is met
    ASSERT_FALSE(r.stopped) << r.out.str();
    EXPECT_EQ(r.NITER, 1);
    EXPECT_EQ(r.x(1), 2.0);
    EXPECT_EQ(r.x(2), -3.0);
    EXPECT_EQ(r.x(3), 0.25);
    // gfortran: "(1X,I4,2(1PE15.6),'  <<SYMMETRIC SOLVER>>')" with 1, 0.0, 0.0
    EXPECT_EQ(r.lst.str(), "    1   0.000000E+00   0.000000E+00  <<SYMMETRIC SOLVER>>\n");
}

TEST(SymmetricSolve, NegativeSecondPivotIsReportedAndPatched) {
    // A = [1 2; 2 1] ⊕ [4]: the second pivot is 1 - 2*2 = -3; it takes the first pivot's value.
    dense m(3);
    m(1, 1) = 1; m(1, 2) = 2; m(2, 1) = 2; m(2, 2) = 1; m(3, 3) = 4;
    symsys s;
    s.build(m, {{}, {1, 2}, {1, 2}, {3}});
    ounit lst;
    lst.open_memory();
    arr1<double> U(s.NTERM, 0.0);
    symfac(lst, s.N, s.NTERM, s.JA, s.IA, s.A, U);
    EXPECT_EQ(U(1), 1.0);
    EXPECT_EQ(U(2), 2.0);
    EXPECT_EQ(U(3), 1.0);  // the patched pivot
    EXPECT_EQ(U(4), 2.0);
    // gfortran renderings of the two message formats with 2, -3.0 and 1.0.
    EXPECT_EQ(lst.str(),
              " ELEMENTO DIAGONALE DI L NULLO,I,J =    2      -0.30000E+01\n"
              " ELEMENTO DIAGONALE PRECEDENTE =    0.10000000E+01\n");

    // The solve goes on and reaches the solution of the indefinite system (1, 1, 1).
    run r;
    r.solve(s, to_arr({3.0, 3.0, 4.0}), {}, 10, 1e-10);
    ASSERT_FALSE(r.stopped) << r.out.str();
    const auto ls = lines_of(r.lst.str());
    ASSERT_EQ(ls.size(), 3u);
    EXPECT_EQ(ls[0], " ELEMENTO DIAGONALE DI L NULLO,I,J =    2      -0.30000E+01");
    for (int i = 1; i <= 3; ++i) EXPECT_NEAR(r.x(i), 1.0, 1e-12) << i;
}

TEST(SymmetricSolve, NonPositiveFirstPivotTakesItsMagnitudeOrOne) {
    {
        dense m(2);
        m(1, 1) = -4; m(2, 2) = 9;
        symsys s;
        s.build(m, {{}, {1}, {2}});
        ounit lst;
        lst.open_memory();
        arr1<double> U(s.NTERM, 0.0);
        symfac(lst, s.N, s.NTERM, s.JA, s.IA, s.A, U);
        EXPECT_EQ(U(1), 2.0);
        EXPECT_EQ(lst.str(),
                  " ELEMENTO DIAGONALE DI L NULLO,I,J =    1      -0.40000E+01\n"
                  " ELEMENTO DIAGONALE PRECEDENTE =    0.20000000E+01\n");
    }
    {
        dense m(2);
        m(1, 1) = 0; m(2, 2) = 9;
        symsys s;
        s.build(m, {{}, {1}, {2}});
        ounit lst;
        lst.open_memory();
        arr1<double> U(s.NTERM, 0.0);
        symfac(lst, s.N, s.NTERM, s.JA, s.IA, s.A, U);
        EXPECT_EQ(U(1), 1.0);
        EXPECT_EQ(U(2), 3.0);
        EXPECT_EQ(lst.str(),
                  " ELEMENTO DIAGONALE DI L NULLO,I,J =    1       0.00000E+00\n"
                  " ELEMENTO DIAGONALE PRECEDENTE =    0.10000000E+01\n");
    }
}

TEST(SymmetricStops, OneIterationAllowedStopsWithTheErrMessage) {
    const symsys s = tet_laplacian(4, 4, 3, 0.05);
    std::vector<double> xt(s.N);
    for (int i = 0; i < s.N; ++i) xt[i] = std::sin(0.37 * i);
    const arr1<double> b = to_arr(dense_mul(s.full, xt));
    run r;
    r.solve(s, b, {}, 1, 1e-12);
    ASSERT_TRUE(r.stopped);
    EXPECT_EQ(r.status, EXIT_ERROR);
    int niter;
    double err, res;
    r.trace(niter, err, res);
    EXPECT_EQ(niter, 1);
    EXPECT_EQ(r.NITER, 1);
    EXPECT_GT(err, 1e-12);
    const auto ls = lines_of(r.out.str());
    ASSERT_EQ(ls.size(), 2u);
    EXPECT_EQ(ls[0], " STOP -- SUBROUTINE SYMSLV:");
    // " ERR= ", ERR, " > ", "TOLCG= ", 1e-12, " within ", 1, " iterations " as gfortran writes them.
    ASSERT_EQ(ls[1].substr(0, 6), " ERR= ");
    const double shown = std::strtod(ls[1].c_str() + 6, nullptr);
    EXPECT_NEAR(shown, err, 1e-6 * err);
    const std::string tail = "  > TOLCG=    9.9999999999999998E-013  within            1  iterations ";
    ASSERT_GE(ls[1].size(), tail.size());
    EXPECT_EQ(ls[1].substr(ls[1].size() - tail.size()), tail) << ls[1];
}

TEST(SymmetricStops, ErrMessageBytesAgreeWithTheFortranRuntime) {
    // An exact solve (ERR = 0) against a negative tolerance: the ERR stop with known values.
    const symsys s = exact_diagonal();
    const arr1<double> b = to_arr({8.0, -27.0, 4.0});
    {
        run r;
        r.solve(s, b, {}, 5, -1.0);
        ASSERT_TRUE(r.stopped);
        EXPECT_EQ(r.out.str(),
                  " STOP -- SUBROUTINE SYMSLV:\n"
                  " ERR=    0.0000000000000000       > TOLCG=   -1.0000000000000000       within"
                  "            1  iterations \n");
        EXPECT_EQ(r.lst.str(), "    1   0.000000E+00   0.000000E+00  <<SYMMETRIC SOLVER>>\n");
    }
    {
        // The second program's line has no " within " and " iterations " texts.
        run r;
        r.solve(s, b, {}, 5, -1.0, dialect::ALT);
        ASSERT_TRUE(r.stopped);
        EXPECT_EQ(r.out.str(),
                  " STOP -- SUBROUTINE SYMSLV:\n"
                  " ERR=    0.0000000000000000       > TOLCG=   -1.0000000000000000     "
                  "           1\n");
    }
}

TEST(SymmetricStops, IterationLimitBelowOneStopsWithTheNiterMessage) {
    const symsys s = exact_diagonal();
    const arr1<double> b = to_arr({8.0, -27.0, 4.0});
    run r;
    r.solve(s, b, {}, 0, 1e-6);
    ASSERT_TRUE(r.stopped);
    EXPECT_EQ(r.status, EXIT_ERROR);
    EXPECT_EQ(r.out.str(), " STOP -- SUBROUTINE SYMSLV:\n NITER=            1  > ITMXCG=            0\n");
    // The trace line comes first, in the listing.
    EXPECT_EQ(r.lst.str(), "    1   0.000000E+00   0.000000E+00  <<SYMMETRIC SOLVER>>\n");
}

TEST(SymmetricStops, NonConvergenceAndUndefinedValuesStop) {
    {
        const symsys s = tet_laplacian(4, 4, 3, 0.05);
        const arr1<double> b = to_arr(std::vector<double>(s.N, 1.0));
        run r;
        r.solve(s, b, {}, 3, 1e-14);
        ASSERT_TRUE(r.stopped);
        EXPECT_EQ(r.NITER, 3);
        const auto ls = lines_of(r.out.str());
        ASSERT_EQ(ls.size(), 2u);
        EXPECT_NE(ls[1].find(" within            3  iterations "), std::string::npos) << ls[1];
    }
    {
        // A right-hand side that is not a number never meets the tolerance: the run stops
        // after the first iteration instead of returning it.
        const symsys s = exact_diagonal();
        run r;
        r.solve(s, to_arr({NAN, 1.0, 1.0}), {}, 50, 1e-6);
        ASSERT_TRUE(r.stopped);
        EXPECT_EQ(r.NITER, 1);
        EXPECT_EQ(lines_of(r.out.str())[0], " STOP -- SUBROUTINE SYMSLV:");
    }
}

TEST(SymmetricStops, MalformedCallsAreInternalErrors) {
    symsys s = exact_diagonal();
    const arr1<double> b = to_arr({8.0, -27.0, 4.0});
    {
        run r;
        r.solve(s, b, {4}, 5, 1e-6);  // a prescribed node outside 1..N
        EXPECT_TRUE(r.stopped);
        EXPECT_EQ(r.status, EXIT_ERROR);
    }
    {
        s.JA(2) = 3;  // row 2 no longer starts with its diagonal
        run r;
        r.solve(s, b, {}, 5, 1e-6);
        EXPECT_TRUE(r.stopped);
        EXPECT_EQ(r.lst.str(), "");
    }
}
