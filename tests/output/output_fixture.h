// The records of a run with memory output units, and the expectation files of the output tests
// (lines printed once by gfortran through ../shared/tools/fortran-format, "@@ name" before each).
#pragma once

#include <fstream>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "driver/run.h"
#include "driver/stop.h"

namespace outtest {

struct outrun {
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

    // Every output unit of the file set (and standard output) keeps its text in memory.
    outrun() {
        for (int u : nep::kOutputUnits) io.out(u).open_memory();
        io.out(nep::kTermUnit).open_memory();
        io.STDOUT.open_memory();
        io.NAMES[5] = "parm";
    }
    const std::string& text(int unit) const { return R->io.OUT[unit].str(); }
    void clear(int unit) { io.out(unit).clear(); }
};

// Runs f; the message of the stop it ended with, or "(no stop)".
inline std::string stop_message(const std::function<void()>& f) {
    try {
        f();
    } catch (const nep::run_stop& s) {
        return s.message.empty() ? "(stop " + std::to_string(s.status) + ")" : s.message;
    }
    return "(no stop)";
}

// The cases of an expectation file by name.
inline std::map<std::string, std::string> load_expected(const std::string& file) {
    std::ifstream in(std::string(NEPORA_SOURCE_DIR) + "/tests/output/" + file, std::ios::binary);
    std::map<std::string, std::string> cases;
    std::string line, name;
    while (std::getline(in, line)) {
        if (line.rfind("@@ ", 0) == 0) {
            name = line.substr(3);
            cases[name];
        } else if (!name.empty()) {
            cases[name] += line + "\n";
        }
    }
    return cases;
}

// The concatenation of the named cases (missing names are reported by an impossible text).
inline std::string cat(const std::map<std::string, std::string>& cases,
                       std::initializer_list<const char*> names) {
    std::string s;
    for (const char* n : names) {
        auto it = cases.find(n);
        s += it == cases.end() ? std::string("<missing case ") + n + ">\n" : it->second;
    }
    return s;
}

}  // namespace outtest
