// Geometry of the surface grid and of the tetrahedra, and the node-element incidence.
#include "mesh/geometry.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/parallel.h"
#include "base/stop.h"
#include "records/iofiles.h"

namespace nep {

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
            input_error(io.in(8).role() + " '" + io.in(8).name() + "': triangle " + std::to_string(j) +
                        " (nodes " + std::to_string(i) + " " + std::to_string(k) + " " +
                        std::to_string(l) + ") has zero area");
        }
        msh.ARENOD(i) += a3;
        msh.ARENOD(k) += a3;
        msh.ARENOD(l) += a3;
    }
}

void keep_own_geometry(const dimensions& dim, const sparse& sp, mesh& msh) {
    // The elements of the flow's position map, layer by layer (keep_own_rows).
    if (dim.NGEO != dim.NT || sp.IPOS.SLOT.empty()) return;
    msh.GSLOT = sp.IPOS.SLOT;
    msh.GPER = sp.IPOS.PER;
    msh.GPERIOD = sp.IPOS.PERIOD;
}

void elmgeo(dimensions& dim, control& /*ctl*/, iofiles& io, mesh& msh) {
    msh.VOLNOD.fill(0.0);
    const bool keep = dim.NGEO == dim.NT && dim.NT > 0;
    if (keep) msh.GEOM.alloc(kGeomRows, msh.GSLOT.empty() ? dim.NT : msh.GPER * (dim.NT / dim.NTRI3));
    else msh.GEOM.release();
    const int period = dim.NTRI3 > 0 && dim.NT % dim.NTRI3 == 0 ? dim.NTRI3 : dim.NT;
    // The d and orientations of the top layer, which serve every layer while each layer repeats
    // them to the bit, and whether it does; the geometry of every element kept with them, on all
    // cores (each writes its own), the top layer first: the others compare their d with it.
    // Where the rest is not kept, d is kept only while the layers share it (40 bytes a
    // tetrahedron of the top layer): the element loops form b, c and the volume, and read d.
    bool shared_d = false;
    if (dim.NT > 0) {
        msh.GEOMD.alloc(5, period);
        std::atomic<bool> shared{true};
        auto keep_element = [&](long e) {
            // Every element is compared, those formed in the loops too: they read d here.
            const double* kept = keep ? kept_geom(msh, e) : nullptr;
            tetra_geo g;
            form_geometry(msh, e, g);
            if (kept != nullptr) {
                double* k = const_cast<double*>(kept);  // msh is ours to write
                for (int m = 0; m < 4; ++m) {
                    k[m] = g.b[m];
                    k[4 + m] = g.c[m];
                }
                k[8] = g.sign < 0 ? -g.vol : g.vol;
            }
            double dk[5];
            std::memcpy(dk, g.d, sizeof g.d);
            dk[4] = g.sign;
            if (e <= period) std::memcpy(msh.GEOMD.col(e), dk, sizeof dk);
            else if (std::memcmp(kept_d(msh, e), dk, sizeof dk) != 0)
                shared.store(false, std::memory_order_relaxed);
        };
        parallel_for(1, period, keep_element);
        parallel_for((long)period + 1, dim.NT, keep_element);
        shared_d = shared.load();
    }
    if (!shared_d && !keep) {
        msh.GEOMD.release();
    } else if (!shared_d) {
        msh.GEOMD.alloc(5, dim.NT);
        parallel_for(1, dim.NT, [&](long e) {
            tetra_geo g;
            form_geometry(msh, e, g);
            double* d = msh.GEOMD.col(e);
            std::memcpy(d, g.d, sizeof g.d);
            d[4] = g.sign;
        });
    }
    // The nodal volumes, element by element in order; the first element of zero volume stops.
    tetra_geo g;
    for (int e = 1; e <= dim.NT; ++e) {
        double vol;
        if (const double* k = keep ? kept_geom(msh, e) : nullptr) {
            vol = std::fabs(k[8]);
        } else {
            form_geometry(msh, e, g);
            vol = g.vol;
        }
        if (vol == 0.0) {
            // In the deck's numbering (a mesh of one process of several has its own).
            const int de = (int)msh.deck_element(e);
            int dn[4];
            for (int v = 0; v < 4; ++v) dn[v] = (int)msh.deck_node(msh.TETRA(v + 1, e));
            wfmt_both(io, "(/,' ERROR IN SUBROUTINE VOLUMET: ZERO VOLUME CALCULATED',/,"
                        "'    AT ELEMENT ',I6,'  NODE NUMBERS:',4I6)",
                    de, dn[0], dn[1], dn[2], dn[3]);
            input_error(io.in(8).role() + " '" + io.in(8).name() + "': tetrahedron " + std::to_string(de) +
                        " of the mesh (nodes " + std::to_string(dn[0]) + " " + std::to_string(dn[1]) + " " +
                        std::to_string(dn[2]) + " " + std::to_string(dn[3]) +
                        ") has zero volume: a flat triangle or layer");
        }
        const double q = 0.25 * vol;
        for (int v = 1; v <= 4; ++v) msh.VOLNOD(msh.TETRA(v, e)) += q;
    }
}

namespace {

// The soils of the tetrahedra around every node and the share of each (a soil file with a
// retention curve per soil only): the node's curves are those of its tetrahedra, averaged as its
// porosity is.
void soil_shares(const dimensions& dim, const mesh& msh, soil& sl) {
    const int N = dim.N;
    const long per_layer = 3L * dim.NTRI;
    std::vector<long> start(N + 2, 0);  // the incidences of node v: start[v] .. start[v + 1] - 1
    for (int v = 1; v <= N; ++v) start[v + 1] = start[v] + msh.NCONT(v);
    std::vector<int> inc(start[N + 1]);
    std::vector<long> next(start);
    for (int e = 1; e <= dim.NT; ++e) {
        const int L = (int)((e - 1) / per_layer) + 1;
        const int s = L + (msh.TETRA(5, e) - 1) * dim.NSTR;
        for (int m = 1; m <= 4; ++m) inc[next[msh.TETRA(m, e)]++] = s;
    }
    // Sorted, a node's incidences hold each of its soils once per tetrahedron, in a run.
    long total = 0;
    for (int v = 1; v <= N; ++v) {
        std::sort(inc.begin() + start[v], inc.begin() + start[v + 1]);
        for (long p = start[v]; p < start[v + 1]; ++p) total += p == start[v] || inc[p] != inc[p - 1];
    }
    sl.ISOIP.alloc(N + 1);
    sl.ISOIL.alloc(total);
    sl.WSOIL.alloc(total);
    sl.WSE.alloc(total);
    long j = 0;
    for (int v = 1; v <= N; ++v) {
        sl.ISOIP(v) = (int)j + 1;
        const double cont = msh.NCONT(v);
        for (long p = start[v]; p < start[v + 1]; ++p) {
            if (p == start[v] || inc[p] != inc[p - 1]) {
                ++j;
                sl.ISOIL(j) = inc[p];
            }
            sl.WSOIL(j) += 1.0;
        }
        for (long q = sl.ISOIP(v); q <= j; ++q) sl.WSOIL(q) /= cont;
    }
    sl.ISOIP(N + 1) = (int)j + 1;
}

}  // namespace

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
    int first = 0;
    for (int v = 1; v <= N; ++v) {
        if (msh.NCONT(v) == 0) {
            const int d = (int)msh.deck_node(v);
            if (first == 0) first = d;
            wfmt_both(io, "(/,' ERROR IN MESH CONSTRUCTION:    NODE ',I7,"
                        "' IS NOT CONNECTED TO ANY ELEMENTS')",
                    d);
            lonely = true;
        }
    }
    if (lonely) {
        const int nnod = std::max(msh.cut() ? msh.NNODW : dim.NNOD, 1);
        input_error(io.in(8).role() + " '" + io.in(8).name() + "': node " + std::to_string(first) +
                    " (surface node " + std::to_string((first - 1) % nnod + 1) +
                    ") belongs to no triangle of the surface grid");
    }
    if (!sl.SOILCH.empty()) soil_shares(dim, msh, sl);
}

}  // namespace nep
