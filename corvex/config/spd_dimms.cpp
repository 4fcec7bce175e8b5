// Reading the DIMMs' SPD over SMBus, validating the DIMMs and condensing them
// into rank masks, rank geometry codes and DIMM type codes.
#include "corvex/config/spd_dimms.h"

u32 ReadAllSpd(SpdBuffer*) {
    // Not built yet: reads the first 48 SPD bytes of every fitted slot. Until
    // then no slot reads as present, so a full detection stops with kFatalNoDimm.
    return 1;
}

void ValidateDimms(MemInitInput*, SpdBuffer*, MemConfig*) {
    // Not built yet: checks every read slot and records its ranks and organisation.
}

void BuildRankMaps(MemConfig*) {
    // Not built yet: builds the rank masks, rank codes and DIMM type codes.
}
