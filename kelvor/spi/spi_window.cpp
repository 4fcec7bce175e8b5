// The register window accessors. They live on their own so that every access
// to the controller is one of these few volatile moves.
#include "kelvor/spi/spi_window.h"

#include "kelvor/spi/spi_state.h"

namespace {

volatile uint8_t* At(uint32_t offset) {
    return SpiController.RegisterBase + offset;
}

}  // namespace

uint8_t SpiRead8(uint32_t offset) {
    return *At(offset);
}

uint16_t SpiRead16(uint32_t offset) {
    return *reinterpret_cast<volatile uint16_t*>(At(offset));
}

uint32_t SpiRead32(uint32_t offset) {
    return *reinterpret_cast<volatile uint32_t*>(At(offset));
}

void SpiWrite8(uint32_t offset, uint8_t value) {
    *At(offset) = value;
}

void SpiWrite16(uint32_t offset, uint16_t value) {
    *reinterpret_cast<volatile uint16_t*>(At(offset)) = value;
}

void SpiWrite32(uint32_t offset, uint32_t value) {
    *reinterpret_cast<volatile uint32_t*>(At(offset)) = value;
}

void SpiReadDataBuffer(uint8_t* destination, uint32_t count) {
    if (count > kDataBufferSize) {
        count = kDataBufferSize;
    }
    uint32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const uint32_t word = SpiRead32(kRegFdata + i);
        destination[i] = static_cast<uint8_t>(word);
        destination[i + 1] = static_cast<uint8_t>(word >> 8);
        destination[i + 2] = static_cast<uint8_t>(word >> 16);
        destination[i + 3] = static_cast<uint8_t>(word >> 24);
    }
    for (; i < count; ++i) {
        destination[i] = SpiRead8(kRegFdata + i);
    }
}

void SpiWriteDataBuffer(const uint8_t* source, uint32_t count) {
    if (count > kDataBufferSize) {
        count = kDataBufferSize;
    }
    uint32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const uint32_t word = static_cast<uint32_t>(source[i]) |
                              (static_cast<uint32_t>(source[i + 1]) << 8) |
                              (static_cast<uint32_t>(source[i + 2]) << 16) |
                              (static_cast<uint32_t>(source[i + 3]) << 24);
        SpiWrite32(kRegFdata + i, word);
    }
    for (; i < count; ++i) {
        SpiWrite8(kRegFdata + i, source[i]);
    }
}

void SpiSetFlashAddress(uint32_t address) {
    const uint32_t old = SpiRead32(kRegFaddr);
    SpiWrite32(kRegFaddr, (old & ~kFaddrMask) | (address & kFaddrMask));
}

void SpiClearSoftwareStatus() {
    SpiWrite32(kRegSsfsts, SpiRead32(kRegSsfsts) | kSsfstsClearBits);
}

void SpiClearSoftwareStatusBytewise(uint8_t status) {
    SpiWrite8(kRegSsfsts, static_cast<uint8_t>(status | 0x10));
    SpiWrite8(kRegSsfsts, static_cast<uint8_t>(status | 0x18));
    SpiWrite8(kRegSsfsts, static_cast<uint8_t>(status | 0x1C));
}

void SpiClearHardwareStatus() {
    SpiWrite32(kRegHsfsts, SpiRead32(kRegHsfsts) | kHsfstsClearBits);
}
