// Choosing the DDR2 data rate and CAS latency that every DIMM supports and
// deriving the DRAM timings from the DIMMs' SPD minimum times.
#ifndef CORVEX_CONFIG_TIMINGS_H
#define CORVEX_CONFIG_TIMINGS_H

#include "corvex/config/boot_interface.h"
#include "corvex/config/records.h"

// Fatal codes of the selection and of each timing search (a DIMM needs more
// than the field can hold, or gives no value at all).
const u8 kFatalNothingFits = 0x10;  // no data rate of 533 or faster and CAS latency fits
const u8 kFatalFsbFreq = 0xE9;      // front-side-bus index above 2
const u8 kFatalTRas = 0xEC;
const u8 kFatalTRp = 0xEB;
const u8 kFatalTRcd = 0xEE;
const u8 kFatalBurst8 = 0xE7;   // no burst length 8
const u8 kFatalTWrTRrd = 0xE0;  // tWR, tRRD (shared with the DIMM kind check)
const u8 kFatalTRfc = 0xE4;
const u8 kFatalTWtr = 0xEF;
const u8 kFatalTRtp = 0xED;

// DRAM clock period in units of 0.25 ns by ddrFreq 0..3.
extern const u8 DdrClockQnsTable[4];

// Sets fsbFreq, ddrFreq and casLatency; stops through FatalStop when nothing fits.
// Takes ddrFreqOverride only through DdrFreqOverride() (entry.h), which stops
// on values the frequency tables do not cover.
void SelectFrequencyAndCas(MemInitInput* input, SpdBuffer* spd, MemConfig* config);
// Sets the timing fields; stops through FatalStop on an impossible value.
void DeriveTimings(SpdBuffer* spd, MemConfig* config);

// Index 0..7 of the lowest set bit; 8 for 0.
u8 LowestSetBit(u8 value);
// Index 0..7 of the highest set bit; 8 for 0, which has none.
u8 HighestSetBit(u8 value);

#endif  // CORVEX_CONFIG_TIMINGS_H
