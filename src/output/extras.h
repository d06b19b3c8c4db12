// Results beside the specified files, for ParaView and for pandas: in the deck directory, the
// folder vtk/ holds one VTK XML unstructured grid (.vtu) of the whole mesh per detailed-output
// time (on several processes a parallel grid, .pvtu, of one piece a process, each process
// writing its own) and the collection nepora3d.pvd that lists them with their times; csv/ holds
// the tables budget.csv, hydrograph.csv, observations.csv and, with seepage faces, seepage.csv.
// Nothing here writes to a file of the file set, and the state of the run is left as it was:
// the velocities of the .vtu are computed in the writer's own arrays. All of it is off when
// io.EXTRA.ON is false (--no-extra-output).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "records/bcdata.h"
#include "records/control.h"
#include "records/dimensions.h"
#include "records/flowstate.h"
#include "records/iofiles.h"
#include "records/massbal.h"
#include "records/mesh.h"
#include "records/soil.h"
#include "records/sparse.h"

namespace nep {

// The deck's nodes of a run whose processes hold their own columns (mesh/blocks.h): the rows
// of the observation nodes and seepage faces are then written from the values gathered to
// process 0 (dim, msh and the state being this process's); null: the arrays are the deck's.
struct deck_nodes;

// Creates vtk/ and csv/ in the working directory (a failure is an error naming the folder),
// removes the series a previous run left there, opens the tables with their header rows and
// creates the writer's arrays. Called once, after the input is read, and on several processes
// in a section of its own before the initial state is written (process 0 makes and clears the
// folder the others write their pieces into). On several processes each writes the piece of the
// columns that msh holds as its own (mesh::own). `unapplied`: the deck has surface nodes with another condition under
// atmospheric input (massbal::NAPON), whose budget rows end with the input not applied there.
// `outlets`: the outlets of a surface-flow section (-1: none), whose discharges go to
// csv/outlets.csv and whose balance lines end the budget rows.
void extra_open(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh,
                bool unapplied = false, int outlets = -1, bool uptake = false);

// The initial state (step 0, TIMEP): observation and seepage rows; then (extra_series) the
// first .vtu.
void extra_initial(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh,
                   const bcdata& bc, soil& sl, flowstate& fs, const deck_nodes* dn = nullptr);

// The .vtu of the state at `time` after step `step` (on several processes this process's piece,
// and on process 0 the .pvtu), when the series is written.
void extra_series(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh,
                  soil& sl, flowstate& fs, double time, int step);

// After the bookkeeping of a step: its budget, hydrograph, observation and seepage rows; then
// (extra_series) the .vtu when the step ends on an output time. last is true when the run ends
// after this step (its rows then belong to the final detailed output too). The tables are
// flushed.
void extra_step(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh,
                const bcdata& bc, soil& sl, const massbal& mb, flowstate& fs,
                bool output_time, bool last, const deck_nodes* dn = nullptr);

// The final detailed output: its .vtu, unless the last one written holds this step already.
void extra_final(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh,
                 soil& sl, flowstate& fs);

// A run continued from a checkpoint. extra_alloc creates the writer's arrays and this
// process's piece (extra_open does for a new run); extra_resume removes the series files after
// the first NVTU, writes the
// collection of those and marks the results open (the tables are opened by the caller where
// the checkpoint left them); extra_rows_again writes the observation rows of the step just
// completed as a run that goes on writes them (the step ended a run that a signal stopped).
void extra_alloc(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh);
void extra_resume(iofiles& io);
void extra_rows_again(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh,
                      soil& sl, flowstate& fs, const deck_nodes* dn = nullptr);
// The tables with their paths, the files of time k of the series (from 0: its .vtu, or its
// .pvtu and then its pieces) and the path of the collection.
struct extra_table {
    ounit* unit;
    const char* path;
};
std::array<extra_table, 5> extra_tables(iofiles& io);
std::vector<std::string> series_files(const extra_files& x, int k);
const char* pvd_path();

// Flushes and closes the tables (every stop of the run passes here).
void extra_flush(iofiles& io);
void extra_close(iofiles& io);

// The pieces, for the tests.

// The nodal Darcy velocities of the current state into io.EXTRA (VXNOD..VZNOD, created here),
// the means of velnod over the velocities of velele with the element mean of CKRW: the values
// test_output would write now. The element velocities are formed where they are written
// (velocity_of). The run's own velocities are not changed.
void extra_velocities(const dimensions& dim, const control& ctl, const mesh& msh, soil& sl,
                      flowstate& fs, extra_files& x);

// Whether this process touches the folders and writes the files of vtk/ and csv/ (all but the
// pieces of the series): process 0 alone of a run on several (base/procs.h), every run on one.
bool writes_files();

// One .vtu of the state at time t of step s (the velocities already in x), at path.
void write_vtu(const char* path, const dimensions& dim, const control& ctl, const mesh& msh,
               const soil& sl, const flowstate& fs, extra_files& x, double t, int s);

// Calls f(e) for every tetrahedron e of this process's piece of the series, ascending: those of
// its own columns, every one of a mesh not cut.
template <class F>
void each_piece_element(const dimensions& dim, const mesh& msh, F f) {
    for (long e = 1; e <= dim.NT; ++e) {
        if (msh.own_element(e)) f(e);
    }
}

// Several processes: the .vtu of this process's piece (x.PCELLS tetrahedra, x.PNODE), written by
// every process, with the cell array `element` besides those of write_vtu; and the .pvtu that
// lists the pieces (their paths, in the folder of path), written by process 0.
void write_piece(const char* path, const dimensions& dim, const control& ctl, const mesh& msh,
                 const soil& sl, const flowstate& fs, extra_files& x, double t, int s);
void write_pvtu(const char* path, const std::vector<std::string>& pieces, const control& ctl,
                const extra_files& x);

// Several processes: a time of the series enters the collection once every process has
// written its piece, after the section of the run that wrote them (the initial state, every
// step, the final state); nothing on one process, where each .vtu is listed as it is written.
// Before that, the time staged for the HDF5 results file is written, by every process together
// (output/h5series.h): called by every process, first in its section.
void extra_list(iofiles& io);

// The collection of the x.NVTU files written so far, at path (written whole, then renamed into
// place, so that it is complete at every moment).
void write_pvd(const char* path, const extra_files& x);

}  // namespace nep
