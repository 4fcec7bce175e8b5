// MemInitEntry, the single entry point boot firmware calls once per boot, and
// the boot-path decisions around it (see entry.h).
#include "corvex/config/entry.h"

#include "corvex/config/platform_control.h"
#include "corvex/config/registers.h"
#include "corvex/config/saved_config.h"
#include "corvex/config/spd_dimms.h"
#include "corvex/config/step_driver.h"
#include "corvex/config/timings.h"
#include "corvex/dram/fatal_stop.h"
#include "corvex/platform/platform.h"

namespace {

const u32 kHostBridge = PciCfgAddress(0, 0, 0, 0);
const u32 kEngineIf = PciCfgAddress(0, 3, 0, 0);

// Device 0:31.0 byte 0xA2: bit 7 marks a memory initialization in progress,
// bit 2 one that was cut short. Either found at entry forces a reset.
const u32 kInitState = PciCfgAddress(0, 31, 0, 0xA2);
const u8 kInitInProgress = 0x80;
const u8 kInitInterrupted = 0x04;
const u32 kResetCause = PciCfgAddress(0, 31, 0, 0xA4);

const u8 kHighestDdrFreq = 3;  // DDR2-800

}  // namespace

// The value returned carries no status; boot firmware reads the output block.
// It is always 0.
extern "C" u32 MemInitEntry(MemInitInput* input, MemInitOutput* output) {
    PortWrite8(PORT_BOOT_STAGE_85, 0x01);
    PostCode(0xA0);

    SpdBuffer spd;
    MemConfig config;
    ClearRecord(&spd, sizeof spd);
    ClearRecord(&config, sizeof config);

    const u8 bootMode = input->bootMode;

    PhysRead8(kHostBridge + 0xDF);
    PhysWrite8(kHostBridge + 0xDF, 0x13);

    PostCode(0x01);
    PhysWrite32(kHostBridge + 0x48, MC_BASE | 1u);  // controller block base and its enable

    if ((PhysRead32(kHostBridge + 0xE8) & (1u << 11)) == 0) {
        while ((PhysRead8(TPM_ACCESS_0) & 0x80) == 0) {
        }
    }

    PostCode(0x02);
    ReadRetainedState(&config);

    PostCode(0x03);
    const u8 initState = PhysRead8(kInitState);
    if ((initState & (kInitInProgress | kInitInterrupted)) != 0) {
        PhysWrite8(kInitState, static_cast<u8>((initState & ~kInitInProgress) | kInitInterrupted));
        PhysSetBits8(kResetCause, 0x08);
        PostCode(0x03);
        SystemReset();
    }
    PhysSetBits8(kInitState, kInitInProgress);

    if (bootMode == 1) {
        RestoreConfig(&config, input);
    } else {
        PostCode(0xDD);
        ReadAllSpd(&spd);
        DetectDimms(input, &spd, &config);
    }

    ApplyOverrides(input, &config);
    RunMemInitSteps(input, bootMode, &config, output);

    if (bootMode != 1) {
        SaveConfig(&config, output);
    }
    return 0;
}

void ReadRetainedState(MemConfig* config) {
    const u8 share = PhysRead8(McAddress(0xA2E)) & 0x1F;
    const u32 engineStatus = PhysRead32(kEngineIf + 0x40);
    if (share == 0 || (engineStatus & 0xF000) != 0) {
        config->meMemSizeMb = 0;
        config->meHoldsMemory = 0;
        return;
    }
    config->meMemSizeMb = share;
    if ((PhysRead32(McAddress(0xA30)) & (1u << 26)) != 0) {
        config->meHoldsMemory = 1;
        config->skipDramInit = 1;
    } else {
        config->meHoldsMemory = 0;
        config->skipDramInit = 0;
    }
}

void DetectDimms(MemInitInput* input, SpdBuffer* spd, MemConfig* config) {
    ValidateDimms(input, spd, config);
    if (config->rankPresent[0] == 0 && config->rankPresent[2] == 0 && config->rankPresent[4] == 0 &&
        config->rankPresent[6] == 0) {
        FatalStop(kFatalNoDimm);
    }

    PostCode(0x09);
    SelectFrequencyAndCas(input, spd, config);
    // The override wins even where the selection had to fall back lower.
    const u8 ddrFreq = DdrFreqOverride(input);
    if (ddrFreq != 0) {
        config->ddrFreq = ddrFreq;
    }

    PostCode(0x11);
    DeriveTimings(spd, config);

    PostCode(0x21);
    BuildRankMaps(config);
}

void ApplyOverrides(MemInitInput* input, MemConfig* config) {
    // The fields are biased themselves, so an override of n selects CAS
    // latency, tRCD and tRP of n + 2 clocks and tRAS of n + 8.
    if (input->casOverride != 0) {
        config->casLatency = static_cast<u8>(input->casOverride - 1);
    }
    if (input->tRcdOverride != 0) {
        config->tRcd = static_cast<u8>(input->tRcdOverride - 1);
    }
    if (input->tRpOverride != 0) {
        config->tRp = static_cast<u8>(input->tRpOverride - 1);
    }
    if (input->tRasOverride != 0) {
        config->tRas = static_cast<u8>(input->tRasOverride - 1);
    }
}

u8 DdrFreqOverride(const MemInitInput* input) {
    const u8 ddrFreq = input->ddrFreqOverride;
    if (ddrFreq > kHighestDdrFreq) {
        FatalStop(kFatalDdrFreqOverride);
    }
    return ddrFreq;
}
