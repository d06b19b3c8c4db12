#include "soil/roots.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/format.h"
#include "base/stop.h"
#include "records/inputerr.h"

namespace nep {

namespace {

bool number(const std::string& w, double& v) {
    char* end = nullptr;
    v = std::strtod(w.c_str(), &end);
    return !w.empty() && end == w.c_str() + w.size() && std::isfinite(v);
}

std::string upper(std::string s) {
    for (char& c : s) c = (char)std::toupper((unsigned char)c);
    return s;
}

// A value of a list given per material code, or one for all.
template <class T>
const T& of_code(const std::vector<T>& v, int code) {
    return v.size() == 1 ? v[0] : v[(std::size_t)std::max(code, 1) - 1];
}

double density(root_shape s, double depth, double d) {
    if (!(depth > 0.0) || d > depth * (1.0 + 1.0e-9)) return 0.0;
    return s == root_shape::UNIFORM ? 1.0 : std::max(0.0, 1.0 - d / depth);
}

}  // namespace

bool roots_keyword(const std::string& key) {
    return key == "ROOTS" || key == "ROOTDEPTH" || key == "ROOTSHAPE" || key == "FEDDES";
}

void roots_read(roots& rt, const std::string& key, std::istringstream& in, long line,
                const std::string& where) {
    std::vector<std::string> w;
    for (std::string s; in >> s;) w.push_back(s);
    auto stop = [&](const std::string& what) { input_error(where + what); };
    auto values = [&](std::vector<double>& to, const char* what, bool positive_only) {
        if (w.empty()) stop(key + " takes " + what + " of each material, or one for all");
        for (const std::string& s : w) {
            double v = 0.0;
            if (!number(s, v) || v < 0.0 || (positive_only && v == 0.0)) {
                stop(key + " value '" + s + "' is not " + (positive_only ? "a positive number" : "a number, 0 or more"));
            }
            to.push_back(v);
        }
    };
    if (key == "ROOTS") {
        if (rt.ON) stop("a second ROOTS line");
        rt.ON = true;
        rt.FRACLINE = line;
        values(rt.FRAC, "the share of the potential evapotranspiration that is transpiration (0..1)", false);
        for (double f : rt.FRAC) {
            if (f > 1.0) {
                char v[32];
                std::snprintf(v, sizeof v, "%g", f);
                stop(std::string("ROOTS: a share of transpiration of ") + v + " is above 1");
            }
        }
    } else if (key == "ROOTDEPTH") {
        if (rt.DEPTHLINE != 0) stop("a second ROOTDEPTH line");
        rt.DEPTHLINE = line;
        values(rt.DEPTH, "the depth of the root zone below the ground", false);
    } else if (key == "ROOTSHAPE") {
        if (rt.SHAPELINE != 0) stop("a second ROOTSHAPE line");
        rt.SHAPELINE = line;
        if (w.empty()) stop("ROOTSHAPE takes UNIFORM or LINEAR of each material, or one for all");
        for (const std::string& s : w) {
            const std::string u = upper(s);
            if (u == "UNIFORM") rt.SHAPE.push_back(root_shape::UNIFORM);
            else if (u == "LINEAR") rt.SHAPE.push_back(root_shape::LINEAR);
            else stop("ROOTSHAPE '" + s + "' is neither UNIFORM nor LINEAR");
        }
    } else {  // FEDDES
        if (rt.FEDLINE != 0) stop("a second FEDDES line");
        rt.FEDLINE = line;
        double h[4];
        if (w.size() != 4 || !number(w[0], h[0]) || !number(w[1], h[1]) || !number(w[2], h[2]) ||
            !number(w[3], h[3])) {
            stop("FEDDES takes four pressure heads h1 h2 h3 h4, as 'FEDDES -0.1 -0.25 -4 -80'");
        }
        if (!(h[0] > h[1] && h[1] >= h[2] && h[2] > h[3])) {
            stop("FEDDES heads " + w[0] + " " + w[1] + " " + w[2] + " " + w[3] +
                 " are not in the order h1 > h2 >= h3 > h4");
        }
        rt.H1 = h[0];
        rt.H2 = h[1];
        rt.H3 = h[2];
        rt.H4 = h[3];
    }
}

void roots_check(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh,
                 roots& rt) {
    const std::string file = io.IN[5].role() + " '" + io.IN[5].name() + "'";
    if (!rt.ON) {
        if (rt.DEPTHLINE != 0 || rt.SHAPELINE != 0 || rt.FEDLINE != 0) {
            input_error(file + ": ROOTDEPTH, ROOTSHAPE and FEDDES belong to a root-uptake section, "
                        "which begins with a ROOTS line");
        }
        return;
    }
    if (rt.DEPTHLINE == 0) input_error(file + ": the root-uptake section has no ROOTDEPTH line");
    if (rt.FEDLINE == 0) input_error(file + ": the root-uptake section has no FEDDES line");
    if (ctl.ITRANS != 0) {
        input_error(file + ": root water uptake runs without transport (ITRANS = 0): what the "
                    "roots do with the solute is not modelled");
    }
    if (rt.SHAPE.empty()) rt.SHAPE.push_back(root_shape::UNIFORM);
    int maxmat = 1;
    for (int e = 1; e <= dim.NTRI; ++e) maxmat = std::max(maxmat, msh.TRIANG(4, e));
    auto count = [&](std::size_t n, long line, const char* key) {
        if (n != 1 && (int)n < maxmat) {
            input_error(bc_detail(io.IN[5], line, std::string(key) + " gives " + std::to_string(n) +
                                  " values, the surface triangles have material codes up to " +
                                  std::to_string(maxmat)));
        }
    };
    count(rt.FRAC.size(), rt.FRACLINE, "ROOTS");
    count(rt.DEPTH.size(), rt.DEPTHLINE, "ROOTDEPTH");
    if (rt.SHAPELINE != 0) count(rt.SHAPE.size(), rt.SHAPELINE, "ROOTSHAPE");

    ounit& lst = io.out(6);
    const int n = std::max({(int)rt.FRAC.size(), (int)rt.DEPTH.size(), (int)rt.SHAPE.size()});
    wfmt(lst, "(/,5X,'ROOT WATER UPTAKE (FEDDES), BY MATERIAL OF THE SURFACE TRIANGLES')");
    wfmt(lst, "(5X,'   MATERIAL  TRANSP SHARE     ROOT DEPTH  SHAPE')");
    for (int c = 1; c <= n; ++c) {
        wfmt(lst, "(5X,I11,1PE14.4,1PE15.4,2X,A)", c, of_code(rt.FRAC, c), of_code(rt.DEPTH, c),
             of_code(rt.SHAPE, c) == root_shape::UNIFORM ? "UNIFORM" : "LINEAR");
    }
    if (n == 1) wfmt(lst, "(5X,'(ONE SET FOR EVERY MATERIAL)')");
    wfmt(lst, "(5X,'FEDDES H1 H2 H3 H4 (PRESSURE HEADS)       = ',4(1PE12.4))", rt.H1, rt.H2,
         rt.H3, rt.H4);
    wfmt(lst, "(5X,'TRANSPIRATION UNDER EVAPORATIVE DEMAND ONLY, NONE UNDER RAIN',"
              "/,5X,'UPTAKE AT THE END OF THE STEP (IMPLICIT) WHATEVER TETAF')");
}

void roots_setup(const dimensions& dim, const mesh& msh, const sparse& sp, bcdata& bc, roots& rt) {
    if (!rt.ON) return;
    const int N = dim.N, NNOD = dim.NNOD;
    rt.WT.alloc(N);
    rt.SINK.alloc(N);
    rt.DSINK.alloc(N);
    rt.DPOS.alloc(N);
    rt.WT.fill(0.0);
    rt.SINK.fill(0.0);
    // Per surface node, its area share (a third of each triangle around it) of every triangle,
    // by material code: the node's transpiration share and root density are the area means of
    // those of its triangles.
    std::vector<std::vector<std::pair<int, double>>> share((std::size_t)NNOD + 1);
    std::vector<double> area((std::size_t)NNOD + 1, 0.0), frac(area);
    for (int e = 1; e <= dim.NTRI; ++e) {
        int n[3];
        for (int k = 0; k < 3; ++k) n[k] = msh.TRIANG(k + 1, e);
        const double a = std::fabs((msh.X(n[1]) - msh.X(n[0])) * (msh.Y(n[2]) - msh.Y(n[0])) -
                                   (msh.X(n[2]) - msh.X(n[0])) * (msh.Y(n[1]) - msh.Y(n[0]))) / 6.0;
        const int code = msh.TRIANG(4, e);
        const bool rooted = of_code(rt.DEPTH, code) > 0.0;
        for (int k = 0; k < 3; ++k) {
            const std::size_t j = (std::size_t)n[k];
            share[j].push_back({code, a});
            area[j] += a;
            if (rooted) frac[j] += a * of_code(rt.FRAC, code);
        }
    }
    bc.TRFRAC.assign((std::size_t)NNOD, 0.0);
    bc.TRPOT.assign((std::size_t)NNOD, 0.0);
    std::vector<double> col((std::size_t)NNOD + 1, 0.0);
    for (int i = 1; i <= N; ++i) {
        const int j = (i - 1) % NNOD + 1;
        const double d = msh.Z(j) - msh.Z(i);
        double rho = 0.0;
        for (const auto& [code, a] : share[(std::size_t)j]) {
            rho += a * density(of_code(rt.SHAPE, code), of_code(rt.DEPTH, code), d);
        }
        rt.WT(i) = rho;  // the volumes come with roots_weights
        col[(std::size_t)j] += rho;
    }
    for (int j = 1; j <= NNOD; ++j) {
        const std::size_t s = (std::size_t)j;
        if (area[s] > 0.0 && col[s] > 0.0) bc.TRFRAC[s - 1] = frac[s] / area[s];
    }
    for (int i = 1; i <= N; ++i) {
        int p = 0;
        if (i < sp.IA.size()) {
            for (int k = sp.IA(i); k < sp.IA(i + 1); ++k) {
                if (sp.JA(k) == i) {
                    p = k;
                    break;
                }
            }
        }
        rt.DPOS(i) = p;
    }
}

void roots_weights(const dimensions& dim, const mesh& msh, roots& rt) {
    if (!rt.ON) return;
    const int N = dim.N, NNOD = dim.NNOD;
    std::vector<double> col((std::size_t)NNOD + 1, 0.0);
    for (int i = 1; i <= N; ++i) {
        rt.WT(i) *= msh.VOLNOD(i);
        col[(std::size_t)((i - 1) % NNOD + 1)] += rt.WT(i);
    }
    for (int i = 1; i <= N; ++i) {
        const double c = col[(std::size_t)((i - 1) % NNOD + 1)];
        rt.WT(i) = c > 0.0 ? rt.WT(i) / c : 0.0;
    }
}

double feddes(const roots& rt, double h, double& da) {
    da = 0.0;
    if (h >= rt.H1 || h <= rt.H4) return 0.0;
    if (h > rt.H2) {
        da = -1.0 / (rt.H1 - rt.H2);
        return (rt.H1 - h) / (rt.H1 - rt.H2);
    }
    if (h >= rt.H3) return 1.0;
    da = 1.0 / (rt.H3 - rt.H4);
    return (h - rt.H4) / (rt.H3 - rt.H4);
}

void rootasm(const dimensions& dim, const flowstate& fs, const bcdata& bc, sparse& sp, roots& rt,
             bool newton) {
    const int NNOD = dim.NNOD;
    double* A = sp.AMAT.data() - 1;
    arr1<double>& ds = rt.DSINK;
    for (int i = 1; i <= dim.N; ++i) {
        const double tp = bc.TRPOT[(std::size_t)((i - 1) % NNOD)] * rt.WT(i);
        rt.SINK(i) = 0.0;
        ds(i) = 0.0;
        if (tp > 0.0) {
            double da = 0.0;
            rt.SINK(i) = feddes(rt, fs.PNEW(i), da) * tp;
            ds(i) = da * tp;
        }
    }
    // A node held at a head (prescribed, a seepage face below its exit point, a surface node
    // ponded or air-dry) gives the roots nothing: its water would come from its condition.
    auto held = [&](int i) {
        if (i >= 1 && i <= dim.N) rt.SINK(i) = ds(i) = 0.0;
    };
    for (int k = 1; k <= dim.NP; ++k) held(bc.DIRNOD(k));
    for (int f = 1; f <= dim.NSF; ++f) {
        for (int j = bc.IEXIT(f); j <= bc.NSFNUM(f); ++j) held(bc.SFNOD(f, j));
    }
    for (int j = 1; j <= NNOD; ++j) {
        if (bc.IFATM(j) == 1) held(j);
    }
    for (int i = 1; i <= dim.N; ++i) {
        if (rt.DPOS(i) == 0 || rt.SINK(i) == 0.0) continue;
        sp.RHS(i) -= rt.SINK(i);
        if (newton || ds(i) > 0.0) A[rt.DPOS(i)] += ds(i);
    }
}

void rootmb(const dimensions& dim, const control& ctl, const mesh& msh, const bcdata& bc,
            const roots& rt, massbal& mb) {
    double sums[2] = {0.0, 0.0};
    for (int j = 1; j <= dim.NNOD; ++j) {
        if (msh.own(j)) sums[0] += bc.TRPOT[(std::size_t)(j - 1)];
    }
    for (int i = 1; i <= dim.N; ++i) {
        if (msh.own(i)) sums[1] += rt.SINK(i);
    }
    msh.sum(sums, 2);
    const double f = ctl.DELTAT >= 1.0e10 ? 1.0 : ctl.DELTAT;  // a steady state: the rates
    mb.UPTPOT = f * sums[0];
    mb.UPTVOL = f * sums[1];
}

}  // namespace nep
