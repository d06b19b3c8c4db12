// Heads and the other nodal and elemental flow state, and the iteration histories.
#pragma once

#include "driver/array.h"

namespace nep {

struct flowstate {
    // Initial-condition options (flow initial-condition file).
    bool POTINP = false;  // values are potential heads
    int INDP = 0;         // 0 uniform, 1 nodal, 2 hydrostatic

    // Pressure heads: current and previous iterate, previous time level, time-weighted heads.
    arr1<double> PNEW, POLD, PSAVE, PTHETA, PTHOLD;
    // Potential heads (pressure head + z) of the same levels.
    arr1<double> HPOT, HPOTP, HPOLD, HPTHETA, HPTHOLD;
};

}  // namespace nep
