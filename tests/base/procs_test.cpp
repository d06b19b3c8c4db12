// Before MPI starts: a run whose processes are all on this machine asks OpenMPI for its
// point-to-point layer over shared memory, unless the user or an MCA parameter file chose one
// (a line that only excludes components chooses nothing).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "base/procs.h"

using namespace nep;

namespace {

// What the early start leaves in OMPI_MCA_pml ("" for nothing), with the environment given and
// the user's MCA parameter file holding `file` (none when empty).
std::string pml_after(const char* world, const char* here, const char* mtl, const std::string& file) {
    char dir[] = "/tmp/nepora-procs-XXXXXX";
    if (::mkdtemp(dir) == nullptr) return "mkdtemp failed";
    const std::string conf = std::string(dir) + "/.openmpi";
    ::mkdir(conf.c_str(), 0700);
    if (!file.empty()) std::ofstream(conf + "/mca-params.conf") << file;
    ::setenv("HOME", dir, 1);
    ::unsetenv("OMPI_MCA_pml");
    ::unsetenv("OMPI_COMM_WORLD_RANK");
    ::setenv("OMPI_COMM_WORLD_SIZE", world, 1);
    ::setenv("OMPI_COMM_WORLD_LOCAL_SIZE", here, 1);
    if (mtl != nullptr) ::setenv("OMPI_MCA_mtl", mtl, 1);
    else ::unsetenv("OMPI_MCA_mtl");
    proc_quiet_early("nepora3d");
    const char* v = std::getenv("OMPI_MCA_pml");
    std::remove((conf + "/mca-params.conf").c_str());
    ::rmdir(conf.c_str());
    ::rmdir(dir);
    return v != nullptr ? v : "";
}

}  // namespace

TEST(ProcsEarly, SharedMemoryLayerOnOneMachineUnlessChosen) {
    // The system's file is the machine's: a choice in it leaves every case alone.
    std::ifstream sys("/etc/openmpi/openmpi-mca-params.conf");
    for (std::string line; std::getline(sys, line);) {
        std::string w;
        for (char c : line) {
            if (c != ' ' && c != '\t') w += c;
        }
        if ((w.rfind("pml=", 0) == 0 || w.rfind("mtl=", 0) == 0) && w.size() > 4 && w[4] != '^') {
            GTEST_SKIP() << "the system's MCA file chooses: " << line;
        }
    }
    EXPECT_EQ(pml_after("8", "8", nullptr, ""), "ob1");
    EXPECT_EQ(pml_after("8", "4", nullptr, ""), "");  // on two machines
    EXPECT_EQ(pml_after("8", "8", "psm2", ""), "");
    EXPECT_EQ(pml_after("8", "8", nullptr, "# a comment\n  pml = ucx\n"), "");
    EXPECT_EQ(pml_after("8", "8", nullptr, "mtl=psm2\n"), "");
    EXPECT_EQ(pml_after("8", "8", nullptr, "pml = ^ucx\nmtl = ^ofi\nbtl = ^openib\n"), "ob1");
    EXPECT_EQ(pml_after("8", "8", nullptr, "pmlx = cm\n"), "ob1");
}
