// Reading the DIMMs' SPD over SMBus, validating the DIMMs and condensing them
// into rank masks, rank geometry codes and DIMM type codes.
#ifndef CORVEX_CONFIG_SPD_DIMMS_H
#define CORVEX_CONFIG_SPD_DIMMS_H

#include "corvex/config/boot_interface.h"
#include "corvex/config/records.h"

// Fatal codes of DIMM validation.
const u8 kFatalDimmKind = 0xE0;     // not DDR2 (SPD byte 2), or not an SO-DIMM (byte 20)
const u8 kFatalDimmEcc = 0xE1;      // ECC module (byte 11 bit 1)
const u8 kFatalDimmRanks = 0xE2;    // more than two ranks (byte 5 bits 2:0)
const u8 kFatalDimmDevices = 0xE3;  // device width not x8/x16, or banks not 4/8
// A present rank whose row bits are not 12..15, whose column bits are not 9
// or 10, or whose organisation the controller cannot address. Chosen apart
// from every other fatal code (the 0xE0..0xEF row is taken in full).
const u8 kFatalRankGeometry = 0xF0;

// SMBus host controller ports (base set up by boot firmware).
const u16 SMBUS_STATUS = 0x500;   // bit 1 done; bits 4:2 errors; 0x1E clears bits 4:1
const u16 SMBUS_CONTROL = 0x502;  // 0x48 starts a byte-data read
const u16 SMBUS_COMMAND = 0x503;  // the SPD byte number
const u16 SMBUS_ADDRESS = 0x504;  // 8-bit target address, bit 0 = 1 for a read
const u16 SMBUS_DATA = 0x505;

// Reads `count` SPD bytes of `slot` from byte `firstByte` into dest. Returns
// 1, or 0xFFFFFFFF (-1) on an SMBus error; bytes read before it stay in dest.
u32 ReadSpdBlock(u32 slot, u32 firstByte, u32 count, u8* dest);
// Fills the record of every slot; returns 1 always.
u32 ReadAllSpd(SpdBuffer* spd);
// Stops through FatalStop on a DIMM the controller cannot drive.
void ValidateDimms(MemInitInput* input, SpdBuffer* spd, MemConfig* config);
// RankGeometryCode of a present rank; stops with kFatalRankGeometry when the
// rank has none.
u8 GeometryCode(u32 rank, MemConfig* config);
void BuildRankMaps(MemConfig* config);

#endif  // CORVEX_CONFIG_SPD_DIMMS_H
