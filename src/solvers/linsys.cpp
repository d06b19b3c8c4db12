#include "solvers/linsys.h"

#include <algorithm>
#include <vector>

#include "base/stop.h"
#include "solvers/petsc.h"
#include "solvers/specified/specified.h"

namespace nep {

namespace {

// PETSc's solvers: the prescribed rows eliminated (solvers/petsc.h). The default selector may
// hand a Picard matrix back to the specified conjugate gradients, which then run with their own
// factor and vectors, formed at the first such solve.
class petsc_solver_family : public system_solver {
public:
    double prescribed_rhs(const linear_system&, double v) const override { return v; }
    void solve(ounit& lst, ounit& out, linear_system& s, arr1<double>& x, int& NITER,
               int& IER) override {
        IER = 0;
        s.judged = true;
        auto specified = [&](int& n) {
            s.judged = false;
            if (!cg_) {
                fac_.alloc(s.NTERM);
                work_.alloc(5L * s.N);
                cg_ = std::make_unique<symmetric_cg>(s.rows.size(), &fac_, &work_, &plan_);
            }
            // The right-hand sides of the prescribed rows in the penalty's form.
            for (int k = 1; k <= s.NP; ++k) (*s.b)(s.rows(k)) = cg_->prescribed_rhs(s, s.values(k));
            int ier = 0;
            cg_->solve(lst, out, s, x, n, ier);
            if (ier != 0) IER = ier;
        };
        bool failed = false;
        PETSLV(lst, out, *s.slot, *s.pst, s.N, s.NP, s.rows, s.values, s.ITMAX, s.TOL, s.tiny,
               NITER, *s.A, *s.b, x, s.d, specified, s.soft ? &failed : nullptr);
        if (failed) IER = -1;
    }

private:
    arr1<double> fac_, work_;
    trisolve_plan plan_;
    std::unique_ptr<symmetric_cg> cg_;
};

void drop(linear_system* s) { delete s; }

// A new system of the run with what the flow and transport systems share.
linear_system* make_system(system_slot& slot, dimensions& dim, const control& ctl, sparse& sp,
                           int selector, bool symmetric, bool transport, int capacity) {
    auto s = std::make_unique<linear_system>();
    s->selector = selector;
    s->symmetric = symmetric;
    s->transport = transport;
    s->N = dim.N;
    s->penalty = ctl.HUGER * 1.0e-9;
    s->work1 = &sp.WORK1;
    s->work2 = &sp.WORK2;
    s->LIMNS1 = dim.LIMNS1;
    s->IBOTMN = &dim.IBOTMN;
    s->RNSYM = &sp.RNSYM;
    s->NSST = &sp.NSST;
    s->rows.alloc(std::max(capacity, 1));
    s->values.alloc(std::max(capacity, 1));
    slot.reset();
    slot.SYS = s.release();
    slot.DROP = drop;
    return slot.SYS;
}

}  // namespace

void linear_system::prescribe(int i, double v) {
    if (NP == rows.size()) {
        // More rows than the system was formed for (a caller that sized nothing): room is made,
        // once.
        std::vector<int> r(rows.begin(), rows.end());
        std::vector<double> w(values.begin(), values.end());
        rows.alloc(2 * (std::size_t)NP);
        values.alloc(2 * (std::size_t)NP);
        std::copy(r.begin(), r.end(), rows.begin());
        std::copy(w.begin(), w.end(), values.begin());
    }
    ++NP;
    rows(NP) = i;
    values(NP) = v;
    (*b)(i) = solver->prescribed_rhs(*this, v);
}

void linear_system::solve(ounit& lst, ounit& out, arr1<double>& x, int& NITER, int& IER) {
    NITER = 0;
    IER = 0;
    solver->solve(lst, out, *this, x, NITER, IER);
}

std::unique_ptr<system_solver> choose_solver(const linear_system& s) {
    if (petsc_solver(s.selector)) return std::make_unique<petsc_solver_family>();
    // The symmetric solver's factor goes to WORK2 and its vectors to WORK1.
    if (s.symmetric) return std::make_unique<symmetric_cg>(s.rows.size(), s.work2, s.work1, s.plan);
    return std::make_unique<nonsymmetric_solver>(s.rows.size());
}

linear_system& flow_system(dimensions& dim, const control& ctl, sparse& sp, cpustat& cpu,
                           bool newton) {
    linear_system* s = sp.FLOWSYS.SYS;
    if (s == nullptr || s->symmetric == newton || s->selector != ctl.ISOLV || s->N != dim.N) {
        s = make_system(sp.FLOWSYS, dim, ctl, sp, ctl.ISOLV, !newton, false, dim.NBCMAX);
        s->IA = &sp.IA;
        s->JA = &sp.JA;
        s->IROW = &sp.IROW;
        s->A = &sp.AMAT;
        s->b = &sp.RHS;
        s->slot = &sp.PETSCF;
        s->pst = &cpu.PSF;
        s->plan = &sp.TPLAN;
        s->period = dim.NNOD;
        s->solver = choose_solver(*s);
    }
    s->NTERM = dim.NTERM;
    s->ITMAX = newton ? ctl.ITCGNS : ctl.ITCGSY;
    s->TOL = newton ? ctl.TLCGNS : ctl.TLCGSY;
    s->tiny = ctl.TINYR;
    s->d = ctl.DIALECT;
    return *s;
}

linear_system& transport_system(dimensions& dim, const control& ctl, sparse& sp, cpustat& cpu) {
    linear_system* s = sp.TRANSYS.SYS;
    if (s == nullptr || s->selector != ctl.ISOLVC || s->N != dim.N) {
        s = make_system(sp.TRANSYS, dim, ctl, sp, ctl.ISOLVC, false, true, dim.NPC);
        s->IA = &sp.IAC();
        s->JA = &sp.JAC();
        s->IROW = &sp.IROWC();
        s->A = &sp.AMATC;
        s->b = &sp.RHSC;
        s->slot = &sp.PETSCT;
        s->pst = &cpu.PST;
        s->solver = choose_solver(*s);
    }
    s->NTERM = dim.NTERMC;
    s->ITMAX = ctl.ITCGNS;
    s->TOL = ctl.TLCGNS;
    s->tiny = ctl.TINYR;
    s->d = ctl.DIALECT;
    return *s;
}

}  // namespace nep
