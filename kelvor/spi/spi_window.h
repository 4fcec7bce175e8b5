// The SPI controller's register block as kelvor reaches it: offsets and bits
// of the registers used, and the only functions that touch the mapped window.
// Each accessor is one volatile load or store of exactly the named width; the
// window is never copied with memcpy, since the controller decodes every
// access by its width.
#ifndef KELVOR_SPI_SPI_WINDOW_H
#define KELVOR_SPI_SPI_WINDOW_H

#include <cstdint>

// Register offsets from SpiControllerState::RegisterBase.
constexpr uint32_t kRegHsfsts = 0x04;      // 16-bit hardware sequencing status
constexpr uint32_t kRegHsfctl = 0x06;      // 16-bit hardware sequencing control
constexpr uint32_t kRegFaddr = 0x08;       // 32-bit flash address
constexpr uint32_t kRegFdata = 0x10;       // 64-byte data buffer
constexpr uint32_t kRegFracc = 0x50;       // 32-bit host access rights
constexpr uint32_t kRegFreg0 = 0x54;       // 32-bit region registers 0 to 3
constexpr uint32_t kRegSsfsts = 0x90;      // 8-bit software sequencing status
constexpr uint32_t kRegSsfctlLow = 0x91;   // 8-bit software sequencing control
constexpr uint32_t kRegSsfctlHigh = 0x92;  // 16-bit: byte count and data phase
constexpr uint32_t kRegPreop = 0x94;       // 2 x 8-bit prefix opcodes
constexpr uint32_t kRegOptype = 0x96;      // 16-bit opcode types
constexpr uint32_t kRegOpmenu = 0x98;      // 8 x 8-bit opcodes
constexpr uint32_t kRegVscc = 0xC0;        // 32-bit erase and write description

constexpr uint32_t kDataBufferSize = 64;
constexpr int kOpMenuSize = 8;

// HSFSTS bits.
constexpr uint16_t kHsfstsFdone = 0x0001;
constexpr uint16_t kHsfstsFcerr = 0x0002;
constexpr uint16_t kHsfstsAel = 0x0004;
constexpr uint16_t kHsfstsScip = 0x0020;
constexpr uint16_t kHsfstsFdopss = 0x2000;
constexpr uint16_t kHsfstsFdv = 0x4000;
constexpr uint16_t kHsfstsFlockdn = 0x8000;
constexpr uint32_t kHsfstsClearBits = 0x07;  // FDONE, FCERR, AEL: write 1 to clear

// HSFCTL bits.
constexpr uint16_t kHsfctlGo = 0x0001;
constexpr uint16_t kHsfctlCycleMask = 0x0006;
constexpr uint16_t kHsfctlCycleWrite = 0x0004;
constexpr uint16_t kHsfctlCycleErase = 0x0006;
constexpr uint16_t kHsfctlCountMask = 0x3F00;
constexpr uint16_t kHsfctlFsmie = 0x8000;

// SSFSTS bits.
constexpr uint8_t kSsfstsScip = 0x01;
constexpr uint8_t kSsfstsFdone = 0x04;
constexpr uint8_t kSsfstsFcerr = 0x08;
constexpr uint8_t kSsfstsAel = 0x10;
constexpr uint32_t kSsfstsClearBits = 0x1C;  // FDONE, FCERR, AEL: write 1 to clear

// Software sequencing control, low byte and high half.
constexpr uint8_t kSsfctlGo = 0x02;
constexpr uint8_t kSsfctlAtomic = 0x04;
constexpr uint8_t kSsfctlPrefixSlot = 0x08;
constexpr uint8_t kSsfctlOpcodeSlotMask = 0x70;
constexpr int kSsfctlOpcodeSlotShift = 4;
constexpr uint16_t kSsfctlCountMask = 0x003F;
constexpr uint16_t kSsfctlDataPhase = 0x0040;

// VSCC fields.
constexpr uint32_t kVsccBesMask = 0x00000300;
constexpr int kVsccBesShift = 8;
constexpr uint32_t kVsccWg = 0x00000400;

// Flash address register: only bits 0-24 are the address.
constexpr uint32_t kFaddrMask = 0x01FFFFFF;

uint8_t SpiRead8(uint32_t offset);
uint16_t SpiRead16(uint32_t offset);
uint32_t SpiRead32(uint32_t offset);
void SpiWrite8(uint32_t offset, uint8_t value);
void SpiWrite16(uint32_t offset, uint16_t value);
void SpiWrite32(uint32_t offset, uint32_t value);

// The first `count` bytes (at most kDataBufferSize) of the data buffer, moved
// a dword at a time and byte by byte only for the rest.
void SpiReadDataBuffer(uint8_t* destination, uint32_t count);
void SpiWriteDataBuffer(const uint8_t* source, uint32_t count);

// Loads the flash address register, keeping the bits above the address.
void SpiSetFlashAddress(uint32_t address);

// Status clearing. Software sequencing: OR 0x1C into the dword at SSFSTS, or
// (read-ID and chip erase) three byte writes v | 0x10, v | 0x18, v | 0x1C
// from the status byte v. Hardware sequencing: OR 7 into the dword at HSFSTS,
// which writes HSFCTL back unchanged.
void SpiClearSoftwareStatus();
void SpiClearSoftwareStatusBytewise(uint8_t status);
void SpiClearHardwareStatus();

#endif  // KELVOR_SPI_SPI_WINDOW_H
