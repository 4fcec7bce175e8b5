// Choosing the DDR2 data rate and CAS latency that every DIMM supports and
// deriving the DRAM timings from the DIMMs' SPD minimum times (see timings.h).
#include "corvex/config/timings.h"

#include "corvex/config/entry.h"
#include "corvex/config/platform_control.h"
#include "corvex/config/registers.h"
#include "corvex/dram/fatal_stop.h"
#include "corvex/platform/platform.h"

const u8 DdrClockQnsTable[4] = {20, 15, 12, 10};

namespace {

const u32 kHostBridge = PciCfgAddress(0, 0, 0, 0);
// Host bridge byte 0xE3, bits 7:6: the fastest data rate this part allows.
const u32 kDdrCapability = kHostBridge + 0xE3;
// Bits 2:0: the front-side-bus index the platform strapped.
const u32 kFsbStrap = McAddress(0xC00);

const u8 kHighestFsbFreq = 2;
const u8 kFsb533 = 1;
const u8 kDdr533 = 1;
const u8 kDdr800 = 3;
const u8 kCasBias = 3;  // casLatency holds CAS latency - 3

// SPD bytes (JEDEC DDR2 numbering).
const u32 kSpdRefresh = 12;
const u32 kSpdBurstLengths = 16;  // bit 3: burst length 8
const u32 kSpdCasLatencies = 18;  // bit n: CAS latency n
const u32 kSpdAttributes = 22;    // bit 1: 50 ohm on-die termination
const u32 kSpdTRp = 27;
const u32 kSpdTRrd = 28;
const u32 kSpdTRcd = 29;
const u32 kSpdTRas = 30;  // ns
const u32 kSpdTWr = 36;
const u32 kSpdTWtr = 37;
const u32 kSpdTRtp = 38;
const u32 kSpdTRfcHigh = 40;  // bit 0 adds 256 ns to byte 42
const u32 kSpdTRfc = 42;      // ns

// The largest SPD cycle-time and access-time bytes a DIMM may show at the
// chosen CAS latency, by ddrFreq (raw SPD encodings).
struct FreqLimit {
    u8 cycleTime;
    u8 accessTime;
};
const FreqLimit FreqLimitTable[4] = {
    {0x50, 0x70},  // DDR2-400
    {0x3D, 0x50},  // DDR2-533
    {0x30, 0x45},  // DDR2-667
    {0x25, 0x40},  // DDR2-800
};

// The SPD cycle-time and access-time bytes that apply k latencies below a
// DIMM's highest supported CAS latency. A DIMM says nothing about latencies
// further down, so those never fit.
struct CasSpdBytes {
    u8 cycleTime;
    u8 accessTime;
};
const u32 kCasSpdRows = 3;
const CasSpdBytes CasSpdTable[kCasSpdRows] = {{9, 10}, {23, 24}, {25, 26}};

bool SlotPopulated(const MemConfig* config, u32 slot) {
    return config->rankPresent[2 * slot] != 0;
}

// Whether CAS latency `cas` at data rate `freq` suits the DIMM. Latencies the
// DIMM's SPD cannot vouch for (none listed, above its highest, more than two
// below it) and those casLatency cannot hold (below 3) never suit.
bool CasFits(const u8* b, u8 cas, u8 freq) {
    const u8 latencies = b[kSpdCasLatencies];
    if (latencies == 0 || cas < kCasBias) {
        return false;
    }
    const u8 top = HighestSetBit(latencies);
    if (cas > top || static_cast<u32>(top - cas) >= kCasSpdRows) {
        return false;
    }
    const CasSpdBytes row = CasSpdTable[top - cas];
    const u8 cycleTime = b[row.cycleTime];
    const u8 accessTime = b[row.accessTime];
    return cycleTime != 0 && accessTime != 0 && cycleTime <= FreqLimitTable[freq].cycleTime &&
           accessTime <= FreqLimitTable[freq].accessTime;
}

// Raises *field until bias + *field clocks of q (0.25 ns each) cover `need`:
// in 0.25 ns, or in whole ns rounded up when `inNs`. A DIMM that needs more
// than `top` leaves the field at the top and stops the boot.
void SearchClocks(u8* field, u8 bias, u8 top, u32 q, u32 need, bool inNs, u8 fatal) {
    for (;;) {
        u32 time = q * (bias + *field);
        if (inNs) {
            time = (time + 3) / 4;
        }
        if (time >= need) {
            return;
        }
        if (*field >= top) {
            FatalStop(fatal);
        }
        ++*field;
    }
}

}  // namespace

u8 LowestSetBit(u8 value) {
    for (u8 bit = 0; bit < 8; ++bit) {
        if ((value & (1u << bit)) != 0) {
            return bit;
        }
    }
    return 8;
}

u8 HighestSetBit(u8 value) {
    for (u8 bit = 8; bit > 0; --bit) {
        if ((value & (1u << (bit - 1))) != 0) {
            return static_cast<u8>(bit - 1);
        }
    }
    return 8;
}

void SelectFrequencyAndCas(MemInitInput* input, SpdBuffer* spd, MemConfig* config) {
    PostCode(0x09);
    const u8 fsbFreq = PhysRead8(kFsbStrap) & 0x07;
    if (fsbFreq > kHighestFsbFreq) {
        FatalStop(kFatalFsbFreq);
    }
    config->fsbFreq = fsbFreq;

    PostCode(0x09);
    u8 mask = 0x78;  // CAS latencies 3..6
    bool allOdt = true;
    for (u32 s = 0; s < kSlotCount; ++s) {
        if (!SlotPopulated(config, s)) {
            continue;
        }
        if ((spd->slot[s].spd[kSpdAttributes] & 0x02) == 0) {
            allOdt = false;
        }
        mask &= spd->slot[s].spd[kSpdCasLatencies];
    }
    if (mask == 0) {
        mask = 0x07;
    }

    PostCode(0x10);
    u8 freq = kDdr800;
    const u8 capability = static_cast<u8>(PhysRead8(kDdrCapability) >> 6);
    if (capability == 2) {
        freq = 2;
    } else if (capability == 3) {
        freq = kDdr533;
    }

    const u8 ddrFreqOverride = DdrFreqOverride(input);
    if (ddrFreqOverride != 0) {
        config->ddrFreq = ddrFreqOverride;
        freq = ddrFreqOverride;
    }
    // Above DDR2-533 every DIMM needs its 50 ohm termination, and a 533 bus
    // carries no more.
    if (freq > kDdr533 && (!allOdt || config->fsbFreq == kFsb533)) {
        freq = kDdr533;
    }

    // The fastest rate first, and at it the lowest latency every DIMM takes.
    // DDR2-400 (index 0) is never chosen.
    for (; freq >= kDdr533; --freq) {
        u8 candidates = mask;
        while (candidates != 0) {
            const u8 cas = LowestSetBit(candidates);
            bool fits = true;
            for (u32 s = 0; s < kSlotCount && fits; ++s) {
                if (SlotPopulated(config, s)) {
                    fits = CasFits(spd->slot[s].spd, cas, freq);
                }
            }
            if (fits) {
                config->ddrFreq = freq;
                config->casLatency = static_cast<u8>(cas - kCasBias);
                return;
            }
            candidates = static_cast<u8>(candidates & ~(1u << cas));
        }
    }

    config->ddrFreq = kDdr533;
    config->casLatency = 1;
    FatalStop(kFatalNothingFits);
}

void DeriveTimings(SpdBuffer* spd, MemConfig* config) {
    const u32 q = DdrClockQnsTable[config->ddrFreq];
    config->tRas = 0;
    config->tRp = 0;
    config->tRcd = 0;
    config->tWr = 3;
    config->tRfc = 0;
    config->fastRefresh = 0;
    config->tWtr = 2;
    config->tRrd = 2;
    config->tRtp = 2;

    // Each search goes on from what the slot before left, so every timing
    // ends as the largest any DIMM needs.
    for (u32 s = 0; s < kSlotCount; ++s) {
        if (!SlotPopulated(config, s)) {
            continue;
        }
        const u8* b = spd->slot[s].spd;

        PostCode(0x11);
        SearchClocks(&config->tRas, 9, 15, q, b[kSpdTRas], true, kFatalTRas);

        PostCode(0x12);
        SearchClocks(&config->tRp, 3, 7, q, b[kSpdTRp], false, kFatalTRp);
        if (b[kSpdTRp] == 0) {
            FatalStop(kFatalTRp);
        }

        PostCode(0x13);
        SearchClocks(&config->tRcd, 3, 7, q, b[kSpdTRcd], false, kFatalTRcd);

        PostCode(0x14);
        const u8 refresh = b[kSpdRefresh] & 0x7F;
        if (refresh == 1 || refresh == 2) {  // 3.9 or 7.8 us
            config->fastRefresh = 1;
        }

        PostCode(0x15);
        if ((b[kSpdBurstLengths] & 0x08) == 0) {
            FatalStop(kFatalBurst8);
        }

        PostCode(0x16);
        SearchClocks(&config->tWr, 0, 15, q, b[kSpdTWr], false, kFatalTWrTRrd);

        PostCode(0x17);
        const u32 tRfcNs = 256u * (b[kSpdTRfcHigh] & 0x01) + b[kSpdTRfc];
        SearchClocks(&config->tRfc, 15, 63, q, tRfcNs, true, kFatalTRfc);

        PostCode(0x18);
        SearchClocks(&config->tWtr, 0, 15, q, b[kSpdTWtr], false, kFatalTWtr);
        if (b[kSpdTWtr] == 0) {
            FatalStop(kFatalTWtr);
        }

        PostCode(0x19);
        SearchClocks(&config->tRrd, 0, 15, q, b[kSpdTRrd], false, kFatalTWrTRrd);
        if (b[kSpdTRrd] == 0) {
            FatalStop(kFatalTWrTRrd);
        }

        PostCode(0x20);
        SearchClocks(&config->tRtp, 0, 15, q, b[kSpdTRtp], false, kFatalTRtp);
        if (b[kSpdTRtp] == 0) {
            FatalStop(kFatalTRtp);
        }
    }
}
