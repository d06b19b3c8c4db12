#include "solvers/petsc/petsc_system.h"

namespace nep {
namespace petsc_impl {

void petsc_ok(PetscErrorCode e, const char* what) {
    if (e != 0) {
        input_error(std::string("PETSc failed in ") + what + " (error code " + std::to_string((int)e) +
                    "; PETSc's own message is above)");
    }
}

bool transport_option(const std::string& name) {
    return name.compare(0, std::strlen(kTransportPrefix), kTransportPrefix) == 0;
}

void refuse_unused(bool transport, const char* why) {
    std::string bad;
    for (const std::string& n : command_line_names()) {
        if (transport_option(n) != transport) continue;
        PetscBool used = PETSC_FALSE;
        PETSC_OK(PetscOptionsUsed(nullptr, n.c_str(), &used));
        if (!used) bad += (bad.empty() ? "-" : ", -") + n;
    }
    if (!bad.empty()) {
        input_error("option " + bad + ": not an option of nepora3d, and no PETSc object " + why +
                    " (see nepora3d --help)");
    }
}

}  // namespace petsc_impl

// ---------------------------------------------------------------------------------------------
// The session.

bool petsc_option_word(const std::string& w) {
    return w.size() > 1 && w[0] == '-' && std::isalpha((unsigned char)w[1]);
}

bool petsc_value_word(const std::string& w) {
    if (w.empty() || w[0] != '-') return true;
    return w.size() > 1 && (std::isdigit((unsigned char)w[1]) || w[1] == '.');
}

petsc_session::petsc_session(const char* prog, const std::vector<std::string>& words) {
    // One process without mpiexec: OpenMPI's singleton start looks for a run-time system to join
    // and probes the network transports, which takes about 0.4 s; as one isolated process with
    // the plain point-to-point layer it starts in a few hundredths. Whatever the user set stays.
    // Isolated singletons all take job family 0, and so one session directory in the temporary
    // directory: two runs starting and ending at once remove it under each other ("A call to
    // mkdir was unable to create the desired directory"). Each run gets a directory of its own
    // for OpenMPI's session files, removed at the end.
    if (std::getenv("OMPI_COMM_WORLD_SIZE") == nullptr && std::getenv("PMIX_RANK") == nullptr) {
        setenv("OMPI_MCA_ess_singleton_isolated", "1", 0);
        setenv("OMPI_MCA_pml", "ob1", 0);
        if (std::getenv("OMPI_MCA_orte_tmpdir_base") == nullptr) {
            const char* tmp = std::getenv("TMPDIR");
            std::string dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                              "/nepora3d-mpi." + std::to_string((long)getpid());
            if (mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST) {
                session_dir_ = dir;
                setenv("OMPI_MCA_orte_tmpdir_base", dir.c_str(), 1);
            }
        }
    }
    program_name() = prog;
    command_line_names().clear();
    for (const std::string& w : words) {
        if (petsc_option_word(w)) command_line_names().push_back(w.substr(1));
    }
    std::vector<std::string> argv_text;
    argv_text.push_back(prog);
    argv_text.insert(argv_text.end(), words.begin(), words.end());
    std::vector<char*> argv_ptr;
    for (std::string& s : argv_text) argv_ptr.push_back(s.data());
    argv_ptr.push_back(nullptr);
    int argc = (int)argv_text.size();
    char** argv = argv_ptr.data();
    // The run answers SIGINT and SIGTERM itself (at the end of a step): PETSc installs no
    // handlers of its own.
    if (PetscOptionsSetValue(nullptr, "-no_signal_handler", nullptr) != 0 ||
        PetscInitialize(&argc, &argv, nullptr, nullptr) != 0) {
        message_ = "PETSc (and MPI) could not be started; the options given to PETSc were: ";
        for (const std::string& w : words) message_ += w + " ";
        return;
    }
    started_ = true;
    ok_ = true;
    proc_start();
}

petsc_session::~petsc_session() {
    if (started_) {
        proc_stop();
        PetscFinalize();
    }
    if (!session_dir_.empty()) {
        // What OpenMPI left of its session files (normally nothing), then the directory.
        std::error_code ec;
        std::filesystem::remove_all(session_dir_, ec);
    }
}

const char* petsc_selector_text(int selector) {
    switch (selector) {
    case PSOLV_DEFAULT: return "AN INCOMPLETE FACTOR OR HYPRE BOOMERAMG, BY THE MATRIX";
    case PSOLV_BOOMERAMG: return "HYPRE BOOMERAMG";
    case PSOLV_GAMG: return "PETSC GAMG";
    case PSOLV_COLUMNS: return "BLOCK JACOBI BY COLUMNS (EXACT COLUMN SOLVES)";
    case PSOLV_COLUMN_COARSE: return "AN INCOMPLETE FACTOR AND A COARSE PROBLEM OF THE COLUMNS";
    default: break;
    }
    return "";
}

}  // namespace nep
