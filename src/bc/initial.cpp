#include "bc/initial.h"

#include <string>
#include <vector>

#include "base/format.h"
#include "mesh/blocks.h"
#include "records/inputerr.h"

namespace nep {

namespace {

// Writes a heading and the pairs (node, value) for nodes 1..n through a format whose last group
// holds four pairs; format reversion breaks the lines.
void write_pairs(ounit& u, std::string_view fmt, const arr1<double>& v, long n) {
    std::vector<fitem> items;
    items.reserve(2 * (std::size_t)n);
    for (long i = 1; i <= n; ++i) {
        items.emplace_back((int)i);
        items.emplace_back(v(i));
    }
    write_fmt(u, fmt, items.data(), items.size());
}

// One uniform value, or n values in one read statement. With `held` the n values are the deck's
// nodes', read one after the other, and v keeps those of the nodes held (its numbering); `whole`
// (the listing echoes them) gets every one of them as well.
void read_values(freader& fr, arr1<double>& v, long n, bool uniform, const mesh* held = nullptr,
                 arr1<double>* whole = nullptr) {
    if (uniform) {
        fr.read(v(1));
        for (long i = 2; i <= v.size(); ++i) v(i) = v(1);
        if (whole != nullptr) {
            whole->alloc((std::size_t)n);
            whole->fill(v(1));
        }
    } else if (held == nullptr) {
        fr.begin();
        for (long i = 1; i <= n; ++i) fr.get(v(i));
        fr.finish();
    } else {
        if (whole != nullptr) whole->alloc((std::size_t)n);
        fr.begin();
        double x = 0.0;
        for (long i = 1; i <= n; ++i) {
            fr.get(x);
            if (whole != nullptr) (*whole)(i) = x;
            const int h = held->held_node(i);
            if (h != 0) v(h) = x;
        }
        fr.finish();
    }
}

}  // namespace

void read_flow_ic(const dimensions& dim, const control& ctl, iofiles& io, flowstate& fs, const mesh* held) {
    freader& fr = io.in(15);
    ounit& lst = io.out(6);
    const long n = dim.N;

    fr.read(fs.POTINP);
    const long line = read_count(fr, fs.INDP);
    arr1<double>& held_v = fs.POTINP ? fs.HPOTP : fs.PSAVE;
    // The echo of the listing lists every node's value: with the nodes held alone, a whole copy
    // for it while it is written.
    arr1<double> whole;
    const bool echo = held != nullptr && io.IPRT1 >= 1 && (fs.INDP == 0 || fs.INDP == 1);
    const arr1<double>& v = echo ? whole : held_v;

    switch (fs.INDP) {
    case 0:
        read_values(fr, held_v, n, true, held, echo ? &whole : nullptr);
        if (io.IPRT1 >= 1) {
            if (fs.POTINP) {
                wfmt(lst, "(/,5X,'INITIAL POTENTIAL HEAD (UNIFORM)        = ',1PE15.5)", v(1));
            } else {
                wfmt(lst, "(/,5X,'INITIAL PRESSURE HEAD (UNIFORM)        = ',1PE15.5)", v(1));
            }
        }
        break;
    case 1:
        read_values(fr, held_v, n, false, held, echo ? &whole : nullptr);
        break;
    case 2:
        // The heads are built by icvhe during the initialisation.
        if (ctl.DIALECT == dialect::ALT) {
            if (fs.POTINP) wfree(lst, " hydrostatic IC's for flow ");
            wfree(io.STDOUT, " hydrostatic IC's for flow ");
        } else if (fs.POTINP) {
            wfree(lst, " ---HYDROSTATIC IC's FOR FLOW--- ");
            wfree(io.STDOUT, " ---HYDROSTATIC IC's FOR FLOW--- ");
        } else {
            wfree(io.STDOUT, " ---hydrostatic IC's for flow--- ");
        }
        return;
    default:
        bc_stop_fixed(io, {" ERROR: bad INDP value file = flow-ic"},
                      bc_detail(fr, line, "INDP = " + std::to_string(fs.INDP) + ", expected 0, 1 or 2"));
    }

    if (io.IPRT1 >= 1) {
        if (fs.POTINP) {
            write_pairs(lst, "(/,1X,' INITIAL POTENTIAL HEADS',/,(4(I6,2X,1PE11.3)))", v, n);
        } else {
            write_pairs(lst, "(/,1X,' INITIAL PRESSURE HEADS',/,(4(I6,2X,1PE11.3)))", v, n);
        }
    }
}

void read_transp_ic(const dimensions& dim, iofiles& io, flowstate& fs, const mesh* held) {
    freader& fr = io.in(16);
    ounit& lst = io.out(6);
    const long n = dim.N;

    fr.read(fs.INDC);
    // Every value other than 0 means one concentration per node.
    arr1<double> whole;
    const bool echo = held != nullptr && io.IPRT1 >= 1 && fs.INDC != 0;
    read_values(fr, fs.CSAVE, n, fs.INDC == 0, held, echo ? &whole : nullptr);
    if (io.IPRT1 >= 1) {
        if (fs.INDC == 0) {
            wfmt(lst, "(/,5X,'INITIAL CONCENTRATION (UNIFORM)         = ',1PE15.5)", fs.CSAVE(1));
        } else {
            write_pairs(lst, "(/,1X,' INITIAL CONCENTRATIONS',/,(4(I6,2X,1PE11.3)))", echo ? whole : fs.CSAVE, n);
        }
    }
}

void flowinit(const dimensions& dim, control& ctl, iofiles& io, const mesh& msh, soil& sl,
              flowstate& fs, const deck_nodes* dn) {
    ctl.NSTEP = 1;
    ctl.ITER = 1;
    io.KPRT = 1;
    ctl.ITUNS = 0;
    ctl.ITLIN = 0;
    ctl.ITLINS = 0;
    ctl.NLSFAIL = 0;

    // Accumulated over the tetrahedra around each node by the element geometry.
    sl.SNODI.fill(0.0);
    sl.PORNOD.fill(0.0);

    const long n = dim.N;
    if (fs.INDP == 2) {
        icvhe(dim, io, msh, fs, dn);
        for (long i = 1; i <= n; ++i) {
            fs.PNEW(i) = fs.PSAVE(i);
            fs.HPOTP(i) = fs.PSAVE(i) + msh.Z(i);
            fs.HPOT(i) = fs.HPOTP(i);
        }
    } else if (fs.POTINP) {
        for (long i = 1; i <= n; ++i) {
            fs.HPOT(i) = fs.HPOTP(i);
            fs.PSAVE(i) = fs.HPOTP(i) - msh.Z(i);
            fs.PNEW(i) = fs.PSAVE(i);
        }
    } else {
        for (long i = 1; i <= n; ++i) {
            fs.PNEW(i) = fs.PSAVE(i);
            fs.HPOTP(i) = fs.PSAVE(i) + msh.Z(i);
            fs.HPOT(i) = fs.HPOTP(i);
        }
    }
}

void icvhe(const dimensions& dim, iofiles& io, const mesh& msh, flowstate& fs, const deck_nodes* dn) {
    const long nnod = dim.NNOD;
    // The water table lies at the ground surface: the pressure head is the depth below the
    // surface node of the same column.
    for (long i = 1; i <= nnod; ++i) {
        for (long j = 0; j <= dim.NSTR; ++j) {
            const long k = i + nnod * j;
            fs.PSAVE(k) = msh.Z(i) - msh.Z(k);
        }
    }
    if (io.IPRT1 > 0) {
        // One statement: its head, then the pairs four to a line, a block of the deck's nodes
        // at a time (the format reverts to the group of the pairs).
        const char* fmt = "(/,1X,' PRESUURE HEADS INITIAL CONDITION',/,(4(I6,2X,1PE11.3)))";
        const char* more = "(4(I6,2X,1PE11.3))";
        deck_block b(dn, msh, false, {fs.PSAVE});
        std::vector<fitem> items;
        block_loop(b, 1, deck_dim(dn, dim).N, [&](long lo, long hi) {
            items.clear();
            for (long k = lo; k <= hi; ++k) {
                items.emplace_back((int)k);
                items.emplace_back(b.at(0, k));
            }
            write_fmt(io.out(6), lo == 1 ? fmt : more, items.data(), items.size());
        });
    }
}

}  // namespace nep
