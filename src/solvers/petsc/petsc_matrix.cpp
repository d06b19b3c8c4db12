#include "solvers/petsc/petsc_system.h"

namespace nep {
namespace petsc_impl {

void drop_system(petsc_system* s) { delete s; }

void make_gather(petsc_system& s);

namespace {

class rows_matrix : public matrix_form {
public:
    void load(petsc_system& s, const arr1<double>& A, int NP, const arr1<int>& nodes,
              const arr1<double>& values) override {
        s.set_values(A);
        // Unit rows whose right-hand sides are their values, their columns moved into the
        // right-hand sides of the other rows: this process's prescribed rows, in PETSc's numbers.
        s.zrows.clear();
        s.zvals.clear();
        for (int n = 1; n <= NP; ++n) {
            const int i = nodes(n) - 1;
            if (s.dist && s.own_row(i) < 0) continue;
            s.zrows.push_back(s.dist ? s.parts->number[i] : i);
            s.zvals.push_back(values(n));
        }
        PETSC_OK(VecSet(s.r, 0.0));
        PETSC_OK(VecSetValues(s.r, (PetscInt)s.zrows.size(), s.zrows.data(), s.zvals.data(),
                              INSERT_VALUES));
        PETSC_OK(VecAssemblyBegin(s.r));
        PETSC_OK(VecAssemblyEnd(s.r));
        PETSC_OK(MatZeroRowsColumns(s.A, (PetscInt)s.zrows.size(), s.zrows.data(), 1.0, s.r, s.b));
    }
};

class shell_matrix : public matrix_form {
public:
    // The product reads the assembly's values (s.U) itself; the prescribed rows take their
    // values, increments of 0 under Picard, so that their columns move nothing into the others.
    void load(petsc_system& s, const arr1<double>&, int NP, const arr1<int>& nodes,
              const arr1<double>& values) override {
        PetscScalar* f = nullptr;
        PETSC_OK(VecGetArray(s.b, &f));
        for (int n = 1; n <= NP; ++n) {
            if (values(n) != 0.0) input_error("internal error: a prescribed increment that is not 0");
            const PetscInt r = s.dist ? s.own_row(nodes(n) - 1) : nodes(n) - 1;
            if (r >= 0) f[r] = values(n);
        }
        PETSC_OK(VecRestoreArray(s.b, &f));
    }
    void prepare(petsc_system& s) override { s.fill_hypre(); }
};

}  // namespace

// The caller's array placed in x for the solve.
class placed : public solution_vector {
public:
    void attach(petsc_system& s, arr1<double>& x) override { PETSC_OK(VecPlaceArray(s.x, x.data())); }
    void detach(petsc_system& s, arr1<double>&) override { PETSC_OK(VecResetArray(s.x)); }
};

// x of its own: the solution copied out, on several processes to every node this process holds
// (its own rows straight from x, the rings' from their processes).
class copied : public solution_vector {
public:
    void attach(petsc_system&, arr1<double>&) override {}
    void detach(petsc_system& s, arr1<double>& x) override {
        const PetscScalar* v = nullptr;
        if (!s.dist) {
            PETSC_OK(VecGetArrayRead(s.x, &v));
            std::copy(v, v + s.N, x.data());
            PETSC_OK(VecRestoreArrayRead(s.x, &v));
            return;
        }
        PETSC_OK(VecScatterBegin(s.gather, s.x, s.ringx, INSERT_VALUES, SCATTER_FORWARD));
        const std::vector<PetscInt>& rows = s.parts->rows;
        PETSC_OK(VecGetArrayRead(s.x, &v));
        for (std::size_t r = 0; r < rows.size(); ++r) x.data()[rows[r]] = v[r];
        PETSC_OK(VecRestoreArrayRead(s.x, &v));
        PETSC_OK(VecScatterEnd(s.gather, s.x, s.ringx, INSERT_VALUES, SCATTER_FORWARD));
        PETSC_OK(VecGetArrayRead(s.ringx, &v));
        for (std::size_t g = 0; g < s.ring.size(); ++g) x.data()[s.ring[g]] = v[g];
        PETSC_OK(VecRestoreArrayRead(s.ringx, &v));
    }
};

std::unique_ptr<solution_vector> placed_solution() { return std::make_unique<placed>(); }
std::unique_ptr<solution_vector> copied_solution() { return std::make_unique<copied>(); }

std::unique_ptr<matrix_form> rows_form() { return std::make_unique<rows_matrix>(); }
std::unique_ptr<matrix_form> shell_form() { return std::make_unique<shell_matrix>(); }

// The vectors of a system: of the type the options database asks for (-vec_type, with the
// system's prefix), the right-hand side b, the solution x and the residual r.
void make_vectors(petsc_system& s, PetscInt n) {
    PETSC_OK(VecCreate(s.comm(), &s.b));
    PETSC_OK(VecSetSizes(s.b, n, s.unknowns()));
    PETSC_OK(VecSetOptionsPrefix(s.b, s.prefix));
    PETSC_OK(VecSetFromOptions(s.b));
    PETSC_OK(VecDuplicate(s.b, &s.r));
    // On one process with host vectors the solution goes straight to the caller's array (placed
    // in x for the solve: no copy of it is kept); otherwise x is a vector of its own.
    PetscBool host = PETSC_FALSE;
    PETSC_OK(PetscObjectTypeCompare((PetscObject)s.b, VECSEQ, &host));
    if (!s.dist && host) {
        PETSC_OK(VecCreateSeqWithArray(PETSC_COMM_SELF, 1, n, nullptr, &s.x));
        s.solution = placed_solution();
    } else {
        PETSC_OK(VecDuplicate(s.b, &s.x));
        s.solution = copied_solution();
    }
}

// The one place where a matrix is formed from the pattern: of the type the options database asks
// for (-mat_type, with the system's prefix; AIJ by default), on one process or on several (each
// its own rows), preallocated by the counts of its rows' entries (in the diagonal block and off
// it, and those of the upper triangle for the symmetric types), then filled with zeros once so
// that its pattern is set before the first solve. The values of every solve go in by rows
// (petsc_system::fill): PETSc keeps its copy of the values and nothing beside it.
void make_matrix(petsc_system& s) {
    const PetscInt n = s.dist ? s.parts->hi - s.parts->lo : s.N;
    const PetscInt lo = s.dist ? s.parts->lo : 0;
    std::vector<PetscInt> d(n, 0), o(n, 0), du(n, 0), ou(n, 0);
    int longest = 0;
    auto count = [&](int i, int j) {
        const PetscInt r = s.number(i), c = s.number(j);
        const bool diag = c >= lo && c < lo + n;
        ++(diag ? d : o)[r - lo];
        if (c >= r) ++(diag ? du : ou)[r - lo];
    };
    s.runs(
        [&](int i, int k0, int k1) {
            longest = std::max(longest, k1 - k0);
            for (int k = k0; k < k1; ++k) count(i, (*s.JA)(k));
        },
        [&](int j, int i, int) { count(j, i); }, [](int) {});
    s.rows.assign(longest, 0);
    s.vals.assign(longest, 0.0);
    PETSC_OK(MatCreate(s.comm(), &s.A));
    PETSC_OK(MatSetSizes(s.A, n, n, s.unknowns(), s.unknowns()));
    PETSC_OK(MatSetType(s.A, MATAIJ));
    PETSC_OK(MatSetOptionsPrefix(s.A, s.prefix));
    PETSC_OK(MatSetFromOptions(s.A));
    // Each call preallocates the types it knows and leaves the others be; MatSetUp gives any
    // other type its own default.
    PETSC_OK(MatXAIJSetPreallocation(s.A, 1, d.data(), o.data(), du.data(), ou.data()));
    PETSC_OK(MatSeqSELLSetPreallocation(s.A, 0, d.data()));
    PETSC_OK(MatMPISELLSetPreallocation(s.A, 0, d.data(), 0, o.data()));
    PETSC_OK(MatSetUp(s.A));
    // Every process sets its own rows alone.
    PETSC_OK(MatSetOption(s.A, MAT_NO_OFF_PROC_ENTRIES, PETSC_TRUE));
    s.fill([](int) { return 0.0; });
    s.form = rows_form();
    PetscContainer c = nullptr;
    PETSC_OK(PetscContainerCreate(PETSC_COMM_SELF, &c));
    PETSC_OK(PetscContainerSetPointer(c, &s.period));
    PETSC_OK(PetscObjectCompose((PetscObject)s.A, kPeriodKey, (PetscObject)c));
    PETSC_OK(PetscContainerDestroy(&c));
    make_vectors(s, n);
    if (s.dist) make_gather(s);
}

// Several processes: the right-hand side by node and the gather of the rings' solution.
void make_gather(petsc_system& s) {
    std::vector<PetscInt> from_rows;
    s.ring.clear();
    for (int i = 0; i < s.N; ++i) {
        if (s.own_row(i) >= 0) continue;
        s.ring.push_back(i);
        from_rows.push_back(s.parts->number[i]);
    }
    s.ring.shrink_to_fit();
    IS from = nullptr;
    PETSC_OK(ISCreateGeneral(PETSC_COMM_SELF, (PetscInt)from_rows.size(), from_rows.data(),
                             PETSC_COPY_VALUES, &from));
    PETSC_OK(VecCreateSeq(PETSC_COMM_SELF, (PetscInt)from_rows.size(), &s.ringx));
    PETSC_OK(VecScatterCreate(s.x, from, s.ringx, nullptr, &s.gather));
    PETSC_OK(ISDestroy(&from));
}

// Several processes: the surface nodes of this process's columns, and the runs of the elements
// that touch them, which alone its flow assembly forms (records/sparse.h).
void own_elements(const dimensions& dim, const mesh& msh, const column_parts& cp, sparse& sp) {
    sp.OWNCOL.assign(dim.NNOD, 0);
    for (int i = 0; i < dim.NNOD; ++i) sp.OWNCOL[i] = cp.part[i] == cp.rank ? 1 : 0;
    sp.ERUN.clear();
    int t[5];
    for (long e = 1; e <= dim.NT; ++e) {
        msh.TETRA.nodes(e, t);
        if (!sp.touches_own(t, dim.NNOD)) continue;
        if (!sp.ERUN.empty() && sp.ERUN.back() == e - 1) {
            sp.ERUN.back() = e;
        } else {
            sp.ERUN.push_back(e);
            sp.ERUN.push_back(e);
        }
    }
}

// Whether the flow system of the default selector may hand its dominant matrices to the
// specified solver (petsc_system::handback): one process, Picard, and no -pc_type and no
// command-line option of the flow system (those are the user's choice of PETSc's solver).
bool hands_back(const petsc_system& s) {
    if (s.selector != PSOLV_DEFAULT || !s.sym || s.dist) return false;
    PetscBool chosen = PETSC_FALSE;
    PETSC_OK(PetscOptionsHasName(nullptr, s.prefix, "-pc_type", &chosen));
    if (chosen) return false;
    for (const std::string& n : command_line_names()) {
        if (!transport_option(n)) return false;
    }
    return true;
}

// y = A x for the shell matrix (petsc_system::shell): the product of the symmetric storage with
// the prescribed entries of x taken as 0, and y = x on the prescribed rows.
PetscErrorCode shell_mult(Mat M, Vec x, Vec y) {
    petsc_system* s = nullptr;
    PetscCall(MatShellGetContext(M, &s));
    const PetscScalar* xv = nullptr;
    PetscScalar* yv = nullptr;
    PetscCall(VecGetArrayRead(x, &xv));
    PetscCall(VecGetArray(y, &yv));
    for (int i = 0; i < s->N; ++i) s->xfree[i] = s->mark[i] ? 0.0 : xv[i];
    symmul(s->N, *s->JA, *s->IA, *s->U, s->xfree.data(), yv);
    for (int n = 1; n <= s->nheld; ++n) {
        const int i = (*s->held)(n) - 1;
        yv[i] = xv[i];
    }
    PetscCall(VecRestoreArray(y, &yv));
    PetscCall(VecRestoreArrayRead(x, &xv));
    return 0;
}

// hypre's matrix par, whose pattern is formed, as H, and the shell matrix of this process's n
// rows with the product `mult`.
void wrap_shell(petsc_system& s, hypre_ParCSRMatrix* par, PetscInt n,
                PetscErrorCode (*mult)(Mat, Vec, Vec)) {
    hypre_ParCSRMatrixSetNumNonzeros(par);
    hypre_ParCSRMatrixSetDNumNonzeros(par);
    PETSC_OK(MatCreateFromParCSR(par, MATHYPRE, PETSC_OWN_POINTER, &s.H));
    PETSC_OK(MatCreateShell(s.comm(), n, n, s.unknowns(), s.unknowns(), &s, &s.A));
    PETSC_OK(MatShellSetOperation(s.A, MATOP_MULT, (void (*)(void))mult));
    PETSC_OK(MatShellSetOperation(s.A, MATOP_MULT_TRANSPOSE, (void (*)(void))mult));
    PETSC_OK(MatSetOption(s.A, MAT_SYMMETRIC, PETSC_TRUE));
}

// The shell matrix and hypre's matrix of a symmetric system (petsc_system::shell), and the
// vectors.
void make_shell(petsc_system& s) {
    const arr1<int>& IA = *s.IA;
    const arr1<int>& JA = *s.JA;
    const int N = s.N;
    std::vector<HYPRE_Int> lower(N + 1, 0);  // entries left of the diagonal, by row
    for (int j = 1; j <= N; ++j)
        for (int k = IA(j) + 1; k < IA(j + 1); ++k) ++lower[JA(k)];
    const HYPRE_Int nz = 2 * (IA(N + 1) - 1) - N;
    HYPRE_BigInt starts[2] = {0, N};
    hypre_ParCSRMatrix* par =
        hypre_ParCSRMatrixCreate(PETSC_COMM_SELF, N, N, starts, starts, 0, nz, 0);
    hypre_ParCSRMatrixInitialize(par);
    hypre_CSRMatrix* d = hypre_ParCSRMatrixDiag(par);
    HYPRE_Int* hi = hypre_CSRMatrixI(d);
    HYPRE_Int* hj = hypre_CSRMatrixJ(d);
    hi[0] = 0;
    for (int i = 1; i <= N; ++i) hi[i] = hi[i - 1] + lower[i] + (IA(i + 1) - IA(i));
    full_entries(N, IA, JA, hi, [&](HYPRE_Int q, int, int col, int) { hj[q] = col; });
    diagonals_first(N, IA, hi, hj);
    wrap_shell(s, par, N, shell_mult);
    s.form = shell_form();
    s.xfree.assign(N, 0.0);
    make_vectors(s, N);
}

// y = A x for the shell matrix on several processes: this process's rows, each summed as the
// product of one process sums it (symmul: the terms of the rows above in their order, then its
// own), over the rows of the symmetric storage that reach them (`reach`), the prescribed rows
// and columns left out.
PetscErrorCode shell_mult_dist(Mat M, Vec x, Vec y) {
    petsc_system* s = nullptr;
    PetscCall(MatShellGetContext(M, &s));
    PetscCall(VecScatterBegin(s->halo, x, s->xg, INSERT_VALUES, SCATTER_FORWARD));
    PetscCall(VecScatterEnd(s->halo, x, s->xg, INSERT_VALUES, SCATTER_FORWARD));
    const std::vector<PetscInt>& rows = s->parts->rows;
    const PetscScalar* xv = nullptr;
    const PetscScalar* gv = nullptr;
    PetscScalar* yv = nullptr;
    PetscCall(VecGetArrayRead(x, &xv));
    PetscCall(VecGetArrayRead(s->xg, &gv));
    PetscCall(VecGetArray(y, &yv));
    // x and y by node, from 1.
    const std::size_t n = rows.size(), ng = s->ghost.size();
    double* xl = s->xfree.data();
    double* yl = s->yfree.data();
    for (std::size_t r = 0; r < n; ++r) xl[rows[r] + 1] = s->mark[rows[r]] ? 0.0 : xv[r];
    for (std::size_t g = 0; g < ng; ++g) xl[s->ghost[g] + 1] = s->mark[s->ghost[g]] ? 0.0 : gv[g];
    std::fill(s->yfree.begin(), s->yfree.end(), 0.0);
    // symmul's loop over the rows that reach this process's rows: those rows' sums are whole;
    // the other rows' (of the ghosts) are left incomplete and never read.
    const int* IA = s->IA->data() - 1;
    const int* JA = s->JA->data() - 1;
    const double* V = s->U->data() - 1;
    for (const int j : s->reach) {
        const double xj = xl[j];
        const int kd = IA[j], kend = IA[j + 1];
        double yj = yl[j] + V[kd] * xj;
        for (int k = kd + 1; k < kend; ++k) {
            const int c = JA[k];
            yj += V[k] * xl[c];
            yl[c] += V[k] * xj;
        }
        yl[j] = yj;
    }
    for (std::size_t r = 0; r < n; ++r) yv[r] = s->mark[rows[r]] ? xv[r] : yl[rows[r] + 1];
    PetscCall(VecRestoreArray(y, &yv));
    PetscCall(VecRestoreArrayRead(s->xg, &gv));
    PetscCall(VecRestoreArrayRead(x, &xv));
    return 0;
}

// The shell matrix and hypre's matrix on several processes: this process's rows of the full
// matrix of the symmetric storage in the order of own_entries, the halo of the product, and the
// vectors.
void make_shell_dist(petsc_system& s) {
    const arr1<int>& IA = *s.IA;
    const arr1<int>& JA = *s.JA;
    const column_parts& cp = *s.parts;
    const HYPRE_Int n = cp.hi - cp.lo;
    // The rows of the product: this process's, and those with an entry in its columns.
    s.reach.clear();
    for (int j = 1; j <= s.N; ++j) {
        bool in = s.own_row(j - 1) >= 0;
        for (int k = IA(j) + 1; k < IA(j + 1) && !in; ++k) in = s.own_row(JA(k) - 1) >= 0;
        if (in) s.reach.push_back(j);
    }
    s.reach.shrink_to_fit();
    // The entries of every row in the two blocks, and the ghosts: the nodes of the other
    // processes' columns in this process's rows, ascending in PETSc's numbering, `gplace` their
    // places among them.
    std::vector<HYPRE_Int> dnext(n + 1, 0), onext(n + 1, 0);
    std::vector<int> gplace(s.N, -1);
    s.own_entries([&](PetscInt r, int, int j, int) {
        if (s.own_row(j - 1) >= 0) {
            ++dnext[r + 1];
        } else {
            ++onext[r + 1];
            gplace[j - 1] = 0;
        }
    });
    std::vector<std::pair<PetscInt, int>> ghosts;
    for (int i = 0; i < s.N; ++i)
        if (gplace[i] == 0) ghosts.emplace_back(cp.number[i], i);
    std::sort(ghosts.begin(), ghosts.end());
    const HYPRE_Int ng = (HYPRE_Int)ghosts.size();
    std::vector<PetscInt> gcol(ng);
    s.ghost.assign(ng, 0);
    for (HYPRE_Int g = 0; g < ng; ++g) {
        std::tie(gcol[g], s.ghost[g]) = ghosts[g];
        gplace[s.ghost[g]] = g;
    }
    std::vector<std::pair<PetscInt, int>>().swap(ghosts);
    for (HYPRE_Int r = 0; r < n; ++r) {
        dnext[r + 1] += dnext[r];
        onext[r + 1] += onext[r];
    }
    HYPRE_BigInt starts[2] = {cp.lo, cp.hi};
    hypre_ParCSRMatrix* par = hypre_ParCSRMatrixCreate(PETSC_COMM_WORLD, s.unknowns(), s.unknowns(), starts,
                                                       starts, ng, dnext[n], onext[n]);
    hypre_ParCSRMatrixInitialize(par);
    hypre_CSRMatrix* d = hypre_ParCSRMatrixDiag(par);
    hypre_CSRMatrix* o = hypre_ParCSRMatrixOffd(par);
    HYPRE_Int* di = hypre_CSRMatrixI(d);
    HYPRE_Int* dj = hypre_CSRMatrixJ(d);
    HYPRE_Int* oi = hypre_CSRMatrixI(o);
    HYPRE_Int* oj = hypre_CSRMatrixJ(o);
    HYPRE_BigInt* cmap = hypre_ParCSRMatrixColMapOffd(par);
    for (HYPRE_Int g = 0; g < ng; ++g) cmap[g] = gcol[g];
    std::copy(dnext.begin(), dnext.end(), di);
    std::copy(onext.begin(), onext.end(), oi);
    for (HYPRE_Int r = 0; r < n; ++r) ++dnext[r];  // the diagonal first
    s.own_entries([&](PetscInt r, int i, int j, int) {
        const PetscInt c = s.own_row(j - 1);
        if (i == j) dj[di[r]] = (HYPRE_Int)r;
        else if (c >= 0) dj[dnext[r]++] = (HYPRE_Int)c;
        else oj[onext[r]++] = gplace[j - 1];
    });
    s.xfree.assign(s.N + 1, 0.0);
    s.yfree.assign(s.N + 1, 0.0);
    wrap_shell(s, par, n, shell_mult_dist);
    s.form = shell_form();
    make_vectors(s, n);
    PETSC_OK(VecCreateSeq(PETSC_COMM_SELF, ng, &s.xg));
    IS from = nullptr;
    PETSC_OK(ISCreateGeneral(PETSC_COMM_SELF, ng, gcol.data(), PETSC_COPY_VALUES, &from));
    PETSC_OK(VecScatterCreate(s.x, from, s.xg, nullptr, &s.halo));
    PETSC_OK(ISDestroy(&from));
    make_gather(s);
}

// Whether a symmetric system gets the shell matrix (petsc_system::shell): BoomerAMG alone (-11,
// or on one process the default's hand-back, whose PETSc solves are BoomerAMG's), no -pc_type.
bool boomeramg_alone(const petsc_system& s) {
    if (!s.sym) return false;
    if (s.selector != PSOLV_BOOMERAMG && !(s.selector == PSOLV_DEFAULT && s.handback)) return false;
    PetscBool chosen = PETSC_FALSE;
    PETSC_OK(PetscOptionsHasName(nullptr, s.prefix, "-pc_type", &chosen));
    return !chosen;
}

// PETSc's matrix of a symmetric system: the full pattern, its copy of the values, the solver;
// or the shell matrix and hypre's.
void make_symmetric(petsc_system& s) {
    if (s.shell && s.dist) make_shell_dist(s);
    else if (s.shell) make_shell(s);
    else make_matrix(s);
    configure(s);
    s.pending = false;
}

}  // namespace petsc_impl

std::vector<int> petsc_surface_parts(const dimensions& dim, const mesh& msh) { return cut_surface(dim, msh); }

void petsc_setup(const dimensions& dim, const control& ctl, const mesh& msh, sparse& sp,
                 cpustat& cpu, const std::vector<int>& deck_parts) {
    PETSC_OK(MatOrderingRegister(kColumnOrdering, column_ordering));
    const bool flow = petsc_solver(ctl.ISOLV);
    const bool tran = ctl.ITRANS != 0 && petsc_solver(ctl.ISOLVC);
    if (!flow) refuse_unused(false, "reads it in this run (ISOLV selects no PETSc solver)");
    if (!tran) refuse_unused(true, "reads it in this run (no PETSc solver of the transport)");
    cpu.PSF = petsc_stat{};
    cpu.PST = petsc_stat{};
    // Several processes share the systems by columns of the mesh.
    std::shared_ptr<const column_parts> parts;
    if (proc_count() > 1 && (flow || tran)) {
        parts = number_columns(deck_parts.empty() ? cut_surface(dim, msh) : deck_parts, dim, msh);
        if (proc_writes()) {
            PetscInt least = parts->columns, most = 0;
            for (int q = 0; q < parts->nparts; ++q) {
                const PetscInt n = parts->cfirst[q + 1] - parts->cfirst[q];
                least = std::min(least, n);
                most = std::max(most, n);
            }
            std::fprintf(stderr, "%s: %d processes, the %d columns of the mesh (%d nodes each) in parts "
                         "of %ld to %ld columns\n",
                         program_name().c_str(), parts->nparts, (int)parts->columns, dim.NSTR + 1, (long)least,
                         (long)most);
        }
    }
    if (flow && parts != nullptr) {
        own_elements(dim, msh, *parts, sp);
        keep_own_rows(dim, msh.TETRA, sp);
    }
    if (flow) {
        auto s = std::make_unique<petsc_system>();
        s->dist = parts != nullptr;
        s->parts = parts;
        s->selector = ctl.ISOLV;
        s->N = dim.N;
        s->NNOD = dim.NNOD;
        s->period = dim.NNOD;
        s->sym = ctl.IFLOW == 1;
        if (s->sym) {
            s->IA = &sp.IA;
            s->JA = &sp.JA;
            s->handback = hands_back(*s);
            s->shell = boomeramg_alone(*s);
            s->pending = s->handback;
            if (!s->handback) make_symmetric(*s);
        } else {
            s->IA = &sp.IA;
            s->JA = &sp.JA;
            make_matrix(*s);
            configure(*s);
        }
        sp.PETSCF.reset();
        sp.PETSCF.SYS = s.release();
        sp.PETSCF.DROP = drop_system;
    }
    if (tran) {
        auto s = std::make_unique<petsc_system>();
        s->transport = true;
        s->dist = parts != nullptr;
        s->parts = parts;
        s->prefix = kTransportPrefix;
        s->selector = ctl.ISOLVC;
        s->N = dim.N;
        s->NNOD = dim.NNOD;
        s->period = dim.NNOD;
        s->IA = &sp.IAC();
        s->JA = &sp.JAC();
        make_matrix(*s);
        configure(*s);
        sp.PETSCT.reset();
        sp.PETSCT.SYS = s.release();
        sp.PETSCT.DROP = drop_system;
    }
}

}  // namespace nep
