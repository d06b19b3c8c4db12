// Seepage-face exit points: initial exit points from the initial heads, the all-node and the
// one-node moves, the SFFLAG events and the exit-point listing of unit 134.
// Expected message lines were printed by gfortran (tools/fortran-format) through the same format
// strings; the expected exit points, heads and fluxes are worked out by hand from the face data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/stop.h"
#include "bc/exitpoint.h"
#include "run/run.h"
#include "run/storage.h"

using namespace nep;

namespace {

using mover = void (*)(const dimensions&, const control&, iofiles&, bcdata&, flowstate&);

// The records of a run with only what the seepage faces use: N nodes, the faces (node numbers
// from the top down), PNEW and PSAVE, and unit 134 kept in memory.
struct sfrun {
    std::unique_ptr<records> R = std::make_unique<records>();
    dimensions& dim = R->dim;
    control& ctl = R->ctl;
    iofiles& io = R->io;
    bcdata& bc = R->bc;
    flowstate& fs = R->fs;

    sfrun(int n, const std::vector<std::vector<int>>& faces) {
        dim.N = n;
        dim.NSF = (int)faces.size();
        std::size_t largest = 0;
        for (const auto& f : faces) largest = std::max(largest, f.size());
        dim.NSFNMX = faces.empty() ? 0 : (int)largest + 1;
        alloc_bcdata(dim, bc);
        for (int k = 1; k <= dim.NSF; ++k) {
            const auto& f = faces[k - 1];
            bc.NSFNUM(k) = (int)f.size();
            for (std::size_t i = 0; i < f.size(); ++i) bc.SFNOD(k, (long)i + 1) = f[i];
            bc.SFNOD(k, (long)f.size() + 1) = -9999;
        }
        fs.PNEW.alloc(n);
        fs.PSAVE.alloc(n);
        io.out(kSfflagUnit).open_memory();
        ctl.TIME = 10.0;
        ctl.DELTAT = 2.5;
        ctl.ITER = 3;
    }
    // The exit point of face k at the start of the iteration (IEXIT = IEXITP = IEXOLD).
    void exit_point(int k, int e) { bc.IEXIT(k) = bc.IEXITP(k) = bc.IEXOLD(k) = e; }
    // PNEW at the positions of face k, from the top down.
    void heads(int k, const std::vector<double>& p) {
        for (std::size_t i = 0; i < p.size(); ++i) fs.PNEW(bc.SFNOD(k, (long)i + 1)) = p[i];
    }
    void fluxes(int k, const std::vector<double>& q) {
        for (std::size_t i = 0; i < q.size(); ++i) bc.SFQ(k, (long)i + 1) = q[i];
    }
    double head(int k, int i) const { return fs.PNEW(bc.SFNOD(k, i)); }
    std::string log() const { return R->io.OUT[kSfflagUnit].str(); }
    void clear_log() { io.out(kSfflagUnit).clear(); }
    int flags(int k) const { return bc.SFFLAG[k]; }
};

// Five nodes from the top down; position i is node 26 - 5i.
const std::vector<int> kColumn = {21, 16, 11, 6, 1};

// The exit-point listing of one face that moved from prev to curr at TIME 10, DELTAT 2.5,
// ITER 3 (gfortran).
const char* const kListHead =
    "\n"
    " (TIME=  1.0000E+01, DELTAT=  2.5000E+00, ITER=    3)\n"
    " EXIT POINTS PREV ITER: NODE (NODE #)\n";
const char* const kListCurr = " EXIT POINTS CURR ITER: NODE (NODE #)\n";
const char* const kMoved = " SEEPAGE FACE EXIT POINTS DID NOT CONVERGE\n\n";
const char* const kStill = " SEEPAGE FACE EXIT POINTS CONVERGED\n\n";

std::string listing(const std::string& prev, const std::string& curr, bool moved) {
    return std::string(kListHead) + prev + kListCurr + curr + (moved ? kMoved : kStill);
}

int count_of(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Initial exit points.

TEST(SeepageExitInit, ExitPointsFromInitialHeadsAndFlagsAtIterZero) {
    sfrun r(20, {{2, 6, 10, 14, 18}, {3, 7, 11}, {4, 8}});
    r.bc.ISFCVG = 1;
    r.ctl.TIMEP = 1.5;
    r.ctl.DELTAT = 0.25;
    r.ctl.TIME = 1.75;  // the messages are dated at the start of the step, not here
    r.ctl.ITER = 1;     // and carry iteration 0
    r.fs.PSAVE.fill(-9.0);
    r.fs.PNEW.fill(-8.0);
    const double face1[] = {-2.0, -0.5, 0.0, -0.25, 1.5};
    for (int i = 0; i < 5; ++i) r.fs.PSAVE(r.bc.SFNOD(1, i + 1)) = face1[i];
    const double face2[] = {-1.0, -2.0, -3.0};
    for (int i = 0; i < 3; ++i) r.fs.PSAVE(r.bc.SFNOD(2, i + 1)) = face2[i];
    r.fs.PSAVE(4) = 0.75;
    r.fs.PSAVE(8) = 2.0;
    // Stale counters from nowhere must not survive the initialisation.
    r.bc.SFFAIL = 5;
    r.bc.SFFAILT = 9;
    r.bc.SFFLAG[3] = 4;
    r.bc.SFQ(1, 2) = 7.0;

    sfinit(r.dim, r.ctl, r.io, r.bc, r.fs);

    // Face 1: the first non-negative head from the top is position 3 (head exactly 0).
    // Face 2: no node is saturated. Face 3: saturated from the top.
    const int exits[] = {3, 4, 1};
    for (int k = 1; k <= 3; ++k) {
        EXPECT_EQ(r.bc.IEXIT(k), exits[k - 1]) << "face " << k;
        EXPECT_EQ(r.bc.IEXITP(k), exits[k - 1]) << "face " << k;
        EXPECT_EQ(r.bc.IEXOLD(k), exits[k - 1]) << "face " << k;
    }
    // PSAVE and PNEW are 0 from the exit point down, even where the head was negative (node 14);
    // above the exit point and off the faces both are untouched.
    for (int node : {10, 14, 18, 4, 8}) {
        EXPECT_EQ(r.fs.PSAVE(node), 0.0) << "node " << node;
        EXPECT_EQ(r.fs.PNEW(node), 0.0) << "node " << node;
    }
    EXPECT_EQ(r.fs.PSAVE(2), -2.0);
    EXPECT_EQ(r.fs.PSAVE(6), -0.5);
    EXPECT_EQ(r.fs.PSAVE(7), -2.0);
    for (int node : {2, 6, 3, 7, 11, 1, 20}) EXPECT_EQ(r.fs.PNEW(node), -8.0) << "node " << node;
    EXPECT_EQ(r.fs.PSAVE(1), -9.0);

    EXPECT_EQ(r.bc.SFCHK, 1);
    EXPECT_EQ(r.bc.SFFAIL, 0);
    EXPECT_EQ(r.bc.SFFAILT, 0);
    EXPECT_EQ(r.bc.SFQ(1, 2), 0.0);
    const int flags[] = {1, 1, 0, 0, 0};
    for (int k = 1; k <= 5; ++k) EXPECT_EQ(r.flags(k), flags[k - 1]) << "SFFLAG " << k;

    EXPECT_EQ(r.log(),
              " SFFLAG(1) AT SEEPAGE FACE    2 (TIME=1.50E+00, DELTAT=2.50E-01, ITER=   0)\n"
              "           NO EXIT POINT; SEEPAGE FACE COMPLETELY UNSATURATED\n"
              " SFFLAG(2) AT SEEPAGE FACE    3 (TIME=1.50E+00, DELTAT=2.50E-01, ITER=   0)\n"
              "           EXIT POINT AT TOP OF SEEPAGE FACE; SEEPAGE FACE COMPLETELY SATURATED\n");

    // The listing shows the unsaturated face with the end mark -9999 as its node.
    r.clear_log();
    EXPECT_EQ(extcvg(r.dim, r.ctl, r.io, r.bc), 0);
    EXPECT_EQ(r.bc.SFNCVG, 0);
    EXPECT_EQ(r.log(),
              "\n"
              " (TIME=  1.7500E+00, DELTAT=  2.5000E-01, ITER=    1)\n"
              " EXIT POINTS PREV ITER: NODE (NODE #)\n"
              "    3(    10)    4( -9999)    1(     4)\n"
              " EXIT POINTS CURR ITER: NODE (NODE #)\n"
              "    3(    10)    4( -9999)    1(     4)\n"
              " SEEPAGE FACE EXIT POINTS CONVERGED\n"
              "\n");
}

TEST(SeepageExitInit, ConvergenceCheckFlagAndNoFaces) {
    {
        sfrun r(4, {{1, 2}});
        r.bc.ISFCVG = 0;
        r.fs.PSAVE.fill(-1.0);
        sfinit(r.dim, r.ctl, r.io, r.bc, r.fs);
        EXPECT_EQ(r.bc.SFCHK, 0);
        EXPECT_EQ(r.bc.IEXIT(1), 3);
    }
    {
        // Any value but 1 leaves the exit points out of the convergence test.
        sfrun r(4, {{1, 2}});
        r.bc.ISFCVG = 2;
        sfinit(r.dim, r.ctl, r.io, r.bc, r.fs);
        EXPECT_EQ(r.bc.SFCHK, 0);
    }
    {
        // No faces: nothing to check, nothing written, counters cleared.
        sfrun r(4, {});
        r.bc.ISFCVG = 1;
        r.bc.SFFLAG[1] = 3;
        sfinit(r.dim, r.ctl, r.io, r.bc, r.fs);
        EXPECT_EQ(r.bc.SFCHK, 0);
        EXPECT_EQ(r.flags(1), 0);
        EXPECT_EQ(r.log(), "");
    }
}

TEST(SeepageExitInit, FaceTablesThatDoNotFitStopTheRun) {
    sfrun r(4, {{1, 2}});
    r.bc.SFNOD(1, 2) = 9;  // beyond N = 4
    try {
        sfinit(r.dim, r.ctl, r.io, r.bc, r.fs);
        FAIL() << "no stop";
    } catch (const run_stop& s) {
        EXPECT_EQ(s.status, EXIT_ERROR);
        EXPECT_NE(s.message.find("entry 2 of face 1 is node 9"), std::string::npos) << s.message;
    }
}

// ---------------------------------------------------------------------------------------------
// Lowering.

// Exit point 3; outflow at positions 5 and 4, inflow at 3: both moves lower the exit point to 4
// and release position 3. The saturated head above the face (position 1) is an SFFLAG(3).
TEST(SeepageExitLower, InflowAtTheExitPointLowersByOneInBothModes) {
    for (mover move : {&extall, &extone}) {
        sfrun r(25, {kColumn});
        r.exit_point(1, 3);
        r.fluxes(1, {0.0, 0.0, 0.5, -2.0, -1.0});
        r.heads(1, {0.25, -0.1, 0.0, 0.0, 0.0});
        move(r.dim, r.ctl, r.io, r.bc, r.fs);

        const bool all = move == &extall;
        EXPECT_EQ(r.bc.IEXIT(1), 4) << (all ? "extall" : "extone");
        EXPECT_EQ(r.bc.SFQ(1, 3), 0.0);
        EXPECT_EQ(r.bc.SFQ(1, 4), -2.0);
        EXPECT_EQ(r.bc.SFQ(1, 5), -1.0);
        EXPECT_EQ(r.bc.IEXITP(1), 3);  // the previous exit point is the flow step's to move
        EXPECT_EQ(r.bc.SFNCVG, 1);
        EXPECT_EQ(r.head(1, 1), 0.25);  // lowering never changes heads
        EXPECT_EQ(r.flags(3), 1);
        EXPECT_EQ(r.log(),
                  " SFFLAG(3) AT SEEPAGE FACE    1 (TIME=1.00E+01, DELTAT=2.50E+00, ITER=   3)\n"
                  "           NON-NEGATIVE PRESSURE HEAD OF 2.500E-01 AT NODE   1 (NODE #     21)\n"
                  "           OCCURRED AT A POTENTIAL SEEPAGE FACE NODE DURING EXIT POINT LOWERING\n" +
                      listing("    3(    11)\n", "    4(     6)\n", true));
    }
}

// Exit point 2 with the inflow (a zero flux counts) at position 4 under outflow at 2 and 3:
// extall lowers past the lowest inflow node at once; extone sees outflow at its exit node and,
// with an unsaturated node above, stays.
TEST(SeepageExitLower, AllNodeMoveJumpsBelowTheLowestInflow) {
    sfrun a(25, {kColumn});
    a.exit_point(1, 2);
    a.fluxes(1, {0.0, -1.0, -1.0, 0.0, -3.0});
    a.heads(1, {-1.0, 0.0, 0.0, 0.0, 0.0});
    extall(a.dim, a.ctl, a.io, a.bc, a.fs);
    EXPECT_EQ(a.bc.IEXIT(1), 5);
    for (int i = 2; i <= 4; ++i) EXPECT_EQ(a.bc.SFQ(1, i), 0.0) << "position " << i;
    EXPECT_EQ(a.bc.SFQ(1, 5), -3.0);
    EXPECT_EQ(a.flags(1) + a.flags(2) + a.flags(3) + a.flags(4), 0);

    sfrun o(25, {kColumn});
    o.exit_point(1, 2);
    o.fluxes(1, {0.0, -1.0, -1.0, 0.0, -3.0});
    o.heads(1, {-1.0, 0.0, 0.0, 0.0, 0.0});
    extone(o.dim, o.ctl, o.io, o.bc, o.fs);
    EXPECT_EQ(o.bc.IEXIT(1), 2);
    EXPECT_EQ(o.bc.SFQ(1, 4), 0.0);
    EXPECT_EQ(o.bc.SFQ(1, 2), -1.0);
    EXPECT_EQ(o.bc.SFNCVG, 0);
    EXPECT_EQ(o.log(), listing("    2(    16)\n", "    2(    16)\n", false));
}

// Inflow at the bottom node: the face loses its exit point (SFFLAG(1)), then every saturated
// head above the old exit point is an SFFLAG(3), from the lowest up.
TEST(SeepageExitLower, InflowAtTheBottomLeavesNoExitPoint) {
    for (mover move : {&extall, &extone}) {
        sfrun r(25, {kColumn});
        r.exit_point(1, 5);
        r.fluxes(1, {0.0, 0.0, 0.0, 0.0, 1.0});
        r.heads(1, {-2.0, 0.0, -1.0, 12.5, 0.0});
        move(r.dim, r.ctl, r.io, r.bc, r.fs);
        EXPECT_EQ(r.bc.IEXIT(1), 6);
        EXPECT_EQ(r.bc.SFQ(1, 5), 0.0);
        EXPECT_EQ(r.flags(1), 1);
        EXPECT_EQ(r.flags(3), 2);
        EXPECT_EQ(r.log(),
                  " SFFLAG(1) AT SEEPAGE FACE    1 (TIME=1.00E+01, DELTAT=2.50E+00, ITER=   3)\n"
                  "           NO EXIT POINT; SEEPAGE FACE COMPLETELY UNSATURATED\n"
                  " SFFLAG(3) AT SEEPAGE FACE    1 (TIME=1.00E+01, DELTAT=2.50E+00, ITER=   3)\n"
                  "           NON-NEGATIVE PRESSURE HEAD OF 1.250E+01 AT NODE   4 (NODE #      6)\n"
                  "           OCCURRED AT A POTENTIAL SEEPAGE FACE NODE DURING EXIT POINT LOWERING\n"
                  " SFFLAG(3) AT SEEPAGE FACE    1 (TIME=1.00E+01, DELTAT=2.50E+00, ITER=   3)\n"
                  "           NON-NEGATIVE PRESSURE HEAD OF 0.000E+00 AT NODE   2 (NODE #     16)\n"
                  "           OCCURRED AT A POTENTIAL SEEPAGE FACE NODE DURING EXIT POINT LOWERING\n" +
                      listing("    5(     1)\n", "    6( -9999)\n", true));
    }
}

// ---------------------------------------------------------------------------------------------
// Raising.

// Exit point 4 under outflow, PNEW >= 0 at positions 3 and 2, < 0 at 1: extall raises to 2 and
// saturates 2 and 3; extone raises to 3 only and reports the saturated head left at 2.
TEST(SeepageExitRaise, SaturatedNodesAboveTheExitPoint) {
    sfrun a(25, {kColumn});
    a.exit_point(1, 4);
    a.fluxes(1, {0.0, 0.0, 0.0, -1.0, -2.0});
    a.heads(1, {-0.75, 1.25e-3, 0.5, 0.0, 0.0});
    extall(a.dim, a.ctl, a.io, a.bc, a.fs);
    EXPECT_EQ(a.bc.IEXIT(1), 2);
    EXPECT_EQ(a.head(1, 2), 0.0);
    EXPECT_EQ(a.head(1, 3), 0.0);
    EXPECT_EQ(a.head(1, 1), -0.75);
    EXPECT_EQ(a.bc.SFQ(1, 4), -1.0);  // raising leaves the fluxes alone
    EXPECT_EQ(a.bc.SFNCVG, 1);
    EXPECT_EQ(a.log(), listing("    4(     6)\n", "    2(    16)\n", true));

    sfrun o(25, {kColumn});
    o.exit_point(1, 4);
    o.fluxes(1, {0.0, 0.0, 0.0, -1.0, -2.0});
    o.heads(1, {-0.75, 1.25e-3, 0.5, 0.0, 0.0});
    extone(o.dim, o.ctl, o.io, o.bc, o.fs);
    EXPECT_EQ(o.bc.IEXIT(1), 3);
    EXPECT_EQ(o.head(1, 3), 0.0);
    EXPECT_EQ(o.head(1, 2), 1.25e-3);
    EXPECT_EQ(o.flags(4), 1);
    EXPECT_EQ(o.log(),
              " SFFLAG(4) AT SEEPAGE FACE    1 (TIME=1.00E+01, DELTAT=2.50E+00, ITER=   3)\n"
              "           NON-NEGATIVE PRESSURE HEAD OF 1.250E-03 AT NODE   2 (NODE #     16)\n"
              "           OCCURRED AT A POTENTIAL SEEPAGE FACE NODE DURING EXIT POINT RAISING\n" +
                  listing("    4(     6)\n", "    3(    11)\n", true));
}

// The raise stops at the first unsaturated node; saturated heads above it are SFFLAG(4) events,
// reported from the lowest up (positions 2 then 1), with the step's time, size and iteration.
TEST(SeepageExitRaise, SaturatedHeadsAboveAGapAreReported) {
    // Face 1 has no nodes.
    sfrun r(110, {std::vector<int>{}, std::vector<int>{101, 102, 103, 104, 105}});
    r.ctl.TIME = 0.0;
    r.ctl.DELTAT = 1.0e10;
    r.ctl.ITER = 12;
    r.exit_point(1, 1);
    r.exit_point(2, 5);
    r.fluxes(2, {0.0, 0.0, 0.0, 0.0, -1.0});
    r.heads(2, {0.0, 3.0, -0.1, 0.2, 0.0});
    extall(r.dim, r.ctl, r.io, r.bc, r.fs);
    EXPECT_EQ(r.bc.IEXIT(2), 4);
    EXPECT_EQ(r.head(2, 4), 0.0);
    EXPECT_EQ(r.head(2, 2), 3.0);
    EXPECT_EQ(r.bc.IEXIT(1), 1);  // the empty face stays as it was and raises no event
    EXPECT_EQ(r.flags(4), 2);
    EXPECT_EQ(r.flags(2), 0);
    const std::string flags =
        " SFFLAG(4) AT SEEPAGE FACE    2 (TIME=0.00E+00, DELTAT=1.00E+10, ITER=  12)\n"
        "           NON-NEGATIVE PRESSURE HEAD OF 3.000E+00 AT NODE   2 (NODE #    102)\n"
        "           OCCURRED AT A POTENTIAL SEEPAGE FACE NODE DURING EXIT POINT RAISING\n"
        " SFFLAG(4) AT SEEPAGE FACE    2 (TIME=0.00E+00, DELTAT=1.00E+10, ITER=  12)\n"
        "           NON-NEGATIVE PRESSURE HEAD OF 0.000E+00 AT NODE   1 (NODE #    101)\n"
        "           OCCURRED AT A POTENTIAL SEEPAGE FACE NODE DURING EXIT POINT RAISING\n";
    EXPECT_EQ(r.log().substr(0, flags.size()), flags);

    // extone from the same state stops at the same place (one node) and reports the same.
    sfrun o(110, {{101, 102, 103, 104, 105}});
    o.ctl.TIME = 0.0;
    o.ctl.DELTAT = 1.0e10;
    o.ctl.ITER = 12;
    o.exit_point(1, 5);
    o.fluxes(1, {0.0, 0.0, 0.0, 0.0, -1.0});
    o.heads(1, {0.0, 3.0, -0.1, 0.2, 0.0});
    extone(o.dim, o.ctl, o.io, o.bc, o.fs);
    EXPECT_EQ(o.bc.IEXIT(1), 4);
    std::string one = flags;
    for (std::size_t p = one.find("FACE    2"); p != std::string::npos; p = one.find("FACE    2"))
        one.replace(p, 9, "FACE    1");
    EXPECT_EQ(o.log().substr(0, one.size()), one);
}

// A face without exit point whose heads are all non-negative: extall saturates it to the top
// (SFFLAG(2)); extone takes the bottom node and reports the two above it.
TEST(SeepageExitRaise, FromNoExitPointToTheTop) {
    sfrun a(9, {{7, 4, 1}});
    a.exit_point(1, 4);
    a.heads(1, {0.5, 0.25, 0.125});
    extall(a.dim, a.ctl, a.io, a.bc, a.fs);
    EXPECT_EQ(a.bc.IEXIT(1), 1);
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(a.head(1, i), 0.0) << "position " << i;
    EXPECT_EQ(a.flags(2), 1);
    EXPECT_EQ(a.flags(4), 0);
    EXPECT_EQ(count_of(a.log(), "SFFLAG(2) AT SEEPAGE FACE    1"), 1);

    sfrun o(9, {{7, 4, 1}});
    o.exit_point(1, 4);
    o.heads(1, {0.5, 0.25, 0.125});
    extone(o.dim, o.ctl, o.io, o.bc, o.fs);
    EXPECT_EQ(o.bc.IEXIT(1), 3);
    EXPECT_EQ(o.head(1, 3), 0.0);
    EXPECT_EQ(o.head(1, 2), 0.25);
    EXPECT_EQ(o.flags(4), 2);
    EXPECT_EQ(o.flags(2), 0);
    const std::string log = o.log();
    ASSERT_NE(log.find("AT NODE   2 (NODE #      4)"), std::string::npos) << log;
    EXPECT_LT(log.find("AT NODE   2 (NODE #      4)"), log.find("AT NODE   1 (NODE #      7)"));
}

// Saturated from top to bottom under outflow: every call reports SFFLAG(2) and keeps exit point 1.
TEST(SeepageExitRaise, FullySaturatedFaceReportsEveryCall) {
    for (mover move : {&extall, &extone}) {
        sfrun r(25, {kColumn});
        r.exit_point(1, 1);
        r.fluxes(1, {-1.0, -1.0, -0.5, -0.5, -0.25});
        for (int call = 1; call <= 2; ++call) {
            r.clear_log();
            move(r.dim, r.ctl, r.io, r.bc, r.fs);
            EXPECT_EQ(r.bc.IEXIT(1), 1);
            EXPECT_EQ(r.bc.SFNCVG, 0);
            EXPECT_EQ(r.flags(2), call);
            EXPECT_EQ(r.log(),
                      " SFFLAG(2) AT SEEPAGE FACE    1 (TIME=1.00E+01, DELTAT=2.50E+00, ITER=   3)\n"
                      "           EXIT POINT AT TOP OF SEEPAGE FACE; SEEPAGE FACE COMPLETELY SATURATED\n" +
                          listing("    1(    21)\n", "    1(    21)\n", false));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The exit-point listing.

// Seven faces: six pairs to a line, faces without exit point shown with node -9999, and the
// count of faces that moved (gfortran wrote the pairs of all faces in one statement).
TEST(SeepageExitListing, SixPairsToALineAndTheMovedCount) {
    std::vector<std::vector<int>> faces;
    for (int k = 1; k <= 7; ++k) faces.push_back({k, k + 10, k + 20});
    sfrun r(30, faces);
    r.ctl.TIME = 3.0e5;
    r.ctl.DELTAT = 1.0e-3;
    r.ctl.ITER = 12;
    const int prev[] = {1, 3, 3, 4, 1, 2, 3};
    const int curr[] = {1, 2, 3, 4, 1, 2, 4};
    for (int k = 1; k <= 7; ++k) {
        r.bc.IEXITP(k) = prev[k - 1];
        r.bc.IEXIT(k) = curr[k - 1];
    }
    EXPECT_EQ(extcvg(r.dim, r.ctl, r.io, r.bc), 2);
    EXPECT_EQ(r.bc.SFNCVG, 2);
    EXPECT_EQ(r.log(),
              "\n"
              " (TIME=  3.0000E+05, DELTAT=  1.0000E-03, ITER=   12)\n"
              " EXIT POINTS PREV ITER: NODE (NODE #)\n"
              "    1(     1)    3(    22)    3(    23)    4( -9999)    1(     5)    2(    16)\n"
              "    3(    27)\n"
              " EXIT POINTS CURR ITER: NODE (NODE #)\n"
              "    1(     1)    2(    12)    3(    23)    4( -9999)    1(     5)    2(    16)\n"
              "    4( -9999)\n"
              " SEEPAGE FACE EXIT POINTS DID NOT CONVERGE\n"
              "\n");
}

// ---------------------------------------------------------------------------------------------
// The moves against their definitions, on many random faces.
//
// extall: when any saturated position draws water in (SFQ >= 0), the new exit point is just
// below the lowest such position; otherwise it is just below the lowest unsaturated (PNEW < 0)
// position above the old exit point, or 1 when there is none. extone: one node down when the
// exit node draws water in, else one node up when the node above has PNEW >= 0, else no move.
// A face left without exit point by lowering is an SFFLAG(1), a face saturated to the top by
// raising (or kept so) an SFFLAG(2); the listing counts the faces that moved.
TEST(SeepageExitMoves, AgreeWithTheirDefinitionsOnRandomFaces) {
    std::uint32_t seed = 12345u;
    auto next = [&seed]() { seed = seed * 1664525u + 1013904223u; return seed >> 8; };
    const int nsf = 40;
    std::vector<std::vector<int>> faces;
    int node = 0;
    for (int k = 1; k <= nsf; ++k) {
        const int n = 1 + (int)(next() % 8);
        std::vector<int> f;
        for (int i = 0; i < n; ++i) f.push_back(++node);
        faces.push_back(f);
    }
    for (int round = 0; round < 25; ++round) {
        sfrun a(node, faces), o(node, faces);
        std::vector<int> old(nsf + 1), want_all(nsf + 1), want_one(nsf + 1);
        int none_all = 0, top_all = 0, none_one = 0, top_one = 0;
        for (int k = 1; k <= nsf; ++k) {
            const int n = a.bc.NSFNUM(k);
            const int e = 1 + (int)(next() % (n + 1));
            old[k] = e;
            std::vector<double> q(n + 1, 0.0), p(n + 1, 0.0);
            for (int i = 1; i <= n; ++i) {
                const double qi = (next() % 4 == 0) ? (next() % 2 ? 0.5 : 0.0) : -1.0;
                const double pi = (next() % 3 == 0) ? -0.5 : (next() % 2 ? 0.25 : 0.0);
                q[i] = i >= e ? qi : 0.0;
                p[i] = i >= e ? 0.0 : pi;
            }
            for (sfrun* r : {&a, &o}) {
                r->exit_point(k, e);
                for (int i = 1; i <= n; ++i) {
                    r->bc.SFQ(k, i) = q[i];
                    r->fs.PNEW(r->bc.SFNOD(k, i)) = p[i];
                }
            }
            int lowest_in = 0;
            for (int i = e; i <= n; ++i) if (q[i] >= 0.0) lowest_in = i;
            if (lowest_in > 0) {
                want_all[k] = lowest_in + 1;
                none_all += lowest_in == n;
            } else {
                int dry = 0;
                for (int i = 1; i < e; ++i) if (p[i] < 0.0) dry = i;
                want_all[k] = dry + 1;
                top_all += dry == 0;
            }
            if (e <= n && q[e] >= 0.0) {
                want_one[k] = e + 1;
                none_one += e == n;
            } else {
                want_one[k] = (e > 1 && p[e - 1] >= 0.0) ? e - 1 : e;
                top_one += want_one[k] == 1;
            }
        }
        extall(a.dim, a.ctl, a.io, a.bc, a.fs);
        extone(o.dim, o.ctl, o.io, o.bc, o.fs);

        int moved_all = 0, moved_one = 0;
        for (int k = 1; k <= nsf; ++k) {
            const int e = old[k];
            EXPECT_EQ(a.bc.IEXIT(k), want_all[k]) << "round " << round << " face " << k;
            EXPECT_EQ(o.bc.IEXIT(k), want_one[k]) << "round " << round << " face " << k;
            // The nodes from a raised exit point up to the old one are saturated.
            for (int i = a.bc.IEXIT(k); i < e; ++i) EXPECT_EQ(a.head(k, i), 0.0);
            for (int i = o.bc.IEXIT(k); i < e; ++i) EXPECT_EQ(o.head(k, i), 0.0);
            // The nodes released by a lowering carry no flux.
            for (int i = e; i < a.bc.IEXIT(k) && i <= a.bc.NSFNUM(k); ++i) EXPECT_EQ(a.bc.SFQ(k, i), 0.0);
            moved_all += a.bc.IEXIT(k) != e;
            moved_one += o.bc.IEXIT(k) != e;
        }
        EXPECT_EQ(a.bc.SFNCVG, moved_all);
        EXPECT_EQ(o.bc.SFNCVG, moved_one);
        EXPECT_EQ(a.flags(1), none_all);
        EXPECT_EQ(a.flags(2), top_all);
        EXPECT_EQ(o.flags(1), none_one);
        EXPECT_EQ(o.flags(2), top_one);
        for (int f = 1; f <= 4; ++f) {
            EXPECT_EQ(count_of(a.log(), "SFFLAG(" + std::to_string(f) + ")"), a.flags(f));
            EXPECT_EQ(count_of(o.log(), "SFFLAG(" + std::to_string(f) + ")"), o.flags(f));
        }
    }
}
