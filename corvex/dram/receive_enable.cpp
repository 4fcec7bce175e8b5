// Receive-enable calibration of every byte lane of every populated channel.
#include "corvex/dram/receive_enable.h"

void ReceiveEnableStep(MemConfig*) {
    // Not built yet: the coarse, medium and fine receive-enable search.
}
