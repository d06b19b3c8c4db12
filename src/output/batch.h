// A batch of items for one write statement. Tables whose rows interleave several arrays (node,
// x, y, value, ...) are gathered row by row into a fixed buffer and written a batch at a time:
// nothing is allocated per value. The capacity must be a whole number of output records
// (a multiple of the items one record of the format takes), and the format must be one repeated
// group, as "(3(1PE15.6))" or "(4(I7,1PE13.4))", so that reversion restarts it whole: then
// breaking the list into several statements does not change the lines. A format such as
// "(7X,I6,3(1PE15.6))" resumes at its inner group and needs one statement per row.
#pragma once

#include <cstddef>
#include <new>
#include <string_view>

#include "base/format.h"

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

}  // namespace nep
