// The run-control records: problem sizes, run parameters and time control, the file set with
// its output control, and the clock tables.
#pragma once

#include <array>
#include <string>

#include "driver/array.h"
#include "driver/freeread.h"
#include "driver/units.h"

namespace nep {

struct dimensions {
    int NNOD = 0, NTRI = 0;          // surface nodes and triangles
    int NZONE = 0, NSTR = 0, N1 = 0; // material types, layers, largest number of nodal contacts
    int N1C = 0;                     // copy of N1 for the transport pattern
    int N = 0, NT = 0;               // nodes and tetrahedra of the 3-D mesh
    int NTRI3 = 0;                   // 3*NTRI, surface triangle corners
    int NDIR = 0, NDIRC = 0, NP = 0, NQ = 0;
    int NSF = 0, NSFNMX = 0, NBCMAX = 0;
    int NP2C = 0, NPFC = 0, NPC = 0, NMC = 0;
    int NTERM = 0, NTERMC = 0;
    int ITMX = 0, ITMXC = 0;
    int NR = 0, NPRT = 0, NUMVP = 0;
    int INONSY = 0;
    int LIMNS1 = 1200000;
    int IBOTMN = 1200000;
    int LENNS = 0;
    int INTBOT = 0;
};

// Which of the two programs is running: the second one differs in a few input widths, texts and
// listing layouts.
enum class dialect { MAIN, ALT };

struct control {
    dialect DIALECT = dialect::MAIN;

    // Run parameters (parameter file).
    int IFLOW = 0, ITRANS = 0;
    bool OSC_FLAG = false;
    double TETAF = 1.0, TETAC = 1.0;
    int LUMP = 0, LUMPC = 0;
    int ITMX1 = 0, ITMX2 = 0, ITMXC1 = 0, ITMXC2 = 0;
    double TOLNL = 0.0, TOLNLC = 0.0;
    int L2NORM = 0;
    double ERNLMX = 0.0;
    int ISOLV = 0, IRELAX = 0, ISOLVC = 0, IRELAXC = 0;
    double OMEGA = 0.0, OMEGAC = 0.0;
    int ITCGSY = 0, ITCGNS = 0;
    double TLCGSY = 0.0, TLCGNS = 0.0;

    // Time control.
    double TIMEP = 0.0, TIME = 0.0, DELTAT = 0.0, DTMIN = 0.0, DTMAX = 0.0, TMAX = 0.0;
    double DTMAGA = 0.0, DTMAGM = 0.0, DTREDS = 0.0, DTREDM = 0.0;
    int NSTEP = 1;
    int ITER = 1, ITERC = 1;
    bool BKFLAG = true;
    int ISTATUS = -1;
    int CPLSTA = 0;                 // coupled status and step-size code
    double DIFMAX = 0.0;            // convergence measure of the last coupled iteration
    double OMEGAV = 1.0;            // relaxation factor of the concentrations
    bool ENDFLOW = false, ENDCPL = false;
    double DTFIRST = 0.0;           // first step size
    double DTSUM = 0.0, DTSMAL = 0.0, TSMAL = 0.0, DTLARG = 0.0, TLARG = 0.0;

    // First record of the flow boundary-condition file (potential-head values), as the first
    // pass reads it.
    bool POTBC = false;

    // Constants and corner tables.
    int HUGEI = 2147483647;
    double HUGER = 1.7e38;
    double TINYR = 1.7e-38;
    int IP3[4][4] = {};  // IP3[i][j], i, j = 1..3
    int IP4[5][5] = {};  // IP4[i][j], i, j = 1..4

    // Iteration totals.
    int ITUNS = 0, ITLIN = 0;       // nonlinear and linear flow iterations over the run
    int ITUNSC = 0, ITLINC = 0;     // the same for the coupled iteration
    int ITLINS = 0, ITLINSC = 0;    // linear iterations of the current step
    int ITLTRN = 0;                 // linear iterations of the last transport solve
    int NLSFAIL = 0;                // linear flow solves that reached their iteration limit
    int ITLSOL = 0;                 // linear iterations of the last flow solve
    bool LSFAIL = false;            // the last linear flow solve failed
    int NBKSTEP = 0;                // back-steps of the run
    double OMEGAP = 1.0;            // previous factor of variable relaxation
};

// Unit numbers of the file set, in the order of the lines of the fnames file.
constexpr int kNumInputLines = 12;
constexpr int kNumOutputLines = 30;
constexpr std::array<int, kNumInputLines> kInputUnits = {5, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
constexpr std::array<int, kNumOutputLines> kOutputUnits = {
    6, 25, 26, 27, 28, 29, 30, 31, 32, 33, 134, 35, 36, 37, 38,
    39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 61, 62, 63, 64};
constexpr int kMaxUnit = 134;
constexpr int kTermUnit = 4;
constexpr int kFnamesUnit = 1;

struct iofiles {
    // File names by unit number (as read from the fnames file).
    std::array<std::string, kMaxUnit + 1> NAMES;
    // Input files by unit number (1, 5, 8..18) and output files by unit number (4, 6, 25..64, 134).
    std::array<freader, 19> IN;
    std::array<ounit, kMaxUnit + 1> OUT;
    ounit STDOUT;  // standard output of the process

    freader& in(int unit) { return IN[unit]; }
    ounit& out(int unit) { return OUT[unit]; }

    // Output control (parameter file).
    int IPRT1 = 0, IPRT = 0, ISEC = 0;
    int KPRT = 1;
    arr1<double> TIMPRT;
    arr1<int> NODVP;
    arr1<int> IPOUT;
};

struct cpustat {
    float CPUTOT = 0.0f;   // whole simulation
    float CPUNL = 0.0f;    // flow nonlinear iterations
    float CPUCPL = 0.0f;   // coupled iterations
    float FT[10] = {};     // flow phase times, 1..9
    float TT[10] = {};     // transport phase times, 1..9
};

}  // namespace nep
