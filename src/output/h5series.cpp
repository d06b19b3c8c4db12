// The HDF5 results file and its XDMF description (output/h5series.h).
#include "output/h5series.h"

#include <hdf5.h>
#include <mpi.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>
#include <type_traits>
#include <vector>

#include "base/procs.h"
#include "base/stop.h"
#include "flow/velocity.h"
#include "output/extras.h"
#include "output/h5calls.h"
#include "records/state.h"

namespace nep {

namespace {

const char* const kH5Dir = "h5";
const char* const kH5Path = "h5/nepora3d.h5";
const char* const kH5Name = "nepora3d.h5";  // as the description names it, beside it
const char* const kXdmfPath = "h5/nepora3d.xdmf";

// The name of an array with the deck's units, as the ParaView series names it: "L" a length or
// head, "LT" a velocity.
std::string unit_name(const char* base, const char* unit, const extra_files& x) {
    std::string n = base;
    if (x.UNITS && unit[0] != '\0') n += "_" + x.LUNIT + (unit[1] == 'T' ? "_" + x.TUNIT : std::string());
    return n;
}

std::string time_group(int k) {
    char g[32];
    std::snprintf(g, sizeof g, "/times/%04d", k);
    return g;
}

void attribute(h5_calls& c, hid_t loc, const char* name, hid_t ftype, hid_t mtype, const void* v) {
    const hid_t sp = H5Screate(H5S_SCALAR);
    const hid_t a = c.check(H5Acreate2(loc, name, ftype, sp, H5P_DEFAULT, H5P_DEFAULT), "creating an attribute");
    c.check(H5Awrite(a, mtype, v), "writing an attribute");
    if (a >= 0) H5Aclose(a);
    H5Sclose(sp);
}

// The description: a temporal collection of the times the file holds, each the mesh of /mesh
// with the arrays of its group. Written whole, then renamed into place.
void write_xdmf(const extra_files& x, const std::vector<int>& times) {
    const h5_staged& h = x.H5OUT;
    const std::string N = std::to_string(h.N), NT = std::to_string(h.NT);
    auto item = [&](const std::string& dims, const char* type, int prec, const std::string& path) {
        return "<DataItem Dimensions=\"" + dims + "\" NumberType=\"" + type + "\" Precision=\"" +
               std::to_string(prec) + "\" Format=\"HDF\">" + kH5Name + ":" + path + "</DataItem>";
    };
    std::string s =
        "<?xml version=\"1.0\" ?>\n"
        "<Xdmf Version=\"3.0\">\n"
        "  <Domain>\n"
        "    <Grid Name=\"nepora3d\" GridType=\"Collection\" CollectionType=\"Temporal\">\n";
    for (int k : times) {
        char t[32];
        const auto r = std::to_chars(t, t + sizeof t - 1, x.VTUTIME(k + 1));
        *r.ptr = '\0';
        const std::string g = time_group(k);
        s += "      <Grid Name=\"" + g.substr(7) + "\" GridType=\"Uniform\">\n";
        s += std::string("        <Time Value=\"") + t + "\"/>\n";
        s += "        <Topology TopologyType=\"Tetrahedron\" NumberOfElements=\"" + NT + "\">" +
             item(NT + " 4", "Int", 4, "/mesh/tetrahedra") + "</Topology>\n";
        s += "        <Geometry GeometryType=\"XYZ\">" + item(N + " 3", "Float", 8, "/mesh/points") +
             "</Geometry>\n";
        for (const char* m : {"material", "layer"}) {
            s += std::string("        <Attribute Name=\"") + m +
                 "\" AttributeType=\"Scalar\" Center=\"Cell\">" + item(NT, "Int", 4, std::string("/mesh/") + m) +
                 "</Attribute>\n";
        }
        for (std::size_t a = 0; a < h.NAMES.size(); ++a) {
            const bool cell = h.CELL[a] != 0, vec = h.COMPS[a] > 1;
            const std::string& rows = cell ? NT : N;
            s += "        <Attribute Name=\"" + h.NAMES[a] + "\" AttributeType=\"" +
                 (vec ? "Vector" : "Scalar") + "\" Center=\"" + (cell ? "Cell" : "Node") + "\">" +
                 item(vec ? rows + " 3" : rows, "Float", 4, g + "/" + h.NAMES[a]) + "</Attribute>\n";
        }
        s += "      </Grid>\n";
    }
    s += "    </Grid>\n"
         "  </Domain>\n"
         "</Xdmf>\n";
    const std::string tmp = std::string(kXdmfPath) + ".part";
    errno = 0;
    std::FILE* f = std::fopen(tmp.c_str(), "w");
    if (f == nullptr) {
        input_error("cannot create the results description '" + tmp + "': " + std::strerror(errno ? errno : EACCES));
    }
    bool ok = std::fwrite(s.data(), 1, s.size(), f) == s.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok || std::rename(tmp.c_str(), kXdmfPath) != 0) {
        input_error(std::string("cannot write the results description '") + kXdmfPath + "': " +
                    std::strerror(errno ? errno : EIO));
    }
}

// The rows of r (ascending) as runs of consecutive rows: first, count, first, count, ...
void runs(const std::vector<std::pair<long long, long>>& r, std::vector<long long>& out, long long& n) {
    out.clear();
    for (std::size_t k = 0; k < r.size();) {
        std::size_t j = k + 1;
        while (j < r.size() && r[j].first == r[j - 1].first + 1) ++j;
        out.push_back(r[k].first);
        out.push_back((long long)(j - k));
        k = j;
    }
    out.shrink_to_fit();
    n = (long long)r.size();
}

// Calls f(e) for the own cells in the order of their rows.
template <class F>
void own_cells(const dimensions& dim, const mesh& msh, const h5_staged& h, F f) {
    if (h.ELEMS.empty()) {
        each_piece_element(dim, msh, f);
    } else {
        for (int e : h.ELEMS) f(e);
    }
}

bool exists(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0;
}

}  // namespace

const char* h5_path() { return kH5Path; }
const char* xdmf_path() { return kXdmfPath; }

void h5_open(extra_files& x) {
    x.H5OUT.MESH = true;
    if (!x.H5 || !proc_writes()) return;
    struct stat st;
    if (::stat(kH5Dir, &st) != 0 || !S_ISDIR(st.st_mode)) {
        errno = 0;
        if (::mkdir(kH5Dir, 0777) != 0) {
            input_error(std::string("cannot create the folder '") + kH5Dir +
                        "' in the deck directory: " + std::strerror(errno ? errno : EACCES) +
                        " (--results without h5 runs without it)");
        }
    }
    std::remove(kH5Path);
    std::remove(kXdmfPath);
}

void h5_resume(extra_files& x) {
    // The file is written on (created anew when the run continued had none); the times after
    // the checkpoint's go when the next one is written, and the description of those before it
    // is written with it.
    x.H5OUT.MESH = false;
}

void h5_rows(const dimensions& dim, const mesh& msh, extra_files& x) {
    h5_staged& h = x.H5OUT;
    if (!x.H5) return;
    const long N = dim.N, NT = dim.NT;
    h.N = msh.cut() ? (long long)msh.NNODW * (dim.NSTR + 1) : N;
    h.NT = msh.cut() ? 3LL * msh.NTRIW * dim.NSTR : NT;
    // Own nodes, and own cells (those of this process's piece of the series; every one on one
    // process), ordered by their deck numbers.
    std::vector<std::pair<long long, long>> r;
    for (long i = 1; i <= N; ++i) {
        if (msh.own(i)) r.push_back({msh.deck_node(i) - 1, i});
    }
    std::sort(r.begin(), r.end());
    h.NODES.clear();
    for (const auto& p : r) h.NODES.push_back((int)p.second);
    runs(r, h.NRUN, h.NOWN);
    r.clear();
    each_piece_element(dim, msh, [&](long e) { r.push_back({msh.deck_element(e) - 1, e}); });
    const bool ordered = std::is_sorted(r.begin(), r.end());
    if (!ordered) std::sort(r.begin(), r.end());
    h.ELEMS.clear();
    if (!ordered) {
        for (const auto& p : r) h.ELEMS.push_back((int)p.second);
    }
    runs(r, h.ERUN, h.EOWN);
    std::vector<std::pair<long long, long>>().swap(r);
    // The mesh, written with the first time of the file.
    h.POINTS.clear();
    for (long i : h.NODES) {
        h.POINTS.push_back(msh.X(i));
        h.POINTS.push_back(msh.Y(i));
        h.POINTS.push_back(msh.Z(i));
    }
    h.CONN.clear();
    h.MAT.clear();
    h.LAYER.clear();
    const long per_layer = 3L * dim.NTRI;
    own_cells(dim, msh, h, [&](long e) {
        for (int m = 1; m <= 4; ++m) h.CONN.push_back((int)(msh.deck_node(msh.TETRA(m, e)) - 1));
        h.MAT.push_back(msh.TETRA(5, e));
        h.LAYER.push_back((int)((e - 1) / per_layer + 1));
    });
}

void h5_stage(const dimensions& dim, const control& ctl, const mesh& msh, const soil& sl,
              const flowstate& fs, extra_files& x, double t, int s, int index) {
    if (!x.H5) return;
    h5_staged& h = x.H5OUT;
    h.NAMES.clear();
    h.COMPS.clear();
    h.CELL.clear();
    h.VALUES.clear();
    auto nodal = [&](const std::string& name, int comps, auto value) {
        h.NAMES.push_back(name);
        h.COMPS.push_back(comps);
        h.CELL.push_back(0);
        for (long i : h.NODES) {
            for (int c = 0; c < comps; ++c) h.VALUES.push_back((float)value(i, c));
        }
    };
    // The point arrays of the series, in its order: the nodal fields of the state that it names
    // (records/state.h), the Darcy velocity after those of every run, the water on the ground.
    auto state = [&](bool of_coupled) {
        series_fields(ctl.ITRANS != 0, of_coupled, &sl, &fs, [&](const field_info& fi, const arr1<double>* v) {
            nodal(unit_name(fi.out, fi.unit, x), 1, [&](long i, int) { return (*v)(i); });
        });
    };
    state(false);
    nodal(unit_name("darcy_velocity", "LT", x), 3, [&](long i, int c) {
        return c == 0 ? x.VXNOD(i) : c == 1 ? x.VYNOD(i) : x.VZNOD(i);
    });
    state(true);
    if (x.SF != nullptr) {
        nodal(unit_name("ground_water_depth", "L", x), 1,
              [&](long i, int) { return i <= dim.NNOD ? std::max(fs.PNEW(i), 0.0) : 0.0; });
        nodal(unit_name("surface_velocity", "LT", x), 3, [&](long i, int c) {
            return i > dim.NNOD || c == 2 ? 0.0 : c == 0 ? x.SVX(i) : x.SVY(i);
        });
    }
    h.NAMES.push_back(unit_name("element_velocity", "LT", x));
    h.COMPS.push_back(3);
    h.CELL.push_back(1);
    own_cells(dim, msh, h, [&](long e) {
        double q[3];
        velocity_of(dim, ctl, msh, sl, fs, e, q);
        for (double v : q) h.VALUES.push_back((float)v);
    });
    h.TIME = t;
    h.STEP = s;
    h.INDEX = index;
    h.PENDING = true;
}

void h5_write(extra_files& x) {
    h5_staged& h = x.H5OUT;
    if (!x.H5 || !h.PENDING) return;
    h.PENDING = false;
    // A new file with the first time of a new run, or where a continued run finds none.
    const bool fresh = proc_root(h.MESH || !exists(kH5Path) ? 1 : 0) != 0;
    const double start = MPI_Wtime();
    h5_calls c;
    const hid_t fapl = H5Pcreate(H5P_FILE_ACCESS);
    c.check(H5Pset_fapl_mpio(fapl, MPI_COMM_WORLD, MPI_INFO_NULL), "setting up MPI-IO");
    const hid_t f = c.check(fresh ? H5Fcreate(kH5Path, H5F_ACC_TRUNC, H5P_DEFAULT, fapl)
                                  : H5Fopen(kH5Path, H5F_ACC_RDWR, fapl),
                            fresh ? "creating the file" : "opening the file");
    H5Pclose(fapl);
    if (fresh && (long long)h.POINTS.size() != 3 * h.NOWN) {
        // The file went during the run (the mesh is kept until it is written once).
        c.check(-1, "the file was removed during the run");
    } else if (fresh) {
        const hid_t g = c.check(H5Gcreate2(f, "/mesh", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), "creating /mesh");
        c.put(g, "points", H5T_IEEE_F64LE, h.N, 3, h.NRUN, h.NOWN, h.POINTS.data());
        c.put(g, "tetrahedra", H5T_STD_I32LE, h.NT, 4, h.ERUN, h.EOWN, h.CONN.data());
        c.put(g, "material", H5T_STD_I32LE, h.NT, 1, h.ERUN, h.EOWN, h.MAT.data());
        c.put(g, "layer", H5T_STD_I32LE, h.NT, 1, h.ERUN, h.EOWN, h.LAYER.data());
        if (g >= 0) H5Gclose(g);
        const hid_t t = c.check(H5Gcreate2(f, "/times", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), "creating /times");
        if (t >= 0) H5Gclose(t);
    }
    // The mesh is written once.
    h.MESH = false;
    std::vector<double>().swap(h.POINTS);
    std::vector<int>().swap(h.CONN);
    std::vector<int>().swap(h.MAT);
    std::vector<int>().swap(h.LAYER);
    // The times of the file: those before this one that it holds (a continued run keeps those
    // of the run it continues), this one, none after it (a continued run writes them anew).
    std::vector<int> times;
    for (int k = 0; f >= 0; ++k) {
        const std::string name = time_group(k);
        const bool there = H5Lexists(f, name.c_str(), H5P_DEFAULT) > 0;
        if (k < h.INDEX) {
            if (there) times.push_back(k);
            continue;
        }
        if (!there) break;
        c.check(H5Ldelete(f, name.c_str(), H5P_DEFAULT), "removing a later time");
    }
    times.push_back(h.INDEX);
    const hid_t g = c.check(H5Gcreate2(f, time_group(h.INDEX).c_str(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
                            "creating a time");
    attribute(c, g, "time", H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, &h.TIME);
    attribute(c, g, "step", H5T_STD_I32LE, H5T_NATIVE_INT, &h.STEP);
    std::size_t at = 0;
    for (std::size_t a = 0; a < h.NAMES.size(); ++a) {
        const bool cell = h.CELL[a] != 0;
        const long long own = cell ? h.EOWN : h.NOWN;
        c.put(g, h.NAMES[a], H5T_IEEE_F32LE, cell ? h.NT : h.N, h.COMPS[a], cell ? h.ERUN : h.NRUN, own,
              h.VALUES.data() + at);
        at += (std::size_t)own * (std::size_t)h.COMPS[a];
    }
    if (g >= 0) H5Gclose(g);
    if (f >= 0) c.check(H5Fclose(f), "closing the file");
    // The staged values go (the next time is staged anew).
    std::vector<float>().swap(h.VALUES);
    double took[2] = {c.ok ? 0.0 : 1.0, MPI_Wtime() - start};
    proc_max(took, 2);
    if (took[0] != 0.0) {
        input_error(std::string("cannot write the results file '") + kH5Path + "': " +
                    (c.ok ? "failed on another process" : c.failed));
    }
    h.WRITES += 1;
    h.SECONDS += took[1];
    for (std::size_t a = 0; a < h.NAMES.size(); ++a) {
        h.BYTES += 4.0 * (double)h.COMPS[a] * (double)(h.CELL[a] != 0 ? h.NT : h.N);
    }
    if (proc_writes()) write_xdmf(x, times);
}

}  // namespace nep
