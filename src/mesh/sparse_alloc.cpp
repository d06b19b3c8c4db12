#include "driver/storage.h"

namespace nep {

void alloc_sparse(const dimensions& /*dim*/, const control& /*ctl*/, sparse& /*sp*/) {}

void release_sparse(sparse& /*x*/) {}

}  // namespace nep
