// Host implementation of the platform layer: every access goes, with its
// width and in its order, to whatever hosts the boot (see host_bus.h).
#include "corvex/platform/host/host_bus.h"
#include "corvex/platform/platform.h"

u8 PhysRead8(u32 address) {
    return static_cast<u8>(CorvexHostRead(kHostBusPhysical, address, 1));
}
u16 PhysRead16(u32 address) {
    return static_cast<u16>(CorvexHostRead(kHostBusPhysical, address, 2));
}
u32 PhysRead32(u32 address) {
    return CorvexHostRead(kHostBusPhysical, address, 4);
}
void PhysWrite8(u32 address, u8 value) {
    CorvexHostWrite(kHostBusPhysical, address, 1, value);
}
void PhysWrite16(u32 address, u16 value) {
    CorvexHostWrite(kHostBusPhysical, address, 2, value);
}
void PhysWrite32(u32 address, u32 value) {
    CorvexHostWrite(kHostBusPhysical, address, 4, value);
}

u8 PortRead8(u16 port) {
    return static_cast<u8>(CorvexHostRead(kHostBusPort, port, 1));
}
void PortWrite8(u16 port, u8 value) {
    CorvexHostWrite(kHostBusPort, port, 1, value);
}
void PortWrite16(u16 port, u16 value) {
    CorvexHostWrite(kHostBusPort, port, 2, value);
}

void PlatformStop(u32 reason) {
    CorvexHostStop(reason);
}
