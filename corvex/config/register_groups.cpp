// The seven DRAM-interface register groups of each channel and the preset
// adjustment that follows them.
#include "corvex/config/register_groups.h"

void ProgramRegisterGroups(MemConfig*) {
    // Not built yet: fills the register groups from the clock-class tables.
}

void AdjustGroupPresets(MemConfig*) {
    // Not built yet: writes a drive preset chosen from the measured codes.
}
