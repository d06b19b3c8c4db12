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
void nodal_means(const dimensions& dim, const mesh& msh, flowstate& fs) {
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
    nodal_means(dim, msh, fs);
}

void velcmp(const dimensions& dim, const control& ctl, const mesh& msh, soil& sl,
            flowstate& fs, const arr1<double>* C, const arr1<int>* only) {
    if (only == nullptr && fs.VX.size() == dim.NT) {
        velele(dim, ctl, msh, sl, fs, C);
        velnod(dim, msh, fs);
        return;
    }
    // Element velocities not kept: each is formed and added to its vertices at once, in the
    // order velnod adds them.
    const velocity_inputs in{dim, ctl, msh, sl, fs.HPOT, C != nullptr ? *C : fs.CNEW};
    const tetra_table& T = msh.TETRA;
    fs.VXNOD.fill(0.0);
    fs.VYNOD.fill(0.0);
    fs.VZNOD.fill(0.0);
    tetra_geo geo;
    double q[3];
    long k = 1;
    const long kept = only != nullptr ? only->size() : 0;
    for (int e = 1; e <= dim.NT; ++e) {
        element_velocity(in, e, geo, q);
        if (k <= kept && (*only)(k) == e) {
            fs.VX(k) = q[0];
            fs.VY(k) = q[1];
            fs.VZ(k) = q[2];
            ++k;
        }
        for (int m = 1; m <= 4; ++m) {
            const int i = T(m, e);
            fs.VXNOD(i) += q[0];
            fs.VYNOD(i) += q[1];
            fs.VZNOD(i) += q[2];
        }
    }
    nodal_means(dim, msh, fs);
}

}  // namespace nep
