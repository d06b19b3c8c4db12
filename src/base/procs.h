// The processes of one run (mpiexec -n P). Every process reads the deck but the files of one
// value a node, which process 0 reads and hands on (bc/initial.cpp); the PETSc solves
// are shared among them, the sums and searches over the nodes are formed over all of them (the
// agreements below), and a halo brings each the values of the nodes it holds but others own, so
// every process takes the same decisions. Process 0 alone writes: the listing, the
// result files, vtk/ and csv/, the terminal log, checkpoints, standard output and standard
// error; but each process writes its own piece of the ParaView series. The others' standard
// output and error go to /dev/null from the start (their files are opened on /dev/null,
// base/units.cpp).
//
// A stop that one process meets alone (a full disk under process 0's files, a failed
// allocation) would leave the others waiting for it in the next solve: the sections of the run
// that write or allocate run inside `together`, where a stop on any process becomes a stop on
// all. Whatever stop still escapes is caught at the end (proc_finish), which ends every process
// rather than leave one waiting.
//
// One process (no mpiexec, or -n 1) is today's program: every function here is then a plain
// call.
#pragma once

#include <new>
#include <string>
#include <utility>
#include <vector>

#include "base/stop.h"

namespace nep {

// Before MPI starts: a process that mpiexec started with a rank above 0 (its environment says
// so) sends its standard output and error to /dev/null, so that the command line's messages
// are not printed P times. When every process of the run is on this machine, OpenMPI is told
// to pass the messages by its own layer (shared memory) unless the user or the system chose one.
void proc_quiet_early(const char* prog);
// Once MPI runs (after PETSc's start): the rank and the number of processes, and the
// communicators of the agreements below. With several processes and no OMP_NUM_THREADS, each
// process runs its loops on one thread. proc_stop frees them (before MPI ends).
void proc_start();
void proc_stop();

int proc_rank();    // 0 on one process
// The program was started by mpiexec (with any number of processes): its standard output is
// relayed by mpiexec, through a terminal of mpiexec's own even when mpiexec's output is a file.
bool proc_launched();
int proc_count();   // 1 on one process
// The one process that writes files and to the terminal.
inline bool proc_writes() { return proc_rank() == 0; }

// Collective agreements: every process calls them at the same point of the run.
int proc_max(int v);           // the largest v of all processes
void proc_max(int* v, int n);  // the same, element by element
int proc_root(int v);          // process 0's v
void proc_share(double* v, long n);  // process 0's n values, on every process
double proc_min(double v);     // the smallest v of all processes
double proc_max(double v);     // the largest v of all processes
void proc_max(double* v, long n);  // the same, element by element
// The sums over the processes, element by element, the same to the bit on every process
// (formed on process 0 in one order, then handed to all). A value that one process alone
// holds passes unchanged when the others give -0.0, the one zero that adds nothing.
void proc_sum(double* v, long n);
int proc_node_count();         // the processes on this machine (sharing its memory)
// The entry of largest key over the processes. Each process gives the largest key its loop over
// its own nodes found, at the node `node` (the deck's number; 0 when it found none), with values
// taken there. The largest key wins; of equal keys a node found wins over none, then the first
// node in the deck's order, or the last when `last` (as a loop over the nodes that keeps the first
// largest or the last). Every process gets the same entry; on one process it is unchanged.
struct proc_best {
    double key = 0.0;
    long node = 0;
    double v[4] = {0.0, 0.0, 0.0, 0.0};
};
void proc_best_of(proc_best& b, bool last);
// The values of every process, those of process 0 first, on every process.
std::vector<double> proc_concat(const std::vector<double>& mine);
// The same on process 0 alone (the others get nothing); `counts` then holds the number of
// values of every process.
std::vector<double> proc_gather(const std::vector<double>& mine, std::vector<int>& counts);

// Values that each process owns and that other processes hold copies of (a halo). setup, once
// and collective: for every copy this process holds, the process that owns the value, the key
// the owner knows it by, and the copy's place; `place_of` gives a key's place on its owner
// (negative for a key it does not own: an internal error). bring, collective: every copy takes
// its owner's value, in an array of values by place. Nothing on one process.
struct proc_copy {
    int owner;
    long key;
    long place;
};
class proc_halo {
public:
    void setup(const std::vector<proc_copy>& copies, long (*place_of)(const void* ctx, long key),
               const void* ctx);
    void bring(double* v) const;

private:
    std::vector<int> send_count_, send_first_, recv_count_, recv_first_;
    std::vector<long> sends_;   // the places of the values sent, process after process
    std::vector<long> places_;  // the places of the copies received, in the same order
};

// Runs f, then agrees on how it ended: a stop (run_stop, or an allocation that failed) on any
// process ends the run on every one. The process that stopped keeps its message; the others
// stop silently with the same status. f may not call a collective itself. On one process
// this is f().
[[noreturn]] void proc_stop_with(const run_stop& mine, const int* agreed);
template <class F>
void together(F&& f) {
    if (proc_count() == 1) {
        f();
        return;
    }
    run_stop mine{0, std::string()};
    try {
        f();
    } catch (const run_stop& s) {
        mine = s;
        if (mine.status == 0) mine.status = EXIT_ERROR;
    } catch (const std::bad_alloc&) {
        mine = run_stop{EXIT_ERROR, kNoMemory};
    }
    // The largest status, and process 0's.
    int agreed[2] = {mine.status, proc_rank() == 0 ? mine.status : 0};
    proc_max(agreed, 2);
    if (agreed[0] != 0) proc_stop_with(mine, agreed);
}

// The end of the run on every process. Each gives its status; the run's status is the largest.
// A process that failed waits at most kEndWait seconds for the others (a process waiting in a
// solve for it would never come): then it ends them all (MPI_Abort, status 1), after writing
// its message, which `message` holds, to standard error. `speak` is set when this process
// must write the run's message itself (process 0, or a process that failed alone while process
// 0 did not). proc_release lets the processes go once process 0 has written its last line.
int proc_finish(int status, const std::string& message, bool& speak);
void proc_release();
constexpr double kEndWait = 60.0;

}  // namespace nep
