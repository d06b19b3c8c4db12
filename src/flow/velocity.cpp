#include "flow/velocity.h"

#include "flow/elavg.h"
#include "mesh/geometry.h"

namespace nep {

namespace {

// What the velocity of an element needs besides the element itself.
struct velocity_inputs {
    const dimensions& dim;
    const control& ctl;
    const mesh& msh;
    const soil& sl;
    const arr1<double>& H;     // potential heads
    const arr1<double>& conc;  // concentrations (coupled runs)
};

// The Darcy velocity q of element e.
inline void element_velocity(const velocity_inputs& in, long e, tetra_geo& geo, double q[3]) {
    const tetra_table& T = in.msh.TETRA;
    const soil& sl = in.sl;
    const int layer = (int)((e - 1) / (3 * in.dim.NTRI)) + 1;
    const int mat = T(5, e);
    tetra_geometry(in.msh, e, geo);
    double sx = 0.0, sy = 0.0, sz = 0.0;
    for (int m = 1; m <= 4; ++m) {
        const double h = in.H(T(m, e));
        sx += h * geo.b[m - 1];
        sy += h * geo.c[m - 1];
        sz += h * geo.d[m - 1];
    }
    const double g = geo.sign * geo.volinv;
    const double dhdx = g * sx, dhdy = g * sy, dhdz = g * sz;
    const double kr = elmean(sl.CKRW, in.msh, e);
    const double kx = sl.XPERM(layer, mat), ky = sl.YPERM(layer, mat), kz = sl.ZPERM(layer, mat);
    if (in.ctl.ITRANS == 0) {
        q[0] = -kr * kx * dhdx;
        q[1] = -kr * ky * dhdy;
        q[2] = -kr * kz * dhdz;
    } else {
        const arr1<double>& c = in.conc;
        const double cbar = (c(T(1, e)) + c(T(2, e)) + c(T(3, e)) + c(T(4, e))) * 0.25;
        const double mu = 1.0 + sl.EPSLON1 * cbar;
        q[0] = -kr * kx * dhdx / mu;
        q[1] = -kr * ky * dhdy / mu;
        q[2] = -kr * kz * (dhdz + sl.EPSLON * cbar) / mu;
    }
}

// The nodal sums of velnod into means.
void nodal_means(const dimensions& dim, const mesh& msh, arr1<double>& vx, arr1<double>& vy,
                 arr1<double>& vz) {
    // Every node belongs to at least one element (the connectivity check stops the run
    // otherwise); a node without elements would keep a zero velocity.
    for (int i = 1; i <= dim.N; ++i) {
        const int k = msh.NCONT(i);
        if (k > 0) {
            vx(i) /= k;
            vy(i) /= k;
            vz(i) /= k;
        }
    }
}

}  // namespace

void velele(const dimensions& dim, const control& ctl, const mesh& msh, const soil& sl,
            flowstate& fs, const arr1<double>* C) {
    const velocity_inputs in{dim, ctl, msh, sl, fs.HPOT, C != nullptr ? *C : fs.CNEW};
    tetra_geo geo;
    double q[3];
    for (int e = 1; e <= dim.NT; ++e) {
        element_velocity(in, e, geo, q);
        fs.VX(e) = q[0];
        fs.VY(e) = q[1];
        fs.VZ(e) = q[2];
    }
}

void velnod(const dimensions& dim, const mesh& msh, flowstate& fs) {
    const tetra_table& T = msh.TETRA;
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
    nodal_means(dim, msh, fs.VXNOD, fs.VYNOD, fs.VZNOD);
}

void velcmp(const dimensions& dim, const control& ctl, const mesh& msh, soil& sl,
            flowstate& fs, const arr1<double>* C) {
    if (fs.VX.size() == dim.NT) {
        velele(dim, ctl, msh, sl, fs, C);
        velnod(dim, msh, fs);
        return;
    }
    velnod_of(dim, ctl, msh, sl, fs, C, fs.VXNOD, fs.VYNOD, fs.VZNOD);
}

void velocity_of(const dimensions& dim, const control& ctl, const mesh& msh, const soil& sl,
                 const flowstate& fs, long e, double q[3]) {
    const velocity_inputs in{dim, ctl, msh, sl, fs.HPOT, fs.CNEW};
    tetra_geo geo;
    element_velocity(in, e, geo, q);
}

void velnod_of(const dimensions& dim, const control& ctl, const mesh& msh, const soil& sl,
               const flowstate& fs, const arr1<double>* C, arr1<double>& vx, arr1<double>& vy,
               arr1<double>& vz) {
    const velocity_inputs in{dim, ctl, msh, sl, fs.HPOT, C != nullptr ? *C : fs.CNEW};
    const tetra_table& T = msh.TETRA;
    vx.fill(0.0);
    vy.fill(0.0);
    vz.fill(0.0);
    tetra_geo geo;
    double q[3];
    for (int e = 1; e <= dim.NT; ++e) {
        element_velocity(in, e, geo, q);
        for (int m = 1; m <= 4; ++m) {
            const int i = T(m, e);
            vx(i) += q[0];
            vy(i) += q[1];
            vz(i) += q[2];
        }
    }
    nodal_means(dim, msh, vx, vy, vz);
}

}  // namespace nep
