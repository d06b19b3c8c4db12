// The deck's nodes for the writers of the result files. A run on several processes, each holding
// its own columns (run/columns.h), writes them from process 0 in the deck's order, a block of at
// most kBlockEntries nodes (or tetrahedra) at a time, each block gathered in turn from the
// processes that own its entries: no process holds a whole nodal array, and the records are
// those one process writes. The nodes that the output of every step reads one by one (the
// observation nodes, the verticals of the profiles, the nodes of the seepage faces) are gathered
// to process 0 alone (`watched`). A run on one process, or on several that each hold the whole
// mesh, reads its own arrays (deck_nodes null or not cut).
//
// Reading a block is collective: every process of a cut run calls the writers that read them at
// the same point (their files are /dev/null but on process 0), and what is written is formed on
// process 0 alone. A stop that the writing meets on process 0 is held until the block loop has
// gone through (block_loop), so that the others are not left waiting in a gather.
#pragma once

#include <algorithm>
#include <cstddef>
#include <exception>
#include <vector>

#include "records/dimensions.h"
#include "records/flowstate.h"
#include "records/mesh.h"
#include "records/soil.h"

namespace nep {

// Entries of a block: a multiple of 240, so that a block is a whole number of records of every
// table written in batches (2, 3, 4, 5, 8 items per record).
constexpr long kBlockEntries = 65520;

// What a cut run's writers need to put the deck's nodes together.
struct deck_nodes {
    bool cut = false;
    dimensions dim;  // the deck's sizes
    // Process 0: the process that owns every column of the deck (by surface node) and the
    // tetrahedra of every surface triangle's prism (that of its first node).
    std::vector<int> node_part;
    std::vector<int> tri_part;
    // Every process: the nodes and tetrahedra it holds (its numbering ascends with the deck's;
    // its own are those of its columns, mesh::own and mesh::own_element), and its own nodes among
    // the watched ones.
    long held_nodes = 0, held_elements = 0;
    std::vector<int> own_watched;
    // Every process: the deck's numbers of the watched nodes (ascending); process 0: their
    // values (kWatchedValues a node: x, y, z, pressure head, total head, saturation, relative
    // conductivity, concentration).
    std::vector<long> watched;
    std::vector<double> values;
};
constexpr int kWatchedValues = 8;

// A nodal (or elemental) array of this process's numbering, read as doubles.
struct field_ref {
    const arr1<double>* r = nullptr;
    const arr1<int>* n = nullptr;
    field_ref(const arr1<double>& a) : r(&a) {}  // NOLINT: converts on purpose
    field_ref(const arr1<int>& a) : n(&a) {}     // NOLINT
    double at(long i) const { return r != nullptr ? (*r)(i) : (double)(*n)(i); }
};

// The values of a few fields at a block of the deck's entries lo..hi, on the writing process.
class deck_block {
public:
    // Nodes (elements false) or tetrahedra of the deck; dn null: the run's own arrays.
    deck_block(const deck_nodes* dn, const mesh& msh, bool elements, std::vector<field_ref> fields);
    // Collective in a cut run: the values at lo..hi (at most kBlockEntries entries).
    void read(long lo, long hi);
    // On the writing process, after read: the values of field k at lo..hi, contiguous.
    const double* row(int k) const { return vals_.data() + (std::size_t)k * (std::size_t)(hi_ - lo_ + 1); }
    double at(int k, long g) const { return row(k)[g - lo_]; }

private:
    const deck_nodes* dn_;
    const mesh& msh_;
    bool elements_;
    std::vector<field_ref> fields_;
    long lo_ = 1, hi_ = 0;
    std::vector<double> vals_;
};

// Whether this process writes what the blocks bring: process 0 (the one process of a run on one).
bool block_writer();

// Reads the deck's entries first..last block after block (collective in a cut run) and calls
// write(lo, hi) on the writing process after each block is read. A stop in write is held until
// every block has been read, then goes on.
template <class F>
void block_loop(deck_block& b, long first, long last, F&& write) {
    std::exception_ptr stop;
    const bool writer = block_writer();
    for (long lo = first; lo <= last; lo += kBlockEntries) {
        const long hi = std::min(last, lo + kBlockEntries - 1);
        b.read(lo, hi);
        if (!writer || stop) continue;
        try {
            write(lo, hi);
        } catch (...) {
            stop = std::current_exception();
        }
    }
    if (stop) std::rethrow_exception(stop);
}

// Collective in a cut run: the values of the watched nodes to process 0 (nothing otherwise).
void watch(deck_nodes* dn, const mesh& msh, const soil& sl, const flowstate& fs);

// The values at the deck's node g that the writers read one by one: those gathered by watch in a
// cut run (g must be watched), the run's arrays otherwise.
struct node_values {
    double x, y, z, p, h, sw, kr, c;
};
node_values node_at(const deck_nodes* dn, const mesh& msh, const soil& sl, const flowstate& fs, long g);
// Value v (0..kWatchedValues-1, in the order above) of watched node g of a cut run (0 on the
// processes that do not write).
double watched_value(const deck_nodes* dn, long g, int v);

// The deck's sizes: dn's in a cut run, dim otherwise.
const dimensions& deck_dim(const deck_nodes* dn, const dimensions& dim);
inline bool cut_run(const deck_nodes* dn) { return dn != nullptr && dn->cut; }

// Value v of the deck's node g, as node_at: watched_value in a cut run, a(g) otherwise.
inline double watched_or(const deck_nodes* dn, const arr1<double>& a, long g, int v) {
    return cut_run(dn) ? watched_value(dn, g, v) : a(g);
}

}  // namespace nep
