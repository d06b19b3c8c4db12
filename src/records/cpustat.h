// CPU statistics: the times of the whole run, of the nonlinear and coupled iterations, and of
// every phase of the flow and transport steps.
#pragma once


namespace nep {

struct cpustat {
    float CPUTOT = 0.0f;   // whole simulation
    float CPUNL = 0.0f;    // flow nonlinear iterations
    float CPUCPL = 0.0f;   // coupled iterations
    float FT[10] = {};     // flow phase times, 1..9
    float TT[10] = {};     // transport phase times, 1..9
};

}  // namespace nep
