#include "flow/elavg.h"

namespace nep {

void elavg(const dimensions& dim, const mesh& msh, soil& sl) {
    const arr2<int>& T = msh.TETRA;
    for (int e = 1; e <= dim.NT; ++e) {
        const int i = T(1, e), j = T(2, e), k = T(3, e), l = T(4, e);
        sl.ELKRW(e) = (sl.CKRW(i) + sl.CKRW(j) + sl.CKRW(k) + sl.CKRW(l)) * 0.25;
        sl.ELSTC(e) = (sl.STCOEF(i) + sl.STCOEF(j) + sl.STCOEF(k) + sl.STCOEF(l)) * 0.25;
        sl.ELSW(e) = (sl.SW(i) + sl.SW(j) + sl.SW(k) + sl.SW(l)) * 0.25;
    }
}

}  // namespace nep
