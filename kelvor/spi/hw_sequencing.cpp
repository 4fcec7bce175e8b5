// Hardware-sequenced cycles: software gives the cycle type, the byte count
// and the address; the controller chooses the opcodes, and VSCC describes
// its erase.
#include "kelvor/front/console.h"
#include "kelvor/spi/bounded_wait.h"
#include "kelvor/spi/flash_cycles.h"
#include "kelvor/spi/spi_window.h"

namespace {

// Erase step by VSCC BES; 0 marks the value the controller does not know.
const uint32_t kEraseSteps[4] = {256, 4096, 0, 65536};

void UpdateControl(uint16_t clear, uint16_t set) {
    const uint16_t control = SpiRead16(kRegHsfctl);
    SpiWrite16(kRegHsfctl, static_cast<uint16_t>((control & ~clear) | set));
}

void SetUpControl(uint32_t operation, uint32_t count) {
    const uint16_t countField = static_cast<uint16_t>(((count - 1) << 8) & kHsfctlCountMask);
    switch (operation) {
        case kCycleRead:
            UpdateControl(kHsfctlCycleMask, 0);
            UpdateControl(kHsfctlCountMask, countField);
            break;
        case kCycleProgram:
            UpdateControl(kHsfctlCycleMask, kHsfctlCycleWrite);
            UpdateControl(kHsfctlCountMask, countField);
            break;
        default:
            UpdateControl(kHsfctlCycleMask, kHsfctlCycleErase);
            UpdateControl(kHsfctlCountMask, 0);
            UpdateControl(kHsfctlFsmie, 0);
            break;
    }
}

}  // namespace

int HwSeqCycle(uint32_t address, uint8_t* buffer, uint32_t length, uint32_t operation) {
    TraceOutput("HwSeqCycle(0x%08X, %u, %u)...\n", address, length, operation);
    if (operation > kCycleErase) {
        return 1;
    }
    uint32_t eraseStep = 0;
    if (operation == kCycleErase) {
        const uint32_t vscc = SpiRead32(kRegVscc);
        if (vscc == 0 || vscc == 0xFFFFFFFFu) {
            TraceOutput(
                "\n>>> Error: Invalid VSCC Register, cannot perform Hardware Seq. Erase!\n>>> "
                "Value = 0x%08X\n",
                vscc);
            return 1;
        }
        eraseStep = kEraseSteps[(vscc & kVsccBesMask) >> kVsccBesShift];
        if (eraseStep == 0) {
            PrintOutput(
                "\n>>> Error: Unrecognized BERASE value in the HSFSTS register! value = %i\n\n",
                (SpiRead16(kRegHsfsts) >> 3) & 3);
            return 1;
        }
        if (!CheckEraseSteps(address, length, eraseStep, "VSCC erase step")) {
            return 1;
        }
    }
    if (!RangeFitsAddressSpace(address, length)) {
        return 1;
    }
    uint32_t done = 0;
    while (done < length) {
        if (WaitWhileStatusSet(kRegHsfsts, 16, kHsfstsScip, kWaitLimitMs, nullptr) != 0) {
            PrintOutput("\n>>> Error: Timedout waiting for hardware to become available!\n\n");
            return 1;
        }
        SpiClearHardwareStatus();
        const uint32_t count =
            operation == kCycleErase
                ? eraseStep
                : CycleByteCount(address, length - done, kDataBufferSize, operation);
        SetUpControl(operation, count);
        if (operation == kCycleProgram) {
            SpiWriteDataBuffer(buffer + done, count);
        }
        SpiSetFlashAddress(address);
        UpdateControl(0, kHsfctlGo);
        uint32_t status = 0;
        if (WaitUntilStatusSet(kRegHsfsts, 16, kHsfstsFdone, kWaitLimitMs, &status) != 0) {
            PrintOutput("\n>>> Error: Timedout waiting for hardware to complete operation!\n\n");
            return 1;
        }
        if ((status & kHsfstsAel) != 0) {
            PrintOutput("\n>>> HSFSTS[02] (AEL) = 1\n");
            return 1;
        }
        if ((status & kHsfstsFcerr) != 0) {
            PrintOutput("\n>>> HSFSTS[01] (FCERR) = 1\n");
            PrintOutput("HSFCTL: FSMIE = 0x%1X\n", (SpiRead16(kRegHsfctl) >> 15) & 1);
            return 1;
        }
        if (operation == kCycleRead) {
            SpiReadDataBuffer(buffer + done, count);
        }
        SpiClearHardwareStatus();
        address += count;
        done += count;
    }
    return 0;
}
