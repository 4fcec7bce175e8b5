// Final controller configuration: host-bus counter, receive-enable adjustment,
// fixed channel settings, rank-interleave mode and the engine-share granule.
#include "corvex/dram/final_config.h"

void FinalControllerConfig(MemConfig*) {
    // Not built yet: the last controller settings before the ME handshake.
}
