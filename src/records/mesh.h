// The surface grid and the tetrahedral mesh built from it, with the element geometry.
#pragma once

#include <algorithm>
#include <vector>

#include "base/array.h"
#include "records/dimensions.h"

namespace nep {

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

    // Geometry.
    arr1<double> ARENOD;    // (NNOD) area represented by each surface node
    arr1<double> VOLNOD;    // (N) volume represented by each node
    // (kGeomRows, NT) the geometry of every tetrahedron as elmgeo forms it (the basis
    // coefficients b and c of its four vertices, then its volume with the sign of the
    // orientation of its vertices), when it is kept (NGEO = NT); element loops form it again
    // otherwise.
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
    // (e-1) mod NTRI3 + 1); (5, NT) holds every element's when the layers do not repeat them.
    arr2<double> GEOMD;
    arr1<int> NCONT;        // (N) tetrahedra around each node
};

// Creates the arrays from the sizes; releases them at the end of the run.
void alloc_mesh(const dimensions& dim, mesh& msh);
void release_mesh(mesh& msh);

}  // namespace nep
