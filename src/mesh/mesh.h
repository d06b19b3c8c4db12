// The surface grid and the tetrahedral mesh built from it.
#pragma once

#include "driver/array.h"

namespace nep {

struct mesh {
};

}  // namespace nep
