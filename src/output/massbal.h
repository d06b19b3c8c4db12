// Mass-balance accumulators.
#pragma once

namespace nep {

struct massbal {
};

}  // namespace nep
