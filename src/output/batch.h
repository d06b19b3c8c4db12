// A batch of items for one write statement. Tables whose rows interleave several arrays (node,
// x, y, value, ...) are gathered row by row into a fixed buffer and written a batch at a time:
// nothing is allocated per value. The capacity must be a whole number of output records
// (a multiple of the items one record of the format takes), and the format must be one repeated
// group, as "(3(1PE15.6))" or "(4(I7,1PE13.4))", so that reversion restarts it whole: then
// breaking the list into several statements does not change the lines. A format such as
// "(7X,I6,3(1PE15.6))" resumes at its inner group and needs one statement per row.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <string_view>

#include "base/format.h"
#include "base/parallel.h"

namespace nep {

template <std::size_t CAP>
class item_batch {
public:
    item_batch(ounit& u, std::string_view fmt) : u_(u), fmt_(fmt) {}
    item_batch(const item_batch&) = delete;
    item_batch& operator=(const item_batch&) = delete;
    ~item_batch() { flush(); }

    template <class T>
    void add(T v) {
        new (raw_ + n_ * sizeof(fitem)) fitem(v);
        if (++n_ == CAP) flush();
    }
    void flush() {
        if (n_ > 0) write_fmt(u_, fmt_, std::launder(reinterpret_cast<const fitem*>(raw_)), n_);
        n_ = 0;
    }

private:
    ounit& u_;
    std::string_view fmt_;
    std::size_t n_ = 0;
    alignas(fitem) unsigned char raw_[CAP * sizeof(fitem)];
};

// Records first..last of a table, record(unit, i) writing record i. Long tables are formatted on
// all cores, a chunk of records a thread into memory, and the chunks written in order: the same
// bytes as the plain loop.
template <class Record>
void write_records(ounit& u, long first, long last, Record record) {
    constexpr long kChunk = 1024;  // records a thread formats at a time
    const int nth = last - first + 1 < kParallelMin ? 1 : threads_now();
    if (nth == 1) {
        for (long i = first; i <= last; ++i) record(u, i);
        return;
    }
    std::unique_ptr<ounit[]> part(new ounit[nth]);
    for (int t = 0; t < nth; ++t) part[t].open_memory();
    for (long a = first; a <= last; a += nth * kChunk) {
        if (threads_now() == 1) {  // the loops have gone to one thread
            for (long i = a; i <= std::min(a + nth * kChunk - 1, last); ++i) record(u, i);
            continue;
        }
        loop_clock c(nth);
#pragma omp parallel num_threads(nth)
        {
            c.enter(thread_number());
            for (long t = thread_number(); t < nth; t += thread_count()) {
                const long lo = a + t * kChunk, hi = std::min(lo + kChunk - 1, last);
                for (long i = lo; i <= hi; ++i) record(part[t], i);
            }
            c.leave(thread_number());
        }
        for (int t = 0; t < nth; ++t) {
            u.put(part[t].str());
            part[t].clear();
        }
        u.flush();
    }
}

}  // namespace nep
