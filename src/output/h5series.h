// The HDF5 results file (--results h5): h5/nepora3d.h5, one file for the whole run written
// collectively by every process (parallel HDF5 over MPI-IO), and h5/nepora3d.xdmf, the XDMF
// description that ParaView and VisIt open as a time series. The file holds the mesh once and
// every nodal and element array of the ParaView series at every output time, in the deck's
// numbering; each process writes the rows of its own columns, so no process gathers a whole
// array. Layout (docs/results.md):
//
//   /mesh/points       (N, 3) Float64   coordinates of node k + 1 in row k
//   /mesh/tetrahedra   (NT, 4) Int32    the four nodes of element e + 1, from 0
//   /mesh/material     (NT) Int32, /mesh/layer (NT) Int32
//   /times/NNNN        a group per output time (attributes time, step), with the arrays of the
//                      .vtu (pressure_head (N), darcy_velocity (N, 3), element_velocity (NT, 3),
//                      ...) in Float32 under the same names
//
// A time is staged (h5_stage) where the .vtu is written and written (h5_write) at the start of
// the next section of the run that all processes enter together: the writes are collective,
// and a process that stopped inside a section would leave the others waiting in them.
#pragma once

#include "records/control.h"
#include "records/dimensions.h"
#include "records/flowstate.h"
#include "records/iofiles.h"
#include "records/mesh.h"
#include "records/soil.h"

namespace nep {

// Creates h5/ (process 0; a failure names the folder) and removes the file and description of
// an earlier run: a new run writes its file anew.
void h5_open(extra_files& x);
// A continued run: the file is kept and written on from the checkpoint's time.
void h5_resume(extra_files& x);
// This process's rows (own nodes and cells, in the deck's order) and the mesh's arrays of them,
// once (at the creation of the writer's arrays).
void h5_rows(const dimensions& dim, const mesh& msh, extra_files& x);
// Stages the state at time t of step s as time `index` of the file (the velocities of the
// series already in x).
void h5_stage(const dimensions& dim, const control& ctl, const mesh& msh, const soil& sl,
              const flowstate& fs, extra_files& x, double t, int s, int index);
// Writes the staged time, if any, and the description of the file with it. Collective: every
// process calls it at the same point, outside any section that may have stopped on one process.
void h5_write(extra_files& x);

const char* h5_path();
const char* xdmf_path();

}  // namespace nep
