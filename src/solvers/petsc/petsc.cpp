#include "solvers/petsc/petsc_system.h"

namespace nep {
namespace petsc_impl {

const char* reason_text(KSPConvergedReason r) {
    const char* t = KSPConvergedReasons[r];
    return t != nullptr ? t : "unknown";
}

// The text of the listing for the choice of the default selector.
void echo_solver(ounit& lst, const petsc_system& s, petsc_stat& st, const std::string& pcs) {
    if (s.handback) {
        std::snprintf(st.TEXT, sizeof st.TEXT, "%s",
                      "KSP cg, PC hypre boomeramg or the specified CG, by the matrix");
    } else {
        KSPType kt = nullptr;
        PETSC_OK(KSPGetType(s.ksp, &kt));
        std::snprintf(st.TEXT, sizeof st.TEXT, "KSP %s, PC %s", kt != nullptr ? kt : "?",
                      pcs.c_str());
    }
    wfmt(lst, "(5X,'PETSC ',A,' SOLVER: ',A)", s.transport ? "TRANSPORT" : "FLOW", st.TEXT);
}

// A solve of the default selector handed to the specified conjugate gradients.
void specified_solve(ounit& lst, petsc_system& s, petsc_stat& st, int& NITER,
                     const std::function<void(int&)>& specified) {
    if (!s.solved) {
        s.solved = true;
        echo_solver(lst, s, st, "");
    }
    double t = 0.0;
    timer(t, 1);
    specified(NITER);
    timer(t, 2);
    st.TSOLVE += t;
    st.NITER += NITER;
    s.since += 1;
    s.its_since += NITER;
    s.last_its = NITER;
}

}  // namespace petsc_impl

void PETSLV(ounit& lst, ounit& out, petsc_slot& slot, petsc_stat& st, int N, int NP,
            const arr1<int>& nodes, const arr1<double>& values, int ITMAX, double TOL, double tiny,
            int& NITER, const arr1<double>& A, const arr1<double>& b, arr1<double>& x, dialect d,
            const std::function<void(int&)>& specified, bool* failed) {
    if (slot.SYS == nullptr) input_error("internal error: a PETSc solve without its system");
    petsc_system& s = *slot.SYS;
    // The new values: copied from the symmetric storage, or already in PETSc's arrays; either
    // way the matrix learns that they changed.
    NITER = 0;
    st.NSOLVE += 1;
    const bool alt = d == dialect::ALT;
    const char* trace = "(1X,I4,2(1PE15.6),'  <<PETSC SOLVER>>',A)";
    // On several processes each sums its own rows, the only ones its assembly forms whole.
    double ball = 0.0;
    if (s.dist) {
        for (PetscInt i : s.parts->rows) ball += b(i + 1) * b(i + 1);
        proc_sum(&ball, 1);
    } else {
        for (int i = 1; i <= N; ++i) ball += b(i) * b(i);
    }
    if (ball == 0.0) {
        // Nothing to solve: x = 0 (a Krylov method would start and stop there).
        for (int i = 1; i <= N; ++i) x(i) = 0.0;
        wfmt(lst, trace, 0, 0.0, 0.0, "");
        return;
    }

    if (s.handback) {
        // The choice between the specified solver and PETSc, made again where PETSc would set
        // its preconditioner up again, and where the specified solver's iterations grow.
        const bool again = s.builtin ? iterations_grew(s, 1.0) : want_setup(s);
        if (again) {
            s.builtin = symmetric_ratio(s, A, NP, nodes) <= 0.5;
            // Either way the next solve of PETSc sets its preconditioner up.
            s.since = 0;
            s.its_since = 0;
            s.ready = false;
        }
        if (s.builtin) {
            specified_solve(lst, s, st, NITER, specified);
            return;
        }
        if (s.pending) make_symmetric(s);
    }

    // The prescribed rows, by node.
    s.mark.assign(N, 0);
    for (int n = 1; n <= NP; ++n) s.mark[nodes(n) - 1] = 1;
    s.U = &A;
    // b into PETSc's vector: this process's rows (on several processes each holds its own rows
    // whole).
    PetscScalar* f = nullptr;
    PETSC_OK(VecGetArray(s.b, &f));
    const PetscInt nown = s.dist ? (PetscInt)s.parts->rows.size() : N;
    auto node_of = [&](PetscInt r) { return s.dist ? s.parts->rows[r] : r; };  // from 0
    for (PetscInt r = 0; r < nown; ++r) f[r] = b(node_of(r) + 1);
    PETSC_OK(VecRestoreArray(s.b, &f));
    s.form->load(s, A, NP, nodes, values);
    // The residual measures leave the prescribed rows out.
    double bb = 0.0;
    {
        const PetscScalar* fb = nullptr;
        PETSC_OK(VecGetArrayRead(s.b, &fb));
        for (PetscInt r = 0; r < nown; ++r)
            if (!s.mark[node_of(r)]) bb += fb[r] * fb[r];
        PETSC_OK(VecRestoreArrayRead(s.b, &fb));
        if (s.dist) proc_sum(&bb, 1);
    }
    // The test of the specified solvers, ERR <= TOL with the residual and b over the free rows
    // (the prescribed rows of the residual stay 0): an absolute bound on PETSc's norm.
    const double scale = bb > 0.0 ? std::sqrt(bb) : std::sqrt((double)N);

    s.held = &nodes;
    s.nheld = NP;
    s.solution->attach(s, x);
    KSPConvergedReason reason = KSP_CONVERGED_ITERATING;
    int its = 0;
    bool fresh = false;
    const char* note = "";
    // One Krylov solve of at most `limit` iterations; its iterations.
    auto krylov = [&](int limit) {
        PETSC_OK(KSPSetTolerances(s.ksp, 0.0, TOL * scale, PETSC_DEFAULT, limit));
        double t = 0.0;
        timer(t, 1);
        PETSC_OK(KSPSolve(s.ksp, s.b, s.x));
        timer(t, 2);
        st.TSOLVE += t;
        PetscInt n = 0;
        PETSC_OK(KSPGetIterationNumber(s.ksp, &n));
        PETSC_OK(KSPGetConvergedReason(s.ksp, &reason));
        its += (int)n;
        return (int)n;
    };
    for (int attempt = 0; attempt < 2; ++attempt) {
        fresh = want_setup(s) || attempt > 0;
        if (fresh) set_up(s, st);
        // A reused preconditioner gets a few times the iterations of the solve after its set-up:
        // one that needs more is set up again rather than carried to the limit.
        const int n = krylov(fresh ? ITMAX : std::min(ITMAX, 3 * s.first_its + 10));
        if (fresh) s.first_its = n;
        s.since += 1;
        s.its_since += n;
        s.last_its = n;
        if (fresh) note = attempt > 0 ? ", PC SET UP AGAIN" : ", PC SET UP";
        if (reason > 0 || fresh) break;
        st.NRETRY += 1;
    }
    if (reason <= 0 && s.adaptive && !s.direct && s.unknowns() <= s.direct_max) {
        // The default selector's last resort: the solve done again on a direct factorization,
        // which the system keeps.
        s.direct = true;
        set_up(s, st);
        st.NRETRY += 1;
        krylov(ITMAX);
        note = ", DIRECT FACTOR AFTER A FAILED SOLVE";
    }
    NITER = its;
    st.NITER += its;
    // The Krylov method's last residual norm against b, and the true residual of x.
    PetscReal rnorm = 0.0;
    PETSC_OK(KSPGetResidualNorm(s.ksp, &rnorm));
    const double ERR = rnorm / scale;
    PETSC_OK(MatMult(s.A, s.x, s.r));
    PETSC_OK(VecAYPX(s.r, -1.0, s.b));
    PetscScalar* pr = nullptr;
    PETSC_OK(VecGetArray(s.r, &pr));
    double rr = 0.0;
    if (s.dist) {
        const std::vector<PetscInt>& rows = s.parts->rows;
        for (std::size_t k = 0; k < rows.size(); ++k)
            if (!s.mark[rows[k]]) rr += pr[k] * pr[k];
    } else {
        for (int i = 0; i < N; ++i)
            if (!s.mark[i]) rr += pr[i] * pr[i];
    }
    PETSC_OK(VecRestoreArray(s.r, &pr));
    if (s.dist) proc_sum(&rr, 1);
    s.solution->detach(s, x);
    const double RES = bb > tiny ? std::sqrt(rr / bb) : std::sqrt(rr / N);

    if (!s.solved) {
        // What PETSc runs, once the options database has had its say.
        s.solved = true;
        PCType pt = nullptr;
        PC pc = nullptr;
        PETSC_OK(KSPGetPC(s.ksp, &pc));
        PETSC_OK(PCGetType(pc, &pt));
        std::string pcs = pt != nullptr ? pt : "none";
        if (pcs == PCHYPRE) {
            const char* h = nullptr;
            PETSC_OK(PCHYPREGetType(pc, &h));
            if (h != nullptr) pcs += std::string(" ") + h;
        }
        if (s.adaptive) {
            pcs = std::string(s.sym ? "icc" : "ilu") + " or hypre boomeramg, by the matrix";
        } else if (pcs == PCSHELL) {
            pcs = "block Jacobi by columns";
        } else if (pcs == PCMG && s.P != nullptr) {
            pcs = "mg, a coarse problem of the columns";
        }
        echo_solver(lst, s, st, pcs);
        refuse_unused(s.transport, "read it in the first solve of its system");
    }
    wfmt(lst, trace, NITER, ERR, RES, note);
    if (reason > 0) return;
    if (failed != nullptr) {
        *failed = true;
        return;
    }

    wfree(out, s.sym ? "STOP -- SUBROUTINE SYMSLV:" : "STOP -- SUBROUTINE NSYSLV:");
    if (alt && s.sym) {
        wfree(out, "ERR= ", ERR, " > ", "TOLCG= ", TOL, NITER);
    } else {
        wfree(out, "ERR= ", ERR, " > ", "TOLCG= ", TOL, " within ", NITER, " iterations ");
    }
    input_error(std::string("the PETSc ") + (s.transport ? "transport" : "flow") + " solve (" +
                st.TEXT + ") failed: " + reason_text(reason));
}

void petsc_renew(petsc_slot& slot) {
    if (slot.SYS == nullptr) return;
    slot.SYS->ready = false;
    // The choice of the default selector made again, as in a continued run.
    slot.SYS->builtin = false;
    slot.SYS->direct = false;
}

bool petsc_solved(const petsc_slot& slot) { return slot.SYS != nullptr && slot.SYS->solved; }

void petsc_set_solved(petsc_slot& slot, bool solved) {
    if (slot.SYS != nullptr) slot.SYS->solved = solved;
}

}  // namespace nep
