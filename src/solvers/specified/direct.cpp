#include "solvers/specified/direct.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "base/format.h"
#include "base/stop.h"

namespace nep {

namespace {

constexpr int kEmptyRow = 1000;
constexpr int kNoLowColumn = 2000;
constexpr int kStorage = 3000;
constexpr int kNoDiagonal = 4000;
constexpr int kZeroPivot = 5000;

[[noreturn]] void solver_fault(const std::string& what) {
    input_error("internal error in the direct solver: " + what);
}

// Sorts a[0..n-1] ascending: quicksort with median-of-three partitioning and an explicit stack
// (the larger part is pushed, the smaller one done at once, so the stack never holds more than
// log2(n) parts), short parts by insertion.
void sort_row(int* a, int n) {
    constexpr int kShort = 8;
    int stack[2 * 64];
    int top = 0;
    int lo = 0, hi = n - 1;
    for (;;) {
        while (hi - lo > kShort) {
            const int mid = lo + (hi - lo) / 2;
            if (a[mid] < a[lo]) std::swap(a[mid], a[lo]);
            if (a[hi] < a[lo]) std::swap(a[hi], a[lo]);
            if (a[hi] < a[mid]) std::swap(a[hi], a[mid]);
            // a[lo] <= a[mid] <= a[hi]: the median goes next to the end as the pivot, and the
            // two ends stop the scans.
            std::swap(a[mid], a[hi - 1]);
            const int pivot = a[hi - 1];
            int i = lo, j = hi - 1;
            for (;;) {
                while (a[++i] < pivot) {}
                while (a[--j] > pivot) {}
                if (i >= j) break;
                std::swap(a[i], a[j]);
            }
            std::swap(a[i], a[hi - 1]);
            if (i - lo > hi - i) {
                stack[top++] = lo;
                stack[top++] = i - 1;
                lo = i + 1;
            } else {
                stack[top++] = i + 1;
                stack[top++] = hi;
                hi = i - 1;
            }
        }
        for (int i = lo + 1; i <= hi; ++i) {
            const int v = a[i];
            int j = i - 1;
            while (j >= lo && a[j] > v) {
                a[j + 1] = a[j];
                --j;
            }
            a[j + 1] = v;
        }
        if (top == 0) break;
        hi = stack[--top];
        lo = stack[--top];
    }
}

// Carves the real work array: factor values, reciprocal pivots, dense row, two vectors.
struct work_layout {
    double* FL;
    double* RPIV;
    double* W;
    double* Y;
    double* R;
};

work_layout carve(arr1<double>& RNSYM, int LIMNS1, int N) {
    double* base = RNSYM.data();
    const long nf = (long)LIMNS1 + 1;
    return {base, base + nf, base + nf + N, base + nf + 2L * N, base + nf + 3L * N};
}

void zero_solution(int N, arr1<double>& x) {
    for (int i = 1; i <= N; ++i) x(i) = 0.0;
}

}  // namespace

int FASINS(int N, int NZ, const arr1<int>& IA, const arr1<int>& JA, int LIMNS1, nonsym_state& st) {
    ++st.NSYMB;
    st.IPERM.alloc(2L * N);
    for (int i = 1; i <= N; ++i) {
        st.IPERM(i) = i;
        st.IPERM(N + i) = i;
    }
    st.IL.alloc((long)N + 1, 0);
    st.IU.alloc(N, 0);
    st.JL.alloc(LIMNS1 > N ? (long)(LIMNS1 - N) : 0L, 0);
    st.LINK.alloc((long)N + 1, 0);
    st.ROW.alloc(N, 0);
    st.NDONE = 0;
    st.IEND = 1;
    st.IBOT = N + 1;

    const int H = N + 1;  // list head, and the end mark: above every column
    arr1<int>& LINK = st.LINK;
    arr1<int>& JL = st.JL;
    int IEND = 1;

    for (int i = 1; i <= N; ++i) {
        const int ir = st.IPERM(i);
        const int k0 = IA(ir), k1 = IA(ir + 1);
        // The row's entries must lie inside the stored ones.
        if (k0 < 1 || k1 < k0 || k1 - 1 > NZ) return kNoDiagonal;
        const int len = k1 - k0;
        if (len == 0) return kEmptyRow;
        if (len > N) return kNoDiagonal;

        // 1. The row's columns, in the column order, sorted and threaded into the list.
        int* row = st.ROW.data();
        for (int k = k0; k < k1; ++k) {
            const int c = JA(k);
            if (c < 1 || c > N) return kNoDiagonal;
            row[k - k0] = st.IPERM(N + c);
        }
        sort_row(row, len);
        for (int t = 1; t < len; ++t) {
            if (row[t] == row[t - 1]) return kNoDiagonal;  // a column stored twice
        }
        // 2.
        if (row[0] > i) return kNoLowColumn;
        LINK(H) = row[0];
        for (int t = 0; t + 1 < len; ++t) LINK(row[t]) = row[t + 1];
        LINK(row[len - 1]) = H;

        // 3. Fill-in: each column c < i brings in the U columns of row c.
        int c = LINK(H);
        while (c < i) {
            int pred = c;
            for (int m = st.IU(c); m < st.IL(c + 1); ++m) {
                const int u = JL(m);
                int nx = LINK(pred);
                while (nx < u) {
                    if (LINK(nx) <= nx) return kNoDiagonal;  // the list must ascend to H
                    pred = nx;
                    nx = LINK(nx);
                }
                if (nx != u) {
                    LINK(u) = nx;
                    LINK(pred) = u;
                }
                pred = u;
            }
            if (LINK(c) <= c) return kNoDiagonal;
            c = LINK(c);
        }
        const bool diagonal = c == i;

        // 4. Storage and diagonal.
        int count = 0;
        for (int v = LINK(H); v != H; v = LINK(v)) {
            if (++count > N || LINK(v) <= v) return kNoDiagonal;
        }
        const int offdiag = count - (diagonal ? 1 : 0);
        if ((long)N + IEND + offdiag > LIMNS1) return kStorage;
        if (!diagonal) return kNoDiagonal;

        // 5. L columns, then U columns.
        st.IL(i) = IEND;
        int v = LINK(H);
        for (; v < i; v = LINK(v)) JL(IEND++) = v;
        st.IU(i) = IEND;
        for (v = LINK(v); v != H; v = LINK(v)) JL(IEND++) = v;
        st.IL(i + 1) = IEND;
        st.IEND = IEND;
        st.IBOT = N + IEND;
        st.NDONE = i;
    }
    return 0;
}

int FANUNS(int N, const arr1<int>& IA, const arr1<int>& JA, const arr1<double>& A,
           nonsym_state& st, double* FL, double* RPIV, double* w, int* ndone) {
    ++st.NNUM;
    const arr1<int>& JL = st.JL;
    for (int i = 1; i <= N; ++i) {
        const int ir = st.IPERM(i);
        const int l0 = st.IL(i), u0 = st.IU(i), e0 = st.IL(i + 1);
        for (int m = l0; m < e0; ++m) w[JL(m) - 1] = 0.0;
        w[i - 1] = 0.0;
        for (int k = IA(ir); k < IA(ir + 1); ++k) w[st.IPERM(N + JA(k)) - 1] = A(k);
        for (int m = l0; m < u0; ++m) {
            const int c = JL(m);
            const double mult = w[c - 1];
            FL[m - 1] = mult;
            for (int mu = st.IU(c); mu < st.IL(c + 1); ++mu) w[JL(mu) - 1] -= mult * FL[mu - 1];
        }
        const double p = w[i - 1];
        // Without pivoting a zero pivot ends the factorisation; so does an undefined one, which
        // would spread through every later row.
        if (p == 0.0 || !std::isfinite(p)) {
            *ndone = i - 1;
            return kZeroPivot;
        }
        RPIV[i - 1] = 1.0 / p;
        for (int m = u0; m < e0; ++m) FL[m - 1] = w[JL(m) - 1] / p;
    }
    *ndone = N;
    return 0;
}

void NONSYM(ounit& lst, int N, int NZ, int NP, const arr1<int>& nodes, int& IER, int LIMNS1,
            int& IBOTMN, const arr1<int>& IA, const arr1<int>& JA, const arr1<double>& A,
            const arr1<double>& b, arr1<double>& x, arr1<double>& RNSYM, double tiny,
            nonsym_state& st) {
    IER = 0;
    if (N < 1) solver_fault("N = " + std::to_string(N));
    if (LIMNS1 < 1 || RNSYM.size() < nonsym_work_length(LIMNS1, N))
        solver_fault("its work array holds " + std::to_string(RNSYM.size()) + " reals, " +
                     std::to_string(nonsym_work_length(LIMNS1, N)) +
                     " needed (is the direct solver enabled, INONSY = 1?)");
    if (NZ < 0 || IA.size() < (long)N + 1 || JA.size() < NZ || A.size() < NZ)
        solver_fault("IA, JA or A is shorter than the sizes N = " + std::to_string(N) +
                     ", NZ = " + std::to_string(NZ));
    if (b.size() < N || x.size() < N) solver_fault("x or b is shorter than N");
    if (NP < 0 || nodes.size() < NP) solver_fault("the node list is shorter than NP = " + std::to_string(NP));
    for (int k = 1; k <= NP; ++k) {
        if (nodes(k) < 1 || nodes(k) > N)
            solver_fault("prescribed node " + std::to_string(nodes(k)) + " outside 1.." + std::to_string(N));
    }

    // 1. The symbolic phase, once per run.
    if (!st.DONE) {
        st.DONE = true;
        st.N = N;
        st.NZ = NZ;
        st.LIMIT = LIMNS1;
        st.IERSYM = FASINS(N, NZ, IA, JA, LIMNS1, st);
    } else if (st.N != N || st.NZ != NZ || st.LIMIT != LIMNS1) {
        solver_fault("called for a system of " + std::to_string(N) + " unknowns and " +
                     std::to_string(NZ) + " entries after building its structure for " +
                     std::to_string(st.N) + " and " + std::to_string(st.NZ));
    }
    if (st.IERSYM != 0) {
        // A failed structure cannot be factorised: every call reports the same failure.
        IER = st.IERSYM;
        wfmt(lst, "(//,1X,' ERROR FROM NONSYM ROUTINE FASINS, CODE ',I4,               "
                  "/,6X,I7,' NODES PROCESSED SO FAR OUT OF ',I7)",
             IER, st.NDONE, N);
        zero_solution(N, x);
        return;
    }
    IBOTMN = std::min(IBOTMN, st.IBOT);

    // 2. The numeric phase.
    const work_layout wk = carve(RNSYM, LIMNS1, N);
    int ndone = 0;
    const int ier = FANUNS(N, IA, JA, A, st, wk.FL, wk.RPIV, wk.W, &ndone);
    if (ier != 0) {
        IER = ier;
        wfmt(lst, "(//,1X,' ERROR FROM NONSYM ROUTINE FANUNS, CODE ',I4)", IER);
        zero_solution(N, x);
        return;
    }

    // 3. The two sweeps, rows and unknowns through the two orders.
    const arr1<int>& JL = st.JL;
    double* y = wk.Y;
    for (int i = 1; i <= N; ++i) {
        double s = 0.0;
        for (int m = st.IL(i); m < st.IU(i); ++m) s += wk.FL[m - 1] * y[JL(m) - 1];
        y[i - 1] = (b(st.IPERM(i)) - s) * wk.RPIV[i - 1];
    }
    for (int i = N - 1; i >= 1; --i) {
        double s = 0.0;
        for (int m = st.IU(i); m < st.IL(i + 1); ++m) s += wk.FL[m - 1] * y[JL(m) - 1];
        y[i - 1] -= s;
    }
    for (int j = 1; j <= N; ++j) x(j) = y[st.IPERM(N + j) - 1];

    // The true residual of the solution, prescribed nodes left out.
    double* r = wk.R;
    double* mask = wk.Y;
    for (int i = 1; i <= N; ++i) {
        double t = 0.0;
        for (int k = IA(i); k < IA(i + 1); ++k) t += A(k) * x(JA(k));
        r[i - 1] = b(i) - t;
        mask[i - 1] = 1.0;
    }
    for (int k = 1; k <= NP; ++k) {
        r[nodes(k) - 1] = 0.0;
        mask[nodes(k) - 1] = 0.0;
    }
    double rr = 0.0, bn = 0.0;
    for (int i = 1; i <= N; ++i) {
        if (mask[i - 1] == 0.0) continue;
        rr += r[i - 1] * r[i - 1];
        bn += b(i) * b(i);
    }
    const double RES = bn > tiny ? std::sqrt(rr / bn) : std::sqrt(rr / N);
    wfmt(lst, "(20X,1PE15.6,'  <<NONSYMMETRIC SOLVER>>')", RES);
}

}  // namespace nep
