#include "surface/overland.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <utility>

#include "base/format.h"
#include "base/procs.h"
#include "base/stop.h"
#include "records/inputerr.h"

namespace nep {

namespace {

// "parameter file 'parm' line 22: <what>".
std::string parm_at(const iofiles& io, long line, const std::string& what) {
    return bc_detail(io.IN[5], line, what);
}

// The conveyance 1/n, in the deck's units, of the triangles of material code mat.
double conveyance(const surface& sf, int mat) {
    const double n = sf.MANN.size() == 1 ? sf.MANN[0] : sf.MANN[(std::size_t)std::max(mat, 1) - 1];
    return sf.CONVF / n;
}

// A number of the section: the whole word must be one.
bool number(const std::string& w, double& v) {
    char* end = nullptr;
    v = std::strtod(w.c_str(), &end);
    return !w.empty() && end == w.c_str() + w.size() && std::isfinite(v);
}

double metres(const std::string& u) {
    if (u == "cm") return 0.01;
    if (u == "mm") return 0.001;
    if (u == "km") return 1000.0;
    if (u == "ft") return 0.3048;
    return 1.0;
}

double seconds(const std::string& u) {
    if (u == "min") return 60.0;
    if (u == "h") return 3600.0;
    if (u == "d") return 86400.0;
    if (u == "y") return 365.25 * 86400.0;
    return 1.0;
}

// Row r's entry of column c in the pattern (0: none).
int find_pos(const sparse& sp, int r, int c) {
    for (int k = sp.IA(r); k < sp.IA(r + 1); ++k) {
        if (sp.JA(k) == c) return k;
    }
    return 0;
}

// The corners of edge k = 1..3 of a triangle: 1-2, 2-3, 3-1.
constexpr int kEdgeA[4] = {0, 1, 2, 3};
constexpr int kEdgeB[4] = {0, 2, 3, 1};

// The position (full storage) of the entry of row corner r and column corner l of triangle e.
int pos_in(const mesh& msh, const surface& sf, long e, int r, int l) {
    static constexpr int kEdge[4][4] = {{0, 0, 0, 0}, {0, 0, 1, -3}, {0, -1, 0, 2}, {0, 3, -2, 0}};
    if (r == l) return sf.DPOS(msh.TRIANG(r, e));
    const int k = kEdge[r][l];
    return k > 0 ? sf.TPOS(k, e) : sf.TPOS(3 - k, e);
}

// The fluxes over the three edges of triangle e at heads p: F[k] from corner kEdgeA to kEdgeB,
// c[k] the conductance of the edge (F = c * the difference that drives it), gu[k] and gv[k] the
// derivatives of F with respect to the mobile depths of the upstream corner up[k] and of the
// downstream one (through the depth carried; 0: no flow). S, sx, sy: the slope of the water
// surface over the triangle and its gradient (diffusion wave), which K depends on.
struct edge_flow {
    double F[4], c[4], gu[4], gv[4];
    int up[4];
    double S, sx, sy;
};

// The gradient of the mobile depth at every surface node (the mean of its triangles', weighted
// by their areas), into sf.GX, sf.GY.
void depth_gradients(const dimensions& dim, const mesh& msh, const surface& sf, const double* p,
                     surface_work& w) {
    for (int i = 1; i <= dim.NNOD; ++i) w.GX(i) = w.GY(i) = 0.0;
    for (int e = 1; e <= dim.NTRI; ++e) {
        double gx = 0.0, gy = 0.0;
        for (int k = 1; k <= 3; ++k) {
            const double m = std::max(std::max(p[msh.TRIANG(k, e)], 0.0) - sf.DEPST, 0.0);
            gx += sf.TG(k, e) * m;
            gy += sf.TG(3 + k, e) * m;
        }
        for (int k = 1; k <= 3; ++k) {
            const int i = msh.TRIANG(k, e);
            w.GX(i) += sf.TA(e) * gx;
            w.GY(i) += sf.TA(e) * gy;
        }
    }
    for (int i = 1; i <= dim.NNOD; ++i) {
        if (sf.NA(i) > 0.0) {
            w.GX(i) /= sf.NA(i);
            w.GY(i) /= sf.NA(i);
        }
    }
}

// The mobile depth carried over an edge from its upstream node u to v: the upstream depth,
// corrected towards the downstream one by the difference on the upstream side (which the depth
// gradient at u gives) and the difference over the edge, limited (van Albada: smooth, so that
// Newton does not cycle between branches; 0 where the two differ in sign): second order where
// the depth is smooth, the upstream depth at a kink or a front, never more than twice the
// upstream depth (nothing from a dry node). du, dv: its derivatives with respect to the two
// depths (the gradient at u held).
double edge_depth(const mesh& msh, const surface_work& w, int u, int v, double mu, double mv,
                  double& du, double& dv) {
    const double b = mv - mu;
    const double a = 2.0 * (w.GX(u) * (msh.X(v) - msh.X(u)) + w.GY(u) * (msh.Y(v) - msh.Y(u))) - b;
    du = 1.0;
    dv = 0.0;
    if (a * b <= 0.0) return mu;
    const double q = a * a + b * b;
    const double phi = a * b * (a + b) / q;
    const double pa = (b * (2.0 * a + b) * q - 2.0 * a * a * b * (a + b)) / (q * q);
    const double pb = (a * (2.0 * b + a) * q - 2.0 * b * b * a * (a + b)) / (q * q);
    const double me = mu + 0.5 * phi;
    if (me > 2.0 * mu) {
        du = 2.0;
        return 2.0 * mu;
    }
    // a = 2 G.dx - (mv - mu), b = mv - mu.
    du = 1.0 + 0.5 * (pa - pb);
    dv = 0.5 * (pb - pa);
    return me;
}

void triangle_flow(const mesh& msh, const surface& sf, const surface_work& w, long e,
                   const double* p, edge_flow& out) {
    int n[4];
    double H[4], m[4], z[4];
    for (int k = 1; k <= 3; ++k) {
        n[k] = msh.TRIANG(k, e);
        const double d = std::max(p[n[k]], 0.0);
        z[k] = msh.Z(n[k]);
        H[k] = z[k] + d;
        m[k] = std::max(d - sf.DEPST, 0.0);
    }
    const bool kin = sf.WAVE == surface_wave::KINEMATIC;
    out.S = sf.TS(e);
    out.sx = out.sy = 0.0;
    if (!kin) {
        for (int k = 1; k <= 3; ++k) {
            out.sx += sf.TG(k, e) * H[k];
            out.sy += sf.TG(3 + k, e) * H[k];
        }
        out.S = std::sqrt(out.sx * out.sx + out.sy * out.sy);
    }
    // 1/n over the square root of the slope, smoothed where the slope nears the least one (a
    // pond): (S^2 + Smin^2)^(1/4), so that the conveyance has a derivative everywhere.
    const double K = sf.TR(e) / std::sqrt(std::sqrt(out.S * out.S + kSurfaceMinSlope * kSurfaceMinSlope));
    for (int k = 1; k <= 3; ++k) {
        const int a = kEdgeA[k], b = kEdgeB[k];
        const double D = kin ? z[a] - z[b] : H[a] - H[b];
        out.F[k] = out.c[k] = out.gu[k] = out.gv[k] = 0.0;
        out.up[k] = 0;
        if (D == 0.0 || sf.TW(k, e) <= 0.0) continue;
        const int u = D > 0.0 ? a : b, v = D > 0.0 ? b : a;
        if (m[u] <= 0.0) continue;
        double du = 0.0, dv = 0.0;
        const double me = edge_depth(msh, w, n[u], n[v], m[u], m[v], du, dv);
        const double m23 = std::cbrt(me * me);
        out.c[k] = sf.TW(k, e) * K * m23 * me;
        out.F[k] = out.c[k] * D;
        const double dF = sf.TW(k, e) * K * (5.0 / 3.0) * m23 * D;  // dF / d(depth carried)
        out.gu[k] = dF * du;
        out.gv[k] = dF * dv;
        out.up[k] = u;
    }
}

// Discharge out of an outlet node at depth d and its derivative.
void outflow(const surface& sf, const surface_outlet& o, std::size_t q, double d, double& Q,
             double& dQ) {
    Q = dQ = 0.0;
    const double m = std::max(d - sf.DEPST, 0.0);
    const double w = o.width[q];
    switch (o.kind) {
    case outlet_kind::CRITICAL: {
        const double r = std::sqrt(sf.GRAV * m);
        Q = w * m * r;
        dQ = 1.5 * w * r;
        break;
    }
    case outlet_kind::NORMAL: {
        const double k = w * o.conv[q] * std::sqrt(std::max(o.slope[q], kSurfaceMinSlope));
        const double m23 = std::cbrt(m * m);
        Q = k * m23 * m;
        dQ = (5.0 / 3.0) * k * m23;
        break;
    }
    case outlet_kind::LEVEL: {
        // To water of the given depth just outside, over the node's reach: Manning's law with
        // the slope of the water surface over the reach (a linear law below the least slope).
        const double diff = d - o.level, r = o.reach[q];
        const double mu = std::max(std::max(d, o.level) - sf.DEPST, 0.0);
        const double m23 = std::cbrt(mu * mu);
        const double a = w * o.conv[q] * m23 * mu;  // per square root of slope
        const double S = std::fabs(diff) / r;
        const double dmu = d > o.level && mu > 0.0 ? (5.0 / 3.0) * a / mu : 0.0;  // da/dd
        if (S > kSurfaceMinSlope) {
            const double root = std::sqrt(S);
            Q = (diff > 0.0 ? a : -a) * root;
            dQ = 0.5 * a / (root * r) + (diff > 0.0 ? dmu : -dmu) * root;
        } else {
            const double k = 1.0 / (r * std::sqrt(kSurfaceMinSlope));
            Q = a * diff * k;
            dQ = a * k + dmu * diff * k;
        }
        break;
    }
    }
}

}  // namespace

bool surface_keyword(const std::string& key) {
    return key == "SURFACE" || key == "MANNING" || key == "DEPRESSION" || key == "OUTLET";
}

void surface_read(surface& sf, const std::string& key, std::istringstream& in, long line,
                  const std::string& where) {
    std::vector<std::string> w;
    for (std::string s; in >> s;) w.push_back(s);
    auto upper = [](std::string s) {
        for (char& c : s) c = (char)std::toupper((unsigned char)c);
        return s;
    };
    auto stop = [&](const std::string& what) { input_error(where + what); };
    if (key == "SURFACE") {
        if (sf.ON) stop("a second SURFACE line");
        sf.ON = true;
        const std::string kind = w.empty() ? "DIFFUSION" : upper(w[0]);
        if (w.size() > 1 || (kind != "DIFFUSION" && kind != "KINEMATIC")) {
            stop("SURFACE takes DIFFUSION or KINEMATIC, as 'SURFACE DIFFUSION'");
        }
        sf.WAVE = kind == "KINEMATIC" ? surface_wave::KINEMATIC : surface_wave::DIFFUSION;
    } else if (key == "MANNING") {
        if (sf.MANNLINE != 0) stop("a second MANNING line");
        if (w.empty()) stop("MANNING takes Manning's n (s m^-1/3) of each material, or one for all");
        sf.MANNLINE = line;
        for (const std::string& s : w) {
            double v = 0.0;
            if (!number(s, v) || !(v > 0.0)) stop("Manning's n '" + s + "' is not a positive number");
            sf.MANN.push_back(v);
        }
    } else if (key == "DEPRESSION") {
        double v = 0.0;
        if (w.size() != 1 || !number(w[0], v) || v < 0.0) {
            stop("DEPRESSION takes one depth, 0 or more");
        }
        sf.DEPST = v;
    } else {  // OUTLET
        surface_outlet o;
        o.line = line;
        const std::string kind = w.empty() ? "" : upper(w[0]);
        std::size_t first = 1;
        if (kind == "CRITICAL") {
            o.kind = outlet_kind::CRITICAL;
        } else if (kind == "NORMAL") {
            o.kind = outlet_kind::NORMAL;
        } else if (kind == "LEVEL") {
            o.kind = outlet_kind::LEVEL;
            if (w.size() < 2 || !number(w[1], o.level) || o.level < 0.0) {
                stop("OUTLET LEVEL takes the depth of water outside, 0 or more, then its nodes");
            }
            first = 2;
        } else {
            stop("OUTLET takes CRITICAL, NORMAL or LEVEL, then the surface nodes of the outlet");
        }
        if (w.size() <= first) stop("OUTLET " + kind + " names no surface node");
        for (std::size_t k = first; k < w.size(); ++k) {
            double v = 0.0;
            if (!number(w[k], v) || v != std::floor(v) || v < 1.0 || v > 2.0e9) {
                stop("'" + w[k] + "' is not a surface node number");
            }
            o.deck.push_back((int)v);
        }
        sf.OUT.push_back(std::move(o));
    }
}

void surface_check(const dimensions& dim, iofiles& io, const mesh& msh, surface& sf) {
    const bool any = sf.MANNLINE != 0 || !sf.OUT.empty() || sf.DEPST != 0.0;
    if (!sf.ON) {
        if (any) {
            input_error(io.IN[5].role() + " '" + io.IN[5].name() +
                        "': MANNING, DEPRESSION and OUTLET belong to a surface-flow section, "
                        "which begins with a SURFACE line");
        }
        return;
    }
    const std::string file = io.IN[5].role() + " '" + io.IN[5].name() + "'";
    if (sf.MANNLINE == 0) input_error(file + ": the surface-flow section has no MANNING line");
    int maxmat = 0;
    for (int e = 1; e <= dim.NTRI; ++e) maxmat = std::max(maxmat, msh.TRIANG(4, e));
    if (sf.MANN.size() != 1 && (int)sf.MANN.size() < maxmat) {
        input_error(parm_at(io, sf.MANNLINE, "MANNING gives " + std::to_string(sf.MANN.size()) +
                    " values, the surface triangles have material codes up to " +
                    std::to_string(maxmat)));
    }
    const double L = io.EXTRA.UNITS ? metres(io.EXTRA.LUNIT) : 1.0;
    const double T = io.EXTRA.UNITS ? seconds(io.EXTRA.TUNIT) : 1.0;
    sf.GRAV = 9.80665 * T * T / L;
    sf.CONVF = T / std::cbrt(L);

    // The boundary edges of the deck's surface (edges of one triangle), and per node the area,
    // slope and conveyance of the triangles around it.
    std::map<std::pair<int, int>, int> edges;
    std::vector<double> area((std::size_t)dim.NNOD + 1, 0.0), slope(area), cv(area);
    for (int e = 1; e <= dim.NTRI; ++e) {
        int n[3];
        for (int k = 0; k < 3; ++k) n[k] = msh.TRIANG(k + 1, e);
        for (int k = 0; k < 3; ++k) {
            const int a = n[k], b = n[(k + 1) % 3];
            edges[{std::min(a, b), std::max(a, b)}] += 1;
        }
        const double x1 = msh.X(n[1]) - msh.X(n[0]), y1 = msh.Y(n[1]) - msh.Y(n[0]);
        const double x2 = msh.X(n[2]) - msh.X(n[0]), y2 = msh.Y(n[2]) - msh.Y(n[0]);
        const double z1 = msh.Z(n[1]) - msh.Z(n[0]), z2 = msh.Z(n[2]) - msh.Z(n[0]);
        const double det = x1 * y2 - x2 * y1;
        if (det == 0.0) continue;
        const double gx = (z1 * y2 - z2 * y1) / det, gy = (x1 * z2 - x2 * z1) / det;
        const double a = 0.5 * std::fabs(det);
        for (int k = 0; k < 3; ++k) {
            area[(std::size_t)n[k]] += a;
            slope[(std::size_t)n[k]] += a * std::sqrt(gx * gx + gy * gy);
            cv[(std::size_t)n[k]] += a * conveyance(sf, msh.TRIANG(4, e));
        }
    }
    std::vector<double> width((std::size_t)dim.NNOD + 1, 0.0);
    for (const auto& [ed, count] : edges) {
        if (count != 1) continue;
        const int a = ed.first, b = ed.second;
        const double len = std::hypot(msh.X(a) - msh.X(b), msh.Y(a) - msh.Y(b));
        width[(std::size_t)a] += 0.5 * len;
        width[(std::size_t)b] += 0.5 * len;
    }
    std::vector<int> outlet_of((std::size_t)dim.NNOD + 1, 0);
    for (std::size_t k = 0; k < sf.OUT.size(); ++k) {
        surface_outlet& o = sf.OUT[k];
        for (int g : o.deck) {
            if (g > dim.NNOD) {
                input_error(parm_at(io, o.line, "outlet node " + std::to_string(g) +
                            " is outside the surface nodes 1.." + std::to_string(dim.NNOD)));
            }
            const std::size_t i = (std::size_t)g;
            if (width[i] <= 0.0) {
                input_error(parm_at(io, o.line, "outlet node " + std::to_string(g) +
                            " is not on the boundary of the surface"));
            }
            if (outlet_of[i] != 0) {
                input_error(parm_at(io, o.line, "node " + std::to_string(g) +
                            " is already a node of outlet " + std::to_string(outlet_of[i])));
            }
            outlet_of[i] = (int)k + 1;
        }
    }
    // The width of an outlet node: half of each boundary edge that joins it to another node of
    // its outlet (the sides of the outlet are closed), or half of each boundary edge at it when
    // the outlet is the node alone.
    std::vector<double> joined((std::size_t)dim.NNOD + 1, 0.0);
    for (const auto& [ed, count] : edges) {
        const std::size_t a = (std::size_t)ed.first, b = (std::size_t)ed.second;
        if (count != 1 || outlet_of[a] == 0 || outlet_of[a] != outlet_of[b]) continue;
        const double len = std::hypot(msh.X(ed.first) - msh.X(ed.second), msh.Y(ed.first) - msh.Y(ed.second));
        joined[a] += 0.5 * len;
        joined[b] += 0.5 * len;
    }
    for (surface_outlet& o : sf.OUT) {
        for (int g : o.deck) {
            const std::size_t i = (std::size_t)g;
            const double w = joined[i] > 0.0 ? joined[i] : width[i];
            o.width.push_back(w);
            o.slope.push_back(area[i] > 0.0 ? slope[i] / area[i] : 0.0);
            o.conv.push_back(area[i] > 0.0 ? cv[i] / area[i] : sf.CONVF / sf.MANN[0]);
            o.reach.push_back(area[i] / 3.0 / w);  // the node's area over its width
        }
    }

    ounit& lst = io.out(6);
    wfmt(lst, "(/,5X,'SURFACE FLOW (',A,' WAVE, MANNING)')",
         sf.WAVE == surface_wave::KINEMATIC ? "KINEMATIC" : "DIFFUSION");
    wfmt(lst, "(5X,'MANNING N BY MATERIAL (S M**-1/3)         = ',5(1PE11.3),/,(46X,5(1PE11.3)))",
         fitem::reals(sf.MANN.data(), (long)sf.MANN.size()));
    wfmt(lst, "(5X,'DEPRESSION STORAGE                        = ',1PE15.5)", sf.DEPST);
    if (!io.EXTRA.UNITS) {
        wfmt(lst, "(5X,'UNITS NOT GIVEN: LENGTH IN M, TIME IN S FOR MANNING AND GRAVITY')");
    }
    static const char* const kKind[] = {"CRITICAL DEPTH", "NORMAL DEPTH  ", "WATER LEVEL   "};
    for (std::size_t k = 0; k < sf.OUT.size(); ++k) {
        const surface_outlet& o = sf.OUT[k];
        double w = 0.0;
        for (double x : o.width) w += x;
        wfmt(lst, "(5X,'OUTLET ',I3,': ',A,I7,' NODES, WIDTH = ',1PE12.4)", (int)k + 1,
             kKind[(int)o.kind], (int)o.deck.size(), w);
    }
    if (sf.OUT.empty()) wfmt(lst, "(5X,'NO OUTLET: EVERY BOUNDARY EDGE OF THE SURFACE IS CLOSED')");
}

void surface_setup(const dimensions& dim, const control& ctl, const mesh& msh, const sparse& sp,
                   surface& sf) {
    if (!sf.ON) return;
    const int NTRI = dim.NTRI, NNOD = dim.NNOD;
    sf.FULL = ctl.IFLOW != 1;
    sf.TW.alloc(3, NTRI);
    sf.TG.alloc(6, NTRI);
    sf.TS.alloc(NTRI);
    sf.TR.alloc(NTRI);
    sf.TPOS.alloc(6, NTRI);
    sf.DPOS.alloc(NNOD);
    sf.QLAT.alloc(NNOD);
    sf.TA.alloc(NTRI);
    sf.NA.alloc(NNOD);
    sf.WORK.GX.alloc(NNOD);
    sf.WORK.GY.alloc(NNOD);
    sf.WORK.DPREV.alloc(NNOD);
    sf.WORK.SUMS.reserve(4 + sf.OUT.size());
    for (int e = 1; e <= NTRI; ++e) {
        int n[4];
        double x[4], y[4], z[4];
        for (int k = 1; k <= 3; ++k) {
            n[k] = msh.TRIANG(k, e);
            x[k] = msh.X(n[k]);
            y[k] = msh.Y(n[k]);
            z[k] = msh.Z(n[k]);
        }
        const double det = (x[2] - x[1]) * (y[3] - y[1]) - (x[3] - x[1]) * (y[2] - y[1]);
        double b[4] = {0}, c[4] = {0};
        for (int k = 1; k <= 3; ++k) {
            const int l = k % 3 + 1, q = l % 3 + 1;
            b[k] = y[l] - y[q];
            c[k] = x[q] - x[l];
            sf.TG(k, e) = det != 0.0 ? b[k] / det : 0.0;
            sf.TG(3 + k, e) = det != 0.0 ? c[k] / det : 0.0;
        }
        double gx = 0.0, gy = 0.0;
        for (int k = 1; k <= 3; ++k) {
            gx += sf.TG(k, e) * z[k];
            gy += sf.TG(3 + k, e) * z[k];
        }
        sf.TS(e) = std::sqrt(gx * gx + gy * gy);
        sf.TA(e) = 0.5 * std::fabs(det);
        for (int k = 1; k <= 3; ++k) sf.NA(n[k]) += sf.TA(e);
        sf.TR(e) = conveyance(sf, msh.TRIANG(4, e));
        for (int k = 1; k <= 3; ++k) {
            const int a = kEdgeA[k], bb = kEdgeB[k];
            const double w = det != 0.0 ? -(b[a] * b[bb] + c[a] * c[bb]) / (2.0 * std::fabs(det)) : 0.0;
            sf.TW(k, e) = std::max(w, 0.0);
            const int i = n[a], j = n[bb];
            if (sf.FULL) {
                sf.TPOS(k, e) = find_pos(sp, i, j);
                sf.TPOS(3 + k, e) = find_pos(sp, j, i);
            } else {
                sf.TPOS(k, e) = find_pos(sp, std::min(i, j), std::max(i, j));
            }
        }
    }
    for (int i = 1; i <= NNOD; ++i) sf.DPOS(i) = find_pos(sp, i, i);
    // One process of several holds rows for its own columns and the rings around them: a
    // triangle of the outer ring, some of whose entries no row here holds, is left to the
    // process that owns it (TPOS(1) = 0).
    for (int e = 1; e <= NTRI; ++e) {
        bool all = true;
        for (int k = 1; k <= (sf.FULL ? 6 : 3); ++k) all = all && sf.TPOS(k, e) > 0;
        for (int k = 1; k <= 3; ++k) all = all && sf.DPOS(msh.TRIANG(k, e)) > 0;
        if (!all) sf.TPOS(1, e) = 0;
    }
    for (surface_outlet& o : sf.OUT) {
        o.node.clear();
        for (int g : o.deck) o.node.push_back(msh.held_node(g));
    }
}

void surfasm(const dimensions& dim, const control& ctl, const mesh& msh, const bcdata& bc,
             const flowstate& fs, sparse& sp, const surface& sf, bool full) {
    const double* p = fs.PNEW.data() - 1;
    const double* p0 = fs.PSAVE.data() - 1;
    double* A = sp.AMAT.data() - 1;
    double* r = sp.RHS.data() - 1;
    const double dt = ctl.DELTAT;
    // Storage of the standing water.
    for (int i = 1; i <= dim.NNOD; ++i) {
        const double d = std::max(p[i], 0.0), d0 = std::max(p0[i], 0.0);
        const double a = msh.ARENOD(i) / dt;
        if (sf.DPOS(i) == 0) continue;  // a node of the outer ring, without its row
        r[i] -= a * (d - d0);
        if (bc.IFATM(i) == -1) r[i] += ctl.TETAF * bc.ATMPOT(i) + (1.0 - ctl.TETAF) * bc.ATMPOP(i);
        if (p[i] >= 0.0) A[sf.DPOS(i)] += a;
    }
    // Flow to the neighbours.
    depth_gradients(dim, msh, sf, p, sf.WORK);
    const bool kin = sf.WAVE == surface_wave::KINEMATIC;
    edge_flow f;
    for (int e = 1; e <= dim.NTRI; ++e) {
        if (sf.TPOS(1, e) == 0) continue;
        triangle_flow(msh, sf, sf.WORK, e, p, f);
        int n[4];
        double s[4];
        for (int l = 1; l <= 3; ++l) {
            n[l] = msh.TRIANG(l, e);
            s[l] = p[n[l]] >= 0.0 ? 1.0 : 0.0;  // the water surface moves with the head
        }
        for (int k = 1; k <= 3; ++k) {
            if (f.up[k] == 0) continue;
            const int a = kEdgeA[k], b = kEdgeB[k];
            const int i = n[a], j = n[b];
            r[i] -= f.F[k];
            r[j] += f.F[k];
            const int u = f.up[k], v = u == a ? b : a;
            if (!full) {
                // Picard, symmetric: the conductance of the edge, its coupling where both nodes
                // are under water, and the growth of the upstream node's outflow with its depth.
                const double c = f.c[k];
                A[sf.DPOS(i)] += c * s[a];
                A[sf.DPOS(j)] += c * s[b];
                A[sf.TPOS(k, e)] -= c * s[a] * s[b];
                A[sf.DPOS(n[u])] += std::fabs(f.gu[k]) * s[u];
                continue;
            }
            // Newton: dF/dpsi of every corner, into row i and (negated) row j.
            double dF[4] = {0.0, 0.0, 0.0, 0.0};
            if (!kin) {
                dF[a] += f.c[k];
                dF[b] -= f.c[k];
                {
                    const double q = -0.5 * f.F[k] / (f.S * f.S + kSurfaceMinSlope * kSurfaceMinSlope);
                    for (int l = 1; l <= 3; ++l) dF[l] += q * (f.sx * sf.TG(l, e) + f.sy * sf.TG(3 + l, e));
                }
            }
            dF[u] += f.gu[k];
            dF[v] += f.gv[k];
            for (int l = 1; l <= 3; ++l) {
                const double g = dF[l] * s[l];
                if (g == 0.0) continue;
                A[pos_in(msh, sf, e, a, l)] += g;
                A[pos_in(msh, sf, e, b, l)] -= g;
            }
        }
    }
    // Outlets.
    for (const surface_outlet& o : sf.OUT) {
        for (std::size_t q = 0; q < o.node.size(); ++q) {
            const int i = o.node[q];
            if (i == 0) continue;
            if (sf.DPOS(i) == 0) continue;
            double Q = 0.0, dQ = 0.0;
            outflow(sf, o, q, std::max(p[i], 0.0), Q, dQ);
            r[i] -= Q;
            if (p[i] >= 0.0) A[sf.DPOS(i)] += dQ;
        }
    }
}

bool surface_limit(const dimensions& dim, const control& ctl, const mesh& msh, const bcdata& bc,
                   const flowstate& fs, const surface& sf, arr1<double>& delta) {
    arr1<double>& last = sf.WORK.DPREV;
    bool halved = false;
    for (int i = 1; i <= dim.NNOD; ++i) {
        if (ctl.ITER == 1) last(i) = 0.0;
        if (bc.IFATM(i) != 0) continue;
        double& d = delta(i);
        if (d * last(i) < 0.0 && std::fabs(d) > 0.9 * std::fabs(last(i)) && std::fabs(d) > ctl.TOLNL) {
            d *= 0.5;
            halved = true;
        }
        const double p = fs.PNEW(i), q = p + d;
        if ((p < 0.0 && q > 0.0) || (p > 0.0 && q < 0.0)) d = -p;
        last(i) = d;
    }
    return msh.any(halved);
}

void surface_velocity(const dimensions& dim, const mesh& msh, const arr1<double>& p,
                      const surface& sf, arr1<double>& vx, arr1<double>& vy) {
    for (int i = 1; i <= dim.NNOD; ++i) vx(i) = vy(i) = 0.0;
    const bool kin = sf.WAVE == surface_wave::KINEMATIC;
    for (int e = 1; e <= dim.NTRI; ++e) {
        double gx = 0.0, gy = 0.0, m = 0.0;
        for (int k = 1; k <= 3; ++k) {
            const int i = msh.TRIANG(k, e);
            const double d = std::max(p(i), 0.0);
            const double h = msh.Z(i) + (kin ? 0.0 : d);
            gx += sf.TG(k, e) * h;
            gy += sf.TG(3 + k, e) * h;
            m += std::max(d - sf.DEPST, 0.0) / 3.0;
        }
        const double S = std::sqrt(gx * gx + gy * gy);
        if (S <= 0.0 || m <= 0.0) continue;
        const double v = sf.TR(e) * std::cbrt(m * m) * std::sqrt(S) * sf.TA(e) / S;
        for (int k = 1; k <= 3; ++k) {
            const int i = msh.TRIANG(k, e);
            vx(i) -= v * gx;
            vy(i) -= v * gy;
        }
    }
    for (int i = 1; i <= dim.NNOD; ++i) {
        if (sf.NA(i) > 0.0) {
            vx(i) /= sf.NA(i);
            vy(i) /= sf.NA(i);
        }
    }
}

double surface_imbalance(const dimensions& dim, const control& ctl, const mesh& msh,
                         const bcdata& bc, const sparse& sp) {
    double worst = 0.0;
    if (ctl.DELTAT < 1.0e10) {
        for (int i = 1; i <= dim.NNOD; ++i) {
            if (bc.IFATM(i) != 0 || !msh.own(i) || msh.ARENOD(i) <= 0.0) continue;
            worst = std::max(worst, std::fabs(sp.RHS(i)) * ctl.DELTAT / msh.ARENOD(i));
        }
    }
    return msh.largest(worst);
}

void surfmb(const dimensions& dim, const control& ctl, const mesh& msh, const bcdata& bc,
            const flowstate& fs, surface& sf, massbal& mb) {
    const double* p = fs.PNEW.data() - 1;
    const double* p0 = fs.PSAVE.data() - 1;
    const bool steady = ctl.DELTAT >= 1.0e10;
    const double dt = steady ? 1.0 : ctl.DELTAT;
    const double tf = ctl.TETAF;
    // Net outflow of every node to its neighbours and at the outlets, at the new heads.
    double* q = sf.QLAT.data() - 1;
    for (int i = 1; i <= dim.NNOD; ++i) q[i] = 0.0;
    depth_gradients(dim, msh, sf, p, sf.WORK);
    edge_flow f;
    for (int e = 1; e <= dim.NTRI; ++e) {
        if (sf.TPOS(1, e) == 0) continue;
        triangle_flow(msh, sf, sf.WORK, e, p, f);
        for (int k = 1; k <= 3; ++k) {
            if (f.up[k] == 0) continue;
            q[msh.TRIANG(kEdgeA[k], e)] += f.F[k];
            q[msh.TRIANG(kEdgeB[k], e)] -= f.F[k];
        }
    }
    // The water stored, infiltration, exfiltration, then the discharge of each outlet.
    std::vector<double>& sums = sf.WORK.SUMS;
    sums.assign(4 + sf.OUT.size(), 0.0);
    for (std::size_t k = 0; k < sf.OUT.size(); ++k) {
        const surface_outlet& o = sf.OUT[k];
        for (std::size_t n = 0; n < o.node.size(); ++n) {
            const int i = o.node[n];
            if (i == 0) continue;
            double Q = 0.0, dQ = 0.0;
            outflow(sf, o, n, std::max(p[i], 0.0), Q, dQ);
            q[i] += Q;
            if (msh.own(i)) sums[4 + k] += Q;
        }
    }
    for (int i = 1; i <= dim.NNOD; ++i) {
        if (!msh.own(i)) continue;
        const double ds = steady ? 0.0 : msh.ARENOD(i) * (std::max(p[i], 0.0) - std::max(p0[i], 0.0));
        sums[0] += ds;
        if (bc.IFATM(i) == -1) continue;  // the prescribed condition takes what arrives
        const double atm = tf * bc.ATMACT(i) + (1.0 - tf) * bc.ATMACP(i);
        const double x = dt * (atm - q[i]) - ds;
        if (x > 0.0) sums[1] += x;
        else sums[2] += x;
    }
    msh.sum(sums.data(), (long)sums.size());
    mb.SSTORE = sums[0];
    mb.SINF = sums[1];
    mb.SEXF = sums[2];
    mb.SOUT = 0.0;
    mb.SOUTQ.resize(sf.OUT.size());
    for (std::size_t k = 0; k < sf.OUT.size(); ++k) {
        mb.SOUTQ[k] = sums[4 + k];
        mb.SOUT += dt * sums[4 + k];
    }
}

}  // namespace nep
