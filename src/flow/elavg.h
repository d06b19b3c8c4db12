// Element means of the nodal characteristics.
#pragma once

#include "records/mesh.h"

namespace nep {

// The arithmetic mean of a nodal quantity over the four vertices of tetrahedron e: the relative
// conductivity, storage coefficient and saturation of an element (CKRW, STCOEF, SW). Formed
// where an element loop needs it, from the nodal values of that moment.
inline double elmean(const arr1<double>& v, const int* t) {
    const double* p = v.data() - 1;
    return (p[t[0]] + p[t[1]] + p[t[2]] + p[t[3]]) * 0.25;
}
inline double elmean(const arr1<double>& v, const mesh& msh, long e) {
    int t[5];
    msh.TETRA.nodes(e, t);
    return elmean(v, t);
}

}  // namespace nep
