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

namespace nep {

bool holds_own_columns(const dimensions& dim, const iofiles& io) {
    return proc_count() > 1 && io.IPRT1 < 3 && dim.NTRI3 > 0 && dim.NT % dim.NTRI3 == 0;
}

namespace {

// The values of an array of the deck's nodes (k 0), surface nodes (1) or tetrahedra (2) at the
// n this mesh holds (an empty array stays empty).
template <class T>
void take_held(const mesh& msh, int k, long n, arr1<T>& a) {
    if (a.empty()) return;
    arr1<T> held(n);
    for (long i = 1; i <= n; ++i) {
        held(i) = a(k == 0 ? msh.deck_node(i) : k == 1 ? msh.SDECK[i - 1] : msh.deck_element(i));
    }
    std::swap(a, held);
}

}  // namespace

writer_records writers(const dimensions& dim, const mesh& msh, bcdata& bc, soil& sl, flowstate& fs,
                       whole_view* V) {
    if (V == nullptr || !msh.cut()) return {true, dim, msh, bc, sl, fs};
    if (!V->on) return {false, dim, msh, bc, sl, fs};
    return {true, V->dim, V->msh, V->bc, V->sl, V->fs};
}

void hold_own_columns(records& R, const std::vector<int>& deck_parts, whole_view& V) {
    dimensions& dim = R.dim;
    mesh& msh = R.msh;
    const int rank = proc_rank();
    const dimensions deck_dim = dim;
    const int nnodw = dim.NNOD, ntriw = dim.NTRI, nstr = dim.NSTR;

    // 1 for the surface nodes of this part, 2 for the first ring (a node of a triangle that has
    // one of them), then the triangles held: those with a node of the part or of the first ring.
    std::vector<std::uint8_t> level(nnodw, 0);
    for (int s = 0; s < nnodw; ++s) level[s] = deck_parts[s] == rank ? 1 : 0;
    for (int t = 1; t <= ntriw; ++t) {
        bool own = false;
        for (int a = 1; a <= 3; ++a) own = own || level[msh.TRIANG(a, t) - 1] == 1;
        if (!own) continue;
        for (int a = 1; a <= 3; ++a) {
            std::uint8_t& l = level[msh.TRIANG(a, t) - 1];
            if (l == 0) l = 2;
        }
    }
    std::vector<int> tdeck;
    std::vector<std::uint8_t> held(nnodw, 0);
    for (int s = 0; s < nnodw; ++s) held[s] = level[s] == 1;
    for (int t = 1; t <= ntriw; ++t) {
        bool near = false;
        for (int a = 1; a <= 3; ++a) near = near || level[msh.TRIANG(a, t) - 1] != 0;
        if (!near) continue;
        tdeck.push_back(t);
        for (int a = 1; a <= 3; ++a) held[msh.TRIANG(a, t) - 1] = 1;
    }
    std::vector<int> sdeck, sheld(nnodw, 0);
    for (int s = 0; s < nnodw; ++s) {
        if (!held[s]) continue;
        sdeck.push_back(s + 1);
        sheld[s] = (int)sdeck.size();
    }

    // The deck's mesh, taken out of the records; the maps of the mesh held.
    mesh whole = std::move(msh);
    msh = mesh{};
    msh.IVERT = whole.IVERT;
    msh.ISP = whole.ISP;
    msh.BASE = whole.BASE;
    msh.NNODW = nnodw;
    msh.NTRIW = ntriw;
    msh.SDECK = std::move(sdeck);
    msh.SHELD = std::move(sheld);
    msh.TDECK = std::move(tdeck);
    msh.SOWN.assign(msh.SDECK.size(), 0);
    for (std::size_t s = 0; s < msh.SDECK.size(); ++s) msh.SOWN[s] = deck_parts[msh.SDECK[s] - 1] == rank;

    // The sizes of the mesh held.
    const int nnod = (int)msh.SDECK.size(), ntri = (int)msh.TDECK.size();
    dim.NNOD = nnod;
    dim.NTRI = ntri;
    dim.NTRI3 = 3 * ntri;
    dim.N = (nstr + 1) * nnod;
    dim.NT = 3 * ntri * nstr;
    if (dim.NWAT != 0) dim.NWAT = dim.N;
    if (dim.NVEL != 0) dim.NVEL = dim.NT;
    dim.NGEO = dim.NT;
    const long long intbot = (dim.LENNS + 6LL * dim.N) * dim.INONSY + 1;
    dim.INTBOT = intbot > INT_MAX ? -1 : (int)intbot;

    alloc_mesh(dim, msh);
    for (int l = 1; l <= nstr; ++l) msh.ZRATIO(l) = whole.ZRATIO(l);
    for (int i = 1; i <= dim.N; ++i) {
        const long g = msh.deck_node(i);
        msh.X(i) = whole.X(g);
        msh.Y(i) = whole.Y(g);
        msh.Z(i) = whole.Z(g);
    }
    for (int s = 1; s <= nnod; ++s) msh.ARENOD(s) = whole.ARENOD(msh.SDECK[s - 1]);
    arr2<int>& tet = msh.TETRA.kept();
    const arr2<int>& wtet = whole.TETRA.kept();
    for (int j = 1; j <= ntri; ++j) {
        const int t = msh.TDECK[j - 1];
        for (int a = 1; a <= 3; ++a) msh.TRIANG(a, j) = msh.SHELD[whole.TRIANG(a, t) - 1];
        msh.TRIANG(4, j) = whole.TRIANG(4, t);
        for (int r = 1; r <= 3; ++r) {
            for (int m = 1; m <= 4; ++m) tet(m, 3 * (j - 1) + r) = msh.held_node(wtet(m, 3 * (t - 1) + r));
            tet(5, 3 * (j - 1) + r) = wtet(5, 3 * (t - 1) + r);
        }
    }
    // The elevations of the Dirichlet nodes, for the series of potential heads.
    bcdata& bc = R.bc;
    bc.DIRZ.alloc(dim.NP);
    for (int k = 1; k <= dim.NP; ++k) bc.DIRZ(k) = whole.Z(bc.DIRNOD(k));
    // Process 0 writes from the deck's mesh.
    V.on = rank == 0;
    if (V.on) {
        V.dim = deck_dim;
        V.dim.NGEO = 0;  // the writers form the geometry they need
        V.msh = std::move(whole);
        V.msh.NNODW = nnodw;
        V.bc.SATSUR.alloc(nnodw);
        for (auto* v : {&V.sl.SW, &V.sl.CKRW, &V.sl.PORNOD}) v->alloc(V.dim.N);
        for (auto* v : {&V.fs.PNEW, &V.fs.HPOT, &V.fs.HPTHETA, &V.fs.VXNOD, &V.fs.VYNOD, &V.fs.VZNOD}) {
            v->alloc(V.dim.N);
        }
        if (R.ctl.ITRANS != 0) V.fs.CNEW.alloc(V.dim.N);
        for (auto* v : {&V.fs.VX, &V.fs.VY, &V.fs.VZ}) v->alloc(std::max(V.dim.NVEL, 0));
    } else {
        release_mesh(whole);
    }

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
    for (auto* a : {&bc.IFATM, &bc.IFATMP, &bc.SATSUR, &bc.ATMOTH, &bc.PONDEP}) a->alloc(nnod);
    for (auto* a : {&bc.ATMPOT, &bc.ATMACT, &bc.ATMACP, &bc.ATMPOP}) a->alloc(nnod);
    bc.ATMINP.alloc(3, nnod);

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

    // The initial heads read, at the nodes held; the rest of the flow state is formed later.
    flowstate& fs = R.fs;
    for (auto* v : {&fs.PNEW, &fs.POLD, &fs.PSAVE, &fs.PTHETA, &fs.PTHOLD, &fs.HPOT, &fs.HPOTP,
                    &fs.HPTHETA, &fs.VXNOD, &fs.VYNOD, &fs.VZNOD, &fs.CNEW, &fs.COLD, &fs.CSAVE,
                    &fs.CTHETA, &fs.HPOTC}) {
        take_held(msh, 0, dim.N, *v);
    }
    for (auto* v : {&fs.VX, &fs.VY, &fs.VZ}) v->alloc(std::max(dim.NVEL, 0));
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
    gather(msh.VOLNOD, V.own, V.nodes, V, V.msh.VOLNOD);
    gather(R.sl.PORNOD, V.own, V.nodes, V, V.sl.PORNOD);
    gather(msh.NCONT, V.own, V.nodes, V, V.msh.NCONT);
}

namespace {

// The heads, characteristics and concentrations of the nodes `own` to process 0, into the
// view at the deck's nodes `to`; with `all` the weighted heads and nodal velocities too.
void gather_nodes(const soil& sl, const flowstate& fs, const std::vector<int>& own,
                  const std::vector<long>& to, bool all, whole_view& V) {
    for (auto [a, b] : {std::pair{&fs.PNEW, &V.fs.PNEW}, {&fs.HPOT, &V.fs.HPOT}, {&sl.SW, &V.sl.SW},
                        {&sl.CKRW, &V.sl.CKRW}}) {
        gather(*a, own, to, V, *b);
    }
    if (!fs.CNEW.empty()) gather(fs.CNEW, own, to, V, V.fs.CNEW);
    if (!all) return;
    for (auto [a, b] : {std::pair{&fs.HPTHETA, &V.fs.HPTHETA}, {&fs.VXNOD, &V.fs.VXNOD},
                        {&fs.VYNOD, &V.fs.VYNOD}, {&fs.VZNOD, &V.fs.VZNOD}}) {
        gather(*a, own, to, V, *b);
    }
}

}  // namespace

void view_gather(const mesh& msh, const soil& sl, const flowstate& fs, whole_view& V) {
    if (!msh.cut()) return;
    gather_nodes(sl, fs, V.own, V.nodes, true, V);
    if (!fs.VX.empty()) {
        for (auto [a, b] : {std::pair{&fs.VX, &V.fs.VX}, {&fs.VY, &V.fs.VY}, {&fs.VZ, &V.fs.VZ}}) {
            gather(*a, V.own_elements, V.elements, V, *b);
        }
    }
}

void view_gather_watched(const soil& sl, const flowstate& fs, whole_view& V) {
    gather_nodes(sl, fs, V.own_watched, V.watched, false, V);
}

namespace {

// The state arrays of a checkpoint that hold values of the nodes (0), surface nodes (1) or
// tetrahedra (2); the rates of the atmospheric records are ATMINP.
template <class F>
void state_arrays(records& R, F f) {
    flowstate& fs = R.fs;
    soil& sl = R.sl;
    bcdata& bc = R.bc;
    for (auto* a : {&fs.PNEW, &fs.POLD, &fs.PSAVE, &fs.PTHETA, &fs.PTHOLD, &fs.HPOT, &fs.HPOTP,
                    &fs.HPTHETA, &fs.VXNOD, &fs.VYNOD, &fs.VZNOD, &fs.CNEW, &fs.COLD, &fs.CSAVE,
                    &fs.CTHETA, &fs.HPOTC, &sl.SW, &sl.CKRW, &sl.STCOEF, &sl.DSTCOEF, &sl.DCKRW,
                    &sl.CHHEAD, &sl.WNEW, &sl.WSAVE}) {
        f(0, a);
    }
    for (auto* a : {&bc.ATMPOT, &bc.ATMACT, &bc.ATMACP, &bc.ATMPOP}) f(1, a);
    for (auto* a : {&bc.IFATM, &bc.IFATMP, &bc.SATSUR, &bc.ATMOTH, &bc.PONDEP}) f(1, a);
    for (auto* a : {&fs.VX, &fs.VY, &fs.VZ}) f(2, a);
}

// The deck's size of what a state array of kind k holds.
long deck_size(const records& R, int k) {
    const long nw = (long)R.msh.NNODW * (R.dim.NSTR + 1);
    const long ntw = 3L * R.msh.NTRIW * R.dim.NSTR;
    return k == 0 ? nw : k == 1 ? (long)R.msh.NNODW : ntw;
}

}  // namespace

void state_whole(records& R, whole_view& V) {
    if (!R.msh.cut()) return;
    V.kept_reals.clear();
    V.kept_ints.clear();
    auto put = [&](int k, auto* a) {
        using T = typename std::remove_reference<decltype((*a)(1))>::type;
        if (a->empty()) return;
        arr1<T> whole(V.on ? deck_size(R, k) : 0);
        bool satsur = false;
        if constexpr (std::is_same<T, int>::value) {
            satsur = a == &R.bc.SATSUR;
            if (satsur && V.on) whole = V.bc.SATSUR;  // written by process 0 alone
        }
        if (!satsur) {
            if (k == 0) gather(*a, V.own, V.nodes, V, whole);
            else if (k == 1) gather(*a, V.own_surface, V.surface, V, whole);
            else gather(*a, V.own_elements, V.elements, V, whole);
        }
        if (!V.on) return;
        std::swap(*a, whole);
        if constexpr (std::is_same<T, double>::value) V.kept_reals.push_back(std::move(whole));
        else V.kept_ints.push_back(std::move(whole));
    };
    state_arrays(R, put);
    // The rates, record by record.
    arr2<double>& rates = R.bc.ATMINP;
    arr2<double> whole(3, V.on ? R.msh.NNODW : 0);
    arr1<double> row(rates.n2()), wrow(V.on ? R.msh.NNODW : 0);
    for (int r = 1; r <= 3; ++r) {
        for (long j = 1; j <= rates.n2(); ++j) row(j) = rates(r, j);
        gather(row, V.own_surface, V.surface, V, wrow);
        for (long j = 1; j <= wrow.size(); ++j) whole(r, j) = wrow(j);
    }
    if (V.on) {
        std::swap(rates, whole);
        V.kept_rates = std::move(whole);
    }
}

void state_own(records& R, whole_view& V) {
    if (!R.msh.cut() || !V.on) return;
    std::size_t nr = 0, ni = 0;
    state_arrays(R, [&](int, auto* a) {
        using T = typename std::remove_reference<decltype((*a)(1))>::type;
        if (a->empty()) return;
        if constexpr (std::is_same<T, double>::value) std::swap(*a, V.kept_reals[nr++]);
        else std::swap(*a, V.kept_ints[ni++]);
    });
    std::swap(R.bc.ATMINP, V.kept_rates);
    V.kept_reals.clear();
    V.kept_ints.clear();
    V.kept_rates.release();
}

void state_empty(records& R) {
    if (!R.msh.cut()) return;
    // Every array the checkpoint holds gets the deck's size (one created later, CHHEAD, is
    // created by the reader at the size it gives).
    state_arrays(R, [&](int k, auto* a) {
        if (!a->empty()) a->alloc(deck_size(R, k));
    });
    R.bc.ATMINP.alloc(3, R.msh.NNODW);
}

void state_take(records& R, whole_view& V) {
    if (!R.msh.cut()) return;
    const dimensions& dim = R.dim;
    const mesh& msh = R.msh;
    if (V.on) V.bc.SATSUR = R.bc.SATSUR;
    state_arrays(R, [&](int k, auto* a) { take_held(msh, k, k == 0 ? dim.N : k == 1 ? dim.NNOD : dim.NT, *a); });
    const arr2<double>& rates = R.bc.ATMINP;
    arr2<double> held(3, dim.NNOD);
    for (int r = 1; r <= 3; ++r) {
        for (long j = 1; j <= held.n2(); ++j) held(r, j) = rates(r, msh.SDECK[j - 1]);
    }
    std::swap(R.bc.ATMINP, held);
}

void view_faces(const bcdata& bc, whole_view& V) {
    if (!V.on || bc.SFDECK.empty()) return;
    V.bc.NSFNUM = bc.NSFNUM;
    V.bc.IEXIT = bc.IEXIT;
    V.bc.SFQ = bc.SFQ;
    if (V.bc.SFNOD.empty()) V.bc.SFNOD = bc.SFDECK;
}

}  // namespace nep
