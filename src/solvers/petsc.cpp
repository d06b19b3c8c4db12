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
#include "solvers/petsc_parts.h"
#include "solvers/symmetric.h"

namespace nep {

namespace {

// The option names of the command line (without their dash), kept to tell, after the first
// solve of each system, which of them no PETSc object has read.
std::vector<std::string>& command_line_names() {
    static std::vector<std::string> names;
    return names;
}

// The program's name, for the line on the parts of a run on several processes.
std::string& program_name() {
    static std::string name = "nepora3d";
    return name;
}

void petsc_ok(PetscErrorCode e, const char* what) {
    if (e != 0) {
        input_error(std::string("PETSc failed in ") + what + " (error code " + std::to_string((int)e) +
                    "; PETSc's own message is above)");
    }
}
#define PETSC_OK(call) petsc_ok((call), #call)

constexpr const char* kTransportPrefix = "tr_";

// The command-line options of one system (transport: those with its prefix; flow: the others)
// that nothing has read: they stop the run. `why` says when they were looked at.
bool transport_option(const std::string& name) {
    return name.compare(0, std::strlen(kTransportPrefix), kTransportPrefix) == 0;
}

void refuse_unused(bool transport, const char* why) {
    std::string bad;
    for (const std::string& n : command_line_names()) {
        if (transport_option(n) != transport) continue;
        PetscBool used = PETSC_FALSE;
        PETSC_OK(PetscOptionsUsed(nullptr, n.c_str(), &used));
        if (!used) bad += (bad.empty() ? "-" : ", -") + n;
    }
    if (!bad.empty()) {
        input_error("option " + bad + ": not an option of nepora3d, and no PETSc object " + why +
                    " (see nepora3d --help)");
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The session.

bool petsc_option_word(const std::string& w) {
    return w.size() > 1 && w[0] == '-' && std::isalpha((unsigned char)w[1]);
}

bool petsc_value_word(const std::string& w) {
    if (w.empty() || w[0] != '-') return true;
    return w.size() > 1 && (std::isdigit((unsigned char)w[1]) || w[1] == '.');
}

petsc_session::petsc_session(const char* prog, const std::vector<std::string>& words) {
    // One process without mpiexec: OpenMPI's singleton start looks for a run-time system to join
    // and probes the network transports, which takes about 0.4 s; as one isolated process with
    // the plain point-to-point layer it starts in a few hundredths. Whatever the user set stays.
    // Isolated singletons all take job family 0, and so one session directory in the temporary
    // directory: two runs starting and ending at once remove it under each other ("A call to
    // mkdir was unable to create the desired directory"). Each run gets a directory of its own
    // for OpenMPI's session files, removed at the end.
    if (std::getenv("OMPI_COMM_WORLD_SIZE") == nullptr && std::getenv("PMIX_RANK") == nullptr) {
        setenv("OMPI_MCA_ess_singleton_isolated", "1", 0);
        setenv("OMPI_MCA_pml", "ob1", 0);
        if (std::getenv("OMPI_MCA_orte_tmpdir_base") == nullptr) {
            const char* tmp = std::getenv("TMPDIR");
            std::string dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                              "/nepora3d-mpi." + std::to_string((long)getpid());
            if (mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST) {
                session_dir_ = dir;
                setenv("OMPI_MCA_orte_tmpdir_base", dir.c_str(), 1);
            }
        }
    }
    program_name() = prog;
    command_line_names().clear();
    for (const std::string& w : words) {
        if (petsc_option_word(w)) command_line_names().push_back(w.substr(1));
    }
    std::vector<std::string> argv_text;
    argv_text.push_back(prog);
    argv_text.insert(argv_text.end(), words.begin(), words.end());
    std::vector<char*> argv_ptr;
    for (std::string& s : argv_text) argv_ptr.push_back(s.data());
    argv_ptr.push_back(nullptr);
    int argc = (int)argv_text.size();
    char** argv = argv_ptr.data();
    // The run answers SIGINT and SIGTERM itself (at the end of a step): PETSc installs no
    // handlers of its own.
    if (PetscOptionsSetValue(nullptr, "-no_signal_handler", nullptr) != 0 ||
        PetscInitialize(&argc, &argv, nullptr, nullptr) != 0) {
        message_ = "PETSc (and MPI) could not be started; the options given to PETSc were: ";
        for (const std::string& w : words) message_ += w + " ";
        return;
    }
    started_ = true;
    ok_ = true;
    proc_start();
}

petsc_session::~petsc_session() {
    if (started_) {
        proc_stop();
        PetscFinalize();
    }
    if (!session_dir_.empty()) {
        // What OpenMPI left of its session files (normally nothing), then the directory.
        std::error_code ec;
        std::filesystem::remove_all(session_dir_, ec);
    }
}

const char* petsc_selector_text(int selector) {
    switch (selector) {
    case PSOLV_DEFAULT: return "AN INCOMPLETE FACTOR OR HYPRE BOOMERAMG, BY THE MATRIX";
    case PSOLV_BOOMERAMG: return "HYPRE BOOMERAMG";
    case PSOLV_GAMG: return "PETSC GAMG";
    case PSOLV_COLUMNS: return "BLOCK JACOBI BY COLUMNS (EXACT COLUMN SOLVES)";
    case PSOLV_COLUMN_COARSE: return "AN INCOMPLETE FACTOR AND A COARSE PROBLEM OF THE COLUMNS";
    default: break;
    }
    return "";
}

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

struct petsc_system {
    bool transport = false;  // the transport system (options prefix tr_), else the flow system
    bool sym = false;        // values copied from symmetric upper storage (Picard flow)
    int selector = 0;
    int N = 0, NNOD = 0;     // unknowns, and nodes per layer: node L*NNOD + i lies below node i
    PetscInt period = 0;     // NNOD, for the column ordering
    const char* prefix = "";

    // The full-storage pattern from 0 (shared by the flow and transport systems when they have
    // one pattern), and under Picard the full copy of the values (one process, but for the
    // shell matrix below) and where the symmetric pattern is.
    std::shared_ptr<std::vector<PetscInt>> ia, ja;
    std::vector<PetscScalar> full;
    std::vector<PetscInt> cursor;
    const arr1<int>* IA = nullptr;
    const arr1<int>* JA = nullptr;

    Mat A = nullptr;
    Vec x = nullptr, b = nullptr, r = nullptr;
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
    bool adaptive = false;  // the default selector: the preconditioner chosen at every set-up

    // The default selector on one process under Picard, with no PETSc option of the flow
    // system on the command line: a matrix whose rows are all strongly dominated by their
    // diagonals goes to the specified conjugate gradients (SYMSLV, multithreaded, on the
    // assembly's own storage), any other to PETSc with BoomerAMG. `builtin`: the last choice
    // was SYMSLV; the choice is made again when the iterations since it grow (as a set-up would
    // be). The factor, vectors and plan of SYMSLV are created at its first solve, PETSc's matrix
    // and the full copy of the values at the first solve that PETSc gets (`pending` until then).
    bool handback = false, builtin = false, pending = false;
    arr1<double> fac, work;
    trisolve_plan plan;

    // The entries of the prescribed rows and columns that a solve on the assembly's own array
    // replaced, with their positions, to be put back after it.
    std::vector<std::pair<PetscInt, PetscScalar>> saved;
    std::vector<double> value;  // the solution of each prescribed row
    std::vector<char> mark;     // (N) the prescribed rows of the present solve
    std::vector<int> order;     // (N) their places in the list of prescribed nodes (hold_own)

    // The column solve: for node k, the reciprocal pivot of its column's LU factor, the
    // multiplier of the row above, and the entry coupling it to the node below; the rows it
    // solves and the distance from a node to the one below it.
    std::vector<double> cpiv, cmul, cup;
    PetscInt cn = 0, cperiod = 0;

    // Several processes: the columns in parts (solvers/petsc_parts.h), this process owning the
    // rows of its part. The matrix takes its rows from the values this process holds (the
    // assembly's array; under Picard they go straight into PETSc's blocks), and the right-hand
    // side from `rhs`, b with the prescribed rows eliminated; `dst` gives, for every entry of
    // this process's rows in the order of the full pattern, its place in PETSc's diagonal block
    // (>= 0) or in the off-diagonal block (-1 - place). The solution goes to every node this
    // process holds: its own rows' straight from x, the others' (the rings', `ring`, from 0)
    // from their processes by `gather` into `ringx`.
    bool dist = false;
    std::shared_ptr<const column_parts> parts;
    // The unknowns and the columns of the mesh of all processes.
    PetscInt unknowns() const { return dist ? parts->first.back() : N; }
    PetscInt columns() const { return dist ? parts->cfirst.back() : NNOD; }
    PetscScalar* values = nullptr;
    std::vector<PetscScalar> rhs;
    std::vector<PetscInt> dst;
    // Under Picard this process's rows alone are copied out of the symmetric storage, straight
    // into PETSc's two blocks (entry e at dst[e]), in the order of parts->rows: row r's entries
    // are oia[r] .. oia[r+1]-1, their columns oja (the deck's numbering from 0, ascending), each
    // the copy of the symmetric entry src (from 1). No pattern of the other rows is formed, and
    // no other copy of their values.
    std::vector<PetscInt> oia, oja;
    std::vector<int> src;
    bool own_rows() const { return dist && sym; }
    // PETSc's two blocks while a solve or a set-up works on them (open_blocks), and entry e of
    // this process's rows in them.
    PetscScalar *ad = nullptr, *ao = nullptr;
    void open_blocks() {
        Mat Ad = nullptr, Ao = nullptr;
        PETSC_OK(MatMPIAIJGetSeqAIJ(A, &Ad, &Ao, nullptr));
        PETSC_OK(MatSeqAIJGetArray(Ad, &ad));
        PETSC_OK(MatSeqAIJGetArray(Ao, &ao));
    }
    void close_blocks() {
        Mat Ad = nullptr, Ao = nullptr;
        PETSC_OK(MatMPIAIJGetSeqAIJ(A, &Ad, &Ao, nullptr));
        PETSC_OK(MatSeqAIJRestoreArray(Ao, &ao));
        PETSC_OK(MatSeqAIJRestoreArray(Ad, &ad));
    }
    PetscScalar& own_entry(PetscInt e) {
        const PetscInt d = dst[e];
        return d >= 0 ? ad[d] : ao[-1 - d];
    }
    // The columns of this process's row r (from 0; on one process row r itself), and their
    // number.
    const PetscInt* row_columns(PetscInt r, PetscInt& count) const {
        if (own_rows()) {
            count = oia[r + 1] - oia[r];
            return oja.data() + oia[r];
        }
        const PetscInt i = dist ? parts->rows[r] : r;
        count = (*ia)[i + 1] - (*ia)[i];
        return ja->data() + (*ia)[i];
    }
    // Where the values of row r begin in the values held (`values`).
    PetscInt row_start(PetscInt r) const {
        return own_rows() ? oia[r] : (*ia)[dist ? parts->rows[r] : r];
    }
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

    // The position (from 0) of column c (from 0) in row i (from 0), or -1.
    PetscInt find(PetscInt i, PetscInt c) const {
        const PetscInt* lo = ja->data() + (*ia)[i];
        const PetscInt* hi = ja->data() + (*ia)[i + 1];
        const PetscInt* p = std::lower_bound(lo, hi, c);
        return p != hi && *p == c ? (PetscInt)(p - ja->data()) : -1;
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

    // Several processes: this process's rows of the held values a (the assembly's array; under
    // Picard they are in PETSc's blocks already) and of rhs into PETSc's matrix and right-hand
    // side.
    void scatter_rows(const PetscScalar* a) {
        if (!own_rows()) {
            open_blocks();
            PetscInt e = 0;
            for (PetscInt r = 0; r < (PetscInt)parts->rows.size(); ++r) {
                PetscInt count = 0;
                row_columns(r, count);
                const PetscInt k0 = row_start(r);
                for (PetscInt k = k0; k < k0 + count; ++k) own_entry(e++) = a[k];
            }
        }
        if (!shell) close_blocks();
        PetscScalar* f = nullptr;
        PETSC_OK(VecGetArray(b, &f));
        for (std::size_t r = 0; r < parts->rows.size(); ++r) f[r] = rhs[parts->rows[r]];
        PETSC_OK(VecRestoreArray(b, &f));
    }

    // The prescribed rows: the specified solvers take them with the penalty of the boundary
    // conditions on the diagonal, which would weigh on every residual norm PETSc measures (a
    // Krylov method would spend its iterations on rows whose solution is known). PETSc gets them
    // eliminated instead: the penalty row's solution b(i)/A(i,i) (the prescribed value, or an
    // increment of 0), a unit row with that value as right-hand side, and a zero column whose
    // entries move to the right-hand side `f` of the other rows. `mark` flags the prescribed rows.
    // Without `keep` the replaced matrix entries are saved for restore().
    void hold(PetscScalar* a, PetscScalar* f, int NP, const arr1<int>& nodes, bool keep) {
        auto put = [&](PetscInt k, PetscScalar v) {
            if (!keep) saved.emplace_back(k, a[k]);
            a[k] = v;
        };
        value.resize(NP);
        for (int n = 1; n <= NP; ++n) {
            const PetscInt i = nodes(n) - 1;
            const PetscInt d = find(i, i);
            value[n - 1] = d >= 0 && a[d] != 0.0 ? f[i] / a[d] : 0.0;
            mark[i] = 1;
        }
        for (int n = 1; n <= NP; ++n) {
            const PetscInt i = nodes(n) - 1;
            const double v = value[n - 1];
            for (PetscInt k = (*ia)[i]; k < (*ia)[i + 1]; ++k) {
                const PetscInt j = (*ja)[k];
                if (j == i) {
                    put(k, 1.0);
                    continue;
                }
                put(k, 0.0);
                const PetscInt t = find(j, i);
                if (t < 0 || a[t] == 0.0) continue;
                f[j] -= a[t] * v;
                put(t, 0.0);
            }
            f[i] = v;
        }
    }
    // hold() for this process's rows under Picard (own_rows), in PETSc's blocks: the same values
    // to the bit. A prescribed row of its own becomes a unit row; every other row of its own
    // moves the entries of its prescribed columns into f, in the order of `nodes`, as hold does;
    // U gives the diagonal of the prescribed rows of the other processes.
    void hold_own(const arr1<double>& U, PetscScalar* f, int NP, const arr1<int>& nodes) {
        const arr1<int>& ua = *IA;
        value.resize(NP);
        order.assign(N, 0);
        for (int n = 1; n <= NP; ++n) {
            const PetscInt i = nodes(n) - 1;
            const double d = U(ua(i + 1));
            value[n - 1] = d != 0.0 ? f[i] / d : 0.0;
            mark[i] = 1;
            order[i] = n;
        }
        std::vector<std::pair<int, PetscInt>> held_cols;
        for (PetscInt r = 0; r < (PetscInt)parts->rows.size(); ++r) {
            const PetscInt j = parts->rows[r];
            if (mark[j]) {
                for (PetscInt e = oia[r]; e < oia[r + 1]; ++e)
                    own_entry(e) = oja[e] == j ? 1.0 : 0.0;
                f[j] = value[order[j] - 1];
                continue;
            }
            held_cols.clear();
            for (PetscInt e = oia[r]; e < oia[r + 1]; ++e)
                if (mark[oja[e]]) held_cols.emplace_back(order[oja[e]], e);
            std::sort(held_cols.begin(), held_cols.end());
            for (const auto& [n, e] : held_cols) {
                PetscScalar& v = own_entry(e);
                if (v == 0.0) continue;
                f[j] -= v * value[n - 1];
                v = 0.0;
            }
        }
    }
    void restore(PetscScalar* a) {
        for (auto p = saved.rbegin(); p != saved.rend(); ++p) a[p->first] = p->second;
        saved.clear();
    }

    // hold() for the shell matrix: the prescribed rows marked and their solutions b(i)/U(i,i) in
    // f, which under Picard are increments of 0 (the flow's prescribed rows have b(i) = 0), so
    // that their columns move nothing into the other rows; U is left as it is (the product and H
    // leave those rows and columns out).
    void hold_shell(const arr1<double>& V, PetscScalar* f, int NP, const arr1<int>& nodes) {
        for (int n = 1; n <= NP; ++n) {
            const int i = nodes(n);
            const double d = V((*IA)(i));
            const double v = d != 0.0 ? f[i - 1] / d : 0.0;
            if (v != 0.0) input_error("internal error: a prescribed increment that is not 0");
            mark[i - 1] = 1;
            f[i - 1] = v;
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

    // The full values from the symmetric upper ones (Picard): row i holds first the entries left
    // of its diagonal, which are the upper entries (j, i) of the rows j < i, in the order of j,
    // then its own upper entries.
    void copy_symmetric(const arr1<double>& U, PetscScalar* f) {
        if (own_rows()) {
            for (std::size_t e = 0; e < src.size(); ++e) own_entry((PetscInt)e) = U(src[e]);
            return;
        }
        const arr1<int>& ua = *IA;
        const arr1<int>& uj = *JA;
        for (int i = 1; i <= N; ++i) cursor[i - 1] = (*ia)[i - 1];
        for (int i = 1; i <= N; ++i) {
            const int k0 = ua(i), k1 = ua(i + 1);
            const PetscInt start = (*ia)[i] - (k1 - k0);
            for (int k = k0; k < k1; ++k) f[start + (k - k0)] = U(k);
            for (int k = k0 + 1; k < k1; ++k) f[cursor[uj(k) - 1]++] = U(k);
        }
    }
};

namespace {

void drop_system(petsc_system* s) { delete s; }

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
    const PetscScalar* a = nullptr;
    PetscCall(MatSeqAIJGetArrayRead(P, &a));
    s->factor_columns(s->ia->data(), s->ja->data(), a, s->N, s->NNOD);
    PetscCall(MatSeqAIJRestoreArrayRead(P, &a));
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

// The column ordering of the factorisations: the nodes of the mesh column by column, each from
// the top down (node L*NNOD + i is number i*(NSTR+1) + L, counting from 0), so that the strong
// couplings along the columns lie next to the diagonal. The layer size comes with the matrix.
constexpr const char* kColumnOrdering = "columns";
constexpr const char* kPeriodKey = "nepora_layer_nodes";

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
    PETSC_OK(KSPSetFromOptions(s.ksp));
}

// The one place where a matrix is formed from the pattern: on one process sequential AIJ on the
// arrays given (0-based row pointers and columns, and the values); on several, MPIAIJ of this
// process's rows, which every solve fills from the values (make_matrix_dist).
void make_matrix_dist(petsc_system& s, PetscScalar* values);
void make_gather(petsc_system& s);

void make_matrix(petsc_system& s, PetscScalar* values) {
    s.values = values;
    if (s.dist) {
        make_matrix_dist(s, values);
        return;
    }
    PETSC_OK(MatCreateSeqAIJWithArrays(PETSC_COMM_SELF, s.N, s.N, s.ia->data(), s.ja->data(),
                                       values, &s.A));
    PetscContainer c = nullptr;
    PETSC_OK(PetscContainerCreate(PETSC_COMM_SELF, &c));
    PETSC_OK(PetscContainerSetPointer(c, &s.period));
    PETSC_OK(PetscObjectCompose((PetscObject)s.A, kPeriodKey, (PetscObject)c));
    PETSC_OK(PetscContainerDestroy(&c));
    PETSC_OK(VecCreateSeqWithArray(PETSC_COMM_SELF, 1, s.N, nullptr, &s.x));
    PETSC_OK(VecCreateSeq(PETSC_COMM_SELF, s.N, &s.b));
    PETSC_OK(VecCreateSeq(PETSC_COMM_SELF, s.N, &s.r));
}

// Several processes: this process's rows of the renumbered pattern (MPIAIJ), the place of every
// entry of its rows in PETSc's two blocks, the vectors, and the gather of the solution.
void make_matrix_dist(petsc_system& s, PetscScalar* values) {
    const column_parts& cp = *s.parts;
    const PetscInt n = cp.hi - cp.lo;
    std::vector<PetscInt> li(n + 1, 0), lj;
    std::vector<PetscInt> cols;
    for (PetscInt r = 0; r < n; ++r) {
        PetscInt count = 0;
        const PetscInt* rc = s.row_columns(r, count);
        cols.clear();
        for (PetscInt k = 0; k < count; ++k) cols.push_back(cp.number[rc[k]]);
        std::sort(cols.begin(), cols.end());
        lj.insert(lj.end(), cols.begin(), cols.end());
        li[r + 1] = (PetscInt)lj.size();
    }
    PETSC_OK(MatCreate(PETSC_COMM_WORLD, &s.A));
    PETSC_OK(MatSetSizes(s.A, n, n, s.unknowns(), s.unknowns()));
    PETSC_OK(MatSetType(s.A, MATMPIAIJ));
    PETSC_OK(MatMPIAIJSetPreallocationCSR(s.A, li.data(), lj.data(), nullptr));

    Mat Ad = nullptr, Ao = nullptr;
    const PetscInt* garray = nullptr;
    PETSC_OK(MatMPIAIJGetSeqAIJ(s.A, &Ad, &Ao, &garray));
    PetscInt nd = 0, no = 0, nghost = 0;
    const PetscInt *di = nullptr, *dj = nullptr, *oi = nullptr, *oj = nullptr;
    PetscBool done = PETSC_FALSE;
    PETSC_OK(MatGetRowIJ(Ad, 0, PETSC_FALSE, PETSC_FALSE, &nd, &di, &dj, &done));
    if (!done) input_error("internal error: no row structure of PETSc's diagonal block");
    PETSC_OK(MatGetRowIJ(Ao, 0, PETSC_FALSE, PETSC_FALSE, &no, &oi, &oj, &done));
    if (!done) input_error("internal error: no row structure of PETSc's off-diagonal block");
    PETSC_OK(MatGetSize(Ao, nullptr, &nghost));
    auto place = [](const PetscInt* lo, const PetscInt* hi, PetscInt c) -> PetscInt {
        const PetscInt* p = std::lower_bound(lo, hi, c);
        return p != hi && *p == c ? (PetscInt)(p - lo) : -1;
    };
    s.dst.clear();
    s.dst.reserve(lj.size());
    for (PetscInt r = 0; r < n; ++r) {
        PetscInt count = 0;
        const PetscInt* rc = s.row_columns(r, count);
        for (PetscInt k = 0; k < count; ++k) {
            const PetscInt c = cp.number[rc[k]];
            const bool own = c >= cp.lo && c < cp.hi;
            PetscInt q = -1;
            if (own) {
                q = place(dj + di[r], dj + di[r + 1], c - cp.lo);
            } else {
                const PetscInt g = place(garray, garray + nghost, c);
                if (g >= 0) q = place(oj + oi[r], oj + oi[r + 1], g);
            }
            if (q < 0) input_error("internal error: an entry of the pattern is not in PETSc's matrix");
            s.dst.push_back(own ? di[r] + q : -1 - (oi[r] + q));
        }
    }
    PETSC_OK(MatRestoreRowIJ(Ao, 0, PETSC_FALSE, PETSC_FALSE, &no, &oi, &oj, &done));
    PETSC_OK(MatRestoreRowIJ(Ad, 0, PETSC_FALSE, PETSC_FALSE, &nd, &di, &dj, &done));

    PETSC_OK(MatCreateVecs(s.A, &s.x, &s.b));
    PETSC_OK(VecDuplicate(s.b, &s.r));
    make_gather(s);
    (void)values;
}

// Several processes: the right-hand side by node and the gather of the rings' solution.
void make_gather(petsc_system& s) {
    s.rhs.assign(s.N, 0.0);
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

// The full pattern from 0 of a full-storage pattern from 1.
void full_pattern(int N, int NZ, const arr1<int>& IA, const arr1<int>& JA, petsc_system& s) {
    s.ia = std::make_shared<std::vector<PetscInt>>(N + 1);
    s.ja = std::make_shared<std::vector<PetscInt>>(NZ);
    for (int i = 1; i <= N + 1; ++i) (*s.ia)[i - 1] = IA(i) - 1;
    for (int k = 1; k <= NZ; ++k) (*s.ja)[k - 1] = JA(k) - 1;
}

// The full pattern of a symmetric upper one: every off-diagonal entry (i, j) gives (j, i) too.
void mirrored_pattern(int N, const arr1<int>& IA, const arr1<int>& JA, petsc_system& s) {
    std::vector<PetscInt> lower(N + 1, 0);
    for (int i = 1; i <= N; ++i)
        for (int k = IA(i) + 1; k < IA(i + 1); ++k) ++lower[JA(k)];
    s.ia = std::make_shared<std::vector<PetscInt>>(N + 1);
    auto& ia = *s.ia;
    ia[0] = 0;
    for (int i = 1; i <= N; ++i) ia[i] = ia[i - 1] + lower[i] + (IA(i + 1) - IA(i));
    s.ja = std::make_shared<std::vector<PetscInt>>(ia[N]);
    auto& ja = *s.ja;
    s.cursor.assign(N, 0);
    for (int i = 1; i <= N; ++i) s.cursor[i - 1] = ia[i - 1];
    for (int i = 1; i <= N; ++i) {
        const int k0 = IA(i), k1 = IA(i + 1);
        const PetscInt start = ia[i] - (k1 - k0);
        for (int k = k0; k < k1; ++k) ja[start + (k - k0)] = JA(k) - 1;
        for (int k = k0 + 1; k < k1; ++k) ja[s.cursor[JA(k) - 1]++] = i - 1;
    }
    s.full.assign(ia[N], 0.0);
    s.IA = &IA;
    s.JA = &JA;
}

// Several processes under Picard: this process's rows of the full pattern of a symmetric upper
// one (IA, JA from 1), in the order of its rows, and for every entry the symmetric entry it
// copies (petsc_system::oia, oja, src); row i holds first the entries (j, i) of the rows j < i,
// in the order of j, then its own upper entries, as mirrored_pattern orders them.
void own_rows_pattern(const arr1<int>& IA, const arr1<int>& JA, petsc_system& s) {
    const column_parts& cp = *s.parts;
    const PetscInt n = cp.hi - cp.lo;
    std::vector<PetscInt> lower(n, 0);
    for (int j = 1; j <= s.N; ++j) {
        for (int k = IA(j) + 1; k < IA(j + 1); ++k) {
            const PetscInt r = s.own_row(JA(k) - 1);
            if (r >= 0) ++lower[r];
        }
    }
    s.oia.assign(n + 1, 0);
    for (PetscInt r = 0; r < n; ++r) {
        const int i = (int)cp.rows[r] + 1;
        s.oia[r + 1] = s.oia[r] + lower[r] + (IA(i + 1) - IA(i));
    }
    s.oja.assign(s.oia[n], 0);
    s.src.assign(s.oia[n], 0);
    for (PetscInt r = 0; r < n; ++r) lower[r] = s.oia[r];  // now the next place of each row
    for (int j = 1; j <= s.N; ++j) {
        for (int k = IA(j) + 1; k < IA(j + 1); ++k) {
            const PetscInt r = s.own_row(JA(k) - 1);
            if (r < 0) continue;
            s.oja[lower[r]] = j - 1;
            s.src[lower[r]++] = k;
        }
    }
    for (PetscInt r = 0; r < n; ++r) {
        const int i = (int)cp.rows[r] + 1;
        for (int k = IA(i); k < IA(i + 1); ++k) {
            s.oja[lower[r]] = JA(k) - 1;
            s.src[lower[r]++] = k;
        }
    }
    s.IA = &IA;
    s.JA = &JA;
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
    s.xfree.assign(N, 0.0);
    PETSC_OK(VecCreateSeqWithArray(PETSC_COMM_SELF, 1, N, nullptr, &s.x));
    PETSC_OK(VecCreateSeq(PETSC_COMM_SELF, N, &s.b));
    PETSC_OK(VecCreateSeq(PETSC_COMM_SELF, N, &s.r));
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
    PETSC_OK(MatCreateVecs(s.A, &s.x, &s.b));
    PETSC_OK(VecDuplicate(s.b, &s.r));
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
    else if (s.dist) own_rows_pattern(*s.IA, *s.JA, s);
    else mirrored_pattern(s.N, *s.IA, *s.JA, s);
    if (!s.shell) make_matrix(s, s.full.data());
    configure(s);
    s.pending = false;
}

}  // namespace

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
    petsc_system* fsys = nullptr;
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
            full_pattern(dim.N, (int)sp.stored(), sp.IA, sp.JA, *s);
            make_matrix(*s, sp.AMAT.data());
            configure(*s);
        }
        fsys = s.get();
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
        if (sp.TSHARE && fsys != nullptr && !fsys->sym) {
            s->ia = fsys->ia;
            s->ja = fsys->ja;
        } else {
            full_pattern(dim.N, (int)sp.storedc(), sp.IAC(), sp.JAC(), *s);
        }
        make_matrix(*s, sp.AMATC.data());
        configure(*s);
        sp.PETSCT.reset();
        sp.PETSCT.SYS = s.release();
        sp.PETSCT.DROP = drop_system;
    }
}

namespace {

// The largest ratio, over the free rows, of the off-diagonal magnitudes of a row to its diagonal.
double off_diagonal_ratio(petsc_system& s) {
    // Several processes: each its own rows, of the values held for the solve.
    const PetscScalar* a = s.values;
    if (!s.dist) PETSC_OK(MatSeqAIJGetArrayRead(s.A, &a));
    if (s.own_rows()) s.open_blocks();
    double worst = 0.0;
    const PetscInt n = s.dist ? (PetscInt)s.parts->rows.size() : s.N;
    for (PetscInt r = 0; r < n; ++r) {
        const PetscInt i = s.dist ? s.parts->rows[r] : r;
        if (s.mark[i]) continue;
        double off = 0.0, diag = 0.0;
        PetscInt count = 0;
        const PetscInt* cols = s.row_columns(r, count);
        const PetscInt k0 = s.row_start(r);
        for (PetscInt k = 0; k < count; ++k) {
            const double v = s.own_rows() ? s.own_entry(k0 + k) : a[k0 + k];
            if (cols[k] == i) diag = v;
            else off += std::fabs(v);
        }
        worst = diag != 0.0 ? std::fmax(worst, off / std::fabs(diag)) : HUGE_VAL;
    }
    if (!s.dist) PETSC_OK(MatSeqAIJRestoreArrayRead(s.A, &a));
    if (s.own_rows()) s.close_blocks();
    return s.dist ? proc_max(worst) : worst;
}

// off_diagonal_ratio of a matrix in symmetric upper storage (IA, JA from 1), with the rows and
// columns of the first NP nodes left out, as the elimination of the prescribed rows leaves them.
double symmetric_ratio(petsc_system& s, const arr1<double>& A, int NP, const arr1<int>& nodes) {
    const arr1<int>& IA = *s.IA;
    const arr1<int>& JA = *s.JA;
    s.mark.assign(s.N, 0);
    for (int n = 1; n <= NP; ++n) s.mark[nodes(n) - 1] = 1;
    std::vector<double> off(s.N, 0.0);
    for (int i = 1; i <= s.N; ++i) {
        if (s.mark[i - 1]) continue;
        for (int k = IA(i) + 1; k < IA(i + 1); ++k) {
            const int j = JA(k);
            if (s.mark[j - 1]) continue;
            off[i - 1] += std::fabs(A(k));
            off[j - 1] += std::fabs(A(k));
        }
    }
    double worst = 0.0;
    for (int i = 1; i <= s.N; ++i) {
        if (s.mark[i - 1]) continue;
        const double diag = A(IA(i));
        worst = diag != 0.0 ? std::fmax(worst, off[i - 1] / std::fabs(diag)) : HUGE_VAL;
    }
    return worst;
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
    if (s.adaptive) choose_preconditioner(s);
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
    if (s.shell) s.fill_hypre();
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
    if (!s.ready) return true;
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
void specified_solve(ounit& lst, ounit& out, petsc_system& s, petsc_stat& st, int N, int NP,
                     const arr1<int>& nodes, int ITMAX, double TOL, double tiny, int& NITER,
                     const arr1<double>& A, const arr1<double>& b, arr1<double>& x, dialect d) {
    const arr1<int>& IA = *s.IA;
    const int nterm = IA(N + 1) - 1;
    if (s.fac.size() != nterm) {
        s.fac.alloc(nterm);
        s.work.alloc(5L * N);
    }
    const int nth = N >= kParallelMin ? max_threads() : 0;
    if (nth > 0 && (s.plan.NTH != nth || s.plan.N != N))
        plan_trisolve(N, s.NNOD, *s.JA, IA, nth, s.plan);
    if (!s.solved) {
        s.solved = true;
        echo_solver(lst, s, st, "");
    }
    double t = 0.0;
    timer(t, 1);
    SYMSLV(lst, out, N, nterm, NP, NITER, ITMAX, TOL, tiny, nodes, *s.JA, IA, x, b, A, s.fac,
           s.work, d, nth > 0 ? &s.plan : nullptr);
    timer(t, 2);
    st.TSOLVE += t;
    st.NITER += NITER;
    s.since += 1;
    s.its_since += NITER;
    s.last_its = NITER;
}

}  // namespace

void PETSLV(ounit& lst, ounit& out, petsc_slot& slot, petsc_stat& st, int N, int NP,
            const arr1<int>& nodes, int ITMAX, double TOL, double tiny, int& NITER,
            const arr1<double>& A, const arr1<double>& b, arr1<double>& x, dialect d) {
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
            specified_solve(lst, out, s, st, N, NP, nodes, ITMAX, TOL, tiny, NITER, A, b, x, d);
            return;
        }
        if (s.pending) make_symmetric(s);
    }

    // The new values: copied from the symmetric storage, or already in PETSc's arrays; the
    // prescribed rows eliminated, in the matrix and in PETSc's copy of b.
    // Several processes do this on the values and b that each holds (whole in its own rows),
    // then hand their own rows to PETSc.
    PetscScalar* a = nullptr;
    PetscScalar* f = nullptr;
    if (s.dist) f = s.rhs.data();
    else PETSC_OK(VecGetArray(s.b, &f));
    for (int i = 1; i <= N; ++i) f[i - 1] = b(i);
    s.mark.assign(N, 0);
    if (s.shell) {
        s.U = &A;
        s.hold_shell(A, f, NP, nodes);
    } else {
        if (s.dist) a = s.values;
        else PETSC_OK(MatSeqAIJGetArray(s.A, &a));
        if (s.own_rows()) s.open_blocks();
        if (s.sym) s.copy_symmetric(A, a);
        if (s.own_rows()) s.hold_own(A, f, NP, nodes);
        else s.hold(a, f, NP, nodes, s.sym);
        if (!s.dist) PETSC_OK(MatSeqAIJRestoreArray(s.A, &a));
    }
    // The residual measures leave the prescribed rows out.
    double bb = 0.0;
    if (s.dist) {
        for (PetscInt i : s.parts->rows)
            if (!s.mark[i]) bb += f[i] * f[i];
        proc_sum(&bb, 1);
        s.scatter_rows(a);
    } else {
        for (int i = 0; i < N; ++i)
            if (!s.mark[i]) bb += f[i] * f[i];
        PETSC_OK(VecRestoreArray(s.b, &f));
    }
    // The assembly calls tell the matrix (and so the preconditioner's set-up) that its values
    // changed; the pattern is the same.
    PETSC_OK(MatAssemblyBegin(s.A, MAT_FINAL_ASSEMBLY));
    PETSC_OK(MatAssemblyEnd(s.A, MAT_FINAL_ASSEMBLY));
    // The assembly's own array gets its prescribed entries back, whatever ends the solve.
    struct restorer {
        petsc_system& s;
        ~restorer() {
            if (s.saved.empty()) return;
            if (s.dist) {
                s.restore(s.values);
                return;
            }
            PetscScalar* v = nullptr;
            if (MatSeqAIJGetArray(s.A, &v) == 0) {
                s.restore(v);
                MatSeqAIJRestoreArray(s.A, &v);
            }
        }
    } put_back{s};
    // The test of the specified solvers, ERR <= TOL with the residual and b over the free rows
    // (the prescribed rows of the residual stay 0): an absolute bound on PETSc's norm.
    const double scale = bb > 0.0 ? std::sqrt(bb) : std::sqrt((double)N);

    s.held = &nodes;
    s.nheld = NP;
    if (!s.dist) PETSC_OK(VecPlaceArray(s.x, x.data()));
    KSPConvergedReason reason = KSP_CONVERGED_ITERATING;
    int its = 0;
    bool fresh = false;
    const char* note = "";
    for (int attempt = 0; attempt < 2; ++attempt) {
        fresh = want_setup(s) || attempt > 0;
        if (fresh) set_up(s, st);
        // A reused preconditioner gets a few times the iterations of the solve after its set-up:
        // one that needs more is set up again rather than carried to the limit.
        const int limit = fresh ? ITMAX : std::min(ITMAX, 3 * s.first_its + 10);
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
        if (fresh) s.first_its = (int)n;
        s.since += 1;
        s.its_since += n;
        s.last_its = (int)n;
        if (fresh) note = attempt > 0 ? ", PC SET UP AGAIN" : ", PC SET UP";
        if (reason > 0 || fresh) break;
        st.NRETRY += 1;
    }
    NITER = its;
    st.NITER += its;
    if (s.dist) {
        // The solution at every node this process holds.
        PETSC_OK(VecScatterBegin(s.gather, s.x, s.ringx, INSERT_VALUES, SCATTER_FORWARD));
        const std::vector<PetscInt>& rows = s.parts->rows;
        const PetscScalar* v = nullptr;
        PETSC_OK(VecGetArrayRead(s.x, &v));
        for (std::size_t r = 0; r < rows.size(); ++r) x.data()[rows[r]] = v[r];
        PETSC_OK(VecRestoreArrayRead(s.x, &v));
        PETSC_OK(VecScatterEnd(s.gather, s.x, s.ringx, INSERT_VALUES, SCATTER_FORWARD));
        PETSC_OK(VecGetArrayRead(s.ringx, &v));
        for (std::size_t g = 0; g < s.ring.size(); ++g) x.data()[s.ring[g]] = v[g];
        PETSC_OK(VecRestoreArrayRead(s.ringx, &v));
    }

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
    else PETSC_OK(VecResetArray(s.x));
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
}

bool petsc_solved(const petsc_slot& slot) { return slot.SYS != nullptr && slot.SYS->solved; }

void petsc_set_solved(petsc_slot& slot, bool solved) {
    if (slot.SYS != nullptr) slot.SYS->solved = solved;
}

}  // namespace nep
