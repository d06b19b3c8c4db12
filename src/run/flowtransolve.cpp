#include "run/flowtransolve.h"

#include "base/format.h"
#include "base/procs.h"
#include "base/stop.h"
#include "base/timer.h"
#include "bc/atmosphere.h"
#include "bc/series.h"
#include "flow/velocity.h"
#include "output/balance.h"
#include "output/results.h"
#include "run/flowsolve.h"
#include "run/timestep.h"
#include "soil/curves.h"
#include "transport/coupled.h"
#include "transport/matrices.h"

namespace nep {

namespace {

// Adds a mass flux to the in or out class of a boundary kind by the sign of the volume flux.
inline void classify(massbal& mb, int in, int out, double sign_of, double v) {
    mb.TFLXCUR[sign_of > 0.0 ? in : out] += v;
}

// The four class sums of the solute mass fluxes: prescribed-concentration and Cauchy nodes with
// their solute fluxes, prescribed-head and prescribed-flux flow nodes with the advected mass.
// Several processes with meshes of their own: each sums the nodes of its own columns.
void mass_fluxes(const dimensions& dim, const mesh& msh, const bcdata& bc, const transport& tra,
                 const soil& sl, const arr1<double>& flux, const arr1<double>& dirflx,
                 const arr1<double>& C, massbal& mb) {
    for (int k = 1; k <= 4; ++k) mb.TFLXCUR[k] = 0.0;
    auto rho = [&](double c) { return sl.RHO0 * (1.0 + sl.EPSLON * c); };
    auto mine = [&](int node) { return node != 0 && msh.own(node); };
    for (int k = 1; k <= dim.NPC; ++k) {
        if (!mine(tra.DIRNODC(k))) continue;
        const double c = C(tra.DIRNODC(k)), v = flux(k) * rho(c);
        classify(mb, MB_TDIRIN, MB_TDIROUT, v, v);
    }
    for (int j = 1; j <= dim.NMC; ++j) {
        if (!mine(tra.CAUNOD(j))) continue;
        const double c = C(tra.CAUNOD(j)), v = flux(dim.NPC + j) * rho(c);
        classify(mb, MB_TCAUIN, MB_TCAUOUT, v, v);
    }
    for (int k = 1; k <= dim.NP; ++k) {
        if (!mine(bc.DIRNOD(k))) continue;
        const double c = C(bc.DIRNOD(k)), F = dirflx(k);
        classify(mb, MB_TDIRIN, MB_TDIROUT, F, F * c * rho(c));
    }
    for (int k = 1; k <= dim.NQ; ++k) {
        if (!mine(bc.NEUNOD(k))) continue;
        const double c = C(bc.NEUNOD(k)), F = bc.NEUVAL(k);
        classify(mb, MB_TCAUIN, MB_TCAUOUT, F, F * c * rho(c));
    }
    if (msh.cut()) proc_sum(&mb.TFLXCUR[1], 4);
}

}  // namespace

void tranmb(const dimensions& dim, const control& ctl, const mesh& msh, const bcdata& bc,
            transport& tra, const soil& sl, const sparse& sp, const flowstate& fs, massbal& mb) {
    // The initial fluxes of the first step are its previous level.
    if (ctl.NSTEP == 1) {
        mass_fluxes(dim, msh, bc, tra, sl, tra.TRFLXP, bc.DIRFLP, fs.CSAVE, mb);
        for (int k = 1; k <= 4; ++k) mb.TFLXPRV[k] = mb.TFLXCUR[k];
    }
    const double wcau = ctl.NSTEP == 1 ? 0.5 : 1.0;
    trnflx(dim, tra, sp, wcau, sp.AMATC, sp.RHSSAV, fs.CNEW, tra.TRFLX);
    mass_fluxes(dim, msh, bc, tra, sl, tra.TRFLX, bc.DIRFLX, fs.CNEW, mb);
    double tdstore = 0.0;
    for (int i = 1; i <= dim.N; ++i) {
        if (!msh.own(i)) continue;
        const double cn = fs.CNEW(i), co = fs.CSAVE(i);
        tdstore += msh.VOLNOD(i) * sl.PORNOD(i) * sl.SW(i) * sl.RHO0 *
                   (1.0 + sl.EPSLON * 0.5 * (cn + co)) * (cn - co);
    }
    if (msh.cut()) proc_sum(&tdstore, 1);
    tranmb_close(ctl, mb, tdstore);
    for (int k = 1; k <= dim.NPC + dim.NMC; ++k) tra.TRFLXP(k) = tra.TRFLX(k);
}

void flowtransolve(dimensions& dim, control& ctl, iofiles& io, cpustat& cpu, mesh& msh,
                   bcdata& bc, transport& tra, soil& sl, massbal& mb, sparse& sp, flowstate& fs,
                   deck_view* V) {
    if (ctl.ITRANS == 1) {
        piccpl(dim, ctl, io, cpu, msh, bc, tra, sl, sp, fs);
    } else if (ctl.ITRANS == 2) {
        newtcpl(dim, ctl, io, cpu, msh, bc, tra, sl, sp, fs);
    } else {
        wfree(io.out(6), " Error: bad ITRANS value:", ctl.ITRANS);
        wfree(io.STDOUT, " Error: bad ITRANS value:", ctl.ITRANS);
        stop_run(EXIT_ERROR);
    }
    if (ctl.ISTATUS == -2) return;
    {
        double t0 = 0.0;
        timer(t0, 1);
        tranmb(dim, ctl, msh, bc, tra, sl, sp, fs, mb);
        timer(t0, 2);
        cpu.TT[7] += (float)t0;
    }
    swkrw(dim, sl, fs.PNEW);
    // The element velocities are those of the last outer iteration; their nodal averages are
    // brought up to date for the velocity output.
    if (io.IPRT >= 2) velnod(dim, msh, fs);
    flowmb(dim, ctl, io, msh, bc, sl, sp, fs, cpu, mb);
    mbeout(dim, ctl, io, mb);
    mbnext(mb);
    accept_step(dim, bc, fs);
    hgraph(dim, ctl, io, msh, bc, sl, fs, mb);
    pondck(dim, ctl, io, msh, bc, fs);
    wfmt(io.out(31), "(I5,2(1PE10.2),5(1PE11.3))", ctl.NSTEP, ctl.DELTAT, ctl.TIME, mb.POTFLX,
         mb.ACTFLX, mb.OVLFLX, mb.RETFLX, mb.SFFLX);
    wfmt(io.out(32), "(I6,2(1PE11.3),2(11X,1PE13.5))", ctl.NSTEP, ctl.DELTAT, ctl.TIME,
         net_dirflx(mb), net_neuflx(mb));
    wfmt(io.out(32), "(I6,2(1PE11.4),4(1PE13.5))", ctl.NSTEP, ctl.DELTAT, ctl.TIME,
         net_dirflx(mb), net_neuflx(mb), net_tdirflx(mb), net_tcauflx(mb));
    step_output(dim, ctl, io, msh, bc, sl, mb, fs, V);
    if (run_continues(ctl) && ctl.CPLSTA != -3) {
        next_coupled_step(dim, ctl, io, msh, bc, sl, fs);
    } else {
        ctl.ENDCPL = true;
    }
}

void next_coupled_step(const dimensions& dim, control& ctl, iofiles& io, const mesh& msh,
                       bcdata& bc, const soil& sl, flowstate& fs) {
    for (int i = 1; i <= dim.N; ++i) {
        fs.CSAVE(i) = fs.CNEW(i);
        fs.COLD(i) = fs.CNEW(i);
    }
    tstepc(dim, ctl, io);
    bcupdt(dim, ctl, io, msh, bc, sl, fs);
    start_heads(dim, ctl, fs);
}

}  // namespace nep
