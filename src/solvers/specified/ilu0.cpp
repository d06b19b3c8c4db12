// Incomplete LU factorisation without fill-in, shared by every Krylov method of NSYSLV.
#include <cmath>

#include "base/format.h"
#include "solvers/specified/nonsym_iter.h"

namespace nep {

// The factors are those of the Crout order (column i of L, then row i of U, for i = 1..N):
//   L(j,i) = A(j,i) - sum_{m<i} L(j,m) U(m,i)              j >= i
//   U(i,j) = (A(i,j) - sum_{m<i} L(i,m) U(m,j)) / L(i,i)   j > i
// with the sums over the couplings present in the pattern, in ascending m. They are computed
// here row by row: when row i is reached, every row m < i is final, so walking the columns m < i
// of row i in ascending order and adding L(i,m) U(m,j) into the partial sum of each later
// position (i,j) builds exactly those sums, term by term in ascending m, without a transposed
// copy of A or any other work space. The partial sums live in LU until each entry is finished.
void ilu0(ounit& lst, int N, int /*NZ*/, const arr1<int>& IA, const arr1<int>& JA,
          const arr1<double>& A, arr1<double>& LU) {
    const int* ia = IA.data();
    const int* ja = JA.data();
    const double* a = A.data();
    double* lu = LU.data();
    double prev = 0.0;  // the pivot of the row before
    for (int i = 1; i <= N; ++i) {
        const int ks = ia[i - 1] - 1, ke = ia[i] - 1;  // positions of row i, 0-based, [ks, ke)
        for (int k = ks; k < ke; ++k) lu[k] = 0.0;
        int kd = ks;
        for (; ja[kd] < i; ++kd) {
            // L(i,m) is final; spread L(i,m) U(m,j) over the later positions (i,j) of row i.
            const int m = ja[kd];
            lu[kd] = a[kd] - lu[kd];
            const double l = lu[kd];
            int q = ia[m - 1] - 1;
            const int qe = ia[m] - 1;
            while (q < qe && ja[q] <= m) ++q;  // row m, right of its diagonal: U(m, .)
            int p = kd + 1;
            while (p < ke && q < qe) {
                if (ja[p] == ja[q]) {
                    lu[p] += l * lu[q];
                    ++p;
                    ++q;
                } else if (ja[p] < ja[q]) {
                    ++p;
                } else {
                    ++q;
                }
            }
        }
        // kd is the diagonal position (every row has one, checked by the caller).
        double piv = a[kd] - lu[kd];
        if (piv == 0.0) {
            wfmt(lst, "(1X,'ELEMENTO DIAGONALE DI L NULLO,I,J =',I5)", i);
            if (i > 1) {
                piv = prev;
            } else {
                // No row before the first one: the largest magnitude of the row, or 1.
                for (int k = ks; k < ke; ++k) piv = std::fmax(piv, std::fabs(a[k]));
                if (piv == 0.0) piv = 1.0;
            }
        }
        lu[kd] = piv;
        prev = piv;
        for (int k = kd + 1; k < ke; ++k) lu[k] = (a[k] - lu[k]) / piv;
    }
}

}  // namespace nep
