// Run control: the run parameters of the parameter file, the time control of the step loop,
// constants, corner tables and the iteration totals.
#pragma once


namespace nep {

// Which of the two programs is running: the second one differs in a few input widths, texts and
// listing layouts.
enum class dialect { MAIN, ALT };

// The solver selectors ISOLV and ISOLVC from -10 to -14 hand the systems to PETSc (a Krylov
// method with a multigrid or column preconditioner, solvers/petsc.h); the values the parameter
// file otherwise allows (-5 and above) keep their solvers.
enum petsc_selector : int {
    PSOLV_DEFAULT = -10,        // the measured best of the four below
    PSOLV_BOOMERAMG = -11,      // hypre BoomerAMG
    PSOLV_GAMG = -12,           // PETSc's smoothed-aggregation multigrid
    PSOLV_COLUMNS = -13,        // block Jacobi by columns: every column of the mesh solved exactly
    PSOLV_COLUMN_COARSE = -14   // ICC(0) with a coarse problem of one unknown per column
};
inline bool petsc_solver(int selector) {
    return selector <= PSOLV_DEFAULT && selector >= PSOLV_COLUMN_COARSE;
}
// The selector a run on `procs` processes solves with: the parameter file's, or on several
// processes the PETSc default (-10) in place of a solver that runs on one process only (-5 to 3;
// a value no selector has is refused by the reader).
inline int run_selector(int selector, int procs) {
    return procs > 1 && selector >= -5 && !petsc_solver(selector) ? PSOLV_DEFAULT : selector;
}

struct control {
    dialect DIALECT = dialect::MAIN;

    // Run parameters (parameter file).
    int IFLOW = 0, ITRANS = 0;
    bool OSC_FLAG = false;
    double TETAF = 1.0, TETAC = 1.0;
    int LUMP = 0, LUMPC = 0;
    int ITMX1 = 0, ITMX2 = 0, ITMXC1 = 0, ITMXC2 = 0;
    double TOLNL = 0.0, TOLNLC = 0.0;
    int L2NORM = 0;
    double ERNLMX = 0.0;
    int ISOLV = 0, IRELAX = 0, ISOLVC = 0, IRELAXC = 0;
    // ISOLV and ISOLVC are the selectors the run solves with (run_selector); ISOLVD and ISOLVCD
    // those of the parameter file, which the listing echoes and a checkpoint holds.
    int ISOLVD = 0, ISOLVCD = 0;
    double OMEGA = 0.0, OMEGAC = 0.0;
    int ITCGSY = 0, ITCGNS = 0;
    double TLCGSY = 0.0, TLCGNS = 0.0;

    // Time control.
    double TIMEP = 0.0, TIME = 0.0, DELTAT = 0.0, DTMIN = 0.0, DTMAX = 0.0, TMAX = 0.0;
    double DTMAGA = 0.0, DTMAGM = 0.0, DTREDS = 0.0, DTREDM = 0.0;
    int NSTEP = 1;
    int ITER = 1, ITERC = 1;
    bool BKFLAG = true;
    int ISTATUS = -1;
    int CPLSTA = 0;                 // coupled status and step-size code
    double DIFMAX = 0.0;            // convergence measure of the last coupled iteration
    double OMEGAV = 1.0;            // relaxation factor of the concentrations
    bool ENDFLOW = false, ENDCPL = false;
    double DTFIRST = 0.0;           // first step size
    double DTSUM = 0.0, DTSMAL = 0.0, TSMAL = 0.0, DTLARG = 0.0, TLARG = 0.0;
    int NDONE = 0;                  // steps completed (and written)
    double TDONE = 0.0;             // the time they reached

    // A steady state reached by pseudo-transient continuation (run/timestep.h): implicit steps
    // in a pseudo-time, grown as the change per unit pseudo-time falls, up to the steady step.
    struct continuation {
        bool ASKED = false;         // --pseudo-transient: no direct steady solve first
        bool ARMED = false;         // a failed direct steady step goes on by continuation
        bool ON = false;            // the run is in pseudo-time
        double DTMIN = 0.0, DTMAX = 0.0;  // the deck's step bounds (the steady solve drops them)
        double RATE = 0.0;          // largest head change per unit pseudo-time of the last step
        int STEPS = 0;              // pseudo-time steps completed
        double DTOK = 0.0;          // the size of the last step that converged
        bool DONE = false;          // a pseudo-time step found the state steady
    } PTC;

    // First record of the flow boundary-condition file (potential-head values), as the first
    // pass reads it.
    bool POTBC = false;

    // Constants and corner tables.
    int HUGEI = 2147483647;
    double HUGER = 1.7e38;
    double TINYR = 1.7e-38;
    int IP3[4][4] = {};  // IP3[i][j], i, j = 1..3
    int IP4[5][5] = {};  // IP4[i][j], i, j = 1..4

    // Iteration totals.
    int ITUNS = 0, ITLIN = 0;       // nonlinear and linear flow iterations over the run
    int ITUNSC = 0, ITLINC = 0;     // the same for the coupled iteration
    int ITLINS = 0, ITLINSC = 0;    // linear iterations of the current step
    int ITLTRN = 0;                 // linear iterations of the last transport solve
    int NLSFAIL = 0;                // linear flow solves that reached their iteration limit
    int ITLSOL = 0;                 // linear iterations of the last flow solve
    bool LSFAIL = false;            // the last linear flow solve failed
    int NBKSTEP = 0;                // back-steps of the run
    double OMEGAP = 1.0;            // previous factor of variable relaxation

    // The optional nonlinear section of the parameter file (docs/solvers.md); the defaults are
    // the deck's own tolerances and step control.
    // FORCING EW: the tolerance of every linear flow solve from the nonlinear progress
    // (Eisenstat and Walker's second choice), bounded below by TLCGSY or TLCGNS.
    bool EWFORCE = false;
    double EWETA0 = 0.1, EWMAX = 0.9, EWGAMMA = 0.9, EWALPHA = 2.0;
    double EWETA = 0.0;             // the forcing term of the last solve
    double EWFN = 0.0;              // the residual norm of the last iteration
    // An update that meets TOLNL after a solve looser than EWCONV says little about how far the
    // iterate is from the solution: the iteration goes on with a solve at most that loose.
    double EWCONV = 0.1;
    bool EWLOOSE = false;
    // STEPS ITERATIONS: the next step from the iterations of the last two, for DTITER of them,
    // at most DTGROW times the last one.
    bool DTLOOK = false;
    int DTITER = 0;
    double DTGROW = 2.0;
    // LINESEARCH BACKTRACK: under Newton an update that does not lower the residual norm enough
    // (Armijo, by LSALPHA) is halved, at most LSCUTS times; LSCUT counts the cuts of the run.
    bool LSON = false;
    int LSCUTS = 4;
    double LSALPHA = 1.0e-4;
    int LSCUT = 0;
    int ITPREV = 0;                 // the iterations of the step before the last
};

}  // namespace nep
