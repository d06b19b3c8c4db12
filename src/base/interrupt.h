// Interrupts: SIGINT and SIGTERM ask the run to end at the end of the current step. The same
// signal again within a second is the same request (a script's `timeout -s INT` signals the
// program and then its whole process group); a signal after that ends the process at once,
// with every file cut back to where the last completed step left it.
#pragma once

#include <sys/types.h>

namespace nep {

// Installs the handlers (once, at the start of a run).
void catch_interrupts();

// The signal that asked the run to end, or 0. With several processes, the signal that any of
// them had received at the last share_interrupt (each step end), so that all end after the
// same step.
int interrupt_signal();
void share_interrupt();

// Exit status of a run ended by signal sig: 128 + sig (130 for SIGINT, 143 for SIGTERM).
inline int interrupt_status(int sig) { return 128 + sig; }

// Records the size of each output file (descriptor and byte count) at the end of a step, all
// written and flushed; an immediate end truncates the files to these sizes. At most
// kMaxMarkedFiles files are kept; the call replaces the previous set.
constexpr int kMaxMarkedFiles = 64;
void mark_file_sizes(const int* fds, const off_t* sizes, int n);

}  // namespace nep
