// Element geometry and node connectivity: surface node areas, element volumes and orientation,
// basis coefficients, nodal volumes, node-element counts and nodal soil averages.
#pragma once

#include "records/control.h"
#include "records/dimensions.h"
#include "records/iofiles.h"
#include "records/mesh.h"
#include "records/soil.h"
#include "records/sparse.h"

namespace nep {

// ARENOD: a third of the plan area of every surface triangle to each of its vertices.
// control gives the dialect (the second program has no zero-area message).
void area2d(dimensions& dim, const control& ctl, iofiles& io, mesh& msh);

// The geometry of one tetrahedron: its volume, the orientation of its vertices and the signed
// basis coefficients of its four vertices (the gradient of the linear basis function of vertex m
// is sign * (b[m], c[m], d[m]) / vol). Kept in GEOM and GEOMD when the mesh fits in memory
// with it (72 bytes an element, and 40 for each of the top layer, the largest part of a run's
// memory), formed from the coordinates in every element loop otherwise (the loops then take
// about 40 % longer).
struct tetra_geo {
    double b[4], c[4], d[4];  // vertex m + 1 of the element
    double vol;               // volume, positive (0 for a degenerate element)
    double volinv;            // 1 / vol
    int sign;                 // +1 when the vertices are in positive order, -1 otherwise
};

// C(a, b) = a_j1 (b_j2 - b_j3) + a_j2 (b_j3 - b_j1) + a_j3 (b_j1 - b_j2), j1, j2, j3 being the
// vertices after vertex m in cyclic order; the signs of m = 1..4 are -, +, -, +.
namespace geo_detail {
inline double C(const double* a, const double* b, int j1, int j2, int j3) {
    return a[j1] * (b[j2] - b[j3]) + a[j2] * (b[j3] - b[j1]) + a[j3] * (b[j1] - b[j2]);
}
}  // namespace geo_detail

// Forms the geometry of element e from the coordinates.
inline void form_geometry(const mesh& msh, long e, tetra_geo& g) {
    using geo_detail::C;
    int t[5];
    msh.TETRA.nodes(e, t);
    const double* X = msh.X.data() - 1;
    const double* Y = msh.Y.data() - 1;
    const double* Z = msh.Z.data() - 1;
    // The numerators first, then every division by 6 in one loop that the compiler runs two or
    // more at a time: the divisions are most of the cost.
    double q[16];
    for (int m = 0; m < 4; ++m) {
        const int j1 = t[(m + 1) & 3], j2 = t[(m + 2) & 3], j3 = t[(m + 3) & 3];
        const double s = (m & 1) ? 1.0 : -1.0;
        const double cyz = C(Y, Z, j1, j2, j3);
        q[m] = s * X[t[m]] * cyz;
        q[4 + m] = s * cyz;
        q[8 + m] = -s * C(X, Z, j1, j2, j3);
        q[12 + m] = s * C(X, Y, j1, j2, j3);
    }
    for (int k = 0; k < 16; ++k) q[k] /= 6.0;
    double v = 0.0;
    for (int m = 0; m < 4; ++m) {
        v += q[m];
        g.b[m] = q[4 + m];
        g.c[m] = q[8 + m];
        g.d[m] = q[12 + m];
    }
    g.sign = 1;
    if (v < 0.0) {
        g.sign = -1;
        v = -v;
    }
    g.vol = v;
    g.volinv = 1.0 / v;
}

// The volume, its inverse and the orientation from the signed volume kept in GEOM, as
// form_geometry gives them.
inline void kept_volume(double signed_vol, double& vol, double& volinv, int& sign) {
    sign = signed_vol < 0.0 ? -1 : 1;
    vol = signed_vol < 0.0 ? -signed_vol : signed_vol;
    volinv = 1.0 / vol;
}

// The coefficients d of element e and its orientation (the fifth value), where the geometry is
// kept; col, when given, is the place of e in its layer, e - (L-1)*NTRI3 (no division).
inline const double* kept_d(const mesh& msh, long e) {
    return msh.GEOMD.col((long)((unsigned)(e - 1) % (unsigned)msh.GEOMD.n2()) + 1);
}
inline const double* kept_d(const mesh& msh, long e, long col) {
    return msh.GEOMD.col(msh.GEOMD.n2() == msh.TETRA.n2() ? e : col);
}

// The kept b, c and signed volume of element e, the col-th of its layer L; nullptr where they
// are not kept.
inline const double* kept_geom(const mesh& msh, long e, int L, long col) {
    if (msh.GSLOT.empty()) return msh.GEOM.empty() ? nullptr : msh.GEOM.col(e);
    const int s = msh.GSLOT[col - 1];
    return s < 0 ? nullptr : msh.GEOM.col((long)(L - 1) * msh.GPER + s + 1);
}
inline const double* kept_geom(const mesh& msh, long e) {
    if (msh.GSLOT.empty()) return msh.GEOM.empty() ? nullptr : msh.GEOM.col(e);
    const long above = msh.TETRA.layers_above(e);
    return kept_geom(msh, e, (int)above + 1, e - above * msh.GPERIOD);
}

// The geometry of element e: read where it is kept, formed otherwise.
inline void tetra_geometry(const mesh& msh, long e, tetra_geo& g) {
    const double* k = kept_geom(msh, e);
    if (k == nullptr) {
        form_geometry(msh, e, g);
        return;
    }
    const double* d = kept_d(msh, e);
    for (int m = 0; m < 4; ++m) {
        g.b[m] = k[m];
        g.c[m] = k[4 + m];
        g.d[m] = d[m];
    }
    kept_volume(k[8], g.vol, g.volinv, g.sign);
}

// VOLNOD, a quarter of the volume of every tetrahedron to each of its vertices; a zero volume
// stops the run.
void elmgeo(dimensions& dim, control& ctl, iofiles& io, mesh& msh);

// One process of several, before elmgeo: the geometry to be kept for the elements that touch
// its columns (sp.OWNCOL) alone (GSLOT), those of the flow's position map (keep_own_rows).
void keep_own_geometry(const dimensions& dim, const sparse& sp, mesh& msh);

// NCONT and the nodal averages SNODI, PORNOD; stops when a node belongs to no tetrahedron.
void tpnodic(dimensions& dim, control& ctl, iofiles& io, mesh& msh, soil& sl);

}  // namespace nep
