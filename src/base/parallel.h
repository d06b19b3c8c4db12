// Loops that run on all cores. Built with OpenMP, the node and element loops marked
//   #pragma omp parallel for schedule(static) if (n >= kParallelMin)
// share their iterations among the threads (OMP_NUM_THREADS, by default one per core); each
// iteration writes only its own entries, so the results are the same to the bit whatever the
// number of threads. Below kParallelMin iterations one thread does the loop: waking the others
// costs more than they save.
#pragma once

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

}  // namespace nep
