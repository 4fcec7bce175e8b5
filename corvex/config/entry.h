// The parts of the entry that decide the boot path: the state the ME and a
// previous boot left, full DIMM detection, and the firmware's overrides.
// MemInitEntry itself is declared in boot_interface.h.
#ifndef CORVEX_CONFIG_ENTRY_H
#define CORVEX_CONFIG_ENTRY_H

#include "corvex/config/boot_interface.h"
#include "corvex/config/records.h"

// Sets meMemSizeMb, meHoldsMemory and skipDramInit from the hardware.
void ReadRetainedState(MemConfig* config);

// Full detection: validation, frequency and CAS selection, timings, rank maps.
void DetectDimms(MemInitInput* input, SpdBuffer* spd, MemConfig* config);

// The CAS latency and timing overrides, in both boot paths.
void ApplyOverrides(MemInitInput* input, MemConfig* config);

// The firmware's ddrFreqOverride (0 = automatic). Every use of the override
// goes through here: a value above 3 indexes past every frequency table, so
// it stops with kFatalDdrFreqOverride.
u8 DdrFreqOverride(const MemInitInput* input);

#endif  // CORVEX_CONFIG_ENTRY_H
