// The configuration saved in CMOS at the end of a full detection and restored
// from there in boot mode 1.
#ifndef CORVEX_CONFIG_SAVED_CONFIG_H
#define CORVEX_CONFIG_SAVED_CONFIG_H

#include "corvex/config/boot_interface.h"
#include "corvex/config/records.h"

// The CMOS copy cannot be what a full detection saved: a data rate outside
// DDR2-533..800, a bus index above 2, or a present rank whose code has no
// GeometryTable row. Every later step would index its tables past their ends.
// Chosen apart from every other fatal code.
const u8 kFatalSavedConfig = 0xF1;

// Second CMOS bank of the real-time clock: index, then data.
const u16 PORT_CMOS_INDEX = 0x72;
const u16 PORT_CMOS_DATA = 0x73;

// CMOS index of SavedConfig byte k (byte k of the little-endian words 0..3).
extern const u8 CmosIndexTable[16];

// Full detection only, after the step driver.
void SaveConfig(MemConfig* config, MemInitOutput* output);
// Boot mode 1 only; uses savedConfigIn as its buffer. Stops with
// kFatalSavedConfig on a copy that cannot be used.
void RestoreConfig(MemConfig* config, MemInitInput* input);

#endif  // CORVEX_CONFIG_SAVED_CONFIG_H
