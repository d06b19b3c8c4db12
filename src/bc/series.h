// The boundary-condition floor: initial conditions, prescribed heads and fluxes, atmospheric
// switching, seepage faces. It sits above solvers, soil and mesh.
//
// Time series of prescribed heads and prescribed fluxes, and the drivers that bring every flow
// boundary condition to the current TIME: at the start of the run (bcinit), at the start of each
// step (bcupdt) and after a back-step (bcrstr).
//
// A series keeps three records: slot 1 the older, slot 2 the previous and slot 3 the next one
// (TIM(k), TAB(., k)); its values at TIME are interpolated linearly and the last record holds
// once the file has ended.
#pragma once

#include "records/bcdata.h"
#include "records/control.h"
#include "records/dimensions.h"
#include "records/flowstate.h"
#include "records/iofiles.h"
#include "records/mesh.h"
#include "records/soil.h"

namespace nep {

// Labels of the series in the printed output, 22 characters each.
constexpr const char* kDirLabel = "   NATM, NSF DIRICHLET";
constexpr const char* kNeuLabel = "     NATM, NSF NEUMANN";
constexpr const char* kDirBackLabel = "BACK-STEP NATM,NSF DIR";
constexpr const char* kNeuBackLabel = "BACK-STEP NATM,NSF NEU";

// Input units of the head and flux series, and their echo files.
constexpr int kDirSeriesUnit = 10;
constexpr int kNeuSeriesUnit = 11;
constexpr int kDirEchoUnit = 45;
constexpr int kNeuEchoUnit = 46;

// Reads the value lines of one record into VALUES(., 3). With NDIR != 0 the NDIR surface values
// come first and are replicated down the NSTR node layers below, then the NDIRC fixed values
// follow; with NDIR = 0 the record is NP values.
void readbcf(freader& IIN, int NDIR, int NDIRC, int NP, int NSTR, arr2<double>& VALUES);

// First reading of a series at the start of the run: the first record (at time 0 for a
// steady-state run, DELTAT >= 1.0E10), then the records up to TIME, and the values at TIME.
// IIN is the series input unit, IECHO its echo file; the main listing is unit 6 of io. NOD
// names the nodes in the echo; potential heads (POTFLAG) become pressure heads with the
// elevations Z(NOD(i)), or ZE(i) when ZE is not empty.
void bconef(const char* LABEL, iofiles& io, int IIN, int IECHO, int IPRT1, int NDIR, int NDIRC,
            int NP, int NSTR, int& IEOF, double TIME, double DELTAT, double TIM[4],
            arr2<double>& TAB, const arr1<int>& NOD, arr1<double>& VAL, bool POTFLAG,
            const arr1<double>& Z, const arr1<double>& ZE);

// Advances a series to TIME (reading the records it passes) and interpolates its values.
void bcnxtf(const char* LABEL, iofiles& io, int IIN, int IECHO, int IPRT1, int NDIR, int NDIRC,
            int NP, int NSTR, int& IEOF, double TIME, double TIM[4], arr2<double>& TAB,
            const arr1<int>& NOD, arr1<double>& VAL, bool POTFLAG, const arr1<double>& Z,
            const arr1<double>& ZE);

// Values after a back-step to a TIME not after TIM(2): interpolation between slots 1 and 2.
void bcbak(const char* LABEL, ounit& IECHO, int IPRT1, int NP, double TIME, const double TIM[4],
           const arr2<double>& TAB, const arr1<int>& NOD, arr1<double>& VAL);

// Reads the time line of the next record of a series into t; false at the normal end of the file
// (nothing but blanks left). When `later` is true the time may not be earlier than `prev`, the
// time of the record before it: an earlier one stops the run naming the file and the line.
bool read_series_time(iofiles& io, freader& fr, double& t, bool later, double prev);

// Which stored interval gives the values at TIME: 1 (slots 1-2), 2 (slots 2-3) or 0 (slot 3
// held). A step that ends behind slot 2 (a back-stepped step, or the step after it) takes the
// interval 1-2 that contains it rather than extending the interval 2-3 backwards.
int series_interval(const double TIM[4], double TIME);

// The three drivers. bcinit runs once after the initial conditions (TIME is the end of the first
// step); bcupdt right after TIME has been advanced to the end of a new step; bcrstr after a
// back-step has set the new, smaller TIME.
void bcinit(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
            const soil& sl, flowstate& fs);
// The values of a steady run held for every later time: each series (prescribed heads and
// fluxes, atmospheric input) keeps the record in use, reads no further and interpolates no
// more, so that the steps of a continuation in pseudo-time (and their back-steps) see the
// steady boundary conditions.
void hold_series(const dimensions& dim, bcdata& bc);
void bcupdt(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
            const soil& sl, flowstate& fs);
void bcrstr(const dimensions& dim, const control& ctl, iofiles& io, const mesh& msh, bcdata& bc,
            const soil& sl, flowstate& fs);

}  // namespace nep
