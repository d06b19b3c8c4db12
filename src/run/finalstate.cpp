#include "run/finalstate.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
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
    // Process 0 reads the table a block of rows at a time and hands each to every process, which
    // checks and keeps the rows of the nodes it holds. The first fault in the table's order is
    // the one reported, as on one process: a row that cannot be read (found by process 0), or a
    // node that lies elsewhere in this deck (found by the process that owns it; process 0 says
    // so).
    std::string path = io.INITFROM;
    {
        std::ifstream probe(path + "/" + kFinalStatePath);
        if (probe) path += std::string("/") + kFinalStatePath;
    }
    const long nnod = msh.deck_surface(dim.NNOD);
    const long n = nnod * (dim.NSTR + 1);
    std::ifstream in;
    std::string line;
    long ln = 0, rows = 0;
    // Process 0: the next row (node, x, y, z, pressure head) and its line; false at the end.
    auto next_row = [&](double* v, long& at) {
        while (std::getline(in, line)) {
            ++ln;
            if (line.empty()) continue;
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
            at = ln;
            return true;
        }
        return false;
    };
    auto count_fault = [&] {
        bad(path, ln,
            "it holds " + std::to_string(rows) + " nodes where this deck has " + std::to_string(n) +
                " (" + std::to_string(nnod) + " surface nodes, " + std::to_string(dim.NSTR) +
                " layers): it is the state of another mesh");
    };
    together([&] {
        if (!proc_writes()) return;
        in.open(path);
        if (!in) {
            bad(path, 0, std::string("cannot be read (") + std::strerror(errno) +
                             "): --initial-from takes the directory of a run that wrote its csv/ tables "
                             "(not one with --no-extra-output) or the file itself");
        }
        if (!std::getline(in, line) || (++ln, line != kHeader)) {
            bad(path, 1, "the header is '" + line + "', not '" + kHeader + "'");
        }
    });
    constexpr int w = 5;  // a row: its line, x, y, z, pressure head
    std::vector<double> b;
    for (long lo = 1; lo <= n; lo += kBlockEntries) {
        const long hi = std::min(n, lo + kBlockEntries - 1);
        b.assign((std::size_t)(w * (hi - lo + 1) + 1), 0.0);
        // The rows read before a fault of process 0's, which is reported once the rows before it
        // are checked.
        std::exception_ptr fault;
        together([&] {
            if (!proc_writes()) return;
            long got = 0;
            try {
                double v[5];
                long at = 0;
                for (long r = lo; r <= hi; ++r, ++got) {
                    if (!next_row(v, at)) count_fault();
                    double* o = &b[(std::size_t)(w * (r - lo) + 1)];
                    o[0] = (double)at;
                    for (int c = 1; c < 5; ++c) o[c] = v[c];
                }
            } catch (const run_stop&) {
                fault = std::current_exception();
            }
            b[0] = (double)got;
        });
        proc_share(b.data(), (long)b.size());
        const long got = (long)b[0];
        double first = HUGE_VAL;
        for (long r = lo; r < lo + got; ++r) {
            const long i = msh.held_node(r);
            if (i == 0) continue;
            const double* o = &b[(std::size_t)(w * (r - lo) + 1)];
            const double here[3] = {msh.X(i), msh.Y(i), msh.Z(i)};
            bool same = true;
            for (int c = 0; c < 3; ++c) {
                same = same && std::fabs(o[c + 1] - here[c]) <= 1.0e-6 * std::max(1.0, std::fabs(here[c]));
            }
            if (!same && msh.own(i)) {
                first = (double)r;
                break;
            }
            fs.PSAVE(i) = o[4];
            fs.PNEW(i) = o[4];
            fs.HPOTP(i) = o[4] + msh.Z(i);
            fs.HPOT(i) = fs.HPOTP(i);
        }
        // The first node that lies elsewhere, and where this deck has it (its owner's), reported
        // by process 0 as one process reports it.
        if (msh.cut()) first = proc_min(first);
        double at[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
        if (first != HUGE_VAL) {
            const long i = msh.held_node((long)first);
            if (i != 0 && msh.own(i)) at[0] = msh.X(i), at[1] = msh.Y(i), at[2] = msh.Z(i);
            if (msh.cut()) proc_max(at, 3);
        }
        together([&] {
            if (first != HUGE_VAL && proc_writes()) {
                const long r = (long)first;
                const double* o = &b[(std::size_t)(w * (r - lo) + 1)];
                bad(path, (long)o[0],
                    "node " + std::to_string(r) + " lies at (" + text(o[1]) + ", " + text(o[2]) + ", " +
                        text(o[3]) + ") where this deck has it at (" + text(at[0]) + ", " + text(at[1]) +
                        ", " + text(at[2]) + "): it is the state of another mesh");
            }
            if (fault) std::rethrow_exception(fault);
        });
    }
    together([&] {
        if (!proc_writes()) return;
        double v[5];
        long at = 0;
        if (next_row(v, at) || rows != n) count_fault();
        wfmt(io.out(6), "(/,5X,'INITIAL PRESSURE HEADS FROM ',A)", path);
    });
}

}  // namespace nep
