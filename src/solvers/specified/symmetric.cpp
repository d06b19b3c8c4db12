#include "solvers/specified/symmetric.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/parallel.h"
#include "base/stop.h"

namespace nep {

namespace {

// The largest place in its row that the plan of the triangular solves keeps for an entry of the
// factor; an entry placed further is found from there by a search.
constexpr int kPlaceLimit = 255;

// The position in the factor of U(CJ(c), col), entry c of the plan's column col: its row's
// start and the place the plan keeps, from the byte's limit on found by a search.
inline int column_entry(const trisolve_plan& pl, const int* ia, const int* ja, int c, int col) {
    const std::uint8_t place = pl.CPLACE[c];
    int k = ia[pl.CJ[c]] + place;
    if (place == kPlaceLimit)
        while (ja[k] != col) ++k;
    return k;
}

// A vector of length N carved out of a larger array, indexed 1..N.
struct vec {
    double* p;
    double& operator()(long i) const { return p[i - 1]; }
};

[[noreturn]] void solver_fault(const std::string& what) {
    input_error("internal error in the symmetric solver: " + what);
}

// The caller's arrays must be as long as the sizes it passes, and the pattern must be the
// symmetric upper storage the factorisation walks (diagonal first, columns ascending, in 1..N):
// a pattern that breaks these would make the merges below read outside their rows.
void check_call(int N, int NTERM, int NP, const arr1<int>& nodes, const arr1<int>& JA,
                const arr1<int>& IA, const arr1<double>& x, const arr1<double>& b,
                const arr1<double>& A, const arr1<double>& U, const arr1<double>& work) {
    if (N < 1) solver_fault("N = " + std::to_string(N));
    if (NP < 0 || nodes.size() < NP) solver_fault("the node list is shorter than NP = " + std::to_string(NP));
    if (IA.size() < (long)N + 1) solver_fault("IA is shorter than N+1");
    if (JA.size() < NTERM || A.size() < NTERM || U.size() < NTERM)
        solver_fault("JA, A or U is shorter than NTERM = " + std::to_string(NTERM));
    if (x.size() < N || b.size() < N) solver_fault("x or b is shorter than N = " + std::to_string(N));
    if (work.size() < 5L * N) solver_fault("the work array is shorter than 5*N");
    if (IA(1) != 1 || IA(N + 1) != NTERM + 1) solver_fault("IA(1) or IA(N+1) does not match NTERM");
    for (int i = 1; i <= N; ++i) {
        const int k0 = IA(i), k1 = IA(i + 1);
        if (k1 <= k0 || JA(k0) != i)
            solver_fault("row " + std::to_string(i) + " does not start with its diagonal");
        for (int k = k0 + 1; k < k1; ++k) {
            if (JA(k) <= JA(k - 1) || JA(k) > N)
                solver_fault("row " + std::to_string(i) + " has column " + std::to_string(JA(k)) +
                             " out of order or above N");
        }
    }
    for (int k = 1; k <= NP; ++k) {
        if (nodes(k) < 1 || nodes(k) > N)
            solver_fault("prescribed node " + std::to_string(nodes(k)) + " outside 1.." + std::to_string(N));
    }
}

// Sum of squares of v (element 1 first) over the free nodes (mask(i) = 1; prescribed: 0).
double free_sumsq(int N, const double* v, const vec& mask) {
    double s = 0.0;
    for (int i = 1; i <= N; ++i) {
        if (mask(i) != 0.0) s += v[i - 1] * v[i - 1];
    }
    return s;
}

}  // namespace

namespace {

// The factor row by row, each row spreading its products over the rows below it.
void factor_rows(ounit& lst, int N, int NTERM, const arr1<int>& JA, const arr1<int>& IA,
                 const arr1<double>& A, arr1<double>& U) {
    for (int k = 1; k <= NTERM; ++k) U(k) = 0.0;
    for (int i = 1; i <= N; ++i) {
        const int kd = IA(i);
        const int kend = IA(i + 1) - 1;
        double d = A(kd) - U(kd);  // U(kd) holds the squares gathered from the rows above
        if (!(d > 0.0)) {
            // A non-positive (or undefined) pivot is reported and replaced by the square of the
            // previous diagonal of the factor. The first row has none: it takes |d|, or 1 when
            // that is 0 too, and reports that value as its previous diagonal.
            double prev;
            if (i > 1) {
                prev = U(IA(i - 1));
            } else {
                prev = std::fabs(d) > 0.0 && std::isfinite(d) ? std::sqrt(std::fabs(d)) : 1.0;
            }
            wfmt(lst, "(1X,'ELEMENTO DIAGONALE DI L NULLO,I,J =',I5,2X,E16.5)", i, d);
            wfmt(lst, "(1X,'ELEMENTO DIAGONALE PRECEDENTE =  ',E16.8)", prev);
            d = prev * prev;
        }
        const double piv = std::sqrt(d);
        U(kd) = piv;
        if (i >= N) continue;
        for (int k = kd + 1; k <= kend; ++k) U(k) = (A(k) - U(k)) / piv;
        // Spread row i over the rows of its columns: the squares onto their diagonals, the
        // products U(i,j) U(i,l) onto the entries (j, l) that the pattern holds (no fill-in).
        for (int k = kd + 1; k <= kend; ++k) {
            const int j = JA(k);
            const double uk = U(k);
            U(IA(j)) += uk * uk;
            int m = IA(j) + 1;
            const int mend = IA(j + 1) - 1;
            for (int q = k + 1; q <= kend && m <= mend; ++q) {
                const int c = JA(q);
                while (m <= mend && JA(m) < c) ++m;
                if (m <= mend && JA(m) == c) {
                    U(m) += uk * U(q);
                    ++m;
                }
            }
        }
    }
}

// Backward, U z = y in place: z(i) of one row, its sum taken from the last column down. Each row
// waits for the one after it (whose value feeds its sum), so the solve runs at the latency of
// that chain: the term of row i+1, when that row was just solved (`after`), comes from a
// register (zprev) instead of memory; it is still added last, so the sums are those of the
// plain loop.
inline double backward_row(const int* ia, const int* ja, const double* u, const double* zz,
                           long i, bool after, double zprev) {
    const int kd = ia[i];
    int k = ia[i + 1] - 1;
    const bool near = after && k > kd && ja[kd + 1] == i + 1;
    const int klo = near ? kd + 1 : kd;
    double s = 0.0;
    for (; k > klo; --k) s += u[k] * zz[ja[k]];
    if (near) s += u[kd + 1] * zprev;
    return (zz[i] - s) / u[kd];
}

// Rows hi down to lo.
inline void backward_rows(const int* ia, const int* ja, const double* u, double* zz, long hi,
                          long lo) {
    double z = 0.0;
    for (long i = hi; i >= lo; --i) {
        z = backward_row(ia, ja, u, zz, i, i < hi, z);
        zz[i] = z;
    }
}

// The right-hand side of the forward solve, row i (from 1): r(i), or, with q, r(i) after the
// conjugate gradients' step r(i) -= alpha q(i), taken as the solve reaches the row (and kept).
struct rhs_rows {
    const double* r;
    double* rw = nullptr;  // r, written by the step
    const double* q = nullptr;
    double alpha = 0.0;
    double operator()(long i) const { return q ? (rw[i - 1] -= alpha * q[i - 1]) : r[i - 1]; }
};

// Forward, U' y = r: y(i) of one row, gathering its column from the plan: its terms U(j,i) y(j),
// j ascending, are the ones the serial loop adds to z(i) in that order. The last one, of row i-1
// when that row was just solved (`after`), comes from a register.
inline double forward_row(const trisolve_plan& pl, const rhs_rows& r, const double* zz, long i,
                          bool after, double yprev) {
    const int* cj = pl.CJ.data();
    const double* ut = pl.UT.data();
    int c = pl.CP[i - 1], cend = pl.CP[i];
    const bool near = after && cend > c && cj[cend - 1] == i - 1;
    if (near) --cend;
    double zi = 0.0;
    for (; c < cend; ++c) zi += ut[c] * zz[cj[c]];
    if (near) zi += ut[cend] * yprev;
    return (r(i) - zi) / pl.UD[i - 1];
}

// Two runs of rows of independent slices, solved side by side, one row of each in turn: the
// core overlaps their two chains of divisions. Forward: rows a0..b0 and a1..b1 ascending;
// backward: rows b0 down to a0 and b1 down to a1.
template <bool Forward>
inline void rows_side_by_side(const trisolve_plan& pl, const int* ia, const int* ja,
                              const double* u, const rhs_rows& r, double* zz, long a0,
                              long b0, long a1, long b1) {
    auto row = [&](long i, bool after, double prev) {
        return Forward ? forward_row(pl, r, zz, i, after, prev)
                       : backward_row(ia, ja, u, zz, i, after, prev);
    };
    long i0 = Forward ? a0 : b0, i1 = Forward ? a1 : b1;
    const long s0 = i0, s1 = i1, e0 = Forward ? b0 : a0, e1 = Forward ? b1 : a1;
    constexpr long d = Forward ? 1 : -1;
    auto more = [](long i, long e) { return Forward ? i <= e : i >= e; };
    double y0 = 0.0, y1 = 0.0;
    for (; more(i0, e0) && more(i1, e1); i0 += d, i1 += d) {
        y0 = row(i0, i0 != s0, y0);
        y1 = row(i1, i1 != s1, y1);
        zz[i0] = y0;
        zz[i1] = y1;
    }
    for (; more(i0, e0); i0 += d) zz[i0] = y0 = row(i0, i0 != s0, y0);
    for (; more(i1, e1); i1 += d) zz[i1] = y1 = row(i1, i1 != s1, y1);
}

// How far a slice has come: the last row it published (a word of its own, one cache line).
using progress = wait_word;

// Whether slice o has published row `need` (Up: rows ascending) or beyond; `seen` is its
// progress as last read, read again only when it does not suffice.
template <bool Up>
inline bool reached(const progress& p, long need, long& seen) {
    if (Up ? need <= seen : need >= seen) return true;
    seen = p.value.load(std::memory_order_acquire);
    return Up ? need <= seen : need >= seen;
}

// Stops the threads of a sweep: the ones asleep on a slice's progress wake to see it.
inline void stop_all(std::atomic<bool>& stop, progress* done, int nv) {
    stop.store(true, std::memory_order_seq_cst);
    for (int o = 0; o < nv; ++o) done[o].wake();
}

// One sweep of the thread that owns slices s and s+1 over their chunks (Forward: rows ascending,
// else descending). Of its two next chunks, the one that comes first in the serial order (the
// primary) waits for the rows of the other threads' slices it needs; the other joins it when
// `pairs` and it needs nothing more than what is already published. The primary never needs the
// rows of the other slice's pending chunk, which all come after it. run(kp, kq) solves chunk kp
// and, when kq >= 0, chunk kq beside it; it returns false to stop every thread (`stop`).
template <bool Forward, class Run>
void sweep(const trisolve_order& pl, progress* done, long* seen, int s, bool pairs,
           std::atomic<bool>& stop, Run run) {
    const int nv = 2 * pl.NTH;
    const int* ch = pl.CHUNK.data();
    const int* need = Forward ? pl.NEEDF.data() : pl.NEEDB.data();
    long c[2], end[2];
    for (int h = 0; h < 2; ++h) {
        c[h] = Forward ? pl.CHUNKS[s + h] : pl.CHUNKS[s + h + 1] - 1;
        end[h] = Forward ? pl.CHUNKS[s + h + 1] : pl.CHUNKS[s + h] - 1;
    }
    auto pending = [&](int h) { return Forward ? c[h] < end[h] : c[h] > end[h]; };
    // The row chunk k starts from in this sweep.
    auto from = [&](long k) { return Forward ? ch[2 * k] : ch[2 * k + 1]; };
    auto ready = [&](long k, bool wait) {
        for (int o = 0; o < nv; ++o) {
            const long n = need[k * nv + o];
            if (o == s || o == s + 1) {
                if (!(Forward ? n <= seen[o] : n >= seen[o])) return false;
                continue;
            }
            if (reached<Forward>(done[o], n, seen[o])) continue;
            if (!wait) return false;
            auto come = [&] {
                return reached<Forward>(done[o], n, seen[o]) ||
                       stop.load(std::memory_order_relaxed);
            };
            await(done[o], come);
            if (!reached<Forward>(done[o], n, seen[o])) return false;  // stopped
        }
        return true;
    };
    while ((pending(0) || pending(1)) && !stop.load(std::memory_order_relaxed)) {
        int p = pending(0) ? 0 : 1;
        if (pending(0) && pending(1) && (Forward ? from(c[1]) < from(c[0]) : from(c[1]) > from(c[0])))
            p = 1;
        const int q = 1 - p;
        if (!ready(c[p], true)) return;  // stopped
        const bool pair = pairs && pending(q) && ready(c[q], false);
        const long kp = c[p], kq = pair ? c[q] : -1;
        if (!run(kp, kq)) {
            stop_all(stop, done, nv);
            return;
        }
        for (long k : {kp, kq}) {
            if (k < 0) continue;
            const int h = k == kp ? p : q;
            const long last = Forward ? ch[2 * k + 1] : ch[2 * k];
            seen[s + h] = last;
            done[s + h].publish((int)last);
            c[h] += Forward ? 1 : -1;
        }
    }
}

// Whether plan is one for N rows whose threads the runtime can give.
inline bool plan_serves(const trisolve_plan* plan, int N) {
    return plan && plan->NTH > 0 && plan->N == N && max_threads() >= plan->NTH;
}

// The order of the plan for the threads the loops run on now: on all of the plan's, or on one.
inline const trisolve_order* order_now(const trisolve_plan* plan, int N) {
    if (!plan_serves(plan, N)) return nullptr;
    const int nth = threads_now();
    if (nth >= plan->NTH) return &plan->TEAM;
    return nth == 1 ? (plan->NTH == 1 ? &plan->TEAM : &plan->ONE) : nullptr;
}

// body(t) on each thread t of a team of nth. Returns false, having run nothing, when the runtime
// gives fewer threads.
template <class Body>
bool on_threads(int nth, Body body) {
    bool alone = false;
    loop_clock c(nth);
#pragma omp parallel num_threads(nth)
    {
        if (thread_count() != nth) {
#pragma omp single
            alone = true;
        } else {
            c.enter(thread_number());
            body(thread_number());
            c.leave(thread_number());
        }
    }
    return !alone;
}

// Returns false, having done nothing, when the runtime gives fewer threads than the plan has.
// On one thread, without `both`, the backward solve alone (the caller has solved forward).
bool solve_threads(int N, const int* ia, const int* ja, const double* u, const rhs_rows& r,
                   double* zz, const trisolve_plan& pl, const trisolve_order& od,
                   bool both = true) {
    const int nth = od.NTH, nv = 2 * nth;
    std::unique_ptr<progress[]> done(new progress[nv]);
    std::atomic<bool> stop{false};
    const int* ch = od.CHUNK.data();
    auto solve = [&](int t, auto forward) {
        constexpr bool F = decltype(forward)::value;
        std::vector<long> seen(nv, F ? 0 : N + 1);
        sweep<F>(od, done.get(), seen.data(), 2 * t, true, stop, [&](long kp, long kq) {
            rows_side_by_side<F>(pl, ia, ja, u, r, zz, ch[2 * kp], ch[2 * kp + 1],
                                 kq < 0 ? 1 : ch[2 * kq], kq < 0 ? 0 : ch[2 * kq + 1]);
            return true;
        });
    };
    if (nth == 1) {
        if (both) solve(0, std::true_type{});
        for (int o = 0; o < nv; ++o) done[o].value.store(N + 1, std::memory_order_relaxed);
        solve(0, std::false_type{});
        return true;
    }
    return on_threads(nth, [&](int t) {
        solve(t, std::true_type{});
        loop_barrier();
        done[2 * t].value.store(N + 1, std::memory_order_relaxed);
        done[2 * t + 1].value.store(N + 1, std::memory_order_relaxed);
        loop_barrier();
        solve(t, std::false_type{});
    });
}

// Row j of the factor, gathering from the rows i above it that hold column j, i ascending, the
// products that factor_rows spreads from them, in the same order onto each entry. False, with
// the row unfinished, on a pivot that is not positive (factor_rows reports and patches it).
inline bool factor_row(const trisolve_plan& pl, int N, const int* ia, const int* ja,
                       const double* a, double* u, long j) {
    const int kd = ia[j], kend = ia[j + 1] - 1;
    for (int k = kd; k <= kend; ++k) u[k] = 0.0;
    for (int c = pl.CP[j - 1]; c < pl.CP[j]; ++c) {
        const int i = pl.CJ[c];
        const int k = column_entry(pl, ia, ja, c, (int)j);
        const double uk = u[k];
        u[kd] += uk * uk;
        const int iend = ia[i + 1] - 1;
        int m = kd + 1;
        for (int q = k + 1; q <= iend && m <= kend; ++q) {
            const int col = ja[q];
            while (m <= kend && ja[m] < col) ++m;
            if (m <= kend && ja[m] == col) {
                u[m] += uk * u[q];
                ++m;
            }
        }
    }
    const double d = a[kd] - u[kd];
    if (!(d > 0.0)) return false;
    const double piv = std::sqrt(d);
    u[kd] = piv;
    if (j < N)
        for (int k = kd + 1; k <= kend; ++k) u[k] = (a[k] - u[k]) / piv;
    return true;
}

// The factor on the plan's threads: each thread factors the chunks of its two slices in the
// serial order, waiting, as the forward solve does, for the rows of the other slices a chunk
// needs. Returns false when the runtime gives fewer threads than the plan has, or when a pivot
// is not positive (factor_rows then starts again, with its messages).
bool factor_threads(int N, const int* ia, const int* ja, const double* a, double* u,
                    const trisolve_plan& pl) {
    const trisolve_order& od = pl.TEAM;
    const int nth = od.NTH, nv = 2 * nth;
    std::unique_ptr<progress[]> done(new progress[nv]);
    std::atomic<bool> stop{false};
    const int* ch = od.CHUNK.data();
    const bool all = on_threads(nth, [&](int t) {
        std::vector<long> seen(nv, 0);
        sweep<true>(od, done.get(), seen.data(), 2 * t, false, stop, [&](long k, long) {
            for (long j = ch[2 * k]; j <= ch[2 * k + 1]; ++j)
                if (!factor_row(pl, N, ia, ja, a, u, j)) return false;
            return true;
        });
    });
    return all && !stop.load();
}

}  // namespace

void symfac(ounit& lst, int N, int NTERM, const arr1<int>& JA, const arr1<int>& IA,
            const arr1<double>& A, arr1<double>& U, const trisolve_plan* plan) {
    if (plan_serves(plan, N) && plan->NTH > 1 && threads_now() >= plan->NTH &&
        factor_threads(N, IA.data() - 1, JA.data() - 1, A.data() - 1, U.data() - 1, *plan))
        return;
    factor_rows(lst, N, NTERM, JA, IA, A, U);
}

namespace {

void precondition(int N, const arr1<int>& JA, const arr1<int>& IA, const arr1<double>& U,
                  const rhs_rows& r, double* z, const trisolve_plan* plan) {
    const int* ia = IA.data() - 1;
    const int* ja = JA.data() - 1;
    const double* u = U.data() - 1;
    double* zz = z - 1;
    const trisolve_order* od = order_now(plan, N);
    if (od && plan->VALUES && solve_threads(N, ia, ja, u, r, zz, *plan, *od)) return;
    // Forward, U' y = r: z gathers the pending sums of the rows below and then holds y. As in
    // the backward solve, the term a row passes to the next (column i+1, the first of row i when
    // the pattern holds it) stays in a register and is still added last.
    for (int i = 1; i <= N; ++i) zz[i] = 0.0;
    double next = 0.0;  // the term of row i-1 for row i, when it has one
    bool carry = false;
    for (int i = 1; i <= N; ++i) {
        const double zi = carry ? zz[i] + next : zz[i];
        const double y = (r(i) - zi) / u[ia[i]];
        zz[i] = y;
        int k = ia[i] + 1;
        const int kend = ia[i + 1];
        carry = k < kend && ja[k] == i + 1;
        if (carry) next = u[k++] * y;
        for (; k < kend; ++k) zz[ja[k]] += u[k] * y;
    }
    // One thread without the factor's columns yet: the backward solve by the plan's slices.
    if (od && od->NTH == 1) solve_threads(N, ia, ja, u, r, zz, *plan, *od, false);
    else backward_rows(ia, ja, u, zz, N, 1);
}

}  // namespace

void symprc(int N, const arr1<int>& JA, const arr1<int>& IA, const arr1<double>& U,
            const double* r, double* z, const trisolve_plan* plan) {
    precondition(N, JA, IA, U, rhs_rows{r}, z, plan);
}

void symprc(int N, const arr1<int>& JA, const arr1<int>& IA, const arr1<double>& U, double* r,
            double alpha, const double* q, double* z, const trisolve_plan* plan) {
    precondition(N, JA, IA, U, rhs_rows{r, r, q, alpha}, z, plan);
}

void plan_values(const arr1<int>& JA, const arr1<int>& IA, const arr1<double>& U,
                 trisolve_plan& pl) {
    pl.VALUES = true;
    const double* u = U.data() - 1;
    const int* ia = IA.data() - 1;
    const int* ja = JA.data() - 1;
    double* ut = pl.UT.data();
    double* ud = pl.UD.data();
    parallel_for(1, pl.N, [&](long i) {
        for (int c = pl.CP[i - 1]; c < pl.CP[i]; ++c)
            ut[c] = u[column_entry(pl, ia, ja, c, (int)i)];
        ud[i - 1] = u[ia[i]];
    });
}

namespace {

// The order of the triangular solves on nth threads, layers of `period` rows.
void order_trisolve(int N, long period, const arr1<int>& JA, const arr1<int>& IA, int nth,
                    trisolve_order& od) {
    constexpr long kChunk = 128;  // rows of a chunk at most
    od.NTH = nth;
    const int nv = 2 * nth;  // slices of a layer: two a thread
    const long P = std::max(1L, std::min(period, (long)N));
    auto owner = [&](long i) { return (int)(((i - 1) % P) * nv / P); };
    // The chunks of each thread, in its order: its slice of every layer, cut into pieces.
    std::vector<int> chunk_of((std::size_t)N + 1);
    od.CHUNKS.assign(nv + 1, 0);
    const long layers = (N + P - 1) / P;
    for (int t = 0; t < nv; ++t) {
        // Rows p of a layer (from 0) with p*nv/P = t: ceil(t*P/nv) to ceil((t+1)*P/nv) - 1.
        const long lo = (t * P + nv - 1) / nv, hi = ((t + 1) * P + nv - 1) / nv - 1;
        for (long L = 0; L < layers; ++L) {
            for (long a = L * P + lo + 1; a <= std::min(L * P + hi + 1, (long)N); a += kChunk) {
                const long b = std::min({a + kChunk - 1, L * P + hi + 1, (long)N});
                for (long i = a; i <= b; ++i) chunk_of[i] = (int)od.CHUNK.size() / 2;
                od.CHUNK.push_back((int)a);
                od.CHUNK.push_back((int)b);
            }
        }
        od.CHUNKS[t + 1] = (int)od.CHUNK.size() / 2;
    }
    // What each chunk waits for: forward, row i needs the rows j < i of its column; backward,
    // row j needs the rows i > j of its own.
    const long nc = (long)od.CHUNK.size() / 2;
    od.NEEDF.assign((std::size_t)nc * nv, 0);
    od.NEEDB.assign((std::size_t)nc * nv, N + 1);
    for (int j = 1; j <= N; ++j) {
        for (int k = IA(j) + 1; k < IA(j + 1); ++k) {
            const int i = JA(k);
            const int ti = owner(i), tj = owner(j);
            if (ti == tj) continue;
            int& f = od.NEEDF[(std::size_t)chunk_of[i] * nv + tj];
            f = std::max(f, j);
            int& b = od.NEEDB[(std::size_t)chunk_of[j] * nv + ti];
            b = std::min(b, i);
        }
    }
}

}  // namespace

void plan_trisolve(int N, long period, const arr1<int>& JA, const arr1<int>& IA, int nth,
                   trisolve_plan& pl) {
    pl = trisolve_plan{};
    if (nth < 1 || N < 2) return;
    pl.NTH = nth;
    pl.N = N;
    pl.REACH.assign(nth, 1);
    for (int b = 1; b < nth; ++b)
        pl.REACH[b] = first_row_reaching(N, JA, IA, (int)block_first(N, nth, b));
    // The columns of the factor: counts, offsets, then the entries row by row (j ascending).
    pl.CP.assign((std::size_t)N + 1, 0);
    for (int j = 1; j <= N; ++j)
        for (int k = IA(j) + 1; k < IA(j + 1); ++k) ++pl.CP[JA(k)];
    for (int i = 1; i <= N; ++i) pl.CP[i] += pl.CP[i - 1];
    pl.CJ.resize(pl.CP[N]);
    pl.CPLACE.resize(pl.CP[N]);
    pl.UT.resize(pl.CP[N]);
    pl.UD.resize(N);
    std::vector<int> next(pl.CP.begin(), pl.CP.end() - 1);
    for (int j = 1; j <= N; ++j) {
        for (int k = IA(j) + 1; k < IA(j + 1); ++k) {
            const int c = next[JA(k) - 1]++;
            pl.CJ[c] = j;
            pl.CPLACE[c] = (std::uint8_t)std::min(k - IA(j), kPlaceLimit);
        }
    }
    order_trisolve(N, period, JA, IA, nth, pl.TEAM);
    if (nth > 1) order_trisolve(N, period, JA, IA, 1, pl.ONE);
}

int first_row_reaching(int N, const arr1<int>& JA, const arr1<int>& IA, int col) {
    for (int i = 1; i <= N && i < col; ++i) {
        if (JA(IA(i + 1) - 1) >= col) return i;  // the last column of row i is its largest
    }
    return std::min(col, N);
}

long first_row_reaching(const trisolve_plan* plan, int N, const arr1<int>& JA,
                        const arr1<int>& IA, long lo) {
    if (plan_serves(plan, N) && plan->NTH == thread_count()) return plan->REACH[thread_number()];
    return first_row_reaching(N, JA, IA, (int)lo);
}

namespace {

// The conjugate gradients' step of the direction p := z - beta p, taken by the product of p.
struct direction_step {
    double* p = nullptr;  // none
    const double* z = nullptr;
    double beta = 0.0;
};

// y = A v (symmul). On one thread terms(i, s1, s2) adds the terms of row i to two sums as soon as
// y(i) is complete, rows ascending: sums over the rows in the same pass, kept in registers.
// Returns whether it did (on several threads the caller forms them afterwards). With a step
// (v being its p), v takes the step first: on one thread in the same pass, each value just
// before the first row that reads it, as the zeros y starts from.
template <class Terms>
bool product(int N, const arr1<int>& JA, const arr1<int>& IA, const arr1<double>& A,
             const double* v, double* y, const trisolve_plan* plan, double& s1, double& s2,
             Terms terms, const direction_step& st = {}) {
    // On several threads each forms the rows of its own block [lo, hi]: y(i) receives the terms
    // of the rows above it as they are passed (the lower triangle, from the stored upper one),
    // then those of its own row, in the order of the serial loop, so the sums are the same to the
    // bit.
    bool handed = false;
    by_rows(N, IA(N + 1) - 1, [&](long lo, long hi, auto check) {
        constexpr bool several = decltype(check)::value;
        long ready = lo - 1;  // on one thread: the rows of v and y made ready
        auto ready_to = [&](long m) {
            for (; ready < m; ++ready) {
                if (st.p) st.p[ready] = st.z[ready] - st.beta * st.p[ready];
                y[ready] = 0.0;
            }
        };
        if constexpr (several) {
            ready_to(hi);
            if (st.p) loop_barrier();
        }
        const long from = several && lo > 1 ? first_row_reaching(plan, N, JA, IA, lo) : lo;
        for (long i = from; i < lo; ++i) {
            const double vi = v[i - 1];
            for (int k = IA(i) + 1; k < IA(i + 1); ++k) {
                const int j = JA(k);
                if (j >= lo && j <= hi) y[j - 1] += A(k) * vi;
            }
        }
        double a = s1, b = s2;
        for (long i = lo; i <= hi; ++i) {
            const int kd = IA(i);
            const int kend = IA(i + 1) - 1;
            // The last column of the row is its largest.
            if constexpr (!several) ready_to(JA(kend));
            const double vi = v[i - 1];
            double yi = y[i - 1] + A(kd) * vi;
            for (int k = kd + 1; k <= kend; ++k) {
                const int j = JA(k);
                yi += A(k) * v[j - 1];
                if (!several || j <= hi) y[j - 1] += A(k) * vi;
            }
            y[i - 1] = yi;
            if constexpr (!several) terms(i, a, b);
        }
        if constexpr (!several) {
            s1 = a;
            s2 = b;
        }
        handed = !several;
    });
    return handed;
}

}  // namespace

void symmul(int N, const arr1<int>& JA, const arr1<int>& IA, const arr1<double>& A,
            const double* v, double* y, const trisolve_plan* plan) {
    double s1 = 0.0, s2 = 0.0;
    product(N, JA, IA, A, v, y, plan, s1, s2, [](long, double&, double&) {});
}

namespace {

// The vector loops of the iteration share the rows among the threads as the matrix product
// does (by_rows, `work` deciding as there), so that a core reads the entries it wrote itself.
template <class F>
inline void rows(long N, long work, F f) {
    by_rows(N, work, [&](long lo, long hi, auto) {
        for (long i = lo; i <= hi; ++i) f(i);
    });
}

// Two sums over i = 1..N in order: terms(i, s1, s2) adds the terms of row i. On several threads
// each thread adds those of its own rows after the thread before it has added its own, going
// on from its sums: the same sums to the bit, each core reading what it wrote. aside(i), work on
// row i alone, fills the wait: a thread does it for its rows before its turn, the first after.
template <class Terms, class Aside>
inline void ordered_sums(long N, long work, double& s1, double& s2, Terms terms, Aside aside) {
    wait_word turn;
    by_rows(N, work, [&](long lo, long hi, auto check) {
        constexpr bool several = decltype(check)::value;
        const int me = thread_number();
        if constexpr (several) {
            if (me > 0)
                for (long i = lo; i <= hi; ++i) aside(i);
            await(turn, [&] { return turn.value.load(std::memory_order_acquire) == me; });
        }
        double a = s1, b = s2;
        for (long i = lo; i <= hi; ++i) {
            terms(i, a, b);
            if constexpr (!several) aside(i);
        }
        s1 = a;
        s2 = b;
        if constexpr (several) {
            turn.publish(me + 1);
            if (me == 0)
                for (long i = lo; i <= hi; ++i) aside(i);
        }
    });
}

}  // namespace

void SYMSLV(ounit& lst, ounit& out, int N, int NTERM, int NP, int& NITER, int ITCGSY,
            double TLCGSY, double tiny, const arr1<int>& nodes, const arr1<int>& JA,
            const arr1<int>& IA, arr1<double>& x, const arr1<double>& b, const arr1<double>& A,
            arr1<double>& U, arr1<double>& work, dialect d, trisolve_plan* plan,
            bool* failed) {
    check_call(N, NTERM, NP, nodes, JA, IA, x, b, A, U, work);

    // The five work vectors: residual, direction, A times direction, preconditioned residual,
    // and the mask of free nodes (1) and prescribed nodes (0) for the norms.
    double* w = work.data();
    const vec r{w}, p{w + N}, q{w + 2L * N}, z{w + 3L * N}, mask{w + 4L * N};
    const vec xv{x.data()};
    for (int i = 1; i <= N; ++i) mask(i) = 1.0;
    for (int k = 1; k <= NP; ++k) mask(nodes(k)) = 0.0;

    symfac(lst, N, NTERM, JA, IA, A, U, plan);
    // The columns of the new factor: at once on several threads. One thread solves forward by
    // rows until the second iteration: the copy pays only when the solves are many.
    if (plan) plan->VALUES = false;
    if (plan && plan->NTH > 1 && threads_now() > 1) plan_values(JA, IA, U, *plan);

    // Initial guess.
    symprc(N, JA, IA, U, b.data(), xv.p, plan);

    NITER = 1;
    const double bb = free_sumsq(N, b.data(), mask);
    symmul(N, JA, IA, A, xv.p, r.p, plan);
    const long share = NTERM;  // what decides the threads, as in the product
    rows(N, share, [&](long i) { r(i) = b(i) - r(i); });
    symprc(N, JA, IA, U, r.p, p.p, plan);

    double ERR = 0.0;
    direction_step step;  // none before the first product
    for (;;) {
        // q = A p, p first taking the direction's step of the iteration before, with p'q and p'r
        // in the same pass on one thread.
        double pq = 0.0, pr = 0.0;
        auto pq_pr = [&](long i, double& s1, double& s2) {
            s1 += p(i) * q(i);
            s2 += p(i) * r(i);
        };
        if (!product(N, JA, IA, A, p.p, q.p, plan, pq, pr, pq_pr, step))
            ordered_sums(N, share, pq, pr, pq_pr, [](long) {});
        if (pq == 0.0) {
            // The direction is 0 (r = 0: the guess is already exact) or A-null: no step can be
            // taken. Leave with the measure of the current residual.
            const double rr = free_sumsq(N, r.p, mask);
            ERR = bb > 0.0 ? std::sqrt(rr / bb) : std::sqrt(rr / N);
            break;
        }
        const double alpha = pr / pq;
        if (plan && !plan->VALUES && (NITER >= 2 || threads_now() > 1))
            plan_values(JA, IA, U, *plan);
        // The residual's step r -= alpha q in the forward solve's pass.
        symprc(N, JA, IA, U, r.p, alpha, q.p, z.p, plan);
        // q'z and the measure of r side by side: each sum runs over the nodes in order, and each
        // waits for its previous term, so two sums together take the time of one. The step of x
        // along p, not needed before, fills the threads' waits.
        double qz = 0.0, rr = 0.0;
        ordered_sums(
            N, share, qz, rr,
            [&](long i, double& s1, double& s2) {
                s1 += q(i) * z(i);
                if (mask(i) != 0.0) s2 += r(i) * r(i);
            },
            [&](long i) { xv(i) += alpha * p(i); });
        // The direction's step p = z - beta p is taken by the next product.
        step = {p.p, z.p, qz / pq};
        ERR = bb > 0.0 ? std::sqrt(rr / bb) : std::sqrt(rr / N);
        // An undefined measure cannot improve: leave at once, the failure test below stops.
        if (NITER >= ITCGSY || ERR <= TLCGSY || std::isnan(ERR)) break;
        ++NITER;
    }

    // The true residual of the solution, prescribed entries left out.
    symmul(N, JA, IA, A, xv.p, r.p, plan);
    for (int i = 1; i <= N; ++i) r(i) = mask(i) != 0.0 ? b(i) - r(i) : 0.0;
    const double rr = free_sumsq(N, r.p, mask);
    const double RES = bb > tiny ? std::sqrt(rr / bb) : std::sqrt(rr / N);

    wfmt(lst, "(1X,I4,2(1PE15.6),'  <<SYMMETRIC SOLVER>>')", NITER, ERR, RES);

    // An undefined ERR counts as a failure: it never meets the tolerance.
    const bool err_fail = !(ERR <= TLCGSY);
    if ((err_fail || NITER > ITCGSY) && failed != nullptr) {
        *failed = true;
    } else if (err_fail || NITER > ITCGSY) {
        wfree(out, "STOP -- SUBROUTINE SYMSLV:");
        if (err_fail) {
            if (d == dialect::ALT) {
                wfree(out, "ERR= ", ERR, " > ", "TOLCG= ", TLCGSY, NITER);
            } else {
                wfree(out, "ERR= ", ERR, " > ", "TOLCG= ", TLCGSY, " within ", NITER, " iterations ");
            }
        } else {
            wfree(out, "NITER= ", NITER, " > ", "ITMXCG= ", ITCGSY);
        }
        char text[200];
        std::snprintf(text, sizeof text,
                      "the conjugate gradients failed: error %.6g against TLCGSY = %.6g after %d "
                      "iterations (ITCGSY = %d)",
                      ERR, TLCGSY, NITER, ITCGSY);
        input_error(text);
    }
}

}  // namespace nep
