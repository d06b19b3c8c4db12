// The soil file: record order, the echo of the chosen model and of the material table, and the
// stops. The expected listing lines were rendered by gfortran (tools/fortran-format, inputs in
// tests/soil/echo_cases.txt).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

#include "base/stop.h"
#include "run/storage.h"
#include "soil/soilread.h"

using namespace nep;

namespace {

struct soilfile {
    dimensions dim;
    control ctl;
    iofiles io;
    soil sl;

    soilfile(int nstr, int nzone, int iprt1) {
        dim.NSTR = nstr;
        dim.NZONE = nzone;
        dim.N = 1;
        dim.NT = 1;
        alloc_soil(dim, ctl, sl);
        io.IPRT1 = iprt1;
        io.out(6).open_memory();
        io.STDOUT.open_memory();
    }
    void deck(const std::string& text) { io.in(14).open_text(text, "soil file", "soil.dat"); }
    std::string listing() const { return io.OUT[6].str(); }
};

// Runs read_soil and returns the stop it ended with ("" when it returned normally).
std::string read_stop(soilfile& f, int* status = nullptr) {
    try {
        read_soil(f.dim, f.io, f.sl);
    } catch (const run_stop& s) {
        if (status) *status = s.status;
        return s.message.empty() ? "(stop)" : s.message;
    }
    return "";
}

// The seven parameter records with the given model number.
std::string params(const std::string& ivghu) {
    return "-10.0\n" + ivghu +
           "\n"
           "1.8 0.05 -2.5\n"
           "1.5 2.0 0.5 -0.1 0.1\n"
           "3.5\n"
           "0.5 1.2\n"
           "1.3 0.06 -0.4\n";
}

// Rows (l, k) with values that tell layer and material apart.
std::string table(int nstr, int nzone) {
    std::string t;
    for (int l = 1; l <= nstr; ++l) {
        for (int k = 1; k <= nzone; ++k) {
            const std::string lk = std::to_string(l) + "." + std::to_string(k);
            t += lk + "5e-3 " + lk + "6e-3, " + lk + "7e-4 " + lk + "8e-5 0." + std::to_string(l) +
                 std::to_string(k) + "\n";
        }
    }
    return t;
}

const char* kPmin = "\n     PMIN  (AIR DRY PRESSURE HEAD VALUE)           =    -1.00000E+01\n";
const char* kHeading =
    "\n\n     SATURATED HYDRAULIC CONDUCTIVITY, SPECIFIC STORAGE, AND POROSITY VALUES\n"
    "  LAYER MAT.TYPE  X-PERM       Y-PERM       Z-PERM       STORAGE      POROSITY\n";
const char* kRows32 =
    "    1       1    1.15000E-03  1.16000E-03  1.17000E-04  1.18000E-05  1.10000E-01\n"
    "    1       2    1.25000E-03  1.26000E-03  1.27000E-04  1.28000E-05  1.20000E-01\n"
    "    2       1    2.15000E-03  2.16000E-03  2.17000E-04  2.18000E-05  2.10000E-01\n"
    "    2       2    2.25000E-03  2.26000E-03  2.27000E-04  2.28000E-05  2.20000E-01\n"
    "    3       1    3.15000E-03  3.16000E-03  3.17000E-04  3.18000E-05  3.10000E-01\n"
    "    3       2    3.25000E-03  3.26000E-03  3.27000E-04  3.28000E-05  3.20000E-01\n";
const char* kVgBlock =
    "     VGN                                           =     1.80000E+00\n"
    "     VGRMC                                         =     5.00000E-02\n"
    "     VGPSAT                                        =    -2.50000E+00\n";
const char* kHuBlock =
    "     HUALFA                                        =     1.50000E+00\n"
    "     HUBETA                                        =     2.00000E+00\n"
    "     HUGAMA                                        =     5.00000E-01\n"
    "     HUPSIA                                        =    -1.00000E-01\n"
    "     HUSWR                                         =     1.00000E-01\n";

std::string ivghu_line(int v) {
    std::string s = "     IVGHU (0 VG, 1 XVG, 2 HU **n, 3 HU **G, 4 BC) =      ";
    return s + std::to_string(v) + "\n";
}

}  // namespace

TEST(SoilRead, ValuesLandInTheRecordAndTableOrderIsLayerThenMaterial) {
    soilfile f(3, 2, 0);
    f.deck(params("0") + table(3, 2));
    EXPECT_EQ(read_stop(f), "");
    EXPECT_EQ(f.sl.PMIN, -10.0);
    EXPECT_EQ(f.sl.IVGHU, 0);
    EXPECT_EQ(f.sl.VGN, 1.8);
    EXPECT_EQ(f.sl.VGRMC, 0.05);
    EXPECT_EQ(f.sl.VGPSAT, -2.5);
    EXPECT_EQ(f.sl.HUALFA, 1.5);
    EXPECT_EQ(f.sl.HUBETA, 2.0);
    EXPECT_EQ(f.sl.HUGAMA, 0.5);
    EXPECT_EQ(f.sl.HUPSIA, -0.1);
    EXPECT_EQ(f.sl.HUSWR, 0.1);
    EXPECT_EQ(f.sl.HUN, 3.5);
    EXPECT_EQ(f.sl.HUA, 0.5);
    EXPECT_EQ(f.sl.HUB, 1.2);
    EXPECT_EQ(f.sl.BCBETA, 1.3);
    EXPECT_EQ(f.sl.BCRMC, 0.06);
    EXPECT_EQ(f.sl.BCPSAT, -0.4);
    // Six records in the order (1,1), (1,2), (2,1), (2,2), (3,1), (3,2).
    EXPECT_EQ(f.sl.XPERM(1, 2), 1.25e-3);
    EXPECT_EQ(f.sl.YPERM(2, 1), 2.16e-3);
    EXPECT_EQ(f.sl.ZPERM(3, 2), 3.27e-4);
    EXPECT_EQ(f.sl.STORAGE(2, 2), 2.28e-5);
    EXPECT_EQ(f.sl.POROSITY(3, 1), 0.31);
    EXPECT_EQ(f.sl.POROSITY(1, 1), 0.11);
    // IPRT1 = 0 already echoes the rows.
    EXPECT_EQ(f.listing(), std::string(kPmin) + ivghu_line(0) + kVgBlock + kHeading + kRows32);
}

TEST(SoilRead, EachModelEchoesItsOwnParametersOnly) {
    {
        soilfile f(1, 1, -1);
        f.deck(params("1") + table(1, 1));
        EXPECT_EQ(read_stop(f), "");
        EXPECT_EQ(f.listing(), std::string(kPmin) + ivghu_line(1) + kVgBlock + kHeading);
    }
    {
        soilfile f(1, 1, -1);
        f.deck(params("2") + table(1, 1));
        EXPECT_EQ(read_stop(f), "");
        EXPECT_EQ(f.listing(), std::string(kPmin) + ivghu_line(2) + kHuBlock +
                                   "     HUN                                           =     3.50000E+00\n" +
                                   kHeading);
    }
    {
        soilfile f(1, 1, -1);
        f.deck(params("3") + table(1, 1));
        EXPECT_EQ(read_stop(f), "");
        EXPECT_EQ(f.listing(), std::string(kPmin) + ivghu_line(3) + kHuBlock +
                                   "     HUA                                           =     5.00000E-01\n"
                                   "     HUB                                           =     1.20000E+00\n" +
                                   kHeading);
    }
    {
        // Brooks-Corey: only the BC triple is echoed, but all seven records are read.
        soilfile f(1, 1, -1);
        f.deck(params("4") + table(1, 1));
        EXPECT_EQ(read_stop(f), "");
        EXPECT_EQ(f.listing(), std::string(kPmin) + ivghu_line(4) +
                                   "     BCBETA                                        =     1.30000E+00\n"
                                   "     BCRMC                                         =     6.00000E-02\n"
                                   "     BCPSAT                                        =    -4.00000E-01\n" +
                                   kHeading);
        EXPECT_EQ(f.sl.XPERM(1, 1), 1.15e-3);
        EXPECT_EQ(f.sl.VGN, 1.8);
    }
}

TEST(SoilRead, TableRowsAreEchoedFromIprt1ZeroOnAndTheHeadingAlways) {
    {
        soilfile f(3, 2, -1);
        f.deck(params("0") + table(3, 2));
        EXPECT_EQ(read_stop(f), "");
        EXPECT_EQ(f.listing(), std::string(kPmin) + ivghu_line(0) + kVgBlock + kHeading);
        EXPECT_EQ(f.sl.POROSITY(3, 2), 0.32);  // still read
    }
    {
        soilfile f(3, 2, 2);
        f.deck(params("0") + table(3, 2));
        EXPECT_EQ(read_stop(f), "");
        EXPECT_EQ(f.listing(), std::string(kPmin) + ivghu_line(0) + kVgBlock + kHeading + kRows32);
    }
}

TEST(SoilRead, BrooksCoreyNeedsAllSevenParameterRecords) {
    soilfile f(1, 1, 0);
    // The HUN record is missing: every later record moves up by one, the table row becomes the
    // BC record and the table runs past the end of the file.
    f.deck("-10.0\n4\n1.8 0.05 -2.5\n1.5 2.0 0.5 -0.1 0.1\n0.5 1.2\n1.3 0.06 -0.4\n"
           "1e-3 1e-3 -1e-4 1e-5 0.3\n");
    int status = 0;
    const std::string msg = read_stop(f, &status);
    EXPECT_EQ(status, EXIT_ERROR);
    EXPECT_NE(msg.find("soil file 'soil.dat'"), std::string::npos) << msg;
    EXPECT_NE(msg.find("end of file"), std::string::npos) << msg;
}

TEST(SoilRead, BadModelNumberStopsBeforeTheVanGenuchtenRecord) {
    for (int bad : {5, -1}) {
        soilfile f(1, 1, 0);
        // What follows the model number is not even numeric: it must not be read.
        f.deck("-10.0\n  " + std::to_string(bad) + "\nnot a number\n");
        int status = 0;
        const std::string msg = read_stop(f, &status);
        EXPECT_EQ(status, EXIT_ERROR);
        EXPECT_EQ(f.listing(), "\n\n INPUT ERROR : BAD VALUE IVGHU    " + std::string(bad < 0 ? "-1" : " 5") + "\n");
        EXPECT_EQ(msg, "soil file 'soil.dat' line 2: IVGHU = " + std::to_string(bad) +
                           ", the curve model must be 0 (VG), 1 (XVG), 2 or 3 (HU) or 4 (BC)");
    }
}

TEST(SoilRead, UndefinedCurveParametersOfTheChosenModelStop) {
    {
        soilfile f(1, 1, 0);
        f.deck("-10.0\n0\n1.0 0.05 -2.5\n1.5 2.0 0.5 -0.1 0.1\n3.5\n0.5 1.2\n1.3 0.06 -0.4\n" + table(1, 1));
        const std::string msg = read_stop(f);
        EXPECT_EQ(f.listing(), std::string(kPmin) + ivghu_line(0) +
                                   "     VGN                                           =     1.00000E+00\n"
                                   "     VGRMC                                         =     5.00000E-02\n"
                                   "     VGPSAT                                        =    -2.50000E+00\n"
                                   "\n\n INPUT ERROR : BAD VALUE VGN    1.00000E+00\n");
        EXPECT_EQ(msg.rfind("soil file 'soil.dat' line 3: VGN = ", 0), 0u) << msg;
    }
    {
        soilfile f(1, 1, 0);
        f.deck("-10.0\n1\n1.8 0.05 0.0\n1.5 2.0 0.5 -0.1 0.1\n3.5\n0.5 1.2\n1.3 0.06 -0.4\n" + table(1, 1));
        const std::string msg = read_stop(f);
        EXPECT_NE(msg.find("line 3: VGPSAT = "), std::string::npos) << msg;
    }
    {
        soilfile f(1, 1, 0);
        f.deck("-10.0\n4\n1.8 0.05 -2.5\n1.5 2.0 0.5 -0.1 0.1\n3.5\n0.5 1.2\n\n1.3 0.06 0.4\n" + table(1, 1));
        const std::string msg = read_stop(f);
        EXPECT_NE(msg.find("line 8: BCPSAT = "), std::string::npos) << msg;
    }
    {
        // The parameters of models not chosen are not checked.
        soilfile f(1, 1, 0);
        f.deck("-10.0\n4\n0.5 0.05 2.5\n1.5 2.0 0.5 -0.1 0.1\n3.5\n0.5 1.2\n1.3 0.06 -0.4\n" + table(1, 1));
        EXPECT_EQ(read_stop(f), "");
    }
}

TEST(SoilRead, MalformedTableRecordNamesFileAndLine) {
    soilfile f(2, 1, 0);
    f.deck(params("0") + "1e-3 1e-3 1e-4 1e-5 0.3\n1e-3 1e-3 abc 1e-5 0.3\n");
    const std::string msg = read_stop(f);
    EXPECT_EQ(msg, "soil file 'soil.dat' line 9: expected a real number, found 'abc'");
}

TEST(SoilRead, CurvesSectionGivesEverySoilItsOwnCurveAndIsEchoed) {
    // Huyakorn model 3, a record per material type for every layer; the echo lines were rendered
    // by gfortran.
    const std::string curves = "curves material   the two materials\n"
                               "1.5 2.0 0.5 -0.1 0.1 0.5 1.2\n"
                               "0.8 1.6 0.4 -0.2 0.15 0.3 1.1\n";
    soilfile f(2, 2, 0);
    f.deck(params("3") + table(2, 2) + "\n" + curves);
    ASSERT_EQ(read_stop(f), "");
    ASSERT_EQ(f.sl.SOILCH.size(), 4u);
    for (int l = 1; l <= 2; ++l) {
        const chcurve& a = f.sl.SOILCH[l - 1];      // material 1: soil l
        const chcurve& b = f.sl.SOILCH[l - 1 + 2];  // material 2: soil l + NSTR
        EXPECT_EQ(a.HUALFA, 1.5);
        EXPECT_EQ(a.HUB, 1.2);
        EXPECT_EQ(b.HUSWR, 0.15);
        EXPECT_EQ(b.HUA, 0.3);
    }
    const std::string lst = f.listing();
    const std::string echo =
        "\n\n     RETENTION CURVES OF EVERY LAYER AND MATERIAL TYPE (CURVES MATERIAL)\n"
        "     A NODE TAKES THE MEAN WATER CONTENT AND KR OF THE SOILS OF ITS TETRAHEDRA\n"
        "  LAYER MAT.TYPE  HUALFA       HUBETA       HUGAMA       HUPSIA       HUSWR        HUA          HUB\n"
        "    1       1    1.50000E+00  2.00000E+00  5.00000E-01 -1.00000E-01  1.00000E-01  5.00000E-01  1.20000E+00\n"
        "    1       2    8.00000E-01  1.60000E+00  4.00000E-01 -2.00000E-01  1.50000E-01  3.00000E-01  1.10000E+00\n"
        "    2       1    1.50000E+00  2.00000E+00  5.00000E-01 -1.00000E-01  1.00000E-01  5.00000E-01  1.20000E+00\n"
        "    2       2    8.00000E-01  1.60000E+00  4.00000E-01 -2.00000E-01  1.50000E-01  3.00000E-01  1.10000E+00\n";
    ASSERT_GE(lst.size(), echo.size());
    EXPECT_EQ(lst.substr(lst.size() - echo.size()), echo);

    // Text after the table that does not begin with CURVES is passed over as before; a section
    // of another form, or a residual content at the porosity of a layer it serves, stops.
    soilfile plain(2, 2, 0);
    plain.deck(params("3") + table(2, 2) + "notes: the curves of 2019\n" + curves);
    EXPECT_EQ(read_stop(plain), "");
    EXPECT_TRUE(plain.sl.SOILCH.empty());
    // A near miss of the keywords stops with the word as written; a note far from them does not.
    for (auto [head, word, key] : {std::tuple{"Curve LAYER", "Curve", "CURVES"}, {"CRUVES x", "CRUVES", "CURVES"},
                                   {"curves Materials", "Materials", "MATERIAL"}, {"CURVES LAYRE", "LAYRE", "LAYER"}}) {
        soilfile miss(2, 2, 0);
        miss.deck(params("3") + table(2, 2) + head + "\n" + curves);
        EXPECT_EQ(read_stop(miss), std::string("soil file 'soil.dat' line 12: '") + word +
                                       "' is not a keyword: did you mean " + key + "?");
    }
    for (const char* note : {"CUR 2019", "Curvature of the slope", "Layers: sand, clay"}) {
        soilfile far(2, 2, 0);
        far.deck(params("3") + table(2, 2) + note + "\n" + curves);
        EXPECT_EQ(read_stop(far), "") << note;
    }
    soilfile form(2, 2, 0);
    form.deck(params("3") + table(2, 2) + "CURVES\n" + curves);
    EXPECT_EQ(read_stop(form), "soil file 'soil.dat' line 12: expected 'CURVES MATERIAL' (a record for each "
                               "material type) or 'CURVES LAYER' (a record for each layer and material "
                               "type), found 'CURVES'");
    soilfile wet(2, 1, 0);  // porosities 0.11 (layer 1) and 0.21 (layer 2)
    wet.deck(params("0") + table(2, 1) + "CURVES LAYER\n1.8 0.05 -2.5\n1.8 0.21 -2.5\n");
    const std::string msg = read_stop(wet);
    EXPECT_EQ(msg.rfind("soil file 'soil.dat' line 12: material 1, layer 2: VGRMC = 0.21, the residual "
                        "moisture content must be 0 or more and below the porosity 0.21 of layer 2", 0), 0u)
        << msg;
    EXPECT_NE(wet.listing().find("INPUT ERROR : BAD VALUE VGRMC    2.10000E-01"), std::string::npos);
}
