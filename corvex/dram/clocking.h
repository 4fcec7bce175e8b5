// Memory clock selection and the host-to-memory clock-crossing set-up.
#ifndef CORVEX_DRAM_CLOCKING_H
#define CORVEX_DRAM_CLOCKING_H

#include "corvex/config/records.h"

// May lower ddrFreq to what the controller accepts.
void ApplyDdrFrequency(MemConfig* config);
void ProgramClockCrossing(MemConfig* config);
void ProgramFrequencyTimings(MemConfig* config);

#endif  // CORVEX_DRAM_CLOCKING_H
