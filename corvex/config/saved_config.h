// The configuration saved in CMOS at the end of a full detection and restored
// from there in boot mode 1.
#ifndef CORVEX_CONFIG_SAVED_CONFIG_H
#define CORVEX_CONFIG_SAVED_CONFIG_H

#include "corvex/config/boot_interface.h"
#include "corvex/config/records.h"

// Full detection only, after the step driver.
void SaveConfig(MemConfig* config, MemInitOutput* output);
// Boot mode 1 only; uses savedConfigIn as its buffer.
void RestoreConfig(MemConfig* config, MemInitInput* input);

#endif  // CORVEX_CONFIG_SAVED_CONFIG_H
