// The direct nonsymmetric solver: LU factorisation without pivoting on the full-storage pattern.
// The symbolic phase (FASINS) runs once per run and its structure is kept in a nonsym_state that
// the caller owns (one per run, shared by the flow and the transport systems, which have the same
// pattern whenever both may use this solver); the numeric phase (FANUNS) and the two triangular
// sweeps run at every call.
#pragma once

#include "driver/array.h"
#include "driver/units.h"

namespace nep {

struct nonsym_state {
    bool DONE = false;   // the symbolic phase has been run (first call of the run)
    int IERSYM = 0;      // its code: 0, or 1000 to 4000 (then every later call fails alike)
    int NDONE = 0;       // rows it completed
    int N = 0, NZ = 0;   // the size of the system it was built for
    int LIMIT = 0;       // factor storage capacity it was built with
    int IEND = 0;        // end pointer of the factor column list (factor entries + 1)
    int IBOT = 0;        // storage needed: N + IEND (valid once DONE and IERSYM = 0)
    int NSYMB = 0;       // symbolic phases run (at most one)
    int NNUM = 0;        // numeric phases run

    // Integer structure (5*N + capacity + 2 integers in all).
    arr1<int> IPERM;  // IPERM(i): the row of A taken as row i; IPERM(N+j): the place of column j
                      // (both the identity: no reordering)
    arr1<int> IL;     // row i of the factor: columns JL(IL(i)) .. JL(IL(i+1)-1)
    arr1<int> IU;     // the first U column of row i (the L columns come before it)
    arr1<int> JL;     // factor columns, L ascending then U ascending per row
    arr1<int> LINK;   // linked column list of the row in the symbolic phase (head and end: N+1)
    arr1<int> ROW;    // a sorted copy of one row of A

    // Releases the structure (end of run).
    void release();
};

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
