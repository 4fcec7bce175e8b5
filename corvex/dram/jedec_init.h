// The JEDEC DDR2 initialization sequence of every present rank.
#ifndef CORVEX_DRAM_JEDEC_INIT_H
#define CORVEX_DRAM_JEDEC_INIT_H

#include "corvex/config/records.h"

void DramJedecInit(MemConfig* config);

#endif  // CORVEX_DRAM_JEDEC_INIT_H
