// A run's records with memory output units, for the tests of the boundary- and
// initial-condition readers.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "driver/run.h"
#include "driver/stop.h"

namespace bctest {

struct bcrun {
    std::unique_ptr<nep::records> R = std::make_unique<nep::records>();
    nep::dimensions& dim = R->dim;
    nep::control& ctl = R->ctl;
    nep::iofiles& io = R->io;
    nep::mesh& msh = R->msh;
    nep::bcdata& bc = R->bc;
    nep::soil& sl = R->sl;
    nep::flowstate& fs = R->fs;

    bcrun() {
        io.out(6).open_memory();
        io.STDOUT.open_memory();
    }
    // Mesh sizes: NNOD surface nodes on NSTR + 1 node layers.
    void mesh_sizes(int nnod, int nstr) {
        dim.NNOD = nnod;
        dim.NSTR = nstr;
        dim.N = nnod * (nstr + 1);
    }
    void input(int unit, const std::string& text, const std::string& role, const std::string& name) {
        io.in(unit).open_text(text, role, name);
    }
    std::string listing() const { return R->io.OUT[6].str(); }
    std::string stdout_text() const { return R->io.STDOUT.str(); }
};

// Runs f; returns the status of the stop it ended with, or -1 when it returned normally.
inline int stop_status(const std::function<void()>& f) {
    try {
        f();
    } catch (const nep::run_stop& s) {
        return s.status;
    }
    return -1;
}

}  // namespace bctest
