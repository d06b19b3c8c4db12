#include "run/finalstate.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/procs.h"
#include "mesh/blocks.h"
#include "base/stop.h"

namespace nep {

namespace {

constexpr const char* kHeader = "node,x,y,z,pressure_head";

// The shortest text of v that reads back to v.
void put(std::string& line, double v) {
    char b[32];
    const auto r = std::to_chars(b, b + sizeof b, v);
    line.append(b, r.ptr);
}

[[noreturn]] void bad(const std::string& path, long line, const std::string& what) {
    input_error("final state '" + path + "'" + (line > 0 ? " line " + std::to_string(line) : "") +
                ": " + what + "; the run does not start");
}

std::string text(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%.10g", v);
    return b;
}

}  // namespace

void write_final_state(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh,
                       const flowstate& fs, const deck_nodes* dn) {
    (void)ctl;
    if (!io.EXTRA.OPEN) return;
    const std::string path = kFinalStatePath, part = path + ".part";
    // Process 0 alone writes; every process of a cut run reads the blocks and goes by its
    // success.
    const bool writer = block_writer();
    std::FILE* f = writer ? std::fopen(part.c_str(), "w") : nullptr;
    bool ok = !writer || f != nullptr;
    int err = ok ? 0 : errno;
    if (cut_run(dn)) ok = proc_root(ok ? 1 : 0) != 0;
    if (ok) {
        std::string out = std::string(kHeader) + "\n";
        std::string line;
        deck_block b(dn, msh, false, {msh.X, msh.Y, msh.Z, fs.PNEW});
        block_loop(b, 1, deck_dim(dn, dim).N, [&](long lo, long hi) {
            for (long i = lo; i <= hi; ++i) {
                line = std::to_string(i);
                for (int k = 0; k < 4; ++k) {
                    line += ',';
                    put(line, b.at(k, i));
                }
                out += line;
                out += '\n';
                if (out.size() > (1u << 20)) {
                    if (ok && std::fwrite(out.data(), 1, out.size(), f) != out.size()) ok = false, err = errno;
                    out.clear();
                }
            }
        });
        if (writer) {
            if (ok && std::fwrite(out.data(), 1, out.size(), f) != out.size()) ok = false, err = errno;
            if (std::fclose(f) != 0 && ok) ok = false, err = errno;
        }
    }
    if (!writer) return;
    if (ok && std::rename(part.c_str(), path.c_str()) != 0) ok = false, err = errno;
    if (!ok) {
        std::remove(part.c_str());
        input_error("cannot write the final state '" + path + "': " + std::strerror(err ? err : EIO));
    }
}

void initial_from(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh,
                  flowstate& fs) {
    (void)ctl;
    std::string path = io.INITFROM;
    {
        std::ifstream probe(path + "/" + kFinalStatePath);
        if (probe) path += std::string("/") + kFinalStatePath;
    }
    std::ifstream in(path);
    if (!in) {
        bad(path, 0, std::string("cannot be read (") + std::strerror(errno) +
                         "): --initial-from takes the directory of a run that wrote its csv/ tables "
                         "(not one with --no-extra-output) or the file itself");
    }
    const long nnod = msh.deck_surface(dim.NNOD);
    const long n = nnod * (dim.NSTR + 1);
    std::vector<double> head((std::size_t)n + 1, 0.0);
    std::string line;
    long ln = 0, rows = 0;
    if (!std::getline(in, line) || (++ln, line != kHeader)) {
        bad(path, 1, "the header is '" + line + "', not '" + kHeader + "'");
    }
    while (std::getline(in, line)) {
        ++ln;
        if (line.empty()) continue;
        double v[5];
        const char* p = line.c_str();
        int k = 0;
        for (; k < 5; ++k) {
            char* end = nullptr;
            errno = 0;
            v[k] = std::strtod(p, &end);
            if (end == p || !std::isfinite(v[k])) break;
            p = end;
            if (k < 4) {
                if (*p != ',') break;
                ++p;
            }
        }
        if (k < 5 || *p != '\0') {
            bad(path, ln, "expected five numbers (" + std::string(kHeader) + "), found '" + line + "'");
        }
        ++rows;
        if (v[0] != (double)rows) {
            bad(path, ln, "node " + text(v[0]) + " where node " + std::to_string(rows) + " was expected");
        }
        if (rows > n) break;
        head[(std::size_t)rows] = v[4];
        const long i = msh.held_node(rows);
        if (i == 0) continue;
        const double here[3] = {msh.X(i), msh.Y(i), msh.Z(i)};
        for (int c = 0; c < 3; ++c) {
            if (std::fabs(v[c + 1] - here[c]) > 1.0e-6 * std::max(1.0, std::fabs(here[c]))) {
                bad(path, ln,
                    "node " + std::to_string(rows) + " lies at (" + text(v[1]) + ", " + text(v[2]) +
                        ", " + text(v[3]) + ") where this deck has it at (" + text(here[0]) + ", " +
                        text(here[1]) + ", " + text(here[2]) + "): it is the state of another mesh");
            }
        }
    }
    if (rows != n) {
        bad(path, ln,
            "it holds " + std::to_string(rows) + " nodes where this deck has " + std::to_string(n) +
                " (" + std::to_string(nnod) + " surface nodes, " + std::to_string(dim.NSTR) +
                " layers): it is the state of another mesh");
    }
    for (long i = 1; i <= dim.N; ++i) {
        const double p = head[(std::size_t)msh.deck_node(i)];
        fs.PSAVE(i) = p;
        fs.PNEW(i) = p;
        fs.HPOTP(i) = p + msh.Z(i);
        fs.HPOT(i) = fs.HPOTP(i);
    }
    wfmt(io.out(6), "(/,5X,'INITIAL PRESSURE HEADS FROM ',A)", path);
}

}  // namespace nep
