#include "run/fileset.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/format.h"
#include "base/interrupt.h"
#include "base/procs.h"
#include "base/stop.h"
#include "output/extras.h"

namespace nep {

namespace {

const char* const kFnames = "nepora3d.fnames";

bool transport_only(int unit) {
    return unit == 16 || unit == 17 || unit == 18 || unit == 28 || unit == 30 || unit == 37 ||
           unit == 44;
}

// One line of the fnames file: the name in its first 40 columns (30 in the second program).
std::string read_name(control& ctl, iofiles& io) {
    return io.in(kFnamesUnit).read_text(ctl.DIALECT == dialect::ALT ? 30 : 40);
}

// The line of the fnames file that names a unit.
int fnames_line(int unit) {
    for (int k = 0; k < kNumInputLines; ++k)
        if (kInputUnits[k] == unit) return k + 1;
    for (int k = 0; k < kNumOutputLines; ++k)
        if (kOutputUnits[k] == unit) return kNumInputLines + k + 1;
    return 0;
}

std::string named_on(int unit) {
    return "named on line " + std::to_string(fnames_line(unit)) + " of " + kFnames;
}

// An input must be a file that can be read: a directory would read as an empty file, a device
// or a pipe other than /dev/null as whatever it happens to give.
void open_input(iofiles& io, int unit) {
    const std::string& name = io.NAMES[unit];
    struct stat st {};
    if (::stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && name != "/dev/null") {
        input_error("the " + std::string(input_role(unit)) + " '" + name + "' " + named_on(unit) +
                    (S_ISDIR(st.st_mode) ? " is a directory" : " is not a regular file"));
    }
    if (read_by_writer(unit) && !proc_writes()) return;
    io.in(unit).open(name, input_role(unit));
    io.WARN.out = &io.STDERR;
    io.WARN.prog = io.PROGNAME;
    io.in(unit).warn_to(&io.WARN);
}

// No output may be written over an input or over another output: the same name on two lines
// (or two names of one file) is refused before any output is opened. /dev/null may take any
// number of outputs.
void check_names(const control& ctl, const iofiles& io) {
    struct entry {
        int unit;
        bool output;
        bool known;
        dev_t dev;
        ino_t ino;
    };
    std::vector<entry> files;
    auto add = [&](int unit, bool output) {
        if (transport_only(unit) && ctl.ITRANS == 0) return;
        const std::string& name = io.NAMES[unit];
        if (output && name == "/dev/null") return;
        struct stat st {};
        const bool known = ::stat(name.c_str(), &st) == 0;
        for (const entry& e : files) {
            const bool same = io.NAMES[e.unit] == name || (known && e.known && e.dev == st.st_dev && e.ino == st.st_ino);
            if (!same) continue;
            input_error("'" + name + "' is " + named_on(unit) + " as an output, and the " +
                        (e.output ? std::string("output") : std::string(input_role(e.unit))) + " of line " +
                        std::to_string(fnames_line(e.unit)) +
                        " is the same file: the output would overwrite it");
        }
        files.push_back({unit, output, known, st.st_dev, st.st_ino});
    };
    for (int unit : kInputUnits) add(unit, false);
    for (int unit : kOutputUnits) add(unit, true);
}

void write_headers(const control& ctl, ounit& u, int unit) {
    const bool alt = ctl.DIALECT == dialect::ALT;
    const char* first = nullptr;
    const char* second = nullptr;
    switch (unit) {
    case 6: first = " main output"; break;
    case 25: first = " X, Y, Z coordinate values"; second = " this file is printed only if IPRT1=3 "; break;
    case 26: first = alt ? " flow: cnvrg info and error norms" : " flow: nonlinear cnvrg info and error norms"; break;
    case 27:
        first = (ctl.ITRANS != 0 && !alt) ? " flow & transp.: mass balance info" : " flow: mass balance info";
        break;
    case 28: first = alt ? " flow & transp: iterations' info" : " flow & transp syst.: iterations' info"; break;
    case 29: first = " flow: vert. prof. (psi, sw, ckrw) output"; second = " this file is printed only if NUMVP>0 "; break;
    case 30: first = " transp: vert. prof. (conc.) output"; second = " this file is printed only if NUMVP>0 "; break;
    case 31: first = " flow: atm. + seep.face hydrograph output"; break;
    case 32: first = " flow: natm-nsf hydrograph output"; break;
    case 33: first = " flow: detailed HGFLAG output"; break;
    case 134: first = " flow: detailed SFFLAG output"; break;
    case 35: first = " flow: nodal pressure heads"; second = " this file is printed only if IPRT>=1 "; break;
    case 36: first = " flow: nodal velocities"; second = " this file is printed only if IPRT>=2 "; break;
    case 37: first = " transp: nodal concentrations"; second = " this file is printed only if IPRT>=1 "; break;
    case 38: first = " flow: nodal SW values"; second = " this file is printed only if IPRT=4 "; break;
    case 39: first = " flow: nodal CKRW values"; second = " this file is printed only if IPRT>=3 "; break;
    case 40: first = " flow: elemental velocities"; second = " this file is printed only if IPRT=4 "; break;
    case 41: first = " flow: surface pressure heads"; break;
    case 42: first = " flow: surface SATSUR values"; break;
    case 43: first = " flow: surface SW values"; break;
    case 44: first = " transp: surface concentrations"; break;
    case 45: first = " flow: natm-nsf Dir. BC's at each time step"; break;
    case 46: first = " flow: natm-nsf Neu. BC's at each time step"; break;
    case 47: first = " flow: detailed seep.f. hydrograph output"; break;
    case 48: first = " flow: detailed natm-nsf Dir. hydrog. output"; break;
    case 49: first = " flow: detailed natm-nsf Neu. hydrog. output"; break;
    default: break;  // the viewer export files start empty
    }
    if (first != nullptr) wfree(u, first);
    if (second != nullptr && !alt) wfree(u, second);
}

}  // namespace

void openio(control& ctl, iofiles& io) {
    io.STDOUT.attach(stdout);
    io.STDERR.attach(stderr);
    io.NAMES[kFnamesUnit] = kFnames;
    io.in(kFnamesUnit).open(kFnames, input_role(kFnamesUnit));
    open_inp(ctl, io);
    open_out(ctl, io);
}

void open_inp(control& ctl, iofiles& io) {
    io.NAMES[5] = read_name(ctl, io);
    open_input(io, 5);
    // Learn ITRANS before the rest of the set is opened.
    freader& parm = io.in(5);
    int skip = 0;
    parm.read(skip);
    parm.read(skip, ctl.ITRANS);
    parm.rewind();
    for (int k = 1; k <= 8; ++k) {
        const int unit = kInputUnits[k];
        io.NAMES[unit] = read_name(ctl, io);
        open_input(io, unit);
    }
    for (int unit = 16; unit <= 18; ++unit) io.NAMES[unit] = read_name(ctl, io);
    if (ctl.ITRANS != 0) {
        for (int unit = 16; unit <= 18; ++unit) open_input(io, unit);
    }
}

void open_out(control& ctl, iofiles& io) {
    for (int unit : kOutputUnits) io.NAMES[unit] = read_name(ctl, io);
    check_names(ctl, io);
    for (int unit : kOutputUnits) {
        if (transport_only(unit) && ctl.ITRANS == 0) continue;
        if (!io.out(unit).open_staged(io.NAMES[unit])) {
            input_error("cannot create the output file '" + io.NAMES[unit] + "' " + named_on(unit) +
                        ": " + std::strerror(errno));
        }
        write_headers(ctl, io.out(unit), unit);
    }
    openterm(io, kTermUnit);
    wfree(io.out(kTermUnit), " screen output");
}

// The terminal log goes to the controlling terminal; without one (a batch job) it is the file
// "terminal.log" in the deck directory, a plain name a shell user can handle safely. Where the
// terminal shows a status line instead, or with --quiet, the log goes to that file too.
void openterm(iofiles& io, int unit) {
    const char* tty = ::ttyname(STDIN_FILENO);
    const progress_state& p = io.PROGRESS;
    const bool to_file = p.MODE == verbosity::QUIET || p.STATUS;
    std::string dev = tty != nullptr && !to_file ? tty : "terminal.log";
    if (dev.size() > 40) dev.resize(40);
    io.NAMES[unit] = dev;
    if (!io.out(unit).open_staged(dev)) {
        input_error("cannot open the terminal log '" + dev + "': " + std::strerror(errno));
    }
}

namespace {

template <class F>
void each_output(F f) {
    f(kTermUnit);
    for (int unit : kOutputUnits) f(unit);
}

}  // namespace

void commit_outputs(iofiles& io) {
    each_output([&](int unit) {
        if (io.out(unit).commit()) return;
        const int e = errno;
        input_error("cannot move the new '" + io.NAMES[unit] + "' into place: " + std::strerror(e));
    });
}

void discard_outputs(iofiles& io) {
    bool earlier = false;
    each_output([&](int unit) { earlier = earlier || io.out(unit).replaces_file(); });
    each_output([&](int unit) {
        if (earlier || !io.out(unit).commit()) io.out(unit).discard();
    });
}

void mark_step_end(iofiles& io) {
    int fds[kMaxMarkedFiles];
    off_t sizes[kMaxMarkedFiles];
    int n = 0;
    auto mark = [&](ounit& u) {
        u.flush();
        const long size = u.file_size();
        if (u.fd() < 0 || size < 0 || n == kMaxMarkedFiles) return;
        fds[n] = u.fd();
        sizes[n++] = (off_t)size;
    };
    for (ounit& u : io.OUT) mark(u);
    for (ounit* u : {&io.EXTRA.BUDGET, &io.EXTRA.OBS, &io.EXTRA.HYDRO, &io.EXTRA.SEEP}) mark(*u);
    mark_file_sizes(fds, sizes, n);
}

void closio(iofiles& io) {
    io.in(kFnamesUnit).close();
    for (int unit : kInputUnits) io.in(unit).close();
    for (int unit : kOutputUnits) {
        if (unit != 6) io.out(unit).close();
    }
}

void check_outputs(iofiles& io, const std::string& note) {
    auto check = [&](ounit& u, auto what) {
        if (!u.is_open() || !u.regular() || u.error() == 0) return;
        input_error("cannot write " + what() + ": " + std::strerror(u.error()) + note);
    };
    for (int unit : kOutputUnits) {
        check(io.out(unit), [&] { return "the output file '" + io.NAMES[unit] + "' " + named_on(unit); });
    }
    check(io.out(kTermUnit), [&] { return "the terminal log '" + io.NAMES[kTermUnit] + "'"; });
    for (const extra_table& t : extra_tables(io)) {
        check(*t.unit, [&] { return "the table '" + std::string(t.path) + "'"; });
    }
}

void flush_all(iofiles& io) {
    for (auto& u : io.OUT) u.flush();
    io.STDOUT.flush();
    io.STDERR.flush();
}

}  // namespace nep
