// CPU statistics: the times of the whole run, of the nonlinear and coupled iterations, and of
// every phase of the flow and transport steps.
#pragma once


namespace nep {

// The solves of one system handed to PETSc: solves, preconditioner set-ups (those that redid a
// solve whose reused preconditioner failed among them), Krylov iterations, and the wall time of
// the set-ups and of the Krylov solves. TEXT names the method and preconditioner in use.
struct petsc_stat {
    int NSOLVE = 0, NSETUP = 0, NRETRY = 0;
    long NITER = 0;
    double TSETUP = 0.0, TSOLVE = 0.0;
    char TEXT[64] = {};
};

struct cpustat {
    float CPUTOT = 0.0f;   // whole simulation
    float CPUNL = 0.0f;    // flow nonlinear iterations
    float CPUCPL = 0.0f;   // coupled iterations
    float FT[10] = {};     // flow phase times, 1..9
    float TT[10] = {};     // transport phase times, 1..9
    petsc_stat PSF, PST;   // the flow and transport systems solved by PETSc
};

}  // namespace nep
