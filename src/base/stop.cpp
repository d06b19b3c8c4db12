#include "base/stop.h"

namespace nep {

void stop_run(int status) { throw run_stop{status, std::string()}; }

void input_error(const std::string& message) { throw run_stop{EXIT_ERROR, message}; }

}  // namespace nep
