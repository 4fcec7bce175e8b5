// POST codes, platform reset and halt (see platform_control.h).
#include "corvex/config/platform_control.h"

#include "corvex/config/registers.h"
#include "corvex/platform/platform.h"

namespace {

// Value for port 0xCF9 that asks for a full platform reset.
const u8 kFullReset = 0x0E;

}  // namespace

void PostCode(u8 code) {
    PortWrite8(PORT_POST, code);
}

void SystemReset() {
    const u32 device31 = PciCfgAddress(0, 31, 0, 0);
    if (PhysRead8(device31 + kPciRevisionId) > 0) {
        PhysSetBits32(device31 + 0xAC, 1u << 20);
    }
    PortWrite8(PORT_RESET, kFullReset);
    PlatformStop(kStopReset | kFullReset);
}

void FatalHalt(u8 code) {
    PortWrite16(PORT_POST, static_cast<u16>(0xEE00 | code));
    PlatformStop(kStopHalt | code);
}
