// The convergence measure, status and relaxation of the coupled iteration, by hand.
#include <gtest/gtest.h>

#include "run_fixture.h"
#include "transport/coupled.h"

using namespace nep;

namespace {

struct three_nodes : fixture::memrun {
    three_nodes() {
        dim.N = 3;
        dim.ITMXC = 4;
        ctl.ITMXC1 = 2;
        ctl.ITMXC2 = 3;
        ctl.TOLNLC = 1e-3;
        ctl.DELTAT = 1.0;
        ctl.DTMIN = 0.1;
        ctl.DTREDM = 0.5;
        for (auto* v : {&fs.HPOT, &fs.HPOTC, &fs.CNEW, &fs.COLD}) v->alloc(3);
        for (auto* v : {&fs.HPOTIT, &fs.HPOTCIT, &fs.HDIFIT, &fs.CNEWIT, &fs.COLDIT, &fs.CDIFIT,
                        &fs.HDMXIT, &fs.CDMXIT})
            v->alloc(4);
        fs.IKCIT.alloc(4);
    }
};

}  // namespace

TEST(CoupledIteration, MeasureAndStatus) {
    three_nodes t;
    // Potential heads up to 10: a head change of 0.5 counts as 0.05; the concentration change of
    // 0.02 at node 3 is the smaller one.
    t.fs.HPOT(1) = 10.0, t.fs.HPOTC(1) = 10.0;
    t.fs.HPOT(2) = 4.5, t.fs.HPOTC(2) = 4.0;
    t.fs.HPOT(3) = 1.0, t.fs.HPOTC(3) = 1.0;
    t.fs.CNEW(3) = 0.52, t.fs.COLD(3) = 0.5;
    t.ctl.ITERC = 1;
    cnvrgc(t.dim, t.ctl, t.msh, t.fs);
    EXPECT_DOUBLE_EQ(t.ctl.DIFMAX, 0.05);
    EXPECT_EQ(t.fs.IKCIT(1), 2);
    EXPECT_DOUBLE_EQ(t.fs.HDMXIT(1), 0.5);
    EXPECT_NEAR(t.fs.CDMXIT(1), 0.02, 1e-15);
    EXPECT_EQ(t.ctl.CPLSTA, -1);  // iterations left
    t.ctl.ITERC = 4;
    cnvrgc(t.dim, t.ctl, t.msh, t.fs);
    EXPECT_EQ(t.ctl.CPLSTA, -2);  // DELTAT > DTMIN: back-step
    t.ctl.DELTAT = 0.1;
    cnvrgc(t.dim, t.ctl, t.msh, t.fs);
    EXPECT_EQ(t.ctl.CPLSTA, -3);
    // Converged: the code follows the iteration count.
    t.fs.HPOT(2) = 4.0;
    t.fs.CNEW(3) = 0.5;
    for (int it : {1, 2, 3}) {
        t.ctl.ITERC = it;
        cnvrgc(t.dim, t.ctl, t.msh, t.fs);
        EXPECT_EQ(t.ctl.CPLSTA, it < 2 ? 1 : (it >= 3 ? 3 : 2)) << it;
    }
    // All potential heads zero: the concentration change alone.
    for (int i = 1; i <= 3; ++i) t.fs.HPOT(i) = t.fs.HPOTC(i) = 0.0;
    t.fs.CNEW(1) = 0.3;
    t.fs.COLD(1) = 0.1;
    t.ctl.ITERC = 1;
    cnvrgc(t.dim, t.ctl, t.msh, t.fs);
    EXPECT_NEAR(t.ctl.DIFMAX, 0.2, 1e-15);
}

TEST(CoupledIteration, RelaxationOfOpposedChanges) {
    // d_2 = -d_1 at omega = 1: e = -1 and omega = (3 - 1)/(3 + 1) = 0.5.
    three_nodes t;
    t.ctl.ITERC = 1;
    relaxc(t.dim, t.ctl, t.fs);
    EXPECT_EQ(t.ctl.OMEGAV, 1.0);
    t.fs.CDMXIT(1) = 0.2;
    t.fs.CDMXIT(2) = -0.2;
    t.fs.CNEW(1) = 1.0;
    t.fs.COLD(1) = 0.0;
    t.ctl.ITERC = 2;
    relaxc(t.dim, t.ctl, t.fs);
    EXPECT_EQ(t.ctl.OMEGAV, 0.5);
    EXPECT_EQ(t.fs.CNEW(1), 0.5);
}
