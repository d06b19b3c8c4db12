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

// The view's record of type R, where the view holds one.
template <class R>
constexpr bool in_view = std::is_same_v<R, mesh> || std::is_same_v<R, bcdata> ||
                         std::is_same_v<R, soil> || std::is_same_v<R, flowstate>;
template <class R>
R& view_part(whole_view& V) {
    if constexpr (std::is_same_v<R, mesh>) return V.msh;
    else if constexpr (std::is_same_v<R, bcdata>) return V.bc;
    else if constexpr (std::is_same_v<R, soil>) return V.sl;
    else return V.fs;
}

// The records that hold fields of the mesh's extent (records/state.h), const or not; the view
// holds one of each.
template <class M, class B, class S, class F>
struct mesh_records {
    M& msh;
    B& bc;
    S& sl;
    F& fs;
};
mesh_records<mesh, bcdata, soil, flowstate> parts(records& R) { return {R.msh, R.bc, R.sl, R.fs}; }

// Every field of the mesh's extent: f(the run's array, the view's, its declaration, a null
// pointer to its record's type).
template <class P, class F>
void mesh_fields(P p, whole_view& V, F&& f) {
    state_fields([&](auto m, const field_info& fi) {
        using M = member_of<decltype(m)>;
        using Rec = typename M::record;
        using T = typename M::type;
        if constexpr (is_array_field<T> && in_view<Rec>) {
            if (fi.where == extent::RUN) return;
            auto& a = [&]() -> auto& {
                if constexpr (std::is_same_v<Rec, mesh>) return p.msh.*m;
                else if constexpr (std::is_same_v<Rec, bcdata>) return p.bc.*m;
                else if constexpr (std::is_same_v<Rec, soil>) return p.sl.*m;
                else return p.fs.*m;
            }();
            f(a, &(view_part<Rec>(V).*m), fi, static_cast<Rec*>(nullptr));
        }
    });
}

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

writer_records writers(const dimensions& dim, const mesh& msh, bcdata& bc, soil& sl, flowstate& fs,
                       whole_view* V) {
    if (V == nullptr || !msh.cut()) return {true, dim, msh, bc, sl, fs};
    if (!V->on) return {false, dim, msh, bc, sl, fs};
    return {true, V->dim, V->msh, V->bc, V->sl, V->fs};
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

void hold_own_columns(records& R, mesh& maps, whole_view& V) {
    dimensions& dim = R.dim;
    mesh& msh = R.msh;
    const int rank = proc_rank();
    const dimensions deck_dim = dim;
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
        return g >= 1 && g <= (long)deck_dim.N ? column_z(surf, (g - 1) % nnodw + 1, (int)((g - 1) / nnodw)) : 0.0;
    };
    // The elevations of the Dirichlet nodes, for the series of potential heads.
    bcdata& bc = R.bc;
    bc.DIRZ.alloc(dim.NP);
    for (int k = 1; k <= dim.NP; ++k) bc.DIRZ(k) = deck_z(bc.DIRNOD(k));
    // Process 0 writes from the deck's mesh, built for its view from the surface.
    V.on = rank == 0;
    if (V.on) {
        V.dim = deck_dim;
        V.dim.NGEO = 0;  // the writers form the geometry they need
        mesh& w = V.msh;
        alloc_mesh(deck_dim, w);
        w.IVERT = surf.IVERT;
        w.ISP = surf.ISP;
        w.BASE = surf.BASE;
        w.ZMIN = surf.ZMIN;
        w.ZRATIO = surf.ZRATIO;
        w.TRIANG = surf.TRIANG;
        w.ARENOD = surf.ARENOD;
        w.TETRA.kept() = surf.TETRA.kept();
        for (long g = 1; g <= (long)deck_dim.N; ++g) {
            const long s = (g - 1) % nnodw + 1;
            w.X(g) = surf.X(s);
            w.Y(g) = surf.Y(s);
            w.Z(g) = column_z(surf, s, (int)((g - 1) / nnodw));
        }
        V.msh.NNODW = nnodw;
        // The fields the view gathers, or the writers form in it, at the deck's sizes.
        mesh_fields(parts(R), V, [&](auto&, auto* v, const field_info& fi, auto*) {
            if (v == nullptr || !v->empty() || !field_exists(fi, R.ctl)) return;
            if (!(fi.use & (VIEW | WATCHED | VIEW_ONCE | WRITERS))) return;
            const long n = extent_size(fi.where, V.dim);
            if constexpr (is_arr2<std::remove_pointer_t<decltype(v)>>::value) v->alloc(fi.rows, n);
            else v->alloc((std::size_t)n);
        });
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
    mesh_fields(parts(R), V, [&](auto& a, auto*, const field_info& fi, auto* rec) {
        using Rec = std::remove_pointer_t<decltype(rec)>;
        if constexpr (!std::is_same_v<Rec, mesh> && !std::is_same_v<Rec, soil>) {
            if (fi.where == extent::SURFACE) take_held(msh, fi.where, extent_size(fi.where, dim), a);
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

// The values of an array at this process's own nodes (or elements) to process 0, which puts
// them into the view's array at the deck's nodes (or elements) of `to`.
template <class T>
void gather(const arr1<T>& mine, const std::vector<int>& own, const std::vector<long>& to,
            const whole_view& V, arr1<T>& into) {
    std::vector<double> send;
    send.reserve(own.size());
    for (int i : own) send.push_back((double)mine(i));
    std::vector<int> counts;
    const std::vector<double> all = proc_gather(send, counts);
    if (!V.on) return;
    for (std::size_t k = 0; k < all.size(); ++k) into(to[k]) = (T)all[k];
}

// The deck's numbers of what every process lists, on process 0.
std::vector<long> deck_numbers(const std::vector<int>& own, long (*deck)(const mesh&, long),
                               const mesh& msh) {
    std::vector<double> mine;
    mine.reserve(own.size());
    for (int i : own) mine.push_back((double)deck(msh, i));
    std::vector<int> counts;
    const std::vector<double> all = proc_gather(mine, counts);
    return std::vector<long>(all.begin(), all.end());
}

// A field of extent e at this process's own nodes, surface nodes or tetrahedra (`watched`: at
// its nodes that the output of every step reads) to process 0, into `into` at the deck's.
template <class T>
void gather_field(const arr1<T>& a, extent e, bool watched, const whole_view& V, arr1<T>& into) {
    if (watched) gather(a, V.own_watched, V.watched, V, into);
    else if (e == extent::SURFACE) gather(a, V.own_surface, V.surface, V, into);
    else if (e == extent::ELEMENTS) gather(a, V.own_elements, V.elements, V, into);
    else gather(a, V.own, V.nodes, V, into);
}
template <class T>
void gather_field(const arr2<T>& a, extent e, bool watched, const whole_view& V, arr2<T>& into) {
    arr1<T> row(a.n2()), wrow(V.on ? into.n2() : 0);
    for (long r = 1; r <= a.n1(); ++r) {
        for (long j = 1; j <= a.n2(); ++j) row(j) = a(r, j);
        gather_field(row, e, watched, V, wrow);
        for (long j = 1; j <= wrow.size(); ++j) into(r, j) = wrow(j);
    }
}

using const_records = mesh_records<const mesh, const bcdata, const soil, const flowstate>;

// The fields with one of the uses `use` to process 0's view (collective).
void gather_view(const_records p, unsigned use, bool watched, whole_view& V) {
    mesh_fields(p, V, [&](const auto& a, auto* v, const field_info& fi, auto*) {
        if ((fi.use & use) && !a.empty()) gather_field(a, fi.where, watched, V, *v);
    });
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

void report_held(const records& R, const whole_view& V) {
    if (!R.msh.cut()) return;
    const double least = proc_min((double)R.dim.N), most = proc_max((double)R.dim.N);
    if (V.on) {
        std::fprintf(stderr, "%s: each process holds its own columns and two rings of columns around them:"
                     " %.0f to %.0f of the %d nodes\n", R.io.PROGNAME, least, most, V.dim.N);
    }
}

void view_start(const records& R, whole_view& V) {
    if (!R.msh.cut()) return;
    V.sl.KSLOPE = R.sl.KSLOPE;
    const mesh& msh = R.msh;
    V.own.clear();
    for (int i = 1; i <= R.dim.N; ++i) {
        if (msh.own(i)) V.own.push_back(i);
    }
    V.nodes = deck_numbers(V.own, [](const mesh& m, long i) { return m.deck_node(i); }, msh);
    if (V.on && (long)V.nodes.size() != (long)V.dim.N) {
        input_error("internal error: the processes hold " + std::to_string(V.nodes.size()) +
                    " nodes of their own, the mesh has " + std::to_string(V.dim.N));
    }
    V.own_surface.clear();
    for (int s = 1; s <= R.dim.NNOD; ++s) {
        if (msh.own(s)) V.own_surface.push_back(s);
    }
    V.surface = deck_numbers(V.own_surface, [](const mesh& m, long s) { return (long)m.SDECK[s - 1]; }, msh);
    V.own_elements.clear();
    if (R.dim.NVEL > 0) {
        const int per = 3 * R.dim.NTRI;
        for (int e = 1; e <= R.dim.NT; ++e) {
            if (msh.own(msh.TRIANG(1, ((e - 1) % per) / 3 + 1))) V.own_elements.push_back(e);
        }
        V.elements = deck_numbers(V.own_elements, [](const mesh& m, long e) { return m.deck_element(e); }, msh);
        if (V.on && (long)V.elements.size() != (long)V.dim.NT) {
            input_error("internal error: the processes hold " + std::to_string(V.elements.size()) +
                        " tetrahedra of their own, the mesh has " + std::to_string(V.dim.NT));
        }
    }
    // The nodes of the output of every step, by their numbers in the deck.
    std::vector<long> wanted;
    for (int k = 1; k <= R.dim.NR && k <= R.io.IPOUT.size(); ++k) wanted.push_back(R.io.IPOUT(k));
    const long nnodw = msh.NNODW;
    for (int k = 1; k <= R.dim.NUMVP && k <= R.io.NODVP.size(); ++k) {
        const long i = R.io.NODVP(k);
        if (i < 1 || i > nnodw) continue;
        for (int j = 0; j <= R.dim.NSTR; ++j) wanted.push_back((long)j * nnodw + i);
    }
    std::sort(wanted.begin(), wanted.end());
    V.own_watched.clear();
    for (int i : V.own) {
        if (std::binary_search(wanted.begin(), wanted.end(), msh.deck_node(i))) V.own_watched.push_back(i);
    }
    V.watched = deck_numbers(V.own_watched, [](const mesh& m, long i) { return m.deck_node(i); }, msh);
    gather_view({R.msh, R.bc, R.sl, R.fs}, VIEW_ONCE, false, V);
}

void view_gather(const mesh& msh, const bcdata& bc, const soil& sl, const flowstate& fs, whole_view& V) {
    if (msh.cut()) gather_view({msh, bc, sl, fs}, VIEW, false, V);
}

void view_gather_watched(const mesh& msh, const bcdata& bc, const soil& sl, const flowstate& fs,
                         whole_view& V) {
    gather_view({msh, bc, sl, fs}, WATCHED, true, V);
}

void view_faces(const bcdata& bc, whole_view& V) {
    if (!V.on || bc.SFDECK.empty()) return;
    V.bc.NSFNUM = bc.NSFNUM;
    V.bc.IEXIT = bc.IEXIT;
    V.bc.SFQ = bc.SFQ;
    if (V.bc.SFNOD.empty()) V.bc.SFNOD = bc.SFDECK;
}

}  // namespace nep
