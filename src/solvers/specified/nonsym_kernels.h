// Kernels shared by the nonsymmetric Krylov iterations: products with A in full storage, the
// triangular sweeps with the incomplete factors, the preconditioned operator, dot products and the
// residual measure. Internal to the solvers.
//
// Vectors are plain pointers to N values, node i at v[i-1]; pattern positions and columns keep
// their 1-based values (row i occupies positions ia[i-1] .. ia[i]-1, entry k at ja[k-1], a[k-1]).
#pragma once

#include <cmath>

#include "base/units.h"

namespace nep {
namespace nsk {

// How the iteration sees the system.
enum class precond {
    SPLIT,     // L^-1 A U^-1 with the incomplete factors; the iterate is y = U x
    DIAGONAL,  // D^-1 A, D the diagonal of A; the iterate is x
    NONE       // A; the iterate is x
};

// One system and its preconditioning, as the iterations see it.
struct system {
    int N = 0;
    const int* ia = nullptr;    // N+1 row pointers
    const int* ja = nullptr;    // columns
    const int* irow = nullptr;  // row of every entry
    const double* a = nullptr;  // matrix values
    const double* lu = nullptr; // incomplete factors (same pattern)
    precond mode = precond::SPLIT;
    const double* dinv = nullptr;  // DIAGONAL: reciprocals of the diagonal
    double* sc = nullptr;          // scratch vector of the operator
    int NP = 0;                    // prescribed nodes, left out of the residual measure
    const int* nodes = nullptr;
    double bn = 0.0;               // sum of b^2 over the other nodes
    int ITCGNS = 0;
    double TLCGNS = 0.0;
};

inline void copy_n(int n, const double* u, double* v) {
    for (int i = 0; i < n; ++i) v[i] = u[i];
}

// y = A x, row by row (IA, JA). y must not share storage with x.
inline void amul_row(const system& s, const double* x, double* y) {
    const int* ia = s.ia;
    const int* ja = s.ja;
    const double* a = s.a;
    for (int i = 0; i < s.N; ++i) {
        double sum = 0.0;
        for (int k = ia[i] - 1; k < ia[i + 1] - 1; ++k) sum += a[k] * x[ja[k] - 1];
        y[i] = sum;
    }
}

// y = A x in coordinate form (IROW, JA). y must not share storage with x.
inline void amul_coo(const system& s, const double* x, double* y) {
    for (int i = 0; i < s.N; ++i) y[i] = 0.0;
    const int nz = s.ia[s.N] - 1;
    for (int k = 0; k < nz; ++k) y[s.irow[k] - 1] += s.a[k] * x[s.ja[k] - 1];
}

// z = L^-1 r, forward in storage order; z may be r itself.
inline void lsolve(const system& s, const double* r, double* z) {
    const int* ia = s.ia;
    const int* ja = s.ja;
    const double* lu = s.lu;
    for (int i = 0; i < s.N; ++i) {
        double sum = 0.0;
        int k = ia[i] - 1;
        for (; ja[k] - 1 < i; ++k) sum += lu[k] * z[ja[k] - 1];
        z[i] = (r[i] - sum) / lu[k];  // ja[k] is the diagonal (every row has one)
    }
}

// z = U^-1 z' (unit diagonal), backward from the last row; z may be z' itself.
inline void usolve(const system& s, const double* zp, double* z) {
    const int* ia = s.ia;
    const int* ja = s.ja;
    const double* lu = s.lu;
    z[s.N - 1] = zp[s.N - 1];
    for (int i = s.N - 2; i >= 0; --i) {
        double sum = 0.0;
        for (int k = ia[i + 1] - 2; ja[k] - 1 > i; --k) sum += lu[k] * z[ja[k] - 1];
        z[i] = zp[i] - sum;
    }
}

// y = U x (unit diagonal); y may be x itself (each row reads only later unknowns).
inline void umul(const system& s, const double* x, double* y) {
    const int* ia = s.ia;
    const int* ja = s.ja;
    const double* lu = s.lu;
    for (int i = 0; i < s.N; ++i) {
        double sum = 0.0;
        for (int k = ia[i + 1] - 2; ja[k] - 1 > i; --k) sum += lu[k] * x[ja[k] - 1];
        y[i] = x[i] + sum;
    }
}

// out = Op(in): L^-1 A U^-1 in, D^-1 A in, or A in. out must not share storage with in, and
// neither may be the scratch vector.
inline void op(const system& s, const double* in, double* out) {
    switch (s.mode) {
    case precond::SPLIT:
        usolve(s, in, s.sc);
        amul_row(s, s.sc, out);
        lsolve(s, out, out);
        break;
    case precond::DIAGONAL:
        amul_row(s, in, out);
        for (int i = 0; i < s.N; ++i) out[i] *= s.dinv[i];
        break;
    case precond::NONE:
        amul_row(s, in, out);
        break;
    }
}

// v = Op(v), through the scratch vector.
inline void op_inplace(const system& s, double* v) {
    if (s.mode == precond::SPLIT) {
        usolve(s, v, s.sc);
        amul_row(s, s.sc, v);
        lsolve(s, v, v);
    } else {
        copy_n(s.N, v, s.sc);
        op(s, s.sc, v);
    }
}

// r = preconditioned r, in place (L^-1 r, D^-1 r, or r).
inline void precondition(const system& s, double* r) {
    if (s.mode == precond::SPLIT) {
        lsolve(s, r, r);
    } else if (s.mode == precond::DIAGONAL) {
        for (int i = 0; i < s.N; ++i) r[i] *= s.dinv[i];
    }
}

// Carries x into the unknowns of the iteration (y = U x for the split form), in place.
inline void to_iterate(const system& s, double* x) {
    if (s.mode == precond::SPLIT) umul(s, x, x);
}

// Carries the iterate back (x = U^-1 y for the split form), in place.
inline void from_iterate(const system& s, double* y) {
    if (s.mode == precond::SPLIT) usolve(s, y, y);
}

// r = b - A x in row form.
inline void residual(const system& s, const double* b, const double* x, double* r) {
    amul_row(s, x, r);
    for (int i = 0; i < s.N; ++i) r[i] = b[i] - r[i];
}

inline double dot(int n, const double* u, const double* v) {
    double sum = 0.0;
    for (int i = 0; i < n; ++i) sum += u[i] * v[i];
    return sum;
}

// Sets the entries of the prescribed nodes to 0.
inline void zero_prescribed(const system& s, double* r) {
    for (int k = 0; k < s.NP; ++k) r[s.nodes[k] - 1] = 0.0;
}

// The residual measure of a vector whose prescribed entries are already 0 (or that is measured
// over all nodes): sqrt(rr / bn), or the root mean square when bn is not above `floor`.
inline double measure(const system& s, const double* r, double floor = 0.0) {
    const double rr = dot(s.N, r, r);
    return s.bn > floor ? std::sqrt(rr / s.bn) : std::sqrt(rr / s.N);
}

// True when every entry of r is exactly 0.
inline bool all_zero(int n, const double* r) {
    for (int i = 0; i < n; ++i)
        if (r[i] != 0.0) return false;
    return true;
}

// The start of every method, for the residual r of the initial guess (already preconditioned):
// forms the residual measure of the initial guess in `tmp` (prescribed entries left out, or, with
// all_nodes, over every node) and tells whether that residual is exactly 0, in which case the
// initial guess solves the system and no iteration is done.
inline bool exact_start(const system& s, const double* r, double* tmp, bool all_nodes, double& ERR) {
    copy_n(s.N, r, tmp);
    if (!all_nodes) zero_prescribed(s, tmp);
    ERR = measure(s, tmp);
    return all_zero(s.N, tmp);
}

// The methods. `v` holds the method's work vectors, N values each, one after the other; x holds
// the initial guess on entry and the solution on return. NITER and ERR are the iterations done
// and the last residual measure. A breakdown (a zero denominator) ends the iteration with the
// last measure, which the caller's tolerance test then judges.
void bicgstab(const system& s, const double* b, double* x, double* v, int& NITER, double& ERR);
void tfqmr(const system& s, ounit& lst, bool upper, const double* b, double* x, double* v,
           int& NITER, double& ERR);
void gramrb(const system& s, const double* b, double* x, double* v, int& NITER, double& ERR);
void gcrk(const system& s, const double* b, double* x, double* v, int& NITER, double& ERR);

}  // namespace nsk
}  // namespace nep
