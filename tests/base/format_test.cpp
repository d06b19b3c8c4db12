// The format engine. Expected texts are either the documented examples of the record conventions
// or were printed once by gfortran (../shared/tools/fortran-format) and checked in; the
// differential suite at the end runs gfortran itself over every format string the program uses
// and a few thousand random values, when gfortran is installed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "base/format.h"
#include "base/stop.h"
#include "output/batch.h"

using namespace nep;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

}  // namespace

// ---------------------------------------------------------------------------------------------
// The documented examples

TEST(FormatDocumented, ScaledExponentAndIntegerExamples) {
    EXPECT_EQ(sfmt("(1PE12.4)", 0.0), "  0.0000E+00\n");
    EXPECT_EQ(sfmt("(1PE12.4)", -1.0e-100), " -1.0000-100\n");
    EXPECT_EQ(sfmt("(1PE12.4)", 123.456), "  1.2346E+02\n");
    EXPECT_EQ(sfmt("(I5)", 123456), "*****\n");
    EXPECT_EQ(sfmt("(I2.2)", 7), "07\n");
    EXPECT_EQ(sfmt("(L6)", true), "     T\n");
    EXPECT_EQ(sfmt("(A40)", std::string("x")), std::string(39, ' ') + "x\n");
}

TEST(FormatDocumented, ReversionBreaksLines) {
    std::vector<int> v;
    for (int i = 1; i <= 23; ++i) v.push_back(i * 11);
    std::string got = sfmt("(1X,10I7)", fitem::ints(v.data(), (long)v.size()));
    std::string want;
    for (int i = 1; i <= 23; ++i) {
        if (i % 10 == 1) want += ' ';
        char b[16];
        std::snprintf(b, sizeof b, "%7d", i * 11);
        want += b;
        if (i % 10 == 0 || i == 23) want += '\n';
    }
    EXPECT_EQ(got, want);

    // Two node groups a line: node number and three reals each.
    int node[3] = {1, 2, 3};
    double x[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    std::vector<fitem> items;
    for (int k = 0; k < 3; ++k) {
        items.emplace_back(node[k]);
        items.push_back(fitem::reals(x + 3 * k, 3));
    }
    ounit m;
    m.open_memory();
    write_fmt(m, "(2(1X,I5,3(1PE11.3)))", items.data(), items.size());
    EXPECT_EQ(m.str(),
              "     1  1.000E+00  2.000E+00  3.000E+00     2  4.000E+00  5.000E+00  6.000E+00\n"
              "     3  7.000E+00  8.000E+00  9.000E+00\n");
}

TEST(FormatDocumented, TextSlashesAndExhaustedItems) {
    EXPECT_EQ(sfmt("(  5X,'NODE #''S : ',10I6)", 4, 5), "     NODE #'S :      4     5\n");
    EXPECT_EQ(sfmt("(//,1X,'  IPRT1 = 3: END OF RUN')"), "\n\n   IPRT1 = 3: END OF RUN\n");
    // The list runs out at the second descriptor: the text after it is not written.
    EXPECT_EQ(sfmt("(I6,1PE12.4,'     NSTEP   TIME')", 3), "     3\n");
    EXPECT_EQ(sfmt("(I6,1PE12.4,'     NSTEP   TIME')", 3, 1.5), "     3  1.5000E+00     NSTEP   TIME\n");
    // Text and '/' before the next data descriptor still appear.
    EXPECT_EQ(sfmt("(1X,'C F',1X,8(1PE9.1),/,1X,'P F',1X,8(1PE9.1))", 1.0),
              " C F   1.0E+00\n");
    EXPECT_EQ(sfmt("(1X,' COUPL. SYSTEM CONVERGENCE NOT ACHIEVED IN ',I4,' ITERATIONS',/)", 12),
              "  COUPL. SYSTEM CONVERGENCE NOT ACHIEVED IN   12 ITERATIONS\n\n");
    // Case and blanks mean nothing outside quotes.
    EXPECT_EQ(sfmt("(///,5x,A)", "t"), "\n\n\n     t\n");
    EXPECT_EQ(sfmt("(3(1F12.3))", 1.0, 2.0), "       1.000       2.000\n");
    EXPECT_EQ(sfmt("( 1 P E 1 2 . 4 , i 3 )", 2.0, 7), "  2.0000E+00  7\n");
}

TEST(FormatDocumented, FreeFormRecords) {
    EXPECT_EQ(sfree(" main output"), "  main output\n");
    EXPECT_EQ(sfree(" ERROR: a node value to be replicated", " is greater than number (NNOD) of surface nodes!"),
              "  ERROR: a node value to be replicated is greater than number (NNOD) of surface nodes!\n");
    EXPECT_EQ(sfree(true, false), " T F\n");
}

// ---------------------------------------------------------------------------------------------
// Descriptors, against texts printed by gfortran

TEST(FormatFixed, RoundingLeadingZeroAndSign) {
    EXPECT_EQ(sfmt("(F5.2)", 0.125), " 0.12\n");  // an exact tie, decided on the exact value
    EXPECT_EQ(sfmt("(F5.2)", 0.375), " 0.38\n");
    EXPECT_EQ(sfmt("(F3.0)", 2.5), " 2.\n");
    EXPECT_EQ(sfmt("(F3.0)", 0.5), " 0.\n");
    EXPECT_EQ(sfmt("(F3.0)", 1.5), " 2.\n");
    EXPECT_EQ(sfmt("(F6.1)", -0.0), "  -0.0\n");
    EXPECT_EQ(sfmt("(F6.1)", -0.01), "  -0.0\n");
    EXPECT_EQ(sfmt("(F6.1)", 0.0), "   0.0\n");
    EXPECT_EQ(sfmt("(F4.1)", -0.5), "-0.5\n");
    EXPECT_EQ(sfmt("(F3.1)", -0.5), "-.5\n");
    EXPECT_EQ(sfmt("(F3.1)", 0.5), "0.5\n");
    EXPECT_EQ(sfmt("(F2.1)", 0.5), ".5\n");
    EXPECT_EQ(sfmt("(F2.1)", 0.04), ".0\n");
    EXPECT_EQ(sfmt("(F4.0)", 0.3), "  0.\n");
    EXPECT_EQ(sfmt("(F4.0)", -0.3), " -0.\n");
    EXPECT_EQ(sfmt("(F1.0)", 0.3), "*\n");
    EXPECT_EQ(sfmt("(F2.0)", -0.3), "**\n");
    EXPECT_EQ(sfmt("(F8.2)", 12345.678), "12345.68\n");
    EXPECT_EQ(sfmt("(F8.2)", 123456.78), "********\n");
    EXPECT_EQ(sfmt("(F20.15)", 0.1f), "   0.100000001490116\n");  // a 32-bit real's own digits
}

TEST(FormatExponent, FieldsExponentsAndScale) {
    EXPECT_EQ(sfmt("(E9.4)", 123.456), ".1235E+03\n");
    EXPECT_EQ(sfmt("(E10.4)", 123.456), "0.1235E+03\n");
    EXPECT_EQ(sfmt("(E10.4)", -123.456), "-.1235E+03\n");
    EXPECT_EQ(sfmt("(E11.4)", -123.456), "-0.1235E+03\n");
    EXPECT_EQ(sfmt("(E12.4)", 0.0), "  0.0000E+00\n");
    EXPECT_EQ(sfmt("(E12.4)", -0.0), " -0.0000E+00\n");
    EXPECT_EQ(sfmt("(1PE12.4)", -0.0), " -0.0000E+00\n");
    EXPECT_EQ(sfmt("(1PE12.4)", 9.99995), "  1.0000E+01\n");
    EXPECT_EQ(sfmt("(1PE12.4)", 9.99994999), "  9.9999E+00\n");
    EXPECT_EQ(sfmt("(1PE12.4)", 1.23456e-300), "  1.2346-300\n");
    EXPECT_EQ(sfmt("(E12.4)", 1.23456e-300), "  0.1235-299\n");
    EXPECT_EQ(sfmt("(1PE8.2)", -1.5), "********\n");
    EXPECT_EQ(sfmt("(1PE8.2)", 1.5e100), "1.50+100\n");
    EXPECT_EQ(sfmt("(E12.4E3)", 1.5), " 0.1500E+001\n");
    EXPECT_EQ(sfmt("(2PE12.4)", 1.5), "  15.000E-01\n");
    EXPECT_EQ(sfmt("(-2PE12.4)", 1.5), "  0.0015E+03\n");
    EXPECT_EQ(sfmt("(5PE12.4)", 1.5), "  15000.E-04\n");
    EXPECT_EQ(sfmt("(E20.12,1PE20.12)", 0.1f, 0.1f), "  0.100000001490E+00  1.000000014901E-01\n");
    EXPECT_EQ(sfmt("(1PE16.5)", 5e-324), "     4.94066-324\n");
    // Exact ties go to the even digit, as in F.
    EXPECT_EQ(sfmt("(1PE10.2,E10.1,E10.2)", 1.125, 0.0625, 1.375), "  1.12E+00   6.2E-02  1.38E+00\n");
}

TEST(FormatExponent, ScaleFactorAcrossReversion) {
    // 1P scales F too; 0P restores; on reversion the factor last set stays in force.
    EXPECT_EQ(sfmt("(1PF6.1)", 1.5), "  15.0\n");
    EXPECT_EQ(sfmt("(-1PF6.1)", 1.5), "   0.2\n");
    EXPECT_EQ(sfmt("(F10.3,1PE10.3,F10.3,0PF10.3,E10.3)", 1.5, 1.5, 1.5, 1.5, 1.5, 1.5, 1.5),
              "     1.500 1.500E+00    15.000     1.500 0.150E+01\n"
              "     1.500 1.500E+00\n");
    EXPECT_EQ(sfmt("(I6,1PE10.3,1PE11.4,0PF6.1,2(1PE9.1),0PF6.1,2(1PE9.1),I5)", 1, 2.0, 3.0, 4.0, 5.0, 6.0,
                   7.0, 8.0, 9.0, 10),
              "     1 2.000E+00 3.0000E+00   4.0  5.0E+00  6.0E+00   7.0  8.0E+00  9.0E+00   10\n");
}

TEST(FormatNonFinite, NaNAndInfinityLayouts) {
    EXPECT_EQ(sfmt("(1PE8.2)", kNaN), "     NaN\n");
    EXPECT_EQ(sfmt("(1PE8.2)", kInf), "Infinity\n");
    EXPECT_EQ(sfmt("(1PE8.2)", -kInf), "    -Inf\n");
    EXPECT_EQ(sfmt("(F9.2)", -kInf), "-Infinity\n");
    EXPECT_EQ(sfmt("(F7.2)", kInf), "    Inf\n");
    EXPECT_EQ(sfmt("(F3.2)", kInf), "Inf\n");
    EXPECT_EQ(sfmt("(F3.2)", -kInf), "***\n");
    EXPECT_EQ(sfmt("(F4.2)", -kInf), "-Inf\n");
    EXPECT_EQ(sfmt("(F2.2)", kNaN), "**\n");
}

TEST(FormatInteger, WidthsDigitsAndSigns) {
    EXPECT_EQ(sfmt("(I5.3)", -7), " -007\n");
    EXPECT_EQ(sfmt("(I4.3)", -7), "-007\n");
    EXPECT_EQ(sfmt("(I3.3)", -7), "***\n");
    EXPECT_EQ(sfmt("(I3.0)", 0), "   \n");
    EXPECT_EQ(sfmt("(I3.1)", 0), "  0\n");
    EXPECT_EQ(sfmt("(I0)", -42), "-42\n");
    EXPECT_EQ(sfmt("(I1)", -2), "*\n");
    EXPECT_EQ(sfmt("(I11)", std::numeric_limits<int>::min()), "-2147483648\n");
    EXPECT_EQ(sfmt("(8X,8(I6,1X))", 1, 2), "             1      2\n");
}

TEST(FormatRecords, BlanksTextAndEmptyLists) {
    // Blanks of X are written only when something follows them in the record.
    EXPECT_EQ(sfmt("(I5,5X)", 3), "    3\n");
    EXPECT_EQ(sfmt("(I5,5X,'a')", 3), "    3     a\n");
    EXPECT_EQ(sfmt("(I5,5X,I3)", 3), "    3\n");
    EXPECT_EQ(sfmt("(1X,3X,2X)"), "\n");
    EXPECT_EQ(sfmt("(5X,'A',3X)"), "     A\n");
    EXPECT_EQ(sfmt("(1X,10I7)"), "\n");
    EXPECT_EQ(sfmt("(1X,'abc',10I7)"), " abc\n");
    EXPECT_EQ(sfmt("('abc',/)"), "abc\n\n");
    EXPECT_EQ(sfmt("(/,'abc')"), "\nabc\n");
    EXPECT_EQ(sfmt("(I3,:,'x')", 1), "  1\n");
    EXPECT_EQ(sfmt("(I3,'y',:,'x')", 1), "  1y\n");
    EXPECT_EQ(sfmt("(L6,L1,L3)", true, false, true), "     TF  T\n");
    EXPECT_EQ(sfmt("(A5,'|',A2,'|',A,'|')", "abc", "abc", "abc"), "  abc|ab|abc|\n");
    EXPECT_EQ(sfmt("('it''s',A)", "x"), "it'sx\n");
    // Reversion to the last top-level group, with its repeat count.
    EXPECT_EQ(sfmt("(2I6,2(1PE10.3))", 1, 2, 1.0, 2.0, 3.0, 4.0, 5.0),
              "     1     2 1.000E+00 2.000E+00\n 3.000E+00 4.000E+00\n 5.000E+00\n");
    EXPECT_EQ(sfmt("(/,1X,' INITIAL PRESSURE HEADS',/,(4(I6,2X,1PE11.3)))", 1, -2.0, 2, 0.5),
              "\n  INITIAL PRESSURE HEADS\n     1   -2.000E+00     2    5.000E-01\n");
    EXPECT_EQ(sfmt("(I3,1X,1PE10.3,2X)", 1, 1.0, 2, 2.0), "  1  1.000E+00\n  2  2.000E+00\n");
}

TEST(FormatRecords, ArraysAreTheirElements) {
    arr1<double> a(5);
    for (long i = 1; i <= 5; ++i) a(i) = 0.5 * (double)i;
    arr1<int> n(0);
    std::string whole = sfmt("(I4,2(1PE10.2))", 7, a, n, fitem::ints(nullptr, 0));
    std::string each = sfmt("(I4,2(1PE10.2))", 7, 0.5, 1.0, 1.5, 2.0, 2.5);
    EXPECT_EQ(whole, each);
    EXPECT_EQ(whole, "   7  5.00E-01  1.00E+00\n  1.50E+00  2.00E+00\n  2.50E+00\n");
    float f[2] = {0.1f, -2.5f};
    EXPECT_EQ(sfmt("(2F12.9)", fitem::reals4(f, 2)), " 0.100000001-2.500000000\n");
}

TEST(FormatRecords, MismatchedItemsAndBadFormats) {
    // An item that does not suit its descriptor gives a field of asterisks, never a crash.
    EXPECT_EQ(sfmt("(I4,F5.1,L2,A3)", 1.5, 2, 3, true), std::string(14, '*') + "\n");
    // Items without any data descriptor to take them are ignored.
    EXPECT_EQ(sfmt("('abc')", 5), "abc\n");
    // Reversion to a group that takes no items ends the statement instead of looping.
    EXPECT_EQ(sfmt("(I2,(5X))", 1), " 1\n");
    EXPECT_EQ(sfmt("(I2,(5X))", 1, 2), " 1\n\n");
    for (const char* bad : {"I5", "(I5", "(Q5)", "(F5)", "('abc)", "(I5))", "(-2X)"}) {
        EXPECT_THROW(sfmt(bad, 1), run_stop) << bad;
    }
}

TEST(FormatRecords, CacheComparesTheTextAtAReusedAddress) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "(I4)");
    EXPECT_EQ(sfmt(std::string_view(buf), 5), "   5\n");
    std::snprintf(buf, sizeof buf, "(I2)");
    EXPECT_EQ(sfmt(std::string_view(buf), 5), " 5\n");
    std::snprintf(buf, sizeof buf, "(I4)");
    EXPECT_EQ(sfmt(std::string_view(buf), 5), "   5\n");
    // The same address with a shorter length is another text: "(I4" does not parse.
    EXPECT_THROW(sfmt(std::string_view(buf, 3), 5), run_stop);
    EXPECT_EQ(sfmt(std::string_view(buf), 5), "   5\n");
}

TEST(FormatRecords, TablesFormattedOnThreadsAreThoseOfThePlainLoop) {
    // 10,001 records: chunks on every thread the runtime gives, and a short last round.
    auto record = [](ounit& u, long i) {
        wfmt(u, "(6(1PE15.6))", std::sin(0.1 * i) * 1e3, -1.0 / i, (double)i, 0.5, -0.0, 1e-300 * i);
    };
    ounit plain, tables;
    plain.open_memory();
    tables.open_memory();
    for (long i = 1; i <= 10001; ++i) record(plain, i);
    write_records(tables, 1, 10001, record);
    EXPECT_EQ(tables.str(), plain.str());
}

// ---------------------------------------------------------------------------------------------
// Free-form records, against gfortran's list-directed output

TEST(FormatFree, NumberWidthsAndSeparators) {
    EXPECT_EQ(sfree(5, -123, 2147483647), "           5        -123  2147483647\n");
    EXPECT_EQ(sfree(1.0, -2.5, 1e-100),
              "   1.0000000000000000       -2.5000000000000000        1.0000000000000000E-100\n");
    EXPECT_EQ(sfree(0.0, -0.0), "   0.0000000000000000       -0.0000000000000000     \n");
    EXPECT_EQ(sfree(1e20, 123456789.0), "   1.0000000000000000E+020   123456789.00000000     \n");
    EXPECT_EQ(sfree("ERR= ", 1.5e-3, " > ", "TOLCG= ", 1e-10, " within ", 57, " iterations "),
              " ERR=    1.5000000000000000E-003  > TOLCG=    1.0000000000000000E-010  within           57"
              "  iterations \n");
    EXPECT_EQ(sfree(true, false, "x", true, 3), " T F x T           3\n");
    EXPECT_EQ(sfree(1.5f, 0.1f, 0.1), "   1.50000000      0.100000001      0.10000000000000001     \n");
    EXPECT_EQ(sfree(), "\n");
}

TEST(FormatFree, FixedOrExponentBoundaries) {
    EXPECT_EQ(sfree(0.1), "  0.10000000000000001     \n");
    EXPECT_EQ(sfree(0.09999999999999999), "   9.9999999999999992E-002\n");
    EXPECT_EQ(sfree(1e15), "   1000000000000000.0     \n");
    EXPECT_EQ(sfree(1e16), "   10000000000000000.     \n");
    EXPECT_EQ(sfree(99999999999999990.0), "   99999999999999984.     \n");
    EXPECT_EQ(sfree(1e17), "   1.0000000000000000E+017\n");
    EXPECT_EQ(sfree(kNaN), "                       NaN\n");
    EXPECT_EQ(sfree(kInf, -kInf), "                  Infinity                 -Infinity\n");
    EXPECT_EQ(sfree(0.0999999f), "   9.99998972E-02\n");
    EXPECT_EQ(sfree(1e8f, 1e9f), "   100000000.       1.00000000E+09\n");
    EXPECT_EQ(sfree(1e-40f, 1e38f), "   9.99994610E-41   9.99999968E+37\n");
    EXPECT_EQ(sfree((float)kNaN), "              NaN\n");
}

// ---------------------------------------------------------------------------------------------
// A result file of a million reals (its speed is measured by the benchmark, not here)

TEST(FormatArrays, MillionRealsInOneStatement) {
    std::vector<double> v(1000000);
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> mant(-10.0, 10.0);
    std::uniform_int_distribution<int> ex(-30, 30);
    for (double& x : v) x = mant(rng) * std::pow(10.0, ex(rng));
    ounit m;
    m.open_memory();
    wfmt(m, "(1X,10(1PE12.4))", fitem::reals(v.data(), (long)v.size()));
    // Reversion goes back to the group, so only the first line has the leading blank.
    EXPECT_EQ(m.str().size(), 1 + 100000u * (10 * 12 + 1));
    EXPECT_EQ(m.str().substr(0, 13), sfmt("(1X,1PE12.4)", v[0]).substr(0, 13));
}

// ---------------------------------------------------------------------------------------------
// Differential: the same statements through gfortran (skipped when it is not installed)

namespace {

struct tval {
    explicit tval(char t) : type(t) {}
    char type;  // i, r, s, l, a: the value prefixes of fortran-format
    int i = 0;
    double r = 0.0;
    float f = 0.0f;
    bool l = false;
    std::string a;
};

tval ival(int v) { tval t('i'); t.i = v; return t; }
tval rval(double v) { tval t('r'); t.r = v; return t; }
tval sval(float v) { tval t('s'); t.f = v; return t; }
tval lval(bool v) { tval t('l'); t.l = v; return t; }
tval aval(const std::string& v) { tval t('a'); t.a = v; return t; }

struct dcase {
    dcase(std::string g, std::string f, std::vector<tval> v = {})
        : group(std::move(g)), fmt(std::move(f)), vals(std::move(v)) {}
    std::string group;
    std::string fmt;  // "*": a free-form record
    std::vector<tval> vals;
    std::string expected;  // gfortran's records
    bool seen = false;
};

std::string real_literal(double x) {
    if (std::isnan(x)) return "nan";
    if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
    if (x == 0.0) return std::signbit(x) ? "-0.0" : "0.0";
    char b[40];
    std::snprintf(b, sizeof b, "%.17g", x);  // reads back as the same double
    return b;
}

std::string literal(const tval& v) {
    switch (v.type) {
    case 'i': return "i:" + std::to_string(v.i);
    case 'r': return "r:" + real_literal(v.r);
    case 's': return "s:" + real_literal((double)v.f);  // the float's exact value
    case 'l': return v.l ? "l:T" : "l:F";
    default: return "a:" + v.a;
    }
}

std::string ours(const dcase& c) {
    std::vector<fitem> items;
    for (const tval& v : c.vals) {
        switch (v.type) {
        case 'i': items.emplace_back(v.i); break;
        case 'r': items.emplace_back(v.r); break;
        case 's': items.emplace_back(v.f); break;
        case 'l': items.emplace_back(v.l); break;
        default: items.emplace_back(std::string_view(v.a)); break;
        }
    }
    ounit m;
    m.open_memory();
    if (c.fmt == "*") write_free(m, items.data(), items.size());
    else write_fmt(m, c.fmt, items.data(), items.size());
    return m.str();
}

// The data descriptors of a format in the order one pass uses them ("IEEL..."), and where in that
// list the last top-level group starts: enough to give a format items of the right kinds.
std::string expand(const std::string& f, std::size_t& p, std::size_t* last_group) {
    std::string out;
    auto up = [](char c) { return (char)std::toupper((unsigned char)c); };
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    while (p < f.size()) {
        char c = f[p];
        if (c == ' ' || c == ',' || c == '/' || c == ':') { ++p; continue; }
        if (c == '\'') {
            for (++p; p < f.size(); ++p) {
                if (f[p] != '\'') continue;
                if (p + 1 < f.size() && f[p + 1] == '\'') { ++p; continue; }
                ++p;
                break;
            }
            continue;
        }
        if (c == ')') { ++p; return out; }
        int count = 1;
        if (digit(c) || c == '-' || c == '+') {
            if (!digit(c)) ++p;
            int n = 0;
            while (p < f.size() && (digit(f[p]) || f[p] == ' ')) {
                if (f[p] != ' ') n = n * 10 + (f[p] - '0');
                ++p;
            }
            if (up(f[p]) == 'P') { ++p; continue; }
            count = n;
            c = f[p];
        }
        ++p;
        if (c == '(') {
            std::string g = expand(f, p, nullptr);
            if (last_group) *last_group = out.size();
            for (int k = 0; k < count; ++k) out += g;
            continue;
        }
        char u = up(c);
        if (u == 'X') continue;
        while (p < f.size() && (digit(f[p]) || f[p] == '.' || f[p] == ' ' || (u == 'E' && up(f[p]) == 'E'))) ++p;
        out.append((std::size_t)count, u);
    }
    return out;
}

tval typical(char kind, int k) {
    static const int ints[] = {1, 12, -3, 123, 4567, -890, 12345, 123456, 99999, 7, 0, 2147483647, -2147483647 - 1,
                               -45, 1000000};
    static const double fixed[] = {1.5, 0.25, -0.375, 12.345, 99.995, 1234.5678, 0.0, -0.0, 5.0e-3, 100.0,
                                   123456.789, -9.999, 0.05, 7.0, -1234567.0};
    static const double expo[] = {1.0, -1.0e-100, 123.456, 0.0, 6.02e23, -1.5e-3, 9.99995, 1.0e100, -0.0, 2.5e-7,
                                  1.7e38, 1.0e-300, kNaN, kInf, -kInf, -98765.4321, 0.1, 1.7e-38, 5e-324};
    static const char* texts[] = {"TRANSPORT BC", "FLOW", "a text longer than forty characters, to be cut",
                                  "x", "Neumann"};
    switch (kind) {
    case 'I': return ival(ints[k % (sizeof ints / sizeof *ints)]);
    case 'F': return rval(fixed[k % (sizeof fixed / sizeof *fixed)]);
    case 'E': return rval(expo[k % (sizeof expo / sizeof *expo)]);
    case 'L': return lval(k % 2 == 0);
    default: return aval(texts[k % (sizeof texts / sizeof *texts)]);
    }
}

std::vector<tval> items_for(const std::string& kinds, int offset, std::size_t count) {
    std::vector<tval> v;
    for (std::size_t k = 0; k < count && k < kinds.size(); ++k) v.push_back(typical(kinds[k], offset + (int)k));
    return v;
}

void add_program_formats(std::vector<dcase>& cases) {
    std::ifstream in(std::string(NEPORA_SOURCE_DIR) + "/tests/base/quoted_formats.txt");
    std::string f;
    while (std::getline(in, f)) {
        if (f.empty() || f[0] == '#') continue;
        std::size_t p = f.find('(') + 1;
        std::size_t last = 0;  // reversion repeats the descriptors from the last top-level group on
        std::string pass = expand(f, p, &last);
        std::string tail = pass.substr(last);
        cases.push_back({"program", f, items_for(pass, 0, pass.size())});
        cases.push_back({"program", f, items_for(pass, 7, pass.size())});
        cases.push_back({"program", f, {}});
        if (!pass.empty()) cases.push_back({"program", f, items_for(pass, 3, pass.size() / 2)});
        if (!tail.empty()) {  // (gfortran stops with an error when reversion finds no descriptor)
            std::string more = pass + tail + tail.substr(0, (tail.size() + 1) / 2);
            cases.push_back({"program", f, items_for(more, 11, more.size())});
        }
    }
}

double random_real(std::mt19937_64& rng, int lo, int hi) {
    std::uniform_real_distribution<double> mant(1.0, 10.0);
    std::uniform_int_distribution<int> ex(lo, hi);
    std::uniform_int_distribution<int> pick(0, 99);
    int p = pick(rng);
    if (p < 6) {
        static const double special[] = {0.0, -0.0, kNaN, kInf, -kInf, 5e-324};
        return special[p];
    }
    double x = mant(rng) * std::pow(10.0, ex(rng));
    if (p < 20) {  // a short decimal, to land on or next to a rounding boundary
        char b[40];
        std::snprintf(b, sizeof b, "%.*e", pick(rng) % 6, x);
        x = std::strtod(b, nullptr);
        if (p < 13) x = std::nextafter(x, p % 2 ? kInf : -kInf);
    }
    return pick(rng) < 50 ? -x : x;
}

void add_random(std::vector<dcase>& cases) {
    std::mt19937_64 rng(20240607);
    const int per_case = 20;
    for (const char* d : {"I2", "I3", "I4", "I5", "I6", "I7", "I8", "I9", "I11", "I2.2", "I5.3", "I0"}) {
        for (int c = 0; c < 2; ++c) {
            dcase k{"integer", std::string("(") + d + ")"};
            std::uniform_int_distribution<int> digits(0, 10), sign(0, 1);
            for (int i = 0; i < per_case; ++i) {
                long long v = (long long)std::pow(10.0, std::uniform_real_distribution<double>(0, digits(rng))(rng));
                if (v > 2147483647LL) v = 2147483647LL;
                k.vals.push_back(ival(sign(rng) ? -(int)v : (int)v));
            }
            cases.push_back(k);
        }
    }
    for (const char* d : {"F6.1", "F6.2", "F8.2", "F12.3", "F10.3", "F5.2", "F3.0", "F4.1", "F15.6", "F9.4",
                          "F7.0"}) {
        for (int c = 0; c < 3; ++c) {
            dcase k{"fixed", std::string("(") + d + ")"};
            for (int i = 0; i < per_case; ++i) k.vals.push_back(rval(random_real(rng, c == 2 ? -120 : -9, c == 2 ? 120 : 9)));
            cases.push_back(k);
        }
    }
    for (const char* d : {"9.1", "10.2", "10.3", "11.3", "11.4", "12.4", "12.5", "13.5", "15.4", "15.5", "15.6",
                          "16.8", "18.10", "13.4", "8.2", "8.1", "9.3", "11.2", "16.5", "12.6", "10.4"}) {
        for (const char* scale : {"", "1P"}) {
            for (int c = 0; c < 3; ++c) {
                dcase k{"exponent", std::string("(") + scale + "E" + d + ")"};
                for (int i = 0; i < per_case; ++i) k.vals.push_back(rval(random_real(rng, -120, 120)));
                cases.push_back(k);
            }
        }
    }
    for (const char* f : {"(1PE12.4)", "(E15.6)", "(F12.3)", "(1PE15.6)", "(F8.2)", "(1PE9.1)", "(E16.8)"}) {
        for (int c = 0; c < 2; ++c) {
            dcase k{"real4", f};
            for (int i = 0; i < per_case; ++i) k.vals.push_back(sval((float)random_real(rng, -44, 37)));
            cases.push_back(k);
        }
    }
    // Decimal ties and their binary neighbours.
    const char* ties[] = {"9.99995", "0.5", "2.5e-7", "0.125", "0.375", "2.5", "1.5", "9.9995", "99.995", "0.05",
                          "0.95", "9.5", "999.95", "0.99995", "1e-5", "1e100", "9.999995e99", "9.99995e-100",
                          "1e-99", "1e-100", "0.1", "1e10", "0.0625", "1.25", "8.5", "1234.5675", "0.45", "9.95"};
    for (const char* f : {"(F6.1)", "(F6.2)", "(F8.2)", "(F12.3)", "(F3.0)", "(1PE12.4)", "(1PE11.3)", "(E12.4)",
                          "(1PE9.1)", "(1PE15.6)", "(E10.3)", "(1PE10.2)", "(F10.3)"}) {
        dcase k{"boundary", f};
        for (const char* t : ties) {
            double x = std::strtod(t, nullptr);
            for (double v : {x, -x, std::nextafter(x, 0.0), std::nextafter(x, kInf)}) k.vals.push_back(rval(v));
        }
        cases.push_back(k);
    }
    // Free-form records: numbers of every kind, logicals and texts in any order.
    const char* texts[] = {" main output", "ERR= ", " > ", "x", "STOP -- SUBROUTINE NSYSLV:", " r0="};
    for (int c = 0; c < 60; ++c) {
        dcase k{"free", "*"};
        int n = 1 + (int)(rng() % 8);
        for (int i = 0; i < n; ++i) {
            switch (rng() % 5) {
            case 0: k.vals.push_back(ival((int)(rng() % 2000001) - 1000000)); break;
            case 1: k.vals.push_back(rval(random_real(rng, -310, 307))); break;
            case 2: k.vals.push_back(sval((float)random_real(rng, -44, 37))); break;
            case 3: k.vals.push_back(lval(rng() % 2 == 0)); break;
            default: k.vals.push_back(aval(texts[rng() % 6])); break;
            }
        }
        cases.push_back(k);
    }
    {
        dcase k{"free", "*"};
        for (double x : {0.1, 1e16, 1e17, 99999999999999984.0, 0.09999999999999999, 123456789012345678.0})
            k.vals.push_back(rval(x));
        for (float x : {0.1f, 1e8f, 1e9f, 99999990.0f, 0.099999994f}) k.vals.push_back(sval(x));
        cases.push_back(k);
    }
}

// Runs every case through gfortran and stores its records in the cases; "" or what went wrong.
std::string run_gfortran(const std::string& tool, std::vector<dcase>& cases) {
    std::string base = ::testing::TempDir() + "nepora_format_" + std::to_string(getpid());
    {
        std::ofstream batch(base + ".in");
        for (const dcase& c : cases) {
            batch << c.fmt;
            for (const tval& v : c.vals) batch << '\t' << literal(v);
            batch << '\n';
        }
    }
    std::string cmd = "'" + tool + "' --batch '" + base + ".in' > '" + base + ".out' 2> '" + base + ".err'";
    int rc = std::system(cmd.c_str());
    std::ifstream out(base + ".out");
    std::string line, last_case;
    dcase* cur = nullptr;
    while (std::getline(out, line)) {
        if (line.rfind("@@ ", 0) == 0) {
            std::size_t k = std::stoul(line.substr(3));
            cur = k >= 1 && k <= cases.size() ? &cases[k - 1] : nullptr;
            if (cur) {
                cur->seen = true;
                last_case = cur->fmt;
                for (const tval& v : cur->vals) last_case += " " + literal(v);
            }
        } else if (cur) {
            cur->expected += line + "\n";
        }
    }
    std::string failure;
    if (rc != 0) {
        std::ifstream err(base + ".err");
        std::stringstream e;
        e << err.rdbuf();
        failure = "fortran-format failed (status " + std::to_string(rc) + ") at " + last_case + ": " +
                  e.str().substr(0, 300);
    }
    for (const char* ext : {".in", ".out", ".err"}) std::remove((base + ext).c_str());
    return failure;
}

// Compares every case of a group with gfortran's records; reports the first differences.
void compare(const std::vector<dcase>& cases, const std::string& group, std::size_t at_least) {
    std::size_t n = 0, values = 0, bad = 0;
    for (const dcase& c : cases) {
        if (c.group != group) continue;
        ++n;
        values += c.vals.size();
        ASSERT_TRUE(c.seen) << "gfortran printed nothing for " << c.fmt;
        std::string got = ours(c);
        if (got == c.expected) continue;
        if (++bad <= 12) {
            std::string vals;
            for (const tval& v : c.vals) vals += " " + literal(v);
            std::istringstream a(c.expected), b(got);
            std::string la, lb;
            int record = 0;
            for (;;) {
                ++record;
                bool ha = (bool)std::getline(a, la), hb = (bool)std::getline(b, lb);
                if (!ha) la = "(none)";
                if (!hb) lb = "(none)";
                if (la != lb || (!ha && !hb)) break;
            }
            ADD_FAILURE() << "format " << c.fmt << " with" << vals << "\n first difference in record " << record
                          << ":\n gfortran [" << la << "]\n ours     [" << lb << "]\n all of gfortran's:\n"
                          << c.expected << " all of ours:\n" << got;
        }
    }
    EXPECT_EQ(bad, 0u) << bad << " of " << n << " cases differ";
    EXPECT_GE(n, at_least);
    std::printf("[          ] %s: %zu cases, %zu values, %zu differ\n", group.c_str(), n, values, bad);
}

}  // namespace

// One test, so that gfortran compiles the whole battery once (ctest runs every test alone).
TEST(FormatDifferential, AgreesWithGfortranByteForByte) {
    // The tool lives beside the checkout; NEPORA_FORTRAN_FORMAT names it for a clone elsewhere.
    std::string tool = std::string(NEPORA_SOURCE_DIR) + "/../shared/tools/fortran-format";
    const char* others[] = {std::getenv("NEPORA_FORTRAN_FORMAT"), "/work/shared/tools/fortran-format"};
    for (const char* other : others) {
        if (access(tool.c_str(), X_OK) != 0 && other != nullptr) tool = other;
    }
    if (access(tool.c_str(), X_OK) != 0) GTEST_SKIP() << "no fortran-format tool";
    if (std::system("command -v gfortran >/dev/null 2>&1") != 0) GTEST_SKIP() << "gfortran is not installed";
    std::vector<dcase> cases;
    add_program_formats(cases);
    add_random(cases);
    std::string failure = run_gfortran(tool, cases);
    ASSERT_TRUE(failure.empty()) << failure;
    const std::pair<const char*, std::size_t> groups[] = {
        {"program", 800}, {"integer", 24}, {"fixed", 33}, {"exponent", 126},
        {"real4", 14},    {"boundary", 13}, {"free", 61}};
    for (const auto& g : groups) {
        SCOPED_TRACE(g.first);
        compare(cases, g.first, g.second);
    }
}
