// The optional nonlinear section of the parameter file: lines after the last record that choose
// inexact linear solves (FORCING) and a step control from the iteration counts (STEPCONTROL).
// Without them the run is the deck's own.
#pragma once

#include <sstream>
#include <string>

#include "base/units.h"
#include "records/control.h"

namespace nep {

bool nonlinear_keyword(const std::string& key);
// Reads the rest of a line of the section into ctl, whose records before it are read; `where`
// prefixes every error (file, line).
void nonlinear_read(control& ctl, const std::string& key, std::istringstream& in,
                    const std::string& where);
// The listing's echo of what the section changes (nothing without it).
void nonlinear_echo(ounit& lst, const control& ctl);

}  // namespace nep
