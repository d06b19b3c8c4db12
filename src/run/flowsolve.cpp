#include "run/flowsolve.h"

#include <algorithm>
#include <cmath>

#include "base/format.h"
#include "base/procs.h"
#include "bc/atmosphere.h"
#include "bc/series.h"
#include "flow/nonlinear.h"
#include "flow/velocity.h"
#include "output/balance.h"
#include "output/extras.h"
#include "output/results.h"
#include "run/timestep.h"
#include "soil/curves.h"

namespace nep {

void accept_step(const dimensions& dim, bcdata& bc, flowstate& fs) {
    for (int k = 1; k <= dim.NP; ++k) bc.DIRFLP(k) = bc.DIRFLX(k);
    for (int j = 1; j <= dim.NNOD; ++j) {
        bc.IFATMP(j) = bc.IFATM(j);
        bc.ATMACP(j) = bc.ATMACT(j);
        bc.ATMPOP(j) = bc.ATMPOT(j);
    }
    for (int f = 1; f <= dim.NSF; ++f) {
        for (int j = 1; j <= bc.NSFNUM(f); ++j) bc.SFQOLD(f, j) = bc.SFQ(f, j);
        bc.IEXOLD(f) = bc.IEXIT(f);
        bc.IEXITP(f) = bc.IEXIT(f);
    }
    for (int i = 1; i <= dim.N; ++i) {
        fs.PSAVE(i) = fs.PNEW(i);
        fs.HPOTP(i) = fs.HPOT(i);
    }
}

void start_heads(const dimensions& dim, const control& ctl, flowstate& fs) {
    const double tf = ctl.TETAF;
    for (int i = 1; i <= dim.N; ++i) {
        fs.POLD(i) = fs.PNEW(i);
        fs.PTHETA(i) = (1.0 - tf) * fs.PSAVE(i) + tf * fs.PNEW(i);
        fs.PTHOLD(i) = fs.PTHETA(i);
        fs.HPTHETA(i) = (1.0 - tf) * fs.HPOTP(i) + tf * fs.HPOT(i);
    }
}

void step_output(const dimensions& dim, control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
                 soil& sl, const massbal& mb, flowstate& fs, deck_view* V) {
    const bool output_time = dim.NPRT > 0 && io.KPRT <= dim.NPRT && ctl.TIME == io.TIMPRT(io.KPRT);
    // A run on meshes of the processes' own: the values of the nodes watched to process 0, which
    // writes; every process reads the blocks of the deck's nodes (mesh/blocks.h).
    deck_nodes* dn = V != nullptr ? &V->nodes : nullptr;
    if (cut_run(dn) && !dn->watched.empty()) watch(dn, msh, sl, fs);
    together([&] {
        // A coupled step: the heads and concentrations of the observation nodes first.
        if (ctl.ITRANS != 0) {
            write_pot(io, dim.NR, io.IPOUT, fs.PNEW, dn);
            write_conc(io, dim.NR, io.IPOUT, fs.CNEW, dn);
        }
        write_partial(dim, io, sl, fs, dn);
        if (output_time) detout(dim, ctl, io, msh, bc, sl, fs, true, dn);
    });
    if (output_time) io.KPRT += 1;
    // The run ends after this step when it does not continue (or a coupled step failed).
    together([&] {
        extra_step(dim, ctl, io, msh, bc, sl, mb, fs, output_time, !run_continues(ctl) || ctl.CPLSTA == -3,
                   dn);
        if (output_time) extra_series(dim, ctl, io, msh, sl, fs, ctl.TIME, ctl.NSTEP);
    });
    tstats(ctl);
}

void flowsolve(dimensions& dim, control& ctl, iofiles& io, cpustat& cpu, mesh& msh,
               bcdata& bc, soil& sl, massbal& mb, sparse& sp, flowstate& fs, surface& sf,
               deck_view* V) {
    const double tried = ctl.DELTAT;
    unsatflw(dim, ctl, io, msh, bc, sl, sp, fs, cpu, density(), &sf);
    if (ctl.ISTATUS == -2) {
        // A steady solve that did not converge goes on in pseudo-time (run/timestep.h).
        if (ctl.PTC.ARMED) together([&] { ptc_start(ctl, io); });
        else if (ctl.PTC.ON) ptc_backstep(ctl, tried);
        return;
    }
    // The largest change of the heads over a step of the continuation, and the end of a
    // continuation that has not come to the steady step.
    double change = 0.0;
    if (ctl.PTC.ON) {
        for (int i = 1; i <= dim.N; ++i) {
            if (msh.own(i)) change = std::max(change, std::fabs(fs.PNEW(i) - fs.PSAVE(i)));
        }
        change = msh.largest(change);
        if (ctl.DELTAT < kSteadyStep && ctl.PTC.STEPS + 1 >= kPseudoStepsMax) {
            wfmt(io.out(6), "(/,' NO STEADY STATE AFTER ',I6,' PSEUDO-TIME STEPS',"
                            "' -- SIMULATION WILL TERMINATE',/)",
                 ctl.PTC.STEPS + 1);
            ctl.ISTATUS = -3;
        }
    }
    // The water balance of the step (also of a step that ends the run unconverged).
    flowmb(dim, ctl, io, msh, bc, sl, sp, fs, cpu, mb, &sf);
    bool steady_next = false;
    if (ctl.PTC.ON && ctl.DELTAT < kSteadyStep && ctl.ISTATUS != -3 &&
        ptc_steady(ctl, change, mb.VIN, mb.VOUT, mb.DSTORE)) {
        // Steady in pseudo-time: the steady step from here, unless it failed before (then the
        // continuation ends on this step).
        if (ctl.DTMAX >= kSteadyStep) steady_next = true;
        else ctl.PTC.DONE = true;
    }
    swkrw(dim, sl, fs.PNEW);
    if (io.IPRT >= 2) velcmp(dim, ctl, msh, sl, fs);
    mbeout(dim, ctl, io, mb);
    mbnext(mb);
    accept_step(dim, bc, fs);
    hgraph(dim, ctl, io, msh, bc, sl, fs, mb);
    pondck(dim, ctl, io, msh, bc, fs);
    wfmt(io.out(31), "(I5,2(1PE10.2),5(1PE11.3))", ctl.NSTEP, ctl.DELTAT, ctl.TIME, mb.POTFLX,
         mb.ACTFLX, mb.OVLFLX, mb.RETFLX, mb.SFFLX);
    wfmt(io.out(32), "(I6,2(1PE11.3),2(11X,1PE13.5))", ctl.NSTEP, ctl.DELTAT, ctl.TIME,
         net_dirflx(mb), net_neuflx(mb));
    step_output(dim, ctl, io, msh, bc, sl, mb, fs, V);
    if (run_continues(ctl) && ctl.PTC.ON) {
        ptc_step(ctl, change, steady_next);
        bcupdt(dim, ctl, io, msh, bc, sl, fs);
        start_heads(dim, ctl, fs);
    } else if (run_continues(ctl)) {
        next_flow_step(dim, ctl, io, msh, bc, sl, fs);
    } else {
        if (ctl.PTC.ON && ctl.DELTAT >= kSteadyStep) {
            wfmt(io.out(6), "(/,' STEADY STATE REACHED BY PSEUDO-TRANSIENT CONTINUATION IN ',I6,"
                            "' PSEUDO-TIME STEPS AND THE STEADY STEP',/)",
                 ctl.PTC.STEPS);
        } else if (ctl.PTC.DONE) {
            wfmt(io.out(6), "(/,' STEADY STATE REACHED BY PSEUDO-TRANSIENT CONTINUATION IN ',I6,"
                            "' PSEUDO-TIME STEPS: HEAD CHANGE',1PE10.2,', STORAGE CHANGE',1PE10.2,"
                            "' OF THROUGH-FLOW',1PE10.2,/)",
                 ctl.PTC.STEPS + 1, change, mb.DSTORE, 0.5 * (std::fabs(mb.VIN) + std::fabs(mb.VOUT)));
        }
        ctl.ENDFLOW = true;
    }
}

void next_flow_step(const dimensions& dim, control& ctl, iofiles& io, const mesh& msh,
                    bcdata& bc, const soil& sl, flowstate& fs) {
    tstepf(dim, ctl, io);
    bcupdt(dim, ctl, io, msh, bc, sl, fs);
    start_heads(dim, ctl, fs);
}

}  // namespace nep
