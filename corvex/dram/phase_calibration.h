// Clock phase calibration and the timing of the signal groups.
#ifndef CORVEX_DRAM_PHASE_CALIBRATION_H
#define CORVEX_DRAM_PHASE_CALIBRATION_H

#include "corvex/config/records.h"

// Also run again, whole, by DramReadyHandshake when the ME holds its memory.
void ClockPhaseAndTiming(MemConfig* config);

#endif  // CORVEX_DRAM_PHASE_CALIBRATION_H
