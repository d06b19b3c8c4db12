#include "run/cputime.h"

#include <algorithm>
#include <vector>

#include "base/format.h"
#include "base/procs.h"
#include "base/stop.h"

namespace nep {

void cpu_slowest(cpustat& cpu) {
    if (proc_count() == 1) return;
    float* f[] = {&cpu.CPUTOT, &cpu.CPUNL, &cpu.CPUCPL};
    double* d[] = {&cpu.PSF.TSETUP, &cpu.PSF.TSOLVE, &cpu.PST.TSETUP, &cpu.PST.TSOLVE};
    std::vector<double> v;
    for (float* x : f) v.push_back(*x);
    for (int k = 0; k < 10; ++k) v.push_back(cpu.FT[k]);
    for (int k = 0; k < 10; ++k) v.push_back(cpu.TT[k]);
    for (double* x : d) v.push_back(*x);
    proc_max(v.data(), (long)v.size());
    std::size_t n = 0;
    for (float* x : f) *x = (float)v[n++];
    for (int k = 0; k < 10; ++k) cpu.FT[k] = (float)v[n++];
    for (int k = 0; k < 10; ++k) cpu.TT[k] = (float)v[n++];
    for (double* x : d) *x = v[n++];
}

void cputime(control& ctl, iofiles& io, cpustat& cpu) {
    ounit& lst = io.out(6);
    const float total = cpu.CPUTOT;
    if (total == 0.0f) {
        wfmt(lst, "(/,5X,'STOP   (TOT CPU TIME = 0)               =  ',F8.2)");
        wfmt(io.STDOUT, "(/,5X,'STOP   (TOT CPU TIME = 0)               =  ',F8.2)");
        stop_run(EXIT_ERROR);
    }
    // Percentages of the total, formed in single precision as the times are.
    auto p = [total](float x) { return x / total * 100.0f; };
    const bool coupled = ctl.ITRANS != 0;
    if (!coupled) {
        const float over = total - cpu.CPUNL;
        wfmt(lst, "(//,1X,' TOT CPU FOR THE SIMULATION            =  ',F8.2,"
                  "' SECONDS  ',F6.2,' %',/,"
                  "1X,' TOT CPU FOR NONLINEAR FLOW ITERAT.    =  ',F8.2,"
                  "' SECONDS  ',F6.2,' %',/,"
                  "1X,' TOT CPU FOR OVERHEAD (SEE CODE DESC.) =  ',F8.2,"
                  "' SECONDS  ',F6.2,' %')",
             total, 100.0f, cpu.CPUNL, p(cpu.CPUNL), over, p(over));
    } else {
        const float over = total - cpu.CPUCPL;
        wfmt(lst, "(//,1X,' TOT CPU FOR THE SIMULATION            =  ',F8.2,"
                  "' SECONDS  ',F6.2,' %',/,"
                  "1X,' TOT CPU FOR COUPLED SYSTEM ITERAT.    =  ',F8.2,"
                  "' SECONDS  ',F6.2,' %',/,"
                  "1X,'    (OF WHICH ', F8.2, ' SECONDS FOR NONLINEAR FLOW ITERAT ',"
                  "F6.2,' %)',/,"
                  "1X,' TOT CPU FOR OVERHEAD (SEE CODE DESC.) =  ',F8.2,"
                  "' SECONDS  ',F6.2,' %')",
             total, 100.0f, cpu.CPUCPL, p(cpu.CPUCPL), cpu.CPUNL, p(cpu.CPUNL), over, p(over));
    }
    const float* FT = cpu.FT;
    wfmt(lst, "( /,1X,' TOT CPU FOR UNSAT CHARACTERISTICS          =  ',F8.2,"
              "' SECONDS  ',F6.2,' %',/,"
              "1X,' TOT CPU FOR INIT. OF FLOW SYSTEM MATRICES  =  ',F8.2,"
              "' SECONDS  ',F6.2,' %',/,"
              "1X,' TOT CPU FOR LOCAL FLOW SYSTEM ASSEMBLY     =  ',F8.2,"
              "' SECONDS  ',F6.2,' %',/,"
              "1X,' TOT CPU FOR FLOW RHS CALCULATION W/O BC''S  =  ',F8.2,"
              "' SECONDS  ',F6.2,' %',/,"
              "1X,' TOT CPU FOR FLOW GLOBAL LHS SYSTEM MATRIX  =  ',F8.2,"
              "' SECONDS  ',F6.2,' %',/,"
              "1X,' TOT CPU FOR FLOW BC CONTRIBUTIONS TO RHS   =  ',F8.2,"
              "' SECONDS  ',F6.2,' %',/,"
              "1X,' TOT CPU FOR FLOW LINEAR SOLVER & RESIDUAL  =  ',F8.2,"
              "' SECONDS  ',F6.2,' %')",
         FT[1], p(FT[1]), FT[2], p(FT[2]), FT[3], p(FT[3]), FT[4], p(FT[4]), FT[5], p(FT[5]),
         FT[6], p(FT[6]), FT[7], p(FT[7]));
    float fsum = 0.0f;
    for (int i = 1; i <= 7; ++i) fsum += FT[i];
    wfmt(lst, "("
              "1X,'---------------------------------------------------------------------------',/,"
              "' SUM OF FLOW TIME VEC(1:7)                   =  ',F8.2,"
              "' SECONDS  ',F6.2,' %')",
         fsum, p(fsum));
    const float asol = FT[3] + FT[7];
    wfmt(lst, "( /,1X,' TOT CPU FOR ASSEMB. & SOLUT. FLOW. EQ.      =  ',F8.2,"
              "' SECONDS  ',F6.2,' %',/,"
              "1X,' TOT CPU FOR FLOW MASS BALANCE CALCULATION   =  ',F8.2,"
              "' SECONDS  ',F6.2,' %')",
         asol, p(asol), FT[8], p(FT[8]));
    if (coupled) {
        const float* TT = cpu.TT;
        wfmt(lst, "( /,1X,' TOT CPU FOR INIT. OF TRANSP. SYSTEM MATRICES   =  ',F8.2,"
                  "' SECONDS  ',F6.2,' %',/,"
                  "1X,' TOT CPU FOR LOCAL TRANSP. SYSTEM ASSEMBLY      =  ',F8.2,"
                  "' SECONDS  ',F6.2,' %',/,"
                  "1X,' TOT CPU FOR TRANSP. RHS CALCULATION W/O BC''S   =  ',F8.2,"
                  "' SECONDS  ',F6.2,' %',/,"
                  "1X,' TOT CPU FOR TRANSP. GLOBAL LHS SYSTEM MATRIX   =  ',F8.2,"
                  "' SECONDS  ',F6.2,' %',/,"
                  "1X,' TOT CPU FOR TRANSP. BC CONTRIBUTIONS TO RHS    =  ',F8.2,"
                  "' SECONDS  ',F6.2,' %',/,"
                  "1X,' TOT CPU FOR TRANSP. LINEAR SOLVER & RESIDUAL   =  ',F8.2,"
                  "' SECONDS  ',F6.2,' %')",
             TT[1], p(TT[1]), TT[2], p(TT[2]), TT[3], p(TT[3]), TT[4], p(TT[4]), TT[5], p(TT[5]),
             TT[6], p(TT[6]));
        float tsum = 0.0f;
        for (int i = 1; i <= 6; ++i) tsum += TT[i];
        wfmt(lst, "("
                  "1X,'-------------------------------------------------------------------------------',/,"
                  "' SUM OF TRANSP TIME VEC(1:7)                     =  ',F8.2,"
                  "' SECONDS  ',F6.2,' %')",
             tsum, p(tsum));
        const float tsol = TT[2] + TT[6];
        wfmt(lst, "(/,1X,' TOT CPU FOR ASSEMB. & SOLUT. TRANSP. EQ.     =  ',F8.2,"
                  "' SECONDS  ',F6.2,' %',/,"
                  "1X,' TOT CPU FOR TRANSP MASS BALANCE CALCULATION  =  ',F8.2,"
                  "' SECONDS  ',F6.2,' %')",
             tsol, p(tsol), TT[7], p(TT[7]));
    }
    const float nstep = (float)ctl.NSTEP;
    wfmt(lst, "( /,1X,' TOT # OF TIME STEPS                   =  ',I8,/,"
              "1X,' SMALLEST TIME STEP SIZE               =  ',1PE11.3,"
              "'  AT TIME ',1PE11.3,/,"
              "1X,' LARGEST  TIME STEP SIZE               =  ',1PE11.3,"
              "'  AT TIME ',1PE11.3,/,"
              "1X,' AVERAGE  TIME STEP SIZE               =  ',1PE11.3,/,"
              "1X,' TOT CPU TIME / (# OF TIME STEPS)      =  ',1PE11.3,"
              "' SECONDS ')",
         ctl.NSTEP, ctl.DTSMAL, ctl.TSMAL, ctl.DTLARG, ctl.TLARG, ctl.DTSUM / (double)ctl.NSTEP,
         total / nstep);
    // Iteration ratios are formed in single precision from the integer counts.
    auto block = [&](const char* fmt, int nl, int lin, float itime) {
        const float fnl = (float)nl, flin = (float)lin;
        wfmt(lst, fmt, nl, lin, fnl / nstep, flin / nstep, flin / fnl, itime / nstep, itime / fnl,
             total / fnl);
    };
    block("( /,1X,' TOT # OF NONLIN ITER FOR FLOW EQ        =  ',I8,/,"
          "1X,' TOT # OF LIN ITER FOR FLOW EQ           =  ',I8,/,"
          "'     ( =  0 IF ISOLV = 3)',/,"
          "1X,' AVG NL ITER FOR FLOW EQ  / TIME STEP    =  ',F8.2,/,"
          "1X,' AVG LIN ITER FOR FLOW EQ / TIME STEP    =  ',F8.2,/,"
          "'     ( =  0 IF ISOLV = 3)',/,"
          "1X,' AVG LIN ITER FOR FLOW EQ / NONLIN ITR   =  ',F8.2,/,"
          "'     ( =  0 IF ISOLV = 3)',/,"
          "1X,' FLOW NONLIN ITER TIME / TIME STEP       =  ',F8.2,"
          "' SECONDS  ',/,"
          "1X,' FLOW NONLIN ITER TIME / NONLIN STEP     =  ',F8.2,"
          "' SECONDS  ',/,"
          "1X,' TOT SIMULATION TIME   / NONLIN STEP     =  ',F8.2,"
          "' SECONDS  ')",
          ctl.ITUNS, ctl.ITLIN, cpu.CPUNL);
    // Beyond the specified statistics: the solves handed to PETSc, their preconditioner set-ups
    // (a retry is the set-up that redid a solve whose reused preconditioner failed) and times.
    auto petsc = [&](const char* which, const petsc_stat& st) {
        const float solves = (float)std::max(st.NSOLVE, 1);
        wfmt(lst, "( /,1X,' PETSC ',A,' SOLVER: ',A,/,"
                  "1X,' TOT # OF PETSC SOLVES                 =  ',I8,/,"
                  "1X,' TOT # OF PRECONDITIONER SETUPS        =  ',I8,/,"
                  "1X,'    (OF WHICH AFTER A FAILED SOLVE)    =  ',I8,/,"
                  "1X,' TOT # OF KRYLOV ITERATIONS            =  ',I8,/,"
                  "1X,' AVG KRYLOV ITER / SOLVE               =  ',F8.2,/,"
                  "1X,' TOT TIME FOR PRECONDITIONER SETUPS    =  ',F8.2,' SECONDS  ',/,"
                  "1X,' TOT TIME FOR KRYLOV SOLVES            =  ',F8.2,' SECONDS  ')",
             which, st.TEXT, st.NSOLVE, st.NSETUP, st.NRETRY, (int)st.NITER,
             (float)st.NITER / solves, (float)st.TSETUP, (float)st.TSOLVE);
    };
    if (ctl.LSON) {
        wfmt(lst, "( /,1X,' TOT # OF LINE-SEARCH HALVINGS FOR FLOW  =  ',I8)", ctl.LSCUT);
    }
    if (petsc_solver(ctl.ISOLV)) petsc("FLOW", cpu.PSF);
    if (coupled && petsc_solver(ctl.ISOLVC)) petsc("TRANSPORT", cpu.PST);
    if (coupled) {
        block("( /,1X,' TOT # OF NONLIN ITER FOR COUPLED SYS    =  ',I8,/,"
              "1X,' TOT # OF LIN ITER FOR COUPLED SYS       =  ',I8,/,"
              "'     ( =  0 IF ISOLV = 3)',/,"
              "1X,' AVG NL ITER FOR CPLD SYS / TIME STEP    =  ',F8.2,/,"
              "1X,' AVG LIN ITER FOR CPLD SYS / TIME STEP   =  ',F8.2,/,"
              "'     ( =  0 IF ISOLV = 3)',/,"
              "1X,' AVG LIN ITER FOR CPLD SYS / NONLIN ITR  =  ',F8.2,/,"
              "'     ( =  0 IF ISOLV = 3)',/,"
              "1X,' CPLD SYS NONLIN ITER TIME / TIME STEP   =  ',F8.2,"
              "' SECONDS  ',/,"
              "1X,' CPLD SYS NONLIN ITER TIME / NONLIN STEP =  ',F8.2,"
              "' SECONDS  ',/,"
              "1X,' TOT SIMULATION TIME / NONLIN STEP       =  ',F8.2,"
              "' SECONDS  ')",
              ctl.ITUNSC, ctl.ITLINC, cpu.CPUCPL);
    }
}

}  // namespace nep
