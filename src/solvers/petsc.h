// Linear systems handed to PETSc: the solver selectors ISOLV, ISOLVC from -10 to -14
// (records/control.h). The flow system under Picard (symmetric upper storage) is solved by
// conjugate gradients, the Newton flow system and the transport system (full storage) by
// right-preconditioned GMRES; the preconditioner is an algebraic multigrid (hypre BoomerAMG or
// PETSc's GAMG), the exact solve of every column of the mesh (block Jacobi by columns), or an
// incomplete factor with a coarse problem of the columns; the default selector takes an
// incomplete factor for strongly diagonally dominant matrices and BoomerAMG for the others.
//
// PETSc's back end of the linear system (solvers/linsys.h); its files are in solvers/petsc/. The
// matrix is formed once from the pattern before the first step, of the type the options
// database gives (-mat_type; AIJ by default), preallocated by the counts of the pattern's rows,
// and takes the values of the assembly by rows at every solve (Picard: both triangles from the
// symmetric storage, since the multigrid methods need both); PETSc eliminates the prescribed rows
// (MatZeroRowsColumns). Under Picard with BoomerAMG alone the matrix is instead a shell on the
// assembly's own storage, and hypre's copy of the values is formed from it at each set-up. The
// preconditioner is kept across the solves of the iterations and steps while it pays, and set up
// again by the rule of petsc/petsc_precond.cpp. On one process every PETSc object lives on
// PETSC_COMM_SELF; on several (mpiexec) the matrix is formed in one place (make_matrix) as a
// parallel matrix, each process setting its own rows, the only ones its assembly forms whole
// (records/sparse.h).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/array.h"
#include "base/units.h"
#include "records/control.h"
#include "records/cpustat.h"
#include "records/dimensions.h"
#include "records/mesh.h"
#include "records/sparse.h"

namespace nep {

// PETSc (and MPI) for the length of a run. The options database takes, in this order,
// ~/.petscrc, the .petscrc of the working directory (the deck directory: the program has entered
// it), the environment variable PETSC_OPTIONS and the command-line words meant for PETSc
// (`words`, option names with their values). ok() is false, with message(), when PETSc could not
// start. A run that was not launched by mpiexec starts MPI as one isolated process.
class petsc_session {
public:
    petsc_session(const char* prog, const std::vector<std::string>& words);
    ~petsc_session();
    petsc_session(const petsc_session&) = delete;
    petsc_session& operator=(const petsc_session&) = delete;
    bool ok() const { return ok_; }
    const std::string& message() const { return message_; }

private:
    bool ok_ = false, started_ = false;
    std::string message_;
    std::string session_dir_;  // OpenMPI's session files of this run, when the run made it
};

// The command line: a word that names a PETSc option ("-ksp_type": one dash, then a letter),
// and a word that can only be its value (no leading dash, or a negative number).
bool petsc_option_word(const std::string& w);
bool petsc_value_word(const std::string& w);

// What a selector means, for the listing: the preconditioner ("HYPRE BOOMERAMG", ...).
const char* petsc_selector_text(int selector);

// Forms the systems of the PETSc selectors of this run (flow: ISOLV; transport: ISOLVC in a
// coupled run) from the finished patterns, before the first step. Command-line PETSc options
// that no system of the run can read (no PETSc selector, or options of the transport system,
// prefix -tr_, in a run whose transport does not use PETSc) stop the run here.
// On several processes (mpiexec) the systems are shared among them by columns of the mesh
// (solvers/petsc/petsc_parts.h): each forms its own rows, and every solve gives each the solution at
// every node it holds. `deck_parts` is the part of every surface node of the deck when the
// mesh has been cut already (mesh::cut), else empty (the mesh is then cut here).
void petsc_setup(const dimensions& dim, const control& ctl, const mesh& msh, sparse& sp,
                 cpustat& cpu, const std::vector<int>& deck_parts = {});
// The part of every surface node of the deck (collective; solvers/petsc/petsc_parts.h).
std::vector<int> petsc_surface_parts(const dimensions& dim, const mesh& msh);

// Solves A x = b with the system of `slot` (formed by petsc_setup). A holds the values in the
// storage the system was formed on (Picard flow: symmetric upper; otherwise full storage). The
// first NP entries of `rows` are the prescribed rows, `values` their values: PETSc gets them
// eliminated (a unit row with the value as its right-hand side, its column moved into the
// right-hand side of the other rows), and they are left out of the residual measures as in
// SYMSLV and NSYSLV. A and b are not changed. Writes the trace line to the listing `lst` (after
// the first solve also the method and preconditioner PETSc runs); NITER receives the Krylov
// iterations. A solve that fails (PETSc's reason: iteration limit ITMAX, breakdown, divergence)
// with a reused preconditioner is done again after a new set-up; one that fails with a new one
// sets *failed when `failed` is given, and otherwise stops the run with the messages of the specified solver (SYMSLV under Picard, NSYSLV
// otherwise) on standard output `out`, and PETSc's reason on standard error. The counts and
// times go to `st`. The default selector on one process under Picard hands the dominant
// matrices back to the specified conjugate gradients: `specified(NITER)` solves the system so.
void PETSLV(ounit& lst, ounit& out, petsc_slot& slot, petsc_stat& st, int N, int NP,
            const arr1<int>& rows, const arr1<double>& values, int ITMAX, double TOL, double tiny,
            int& NITER, const arr1<double>& A, const arr1<double>& b, arr1<double>& x, dialect d,
            const std::function<void(int&)>& specified, bool* failed = nullptr);

// Checkpoints (run/checkpoint.cpp). A run continued from a checkpoint has no preconditioner to
// reuse, so every checkpoint has the preconditioner of each system set up anew at its next solve,
// in the run that writes it as in the run continued from it: both then solve alike. Whether the
// first solve of a system (with the solver's line in the listing) is behind is part of the state.
void petsc_renew(petsc_slot& slot);
bool petsc_solved(const petsc_slot& slot);
void petsc_set_solved(petsc_slot& slot, bool solved);

}  // namespace nep
