// FatalStop (see fatal_stop.h).
#include "corvex/dram/fatal_stop.h"

#include "corvex/config/registers.h"
#include "corvex/dram/engine_messaging.h"
#include "corvex/platform/platform.h"

void FatalStop(u8 code) {
    PortWrite16(PORT_POST, static_cast<u16>(0xEE00 | code));
    // The boot is over whether or not the ME hears about it.
    SendDramInitDone(nullptr, nullptr);
    PlatformStop(kStopFatal | code);
}
