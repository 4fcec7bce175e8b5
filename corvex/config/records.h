// The working records of one memory initialization: `MemConfig`, which the
// entry builds on its stack and every step reads and fills in place, the raw
// SPD bytes of the four slots, and the packed 16-byte `SavedConfig` that
// outlives the call in the output block and in CMOS.
//
// Numbering used everywhere in corvex: slots 0 and 1 are channel A, slots 2
// and 3 channel B; rank r lies in slot r / 2, side r % 2; channel A rank k is
// rank k, channel B rank k is rank 4 + k.
#ifndef CORVEX_CONFIG_RECORDS_H
#define CORVEX_CONFIG_RECORDS_H

#include "corvex/platform/types.h"

const u32 kSlotCount = 4;
const u32 kRankCount = 8;

// Timings are held in clocks with fixed biases: casLatency is CAS latency - 3,
// tRcd and tRp are clocks - 3, tRas clocks - 9, tRfc clocks - 15. Frequencies
// are indices: ddrFreq 0..3 = DDR2-400/533/667/800, fsbFreq 0..2 = 1066/533/800.
struct MemConfig {
    u8 ddrFreq;
    u8 fsbFreq;
    u8 fastRefresh;  // 1: some DIMM asks for 3.9 or 7.8 us refresh
    u8 eccLane;      // 1: receive-enable calibration covers a ninth byte lane
    u8 casLatency;
    u8 tRcd;
    u8 tRp;
    u8 tRas;
    u8 tWr;
    u8 tRfc;
    u8 tRrd;
    u8 tRtp;
    u8 tWtr;
    u8 noInterleave;  // 1: channel B is stacked above channel A
    u8 chADimmTypes;  // DimmTypeCode of slot 0 in bits 1:0, slot 1 in bits 3:2
    u8 chBDimmTypes;  // the same for slots 2 and 3
    u8 chARankMask;   // bit k: channel A rank k present
    u8 chBRankMask;
    u32 chARankCodes;  // byte k: geometry byte of channel A rank k (code | eight-bank mark)
    u32 chBRankCodes;
    u16 chASizeMb;
    u16 chBSizeMb;
    u16 meMemSizeMb;  // main memory given to the ME; 0 = none
    u8 slotDualRank[kSlotCount];
    u8 slotX16[kSlotCount];
    u8 slotBanks8[kSlotCount];
    u32 slotSizeMb[kSlotCount];
    u8 rankPresent[kRankCount];
    u8 rankRowBits[kRankCount];
    u8 rankColBits[kRankCount];
    u8 meHoldsMemory;  // 1: the ME holds a valid memory configuration
    u8 skipDramInit;   // 1: DRAM content preserved; saved calibration is restored
    u8 tckMax533Ok;    // 1: every present DIMM runs at a 3.75 ns clock period
};

// DimmTypeCode, two bits per slot. A two-rank DIMM of x16 devices has no code
// and reads as an empty slot.
const u8 kDimmTypeNone = 0;
const u8 kDimmTypeOneRankX8 = 1;
const u8 kDimmTypeTwoRankX8 = 2;
const u8 kDimmTypeOneRankX16 = 3;

// A rank's geometry byte: its RankGeometryCode (a GeometryTable row) in bits
// 6:0, with this mark for eight-bank devices.
const u8 kRankCodeEightBank = 0x80;
const u8 kRankCodeMask = 0x7F;

// The bytes of one slot as read over SMBus. The layout is fixed so that SPD
// byte n of the DIMM is record byte n + 2.
const u32 kSpdBytesRead = 48;

struct SpdSlotRecord {
    u8 valid;  // 1: the SPD bytes were read; 0: slot not fitted or the read failed
    u8 unused;
    u8 spd[kSpdBytesRead];  // spd[n] is SPD byte n
};

struct SpdBuffer {
    SpdSlotRecord slot[kSlotCount];
};

static_assert(sizeof(SpdSlotRecord) == 50, "SPD byte n must be record byte n + 2");
static_assert(__builtin_offsetof(SpdSlotRecord, spd) == 2, "SPD byte n must be record byte n + 2");
static_assert(sizeof(SpdBuffer) == 200, "four records of 50 bytes");

// SavedConfig: four little-endian words; the same 16 bytes go to the output
// block and to CMOS. Each field below names its word and bit range; bits not
// listed are 0.
struct SavedConfig {
    u32 word[4];
};

static_assert(sizeof(SavedConfig) == 16, "SavedConfig is 16 bytes");

struct SavedConfigField {
    u8 word;
    u8 shift;
    u8 width;
};

const SavedConfigField kSavedDdrFreq = {0, 0, 3};
const SavedConfigField kSavedTckMax533Ok = {0, 3, 1};
const SavedConfigField kSavedFsbFreq = {0, 4, 3};
const SavedConfigField kSavedEccLane = {0, 7, 1};
const SavedConfigField kSavedNoInterleave = {0, 8, 1};
const SavedConfigField kSavedFastRefresh = {0, 9, 1};
const SavedConfigField kSavedCasLatency = {0, 12, 3};
const SavedConfigField kSavedChARankMask = {0, 16, 4};
const SavedConfigField kSavedChBRankMask = {0, 20, 4};
const SavedConfigField kSavedChADimmTypes = {0, 24, 4};
const SavedConfigField kSavedChBDimmTypes = {0, 28, 4};
const SavedConfigField kSavedTRcd = {1, 0, 3};
const SavedConfigField kSavedTRp = {1, 3, 3};
const SavedConfigField kSavedTRas = {1, 6, 4};
const SavedConfigField kSavedTWr = {1, 10, 4};
const SavedConfigField kSavedTRfc = {1, 14, 6};
const SavedConfigField kSavedTRrd = {1, 20, 4};
const SavedConfigField kSavedTRtp = {1, 24, 4};
const SavedConfigField kSavedTWtr = {1, 28, 4};
const SavedConfigField kSavedChARankCodes = {2, 0, 32};
const SavedConfigField kSavedChBRankCodes = {3, 0, 32};

inline u32 SavedConfigFieldMask(SavedConfigField field) {
    return field.width >= 32 ? 0xFFFFFFFFu : (1u << field.width) - 1u;
}

inline u32 SavedConfigGet(const SavedConfig* saved, SavedConfigField field) {
    return (saved->word[field.word] >> field.shift) & SavedConfigFieldMask(field);
}

// Stores the value cut to the field's width; the other bits are kept.
inline void SavedConfigPut(SavedConfig* saved, SavedConfigField field, u32 value) {
    const u32 mask = SavedConfigFieldMask(field) << field.shift;
    saved->word[field.word] = (saved->word[field.word] & ~mask) | ((value << field.shift) & mask);
}

// Zeroes a record byte by byte. The image has no C library to lend memset,
// and the build keeps the compiler from turning this loop into a call to it.
inline void ClearRecord(void* record, u32 size) {
    u8* bytes = static_cast<u8*>(record);
    for (u32 i = 0; i < size; ++i) {
        bytes[i] = 0;
    }
}

#endif  // CORVEX_CONFIG_RECORDS_H
