#include "mesh/blocks.h"

#include <string>
#include <utility>

#include "base/procs.h"
#include "base/stop.h"

namespace nep {

bool block_writer() { return proc_writes(); }

const dimensions& deck_dim(const deck_nodes* dn, const dimensions& dim) { return cut_run(dn) ? dn->dim : dim; }

deck_block::deck_block(const deck_nodes* dn, const mesh& msh, bool elements,
                       std::vector<field_ref> fields)
    : dn_(dn), msh_(msh), elements_(elements), fields_(std::move(fields)) {}

void deck_block::read(long lo, long hi) {
    lo_ = lo;
    hi_ = hi;
    const long n = hi - lo + 1;
    const std::size_t nf = fields_.size();
    if (!cut_run(dn_)) {
        if (!block_writer()) return;
        vals_.resize(nf * (std::size_t)n);
        for (std::size_t k = 0; k < nf; ++k) {
            double* v = vals_.data() + k * (std::size_t)n;
            for (long g = lo; g <= hi; ++g) v[g - lo] = fields_[k].at(g);
        }
        return;
    }
    // This process's own entries in the block: those it holds ascend in the deck's order, so the
    // block is a range of them, of which it sends its own.
    const long held = elements_ ? dn_->held_elements : dn_->held_nodes;
    auto deck = [&](long i) { return elements_ ? msh_.deck_element(i) : msh_.deck_node(i); };
    auto own = [&](long i) { return elements_ ? msh_.own_element(i) : msh_.own(i); };
    auto first_at = [&](long g) {
        long a = 1, b = held + 1;
        while (a < b) {
            const long m = a + (b - a) / 2;
            if (deck(m) < g) a = m + 1;
            else b = m;
        }
        return a;
    };
    const long first = first_at(lo), last = first_at(hi + 1);
    std::vector<double> send;
    send.reserve(nf * (std::size_t)(last - first));
    for (const field_ref& f : fields_) {
        for (long i = first; i < last; ++i) {
            if (own(i)) send.push_back(f.at(i));
        }
    }
    std::vector<int> counts;
    const std::vector<double> all = proc_gather(send, counts);
    if (!block_writer()) return;
    // Every entry from the next value of the process that owns it.
    const int np = (int)counts.size();
    std::vector<long> from(np + 1, 0), next(np, 0);
    for (int q = 0; q < np; ++q) from[q + 1] = from[q] + counts[q];
    vals_.resize(nf * (std::size_t)n);
    const dimensions& d = dn_->dim;
    const long deck_layer = 3L * d.NTRI;
    for (long g = lo; g <= hi; ++g) {
        const int q = elements_ ? dn_->tri_part[(std::size_t)(((g - 1) % deck_layer) / 3)]
                                : dn_->node_part[(std::size_t)((g - 1) % d.NNOD)];
        const long kq = counts[q] / (long)nf, c = next[q]++;
        if (c >= kq) break;
        for (std::size_t k = 0; k < nf; ++k) vals_[k * (std::size_t)n + (std::size_t)(g - lo)] = all[(std::size_t)(from[q] + (long)k * kq + c)];
    }
    for (int q = 0; q < np; ++q) {
        if (next[q] * (long)nf != counts[q]) {
            input_error("internal error: process " + std::to_string(q) + " gave " +
                        std::to_string(counts[q] / (long)nf) + " of the " + (elements_ ? "tetrahedra " : "nodes ") +
                        std::to_string(lo) + ".." + std::to_string(hi) + " where it owns " +
                        std::to_string(next[q]));
        }
    }
}

void watch(deck_nodes* dn, const mesh& msh, const soil& sl, const flowstate& fs) {
    if (!cut_run(dn)) return;
    const bool c = !fs.CNEW.empty();
    std::vector<double> send;
    send.reserve(dn->own_watched.size() * (kWatchedValues + 1));
    for (int i : dn->own_watched) {
        for (double v : {(double)msh.deck_node(i), msh.X(i), msh.Y(i), msh.Z(i), fs.PNEW(i), fs.HPOT(i),
                         sl.SW(i), sl.CKRW(i), c ? fs.CNEW(i) : 0.0}) {
            send.push_back(v);
        }
    }
    std::vector<int> counts;
    const std::vector<double> all = proc_gather(send, counts);
    if (!block_writer()) return;
    dn->values.resize(dn->watched.size() * kWatchedValues);
    for (std::size_t k = 0; k + kWatchedValues < all.size(); k += kWatchedValues + 1) {
        const long g = (long)all[k];
        const auto at = std::lower_bound(dn->watched.begin(), dn->watched.end(), g);
        const std::size_t w = (std::size_t)(at - dn->watched.begin());
        for (int v = 0; v < kWatchedValues; ++v) dn->values[w * kWatchedValues + v] = all[k + 1 + v];
    }
}

node_values node_at(const deck_nodes* dn, const mesh& msh, const soil& sl, const flowstate& fs, long g) {
    if (!cut_run(dn)) {
        // An array the run does not have (a writer's test, a flow-only run) reads as 0.
        auto at = [g](const arr1<double>& a) { return a.empty() ? 0.0 : a(g); };
        return {at(msh.X), at(msh.Y), at(msh.Z), at(fs.PNEW), at(fs.HPOT), at(sl.SW), at(sl.CKRW), at(fs.CNEW)};
    }
    double v[kWatchedValues];
    for (int k = 0; k < kWatchedValues; ++k) v[k] = watched_value(dn, g, k);
    return {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]};
}

double watched_value(const deck_nodes* dn, long g, int v) {
    if (!block_writer()) return 0.0;  // the others write nothing
    const auto at = std::lower_bound(dn->watched.begin(), dn->watched.end(), g);
    if (at == dn->watched.end() || *at != g || dn->values.empty()) {
        input_error("internal error: node " + std::to_string(g) + " is not among those gathered for the output");
    }
    return dn->values[(std::size_t)(at - dn->watched.begin()) * kWatchedValues + (std::size_t)v];
}

}  // namespace nep
