// Soil and material parameters, the derived constants of the characteristic curves, and the
// characteristic values per node.
#pragma once

#include "driver/array.h"

namespace nep {

struct soil {
    // Derivative options of the characteristic curves (parameter file).
    int KSLOPE = 0;
    double TOLKSL = 0.0;
    double PKRL = 0.0, PKRR = 0.0, PSEL = 0.0, PSER = 0.0;
    double PDSE1L = 0.0, PDSE1R = 0.0, PDSE2L = 0.0, PDSE2R = 0.0;

    // Soil file.
    double PMIN = 0.0;
    int IVGHU = 0;
    double VGN = 0.0, VGRMC = 0.0, VGPSAT = 0.0;
    double HUALFA = 0.0, HUBETA = 0.0, HUGAMA = 0.0, HUPSIA = 0.0, HUSWR = 0.0;
    double HUN = 0.0, HUA = 0.0, HUB = 0.0;
    double BCBETA = 0.0, BCRMC = 0.0, BCPSAT = 0.0;
    arr2<double> XPERM, YPERM, ZPERM, STORAGE, POROSITY;  // (NSTR, NZONE)

    // Nodal averages over the tetrahedra around each node.
    arr1<double> SNODI, PORNOD;  // (N)

    // Characteristic values per node.
    arr1<double> SW, CKRW, STCOEF, DSTCOEF, DCKRW;  // (N)
};

}  // namespace nep
