// The image information display (/i): the flash descriptor as stored in the
// flash, read one 32-bit word at a time through the normal read path: its
// signature, components, region bounds and the masters' access rights.
#include <cstdint>

#include "kelvor/front/console.h"
#include "kelvor/ops/ops.h"
#include "kelvor/spi/spi_api.h"

namespace {

constexpr uint32_t kDescriptorSignature = 0x0FF0A55A;
constexpr uint32_t kDescriptorArea = 4096;
constexpr uint32_t kRegionUnit = 4096;
constexpr uint32_t kRegionFieldMask = 0x1FFF;

const char* const kRegionLabels[4] = {"Descriptor", "BIOS      ", "ME        ", "GbE       "};
const char* const kMasterLabels[3] = {"CPU/BIOS", "ME      ", "GbE     "};

// One little-endian word of the flash; false when the read failed.
bool ReadWord(uint32_t address, uint32_t* word) {
    uint8_t bytes[4] = {0, 0, 0, 0};
    if (SpiReadFlash(address, bytes, sizeof bytes) != 0) {
        return false;
    }
    *word = static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
            (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
    return true;
}

// Bytes of a density code; the reserved codes 6 and 7 count as 0.
uint32_t DensitySize(uint32_t code) {
    return code <= 5 ? (0x80000u << code) : 0;
}

// Reads `count` words from `base` on; false at the first failed read.
bool ReadWords(uint32_t base, uint32_t* words, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (!ReadWord(base + 4 * i, &words[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

int DisplayFlashInformation() {
    TraceOutput("DisplayFlashInformation()....\n");
    PrintOutput("\n\t--- Flash Image Information --\n");
    if (SpiCheckAccess(0, kDescriptorArea, 0) == 1) {
        PrintOutput(
            "\n>>> Error: The host does not have read access to the flash descriptor region!\n\n");
        return 500;
    }
    uint32_t signature = 0;
    if (!ReadWord(0, &signature)) {
        PrintOutput("\n>>> Error: An error occurred reading the flash descriptor signature!\n\n");
        return 501;
    }
    if (signature != kDescriptorSignature) {
        PrintOutput("\tSignature: INVALID! No more information can be displayed.\n\n");
        return 0;
    }
    PrintOutput("\tSignature: VALID\n");
    uint32_t map[3] = {0, 0, 0};
    if (!ReadWords(4, map, 3)) {
        PrintOutput("\n>>> Error: An error occurred reading the flash mapping data!\n\n");
        return 502;
    }
    const uint32_t componentBase = (map[0] & 0xFF) << 4;
    const uint32_t regionBase = ((map[0] >> 16) & 0xFF) << 4;
    const uint32_t masterBase = (map[1] & 0xFF) << 4;
    uint32_t componentWord = 0;
    if (!ReadWord(componentBase, &componentWord)) {
        PrintOutput("\n>>> Error: An error occurred reading the flash components data!\n\n");
        return 503;
    }
    uint32_t regions[4] = {0, 0, 0, 0};
    if (!ReadWords(regionBase, regions, 4)) {
        PrintOutput("\n>>> Error: An error occurred reading the flash region base/limit data!\n\n");
        return 504;
    }
    uint32_t masters[3] = {0, 0, 0};
    if (!ReadWords(masterBase, masters, 3)) {
        PrintOutput("\n>>> Error: An error occurred reading the flash master access data!\n\n");
        return 505;
    }

    const uint32_t components = ((map[0] >> 8) & 3) + 1;
    PrintOutput("\tNumber of Flash Components: %d\n", static_cast<int>(components));
    for (uint32_t i = 0; i < components; ++i) {
        const uint32_t code = i == 0 ? (componentWord & 7) : ((componentWord >> 3) & 7);
        const uint32_t size = DensitySize(code);
        PrintOutput("\t\tComponent %i - %dKB (%dKb)\n", static_cast<int>(i + 1),
                    static_cast<int>(size / 1024), static_cast<int>(size / 1024 * 8));
    }
    PrintOutput("\tRegions:\n");
    for (uint32_t i = 0; i < 4; ++i) {
        const uint32_t base = (regions[i] & kRegionFieldMask) * kRegionUnit;
        const uint32_t limit = ((regions[i] >> 16) & kRegionFieldMask) * kRegionUnit;
        PrintOutput("\t\t%s - ", kRegionLabels[i]);
        if (base > limit) {
            PrintOutput("Not present\n");
        } else {
            PrintOutput("Base: 0x%06X, Limit: 0x%06X\n", base, limit | 0xFFF);
        }
    }
    PrintOutput("\tMaster Region Access:\n");
    for (uint32_t i = 0; i < 3; ++i) {
        PrintOutput("\t\t%s - ID: 0x%04X, Read: 0x%02X, Write: 0x%02X\n", kMasterLabels[i],
                    masters[i] & 0xFFFF, (masters[i] >> 16) & 0xFF, masters[i] >> 24);
    }
    return 0;
}
