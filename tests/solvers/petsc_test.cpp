// The PETSc solver selectors, as a user runs them: the same runs as the specified solvers (heads,
// water budget, steps), the specified stop of a failed solve, the options database on the command
// line and in a .petscrc, and the counts of the listing's statistics.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"

using e2e::deck;

namespace {

// A small hillslope of the bench (10 x 10 surface nodes over 10 layers, 1,100 nodes, for `days`)
// with tight tolerances: the nonlinear one 1e-6, the linear ones 1e-10.
// (`side` x `side` surface nodes over `layers` layers when given).
void hillslope(const deck& d, int iflow, int kslope, int isolv, const char* days = "1.0",
               const std::string& side = "10", const char* layers = "10") {
    const std::string cmd = "bash '" + std::string(NEPORA_SOURCE_DIR) + "/bench/gen_slope.sh' '" +
                            d.dir().string() + "' " + side + " " + side + " " + layers + " " + days +
                            " >/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    d.set_line("parm", 2, std::to_string(iflow) + " 0 F");
    d.set_line("parm", 3, std::to_string(kslope) + " 0.01");
    d.set_line("parm", 8, "20 4 8 1.0e-6");
    d.set_line("parm", 11, std::to_string(isolv) + " 0 1.0");
    d.set_line("parm", 13, "2000 1.0e-10 2000 1.0e-10");
}

e2e::result run_args(const deck& d, const std::string& args) {
    e2e::result r;
    const std::string cmd = "cd '" + d.dir().string() + "' && '" + NEPORA_BIN + "' " + args +
                            " >stdout.txt 2>stderr.txt </dev/null";
    const int st = std::system(cmd.c_str());
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.out = d.read("stdout.txt");
    r.err = d.read("stderr.txt");
    return r;
}

std::vector<double> final_heads(const deck& d) {
    std::vector<double> v;
    std::istringstream in(d.read("root-ntupla.dat"));
    double x, y, z, h, p;
    while (in >> x >> y >> z >> h >> p) v.push_back(p);
    return v;
}

// The cumulative in, out and storage change of the last row of csv/budget.csv.
std::vector<double> budget(const deck& d) {
    const auto rows = e2e::lines_of(d.read("csv/budget.csv"));
    if (rows.size() < 2) return {};
    std::vector<std::string> head, last;
    for (auto* p : {&head, &last}) {
        std::istringstream in(p == &head ? rows.front() : rows.back());
        for (std::string c; std::getline(in, c, ',');) p->push_back(c);
    }
    std::vector<double> v;
    for (const char* name : {"cum_in_L3", "cum_out_L3", "cum_storage_change_L3"}) {
        for (size_t k = 0; k < head.size() && k < last.size(); ++k)
            if (head[k] == name) v.push_back(std::atof(last[k].c_str()));
    }
    return v;
}

long listing_count(const std::string& lst, const std::string& label) {
    const size_t k = lst.find(label);
    if (k == std::string::npos) return -1;
    const size_t eq = lst.find('=', k);
    return std::atol(lst.c_str() + eq + 1);
}

}  // namespace

// Every PETSc selector reaches the specified solvers' run within the nonlinear tolerance: final
// heads within 10 TOLNL, the cumulative budget within 1e-6 relative, steps and nonlinear
// iterations within 5 %; under Picard and Newton with the mass-conservative storage.
TEST(PetscSolvers, AgreeWithTheSpecifiedSolversOnAHillslope) {
    for (int iflow : {1, 2}) {
        deck ref("tiny");
        hillslope(ref, iflow, 5, 0, "0.5");
        auto rr = ref.run();
        ASSERT_EQ(rr.status, 0) << rr.err;
        const auto h0 = final_heads(ref);
        const auto b0 = budget(ref);
        const std::string l0 = ref.read("out.lst");
        ASSERT_EQ(l0.find("PETSC"), std::string::npos);
        const long steps0 = listing_count(l0, "TOT # OF TIME STEPS");
        const long nl0 = listing_count(l0, "TOT # OF NONLIN ITER FOR FLOW EQ");
        ASSERT_EQ(h0.size(), 1100u);
        ASSERT_EQ(b0.size(), 3u);
        ASSERT_GT(steps0, 10);
        for (int isolv : {-10, -11, -12, -13, -14}) {
            SCOPED_TRACE("IFLOW " + std::to_string(iflow) + ", ISOLV " + std::to_string(isolv));
            deck d("tiny");
            hillslope(d, iflow, 5, isolv, "0.5");
            auto r = d.run();
            ASSERT_EQ(r.status, 0) << r.out << r.err;
            const auto h = final_heads(d);
            ASSERT_EQ(h.size(), h0.size());
            double worst = 0.0;
            for (size_t i = 0; i < h.size(); ++i) worst = std::fmax(worst, std::fabs(h[i] - h0[i]));
            EXPECT_LE(worst, 1.0e-5);
            const auto b = budget(d);
            ASSERT_EQ(b.size(), 3u);
            for (int k = 0; k < 3; ++k) EXPECT_NEAR(b[k], b0[k], 1.0e-6 * std::fabs(b0[k])) << k;
            const std::string lst = d.read("out.lst");
            EXPECT_NEAR(listing_count(lst, "TOT # OF TIME STEPS"), steps0, 0.05 * steps0);
            EXPECT_NEAR(listing_count(lst, "TOT # OF NONLIN ITER FOR FLOW EQ"), nl0, 0.05 * nl0);
            // The parameter echo names the method.
            EXPECT_NE(lst.find(iflow == 1 ? "(CONJUGATE GRADIENTS WITH " : "(GMRES WITH "),
                      std::string::npos);
        }
    }
}

// The transport system on PETSc: the concentrations of the coupled box as with BiCGSTAB.
TEST(PetscSolvers, TransportAgreesWithTheSpecifiedSolver) {
    deck ref("tbox"), d("tbox");
    d.set_line("parm", 12, "-11 0 1.0");
    ASSERT_EQ(ref.run().status, 0);
    auto r = d.run();
    ASSERT_EQ(r.status, 0) << r.err;
    // The final concentrations: the last block of conc.out, after its NSTEP TIME line.
    auto conc = [](const deck& x) {
        std::vector<double> v;
        for (const std::string& l : e2e::lines_of(x.read("conc.out"))) {
            if (l.find("NSTEP") != std::string::npos) {
                v.clear();
                continue;
            }
            std::istringstream in(l);
            for (double c; in >> c;) v.push_back(c);
        }
        return v;
    };
    const auto a = conc(ref), b = conc(d);
    ASSERT_EQ(a.size(), b.size());
    ASSERT_EQ(a.size(), 45u);
    // TOLNLC 1e-4 bounds the concentration change of the last coupled iteration.
    for (size_t i = 0; i < a.size(); ++i) EXPECT_NEAR(a[i], b[i], 1.0e-3) << i;
    EXPECT_NE(d.read("out.lst").find("PETSC TRANSPORT SOLVER: KSP gmres, PC hypre boomeramg"),
              std::string::npos);
}

// On one process the default selector hands a matrix whose rows are all strongly dominated by
// their diagonals (the storage of the rain deck's short steps) to the specified conjugate
// gradients: the specified run to the bit, no solve in PETSc; the hillslope's matrices, which
// are not, go to PETSc, and so does the rain deck once the user chose PETSc's preconditioner.
TEST(PetscSolvers, DefaultHandsDominantMatricesToTheSpecifiedCG) {
    auto rain = [](const deck& d, int isolv) {
        const std::string cmd = "bash '" + std::string(NEPORA_SOURCE_DIR) +
                                "/bench/gen_deck.sh' '" + d.dir().string() + "' 8 8 5 >/dev/null";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        d.set_line("parm", 11, std::to_string(isolv) + " 0 1.0");
    };
    auto petsc_solves = [](const deck& d) {
        long n = 0;
        for (const std::string& l : e2e::lines_of(d.read("out.lst")))
            n += l.find("<<PETSC SOLVER>>") != std::string::npos ? 1 : 0;
        return n;
    };
    deck ref("tiny"), d("tiny"), chosen("tiny"), slope("tiny");
    rain(ref, 0);
    rain(d, -10);
    rain(chosen, -10);
    ASSERT_EQ(ref.run().status, 0);
    ASSERT_EQ(d.run().status, 0);
    EXPECT_EQ(final_heads(d), final_heads(ref));
    EXPECT_EQ(d.read("csv/budget.csv"), ref.read("csv/budget.csv"));
    const std::string lst = d.read("out.lst");
    EXPECT_EQ(petsc_solves(d), 0);
    EXPECT_EQ(listing_count(lst, "TOT # OF PETSC SOLVES"),
              listing_count(lst, "TOT # OF NONLIN ITER FOR FLOW EQ"));
    EXPECT_EQ(listing_count(lst, "TOT # OF PRECONDITIONER SETUPS"), 0);
    EXPECT_NE(lst.find("PC hypre boomeramg or the specified CG, by the matrix"), std::string::npos);
    ASSERT_EQ(run_args(chosen, "-pc_type icc").status, 0);
    EXPECT_GT(petsc_solves(chosen), 0);
    EXPECT_EQ(petsc_solves(chosen), listing_count(chosen.read("out.lst"), "TOT # OF PETSC SOLVES"));
    hillslope(slope, 1, 5, -10, "0.1");
    ASSERT_EQ(slope.run().status, 0);
    EXPECT_EQ(petsc_solves(slope), listing_count(slope.read("out.lst"), "TOT # OF PETSC SOLVES"));
}

// BoomerAMG alone under Picard multiplies by the assembly's symmetric storage and forms its own
// copy of the values in hypre's storage; a -pc_type puts PETSc's full matrix between them. The
// two must give the same run to the bit: every trace line (iterations and residuals), the heads
// and the budget.
TEST(PetscSolvers, BoomerAMGOnTheAssemblyStorageAsOnPETScsMatrix) {
    deck own("tiny"), aij("tiny");
    hillslope(own, 1, 5, -11, "0.5");
    hillslope(aij, 1, 5, -11, "0.5");
    ASSERT_EQ(own.run().status, 0);
    ASSERT_EQ(run_args(aij, "-pc_type hypre").status, 0);
    auto traces = [](const deck& d) {
        std::vector<std::string> t;
        for (const std::string& l : e2e::lines_of(d.read("out.lst")))
            if (l.find("<<PETSC SOLVER>>") != std::string::npos) t.push_back(l);
        return t;
    };
    const auto t = traces(own);
    EXPECT_GT(t.size(), 20u);
    EXPECT_EQ(t, traces(aij));
    EXPECT_EQ(final_heads(own), final_heads(aij));
    EXPECT_EQ(own.read("csv/budget.csv"), aij.read("csv/budget.csv"));
}

// A solve that cannot meet its tolerance within its limit stops the run as the specified solver
// does, with PETSc's reason on standard error.
TEST(PetscSolvers, FailedSolveStopsWithTheSpecifiedMessage) {
    for (int iflow : {1, 2}) {
        deck d("tiny");
        hillslope(d, iflow, 0, -11, "0.1");
        d.set_line("parm", 13, "1 1.0e-30 1 1.0e-30");
        auto r = d.run();
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find(iflow == 1 ? "STOP -- SUBROUTINE SYMSLV:" : "STOP -- SUBROUTINE NSYSLV:"),
                  std::string::npos) << r.out;
        EXPECT_NE(r.out.find(" ERR= "), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("within            1  iterations"), std::string::npos) << r.out;
        EXPECT_NE(r.err.find("failed: DIVERGED_ITS"), std::string::npos) << r.err;
    }
}

// The counts of the statistics agree with the trace lines: one a solve, its iterations, and the
// set-ups it made; the preconditioner is reused (fewer set-ups than solves).
TEST(PetscSolvers, StatisticsCountTheTraceLines) {
    deck d("tiny");
    hillslope(d, 1, 5, -11);
    ASSERT_EQ(d.run().status, 0);
    const std::string lst = d.read("out.lst");
    long solves = 0, its = 0, setups = 0;
    for (const std::string& l : e2e::lines_of(lst)) {
        if (l.find("<<PETSC SOLVER>>") == std::string::npos) continue;
        ++solves;
        its += std::atol(l.c_str());
        if (l.find(", PC SET UP") != std::string::npos) ++setups;
    }
    EXPECT_EQ(listing_count(lst, "TOT # OF PETSC SOLVES"), solves);
    EXPECT_EQ(listing_count(lst, "TOT # OF KRYLOV ITERATIONS"), its);
    EXPECT_EQ(listing_count(lst, "TOT # OF LIN ITER FOR FLOW EQ"), its);
    EXPECT_EQ(listing_count(lst, "TOT # OF PRECONDITIONER SETUPS"), setups);
    EXPECT_EQ(listing_count(lst, "TOT # OF NONLIN ITER FOR FLOW EQ"), solves);
    EXPECT_GE(setups, 1);
    EXPECT_LT(setups, solves);
}

// The exact column solves of -13 hold the strong vertical couplings of a layered mesh (20 layers
// of 0.3 m under nodes 1 m apart) that point Jacobi (the diagonal alone) leaves: fewer
// iterations on the same systems (a third fewer when measured). A wrong column factor would still
// converge under CG, only more slowly.
TEST(PetscSolvers, ColumnSolvesNeedFewerIterationsThanPointJacobi) {
    long its[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
        deck d("tiny");
        hillslope(d, 1, 0, -13, "0.1", "6", "20");
        auto r = run_args(d, k == 0 ? "." : ". -pc_type jacobi");
        ASSERT_EQ(r.status, 0) << r.err;
        its[k] = listing_count(d.read("out.lst"), "TOT # OF KRYLOV ITERATIONS");
    }
    EXPECT_GT(its[0], 0);
    EXPECT_LT(its[0], its[1] * 3 / 4);
}

// PETSc's options database: the command line (after the deck directory) and a .petscrc in the
// deck directory choose the method; options that nothing reads are refused, naming them.
TEST(PetscSolvers, OptionsDatabase) {
    {
        deck d("tiny");
        hillslope(d, 1, 0, -11, "0.1");
        auto r = run_args(d, ". -ksp_type gmres -pc_type jacobi");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(d.read("out.lst").find("PETSC FLOW SOLVER: KSP gmres, PC jacobi"), std::string::npos);
    }
    {
        deck d("tiny");
        hillslope(d, 1, 0, -11, "0.1");
        d.write(".petscrc", "-pc_type icc\n");
        auto r = d.run();
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(d.read("out.lst").find("PETSC FLOW SOLVER: KSP cg, PC icc"), std::string::npos);
    }
    {
        // The matrix type comes from the options database too: the same solves on a block
        // matrix (blocks of 1) as on the default AIJ matrix, the trace lines alike.
        std::string trace[2];
        for (int k = 0; k < 2; ++k) {
            deck d("tiny");
            hillslope(d, 1, 0, -12, "0.1");
            auto r = run_args(d, k == 0 ? ". -pc_type jacobi" : ". -pc_type jacobi -mat_type baij -mat_view ::ascii_info");
            ASSERT_EQ(r.status, 0) << r.err;
            if (k == 1) {
                EXPECT_NE(r.out.find("type: seqbaij"), std::string::npos) << r.out;
            }
            std::istringstream in(d.read("out.lst"));
            for (std::string line; std::getline(in, line);)
                if (line.find("<<PETSC SOLVER>>") != std::string::npos) trace[k] += line + "\n";
        }
        EXPECT_FALSE(trace[0].empty());
        EXPECT_EQ(trace[0], trace[1]);
    }
    struct refused {
        int isolv;
        const char* args;
        const char* named;
    };
    for (const refused& c : {refused{-11, "-ksp_tpye cg", "option -ksp_tpye:"},
                             refused{-11, "-tr_ksp_type cg", "option -tr_ksp_type:"},
                             refused{0, "-ksp_type cg", "option -ksp_type:"}}) {
        deck d("tiny");
        hillslope(d, 1, 0, c.isolv, "0.1");
        auto r = run_args(d, c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_NE(r.err.find(std::string("nepora3d: ") + c.named), std::string::npos) << r.err;
    }
    deck d("tiny");
    auto r = run_args(d, "--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("[PETSc options]"), std::string::npos);
    EXPECT_NE(r.out.find("-tr_"), std::string::npos);
}
