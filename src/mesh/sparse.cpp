// Compressed-row patterns built from the tetrahedra with a fixed window of N1 slots per row (no
// dynamic lists), the checks of the finished patterns, the element position maps, and the value
// and work arrays sized from the number of stored entries.
#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/parallel.h"
#include "base/stop.h"
#include "mesh/csr.h"

namespace nep {

namespace {

[[noreturn]] void internal_fault(const std::string& what) {
    input_error("internal error in the sparse patterns: " + what);
}

// The four nodes of element e in ascending order, by repeated selection of the smallest (each
// chosen entry is replaced by the largest integer).
void sorted_nodes(const tetra_table& TETRA, long e, int hugei, int N, int s[5]) {
    int t[4] = {TETRA(1, e), TETRA(2, e), TETRA(3, e), TETRA(4, e)};
    for (int u = 1; u <= 4; ++u) {
        int best = 0;
        for (int v = 1; v < 4; ++v)
            if (t[v] < t[best]) best = v;
        s[u] = t[best];
        t[best] = hugei;
    }
    if (s[1] < 1 || s[4] > N) {
        internal_fault("element " + std::to_string(e) + " has a node outside 1.." + std::to_string(N));
    }
}

// The window a pattern needs: one slot more than its longest row (the upper triangle with the
// diagonal in symmetric storage, the whole row in full storage), since a row's last slot stays
// free. Formed only to tell the user, when N1 is too small, the value that is enough.
long needed_width(int N, const tetra_table& TETRA, int NT, bool upper, int hugei) {
    std::vector<std::vector<int>> cols(N + 1);
    int s[5];
    for (long e = 1; e <= NT; ++e) {
        sorted_nodes(TETRA, e, hugei, N, s);
        for (int t = 1; t <= 4; ++t)
            for (int p = upper ? t : 1; p <= 4; ++p) cols[s[t]].push_back(s[p]);
    }
    long most = 0;
    for (auto& c : cols) {
        std::sort(c.begin(), c.end());
        most = std::max<long>(most, std::unique(c.begin(), c.end()) - c.begin());
    }
    return most + 1;
}

// Too small a window: the specified text, then the N1 the mesh needs on standard error.
[[noreturn]] void window_too_small(iofiles& io, const char* fmt, long r, long e, long N1, int N,
                                   const tetra_table& TETRA, int NT, bool upper, int hugei) {
    wfmt(io.out(6), fmt, (int)r, (int)e);
    wfmt(io.STDOUT, fmt, (int)r, (int)e);
    input_error("grid file '" + io.NAMES[8] + "': N1 = " + std::to_string(N1) +
                " is too small for this mesh (row " + std::to_string(r) + ", element " +
                std::to_string(e) + "): its " + (upper ? "symmetric (Picard)" : "full") +
                " pattern needs N1 = " + std::to_string(needed_width(N, TETRA, NT, upper, hugei)) +
                ", one more than the largest number of nodes joined to one node" +
                (upper ? " with a number not below its own" : "") + ", the node itself included");
}

// Puts column c into the row whose slots end at slot R, scanning from slot l (1-based slot
// numbers; ja points at slot 1). The row stays sorted. False when the row has no room: the scan
// would start beyond R, pass slot R-1, or find no empty slot below R to shift into.
bool insert_column(int* ja, long l, long R, int c) {
    if (l > R) return false;
    for (;;) {
        const int v = ja[l - 1];
        if (v == 0) {
            ja[l - 1] = c;
            return true;
        }
        if (v == c) return true;
        if (v > c) {
            long q = l + 1;
            while (q < R && ja[q - 1] != 0) ++q;
            if (q >= R) return false;
            for (long k = q; k > l; --k) ja[k - 1] = ja[k - 2];
            ja[l - 1] = c;
            return true;
        }
        if (l + 1 >= R) return false;
        ++l;
    }
}

// Row pointers from the occupied slots, and the occupied slots moved to the front of JA.
void compress(int N, long W, arr1<int>& JA, arr1<int>& IA, int& NTERM) {
    int* ja = JA.data();
    long out = 0;
    IA(1) = 1;
    for (long r = 1; r <= N; ++r) {
        const long base = (r - 1) * W;
        long count = 0;
        for (long l = 0; l < W; ++l) {
            const int v = ja[base + l];
            if (v != 0) {
                ja[out++] = v;
                ++count;
            }
        }
        IA(r + 1) = IA(r) + (int)count;
    }
    NTERM = (int)out;
}

void clear_window(int N, long W, arr1<int>& JA, const char* which) {
    if (JA.size() < (long)N * W) {
        internal_fault(std::string(which) + ": JA holds " + std::to_string(JA.size()) +
                       " entries, the slot windows need " + std::to_string((long)N * W));
    }
    std::fill(JA.data(), JA.data() + (long)N * W, 0);
}

void check_pointers_size(int N, const arr1<int>& IA, const char* which) {
    if (IA.size() < (long)N + 1) internal_fault(std::string(which) + ": IA is shorter than N+1");
}

// Both checks share the row loop; sym selects the rule for the first column.
int check_pattern(bool sym, iofiles& io, int N, int NTERM, const arr1<int>& IA, const arr1<int>& JA,
                  arr1<int>& IER) {
    if (IER.size() < kPatternErrLen) IER.alloc(kPatternErrLen);
    IER.fill(0);
    int code = PATTERN_SOUND;
    int missing = 0;
    const long nja = std::min<long>(JA.size(), std::max(NTERM, 0));
    if (N < 2) {
        code = PATTERN_TOO_SMALL;
    } else if (IA.size() < (long)N + 1 || IA(N + 1) != NTERM + 1) {
        code = PATTERN_BAD_END;
    } else {
        for (int i = 1; i <= N && code == PATTERN_SOUND; ++i) {
            const long first = IA(i), last = (long)IA(i + 1) - 1;
            auto locate = [&](int c) {
                IER(5) = (int)first;
                IER(6) = (int)last;
                IER(7) = i;
                code = c;
            };
            // Pointers outside the stored entries are reported as pointer disorder before any
            // entry is read through them.
            if (first < 1 || first > nja + 1 || last > nja) {
                locate(PATTERN_BAD_POINTERS);
                break;
            }
            for (long k = first + 1; k <= last; ++k) {
                if (JA(k) <= JA(k - 1)) {
                    IER(2) = (int)k;
                    IER(3) = JA(k - 1);
                    IER(4) = JA(k);
                    locate(PATTERN_UNSORTED);
                    break;
                }
            }
            if (code != PATTERN_SOUND) break;
            if (IA(i + 1) < IA(i)) {
                locate(PATTERN_BAD_POINTERS);
                break;
            }
            if (last >= first) {
                if (sym ? JA(first) < i : JA(first) < 1) {
                    locate(PATTERN_LOWER_COLUMN);
                    break;
                }
                if (JA(last) > N) {
                    locate(PATTERN_HIGH_COLUMN);
                    break;
                }
            }
            // The diagonal: first in symmetric storage, anywhere in the row in full storage.
            bool diag = false;
            if (last >= first) {
                if (sym) {
                    diag = JA(first) == i;
                } else {
                    for (long k = first; k <= last && !diag; ++k) diag = JA(k) == i;
                }
            }
            if (!diag) ++missing;
        }
    }
    IER(1) = code;
    IER(8) = missing;
    if (code != PATTERN_SOUND) {
        if (sym) {
            wfmt(io.out(6), "(/,5X,'ROUTINE CHKSYM  CODICE DI ERRORE = ',I5)", code);
        } else {
            wfmt(io.out(6), "( ' ROUTINE CHKNSYM  CODICE DI ERRORE =',I5)", code);
        }
    }
    return code;
}

// Position of column col in row row, by a scan from the row's first entry; 0 when the row does
// not hold it.
inline int find_entry(const arr1<int>& JA, const arr1<int>& IA, int row, int col) {
    const int end = IA(row + 1);
    const int* ja = JA.data();
    for (int k = IA(row); k < end; ++k)
        if (ja[k - 1] == col) return k;
    return 0;
}

long array_length(int nterm, int N, int a) {
    // max(NTERM, a*N) by the integer quotient, as the solvers expect.
    return (N > 0 && nterm / N < a) ? (long)a * N : (long)nterm;
}

}  // namespace

void strsym(iofiles& io, int N, int& NTERM, const tetra_table& TETRA, arr1<int>& JA, arr1<int>& IA,
            int NT, int N1, const control& ctl) {
    const long W = N1;
    check_pointers_size(N, IA, "strsym");
    clear_window(N, W, JA, "strsym");
    int* ja = JA.data();
    for (long r = 1; r <= N; ++r) ja[(r - 1) * W] = (int)r;
    int s[5];
    for (long e = 1; e <= NT; ++e) {
        sorted_nodes(TETRA, e, ctl.HUGEI, N, s);
        for (int t = 1; t <= 3; ++t) {
            const long r = s[t];
            const long R = r * W;
            for (int p = t + 1; p <= 4; ++p) {
                if (!insert_column(ja, (r - 1) * W + p - t + 1, R, s[p])) {
                    window_too_small(io, "(1X,'RIGA = ',I6,' TETRAEDRO = ',I6,'  AUMENTARE N1 ')", r,
                                     e, N1, N, TETRA, NT, true, ctl.HUGEI);
                }
            }
        }
    }
    compress(N, W, JA, IA, NTERM);
}

void strnsym(iofiles& io, int N, int& NTERM, const tetra_table& TETRA, arr1<int>& JA, arr1<int>& IA,
             int NT, int N1, const control& ctl) {
    const long W = N1;
    check_pointers_size(N, IA, "strnsym");
    clear_window(N, W, JA, "strnsym");
    int* ja = JA.data();
    int s[5];
    for (long e = 1; e <= NT; ++e) {
        sorted_nodes(TETRA, e, ctl.HUGEI, N, s);
        for (int t = 1; t <= 4; ++t) {
            const long r = s[t];
            const long R = r * W;
            for (int p = 1; p <= 4; ++p) {
                if (!insert_column(ja, (r - 1) * W + p, R, s[p])) {
                    window_too_small(io, "(1X,//,'RIGA = ',I6,' TETRAEDRO = ',I6,'  AUMENTARE N1 ')",
                                     r, e, N1, N, TETRA, NT, false, ctl.HUGEI);
                }
            }
        }
    }
    compress(N, W, JA, IA, NTERM);
}

int chksym(iofiles& io, int N, int NTERM, const arr1<int>& IA, const arr1<int>& JA, arr1<int>& IER) {
    return check_pattern(true, io, N, NTERM, IA, JA, IER);
}

int chknsym(iofiles& io, int N, int NTERM, const arr1<int>& IA, const arr1<int>& JA, arr1<int>& IER) {
    return check_pattern(false, io, N, NTERM, IA, JA, IER);
}

namespace {

// The position map of the pattern IA, JA for the elements TETRA: the places in the rows when every
// row holds at most 256 entries, the positions otherwise.
void fill_positions(int NT, const tetra_table& TETRA, const arr1<int>& JA, const arr1<int>& IA, posmap& P) {
    P.alloc(NT, P.upper);
    int longest = 0;
    for (long i = 1; i < IA.size(); ++i) longest = std::max(longest, IA(i + 1) - IA(i));
    const bool places = longest <= 256;
    if (places) P.PLACE.alloc((P.upper ? 6 : 16) * (long)P.NT);
    else P.POS.alloc(P.width() * (long)P.NT);
    // Each element fills its own entries, on all cores. A pattern that lacks an entry is a fault
    // of the program, reported for the first element in order, by the same walk on one thread
    // (`report`).
    std::atomic<bool> sound{true};
    auto fill = [&](long e, bool report) {
        for (int j = 1; j <= 4; ++j) {
            for (int i = 1; i <= (P.upper ? j : 4); ++i) {
                const int row = TETRA(i, e), col = TETRA(j, e);
                const int k = find_entry(JA, IA, row, col);
                const bool diagonal_first = !places || !P.upper || i < j || k == IA(row);
                if (k == 0 || !diagonal_first) {
                    sound.store(false, std::memory_order_relaxed);
                    if (!report) return;
                    if (k == 0)
                        internal_fault("element " + std::to_string(e) + ": entry (" +
                                       std::to_string(row) + ", " + std::to_string(col) +
                                       ") is not in the pattern");
                    internal_fault("row " + std::to_string(row) + " does not begin with its diagonal");
                }
                if (!places)
                    P.POS((e - 1) * P.width() + (P.upper ? j * (j - 1) / 2 + i : (j - 1) * 4 + i)) = k;
                else if (!P.upper)
                    P.PLACE((e - 1) * 16 + (j - 1) * 4 + i) = (std::uint8_t)(k - IA(row));
                else if (i < j)
                    P.PLACE((e - 1) * 6 + (j - 1) * (j - 2) / 2 + i) = (std::uint8_t)(k - IA(row));
            }
        }
    };
    parallel_for(1, NT, [&](long e) { fill(e, false); });
    if (!sound.load())
        for (long e = 1; e <= NT; ++e) fill(e, true);
}

}  // namespace

void possym(int NT, const tetra_table& TETRA, const arr1<int>& JA, const arr1<int>& IA, posmap& IPOS) {
    IPOS.upper = true;
    fill_positions(NT, TETRA, JA, IA, IPOS);
}

void posnsy(int NT, const tetra_table& TETRA, const arr1<int>& JA, const arr1<int>& IA, posmap& IPOS) {
    IPOS.upper = false;
    fill_positions(NT, TETRA, JA, IA, IPOS);
}

void rowind(int N, const arr1<int>& IA, arr1<int>& IROW) {
    for (int i = 1; i <= N; ++i)
        for (int k = IA(i); k < IA(i + 1); ++k) IROW(k) = i;
}

void flowcsr_ptr(dimensions& dim, control& ctl, iofiles& io, mesh& msh, sparse& sp) {
    const int W = (int)pattern_width(dim.N1, dim.N);
    arr1<int> ier(kPatternErrLen);
    if (ctl.IFLOW == 1) {
        strsym(io, dim.N, dim.NTERM, msh.TETRA, sp.JA, sp.IA, dim.NT, W, ctl);
        chksym(io, dim.N, dim.NTERM, sp.IA, sp.JA, ier);
        possym(dim.NT, msh.TETRA, sp.JA, sp.IA, sp.IPOS);
    } else {
        strnsym(io, dim.N, dim.NTERM, msh.TETRA, sp.JA, sp.IA, dim.NT, W, ctl);
        chknsym(io, dim.N, dim.NTERM, sp.IA, sp.JA, ier);
        posnsy(dim.NT, msh.TETRA, sp.JA, sp.IA, sp.IPOS);
    }
    // A mesh of one process of several: the listing gives the whole mesh's count (list_nterm).
    if (!msh.cut()) list_nterm(ctl, io, dim.NTERM);
}

void list_nterm(const control& ctl, iofiles& io, int nterm) {
    if (ctl.DIALECT == dialect::ALT) {
        wfmt(io.out(6), "(  5X,'NTERM  (# OF NONZERO TERMS; FLOW EQ)    = ',I6)", nterm);
    } else {
        wfmt(io.out(6), "(  5X,'NTERM  (# OF NONZERO TERMS; FLOW EQ)    = ',I9)", nterm);
    }
}

void transpcsr_ptr(dimensions& dim, control& ctl, iofiles& io, mesh& msh, sparse& sp) {
    const int W = (int)pattern_width(dim.N1C, dim.N);
    sp.TSHARE = false;
    // The windows exist from start-up when transport runs with Picard flow.
    if (sp.IAC_OWN.size() != (long)dim.N + 1) sp.IAC_OWN.alloc(dim.N + 1);
    if (sp.JAC_OWN.size() < (long)dim.N * W) sp.JAC_OWN.alloc((long)dim.N * W);
    if (sp.IPOSC_OWN.nt() != dim.NT) sp.IPOSC_OWN.alloc(dim.NT);
    arr1<int> ier(kPatternErrLen);
    strnsym(io, dim.N, dim.NTERMC, msh.TETRA, sp.JAC_OWN, sp.IAC_OWN, dim.NT, W, ctl);
    chknsym(io, dim.N, dim.NTERMC, sp.IAC_OWN, sp.JAC_OWN, ier);
    posnsy(dim.NT, msh.TETRA, sp.JAC_OWN, sp.IAC_OWN, sp.IPOSC_OWN);
    if (!msh.cut()) list_ntermc(ctl, io, dim.NTERMC);
}

void list_ntermc(const control& ctl, iofiles& io, int ntermc) {
    if (ctl.IFLOW == 1) {
        wfmt(io.out(6), "(  5X,'NTERMC (# OF NONZERO TERMS; TRANSP EQ)  = ',I9)", ntermc);
    } else {
        wfmt(io.out(6), "(  5X,'NTERMC (# OF NONZERO TERMS; TRANSP EQ)   = ',I6)", ntermc);
    }
}

void csr_ptr(dimensions& dim, control& ctl, iofiles& io, mesh& msh, sparse& sp) {
    const int N = dim.N;
    const bool newton = ctl.IFLOW != 1;

    flowcsr_ptr(dim, ctl, io, msh, sp);

    sp.JA.trim(dim.NTERM);
    sp.AMAT.alloc(dim.NTERM);
    sp.BDIAG = ctl.LUMP != 0;
    sp.BMAT.alloc(sp.BDIAG ? N : dim.NTERM);
    if (newton) {
        sp.IROW.alloc(dim.NTERM);
        sp.JMAT.alloc(array_length(dim.NTERM, N, 15));
        rowind(N, sp.IA, sp.IROW);
    }

    if (ctl.ITRANS != 0) {
        if (!newton) {
            transpcsr_ptr(dim, ctl, io, msh, sp);
        } else {
            dim.NTERMC = dim.NTERM;
            if (!msh.cut()) list_ntermc(ctl, io, dim.NTERMC);
            sp.TSHARE = true;
            sp.IAC_OWN.release();
            sp.JAC_OWN.release();
            sp.IROWC_OWN.release();
            sp.IPOSC_OWN.release();
        }
        if (!newton) {
            sp.JAC_OWN.trim(dim.NTERMC);
            sp.IROWC_OWN.alloc(dim.NTERMC);
        }
        sp.AMATC.alloc(array_length(dim.NTERMC, N, 10));
        sp.BMATC.alloc(array_length(dim.NTERMC, N, 10));
        if (!newton) rowind(N, sp.IAC_OWN, sp.IROWC_OWN);
    }

    // PETSc takes its own vectors: with no specified solver in the run, the first work array
    // serves only the boundary fluxes and the transport copies (N), the second is not needed.
    if (petsc_solver(ctl.ISOLV) && (ctl.ITRANS == 0 || petsc_solver(ctl.ISOLVC))) {
        sp.WORK1.alloc(N);
        return;
    }
    const bool nonsym = newton || ctl.ITRANS != 0;
    if (!nonsym) {
        // Only the symmetric solver: five vectors, and the incomplete factor in the pattern.
        sp.WORK1.alloc(5L * N);
        sp.WORK2.alloc(dim.NTERM);
        return;
    }
    const long work = ctl.ITRANS != 0 ? array_length(dim.NTERMC, N, 15) : array_length(dim.NTERM, N, 10);
    sp.WORK1.alloc(work);
    // The nonsymmetric iterations take up to 13 vectors of length N from the second work array
    // (GCRK(5)), more than the pattern-sized length gives on small or thin meshes.
    sp.WORK2.alloc(std::max(work, 13L * N));
}

}  // namespace nep
