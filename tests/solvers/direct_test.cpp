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

#include "driver/stop.h"
#include "solvers/direct.h"

using namespace nep;

namespace {

struct dense {
    int n;
    std::vector<double> a;
    explicit dense(int n_) : n(n_), a((size_t)n_ * n_, 0.0) {}
    double& operator()(int i, int j) { return a[(size_t)(i - 1) * n + (j - 1)]; }
    double operator()(int i, int j) const { return a[(size_t)(i - 1) * n + (j - 1)]; }
};

// Gaussian elimination with partial pivoting.
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

// A system in full (row) storage with its dense twin.
struct fullsys {
    int N = 0, NZ = 0;
    arr1<int> IA, JA;
    arr1<double> A;
    dense full{1};

    void build(const dense& m, const std::vector<std::set<int>>& rows) {
        N = m.n;
        full = m;
        NZ = 0;
        for (int i = 1; i <= N; ++i) NZ += (int)rows[i].size();
        IA.alloc(N + 1);
        JA.alloc(NZ);
        A.alloc(NZ);
        int k = 1;
        for (int i = 1; i <= N; ++i) {
            IA(i) = k;
            for (int j : rows[i]) {
                JA(k) = j;
                A(k) = m(i, j);
                ++k;
            }
        }
        IA(N + 1) = k;
    }
    // Puts new values from `m` on the same pattern.
    void revalue(const dense& m) {
        full = m;
        for (int i = 1; i <= N; ++i)
            for (int k = IA(i); k < IA(i + 1); ++k) A(k) = m(i, JA(k));
    }
};

// A random pattern (each row: its diagonal and a few random columns) with random values and a
// dominant diagonal.
fullsys random_system(int N, int per_row, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> col(1, N);
    std::uniform_real_distribution<double> val(-1.0, 1.0);
    dense m(N);
    std::vector<std::set<int>> rows(N + 1);
    for (int i = 1; i <= N; ++i) {
        rows[i].insert(i);
        for (int t = 0; t < per_row; ++t) rows[i].insert(col(gen));
        double sum = 0.0;
        for (int j : rows[i]) {
            if (j == i) continue;
            m(i, j) = val(gen);
            sum += std::fabs(m(i, j));
        }
        m(i, i) = (val(gen) < 0 ? -1.0 : 1.0) * (sum + 0.5 + std::fabs(val(gen)));
    }
    fullsys s;
    s.build(m, rows);
    return s;
}

// The full-storage pattern of the grid nx*ny*nz cut into tetrahedra (six per cube along its
// main diagonal): every pair of nodes sharing a tetrahedron.
std::vector<std::set<int>> tet_pattern(int nx, int ny, int nz) {
    const int N = nx * ny * nz;
    auto id = [&](int i, int j, int k) { return 1 + i + nx * (j + ny * k); };
    std::vector<std::set<int>> rows(N + 1);
    const int perms[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    for (int k = 0; k + 1 < nz; ++k)
        for (int j = 0; j + 1 < ny; ++j)
            for (int i = 0; i + 1 < nx; ++i)
                for (const auto& p : perms) {
                    int c[3] = {i, j, k};
                    int v[4];
                    v[0] = id(c[0], c[1], c[2]);
                    for (int s = 0; s < 3; ++s) {
                        c[p[s]] += 1;
                        v[s + 1] = id(c[0], c[1], c[2]);
                    }
                    for (int a = 0; a < 4; ++a)
                        for (int b = 0; b < 4; ++b) rows[v[a]].insert(v[b]);
                }
    return rows;
}

std::vector<double> dense_mul(const dense& m, const std::vector<double>& x) {
    std::vector<double> y(m.n, 0.0);
    for (int i = 1; i <= m.n; ++i)
        for (int j = 1; j <= m.n; ++j) y[i - 1] += m(i, j) * x[j - 1];
    return y;
}

std::vector<std::string> lines_of(const std::string& s) {
    std::vector<std::string> v;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
}

// The caller's side of the solver: the run-wide state, the work array, the listing.
struct caller {
    int LIMNS1;
    int IBOTMN;
    nonsym_state st;
    arr1<double> RNSYM;
    ounit lst;
    arr1<double> x;
    int IER = -1;

    explicit caller(int N, int limit = 1200000) : LIMNS1(limit), IBOTMN(limit) {
        RNSYM.alloc(nonsym_work_length(LIMNS1, N), 0.0);
        lst.open_memory();
        x.alloc(N, 77.0);
    }
    void solve(const fullsys& s, const std::vector<double>& b, const std::vector<int>& dir = {}) {
        arr1<double> bv(s.N);
        for (int i = 1; i <= s.N; ++i) bv(i) = b[i - 1];
        arr1<int> nodes(dir.size());
        for (size_t k = 0; k < dir.size(); ++k) nodes(k + 1) = dir[k];
        NONSYM(lst, s.N, s.NZ, (int)dir.size(), nodes, IER, LIMNS1, IBOTMN, s.IA, s.JA, s.A, bv, x,
               RNSYM, 1.7e-38, st);
    }
    double trace_res() const {
        const auto ls = lines_of(lst.str());
        const std::string& t = ls.back();
        EXPECT_EQ(t.substr(35), "  <<NONSYMMETRIC SOLVER>>") << t;
        EXPECT_EQ(t.substr(0, 20), std::string(20, ' '));
        return std::strtod(t.substr(20, 15).c_str(), nullptr);
    }
};

// A tridiagonal matrix of order n (dominant diagonal 4, couplings -1 and 2).
fullsys tridiagonal(int n) {
    dense m(n);
    std::vector<std::set<int>> rows(n + 1);
    for (int i = 1; i <= n; ++i) {
        m(i, i) = 4.0;
        rows[i].insert(i);
        if (i > 1) { m(i, i - 1) = -1.0; rows[i].insert(i - 1); }
        if (i < n) { m(i, i + 1) = 2.0; rows[i].insert(i + 1); }
    }
    fullsys s;
    s.build(m, rows);
    return s;
}

}  // namespace

TEST(DirectSolve, RandomDominantSystemsAgreeWithDenseElimination) {
    for (unsigned seed : {1u, 2u, 3u, 4u}) {
        const int N = 40 + 10 * (int)seed;
        const fullsys s = random_system(N, 4, seed);
        std::vector<double> xt(N);
        for (int i = 0; i < N; ++i) xt[i] = std::cos(0.4 * i + seed);
        const auto b = dense_mul(s.full, xt);
        const auto ref = dense_solve(s.full, b);
        caller c(N);
        c.solve(s, b);
        ASSERT_EQ(c.IER, 0) << c.lst.str();
        for (int i = 1; i <= N; ++i) {
            EXPECT_NEAR(c.x(i), ref[i - 1], 1e-11) << "seed " << seed << " row " << i;
            EXPECT_NEAR(c.x(i), xt[i - 1], 1e-11) << "seed " << seed << " row " << i;
        }
        EXPECT_LT(c.trace_res(), 1e-13);
        EXPECT_EQ(lines_of(c.lst.str()).size(), 1u);
    }
}

TEST(DirectSolve, TetrahedralPatternWithFillIn) {
    // An advection-diffusion-like matrix on a tetrahedral pattern: the factor fills in far
    // beyond the pattern, all of it in the profile.
    const auto rows = tet_pattern(5, 4, 4);
    const int N = 80;
    dense m(N);
    for (int i = 1; i <= N; ++i)
        for (int j : rows[i]) m(i, j) = i == j ? 8.0 + 0.01 * i : -0.5 + 0.3 * std::sin(i + 2.0 * j);
    fullsys s;
    s.build(m, rows);
    std::vector<double> xt(N);
    for (int i = 0; i < N; ++i) xt[i] = 1.0 - 0.02 * i;
    const auto b = dense_mul(m, xt);
    caller c(N);
    c.solve(s, b);
    ASSERT_EQ(c.IER, 0) << c.lst.str();
    const auto ref = dense_solve(m, b);
    for (int i = 1; i <= N; ++i) EXPECT_NEAR(c.x(i), ref[i - 1], 1e-12) << i;
    // The factor holds at least the pattern (less the diagonal) and some fill.
    EXPECT_GT(c.st.IEND - 1, s.NZ - N);
}

TEST(DirectSolve, FillInStructureAndStorageFigureByHand) {
    // Row 1 couples to 4, row 3 to 1: eliminating column 1 from row 3 brings column 4 in.
    //   [5 . . 1]
    //   [. 5 1 .]
    //   [1 . 5 .]
    //   [. 1 . 5]
    dense m(4);
    m(1, 1) = 5; m(1, 4) = 1; m(2, 2) = 5; m(2, 3) = 1; m(3, 1) = 1; m(3, 3) = 5; m(4, 2) = 1; m(4, 4) = 5;
    fullsys s;
    s.build(m, {{}, {1, 4}, {2, 3}, {1, 3}, {2, 4}});
    caller c(4);
    c.solve(s, {6.0, 6.0, 6.0, 6.0});
    ASSERT_EQ(c.IER, 0);
    // Factor rows: 1: U{4}; 2: U{3}; 3: L{1}, U{4} (fill); 4: L{2, 3} (3 is fill from row 2).
    std::vector<int> jl(c.st.JL.data(), c.st.JL.data() + (c.st.IEND - 1));
    EXPECT_EQ(jl, (std::vector<int>{4, 3, 1, 4, 2, 3}));
    EXPECT_EQ(c.st.IL(1), 1);
    EXPECT_EQ(c.st.IU(3), 4);
    EXPECT_EQ(c.st.IL(5), 7);
    // Storage needed: N + end pointer = 4 + 7.
    EXPECT_EQ(c.st.IBOT, 11);
    EXPECT_EQ(c.IBOTMN, 11);
    for (int i = 1; i <= 4; ++i) EXPECT_NEAR(c.x(i), 1.0, 1e-15);
}

TEST(DirectSolve, TridiagonalStorageFigure) {
    // Tridiagonal of order 5: 2*(5-1) = 8 off-diagonal factor entries, end pointer 9.
    const fullsys s = tridiagonal(5);
    caller c(5);
    EXPECT_EQ(c.IBOTMN, 1200000);
    c.solve(s, {1, 2, 3, 4, 5});
    ASSERT_EQ(c.IER, 0);
    EXPECT_EQ(c.IBOTMN, 14);
    const auto ref = dense_solve(s.full, {1, 2, 3, 4, 5});
    for (int i = 1; i <= 5; ++i) EXPECT_NEAR(c.x(i), ref[i - 1], 1e-15);
}

TEST(DirectSolve, SymbolicOnceNumericEveryCall) {
    fullsys s = random_system(30, 3, 11);
    caller c(30);
    std::vector<double> b(30);
    for (int i = 0; i < 30; ++i) b[i] = 1.0 + i;
    c.solve(s, b);
    ASSERT_EQ(c.IER, 0);
    const int ibot = c.IBOTMN;
    // New values on the same pattern.
    dense m2 = s.full;
    for (int i = 1; i <= 30; ++i)
        for (int j = 1; j <= 30; ++j)
            if (m2(i, j) != 0.0) m2(i, j) *= i == j ? 1.5 : -0.7;
    s.revalue(m2);
    c.solve(s, b);
    ASSERT_EQ(c.IER, 0);
    EXPECT_EQ(c.st.NSYMB, 1);
    EXPECT_EQ(c.st.NNUM, 2);
    EXPECT_EQ(c.IBOTMN, ibot);
    const auto ref = dense_solve(m2, b);
    for (int i = 1; i <= 30; ++i) EXPECT_NEAR(c.x(i), ref[i - 1], 1e-12) << i;
    EXPECT_EQ(lines_of(c.lst.str()).size(), 2u);  // one trace line per call
}

TEST(DirectSolve, ZeroRightHandSideSolvesToZeroWithoutWarning) {
    const fullsys s = random_system(12, 3, 5);
    caller c(12);
    c.solve(s, std::vector<double>(12, 0.0));
    ASSERT_EQ(c.IER, 0);
    for (int i = 1; i <= 12; ++i) EXPECT_EQ(c.x(i), 0.0);
    // gfortran: "(20X,1PE15.6,'  <<NONSYMMETRIC SOLVER>>')" with 0.0
    EXPECT_EQ(c.lst.str(), "                       0.000000E+00  <<NONSYMMETRIC SOLVER>>\n");
}

TEST(DirectSolve, UnsortedRowsArePutInOrder) {
    // A dense random matrix whose column lists are stored shuffled: the symbolic phase sorts
    // each row (long rows go through the quicksort partitions).
    const int N = 45;
    dense m(N);
    std::vector<std::set<int>> full_rows(N + 1);
    for (int i = 1; i <= N; ++i)
        for (int j = 1; j <= N; ++j) {
            full_rows[i].insert(j);
            m(i, j) = i == j ? 50.0 + i : std::sin(0.1 * i * j + j);
        }
    fullsys d;
    d.build(m, full_rows);
    fullsys s = d;
    std::mt19937 gen(3);
    for (int i = 1; i <= N; ++i) {
        std::vector<std::pair<int, double>> row;
        for (int k = s.IA(i); k < s.IA(i + 1); ++k) row.push_back({s.JA(k), s.A(k)});
        std::shuffle(row.begin(), row.end(), gen);
        int k = s.IA(i);
        for (const auto& e : row) { s.JA(k) = e.first; s.A(k) = e.second; ++k; }
    }
    std::vector<double> b(N);
    for (int i = 0; i < N; ++i) b[i] = std::sin(1.0 + i);
    caller c(N);
    c.solve(s, b);
    ASSERT_EQ(c.IER, 0);
    for (int i = 1; i <= N; ++i)
        for (int m = c.st.IL(i) + 1; m < c.st.IL(i + 1); ++m) {
            if (m == c.st.IU(i)) continue;
            EXPECT_LT(c.st.JL(m - 1), c.st.JL(m));
        }
    const auto ref = dense_solve(d.full, b);
    for (int i = 1; i <= N; ++i) EXPECT_NEAR(c.x(i), ref[i - 1], 1e-11) << i;
}

TEST(DirectSolve, PrescribedRowsAreLeftOutOfTheResidual) {
    // Penalty rows (1.7e29 on the diagonal) leave a residual there of the order of rounding
    // times 1e29; the measure on the trace line ignores those rows.
    fullsys s = random_system(25, 3, 8);
    dense m = s.full;
    for (int n : {3, 10, 25}) m(n, n) = 1.7e29;
    s.revalue(m);
    std::vector<double> b(25);
    for (int i = 0; i < 25; ++i) b[i] = 1.0 + std::sin(3.0 * i);
    for (int n : {3, 10, 25}) b[n - 1] = 1.7e29 * 1.234567891234;
    caller c(25);
    c.solve(s, b, {3, 10, 25});
    ASSERT_EQ(c.IER, 0);
    EXPECT_LT(c.trace_res(), 1e-13);
    EXPECT_NEAR(c.x(10), 1.234567891234, 1e-12);
}

TEST(DirectCodes, EmptyRowIs1000) {
    // Row 2 of 4 has no entries.
    dense m(4);
    m(1, 1) = 1; m(3, 3) = 1; m(4, 4) = 1;
    fullsys s;
    s.build(m, {{}, {1}, {}, {3}, {4}});
    caller c(4);
    c.solve(s, {1, 1, 1, 1});
    EXPECT_EQ(c.IER, 1000);
    EXPECT_EQ(c.st.NDONE, 1);
    EXPECT_EQ(c.lst.str(),
              "\n\n  ERROR FROM NONSYM ROUTINE FASINS, CODE 1000\n"
              "            1 NODES PROCESSED SO FAR OUT OF       4\n");
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(c.x(i), 0.0);
    EXPECT_EQ(c.IBOTMN, 1200000);  // no storage figure from a failed structure
}

TEST(DirectCodes, RowStartingRightOfItsDiagonalIs2000) {
    dense m(3);
    m(1, 1) = 1; m(2, 3) = 1; m(3, 3) = 1;
    fullsys s;
    s.build(m, {{}, {1}, {3}, {3}});
    caller c(3);
    c.solve(s, {1, 1, 1});
    EXPECT_EQ(c.IER, 2000);
    EXPECT_EQ(c.lst.str(),
              "\n\n  ERROR FROM NONSYM ROUTINE FASINS, CODE 2000\n"
              "            1 NODES PROCESSED SO FAR OUT OF       3\n");
}

TEST(DirectCodes, StorageBeyondCapacityIs3000) {
    // Tridiagonal of order 5 with room for 10: the storage after row 1 is N + end pointer =
    // 5+1+1 = 7, after row 2 5+2+2 = 9, after row 3 it would be 5+4+2 = 11.
    const fullsys s = tridiagonal(5);
    caller c(5, 10);
    c.solve(s, {1, 2, 3, 4, 5});
    EXPECT_EQ(c.IER, 3000);
    EXPECT_EQ(c.lst.str(),
              "\n\n  ERROR FROM NONSYM ROUTINE FASINS, CODE 3000\n"
              "            2 NODES PROCESSED SO FAR OUT OF       5\n");
    // Capacity 12 holds rows 1..3 and fails at row 4 (5+6+2 = 13).
    caller d(5, 12);
    d.solve(s, {1, 2, 3, 4, 5});
    EXPECT_EQ(d.IER, 3000);
    EXPECT_EQ(d.st.NDONE, 3);
    // And 14 fits the whole factor (N + end pointer = 5 + 9).
    caller e(5, 14);
    e.solve(s, {1, 2, 3, 4, 5});
    EXPECT_EQ(e.IER, 0);
    EXPECT_EQ(e.IBOTMN, 14);
}

TEST(DirectCodes, LargeMeshExceedsTheCapacityAtTheFirstCall) {
    // A 10x10x70 tetrahedral mesh (7000 nodes): its LU profile needs some 1.5 million entries,
    // more than the 1 200 000 of the capacity. The row where the capacity runs out is found
    // here independently, through the elimination tree of the (structurally symmetric)
    // pattern: the U structure of row i is its own columns right of i joined with the U
    // structures of its children, and its L entries are the rows above whose U holds i.
    const int nx = 10, nz = 70;
    const auto rows = tet_pattern(nx, nx, nz);
    const int N = nx * nx * nz;
    fullsys s;
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
    long used = 1;  // end pointer
    long total = 0;
    int expected_done = -1;
    for (int i = 1; i <= N; ++i) {
        std::vector<int> u(rows[i].upper_bound(i), rows[i].end());
        for (int c : children[i]) {
            std::vector<int> merged;
            std::set_union(u.begin(), u.end(), ustruct[c].begin(), ustruct[c].end(),
                           std::back_inserter(merged));
            merged.erase(std::remove(merged.begin(), merged.end(), i), merged.end());
            u.swap(merged);
        }
        const long off = (long)u.size() + lcount[i];
        if (expected_done < 0 && N + used + off > 1200000) expected_done = i - 1;
        used += off;
        total += off;
        for (int c : u) ++lcount[c];
        if (!u.empty()) children[u.front()].push_back(i);
        ustruct[i].swap(u);
    }
    ASSERT_GT(total, 1200000);
    ASSERT_GT(expected_done, 0);

    caller c(N);
    std::vector<double> b(N, 1.0);
    c.solve(s, b);
    EXPECT_EQ(c.IER, 3000);
    EXPECT_EQ(c.st.NDONE, expected_done);
    const auto ls = lines_of(c.lst.str());
    ASSERT_EQ(ls.size(), 4u);
    EXPECT_EQ(ls[2], "  ERROR FROM NONSYM ROUTINE FASINS, CODE 3000");
    char expect[64];
    std::snprintf(expect, sizeof expect, "      %7d NODES PROCESSED SO FAR OUT OF    7000", expected_done);
    EXPECT_EQ(ls[3], expect);
    for (int i = 1; i <= N; ++i) ASSERT_EQ(c.x(i), 0.0);

    // With room for the whole factor the same matrix is solved, and the storage figure is
    // N plus the end pointer the independent count gives.
    caller big(N, 2000000);
    big.solve(s, b);
    ASSERT_EQ(big.IER, 0);
    EXPECT_EQ(big.IBOTMN, N + total + 1);
    const double res = big.trace_res();
    EXPECT_LT(res, 1e-12);
}

TEST(DirectCodes, MissingDiagonalAfterFillInIs4000) {
    // Row 2 = {1, 3}: row 1 brings no U column, so column 2 never appears.
    dense m(3);
    m(1, 1) = 1; m(2, 1) = 1; m(2, 3) = 1; m(3, 3) = 1;
    fullsys s;
    s.build(m, {{}, {1}, {1, 3}, {3}});
    caller c(3);
    c.solve(s, {1, 1, 1});
    EXPECT_EQ(c.IER, 4000);
    EXPECT_EQ(c.lst.str(),
              "\n\n  ERROR FROM NONSYM ROUTINE FASINS, CODE 4000\n"
              "            1 NODES PROCESSED SO FAR OUT OF       3\n");
    // A diagonal that fill-in supplies is fine: row 1 = {1, 2}, row 2 = {1}.
    dense m2(2);
    m2(1, 1) = 2; m2(1, 2) = 1; m2(2, 1) = 4;
    fullsys s2;
    s2.build(m2, {{}, {1, 2}, {1}});
    caller c2(2);
    c2.solve(s2, {3, 4});  // [2 1; 4 0] x = (3, 4): x = (1, 1); the pivot of row 2 is -2
    EXPECT_EQ(c2.IER, 0);
    EXPECT_NEAR(c2.x(1), 1.0, 1e-15);
    EXPECT_NEAR(c2.x(2), 1.0, 1e-15);
    // A column stored twice or outside 1..N is an inconsistent structure.
    fullsys s3 = tridiagonal(3);
    s3.JA(2) = 1;  // row 1 = {1, 1}
    caller c3(3);
    c3.solve(s3, {1, 1, 1});
    EXPECT_EQ(c3.IER, 4000);
    fullsys s4 = tridiagonal(3);
    s4.JA(5) = 9;
    caller c4(3);
    c4.solve(s4, {1, 1, 1});
    EXPECT_EQ(c4.IER, 4000);
    EXPECT_EQ(c4.st.NDONE, 1);
}

TEST(DirectCodes, ZeroPivotAtRowSevenIs5000) {
    // Tridiagonal of order 10 with A(6,7) = 0 (so row 7 inherits nothing from row 6) and
    // A(7,7) = 0: the pivot of row 7 is exactly 0.
    fullsys s = tridiagonal(10);
    dense m = s.full;
    m(6, 7) = 0.0;
    m(7, 7) = 0.0;
    s.revalue(m);
    caller c(10);
    c.solve(s, std::vector<double>(10, 1.0));
    EXPECT_EQ(c.IER, 5000);
    EXPECT_EQ(c.lst.str(), "\n\n  ERROR FROM NONSYM ROUTINE FANUNS, CODE 5000\n");
    for (int i = 1; i <= 10; ++i) EXPECT_EQ(c.x(i), 0.0);
    // The structure is sound: the storage figure of the symbolic phase is kept.
    EXPECT_EQ(c.IBOTMN, 10 + 19);
    // Values that are not numbers give an undefined pivot: the same code.
    m(7, 7) = NAN;
    s.revalue(m);
    c.solve(s, std::vector<double>(10, 1.0));
    EXPECT_EQ(c.IER, 5000);
    EXPECT_EQ(c.st.NSYMB, 1);
}

TEST(DirectCodes, FailedStructureIsReportedAgainNotReused) {
    const fullsys s = tridiagonal(5);
    caller c(5, 10);
    c.solve(s, {1, 2, 3, 4, 5});
    EXPECT_EQ(c.IER, 3000);
    c.lst.clear();
    c.solve(s, {1, 2, 3, 4, 5});
    EXPECT_EQ(c.IER, 3000);
    EXPECT_EQ(c.st.NSYMB, 1);
    EXPECT_EQ(c.st.NNUM, 0);
    EXPECT_EQ(c.lst.str(),
              "\n\n  ERROR FROM NONSYM ROUTINE FASINS, CODE 3000\n"
              "            2 NODES PROCESSED SO FAR OUT OF       5\n");
}

TEST(DirectCodes, MissingWorkSpaceIsAnInternalError) {
    // A run whose sizes did not enable the direct solver has one-entry work arrays.
    const fullsys s = tridiagonal(4);
    caller c(4);
    c.RNSYM.alloc(1);
    arr1<double> b(4, 1.0);
    arr1<int> nodes;
    try {
        NONSYM(c.lst, 4, s.NZ, 0, nodes, c.IER, c.LIMNS1, c.IBOTMN, s.IA, s.JA, s.A, b, c.x,
               c.RNSYM, 1.7e-38, c.st);
        ADD_FAILURE() << "no stop";
    } catch (const run_stop& e) {
        EXPECT_EQ(e.status, EXIT_ERROR);
        EXPECT_NE(e.message.find("INONSY"), std::string::npos) << e.message;
    }
    // And a later call for another system size is refused once the structure exists.
    caller d(4);
    d.solve(s, {1, 1, 1, 1});
    ASSERT_EQ(d.IER, 0);
    const fullsys t = tridiagonal(3);
    arr1<double> b3(3, 1.0);
    EXPECT_THROW(NONSYM(d.lst, 3, t.NZ, 0, nodes, d.IER, d.LIMNS1, d.IBOTMN, t.IA, t.JA, t.A, b3,
                        d.x, d.RNSYM, 1.7e-38, d.st),
                 run_stop);
}
