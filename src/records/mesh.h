// The surface grid and the tetrahedral mesh built from it, with the element geometry.
#pragma once

#include "base/array.h"
#include "records/dimensions.h"

namespace nep {

// Values kept per tetrahedron in GEOM.
constexpr int kGeomRows = 9;

struct mesh {
    // Grid file.
    int IVERT = 0;          // type of vertical discretisation
    int ISP = 0;            // how elevations are given (0 flat, 1 surface, 2 surface and bottom)
    double BASE = 0.0;      // thickness or base of the 3-D mesh
    arr1<double> ZRATIO;    // (NSTR) layer fractions, top layer first
    arr2<int> TRIANG;       // (4, NTRI): three surface nodes and the material code
    arr2<int> TETRA;        // (5, NT): four 3-D nodes and the material code
    arr1<double> X, Y, Z;   // (N) node coordinates; 1..NNOD are the surface nodes

    // Geometry.
    arr1<double> ARENOD;    // (NNOD) area represented by each surface node
    arr1<double> VOLNOD;    // (N) volume represented by each node
    // (kGeomRows, NT) the geometry of every tetrahedron as elmgeo forms it (the basis
    // coefficients b and c of its four vertices, then its volume with the sign of the
    // orientation of its vertices), when it is kept (NGEO = NT); element loops form it again
    // otherwise.
    arr2<double> GEOM;
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
