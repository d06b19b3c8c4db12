#include "bc/seepage.h"

#include <string>
#include <vector>

#include "base/format.h"
#include "records/inputerr.h"

namespace nep {

void read_flow_sfbc(dimensions& dim, iofiles& io, bcdata& bc) {
    freader& fr = io.in(13);
    ounit& lst = io.out(6);
    const bool echo = io.IPRT1 >= 1;

    int nsf = 0;
    long line = read_count(fr, nsf);
    check_count(io, fr, line, "NSF", nsf, bc.NSFNUM.size());
    dim.NSF = nsf;
    if (echo) wfmt(lst, "(/,5X,'NSF   (# OF SEEPAGE FACES)              = ',I6)", nsf);

    // Each face is a row of SFNOD: its nodes, then the end mark, within the NSFNMX columns.
    const long width = bc.SFNOD.n2();
    std::vector<int> row;  // the nodes of one face side by side, for the echo
    row.reserve(width > 0 ? width : 0);
    for (int k = 1; k <= nsf; ++k) {
        int count = 0;
        line = read_count(fr, count);
        const std::string what = "NSFNUM(" + std::to_string(k) + ") = " + std::to_string(count);
        if (count < 0) bc_stop(io, {bc_where(fr, line, what + " is negative")});
        if (count + 1L > width) {
            bc_stop(io, {bc_where(fr, line, what + " exceeds the " + std::to_string(width - 1) +
                                                " nodes per face counted when the problem sizes were read")});
        }
        bc.NSFNUM(k) = count;
        row.clear();
        if (count != 0) {
            fr.begin();
            for (int i = 1; i <= count; ++i) {
                int& node = bc.SFNOD(k, i);
                node = 0;  // a null value leaves no node behind
                fr.get(node);
                if (node < 1 || node > dim.N) {
                    bc_stop(io, {bc_where(fr, fr.line(),
                                          "entry " + std::to_string(i) + " of seepage face " +
                                              std::to_string(k) + " is node " + std::to_string(node) +
                                              ", outside 1..N = " + std::to_string(dim.N))});
                }
                row.push_back(node);
            }
            fr.finish();
        }
        bc.SFNOD(k, count + 1) = -9999;
        if (echo) {
            wfmt(lst, "(  5X,'NUMBER OF NODES ON SEEPAGE FACE ',I6,'  = ',I6)", k, count);
            wfmt(lst, "(  5X,'NODE #''S : ',10I6)", fitem::ints(row.data(), count));
        }
    }
}

}  // namespace nep
