// Input files, read record by record in free form (list-directed), strictly forward.
//
// One read statement starts at the beginning of a new record and takes as many records as its
// items need; what is left of its last record is skipped:
//
//   fr.read(NZONE, NSTR, N1);            // a whole statement
//   fr.begin();                          // or item by item, when a count read in the statement
//   fr.get(NPRT);                        // sizes the rest of it
//   for (int i = 1; i <= NPRT; ++i) fr.get(TIMPRT(i));
//   fr.finish();
//
// Separators are blanks, tabs, a comma, or the end of a record; r*c is r copies of c, r* is r
// null values, a null value leaves its item unchanged, and a slash ends the statement (the
// remaining items keep their values). Every error names the file, the line and what was
// expected, and ends the run with status 1.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "base/array.h"
#include "base/units.h"

namespace nep {

// Where readers report numbers left unread at the end of a statement's last record: a warning
// line on `out`, once per record however often the file is read (a first pass for the sizes,
// a read-through of a time series, the reading proper).
struct read_warnings {
    ounit* out = nullptr;
    std::string prog = "nepora3d";
    std::set<std::pair<std::string, long>> seen;  // (file, line) already reported
};

class freader {
public:
    // Opens the file; a file that cannot be opened ends the run with a message naming its role
    // ("grid file") and its name.
    void open(const std::string& path, const std::string& role);
    // Opens without stopping: false when the file cannot be read.
    bool try_open(const std::string& path, const std::string& role);
    // Numbers left on a statement's last record are reported there (none when null). A copy
    // reports to the same place.
    void warn_to(read_warnings* w) { warn_ = w; }
    // Takes the text directly (tests).
    void open_text(std::string text, const std::string& role, const std::string& name = "text");
    bool is_open() const { return open_; }
    void close();
    // Frees the text of a file read through for good, keeping its size and CRC-32 (what a
    // checkpoint records of the deck's files).
    void release();
    // The text's size and CRC-32, after release too; -1 and 0 for a file not read.
    long long text_size() const;
    std::uint32_t text_crc() const;
    void rewind();
    // A second reader of the same text, at its start (a read-through that leaves this one
    // where it is).
    void open_copy(const freader& other);

    const std::string& name() const { return name_; }
    const std::string& role() const { return role_; }
    // Line number (1-based) of the current position.
    long line() const { return line_; }
    // The whole text, and where the next read statement starts in it: a run continued from a
    // checkpoint puts a reader back where it was (seek: between statements only; false when
    // the place lies outside the text).
    std::string_view text() const { return text_; }
    std::size_t offset() const { return pos_; }
    bool seek(std::size_t offset, long line);
    // The line of the last value read.
    long value_line() const { return tok_line_; }

    // Free-form read statements.
    void begin();
    void get(int& v);
    void get(double& v);
    void get(bool& v);
    void get(arr1<int>& a) { for (long i = 1; i <= a.size(); ++i) get(a(i)); }
    void get(arr1<double>& a) { for (long i = 1; i <= a.size(); ++i) get(a(i)); }
    void finish();
    template <class... A>
    void read(A&... a) {
        begin();
        (get(a), ...);
        finish();
    }
    // Passes over one whole read statement of n values (as a statement that reads n items and
    // discards them); used by first passes that only look for sizes.
    void skip_values(long n);

    // True when nothing but blanks and line ends is left: the next read statement would meet the
    // end of the file. Series files use it to tell their normal end (before a time line) from a
    // record cut short.
    bool at_end() const;

    // How many values the rest of the file holds (r*c counts r), without reading them; -1 when
    // a slash makes the count unknown. Lets a count be checked against the data before
    // anything is created from it. Through slashes, every value is counted, those a slash
    // leaves unread too: no statement can take more.
    long values_left(bool through_slashes = false) const;

    // How many records (lines that are not blank) the rest of the file holds, the current one
    // included: every read statement takes at least one, slashes or not.
    long records_left() const;

    // True once a slash has ended the current statement: the values it did not reach keep what
    // they hold.
    bool ended() const { return stmt_done_; }

    // Formatted read of one record with "(Aw)": the first w characters of the line, trailing
    // blanks removed (w <= 0 reads the whole line, as "(A)").
    std::string read_text(int w);

    // Says what the next statement reads, in the words of a message ("NDIRC = 5"), and the line
    // that announced it: a file that ends inside that statement is reported as a list shorter
    // than announced, "... line 3: NDIRC = 5, but the file ends after 4 values (line 4)", instead
    // of a bare end of file.
    void expect_list(const std::string& what, long line);

    // Ends the run with a message about this file at its current line.
    [[noreturn]] void fail(const std::string& what) const;

private:
    enum class tok { VALUE, NUL, SLASH };
    // Finds the next value of the statement; returns its kind and sets tok_ to its text.
    tok next(const char* expected);
    [[noreturn]] void fail_eof(const char* expected) const;
    // The numbers between pos_ and the end of its line, which the statement leaves unread.
    void check_leftover();

    std::string text_;
    long long kept_size_ = -1;  // of a released text
    std::uint32_t kept_crc_ = 0;
    std::string name_, role_;
    bool open_ = false;
    std::size_t pos_ = 0;
    long line_ = 1;
    bool in_stmt_ = false;     // inside a read statement
    bool stmt_done_ = false;   // a slash ended the statement
    bool need_skip_ = false;   // the previous statement left part of a record
    long repeat_left_ = 0;     // copies left of an r*c or r* value
    bool repeat_null_ = false;
    bool sep_pending_ = false;  // a value was read and its comma not yet seen
    std::string_view tok_;
    long tok_line_ = 0;
    long got_ = 0;             // values (and nulls) taken by the current statement
    std::string list_name_;    // what the current statement reads (expect_list), and where it
    long list_line_ = 0;       // was announced
    std::size_t stmt_start_ = 0;  // where the current statement began
    read_warnings* warn_ = nullptr;
};

// The keyword of `keys` (capitals) that `word` misses by one or two letters (inserted, dropped,
// changed or swapped; any case), or null: a word of the lines after a deck file's last record
// that is meant as a keyword but would be read as a note. Words of fewer than four letters and
// the keywords themselves are no misses.
const char* near_keyword(const std::string& word, std::initializer_list<const char*> keys);

// Stops the run: "FILE line L: 'WORD' is not a keyword: did you mean KEY?".
[[noreturn]] void keyword_miss(const freader& fr, long line, const std::string& word, const char* key);

}  // namespace nep
