#include "base/procs.h"

#include <mpi.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _OPENMP
#include <omp.h>
#endif

namespace nep {

namespace {

int g_rank = 0, g_count = 1, g_node = 1;
// The agreements of the run (together, proc_max, ...) and the end of the run have
// communicators of their own, apart from PETSc's and from each other: a process that stopped
// alone and waits at the end must not be matched with the others' next agreement.
MPI_Comm g_steps = MPI_COMM_NULL, g_end = MPI_COMM_NULL;
// The standard error this process was started with (kept when it was sent to /dev/null).
int g_stderr = STDERR_FILENO;
const char* g_prog = "nepora3d";

// The rank mpiexec gave this process, from its environment (OpenMPI, PMIx, MPICH), or -1.
long launched_rank() {
    for (const char* name : {"OMPI_COMM_WORLD_RANK", "PMIX_RANK", "PMI_RANK"}) {
        const char* v = std::getenv(name);
        if (v == nullptr || *v == '\0') continue;
        char* end = nullptr;
        const long r = std::strtol(v, &end, 10);
        if (*end == '\0' && r >= 0) return r;
    }
    return -1;
}

void quiet_streams() {
    if (g_stderr != STDERR_FILENO) return;  // already quiet
    std::fflush(stdout);
    std::fflush(stderr);
    const int null = ::open("/dev/null", O_WRONLY);
    if (null < 0) return;
    g_stderr = ::dup(STDERR_FILENO);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    ::close(null);
}

// This process's standard error back, to write a message that no other process writes.
void speak_again() {
    if (g_stderr == STDERR_FILENO || g_stderr < 0) return;
    std::fflush(stderr);
    ::dup2(g_stderr, STDERR_FILENO);
}

void say(const std::string& text) {
    const std::string line = std::string(g_prog) + ": process " + std::to_string(g_rank) + " of " +
                             std::to_string(g_count) + ": " + text + "\n";
    const int fd = g_stderr >= 0 ? g_stderr : STDERR_FILENO;
    if (::write(fd, line.data(), line.size()) < 0) return;
}

double seconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + 1e-9 * (double)t.tv_nsec;
}

// Whether an MCA parameter file of OpenMPI (the system's, or the user's) chooses `what` (a line
// "what = value"; a value that only excludes components, "^ucx", chooses nothing).
bool mca_file_chooses(const char* what) {
    std::string paths[2] = {"/etc/openmpi/openmpi-mca-params.conf", ""};
    if (const char* home = std::getenv("HOME")) paths[1] = std::string(home) + "/.openmpi/mca-params.conf";
    for (const std::string& path : paths) {
        std::FILE* f = path.empty() ? nullptr : std::fopen(path.c_str(), "r");
        if (f == nullptr) continue;
        char line[512];
        bool named = false;
        while (!named && std::fgets(line, sizeof line, f) != nullptr) {
            const char* p = line + std::strspn(line, " \t");
            if (std::strncmp(p, what, std::strlen(what)) != 0) continue;
            p += std::strlen(what);
            p += std::strspn(p, " \t");
            if (*p != '=') continue;
            ++p;
            p += std::strspn(p, " \t");
            named = *p != '^' && *p != '\n' && *p != '\0';
        }
        std::fclose(f);
        if (named) return true;
    }
    return false;
}

}  // namespace

void proc_quiet_early(const char* prog) {
    g_prog = prog;
    if (launched_rank() > 0) quiet_streams();
    // Every process of the run on this machine (OpenMPI started as many here as in all): their
    // messages go through shared memory, and OpenMPI starts without trying the layers of the
    // interconnects first (some 0.2 s of every start of 8 processes on a machine without one),
    // unless the user or the system chose the messaging layer.
    const char* world = std::getenv("OMPI_COMM_WORLD_SIZE");
    const char* here = std::getenv("OMPI_COMM_WORLD_LOCAL_SIZE");
    if (world != nullptr && here != nullptr && std::strcmp(world, here) == 0 &&
        std::getenv("OMPI_MCA_pml") == nullptr && std::getenv("OMPI_MCA_mtl") == nullptr &&
        !mca_file_chooses("pml") && !mca_file_chooses("mtl")) {
        setenv("OMPI_MCA_pml", "ob1", 0);
    }
}

void proc_start() {
    int ok = 0;
    MPI_Initialized(&ok);
    if (!ok) return;
    MPI_Comm_rank(MPI_COMM_WORLD, &g_rank);
    MPI_Comm_size(MPI_COMM_WORLD, &g_count);
    if (g_count == 1) return;
    if (g_rank > 0) quiet_streams();
    MPI_Comm_dup(MPI_COMM_WORLD, &g_steps);
    MPI_Comm_dup(MPI_COMM_WORLD, &g_end);
    MPI_Comm node = MPI_COMM_NULL;
    MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, 0, MPI_INFO_NULL, &node);
    if (node != MPI_COMM_NULL) {
        MPI_Comm_size(node, &g_node);
        MPI_Comm_free(&node);
    }
#ifdef _OPENMP
    // The processes share the cores: one thread each unless the user asks for more.
    if (std::getenv("OMP_NUM_THREADS") == nullptr) omp_set_num_threads(1);
#endif
}

void proc_stop() {
    if (g_steps != MPI_COMM_NULL) MPI_Comm_free(&g_steps);
    if (g_end != MPI_COMM_NULL) MPI_Comm_free(&g_end);
}

int proc_rank() { return g_rank; }
bool proc_launched() { return g_count > 1 || launched_rank() >= 0; }
int proc_count() { return g_count; }
int proc_node_count() { return g_node; }

void proc_max(int* v, int n) {
    if (g_count == 1) return;
    MPI_Allreduce(MPI_IN_PLACE, v, n, MPI_INT, MPI_MAX, g_steps);
}

int proc_max(int v) {
    proc_max(&v, 1);
    return v;
}

int proc_root(int v) {
    if (g_count > 1) MPI_Bcast(&v, 1, MPI_INT, 0, g_steps);
    return v;
}

void proc_share(double* v, long n) {
    if (g_count > 1 && n > 0) MPI_Bcast(v, (int)n, MPI_DOUBLE, 0, g_steps);
}

double proc_min(double v) {
    if (g_count > 1) MPI_Allreduce(MPI_IN_PLACE, &v, 1, MPI_DOUBLE, MPI_MIN, g_steps);
    return v;
}

void proc_max(double* v, long n) {
    if (g_count > 1 && n > 0) MPI_Allreduce(MPI_IN_PLACE, v, (int)n, MPI_DOUBLE, MPI_MAX, g_steps);
}

double proc_max(double v) {
    proc_max(&v, 1);
    return v;
}

void proc_sum(double* v, long n) {
    if (g_count == 1 || n <= 0) return;
    MPI_Reduce(g_rank == 0 ? MPI_IN_PLACE : v, v, (int)n, MPI_DOUBLE, MPI_SUM, 0, g_steps);
    MPI_Bcast(v, (int)n, MPI_DOUBLE, 0, g_steps);
}

void proc_best_of(proc_best& b, bool last) {
    if (g_count == 1) return;
    const double mine[6] = {b.key, (double)b.node, b.v[0], b.v[1], b.v[2], b.v[3]};
    std::vector<double> all(6 * (std::size_t)g_count);
    MPI_Allgather(mine, 6, MPI_DOUBLE, all.data(), 6, MPI_DOUBLE, g_steps);
    const double* best = all.data();
    for (int q = 1; q < g_count; ++q) {
        const double* c = all.data() + 6 * q;
        const bool better = c[0] > best[0] ||
                            (c[0] == best[0] && c[1] != 0.0 &&
                             (best[1] == 0.0 || (last ? c[1] > best[1] : c[1] < best[1])));
        if (better) best = c;
    }
    b.key = best[0];
    b.node = (long)best[1];
    for (int k = 0; k < 4; ++k) b.v[k] = best[2 + k];
}

std::vector<double> proc_concat(const std::vector<double>& mine) {
    if (g_count == 1) return mine;
    std::vector<int> count(g_count), first(g_count + 1, 0);
    const int n = (int)mine.size();
    MPI_Allgather(&n, 1, MPI_INT, count.data(), 1, MPI_INT, g_steps);
    for (int q = 0; q < g_count; ++q) first[q + 1] = first[q] + count[q];
    std::vector<double> all((std::size_t)first[g_count]);
    MPI_Allgatherv(mine.data(), n, MPI_DOUBLE, all.data(), count.data(), first.data(), MPI_DOUBLE,
                   g_steps);
    return all;
}

std::vector<double> proc_gather(const std::vector<double>& mine, std::vector<int>& counts) {
    counts.assign(g_count, 0);
    if (g_count == 1) {
        counts[0] = (int)mine.size();
        return mine;
    }
    const int n = (int)mine.size();
    MPI_Gather(&n, 1, MPI_INT, counts.data(), 1, MPI_INT, 0, g_steps);
    std::vector<int> first(g_count + 1, 0);
    for (int q = 0; q < g_count; ++q) first[q + 1] = first[q] + counts[q];
    std::vector<double> all(g_rank == 0 ? (std::size_t)first[g_count] : 0);
    MPI_Gatherv(mine.data(), n, MPI_DOUBLE, all.data(), counts.data(), first.data(), MPI_DOUBLE, 0,
                g_steps);
    return all;
}

void proc_halo::setup(const std::vector<proc_copy>& copies, long (*place_of)(const void*, long),
                      const void* ctx) {
    sends_.clear();
    places_.clear();
    if (g_count == 1) return;
    // The copies by owner, and the keys each owner is asked for.
    recv_count_.assign(g_count, 0);
    for (const proc_copy& c : copies) ++recv_count_[c.owner];
    recv_first_.assign(g_count + 1, 0);
    for (int q = 0; q < g_count; ++q) recv_first_[q + 1] = recv_first_[q] + recv_count_[q];
    std::vector<int> next(recv_first_.begin(), recv_first_.end() - 1);
    std::vector<long> keys(copies.size());
    places_.resize(copies.size());
    for (const proc_copy& c : copies) {
        const int k = next[c.owner]++;
        keys[k] = c.key;
        places_[k] = c.place;
    }
    send_count_.assign(g_count, 0);
    MPI_Alltoall(recv_count_.data(), 1, MPI_INT, send_count_.data(), 1, MPI_INT, g_steps);
    send_first_.assign(g_count + 1, 0);
    for (int q = 0; q < g_count; ++q) send_first_[q + 1] = send_first_[q] + send_count_[q];
    std::vector<long> asked((std::size_t)send_first_[g_count]);
    MPI_Alltoallv(keys.data(), recv_count_.data(), recv_first_.data(), MPI_LONG, asked.data(),
                  send_count_.data(), send_first_.data(), MPI_LONG, g_steps);
    sends_.resize(asked.size());
    for (std::size_t k = 0; k < asked.size(); ++k) {
        sends_[k] = place_of(ctx, asked[k]);
        if (sends_[k] < 0) {
            throw run_stop{1, "internal error: a process asked for value " + std::to_string(asked[k]) +
                                  ", which this process does not own"};
        }
    }
}

void proc_halo::bring(double* v) const {
    if (g_count == 1) return;
    std::vector<double> out(sends_.size()), in(places_.size());
    for (std::size_t k = 0; k < sends_.size(); ++k) out[k] = v[sends_[k]];
    MPI_Alltoallv(out.data(), send_count_.data(), send_first_.data(), MPI_DOUBLE, in.data(),
                  recv_count_.data(), recv_first_.data(), MPI_DOUBLE, g_steps);
    for (std::size_t k = 0; k < places_.size(); ++k) v[places_[k]] = in[k];
}

void proc_stop_with(const run_stop& mine, const int* agreed) {
    if (mine.status != 0) {
        // A process that stopped while process 0 went on writes its own message: no other
        // process knows it.
        if (g_rank > 0 && agreed[1] == 0 && !mine.message.empty()) say(mine.message);
        throw mine;
    }
    throw run_stop{agreed[0], agreed[1] == 0 && g_rank == 0
                                  ? std::string("another process stopped the run (its message is above)")
                                  : std::string()};
}

int proc_finish(int status, const std::string& message, bool& speak) {
    speak = g_rank == 0;
    if (g_count == 1) return status;
    std::vector<int> all(g_count, 0);
    MPI_Request req = MPI_REQUEST_NULL;
    MPI_Iallgather(&status, 1, MPI_INT, all.data(), 1, MPI_INT, g_end, &req);
    if (status == 0) {
        // A process that completed waits as long as the others take: one that failed waits
        // for them with a limit, and ends them all when they do not come.
        MPI_Wait(&req, MPI_STATUS_IGNORE);
    } else {
        const double start = seconds();
        int done = 0;
        while (MPI_Test(&req, &done, MPI_STATUS_IGNORE) == MPI_SUCCESS && !done) {
            if (seconds() - start > kEndWait) {
                say((message.empty() ? std::string("stopped") : message) +
                    "; the other processes did not reach the end of the run within " +
                    std::to_string((int)kEndWait) + " s: every process is ended (MPI_Abort)");
                MPI_Abort(MPI_COMM_WORLD, EXIT_ERROR);
            }
            const timespec nap{0, 1000000};
            nanosleep(&nap, nullptr);
        }
    }
    int final = 0;
    for (int s : all) final = s > final ? s : final;
    if (g_rank > 0 && status != 0 && all[0] == 0) {
        speak = true;
        speak_again();
    }
    return final;
}

void proc_release() {
    if (g_count > 1) MPI_Barrier(g_end);
}

}  // namespace nep
