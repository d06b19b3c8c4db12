// One linear system between the physics and the solvers. The flow step (Picard and Newton) and
// the transport step each have one, kept for the run in the sparse record (flow_system,
// transport_system): it holds the pattern, the values and the right-hand side of the assembly
// (the arrays the assembly adds into through its position maps, sp.AMAT and sp.RHS, sp.AMATC and
// sp.RHSC), the prescribed rows declared for the present solve, and the solver chosen for it
// once, in one place (choose_solver), from the selector ISOLV or ISOLVC:
//   -10 .. -14   PETSc (solvers/petsc.h), which eliminates the prescribed rows;
//   otherwise    the specified solvers (solvers/specified/specified.h): the symmetric conjugate gradients
//                for the Picard flow system, the nonsymmetric iterations or the direct solver
//                (3 and up) for the Newton flow system and transport, which impose the
//                prescribed rows by a penalty on the diagonal.
#pragma once

#include <memory>

#include "base/array.h"
#include "base/units.h"
#include "records/control.h"
#include "records/cpustat.h"
#include "records/dimensions.h"
#include "records/sparse.h"

namespace nep {

struct linear_system;

// A way of solving a linear system and of imposing its prescribed rows.
class system_solver {
public:
    virtual ~system_solver() = default;
    // The right-hand side of a prescribed row of value v, as this solver takes it.
    virtual double prescribed_rhs(const linear_system& s, double v) const = 0;
    // Solves the system; NITER receives the iterations, IER the direct solver's code (0 for
    // every other solver).
    virtual void solve(ounit& lst, ounit& out, linear_system& s, arr1<double>& x, int& NITER,
                       int& IER) = 0;
};

// The system A x = b of N unknowns.
struct linear_system {
    int selector = 0;        // ISOLV or ISOLVC
    bool symmetric = false;  // the Picard flow system: symmetric upper storage
    bool transport = false;
    int N = 0, NTERM = 0;    // unknowns; stored entries of A
    const arr1<int>* IA = nullptr;    // row starts (symmetric: the diagonal of each row)
    const arr1<int>* JA = nullptr;    // columns, ascending in a row
    const arr1<int>* IROW = nullptr;  // the row of every entry (full storage)
    arr1<double>* A = nullptr;        // the values the assembly forms
    arr1<double>* b = nullptr;        // the right-hand side
    int ITMAX = 0;       // ITCGSY or ITCGNS
    double TOL = 0.0;    // TLCGSY or TLCGNS
    double tiny = 0.0;   // TINYR
    double penalty = 0.0;  // HUGER * 1e-9, the diagonal of a prescribed row under a penalty
    dialect d = dialect::MAIN;
    // A solve that fails returns IER = -1 instead of stopping the run: the steps of a
    // continuation in pseudo-time, where it fails the step, which is taken again shorter.
    bool soft = false;
    // The last solve was judged by PETSc's own test, so IER alone tells a failure (its
    // iterations may pass ITMAX when a stale preconditioner was set up again).
    bool judged = false;
    // Work of the specified solvers: the symmetric solver's factor goes to work2 and its vectors
    // to work1; the nonsymmetric solvers' factor to work1 and their vectors to work2. The direct
    // solver: its capacity, the storage its factor needs, its work and symbolic state.
    arr1<double>* work1 = nullptr;
    arr1<double>* work2 = nullptr;
    int LIMNS1 = 0;
    int* IBOTMN = nullptr;
    arr1<double>* RNSYM = nullptr;
    nonsym_state* NSST = nullptr;
    // PETSc: the system formed by petsc_setup and its counts.
    petsc_slot* slot = nullptr;
    petsc_stat* pst = nullptr;
    // The symmetric solver on large meshes: the plan of its triangular solves, formed once for
    // the pattern with layers of `period` rows.
    trisolve_plan* plan = nullptr;
    long period = 0;

    // The prescribed rows of the present solve, in the order declared: rows(1..NP) and their
    // values (a prescribed increment, or a prescribed concentration).
    arr1<int> rows;
    arr1<double> values;
    int NP = 0;

    std::unique_ptr<system_solver> solver;

    // A new solve: no row prescribed.
    void clear_prescribed() { NP = 0; }
    // Row i is prescribed to v in the present solve: b(i) takes at once the solver's form of it
    // (what is added to b(i) afterwards goes into that row as into any other).
    void prescribe(int i, double v);
    // Solves A x = b with the rows prescribed; A and b are as the assembly left them when it
    // returns (but b's prescribed rows, which keep the solver's form).
    void solve(ounit& lst, ounit& out, arr1<double>& x, int& NITER, int& IER);
};

// The solver of a system, chosen from its selector (the one place of that choice).
std::unique_ptr<system_solver> choose_solver(const linear_system& s);

// The flow system (Picard: symmetric storage; Newton: full) and the transport system of the run,
// formed at their first use with the deck's selector; the limits are taken anew at every call.
linear_system& flow_system(dimensions& dim, const control& ctl, sparse& sp, cpustat& cpu,
                           bool newton);
linear_system& transport_system(dimensions& dim, const control& ctl, sparse& sp, cpustat& cpu);

}  // namespace nep
