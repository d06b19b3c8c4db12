// Loops that run on all cores. Built with OpenMP, the node and element loops share their
// iterations among the threads (OMP_NUM_THREADS, by default one per core); each iteration writes
// only its own entries, so the results are the same to the bit whatever the number of threads.
// Below kParallelMin iterations, or with one thread, the loop runs as a plain loop: waking the
// others costs more than they save, and a loop handed to the thread runtime is not optimised as
// well as a plain one.
#pragma once

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
inline int max_threads() {
#ifdef _OPENMP
    return omp_get_max_threads();
#else
    return 1;
#endif
}

// f(i) for i = lo..hi.
template <class F>
inline void parallel_for(long lo, long hi, F f) {
#ifdef _OPENMP
    if (hi - lo + 1 >= kParallelMin && omp_get_max_threads() > 1) {
#pragma omp parallel for schedule(static)
        for (long i = lo; i <= hi; ++i) f(i);
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
    if (hi - lo + 1 >= kParallelMin && omp_get_max_threads() > 1) {
#pragma omp parallel for schedule(dynamic, 1024)
        for (long i = lo; i <= hi; ++i) f(i);
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
    if (work >= kParallelMin && omp_get_max_threads() > 1) {
#pragma omp parallel
        {
            const long nb = omp_get_num_threads(), b = omp_get_thread_num();
            body(block_first(n, nb, b), block_last(n, nb, b), std::true_type{});
        }
        return;
    }
#endif
    (void)work;
    body(1L, n, std::false_type{});
}

}  // namespace nep
