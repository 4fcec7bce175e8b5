// Receive-enable calibration of every byte lane of every populated channel.
#ifndef CORVEX_DRAM_RECEIVE_ENABLE_H
#define CORVEX_DRAM_RECEIVE_ENABLE_H

#include "corvex/config/records.h"

void ReceiveEnableStep(MemConfig* config);

#endif  // CORVEX_DRAM_RECEIVE_ENABLE_H
