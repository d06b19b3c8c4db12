// libFuzzer harness over the free-form reader: the input is a file's text, read by a sequence of
// statements whose kinds (integers, reals, logicals, lists of a count read from the file, text
// records, skipped values) come from the text itself, until the file ends or a read error stops.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/freeread.h"
#include "base/stop.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    nep::freader fr;
    fr.open_text(std::string(reinterpret_cast<const char*>(data), size), "fuzzed file", "fuzz");
    try {
        for (unsigned k = 0; k < 64 && !fr.at_end(); ++k) {
            int i = 0;
            double r = 0.0;
            bool l = false;
            switch ((size > 0 ? data[k % size] : 0u) % 6u) {
            case 0: fr.read(i, i); break;
            case 1: fr.read(r, r, r); break;
            case 2: fr.read(l); break;
            case 3: {
                fr.begin();
                fr.get(i);
                const long line = fr.line();
                const int n = i < 0 ? 0 : (i > 1000 ? 1000 : i);
                fr.expect_list("n = " + std::to_string(n), line);
                for (int j = 0; j < n; ++j) fr.get(r);
                fr.finish();
                break;
            }
            case 4: fr.read_text(40); break;
            default: fr.skip_values(3); break;
            }
        }
    } catch (const nep::run_stop&) {
    }
    return 0;
}
