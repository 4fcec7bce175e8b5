// Software-sequenced cycles: kelvor picks each opcode from the OPMENU by
// slot, with the write-enable prefix as one atomic sequence for programs and
// erases, and moves the data through the controller's 64-byte buffer.
#include "kelvor/front/console.h"
#include "kelvor/spi/bounded_wait.h"
#include "kelvor/spi/flash_cycles.h"
#include "kelvor/spi/spi_controller.h"
#include "kelvor/spi/spi_window.h"

namespace {

int SlotFor(uint32_t operation) {
    const OpMenuSlotSet& slots = SpiController.OpMenuSlots;
    switch (operation) {
        case kCycleRead:
            return slots.ReadSlot;
        case kCycleProgram:
            return slots.ProgramSlot;
        default:
            return slots.EraseSlot;
    }
}

// Control bytes of one cycle, each field in a write of its own.
void SetUpControl(uint32_t operation, int slot, uint32_t count) {
    uint16_t high = SpiRead16(kRegSsfctlHigh);
    high = static_cast<uint16_t>(high & ~(kSsfctlCountMask | kSsfctlDataPhase));
    if (operation != kCycleErase) {
        high = static_cast<uint16_t>(high | kSsfctlDataPhase | ((count - 1) & kSsfctlCountMask));
    }
    SpiWrite16(kRegSsfctlHigh, high);
    uint8_t low = SpiRead8(kRegSsfctlLow);
    SpiWrite8(kRegSsfctlLow,
              static_cast<uint8_t>((low & ~kSsfctlOpcodeSlotMask) |
                                   (static_cast<uint32_t>(slot) << kSsfctlOpcodeSlotShift)));
    const bool atomic = operation != kCycleRead;
    low = SpiRead8(kRegSsfctlLow);
    SpiWrite8(kRegSsfctlLow, static_cast<uint8_t>((low & ~kSsfctlPrefixSlot) |
                                                  (atomic ? WriteEnablePrefixBit() : 0)));
    low = SpiRead8(kRegSsfctlLow);
    SpiWrite8(kRegSsfctlLow,
              static_cast<uint8_t>(atomic ? (low | kSsfctlAtomic) : (low & ~kSsfctlAtomic)));
}

}  // namespace

int SwSeqCycle(uint32_t address, uint8_t* buffer, uint32_t length, uint32_t operation,
               const FlashDeviceRecord& record) {
    TraceOutput("SwSeqCycle(0x%08X, %u, %u)...\n", address, length, operation);
    if (operation > kCycleErase) {
        return 1;
    }
    if (operation == kCycleErase) {
        if (record.EraseOpcode < 0) {
            PrintOutput("\n>>> Error: The flash device does not support an erase command!\n\n");
            return 1;
        }
        if (!CheckEraseSteps(address, length, record.EraseBlockSize, "block erase size")) {
            return 1;
        }
    } else if (operation == kCycleProgram && !CheckWriteGranularity(record.WriteGranularity)) {
        return 1;
    }
    if (!RangeFitsAddressSpace(address, length)) {
        return 1;
    }
    const int slot = SlotFor(operation);
    uint32_t done = 0;
    while (done < length) {
        if (WaitWhileStatusSet(kRegSsfsts, 8, kSsfstsScip, kWaitLimitMs, nullptr) != 0) {
            PrintOutput("\n>>> Error: Timedout waiting for hardware to become available!\n\n");
            return 1;
        }
        SpiClearSoftwareStatus();
        if (slot < 0) {
            // Only a locked menu can lack the command; the slots never change
            // during a request, so this happens before its first cycle.
            return FallBackToHwSeq(address, buffer != nullptr ? buffer + done : nullptr,
                                   length - done, operation);
        }
        const uint32_t remaining = length - done;
        uint32_t count = record.EraseBlockSize;
        if (operation == kCycleRead) {
            count = CycleByteCount(address, remaining, kDataBufferSize, operation);
        } else if (operation == kCycleProgram) {
            count = CycleByteCount(address, remaining, record.WriteGranularity, operation);
        }
        SetUpControl(operation, slot, count);
        if (operation == kCycleProgram) {
            SpiWriteDataBuffer(buffer + done, count);
        }
        SpiSetFlashAddress(address);
        const uint8_t low = SpiRead8(kRegSsfctlLow);
        SpiWrite8(kRegSsfctlLow, static_cast<uint8_t>(low | kSsfctlGo));
        uint32_t status = 0;
        if (WaitUntilStatusSet(kRegSsfsts, 8, kSsfstsFdone, kWaitLimitMs, &status) != 0) {
            PrintOutput("\n>>> Error: Timedout waiting for hardware to complete operation!\n\n");
            return 1;
        }
        if ((status & kSsfstsAel) != 0) {
            PrintOutput("\n>>> SSFSTS[04] (AEL) = 1\n");
            return 1;
        }
        if ((status & kSsfstsFcerr) != 0) {
            PrintOutput("\n>>> SSFSTS[03] (FCERR) = 1\n");
            return 1;
        }
        if (operation == kCycleRead) {
            SpiReadDataBuffer(buffer + done, count);
        }
        SpiClearSoftwareStatus();
        address += count;
        done += count;
    }
    return 0;
}

int FallBackToHwSeq(uint32_t address, uint8_t* buffer, uint32_t length, uint32_t operation) {
    if (SpiController.HwSeqAvailable == 1) {
        return HwSeqCycle(address, buffer, length, operation);
    }
    PrintOutput(
        "\n>>> Error: The SPI registers are write-protected, no valid flash descriptor was found, "
        "and the OPMENU register does not contain the correct command! Cannot access the "
        "flash!\n\n");
    return 1;
}
