// Checkpoints and restart. A checkpoint holds everything of a run that the deck does not give:
// time and step sizes, heads and concentrations with every iterate the next step reads, the
// atmospheric and seepage-face switching states, the time-series readers' places and their
// stored records, the balance sums, the counters, and the bytes written to every output file
// with their CRC-32. A run continued from it (--restart) reads and builds the deck as any run
// does, takes the state of the checkpoint, cuts every output file back to what the checkpoint
// recorded and appends from there: its files end byte for byte as those of a run that was never
// stopped (the CPU times of the listing apart). docs/checkpoint.md describes the options, the
// file and its checks.
#pragma once

#include <string>

#include "run/columns.h"
#include "run/run.h"

namespace nep {

// The format versions of the checkpoint file: 1 holds every array of the state itself (a run on
// one process, or whose processes hold the whole mesh); 2, of a run on meshes of the processes'
// own, lists the arrays of the mesh's extent, which an HDF5 file beside it holds (run/ckptarrays.h).
// A run reads either.
constexpr unsigned kCheckpointWhole = 1;
constexpr unsigned kCheckpointVersion = 2;

// The lines of the usage that describe the options.
extern const char* const kCheckpointUsage;

// One option of the command line at argv[k] and its value at argv[k+1]: 1 when it is a
// checkpoint option (k then at its value), 0 when it is not, -1 when its value is missing or
// not valid (a message naming it is on standard error). Relative paths are taken from the
// current directory.
int checkpoint_option(int argc, char** argv, int& k, checkpoint_files& c, const char* prog);

// The start of every run, once the file set is open: the clock of the wall-clock interval, the
// default checkpoint file (which may not be a file of the deck), and for a continued run, before
// its deck is read, the checkpoint checked whole and against the deck (the program, the options,
// the text of every input file). A checkpoint that cannot be continued stops the run (status 1)
// with a message naming it and what is wrong.
void checkpoint_start(records& R);

// A continued run, once the initial state is built (collective): the state of the checkpoint,
// each process reading the values of the nodes it holds, every output file checked to hold what
// the checkpoint recorded, cut back to it and opened to go on. A run that a signal ended after
// its step goes on from that step.
void restart_state(records& R, deck_view* V = nullptr);

// The end of a step of the loop (collective): a checkpoint when one is due (every N steps, the wall-clock
// interval).
void checkpoint_step(records& R, deck_view* V = nullptr);

// After the last step, before the final output (the run completed, ended early or was
// interrupted; collective): the checkpoint of the end, when checkpoints are on.
void checkpoint_end(records& R, deck_view* V = nullptr);

// The note a stop on a failed write adds: the checkpoint that continues the run, if there is one.
std::string checkpoint_note(const iofiles& io);

}  // namespace nep
