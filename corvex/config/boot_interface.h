// The interface between boot firmware and corvex: the two blocks the firmware
// owns and the single entry point. Their layout is fixed; firmware built
// separately relies on every offset below.
#ifndef CORVEX_CONFIG_BOOT_INTERFACE_H
#define CORVEX_CONFIG_BOOT_INTERFACE_H

#include "corvex/platform/types.h"

struct MemInitInput {
    u8 bootMode;  // 1: configuration from the CMOS copy; otherwise full detection
    u8 reserved01[3];
    u32 savedConfigIn[4];  // filled by corvex itself in boot mode 1
    u8 reserved14[16];
    u16 gfxMemMb;
    u8 reserved26[2];
    u16 gttMemMb;
    u8 reserved2A[2];
    u32 mmioSizeMb;  // 0 selects the default memory map
    u8 ddrFreqOverride;
    u8 casOverride;
    u8 tRcdOverride;
    u8 tRpOverride;
    u8 tRasOverride;
};

struct MemInitOutput {
    u32 slotSizeMb[4];
    u32 savedConfig[4];
    u8 reserved20[16];
    u8 interleaveMode;
    u8 engineMemory;
    u8 frequency;
    u8 engineStatusHigh;
    u8 engineStatusLow;
    u8 retained;
    u8 engineReply1;
    u8 engineReply2;
    u8 engineChANone;
};

static_assert(__builtin_offsetof(MemInitInput, savedConfigIn) == 0x04, "input layout");
static_assert(__builtin_offsetof(MemInitInput, gfxMemMb) == 0x24, "input layout");
static_assert(__builtin_offsetof(MemInitInput, gttMemMb) == 0x28, "input layout");
static_assert(__builtin_offsetof(MemInitInput, mmioSizeMb) == 0x2C, "input layout");
static_assert(__builtin_offsetof(MemInitInput, ddrFreqOverride) == 0x30, "input layout");
static_assert(__builtin_offsetof(MemInitInput, tRasOverride) == 0x34, "input layout");
static_assert(__builtin_offsetof(MemInitOutput, savedConfig) == 0x10, "output layout");
static_assert(__builtin_offsetof(MemInitOutput, interleaveMode) == 0x30, "output layout");
static_assert(__builtin_offsetof(MemInitOutput, engineChANone) == 0x38, "output layout");

// Called once per boot by firmware, as a cdecl C function. The returned value
// carries no status; firmware reads the results from `output`.
extern "C" u32 MemInitEntry(MemInitInput* input, MemInitOutput* output);

#endif  // CORVEX_CONFIG_BOOT_INTERFACE_H
