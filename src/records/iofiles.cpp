#include "records/iofiles.h"

namespace nep {

const char* input_role(int unit) {
    switch (unit) {
    case 1: return "fnames file";
    case 5: return "parameter file";
    case 8: return "grid file";
    case 9: return "flow boundary-condition file";
    case 10: return "prescribed-head time-series file";
    case 11: return "prescribed-flux time-series file";
    case 12: return "atmospheric boundary-condition file";
    case 13: return "seepage-face file";
    case 14: return "soil file";
    case 15: return "flow initial-condition file";
    case 16: return "transport initial-condition file";
    case 17: return "solute file";
    case 18: return "transport boundary-condition file";
    default: return "input file";
    }
}

}  // namespace nep
