#include "run/progress.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "base/procs.h"

namespace nep {

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// "1.5 s", "12 min 5 s", "3 h 20 min".
void span(char* buf, std::size_t n, double s) {
    if (!(s >= 0.0) || !std::isfinite(s)) {
        std::snprintf(buf, n, "?");
    } else if (s < 60.0) {
        std::snprintf(buf, n, "%.1f s", s);
    } else if (s < 3600.0) {
        std::snprintf(buf, n, "%d min %d s", (int)(s / 60.0), (int)std::fmod(s, 60.0));
    } else {
        std::snprintf(buf, n, "%d h %d min", (int)(s / 3600.0), (int)std::fmod(s / 60.0, 60.0));
    }
}

// The fraction of the simulated time done, or a negative number for a steady state.
double fraction(const control& ctl, double t0) {
    if (!(ctl.DELTAT < 1.0e10) || !(ctl.TMAX > t0)) return -1.0;
    return std::min(1.0, std::max(0.0, (ctl.TDONE - t0) / (ctl.TMAX - t0)));
}

}  // namespace

void progress_start(iofiles& io) {
    progress_state& p = io.PROGRESS;
    // Under mpiexec standard output is a terminal of mpiexec's, whatever mpiexec writes to: the
    // run reports as a batch job does.
    p.STATUS = p.MODE == verbosity::NORMAL && ::isatty(STDOUT_FILENO) == 1 && !proc_launched();
    p.NEXT = p.EVERY;
}

void progress_begin(const control& ctl, iofiles& io) {
    io.PROGRESS.T0 = ctl.TIMEP;
    io.PROGRESS.START = io.PROGRESS.LAST = now();
}

void progress_step(const control& ctl, iofiles& io) {
    progress_state& p = io.PROGRESS;
    if (p.MODE != verbosity::NORMAL) return;
    if (!p.STATUS && p.EVERY <= 0) return;
    const double t = now();
    const double f = fraction(ctl, p.T0);
    if (f < 0.0) return;  // a steady state: one step, which the closing summary reports
    const int pct = (int)std::floor(100.0 * f + 1e-9);
    if (!p.STATUS && pct < p.NEXT) return;
    if (p.STATUS && t - p.LAST < 0.2 && pct < 100) return;
    p.LAST = t;
    const double wall = t - p.START;
    char used[32], left[32];
    span(used, sizeof used, wall);
    span(left, sizeof left, f > 0.0 ? wall * (1.0 - f) / f : -1.0);
    char line[200];
    std::snprintf(line, sizeof line, "time %.6g / %.6g (%3d %%), %d steps, wall %s, about %s left",
                  ctl.TDONE, ctl.TMAX, pct, ctl.NDONE, used, left);
    if (p.STATUS) {
        std::printf("\r%s\033[K", line);
        p.SHOWN = true;
        std::fflush(stdout);
    } else {
        // Beside the warnings and the closing summary: standard output keeps what the program
        // has always written there.
        std::fprintf(stderr, "%s: %s\n", io.PROGNAME, line);
        while (p.NEXT <= pct) p.NEXT += p.EVERY;
    }
}

void progress_end(iofiles& io) {
    progress_state& p = io.PROGRESS;
    if (!p.SHOWN) return;
    std::printf("\r\033[K");
    std::fflush(stdout);
    p.SHOWN = false;
}

}  // namespace nep
