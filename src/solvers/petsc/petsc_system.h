// The PETSc systems of the solvers room, shared by its PETSc files and by none other: the system
// object (petsc_system) and the routines one file of them calls in another.
//   petsc_session.cpp   PETSc's start and end, the command line's options, the selectors' names
//   petsc_matrix.cpp    the matrix forms (from the options database, filled by rows, or the shell
//                       on the symmetric storage with hypre's matrix beside it) and petsc_setup
//   petsc_precond.cpp   the preconditioner policy: the makers of the selectors' preconditioners,
//                       the default's choice by the matrix, and the rule of their set-up
//   petsc.cpp           PETSLV: the prescribed rows eliminated, the solve, its trace
//   petsc_parts.cpp     the columns of the mesh in parts for several processes
#pragma once

#include "solvers/petsc.h"

#include <petscksp.h>
#include <petscmathypre.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "base/format.h"
#include "base/parallel.h"
#include "base/procs.h"
#include "base/stop.h"
#include "base/timer.h"
#include "solvers/petsc/petsc_parts.h"
#include "solvers/specified/symmetric.h"

namespace nep {
namespace petsc_impl {

// The option names of the command line (without their dash), kept to tell, after the first
// solve of each system, which of them no PETSc object has read.
inline std::vector<std::string>& command_line_names() {
    static std::vector<std::string> names;
    return names;
}

// The program's name, for the line on the parts of a run on several processes.
inline std::string& program_name() {
    static std::string name = "nepora3d";
    return name;
}

void petsc_ok(PetscErrorCode e, const char* what);
#define PETSC_OK(call) petsc_ok((call), #call)

constexpr const char* kTransportPrefix = "tr_";

// The command-line options of one system (transport: those with its prefix; flow: the others)
// that nothing has read: they stop the run. `why` says when they were looked at.
bool transport_option(const std::string& name);
void refuse_unused(bool transport, const char* why);

// The column ordering of the factorisations: the nodes of the mesh column by column, each from
// the top down (node L*NNOD + i is number i*(NSTR+1) + L, counting from 0), so that the strong
// couplings along the columns lie next to the diagonal. The layer size comes with the matrix.
constexpr const char* kColumnOrdering = "columns";
constexpr const char* kPeriodKey = "nepora_layer_nodes";
PetscErrorCode column_ordering(Mat A, MatOrderingType, IS* rows, IS* cols);

// ---------------------------------------------------------------------------------------------
// A system.

// Every entry of the full matrix of a symmetric upper one (IA, JA from 1) in rows of ascending
// columns (their starts hi): f(q, row, col, k), q its place in the rows, row and col from 0, k
// its position in the symmetric storage.
template <class F>
void full_entries(int N, const arr1<int>& IA, const arr1<int>& JA, const HYPRE_Int* hi, F f) {
    // The next place of each row's entries left of its diagonal.
    std::vector<HYPRE_Int> next(hi, hi + N);
    for (int j = 1; j <= N; ++j) {
        HYPRE_Int q = hi[j] - (IA(j + 1) - IA(j));  // row j's own entries end its row
        for (int k = IA(j); k < IA(j + 1); ++k) f(q++, j - 1, JA(k) - 1, k);
        for (int k = IA(j) + 1; k < IA(j + 1); ++k) {
            const int c = JA(k) - 1;
            f(next[c]++, c, j - 1, k);
        }
    }
}

// hypre's rows begin with their diagonals: in each row of ascending columns (starts hi, the
// diagonal at hi[i+1] minus the row's upper entries) the diagonal is swapped with the first
// entry, as hypre's conversion of a PETSc matrix does (the same order gives the same hierarchy
// to the bit).
template <class T>
void diagonals_first(int N, const arr1<int>& IA, const HYPRE_Int* hi, T* a) {
    for (int i = 0; i < N; ++i) std::swap(a[hi[i]], a[hi[i + 1] - (IA(i + 2) - IA(i + 1))]);
}

}  // namespace petsc_impl

using namespace petsc_impl;

struct petsc_system;

// How the values of a solve reach PETSc's matrix and how its prescribed rows are eliminated: one
// form for each kind of matrix, chosen where the matrix is formed (petsc_matrix.cpp).
//   rows_form    a matrix of any type from the options database, filled by its rows at every
//                solve, the prescribed rows eliminated by PETSc (MatZeroRowsColumns);
//   shell_form   the shell matrix on the assembly's symmetric storage and hypre's matrix beside
//                it (BoomerAMG alone under Picard): the product leaves the prescribed rows and
//                columns out, and hypre's values are formed without them at each set-up.
class matrix_form {
public:
    virtual ~matrix_form() = default;
    // The values of the present solve, A in the assembly's storage, with the prescribed rows
    // (petsc_system::mark, the first NP `nodes` with their `values`) eliminated; PETSc's b holds
    // this process's rows of the system's right-hand side and receives the elimination's.
    virtual void load(petsc_system& s, const arr1<double>& A, int NP, const arr1<int>& nodes,
                      const arr1<double>& values) = 0;
    // Before every set-up of the preconditioner.
    virtual void prepare(petsc_system&) {}
};
std::unique_ptr<matrix_form> rows_form();
std::unique_ptr<matrix_form> shell_form();

// Where the solution goes: x of the solve on the caller's array, or copied out of PETSc's own.
class solution_vector {
public:
    virtual ~solution_vector() = default;
    virtual void attach(petsc_system& s, arr1<double>& x) = 0;  // before the solve
    virtual void detach(petsc_system& s, arr1<double>& x) = 0;  // after it: x the solution
};
std::unique_ptr<solution_vector> placed_solution();
std::unique_ptr<solution_vector> copied_solution();

struct petsc_system {
    bool transport = false;  // the transport system (options prefix tr_), else the flow system
    bool sym = false;        // values copied from symmetric upper storage (Picard flow)
    int selector = 0;
    int N = 0, NNOD = 0;     // unknowns, and nodes per layer: node L*NNOD + i lies below node i
    PetscInt period = 0;     // NNOD, for the column ordering
    const char* prefix = "";

    // The assembly's pattern (from 1): symmetric upper storage under Picard, full storage
    // otherwise; on several processes that of the nodes this process holds.
    const arr1<int>* IA = nullptr;
    const arr1<int>* JA = nullptr;
    // PETSc's matrix, whatever its type (-mat_type), is preallocated by its rows' counts and
    // takes the values of every solve by rows (MatSetValues, INSERT_VALUES), from the
    // assembly's storage through `rows` and `vals`, room for the longest row of the pattern: no
    // map of the entries is kept beside PETSc's copy of the values.
    std::vector<PetscInt> rows;
    std::vector<PetscScalar> vals;
    PetscInt number(int i) const { return dist ? parts->number[i - 1] : i - 1; }  // node from 1
    bool owns(int i) const { return !dist || own_row(i - 1) >= 0; }
    // The entries of this process's rows, row i and column j (nodes from 1), k their places in
    // the assembly's storage, as runs: row(i, k0, k1) for the stored entries k0 <= k < k1 of
    // row i, and under symmetric storage mirror(j, i, k) for the mirror (j, i) of every stored
    // entry off the diagonal, those of one stored row i in a run closed by done(i).
    template <class R, class M, class D>
    void runs(R&& row, M&& mirror, D&& done) const {
        const arr1<int>& ia = *IA;
        const arr1<int>& ja = *JA;
        for (int i = 1; i <= N; ++i)
            if (owns(i)) row(i, ia(i), ia(i + 1));
        if (!sym) return;
        for (int i = 1; i <= N; ++i) {
            for (int k = ia(i) + 1; k < ia(i + 1); ++k)
                if (owns(ja(k))) mirror(ja(k), i, k);
            done(i);
        }
    }
    // The values v(k) into PETSc's matrix, then its assembly.
    template <class V>
    void fill(V&& v) {
        const arr1<int>& ja = *JA;
        PetscInt m = 0;
        runs(
            [&](int i, int k0, int k1) {
                for (int k = k0; k < k1; ++k) {
                    rows[k - k0] = number(ja(k));
                    vals[k - k0] = v(k);
                }
                const PetscInt r = number(i);
                PETSC_OK(MatSetValues(A, 1, &r, k1 - k0, rows.data(), vals.data(), INSERT_VALUES));
            },
            [&](int j, int, int k) {
                rows[m] = number(j);
                vals[m++] = v(k);
            },
            [&](int i) {
                if (m == 0) return;
                const PetscInt c = number(i);
                PETSC_OK(MatSetValues(A, m, rows.data(), 1, &c, vals.data(), INSERT_VALUES));
                m = 0;
            });
        PETSC_OK(MatAssemblyBegin(A, MAT_FINAL_ASSEMBLY));
        PETSC_OK(MatAssemblyEnd(A, MAT_FINAL_ASSEMBLY));
    }
    // The values of the present solve, A in the assembly's storage, into PETSc's matrix.
    void set_values(const arr1<double>& V) {
        fill([&](int k) { return V(k); });
    }
    // The prescribed rows of the present solve that this process owns (PETSc's numbering), and
    // their values: MatZeroRowsColumns eliminates them.
    std::vector<PetscInt> zrows;
    std::vector<PetscScalar> zvals;

    Mat A = nullptr;
    std::unique_ptr<matrix_form> form;
    Vec x = nullptr, b = nullptr, r = nullptr;
    std::unique_ptr<solution_vector> solution;
    // The two-level method: the prolongation from one unknown per column (N x NNOD, one entry a
    // row: 1, or 0 for a prescribed node), its arrays, and the prescribed rows of the solve.
    Mat P = nullptr;
    std::vector<PetscInt> pi, pj;
    std::vector<PetscScalar> pv;
    const arr1<int>* held = nullptr;
    int nheld = 0;
    KSP ksp = nullptr;

    // Reuse of the preconditioner: set up or not, solves and iterations since its set-up, the
    // iterations of the first of them, and the rule's two figures (options -nepora_pc_cost,
    // -nepora_pc_every with the system's prefix).
    bool ready = false;
    int since = 0, first_its = 0, last_its = 0;
    long its_since = 0;
    double cost = 10.0;
    bool cost_set = false;
    int every = 0;
    bool solved = false;  // a first solve has been done (echo and option check behind it)
    bool direct = false;    // the default selector's last resort taken: a MUMPS factor
    PetscInt direct_max = 0;  // the most unknowns it is taken for (-nepora_direct_max)
    bool adaptive = false;  // the default selector: the preconditioner chosen at every set-up

    // The default selector on one process under Picard, with no PETSc option of the flow
    // system on the command line: a matrix whose rows are all strongly dominated by their
    // diagonals goes to the specified conjugate gradients (SYMSLV, multithreaded, on the
    // assembly's own storage), any other to PETSc with BoomerAMG. `builtin`: the last choice
    // was SYMSLV; the choice is made again when the iterations since it grow (as a set-up would
    // be). The specified solver is the linear system's (solvers/linsys.h), PETSc's matrix
    // and the full copy of the values at the first solve that PETSc gets (`pending` until then).
    bool handback = false, builtin = false, pending = false;

    std::vector<char> mark;  // (N) the rows prescribed in the present solve, by node

    // The column solve: for node k, the reciprocal pivot of its column's LU factor, the
    // multiplier of the row above, and the entry coupling it to the node below; the rows it
    // solves and the distance from a node to the one below it.
    std::vector<double> cpiv, cmul, cup;
    PetscInt cn = 0, cperiod = 0;

    // Several processes: the columns in parts (solvers/petsc/petsc_parts.h), this process owning the
    // rows of its part, the only ones its assembly forms whole. The solution goes to every node
    // this process holds: its own rows' straight from x, the others' (the rings', `ring`, from
    // 0) from their processes by `gather` into `ringx`.
    bool dist = false;
    std::shared_ptr<const column_parts> parts;
    // The unknowns and the columns of the mesh of all processes.
    PetscInt unknowns() const { return dist ? parts->first.back() : N; }
    PetscInt columns() const { return dist ? parts->cfirst.back() : NNOD; }
    VecScatter gather = nullptr;
    Vec ringx = nullptr;
    std::vector<int> ring;

    // Picard with BoomerAMG alone (-11, or on one process the default's hand-back, and no
    // -pc_type): the Krylov method multiplies by the assembly's symmetric storage itself (a shell
    // matrix on U, the values of the present solve, whose prescribed rows and columns it leaves
    // out as the elimination does), and BoomerAMG gets its copy of the values in hypre's own
    // storage, H, filled from U at each set-up: no full-storage copy of the values nor its
    // pattern.
    bool shell = false;
    Mat H = nullptr;
    const arr1<double>* U = nullptr;
    std::vector<double> xfree;  // the shell product's argument, its prescribed entries 0
    std::vector<double> yfree;  // several processes: the product on the local places
    Mat pmat() const { return H != nullptr ? H : A; }
    // The same on several processes (-11): H holds this process's rows, its columns in its
    // diagonal block and those of the other processes (the ghosts, ascending in PETSc's numbering:
    // `ghost` their nodes, from 0) in its off-diagonal block, each row in the order of
    // own_entries, its diagonal first. The product takes the ghosts' values by `halo` into `xg`,
    // and goes over the rows of U that reach this process's rows (`reach`, from 1, ascending) in
    // U itself (this process's rows of the pattern, records/sparse.h keep_own_rows), on x and y
    // by node (xfree, yfree, from 1): its own nodes and the ghosts hold their values, every other
    // node 0 (the columns of the ghosts' rows beyond them, whose sums are never read).
    std::vector<int> ghost, reach;
    // The row of node i (from 0) among this process's rows, or -1.
    PetscInt own_row(int i) const {
        const PetscInt q = parts->number[i] - parts->lo;
        return q >= 0 && q < parts->hi - parts->lo ? q : -1;
    }
    // Every entry of this process's rows of the full matrix, from the rows of U that reach them:
    // f(r, i, j, k) for the entry of row r (node i, from 1) in the column of node j (from 1), the
    // value U(k); i == j for the diagonal. The entries left of a row's diagonal come first, in
    // the order of their rows, then the row's own.
    template <class F>
    void own_entries(F&& f) const {
        const arr1<int>& ua = *IA;
        const arr1<int>& uj = *JA;
        for (const int j : reach) {
            const PetscInt rj = own_row(j - 1);
            if (rj >= 0) f(rj, j, j, ua(j));
            for (int k = ua(j) + 1; k < ua(j + 1); ++k) {
                const int c = uj(k);
                if (rj >= 0) f(rj, j, c, k);
                const PetscInt rc = own_row(c - 1);
                if (rc >= 0) f(rc, c, j, k);
            }
        }
    }
    VecScatter halo = nullptr;
    Vec xg = nullptr;

    MPI_Comm comm() const { return dist ? PETSC_COMM_WORLD : PETSC_COMM_SELF; }

    ~petsc_system() {
        if (halo) VecScatterDestroy(&halo);
        if (xg) VecDestroy(&xg);
        if (gather) VecScatterDestroy(&gather);
        if (ringx) VecDestroy(&ringx);
        if (ksp) KSPDestroy(&ksp);
        if (P) MatDestroy(&P);
        if (A) MatDestroy(&A);
        if (H) MatDestroy(&H);
        if (x) VecDestroy(&x);
        if (b) VecDestroy(&b);
        if (r) VecDestroy(&r);
    }

    // LU factors of the tridiagonal matrix of every column (the entries between a node and the
    // nodes right above and below it), from the values a on the pattern ai, aj (from 0) of n
    // rows, the node below row k being row k + period.
    void factor_columns(const PetscInt* ai, const PetscInt* aj, const PetscScalar* a, PetscInt n,
                        PetscInt period) {
        auto at = [&](PetscInt i, PetscInt c) -> PetscInt {
            const PetscInt* lo = aj + ai[i];
            const PetscInt* hi = aj + ai[i + 1];
            const PetscInt* p = std::lower_bound(lo, hi, c);
            return p != hi && *p == c ? (PetscInt)(p - aj) : -1;
        };
        cn = n;
        cperiod = period;
        cpiv.assign(n, 0.0);
        cmul.assign(n, 0.0);
        cup.assign(n, 0.0);
        for (PetscInt k = 0; k < n; ++k) {
            const PetscInt d = at(k, k);
            double diag = d >= 0 ? a[d] : 0.0;
            if (k >= period) {
                const PetscInt lo = at(k, k - period);
                const double low = lo >= 0 ? a[lo] : 0.0;
                cmul[k] = low * cpiv[k - period];
                diag -= cmul[k] * cup[k - period];
            }
            if (k + period < n) {
                const PetscInt up = at(k, k + period);
                cup[k] = up >= 0 ? a[up] : 0.0;
            }
            // A column whose pivot vanishes keeps that node unpreconditioned.
            cpiv[k] = diag != 0.0 && std::isfinite(diag) ? 1.0 / diag : 1.0;
        }
    }

    // y = T^-1 v with T the column matrices: forward by layers, then backward.
    void solve_columns(const PetscScalar* v, PetscScalar* y) const {
        for (PetscInt k = 0; k < cn; ++k) y[k] = k >= cperiod ? v[k] - cmul[k] * y[k - cperiod] : v[k];
        for (PetscInt k = cn - 1; k >= 0; --k) {
            const double above = k + cperiod < cn ? cup[k] * y[k + cperiod] : 0.0;
            y[k] = (y[k] - above) * cpiv[k];
        }
    }

    // H from U, the prescribed rows unit rows and their columns 0; its assembly tells the set-up
    // that its values changed.
    void fill_hypre() {
        hypre_ParCSRMatrix* par = nullptr;
        PETSC_OK(MatHYPREGetParCSR(H, &par));
        hypre_CSRMatrix* d = hypre_ParCSRMatrixDiag(par);
        HYPRE_Complex* hv = hypre_CSRMatrixData(d);
        const arr1<double>& V = *U;
        if (dist) {
            const HYPRE_Int* di = hypre_CSRMatrixI(d);
            const HYPRE_Int* oi = hypre_CSRMatrixI(hypre_ParCSRMatrixOffd(par));
            HYPRE_Complex* ov = hypre_CSRMatrixData(hypre_ParCSRMatrixOffd(par));
            const std::size_t n = parts->rows.size();
            std::vector<HYPRE_Int> dnext(n), onext(oi, oi + n);
            for (std::size_t r = 0; r < n; ++r) dnext[r] = di[r] + 1;
            own_entries([&](PetscInt r, int i, int j, int k) {
                if (i == j) {
                    hv[di[r]] = mark[i - 1] ? 1.0 : V(k);
                    return;
                }
                const double v = mark[i - 1] || mark[j - 1] ? 0.0 : V(k);
                if (own_row(j - 1) >= 0) hv[dnext[r]++] = v;
                else ov[onext[r]++] = v;
            });
        } else {
            const HYPRE_Int* hi = hypre_CSRMatrixI(d);
            full_entries(N, *IA, *JA, hi, [&](HYPRE_Int q, int row, int col, int k) {
                hv[q] = mark[row] ? (col == row ? 1.0 : 0.0) : mark[col] ? 0.0 : V(k);
            });
            diagonals_first(N, *IA, hi, hv);
        }
        PETSC_OK(MatAssemblyBegin(H, MAT_FINAL_ASSEMBLY));
        PETSC_OK(MatAssemblyEnd(H, MAT_FINAL_ASSEMBLY));
    }

};

namespace petsc_impl {

// The solver and preconditioner of a system from the options database (petsc_precond.cpp).
void configure(petsc_system& s);
// The matrix of a Picard system, formed at the first solve PETSc gets (petsc_matrix.cpp).
void make_symmetric(petsc_system& s);
// The preconditioner's set-up and the rule of when it is done again (petsc_precond.cpp).
double symmetric_ratio(petsc_system& s, const arr1<double>& A, int NP, const arr1<int>& nodes);
// A system of the default selector whose solve failed with a fresh preconditioner is solved
// again on a factorization by MUMPS, and keeps that preconditioner for the rest of the run
// (petsc_system::direct), when it has at most direct_max unknowns (kDirectMax unless
// -nepora_direct_max sets it; 0: never).
constexpr PetscInt kDirectMax = 100000;
void set_up(petsc_system& s, petsc_stat& st);
bool iterations_grew(const petsc_system& s, double cost);
bool want_setup(const petsc_system& s);

}  // namespace petsc_impl
}  // namespace nep
