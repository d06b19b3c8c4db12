// The direct nonsymmetric solver: symbolic structure with fill-in (once per run), numeric LU
// without pivoting (every call), the solve, the codes 1000 to 5000 with their messages and the
// storage figure. Solutions are checked against dense Gaussian elimination written here; the
// message lines against gfortran renderings (tools/fortran-format).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/stop.h"
#include "solvers/specified/direct.h"

using namespace nep;

namespace {

using rowsets = std::vector<std::set<int>>;  // column sets of rows 1..N (entry 0 unused)
using vec = std::vector<double>;

struct dense {
    int n;
    vec a;
    explicit dense(int n_) : n(n_), a((size_t)n_ * n_, 0.0) {}
    double& operator()(int i, int j) { return a[(size_t)(i - 1) * n + (j - 1)]; }
    double operator()(int i, int j) const { return a[(size_t)(i - 1) * n + (j - 1)]; }
    vec mul(const vec& x) const {
        vec y(n, 0.0);
        for (int i = 1; i <= n; ++i)
            for (int j = 1; j <= n; ++j) y[i - 1] += (*this)(i, j) * x[j - 1];
        return y;
    }
};

// Gaussian elimination with partial pivoting: the reference solution.
vec dense_solve(dense m, vec b) {
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
    vec x(n);
    for (int i = n; i >= 1; --i) {
        double s = b[i - 1];
        for (int j = i + 1; j <= n; ++j) s -= m(i, j) * x[j - 1];
        x[i - 1] = s / m(i, i);
    }
    return x;
}

// Full (row) storage of `m` on the pattern `rows`, and its dense twin.
struct fullsys {
    int N = 0, NZ = 0;
    arr1<int> IA, JA;
    arr1<double> A;
    dense full{1};
    fullsys(const dense& m, const rowsets& rows) : N(m.n), full(m) {
        for (int i = 1; i <= N; ++i) NZ += (int)rows[i].size();
        IA.alloc(N + 1);
        JA.alloc(NZ);
        A.alloc(NZ);
        int k = 1;
        for (int i = 1; i <= N; ++i) {
            IA(i) = k;
            for (int j : rows[i]) { JA(k) = j; A(k) = m(i, j); ++k; }
        }
        IA(N + 1) = k;
    }
    // New values from `m` on the same pattern.
    void revalue(const dense& m) {
        full = m;
        for (int i = 1; i <= N; ++i)
            for (int k = IA(i); k < IA(i + 1); ++k) A(k) = m(i, JA(k));
    }
};

// Random pattern (the diagonal and a few random columns per row), random values, dominant
// diagonal of random sign.
fullsys random_system(int N, int per_row, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> col(1, N);
    std::uniform_real_distribution<double> val(-1.0, 1.0);
    dense m(N);
    rowsets rows(N + 1);
    for (int i = 1; i <= N; ++i) {
        rows[i].insert(i);
        for (int t = 0; t < per_row; ++t) rows[i].insert(col(gen));
        double sum = 0.5;
        for (int j : rows[i])
            if (j != i) { m(i, j) = val(gen); sum += std::fabs(m(i, j)); }
        m(i, i) = val(gen) < 0 ? -sum : sum;
    }
    return fullsys(m, rows);
}

// The full-storage pattern of the grid nx*ny*nz cut into tetrahedra (six per cube along its
// main diagonal): every pair of nodes sharing a tetrahedron.
rowsets tet_pattern(int nx, int ny, int nz) {
    auto id = [&](int i, int j, int k) { return 1 + i + nx * (j + ny * k); };
    rowsets rows(nx * ny * nz + 1);
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
    return rows;
}

// Order n: diagonal 4, couplings -1 (left) and 2 (right).
fullsys tridiagonal(int n) {
    dense m(n);
    rowsets rows(n + 1);
    for (int i = 1; i <= n; ++i) {
        m(i, i) = 4.0;
        rows[i] = {std::max(i - 1, 1), i, std::min(i + 1, n)};
        if (i > 1) m(i, i - 1) = -1.0;
        if (i < n) m(i, i + 1) = 2.0;
    }
    return fullsys(m, rows);
}

std::vector<std::string> lines_of(const std::string& s) {
    std::vector<std::string> v;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
}

// gfortran renderings of the FASINS message with (code, rows done, N).
std::string fasins_msg(int code, int done, int n) {
    char buf[160];
    std::snprintf(buf, sizeof buf,
                  "\n\n  ERROR FROM NONSYM ROUTINE FASINS, CODE %4d\n      %7d NODES PROCESSED SO FAR OUT OF %7d\n",
                  code, done, n);
    return buf;
}

// The caller's side: the run-wide state, the work array, the listing, the storage figures.
struct caller {
    int LIMNS1, IBOTMN;
    nonsym_state st;
    arr1<double> RNSYM, x;
    ounit lst;
    int IER = -1;

    explicit caller(int N, int limit = 1200000) : LIMNS1(limit), IBOTMN(limit) {
        RNSYM.alloc(nonsym_work_length(LIMNS1, N), 0.0);
        x.alloc(N, 77.0);
        lst.open_memory();
    }
    void solve(const fullsys& s, const vec& b, const std::vector<int>& dir = {}) {
        arr1<double> bv(s.N);
        std::copy(b.begin(), b.end(), bv.begin());
        arr1<int> nodes(dir.size());
        std::copy(dir.begin(), dir.end(), nodes.begin());
        NONSYM(lst, s.N, s.NZ, (int)dir.size(), nodes, IER, LIMNS1, IBOTMN, s.IA, s.JA, s.A, bv, x,
               RNSYM, 1.7e-38, st);
    }
    double trace_res() const {
        const std::string t = lines_of(lst.str()).back();
        EXPECT_EQ(t.substr(0, 20), std::string(20, ' '));
        EXPECT_EQ(t.substr(35), "  <<NONSYMMETRIC SOLVER>>") << t;
        return std::strtod(t.substr(20, 15).c_str(), nullptr);
    }
    void expect_solution(const vec& ref, double tol) const {
        for (int i = 1; i <= x.size(); ++i) EXPECT_NEAR(x(i), ref[i - 1], tol) << i;
    }
    bool zero_solution() const {
        return std::all_of(x.begin(), x.end(), [](double v) { return v == 0.0; });
    }
};

}  // namespace

TEST(DirectSolve, RandomAndTetrahedralSystemsAgreeWithDenseElimination) {
    for (unsigned seed : {1u, 2u, 3u, 4u}) {
        const int N = 40 + 10 * (int)seed;
        const fullsys s = random_system(N, 4, seed);
        vec xt(N);
        for (int i = 0; i < N; ++i) xt[i] = std::cos(0.4 * i + seed);
        const vec b = s.full.mul(xt);
        caller c(N);
        c.solve(s, b);
        ASSERT_EQ(c.IER, 0) << c.lst.str();
        c.expect_solution(dense_solve(s.full, b), 1e-11);
        c.expect_solution(xt, 1e-11);
        EXPECT_LT(c.trace_res(), 1e-13);
        EXPECT_EQ(lines_of(c.lst.str()).size(), 1u);  // the trace line only
    }
    // An advection-diffusion-like matrix on a tetrahedral pattern: much fill-in.
    const rowsets rows = tet_pattern(5, 4, 4);
    dense m(80);
    for (int i = 1; i <= 80; ++i)
        for (int j : rows[i]) m(i, j) = i == j ? 8.0 + 0.01 * i : -0.5 + 0.3 * std::sin(i + 2.0 * j);
    const fullsys s(m, rows);
    const vec b = m.mul(vec(80, 1.0));
    caller c(80);
    c.solve(s, b);
    ASSERT_EQ(c.IER, 0);
    c.expect_solution(dense_solve(m, b), 1e-12);
    EXPECT_GT(c.st.IEND - 1, s.NZ - 80);  // more factor entries than off-diagonal entries
}

TEST(DirectSolve, FillInStructureAndStorageFigureByHand) {
    // Row 1 couples to 4, row 3 to 1: eliminating column 1 from row 3 brings column 4 in.
    //   [5 . . 1]
    //   [. 5 1 .]
    //   [1 . 5 .]
    //   [. 1 . 5]
    dense m(4);
    m(1, 1) = 5; m(1, 4) = 1; m(2, 2) = 5; m(2, 3) = 1; m(3, 1) = 1; m(3, 3) = 5; m(4, 2) = 1; m(4, 4) = 5;
    const fullsys s(m, {{}, {1, 4}, {2, 3}, {1, 3}, {2, 4}});
    caller c(4);
    EXPECT_EQ(c.IBOTMN, 1200000);
    c.solve(s, {6.0, 6.0, 6.0, 6.0});
    ASSERT_EQ(c.IER, 0);
    // Factor rows: 1: U{4}; 2: U{3}; 3: L{1}, U{4} (fill); 4: L{2, 3} (3 is fill from row 2).
    EXPECT_EQ(std::vector<int>(c.st.JL.begin(), c.st.JL.begin() + (c.st.IEND - 1)),
              (std::vector<int>{4, 3, 1, 4, 2, 3}));
    EXPECT_EQ(c.st.IU(3), 4);
    EXPECT_EQ(c.st.IL(5), 7);
    EXPECT_EQ(c.IBOTMN, 4 + 7);  // N + end pointer
    c.expect_solution(vec(4, 1.0), 1e-15);
}

TEST(DirectSolve, SymbolicOnceNumericEveryCall) {
    fullsys s = random_system(30, 3, 11);
    caller c(30);
    vec b(30);
    for (int i = 0; i < 30; ++i) b[i] = 1.0 + i;
    c.solve(s, b);
    ASSERT_EQ(c.IER, 0);
    const int ibot = c.IBOTMN;
    dense m2 = s.full;
    for (double& v : m2.a) v *= v > 0 ? 1.5 : -0.7;
    s.revalue(m2);
    c.solve(s, b);
    ASSERT_EQ(c.IER, 0);
    EXPECT_EQ(c.st.NSYMB, 1);
    EXPECT_EQ(c.st.NNUM, 2);
    EXPECT_EQ(c.IBOTMN, ibot);
    c.expect_solution(dense_solve(m2, b), 1e-12);
}

TEST(DirectSolve, ZeroRightHandSideSolvesToZeroWithoutWarning) {
    caller c(12);
    c.solve(random_system(12, 3, 5), vec(12, 0.0));
    ASSERT_EQ(c.IER, 0);
    EXPECT_TRUE(c.zero_solution());
    // gfortran: "(20X,1PE15.6,'  <<NONSYMMETRIC SOLVER>>')" with 0.0
    EXPECT_EQ(c.lst.str(), "                       0.000000E+00  <<NONSYMMETRIC SOLVER>>\n");
}

TEST(DirectSolve, UnsortedRowsArePutInOrder) {
    // A full 45x45 matrix whose column lists are stored shuffled: the symbolic phase sorts each
    // row (rows this long go through the quicksort partitions).
    const int N = 45;
    dense m(N);
    rowsets rows(N + 1);
    for (int i = 1; i <= N; ++i)
        for (int j = 1; j <= N; ++j) {
            rows[i].insert(j);
            m(i, j) = i == j ? 50.0 + i : std::sin(0.1 * i * j + j);
        }
    fullsys s(m, rows);
    std::mt19937 gen(3);
    for (int i = 1; i <= N; ++i) std::shuffle(s.JA.data() + s.IA(i) - 1, s.JA.data() + s.IA(i + 1) - 1, gen);
    s.revalue(m);
    vec b(N);
    for (int i = 0; i < N; ++i) b[i] = std::sin(1.0 + i);
    caller c(N);
    c.solve(s, b);
    ASSERT_EQ(c.IER, 0);
    for (int i = 1; i <= N; ++i) {
        EXPECT_TRUE(std::is_sorted(c.st.JL.data() + c.st.IL(i) - 1, c.st.JL.data() + c.st.IU(i) - 1));
        EXPECT_TRUE(std::is_sorted(c.st.JL.data() + c.st.IU(i) - 1, c.st.JL.data() + c.st.IL(i + 1) - 1));
    }
    c.expect_solution(dense_solve(m, b), 1e-11);
}

TEST(DirectSolve, PrescribedRowsAreLeftOutOfTheResidual) {
    // Penalty rows (1.7e29 on the diagonal) leave a residual of the order of rounding times
    // 1e29 there; the measure on the trace line ignores those rows.
    fullsys s = random_system(25, 3, 8);
    dense m = s.full;
    vec b(25);
    for (int i = 0; i < 25; ++i) b[i] = 1.0 + std::sin(3.0 * i);
    for (int n : {3, 10, 25}) {
        m(n, n) = 1.7e29;
        b[n - 1] = 1.7e29 * 1.234567891234;
    }
    s.revalue(m);
    caller c(25);
    c.solve(s, b, {3, 10, 25});
    ASSERT_EQ(c.IER, 0);
    EXPECT_LT(c.trace_res(), 1e-13);
    EXPECT_NEAR(c.x(10), 1.234567891234, 1e-12);
}

TEST(DirectCodes, StructureCodesAndTheirMessages) {
    struct bad {
        int n;
        rowsets rows;
        int code, done;
    };
    const bad cases[] = {
        {4, {{}, {1}, {}, {3}, {4}}, 1000, 1},      // row 2 empty
        {3, {{}, {1}, {3}, {3}}, 2000, 1},          // row 2 starts right of its diagonal
        {3, {{}, {1}, {1, 3}, {3}}, 4000, 1},       // row 1 brings no column 2 into row 2
    };
    for (const bad& t : cases) {
        dense m(t.n);
        for (int i = 1; i <= t.n; ++i)
            for (int j : t.rows[i]) m(i, j) = 1.0;
        caller c(t.n);
        c.solve(fullsys(m, t.rows), vec(t.n, 1.0));
        EXPECT_EQ(c.IER, t.code);
        EXPECT_EQ(c.lst.str(), fasins_msg(t.code, t.done, t.n));
        EXPECT_TRUE(c.zero_solution());
        EXPECT_EQ(c.IBOTMN, 1200000);  // no storage figure from a failed structure
    }
    // A diagonal that fill-in supplies is fine: [2 1; 4 .] x = (3, 4) gives (1, 1), pivot -2.
    dense m(2);
    m(1, 1) = 2; m(1, 2) = 1; m(2, 1) = 4;
    caller c(2);
    c.solve(fullsys(m, {{}, {1, 2}, {1}}), {3, 4});
    EXPECT_EQ(c.IER, 0);
    c.expect_solution({1.0, 1.0}, 1e-15);
    // A column stored twice or outside 1..N is an inconsistent structure.
    fullsys twice = tridiagonal(3), outside = tridiagonal(3);
    twice.JA(2) = 1;
    outside.JA(5) = 9;
    caller c2(3), c3(3);
    c2.solve(twice, vec(3, 1.0));
    c3.solve(outside, vec(3, 1.0));
    EXPECT_EQ(c2.IER, 4000);
    EXPECT_EQ(c3.IER, 4000);
    EXPECT_EQ(c3.st.NDONE, 1);
}

TEST(DirectCodes, StorageBeyondCapacityIs3000) {
    // Tridiagonal of order 5: the storage N + end pointer is 5+1+1 = 7 after row 1, then 9, 11,
    // 13 and 14 after row 5.
    const fullsys s = tridiagonal(5);
    caller c(5, 10);
    c.solve(s, {1, 2, 3, 4, 5});
    EXPECT_EQ(c.IER, 3000);
    EXPECT_EQ(c.lst.str(), fasins_msg(3000, 2, 5));
    // A later call reports the same failure and never factorises the incomplete structure.
    c.lst.clear();
    c.solve(s, {1, 2, 3, 4, 5});
    EXPECT_EQ(c.IER, 3000);
    EXPECT_EQ(c.lst.str(), fasins_msg(3000, 2, 5));
    EXPECT_EQ(c.st.NSYMB, 1);
    EXPECT_EQ(c.st.NNUM, 0);
    caller d(5, 12);
    d.solve(s, {1, 2, 3, 4, 5});
    EXPECT_EQ(d.st.NDONE, 3);
    caller e(5, 14);
    e.solve(s, {1, 2, 3, 4, 5});
    EXPECT_EQ(e.IER, 0);
    EXPECT_EQ(e.IBOTMN, 14);
    e.expect_solution(dense_solve(s.full, {1, 2, 3, 4, 5}), 1e-15);
}

TEST(DirectCodes, LargeMeshExceedsTheCapacityAtTheFirstCall) {
    // A 10x10x70 tetrahedral mesh (7000 nodes) whose LU needs about 1.5 million entries. The row
    // where 1 200 000 runs out is found independently through the elimination tree of the
    // (structurally symmetric) pattern: the U structure of row i is its own columns right of i
    // joined with the U structures of its children (rows whose first U column is i), and its L
    // entries are the rows above whose U holds i.
    const int N = 7000;
    const rowsets rows = tet_pattern(10, 10, 70);
    dense m(1);
    fullsys s(m, rowsets(2));  // sized below by hand: a dense twin of 7000 would be too big
    s.N = N;
    s.NZ = 0;
    for (int i = 1; i <= N; ++i) s.NZ += (int)rows[i].size();
    s.IA.alloc(N + 1);
    s.JA.alloc(s.NZ);
    s.A.alloc(s.NZ);
    int k = 1;
    for (int i = 1; i <= N; ++i) {
        s.IA(i) = k;
        for (int j : rows[i]) { s.JA(k) = j; s.A(k) = i == j ? 30.0 : -1.0; ++k; }
    }
    s.IA(N + 1) = k;

    std::vector<std::vector<int>> ustruct(N + 1), children(N + 1);
    std::vector<long> lcount(N + 2, 0);
    long total = 0;
    int expected_done = -1;
    for (int i = 1; i <= N; ++i) {
        std::vector<int> u(rows[i].upper_bound(i), rows[i].end());
        for (int c : children[i]) {
            std::vector<int> merged;
            std::set_union(u.begin(), u.end(), ustruct[c].begin() + 1, ustruct[c].end(),
                           std::back_inserter(merged));
            u.swap(merged);
        }
        const long off = (long)u.size() + lcount[i];
        if (expected_done < 0 && N + total + 1 + off > 1200000) expected_done = i - 1;
        total += off;
        for (int c : u) ++lcount[c];
        if (!u.empty()) children[u.front()].push_back(i);
        ustruct[i].swap(u);
    }
    ASSERT_GT(total, 1200000);
    ASSERT_GT(expected_done, 0);

    caller c(N);
    c.solve(s, vec(N, 1.0));
    EXPECT_EQ(c.IER, 3000);
    EXPECT_EQ(c.lst.str(), fasins_msg(3000, expected_done, N));
    EXPECT_TRUE(c.zero_solution());
    // With room for the whole factor the matrix is solved, and the storage figure is N plus
    // the end pointer the independent count gives.
    caller big(N, 2000000);
    big.solve(s, vec(N, 1.0));
    ASSERT_EQ(big.IER, 0);
    EXPECT_EQ(big.IBOTMN, N + total + 1);
    EXPECT_LT(big.trace_res(), 1e-12);
}

TEST(DirectCodes, ZeroPivotAtRowSevenIs5000) {
    // Tridiagonal of order 10 with A(6,7) = 0 (row 7 inherits nothing from row 6) and A(7,7) = 0.
    fullsys s = tridiagonal(10);
    dense m = s.full;
    m(6, 7) = 0.0;
    m(7, 7) = 0.0;
    s.revalue(m);
    caller c(10);
    c.solve(s, vec(10, 1.0));
    EXPECT_EQ(c.IER, 5000);
    EXPECT_EQ(c.lst.str(), "\n\n  ERROR FROM NONSYM ROUTINE FANUNS, CODE 5000\n");
    EXPECT_TRUE(c.zero_solution());
    EXPECT_EQ(c.IBOTMN, 10 + 19);  // the structure itself is sound
    // A value that is not a number makes an undefined pivot: the same code.
    m(7, 7) = NAN;
    s.revalue(m);
    c.solve(s, vec(10, 1.0));
    EXPECT_EQ(c.IER, 5000);
}

TEST(DirectCodes, MisusedCallsAreInternalErrors) {
    // A run whose sizes did not enable the direct solver has one-entry work arrays.
    const fullsys s = tridiagonal(4);
    caller c(4);
    c.RNSYM.alloc(1);
    try {
        c.solve(s, vec(4, 1.0));
        ADD_FAILURE() << "no stop";
    } catch (const run_stop& e) {
        EXPECT_EQ(e.status, EXIT_ERROR);
        EXPECT_NE(e.message.find("INONSY"), std::string::npos) << e.message;
    }
    // A call for another system size once the structure exists.
    caller d(4);
    d.solve(s, vec(4, 1.0));
    ASSERT_EQ(d.IER, 0);
    EXPECT_THROW(d.solve(tridiagonal(3), vec(3, 1.0)), run_stop);
}
