#include "driver/driver.h"

#include "driver/fileset.h"
#include "driver/format.h"
#include "driver/parm.h"
#include "driver/stop.h"
#include "driver/timer.h"

namespace nep {

void check(const dimensions& dim, const control& ctl, iofiles& io) {
    bool bad = false;
    if (dim.INONSY >= 2) {
        wfmt(io.out(6), "(/,' ERROR: INONSY SHOULD BE SET TO 0 OR 1')");
        bad = true;
    }
    if (dim.INONSY != 1 && ctl.ITRANS != 0 && ctl.ISOLVC == 3) {
        wfree(io.out(6));
        wfmt(io.out(6), "(/,' ERROR: INONSY SHOULD BE SET TO 1 FOR THE',"
                        "' NONSYM SOLVER')");
        bad = true;
    }
    if (bad) stop_run(EXIT_ERROR);
}

void datin(records& R) {
    read_parm(R.dim, R.ctl, R.io, R.bc, R.sl);
}

void nepora3d(records& R) {
    double start = 0.0;
    timer(start, 1);
    wfree(R.io.out(6), "   NEPORA-3D: COUPLED FLOW AND TRANSPORT CODE: 2 NxN SYSTEMS SOLVED ");
    check(R.dim, R.ctl, R.io);
    datin(R);
}

}  // namespace nep
