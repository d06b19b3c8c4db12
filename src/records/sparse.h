// Sparse matrix patterns, matrices and solver work space.
#pragma once

#include <vector>

#include "base/array.h"
#include "records/control.h"
#include "records/dimensions.h"

namespace nep {

// The slot window per row actually used while a pattern is built: N1 as given, but never more
// than N+1, since a row holds at most N entries and a wider window changes nothing but the memory
// taken.
inline long pattern_width(int N1, int N) { return N1 < (long)N + 1 ? (long)N1 : (long)N + 1; }

// The triangular solves of the incomplete Cholesky factor on NTH threads. Each layer of PERIOD
// rows (the nodes of one layer of the mesh) is cut into NTH slices, one per thread, and the slices
// into chunks of consecutive rows. A thread solves its chunks in the order of the serial loop
// (forward: chunks and rows ascending; backward: descending) and waits, before a chunk, for the
// rows of the other threads that the chunk needs, which the others publish as they finish their
// chunks. The forward solve gathers the columns of the factor: for row i, CJ lists the rows j of
// its entries U(j,i) above the diagonal, j ascending, from CP(i-1) to CP(i)-1 (counting from 0),
// and UT their values (copied from the factor by plan_values), CK their positions in it. Chunk c
// of thread t runs over rows CHUNK(2c), CHUNK(2c+1) of CHUNKS(t); NEEDF(c*NTH + o) is the last
// row of thread o that it needs in the forward solve (0: none), NEEDB the first in the backward
// solve (N+1: none). Formed by plan_trisolve for one pattern and thread count; NTH = 0: none.
struct trisolve_plan {
    int NTH = 0, N = 0;
    std::vector<int> CP, CJ, CK;
    std::vector<double> UT;
    std::vector<int> CHUNK, CHUNKS, NEEDF, NEEDB;
};

// The structure of the direct nonsymmetric solver, built by its symbolic phase at the first call
// of the run and kept for the numeric phases of the later calls.
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

// For every element e and local pair (i, j), i, j = 1..4, the position in the value arrays of the
// entry (row TETRA(i,e), column TETRA(j,e)). The positions of one element are contiguous, so
// assembly walks them in order. A full map holds the 16 pairs, i fastest: (1,1), (2,1), ...,
// (4,4), POS(i, j, e) being entry ((e-1)*4 + (j-1))*4 + i. An upper map (symmetric storage)
// holds only the 10 pairs i <= j, column by column: (1,1), (1,2), (2,2), (1,3), ..., (4,4),
// POS(i, j, e) being entry (e-1)*10 + j*(j-1)/2 + i.
struct posmap {
    arr1<int> v;  // (16*NT), or (10*NT) when upper
    bool upper = false;

    void alloc(long nt, bool up = false) {
        upper = up;
        v.alloc(width() * (nt > 0 ? nt : 0));
    }
    void release() { v.release(); }
    long width() const { return upper ? 10 : 16; }
    long nt() const { return v.size() / width(); }
    long slot(int i, int j, long e) const {
        return upper ? (e - 1) * 10 + j * (j - 1) / 2 + i : ((e - 1) * 4 + (j - 1)) * 4 + i;
    }
    int& operator()(int i, int j, long e) { return v(slot(i, j, e)); }
    const int& operator()(int i, int j, long e) const { return v(slot(i, j, e)); }
    // The positions of element e, in the order above.
    const int* elem(long e) const { return v.data() + (e - 1) * width(); }
    const int* data() const { return v.data(); }
};

struct sparse {
    // Flow pattern: symmetric storage (diagonal first, columns >= row) under Picard, full storage
    // under Newton. Rows are ascending in column.
    arr1<int> IA;    // (N+1) row pointers: row i is IA(i) .. IA(i+1)-1
    arr1<int> JA;    // (N1*N) slot windows while the pattern is built, then (NTERM) columns
    arr1<int> IROW;  // (NTERM) row of every stored entry; Newton only
    posmap IPOS;     // (4,4,NT) element positions; under Picard an upper map (i <= j)

    // Transport pattern (full storage). Under Picard flow it is built in its own arrays; under
    // Newton flow it is the flow pattern itself: TSHARE is set and the accessors below give the
    // flow arrays, so flow and transport read one copy.
    bool TSHARE = false;
    arr1<int> IAC_OWN, JAC_OWN, IROWC_OWN;
    posmap IPOSC_OWN;
    arr1<int>& IAC() { return TSHARE ? IA : IAC_OWN; }
    arr1<int>& JAC() { return TSHARE ? JA : JAC_OWN; }
    arr1<int>& IROWC() { return TSHARE ? IROW : IROWC_OWN; }
    posmap& IPOSC() { return TSHARE ? IPOS : IPOSC_OWN; }
    const arr1<int>& IAC() const { return TSHARE ? IA : IAC_OWN; }
    const arr1<int>& JAC() const { return TSHARE ? JA : JAC_OWN; }
    const arr1<int>& IROWC() const { return TSHARE ? IROW : IROWC_OWN; }
    const posmap& IPOSC() const { return TSHARE ? IPOS : IPOSC_OWN; }

    // Value arrays, created once the number of stored entries is known.
    arr1<double> AMAT, BMAT;    // (NTERM) flow conductance and storage matrices
    arr1<double> JMAT;          // Newton only: max(NTERM, 15*N); the derivative matrix in front
    arr1<double> AMATC, BMATC;  // transport: max(NTERMC, 10*N) each
    // Solver work space: max(w, a*N) each, w = NTERM (a = 10) or, with transport, NTERMC (a = 15).
    // The symmetric solver takes its five vectors of length N from WORK1.
    arr1<double> WORK1, WORK2;

    // The system of one flow iteration: right-hand side (the residual, then with the boundary
    // conditions), its copy before the boundary conditions, and the head increment (N).
    arr1<double> RHS, RESID, DELTA;
    // Diagonals of the prescribed rows saved while they hold the penalty (NBCMAX), and the number
    // of prescribed rows in the current iteration (the list is bcdata's IBCNOD).
    arr1<double> DIAGBC;
    int NPRES = 0;
    // The element loops on several threads: the nodes are cut into NBLK blocks of rows, and
    // EBLK(2b-1), EBLK(2b) are the first and last element touching block b (0 elements: an
    // empty range). Formed at the first parallel loop, again when the thread count changes.
    int NBLK = 0;
    std::vector<long> EBLK;
    // The triangular solves of the symmetric solver on several threads.
    trisolve_plan TPLAN;
    // Local mass templates of the flow and transport equations, (i, j) = 1..4.
    double LMASS[5][5] = {};
    double LMASSC[5][5] = {};
    // The transport system (coupled runs): right-hand side, its copy before the boundary
    // conditions (N), and the saved diagonals of the prescribed-concentration rows (NPC).
    arr1<double> RHSC, RHSSAV;
    arr1<double> DIAGSAV;

    // The direct solver: its structure, kept from the first call, and its real work (INTBOT).
    nonsym_state NSST;
    arr1<double> RNSYM;
};

// The solver work space that the end of the run no longer needs.
void release_solver_work(sparse& sp);

// Creates the arrays from the sizes; releases them at the end of the run.
void alloc_sparse(const dimensions& dim, const control& ctl, sparse& sp);
void release_sparse(sparse& sp);

}  // namespace nep
