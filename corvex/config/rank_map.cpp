// The temporary rank map in force during DRAM initialization and calibration,
// and the real rank boundaries and channel and slot sizes.
#include "corvex/config/rank_map.h"

void ProgramTemporaryMap() {
    // Not built yet: the fixed placeholder rank and memory map.
}

void ProgramRankBoundaries(MemConfig*) {
    // Not built yet: programs the geometry bytes and boundaries and sizes the
    // channels, so until then both channels read as empty.
}
