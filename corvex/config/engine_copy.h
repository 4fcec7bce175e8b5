// The copy of the memory configuration in the register block that the ME reads.
#ifndef CORVEX_CONFIG_ENGINE_COPY_H
#define CORVEX_CONFIG_ENGINE_COPY_H

#include "corvex/config/records.h"

void CopyConfigToEngine(MemConfig* config);

#endif  // CORVEX_CONFIG_ENGINE_COPY_H
