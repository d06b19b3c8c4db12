// NSYSLV: the one entry to the nonsymmetric solvers.
#include "solvers/specified/nonsym_iter.h"

#include <cstdio>
#include <string>

#include "base/format.h"
#include "base/stop.h"
#include "solvers/specified/nonsym_kernels.h"

namespace nep {

namespace {

[[noreturn]] void solver_fault(const std::string& what) {
    input_error("internal error in the nonsymmetric solver NSYSLV: " + what);
}

std::string str(long v) { return std::to_string(v); }

void need(long have, long want, const char* what) {
    if (have < want)
        solver_fault(std::string(what) + " holds " + str(have) + " values, " + str(want) + " needed");
}

// The arguments must describe a sound system before anything is read through them: sizes, a
// pattern with strictly ascending columns inside 1..N and a diagonal in every row, the row of
// every entry, prescribed nodes inside 1..N. A fault here is a fault of the caller, never of the
// user's input; it ends the run with a message instead of reading outside an array.
void check_arguments(int selector, int N, int NZ, int NP, const arr1<int>& nodes,
                     const arr1<int>& IA, const arr1<int>& JA, const arr1<int>& IROW,
                     const arr1<double>& A, const arr1<double>& b, const arr1<double>& x,
                     const arr1<double>& LU, const arr1<double>& work) {
    if (selector < -5) solver_fault("selector " + str(selector) + " selects no method");
    if (N < 1) solver_fault("N = " + str(N));
    if (NZ < N) solver_fault("NZ = " + str(NZ) + " is below N = " + str(N));
    if (NP < 0) solver_fault("NP = " + str(NP));
    need(IA.size(), (long)N + 1, "IA");
    need(JA.size(), NZ, "JA");
    need(A.size(), NZ, "A");
    need(b.size(), N, "b");
    need(x.size(), N, "x");
    need(nodes.size(), NP, "the prescribed-node list");
    if (selector <= 2) {
        need(IROW.size(), NZ, "IROW");
        need(LU.size(), NZ, "LU");
        need(work.size(), (long)nsyslv_nvec(selector) * N, "the work array");
    }
    if (IA(1) != 1 || IA(N + 1) != NZ + 1)
        solver_fault("IA(1) = " + str(IA(1)) + ", IA(N+1) = " + str(IA(N + 1)) + " with NZ = " +
                     str(NZ));
    for (int i = 1; i <= N; ++i) {
        const int k0 = IA(i), k1 = IA(i + 1);
        if (k1 < k0) solver_fault("IA(" + str(i + 1) + ") < IA(" + str(i) + ")");
        bool diag = false;
        for (int k = k0; k < k1; ++k) {
            const int c = JA(k);
            if (c < 1 || c > N || (k > k0 && c <= JA(k - 1)))
                solver_fault("row " + str(i) + ", position " + str(k) + ": column " + str(c));
            if (selector <= 2 && IROW(k) != i)
                solver_fault("IROW(" + str(k) + ") = " + str(IROW(k)) + " in row " + str(i));
            diag = diag || c == i;
        }
        if (!diag) solver_fault("row " + str(i) + " has no diagonal entry");
    }
    for (int k = 1; k <= NP; ++k)
        if (nodes(k) < 1 || nodes(k) > N)
            solver_fault("prescribed node " + str(k) + " is " + str(nodes(k)));
}

}  // namespace

int nsyslv_nvec(int selector) {
    switch (selector) {
    case -5: return 8;
    case -4: return 7;
    case -3: return 10;
    case -2: return 9;
    case -1: return 9;
    case 0: return 7;
    case 1: return 3;
    case 2: return 13;
    default: return 0;
    }
}

void NSYSLV(int selector, ounit& lst, ounit& out, int N, int NZ, int NP, const arr1<int>& nodes,
            int ITCGNS, double TLCGNS, int& NITER, int& IER, int LIMNS1, int& IBOTMN,
            arr1<double>& RNSYM, nonsym_state& st, const arr1<int>& IA, const arr1<int>& JA,
            const arr1<int>& IROW, const arr1<double>& A, const arr1<double>& b,
            arr1<double>& x, arr1<double>& LU, arr1<double>& work, double tiny,
            bool* failed) {
    check_arguments(selector, N, NZ, NP, nodes, IA, JA, IROW, A, b, x, LU, work);
    IER = 0;
    NITER = 0;
    if (selector >= 3) {
        NONSYM(lst, N, NZ, NP, nodes, IER, LIMNS1, IBOTMN, IA, JA, A, b, x, RNSYM, tiny, st);
        return;
    }

    // A zero right-hand side has the zero solution.
    double bb = 0.0;
    for (int i = 1; i <= N; ++i) bb += b(i) * b(i);
    if (bb == 0.0) {
        x.fill(0.0);
        const char* warn =
            "(//,'*** WARNING: NONSYM ROUTINE ABNORMAL EXIT CONDITION ',/,       ' RHS=0 ---> UNKNOWN=0 ')";
        wfmt(lst, warn);
        wfmt(out, warn);
        return;
    }

    ilu0(lst, N, NZ, IA, JA, A, LU);

    // Work vectors: the method's own, then the operator's scratch vector, then (diagonal
    // preconditioning) the reciprocals of the diagonal.
    double* w = work.data();
    nsk::system sy;
    sy.N = N;
    sy.ia = IA.data();
    sy.ja = JA.data();
    sy.irow = IROW.data();
    sy.a = A.data();
    sy.lu = LU.data();
    sy.NP = NP;
    sy.nodes = nodes.data();
    sy.ITCGNS = ITCGNS;
    sy.TLCGNS = TLCGNS;
    const int nvec = nsyslv_nvec(selector);
    const bool diagonal = selector == -5 || selector == -3;
    const int nown = nvec - 1 - (diagonal ? 1 : 0);
    sy.sc = w + (long)nown * N;
    sy.mode = selector == -4 || selector == -2 ? nsk::precond::NONE
              : diagonal                       ? nsk::precond::DIAGONAL
                                               : nsk::precond::SPLIT;
    if (diagonal) {
        double* dinv = w + (long)(nown + 1) * N;
        for (int i = 1; i <= N; ++i) {
            int k = IA(i);
            while (JA(k) != i) ++k;
            // A zero diagonal entry leaves its row unscaled.
            dinv[i - 1] = A(k) != 0.0 ? 1.0 / A(k) : 1.0;
        }
        sy.dinv = dinv;
    }

    // The norm of the right-hand side over the nodes that are not prescribed.
    nsk::copy_n(N, b.data(), w);
    nsk::zero_prescribed(sy, w);
    sy.bn = nsk::dot(N, w, w);

    // The initial guess x = K^-1 b.
    double* xv = x.data();
    nsk::lsolve(sy, b.data(), xv);
    nsk::usolve(sy, xv, xv);

    double ERR = 0.0;
    switch (selector) {
    case -5:
    case -4:
    case 0:
        nsk::bicgstab(sy, b.data(), xv, w, NITER, ERR);
        break;
    case -3:
    case -2:
    case -1:
        nsk::tfqmr(sy, lst, selector != -1, b.data(), xv, w, NITER, ERR);
        break;
    case 1:
        nsk::gramrb(sy, b.data(), xv, w, NITER, ERR);
        break;
    case 2:
        nsk::gcrk(sy, b.data(), xv, w, NITER, ERR);
        break;
    }

    // The true residual of the solution.
    nsk::residual(sy, b.data(), xv, w);
    nsk::zero_prescribed(sy, w);
    const double RES = nsk::measure(sy, w, tiny);

    wfmt(lst, "(1X,I4,2(1PE15.6),'  <<NONSYMMETRIC SOLVER>>')", NITER, ERR, RES);

    // A measure that is not a number fails as well.
    if ((!(ERR <= TLCGNS) || NITER > ITCGNS) && failed != nullptr) {
        *failed = true;
    } else if (!(ERR <= TLCGNS) || NITER > ITCGNS) {
        wfree(out, "STOP -- SUBROUTINE NSYSLV:");
        if (!(ERR <= TLCGNS)) {
            wfree(out, "ERR= ", ERR, " > ", "TOLCG= ", TLCGNS, " within ", NITER, " iterations ");
        } else {
            wfree(out, "NITER= ", NITER, " > ", "ITMXCG= ", ITCGNS);
        }
        char text[200];
        std::snprintf(text, sizeof text,
                      "the nonsymmetric solver failed: error %.6g against TLCGNS = %.6g after %d "
                      "iterations (ITCGNS = %d)",
                      ERR, TLCGNS, NITER, ITCGNS);
        input_error(text);
    }
}

}  // namespace nep
