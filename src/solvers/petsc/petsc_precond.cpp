#include "solvers/petsc/petsc_system.h"

namespace nep {
namespace petsc_impl {

PetscErrorCode columns_setup(PC pc) {
    petsc_system* s = nullptr;
    PetscCall(PCShellGetContext(pc, &s));
    Mat P = nullptr;
    PetscCall(PCGetOperators(pc, nullptr, &P));
    if (s->dist) {
        // This process's columns: its diagonal block, in its own numbering.
        Mat Ad = nullptr;
        PetscCall(MatMPIAIJGetSeqAIJ(P, &Ad, nullptr, nullptr));
        PetscInt n = 0;
        const PetscInt* ai = nullptr;
        const PetscInt* aj = nullptr;
        PetscBool done = PETSC_FALSE;
        PetscCall(MatGetRowIJ(Ad, 0, PETSC_FALSE, PETSC_FALSE, &n, &ai, &aj, &done));
        PetscCheck(done, PETSC_COMM_SELF, PETSC_ERR_SUP, "no row structure of the column block");
        const PetscScalar* a = nullptr;
        PetscCall(MatSeqAIJGetArrayRead(Ad, &a));
        s->factor_columns(ai, aj, a, n, s->parts->ncol);
        PetscCall(MatSeqAIJRestoreArrayRead(Ad, &a));
        PetscCall(MatRestoreRowIJ(Ad, 0, PETSC_FALSE, PETSC_FALSE, &n, &ai, &aj, &done));
        return 0;
    }
    PetscInt n = 0;
    const PetscInt* ai = nullptr;
    const PetscInt* aj = nullptr;
    PetscBool done = PETSC_FALSE;
    PetscCall(MatGetRowIJ(P, 0, PETSC_FALSE, PETSC_FALSE, &n, &ai, &aj, &done));
    PetscCheck(done, PETSC_COMM_SELF, PETSC_ERR_SUP, "no row structure of the matrix");
    const PetscScalar* a = nullptr;
    PetscCall(MatSeqAIJGetArrayRead(P, &a));
    s->factor_columns(ai, aj, a, n, s->NNOD);
    PetscCall(MatSeqAIJRestoreArrayRead(P, &a));
    PetscCall(MatRestoreRowIJ(P, 0, PETSC_FALSE, PETSC_FALSE, &n, &ai, &aj, &done));
    return 0;
}

PetscErrorCode columns_apply(PC pc, Vec v, Vec y) {
    petsc_system* s = nullptr;
    PetscCall(PCShellGetContext(pc, &s));
    const PetscScalar* pv = nullptr;
    PetscScalar* py = nullptr;
    PetscCall(VecGetArrayRead(v, &pv));
    PetscCall(VecGetArray(y, &py));
    s->solve_columns(pv, py);
    PetscCall(VecRestoreArrayRead(v, &pv));
    PetscCall(VecRestoreArray(y, &py));
    return 0;
}

PetscErrorCode column_ordering(Mat A, MatOrderingType, IS* rows, IS* cols) {
    PetscObject obj = nullptr;
    PetscCall(PetscObjectQuery((PetscObject)A, kPeriodKey, &obj));
    PetscInt n = 0;
    PetscCall(MatGetSize(A, &n, nullptr));
    PetscInt period = n;
    if (obj != nullptr) {
        void* p = nullptr;
        PetscCall(PetscContainerGetPointer((PetscContainer)obj, &p));
        period = *static_cast<const PetscInt*>(p);
    }
    if (period <= 0 || n % period != 0) period = n;
    const PetscInt levels = n / period;
    PetscInt* perm = nullptr;
    PetscCall(PetscMalloc1(n, &perm));
    for (PetscInt i = 0; i < period; ++i)
        for (PetscInt L = 0; L < levels; ++L) perm[i * levels + L] = L * period + i;
    PetscCall(ISCreateGeneral(PETSC_COMM_SELF, n, perm, PETSC_COPY_VALUES, rows));
    PetscCall(ISCreateGeneral(PETSC_COMM_SELF, n, perm, PETSC_OWN_POINTER, cols));
    PetscCall(ISSetPermutation(*rows));
    PetscCall(ISSetPermutation(*cols));
    return 0;
}

void make_columns(PC pc, petsc_system* s) {
    PETSC_OK(PCSetType(pc, PCSHELL));
    PETSC_OK(PCShellSetContext(pc, s));
    PETSC_OK(PCShellSetSetUp(pc, columns_setup));
    PETSC_OK(PCShellSetApply(pc, columns_apply));
    PETSC_OK(PCShellSetName(pc, "column blocks"));
}

// A value in the options database unless the user gave one.
void default_option(const std::string& prefix, const char* name, const char* value) {
    PetscBool set = PETSC_FALSE;
    PETSC_OK(PetscOptionsHasName(nullptr, prefix.c_str(), name, &set));
    if (!set) PETSC_OK(PetscOptionsSetValue(nullptr, ("-" + prefix + (name + 1)).c_str(), value));
}

// BoomerAMG for the layered meshes, as measured on the bench hillslope (docs/solvers.md): HMIS
// coarsening, distance-two (ext+i) interpolation truncated to four entries a row, a strong
// threshold of 0.25 (0.5 and 0.7, the usual advice for 3-D, took 13 % and 22 % more iterations
// here) and aggressive coarsening on the finest level along two paths: its hierarchy holds
// about half the entries, which on the larger meshes, where a cycle is bound by memory, is worth
// the 20 % more iterations (along one path it took 60 % more); one forward hybrid Gauss-Seidel
// sweep down and one backward sweep up, over all points (a symmetric cycle for the conjugate
// gradients, at half the cost of a symmetric sweep each way).
void boomeramg_defaults(const std::string& p) {
    default_option(p, "-pc_hypre_boomeramg_coarsen_type", "HMIS");
    default_option(p, "-pc_hypre_boomeramg_interp_type", "ext+i");
    default_option(p, "-pc_hypre_boomeramg_P_max", "4");
    default_option(p, "-pc_hypre_boomeramg_strong_threshold", "0.25");
    default_option(p, "-pc_hypre_boomeramg_agg_nl", "1");
    default_option(p, "-pc_hypre_boomeramg_agg_num_paths", "2");
    default_option(p, "-pc_hypre_boomeramg_relax_type_down", "SOR/Jacobi");
    default_option(p, "-pc_hypre_boomeramg_relax_type_up", "backward-SOR/Jacobi");
    default_option(p, "-pc_hypre_boomeramg_no_CF", nullptr);
}

void make_boomeramg(PC pc, const std::string& p) {
    boomeramg_defaults(p);
    PETSC_OK(PCSetType(pc, PCHYPRE));
    PETSC_OK(PCHYPRESetType(pc, "boomeramg"));
}

// GAMG: smoothed aggregation for the symmetric systems, plain aggregation for the others, the
// prolongators of the first set-up kept by the later ones (which form the coarse matrices
// anew), and one sweep of symmetric SOR as smoother (the default Chebyshev smoother, on its
// estimated spectrum, gave an indefinite cycle on a soil column).
void make_gamg(PC pc, const std::string& p, bool sym) {
    default_option(p, "-pc_gamg_threshold", "0.02");
    default_option(p, "-mg_levels_ksp_type", "richardson");
    default_option(p, "-mg_levels_pc_type", "sor");
    default_option(p, "-pc_gamg_agg_nsmooths", sym ? "1" : "0");
    default_option(p, "-pc_gamg_reuse_interpolation", "true");
    PETSC_OK(PCSetType(pc, PCGAMG));
}

// Two levels: the smoother ICC(0) (one sweep before and one after, as a symmetric cycle), and a
// coarse problem of one unknown per column of the mesh (its nodes from the surface down), formed
// by Galerkin products and solved by BoomerAMG. The layered meshes are thin against their
// extent, and their columns are strongly coupled: the slow modes of the incomplete factor are
// smooth across the surface and nearly constant down a column, which is what the coarse problem
// holds.
void make_twolevel(PC pc, petsc_system& s, const std::string& p) {
    if (s.dist) {
        // This process's rows and columns: row r lies in column r mod ncol of its part.
        const column_parts& cp = *s.parts;
        const PetscInt n = cp.hi - cp.lo;
        PETSC_OK(MatCreateAIJ(PETSC_COMM_WORLD, n, cp.ncol, s.unknowns(), s.columns(), 1, nullptr, 0, nullptr, &s.P));
        const PetscInt c0 = cp.cfirst[cp.rank];
        for (PetscInt r = 0; r < n; ++r) {
            const PetscInt row = cp.lo + r, col = c0 + r % cp.ncol;
            PETSC_OK(MatSetValue(s.P, row, col, 1.0, INSERT_VALUES));
        }
        PETSC_OK(MatAssemblyBegin(s.P, MAT_FINAL_ASSEMBLY));
        PETSC_OK(MatAssemblyEnd(s.P, MAT_FINAL_ASSEMBLY));
        // An incomplete factor of each process's rows (PETSc's own works on one process).
        default_option(p, "-mg_levels_pc_type", "bjacobi");
        default_option(p, "-mg_levels_sub_pc_type", s.sym ? "icc" : "ilu");
    } else {
        const PetscInt n = s.N;
        s.pi.resize(n + 1);
        s.pj.resize(n);
        s.pv.assign(n, 1.0);
        for (PetscInt k = 0; k <= n; ++k) s.pi[k] = k;
        for (PetscInt k = 0; k < n; ++k) s.pj[k] = k % s.NNOD;
        PETSC_OK(MatCreateSeqAIJWithArrays(PETSC_COMM_SELF, n, s.NNOD, s.pi.data(), s.pj.data(),
                                           s.pv.data(), &s.P));
    }
    default_option(p, "-pc_mg_type", "multiplicative");
    default_option(p, "-mg_levels_ksp_type", "richardson");
    default_option(p, "-mg_levels_ksp_max_it", "1");
    default_option(p, "-mg_levels_pc_type", s.sym ? "icc" : "ilu");
    default_option(p, "-mg_coarse_ksp_type", "preonly");
    default_option(p, "-mg_coarse_pc_type", "hypre");
    boomeramg_defaults(p + "mg_coarse_");
    PETSC_OK(PCSetType(pc, PCMG));
    PETSC_OK(PCMGSetLevels(pc, 2, nullptr));
    PETSC_OK(PCMGSetGalerkin(pc, PC_MG_GALERKIN_BOTH));
    PETSC_OK(PCMGSetInterpolation(pc, 1, s.P));
}

// The Krylov solver and preconditioner of a selector, then the options database.
void configure(petsc_system& s) {
    const std::string p = s.prefix;
    PETSC_OK(KSPCreate(s.comm(), &s.ksp));
    PETSC_OK(KSPSetOptionsPrefix(s.ksp, s.prefix));
    PETSC_OK(KSPSetOperators(s.ksp, s.A, s.pmat()));
    if (s.sym) {
        PETSC_OK(KSPSetType(s.ksp, KSPCG));
    } else {
        PETSC_OK(KSPSetType(s.ksp, KSPGMRES));
        PETSC_OK(KSPSetPCSide(s.ksp, PC_RIGHT));
    }
    // The convergence test measures the true residual against the right-hand side, as the
    // specified solvers do.
    PETSC_OK(KSPSetNormType(s.ksp, KSP_NORM_UNPRECONDITIONED));
    // The initial guess is the preconditioner applied to b, as in the specified solvers.
    PETSC_OK(KSPSetInitialGuessNonzero(s.ksp, PETSC_FALSE));
    PETSC_OK(KSPSetInitialGuessKnoll(s.ksp, PETSC_TRUE));
    PC pc = nullptr;
    PETSC_OK(KSPGetPC(s.ksp, &pc));
    switch (s.selector) {
    case PSOLV_DEFAULT: {
        // The choice follows the matrix, unless the user chose a preconditioner.
        PetscBool chosen = PETSC_FALSE;
        PETSC_OK(PetscOptionsHasName(nullptr, s.prefix, "-pc_type", &chosen));
        // The hand-back's PETSc solves are BoomerAMG's (the other matrices go back).
        s.adaptive = !chosen && !s.shell;
        // On several processes the incomplete factor is that of each process's rows.
        if (s.dist && s.sym) default_option(p, "-sub_pc_type", "icc");
        make_boomeramg(pc, p);
        break;
    }
    case PSOLV_BOOMERAMG: make_boomeramg(pc, p); break;
    case PSOLV_GAMG: make_gamg(pc, p, s.sym); break;
    case PSOLV_COLUMNS: make_columns(pc, &s); break;
    case PSOLV_COLUMN_COARSE: make_twolevel(pc, s, p); break;
    default: input_error("internal error: PETSc selector " + std::to_string(s.selector));
    }
    PetscBool set = PETSC_FALSE;
    PetscReal cost = s.cost;
    PETSC_OK(PetscOptionsGetReal(nullptr, s.prefix, "-nepora_pc_cost", &cost, &set));
    s.cost = cost;
    s.cost_set = set;
    PetscInt every = 0;
    PETSC_OK(PetscOptionsGetInt(nullptr, s.prefix, "-nepora_pc_every", &every, &set));
    s.every = (int)every;
    PetscInt most = kDirectMax;
    PETSC_OK(PetscOptionsGetInt(nullptr, s.prefix, "-nepora_direct_max", &most, &set));
    s.direct_max = most;
    PETSC_OK(KSPSetFromOptions(s.ksp));
}

// The largest ratio, over the free rows, of the off-diagonal magnitudes of a row to its diagonal,
// with the prescribed rows and columns (s.mark) left out, as the elimination leaves them; from
// the assembly's values of the present solve (s.U) in its storage. Several processes: each its
// own rows.
double off_diagonal_ratio(petsc_system& s) {
    const arr1<int>& IA = *s.IA;
    const arr1<int>& JA = *s.JA;
    const arr1<double>& A = *s.U;
    auto counted = [&](int i) { return !s.mark[i - 1] && (!s.dist || s.own_row(i - 1) >= 0); };
    double worst = 0.0;
    auto ratio = [&](double off, double diag) {
        worst = diag != 0.0 ? std::fmax(worst, off / std::fabs(diag)) : HUGE_VAL;
    };
    if (s.sym) {
        // Row i's entries left of its diagonal are those of the rows above, in their order.
        std::vector<double> off(s.N, 0.0);
        for (int i = 1; i <= s.N; ++i) {
            for (int k = IA(i) + 1; k < IA(i + 1); ++k) {
                const int j = JA(k);
                if (s.mark[i - 1] || s.mark[j - 1]) continue;
                off[i - 1] += std::fabs(A(k));
                off[j - 1] += std::fabs(A(k));
            }
        }
        for (int i = 1; i <= s.N; ++i)
            if (counted(i)) ratio(off[i - 1], A(IA(i)));
    } else {
        for (int i = 1; i <= s.N; ++i) {
            if (!counted(i)) continue;
            double off = 0.0, diag = 0.0;
            for (int k = IA(i); k < IA(i + 1); ++k) {
                if (JA(k) == i) diag = A(k);
                else if (!s.mark[JA(k) - 1]) off += std::fabs(A(k));
            }
            ratio(off, diag);
        }
    }
    return s.dist ? proc_max(worst) : worst;
}

// off_diagonal_ratio of the matrix A of a symmetric system with the first NP nodes prescribed.
double symmetric_ratio(petsc_system& s, const arr1<double>& A, int NP, const arr1<int>& nodes) {
    s.mark.assign(s.N, 0);
    for (int n = 1; n <= NP; ++n) s.mark[nodes(n) - 1] = 1;
    s.U = &A;
    return off_diagonal_ratio(s);
}

// The default selector's choice at every set-up. A matrix whose rows are all strongly dominated
// by their diagonals (the off-diagonal magnitudes of a row at most half its diagonal: the storage
// term of short steps) is well conditioned whatever the mesh: the incomplete factor solves it in
// an iteration or two, and a multigrid hierarchy would only cost its set-up and cycles. Any other
// matrix gets BoomerAMG.
void choose_preconditioner(petsc_system& s) {
    const bool dominant = off_diagonal_ratio(s) <= 0.5;
    const char* one_level = s.dist ? PCBJACOBI : s.sym ? PCICC : PCILU;
    const char* want = dominant ? one_level : PCHYPRE;
    PC pc = nullptr;
    PETSC_OK(KSPGetPC(s.ksp, &pc));
    PetscBool same = PETSC_FALSE;
    PETSC_OK(PetscObjectTypeCompare((PetscObject)pc, want, &same));
    if (same) return;
    PETSC_OK(PCSetType(pc, want));
    if (!dominant) PETSC_OK(PCHYPRESetType(pc, "boomeramg"));
    PETSC_OK(PCSetFromOptions(pc));
}

// Sets the preconditioner up on the present matrix.
void set_up(petsc_system& s, petsc_stat& st) {
    double t = 0.0;
    timer(t, 1);
    if (s.direct) {
        PC pc = nullptr;
        PETSC_OK(KSPGetPC(s.ksp, &pc));
        if (s.dist) {
            // On several processes the factor is process 0's, of the system gathered to it:
            // MUMPS's own factorization on several processes sums in the order its messages
            // come, and the run would not give the same heads twice.
            const std::string p = s.prefix;
            default_option(p, "-telescope_ksp_type", "preonly");
            default_option(p, "-telescope_pc_type", "lu");
            default_option(p, "-telescope_pc_factor_mat_solver_type", "mumps");
            PETSC_OK(PCSetType(pc, PCTELESCOPE));
            PETSC_OK(PCTelescopeSetReductionFactor(pc, proc_count()));
            PETSC_OK(PCSetFromOptions(pc));
        } else {
            PETSC_OK(PCSetType(pc, PCLU));
            PETSC_OK(PCFactorSetMatSolverType(pc, MATSOLVERMUMPS));
        }
    } else if (s.adaptive) {
        choose_preconditioner(s);
    }
    if (s.P != nullptr) {
        // The coarse unknowns leave the prescribed nodes out.
        PetscScalar* v = nullptr;
        if (s.dist) {
            // One entry a row of this process, in its diagonal block.
            const column_parts& cp = *s.parts;
            Mat Pd = nullptr;
            PETSC_OK(MatMPIAIJGetSeqAIJ(s.P, &Pd, nullptr, nullptr));
            PETSC_OK(MatSeqAIJGetArray(Pd, &v));
            for (PetscInt k = 0; k < cp.hi - cp.lo; ++k) v[k] = 1.0;
            for (int n = 1; n <= s.nheld; ++n) {
                const PetscInt r = cp.number[(*s.held)(n) - 1];
                if (r >= cp.lo && r < cp.hi) v[r - cp.lo] = 0.0;
            }
            PETSC_OK(MatSeqAIJRestoreArray(Pd, &v));
        } else {
            PETSC_OK(MatSeqAIJGetArray(s.P, &v));
            for (PetscInt k = 0; k < s.N; ++k) v[k] = 1.0;
            for (int n = 1; n <= s.nheld; ++n) v[(*s.held)(n) - 1] = 0.0;
            PETSC_OK(MatSeqAIJRestoreArray(s.P, &v));
        }
        PETSC_OK(MatAssemblyBegin(s.P, MAT_FINAL_ASSEMBLY));
        PETSC_OK(MatAssemblyEnd(s.P, MAT_FINAL_ASSEMBLY));
    }
    s.form->prepare(s);
    // Handing the operators over again is what makes the set-up take the present values.
    PETSC_OK(KSPSetReusePreconditioner(s.ksp, PETSC_FALSE));
    PETSC_OK(KSPSetOperators(s.ksp, s.A, s.pmat()));
    PETSC_OK(KSPSetUp(s.ksp));
    PETSC_OK(KSPSetReusePreconditioner(s.ksp, PETSC_TRUE));
    timer(t, 2);
    st.TSETUP += t;
    st.NSETUP += 1;
    s.ready = true;
    s.since = 0;
    s.its_since = 0;
}

// Whether a set-up taken to cost as much as `cost` iterations pays again: while the iterations
// of the solves grow, the mean cost of a solve since the set-up (the set-up included) falls as
// long as the last solve cost no more than that mean, and rises from the first one that cost
// more.
bool iterations_grew(const petsc_system& s, double cost) {
    return s.since > 0 && (double)s.last_its * s.since > cost + (double)s.its_since;
}

// Whether the preconditioner is set up again before this solve: by iterations_grew, and with
// `every` > 0 at least every that many solves.
bool want_setup(const petsc_system& s) {
    // A direct factor of a former matrix preconditions the next ones badly: it is formed anew.
    if (!s.ready || s.direct) return true;
    if (s.every > 0 && s.since >= s.every) return true;
    // An incomplete factor costs about one iteration to form; a multigrid hierarchy `cost`.
    double cost = s.cost;
    if (!s.cost_set) {
        PC pc = nullptr;
        PETSC_OK(KSPGetPC(s.ksp, &pc));
        PetscBool one_level = PETSC_FALSE;
        PETSC_OK(PetscObjectTypeCompareAny((PetscObject)pc, &one_level, PCICC, PCILU, PCJACOBI,
                                           PCSOR, PCBJACOBI, PCSHELL, ""));
        if (one_level) cost = 1.0;
    }
    return iterations_grew(s, cost);
}

}  // namespace petsc_impl

}  // namespace nep
