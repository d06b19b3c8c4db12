#include <algorithm>

#include "records/flowstate.h"

namespace nep {

void alloc_flowstate(const dimensions& dim, const control& ctl, flowstate& fs) {
    const long n = std::max(dim.N, 0);
    const long itmx = std::max(dim.ITMX, 0);
    const long itmxc = std::max(dim.ITMXC, 0);

    fs.IKMAXIT.alloc(itmx);
    for (auto* h : {&fs.PNEWIT, &fs.POLDIT, &fs.PDIFIT, &fs.PL2IT, &fs.FL2IT, &fs.FINFIT}) h->alloc(itmx);
    if (ctl.ITRANS != 0) {
        fs.IKCIT.alloc(itmxc);
        for (auto* h : {&fs.HPOTIT, &fs.HPOTCIT, &fs.HDIFIT, &fs.CNEWIT, &fs.COLDIT, &fs.CDIFIT,
                        &fs.HDMXIT, &fs.CDMXIT}) {
            h->alloc(itmxc);
        }
    }
    for (auto* v : {&fs.PNEW, &fs.POLD, &fs.PSAVE, &fs.PTHETA, &fs.PTHOLD, &fs.HPOT, &fs.HPOTP,
                    &fs.HPTHETA, &fs.VXNOD, &fs.VYNOD, &fs.VZNOD}) {
        v->alloc(n);
    }
    if (ctl.ITRANS != 0) {
        for (auto* v : {&fs.CNEW, &fs.COLD, &fs.CSAVE, &fs.CTHETA, &fs.HPOTC}) v->alloc(n);
    }
    for (auto* v : {&fs.VX, &fs.VY, &fs.VZ}) v->alloc(std::max(dim.NVEL, 0));
}

void release_flowstate(flowstate& fs) {
    fs.IKMAXIT.release();
    fs.IKCIT.release();
    for (auto* v : {&fs.PNEWIT, &fs.POLDIT, &fs.PDIFIT, &fs.PL2IT, &fs.FL2IT, &fs.FINFIT,
                    &fs.HPOTIT, &fs.HPOTCIT, &fs.HDIFIT, &fs.CNEWIT, &fs.COLDIT, &fs.CDIFIT,
                    &fs.HDMXIT, &fs.CDMXIT, &fs.PNEW, &fs.POLD, &fs.PSAVE, &fs.PTHETA,
                    &fs.PTHOLD, &fs.HPOT, &fs.HPOTP, &fs.HPTHETA, &fs.VXNOD, &fs.VYNOD, &fs.VZNOD,
                    &fs.CNEW, &fs.COLD, &fs.CSAVE, &fs.CTHETA, &fs.HPOTC, &fs.VX, &fs.VY, &fs.VZ}) {
        v->release();
    }
}

}  // namespace nep
