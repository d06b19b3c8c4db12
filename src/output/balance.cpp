#include "output/balance.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "base/format.h"
#include "base/procs.h"
#include "base/stop.h"
#include "base/timer.h"
#include "soil/curves.h"
#include "soil/roots.h"
#include "surface/overland.h"

namespace nep {

namespace {

// Adds a flux to the in class when it is positive, else to the out class (a zero flux is
// outflow).
inline void split(double v, double* cls, int in, int out) {
    if (v > 0.0) cls[in] += v;
    else cls[out] += v;
}

// The atmospheric classes of the whole mesh, each process having summed its own surface nodes.
void share_atmospheric(const mesh& msh, double* cls) {
    double v[4] = {cls[MB_IADIR], cls[MB_OADIR], cls[MB_IANEU], cls[MB_OANEU]};
    msh.sum(v, 4);
    cls[MB_IADIR] = v[0];
    cls[MB_OADIR] = v[1];
    cls[MB_IANEU] = v[2];
    cls[MB_OANEU] = v[3];
}

// The atmospheric input of the step at the surface nodes with another condition, which the
// model does not apply, and at every surface node: the potential fluxes at the end (ATMPOT)
// and at the start (ATMPOP) of the step, split into rain and evaporation node by node; the
// nodes with input in the step, and those that receive their first.
void unapplied(const dimensions& dim, const mesh& msh, bcdata& bc, massbal& mb) {
    double nap[2][3] = {}, atm[2][3] = {};  // [0] end, [1] start of the step; 1 rain, 2 evaporation
    double nodes[4] = {};  // [0] with input in the step, [1..3] with their first, by condition
    for (int j = 1; j <= dim.NNOD; ++j) {
        if (!msh.own(j)) continue;
        const double cur = bc.ATMPOT(j), prv = bc.ATMPOP(j);
        split(cur, atm[0], 1, 2);
        split(prv, atm[1], 1, 2);
        if (bc.IFATM(j) != -1) continue;
        split(cur, nap[0], 1, 2);
        split(prv, nap[1], 1, 2);
        if (cur == 0.0 && prv == 0.0) continue;
        nodes[0] += 1.0;
        const int other = bc.ATMOTH(j);
        if (other >= 1 && other <= 3) {
            nodes[other] += 1.0;
            bc.ATMOTH(j) = -other;
        }
    }
    {
        double v[12] = {nap[0][1], nap[0][2], nap[1][1], nap[1][2], atm[0][1], atm[0][2],
                        atm[1][1], atm[1][2], nodes[0], nodes[1], nodes[2], nodes[3]};
        msh.sum(v, 12);
        for (int k = 1; k <= 2; ++k) {
            nap[0][k] = v[k - 1];
            nap[1][k] = v[k + 1];
            atm[0][k] = v[k + 3];
            atm[1][k] = v[k + 5];
        }
        for (int k = 0; k <= 3; ++k) nodes[k] = v[8 + k];
    }
    for (int k = 1; k <= 2; ++k) {
        mb.NAPCUR[k] = nap[0][k];
        mb.NAPPRV[k] = nap[1][k];
        mb.ATMCUR[k] = atm[0][k];
        mb.ATMPRV[k] = atm[1][k];
    }
    mb.NAPSTEP = (int)nodes[0];
    for (int k = 1; k <= 3; ++k) mb.NAPNOD[k] += (int)nodes[k];
}

}  // namespace

void mbinit(const dimensions& dim, const control& ctl, const mesh& msh, const bcdata& bc,
            massbal& mb) {
    mb.SFFLXP = 0.0;
    for (int k = 1; k <= 8; ++k) mb.FLXPRV[k] = 0.0;

    for (int j = 1; j <= dim.NNOD; ++j) {
        if (bc.IFATMP(j) == 0 && msh.own(j)) split(bc.ATMACP(j), mb.FLXPRV, MB_IANEU, MB_OANEU);
        if (bc.IFATMP(j) == -1 && bc.PONDRT && msh.own(j)) {
            split(bc.ATMPOP(j), mb.FLXPRV, MB_IANEU, MB_OANEU);
        }
    }
    if (ctl.DELTAT < MB_STEADY) {
        for (int k = 1; k <= dim.NQ; ++k) split(bc.NEUVAL(k), mb.FLXPRV, MB_INNEU, MB_ONNEU);
    }

    mb.CERRAS = 0.0;
    mb.CINOUT = 0.0;
    mb.CIN = 0.0;
    mb.COUT = 0.0;
    mb.CSTORE = 0.0;

    // Input that falls on surface nodes with another condition is reported when there can be
    // any (and is not applied: with routed water on the ground it is).
    mb.NAPON = false;
    for (int j = 1; j <= dim.NNOD && bc.ATMIN; ++j) {
        if (bc.IFATM(j) == -1 && msh.own(j) && !bc.PONDRT) mb.NAPON = true;
    }
    for (int k = 1; k <= 2; ++k) mb.CNAP[k] = mb.CATM[k] = 0.0;
    for (int k = 1; k <= 3; ++k) mb.NAPNOD[k] = 0;
    mb.NAPSTEP = 0;
}

void mbinit_share(const mesh& msh, massbal& mb) {
    share_atmospheric(msh, mb.FLXPRV);
    mb.NAPON = msh.any(mb.NAPON);
}

void mbinit_transport(massbal& mb) {
    for (int k = 1; k <= 4; ++k) mb.TFLXPRV[k] = 0.0;
    mb.TCERRAS = 0.0;
    mb.TCINOUT = 0.0;
    mb.TCIN = 0.0;
    mb.TCOUT = 0.0;
}

void fluxmb(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
            massbal& mb) {
    for (int k = 1; k <= 8; ++k) mb.FLXCUR[k] = 0.0;
    mb.SFFLX = 0.0;

    for (int k = 1; k <= dim.NP; ++k) split(bc.DIRFLX(k), mb.FLXCUR, MB_INDIR, MB_ONDIR);
    for (int k = 1; k <= dim.NQ; ++k) split(bc.NEUVAL(k), mb.FLXCUR, MB_INNEU, MB_ONNEU);

    // The saturated part of each seepage face, from the exit point down, seeps out; a node
    // there whose flux is not negative draws water in, which the exit-point update should have
    // prevented: it is counted and reported.
    for (int i = 1; i <= dim.NSF; ++i) {
        for (int j = bc.IEXIT(i); j <= bc.NSFNUM(i); ++j) {
            const double q = bc.SFQ(i, j);
            mb.SFFLX += q;
            if (q >= 0.0) {
                bc.SFFLAG[5] += 1;
                wfmt(io.out(134),
                     "(  ' SFFLAG(5) AT SEEPAGE FACE ',I4,"
                     "' (TIME=',1PE8.2,', DELTAT=',1PE8.2,')',"
                     "/,11X,'NON-NEGATIVE FLUX (INFLOW) OF ',1PE9.3,' AT NODE ',"
                     "I3,' (NODE # ',I6,')')",
                     i, ctl.TIME, ctl.DELTAT, q, j, bc.SFDECK.empty() ? bc.SFNOD(i, j) : bc.SFDECK(i, j));
            }
        }
    }

    for (int j = 1; j <= dim.NNOD; ++j) {
        const int state = bc.IFATM(j);
        if (!msh.own(j)) continue;
        // Routed water on the ground: the input on the nodes with another condition is applied.
        if (state == -1 && bc.PONDRT) split(bc.ATMPOT(j), mb.FLXCUR, MB_IANEU, MB_OANEU);
        if (state == -1) continue;
        if (state == 1) split(bc.ATMACT(j), mb.FLXCUR, MB_IADIR, MB_OADIR);
        else split(bc.ATMACT(j), mb.FLXCUR, MB_IANEU, MB_OANEU);
    }
    share_atmospheric(msh, mb.FLXCUR);
    if (mb.NAPON) unapplied(dim, msh, bc, mb);
}

void flowmb_volumes(const control& ctl, massbal& mb, double dstore, bool applied) {
    const bool steady = ctl.DELTAT >= MB_STEADY;
    const double f = steady ? 1.0 : ctl.DELTAT / 2.0;
    mb.DSTORE = dstore;
    if (applied && !steady) {
        // The volumes the scheme applied: the TETAF-weighted fluxes of the two levels, and the
        // prescribed fluxes at the new level, over the whole step.
        const double dt = ctl.DELTAT, tf = ctl.TETAF;
        for (int k = 1; k <= 8; ++k) {
            const bool prescribed = k == MB_INNEU || k == MB_ONNEU;
            mb.FLXVOL[k] = prescribed ? dt * mb.FLXCUR[k]
                                      : dt * (tf * mb.FLXCUR[k] + (1.0 - tf) * mb.FLXPRV[k]);
        }
        mb.SFVOL = dt * (tf * mb.SFFLX + (1.0 - tf) * mb.SFFLXP);
        for (int k = 1; k <= 2; ++k) {
            mb.NAPVOL[k] = dt * (tf * mb.NAPCUR[k] + (1.0 - tf) * mb.NAPPRV[k]);
            mb.ATMVOL[k] = dt * (tf * mb.ATMCUR[k] + (1.0 - tf) * mb.ATMPRV[k]);
        }
    } else {
        // The steady step of a continuation: the rates of the steady state alone (the previous
        // fluxes are those of the last pseudo-time step, not of a state before the step).
        const bool rates = steady && ctl.PTC.ON;
        auto vol = [&](double cur, double prv) { return rates ? cur : f * (cur + prv); };
        for (int k = 1; k <= 8; ++k) mb.FLXVOL[k] = vol(mb.FLXCUR[k], mb.FLXPRV[k]);
        mb.SFVOL = vol(mb.SFFLX, mb.SFFLXP);
        for (int k = 1; k <= 2; ++k) {
            mb.NAPVOL[k] = vol(mb.NAPCUR[k], mb.NAPPRV[k]);
            mb.ATMVOL[k] = vol(mb.ATMCUR[k], mb.ATMPRV[k]);
        }
    }

    mb.VIN = mb.FLXVOL[MB_IADIR] + mb.FLXVOL[MB_INDIR] + mb.FLXVOL[MB_IANEU] + mb.FLXVOL[MB_INNEU];
    mb.VOUT = mb.FLXVOL[MB_OADIR] + mb.FLXVOL[MB_ONDIR] + mb.FLXVOL[MB_OANEU] +
              mb.FLXVOL[MB_ONNEU] + mb.SFVOL - mb.SOUT - mb.UPTVOL;
    mb.ERRAS = mb.VIN + mb.VOUT - mb.DSTORE;

    // The relative error is taken against the net volume of an unsteady step and against the
    // inflow of a steady one; a zero denominator gives 0. At steady through-flow the net volume
    // is zero but for rounding: below that level it counts as zero too.
    if (!steady) {
        const double net = mb.VIN + mb.VOUT;
        mb.ERREL = !net_is_zero(net, mb.VIN, mb.VOUT) ? 100.0 * mb.ERRAS / net : 0.0;
    } else {
        mb.ERREL = mb.VIN != 0.0 ? 100.0 * mb.ERRAS / mb.VIN : 0.0;
    }
}

void flowmb(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
            soil& sl, sparse& sp, const flowstate& fs, cpustat& cpu, massbal& mb, surface* sf) {
    double clock = 0.0;
    timer(clock, 1);

    double dstore = 0.0;
    if (ctl.DELTAT < MB_STEADY && sl.KSLOPE == 5) {
        // The mass-conservative scheme: the change of the water held.
        chwat(dim, sl, fs.PNEW, sl.WNEW);
        for (int i = 1; i <= dim.N; ++i) {
            if (msh.own(i)) dstore += msh.VOLNOD(i) * (sl.WNEW(i) - sl.WSAVE(i));
        }
    } else if (ctl.DELTAT < MB_STEADY) {
        const int N = dim.N;
        if (sp.WORK1.size() < N) {
            input_error("internal error: the mass balance needs the solver work space of " +
                        std::to_string(N) + " values, which has " +
                        std::to_string(sp.WORK1.size()));
        }
        chstor(dim, sl, fs.PSAVE);
        double* cold = sp.WORK1.data();  // cold[i-1] is node i
        for (int i = 1; i <= N; ++i) cold[i - 1] = sl.STCOEF(i);
        chstor(dim, sl, fs.PNEW);
        for (int i = 1; i <= N; ++i) {
            if (msh.own(i)) {
                dstore += msh.VOLNOD(i) * 0.5 * (sl.STCOEF(i) + cold[i - 1]) * (fs.PNEW(i) - fs.PSAVE(i));
            }
        }
    }
    msh.sum(&dstore, 1);
    if (sf != nullptr && sf->ON) {
        surfmb(dim, ctl, msh, bc, fs, *sf, mb);
        dstore += mb.SSTORE;
    }

    if (sl.RT.ON) rootmb(dim, ctl, msh, bc, sl.RT, mb);

    fluxmb(dim, ctl, io, msh, bc, mb);
    flowmb_volumes(ctl, mb, dstore, sl.KSLOPE == 5);

    timer(clock, 2);
    cpu.FT[8] += (float)clock;
}

void tranmb_close(const control& ctl, massbal& mb, double tdstore) {
    const bool steady = ctl.DELTAT >= MB_STEADY;
    const double f = steady ? 1.0 : ctl.DELTAT / 2.0;
    mb.TDSTORE = steady ? 0.0 : tdstore;
    for (int k = 1; k <= 4; ++k) mb.TFLXVOL[k] = f * (mb.TFLXCUR[k] + mb.TFLXPRV[k]);
    mb.TVIN = mb.TFLXVOL[MB_TDIRIN] + mb.TFLXVOL[MB_TCAUIN];
    mb.TVOUT = mb.TFLXVOL[MB_TDIROUT] + mb.TFLXVOL[MB_TCAUOUT];
    mb.TERRAS = mb.TVIN + mb.TVOUT - mb.TDSTORE;
    if (mb.TVIN != 0.0) mb.TERREL = 100.0 * mb.TERRAS / mb.TVIN;
    else if (mb.TVOUT != 0.0) mb.TERREL = 100.0 * mb.TERRAS / mb.TVOUT;
    else mb.TERREL = 0.0;

    mb.TCERRAS += std::fabs(mb.TERRAS);
    mb.TCINOUT += mb.TVIN + mb.TVOUT;
    mb.TCIN += mb.TVIN;
    mb.TCOUT += mb.TVOUT;
    for (int k = 1; k <= 4; ++k) mb.TFLXPRV[k] = mb.TFLXCUR[k];
}

void mbeout(const dimensions& dim, const control& ctl, iofiles& io, const massbal& mb) {
    ounit& lst = io.out(6);
    wfmt(lst,
         "(/,'  INFLOW (I) AND OUTFLOW (O) FROM',"
         "' ATM (A) AND NON-ATM, NON-SEEP FACE (N) BC''S;',"
         "/,'  ''C F'' CURRENT FLUX; ''P F'' PREVIOUS FLUX;',"
         "' ''VOL'' VOLUME',"
         "/,'      IA DIRIC OA DIRIC IN DIRIC ON DIRIC',"
         "' IA NEUMN OA NEUMN IN NEUMN ON NEUMN',"
         "/,1X,'C F',1X,8(1PE9.1),"
         "/,1X,'P F',1X,8(1PE9.1),"
         "/,1X,'VOL',1X,8(1PE9.1))",
         fitem::reals(&mb.FLXCUR[1], 8), fitem::reals(&mb.FLXPRV[1], 8),
         fitem::reals(&mb.FLXVOL[1], 8));
    if (dim.NSF > 0) {
        wfmt(lst,
             "(/,' SUBSURFACE OUTFLOW AT SEEP. FACE BC''S:',"
             "' C F = ',1PE8.1,' P F = ',1PE8.1,"
             "' VOL = ',1PE8.1)",
             mb.SFFLX, mb.SFFLXP, mb.SFVOL);
    }
    wfmt(lst,
         "(/,' TOTAL I VOL  TOTAL O VOL  STOR CHNG VOL',"
         "' | ABS MASS BAL ERR   REL MASS BAL ERR,%',"
         "/,1X,1PE11.3,2X,1PE11.3,2X,1PE13.5,' | ',"
         "1PE16.8,3X,1PE18.10)",
         mb.VIN, mb.VOUT, mb.DSTORE, mb.ERRAS, mb.ERREL);
    if (mb.SURFON) {
        wfmt(lst,
             "(/,' WATER ON THE GROUND: STOR CHNG VOL = ',1PE11.3,' OUTLET VOL = ',1PE11.3,"
             "/,21X,'INFILTRATION VOL = ',1PE11.3,' EXFILTRATION VOL = ',1PE11.3)",
             mb.SSTORE, mb.SOUT, mb.SINF, mb.SEXF);
    }
    if (mb.ROOTON) {
        wfmt(lst, "(/,' ROOT WATER UPTAKE: POTENTIAL VOL = ',1PE11.3,' ACTUAL VOL = ',1PE11.3)",
             mb.UPTPOT, mb.UPTVOL);
    }
    // Input that fell on surface nodes with another condition, which the model did not apply
    // (not part of the totals above).
    if (mb.NAPSTEP > 0) {
        wfmt(lst,
             "(/,' ATM. INPUT NOT APPLIED AT',I7,' NODES WITH OTHER BC''S:',"
             "' RAIN VOL = ',1PE9.2,' EVAP VOL = ',1PE9.2)",
             mb.NAPSTEP, mb.NAPVOL[1], mb.NAPVOL[2]);
    }

    if (ctl.ITRANS == 0) {
        wfmt(io.out(27), "(I6,2(1PE12.4),2(1PE12.4))", ctl.NSTEP, ctl.DELTAT, ctl.TIME, mb.ERRAS,
             mb.ERREL);
    } else {
        wfmt(io.out(27), "(I6,2(1PE12.4),4(1PE12.4))", ctl.NSTEP, ctl.DELTAT, ctl.TIME, mb.ERRAS,
             mb.ERREL, mb.TERRAS, mb.TERREL);
    }
}

void mbnext(massbal& mb) {
    mb.CERRAS += std::fabs(mb.ERRAS);
    mb.CINOUT += mb.VIN + mb.VOUT;
    mb.CIN += mb.VIN;
    mb.COUT += mb.VOUT;
    mb.CSTORE += mb.DSTORE;
    mb.CSSTORE += mb.SSTORE;
    mb.CSOUT += mb.SOUT;
    mb.CSINF += mb.SINF;
    mb.CSEXF += mb.SEXF;
    mb.CUPTPOT += mb.UPTPOT;
    mb.CUPTVOL += mb.UPTVOL;
    for (int k = 1; k <= 8; ++k) mb.FLXPRV[k] = mb.FLXCUR[k];
    mb.SFFLXP = mb.SFFLX;
    for (int k = 1; k <= 2; ++k) {
        mb.CNAP[k] += mb.NAPVOL[k];
        mb.CATM[k] += mb.ATMVOL[k];
    }
}

void cumberr(const dimensions& dim, const control& ctl, iofiles& io, const bcdata& bc,
             const massbal& mb) {
    ounit& lst = io.out(6);
    // The relative values are rounded to single precision, then written as double values.
    auto rel = [](double err, double base) { return (double)(float)(100.0 * err / base); };

    const bool alt = ctl.DIALECT == dialect::ALT;
    if (ctl.DELTAT < MB_STEADY) {
        if (alt) {
            // The second program reports one flow error, relative to all the volume that crossed
            // the boundary (in + out): the one total that is not zero whenever water moved.
            if (!net_is_zero(mb.CINOUT, mb.CIN, mb.COUT)) {
                wfmt(lst,
                     "(//,'  FLOW EQUATION     : CUMULATIVE (TOTAL) ABS.',"
                     "' MASS BALANCE ERROR: ',1PE12.5,"
                     "/,'                      CUMULATIVE (TOTAL) REL.',"
                     "' MASS BALANCE ERROR: ',1PE12.5,' %')",
                     mb.CERRAS, rel(mb.CERRAS, mb.CINOUT));
            }
        } else {
            if (!net_is_zero(mb.CINOUT, mb.CIN, mb.COUT)) {
                wfmt(lst,
                     "(//,'  FLOW EQUATION     : CUMULATIVE (TOTAL-IN+OUT) ABS.',"
                     "' MASS BALANCE ERROR: ',1PE12.5,"
                     "/,'                      CUMULATIVE (TOTAL-IN+OUT) REL.',"
                     "' MASS BALANCE ERROR: ',1PE12.5,' %')",
                     mb.CERRAS, rel(mb.CERRAS, mb.CINOUT));
            }
            if (mb.CIN != 0.0) {
                wfmt(lst,
                     "(//,'  FLOW EQUATION     : CUMULATIVE (TOTAL-IN) ABS.',"
                     "' MASS BALANCE ERROR: ',1PE12.5,"
                     "/,'                      CUMULATIVE (TOTAL-IN) REL.',"
                     "' MASS BALANCE ERROR: ',1PE12.5,' %')",
                     mb.CERRAS, rel(mb.CERRAS, mb.CIN));
            } else if (mb.COUT != 0.0) {
                wfmt(lst,
                     "(//,'  FLOW EQUATION     : CUMULATIVE (TOTAL-OUT) ABS.',"
                     "' MASS BALANCE ERROR: ',1PE12.5,"
                     "/,'                      CUMULATIVE (TOTAL-OUT) REL.',"
                     "' MASS BALANCE ERROR: ',1PE12.5,' %')",
                     mb.CERRAS, rel(mb.CERRAS, mb.COUT));
            }
        }
        if (ctl.ITRANS != 0 && (mb.TCIN != 0.0 || mb.TCOUT != 0.0)) {
            const double base = mb.TCIN != 0.0 ? mb.TCIN : mb.TCOUT;
            wfmt(lst,
                 "(//,'  TRANSPORT EQUATION: CUMULATIVE (TOTAL) ABS.',"
                 "' MASS BALANCE ERROR: ',1PE12.5,"
                 "/,'                      CUMULATIVE (TOTAL) REL.',"
                 "' MASS BALANCE ERROR: ',1PE12.5,' %')",
                 mb.TCERRAS, rel(mb.TCERRAS, base));
        }
    }

    if (mb.SURFON) {
        wfmt(lst,
             "(//,'  WATER ON THE GROUND: CUMULATIVE STOR CHNG VOL = ',1PE12.5,"
             "' OUTLET VOL = ',1PE12.5,"
             "/,'                       CUMULATIVE INFILTRATION VOL = ',1PE12.5,"
             "' EXFILTRATION VOL = ',1PE12.5)",
             mb.CSSTORE, mb.CSOUT, mb.CSINF, mb.CSEXF);
    }
    if (mb.ROOTON) {
        wfmt(lst,
             "(//,'  ROOT WATER UPTAKE: CUMULATIVE POTENTIAL VOL = ',1PE12.5,"
             "' ACTUAL VOL = ',1PE12.5)",
             mb.CUPTPOT, mb.CUPTVOL);
    }
    for (ounit* u : {&lst, &io.out(33)}) {
        wfmt(*u,
             "(/,' HGFLAG:    (1)    (2)    (3)    (4)    (5)',"
             "'    (6)    (7)    (8)',"
             "/,8X,8(I6,1X))",
             fitem::ints(&bc.HGFLAG[1], 8));
    }
    if (dim.NSF > 0) {
        for (ounit* u : {&lst, &io.out(134)}) {
            wfmt(*u,
                 "(/,' SFFLAG:    (1)    (2)    (3)    (4)    (5)',"
                 "/,8X,5(I6,1X))",
                 fitem::ints(&bc.SFFLAG[1], 5));
        }
    }
    wfmt(lst,
         "( /,'  TOTAL NUMBER OF BACK-STEPPING OCCURRENCES',"
         "'      : ',I5,"
         "/,'  TOTAL NUMBER OF LINEAR SOLVER FAILURES   ',"
         "'      : ',I5)",
         ctl.NBKSTEP, ctl.NLSFAIL);
    if (dim.NSF > 0) {
        wfmt(lst,
             "( /,'  TOTAL NUMBER OF S-F EX-PT CONV FAIL OCCUR',"
             "'RENCES: ',I5,"
             "/,'  TOTAL NUMBER OF S-F EX-PT CONVERGENCE FAI',"
             "'LURES : ',I5)",
             bc.SFFAIL, bc.SFFAILT);
    }
    if (ctl.ISOLV == 3 && ctl.IFLOW != 1) {
        wfmt(lst,
             "(//,'  MINIMUM IBOT VALUE FOR NONITER SOLVER     ',"
             "'      : ',I8)",
             dim.IBOTMN);
    }
}

double pore_volume(const mesh& msh, const soil& sl) {
    double pores = 0.0;
    for (long i = 1; i <= msh.VOLNOD.size(); ++i) {
        if (msh.own(i)) pores += msh.VOLNOD(i) * sl.PORNOD(i);
    }
    msh.sum(&pores, 1);
    return pores;
}

void mbwarn(const control& ctl, iofiles& io, double pores, const soil& sl, const massbal& mb) {
    const double net = mb.CINOUT - mb.CSTORE;
    const double base = mb.CIN != 0.0 ? mb.CIN : std::fabs(mb.COUT);
    // Below 1e-10 of the pore volume a net error is rounding, whatever share of a tiny inflow
    // it is.
    if (base == 0.0 || !(std::fabs(net) > 0.01 * base) || !(std::fabs(net) > 1.0e-10 * pores)) return;
    const bool in = mb.CIN != 0.0;
    const double pct = 100.0 * net / base;
    wfmt(io.out(6), "(//,' WARNING: THE WATER BUDGET DOES NOT CLOSE',"
                    "/,10X,'NET ERROR OF THE RUN (IN + OUT - STORAGE CHANGE) = ',1PE12.5,"
                    "/,10X,'= ',0PF10.2,' % OF THE WATER THAT ',A,' (',1PE12.5,')')",
         net, pct, in ? "ENTERED" : "LEFT", in ? mb.CIN : mb.COUT);
    // Why: the storage term of KSLOPE 0-4, or, in a density-coupled run, fluxes of fluid mass
    // (weighted by the relative density) set against a change of water volume.
    const char* why = "";
    if (ctl.ITRANS != 0) {
        wfmt(io.out(6), "(10X,'DENSITY-COUPLED RUN: THE FLUXES ARE OF FLUID MASS, THE STORAGE OF',"
                        "' WATER VOLUME')");
        why = "; density-coupled run: the fluxes are of fluid mass, the storage of water volume";
    } else if (sl.KSLOPE != 5) {
        wfmt(io.out(6), "(10X,'KSLOPE = 5 (MASS-CONSERVATIVE STORAGE) CLOSES THE BUDGET')");
        why = "; KSLOPE = 5 (mass-conservative storage) closes it";
    }
    char text[320];
    std::snprintf(text, sizeof text,
                  "%s: warning: the water budget does not close: in + out - storage change = "
                  "%.5e, %.2f %% of the water that %s%s",
                  io.PROGNAME, net, pct, in ? "entered" : "left", why);
    io.STDERR.record(text);
}

bool napwarn(const massbal& mb) {
    for (int k = 1; k <= 2; ++k) {
        if (std::fabs(mb.CNAP[k]) > 0.01 * std::fabs(mb.CATM[k])) return true;
    }
    return false;
}

void napout(iofiles& io, const massbal& mb) {
    if (mb.CNAP[1] == 0.0 && mb.CNAP[2] == 0.0) return;
    ounit& lst = io.out(6);
    wfmt(lst,
         "(//,' ATMOSPHERIC INPUT NOT APPLIED AT',I7,' SURFACE NODES WITH OTHER BC''S',"
         "/,10X,'(',I7,' PRESCRIBED HEAD,',I7,' PRESCRIBED FLUX,',I7,' SEEPAGE FACE)')",
         mb.NAPNOD[1] + mb.NAPNOD[2] + mb.NAPNOD[3], mb.NAPNOD[1], mb.NAPNOD[2], mb.NAPNOD[3]);
    const char* kind[3] = {nullptr, "RAIN       ", "EVAPORATION"};
    for (int k = 1; k <= 2; ++k) {
        if (mb.CNAP[k] == 0.0) continue;
        const double pct = mb.CATM[k] != 0.0 ? 100.0 * mb.CNAP[k] / mb.CATM[k] : 100.0;
        wfmt(lst, "(10X,A,' = ',1PE12.5,' OF ',1PE12.5,' ON THE SURFACE (',0PF7.2,' %)')",
             kind[k], mb.CNAP[k], mb.CATM[k], pct);
    }
    if (napwarn(mb)) {
        wfmt(lst, "(/,' WARNING: MORE THAN 1 % OF THE ATMOSPHERIC INPUT WAS NOT APPLIED')");
    }
}

}  // namespace nep
