#include <algorithm>

#include "records/flowstate.h"
#include "records/state.h"

namespace nep {

void alloc_flowstate(const dimensions& dim, const control& ctl, flowstate& fs) {
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
    // The nodal and elemental state (records/state.h).
    alloc_fields(dim, ctl.ITRANS != 0, fs);
}

void release_flowstate(flowstate& fs) {
    release_fields(fs);
}

}  // namespace nep
