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
// memory) and the flow's selector is not -11; formed from the coordinates in every element loop
// otherwise, but for d and the orientation, kept in GEOMD while every layer repeats them (the
// assembly's loop then takes about half as long again).
struct tetra_geo {
    double b[4], c[4], d[4];  // vertex m + 1 of the element
    double vol;               // volume, positive (0 for a degenerate element)
    double volinv;            // 1 / vol
    int sign;                 // +1 when the vertices are in positive order, -1 otherwise
};

// C(a, b) = a_j1 (b_j2 - b_j3) + a_j2 (b_j3 - b_j1) + a_j3 (b_j1 - b_j2), j1, j2, j3 being the
// vertices after vertex m in cyclic order; the signs s of m = 1..4 are -, +, -, +. Vertex m has
// b = s C(y, z) / 6, c = -s C(x, z) / 6, d = s C(x, y) / 6, and the signed volume is the sum over
// m, in order, of s x_m C(y, z) / 6.
//
// Forms b, c and the volume and orientation of the tetrahedron of nodes t[0..3] from the
// coordinates, and d too when D. Two vertices go side by side through each operation: every
// value is the same expression, in the same order, as vertex by vertex, so the same to the bit,
// and the divisions by 6 run two at a time.
namespace geo_detail {
typedef double v2 __attribute__((vector_size(16)));
// C(a, b) of two vertices side by side: a1, a2, a3 the values of a at the vertices after each in
// cyclic order, b1, b2, b3 those of b.
[[gnu::always_inline]] inline v2 C2(v2 a1, v2 a2, v2 a3, v2 b1, v2 b2, v2 b3) {
    return a1 * (b2 - b3) + a2 * (b3 - b1) + a3 * (b1 - b2);
}
// b, c, the volume terms and (D) d of two vertices m, m + 1: the values at vertices m to m + 3 of
// x, y, z (the pairs of vertices (m, m+1), (m+1, m+2), (m+2, m+3), (m+3, m+4)).
template <bool D>
[[gnu::always_inline]] inline void form_pair(v2 x0, v2 x1, v2 x2, v2 x3, v2 y1, v2 y2, v2 y3, v2 z1,
                                             v2 z2, v2 z3, v2& qv, v2& qb, v2& qc, v2& qd) {
    const v2 s = {-1.0, 1.0};
    const v2 six = {6.0, 6.0};
    const v2 cyz = C2(y1, y2, y3, z1, z2, z3);
    qv = s * x0 * cyz / six;
    qb = s * cyz / six;
    qc = -s * C2(x1, x2, x3, z1, z2, z3) / six;
    if (D) qd = s * C2(x1, x2, x3, y1, y2, y3) / six;
}
}  // namespace geo_detail

template <bool D>
[[gnu::always_inline]] inline void form_geometry_of(const mesh& msh, const int* t, tetra_geo& g) {
    using geo_detail::v2;
    const double* X = msh.X.data() - 1;
    const double* Y = msh.Y.data() - 1;
    const double* Z = msh.Z.data() - 1;
    const int n0 = t[0], n1 = t[1], n2 = t[2], n3 = t[3];
    // The pairs of consecutive vertices, (0, 1), (1, 2), (2, 3), (3, 0).
    const v2 x01 = {X[n0], X[n1]}, x12 = {X[n1], X[n2]}, x23 = {X[n2], X[n3]}, x30 = {X[n3], X[n0]};
    const v2 y01 = {Y[n0], Y[n1]}, y12 = {Y[n1], Y[n2]}, y23 = {Y[n2], Y[n3]}, y30 = {Y[n3], Y[n0]};
    const v2 z01 = {Z[n0], Z[n1]}, z12 = {Z[n1], Z[n2]}, z23 = {Z[n2], Z[n3]}, z30 = {Z[n3], Z[n0]};
    v2 va, ba, ca, da, vb, bb, cb, db;
    geo_detail::form_pair<D>(x01, x12, x23, x30, y12, y23, y30, z12, z23, z30, va, ba, ca, da);
    geo_detail::form_pair<D>(x23, x30, x01, x12, y30, y01, y12, z30, z01, z12, vb, bb, cb, db);
    g.b[0] = ba[0], g.b[1] = ba[1], g.b[2] = bb[0], g.b[3] = bb[1];
    g.c[0] = ca[0], g.c[1] = ca[1], g.c[2] = cb[0], g.c[3] = cb[1];
    if (D) g.d[0] = da[0], g.d[1] = da[1], g.d[2] = db[0], g.d[3] = db[1];
    double v = 0.0;
    v += va[0];
    v += va[1];
    v += vb[0];
    v += vb[1];
    g.sign = 1;
    if (v < 0.0) {
        g.sign = -1;
        v = -v;
    }
    g.vol = v;
    g.volinv = 1.0 / v;
}

// Forms the geometry of element e from the coordinates.
inline void form_geometry(const mesh& msh, long e, tetra_geo& g) {
    int t[5];
    msh.TETRA.nodes(e, t);
    form_geometry_of<true>(msh, t, g);
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

// The geometry of element e: read where it is kept, formed otherwise (d read where GEOMD is
// kept without GEOM).
inline void tetra_geometry(const mesh& msh, long e, tetra_geo& g) {
    const double* k = kept_geom(msh, e);
    if (k == nullptr) {
        int t[5];
        msh.TETRA.nodes(e, t);
        if (msh.GEOMD.empty()) {
            form_geometry_of<true>(msh, t, g);
            return;
        }
        form_geometry_of<false>(msh, t, g);
        const double* d = kept_d(msh, e);
        for (int m = 0; m < 4; ++m) g.d[m] = d[m];
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
