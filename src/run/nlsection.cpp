#include "run/nlsection.h"

#include <cctype>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/format.h"
#include "base/stop.h"

namespace nep {

namespace {

bool real_word(const std::string& w, double& v) {
    char* end = nullptr;
    v = std::strtod(w.c_str(), &end);
    return !w.empty() && end == w.c_str() + w.size() && std::isfinite(v);
}

bool int_word(const std::string& w, int& v) {
    char* end = nullptr;
    const long l = std::strtol(w.c_str(), &end, 10);
    if (w.empty() || end != w.c_str() + w.size() || l < -1000000 || l > 1000000) return false;
    v = (int)l;
    return true;
}

std::string upper(std::string s) {
    for (char& c : s) c = (char)std::toupper((unsigned char)c);
    return s;
}

}  // namespace

bool nonlinear_keyword(const std::string& key) {
    return key == "FORCING" || key == "STEPCONTROL" || key == "LINESEARCH";
}

void nonlinear_read(control& ctl, const std::string& key, std::istringstream& in,
                    const std::string& where) {
    std::vector<std::string> w;
    for (std::string s; in >> s;) w.push_back(s);
    auto stop = [&](const std::string& what) { input_error(where + what); };
    if (key == "FORCING") {
        if (ctl.EWFORCE) stop("a second FORCING line");
        const char* usage = "FORCING takes EW, then optionally the first and the largest forcing "
                            "terms and the largest at convergence (0 < ETA0 <= ETAMAX < 1, "
                            "0 < ETACONV <= 1), as 'FORCING EW 0.1 0.9 0.1'";
        if (w.empty() || upper(w[0]) != "EW" || w.size() > 4) stop(usage);
        ctl.EWFORCE = true;
        if (w.size() >= 2 && !real_word(w[1], ctl.EWETA0)) stop("ETA0 '" + w[1] + "' is not a number; " + usage);
        if (w.size() >= 3 && !real_word(w[2], ctl.EWMAX)) stop("ETAMAX '" + w[2] + "' is not a number; " + usage);
        if (w.size() >= 4 && !real_word(w[3], ctl.EWCONV)) stop("ETACONV '" + w[3] + "' is not a number; " + usage);
        if (!(ctl.EWETA0 > 0.0 && ctl.EWETA0 <= ctl.EWMAX && ctl.EWMAX < 1.0 && ctl.EWCONV > 0.0 &&
              ctl.EWCONV <= 1.0)) {
            char v[128];
            std::snprintf(v, sizeof v, "ETA0 = %.6g, ETAMAX = %.6g, ETACONV = %.6g: ", ctl.EWETA0,
                          ctl.EWMAX, ctl.EWCONV);
            stop(v + std::string(usage));
        }
    } else if (key == "STEPCONTROL") {
        if (ctl.DTLOOK) stop("a second STEPCONTROL line");
        const char* usage = "STEPCONTROL takes ITERATIONS, then optionally the iterations a step "
                            "aims at (at least 2) and the largest growth of a step (above 1), as "
                            "'STEPCONTROL ITERATIONS 5 2.0'";
        if (w.empty() || upper(w[0]) != "ITERATIONS" || w.size() > 3) stop(usage);
        if (ctl.ITRANS != 0) {
            stop("STEPCONTROL sets the steps of a flow-only run (ITRANS = 0); a coupled run keeps "
                 "its own step control");
        }
        ctl.DTLOOK = true;
        // By default between the growth and the reduction thresholds of the deck.
        ctl.DTITER = std::max(2, (ctl.ITMX1 + ctl.ITMX2) / 2);
        if (w.size() >= 2 && (!int_word(w[1], ctl.DTITER) || ctl.DTITER < 2)) {
            stop("iterations '" + w[1] + "': " + usage);
        }
        if (w.size() >= 3 && (!real_word(w[2], ctl.DTGROW) || !(ctl.DTGROW > 1.0) || ctl.DTGROW > 100.0)) {
            stop("growth '" + w[2] + "' (at most 100): " + usage);
        }
    } else if (key == "LINESEARCH") {
        if (ctl.LSON) stop("a second LINESEARCH line");
        const char* usage = "LINESEARCH takes BACKTRACK, then optionally the largest number of "
                            "halvings of an update (0 to 30) and the sufficient decrease of the "
                            "residual (0 < ALPHA < 1), as 'LINESEARCH BACKTRACK 4 1.0E-4'";
        if (w.empty() || upper(w[0]) != "BACKTRACK" || w.size() > 3) stop(usage);
        if (ctl.IFLOW == 1) {
            stop("LINESEARCH cuts back Newton's updates: it needs IFLOW = 2 (Newton), the deck "
                 "has IFLOW = 1 (Picard)");
        }
        ctl.LSON = true;
        if (w.size() >= 2 && (!int_word(w[1], ctl.LSCUTS) || ctl.LSCUTS < 0 || ctl.LSCUTS > 30)) {
            stop("halvings '" + w[1] + "': " + usage);
        }
        if (w.size() >= 3 && (!real_word(w[2], ctl.LSALPHA) || !(ctl.LSALPHA > 0.0) || !(ctl.LSALPHA < 1.0))) {
            stop("ALPHA '" + w[2] + "': " + usage);
        }
    }
}

void nonlinear_echo(ounit& lst, const control& ctl) {
    if (ctl.EWFORCE) {
        wfmt(lst, "(/,5X,'FORCING (LINEAR TOLERANCES, EISENSTAT-WALKER)',"
                  "/,5X,'EWETA0  (FIRST FORCING TERM OF A STEP)    = ',1PE15.5,"
                  "/,5X,'EWMAX   (LARGEST FORCING TERM)            = ',1PE15.5,"
                  "/,5X,'EWGAMMA, EWALPHA (ETA = G*(F/FPREV)**A)   = ',2(1PE15.5),"
                  "/,5X,'EWCONV  (LARGEST AT CONVERGENCE)          = ',1PE15.5)",
             ctl.EWETA0, ctl.EWMAX, ctl.EWGAMMA, ctl.EWALPHA, ctl.EWCONV);
    }
    if (ctl.DTLOOK) {
        wfmt(lst, "(/,5X,'STEPCONTROL (NEXT DELTAT FROM ITERATIONS)',"
                  "/,5X,'DTITER  (NONLINEAR ITERATIONS AIMED AT)   = ',I6,"
                  "/,5X,'DTGROW  (LARGEST GROWTH OF DELTAT)        = ',1PE15.5)",
             ctl.DTITER, ctl.DTGROW);
    }
    if (ctl.LSON) {
        wfmt(lst, "(/,5X,'LINESEARCH (NEWTON UPDATES HALVED ON THE RESIDUAL NORM)',"
                  "/,5X,'LSCUTS  (LARGEST NUMBER OF HALVINGS)      = ',I6,"
                  "/,5X,'LSALPHA (SUFFICIENT DECREASE, ARMIJO)     = ',1PE15.5)",
             ctl.LSCUTS, ctl.LSALPHA);
    }
}

}  // namespace nep
