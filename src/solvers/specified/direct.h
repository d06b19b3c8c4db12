// The direct nonsymmetric solver: LU factorisation without pivoting on the full-storage pattern.
// The symbolic phase (FASINS) runs once per run and its structure is kept in a nonsym_state that
// the caller owns (one per run, shared by the flow and the transport systems, which have the same
// pattern whenever both may use this solver); the numeric phase (FANUNS) and the two triangular
// sweeps run at every call.
#pragma once

#include "base/array.h"
#include "base/units.h"
#include "records/sparse.h"

namespace nep {

// Length of the real work array NONSYM needs for capacity LIMNS1 and N unknowns: the factor
// values (LIMNS1 + 1), the reciprocal pivots, a dense work row, and two vectors of length N.
inline long nonsym_work_length(int LIMNS1, int N) { return (long)LIMNS1 + 1 + 4L * N; }

// Solves A x = b (A: NZ entries in full storage, rows IA, columns JA) by the direct method.
// LIMNS1 is the factor storage capacity; IBOTMN is lowered to the storage the factor needs
// (N plus its end pointer) once the symbolic phase succeeded. RNSYM is the real work array, at
// least nonsym_work_length(LIMNS1, N) long. The first NP entries of `nodes` are the prescribed
// nodes, left out of the residual measure written on the trace line. On return IER is 0 and x
// the solution, or IER is the code of the failing phase (its message is in the listing) and x
// is 0. The solver never stops the run.
void NONSYM(ounit& lst, int N, int NZ, int NP, const arr1<int>& nodes, int& IER, int LIMNS1,
            int& IBOTMN, const arr1<int>& IA, const arr1<int>& JA, const arr1<double>& A,
            const arr1<double>& b, arr1<double>& x, arr1<double>& RNSYM, double tiny,
            nonsym_state& st);

// The symbolic phase: builds the factor structure of the pattern (IA, JA) in st. Returns the
// code (0, 1000, 2000, 3000 or 4000); st.NDONE holds the rows completed.
int FASINS(int N, int NZ, const arr1<int>& IA, const arr1<int>& JA, int LIMNS1, nonsym_state& st);

// The numeric phase on the structure of st: the factor values go to FL (st.IEND - 1 entries),
// the reciprocal pivots to RPIV and w is a dense work row (both of length N, element 1 first).
// Returns 0 or 5000 (a pivot that is 0 or not a finite number); *ndone gets the rows completed.
int FANUNS(int N, const arr1<int>& IA, const arr1<int>& JA, const arr1<double>& A,
           nonsym_state& st, double* FL, double* RPIV, double* w, int* ndone);

}  // namespace nep
