#include "base/parallel.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifdef __linux__
#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#else
#include <thread>
#endif

namespace nep {

double clock_seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

namespace detail {

void sleep_on(wait_word& w, int v) {
#ifdef __linux__
    static_assert(sizeof(std::atomic<int>) == sizeof(int), "a futex is an int");
    // At most a millisecond: a wake that a race lets slip costs no more than that.
    timespec ts{0, 1000000};
    syscall(SYS_futex, reinterpret_cast<int*>(&w.value), FUTEX_WAIT_PRIVATE, v, &ts, nullptr, 0);
#else
    (void)w;
    (void)v;
    std::this_thread::yield();
#endif
}

}  // namespace detail

void wait_word::publish(int v) {
    value.store(v, std::memory_order_seq_cst);
    if (sleepers.load(std::memory_order_seq_cst) > 0) wake();
}

void wait_word::wake() {
#ifdef __linux__
    syscall(SYS_futex, reinterpret_cast<int*>(&value), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr,
            nullptr, 0);
#endif
}

namespace {

// The choice of threads_now. The loops run on all threads while their threads stand idle less
// than kIdleShare of their time (beyond kSpinSeconds a loop and thread), over windows of kWindow
// seconds of loops; two such windows in a row (or one beyond twice that share), and they run on
// one thread. After `backoff` seconds they try all threads again, over a shorter window
// (kProbe): a try that fails doubles the time to the next, up to kBackoffMax.
constexpr double kIdleShare = 0.15;
constexpr double kWindow = 0.04, kProbe = 0.02;
constexpr double kBackoffFirst = 0.2, kBackoffMax = 8.0;

struct alignas(64) thread_slot {
    double in = 0.0, out = 0.0, waited = 0.0;
};

struct governor {
    bool read_env = false;
    bool warm = false;     // a loop has run on threads
    bool fixed = false;    // NEPORA3D_ADAPT_THREADS=0
    bool held = false;     // hold_threads
    bool single = false;   // the loops run on one thread
    bool probing = false;  // a try of all threads
    int strikes = 0;       // stalled windows in a row
    double next_try = 0.0;
    double backoff = kBackoffFirst;
    double wall = 0.0, busy = 0.0, idle = 0.0;  // the window: seconds of loops, thread-seconds
    std::vector<thread_slot> slots;
};

governor g;

bool adapting() {
    if (!g.read_env) {
        g.read_env = true;
        const char* s = std::getenv("NEPORA3D_ADAPT_THREADS");
        g.fixed = s != nullptr && std::strcmp(s, "0") == 0;
    }
    return !g.fixed && !g.held;
}

void window_reset() { g.wall = g.busy = g.idle = 0.0; }

}  // namespace

int threads_now() {
#ifdef _OPENMP
    if (omp_in_parallel()) return 1;
    const int nth = omp_get_max_threads();
    if (nth == 1) return nth;
    if (!g.single) return nth;
    if (!adapting()) {
        g.single = false;
        return nth;
    }
    const double now = clock_seconds();
    if (now < g.next_try) return 1;
    g.single = false;
    g.probing = true;
    window_reset();
    return nth;
#else
    return 1;
#endif
}

void hold_threads(bool hold) {
    g.held = hold;
    if (hold) g.single = false;
}

loop_clock::loop_clock(int nth) : nth_(nth), start_(clock_seconds()) {
    if ((int)g.slots.size() < nth) g.slots.resize(nth);
}

void loop_clock::enter(int t) {
    g.slots[t].in = clock_seconds();
    detail::waited = 0.0;
}

void loop_clock::leave(int t) {
    g.slots[t].out = clock_seconds();
    g.slots[t].waited = detail::waited;
}

loop_clock::~loop_clock() {
    const double end = clock_seconds();
    double idle = 0.0;
    for (int t = 0; t < nth_; ++t) {
        const thread_slot& s = g.slots[t];
        // A thread that never came (a runtime that gave fewer threads) stood idle throughout.
        const double stood =
            s.in >= start_ ? (s.in - start_) + s.waited + (end - s.out) : end - start_;
        idle += std::max(0.0, stood - detail::kSpinSeconds);
    }
    for (int t = 0; t < nth_; ++t) g.slots[t].in = 0.0;
    // The first loop starts the runtime's threads: its waits say nothing of the machine.
    if (!g.warm) {
        g.warm = true;
        return;
    }
    g.wall += end - start_;
    g.busy += nth_ * (end - start_);
    g.idle += idle;
    if (!adapting()) {
        window_reset();
        return;
    }
    if (g.wall < (g.probing ? kProbe : kWindow)) return;
    const bool stalled = g.idle > kIdleShare * g.busy;
    // Two windows in a row, or one that stalled twice as much, or a try: a burst of other work
    // does not stop the threads.
    g.strikes = stalled ? g.strikes + 1 : 0;
    if (stalled && (g.probing || g.strikes >= 2 || g.idle > 2 * kIdleShare * g.busy)) {
        g.strikes = 0;
        g.single = true;
        g.backoff = g.probing ? std::min(2.0 * g.backoff, kBackoffMax) : kBackoffFirst;
        g.next_try = end + g.backoff;
    }
    g.probing = false;
    window_reset();
}

}  // namespace nep
