// Detailed nodal output, surface maps, profiles, partial output and file heads. The expected
// lines were printed by gfortran from the same values (results_expected.txt); SATSUR is checked
// against the rule worked by hand for the three surface columns.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "output/results.h"
#include "output_fixture.h"

using namespace nep;
using outtest::cat;
using outtest::outrun;

namespace {

const auto& expected() {
    static const auto cases = outtest::load_expected("results_expected.txt");
    return cases;
}

// Three surface nodes over two layers: N = 9 nodes, NT = 6 tetrahedra (values only; no
// geometry is needed for the output).
void column_case(outrun& r, int iprt, int isec) {
    r.dim.NNOD = 3;
    r.dim.NTRI = 1;
    r.dim.NSTR = 2;
    r.dim.N = 9;
    r.dim.NT = 6;
    r.io.IPRT = iprt;
    r.io.ISEC = isec;
    r.msh.X.alloc(9);
    r.msh.Y.alloc(9);
    r.msh.Z.alloc(9);
    for (auto* a : {&r.fs.PNEW, &r.fs.VXNOD, &r.fs.VYNOD, &r.fs.VZNOD, &r.fs.CNEW, &r.sl.SW,
                    &r.sl.CKRW}) {
        a->alloc(9);
    }
    for (auto* a : {&r.fs.VX, &r.fs.VY, &r.fs.VZ}) a->alloc(6);
    r.bc.SATSUR.alloc(3);
    const double xs[] = {0.0, 1.0, 0.0}, ys[] = {0.0, 0.0, 1.0};
    const double pnew[] = {-0.5, 0.0, 0.25, -1.0, 0.1, 0.3, 2.0, -0.2, 1.5};
    for (int l = 0; l <= 2; ++l) {
        for (int i = 0; i < 3; ++i) {
            const int k = l * 3 + i + 1;
            r.msh.X(k) = xs[i];
            r.msh.Y(k) = ys[i];
            r.msh.Z(k) = 5.0 - 1.5 * l - 0.1 * i;
        }
    }
    for (int k = 1; k <= 9; ++k) {
        r.fs.PNEW(k) = pnew[k - 1];
        r.sl.SW(k) = 0.1 * k;
        r.sl.CKRW(k) = 1e-3 * k * k * k;
        r.fs.VXNOD(k) = 1e-4 * k;
        r.fs.VYNOD(k) = -2e-5 * k;
        r.fs.VZNOD(k) = 3.3e-6 * k * k;
        r.fs.CNEW(k) = 35.0 / (k + 1);
    }
    for (int e = 1; e <= 6; ++e) {
        r.fs.VX(e) = 1.5e-3 * e;
        r.fs.VY(e) = -e * 1e-7;
        r.fs.VZ(e) = std::pow(2.0, e);
    }
    r.ctl.TIME = 3.75;
    r.ctl.NSTEP = 12;
    r.ctl.TIMEP = 0.5;
}

void profiles(outrun& r) {
    r.dim.NUMVP = 3;
    r.io.NODVP.alloc(3);
    r.io.NODVP(1) = 3;
    r.io.NODVP(2) = 0;  // outside 1..NNOD: skipped without a message
    r.io.NODVP(3) = 1;
}

std::string surface_maps_41() { return cat(expected(), {"head", "col41", "map41"}); }
std::string surface_maps_42() { return cat(expected(), {"head", "col42", "map42"}); }
std::string surface_maps_43() { return cat(expected(), {"head", "col43", "map43"}); }

}  // namespace

TEST(DetailedOutput, WholeMeshAtTheHighestLevel) {
    outrun r;
    column_case(r, 4, 0);
    profiles(r);
    detout(r.dim, r.ctl, r.io, r.msh, r.bc, r.sl, r.fs, true);
    EXPECT_EQ(r.text(35), cat(expected(), {"head", "pnew_all"}));
    EXPECT_EQ(r.text(36), cat(expected(), {"head", "vel_all"}));
    EXPECT_EQ(r.text(39), cat(expected(), {"head", "ckrw_all"}));
    EXPECT_EQ(r.text(38), cat(expected(), {"time", "sw_all"}));
    EXPECT_EQ(r.text(40), cat(expected(), {"time", "vx_all", "vy_all", "vz_all"}));
    EXPECT_EQ(r.text(29), cat(expected(), {"head", "prof_head_3", "prof_3", "prof_head_1", "prof_1"}));
    EXPECT_EQ(r.text(41), surface_maps_41());
    EXPECT_EQ(r.text(42), surface_maps_42());
    EXPECT_EQ(r.text(43), surface_maps_43());
    // Flow-only run: no concentration file is touched.
    for (int u : {30, 37, 44}) EXPECT_EQ(r.text(u), "") << "unit " << u;
}

TEST(DetailedOutput, SaturationIndicatorOfTheSurfaceColumns) {
    outrun r;
    column_case(r, 0, 0);
    detout(r.dim, r.ctl, r.io, r.msh, r.bc, r.sl, r.fs, true);
    // Node 1: negative head. Node 2: head 0 at the surface, node 8 below is negative. Node 3:
    // the whole column is at non-negative head.
    EXPECT_EQ(r.bc.SATSUR(1), 1);
    EXPECT_EQ(r.bc.SATSUR(2), 2);
    EXPECT_EQ(r.bc.SATSUR(3), 3);

    // Saturating node 8 turns column 2 into 3; a negative surface head wins over the column.
    r.fs.PNEW(8) = 0.0;
    r.fs.PNEW(3) = -1e-300;
    detout(r.dim, r.ctl, r.io, r.msh, r.bc, r.sl, r.fs, true);
    EXPECT_EQ(r.bc.SATSUR(2), 3);
    EXPECT_EQ(r.bc.SATSUR(3), 1);
}

TEST(DetailedOutput, LevelZeroWritesOnlyTheSurfaceMaps) {
    outrun r;
    column_case(r, 0, 0);
    detout(r.dim, r.ctl, r.io, r.msh, r.bc, r.sl, r.fs, true);
    for (int u : {29, 35, 36, 38, 39, 40}) EXPECT_EQ(r.text(u), "") << "unit " << u;
    EXPECT_EQ(r.text(41), surface_maps_41());
    EXPECT_EQ(r.text(42), surface_maps_42());
    EXPECT_EQ(r.text(43), surface_maps_43());
}

TEST(DetailedOutput, LevelsOneToThreeAddTheirFiles) {
    const int want_36[] = {0, 0, 1, 1};
    const int want_39[] = {0, 0, 0, 1};
    for (int iprt = 1; iprt <= 3; ++iprt) {
        outrun r;
        column_case(r, iprt, 0);
        detout(r.dim, r.ctl, r.io, r.msh, r.bc, r.sl, r.fs, true);
        EXPECT_EQ(r.text(35), cat(expected(), {"head", "pnew_all"})) << "IPRT " << iprt;
        EXPECT_EQ(r.text(36).empty(), !want_36[iprt]) << "IPRT " << iprt;
        EXPECT_EQ(r.text(39).empty(), !want_39[iprt]) << "IPRT " << iprt;
        EXPECT_EQ(r.text(38), "") << "IPRT " << iprt;
        EXPECT_EQ(r.text(40), "") << "IPRT " << iprt;
    }
}

TEST(DetailedOutput, InitialStateCarriesStepZeroAndTheInitialTime) {
    outrun r;
    column_case(r, 1, 0);
    detout(r.dim, r.ctl, r.io, r.msh, r.bc, r.sl, r.fs, false);
    EXPECT_EQ(r.text(35), cat(expected(), {"head0", "pnew_all"}));
}

TEST(DetailedOutput, HorizontalSectionRestrictsNodesAndElements) {
    outrun r;
    column_case(r, 4, 2);
    detout(r.dim, r.ctl, r.io, r.msh, r.bc, r.sl, r.fs, true);
    EXPECT_EQ(r.text(35), cat(expected(), {"heads2", "pnew_s2"}));
    EXPECT_EQ(r.text(36), cat(expected(), {"heads2", "vel_s2"}));
    EXPECT_EQ(r.text(39), cat(expected(), {"heads2", "ckrw_s2"}));
    EXPECT_EQ(r.text(38), cat(expected(), {"times2", "sw_s2"}));
    // No head line for the element velocities of a section.
    EXPECT_EQ(r.text(40), cat(expected(), {"vx_s2", "vy_s2", "vz_s2"}));
    EXPECT_EQ(r.text(41), surface_maps_41());
}

TEST(DetailedOutput, BottomNodeLayerHasNoElementSection) {
    outrun r;
    column_case(r, 4, 3);  // ISEC = NSTR + 1: the element range lies past NT and is clipped
    detout(r.dim, r.ctl, r.io, r.msh, r.bc, r.sl, r.fs, true);
    EXPECT_EQ(r.text(35), cat(expected(), {"heads3", "pnew_s3"}));
    EXPECT_EQ(r.text(40), "");
}

TEST(DetailedOutput, SectionOutsideTheMeshIsRefused) {
    for (int isec : {-1, 4}) {
        outrun r;
        column_case(r, 1, isec);
        const std::string m = outtest::stop_message(
            [&] { detout(r.dim, r.ctl, r.io, r.msh, r.bc, r.sl, r.fs, true); });
        EXPECT_NE(m.find("parameter file 'parm'"), std::string::npos) << m;
        EXPECT_NE(m.find("ISEC = " + std::to_string(isec)), std::string::npos) << m;
        EXPECT_EQ(r.text(35), "");
    }
}

TEST(DetailedOutput, ConcentrationFilesOfACoupledRun) {
    outrun r;
    column_case(r, 1, 0);
    profiles(r);
    r.ctl.ITRANS = 1;
    detout(r.dim, r.ctl, r.io, r.msh, r.bc, r.sl, r.fs, true);
    EXPECT_EQ(r.text(37), cat(expected(), {"head", "conc_all"}));
    EXPECT_EQ(r.text(30),
              cat(expected(), {"head", "cprof_head_3", "cprof_3", "cprof_head_1", "cprof_1"}));
    EXPECT_EQ(r.text(44), cat(expected(), {"head", "col44", "map44"}));

    outrun q;
    column_case(q, 1, 2);
    detprc(q.dim, q.io, q.msh, q.fs.CNEW, 3.75, 12);
    EXPECT_EQ(q.text(37), cat(expected(), {"cheads2", "conc_s2"}));
    EXPECT_EQ(q.text(30), "");  // no profile nodes
}

TEST(DetailedOutput, LargeMeshIsWritten) {
    outrun r;
    const int nnod = 20000, nstr = 9;
    r.dim.NNOD = nnod;
    r.dim.NSTR = nstr;
    r.dim.NTRI = 2 * nnod;
    r.dim.N = nnod * (nstr + 1);
    r.dim.NT = 3 * r.dim.NTRI * nstr;
    r.io.IPRT = 4;
    for (auto* a : {&r.msh.X, &r.msh.Y, &r.msh.Z, &r.fs.PNEW, &r.fs.VXNOD, &r.fs.VYNOD,
                    &r.fs.VZNOD, &r.sl.SW, &r.sl.CKRW}) {
        a->alloc(r.dim.N, 0.125);
    }
    for (auto* a : {&r.fs.VX, &r.fs.VY, &r.fs.VZ}) a->alloc(r.dim.NT, -3.5e-7);
    r.bc.SATSUR.alloc(nnod);
    detout(r.dim, r.ctl, r.io, r.msh, r.bc, r.sl, r.fs, true);
    // 200,000 nodes and 1,080,000 elements: five lists of nodes, three of elements.
    EXPECT_EQ(std::count(r.text(35).begin(), r.text(35).end(), '\n'), 1 + 40000);
    EXPECT_EQ(std::count(r.text(36).begin(), r.text(36).end(), '\n'), 1 + 200000);
    EXPECT_EQ(std::count(r.text(40).begin(), r.text(40).end(), '\n'), 1 + 3 * 216000);
}

TEST(PartialOutput, FlowStepNodesTwoPerLine) {
    outrun r;
    column_case(r, 0, 0);
    r.dim.NR = 3;
    r.io.IPOUT.alloc(3);
    r.io.IPOUT(1) = 9;
    r.io.IPOUT(2) = 2;
    r.io.IPOUT(3) = 5;
    write_partial(r.dim, r.io, r.sl, r.fs);
    EXPECT_EQ(r.text(6), cat(expected(), {"partial_head", "partial_rows"}));

    r.clear(6);
    r.dim.NR = 0;
    write_partial(r.dim, r.io, r.sl, r.fs);
    EXPECT_EQ(r.text(6), "");
}

TEST(PartialOutput, CoupledStepHeadsAndConcentrations) {
    outrun r;
    column_case(r, 0, 0);
    arr1<int> ipout(5);
    for (int i = 1; i <= 5; ++i) ipout(i) = i;
    write_pot(r.io, 5, ipout, r.fs.PNEW);
    EXPECT_EQ(r.text(6), cat(expected(), {"pot_head", "pot_rows"}));

    r.clear(6);
    ipout(1) = 7;
    write_conc(r.io, 1, ipout, r.fs.CNEW);
    EXPECT_EQ(r.text(6), cat(expected(), {"conc_head", "conc_rows"}));

    r.clear(6);
    write_pot(r.io, 0, ipout, r.fs.PNEW);
    write_conc(r.io, -1, ipout, r.fs.CNEW);
    EXPECT_EQ(r.text(6), "");
}

TEST(PartialOutput, NodesOutsideTheMeshAreRefused) {
    outrun r;
    column_case(r, 0, 0);
    r.dim.NR = 2;
    r.io.IPOUT.alloc(2);
    r.io.IPOUT(1) = 4;
    r.io.IPOUT(2) = 10;
    std::string m = outtest::stop_message([&] { write_partial(r.dim, r.io, r.sl, r.fs); });
    EXPECT_NE(m.find("IPOUT(2) = 10"), std::string::npos) << m;
    r.io.IPOUT(2) = 0;
    m = outtest::stop_message([&] { write_pot(r.io, 2, r.io.IPOUT, r.fs.PNEW); });
    EXPECT_NE(m.find("IPOUT(2) = 0"), std::string::npos) << m;
    EXPECT_EQ(r.text(6), "");
}

TEST(FileHeader, FlowRunWithElementOutput) {
    outrun r;
    r.ctl.IFLOW = 2;
    r.ctl.IRELAX = 1;
    r.sl.KSLOPE = 4;
    r.ctl.TOLNL = 1e-3;
    r.ctl.L2NORM = 0;
    r.io.IPRT = 4;
    file_header(r.ctl, r.io, r.sl);
    EXPECT_EQ(r.text(26), cat(expected(), {"h26"}));
    EXPECT_EQ(r.text(27), cat(expected(), {"h27"}));
    EXPECT_EQ(r.text(28), "");
    EXPECT_EQ(r.text(31), cat(expected(), {"h31"}));
    EXPECT_EQ(r.text(32), cat(expected(), {"h32"}));
    EXPECT_EQ(r.text(36), cat(expected(), {"h36"}));
    EXPECT_EQ(r.text(38), cat(expected(), {"h38"}));
    EXPECT_EQ(r.text(47), cat(expected(), {"h47"}));
    EXPECT_EQ(r.text(48), cat(expected(), {"h48"}));
    EXPECT_EQ(r.text(49), cat(expected(), {"h49"}));
}

TEST(FileHeader, CoupledRunWithoutElementOutput) {
    outrun r;
    r.ctl.IFLOW = 2;
    r.ctl.IRELAX = 1;
    r.sl.KSLOPE = 4;
    r.ctl.TOLNL = 1e-3;
    r.ctl.ITRANS = 1;
    r.io.IPRT = 3;
    file_header(r.ctl, r.io, r.sl);
    EXPECT_EQ(r.text(27), cat(expected(), {"h27c"}));
    EXPECT_EQ(r.text(28), cat(expected(), {"h28"}));
    EXPECT_EQ(r.text(32), cat(expected(), {"h32c"}));
    EXPECT_EQ(r.text(36), "");
    EXPECT_EQ(r.text(38), "");
}

// A list longer than a block of the writers (65,520 nodes, mesh/blocks.h): the lines go on five
// values to a line across the block's end. 70,000 nodes, PNEW(i) = i / 4, so that the line of
// nodes 65,516..65,520 ends the first block and that of 65,521..65,525 begins the second; the
// values worked by hand (65,520 / 4 = 16,380).
TEST(DetailedOutput, ListLongerThanABlockKeepsFiveValuesALine) {
    outrun r;
    r.mesh_sizes(35000, 1);
    r.dim.NT = 0;
    r.io.IPRT = 1;
    r.io.ISEC = 0;
    for (auto* a : {&r.msh.X, &r.msh.Y, &r.msh.Z, &r.fs.PNEW, &r.sl.SW}) a->alloc(70000);
    r.bc.SATSUR.alloc(35000);
    for (int i = 1; i <= 70000; ++i) r.fs.PNEW(i) = i / 4.0;
    detout(r.dim, r.ctl, r.io, r.msh, r.bc, r.sl, r.fs, true);
    const std::string t = r.text(35);
    std::vector<std::string> lines;
    for (std::size_t a = 0, b; a < t.size(); a = b + 1) {
        b = t.find('\n', a);
        if (b == std::string::npos) b = t.size();
        lines.push_back(t.substr(a, b - a));
    }
    ASSERT_EQ(lines.size(), 1u + 70000u / 5u);
    EXPECT_EQ(lines[13104], "   1.637900E+04   1.637925E+04   1.637950E+04   1.637975E+04   1.638000E+04");
    EXPECT_EQ(lines[13105], "   1.638025E+04   1.638050E+04   1.638075E+04   1.638100E+04   1.638125E+04");
    EXPECT_EQ(lines[14000], "   1.749900E+04   1.749925E+04   1.749950E+04   1.749975E+04   1.750000E+04");
}
