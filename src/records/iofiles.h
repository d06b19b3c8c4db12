// The file set: file names and units by unit number, the output control of the parameter file,
// and the writing of an input error to the main listing and standard output.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/array.h"
#include "base/format.h"
#include "base/freeread.h"
#include "base/units.h"
#include "records/surface.h"

namespace nep {

// Unit numbers of the file set, in the order of the lines of the fnames file.
constexpr int kNumInputLines = 12;
constexpr int kNumOutputLines = 30;
constexpr std::array<int, kNumInputLines> kInputUnits = {5, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
constexpr std::array<int, kNumOutputLines> kOutputUnits = {
    6, 25, 26, 27, 28, 29, 30, 31, 32, 33, 134, 35, 36, 37, 38,
    39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 61, 62, 63, 64};
constexpr int kMaxUnit = 134;
constexpr int kTermUnit = 4;
constexpr int kFnamesUnit = 1;

// A time of the HDF5 results file, staged by each process from the nodes and elements of its own
// columns at the output time and written collectively when the section of the run that formed
// it ends (output/h5series.h): rows (from 0, in the deck's numbering, ascending) and the values
// of every array, array after array.
struct h5_staged {
    bool PENDING = false;     // a time is staged, not yet written
    bool MESH = false;        // a new run: the first time written creates the file anew
    int INDEX = 0, STEP = 0;  // the time's place in the series (from 0) and its step
    double TIME = 0.0;
    long long N = 0, NT = 0;  // the deck's nodes and tetrahedra
    std::vector<int> NODES, ELEMS;          // own nodes and own cells (numbers here), in the
                                            // order of their rows (ELEMS empty: the own cells
                                            // ascending, as on every layered mesh)
    std::vector<long long> NRUN, ERUN;      // their rows in the deck's numbering: runs of
    long long NOWN = 0, EOWN = 0;           // consecutive rows (first, count), and the count
    std::vector<std::string> NAMES;         // the arrays of the time, with their
    std::vector<int> COMPS;                 // components and place (1 cells, 0 nodes)
    std::vector<int> CELL;
    std::vector<float> VALUES;              // every array's values, row by row
    std::vector<double> POINTS;             // (own nodes, 3): the mesh, until the file has it
    std::vector<int> CONN, MAT, LAYER;      // (own cells, 4) deck nodes from 0; codes; layers
    // The times written by this run, the wall time of their writes (of the slowest process,
    // summed) and the bytes of their arrays (the mesh apart).
    int WRITES = 0;
    double SECONDS = 0.0, BYTES = 0.0;
};

// The results beside the specified files, in the folders vtk/ (a ParaView time series) and csv/
// (tables) of the deck directory: the switch of the command line, the open tables, and the
// writer's own arrays, all created once at start-up when the results are on.
struct extra_files {
    bool ON = true;                  // false with --no-extra-output
    bool OPEN = false;               // the folders exist and the tables are open
    // The units of length and time of the deck (parameter file, UNITS record), in the names of
    // the table columns and the ParaView arrays; L and T when the deck does not say.
    bool UNITS = false;
    std::string LUNIT = "L", TUNIT = "T";
    ounit BUDGET, OBS, HYDRO, SEEP;  // csv/budget.csv, observations.csv, hydrograph.csv, seepage.csv
    ounit OUTL;                      // csv/outlets.csv (a surface-flow section)
    // A surface-flow section: its record, whose depth and velocity on the ground the ParaView
    // series adds (nullptr: none), and those velocities at the surface nodes (NNOD).
    const surface* SF = nullptr;
    arr1<double> SVX, SVY;
    // The times of the series written so far, with their step numbers and pieces: 0 for a .vtu
    // of the whole mesh (vtk/nepora3d_NNNN.vtu), P for a .pvtu of P pieces (a run on P
    // processes: vtk/nepora3d_NNNN.pvtu and vtk/nepora3d_NNNN_PPPP.vtu, PPPP = 0..P-1).
    int NVTU = 0;
    bool UNLISTED = false;  // several processes: the last time is not in the collection yet
    arr1<double> VTUTIME;
    arr1<int> VTUSTEP;
    arr1<int> VTUPIECES;
    // Run totals at the previous budget row: nonlinear, linear and coupled iterations, back-steps.
    int ITUNS0 = 0, ITLIN0 = 0, ITUNSC0 = 0, NBKSTEP0 = 0;
    // Where the observation rows of the last step begin in their table (byte and CRC-32 of the
    // bytes before it), and whether that step ended on an output time: a run continued from the
    // checkpoint of a run that a signal ended writes them again as a run that goes on does.
    long long OBSPOS = 0;
    unsigned OBSCRC = 0;
    bool OBSOUT = false;
    // The nodal Darcy velocities of the state at an output time (N each), computed here so that
    // the run's own stay as the step left them, and released once the time is written; the
    // element velocities are formed as they are written, none kept.
    arr1<double> VXNOD, VYNOD, VZNOD;
    std::vector<char> BUF;           // one raw and one compressed block of the .vtu writer
    // Several processes: the pieces of the series (one a process; 0 on one process) and the
    // number of this process's, and its piece of the mesh: the count of the tetrahedra of its
    // columns (mesh::own_element, walked in ascending order where they are written) and the
    // nodes they use with the nodes of its own columns (ascending). Empty on one process.
    int PIECES = 0, PIECE = 0;
    long PCELLS = 0;
    arr1<int> PNODE;
    // Which 3-D series are written (--results): the ParaView series of vtk/ (VTK, the default)
    // and the HDF5 file h5/nepora3d.h5 with its XDMF description (H5), written collectively by
    // every process.
    bool VTK = true, H5 = false;
    h5_staged H5OUT;
};

// Checkpoints (command line): where they go, when they are written, and the checkpoint a
// continued run starts from; then what the run keeps of its own checkpoints.
struct checkpoint_files {
    std::string PATH;                   // --checkpoint FILE (default: nepora3d.chk, or the
                                        // file of --restart)
    std::string RESTART;                // --restart FILE; empty for a new run
    int EVERY = 0;                      // --checkpoint-every N: every N completed steps
    double WALL = 0.0;                  // --checkpoint-wall S: at the first step end S seconds on
    bool ON = false;                    // checkpoints are written (also at a signal, at the end)
    std::string LAST;                   // the file of the last checkpoint ("" none yet)
    int NDONE = -1;                     // steps completed at the last checkpoint
    double CLOCK = 0.0;                 // the clock then (or at the start of the run)
    double START = 0.0;                 // the clock at the start of the run
    double ELAPSED0 = 0.0;              // wall time of the runs before the checkpoint restarted
    int COUNT = 0;                      // checkpoints written by this run
    int NVTUSYNC = 0;                   // .vtu files put on disk by a checkpoint
    int SLOT = 0;                       // the arrays file (1 or 2) of the last checkpoint of a
                                        // run on meshes of the processes' own in PATH (0 none)
};

// What the terminal shows while a run goes on (command line): on a terminal one status line,
// the terminal log going to terminal.log; in a batch job (standard output not a terminal) a
// line every EVERY percent of the simulated time; --quiet neither, --verbose today's log of
// every iteration on the terminal and no progress lines.
enum class verbosity { NORMAL, QUIET, VERBOSE };
struct progress_state {
    verbosity MODE = verbosity::NORMAL;
    int EVERY = 10;          // percent between the lines of a batch job (0: none)
    bool STATUS = false;     // a status line is drawn on standard output (a terminal)
    bool SHOWN = false;      // a status line is on the screen now
    double START = 0.0;      // wall clock at the first step and at the last status line
    double LAST = 0.0;
    double T0 = 0.0;         // the simulated time the run starts from
    int NEXT = 0;            // the percent of the next batch line
};

struct iofiles {
    // File names by unit number (as read from the fnames file).
    std::array<std::string, kMaxUnit + 1> NAMES;
    // Input files by unit number (1, 5, 8..18) and output files by unit number (4, 6, 25..64, 134).
    std::array<freader, 19> IN;
    std::array<ounit, kMaxUnit + 1> OUT;
    ounit STDOUT;  // standard output of the process
    ounit STDERR;  // standard error: warnings, prefixed with the program's name
    const char* PROGNAME = "nepora3d";
    read_warnings WARN;  // numbers the input readers left unread, reported on STDERR
    progress_state PROGRESS;

    freader& in(int unit) { return IN[unit]; }
    ounit& out(int unit) { return OUT[unit]; }

    // Output control (parameter file).
    int IPRT1 = 0, IPRT = 0, ISEC = 0;
    int KPRT = 1;
    arr1<double> TIMPRT;
    arr1<int> NODVP;
    arr1<int> IPOUT;

    extra_files EXTRA;
    checkpoint_files CKPT;
    // --initial-from DIR: the initial heads are the final state of the run in DIR
    // (run/finalstate.h), not those of the deck.
    std::string INITFROM;
};

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
