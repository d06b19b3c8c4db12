// A run's records with memory output units, for the tests of the boundary- and
// initial-condition readers.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "run_fixture.h"

namespace bctest {

using bcrun = fixture::memrun;
using fixture::stop_status;

}  // namespace bctest
