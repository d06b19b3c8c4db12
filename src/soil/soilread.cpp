#include "soil/soilread.h"

#include <cctype>
#include <cstdio>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

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


// The words of a line, as written.
std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> w;
    std::istringstream in(line);
    for (std::string t; in >> t;) w.push_back(t);
    return w;
}

std::string upper(std::string t) {
    for (char& c : t) c = (char)std::toupper((unsigned char)c);
    return t;
}

// The parameters of the chosen model in a record of the CURVES section, with their names.
struct curve_field {
    const char* name;
    double chcurve::*member;
};

std::vector<curve_field> curve_fields(int ivghu) {
    switch (ivghu) {
    case 0:
    case 1: return {{"VGN", &chcurve::VGN}, {"VGRMC", &chcurve::VGRMC}, {"VGPSAT", &chcurve::VGPSAT}};
    case 4: return {{"BCBETA", &chcurve::BCBETA}, {"BCRMC", &chcurve::BCRMC}, {"BCPSAT", &chcurve::BCPSAT}};
    default: {
        std::vector<curve_field> f = {{"HUALFA", &chcurve::HUALFA}, {"HUBETA", &chcurve::HUBETA},
                                      {"HUGAMA", &chcurve::HUGAMA}, {"HUPSIA", &chcurve::HUPSIA},
                                      {"HUSWR", &chcurve::HUSWR}};
        if (ivghu == 2) {
            f.push_back({"HUN", &chcurve::HUN});
        } else {
            f.push_back({"HUA", &chcurve::HUA});
            f.push_back({"HUB", &chcurve::HUB});
        }
        return f;
    }
    }
}

// The CURVES section, optional, after the last record of the table: a line whose first word is
// CURVES and whose second says how the records are given, MATERIAL (NZONE records, one for each
// material type in every layer) or LAYER (NSTR*NZONE records in the order of the table); each
// record holds the parameters of the chosen model. Anything else after the table is passed over,
// as it always was, but a first line whose first word misses CURVES by a letter or two (or,
// after CURVES, whose second word misses MATERIAL or LAYER) stops the run: read as a note, it
// would run the deck with the curves of the whole domain.
void read_curves(const dimensions& dim, iofiles& io, freader& fr, soil& sl) {
    std::vector<std::string> head;
    long head_line = 0;
    while (!fr.at_end() && head.empty()) {
        head_line = fr.line();
        head = words(fr.read_text(0));
    }
    if (head.empty()) return;
    if (upper(head[0]) != "CURVES") {
        if (const char* k = near_keyword(head[0], {"CURVES"})) keyword_miss(fr, head_line, head[0], k);
        return;
    }
    if (head.size() > 1) {
        if (const char* k = near_keyword(head[1], {"MATERIAL", "LAYER"})) keyword_miss(fr, head_line, head[1], k);
    }
    for (std::string& w : head) w = upper(w);
    const std::string file = where(fr, head_line);
    const bool by_layer = head.size() > 1 && head[1] == "LAYER";
    if (!by_layer && !(head.size() > 1 && head[1] == "MATERIAL")) {
        input_error(file + ": expected 'CURVES MATERIAL' (a record for each material type) or "
                    "'CURVES LAYER' (a record for each layer and material type), found '" +
                    (head.size() > 1 ? "CURVES " + head[1] : std::string("CURVES")) + "'");
    }
    const int nstr = dim.NSTR, nzone = dim.NZONE;
    const std::vector<curve_field> fields = curve_fields(sl.IVGHU);
    const bool vg = sl.IVGHU == 0 || sl.IVGHU == 1;
    sl.SOILCH.assign((std::size_t)nstr * (std::size_t)nzone, chcurve{});
    sl.PXVGS.alloc((std::size_t)nstr * (std::size_t)nzone);

    // One record, checked as the curves of the whole domain are and against the porosity of
    // every layer it serves: the residual water content must lie below it.
    auto record = [&](int l0, int l1, int k) {
        chcurve c;
        fr.begin();
        long line = 0;
        for (const curve_field& f : fields) {
            fr.get(c.*f.member);
            if (line == 0) line = fr.value_line();
        }
        fr.finish();
        if (line == 0) line = fr.line() - 1;
        const std::string at = where(fr, line) + ": material " + std::to_string(k) +
                               (by_layer ? ", layer " + std::to_string(l0) : std::string()) + ": ";
        auto bad = [&](const char* name, double v, const std::string& rule) {
            wfmt(io.out(6), std::string("(//,' INPUT ERROR : BAD VALUE ") + name + "',1PE15.5)", v);
            input_error(at + name + " = " + real_text(v) + ", " + rule);
        };
        if (vg && !(c.VGN > 1.0)) bad("VGN", c.VGN, "the van Genuchten exponent must be greater than 1");
        if (vg && !(c.VGPSAT < 0.0)) bad("VGPSAT", c.VGPSAT, "the van Genuchten scale head must be negative");
        if (sl.IVGHU == 4 && !(c.BCPSAT < 0.0)) {
            bad("BCPSAT", c.BCPSAT, "the Brooks-Corey air-entry head must be negative");
        }
        if (sl.IVGHU == 2 || sl.IVGHU == 3) {
            if (!(c.HUSWR >= 0.0 && c.HUSWR < 1.0)) {
                bad("HUSWR", c.HUSWR, "the residual saturation must be 0 or more and below 1");
            }
        }
        const char* rname = vg ? "VGRMC" : "BCRMC";
        const double r = vg ? c.VGRMC : c.BCRMC;
        for (int l = l0; l <= l1; ++l) {
            const double phi = sl.POROSITY(l, k);
            if (!(phi > 0.0)) {
                bad("POROSITY", phi, "layer " + std::to_string(l) +
                                         ": a soil with its own retention curve needs a positive porosity");
            }
            if ((vg || sl.IVGHU == 4) && !(r >= 0.0 && r < phi)) {
                bad(rname, r, "the residual moisture content must be 0 or more and below the porosity " +
                                  real_text(phi) + " of layer " + std::to_string(l));
            }
            sl.SOILCH[(std::size_t)(l - 1) + (std::size_t)(k - 1) * nstr] = c;
        }
    };
    if (by_layer) {
        for (int l = 1; l <= nstr; ++l) {
            for (int k = 1; k <= nzone; ++k) record(l, l, k);
        }
    } else {
        for (int k = 1; k <= nzone; ++k) record(1, nstr, k);
    }

    // The echo: the curves of every soil, in the order of the table.
    ounit& lst = io.out(6);
    std::string names;
    for (const curve_field& f : fields) {
        std::string name = "  " + std::string(f.name);
        names += name + std::string(13 - name.size(), ' ');
    }
    names.erase(names.find_last_not_of(' ') + 1);
    wfmt(lst, "(//,5X,'RETENTION CURVES OF EVERY LAYER AND MATERIAL TYPE (CURVES ',A,')',"
              "/,5X,'A NODE TAKES THE MEAN WATER CONTENT AND KR OF THE SOILS OF ITS TETRAHEDRA',"
              "/,1X,' LAYER MAT.TYPE',A)",
         std::string(by_layer ? "LAYER" : "MATERIAL"), names);
    if (io.IPRT1 < 0) return;
    const std::string row = "(1X,I4,I8,2X," + std::to_string(fields.size()) + "(1PE13.5))";
    std::vector<double> v(fields.size());
    for (int l = 1; l <= nstr; ++l) {
        for (int k = 1; k <= nzone; ++k) {
            const chcurve& c = sl.SOILCH[(std::size_t)(l - 1) + (std::size_t)(k - 1) * nstr];
            for (std::size_t j = 0; j < fields.size(); ++j) v[j] = c.*fields[j].member;
            wfmt(lst, row, l, k, fitem::reals(v.data(), (long)v.size()));
        }
    }
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
    read_curves(dim, io, fr, sl);
}

}  // namespace nep
