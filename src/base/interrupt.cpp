#include "base/interrupt.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include "base/procs.h"

namespace nep {

namespace {

volatile sig_atomic_t g_signal = 0;
volatile sig_atomic_t g_first_sec = 0;   // when the signal first came (CLOCK_MONOTONIC)
volatile sig_atomic_t g_first_nsec = 0;
int g_shared = 0;  // the signal any process had seen at the last step end (several processes)

// Two sets of file sizes: the handler reads the one `g_marked` names while the step end fills
// the other, then switches.
struct marked_sizes {
    int n = 0;
    int fd[kMaxMarkedFiles];
    off_t size[kMaxMarkedFiles];
};
marked_sizes g_sizes[2];
volatile sig_atomic_t g_marked = -1;

extern "C" void on_interrupt(int sig) {
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (g_signal == 0) {
        g_signal = sig;
        g_first_sec = (sig_atomic_t)now.tv_sec;
        g_first_nsec = (sig_atomic_t)now.tv_nsec;
        return;
    }
    const double since = (double)(now.tv_sec - g_first_sec) + 1e-9 * (now.tv_nsec - g_first_nsec);
    if (sig == g_signal && since < 1.0) return;
    const int k = g_marked;
    if (k >= 0) {
        for (int i = 0; i < g_sizes[k].n; ++i) {
            if (ftruncate(g_sizes[k].fd[i], g_sizes[k].size[i]) != 0) continue;
        }
    }
    _exit(interrupt_status(sig));
}

}  // namespace

void catch_interrupts() {
    struct sigaction sa {};
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    sigaddset(&sa.sa_mask, SIGINT);
    sigaddset(&sa.sa_mask, SIGTERM);
    sa.sa_flags = 0;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

int interrupt_signal() { return proc_count() > 1 ? g_shared : (int)g_signal; }

void share_interrupt() {
    if (proc_count() > 1) g_shared = proc_max((int)g_signal);
}

void mark_file_sizes(const int* fds, const off_t* sizes, int n) {
    const int k = g_marked == 0 ? 1 : 0;
    marked_sizes& m = g_sizes[k];
    m.n = n < kMaxMarkedFiles ? n : kMaxMarkedFiles;
    for (int i = 0; i < m.n; ++i) {
        m.fd[i] = fds[i];
        m.size[i] = sizes[i];
    }
    g_marked = k;
}

}  // namespace nep
