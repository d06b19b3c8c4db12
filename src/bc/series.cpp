#include "bc/series.h"

#include <cstdio>
#include <string>
#include <vector>

#include "base/format.h"
#include "bc/atmosphere.h"
#include "records/inputerr.h"

namespace nep {

namespace {

constexpr std::size_t text_length(const char* s) { return *s ? 1 + text_length(s + 1) : 0; }
static_assert(text_length(kDirLabel) == 22 && text_length(kNeuLabel) == 22 &&
                  text_length(kDirBackLabel) == 22 && text_length(kNeuBackLabel) == 22,
              "series labels are printed with A22");

// A steady-state run is asked for with a first step of at least this size.
constexpr double kSteadyDeltat = 1.0e10;

std::string time_text(double t) {
    char b[32];
    std::snprintf(b, sizeof b, "%.8g", t);
    return b;
}

// The table of (entry, node, value) triples, three to a line. The statement is written in
// pieces of three triples: each piece is exactly one record of the format, so the text is that of
// one statement over the whole list, and no item list has to be built.
void write_triples(ounit& u, int NP, const arr1<int>& NOD, const double* v) {
    for (int i0 = 1; i0 <= NP; i0 += 3) {
        fitem items[9] = {0, 0, 0.0, 0, 0, 0.0, 0, 0, 0.0};
        std::size_t n = 0;
        for (int i = i0; i <= NP && i < i0 + 3; ++i) {
            items[n++] = fitem(i);
            items[n++] = fitem(NOD(i));
            items[n++] = fitem(v[i - 1]);
        }
        write_fmt(u, "((1X,3(I5,I6,1X,1PE13.5)))", items, n);
    }
}

// Values at TIME from the stored records, and their echo.
void interpolate(const char* LABEL, ounit& echo, int IPRT1, int NP, double TIME,
                 const double TIM[4], const arr2<double>& TAB, const arr1<int>& NOD,
                 arr1<double>& VAL, bool write) {
    switch (series_interval(TIM, TIME)) {
    case 2:
        for (int i = 1; i <= NP; ++i) {
            VAL(i) = TAB(i, 2) + (TIME - TIM[2]) * (TAB(i, 3) - TAB(i, 2)) / (TIM[3] - TIM[2]);
        }
        break;
    case 1:
        for (int i = 1; i <= NP; ++i) {
            VAL(i) = TAB(i, 1) + (TIME - TIM[1]) * (TAB(i, 2) - TAB(i, 1)) / (TIM[2] - TIM[1]);
        }
        break;
    default:
        for (int i = 1; i <= NP; ++i) VAL(i) = TAB(i, 3);
        break;
    }
    if (write && IPRT1 >= 1) {
        wfmt(echo, "(2X,A22,' BCs VALUES AT TIME: ',1PE12.4,/,"
                   "1X,3('    #  NODE  BC VALUE    '))", LABEL, TIME);
        write_triples(echo, NP, NOD, VAL.data());
    }
}

// Reads the values of a record into slot 3 and turns potential heads into pressure heads.
// A null value keeps the value of the record before it: that one is taken back to a potential
// head first, so that it is converted once and a replicated surface value gets each node's own
// elevation.
void read_values(freader& fr, int NDIR, int NDIRC, int NP, int NSTR, arr2<double>& TAB,
                 const arr1<int>& NOD, bool POTFLAG, const arr1<double>& Z, const arr1<double>& ZE) {
    // ZE, when given, holds the elevation of every entry's node.
    auto z = [&](int i) { return ZE.empty() ? Z(NOD(i)) : ZE(i); };
    if (POTFLAG) {
        for (int i = 1; i <= NP; ++i) TAB(i, 3) += z(i);
    }
    readbcf(fr, NDIR, NDIRC, NP, NSTR, TAB);
    if (POTFLAG) {
        for (int i = 1; i <= NP; ++i) TAB(i, 3) -= z(i);
    }
}

// Step 1 of an advance: passes every record whose time is not after TIME.
void advance(const char* LABEL, iofiles& io, int IIN, int IECHO, int IPRT1, int NDIR, int NDIRC,
             int NP, int NSTR, int& IEOF, double TIME, double TIM[4], arr2<double>& TAB,
             const arr1<int>& NOD, bool POTFLAG, const arr1<double>& Z, const arr1<double>& ZE) {
    freader& fr = io.in(IIN);
    ounit& echo = io.out(IECHO);
    while (TIME > TIM[3]) {
        TIM[1] = TIM[2];
        TIM[2] = TIM[3];
        for (int i = 1; i <= NP; ++i) {
            TAB(i, 1) = TAB(i, 2);
            TAB(i, 2) = TAB(i, 3);
        }
        if (IPRT1 >= 1) {
            wfmt(io.out(6), "(/,2X,A22,' BCs INPUT AT TIME: ',1PE12.4)", LABEL, TIM[2]);
            wfmt(echo, "(2X,A22,' BCs  INPUT AT TIME: ',1PE12.4,/,"
                       "1X,3('    #  NODE  BC VALUE    '))", LABEL, TIM[2]);
            write_triples(echo, NP, NOD, TAB.col(2));
        }
        double t = 0.0;
        if (!read_series_time(io, fr, t, true, TIM[2])) {
            IEOF = 1;  // the last record holds: slots 2 and 3 are now equal
            break;
        }
        TIM[3] = t;
        read_values(fr, NDIR, NDIRC, NP, NSTR, TAB, NOD, POTFLAG, Z, ZE);
    }
}

// Reads a series file through once, in a reader of its own, as the run will read it: records of
// a time (not earlier than the time before it) and value statements of the given sizes. A broken
// record stops the run before the first step, naming its file and line, instead of when the run
// reaches it. The atmospheric file starts with HSPATM (9999: nothing follows), which fixes the
// size of its records: one rate, or NNOD.
void scan_series(iofiles& io, int unit, std::vector<long> sizes, int nnod_if_atmospheric) {
    freader fr;
    fr.open_copy(io.in(unit));
    if (nnod_if_atmospheric > 0) {
        if (fr.at_end()) return;
        int hspatm = 0;
        fr.read(hspatm);
        if (hspatm == 9999) return;
        sizes = {hspatm != 0 ? 1L : (long)nnod_if_atmospheric};
    }
    double prev = 0.0;
    for (long k = 1; !fr.at_end(); ++k) {
        double t = 0.0;
        fr.begin();
        fr.get(t);
        const long line = fr.line();
        fr.finish();
        if (k > 1 && t < prev) {
            bc_stop(io, {bc_where(fr, line, "time " + time_text(t) + " is earlier than the time " +
                                                time_text(prev) + " of the record before it")});
        }
        prev = t;
        for (long n : sizes) {
            if (n <= 0) continue;
            fr.expect_list("the record of time " + time_text(t) + " needs " + std::to_string(n) +
                               (n == 1 ? " value" : " values"),
                           line);
            double v = 0.0;
            fr.begin();
            for (long i = 0; i < n; ++i) fr.get(v);
            fr.finish();
        }
    }
}

}  // namespace

bool read_series_time(iofiles& io, freader& fr, double& t, bool later, double prev) {
    if (fr.at_end()) return false;
    fr.begin();
    fr.get(t);
    const long line = fr.line();
    fr.finish();
    if (later && t < prev) {
        bc_stop(io, {bc_where(fr, line, "time " + time_text(t) + " is earlier than the time " +
                                            time_text(prev) + " of the record before it")});
    }
    return true;
}

int series_interval(const double TIM[4], double TIME) {
    if (TIME <= TIM[2] && TIM[1] < TIM[2]) return 1;
    if (TIM[3] > TIM[2]) return 2;
    return 0;
}

void readbcf(freader& IIN, int NDIR, int NDIRC, int NP, int NSTR, arr2<double>& VALUES) {
    if (NDIR == 0) {
        IIN.begin();
        for (int i = 1; i <= NP; ++i) IIN.get(VALUES(i, 3));
        IIN.finish();
        return;
    }
    IIN.begin();
    for (int p = 1; p <= NDIR; ++p) IIN.get(VALUES(p, 3));
    IIN.finish();
    for (int r = 1; r <= NSTR; ++r) {
        for (int p = 1; p <= NDIR; ++p) VALUES(p + r * NDIR, 3) = VALUES(p, 3);
    }
    if (NDIRC != 0) {
        const int first = (NSTR + 1) * NDIR + 1;
        IIN.begin();
        for (int i = first; i < first + NDIRC; ++i) IIN.get(VALUES(i, 3));
        IIN.finish();
    }
}

void bconef(const char* LABEL, iofiles& io, int IIN, int IECHO, int IPRT1, int NDIR, int NDIRC,
            int NP, int NSTR, int& IEOF, double TIME, double DELTAT, double TIM[4],
            arr2<double>& TAB, const arr1<int>& NOD, arr1<double>& VAL, bool POTFLAG,
            const arr1<double>& Z, const arr1<double>& ZE) {
    freader& fr = io.in(IIN);
    IEOF = 0;
    TIM[1] = TIM[2] = 0.0;
    for (int i = 1; i <= NP; ++i) TAB(i, 1) = TAB(i, 2) = 0.0;

    // The first record must be there: the reader's end-of-file error names the file.
    double t = 0.0;
    fr.read(t);
    const bool steady = DELTAT >= kSteadyDeltat;
    if (steady) t = 0.0;
    TIM[3] = t;
    read_values(fr, NDIR, NDIRC, NP, NSTR, TAB, NOD, POTFLAG, Z, ZE);

    if (IPRT1 >= 1) {
        wfmt(io.out(6), "(/,2X,A22,' BCs AT BEGINNING OF SIMULATION',/,"
                        "1X,3('    #  NODE  BC VALUE    '))", LABEL);
        write_triples(io.out(6), NP, NOD, TAB.col(3));
    }
    if (!steady) {
        advance(LABEL, io, IIN, IECHO, IPRT1, NDIR, NDIRC, NP, NSTR, IEOF, TIME, TIM, TAB, NOD,
                POTFLAG, Z, ZE);
    }
    interpolate(LABEL, io.out(IECHO), IPRT1, NP, TIME, TIM, TAB, NOD, VAL, true);
}

void bcnxtf(const char* LABEL, iofiles& io, int IIN, int IECHO, int IPRT1, int NDIR, int NDIRC,
            int NP, int NSTR, int& IEOF, double TIME, double TIM[4], arr2<double>& TAB,
            const arr1<int>& NOD, arr1<double>& VAL, bool POTFLAG, const arr1<double>& Z,
            const arr1<double>& ZE) {
    if (IEOF == 1) {
        // Nothing is read or written once the file has ended, but the values are brought to TIME:
        // a step after a back-step behind the last record still lies inside the series.
        interpolate(LABEL, io.out(IECHO), IPRT1, NP, TIME, TIM, TAB, NOD, VAL, false);
        return;
    }
    advance(LABEL, io, IIN, IECHO, IPRT1, NDIR, NDIRC, NP, NSTR, IEOF, TIME, TIM, TAB, NOD,
            POTFLAG, Z, ZE);
    interpolate(LABEL, io.out(IECHO), IPRT1, NP, TIME, TIM, TAB, NOD, VAL, true);
}

void bcbak(const char* LABEL, ounit& IECHO, int IPRT1, int NP, double TIME, const double TIM[4],
           const arr2<double>& TAB, const arr1<int>& NOD, arr1<double>& VAL) {
    if (TIM[1] >= TIM[2]) return;
    for (int i = 1; i <= NP; ++i) {
        VAL(i) = TAB(i, 1) + (TIME - TIM[1]) * (TAB(i, 2) - TAB(i, 1)) / (TIM[2] - TIM[1]);
    }
    if (IPRT1 > 0) {
        wfmt(IECHO, "(2X,A22,' BCs VALUES AT TIME: ',1PE12.4,/,"
                    "1X,3('    #  NODE  BC VALUE    '))", LABEL, TIME);
        write_triples(IECHO, NP, NOD, VAL.data());
    }
}

namespace {

// The nodes of the lists as the echo names them: the deck's numbers.
const arr1<int>& dir_nodes(const bcdata& bc) { return bc.DIRDECK.empty() ? bc.DIRNOD : bc.DIRDECK; }
const arr1<int>& neu_nodes(const bcdata& bc) { return bc.NEUDECK.empty() ? bc.NEUNOD : bc.NEUDECK; }

}  // namespace

void bcinit(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
            const soil& sl, flowstate& fs) {
    if (dim.NP != 0) {
        scan_series(io, kDirSeriesUnit,
                    dim.NDIR == 0 ? std::vector<long>{dim.NP} : std::vector<long>{dim.NDIR, dim.NDIRC}, 0);
    }
    if (dim.NQ != 0) scan_series(io, kNeuSeriesUnit, {dim.NQ}, 0);
    scan_series(io, kAtmUnit, {}, msh.deck_surface(dim.NNOD));
    if (dim.NP != 0) {
        bconef(kDirLabel, io, kDirSeriesUnit, kDirEchoUnit, io.IPRT1, dim.NDIR, dim.NDIRC, dim.NP,
               dim.NSTR, bc.DIREOF, ctl.TIME, ctl.DELTAT, bc.DIRTIM, bc.DIRTAB, dir_nodes(bc),
               bc.DIRVAL, bc.POTBC, msh.Z, bc.DIRZ);
    }
    if (dim.NQ != 0) {
        bconef(kNeuLabel, io, kNeuSeriesUnit, kNeuEchoUnit, io.IPRT1, 0, 0, dim.NQ, dim.NSTR,
               bc.NEUEOF, ctl.TIME, ctl.DELTAT, bc.NEUTIM, bc.NEUTAB, neu_nodes(bc), bc.NEUVAL, false,
               msh.Z, bc.DIRZ);
    }
    atmone(dim, ctl, io, msh, bc, sl, fs);
}

void hold_series(const dimensions& dim, bcdata& bc) {
    auto hold = [](double TIM[4], arr2<double>& TAB, int NP, int& IEOF) {
        TIM[1] = TIM[2] = TIM[3];
        for (int i = 1; i <= NP; ++i) TAB(i, 1) = TAB(i, 2) = TAB(i, 3);
        IEOF = 1;
    };
    if (dim.NP != 0) hold(bc.DIRTIM, bc.DIRTAB, dim.NP, bc.DIREOF);
    if (dim.NQ != 0) hold(bc.NEUTIM, bc.NEUTAB, dim.NQ, bc.NEUEOF);
    bc.ATMTIM[1] = bc.ATMTIM[2] = bc.ATMTIM[3];
    for (int j = 1; j <= dim.NNOD; ++j) bc.ATMINP(1, j) = bc.ATMINP(2, j) = bc.ATMINP(3, j);
    bc.ATMEOF = 1;
}

void bcupdt(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
            const soil& sl, flowstate& fs) {
    if (dim.NP != 0) {
        bcnxtf(kDirLabel, io, kDirSeriesUnit, kDirEchoUnit, io.IPRT1, dim.NDIR, dim.NDIRC, dim.NP,
               dim.NSTR, bc.DIREOF, ctl.TIME, bc.DIRTIM, bc.DIRTAB, dir_nodes(bc), bc.DIRVAL,
               bc.POTBC, msh.Z, bc.DIRZ);
    }
    if (dim.NQ != 0) {
        bcnxtf(kNeuLabel, io, kNeuSeriesUnit, kNeuEchoUnit, io.IPRT1, 0, 0, dim.NQ, dim.NSTR,
               bc.NEUEOF, ctl.TIME, bc.NEUTIM, bc.NEUTAB, neu_nodes(bc), bc.NEUVAL, false, msh.Z, bc.DIRZ);
    }
    atmnxt(dim, ctl, io, msh, bc);
    atmswt(dim, bc, sl, fs);
}

void bcrstr(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
            const soil& sl, flowstate& fs) {
    if (dim.NP != 0) {
        if (ctl.TIME > bc.DIRTIM[2]) {
            // TIME is still within the interval of slots 2 and 3: nothing is read.
            bcnxtf(kDirBackLabel, io, kDirSeriesUnit, kDirEchoUnit, io.IPRT1, dim.NDIR, dim.NDIRC,
                   dim.NP, dim.NSTR, bc.DIREOF, ctl.TIME, bc.DIRTIM, bc.DIRTAB, dir_nodes(bc),
                   bc.DIRVAL, bc.POTBC, msh.Z, bc.DIRZ);
        } else {
            bcbak(kDirBackLabel, io.out(kDirEchoUnit), io.IPRT1, dim.NP, ctl.TIME, bc.DIRTIM,
                  bc.DIRTAB, dir_nodes(bc), bc.DIRVAL);
        }
    }
    if (dim.NQ != 0) {
        if (ctl.TIME > bc.NEUTIM[2]) {
            bcnxtf(kNeuBackLabel, io, kNeuSeriesUnit, kNeuEchoUnit, io.IPRT1, 0, 0, dim.NQ,
                   dim.NSTR, bc.NEUEOF, ctl.TIME, bc.NEUTIM, bc.NEUTAB, neu_nodes(bc), bc.NEUVAL,
                   false, msh.Z, bc.DIRZ);
        } else {
            bcbak(kNeuBackLabel, io.out(kNeuEchoUnit), io.IPRT1, dim.NQ, ctl.TIME, bc.NEUTIM,
                  bc.NEUTAB, neu_nodes(bc), bc.NEUVAL);
        }
    }
    if (ctl.TIME > bc.ATMTIM[2]) {
        atmnxt(dim, ctl, io, msh, bc);
    } else {
        atmbak(dim, ctl, msh, bc);
    }
    atmswt(dim, bc, sl, fs);
}

}  // namespace nep
