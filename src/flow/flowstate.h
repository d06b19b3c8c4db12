// Heads and the other nodal and elemental flow state, and the iteration histories.
#pragma once

#include "driver/array.h"

namespace nep {

struct flowstate {
};

}  // namespace nep
