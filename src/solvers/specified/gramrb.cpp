// The minimal-residual iterations on the split system L^-1 A U^-1 y = L^-1 b: GRAMRB (one
// direction, the residual itself) and GCRK(5), ORTHOMIN with five stored directions.
#include "solvers/specified/nonsym_kernels.h"

namespace nep {
namespace nsk {

namespace {

// r^ = L^-1 (b - A x) in coordinate form, and x carried into the iterate y = U x.
void start(const system& sy, const double* b, double* x, double* R) {
    amul_coo(sy, x, R);
    for (int i = 0; i < sy.N; ++i) R[i] = b[i] - R[i];
    precondition(sy, R);
    to_iterate(sy, x);
}

}  // namespace

// Vectors: r^, q.
void gramrb(const system& sy, const double* b, double* x, double* w, int& NITER, double& ERR) {
    const int N = sy.N;
    double* R = w;
    double* Q = w + N;

    start(sy, b, x, R);
    if (exact_start(sy, R, Q, false, ERR)) {
        NITER = 0;
        from_iterate(sy, x);
        return;
    }
    NITER = 1;
    for (;;) {
        op(sy, R, Q);
        const double qq = dot(N, Q, Q);
        if (qq == 0.0) break;  // Op r^ = 0 with r^ not 0: a singular operator
        const double alpha = dot(N, Q, R) / qq;
        for (int i = 0; i < N; ++i) x[i] = x[i] + alpha * R[i];
        for (int i = 0; i < N; ++i) R[i] = R[i] - alpha * Q[i];
        zero_prescribed(sy, R);
        ERR = measure(sy, R);
        if (ERR <= sy.TLCGNS || NITER >= sy.ITCGNS || std::isnan(ERR)) break;
        ++NITER;
    }
    from_iterate(sy, x);
}

// Vectors: r^, z (Op r^, then the next direction), and five slots of (p, q = Op p). The slot of
// iteration n is n mod 5 (5 for a multiple of 5): each new direction is made orthogonal, through
// its image, to the directions of the current cycle of five only, and a cycle starts afresh after
// every fifth iteration. The iterated residual is measured over every node and never zeroed.
void gcrk(const system& sy, const double* b, double* x, double* w, int& NITER, double& ERR) {
    const int N = sy.N;
    const int K = 5;
    double* R = w;
    double* Z = w + N;
    double* PS[K];
    double* QS[K];
    double qq[K];
    for (int j = 0; j < K; ++j) {
        PS[j] = w + (long)(2 + j) * N;
        QS[j] = w + (long)(2 + K + j) * N;
    }

    start(sy, b, x, R);
    if (exact_start(sy, R, Z, true, ERR)) {
        NITER = 0;
        from_iterate(sy, x);
        return;
    }
    copy_n(N, R, Z);  // the first direction is r^
    NITER = 1;
    for (;;) {
        const int j = NITER % K == 0 ? K : NITER % K;  // slot 1..5
        double* Pj = PS[j - 1];
        double* Qj = QS[j - 1];
        copy_n(N, Z, Pj);
        op(sy, Pj, Qj);
        qq[j - 1] = dot(N, Qj, Qj);
        if (qq[j - 1] == 0.0) break;  // a singular operator
        const double alpha = dot(N, Qj, R) / qq[j - 1];
        for (int i = 0; i < N; ++i) R[i] = R[i] - alpha * Qj[i];
        for (int i = 0; i < N; ++i) x[i] = x[i] + alpha * Pj[i];
        op(sy, R, Z);
        double beta[K];
        for (int s = 0; s < j; ++s) beta[s] = -dot(N, QS[s], Z) / qq[s];
        for (int i = 0; i < N; ++i) {
            double p = R[i];
            for (int s = 0; s < j; ++s) p += beta[s] * PS[s][i];
            Z[i] = p;
        }
        ERR = measure(sy, R);
        if (ERR <= sy.TLCGNS || NITER >= sy.ITCGNS || std::isnan(ERR)) break;
        ++NITER;
    }
    from_iterate(sy, x);
}

}  // namespace nsk
}  // namespace nep
