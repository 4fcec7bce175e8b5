// SPI controller bring-up: find the register block behind the LPC bridge,
// map it, load the part list, identify the parts, choose the sequencing mode,
// program the opcode menu and enable the parts. The result is the one
// SpiControllerState of the run.
#include "kelvor/spi/spi_controller.h"

#include <cerrno>
#include <cstring>

#include "kelvor/front/console.h"
#include "kelvor/front/settings.h"
#include "kelvor/ops/bios_protect.h"
#include "kelvor/spi/descriptor_regions.h"
#include "kelvor/spi/device_id.h"
#include "kelvor/spi/part_definitions.h"
#include "kelvor/spi/ravo_util.h"
#include "kelvor/spi/spi_api.h"
#include "kelvor/spi/spi_window.h"

SpiControllerState SpiController = {nullptr, 0, 0, 0, 0, 0, {}, kDefaultOpMenuSlots};

namespace {

constexpr uint8_t kWriteEnableOpcode = 0x06;

// Opcode types of the OPMENU.
constexpr uint16_t kTypeReadNoAddress = 0;
constexpr uint16_t kTypeWriteNoAddress = 1;
constexpr uint16_t kTypeReadWithAddress = 2;
constexpr uint16_t kTypeWriteWithAddress = 3;

void PrintLoadFailure(int result, int error) {
    switch (result) {
        case kPartFileNotFound:
            PrintOutput("\n>>> Error: Could not find the file \"%s\"!\n\n", PartFilePath);
            break;
        case kPartFileAccessDenied:
            PrintOutput("\n>>> Error: Access was denied opening the file \"%s\"!\n\n",
                        PartFilePath);
            break;
        case kPartFileOpenFailed:
            PrintOutput(
                "\n>>> Error: An unknown error occurred while opening the file \"%s\"! errno = "
                "%d.\n\n",
                PartFilePath, error);
            break;
        case kPartFileNoMemory:
            PrintOutput(
                "\n>>> Error: Failed to allocate memory for the flash part definition file!\n\n");
            break;
        default:
            PrintOutput("\n>>> Error: Failed to read the entire file \"%s\" into memory!\n\n",
                        PartFilePath);
            break;
    }
}

void PrintInitFailure(int result) {
    switch (result) {
        case kInitLockedUnusable:
            PrintOutput(
                "\n>>> Error: The SPI registers are write-protected, no valid flash descriptor was "
                "found, and the OPMENU register does not contain the correct commands! Cannot "
                "access the flash!\n\n");
            break;
        case kInitNoDevice:
            PrintOutput("\n>>> Error: No flash devices could be identified!\n\n");
            break;
        case kInitReadIdFailed:
            PrintOutput("\n>>> Error: Failed to read the device ID from the flash part!\n\n");
            break;
        case kInitUnsupportedDevice:
            PrintOutput("\n>>> Error: There is no supported SPI flash device installed!\n\n");
            break;
        case kInitIncompatibleDevices:
            PrintOutput(
                "\n>>> Error: The 2 flash devices do not have compatible command sets!\n\n");
            break;
        default:
            PrintOutput(
                "\n>>> Error: An error occurred while writing to the write status register of the "
                "flash device to enable it!\n\n");
            break;
    }
}

bool SameCommandSet(const FlashDeviceRecord& a, const FlashDeviceRecord& b) {
    return a.EraseBlockSize == b.EraseBlockSize && a.EraseOpcode == b.EraseOpcode &&
           a.WriteGranularity == b.WriteGranularity && a.ChipEraseOpcode == b.ChipEraseOpcode;
}

void PlaceOpcode(int slot, uint8_t opcode, uint16_t type) {
    SpiWrite8(kRegOpmenu + static_cast<uint32_t>(slot), opcode);
    const uint16_t types = SpiRead16(kRegOptype);
    SpiWrite16(kRegOptype, static_cast<uint16_t>(types | (type << (2 * slot))));
}

void ProgramOpMenu() {
    const OpMenuSlotSet& slots = SpiController.OpMenuSlots;
    const FlashDeviceRecord& first = SpiController.Components[0];
    SpiWrite32(kRegOpmenu, 0);
    SpiWrite32(kRegOpmenu + 4, 0);
    SpiWrite16(kRegOptype, 0);
    SpiWrite16(kRegPreop, 0);
    PlaceOpcode(slots.ProgramSlot, 0x02, kTypeWriteWithAddress);
    PlaceOpcode(slots.ReadSlot, 0x03, kTypeReadWithAddress);
    PlaceOpcode(slots.EraseSlot, static_cast<uint8_t>(first.EraseOpcode & 0xFF),
                kTypeWriteWithAddress);
    if (first.ChipEraseOpcode >= 0) {
        // Typed as a read so that no data phase is expected.
        PlaceOpcode(slots.ChipEraseSlot, static_cast<uint8_t>(first.ChipEraseOpcode & 0xFF),
                    kTypeReadNoAddress);
    }
    PlaceOpcode(slots.WriteStatusSlot, 0x01, kTypeWriteNoAddress);
    SpiWrite8(kRegPreop + static_cast<uint32_t>(slots.WriteEnablePrefixSlot), kWriteEnableOpcode);
}

// Probes the chip selects and fills Components. Returns 0, or the
// SpiControllerInit result that ends bring-up.
int FindFlashDevices() {
    std::memset(SpiController.Components, 0, sizeof SpiController.Components);
    SpiController.ComponentCount = 0;
    SpiController.TotalFlashSize = 0;
    uint32_t probeAddress = 0;
    const uint32_t chipSelects = SpiController.DescriptorValid == 1 ? 2 : 1;
    for (uint32_t i = 0; i < chipSelects; ++i) {
        FlashDeviceRecord& record = SpiController.Components[i];
        const int found = GetInstalledDevice(probeAddress, &record);
        if (found == kDeviceIdentified) {
            ++SpiController.ComponentCount;
            SpiController.TotalFlashSize += record.Size;
            probeAddress += record.Size;
            PrintOutput("\t%s\tID:0x%06X\tSize: %dKB (%dKb)\n", record.Name,
                        record.DeviceId & 0xFFFFFFu, static_cast<int>(record.Size / 1024),
                        static_cast<int>(record.Size / 128));
            continue;
        }
        // Whatever stands on the second chip select only leaves one part.
        std::memset(&record, 0, sizeof record);
        if (i == 1) {
            break;
        }
        if (found == kDeviceReadIdFailed) {
            return kInitReadIdFailed;
        }
        if (found == kDeviceNotListed) {
            return kInitUnsupportedDevice;
        }
        PrintOutput("\tSPI command registers are locked! HSFSTS[15] (FLOCKDN).\n");
        break;
    }
    return 0;
}

}  // namespace

bool SpiRegistersLocked() {
    return (SpiRead16(kRegHsfsts) & kHsfstsFlockdn) != 0;
}

uint8_t WriteEnablePrefixBit() {
    return SpiController.OpMenuSlots.WriteEnablePrefixSlot == 1 ? kSsfctlPrefixSlot : 0;
}

uint32_t ComponentBase(uint32_t index) {
    return index == 0 ? 0 : SpiController.Components[0].Size;
}

int InitializeSpi() {
    TraceOutput("InitializeSpi()...\n");
    const uint32_t rcba = LpcConfigRead(kLpcRcbaAddress);
    if ((rcba & kRcbaEnable) == 0) {
        PrintOutput(
            "\n>>> Error: The Enable bit in the LPC RCBA register is not set! The value of this "
            "register cannot be used as the SPI BIOS base address.\n\n");
        return 1;
    }
    const uint32_t physical = (rcba & kRcbaBaseMask) + kSpiBlockOffset;
    SpiController.RegisterBase = RAVOMapPhysAddress(physical);
    if (SpiWindowMapped == 0) {
        // The pointer holds only the page offset: nothing may go through it.
        SpiController.RegisterBase = nullptr;
        PrintOutput(
            "\n>>> Error: The SPI register block at physical address 0x%08X could not be "
            "mapped! Cannot access the flash!\n\n",
            physical);
        return 1;
    }
    const int loaded = SpiLoadDevicesFile(PartFilePath);
    if (loaded != kPartFileLoaded) {
        PrintLoadFailure(loaded, errno);
        return 1;
    }
    PrintOutput("Initializing SPI utilities\n");
    const int result = SpiControllerInit(SpiController.RegisterBase);
    if (result == kInitReady) {
        return 0;
    }
    PrintInitFailure(result);
    return 1;
}

int SpiControllerInit(volatile uint8_t* registerBase) {
    TraceOutput("SpiControllerInit(0x%08X)...\n",
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(registerBase)));
    SpiController.RegisterBase = registerBase;
    SpiController.DescriptorValid = (SpiRead16(kRegHsfsts) & kHsfstsFdv) != 0 ? 1 : 0;
    PrintOutput("Reading HSFSTS register... Flash Descriptor: %s\n",
                SpiController.DescriptorValid == 1 ? "Valid" : "INVALID");
    PrintOutput("\n\t--- Flash Devices Found ---\n");
    const int found = FindFlashDevices();
    if (found != 0) {
        return found;
    }
    PrintOutput("\n");
    if (SpiController.ComponentCount == 2 &&
        !SameCommandSet(SpiController.Components[0], SpiController.Components[1])) {
        return kInitIncompatibleDevices;
    }
    if (SpiController.DescriptorValid == 1) {
        TraceOutput("Hardware Sequencing is available\n");
        SpiController.HwSeqAvailable = 1;
        if (SpiController.ComponentCount == 0 && GetFlashSpecsFromDescriptor() == 0) {
            return kInitNoDevice;
        }
    }
    if (SpiRegistersLocked()) {
        PrintOutput("Flash program registers are locked! HSFSTS[15] (FLOCKDN)\n");
        if (SpiController.ComponentCount > 0 && IsOpMenuUsable() == 1) {
            PrintOutput("Using software sequencing.\n");
            SpiController.SequencingMode = kSoftwareSequencing;
        } else if (SpiController.HwSeqAvailable == 1) {
            PrintOutput("Using hardware sequencing.\n");
            SpiController.SequencingMode = kHardwareSequencing;
        } else {
            return kInitLockedUnusable;
        }
    } else {
        PrintOutput("Using software sequencing.\n");
        if (SpiController.ComponentCount == 0) {
            return kInitNoDevice;
        }
        SpiController.SequencingMode = kSoftwareSequencing;
        ProgramOpMenu();
    }
    if (SpiController.SequencingMode == kSoftwareSequencing && EnableFlashDevices() == 0) {
        return kInitEnableFailed;
    }
    return kInitReady;
}

void SpiDumpRegisters() {
    const uintptr_t base = reinterpret_cast<uintptr_t>(SpiController.RegisterBase);
    const uint32_t hsfsts = SpiRead16(kRegHsfsts);
    PrintOutput("HSFSTS Address: 0x%08X\n", static_cast<unsigned>(base + kRegHsfsts));
    PrintOutput(
        "HSFSTS values: FDONE: 0x%1X, FCERR: 0x%1X, AEL: 0x%1X, BERASE: 0x%1X,\n\tSCIP: 0x%1X, "
        "FDOPSS: 0x%1X, FDV: 0x%1X FLOCKDN: 0x%1X\n",
        hsfsts & 1, (hsfsts >> 1) & 1, (hsfsts >> 2) & 1, (hsfsts >> 3) & 3, (hsfsts >> 5) & 1,
        (hsfsts >> 13) & 1, (hsfsts >> 14) & 1, (hsfsts >> 15) & 1);
    const uint32_t fracc = SpiRead32(kRegFracc);
    PrintOutput("FRACC Address: 0x%08X\n", static_cast<unsigned>(base + kRegFracc));
    PrintOutput("FRACC values: BRRA: 0x%02X, BRWA: 0x%02X, BMRAG: 0x%02X, BMWAG: 0x%02X\n",
                fracc & 0xFF, (fracc >> 8) & 0xFF, (fracc >> 16) & 0xFF, (fracc >> 24) & 0xFF);
    const uint32_t vscc = SpiRead32(kRegVscc);
    PrintOutput("VSCC Register Address: 0x%08X\n", static_cast<unsigned>(base + kRegVscc));
    PrintOutput("VSCC values: BES: 0x%1X\tWSR: 0x%1X\tEOpCode: 0x%02X\tVCL: 0x%1X\tWG: 0x%1X\n",
                (vscc >> 8) & 3, (vscc >> 11) & 1, (vscc >> 16) & 0xFF, (vscc >> 31) & 1,
                (vscc >> 10) & 1);
}
