// Reading the DIMMs' SPD over SMBus, validating the DIMMs and condensing them
// into rank masks, rank geometry codes and DIMM type codes.
#ifndef CORVEX_CONFIG_SPD_DIMMS_H
#define CORVEX_CONFIG_SPD_DIMMS_H

#include "corvex/config/boot_interface.h"
#include "corvex/config/records.h"

// Fills the record of every slot; returns 1 always.
u32 ReadAllSpd(SpdBuffer* spd);
// Stops through FatalStop on a DIMM the controller cannot drive.
void ValidateDimms(MemInitInput* input, SpdBuffer* spd, MemConfig* config);
void BuildRankMaps(MemConfig* config);

#endif  // CORVEX_CONFIG_SPD_DIMMS_H
