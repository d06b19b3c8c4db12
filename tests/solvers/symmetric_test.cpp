// The symmetric solver: incomplete Cholesky factor, preconditioned conjugate gradients, the
// pivot patch, the norms that leave the prescribed rows out, the trace line and the stops.
// Expected lines come from gfortran (tools/fortran-format); solutions from dense elimination.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/stop.h"
#include "base/parallel.h"
#include "solvers/specified/symmetric.h"

using namespace nep;

namespace {

using rowsets = std::vector<std::set<int>>;  // column sets of rows 1..N (entry 0 unused)

struct dense {
    int n;
    std::vector<double> a;
    explicit dense(int n_) : n(n_), a((size_t)n_ * n_, 0.0) {}
    double& operator()(int i, int j) { return a[(size_t)(i - 1) * n + (j - 1)]; }
    double operator()(int i, int j) const { return a[(size_t)(i - 1) * n + (j - 1)]; }
    std::vector<double> mul(const std::vector<double>& x) const {
        std::vector<double> y(n, 0.0);
        for (int i = 1; i <= n; ++i)
            for (int j = 1; j <= n; ++j) y[i - 1] += (*this)(i, j) * x[j - 1];
        return y;
    }
};

// Gaussian elimination with partial pivoting: the reference solution.
std::vector<double> dense_solve(dense m, std::vector<double> b) {
    const int n = m.n;
    for (int k = 1; k <= n; ++k) {
        int p = k;
        for (int i = k + 1; i <= n; ++i) p = std::fabs(m(i, k)) > std::fabs(m(p, k)) ? i : p;
        for (int j = 1; j <= n; ++j) std::swap(m(k, j), m(p, j));
        std::swap(b[k - 1], b[p - 1]);
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

// Symmetric upper storage (diagonal first) of `m` on the pattern `rows`, and its dense twin.
struct symsys {
    int N = 0, NTERM = 0;
    arr1<int> IA, JA;
    arr1<double> A;
    dense full{1};
    symsys(const dense& m, const rowsets& rows) : N(m.n), full(m) {
        IA.alloc(N + 1);
        JA.alloc((long)N * N);
        A.alloc((long)N * N);
        int k = 1;
        for (int i = 1; i <= N; ++i) {
            IA(i) = k;
            for (int j : rows[i])
                if (j >= i) { JA(k) = j; A(k) = m(i, j); ++k; }
        }
        IA(N + 1) = k;
        NTERM = k - 1;
    }
    void set_diag(int i, double v) { A(IA(i)) = v; full(i, i) = v; }
};

// The graph Laplacian of a grid nx*ny*nz cut into tetrahedra (six per cube, along its main
// diagonal) plus `shift` on the diagonal: -1 for every pair of nodes sharing a tetrahedron.
// Two neighbours of a node are often neighbours themselves, so the factorisation has couplings
// between the columns of a row to carry into later rows.
symsys tet_laplacian(int nx, int ny, int nz, double shift) {
    const int N = nx * ny * nz;
    auto id = [&](int i, int j, int k) { return 1 + i + nx * (j + ny * k); };
    rowsets rows(N + 1);
    const int perms[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    for (int k = 0; k + 1 < nz; ++k)
        for (int j = 0; j + 1 < ny; ++j)
            for (int i = 0; i + 1 < nx; ++i)
                for (const auto& p : perms) {
                    int c[3] = {i, j, k}, v[4] = {id(i, j, k), 0, 0, 0};
                    for (int s = 0; s < 3; ++s) { c[p[s]] += 1; v[s + 1] = id(c[0], c[1], c[2]); }
                    for (int a : v)
                        for (int b : v) rows[a].insert(b);
                }
    dense m(N);
    for (int i = 1; i <= N; ++i) {
        for (int j : rows[i]) m(i, j) = -1.0;
        m(i, i) = (double)rows[i].size() - 1.0 + shift;
    }
    return symsys(m, rows);
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
    arr1<double> x, U, work;
    int niter = -1;     // the trace line's numbers
    double err = -1, res = -1;

    run(const symsys& s, const arr1<double>& b, const std::vector<int>& dir, int itmax, double tol,
        dialect d = dialect::MAIN) {
        lst.open_memory();
        out.open_memory();
        arr1<int> nodes(dir.size());
        for (size_t k = 0; k < dir.size(); ++k) nodes(k + 1) = dir[k];
        x.alloc(s.N, 123.0);  // overwritten by the initial guess
        U.alloc(s.NTERM, -7.0);
        work.alloc(5L * s.N, 99.0);
        try {
            SYMSLV(lst, out, s.N, s.NTERM, (int)dir.size(), NITER, itmax, tol, 1.7e-38, nodes,
                   s.JA, s.IA, x, b, s.A, U, work, d);
        } catch (const run_stop& e) {
            stopped = true;
            EXPECT_EQ(e.status, EXIT_ERROR);
        }
        const auto ls = lines_of(lst.str());
        if (!ls.empty() && ls.back().find("  <<SYMMETRIC SOLVER>>") == 35) {
            niter = std::atoi(ls.back().substr(1, 4).c_str());
            err = std::strtod(ls.back().substr(5, 15).c_str(), nullptr);
            res = std::strtod(ls.back().substr(20, 15).c_str(), nullptr);
        }
    }
};

// sqrt(sum of squared residuals / sum of squared b) over the free nodes (or / N when `rms`),
// computed densely from a solution.
double free_residual(const symsys& s, const arr1<double>& b, const arr1<double>& x,
                     const std::vector<int>& dir, bool rms) {
    const auto ax = s.full.mul(std::vector<double>(x.begin(), x.end()));
    double rr = 0.0, bb = 0.0;
    for (int i = 1; i <= s.N; ++i) {
        if (std::find(dir.begin(), dir.end(), i) != dir.end()) continue;
        rr += (b(i) - ax[i - 1]) * (b(i) - ax[i - 1]);
        bb += b(i) * b(i);
    }
    return std::sqrt(rr / (rms ? s.N : bb));
}

// Squares on the diagonal: the factor, the initial guess and its residual (0) are exact.
symsys exact_diagonal() {
    dense m(3);
    m(1, 1) = 4.0; m(2, 2) = 9.0; m(3, 3) = 16.0;
    return symsys(m, {{}, {1}, {2}, {3}});
}
const std::vector<double> kExactB = {8.0, -27.0, 4.0};  // solution (2, -3, 0.25)
const char* const kExactTrace = "    1   0.000000E+00   0.000000E+00  <<SYMMETRIC SOLVER>>\n";

// The incomplete factor of s (U starts from rubbish: symfac must clear it), and its listing.
arr1<double> factor(const symsys& s, std::string& listing) {
    ounit lst;
    lst.open_memory();
    arr1<double> U(s.NTERM, 3.0);
    symfac(lst, s.N, s.NTERM, s.JA, s.IA, s.A, U);
    listing = lst.str();
    return U;
}

}  // namespace

TEST(SymmetricFactor, IncompleteFactorMatchesTheMatrixOnItsPattern) {
    const symsys s = tet_laplacian(4, 3, 3, 0.1);
    std::string listing;
    const arr1<double> U = factor(s, listing);
    EXPECT_EQ(listing, "");  // an M-matrix: no pivot trouble
    dense u(s.N);
    for (int i = 1; i <= s.N; ++i)
        for (int k = s.IA(i); k < s.IA(i + 1); ++k) u(i, s.JA(k)) = U(k);
    // Without fill-in, (U'U)(i,j) equals A(i,j) at every stored position (and only there).
    int dropped = 0;
    for (int i = 1; i <= s.N; ++i)
        for (int j = i; j <= s.N; ++j) {
            double p = 0.0;
            for (int m = 1; m <= i; ++m) p += u(m, i) * u(m, j);
            if (s.full(i, j) != 0.0 || i == j) {
                EXPECT_NEAR(p, s.full(i, j), 1e-12) << i << "," << j;
            }
            dropped += s.full(i, j) == 0.0 && std::fabs(p) > 1e-6 ? 1 : 0;
        }
    EXPECT_GT(dropped, 0);  // the fill the factor leaves out
    // The preconditioner solves with U'U.
    std::vector<double> r(s.N), z(s.N);
    for (int i = 0; i < s.N; ++i) r[i] = std::cos(0.3 * i);
    symprc(s.N, s.JA, s.IA, U, r.data(), z.data());
    dense utu(s.N);
    for (int i = 1; i <= s.N; ++i)
        for (int j = 1; j <= s.N; ++j)
            for (int m = 1; m <= s.N; ++m) utu(i, j) += u(m, i) * u(m, j);
    const auto back = utu.mul(z);
    for (int i = 0; i < s.N; ++i) EXPECT_NEAR(back[i], r[i], 1e-12) << i + 1;
}

TEST(SymmetricFactor, SolvesOnThreadsGiveTheSerialValuesToTheBit) {
    // Layers of nx*ny rows as in a mesh, cut into slices (two per thread), and layers that do not
    // match the rows (period 7, and one layer: the slices mostly wait for each other); and a star
    // whose first row holds 300 entries, beyond the places a plan keeps in a byte.
    const int ns = 300;
    dense star(ns);
    rowsets rows(ns + 1);
    for (int i = 1; i <= ns; ++i) {
        star(i, i) = 400.0;
        rows[1].insert(i);
        if (i > 1) star(1, i) = star(i, 1) = -1.0 - 0.001 * i;
        if (i > 1 && i < ns) star(i, i + 1) = star(i + 1, i) = -1.0;
        if (i > 1) rows[i] = {i, std::min(i + 1, ns)};
    }
    // The factor too, on threads; a matrix whose pivots are not all positive is factored again
    // by rows, with the messages of its patches.
    const symsys lap = tet_laplacian(6, 5, 9, 0.1), fan(star, rows), bad = tet_laplacian(6, 5, 9, -14.0);
    for (const symsys* s : {&lap, &fan, &bad}) {
        std::string listing;
        const arr1<double> U = factor(*s, listing);
        EXPECT_EQ(listing.empty(), s != &bad);
        std::vector<double> r(s->N), z(s->N), zt(s->N), q(s->N), rq(s->N), zq(s->N);
        for (int i = 0; i < s->N; ++i) r[i] = std::cos(0.37 * i) + 0.01 * i;
        symprc(s->N, s->JA, s->IA, U, r.data(), z.data());
        // The solve of r - 0.3 q, with the step taken in its own pass first.
        for (int i = 0; i < s->N; ++i) q[i] = std::sin(1.1 * i);
        for (int i = 0; i < s->N; ++i) rq[i] = r[i] - 0.3 * q[i];
        symprc(s->N, s->JA, s->IA, U, rq.data(), zq.data());
        for (long period : {30L, 7L, (long)s->N}) {
            // 64: more than the runtime gives, solved serially; `over`: more threads than cores,
            // which wait for the ones the system has set aside (and sleep doing so).
            const int cores = max_threads(), over = 2 * cores + 1;
            for (int nth : {1, cores, over, 64}) {
#ifdef _OPENMP
                omp_set_num_threads(nth == over ? over : cores);
#endif
                hold_threads(true);  // the threads of the plan, whatever their waits
                trisolve_plan plan;
                plan_trisolve(s->N, period, s->JA, s->IA, nth, plan);
                ounit lst;
                lst.open_memory();
                arr1<double> Ut(s->NTERM, 3.0);
                symfac(lst, s->N, s->NTERM, s->JA, s->IA, s->A, Ut, &plan);
                EXPECT_EQ(std::memcmp(U.data(), Ut.data(), s->NTERM * sizeof(double)), 0);
                EXPECT_EQ(lst.str(), listing);
                // One thread solves by slices backward before the columns are taken, both ways after.
                for (bool values : {false, true}) {
                    if (values) plan_values(s->JA, s->IA, U, plan);
                    std::fill(zt.begin(), zt.end(), -1.0);
                    symprc(s->N, s->JA, s->IA, U, r.data(), zt.data(), &plan);
                    EXPECT_EQ(std::memcmp(z.data(), zt.data(), z.size() * sizeof(double)), 0)
                        << "N " << s->N << ", period " << period << ", " << nth << " threads";
                    // The step taken by the solve as it reaches each row: r and z as above.
                    std::vector<double> rs(r);
                    symprc(s->N, s->JA, s->IA, U, rs.data(), 0.3, q.data(), zt.data(), &plan);
                    EXPECT_EQ(rs, rq);
                    EXPECT_EQ(std::memcmp(zq.data(), zt.data(), zq.size() * sizeof(double)), 0);
                }
            }
#ifdef _OPENMP
            omp_set_num_threads(cores);
#endif
            hold_threads(false);
        }
    }
}

TEST(SymmetricFactor, NonPositivePivotsAreReportedAndPatched) {
    // [1 2; 2 1] (+) [4]: the second pivot is 1 - 2*2 = -3 and takes the first pivot's value.
    dense m(3);
    m(1, 1) = 1; m(1, 2) = 2; m(2, 1) = 2; m(2, 2) = 1; m(3, 3) = 4;
    const symsys s(m, {{}, {1, 2}, {1, 2}, {3}});
    ounit lst;
    lst.open_memory();
    arr1<double> U(s.NTERM, 0.0);
    symfac(lst, s.N, s.NTERM, s.JA, s.IA, s.A, U);
    EXPECT_EQ(std::vector<double>(U.begin(), U.end()), (std::vector<double>{1.0, 2.0, 1.0, 2.0}));
    // gfortran renderings of the two formats with 2, -3.0 and 1.0.
    const std::string msg =
        " ELEMENTO DIAGONALE DI L NULLO,I,J =    2      -0.30000E+01\n"
        " ELEMENTO DIAGONALE PRECEDENTE =    0.10000000E+01\n";
    EXPECT_EQ(lst.str(), msg);
    // The solve goes on and reaches the solution (1, 1, 1) of the indefinite system.
    run r(s, to_arr({3.0, 3.0, 4.0}), {}, 10, 1e-10);
    ASSERT_FALSE(r.stopped) << r.out.str();
    EXPECT_EQ(r.lst.str().substr(0, msg.size()), msg);
    for (int i = 1; i <= 3; ++i) EXPECT_NEAR(r.x(i), 1.0, 1e-12) << i;

    // A first pivot -4 takes |d| (previous diagonal shown: 2); a first pivot 0 takes 1.
    for (double a11 : {-4.0, 0.0}) {
        dense d(2);
        d(1, 1) = a11; d(2, 2) = 9;
        const symsys t(d, {{}, {1}, {2}});
        ounit l;
        l.open_memory();
        arr1<double> V(t.NTERM, 0.0);
        symfac(l, t.N, t.NTERM, t.JA, t.IA, t.A, V);
        EXPECT_EQ(V(1), a11 < 0 ? 2.0 : 1.0);
        EXPECT_EQ(V(2), 3.0);
        EXPECT_EQ(l.str(), a11 < 0 ? " ELEMENTO DIAGONALE DI L NULLO,I,J =    1      -0.40000E+01\n"
                                     " ELEMENTO DIAGONALE PRECEDENTE =    0.20000000E+01\n"
                                   : " ELEMENTO DIAGONALE DI L NULLO,I,J =    1       0.00000E+00\n"
                                     " ELEMENTO DIAGONALE PRECEDENTE =    0.10000000E+01\n");
    }
}

TEST(SymmetricSolve, TetrahedralLaplacianReachesKnownSolution) {
    const symsys s = tet_laplacian(4, 4, 3, 0.05);
    std::vector<double> xt(s.N);
    for (int i = 0; i < s.N; ++i) xt[i] = 1.0 + 0.5 * std::sin(0.7 * i) - 0.01 * i;
    run r(s, to_arr(s.full.mul(xt)), {}, 200, 1e-12);
    ASSERT_FALSE(r.stopped) << r.out.str();
    for (int i = 1; i <= s.N; ++i) EXPECT_NEAR(r.x(i), xt[i - 1], 1e-9) << i;
    EXPECT_EQ(r.niter, r.NITER);
    EXPECT_GT(r.NITER, 1);
    EXPECT_LT(r.NITER, s.N);  // preconditioned CG finishes well within N steps
    EXPECT_LE(r.err, 1e-12);
    EXPECT_LT(r.res, 1e-10);
    EXPECT_EQ(lines_of(r.lst.str()).size(), 1u);  // one listing line per call: the trace
    EXPECT_EQ(r.out.str(), "");
}

TEST(SymmetricSolve, PrescribedRowsAreLeftOutOfTheNorms) {
    // Penalty diagonals 1.7e29 with the values g imposed through b = 1.7e29 g. The residual
    // of those rows is of the order of rounding times 1e29 and b there is huge: counted, either
    // would swamp the measures.
    symsys s = tet_laplacian(4, 4, 3, 0.05);
    const std::vector<int> dir = {1, 2, 5, 17, 48};
    arr1<double> b(s.N);
    for (int i = 1; i <= s.N; ++i) b(i) = std::cos(0.9 * i);
    for (int n : dir) {
        s.set_diag(n, 1.7e29);
        b(n) = 1.7e29 * 0.5;
    }
    // A loose tolerance leaves a residual well above rounding, checked against a dense one.
    const run loose(s, b, dir, 500, 1e-3);
    ASSERT_FALSE(loose.stopped) << loose.out.str();
    EXPECT_LE(loose.err, 1e-3);
    const double ref = free_residual(s, b, loose.x, dir, false);
    EXPECT_GT(ref, 1e-9);
    EXPECT_NEAR(loose.res, ref, 1e-6 * ref);
    // The tight solve against the system with the values imposed exactly, solved densely.
    const run tight(s, b, dir, 500, 1e-13);
    ASSERT_FALSE(tight.stopped) << tight.out.str();
    dense red = s.full;
    std::vector<double> rb(b.begin(), b.end());
    for (int n : dir) {
        for (int j = 1; j <= s.N; ++j) red(n, j) = 0.0;
        red(n, n) = 1.0;
        rb[n - 1] = 0.5;
    }
    const auto xr = dense_solve(red, rb);
    for (int i = 1; i <= s.N; ++i) EXPECT_NEAR(tight.x(i), xr[i - 1], 1e-9) << i;
}

TEST(SymmetricSolve, ZeroFreeRightHandSideUsesRootMeanSquare) {
    // b = 0 apart from the prescribed rows: both measures become root-mean-square residuals.
    symsys s = tet_laplacian(3, 3, 3, 0.0);
    arr1<double> b(s.N, 0.0);
    s.set_diag(1, 1.7e29);
    s.set_diag(27, 1.7e29);
    b(1) = 1.7e29 * 2.0;
    b(27) = 1.7e29 * -1.0;
    const run r(s, b, {1, 27}, 300, 1e-9);
    ASSERT_FALSE(r.stopped) << r.out.str();
    EXPECT_LE(r.err, 1e-9);
    const double ref = free_residual(s, b, r.x, {1, 27}, true);
    EXPECT_NEAR(r.res, ref, 1e-6 * ref + 1e-300);
    dense red = s.full;
    std::vector<double> rb(s.N, 0.0);
    for (int n : {1, 27}) {
        for (int j = 1; j <= s.N; ++j) red(n, j) = 0.0;
        red(n, n) = 1.0;
    }
    rb[0] = 2.0;
    rb[26] = -1.0;
    const auto xr = dense_solve(red, rb);
    for (int i = 1; i <= s.N; ++i) EXPECT_NEAR(r.x(i), xr[i - 1], 1e-6) << i;
}

TEST(SymmetricSolve, ExactInitialGuessLeavesWithoutDividingZeroByZero) {
    const run r(exact_diagonal(), to_arr(kExactB), {}, 1, 0.0);  // even a zero tolerance is met
    ASSERT_FALSE(r.stopped) << r.out.str();
    EXPECT_EQ(r.NITER, 1);
    EXPECT_EQ(std::vector<double>(r.x.begin(), r.x.end()), (std::vector<double>{2.0, -3.0, 0.25}));
    // gfortran: "(1X,I4,2(1PE15.6),'  <<SYMMETRIC SOLVER>>')" with 1, 0.0, 0.0
    EXPECT_EQ(r.lst.str(), kExactTrace);
}

TEST(SymmetricStops, OneIterationAllowedStopsWithTheErrMessage) {
    const symsys s = tet_laplacian(4, 4, 3, 0.05);
    std::vector<double> xt(s.N);
    for (int i = 0; i < s.N; ++i) xt[i] = std::sin(0.37 * i);
    const run r(s, to_arr(s.full.mul(xt)), {}, 1, 1e-12);
    ASSERT_TRUE(r.stopped);
    EXPECT_EQ(r.niter, 1);
    EXPECT_EQ(r.NITER, 1);
    EXPECT_GT(r.err, 1e-12);
    const auto ls = lines_of(r.out.str());
    ASSERT_EQ(ls.size(), 2u);
    EXPECT_EQ(ls[0], " STOP -- SUBROUTINE SYMSLV:");
    // " ERR= ", ERR, " > ", "TOLCG= ", 1e-12, " within ", 1, " iterations " as gfortran writes them.
    ASSERT_EQ(ls[1].substr(0, 6), " ERR= ");
    EXPECT_NEAR(std::strtod(ls[1].c_str() + 6, nullptr), r.err, 1e-6 * r.err);
    const std::string tail = "  > TOLCG=    9.9999999999999998E-013  within            1  iterations ";
    ASSERT_GE(ls[1].size(), tail.size());
    EXPECT_EQ(ls[1].substr(ls[1].size() - tail.size()), tail) << ls[1];

    const run three(s, to_arr(std::vector<double>(s.N, 1.0)), {}, 3, 1e-14);
    ASSERT_TRUE(three.stopped);
    EXPECT_EQ(three.NITER, 3);
    EXPECT_NE(three.out.str().find(" within            3  iterations \n"), std::string::npos);
}

TEST(SymmetricStops, MessageBytesAgreeWithTheFortranRuntime) {
    const symsys s = exact_diagonal();
    const arr1<double> b = to_arr(kExactB);
    // ERR = 0 against a negative tolerance: the ERR stop with exactly known values.
    const run main(s, b, {}, 5, -1.0);
    ASSERT_TRUE(main.stopped);
    EXPECT_EQ(main.out.str(),
              " STOP -- SUBROUTINE SYMSLV:\n"
              " ERR=    0.0000000000000000       > TOLCG=   -1.0000000000000000       within"
              "            1  iterations \n");
    EXPECT_EQ(main.lst.str(), kExactTrace);  // the trace line comes first, in the listing
    // The second program's line has no " within " and " iterations " texts.
    const run alt(s, b, {}, 5, -1.0, dialect::ALT);
    EXPECT_EQ(alt.out.str(),
              " STOP -- SUBROUTINE SYMSLV:\n"
              " ERR=    0.0000000000000000       > TOLCG=   -1.0000000000000000     "
              "           1\n");
    // An iteration limit below 1: the one iteration done exceeds it.
    const run lim(s, b, {}, 0, 1e-6);
    ASSERT_TRUE(lim.stopped);
    EXPECT_EQ(lim.out.str(), " STOP -- SUBROUTINE SYMSLV:\n NITER=            1  > ITMXCG=            0\n");
}

TEST(SymmetricStops, UndefinedValuesAndMalformedCallsStop) {
    // A right-hand side that is not a number never meets the tolerance: the run stops after the
    // first iteration instead of iterating on or returning it.
    const run nan(exact_diagonal(), to_arr({NAN, 1.0, 1.0}), {}, 50, 1e-6);
    ASSERT_TRUE(nan.stopped);
    EXPECT_EQ(nan.NITER, 1);
    // A prescribed node outside 1..N, and a row that does not start with its diagonal.
    const run bad_node(exact_diagonal(), to_arr(kExactB), {4}, 5, 1e-6);
    EXPECT_TRUE(bad_node.stopped);
    symsys s = exact_diagonal();
    s.JA(2) = 3;
    const run bad_row(s, to_arr(kExactB), {}, 5, 1e-6);
    EXPECT_TRUE(bad_row.stopped);
    EXPECT_EQ(bad_row.lst.str(), "");
}
