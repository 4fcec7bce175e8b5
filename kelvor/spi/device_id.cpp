// Device identification with the three read-ID commands, matched against the
// part list; the locked-menu check; and the write-status command that clears
// the parts' protection.
#include "kelvor/spi/device_id.h"

#include "kelvor/front/console.h"
#include "kelvor/spi/bounded_wait.h"
#include "kelvor/spi/spi_controller.h"
#include "kelvor/spi/spi_window.h"

namespace {

struct ReadIdCommand {
    uint8_t Opcode;
    uint32_t IdLength;
};

const ReadIdCommand kReadIdCommands[] = {
    {0x9F, 3},
    {0x90, 2},
    {0xAB, 2},
};
constexpr int kReadIdCommandCount = 3;

constexpr uint8_t kProgramOpcode = 0x02;
constexpr uint8_t kReadOpcode = 0x03;
constexpr uint8_t kWriteStatusOpcode = 0x01;
constexpr uint8_t kWriteEnableOpcode = 0x06;

constexpr uint8_t kSoftwareDoneBits = kSsfstsFdone | kSsfstsAel | kSsfstsFcerr;

bool Matches(const FlashDeviceRecord& record, const ReadIdResult& id) {
    const uint32_t length = (id.IdInfo >> 29) & 3;
    const uint32_t mask = length == 3 ? 0xFFFFFFu : 0xFFFFu;
    return (record.DeviceId & mask) == id.DeviceId;
}

// The slot of a read-ID command in an unlocked menu, typed "read without
// address".
void PlaceReadIdOpcode(int slot, uint8_t opcode) {
    SpiWrite8(kRegOpmenu + static_cast<uint32_t>(slot), opcode);
    const uint16_t types = SpiRead16(kRegOptype);
    SpiWrite16(kRegOptype, static_cast<uint16_t>(types & ~(3u << (2 * slot))));
}

int8_t SlotOf(int slot) {
    return static_cast<int8_t>(slot);
}

}  // namespace

int FindOpMenuSlot(uint8_t opcode) {
    for (int slot = 0; slot < kOpMenuSize; ++slot) {
        if (SpiRead8(kRegOpmenu + static_cast<uint32_t>(slot)) == opcode) {
            return slot;
        }
    }
    return -1;
}

int GetInstalledDevice(uint32_t probeAddress, FlashDeviceRecord* destination) {
    TraceOutput("GetInstalledDevice(%u, 0x%08X)...\n", probeAddress,
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(destination)));
    OpMenuSlotSet& slots = SpiController.OpMenuSlots;
    SpiWrite16(kRegOptype, 0);
    int failed = 0;
    int notFound = 0;
    for (const ReadIdCommand& command : kReadIdCommands) {
        if (!SpiRegistersLocked()) {
            TraceOutput("Using device ID command 0x%02X\n", command.Opcode);
            if (slots.ReadIdSlot < 0 || slots.ReadIdSlot >= kOpMenuSize) {
                slots.ReadIdSlot = kDefaultOpMenuSlots.ReadIdSlot;
            }
            PlaceReadIdOpcode(slots.ReadIdSlot, command.Opcode);
        } else {
            TraceOutput("Searching for device ID command 0x%02X... ", command.Opcode);
            slots.ReadIdSlot = SlotOf(FindOpMenuSlot(command.Opcode));
            if (slots.ReadIdSlot < 0) {
                TraceOutput("NOT FOUND\n");
                ++notFound;
                continue;
            }
            TraceOutput("FOUND at index %d\n", slots.ReadIdSlot);
        }
        ReadIdResult id = {0, 0};
        if (ReadDeviceId(probeAddress, static_cast<uint32_t>(slots.ReadIdSlot), command.IdLength,
                         &id) != 0 ||
            (id.IdInfo & kIdInfoValid) == 0) {
            TraceOutput("GetInstalledDevice() --> ReadDeviceId() failed!\n");
            ++failed;
            continue;
        }
        TraceOutput("GetInstalledDevice() --> ReadDeviceId() succeeded!\n");
        for (uint32_t i = 0; i < PartDefinitionCount; ++i) {
            if (Matches(PartDefinitions[i], id)) {
                TraceOutput("GetInstalledDevice() --> Found a device!\n");
                *destination = PartDefinitions[i];
                return kDeviceIdentified;
            }
        }
    }
    if (failed == kReadIdCommandCount) {
        return kDeviceReadIdFailed;
    }
    if (notFound == kReadIdCommandCount) {
        return kDeviceNoReadIdOpcode;
    }
    return kDeviceNotListed;
}

int ReadDeviceId(uint32_t probeAddress, uint32_t slot, uint32_t idLength, ReadIdResult* id) {
    TraceOutput("ReadDeviceId(%u, %u, %u, 0x%08X)...\n", probeAddress, slot, idLength,
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(id)));
    if (idLength < 2 || idLength > 3 || id == nullptr || slot >= kOpMenuSize) {
        return 1;
    }
    id->DeviceId = 0;
    SpiSetFlashAddress(probeAddress);
    SpiWrite16(kRegFdata, 0);
    SpiClearSoftwareStatusBytewise(SpiRead8(kRegSsfsts));
    if (WaitWhileStatusSet(kRegSsfsts, 8, kSsfstsScip, kWaitLimitMs, nullptr) != 0) {
        PrintOutput("\n>>> Error: Timedout waiting for hardware to become available!\n\n");
        return 1;
    }
    // One byte more than the ID is clocked in: the count field gets the ID
    // length itself, not the length minus one.
    uint16_t high = SpiRead16(kRegSsfctlHigh);
    SpiWrite16(kRegSsfctlHigh, static_cast<uint16_t>(high | kSsfctlDataPhase));
    high = SpiRead16(kRegSsfctlHigh);
    SpiWrite16(kRegSsfctlHigh, static_cast<uint16_t>((high & ~kSsfctlCountMask) | idLength));
    SpiWrite8(kRegSsfctlLow, 0);
    uint8_t low = SpiRead8(kRegSsfctlLow);
    SpiWrite8(kRegSsfctlLow, static_cast<uint8_t>((low & ~kSsfctlOpcodeSlotMask) |
                                                  (slot << kSsfctlOpcodeSlotShift)));
    low = SpiRead8(kRegSsfctlLow);
    SpiWrite8(kRegSsfctlLow, static_cast<uint8_t>(low | kSsfctlGo));
    uint32_t status = 0;
    if (WaitUntilStatusSet(kRegSsfsts, 8, kSoftwareDoneBits, kWaitLimitMs, &status) != 0) {
        PrintOutput(
            "\n>>> Error: Timedout waiting for hardware to complete read operation!\n\tSSFSTS "
            "register: 0x%02X\n\n",
            SpiRead8(kRegSsfsts));
        return 1;
    }
    if ((status & (kSsfstsAel | kSsfstsFcerr)) != 0) {
        TraceOutput("ReadDeviceId() --> ReadID error\n");
        return 1;
    }
    uint8_t bytes[3] = {0, 0, 0};
    SpiReadDataBuffer(bytes, idLength);
    uint32_t value = 0;
    for (uint32_t i = 0; i < idLength; ++i) {
        value = (value << 8) | bytes[i];
    }
    id->DeviceId = value;
    id->IdInfo = kIdInfoValid | (idLength << 29);
    TraceOutput("ReadDeviceId() --> pDeviceId = 0x%06X\n", value & 0xFFFFFFu);
    SpiClearSoftwareStatusBytewise(SpiRead8(kRegSsfsts));
    return 0;
}

int IsOpMenuUsable() {
    TraceOutput("IsOpMenuUsable()...\n");
    PrintOutput("Checking to see if the correct commands are in the OPMENU and PREOP registers.\n");
    OpMenuSlotSet& slots = SpiController.OpMenuSlots;
    slots = {-1, -1, -1, -1, -1, -1, -1};
    const FlashDeviceRecord& first = SpiController.Components[0];
    slots.ProgramSlot = SlotOf(FindOpMenuSlot(kProgramOpcode));
    slots.ReadSlot = SlotOf(FindOpMenuSlot(kReadOpcode));
    // A part without a block erase has no opcode to look for.
    if (first.EraseOpcode >= 0) {
        slots.EraseSlot = SlotOf(FindOpMenuSlot(static_cast<uint8_t>(first.EraseOpcode & 0xFF)));
    }
    if (first.ChipEraseOpcode >= 0) {
        slots.ChipEraseSlot =
            SlotOf(FindOpMenuSlot(static_cast<uint8_t>(first.ChipEraseOpcode & 0xFF)));
    }
    slots.WriteStatusSlot = SlotOf(FindOpMenuSlot(kWriteStatusOpcode));
    for (int prefix = 0; prefix < 2; ++prefix) {
        if (SpiRead8(kRegPreop + static_cast<uint32_t>(prefix)) == kWriteEnableOpcode) {
            slots.WriteEnablePrefixSlot = SlotOf(prefix);
        }
    }
    const bool none = slots.ProgramSlot < 0 && slots.ReadSlot < 0 && slots.EraseSlot < 0 &&
                      slots.ChipEraseSlot < 0 && slots.WriteStatusSlot < 0 &&
                      slots.WriteEnablePrefixSlot < 0;
    return none ? 0 : 1;
}

int EnableFlashDevices() {
    TraceOutput("EnableFlashDevices()...\n");
    const int slot = SpiController.OpMenuSlots.WriteStatusSlot;
    if (slot < 0) {
        TraceOutput("ERROR: WriteStatusIdx: %i.\n", slot);
        return 0;
    }
    for (uint32_t i = 0; i < SpiController.ComponentCount && i < 2; ++i) {
        SpiSetFlashAddress(ComponentBase(i));
        if (WaitWhileStatusSet(kRegSsfsts, 8, kSsfstsScip, kWaitLimitMs, nullptr) != 0) {
            PrintOutput("\n>>> Error: Timedout waiting for hardware to become available!\n\n");
            return 0;
        }
        SpiClearSoftwareStatus();
        SpiWrite32(kRegFdata, 0);
        // Status value 0: two data bytes, both zero, follow the opcode.
        const uint16_t high = SpiRead16(kRegSsfctlHigh);
        SpiWrite16(kRegSsfctlHigh,
                   static_cast<uint16_t>((high & ~(kSsfctlCountMask | kSsfctlDataPhase)) |
                                         kSsfctlDataPhase | 1u));
        SpiWrite8(kRegSsfctlLow, 0);
        uint8_t low = SpiRead8(kRegSsfctlLow);
        SpiWrite8(kRegSsfctlLow,
                  static_cast<uint8_t>((low & ~kSsfctlOpcodeSlotMask) |
                                       (static_cast<uint32_t>(slot) << kSsfctlOpcodeSlotShift)));
        low = SpiRead8(kRegSsfctlLow);
        SpiWrite8(kRegSsfctlLow,
                  static_cast<uint8_t>((low & ~kSsfctlPrefixSlot) | WriteEnablePrefixBit()));
        low = SpiRead8(kRegSsfctlLow);
        SpiWrite8(kRegSsfctlLow, static_cast<uint8_t>(low | kSsfctlAtomic));
        low = SpiRead8(kRegSsfctlLow);
        SpiWrite8(kRegSsfctlLow, static_cast<uint8_t>(low | kSsfctlGo));
        uint32_t status = 0;
        if (WaitUntilStatusSet(kRegSsfsts, 8, kSoftwareDoneBits, kWaitLimitMs, &status) != 0) {
            PrintOutput(
                "\n>>> Error: Timedout waiting for hardware to complete write status "
                "operation!\n\tSSFSTS register: 0x%02X\n\n",
                SpiRead8(kRegSsfsts));
            return 0;
        }
        if ((status & kSsfstsAel) != 0) {
            PrintOutput("\n>>> SSFSTS[04] (AEL) = 1\n");
            return 0;
        }
        if ((status & kSsfstsFcerr) != 0) {
            PrintOutput("\n>>> SSFSTS[03] (FCERR) = 1\n");
            return 0;
        }
        SpiClearSoftwareStatus();
    }
    return 1;
}
