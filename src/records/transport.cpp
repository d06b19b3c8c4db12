#include <algorithm>

#include "records/transport.h"

namespace nep {

// Created only for coupled runs. A negative count read by the first pass is refused by the
// transport boundary reader; it sizes nothing here.
void alloc_transport(const dimensions& dim, transport& tra) {
    const long np2c = std::max(dim.NP2C, 0);
    const long npc = std::max(dim.NPC, 0);
    const long nmc = std::max(dim.NMC, 0);
    tra.DIR2DC.alloc(np2c);
    tra.DIRNODC.alloc(npc);
    tra.CAUNOD.alloc(nmc);
    tra.DIRVALC.alloc(npc);
    tra.CAUTOT.alloc(nmc);
    tra.CAUADV.alloc(nmc);
    tra.TRFLX.alloc(npc + nmc);
    tra.TRFLXP.alloc(npc + nmc);
}

void release_transport(transport& tra) {
    tra.DIR2DC.release();
    tra.DIRNODC.release();
    tra.CAUNOD.release();
    tra.DIRVALC.release();
    tra.CAUTOT.release();
    tra.CAUADV.release();
    tra.TRFLX.release();
    tra.TRFLXP.release();
}

}  // namespace nep
