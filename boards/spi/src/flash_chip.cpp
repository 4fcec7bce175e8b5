// SPI NOR flash chips: the JEDEC command set as the parts' datasheets
// describe it. A chip sees one transaction per chip-select assertion
// (opcode, optional 24-bit address, data bytes) and answers or acts the way
// the real part does: unknown commands and commands it may not run are
// ignored, busy parts answer only the status read.
#include <cstring>

#include "board_model.h"

namespace spiboard {
namespace {

constexpr uint8_t kStatusWip = 0x01;
constexpr uint8_t kStatusWel = 0x02;

void FillUndriven(const ChipTransfer& t) {
    if (!t.dataOut && t.data != nullptr && t.count > 0) {
        std::memset(t.data, 0xFF, t.count);
    }
}

void AnswerId(const IdAnswer& id, bool silent, const ChipTransfer& t) {
    if (!id.supported || silent || id.length == 0) {
        FillUndriven(t);
        return;
    }
    for (uint32_t i = 0; i < t.count; ++i) {
        t.data[i] = id.bytes[i % id.length];
    }
}

// Block protection: protect value v of 1 to 6 covers the top 1/64 * 2^(v-1)
// of the part, 7 or more the whole part.
uint32_t ProtectedBytes(const Chip& chip) {
    const PartModel& part = chip.config->part;
    uint8_t mask = part.protectMask;
    if (mask == 0) {
        return 0;
    }
    unsigned shift = 0;
    while (((mask >> shift) & 1) == 0) {
        ++shift;
    }
    unsigned value = (chip.status & mask) >> shift;
    if (value == 0) {
        return 0;
    }
    if (value >= 7) {
        return part.size;
    }
    return part.size >> (7 - value);
}

bool Overlaps(const Chip& chip, uint32_t start, uint32_t length) {
    uint32_t protectedBytes = ProtectedBytes(chip);
    if (protectedBytes == 0) {
        return false;
    }
    uint32_t protectedStart = chip.config->part.size - protectedBytes;
    return start + length > protectedStart;
}

uint64_t ProgramTime(const PartModel& part, uint32_t bytes) {
    if (part.pageSize <= 1 || bytes <= 1) {
        return part.programByteNs;
    }
    uint64_t span =
        part.programPageNs > part.programByteNs ? part.programPageNs - part.programByteNs : 0;
    return part.programByteNs + span * (bytes - 1) / (part.pageSize - 1);
}

uint8_t PageProgram(Board* board, Chip* chip, const ChipTransfer& t, uint64_t* busyNs) {
    const PartModel& part = chip->config->part;
    if (!chip->wel) {
        return kChipNotEnabled;
    }
    if (!t.hasAddr || !t.dataOut || t.count == 0) {
        return kChipIgnored;
    }
    uint32_t pageSize = part.pageSize;
    uint32_t addr = t.addr & chip->sizeMask;
    uint32_t page = addr & ~(pageSize - 1);
    uint32_t offset = addr & (pageSize - 1);
    chip->wel = false;
    if (Overlaps(*chip, page, pageSize)) {
        return kChipProtected;
    }
    // Bytes past the end of the page wrap to its start and overwrite what was
    // latched there, so only the last page-size bytes sent are programmed.
    uint32_t first = t.count > pageSize ? t.count - pageSize : 0;
    for (uint32_t i = first; i < t.count; ++i) {
        chip->image[page + ((offset + i) & (pageSize - 1))] &= t.data[i];
    }
    uint32_t programmed = t.count - first;
    chip->dirty = true;
    board->totals.bytesProgrammed += programmed;
    *busyNs = ProgramTime(part, programmed);
    return kChipOk;
}

uint8_t SectorErase(Board* board, Chip* chip, const EraseCommand& erase, const ChipTransfer& t,
                    uint64_t* busyNs) {
    if (!chip->wel) {
        return kChipNotEnabled;
    }
    if (!t.hasAddr) {
        return kChipIgnored;
    }
    chip->wel = false;
    // A misaligned address erases the sector that contains it.
    uint32_t start = (t.addr & chip->sizeMask) & ~(erase.size - 1);
    if (Overlaps(*chip, start, erase.size)) {
        return kChipProtected;
    }
    std::memset(chip->image.data() + start, 0xFF, erase.size);
    chip->dirty = true;
    board->totals.bytesErased += erase.size;
    *busyNs = erase.busyNs;
    return kChipOk;
}

uint8_t ChipErase(Board* board, Chip* chip, uint64_t* busyNs) {
    if (!chip->wel) {
        return kChipNotEnabled;
    }
    chip->wel = false;
    // Any protected block makes the part refuse the whole-chip erase.
    if (ProtectedBytes(*chip) != 0) {
        return kChipProtected;
    }
    std::memset(chip->image.data(), 0xFF, chip->image.size());
    chip->dirty = true;
    board->totals.bytesErased += chip->image.size();
    *busyNs = chip->config->part.chipEraseNs;
    return kChipOk;
}

uint8_t WriteStatus(Chip* chip, const ChipTransfer& t, uint64_t* busyNs) {
    const PartModel& part = chip->config->part;
    bool byWren = chip->wel && part.statusEnable != StatusEnable::Ewsr;
    bool byEwsr = chip->ewsrLatch && part.statusEnable != StatusEnable::Wren;
    if (!byWren && !byEwsr) {
        return kChipNotEnabled;
    }
    chip->wel = false;
    chip->ewsrLatch = false;
    if (!t.dataOut || t.count == 0) {
        return kChipIgnored;
    }
    if (chip->config->writeStatusFault == WriteStatusFault::Ignore) {
        return kChipIgnored;
    }
    chip->status =
        static_cast<uint8_t>((chip->status & ~part.writableMask) | (t.data[0] & part.writableMask));
    chip->status &= static_cast<uint8_t>(~(kStatusWip | kStatusWel));
    *busyNs = part.writeStatusNs;
    return kChipOk;
}

}  // namespace

bool ChipKnowsErase(const Chip& chip, uint8_t opcode, uint32_t* size) {
    const PartModel& part = chip.config->part;
    for (unsigned i = 0; i < part.eraseCount; ++i) {
        if (part.erases[i].opcode == opcode) {
            if (size != nullptr) {
                *size = part.erases[i].size;
            }
            return true;
        }
    }
    return false;
}

bool ChipKnowsChipErase(const Chip& chip, uint8_t opcode) {
    const PartModel& part = chip.config->part;
    for (unsigned i = 0; i < part.chipEraseCount; ++i) {
        if (part.chipEraseOpcodes[i] == opcode) {
            return true;
        }
    }
    return false;
}

void ChipPowerCycle(Chip* chip) {
    const PartModel& part = chip->config->part;
    chip->wel = false;
    chip->ewsrLatch = false;
    chip->busyUntil = 0;
    if (part.statusVolatile) {
        chip->status = static_cast<uint8_t>((chip->status & ~part.protectMask) |
                                            (part.statusPowerOn & part.protectMask));
    }
}

uint8_t ChipExecute(Board* board, Chip* chip, uint64_t at, const ChipTransfer& t,
                    uint64_t* busyNs) {
    *busyNs = 0;
    if (chip == nullptr) {
        FillUndriven(t);
        return kChipAbsent;
    }
    const ChipConfig& config = *chip->config;
    const PartModel& part = config.part;
    bool busy = at < chip->busyUntil;
    if (t.opcode == 0x05) {
        uint8_t status = static_cast<uint8_t>(chip->status | (chip->wel ? kStatusWel : 0) |
                                              (busy ? kStatusWip : 0));
        if (!t.dataOut && t.data != nullptr) {
            std::memset(t.data, status, t.count);
        }
        return kChipOk;
    }
    if (busy) {
        FillUndriven(t);
        return kChipBusy;
    }
    uint8_t note = kChipOk;
    switch (t.opcode) {
        case 0x9F:
            AnswerId(part.id9F, (config.silentIdMask & 1) != 0, t);
            break;
        case 0x90:
            AnswerId(part.id90, (config.silentIdMask & 2) != 0, t);
            break;
        case 0xAB:
            AnswerId(part.idAB, (config.silentIdMask & 4) != 0, t);
            break;
        case 0x06:
            chip->wel = true;
            break;
        case 0x04:
            chip->wel = false;
            chip->ewsrLatch = false;
            break;
        case 0x50:
            if (part.statusEnable == StatusEnable::Wren) {
                note = kChipIgnored;
            } else {
                chip->ewsrLatch = true;
            }
            break;
        case 0x01:
            note = WriteStatus(chip, t, busyNs);
            break;
        case 0x03:
            if (!t.hasAddr || t.dataOut) {
                FillUndriven(t);
                note = kChipIgnored;
                break;
            }
            for (uint32_t i = 0; i < t.count; ++i) {
                t.data[i] = chip->image[(t.addr + i) & chip->sizeMask];
            }
            board->totals.bytesRead += t.count;
            break;
        case 0x02:
            note = PageProgram(board, chip, t, busyNs);
            break;
        default: {
            note = kChipIgnored;
            for (unsigned i = 0; i < part.eraseCount; ++i) {
                if (part.erases[i].opcode == t.opcode) {
                    note = SectorErase(board, chip, part.erases[i], t, busyNs);
                    break;
                }
            }
            if (note == kChipIgnored && ChipKnowsChipErase(*chip, t.opcode)) {
                note = ChipErase(board, chip, busyNs);
            }
            break;
        }
    }
    if (*busyNs > 0) {
        // The internal operation starts when chip select goes high.
        chip->busyUntil = at + *busyNs;
    }
    return note;
}

}  // namespace spiboard
