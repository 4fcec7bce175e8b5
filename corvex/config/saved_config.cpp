// The configuration saved in CMOS at the end of a full detection and restored
// from there in boot mode 1 (see saved_config.h).
#include "corvex/config/saved_config.h"

#include "corvex/config/tables.h"
#include "corvex/dram/fatal_stop.h"
#include "corvex/platform/platform.h"

const u8 CmosIndexTable[16] = {0x85, 0x86, 0x87, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB,
                               0xAC, 0xAD, 0xAE, 0xAF, 0xB0, 0xB1, 0xB2, 0xB3};

namespace {

const u32 kSavedBytes = 16;
const u8 kLowestDdrFreq = 1;   // DDR2-533; DDR2-400 is never chosen
const u8 kHighestDdrFreq = 3;  // DDR2-800
const u8 kHighestFsbFreq = 2;

u8 WordByte(const u32* words, u32 k) {
    return static_cast<u8>(words[k / 4] >> (8 * (k % 4)));
}

void PutWordByte(u32* words, u32 k, u8 value) {
    const u32 shift = 8 * (k % 4);
    words[k / 4] = (words[k / 4] & ~(0xFFu << shift)) | (static_cast<u32>(value) << shift);
}

// The rank's entry in its channel's mask and code word.
void RestoreRank(MemConfig* config, u32 rank, u8 mask, u32 codes) {
    const u32 k = rank % 4;
    if ((mask & (1u << k)) == 0) {
        config->rankPresent[rank] = 0;
        config->rankColBits[rank] = 0;
        config->rankRowBits[rank] = 0;
        return;
    }
    const u8 code = static_cast<u8>(codes >> (8 * k)) & kRankCodeMask;
    if (code >= kGeometryCodeCount) {
        FatalStop(kFatalSavedConfig);
    }
    config->rankPresent[rank] = 1;
    config->rankColBits[rank] = static_cast<u8>(GeometryTable[code].colBitsMinus9 + 9);
    config->rankRowBits[rank] = static_cast<u8>(GeometryTable[code].rowBitsMinus12 + 12);
}

}  // namespace

void SaveConfig(MemConfig* config, MemInitOutput* output) {
    SavedConfig saved;
    ClearRecord(&saved, sizeof saved);
    SavedConfigPut(&saved, kSavedDdrFreq, config->ddrFreq);
    SavedConfigPut(&saved, kSavedTckMax533Ok, config->tckMax533Ok);
    SavedConfigPut(&saved, kSavedFsbFreq, config->fsbFreq);
    SavedConfigPut(&saved, kSavedEccLane, config->eccLane);
    SavedConfigPut(&saved, kSavedNoInterleave, config->noInterleave);
    SavedConfigPut(&saved, kSavedFastRefresh, config->fastRefresh);
    SavedConfigPut(&saved, kSavedCasLatency, config->casLatency);
    SavedConfigPut(&saved, kSavedChARankMask, config->chARankMask);
    SavedConfigPut(&saved, kSavedChBRankMask, config->chBRankMask);
    SavedConfigPut(&saved, kSavedChADimmTypes, config->chADimmTypes);
    SavedConfigPut(&saved, kSavedChBDimmTypes, config->chBDimmTypes);
    SavedConfigPut(&saved, kSavedTRcd, config->tRcd);
    SavedConfigPut(&saved, kSavedTRp, config->tRp);
    SavedConfigPut(&saved, kSavedTRas, config->tRas);
    SavedConfigPut(&saved, kSavedTWr, config->tWr);
    SavedConfigPut(&saved, kSavedTRfc, config->tRfc);
    SavedConfigPut(&saved, kSavedTRrd, config->tRrd);
    SavedConfigPut(&saved, kSavedTRtp, config->tRtp);
    SavedConfigPut(&saved, kSavedTWtr, config->tWtr);
    SavedConfigPut(&saved, kSavedChARankCodes, config->chARankCodes);
    SavedConfigPut(&saved, kSavedChBRankCodes, config->chBRankCodes);
    for (u32 i = 0; i < 4; ++i) {
        output->savedConfig[i] = saved.word[i];
    }

    for (u32 k = 0; k < kSavedBytes; ++k) {
        PortWrite8(PORT_CMOS_INDEX, CmosIndexTable[k]);
        PortWrite8(PORT_CMOS_DATA, WordByte(output->savedConfig, k));
    }

    output->interleaveMode = config->noInterleave;
    output->frequency = config->ddrFreq;
    for (u32 s = 0; s < kSlotCount; ++s) {
        output->slotSizeMb[s] = config->slotSizeMb[s];
    }
    // The share is reported twice over when the channels are of equal size.
    u8 engineMemory = static_cast<u8>(config->meMemSizeMb);
    if (config->chASizeMb == config->chBSizeMb) {
        engineMemory = static_cast<u8>(engineMemory * 2);
    }
    output->engineMemory = engineMemory;
}

void RestoreConfig(MemConfig* config, MemInitInput* input) {
    for (u32 k = 0; k < kSavedBytes; ++k) {
        PortWrite8(PORT_CMOS_INDEX, CmosIndexTable[k]);
        PutWordByte(input->savedConfigIn, k, PortRead8(PORT_CMOS_DATA));
    }
    SavedConfig saved;
    for (u32 i = 0; i < 4; ++i) {
        saved.word[i] = input->savedConfigIn[i];
    }

    config->ddrFreq = static_cast<u8>(SavedConfigGet(&saved, kSavedDdrFreq));
    config->tckMax533Ok = static_cast<u8>(SavedConfigGet(&saved, kSavedTckMax533Ok));
    config->fsbFreq = static_cast<u8>(SavedConfigGet(&saved, kSavedFsbFreq));
    config->eccLane = static_cast<u8>(SavedConfigGet(&saved, kSavedEccLane));
    config->noInterleave = static_cast<u8>(SavedConfigGet(&saved, kSavedNoInterleave));
    config->fastRefresh = static_cast<u8>(SavedConfigGet(&saved, kSavedFastRefresh));
    config->casLatency = static_cast<u8>(SavedConfigGet(&saved, kSavedCasLatency));
    config->chARankMask = static_cast<u8>(SavedConfigGet(&saved, kSavedChARankMask));
    config->chBRankMask = static_cast<u8>(SavedConfigGet(&saved, kSavedChBRankMask));
    config->chADimmTypes = static_cast<u8>(SavedConfigGet(&saved, kSavedChADimmTypes));
    config->chBDimmTypes = static_cast<u8>(SavedConfigGet(&saved, kSavedChBDimmTypes));
    config->tRcd = static_cast<u8>(SavedConfigGet(&saved, kSavedTRcd));
    config->tRp = static_cast<u8>(SavedConfigGet(&saved, kSavedTRp));
    config->tRas = static_cast<u8>(SavedConfigGet(&saved, kSavedTRas));
    config->tWr = static_cast<u8>(SavedConfigGet(&saved, kSavedTWr));
    config->tRfc = static_cast<u8>(SavedConfigGet(&saved, kSavedTRfc));
    config->tRrd = static_cast<u8>(SavedConfigGet(&saved, kSavedTRrd));
    config->tRtp = static_cast<u8>(SavedConfigGet(&saved, kSavedTRtp));
    config->tWtr = static_cast<u8>(SavedConfigGet(&saved, kSavedTWtr));
    config->chARankCodes = SavedConfigGet(&saved, kSavedChARankCodes);
    config->chBRankCodes = SavedConfigGet(&saved, kSavedChBRankCodes);

    // The copy carries no checksum; at least keep every later table lookup
    // inside its table.
    if (config->ddrFreq < kLowestDdrFreq || config->ddrFreq > kHighestDdrFreq ||
        config->fsbFreq > kHighestFsbFreq) {
        FatalStop(kFatalSavedConfig);
    }

    for (u32 r = 0; r < kRankCount; ++r) {
        if (r < 4) {
            RestoreRank(config, r, config->chARankMask, config->chARankCodes);
        } else {
            RestoreRank(config, r, config->chBRankMask, config->chBRankCodes);
        }
    }
}
