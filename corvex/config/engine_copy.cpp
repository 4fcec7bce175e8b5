// The copy of the memory configuration in the register block that the ME reads.
#include "corvex/config/engine_copy.h"

void CopyConfigToEngine(MemConfig*) {
    // Not built yet: writes rank boundaries, geometry, timings and the engine's
    // share into the block at MC_BASE+0xA00.
}
