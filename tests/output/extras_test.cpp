// The folders vtk/ and csv/ as a user meets them: the specified files keep their bytes whether
// they are written or not, --no-extra-output writes neither, a folder that cannot be made stops
// the run with its name, and no .vtu of an earlier run is left behind.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <map>
#include <string>

#include "e2e.h"

using e2e::deck;
namespace fs = e2e::fs;

namespace {

e2e::result run_with(const deck& d, const std::string& args) {
    e2e::result r;
    // Standard output and error beside the deck directory, under its own name: tests run in
    // parallel.
    const std::string out = d.dir().string() + ".out", err = d.dir().string() + ".err";
    const std::string cmd = "cd '" + d.dir().string() + "' && '" + NEPORA_BIN + "' " + args +
                            " >'" + out + "' 2>'" + err + "' </dev/null";
    const int st = std::system(cmd.c_str());
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.err = e2e::slurp(err);
    fs::remove(out);
    fs::remove(err);
    return r;
}

// Every file of the deck directory (not the folders), without the lines that hold CPU times.
std::map<std::string, std::string> files_of(const deck& d) {
    std::map<std::string, std::string> m;
    for (const auto& e : fs::directory_iterator(d.dir())) {
        if (!e.is_regular_file()) continue;
        std::string kept;
        for (const std::string& l : e2e::lines_of(e2e::slurp(e.path()))) {
            if (l.find("CPU") == std::string::npos && l.find("SECONDS") == std::string::npos) {
                kept += l + "\n";
            }
        }
        m[e.path().filename().string()] = kept;
    }
    return m;
}

}  // namespace

TEST(ExtraOutput, SpecifiedFilesAreTheSameWithAndWithoutIt) {
    for (const char* name : {"column", "tbox", "dam"}) {
        deck on(name), off(name);
        fs::create_directories(on.path("vtk"));
        on.write("vtk/nepora3d_0042.vtu", "left by an earlier run");
        ASSERT_EQ(run_with(on, "").status, 0) << name;
        ASSERT_EQ(run_with(off, "--no-extra-output").status, 0) << name;
        EXPECT_TRUE(on.exists("vtk/nepora3d.pvd")) << name;
        EXPECT_TRUE(on.exists("vtk/nepora3d_0000.vtu")) << name;
        EXPECT_FALSE(on.exists("vtk/nepora3d_0042.vtu")) << name;
        EXPECT_TRUE(on.exists("csv/budget.csv")) << name;
        EXPECT_TRUE(on.exists("csv/hydrograph.csv")) << name;
        EXPECT_FALSE(off.exists("vtk")) << name;
        EXPECT_FALSE(off.exists("csv")) << name;
        const auto a = files_of(on), b = files_of(off);
        ASSERT_EQ(a.size(), b.size()) << name;
        for (const auto& [f, text] : a) {
            if (f == "stderr.txt" || f == "stdout.txt") continue;
            EXPECT_EQ(text, b.at(f)) << name << ": " << f;
        }
    }
}

TEST(ExtraOutput, AFolderThatCannotBeMadeStopsTheRunWithItsName) {
    deck d("tiny");
    d.write("csv", "a file where the folder should be");
    auto r = run_with(d, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot create the folder 'csv'"), std::string::npos) << r.err;
    r = run_with(d, "--no-extra-output");
    EXPECT_EQ(r.status, 0) << r.err;
    r = run_with(d, "--no-such-option");
    EXPECT_EQ(r.status, 1);
}
