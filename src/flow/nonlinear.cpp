#include "flow/nonlinear.h"

#include <cmath>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "base/format.h"
#include "base/parallel.h"
#include "base/procs.h"
#include "base/stop.h"
#include "base/timer.h"
#include "bc/atmosphere.h"
#include "bc/exitpoint.h"
#include "bc/series.h"
#include "soil/curves.h"
#include "soil/roots.h"
#include "solvers/linsys.h"
#include "solvers/specified/symmetric.h"
#include "surface/overland.h"

namespace nep {

namespace {

// y = A x over the stored pattern (both triangles from the upper one in symmetric storage).
void matvec(const dimensions& dim, const sparse& sp, bool full, const double* x, double* y) {
    if (!full) {
        symmul(dim.N, sp.JA, sp.IA, sp.AMAT, x + 1, y + 1, &sp.TPLAN);  // counts from 0
        return;
    }
    const int* IA = sp.IA.data() - 1;
    const int* JA = sp.JA.data() - 1;
    const double* A = sp.AMAT.data() - 1;
    parallel_for(1, dim.N, [&](long i) {
        double s = 0.0;
        for (int k = IA[i]; k < IA[i + 1]; ++k) s += A[k] * x[JA[k]];
        y[i] = s;
    });
}

// The assembly common to both schemes, after the nodal characteristics.
void assemble(const dimensions& dim, control& ctl, const mesh& msh, const bcdata& bc, soil& sl,
              sparse& sp, flowstate& fs, cpustat& cpu, const density& rho, const surface* sf,
              bool newton) {
    {
        timed_phase t(cpu.FT[2]);
        auto zero = [](arr1<double>& a) {
            double* p = a.data();
            parallel_for(0, a.size() - 1, [&](long k) { p[k] = 0.0; });
        };
        zero(sp.AMAT);
        zero(sp.BMAT);
        if (newton) zero(sp.JMAT);
    }
    {
        timed_phase t(cpu.FT[3]);
        if (newton) asmnew(dim, ctl, msh, sl, sp, fs, rho);
        else if (ctl.OSC_FLAG) asmosc(dim, ctl, msh, sl, sp, rho);
        else asmpic(dim, ctl, msh, sl, sp, rho);
    }
    {
        timed_phase t(cpu.FT[4]);
        rhsres(dim, ctl, sp, fs);
    }
    {
        timed_phase t(cpu.FT[5]);
        sysmat(dim, ctl, sp);
    }
    {
        timed_phase t(cpu.FT[4]);
        rhsgrv(dim, ctl, msh, sl, sp, rho);
        if (sl.KSLOPE == 5) stornod(dim, ctl, msh, sl, sp, rho);
        if (sf != nullptr && sf->ON) surfasm(dim, ctl, msh, bc, fs, sp, *sf, newton);
        if (sl.RT.ON) rootasm(dim, fs, bc, sp, sl.RT, newton);
        // The residual before boundary conditions, for the boundary fluxes.
        const double* rhs = sp.RHS.data();
        double* resid = sp.RESID.data();
        parallel_for(0, dim.N - 1, [&](long i) { resid[i] = rhs[i]; });
    }
}

void update_heads(const dimensions& dim, sparse& sp, flowstate& fs) {
    double* p = fs.PNEW.data();
    const double* d = sp.DELTA.data();
    parallel_for(0, dim.N - 1, [&](long i) { p[i] += d[i]; });
}

}  // namespace

void bcapic(const dimensions& dim, const control& ctl, bcdata& bc, sparse& sp,
            linear_system& ls, const density& rho) {
    // The system is in increment form and the prescribed nodes already hold their values: each
    // prescribed row asks for an increment of 0.
    int n = 0;
    ls.clear_prescribed();
    auto hold = [&](int node) {
        if (node == 0) return;  // a node of the deck this process does not hold
        ++n;
        bc.IBCNOD(n) = node;
        ls.prescribe(node, 0.0);
    };
    for (int k = 1; k <= dim.NP; ++k) hold(bc.DIRNOD(k));
    for (int f = 1; f <= dim.NSF; ++f) {
        for (int j = bc.IEXIT(f); j <= bc.NSFNUM(f); ++j) hold(bc.SFNOD(f, j));
    }
    for (int j = 1; j <= dim.NNOD; ++j) {
        if (bc.IFATM(j) == 1) hold(j);
    }
    sp.NPRES = n;
    auto rhor = [&](int node) { return rho.on() ? 1.0 + rho.eps * rho.cnew[node] : 1.0; };
    for (int k = 1; k <= dim.NQ; ++k) {
        const int node = bc.NEUNOD(k);
        if (node != 0) sp.RHS(node) += bc.NEUVAL(k) * rhor(node);
    }
    const double tf = ctl.TETAF;
    for (int j = 1; j <= dim.NNOD; ++j) {
        if (bc.IFATM(j) == 0) sp.RHS(j) += (tf * bc.ATMACT(j) + (1.0 - tf) * bc.ATMACP(j)) * rhor(j);
    }
}

void bcrpic(const dimensions& dim, bcdata& bc, flowstate& fs) {
    for (int k = 1; k <= dim.NP; ++k) {
        if (bc.DIRNOD(k) != 0) fs.PNEW(bc.DIRNOD(k)) = bc.DIRVAL(k);
    }
    for (int f = 1; f <= dim.NSF; ++f) {
        for (int j = bc.IEXIT(f); j <= bc.NSFNUM(f); ++j) {
            if (bc.SFNOD(f, j) != 0) fs.PNEW(bc.SFNOD(f, j)) = 0.0;
        }
    }
    for (int j = 1; j <= dim.NNOD; ++j) {
        if (bc.IFATM(j) == 1) fs.PNEW(j) = fs.POLD(j);
    }
}

namespace {

// Several processes: the flux of a prescribed node is that of its own process, the one that
// holds its row whole.
// A process that holds a mesh of its own has its own list of surface nodes: the surface fluxes
// go by the deck's surface nodes, to the processes that hold them.
void share_fluxes(const dimensions& dim, const mesh& msh, bcdata& bc, const sparse& sp) {
    share_owned(sp, dim.NNOD, [&](auto f) {
        for (int k = 1; k <= dim.NP; ++k) f(bc.DIRNOD(k), bc.DIRFLX(k));
        for (int s = 1; s <= dim.NSF; ++s) {
            for (int j = bc.IEXIT(s); j <= bc.NSFNUM(s); ++j) f(bc.SFNOD(s, j), bc.SFQ(s, j));
        }
    });
    if (!msh.cut()) return;
    // The rings' head-controlled nodes take their fluxes from their own processes.
    std::vector<double> q(bc.ATMACT.begin(), bc.ATMACT.begin() + dim.NNOD);
    msh.SRING.bring(q.data());
    for (int j = 1; j <= dim.NNOD; ++j) {
        if (bc.IFATM(j) == 1 && !msh.own(j)) bc.ATMACT(j) = q[(std::size_t)(j - 1)];
    }
}

}  // namespace

void bflpic(const dimensions& dim, const control& ctl, const mesh& msh, bcdata& bc, sparse& sp,
            bool full) {
    double* v = sp.WORK1.data() - 1;
    matvec(dim, sp, full, sp.DELTA.data() - 1, v);
    for (int i = 1; i <= dim.N; ++i) v[i] -= sp.RESID(i);
    const double tf = ctl.TETAF;
    for (int k = 1; k <= dim.NP; ++k) {
        if (bc.DIRNOD(k) != 0) bc.DIRFLX(k) = (v[bc.DIRNOD(k)] - (1.0 - tf) * bc.DIRFLP(k)) / tf;
    }
    for (int f = 1; f <= dim.NSF; ++f) {
        for (int j = bc.IEXIT(f); j <= bc.NSFNUM(f); ++j) {
            if (bc.SFNOD(f, j) != 0) bc.SFQ(f, j) = (v[bc.SFNOD(f, j)] - (1.0 - tf) * bc.SFQOLD(f, j)) / tf;
        }
    }
    for (int j = 1; j <= dim.NNOD; ++j) {
        if (bc.IFATM(j) == 1) bc.ATMACT(j) = (v[j] - (1.0 - tf) * bc.ATMACP(j)) / tf;
    }
    share_fluxes(dim, msh, bc, sp);
}

void relax(const dimensions& dim, double OMEGA, flowstate& fs) {
    double* p = fs.PNEW.data();
    const double* o = fs.POLD.data();
    parallel_for(0, dim.N - 1, [&](long i) { p[i] = OMEGA * p[i] + (1.0 - OMEGA) * o[i]; });
}

void relaxv(const dimensions& dim, control& ctl, const mesh& msh, const sparse& sp,
            const flowstate& fs) {
    if (ctl.ITER == 1) {
        ctl.OMEGA = 1.0;
        ctl.OMEGAP = 1.0;
        return;
    }
    node_best b;
    for (int i = 1; i <= dim.N; ++i) {
        if (!sp.owns(i, dim.NNOD)) continue;
        const double d = fs.PNEW(i) - fs.POLD(i);
        if (std::fabs(d) >= b.key) {
            b.key = std::fabs(d);
            b.node = msh.deck_node(i);
            b.v[0] = d;
        }
    }
    msh.best(b, true);
    const double delta = b.v[0];
    const double den = fs.PDIFIT(ctl.ITER - 1) * ctl.OMEGAP;
    // Without a change in the previous iteration the ratio is undefined: no relaxation.
    if (den == 0.0) {
        ctl.OMEGA = 1.0;
    } else {
        const double b = delta / den;
        ctl.OMEGA = b >= -1.0 ? (3.0 + b) / (3.0 + std::fabs(b)) : 0.5 / std::fabs(b);
    }
    ctl.OMEGAP = ctl.OMEGA;
}

// Several processes: each loops over the nodes of its own columns, and the results are those of
// the whole mesh (node numbers the deck's).
void cvnorm(const dimensions& dim, const mesh& msh, const sparse& sp, flowstate& fs) {
    node_best b;
    double sums[2] = {0.0, 0.0};  // the squares of the head changes and of the residual
    double finf = 0.0;
    for (int i = 1; i <= dim.N; ++i) {
        if (!sp.owns(i, dim.NNOD)) continue;
        const double d = fs.PNEW(i) - fs.POLD(i);
        if (std::fabs(d) >= b.key) {
            b.key = std::fabs(d);
            b.node = i;
        }
        sums[0] += d * d;
        const double r = sp.RHS(i);
        finf = std::fmax(finf, std::fabs(r));
        sums[1] += r * r;
    }
    const int ik = (int)b.node;
    if (ik > 0) {
        b.node = msh.deck_node(ik);
        b.v[0] = fs.PNEW(ik) - fs.POLD(ik);
        b.v[1] = fs.PNEW(ik);
        b.v[2] = fs.POLD(ik);
    }
    msh.best(b, true);
    finf = msh.largest(finf);
    msh.sum(sums, 2);
    fs.PINF = b.key;
    fs.PL2 = std::sqrt(sums[0]);
    fs.IKMAX = (int)b.node;
    fs.PDIF = b.v[0];
    fs.PNEWIK = b.v[1];
    fs.POLDIK = b.v[2];
    fs.FINF = finf;
    fs.FL2 = std::sqrt(sums[1]);
}

void chgmax(const dimensions& dim, const mesh& msh, const sparse& sp, flowstate& fs) {
    node_best all, high, low;  // the largest change, the highest and the lowest surface head
    double sur = 0.0;
    high.key = -1.7e38;
    low.key = -1.7e38;
    for (int i = 1; i <= dim.N; ++i) {
        if (!sp.owns(i, dim.NNOD)) continue;
        const double d = std::fabs(fs.PNEW(i) - fs.POLD(i));
        if (d > all.key) {
            all.key = d;
            all.node = msh.deck_node(i);
        }
        if (i <= dim.NNOD) {
            sur = std::fmax(sur, d);
            if (fs.PNEW(i) > high.key) {
                high.key = fs.PNEW(i);
                high.node = msh.deck_node(i);
            }
            if (-fs.PNEW(i) > low.key) {
                low.key = -fs.PNEW(i);
                low.node = msh.deck_node(i);
            }
        }
    }
    msh.best(all, false);
    msh.best(high, false);
    msh.best(low, false);
    sur = msh.largest(sur);
    fs.CHGSUR = sur;
    fs.CHGALL = all.key;
    fs.NCHGALL = all.node > 0 ? (int)all.node : 1;
    fs.PMAXSU = high.key;
    fs.NPMAXS = high.node > 0 ? (int)high.node : 1;
    fs.PMINSU = -low.key;
    fs.NPMINS = low.node > 0 ? (int)low.node : 1;
}

double forcing_term(int iter, double fn, double fprev, double etaprev, double eta0, double etamax,
                    double gamma, double alpha, double floor) {
    double eta = eta0;
    if (iter > 1 && fprev > 0.0) {
        eta = gamma * std::pow(fn / fprev, alpha);
        const double kept = gamma * std::pow(etaprev, alpha);
        if (kept > 0.1) eta = std::fmax(eta, kept);
    }
    return std::fmax(std::fmin(eta, etamax), floor);
}

namespace {

// The Euclidean norm of the residual the assembly left in RHS over the rows this process holds
// (the norm the convergence history prints as res-err-L2).
double residual_norm(const dimensions& dim, const mesh& msh, const sparse& sp) {
    double s = 0.0;
    for (int i = 1; i <= dim.N; ++i) {
        if (sp.owns(i, dim.NNOD)) s += sp.RHS(i) * sp.RHS(i);
    }
    msh.sum(&s, 1);
    return std::sqrt(s);
}

// The nodal characteristics of the iterate PNEW (and PTHETA).
void characteristics(const dimensions& dim, const control& ctl, soil& sl, flowstate& fs,
                     cpustat& cpu, bool newton) {
    timed_phase t(cpu.FT[1]);
    if (sl.KSLOPE == 5) {
        // The water held at the start of the step, once per attempt.
        if (ctl.ITER == 1) chwat(dim, sl, fs.PSAVE, sl.WSAVE);
        chmix(dim, sl, fs.PTHETA, fs.PNEW, newton);
    } else if (newton) {
        chnew(dim, sl, fs.PTHETA, fs.PTHOLD);
    } else {
        chpic(dim, sl, fs.PTHETA, fs.PTHOLD);
    }
}

// The Euclidean norm of the residual in RHS over the rows this process holds that carry no
// prescribed head (those rows balance an unknown boundary flux, not the flow equation), summed
// over the processes. With `mark` the rows are taken from the prescribed list of bcapic first.
double free_residual_norm(const dimensions& dim, const mesh& msh, const bcdata& bc, sparse& sp,
                          bool mark) {
    if (mark) {
        sp.LSFREE.assign((std::size_t)dim.N + 1, 1);
        for (int k = 1; k <= sp.NPRES; ++k) sp.LSFREE[(std::size_t)bc.IBCNOD(k)] = 0;
    }
    double s = 0.0;
    for (int i = 1; i <= dim.N; ++i) {
        if (sp.LSFREE[(std::size_t)i] != 0 && sp.owns(i, dim.NNOD)) s += sp.RHS(i) * sp.RHS(i);
    }
    msh.sum(&s, 1);
    return std::sqrt(s);
}

// The system formed at the full update is the one the next iteration would form from the same
// heads and boundary state: it is kept (keep_trial) and taken instead of a new assembly when the
// next iteration of the same attempt starts from exactly those heads, with no relaxation, surface
// or root section and the same atmospheric and seepage state (reuse_trial, the same answer on
// every process).
void keep_trial(const dimensions& dim, const bcdata& bc, const soil& sl, sparse& sp,
                const flowstate& fs, const surface* sf) {
    sp.LSREADY = false;
    if ((sf != nullptr && sf->ON) || sl.RT.ON) return;
    const std::size_t nt = sp.AMAT.size(), n = (std::size_t)dim.N, nn = (std::size_t)dim.NNOD;
    sp.LSNEXT.resize(nt + 3 * n + nn);
    double* next = sp.LSNEXT.data();
    std::copy(sp.AMAT.data(), sp.AMAT.data() + nt, next);
    std::copy(sp.RESID.data(), sp.RESID.data() + n, next + nt);
    std::copy(fs.PNEW.data(), fs.PNEW.data() + n, next + nt + n);
    std::copy(fs.PTHETA.data(), fs.PTHETA.data() + n, next + nt + 2 * n);
    std::copy(bc.ATMACT.data(), bc.ATMACT.data() + nn, next + nt + 3 * n);
    sp.LSBC.assign(bc.IFATM.data(), bc.IFATM.data() + nn);
    for (int f = 1; f <= dim.NSF; ++f) sp.LSBC.push_back(bc.IEXIT(f));
    sp.LSREADY = true;
}

bool reuse_trial(const dimensions& dim, const control& ctl, const mesh& msh, const bcdata& bc,
                 const soil& sl, sparse& sp, const flowstate& fs, const surface* sf) {
    bool same = sp.LSREADY && ctl.ITER > 1 && ctl.IRELAX == 0 && !(sf != nullptr && sf->ON) &&
                !sl.RT.ON;
    sp.LSREADY = false;
    if (same) {
        const std::size_t nt = sp.AMAT.size(), n = (std::size_t)dim.N, nn = (std::size_t)dim.NNOD;
        const double* next = sp.LSNEXT.data();
        for (std::size_t i = 0; i < n && same; ++i) {
            same = fs.PNEW.data()[i] == next[nt + n + i] && fs.PTHETA.data()[i] == next[nt + 2 * n + i];
        }
        for (std::size_t j = 0; j < nn && same; ++j) {
            // The flux of a head-controlled node is not in the system (bflpic sets it after).
            same = bc.IFATM.data()[j] == sp.LSBC[j] &&
                   (sp.LSBC[j] != 0 || bc.ATMACT.data()[j] == next[nt + 3 * n + j]);
        }
        for (int f = 1; f <= dim.NSF && same; ++f) same = bc.IEXIT(f) == sp.LSBC[nn + (std::size_t)f - 1];
    }
    // Every process takes the same path: the assembly exchanges values between them.
    return !msh.any(!same);
}

// Backtracking on Newton's update DELTA from the iterate PNEW, whose free residual norm is f0:
// the residual is formed at PNEW + lambda DELTA for lambda = 1, 1/2, 1/4, ... until it is at most
// (1 - LSALPHA lambda) f0, at most LSCUTS halvings; the last lambda tried is taken. DELTA leaves
// scaled by it, and the system, the characteristics and the heads as they came. Every decision
// is taken on norms summed over the processes, so all take the same lambda.
void line_search(dimensions& dim, control& ctl, const mesh& msh, bcdata& bc, soil& sl,
                 sparse& sp, flowstate& fs, cpustat& cpu, const density& rho, const surface* sf,
                 linear_system& ls, double f0) {
    const std::size_t nt = sp.AMAT.size(), n = (std::size_t)dim.N;
    sp.LSKEEP.resize(nt + 5 * n);
    double* keep = sp.LSKEEP.data();
    double* const pnew = keep + nt + 3 * n;
    double* const ptheta = keep + nt + 4 * n;
    std::copy(sp.AMAT.data(), sp.AMAT.data() + nt, keep);
    std::copy(sp.RHS.data(), sp.RHS.data() + n, keep + nt);
    std::copy(sp.RESID.data(), sp.RESID.data() + n, keep + nt + n);
    std::copy(fs.PNEW.data(), fs.PNEW.data() + n, pnew);
    std::copy(fs.PTHETA.data(), fs.PTHETA.data() + n, ptheta);
    // The update is in increment form about prescribed heads already in place: where the iterate
    // does not hold them yet (the first iteration after they changed), the residual at every
    // trial is dominated by their jump, and the full update is taken.
    bcrpic(dim, bc, fs);
    bool jump = false;
    for (int i = 1; i <= dim.N && !jump; ++i) jump = fs.PNEW(i) != pnew[i - 1];
    if (msh.any(jump)) {
        std::copy(pnew, pnew + n, fs.PNEW.data());
        return;
    }
    const double srmax = fs.SRMAX;
    const double tf = ctl.TETAF;
    double lambda = 1.0;
    for (int cut = 0;; ++cut) {
        for (int i = 1; i <= dim.N; ++i) fs.PNEW(i) = pnew[i - 1] + lambda * sp.DELTA(i);
        bcrpic(dim, bc, fs);
        for (int i = 1; i <= dim.N; ++i) fs.PTHETA(i) = tf * fs.PNEW(i) + (1.0 - tf) * fs.PSAVE(i);
        characteristics(dim, ctl, sl, fs, cpu, true);
        assemble(dim, ctl, msh, bc, sl, sp, fs, cpu, rho, sf, true);
        bcapic(dim, ctl, bc, sp, ls, rho);
        const double f = free_residual_norm(dim, msh, bc, sp, false);
        if (f <= (1.0 - ctl.LSALPHA * lambda) * f0 || cut == ctl.LSCUTS) {
            if (lambda == 1.0) keep_trial(dim, bc, sl, sp, fs, sf);
            break;
        }
        lambda *= 0.5;
        ctl.LSCUT += 1;
    }
    // Back to the iterate: its heads, characteristics and system.
    std::copy(pnew, pnew + n, fs.PNEW.data());
    std::copy(ptheta, ptheta + n, fs.PTHETA.data());
    characteristics(dim, ctl, sl, fs, cpu, true);
    std::copy(keep, keep + nt, sp.AMAT.data());
    std::copy(keep + nt, keep + nt + n, sp.RHS.data());
    std::copy(keep + nt + n, keep + nt + 2 * n, sp.RESID.data());
    fs.SRMAX = srmax;
    if (lambda != 1.0) {
        for (int i = 1; i <= dim.N; ++i) sp.DELTA(i) *= lambda;
    }
}

// One iteration of either scheme: characteristics, assembly, boundary conditions, linear solve,
// update of the heads. Picard uses the symmetric system and solver, Newton the full ones.
void flow_iteration(dimensions& dim, control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
                    soil& sl, sparse& sp, flowstate& fs, cpustat& cpu, const density& rho,
                    const surface* sf, bool newton) {
    characteristics(dim, ctl, sl, fs, cpu, newton);
    if (newton && ctl.LSON && reuse_trial(dim, ctl, msh, bc, sl, sp, fs, sf)) {
        const std::size_t nt = sp.AMAT.size(), n = (std::size_t)dim.N;
        const double* next = sp.LSNEXT.data();
        std::copy(next, next + nt, sp.AMAT.data());
        std::copy(next + nt, next + nt + n, sp.RESID.data());
        std::copy(next + nt, next + nt + n, sp.RHS.data());
    } else {
        assemble(dim, ctl, msh, bc, sl, sp, fs, cpu, rho, sf, newton);
    }
    linear_system& ls = flow_system(dim, ctl, sp, cpu, newton);
    {
        timed_phase t(cpu.FT[6]);
        bcapic(dim, ctl, bc, sp, ls, rho);
        if (sf != nullptr && sf->ON) fs.SRMAX = surface_imbalance(dim, ctl, msh, bc, sp);
    }
    const bool search = newton && ctl.LSON;
    const double f0 = search ? free_residual_norm(dim, msh, bc, sp, true) : 0.0;
    if (ctl.EWFORCE) {
        // Inexact solves: loose while the iterate is far from converged, tight near the end.
        const double fn = residual_norm(dim, msh, sp);
        ctl.EWETA = forcing_term(ctl.ITER, fn, ctl.EWFN, ctl.EWETA, ctl.EWETA0, ctl.EWMAX,
                                 ctl.EWGAMMA, ctl.EWALPHA, ls.TOL);
        if (ctl.EWLOOSE && ctl.ITER > 1) ctl.EWETA = std::fmax(std::fmin(ctl.EWETA, ctl.EWCONV), ls.TOL);
        ctl.EWFN = fn;
        ls.TOL = ctl.EWETA;
    }
    wfree(io.out(6), " >>> LINEAR SOLUTION OF FLOW EQ. >>>:");
    ls.soft = ctl.PTC.ARMED || ctl.PTC.ON;
    int niter = 0, ier = 0;
    {
        timed_phase t(cpu.FT[7]);
        ls.solve(io.out(6), io.STDOUT, sp.DELTA, niter, ier);
    }
    ctl.ITLSOL = niter;
    if (newton && ctl.ISOLV >= 3) {
        // The direct solver: its failure code, and no linear iterations to count.
        ctl.LSFAIL = ier != 0;
    } else {
        ctl.ITLINS += niter;
        ctl.ITLIN += niter;
        ctl.LSFAIL = ier != 0 || (!ls.judged && niter >= (newton ? ctl.ITCGNS : ctl.ITCGSY));
    }
    if (ctl.LSFAIL) ctl.NLSFAIL += 1;
    // A surface head swinging between two states is halved: that iterate converges nothing.
    if (sf != nullptr && sf->ON && surface_limit(dim, ctl, msh, bc, fs, *sf, sp.DELTA)) fs.SRMAX = HUGE_VAL;
    if (search) line_search(dim, ctl, msh, bc, sl, sp, fs, cpu, rho, sf, ls, f0);
    update_heads(dim, sp, fs);
    bcrpic(dim, bc, fs);
    chgmax(dim, msh, sp, fs);
}

}  // namespace

void picflw(dimensions& dim, control& ctl, iofiles& io, const mesh& msh, bcdata& bc, soil& sl,
            sparse& sp, flowstate& fs, cpustat& cpu, const density& rho, const surface* sf) {
    flow_iteration(dim, ctl, io, msh, bc, sl, sp, fs, cpu, rho, sf, false);
}

void newtflw(dimensions& dim, control& ctl, iofiles& io, const mesh& msh, bcdata& bc, soil& sl,
             sparse& sp, flowstate& fs, cpustat& cpu, const density& rho, const surface* sf) {
    flow_iteration(dim, ctl, io, msh, bc, sl, sp, fs, cpu, rho, sf, true);
}

void cnvrgf(const dimensions& dim, control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
            soil& sl, flowstate& fs) {
    ounit& lst = io.out(6);
    ounit& term = io.out(kTermUnit);
    const bool left = ctl.ITER < dim.ITMX;
    const bool alt = ctl.DIALECT == dialect::ALT;
    const bool diverged = fs.PL2 >= ctl.ERNLMX || fs.PINF >= ctl.ERNLMX || fs.FL2 >= ctl.ERNLMX ||
                          fs.FINF >= ctl.ERNLMX;
    // A steady solve that can go on in pseudo-time, and a step of that continuation, fail
    // instead: the continuation takes a shorter step (run/timestep.h).
    const bool to_pseudo_time = diverged && (ctl.PTC.ARMED || ctl.PTC.ON);
    if (diverged && !to_pseudo_time) {
        const char* tail = alt ? " than the allowed maximum!!!" : " than the allowed maximum = ";
        wfree(lst, "STOP: residual errors have become greater ", tail, ctl.ERNLMX);
        wfree(io.STDOUT, "STOP: residual errors have become greater ", tail, ctl.ERNLMX);
        char text[240];
        std::snprintf(text, sizeof text,
                      "the flow iteration diverged at time %.6g (step %d, iteration %d): head change"
                      " %.6g / %.6g, residual %.6g / %.6g (L2 / largest) against ERNLMX = %.6g",
                      ctl.TIME, ctl.NSTEP, ctl.ITER, fs.PL2, fs.PINF, fs.FL2, fs.FINF, ctl.ERNLMX);
        input_error(text);
    }
    bool conv = !diverged && (ctl.L2NORM != 0 ? fs.PL2 : fs.PINF) <= ctl.TOLNL &&
                fs.SRMAX <= 10.0 * ctl.TOLNL;
    // Inexact solves: a small update from a loose solve may only be a short one; the test is
    // taken again after a solve at most EWCONV loose.
    ctl.EWLOOSE = conv && ctl.EWFORCE && ctl.EWETA > ctl.EWCONV && !ctl.LSFAIL && left;
    if (ctl.EWLOOSE) conv = false;
    const bool sfmoving = bc.SFCHK == 1 && bc.SFCVG == 0;
    if (!ctl.LSFAIL && !to_pseudo_time && left && (!conv || sfmoving)) {
        ctl.ISTATUS = -1;
        ctl.ITER += 1;
        for (int f = 1; f <= dim.NSF; ++f) bc.IEXITP(f) = bc.IEXIT(f);
        const double tf = ctl.TETAF;
        for (int i = 1; i <= dim.N; ++i) {
            fs.POLD(i) = fs.PNEW(i);
            fs.PTHOLD(i) = fs.PTHETA(i);
            fs.PTHETA(i) = tf * fs.PNEW(i) + (1.0 - tf) * fs.PSAVE(i);
        }
        return;
    }
    ctl.ITUNS += ctl.ITER;
    for (ounit* u : {&lst, &term}) {
        if (alt) {
            // The same history, with the node after the two heads; no time in the heading.
            wfmt(*u, "(/,' FLOW EQ. NONLINEAR CONVERGENCE BEHAVIOR',"
                     "' (MAXIMUM PRESSURE HEAD DIFFERENCES)',"
                     "/,'  iter   curr pr head   prev pr head   max difference',"
                     "'  at node       conv tol')");
            for (int it = 1; it <= ctl.ITER; ++it) {
                wfmt(*u, "(I6,2(1PE15.4),2X,I6,4(1PE15.4))", it, fs.PNEWIT(it), fs.POLDIT(it),
                     fs.IKMAXIT(it), fs.PDIFIT(it), fs.PL2IT(it), fs.FL2IT(it), fs.FINFIT(it));
            }
            continue;
        }
        wfmt(*u, "(/,'      FLOW EQ. NONLINEAR CONVERGENCE BEHAVIOR',"
                 "' FOR THE TIME: ',1PE15.4,/"
                 ",'      iter at node  psinew psiold press-head-dif '"
                 ",' L2norm-press-head-dif res-err-L2 res-err-infty',/)",
             ctl.TIME);
        for (int it = 1; it <= ctl.ITER; ++it) {
            wfmt(*u, "(I6,2X,I6,6(1PE15.4))", it, fs.IKMAXIT(it), fs.PNEWIT(it), fs.POLDIT(it),
                 fs.PDIFIT(it), fs.PL2IT(it), fs.FL2IT(it), fs.FINFIT(it));
        }
    }
    if (!ctl.LSFAIL && conv && !sfmoving) {
        ctl.ISTATUS = 0;
        for (ounit* u : {&lst, &term}) {
            if (alt) {
                wfmt(*u, "(1X,'FLOW EQ. CONVERGENCE ACHIEVED IN ',I4,' NONLINEAR ITERATIONS ',"
                         "/,' USING A TOTAL OF ',I4,' LINEAR ITERATIONS')",
                     ctl.ITER, ctl.ITLINS);
            } else {
                wfmt(*u, "(1X,'FLOW EQ. CONVERGENCE ACHIEVED IN ',I4,' NONLINEAR ITERATIONS ',"
                         "/,' USING A TOTAL OF ',I4,' LINEAR ITERATIONS',/)",
                     ctl.ITER, ctl.ITLINS);
            }
        }
        for (int i = 1; i <= dim.N; ++i) fs.HPOT(i) = fs.PNEW(i) + msh.Z(i);
        return;
    }
    for (ounit* u : {&lst, &term}) {
        if (alt) {
            wfmt(*u, "(1X,'FLOW EQ. CONVERGENCE NOT ACHIEVED IN ',I4,' NONLINEAR ITERATIONS')", ctl.ITER);
        } else {
            wfmt(*u, "(1X,'FLOW EQ. CONVERGENCE NOT ACHIEVED IN ',I4,' NONLINEAR ITERATIONS',/)", ctl.ITER);
        }
    }
    // A reduction that does not shorten the step (DTREDM >= 1 and DTREDS <= 0) would repeat the
    // same failing attempt for ever: no back-step is possible then either.
    const double reduced = ctl.DELTAT * ctl.DTREDM - ctl.DTREDS;
    if (!ctl.BKFLAG || !(reduced < ctl.DELTAT)) {
        ctl.ISTATUS = -3;
        ctl.ENDFLOW = true;
        if (alt) {
            wfmt(lst, "(1X,'>>> FLOW EQ. NO BACK-STEPPING POSSIBLE -- SIMULATION WILL ',"
                      "'TERMINATE')");
        } else {
            wfmt(lst, "(1X,'>>> FLOW EQ. NO BACK-STEPPING POSSIBLE -- SIMULATION WILL ',"
                      "'TERMINATE',/)");
        }
        return;
    }
    ctl.ISTATUS = -2;
    wfmt(lst, alt ? "(1X,'>>> FLOW EQ. BACK-STEPPING...')" : "(1X,'>>> FLOW EQ. BACK-STEPPING...',/)");
    ctl.TIME = ctl.TIMEP;
    ctl.DELTAT = reduced;
    if (ctl.DELTAT <= ctl.DTMIN) {
        ctl.DELTAT = ctl.DTMIN;
        ctl.BKFLAG = false;
    } else {
        ctl.BKFLAG = true;
    }
    ctl.TIME += ctl.DELTAT;
    ctl.NBKSTEP += 1;
    ctl.ITER = 1;
    ctl.ITLINS = 0;
    restore_step(dim, ctl, io, msh, bc, sl, fs);
}

void restore_step(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh,
                  bcdata& bc, soil& sl, flowstate& fs) {
    for (int k = 1; k <= dim.NP; ++k) bc.DIRFLX(k) = bc.DIRFLP(k);
    for (int f = 1; f <= dim.NSF; ++f) {
        bc.IEXIT(f) = bc.IEXOLD(f);
        bc.IEXITP(f) = bc.IEXOLD(f);
        for (int j = 1; j <= bc.NSFNUM(f); ++j) bc.SFQ(f, j) = bc.SFQOLD(f, j);
    }
    for (int j = 1; j <= dim.NNOD; ++j) {
        bc.IFATM(j) = bc.IFATMP(j);
        bc.ATMACT(j) = bc.ATMACP(j);
    }
    for (int i = 1; i <= dim.N; ++i) fs.PNEW(i) = fs.PSAVE(i);
    bcrstr(dim, ctl, io, msh, bc, sl, fs);
    const double tf = ctl.TETAF;
    for (int i = 1; i <= dim.N; ++i) {
        fs.POLD(i) = fs.PNEW(i);
        fs.PTHETA(i) = tf * fs.PNEW(i) + (1.0 - tf) * fs.PSAVE(i);
        fs.PTHOLD(i) = fs.PTHETA(i);
    }
}

void unsatflw(dimensions& dim, control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
              soil& sl, sparse& sp, flowstate& fs, cpustat& cpu, const density& rho,
              const surface* sf) {
    double t0 = 0.0;
    timer(t0, 1);
    sp.LSREADY = false;  // the system kept by the line search belongs to this call's iterations
    do {
        if (ctl.IFLOW == 1) {
            picflw(dim, ctl, io, msh, bc, sl, sp, fs, cpu, rho, sf);
        } else {
            newtflw(dim, ctl, io, msh, bc, sl, sp, fs, cpu, rho, sf);
        }
        bflpic(dim, ctl, msh, bc, sp, ctl.IFLOW != 1);
        if (ctl.IRELAX == 1) {
            relax(dim, ctl.OMEGA, fs);
        } else if (ctl.IRELAX == 2) {
            relaxv(dim, ctl, msh, sp, fs);
            relax(dim, ctl.OMEGA, fs);
        }
        cvnorm(dim, msh, sp, fs);
        const int it = ctl.ITER;
        fs.IKMAXIT(it) = fs.IKMAX;
        fs.PNEWIT(it) = fs.PNEWIK;
        fs.POLDIT(it) = fs.POLDIK;
        fs.PDIFIT(it) = fs.PDIF;
        fs.PL2IT(it) = fs.PL2;
        fs.FINFIT(it) = fs.FINF;
        fs.FL2IT(it) = fs.FL2;
        wfmt(io.out(26), "(2I6,2(1PE10.3),I6,2(1PE10.2),2(1PE10.3))", it, ctl.ITLSOL, fs.PL2,
             fs.PINF, fs.IKMAX, fs.PNEWIK, fs.POLDIK, fs.FL2, fs.FINF);
        atmswt(dim, bc, sl, fs);
        if (dim.NSF >= 1) {
            share_face_heads(dim, msh, fs.PNEW, bc);
            if (bc.ISFONE != 0) extone(dim, ctl, io, bc, fs);
            else extall(dim, ctl, io, bc, fs);
            if (bc.SFNCVG < 1) {
                bc.SFCVG = 1;
            } else {
                bc.SFCVG = 0;
                bc.SFFAIL += 1;
                bc.SFFAILT += bc.SFNCVG;
            }
        }
        cnvrgf(dim, ctl, io, msh, bc, sl, fs);
    } while (ctl.ISTATUS == -1);
    timer(t0, 2);
    cpu.CPUNL += (float)t0;
}

}  // namespace nep
