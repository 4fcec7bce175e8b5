// The step driver: every controller and DRAM step in one fixed order, each
// announced on the POST port, with the skips for preserved DRAM and for an
// ME that holds its memory, and the resets where that state cannot go on.
#ifndef CORVEX_CONFIG_STEP_DRIVER_H
#define CORVEX_CONFIG_STEP_DRIVER_H

#include "corvex/config/boot_interface.h"
#include "corvex/config/records.h"

void RunMemInitSteps(MemInitInput* input, u8 bootMode, MemConfig* config, MemInitOutput* output);

#endif  // CORVEX_CONFIG_STEP_DRIVER_H
