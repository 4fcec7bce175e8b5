// Metal implementation of the platform layer for the boot-flash image: each
// call is exactly one volatile access or one in/out instruction of the named
// width. The "memory" clobbers keep port accesses in program order with the
// memory-mapped ones.
#include "corvex/platform/platform.h"

namespace {

typedef __UINTPTR_TYPE__ uptr;

template <typename T>
volatile T* At(u32 address) {
    return reinterpret_cast<volatile T*>(static_cast<uptr>(address));
}

}  // namespace

u8 PhysRead8(u32 address) {
    return *At<u8>(address);
}
u16 PhysRead16(u32 address) {
    return *At<u16>(address);
}
u32 PhysRead32(u32 address) {
    return *At<u32>(address);
}
void PhysWrite8(u32 address, u8 value) {
    *At<u8>(address) = value;
}
void PhysWrite16(u32 address, u16 value) {
    *At<u16>(address) = value;
}
void PhysWrite32(u32 address, u32 value) {
    *At<u32>(address) = value;
}

u8 PortRead8(u16 port) {
    u8 value;
    __asm__ __volatile__("inb %w1, %b0" : "=a"(value) : "Nd"(port) : "memory");
    return value;
}
void PortWrite8(u16 port, u8 value) {
    __asm__ __volatile__("outb %b0, %w1" : : "a"(value), "Nd"(port) : "memory");
}
void PortWrite16(u16 port, u16 value) {
    __asm__ __volatile__("outw %w0, %w1" : : "a"(value), "Nd"(port) : "memory");
}

// Interrupts off, then halt; an NMI or SMI that wakes the processor finds it
// halting again.
void PlatformStop(u32) {
    for (;;) {
        __asm__ __volatile__("cli\n\thlt" : : : "memory");
    }
}
