// The seam between corvex's host platform layer and whatever hosts a boot on
// the host (corvex-run, the tests). The host platform forwards every access
// here; the host links in the definitions and decides what answers them.
#ifndef CORVEX_PLATFORM_HOST_HOST_BUS_H
#define CORVEX_PLATFORM_HOST_HOST_BUS_H

#include "corvex/platform/types.h"

enum HostBusSpace : u32 {
    kHostBusPhysical = 0,  // physical address space
    kHostBusPort = 1,      // I/O port space
};

extern "C" {
// One access of `width` bytes (1, 2 or 4).
u32 CorvexHostRead(u32 space, u32 address, u32 width);
void CorvexHostWrite(u32 space, u32 address, u32 width, u32 value);
// Ends the boot; never returns to corvex.
[[noreturn]] void CorvexHostStop(u32 reason);
}

#endif  // CORVEX_PLATFORM_HOST_HOST_BUS_H
