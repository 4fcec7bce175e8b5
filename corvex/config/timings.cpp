// Choosing the DDR2 data rate and CAS latency that every DIMM supports and
// deriving the DRAM timings from the DIMMs' SPD minimum times.
#include "corvex/config/timings.h"

void SelectFrequencyAndCas(MemInitInput*, SpdBuffer*, MemConfig*) {
    // Not built yet: the search for the highest common data rate and lowest CAS
    // latency. It reads ddrFreqOverride through DdrFreqOverride().
}

void DeriveTimings(SpdBuffer*, MemConfig*) {
    // Not built yet: derives tRAS, tRP, tRCD, tWR, tRFC, tWTR, tRRD and tRTP.
}
