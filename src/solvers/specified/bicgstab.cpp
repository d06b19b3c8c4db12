// BiCGSTAB on the preconditioned system (split K^-1, diagonal or none).
#include "solvers/specified/nonsym_kernels.h"

namespace nep {
namespace nsk {

// Vectors: r^ (the iterated residual), r~ (shadow), p, v, s, t.
void bicgstab(const system& sy, const double* b, double* x, double* w, int& NITER, double& ERR) {
    const int N = sy.N;
    double* R = w;
    double* RT = w + N;
    double* P = w + 2 * N;
    double* V = w + 3 * N;
    double* S = w + 4 * N;
    double* T = w + 5 * N;

    residual(sy, b, x, R);
    precondition(sy, R);
    to_iterate(sy, x);  // x now holds the iterate y
    if (exact_start(sy, R, S, false, ERR)) {
        NITER = 0;
        from_iterate(sy, x);
        return;
    }
    copy_n(N, R, RT);
    for (int i = 0; i < N; ++i) P[i] = V[i] = 0.0;
    double rho_old = 1.0, alpha = 1.0, omega = 1.0;

    NITER = 1;
    for (;;) {
        const double rho = dot(N, RT, R);
        if (rho == 0.0) break;  // breakdown: the shadow vector is orthogonal to r^
        const double beta = (rho / rho_old) * (alpha / omega);
        for (int i = 0; i < N; ++i) P[i] = R[i] + beta * (P[i] - omega * V[i]);
        op(sy, P, V);
        const double sigma = dot(N, RT, V);
        if (sigma == 0.0) break;  // breakdown
        alpha = rho / sigma;
        for (int i = 0; i < N; ++i) S[i] = R[i] - alpha * V[i];
        op(sy, S, T);
        const double tt = dot(N, T, T);
        // t = 0 means s = 0 (the half step solved the system): no stabilising step.
        omega = tt != 0.0 ? dot(N, T, S) / tt : 0.0;
        for (int i = 0; i < N; ++i) x[i] = x[i] + alpha * P[i] + omega * S[i];
        for (int i = 0; i < N; ++i) R[i] = S[i] - omega * T[i];
        zero_prescribed(sy, R);
        ERR = measure(sy, R);
        // With omega = 0 the next step would divide by it: the iteration ends here.
        if (NITER <= sy.ITCGNS && ERR > sy.TLCGNS && omega != 0.0) {
            ++NITER;
            rho_old = rho;
        } else {
            break;
        }
    }
    from_iterate(sy, x);
}

}  // namespace nsk
}  // namespace nep
