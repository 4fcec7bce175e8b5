// The JEDEC DDR2 initialization sequence of every present rank.
#include "corvex/dram/jedec_init.h"

void DramJedecInit(MemConfig*) {
    // Not built yet: the mode-register sequence of every present rank.
}
