#include "transport/coupled.h"

#include <cmath>

#include "base/format.h"
#include "base/procs.h"
#include "base/timer.h"
#include "flow/assemble.h"
#include "flow/nonlinear.h"
#include "flow/velocity.h"
#include "transport/matrices.h"

namespace nep {

namespace {

// The largest magnitude of d_i (first node on ties), with its sign; over the nodes of this
// process's own columns and then over the processes when each holds a mesh of its own.
template <class F>
double signed_max(int n, const mesh& msh, F d) {
    node_best b;
    b.key = -1.0;
    for (int i = 1; i <= n; ++i) {
        if (!msh.own(i)) continue;
        const double v = d(i);
        if (std::fabs(v) > b.key) {
            b.key = std::fabs(v);
            b.node = msh.deck_node(i);
            b.v[0] = v;
        }
    }
    msh.best(b, false);
    return b.v[0];
}

void coupled_step(dimensions& dim, control& ctl, iofiles& io, cpustat& cpu, mesh& msh, bcdata& bc,
                  transport& tra, soil& sl, sparse& sp, flowstate& fs, bool newton) {
    double t0 = 0.0;
    timer(t0, 1);
    density rho;
    rho.cnew = fs.CNEW.data() - 1;
    rho.cold = fs.CSAVE.data() - 1;
    rho.eps = sl.EPSLON;
    const bool alt = ctl.DIALECT == dialect::ALT;
    do {
        // The second program reports each outer iteration by one line after it (nlupd).
        for (int unit : {6, kTermUnit}) {
            if (alt) break;
            wfmt(io.out(unit), "(//,' >>> COUPLED SYST. NONLINEAR STEP: ',I5,"
                               "' FOR THE TIME: ',1PE12.4)",
                 ctl.ITERC, ctl.TIME);
            if (ctl.ITERC > 1) {
                wfmt(io.out(unit), "('     cnvrg parameter (DIFMAX): ', 1PE12.4,"
                                   "' exiting tolerance: ', 1PE12.4,//)",
                     ctl.DIFMAX, ctl.TOLNLC);
            }
        }
        const int flowlin0 = ctl.ITLIN;
        unsatflw(dim, ctl, io, msh, bc, sl, sp, fs, cpu, rho);
        if (ctl.ISTATUS < -1) {
            // The flow step repeats the step itself (or ends the run): the concentrations and
            // the outer iteration start again from the beginning of the step too.
            for (int i = 1; i <= dim.N; ++i) {
                fs.CNEW(i) = fs.CSAVE(i);
                fs.COLD(i) = fs.CNEW(i);
            }
            ctl.ITERC = 1;
            break;
        }
        const double tc = ctl.TETAC;
        for (int i = 1; i <= dim.N; ++i) {
            fs.HPTHETA(i) = (1.0 - tc) * fs.HPOTP(i) + tc * fs.HPOT(i);
            fs.CTHETA(i) = (1.0 - tc) * fs.CSAVE(i) + tc * fs.CNEW(i);
        }
        velele(dim, ctl, msh, sl, fs, &fs.CNEW);
        const int translin0 = ctl.ITLINC;
        if (newton) unsatrnw(dim, ctl, io, cpu, msh, tra, sl, sp, fs);
        else unsattrn(dim, ctl, io, cpu, msh, tra, sl, sp, fs);
        cnvrgc(dim, ctl, msh, fs);
        nlupd(dim, ctl, io, msh, bc, sl, fs, ctl.ITLIN - flowlin0, ctl.ITLINC - translin0);
    } while (ctl.CPLSTA == -1 || ctl.CPLSTA == -2);
    timer(t0, 2);
    cpu.CPUCPL += (float)t0;
}

}  // namespace

void piccpl(dimensions& dim, control& ctl, iofiles& io, cpustat& cpu, mesh& msh, bcdata& bc,
            transport& tra, soil& sl, sparse& sp, flowstate& fs) {
    coupled_step(dim, ctl, io, cpu, msh, bc, tra, sl, sp, fs, false);
}

void newtcpl(dimensions& dim, control& ctl, iofiles& io, cpustat& cpu, mesh& msh, bcdata& bc,
             transport& tra, soil& sl, sparse& sp, flowstate& fs) {
    coupled_step(dim, ctl, io, cpu, msh, bc, tra, sl, sp, fs, true);
}

void cnvrgc(const dimensions& dim, control& ctl, const mesh& msh, flowstate& fs) {
    // Several processes with meshes of their own: each goes over the nodes of its own columns,
    // and the results are those of the whole mesh (the node the deck's).
    double hmax = -1.0;
    for (int i = 1; i <= dim.N; ++i) {
        if (!msh.own(i)) continue;
        hmax = std::fmax(hmax, std::fabs(fs.HPOT(i)));
        hmax = std::fmax(hmax, std::fabs(fs.HPOTC(i)));
    }
    hmax = msh.largest(hmax);
    node_best b;
    b.key = -1.0;
    int ik = 0;
    for (int i = 1; i <= dim.N; ++i) {
        if (!msh.own(i)) continue;
        const double dc = std::fabs(fs.CNEW(i) - fs.COLD(i));
        const double rh = std::fabs(fs.HPOT(i) - fs.HPOTC(i)) / hmax;
        const double s = std::isnan(rh) ? dc : std::fmax(dc, rh);
        if (s > b.key) {
            b.key = s;
            ik = i;
        }
    }
    // No node found (every measure NaN): node 1's values, from the process that owns it.
    if (ik == 0 && msh.own(1)) ik = 1;
    if (ik > 0) {
        b.node = msh.deck_node(ik);
        b.v[0] = fs.HPOT(ik);
        b.v[1] = fs.HPOTC(ik);
        b.v[2] = fs.CNEW(ik);
        b.v[3] = fs.COLD(ik);
    }
    msh.best(b, false);
    const double difmax = b.key;
    ctl.DIFMAX = difmax;
    const int it = ctl.ITERC;
    fs.IKCIT(it) = b.node > 0 ? (int)b.node : 1;
    fs.HPOTIT(it) = b.v[0];
    fs.HPOTCIT(it) = b.v[1];
    fs.HDIFIT(it) = (b.v[0] - b.v[1]) / hmax;
    fs.CNEWIT(it) = b.v[2];
    fs.COLDIT(it) = b.v[3];
    fs.CDIFIT(it) = b.v[2] - b.v[3];
    fs.HDMXIT(it) = signed_max(dim.N, msh, [&](int i) { return fs.HPOT(i) - fs.HPOTC(i); });
    fs.CDMXIT(it) = signed_max(dim.N, msh, [&](int i) { return fs.CNEW(i) - fs.COLD(i); });
    if (difmax <= ctl.TOLNLC) {
        ctl.CPLSTA = it < ctl.ITMXC1 ? 1 : (it >= ctl.ITMXC2 ? 3 : 2);
    } else if (it < dim.ITMXC) {
        ctl.CPLSTA = -1;
    } else {
        // A reduction that cannot shorten the step would repeat it for ever.
        const double reduced = std::fmax(ctl.DELTAT * ctl.DTREDM - ctl.DTREDS, ctl.DTMIN);
        ctl.CPLSTA = ctl.DELTAT > ctl.DTMIN && reduced < ctl.DELTAT ? -2 : -3;
    }
}

void relaxc(const dimensions& dim, control& ctl, flowstate& fs) {
    if (ctl.ITERC == 1) {
        ctl.OMEGAV = 1.0;
        return;
    }
    const double den = ctl.OMEGAV * fs.CDMXIT(ctl.ITERC - 1);
    // Without a change in the previous iteration the ratio is undefined: no relaxation.
    double w = 1.0;
    if (den != 0.0) {
        const double e = fs.CDMXIT(ctl.ITERC) / den;
        w = e >= -1.0 ? (3.0 + e) / (3.0 + std::fabs(e)) : 0.5 / std::fabs(e);
    }
    for (int i = 1; i <= dim.N; ++i) fs.CNEW(i) = w * fs.CNEW(i) + (1.0 - w) * fs.COLD(i);
    ctl.OMEGAV = w;
}

void nlupd(const dimensions& dim, control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
           soil& sl, flowstate& fs, int flowlin, int translin) {
    const int it = ctl.ITERC;
    const bool alt = ctl.DIALECT == dialect::ALT;
    wfmt(io.out(28), "(I4,2I5,6(1PE10.2),I6)", it, flowlin, translin, fs.HPOTIT(it),
         fs.HPOTCIT(it), fs.HDIFIT(it), fs.CNEWIT(it), fs.COLDIT(it), fs.CDIFIT(it), fs.IKCIT(it));
    if (alt) {
        wfmt(io.out(6), "('>> COUPL SYS ',2I6,6(1PE11.3),/)", it, fs.IKCIT(it), fs.HPOTIT(it),
             fs.HPOTCIT(it), fs.HDIFIT(it), fs.CNEWIT(it), fs.COLDIT(it), fs.CDIFIT(it));
    }
    if (ctl.CPLSTA == -1) {
        if (ctl.IRELAXC != 0) relaxc(dim, ctl, fs);
        for (int i = 1; i <= dim.N; ++i) {
            fs.COLD(i) = fs.CNEW(i);
            fs.HPOTC(i) = fs.HPOT(i);
        }
        ctl.ITERC += 1;
        return;
    }
    ctl.ITUNSC += ctl.ITERC;
    ounit* both[] = {&io.out(6), &io.out(kTermUnit)};
    for (ounit* u : both) {
        if (alt) {
            wfmt(*u, "(/,'  NONLINEAR SYSTEM CONVERGENCE BEHAVIOR',"
                     "/,'  ITER IKMAX       PCUR       POLD      PDIFF',"
                     "'       CCUR       COLD      CDIFF')");
        } else {
            wfmt(*u, "(/,'  COUPLED SYSTEM NONLINEAR CONVERGENCE BEHAVIOR',"
                     "' FOR THE TIME: ', 1PE12.4,"
                     "/,'  iter at node    pnew      pold      pdiff',"
                     "'       cnew       cold      cdiff')",
                 ctl.TIME);
        }
        for (int k = 1; k <= it; ++k) {
            wfmt(*u, "(2I6,6(1PE11.3))", k, fs.IKCIT(k), fs.HPOTIT(k), fs.HPOTCIT(k), fs.HDIFIT(k),
                 fs.CNEWIT(k), fs.COLDIT(k), fs.CDIFIT(k));
        }
    }
    if (ctl.CPLSTA == -2 || ctl.CPLSTA == -3) {
        for (ounit* u : both) {
            if (alt) wfmt(*u, "(1X,' COUPL. SYSTEM CONVERGENCE NOT ACHIEVED IN ',I4,' ITERATIONS')", it);
            else wfmt(*u, "(1X,' COUPL. SYSTEM CONVERGENCE NOT ACHIEVED IN ',I4,' ITERATIONS',/)", it);
        }
    }
    if (ctl.CPLSTA == -2) {
        for (ounit* u : both) {
            if (alt) wfmt(*u, "(1X,'>>> COUPL. SYSTEM BACK-STEPPING...')");
            else wfmt(*u, "(1X,'>>> COUPL. SYSTEM BACK-STEPPING...',/)");
        }
        for (int i = 1; i <= dim.N; ++i) {
            fs.CNEW(i) = fs.CSAVE(i);
            fs.HPOT(i) = fs.HPOTP(i);
            fs.COLD(i) = fs.CNEW(i);
            fs.HPOTC(i) = fs.HPOT(i);
        }
        ctl.TIME = ctl.TIMEP;
        ctl.DELTAT = std::fmax(ctl.DELTAT * ctl.DTREDM - ctl.DTREDS, ctl.DTMIN);
        ctl.TIME += ctl.DELTAT;
        ctl.BKFLAG = ctl.DELTAT > ctl.DTMIN;
        ctl.NBKSTEP += 1;
        ctl.ITLINS = 0;
        ctl.ITLINSC = 0;
        ctl.ITER = 1;
        ctl.ITERC = 1;
        // The repeated step starts from the heads of the start of the step, with the boundary
        // values of the new TIME.
        restore_step(dim, ctl, io, msh, bc, sl, fs);
        return;
    }
    if (ctl.CPLSTA == -3) {
        for (ounit* u : both) {
            if (alt) {
                wfmt(*u, "(1X,'>>> COUPL. SYSTEM NO BACK-STEPPING POSSIBLE ',"
                         "' -- SIMULATION WILL TERMINATE')");
            } else {
                wfmt(*u, "(1X,'>>> COUPL. SYSTEM NO BACK-STEPPING POSSIBLE ',"
                         "' -- SIMULATION WILL TERMINATE',/)");
            }
        }
        return;
    }
    for (ounit* u : both) {
        if (alt) {
            wfmt(*u, "(1X,' COUPL. SYSTEM CONVERGENCE ACHIEVED IN ',I4,"
                     "' NONLINEAR ITERATIONS ',"
                     "/,' USING A TOTAL OF ',I4,' TRANSP. LINEAR ITERATIONS')",
                 it, ctl.ITLINSC);
        } else {
            wfmt(*u, "(1X,' COUPL. SYSTEM CONVERGENCE ACHIEVED IN ',I4,"
                     "' NONLINEAR ITERATIONS ',"
                     "/,' USING A TOTAL OF ',I4,' TRANSP. LINEAR ITERATIONS',/)",
                 it, ctl.ITLINSC);
        }
    }
    ctl.ITER = 1;
    ctl.ITERC = 1;
}

}  // namespace nep
