// The nonsymmetric solver of the Newton flow system and of the transport system (full storage):
// the Krylov iterations BiCGSTAB, TFQMR, GRAMRB (minimal residual) and GCRK(5) (ORTHOMIN with
// five directions), each with its preconditioning, and the direct solver for selectors 3 and up.
#pragma once

#include "base/array.h"
#include "base/units.h"
#include "solvers/specified/direct.h"

namespace nep {

// Number of work vectors of length N that NSYSLV needs for a selector:
//   -5 BiCGSTAB, diagonal   8      -1 TFQMR, K^-1 (split)   9
//   -4 BiCGSTAB, none       7       0 BiCGSTAB, K^-1 (split) 7
//   -3 TFQMR, diagonal     10       1 GRAMRB, K^-1 (split)   3
//   -2 TFQMR, none          9       2 GCRK(5), K^-1 (split) 13
// and 0 for the direct solver (3 and up).
int nsyslv_nvec(int selector);

// Solves A x = b, A in full storage (NZ entries; rows IA, columns JA strictly ascending with the
// diagonal present, IROW the row of every entry), with the method chosen by `selector` (ISOLV
// for the flow system, ISOLVC for transport):
//   -5 BiCGSTAB with diagonal preconditioning   -4 BiCGSTAB without preconditioning
//   -3 TFQMR with diagonal preconditioning      -2 TFQMR without preconditioning
//   -1 TFQMR with K^-1 (split)                   0 BiCGSTAB with K^-1 (split)
//    1 GRAMRB (minimal residual), K^-1           2 GCRK(5) (ORTHOMIN), K^-1
//    3 and above: the direct solver NONSYM, with LIMNS1, IBOTMN, RNSYM and st.
// The first NP entries of `nodes` are the prescribed nodes (penalty rows), left out of every
// residual measure. x is overwritten by the initial guess K^-1 b and holds the solution on
// return, NITER the iterations done (0 for a zero right-hand side, an exact initial guess, and
// the direct solver), IER the direct solver's code (always 0 for the iterations).
// LU (at least NZ long) receives the incomplete factors; work holds nsyslv_nvec(selector)*N
// reals. Writes the trace line to the listing `lst`; a zero right-hand side gives x = 0 and a
// warning in the listing and on standard output `out`. An iteration that misses the tolerance
// (or the BiCGSTAB family needing its extra iteration) writes its messages on `out` and stops
// the run (or, given `failed`, sets *failed and returns), as does a TFQMR start whose shadow product is 0.
void NSYSLV(int selector, ounit& lst, ounit& out, int N, int NZ, int NP, const arr1<int>& nodes,
            int ITCGNS, double TLCGNS, int& NITER, int& IER, int LIMNS1, int& IBOTMN,
            arr1<double>& RNSYM, nonsym_state& st, const arr1<int>& IA, const arr1<int>& JA,
            const arr1<int>& IROW, const arr1<double>& A, const arr1<double>& b,
            arr1<double>& x, arr1<double>& LU, arr1<double>& work, double tiny,
            bool* failed = nullptr);

// Incomplete LU factorisation without fill-in, K = L U ~ A on the pattern of A: positions left of
// the diagonal and the diagonal hold L (the pivots on the diagonal), positions right of it hold U
// (unit diagonal, not stored). A pivot that is exactly 0 is reported in the listing and replaced
// by the pivot of the row before (for row 1, by the largest magnitude in the row, or 1).
void ilu0(ounit& lst, int N, int NZ, const arr1<int>& IA, const arr1<int>& JA,
          const arr1<double>& A, arr1<double>& LU);

}  // namespace nep
