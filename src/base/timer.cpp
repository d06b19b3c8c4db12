#include "base/timer.h"

#include <time.h>

namespace nep {

void timer(double& t, int flag) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const double now = (double)ts.tv_sec + 1.0e-9 * (double)ts.tv_nsec;
    t = flag == 1 ? now : now - t;
}

}  // namespace nep
