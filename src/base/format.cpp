// The format engine. A format string is parsed once into a flat list of operations (a program) and
// kept in a cache keyed by its text; a write statement then runs the program over its items.
//
// Every number is converted exactly (std::to_chars with a precision gives the decimal digits of the
// stored binary value rounded to nearest, the characters of printf's %e and %f at some three times
// their speed, which counts in the nodal listings of large meshes), and the field is then laid out
// the way the gfortran runtime lays it out: optional leading zeros, the three-digit exponent
// without its letter, asterisks for a field that is too narrow, NaN and Infinity/Inf.
#include "base/format.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/stop.h"

namespace nep {

fitem::fitem(const char* v) : kind(TEXT), n((long)std::strlen(v)), s(v) {}

namespace {

// |x| (x is finite) to prec places in the style of printf's %.*e or %.*f; the length written.
int exact_digits(char* buf, std::size_t size, double x, std::chars_format style, int prec) {
    const auto r = std::to_chars(buf, buf + size - 1, std::fabs(x), style, prec);
    *r.ptr = '\0';
    return (int)(r.ptr - buf);
}

// ---------------------------------------------------------------------------------------------
// The parsed form of a format

enum opcode : unsigned char {
    OP_TEXT,   // quoted text: texts[arg, arg + len)
    OP_SKIP,   // nX: arg blanks
    OP_SLASH,  // rep record ends
    OP_COLON,  // stop here when the items are exhausted
    OP_SCALE,  // kP: scale factor arg
    OP_OPEN,   // group opening, repeated rep times; arg = index of its OP_CLOSE
    OP_CLOSE,  // group closing; arg = index of its OP_OPEN
    OP_I,      // Iw, Iw.m (has_d: m given)
    OP_F,      // Fw.d
    OP_E,      // Ew.d, Ew.dEe
    OP_L,      // Lw
    OP_A       // A, Aw (has_d: w given)
};

struct fop {
    opcode code;
    bool has_d = false;
    int rep = 1;
    int w = 0, d = 0, e = 0;
    int arg = 0;
    int len = 0;
};

constexpr int kMaxDepth = 32;  // nesting of groups

struct fprogram {
    std::string source;
    std::vector<fop> ops;
    std::string texts;
    std::size_t revert = 0;  // where format reversion resumes: the last top-level group, or 0
    bool has_data = false;
};

[[noreturn]] void bad_format(std::string_view fmt, std::size_t pos, const char* what) {
    throw run_stop{EXIT_ERROR, "internal error: bad format \"" + std::string(fmt) + "\" at column " +
                                   std::to_string(pos + 1) + ": " + what};
}

class parser {
public:
    parser(std::string_view s, fprogram& pg) : s_(s), pg_(pg) {}

    void parse() {
        if (peek() != '(') fail("expected '('");
        ++p_;
        int opens[kMaxDepth];
        int depth = 0;
        long last_top = -1;
        for (;;) {
            char c = peek();
            if (c == '\0') fail("missing ')'");
            if (c == ',') { ++p_; continue; }
            if (c == ')') {
                ++p_;
                if (depth == 0) break;
                int o = opens[--depth];
                fop close{OP_CLOSE};
                close.arg = o;
                pg_.ops[o].arg = (int)pg_.ops.size();
                pg_.ops.push_back(close);
                if (depth == 0) last_top = o;
                continue;
            }
            if (c == '\'' || c == '"') { quoted(c); continue; }
            if (c == '/') { ++p_; add(OP_SLASH); continue; }
            if (c == ':') { ++p_; add(OP_COLON); continue; }

            int count = 1;
            bool counted = false;
            if (c == '+' || c == '-' || is_digit(c)) {
                bool sign = c == '+' || c == '-';
                bool minus = c == '-';
                if (sign) ++p_;
                int n = number();
                if (upper(peek()) == 'P') {  // scale factor; a descriptor or count may follow directly
                    ++p_;
                    fop o{OP_SCALE};
                    o.arg = minus ? -n : n;
                    pg_.ops.push_back(o);
                    continue;
                }
                if (sign) fail("sign without P");
                if (n == 0) fail("zero count");
                count = n;
                counted = true;
            }
            c = upper(peek());
            if (c == '(') {
                ++p_;
                if (depth == kMaxDepth) fail("groups nested too deeply");
                opens[depth++] = (int)pg_.ops.size();
                add(OP_OPEN).rep = count;
            } else if (c == '/') {
                ++p_;
                add(OP_SLASH).rep = count;
            } else if (c == 'X') {
                ++p_;
                add(OP_SKIP).arg = counted ? count : 1;
            } else if (c == 'I' || c == 'F' || c == 'E' || c == 'L' || c == 'A') {
                ++p_;
                descriptor(c, count);
            } else {
                fail("unknown edit descriptor");
            }
        }
        if (depth != 0) fail("unbalanced parentheses");
        if (peek() != '\0') fail("text after the closing ')'");
        pg_.revert = last_top >= 0 ? (std::size_t)last_top : 0;
    }

private:
    static bool is_digit(char c) { return c >= '0' && c <= '9'; }
    static char upper(char c) { return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c; }

    // The next significant character (blanks outside quotes mean nothing), '\0' at the end.
    char peek() {
        while (p_ < s_.size() && (s_[p_] == ' ' || s_[p_] == '\t')) ++p_;
        return p_ < s_.size() ? s_[p_] : '\0';
    }

    int number() {
        if (!is_digit(peek())) fail("expected a number");
        long n = 0;
        while (is_digit(peek())) {
            n = n * 10 + (s_[p_++] - '0');
            if (n > 100000000) fail("number too large");
        }
        return (int)n;
    }

    fop& add(opcode c) {
        fop o{c};
        pg_.ops.push_back(o);
        return pg_.ops.back();
    }

    void quoted(char q) {
        ++p_;
        std::size_t start = pg_.texts.size();
        for (;;) {
            if (p_ >= s_.size()) fail("unterminated text");
            char c = s_[p_++];
            if (c == q) {
                if (p_ < s_.size() && s_[p_] == q) {
                    pg_.texts.push_back(q);
                    ++p_;
                    continue;
                }
                break;
            }
            pg_.texts.push_back(c);
        }
        fop& o = add(OP_TEXT);
        o.arg = (int)start;
        o.len = (int)(pg_.texts.size() - start);
    }

    void descriptor(char c, int count) {
        fop o{OP_A};
        o.rep = count;
        pg_.has_data = true;
        switch (c) {
        case 'I':
            o.code = OP_I;
            o.w = number();
            if (peek() == '.') { ++p_; o.d = number(); o.has_d = true; }
            break;
        case 'F':
        case 'E':
            o.code = c == 'F' ? OP_F : OP_E;
            o.w = number();
            if (peek() != '.') fail("expected '.'");
            ++p_;
            o.d = number();
            if (c == 'E' && upper(peek()) == 'E') {
                ++p_;
                o.e = number();
                if (o.e == 0) fail("zero exponent width");
            }
            break;
        case 'L':
            o.code = OP_L;
            o.w = number();
            break;
        default:
            o.code = OP_A;
            if (is_digit(peek())) { o.w = number(); o.has_d = true; }
            break;
        }
        pg_.ops.push_back(o);
    }

    [[noreturn]] void fail(const char* what) { bad_format(s_, p_, what); }

    std::string_view s_;
    fprogram& pg_;
    std::size_t p_ = 0;
};

// The cache. Call sites pass string literals, so a format is almost always found by the address
// of its text; the text is compared all the same, because a buffer may be reused for another
// format. Each thread keeps its own cache, so that threads can format records side by side (into
// units of their own); a program lives as long as its thread.
struct program_cache {
    std::unordered_map<std::string_view, std::unique_ptr<fprogram>> by_text;  // keys view source
    std::unordered_map<const char*, const fprogram*> by_address;
};

const fprogram& program_for(std::string_view fmt) {
    static thread_local program_cache cache;
    auto a = cache.by_address.find(fmt.data());
    if (a != cache.by_address.end() && a->second->source == fmt) return *a->second;
    const fprogram* pg;
    auto t = cache.by_text.find(fmt);
    if (t != cache.by_text.end()) {
        pg = t->second.get();
    } else {
        auto fresh = std::make_unique<fprogram>();
        fresh->source.assign(fmt.data(), fmt.size());
        parser(fresh->source, *fresh).parse();
        pg = fresh.get();
        cache.by_text.emplace(std::string_view(pg->source), std::move(fresh));
    }
    if (cache.by_address.size() >= 4096) cache.by_address.clear();  // formats built at run time
    cache.by_address[fmt.data()] = pg;
    return *pg;
}

// ---------------------------------------------------------------------------------------------
// Items, one value at a time (an array item gives its elements in order)

struct value {
    fitem::kind_t kind;  // INT, REAL, REAL4, LOGICAL or TEXT
    int i = 0;
    double r = 0.0;
    float f = 0.0f;
    bool l = false;
    const char* s = nullptr;
    long n = 0;
};

class cursor {
public:
    cursor(const fitem* items, std::size_t n) : it_(items), end_(items + n) {}

    bool more() {
        while (it_ != end_ && is_array(it_->kind) && k_ >= it_->n) { ++it_; k_ = 0; }
        return it_ != end_;
    }

    // The next value; more() must have been true.
    value next() {
        value v;
        switch (it_->kind) {
        case fitem::INTS: v.kind = fitem::INT; v.i = it_->ip[k_++]; return v;
        case fitem::REALS: v.kind = fitem::REAL; v.r = it_->rp[k_++]; return v;
        case fitem::REAL4S: v.kind = fitem::REAL4; v.f = it_->fp[k_++]; return v;
        case fitem::INT: v.kind = fitem::INT; v.i = it_->i; break;
        case fitem::REAL: v.kind = fitem::REAL; v.r = it_->r; break;
        case fitem::REAL4: v.kind = fitem::REAL4; v.f = it_->f; break;
        case fitem::LOGICAL: v.kind = fitem::LOGICAL; v.l = it_->l; break;
        case fitem::TEXT: v.kind = fitem::TEXT; v.s = it_->s; v.n = it_->n; break;
        }
        ++it_;
        return v;
    }

private:
    static bool is_array(fitem::kind_t k) { return k == fitem::INTS || k == fitem::REALS || k == fitem::REAL4S; }
    const fitem* it_;
    const fitem* end_;
    long k_ = 0;  // next element of the current array
};

// ---------------------------------------------------------------------------------------------
// Fields

void put_fill(ounit& u, char c, long n) {
    static const char blanks[] = "                                                                ";
    static const char stars[] = "****************************************************************";
    const char* src = c == ' ' ? blanks : stars;
    while (n > 0) {
        long k = n < 64 ? n : 64;
        u.put(std::string_view(src, (std::size_t)k));
        n -= k;
    }
}

// Writes a number right-justified in w columns (w = 0: no padding). The body is the number without
// its sign; opt_zero means that a "0" may stand before the point when there is room for it.
void put_number(ounit& u, int w, bool neg, bool opt_zero, const char* body, int len) {
    int need = len + (neg ? 1 : 0);
    if (w > 0 && need > w) { put_fill(u, '*', w); return; }
    bool zero = opt_zero && (w == 0 || need < w);
    if (zero) ++need;
    if (w > need) put_fill(u, ' ', w - need);
    if (neg) u.put('-');
    if (zero) u.put('0');
    u.put(std::string_view(body, (std::size_t)len));
}

// NaN and infinities in a real field of width w, as gfortran writes them.
void put_nonfinite(ounit& u, int w, double x) {
    const char* t;
    if (std::isnan(x)) {
        t = "NaN";
    } else if (std::signbit(x)) {
        if (w > 0 && w < 4) { put_fill(u, '*', w); return; }
        t = (w == 0 || w > 8) ? "-Infinity" : "-Inf";
    } else {
        t = (w == 0 || w > 7) ? "Infinity" : "Inf";
    }
    int len = (int)std::strlen(t);
    if (w > 0 && len > w) { put_fill(u, '*', w); return; }
    if (w > len) put_fill(u, ' ', w - len);
    u.put(std::string_view(t, (std::size_t)len));
}

void edit_int(ounit& u, const fop& o, int v) {
    char digits[16];
    int nd = 0;
    unsigned long mag = v < 0 ? 0ul - (unsigned long)(long)v : (unsigned long)v;
    if (!(o.has_d && o.d == 0 && mag == 0)) {  // Iw.0 writes zero as blanks only
        char rev[16];
        int k = 0;
        do { rev[k++] = (char)('0' + mag % 10); mag /= 10; } while (mag != 0);
        while (nd < k) { digits[nd] = rev[k - 1 - nd]; ++nd; }
    }
    int zeros = o.has_d && o.d > nd ? o.d - nd : 0;
    int need = nd + zeros + (v < 0 ? 1 : 0);
    if (o.w > 0 && need > o.w) { put_fill(u, '*', o.w); return; }
    if (o.w > need) put_fill(u, ' ', o.w - need);
    if (v < 0) u.put('-');
    for (int k = 0; k < zeros; ++k) u.put('0');
    u.put(std::string_view(digits, (std::size_t)nd));
}

// Fw.d under scale factor k: the value times 10**k with d decimals, rounded to nearest.
void edit_fixed(ounit& u, int w, int d, int k, double x) {
    if (!std::isfinite(x)) { put_nonfinite(u, w, x); return; }
    int prec = d + k;
    if (prec < 0 || prec > 350 || d > 300) { put_fill(u, '*', w > 0 ? w : 1); return; }
    char tmp[720];
    int n = exact_digits(tmp, sizeof tmp, x, std::chars_format::fixed, prec);
    // The digits of |x| rounded at 10**-(d+k); the point moves k places to the right.
    char dig[720];
    int nd = 0, nint = -1;
    for (int i = 0; i < n; ++i) {
        if (tmp[i] == '.') nint = nd;
        else dig[nd++] = tmp[i];
    }
    if (nint < 0) nint = nd;
    int point = nint + k;
    char body[1024];
    int len = 0;
    int first = 0;
    if (point > 0) {
        while (first < point && dig[first] == '0') ++first;  // leading zeros of the integer part
        for (int i = first; i < point; ++i) body[len++] = dig[i];
    }
    bool opt_zero = false;
    if (len == 0) {
        if (d == 0) body[len++] = '0';  // "0." needs its zero
        else opt_zero = true;
    }
    body[len++] = '.';
    for (int i = point; i < 0; ++i) body[len++] = '0';
    for (int i = point > 0 ? point : 0; i < nd; ++i) body[len++] = dig[i];
    put_number(u, w, std::signbit(x), opt_zero, body, len);
}

// Ew.d and Ew.dEe under scale factor k.
void edit_exp(ounit& u, int w, int d, int e, int k, double x) {
    if (!std::isfinite(x)) { put_nonfinite(u, w, x); return; }
    int ndig = k > 0 ? d + 1 : d + k;  // significant digits shown
    if (k > d + 1 || ndig < 1 || d > 100) { put_fill(u, '*', w > 0 ? w : 1); return; }
    double a = std::fabs(x);
    char tmp[160];
    exact_digits(tmp, sizeof tmp, a, std::chars_format::scientific, ndig - 1);
    char dig[128];
    int nd = 0;
    const char* q = tmp;
    for (; *q != 'e'; ++q)
        if (*q != '.') dig[nd++] = *q;
    int expo = a == 0.0 ? 0 : std::atoi(q + 1) + 1 - k;

    char body[300];
    int len = 0;
    bool opt_zero = false;
    if (k > 0) {
        for (int i = 0; i < k; ++i) body[len++] = dig[i];
        body[len++] = '.';
        for (int i = k; i < nd; ++i) body[len++] = dig[i];
    } else {
        opt_zero = true;
        body[len++] = '.';
        for (int i = 0; i < -k; ++i) body[len++] = '0';
        for (int i = 0; i < nd; ++i) body[len++] = dig[i];
    }
    int ax = expo < 0 ? -expo : expo;
    char sign = expo < 0 ? '-' : '+';
    int edigits;
    if (e == 0) {
        if (ax <= 99) {
            body[len++] = 'E';
            edigits = 2;
        } else if (ax <= 999) {
            edigits = 3;  // the letter gives way to the third digit
        } else {
            put_fill(u, '*', w > 0 ? w : 1);
            return;
        }
    } else {
        long limit = 1;
        for (int i = 0; i < e && limit <= 1000; ++i) limit *= 10;
        if (e > 40 || ax >= limit) { put_fill(u, '*', w > 0 ? w : 1); return; }
        body[len++] = 'E';
        edigits = e;
    }
    body[len++] = sign;
    for (int i = edigits - 1; i >= 0; --i) {
        body[len + i] = (char)('0' + ax % 10);
        ax /= 10;
    }
    len += edigits;
    put_number(u, w, std::signbit(x), opt_zero, body, len);
}

void edit(ounit& u, const fop& o, const value& v, int scale) {
    switch (o.code) {
    case OP_I:
        if (v.kind == fitem::INT) { edit_int(u, o, v.i); return; }
        break;
    case OP_F:
    case OP_E:
        if (v.kind == fitem::REAL || v.kind == fitem::REAL4) {
            double x = v.kind == fitem::REAL ? v.r : (double)v.f;  // exact: a float's own digits
            if (o.code == OP_F) edit_fixed(u, o.w, o.d, scale, x);
            else edit_exp(u, o.w, o.d, o.e, scale, x);
            return;
        }
        break;
    case OP_L:
        if (v.kind == fitem::LOGICAL) {
            if (o.w > 1) put_fill(u, ' ', o.w - 1);
            u.put(v.l ? 'T' : 'F');
            return;
        }
        break;
    case OP_A:
        if (v.kind == fitem::TEXT) {
            if (!o.has_d) {
                u.put(std::string_view(v.s, (std::size_t)v.n));
            } else if (v.n < o.w) {
                put_fill(u, ' ', o.w - v.n);
                u.put(std::string_view(v.s, (std::size_t)v.n));
            } else {
                u.put(std::string_view(v.s, (std::size_t)o.w));
            }
            return;
        }
        break;
    default:
        break;
    }
    // An item that does not suit its descriptor (never done on purpose): a field of asterisks.
    put_fill(u, '*', o.w > 0 ? o.w : 1);
}

void run(ounit& u, const fprogram& pg, const fitem* items, std::size_t nitems) {
    cursor cur(items, nitems);
    struct frame {
        std::size_t open;
        int left;
    };
    frame stack[kMaxDepth];
    int sp = 0;
    int scale = 0;
    long pending = 0;     // blanks of X: written only when something follows in the same record
    bool used = false;    // an item was consumed since the last reversion
    const std::size_t nops = pg.ops.size();
    std::size_t pc = 0;
    for (;;) {
        if (pc == nops) {  // the final right parenthesis
            if (!pg.has_data || !used || !cur.more()) break;
            u.end_record();
            pending = 0;
            sp = 0;
            used = false;
            pc = pg.revert;
            continue;
        }
        const fop& o = pg.ops[pc];
        switch (o.code) {
        case OP_TEXT:
            if (pending) { put_fill(u, ' ', pending); pending = 0; }
            u.put(std::string_view(pg.texts.data() + o.arg, (std::size_t)o.len));
            break;
        case OP_SKIP:
            pending += o.arg;
            break;
        case OP_SLASH:
            for (int r = 0; r < o.rep; ++r) u.end_record();
            pending = 0;
            break;
        case OP_COLON:
            if (!cur.more()) goto done;
            break;
        case OP_SCALE:
            scale = o.arg;
            break;
        case OP_OPEN:
            stack[sp].open = pc;
            stack[sp].left = o.rep;
            ++sp;
            break;
        case OP_CLOSE:
            if (--stack[sp - 1].left > 0) {
                pc = stack[sp - 1].open + 1;
                continue;
            }
            --sp;
            break;
        default:
            for (int r = 0; r < o.rep; ++r) {
                if (!cur.more()) goto done;
                if (pending) { put_fill(u, ' ', pending); pending = 0; }
                edit(u, o, cur.next(), scale);
                used = true;
            }
            break;
        }
        ++pc;
    }
done:
    u.end_record();
}

// ---------------------------------------------------------------------------------------------
// Free-form numbers. gfortran writes an integer in 11 columns and a real as 1PG25.17E3 (64-bit)
// or 1PG16.9E2 (32-bit): 17 or 9 significant digits, in fixed point followed by 5 or 4 blanks
// when the rounded magnitude lies in [0.1, 10**digits), else with an exponent of 3 or 2 digits.

void free_real(ounit& u, double x, int sig, int width, int edigits) {
    if (!std::isfinite(x)) { put_nonfinite(u, width, x); return; }
    char tmp[64];
    exact_digits(tmp, sizeof tmp, x, std::chars_format::scientific, sig - 1);
    char dig[40];
    int nd = 0;
    const char* q = tmp;
    for (; *q != 'e'; ++q)
        if (*q != '.') dig[nd++] = *q;
    int ex = x == 0.0 ? 0 : std::atoi(q + 1);

    char body[64];
    int len = 0;
    if (std::signbit(x)) body[len++] = '-';
    int trailing = 0;
    if (ex >= -1 && ex < sig) {
        if (ex == -1) body[len++] = '0';
        for (int i = 0; i <= ex; ++i) body[len++] = dig[i];
        body[len++] = '.';
        for (int i = ex + 1 > 0 ? ex + 1 : 0; i < nd; ++i) body[len++] = dig[i];
        trailing = edigits + 2;
    } else {
        body[len++] = dig[0];
        body[len++] = '.';
        for (int i = 1; i < nd; ++i) body[len++] = dig[i];
        body[len++] = 'E';
        body[len++] = ex < 0 ? '-' : '+';
        int ax = ex < 0 ? -ex : ex;
        for (int i = edigits - 1; i >= 0; --i) {
            body[len + i] = (char)('0' + ax % 10);
            ax /= 10;
        }
        len += edigits;
    }
    put_fill(u, ' ', width - trailing - len);
    u.put(std::string_view(body, (std::size_t)len));
    put_fill(u, ' ', trailing);
}

}  // namespace

void write_fmt(ounit& u, std::string_view fmt, const fitem* items, std::size_t nitems) {
    run(u, program_for(fmt), items, nitems);
}

// A free-form record: one blank, then the items; one blank between two items unless both are
// text, which stand side by side; logicals as T or F. The width of a number is left open by the
// record conventions, and we take gfortran's list-directed fields for it (see free_real), so a
// number after the separating blank may bring leading blanks of its own. gfortran's separators
// are the same as ours. A write without items gives an empty record, as in gfortran.
void write_free(ounit& u, const fitem* items, std::size_t nitems) {
    cursor cur(items, nitems);
    bool first = true;
    bool prev_text = false;
    while (cur.more()) {
        value v = cur.next();
        bool text = v.kind == fitem::TEXT;
        if (first || !(prev_text && text)) u.put(' ');
        first = false;
        prev_text = text;
        switch (v.kind) {
        case fitem::INT: {
            char b[16];
            int n = std::snprintf(b, sizeof b, "%11d", v.i);
            u.put(std::string_view(b, (std::size_t)n));
            break;
        }
        case fitem::REAL: free_real(u, v.r, 17, 25, 3); break;
        case fitem::REAL4: free_real(u, (double)v.f, 9, 16, 2); break;
        case fitem::LOGICAL: u.put(v.l ? 'T' : 'F'); break;
        default: u.put(std::string_view(v.s, (std::size_t)v.n)); break;
        }
    }
    u.end_record();
}

}  // namespace nep
