// Wall-clock timing of the run and its phases.
#pragma once

namespace nep {

// flag 1: t = the current clock reading (seconds); any other flag: t = seconds elapsed since the
// reading held in t.
void timer(double& t, int flag);

}  // namespace nep
