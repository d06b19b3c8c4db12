// Wall-clock timing of the run and its phases.
#pragma once

namespace nep {

// flag 1: t = the current clock reading (seconds); any other flag: t = seconds elapsed since the
// reading held in t.
void timer(double& t, int flag);

// A phase timed from its construction to its end and added to a phase-time entry.
struct timed_phase {
    float& acc;
    double t0 = 0.0;
    explicit timed_phase(float& a) : acc(a) { timer(t0, 1); }
    ~timed_phase() {
        timer(t0, 2);
        acc += (float)t0;
    }
    timed_phase(const timed_phase&) = delete;
    timed_phase& operator=(const timed_phase&) = delete;
};

}  // namespace nep
