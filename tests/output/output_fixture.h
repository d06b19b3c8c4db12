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

#include "run_fixture.h"

namespace outtest {

using outrun = fixture::memrun;
using fixture::stop_message;

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
