// The end-of-run statistics of a flow-only run, against the rendering of the same values by the
// Fortran runtime (single-precision times and ratios).
#include <gtest/gtest.h>

#include "base/format.h"
#include "base/stop.h"
#include "e2e.h"
#include "run/cputime.h"

using namespace nep;

TEST(CpuTime, FlowRunReportMatchesFortran) {
    control ctl;
    iofiles io;
    cpustat cpu;
    io.out(6).open_memory();
    cpu.CPUTOT = 12.5f;
    cpu.CPUNL = 10.0f;
    const float ft[] = {0.0f, 0.5f, 1.25f, 2.0f, 0.75f, 0.125f, 0.25f, 3.5f, 0.375f, 0.0f};
    for (int i = 0; i < 10; ++i) cpu.FT[i] = ft[i];
    ctl.NSTEP = 7;
    ctl.DTSMAL = 0.01;
    ctl.TSMAL = 0.5;
    ctl.DTLARG = 2.0;
    ctl.TLARG = 4.0;
    ctl.DTSUM = 3.5;
    ctl.ITUNS = 23;
    ctl.ITLIN = 161;
    cputime(ctl, io, cpu);
    const std::string want =
        e2e::slurp(e2e::fs::path(NEPORA_SOURCE_DIR) / "tests/run/cputime_expected.txt");
    EXPECT_EQ(io.out(6).str(), want);
    // The coupled table is absent from a flow-only report.
    EXPECT_EQ(io.out(6).str().find("TRANSP"), std::string::npos);
}

TEST(CpuTime, ZeroTotalStops) {
    control ctl;
    iofiles io;
    cpustat cpu;
    io.out(6).open_memory();
    io.STDOUT.open_memory();
    EXPECT_THROW(cputime(ctl, io, cpu), run_stop);
    // The format ends before its number: the label alone is written.
    EXPECT_EQ(io.STDOUT.str(), "\n     STOP   (TOT CPU TIME = 0)               =  \n");
}
