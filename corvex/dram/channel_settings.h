// Channel population and CAS-latency settings.
#ifndef CORVEX_DRAM_CHANNEL_SETTINGS_H
#define CORVEX_DRAM_CHANNEL_SETTINGS_H

#include "corvex/config/records.h"

void ProgramChannelSettings(MemConfig* config);

#endif  // CORVEX_DRAM_CHANNEL_SETTINGS_H
