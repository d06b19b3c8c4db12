#include "bc/exitpoint.h"

#include <algorithm>
#include <cstddef>
#include <string>

#include "base/format.h"
#include "base/procs.h"
#include "base/stop.h"

namespace nep {

namespace {

// The SFFLAG messages, 1..5 (the fifth is written by the mass balance of a converged step).
const char* const kFlag1 =
    "(  ' SFFLAG(1) AT SEEPAGE FACE ',I4,"
    "' (TIME=',1PE8.2,', DELTAT=',1PE8.2,', ITER=',I4,')',"
    "/,11X,'NO EXIT POINT; SEEPAGE FACE COMPLETELY',"
    "' UNSATURATED')";
const char* const kFlag2 =
    "(  ' SFFLAG(2) AT SEEPAGE FACE ',I4,"
    "' (TIME=',1PE8.2,', DELTAT=',1PE8.2,', ITER=',I4,')',"
    "/,11X,'EXIT POINT AT TOP OF SEEPAGE FACE; SEEPAGE FACE',"
    "' COMPLETELY SATURATED')";
const char* const kFlag3 =
    "(  ' SFFLAG(3) AT SEEPAGE FACE ',I4,"
    "' (TIME=',1PE8.2,', DELTAT=',1PE8.2,', ITER=',I4,')',"
    "/,11X,'NON-NEGATIVE PRESSURE HEAD OF ',1PE9.3,' AT NODE ',"
    "I3,' (NODE # ',I6,')',"
    "/,11X,'OCCURRED AT A POTENTIAL SEEPAGE FACE NODE DURING',"
    "' EXIT POINT LOWERING')";
const char* const kFlag4 =
    "(  ' SFFLAG(4) AT SEEPAGE FACE ',I4,"
    "' (TIME=',1PE8.2,', DELTAT=',1PE8.2,', ITER=',I4,')',"
    "/,11X,'NON-NEGATIVE PRESSURE HEAD OF ',1PE9.3,' AT NODE ',"
    "I3,' (NODE # ',I6,')',"
    "/,11X,'OCCURRED AT A POTENTIAL SEEPAGE FACE NODE DURING',"
    "' EXIT POINT RAISING')";

// The exit-point listing of extcvg.
const char* const kCvgHead = "(/,' (TIME=',1PE12.4,', DELTAT=',1PE12.4,', ITER=',I5,')')";
const char* const kPrevHead = "(  1X,'EXIT POINTS PREV ITER: NODE (NODE #)')";
const char* const kCurrHead = "(  1X,'EXIT POINTS CURR ITER: NODE (NODE #)')";
const char* const kPairs = "(6(2X,I3,'(',I6,')'))";
const char* const kConverged = "(1X,'SEEPAGE FACE EXIT POINTS CONVERGED',/)";
const char* const kNotConverged = "(1X,'SEEPAGE FACE EXIT POINTS DID NOT CONVERGE',/)";

// When and where the events of one call happen: the time, step size and iteration they are
// reported with.
struct moment {
    double TIME;
    double DELTAT;
    int ITER;
};

// SFFLAG(1) and (2): the face has no exit point, or is saturated to its top.
void sfflag(int which, int k, const moment& at, iofiles& io, bcdata& bc) {
    bc.SFFLAG[which] += 1;
    wfmt(io.out(kSfflagUnit), which == 1 ? kFlag1 : kFlag2, k, at.TIME, at.DELTAT, at.ITER);
}

// The pressure head at position i of face k, and the node there as the deck numbers it (a
// process of several with a mesh of its own has the heads of every face node in SFH).
double face_head(const bcdata& bc, const flowstate& fs, int k, int i) {
    return bc.SFH.empty() ? fs.PNEW(bc.SFNOD(k, i)) : bc.SFH(k, i);
}

// SFFLAG(3) (lowering) and (4) (raising): for every position from `from` up to the top of face
// k whose node has a non-negative pressure head, one event with that head, position and node.
void report_above(int which, int k, int from, const moment& at, iofiles& io, bcdata& bc,
                  const flowstate& fs) {
    const char* fmt = which == 3 ? kFlag3 : kFlag4;
    for (int i = from; i >= 1; --i) {
        const double p = face_head(bc, fs, k, i);
        if (p >= 0.0) {
            bc.SFFLAG[which] += 1;
            wfmt(io.out(kSfflagUnit), fmt, k, at.TIME, at.DELTAT, at.ITER, p, i, face_node(bc, k, i));
        }
    }
}

// Sets the head to 0 at positions first..last of face k (newly saturated nodes).
void saturate(int k, int first, int last, bcdata& bc, flowstate& fs) {
    for (int i = first; i <= last; ++i) {
        if (const int node = bc.SFNOD(k, i)) fs.PNEW(node) = 0.0;
        if (!bc.SFH.empty()) bc.SFH(k, i) = 0.0;
    }
}

// Writes the pairs (position, node) of the exit points in pos, six faces to a line. One write
// of all pairs breaks its lines by format reversion after every sixth pair; writing the faces
// six at a time gives the same records without building the list.
void write_pairs(ounit& u, int nsf, const arr1<int>& pos, const bcdata& bc) {
    if (nsf < 1) {
        wfmt(u, kPairs);
        return;
    }
    for (int k0 = 1; k0 <= nsf; k0 += 6) {
        fitem items[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        std::size_t n = 0;
        const int k1 = std::min(nsf, k0 + 5);
        for (int k = k0; k <= k1; ++k) {
            items[n++] = fitem(pos(k));
            items[n++] = fitem(face_node(bc, k, pos(k)));
        }
        write_fmt(u, kPairs, items, n);
    }
}

// The face tables are filled by the seepage-face reader, which has checked every node and
// count; this guards the moving routines against tables that do not fit together.
void check_faces(const dimensions& dim, const bcdata& bc, const flowstate& fs) {
    const long nsf = dim.NSF;
    auto fault = [](const std::string& what) {
        input_error("internal error: seepage faces: " + what);
    };
    if (bc.NSFNUM.size() < nsf || bc.IEXIT.size() < nsf || bc.IEXITP.size() < nsf ||
        bc.IEXOLD.size() < nsf || bc.SFNOD.n1() < nsf || bc.SFQ.n1() < nsf ||
        bc.SFQOLD.n1() < nsf) {
        fault("the face tables hold fewer than NSF = " + std::to_string(nsf) + " faces");
    }
    const long n = std::min(fs.PNEW.size(), fs.PSAVE.size());
    for (int k = 1; k <= nsf; ++k) {
        const int count = bc.NSFNUM(k);
        if (count < 0 || count + 1L > bc.SFNOD.n2() || count + 1L > bc.SFQ.n2() ||
            count + 1L > bc.SFQOLD.n2()) {
            fault("NSFNUM(" + std::to_string(k) + ") = " + std::to_string(count) +
                  " does not fit the " + std::to_string(bc.SFNOD.n2()) + " columns of SFNOD");
        }
        for (int i = 1; i <= count; ++i) {
            const int node = bc.SFNOD(k, i);
            if (node < (bc.SFH.empty() ? 1 : 0) || node > n) {
                fault("entry " + std::to_string(i) + " of face " + std::to_string(k) +
                      " is node " + std::to_string(node) + ", outside 1.." + std::to_string(n));
            }
        }
    }
}

}  // namespace

void sfinit(const dimensions& dim, const control& ctl, iofiles& io, bcdata& bc, flowstate& fs) {
    const int NSF = dim.NSF;
    bc.SFCHK = (NSF > 0 && bc.ISFCVG == 1) ? 1 : 0;
    bc.SFNCVG = 0;
    bc.SFCVG = 1;
    bc.SFFAIL = 0;
    bc.SFFAILT = 0;
    for (int j = 1; j <= 5; ++j) bc.SFFLAG[j] = 0;
    if (NSF < 1) return;

    check_faces(dim, bc, fs);
    bc.SFQ.fill(0.0);
    bc.SFQOLD.fill(0.0);

    // The initial state is reported at the start of the first step, before any iteration.
    const moment at{ctl.TIMEP, ctl.DELTAT, 0};
    for (int k = 1; k <= NSF; ++k) {
        const int n = bc.NSFNUM(k);
        bc.IEXIT(k) = bc.IEXITP(k) = bc.IEXOLD(k) = n + 1;
        for (int i = 1; i <= n; ++i) {
            if ((bc.SFH.empty() ? fs.PSAVE(bc.SFNOD(k, i)) : bc.SFH(k, i)) >= 0.0) {
                bc.IEXIT(k) = bc.IEXITP(k) = bc.IEXOLD(k) = i;
                for (int j = i; j <= n; ++j) {
                    if (const int node = bc.SFNOD(k, j)) fs.PSAVE(node) = fs.PNEW(node) = 0.0;
                    if (!bc.SFH.empty()) bc.SFH(k, j) = 0.0;
                }
                break;
            }
        }
        if (bc.IEXIT(k) == n + 1) sfflag(1, k, at, io, bc);
        else if (bc.IEXIT(k) == 1) sfflag(2, k, at, io, bc);
    }
}

void extall(const dimensions& dim, const control& ctl, iofiles& io, bcdata& bc, flowstate& fs) {
    const moment at{ctl.TIME, ctl.DELTAT, ctl.ITER};
    for (int k = 1; k <= dim.NSF; ++k) {
        const int n = bc.NSFNUM(k);
        // A face without nodes has nothing to move: it stays without exit point.
        if (n < 1) continue;
        const int e = bc.IEXIT(k);

        // Lowering: the lowest saturated node that does not seep out (SFQ >= 0) and every
        // saturated node above it are released to no-flux.
        if (e <= n) {
            int j = n;
            while (j >= e && bc.SFQ(k, j) < 0.0) --j;
            if (j >= e) {
                bc.IEXIT(k) = j + 1;
                if (j + 1 > n) {
                    bc.IEXIT(k) = n + 1;
                    sfflag(1, k, at, io, bc);
                }
                for (int i = e; i <= j; ++i) bc.SFQ(k, i) = 0.0;
                report_above(3, k, e - 1, at, io, bc, fs);
                continue;
            }
        }

        // Raising: over the unbroken run of non-negative heads just above the exit point.
        int i = e - 1;
        while (i >= 1 && face_head(bc, fs, k, i) >= 0.0) --i;
        if (i >= 1) {
            bc.IEXIT(k) = i + 1;
            saturate(k, i + 1, e - 1, bc, fs);
            report_above(4, k, i - 1, at, io, bc, fs);
        } else {
            bc.IEXIT(k) = 1;
            saturate(k, 1, e - 1, bc, fs);
            sfflag(2, k, at, io, bc);
        }
    }
    extcvg(dim, ctl, io, bc);
}

void extone(const dimensions& dim, const control& ctl, iofiles& io, bcdata& bc, flowstate& fs) {
    const moment at{ctl.TIME, ctl.DELTAT, ctl.ITER};
    for (int k = 1; k <= dim.NSF; ++k) {
        const int n = bc.NSFNUM(k);
        if (n < 1) continue;
        const int e = bc.IEXIT(k);

        if (e > n || bc.SFQ(k, e) < 0.0) {
            // No saturated node, or the exit node seeps out: raise by one when the node above
            // has become saturated. Non-negative heads higher up are reported either way.
            if (e > 1) {
                if (face_head(bc, fs, k, e - 1) >= 0.0) {
                    bc.IEXIT(k) = e - 1;
                    saturate(k, e - 1, e - 1, bc, fs);
                }
                report_above(4, k, e - 2, at, io, bc, fs);
            }
            if (bc.IEXIT(k) == 1) sfflag(2, k, at, io, bc);
        } else {
            // The exit node draws water in: lower by one and release it to no-flux.
            bc.IEXIT(k) = e + 1;
            if (e + 1 > n) {
                bc.IEXIT(k) = n + 1;
                sfflag(1, k, at, io, bc);
            }
            bc.SFQ(k, e) = 0.0;
            report_above(3, k, e - 1, at, io, bc, fs);
        }
    }
    extcvg(dim, ctl, io, bc);
}

void share_face_heads(const dimensions& dim, const mesh& msh, const arr1<double>& P, bcdata& bc) {
    if (bc.SFH.empty()) return;
    bc.SFH.fill(-0.0);
    for (int k = 1; k <= dim.NSF; ++k) {
        for (int i = 1; i <= bc.NSFNUM(k); ++i) {
            const int node = bc.SFNOD(k, i);
            if (node != 0 && msh.own(node)) bc.SFH(k, i) = P(node);
        }
    }
    msh.sum(bc.SFH.data(), bc.SFH.n1() * bc.SFH.n2());
}

int extcvg(const dimensions& dim, const control& ctl, iofiles& io, bcdata& bc) {
    const int NSF = dim.NSF;
    int changed = 0;
    for (int k = 1; k <= NSF; ++k) {
        if (bc.IEXIT(k) != bc.IEXITP(k)) ++changed;
    }
    bc.SFNCVG = changed;

    ounit& u = io.out(kSfflagUnit);
    wfmt(u, kCvgHead, ctl.TIME, ctl.DELTAT, ctl.ITER);
    wfmt(u, kPrevHead);
    write_pairs(u, NSF, bc.IEXITP, bc);
    wfmt(u, kCurrHead);
    write_pairs(u, NSF, bc.IEXIT, bc);
    wfmt(u, changed == 0 ? kConverged : kNotConverged);
    return changed;
}

}  // namespace nep
