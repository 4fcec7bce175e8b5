// The flash descriptor: laid into a new image as the board file says, and
// read back from the flash at power-on into the controller's region
// registers, its access-rights register and its component map, the way the
// chipset loads them when it comes out of reset.
#include <cstring>

#include "board_model.h"

namespace spiboard {
namespace {

void Put32(std::vector<uint8_t>* image, uint32_t offset, uint32_t value) {
    for (unsigned i = 0; i < 4; ++i) {
        (*image)[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint32_t Get32(const std::vector<uint8_t>& image, uint32_t offset) {
    uint32_t value = 0;
    for (unsigned i = 0; i < 4; ++i) {
        value |= static_cast<uint32_t>(image[(offset + i) % image.size()]) << (8 * i);
    }
    return value;
}

}  // namespace

uint32_t DensityBytes(unsigned code) {
    return code <= 5 ? (0x80000u << code) : 0;
}

void WriteDescriptor(const DescriptorConfig& d, std::vector<uint8_t>* image) {
    uint32_t fcba = d.componentBase * 16u;
    uint32_t frba = d.regionBase * 16u;
    uint32_t fmba = d.masterBase * 16u;
    Put32(image, 0, kDescriptorSignature);
    Put32(
        image, 4,
        d.componentBase | ((d.components - 1u) << 8) | (static_cast<uint32_t>(d.regionBase) << 16));
    Put32(image, 8, d.masterBase);
    Put32(image, 12, 0);
    Put32(image, fcba,
          static_cast<uint32_t>(d.densities[0] & 7) |
              (static_cast<uint32_t>(d.densities[1] & 7) << 3));
    for (unsigned r = 0; r < 4; ++r) {
        const RegionConfig& region = d.regions[r];
        // An absent region has its limit below its base.
        uint32_t word =
            region.present ? ((region.base >> 12) | ((region.limit >> 12) << 16)) : 0x00001FFFu;
        Put32(image, frba + 4 * r, word);
    }
    for (unsigned m = 0; m < 3; ++m) {
        const MasterConfig& master = d.masters[m];
        Put32(image, fmba + 4 * m,
              master.id | (static_cast<uint32_t>(master.read) << 16) |
                  (static_cast<uint32_t>(master.write) << 24));
    }
}

void LoadDescriptorRegisters(Board* board) {
    SpiRegisters& regs = board->regs;
    const std::vector<uint8_t>& image = board->chips[0].image;
    regs.fdv = Get32(image, 0) == kDescriptorSignature;
    std::memset(regs.freg, 0, sizeof(regs.freg));
    regs.fracc = 0;
    regs.components = 0;
    regs.componentSize[0] = regs.componentSize[1] = 0;
    if (!regs.fdv) {
        return;
    }
    uint32_t map0 = Get32(image, 4);
    uint32_t map1 = Get32(image, 8);
    uint32_t fcba = (map0 & 0xFF) << 4;
    uint32_t frba = ((map0 >> 16) & 0xFF) << 4;
    uint32_t fmba = (map1 & 0xFF) << 4;
    // The controller drives two chip selects; a descriptor that claims more
    // components gets the first two.
    unsigned components = ((map0 >> 8) & 3) + 1;
    regs.components = components > kMaxChips ? kMaxChips : components;
    uint32_t densities = Get32(image, fcba);
    regs.componentSize[0] = DensityBytes(densities & 7);
    regs.componentSize[1] = regs.components > 1 ? DensityBytes((densities >> 3) & 7) : 0;
    for (unsigned r = 0; r < 4; ++r) {
        regs.freg[r] = Get32(image, frba + 4 * r) & 0x1FFF1FFFu;
    }
    uint32_t cpuMaster = Get32(image, fmba);
    regs.fracc = ((cpuMaster >> 16) & 0xFF) | (((cpuMaster >> 24) & 0xFF) << 8);
}

}  // namespace spiboard
