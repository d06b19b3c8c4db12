// The nonsymmetric iterative solvers. Sources of truth: a dense Gaussian elimination written
// here; the defining property of the incomplete factors ((L U)(i,j) = A(i,j) on the pattern);
// hand computations; the trace lines of nonsym_trace_expected.txt, whose numbers come from a
// separate 60-digit decimal implementation of the iterations (nonsym_reference.py) and whose text
// was printed by gfortran; the message lines below, printed by gfortran
// (../shared/tools/fortran-format) and checked in; a dense GCRK(5) written here for the cycle of
// five directions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "base/stop.h"
#include "solvers/specified/nonsym_iter.h"

using namespace nep;

namespace {

using dense = std::vector<std::vector<double>>;

// A system in full storage.
struct csr {
    int N = 0, NZ = 0;
    arr1<int> IA, JA, IROW;
    arr1<double> A;
};

// Pattern: the non-zeros of M and its diagonal.
csr from_dense(const dense& M) {
    csr s;
    s.N = (int)M.size();
    std::vector<int> ja, irow;
    std::vector<double> a;
    s.IA.alloc(s.N + 1);
    for (int i = 0; i < s.N; ++i) {
        s.IA(i + 1) = (int)ja.size() + 1;
        for (int j = 0; j < s.N; ++j)
            if (M[i][j] != 0.0 || i == j) {
                ja.push_back(j + 1);
                irow.push_back(i + 1);
                a.push_back(M[i][j]);
            }
    }
    s.NZ = (int)ja.size();
    s.IA(s.N + 1) = s.NZ + 1;
    s.JA.alloc(s.NZ);
    s.IROW.alloc(s.NZ);
    s.A.alloc(s.NZ);
    for (int k = 0; k < s.NZ; ++k) {
        s.JA(k + 1) = ja[k];
        s.IROW(k + 1) = irow[k];
        s.A(k + 1) = a[k];
    }
    return s;
}

dense to_dense(const csr& s) {
    dense M(s.N, std::vector<double>(s.N, 0.0));
    for (int i = 1; i <= s.N; ++i)
        for (int k = s.IA(i); k < s.IA(i + 1); ++k) M[i - 1][s.JA(k) - 1] = s.A(k);
    return M;
}

// Convection-diffusion with a little reaction on an nx x ny x nz grid, seven-point stencil,
// central differences for the convection (v/2 on the neighbours): a nonsymmetric M-matrix-like
// system with the kind of pattern the mesh gives (ascending columns, diagonal included).
dense convdiff(int nx, int ny, int nz, double vx, double vy, double vz) {
    const int n = nx * ny * nz;
    dense M(n, std::vector<double>(n, 0.0));
    auto id = [&](int i, int j, int k) { return (k * ny + j) * nx + i; };
    for (int k = 0; k < nz; ++k)
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i) {
                const int r = id(i, j, k);
                M[r][r] = 6.1;
                if (i > 0) M[r][id(i - 1, j, k)] = -1.0 - vx / 2;
                if (i < nx - 1) M[r][id(i + 1, j, k)] = -1.0 + vx / 2;
                if (j > 0) M[r][id(i, j - 1, k)] = -1.0 - vy / 2;
                if (j < ny - 1) M[r][id(i, j + 1, k)] = -1.0 + vy / 2;
                if (k > 0) M[r][id(i, j, k - 1)] = -1.0 - vz / 2;
                if (k < nz - 1) M[r][id(i, j, k + 1)] = -1.0 + vz / 2;
            }
    return M;
}

std::vector<double> matvec(const dense& M, const std::vector<double>& x) {
    std::vector<double> y(M.size(), 0.0);
    for (size_t i = 0; i < M.size(); ++i)
        for (size_t j = 0; j < M.size(); ++j) y[i] += M[i][j] * x[j];
    return y;
}

// Gaussian elimination with partial pivoting.
std::vector<double> gauss(dense M, std::vector<double> b) {
    const int n = (int)b.size();
    for (int c = 0; c < n; ++c) {
        int p = c;
        for (int r = c + 1; r < n; ++r)
            if (std::fabs(M[r][c]) > std::fabs(M[p][c])) p = r;
        std::swap(M[c], M[p]);
        std::swap(b[c], b[p]);
        for (int r = c + 1; r < n; ++r) {
            const double f = M[r][c] / M[c][c];
            for (int j = c; j < n; ++j) M[r][j] -= f * M[c][j];
            b[r] -= f * b[c];
        }
    }
    std::vector<double> x(n);
    for (int i = n - 1; i >= 0; --i) {
        double s = b[i];
        for (int j = i + 1; j < n; ++j) s -= M[i][j] * x[j];
        x[i] = s / M[i][i];
    }
    return x;
}

double max_rel_diff(const std::vector<double>& u, const std::vector<double>& v) {
    double d = 0.0, m = 0.0;
    for (size_t i = 0; i < u.size(); ++i) {
        d = std::fmax(d, std::fabs(u[i] - v[i]));
        m = std::fmax(m, std::fabs(v[i]));
    }
    return d / m;
}

struct outcome {
    bool stopped = false;
    int status = -1;
    std::string message;  // of an internal fault
    int NITER = -1, IER = -1;
    std::vector<double> x;
    std::string lst, out;
    std::vector<double> LU;
};

outcome solve(const csr& s, int selector, const std::vector<double>& b, int ITCGNS, double TLCGNS,
              const std::vector<int>& prescribed = {}, long work_vectors = -1) {
    outcome o;
    ounit lst, out;
    lst.open_memory();
    out.open_memory();
    arr1<int> nodes(prescribed.size());
    for (size_t k = 0; k < prescribed.size(); ++k) nodes(k + 1) = prescribed[k];
    arr1<double> bv(s.N), x(s.N, 123.0), LU(s.NZ);
    for (int i = 1; i <= s.N; ++i) bv(i) = b[i - 1];
    const long nvec = work_vectors >= 0 ? work_vectors : nsyslv_nvec(selector);
    arr1<double> work(nvec * s.N);
    const int LIMNS1 = 100000;
    int IBOTMN = LIMNS1;
    arr1<double> RNSYM(nonsym_work_length(LIMNS1, s.N));
    nonsym_state st;
    try {
        NSYSLV(selector, lst, out, s.N, s.NZ, (int)prescribed.size(), nodes, ITCGNS, TLCGNS, o.NITER,
               o.IER, LIMNS1, IBOTMN, RNSYM, st, s.IA, s.JA, s.IROW, s.A, bv, x, LU, work, 1.7e-38);
    } catch (const run_stop& e) {
        o.stopped = true;
        o.status = e.status;
        o.message = e.message;
    }
    o.x.assign(x.begin(), x.end());
    o.LU.assign(LU.begin(), LU.end());
    o.lst = lst.str();
    o.out = out.str();
    return o;
}

std::vector<std::string> lines_of(const std::string& t) {
    std::vector<std::string> v;
    std::istringstream in(t);
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
}

// The two numbers of a trace line "(1X,I4,2(1PE15.6),...)".
void trace_values(const std::string& line, int& niter, double& err, double& res) {
    ASSERT_GE(line.size(), 35u) << line;
    niter = std::atoi(line.substr(1, 4).c_str());
    err = std::strtod(line.substr(5, 15).c_str(), nullptr);
    res = std::strtod(line.substr(20, 15).c_str(), nullptr);
}

bool is_trace(const std::string& l) {
    const std::string tail = "  <<NONSYMMETRIC SOLVER>>";
    return l.size() > tail.size() && l.compare(l.size() - tail.size(), tail.size(), tail) == 0;
}

const int kSelectors[] = {-5, -4, -3, -2, -1, 0, 1, 2};

bool bicgstab_family(int sel) { return sel == -5 || sel == -4 || sel == 0; }

// The convection-diffusion system of most tests, with b = A x_true.
struct cd_case {
    dense M;
    csr s;
    std::vector<double> xtrue, b;
    cd_case(int nx, int ny, int nz, double vx = 1.5, double vy = -0.8, double vz = 0.5)
        : M(convdiff(nx, ny, nz, vx, vy, vz)), s(from_dense(M)) {
        for (int i = 0; i < s.N; ++i) xtrue.push_back(2.0 + std::sin(1.0 + i));
        b = matvec(M, xtrue);
    }
};

const dense kA4 = {{4, -1, 0, -2}, {-1.5, 5, -1, 0}, {0, -2, 4.5, -1}, {-1, 0, -0.5, 3}};
const std::vector<double> kB4 = {1, 2, -1, 3};

// A ring of six nodes with one chord: the incomplete factors drop fill, so the first iterations
// of every method still leave a residual well above rounding.
const dense kA6 = {{5, -1, 0, -1.5, 0, -1}, {-2, 6, -1, 0, 0, 0},   {0, -1.5, 4, -1, 0, 0},
                   {-1, 0, -2, 5.5, -0.5, 0}, {0, 0, 0, -1, 4, -2}, {-0.5, 0, 0, 0, -1, 3.5}};
const std::vector<double> kB6 = {1, 2, -1, 3, 0.5, -2};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Solutions

TEST(NsyslvSolve, EverySelectorSolvesConvectionDiffusionToItsTolerance) {
    cd_case c(6, 5, 4);
    const std::vector<double> ref = gauss(c.M, c.b);
    ASSERT_LT(max_rel_diff(ref, c.xtrue), 1e-12);
    for (int sel : kSelectors) {
        SCOPED_TRACE("selector " + std::to_string(sel));
        const outcome o = solve(c.s, sel, c.b, 200, 1e-12);
        ASSERT_FALSE(o.stopped) << o.out << o.message;
        EXPECT_EQ(o.IER, 0);
        EXPECT_GE(o.NITER, 1);
        EXPECT_LE(o.NITER, 200);
        EXPECT_LT(max_rel_diff(o.x, ref), 1e-9);
        EXPECT_EQ(o.out, "");
        const auto l = lines_of(o.lst);
        ASSERT_EQ(l.size(), 1u) << o.lst;
        ASSERT_TRUE(is_trace(l[0])) << l[0];
        int niter;
        double err, res;
        trace_values(l[0], niter, err, res);
        EXPECT_EQ(niter, o.NITER);
        EXPECT_LE(err, 1e-12);
        EXPECT_LT(res, 1e-9);
    }
}

TEST(NsyslvSolve, MethodsAgreeWithEachOtherAndTheDirectSolver) {
    cd_case c(5, 4, 6, -2.0, 1.0, 1.2);
    const std::vector<double> ref = gauss(c.M, c.b);
    std::vector<std::vector<double>> xs;
    for (int sel : kSelectors) {
        const outcome o = solve(c.s, sel, c.b, 300, 1e-13);
        ASSERT_FALSE(o.stopped) << sel << o.out;
        xs.push_back(o.x);
    }
    for (size_t i = 0; i < xs.size(); ++i)
        for (size_t j = i + 1; j < xs.size(); ++j)
            EXPECT_LT(max_rel_diff(xs[i], xs[j]), 1e-9) << kSelectors[i] << " vs " << kSelectors[j];
    const outcome d = solve(c.s, 3, c.b, 300, 1e-13);
    ASSERT_FALSE(d.stopped) << d.lst;
    EXPECT_EQ(d.IER, 0);
    EXPECT_EQ(d.NITER, 0);
    EXPECT_LT(max_rel_diff(d.x, ref), 1e-12);
    EXPECT_LT(max_rel_diff(xs[0], d.x), 1e-9);
}

// Penalty rows carry all of the forcing (b = 0 elsewhere): the measure of the other nodes has
// nothing to be relative to and becomes the root mean square over all N nodes.
TEST(NsyslvSolve, PenaltyRowsAndRootMeanSquareMeasure) {
    cd_case c(5, 5, 4);
    dense M = c.M;
    std::vector<int> pres;
    std::vector<double> b(c.s.N, 0.0);
    for (int i = 0; i < 25; ++i) {  // the bottom layer
        pres.push_back(i + 1);
        M[i][i] = 1.7e29;
        b[i] = 1.7e29 * (1.0 + 0.1 * i);
    }
    const csr s = from_dense(M);
    const std::vector<double> ref = gauss(M, b);
    // The unpreconditioned methods (-4, -2) cannot cope with penalty diagonals 1e29 times the
    // others: a run with penalty rows needs a preconditioned method.
    for (int sel : {-5, -3, -1, 0, 1, 2}) {
        SCOPED_TRACE("selector " + std::to_string(sel));
        const outcome o = solve(s, sel, b, 300, 1e-12, pres);
        ASSERT_FALSE(o.stopped) << o.out;
        EXPECT_LT(max_rel_diff(o.x, ref), 1e-9);
        for (int i = 0; i < 25; ++i) EXPECT_NEAR(o.x[i], 1.0 + 0.1 * i, 1e-12);
        // RES = sqrt(sum of r^2 over the free nodes / N), r = b - A x.
        double rr = 0.0;
        for (int i = 25; i < s.N; ++i) {
            double ax = 0.0;
            for (int j = 0; j < s.N; ++j) ax += M[i][j] * o.x[j];
            rr += (b[i] - ax) * (b[i] - ax);
        }
        const double res_rms = std::sqrt(rr / s.N);
        int niter;
        double err, res;
        trace_values(lines_of(o.lst).back(), niter, err, res);
        EXPECT_NEAR(res, res_rms, 1e-5 * res_rms + 1e-300);
        EXPECT_LE(err, 1e-12);
    }
}

// ---------------------------------------------------------------------------------------------
// Incomplete factors

TEST(NsyslvIlu0, ProductEqualsAOnThePattern) {
    cd_case c(4, 3, 3, 1.0, -1.5, 0.7);
    ounit lst;
    lst.open_memory();
    arr1<double> LU(c.s.NZ);
    ilu0(lst, c.s.N, c.s.NZ, c.s.IA, c.s.JA, c.s.A, LU);
    EXPECT_EQ(lst.str(), "");
    const int n = c.s.N;
    dense L(n, std::vector<double>(n, 0.0)), U(n, std::vector<double>(n, 0.0));
    for (int i = 1; i <= n; ++i) {
        U[i - 1][i - 1] = 1.0;
        for (int k = c.s.IA(i); k < c.s.IA(i + 1); ++k) {
            const int j = c.s.JA(k);
            (j <= i ? L : U)[i - 1][j - 1] = LU(k);
        }
    }
    bool fill_dropped = false;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            double p = 0.0;
            for (int m = 0; m < n; ++m) p += L[i][m] * U[m][j];
            if (c.M[i][j] != 0.0 || i == j) {
                EXPECT_NEAR(p, c.M[i][j], 1e-13) << i << "," << j;
            } else if (std::fabs(p) > 1e-3) {
                fill_dropped = true;
            }
        }
    EXPECT_TRUE(fill_dropped);  // the factors are incomplete: K differs from A off the pattern
}

TEST(NsyslvIlu0, TridiagonalFactorsAreExact) {
    const dense M = {{4, -1, 0, 0}, {-2, 5, -1.5, 0}, {0, -1, 3, -0.5}, {0, 0, -2, 6}};
    const csr s = from_dense(M);
    ounit lst;
    lst.open_memory();
    arr1<double> LU(s.NZ);
    ilu0(lst, s.N, s.NZ, s.IA, s.JA, s.A, LU);
    // Crout by hand: l11 = 4, u12 = -1/4; l21 = -2, l22 = 5 - (-2)(-1/4) = 4.5, u23 = -1.5/4.5;
    // l32 = -1, l33 = 3 - (-1)(-1/3) = 8/3, u34 = -0.5/(8/3) = -3/16; l43 = -2,
    // l44 = 6 - (-2)(-3/16) = 5.625.
    const double want[] = {4, -0.25, -2, 4.5, -1.5 / 4.5, -1, 8.0 / 3, -0.1875, -2, 5.625};
    ASSERT_EQ(s.NZ, 10);
    for (int k = 1; k <= 10; ++k) EXPECT_NEAR(LU(k), want[k - 1], 1e-15) << k;
}

// A = [2 2 0; 1 1 1; 0 1 1/2]: the pivots of rows 2 and 3 are exactly 0 and take the pivot of
// the row before, 2; then U(2,3) = 1/2, L(3,2) = 1. The minimal-residual step from there, by hand
// in rational arithmetic with b = (1, 2, 3): x0 = K^-1 b = (5/16, 3/16, 9/8),
// r = b - A x0 = (0, 3/8, 9/4), r^ = L^-1 r = (0, 3/16, 33/32), q = Op r^ = (0, 33/64, -21/128),
// alpha = -132/533, x = (493/2132, 573/2132, 927/1066), ERR = sqrt(288/3731) = 0.27783286627...,
// RES = sqrt(805536/1988623) = 0.63645286825...; the lines printed by gfortran.
TEST(NsyslvIlu0, ZeroPivotsTakeThePivotOfTheRowBefore) {
    const csr s = from_dense({{2, 2, 0}, {1, 1, 1}, {0, 1, 0.5}});
    const outcome o = solve(s, 1, {1, 2, 3}, 5, 0.5);
    ASSERT_FALSE(o.stopped) << o.out;
    const std::vector<double> lu = {2, 1, 1, 2, 0.5, 1, 2};
    EXPECT_EQ(o.LU, lu);
    EXPECT_EQ(o.lst,
              " ELEMENTO DIAGONALE DI L NULLO,I,J =    2\n"
              " ELEMENTO DIAGONALE DI L NULLO,I,J =    3\n"
              "    1   2.778329E-01   6.364529E-01  <<NONSYMMETRIC SOLVER>>\n");
    EXPECT_NEAR(o.x[0], 493.0 / 2132, 1e-15);
    EXPECT_NEAR(o.x[1], 573.0 / 2132, 1e-15);
    EXPECT_NEAR(o.x[2], 927.0 / 1066, 1e-15);
}

TEST(NsyslvIlu0, ZeroFirstPivotTakesTheLargestEntryOfItsRow) {
    const csr s = from_dense({{0, 2}, {3, 1}});
    ounit lst;
    lst.open_memory();
    arr1<double> LU(s.NZ);
    ilu0(lst, s.N, s.NZ, s.IA, s.JA, s.A, LU);
    EXPECT_EQ(lst.str(), " ELEMENTO DIAGONALE DI L NULLO,I,J =    1\n");
    // l11 = 2 (patched), u12 = 2/2 = 1, l21 = 3, l22 = 1 - 3*1 = -2.
    EXPECT_EQ(LU(1), 2.0);
    EXPECT_EQ(LU(2), 1.0);
    EXPECT_EQ(LU(3), 3.0);
    EXPECT_EQ(LU(4), -2.0);
}

// ---------------------------------------------------------------------------------------------
// Trace lines against the high-precision reference

TEST(NsyslvTrace, FirstIterationsOfEveryMethodMatchTheReference) {
    std::ifstream in(std::string(NEPORA_SOURCE_DIR) + "/tests/solvers/nonsym_trace_expected.txt");
    ASSERT_TRUE(in.good());
    const csr s = from_dense(kA6);
    int cases = 0;
    for (std::string l; std::getline(in, l);) {
        if (l.empty() || l[0] == '#') continue;
        const size_t bar = l.find('|');
        std::istringstream head(l.substr(0, bar));
        int np, sel, itcgns;
        head >> np >> sel >> itcgns;
        const std::string want = l.substr(bar + 1);
        SCOPED_TRACE(l);
        const outcome o = solve(s, sel, kB6, itcgns, 0.0, np ? std::vector<int>{3} : std::vector<int>{});
        // A tolerance of 0 is never met: the trace line is followed by the stop.
        ASSERT_TRUE(o.stopped);
        EXPECT_EQ(o.status, EXIT_ERROR);
        EXPECT_EQ(o.lst, want + "\n");
        const auto out = lines_of(o.out);
        ASSERT_EQ(out.size(), 2u) << o.out;
        EXPECT_EQ(out[0], " STOP -- SUBROUTINE NSYSLV:");
        EXPECT_EQ(out[1].compare(0, 6, " ERR= "), 0) << out[1];
        ++cases;
    }
    EXPECT_EQ(cases, 32);
}

// ---------------------------------------------------------------------------------------------
// Iteration limits and stops

// The tail of (" ERR= ", ERR, " > ", "TOLCG= ", 0.0, " within ", n, " iterations ") after ERR,
// printed by gfortran for n = 10 and n = 11.
const char* kTail10 = "  > TOLCG=    0.0000000000000000       within           10  iterations ";
const char* kTail11 = "  > TOLCG=    0.0000000000000000       within           11  iterations ";

TEST(NsyslvLimits, BiCgstabDoesOneIterationMoreThanTheLimitOthersStopAtIt) {
    cd_case c(6, 5, 4, 3.0, -2.5, 1.0);
    for (int sel : kSelectors) {
        SCOPED_TRACE("selector " + std::to_string(sel));
        const outcome o = solve(c.s, sel, c.b, 10, 0.0);
        ASSERT_TRUE(o.stopped);
        EXPECT_EQ(o.status, EXIT_ERROR);
        const int want = bicgstab_family(sel) ? 11 : 10;
        EXPECT_EQ(o.NITER, want);
        int niter;
        double err, res;
        trace_values(lines_of(o.lst).back(), niter, err, res);
        EXPECT_EQ(niter, want);
        const auto out = lines_of(o.out);
        ASSERT_EQ(out.size(), 2u);
        EXPECT_EQ(out[0], " STOP -- SUBROUTINE NSYSLV:");
        // " ERR= " then ERR in a list-directed field, then the tail.
        const std::string tail = want == 11 ? kTail11 : kTail10;
        ASSERT_GT(out[1].size(), tail.size() + 6);
        EXPECT_EQ(out[1].substr(out[1].size() - tail.size()), tail);
        const double printed = std::strtod(out[1].substr(6).c_str(), nullptr);
        EXPECT_NEAR(printed, err, 1e-6 * err);
    }
}

// A BiCGSTAB solve that meets its tolerance only in the extra iteration stops the run on the
// count: ("NITER= ", 5, " > ", "ITMXCG= ", 4) printed by gfortran.
TEST(NsyslvLimits, BiCgstabConvergingInItsExtraIterationStopsOnTheCount) {
    cd_case c(6, 5, 4, 3.0, -2.5, 1.0);
    const outcome free_run = solve(c.s, 0, c.b, 500, 1e-10);
    ASSERT_FALSE(free_run.stopped);
    ASSERT_EQ(free_run.NITER, 5);  // fixed by the system; the message below is for 5
    const outcome o = solve(c.s, 0, c.b, 4, 1e-10);
    ASSERT_TRUE(o.stopped);
    EXPECT_EQ(o.NITER, 5);
    EXPECT_EQ(o.out, " STOP -- SUBROUTINE NSYSLV:\n NITER=            5  > ITMXCG=            4\n");
    EXPECT_EQ(o.x, free_run.x);
    // The same solve with one more allowed iteration passes.
    const outcome ok = solve(c.s, 0, c.b, 5, 1e-10);
    EXPECT_FALSE(ok.stopped);
    // TFQMR with the limit at its own count passes: its limit is not exceeded.
    const outcome t = solve(c.s, -1, c.b, 500, 1e-10);
    ASSERT_FALSE(t.stopped);
    const outcome t2 = solve(c.s, -1, c.b, t.NITER, 1e-10);
    EXPECT_FALSE(t2.stopped);
    EXPECT_EQ(t2.NITER, t.NITER);
}

// A dense GCRK(5) on the same split system, with the incomplete factors taken from the solver
// (their own correctness is tested above): slots by n mod 5, a cycle restarting after every fifth
// iteration. With `sliding` the new direction is made orthogonal to the last five directions
// instead, which the solver must not do.
std::vector<double> dense_gcrk(const csr& s, const std::vector<double>& lu,
                               const std::vector<double>& b, int iters, bool sliding) {
    const int n = s.N;
    const dense A = to_dense(s);
    dense L(n, std::vector<double>(n, 0.0)), U(n, std::vector<double>(n, 0.0));
    for (int i = 1; i <= n; ++i) {
        U[i - 1][i - 1] = 1.0;
        for (int k = s.IA(i); k < s.IA(i + 1); ++k) (s.JA(k) <= i ? L : U)[i - 1][s.JA(k) - 1] = lu[k - 1];
    }
    auto lsol = [&](std::vector<double> r) {
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < i; ++j) r[i] -= L[i][j] * r[j];
            r[i] /= L[i][i];
        }
        return r;
    };
    auto usol = [&](std::vector<double> r) {
        for (int i = n - 1; i >= 0; --i)
            for (int j = i + 1; j < n; ++j) r[i] -= U[i][j] * r[j];
        return r;
    };
    auto op = [&](const std::vector<double>& p) { return lsol(matvec(A, usol(p))); };
    auto dot = [&](const std::vector<double>& u, const std::vector<double>& v) {
        double t = 0.0;
        for (int i = 0; i < n; ++i) t += u[i] * v[i];
        return t;
    };
    std::vector<double> x = usol(lsol(b));
    std::vector<double> ax = matvec(A, x), r(n);
    for (int i = 0; i < n; ++i) r[i] = b[i] - ax[i];
    r = lsol(r);
    std::vector<double> y = matvec(U, x), p = r;
    std::vector<std::vector<double>> P, Q;
    for (int it = 1; it <= iters; ++it) {
        const std::vector<double> q = op(p);
        const double alpha = dot(q, r) / dot(q, q);
        if (!sliding && (it - 1) % 5 == 0) {
            P.clear();
            Q.clear();
        }
        if (sliding && P.size() == 5) {
            P.erase(P.begin());
            Q.erase(Q.begin());
        }
        P.push_back(p);
        Q.push_back(q);
        for (int i = 0; i < n; ++i) {
            r[i] -= alpha * q[i];
            y[i] += alpha * p[i];
        }
        const std::vector<double> z = op(r);
        p = r;
        for (size_t m = 0; m < P.size(); ++m) {
            const double beta = -dot(Q[m], z) / dot(Q[m], Q[m]);
            for (int i = 0; i < n; ++i) p[i] += beta * P[m][i];
        }
    }
    return usol(y);
}

TEST(NsyslvLimits, GcrkKeepsFiveDirectionsAndRestartsItsCycle) {
    cd_case c(5, 4, 3, 4.0, -3.0, 2.0);
    double worst = 0.0, apart = 0.0;
    for (int k = 1; k <= 12; ++k) {
        const outcome o = solve(c.s, 2, c.b, k, 0.0);
        ASSERT_TRUE(o.stopped);
        EXPECT_EQ(o.NITER, k);
        const std::vector<double> ref = dense_gcrk(c.s, o.LU, c.b, k, false);
        worst = std::fmax(worst, max_rel_diff(o.x, ref));
        if (k >= 7) apart = std::fmax(apart, max_rel_diff(o.x, dense_gcrk(c.s, o.LU, c.b, k, true)));
    }
    std::printf("GCRK(5): solver vs dense reference %.3g, vs a sliding window %.3g\n", worst, apart);
    EXPECT_LT(worst, 1e-12);
    // The check can tell a restarted cycle from a sliding window (about 1e-8 apart here).
    EXPECT_GT(apart, 1e-10);
}

TEST(NsyslvStops, ZeroRightHandSideGivesZeroAndTheWarning) {
    cd_case c(3, 3, 2);
    const std::vector<double> zero(c.s.N, 0.0);
    // Printed by gfortran: two empty lines, then the two warning lines.
    const std::string warn =
        "\n\n*** WARNING: NONSYM ROUTINE ABNORMAL EXIT CONDITION \n RHS=0 ---> UNKNOWN=0 \n";
    for (int sel : kSelectors) {
        SCOPED_TRACE("selector " + std::to_string(sel));
        const outcome o = solve(c.s, sel, zero, 50, 1e-10, {1, 2});
        EXPECT_FALSE(o.stopped);
        EXPECT_EQ(o.x, zero);
        EXPECT_EQ(o.NITER, 0);
        EXPECT_EQ(o.lst, warn);  // no trace line
        EXPECT_EQ(o.out, warn);
    }
}

// A NaN in the right-hand side makes every measure NaN; the run stops instead of returning it.
// Lines printed by gfortran for NITER = 1, ERR = RES = NaN, TLCGNS = 1.0d-8.
TEST(NsyslvStops, NotANumberFailsTheToleranceTest) {
    cd_case c(3, 3, 2);
    std::vector<double> b = c.b;
    b[4] = std::numeric_limits<double>::quiet_NaN();
    const outcome o = solve(c.s, 0, b, 50, 1e-8);
    ASSERT_TRUE(o.stopped);
    EXPECT_EQ(o.status, EXIT_ERROR);
    EXPECT_EQ(o.lst, "    1            NaN            NaN  <<NONSYMMETRIC SOLVER>>\n");
    EXPECT_EQ(o.out,
              " STOP -- SUBROUTINE NSYSLV:\n"
              " ERR=                        NaN  > TOLCG=    1.0000000000000000E-008  within        "
              "    1  iterations \n");
    for (int sel : kSelectors) {
        const outcome e = solve(c.s, sel, b, 50, 1e-8);
        EXPECT_TRUE(e.stopped) << sel;
        EXPECT_EQ(e.status, EXIT_ERROR) << sel;
    }
}

// An initial guess that already solves the system: no iteration, no stop (for TFQMR as well,
// whose shadow product would be 0). Diagonal pattern: K = A, and x0 = b / d exactly.
TEST(NsyslvStops, ExactInitialGuessReturnsWithoutIterating) {
    const csr s = from_dense({{2, 0, 0, 0}, {0, 4, 0, 0}, {0, 0, 0.5, 0}, {0, 0, 0, 8}});
    for (int sel : kSelectors) {
        SCOPED_TRACE("selector " + std::to_string(sel));
        const outcome o = solve(s, sel, {1, 2, 3, 4}, 20, 1e-10);
        ASSERT_FALSE(o.stopped) << o.lst << o.out;
        EXPECT_EQ(o.NITER, 0);
        EXPECT_EQ(o.x, (std::vector<double>{0.5, 0.5, 6, 0.5}));
        // Printed by gfortran for (0, 0.0, 0.0).
        EXPECT_EQ(o.lst, "    0   0.000000E+00   0.000000E+00  <<NONSYMMETRIC SOLVER>>\n");
        EXPECT_EQ(o.out, "");
    }
}

// A residual whose squares underflow: b = 1.5e-162 (1, 2, -1, 3) makes sum(b^2) a non-zero
// subnormal, while the entries of r^, all smaller, square to 0. TFQMR cannot form its shadow product and stops with
// the line in the listing (printed by gfortran for 0.0); the other methods stop on the tolerance.
TEST(NsyslvStops, TfqmrShadowProductUnderflowStops) {
    const csr s = from_dense(kA4);
    std::vector<double> b = kB4;
    for (double& v : b) v *= 1.5e-162;
    const outcome lower = solve(s, -1, b, 20, 1e-10);
    ASSERT_TRUE(lower.stopped) << lower.lst;
    EXPECT_EQ(lower.status, EXIT_ERROR);
    EXPECT_EQ(lower.lst, "  r0=   0.0000000000000000       cambiare r tilde\n");
    EXPECT_EQ(lower.out, "");
    for (int sel : {-2, -3}) {
        const outcome upper = solve(s, sel, b, 20, 1e-10);
        ASSERT_TRUE(upper.stopped) << sel << upper.lst;
        EXPECT_EQ(upper.lst, "  R0=   0.0000000000000000       CAMBIARE R TILDE\n") << sel;
    }
}

TEST(NsyslvArguments, FaultsOfTheCallerEndTheRunWithAMessage) {
    const csr good = from_dense(kA4);
    const outcome small = solve(good, 2, kB4, 10, 1e-10, {}, 12);
    ASSERT_TRUE(small.stopped);
    EXPECT_EQ(small.status, EXIT_ERROR);
    EXPECT_NE(small.message.find("work array holds 48 values, 52 needed"), std::string::npos)
        << small.message;
    const outcome badnode = solve(good, 0, kB4, 10, 1e-10, {5});
    ASSERT_TRUE(badnode.stopped);
    EXPECT_NE(badnode.message.find("prescribed node 1 is 5"), std::string::npos) << badnode.message;
    csr nodiag = from_dense({{1, 2, 0}, {3, 0, 1}, {0, 1, 1}});
    // Drop the stored zero diagonal of row 2: columns 1, 3 remain.
    {
        csr t;
        t.N = 3;
        t.NZ = nodiag.NZ - 1;
        t.IA.alloc(4);
        t.JA.alloc(t.NZ);
        t.IROW.alloc(t.NZ);
        t.A.alloc(t.NZ);
        int q = 0;
        for (int i = 1; i <= 3; ++i) {
            t.IA(i) = q + 1;
            for (int k = nodiag.IA(i); k < nodiag.IA(i + 1); ++k) {
                if (i == 2 && nodiag.JA(k) == 2) continue;
                ++q;
                t.JA(q) = nodiag.JA(k);
                t.IROW(q) = i;
                t.A(q) = nodiag.A(k);
            }
        }
        t.IA(4) = q + 1;
        const outcome o = solve(t, 1, {1, 1, 1}, 10, 1e-10);
        ASSERT_TRUE(o.stopped);
        EXPECT_NE(o.message.find("row 2 has no diagonal entry"), std::string::npos) << o.message;
    }
    csr badrow = good;
    badrow.IROW(4) = 1;
    const outcome r = solve(badrow, 1, kB4, 10, 1e-10);
    ASSERT_TRUE(r.stopped);
    EXPECT_NE(r.message.find("IROW(4) = 1 in row 2"), std::string::npos) << r.message;
}

// A mesh-sized system: every method converges, and the whole set stays fast.
TEST(NsyslvSolve, LargeSystem) {
    const int nx = 30, ny = 30, nz = 20, n = nx * ny * nz;
    // Built directly in full storage (a dense copy would be too large).
    csr s;
    s.N = n;
    s.IA.alloc(n + 1);
    std::vector<int> ja;
    std::vector<double> a;
    auto id = [&](int i, int j, int k) { return (k * ny + j) * nx + i; };
    const double vx = 1.2, vy = -0.7, vz = 0.4;
    std::vector<double> xt(n), b(n, 0.0);
    for (int i = 0; i < n; ++i) xt[i] = std::cos(0.01 * i);
    for (int k = 0; k < nz; ++k)
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i) {
                const int r = id(i, j, k);
                s.IA(r + 1) = (int)ja.size() + 1;
                auto put = [&](int c, double v) {
                    ja.push_back(c + 1);
                    a.push_back(v);
                    b[r] += v * xt[c];
                };
                if (k > 0) put(id(i, j, k - 1), -1.0 - vz / 2);
                if (j > 0) put(id(i, j - 1, k), -1.0 - vy / 2);
                if (i > 0) put(id(i - 1, j, k), -1.0 - vx / 2);
                put(r, 6.05);
                if (i < nx - 1) put(id(i + 1, j, k), -1.0 + vx / 2);
                if (j < ny - 1) put(id(i, j + 1, k), -1.0 + vy / 2);
                if (k < nz - 1) put(id(i, j, k + 1), -1.0 + vz / 2);
            }
    s.NZ = (int)ja.size();
    s.IA(n + 1) = s.NZ + 1;
    s.JA.alloc(s.NZ);
    s.IROW.alloc(s.NZ);
    s.A.alloc(s.NZ);
    for (int i = 1; i <= n; ++i)
        for (int k = s.IA(i); k < s.IA(i + 1); ++k) s.IROW(k) = i;
    for (int k = 0; k < s.NZ; ++k) {
        s.JA(k + 1) = ja[k];
        s.A(k + 1) = a[k];
    }
    for (int sel : kSelectors) {
        const outcome o = solve(s, sel, b, 1000, 1e-11);
        ASSERT_FALSE(o.stopped) << sel << o.out;
        EXPECT_LT(max_rel_diff(o.x, xt), 1e-7) << sel;
    }
}
