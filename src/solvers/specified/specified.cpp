#include "solvers/specified/specified.h"

#include <algorithm>

#include "base/parallel.h"
#include "base/stop.h"
#include "solvers/specified/nonsym_iter.h"
#include "solvers/specified/symmetric.h"

namespace nep {

namespace {

// The position of the diagonal of row i: the row's first entry in symmetric storage, else found
// among its ascending columns.
int diagonal(const linear_system& s, int i) {
    const arr1<int>& IA = *s.IA;
    if (s.symmetric) return IA(i);
    const int* lo = s.JA->data() + (IA(i) - 1);
    const int* hi = s.JA->data() + (IA(i + 1) - 1);
    const int* p = std::lower_bound(lo, hi, i);
    if (p == hi || *p != i) input_error("internal error: a prescribed row without its diagonal");
    return (int)(p - s.JA->data()) + 1;
}

}  // namespace

penalty_solver::penalty_solver(int capacity) { diag_.alloc(std::max(capacity, 1)); }

double penalty_solver::prescribed_rhs(const linear_system& s, double v) const {
    return v * s.penalty;
}

penalty_solver::held::held(penalty_solver& p, linear_system& s) : p_(p), s_(s) {
    arr1<double>& A = *s.A;
    if (p.diag_.size() < s.NP) p.diag_.alloc(s.NP);
    for (int n = 1; n <= s.NP; ++n) {
        const int k = diagonal(s, s.rows(n));
        p.diag_(n) = A(k);
        A(k) = s.penalty;
    }
}

penalty_solver::held::~held() {
    // Backwards, so that a row declared twice gets its assembled diagonal back.
    arr1<double>& A = *s_.A;
    for (int n = s_.NP; n >= 1; --n) A(diagonal(s_, s_.rows(n))) = p_.diag_(n);
}

void symmetric_cg::solve(ounit& lst, ounit& out, linear_system& s, arr1<double>& x, int& NITER,
                         int& IER) {
    NITER = 0;
    IER = 0;
    // On large meshes the triangular solves follow a plan formed once for the pattern.
    const int nth = s.N >= kParallelMin && plan_ != nullptr ? max_threads() : 0;
    if (nth > 0 && (plan_->NTH != nth || plan_->N != s.N))
        plan_trisolve(s.N, s.period, *s.JA, *s.IA, nth, *plan_);
    held h(*this, s);
    bool failed = false;
    SYMSLV(lst, out, s.N, s.NTERM, s.NP, NITER, s.ITMAX, s.TOL, s.tiny, s.rows, *s.JA, *s.IA, x,
           *s.b, *s.A, *fac_, *work_, s.d, nth > 0 ? plan_ : nullptr, s.soft ? &failed : nullptr);
    if (failed) IER = -1;
}

void nonsymmetric_solver::solve(ounit& lst, ounit& out, linear_system& s, arr1<double>& x,
                                int& NITER, int& IER) {
    NITER = 0;
    IER = 0;
    held h(*this, s);
    bool failed = false;
    NSYSLV(s.selector, lst, out, s.N, s.NTERM, s.NP, s.rows, s.ITMAX, s.TOL, NITER, IER, s.LIMNS1,
           *s.IBOTMN, *s.RNSYM, *s.NSST, *s.IA, *s.JA, *s.IROW, *s.A, *s.b, x, *s.work1,
           *s.work2, s.tiny, s.soft ? &failed : nullptr);
    if (failed) IER = -1;
}

}  // namespace nep
