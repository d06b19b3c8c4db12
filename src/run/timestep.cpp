#include "run/timestep.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/format.h"
#include "base/interrupt.h"
#include "base/stop.h"

namespace nep {

void timinit(control& ctl) {
    ctl.PTC.DTMIN = ctl.DTMIN;
    ctl.PTC.DTMAX = ctl.DTMAX;
    const bool steady = ctl.DELTAT >= 1.0e10;
    if (steady) {  // steady-state solve
        ctl.TMAX = 0.0;
        ctl.TETAF = 1.0;
        ctl.DELTAT = ctl.HUGER;
        ctl.DTMIN = ctl.HUGER;
        ctl.DTMAX = ctl.HUGER;
    }
    if (ctl.DELTAT > ctl.DTMAX) ctl.DTMAX = ctl.DELTAT;
    if (ctl.DTMIN >= ctl.DELTAT) {
        ctl.DELTAT = ctl.DTMIN;
        ctl.BKFLAG = false;
    } else {
        ctl.BKFLAG = true;
    }
    if (ctl.DELTAT > ctl.TMAX) ctl.TMAX = ctl.DELTAT;
    ctl.TIME = ctl.TIMEP + ctl.DELTAT;
    ctl.DTSUM = 0.0;
    ctl.DTLARG = 0.0;
    ctl.TLARG = ctl.TIME;
    ctl.DTSMAL = ctl.HUGER;
    ctl.TSMAL = ctl.TIME;
    ctl.DTFIRST = ctl.DELTAT;
    ctl.NDONE = 0;
    ctl.TDONE = ctl.TIMEP;
    // A flow-only steady solve that does not converge goes on by continuation: its failure
    // then back-steps (to the pseudo-time steps) instead of ending the run.
    ctl.PTC.ARMED = steady && ctl.ITRANS == 0;
    if (ctl.PTC.ARMED) ctl.BKFLAG = true;
}

void ptc_start(control& ctl, iofiles& io) {
    const double dt0 = ctl.PTC.DTMIN;
    if (!(dt0 > 0.0) || !(dt0 < kSteadyStep)) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "DTMIN = %.10g: the continuation to a steady state takes DTMIN as its first "
                      "pseudo-time step and its smallest one (give 0 < DTMIN < 1e10)",
                      dt0);
        input_error(io.in(5).role() + " '" + io.in(5).name() + "': " + text);
    }
    ctl.PTC.ON = true;
    ctl.PTC.ARMED = false;
    ctl.PTC.RATE = 0.0;
    ctl.PTC.STEPS = 0;
    ctl.PTC.DTOK = dt0;
    ctl.PTC.DONE = false;
    ctl.TMAX = ctl.HUGER;
    ctl.DTMIN = dt0;
    ctl.DTMAX = kSteadyStep;
    ctl.DELTAT = dt0;
    ctl.TIME = ctl.TIMEP + ctl.DELTAT;
    ctl.BKFLAG = false;
    ctl.ITER = 1;
    ctl.ITLINS = 0;
    ctl.DTFIRST = ctl.DELTAT;
    ctl.DTSMAL = ctl.HUGER;
    ctl.TSMAL = ctl.TIME;
    ctl.TLARG = ctl.TIME;
    wfmt(io.out(6), "(/,' STEADY STATE BY PSEUDO-TRANSIENT CONTINUATION:',"
                    "' FIRST PSEUDO-TIME STEP',1PE12.4,', STEADY STEP',1PE12.4,/)",
         ctl.DELTAT, kSteadyStep);
}

void ptc_backstep(control& ctl, double tried) {
    control::continuation& c = ctl.PTC;
    // A steady step that failed is not tried again: the continuation ends on a steady step of
    // pseudo-time instead.
    if (tried >= kSteadyStep) ctl.DTMAX = kSteadyStep / kGrowthMax;
    // Back to the size of the last step that converged, rather than halving down to it.
    if (ctl.DELTAT > c.DTOK) {
        ctl.DELTAT = c.DTOK;
        ctl.BKFLAG = ctl.DELTAT > ctl.DTMIN;
        ctl.TIME = ctl.TIMEP + ctl.DELTAT;
    }
}

bool ptc_steady(const control& ctl, double change, double in, double out, double dstore) {
    const double through = 0.5 * (std::fabs(in) + std::fabs(out));
    return change <= ctl.TOLNL && through > 0.0 && std::fabs(dstore) <= kSteadyStorage * through;
}

void ptc_step(control& ctl, double change, bool steady) {
    control::continuation& c = ctl.PTC;
    c.STEPS += 1;
    const double rate = change / ctl.DELTAT;
    double g;
    c.DTOK = ctl.DELTAT;
    if (ctl.ITER >= ctl.ITMX2) {
        // The iterations of the step bound it, as they do a transient run's.
        g = kGrowthMin;
    } else if (ctl.ITER >= ctl.ITMX1) {
        g = kGrowthHeld;
    } else {
        // Switched evolution relaxation: the step grows as the change per unit time falls, and
        // at least by kGrowthEasy after a step that converged easily (a slow recession, whose
        // rate hardly falls, would else hold the step).
        g = c.RATE > 0.0 ? std::min(kGrowthMax, std::max(kGrowthEasy, c.RATE / rate)) : kGrowthMax;
    }
    c.RATE = rate;
    ctl.TIMEP = ctl.TIME;
    ctl.DELTAT = steady ? kSteadyStep : std::min(ctl.DTMAX, std::max(ctl.DTMIN, ctl.DELTAT * g));
    ctl.TIME = ctl.TIMEP + ctl.DELTAT;
    ctl.BKFLAG = ctl.DELTAT > ctl.DTMIN;
    ctl.NSTEP += 1;
    ctl.ITER = 1;
    ctl.ITLINS = 0;
}

void advance_time(const dimensions& dim, control& ctl, const iofiles& io) {
    ctl.TIMEP = ctl.TIME;
    const double t = ctl.TIME + ctl.DELTAT;
    if (t > ctl.TMAX || (ctl.DELTAT * ctl.DTREDM - ctl.DTREDS) * 0.5 > std::fabs(ctl.TMAX - t)) {
        // The rest of the run would be shorter than half a reduced step: stretch to the end.
        ctl.DELTAT = ctl.TMAX - ctl.TIME;
        ctl.TIME = ctl.TMAX;
    } else if (dim.NPRT > 0 && io.KPRT <= dim.NPRT && t > io.TIMPRT(io.KPRT)) {
        // Cut to land exactly on the next output time.
        ctl.DELTAT = io.TIMPRT(io.KPRT) - ctl.TIME;
        ctl.TIME = io.TIMPRT(io.KPRT);
    } else {
        ctl.TIME = t;
    }
    // A step that goes back, by zero or to no number would never reach the end of the run.
    if (!(ctl.DELTAT > 0.0) || !std::isfinite(ctl.DELTAT) || !(ctl.TIME > ctl.TIMEP) ||
        !std::isfinite(ctl.TIME)) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "the next time step would not advance the run (TIME = %.10g after %.10g, "
                      "DELTAT = %.10g); the run stops",
                      ctl.TIME, ctl.TIMEP, ctl.DELTAT);
        input_error(text);
    }
}

namespace {

// A step cut short to land on an output time can be far below DTMIN (the rounding of the times
// leaves a few 1e-14); when the decision does not grow it (ITMX1 <= 1, or growth constants that
// do not grow), every later step keeps that size and the run never reaches its end: such a
// step is raised to DTMIN, as a reduced one is.
void floor_kept_step(control& ctl, double before) {
    if (!(ctl.DELTAT > before) && ctl.DELTAT < ctl.DTMIN) ctl.DELTAT = ctl.DTMIN;
}

}  // namespace

void tstepc(const dimensions& dim, control& ctl, const iofiles& io) {
    const double before = ctl.DELTAT;
    if (ctl.CPLSTA == 1) {
        ctl.DELTAT = ctl.DELTAT * ctl.DTMAGM + ctl.DTMAGA;
        if (ctl.DELTAT > ctl.DTMAX) ctl.DELTAT = ctl.DTMAX;
    } else if (ctl.CPLSTA == 3) {
        ctl.DELTAT = ctl.DELTAT * ctl.DTREDM - ctl.DTREDS;
        if (ctl.DELTAT < ctl.DTMIN) ctl.DELTAT = ctl.DTMIN;
    }
    floor_kept_step(ctl, before);
    advance_time(dim, ctl, io);
    ctl.NSTEP += 1;
    ctl.ITLINS = 0;
    ctl.ITLINSC = 0;
    ctl.ITER = 1;
    ctl.ITERC = 1;
}

double lookahead_factor(int iter, int iterprev, int target, double grow, double shrink) {
    // The trend of the last two steps carried one step on: a step whose iterations rose is
    // taken to need as many more in the next one.
    const int ahead = iterprev > 0 ? iter + std::max(0, iter - iterprev) : iter;
    const double f = (double)target / (double)std::max(1, ahead);
    return std::fmin(grow, std::fmax(shrink, f));
}

void tstepf(const dimensions& dim, control& ctl, const iofiles& io) {
    const double before = ctl.DELTAT;
    if (ctl.DTLOOK && ctl.ITER < ctl.ITMX2) {
        // Below the reduction threshold the next step is set from the iterations of the last
        // ones; at or above it the deck's reduction applies, as without the section.
        ctl.DELTAT *= lookahead_factor(ctl.ITER, ctl.ITPREV, ctl.DTITER, ctl.DTGROW,
                                       std::fmin(1.0, ctl.DTREDM));
        if (ctl.DELTAT > ctl.DTMAX) ctl.DELTAT = ctl.DTMAX;
        if (ctl.DELTAT < ctl.DTMIN) ctl.DELTAT = ctl.DTMIN;
    } else if (ctl.ITER < ctl.ITMX1) {
        ctl.DELTAT = ctl.DELTAT * ctl.DTMAGM + ctl.DTMAGA;
        if (ctl.DELTAT > ctl.DTMAX) ctl.DELTAT = ctl.DTMAX;
    } else if (ctl.ITER >= ctl.ITMX2) {
        ctl.DELTAT = ctl.DELTAT * ctl.DTREDM - ctl.DTREDS;
        if (ctl.DELTAT < ctl.DTMIN) ctl.DELTAT = ctl.DTMIN;
    }
    floor_kept_step(ctl, before);
    advance_time(dim, ctl, io);
    ctl.BKFLAG = ctl.DELTAT > ctl.DTMIN;
    ctl.NSTEP += 1;
    ctl.ITPREV = ctl.ITER;
    ctl.ITER = 1;
    ctl.ITLINS = 0;
}

void tstats(control& ctl) {
    if (ctl.DELTAT > ctl.DTLARG) {
        ctl.DTLARG = ctl.DELTAT;
        ctl.TLARG = ctl.TIME;
    }
    if (ctl.DTSMAL > ctl.DELTAT) {
        ctl.DTSMAL = ctl.DELTAT;
        ctl.TSMAL = ctl.TIME;
    }
    ctl.DTSUM += ctl.DELTAT;
    ctl.NDONE += 1;
    ctl.TDONE = ctl.TIME;
}

bool run_continues(const control& ctl) {
    return std::fabs(ctl.TIME - ctl.TMAX) > 0.001 * ctl.DELTAT && ctl.DELTAT < 1.0e10 &&
           !ctl.PTC.DONE &&
           ctl.ISTATUS != -3 && interrupt_signal() == 0;
}

}  // namespace nep
