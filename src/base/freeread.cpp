#include "base/freeread.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "base/stop.h"

namespace nep {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool ends_value(char c) { return is_blank(c) || c == ',' || c == '/' || c == '\n'; }

std::string shown(std::string_view t) {
    std::string s(t.substr(0, 40));
    if (t.size() > 40) s += "...";
    return "'" + s + "'";
}

// Strict conversions of one free-form token; false when the text is not of the type.
bool parse_int(std::string_view t, int& v) {
    std::size_t k = 0;
    bool neg = false;
    if (k < t.size() && (t[k] == '+' || t[k] == '-')) neg = t[k++] == '-';
    if (k == t.size()) return false;
    long long x = 0;
    for (; k < t.size(); ++k) {
        if (t[k] < '0' || t[k] > '9') return false;
        x = x * 10 + (t[k] - '0');
        if (x > 2147483648LL) return false;
    }
    if (neg) x = -x;
    if (x > INT_MAX || x < INT_MIN) return false;
    v = (int)x;
    return true;
}

// Reals: an optional sign, digits with an optional point, then an optional exponent written
// with E, D or Q (either case) or with a bare sign (1.5-3 is 1.5E-3).
bool parse_real(std::string_view t, double& v) {
    char buf[128];
    if (t.size() >= sizeof(buf) - 2) return false;
    std::size_t k = 0, o = 0;
    if (k < t.size() && (t[k] == '+' || t[k] == '-')) buf[o++] = t[k++];
    int digits = 0;
    while (k < t.size() && t[k] >= '0' && t[k] <= '9') { buf[o++] = t[k++]; ++digits; }
    if (k < t.size() && t[k] == '.') {
        buf[o++] = t[k++];
        while (k < t.size() && t[k] >= '0' && t[k] <= '9') { buf[o++] = t[k++]; ++digits; }
    }
    if (digits == 0) return false;
    if (k < t.size()) {
        char c = t[k];
        if (c == 'e' || c == 'E' || c == 'd' || c == 'D' || c == 'q' || c == 'Q') {
            ++k;
        } else if (c != '+' && c != '-') {
            return false;
        }
        buf[o++] = 'E';
        if (k < t.size() && (t[k] == '+' || t[k] == '-')) buf[o++] = t[k++];
        int edigits = 0;
        while (k < t.size() && t[k] >= '0' && t[k] <= '9') { buf[o++] = t[k++]; ++edigits; }
        if (edigits == 0 || k != t.size()) return false;
    }
    buf[o] = '\0';
    errno = 0;
    char* end = nullptr;
    double x = std::strtod(buf, &end);
    if (end != buf + o) return false;
    if (errno == ERANGE && (x > 1.0 || x < -1.0)) return false;  // overflow (underflow gives 0)
    v = x;
    return true;
}

bool parse_logical(std::string_view t, bool& v) {
    std::size_t k = 0;
    if (k < t.size() && t[k] == '.') ++k;
    if (k == t.size()) return false;
    char c = t[k];
    if (c == 'T' || c == 't') { v = true; return true; }
    if (c == 'F' || c == 'f') { v = false; return true; }
    return false;
}

}  // namespace

bool freader::try_open(const std::string& path, const std::string& role) {
    close();
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    if (in.bad()) return false;
    open_text(ss.str(), role, path);
    return true;
}

void freader::open(const std::string& path, const std::string& role) {
    if (!try_open(path, role)) {
        input_error("cannot open the " + role + " '" + path + "': " + std::strerror(errno ? errno : ENOENT));
    }
}

void freader::open_text(std::string text, const std::string& role, const std::string& name) {
    text_ = std::move(text);
    role_ = role;
    name_ = name;
    open_ = true;
    rewind();
}

void freader::close() {
    text_.clear();
    text_.shrink_to_fit();
    open_ = false;
    kept_size_ = -1;
    kept_crc_ = 0;
}

void freader::release() {
    const long long size = text_size();
    const std::uint32_t crc = text_crc();
    close();
    kept_size_ = size;
    kept_crc_ = crc;
}

long long freader::text_size() const { return open_ ? (long long)text_.size() : kept_size_; }

std::uint32_t freader::text_crc() const {
    return open_ ? crc32_update(0, text_.data(), text_.size()) : kept_crc_;
}

void freader::open_copy(const freader& other) {
    text_ = other.text_;
    warn_ = other.warn_;
    name_ = other.name_;
    role_ = other.role_;
    open_ = other.open_;
    rewind();
}

void freader::rewind() {
    pos_ = 0;
    line_ = 1;
    in_stmt_ = stmt_done_ = need_skip_ = false;
    repeat_left_ = 0;
}

bool freader::seek(std::size_t offset, long line) {
    if (offset > text_.size() || line < 1 || line > (long)text_.size() + 1) return false;
    rewind();
    pos_ = offset;
    line_ = line;
    return true;
}

void freader::fail(const std::string& what) const {
    input_error(role_ + " '" + name_ + "' line " + std::to_string(line_) + ": " + what);
}

void freader::fail_eof(const char* expected) const {
    long last = line_;
    if (text_.empty() || text_.back() == '\n') --last;
    if (!list_name_.empty()) {
        input_error(role_ + " '" + name_ + "' line " + std::to_string(list_line_) + ": " +
                    list_name_ + ", but the file ends after " + std::to_string(got_) +
                    (got_ == 1 ? " value" : " values") + " (line " + std::to_string(last) + ")");
    }
    input_error(role_ + " '" + name_ + "': end of file after line " + std::to_string(last) +
                ", expected " + expected);
}

void freader::expect_list(const std::string& what, long line) {
    list_name_ = what;
    list_line_ = line;
}

void freader::begin() {
    got_ = 0;
    stmt_start_ = pos_;
    in_stmt_ = true;
    stmt_done_ = false;
    need_skip_ = true;
    repeat_left_ = 0;
    sep_pending_ = false;
}

void freader::finish() {
    // The rest of the statement's last record is passed over.
    if (need_skip_ && !stmt_done_) check_leftover();
    if (need_skip_) {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
        if (pos_ < text_.size()) {
            ++pos_;
            ++line_;
        }
    }
    in_stmt_ = false;
    need_skip_ = false;
    repeat_left_ = 0;
    list_name_.clear();
}

namespace {

bool is_number(std::string_view t) {
    int i = 0;
    double r = 0.0;
    const std::size_t star = t.find('*');
    if (star != std::string_view::npos && star > 0 && parse_int(t.substr(0, star), i) && i > 0) {
        t = t.substr(star + 1);
    }
    return !t.empty() && (parse_int(t, i) || parse_real(t, r));
}

bool all_digits(std::string_view t) {
    return !t.empty() && t.find_first_not_of("0123456789") == std::string_view::npos;
}

// A number written with a decimal comma, '-1,5000' or '2,5e-3', in text (the first one found),
// with what it would read as with a point; empty when there is none.
std::pair<std::string, std::string> decimal_comma(std::string_view text) {
    for (std::size_t c = text.find(','); c != std::string_view::npos; c = text.find(',', c + 1)) {
        std::size_t a = c, b = c + 1;
        while (a > 0 && !ends_value(text[a - 1])) --a;
        while (b < text.size() && !ends_value(text[b])) ++b;
        const std::string_view left = text.substr(a, c - a), right = text.substr(c + 1, b - c - 1);
        const std::string_view whole = left.substr(!left.empty() && (left[0] == '-' || left[0] == '+'));
        const std::size_t e = right.find_first_of("eEdD");
        if (!all_digits(whole) || !all_digits(right.substr(0, e))) continue;
        std::string point = std::string(left) + "." + std::string(right);
        double v = 0.0;
        if (parse_real(point, v)) return {std::string(text.substr(a, b - a)), point};
    }
    return {};
}

}  // namespace

void freader::check_leftover() {
    long count = repeat_left_;
    std::string first;
    for (std::size_t p = pos_; p < text_.size() && text_[p] != '\n';) {
        if (text_[p] == '/') break;
        if (ends_value(text_[p])) {
            ++p;
            continue;
        }
        const std::size_t start = p;
        while (p < text_.size() && !ends_value(text_[p])) ++p;
        const std::string_view t(text_.data() + start, p - start);
        if (!is_number(t)) break;  // the words of a comment after the values
        if (first.empty()) first = std::string(t);
        ++count;
    }
    if (count == 0 || warn_ == nullptr) return;
    std::size_t end = pos_;
    while (end < text_.size() && text_[end] != '\n') ++end;
    const auto comma = decimal_comma(std::string_view(text_).substr(stmt_start_, end - stmt_start_));
    std::string what = role_ + " '" + name_ + "' line " + std::to_string(line_) + ": " +
                       std::to_string(count) + (count == 1 ? " value" : " values") +
                       " left unread at the end of the record";
    if (!first.empty()) what += " ('" + first + "'" + (count > 1 ? " ...)" : ")");
    if (!list_name_.empty()) what += " after the list of " + list_name_;
    if (!comma.first.empty()) {
        // Values shifted by a decimal comma: every later value of the record is misread.
        input_error(what + "; is '" + comma.first + "' meant as " + comma.second + "?");
    }
    if (!warn_->seen.insert({name_, line_}).second || warn_->out == nullptr) return;
    warn_->out->record(warn_->prog + ": warning: " + what);
}

long freader::values_left(bool through_slashes) const {
    // The rest of the statement being read, and every record after it.
    std::size_t p = pos_;
    if (!in_stmt_ && need_skip_) {
        while (p < text_.size() && text_[p] != '\n') ++p;
    }
    long count = 0;
    const std::size_t n = text_.size();
    while (p < n) {
        const char c = text_[p];
        if (c == '/' && !through_slashes) return -1;
        if (ends_value(c)) {
            ++p;
            continue;
        }
        const std::size_t start = p;
        while (p < n && !ends_value(text_[p])) ++p;
        const std::string_view t(text_.data() + start, p - start);
        const std::size_t star = t.find('*');
        int r = 0;
        count += (star != std::string_view::npos && star > 0 && parse_int(t.substr(0, star), r) && r > 0) ? r : 1;
    }
    return count;
}

long freader::records_left() const {
    std::size_t p = pos_;
    if (!in_stmt_ && need_skip_) {
        while (p < text_.size() && text_[p] != '\n') ++p;
    }
    long count = 0;
    bool filled = false;
    for (; p < text_.size(); ++p) {
        const char c = text_[p];
        if (c == '\n') {
            count += filled;
            filled = false;
        } else if (!is_blank(c)) {
            filled = true;
        }
    }
    return count + filled;
}

freader::tok freader::next(const char* expected) {
    if (stmt_done_) return tok::SLASH;
    if (repeat_left_ > 0) {
        --repeat_left_;
        ++got_;
        return repeat_null_ ? tok::NUL : tok::VALUE;
    }
    const std::size_t n = text_.size();
    for (;;) {
        while (pos_ < n && is_blank(text_[pos_])) ++pos_;
        if (pos_ >= n) fail_eof(expected);
        char c = text_[pos_];
        if (c == '\n') {
            ++pos_;
            ++line_;
            continue;
        }
        if (c == ',') {
            ++pos_;
            if (sep_pending_) {  // the separator after the previous value
                sep_pending_ = false;
                continue;
            }
            ++got_;
            return tok::NUL;  // two separators in a row: a null value
        }
        if (c == '/') {
            ++pos_;
            stmt_done_ = true;
            return tok::SLASH;
        }
        break;
    }
    std::size_t start = pos_;
    while (pos_ < n && !ends_value(text_[pos_])) ++pos_;
    std::string_view t(text_.data() + start, pos_ - start);
    tok_line_ = line_;
    sep_pending_ = true;
    // r*c and r*
    std::size_t star = t.find('*');
    if (star != std::string_view::npos) {
        int r = 0;
        if (star == 0 || !parse_int(t.substr(0, star), r) || r < 1 || t[0] == '+' || t[0] == '-') {
            fail(std::string("expected ") + expected + ", found " + shown(t));
        }
        std::string_view rest = t.substr(star + 1);
        repeat_null_ = rest.empty();
        tok_ = rest;
        repeat_left_ = r - 1;
        ++got_;
        return repeat_null_ ? tok::NUL : tok::VALUE;
    }
    tok_ = t;
    ++got_;
    return tok::VALUE;
}

void freader::get(int& v) {
    if (next("an integer") != tok::VALUE) return;
    if (!parse_int(tok_, v)) {
        input_error(role_ + " '" + name_ + "' line " + std::to_string(tok_line_) +
                    ": expected an integer, found " + shown(tok_));
    }
}

void freader::get(double& v) {
    if (next("a real number") != tok::VALUE) return;
    if (!parse_real(tok_, v)) {
        input_error(role_ + " '" + name_ + "' line " + std::to_string(tok_line_) +
                    ": expected a real number, found " + shown(tok_));
    }
}

void freader::get(bool& v) {
    if (next("a logical (T or F)") != tok::VALUE) return;
    if (!parse_logical(tok_, v)) {
        input_error(role_ + " '" + name_ + "' line " + std::to_string(tok_line_) +
                    ": expected a logical (T or F), found " + shown(tok_));
    }
}

void freader::skip_values(long n) {
    begin();
    for (long i = 0; i < n && next("a value") != tok::SLASH; ++i) {
    }
    finish();
}

bool freader::at_end() const {
    for (std::size_t k = pos_; k < text_.size(); ++k) {
        const char c = text_[k];
        if (!is_blank(c) && c != '\n') return false;
    }
    return true;
}

std::string freader::read_text(int w) {
    if (pos_ >= text_.size()) fail_eof("a line of text");
    std::size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
    std::string s = text_.substr(start, pos_ - start);
    if (pos_ < text_.size()) {
        ++pos_;
        ++line_;
    }
    if (!s.empty() && s.back() == '\r') s.pop_back();
    if (w > 0 && (int)s.size() > w) s.resize(w);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

const char* near_keyword(const std::string& word, std::initializer_list<const char*> keys) {
    if (word.size() < 4) return nullptr;
    std::string w = word;
    for (char& c : w) c = (char)std::toupper((unsigned char)c);
    for (const char* key : keys) {
        // Optimal string alignment distance, rows of the dynamic programme kept three at a time.
        const std::string k = key;
        const std::size_t m = w.size(), n = k.size();
        if (m > n + 2 || n > m + 2) continue;
        std::vector<std::size_t> prev2(n + 1), prev(n + 1), cur(n + 1);
        for (std::size_t j = 0; j <= n; ++j) prev[j] = j;
        for (std::size_t i = 1; i <= m; ++i) {
            cur[0] = i;
            for (std::size_t j = 1; j <= n; ++j) {
                const std::size_t cost = w[i - 1] == k[j - 1] ? 0 : 1;
                cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + cost});
                if (i > 1 && j > 1 && w[i - 1] == k[j - 2] && w[i - 2] == k[j - 1]) {
                    cur[j] = std::min(cur[j], prev2[j - 2] + 1);
                }
            }
            prev2.swap(prev);
            prev.swap(cur);
        }
        if (prev[n] >= 1 && prev[n] <= 2) return key;
    }
    return nullptr;
}

void keyword_miss(const freader& fr, long line, const std::string& word, const char* key) {
    input_error(fr.role() + " '" + fr.name() + "' line " + std::to_string(line) + ": '" + word +
                "' is not a keyword: did you mean " + key + "?");
}

}  // namespace nep

