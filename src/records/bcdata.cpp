#include <algorithm>

#include "records/bcdata.h"
#include "records/state.h"

namespace nep {

void alloc_bcdata(const dimensions& dim, bcdata& bc, const control* ctl) {
    // A negative count read by the first pass is refused by the readers; it sizes nothing here.
    const long ndir = std::max(dim.NDIR, 0);
    const long np = std::max(dim.NP, 0);
    const long nq = std::max(dim.NQ, 0);
    const long nsf = std::max(dim.NSF, 0);
    const long nsfnmx = std::max(dim.NSFNMX, 0);
    const long nbcmax = std::max(dim.NBCMAX, 0);

    // The state of every surface node (records/state.h).
    alloc_fields(dim, ctl == nullptr || ctl->ITRANS != 0, bc);

    bc.DIR2D.alloc(ndir);
    bc.DIRNOD.alloc(np);
    bc.NEUNOD.alloc(nq);
    bc.DIRVAL.alloc(np);
    bc.DIRFLX.alloc(np);
    bc.DIRFLP.alloc(np);
    bc.NEUVAL.alloc(nq);

    bc.NSFNUM.alloc(nsf);
    bc.IEXIT.alloc(nsf);
    bc.IEXITP.alloc(nsf);
    bc.IEXOLD.alloc(nsf);
    bc.IBCNOD.alloc(nbcmax);

    bc.DIRTAB.alloc(np, 3);
    bc.NEUTAB.alloc(nq, 3);

    bc.SFNOD.alloc(nsf, nsfnmx);
    bc.SFQ.alloc(nsf, nsfnmx);
    bc.SFQOLD.alloc(nsf, nsfnmx);
}

void release_bcdata(bcdata& bc) {
    release_fields(bc);
    bc.DIR2D.release();
    bc.DIRNOD.release();
    bc.NEUNOD.release();
    bc.DIRVAL.release();
    bc.DIRFLX.release();
    bc.DIRFLP.release();
    bc.NEUVAL.release();
    bc.NSFNUM.release();
    bc.IEXIT.release();
    bc.IEXITP.release();
    bc.IEXOLD.release();
    bc.IBCNOD.release();
    bc.DIRTAB.release();
    bc.NEUTAB.release();
    bc.SFNOD.release();
    bc.SFQ.release();
    bc.SFQOLD.release();
}

}  // namespace nep
