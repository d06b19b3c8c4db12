#include "run/storage.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <climits>
#include <cstdint>
#include <utility>

#include "base/format.h"
#include "base/procs.h"
#include "base/stop.h"
#include "records/inputerr.h"
#include "run/columns.h"

namespace nep {

namespace {

// The most nonlinear iterations a step may take (ITMX, ITMXC): they size the iteration
// histories, so a count beyond any use would only exhaust the memory.
constexpr int kMaxIterations = 100000;

// A count read from an input file must not exceed what it can mean (nodes of the mesh, surface
// nodes, iterations); checked when it is read, before anything is created from it.
void bound(const freader& fr, long line, const char* name, long long value, long long limit,
           const char* what) {
    // Every bounded value is a count: a negative one would pass over no values and leave the
    // records after it misread.
    if (value < 0) {
        input_error(fr.role() + " '" + fr.name() + "' line " + std::to_string(line) + ": " + name +
                    " = " + std::to_string(value) + " is negative (a count, 0 up to " + what + ", " +
                    std::to_string(limit) + ")");
    }
    // A limit that is not positive is a size of the mesh that allocate refuses first.
    if (limit > 0 && value > limit) {
        input_error(fr.role() + " '" + fr.name() + "' line " + std::to_string(line) + ": " + name +
                    " = " + std::to_string(value) + " exceeds " + what + " (" +
                    std::to_string(limit) + ")");
    }
}

// Passes over a list of `count` values read by the current statement. A slash before its end
// would leave values unset that the list must hold (output times, nodes): refused here, before
// the count sizes anything.
void pass_list(freader& fr, int count, bool reals, const char* name) {
    int i = 0;
    double r = 0.0;
    for (int k = 1; k <= count; ++k) {
        if (reals) fr.get(r); else fr.get(i);
        if (fr.ended()) {
            input_error(fr.role() + " '" + fr.name() + "' line " + std::to_string(fr.line()) + ": " +
                        name + " = " + std::to_string(count) + ", but a slash ends its list after " +
                        std::to_string(k - 1) + (k == 2 ? " value" : " values"));
        }
    }
}

// Passes over the parameter file as read_parm reads it, keeping the sizes.
void dim_from_parm(dimensions& dim, control& ctl, iofiles& io, freader& fr) {
    int i = 0;
    double r = 0.0;
    bool l = false;
    fr.read(io.IPRT1);                 // 1: IPRT1 (a mesh-only run builds the whole mesh)
    fr.read(ctl.IFLOW, ctl.ITRANS, l); // 2
    fr.read(i, r);                     // 3: KSLOPE 5 keeps nodal water contents
    dim.NWAT = i == 5 ? 1 : 0;
    fr.read(r, r, r, r);               // 4
    fr.read(r, r, r, r);               // 5
    fr.read(i, i);                     // 6
    fr.read(r, i, r, i);               // 7
    // 8, 9: the iteration limits of the flow and of the coupled iteration, then three values.
    for (auto [limit, name] : {std::pair<int*, const char*>{&dim.ITMX, "ITMX"}, {&dim.ITMXC, "ITMXC"}}) {
        fr.begin();
        fr.get(*limit);
        bound(fr, fr.line(), name, *limit, kMaxIterations, "the most iterations a step may take");
        fr.get(i);
        fr.get(i);
        fr.get(r);
        fr.finish();
    }
    fr.read(i, r);                     // 10
    fr.read(ctl.ISOLV, i, r);          // 11
    fr.read(ctl.ISOLVC, i, r);         // 12
    // Several processes solve with PETSc whatever the file selects: no storage of the
    // nonsymmetric solvers of one process (read_parm says so).
    ctl.ISOLVD = ctl.ISOLV;
    ctl.ISOLVCD = ctl.ISOLVC;
    ctl.ISOLV = run_selector(ctl.ISOLV, proc_count());
    ctl.ISOLVC = run_selector(ctl.ISOLVC, proc_count());
    fr.read(i, r, i, r);               // 13
    fr.read(r, r, r, r, r);            // 14
    fr.read(r, r, r, r);               // 15
    fr.begin();                        // 16: IPRT > 3 writes the element velocities
    fr.get(i);
    dim.NVEL = i > 3 || ctl.ITRANS != 0 ? 1 : 0;
    fr.get(i);
    fr.get(dim.NPRT);
    pass_list(fr, dim.NPRT, true, "NPRT");
    fr.finish();
    fr.begin();                        // 17
    fr.get(dim.NUMVP);
    pass_list(fr, dim.NUMVP, false, "NUMVP");
    fr.finish();
    fr.read(dim.NR);                   // 18
    if (dim.NR > 0) {                  // 19: passed over so that its length is known to exist
        fr.begin();
        pass_list(fr, dim.NR, false, "NR");
        fr.finish();
    }
}

// Reads a count and passes over the record of that many values that follows it when not 0.
// The list's count was read on count_line; a file that ends inside the list names it.
void skip_list(freader& fr, int count, bool reals, const char* name, long count_line) {
    if (count == 0) return;
    fr.expect_list(std::string(name) + " = " + std::to_string(count), count_line);
    fr.begin();
    int i = 0;
    double r = 0.0;
    for (int k = 1; k <= count; ++k) {
        if (reals) fr.get(r); else fr.get(i);
    }
    fr.finish();
}

// The count that follows a list. A file that ends where it should stand most likely holds a list
// shorter than its count, whose reading took this count for its last value: say so, naming the
// list's count and its line.
long read_next_count(freader& fr, int& v, const char* name, const char* list, int count,
                     long count_line) {
    if (count > 0 && fr.at_end()) {
        input_error(fr.role() + " '" + fr.name() + "' line " + std::to_string(count_line) + ": " +
                    list + " = " + std::to_string(count) + " takes the file's last value, and " +
                    name + " is missing after its list: is the count larger than the list?");
    }
    return read_count(fr, v);
}

// Memory the system can still give: what is available plus free swap (Linux), or the physical
// memory elsewhere; 0 when unknown.
double available_bytes() {
    double kib = 0.0;
    if (std::FILE* f = std::fopen("/proc/meminfo", "r")) {
        char key[64];
        double v = 0.0;
        char unit[16];
        while (std::fscanf(f, "%63s %lf %15s", key, &v, unit) == 3) {
            if (std::strcmp(key, "MemAvailable:") == 0 || std::strcmp(key, "SwapFree:") == 0) kib += v;
        }
        std::fclose(f);
        if (kib > 0.0) return kib * 1024.0;
    }
    const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGE_SIZE);
    return pages > 0 && size > 0 ? (double)pages * (double)size : 0.0;
}

// A lower bound of the memory a mesh takes: per tetrahedron its position maps, the velocities
// when they are kept, and its geometry (72 bytes); per tetrahedron of the top layer its nodes and
// the rest of its geometry (60 bytes); per node the slot windows of the pattern and some forty
// nodal values. A mesh that fits only without its geometry forms the geometry again in every
// element loop: the same values, more time. A deck that cannot fit at all stops before anything
// is created, instead of being killed by the system halfway.
void check_memory(dimensions& dim, const control& ctl, iofiles& io, bool columns) {
    const bool own_transport = ctl.ITRANS != 0 && ctl.IFLOW == 1;
    const double windows = own_transport ? 2.0 : 1.0;
    const double per_element = (ctl.IFLOW == 1 ? 6.0 : 16.0) + (own_transport ? 16.0 : 0.0) +
                               (dim.NVEL > 0 ? 24.0 : 0.0);
    const double geometry_whole = dim.NGEO > 0 ? ((double)dim.NGEO * kGeomRows + 5.0 * dim.NTRI3) * 8.0 : 0.0;
    double need = (double)dim.NT * per_element + 20.0 * dim.NTRI3 +
                  (double)dim.N * (320.0 + 4.0 * windows * (double)pattern_width(dim.N1, dim.N));
    double geometry = geometry_whole;
    // The processes of a run on one machine share its memory (base/procs.h); each builds only
    // its own columns, a share of the mesh, when it starts from the surface.
    if (columns) {
        need /= proc_count();
        geometry /= proc_count();
    }
    const double have = available_bytes() / proc_node_count();
    if (have > 0.0 && need + geometry > have && need <= have && dim.NGEO > 0) {
        char text[240];
        std::snprintf(text, sizeof text,
                      "%s: the element geometry (%.2f GiB) is not kept, to fit in the %.2f GiB "
                      "available: it is formed again in every element loop (the same results, "
                      "more time)",
                      io.PROGNAME, geometry / 1073741824.0, have / 1073741824.0);
        io.STDERR.record(text);
        dim.NGEO = 0;
    }
    if (have > 0.0 && need > have) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "the mesh of %d nodes and %d tetrahedra needs at least %.2f GiB of memory, "
                      "%.2f GiB available",
                      dim.N, dim.NT, need / 1073741824.0, have / 1073741824.0);
        input_error(text);
    }
}

// A node list of surface nodes replicated down the NSTR + 1 levels, then fixed nodes. The signs
// are checked later; the product is formed in 64 bits meanwhile and held to the 32-bit range.
int replicated_size(int nstr, int surface, int fixed) {
    const long long n = (std::max(nstr, 0) + 1LL) * std::max(surface, 0) + std::max(fixed, 0);
    return (int)std::min<long long>(n, INT_MAX);
}

// The line of standard output, then the file, the record, the value and its range on standard
// error. unit and record say where the value was read: the grid file's first record (NZONE
// NSTR N1) or second (NNOD NTRI), or the parameter file's.
[[noreturn]] void size_error(iofiles& io, const char* text, int unit, const char* record,
                             const char* name, long long value, const char* range) {
    wfree(io.STDOUT, text);
    input_error(std::string(input_role(unit)) + " '" + io.NAMES[unit] + "', " + record + ": " + name +
                " = " + std::to_string(value) + "; " + range);
}

}  // namespace

void read_dim(dimensions& dim, control& ctl, iofiles& io) {
    freader& parm = io.in(5);
    dim_from_parm(dim, ctl, io, parm);
    parm.rewind();

    freader& grid = io.in(8);
    grid.read(dim.NZONE, dim.NSTR, dim.N1);
    grid.begin();
    grid.get(dim.NNOD);
    grid.get(dim.NTRI);
    const long sizes_line = grid.line();
    grid.finish();
    // The records after the sizes hold at least IVERT, ISP, BASE, NSTR layer fractions, one
    // elevation, four numbers per triangle and two coordinates per node: sizes beyond the data
    // stop here, before any array is created or the listing echoes them. A slash cannot stand
    // for any of them (a triangle or a node left unset is no mesh): every value is counted.
    const long left = grid.values_left(true);
    const long long least = 4LL + std::max(dim.NSTR, 0) + 4LL * std::max(dim.NTRI, 0) +
                            2LL * std::max(dim.NNOD, 0);
    if (least > left) {
        input_error(grid.role() + " '" + grid.name() + "' line " + std::to_string(sizes_line) +
                    ": NNOD = " + std::to_string(dim.NNOD) + ", NTRI = " + std::to_string(dim.NTRI) +
                    " and NSTR = " + std::to_string(dim.NSTR) + " need at least " +
                    std::to_string(least) + " values after this line, and the file holds " +
                    std::to_string(left));
    }
    grid.rewind();
    // The soil file holds a record of five values for every layer and material type, after the
    // sixteen values of the curve models: a number of material types beyond its data stops here,
    // before the tables are created.
    if (dim.NSTR > 0 && dim.NZONE > 0) {
        const freader& soil = io.in(14);
        // With slashes the values are unknown, but each of the NSTR*NZONE records is one read
        // statement, after the seven of the curve models.
        long have = soil.values_left();
        long long need = 16LL + 5LL * dim.NSTR * dim.NZONE;
        const char* what = " values";
        if (have < 0) {
            have = soil.records_left();
            need = 7LL + (long long)dim.NSTR * dim.NZONE;
            what = " records";
        }
        if (need > have) {
            input_error(grid.role() + " '" + grid.name() + "': NZONE = " + std::to_string(dim.NZONE) +
                        " and NSTR = " + std::to_string(dim.NSTR) + " need " + std::to_string(need) +
                        what + " in the " + soil.role() + " '" + soil.name() + "', which holds " +
                        std::to_string(have));
        }
    }
    dim.N1C = dim.N1;
    // The derived sizes are formed in 64 bits; sizes beyond the 32-bit range are refused here
    // rather than wrapping around.
    // A negative size gives derived sizes of 0, which the size checks of allocate refuse with
    // their own messages.
    const long long nstr = std::max(dim.NSTR, 0), nnod = std::max(dim.NNOD, 0);
    const long long ntri = std::max(dim.NTRI, 0);
    const long long n = (nstr + 1) * nnod * (dim.NSTR >= 0 ? 1 : 0);
    const long long nt = 3 * ntri * nstr;
    if (n > INT_MAX || nt > INT_MAX || 3 * ntri > INT_MAX) {
        grid.fail("the mesh of " + std::to_string(dim.NNOD) + " surface nodes, " +
                  std::to_string(dim.NTRI) + " triangles and " + std::to_string(dim.NSTR) +
                  " layers is too large");
    }
    dim.NTRI3 = (int)(3 * ntri);
    dim.N = (int)n;
    dim.NT = (int)nt;
    dim.NWAT = dim.NWAT != 0 ? dim.N : 0;
    dim.NVEL = dim.NVEL != 0 ? dim.NT : 0;
    // BoomerAMG (ISOLV -11), the selector of the largest meshes, keeps no geometry of the
    // tetrahedra but the d shared by the layers: the element loops form the rest from the
    // coordinates (the same values; 72 bytes a tetrahedron less, the assembly slower).
    dim.NGEO = ctl.ISOLV == -11 ? 0 : dim.NT;
    dim.INONSY = ((ctl.ISOLV > 2 && ctl.IFLOW > 1) || (ctl.ITRANS != 0 && ctl.ISOLVC > 2)) ? 1 : 0;
    dim.LIMNS1 = 1200000;
    dim.IBOTMN = 1200000;
    dim.LENNS = dim.INONSY * 1200000 + 1;
    const long long intbot = (dim.LENNS + 6LL * dim.N) * dim.INONSY + 1;
    dim.INTBOT = intbot > INT_MAX ? -1 : (int)intbot;  // refused by the size check

    freader& fbc = io.in(9);
    fbc.read(ctl.POTBC);
    long line = read_count(fbc, dim.NDIR);
    bound(fbc, line, "NDIR", dim.NDIR, dim.NNOD, "NNOD, the number of surface nodes");
    skip_list(fbc, dim.NDIR, false, "NDIR", line);
    const long ndirc_line = read_next_count(fbc, dim.NDIRC, "NDIRC", "NDIR", dim.NDIR, line);
    bound(fbc, ndirc_line, "NDIRC", dim.NDIRC, dim.N, "N, the number of nodes");
    skip_list(fbc, dim.NDIRC, false, "NDIRC", ndirc_line);
    dim.NP = replicated_size(dim.NSTR, dim.NDIR, dim.NDIRC);
    const long nq_line = read_next_count(fbc, dim.NQ, "NQ", "NDIRC", dim.NDIRC, ndirc_line);
    bound(fbc, nq_line, "NQ", dim.NQ, dim.N, "N, the number of nodes");
    fbc.rewind();

    freader& sf = io.in(13);
    // Faces are lists of any nodes: there may be more of them than surface nodes.
    read_count(sf, dim.NSF);
    int cmax = -1;
    long long total = 0;
    int prev = 0;
    long prev_line = 0;
    for (int k = 1; k <= dim.NSF; ++k) {
        int c = 0;
        const std::string name = "the node count of seepage face " + std::to_string(k);
        const long cline = read_next_count(sf, c, name.c_str(), "the node count of the face before it",
                                           prev, prev_line);
        bound(sf, cline, name.c_str(), c, dim.N, "N, the number of nodes");
        skip_list(sf, c, false, name.c_str(), cline);
        prev = c;
        prev_line = cline;
        cmax = std::max(cmax, c);
        total += std::max(c, 0);
    }
    sf.rewind();
    dim.NSFNMX = cmax + 1;
    dim.NBCMAX = (int)(total + dim.NP + dim.NNOD);

    if (ctl.ITRANS != 0) {
        freader& tbc = io.in(18);
        long tline = read_count(tbc, dim.NP2C);
        bound(tbc, tline, "NP2C", dim.NP2C, dim.NNOD, "NNOD, the number of surface nodes");
        skip_list(tbc, dim.NP2C, false, "NP2C", tline);
        skip_list(tbc, dim.NP2C, true, "NP2C", tline);
        tline = read_next_count(tbc, dim.NPFC, "NPFC", "NP2C", dim.NP2C, tline);
        bound(tbc, tline, "NPFC", dim.NPFC, dim.N, "N, the number of nodes");
        skip_list(tbc, dim.NPFC, false, "NPFC", tline);
        skip_list(tbc, dim.NPFC, true, "NPFC", tline);
        dim.NPC = replicated_size(dim.NSTR, dim.NP2C, dim.NPFC);
        const long nmc_line = read_next_count(tbc, dim.NMC, "NMC", "NPFC", dim.NPFC, tline);
        bound(tbc, nmc_line, "NMC", dim.NMC, dim.N, "N, the number of nodes");
        tbc.rewind();
    }

    ctl.HUGEI = 2147483647;
    ctl.HUGER = 1.7e38;
    ctl.TINYR = 1.7e-38;
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) ctl.IP3[i][j] = ((i + j - 2) % 3) + 1;
    for (int i = 1; i <= 4; ++i)
        for (int j = 1; j <= 4; ++j) ctl.IP4[i][j] = ((i + j - 2) % 4) + 1;
}

namespace {
const char* const kSizes1 = "first record (NZONE NSTR N1)";
const char* const kSizes2 = "second record (NNOD NTRI)";
const char* const kPositive = "it must be 1 or more";
}  // namespace

void allocate(dimensions& dim, control& ctl, iofiles& io, mesh& msh, bcdata& bc, transport& tra,
              soil& sl, sparse& sp, flowstate& fs) {
    if (dim.NNOD <= 0) size_error(io, "error: nnod <= 0 !!!", 8, kSizes2, "NNOD", dim.NNOD, kPositive);
    if (dim.NSTR <= 0) size_error(io, "error: nstr <= 0 !!!", 8, kSizes1, "NSTR", dim.NSTR, kPositive);
    if (dim.N <= 0) size_error(io, "error: n <= 0 !!!", 8, kSizes2, "N = NNOD * (NSTR + 1)", dim.N, kPositive);
    if (dim.NT <= 0) size_error(io, "error: nt <= 0 !!!", 8, kSizes2, "NT = 3 * NTRI * NSTR", dim.NT, kPositive);
    if (dim.NTRI <= 0) size_error(io, "error: ntri <= 0 !!!", 8, kSizes2, "NTRI", dim.NTRI, kPositive);
    // Several processes start from the deck's surface: each builds its own columns once the
    // surface is cut (run/columns.h), and no array of the whole mesh is created here.
    const bool columns = holds_own_columns(dim, io);
    check_memory(dim, ctl, io, columns);
    dimensions surface = dim;
    if (columns) {
        surface.N = surface.NT = surface.NWAT = surface.NVEL = surface.NGEO = 0;
        alloc_surface_mesh(dim, msh);
    } else {
        alloc_mesh(dim, msh);
    }
    wfree(io.STDOUT);
    alloc_bcdata(dim, bc, &ctl);
    if (ctl.ITRANS != 0) alloc_transport(dim, tra);
    if (dim.NZONE <= 0) size_error(io, "error: nzone <= 0 !!!", 8, kSizes1, "NZONE", dim.NZONE, kPositive);
    alloc_soil(surface, ctl, sl);
    if ((long long)dim.N1 * dim.N <= 0) size_error(io, "error: n1 * n <= 0 !!!", 8, kSizes1, "N1", dim.N1, kPositive);
    if (dim.INTBOT <= 0) size_error(io, "error: intbot <= 0 !!!", 8, kSizes2, "N = NNOD * (NSTR + 1)", dim.N,
                   "the work space of the nonsymmetric solvers for so many nodes exceeds 2^31 - 1 values");
    if (!columns) alloc_sparse(dim, ctl, sp);
    if (dim.ITMX <= 0) size_error(io, "error: itmx <= 0 !!!", 5, "the record ITMX ITMX1 ITMX2 TOLNL", "ITMX", dim.ITMX, kPositive);
    if (dim.ITMXC <= 0) size_error(io, "error: itmxc <= 0 !!!", 5, "the record ITMXC ITMXC1 ITMXC2 TOLNLC", "ITMXC", dim.ITMXC, kPositive);
    alloc_flowstate(surface, ctl, fs);
    io.IPOUT.alloc(std::max(dim.NR, 0));
    io.NODVP.alloc(std::max(dim.NUMVP, 0));
    io.TIMPRT.alloc(std::max(dim.NPRT, 0));
}

void deallocate(dimensions& /*dim*/, control& ctl, iofiles& io, mesh& msh, bcdata& bc,
                transport& tra, soil& sl, sparse& sp, flowstate& fs) {
    release_mesh(msh);
    wfree(io.STDOUT);
    release_bcdata(bc);
    if (ctl.ITRANS != 0) release_transport(tra);
    release_soil(sl);
    release_sparse(sp);
    release_flowstate(fs);
    io.IPOUT.release();
    io.NODVP.release();
    io.TIMPRT.release();
}

}  // namespace nep
