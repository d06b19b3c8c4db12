#include "run/checkpoint.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "base/interrupt.h"
#include "base/procs.h"
#include "base/statefile.h"
#include "base/stop.h"
#include "base/timer.h"
#include "records/state.h"
#include "output/extras.h"
#include "output/h5series.h"
#include "run/ckptarrays.h"
#include "run/fileset.h"
#include "run/flowsolve.h"
#include "run/flowtransolve.h"
#include "run/timestep.h"
#include "solvers/petsc.h"

#ifndef NEPORA_VERSION
#define NEPORA_VERSION "unknown"
#endif

namespace nep {

const char* const kCheckpointUsage =
    "  --checkpoint-every N     write a checkpoint every N completed time steps\n"
    "  --checkpoint-wall S      write a checkpoint at the end of the first step S seconds\n"
    "                           (wall clock) after the last one\n"
    "  --checkpoint FILE        the checkpoint file (default: nepora3d.chk in DECK_DIR, or\n"
    "                           the file of --restart); with any of these options a\n"
    "                           checkpoint is also written at SIGINT/SIGTERM and at the end\n"
    "  --restart FILE           continue the run of the deck from the checkpoint FILE: the\n"
    "                           result files are cut back to it and appended from there\n";

namespace {

// What a checkpoint was taken after: a step of a run that goes on (the next step set up), or
// the last step of the run, before its final output.
enum : int { KIND_STEP = 1, KIND_END = 2 };

// The input units whose text the deck fingerprint covers.
constexpr int kDeckUnits[] = {1, 5, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
// The time-series readers, read as the run goes.
constexpr int kSeriesUnits[] = {10, 11, 12};

std::string absolute(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char buf[4096];
    if (::getcwd(buf, sizeof buf) == nullptr) return path;
    return std::string(buf) + "/" + path;
}

// The new versions of the files that the echo of a continued run's input went to.
void drop_staged(iofiles& io) {
    for (ounit& u : io.OUT) u.discard();
}

// A checkpoint that cannot be continued: the files are left as they are.
[[noreturn]] void refuse(iofiles& io, const std::string& why) {
    drop_staged(io);
    input_error("checkpoint '" + io.CKPT.RESTART + "' " + why + "; the run does not start");
}

// ---- the state of a run, entry by entry: one list for writing and for reading

struct saver {
    state_writer& w;
    void operator()(const char* n, int& v) { w.put(n, 'i', &v, 1); }
    void operator()(const char* n, long long& v) { w.put(n, 'q', &v, 1); }
    void operator()(const char* n, unsigned& v) { w.put(n, 'i', &v, 1); }
    void operator()(const char* n, double& v) { w.put(n, 'd', &v, 1); }
    void operator()(const char* n, float& v) { w.put(n, 'f', &v, 1); }
    void operator()(const char* n, bool& v) {
        const unsigned char b = v ? 1 : 0;
        w.put(n, 'b', &b, 1);
    }
    template <std::size_t K>
    void operator()(const char* n, int (&v)[K]) { w.put(n, 'i', v, K); }
    template <std::size_t K>
    void operator()(const char* n, double (&v)[K]) { w.put(n, 'd', v, K); }
    template <std::size_t K>
    void operator()(const char* n, float (&v)[K]) { w.put(n, 'f', v, K); }
    template <std::size_t K>
    void operator()(const char* n, char (&v)[K]) { w.put(n, 's', v, K); }
    void operator()(const char* n, arr1<int>& a) { w.put(n, 'i', a.data(), a.size()); }
    void operator()(const char* n, arr1<double>& a) { w.put(n, 'd', a.data(), a.size()); }
    void operator()(const char* n, arr2<int>& a) { w.put(n, 'i', a.data(), a.size()); }
    void operator()(const char* n, arr2<double>& a) { w.put(n, 'd', a.data(), a.size()); }
};

struct loader {
    state_reader& r;
    iofiles& io;
    void check(const std::string& why) {
        if (!why.empty()) refuse(io, why);
    }
    void operator()(const char* n, int& v) { check(r.get(n, 'i', &v, 1)); }
    void operator()(const char* n, long long& v) { check(r.get(n, 'q', &v, 1)); }
    void operator()(const char* n, unsigned& v) { check(r.get(n, 'i', &v, 1)); }
    void operator()(const char* n, double& v) { check(r.get(n, 'd', &v, 1)); }
    void operator()(const char* n, float& v) { check(r.get(n, 'f', &v, 1)); }
    void operator()(const char* n, bool& v) {
        unsigned char b = 0;
        check(r.get(n, 'b', &b, 1));
        v = b != 0;
    }
    template <std::size_t K>
    void operator()(const char* n, int (&v)[K]) { check(r.get(n, 'i', v, K)); }
    template <std::size_t K>
    void operator()(const char* n, double (&v)[K]) { check(r.get(n, 'd', v, K)); }
    template <std::size_t K>
    void operator()(const char* n, float (&v)[K]) { check(r.get(n, 'f', v, K)); }
    template <std::size_t K>
    void operator()(const char* n, char (&v)[K]) { check(r.get(n, 's', v, K)); }
    // An array that the run creates when it first needs it (the kept heads of the curves) is
    // created with the size the checkpoint gives.
    template <class T>
    void lazy(const char* n, char type, arr1<T>& a) {
        if (a.empty()) {
            std::uint64_t count = 0;
            check(r.count(n, type, count));
            if (count > 0) a.alloc(count);
        }
        check(r.get(n, type, a.data(), a.size()));
    }
    void operator()(const char* n, arr1<int>& a) { lazy(n, 'i', a); }
    void operator()(const char* n, arr1<double>& a) { lazy(n, 'd', a); }
    void operator()(const char* n, arr2<int>& a) { check(r.get(n, 'i', a.data(), a.size())); }
    void operator()(const char* n, arr2<double>& a) { check(r.get(n, 'd', a.data(), a.size())); }
};

// The counts of the solves handed to PETSc, with whether the system's solver has solved (its
// preconditioner is then set up anew at the next solve, as in a run continued from here).
template <class V>
void petsc_entries(V& v, records& R, const std::string& name, petsc_stat& st) {
    const bool flow = &st == &R.cpu.PSF;
    v((name + ".NSOLVE").c_str(), st.NSOLVE);
    v((name + ".NSETUP").c_str(), st.NSETUP);
    v((name + ".NRETRY").c_str(), st.NRETRY);
    long long n = st.NITER;
    v((name + ".NITER").c_str(), n);
    st.NITER = (long)n;
    v((name + ".TSETUP").c_str(), st.TSETUP);
    v((name + ".TSOLVE").c_str(), st.TSOLVE);
    v((name + ".TEXT").c_str(), st.TEXT);
    petsc_slot& slot = flow ? R.sp.PETSCF : R.sp.PETSCT;
    bool solved = petsc_solved(slot);
    v(flow ? "sp.PETSCF.solved" : "sp.PETSCT.solved", solved);
    petsc_set_solved(slot, solved);
}

// Every field of the state that a checkpoint holds (records/state.h), in the order declared:
// the arrays of the mesh's extent to arrays(array, declaration, member), the others to v.
template <class V, class A>
void state_entries(V& v, A&& arrays, records& R) {
    state_fields([&](auto m, const field_info& fi) {
        if (!(fi.use & CHECKPOINT)) return;
        using M = member_of<decltype(m)>;
        auto& x = record_part<typename M::record>(R).*m;
        if constexpr (std::is_same_v<typename M::type, petsc_stat>) petsc_entries(v, R, fi.name, x);
        else if constexpr (is_array_field<typename M::type>) {
            if (fi.where != extent::RUN) arrays(x, fi, m);
            else v(fi.name, x);
        } else {
            v(fi.name, x);
        }
    });
}
// Every one to v (a checkpoint that holds its arrays itself).
template <class V>
void state_entries(V& v, records& R) {
    state_entries(v, [&](auto& x, const field_info& fi, auto) { v(fi.name, x); }, R);
}

// The arrays file of a checkpoint (1 or 2: the one the last checkpoint names is kept while the
// next is written), beside it.
std::string arrays_path(const std::string& checkpoint, int slot) {
    return checkpoint + ".arrays" + std::to_string(slot) + ".h5";
}
std::string base_name(const std::string& path) {
    const std::size_t k = path.rfind('/');
    return k == std::string::npos ? path : path.substr(k + 1);
}

// The times of the arrays' writes and reads on standard error (NEPORA3D_CHECKPOINT_TIMES set;
// for the measurements of docs/checkpoint.md).
void arrays_time(const char* what, const ckpt_arrays& a) {
    if (std::getenv("NEPORA3D_CHECKPOINT_TIMES") != nullptr && proc_writes()) {
        std::fprintf(stderr, "checkpoint arrays %s '%s' in %.3f s\n", what, a.path.c_str(), a.seconds);
    }
}

// Passes over the entries of the state, checking each against this build's field (its name,
// type and number of values) without reading it: a checkpoint of another list of fields is
// refused before any value is taken.
struct state_check {
    state_reader& r;
    std::string why;
    template <class T>
    static char type_of() {
        if constexpr (std::is_same_v<T, long long>) return 'q';
        else if constexpr (std::is_same_v<T, double>) return 'd';
        else if constexpr (std::is_same_v<T, float>) return 'f';
        else if constexpr (std::is_same_v<T, bool>) return 'b';
        else if constexpr (std::is_same_v<T, char>) return 's';
        else return 'i';  // int, unsigned
    }
    void entry(const char* n, char type, long long count) {  // count < 0: any (created on reading)
        if (!why.empty()) return;
        std::uint64_t c = 0;
        why = r.skip(n, type, c);
        if (why.empty() && count >= 0 && c != (std::uint64_t)count) {
            why = "holds " + std::to_string(c) + " values of " + n + ", this run has " + std::to_string(count);
        }
    }
    template <class T>
    void operator()(const char* n, T&) { entry(n, type_of<T>(), 1); }
    template <class T, std::size_t K>
    void operator()(const char* n, T (&)[K]) { entry(n, type_of<T>(), (long long)K); }
    template <class T>
    void operator()(const char* n, arr1<T>& a) { entry(n, type_of<T>(), a.empty() ? -1 : a.size()); }
    template <class T>
    void operator()(const char* n, arr2<T>& a) { entry(n, type_of<T>(), a.size()); }
};

// ---- the output files

// Every output of a run, in a fixed order: the specified files, the terminal log, the tables.
struct out_file {
    std::string key;   // entry name
    std::string path;
    ounit* unit;
    std::string what;  // for messages
};

std::vector<out_file> output_files(iofiles& io) {
    std::vector<out_file> v;
    for (int unit : kOutputUnits) {
        v.push_back({"file." + std::to_string(unit), io.NAMES[unit], &io.out(unit),
                     "the output file '" + io.NAMES[unit] + "'"});
    }
    v.push_back({"file.terminal", io.NAMES[kTermUnit], &io.out(kTermUnit),
                 "the terminal log '" + io.NAMES[kTermUnit] + "'"});
    for (const extra_table& t : extra_tables(io)) {
        v.push_back({std::string("file.") + t.path, t.path, t.unit,
                     "the table '" + std::string(t.path) + "'"});
    }
    return v;
}

// The state of one file in a checkpoint: 0 not open, 1 open but not a regular file (a
// terminal, /dev/null), 2 a regular file; its bytes and their CRC-32.
struct file_mark {
    long long kind = 0, bytes = 0, crc = 0;
};

// The CRC-32 of the first n bytes of a file; false when it holds fewer.
bool prefix_crc(const std::string& path, long long n, std::uint32_t& crc) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    std::vector<char> buf(1 << 20);
    crc = 0;
    while (n > 0) {
        const std::size_t k = (std::size_t)std::min<long long>(n, (long long)buf.size());
        if (std::fread(buf.data(), 1, k, f) != k) break;
        crc = crc32_update(crc, buf.data(), k);
        n -= (long long)k;
    }
    std::fclose(f);
    return n == 0;
}

long long file_size(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (long long)st.st_size : -1;
}

// The bytes of time k of the ParaView series: of its .vtu, or of its .pvtu and every piece
// (-1 when one is missing).
long long series_size(const extra_files& x, int k) {
    long long total = 0;
    for (const std::string& p : series_files(x, k)) {
        const long long n = file_size(p);
        if (n < 0) return -1;
        total += n;
    }
    return total;
}

bool sync_file(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) return false;
    const bool ok = ::fdatasync(::fileno(f)) == 0;
    std::fclose(f);
    return ok;
}

// ---- writing

// The fault injection of the tests (NEPORA3D_CHECKPOINT_FAULT=K:B): the K-th checkpoint of the
// process kills it after B bytes, or just before its rename when B is beyond its end.
long long fault_bytes(int count) {
    const char* s = std::getenv("NEPORA3D_CHECKPOINT_FAULT");
    if (s == nullptr) return -1;
    char* end = nullptr;
    const long k = std::strtol(s, &end, 10);
    if (end == s || *end != ':' || k != count) return -1;
    const long long b = std::strtoll(end + 1, &end, 10);
    return b >= 0 ? b : -1;
}

void write_header(state_writer& w, records& R, int kind) {
    iofiles& io = R.io;
    w.put_text("program", io.PROGNAME);
    w.put_text("version", NEPORA_VERSION);
    saver v{w};
    v("kind", kind);
    v("extra", io.EXTRA.ON);
    v("step", R.ctl.NDONE);
    v("time", R.ctl.TDONE);
    for (int unit : kDeckUnits) {
        const freader& fr = io.in(unit);
        long long mark[2] = {fr.text_size(), fr.text_crc()};
        const std::string key = "deck." + std::to_string(unit);
        w.put_text(key, io.NAMES[unit]);
        w.put((key + ".text").c_str(), 'q', mark, 2);
    }
}

void write_checkpoint(records& R, int kind, const ckpt_arrays* arrays) {
    iofiles& io = R.io;
    checkpoint_files& c = io.CKPT;
    double now = 0.0;
    timer(now, 1);
    // A checkpoint taken: the preconditioners are set up anew (as in a run continued from it).
    auto taken = [&] {
        petsc_renew(R.sp.PETSCF);
        petsc_renew(R.sp.PETSCT);
        c.LAST = c.PATH;
        c.NDONE = R.ctl.NDONE;
        c.CLOCK = now;
    };
    if (!proc_writes()) {
        // Process 0 writes the checkpoint; the others keep its account, and their share of
        // the solves is set up anew with process 0's.
        c.COUNT += 1;
        taken();
        return;
    }
    if (arrays != nullptr && !sync_file(arrays->path)) {
        input_error("cannot put the checkpoint's arrays '" + arrays->path + "' on disk: " + std::strerror(errno) +
                    checkpoint_note(io));
    }
    const std::string note = checkpoint_note(io);

    // Every file complete and on disk up to what the checkpoint records.
    flush_all(io);
    extra_flush(io);
    check_outputs(io, note);
    std::vector<out_file> files = output_files(io);
    for (out_file& f : files) {
        if (f.unit->is_open() && f.unit->regular() && !f.unit->sync()) {
            check_outputs(io, note);
        }
    }
    extra_files& x = io.EXTRA;
    arr1<long long> vtusize(x.VTUTIME.size());
    for (int k = 0; k < x.NVTU; ++k) {
        vtusize(k + 1) = series_size(x, k);
        if (k < c.NVTUSYNC) continue;
        // On several processes also the pieces of the others, complete since the section
        // that wrote them ended.
        for (const std::string& p : series_files(x, k)) {
            if (!sync_file(p)) {
                input_error("cannot put the ParaView file '" + p + "' on disk: " +
                            std::strerror(errno) + note);
            }
        }
    }
    // The directories once (the files of the set were created at the start), and vtk/ again
    // whenever new files appeared in it.
    if (x.OPEN && (c.COUNT == 0 || x.NVTU != c.NVTUSYNC)) {
        if (x.VTK) {
            if (x.NVTU > 0) sync_file(pvd_path());
            sync_directory("vtk");
        }
        if (x.H5 && x.NVTU > 0) {
            // The results file, closed after every time it got.
            if (!sync_file(h5_path()) || !sync_file(xdmf_path())) {
                input_error(std::string("cannot put the results file '") + h5_path() + "' on disk: " +
                            std::strerror(errno) + note);
            }
            sync_directory("h5");
        }
        if (c.COUNT == 0) sync_directory("csv");
    }
    if (c.COUNT == 0) sync_directory(".");
    c.NVTUSYNC = x.NVTU;

    state_writer w;
    c.COUNT += 1;
    w.kill_after(fault_bytes(c.COUNT));
    if (w.begin(c.PATH, arrays != nullptr ? kCheckpointVersion : kCheckpointWhole)) {
        write_header(w, R, kind);
        saver v{w};
        double elapsed = c.ELAPSED0 + (now - c.START);
        v("elapsed", elapsed);
        for (int unit : kSeriesUnits) {
            const freader& fr = io.in(unit);
            long long place[2] = {(long long)fr.offset(), fr.line()};
            if (!fr.is_open()) place[0] = place[1] = 0;
            w.put(("reader." + std::to_string(unit)).c_str(), 'q', place, 2);
        }
        for (out_file& f : files) {
            file_mark m;
            if (f.unit->is_open()) {
                m.kind = f.unit->regular() ? 2 : 1;
                m.bytes = f.unit->position();
                m.crc = f.unit->checksum();
            }
            w.put_text(f.key, f.path);
            w.put((f.key + ".mark").c_str(), 'q', &m.kind, 3);
        }
        w.put("vtu.sizes", 'q', vtusize.data(), vtusize.size());
        if (arrays == nullptr) {
            state_entries(v, R);
        } else {
            // The arrays of the mesh's extent are in the arrays file: their entries, sizes and sums.
            w.put_text("arrays.file", base_name(arrays->path));
            long long token = (long long)arrays->token;
            v("arrays.token", token);
            std::size_t k = 0;
            state_entries(v, [&](auto&, const field_info& fi, auto) {
                const ckpt_array& a = arrays->list[k++];
                long long e[3] = {a.entries, a.rows, (long long)a.sum};
                w.put(fi.name, 'q', e, 3);
            }, R);
        }
        if (w.commit()) {
            taken();
            // The arrays files that no checkpoint in PATH names any more.
            for (int slot : {1, 2}) {
                const std::string old = arrays_path(c.PATH, slot);
                if (arrays == nullptr || old != arrays->path) std::remove(old.c_str());
            }
            return;
        }
    }
    input_error("cannot write the checkpoint '" + c.PATH + "': " + std::strerror(w.error()) + note);
}

// ---- reading

struct restart_header {
    int kind = 0;
    bool extra = false;
    int step = 0;
    double time = 0.0;
};

// Opens the checkpoint and checks it whole and against the deck; the reader is then at the
// first entry after the header.
restart_header open_checkpoint(state_reader& r, iofiles& io) {
    const std::string why = r.open(io.CKPT.RESTART, kCheckpointWhole, kCheckpointVersion);
    if (!why.empty()) refuse(io, why);
    loader v{r, io};
    restart_header h;
    std::string program, version;
    v.check(r.get_text("program", program));
    v.check(r.get_text("version", version));
    if (program != io.PROGNAME) {
        refuse(io, "was written by " + program + ", not by " + io.PROGNAME);
    }
    if (version != NEPORA_VERSION) {
        refuse(io, "was written by version " + version + " of " + program + ", this is version " +
                       NEPORA_VERSION + " (its numbers would not continue the run exactly)");
    }
    v("kind", h.kind);
    v("extra", h.extra);
    v("step", h.step);
    v("time", h.time);
    if (h.extra != io.EXTRA.ON) {
        refuse(io, std::string("was written by a run ") + (h.extra ? "with" : "without") +
                       " the vtk/ and csv/ results; give --no-extra-output " +
                       (h.extra ? "to neither run" : "to both runs"));
    }
    for (int unit : kDeckUnits) {
        const freader& fr = io.in(unit);
        const std::string key = "deck." + std::to_string(unit);
        std::string name;
        long long mark[2] = {0, 0};
        v.check(r.get_text(key, name));
        v.check(r.get((key + ".text").c_str(), 'q', mark, 2));
        // The initial conditions are process 0's to read, and to check.
        if (read_by_writer(unit) && !proc_writes()) continue;
        long long here[2] = {fr.text_size(), fr.text_crc()};
        if (name != io.NAMES[unit] && here[0] >= 0) {
            refuse(io, "was written for another deck: its " + std::string(input_role(unit)) +
                           " is '" + name + "', this deck's is '" + io.NAMES[unit] + "'");
        }
        if (here[0] != mark[0] || here[1] != mark[1]) {
            refuse(io, "was written for another deck: the " + std::string(input_role(unit)) +
                           " '" + io.NAMES[unit] + "' is not the one it was written with");
        }
    }
    return h;
}

}  // namespace

int checkpoint_option(int argc, char** argv, int& k, checkpoint_files& c, const char* prog) {
    const std::string a = argv[k];
    const bool every = a == "--checkpoint-every", wall = a == "--checkpoint-wall";
    const bool path = a == "--checkpoint", restart = a == "--restart";
    if (!every && !wall && !path && !restart) return 0;
    if (k + 1 >= argc || argv[k + 1][0] == '\0') {
        std::fprintf(stderr, "%s: %s needs a value\n", prog, a.c_str());
        return -1;
    }
    const std::string val = argv[++k];
    char* end = nullptr;
    errno = 0;
    if (every) {
        const long n = std::strtol(val.c_str(), &end, 10);
        if (*end != '\0' || errno != 0 || n < 1 || n > 2147483647L) {
            std::fprintf(stderr, "%s: --checkpoint-every '%s': expected a number of steps >= 1\n",
                         prog, val.c_str());
            return -1;
        }
        c.EVERY = (int)n;
    } else if (wall) {
        const double s = std::strtod(val.c_str(), &end);
        if (*end != '\0' || errno != 0 || !(s > 0.0) || !std::isfinite(s)) {
            std::fprintf(stderr, "%s: --checkpoint-wall '%s': expected a number of seconds > 0\n",
                         prog, val.c_str());
            return -1;
        }
        c.WALL = s;
    } else if (path) {
        c.PATH = absolute(val);
    } else {
        c.RESTART = absolute(val);
    }
    c.ON = true;
    return 1;
}

void checkpoint_start(records& R) {
    iofiles& io = R.io;
    checkpoint_files& c = io.CKPT;
    timer(c.START, 1);
    c.CLOCK = c.START;
    if (!c.ON) return;
    if (c.PATH.empty()) c.PATH = c.RESTART.empty() ? "nepora3d.chk" : c.RESTART;
    // The checkpoint may not take the place of a file of the deck.
    struct stat cs {};
    const bool exists = ::stat(c.PATH.c_str(), &cs) == 0;
    for (int unit = 1; unit <= kMaxUnit; ++unit) {
        const std::string& name = io.NAMES[unit];
        if (name.empty() || name == "/dev/null") continue;
        struct stat st {};
        const bool same = absolute(name) == absolute(c.PATH) ||
                          (exists && ::stat(name.c_str(), &st) == 0 && st.st_dev == cs.st_dev &&
                           st.st_ino == cs.st_ino);
        if (same) {
            input_error("the checkpoint file '" + c.PATH + "' is the file '" + name +
                        "' of the deck; --checkpoint names another");
        }
    }
    if (c.RESTART.empty()) return;
    state_reader r;
    open_checkpoint(r, io);
}

namespace {

// Writes the checkpoint (collective). A run on meshes of the processes' own writes the arrays of
// the mesh's extent first, every process its own part, into the arrays file that the last
// checkpoint does not name; process 0 then writes the checkpoint that names it.
void write_state(records& R, deck_view* V, int kind) {
    checkpoint_files& c = R.io.CKPT;
    const bool cut = V != nullptr && R.msh.cut();
    ckpt_arrays a;
    if (cut) {
        c.SLOT = c.SLOT == 1 ? 2 : 1;
        a.path = arrays_path(c.PATH, c.SLOT);
        const std::string why = write_state_arrays(R, a);
        together([&] {
            if (!why.empty()) {
                input_error("cannot write the checkpoint's arrays '" + a.path + "': " + why +
                            checkpoint_note(R.io));
            }
        });
        arrays_time("written to", a);
    }
    together([&] { write_checkpoint(R, kind, cut ? &a : nullptr); });
}

// The arrays of a checkpoint that holds them itself, on a run on meshes of the processes' own:
// the values of the nodes (surface nodes, tetrahedra) the process holds, taken from the entry
// a block at a time.
template <class Arr>
void read_held(state_reader& r, loader& v, records& R, const field_info& fi, Arr& a) {
    using T = std::remove_cv_t<std::remove_reference_t<decltype(*a.data())>>;
    const char type = std::is_same_v<T, double> ? 'd' : 'i';
    std::uint64_t count = 0;
    v.check(r.count(fi.name, type, count));
    if (count == 0) {
        v.check(r.get(fi.name, type, nullptr, 0));
        return;
    }
    const long n = extent_size(fi.where, R.dim);
    const long rows = std::max<long>(1, (long)(count / (std::uint64_t)std::max(1L, deck_size(R, fi.where))));
    if (a.empty()) {
        if constexpr (is_arr2<Arr>::value) a.alloc(rows, n);
        else a.alloc((std::size_t)n);
    }
    std::vector<std::pair<std::uint64_t, std::size_t>> picks;
    picks.reserve((std::size_t)(n * rows));
    for (long i = 1; i <= n; ++i) {
        const std::uint64_t d = (std::uint64_t)(deck_number(R.msh, fi.where, i) - 1);
        for (long q = 0; q < rows; ++q) {
            picks.push_back({d * (std::uint64_t)rows + (std::uint64_t)q, (std::size_t)((i - 1) * rows + q)});
        }
    }
    std::sort(picks.begin(), picks.end());
    std::vector<std::uint64_t> at(picks.size());
    for (std::size_t k = 0; k < picks.size(); ++k) at[k] = picks[k].first;
    std::vector<T> buf(picks.size());
    v.check(r.get_picked(fi.name, type, count, at, buf.data()));
    for (std::size_t k = 0; k < picks.size(); ++k) a.data()[picks[k].second] = buf[k];
}

}  // namespace

void restart_state(records& R, deck_view* V) {
    iofiles& io = R.io;
    control& ctl = R.ctl;
    checkpoint_files& c = io.CKPT;
    const bool cut = V != nullptr && R.msh.cut();
    restart_header h;
    std::vector<out_file> files = output_files(io);
    std::vector<file_mark> marks(files.size());
    arr1<long long> vtusize;
    ckpt_arrays arrays;
    bool split = false;

    // The checkpoint: every process reads the values of the run, those of the arrays it holds
    // (of a checkpoint that holds them) or the list of the arrays file.
    together([&] {
        state_reader r;
        h = open_checkpoint(r, io);
        split = r.version() == kCheckpointVersion;
        loader v{r, io};
        v("elapsed", c.ELAPSED0);
        for (int unit : kSeriesUnits) {
            long long place[2] = {0, 0};
            v.check(r.get(("reader." + std::to_string(unit)).c_str(), 'q', place, 2));
            freader& fr = io.in(unit);
            if (fr.is_open() && !fr.seek((std::size_t)place[0], (long)place[1])) {
                refuse(io, "places the reader of the " + std::string(input_role(unit)) +
                               " outside its text");
            }
        }
        for (std::size_t k = 0; k < files.size(); ++k) {
            std::string name;
            v.check(r.get_text(files[k].key, name));
            v.check(r.get((files[k].key + ".mark").c_str(), 'q', &marks[k].kind, 3));
            // A file the checkpoint knew by another name (a terminal log that goes to this run's
            // terminal, not to terminal.log) starts anew.
            if (name != files[k].path && marks[k].kind != 0) marks[k].kind = 1;
        }
        if (io.EXTRA.ON) extra_alloc(R.dim, ctl, io, R.msh);
        vtusize.alloc(io.EXTRA.VTUTIME.size());
        v.check(r.get("vtu.sizes", 'q', vtusize.data(), vtusize.size()));
        if (split) {
            std::string name;
            long long token = 0;
            v.check(r.get_text("arrays.file", name));
            v("arrays.token", token);
            if (name.empty() || name.find('/') != std::string::npos) refuse(io, "is damaged: it names no arrays file");
            arrays.path = directory_of(c.RESTART) + "/" + name;
            arrays.token = (std::uint64_t)token;
            // The next checkpoint into the same file keeps this one's arrays until it is written.
            for (int slot : {1, 2}) {
                if (base_name(arrays_path(c.PATH, slot)) == name && directory_of(c.PATH) == directory_of(c.RESTART)) c.SLOT = slot;
            }
        }
        {
            const long long at = r.tell();
            state_check k{r, ""};
            state_entries(k, [&](auto& x, const field_info& fi, auto) {
                using T = std::remove_cv_t<std::remove_reference_t<decltype(*x.data())>>;
                if (split) k.entry(fi.name, 'q', 3);
                else if (x.empty()) k.entry(fi.name, state_check::type_of<T>(), -1);
                else if (cut) k.entry(fi.name, state_check::type_of<T>(), deck_size(R, fi.where) * (x.size() / std::max<long>(1, extent_size(fi.where, R.dim))));
                else k.entry(fi.name, state_check::type_of<T>(), (long long)x.size());
            }, R);
            if (!k.why.empty()) refuse(io, "does not hold the state of this build of " + std::string(io.PROGNAME) + ": it " + k.why);
            if (!r.seek(at)) refuse(io, "cannot be read");
        }
        state_entries(v, [&](auto& x, const field_info& fi, auto) {
            if (split) {
                long long e[3] = {0, 1, 0};
                v.check(r.get(fi.name, 'q', e, 3));
                arrays.list.push_back({fi.name, e[0], e[1], (std::uint64_t)e[2]});
            } else if (!cut) {
                v(fi.name, x);
            } else {
                read_held(r, v, R, fi, x);
            }
        }, R);
    });
    if (split) {
        // The arrays file: each process the values of what it holds.
        const std::string why = read_state_arrays(R, arrays);
        together([&] {
            if (!why.empty()) refuse(io, why);
        });
        arrays_time("read from", arrays);
    }
    c.LAST = c.RESTART;
    c.NDONE = ctl.NDONE;
    c.NVTUSYNC = io.EXTRA.NVTU;

    // A checkpoint of the end of a run that would have gone on (a signal stopped it) continues
    // from its last step: the observation rows of that step are written again as a run that
    // goes on writes them, then the next step is set up.
    const bool resume = h.kind == KIND_END && run_continues(ctl) &&
                        !(ctl.ITRANS != 0 && ctl.CPLSTA == -3);
    together([&] {
        for (std::size_t k = 0; k < files.size(); ++k) {
            if (resume && files[k].unit == &io.EXTRA.OBS && marks[k].kind == 2) {
                marks[k].bytes = io.EXTRA.OBSPOS;
                marks[k].crc = io.EXTRA.OBSCRC;
            }
        }

        // Every file must still hold what the checkpoint recorded: all are checked before any
        // is cut back.
        for (std::size_t k = 0; k < files.size(); ++k) {
            const file_mark& m = marks[k];
            if (m.kind != 2) continue;
            const long long size = file_size(files[k].path);
            std::uint32_t crc = 0;
            if (size < 0) {
                refuse(io, "continues " + files[k].what + ", which is missing");
            }
            if (size < m.bytes) {
                refuse(io, "continues " + files[k].what + " from byte " + std::to_string(m.bytes) +
                               ", but it holds " + std::to_string(size));
            }
            if (!prefix_crc(files[k].path, m.bytes, crc) || crc != (std::uint32_t)m.crc) {
                refuse(io, "continues " + files[k].what +
                               ", which no longer holds what the run had written (its first " +
                               std::to_string(m.bytes) + " bytes differ)");
            }
        }
        for (int k = 0; k < io.EXTRA.NVTU; ++k) {
            if (series_size(io.EXTRA, k) != vtusize(k + 1)) {
                const std::vector<std::string> files = series_files(io.EXTRA, k);
                if (files.empty() || vtusize(k + 1) == 0) {
                    refuse(io, std::string("was written by a run ") + (files.empty() ? "with" : "without") +
                                   " the ParaView series of vtk/; give the same --results to both runs");
                }
                const std::string p = files.size() == 1 ? "'" + files[0] + "'"
                                                        : "'" + files[0] + "' or a piece of it";
                refuse(io, "continues the ParaView series, but " + p + " is missing or changed");
            }
        }

        // The files, where the checkpoint left them.
        for (std::size_t k = 0; k < files.size(); ++k) {
            const file_mark& m = marks[k];
            out_file& f = files[k];
            f.unit->discard();
            f.unit->close();
            if (m.kind == 0) continue;
            errno = 0;
            const bool ok = m.kind == 2 ? f.unit->open_at(f.path, m.bytes, (std::uint32_t)m.crc)
                                        : f.unit->open(f.path);
            if (!ok) {
                input_error("cannot open " + f.what + " to continue it: " +
                            std::strerror(errno ? errno : EACCES));
            }
        }
        if (io.EXTRA.ON) extra_resume(io);
        std::fprintf(stderr, "%s: continuing the run from the checkpoint '%s' of step %d, time %.6g\n",
                     io.PROGNAME, c.RESTART.c_str(), h.step, h.time);
    });

    // The observation rows of the step again: on a run on meshes of the processes' own, by
    // process 0 from the values of the nodes they read, gathered to it (collective).
    ctl.ENDFLOW = ctl.ENDCPL = false;
    if (resume && cut) watch(&V->nodes, R.msh, R.sl, R.fs);
    together([&] {
        if (h.kind == KIND_END && !resume) {
            // The run had ended: only its final output is written again.
            ctl.ENDFLOW = ctl.ENDCPL = true;
        } else if (resume) {
            extra_rows_again(R.dim, ctl, io, R.msh, R.sl, R.fs, cut ? &V->nodes : nullptr);
        }
        if (resume) {
            if (ctl.ITRANS != 0) next_coupled_step(R.dim, ctl, io, R.msh, R.bc, R.sl, R.fs);
            else next_flow_step(R.dim, ctl, io, R.msh, R.bc, R.sl, R.fs);
        }
        flush_all(io);
    });
}

void checkpoint_step(records& R, deck_view* V) {
    checkpoint_files& c = R.io.CKPT;
    const control& ctl = R.ctl;
    if (!c.ON || ctl.ENDFLOW || ctl.ENDCPL || ctl.NDONE == c.NDONE) return;
    bool due = c.EVERY > 0 && ctl.NDONE % c.EVERY == 0;
    if (!due && c.WALL > 0.0) {
        double now = 0.0;
        timer(now, 1);
        due = now - c.CLOCK >= c.WALL;
    }
    // Several processes go by process 0's clock.
    if (c.WALL > 0.0) due = proc_root(due ? 1 : 0) != 0;
    if (due) write_state(R, V, KIND_STEP);
}

void checkpoint_end(records& R, deck_view* V) {
    if (R.io.CKPT.ON) write_state(R, V, KIND_END);
}

std::string checkpoint_note(const iofiles& io) {
    const checkpoint_files& c = io.CKPT;
    if (c.LAST.empty()) return "";
    return "; the run stops (--restart '" + c.LAST + "' continues it from step " +
           std::to_string(c.NDONE) + ")";
}

}  // namespace nep
