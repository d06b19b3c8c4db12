#include "output/export.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/format.h"
#include "base/procs.h"
#include "base/stop.h"
#include "flow/velocity.h"
#include "mesh/blocks.h"
#include "output/batch.h"

namespace nep {

namespace {

// Every process of a cut run opens the file (the others on /dev/null) and goes by process 0's
// success, so that all stop or all go on to read the blocks.
void open_export(ounit& u, const std::string& path, const deck_nodes* dn) {
    errno = 0;
    bool ok = u.open(path);
    const int err = errno;
    if (cut_run(dn)) ok = proc_root(ok ? 1 : 0) != 0;
    if (!ok) {
        input_error("cannot create the final-state file '" + path + "': " +
                    std::strerror(err ? err : EACCES));
    }
}

}  // namespace

void test_output(const dimensions& dim, const control& ctl, const mesh& msh, soil& sl,
                 flowstate& fs, const std::string& dir, bool formed, const deck_nodes* dn) {
    const bool coupled = ctl.ITRANS != 0;
    const long n = deck_dim(dn, dim).N;
    {
        ounit u;
        open_export(u, dir + "root-ntupla.dat", dn);
        // One record per node: the format has room for six values, a flow-only run gives five.
        std::vector<field_ref> fields{msh.X, msh.Y, msh.Z, fs.HPTHETA, fs.PNEW};
        if (coupled) fields.push_back(fs.CNEW);
        deck_block b(dn, msh, false, fields);
        block_loop(b, 1, n, [&](long lo, long hi) {
            write_records(u, lo, hi, [&](ounit& v, long i) {
                if (coupled) {
                    wfmt(v, "(6(1PE15.6))", b.at(0, i), b.at(1, i), b.at(2, i), b.at(3, i), b.at(4, i),
                         b.at(5, i));
                } else {
                    wfmt(v, "(6(1PE15.6))", b.at(0, i), b.at(1, i), b.at(2, i), b.at(3, i), b.at(4, i));
                }
            });
        });
        u.close();
    }

    if (!formed) velcmp(dim, ctl, msh, sl, fs);

    ounit u;
    open_export(u, dir + "test-vel.dat", dn);
    wfree(u, "test-vel.dat");
    wfree(u, 0);
    wfmt(u, "(I6,1PE12.4,'     NSTEP   TIME')", ctl.NSTEP, ctl.TIME);
    deck_block b(dn, msh, false, {fs.VXNOD, fs.VYNOD, fs.VZNOD});
    block_loop(b, 1, n, [&](long lo, long hi) {
        write_records(u, lo, hi, [&](ounit& v, long i) {
            wfmt(v, "(3(1PE15.6))", b.at(0, i), b.at(1, i), b.at(2, i));
        });
    });
    u.close();
}

}  // namespace nep
