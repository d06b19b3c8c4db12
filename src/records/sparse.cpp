#include <algorithm>
#include <climits>
#include <string>

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

}  // namespace

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
    sp.DIAGBC.alloc(std::max(dim.NBCMAX, 0));
    sp.RNSYM.alloc(std::max(dim.INTBOT, 1));
    if (ctl.ITRANS != 0) {
        sp.RHSC.alloc(n);
        sp.RHSSAV.alloc(n);
        sp.DIAGSAV.alloc(std::max(dim.NPC, 0));
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
    sp.DIAGBC.release();
    sp.RHSC.release();
    sp.RHSSAV.release();
    sp.DIAGSAV.release();
}

void release_solver_work(sparse& sp) {
    sp.WORK1.release();
    sp.WORK2.release();
    sp.RNSYM.release();
    sp.NSST.release();
    sp.TPLAN = trisolve_plan{};
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
