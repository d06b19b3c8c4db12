#include "transport/solute.h"

#include <cstdio>
#include <string>

#include "base/format.h"
#include "records/inputerr.h"

namespace nep {

namespace {

constexpr int kSoluteUnit = 17;

std::string real_text(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

}  // namespace

void read_transp_solute(const dimensions& dim, iofiles& io, soil& sl) {
    freader& fr = io.in(kSoluteUnit);
    ounit& lst = io.out(6);

    fr.begin();
    fr.get(sl.RHO0);
    const long line = fr.line();
    fr.get(sl.EPSLON);
    fr.get(sl.DIFFUS);
    fr.get(sl.EPSLON1);
    fr.finish();
    wfmt(lst, "(//,5X,"
              "'LONGITUDINAL AND TRANSVERSE DISPERSIVITY VALUES AND RETA',"
              "'RDATION FACTORS',/,"
              "1X,' LAYER MAT.TYPE  ALFA-L       ALFA-T      RETARD FAC')");
    wfmt(lst, "(/,5X,'RHO0    (DENSITY OF FRESH WATER)         = ',1PE15.5,"
              "/,5X,'EPSLON  (DENSITY DIFFERENCE RATIO)       = ',1PE15.5,"
              "/,5X,'DIFFUS  (MOLECULAR DIFFUSION COEFFICIENT)= ',1PE15.5,"
              "/,5X,'EPSLON1 (VISCOSITY DIFFERENCE RATIO)     = ',1PE15.5)",
         sl.RHO0, sl.EPSLON, sl.DIFFUS, sl.EPSLON1);
    // A negative diffusion coefficient would make the dispersion matrix indefinite.
    if (sl.DIFFUS < 0.0) {
        bc_stop(io, {bc_where(fr, line, "DIFFUS = " + real_text(sl.DIFFUS) + " is negative")});
    }

    for (int L = 1; L <= dim.NSTR; ++L) {
        for (int k = 1; k <= dim.NZONE; ++k) {
            fr.begin();
            fr.get(sl.ALFAL(L, k));
            const long at = fr.line();
            fr.get(sl.ALFAT(L, k));
            fr.get(sl.RETARD(L, k));
            fr.finish();
            if (io.IPRT1 >= 0) {
                wfmt(lst, "(1X,I4,I8,2X,5(1PE13.5))", L, k, sl.ALFAL(L, k), sl.ALFAT(L, k),
                     sl.RETARD(L, k));
            }
            // Negative dispersivities or a retardation factor <= 0 give a transport system
            // without physical meaning (negative dispersion or solute storage).
            const auto refuse = [&](const char* name, double v, const char* rule) {
                bc_stop(io, {bc_where(fr, at, std::string(name) + " = " + real_text(v) + " (layer " +
                                                  std::to_string(L) + ", material " +
                                                  std::to_string(k) + ") " + rule)});
            };
            if (sl.ALFAL(L, k) < 0.0) refuse("ALFA-L", sl.ALFAL(L, k), "is negative");
            if (sl.ALFAT(L, k) < 0.0) refuse("ALFA-T", sl.ALFAT(L, k), "is negative");
            if (!(sl.RETARD(L, k) > 0.0)) refuse("RETARD", sl.RETARD(L, k), "is not positive");
        }
    }
}

}  // namespace nep
