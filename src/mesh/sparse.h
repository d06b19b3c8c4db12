// Sparse matrix patterns, matrices and solver work space.
#pragma once

#include "driver/array.h"

namespace nep {

struct sparse {
};

}  // namespace nep
