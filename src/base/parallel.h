// Loops that run on all cores. Built with OpenMP, the node and element loops share their
// iterations among the threads (OMP_NUM_THREADS, by default one per core); each iteration writes
// only its own entries, so the results are the same to the bit whatever the number of threads.
// Below kParallelMin iterations, or with one thread, the loop runs as a plain loop: waking the
// others costs more than they save, and a loop handed to the thread runtime is not optimised as
// well as a plain one.
//
// On a busy machine the threads of a loop do not all run at once: a thread that the system has
// set aside holds up the others at the end of every loop, and in the triangular solves at every
// row of its that they need. So each parallel loop measures how long its threads stood idle,
// waiting for one another, and when a fair share of their time goes that way the loops run on
// one thread for a while, then try all threads again (threads_now). Waits between threads spin
// for a short while, then sleep until woken (await).
#pragma once

#include <atomic>
#include <type_traits>

#ifdef _OPENMP
#include <omp.h>
#endif

namespace nep {

constexpr long kParallelMin = 4096;

// The threads a parallel loop of n iterations runs on, and the calling thread's number in it.
inline int thread_count() {
#ifdef _OPENMP
    return omp_get_num_threads();
#else
    return 1;
#endif
}
inline int thread_number() {
#ifdef _OPENMP
    return omp_get_thread_num();
#else
    return 0;
#endif
}
// The threads of the run (OMP_NUM_THREADS): what the plans of the loops are formed for.
inline int max_threads() {
#ifdef _OPENMP
    return omp_get_max_threads();
#else
    return 1;
#endif
}

// The threads the next parallel loop runs on: max_threads(), or 1 while the loops wait too much
// for threads the system holds back (and inside a parallel loop). Called between the loops.
int threads_now();

// The seconds of a steady clock.
double clock_seconds();

// A word that threads wait on: its value, and the number of threads asleep on it.
struct alignas(64) wait_word {
    std::atomic<int> value{0};
    std::atomic<int> sleepers{0};
    // Stores v and wakes the threads asleep on the word.
    void publish(int v);
    // Wakes the threads asleep on the word (they test their condition again).
    void wake();
};

namespace detail {
// The seconds the calling thread has waited, in awaits that outlasted their spin, since its
// loop began.
inline thread_local double waited = 0.0;
constexpr double kSpinSeconds = 100e-6;
// Sleeps on w while its value is v (at most about a millisecond).
void sleep_on(wait_word& w, int v);
inline void pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}
}  // namespace detail

// Returns when done() holds, w being the word whose change makes it hold (done() may also look
// at other state, whose writer then calls w.wake()). It spins for kSpinSeconds, then sleeps: a
// thread that waits for one the system has set aside gives up its core to it.
template <class Done>
inline void await(wait_word& w, Done done) {
    if (done()) return;
    double start = 0.0;
    for (long spins = 1;; ++spins) {
        detail::pause();
        if (done()) return;
        if (spins % 64 == 0) {
            const double t = clock_seconds();
            if (start == 0.0) start = t;
            else if (t - start > detail::kSpinSeconds) break;
        }
    }
    for (;;) {
        w.sleepers.fetch_add(1, std::memory_order_seq_cst);
        const int v = w.value.load(std::memory_order_seq_cst);
        const bool ok = done();
        if (!ok) detail::sleep_on(w, v);
        w.sleepers.fetch_sub(1, std::memory_order_seq_cst);
        if (ok || done()) break;
    }
    detail::waited += clock_seconds() - start;
}

// The accounting of one parallel loop on nth threads: how long each thread stood idle in it
// (before its share began, in awaits, and after its share until the loop ended), handed to the
// choice of threads_now when the loop ends. Made by the thread that starts the loop.
class loop_clock {
public:
    explicit loop_clock(int nth);
    ~loop_clock();
    loop_clock(const loop_clock&) = delete;
    loop_clock& operator=(const loop_clock&) = delete;
    // By each thread t at the start and the end of its share.
    void enter(int t);
    void leave(int t);

private:
    int nth_;
    double start_;
};

// Keeps the threads of the loops (threads_now = max_threads) whatever their waits, or lets them
// be chosen again: for the tests of the parallel paths.
void hold_threads(bool hold);

// f(i) for i = lo..hi.
template <class F>
inline void parallel_for(long lo, long hi, F f) {
#ifdef _OPENMP
    const int nth = hi - lo + 1 >= kParallelMin ? threads_now() : 1;
    if (nth > 1) {
        loop_clock c(nth);
#pragma omp parallel num_threads(nth)
        {
            c.enter(thread_number());
#pragma omp for schedule(static) nowait
            for (long i = lo; i <= hi; ++i) f(i);
            c.leave(thread_number());
        }
        return;
    }
#endif
    for (long i = lo; i <= hi; ++i) f(i);
}

// The same for iterations of uneven cost (a node whose values are kept costs almost nothing): the
// threads take chunks of them as they become free.
template <class F>
inline void parallel_for_uneven(long lo, long hi, F f) {
#ifdef _OPENMP
    const int nth = hi - lo + 1 >= kParallelMin ? threads_now() : 1;
    if (nth > 1) {
        loop_clock c(nth);
#pragma omp parallel num_threads(nth)
        {
            c.enter(thread_number());
#pragma omp for schedule(dynamic, 1024) nowait
            for (long i = lo; i <= hi; ++i) f(i);
            c.leave(thread_number());
        }
        return;
    }
#endif
    for (long i = lo; i <= hi; ++i) f(i);
}

// The first and last of the rows 1..n in block b of nb (blocks 0..nb-1, in order): the one cut
// of rows among threads that every row and element loop shares.
inline long block_first(long n, long nb, long b) { return b * n / nb + 1; }
inline long block_last(long n, long nb, long b) { return (b + 1) * n / nb; }

// body(lo, hi, check) over the rows 1..n: on several threads one block of rows each, with check
// a std::true_type (the body must keep to its rows); on one thread all rows, with check a
// std::false_type (nothing to keep to: the serial loop, as fast as without threads). `work` is
// what decides: the number of entries, say.
template <class Body>
inline void by_rows(long n, long work, Body body) {
#ifdef _OPENMP
    const int nth = work >= kParallelMin ? threads_now() : 1;
    if (nth > 1) {
        loop_clock c(nth);
#pragma omp parallel num_threads(nth)
        {
            const long nb = omp_get_num_threads(), b = omp_get_thread_num();
            c.enter(b);
            body(block_first(n, nb, b), block_last(n, nb, b), std::true_type{});
            c.leave(b);
        }
        return;
    }
#endif
    (void)work;
    body(1L, n, std::false_type{});
}

// A barrier of the threads of a parallel loop, its wait counted as an await's.
inline void loop_barrier() {
#ifdef _OPENMP
    const double t = clock_seconds();
#pragma omp barrier
    const double dt = clock_seconds() - t;
    if (dt > detail::kSpinSeconds) detail::waited += dt;
#endif
}

}  // namespace nep
