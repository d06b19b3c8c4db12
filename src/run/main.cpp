#include <cstdio>
#include <memory>
#include <new>

#include "base/stop.h"
#include "run/driver.h"
#include "run/fileset.h"
#include "run/run.h"
#include "run/storage.h"

namespace nep {

int run_program(dialect d, const char* progname) {
    auto R = std::make_unique<records>();
    R->ctl.DIALECT = d;
    R->io.PROGNAME = progname;
    int status = EXIT_DONE;
    std::string message;
    try {
        openio(R->ctl, R->io);
        read_dim(R->dim, R->ctl, R->io);
        allocate(R->dim, R->ctl, R->io, R->msh, R->bc, R->tra, R->sl, R->sp, R->fs);
        status = nepora3d(*R);
        closio(R->io);
        deallocate(R->dim, R->ctl, R->io, R->msh, R->bc, R->tra, R->sl, R->sp, R->fs);
    } catch (const run_stop& s) {
        status = s.status;
        message = s.message;
    } catch (const std::bad_alloc&) {
        status = EXIT_ERROR;
        message = "not enough memory for the arrays of this problem";
    }
    // Whatever ended the run, every file keeps what was written to it.
    closio(R->io);
    flush_all(R->io);
    if (!message.empty()) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s\n", progname, message.c_str());
    }
    return status;
}

}  // namespace nep
