// Constant tables that more than one corvex step reads. Read-only: the image
// runs before RAM exists, so they live with the code in boot flash.
#ifndef CORVEX_CONFIG_TABLES_H
#define CORVEX_CONFIG_TABLES_H

#include "corvex/platform/types.h"

// 8-bit SMBus address of the SPD device of slot 0..3.
extern const u8 SpdAddressTable[4];

// Data rate in MT/s: DDR2 by ddrFreq 0..4, host bus by fsbFreq 0..3.
extern const u16 DdrRateTable[5];
extern const u16 FsbRateTable[4];

// Clock period in units of 10 ps: DRAM by ddrFreq 0..4, host bus by fsbFreq 0..4.
extern const u16 DdrClockTable[5];
extern const u16 FsbClockTable[5];

// Bus-to-DRAM clock class 0..2, indexed [fsbFreq][ddrFreq - 1].
extern const u8 RatioClassTable[3][3];

// One row per RankGeometryCode.
struct GeometryRow {
    u8 rowBitsMinus12;
    u8 colBitsMinus9;
    u8 eightBanks;  // 1: eight banks per device, 0: four
    u8 widthBits;   // device width: 8 or 16
    u8 density;     // 0 = 256 Mbit, 1 = 512 Mbit, 2 = 1 Gbit, 3 = 2 Gbit
    u8 rankSize64Mb;
};

static_assert(sizeof(GeometryRow) == 6, "geometry rows are 6 bytes");

const u32 kGeometryCodeCount = 10;
extern const GeometryRow GeometryTable[kGeometryCodeCount];

#endif  // CORVEX_CONFIG_TABLES_H
