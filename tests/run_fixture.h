// The eleven records of a run whose output units (the listing, every result file, the terminal
// log and standard output) keep their text in memory, for tests that call routines directly.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/stop.h"
#include "run/run.h"

namespace fixture {

struct memrun {
    std::unique_ptr<nep::records> R = std::make_unique<nep::records>();
    nep::dimensions& dim = R->dim;
    nep::control& ctl = R->ctl;
    nep::iofiles& io = R->io;
    nep::mesh& msh = R->msh;
    nep::bcdata& bc = R->bc;
    nep::soil& sl = R->sl;
    nep::sparse& sp = R->sp;
    nep::flowstate& fs = R->fs;
    nep::massbal& mb = R->mb;
    nep::cpustat& cpu = R->cpu;

    memrun() {
        for (int u : nep::kOutputUnits) io.out(u).open_memory();
        io.out(nep::kTermUnit).open_memory();
        io.STDOUT.open_memory();
        io.NAMES[5] = "parm";
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
    const std::string& text(int unit) const { return R->io.OUT[unit].str(); }
    void clear(int unit) { io.out(unit).clear(); }
    std::string listing() const { return R->io.OUT[6].str(); }
    std::string stdout_text() const { return R->io.STDOUT.str(); }
};

// Runs f; the status of the stop it ended with, or -1 when it returned normally.
inline int stop_status(const std::function<void()>& f) {
    try {
        f();
    } catch (const nep::run_stop& s) {
        return s.status;
    }
    return -1;
}

// Runs f; the message of the stop it ended with, or "(no stop)".
inline std::string stop_message(const std::function<void()>& f) {
    try {
        f();
    } catch (const nep::run_stop& s) {
        return s.message.empty() ? "(stop " + std::to_string(s.status) + ")" : s.message;
    }
    return "(no stop)";
}

}  // namespace fixture
