// Problem sizes from a first pass over the input files, and the creation and release of the
// storage of a run: every record's arrays, created once after the first pass, freed at the end.
#pragma once

#include "run/run.h"

namespace nep {

void read_dim(dimensions& dim, control& ctl, iofiles& io);
void allocate(dimensions& dim, control& ctl, iofiles& io, mesh& msh, bcdata& bc, transport& tra,
              soil& sl, sparse& sp, flowstate& fs);
void deallocate(dimensions& dim, control& ctl, iofiles& io, mesh& msh, bcdata& bc, transport& tra,
                soil& sl, sparse& sp, flowstate& fs);

}  // namespace nep
