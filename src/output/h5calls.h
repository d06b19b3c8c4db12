// The calls of a collective write or read of an HDF5 file on every process (the results file,
// output/h5series.h; the arrays of a checkpoint, run/ckptarrays.h): each process writes or reads
// its own rows of datasets in the deck's numbering.
#pragma once

#include <hdf5.h>

#include <algorithm>
#include <string>
#include <type_traits>
#include <vector>

namespace nep {

// The calls of one write or read. Every process makes every call whatever happened before (a
// failed call makes the next ones on its objects fail quickly), so that none is left waiting in
// a collective call that another skipped; what failed first is kept for the message.
class h5_calls {
public:
    // `collective`: the transfers are collective (MPI-IO gathers the processes' parts into large
    // requests); else each process's own.
    explicit h5_calls(bool collective = true) {
        H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
        dxpl_ = H5Pcreate(H5P_DATASET_XFER);
        check(H5Pset_dxpl_mpio(dxpl_, collective ? H5FD_MPIO_COLLECTIVE : H5FD_MPIO_INDEPENDENT),
              "setting up the transfers");
    }
    ~h5_calls() {
        for (const space& p : spaces_) H5Sclose(p.id);
        H5Pclose(dxpl_);
    }
    h5_calls(const h5_calls&) = delete;
    h5_calls& operator=(const h5_calls&) = delete;

    template <class T>
    T check(T r, const char* what) {
        if (r < 0 && ok) {
            ok = false;
            failed = what;
        }
        return r;
    }

    // A dataset of `rows` rows of `comps` values (a vector when comps > 1) at `loc`, each
    // process writing the `own` rows of its runs (first row, count) from v (row after row,
    // comps values each).
    template <class T>
    void put(hid_t loc, const std::string& name, hid_t ftype, long long rows, int comps,
             const std::vector<long long>& mine, long long own, const T* v) {
        const hid_t fsp = file_space(rows, comps, mine);
        const hid_t d = check(H5Dcreate2(loc, name.c_str(), ftype, fsp, H5P_DEFAULT, H5P_DEFAULT,
                                         H5P_DEFAULT),
                              "creating a dataset");
        const hid_t msp = memory_space(own, comps);
        static const T none[4] = {};
        check(H5Dwrite(d, mem_type<T>(), msp, fsp, dxpl_, own == 0 ? none : v), "writing a dataset");
        H5Sclose(msp);
        if (d >= 0) check(H5Dclose(d), "closing a dataset");
    }

    // The `own` rows of this process's runs of the dataset `name` at `loc`, which must have
    // `rows` rows of `comps` values, into v (row after row); false (what failed kept) when it
    // is missing or of another shape.
    template <class T>
    bool get(hid_t loc, const std::string& name, long long rows, int comps,
             const std::vector<long long>& mine, long long own, T* v) {
        const hid_t d = check(H5Dopen2(loc, name.c_str(), H5P_DEFAULT), "opening a dataset");
        bool shape = false;
        if (d >= 0) {
            const hid_t s = H5Dget_space(d);
            hsize_t dims[2] = {0, 0};
            const int rank = H5Sget_simple_extent_dims(s, dims, nullptr);
            shape = rank == (comps > 1 ? 2 : 1) && dims[0] == (hsize_t)rows && (rank == 1 || dims[1] == (hsize_t)comps);
            H5Sclose(s);
        }
        if (d >= 0 && !shape) check(-1, "a dataset of another shape");
        const hid_t fsp = file_space(rows, comps, mine);
        const hid_t msp = memory_space(own, comps);
        T none[4] = {};
        check(H5Dread(shape ? d : -1, mem_type<T>(), msp, fsp, dxpl_, own == 0 ? none : v), "reading a dataset");
        H5Sclose(msp);
        if (d >= 0) H5Dclose(d);
        return d >= 0 && shape;
    }

    bool ok = true;
    const char* failed = "";

    template <class T>
    static hid_t mem_type() {
        if constexpr (std::is_same_v<T, double>) return H5T_NATIVE_DOUBLE;
        else if constexpr (std::is_same_v<T, float>) return H5T_NATIVE_FLOAT;
        else return H5T_NATIVE_INT;
    }

private:
    static hid_t memory_space(long long own, int comps) {
        const hsize_t mdims[2] = {(hsize_t)std::max<long long>(own, 1), (hsize_t)comps};
        const hid_t msp = H5Screate_simple(comps > 1 ? 2 : 1, mdims, nullptr);
        if (own == 0) H5Sselect_none(msp);
        return msp;
    }
    // The file's shape of `rows` rows of `comps` values with this process's rows selected: the
    // runs of consecutive rows, formed once for all the arrays of that shape.
    struct space {
        long long rows;
        int comps;
        const std::vector<long long>* mine;
        hid_t id;
    };
    hid_t file_space(long long rows, int comps, const std::vector<long long>& mine) {
        for (const space& p : spaces_) {
            if (p.rows == rows && p.comps == comps && p.mine == &mine) return p.id;
        }
        const hsize_t dims[2] = {(hsize_t)rows, (hsize_t)comps};
        const hid_t fsp = H5Screate_simple(comps > 1 ? 2 : 1, dims, nullptr);
        H5Sselect_none(fsp);
        for (std::size_t k = 0; k + 1 < mine.size(); k += 2) {
            const hsize_t start[2] = {(hsize_t)mine[k], 0}, count[2] = {(hsize_t)mine[k + 1], (hsize_t)comps};
            H5Sselect_hyperslab(fsp, H5S_SELECT_OR, start, nullptr, count, nullptr);
        }
        spaces_.push_back({rows, comps, &mine, fsp});
        return fsp;
    }
    std::vector<space> spaces_;
    hid_t dxpl_;
};

}  // namespace nep
