// Freund's transpose-free QMR on the preconditioned system (split K^-1, diagonal or none), in two
// half-steps per iteration with one operator application for both.
#include <cmath>

#include "base/format.h"
#include "base/stop.h"
#include "solvers/specified/nonsym_kernels.h"

namespace nep {
namespace nsk {

// Vectors: r~ (shadow), w, u1, u2 (the direction pair), p (with v = Op(p)), v, d, t.
void tfqmr(const system& sy, ounit& lst, bool upper, const double* b, double* x, double* wk,
           int& NITER, double& ERR) {
    const int N = sy.N;
    double* RT = wk;
    double* W = wk + N;
    double* U1 = wk + 2 * N;
    double* U2 = wk + 3 * N;
    double* P = wk + 4 * N;
    double* V = wk + 5 * N;
    double* D = wk + 6 * N;
    double* T = wk + 7 * N;

    residual(sy, b, x, W);
    precondition(sy, W);  // r^
    to_iterate(sy, x);
    NITER = 0;
    if (exact_start(sy, W, T, false, ERR)) {
        // The initial guess solves the system: nothing to iterate (the shadow product would be 0).
        from_iterate(sy, x);
        return;
    }
    copy_n(N, W, RT);
    copy_n(N, W, U1);
    copy_n(N, W, P);
    for (int i = 0; i < N; ++i) D[i] = 0.0;
    op(sy, U1, V);
    zero_prescribed(sy, W);
    double tau = std::sqrt(dot(N, W, W));
    const double tau0 = tau;
    double rho = dot(N, RT, RT);
    if (rho == 0.0) {
        // r^ is not 0 but its square underflows: no shadow vector can be formed.
        if (upper) {
            wfree(lst, " R0=", rho, " CAMBIARE R TILDE");
        } else {
            wfree(lst, " r0=", rho, " cambiare r tilde");
        }
        stop_run(EXIT_ERROR);
    }
    if (tau0 == 0.0) {
        // Only prescribed entries are left in r^: nothing left to measure.
        from_iterate(sy, x);
        return;
    }
    double omega_old = tau0;
    double theta_prev = 0.0, eta_prev = 0.0;
    long m = 0;  // half-steps done

    for (;;) {
        ++NITER;
        const double sigma = dot(N, RT, V);
        if (sigma == 0.0) break;  // breakdown
        const double alpha = rho / sigma;
        for (int i = 0; i < N; ++i) U2[i] = U1[i] - alpha * V[i];
        for (int i = 0; i < N; ++i) T[i] = U1[i] + U2[i];
        op_inplace(sy, T);
        for (int i = 0; i < N; ++i) W[i] = W[i] - alpha * T[i];
        zero_prescribed(sy, W);
        const double omega_new = std::sqrt(dot(N, W, W));

        for (int k = 1; k <= 2; ++k) {
            const double* uk = k == 1 ? U1 : U2;
            const double theta = (k == 1 ? std::sqrt(omega_old * omega_new) : omega_new) / tau;
            const double c = 1.0 / std::sqrt(1.0 + theta * theta);
            tau = tau * theta * c;
            const double eta = c * c * alpha;
            const double f = theta_prev * theta_prev * eta_prev / alpha;
            for (int i = 0; i < N; ++i) D[i] = uk[i] + f * D[i];
            for (int i = 0; i < N; ++i) x[i] = x[i] + eta * D[i];
            ERR = tau * std::sqrt((double)(m + 2)) / tau0;
            ++m;
            theta_prev = theta;
            eta_prev = eta;
            if (NITER >= sy.ITCGNS || ERR <= sy.TLCGNS || std::isnan(ERR)) {
                from_iterate(sy, x);
                return;
            }
        }

        const double rho_new = dot(N, RT, W);
        if (rho_new == 0.0) break;  // breakdown: the next step length would be 0
        const double beta = rho_new / rho;
        for (int i = 0; i < N; ++i) U1[i] = W[i] + beta * U2[i];
        for (int i = 0; i < N; ++i) P[i] = U1[i] + beta * (U2[i] + beta * P[i]);
        op(sy, P, V);
        omega_old = omega_new;
        rho = rho_new;
    }
    from_iterate(sy, x);
}

}  // namespace nsk
}  // namespace nep
