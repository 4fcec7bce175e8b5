// Memory clock selection and the host-to-memory clock-crossing set-up.
#include "corvex/dram/clocking.h"

void ApplyDdrFrequency(MemConfig*) {
    // Not built yet: selects the memory clock and checks it against the host bus.
}

void ProgramClockCrossing(MemConfig*) {
    // Not built yet: loads the clock-crossing records for the frequency pair.
}

void ProgramFrequencyTimings(MemConfig*) {
    // Not built yet: the frequency-dependent fields that go with the crossing.
}
