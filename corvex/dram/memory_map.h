// The channel map (interleave, stacking, the ME's share) and the host-visible
// system memory map.
#ifndef CORVEX_DRAM_MEMORY_MAP_H
#define CORVEX_DRAM_MEMORY_MAP_H

#include "corvex/config/boot_interface.h"
#include "corvex/config/records.h"

// May send DRAM-init-done and clear meMemSizeMb.
void ProgramChannelMap(MemConfig* config, MemInitOutput* output);
void ProgramSystemMemoryMap(MemConfig* config, MemInitInput* input);

#endif  // CORVEX_DRAM_MEMORY_MAP_H
