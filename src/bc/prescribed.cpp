#include "bc/prescribed.h"

#include <algorithm>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/stop.h"
#include "records/inputerr.h"

namespace nep {

namespace {

// A flux prescribed at a node whose head is prescribed never enters the solution (the head
// takes whatever flux holds it), yet the balance would count it as water in or out: such a
// deck is refused, naming the first such node.
void refuse_held_fluxes(iofiles& io, const freader& fr, long line, const dimensions& dim,
                        const bcdata& bc, int ndir, int ndirc) {
    std::vector<int> surface(bc.DIR2D.data(), bc.DIR2D.data() + ndir);
    const int* f = bc.DIRNOD.data() + (long)(dim.NSTR + 1) * ndir;
    std::vector<int> fixed(f, f + ndirc);
    std::sort(surface.begin(), surface.end());
    std::sort(fixed.begin(), fixed.end());
    for (int i = 1; i <= dim.NQ; ++i) {
        const int n = bc.NEUNOD(i);
        // The surface nodes of NDIR hold their heads down their verticals: node L NNOD + s.
        const int s = (n - 1) % dim.NNOD + 1;
        const bool column = (n - 1) / dim.NNOD <= dim.NSTR &&
                            std::binary_search(surface.begin(), surface.end(), s);
        if (column || std::binary_search(fixed.begin(), fixed.end(), n)) {
            bc_stop(io, {bc_where(fr, line, "entry " + std::to_string(i) + " of the NQ list is node " +
                                                 std::to_string(n) + ", whose head is prescribed (" +
                                                 (column ? "NDIR" : "NDIRC") +
                                                 "): a flux there would not enter the solution; "
                                                 "give the node one condition")});
        }
    }
}

}  // namespace

void read_flow_nansfbc(dimensions& dim, iofiles& io, bcdata& bc) {
    freader& fr = io.in(9);
    ounit& lst = io.out(6);
    const bool echo = io.IPRT1 > 0;
    long line = 0, bad = 0;

    fr.read(bc.POTBC);

    int ndir = 0;
    line = read_count(fr, ndir);
    check_count(io, fr, line, "NDIR", ndir, bc.DIR2D.size());
    dim.NDIR = ndir;
    if (echo) wfmt(lst, "(/,5X,'NDIR (# OF DIR NODES; 2-D MESH, FLOW EQ)= ',I6)", ndir);
    if (ndir != 0) {
        // A surface node replicated down the verticals must be one of the NNOD surface nodes.
        bad = read_nodes(fr, bc.DIR2D.data(), ndir, 1, dim.NNOD, line, "NDIR");
        if (bad != 0) {
            const int v = bc.DIR2D(bad);
            const std::string what = node_outside(bad, "NDIR", v, "1..NNOD", dim.NNOD);
            if (v > dim.NNOD) {
                for (ounit* u : {&lst, &io.STDOUT}) {
                    wfree(*u, " ERROR: a node value to be replicated",
                          " is greater than number (NNOD) of surface nodes!");
                }
                input_error(bc_detail(fr, line, what));
            }
            bc_stop(io, {bc_where(fr, line, what)});
        }
        if (echo) {
            wfmt(lst, "(/,5X,'DIRICHLET NODES IN 2-D MESH FOR FLOW EQUATION')");
            wfmt(lst, "(1X,10I7)", fitem::ints(bc.DIR2D.data(), ndir));
        }
    }

    int ndirc = 0;
    line = read_count(fr, ndirc);
    const long fixed0 = (long)(dim.NSTR + 1) * ndir;  // fixed nodes follow the replicated ones
    check_count(io, fr, line, "NDIRC", ndirc, bc.DIRNOD.size() - fixed0);
    dim.NDIRC = ndirc;
    if (echo) wfmt(lst, "(/,5X,'NDIRC(# OF FIXED DIR NODES; FLOW EQ.)   = ',I6)", ndirc);
    if (ndirc != 0) {
        int* fixed = bc.DIRNOD.data() + fixed0;
        read_node_list(io, fr, fixed, ndirc, dim.N, "NDIRC", line);
        if (echo) {
            wfmt(lst, "(/,1X,3('    #  DIRICHLET     NODE'))");
            wfmt(lst, "(1X,10I7)", fitem::ints(fixed, ndirc));
        }
    }

    dim.NP = (int)(fixed0 + ndirc);
    wfmt(lst, "(/,5X,'NP   (TOT # OF DIRICH NODES; FLOW EQ.)  = ',I6)", dim.NP);

    int nq = 0;
    line = read_count(fr, nq);
    check_count(io, fr, line, "NQ", nq, bc.NEUNOD.size());
    dim.NQ = nq;
    if (echo) wfmt(lst, "(/,5X,'NQ   (# OF NEUMANN NODES; FLOW EQ.)     = ',I6)", nq);
    if (nq != 0) {
        read_node_list(io, fr, bc.NEUNOD.data(), nq, dim.N, "NQ", line);
        refuse_held_fluxes(io, fr, line, dim, bc, ndir, ndirc);
        if (echo) {
            wfmt(lst, "(/,5X,'NEUMANN NODES IN 3-D MESH FOR FLOW EQUATION')");
            wfmt(lst, "(1X,10I7)", fitem::ints(bc.NEUNOD.data(), nq));
        }
    }
}

}  // namespace nep
