// The channel map (interleave, stacking, the ME's share) and the host-visible
// system memory map.
#include "corvex/dram/memory_map.h"

void ProgramChannelMap(MemConfig*, MemInitOutput*) {
    // Not built yet: divides memory between the channels and the ME.
}

void ProgramSystemMemoryMap(MemConfig*, MemInitInput*) {
    // Not built yet: top of memory, remap window and graphics memory bases.
}
