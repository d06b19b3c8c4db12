#include "bc/initial.h"

#include <algorithm>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/procs.h"
#include "mesh/blocks.h"
#include "records/inputerr.h"

namespace nep {

namespace {

// The listing's echo of n nodal values: a heading, then the pairs (node, value) four to a line,
// written a block at a time (the block a whole number of lines, so that the lines break as in one
// statement). value(lo, hi, out) gives the values of nodes lo..hi.
template <class F>
void echo_pairs(ounit& u, const char* head, long n, F&& value) {
    std::vector<fitem> items;
    std::vector<double> v;
    for (long lo = 1; lo <= n; lo += kBlockEntries) {
        const long hi = std::min(n, lo + kBlockEntries - 1);
        v.resize((std::size_t)(hi - lo + 1));
        value(lo, hi, v.data());
        items.clear();
        for (long i = lo; i <= hi; ++i) {
            items.emplace_back((int)i);
            items.emplace_back(v[(std::size_t)(i - lo)]);
        }
        write_fmt(u, lo == 1 ? head : "(4(I6,2X,1PE11.3))", items.data(), items.size());
    }
    if (n <= 0) write_fmt(u, head, items.data(), 0);
}

// The values of a per-node input. On several processes process 0 alone reads the file (the others
// do not load it: read_by_writer, run/fileset.h): it reads the n values of one statement a block
// at a time and hands each block to every process, which keeps those of the nodes it holds
// (`held`, in its numbering; every node with held null). A stop in the reading stops every
// process.
class node_input {
public:
    node_input(freader& fr, const mesh* held) : fr_(fr), held_(held) {}

    // The header statement(s): read() on process 0 (the caller hands on what it read).
    template <class F>
    void header(F&& read) {
        together([&] {
            if (proc_writes()) read();
        });
    }

    // One value for every node.
    void uniform(arr1<double>& v) {
        together([&] {
            if (proc_writes()) fr_.read(v(1));
        });
        proc_share(&v(1), 1);
        for (long i = 2; i <= v.size(); ++i) v(i) = v(1);
    }

    // n values, one a node of the deck.
    void nodal(arr1<double>& v, long n) {
        start_ = fr_.offset();
        line_ = fr_.line();
        std::vector<double> b;
        for (long lo = 1; lo <= n; lo += kBlockEntries) {
            const long hi = std::min(n, lo + kBlockEntries - 1);
            b.resize((std::size_t)(hi - lo + 1));
            together([&] {
                if (proc_writes()) read_block(lo, hi, n, b.data());
            });
            proc_share(b.data(), (long)b.size());
            for (long i = lo; i <= hi; ++i) {
                const long h = held_ == nullptr ? i : held_->held_node(i);
                if (h != 0) v(h) = b[(std::size_t)(i - lo)];
            }
        }
    }

    // Process 0, after nodal: the listing's echo of the values, read again from the file when
    // this process does not hold every node.
    void echo(ounit& u, const char* head, const arr1<double>& v, long n) {
        if (held_ == nullptr) {
            echo_pairs(u, head, n, [&](long lo, long hi, double* out) {
                for (long i = lo; i <= hi; ++i) out[i - lo] = v(i);
            });
            return;
        }
        if (!fr_.seek(start_, line_)) fr_.fail("the values cannot be read again for the listing");
        echo_pairs(u, head, n, [&](long lo, long hi, double* out) { read_block(lo, hi, n, out); });
    }

private:
    void read_block(long lo, long hi, long n, double* out) {
        // Values that a slash leaves unread are 0, as in the arrays before they are read.
        std::fill(out, out + (hi - lo + 1), 0.0);
        if (lo == 1) fr_.begin();
        for (long i = lo; i <= hi; ++i) fr_.get(out[i - lo]);
        if (hi == n) fr_.finish();
    }

    freader& fr_;
    const mesh* held_;
    std::size_t start_ = 0;
    long line_ = 1;
};

}  // namespace

void read_flow_ic(const dimensions& dim, const control& ctl, iofiles& io, flowstate& fs, const mesh* held) {
    freader& fr = io.in(15);
    ounit& lst = io.out(6);
    const long n = dim.N;
    node_input in(fr, held);

    in.header([&] {
        fr.read(fs.POTINP);
        const long line = read_count(fr, fs.INDP);
        if (fs.INDP < 0 || fs.INDP > 2) {
            bc_stop_fixed(io, {" ERROR: bad INDP value file = flow-ic"},
                          bc_detail(fr, line, "INDP = " + std::to_string(fs.INDP) + ", expected 0, 1 or 2"));
        }
    });
    fs.POTINP = proc_root(fs.POTINP ? 1 : 0) != 0;
    fs.INDP = proc_root(fs.INDP);
    arr1<double>& v = fs.POTINP ? fs.HPOTP : fs.PSAVE;

    switch (fs.INDP) {
    case 0:
        in.uniform(v);
        together([&] {
            if (io.IPRT1 < 1) return;
            if (fs.POTINP) {
                wfmt(lst, "(/,5X,'INITIAL POTENTIAL HEAD (UNIFORM)        = ',1PE15.5)", v(1));
            } else {
                wfmt(lst, "(/,5X,'INITIAL PRESSURE HEAD (UNIFORM)        = ',1PE15.5)", v(1));
            }
            const double u = v(1);
            echo_pairs(lst, fs.POTINP ? "(/,1X,' INITIAL POTENTIAL HEADS',/,(4(I6,2X,1PE11.3)))"
                                      : "(/,1X,' INITIAL PRESSURE HEADS',/,(4(I6,2X,1PE11.3)))",
                       n, [&](long lo, long hi, double* out) { std::fill(out, out + (hi - lo + 1), u); });
        });
        break;
    case 1:
        in.nodal(v, n);
        together([&] {
            if (io.IPRT1 >= 1 && proc_writes()) {
                in.echo(lst, fs.POTINP ? "(/,1X,' INITIAL POTENTIAL HEADS',/,(4(I6,2X,1PE11.3)))"
                                       : "(/,1X,' INITIAL PRESSURE HEADS',/,(4(I6,2X,1PE11.3)))",
                        v, n);
            }
        });
        break;
    default:
        // The heads are built by icvhe during the initialisation.
        together([&] {
            if (ctl.DIALECT == dialect::ALT) {
                if (fs.POTINP) wfree(lst, " hydrostatic IC's for flow ");
                wfree(io.STDOUT, " hydrostatic IC's for flow ");
            } else if (fs.POTINP) {
                wfree(lst, " ---HYDROSTATIC IC's FOR FLOW--- ");
                wfree(io.STDOUT, " ---HYDROSTATIC IC's FOR FLOW--- ");
            } else {
                wfree(io.STDOUT, " ---hydrostatic IC's for flow--- ");
            }
        });
    }
    fr.release();  // its text is not needed again
}

void read_transp_ic(const dimensions& dim, iofiles& io, flowstate& fs, const mesh* held) {
    freader& fr = io.in(16);
    ounit& lst = io.out(6);
    const long n = dim.N;
    node_input in(fr, held);
    in.header([&] { fr.read(fs.INDC); });
    fs.INDC = proc_root(fs.INDC);
    // Every value other than 0 means one concentration per node.
    const char* head = "(/,1X,' INITIAL CONCENTRATIONS',/,(4(I6,2X,1PE11.3)))";
    if (fs.INDC == 0) {
        in.uniform(fs.CSAVE);
        together([&] {
            if (io.IPRT1 >= 1) wfmt(lst, "(/,5X,'INITIAL CONCENTRATION (UNIFORM)         = ',1PE15.5)", fs.CSAVE(1));
        });
    } else {
        in.nodal(fs.CSAVE, n);
        together([&] {
            if (io.IPRT1 >= 1 && proc_writes()) in.echo(lst, head, fs.CSAVE, n);
        });
    }
    fr.release();
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
