// The surface grid and the tetrahedral mesh built from it, with the element geometry.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/array.h"
#include "base/procs.h"
#include "records/dimensions.h"

namespace nep {

// The entry of largest key over the nodes (mesh::best).
using node_best = proc_best;

// Values kept per tetrahedron in GEOM.
constexpr int kGeomRows = 9;

// The tetrahedra: TETRA(m, e) is node m = 1..4 of element e = 1..NT, TETRA(5, e) its material
// code. A mesh built layer by layer keeps only the elements of its top layer: element e of layer
// L is element e - (L-1)*PER of the top layer with its node numbers raised by (L-1)*SHIFT, as
// every layer repeats the top one (PER = NTRI3 elements and SHIFT = NNOD nodes a layer). A table
// created by alloc keeps every element (PER = NT).
class tetra_table {
public:
    // Every element kept, all values 0 (n1 = 5).
    void alloc(long n1, long nt) { layered(n1, nt, nt, 0); }
    // The top layer of per_layer elements kept, of nt elements in all.
    void layered(long n1, long nt, long per_layer, int shift) {
        nt_ = nt > 0 ? nt : 0;
        per_ = per_layer > 0 ? std::min<long>(per_layer, nt_) : nt_;
        shift_ = shift;
        magic_ = per_ > 1 ? ~0ULL / (unsigned long long)per_ + 1 : 0;
        k_.alloc(n1, per_);
    }
    void release() { alloc(5, 0); }
    // The elements kept (the top layer, or every element), to be filled.
    arr2<int>& kept() { return k_; }
    const arr2<int>& kept() const { return k_; }
    long n2() const { return nt_; }
    bool empty() const { return nt_ == 0; }
    // Layers above element e.
    long layers_above(long e) const {
        NEP_BOUND(e, nt_);
        const unsigned long long n = (unsigned long long)(e - 1);
        __extension__ typedef unsigned __int128 u128;
        return per_ > 1 ? (long)(((u128)magic_ * n) >> 64) : (long)n;
    }
    int operator()(int m, long e) const {
        const long q = layers_above(e);
        return k_(m, e - q * per_) + (m <= 4 ? (int)q * shift_ : 0);
    }
    // The four nodes and the material code of element e into t[0..4].
    void nodes(long e, int* t) const {
        const long q = layers_above(e);
        const int* k = k_.col(e - q * per_);
        const int up = (int)q * shift_;
        for (int m = 0; m < 4; ++m) t[m] = k[m] + up;
        t[4] = k[4];
    }

private:
    arr2<int> k_;
    long nt_ = 0, per_ = 0;
    int shift_ = 0;
    unsigned long long magic_ = 0;  // 2^64 / PER, rounded up: (e-1)/PER by one multiplication
};

struct mesh {
    // Grid file.
    int IVERT = 0;          // type of vertical discretisation
    int ISP = 0;            // how elevations are given (0 flat, 1 surface, 2 surface and bottom)
    double BASE = 0.0;      // thickness or base of the 3-D mesh
    arr1<double> ZRATIO;    // (NSTR) layer fractions, top layer first
    arr2<int> TRIANG;       // (4, NTRI): three surface nodes and the material code
    tetra_table TETRA;      // (5, NT): four 3-D nodes and the material code
    arr1<double> X, Y, Z;   // (N) node coordinates; 1..NNOD are the surface nodes
    // A start on several processes builds no whole mesh: the deck's mesh then holds its surface
    // alone (X, Y, Z of the NNOD surface nodes, ZBOT their bottom elevations when ISP = 2, the
    // tetrahedra of the top layer), from which each process builds its own columns
    // (run/columns.cpp, column_z). ZMIN is the lowest surface elevation (gen3d).
    bool SURFONLY = false;
    arr1<double> ZBOT;
    double ZMIN = 0.0;

    // Geometry.
    arr1<double> ARENOD;    // (NNOD) area represented by each surface node
    arr1<double> VOLNOD;    // (N) volume represented by each node
    // (kGeomRows, NT) the geometry of every tetrahedron as elmgeo forms it (the basis
    // coefficients b and c of its four vertices, then its volume with the sign of the
    // orientation of its vertices), when it is kept (NGEO = NT); element loops form it again
    // otherwise (NGEO = 0: a mesh that does not fit with it, or ISOLV -11).
    arr2<double> GEOM;
    // One process of several keeps the geometry of the elements of its own element loops alone
    // (those touching its columns, records/sparse.h), layer by layer: GSLOT(c) is the place,
    // from 0, among the GPER kept in each layer, of the top layer's tetrahedron c and of every
    // one below it, -1 for one not kept (formed where it is needed); GPERIOD is NTRI3. Empty
    // when every element is kept in the column of its number.
    std::vector<int> GSLOT;
    long GPER = 0, GPERIOD = 0;
    // The coefficients d of the four vertices and the orientation (+1 or -1), kept with GEOM.
    // They depend on x and y alone, which every layer of nodes repeats: (5, NTRI3) holds those of
    // the top layer's tetrahedra, shared by the tetrahedra below them (element e reads column
    // (e-1) mod NTRI3 + 1); (5, NT) holds every element's when the layers do not repeat them,
    // and none is kept then where GEOM is not.
    arr2<double> GEOMD;
    arr1<int> NCONT;        // (N) tetrahedra around each node
    // A run on several processes where each process holds a mesh of its own (run/columns.cpp):
    // its own columns and two rings of columns around them, so that every node of its own
    // columns and of the first ring has all its tetrahedra. The surface nodes held are numbered
    // in the deck's order, and node i of layer L is (L-1)*NNOD + its surface node, as in the
    // deck's mesh; the triangles held keep the deck's order too. Empty otherwise.
    std::vector<int> SDECK;  // (NNOD) the deck's number of every surface node held
    std::vector<int> SHELD;  // (NNODW) the number here of every surface node of the deck, 0 if not held
    std::vector<int> TDECK;  // (NTRI) the deck's number of every triangle held
    int NNODW = 0, NTRIW = 0;  // the deck's surface nodes and triangles
    std::vector<std::uint8_t> SOWN;  // (NNOD) 1 for the surface nodes of this process's columns
    // The surface nodes of the rings, whose values come from the processes that own them (by
    // surface node held, from 0).
    proc_halo SRING;
    bool cut() const { return !SDECK.empty(); }
    // Node i lies in one of this process's own columns (every node of a mesh not cut).
    bool own(long i) const { return SOWN.empty() || SOWN[(std::size_t)((i - 1) % (long)SOWN.size())] != 0; }
    // Tetrahedron e lies in one of this process's own columns: the first node of its triangle
    // does (every tetrahedron of a mesh not cut).
    bool own_element(long e) const {
        if (SOWN.empty()) return true;
        return own(TRIANG(1, ((e - 1) % (3 * (long)TDECK.size())) / 3 + 1));
    }
    // The deck's number of node i (1..N) of this mesh.
    long deck_node(long i) const {
        if (SDECK.empty()) return i;
        const long nnod = (long)SDECK.size(), q = (i - 1) / nnod;
        return q * NNODW + SDECK[(std::size_t)(i - 1 - q * nnod)];
    }
    // The deck's number of tetrahedron e (1..NT) of this mesh: three a triangle, layer by layer.
    long deck_element(long e) const {
        if (TDECK.empty()) return e;
        const long per = 3 * (long)TDECK.size(), L = (e - 1) / per, q = e - 1 - L * per;
        return L * 3 * (long)NTRIW + 3 * (long)(TDECK[(std::size_t)(q / 3)] - 1) + q % 3 + 1;
    }
    // The number here of the deck's node g, 0 when this mesh does not hold it.
    int held_node(long g) const {
        if (SDECK.empty()) return (int)g;
        if (g < 1) return 0;
        const long q = (g - 1) / NNODW, s = SHELD[(std::size_t)(g - 1 - q * NNODW)];
        return s == 0 ? 0 : (int)(q * (long)SDECK.size() + s);
    }
    // The deck's surface nodes (this mesh's nnod when it is the deck's), and the number here of
    // the deck's surface node s (0 when this mesh does not hold it).
    long deck_surface(long nnod) const { return cut() ? (long)NNODW : nnod; }
    int held_surface(long s) const { return SHELD.empty() ? (int)s : SHELD[(std::size_t)(s - 1)]; }

    // Sums and searches over the nodes. On several processes each forms them over its own nodes
    // (own), and these make them the whole mesh's, the same bits on every process (base/procs.h):
    // the one place where what the physics sums meets the processes. On one process they give
    // their values back unchanged.
    void sum(double* v, long n) const { if (cut()) proc_sum(v, n); }
    double largest(double v) const { return cut() ? proc_max(v) : v; }
    bool any(bool v) const { return cut() ? proc_max(v ? 1 : 0) != 0 : v; }
    // The entry of largest key (node the deck's number; `last`: the last of equal keys).
    void best(node_best& b, bool last) const { if (cut()) proc_best_of(b, last); }
    // Rows of `width` values whose first is the deck's number of a node, found by each process
    // over its own nodes: those of every process, in the order of the deck's nodes (the rows of
    // one node in the order they were found).
    void in_deck_order(std::vector<double>& rows, std::size_t width) const {
        if (!cut()) return;
        const std::vector<double> all = proc_concat(rows);
        std::vector<std::size_t> order(all.size() / width);
        for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return all[width * a] < all[width * b]; });
        rows.clear();
        for (std::size_t k : order) rows.insert(rows.end(), all.begin() + width * k, all.begin() + width * (k + 1));
    }
};

// Creates the arrays from the sizes; releases them at the end of the run.
void alloc_mesh(const dimensions& dim, mesh& msh);
// The deck's surface alone (mesh::SURFONLY): a start on several processes.
void alloc_surface_mesh(const dimensions& dim, mesh& msh);
void release_mesh(mesh& msh);

}  // namespace nep
