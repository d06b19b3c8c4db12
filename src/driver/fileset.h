// The file set: the fnames file, the input files, the output files with their header lines and
// the terminal log.
#pragma once

#include <string_view>

#include "driver/format.h"
#include "driver/records.h"

namespace nep {

void openio(control& ctl, iofiles& io);
void open_inp(control& ctl, iofiles& io);
void open_out(control& ctl, iofiles& io);
void openterm(iofiles& io, int unit);
void closio(iofiles& io);

// Flushes every output unit that is open (the main listing, the terminal log and standard
// output included); used when a run stops so that nothing written is lost.
void flush_all(iofiles& io);

// One formatted record to the main listing and the same record to standard output, as the
// fatal input errors are written.
template <class... A>
void wfmt_both(iofiles& io, std::string_view fmt, const A&... a) {
    wfmt(io.out(6), fmt, a...);
    wfmt(io.STDOUT, fmt, a...);
}

// Role of an input unit in messages ("grid file").
const char* input_role(int unit);

}  // namespace nep
