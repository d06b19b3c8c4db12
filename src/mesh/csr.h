// The compressed-row patterns of the flow and transport matrices, the element position maps and
// the value and work arrays that go with them.
#pragma once

#include "records/control.h"
#include "records/dimensions.h"
#include "records/iofiles.h"
#include "records/mesh.h"
#include "records/sparse.h"

namespace nep {

// Error codes of the pattern checks (first entry of the error array).
enum pattern_code : int {
    PATTERN_SOUND = 0,
    PATTERN_TOO_SMALL = 1000,      // N < 2
    PATTERN_BAD_END = 2000,        // IA(N+1) /= NTERM+1
    PATTERN_LOWER_COLUMN = 4000,   // first column < 1 (full), < row (symmetric)
    PATTERN_HIGH_COLUMN = 5000,    // last column > N
    PATTERN_UNSORTED = 6000,       // a column not above its predecessor
    PATTERN_BAD_POINTERS = 7000    // IA(i+1) < IA(i) (or a pointer outside the entries)
};

// Error array of the pattern checks, entries 1..8: the code; for 6000 the position and the two
// columns; for every code from 6000 on the row's first and last position and the row number;
// entry 8 counts the rows checked that lack their diagonal entry.
constexpr int kPatternErrLen = 8;

// The whole set-up: patterns, checks, position maps, value and work arrays.
void csr_ptr(dimensions& dim, control& ctl, iofiles& io, mesh& msh, sparse& sp);
void flowcsr_ptr(dimensions& dim, control& ctl, iofiles& io, mesh& msh, sparse& sp);
// The listing's line of the number of stored entries of the flow pattern.
void list_nterm(const control& ctl, iofiles& io, int nterm);
// The same for the transport pattern (its own under Picard flow, else the flow pattern).
void list_ntermc(const control& ctl, iofiles& io, int ntermc);
void transpcsr_ptr(dimensions& dim, control& ctl, iofiles& io, mesh& msh, sparse& sp);

// Pattern builders on the first N1*N entries of JA (N1 = the slot window of each row).
void strsym(iofiles& io, int N, int& NTERM, const tetra_table& TETRA, arr1<int>& JA, arr1<int>& IA,
            int NT, int N1, const control& ctl);
void strnsym(iofiles& io, int N, int& NTERM, const tetra_table& TETRA, arr1<int>& JA, arr1<int>& IA,
             int NT, int N1, const control& ctl);

// Pattern checks: return the error code (IER(1)); a non-zero code is written to the listing.
int chksym(iofiles& io, int N, int NTERM, const arr1<int>& IA, const arr1<int>& JA, arr1<int>& IER);
int chknsym(iofiles& io, int N, int NTERM, const arr1<int>& IA, const arr1<int>& JA, arr1<int>& IER);

// Element position maps: possym for i <= j (ascending vertices), posnsy for all 16 pairs.
void possym(int NT, const tetra_table& TETRA, const arr1<int>& JA, const arr1<int>& IA, posmap& IPOS);
void posnsy(int NT, const tetra_table& TETRA, const arr1<int>& JA, const arr1<int>& IA, posmap& IPOS);

// IROW(k) = i for IA(i) <= k < IA(i+1).
void rowind(int N, const arr1<int>& IA, arr1<int>& IROW);

}  // namespace nep
