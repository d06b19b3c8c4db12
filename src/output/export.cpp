#include "output/export.h"

#include <cerrno>
#include <cstring>

#include "base/format.h"
#include "base/stop.h"
#include "flow/velocity.h"
#include "output/batch.h"

namespace nep {

namespace {

void open_export(ounit& u, const std::string& path) {
    errno = 0;
    if (!u.open(path)) {
        input_error("cannot create the final-state file '" + path + "': " +
                    std::strerror(errno ? errno : EACCES));
    }
}

}  // namespace

void test_output(const dimensions& dim, const control& ctl, const mesh& msh, soil& sl,
                 flowstate& fs, const std::string& dir, bool formed) {
    const bool coupled = ctl.ITRANS != 0;
    {
        ounit u;
        open_export(u, dir + "root-ntupla.dat");
        // One record per node: the format has room for six values, a flow-only run gives five.
        write_records(u, 1, dim.N, [&](ounit& v, long i) {
            if (coupled) {
                wfmt(v, "(6(1PE15.6))", msh.X(i), msh.Y(i), msh.Z(i), fs.HPTHETA(i), fs.PNEW(i),
                     fs.CNEW(i));
            } else {
                wfmt(v, "(6(1PE15.6))", msh.X(i), msh.Y(i), msh.Z(i), fs.HPTHETA(i), fs.PNEW(i));
            }
        });
        u.close();
    }

    if (!formed) velcmp(dim, ctl, msh, sl, fs);

    ounit u;
    open_export(u, dir + "test-vel.dat");
    wfree(u, "test-vel.dat");
    wfree(u, 0);
    wfmt(u, "(I6,1PE12.4,'     NSTEP   TIME')", ctl.NSTEP, ctl.TIME);
    write_records(u, 1, dim.N, [&](ounit& v, long i) {
        wfmt(v, "(3(1PE15.6))", fs.VXNOD(i), fs.VYNOD(i), fs.VZNOD(i));
    });
    u.close();
}

}  // namespace nep
