// Geometry of the surface grid and of the tetrahedra, and the node-element incidence.
#include "mesh/geometry.h"

#include <cmath>
#include <string>

#include "base/format.h"
#include "base/stop.h"
#include "records/iofiles.h"

namespace nep {

namespace {


// Sign table of the volume and basis formulas; entry 5 serves s(m+1) for m = 4.
constexpr double kSign[6] = {0.0, -1.0, 1.0, -1.0, 1.0, -1.0};

}  // namespace

void area2d(dimensions& dim, const control& ctl, iofiles& io, mesh& msh) {
    const arr1<double>& X = msh.X;
    const arr1<double>& Y = msh.Y;
    msh.ARENOD.fill(0.0);
    for (int j = 1; j <= dim.NTRI; ++j) {
        const int i = msh.TRIANG(1, j), k = msh.TRIANG(2, j), l = msh.TRIANG(3, j);
        double a3 = std::fabs(X(i) * Y(k) + X(k) * Y(l) + X(l) * Y(i) - X(i) * Y(l) - X(k) * Y(i) - X(l) * Y(k)) * 0.5 / 3.0;
        // A repeated vertex is a zero area whatever the rounding of the products leaves.
        if (i == k || k == l || i == l) a3 = 0.0;
        if (a3 == 0.0) {
            if (ctl.DIALECT == dialect::ALT) {
                input_error("grid file: triangle " + std::to_string(j) + " (nodes " + std::to_string(i) + " " +
                            std::to_string(k) + " " + std::to_string(l) + ") has zero area");
            }
            wfmt_both(io, "(/,' ERROR IN SUBROUTINE AREA2D: ZERO AREA CALCULATED',/,"
                        "'    AT TRIANG ',I6,'  NODE NUMBERS:',4I6)",
                    j, i, k, l);
            stop_run(EXIT_ERROR);
        }
        msh.ARENOD(i) += a3;
        msh.ARENOD(k) += a3;
        msh.ARENOD(l) += a3;
    }
}

void volumet(iofiles& io, int NT, const int (&IP4)[5][5], const arr2<int>& TETRA, const arr1<double>& X,
             const arr1<double>& Y, const arr1<double>& Z, arr1<int>& IVOL, arr1<double>& VOLUR,
             arr1<double>& VOLINV) {
    for (int e = 1; e <= NT; ++e) {
        const int* t = TETRA.col(e) - 1;  // t[1..4]
        double v = 0.0;
        for (int m = 1; m <= 4; ++m) {
            const int j1 = t[IP4[2][m]], j2 = t[IP4[3][m]], j3 = t[IP4[4][m]];
            v += kSign[m] * X(t[m]) *
                 (Y(j1) * (Z(j2) - Z(j3)) + Y(j2) * (Z(j3) - Z(j1)) + Y(j3) * (Z(j1) - Z(j2))) / 6.0;
        }
        IVOL(e) = 1;
        if (v < 0.0) {
            IVOL(e) = -1;
            v = -v;
        }
        if (v == 0.0) {
            wfmt_both(io, "(/,' ERROR IN SUBROUTINE VOLUMET: ZERO VOLUME CALCULATED',/,"
                        "'    AT ELEMENT ',I6,'  NODE NUMBERS:',4I6)",
                    e, t[1], t[2], t[3], t[4]);
            stop_run(EXIT_ERROR);
        }
        VOLUR(e) = v;
        VOLINV(e) = 1.0 / v;
    }
}

void basfun(int NT, const int (&IP4)[5][5], const arr2<int>& TETRA, const arr1<double>& X,
            const arr1<double>& Y, const arr1<double>& Z, arr2<double>& BI, arr2<double>& CI,
            arr2<double>& DI) {
    // C(a, b) = a_j1 (b_j2 - b_j3) + a_j2 (b_j3 - b_j1) + a_j3 (b_j1 - b_j2)
    auto C = [](const arr1<double>& a, const arr1<double>& b, int j1, int j2, int j3) {
        return a(j1) * (b(j2) - b(j3)) + a(j2) * (b(j3) - b(j1)) + a(j3) * (b(j1) - b(j2));
    };
    for (int e = 1; e <= NT; ++e) {
        const int* t = TETRA.col(e) - 1;
        for (int m = 1; m <= 4; ++m) {
            const int j1 = t[IP4[2][m]], j2 = t[IP4[3][m]], j3 = t[IP4[4][m]];
            BI(m, e) = kSign[m] * C(Y, Z, j1, j2, j3) / 6.0;
            CI(m, e) = kSign[m + 1] * C(X, Z, j1, j2, j3) / 6.0;
            DI(m, e) = kSign[m] * C(X, Y, j1, j2, j3) / 6.0;
        }
    }
}

void elmgeo(dimensions& dim, control& ctl, iofiles& io, mesh& msh, sparse& sp) {
    volumet(io, dim.NT, ctl.IP4, msh.TETRA, msh.X, msh.Y, msh.Z, msh.IVOL, msh.VOLUR, msh.VOLINV);
    basfun(dim.NT, ctl.IP4, msh.TETRA, msh.X, msh.Y, msh.Z, sp.BI, sp.CI, sp.DI);
    msh.VOLNOD.fill(0.0);
    for (int e = 1; e <= dim.NT; ++e) {
        const double q = 0.25 * msh.VOLUR(e);
        for (int v = 1; v <= 4; ++v) msh.VOLNOD(msh.TETRA(v, e)) += q;
    }
}

void tpnodic(dimensions& dim, control& ctl, iofiles& io, mesh& msh, soil& sl) {
    const int N = dim.N;
    // The nodal retardation of coupled runs, where the soil storage holds the solute tables.
    const bool tr = ctl.ITRANS != 0 && !sl.RETNOD.empty();
    const long per_layer = 3L * dim.NTRI;
    msh.NCONT.fill(0);
    sl.PORNOD.fill(0.0);
    sl.SNODI.fill(0.0);
    if (tr) sl.RETNOD.fill(0.0);
    for (int e = 1; e <= dim.NT; ++e) {
        const int L = (int)((e - 1) / per_layer) + 1;
        const int k = msh.TETRA(5, e);
        const double por = sl.POROSITY(L, k);
        const double sto = sl.STORAGE(L, k);
        for (int v = 1; v <= 4; ++v) {
            const int node = msh.TETRA(v, e);
            msh.NCONT(node) += 1;
            sl.PORNOD(node) += por;
            sl.SNODI(node) += sto;
            if (tr) sl.RETNOD(node) += sl.RETARD(L, k);
        }
    }
    for (int v = 1; v <= N; ++v) {
        const int c = msh.NCONT(v);
        if (c > 0) {
            sl.PORNOD(v) /= c;
            sl.SNODI(v) /= c;
            if (tr) sl.RETNOD(v) /= c;
        }
    }
    bool lonely = false;
    for (int v = 1; v <= N; ++v) {
        if (msh.NCONT(v) == 0) {
            wfmt_both(io, "(/,' ERROR IN MESH CONSTRUCTION:    NODE ',I7,"
                        "' IS NOT CONNECTED TO ANY ELEMENTS')",
                    v);
            lonely = true;
        }
    }
    if (lonely) stop_run(EXIT_ERROR);
}

}  // namespace nep
