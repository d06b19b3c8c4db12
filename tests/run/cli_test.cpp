// The command line, the closing summary and interrupts, as a user meets them.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "e2e.h"

using e2e::deck;
namespace fs = e2e::fs;

namespace {

// Every file of the deck directory with its size and modification time.
std::string snapshot(const deck& d) {
    std::ostringstream s;
    for (const auto& e : fs::directory_iterator(d.dir())) {
        s << e.path().filename().string() << " " << fs::file_size(e.path()) << " "
          << fs::last_write_time(e.path()).time_since_epoch().count() << "\n";
    }
    return s.str();
}

e2e::result run_args(const deck& d, const std::string& args) {
    e2e::result r;
    // Beside the deck directory, under its own name, so that the deck stays untouched and tests
    // running at the same time do not share the files.
    const std::string out = d.dir().string() + ".out", err = d.dir().string() + ".err";
    const std::string cmd = "cd '" + d.dir().string() + "' && '" + NEPORA_BIN + "' " + args + " >'" +
                            out + "' 2>'" + err + "' </dev/null";
    const int st = std::system(cmd.c_str());
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.out = e2e::slurp(out);
    r.err = e2e::slurp(err);
    fs::remove(out);
    fs::remove(err);
    return r;
}

// The last step number in the first column of a table file (0 when there is none).
int last_step(const std::string& text) {
    int last = 0;
    for (const std::string& l : e2e::lines_of(text)) {
        std::istringstream in(l);
        int step = 0;
        double v = 0.0;
        if (in >> step >> v) last = step;
    }
    return last;
}

}  // namespace

TEST(CommandLine, HelpVersionAndUnknownOptionsTouchNoFile) {
    deck d("tiny");
    const std::string before = snapshot(d);
    auto r = run_args(d, "--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("usage: nepora3d [DECK_DIR]\n", 0), 0u) << r.out;
    r = run_args(d, "-h");
    EXPECT_EQ(r.status, 0);
    r = run_args(d, "--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("nepora3d ", 0), 0u);
    r = run_args(d, "--frobnicate");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("nepora3d: unknown option '--frobnicate'\nusage: nepora3d [DECK_DIR]\n", 0), 0u);
    r = run_args(d, "one two");
    EXPECT_EQ(r.status, 1);
    // The checkpoint options, and their bad values refused before anything is opened.
    r = run_args(d, "--help");
    for (const char* o : {"--checkpoint-every N", "--checkpoint-wall S", "--checkpoint FILE",
                          "--restart FILE"}) {
        EXPECT_NE(r.out.find(o), std::string::npos) << o;
    }
    r = run_args(d, "--checkpoint-every 0");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "nepora3d: --checkpoint-every '0': expected a number of steps >= 1\n");
    r = run_args(d, "--checkpoint-wall -5");
    EXPECT_EQ(r.status, 1);
    r = run_args(d, "--restart");
    EXPECT_EQ(r.err, "nepora3d: --restart needs a value\n");
    r = run_args(d, "--restart no-such.chk");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no-such.chk' cannot be opened: No such file or directory; the run does "
                         "not start"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(snapshot(d), before);
}

TEST(CommandLine, DeckDirectoryArgumentRunsThereAndEndsWithASummary) {
    deck d("box");
    const fs::path here = d.dir().parent_path();
    const std::string errfile = d.dir().string() + ".err";
    const std::string cmd = "cd '" + here.string() + "' && '" + NEPORA_BIN + "' '" +
                            d.dir().filename().string() + "' >/dev/null 2>'" + errfile + "' </dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_TRUE(d.exists("out.lst"));
    EXPECT_TRUE(d.exists("terminal.log"));
    const auto err = e2e::lines_of(e2e::slurp(errfile));
    fs::remove(errfile);
    ASSERT_EQ(err.size(), 2u);
    EXPECT_EQ(err[0], "nepora3d: steady state solved at time 1.7e+38 after 1 steps, 2 nonlinear and "
                      "12 linear iterations");
    EXPECT_EQ(err[1].rfind("nepora3d: water budget: in 5, out -5, storage change 0, net error ", 0), 0u)
        << err[1];
}

TEST(CommandLine, InterruptEndsTheRunAfterTheCurrentStepWithEveryFileComplete) {
    deck d("column");
    // A long run: steps of 1e-4 h for 24 h, far more than the test waits for.
    d.set_line("parm", 14, "0.0 1.0e-4 1.0e-5 1.0e-4 24.0");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (chdir(d.dir().c_str()) != 0) _exit(99);
        FILE* out = freopen("stdout.txt", "w", stdout);
        FILE* err = freopen("stderr.txt", "w", stderr);
        FILE* in = freopen("/dev/null", "r", stdin);
        if (out == nullptr || err == nullptr || in == nullptr) _exit(98);
        execl(NEPORA_BIN, NEPORA_BIN, (char*)nullptr);
        _exit(97);
    }
    // Wait until a few steps are on disk (each step end flushes every file), then interrupt.
    for (int k = 0; k < 600 && last_step(d.read("mbal.out")) < 5; ++k) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid, SIGINT);
    int st = 0;
    ASSERT_EQ(waitpid(pid, &st, 0), pid);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 130);

    const int n = last_step(d.read("mbal.out"));
    EXPECT_GE(n, 5);
    EXPECT_EQ(last_step(d.read("hgatm.out")), n);
    EXPECT_EQ(last_step(d.read("hgnatm.out")), n);
    const std::string lst = d.read("out.lst");
    const std::string step = std::to_string(n);
    EXPECT_NE(lst.find("RUN INTERRUPTED BY SIGNAL   2 AFTER TIME STEP " + std::string(6 - step.size(), ' ') + step),
              std::string::npos);
    EXPECT_NE(lst.find("CUMULATIVE (TOTAL-IN) ABS. MASS BALANCE ERROR"), std::string::npos);
    EXPECT_NE(lst.find("TOT # OF TIME STEPS"), std::string::npos);
    // The final detailed output: the heads of the last step.
    const std::string heads = d.read("heads.out");
    const auto tail = heads.rfind("NSTEP   TIME");
    ASSERT_NE(tail, std::string::npos);
    EXPECT_EQ(std::stoi(heads.substr(heads.rfind('\n', tail) + 1)), n);
    EXPECT_NE(d.read("stderr.txt").find("nepora3d: interrupted by SIGINT at time "), std::string::npos)
        << d.read("stderr.txt");
}

// A batch job gets a progress line every tenth of the simulated time (TMAX = 2 here, from 0),
// in order and ending at 100 %; --progress-every 50 two of them; --quiet none, the summary
// still; a percent out of range is refused before any file is touched.
TEST(RunProgress, BatchLinesEveryFewPercentAndQuiet) {
    auto progress = [](const std::string& err) {
        std::vector<int> pct;
        for (const std::string& l : e2e::lines_of(err)) {
            const auto open = l.find(" ("), close = l.find(" %)");
            if (l.rfind("nepora3d: time ", 0) == 0 && open != std::string::npos && close != std::string::npos)
                pct.push_back(std::stoi(l.substr(open + 2, close - open - 2)));
        }
        return pct;
    };
    deck d("tiny");
    auto r = run_args(d, "");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto all = progress(r.err);
    ASSERT_GE(all.size(), 5u) << r.err;
    for (std::size_t k = 1; k < all.size(); ++k) EXPECT_GE(all[k] / 10, all[k - 1] / 10 + 1) << r.err;
    EXPECT_EQ(all.back(), 100);
    EXPECT_NE(r.err.find("nepora3d: time 2 / 2 (100 %), 40 steps"), std::string::npos) << r.err;
    r = run_args(d, "--progress-every 50");
    const auto half = progress(r.err);
    ASSERT_EQ(half.size(), 2u) << r.err;
    EXPECT_GE(half[0], 50);
    EXPECT_LT(half[0], 100);
    r = run_args(d, "--quiet");
    EXPECT_TRUE(progress(r.err).empty()) << r.err;
    EXPECT_NE(r.err.find("nepora3d: run completed at time 2 after 40 steps"), std::string::npos);
    EXPECT_EQ(r.out, "\n\n");
    const std::string before = d.read("out.lst");
    r = run_args(d, "--progress-every 150");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--progress-every takes a percent from 0 to 100, not '150'"), std::string::npos);
    EXPECT_EQ(d.read("out.lst"), before);
}
