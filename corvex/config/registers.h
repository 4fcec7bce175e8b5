// Where the hardware that corvex drives lives, and the read-modify-write
// helpers every step uses. All access still goes through the platform layer:
// a helper is exactly one read and one write of the named width, in that
// order, keeping every bit it is not told to change.
#ifndef CORVEX_CONFIG_REGISTERS_H
#define CORVEX_CONFIG_REGISTERS_H

#include "corvex/platform/platform.h"
#include "corvex/platform/types.h"

// Memory controller register block. Channel B's copy of a per-channel register
// lies kChannelStride above channel A's.
const u32 MC_BASE = 0xFED14000;
const u32 kChannelStride = 0x400;

// Memory-mapped PCI Express configuration window.
const u32 PCIE_CFG_BASE = 0xE0000000;

// Register `reg` of PCI device bus:device.function.
constexpr u32 PciCfgAddress(u32 bus, u32 device, u32 function, u32 reg) {
    return PCIE_CFG_BASE + (bus << 20 | device << 15 | function << 12) + reg;
}

// Memory controller register at `offset`, channel 0 (A) or 1 (B).
constexpr u32 McAddress(u32 offset, u32 channel = 0) {
    return MC_BASE + offset + channel * kChannelStride;
}

// Byte register 0x08 of a PCI device: its revision ID.
const u32 kPciRevisionId = 0x08;

// Fixed platform locations outside the controller block.
const u32 TPM_ACCESS_0 = 0xFED40000;         // bit 7: register valid (locality 0)
const u32 HPET_GENERAL_CONFIG = 0xFED00010;  // bit 0: main counter runs
const u32 HPET_MAIN_COUNTER = 0xFED000F0;
const u32 HPET_DECODE = 0xFED1F404;  // bit 7 set, bit 0 clear: the HPET responds

// I/O ports.
const u16 PORT_POST = 0x80;  // one byte; a 16-bit write also shows 0xEE on 0x81
const u16 PORT_BOOT_STAGE_84 = 0x84;
const u16 PORT_BOOT_STAGE_85 = 0x85;
const u16 PORT_RESET = 0xCF9;

inline void PhysModify8(u32 address, u8 clear, u8 set) {
    PhysWrite8(address, static_cast<u8>((PhysRead8(address) & ~clear) | set));
}
inline void PhysModify16(u32 address, u16 clear, u16 set) {
    PhysWrite16(address, static_cast<u16>((PhysRead16(address) & ~clear) | set));
}
inline void PhysModify32(u32 address, u32 clear, u32 set) {
    PhysWrite32(address, (PhysRead32(address) & ~clear) | set);
}

inline void PhysSetBits8(u32 address, u8 bits) {
    PhysModify8(address, 0, bits);
}
inline void PhysSetBits16(u32 address, u16 bits) {
    PhysModify16(address, 0, bits);
}
inline void PhysSetBits32(u32 address, u32 bits) {
    PhysModify32(address, 0, bits);
}
inline void PhysClearBits8(u32 address, u8 bits) {
    PhysModify8(address, bits, 0);
}
inline void PhysClearBits16(u32 address, u16 bits) {
    PhysModify16(address, bits, 0);
}
inline void PhysClearBits32(u32 address, u32 bits) {
    PhysModify32(address, bits, 0);
}

#endif  // CORVEX_CONFIG_REGISTERS_H
