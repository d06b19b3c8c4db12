// Heads and the other nodal and elemental flow state, and the iteration histories.
#pragma once

#include "base/array.h"
#include "records/control.h"
#include "records/dimensions.h"

namespace nep {

struct flowstate {
    // Initial-condition options (flow and transport initial-condition files).
    bool POTINP = false;  // values are potential heads
    int INDP = 0;         // 0 uniform, 1 nodal, 2 hydrostatic
    int INDC = 0;         // 0 uniform concentration, anything else nodal

    // Pressure heads: current and previous iterate, previous time level, time-weighted heads.
    arr1<double> PNEW, POLD, PSAVE, PTHETA, PTHOLD;
    // Potential heads (pressure head + z): current iterate, previous time level, time-weighted.
    // (Their previous iterate and previous time-weighted level are never read: not kept.)
    arr1<double> HPOT, HPOTP, HPTHETA;

    // Darcy velocities: per element (NT) and their nodal averages (N).
    arr1<double> VX, VY, VZ;
    arr1<double> VXNOD, VYNOD, VZNOD;

    // Norms of the current flow iteration: largest change (at node IKMAX) and L2 norm of the
    // head change, largest entry and L2 norm of the residual.
    double PINF = 0.0, PL2 = 0.0, FINF = 0.0, FL2 = 0.0;
    int IKMAX = 0;
    double PDIF = 0.0;  // the signed change at IKMAX
    double PNEWIK = 0.0, POLDIK = 0.0;  // PNEW and POLD at IKMAX

    // Step statistics of the last iteration: largest change over the surface nodes and over all
    // nodes (with its node), largest and smallest surface head (with their nodes).
    double CHGSUR = 0.0, CHGALL = 0.0, PMAXSU = 0.0, PMINSU = 0.0;
    int NCHGALL = 0, NPMAXS = 0, NPMINS = 0;

    // Flow iteration history of the step (ITMX), indexed by ITER: IKMAX, PNEW(IKMAX),
    // POLD(IKMAX), the signed change there, PL2, FL2, FINF.
    arr1<int> IKMAXIT;
    arr1<double> PNEWIT, POLDIT, PDIFIT, PL2IT, FL2IT, FINFIT;

    // Coupled runs only.
    // Concentrations: current and previous outer iterate, previous time level (which receives
    // the initial concentrations), time-weighted; potential head of the previous outer iterate.
    arr1<double> CNEW, COLD, CSAVE, CTHETA;
    arr1<double> HPOTC;
    // Coupled iteration history of the step (ITMXC), indexed by ITERC: IKMAX; HPOT, HPOTC, the
    // normalised head change, CNEW, COLD, the concentration change, all at IKMAX; the signed
    // head change and the signed concentration change of largest magnitude.
    arr1<int> IKCIT;
    arr1<double> HPOTIT, HPOTCIT, HDIFIT, CNEWIT, COLDIT, CDIFIT, HDMXIT, CDMXIT;
};

// Creates the arrays from the sizes; releases them at the end of the run.
void alloc_flowstate(const dimensions& dim, const control& ctl, flowstate& fs);
void release_flowstate(flowstate& fs);

}  // namespace nep
