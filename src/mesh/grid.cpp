// The grid file and the extrusion of the surface grid into layers of tetrahedra.
#include "mesh/grid.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/stop.h"
#include "mesh/geometry.h"
#include "records/iofiles.h"

namespace nep {

namespace {


// The line goes to the main listing and standard output, and to standard error, where every
// input error of a batch run is found.
[[noreturn]] void stop_with_line(iofiles& io, const std::string& line) {
    wfree(io.out(6), line);
    wfree(io.STDOUT, line);
    input_error(line);
}

std::string real_text(double v) {
    std::string s = sfmt("(1PE13.5)", v);
    const auto b = s.find_first_not_of(" \n");
    const auto e = s.find_last_not_of(" \n");
    return b == std::string::npos ? s : s.substr(b, e - b + 1);
}

std::string where(const freader& fr, long line) {
    std::string role = fr.role().empty() ? std::string("input file") : fr.role();
    for (char& c : role) c = (char)std::toupper((unsigned char)c);
    std::string s = "; " + role + " '" + fr.name() + "'";
    if (line > 0) s += ", LINE " + std::to_string(line);
    return s;
}

// The transport Dirichlet lists follow the flow ones down the verticals: the NP2C surface nodes
// into the 3-D list, DIRNODC(L*NP2C + i) = L*NNOD + DIR2DC(i), each with its value,
// DIRVALC(L*NP2C + i) = DIRVALC(i), for L = 1..NSTR.
void replicate_transport_dirichlet(const dimensions& dim, const control& ctl, iofiles& io,
                                   const mesh& /*msh*/, transport& tra) {
    if (ctl.ITRANS == 0) return;
    const int NP2C = dim.NP2C, NNOD = dim.NNOD, NSTR = dim.NSTR;
    if (NP2C <= 0) return;
    if (tra.DIR2DC.size() < NP2C || tra.DIRNODC.size() < (long)(NSTR + 1) * NP2C ||
        tra.DIRVALC.size() < (long)(NSTR + 1) * NP2C) {
        input_error("internal error: the transport Dirichlet lists are shorter than (NSTR+1)*NP2C");
    }
    const freader& fb = io.in(18);
    for (int i = 1; i <= NP2C; ++i) {
        const int v = tra.DIR2DC(i);
        if (v < 1 || v > NNOD) {
            stop_with_line(io, "INPUT ERROR : SURFACE TRANSPORT DIRICHLET NODE " + std::to_string(i) +
                                   " OF THE LIST (NODE # " + std::to_string(v) +
                                   ") IS OUTSIDE 1..NNOD (NNOD = " + std::to_string(NNOD) + ")" +
                                   where(fb, 0));
        }
        tra.DIRNODC(i) = v;
    }
    for (int L = 1; L <= NSTR; ++L) {
        for (int i = 1; i <= NP2C; ++i) {
            tra.DIRNODC(L * NP2C + i) = L * NNOD + tra.DIR2DC(i);
            tra.DIRVALC(L * NP2C + i) = tra.DIRVALC(i);
        }
    }
}

}  // namespace

void read_grid(dimensions& dim, const control& ctl, iofiles& io, mesh& msh) {
    freader& fr = io.in(8);
    ounit& lst = io.out(6);

    int nzone = 0, nstr = 0, n1 = 0, nnod = 0, ntri = 0;
    fr.read(nzone, nstr, n1);
    fr.read(nnod, ntri);
    // The storage was sized from these records at start-up; they cannot have changed since.
    if (nzone != dim.NZONE || nstr != dim.NSTR || n1 != dim.N1 || nnod != dim.NNOD || ntri != dim.NTRI) {
        fr.fail("NZONE, NSTR, N1, NNOD, NTRI = " + std::to_string(nzone) + " " + std::to_string(nstr) + " " +
                std::to_string(n1) + " " + std::to_string(nnod) + " " + std::to_string(ntri) +
                " differ from the sizes read at start-up");
    }
    const int NNOD = dim.NNOD, NTRI = dim.NTRI, NSTR = dim.NSTR, N = dim.N;
    wfmt(lst, "(/,5X,'NNOD   (NUM. NODI RET. BIDIMENSIONALE)  = ',I6,"
              "/,5X,'NTRI   (NUM. TRIANGOLI RET. BIDIM.)     = ',I6,"
              "/,5X,'NZONE  (NUMERO ZONE (MATERIAL TYPES))   = ',I6,"
              "/,5X,'NSTR   (NUMERO STRATI)                  = ',I6,"
              "/,5X,'N1     (NUM. MAX CONTATTI NODALI)       = ',I6)",
         dim.NNOD, dim.NTRI, dim.NZONE, dim.NSTR, dim.N1);

    fr.read(msh.IVERT, msh.ISP, msh.BASE);
    const long isp_line = fr.value_line();
    wfmt(lst, "(/,5X,'IVERT  (TYPE OF VERTICAL DISCRETIZATION)= ',I6,"
              "/,5X,'ISP    (0 FLAT SURFACE,                   ',"
              "/,5X,'       (1 NOT FLAT reads upp. surf values)',"
              "/,5X,'       (2 NOT FLAT reads upper and bottom)',I6,"
              "/,5X,'BASE   (THICKNESS OR BASE OF 3-D MESH)  = ',1PE15.5)",
         msh.IVERT, msh.ISP, msh.BASE);

    fr.begin();
    fr.get(msh.ZRATIO);
    const long zline = fr.line();
    fr.finish();
    double sum = 0.0;
    for (int l = 1; l <= NSTR; ++l) sum += msh.ZRATIO(l);
    for (int l = 1; l <= NSTR; ++l) wfmt(lst, "(  5X,'LAYER ',I3,5X,'ZRATIO = ',1PE13.5)", l, msh.ZRATIO(l));
    if (!(std::fabs(sum - 1.0) <= 1.0e-10)) {
        wfmt_both(io, "(//,' INPUT ERROR : ZRATIO VALUES MUST SUM TO 1.0')");
        if (ctl.DIALECT != dialect::ALT) wfmt(io.STDOUT, "(' ZRATIO SUM = ',1PE15.5)", sum);
        char text[64];
        std::snprintf(text, sizeof text, "%.17g", sum);
        input_error(fr.role() + " '" + fr.name() + "' line " + std::to_string(zline) +
                    ": the " + std::to_string(NSTR) + " ZRATIO values sum to " + text +
                    ", not 1 (within 1e-10)");
    }
    // A negative fraction folds a layer back over the one above it; a zero one gives a layer of
    // flat tetrahedra.
    for (int l = 1; l <= NSTR; ++l) {
        if (!(msh.ZRATIO(l) > 0.0)) {
            stop_with_line(io, "INPUT ERROR : ZRATIO OF LAYER " + std::to_string(l) + " IS NOT POSITIVE (" +
                                   real_text(msh.ZRATIO(l)) + ")" + where(fr, zline));
        }
    }
    // Layers are stacked below the surface: a negative thickness would build them upwards.
    if ((msh.ISP == 0 || msh.ISP == 1) && msh.BASE < 0.0) {
        stop_with_line(io, "INPUT ERROR : BASE IS NEGATIVE (" + real_text(msh.BASE) +
                               "); THE LAYERS LIE BELOW THE SURFACE" + where(fr, 0));
    }

    switch (msh.ISP) {
    case 0:
        fr.read(msh.Z(1));
        for (int i = 2; i <= NNOD; ++i) msh.Z(i) = msh.Z(1);
        break;
    case 1:
        fr.begin();
        for (int i = 1; i <= NNOD; ++i) fr.get(msh.Z(i));
        fr.finish();
        break;
    case 2:
        fr.begin();
        for (int i = 1; i <= NNOD; ++i) fr.get(msh.Z(i));
        fr.finish();
        fr.begin();
        if (msh.SURFONLY) {
            msh.ZBOT.alloc(NNOD);
            for (int i = 1; i <= NNOD; ++i) fr.get(msh.ZBOT(i));
        } else {
            for (int i = NSTR * NNOD + 1; i <= N; ++i) fr.get(msh.Z(i));
        }
        fr.finish();
        break;
    default:
        wfmt_both(io, "(/,5X,'STOP   (BAD ISP VALUE)= ',I6)", msh.ISP);
        input_error(fr.role() + " '" + fr.name() + "' line " + std::to_string(isp_line) + ": ISP = " +
                    std::to_string(msh.ISP) + " is none of 0 (flat surface), 1 (surface elevations) and 2"
                    " (surface and bottom elevations)");
    }
    if (io.IPRT1 >= 1) {
        std::vector<fitem> items;
        items.reserve(2 * (std::size_t)NNOD);
        for (int i = 1; i <= NNOD; ++i) {
            items.emplace_back(i);
            items.emplace_back(msh.Z(i));
        }
        write_fmt(lst, "(/,5X,' SURFACE ELEVATION VALUES'/(4(I5,1X,1PE12.4)))", items.data(), items.size());
    }

    // Every vertex and material code is checked as it is read: they index the node and
    // material tables from here on.
    fr.begin();
    for (int j = 1; j <= NTRI; ++j) {
        for (int r = 1; r <= 3; ++r) {
            int& v = msh.TRIANG(r, j);
            fr.get(v);
            if (v < 1 || v > NNOD) {
                stop_with_line(io, "INPUT ERROR : TRIANGLE " + std::to_string(j) + " HAS NODE " + std::to_string(v) +
                                       " OUTSIDE 1..NNOD (NNOD = " + std::to_string(NNOD) + ")" +
                                       where(fr, fr.line()));
            }
        }
        int& mat = msh.TRIANG(4, j);
        fr.get(mat);
        if (mat < 1 || mat > dim.NZONE) {
            stop_with_line(io, "INPUT ERROR : TRIANGLE " + std::to_string(j) + " HAS MATERIAL CODE " +
                                   std::to_string(mat) + " OUTSIDE 1..NZONE (NZONE = " + std::to_string(dim.NZONE) +
                                   ")" + where(fr, fr.line()));
        }
    }
    fr.finish();

    fr.begin();
    for (int i = 1; i <= NNOD; ++i) {
        fr.get(msh.X(i));
        fr.get(msh.Y(i));
    }
    fr.finish();
}

void sortcol(int count, arr2<int>& a, int K) {
    for (int c = 1; c <= count; ++c) {
        int* v = a.col(c) - 1;  // v[1..K]
        for (int p = 1; p <= K - 1; ++p)
            for (int q = p + 1; q <= K; ++q)
                if (v[q] < v[p]) std::swap(v[p], v[q]);
    }
}

void grid3d(dimensions& dim, control& ctl, iofiles& io, mesh& msh, bcdata& bc, transport& tra) {
    sortcol(dim.NTRI, msh.TRIANG, 3);
    area2d(dim, ctl, io, msh);
    gen3d(dim, ctl, io, msh, bc, tra);
    // Symmetric storage keeps the upper triangle: ascending vertices make row <= column.
    if (ctl.IFLOW == 1) sortcol((int)msh.TETRA.kept().n2(), msh.TETRA.kept(), 4);
}

double column_z(const mesh& msh, long s, int L) {
    const double top = msh.Z(s);
    if (L == 0) return top;
    double c = 0.0;
    for (int l = 1; l <= L; ++l) c += msh.ZRATIO(l);
    if (msh.ISP == 2) return top - (top - msh.ZBOT(s)) * c;
    if (msh.IVERT == 0) return top - msh.BASE * c;
    if (msh.IVERT == 1) return top - (top - msh.ZMIN + msh.BASE) * c;
    return msh.ZMIN - msh.BASE * c;
}

void gen3d(dimensions& dim, control& ctl, iofiles& io, mesh& msh, bcdata& bc, transport& tra) {
    const int NNOD = dim.NNOD, NTRI = dim.NTRI, NSTR = dim.NSTR, N = dim.N;
    arr2<int>& TETRA = msh.TETRA.kept();
    arr1<double>& X = msh.X;
    arr1<double>& Y = msh.Y;
    arr1<double>& Z = msh.Z;

    // Prisms into tetrahedra. On each vertical face the diagonal runs from the upper node of the
    // higher-numbered vertex to the lower node of the lower-numbered one, so neighbouring prisms
    // cut their common face alike. Every layer repeats the first: the table keeps its elements
    // only, unless it keeps them all.
    for (int L = 1; L <= NSTR && 3L * (L - 1) * NTRI < TETRA.n2(); ++L) {
        for (int j = 1; j <= NTRI; ++j) {
            const int mat = msh.TRIANG(4, j);
            const int up = (L - 1) * NNOD, lo = L * NNOD;
            const int a1 = up + msh.TRIANG(1, j), a2 = up + msh.TRIANG(2, j), a3 = up + msh.TRIANG(3, j);
            const int b1 = lo + msh.TRIANG(1, j), b2 = lo + msh.TRIANG(2, j), b3 = lo + msh.TRIANG(3, j);
            const int e1 = 3 * ((L - 1) * NTRI + j) - 2;
            int* t = TETRA.col(e1);
            t[0] = a1; t[1] = a2; t[2] = a3; t[3] = b1; t[4] = mat;
            t = TETRA.col(e1 + 1);
            t[0] = b1; t[1] = b2; t[2] = b3; t[3] = a3; t[4] = mat;
            t = TETRA.col(e1 + 2);
            t[0] = a2; t[1] = a3; t[2] = b2; t[3] = b1; t[4] = mat;
        }
    }

    // Elevations of the node layers below the surface (on a start on several processes, those
    // of the processes' own columns, column_z).
    double zmin = ctl.HUGER;
    for (int i = 1; i <= NNOD; ++i)
        if (Z(i) < zmin) zmin = Z(i);
    msh.ZMIN = zmin;
    const bool surface_only = msh.SURFONLY;
    auto bottom = [&](int i) { return surface_only ? msh.ZBOT(i) : Z(NSTR * NNOD + i); };
    auto elevation = [&](long m) {
        return surface_only ? column_z(msh, (m - 1) % NNOD + 1, (int)((m - 1) / NNOD)) : Z(m);
    };
    const int ISP = msh.ISP, IVERT = msh.IVERT;
    const double BASE = msh.BASE;
    if (ISP != 0 && ISP != 1 && ISP != 2) {
        wfmt_both(io, "(//,' INPUT ERROR : BAD VALUE OF ISP',I6)", ISP);
        input_error(io.in(8).role() + " '" + io.in(8).name() + "': ISP = " + std::to_string(ISP) +
                    " is none of 0, 1 and 2");
    }
    for (int i = 1; i <= NNOD; ++i) {
        double d = 0.0;
        if (ISP == 2) {
            d = Z(i) - bottom(i);
            if (!(d > 0.0)) {
                wfmt_both(io, "(//,' INPUT ERROR : BAD VALUE OF elevations for nodes #',I6,I6)", i, NSTR * NNOD + i);
                input_error(io.in(8).role() + " '" + io.in(8).name() + "': surface node " + std::to_string(i) +
                            " at z = " + real_text(Z(i)) + " is not above its bottom node " +
                            std::to_string(NSTR * NNOD + i) + " at z = " + real_text(bottom(i)) +
                            " (ISP = 2: the bottom elevations follow the surface ones)");
            }
        }
        if (surface_only) continue;
        double c = 0.0;
        for (int L = 1; L <= NSTR; ++L) {
            c += msh.ZRATIO(L);
            const int k = L * NNOD + i;
            X(k) = X(i);
            Y(k) = Y(i);
            if (ISP == 2) {
                Z(k) = Z(i) - d * c;
            } else if (IVERT == 0) {
                Z(k) = Z(i) - BASE * c;
            } else if (IVERT == 1) {
                Z(k) = Z(i) - (Z(i) - zmin + BASE) * c;
            } else {
                Z(k) = zmin - BASE * c;
            }
        }
    }

    // Seepage faces are listed from the top down: no node may lie above the one before it.
    {
        const freader& sf = io.in(13);
        const long nsf = std::min<long>({(long)dim.NSF, bc.NSFNUM.size(), bc.SFNOD.n1()});
        for (long s = 1; s <= nsf; ++s) {
            const long n = std::min<long>(bc.NSFNUM(s), bc.SFNOD.n2());
            for (long p = 1; p <= n; ++p) {
                const int m = bc.SFNOD(s, p);
                if (m < 1 || m > N) {
                    stop_with_line(io, "INPUT ERROR : SEEPAGE FACE " + std::to_string(s) + ", NODE " + std::to_string(p) +
                                           " OF ITS LIST (NODE # " + std::to_string(m) + ") IS OUTSIDE 1..N (N = " +
                                           std::to_string(N) + ")" + where(sf, 0));
                }
                if (p == 1) continue;
                const int l = bc.SFNOD(s, p - 1);
                const double zm = elevation(m), zl = elevation(l);
                if (zm > zl) {
                    wfmt_both(io, "(//,' INPUT ERROR : ELEVATION VALUES NOT IN DESCENDING',"
                                "' ORDER ON SEEPAGE FACE ',I6,"
                                "/,4X,'NODES',I4,' (NODE #',I6,') AND',I4,' (NODE #',I6,')')",
                            (int)s, (int)(p - 1), l, (int)p, m);
                    input_error(sf.role() + " '" + sf.name() + "': seepage face " + std::to_string(s) +
                                ": node " + std::to_string(m) + " (entry " + std::to_string(p) + ") at z = " +
                                real_text(zm) + " lies above node " + std::to_string(l) + " (entry " +
                                std::to_string(p - 1) + ") at z = " + real_text(zl) +
                                "; a face is listed from the top down");
                }
            }
        }
    }

    // The mesh-only run: elements and coordinates to the coordinates file, then the end.
    if (io.IPRT1 == 3) {
        ounit& u = io.out(25);
        if (ctl.DIALECT == dialect::ALT) {
            for (int k = 1; k <= N; ++k) wfmt(u, "(I7,3(1F12.3))", k, X(k), Y(k), Z(k));
        } else {
            int t[5];
            for (int e = 1; e <= dim.NT; ++e) {
                msh.TETRA.nodes(e, t);
                wfmt(u, "(5I9)", fitem::ints(t, 5));
            }
            for (int k = 1; k <= N; ++k) wfmt(u, "(3(1F12.3))", X(k), Y(k), Z(k));
        }
        wfmt_both(io, "(//,1X,'  IPRT1 = 3: END OF RUN')");
        stop_run(EXIT_DONE);
    }

    // Surface Dirichlet nodes down the verticals; the fixed nodes after them are left alone.
    const int NDIR = dim.NDIR;
    if (NDIR > 0) {
        if (bc.DIR2D.size() < NDIR || bc.DIRNOD.size() < (long)(NSTR + 1) * NDIR) {
            input_error("internal error: the Dirichlet node lists are shorter than (NSTR+1)*NDIR");
        }
        const freader& fb = io.in(9);
        for (int i = 1; i <= NDIR; ++i) {
            const int v = bc.DIR2D(i);
            if (v < 1 || v > NNOD) {
                stop_with_line(io, "INPUT ERROR : SURFACE DIRICHLET NODE " + std::to_string(i) + " OF THE LIST (NODE # " +
                                       std::to_string(v) + ") IS OUTSIDE 1..NNOD (NNOD = " + std::to_string(NNOD) +
                                       ")" + where(fb, 0));
            }
            bc.DIRNOD(i) = v;
        }
        for (int L = 1; L <= NSTR; ++L)
            for (int i = 1; i <= NDIR; ++i) bc.DIRNOD(L * NDIR + i) = L * NNOD + bc.DIR2D(i);
    }
    replicate_transport_dirichlet(dim, ctl, io, msh, tra);
}

}  // namespace nep
