#include "soil/soilread.h"

#include <cstdio>
#include <string>
#include <utility>

#include "base/format.h"
#include "base/stop.h"

namespace nep {

namespace {

constexpr int kSoilUnit = 14;

// A value for a message: shortest form that keeps ten significant digits.
std::string real_text(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

std::string where(const freader& fr, long line) {
    return fr.role() + " '" + fr.name() + "' line " + std::to_string(line);
}

// A curve parameter of the chosen model outside the range where its formulas are defined:
// "(//,' INPUT ERROR : BAD VALUE VGN',1PE15.5)" in the main listing, then the file, line and
// value for standard error.
[[noreturn]] void bad_parameter(iofiles& io, const freader& fr, long line, const char* name,
                                double value, const char* rule) {
    wfmt(io.out(6), std::string("(//,' INPUT ERROR : BAD VALUE ") + name + "',1PE15.5)", value);
    input_error(where(fr, line) + ": " + name + " = " + real_text(value) + ", " + rule);
}

}  // namespace

void read_soil(const dimensions& dim, iofiles& io, soil& sl) {
    freader& fr = io.in(kSoilUnit);
    ounit& lst = io.out(6);

    fr.read(sl.PMIN);
    fr.begin();
    fr.get(sl.IVGHU);
    const long ivghu_line = fr.line();
    fr.finish();
    // The nodal routines know the models 0 to 4 only; a negative number is refused as well.
    if (sl.IVGHU > 4 || sl.IVGHU < 0) {
        wfmt(lst, "(//,' INPUT ERROR : BAD VALUE IVGHU',I6)", sl.IVGHU);
        input_error(where(fr, ivghu_line) + ": IVGHU = " + std::to_string(sl.IVGHU) +
                    ", the curve model must be 0 (VG), 1 (XVG), 2 or 3 (HU) or 4 (BC)");
    }

    // All parameter sets are present whatever the model; only the chosen one is used.
    fr.begin();
    fr.get(sl.VGN);
    const long vg_line = fr.line();
    fr.get(sl.VGRMC);
    fr.get(sl.VGPSAT);
    fr.finish();
    fr.read(sl.HUALFA, sl.HUBETA, sl.HUGAMA, sl.HUPSIA, sl.HUSWR);
    fr.read(sl.HUN);
    fr.read(sl.HUA, sl.HUB);
    fr.begin();
    fr.get(sl.BCBETA);
    const long bc_line = fr.line();
    fr.get(sl.BCRMC);
    fr.get(sl.BCPSAT);
    fr.finish();

    wfmt(lst, "(/,5X,'PMIN  (AIR DRY PRESSURE HEAD VALUE)           = ',1PE15.5)", sl.PMIN);
    wfmt(lst, "(  5X,'IVGHU (0 VG, 1 XVG, 2 HU **n, 3 HU **G, 4 BC) = ',I6)", sl.IVGHU);
    if (sl.IVGHU == 0 || sl.IVGHU == 1) {
        wfmt(lst, "(  5X,'VGN                                           = ',1PE15.5,"
                  "/,5X,'VGRMC                                         = ',1PE15.5,"
                  "/,5X,'VGPSAT                                        = ',1PE15.5)",
             sl.VGN, sl.VGRMC, sl.VGPSAT);
    } else if (sl.IVGHU == 4) {
        wfmt(lst, "(  5X,'BCBETA                                        = ',1PE15.5,"
                  "/,5X,'BCRMC                                         = ',1PE15.5,"
                  "/,5X,'BCPSAT                                        = ',1PE15.5)",
             sl.BCBETA, sl.BCRMC, sl.BCPSAT);
    } else {
        wfmt(lst, "(  5X,'HUALFA                                        = ',1PE15.5,"
                  "/,5X,'HUBETA                                        = ',1PE15.5,"
                  "/,5X,'HUGAMA                                        = ',1PE15.5,"
                  "/,5X,'HUPSIA                                        = ',1PE15.5,"
                  "/,5X,'HUSWR                                         = ',1PE15.5)",
             sl.HUALFA, sl.HUBETA, sl.HUGAMA, sl.HUPSIA, sl.HUSWR);
        if (sl.IVGHU == 2) {
            wfmt(lst, "(  5X,'HUN                                           = ',1PE15.5)", sl.HUN);
        } else {
            wfmt(lst, "(  5X,'HUA                                           = ',1PE15.5,"
                      "/,5X,'HUB                                           = ',1PE15.5)",
                 sl.HUA, sl.HUB);
        }
    }

    // The van Genuchten curves need n > 1 (m > 0) and a negative scale head, the Brooks-Corey
    // curve a negative air-entry head: otherwise their powers and quotients are undefined.
    if (sl.IVGHU == 0 || sl.IVGHU == 1) {
        if (!(sl.VGN > 1.0)) {
            bad_parameter(io, fr, vg_line, "VGN", sl.VGN, "the van Genuchten exponent must be greater than 1");
        }
        if (!(sl.VGPSAT < 0.0)) {
            bad_parameter(io, fr, vg_line, "VGPSAT", sl.VGPSAT, "the van Genuchten scale head must be negative");
        }
    } else if (sl.IVGHU == 4) {
        if (!(sl.BCPSAT < 0.0)) {
            bad_parameter(io, fr, bc_line, "BCPSAT", sl.BCPSAT, "the Brooks-Corey air-entry head must be negative");
        }
    }

    wfmt(lst, "(//,5X,"
              "'SATURATED HYDRAULIC CONDUCTIVITY, SPECIFIC STORAGE, AND ',"
              "'POROSITY VALUES',/,"
              "1X,' LAYER MAT.TYPE  X-PERM       Y-PERM       Z-PERM',"
              "'       STORAGE      POROSITY')");
    for (int l = 1; l <= dim.NSTR; ++l) {
        for (int k = 1; k <= dim.NZONE; ++k) {
            fr.read(sl.XPERM(l, k), sl.YPERM(l, k), sl.ZPERM(l, k), sl.STORAGE(l, k), sl.POROSITY(l, k));
            // A negative conductivity or storage turns the flow against the gradient: no
            // solver result could mean anything.
            const std::pair<const char*, double> table[] = {{"X-PERM", sl.XPERM(l, k)},
                                                            {"Y-PERM", sl.YPERM(l, k)},
                                                            {"Z-PERM", sl.ZPERM(l, k)},
                                                            {"STORAGE", sl.STORAGE(l, k)}};
            for (const auto& [name, v] : table) {
                if (v >= 0.0) continue;
                input_error(where(fr, fr.value_line()) + ": layer " + std::to_string(l) + ", material " +
                            std::to_string(k) + ": " + name + " = " + real_text(v) +
                            " is negative (0 or more)");
            }
            // The table is echoed from IPRT1 = 0 on (most readers start at 1).
            if (io.IPRT1 >= 0) {
                wfmt(lst, "(1X,I4,I8,2X,5(1PE13.5))", l, k, sl.XPERM(l, k), sl.YPERM(l, k),
                     sl.ZPERM(l, k), sl.STORAGE(l, k), sl.POROSITY(l, k));
            }
        }
    }
}

}  // namespace nep
