// The only way corvex reaches hardware. Every call is one access of exactly
// the named width, performed when and in the order it is called; nothing is
// cached, merged or reordered. Two implementations stand behind this header:
// metal/ (volatile accesses and in/out instructions, for the boot-flash image)
// and host/ (every access forwarded to whatever hosts the boot, for tests and
// corvex-run).
#ifndef CORVEX_PLATFORM_PLATFORM_H
#define CORVEX_PLATFORM_PLATFORM_H

#include "corvex/platform/types.h"

// Physical memory, any alignment (controller registers sit at odd offsets).
u8 PhysRead8(u32 address);
u16 PhysRead16(u32 address);
u32 PhysRead32(u32 address);
void PhysWrite8(u32 address, u8 value);
void PhysWrite16(u32 address, u16 value);
void PhysWrite32(u32 address, u32 value);

// I/O ports.
u8 PortRead8(u16 port);
void PortWrite8(u16 port, u8 value);
void PortWrite16(u16 port, u16 value);

// Why the processor stops; the low byte carries the code shown on port 0x80
// (for kStopReset: the value written to port 0xCF9).
enum StopReason : u32 {
    kStopFatal = 0x100,  // FatalStop: code shown, ME told
    kStopHalt = 0x200,   // FatalHalt: code shown, no message
    kStopReset = 0x300,  // a reset was requested and the hardware did not take it
};

// Stops the boot processor for good. On metal it halts forever; on the host it
// ends the boot and hands control back to the harness.
[[noreturn]] void PlatformStop(u32 reason);

#endif  // CORVEX_PLATFORM_PLATFORM_H
