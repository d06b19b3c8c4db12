// The one place a linear system meets its solver: the selector (ISOLV for the flow system, ISOLVC
// for transport) picks PETSc (-10 to -14), the symmetric solver (the Picard flow system) or the
// nonsymmetric solvers (the Newton flow system and transport: iterations, or the direct solver
// for 3 and up). The flow step and the transport step fill a linear_system and call linsolve.
#pragma once

#include "base/array.h"
#include "base/units.h"
#include "records/control.h"
#include "records/dimensions.h"
#include "records/cpustat.h"
#include "records/sparse.h"

namespace nep {

// What the solvers share: the system A x = b of N unknowns with its pattern, prescribed rows,
// work arrays, limits and the state each solver keeps between calls.
struct linear_system {
    int selector = 0;        // ISOLV or ISOLVC
    bool symmetric = false;  // the Picard flow system: symmetric upper storage (SYMSLV)
    int N = 0, NTERM = 0;    // unknowns; stored entries of A
    int NP = 0;              // the first NP entries of *nodes are the prescribed rows
    const arr1<int>* nodes = nullptr;
    const arr1<int>* IA = nullptr;    // row starts (symmetric: the diagonal of each row)
    const arr1<int>* JA = nullptr;    // columns
    const arr1<int>* IROW = nullptr;  // the row of every entry (full storage)
    const arr1<double>* A = nullptr;
    const arr1<double>* b = nullptr;
    arr1<double>* x = nullptr;
    // Work: the symmetric solver's factor goes to work2 and its vectors to work1; the
    // nonsymmetric solvers' factor to work1 and their vectors to work2.
    arr1<double>* work1 = nullptr;
    arr1<double>* work2 = nullptr;
    int ITMAX = 0;       // ITCGSY or ITCGNS
    double TOL = 0.0;    // TLCGSY or TLCGNS
    double tiny = 0.0;   // TINYR
    dialect d = dialect::MAIN;
    // The direct solver: its capacity, the storage its factor needs, work and symbolic state.
    int LIMNS1 = 0;
    int* IBOTMN = nullptr;
    arr1<double>* RNSYM = nullptr;
    nonsym_state* NSST = nullptr;
    // PETSc: the system formed by petsc_setup and its counts.
    petsc_slot* slot = nullptr;
    petsc_stat* pst = nullptr;
    // The symmetric solver on large meshes: the plan of its triangular solves, formed here once
    // for the pattern with layers of `period` rows.
    trisolve_plan* plan = nullptr;
    long period = 0;
};

// A system of N unknowns with what every system of the run shares: the work arrays, TINYR, the
// dialect and the direct solver's storage. The caller sets the rest.
linear_system run_system(dimensions& dim, const control& ctl, sparse& sp);

// Solves the system with the solver of its selector, writing that solver's trace to the listing
// `lst` (and its stops on standard output `out`). NITER receives the iterations, IER the direct
// solver's code (0 for every other solver).
void linsolve(ounit& lst, ounit& out, linear_system& s, int& NITER, int& IER);

}  // namespace nep
