#include "flow/velocity.h"

#include "flow/elavg.h"
#include "mesh/geometry.h"

namespace nep {

void velele(const dimensions& dim, const control& ctl, const mesh& msh, const soil& sl,
            flowstate& fs, const arr1<double>* C) {
    const arr2<int>& T = msh.TETRA;
    const arr1<double>& H = fs.HPOT;
    const bool coupled = ctl.ITRANS != 0;
    const arr1<double>& conc = C != nullptr ? *C : fs.CNEW;
    const int per_layer = 3 * dim.NTRI;

    tetra_geo geo;
    for (int e = 1; e <= dim.NT; ++e) {
        const int layer = (e - 1) / per_layer + 1;
        const int mat = T(5, e);
        tetra_geometry(msh, e, geo);
        double sx = 0.0, sy = 0.0, sz = 0.0;
        for (int m = 1; m <= 4; ++m) {
            const double h = H(T(m, e));
            sx += h * geo.b[m - 1];
            sy += h * geo.c[m - 1];
            sz += h * geo.d[m - 1];
        }
        const double g = geo.sign * geo.volinv;
        const double dhdx = g * sx, dhdy = g * sy, dhdz = g * sz;
        const double kr = elmean(sl.CKRW, msh, e);
        const double kx = sl.XPERM(layer, mat), ky = sl.YPERM(layer, mat), kz = sl.ZPERM(layer, mat);
        if (!coupled) {
            fs.VX(e) = -kr * kx * dhdx;
            fs.VY(e) = -kr * ky * dhdy;
            fs.VZ(e) = -kr * kz * dhdz;
        } else {
            const double cbar =
                (conc(T(1, e)) + conc(T(2, e)) + conc(T(3, e)) + conc(T(4, e))) * 0.25;
            const double mu = 1.0 + sl.EPSLON1 * cbar;
            fs.VX(e) = -kr * kx * dhdx / mu;
            fs.VY(e) = -kr * ky * dhdy / mu;
            fs.VZ(e) = -kr * kz * (dhdz + sl.EPSLON * cbar) / mu;
        }
    }
}

void velnod(const dimensions& dim, const mesh& msh, flowstate& fs) {
    const arr2<int>& T = msh.TETRA;
    fs.VXNOD.fill(0.0);
    fs.VYNOD.fill(0.0);
    fs.VZNOD.fill(0.0);
    for (int e = 1; e <= dim.NT; ++e) {
        for (int m = 1; m <= 4; ++m) {
            const int i = T(m, e);
            fs.VXNOD(i) += fs.VX(e);
            fs.VYNOD(i) += fs.VY(e);
            fs.VZNOD(i) += fs.VZ(e);
        }
    }
    // Every node belongs to at least one element (the connectivity check stops the run
    // otherwise); a node without elements would keep a zero velocity.
    for (int i = 1; i <= dim.N; ++i) {
        const int k = msh.NCONT(i);
        if (k > 0) {
            fs.VXNOD(i) /= k;
            fs.VYNOD(i) /= k;
            fs.VZNOD(i) /= k;
        }
    }
}

void velcmp(const dimensions& dim, const control& ctl, const mesh& msh, soil& sl,
            flowstate& fs, const arr1<double>* C) {
    velele(dim, ctl, msh, sl, fs, C);
    velnod(dim, msh, fs);
}

}  // namespace nep
