#include "bc/atmosphere.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "base/format.h"
#include "base/procs.h"
#include "bc/series.h"

namespace nep {

namespace {

// The eight HGFLAG messages: node number, TIME, DELTAT, actual flux, potential flux.
const char* const kHgflagFormat[9] = {
    nullptr,
    "(  ' HGFLAG(1) AT SATURATED SURFACE NODE ',I6,"
    "' (TIME=',1PE8.2,', DELTAT=',1PE8.2,')',"
    "/,11X,'ACTUAL    INFLOW: INFILTRATION  (',1PE12.5,')',"
    "/,11X,'POTENTIAL INFLOW: PRECIPITATION (',1PE12.5,')',"
    "/,11X,'MAGNITUDE OF ACTUAL EXCEEDS MAGNITUDE OF',"
    "' POTENTIAL')",

    "(  ' HGFLAG(2) AT AIR DRY   SURFACE NODE ',I6,"
    "' (TIME=',1PE8.2,', DELTAT=',1PE8.2,')',"
    "/,11X,'ACTUAL    INFLOW: EXFILTRATION  (',1PE12.5,')',"
    "/,11X,'POTENTIAL INFLOW: PRECIPITATION (',1PE12.5,')',"
    "/,11X,'SURFACE RUNOFF GENERATED AT AN AIR DRY NODE')",

    "(  ' HGFLAG(3) AT AIR DRY   SURFACE NODE ',I6,"
    "' (TIME=',1PE8.2,', DELTAT=',1PE8.2,')',"
    "/,11X,'ACTUAL    INFLOW: INFILTRATION  (',1PE12.5,')',"
    "/,11X,'POTENTIAL INFLOW: PRECIPITATION (',1PE12.5,')',"
    "/,11X,'MAGNITUDE OF ACTUAL EXCEEDS MAGNITUDE OF',"
    "' POTENTIAL')",

    "(  ' HGFLAG(4) AT AIR DRY   SURFACE NODE ',I6,"
    "' (TIME=',1PE8.2,', DELTAT=',1PE8.2,')',"
    "/,11X,'ACTUAL    INFLOW: INFILTRATION  (',1PE12.5,')',"
    "/,11X,'POTENTIAL INFLOW: PRECIPITATION (',1PE12.5,')',"
    "/,11X,'INFILTRATION AT AN AIR DRY NODE')",

    "(  ' HGFLAG(5) AT SATURATED SURFACE NODE ',I6,"
    "' (TIME=',1PE8.2,', DELTAT=',1PE8.2,')',"
    "/,11X,'ACTUAL    INFLOW: EXFILTRATION  (',1PE12.5,')',"
    "/,11X,'POTENTIAL INFLOW: EVAPORATION   (',1PE12.5,')',"
    "/,11X,'EXFILTRATION AT A SATURATED NODE')",

    "(  ' HGFLAG(6) AT SATURATED SURFACE NODE ',I6,"
    "' (TIME=',1PE8.2,', DELTAT=',1PE8.2,')',"
    "/,11X,'ACTUAL    INFLOW: INFILTRATION  (',1PE12.5,')',"
    "/,11X,'POTENTIAL INFLOW: EVAPORATION   (',1PE12.5,')',"
    "/,11X,'INFILTRATION AT A SATURATED NODE WITH',"
    "' EVAPORATIVE POTENTIAL FLUX')",

    "(  ' HGFLAG(7) AT AIR DRY   SURFACE NODE ',I6,"
    "' (TIME=',1PE8.2,', DELTAT=',1PE8.2,')',"
    "/,11X,'ACTUAL    INFLOW: EXFILTRATION  (',1PE12.5,')',"
    "/,11X,'POTENTIAL INFLOW: EVAPORATION   (',1PE12.5,')',"
    "/,11X,'MAGNITUDE OF ACTUAL EXCEEDS MAGNITUDE OF',"
    "' POTENTIAL')",

    "(  ' HGFLAG(8) AT AIR DRY   SURFACE NODE ',I6,"
    "' (TIME=',1PE8.2,', DELTAT=',1PE8.2,')',"
    "/,11X,'ACTUAL    INFLOW: INFILTRATION  (',1PE12.5,')',"
    "/,11X,'POTENTIAL INFLOW: EVAPORATION   (',1PE12.5,')',"
    "/,11X,'INFILTRATION AT AN AIR DRY NODE WITH',"
    "' EVAPORATIVE POTENTIAL FLUX')",
};

// Reads the rates of one record into ATMINP(3, .): one value for the whole surface, or one per
// surface node in node order when HSPATM = 0 (of the deck's surface: a mesh of one process of
// several keeps those of its nodes).
void read_rates(freader& fr, const mesh& msh, int NNOD, bcdata& bc) {
    fr.begin();
    if (bc.HSPATM != 0) {
        fr.get(bc.ATMINP(3, 1));
        fr.finish();
        for (int j = 2; j <= NNOD; ++j) bc.ATMINP(3, j) = bc.ATMINP(3, 1);
    } else {
        double v = 0.0;
        for (long s = 1; s <= msh.deck_surface(NNOD); ++s) {
            fr.get(v);
            if (const int j = msh.held_surface(s)) bc.ATMINP(3, j) = v;
        }
        fr.finish();
    }
}

// Passes every record whose time is not after TIME (the loop of atmone and atmnxt).
void advance(const mesh& msh, int NNOD, double TIME, iofiles& io, bcdata& bc) {
    freader& fr = io.in(kAtmUnit);
    double* T = bc.ATMTIM;
    while (TIME > T[3]) {
        T[1] = T[2];
        T[2] = T[3];
        for (int j = 1; j <= NNOD; ++j) {
            bc.ATMINP(1, j) = bc.ATMINP(2, j);
            bc.ATMINP(2, j) = bc.ATMINP(3, j);
        }
        double t = 0.0;
        if (!read_series_time(io, fr, t, true, T[2])) {
            bc.ATMEOF = 1;  // the last rates hold: records 2 and 3 are now equal
            break;
        }
        T[3] = t;
        read_rates(fr, msh, NNOD, bc);
    }
}

// The roots section: of an evaporative demand (a negative potential flux) the share TRFRAC of
// each node is potential transpiration, taken from the soil by the roots of the node's column;
// ATMPOT keeps the rest, the evaporation of the ground. Rain leaves transpiration at 0.
void split_transpiration(int NNOD, bcdata& bc) {
    if (bc.TRFRAC.empty()) return;
    for (int j = 1; j <= NNOD; ++j) {
        const double f = bc.TRFRAC[(std::size_t)(j - 1)];
        double& pot = bc.ATMPOT(j);
        double& tp = bc.TRPOT[(std::size_t)(j - 1)];
        tp = 0.0;
        if (pot < 0.0 && f > 0.0) {
            tp = -f * pot;
            pot += tp;
        }
    }
}

// Potential fluxes at TIME: interpolated rate times the area of the node.
void potential(int NNOD, double TIME, const mesh& msh, bcdata& bc) {
    const double* T = bc.ATMTIM;
    switch (series_interval(T, TIME)) {
    case 2:
        for (int j = 1; j <= NNOD; ++j) {
            bc.ATMPOT(j) = (bc.ATMINP(2, j) + (bc.ATMINP(3, j) - bc.ATMINP(2, j)) / (T[3] - T[2]) *
                                                  (TIME - T[2])) *
                           msh.ARENOD(j);
        }
        break;
    case 1:
        for (int j = 1; j <= NNOD; ++j) {
            bc.ATMPOT(j) = (bc.ATMINP(1, j) + (bc.ATMINP(2, j) - bc.ATMINP(1, j)) / (T[2] - T[1]) *
                                                  (TIME - T[1])) *
                           msh.ARENOD(j);
        }
        break;
    default:
        for (int j = 1; j <= NNOD; ++j) bc.ATMPOT(j) = bc.ATMINP(3, j) * msh.ARENOD(j);
        break;
    }
    split_transpiration(NNOD, bc);
}

// A surface node that carries another boundary condition is not atmospheric; the first
// condition found (prescribed head, prescribed flux, seepage face) names it in the report of
// the input it does not receive.
void unmark(int node, int NNOD, int other, bcdata& bc) {
    if (node < 1 || node > NNOD) return;
    bc.IFATM(node) = bc.IFATMP(node) = -1;
    if (bc.ATMOTH(node) == 0) bc.ATMOTH(node) = other;
}

void mark_other_conditions(const dimensions& dim, bcdata& bc) {
    const int NNOD = dim.NNOD;
    for (int k = 1; k <= dim.NP; ++k) unmark(bc.DIRNOD(k), NNOD, 1, bc);
    for (int k = 1; k <= dim.NQ; ++k) unmark(bc.NEUNOD(k), NNOD, 2, bc);
    // The seepage-face nodes at the surface.
    for (int k = 1; k <= dim.NSF; ++k) {
        for (int i = 1; i <= bc.NSFNUM(k); ++i) unmark(bc.SFNOD(k, i), NNOD, 3, bc);
    }
}

// The pressure head above which water stands on the ground at a flux-controlled node: 5 cm, in
// the deck's unit of length when the parameter file names it (UNITS), else the deck is taken to
// be in metres.
double standing_head(const iofiles& io) {
    const std::string& u = io.EXTRA.LUNIT;
    if (u == "cm") return 5.0;
    if (u == "mm") return 50.0;
    if (u == "km") return 5.0e-5;
    if (u == "ft") return 0.05 / 0.3048;
    return kStandingHead;
}

void hgflag(int k, int node, const control& ctl, double ACT, double POT, iofiles& io, bcdata& bc) {
    bc.HGFLAG[k] += 1;
    wfmt(io.out(kHgflagUnit), kHgflagFormat[k], node, ctl.TIME, ctl.DELTAT, ACT, POT);
}

}  // namespace

void atmone(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
            const soil& sl, flowstate& fs) {
    const int NNOD = dim.NNOD;
    const double TIME = ctl.TIME;
    freader& fr = io.in(kAtmUnit);

    bc.ATMEOF = 0;
    bc.ATMIN = false;
    bc.ATMTIM[1] = bc.ATMTIM[2] = 0.0;
    for (int j = 1; j <= NNOD; ++j) {
        bc.IFATM(j) = bc.IFATMP(j) = 0;
        bc.ATMINP(1, j) = bc.ATMINP(2, j) = 0.0;
        bc.ATMPOT(j) = bc.ATMACT(j) = bc.ATMACP(j) = bc.ATMPOP(j) = 0.0;
        bc.ATMOTH(j) = bc.PONDEP(j) = 0;
    }

    // An empty file is no atmospheric input, and so is HSPATM = 9999: nothing is marked.
    if (fr.at_end()) return;
    fr.read(bc.HSPATM);
    if (bc.HSPATM == kNoAtmInput) {
        bc.ATMEOF = 1;
        return;
    }
    wfmt(io.out(6), "(/,5X,'HSPATM(0 SPAT. VAR. ATM BC, ELSE HOMO.) = ',I6)", bc.HSPATM);
    bc.ATMIN = true;

    double t = 0.0;
    if (!read_series_time(io, fr, t, false, 0.0)) {
        bc.ATMEOF = 1;
    } else {
        bc.ATMTIM[3] = t;
        read_rates(fr, msh, NNOD, bc);
        // A record at or before time 0 already drove the fluxes of the previous time level.
        if (bc.ATMTIM[3] <= 0.0) {
            for (int j = 1; j <= NNOD; ++j) {
                bc.ATMACP(j) = bc.ATMINP(3, j) * msh.ARENOD(j);
                if (!bc.TRFRAC.empty() && bc.ATMACP(j) < 0.0) {
                    bc.ATMACP(j) *= 1.0 - bc.TRFRAC[(std::size_t)(j - 1)];
                }
                bc.ATMPOP(j) = bc.ATMACP(j);
            }
        }
        advance(msh, NNOD, TIME, io, bc);
        potential(NNOD, TIME, msh, bc);
    }

    mark_other_conditions(dim, bc);

    // Initial switch: ponded under rain, air-dry under evaporation, at both time levels.
    const double PMIN = sl.PMIN;
    for (int j = 1; j <= NNOD; ++j) {
        if (bc.IFATM(j) == -1) continue;
        if (fs.PNEW(j) >= 0.0 && bc.ATMPOT(j) > 0.0 && !bc.PONDRT) {
            fs.PNEW(j) = 0.0;
            bc.IFATM(j) = 1;
        }
        if (fs.PSAVE(j) >= 0.0 && bc.ATMACP(j) > 0.0 && !bc.PONDRT) {
            fs.PSAVE(j) = 0.0;
            bc.IFATMP(j) = 1;
        }
        if (fs.PNEW(j) <= PMIN && bc.ATMPOT(j) < 0.0) {
            fs.PNEW(j) = PMIN;
            bc.IFATM(j) = 1;
        }
        if (fs.PSAVE(j) <= PMIN && bc.ATMACP(j) < 0.0) {
            fs.PSAVE(j) = PMIN;
            bc.IFATMP(j) = 1;
        }
    }
    for (int j = 1; j <= NNOD; ++j) {
        bc.ATMACT(j) = bc.IFATM(j) != 0 ? 0.0 : bc.ATMPOT(j);
        if (bc.IFATMP(j) == 1) bc.ATMACP(j) = 0.0;
    }
}

void atmnxt(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh, bcdata& bc) {
    const int NNOD = dim.NNOD;
    if (bc.ATMEOF == 0) advance(msh, NNOD, ctl.TIME, io, bc);
    potential(NNOD, ctl.TIME, msh, bc);
    for (int j = 1; j <= NNOD; ++j) {
        if (bc.IFATM(j) == 0) bc.ATMACT(j) = bc.ATMPOT(j);
    }
}

void atmbak(const dimensions& dim, const control& ctl, const mesh& msh, bcdata& bc) {
    const double* T = bc.ATMTIM;
    if (T[1] >= T[2]) return;
    const double TIME = ctl.TIME;
    for (int j = 1; j <= dim.NNOD; ++j) {
        bc.ATMPOT(j) = (bc.ATMINP(1, j) + (bc.ATMINP(2, j) - bc.ATMINP(1, j)) / (T[2] - T[1]) *
                                              (TIME - T[1])) *
                       msh.ARENOD(j);
    }
    split_transpiration(dim.NNOD, bc);
    for (int j = 1; j <= dim.NNOD; ++j) {
        if (bc.IFATM(j) == 0) bc.ATMACT(j) = bc.ATMPOT(j);
    }
}

void atmtrp(const dimensions& dim, const control& ctl, const mesh& msh, bcdata& bc) {
    if (bc.TRFRAC.empty() || !bc.ATMIN) return;
    const std::vector<double> keep(bc.ATMPOT.begin(), bc.ATMPOT.begin() + dim.NNOD);
    potential(dim.NNOD, ctl.TIME, msh, bc);
    for (int j = 1; j <= dim.NNOD; ++j) bc.ATMPOT(j) = keep[(std::size_t)(j - 1)];
}

void atmswt(const dimensions& dim, bcdata& bc, const soil& sl, flowstate& fs) {
    const double PMIN = sl.PMIN;
    for (int j = 1; j <= dim.NNOD; ++j) {
        const int st = bc.IFATM(j);
        if (st == -1) continue;
        const double P = fs.PNEW(j);
        const double POT = bc.ATMPOT(j);
        const double ACT = bc.ATMACT(j);
        if (st == 1 && P >= 0.0 && (POT < 0.0 || ACT > POT)) {
            // A ponded node: the rain stopped, or the soil takes more than the rain brings.
            bc.IFATM(j) = 0;
            bc.ATMACT(j) = POT;
        } else if (st == 1 && P <= PMIN && (POT > 0.0 || POT > ACT)) {
            // An air-dry node: rain again, or the demand is below what the soil delivers.
            bc.IFATM(j) = 0;
            bc.ATMACT(j) = POT;
        } else if (st == 0 && P >= 0.0 && POT > 0.0 && !bc.PONDRT) {
            bc.IFATM(j) = 1;  // ponding
            fs.PNEW(j) = 0.0;
        } else if (st == 0 && P <= PMIN && POT < 0.0) {
            bc.IFATM(j) = 1;  // air-dry
            fs.PNEW(j) = PMIN;
        }
    }
}

void hgraph(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
            const soil& sl, const flowstate& fs, massbal& mb) {
    const double PMIN = sl.PMIN;
    double sum[4] = {0.0, 0.0, 0.0, 0.0};  // POTFLX, ACTFLX, OVLFLX, RETFLX
    // The diagnostics, four values each (the node, the flag, ACT and POT), written after the
    // loop in the order of the deck's nodes (those of every process).
    std::vector<double> flags;
    auto flag = [&](int k, int i, double ACT, double POT) {
        flags.insert(flags.end(), {(double)msh.deck_node(i), (double)k, ACT, POT});
    };
    for (int i = 1; i <= dim.NNOD; ++i) {
        if (bc.IFATM(i) == -1 || !msh.own(i)) continue;
        const double P = fs.PNEW(i);
        const double POT = bc.ATMPOT(i);
        const double ACT = bc.ATMACT(i);
        sum[0] += POT;
        sum[1] += ACT;
        if (bc.IFATM(i) != 1) continue;
        if (POT >= 0.0) {  // rain
            if (ACT < 0.0 && P >= 0.0) {
                sum[3] -= ACT;
                sum[2] += POT;
            } else if (ACT >= 0.0 && P >= 0.0) {
                if (POT < ACT) {
                    flag(1, i, ACT, POT);
                } else {
                    sum[2] += POT - ACT;
                }
            } else if (ACT < 0.0 && P <= PMIN) {
                sum[2] += POT;
                flag(2, i, ACT, POT);
            } else if (ACT >= 0.0 && P <= PMIN) {
                if (POT < ACT) {
                    flag(3, i, ACT, POT);
                } else {
                    sum[2] += POT - ACT;
                }
                flag(4, i, ACT, POT);
            }
        } else {  // evaporation
            if (ACT < 0.0 && P >= 0.0) {
                flag(5, i, ACT, POT);
            } else if (ACT >= 0.0 && P >= 0.0) {
                flag(6, i, ACT, POT);
            } else if (ACT < 0.0 && P <= PMIN) {
                if (ACT < POT) flag(7, i, ACT, POT);
            } else if (ACT >= 0.0 && P <= PMIN) {
                flag(8, i, ACT, POT);
            }
        }
    }
    // The sums and the diagnostics of the whole mesh.
    msh.sum(sum, 4);
    msh.in_deck_order(flags, 4);
    mb.POTFLX = sum[0];
    mb.ACTFLX = sum[1];
    mb.OVLFLX = sum[2];
    mb.RETFLX = sum[3];
    for (std::size_t k = 0; k < flags.size(); k += 4) {
        hgflag((int)flags[k + 1], (int)flags[k], ctl, flags[k + 2], flags[k + 3], io, bc);
    }
}

void pondck(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
            const flowstate& fs) {
    if (!bc.ATMIN || bc.PONDRT) return;  // routed water on the ground is no fault
    const double limit = standing_head(io);
    // The nodes whose episode starts, two values each (the deck's node, the head); several
    // processes report them together, in the order of the deck's nodes.
    std::vector<double> start;
    for (int j = 1; j <= dim.NNOD; ++j) {
        if (!msh.own(j)) continue;
        if (bc.IFATM(j) != 0 || !(fs.PNEW(j) > limit)) {
            bc.PONDEP(j) = 0;  // the episode, if any, has ended
        } else if (bc.PONDEP(j) == 0) {
            bc.PONDEP(j) = 1;
            start.insert(start.end(), {(double)msh.deck_node(j), fs.PNEW(j)});
        }
    }
    msh.in_deck_order(start, 2);
    bc.NPONDEP += (int)(start.size() / 2);
    for (std::size_t k = 0; k < start.size(); k += 2) {
        for (int unit : {6, kTermUnit}) {
            wfmt(io.out(unit),
                 "(/,' WARNING: WATER STANDS ABOVE THE GROUND AT FLUX-CONTROLLED SURFACE NODE',"
                 "I9,/,10X,'TIME = ',1PE12.5,'   PRESSURE HEAD = ',1PE12.5)",
                 (int)start[k], ctl.TIME, start[k + 1]);
        }
    }
}

}  // namespace nep
