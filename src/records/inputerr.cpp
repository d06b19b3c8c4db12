#include "records/inputerr.h"

#include "base/format.h"
#include "base/stop.h"

namespace nep {

void bc_stop(iofiles& io, std::initializer_list<std::string> lines) {
    for (const auto& l : lines) wfree(io.out(6), l);
    for (const auto& l : lines) wfree(io.STDOUT, l);
    // The line that names the file and line goes to standard error as well, where every input
    // error of a batch run is found.
    static const std::string kTag = " ERROR: ";
    for (const auto& l : lines) {
        if (l.rfind(kTag, 0) == 0) input_error(l.substr(kTag.size()));
    }
    stop_run(EXIT_ERROR);
}

void bc_stop_fixed(iofiles& io, std::initializer_list<std::string> lines,
                   const std::string& detail) {
    for (const auto& l : lines) wfree(io.out(6), l);
    for (const auto& l : lines) wfree(io.STDOUT, l);
    input_error(detail);
}

std::string bc_detail(const freader& fr, long line, const std::string& what) {
    return fr.role() + " '" + fr.name() + "' line " + std::to_string(line) + ": " + what;
}

std::string bc_where(const freader& fr, long line, const std::string& what) {
    return " ERROR: " + fr.role() + " '" + fr.name() + "' line " + std::to_string(line) + ": " + what;
}

long read_count(freader& fr, int& count) {
    fr.begin();
    fr.get(count);
    const long line = fr.line();
    fr.finish();
    return line;
}

void check_count(iofiles& io, const freader& fr, long line, const char* name, long count,
                 long sized) {
    const std::string what = std::string(name) + " = " + std::to_string(count);
    if (count < 0) bc_stop(io, {bc_where(fr, line, what + " is negative")});
    if (count != sized) {
        bc_stop(io, {bc_where(fr, line, what + " differs from the " + std::to_string(sized) +
                                            " counted when the problem sizes were read")});
    }
}

std::string node_outside(long entry, const char* list, int node, const char* range, int limit) {
    return "entry " + std::to_string(entry) + " of the " + list + " list is node " +
           std::to_string(node) + ", outside " + range + " = " + std::to_string(limit);
}

void read_node_list(iofiles& io, freader& fr, int* v, long n, int N, const char* list,
                    long count_line) {
    long line = count_line;
    const long bad = read_nodes(fr, v, n, 1, N, line, list);
    if (bad != 0) bc_stop(io, {bc_where(fr, line, node_outside(bad, list, v[bad - 1], "1..N", N))});
}

long read_nodes(freader& fr, int* v, long n, int lo, int hi, long& bad_line, const char* list) {
    if (list != nullptr) fr.expect_list(std::string(list) + " = " + std::to_string(n), bad_line);
    fr.begin();
    for (long i = 0; i < n; ++i) {
        fr.get(v[i]);
        if (v[i] < lo || v[i] > hi) {
            bad_line = fr.line();
            return i + 1;
        }
    }
    fr.finish();
    return 0;
}

}  // namespace nep
