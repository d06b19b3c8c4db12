/* A STREAM-like triad a = b + s*c over arrays far larger than the caches: the memory bandwidth
   the conjugate-gradient iteration is held against. Prints the best of ten passes in GB/s,
   counting 24 bytes per element (two reads, one write). Built with OpenMP it runs on
   OMP_NUM_THREADS threads, each on its own part of the arrays (first written by that thread). */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

int main(void) {
    const size_t n = 16u * 1024u * 1024u; /* 3 x 128 MiB */
    double *a = malloc(n * sizeof *a), *b = malloc(n * sizeof *b), *c = malloc(n * sizeof *c);
    if (!a || !b || !c) return 1;
#pragma omp parallel for schedule(static)
    for (size_t i = 0; i < n; ++i) { a[i] = 0.0; b[i] = 1.0; c[i] = 2.0; }
    double best = 1e30;
    for (int k = 0; k < 10; ++k) {
        struct timespec t0, t1;
        clock_gettime(CLOCK_MONOTONIC, &t0);
#pragma omp parallel for schedule(static)
        for (size_t i = 0; i < n; ++i) a[i] = b[i] + 3.0 * c[i];
        clock_gettime(CLOCK_MONOTONIC, &t1);
        const double s = (t1.tv_sec - t0.tv_sec) + 1e-9 * (t1.tv_nsec - t0.tv_nsec);
        if (s < best) best = s;
    }
    printf("%.3f\n", 24.0 * n / best / 1e9 + 0.0 * a[n / 2]);
    free(a); free(b); free(c);
    return 0;
}
