#include "flow/assemble.h"

#include <algorithm>
#include <cmath>

#include "base/parallel.h"
#include "flow/elavg.h"
#include "mesh/geometry.h"
#include "solvers/specified/symmetric.h"
#include "soil/curves.h"

namespace nep {

namespace {

// Layer of element e: tetrahedra run layer by layer from the top, 3*NTRI per layer.
inline int layer_of(const dimensions& dim, long e) { return (int)((e - 1) / dim.NTRI3) + 1; }

// The layer of the elements a loop walks in order, with its first and last element: one division
// a layer instead of one an element.
struct layer_walk {
    long first = 1, last = 0;
    int L = 0;
    void at(const dimensions& dim, long e) {
        if (e >= first && e <= last) return;
        L = layer_of(dim, e);
        first = (long)(L - 1) * dim.NTRI3 + 1;
        last = first + dim.NTRI3 - 1;
    }
    long col(long e) const { return e - first + 1; }  // place of e in its layer
};

// Time-weighted mean concentration of element e.
inline double elem_conc(const control& ctl, const mesh& msh, const density& rho, long e) {
    double cn = 0.0, co = 0.0;
    int t[5];
    msh.TETRA.nodes(e, t);
    for (int m = 1; m <= 4; ++m) {
        const int k = t[m - 1];
        cn += rho.cnew[k];
        co += rho.cold[k];
    }
    return ctl.TETAF * 0.25 * cn + (1.0 - ctl.TETAF) * 0.25 * co;
}

// Conductance factor w = rho_r/mu_r and storage factor s = rho_r of an element.
struct couple {
    double w = 1.0, s = 1.0, c = 0.0;
};

inline couple coupling(const control& ctl, const mesh& msh, const soil& sl, const density& rho,
                       long e) {
    couple k;
    if (rho.on()) {
        k.c = elem_conc(ctl, msh, rho, e);
        k.s = 1.0 + sl.EPSLON * k.c;
        k.w = k.s / (1.0 + sl.EPSLON1 * k.c);
    }
    return k;
}

// What every element loop needs of element e: its layer and material, the coupling factors,
// the conductance factor f and storage factor g, the conductivities, its geometry and the
// positions of its entries (10 in symmetric storage, 16 in full).
struct element {
    layer_walk lw;
    int t[5];  // nodes and material code
    int L, mat;
    couple k;
    double f, g, kx, ky, kz;
    const double *bi, *ci, *di;
    double vol, volinv;
    int sign;
    int pos[16];
    tetra_geo geo;  // the geometry, when it is formed rather than kept
};

// Inlined into every element loop: the loop then keeps the element in registers.
[[gnu::always_inline]] inline void element_of(const dimensions& dim, const control& ctl,
                                              const mesh& msh, const soil& sl, const sparse& sp,
                                              const density& rho, long e, element& el) {
    el.lw.at(dim, e);
    el.L = el.lw.L;
    msh.TETRA.nodes(e, el.t);
    el.mat = el.t[4];
    el.k = coupling(ctl, msh, sl, rho, e);
    if (const double* k = kept_geom(msh, e, el.L, el.lw.col(e))) {
        // Read in place: b, c, the volume and orientation, and d.
        el.bi = k;
        el.ci = k + 4;
        el.di = kept_d(msh, e, el.lw.col(e));
        kept_volume(k[8], el.vol, el.volinv, el.sign);
    } else {
        // Formed from the coordinates; d read where it is kept for every layer.
        if (msh.GEOMD.empty()) {
            form_geometry_of<true>(msh, el.t, el.geo);
            el.di = el.geo.d;
        } else {
            form_geometry_of<false>(msh, el.t, el.geo);
            el.di = kept_d(msh, e, el.lw.col(e));
        }
        el.bi = el.geo.b;
        el.ci = el.geo.c;
        el.vol = el.geo.vol;
        el.volinv = el.geo.volinv;
        el.sign = el.geo.sign;
    }
    el.f = el.volinv * elmean(sl.CKRW, el.t) * el.k.w;
    // The mass-conservative scheme keeps its storage on the nodes (stornod), not in BMAT.
    el.g = sl.KSLOPE == 5 ? 0.0 : el.vol * elmean(sl.STCOEF, el.t) * el.k.s;
    el.kx = sl.XPERM(el.L, el.mat);
    el.ky = sl.YPERM(el.L, el.mat);
    el.kz = sl.ZPERM(el.L, el.mat);
    sp.IPOS.positions(sp.IPOS.at(e, el.L, el.lw.col(e)), el.t, sp.IA.data(), el.pos);
}

// The rows and elements of the calling thread in a parallel element loop. The nodes are cut into
// one block of rows per thread; a thread adds only to the entries (and right-hand side values)
// of its own rows, going over every element that touches them in the order of the serial loop
// (the elements on the border of two blocks are formed by both threads). Each entry thus
// receives its terms in the serial order: the same sums to the bit whatever the thread count.
// Its elements elo..ehi hold a run ilo..ihi whose vertices all lie in its rows (ilo = ehi + 1,
// ihi = ehi: none).
struct row_block {
    long nlo, nhi, elo, ehi, ilo, ihi;
    bool mine(long row) const { return row >= nlo && row <= nhi; }
    row_block elements(long first, long last) const { return {nlo, nhi, first, last, 0, 0}; }
};

// The rows of block b of nb.
row_block block_rows(const dimensions& dim, int nb, long b) {
    return {block_first(dim.N, nb, b), block_last(dim.N, nb, b), 0, 0, 0, 0};
}

// The thread count of the element loops, with the elements of every block formed for it: the
// first and last touching its rows, and the longest run of those lying in its rows alone.
int element_blocks(const dimensions& dim, const mesh& msh, sparse& sp) {
    const int nb = dim.NT >= kParallelMin ? std::max(1, std::min(max_threads(), dim.N)) : 1;
    if (nb == sp.NBLK) return nb;
    sp.NBLK = nb;
    sp.EBLK.assign(4 * (std::size_t)nb, 0);
    std::vector<long> run(nb, 0);  // first element of the current run of inner elements
    for (int b = 0; b < nb; ++b) {
        sp.EBLK[4 * b] = dim.NT + 1;
        sp.EBLK[4 * b + 2] = 1;
    }
    int t[5];
    for (long e = 1; e <= dim.NT; ++e) {
        msh.TETRA.nodes(e, t);
        const long lo = std::min(std::min(t[0], t[1]), std::min(t[2], t[3]));
        const long hi = std::max(std::max(t[0], t[1]), std::max(t[2], t[3]));
        for (int b = 0; b < nb; ++b) {
            const row_block r = block_rows(dim, nb, b);
            long* k = &sp.EBLK[4 * (std::size_t)b];
            const bool inner = lo >= r.nlo && hi <= r.nhi;
            if (!inner) run[b] = 0;
            if (lo > r.nhi || hi < r.nlo) continue;
            k[0] = std::min(k[0], e);
            k[1] = std::max(k[1], e);
            if (!inner) continue;
            if (run[b] == 0) run[b] = e;
            if (e - run[b] > k[3] - k[2]) {
                k[2] = run[b];
                k[3] = e;
            }
        }
    }
    for (int b = 0; b < nb; ++b) {
        long* k = &sp.EBLK[4 * (std::size_t)b];
        if (k[2] > k[3]) k[2] = k[1] + 1, k[3] = k[1];
    }
    return nb;
}

row_block my_block(const dimensions& dim, const sparse& sp) {
    const int nb = sp.NBLK;
    if (thread_count() != nb) {
        // Fewer threads than blocks: the first does everything.
        if (thread_number() == 0) return {1, dim.N, 1, dim.NT, 1, dim.NT};
        return {1, 0, 1, 0, 1, 0};
    }
    const long b = thread_number();
    row_block r = block_rows(dim, nb, b);
    const long* k = &sp.EBLK[4 * (std::size_t)b];
    r.elo = k[0];
    r.ehi = k[1];
    r.ilo = k[2];
    r.ihi = k[3];
    return r;
}

// body(rb, check) over the element blocks: on several threads one block each, with check a
// std::true_type (add only to the rows of rb) but for the run of elements lying in rb's rows
// alone; on one thread every element and row, with check a std::false_type (the serial loop, as
// fast as without threads). Each block's elements go in the order of the serial loop.
template <class Body>
void by_blocks(const dimensions& dim, const mesh& msh, sparse& sp, Body body) {
    if (!sp.OWNCOL.empty()) {
        // One process of several: the elements that touch its nodes, every row of theirs.
        element_runs(sp, dim.NT, [&](long lo, long hi) {
            body(row_block{1, dim.N, lo, hi, lo, hi}, std::false_type{});
        });
        return;
    }
    const int nb = element_blocks(dim, msh, sp);
    if (nb > 1 && threads_now() >= nb) {
        loop_clock c(nb);
#pragma omp parallel num_threads(nb)
        {
            c.enter(thread_number());
            const row_block rb = my_block(dim, sp);
            body(rb.elements(rb.elo, rb.ilo - 1), std::true_type{});
            body(rb.elements(rb.ilo, rb.ihi), std::false_type{});
            body(rb.elements(rb.ihi + 1, rb.ehi), std::true_type{});
            c.leave(thread_number());
        }
        return;
    }
    body(row_block{1, dim.N, 1, dim.NT, 1, dim.NT}, std::false_type{});
}

// The entry k, in row i and column j, of the storage matrix: kept in BMAT, or on its diagonal
// alone (BDIAG), every other entry being zero.
inline auto storage_entry(const sparse& sp) {
    const double* B = sp.BMAT.data() - 1;
    const bool diag = sp.BDIAG;
    return [B, diag](long k, long i, long j) { return !diag ? B[k] : i == j ? B[i] : 0.0; };
}

// Whether a body adds to row r.
template <class Check>
inline bool own(Check, const row_block& rb, long r) {
    return !Check::value || rb.mine(r);
}

}  // namespace

void lmass(int lump, double T[5][5]) {
    for (int i = 1; i <= 4; ++i) {
        for (int j = 1; j <= 4; ++j) {
            if (lump != 0) T[i][j] = i == j ? 0.25 : 0.0;
            else T[i][j] = i == j ? 0.1 : 0.05;
        }
    }
}

void asmpic(const dimensions& dim, const control& ctl, const mesh& msh, const soil& sl, sparse& sp,
            const density& rho) {
    // The ten vertex pairs (j, m), m >= j, in the order of the upper position map
    // (q = m (m + 1) / 2 + j).
    static constexpr int PJ[10] = {0, 0, 1, 0, 1, 2, 0, 1, 2, 3};
    static constexpr int PM[10] = {0, 1, 1, 2, 2, 2, 3, 3, 3, 3};
    by_blocks(dim, msh, sp, [&](const row_block& rb, auto check) {
        // The arrays and the mass template on the pairs as locals of the loop, which the compiler
        // keeps in registers across the stores (captures it reads again after each one), and the
        // loop written once for a full storage matrix and once for its diagonal alone.
        double* const A = sp.AMAT.data() - 1;
        double* const B = sp.BMAT.data() - 1;
        double lm[10];
        for (int q = 0; q < 10; ++q) lm[q] = sp.LMASS[PJ[q] + 1][PM[q] + 1];
        auto loop = [&](auto bdiag) {
            element el;
            for (long e = rb.elo; e <= rb.ehi; ++e) {
                element_of(dim, ctl, msh, sl, sp, rho, e, el);
                const double f = el.f, g = el.g, kx = el.kx, ky = el.ky, kz = el.kz;
                const double *bi = el.bi, *ci = el.ci, *di = el.di;
                const int* pos = el.pos;
                const int* t = el.t;
#pragma GCC unroll 10
                for (int q = 0; q < 10; ++q) {
                    const int j = PJ[q], m = PM[q];
                    // The entry is stored in the row of the lower node number.
                    if (!own(check, rb, std::min(t[j], t[m]))) continue;
                    const int p = pos[q];
                    A[p] += f * (kx * bi[j] * bi[m] + ky * ci[j] * ci[m] + kz * di[j] * di[m]);
                    if constexpr (!decltype(bdiag)::value) B[p] += g * lm[q];
                    else if (j == m) B[t[j]] += g * lm[q];
                }
            }
        };
        if (sp.BDIAG) loop(std::true_type{});
        else loop(std::false_type{});
    });
}

void asmosc(const dimensions& dim, const control& ctl, const mesh& msh, const soil& sl, sparse& sp,
            const density& rho) {
    double* A = sp.AMAT.data() - 1;
    double* B = sp.BMAT.data() - 1;
    element el;
    element_runs(sp, dim.NT, [&](long first, long last) {
        for (long e = first; e <= last; ++e) {
            element_of(dim, ctl, msh, sl, sp, rho, e, el);
            const double g = el.g, kx = el.kx, ky = el.ky, kz = el.kz;
            const double kg = std::pow(kx * ky * kz, 0.333333333333);
            const double sx = std::sqrt(kg / kx), sy = std::sqrt(kg / ky), sz = std::sqrt(kg / kz);
            double P[4][3];
            for (int m = 0; m < 4; ++m) {
                const int n = el.t[m];
                P[m][0] = msh.X(n) * sx;
                P[m][1] = msh.Y(n) * sy;
                P[m][2] = msh.Z(n) * sz;
            }
            const double *bi = el.bi, *ci = el.ci, *di = el.di;
            double G[4][4];
            for (int a = 0; a < 4; ++a)
                for (int b = 0; b < 4; ++b) G[a][b] = bi[a] * bi[b] + ci[a] * ci[b] + di[a] * di[b];
            const double nf = -kg * el.volinv * elmean(sl.CKRW, msh, e) * el.k.w / 48.0;
            auto dot = [&P](int i, int j, int k0) {
                return (P[i][0] - P[k0][0]) * (P[j][0] - P[k0][0]) +
                       (P[i][1] - P[k0][1]) * (P[j][1] - P[k0][1]) +
                       (P[i][2] - P[k0][2]) * (P[j][2] - P[k0][2]);
            };
            double S[4][4] = {};
            for (int i = 0; i < 4; ++i) {
                for (int j = i + 1; j < 4; ++j) {
                    int others[2], no = 0;
                    for (int m = 0; m < 4; ++m)
                        if (m != i && m != j) others[no++] = m;
                    const int k0 = others[0], l0 = others[1];
                    const double a = dot(i, j, k0), b = dot(i, j, l0);
                    const double v =
                        nf * ((b * b / G[k0][k0] + a * a / G[l0][l0]) * G[k0][l0] + 2.0 * a * b);
                    S[i][j] = S[j][i] = v;
                }
            }
            for (int i = 0; i < 4; ++i) {
                double sum = 0.0;
                for (int j = 0; j < 4; ++j)
                    if (j != i) sum += S[i][j];
                S[i][i] = -sum;
            }
            const int* pos = el.pos;
            for (int j = 0; j < 4; ++j) {
                for (int m = j; m < 4; ++m) {
                    const int p = pos[m * (m + 1) / 2 + j];
                    A[p] += S[j][m];
                    if (!sp.BDIAG) B[p] += g * sp.LMASS[j + 1][m + 1];
                    else if (j == m) B[el.t[j]] += g * sp.LMASS[j + 1][m + 1];
                }
            }
        }
    });
}

void asmnew(const dimensions& dim, const control& ctl, const mesh& msh, const soil& sl, sparse& sp,
            const flowstate& fs, const density& rho) {
    double* A = sp.AMAT.data() - 1;
    double* B = sp.BMAT.data() - 1;
    double* J = sp.JMAT.data() - 1;
    const double tf = ctl.TETAF, dt = ctl.DELTAT;
    // The specified Jacobian takes the nodal derivatives with weight 1 and the storage of BMAT;
    // the mass-conservative scheme differentiates its own residual exactly: the element mean
    // of Kr gives each vertex weight 1/4, and its nodal storage is differentiated by stornod.
    const bool mixed = sl.KSLOPE == 5;
    // A Newton step taken from an iterate far from the solution (a dry soil that wets at once)
    // can throw the heads far off: the second iteration of a step, and any iteration after one
    // that raised the residual norm, leave the derivatives of Kr out (a Picard step with the
    // Newton storage) and so cannot diverge.
    const int it = ctl.ITER;
    // With the line search (LINESEARCH) the cut-back update guards against that instead, and
    // every iteration takes the whole derivative.
    const bool picard_step = mixed && !ctl.LSON &&
                             (it == 2 || (it >= 3 && !(fs.FL2IT(it - 1) < fs.FL2IT(it - 2))));
    const double wkr = mixed ? (picard_step ? 0.0 : 0.25) : 1.0;
    by_blocks(dim, msh, sp, [&](const row_block& rb, auto check) {
        // The arrays as locals of the loop, and the nodal values of an element read once: the
        // compiler would read both again after every store into the matrices.
        double* const Al = A;
        double* const Bl = B;
        double* const Jl = J;
        const double* const theta = fs.PTHETA.data() - 1;
        const double* const pnew = fs.PNEW.data() - 1;
        const double* const psave = fs.PSAVE.data() - 1;
        const double* const dckrw = sl.DCKRW.data() - 1;
        const double* const dstcoef = sl.DSTCOEF.data() - 1;
        const bool bdiag = sp.BDIAG;
        element el;
        for (long e = rb.elo; e <= rb.ehi; ++e) {
            element_of(dim, ctl, msh, sl, sp, rho, e, el);
            const double f = el.f, g = el.g, kx = el.kx, ky = el.ky, kz = el.kz;
            const double *bi = el.bi, *ci = el.ci, *di = el.di;
            const int* pos = el.pos;
            int node[4];
            double th[4], dp[4], dk[4], ds[4];
            for (int m = 0; m < 4; ++m) {
                node[m] = el.t[m];
                th[m] = theta[node[m]];
                dp[m] = pnew[node[m]] - psave[node[m]];
                dk[m] = dckrw[node[m]];
                ds[m] = dstcoef[node[m]];
            }
            // Conductance and storage, symmetric: each pair is formed once and mirrored.
            double Kl[4][4];
            for (int j = 0; j < 4; ++j) {
                for (int m = j; m < 4; ++m) {
                    Kl[j][m] = Kl[m][j] = kx * bi[j] * bi[m] + ky * ci[j] * ci[m] + kz * di[j] * di[m];
                    const double a = f * Kl[j][m], b = g * sp.LMASS[j + 1][m + 1];
                    if (own(check, rb, node[j])) {
                        Al[pos[m * 4 + j]] += a;
                        if (!bdiag) Bl[pos[m * 4 + j]] += b;
                        else if (m == j) Bl[node[j]] += b;
                    }
                    if (m != j && own(check, rb, node[m])) {
                        Al[pos[j * 4 + m]] += a;
                        if (!bdiag) Bl[pos[j * 4 + m]] += b;
                    }
                }
            }
            const double rhor = rho.on() ? 1.0 + sl.EPSLON * el.k.c : 1.0;
            const double vinvw = el.volinv * el.k.w;
            const double stf = tf * el.vol / dt;
            double dterm = 0.0;  // the density term's concentration change, with transport
            double dq[4] = {0.0, 0.0, 0.0, 0.0};
            if (rho.on()) {
                dterm = el.vol * tf * sl.POROSITY(el.L, el.mat) * sl.EPSLON / dt;
                for (int j = 0; j < 4; ++j) {
                    for (int m = 0; m < 4; ++m) {
                        const double q = j == m ? 0.1 : 0.05;
                        dq[j] += q * (rho.cnew[node[m]] - rho.cold[node[m]]);
                    }
                }
            }
            for (int j = 0; j < 4; ++j) {
                if (!own(check, rb, node[j])) continue;  // row j
                double flux = 0.0, stor = 0.0;
                for (int m = 0; m < 4; ++m) {
                    flux += vinvw * Kl[j][m] * th[m];
                    stor += sp.LMASS[j + 1][m + 1] * dp[m];
                }
                const double Fj = wkr * (tf * flux + tf * kz * di[j] * el.sign * rhor * el.k.w);
                const double Sj = stf * stor;
                for (int m = 0; m < 4; ++m) {
                    double v = mixed ? Fj * dk[m] : Fj * dk[m] + Sj * ds[m];
                    if (rho.on()) {
                        const int K = node[m];
                        chpoint c;
                        ch_eval(sl, K, th[m], CH_SE | CH_DSE, c);
                        v += ch_dsw(sl, K, c.dse) * dterm * dq[j];
                    }
                    Jl[pos[m * 4 + j]] += v;
                }
            }
        }
    });
}

void rhsres(const dimensions& dim, const control& ctl, sparse& sp, const flowstate& fs) {
    const double dtinv = 1.0 / ctl.DELTAT;
    double* R = sp.RHS.data() - 1;
    const double* A = sp.AMAT.data() - 1;
    const int* IA = sp.IA.data() - 1;
    const int* JA = sp.JA.data() - 1;
    const double* pt = fs.PTHETA.data() - 1;
    const double* pn = fs.PNEW.data() - 1;
    const double* ps = fs.PSAVE.data() - 1;
    const bool sym = ctl.IFLOW == 1;
    const int N = dim.N;
    const auto storage = storage_entry(sp);
    // As symmul: on several threads each forms the rows of its own block, passing the rows above
    // it for the terms of the stored upper triangle, in the order of the serial loop.
    by_rows(N, sp.stored(), [&](long lo, long hi, auto check) {
        constexpr bool several = decltype(check)::value;
        for (long i = lo; i <= hi; ++i) R[i] = 0.0;
        const long from =
            several && sym && lo > 1 ? first_row_reaching(&sp.TPLAN, N, sp.JA, sp.IA, lo) : lo;
        for (long i = from; i < lo; ++i) {
            const double dpi = pn[i] - ps[i];
            for (int k = IA[i] + 1; k < IA[i + 1]; ++k) {
                const int j = JA[k];
                if (j >= lo && j <= hi) R[j] -= A[k] * pt[i] + storage(k, i, j) * dtinv * dpi;
            }
        }
        for (long i = lo; i <= hi; ++i) {
            const double dpi = pn[i] - ps[i];
            for (int k = IA[i]; k < IA[i + 1]; ++k) {
                const int j = JA[k];
                const double b = storage(k, i, j);
                R[i] -= A[k] * pt[j] + b * dtinv * (pn[j] - ps[j]);
                if (sym && j != i && (!several || j <= hi)) R[j] -= A[k] * pt[i] + b * dtinv * dpi;
            }
        }
    });
}

void sysmat(const dimensions& dim, const control& ctl, sparse& sp) {
    const double tf = ctl.TETAF, dtinv = 1.0 / ctl.DELTAT;
    double* A = sp.AMAT.data();
    const double* B = sp.BMAT.data();
    const long n = sp.stored();
    if (sp.BDIAG) {
        // Row by row, the zeros of the storage matrix added as the full one adds them.
        const auto storage = storage_entry(sp);
        const int* IA = sp.IA.data() - 1;
        const int* JA = sp.JA.data() - 1;
        const double* J = ctl.IFLOW == 1 ? nullptr : sp.JMAT.data() - 1;
        A -= 1;
        parallel_for(1, dim.N, [&](long i) {
            for (int k = IA[i]; k < IA[i + 1]; ++k) {
                const double a = tf * A[k] + storage(k, i, JA[k]) * dtinv;
                A[k] = J ? a + J[k] : a;
            }
        });
    } else if (ctl.IFLOW == 1) {
        parallel_for(0, n - 1, [&](long k) { A[k] = tf * A[k] + B[k] * dtinv; });
    } else {
        const double* J = sp.JMAT.data();
        parallel_for(0, n - 1, [&](long k) { A[k] = tf * A[k] + B[k] * dtinv + J[k]; });
    }
}

void rhsgrv(const dimensions& dim, const control& ctl, const mesh& msh, const soil& sl, sparse& sp,
            const density& rho) {
    double* R = sp.RHS.data() - 1;
    by_blocks(dim, msh, sp, [&](const row_block& rb, auto check) {
        tetra_geo geo;
        layer_walk lw;
        int t[5];
        const bool kept = !msh.GEOMD.empty() && !rho.on();
        for (long e = rb.elo; e <= rb.ehi; ++e) {
            lw.at(dim, e);
            msh.TETRA.nodes(e, t);
            const int L = lw.L, mat = t[4];
            // Without density coupling only d and the orientation are needed.
            const double* di = kept ? kept_d(msh, e, lw.col(e)) : geo.d;
            if (!kept) tetra_geometry(msh, e, geo);
            if (!rho.on()) {
                const double sign = kept ? di[4] : geo.sign;
                const double x = elmean(sl.CKRW, t) * sl.ZPERM(L, mat) * sign;
                for (int j = 0; j < 4; ++j) {
                    const int n = t[j];
                    if (own(check, rb, n)) R[n] -= di[j] * x;
                }
            } else {
                const couple k = coupling(ctl, msh, sl, rho, e);
                const double rhor = 1.0 + sl.EPSLON * k.c;
                const double Bf = rhor * elmean(sl.CKRW, t) * sl.ZPERM(L, mat) * k.w;
                const double Af = geo.vol * sl.POROSITY(L, mat) * elmean(sl.SW, t) * sl.EPSLON / ctl.DELTAT;
                for (int j = 0; j < 4; ++j) {
                    if (!own(check, rb, t[j])) continue;
                    double dm = 0.0;
                    for (int m = 0; m < 4; ++m) {
                        const int n = t[m];
                        dm += (j == m ? 0.1 : 0.05) * (rho.cnew[n] - rho.cold[n]);
                    }
                    R[t[j]] -= Bf * di[j] * geo.sign + Af * dm;
                }
            }
        }
    });
}

void stornod(const dimensions& dim, const control& ctl, const mesh& msh, const soil& sl,
             sparse& sp, const density& rho) {
    const double dtinv = 1.0 / ctl.DELTAT, tf = ctl.TETAF;
    const bool full = ctl.IFLOW != 1;
    parallel_for(1, dim.N, [&](long i) {
        double v = msh.VOLNOD(i) * dtinv;
        if (rho.on()) v *= 1.0 + sl.EPSLON * (tf * rho.cnew[i] + (1.0 - tf) * rho.cold[i]);
        sp.RHS(i) -= v * (sl.WNEW(i) - sl.WSAVE(i));
        sp.AMAT(diag_pos(sp, i, full)) += v * sl.STCOEF(i);
    });
}

}  // namespace nep
