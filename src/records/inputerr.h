// Error stops of the deck readers (grid, boundary, initial-condition and transport files): the
// message to the main listing and standard output, the file and line to standard error, and the
// checked reading of counts and node lists.
#pragma once

#include <initializer_list>
#include <string>

#include "records/iofiles.h"

namespace nep {

// Writes each line as a free-form record to the main listing and to standard output, then ends
// the run with status 1; a line of the form " ERROR: <where>: <what>" (bc_where) also goes to
// standard error.
[[noreturn]] void bc_stop(iofiles& io, std::initializer_list<std::string> lines);

// A stop whose listing text is fixed: the lines go to the main listing and to standard output
// exactly as they are, and the detail (file, line, entry, value) to standard error.
[[noreturn]] void bc_stop_fixed(iofiles& io, std::initializer_list<std::string> lines,
                                const std::string& detail);

// The detail of a stop for standard error: "<role> '<file>' line <line>: <what>".
std::string bc_detail(const freader& fr, long line, const std::string& what);

// The detail line of a stop: " ERROR: <role> '<file>' line <line>: <what>".
std::string bc_where(const freader& fr, long line, const std::string& what);

// Reads one statement holding a single count; returns the line it was found on.
long read_count(freader& fr, int& count);

// Stops when a count read by a full reader is negative or disagrees with the storage sized from
// the first pass over the same file (which cannot happen while both passes read alike).
void check_count(iofiles& io, const freader& fr, long line, const char* name, long count,
                 long sized);

// The detail of a node outside its range: "entry 2 of the NQ list is node 40, outside 1..N = 36".
std::string node_outside(long entry, const char* list, int node, const char* range, int limit);

// Reads one statement of n 3-D node numbers into v[0..n-1], the list named `list` whose count
// was read on count_line; a node outside 1..N stops the run naming the file, line, entry and
// node (listing and standard output), and a file that ends inside the list names the count's
// line and both numbers.
void read_node_list(iofiles& io, freader& fr, int* v, long n, int N, const char* list,
                    long count_line);

// Reads one statement of n node numbers into v[0..n-1]. Returns 0 when all lie in lo..hi;
// otherwise stops reading at the first one that does not and returns its position (1-based),
// with its line in bad_line. With a list name, bad_line holds on entry the line of the list's
// count, for the message of a file that ends inside the list.
long read_nodes(freader& fr, int* v, long n, int lo, int hi, long& bad_line,
                const char* list = nullptr);

}  // namespace nep
