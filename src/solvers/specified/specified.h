// The specified solvers behind the linear system (solvers/linsys.h): the symmetric conjugate
// gradients of the Picard flow system (SYMSLV), and the nonsymmetric iterations and the direct
// solver of the Newton flow system and of transport (NSYSLV). They impose the prescribed rows by
// a penalty: for the length of the solve the diagonal of every prescribed row holds the penalty
// HUGER * 1e-9 and its right-hand side the value times the penalty, the rest of the row as
// assembled; the diagonals are put back after it, bit for bit.
#pragma once

#include "solvers/linsys.h"

namespace nep {

// The penalty family: the assembled diagonals of the prescribed rows, kept for as many rows as
// the system can have prescribed.
class penalty_solver : public system_solver {
public:
    explicit penalty_solver(int capacity);
    double prescribed_rhs(const linear_system& s, double v) const override;

protected:
    // The penalty on the prescribed rows of s for the life of the object.
    class held {
    public:
        held(penalty_solver& p, linear_system& s);
        ~held();
        held(const held&) = delete;
        held& operator=(const held&) = delete;

    private:
        penalty_solver& p_;
        linear_system& s_;
    };

private:
    arr1<double> diag_;
};

// The conjugate gradients of the symmetric system, with the factor in `fac` and the vectors in
// `work` (at least 5 N); `plan`, when given, serves the triangular solves of large meshes.
class symmetric_cg : public penalty_solver {
public:
    symmetric_cg(int capacity, arr1<double>* fac, arr1<double>* work, trisolve_plan* plan)
        : penalty_solver(capacity), fac_(fac), work_(work), plan_(plan) {}
    void solve(ounit& lst, ounit& out, linear_system& s, arr1<double>& x, int& NITER,
               int& IER) override;

private:
    arr1<double>* fac_;
    arr1<double>* work_;
    trisolve_plan* plan_;
};

// The iterations of the selector (-5 to 2) or the direct solver (3 and up) on full storage.
class nonsymmetric_solver : public penalty_solver {
public:
    using penalty_solver::penalty_solver;
    void solve(ounit& lst, ounit& out, linear_system& s, arr1<double>& x, int& NITER,
               int& IER) override;
};

}  // namespace nep
