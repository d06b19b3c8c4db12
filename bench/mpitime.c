/* The time each process spends inside MPI, call by call: a PMPI layer loaded before the MPI
 * library (LD_PRELOAD), so that it sees the calls of the program, of PETSc and of hypre alike.
 * At MPI_Finalize every process writes MPITIME_PREFIX.RANK.txt (default mpitime.RANK.txt): the
 * wall time from MPI_Init to MPI_Finalize, then for every call used its count, seconds and, for
 * sends and collectives, the bytes it was given.
 *   mpicc -O2 -shared -fPIC -o mpitime.so mpitime.c
 *   mpiexec -n 2 env LD_PRELOAD=$PWD/mpitime.so PROGRAM ...
 * The seconds include the waiting for the other processes (a process that reaches a reduction
 * or a receive first waits there for the last), so they bound the cost of the messages from
 * above: on a machine whose cores are shared with other work the waiting is most of it. */
#include <mpi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { SEND, RECV, ISEND, IRECV, ISSEND, WAIT, WAITALL, WAITANY, WAITSOME, TEST, TESTALL, TESTANY,
       TESTSOME, START, STARTALL, SENDRECV, PROBE, IPROBE, ALLREDUCE, IALLREDUCE, REDUCE, BCAST,
       BARRIER, IBARRIER, ALLGATHER, ALLGATHERV, GATHER, GATHERV, SCATTER, SCATTERV, ALLTOALL,
       ALLTOALLV, SCAN, EXSCAN, NCALLS };
static const char* names[NCALLS] = {
    "MPI_Send", "MPI_Recv", "MPI_Isend", "MPI_Irecv", "MPI_Issend", "MPI_Wait", "MPI_Waitall",
    "MPI_Waitany", "MPI_Waitsome", "MPI_Test", "MPI_Testall", "MPI_Testany", "MPI_Testsome",
    "MPI_Start", "MPI_Startall", "MPI_Sendrecv", "MPI_Probe", "MPI_Iprobe", "MPI_Allreduce",
    "MPI_Iallreduce", "MPI_Reduce", "MPI_Bcast", "MPI_Barrier", "MPI_Ibarrier", "MPI_Allgather",
    "MPI_Allgatherv", "MPI_Gather", "MPI_Gatherv", "MPI_Scatter", "MPI_Scatterv", "MPI_Alltoall",
    "MPI_Alltoallv", "MPI_Scan", "MPI_Exscan"};
static double seconds[NCALLS], bytes[NCALLS];
static long counts[NCALLS];
static double t_init;

static double size_of(int n, MPI_Datatype t) {
    int s = 0;
    if (t != MPI_DATATYPE_NULL) PMPI_Type_size(t, &s);
    return (double)n * s;
}

#define TIMED(k, nbytes, call)                   \
    do {                                         \
        double t0_ = PMPI_Wtime();               \
        int rc_ = call;                          \
        seconds[k] += PMPI_Wtime() - t0_;        \
        counts[k] += 1;                          \
        bytes[k] += (nbytes);                    \
        return rc_;                              \
    } while (0)

int MPI_Init(int* argc, char*** argv) {
    int rc = PMPI_Init(argc, argv);
    t_init = PMPI_Wtime();
    return rc;
}
int MPI_Init_thread(int* argc, char*** argv, int required, int* provided) {
    int rc = PMPI_Init_thread(argc, argv, required, provided);
    t_init = PMPI_Wtime();
    return rc;
}
int MPI_Finalize(void) {
    int rank = 0, size = 1;
    PMPI_Comm_rank(MPI_COMM_WORLD, &rank);
    PMPI_Comm_size(MPI_COMM_WORLD, &size);
    const char* prefix = getenv("MPITIME_PREFIX");
    char path[4096];
    snprintf(path, sizeof path, "%s.%d.txt", prefix && *prefix ? prefix : "mpitime", rank);
    FILE* f = fopen(path, "w");
    if (f) {
        double total = 0.0;
        for (int k = 0; k < NCALLS; ++k) total += seconds[k];
        fprintf(f, "process %d of %d: wall %.6f s, in MPI %.6f s\n", rank, size,
                PMPI_Wtime() - t_init, total);
        fprintf(f, "call count seconds bytes\n");
        for (int k = 0; k < NCALLS; ++k)
            if (counts[k] > 0) fprintf(f, "%s %ld %.6f %.0f\n", names[k], counts[k], seconds[k], bytes[k]);
        fclose(f);
    }
    return PMPI_Finalize();
}

int MPI_Send(const void* b, int n, MPI_Datatype t, int d, int g, MPI_Comm c) {
    TIMED(SEND, size_of(n, t), PMPI_Send(b, n, t, d, g, c));
}
int MPI_Recv(void* b, int n, MPI_Datatype t, int s, int g, MPI_Comm c, MPI_Status* st) {
    TIMED(RECV, 0, PMPI_Recv(b, n, t, s, g, c, st));
}
int MPI_Isend(const void* b, int n, MPI_Datatype t, int d, int g, MPI_Comm c, MPI_Request* r) {
    TIMED(ISEND, size_of(n, t), PMPI_Isend(b, n, t, d, g, c, r));
}
int MPI_Issend(const void* b, int n, MPI_Datatype t, int d, int g, MPI_Comm c, MPI_Request* r) {
    TIMED(ISSEND, size_of(n, t), PMPI_Issend(b, n, t, d, g, c, r));
}
int MPI_Irecv(void* b, int n, MPI_Datatype t, int s, int g, MPI_Comm c, MPI_Request* r) {
    TIMED(IRECV, 0, PMPI_Irecv(b, n, t, s, g, c, r));
}
int MPI_Wait(MPI_Request* r, MPI_Status* st) { TIMED(WAIT, 0, PMPI_Wait(r, st)); }
int MPI_Waitall(int n, MPI_Request r[], MPI_Status st[]) { TIMED(WAITALL, 0, PMPI_Waitall(n, r, st)); }
int MPI_Waitany(int n, MPI_Request r[], int* i, MPI_Status* st) {
    TIMED(WAITANY, 0, PMPI_Waitany(n, r, i, st));
}
int MPI_Waitsome(int n, MPI_Request r[], int* o, int i[], MPI_Status st[]) {
    TIMED(WAITSOME, 0, PMPI_Waitsome(n, r, o, i, st));
}
int MPI_Test(MPI_Request* r, int* f, MPI_Status* st) { TIMED(TEST, 0, PMPI_Test(r, f, st)); }
int MPI_Testall(int n, MPI_Request r[], int* f, MPI_Status st[]) {
    TIMED(TESTALL, 0, PMPI_Testall(n, r, f, st));
}
int MPI_Testany(int n, MPI_Request r[], int* i, int* f, MPI_Status* st) {
    TIMED(TESTANY, 0, PMPI_Testany(n, r, i, f, st));
}
int MPI_Testsome(int n, MPI_Request r[], int* o, int i[], MPI_Status st[]) {
    TIMED(TESTSOME, 0, PMPI_Testsome(n, r, o, i, st));
}
int MPI_Start(MPI_Request* r) { TIMED(START, 0, PMPI_Start(r)); }
int MPI_Startall(int n, MPI_Request r[]) { TIMED(STARTALL, 0, PMPI_Startall(n, r)); }
int MPI_Sendrecv(const void* sb, int sn, MPI_Datatype st, int d, int sg, void* rb, int rn,
                 MPI_Datatype rt, int s, int rg, MPI_Comm c, MPI_Status* status) {
    TIMED(SENDRECV, size_of(sn, st), PMPI_Sendrecv(sb, sn, st, d, sg, rb, rn, rt, s, rg, c, status));
}
int MPI_Probe(int s, int g, MPI_Comm c, MPI_Status* st) { TIMED(PROBE, 0, PMPI_Probe(s, g, c, st)); }
int MPI_Iprobe(int s, int g, MPI_Comm c, int* f, MPI_Status* st) {
    TIMED(IPROBE, 0, PMPI_Iprobe(s, g, c, f, st));
}
int MPI_Allreduce(const void* s, void* r, int n, MPI_Datatype t, MPI_Op o, MPI_Comm c) {
    TIMED(ALLREDUCE, size_of(n, t), PMPI_Allreduce(s, r, n, t, o, c));
}
int MPI_Iallreduce(const void* s, void* r, int n, MPI_Datatype t, MPI_Op o, MPI_Comm c, MPI_Request* q) {
    TIMED(IALLREDUCE, size_of(n, t), PMPI_Iallreduce(s, r, n, t, o, c, q));
}
int MPI_Reduce(const void* s, void* r, int n, MPI_Datatype t, MPI_Op o, int root, MPI_Comm c) {
    TIMED(REDUCE, size_of(n, t), PMPI_Reduce(s, r, n, t, o, root, c));
}
int MPI_Bcast(void* b, int n, MPI_Datatype t, int root, MPI_Comm c) {
    TIMED(BCAST, size_of(n, t), PMPI_Bcast(b, n, t, root, c));
}
int MPI_Barrier(MPI_Comm c) { TIMED(BARRIER, 0, PMPI_Barrier(c)); }
int MPI_Ibarrier(MPI_Comm c, MPI_Request* r) { TIMED(IBARRIER, 0, PMPI_Ibarrier(c, r)); }
int MPI_Allgather(const void* s, int sn, MPI_Datatype st, void* r, int rn, MPI_Datatype rt, MPI_Comm c) {
    TIMED(ALLGATHER, size_of(sn, st), PMPI_Allgather(s, sn, st, r, rn, rt, c));
}
int MPI_Allgatherv(const void* s, int sn, MPI_Datatype st, void* r, const int rn[], const int d[],
                   MPI_Datatype rt, MPI_Comm c) {
    TIMED(ALLGATHERV, size_of(sn, st), PMPI_Allgatherv(s, sn, st, r, rn, d, rt, c));
}
int MPI_Gather(const void* s, int sn, MPI_Datatype st, void* r, int rn, MPI_Datatype rt, int root,
               MPI_Comm c) {
    TIMED(GATHER, size_of(sn, st), PMPI_Gather(s, sn, st, r, rn, rt, root, c));
}
int MPI_Gatherv(const void* s, int sn, MPI_Datatype st, void* r, const int rn[], const int d[],
                MPI_Datatype rt, int root, MPI_Comm c) {
    TIMED(GATHERV, size_of(sn, st), PMPI_Gatherv(s, sn, st, r, rn, d, rt, root, c));
}
int MPI_Scatter(const void* s, int sn, MPI_Datatype st, void* r, int rn, MPI_Datatype rt, int root,
                MPI_Comm c) {
    TIMED(SCATTER, size_of(rn, rt), PMPI_Scatter(s, sn, st, r, rn, rt, root, c));
}
int MPI_Scatterv(const void* s, const int sn[], const int d[], MPI_Datatype st, void* r, int rn,
                 MPI_Datatype rt, int root, MPI_Comm c) {
    TIMED(SCATTERV, size_of(rn, rt), PMPI_Scatterv(s, sn, d, st, r, rn, rt, root, c));
}
int MPI_Alltoall(const void* s, int sn, MPI_Datatype st, void* r, int rn, MPI_Datatype rt, MPI_Comm c) {
    int p = 1;
    PMPI_Comm_size(c, &p);
    TIMED(ALLTOALL, size_of(sn, st) * p, PMPI_Alltoall(s, sn, st, r, rn, rt, c));
}
int MPI_Alltoallv(const void* s, const int sn[], const int sd[], MPI_Datatype st, void* r,
                  const int rn[], const int rd[], MPI_Datatype rt, MPI_Comm c) {
    int p = 1;
    PMPI_Comm_size(c, &p);
    double b = 0.0;
    for (int i = 0; i < p; ++i) b += size_of(sn[i], st);
    TIMED(ALLTOALLV, b, PMPI_Alltoallv(s, sn, sd, st, r, rn, rd, rt, c));
}
int MPI_Scan(const void* s, void* r, int n, MPI_Datatype t, MPI_Op o, MPI_Comm c) {
    TIMED(SCAN, size_of(n, t), PMPI_Scan(s, r, n, t, o, c));
}
int MPI_Exscan(const void* s, void* r, int n, MPI_Datatype t, MPI_Op o, MPI_Comm c) {
    TIMED(EXSCAN, size_of(n, t), PMPI_Exscan(s, r, n, t, o, c));
}
