// The program as a user runs it: the file set, the parameter echo, the stops of the opening
// phase and their exit statuses.
#include <gtest/gtest.h>


#include "e2e.h"

using e2e::deck;

namespace {

const char* const kTransportOutputs[] = {"cpl.out", "vpc.out", "conc.out", "surfc.out"};

std::string expected_parm_listing() {
    return e2e::slurp(e2e::fs::path(NEPORA_SOURCE_DIR) / "tests/cases/tiny/expected-parm.lst");
}

}  // namespace

TEST(RunFileSet, FlowRunOpensItsFilesWithHeaders) {
    deck d("tiny");
    // Transport inputs need not exist in a flow-only run.
    d.remove("transic");
    d.remove("solute");
    d.remove("transbc");
    d.write("cpl.out", "stale contents\n");
    auto r = d.run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    // This deck's unsaturated column loses water under KSLOPE 0: the warning, then the closing
    // summary on standard error.
    // Progress lines of a batch job first (see RunProgress), then the warning and the summary.
    auto err = e2e::lines_of(r.err);
    while (!err.empty() && err.front().rfind("nepora3d: time ", 0) == 0) err.erase(err.begin());
    ASSERT_EQ(err.size(), 3u) << r.err;
    EXPECT_EQ(err[0].substr(0, 52), "nepora3d: warning: the water budget does not close: ");
    EXPECT_EQ(err[1].substr(0, 32), "nepora3d: run completed at time ");
    EXPECT_EQ(err[2].substr(0, 27), "nepora3d: water budget: in ");
    EXPECT_EQ(d.read("conv.out").substr(0, 45), "  flow: nonlinear cnvrg info and error norms\n");
    EXPECT_EQ(d.read("mbal.out").substr(0, 26), "  flow: mass balance info\n");
    EXPECT_EQ(d.read("coords.out").substr(0, 68),
              "  X, Y, Z coordinate values\n  this file is printed only if IPRT1=3 \n");
    EXPECT_EQ(d.read("hgflag.out").substr(0, 31), "  flow: detailed HGFLAG output\n");
    EXPECT_EQ(d.read("sfflag.out").substr(0, 31), "  flow: detailed SFFLAG output\n");
    EXPECT_EQ(d.read("elvel.out").substr(0, 68),
              "  flow: elemental velocities\n  this file is printed only if IPRT=4 \n");
    EXPECT_EQ(d.read("view1.out"), "");
    EXPECT_EQ(d.read("terminal.log").substr(0, 16), "  screen output\n");
    // A transport file of a flow-only run is neither created nor touched.
    EXPECT_EQ(d.read("cpl.out"), "stale contents\n");
    for (const char* f : kTransportOutputs) {
        if (std::string(f) != "cpl.out") {
            EXPECT_FALSE(d.exists(f)) << f;
        }
    }
}

TEST(RunFileSet, CoupledRunOpensTransportFiles) {
    deck d("tiny");
    d.set_line("parm", 2, "1 1 F");
    auto r = d.run();
    EXPECT_EQ(d.read("mbal.out").substr(0, 36), "  flow & transp.: mass balance info\n");
    EXPECT_EQ(d.read("cpl.out").substr(0, 40), "  flow & transp syst.: iterations' info\n");
    EXPECT_EQ(d.read("vpc.out").substr(0, 37), "  transp: vert. prof. (conc.) output\n");
    EXPECT_EQ(d.read("surfc.out").substr(0, 33), "  transp: surface concentrations\n");
    EXPECT_TRUE(d.exists("conc.out"));
}

TEST(RunFileSet, MissingFilesStopWithTheirNames) {
    {
        deck d("tiny");
        d.remove("nepora3d.fnames");
        auto r = d.run();
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("nepora3d: cannot open the fnames file 'nepora3d.fnames'"), std::string::npos) << r.err;
    }
    {
        deck d("tiny");
        d.remove("soil");
        auto r = d.run();
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("cannot open the soil file 'soil'"), std::string::npos) << r.err;
    }
    {
        deck d("tiny");
        d.set_line("parm", 2, "1 2 F");  // transport inputs are needed now
        d.remove("solute");
        auto r = d.run();
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("cannot open the solute file 'solute'"), std::string::npos) << r.err;
    }
    {
        deck d("tiny");
        auto names = e2e::lines_of(d.read("nepora3d.fnames"));
        std::string cut;
        for (int i = 0; i < 30; ++i) cut += names[i] + "\n";
        d.write("nepora3d.fnames", cut);
        auto r = d.run();
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("fnames file 'nepora3d.fnames': end of file after line 30"), std::string::npos) << r.err;
    }
}

TEST(RunFileSet, NamesAreCutToTheirWidth) {
    // 45 characters: the first 40 form the name in the main program, the first 30 in the second.
    const std::string name45 = "parameters_of_the_run_with_a_long_name.txtXYZ";
    deck d("tiny");
    e2e::fs::rename(d.path("parm"), d.path(name45.substr(0, 40)));
    d.set_line("nepora3d.fnames", 1, name45);
    EXPECT_EQ(d.run().status, 0);

    deck a("tiny");
    e2e::fs::rename(a.path("parm"), a.path(name45.substr(0, 30)));
    a.set_line("nepora3d.fnames", 1, name45);
    EXPECT_EQ(a.run(NEPORA_ALT_BIN).status, 0);
    EXPECT_EQ(a.run(NEPORA_BIN).status, 1);  // the 40-character name does not exist
}

TEST(RunParameters, ListingMatchesTheFortranRendering) {
    deck d("tiny");
    auto r = d.run();
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string want = expected_parm_listing();
    EXPECT_EQ(d.read("out.lst").substr(0, want.size()), want);
    // The storage phase writes one empty line to standard output on creation and one on release.
    EXPECT_EQ(r.out, "\n\n");
}

TEST(RunParameters, SpecifiedStops) {
    struct stop_case {
        int line;
        const char* text;
        const char* stdout_text;
        bool in_listing;
    };
    const stop_case cases[] = {
        {16, "1 1 2 0.005 1.0",
         " STOP: bad first value of TIMPRT list\n TIMPRT(1) must be .ge. TIMEP+DELTAT\n", false},
        {17, "1 5", " STOP: bad nodal values for NODVP list\n NODVP(i) must be .ge. 1 and .le. NNOD\n", true},
        {17, "1 0", " STOP: bad nodal values for NODVP list\n NODVP(i) must be .ge. 1 and .le. NNOD\n", true},
        {2, "3 0 F", "\n\n\n     STOP: BAD VALUE FOR IFLOW  3\n", true},
        {2, "1 7 F", "\n\n\n     STOP: BAD VALUE OF ITRANS  7\n", true},
    };
    for (const auto& c : cases) {
        deck d("tiny");
        d.set_line("parm", c.line, c.text);
        auto r = d.run();
        EXPECT_EQ(r.status, 1) << c.text;
        EXPECT_EQ(r.out, std::string("\n") + c.stdout_text) << c.text;
        const std::string lst = d.read("out.lst");
        // The main listing holds the message exactly when the stop writes it there.
        const std::string first = e2e::lines_of(c.stdout_text).back();
        EXPECT_EQ(lst.find(first) != std::string::npos, c.in_listing) << c.text;
    }
}

TEST(RunParameters, OrderOfChecksAndAcceptedEdges) {
    {   // TIMPRT(1) equal to TIMEP + DELTAT is accepted.
        deck d("tiny");
        d.set_line("parm", 16, "1 1 2 0.01 1.0");
        EXPECT_EQ(d.run().status, 0);
    }
    {   // A bad TIMPRT list is reported before a bad NODVP list and a bad IFLOW.
        deck d("tiny");
        d.set_line("parm", 2, "3 0 F");
        d.set_line("parm", 16, "1 1 1 0.0");
        d.set_line("parm", 17, "1 99");
        auto r = d.run();
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find("TIMPRT(1) must be"), std::string::npos);
        EXPECT_EQ(r.out.find("NODVP"), std::string::npos);
    }
    {   // NPRT = 0 and NR = 0: shorter records, no list record 19.
        deck d("tiny");
        d.set_line("parm", 16, "1 1 0");
        d.set_line("parm", 18, "0");
        d.set_line("parm", 19, "");
        auto r = d.run();
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(d.read("out.lst").find("NR      (# OF NODES FOR PARTIAL OUTPUT)   =      0"), std::string::npos);
    }
    {   // The OSC_FLAG warning with Newton does not stop the run.
        deck d("tiny");
        d.set_line("parm", 2, "2 0 T");
        auto r = d.run();
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string lst = d.read("out.lst");
        EXPECT_NE(lst.find("  WARNING: bad OSC_FLAG  T\n  with flow Newton scheme OSC_FLAG = .FALSE.\n"), std::string::npos);
        EXPECT_NE(lst.find("          NEWTON SCHEME FOR FLOW EQUATION\n"), std::string::npos);
    }
}

TEST(RunParameters, UnsoundListsAreRefused) {
    struct refused {
        int line;
        const char* text;
        const char* message;
    };
    const refused cases[] = {
        {16, "1 1 3 0.5 0.5 1.0", " TIMPRT(2) = 0.5"},
        {16, "1 1 -1", " NPRT = -1"},
        {16, "1 4 0", " ISEC = 4"},
        {17, "-2", " NUMVP = -2"},
        {18, "-1", " NR = -1"},
        {19, "1 13", " IPOUT(2) = 13"},
        {11, "-6 1 0.7", " ISOLV = -6"},
        {12, "-9 0 1.0", " ISOLVC = -9"},
        // Values no scheme can use.
        {7, "1.5 1 1.0 1", " TETAF = 1.5"},
        {10, "0 0.0", " ERNLMX = 0"},
        {13, "0 1.0e-12 500 1.0e-12", " ITCGSY = 0"},
        {15, "0.0 0.5 0.0 0.5", " DTMAGM = 0.5"},
        {15, "0.0 1.5 0.0 1.5", " DTREDM = 1.5"},
    };
    for (const auto& c : cases) {
        deck d("tiny");
        d.set_line("parm", c.line, c.text);
        auto r = d.run();
        EXPECT_EQ(r.status, 1) << c.text;
        EXPECT_NE(r.out.find(" STOP: "), std::string::npos) << c.text << "\n" << r.out;
        EXPECT_NE(r.out.find(c.message), std::string::npos) << c.text << "\n" << r.out;
        // Standard error names the file, the line and the value.
        const std::string where = "parameter file 'parm' line " + std::to_string(c.line) + ":";
        EXPECT_NE(r.err.find(where + c.message), std::string::npos) << c.text << "\n" << r.err;
    }
}

TEST(RunStorage, SizeChecksStopInOrder) {
    struct sized {
        const char* file;
        int line;
        const char* text;
        const char* message;
    };
    const sized cases[] = {
        {"grid", 2, "0 2", " error: nnod <= 0 !!!\n"},
        {"grid", 1, "1 0 30", " error: nstr <= 0 !!!\n"},
        {"grid", 2, "4 0", " error: nt <= 0 !!!\n"},
        {"grid", 1, "0 2 30", "\n error: nzone <= 0 !!!\n"},
        {"grid", 1, "1 2 0", "\n error: n1 * n <= 0 !!!\n"},
        {"parm", 8, "0 3 8 1.0d-4", "\n error: itmx <= 0 !!!\n"},
        {"parm", 9, "0 3 8 1.0d-4", "\n error: itmxc <= 0 !!!\n"},
    };
    for (const auto& c : cases) {
        deck d("tiny");
        d.set_line(c.file, c.line, c.text);
        auto r = d.run();
        EXPECT_EQ(r.status, 1) << c.text;
        EXPECT_EQ(r.out, c.message) << c.text;
    }
}

TEST(RunInput, ReadErrorsNameFileLineAndValue) {
    deck d("tiny");
    d.set_line("parm", 8, "10 3 eight 1.0d-4");
    auto r = d.run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "nepora3d: parameter file 'parm' line 8: expected an integer, found 'eight'\n"
                     "nepora3d: stopped on an error before the first step was completed; wall time " +
                         r.err.substr(r.err.rfind(' ', r.err.size() - 4) + 1));

    // A near miss of UNITS after the last record would rename every column: it stops.
    deck u("tiny");
    u.set_line("parm", 21, "Unit m h");
    r = u.run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(e2e::lines_of(r.err)[0], "nepora3d: parameter file 'parm' line 21: 'Unit' is not a keyword: did you mean UNITS?");

    deck g("tiny");
    g.write("grid", "1 2 30\n");
    r = g.run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(e2e::lines_of(r.err)[0], "nepora3d: grid file 'grid': end of file after line 1, expected an integer");
}

TEST(RunAlt, SecondProgramRunsAndDiffersInItsTexts) {
    deck d("tiny");
    d.set_line("parm", 2, "2 0 T");
    auto r = d.run(NEPORA_ALT_BIN);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(d.read("out.lst").find("  WARNING: bad OSC_FLAG  T  with Newton scheme for flow  OSC_FLAG is assumend .FALSE.\n"),
              std::string::npos);
    EXPECT_EQ(d.read("conv.out").substr(0, 35), "  flow: cnvrg info and error norms\n");
    EXPECT_EQ(d.read("coords.out").substr(0, 28), "  X, Y, Z coordinate values\n");
    EXPECT_EQ(d.read("coords.out").find("printed only"), std::string::npos);

    deck s("tiny");
    s.set_line("parm", 2, "4 0 F");
    r = s.run(NEPORA_ALT_BIN);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("     STOP: WRONG VALUE FOR IFLOW  4\n"), std::string::npos);
}

TEST(RunInput, MistakesStopBeforeTheFirstStepNamingFileLineAndValue) {
    struct mistake {
        const char* file;
        int line;
        const char* text;
        const char* message;
        int grid_line = 0;  // and a line of the grid file
        const char* grid_text = nullptr;
    };
    const mistake cases[] = {
        {"parm", 14, "0.0 -0.01 1.0e-5 0.25 24.0",
         "parameter file 'parm' line 14: DELTAT = -0.01: the first step must be positive (1e10 or more "
         "asks for a steady state)"},
        {"parm", 14, "0.0 0.01 0 0.25 24.0", "parameter file 'parm' line 14: DTMIN = 0: the smallest step must be positive"},
        {"parm", 14, "0.0 0.01 1.0e-3 1.0e-4 24.0",
         "parameter file 'parm' line 14: DTMAX = 0.0001 is smaller than DTMIN = 0.001"},
        // A slash ends a list before its count: nothing is sized from the count.
        {"parm", 16, "2 0 2147483647 2.0 12.0 /",
         "parameter file 'parm' line 16: NPRT = 2147483647, but a slash ends its list after 2 values"},
        {"parm", 14, "1.0 0.01 1.0e-5 0.25 0.5",
         "parameter file 'parm' line 14: TMAX = 0.5 is not after TIMEP = 1: the run would end before it starts"},
        // The last record of the atmospheric series has its time but no rate.
        {"atmbc", 10, "30.0",
         "atmospheric boundary-condition file 'atmbc' line 10: the record of time 30 needs 1 value, but the "
         "file ends after 0 values (line 10)"},
        // A count one larger than its list: the count after it is taken into the list.
        {"nansfbc", 3, "5", "flow boundary-condition file 'nansfbc' line 3: NDIRC = 5 takes the file's last value, "
                            "and NQ is missing after its list: is the count larger than the list?"},
        // A list that ends with the file.
        {"nansfbc", 5, "2", "flow boundary-condition file 'nansfbc' line 5: NQ = 2, but the file ends after 0 "
                            "values (line 5)"},
        {"grid", 4, "0.05 0.05 0.05 0.05 0.05 0.05 0.05 0.05 0.05 0.06",
         "grid file 'grid' line 5: the 20 ZRATIO values sum to 1.0100000000000005, not 1 (within 1e-10)"},
        // Sizes beyond the data are refused before anything is created from them.
        {"grid", 1, "3 20 30",
         "grid file 'grid': NZONE = 3 and NSTR = 20 need 316 values in the soil file 'soil', which holds 116"},
        {"grid", 2, "1000000 2",
         "grid file 'grid' line 2: NNOD = 1000000, NTRI = 2 and NSTR = 20 need at least 2000032 values after "
         "this line, and the file holds 40"},
        // A slash stands for none of the mesh data: the values after it count as well, and
        // still fall short. In the soil file each record is a statement whatever its slashes.
        {"grid", 3, "0 0 2.0 / 7 7 7 7",
         "grid file 'grid' line 2: NNOD = 4, NTRI = 100000 and NSTR = 20 need at least 400032 values "
         "after this line, and the file holds 44",
         2, "4 100000"},
        {"soil", 1, "-2.0 /", "grid file 'grid': NZONE = 3 and NSTR = 20 need 67 records in the soil file "
                              "'soil', which holds 27",
         1, "3 20 30"},
        {"grid", 1, "1 20 5",
         "grid file 'grid': N1 = 5 is too small for this mesh (row 1, element 4): its symmetric (Picard) "
         "pattern needs N1 = 6, one more than the largest number of nodes joined to one node with a number "
         "not below its own, the node itself included"},
    };
    for (const mistake& m : cases) {
        deck d("column");
        d.set_line(m.file, m.line, m.text);
        if (m.grid_text != nullptr) d.set_line("grid", m.grid_line, m.grid_text);
        const auto r = d.run();
        EXPECT_EQ(r.status, 1) << m.message;
        const auto err = e2e::lines_of(r.err);
        ASSERT_EQ(err.size(), 2u) << r.err;
        EXPECT_EQ(err[0], std::string("nepora3d: ") + m.message);
        EXPECT_EQ(err[1].rfind("nepora3d: stopped on an error before the first step was completed", 0), 0u);
        EXPECT_EQ(d.read("out.lst").find("TIME STEP:"), std::string::npos) << m.message;
    }
}

TEST(RunFileSet, NoOutputOverwritesAnInputAndADirectoryIsNoInput) {
    {
        deck d("tiny");
        const std::string parm = d.read("parm");
        d.set_line("nepora3d.fnames", 13, "parm");  // the main listing named like the parameter file
        const auto r = d.run();
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(e2e::lines_of(r.err)[0],
                  "nepora3d: 'parm' is named on line 13 of nepora3d.fnames as an output, and the parameter "
                  "file of line 1 is the same file: the output would overwrite it");
        EXPECT_EQ(d.read("parm"), parm);
    }
    {
        deck d("tiny");
        d.set_line("nepora3d.fnames", 27, "heads.out");  // two outputs, one file
        EXPECT_EQ(e2e::lines_of(d.run().err)[0],
                  "nepora3d: 'heads.out' is named on line 27 of nepora3d.fnames as an output, and the output "
                  "of line 24 is the same file: the output would overwrite it");
    }
    {
        deck d("tiny");
        e2e::fs::create_directory(d.path("atmdir"));
        d.set_line("nepora3d.fnames", 6, "atmdir");
        EXPECT_EQ(e2e::lines_of(d.run().err)[0],
                  "nepora3d: the atmospheric boundary-condition file 'atmdir' named on line 6 of "
                  "nepora3d.fnames is a directory");
    }
}

// A step cut onto an output time leaves a remainder of about 1e-14; with ITMX1 = 1 the step never
// grows, and it would keep that size for ever. Raised to DTMIN, the run ends: 100 steps of
// 0.01 to time 1 (the cut one among them, and its remainder), then 1000 steps of DTMIN = 1e-3.
TEST(RunTimeControl, AStepCutOntoAnOutputTimeThatCannotGrowStillEnds) {
    deck d("tiny");
    d.set_line("parm", 8, "10 1 8 1.0d-4");
    d.set_line("parm", 14, "0.0 0.01 1.0e-3 0.5 2.0");
    auto r = d.run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("run completed at time 2 after 1101 steps"), std::string::npos) << r.err;
}
