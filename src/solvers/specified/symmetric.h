// The solvers room: the linear solvers of the flow and transport systems (symmetric, iterative
// nonsymmetric and direct). It includes only the records and base floors.
//
// The symmetric solver of the Picard flow system: conjugate gradients preconditioned with an
// incomplete Cholesky factor (no fill-in) on the symmetric upper storage, diagonal first.
#pragma once

#include "base/array.h"
#include "base/units.h"
#include "records/control.h"
#include "records/sparse.h"

namespace nep {

// Solves A x = b. A holds NTERM entries in symmetric upper storage (IA(i) is the position of the
// diagonal of row i, JA ascending within a row). The first NP entries of `nodes` are the nodes
// whose rows are prescribed (penalty rows); they are left out of the residual norms.
// U (NTERM) receives the incomplete factor; work holds at least 5*N reals (five vectors).
// `plan`, when given, runs the triangular solves by slices of the layers (plan_trisolve).
// Writes the trace line (and any pivot messages) to the listing `lst`; stops the run with its
// messages on standard output `out` when the iteration fails (or, given `failed`, sets *failed
// and returns). On return x is the solution and
// NITER the iterations performed. The second program writes a shorter failure line (`d`).
void SYMSLV(ounit& lst, ounit& out, int N, int NTERM, int NP, int& NITER, int ITCGSY,
            double TLCGSY, double tiny, const arr1<int>& nodes, const arr1<int>& JA,
            const arr1<int>& IA, arr1<double>& x, const arr1<double>& b, const arr1<double>& A,
            arr1<double>& U, arr1<double>& work, dialect d = dialect::MAIN,
            trisolve_plan* plan = nullptr, bool* failed = nullptr);

// The pieces of SYMSLV, for the callers that need one of them and for the tests.

// Incomplete Cholesky factor A ~ U'U on the pattern of A, with the pivot messages and patches.
// With a plan for this pattern on several threads, on its threads: the same values to the bit.
void symfac(ounit& lst, int N, int NTERM, const arr1<int>& JA, const arr1<int>& IA,
            const arr1<double>& A, arr1<double>& U, const trisolve_plan* plan = nullptr);

// z = (U'U)^-1 r. z must not share storage with r. With a plan for this pattern (and its values
// taken from U by plan_values), by its slices on its threads: the same values to the bit.
void symprc(int N, const arr1<int>& JA, const arr1<int>& IA, const arr1<double>& U,
            const double* r, double* z, const trisolve_plan* plan = nullptr);
// The same after the step r := r - alpha q, taken row by row as the forward solve reaches each
// row (r is written): the conjugate gradients' residual update in the solve's pass.
void symprc(int N, const arr1<int>& JA, const arr1<int>& IA, const arr1<double>& U, double* r,
            double alpha, const double* q, double* z, const trisolve_plan* plan);

// Forms the plan of the triangular solves of the pattern JA, IA on nth threads, with layers of
// `period` rows (nth < 1: no plan, NTH = 0); plan_values then takes the values of each new
// factor U into it.
void plan_trisolve(int N, long period, const arr1<int>& JA, const arr1<int>& IA, int nth,
                   trisolve_plan& plan);
void plan_values(const arr1<int>& JA, const arr1<int>& IA, const arr1<double>& U,
                 trisolve_plan& plan);

// The first row of a symmetric upper pattern with an entry in column `col` or beyond: the rows a
// loop over rows must pass through to gather every term of the rows from `col` on.
int first_row_reaching(int N, const arr1<int>& JA, const arr1<int>& IA, int col);
// The same for the block of rows of the calling thread in a row loop (by_rows), lo its first row:
// kept by `plan` when it was formed for as many threads, found by a scan of the rows otherwise.
long first_row_reaching(const trisolve_plan* plan, int N, const arr1<int>& JA,
                        const arr1<int>& IA, long lo);

// y = A v with A in symmetric upper storage (each stored entry serves both triangles); `plan`,
// when given, keeps the rows each thread's block passes through.
void symmul(int N, const arr1<int>& JA, const arr1<int>& IA, const arr1<double>& A,
            const double* v, double* y, const trisolve_plan* plan = nullptr);

}  // namespace nep
