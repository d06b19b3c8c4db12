// Mass-balance accumulators: the boundary fluxes and volumes of the current step, the water (and
// solute) balance of the step, and the sums over the run.
//
// Signs: inflow is positive, outflow negative. Every "in" class sums the positive contributions
// and every "out" class the others, so a zero flux counts as outflow.
#pragma once

#include <vector>

namespace nep {

// The eight flow boundary classes, in the order of the listing: A = atmospheric surface nodes,
// N = non-atmospheric, non-seepage-face nodes; DIRIC = head-controlled, NEUMN = flux-controlled;
// I = in, O = out.
enum mb_class : int {
    MB_IADIR = 1,  // IA DIRIC
    MB_OADIR,      // OA DIRIC
    MB_INDIR,      // IN DIRIC
    MB_ONDIR,      // ON DIRIC
    MB_IANEU,      // IA NEUMN
    MB_OANEU,      // OA NEUMN
    MB_INNEU,      // IN NEUMN
    MB_ONNEU       // ON NEUMN
};

// The four solute classes: prescribed-concentration (Dirichlet) and Cauchy boundaries, in and out.
enum mb_tclass : int { MB_TDIRIN = 1, MB_TDIROUT, MB_TCAUIN, MB_TCAUOUT };

struct massbal {
    // Flow: current flux, previous flux (end of the previous step) and volume of the step per
    // class; entries 1..8 as mb_class.
    double FLXCUR[9] = {};
    double FLXPRV[9] = {};
    double FLXVOL[9] = {};

    // Seepage faces: outflow through the saturated face nodes.
    double SFFLX = 0.0, SFFLXP = 0.0, SFVOL = 0.0;

    // Water balance of the step.
    double VIN = 0.0;     // total in volume
    double VOUT = 0.0;    // total out volume (seepage counted as out)
    double DSTORE = 0.0;  // change of stored water volume
    double ERRAS = 0.0;   // absolute error: VIN + VOUT - DSTORE
    double ERREL = 0.0;   // relative error, percent

    // Sums over the steps of the run.
    double CERRAS = 0.0;  // |absolute error|
    double CINOUT = 0.0;  // total in + total out
    double CIN = 0.0;     // total in
    double COUT = 0.0;    // total out
    double CSTORE = 0.0;  // storage change

    // Surface fluxes of the step (written by the atmospheric step, hgraph).
    double POTFLX = 0.0;  // potential fluxes
    double ACTFLX = 0.0;  // actual fluxes
    double OVLFLX = 0.0;  // overland flow generated (rain that does not infiltrate)
    double RETFLX = 0.0;  // return flow (exfiltration from saturated nodes under rain)

    // Atmospheric input that falls on the surface nodes with another condition (IFATM = -1)
    // and is not applied, entries 1 rain (positive potential fluxes), 2 evaporation (the
    // others): the potential fluxes there at the end and at the start of the step, the volumes
    // of the step (formed as those of the atmospheric classes) and their sums over the run; the
    // same for the potential input of every surface node, the whole that fell. NAPNOD: the
    // surface nodes on which input has fallen so far, by their other condition (1 prescribed
    // head, 2 prescribed flux, 3 seepage face); NAPSTEP those with input in the step. NAPON:
    // the deck has surface nodes with another condition and an atmospheric input.
    double NAPCUR[3] = {}, NAPPRV[3] = {}, NAPVOL[3] = {}, CNAP[3] = {};
    double ATMCUR[3] = {}, ATMPRV[3] = {}, ATMVOL[3] = {}, CATM[3] = {};
    int NAPNOD[4] = {};
    int NAPSTEP = 0;
    bool NAPON = false;

    // Water on the ground (the surface-flow section): the volumes of the step, the change of
    // the water standing on the ground (part of DSTORE), the discharge of the outlets (out
    // positive; part of VOUT, negated), the exchange with the soil, infiltration (positive) and
    // exfiltration (negative) apart; their sums over the run.
    bool SURFON = false;
    double SSTORE = 0.0, SOUT = 0.0, SINF = 0.0, SEXF = 0.0;
    double CSSTORE = 0.0, CSOUT = 0.0, CSINF = 0.0, CSEXF = 0.0;
    std::vector<double> SOUTQ;  // the discharge of each outlet at the end of the step

    // Root water uptake (the roots section): the potential transpiration and the water the
    // roots took (out positive; part of VOUT, negated) in the step, their sums over the run.
    bool ROOTON = false;
    double UPTPOT = 0.0, UPTVOL = 0.0, CUPTPOT = 0.0, CUPTVOL = 0.0;

    // Solute (coupled runs): current and previous mass flux and mass of the step per class,
    // entries 1..4 as mb_tclass; the balance of the step and the sums over the run.
    double TFLXCUR[5] = {};
    double TFLXPRV[5] = {};
    double TFLXVOL[5] = {};
    double TVIN = 0.0, TVOUT = 0.0, TDSTORE = 0.0, TERRAS = 0.0, TERREL = 0.0;
    double TCERRAS = 0.0, TCINOUT = 0.0, TCIN = 0.0, TCOUT = 0.0;
};

// Net fluxes of the step for the hydrographs (in + out of the current fluxes).
inline double net_dirflx(const massbal& mb) { return mb.FLXCUR[MB_INDIR] + mb.FLXCUR[MB_ONDIR]; }
inline double net_neuflx(const massbal& mb) { return mb.FLXCUR[MB_INNEU] + mb.FLXCUR[MB_ONNEU]; }
inline double net_dirvol(const massbal& mb) { return mb.FLXVOL[MB_INDIR] + mb.FLXVOL[MB_ONDIR]; }
inline double net_neuvol(const massbal& mb) { return mb.FLXVOL[MB_INNEU] + mb.FLXVOL[MB_ONNEU]; }
inline double net_tdirflx(const massbal& mb) {
    return mb.TFLXCUR[MB_TDIRIN] + mb.TFLXCUR[MB_TDIROUT];
}
inline double net_tcauflx(const massbal& mb) {
    return mb.TFLXCUR[MB_TCAUIN] + mb.TFLXCUR[MB_TCAUOUT];
}

}  // namespace nep
