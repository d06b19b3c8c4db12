#include "solvers/linsys.h"

#include "base/parallel.h"
#include "solvers/nonsym_iter.h"
#include "solvers/petsc.h"
#include "solvers/symmetric.h"

namespace nep {

linear_system run_system(dimensions& dim, const control& ctl, sparse& sp) {
    linear_system ls;
    ls.N = dim.N;
    ls.work1 = &sp.WORK1;
    ls.work2 = &sp.WORK2;
    ls.tiny = ctl.TINYR;
    ls.d = ctl.DIALECT;
    ls.LIMNS1 = dim.LIMNS1;
    ls.IBOTMN = &dim.IBOTMN;
    ls.RNSYM = &sp.RNSYM;
    ls.NSST = &sp.NSST;
    return ls;
}

void linsolve(ounit& lst, ounit& out, linear_system& s, int& NITER, int& IER) {
    NITER = 0;
    IER = 0;
    if (petsc_solver(s.selector)) {
        PETSLV(lst, out, *s.slot, *s.pst, s.N, s.NP, *s.nodes, s.ITMAX, s.TOL, s.tiny, NITER, *s.A,
               *s.b, *s.x, s.d);
    } else if (!s.symmetric) {
        NSYSLV(s.selector, lst, out, s.N, s.NTERM, s.NP, *s.nodes, s.ITMAX, s.TOL, NITER, IER,
               s.LIMNS1, *s.IBOTMN, *s.RNSYM, *s.NSST, *s.IA, *s.JA, *s.IROW, *s.A, *s.b, *s.x,
               *s.work1, *s.work2, s.tiny);
    } else {
        // On large meshes the triangular solves follow a plan formed once for the pattern.
        const int nth = s.N >= kParallelMin && s.plan ? max_threads() : 0;
        if (nth > 0 && (s.plan->NTH != nth || s.plan->N != s.N))
            plan_trisolve(s.N, s.period, *s.JA, *s.IA, nth, *s.plan);
        SYMSLV(lst, out, s.N, s.NTERM, s.NP, NITER, s.ITMAX, s.TOL, s.tiny, *s.nodes, *s.JA, *s.IA,
               *s.x, *s.b, *s.A, *s.work2, *s.work1, s.d, nth > 0 ? s.plan : nullptr);
    }
}

}  // namespace nep
