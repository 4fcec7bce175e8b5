// The end of a failed memory initialization: the code is shown on the POST
// port, the ME is told that DRAM initialization failed, and the processor
// stops. Every step reports an unrecoverable condition this way.
#ifndef CORVEX_DRAM_FATAL_STOP_H
#define CORVEX_DRAM_FATAL_STOP_H

#include "corvex/platform/types.h"

// Fatal codes raised by the entry and the driver. The steps keep their own
// codes next to their code.
const u8 kFatalNoDimm = 0xE8;           // no slot holds a DIMM with a first rank
const u8 kFatalDdrFreqOverride = 0xE6;  // ddrFreqOverride above 3 (DDR2-800)

// Halts (no message to the ME) on a reply with the wrong command byte.
const u8 kHaltDramInitDoneReply = 0xB1;
const u8 kHaltCommand0AReply = 0xB2;

[[noreturn]] void FatalStop(u8 code);

#endif  // CORVEX_DRAM_FATAL_STOP_H
