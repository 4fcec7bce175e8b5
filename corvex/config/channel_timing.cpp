// The per-channel DRAM timing registers, the channel enable and the
// clock-dependent channel control values.
#include "corvex/config/channel_timing.h"

void ProgramChannelTimings(MemConfig*) {
    // Not built yet: programs the timing registers of each populated channel.
}

void EnableChannels(MemConfig*) {
    // Not built yet: enables the populated channels.
}

void ProgramChannelControl(MemConfig*) {
    // Not built yet: refresh, power and clock-dependent control of each channel.
}
