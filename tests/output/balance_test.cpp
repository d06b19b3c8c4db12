// The water balance of a step and its listing. Truths: hand computations on small node sets
// (binary fractions, so most sums are exact), the water-content change of the characteristic
// curves for the storage term, and gfortran renderings of the listing lines
// (balance_expected.txt).
#include <gtest/gtest.h>

#include <cmath>

#include "output/balance.h"
#include "output_fixture.h"
#include "soil/curves.h"

using namespace nep;
using outtest::cat;
using outtest::outrun;

namespace {

const auto& expected() {
    static const auto cases = outtest::load_expected("balance_expected.txt");
    return cases;
}

// Allocation of the boundary arrays a test needs, by the sizes in r.dim.
void alloc_bc(outrun& r) {
    const long nnod = r.dim.NNOD, np = r.dim.NP, nq = r.dim.NQ, nsf = r.dim.NSF;
    r.bc.IFATM.alloc(nnod);
    r.bc.IFATMP.alloc(nnod);
    r.bc.ATMACT.alloc(nnod);
    r.bc.ATMACP.alloc(nnod);
    r.bc.SATSUR.alloc(nnod);
    r.bc.DIRFLX.alloc(np);
    r.bc.NEUVAL.alloc(nq);
    r.bc.NSFNUM.alloc(nsf);
    r.bc.IEXIT.alloc(nsf);
    r.bc.SFQ.alloc(nsf, r.dim.NSFNMX);
    r.bc.SFNOD.alloc(nsf, r.dim.NSFNMX);
}

// Boundary state: 4 surface nodes, 3 prescribed-head and 2 prescribed-flux nodes, 2 seepage
// faces of up to 4 nodes.
void boundary_state(outrun& r) {
    r.dim.NNOD = 4;
    r.dim.NP = 3;
    r.dim.NQ = 2;
    r.dim.NSF = 2;
    r.dim.NSFNMX = 5;
    alloc_bc(r);
    const double dirflx[] = {2.0, -3.0, 0.0};
    for (int k = 1; k <= 3; ++k) r.bc.DIRFLX(k) = dirflx[k - 1];
    r.bc.NEUVAL(1) = 1.5;
    r.bc.NEUVAL(2) = -0.5;
    const int ifatm[] = {1, 0, -1, 1};
    const double atmact[] = {4.0, -1.0, 100.0, -2.0};
    for (int j = 1; j <= 4; ++j) {
        r.bc.IFATM(j) = ifatm[j - 1];
        r.bc.ATMACT(j) = atmact[j - 1];
    }
    // Face 1 is saturated from the top and seeps out; face 2 is saturated from position 3 and
    // draws water in at both of its saturated nodes (SFFLAG(5) twice). Entries above the exit
    // points must not count.
    r.bc.NSFNUM(1) = 2;
    r.bc.IEXIT(1) = 1;
    r.bc.SFQ(1, 1) = -2.0;
    r.bc.SFQ(1, 2) = -0.25;
    r.bc.NSFNUM(2) = 4;
    r.bc.IEXIT(2) = 3;
    r.bc.SFQ(2, 1) = 9.0;
    r.bc.SFQ(2, 2) = 9.0;
    r.bc.SFQ(2, 3) = 0.0;
    r.bc.SFQ(2, 4) = 1.5e-3;
    const int nodes[] = {101, 102, 12345, 7};
    for (int j = 1; j <= 4; ++j) r.bc.SFNOD(2, j) = nodes[j - 1];
    r.bc.SFNOD(1, 1) = 11;
    r.bc.SFNOD(1, 2) = 12;
    r.ctl.TIME = 1234.5;
    r.ctl.DELTAT = 0.25;
}

}  // namespace

TEST(MassBalanceFlux, ClassesSplitBySignWithZeroAsOutflow) {
    outrun r;
    boundary_state(r);
    for (int k = 1; k <= 8; ++k) r.mb.FLXCUR[k] = 77.0;  // left from a previous iteration
    r.mb.SFFLX = 77.0;
    r.bc.SFFLAG[5] = 5;
    fluxmb(r.dim, r.ctl, r.io, r.msh, r.bc, r.mb);

    EXPECT_EQ(r.mb.FLXCUR[MB_IADIR], 4.0);   // head-controlled surface node 1
    EXPECT_EQ(r.mb.FLXCUR[MB_OADIR], -2.0);  // head-controlled surface node 4
    EXPECT_EQ(r.mb.FLXCUR[MB_INDIR], 2.0);
    EXPECT_EQ(r.mb.FLXCUR[MB_ONDIR], -3.0);
    EXPECT_EQ(r.mb.FLXCUR[MB_IANEU], 0.0);
    EXPECT_EQ(r.mb.FLXCUR[MB_OANEU], -1.0);  // flux-controlled node 2; node 3 is not atmospheric
    EXPECT_EQ(r.mb.FLXCUR[MB_INNEU], 1.5);
    EXPECT_EQ(r.mb.FLXCUR[MB_ONNEU], -0.5);
    EXPECT_DOUBLE_EQ(r.mb.SFFLX, -2.0 - 0.25 + 0.0 + 1.5e-3);
    EXPECT_EQ(r.bc.SFFLAG[5], 7);
    EXPECT_EQ(r.text(134), cat(expected(), {"sfflag5_a", "sfflag5_b"}));
    EXPECT_EQ(r.text(6), "");
}

TEST(MassBalanceFlux, FaceWithoutExitPointAddsNothing) {
    outrun r;
    boundary_state(r);
    r.bc.IEXIT(1) = 3;  // NSFNUM + 1: no saturated node
    r.bc.IEXIT(2) = 5;
    fluxmb(r.dim, r.ctl, r.io, r.msh, r.bc, r.mb);
    EXPECT_EQ(r.mb.SFFLX, 0.0);
    EXPECT_EQ(r.bc.SFFLAG[5], 0);
    EXPECT_EQ(r.text(134), "");
}

TEST(MassBalanceFlux, InitialPreviousFluxes) {
    outrun r;
    boundary_state(r);
    const int ifatmp[] = {0, 1, -1, 0};
    const double atmacp[] = {3.0, 50.0, 60.0, -1.25};
    for (int j = 1; j <= 4; ++j) {
        r.bc.IFATMP(j) = ifatmp[j - 1];
        r.bc.ATMACP(j) = atmacp[j - 1];
    }
    for (int k = 1; k <= 8; ++k) r.mb.FLXPRV[k] = 9.0;
    r.mb.SFFLXP = r.mb.CERRAS = r.mb.CINOUT = r.mb.CIN = r.mb.COUT = 9.0;
    r.ctl.DELTAT = 1.0;
    mbinit(r.dim, r.ctl, r.msh, r.bc, r.mb);
    const double want[9] = {0, 0, 0, 0, 0, 3.0, -1.25, 1.5, -0.5};
    for (int k = 1; k <= 8; ++k) EXPECT_EQ(r.mb.FLXPRV[k], want[k]) << "class " << k;
    EXPECT_EQ(r.mb.SFFLXP, 0.0);
    EXPECT_EQ(r.mb.CERRAS + r.mb.CINOUT + r.mb.CIN + r.mb.COUT, 0.0);

    // A steady-state run starts without previous prescribed fluxes.
    r.ctl.DELTAT = 1.0e10;
    mbinit(r.dim, r.ctl, r.msh, r.bc, r.mb);
    EXPECT_EQ(r.mb.FLXPRV[MB_INNEU], 0.0);
    EXPECT_EQ(r.mb.FLXPRV[MB_ONNEU], 0.0);
    EXPECT_EQ(r.mb.FLXPRV[MB_IANEU], 3.0);
}

namespace {

// Four saturated nodes (van Genuchten, heads >= 0: SW = 1 and STCOEF = SNODI) with nodal volumes
// 1..4, and one prescribed-flux node.
void storage_case(outrun& r) {
    r.dim.N = 4;
    r.dim.NNOD = 1;
    r.dim.NQ = 1;
    alloc_bc(r);
    r.bc.IFATM(1) = -1;
    r.msh.VOLNOD.alloc(4);
    for (auto* a : {&r.sl.SNODI, &r.sl.PORNOD, &r.sl.SW, &r.sl.CKRW, &r.sl.STCOEF, &r.sl.SEFRAC,
                    &r.sl.PXVG, &r.fs.PNEW, &r.fs.PSAVE}) {
        a->alloc(4);
    }
    r.sp.WORK1.alloc(40);
    const double ss[] = {0.125, 0.25, 0.5, 1.0};
    const double psave[] = {0.0, 1.0, 2.0, 3.0};
    const double pnew[] = {0.5, 1.0, 1.5, 4.0};
    for (int i = 1; i <= 4; ++i) {
        r.msh.VOLNOD(i) = i;
        r.sl.SNODI(i) = ss[i - 1];
        r.sl.PORNOD(i) = 0.4;
        r.fs.PSAVE(i) = psave[i - 1];
        r.fs.PNEW(i) = pnew[i - 1];
    }
    r.sl.IVGHU = 0;
    r.sl.VGN = 2.0;
    r.sl.VGRMC = 0.1;
    r.sl.VGPSAT = -1.0;
    chparm(r.dim, r.io, r.sl);
    r.ctl.DELTAT = 2.0;  // f = DELTAT/2 = 1
}

}  // namespace

TEST(MassBalanceStep, StorageChangeAndErrorsByHand) {
    outrun r;
    storage_case(r);
    // Storage change: 1*0.125*0.5 + 2*0.25*0 + 3*0.5*(-0.5) + 4*1*1 = 3.3125.
    // Prescribed flux 3.0 now and 0.3125 before: inflow volume 1*(3.0 + 0.3125) = 3.3125.
    r.bc.NEUVAL(1) = 3.0;
    r.mb.FLXPRV[MB_INNEU] = 0.3125;
    flowmb(r.dim, r.ctl, r.io, r.msh, r.bc, r.sl, r.sp, r.fs, r.cpu, r.mb);
    EXPECT_EQ(r.mb.DSTORE, 3.3125);
    EXPECT_EQ(r.mb.FLXVOL[MB_INNEU], 3.3125);
    EXPECT_EQ(r.mb.VIN, 3.3125);
    EXPECT_EQ(r.mb.VOUT, 0.0);
    EXPECT_EQ(r.mb.ERRAS, 0.0);
    EXPECT_EQ(r.mb.ERREL, 0.0);

    // One unit more inflow than storage: absolute error 1, relative 100/4.3125 percent.
    r.bc.NEUVAL(1) = 4.0;
    flowmb(r.dim, r.ctl, r.io, r.msh, r.bc, r.sl, r.sp, r.fs, r.cpu, r.mb);
    EXPECT_EQ(r.mb.VIN, 4.3125);
    EXPECT_EQ(r.mb.ERRAS, 1.0);
    EXPECT_DOUBLE_EQ(r.mb.ERREL, 23.188405797101449);

    // DELTAT = 4: trapezoidal volumes with f = 2.
    r.ctl.DELTAT = 4.0;
    flowmb(r.dim, r.ctl, r.io, r.msh, r.bc, r.sl, r.sp, r.fs, r.cpu, r.mb);
    EXPECT_EQ(r.mb.FLXVOL[MB_INNEU], 8.625);
    EXPECT_EQ(r.mb.ERRAS, 8.625 - 3.3125);
    EXPECT_DOUBLE_EQ(r.mb.ERREL, 100.0 * 5.3125 / 8.625);
    // The storage coefficients are left at the end-of-step heads.
    for (int i = 1; i <= 4; ++i) EXPECT_DOUBLE_EQ(r.sl.STCOEF(i), r.sl.SNODI(i));
}

TEST(MassBalanceStep, OutflowsAndSeepageEnterTheOutTotal) {
    outrun r;
    storage_case(r);
    r.dim.NSF = 1;
    r.dim.NSFNMX = 3;
    r.bc.NSFNUM.alloc(1);
    r.bc.IEXIT.alloc(1);
    r.bc.SFQ.alloc(1, 3);
    r.bc.SFNOD.alloc(1, 3);
    r.bc.NSFNUM(1) = 2;
    r.bc.IEXIT(1) = 1;
    r.bc.SFQ(1, 1) = -0.5;
    r.bc.SFQ(1, 2) = -0.25;
    r.mb.SFFLXP = -0.25;
    r.bc.NEUVAL(1) = -1.0;
    r.mb.FLXPRV[MB_ONNEU] = -2.0;
    flowmb(r.dim, r.ctl, r.io, r.msh, r.bc, r.sl, r.sp, r.fs, r.cpu, r.mb);
    EXPECT_EQ(r.mb.SFVOL, -1.0);
    EXPECT_EQ(r.mb.FLXVOL[MB_ONNEU], -3.0);
    EXPECT_EQ(r.mb.VOUT, -4.0);
    EXPECT_EQ(r.mb.VIN, 0.0);
    EXPECT_EQ(r.mb.ERRAS, -4.0 - 3.3125);
    EXPECT_DOUBLE_EQ(r.mb.ERREL, 100.0 * (-7.3125) / (-4.0));
}

TEST(MassBalanceStep, StorageMatchesWaterContentChangeOfTheCurves) {
    // Brooks-Corey soil without specific storage: the stored volume of node i is
    // V_i * PORNOD_i * SW_i, so over a small head change the trapezoidal storage change must
    // equal the change of that volume up to the third order of the head change.
    outrun r;
    const int N = 5;
    r.dim.N = N;
    r.dim.NNOD = 0;
    alloc_bc(r);
    r.msh.VOLNOD.alloc(N);
    for (auto* a : {&r.sl.SNODI, &r.sl.PORNOD, &r.sl.SW, &r.sl.CKRW, &r.sl.STCOEF, &r.sl.SEFRAC,
                    &r.sl.PXVG, &r.fs.PNEW, &r.fs.PSAVE}) {
        a->alloc(N);
    }
    r.sp.WORK1.alloc(10 * N);
    r.sl.IVGHU = 4;
    r.sl.BCBETA = 1.5;
    r.sl.BCRMC = 0.05;
    r.sl.BCPSAT = -0.3;
    const double psave[] = {-0.5, -1.0, -2.0, -4.0, -0.8};
    for (int i = 1; i <= N; ++i) {
        r.msh.VOLNOD(i) = 0.5 * i;
        r.sl.SNODI(i) = 0.0;
        r.sl.PORNOD(i) = 0.3 + 0.02 * i;
        r.fs.PSAVE(i) = psave[i - 1];
        r.fs.PNEW(i) = psave[i - 1] * (1.0 + 1.0e-3 * (i % 2 ? 1 : -1));
    }
    chparm(r.dim, r.io, r.sl);
    r.ctl.DELTAT = 1.0;
    flowmb(r.dim, r.ctl, r.io, r.msh, r.bc, r.sl, r.sp, r.fs, r.cpu, r.mb);

    double dvol = 0.0;
    for (int i = 1; i <= N; ++i) {
        const double phi = r.sl.PORNOD(i);
        auto sw = [&](double psi) {
            const double se = std::pow(r.sl.BCPSAT / psi, r.sl.BCBETA);
            return (phi - r.sl.BCRMC) / phi * se + r.sl.BCRMC / phi;
        };
        dvol += r.msh.VOLNOD(i) * phi * (sw(r.fs.PNEW(i)) - sw(r.fs.PSAVE(i)));
    }
    ASSERT_NE(dvol, 0.0);
    EXPECT_NEAR(r.mb.DSTORE, dvol, 1.0e-5 * std::fabs(dvol));
}

TEST(MassBalanceStep, SteadyStateUsesFluxSumsAndInflow) {
    outrun r;
    storage_case(r);
    r.ctl.DELTAT = 1.0e10;
    r.bc.NEUVAL(1) = 3.0;
    r.mb.FLXPRV[MB_INNEU] = 1.0;
    flowmb(r.dim, r.ctl, r.io, r.msh, r.bc, r.sl, r.sp, r.fs, r.cpu, r.mb);
    EXPECT_EQ(r.mb.DSTORE, 0.0);  // the heads changed, but a steady state stores nothing
    EXPECT_EQ(r.mb.FLXVOL[MB_INNEU], 4.0);
    EXPECT_EQ(r.mb.ERRAS, 4.0);
    EXPECT_EQ(r.mb.ERREL, 100.0);

    // Outflow only: relative error against a zero inflow is 0.
    r.bc.NEUVAL(1) = -3.0;
    r.mb.FLXPRV[MB_INNEU] = 0.0;
    flowmb(r.dim, r.ctl, r.io, r.msh, r.bc, r.sl, r.sp, r.fs, r.cpu, r.mb);
    EXPECT_EQ(r.mb.VIN, 0.0);
    EXPECT_EQ(r.mb.ERRAS, -3.0);
    EXPECT_EQ(r.mb.ERREL, 0.0);
}

TEST(MassBalanceStep, ZeroNetVolumeGivesZeroRelativeError) {
    outrun r;
    r.ctl.DELTAT = 2.0;
    r.mb.FLXCUR[MB_IADIR] = 1.5;
    r.mb.FLXCUR[MB_OANEU] = -1.0;
    r.mb.SFFLX = -0.5;
    flowmb_volumes(r.ctl, r.mb, 0.25);
    EXPECT_EQ(r.mb.VIN, 1.5);
    EXPECT_EQ(r.mb.VOUT, -1.5);
    EXPECT_EQ(r.mb.ERRAS, -0.25);
    EXPECT_EQ(r.mb.ERREL, 0.0);
}

TEST(MassBalanceStep, BookkeepingAfterTheListing) {
    outrun r;
    for (int k = 1; k <= 8; ++k) {
        r.mb.FLXCUR[k] = k;
        r.mb.FLXPRV[k] = -k;
    }
    r.mb.SFFLX = -0.75;
    r.mb.VIN = 3.0;
    r.mb.VOUT = -1.0;
    r.mb.ERRAS = -0.5;
    mbnext(r.mb);
    r.mb.ERRAS = 0.25;
    mbnext(r.mb);
    EXPECT_EQ(r.mb.CERRAS, 0.75);  // magnitudes are summed
    EXPECT_EQ(r.mb.CINOUT, 4.0);
    EXPECT_EQ(r.mb.CIN, 6.0);
    EXPECT_EQ(r.mb.COUT, -2.0);
    for (int k = 1; k <= 8; ++k) EXPECT_EQ(r.mb.FLXPRV[k], k);
    EXPECT_EQ(r.mb.SFFLXP, -0.75);
}

TEST(MassBalanceStep, SoluteRelativeErrorFallsBackToOutflow) {
    outrun r;
    r.ctl.DELTAT = 4.0;
    r.mb.TFLXCUR[MB_TDIRIN] = 1.0;
    r.mb.TFLXPRV[MB_TDIRIN] = 0.5;
    r.mb.TFLXCUR[MB_TCAUOUT] = -0.25;
    tranmb_close(r.ctl, r.mb, 2.0);
    EXPECT_EQ(r.mb.TVIN, 3.0);
    EXPECT_EQ(r.mb.TVOUT, -0.5);
    EXPECT_EQ(r.mb.TERRAS, 0.5);
    EXPECT_DOUBLE_EQ(r.mb.TERREL, 100.0 * 0.5 / 3.0);
    EXPECT_EQ(r.mb.TFLXPRV[MB_TDIRIN], 1.0);
    EXPECT_EQ(r.mb.TCIN, 3.0);

    // No inflow: against the outflow.
    r.mb.TFLXCUR[MB_TDIRIN] = 0.0;
    r.mb.TFLXPRV[MB_TDIRIN] = 0.0;
    tranmb_close(r.ctl, r.mb, 0.5);
    EXPECT_EQ(r.mb.TVOUT, -1.0);
    EXPECT_EQ(r.mb.TERRAS, -1.5);
    EXPECT_EQ(r.mb.TERREL, 150.0);
    EXPECT_EQ(r.mb.TCERRAS, 2.0);
    EXPECT_EQ(r.mb.TCOUT, -1.5);

    // Neither: 0, and a steady state stores nothing.
    for (int k = 1; k <= 4; ++k) r.mb.TFLXCUR[k] = r.mb.TFLXPRV[k] = 0.0;
    r.ctl.DELTAT = 1.0e10;
    tranmb_close(r.ctl, r.mb, 7.0);
    EXPECT_EQ(r.mb.TDSTORE, 0.0);
    EXPECT_EQ(r.mb.TERRAS, 0.0);
    EXPECT_EQ(r.mb.TERREL, 0.0);
}

namespace {

void listing_values(outrun& r) {
    const double cur[] = {1.234e-3, -5.678e-2, 12.5, 0.0, 9.99e-5, -1.05e+2, 3.0e-10, -7.25};
    const double prv[] = {0.0, -1.0, 2.5e3, -4.4e-1, 1.0, 0.0, 6.02e23, -1.5e-120};
    const double vol[] = {6.17e-4, -0.52839, 1256.25, -0.22, 0.50004995, -52.5, 3.01e23, -3.625};
    for (int k = 1; k <= 8; ++k) {
        r.mb.FLXCUR[k] = cur[k - 1];
        r.mb.FLXPRV[k] = prv[k - 1];
        r.mb.FLXVOL[k] = vol[k - 1];
    }
    r.mb.SFFLX = -3.25e-2;
    r.mb.SFFLXP = -1.0e-1;
    r.mb.SFVOL = -6.625e-2;
    r.mb.VIN = 123.456;
    r.mb.VOUT = -120.0;
    r.mb.DSTORE = 3.4;
    r.mb.ERRAS = 0.05600000000000023;
    r.mb.ERREL = 1.6203703703704;
    r.mb.TERRAS = -2.5e-7;
    r.mb.TERREL = 99.999999;
    r.ctl.NSTEP = 17;
    r.ctl.DELTAT = 0.5;
    r.ctl.TIME = 12.75;
}

}  // namespace

TEST(MassBalanceListing, StepLinesOfAFlowRunWithSeepageFaces) {
    outrun r;
    listing_values(r);
    r.dim.NSF = 2;
    mbeout(r.dim, r.ctl, r.io, r.mb);
    EXPECT_EQ(r.text(6), cat(expected(), {"mbeout_flux", "mbeout_seep", "mbeout_total"}));
    EXPECT_EQ(r.text(27), cat(expected(), {"mb27_flow"}));
}

TEST(MassBalanceListing, NoSeepageLineWithoutFacesAndSevenColumnsWhenCoupled) {
    outrun r;
    listing_values(r);
    r.dim.NSF = 0;
    r.ctl.ITRANS = 1;
    mbeout(r.dim, r.ctl, r.io, r.mb);
    EXPECT_EQ(r.text(6), cat(expected(), {"mbeout_flux", "mbeout_total"}));
    EXPECT_EQ(r.text(27), cat(expected(), {"mb27_coupled"}));
}

namespace {

void end_counters(outrun& r) {
    const int hg[] = {0, 1, 22, 333, 4444, 55555, 666666, 7};
    for (int k = 1; k <= 8; ++k) r.bc.HGFLAG[k] = hg[k - 1];
    for (int k = 1; k <= 5; ++k) r.bc.SFFLAG[k] = 6 - k;
    r.ctl.NBKSTEP = 3;
    r.ctl.NLSFAIL = 123456;
    r.bc.SFFAIL = 12;
    r.bc.SFFAILT = 345;
    r.dim.IBOTMN = 1200000;
}

const double kErr = 0.007765609801172227;

}  // namespace

TEST(MassBalanceCumulative, UnsteadyCoupledRunWithFacesAndDirectSolver) {
    outrun r;
    end_counters(r);
    r.ctl.DELTAT = 3.0;
    r.ctl.ITRANS = 1;
    r.ctl.ISOLV = 3;
    r.ctl.IFLOW = 2;
    r.dim.NSF = 1;
    r.mb.CERRAS = kErr;
    r.mb.CINOUT = 0.18419443593689905;
    r.mb.CIN = 1.45074712601535;
    r.mb.COUT = -5.0;  // not used: the inflow is not zero
    r.mb.TCERRAS = 0.0005943253367337619;
    r.mb.TCIN = 0.0;
    r.mb.TCOUT = -1.6127728307641367;
    cumberr(r.dim, r.ctl, r.io, r.bc, r.mb);
    // The relative values are single-precision: 4.21598 where the double value rounds to 4.21599.
    EXPECT_EQ(r.text(6), cat(expected(), {"cum_inout", "cum_in", "cum_trn", "hgflag", "sfflag",
                                          "backstep", "sfexpt", "ibot"}));
    EXPECT_EQ(r.text(33), cat(expected(), {"hgflag"}));
    EXPECT_EQ(r.text(134), cat(expected(), {"sfflag"}));
}

TEST(MassBalanceCumulative, OutflowOnlyRunWithoutFaces) {
    outrun r;
    r.ctl.DELTAT = 3.0;
    r.ctl.ISOLV = 3;
    r.ctl.IFLOW = 1;  // Picard: no direct solver, no IBOT line
    r.mb.CERRAS = kErr;
    r.mb.CINOUT = 0.0;
    r.mb.CIN = 0.0;
    r.mb.COUT = -1.340996486280744;
    r.bc.SFFLAG[5] = 9;  // not written without faces
    cumberr(r.dim, r.ctl, r.io, r.bc, r.mb);
    EXPECT_EQ(r.text(6), cat(expected(), {"cum_out", "hgflag0", "backstep0"}));
    EXPECT_EQ(r.text(134), "");
}

TEST(MassBalanceCumulative, SteadyRunAndEmptyTotalsWriteNoErrorLines) {
    outrun r;
    r.ctl.DELTAT = 1.7e38;
    r.ctl.ITRANS = 1;
    r.mb.CERRAS = r.mb.CINOUT = r.mb.CIN = r.mb.COUT = 1.0;
    r.mb.TCERRAS = r.mb.TCIN = 1.0;
    cumberr(r.dim, r.ctl, r.io, r.bc, r.mb);
    EXPECT_EQ(r.text(6), cat(expected(), {"hgflag0", "backstep0"}));

    // Unsteady, but nothing ever crossed the boundaries.
    outrun q;
    q.ctl.DELTAT = 1.0;
    q.ctl.ITRANS = 1;
    q.mb.CERRAS = q.mb.TCERRAS = 0.5;
    cumberr(q.dim, q.ctl, q.io, q.bc, q.mb);
    EXPECT_EQ(q.text(6), cat(expected(), {"hgflag0", "backstep0"}));
}
