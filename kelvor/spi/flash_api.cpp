// The flash access API: each request is checked against the flash size, the
// governing part's alignment rules and the host's access rights, then run in
// the sequencing mode bring-up chose.
#include "kelvor/front/console.h"
#include "kelvor/spi/bounded_wait.h"
#include "kelvor/spi/flash_cycles.h"
#include "kelvor/spi/spi_api.h"
#include "kelvor/spi/spi_controller.h"
#include "kelvor/spi/spi_state.h"
#include "kelvor/spi/spi_window.h"

namespace {

// The record of the component that holds the request's first byte.
const FlashDeviceRecord& GoverningRecord(uint32_t address) {
    if (SpiController.ComponentCount >= 2 && address >= SpiController.Components[0].Size) {
        return SpiController.Components[1];
    }
    return SpiController.Components[0];
}

bool EndsBeyondFlash(uint32_t address, uint32_t length) {
    return static_cast<uint64_t>(address) + length > SpiController.TotalFlashSize;
}

bool HardwareMode() {
    return SpiController.SequencingMode == kHardwareSequencing;
}

// One chip-erase command to the component at `base`. 0 when done, else 4.
int ChipEraseComponent(uint32_t base) {
    SpiSetFlashAddress(base);
    SpiClearSoftwareStatusBytewise(SpiRead8(kRegSsfsts));
    if (WaitWhileStatusSet(kRegSsfsts, 8, kSsfstsScip, kWaitLimitMs, nullptr) != 0) {
        PrintOutput("\n>>> Error: Timedout waiting for hardware to become available!\n\n");
        return 4;
    }
    const uint16_t high = SpiRead16(kRegSsfctlHigh);
    SpiWrite16(kRegSsfctlHigh,
               static_cast<uint16_t>(high & ~(kSsfctlDataPhase | kSsfctlCountMask)));
    SpiWrite8(kRegSsfctlLow, 0);
    uint8_t low = SpiRead8(kRegSsfctlLow);
    SpiWrite8(kRegSsfctlLow,
              static_cast<uint8_t>((low & ~kSsfctlPrefixSlot) | WriteEnablePrefixBit()));
    low = SpiRead8(kRegSsfctlLow);
    SpiWrite8(kRegSsfctlLow, static_cast<uint8_t>(low | kSsfctlAtomic));
    low = SpiRead8(kRegSsfctlLow);
    const uint32_t slot = static_cast<uint32_t>(SpiController.OpMenuSlots.ChipEraseSlot);
    SpiWrite8(kRegSsfctlLow, static_cast<uint8_t>((low & ~kSsfctlOpcodeSlotMask) |
                                                  (slot << kSsfctlOpcodeSlotShift)));
    low = SpiRead8(kRegSsfctlLow);
    SpiWrite8(kRegSsfctlLow, static_cast<uint8_t>(low | kSsfctlGo));
    uint32_t status = 0;
    if (WaitUntilStatusSet(kRegSsfsts, 8, kSsfstsFdone | kSsfstsAel | kSsfstsFcerr,
                           kChipEraseWaitLimitMs, &status) != 0) {
        PrintOutput("\n>>> Error: Timedout waiting for hardware to complete operation!\n\n");
        return 4;
    }
    if ((status & kSsfstsAel) != 0) {
        PrintOutput("\n>>> SSFSTS[04] (AEL) = 1\n");
        return 4;
    }
    if ((status & kSsfstsFcerr) != 0) {
        PrintOutput("\n>>> SSFSTS[03] (FCERR) = 1\n");
        return 4;
    }
    SpiClearSoftwareStatusBytewise(static_cast<uint8_t>(status));
    return 0;
}

}  // namespace

int SpiReadFlash(uint32_t address, uint8_t* buffer, uint32_t length) {
    TraceOutput("SpiReadFlash(0x%08X, %u)...\n", address, length);
    // Without a valid descriptor reads are not held to the flash size, but no
    // range may run past the 32-bit address space.
    if ((SpiController.DescriptorValid == 1 && EndsBeyondFlash(address, length)) ||
        static_cast<uint64_t>(address) + length > 0x100000000ull) {
        return 1;
    }
    if (SpiCheckAccess(address, length, 0) == 1) {
        return 2;
    }
    if (HardwareMode()) {
        return HwSeqCycle(address, buffer, length, kCycleRead) != 0 ? 3 : 0;
    }
    return SwSeqCycle(address, buffer, length, kCycleRead, GoverningRecord(address)) != 0 ? 4 : 0;
}

int SpiWriteFlash(uint32_t address, const uint8_t* buffer, uint32_t length) {
    TraceOutput("SpiWriteFlash(0x%08X, %u)...\n", address, length);
    // Held to the flash size with or without a descriptor: past the end of a
    // part the address wraps and the data would land at its start.
    if (EndsBeyondFlash(address, length)) {
        return 2;
    }
    const FlashDeviceRecord& record = GoverningRecord(address);
    if (!CheckWriteGranularity(record.WriteGranularity)) {
        return 1;
    }
    const uint32_t mask = static_cast<uint32_t>(record.WriteGranularity) - 1;
    if ((address & mask) != 0 || (length & mask) != 0) {
        return 1;
    }
    if (SpiCheckAccess(address, length, 1) == 1) {
        return 3;
    }
    // The cycle routines take one buffer for both directions; a program only
    // reads from it.
    uint8_t* source = const_cast<uint8_t*>(buffer);
    if (HardwareMode()) {
        return HwSeqCycle(address, source, length, kCycleProgram) != 0 ? 4 : 0;
    }
    return SwSeqCycle(address, source, length, kCycleProgram, record) != 0 ? 5 : 0;
}

int SpiEraseBlock(uint32_t address) {
    TraceOutput("SpiEraseBlock(0x%08X)...\n", address);
    const FlashDeviceRecord& record = GoverningRecord(address);
    const uint32_t size = record.EraseBlockSize;
    if (EndsBeyondFlash(address, size)) {
        return 2;
    }
    // A block size of 0 would erase nothing and still report success.
    if (!IsPowerOfTwo(size)) {
        PrintOutput(
            "\n>>> Error: The block erase size of %u bytes cannot be used! It must be a power of "
            "two.\n\n",
            size);
        return 1;
    }
    if ((address & (size - 1)) != 0) {
        return 1;
    }
    if (SpiCheckAccess(address, size, 1) == 1) {
        return 4;
    }
    if (HardwareMode()) {
        return HwSeqCycle(address, nullptr, size, kCycleErase) != 0 ? 5 : 0;
    }
    return SwSeqCycle(address, nullptr, size, kCycleErase, record) != 0 ? 6 : 0;
}

int SpiEraseFlash() {
    TraceOutput("SpiEraseFlash()...\n");
    const uint32_t total = SpiController.TotalFlashSize;
    if (SpiCheckAccess(0, total, 1) == 1) {
        return 1;
    }
    if (HardwareMode()) {
        return HwSeqCycle(0, nullptr, total, kCycleErase) != 0 ? 2 : 0;
    }
    const FlashDeviceRecord& first = SpiController.Components[0];
    if (SpiController.OpMenuSlots.ChipEraseSlot < 0 || first.ChipEraseOpcode < 0) {
        return SwSeqCycle(0, nullptr, total, kCycleErase, first) != 0 ? 3 : 0;
    }
    for (uint32_t i = 0; i < SpiController.ComponentCount && i < 2; ++i) {
        const int result = ChipEraseComponent(ComponentBase(i));
        if (result != 0) {
            return result;
        }
    }
    return 0;
}
