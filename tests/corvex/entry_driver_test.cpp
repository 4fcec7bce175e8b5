// The entry and the step driver against scripted register values: the POST
// sequence of each boot path, the resets for an interrupted or unusable
// previous run, the restore of saved calibration and the HPET bracket around
// the ME handshake. The steps themselves are not built yet, so these runs see
// only what the entry and the driver do on their own.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "corvex/config/boot_interface.h"
#include "corvex/config/registers.h"
#include "corvex/config/step_driver.h"
#include "corvex/dram/engine_messaging.h"
#include "corvex/dram/fatal_stop.h"
#include "tests/corvex/scripted_bus.h"

namespace {

const uint32_t kPhys = kHostBusPhysical;
const uint32_t kPort = kHostBusPort;
const uint32_t kHostBridge = PciCfgAddress(0, 0, 0, 0);
const uint32_t kInitState = PciCfgAddress(0, 31, 0, 0xA2);
const uint32_t kResetCause = PciCfgAddress(0, 31, 0, 0xA4);

std::vector<uint32_t> PostCodes() {
    return scriptbus::Writes(kPort, PORT_POST, 1);
}

// The driver's codes from 0x22 to 0x45 of a run that meets no fault.
std::vector<uint32_t> DriverCodes() {
    std::vector<uint32_t> codes;
    for (uint32_t c = 0x22; c <= 0x45; ++c) {
        if ((c & 0xF) <= 9) {
            codes.push_back(c);
        }
    }
    return codes;
}

class EntryDriver : public ::testing::Test {
  protected:
    void SetUp() override {
        scriptbus::Reset();
        scriptbus::Script(kPhys, kHostBridge + 0xE8, {1u << 11});  // no TPM wait
        scriptbus::Ramp(kPhys, HPET_MAIN_COUNTER, 0x1000, 0x00010000);
    }
};

TEST_F(EntryDriver, FullDetectionWithoutDimmsStopsWithNoDimm) {
    // Without bit 11 the entry waits for the TPM to report its registers valid.
    scriptbus::Script(kPhys, kHostBridge + 0xE8, {0});
    scriptbus::Script(kPhys, TPM_ACCESS_0, {0x00, 0x00, 0x80});
    scriptbus::Script(kPort, 0x500, {0x04});  // no SPD device answers on SMBus
    MemInitInput input = {};
    MemInitOutput output = {};
    const auto reason = scriptbus::RunUntilStop([&] { MemInitEntry(&input, &output); });
    ASSERT_TRUE(reason.has_value());
    EXPECT_EQ(*reason, kStopFatal | kFatalNoDimm);
    EXPECT_EQ(PostCodes(), (std::vector<uint32_t>{0xA0, 0x01, 0x02, 0x03, 0xDD}));
    EXPECT_EQ(scriptbus::Writes(kPort, PORT_POST, 2), std::vector<uint32_t>{0xEEE8});
    EXPECT_EQ(scriptbus::Writes(kPort, PORT_BOOT_STAGE_85, 1), std::vector<uint32_t>{0x01});
    EXPECT_EQ(scriptbus::Reads(kPhys, TPM_ACCESS_0), 3u);
    EXPECT_EQ(scriptbus::Writes(kPhys, kHostBridge + 0xDF, 1), std::vector<uint32_t>{0x13});
    EXPECT_EQ(scriptbus::Writes(kPhys, kHostBridge + 0x48, 4), std::vector<uint32_t>{0xFED14001});
    EXPECT_EQ(scriptbus::Writes(kPhys, kInitState, 1), std::vector<uint32_t>{0x80});
}

TEST_F(EntryDriver, InterruptedPreviousRunResetsBeforeAnythingElse) {
    struct Case {
        uint32_t found;    // register 0xA2 at entry
        uint32_t written;  // what goes back before the reset
    };
    for (const Case& c : {Case{0x04, 0x04}, Case{0x80, 0x04}, Case{0x85, 0x05}}) {
        SetUp();
        scriptbus::Script(kPhys, kInitState, {c.found});
        scriptbus::Script(kPhys, kResetCause, {0x21});
        MemInitInput input = {};
        MemInitOutput output = {};
        const auto reason = scriptbus::RunUntilStop([&] { MemInitEntry(&input, &output); });
        ASSERT_TRUE(reason.has_value());
        EXPECT_EQ(*reason, kStopReset | 0x0Eu);
        EXPECT_EQ(scriptbus::Writes(kPhys, kInitState, 1), std::vector<uint32_t>{c.written});
        EXPECT_EQ(scriptbus::Writes(kPhys, kResetCause, 1), std::vector<uint32_t>{0x29});
        EXPECT_EQ(scriptbus::Writes(kPort, PORT_RESET, 1), std::vector<uint32_t>{0x0E});
        EXPECT_EQ(PostCodes(), (std::vector<uint32_t>{0xA0, 0x01, 0x02, 0x03, 0x03}));
    }
}

TEST_F(EntryDriver, BootMode1RunsEveryDriverCodeAndLeavesTheDetectionFields) {
    scriptbus::Script(kPhys, PciCfgAddress(0, 3, 0, 0x40), {0x0000A005});
    // Every CMOS byte 0x01: DDR2-533, one rank of code 1 on channel A.
    scriptbus::Script(kPort, 0x73, {0x01});
    MemInitInput input = {};
    input.bootMode = 1;
    MemInitOutput output;
    std::memset(&output, 0x5A, sizeof output);
    u32 result = 0xFFFFFFFF;
    const auto reason = scriptbus::RunUntilStop([&] { result = MemInitEntry(&input, &output); });
    ASSERT_FALSE(reason.has_value()) << std::hex << *reason;
    EXPECT_EQ(result, 0u);
    std::vector<uint32_t> expected = {0xA0, 0x01, 0x02, 0x03};
    for (uint32_t c : DriverCodes()) {
        expected.push_back(c);
    }
    EXPECT_EQ(PostCodes(), expected);
    EXPECT_EQ(scriptbus::Writes(kPort, PORT_BOOT_STAGE_84, 1), std::vector<uint32_t>{0x21});
    const auto* bytes = reinterpret_cast<const uint8_t*>(&output);
    for (size_t i = 0; i <= 0x32; ++i) {
        EXPECT_EQ(bytes[i], 0x5A) << "output byte " << i;
    }
    EXPECT_EQ(output.engineStatusHigh, 0xA);
    EXPECT_EQ(output.engineStatusLow, 0x5);
    EXPECT_EQ(output.retained, 0);
    EXPECT_EQ(output.engineReply1, 0);
    EXPECT_EQ(output.engineReply2, 2);
    EXPECT_EQ(output.engineChANone, 1);
    // Set at entry, cleared at the end: memory initialization complete.
    EXPECT_EQ(scriptbus::Writes(kPhys, kInitState, 1), (std::vector<uint32_t>{0x80, 0x00}));
}

struct DriverRun {
    std::optional<uint32_t> reason;
    MemInitOutput output = {};
};

DriverRun RunDriver(MemConfig* config) {
    DriverRun run;
    MemInitInput input = {};
    MemInitOutput* output = &run.output;
    run.reason = scriptbus::RunUntilStop([&] { RunMemInitSteps(&input, 0, config, output); });
    return run;
}

TEST_F(EntryDriver, PreservedDramThatAChannelLostResetsOnceUnlessAlreadyTried) {
    scriptbus::Script(kPhys, McAddress(0xF14), {0x102});  // preserved, channel B only
    scriptbus::Script(kPhys, McAddress(0xA0C), {0x0101});
    MemConfig config = {};
    config.rankPresent[0] = 1;
    DriverRun run = RunDriver(&config);
    ASSERT_TRUE(run.reason.has_value());
    EXPECT_EQ(*run.reason, kStopReset | 0x0Eu);
    EXPECT_EQ(PostCodes(), std::vector<uint32_t>{0x22});
    EXPECT_EQ(scriptbus::Writes(kPhys, kResetCause, 1), std::vector<uint32_t>{0x08});
    EXPECT_EQ(scriptbus::Writes(kPhys, kInitState, 1), std::vector<uint32_t>{0x00});

    // Bit 0 of 0xC20 says the reset was already taken: go on with the boot.
    SetUp();
    scriptbus::Script(kPhys, McAddress(0xF14), {0x102});
    scriptbus::Script(kPhys, McAddress(0xA0C), {0x0101});
    scriptbus::Script(kPhys, McAddress(0xC20), {0x01});
    scriptbus::Script(kPhys, kHostBridge + kPciRevisionId, {1});
    config = {};
    config.rankPresent[0] = 1;
    run = RunDriver(&config);
    EXPECT_FALSE(run.reason.has_value());
    EXPECT_EQ(PostCodes(), DriverCodes());
}

TEST_F(EntryDriver, PreservedDramRestoresTheSavedCalibrationInsteadOfCalibrating) {
    scriptbus::Script(kPhys, McAddress(0xF14), {0x103});
    scriptbus::Script(kPhys, McAddress(0xA0C), {0x0305});  // 16-bit read of both bytes, then byte
    scriptbus::Script(kPhys, McAddress(0xA0D), {0x03});
    scriptbus::Script(kPhys, McAddress(0xC20), {0x01});
    scriptbus::Script(kPhys, McAddress(0x248), {0xFFE0FFFF});
    scriptbus::Script(kPhys, McAddress(0x648), {0x00000000});
    MemConfig config = {};
    config.chARankMask = 0x1;
    DriverRun run = RunDriver(&config);
    ASSERT_FALSE(run.reason.has_value());
    EXPECT_EQ(scriptbus::Writes(kPhys, McAddress(0x248), 4), std::vector<uint32_t>{0xFFE5FFFF});
    EXPECT_EQ(scriptbus::Writes(kPhys, McAddress(0x648), 4), std::vector<uint32_t>{0x00030000});
    EXPECT_EQ(scriptbus::Writes(kPhys, McAddress(0x5F4), 1), std::vector<uint32_t>{0x01});
    EXPECT_TRUE(scriptbus::Writes(kPhys, McAddress(0x9F4), 1).empty());
    EXPECT_TRUE(scriptbus::Writes(kPhys, McAddress(0xA0C), 1).empty());
    // Preserved DRAM is not waited on and step 24 is skipped.
    EXPECT_EQ(scriptbus::Reads(kPhys, McAddress(0x1F0)), 0u);
}

TEST_F(EntryDriver, Revision0ResetsOnceForPreservedDramWithoutAnEngineShare) {
    scriptbus::Script(kPhys, McAddress(0xF14), {0x100});
    scriptbus::Script(kPhys, McAddress(0xA0C), {0x0001});
    MemConfig config = {};
    DriverRun run = RunDriver(&config);
    ASSERT_TRUE(run.reason.has_value());
    EXPECT_EQ(*run.reason, kStopReset | 0x06u);
    EXPECT_EQ(scriptbus::Writes(kPhys, McAddress(0xC20), 1), std::vector<uint32_t>{0x01});
    EXPECT_EQ(scriptbus::Writes(kPort, PORT_RESET, 1), std::vector<uint32_t>{0x06});
    EXPECT_EQ(PostCodes().back(), 0x37u);

    // A later revision never resets here and never touches 0xC20.
    SetUp();
    scriptbus::Script(kPhys, McAddress(0xF14), {0x100});
    scriptbus::Script(kPhys, McAddress(0xA0C), {0x0001});
    scriptbus::Script(kPhys, kHostBridge + kPciRevisionId, {1});
    config = {};
    run = RunDriver(&config);
    EXPECT_FALSE(run.reason.has_value());
    EXPECT_EQ(scriptbus::Reads(kPhys, McAddress(0xC20)), 0u);
    EXPECT_TRUE(scriptbus::Writes(kPhys, McAddress(0xC20), 1).empty());
}

TEST_F(EntryDriver, EngineShareBracketsTheHandshakeWithTheHpetAndPutsItBack) {
    scriptbus::Script(kPhys, HPET_DECODE, {0x12345679});
    scriptbus::Script(kPhys, HPET_GENERAL_CONFIG, {0x00000000});
    MemConfig config = {};
    config.meMemSizeMb = 4;
    config.meHoldsMemory = 1;  // no configuration copy
    DriverRun run = RunDriver(&config);
    ASSERT_FALSE(run.reason.has_value());
    EXPECT_EQ(scriptbus::Writes(kPhys, HPET_DECODE, 4),
              (std::vector<uint32_t>{0x123456F8, 0x12345679}));
    EXPECT_EQ(scriptbus::Writes(kPhys, HPET_GENERAL_CONFIG, 4), (std::vector<uint32_t>{1, 0}));
    // The engine never got ready: the handshake only says so.
    std::vector<uint32_t> codes = PostCodes();
    ASSERT_GE(codes.size(), 3u);
    EXPECT_EQ(std::vector<uint32_t>(codes.end() - 3, codes.end()),
              (std::vector<uint32_t>{0x4E, 0x4A, 0x45}));
    EXPECT_EQ(run.output.retained, 1);
}

}  // namespace
