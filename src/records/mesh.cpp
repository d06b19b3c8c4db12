#include <algorithm>

#include "records/mesh.h"
#include "records/state.h"

namespace nep {

void alloc_mesh(const dimensions& dim, mesh& msh) {
    // Sizes were checked (> 0) before this is called; a negative one would size nothing.
    const long nnod = std::max(dim.NNOD, 0);
    const long nstr = std::max(dim.NSTR, 0);
    const long ntri = std::max(dim.NTRI, 0);
    const long n = std::max(dim.N, 0);
    const long nt = std::max(dim.NT, 0);

    msh.ARENOD.alloc(nnod);
    msh.ZRATIO.alloc(nstr);
    msh.X.alloc(n);
    msh.Y.alloc(n);
    msh.Z.alloc(n);
    alloc_fields(dim, true, msh);  // VOLNOD, NCONT (records/state.h)
    msh.TRIANG.alloc(4, ntri);
    // Every layer repeats the top one: only its tetrahedra are kept.
    if (dim.NTRI3 > 0 && nt % dim.NTRI3 == 0) msh.TETRA.layered(5, nt, dim.NTRI3, dim.NNOD);
    else msh.TETRA.alloc(5, nt);
}

void alloc_surface_mesh(const dimensions& dim, mesh& msh) {
    const long nnod = std::max(dim.NNOD, 0);
    msh.SURFONLY = true;
    msh.ARENOD.alloc(nnod);
    msh.ZRATIO.alloc(std::max(dim.NSTR, 0));
    msh.X.alloc(nnod);
    msh.Y.alloc(nnod);
    msh.Z.alloc(nnod);
    msh.TRIANG.alloc(4, std::max(dim.NTRI, 0));
    msh.TETRA.layered(5, std::max(dim.NT, 0), dim.NTRI3, dim.NNOD);
}

void release_mesh(mesh& msh) {
    msh.ARENOD.release();
    msh.ZRATIO.release();
    msh.X.release();
    msh.Y.release();
    msh.Z.release();
    msh.ZBOT.release();
    release_fields(msh);
    msh.TRIANG.release();
    msh.TETRA.release();
    msh.GEOM.release();
    msh.GEOMD.release();
    msh.GSLOT.clear();
}

}  // namespace nep
