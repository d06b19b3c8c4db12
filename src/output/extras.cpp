// The folders vtk/ and csv/: their creation, the tables (one header row of names with units,
// one record per line, numbers in the shortest form that reads back to the same double) and the
// calls of the ParaView writer at the output times.
#include "output/extras.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/procs.h"
#include "base/stop.h"
#include "mesh/blocks.h"
#include "output/h5series.h"

namespace nep {

bool writes_files() { return proc_writes(); }

namespace {

const char* const kVtkDir = "vtk";
const char* const kCsvDir = "csv";
const char* const kPvdPath = "vtk/nepora3d.pvd";

// One row of a table, built in a fixed buffer.
class csv_row {
public:
    csv_row& num(double v) {
        sep();
        const auto r = std::to_chars(buf_ + n_, buf_ + kCap, v);
        n_ = r.ec == std::errc() ? (std::size_t)(r.ptr - buf_) : n_;
        return *this;
    }
    csv_row& integer(long v) {
        sep();
        const auto r = std::to_chars(buf_ + n_, buf_ + kCap, v);
        n_ = r.ec == std::errc() ? (std::size_t)(r.ptr - buf_) : n_;
        return *this;
    }
    csv_row& text(std::string_view s) {
        sep();
        const std::size_t k = std::min(s.size(), kCap - n_);
        std::memcpy(buf_ + n_, s.data(), k);
        n_ += k;
        return *this;
    }
    void to(ounit& u) {
        u.record(std::string_view(buf_, n_));
        n_ = 0;
    }

private:
    void sep() {
        if (n_ > 0 && n_ < kCap) buf_[n_++] = ',';
    }
    static constexpr std::size_t kCap = 2048;
    char buf_[kCap];
    std::size_t n_ = 0;
};

// A column name with the deck's units: the parts L (length), L3 (volume) and T (time) of
// "flux_L3_T" become "flux_m3_d" under UNITS m d.
std::string with_units(std::string_view name, const extra_files& x) {
    std::string out;
    std::size_t at = 0;
    while (at <= name.size()) {
        std::size_t end = name.find('_', at);
        if (end == std::string_view::npos) end = name.size();
        const std::string_view part = name.substr(at, end - at);
        if (!out.empty()) out += '_';
        if (at > 0 && part == "L") {
            out += x.LUNIT;
        } else if (at > 0 && part == "L3") {
            out += x.LUNIT + "3";
        } else if (at > 0 && part == "T") {
            out += x.TUNIT;
        } else {
            out += part;
        }
        at = end + 1;
    }
    return out;
}

// A header row from the names of up to three space-separated lists.
void header(ounit& u, const extra_files& x, const char* names, const char* more = "",
            const char* last = "") {
    csv_row r;
    for (const std::string_view all :
         {std::string_view(names), std::string_view(more), std::string_view(last)}) {
        std::size_t at = 0;
        while (at < all.size()) {
            std::size_t end = all.find(' ', at);
            if (end == std::string_view::npos) end = all.size();
            if (end > at) r.text(with_units(all.substr(at, end - at), x));
            at = end + 1;
        }
    }
    r.to(u);
}

void remove_file(const char* path) {
    if (writes_files()) std::remove(path);
}

// Only one process of a run touches the folders (base/procs.h).
void make_folder(const char* name) {
    if (!writes_files()) return;
    struct stat st;
    if (::stat(name, &st) == 0 && S_ISDIR(st.st_mode)) return;
    errno = 0;
    if (::mkdir(name, 0777) != 0) {
        input_error(std::string("cannot create the folder '") + name +
                    "' in the deck directory: " + std::strerror(errno ? errno : EACCES) +
                    " (--no-extra-output runs without it)");
    }
}

void open_table(ounit& u, const char* path) {
    errno = 0;
    if (!u.open(path)) {
        input_error(std::string("cannot create the table '") + path + "': " +
                    std::strerror(errno ? errno : EACCES));
    }
}

bool all_digits(std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// The series files of an earlier run from time `from` on (nepora3d_NNNN.vtu, nepora3d_NNNN.pvtu
// and the pieces nepora3d_NNNN_PPPP.vtu), which the new collection would not list.
void remove_old_series(int from = 0) {
    if (!writes_files()) return;
    DIR* d = ::opendir(kVtkDir);
    if (d == nullptr) return;
    while (const dirent* e = ::readdir(d)) {
        const std::string_view n = e->d_name;
        const std::string_view pre = "nepora3d_";
        std::string_view post = ".vtu";
        if (n.size() > post.size() + 1 && n.substr(n.size() - post.size() - 1) == ".pvtu") post = ".pvtu";
        if (n.size() <= pre.size() + post.size() || n.substr(0, pre.size()) != pre ||
            n.substr(n.size() - post.size()) != post) {
            continue;
        }
        const std::string_view middle = n.substr(pre.size(), n.size() - pre.size() - post.size());
        std::string_view digits = middle;
        const std::size_t cut = middle.find('_');
        if (cut != std::string_view::npos) {
            // A piece: a .vtu with the number of its process after the time's.
            if (post != ".vtu" || !all_digits(middle.substr(cut + 1))) continue;
            digits = middle.substr(0, cut);
        }
        if (!all_digits(digits)) continue;
        if (digits.size() < 9 && std::stoi(std::string(digits)) < from) continue;
        std::string path = std::string(kVtkDir) + "/" + std::string(n);
        remove_file(path.c_str());
    }
    ::closedir(d);
}

std::string series_path(int k, int pieces) {
    char path[64];
    std::snprintf(path, sizeof path, "%s/nepora3d_%04d.%s", kVtkDir, k, pieces > 0 ? "pvtu" : "vtu");
    return path;
}

std::string piece_path(int k, int p) {
    char path[64];
    std::snprintf(path, sizeof path, "%s/nepora3d_%04d_%04d.vtu", kVtkDir, k, p);
    return path;
}

// The state at time t of step s in the series, and the collection with it. On several
// processes every process writes its piece and process 0 the .pvtu: all of it within the step
// output, a section whose stop on one process (a piece that cannot be written) stops all.
void series_output(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh,
                   soil& sl, flowstate& fs, double t, int s) {
    extra_files& x = io.EXTRA;
    if (x.NVTU >= x.VTUTIME.size()) return;  // more output times than the run can have
    extra_velocities(dim, ctl, msh, sl, fs, x);
    h5_stage(dim, ctl, msh, sl, fs, x, t, s, x.NVTU);
    const int pieces = x.VTK ? x.PIECES : 0;
    if (!x.VTK) {
        x.VTUPIECES(x.NVTU + 1) = 0;
    } else if (pieces > 0) {
        write_piece(piece_path(x.NVTU, x.PIECE).c_str(), dim, ctl, msh, sl, fs, x, t, s);
        x.VTUPIECES(x.NVTU + 1) = pieces;
        std::vector<std::string> files = series_files(x, x.NVTU);
        files.erase(files.begin());
        write_pvtu(series_path(x.NVTU, pieces).c_str(), files, ctl, x);
    } else {
        x.VTUPIECES(x.NVTU + 1) = 0;
        write_vtu(series_path(x.NVTU, 0).c_str(), dim, ctl, msh, sl, fs, x, t, s);
    }
    x.NVTU += 1;
    x.VTUTIME(x.NVTU) = t;
    x.VTUSTEP(x.NVTU) = s;
    if (pieces > 0) x.UNLISTED = true;
    else if (x.VTK) write_pvd(kPvdPath, x);
    // The nodal velocities are formed anew at every output time.
    x.VXNOD.release();
    x.VYNOD.release();
    x.VZNOD.release();
}

// This process's piece of the series: the tetrahedra of the surface triangles whose
// lowest-numbered vertex is in a column of its part (all the layers of the triangle's prism),
// the nodes they use and the nodes of its own columns (so that every node is in a piece even
// where no triangle of its part's columns starts). The writer numbers the vertices in the
// piece as it writes them.
void make_piece(const dimensions& dim, const mesh& msh, extra_files& x) {
    const long N = dim.N, NNOD = dim.NNOD;
    long nc = 0;
    std::vector<int> local(N + 1, 0);
    each_piece_element(dim, msh, [&](long e) {
        ++nc;
        for (int m = 1; m <= 4; ++m) local[msh.TETRA(m, e)] = 1;
    });
    for (long i = 1; i <= NNOD; ++i) {
        if (!msh.own(i)) continue;
        for (long k = i; k <= N; k += NNOD) local[k] = 1;
    }
    long np = 0;
    for (long i = 1; i <= N; ++i) np += local[i];
    x.PNODE.alloc(np);
    x.PCELLS = nc;
    np = 0;
    for (long i = 1; i <= N; ++i) {
        if (local[i] != 0) x.PNODE(++np) = (int)i;
    }
}

// The observation nodes: the partial-output nodes IPOUT, then the verticals below the profile
// nodes NODVP from the surface down. Nodes outside the mesh are left out (the run stops on them
// at its first step).
void observation_rows(const dimensions& dim_here, const control& ctl, iofiles& io, const mesh& msh,
                      const soil& sl, const flowstate& fs, double t, int s, bool output,
                      const deck_nodes* dn) {
    const dimensions& dim = deck_dim(dn, dim_here);
    const bool coupled = ctl.ITRANS != 0;
    csv_row r;
    auto row = [&](long node, int vertical) {
        const node_values v = node_at(dn, msh, sl, fs, node);
        r.integer(s).num(t).integer(output ? 1 : 0).integer(node).integer(vertical);
        r.num(v.x).num(v.y).num(v.z);
        r.num(v.p).num(v.h).num(v.sw).num(v.kr);
        if (coupled) r.num(v.c);
        r.to(io.EXTRA.OBS);
    };
    for (int k = 1; k <= dim.NR && k <= io.IPOUT.size(); ++k) {
        const int i = io.IPOUT(k);
        if (i >= 1 && i <= dim.N) row(i, 0);
    }
    for (int k = 1; k <= dim.NUMVP && k <= io.NODVP.size(); ++k) {
        const int i = io.NODVP(k);
        if (i < 1 || i > dim.NNOD) continue;
        for (int j = 0; j <= dim.NSTR; ++j) row((long)j * dim.NNOD + i, i);
    }
}

// One row per seepage face: its exit point (position, node and elevation; node 0 and elevation
// nan when no node of the face is saturated) and the flux through its saturated nodes. The
// faces, exit points and fluxes are the same on every process of a cut run; their nodes by the
// deck's numbers in SFDECK.
void seepage_rows(const dimensions& dim_here, iofiles& io, const mesh& msh, const bcdata& bc, double t,
                  int s, const deck_nodes* dn) {
    const dimensions& dim = deck_dim(dn, dim_here);
    const bool cut = cut_run(dn);
    const arr2<int>& nodes = cut ? bc.SFDECK : bc.SFNOD;
    csv_row r;
    for (int f = 1; f <= dim.NSF; ++f) {
        const int n = bc.NSFNUM(f), e = bc.IEXIT(f);
        const bool wet = e >= 1 && e <= n;
        const int node = wet ? nodes(f, e) : 0;
        const bool valid = node >= 1 && node <= dim.N;
        double q = 0.0;
        for (int j = std::max(e, 1); j <= n; ++j) q += bc.SFQ(f, j);
        r.integer(s).num(t).integer(f).integer(n).integer(e).integer(node);
        r.num(!valid ? std::nan("") : watched_or(dn, msh.Z, node, 2));
        r.integer(wet ? n - e + 1 : 0).num(q);
        r.to(io.EXTRA.SEEP);
    }
}

}  // namespace

void extra_open(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh,
                bool unapplied, int outlets, bool uptake) {
    extra_files& x = io.EXTRA;
    if (!x.ON) return;
    const bool coupled = ctl.ITRANS != 0;
    if (x.VTK) {
        make_folder(kVtkDir);
        remove_old_series();
        remove_file(kPvdPath);
    }
    make_folder(kCsvDir);
    h5_open(x);

    open_table(x.BUDGET, "csv/budget.csv");
    header(x.BUDGET, x,
           "step time_T dt_T nonlinear_iterations linear_iterations back_steps"
           " atm_head_in_L3 atm_head_out_L3 bc_head_in_L3 bc_head_out_L3"
           " atm_flux_in_L3 atm_flux_out_L3 bc_flux_in_L3 bc_flux_out_L3 seepage_out_L3"
           " in_L3 out_L3 storage_change_L3 error_L3 rel_error_pct"
           " cum_in_L3 cum_out_L3 cum_storage_change_L3 cum_error_L3 cum_abs_error_L3",
           coupled ? " coupled_iterations solute_dirichlet_in_M solute_dirichlet_out_M"
                     " solute_cauchy_in_M solute_cauchy_out_M solute_storage_change_M"
                     " solute_error_M solute_rel_error_pct cum_solute_in_M cum_solute_out_M"
                     " cum_solute_abs_error_M"
                   : "",
           (std::string(unapplied ? " atm_not_applied_in_L3 atm_not_applied_out_L3" : "") +
            (outlets >= 0 ? " ground_storage_change_L3 outlets_out_L3 infiltration_L3"
                            " exfiltration_L3 cum_outlets_out_L3"
                          : "") +
            (uptake ? " transpiration_potential_L3 uptake_out_L3 cum_uptake_out_L3" : ""))
               .c_str());
    if (outlets >= 0) {
        // The discharge of every outlet, their sum and the volume out so far.
        open_table(x.OUTL, "csv/outlets.csv");
        std::string names = "step time_T";
        for (int k = 1; k <= outlets; ++k) names += " outlet_" + std::to_string(k) + "_L3_T";
        header(x.OUTL, x, names.c_str(), " total_L3_T cum_volume_L3");
    } else {
        remove_file("csv/outlets.csv");
    }

    open_table(x.HYDRO, "csv/hydrograph.csv");
    header(x.HYDRO, x,
           "step time_T dt_T atm_potential_L3_T atm_actual_L3_T overland_L3_T return_L3_T"
           " seepage_L3_T bc_head_L3_T bc_flux_L3_T",
           coupled ? " solute_dirichlet_M_T solute_cauchy_M_T" : "");

    // The tables of observation nodes and seepage faces exist when the deck has some.
    if (dim.NR > 0 || dim.NUMVP > 0) {
        open_table(x.OBS, "csv/observations.csv");
        header(x.OBS, x,
               "step time_T output node vertical x_L y_L z_L pressure_head_L total_head_L"
               " saturation relative_conductivity",
               coupled ? " concentration" : "");
    } else {
        remove_file("csv/observations.csv");
    }

    if (dim.NSF > 0) {
        open_table(x.SEEP, "csv/seepage.csv");
        header(x.SEEP, x, "step time_T face nodes exit_position exit_node exit_z_L saturated_nodes"
                       " flux_L3_T");
    } else {
        remove_file("csv/seepage.csv");
    }

    extra_alloc(dim, ctl, io, msh);
    x.OPEN = true;
    extra_flush(io);
}

void extra_alloc(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh) {
    extra_files& x = io.EXTRA;
    // Initial output, one per output time, the final one.
    x.NVTU = 0;
    x.VTUTIME.alloc(dim.NPRT + 2);
    x.VTUSTEP.alloc(dim.NPRT + 2);
    x.VTUPIECES.alloc(dim.NPRT + 2);
    // Several processes: each writes the piece of its columns, numbered by its process.
    x.PIECES = msh.cut() ? proc_count() : 0;
    x.PIECE = proc_rank();
    if (x.PIECES > 0) make_piece(dim, msh, x);
    x.ITUNS0 = ctl.ITUNS;
    x.ITLIN0 = ctl.ITLIN;
    x.ITUNSC0 = ctl.ITUNSC;
    x.NBKSTEP0 = ctl.NBKSTEP;
    h5_rows(dim, msh, x);
}

void extra_initial(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh,
                   const bcdata& bc, soil& sl, flowstate& fs, const deck_nodes* dn) {
    if (!io.EXTRA.OPEN) return;
    observation_rows(dim, ctl, io, msh, sl, fs, ctl.TIMEP, 0, true, dn);
    seepage_rows(dim, io, msh, bc, ctl.TIMEP, 0, dn);
    extra_flush(io);
}

void extra_series(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh,
                  soil& sl, flowstate& fs, double time, int step) {
    if (io.EXTRA.OPEN) series_output(dim, ctl, io, msh, sl, fs, time, step);
}

void extra_step(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh,
                const bcdata& bc, soil& sl, const massbal& mb, flowstate& fs,
                bool output_time, bool last, const deck_nodes* dn) {
    extra_files& x = io.EXTRA;
    if (!x.OPEN) return;
    const bool coupled = ctl.ITRANS != 0;
    const int s = ctl.NSTEP;
    const double t = ctl.TIME;

    csv_row r;
    r.integer(s).num(t).num(ctl.DELTAT);
    r.integer(ctl.ITUNS - x.ITUNS0).integer(ctl.ITLIN - x.ITLIN0).integer(ctl.NBKSTEP - x.NBKSTEP0);
    for (int k = 1; k <= 8; ++k) r.num(mb.FLXVOL[k]);
    r.num(mb.SFVOL).num(mb.VIN).num(mb.VOUT).num(mb.DSTORE).num(mb.ERRAS).num(mb.ERREL);
    r.num(mb.CIN).num(mb.COUT).num(mb.CSTORE).num(mb.CINOUT - mb.CSTORE).num(mb.CERRAS);
    if (coupled) {
        r.integer(ctl.ITUNSC - x.ITUNSC0);
        for (int k = 1; k <= 4; ++k) r.num(mb.TFLXVOL[k]);
        r.num(mb.TDSTORE).num(mb.TERRAS).num(mb.TERREL);
        r.num(mb.TCIN).num(mb.TCOUT).num(mb.TCERRAS);
    }
    if (mb.NAPON) r.num(mb.NAPVOL[1]).num(mb.NAPVOL[2]);
    if (mb.SURFON) r.num(mb.SSTORE).num(-mb.SOUT).num(mb.SINF).num(mb.SEXF).num(-mb.CSOUT);
    if (mb.ROOTON) r.num(mb.UPTPOT).num(-mb.UPTVOL).num(-mb.CUPTVOL);
    r.to(x.BUDGET);
    if (mb.SURFON) {
        r.integer(s).num(t);
        double q = 0.0;
        for (double v : mb.SOUTQ) {
            r.num(v);
            q += v;
        }
        r.num(q).num(mb.CSOUT);
        r.to(x.OUTL);
    }
    x.ITUNS0 = ctl.ITUNS;
    x.ITLIN0 = ctl.ITLIN;
    x.ITUNSC0 = ctl.ITUNSC;
    x.NBKSTEP0 = ctl.NBKSTEP;

    r.integer(s).num(t).num(ctl.DELTAT);
    r.num(mb.POTFLX).num(mb.ACTFLX).num(mb.OVLFLX).num(mb.RETFLX).num(mb.SFFLX);
    r.num(net_dirflx(mb)).num(net_neuflx(mb));
    if (coupled) r.num(net_tdirflx(mb)).num(net_tcauflx(mb));
    r.to(x.HYDRO);

    x.OBSPOS = x.OBS.position();
    x.OBSCRC = x.OBS.checksum();
    x.OBSOUT = output_time;
    observation_rows(dim, ctl, io, msh, sl, fs, t, s, output_time || last, dn);
    seepage_rows(dim, io, msh, bc, t, s, dn);
    extra_flush(io);
}

void extra_final(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh,
                 soil& sl, flowstate& fs) {
    extra_files& x = io.EXTRA;
    if (!x.OPEN) return;
    if (x.NVTU > 0 && x.VTUSTEP(x.NVTU) == ctl.NSTEP && x.VTUTIME(x.NVTU) == ctl.TIME) return;
    series_output(dim, ctl, io, msh, sl, fs, ctl.TIME, ctl.NSTEP);
}

void extra_rows_again(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh,
                      soil& sl, flowstate& fs, const deck_nodes* dn) {
    if (!io.EXTRA.OPEN) return;
    observation_rows(dim, ctl, io, msh, sl, fs, ctl.TIME, ctl.NSTEP, io.EXTRA.OBSOUT, dn);
    extra_flush(io);
}

std::array<extra_table, 5> extra_tables(iofiles& io) {
    extra_files& x = io.EXTRA;
    return {{{&x.BUDGET, "csv/budget.csv"},
             {&x.OBS, "csv/observations.csv"},
             {&x.HYDRO, "csv/hydrograph.csv"},
             {&x.SEEP, "csv/seepage.csv"},
             {&x.OUTL, "csv/outlets.csv"}}};
}

std::vector<std::string> series_files(const extra_files& x, int k) {
    if (!x.VTK) return {};
    const int pieces = x.VTUPIECES(k + 1);
    std::vector<std::string> files{series_path(k, pieces)};
    for (int p = 0; p < pieces; ++p) files.push_back(piece_path(k, p));
    return files;
}

void extra_resume(iofiles& io) {
    extra_files& x = io.EXTRA;
    if (x.VTK) {
        remove_old_series(x.NVTU);
        remove_file(kPvdPath);
        if (x.NVTU > 0) write_pvd(kPvdPath, x);
    }
    h5_resume(x);
    x.OPEN = true;
}

void extra_list(iofiles& io) {
    extra_files& x = io.EXTRA;
    h5_write(x);
    if (!x.UNLISTED) return;
    x.UNLISTED = false;
    write_pvd(kPvdPath, x);
}

const char* pvd_path() { return kPvdPath; }

void extra_flush(iofiles& io) {
    extra_files& x = io.EXTRA;
    for (ounit* u : {&x.BUDGET, &x.OBS, &x.HYDRO, &x.SEEP, &x.OUTL}) u->flush();
}

void extra_close(iofiles& io) {
    extra_files& x = io.EXTRA;
    for (ounit* u : {&x.BUDGET, &x.OBS, &x.HYDRO, &x.SEEP, &x.OUTL}) u->close();
    x.OPEN = false;
}

}  // namespace nep
