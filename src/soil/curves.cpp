#include "soil/curves.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/parallel.h"
#include "base/stop.h"
#include "records/iofiles.h"

namespace nep {

namespace {

constexpr int kSoilUnit = 14;
constexpr int kParmUnit = 5;
// Largest number of bisection steps for the linear limit of an XVG curve.
constexpr int kMaxBisect = 500;

// A value for a message: shortest form that keeps ten significant digits.
std::string real_text(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

std::string file_of(const iofiles& io, int unit, const char* role) {
    return std::string(role) + " '" + io.NAMES[unit] + "'";
}

[[noreturn]] void bad_model(iofiles& io, int ivghu) {
    wfmt(io.out(6), "(//,' INPUT ERROR : BAD VALUE IVGHU',I6)", ivghu);
    input_error(file_of(io, kSoilUnit, "soil file") + ": IVGHU = " + std::to_string(ivghu) +
                ", the curve model must be 0 to 4");
}

// How the slope of one quantity is formed at a node.
enum slope_kind : unsigned char { ANALYTIC, CHORD, CENTRED, WINDOW };

// Windows are closed: a head equal to an endpoint is inside.
inline bool inside(double p, double l, double r) { return p >= l && p <= r; }

// far: the head moved by at least TOLKSL since the previous iterate (and moved at all, so that
// the chord exists); centred: TOLKSL is not zero, so that the centred difference exists. A
// chord or difference that does not exist gives way to the analytic derivative.
inline slope_kind slope_for(int kslope, bool far, bool in_window, bool centred) {
    switch (kslope) {
    case 1: return far ? CHORD : ANALYTIC;
    case 2: return far ? CHORD : (centred ? CENTRED : ANALYTIC);
    case 3: return (in_window && far) ? CHORD : ANALYTIC;
    case 4: return in_window ? WINDOW : ANALYTIC;
    default: return ANALYTIC;
    }
}

// Nodal saturation from Se (theta for XVG). MIX: a curve per soil, whose residual part and
// span of the node are SRES and SEFRAC for every model but XVG.
template <int M, bool MIX>
inline double sat_of(const soil& s, long i, double se) {
    if constexpr (M == 1) return se / s.PORNOD(i);
    else if constexpr (MIX) return s.SEFRAC(i) * se + s.SRES(i);
    else if constexpr (M == 0) return s.SEFRAC(i) * se + s.VGRMC / s.PORNOD(i);
    else if constexpr (M == 4) return s.SEFRAC(i) * se + s.BCRMC / s.PORNOD(i);
    else return s.HUSWR + s.HU1SWR * se;
}

// dSW/dSe of node i (all models but XVG).
template <int M, bool MIX>
inline double span_of(const soil& s, long i) {
    if constexpr (MIX || M == 0 || M == 4) return s.SEFRAC(i);
    else return s.HU1SWR;
}

// General storage coefficient from the saturation and the slope s1 of Se (of theta for XVG).
template <int M, bool MIX>
inline double stc_of(const soil& s, long i, double sw, double s1) {
    if constexpr (M == 1) return s1;
    else return sw * s.SNODI(i) + s.PORNOD(i) * span_of<M, MIX>(s, i) * s1;
}

// Its derivative from the slopes s1 of Se and s2 of dSe/dpsi (C and dC/dpsi for XVG).
template <int M, bool MIX>
inline double dstc_of(const soil& s, long i, double s1, double s2) {
    if constexpr (M == 1) {
        return s2;
    } else {
        const double f = span_of<M, MIX>(s, i);
        return s.SNODI(i) * f * s1 + s.PORNOD(i) * f * s2;
    }
}

// Entry of a window-slope array: every node has its own for XVG and with a curve per soil, entry
// 1 is shared otherwise.
template <int M, bool MIX>
inline long slope_entry(long i) {
    return M == 1 || MIX ? i : 1;
}

// Water held per unit volume at head psi, W = porosity*SW + Ss*SW*psi (theta itself for XVG), and
// its exact slope dW/dpsi, from a point evaluation c that holds Se (theta) and dSe/dpsi (C).
template <int M, bool MIX>
inline void water_of(const soil& s, long i, double psi, const chpoint& c, double& w, double& cap) {
    if constexpr (M == 1) {
        w = c.se;
        cap = c.dse;
    } else {
        const double sw = sat_of<M, MIX>(s, i, c.se);
        const double dsw = span_of<M, MIX>(s, i) * c.dse;
        w = s.PORNOD(i) * sw + s.SNODI(i) * sw * psi;
        cap = s.PORNOD(i) * dsw + s.SNODI(i) * (sw + dsw * psi);
    }
}

template <int M, bool MIX>
void chwat_m(long N, const soil& s, const arr1<double>& P, arr1<double>& W) {
    parallel_for(1, N, [&](long i) {
        chpoint c;
        double cap;
        node_point<M, true, MIX>(s, i, P(i), CH_SE | CH_DSE, c);
        water_of<M, MIX>(s, i, P(i), c, W(i), cap);
    });
}

// One evaluation per node when the two heads agree (TETAF = 1), two otherwise.
template <int M, bool MIX>
void chmix_m(long N, soil& s, const arr1<double>& PT, const arr1<double>& PN, bool newton) {
    const unsigned kr = CH_KR | (newton ? CH_DKR : 0u);
    parallel_for(1, N, [&](long i) {
        chpoint c, k;
        const double pn = PN(i), pt = PT(i);
        if (pt == pn) {
            node_point<M, true, MIX>(s, i, pn, CH_SE | CH_DSE | kr, c);
            k = c;
        } else {
            node_point<M, true, MIX>(s, i, pn, CH_SE | CH_DSE, c);
            node_point<M, true, MIX>(s, i, pt, kr, k);
        }
        water_of<M, MIX>(s, i, pn, c, s.WNEW(i), s.STCOEF(i));
        s.CKRW(i) = k.kr;
        if (newton) s.DCKRW(i) = k.dkr;
    });
}

// The head of CHHEAD that no head equals: the node's values are unknown.
constexpr double kNoHead = std::numeric_limits<double>::quiet_NaN();

// The heads of CHHEAD from node 1, null while chpic has not created them; head_memo creates them
// (every node unknown); forget_heads marks every node's as unknown, before a routine that writes
// STCOEF or CKRW in another way.
double* kept_heads(soil& s) { return s.CHHEAD.empty() ? nullptr : s.CHHEAD.data() - 1; }

double* head_memo(long N, soil& s) {
    if (s.CHHEAD.empty()) s.CHHEAD.alloc(N, kNoHead);
    return kept_heads(s);
}

void forget_heads(soil& s) {
    if (!s.CHHEAD.empty()) s.CHHEAD.fill(kNoHead);
}

// SW and CKRW; a node whose CKRW is already at its head evaluates Se alone.
template <int M, bool MIX>
void swkrw_m(long N, soil& s, const arr1<double>& P) {
    double* const known = kept_heads(s);
    parallel_for_uneven(1, N, [&](long i) {
        chpoint c;
        const double psi = P(i);
        const bool kr_known = known && psi == known[i];
        node_point<M, false, MIX>(s, i, psi, kr_known ? CH_SE : CH_SE | CH_KR, c);
        s.SW(i) = sat_of<M, MIX>(s, i, c.se);
        if (kr_known) return;
        s.CKRW(i) = c.kr;
        if (known) known[i] = kNoHead;
    });
}

// STCOEF with the analytic slope; a node whose STCOEF is already that at its head keeps it.
template <int M, bool MIX>
void chstor_m(long N, soil& s, const arr1<double>& P) {
    double* const known = kept_heads(s);
    parallel_for_uneven(1, N, [&](long i) {
        const double psi = P(i);
        if (known && psi == known[i]) return;
        chpoint c;
        node_point<M, false, MIX>(s, i, psi, CH_SE | CH_DSE, c);
        s.STCOEF(i) = stc_of<M, MIX>(s, i, sat_of<M, MIX>(s, i, c.se), c.dse);
        if (known) known[i] = kNoHead;
    });
}

// STCOEF and CKRW; a node whose slope is analytic and whose head has not moved keeps them.
template <int M, bool MIX>
void chpic_m(long N, soil& s, const arr1<double>& PT, const arr1<double>& PO) {
    const int K = s.KSLOPE;
    const double T = s.TOLKSL;
    const bool centred = T != 0.0;
    double* const known = head_memo(N, s);
    parallel_for_uneven(1, N, [&](long i) {
        chpoint c, o, p, q;
        const double psi = PT(i);
        const double d = psi - PO(i);
        const bool far = d != 0.0 && std::fabs(d) >= T;
        const slope_kind k1 = slope_for(K, far, inside(psi, s.PSEL, s.PSER), centred);
        if (k1 == ANALYTIC && psi == known[i]) return;
        node_point<M, false, MIX>(s, i, psi, CH_SE | CH_KR | (k1 == ANALYTIC ? CH_DSE : 0u), c);
        double s1;
        switch (k1) {
        case ANALYTIC: s1 = c.dse; break;
        case CHORD:
            node_point<M, false, MIX>(s, i, PO(i), CH_SE, o);
            s1 = (c.se - o.se) / d;
            break;
        case CENTRED:
            node_point<M, false, MIX>(s, i, psi + T, CH_SE, p);
            node_point<M, false, MIX>(s, i, psi - T, CH_SE, q);
            s1 = (p.se - q.se) / (2.0 * T);
            break;
        default: s1 = s.DSESLP(slope_entry<M, MIX>(i)); break;
        }
        s.STCOEF(i) = stc_of<M, MIX>(s, i, sat_of<M, MIX>(s, i, c.se), s1);
        s.CKRW(i) = c.kr;
        known[i] = k1 == ANALYTIC ? psi : kNoHead;
    });
}

template <int M, bool MIX>
void chnew_m(long N, soil& s, const arr1<double>& PT, const arr1<double>& PO) {
    const int K = s.KSLOPE;
    const double T = s.TOLKSL;
    const bool centred = T != 0.0;
    parallel_for(1, N, [&](long i) {
        chpoint c, o, p, q;
        const double psi = PT(i);
        const double pold = PO(i);
        const double d = psi - pold;
        const bool far = d != 0.0 && std::fabs(d) >= T;
        const bool in1 = inside(psi, s.PDSE1L, s.PDSE1R);
        const slope_kind k1 = slope_for(K, far, inside(psi, s.PSEL, s.PSER), centred);
        const slope_kind k2 = slope_for(K, far, in1 || inside(psi, s.PDSE2L, s.PDSE2R), centred);
        const slope_kind k3 = slope_for(K, far, inside(psi, s.PKRL, s.PKRR), centred);

        unsigned w = CH_SE | CH_KR;
        if (k1 == ANALYTIC || k2 == CHORD) w |= CH_DSE;
        if (k2 == ANALYTIC) w |= CH_DDSE;
        if (k3 == ANALYTIC) w |= CH_DKR;
        node_point<M, false, MIX>(s, i, psi, w, c);

        const unsigned wo = (k1 == CHORD ? CH_SE : 0u) | (k2 == CHORD ? CH_DSE : 0u) |
                            (k3 == CHORD ? CH_KR : 0u);
        if (wo != 0u) node_point<M, false, MIX>(s, i, pold, wo, o);
        const unsigned wc = ((k1 == CENTRED || k2 == CENTRED) ? CH_SE : 0u) | (k3 == CENTRED ? CH_KR : 0u);
        if (wc != 0u) {
            node_point<M, false, MIX>(s, i, psi + T, wc, p);
            node_point<M, false, MIX>(s, i, psi - T, wc, q);
        }

        double s1, s2, dk;
        switch (k1) {
        case ANALYTIC: s1 = c.dse; break;
        case CHORD: s1 = (c.se - o.se) / d; break;
        case CENTRED: s1 = (p.se - q.se) / (2.0 * T); break;
        default: s1 = s.DSESLP(slope_entry<M, MIX>(i)); break;
        }
        switch (k2) {
        case ANALYTIC: s2 = c.ddse; break;
        case CHORD: s2 = (c.dse - o.dse) / d; break;
        case CENTRED: s2 = (p.se - 2.0 * c.se + q.se) / (T * T); break;
        default: s2 = in1 ? s.DDSE1(slope_entry<M, MIX>(i)) : s.DDSE2(slope_entry<M, MIX>(i)); break;
        }
        switch (k3) {
        case ANALYTIC: dk = c.dkr; break;
        case CHORD: dk = (c.kr - o.kr) / d; break;
        case CENTRED: dk = (p.kr - q.kr) / (2.0 * T); break;
        default: dk = MIX ? s.DKRNOD(i) : s.DKRSLP; break;
        }
        s.STCOEF(i) = stc_of<M, MIX>(s, i, sat_of<M, MIX>(s, i, c.se), s1);
        s.DSTCOEF(i) = dstc_of<M, MIX>(s, i, s1, s2);
        s.CKRW(i) = c.kr;
        s.DCKRW(i) = dk;
    });
}

// Runs F<M, MIX>(args...) for the model of the record, MIX with a curve per soil.
#define NEP_BY_MODEL_MIX(F, s, MIX, ...)             \
    switch ((s).IVGHU) {                             \
    case 0: F<0, MIX>(__VA_ARGS__); break;           \
    case 1: F<1, MIX>(__VA_ARGS__); break;           \
    case 2: F<2, MIX>(__VA_ARGS__); break;           \
    case 3: F<3, MIX>(__VA_ARGS__); break;           \
    default: F<4, MIX>(__VA_ARGS__); break;          \
    }
#define NEP_BY_MODEL(F, s, ...)                      \
    if (ch_by_soil(s)) {                             \
        NEP_BY_MODEL_MIX(F, s, true, __VA_ARGS__)    \
    } else {                                         \
        NEP_BY_MODEL_MIX(F, s, false, __VA_ARGS__)   \
    }

// Se (theta of node i for XVG) at a head.
inline double se_at(const soil& s, long i, double psi) {
    chpoint c;
    ch_eval(s, i, psi, CH_SE, c);
    return c.se;
}

// The XVG head PXVG of one node, where the van Genuchten moisture capacity
// (phi - VGRMC)*dSe/dpsi falls to the node's specific storage ss on the wet side of its peak.
// The capacity peaks at hmax; F below is positive on [hmax, PXVG) and negative on (PXVG, 0].
// Returns false when the bisection does not end within its iteration limit.
bool xvg_limit(const chcurve& s, double phi, double ss, double hmax, double tol, double& pxvg) {
    const double n = s.VGN, m = s.VGM, psis = s.VGPSAT;
    const double level = s.VGPSN * ss / ((phi - s.VGRMC) * s.VGN1);
    auto F = [&](double h) {
        return std::pow(std::fabs(h), s.VGN1) / std::pow(1.0 + std::pow(h / psis, n), m + 1.0) - level;
    };
    double lo = hmax, hi = 0.0;
    double flo = F(lo);
    for (int it = 1; it <= kMaxBisect; ++it) {
        const double d = (hi - lo) * 0.5;
        const double mid = lo + d;
        const double fmid = F(mid);
        // A curve that cannot be evaluated (non-finite F) has no point to narrow down to.
        if ((fmid == 0.0 || d < tol) && std::isfinite(fmid)) {
            pxvg = mid;
            return true;
        }
        if (flo * fmid <= 0.0) {
            hi = mid;
        } else {
            lo = mid;
            flo = fmid;
        }
    }
    return false;
}


// The constants of model ivghu derived from the parameters of c.
void derive(chcurve& c, int ivghu) {
    switch (ivghu) {
    case 0:
    case 1:
        c.VGM = (c.VGN - 1.0) / c.VGN;
        c.VGN1 = c.VGN - 1.0;
        c.VGM25 = 2.5 * c.VGM;
        c.VGNINV = 1.0 / c.VGN;
        c.VGM1 = c.VGM - 1.0;
        c.VGMINV = 1.0 / c.VGM;
        c.VGPSN = std::pow(std::fabs(c.VGPSAT), c.VGN);
        break;
    case 2:
    case 3:
        c.HU1SWR = 1.0 - c.HUSWR;
        c.HUALBE = std::pow(c.HUALFA, c.HUBETA);
        c.HUGA1 = c.HUGAMA + 1.0;
        c.HUGA2 = c.HUGAMA + 2.0;
        c.HUGABE = c.HUGAMA * c.HUBETA;
        c.HUGAB1 = c.HUGAMA * c.HUBETA + 1.0;
        c.HU1BET = 1.0 - c.HUBETA;
        if (ivghu == 2) {
            c.HUN1 = c.HUN - 1.0;
        } else {
            c.HUA2 = 2.0 * c.HUA;
            c.HUB2A = c.HUB - 2.0 * c.HUA;
            c.HUAB = c.HUA - c.HUB;
            c.ALN10 = std::log(10.0);
        }
        break;
    default:
        c.BCBET1 = c.BCBETA + 1.0;
        c.BCBET2 = c.BCBETA + 2.0;
        c.BCDDSE = c.BCBETA * (c.BCBETA + 1.0) / (c.BCPSAT * c.BCPSAT);
        c.BCDSE = c.BCBETA / std::fabs(c.BCPSAT);
        c.BCKRX = 3.0 * c.BCBETA + 2.0;
        c.BCDKR = (3.0 * c.BCBETA + 2.0) / std::fabs(c.BCPSAT);
        c.BCDKRX = 3.0 * c.BCBETA + 3.0;
        break;
    }
}

// The XVG limit of a curve c with porosity phi and storage ss, where its moisture capacity falls
// to ss on the wet side of its peak; false when the largest capacity DMCMAX is not above ss.
// Stops after the bisection limit, naming `what` (a node or a soil).
bool xvg_head(iofiles& io, const chcurve& c, double phi, double ss, const std::string& what,
              double& DMCMAX, double& pxvg) {
    const double m = c.VGM, n = c.VGN, psis = c.VGPSAT, tr = c.VGRMC;
    const double hmax = psis * std::pow(m, c.VGNINV);
    const double mm = std::pow(m, m);
    const double mp = std::pow(1.0 + m, 1.0 + m);
    // The bisection ends when its half width is below 1e-12 of the bracket it started from
    // (about 40 halvings); the floor keeps the test meaningful for a vanishing bracket.
    const double tol = std::max(1.0e-12 * std::fabs(hmax), std::numeric_limits<double>::min());
    DMCMAX = -m * n * (phi - tr) * mm / (mp * psis);
    if (DMCMAX <= ss) return false;
    if (!xvg_limit(c, phi, ss, hmax, tol, pxvg)) {
        wfmt_both(io, "(/,'  ****** MAX ITERATIONS  =  ',I5,' EXCEEDED IN BISECTION',"
                    "' ALGORITHM',"
                    "/,'  ****** PROGRAM ABORTING')",
                kMaxBisect);
        input_error(file_of(io, kSoilUnit, "soil file") +
                    ": the linear limit PXVG of the extended van Genuchten curve of " + what +
                    " was not found in " + std::to_string(kMaxBisect) + " bisection steps");
    }
    return true;
}

// Merges the entries of every node whose soils have the same curve (and for XVG the same
// porosity and storage, which shape its curve): their Se and Kr are one function, so one
// evaluation serves them with the sum of their weights, and a node between soils that differ
// in their table values only is a node of one curve.
void merge_same_curves(const dimensions& dim, soil& sl) {
    const int nsoil = dim.NSTR * dim.NZONE;
    std::map<std::array<double, 16>, int> seen;
    std::vector<int> same(nsoil + 1);  // the first soil of the curve of soil k
    for (int k = 1; k <= nsoil; ++k) {
        const chcurve& c = sl.SOILCH[(std::size_t)k - 1];
        const bool xvg = sl.IVGHU == 1;
        const std::array<double, 16> key = {c.VGN, c.VGRMC, c.VGPSAT, c.HUALFA, c.HUBETA, c.HUGAMA,
                                            c.HUPSIA, c.HUSWR, c.HUN, c.HUA, c.HUB, c.BCBETA,
                                            c.BCRMC, c.BCPSAT,
                                            xvg ? sl.POROSITY.data()[k - 1] : 0.0,
                                            xvg ? sl.STORAGE.data()[k - 1] : 0.0};
        same[k] = seen.emplace(key, k).first->second;
    }
    int out = 0;
    for (long i = 1; i <= dim.N; ++i) {
        const int a = sl.ISOIP(i), b = sl.ISOIP(i + 1);
        const int first = out + 1;
        for (int j = a; j < b; ++j) {
            const int k = same[sl.ISOIL(j)];
            const double w = sl.WSOIL(j), we = sl.WSE(j);
            int q = first;
            while (q <= out && sl.ISOIL(q) != k) ++q;
            if (q > out) {
                out = q;
                sl.ISOIL(q) = k;
                sl.WSOIL(q) = 0.0;
                sl.WSE(q) = 0.0;
            }
            // Entry q is at or before entry j: nothing unread is overwritten.
            sl.WSOIL(q) += w;
            sl.WSE(q) += we;
        }
        sl.ISOIP(i) = first;
    }
    sl.ISOIP(dim.N + 1) = out + 1;
}

// A curve per soil: the constants of every soil's curve, and for every node the residual part
// SRES and the span SEFRAC of its saturation and the weights WSE of its soils' Se (the XVG
// limit of every soil instead for XVG). The water content of node i is the mean of its
// tetrahedra's, theta_i = sum_j WSOIL_j*theta_j with theta_j = r_j + (phi_j - r_j)*Se_j, r_j the
// residual content of soil j (phi_j*HUSWR for the Huyakorn models); so the residual content of
// the node is r_i = sum_j WSOIL_j*r_j and Se_i = sum_j WSE_j*Se_j with
// WSE_j = WSOIL_j*(phi_j - r_j)/sum_j WSOIL_j*(phi_j - r_j).
void soil_curves(const dimensions& dim, iofiles& io, soil& sl) {
    const int nsoil = dim.NSTR * dim.NZONE;
    for (chcurve& c : sl.SOILCH) derive(c, sl.IVGHU);
    auto soil_name = [&](int k) {
        return "layer " + std::to_string((k - 1) % dim.NSTR + 1) + ", material " +
               std::to_string((k - 1) / dim.NSTR + 1);
    };
    if (sl.IVGHU == 1) {
        for (int k = 1; k <= nsoil; ++k) {
            const chcurve& c = sl.SOILCH[(std::size_t)k - 1];
            const double phi = sl.POROSITY.data()[k - 1], ss = sl.STORAGE.data()[k - 1];
            double DMCMAX = 0.0, pxvg = 0.0;
            if (!xvg_head(io, c, phi, ss, soil_name(k), DMCMAX, pxvg)) {
                wfmt_both(io, "(/,'  ****** ERROR IN CURVES INPUT: LAYER ',I5,'  MATERIAL ',I5,"
                            "';   STORAGE  =  ',1PE13.5,"
                            "/,'  ****** SS MUST BE SMALLER THAN DMCMAX  =  ',1PE13.5,"
                            "/,'  ****** PROGRAM ABORTING')",
                        (k - 1) % dim.NSTR + 1, (k - 1) / dim.NSTR + 1, ss, DMCMAX);
                input_error(file_of(io, kSoilUnit, "soil file") + ": " + soil_name(k) +
                            " has the specific storage " + real_text(ss) +
                            ", not below the largest moisture capacity " + real_text(DMCMAX) +
                            " of its extended van Genuchten curve");
            }
            sl.PXVGS(k) = pxvg;
        }
        for (long j = 1; j <= sl.WSE.size(); ++j) sl.WSE(j) = sl.WSOIL(j);
        merge_same_curves(dim, sl);
        return;
    }
    auto residual = [&](int k) {
        const chcurve& c = sl.SOILCH[(std::size_t)k - 1];
        switch (sl.IVGHU) {
        case 0: return c.VGRMC;
        case 4: return c.BCRMC;
        default: return sl.POROSITY.data()[k - 1] * c.HUSWR;
        }
    };
    sl.SRES.alloc(dim.N);
    for (long i = 1; i <= dim.N; ++i) {
        double r = 0.0, span = 0.0;
        for (int j = sl.ISOIP(i); j < sl.ISOIP(i + 1); ++j) {
            const int k = sl.ISOIL(j);
            const double rk = residual(k);
            r += sl.WSOIL(j) * rk;
            span += sl.WSOIL(j) * (sl.POROSITY.data()[k - 1] - rk);
        }
        for (int j = sl.ISOIP(i); j < sl.ISOIP(i + 1); ++j) {
            const int k = sl.ISOIL(j);
            sl.WSE(j) = sl.WSOIL(j) * (sl.POROSITY.data()[k - 1] - residual(k)) / span;
        }
        sl.SRES(i) = r / sl.PORNOD(i);
        sl.SEFRAC(i) = (sl.PORNOD(i) - r) / sl.PORNOD(i);
    }
    merge_same_curves(dim, sl);
}

}  // namespace

void chparm(const dimensions& dim, iofiles& io, soil& sl) {
    const long N = dim.N;
    if (sl.IVGHU < 0 || sl.IVGHU > 4) bad_model(io, sl.IVGHU);
    derive(sl, sl.IVGHU);

    // The VG, BC and XVG saturations divide by the nodal porosity, and so do all with a curve
    // per soil.
    if (!(sl.IVGHU == 2 || sl.IVGHU == 3) || ch_by_soil(sl)) {
        for (long i = 1; i <= N; ++i) {
            if (!(sl.PORNOD(i) > 0.0)) {
                wfmt_both(io, "(/,'  ****** ERROR IN POROSITY INPUT: NODE ',I5,"
                            "';   PORNOD  =  ',1PE13.5,"
                            "/,'  ****** POROSITY MUST BE POSITIVE',"
                            "/,'  ****** PROGRAM ABORTING')",
                        (int)i, sl.PORNOD(i));
                input_error(file_of(io, kSoilUnit, "soil file") + ": node " + std::to_string(i) +
                            " has the mean porosity PORNOD = " + real_text(sl.PORNOD(i)) +
                            " over its tetrahedra; the porosity must be positive");
            }
        }
    }
    if (ch_by_soil(sl)) {
        soil_curves(dim, io, sl);
        return;
    }

    // The residual water of records 3, 4 and 7 (VGRMC, HUSWR, BCRMC): a negative one gives
    // negative water contents in a dry soil; a residual moisture content not below a node's
    // porosity, or a residual saturation of 1 or more, a saturation that does not rise as the
    // node wets (the extended curve refuses the former by its largest capacity below).
    {
        const bool hu = sl.IVGHU == 2 || sl.IVGHU == 3, vg = sl.IVGHU == 0 || sl.IVGHU == 1;
        const char* name = hu ? "HUSWR" : vg ? "VGRMC" : "BCRMC";
        const double rmc = hu ? sl.HUSWR : vg ? sl.VGRMC : sl.BCRMC;
        std::string what;
        if (hu) {
            if (!(rmc >= 0.0 && rmc < 1.0)) {
                what = ", the residual saturation must be 0 or more and below 1";
            }
        } else if (rmc < 0.0) {
            what = ", the residual moisture content must be 0 or more";
        } else if (sl.IVGHU != 1) {
            for (long i = 1; i <= N && what.empty(); ++i) {
                if (!(rmc < sl.PORNOD(i))) {
                    what = ", the residual moisture content must be below the mean porosity " +
                           real_text(sl.PORNOD(i)) + " of node " + std::to_string(i);
                }
            }
        }
        if (!what.empty()) {
            wfmt(io.out(6), std::string("(//,' INPUT ERROR : BAD VALUE ") + name + "',1PE15.5)", rmc);
            input_error(file_of(io, kSoilUnit, "soil file") + ": " + name + " = " + real_text(rmc) + what);
        }
    }
    if (sl.IVGHU == 2 || sl.IVGHU == 3) return;

    if (sl.IVGHU == 0 || sl.IVGHU == 4) {
        const double rmc = sl.IVGHU == 0 ? sl.VGRMC : sl.BCRMC;
        for (long i = 1; i <= N; ++i) sl.SEFRAC(i) = (sl.PORNOD(i) - rmc) / sl.PORNOD(i);
        return;
    }

    // XVG: the head where every node's retention curve turns linear.
    for (long i = 1; i <= N; ++i) {
        const double phi = sl.PORNOD(i);
        const double ss = sl.SNODI(i);
        double DMCMAX = 0.0, pxvg = 0.0;
        if (!xvg_head(io, sl, phi, ss, "node " + std::to_string(i), DMCMAX, pxvg)) {
            wfmt_both(io, "(/,'  ****** ERROR IN SNODI INPUT: NODE ',I5,"
                        "';   SNODI  =  ',1PE13.5,"
                        "/,'  ****** SS MUST BE SMALLER THAN DMCMAX  =  ',1PE13.5,"
                        "/,'  ****** PROGRAM ABORTING')",
                    (int)i, ss, DMCMAX);
            input_error(file_of(io, kSoilUnit, "soil file") + ": node " + std::to_string(i) +
                        " has the specific storage SNODI = " + real_text(ss) +
                        ", not below the largest moisture capacity " + real_text(DMCMAX) +
                        " of its extended van Genuchten curve");
        }
        sl.PXVG(i) = pxvg;
    }
}

void chinit(const dimensions& dim, const control& ctl, iofiles& io, soil& sl) {
    // KSLOPE selects the slopes of every nonlinear iteration; an unknown mode would silently
    // fall back to one of the others.
    if (sl.KSLOPE < 0 || sl.KSLOPE > 5) {
        wfmt_both(io, "(//,' INPUT ERROR : BAD VALUE KSLOPE',I6)", sl.KSLOPE);
        input_error(file_of(io, kParmUnit, "parameter file") + ": KSLOPE = " +
                    std::to_string(sl.KSLOPE) + ", the derivative option must be 0 to 5");
    }
    chparm(dim, io, sl);
    if (sl.KSLOPE != 4) return;

    // The fixed slopes are chords over the windows: a window of zero width has none.
    struct window {
        const char* left;
        const char* right;
        double l, r;
    };
    const window all[] = {{"PSEL", "PSER", sl.PSEL, sl.PSER},
                          {"PDSE1L", "PDSE1R", sl.PDSE1L, sl.PDSE1R},
                          {"PDSE2L", "PDSE2R", sl.PDSE2L, sl.PDSE2R},
                          {"PKRL", "PKRR", sl.PKRL, sl.PKRR}};
    const int used = ctl.IFLOW == 1 ? 1 : 4;
    for (int k = 0; k < used; ++k) {
        if (all[k].l == all[k].r) {
            wfmt_both(io, "(//,' INPUT ERROR : ZERO WIDTH WINDOW ',A,' = ',A,' = ',1PE15.5)",
                    std::string(all[k].left), std::string(all[k].right), all[k].l);
            input_error(file_of(io, kParmUnit, "parameter file") + ": " + all[k].left + " = " +
                        all[k].right + " = " + real_text(all[k].l) +
                        ", the window of a fixed slope (KSLOPE = 4) needs two different ends");
        }
    }
    if (ctl.IFLOW == 1) {
        sloppc(dim, sl);
    } else {
        slopnw(dim, sl);
    }
}

void sloppc(const dimensions& dim, soil& sl) {
    const double w = sl.PSER - sl.PSEL;
    if (sl.IVGHU == 1 || ch_by_soil(sl)) {
        for (long i = 1; i <= dim.N; ++i) sl.DSESLP(i) = (se_at(sl, i, sl.PSER) - se_at(sl, i, sl.PSEL)) / w;
    } else {
        sl.DSESLP(1) = (se_at(sl, 1, sl.PSER) - se_at(sl, 1, sl.PSEL)) / w;
    }
}

void slopnw(const dimensions& dim, soil& sl) {
    sloppc(dim, sl);
    // Slope of dSe/dpsi over [L, R]; an end inside the Se window takes the window slope.
    auto range = [&](long i, double L, double R) {
        chpoint c;
        double vl, vr;
        if (inside(L, sl.PSEL, sl.PSER)) {
            vl = sl.DSESLP(i);
        } else {
            ch_eval(sl, i, L, CH_DSE, c);
            vl = c.dse;
        }
        if (inside(R, sl.PSEL, sl.PSER)) {
            vr = sl.DSESLP(i);
        } else {
            ch_eval(sl, i, R, CH_DSE, c);
            vr = c.dse;
        }
        return (vr - vl) / (R - L);
    };
    const long last = sl.IVGHU == 1 || ch_by_soil(sl) ? dim.N : 1;
    for (long i = 1; i <= last; ++i) {
        sl.DDSE1(i) = range(i, sl.PDSE1L, sl.PDSE1R);
        sl.DDSE2(i) = range(i, sl.PDSE2L, sl.PDSE2R);
    }
    auto kr_slope = [&](long i) {
        chpoint r, l;
        ch_eval(sl, i, sl.PKRR, CH_KR, r);
        ch_eval(sl, i, sl.PKRL, CH_KR, l);
        return (r.kr - l.kr) / (sl.PKRR - sl.PKRL);
    };
    sl.DKRSLP = kr_slope(1);
    // With a curve per soil every node has its own Kr.
    if (ch_by_soil(sl)) {
        sl.DKRNOD.alloc(dim.N);
        for (long i = 1; i <= dim.N; ++i) sl.DKRNOD(i) = kr_slope(i);
    }
}

void swkrw(const dimensions& dim, soil& sl, const arr1<double>& P) {
    NEP_BY_MODEL(swkrw_m, sl, dim.N, sl, P)
}

void chpic(const dimensions& dim, soil& sl, const arr1<double>& PTHETA, const arr1<double>& PTHOLD) {
    NEP_BY_MODEL(chpic_m, sl, dim.N, sl, PTHETA, PTHOLD)
}

void chnew(const dimensions& dim, soil& sl, const arr1<double>& PTHETA, const arr1<double>& PTHOLD) {
    forget_heads(sl);
    NEP_BY_MODEL(chnew_m, sl, dim.N, sl, PTHETA, PTHOLD)
}

void chwat(const dimensions& dim, const soil& sl, const arr1<double>& P, arr1<double>& W) {
    NEP_BY_MODEL(chwat_m, sl, dim.N, sl, P, W)
}

void chmix(const dimensions& dim, soil& sl, const arr1<double>& PTHETA, const arr1<double>& PNEW,
           bool newton) {
    forget_heads(sl);
    NEP_BY_MODEL(chmix_m, sl, dim.N, sl, PTHETA, PNEW, newton)
}

void chstor(const dimensions& dim, soil& sl, const arr1<double>& P) {
    NEP_BY_MODEL(chstor_m, sl, dim.N, sl, P)
}

}  // namespace nep
