// Interrupts: SIGINT and SIGTERM ask the run to end at the end of the current step; a second
// one ends the process at once (everything written before the last step end is on disk, since
// the step routines flush every file there).
#pragma once

namespace nep {

// Installs the handlers (once, at the start of a run).
void catch_interrupts();

// The signal that asked the run to end, or 0.
int interrupt_signal();

// Exit status of a run ended by signal sig: 128 + sig (130 for SIGINT, 143 for SIGTERM).
inline int interrupt_status(int sig) { return 128 + sig; }

}  // namespace nep
