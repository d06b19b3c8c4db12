#include "records/soil.h"
#include "records/state.h"

namespace nep {

// The soil arrays. The window slopes DSESLP, DDSE1 and DDSE2 need N entries only for the
// extended van Genuchten model with KSLOPE = 4, but neither the model (soil file) nor KSLOPE
// (parameter file) is known yet when the storage is created, so they always get N entries;
// the other models use entry 1. The solute tables and the nodal retardation exist only in coupled
// runs.
void alloc_soil(const dimensions& dim, const control& ctl, soil& sl) {
    const long N = dim.N;
    alloc_fields(dim, ctl.ITRANS != 0, sl);  // the nodal characteristics and water held (records/state.h)
    sl.SNODI.alloc(N);
    sl.DSESLP.alloc(N);
    sl.DDSE1.alloc(N);
    sl.DDSE2.alloc(N);
    sl.SEFRAC.alloc(N);
    sl.PXVG.alloc(N);
    sl.XPERM.alloc(dim.NSTR, dim.NZONE);
    sl.YPERM.alloc(dim.NSTR, dim.NZONE);
    sl.ZPERM.alloc(dim.NSTR, dim.NZONE);
    sl.STORAGE.alloc(dim.NSTR, dim.NZONE);
    sl.POROSITY.alloc(dim.NSTR, dim.NZONE);
    if (ctl.ITRANS != 0) {
        sl.ALFAL.alloc(dim.NSTR, dim.NZONE);
        sl.ALFAT.alloc(dim.NSTR, dim.NZONE);
        sl.RETARD.alloc(dim.NSTR, dim.NZONE);
        sl.RETNOD.alloc(N);
    }
}

void release_soil(soil& sl) {
    release_fields(sl);
    sl.SNODI.release();
    sl.DSESLP.release();
    sl.DDSE1.release();
    sl.DDSE2.release();
    sl.SEFRAC.release();
    sl.PXVG.release();
    sl.XPERM.release();
    sl.YPERM.release();
    sl.ZPERM.release();
    sl.STORAGE.release();
    sl.POROSITY.release();
    sl.ALFAL.release();
    sl.ALFAT.release();
    sl.RETARD.release();
    sl.RETNOD.release();
    std::vector<chcurve>().swap(sl.SOILCH);
    sl.PXVGS.release();
    sl.ISOIP.release();
    sl.ISOIL.release();
    sl.WSOIL.release();
    sl.WSE.release();
    sl.SRES.release();
    sl.DKRNOD.release();
}

}  // namespace nep
