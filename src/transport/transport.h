// Transport boundary-condition lists and values.
#pragma once

#include "driver/array.h"

namespace nep {

struct transport {
};

}  // namespace nep
