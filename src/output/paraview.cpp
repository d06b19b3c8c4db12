// The ParaView series: one VTK XML unstructured grid per output time (binary, appended raw,
// zlib-compressed, little-endian, UInt64 block headers) and the .pvd collection that lists them.
// On several processes a time is a parallel unstructured grid (.pvtu, written by process 0)
// whose pieces are the grids of each process's columns, each written by its own process.
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/procs.h"
#include "base/stop.h"
#include "flow/velocity.h"
#include "output/extras.h"
#include "records/state.h"
#include "surface/overland.h"

namespace nep {

namespace {

// The appended data of one array: its raw bytes, little-endian whatever the host, cut into blocks
// that are deflated one by one (zlib) and written at once, then the header that VTK's zlib
// compressor puts before them (block count, block size, size of the last partial block, the
// compressed size of each block, all UInt64) written into the room left for it. The writer holds
// one raw block and one compressed block, whatever the mesh.
class zblock_writer {
public:
    static constexpr std::size_t kBlock = 1 << 16;

    zblock_writer(std::FILE* f, std::vector<char>& buf, const char* path)
        : f_(f), buf_(buf), path_(path) {
        buf_.resize(kBlock + compressBound(kBlock));
    }

    // Starts an array of nbytes raw bytes.
    void begin(std::uint64_t nbytes) {
        nblocks_ = (nbytes + kBlock - 1) / kBlock;
        last_ = nbytes % kBlock;
        sizes_.assign(nblocks_, 0);
        block_ = 0;
        start_ = std::ftell(f_);
        if (start_ < 0) fail();
        const std::uint64_t zero = 0;
        for (std::uint64_t i = 0; i < nblocks_ + 3; ++i) put_words(&zero, 1);
    }
    void bytes(const void* p, std::size_t k) {
        const char* c = static_cast<const char*>(p);
        while (k > 0) {
            const std::size_t m = std::min(k, kBlock - n_);
            std::memcpy(buf_.data() + n_, c, m);
            n_ += m;
            c += m;
            k -= m;
            if (n_ == kBlock) deflate_block();
        }
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
    // Ends the array; returns the bytes it took in the file, header included.
    std::uint64_t end() {
        if (n_ > 0) deflate_block();
        const long stop = std::ftell(f_);
        std::uint64_t head[3] = {nblocks_, kBlock, last_};
        if (stop < 0 || std::fseek(f_, start_, SEEK_SET) != 0) fail();
        put_words(head, 3);
        put_words(sizes_.data(), nblocks_);
        if (std::fseek(f_, stop, SEEK_SET) != 0) fail();
        return (std::uint64_t)(stop - start_);
    }
    [[noreturn]] void fail() const {
        input_error(std::string("cannot write the ParaView file '") + path_ + "': " +
                    std::strerror(errno ? errno : EIO));
    }

private:
    void deflate_block() {
        unsigned char* out = reinterpret_cast<unsigned char*>(buf_.data() + kBlock);
        uLongf len = (uLongf)(buf_.size() - kBlock);
        if (compress2(out, &len, reinterpret_cast<const Bytef*>(buf_.data()), (uLong)n_, kLevel) != Z_OK) {
            errno = ENOMEM;
            fail();
        }
        if (std::fwrite(out, 1, len, f_) != len) fail();
        sizes_[block_++] = len;
        n_ = 0;
    }
    void put_words(const std::uint64_t* w, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            unsigned char b[8];
            for (int j = 0; j < 8; ++j) b[j] = (unsigned char)(w[i] >> (8 * j));
            if (std::fwrite(b, 1, 8, f_) != 8) fail();
        }
    }
    // Speed before the last percent: the fields of a run barely compress beyond it.
    static constexpr int kLevel = 1;

    std::FILE* f_;
    std::vector<char>& buf_;
    const char* path_;
    std::size_t n_ = 0;
    std::uint64_t nblocks_ = 0, last_ = 0;
    std::size_t block_ = 0;
    long start_ = 0;
    std::vector<std::uint64_t> sizes_;
};

// The arrays of a .vtu in the order of their blocks.
enum class vtype { F64, F32, I32, U8 };
enum class vplace { FIELD, POINT, CELL, POINTS, CELLS };
// unit: "" none, "L" a length or head, "LT" a velocity (length per time), named after the
// deck's units when it gives them.
struct varray {
    const char* name;
    vtype type;
    int comps;
    long tuples;
    vplace place;
    const char* unit = "";
    const arr1<double>* values = nullptr;  // a nodal field of the state (records/state.h)
};

std::size_t type_size(vtype t) { return t == vtype::F64 ? 8 : t == vtype::U8 ? 1 : 4; }
const char* type_name(vtype t) {
    return t == vtype::F64 ? "Float64" : t == vtype::F32 ? "Float32" : t == vtype::I32 ? "Int32" : "UInt8";
}

constexpr int kMaxArrays = 32;

// What one .vtu holds: the whole mesh (point k is node k, cell k element k), or the piece of
// one process, whose points are the nodes it lists and whose cells the tetrahedra of its
// columns (each_piece_element), in its numbering.
struct grid_part {
    long points, cells;
    const extra_files* piece;  // nullptr: the whole mesh

    const arr1<int>* nodes() const { return piece != nullptr ? &piece->PNODE : nullptr; }
};

grid_part whole_mesh(const dimensions& dim) { return {dim.N, dim.NT, nullptr}; }
grid_part own_piece(const extra_files& x) { return {x.PNODE.size(), x.PCELLS, &x}; }

// Fills the list; returns its length. A piece adds the element numbers of its cells (the points
// have their node numbers in any case). The point arrays of the state are the nodal fields
// that records/state.h names in the series: those of every run (pressure and total head,
// saturation, relative conductivity), the Darcy velocity (formed here), those of coupled runs
// (concentration); then, with a surface-flow section (`ground`), the water on the ground. With
// sl and fs null (the .pvtu) only their declarations are listed.
int vtu_arrays(long N, long NT, bool piece, bool coupled, bool ground, varray* a,
               const soil* sl = nullptr, const flowstate* fs = nullptr) {
    int k = 0;
    auto state = [&](bool of_coupled) {
        series_fields(coupled, of_coupled, sl, fs, [&](const field_info& fi, const arr1<double>* v) {
            if (k + 12 > kMaxArrays) input_error("internal error: too many ParaView arrays");
            a[k++] = {fi.out, vtype::F32, 1, N, vplace::POINT, fi.unit, v};
        });
    };
    a[k++] = {"TimeValue", vtype::F64, 1, 1, vplace::FIELD};
    a[k++] = {"NSTEP", vtype::I32, 1, 1, vplace::FIELD};
    a[k++] = {"node", vtype::I32, 1, N, vplace::POINT};
    state(false);
    a[k++] = {"darcy_velocity", vtype::F32, 3, N, vplace::POINT, "LT"};
    state(true);
    if (ground) {
        // The water on the ground, at the points of the top layer (0 below it).
        a[k++] = {"ground_water_depth", vtype::F32, 1, N, vplace::POINT, "L"};
        a[k++] = {"surface_velocity", vtype::F32, 3, N, vplace::POINT, "LT"};
    }
    if (piece) a[k++] = {"element", vtype::I32, 1, NT, vplace::CELL};
    a[k++] = {"material", vtype::I32, 1, NT, vplace::CELL};
    a[k++] = {"layer", vtype::I32, 1, NT, vplace::CELL};
    a[k++] = {"element_velocity", vtype::F32, 3, NT, vplace::CELL, "LT"};
    a[k++] = {"Points", vtype::F64, 3, N, vplace::POINTS};
    a[k++] = {"connectivity", vtype::I32, 1, 4 * NT, vplace::CELLS};
    a[k++] = {"offsets", vtype::I32, 1, NT, vplace::CELLS};
    a[k++] = {"types", vtype::U8, 1, NT, vplace::CELLS};
    return k;
}

// Width of the offsets in the XML part: written as zeros first and filled in when the
// compressed sizes are known.
constexpr int kOffsetWidth = 20;

// The declaration of an array, up to its own attributes: `tag` (DataArray in a .vtu,
// PDataArray in a .pvtu), its type, its name (with the deck's units when it gives them) and
// its components.
std::string array_tag(const char* tag, const varray& a, const extra_files& x) {
    std::string h = std::string("<") + tag + " type=\"" + type_name(a.type) + "\" Name=\"" + a.name;
    if (x.UNITS && a.unit[0] != '\0') {
        h += "_" + x.LUNIT + (a.unit[1] == 'T' ? "_" + x.TUNIT : std::string());
    }
    h += "\"";
    if (a.comps > 1) h += " NumberOfComponents=\"" + std::to_string(a.comps) + "\"";
    return h;
}

// The XML part of a .vtu, up to and including the '_' that starts the appended data; `at`
// receives the position in it of each array's offset.
std::string vtu_header(const grid_part& g, const extra_files& x, const varray* a, int na,
                       std::size_t* at) {
    std::string h =
        "<?xml version=\"1.0\"?>\n"
        "<VTKFile type=\"UnstructuredGrid\" version=\"1.0\" byte_order=\"LittleEndian\" "
        "header_type=\"UInt64\" compressor=\"vtkZLibDataCompressor\">\n"
        "  <UnstructuredGrid>\n";
    auto section = [&](vplace p, const char* open, const char* close) {
        h += open;
        for (int k = 0; k < na; ++k) {
            if (a[k].place != p) continue;
            h += "        " + array_tag("DataArray", a[k], x);
            if (p == vplace::FIELD) h += " NumberOfTuples=\"" + std::to_string(a[k].tuples) + "\"";
            h += " format=\"appended\" offset=\"";
            at[k] = h.size();
            h += std::string(kOffsetWidth, '0') + "\"/>\n";
        }
        h += close;
    };
    section(vplace::FIELD, "    <FieldData>\n", "    </FieldData>\n");
    h += "    <Piece NumberOfPoints=\"" + std::to_string(g.points) + "\" NumberOfCells=\"" +
         std::to_string(g.cells) + "\">\n";
    section(vplace::POINT, "      <PointData Scalars=\"pressure_head\" Vectors=\"darcy_velocity\">\n",
            "      </PointData>\n");
    section(vplace::CELL, "      <CellData Scalars=\"material\" Vectors=\"element_velocity\">\n",
            "      </CellData>\n");
    section(vplace::POINTS, "      <Points>\n", "      </Points>\n");
    section(vplace::CELLS, "      <Cells>\n", "      </Cells>\n");
    h += "    </Piece>\n"
         "  </UnstructuredGrid>\n"
         "  <AppendedData encoding=\"raw\">\n"
         "   _";
    return h;
}

// The values at 1..n, or at the n places that `at` lists (the nodes of the points or the
// elements of the cells of a piece).
template <class T>
void put_reals(zblock_writer& w, const arr1<double>& v, long n, const arr1<int>* at) {
    if (at == nullptr) {
        for (long i = 1; i <= n; ++i) w.value((T)v(i));
    } else {
        for (long k = 1; k <= n; ++k) w.value((T)v((*at)(k)));
    }
}

template <class T>
void put_vectors(zblock_writer& w, const arr1<double>& x, const arr1<double>& y,
                 const arr1<double>& z, long n, const arr1<int>* at) {
    for (long k = 1; k <= n; ++k) {
        const long i = at == nullptr ? k : (*at)(k);
        w.value((T)x(i));
        w.value((T)y(i));
        w.value((T)z(i));
    }
}

[[noreturn]] void cannot_create(const std::string& path) {
    input_error("cannot create the ParaView file '" + path + "': " +
                std::strerror(errno ? errno : EACCES));
}

// One .vtu of g: the state at time t of step s (the velocities already in x), at path.
void write_grid(const char* path, const grid_part& g, const dimensions& dim, const control& ctl,
                const mesh& msh, const soil& sl, const flowstate& fs, extra_files& x, double t,
                int s) {
    varray a[kMaxArrays];
    const int na = vtu_arrays(g.points, g.cells, g.piece != nullptr, ctl.ITRANS != 0, x.SF != nullptr, a,
                              &sl, &fs);
    errno = 0;
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr) cannot_create(path);
    struct closer {
        std::FILE* f;
        ~closer() { if (f != nullptr) std::fclose(f); }
    } guard{f};

    std::size_t at[kMaxArrays];
    const std::string head = vtu_header(g, x, a, na, at);
    zblock_writer w(f, x.BUF, path);
    if (std::fwrite(head.data(), 1, head.size(), f) != head.size()) w.fail();
    const long N = g.points, NT = g.cells;
    const arr1<int>* P = g.nodes();
    const int per_layer = 3 * dim.NTRI;
    // The elements of the cells, in their order (the whole mesh's, which is not cut, or a
    // piece's).
    auto cells = [&](auto f) { each_piece_element(dim, msh, f); };
    std::uint64_t offset[kMaxArrays];
    std::uint64_t data = 0;
    for (int k = 0; k < na; ++k) {
        offset[k] = data;
        w.begin(type_size(a[k].type) * (std::uint64_t)a[k].comps * (std::uint64_t)a[k].tuples);
        const std::string_view name = a[k].name;
        if (a[k].values != nullptr) {
            put_reals<float>(w, *a[k].values, N, P);
        } else if (name == "TimeValue") {
            w.value(t);
        } else if (name == "NSTEP") {
            w.value((std::int32_t)s);
        } else if (name == "node") {
            for (long i = 1; i <= N; ++i) w.value((std::int32_t)msh.deck_node(P == nullptr ? i : (*P)(i)));
        } else if (name == "darcy_velocity") {
            put_vectors<float>(w, x.VXNOD, x.VYNOD, x.VZNOD, N, P);
            // Not needed after this array (nor kept while the connectivity is numbered).
            x.VXNOD.release();
            x.VYNOD.release();
            x.VZNOD.release();
        } else if (name == "ground_water_depth") {
            for (long k = 1; k <= N; ++k) {
                const long i = P == nullptr ? k : (*P)(k);
                w.value((float)(i <= dim.NNOD ? std::max(fs.PNEW(i), 0.0) : 0.0));
            }
        } else if (name == "surface_velocity") {
            for (long k = 1; k <= N; ++k) {
                const long i = P == nullptr ? k : (*P)(k);
                const bool top = i <= dim.NNOD;
                w.value((float)(top ? x.SVX(i) : 0.0));
                w.value((float)(top ? x.SVY(i) : 0.0));
                w.value(0.0f);
            }
        } else if (name == "element") {
            cells([&](long e) { w.value((std::int32_t)msh.deck_element(e)); });
        } else if (name == "material") {
            cells([&](long e) { w.value((std::int32_t)msh.TETRA(5, e)); });
        } else if (name == "layer") {
            cells([&](long e) { w.value((std::int32_t)((e - 1) / per_layer + 1)); });
        } else if (name == "element_velocity") {
            // Formed here, cell by cell: the writer keeps none of them.
            cells([&](long e) {
                double q[3];
                velocity_of(dim, ctl, msh, sl, fs, e, q);
                w.value((float)q[0]);
                w.value((float)q[1]);
                w.value((float)q[2]);
            });
        } else if (name == "Points") {
            put_vectors<double>(w, msh.X, msh.Y, msh.Z, N, P);
        } else if (name == "connectivity") {
            // Zero-based point indices; the vertex order of the mesh (VTK_TETRA takes either
            // orientation).
            if (g.piece != nullptr) {
                // The piece's numbering of the nodes held, for the length of the write.
                std::vector<int> local((std::size_t)dim.N + 1, 0);
                for (long k = 1; k <= N; ++k) local[(std::size_t)(*P)(k)] = (int)k;
                cells([&](long e) {
                    for (int m = 1; m <= 4; ++m) w.value((std::int32_t)(local[(std::size_t)msh.TETRA(m, e)] - 1));
                });
            } else {
                for (long e = 1; e <= NT; ++e) {
                    for (int m = 1; m <= 4; ++m) w.value((std::int32_t)(msh.TETRA(m, e) - 1));
                }
            }
        } else if (name == "offsets") {
            for (long c = 1; c <= NT; ++c) w.value((std::int32_t)(4 * c));
        } else if (name == "types") {
            for (long c = 1; c <= NT; ++c) w.value((std::uint8_t)10);  // VTK_TETRA
        }
        data += w.end();
    }
    if (std::fputs("\n  </AppendedData>\n</VTKFile>\n", f) < 0) w.fail();
    // The offsets, now that the compressed sizes are known.
    for (int k = 0; k < na; ++k) {
        char digits[kOffsetWidth + 1];
        std::snprintf(digits, sizeof digits, "%0*llu", kOffsetWidth, (unsigned long long)offset[k]);
        if (std::fseek(f, (long)at[k], SEEK_SET) != 0 || std::fwrite(digits, 1, kOffsetWidth, f) != kOffsetWidth) {
            w.fail();
        }
    }
    guard.f = nullptr;
    if (std::fclose(f) != 0) w.fail();
}

// The file name (without its folder) of a path.
const char* base_name(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
}

}  // namespace

void extra_velocities(const dimensions& dim, const control& ctl, const mesh& msh, soil& sl,
                      flowstate& fs, extra_files& x) {
    if (x.SF != nullptr) surface_velocity(dim, msh, fs.PNEW, *x.SF, x.SVX, x.SVY);
    // From the characteristics of the current heads; the element velocities are formed again
    // where they are written.
    x.VXNOD.alloc(dim.N);
    x.VYNOD.alloc(dim.N);
    x.VZNOD.alloc(dim.N);
    velnod_of(dim, ctl, msh, sl, fs, nullptr, x.VXNOD, x.VYNOD, x.VZNOD);
}

void write_vtu(const char* path, const dimensions& dim, const control& ctl, const mesh& msh,
               const soil& sl, const flowstate& fs, extra_files& x, double t, int s) {
    if (!writes_files()) return;
    write_grid(path, whole_mesh(dim), dim, ctl, msh, sl, fs, x, t, s);
}

void write_piece(const char* path, const dimensions& dim, const control& ctl, const mesh& msh,
                 const soil& sl, const flowstate& fs, extra_files& x, double t, int s) {
    write_grid(path, own_piece(x), dim, ctl, msh, sl, fs, x, t, s);
}

void write_pvtu(const char* path, const std::vector<std::string>& pieces, const control& ctl,
                const extra_files& x) {
    if (!writes_files()) return;
    // The arrays of the pieces (their sizes do not matter here).
    varray a[kMaxArrays];
    const int na = vtu_arrays(0, 0, true, ctl.ITRANS != 0, x.SF != nullptr, a);
    std::string h =
        "<?xml version=\"1.0\"?>\n"
        "<VTKFile type=\"PUnstructuredGrid\" version=\"1.0\" byte_order=\"LittleEndian\" "
        "header_type=\"UInt64\">\n"
        "  <PUnstructuredGrid GhostLevel=\"0\">\n";
    auto section = [&](vplace p, const char* open, const char* close) {
        h += open;
        for (int k = 0; k < na; ++k) {
            if (a[k].place != p) continue;
            h += "      " + array_tag("PDataArray", a[k], x) + "/>\n";
        }
        h += close;
    };
    section(vplace::POINT, "    <PPointData Scalars=\"pressure_head\" Vectors=\"darcy_velocity\">\n",
            "    </PPointData>\n");
    section(vplace::CELL, "    <PCellData Scalars=\"material\" Vectors=\"element_velocity\">\n",
            "    </PCellData>\n");
    section(vplace::POINTS, "    <PPoints>\n", "    </PPoints>\n");
    for (const std::string& p : pieces) {
        h += std::string("    <Piece Source=\"") + base_name(p) + "\"/>\n";
    }
    h += "  </PUnstructuredGrid>\n"
         "</VTKFile>\n";
    errno = 0;
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr) cannot_create(path);
    const bool ok = std::fwrite(h.data(), 1, h.size(), f) == h.size();
    if (std::fclose(f) != 0 || !ok) {
        input_error(std::string("cannot write the ParaView file '") + path + "': " +
                    std::strerror(errno ? errno : EIO));
    }
}

void write_pvd(const char* path, const extra_files& x) {
    if (!writes_files()) return;
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
                                "file=\"nepora3d_%04d.%s\"/>\n",
                                t, k - 1, x.VTUPIECES(k) > 0 ? "pvtu" : "vtu") > 0;
    }
    ok = ok && std::fprintf(f, "  </Collection>\n</VTKFile>\n") > 0;
    ok = std::fclose(f) == 0 && ok;
    if (!ok || std::rename(tmp, path) != 0) {
        input_error(std::string("cannot write the ParaView file '") + path + "': " +
                    std::strerror(errno ? errno : EIO));
    }
}

}  // namespace nep
