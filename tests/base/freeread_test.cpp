// Free-form input: the reading rules the input decks rely on, and the messages for bad input.
#include <gtest/gtest.h>

#include <functional>

#include "base/freeread.h"
#include "base/stop.h"

using namespace nep;

namespace {

freader text(const std::string& s) {
    freader fr;
    fr.open_text(s, "grid file", "grid");
    return fr;
}

std::string error_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const run_stop& s) {
        EXPECT_EQ(s.status, 1);
        return s.message;
    }
    return "(no error)";
}

}  // namespace

TEST(FreeRead, SeparatorsRepeatsAndNulls) {
    freader fr = text("1, 2  3\t4\n10*0.0\n2*7 2* 9\n5,,6\n");
    int a = 0, b = 0, c = 0, d = 0;
    fr.read(a, b, c, d);
    EXPECT_EQ(a, 1); EXPECT_EQ(b, 2); EXPECT_EQ(c, 3); EXPECT_EQ(d, 4);
    arr1<double> z(10, 5.0);
    fr.read(z);
    for (double v : z) EXPECT_EQ(v, 0.0);
    int p = 0, q = 0, r = -1, s = -2, t = 0;
    fr.read(p, q, r, s, t);
    EXPECT_EQ(p, 7); EXPECT_EQ(q, 7); EXPECT_EQ(r, -1); EXPECT_EQ(s, -2); EXPECT_EQ(t, 9);
    int u = 0, v = 99, w = 0;
    fr.read(u, v, w);  // two commas in a row: a null value
    EXPECT_EQ(u, 5); EXPECT_EQ(v, 99); EXPECT_EQ(w, 6);
}

TEST(FreeRead, SlashEndsStatementAndRestOfRecordIsSkipped) {
    // "1 2 / 3" read into three integers leaves the third unchanged.
    freader fr = text("1 2 / 3\n4 5 6 7 8\n9\n");
    int a = 0, b = 0, c = 42;
    fr.read(a, b, c);
    EXPECT_EQ(a, 1); EXPECT_EQ(b, 2); EXPECT_EQ(c, 42);
    int d = 0, e = 0;
    fr.read(d, e);  // 6 7 8 are skipped with the rest of the record
    EXPECT_EQ(d, 4); EXPECT_EQ(e, 5);
    int f = 0;
    fr.read(f);
    EXPECT_EQ(f, 9);
}

TEST(FreeRead, RecordsSpanLinesAndBlankLinesAreSkipped) {
    freader fr = text("1 2\n\n  3\n4\n");
    int a = 0, b = 0, c = 0, d = 0;
    fr.read(a, b, c);
    fr.read(d);
    EXPECT_EQ(c, 3);
    EXPECT_EQ(d, 4);
}

TEST(FreeRead, RealFormsAndLogicals) {
    freader fr = text("1.5E-3 1.5D-3 1.5e-3 1.5d+3 -2 .5 3. 1.5-3 +4.0e2\n"
                      "T F .TRUE. .false. t frost\n");
    double r[9];
    fr.begin();
    for (double& x : r) fr.get(x);
    fr.finish();
    EXPECT_DOUBLE_EQ(r[0], 1.5e-3);
    EXPECT_DOUBLE_EQ(r[1], 1.5e-3);
    EXPECT_DOUBLE_EQ(r[2], 1.5e-3);
    EXPECT_DOUBLE_EQ(r[3], 1500.0);
    EXPECT_DOUBLE_EQ(r[4], -2.0);
    EXPECT_DOUBLE_EQ(r[5], 0.5);
    EXPECT_DOUBLE_EQ(r[6], 3.0);
    EXPECT_DOUBLE_EQ(r[7], 1.5e-3);
    EXPECT_DOUBLE_EQ(r[8], 400.0);
    bool l[6];
    fr.begin();
    for (bool& x : l) fr.get(x);
    fr.finish();
    EXPECT_TRUE(l[0]); EXPECT_FALSE(l[1]); EXPECT_TRUE(l[2]);
    EXPECT_FALSE(l[3]); EXPECT_TRUE(l[4]); EXPECT_FALSE(l[5]);
}

TEST(FreeRead, ErrorsNameFileLineAndValue) {
    EXPECT_EQ(error_of([] {
                  freader fr = text("1 2\n\n3 1.5e3\n");
                  int a, b, c, d;
                  fr.read(a, b);
                  fr.read(c, d);
              }),
              "grid file 'grid' line 3: expected an integer, found '1.5e3'");
    EXPECT_EQ(error_of([] {
                  freader fr = text("0.5 abc\n");
                  double a, b;
                  fr.read(a, b);
              }),
              "grid file 'grid' line 1: expected a real number, found 'abc'");
    EXPECT_EQ(error_of([] {
                  freader fr = text("1 2\n3\n");
                  int a, b, c, d;
                  fr.read(a, b);
                  fr.read(c, d);
              }),
              "grid file 'grid': end of file after line 2, expected an integer");
    EXPECT_EQ(error_of([] {
                  freader fr = text("yes\n");
                  bool a;
                  fr.read(a);
              }),
              "grid file 'grid' line 1: expected a logical (T or F), found 'yes'");
    // An integer beyond 32 bits is refused, not wrapped.
    EXPECT_EQ(error_of([] {
                  freader fr = text("2147483648\n");
                  int a;
                  fr.read(a);
              }),
              "grid file 'grid' line 1: expected an integer, found '2147483648'");
    EXPECT_EQ(error_of([] {
                  freader fr = text("-2147483648 0*3\n");
                  int a, b;
                  fr.read(a, b);
              }),
              "grid file 'grid' line 1: expected an integer, found '0*3'");
}

TEST(FreeRead, RewindAndTextLines) {
    freader fr = text("first name that is longer than forty characters in all\r\nshort  \n");
    EXPECT_EQ(fr.read_text(40), "first name that is longer than forty cha");
    EXPECT_EQ(fr.read_text(40), "short");
    fr.rewind();
    EXPECT_EQ(fr.read_text(5), "first");
    EXPECT_EQ(fr.line(), 2);
}

TEST(FreeRead, AtEndSeesOnlyBlanksAndLineEndsLeft) {
    freader fr = text("1.5\n  2 3 4\n \t\r\n\n  ");
    EXPECT_FALSE(fr.at_end());
    double t = 0.0;
    fr.read(t);
    EXPECT_FALSE(fr.at_end());
    int a = 0, b = 0;
    fr.read(a, b);  // the rest of the line (4) is passed over with the statement
    EXPECT_EQ(b, 3);
    EXPECT_TRUE(fr.at_end());
    // At the end the next statement is the reader's usual end-of-file error.
    EXPECT_EQ(error_of([&] { fr.read(t); }),
              "grid file 'grid': end of file after line 5, expected a real number");

    freader empty = text("");
    EXPECT_TRUE(empty.at_end());
    freader last = text("7");  // a last line without its line end still holds a value
    EXPECT_FALSE(last.at_end());
    last.read(a);
    EXPECT_EQ(a, 7);
    EXPECT_TRUE(last.at_end());
    freader slash = text("  /\n");  // a slash is a (null) statement, not the end of the file
    EXPECT_FALSE(slash.at_end());
}

// Numbers left on a statement's last record are reported once per line, however often the file
// is read; the words of a label are not; a decimal comma that shifted the values stops.
TEST(FreeRead, ValuesLeftUnreadAndDecimalCommas) {
    ounit err;
    err.open_memory();
    read_warnings w;
    w.out = &err;
    const std::string deck = "1 2   NZONE NSTR\n3 4 5 6\n7 8 9 / 10\n1.5 2.5 3.5\n";
    freader fr = text(deck);
    fr.warn_to(&w);
    for (int pass = 0; pass < 2; ++pass) {
        int a = 0, b = 0, c = 0, d = 0;
        double x = 0.0;
        fr.read(a, b);     // a label after the values: silent
        fr.read(a, b);     // 5 and 6 left on line 2
        fr.read(a, b, c);  // a slash ends the statement: what follows it is not data
        fr.read(x, x);     // 3.5 left on line 4
        (void)d;
        fr.rewind();
    }
    EXPECT_EQ(err.str(),
              "nepora3d: warning: grid file 'grid' line 2: 2 values left unread at the end of the "
              "record ('5' ...)\n"
              "nepora3d: warning: grid file 'grid' line 4: 1 value left unread at the end of the "
              "record ('3.5')\n");

    // -1,5000 read as -1 and 5000: the last head is left over, and the comma is named.
    freader ic = text("-1.0 -1,5000 -2.0\n-2.5 -3.0\n");
    ic.warn_to(&w);
    arr1<double> h(5, 0.0);
    EXPECT_EQ(error_of([&] { ic.read(h); }),
              "grid file 'grid' line 2: 1 value left unread at the end of the record ('-3.0'); is "
              "'-1,5000' meant as -1.5000?");
    EXPECT_EQ(h(2), -1.0);
    EXPECT_EQ(h(3), 5000.0);
    // A comma between integers that the record reads in full is a separator, and silent.
    freader nodes = text("1,41\n");
    nodes.warn_to(&w);
    int n1 = 0, n2 = 0;
    nodes.read(n1, n2);
    EXPECT_EQ(n2, 41);
}
