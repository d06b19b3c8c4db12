#include "bc/prescribed.h"

#include <string>

#include "base/format.h"
#include "base/stop.h"
#include "records/inputerr.h"

namespace nep {

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
        if (echo) {
            wfmt(lst, "(/,5X,'NEUMANN NODES IN 3-D MESH FOR FLOW EQUATION')");
            wfmt(lst, "(1X,10I7)", fitem::ints(bc.NEUNOD.data(), nq));
        }
    }
}

}  // namespace nep
