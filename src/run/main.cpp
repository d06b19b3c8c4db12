#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "base/interrupt.h"
#include "base/procs.h"
#include "base/stop.h"
#include "output/balance.h"
#include "output/extras.h"
#include "run/checkpoint.h"
#include "run/driver.h"
#include "run/fileset.h"
#include "run/progress.h"
#include "run/run.h"
#include "run/storage.h"
#include "solvers/petsc.h"

#ifndef NEPORA_VERSION
#define NEPORA_VERSION "unknown"
#endif

namespace nep {

namespace {

void usage(std::FILE* f, const char* prog) {
    std::fprintf(f,
                 "usage: %s [DECK_DIR]\n"
                 "       %s [--no-extra-output] [DECK_DIR] [PETSc options]\n"
                 "       mpiexec -n P %s [DECK_DIR] ...   one run on P processes (a PETSc\n"
                 "                     selector, ISOLV -10 to -14; docs/parallel.md)\n"
                 "Runs the simulation of the deck in DECK_DIR (default: the current directory),\n"
                 "which holds nepora3d.fnames and the files it names.\n"
                 "  -h, --help         print this help and exit\n"
                 "  --version          print the version and exit\n"
                 "  --no-extra-output  write only the specified result files: no vtk/ (ParaView\n"
                 "                     series) and no csv/ (tables) folders in DECK_DIR\n"
                 "  -NAME [VALUE]...   an option of PETSc's database, after DECK_DIR, for the\n"
                 "                     solvers of the PETSc selectors (ISOLV, ISOLVC -10 to -14):\n"
                 "                     -ksp_type, -pc_type, -ksp_monitor, -log_view, -help, ...;\n"
                 "                     the transport system reads them with the prefix -tr_\n"
                 "                     (-tr_ksp_type). A .petscrc in DECK_DIR is read first. An\n"
                 "                     option that no PETSc object of the run reads (by the end\n"
                 "                     of the first solve of its system) stops the run.\n"
                 "  --quiet            print only warnings, errors and the closing summary\n"
                 "  --verbose          the terminal log of every step and iteration on the\n"
                 "                     terminal (by default a status line, the log going to\n"
                 "                     terminal.log)\n"
                 "  --progress-every P without a terminal, a progress line every P percent of\n"
                 "                     the simulated time (default 10; 0 for none)\n"
                 "  --pseudo-transient a steady-state deck (DELTAT 1e10 or more) goes to its\n"
                 "                     steady state by pseudo-time steps from the first (a\n"
                 "                     direct steady solve that fails goes on so by itself)\n"
                 "  --initial-from DIR the initial heads are the final heads of the run in DIR\n"
                 "                     (its csv/final-state.csv, or the file DIR), same mesh\n"
                 "%s"
                 "Exit status: 0 completed, 1 error stop, 2 ended early (a step failed at the\n"
                 "smallest step size), 130 or 143 interrupted by SIGINT or SIGTERM.\n"
                 "Input and output files: docs/input.md and docs/output.md; vtk/ and csv/:\n"
                 "docs/results.md; checkpoints: docs/checkpoint.md.\n",
                 prog, prog, prog, kCheckpointUsage);
}

// The command line: at most one deck directory, and the options above. Returns -1 when the run
// goes on, else the exit status; nothing has been opened yet.
// Words of the form -NAME go, with the values that follow them, to PETSc.
int parse_args(int argc, char** argv, const char* prog, std::string& dir, bool& extra,
               progress_state& progress, checkpoint_files& ck, std::vector<std::string>& petsc,
               bool& pseudo, std::string& from) {
    bool options = true;
    for (int k = 1; k < argc; ++k) {
        const std::string a = argv[k];
        if (options && (a == "-h" || a == "--help")) {
            usage(stdout, prog);
            return EXIT_DONE;
        }
        if (options && a == "--version") {
            std::printf("%s %s\n", prog, NEPORA_VERSION);
            return EXIT_DONE;
        }
        const int c = options ? checkpoint_option(argc, argv, k, ck, prog) : 0;
        if (c < 0) return EXIT_ERROR;
        if (c > 0) continue;
        if (options && a == "--no-extra-output") {
            extra = false;
        } else if (options && (a == "--quiet" || a == "--verbose")) {
            progress.MODE = a == "--quiet" ? verbosity::QUIET : verbosity::VERBOSE;
        } else if (options && a == "--progress-every") {
            char* end = nullptr;
            const long p = k + 1 < argc ? std::strtol(argv[k + 1], &end, 10) : -1;
            if (k + 1 >= argc || end == argv[k + 1] || *end != '\0' || p < 0 || p > 100) {
                std::fprintf(stderr, "%s: --progress-every takes a percent from 0 to 100, not '%s'\n",
                             prog, k + 1 < argc ? argv[k + 1] : "");
                return EXIT_ERROR;
            }
            progress.EVERY = (int)p;
            ++k;
        } else if (options && a == "--pseudo-transient") {
            pseudo = true;
        } else if (options && a == "--initial-from") {
            if (k + 1 >= argc || argv[k + 1][0] == '\0') {
                std::fprintf(stderr, "%s: --initial-from takes the directory of a run\n", prog);
                return EXIT_ERROR;
            }
            from = argv[++k];
            // Taken from the directory the program is started in, as the deck directory is.
            if (from[0] != '/') {
                char cwd[4096];
                if (::getcwd(cwd, sizeof cwd) != nullptr) from = std::string(cwd) + "/" + from;
            }
        } else if (options && a == "--") {
            options = false;
        } else if (options && petsc_option_word(a)) {
            petsc.push_back(a);
            while (k + 1 < argc && petsc_value_word(argv[k + 1])) petsc.push_back(argv[++k]);
        } else if (options && a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "%s: unknown option '%s'\n", prog, a.c_str());
            usage(stderr, prog);
            return EXIT_ERROR;
        } else if (dir.empty()) {
            dir = a;
        } else {
            std::fprintf(stderr, "%s: one deck directory only, not '%s' and '%s'\n", prog,
                         dir.c_str(), a.c_str());
            usage(stderr, prog);
            return EXIT_ERROR;
        }
    }
    return -1;
}

const char* end_reason(int status, const control& ctl) {
    switch (status) {
    case EXIT_DONE:
        return ctl.DELTAT >= 1.0e10 || ctl.PTC.DONE ? "steady state solved" : "run completed";
    case EXIT_ERROR: return "stopped on an error";
    case EXIT_NO_BACKSTEP: return "ended early: a step failed at the smallest step size";
    default: break;
    }
    return "";
}

// Atmospheric input that fell on surface nodes with another condition and was not applied, and
// water that stood above the ground at flux-controlled nodes: a line each, only when it
// happened.
void unapplied_summary(const records& R, const char* prog) {
    const massbal& mb = R.mb;
    if (mb.CNAP[1] != 0.0 || mb.CNAP[2] != 0.0) {
        std::string where;
        const char* kind[4] = {nullptr, "prescribed head", "prescribed flux", "seepage face"};
        for (int k = 1; k <= 3; ++k) {
            if (mb.NAPNOD[k] == 0) continue;
            if (!where.empty()) where += ", ";
            where += std::to_string(mb.NAPNOD[k]) + " " + kind[k];
        }
        std::fprintf(stderr,
                     "%s: %satmospheric input not applied at %d surface nodes with another "
                     "condition (%s):",
                     prog, napwarn(mb) ? "warning: " : "",
                     mb.NAPNOD[1] + mb.NAPNOD[2] + mb.NAPNOD[3], where.c_str());
        const char* what[3] = {nullptr, "rain", "evaporation"};
        const char* sep = " ";
        for (int k = 1; k <= 2; ++k) {
            if (mb.CNAP[k] == 0.0) continue;
            std::fprintf(stderr, "%s%s %.6g of %.6g on the surface (%.3g %%)", sep, what[k],
                         mb.CNAP[k], mb.CATM[k],
                         mb.CATM[k] != 0.0 ? 100.0 * mb.CNAP[k] / mb.CATM[k] : 100.0);
            sep = ", ";
        }
        std::fprintf(stderr, "\n");
    }
    if (R.bc.NPONDEP > 0) {
        std::fprintf(stderr,
                     "%s: warning: water stood above the ground at flux-controlled surface nodes "
                     "%d times (the listing names the nodes)\n",
                     prog, R.bc.NPONDEP);
    }
}

// One or two lines on standard error: how the run ended, how far it got, the water budget and
// the wall time.
void closing_summary(const records& R, const char* prog, int status, double wall) {
    const control& ctl = R.ctl;
    const massbal& mb = R.mb;
    std::string reason = end_reason(status, ctl);
    if (reason.empty()) {
        const int sig = status - 128;
        reason = sig == SIGINT ? "interrupted by SIGINT"
                 : sig == SIGTERM ? "interrupted by SIGTERM"
                                  : "interrupted by signal " + std::to_string(sig);
    }
    if (ctl.NDONE == 0 && status == EXIT_DONE) {
        std::fprintf(stderr, "%s: mesh written (IPRT1 = 3); wall time %.2f s\n", prog, wall);
        return;
    }
    if (ctl.NDONE == 0) {
        std::fprintf(stderr, "%s: %s before the first step was completed; wall time %.2f s\n", prog,
                     reason.c_str(), wall);
        return;
    }
    std::fprintf(stderr, "%s: %s at time %.6g after %d steps, %d nonlinear and %d linear iterations",
                 prog, reason.c_str(), ctl.TDONE, ctl.NDONE, ctl.ITUNS, ctl.ITLIN);
    if (ctl.ITRANS != 0) std::fprintf(stderr, ", %d coupled iterations", ctl.ITUNSC);
    std::fprintf(stderr, "\n");
    if (ctl.PTC.ON && (ctl.DELTAT >= 1.0e10 || ctl.PTC.DONE) && status == EXIT_DONE) {
        // The sums over pseudo-time are no budget: the balance of the last step is.
        const bool direct = ctl.DELTAT >= 1.0e10;
        std::fprintf(stderr, "%s: pseudo-transient continuation: %d pseudo-time steps%s\n", prog,
                     direct ? ctl.PTC.STEPS : ctl.PTC.STEPS + 1, direct ? " and the steady step" : "");
        std::fprintf(stderr, "%s: water budget of the steady state: in %.6g, out %.6g, storage change "
                     "%.3g, net error %.3g (%.3g %%); wall time %.2f s\n",
                     prog, mb.VIN, mb.VOUT, mb.DSTORE, mb.ERRAS, mb.ERREL, wall);
        unapplied_summary(R, prog);
        return;
    }
    const double net = mb.CINOUT - mb.CSTORE;
    const double base = mb.CIN != 0.0 ? mb.CIN : std::fabs(mb.COUT);
    std::fprintf(stderr, "%s: water budget: in %.6g, out %.6g, storage change %.6g, net error %.3g",
                 prog, mb.CIN, mb.COUT, mb.CSTORE, net);
    if (base != 0.0) {
        std::fprintf(stderr, " (%.3g %% of the water that %s)", 100.0 * net / base,
                     mb.CIN != 0.0 ? "entered" : "left");
    }
    std::fprintf(stderr, "; wall time %.2f s\n", wall);
    if (mb.SURFON) {
        std::fprintf(stderr, "%s: water on the ground: out through the outlets %.6g, storage change %.6g, "
                     "infiltration %.6g, exfiltration %.6g\n",
                     prog, mb.CSOUT, mb.CSSTORE, mb.CSINF, mb.CSEXF);
    }
    if (mb.ROOTON) {
        std::fprintf(stderr, "%s: root water uptake: %.6g of a potential transpiration of %.6g\n",
                     prog, mb.CUPTVOL, mb.CUPTPOT);
    }
    unapplied_summary(R, prog);
}

}  // namespace

int run_program(dialect d, const char* progname, int argc, char** argv) {
    std::string dir;
    bool extra = true;
    progress_state progress;
    std::vector<std::string> petsc_words;
    checkpoint_files ck;
    proc_quiet_early(progname);
    bool pseudo = false;
    std::string from;
    const int early =
        parse_args(argc, argv, progname, dir, extra, progress, ck, petsc_words, pseudo, from);
    if (early >= 0) return early;
    if (!dir.empty() && ::chdir(dir.c_str()) != 0) {
        std::fprintf(stderr, "%s: cannot enter the deck directory '%s': %s\n", progname, dir.c_str(),
                     std::strerror(errno));
        return EXIT_ERROR;
    }
    const auto start = std::chrono::steady_clock::now();
    // PETSc outlives the records (their PETSc systems are released first), and reads the
    // .petscrc of the deck directory, which the program has entered.
    petsc_session petsc(progname, petsc_words);
    if (!petsc.ok()) {
        std::fprintf(stderr, "%s: %s\n", progname, petsc.message().c_str());
        return EXIT_ERROR;
    }
    catch_interrupts();

    auto R = std::make_unique<records>();
    R->ctl.DIALECT = d;
    R->io.PROGNAME = progname;
    R->io.EXTRA.ON = extra;
    R->io.CKPT = ck;
    R->io.INITFROM = from;
    R->ctl.PTC.ASKED = pseudo;
    R->io.PROGRESS = progress;
    progress_start(R->io);
    int status = EXIT_DONE;
    std::string message;
    try {
        together([&] {
            openio(R->ctl, R->io);
            read_dim(R->dim, R->ctl, R->io);
            allocate(R->dim, R->ctl, R->io, R->msh, R->bc, R->tra, R->sl, R->sp, R->fs);
        });
        status = nepora3d(*R);
        closio(R->io);
        deallocate(R->dim, R->ctl, R->io, R->msh, R->bc, R->tra, R->sl, R->sp, R->fs);
    } catch (const run_stop& s) {
        status = s.status;
        message = s.message;
    } catch (const std::bad_alloc&) {
        status = EXIT_ERROR;
        message = kNoMemory;
    }
    // A run that stopped before its input was through leaves the previous run's files as they
    // were (a mesh-only run, IPRT1 = 3, is complete: its files replace them). Whatever ended
    // the run later, every file keeps what was written to it.
    if (status == EXIT_DONE) {
        try {
            together([&] { commit_outputs(R->io); });
        } catch (const run_stop& s) {
            status = s.status;
            message = s.message;
        }
    }
    progress_end(R->io);
    discard_outputs(R->io);
    closio(R->io);
    flush_all(R->io);
    extra_close(R->io);
    std::fflush(stdout);
    // Several processes end together: the run's status is the same on all, and one process
    // writes the message and the summary.
    bool speak = true;
    const int own = status;
    status = proc_finish(status, message, speak);
    if (speak && own == EXIT_DONE && status != EXIT_DONE && message.empty()) {
        message = "another process stopped the run (its message is above)";
    }
    if (speak && !message.empty()) {
        if (proc_rank() > 0) {
            std::fprintf(stderr, "%s: process %d of %d: %s\n", progname, proc_rank(), proc_count(),
                         message.c_str());
        } else {
            std::fprintf(stderr, "%s: %s\n", progname, message.c_str());
        }
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (proc_rank() == 0) closing_summary(*R, progname, status, wall);
    std::fflush(stderr);
    proc_release();
    return status;
}

}  // namespace nep
