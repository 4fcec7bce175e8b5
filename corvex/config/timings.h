// Choosing the DDR2 data rate and CAS latency that every DIMM supports and
// deriving the DRAM timings from the DIMMs' SPD minimum times.
#ifndef CORVEX_CONFIG_TIMINGS_H
#define CORVEX_CONFIG_TIMINGS_H

#include "corvex/config/boot_interface.h"
#include "corvex/config/records.h"

// Sets fsbFreq, ddrFreq and casLatency; stops through FatalStop when nothing fits.
// Takes ddrFreqOverride only through DdrFreqOverride() (entry.h), which stops
// on values the frequency tables do not cover.
void SelectFrequencyAndCas(MemInitInput* input, SpdBuffer* spd, MemConfig* config);
// Sets the timing fields; stops through FatalStop on an impossible value.
void DeriveTimings(SpdBuffer* spd, MemConfig* config);

#endif  // CORVEX_CONFIG_TIMINGS_H
