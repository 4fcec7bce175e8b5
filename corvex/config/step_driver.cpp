// RunMemInitSteps (see step_driver.h).
#include "corvex/config/step_driver.h"

#include "corvex/config/channel_timing.h"
#include "corvex/config/engine_copy.h"
#include "corvex/config/platform_control.h"
#include "corvex/config/rank_map.h"
#include "corvex/config/register_groups.h"
#include "corvex/config/registers.h"
#include "corvex/dram/channel_settings.h"
#include "corvex/dram/clocking.h"
#include "corvex/dram/engine_messaging.h"
#include "corvex/dram/final_config.h"
#include "corvex/dram/jedec_init.h"
#include "corvex/dram/memory_map.h"
#include "corvex/dram/phase_calibration.h"
#include "corvex/dram/receive_enable.h"
#include "corvex/platform/platform.h"

namespace {

const u32 kHostBridge = PciCfgAddress(0, 0, 0, 0);
const u32 kEngineIf = PciCfgAddress(0, 3, 0, 0);
const u32 kInitState = PciCfgAddress(0, 31, 0, 0xA2);  // bit 7: initialization in progress
const u32 kResetCause = PciCfgAddress(0, 31, 0, 0xA4);

// Controller bits that carry state across resets.
const u32 kPreservedState = McAddress(0xF14);    // bit 8: DRAM preserved; bits 1:0 per channel
const u32 kSavedCalibration = McAddress(0xA0C);  // bytes 0xA0C/0xA0D, bits 4:0 per channel
const u32 kResetOnce = McAddress(0xC20);         // bit 0: the one-time reset was taken

// Receive-enable coarse delay of each channel, bits 20:16.
const u32 kReceiveEnableA = McAddress(0x248);
const u32 kReceiveEnableB = McAddress(0x248, 1);

// Value for port 0xCF9 of the one-time reset on revision-0 controllers.
const u8 kWarmReset = 0x06;

bool ChannelAHasDimm(const MemConfig* config) {
    return config->rankPresent[0] != 0 || config->rankPresent[2] != 0;
}
bool ChannelBHasDimm(const MemConfig* config) {
    return config->rankPresent[4] != 0 || config->rankPresent[6] != 0;
}

u8 ReceiveEnableCoarse(u32 address) {
    return static_cast<u8>((PhysRead32(address) >> 16) & 0x1F);
}

// The engine share makes the HPET respond and its counter run for the
// handshake's time-outs, and puts both back afterwards.
void HandOverToEngine(MemConfig* config, MemInitOutput* output) {
    if (config->meHoldsMemory == 0) {
        CopyConfigToEngine(config);
    }
    const u32 decode = PhysRead32(HPET_DECODE);
    PhysWrite32(HPET_DECODE, (decode & ~0x01u) | 0x80u);
    PhysRead32(HPET_DECODE);
    PhysSetBits32(HPET_GENERAL_CONFIG, 0x01);
    DramReadyHandshake(config, output);
    PhysClearBits32(HPET_GENERAL_CONFIG, 0x01);
    PhysRead32(HPET_GENERAL_CONFIG);
    PhysWrite32(HPET_DECODE, decode);
}

}  // namespace

void RunMemInitSteps(MemInitInput* input, u8 bootMode, MemConfig* config, MemInitOutput* output) {
    if (bootMode == 1) {
        PortWrite8(PORT_BOOT_STAGE_84, 0x21);
    }
    PostCode(0x22);
    PhysClearBits8(McAddress(0x5FF), 0x80);

    // DRAM kept its content across the reset: skip initialization and restore
    // the saved calibration, unless a channel with DIMMs did not keep its part.
    const u32 preserved = PhysRead32(kPreservedState);
    bool needReset = false;
    if ((preserved & (1u << 8)) != 0) {
        config->skipDramInit = 1;
        if (ChannelAHasDimm(config) && (preserved & 0x1) == 0) {
            needReset = true;
        }
        if (ChannelBHasDimm(config) && (preserved & 0x2) == 0) {
            needReset = true;
        }
    }
    if ((PhysRead16(kSavedCalibration) & 0x1F1F) == 0) {
        config->skipDramInit = 0;  // no saved calibration to restore
    }
    if (needReset && (PhysRead8(kResetOnce) & 0x01) == 0) {
        PhysSetBits8(kResetCause, 0x08);
        PhysClearBits8(kInitState, 0x80);
        SystemReset();
    }
    const bool skip = config->skipDramInit != 0;  // nothing below changes it

    PostCode(0x23);
    if (config->meHoldsMemory == 0) {
        PhysSetBits32(kPreservedState, 0x3);
    }

    PostCode(0x24);
    if (!skip) {
        ApplyDdrFrequency(config);
    }

    PostCode(0x25);
    PostCode(0x26);
    PhysSetBits16(McAddress(0xC1C), 0x8000);

    PostCode(0x27);
    ProgramClockCrossing(config);

    PostCode(0x28);
    if (!skip) {
        ProgramFrequencyTimings(config);
    }

    PostCode(0x29);
    ProgramChannelTimings(config);

    PostCode(0x30);
    if (!skip) {
        ClockPhaseAndTiming(config);
    }

    PostCode(0x31);
    if (!skip) {
        ProgramRegisterGroups(config);
    }

    PostCode(0x32);
    ProgramChannelSettings(config);

    PostCode(0x33);
    if (!skip) {
        while ((PhysRead8(McAddress(0x130)) & 0x01) != 0) {
        }
        AdjustGroupPresets(config);
    }

    PostCode(0x34);
    if (config->meHoldsMemory == 0) {
        ProgramTemporaryMap();
        PostCode(0x35);
        EnableChannels(config);
        PostCode(0x36);
        if (bootMode != 1) {
            DramJedecInit(config);
        }
    }

    PostCode(0x37);
    ProgramChannelControl(config);

    // On revision 0, preserved DRAM without an engine share goes through one
    // reset first; bit 0 of 0xC20 keeps that to one reset in a row.
    if (PhysRead8(kHostBridge + kPciRevisionId) == 0) {
        if (skip && config->meMemSizeMb == 0 && (PhysRead8(kResetOnce) & 0x01) == 0) {
            PhysClearBits8(McAddress(0x5FF), 0x80);
            PhysClearBits8(kInitState, 0x80);
            PhysSetBits8(kResetOnce, 0x01);
            PortWrite8(PORT_RESET, kWarmReset);
            PlatformStop(kStopReset | kWarmReset);
        }
        PhysClearBits8(kResetOnce, 0x01);
    }

    PostCode(0x38);
    if (!skip) {
        ReceiveEnableStep(config);
        const u8 coarseA = ReceiveEnableCoarse(kReceiveEnableA);
        PhysModify8(kSavedCalibration, 0x1F, coarseA);
        const u8 coarseB = ReceiveEnableCoarse(kReceiveEnableB);
        PhysModify8(kSavedCalibration + 1, 0x1F, coarseB);
    } else {
        const u8 coarseA = PhysRead8(kSavedCalibration) & 0x1F;
        PhysModify32(kReceiveEnableA, 0x1Fu << 16, static_cast<u32>(coarseA) << 16);
        const u8 coarseB = PhysRead8(kSavedCalibration + 1) & 0x1F;
        PhysModify32(kReceiveEnableB, 0x1Fu << 16, static_cast<u32>(coarseB) << 16);
        if (config->meHoldsMemory == 0) {
            if (config->chARankMask != 0) {
                PhysSetBits8(McAddress(0x5F4), 0x01);
            }
            if (config->chBRankMask != 0) {
                PhysSetBits8(McAddress(0x9F4), 0x01);
            }
        }
    }

    PostCode(0x39);
    ProgramRankBoundaries(config);

    PostCode(0x40);
    ProgramChannelMap(config, output);

    PostCode(0x41);
    ProgramSystemMemoryMap(config, input);

    PostCode(0x42);
    PhysSetBits8(McAddress(0x40), 0x02);
    FinalControllerConfig(config);

    PostCode(0x43);
    if (!skip) {
        PhysClearBits8(McAddress(0x130), 0x02);
        PhysRead8(McAddress(0x130));
        PhysModify16(McAddress(0x1F0), 0x3000, 0x1000);
    }
    if (config->meHoldsMemory == 0) {
        PhysSetBits8(McAddress(0x5FF), 0x80);
        PhysSetBits8(McAddress(0x130), 0x82);
    }

    PostCode(0x44);
    output->engineChANone = 1;
    output->engineReply1 = 0;
    output->engineReply2 = 2;
    const u32 engineStatus = PhysRead32(kEngineIf + 0x40);
    output->engineStatusHigh = static_cast<u8>((engineStatus >> 12) & 0xF);
    output->engineStatusLow = static_cast<u8>(engineStatus & 0xF);
    output->retained = config->meHoldsMemory;

    if (config->meMemSizeMb != 0) {
        HandOverToEngine(config, output);
    }

    PostCode(0x45);
    PhysClearBits8(kInitState, 0x80);  // memory initialization complete
}
