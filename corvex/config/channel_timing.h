// The per-channel DRAM timing registers, the channel enable and the
// clock-dependent channel control values.
#ifndef CORVEX_CONFIG_CHANNEL_TIMING_H
#define CORVEX_CONFIG_CHANNEL_TIMING_H

#include "corvex/config/records.h"

void ProgramChannelTimings(MemConfig* config);
void EnableChannels(MemConfig* config);
void ProgramChannelControl(MemConfig* config);

#endif  // CORVEX_CONFIG_CHANNEL_TIMING_H
