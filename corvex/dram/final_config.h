// Final controller configuration: host-bus counter, receive-enable adjustment,
// fixed channel settings, rank-interleave mode and the engine-share granule.
#ifndef CORVEX_DRAM_FINAL_CONFIG_H
#define CORVEX_DRAM_FINAL_CONFIG_H

#include "corvex/config/records.h"

void FinalControllerConfig(MemConfig* config);

#endif  // CORVEX_DRAM_FINAL_CONFIG_H
