#include "run/ckptarrays.h"

#include <hdf5.h>
#include <mpi.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <type_traits>
#include <utility>

#include "base/procs.h"
#include "output/h5calls.h"

namespace nep {

namespace {

// The entries of an array that a process writes or reads, in the order of their deck numbers:
// the runs of consecutive deck numbers (first from 0, count), the entry of the process's array
// (from 1) of each, and whether the process's part of the sums counts it.
struct plan {
    std::vector<long long> runs;
    long long n = 0;
    std::vector<long> local;
    std::vector<char> counted;
};

// The hash of a value (its bits) at its place in the dataset (entry times rows plus row).
std::uint64_t mix(std::uint64_t place, std::uint64_t bits) {
    std::uint64_t z = bits ^ (place * 0x9E3779B97F4A7C15ULL);
    z += 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}
template <class T>
std::uint64_t bits_of(T v) {
    if constexpr (std::is_same_v<T, double>) {
        std::uint64_t b = 0;
        std::memcpy(&b, &v, sizeof b);
        return b;
    } else {
        return (std::uint32_t)v;
    }
}
template <class T>
hid_t file_type() {
    return std::is_same_v<T, double> ? H5T_IEEE_F64LE : H5T_STD_I32LE;
}

// Whether this process owns entry i of its mesh's array of extent e: a node (or surface node,
// the first NNOD nodes) of its own columns, a tetrahedron of one.
bool owns(const records& R, extent e, long i) {
    return e == extent::ELEMENTS ? R.msh.own_element(i) : R.msh.own(i);
}

void make_runs(std::vector<std::pair<long long, long>>& r, plan& p) {
    std::sort(r.begin(), r.end());
    p.runs.clear();
    for (std::size_t k = 0; k < r.size();) {
        std::size_t j = k + 1;
        while (j < r.size() && r[j].first == r[j - 1].first + 1) ++j;
        p.runs.push_back(r[k].first);
        p.runs.push_back((long long)(j - k));
        k = j;
    }
    p.n = (long long)r.size();
    p.local.clear();
    for (const auto& x : r) p.local.push_back(x.second);
}

// What a process of a cut run holds of extent e (`owned`: its own entries alone), each counted
// in the sums when it owns it.
plan held_plan(const records& R, extent e, bool owned, bool counted) {
    std::vector<std::pair<long long, long>> r;
    const long n = extent_size(e, R.dim);
    std::vector<char> own((std::size_t)n + 1, 0);
    for (long i = 1; i <= n; ++i) {
        own[(std::size_t)i] = owns(R, e, i) ? 1 : 0;
        if (!owned || own[(std::size_t)i]) r.push_back({deck_number(R.msh, e, i) - 1, i});
    }
    plan p;
    make_runs(r, p);
    for (long i : p.local) p.counted.push_back(counted && own[(std::size_t)i]);
    return p;
}

// Every entry of `entries` (or none), in their order, counted or not.
plan whole_plan(long long entries, bool all, bool counted) {
    plan p;
    if (!all || entries == 0) return p;
    p.runs = {0, entries};
    p.n = entries;
    p.local.resize((std::size_t)entries);
    for (long long k = 0; k < entries; ++k) p.local[(std::size_t)k] = (long)k + 1;
    p.counted.assign((std::size_t)entries, counted ? 1 : 0);
    return p;
}

template <class T>
long rows_of(const arr1<T>&) { return 1; }
template <class T>
long rows_of(const arr2<T>& a) { return a.n1(); }
template <class T>
void alloc_entries(arr1<T>& a, long rows, long n) { (void)rows; a.alloc((std::size_t)n); }
template <class T>
void alloc_entries(arr2<T>& a, long rows, long n) { a.alloc(rows, n); }

// The plans of one write or read, kept in place (the file spaces refer to their runs).
struct plans {
    std::map<int, plan> kept;
    template <class F>
    const plan& get(int key, F make) {
        auto it = kept.find(key);
        if (it == kept.end()) it = kept.emplace(key, make()).first;
        return it->second;
    }
};

hid_t open_fapl(h5_calls& c) {
    const hid_t fapl = H5Pcreate(H5P_FILE_ACCESS);
    c.check(H5Pset_fapl_mpio(fapl, MPI_COMM_WORLD, MPI_INFO_NULL), "setting up MPI-IO");
    return fapl;
}

}  // namespace

std::string write_state_arrays(records& R, ckpt_arrays& A) {
    const double start = MPI_Wtime();
    unsigned long long token = 0;
    if (proc_rank() == 0) {
        std::random_device rd;
        token = ((unsigned long long)rd() << 32) ^ rd() ^ (unsigned long long)(start * 1e6);
        if (token == 0) token = 1;
    }
    MPI_Bcast(&token, 1, MPI_UNSIGNED_LONG_LONG, 0, MPI_COMM_WORLD);
    A.token = token;
    A.list.clear();
    h5_calls c;
    const hid_t fapl = open_fapl(c);
    const hid_t f = c.check(H5Fcreate(A.path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, fapl), "creating the file");
    H5Pclose(fapl);
    {
        const hid_t sp = H5Screate(H5S_SCALAR);
        const hid_t a = c.check(H5Acreate2(f, "token", H5T_STD_U64LE, sp, H5P_DEFAULT, H5P_DEFAULT), "creating the token");
        c.check(H5Awrite(a, H5T_NATIVE_ULLONG, &token), "writing the token");
        if (a >= 0) H5Aclose(a);
        H5Sclose(sp);
    }
    plans P;
    std::vector<std::uint64_t> sums;
    checkpoint_arrays(R, [&](auto& a, const field_info& fi, auto) {
        using T = std::remove_cv_t<std::remove_reference_t<decltype(*a.data())>>;
        const auto* from = &a;
        int have[2] = {from != nullptr && !from->empty() ? 1 : 0, from != nullptr ? (int)rows_of(*from) : 0};
        proc_max(have, 2);
        ckpt_array e{fi.name, have[0] ? deck_size(R, fi.where) : 0, std::max(have[1], 1), 0};
        std::uint64_t sum = 0;
        if (e.entries > 0) {
            const plan& p = P.get((int)fi.where, [&] { return held_plan(R, fi.where, true, true); });
            const long rows = (long)e.rows;
            std::vector<T> buf((std::size_t)(p.n * rows));
            if (p.n > 0 && (from == nullptr || from->empty())) c.check(-1, "an array missing on a process");
            for (std::size_t k = 0; k < (std::size_t)p.n && from != nullptr && !from->empty(); ++k) {
                const std::size_t at = (std::size_t)(p.local[k] - 1) * (std::size_t)rows;
                for (long r = 0; r < rows; ++r) {
                    buf[k * (std::size_t)rows + (std::size_t)r] = from->data()[at + (std::size_t)r];
                }
            }
            // The sum of the values written, each at its place in the dataset.
            std::size_t k = 0;
            for (std::size_t q = 0; q + 1 < p.runs.size(); q += 2) {
                for (long long d = p.runs[q]; d < p.runs[q] + p.runs[q + 1]; ++d, ++k) {
                    for (long r = 0; r < rows; ++r) {
                        sum += mix((std::uint64_t)d * (std::uint64_t)rows + (std::uint64_t)r,
                                   bits_of(buf[k * (std::size_t)rows + (std::size_t)r]));
                    }
                }
            }
            c.put(f, fi.name, file_type<T>(), e.entries, (int)rows, p.runs, p.n, buf.data());
        }
        sums.push_back(sum);
        A.list.push_back(e);
    });
    if (f >= 0) c.check(H5Fclose(f), "closing the file");
    MPI_Allreduce(MPI_IN_PLACE, sums.data(), (int)sums.size(), MPI_UINT64_T, MPI_SUM, MPI_COMM_WORLD);
    for (std::size_t k = 0; k < sums.size(); ++k) A.list[k].sum = sums[k];
    double took[2] = {c.ok ? 0.0 : 1.0, MPI_Wtime() - start};
    proc_max(took, 2);
    A.seconds = took[1];
    if (took[0] != 0.0) return c.ok ? "failed on another process" : c.failed;
    return "";
}

std::string read_state_arrays(records& R, const ckpt_arrays& A) {
    const double start = MPI_Wtime();
    const std::string named = "names the arrays file '" + A.path + "', which ";
    struct stat st {};
    const int missing = proc_max(::stat(A.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ? 1 : 0);
    if (missing != 0) return named + "is missing";
    // Independent reads: the rows that several processes read overlap (the rings), and OpenMPI's
    // collective read returned wrong values to process 0 here once (4 processes on the
    // 840,000-node hillslope: bc.SATSUR, which it then read whole; the sums caught it). Each process's reads are its own runs of rows.
    h5_calls c(false);
    const hid_t fapl = open_fapl(c);
    const hid_t f = c.check(H5Fopen(A.path.c_str(), H5F_ACC_RDONLY, fapl), "opening the file");
    H5Pclose(fapl);
    unsigned long long token = 0;
    if (f >= 0) {
        const hid_t a = H5Aopen(f, "token", H5P_DEFAULT);
        if (a < 0 || H5Aread(a, H5T_NATIVE_ULLONG, &token) < 0) token = 0;
        if (a >= 0) H5Aclose(a);
    }
    const int other = proc_max(f < 0 ? 2 : token != A.token ? 1 : 0);
    if (other != 0) {
        if (f >= 0) H5Fclose(f);
        return named + (other == 2 ? "cannot be opened as an HDF5 file"
                                   : "was written with another checkpoint");
    }
    const bool cut = R.msh.cut();
    plans P;
    std::vector<std::uint64_t> sums;
    std::string why;  // the same on every process: every one leaves the reads at the same field
    std::size_t index = 0;
    checkpoint_arrays(R, [&](auto& a, const field_info& fi, auto) {
        using T = std::remove_cv_t<std::remove_reference_t<decltype(*a.data())>>;
        const std::size_t k = index++;
        sums.push_back(0);
        if (!why.empty()) return;
        if (k >= A.list.size() || A.list[k].name != fi.name) {
            why = "does not list the arrays of this build";
            return;
        }
        const ckpt_array& e = A.list[k];
        if (e.entries == 0) return;
        const long rows = (long)e.rows;
        const long long have = cut ? deck_size(R, fi.where) : a.empty() ? e.entries : (long long)(a.size() / std::max(rows_of(a), 1L));
        if (have != e.entries || (!a.empty() && rows_of(a) != rows)) {
            why = "holds " + std::to_string(e.entries * e.rows) + " values of " + fi.name +
                  ", this run has " + std::to_string(have * (a.empty() ? rows : rows_of(a)));
            return;
        }
        if (a.empty()) alloc_entries(a, rows, cut ? extent_size(fi.where, R.dim) : (long)e.entries);
        const int key = (!cut ? 200 : 0) + (int)fi.where;
        const plan& p = P.get(key, [&] {
            if (!cut) return whole_plan(e.entries, true, proc_rank() == 0);
            return held_plan(R, fi.where, false, true);
        });
        std::vector<T> buf((std::size_t)(p.n * rows));
        c.get(f, fi.name, e.entries, (int)rows, p.runs, p.n, buf.data());
        std::uint64_t sum = 0;
        std::size_t j = 0;
        for (std::size_t q = 0; q + 1 < p.runs.size(); q += 2) {
            for (long long d = p.runs[q]; d < p.runs[q] + p.runs[q + 1]; ++d, ++j) {
                const std::size_t at = (std::size_t)(p.local[j] - 1) * (std::size_t)rows;
                for (long r = 0; r < rows; ++r) {
                    const T v = buf[j * (std::size_t)rows + (std::size_t)r];
                    a.data()[at + (std::size_t)r] = v;
                    if (p.counted[j]) sum += mix((std::uint64_t)d * (std::uint64_t)rows + (std::uint64_t)r, bits_of(v));
                }
            }
        }
        sums.back() = sum;
    });
    if (f >= 0) H5Fclose(f);
    MPI_Allreduce(MPI_IN_PLACE, sums.data(), (int)sums.size(), MPI_UINT64_T, MPI_SUM, MPI_COMM_WORLD);
    double took[2] = {c.ok ? 0.0 : 1.0, MPI_Wtime() - start};
    proc_max(took, 2);
    const_cast<ckpt_arrays&>(A).seconds = took[1];
    if (!why.empty()) return why;
    if (took[0] != 0.0) return named + "cannot be read (" + (c.ok ? "failed on another process" : c.failed) + ")";
    for (std::size_t k = 0; k < A.list.size() && k < sums.size(); ++k) {
        if (A.list[k].entries > 0 && sums[k] != A.list[k].sum) {
            return named + "does not hold the values it was written with (its " + A.list[k].name +
                   " differs: the file is damaged or another)";
        }
    }
    return "";
}

}  // namespace nep
