#include "run/columns.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>
#include <type_traits>
#include <utility>

#include "base/procs.h"
#include "base/stop.h"
#include "mesh/csr.h"
#include "mesh/grid.h"
#include "records/state.h"

namespace nep {

bool holds_own_columns(const dimensions& dim, const iofiles& io) {
    return proc_count() > 1 && io.IPRT1 < 3 && dim.NTRI3 > 0 && dim.NT % dim.NTRI3 == 0;
}

namespace {

// The values of an array of the deck's nodes, surface nodes or tetrahedra at the n this mesh
// holds (an empty array stays empty).
template <class T>
void take_held(const mesh& msh, extent e, long n, arr1<T>& a) {
    if (a.empty()) return;
    arr1<T> held(n);
    for (long i = 1; i <= n; ++i) held(i) = a(deck_number(msh, e, i));
    std::swap(a, held);
}
template <class T>
void take_held(const mesh& msh, extent e, long n, arr2<T>& a) {
    if (a.empty()) return;
    arr2<T> held(a.n1(), n);
    for (long j = 1; j <= n; ++j) {
        for (long r = 1; r <= a.n1(); ++r) held(r, j) = a(r, deck_number(msh, e, j));
    }
    std::swap(a, held);
}

}  // namespace

long deck_number(const mesh& msh, extent e, long i) {
    if (e == extent::SURFACE) return msh.SDECK[(std::size_t)(i - 1)];
    if (e == extent::ELEMENTS) return msh.deck_element(i);
    return msh.deck_node(i);
}

long deck_size(const records& R, extent e) {
    const long nw = (long)R.msh.NNODW * (R.dim.NSTR + 1);
    const long ntw = 3L * R.msh.NTRIW * R.dim.NSTR;
    return e == extent::SURFACE ? (long)R.msh.NNODW : e == extent::ELEMENTS ? ntw : nw;
}


void column_maps(const dimensions& dim, const mesh& surf, const std::vector<int>& deck_parts, mesh& maps) {
    const int rank = proc_rank();
    const int nnodw = dim.NNOD, ntriw = dim.NTRI;

    // 1 for the surface nodes of this part, 2 for the first ring (a node of a triangle that has
    // one of them), then the triangles held: those with a node of the part or of the first ring.
    std::vector<std::uint8_t> level(nnodw, 0);
    for (int s = 0; s < nnodw; ++s) level[s] = deck_parts[s] == rank ? 1 : 0;
    for (int t = 1; t <= ntriw; ++t) {
        bool own = false;
        for (int a = 1; a <= 3; ++a) own = own || level[surf.TRIANG(a, t) - 1] == 1;
        if (!own) continue;
        for (int a = 1; a <= 3; ++a) {
            std::uint8_t& l = level[surf.TRIANG(a, t) - 1];
            if (l == 0) l = 2;
        }
    }
    std::vector<int> tdeck;
    std::vector<std::uint8_t> held(nnodw, 0);
    for (int s = 0; s < nnodw; ++s) held[s] = level[s] == 1;
    for (int t = 1; t <= ntriw; ++t) {
        bool near = false;
        for (int a = 1; a <= 3; ++a) near = near || level[surf.TRIANG(a, t) - 1] != 0;
        if (!near) continue;
        tdeck.push_back(t);
        for (int a = 1; a <= 3; ++a) held[surf.TRIANG(a, t) - 1] = 1;
    }
    std::vector<int> sdeck, sheld(nnodw, 0);
    for (int s = 0; s < nnodw; ++s) {
        if (!held[s]) continue;
        sdeck.push_back(s + 1);
        sheld[s] = (int)sdeck.size();
    }
    maps = mesh{};
    maps.NNODW = nnodw;
    maps.NTRIW = ntriw;
    maps.SDECK = std::move(sdeck);
    maps.SHELD = std::move(sheld);
    maps.TDECK = std::move(tdeck);
    maps.SOWN.assign(maps.SDECK.size(), 0);
    for (std::size_t s = 0; s < maps.SDECK.size(); ++s) maps.SOWN[s] = deck_parts[maps.SDECK[s] - 1] == rank;
}

void held_sizes(const mesh& maps, dimensions& dim) {
    const int nstr = dim.NSTR;
    const int nnod = (int)maps.SDECK.size(), ntri = (int)maps.TDECK.size();
    dim.NNOD = nnod;
    dim.NTRI = ntri;
    dim.NTRI3 = 3 * ntri;
    dim.N = (nstr + 1) * nnod;
    dim.NT = 3 * ntri * nstr;
    if (dim.NWAT != 0) dim.NWAT = dim.N;
    if (dim.NVEL != 0) dim.NVEL = dim.NT;
    if (dim.NGEO != 0) dim.NGEO = dim.NT;
    const long long intbot = (dim.LENNS + 6LL * dim.N) * dim.INONSY + 1;
    dim.INTBOT = intbot > INT_MAX ? -1 : (int)intbot;
}

void hold_state(const dimensions& dim, const control& ctl, const mesh& maps, flowstate& fs) {
    dimensions held = dim;
    held_sizes(maps, held);
    alloc_fields(held, ctl.ITRANS != 0, fs);
}

void hold_own_columns(records& R, mesh& maps, const std::vector<int>& deck_parts, deck_view& V) {
    dimensions& dim = R.dim;
    mesh& msh = R.msh;
    const int rank = proc_rank();
    const dimensions deck_sizes = dim;
    const int nnodw = dim.NNOD, nstr = dim.NSTR;

    // The deck's surface, taken out of the records; the maps of the mesh held.
    mesh surf = std::move(msh);
    msh = std::move(maps);
    msh.IVERT = surf.IVERT;
    msh.ISP = surf.ISP;
    msh.BASE = surf.BASE;
    msh.ZMIN = surf.ZMIN;
    held_sizes(msh, dim);
    const int nnod = dim.NNOD, ntri = dim.NTRI;

    // The nodes of the columns held, each at the place gen3d gives it.
    alloc_mesh(dim, msh);
    for (int l = 1; l <= nstr; ++l) msh.ZRATIO(l) = surf.ZRATIO(l);
    for (int i = 1; i <= dim.N; ++i) {
        const long g = msh.deck_node(i), s = (g - 1) % nnodw + 1;
        msh.X(i) = surf.X(s);
        msh.Y(i) = surf.Y(s);
        msh.Z(i) = column_z(surf, s, (int)((g - 1) / nnodw));
    }
    for (int s = 1; s <= nnod; ++s) msh.ARENOD(s) = surf.ARENOD(msh.SDECK[s - 1]);
    arr2<int>& tet = msh.TETRA.kept();
    const arr2<int>& wtet = surf.TETRA.kept();
    for (int j = 1; j <= ntri; ++j) {
        const int t = msh.TDECK[j - 1];
        for (int a = 1; a <= 3; ++a) msh.TRIANG(a, j) = msh.SHELD[surf.TRIANG(a, t) - 1];
        msh.TRIANG(4, j) = surf.TRIANG(4, t);
        for (int r = 1; r <= 3; ++r) {
            for (int m = 1; m <= 4; ++m) tet(m, 3 * (j - 1) + r) = msh.held_node(wtet(m, 3 * (t - 1) + r));
            tet(5, 3 * (j - 1) + r) = wtet(5, 3 * (t - 1) + r);
        }
    }
    auto deck_z = [&](long g) {
        return g >= 1 && g <= (long)deck_sizes.N ? column_z(surf, (g - 1) % nnodw + 1, (int)((g - 1) / nnodw)) : 0.0;
    };
    // The elevations of the Dirichlet nodes, for the series of potential heads.
    bcdata& bc = R.bc;
    bc.DIRZ.alloc(dim.NP);
    for (int k = 1; k <= dim.NP; ++k) bc.DIRZ(k) = deck_z(bc.DIRNOD(k));
    // What the block writers need (mesh/blocks.h): the deck's sizes, this process's own nodes
    // and tetrahedra (those of the triangles whose first node is its own), and on process 0 the
    // part of every column and triangle of the deck.
    V.on = rank == 0;
    deck_nodes& dn = V.nodes;
    dn.cut = true;
    dn.dim = deck_sizes;
    dn.held_nodes = dim.N;
    dn.held_elements = dim.NT;
    if (V.on) {
        dn.node_part = deck_parts;
        dn.tri_part.resize((std::size_t)deck_sizes.NTRI);
        for (int t = 1; t <= deck_sizes.NTRI; ++t) dn.tri_part[(std::size_t)(t - 1)] = deck_parts[(std::size_t)(surf.TRIANG(1, t) - 1)];
    }
    release_mesh(surf);

    // The boundary-condition lists keep every entry of the deck (their series give a value to
    // each), each node in this numbering or 0; the arrays of the surface nodes are created anew.
    bc.DIRDECK = bc.DIRNOD;
    bc.NEUDECK = bc.NEUNOD;
    for (int k = 1; k <= dim.NDIR; ++k) bc.DIR2D(k) = bc.DIR2D(k) >= 1 ? msh.SHELD[bc.DIR2D(k) - 1] : 0;
    for (int k = 1; k <= dim.NP; ++k) bc.DIRNOD(k) = msh.held_node(bc.DIRNOD(k));
    for (int k = 1; k <= dim.NQ; ++k) bc.NEUNOD(k) = msh.held_node(bc.NEUNOD(k));
    if (dim.NSF > 0) {
        bc.SFDECK = bc.SFNOD;
        bc.SFH.alloc(bc.SFNOD.n1(), bc.SFNOD.n2());
        for (int k = 1; k <= dim.NSF; ++k) {
            for (int i = 1; i <= bc.NSFNUM(k); ++i) bc.SFNOD(k, i) = msh.held_node(bc.SFNOD(k, i));
        }
    }

    // The soil's nodal arrays are formed later; its tables and its curves per soil (read from
    // the soil file, derived later) are the deck's.
    soil& sl = R.sl;
    arr2<double> tables[8] = {std::move(sl.XPERM), std::move(sl.YPERM),   std::move(sl.ZPERM),
                              std::move(sl.STORAGE), std::move(sl.POROSITY), std::move(sl.ALFAL),
                              std::move(sl.ALFAT), std::move(sl.RETARD)};
    std::vector<chcurve> curves = std::move(sl.SOILCH);
    arr1<double> pxvgs = std::move(sl.PXVGS);
    release_soil(sl);
    alloc_soil(dim, R.ctl, sl);
    sl.SOILCH = std::move(curves);
    sl.PXVGS = std::move(pxvgs);
    sl.XPERM = std::move(tables[0]);
    sl.YPERM = std::move(tables[1]);
    sl.ZPERM = std::move(tables[2]);
    sl.STORAGE = std::move(tables[3]);
    sl.POROSITY = std::move(tables[4]);
    sl.ALFAL = std::move(tables[5]);
    sl.ALFAT = std::move(tables[6]);
    sl.RETARD = std::move(tables[7]);

    // The state of the surface nodes (records/state.h) at those held; that of the nodes and
    // tetrahedra was created at their sizes (hold_state) before the initial heads were read, the
    // mesh's and the soil's are created anew above.
    state_fields([&](auto m, const field_info& fi) {
        using M = member_of<decltype(m)>;
        using Rec = typename M::record;
        if constexpr (is_array_field<typename M::type> &&
                      (std::is_same_v<Rec, bcdata> || std::is_same_v<Rec, flowstate>)) {
            if (fi.where == extent::SURFACE) take_held(msh, fi.where, extent_size(fi.where, dim), record_part<Rec>(R).*m);
        }
    });
    // The transport lists, as the flow's.
    if (R.ctl.ITRANS != 0) {
        transport& tra = R.tra;
        for (int k = 1; k <= dim.NP2C; ++k) tra.DIR2DC(k) = tra.DIR2DC(k) >= 1 ? msh.SHELD[tra.DIR2DC(k) - 1] : 0;
        for (int k = 1; k <= dim.NPC; ++k) tra.DIRNODC(k) = msh.held_node(tra.DIRNODC(k));
        for (int k = 1; k <= dim.NMC; ++k) tra.CAUNOD(k) = msh.held_node(tra.CAUNOD(k));
        tra.HELD = true;
        tra.DIRHELD.alloc((std::size_t)std::count_if(tra.DIRNODC.begin(), tra.DIRNODC.begin() + dim.NPC,
                                                     [](int n) { return n != 0; }));
        for (int k = 1, h = 0; k <= dim.NPC; ++k) {
            if (tra.DIRNODC(k) != 0) tra.DIRHELD(++h) = tra.DIRNODC(k);
        }
    }

    release_sparse(R.sp);
    alloc_sparse(dim, R.ctl, R.sp);
}

namespace {

// A field of extent e at this process's own nodes, surface nodes or tetrahedra to process 0,
// into `into` at the deck's, block after block (collective).
template <class T>
void gather_field(const arr1<T>& a, extent e, const mesh& msh, const deck_view& V, arr1<T>& into) {
    const dimensions& d = V.nodes.dim;
    const bool elements = e == extent::ELEMENTS;
    const long n = e == extent::SURFACE ? d.NNOD : elements ? d.NT : d.N;
    deck_block b(&V.nodes, msh, elements, {a});
    block_loop(b, 1, n, [&](long lo, long hi) {
        for (long g = lo; g <= hi; ++g) into(g) = (T)b.at(0, g);
    });
}
template <class T>
void gather_field(const arr2<T>& a, extent e, const mesh& msh, const deck_view& V, arr2<T>& into) {
    arr1<T> row(a.n2()), wrow(V.on ? into.n2() : 0);
    for (long r = 1; r <= a.n1(); ++r) {
        for (long j = 1; j <= a.n2(); ++j) row(j) = a(r, j);
        gather_field(row, e, msh, V, wrow);
        for (long j = 1; j <= wrow.size(); ++j) into(r, j) = wrow(j);
    }
}

}  // namespace

void ring_halo(mesh& msh, const std::vector<int>& deck_parts) {
    if (!msh.cut()) return;
    std::vector<proc_copy> copies;
    for (std::size_t s = 0; s < msh.SDECK.size(); ++s) {
        if (msh.SOWN[s] == 0) copies.push_back({deck_parts[msh.SDECK[s] - 1], msh.SDECK[s], (long)s});
    }
    msh.SRING.setup(copies, [](const void* m, long key) {
        const mesh& held = *static_cast<const mesh*>(m);
        const long s = held.SHELD[(std::size_t)(key - 1)] - 1;
        return s >= 0 && held.SOWN[(std::size_t)s] != 0 ? s : -1L;
    }, &msh);
}

void list_patterns(records& R) {
    if (!R.msh.cut()) return;
    const control& ctl = R.ctl;
    const bool own_pattern = ctl.ITRANS != 0 && !R.sp.TSHARE;  // transport under Picard flow
    double own[2] = {0.0, 0.0};
    for (int i = 1; i <= R.dim.N; ++i) {
        if (!R.msh.own(i)) continue;
        own[0] += R.sp.IA(i + 1) - R.sp.IA(i);
        if (own_pattern) own[1] += R.sp.IAC_OWN(i + 1) - R.sp.IAC_OWN(i);
    }
    proc_sum(own, 2);
    together([&] {
        list_nterm(ctl, R.io, (int)own[0]);
        if (ctl.ITRANS != 0) list_ntermc(ctl, R.io, (int)(own_pattern ? own[1] : own[0]));
    });
}

void report_held(const records& R, const deck_view& V) {
    if (!R.msh.cut()) return;
    const double least = proc_min((double)R.dim.N), most = proc_max((double)R.dim.N);
    if (V.on) {
        std::fprintf(stderr, "%s: each process holds its own columns and two rings of columns around them:"
                     " %.0f to %.0f of the %d nodes\n", R.io.PROGNAME, least, most, V.nodes.dim.N);
    }
}

void view_start(const records& R, deck_view& V) {
    if (!R.msh.cut()) return;
    const mesh& msh = R.msh;
    deck_nodes& dn = V.nodes;
    // Every node and tetrahedron of the deck is some process's own, once.
    double counts[2] = {0.0, 0.0};
    for (int i = 1; i <= R.dim.N; ++i) counts[0] += msh.own(i) ? 1.0 : 0.0;
    for (int e = 1; e <= R.dim.NT; ++e) counts[1] += msh.own_element(e) ? 1.0 : 0.0;
    proc_sum(counts, 2);
    if ((long)counts[0] != (long)dn.dim.N || (long)counts[1] != (long)dn.dim.NT) {
        input_error("internal error: the processes hold " + std::to_string((long)counts[0]) + " nodes and " +
                    std::to_string((long)counts[1]) + " tetrahedra of their own, the mesh has " +
                    std::to_string(dn.dim.N) + " and " + std::to_string(dn.dim.NT));
    }
    // The nodes the output of every step reads, by their numbers in the deck: the same list on
    // every process.
    std::vector<long> wanted;
    for (int k = 1; k <= R.dim.NR && k <= R.io.IPOUT.size(); ++k) wanted.push_back(R.io.IPOUT(k));
    const long nnodw = msh.NNODW;
    for (int k = 1; k <= R.dim.NUMVP && k <= R.io.NODVP.size(); ++k) {
        const long i = R.io.NODVP(k);
        if (i < 1 || i > nnodw) continue;
        for (int j = 0; j <= R.dim.NSTR; ++j) wanted.push_back((long)j * nnodw + i);
    }
    const bcdata& bc = R.bc;
    for (int f = 1; f <= R.dim.NSF && !bc.SFDECK.empty(); ++f) {
        for (int j = 1; j <= bc.NSFNUM(f); ++j) wanted.push_back(bc.SFDECK(f, j));
    }
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    wanted.erase(std::remove_if(wanted.begin(), wanted.end(), [&](long g) { return g < 1 || g > (long)dn.dim.N; }),
                 wanted.end());
    dn.own_watched.clear();
    for (int i = 1; i <= R.dim.N; ++i) {
        if (msh.own(i) && std::binary_search(wanted.begin(), wanted.end(), msh.deck_node(i))) dn.own_watched.push_back(i);
    }
    dn.watched = std::move(wanted);
}

}  // namespace nep
