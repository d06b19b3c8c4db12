// Flow boundary conditions: atmospheric, prescribed-head, prescribed-flux and seepage-face data.
#pragma once

#include "driver/array.h"

namespace nep {

struct bcdata {
    // Seepage-face options (parameter file).
    int ISFONE = 0, ISFCVG = 0;
};

}  // namespace nep
