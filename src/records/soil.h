// Soil and material parameters, the derived constants of the characteristic curves, and the
// characteristic values per node and per element.
#pragma once

#include <vector>

#include "base/array.h"
#include "records/control.h"
#include "records/dimensions.h"
#include "records/roots.h"

namespace nep {

// The parameters of the characteristic curves and the constants derived from them: those of the
// whole domain (the soil record itself), or of one soil where the soil file gives every soil its
// own retention curve.
struct chcurve {
    double VGN = 0.0, VGRMC = 0.0, VGPSAT = 0.0;
    double HUALFA = 0.0, HUBETA = 0.0, HUGAMA = 0.0, HUPSIA = 0.0, HUSWR = 0.0;
    double HUN = 0.0, HUA = 0.0, HUB = 0.0;
    double BCBETA = 0.0, BCRMC = 0.0, BCPSAT = 0.0;

    // Derived constants of the chosen curve model (chparm).
    // van Genuchten and extended van Genuchten:
    double VGM = 0.0;      // m = (n - 1)/n
    double VGN1 = 0.0;     // n - 1
    double VGM25 = 0.0;    // 2.5 m
    double VGNINV = 0.0;   // 1/n
    double VGM1 = 0.0;     // m - 1
    double VGMINV = 0.0;   // 1/m
    double VGPSN = 0.0;    // |VGPSAT|**n
    // Huyakorn:
    double HU1SWR = 0.0;   // 1 - HUSWR
    double HUALBE = 0.0;   // HUALFA**HUBETA
    double HUGA1 = 0.0;    // HUGAMA + 1
    double HUGA2 = 0.0;    // HUGAMA + 2
    double HUGABE = 0.0;   // HUGAMA*HUBETA
    double HUGAB1 = 0.0;   // HUGAMA*HUBETA + 1
    double HU1BET = 0.0;   // 1 - HUBETA
    double HUN1 = 0.0;     // HUN - 1 (Kr = Se**HUN)
    double HUA2 = 0.0;     // 2 HUA (log-quadratic Kr)
    double HUB2A = 0.0;    // HUB - 2 HUA
    double HUAB = 0.0;     // HUA - HUB
    double ALN10 = 0.0;    // ln 10
    // Brooks-Corey:
    double BCBET1 = 0.0;   // BCBETA + 1
    double BCBET2 = 0.0;   // BCBETA + 2
    double BCDDSE = 0.0;   // BCBETA*(BCBETA + 1)/BCPSAT**2
    double BCDSE = 0.0;    // BCBETA/|BCPSAT|
    double BCKRX = 0.0;    // 3 BCBETA + 2, exponent of Kr
    double BCDKR = 0.0;    // (3 BCBETA + 2)/|BCPSAT|
    double BCDKRX = 0.0;   // 3 BCBETA + 3, exponent of dKr/dpsi
};

struct soil : chcurve {
    // Derivative options of the characteristic curves (parameter file).
    int KSLOPE = 0;
    double TOLKSL = 0.0;
    double PKRL = 0.0, PKRR = 0.0, PSEL = 0.0, PSER = 0.0;
    double PDSE1L = 0.0, PDSE1R = 0.0, PDSE2L = 0.0, PDSE2R = 0.0;

    // Soil file.
    double PMIN = 0.0;   // air-dry pressure head
    int IVGHU = 0;       // 0 VG, 1 XVG, 2 Huyakorn Se**HUN, 3 Huyakorn log-quadratic, 4 Brooks-Corey
    arr2<double> XPERM, YPERM, ZPERM, STORAGE, POROSITY;  // (NSTR, NZONE)

    // A retention curve per soil (the CURVES section of the soil file; all empty without it, and
    // then the curves above hold everywhere). A soil is a layer L and material type k of the
    // tables above, numbered by its place in them: L + (k - 1)*NSTR.
    std::vector<chcurve> SOILCH;  // (NSTR*NZONE) the curve of soil s in SOILCH[s - 1]
    arr1<double> PXVGS;           // (NSTR*NZONE) XVG: head above which soil s's curve is linear
    // The soils of the tetrahedra around each node: entries ISOIP(i) to ISOIP(i + 1) - 1 of node
    // i, with the soil number ISOIL, the share WSOIL of the node's tetrahedra that are of that
    // soil (tpnodic), and the weight WSE of the soil's Se in the node's Se (chparm). A node's
    // water content is the mean of its tetrahedra's, each from its own soil's curve, as its
    // porosity is the mean of theirs; its Kr is the mean of theirs.
    arr1<int> ISOIP;    // (N + 1)
    arr1<int> ISOIL;    // (entries)
    arr1<double> WSOIL, WSE;  // (entries)
    // (N) The node's residual moisture content over its porosity (VG, BC; the residual
    // saturation for the Huyakorn models); SEFRAC then holds 1 minus it for every model but XVG.
    arr1<double> SRES;
    arr1<double> DKRNOD;  // (N) KSLOPE = 4, Newton: the window slope of Kr of every node

    // Fixed window slopes of KSLOPE = 4 (chinit): one shared value in entry 1, except for the
    // extended van Genuchten model and curves per soil, where every node has its own.
    arr1<double> DSESLP;        // (N) chord slope of Se over [PSEL, PSER]
    arr1<double> DDSE1, DDSE2;  // (N) slopes of dSe/dpsi over range 1 and range 2
    double DKRSLP = 0.0;        // chord slope of Kr over [PKRL, PKRR] (DKRNOD per node)

    // Nodal factors of the curve models (chparm).
    arr1<double> SEFRAC;  // (N) (PORNOD - residual moisture content)/PORNOD, VG and BC
    arr1<double> PXVG;    // (N) XVG: head above which the node's retention curve is linear

    // Nodal averages over the tetrahedra around each node.
    arr1<double> SNODI, PORNOD;  // (N)

    // Characteristic values per node.
    arr1<double> SW, CKRW, STCOEF, DSTCOEF, DCKRW;  // (N)
    // (N, Picard runs) The head at which STCOEF (with the analytic slope) and CKRW of a node were
    // last formed, NaN when they hold anything else: a node whose head has not moved by a bit
    // keeps them without a new evaluation of its curves. Created by chpic.
    arr1<double> CHHEAD;

    // Water held per unit volume, W = porosity*SW + Ss*SW*psi (theta for XVG), at the current
    // iterate and at the start of the step: the storage of the mass-conservative scheme
    // (KSLOPE = 5 only; NWAT entries).
    arr1<double> WNEW, WSAVE;

    // Solute properties (solute-parameter file, coupled runs): density of fresh water, density
    // and viscosity difference ratios (relative density 1 + EPSLON*c, relative viscosity
    // 1 + EPSLON1*c), molecular diffusion.
    double RHO0 = 0.0, EPSLON = 0.0, DIFFUS = 0.0, EPSLON1 = 0.0;
    // Longitudinal and transverse dispersivities and retardation factors (coupled runs).
    arr2<double> ALFAL, ALFAT, RETARD;  // (NSTR, NZONE)
    arr1<double> RETNOD;  // (N) retardation averaged over the tetrahedra around each node

    // Root water uptake (the roots section of the parameter file; RT.ON false without it).
    roots RT;
};

// Creates the arrays from the sizes; releases them at the end of the run.
void alloc_soil(const dimensions& dim, const control& ctl, soil& sl);
void release_soil(soil& sl);

}  // namespace nep
