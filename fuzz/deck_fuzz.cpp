// libFuzzer harness over the readers of a deck: the first byte of an input chooses one of the
// twelve input files of a small deck (tests/cases/tiny, read once), the rest of the input
// replaces that file, and the run goes from the first pass over the files to the initial state
// (every reader, the mesh, the patterns, the initial and boundary conditions, the scan of the
// time series), all in memory. A stop with a message is a normal end; a crash, a sanitizer
// report, a hang or an exhausted memory is a finding.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <memory>
#include <new>
#include <sstream>
#include <string>

#include "base/stop.h"
#include "run/driver.h"
#include "run/run.h"
#include "mesh/csr.h"
#include "mesh/grid.h"
#include "records/sparse.h"
#include "run/storage.h"

#ifndef NEPORA_SOURCE_DIR
#define NEPORA_SOURCE_DIR "."
#endif

namespace {

const char* const kFiles[nep::kNumInputLines] = {"parm",  "grid",  "nansfbc", "dirts",
                                                 "neuts", "atmbc", "sfbc",    "soil",
                                                 "flowic", "transic", "solute", "transbc"};

const std::string& deck_file(int k) {
    static std::string text[nep::kNumInputLines];
    static bool read = false;
    if (!read) {
        for (int i = 0; i < nep::kNumInputLines; ++i) {
            std::ifstream in(std::string(NEPORA_SOURCE_DIR) + "/tests/cases/tiny/" + kFiles[i]);
            std::ostringstream s;
            s << in.rdbuf();
            text[i] = s.str();
        }
        read = true;
    }
    return text[k];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int which = data[0] % nep::kNumInputLines;
    const std::string fuzzed(reinterpret_cast<const char*>(data) + 1, size - 1);
    auto R = std::make_unique<nep::records>();
    nep::iofiles& io = R->io;
    for (int k = 0; k < nep::kNumInputLines; ++k) {
        const int unit = nep::kInputUnits[k];
        io.NAMES[unit] = kFiles[k];
        io.in(unit).open_text(k == which ? fuzzed : deck_file(k), nep::input_role(unit), kFiles[k]);
    }
    for (int unit : nep::kOutputUnits) io.out(unit).open_memory();
    io.out(nep::kTermUnit).open_memory();
    io.STDOUT.open_memory();
    io.STDERR.open_memory();
    io.EXTRA.ON = false;
    try {
        nep::read_dim(R->dim, R->ctl, io);
        // A deck of a large valid mesh is no finding: the harness keeps to decks of a few
        // hundred MB (the program itself checks the machine's memory).
        const double w = (double)nep::pattern_width(R->dim.N1 > 0 ? R->dim.N1 : 0, R->dim.N);
        if ((double)R->dim.NT * 320.0 + (double)R->dim.N * (400.0 + 8.0 * w) > 3.0e8) return 0;
        nep::allocate(R->dim, R->ctl, io, R->msh, R->bc, R->tra, R->sl, R->sp, R->fs);
        nep::check(R->dim, R->ctl, io);
        nep::datin_grid(*R);
        nep::datin_rest(*R);
        nep::grid3d(R->dim, R->ctl, io, R->msh, R->bc, R->tra);
        nep::csr_ptr(R->dim, R->ctl, io, R->msh, R->sp);
        nep::initial(*R);
        nep::initial_rest(*R);
    } catch (const nep::run_stop&) {
    } catch (const std::bad_alloc&) {
    }
    return 0;
}
