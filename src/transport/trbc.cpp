#include "transport/trbc.h"

#include <string>
#include <vector>

#include "base/format.h"
#include "base/stop.h"
#include "records/inputerr.h"

namespace nep {

namespace {

constexpr int kTransportBcUnit = 18;

// Reads one statement of n concentrations (or fluxes) into v[0..n-1].
void read_reals(freader& fr, double* v, long n) {
    fr.begin();
    for (long i = 0; i < n; ++i) fr.get(v[i]);
    fr.finish();
}

// The Dirichlet echo: triples (entry, node, value) for entries first..last.
void write_dirichlet(ounit& u, const arr1<int>& node, const arr1<double>& val, long first,
                     long last) {
    wfmt(u, "(/,1X,3('    #  NODE  DIRICH VALUE'))");
    std::vector<fitem> items;
    items.reserve(3 * (std::size_t)(last - first + 1));
    for (long k = first; k <= last; ++k) {
        items.emplace_back((int)k);
        items.emplace_back(node(k));
        items.emplace_back(val(k));
    }
    write_fmt(u, "((1X,3(I5,I6,1X,1PE13.5)))", items.data(), items.size());
}

// The position of the diagonal entry of row i in the compressed rows, 0 when the row has none.
long diagonal(const arr1<int>& IAC, const arr1<int>& JAC, int i) {
    for (long j = IAC(i); j < IAC(i + 1); ++j)
        if (JAC(j) == i) return j;
    return 0;
}

[[noreturn]] void no_diagonal(int i) {
    input_error("internal error: row " + std::to_string(i) +
                " of the transport matrix pattern has no diagonal entry");
}

}  // namespace

void read_transp_bc(dimensions& dim, const control& ctl, iofiles& io, transport& tra) {
    freader& fr = io.in(kTransportBcUnit);
    ounit& lst = io.out(6);
    const bool echo = io.IPRT1 > 0;
    long line = 0, bad = 0;

    int np2c = 0;
    line = read_count(fr, np2c);
    check_count(io, fr, line, "NP2C", np2c, tra.DIR2DC.size());
    dim.NP2C = np2c;
    if (echo) wfmt(lst, "(/,5X,'NP2C (# OF DIR NODES; 2-D MESH, TRNS EQ)= ',I6)", np2c);
    if (np2c != 0) {
        // A surface node replicated down the verticals must be one of the NNOD surface nodes.
        bad = read_nodes(fr, tra.DIR2DC.data(), np2c, 1, dim.NNOD, line, "NP2C");
        if (bad != 0) {
            const int v = tra.DIR2DC(bad);
            const std::string what = node_outside(bad, "NP2C", v, "1..NNOD", dim.NNOD);
            if (v > dim.NNOD) {
                wfree(io.STDOUT,
                      ctl.DIALECT == dialect::ALT ? " error in transport boundary conditions file:"
                                                  : " ERROR in transport boundary conditions file:",
                      " a node value to be replicated is greater than",
                      " the number (NNOD) of surface nodes!");
                input_error(bc_detail(fr, line, what));
            }
            bc_stop(io, {bc_where(fr, line, what)});
        }
        if (echo) {
            wfmt(lst, "(/,5X,'DIRICHLET NODES IN 2-D MESH FOR TRANSPORT EQUATION')");
            wfmt(lst, "(1X,10I7)", fitem::ints(tra.DIR2DC.data(), np2c));
        }
        read_reals(fr, tra.DIRVALC.data(), np2c);
        if (echo) write_dirichlet(lst, tra.DIR2DC, tra.DIRVALC, 1, np2c);
    }

    int npfc = 0;
    line = read_count(fr, npfc);
    const long fixed0 = (long)(dim.NSTR + 1) * np2c;  // fixed nodes follow the replicated ones
    check_count(io, fr, line, "NPFC", npfc, tra.DIRNODC.size() - fixed0);
    dim.NPFC = npfc;
    if (echo) wfmt(lst, "(/,5X,'NPFC (# OF FIXED DIR NODES; TRNSPORT EQ)= ',I6)", npfc);
    if (npfc != 0) {
        int* fixed = tra.DIRNODC.data() + fixed0;
        read_node_list(io, fr, fixed, npfc, dim.N, "NPFC", line);
        read_reals(fr, tra.DIRVALC.data() + fixed0, npfc);
        if (echo) write_dirichlet(lst, tra.DIRNODC, tra.DIRVALC, fixed0 + 1, fixed0 + npfc);
    }

    dim.NPC = (int)(fixed0 + npfc);
    wfmt(lst, "(/,5X,'NPC  (TOT # OF DIRICH NODES; TRNSPT EQ) = ',I6)", dim.NPC);

    int nmc = 0;
    line = read_count(fr, nmc);
    check_count(io, fr, line, "NMC", nmc, tra.CAUNOD.size());
    dim.NMC = nmc;
    if (echo) wfmt(lst, "(/,5X,'NMC  (# OF CAUCHY NODES; TRANSPORT EQ.) = ',I6)", nmc);
    if (nmc != 0) {
        read_node_list(io, fr, tra.CAUNOD.data(), nmc, dim.N, "NMC", line);
        if (echo) {
            wfmt(lst, "(/,5X,'CAUCHY NODES IN 3-D MESH FOR TRANSPORT EQUATION')");
            wfmt(lst, "(1X,10I7)", fitem::ints(tra.CAUNOD.data(), nmc));
        }
        read_reals(fr, tra.CAUTOT.data(), nmc);
        read_reals(fr, tra.CAUADV.data(), nmc);
        if (echo) {
            wfmt(lst, "(/,1X,2('    #  NODE  TOTAL CAUCHY  ADVECT. PART'))");
            std::vector<fitem> items;
            items.reserve(4 * (std::size_t)nmc);
            for (int j = 1; j <= nmc; ++j) {
                items.emplace_back(j);
                items.emplace_back(tra.CAUNOD(j));
                items.emplace_back(tra.CAUTOT(j));
                items.emplace_back(tra.CAUADV(j));
            }
            write_fmt(lst, "((1X,2(I5,I6,1X,1PE13.5,1X,1PE13.5)))", items.data(), items.size());
        }
    }
}

void bctrn(int N, int NSTEP, int NMC, const arr1<int>& CAUNOD, const arr1<int>& IAC,
           const arr1<int>& JAC, arr1<double>& RHS, arr1<double>& RHSSAV,
           const arr1<double>& CAUTOT, const arr1<double>& CAUADV, arr1<double>& A) {
    // The right-hand side before the boundary conditions feeds the boundary fluxes.
    for (int i = 1; i <= N; ++i) RHSSAV(i) = RHS(i);

    // Cauchy nodes (node 0: a node of the deck this process does not hold): half weight in the first step. All right-hand sides first, then the diagonals.
    const double w = NSTEP == 1 ? 0.5 : 1.0;
    for (int j = 1; j <= NMC; ++j) {
        if (CAUNOD(j) != 0) RHS(CAUNOD(j)) += w * CAUTOT(j);
    }
    for (int j = 1; j <= NMC; ++j) {
        const int i = CAUNOD(j);
        if (i == 0) continue;
        const long d = diagonal(IAC, JAC, i);
        if (d == 0) no_diagonal(i);
        A(d) += w * CAUADV(j);
    }
}

}  // namespace nep
