// The seven DRAM-interface register groups of each channel and the preset
// adjustment that follows them.
#ifndef CORVEX_CONFIG_REGISTER_GROUPS_H
#define CORVEX_CONFIG_REGISTER_GROUPS_H

#include "corvex/config/records.h"

// Ends by starting the hardware (bit 0 of MC_BASE+0x130).
void ProgramRegisterGroups(MemConfig* config);
// The caller waits for bit 0 of MC_BASE+0x130 to clear first.
void AdjustGroupPresets(MemConfig* config);

#endif  // CORVEX_CONFIG_REGISTER_GROUPS_H
