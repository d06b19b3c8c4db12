// Sparse matrix patterns, matrices and solver work space.
#pragma once

#include <cstdint>
#include <vector>

#include "base/array.h"
#include "base/procs.h"
#include "records/control.h"
#include "records/dimensions.h"
#include "records/mesh.h"

namespace nep {

// The slot window per row actually used while a pattern is built: N1 as given, but never more
// than N+1, since a row holds at most N entries and a wider window changes nothing but the memory
// taken.
inline long pattern_width(int N1, int N) { return N1 < (long)N + 1 ? (long)N1 : (long)N + 1; }

// The order of the triangular solves of the incomplete Cholesky factor on NTH threads (one or
// more). Each layer of PERIOD rows (the nodes of one layer of the mesh) is cut into 2*NTH slices,
// two per thread, and the slices into chunks of consecutive rows. A thread solves the chunks of
// each of its slices in the order of the serial loop (forward: chunks and rows ascending;
// backward: descending), the chunks of its two slices side by side when they can be, and waits,
// before a chunk, for the rows of the other slices that the chunk needs, which are published as
// their chunks finish. Chunk c of slice s runs over rows CHUNK(2c), CHUNK(2c+1), c in
// CHUNKS(s) .. CHUNKS(s+1)-1; NEEDF(c*2*NTH + o) is the last row of slice o that it needs in the
// forward solve (0: none), NEEDB the first in the backward solve (N+1: none).
struct trisolve_order {
    int NTH = 0;
    std::vector<int> CHUNK, CHUNKS, NEEDF, NEEDB;
};

// The triangular solves of the incomplete Cholesky factor on NTH threads, and on one while the
// loops run on one (threads_now). The forward solve gathers the columns of the factor: for row
// i, CJ lists the rows j of its entries U(j,i) above the diagonal, j ascending, from CP(i-1) to
// CP(i)-1 (counting from 0), UT their values and UD the diagonal (copied from the factor by
// plan_values: the forward solve then reads no row of the factor), and CPLACE their places in
// row j (from 0; 255: that place or further). TEAM is the order on NTH threads, ONE the order on
// one thread (when NTH > 1; with NTH = 1, TEAM). Formed by plan_trisolve for one pattern and
// thread count; NTH = 0: none. VALUES: UT and UD hold the values of the current factor (one
// thread solves forward by rows until then). REACH(b) is the first row whose entries reach
// block b of the NTH blocks of rows of the row loops (by_rows): the rows that block's loops pass
// through for the terms of the rows above.
struct trisolve_plan {
    int NTH = 0, N = 0;
    bool VALUES = false;
    std::vector<int> REACH;
    zvector<int> CP, CJ;
    zvector<std::uint8_t> CPLACE;
    zvector<double> UT, UD;
    trisolve_order TEAM, ONE;
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
// entry (row TETRA(i,e), column TETRA(j,e)). A full map holds the 16 pairs, an upper map
// (symmetric storage) only the 10 pairs i <= j. When no row holds more than 256 entries, the map
// keeps the place of each entry in its row, one byte a pair, the position being IA(row) + place;
// an upper map then keeps only the 6 pairs i < j, the diagonal coming first in its row. Otherwise
// it keeps the positions themselves. positions() gives those of one element: full, i fastest,
// (1,1), (2,1), ..., (4,4), pair (i, j) at (j-1)*4 + i-1; upper, column by column, (1,1), (1,2),
// (2,2), (1,3), ..., (4,4), pair (i, j) at j*(j-1)/2 + i-1. Filled by possym and posnsy.
// One process of several keeps the map of the elements of its own element loops alone, layer
// by layer: SLOT(c) is the place, from 0, among the PER kept in each layer, of the top layer's
// tetrahedron c (c = 1..PERIOD, the NTRI3 of a layer) and of every one below it (-1: not kept);
// at() gives the element's place in the map. SLOT empty: every element at its number.
struct posmap {
    bool upper = false;
    long NT = 0;
    arr1<std::uint8_t> PLACE;  // (6*NT) upper or (16*NT) full: the places in the rows
    arr1<int> POS;             // (10*NT) or (16*NT): the positions, when a row holds more than 256
    std::vector<int> SLOT;
    long PER = 0, PERIOD = 0;

    // The place in the map of element e of layer L, below the top layer's tetrahedron col.
    long at(long e, int L, long col) const {
        return SLOT.empty() ? e : (long)(L - 1) * PER + SLOT[col - 1] + 1;
    }

    void alloc(long nt, bool up = false) {
        upper = up;
        NT = nt > 0 ? nt : 0;
        PLACE.release();
        POS.release();
        SLOT.clear();
        PER = PERIOD = 0;
    }
    void release() { alloc(0, upper); }
    long width() const { return upper ? 10 : 16; }
    long nt() const { return NT; }

    // The positions of the element at place e of the map (at()), whose nodes are t[0..3], into p
    // (width() of them); IA points to IA(1). Inlined into the element loops.
    [[gnu::always_inline]] void positions(long e, const int* t, const int* IA, int* p) const {
        if (!POS.empty()) {
            const int* v = POS.data() + (e - 1) * width();
            for (int q = 0; q < width(); ++q) p[q] = v[q];
            return;
        }
        const int r0 = IA[t[0] - 1], r1 = IA[t[1] - 1], r2 = IA[t[2] - 1], r3 = IA[t[3] - 1];
        if (upper) {
            const std::uint8_t* o = PLACE.data() + (e - 1) * 6;
            p[0] = r0;
            p[1] = r0 + o[0];
            p[2] = r1;
            p[3] = r0 + o[1];
            p[4] = r1 + o[2];
            p[5] = r2;
            p[6] = r0 + o[3];
            p[7] = r1 + o[4];
            p[8] = r2 + o[5];
            p[9] = r3;
            return;
        }
        const std::uint8_t* o = PLACE.data() + (e - 1) * 16;
        for (int j = 0; j < 4; ++j) {
            p[4 * j] = r0 + o[4 * j];
            p[4 * j + 1] = r1 + o[4 * j + 1];
            p[4 * j + 2] = r2 + o[4 * j + 2];
            p[4 * j + 3] = r3 + o[4 * j + 3];
        }
    }
    // The position of pair (i, j) of element e.
    int operator()(int i, int j, long e, const tetra_table& TETRA, const arr1<int>& IA) const {
        int p[16], t[5];
        TETRA.nodes(e, t);
        const long above = SLOT.empty() ? 0 : (e - 1) / PERIOD;
        positions(at(e, (int)above + 1, e - above * PERIOD), t, IA.data(), p);
        return upper ? p[j * (j - 1) / 2 + i - 1] : p[(j - 1) * 4 + i - 1];
    }
};

// A linear system handed to PETSc (solvers/petsc/petsc_system.h): its matrix on the pattern, vectors and
// Krylov solver, formed once before the first step. The slot owns it and releases it through
// the function its creator left.
struct petsc_system;
struct petsc_slot {
    petsc_system* SYS = nullptr;
    void (*DROP)(petsc_system*) = nullptr;
    petsc_slot() = default;
    petsc_slot(const petsc_slot&) = delete;
    petsc_slot& operator=(const petsc_slot&) = delete;
    ~petsc_slot() { reset(); }
    void reset() {
        if (SYS != nullptr && DROP != nullptr) DROP(SYS);
        SYS = nullptr;
    }
};

// The flow or the transport linear system of the run (solvers/linsys.h), formed at its first
// solve; the slot owns it as petsc_slot owns its system.
struct linear_system;
struct system_slot {
    linear_system* SYS = nullptr;
    void (*DROP)(linear_system*) = nullptr;
    system_slot() = default;
    system_slot(const system_slot&) = delete;
    system_slot& operator=(const system_slot&) = delete;
    ~system_slot() { reset(); }
    void reset() {
        if (SYS != nullptr && DROP != nullptr) DROP(SYS);
        SYS = nullptr;
    }
};

struct sparse {
    // Flow pattern: symmetric storage (diagonal first, columns >= row) under Picard, full storage
    // under Newton. Rows are ascending in column.
    arr1<int> IA;    // (N+1) row pointers: row i is IA(i) .. IA(i+1)-1
    arr1<int> JA;    // (N1*N) slot windows while the pattern is built, then (NTERM) columns
    arr1<int> IROW;  // (NTERM) row of every stored entry; Newton only
    posmap IPOS;     // element positions; under Picard an upper map (i <= j)

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
    // The storage matrix of lumped mass (LUMP != 0) is diagonal: BMAT then holds only its
    // diagonal, by node (N), every other entry being zero.
    bool BDIAG = false;
    arr1<double> JMAT;          // Newton only: max(NTERM, 15*N); the derivative matrix in front
    arr1<double> AMATC, BMATC;  // transport: max(NTERMC, 10*N) each
    // Solver work space: max(w, a*N) each, w = NTERM (a = 10) or, with transport, NTERMC (a = 15).
    // The symmetric solver takes its five vectors of length N from WORK1.
    arr1<double> WORK1, WORK2;

    // The system of one flow iteration: right-hand side (the residual, then with the boundary
    // conditions), its copy before the boundary conditions, and the head increment (N).
    arr1<double> RHS, RESID, DELTA;
    // Newton's line search: the system of the iterate kept while trial heads are assembled
    // (AMAT, RHS, RESID one after the other), and the rows free of a prescribed head (1) of the
    // iterate. Sized at the first use.
    std::vector<double> LSKEEP;
    std::vector<std::uint8_t> LSFREE;
    // The system of the full update when the line search took it (AMAT, RESID), the heads it
    // was formed at (PNEW, PTHETA) and the atmospheric state of the iteration (ATMACT, IFATM,
    // IEXIT): the next iteration reuses it when it starts from those heads and that state.
    bool LSREADY = false;
    std::vector<double> LSNEXT;
    std::vector<int> LSBC;
    // The number of prescribed rows in the current iteration (the list is bcdata's IBCNOD).
    int NPRES = 0;
    // The element loops on several threads: the nodes are cut into NBLK blocks of rows, and
    // EBLK(4b+1), EBLK(4b+2) are the first and last element touching block b (0 elements: an
    // empty range), EBLK(4b+3), EBLK(4b+4) the longest run of them whose vertices all lie in
    // block b (an empty run: one past the last, the last). Formed at the first parallel loop,
    // again when the thread count changes.
    int NBLK = 0;
    std::vector<long> EBLK;
    // Several processes (mpiexec) with the flow system in PETSc: each process forms the rows of
    // its own nodes alone, those of its columns. OWNCOL(i) is 1 for the surface nodes of its
    // columns (NNOD); its element loops go over the runs ERUN(2r+1) .. ERUN(2r+2), ascending, of
    // the elements that touch its nodes, on one thread, and leave the rows of the other
    // processes' nodes incomplete: whatever is read of those rows is taken from their process.
    // Both empty on one process: every element and row.
    std::vector<std::uint8_t> OWNCOL;
    std::vector<long> ERUN;
    // Node 0 stands for a node of the deck that this process does not hold (mesh::cut).
    bool owns(long node, int nnod) const {
        return OWNCOL.empty() || (node >= 1 && OWNCOL[(node - 1) % nnod] != 0);
    }
    // Whether the element of nodes t[0..3] touches this process's nodes (one of its element
    // loops' elements).
    bool touches_own(const int* t, int nnod) const {
        return owns(t[0], nnod) || owns(t[1], nnod) || owns(t[2], nnod) || owns(t[3], nnod);
    }
    // The triangular solves of the symmetric solver on several threads.
    trisolve_plan TPLAN;
    // Local mass templates of the flow and transport equations, (i, j) = 1..4.
    double LMASS[5][5] = {};
    double LMASSC[5][5] = {};
    // The transport system (coupled runs): right-hand side and its copy before the boundary
    // conditions (N).
    arr1<double> RHSC, RHSSAV;

    // The direct solver: its structure, kept from the first call, and its real work (INTBOT).
    nonsym_state NSST;
    arr1<double> RNSYM;

    // The flow and transport systems of the PETSc selectors (ISOLV, ISOLVC).
    petsc_slot PETSCF, PETSCT;
    // The flow and transport linear systems (solvers/linsys.h), which hand their solves to the
    // systems above under a PETSc selector.
    system_slot FLOWSYS, TRANSYS;

    // The entries stored in the flow and the transport patterns: NTERM and NTERMC, or on one
    // process of several those of its rows (keep_own_rows).
    long stored() const { return IA.size() > 1 ? IA(IA.size()) - 1 : 0; }
    long storedc() const { return IAC().size() > 1 ? IAC()(IAC().size()) - 1 : 0; }
};

// The element loops: f(first, last) over the runs of elements this process forms (every element
// on one process).
template <class F>
void element_runs(const sparse& sp, long nt, F f) {
    if (sp.OWNCOL.empty()) {
        f(1L, nt);
        return;
    }
    for (std::size_t r = 0; r < sp.ERUN.size(); r += 2) f(sp.ERUN[r], sp.ERUN[r + 1]);
}

// Several processes: values that the process of each node alone forms whole (a flux from the
// node's row), handed to every process. each(f) calls f(node, value) for every value, in the
// same order on every process. Nothing on one process.
template <class Each>
void share_owned(const sparse& sp, int nnod, Each each) {
    if (sp.OWNCOL.empty()) return;
    std::vector<double> q;
    each([&](int node, double& v) { q.push_back(sp.owns(node, nnod) ? v : -0.0); });
    proc_sum(q.data(), (long)q.size());
    std::size_t k = 0;
    each([&](int, double& v) { v = q[k++]; });
}

// Several processes, after own_elements: the patterns keep whole only the rows of the nodes that
// this process's element loops reach (its columns and the ring of columns around them), and of
// every other row its diagonal alone, where the boundary conditions of any node may be written
// and read back; the position maps keep the elements of its element loops alone (posmap::SLOT);
// the value arrays are created anew on the shorter patterns, and the row indices of the
// specified solvers, which do not run on several processes, are released. Nothing on one
// process, or on a mesh whose layers do not repeat its top layer.
void keep_own_rows(const dimensions& dim, const tetra_table& TETRA, sparse& sp);

// The solver work space that the end of the run no longer needs.
void release_solver_work(sparse& sp);

// Creates the arrays from the sizes; releases them at the end of the run.
void alloc_sparse(const dimensions& dim, const control& ctl, sparse& sp);
void release_sparse(sparse& sp);

}  // namespace nep
