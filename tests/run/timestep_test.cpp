// Step-size control: growth, reduction, the cut to output times, the stretch to the end time, the
// steady-state set-up and the step statistics, checked against hand-computed sequences.
#include <gtest/gtest.h>

#include "records/control.h"
#include "records/dimensions.h"
#include "records/iofiles.h"
#include "run/timestep.h"

using namespace nep;

namespace {

struct clock_fixture {
    dimensions dim;
    control ctl;
    iofiles io;
    clock_fixture() {
        ctl.TIMEP = 0.0;
        ctl.DELTAT = 1.0;
        ctl.DTMIN = 0.01;
        ctl.DTMAX = 10.0;
        ctl.TMAX = 100.0;
        ctl.DTMAGA = 0.0;
        ctl.DTMAGM = 2.0;
        ctl.DTREDS = 0.0;
        ctl.DTREDM = 0.5;
        ctl.ITMX1 = 3;
        ctl.ITMX2 = 6;
    }
    void times(std::initializer_list<double> t) {
        dim.NPRT = (int)t.size();
        io.TIMPRT.alloc(t.size());
        int i = 1;
        for (double v : t) io.TIMPRT(i++) = v;
        io.KPRT = 1;
    }
};

}  // namespace

TEST(TimeStep, GrowKeepShrinkByIterationCount) {
    clock_fixture f;
    timinit(f.ctl);
    EXPECT_EQ(f.ctl.TIME, 1.0);
    EXPECT_TRUE(f.ctl.BKFLAG);
    f.ctl.ITER = 2;  // below ITMX1: grows to 2
    tstepf(f.dim, f.ctl, f.io);
    EXPECT_EQ(f.ctl.DELTAT, 2.0);
    EXPECT_EQ(f.ctl.TIMEP, 1.0);
    EXPECT_EQ(f.ctl.TIME, 3.0);
    EXPECT_EQ(f.ctl.NSTEP, 2);
    f.ctl.ITER = 3;  // ITER == ITMX1 keeps the step
    tstepf(f.dim, f.ctl, f.io);
    EXPECT_EQ(f.ctl.DELTAT, 2.0);
    f.ctl.ITER = 6;  // ITER == ITMX2 shrinks it
    tstepf(f.dim, f.ctl, f.io);
    EXPECT_EQ(f.ctl.DELTAT, 1.0);
    EXPECT_EQ(f.ctl.TIME, 6.0);
    // Growth is capped at DTMAX and reduction floored at DTMIN (then no back-step is possible).
    f.ctl.DELTAT = 8.0;
    f.ctl.ITER = 1;
    tstepf(f.dim, f.ctl, f.io);
    EXPECT_EQ(f.ctl.DELTAT, 10.0);
    f.ctl.DELTAT = 0.015;
    f.ctl.ITER = 9;
    tstepf(f.dim, f.ctl, f.io);
    EXPECT_EQ(f.ctl.DELTAT, 0.01);
    EXPECT_FALSE(f.ctl.BKFLAG);
}

TEST(TimeStep, NoGrowthNoReductionWithUnitFactors) {
    clock_fixture f;
    f.ctl.DTMAGM = 1.0;
    f.ctl.DTREDM = 1.0;
    timinit(f.ctl);
    for (int it : {1, 9, 1, 9}) {
        f.ctl.ITER = it;
        tstepf(f.dim, f.ctl, f.io);
        EXPECT_EQ(f.ctl.DELTAT, 1.0);
    }
}

TEST(TimeStep, CutToOutputTimesAndStretchToEnd) {
    clock_fixture f;
    f.ctl.TMAX = 10.0;
    f.times({2.5, 2.7, 50.0});
    timinit(f.ctl);  // TIME = 1
    f.ctl.ITER = 1;
    tstepf(f.dim, f.ctl, f.io);  // would reach 3: cut to 2.5
    EXPECT_DOUBLE_EQ(f.ctl.DELTAT, 1.5);
    EXPECT_EQ(f.ctl.TIME, 2.5);
    f.io.KPRT = 2;  // the step routine counts the output written at 2.5
    f.ctl.ITER = 4;
    tstepf(f.dim, f.ctl, f.io);  // 2.5 + 1.5 > 2.7: cut again to land on 2.7
    EXPECT_EQ(f.ctl.TIME, 2.7);
    f.io.KPRT = 3;
    f.ctl.DELTAT = 4.0;
    f.ctl.TIME = 6.0;
    f.ctl.ITER = 4;
    // 6 + 4 = 10 = TMAX: taken as it is.
    tstepf(f.dim, f.ctl, f.io);
    EXPECT_EQ(f.ctl.TIME, 10.0);
    // Remainder 0.9 after a step to 9.1 is under half a reduced step (0.5*4*0.5 = 1): stretch.
    f.ctl.TIME = 5.1;
    f.ctl.DELTAT = 4.0;
    tstepf(f.dim, f.ctl, f.io);
    EXPECT_EQ(f.ctl.TIME, 10.0);
    EXPECT_DOUBLE_EQ(f.ctl.DELTAT, 4.9);
    // The output time 50 beyond TMAX is never reached.
    EXPECT_EQ(f.io.KPRT, 3);
}

TEST(TimeStep, SteadyStateSetUpAndEnd) {
    clock_fixture f;
    f.ctl.DELTAT = 1.0e10;
    f.ctl.TETAF = 0.5;
    timinit(f.ctl);
    EXPECT_EQ(f.ctl.TETAF, 1.0);
    EXPECT_EQ(f.ctl.DELTAT, 1.7e38);
    EXPECT_EQ(f.ctl.TMAX, 1.7e38);
    EXPECT_EQ(f.ctl.TIME, 1.7e38);
    // DTMIN = DELTAT, but a steady step of flow alone that fails goes on by continuation: it
    // may back-step; a coupled one may not.
    EXPECT_TRUE(f.ctl.BKFLAG && f.ctl.PTC.ARMED);
    EXPECT_FALSE(run_continues(f.ctl));
    clock_fixture c;
    c.ctl.DELTAT = 1.0e10;
    c.ctl.ITRANS = 1;
    timinit(c.ctl);
    EXPECT_FALSE(c.ctl.BKFLAG || c.ctl.PTC.ARMED);
}

TEST(TimeStep, StatisticsAndEndTest) {
    clock_fixture f;
    timinit(f.ctl);
    EXPECT_EQ(f.ctl.DTSMAL, 1.7e38);
    for (double dt : {1.0, 0.25, 3.0}) {
        f.ctl.DELTAT = dt;
        f.ctl.TIME += dt;
        tstats(f.ctl);
    }
    EXPECT_EQ(f.ctl.DTSUM, 4.25);
    EXPECT_EQ(f.ctl.DTSMAL, 0.25);
    EXPECT_EQ(f.ctl.DTLARG, 3.0);
    EXPECT_EQ(f.ctl.TLARG, 5.25);
    f.ctl.TIME = 99.9995;
    f.ctl.DELTAT = 1.0;
    EXPECT_FALSE(run_continues(f.ctl));  // within 0.001*DELTAT of TMAX
    f.ctl.TIME = 99.998;
    EXPECT_TRUE(run_continues(f.ctl));
    f.ctl.ISTATUS = -3;
    EXPECT_FALSE(run_continues(f.ctl));
}

TEST(TimeStep, IterationControlGrowsToDtmaxAndLooksAheadOnARisingTrend) {
    // Aiming at 6 iterations, at most x2.5, at least x DTREDM = 0.5 (fixture: DTMAX 10,
    // ITMX2 6, DTREDM 0.5).
    clock_fixture f;
    f.ctl.DTLOOK = true;
    f.ctl.DTITER = 6;
    f.ctl.DTGROW = 2.5;
    f.ctl.ITMX2 = 9;
    timinit(f.ctl);
    // A smooth run converging in 2 iterations: x2.5 a step (6/2 = 3 capped) up to DTMAX.
    const double want[] = {2.5, 6.25, 10.0, 10.0};
    for (double dt : want) {
        f.ctl.ITER = 2;
        tstepf(f.dim, f.ctl, f.io);
        EXPECT_DOUBLE_EQ(f.ctl.DELTAT, dt);
    }
    // 3 then 5 iterations: the next step is expected to take 5 + (5 - 3) = 7, so 6/7 of it.
    f.ctl.ITER = 3;
    tstepf(f.dim, f.ctl, f.io);
    EXPECT_DOUBLE_EQ(f.ctl.DELTAT, 10.0);  // 6/3 = 2, held at DTMAX
    f.ctl.ITER = 5;
    tstepf(f.dim, f.ctl, f.io);
    EXPECT_DOUBLE_EQ(f.ctl.DELTAT, 10.0 * 6.0 / 7.0);
    // 4: falling, no look-ahead, 6/4 (held at DTMAX); then 5 after 4: 6/6.
    f.ctl.ITER = 4;
    tstepf(f.dim, f.ctl, f.io);
    EXPECT_DOUBLE_EQ(f.ctl.DELTAT, 10.0);
    f.ctl.ITER = 5;
    tstepf(f.dim, f.ctl, f.io);
    EXPECT_DOUBLE_EQ(f.ctl.DELTAT, 10.0);
    // A rise of 3 (5 -> 8) looks ahead to 11; at ITMX2 the deck's own reduction applies.
    f.ctl.DELTAT = 4.0;
    f.ctl.ITPREV = 5;
    f.ctl.ITER = 8;
    tstepf(f.dim, f.ctl, f.io);  // 6/11 = 0.545
    EXPECT_DOUBLE_EQ(f.ctl.DELTAT, 4.0 * 6.0 / 11.0);
    f.ctl.DELTAT = 4.0;
    f.ctl.ITER = 9;
    tstepf(f.dim, f.ctl, f.io);
    EXPECT_DOUBLE_EQ(f.ctl.DELTAT, 2.0);
    EXPECT_DOUBLE_EQ(lookahead_factor(2, 9, 6, 3.0, 0.5), 3.0);   // falling trend: no look-ahead
    EXPECT_DOUBLE_EQ(lookahead_factor(7, 2, 6, 3.0, 0.5), 0.5);   // 6/12, held at 0.5
}
