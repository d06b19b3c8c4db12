// Soil and material parameters and the characteristic values per node and element.
#pragma once

#include "driver/array.h"

namespace nep {

struct soil {
    // Derivative options of the characteristic curves (parameter file).
    int KSLOPE = 0;
    double TOLKSL = 0.0;
    double PKRL = 0.0, PKRR = 0.0, PSEL = 0.0, PSER = 0.0;
    double PDSE1L = 0.0, PDSE1R = 0.0, PDSE2L = 0.0, PDSE2R = 0.0;
};

}  // namespace nep
