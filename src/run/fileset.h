// The file set: the fnames file, the input files, the output files with their header lines and
// the terminal log.
#pragma once

#include <string>

#include "records/control.h"
#include "records/iofiles.h"

namespace nep {

void openio(control& ctl, iofiles& io);
void open_inp(control& ctl, iofiles& io);
void open_out(control& ctl, iofiles& io);
void openterm(iofiles& io, int unit);
void closio(iofiles& io);

// The inputs of one value a node (the initial conditions, units 15 and 16): on several processes
// process 0 alone loads and reads them, and hands their values on (bc/initial.cpp).
inline bool read_by_writer(int unit) { return unit == 15 || unit == 16; }

// The outputs are opened as new versions beside the files of the previous run; once the input
// has been read and checked, commit_outputs moves them into place. A run that stops before
// (an input error, an interrupt) calls discard_outputs: the previous run's files stay as they
// were and the new versions are removed; with no file of a previous run, the new ones (the
// listing with the stop's lines) are kept.
void commit_outputs(iofiles& io);
void discard_outputs(iofiles& io);

// Flushes every output unit that is open (the main listing, the terminal log and standard
// output included); used when a run stops so that nothing written is lost.
void flush_all(iofiles& io);

// Stops the run (status 1) when a write to an output file, the terminal log or a table of csv/
// has failed (a full disk), naming the file and the reason, with the note after it.
void check_outputs(iofiles& io, const std::string& note = "");

// Flushes every file and records their sizes: an interrupt that ends the process at once cuts
// every file back to them, so that all end at the same completed step.
void mark_step_end(iofiles& io);

}  // namespace nep
