#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "base/stop.h"
#include "records/sparse.h"

namespace nep {

namespace {

// The slot windows of a pattern: N rows of pattern_width(N1, N) slots. Entry positions are 32-bit
// in the row pointers, so a window beyond that range is refused before anything is created.
long window_size(int N1, int N, const char* which) {
    const long long size = (long long)pattern_width(N1, N) * (long long)N;
    if (size > INT_MAX) {
        input_error(std::string("grid file: the ") + which + " pattern needs N1 * N = " +
                    std::to_string((long long)N1 * N) + " slots (N1 = " + std::to_string(N1) +
                    ", N = " + std::to_string(N) + "), more than 2147483647; lower N1");
    }
    return (long)size;
}

// The rows marked in local kept whole, of the others the diagonal alone, in place (no row
// grows, and every row holds its diagonal); IA is left with the new row pointers. The places of
// the entries in the kept rows do not change.
void keep_rows(const std::vector<std::uint8_t>& local, int nnod, arr1<int>& IA, arr1<int>& JA) {
    const long N = IA.size() - 1;
    int next = 1;
    int k0 = IA(1);
    for (long i = 1; i <= N; ++i) {
        const int k1 = IA(i + 1);
        IA(i) = next;
        if (local[(i - 1) % nnod]) {
            for (int k = k0; k < k1; ++k) JA(next++) = JA(k);
        } else {
            JA(next++) = (int)i;
        }
        k0 = k1;
    }
    IA(N + 1) = next;
    JA.trim(next - 1);
}

// The map of the kept elements alone, at their places at(e) (never beyond e, ascending with e),
// in place. Positions (rows of more than 256 entries) move with their rows: old holds the row
// pointers before keep_rows.
void keep_elements(const tetra_table& TETRA, const std::vector<int>& slot, long per,
                   const arr1<int>& old, const arr1<int>& IA, posmap& P) {
    const long period = (long)slot.size();
    const long w = P.POS.empty() ? (P.upper ? 6 : 16) : P.width();
    const long layers = P.NT / period;
    int t[5];
    for (long e = 1; e <= P.NT; ++e) {
        const long above = (e - 1) / period, c = e - above * period;
        if (slot[c - 1] < 0) continue;
        const long to = above * per + slot[c - 1];
        if (P.POS.empty()) {
            std::copy_n(P.PLACE.data() + (e - 1) * w, w, P.PLACE.data() + to * w);
            continue;
        }
        TETRA.nodes(e, t);
        int* p = P.POS.data();
        for (int j = 1; j <= 4; ++j) {
            for (int i = 1; i <= (P.upper ? j : 4); ++i) {
                const int row = t[i - 1];
                const int q = P.upper ? j * (j - 1) / 2 + i - 1 : (j - 1) * 4 + i - 1;
                p[to * w + q] = IA(row) + (p[(e - 1) * w + q] - old(row));
            }
        }
    }
    if (P.POS.empty()) P.PLACE.trim(layers * per * w);
    else P.POS.trim(layers * per * w);
    P.NT = layers * per;
    P.SLOT = slot;
    P.PER = per;
    P.PERIOD = period;
}

}  // namespace

void keep_own_rows(const dimensions& dim, const tetra_table& TETRA, sparse& sp) {
    const long period = dim.NTRI3;
    if (sp.OWNCOL.empty() || period <= 0 || dim.NT % period != 0 || dim.NNOD <= 0) return;
    // The top layer's tetrahedra with a vertex in this process's columns, and their columns:
    // every layer repeats them.
    std::vector<int> slot(period, -1);
    std::vector<std::uint8_t> local(dim.NNOD, 0);
    long per = 0;
    int t[5];
    for (long c = 1; c <= period; ++c) {
        TETRA.nodes(c, t);
        if (!sp.touches_own(t, dim.NNOD)) continue;
        slot[c - 1] = (int)per++;
        for (int m = 0; m < 4; ++m) local[(t[m] - 1) % dim.NNOD] = 1;
    }
    auto keep = [&](arr1<int>& IA, arr1<int>& JA, posmap& P) {
        const arr1<int> old = IA;
        keep_rows(local, dim.NNOD, IA, JA);
        keep_elements(TETRA, slot, per, old, IA, P);
    };
    keep(sp.IA, sp.JA, sp.IPOS);
    const long n = sp.stored();
    sp.AMAT.alloc(n);
    if (!sp.BDIAG) sp.BMAT.alloc(n);
    if (!sp.JMAT.empty()) sp.JMAT.alloc(n);
    sp.IROW.release();
    if (!sp.AMATC.empty()) {
        if (!sp.TSHARE) keep(sp.IAC_OWN, sp.JAC_OWN, sp.IPOSC_OWN);
        sp.IROWC_OWN.release();
        sp.AMATC.alloc(sp.storedc());
        sp.BMATC.alloc(sp.storedc());
    }
}

void alloc_sparse(const dimensions& dim, const control& ctl, sparse& sp) {
    const long n = std::max(dim.N, 0);
    const long nt = std::max(dim.NT, 0);

    // The windows are checked before anything is created.
    const long window = window_size(dim.N1, dim.N, "flow");
    const bool own_transport = ctl.ITRANS != 0 && ctl.IFLOW == 1;
    const long window_c = own_transport ? window_size(dim.N1C, dim.N, "transport") : 0;

    sp.IA.alloc(n + 1);
    sp.JA.alloc(window);
    sp.IPOS.alloc(nt, ctl.IFLOW == 1);

    sp.RHS.alloc(n);
    sp.RESID.alloc(n);
    sp.DELTA.alloc(n);
    sp.RNSYM.alloc(std::max(dim.INTBOT, 1));
    if (ctl.ITRANS != 0) {
        sp.RHSC.alloc(n);
        sp.RHSSAV.alloc(n);
    }

    // Under Newton flow the transport pattern is the flow pattern: nothing of its own exists.
    sp.TSHARE = false;
    if (own_transport) {
        sp.IAC_OWN.alloc(n + 1);
        sp.JAC_OWN.alloc(window_c);
        sp.IPOSC_OWN.alloc(nt);
    }
}

void release_sparse(sparse& sp) {
    sp.IA.release();
    sp.JA.release();
    sp.IROW.release();
    sp.IPOS.release();
    sp.TSHARE = false;
    sp.IAC_OWN.release();
    sp.JAC_OWN.release();
    sp.IROWC_OWN.release();
    sp.IPOSC_OWN.release();
    sp.AMAT.release();
    sp.BMAT.release();
    sp.JMAT.release();
    sp.AMATC.release();
    sp.BMATC.release();
    release_solver_work(sp);
    sp.RHS.release();
    sp.RESID.release();
    sp.DELTA.release();
    sp.RHSC.release();
    sp.RHSSAV.release();
}

void release_solver_work(sparse& sp) {
    sp.WORK1.release();
    sp.WORK2.release();
    sp.RNSYM.release();
    sp.NSST.release();
    sp.TPLAN = trisolve_plan{};
    sp.FLOWSYS.reset();
    sp.TRANSYS.reset();
    sp.PETSCF.reset();
    sp.PETSCT.reset();
}

void nonsym_state::release() {
    IPERM.release();
    IL.release();
    IU.release();
    JL.release();
    LINK.release();
    ROW.release();
}

}  // namespace nep
