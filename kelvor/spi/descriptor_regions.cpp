// Component sizes from the flash descriptor, region bounds from the region
// registers, and the host's read and write rights from FRACC. Bounds and
// rights are read from the registers on every call.
#include "kelvor/spi/descriptor_regions.h"

#include <cstring>

#include "kelvor/front/console.h"
#include "kelvor/spi/flash_cycles.h"
#include "kelvor/spi/spi_api.h"
#include "kelvor/spi/spi_state.h"
#include "kelvor/spi/spi_window.h"

namespace {

constexpr uint32_t kRegionCount = 4;
constexpr uint32_t kRegionUnit = 4096;
constexpr uint32_t kRegionFieldMask = 0x1FFF;
constexpr uint32_t kMaxComponents = 2;

// Rights in FRACC per region (Descriptor, BIOS, ME, GbE); the BIOS region is
// the host's own and always allowed.
struct RegionRights {
    uint32_t Selector;
    bool AlwaysAllowed;
    uint32_t ReadBit;
    uint32_t WriteBit;
};

const RegionRights kRegionRights[kRegionCount] = {
    {kRegionDescriptor, false, 1u << 0, 1u << 8},
    {kRegionBios, true, 0, 0},
    {kRegionMe, false, 1u << 2, 1u << 10},
    {kRegionGbe, false, 1u << 3, 1u << 11},
};

uint32_t RegionRegister(uint32_t region) {
    return SpiRead32(kRegFreg0 + 4 * region);
}

uint32_t RegionBase(uint32_t word) {
    return word & kRegionFieldMask;
}

uint32_t RegionLimit(uint32_t word) {
    return (word >> 16) & kRegionFieldMask;
}

uint32_t LittleEndianWord(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

int ReadDescriptorWord(uint32_t address, uint32_t* word) {
    uint8_t bytes[4] = {0, 0, 0, 0};
    if (HwSeqCycle(address, bytes, sizeof bytes, kCycleRead) != 0) {
        return 1;
    }
    *word = LittleEndianWord(bytes);
    return 0;
}

}  // namespace

uint32_t DensityBytes(uint32_t code) {
    return code <= 5 ? (0x80000u << code) : 0;
}

int GetFlashSpecsFromDescriptor() {
    TraceOutput("GetFlashSpecsFromDescriptor()...\n");
    if (SpiController.HwSeqAvailable != 1 || SpiController.DescriptorValid != 1) {
        return 0;
    }
    uint32_t map0 = 0;
    uint32_t componentWord = 0;
    if (ReadDescriptorWord(4, &map0) != 0 ||
        ReadDescriptorWord((map0 & 0xFF) << 4, &componentWord) != 0) {
        return 0;
    }
    const uint32_t count = ((map0 >> 8) & 3) + 1;
    if (count > kMaxComponents) {
        PrintOutput(
            "\n>>> Error: The flash descriptor describes %u flash components, but no more than "
            "%u can be used!\n\n",
            count, kMaxComponents);
        return 0;
    }
    uint32_t sizes[kMaxComponents] = {0, 0};
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t code = i == 0 ? (componentWord & 7) : ((componentWord >> 3) & 7);
        sizes[i] = DensityBytes(code);
        if (sizes[i] == 0) {
            PrintOutput(
                "\n>>> Error: The flash descriptor gives flash component %u the reserved density "
                "code %u!\n\n",
                i + 1, code);
            return 0;
        }
    }
    const uint8_t granularity = (SpiRead32(kRegVscc) & kVsccWg) != 0 ? 64 : 1;
    SpiController.ComponentCount = count;
    SpiController.TotalFlashSize = 0;
    for (uint32_t i = 0; i < count; ++i) {
        FlashDeviceRecord& record = SpiController.Components[i];
        std::strcpy(record.Name, "<unknown>");
        record.DeviceId = 0;
        record.WriteGranularity = granularity;
        record.Size = sizes[i];
        record.EraseOpcode = -1;
        record.ChipEraseOpcode = -1;
        SpiController.TotalFlashSize += sizes[i];
    }
    return 1;
}

int SpiGetRegion(uint32_t selector, uint32_t* startAddress, int32_t* length) {
    TraceOutput("SpiGetRegion(%u)...\n", selector);
    if (SpiController.DescriptorValid == 0) {
        return 1;
    }
    for (uint32_t region = 0; region < kRegionCount; ++region) {
        if (kRegionRights[region].Selector != selector) {
            continue;
        }
        const uint32_t word = RegionRegister(region);
        const uint32_t base = RegionBase(word);
        const uint32_t limit = RegionLimit(word);
        if (limit < base) {
            return 2;
        }
        *startAddress = base * kRegionUnit;
        *length = static_cast<int32_t>((limit + 1) * kRegionUnit - base * kRegionUnit);
        return 0;
    }
    return 2;  // no such region
}

int SpiCheckAccess(uint32_t address, uint32_t length, int write) {
    TraceOutput("SpiCheckAccess(0x%08X, %u, %d)...\n", address, length, write);
    if (SpiController.DescriptorValid == 0 || (SpiRead16(kRegHsfsts) & kHsfstsFdopss) == 0) {
        return 0;
    }
    uint64_t start[kRegionCount];
    uint64_t end[kRegionCount];
    for (uint32_t region = 0; region < kRegionCount; ++region) {
        const uint32_t word = RegionRegister(region);
        start[region] = static_cast<uint64_t>(RegionBase(word)) * kRegionUnit;
        end[region] = (static_cast<uint64_t>(RegionLimit(word)) + 1) * kRegionUnit;
    }
    // The walk runs in 64 bits, so that a range near the top of the address
    // space is sampled where it lies instead of wrapping to flash address 0.
    uint32_t touched = 0;
    const uint64_t rangeEnd = static_cast<uint64_t>(address) + length;
    for (uint64_t step = address; step < rangeEnd; step += kRegionUnit) {
        bool held = false;
        for (uint32_t region = 0; region < kRegionCount && !held; ++region) {
            if (start[region] <= step && step < end[region]) {
                touched |= kRegionRights[region].Selector;
                held = true;
            }
        }
        if (!held) {
            TraceOutput("SpiCheckAccess() --> Address 0x%08X is not within any region.\n",
                        static_cast<uint32_t>(step));
            return 1;
        }
    }
    const uint32_t rights = SpiRead32(kRegFracc);
    for (const RegionRights& region : kRegionRights) {
        if ((touched & region.Selector) == 0 || region.AlwaysAllowed) {
            continue;
        }
        if ((rights & (write != 0 ? region.WriteBit : region.ReadBit)) == 0) {
            return 1;
        }
    }
    return 0;
}
