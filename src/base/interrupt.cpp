#include "base/interrupt.h"

#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "base/procs.h"

namespace nep {

namespace {

// A signal goes to any thread that does not block it (the OpenMP workers, MPI's progress threads),
// so two signals can be handled at once in two threads: the first is taken by one atomic
// exchange, and its time is stored before it, so that the other handler, seeing the signal,
// always sees a time of the same moment. Both atomics are lock-free, as a handler needs.
std::atomic<int> g_signal {0};
std::atomic<long long> g_first_ns {0};  // when the first signal came (CLOCK_MONOTONIC)
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<long long>::is_always_lock_free,
              "a signal handler needs lock-free atomics");
long g_main_tid = 0;  // the thread that installed the handlers
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
    const long long ns = 1000000000LL * now.tv_sec + now.tv_nsec;
    if (g_signal.load() == 0) g_first_ns.store(ns);
    int first = 0;
    if (g_signal.compare_exchange_strong(first, sig)) return;
    if (sig == first && ns - g_first_ns.load() < 1000000000LL) return;
    // The files are cut back by the main thread, which writes them: taken by another thread,
    // the signal goes on to it (here the main thread might write on while the files are cut).
    if (g_main_tid != 0 && syscall(SYS_gettid) != g_main_tid) {
        syscall(SYS_tgkill, getpid(), g_main_tid, sig);
        return;
    }
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
    g_main_tid = syscall(SYS_gettid);
    struct sigaction sa {};
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    sigaddset(&sa.sa_mask, SIGINT);
    sigaddset(&sa.sa_mask, SIGTERM);
    sa.sa_flags = 0;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

int interrupt_signal() { return proc_count() > 1 ? g_shared : g_signal.load(); }

void share_interrupt() {
    if (proc_count() > 1) g_shared = proc_max(g_signal.load());
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
