// Problem sizes from a first pass over the input files, and the creation and release of every
// array of the records.
#pragma once

#include "driver/run.h"

namespace nep {

void read_dim(dimensions& dim, control& ctl, iofiles& io);
void allocate(dimensions& dim, control& ctl, iofiles& io, mesh& msh, bcdata& bc, transport& tra,
              soil& sl, sparse& sp, flowstate& fs);
void deallocate(dimensions& dim, control& ctl, iofiles& io, mesh& msh, bcdata& bc, transport& tra,
                soil& sl, sparse& sp, flowstate& fs);

// The arrays of each record, created from the sizes (each owned by its subsystem).
void alloc_mesh(const dimensions& dim, mesh& msh);
void alloc_bcdata(const dimensions& dim, bcdata& bc);
void alloc_transport(const dimensions& dim, transport& tra);
void alloc_soil(const dimensions& dim, const control& ctl, soil& sl);
void alloc_sparse(const dimensions& dim, const control& ctl, sparse& sp);
void alloc_flowstate(const dimensions& dim, const control& ctl, flowstate& fs);
void release_mesh(mesh& msh);
void release_bcdata(bcdata& bc);
void release_transport(transport& tra);
void release_soil(soil& sl);
void release_sparse(sparse& sp);
void release_flowstate(flowstate& fs);

}  // namespace nep
