#include "driver/storage.h"

namespace nep {

void alloc_soil(const dimensions& /*dim*/, const control& /*ctl*/, soil& /*sl*/) {}

void release_soil(soil& /*x*/) {}

}  // namespace nep
