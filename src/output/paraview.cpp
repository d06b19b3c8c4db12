// The ParaView series: one VTK XML unstructured grid per output time (binary, appended raw,
// little-endian, UInt64 block headers) and the .pvd collection that lists them.
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/stop.h"
#include "flow/velocity.h"
#include "output/extras.h"

namespace nep {

namespace {

// Lends the writer's arrays to the run's records for the length of one velocity computation:
// the element means and velocities of the run are swapped out (no copy, no allocation) and come
// back unchanged when the loan ends.
class velocity_loan {
public:
    velocity_loan(soil& sl, flowstate& fs, extra_files& x) : sl_(sl), fs_(fs), x_(x) { swap_all(); }
    ~velocity_loan() { swap_all(); }
    velocity_loan(const velocity_loan&) = delete;
    velocity_loan& operator=(const velocity_loan&) = delete;

private:
    void swap_all() {
        std::swap(sl_.ELKRW, x_.ELKRW);
        std::swap(fs_.VX, x_.VX);
        std::swap(fs_.VY, x_.VY);
        std::swap(fs_.VZ, x_.VZ);
        std::swap(fs_.VXNOD, x_.VXNOD);
        std::swap(fs_.VYNOD, x_.VYNOD);
        std::swap(fs_.VZNOD, x_.VZNOD);
    }
    soil& sl_;
    flowstate& fs_;
    extra_files& x_;
};

// Binary blocks of the appended data through the writer's buffer, little-endian whatever the
// host.
class block_writer {
public:
    block_writer(std::FILE* f, std::vector<char>& buf, const char* path)
        : f_(f), buf_(buf), path_(path) {}

    void bytes(const void* p, std::size_t k) {
        if (n_ + k > buf_.size()) flush();
        std::memcpy(buf_.data() + n_, p, k);
        n_ += k;
    }
    template <class T>
    void value(T v) {
        unsigned char b[sizeof(T)];
        std::memcpy(b, &v, sizeof(T));
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        for (std::size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(b[i], b[sizeof(T) - 1 - i]);
#endif
        bytes(b, sizeof(T));
    }
    // The header of a block: its length in bytes.
    void header(std::uint64_t nbytes) { value(nbytes); }
    void flush() {
        if (n_ > 0 && std::fwrite(buf_.data(), 1, n_, f_) != n_) fail();
        n_ = 0;
    }
    [[noreturn]] void fail() const {
        input_error(std::string("cannot write the ParaView file '") + path_ + "': " +
                    std::strerror(errno ? errno : EIO));
    }

private:
    std::FILE* f_;
    std::vector<char>& buf_;
    const char* path_;
    std::size_t n_ = 0;
};

// The arrays of a .vtu in the order of their blocks.
enum class vtype { F64, I32, U8 };
enum class vplace { FIELD, POINT, CELL, POINTS, CELLS };
struct varray {
    const char* name;
    vtype type;
    int comps;
    long tuples;
    vplace place;
};

std::size_t type_size(vtype t) { return t == vtype::F64 ? 8 : t == vtype::I32 ? 4 : 1; }
const char* type_name(vtype t) { return t == vtype::F64 ? "Float64" : t == vtype::I32 ? "Int32" : "UInt8"; }

constexpr int kMaxArrays = 20;

// Fills the list; returns its length.
int vtu_arrays(const dimensions& dim, bool coupled, varray* a) {
    const long N = dim.N, NT = dim.NT;
    int k = 0;
    a[k++] = {"TimeValue", vtype::F64, 1, 1, vplace::FIELD};
    a[k++] = {"NSTEP", vtype::I32, 1, 1, vplace::FIELD};
    a[k++] = {"node", vtype::I32, 1, N, vplace::POINT};
    a[k++] = {"pressure_head", vtype::F64, 1, N, vplace::POINT};
    a[k++] = {"total_head", vtype::F64, 1, N, vplace::POINT};
    a[k++] = {"saturation", vtype::F64, 1, N, vplace::POINT};
    a[k++] = {"relative_conductivity", vtype::F64, 1, N, vplace::POINT};
    a[k++] = {"darcy_velocity", vtype::F64, 3, N, vplace::POINT};
    if (coupled) a[k++] = {"concentration", vtype::F64, 1, N, vplace::POINT};
    a[k++] = {"material", vtype::I32, 1, NT, vplace::CELL};
    a[k++] = {"layer", vtype::I32, 1, NT, vplace::CELL};
    a[k++] = {"element_velocity", vtype::F64, 3, NT, vplace::CELL};
    a[k++] = {"Points", vtype::F64, 3, N, vplace::POINTS};
    a[k++] = {"connectivity", vtype::I32, 1, 4 * NT, vplace::CELLS};
    a[k++] = {"offsets", vtype::I32, 1, NT, vplace::CELLS};
    a[k++] = {"types", vtype::U8, 1, NT, vplace::CELLS};
    return k;
}

// The XML part of a .vtu, up to and including the '_' that starts the appended data.
void vtu_header(std::FILE* f, const dimensions& dim, const varray* a, int na, const char* path) {
    std::uint64_t offset[kMaxArrays];
    std::uint64_t at = 0;
    for (int k = 0; k < na; ++k) {
        offset[k] = at;
        at += 8 + type_size(a[k].type) * (std::uint64_t)a[k].comps * (std::uint64_t)a[k].tuples;
    }
    bool ok = std::fprintf(f,
                           "<?xml version=\"1.0\"?>\n"
                           "<VTKFile type=\"UnstructuredGrid\" version=\"1.0\" "
                           "byte_order=\"LittleEndian\" header_type=\"UInt64\">\n"
                           "  <UnstructuredGrid>\n") > 0;
    auto section = [&](vplace p, const char* open, const char* close) {
        ok = ok && std::fprintf(f, "%s", open) > 0;
        for (int k = 0; k < na; ++k) {
            if (a[k].place != p) continue;
            ok = ok && std::fprintf(f, "        <DataArray type=\"%s\" Name=\"%s\"", type_name(a[k].type),
                                    a[k].name) > 0;
            if (a[k].comps > 1) ok = ok && std::fprintf(f, " NumberOfComponents=\"%d\"", a[k].comps) > 0;
            if (p == vplace::FIELD) ok = ok && std::fprintf(f, " NumberOfTuples=\"%ld\"", a[k].tuples) > 0;
            ok = ok && std::fprintf(f, " format=\"appended\" offset=\"%llu\"/>\n",
                                    (unsigned long long)offset[k]) > 0;
        }
        ok = ok && std::fprintf(f, "%s", close) > 0;
    };
    section(vplace::FIELD, "    <FieldData>\n", "    </FieldData>\n");
    ok = ok && std::fprintf(f, "    <Piece NumberOfPoints=\"%d\" NumberOfCells=\"%d\">\n", dim.N,
                            dim.NT) > 0;
    section(vplace::POINT, "      <PointData Scalars=\"pressure_head\" Vectors=\"darcy_velocity\">\n",
            "      </PointData>\n");
    section(vplace::CELL, "      <CellData Scalars=\"material\" Vectors=\"element_velocity\">\n",
            "      </CellData>\n");
    section(vplace::POINTS, "      <Points>\n", "      </Points>\n");
    section(vplace::CELLS, "      <Cells>\n", "      </Cells>\n");
    ok = ok && std::fprintf(f,
                            "    </Piece>\n"
                            "  </UnstructuredGrid>\n"
                            "  <AppendedData encoding=\"raw\">\n"
                            "   _") > 0;
    if (!ok) {
        input_error(std::string("cannot write the ParaView file '") + path + "': " +
                    std::strerror(errno ? errno : EIO));
    }
}

void put_reals(block_writer& w, const arr1<double>& v, long n) {
    for (long i = 1; i <= n; ++i) w.value(v(i));
}

void put_vectors(block_writer& w, const arr1<double>& x, const arr1<double>& y,
                 const arr1<double>& z, long n) {
    for (long i = 1; i <= n; ++i) {
        w.value(x(i));
        w.value(y(i));
        w.value(z(i));
    }
}

}  // namespace

void extra_velocities(const dimensions& dim, const control& ctl, const mesh& msh, soil& sl,
                      const sparse& sp, flowstate& fs, extra_files& x) {
    // The element relative conductivity as elavg forms it, from the characteristics of the
    // current heads.
    const arr2<int>& T = msh.TETRA;
    for (int e = 1; e <= dim.NT; ++e) {
        x.ELKRW(e) = (sl.CKRW(T(1, e)) + sl.CKRW(T(2, e)) + sl.CKRW(T(3, e)) + sl.CKRW(T(4, e))) * 0.25;
    }
    velocity_loan loan(sl, fs, x);
    velele(dim, ctl, msh, sl, sp, fs);
    velnod(dim, msh, fs);
}

void write_vtu(const char* path, const dimensions& dim, const control& ctl, const mesh& msh,
               const soil& sl, const flowstate& fs, extra_files& x, double t, int s) {
    varray a[kMaxArrays];
    const int na = vtu_arrays(dim, ctl.ITRANS != 0, a);
    errno = 0;
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr) {
        input_error(std::string("cannot create the ParaView file '") + path + "': " +
                    std::strerror(errno ? errno : EACCES));
    }
    // The writer's buffer does the buffering.
    std::setvbuf(f, nullptr, _IONBF, 0);
    struct closer {
        std::FILE* f;
        ~closer() { if (f != nullptr) std::fclose(f); }
    } guard{f};

    vtu_header(f, dim, a, na, path);
    block_writer w(f, x.BUF, path);
    const long N = dim.N, NT = dim.NT;
    const int per_layer = 3 * dim.NTRI;
    for (int k = 0; k < na; ++k) {
        w.header(type_size(a[k].type) * (std::uint64_t)a[k].comps * (std::uint64_t)a[k].tuples);
        const std::string_view name = a[k].name;
        if (name == "TimeValue") {
            w.value(t);
        } else if (name == "NSTEP") {
            w.value((std::int32_t)s);
        } else if (name == "node") {
            for (long i = 1; i <= N; ++i) w.value((std::int32_t)i);
        } else if (name == "pressure_head") {
            put_reals(w, fs.PNEW, N);
        } else if (name == "total_head") {
            put_reals(w, fs.HPOT, N);
        } else if (name == "saturation") {
            put_reals(w, sl.SW, N);
        } else if (name == "relative_conductivity") {
            put_reals(w, sl.CKRW, N);
        } else if (name == "darcy_velocity") {
            put_vectors(w, x.VXNOD, x.VYNOD, x.VZNOD, N);
        } else if (name == "concentration") {
            put_reals(w, fs.CNEW, N);
        } else if (name == "material") {
            for (long e = 1; e <= NT; ++e) w.value((std::int32_t)msh.TETRA(5, e));
        } else if (name == "layer") {
            for (long e = 1; e <= NT; ++e) w.value((std::int32_t)((e - 1) / per_layer + 1));
        } else if (name == "element_velocity") {
            put_vectors(w, x.VX, x.VY, x.VZ, NT);
        } else if (name == "Points") {
            put_vectors(w, msh.X, msh.Y, msh.Z, N);
        } else if (name == "connectivity") {
            // Zero-based point indices; the vertex order of the mesh (VTK_TETRA takes either
            // orientation).
            for (long e = 1; e <= NT; ++e) {
                for (int m = 1; m <= 4; ++m) w.value((std::int32_t)(msh.TETRA(m, e) - 1));
            }
        } else if (name == "offsets") {
            for (long e = 1; e <= NT; ++e) w.value((std::int32_t)(4 * e));
        } else if (name == "types") {
            for (long e = 1; e <= NT; ++e) w.value((std::uint8_t)10);  // VTK_TETRA
        }
    }
    w.flush();
    if (std::fputs("\n  </AppendedData>\n</VTKFile>\n", f) < 0) w.fail();
    guard.f = nullptr;
    if (std::fclose(f) != 0) w.fail();
}

void write_pvd(const char* path, const extra_files& x) {
    char tmp[512];
    std::snprintf(tmp, sizeof tmp, "%s.part", path);
    errno = 0;
    std::FILE* f = std::fopen(tmp, "w");
    if (f == nullptr) {
        input_error(std::string("cannot create the ParaView file '") + tmp + "': " +
                    std::strerror(errno ? errno : EACCES));
    }
    bool ok = std::fprintf(f,
                           "<?xml version=\"1.0\"?>\n"
                           "<VTKFile type=\"Collection\" version=\"0.1\" "
                           "byte_order=\"LittleEndian\">\n"
                           "  <Collection>\n") > 0;
    for (int k = 1; k <= x.NVTU; ++k) {
        // The time in the shortest form that reads back to the same double.
        char t[32];
        const auto r = std::to_chars(t, t + sizeof t - 1, x.VTUTIME(k));
        *r.ptr = '\0';
        ok = ok && std::fprintf(f,
                                "    <DataSet timestep=\"%s\" group=\"\" part=\"0\" "
                                "file=\"nepora3d_%04d.vtu\"/>\n",
                                t, k - 1) > 0;
    }
    ok = ok && std::fprintf(f, "  </Collection>\n</VTKFile>\n") > 0;
    ok = std::fclose(f) == 0 && ok;
    if (!ok || std::rename(tmp, path) != 0) {
        input_error(std::string("cannot write the ParaView file '") + path + "': " +
                    std::strerror(errno ? errno : EIO));
    }
}

}  // namespace nep
