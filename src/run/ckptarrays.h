// The arrays of a checkpoint of a run on meshes of the processes' own (run/columns.h): the
// fields of the state that hold a value per node, per surface node or per tetrahedron
// (records/state.h) go to an HDF5 file beside the checkpoint, one dataset a field in the deck's
// numbering, which every process writes its own part of and reads the part it holds of; the
// checkpoint file names it and lists its datasets with a checksum of each. docs/checkpoint.md
// describes the layout.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "records/state.h"
#include "run/columns.h"
#include "run/run.h"

namespace nep {

// One dataset of the arrays file as the checkpoint lists it: the field, its entries (the deck's
// nodes, surface nodes or tetrahedra; 0 when the run has none of it), the values of each entry,
// and the sum of a hash of every value with its place (which does not depend on the order the
// processes sum them in).
struct ckpt_array {
    std::string name;
    long long entries = 0;
    long long rows = 1;
    std::uint64_t sum = 0;
};

struct ckpt_arrays {
    std::string path;                // the file
    std::uint64_t token = 0;         // the same in the file and in the checkpoint that names it
    std::vector<ckpt_array> list;    // every field of the mesh's extent, in the state's order
    double seconds = 0.0;            // the write or the read, on the slowest process
};

// The fields of the mesh's extent that a checkpoint holds, in the order of the state: f(the
// run's array, its declaration, the pointer to the member of its record).
template <class F>
void checkpoint_arrays(records& R, F&& f) {
    state_fields([&](auto m, const field_info& fi) {
        using M = member_of<decltype(m)>;
        using Rec = typename M::record;
        using T = typename M::type;
        if constexpr (is_array_field<T>) {
            if (!(fi.use & CHECKPOINT) || fi.where == extent::RUN) return;
            f(record_part<Rec>(R).*m, fi, m);
        }
    });
}

// Collective: writes the arrays of a run on meshes of their own into a.path (every process its
// own nodes, surface nodes and tetrahedra) and lists them in a; "" or what failed, the same on
// every process.
std::string write_state_arrays(records& R, ckpt_arrays& a);

// Collective: reads the arrays that a lists from a.path, each process the values of what it
// holds (every one on a run not cut), after checking that the file is the one a names; every
// sum is checked once all are read. "" or what is wrong (a sentence about the checkpoint), the
// same on every process.
std::string read_state_arrays(records& R, const ckpt_arrays& a);

}  // namespace nep
