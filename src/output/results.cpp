#include "output/results.h"

#include <algorithm>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/stop.h"
#include "mesh/blocks.h"
#include "output/batch.h"

namespace nep {

namespace {

// Items per batch: a whole number of records for every batched table (2, 3, 8 items per
// record).
constexpr std::size_t kBatch = 240;

const char* const kStepTime = "(I6,1PE12.4,'     NSTEP   TIME')";

std::string parm_name(const iofiles& io) { return "parameter file '" + io.NAMES[5] + "'"; }

void check_isec(const dimensions& dim, const iofiles& io) {
    if (io.ISEC < 0 || io.ISEC > dim.NSTR + 1) {
        input_error(parm_name(io) + ": ISEC = " + std::to_string(io.ISEC) +
                    " is not a horizontal section of the mesh (0 for the whole mesh, 1.." +
                    std::to_string(dim.NSTR + 1) + " for a node layer)");
    }
}

void check_ipout(const iofiles& io, int NR, const arr1<int>& IPOUT, long N) {
    if (NR > IPOUT.size()) {
        input_error(parm_name(io) + ": NR = " + std::to_string(NR) + " but only " +
                    std::to_string(IPOUT.size()) + " partial-output nodes IPOUT were read");
    }
    for (int i = 1; i <= NR; ++i) {
        if (IPOUT(i) < 1 || IPOUT(i) > N) {
            input_error(parm_name(io) + ": IPOUT(" + std::to_string(i) + ") = " +
                        std::to_string(IPOUT(i)) + " is not a node of the mesh (1.." +
                        std::to_string(N) + ")");
        }
    }
}

// The nodes and elements of the detailed output: all of them, or those of section ISEC. The
// element range of the bottom node layer (ISEC = NSTR + 1) lies past the mesh and is clipped to
// NT, which leaves it empty.
struct section {
    long n1, n2;  // nodes n1..n2
    long e1, e2;  // elements e1..e2 (e2 < e1: none)
};

section section_of(const dimensions& dim, int isec) {
    if (isec == 0) return {1, dim.N, 1, dim.NT};
    const long per_layer = dim.NT / dim.NSTR;
    section s;
    s.n1 = (long)(isec - 1) * dim.NNOD + 1;
    s.n2 = (long)isec * dim.NNOD;
    s.e1 = (long)(isec - 1) * per_layer + 1;
    s.e2 = std::min<long>((long)isec * per_layer, dim.NT);
    return s;
}

// A list of n values, five per line.
void write_list(ounit& u, const double* v, long n) {
    if (n <= 0) return;
    wfmt(u, "(5(1PE15.6))", fitem::reals(v, n));
}

// The values of one field at the deck's nodes (or tetrahedra) first..last, five per line, read
// block after block.
void write_list(ounit& u, const deck_nodes* dn, const mesh& msh, bool elements, const arr1<double>& a,
                long first, long last) {
    deck_block b(dn, msh, elements, {a});
    block_loop(b, first, last, [&](long lo, long hi) { write_list(u, b.row(0), hi - lo + 1); });
}

}  // namespace

void detout(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
            const soil& sl, const flowstate& fs, bool current, const deck_nodes* dn) {
    const double t = current ? ctl.TIME : ctl.TIMEP;
    const int s = current ? ctl.NSTEP : 0;
    detprf(dim, ctl, io, msh, bc, sl, fs, t, s, dn);
    if (ctl.ITRANS != 0) detprc(dim, io, msh, fs.CNEW, t, s, dn);
}

void detprf(const dimensions& dim_here, const control& /*ctl*/, iofiles& io, const mesh& msh,
            bcdata& bc, const soil& sl, const flowstate& fs, double t, int s, const deck_nodes* dn) {
    const dimensions& dim = deck_dim(dn, dim_here);
    check_isec(dim, io);
    const int IPRT = io.IPRT, ISEC = io.ISEC;

    if (IPRT > 0) {
        const section sec = section_of(dim, ISEC);
        auto head = [&](ounit& u) {
            if (ISEC == 0) wfmt(u, kStepTime, s, t);
            else wfmt(u, "(I6,1PE12.4,I6,'     NSTEP   TIME    ISEC')", s, t, ISEC);
        };
        // The nodal lists, each in its file, block after block.
        ounit& u35 = io.out(35);
        head(u35);
        std::vector<field_ref> fields{fs.PNEW};
        if (IPRT > 1) {
            head(io.out(36));
            fields.insert(fields.end(), {fs.VXNOD, fs.VYNOD, fs.VZNOD});
        }
        if (IPRT > 2) {
            head(io.out(39));
            fields.push_back(sl.CKRW);
        }
        if (IPRT > 3) {
            ounit& u38 = io.out(38);
            if (ISEC == 0) wfmt(u38, "(1PE16.8,'        TIME')", t);
            else wfmt(u38, "(1PE16.8,I6,'     TIME    ISEC')", t, ISEC);
            fields.push_back(sl.SW);
        }
        deck_block b(dn, msh, false, fields);
        block_loop(b, sec.n1, sec.n2, [&](long lo, long hi) {
            const long n = hi - lo + 1;
            write_list(u35, b.row(0), n);
            if (IPRT > 1) {
                item_batch<kBatch> v(io.out(36), "(3(1PE15.6))");
                const double *x = b.row(1), *y = b.row(2), *z = b.row(3);
                for (long k = 0; k < n; ++k) {
                    v.add(x[k]);
                    v.add(y[k]);
                    v.add(z[k]);
                }
            }
            if (IPRT > 2) write_list(io.out(39), b.row(4), n);
            if (IPRT > 3) write_list(io.out(38), b.row(5), n);
        });
        if (IPRT > 3) {
            ounit& u40 = io.out(40);
            if (ISEC == 0) wfmt(u40, "(1PE16.8,'        TIME')", t);
            write_list(u40, dn, msh, true, fs.VX, sec.e1, sec.e2);
            write_list(u40, dn, msh, true, fs.VY, sec.e1, sec.e2);
            write_list(u40, dn, msh, true, fs.VZ, sec.e1, sec.e2);
        }
    }

    if (dim.NUMVP > 0) {
        ounit& u29 = io.out(29);
        wfmt(u29, kStepTime, s, t);
        for (int k = 1; k <= dim.NUMVP; ++k) {
            const int i = io.NODVP(k);
            if (i < 1 || i > dim.NNOD) continue;
            const node_values top = node_at(dn, msh, sl, fs, i);
            wfmt(u29,
                 "(' SURFACE NODE = ',I5,'  X = ',1PE12.4,'  Y = ',1PE12.4,/,"
                 "'              Z  PRESSURE  HEAD')",
                 i, top.x, top.y);
            item_batch<kBatch> b(u29, "(2(1PE15.6))");
            for (int j = 0; j <= dim.NSTR; ++j) {
                const node_values v = node_at(dn, msh, sl, fs, (long)j * dim.NNOD + i);
                b.add(v.z);
                b.add(v.p);
                b.add(v.sw);
                b.add(v.kr);
            }
        }
    }

    // Surface maps. SATSUR: 1 for an unsaturated surface node; else 3 when the whole column
    // below it is saturated, 2 when some node below is not (every process of a cut run forms it
    // for the columns it holds, which it holds whole).
    const long nnod_here = dim_here.NNOD;
    for (long i = 1; i <= nnod_here; ++i) {
        int sat = 1;
        if (!(fs.PNEW(i) < 0.0)) {
            sat = 3;
            for (int j = 1; j <= dim_here.NSTR; ++j) {
                if (fs.PNEW((long)j * nnod_here + i) < 0.0) {
                    sat = 2;
                    break;
                }
            }
        }
        bc.SATSUR(i) = sat;
    }
    ounit& u41 = io.out(41);
    ounit& u42 = io.out(42);
    ounit& u43 = io.out(43);
    wfmt(u41, kStepTime, s, t);
    wfmt(u41,
         "(' SURFACE NODE              X              Y',"
         "'  PRESSURE HEAD')");
    wfmt(u42, kStepTime, s, t);
    wfmt(u42,
         "(' SURFACE NODE              X              Y',"
         "'         SATSUR')");
    wfmt(u43, kStepTime, s, t);
    wfmt(u43,
         "(' SURFACE NODE              X              Y',"
         "'             SW')");
    // One statement per row: these formats resume at their inner group on reversion, so rows
    // cannot share a statement.
    deck_block b(dn, msh, false, {msh.X, msh.Y, fs.PNEW, sl.SW, bc.SATSUR});
    block_loop(b, 1, dim.NNOD, [&](long lo, long hi) {
        for (long i = lo; i <= hi; ++i) {
            const double x = b.at(0, i), y = b.at(1, i);
            wfmt(u41, "(7X,I6,3(1PE15.6))", (int)i, x, y, b.at(2, i));
            wfmt(u42, "(7X,I6,2(1PE15.6),13X,I2)", (int)i, x, y, (int)b.at(4, i));
            wfmt(u43, "(7X,I6,3(1PE15.6))", (int)i, x, y, b.at(3, i));
        }
    });
}

void detprc(const dimensions& dim_here, iofiles& io, const mesh& msh, const arr1<double>& C, double t,
            int s, const deck_nodes* dn) {
    const dimensions& dim = deck_dim(dn, dim_here);
    check_isec(dim, io);
    const int ISEC = io.ISEC;
    if (io.IPRT > 0) {
        ounit& u37 = io.out(37);
        const section sec = section_of(dim, ISEC);
        if (ISEC == 0) wfmt(u37, kStepTime, s, t);
        else wfmt(u37, "(I6,1PE12.4,I6,'     NSTEP   TIME   ISEC')", s, t, ISEC);
        write_list(u37, dn, msh, false, C, sec.n1, sec.n2);
    }

    if (dim.NUMVP > 0) {
        ounit& u30 = io.out(30);
        wfmt(u30, kStepTime, s, t);
        for (int k = 1; k <= dim.NUMVP; ++k) {
            const int i = io.NODVP(k);
            if (i < 1 || i > dim.NNOD) continue;
            wfmt(u30,
                 "(' SURFACE NODE = ',I5,'  X = ',1PE12.4,'  Y = ',1PE12.4,/,"
                 "'              Z  CONCENTRATION')",
                 i, watched_or(dn, msh.X, i, 0), watched_or(dn, msh.Y, i, 1));
            item_batch<kBatch> b(u30, "(2(1PE15.6))");
            for (int j = 0; j <= dim.NSTR; ++j) {
                const long node = (long)j * dim.NNOD + i;
                b.add(watched_or(dn, msh.Z, node, 2));
                b.add(watched_or(dn, C, node, 7));
            }
        }
    }

    ounit& u44 = io.out(44);
    wfmt(u44, kStepTime, s, t);
    wfmt(u44,
         "(' SURFACE NODE              X              Y',"
         "'  CONCENTRATION')");
    deck_block b(dn, msh, false, {msh.X, msh.Y, C});
    block_loop(b, 1, dim.NNOD, [&](long lo, long hi) {
        for (long i = lo; i <= hi; ++i) wfmt(u44, "(7X,I6,3(1PE15.6))", (int)i, b.at(0, i), b.at(1, i), b.at(2, i));
    });
}

void write_pot(iofiles& io, int NR, const arr1<int>& IPOUT, const arr1<double>& PNEW, const deck_nodes* dn) {
    if (NR <= 0) return;
    check_ipout(io, NR, IPOUT, cut_run(dn) ? dn->dim.N : PNEW.size());
    ounit& lst = io.out(6);
    wfmt(lst,
         "(//,1X,'PARTIAL OUTPUT:  FLOW EQUATION',"
         "/,4('   NODE  POTENL HEAD'))");
    item_batch<kBatch> b(lst, "(4(I7,1PE13.4))");
    for (int i = 1; i <= NR; ++i) {
        b.add(IPOUT(i));
        b.add(watched_or(dn, PNEW, IPOUT(i), 3));
    }
}

void write_conc(iofiles& io, int NR, const arr1<int>& IPOUT, const arr1<double>& C, const deck_nodes* dn) {
    if (NR <= 0) return;
    check_ipout(io, NR, IPOUT, cut_run(dn) ? dn->dim.N : C.size());
    ounit& lst = io.out(6);
    wfmt(lst,
         "(//,1X,'PARTIAL OUTPUT:  TRANSPORT EQUATION',"
         "/,4('   NODE  CONCENTRATN'))");
    item_batch<kBatch> b(lst, "(4(I7,1PE13.4))");
    for (int i = 1; i <= NR; ++i) {
        b.add(IPOUT(i));
        b.add(watched_or(dn, C, IPOUT(i), 7));
    }
}

void write_partial(const dimensions& dim, iofiles& io, const soil& sl, const flowstate& fs,
                   const deck_nodes* dn) {
    const int NR = dim.NR;
    if (NR <= 0) return;
    check_ipout(io, NR, io.IPOUT, deck_dim(dn, dim).N);
    ounit& lst = io.out(6);
    wfmt(lst,
         "(//,1X,'SOLUZIONE SUI NODI DI OUTPUT',/,"
         "1X,2(' NODE  PRESSIONE  SW         CKRW      '))");
    item_batch<kBatch> b(lst, "(2(1X,I5,3(1PE11.3)))");
    for (int k = 1; k <= NR; ++k) {
        const int i = io.IPOUT(k);
        b.add(i);
        b.add(watched_or(dn, fs.PNEW, i, 3));
        b.add(watched_or(dn, sl.SW, i, 5));
        b.add(watched_or(dn, sl.CKRW, i, 6));
    }
}

void file_header(const control& ctl, iofiles& io, const soil& sl) {
    wfmt(io.out(26),
         "(  5X,'IFLOW  (1 PICARD, 2 NEWTON)             = ',I6,"
         "/,5X,'IRELAX (0 NORELX,1 CONS RELX,2 VAR RELX)= ',I6,"
         "/,5X,'KSLOPE (0 ANA, 1 KSL/ANA, 2 KSL/C-DIFF,',"
         "/,5X,'        3 LOC KSL/ANA, 4 LOC TAN-SLOPE) = ',I6,"
         "/,5X,'TOLNL  (TOLERANCE FOR NONLINEAR ITER)   = ',1PE15.5,"
         "/,5X,'L2NORM (0 INFINITY NORM, ELSE L2 NORM)  = ',I6,"
         "//,' nlinr  linr converg error norms  node   PNEW at',"
         "'   POLD at   resid error norms',"
         "/,'  iter  iter       PL2      PINF IKMAX     IKMAX',"
         "'     IKMAX       FL2      FINF',"
         "/,' ===============================================',"
         "'==============================')",
         ctl.IFLOW, ctl.IRELAX, sl.KSLOPE, ctl.TOLNL, ctl.L2NORM);

    if (ctl.ITRANS == 0) {
        wfmt(io.out(27), "(/,' NSTEP  DELTAT  TIME FLOW: abs-mbal-err  rel-mbal-err ',/)");
    } else {
        wfmt(io.out(27),
             "(/,' NSTEP  DELTAT  TIME FLOW: abs-mbal-err  rel-mbal-err ',"
             "' TRANSP: abs-mbal-err  rel-mbal-err ',/)");
        wfmt(io.out(28),
             "(//' NON  LIN  LIN   PNEW at   POLD at PNEW-POLD',"
             "'   CNEW at   COLD at CNEW-COLD      ',/,"
             "' LIN  ITR  ITR    IKMAX     IKMAX   at IKMAX',"
             "'    IKMAX     IKMAX   at IKMAX  node',/,"
             "'  #   FLW  CPLD  (pot hd)  (pot hd) (normlzd)',"
             "'  (concen)  (concen)  (concen) IKMAX',/,"
             "' ===========================================',"
             "'====================================')");
    }

    wfmt(io.out(31),
         "(' NSTP    DELTAT      TIME  POT. FLUX',"
         "'  ACT. FLUX  OVL. FLUX  RET. FLUX  SEEP FLUX')");
    if (ctl.ITRANS == 0) {
        wfmt(io.out(32),
             "(' NSTEP     DELTAT       TIME   NET NATM,NSF DIR FLUX',"
             "'   NET NATM,NSF NEU FLUX')");
    } else {
        wfmt(io.out(32),
             "('                               NET DIRICH  ',"
             "'NET NEUMANN   NET DIRICH   NET CAUCHY',/,"
             "' NSTEP     DELTAT       TIME    VOLU FLUX  ',"
             "'  VOLU FLUX    MASS FLUX    MASS FLUX')");
    }

    if (io.IPRT > 3) {
        wfmt(io.out(36), "('  0   HSPVEL')");
        wfmt(io.out(38), "('  0   HSPSW')");
    }

    wfmt(io.out(47),
         "('  NSTEP            DELTAT              TIME',"
         "'  NET SEEPFACE VOL  NET SEEPFACE FLX')");
    wfmt(io.out(48),
         "('  NSTEP            DELTAT              TIME',"
         "' NET NANSF DIR VOL NET NANSF DIR FLX')");
    wfmt(io.out(49),
         "('  NSTEP            DELTAT              TIME',"
         "' NET NANSF NEU VOL NET NANSF NEU FLX')");
}

}  // namespace nep
