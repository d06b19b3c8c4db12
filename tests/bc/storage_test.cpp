// Sizes of the boundary-condition and flow-state arrays, from the problem sizes.
#include <gtest/gtest.h>

#include "run/storage.h"

using namespace nep;

namespace {

dimensions sizes() {
    dimensions d;
    d.NNOD = 5; d.NSTR = 3; d.N = 20; d.NTRI = 4; d.NT = 36;
    d.NDIR = 2; d.NDIRC = 1; d.NP = 9; d.NQ = 3;
    d.NSF = 2; d.NSFNMX = 7; d.NBCMAX = 6 + 9 + 5;
    d.ITMX = 8; d.ITMXC = 4;
    return d;
}

}  // namespace

TEST(BcStorage, BoundaryArraysFollowTheSizes) {
    const dimensions d = sizes();
    bcdata bc;
    alloc_bcdata(d, bc);
    for (const arr1<int>* a : {&bc.IFATM, &bc.IFATMP, &bc.SATSUR}) EXPECT_EQ(a->size(), 5);
    for (const arr1<double>* a : {&bc.ATMPOT, &bc.ATMACT, &bc.ATMACP}) EXPECT_EQ(a->size(), 5);
    EXPECT_EQ(bc.DIR2D.size(), 2);
    EXPECT_EQ(bc.DIRNOD.size(), 9);
    EXPECT_EQ(bc.NEUNOD.size(), 3);
    for (const arr1<double>* a : {&bc.DIRVAL, &bc.DIRFLX, &bc.DIRFLP}) EXPECT_EQ(a->size(), 9);
    EXPECT_EQ(bc.NEUVAL.size(), 3);
    for (const arr1<int>* a : {&bc.NSFNUM, &bc.IEXIT, &bc.IEXITP, &bc.IEXOLD}) EXPECT_EQ(a->size(), 2);
    EXPECT_EQ(bc.IBCNOD.size(), 20);
    EXPECT_EQ(bc.ATMINP.n1(), 3);
    EXPECT_EQ(bc.ATMINP.n2(), 5);
    EXPECT_EQ(bc.DIRTAB.n1(), 9);
    EXPECT_EQ(bc.DIRTAB.n2(), 3);
    EXPECT_EQ(bc.NEUTAB.n1(), 3);
    EXPECT_EQ(bc.NEUTAB.n2(), 3);
    for (const arr2<double>* a : {&bc.SFQ, &bc.SFQOLD}) {
        EXPECT_EQ(a->n1(), 2);
        EXPECT_EQ(a->n2(), 7);
    }
    EXPECT_EQ(bc.SFNOD.n1(), 2);
    EXPECT_EQ(bc.SFNOD.n2(), 7);
    release_bcdata(bc);
    EXPECT_EQ(bc.DIRNOD.size(), 0);
    EXPECT_EQ(bc.SFNOD.size(), 0);
}

TEST(BcStorage, FlowStateAndTheTransportOnlyArrays) {
    for (int itrans : {0, 2}) {
        dimensions d = sizes();
        d.NVEL = itrans != 0 ? d.NT : 0;  // element velocities are kept by coupled runs
        control ctl;
        ctl.ITRANS = itrans;
        flowstate fs;
        alloc_flowstate(d, ctl, fs);
        for (const arr1<double>* a : {&fs.PNEW, &fs.POLD, &fs.PSAVE, &fs.PTHETA, &fs.PTHOLD, &fs.HPOT,
                                      &fs.HPOTP, &fs.HPTHETA, &fs.VXNOD, &fs.VYNOD, &fs.VZNOD}) {
            EXPECT_EQ(a->size(), 20);
        }
        for (const arr1<double>* a : {&fs.VX, &fs.VY, &fs.VZ}) EXPECT_EQ(a->size(), d.NVEL);
        EXPECT_EQ(fs.IKMAXIT.size(), 8);
        for (const arr1<double>* a : {&fs.PNEWIT, &fs.POLDIT, &fs.PDIFIT, &fs.PL2IT, &fs.FL2IT, &fs.FINFIT})
            EXPECT_EQ(a->size(), 8);
        // A flow-only run creates none of the coupled arrays.
        const long n = itrans != 0 ? 20 : 0, h = itrans != 0 ? 4 : 0;
        for (const arr1<double>* a : {&fs.CNEW, &fs.COLD, &fs.CSAVE, &fs.CTHETA, &fs.HPOTC})
            EXPECT_EQ(a->size(), n);
        EXPECT_EQ(fs.IKCIT.size(), h);
        for (const arr1<double>* a : {&fs.HPOTIT, &fs.HPOTCIT, &fs.HDIFIT, &fs.CNEWIT, &fs.COLDIT,
                                      &fs.CDIFIT, &fs.HDMXIT, &fs.CDMXIT})
            EXPECT_EQ(a->size(), h);
        release_flowstate(fs);
        EXPECT_EQ(fs.PNEW.size(), 0);
    }
}
