#include "run/parm.h"

#include <cctype>
#include <cstdio>
#include <sstream>
#include <string>

#include "base/format.h"
#include "base/procs.h"
#include "base/stop.h"
#include "run/fileset.h"
#include "run/nlsection.h"
#include "solvers/petsc.h"
#include "soil/roots.h"
#include "surface/overland.h"

namespace nep {

namespace {

// Where in the parameter file, for standard error: "parameter file 'parm' line 19: ".
std::string at(const iofiles& io, long line) {
    return io.IN[5].role() + " '" + io.IN[5].name() + "' line " + std::to_string(line) + ": ";
}

// A stop of the parameter file: the lines go to the main listing (when asked) and then to
// standard output, the file, line, value and valid range (detail) to standard error, and the
// run ends.
[[noreturn]] void parm_stop(iofiles& io, bool listing, std::initializer_list<std::string> lines,
                            const std::string& detail) {
    if (listing) {
        for (const auto& l : lines) wfree(io.out(6), l);
    }
    for (const auto& l : lines) wfree(io.STDOUT, l);
    input_error(detail);
}

[[noreturn]] void bad_scheme(iofiles& io, const char* text, int value, const std::string& detail) {
    wfmt(io.out(6), "(///,5x,A,I3)", text, value);
    wfmt(io.STDOUT, "(///,5x,A,I3)", text, value);
    input_error(detail);
}

std::string entry(const char* name, int i, const std::string& value) {
    return std::string(name) + "(" + std::to_string(i) + ") = " + value;
}

std::string real_text(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

// The time control of a transient run (DELTAT below 1e10; at or above it the run solves a steady
// state and the other values are not used): a step size that is not positive, a bound below the
// other or an end time not after the start would step backwards, by zero, or for ever.
void check_time_control(iofiles& io, const control& ctl, long line) {
    if (!(ctl.DELTAT < 1.0e10)) return;
    std::string what;
    if (!(ctl.DELTAT > 0.0)) {
        what = "DELTAT = " + real_text(ctl.DELTAT) +
               ": the first step must be positive (1e10 or more asks for a steady state)";
    } else if (!(ctl.DTMIN > 0.0)) {
        what = "DTMIN = " + real_text(ctl.DTMIN) + ": the smallest step must be positive";
    } else if (!(ctl.DTMAX >= ctl.DTMIN)) {
        what = "DTMAX = " + real_text(ctl.DTMAX) + " is smaller than DTMIN = " + real_text(ctl.DTMIN);
    } else if (!(ctl.TMAX > ctl.TIMEP)) {
        what = "TMAX = " + real_text(ctl.TMAX) + " is not after TIMEP = " + real_text(ctl.TIMEP) +
               ": the run would end before it starts";
    } else {
        return;
    }
    const std::string detail = io.in(5).role() + " '" + io.in(5).name() + "' line " +
                               std::to_string(line) + ": " + what;
    wfree(io.out(6), "STOP: bad time control (TIMEP DELTAT DTMIN DTMAX TMAX)");
    wfree(io.out(6), detail);
    wfree(io.STDOUT, "STOP: bad time control (TIMEP DELTAT DTMIN DTMAX TMAX)");
    input_error(detail);
}

// A value outside the range where the scheme means anything: the rule and the value to the
// main listing, and with the file and line to standard error.
void check_range(iofiles& io, long line, bool ok, const std::string& what) {
    if (!ok) parm_stop(io, true, {" STOP: " + what}, at(io, line) + what);
}

std::string value_is(const char* name, double v) { return std::string(name) + " = " + real_text(v); }

// An optional record after the last one, "UNITS m d": the units of length and time of the deck,
// which name the columns of the tables and the arrays of the ParaView files. Other lines after
// the last record are notes, left alone as they always were, but a first word that misses UNITS
// by a letter or two stops the run (read as a note, it would rename every column).
void read_units(iofiles& io, freader& fr, surface& sf, roots& rt, control& ctl) {
    static const char* const kLength[] = {"m", "cm", "mm", "km", "ft"};
    static const char* const kTime[] = {"s", "min", "h", "d", "y"};
    auto known = [](const std::string& u, const auto& list) {
        for (const char* k : list)
            if (u == k) return true;
        return false;
    };
    while (!fr.at_end()) {
        const long line = fr.line();
        std::istringstream in(fr.read_text(0));
        std::string key, length, time, more;
        if (!(in >> key)) continue;
        std::string word = key;
        for (char& c : key) c = (char)std::toupper((unsigned char)c);
        if (surface_keyword(key)) {
            surface_read(sf, key, in, line, at(io, line));
            continue;
        }
        if (roots_keyword(key)) {
            roots_read(rt, key, in, line, at(io, line));
            continue;
        }
        if (nonlinear_keyword(key)) {
            nonlinear_read(ctl, key, in, at(io, line));
            continue;
        }
        if (key != "UNITS") {
            const char* k = near_keyword(word, {"UNITS", "SURFACE", "MANNING", "DEPRESSION", "OUTLET",
                                                 "ROOTS", "ROOTDEPTH", "ROOTSHAPE", "FEDDES", "FORCING",
                                                 "STEPCONTROL", "LINESEARCH"});
            if (k != nullptr) keyword_miss(fr, line, word, k);
            continue;
        }
        in >> length >> time;
        if (length.empty() || time.empty() || (in >> more) || !known(length, kLength) ||
            !known(time, kTime)) {
            input_error(at(io, line) + "UNITS takes a unit of length (m, cm, mm, km, ft) and one of "
                        "time (s, min, h, d, y), as 'UNITS m d'");
        }
        io.EXTRA.UNITS = true;
        io.EXTRA.LUNIT = length;
        io.EXTRA.TUNIT = time;
    }
}

}  // namespace

void parallel_selectors(control& ctl, const iofiles& io, long isolv_line, long isolvc_line) {
    const int procs = proc_count();
    auto take = [&](const char* name, int& selector, int file, long line, const char* what) {
        const int run = run_selector(file, procs);
        if (run == selector || run == file) {
            selector = run;
            return;
        }
        selector = run;
        if (proc_rank() != 0) return;
        std::fprintf(stderr, "%s: %s%s = %d selects a solver that runs on one process only: on %d processes "
                     "the PETSc selector %s = %d solves the %s equation in its place (docs/parallel.md)\n",
                     io.PROGNAME, line > 0 ? at(io, line).c_str() : "", name, file, procs, name, run, what);
    };
    take("ISOLV", ctl.ISOLV, ctl.ISOLVD, isolv_line, "flow");
    if (ctl.ITRANS != 0) take("ISOLVC", ctl.ISOLVC, ctl.ISOLVCD, isolvc_line, "transport");
}

void read_parm(dimensions& dim, control& ctl, iofiles& io, bcdata& bc, soil& sl, surface& sf) {
    freader& fr = io.in(5);
    ounit& lst = io.out(6);
    const bool alt = ctl.DIALECT == dialect::ALT;

    fr.read(io.IPRT1);
    fr.read(ctl.IFLOW, ctl.ITRANS, ctl.OSC_FLAG);
    const long scheme_line = fr.value_line();
    if (ctl.OSC_FLAG && ctl.IFLOW >= 2) {
        if (alt) {
            wfree(lst, " WARNING: bad OSC_FLAG ", ctl.OSC_FLAG, " with Newton scheme for flow ",
                  " OSC_FLAG is assumend .FALSE.");
        } else {
            wfree(lst, " WARNING: bad OSC_FLAG ", ctl.OSC_FLAG);
            wfree(lst, " with flow Newton scheme OSC_FLAG = .FALSE.");
        }
    }
    fr.read(sl.KSLOPE, sl.TOLKSL);
    fr.read(sl.PKRL, sl.PKRR, sl.PSEL, sl.PSER);
    fr.read(sl.PDSE1L, sl.PDSE1R, sl.PDSE2L, sl.PDSE2R);
    fr.read(bc.ISFONE, bc.ISFCVG);
    fr.read(ctl.TETAF, ctl.LUMP, ctl.TETAC, ctl.LUMPC);
    const long teta_line = fr.value_line();
    fr.read(dim.ITMX, ctl.ITMX1, ctl.ITMX2, ctl.TOLNL);
    fr.read(dim.ITMXC, ctl.ITMXC1, ctl.ITMXC2, ctl.TOLNLC);
    fr.read(ctl.L2NORM, ctl.ERNLMX);
    const long ernlmx_line = fr.value_line();
    fr.read(ctl.ISOLV, ctl.IRELAX, ctl.OMEGA);
    const long isolv_line = fr.value_line();
    fr.read(ctl.ISOLVC, ctl.IRELAXC, ctl.OMEGAC);
    const long isolvc_line = fr.value_line();
    fr.read(ctl.ITCGSY, ctl.TLCGSY, ctl.ITCGNS, ctl.TLCGNS);
    const long cg_line = fr.value_line();
    fr.begin();
    fr.get(ctl.TIMEP);
    fr.get(ctl.DELTAT);
    fr.get(ctl.DTMIN);
    fr.get(ctl.DTMAX);
    fr.get(ctl.TMAX);
    check_time_control(io, ctl, fr.line());
    fr.finish();
    fr.read(ctl.DTMAGA, ctl.DTMAGM, ctl.DTREDS, ctl.DTREDM);
    const long dtmag_line = fr.value_line();

    // Values no run can use: a time weight outside 0..1 makes the scheme unstable or undefined,
    // a largest error or a solver tolerance that is not positive can never be met, a growth
    // that shrinks the step or a reduction that grows it (or makes it negative) stops the run
    // later with a step that does not advance.
    check_range(io, teta_line, ctl.TETAF >= 0.0 && ctl.TETAF <= 1.0,
                value_is("TETAF", ctl.TETAF) + " is outside 0..1 (1 backward Euler, 0.5 Crank-Nicolson)");
    check_range(io, teta_line, ctl.ITRANS == 0 || (ctl.TETAC >= 0.0 && ctl.TETAC <= 1.0),
                value_is("TETAC", ctl.TETAC) + " is outside 0..1 (1 backward Euler, 0.5 Crank-Nicolson)");
    check_range(io, ernlmx_line, ctl.ERNLMX > 0.0,
                value_is("ERNLMX", ctl.ERNLMX) + " is not positive: every iteration would exceed it");
    check_range(io, isolv_line, ctl.IRELAX != 1 || ctl.OMEGA > 0.0,
                value_is("OMEGA", ctl.OMEGA) + " is not positive: the relaxed iteration would not move");
    if (ctl.IFLOW == 1) {
        check_range(io, cg_line, ctl.ITCGSY >= 1,
                    "ITCGSY = " + std::to_string(ctl.ITCGSY) + ": the conjugate gradients need 1 or more iterations");
        check_range(io, cg_line, ctl.TLCGSY > 0.0,
                    value_is("TLCGSY", ctl.TLCGSY) + " is not positive: the conjugate gradients could never meet it");
    }
    // The file's selectors, and those the run solves with (on several processes PETSc's in
    // place of a solver of one process, which the direct solver's decks may leave without
    // iteration limits).
    ctl.ISOLVD = ctl.ISOLV;
    ctl.ISOLVCD = ctl.ISOLVC;
    const int procs = proc_count();
    const int flow_sel = run_selector(ctl.ISOLV, procs), tran_sel = run_selector(ctl.ISOLVC, procs);
    if ((ctl.IFLOW == 2 && flow_sel != 3) || (ctl.ITRANS != 0 && tran_sel != 3)) {
        const bool direct = (ctl.IFLOW == 2 && ctl.ISOLV == 3) || (ctl.ITRANS != 0 && ctl.ISOLVC == 3);
        const std::string why =
            direct ? " (the direct solver selected runs on one process only: on " + std::to_string(procs) +
                         " processes the iterations of the PETSc selector -10 take its place)"
                   : std::string();
        check_range(io, cg_line, ctl.ITCGNS >= 1,
                    "ITCGNS = " + std::to_string(ctl.ITCGNS) + ": the nonsymmetric solvers need 1 or more iterations" + why);
        check_range(io, cg_line, ctl.TLCGNS > 0.0,
                    value_is("TLCGNS", ctl.TLCGNS) + " is not positive: the nonsymmetric solvers could never meet it" + why);
    }
    if (ctl.DELTAT < 1.0e10) {
        check_range(io, dtmag_line, ctl.DTMAGM >= 1.0 && ctl.DTMAGA >= 0.0,
                    value_is("DTMAGM", ctl.DTMAGM) + " and " + value_is("DTMAGA", ctl.DTMAGA) +
                        ": a growth of the step (DELTAT*DTMAGM + DTMAGA) must not shrink it (DTMAGM 1 or more, DTMAGA 0 or more)");
        check_range(io, dtmag_line, ctl.DTREDM >= 0.0 && ctl.DTREDM <= 1.0 && ctl.DTREDS >= 0.0,
                    value_is("DTREDM", ctl.DTREDM) + " and " + value_is("DTREDS", ctl.DTREDS) +
                        ": a reduction of the step (DELTAT*DTREDM - DTREDS) must not grow it (DTREDM 0..1, DTREDS 0 or more)");
    }
    fr.begin();
    fr.get(io.IPRT);
    fr.get(io.ISEC);
    fr.get(dim.NPRT);
    // The output times were counted by the first pass; the count read now is the same.
    for (long i = 1; i <= io.TIMPRT.size() && i <= dim.NPRT; ++i) fr.get(io.TIMPRT(i));
    const long prt_line = fr.value_line();
    fr.finish();

    if (dim.NPRT >= 1 && io.TIMPRT(1) < ctl.TIMEP + ctl.DELTAT) {
        parm_stop(io, false, {"STOP: bad first value of TIMPRT list", "TIMPRT(1) must be .ge. TIMEP+DELTAT"},
                  at(io, prt_line) + "TIMPRT(1) = " + real_text(io.TIMPRT(1)) +
                      " is before the end of the first step, TIMEP + DELTAT = " +
                      real_text(ctl.TIMEP + ctl.DELTAT));
    }
    // Lists and selectors that would make a later step meaningless or unsafe are refused here.
    if (dim.NPRT < 0) {
        parm_stop(io, true, {"STOP: bad value of NPRT", "NPRT must be .ge. 0", "NPRT = " + std::to_string(dim.NPRT)},
                  at(io, prt_line) + "NPRT = " + std::to_string(dim.NPRT) + " is negative (0 or more output times)");
    }
    for (int i = 2; i <= dim.NPRT; ++i) {
        if (!(io.TIMPRT(i) > io.TIMPRT(i - 1))) {
            parm_stop(io, false, {"STOP: TIMPRT list not in ascending order",
                                  "TIMPRT(i) must be .gt. TIMPRT(i-1)",
                                  entry("TIMPRT", i, real_text(io.TIMPRT(i)))},
                      at(io, prt_line) + entry("TIMPRT", i, real_text(io.TIMPRT(i))) +
                          " is not after TIMPRT(" + std::to_string(i - 1) + ") = " +
                          real_text(io.TIMPRT(i - 1)) + ": the output times must increase");
        }
    }
    if (io.ISEC < 0 || io.ISEC > dim.NSTR + 1) {
        parm_stop(io, true, {"STOP: bad value of ISEC", "ISEC must be .ge. 0 and .le. NSTR+1",
                             "ISEC = " + std::to_string(io.ISEC)},
                  at(io, prt_line) + "ISEC = " + std::to_string(io.ISEC) + " is outside 0..NSTR+1 = " +
                      std::to_string(dim.NSTR + 1));
    }
    if (ctl.ISOLV < -5 && !petsc_solver(ctl.ISOLV)) {
        parm_stop(io, true, {"STOP: bad value of ISOLV", "ISOLV must be .ge. -5, or -10 to -14 (PETSc)",
                             "ISOLV = " + std::to_string(ctl.ISOLV)},
                  at(io, isolv_line) + "ISOLV = " + std::to_string(ctl.ISOLV) +
                      " is below -5 and not a PETSc selector (-10 to -14)");
    }
    if (ctl.ISOLVC < -5 && !petsc_solver(ctl.ISOLVC)) {
        parm_stop(io, true, {"STOP: bad value of ISOLVC", "ISOLVC must be .ge. -5, or -10 to -14 (PETSc)",
                             "ISOLVC = " + std::to_string(ctl.ISOLVC)},
                  at(io, isolvc_line) + "ISOLVC = " + std::to_string(ctl.ISOLVC) +
                      " is below -5 and not a PETSc selector (-10 to -14)");
    }
    fr.begin();
    fr.get(dim.NUMVP);
    for (long i = 1; i <= io.NODVP.size() && i <= dim.NUMVP; ++i) fr.get(io.NODVP(i));
    const long vp_line = fr.value_line();
    fr.finish();
    if (dim.NUMVP < 0) {
        parm_stop(io, true, {"STOP: bad value of NUMVP", "NUMVP must be .ge. 0", "NUMVP = " + std::to_string(dim.NUMVP)},
                  at(io, vp_line) + "NUMVP = " + std::to_string(dim.NUMVP) + " is negative (0 or more profiles)");
    }
    for (int i = 1; i <= dim.NUMVP; ++i) {
        if (io.NODVP(i) < 1 || io.NODVP(i) > dim.NNOD) {
            parm_stop(io, true, {"STOP: bad nodal values for NODVP list", "NODVP(i) must be .ge. 1 and .le. NNOD"},
                      at(io, vp_line) + entry("NODVP", i, std::to_string(io.NODVP(i))) +
                          " is not a surface node (1..NNOD = " + std::to_string(dim.NNOD) + ")");
        }
    }

    fr.read(dim.NR);
    const long nr_line = fr.value_line();
    if (dim.NR < 0) {
        parm_stop(io, true, {"STOP: bad value of NR", "NR must be .ge. 0", "NR = " + std::to_string(dim.NR)},
                  at(io, nr_line) + "NR = " + std::to_string(dim.NR) + " is negative (0 or more partial-output nodes)");
    }
    if (dim.NR != 0) {
        fr.begin();
        for (long i = 1; i <= io.IPOUT.size() && i <= dim.NR; ++i) fr.get(io.IPOUT(i));
        const long out_line = fr.value_line();
        fr.finish();
        for (int i = 1; i <= dim.NR; ++i) {
            if (io.IPOUT(i) < 1 || io.IPOUT(i) > dim.N) {
                parm_stop(io, true, {"STOP: bad nodal values for IPOUT list", "IPOUT(i) must be .ge. 1 and .le. N",
                                     entry("IPOUT", i, std::to_string(io.IPOUT(i)))},
                          at(io, out_line) + entry("IPOUT", i, std::to_string(io.IPOUT(i))) +
                              " is not a node of the mesh (1..N = " + std::to_string(dim.N) + ")");
            }
        }
    }
    read_units(io, fr, sf, sl.RT, ctl);

    wfmt(lst, "(///,5x,A)", ctl.ITRANS == 0 ? "SOLUTION OF THE FLOW PROBLEM ONLY" : "SOLUTION OF THE COUPLED PROBLEM");
    if (ctl.IFLOW == 1) {
        wfmt(lst, "(10x,A,A)", "PICARD SCHEME FOR FLOW EQUATION");
    } else if (ctl.IFLOW == 2) {
        wfmt(lst, "(10x,A,A)", "NEWTON SCHEME FOR FLOW EQUATION");
    } else {
        bad_scheme(io, alt ? "STOP: WRONG VALUE FOR IFLOW" : "STOP: BAD VALUE FOR IFLOW", ctl.IFLOW,
                   at(io, scheme_line) + "IFLOW = " + std::to_string(ctl.IFLOW) +
                       " is neither 1 (Picard) nor 2 (Newton)");
    }
    if (ctl.ITRANS != 0) {
        if (ctl.ITRANS == 1) {
            wfmt(lst, "(10x,A,A)", "PICARD SCHEME FOR TRANSPORT EQUATION");
        } else if (ctl.ITRANS == 2) {
            wfmt(lst, "(10x,A,A)", "NEWTON SCHEME FOR TRANSPORT EQUATION");
        } else {
            bad_scheme(io, alt ? "STOP: WRONG VALUE FOR ITRANS" : "STOP: BAD VALUE OF ITRANS", ctl.ITRANS,
                       at(io, scheme_line) + "ITRANS = " + std::to_string(ctl.ITRANS) +
                           " is none of 0 (flow only), 1 (Picard) and 2 (Newton)");
        }
    }
    // The solvers of the other selectors run on one process: a run on several solves with the
    // PETSc default in their place (checked once the whole file has been read and its own stops
    // have passed), and says so.
    parallel_selectors(ctl, io, isolv_line, isolvc_line);

    wfmt(lst, "(/,5X,'IPRT1   (FOR OUTPUT OF DATA)              = ',I6,"
              "/,5X,'IPRT    (FOR DETAILED NODAL OUTPUT)       = ',I6,"
              "/,5X,'ISEC    (HOR. SEC. FOR DET. OUTPUT)       = ',I6,"
              "/,5X,'NPRT    (# OF TIME VALUES FOR DET OUTPUT) = ',I6,"
              "/,5X,'NUMVP   (# OF SURF NODES FOR VP OUTPUT)   = ',I6,"
              "/,5X,'NR      (# OF NODES FOR PARTIAL OUTPUT)   = ',I6)",
         io.IPRT1, io.IPRT, io.ISEC, dim.NPRT, dim.NUMVP, dim.NR);
    wfmt(lst, "(/,5X,'IFLOW   (1 PICARD, 2 NEWTON, 3 HUY-NEWT)  = ',I6,"
              "/,5X,'ITRANS  (O FLOW ONLY, 1 PICARD, 2 NEWTON) = ',I6,"
              "/,5X,'OSC_FLG (.F. W/O OSC, .T. W/ OSC)       = ',L6)",
         ctl.IFLOW, ctl.ITRANS, ctl.OSC_FLAG);
    // The second program echoes the seepage-face options always, and the derivative options
    // with them only when the chord slope is in use (KSLOPE 0 takes analytical derivatives and
    // never reads TOLKSL); either way ISFONE and ISFCVG appear once.
    if (alt && sl.KSLOPE == 0) {
        wfmt(lst, "(/,5X,'ISFONE  (0 ALL-NODE SFEX UPD, 1 1-NODE)   = ',I6,"
                  "/,5X,'ISFCVG  (0 NL CONVG W/O SFEX, 1 W/ SFEX)  = ',I6)",
             bc.ISFONE, bc.ISFCVG);
    } else if (alt) {
        wfmt(lst, "(/,5X,'KSLOPE  (0 ANA, 1 KSL/ANA, 2 KSL/C-DIFF)  = ',I6,"
                  "/,5X,'TOLKSL  (TOLERANCE FOR CHORD SLOPE)       = ',1PE15.5,"
                  "/,5X,'ISFONE  (0 ALL-NODE SFEX UPD, 1 1-NODE)   = ',I6,"
                  "/,5X,'ISFCVG  (0 NL CONVG W/O SFEX, 1 W/ SFEX)  = ',I6)",
             sl.KSLOPE, sl.TOLKSL, bc.ISFONE, bc.ISFCVG);
    }
    if (sl.KSLOPE == 3 || sl.KSLOPE == 4) {
        wfmt(lst, "(  5X,'PKRL    (LEFT  PrHead ENDPT FOR d(Kr)/dP) = ',1PE15.5,"
                  "/,5X,'PKRR    (RIGHT PrHead ENDPT FOR d(Kr)/dP) = ',1PE15.5,"
                  "/,5X,'PSEL    (LEFT  PrHead ENDPT FOR d(Se)/dP) = ',1PE15.5,"
                  "/,5X,'PSER    (RIGHT PrHead ENDPT FOR d(Se)/dP) = ',1PE15.5,"
                  "/,5X,'PDSE1L  (LEFT  P FOR dd(Se)/dPP, RANGE 1) = ',1PE15.5,"
                  "/,5X,'PDSE1R  (RIGHT P FOR dd(Se)/dPP, RANGE 1) = ',1PE15.5,"
                  "/,5X,'PDSE2L  (LEFT  P FOR dd(Se)/dPP, RANGE 2) = ',1PE15.5,"
                  "/,5X,'PDSE2R  (RIGHT P FOR dd(Se)/dPP, RANGE 2) = ',1PE15.5)",
             sl.PKRL, sl.PKRR, sl.PSEL, sl.PSER, sl.PDSE1L, sl.PDSE1R, sl.PDSE2L, sl.PDSE2R);
    }
    wfmt(lst, "(  5X,'TETAF   (1 BKWD EULER, .5 C-N; FLOW EQ.)  = ',1PE15.5,"
              "/,5X,'LUMP    (MASS LUMPING IF NOT 0; FLOW EQ.) = ',I6,"
              "/,5X,'TETAC   (1 BKWD EULER, .5 C-N; TRNSPT EQ) = ',1PE15.5,"
              "/,5X,'LUMPC   (MASS LUMPING IF NOT 0; TRNSP EQ) = ',I6)",
         ctl.TETAF, ctl.LUMP, ctl.TETAC, ctl.LUMPC);
    if (sl.KSLOPE == 5) {
        // Beyond the specified options: the mass-conservative scheme keeps its storage on the
        // nodes whatever LUMP says.
        wfmt(lst, "(  5X,'KSLOPE  (5 MASS-CONSERVATIVE STORAGE)     = ',I6,"
                  "/,5X,'        (NODAL WATER CONTENT; LUMP NOT USED FOR FLOW STORAGE)')",
             sl.KSLOPE);
    }
    wfmt(lst, "(/,5X,'ITMX    (MAX NONLINEAR ITER; FLOW)        = ',I6,"
              "/,5X,'ITMX1   (DELTAT INCREASE THRESHOLD)       = ',I6,"
              "/,5X,'ITMX2   (DELTAT DECREASE THRESHOLD)       = ',I6,"
              "/,5X,'TOLNL   (TOLERANCE FOR NONLINEAR ITER)    = ',1PE15.5)",
         dim.ITMX, ctl.ITMX1, ctl.ITMX2, ctl.TOLNL);
    wfmt(lst, "(/,5X,'ITMXC   (MAX NONLINEAR ITER; COUPLED SYS) = ',I6,"
              "/,5X,'ITMXC1  (DELTAT INCREASE THRESHOLD)       = ',I6,"
              "/,5X,'ITMXC2  (DELTAT DECREASE THRESHOLD)       = ',I6,"
              "/,5X,'TOLNLC  (TOLERANCE FOR NONLINEAR ITER)    = ',1PE15.5)",
         dim.ITMXC, ctl.ITMXC1, ctl.ITMXC2, ctl.TOLNLC);
    wfmt(lst, "(  5X,'L2NORM  (0 L_INF, ELSE L_2 NORM FLOW EQ.) = ',I6,"
              "/,5X,'ERNLMX  (MAX CVG OR RESID ERR FLOW EQ.)   = ',1PE15.5)",
         ctl.L2NORM, ctl.ERNLMX);
    wfmt(lst, "(  5X,'IRELAX  (0 NORELX,1 CONS RELX,2 VAR RELX)= ',I6,"
              "/,5X,'IRELAXC (0 NORELX,1 CONS RELX,2 VAR RELX)= ',I6)",
         ctl.IRELAX, ctl.IRELAXC);
    if (ctl.IRELAX == 1) {
        wfmt(lst, "(  5X,'OMEGA   (RELAXATION PARAMETER, CONSTANT)  = ',1PE15.5)", ctl.OMEGA);
    }
    if (ctl.IRELAXC == 1) {
        wfmt(lst, "(  5X,'OMEGAC  (RELAXATION PARAMETER, CONSTANT)  = ',1PE15.5)", ctl.OMEGAC);
    }
    wfmt(lst, "(/,5X,'ISOLV   (-5 BiCGSTAB w/ diag precond, ',"
              "/,5X,'         -4 BiCGSTAB without precond, ',"
              "/,5X,'         -3 TFQMR   w/ diag precond, ',"
              "/,5X,'         -2 TFQMR   without precond, ',"
              "/,5X,'         -1 TFQMR   w/ K^-1  precond, ',"
              "/,5X,'          0 BiCGSTAB w/ K^-1  precond, ',"
              "/,5X,'          1 GRAMRB (min residual), ',"
              "/,5X,'          2 GCRK(5) (ORTHOMIN), ',"
              "/,5X,'          3 NONSYM (direct solver))       = ',I6,"
              "/,5X,'ISOLVC  (0 GCSTAB,1 GRAMRB,2 GCRK,3 NSYM) = ',I6,"
              "/,5X,'ITCGSY  (MAX ITER FOR CG LIN SYM SOLVER)  = ',I6,"
              "/,5X,'TLCGSY  (TOLER. FOR CG LIN SYM SOLVER)    = ',1PE15.5,"
              "/,5X,'ITCGNS  (MAX ITER FOR CG LIN NONSYM SLVR) = ',I6,"
              "/,5X,'TLCGNS  (TOLER. FOR CG LIN NONSYM SOLVER) = ',1PE15.5)",
         ctl.ISOLVD, ctl.ISOLVCD, ctl.ITCGSY, ctl.TLCGSY, ctl.ITCGNS, ctl.TLCGNS);
    // Beyond the specified selectors: the systems handed to PETSc.
    if (petsc_solver(ctl.ISOLV)) {
        wfmt(lst, "(  5X,'ISOLV   (PETSC, FLOW EQ.)                 = ',I6,"
                  "/,5X,'        (',A,' WITH ',A,')')",
             ctl.ISOLV, ctl.IFLOW == 1 ? "CONJUGATE GRADIENTS" : "GMRES", petsc_selector_text(ctl.ISOLV));
        if (ctl.ISOLV != ctl.ISOLVD) {
            wfmt(lst, "(  5X,'        (IN PLACE OF ISOLV = ',I3,' ON ',I6,' PROCESSES)')", ctl.ISOLVD, procs);
        }
    }
    if (ctl.ITRANS != 0 && petsc_solver(ctl.ISOLVC)) {
        wfmt(lst, "(  5X,'ISOLVC  (PETSC, TRANSPORT EQ.)            = ',I6,"
                  "/,5X,'        (GMRES WITH ',A,')')",
             ctl.ISOLVC, petsc_selector_text(ctl.ISOLVC));
        if (ctl.ISOLVC != ctl.ISOLVCD) {
            wfmt(lst, "(  5X,'        (IN PLACE OF ISOLVC = ',I3,' ON ',I6,' PROCESSES)')", ctl.ISOLVCD, procs);
        }
    }
    wfmt(lst, "(/,5X,'TIMEP   (INITIAL TIME)                    = ',1PE15.5,"
              "/,5X,'DELTAT  (INITIAL TIME STEP SIZE)          = ',1PE15.5,"
              "/,5X,'DTMIN   (MINIMUM TIME STEP SIZE)          = ',1PE15.5,"
              "/,5X,'DTMAX   (MAXIMUM TIME STEP SIZE)          = ',1PE15.5,"
              "/,5X,'TMAX    (TIME AT END OF SIMULATION)       = ',1PE15.5)",
         ctl.TIMEP, ctl.DELTAT, ctl.DTMIN, ctl.DTMAX, ctl.TMAX);
    wfmt(lst, "(  5X,'DTMAGA  (MAG. FACTOR FOR DELTAT, ADD.)    = ',1PE15.5,"
              "/,5X,'DTMAGM  (MAG. FACTOR FOR DELTAT, MULT.)   = ',1PE15.5,"
              "/,5X,'DTREDS  (RED. FACTOR FOR DELTAT, SUB.)    = ',1PE15.5,"
              "/,5X,'DTREDM  (RED. FACTOR FOR DELTAT, MULT.)   = ',1PE15.5)",
         ctl.DTMAGA, ctl.DTMAGM, ctl.DTREDS, ctl.DTREDM);
    nonlinear_echo(lst, ctl);
    if (io.EXTRA.UNITS) {
        wfmt(lst, "(/,5X,'UNITS   (LENGTH, TIME)                    = ',A,', ',A)", io.EXTRA.LUNIT,
             io.EXTRA.TUNIT);
    }
}

}  // namespace nep
