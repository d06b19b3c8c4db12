// The soil room: the soil file and the characteristic curves. It includes only the records and
// base floors.
//
// Unsaturated characteristic curves: effective saturation Se (moisture content theta for the
// extended van Genuchten model), its first and second derivatives, relative conductivity Kr and
// its derivative, for the five models of IVGHU; and the nodal routines that turn them into SW,
// CKRW, STCOEF, DSTCOEF and DCKRW.
//
// A point evaluation computes the shared power terms of its head once (b, (1+b)**m, b**m, Se)
// and only the quantities asked for; the nodal loops are instantiated per model so that the
// model choice costs nothing inside them.
#pragma once

#include <cmath>
#include <cstddef>

#include "records/control.h"
#include "records/dimensions.h"
#include "records/iofiles.h"
#include "records/soil.h"

namespace nep {

// What a point evaluation is asked for.
enum : unsigned {
    CH_SE = 1u,    // Se (theta for XVG)
    CH_DSE = 2u,   // dSe/dpsi (moisture capacity C for XVG)
    CH_DDSE = 4u,  // d2Se/dpsi2 (dC/dpsi for XVG)
    CH_KR = 8u,    // Kr
    CH_DKR = 16u,  // dKr/dpsi
};

// The values at one pressure head. Se is always set; the others only when asked for (or when
// another asked quantity needs them).
struct chpoint {
    double se = 1.0, dse = 0.0, ddse = 0.0, kr = 1.0, dkr = 0.0;
};

// Heads above these limits are saturated (the tests are strict: a head equal to the limit is wet).
constexpr double VG_WET = -1.0e-14;

inline void ch_saturated(chpoint& c) {
    c.se = 1.0;
    c.dse = 0.0;
    c.ddse = 0.0;
    c.kr = 1.0;
    c.dkr = 0.0;
}

// van Genuchten terms of one unsaturated head: b = (psi/VGPSAT)**n, 1 + b, (1 + b)**m.
struct vgterms {
    double b, opb, opbm;
};

inline vgterms vg_terms(const chcurve& s, double psi) {
    vgterms t;
    t.b = std::pow(psi / s.VGPSAT, s.VGN);
    t.opb = 1.0 + t.b;
    t.opbm = std::pow(t.opb, s.VGM);
    return t;
}

inline double vg_dse(const chcurve& s, double psi, const vgterms& t) {
    return s.VGN1 * std::pow(std::fabs(psi), s.VGN1) / s.VGPSN * std::pow(t.opb, s.VGNINV) /
           (t.opb * t.opb);
}

inline double vg_ddse(const chcurve& s, double psi, const vgterms& t) {
    return s.VGN1 * t.b / (psi * psi) * ((t.b - 1.0) * s.VGN + 1.0) / (t.opbm * (t.opb * t.opb));
}

// Mualem-van Genuchten Kr from Se.
inline double vg_kr(const chcurve& s, double se) {
    const double f = 1.0 - std::pow(1.0 - std::pow(se, s.VGMINV), s.VGM);
    return std::sqrt(se) * (f * f);
}

// dKr/dpsi of both van Genuchten models; bm = b**m. (b**(m-1) = VGPSAT/psi.)
inline double vg_dkr(const chcurve& s, double psi, const vgterms& t, double bm) {
    return s.VGN1 * (t.b / psi) * std::pow(t.opb, -s.VGM25) * (t.opbm - bm) *
           ((s.VGPSAT / psi) * (2.5 * t.b / t.opb - 2.0) - 0.5 * std::pow(t.opb, s.VGM1));
}

// van Genuchten (IVGHU = 0).
inline void vg_point(const chcurve& s, double psi, unsigned want, chpoint& c) {
    if (!(psi < VG_WET)) {
        ch_saturated(c);
        return;
    }
    const vgterms t = vg_terms(s, psi);
    c.se = 1.0 / t.opbm;
    if (want & CH_DSE) c.dse = vg_dse(s, psi, t);
    if (want & CH_DDSE) c.ddse = vg_ddse(s, psi, t);
    if (want & CH_KR) c.kr = vg_kr(s, c.se);
    if (want & CH_DKR) c.dkr = vg_dkr(s, psi, t, std::pow(t.b, s.VGM));
}

// The same point with the fewest powers, for the mass-conservative scheme (KSLOPE = 5), which has
// no listing of the specified arithmetic to reproduce. The powers of one head are
// b = (psi/VGPSAT)**n and (1 + b)**m; the others follow from them, since n*m = n - 1 and
// 1/n = 1 - m: |psi|**(n-1)/|VGPSAT|**n = b/|psi|, (1 + b)**(1/n) = (1 + b)/(1 + b)**m,
// b**m = b*VGPSAT/psi, Se**(1/m) = 1/(1 + b) and (1 + b)**(-2.5m) = Se**2.5, so that
// Kr = sqrt(Se)*(1 - b**m*Se)**2. The results agree with vg_point to rounding.
inline void vg_point_fast(const chcurve& s, double psi, unsigned want, chpoint& c) {
    if (!(psi < VG_WET)) {
        ch_saturated(c);
        return;
    }
    const vgterms t = vg_terms(s, psi);
    const double se = 1.0 / t.opbm;
    c.se = se;
    if (want & CH_DSE) c.dse = s.VGN1 * t.b / (std::fabs(psi) * t.opbm * t.opb);
    if (want & CH_DDSE) c.ddse = vg_ddse(s, psi, t);
    if (want & (CH_KR | CH_DKR)) {
        const double bm = t.b * (s.VGPSAT / psi);
        const double f = 1.0 - bm * se;
        if (want & CH_KR) c.kr = std::sqrt(se) * (f * f);
        if (want & CH_DKR) {
            c.dkr = s.VGN1 * (t.b / psi) * (se * se * std::sqrt(se)) * (t.opbm - bm) *
                    ((s.VGPSAT / psi) * (2.5 * t.b / t.opb - 2.0) - 0.5 * (t.opbm / t.opb));
        }
    }
}

// Extended van Genuchten (IVGHU = 1) of porosity phi and specific storage ss: theta, C =
// dtheta/dpsi and dC/dpsi follow the van Genuchten curve scaled by (phi - VGRMC) below pxvg and
// continue linearly with slope ss above it (also above zero head); Kr is
// (1+b)**(-2.5m)*((1+b)**m - b**m)**2.
inline void xvg_point(const chcurve& s, double pxvg, double phi, double ss, double psi, unsigned want,
                      chpoint& c) {
    const bool unsat = psi < VG_WET;
    const bool curve = psi < pxvg;
    const bool wantkr = (want & (CH_KR | CH_DKR)) != 0;
    vgterms t{0.0, 1.0, 1.0};
    if (unsat && (curve || wantkr)) t = vg_terms(s, psi);

    const double tr = s.VGRMC;
    const double span = phi - tr;
    if (curve) {
        c.se = tr + span * (unsat ? 1.0 / t.opbm : 1.0);
        if (want & CH_DSE) c.dse = unsat ? span * vg_dse(s, psi, t) : 0.0;
        if (want & CH_DDSE) c.ddse = unsat ? span * vg_ddse(s, psi, t) : 0.0;
    } else {
        if (want & CH_SE) {
            const double bs = std::pow(pxvg / s.VGPSAT, s.VGN);
            c.se = tr + span * (1.0 / std::pow(1.0 + bs, s.VGM)) + ss * (psi - pxvg);
        }
        c.dse = ss;
        c.ddse = 0.0;
    }
    if (wantkr) {
        if (unsat) {
            const double bm = std::pow(t.b, s.VGM);
            if (want & CH_KR) {
                const double f = t.opbm - bm;
                c.kr = std::pow(t.opb, -s.VGM25) * (f * f);
            }
            if (want & CH_DKR) c.dkr = vg_dkr(s, psi, t, bm);
        } else {
            c.kr = 1.0;
            c.dkr = 0.0;
        }
    }
}

// Huyakorn (IVGHU = 2: Kr = Se**HUN; IVGHU = 3: log10 Kr quadratic in Se).
template <bool LOGQ>
inline void hu_point(const chcurve& s, double psi, unsigned want, chpoint& c) {
    if (!(s.HUPSIA > psi)) {
        ch_saturated(c);
        return;
    }
    const double d = s.HUPSIA - psi;
    const double u = s.HUALBE * std::pow(d, s.HUBETA);
    const double opu = 1.0 + u;
    c.se = std::pow(opu, -s.HUGAMA);
    if (want & (CH_DSE | CH_DKR)) c.dse = s.HUGABE * u * std::pow(opu, -s.HUGA1) / d;
    if (want & CH_DDSE) {
        c.ddse = s.HUGABE * u * std::pow(opu, -s.HUGA2) * (s.HUGAB1 * u + s.HU1BET) / (d * d);
    }
    if (want & (CH_KR | CH_DKR)) {
        const double se = c.se;
        if constexpr (LOGQ) {
            c.kr = std::pow(10.0, s.HUA * se * se + s.HUB2A * se + s.HUAB);
            if (want & CH_DKR) c.dkr = s.ALN10 * (s.HUA2 * se + s.HUB2A) * c.kr * c.dse;
        } else {
            c.kr = std::pow(se, s.HUN);
            if (want & CH_DKR) c.dkr = s.HUN * std::pow(se, s.HUN1) * c.dse;
        }
    }
}

// Brooks-Corey (IVGHU = 4).
inline void bc_point(const chcurve& s, double psi, unsigned want, chpoint& c) {
    if (!(s.BCPSAT > psi)) {
        ch_saturated(c);
        return;
    }
    const double r = s.BCPSAT / psi;
    c.se = std::pow(r, s.BCBETA);
    if (want & CH_DSE) c.dse = s.BCDSE * std::pow(r, s.BCBET1);
    if (want & CH_DDSE) c.ddse = s.BCDDSE * std::pow(r, s.BCBET2);
    if (want & CH_KR) c.kr = std::pow(r, s.BCKRX);
    if (want & CH_DKR) c.dkr = s.BCDKR * std::pow(r, s.BCDKRX);
}

// The curve of model M (= IVGHU) alone; FAST takes the van Genuchten point with the fewest
// powers. (XVG needs a porosity and a storage: soil_point and ch_point.)
template <int M, bool FAST = false>
inline void curve_point(const chcurve& s, double psi, unsigned want, chpoint& c) {
    static_assert(M >= 0 && M <= 4 && M != 1, "curve model");
    if constexpr (M == 0 && FAST) vg_point_fast(s, psi, want, c);
    else if constexpr (M == 0) vg_point(s, psi, want, c);
    else if constexpr (M == 2) hu_point<false>(s, psi, want, c);
    else if constexpr (M == 3) hu_point<true>(s, psi, want, c);
    else bc_point(s, psi, want, c);
}

// The model M at head psi of node i with the curves of the whole domain (the node matters for
// XVG only).
template <int M, bool FAST = false>
inline void ch_point(const soil& s, long i, double psi, unsigned want, chpoint& c) {
    static_assert(M >= 0 && M <= 4, "curve model");
    if constexpr (M == 1) xvg_point(s, s.PXVG(i), s.PORNOD(i), s.SNODI(i), psi, want, c);
    else curve_point<M, FAST>(s, psi, want, c);
}

// True when every soil has its own retention curve (the CURVES section of the soil file).
inline bool ch_by_soil(const soil& s) { return !s.SOILCH.empty(); }

// The curve of soil k (a soil file with a curve per soil) at head psi.
template <int M, bool FAST = false>
inline void soil_point(const soil& s, int k, double psi, unsigned want, chpoint& c) {
    const chcurve& p = s.SOILCH[(std::size_t)k - 1];
    if constexpr (M == 1) {
        xvg_point(p, s.PXVGS(k), s.POROSITY.data()[k - 1], s.STORAGE.data()[k - 1], psi, want, c);
    } else {
        curve_point<M, FAST>(p, psi, want, c);
    }
}

// Node i with a curve per soil: the mean of the curves of the soils around it, Se (theta for
// XVG) and its derivatives with the weights WSE, Kr and its derivative with the shares WSOIL. A
// node inside one soil takes that soil's curve.
template <int M, bool FAST = false>
inline void mix_point(const soil& s, long i, double psi, unsigned want, chpoint& c) {
    const int a = s.ISOIP(i), b = s.ISOIP(i + 1);
    if (b - a == 1) {
        soil_point<M, FAST>(s, s.ISOIL(a), psi, want, c);
        return;
    }
    double se = 0.0, dse = 0.0, ddse = 0.0, kr = 0.0, dkr = 0.0;
    for (int j = a; j < b; ++j) {
        chpoint p;
        soil_point<M, FAST>(s, s.ISOIL(j), psi, want, p);
        const double w = s.WSE(j), v = s.WSOIL(j);
        se += w * p.se;
        dse += w * p.dse;
        ddse += w * p.ddse;
        kr += v * p.kr;
        dkr += v * p.dkr;
    }
    c.se = se;
    if (want & CH_DSE) c.dse = dse;
    if (want & CH_DDSE) c.ddse = ddse;
    if (want & CH_KR) c.kr = kr;
    if (want & CH_DKR) c.dkr = dkr;
}

// Node i: MIX with a curve per soil, else with the curves of the whole domain.
template <int M, bool FAST = false, bool MIX = false>
inline void node_point(const soil& s, long i, double psi, unsigned want, chpoint& c) {
    if constexpr (MIX) mix_point<M, FAST>(s, i, psi, want, c);
    else ch_point<M, FAST>(s, i, psi, want, c);
}

// The same with the model chosen at run time (IVGHU must be 0..4; chparm has checked it).
inline void ch_eval(const soil& s, long i, double psi, unsigned want, chpoint& c) {
    if (ch_by_soil(s)) {
        switch (s.IVGHU) {
        case 0: mix_point<0>(s, i, psi, want, c); break;
        case 1: mix_point<1>(s, i, psi, want, c); break;
        case 2: mix_point<2>(s, i, psi, want, c); break;
        case 3: mix_point<3>(s, i, psi, want, c); break;
        default: mix_point<4>(s, i, psi, want, c); break;
        }
        return;
    }
    switch (s.IVGHU) {
    case 0: ch_point<0>(s, i, psi, want, c); break;
    case 1: ch_point<1>(s, i, psi, want, c); break;
    case 2: ch_point<2>(s, i, psi, want, c); break;
    case 3: ch_point<3>(s, i, psi, want, c); break;
    default: ch_point<4>(s, i, psi, want, c); break;
    }
}

// dSW/dpsi of node i from the curve derivative dse: SEFRAC(i) for VG and BC, 1 - HUSWR for the
// Huyakorn models, C/PORNOD(i) for XVG; SEFRAC(i) for all but XVG with a curve per soil.
inline double ch_dsw(const soil& s, long i, double dse) {
    switch (s.IVGHU) {
    case 1: return dse / s.PORNOD(i);
    case 2:
    case 3: return ch_by_soil(s) ? s.SEFRAC(i) * dse : s.HU1SWR * dse;
    default: return s.SEFRAC(i) * dse;
    }
}

// Model constants, SEFRAC (VG, BC) or PXVG (XVG); with a curve per soil the constants of every
// soil, PXVGS (XVG) or SEFRAC, SRES and WSE. May stop the run (messages to the main listing and
// to standard output).
void chparm(const dimensions& dim, iofiles& io, soil& sl);
// chparm, then the fixed window slopes when KSLOPE = 4 (sloppc for Picard, slopnw for Newton).
void chinit(const dimensions& dim, const control& ctl, iofiles& io, soil& sl);
// Window slope of Se (theta) over [PSEL, PSER]: DSESLP.
void sloppc(const dimensions& dim, soil& sl);
// DSESLP, then DDSE1, DDSE2 (slopes of dSe/dpsi over the two ranges) and DKRSLP.
void slopnw(const dimensions& dim, soil& sl);
// SW and CKRW at the heads P.
void swkrw(const dimensions& dim, soil& sl, const arr1<double>& P);
// Picard coefficients at PTHETA (PTHOLD: the previous iterate, old end of chord slopes):
// STCOEF and CKRW.
void chpic(const dimensions& dim, soil& sl, const arr1<double>& PTHETA, const arr1<double>& PTHOLD);
// Newton coefficients at PTHETA: STCOEF, DSTCOEF, CKRW, DCKRW.
void chnew(const dimensions& dim, soil& sl, const arr1<double>& PTHETA, const arr1<double>& PTHOLD);
// The mass-conservative scheme (KSLOPE = 5): W, the water held per unit volume
// (porosity*SW + Ss*SW*psi; theta for XVG), at the heads P.
void chwat(const dimensions& dim, const soil& sl, const arr1<double>& P, arr1<double>& W);
// Its coefficients of one iteration: WNEW = W and STCOEF = dW/dpsi (exact) at PNEW, CKRW and,
// for Newton, DCKRW (analytic) at PTHETA.
void chmix(const dimensions& dim, soil& sl, const arr1<double>& PTHETA, const arr1<double>& PNEW,
           bool newton);
// STCOEF at the heads P with analytic derivatives, whatever KSLOPE is (mass balance).
void chstor(const dimensions& dim, soil& sl, const arr1<double>& P);

}  // namespace nep
