// Reading the DIMMs' SPD over SMBus, validating the DIMMs and condensing them
// into rank masks, rank geometry codes and DIMM type codes (see spd_dimms.h).
#include "corvex/config/spd_dimms.h"

#include "corvex/config/platform_control.h"
#include "corvex/config/registers.h"
#include "corvex/config/tables.h"
#include "corvex/dram/fatal_stop.h"
#include "corvex/platform/platform.h"

namespace {

const u32 kHostBridge = PciCfgAddress(0, 0, 0, 0);
const u32 kLpcBridge = PciCfgAddress(0, 31, 0, 0);
// Byte 0x40 of the SMBus function 0:31.3; bit 3 is set before each slot's read.
const u32 kSmbusHostConfig = PciCfgAddress(0, 31, 3, 0x40);
// Host bridge byte 0xE9: slots the platform does not fit.
const u32 kSlotFitting = kHostBridge + 0xE9;
const u8 kNoSecondSlots = 0x10;  // slots 1 and 3 absent
const u8 kNoChannelB = 0x20;     // slots 2 and 3 absent

const u8 kSmbusDone = 0x02;
const u8 kSmbusErrors = 0x1C;
const u8 kSmbusClearStatus = 0x1E;
const u8 kSmbusByteDataRead = 0x48;

const u32 kSpdReadOk = 1;
const u32 kSpdReadError = 0xFFFFFFFFu;

// A chipset of revision 0 may hand back 0 for a byte that is not 0; it is
// read this many times in all before it is taken as 0.
const u32 kZeroReadTries = 8;

// SPD bytes (JEDEC DDR2 numbering).
const u32 kSpdRowBits = 3;
const u32 kSpdColBits = 4;
const u32 kSpdRanks = 5;        // bits 2:0 = ranks - 1
const u32 kSpdConfigType = 11;  // bit 1 = ECC
const u32 kSpdDeviceWidth = 13;
const u32 kSpdBanks = 17;
const u32 kSpdMemoryType = 2;   // 8 = DDR2 SDRAM
const u32 kSpdModuleType = 20;  // 4 = SO-DIMM
const u32 kSpdMaxCycleTime = 43;

const u8 kDdr2Sdram = 8;
const u8 kSoDimm = 4;
const u8 kTckMax533 = 0x3D;  // 3.75 ns

// RankGeometryCode by (row bits - 12) + 4 * (column bits - 9) + 8 * x16 +
// 16 * eight banks; 0xFF where the controller cannot address the rank.
const u8 kNoGeometry = 0xFF;
const u8 GeometryCodeTable[32] = {
    0xFF, 0xFF, 0xFF, 0xFF,  // 4 banks, x8, 9 columns
    0xFF, 0,    2,    0xFF,  // 4 banks, x8, 10 columns
    0xFF, 1,    0xFF, 0xFF,  // 4 banks, x16, 9 columns
    0xFF, 3,    0xFF, 0xFF,  // 4 banks, x16, 10 columns
    0xFF, 0xFF, 0xFF, 0xFF,  // 8 banks, x8, 9 columns
    0xFF, 4,    6,    8,     // 8 banks, x8, 10 columns
    0xFF, 0xFF, 0xFF, 0xFF,  // 8 banks, x16, 9 columns
    5,    7,    9,    0xFF,  // 8 banks, x16, 10 columns
};

bool LpcRevisionZero() {
    return PhysRead8(kLpcBridge + kPciRevisionId) == 0;
}

}  // namespace

u32 ReadSpdBlock(u32 slot, u32 firstByte, u32 count, u8* dest) {
    for (u32 i = 0; i < count; ++i) {
        PortWrite8(SMBUS_STATUS, kSmbusClearStatus);
        PortWrite8(SMBUS_COMMAND, static_cast<u8>((firstByte + i) & 0x7F));
        PortWrite8(SMBUS_ADDRESS, static_cast<u8>(SpdAddressTable[slot] | 1));
        PortWrite8(SMBUS_CONTROL, kSmbusByteDataRead);
        u8 status = 0;
        do {
            status = PortRead8(SMBUS_STATUS);
        } while ((status & (kSmbusDone | kSmbusErrors)) == 0);
        if ((status & kSmbusErrors) != 0) {
            return kSpdReadError;
        }
        dest[i] = PortRead8(SMBUS_DATA);
        if (LpcRevisionZero() && dest[i] == 0) {
            for (u32 retry = 1; retry < kZeroReadTries && dest[i] == 0; ++retry) {
                dest[i] = PortRead8(SMBUS_DATA);
            }
        }
    }
    return kSpdReadOk;
}

u32 ReadAllSpd(SpdBuffer* spd) {
    for (u32 slot = 0; slot < kSlotCount; ++slot) {
        SpdSlotRecord* record = &spd->slot[slot];
        const u8 fitting = PhysRead8(kSlotFitting);
        const bool secondSlot = slot == 1 || slot == 3;
        const bool channelB = slot >= 2;
        if (((fitting & kNoSecondSlots) != 0 && secondSlot) ||
            ((fitting & kNoChannelB) != 0 && channelB)) {
            record->valid = 0;
            continue;
        }
        PhysSetBits8(kSmbusHostConfig, 0x08);
        record->valid = ReadSpdBlock(slot, 0, kSpdBytesRead, record->spd) == kSpdReadOk ? 1 : 0;
    }
    return 1;
}

void ValidateDimms(MemInitInput*, SpdBuffer* spd, MemConfig* config) {
    config->tckMax533Ok = 1;
    for (u32 s = 0; s < kSlotCount; ++s) {
        const u8* b = spd->slot[s].spd;
        config->rankPresent[2 * s] = 1;
        config->rankPresent[2 * s + 1] = 0;
        if (spd->slot[s].valid == 0) {
            config->rankPresent[2 * s] = 0;
            continue;
        }

        PostCode(0x04);
        if (b[kSpdMemoryType] != kDdr2Sdram) {
            config->rankPresent[2 * s] = 0;
            FatalStop(kFatalDimmKind);
        }
        if (b[kSpdMaxCycleTime] < kTckMax533) {
            config->tckMax533Ok = 0;
        }

        PostCode(0x05);
        if (b[kSpdModuleType] != kSoDimm) {
            config->rankPresent[2 * s] = 0;
            FatalStop(kFatalDimmKind);
        }

        PostCode(0x06);
        if ((b[kSpdConfigType] & 0x02) != 0) {
            FatalStop(kFatalDimmEcc);
        }

        PostCode(0x07);
        const u8 ranksMinus1 = b[kSpdRanks] & 0x07;
        if (ranksMinus1 == 0) {
            config->slotDualRank[s] = 0;
        } else if (ranksMinus1 == 1) {
            // A row count with its high nibble set describes the two ranks
            // differently; such a DIMM is run on its first rank alone.
            if ((b[kSpdRowBits] & 0xF0) == 0) {
                config->slotDualRank[s] = 1;
                config->rankPresent[2 * s + 1] = 1;
            }
        } else {
            config->slotDualRank[s] = 0;
            FatalStop(kFatalDimmRanks);
        }

        PostCode(0x08);
        if (b[kSpdDeviceWidth] == 8) {
            config->slotX16[s] = 0;
        } else if (b[kSpdDeviceWidth] == 16) {
            config->slotX16[s] = 1;
        } else {
            config->slotX16[s] = 0;
            FatalStop(kFatalDimmDevices);
        }

        config->rankColBits[2 * s] = b[kSpdColBits];
        config->rankColBits[2 * s + 1] = b[kSpdColBits];
        config->rankRowBits[2 * s] = b[kSpdRowBits];
        config->rankRowBits[2 * s + 1] = b[kSpdRowBits];

        if (b[kSpdBanks] == 4) {
            config->slotBanks8[s] = 0;
        } else if (b[kSpdBanks] == 8) {
            config->slotBanks8[s] = 1;
        } else {
            config->slotBanks8[s] = 0;
            FatalStop(kFatalDimmDevices);
        }
    }
}

u8 GeometryCode(u32 rank, MemConfig* config) {
    const u32 s = rank / 2;
    const u8 rows = config->rankRowBits[rank];
    const u8 cols = config->rankColBits[rank];
    // Outside these the index would leave the table.
    if (rows < 12 || rows > 15 || cols < 9 || cols > 10) {
        FatalStop(kFatalRankGeometry);
    }
    const u32 index =
        (rows - 12u) + 4u * ((cols - 9u) + 2u * (config->slotX16[s] + 2u * config->slotBanks8[s]));
    const u8 code = GeometryCodeTable[index];
    if (code == kNoGeometry) {
        FatalStop(kFatalRankGeometry);
    }
    return code;
}

void BuildRankMaps(MemConfig* config) {
    config->chADimmTypes = 0;
    config->chBDimmTypes = 0;
    PostCode(0x21);
    config->chARankCodes = 0;
    config->chBRankCodes = 0;
    config->chARankMask = 0;
    config->chBRankMask = 0;

    for (u32 r = 0; r < kRankCount; ++r) {
        if (config->rankPresent[r] == 0) {
            continue;
        }
        u8 code = GeometryCode(r, config);
        // Revision 0 controllers address eight-bank devices without the mark.
        if (PhysRead8(kHostBridge + kPciRevisionId) > 0 && config->slotBanks8[r / 2] == 1) {
            code |= kRankCodeEightBank;
        }
        if (r < 4) {
            config->chARankCodes |= static_cast<u32>(code) << (8 * r);
            config->chARankMask = static_cast<u8>(config->chARankMask | (1u << r));
        } else {
            config->chBRankCodes |= static_cast<u32>(code) << (8 * (r - 4));
            config->chBRankMask = static_cast<u8>(config->chBRankMask | (1u << (r - 4)));
        }
    }

    for (u32 s = 0; s < kSlotCount; ++s) {
        if (config->rankPresent[2 * s] == 0) {
            continue;
        }
        u32 v = kDimmTypeOneRankX8;
        if (config->slotDualRank[s] == 1) {
            v = kDimmTypeTwoRankX8;
        }
        if (config->slotX16[s] == 1) {
            v += 2;
        }
        // A two-rank x16 DIMM (4) has no code and keeps its bits 0.
        if (v <= kDimmTypeOneRankX16) {
            const u8 bits = static_cast<u8>(v << (2 * (s % 2)));
            if (s < 2) {
                config->chADimmTypes |= bits;
            } else {
                config->chBDimmTypes |= bits;
            }
        }
    }
}
