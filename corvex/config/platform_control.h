// Progress and the two ways a boot ends early without the ME being told: the
// POST code on port 0x80, the platform reset through port 0xCF9 and the halt.
#ifndef CORVEX_CONFIG_PLATFORM_CONTROL_H
#define CORVEX_CONFIG_PLATFORM_CONTROL_H

#include "corvex/platform/types.h"

void PostCode(u8 code);

// Resets the platform. If the hardware does not take the reset the processor
// stops (kStopReset with the value written to port 0xCF9): a reset path never
// goes on with the boot.
[[noreturn]] void SystemReset();

// Shows 0xEE on port 0x81 and `code` on port 0x80, then stops for good.
[[noreturn]] void FatalHalt(u8 code);

#endif  // CORVEX_CONFIG_PLATFORM_CONTROL_H
