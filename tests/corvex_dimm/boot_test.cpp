// Whole boots on real SO-DIMM data: a full detection runs through to the end
// of the driver and leaves its configuration in CMOS, and the boot-mode-1
// boot after it takes the configuration from there without touching SMBus.
#include <gtest/gtest.h>

#include <cstring>

#include "corvex/config/saved_config.h"
#include "tests/corvex_dimm/dimm_bench.h"

namespace dimmtest {
namespace {

const uint8_t kCmosIndex[16] = {0x85, 0x86, 0x87, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB,
                                0xAC, 0xAD, 0xAE, 0xAF, 0xB0, 0xB1, 0xB2, 0xB3};

struct Dimm {
    int slot;
    Spd spd;
};

// The driver's codes of a run that meets no fault.
std::vector<uint32_t> DriverCodes() {
    std::vector<uint32_t> codes;
    for (uint32_t c = 0x22; c <= 0x45; ++c) {
        if ((c & 0xF) <= 9) {
            codes.push_back(c);
        }
    }
    return codes;
}

std::vector<uint32_t> FullDetectionCodes(size_t dimms) {
    std::vector<uint32_t> codes = {0xA0, 0x01, 0x02, 0x03, 0xDD};
    for (size_t i = 0; i < dimms; ++i) {
        codes.insert(codes.end(), {0x04, 0x05, 0x06, 0x07, 0x08});
    }
    codes.insert(codes.end(), {0x09, 0x09, 0x09, 0x10, 0x11});
    for (size_t i = 0; i < dimms; ++i) {
        codes.insert(codes.end(), {0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x20});
    }
    codes.insert(codes.end(), {0x21, 0x21});
    for (uint32_t c : DriverCodes()) {
        codes.push_back(c);
    }
    return codes;
}

size_t SmbusAccesses() {
    size_t count = 0;
    for (const scriptbus::Access& a : scriptbus::Log()) {
        count += (a.space == kHostBusPort && a.address >= 0x500 && a.address <= 0x505) ? 1 : 0;
    }
    return count;
}

struct BootCase {
    const char* what;
    std::vector<Dimm> dimms;
    uint32_t words[4];  // the SavedConfig the full detection writes
    uint8_t frequency;
};

class Boots : public DimmBench {
  protected:
    void PutDimms(const BootCase& c) {
        for (const Dimm& dimm : c.dimms) {
            PutDimm(dimm.slot, dimm.spd);
        }
    }
};

std::vector<BootCase> Cases() {
    return {
        // 6-6-6-18 at DDR2-800 on an 800 bus: tWR 6, tRFC 51 clocks, tRRD,
        // tRTP and tWTR 3, 7.8 us refresh; one rank of code 6, eight-bank mark.
        {"one SO-DIMM", {{0, LoadSpd(kCrucial800)}}, {0x0101322B, 0x33391A5B, 0x86, 0}, 3},
        // With a desktop dump run as an SO-DIMM (byte 20 patched to 4), the
        // pair meets no latency at DDR2-800 and runs 5-5-5-15 at 667; two
        // ranks on channel B.
        {"two DIMMs",
         {{0, LoadSpd(kCrucial800)}, {2, AsSoDimm(kUdimm800)}},
         {0x2131222A, 0x33371592, 0x86, 0x8686},
         2},
    };
}

TEST_F(Boots, FullDetectionRunsToTheEndAndSavesItsConfiguration) {
    for (const BootCase& c : Cases()) {
        SCOPED_TRACE(c.what);
        Reset(Platform{});
        std::memset(cmos.bytes, 0xC3, sizeof cmos.bytes);
        PutDimms(c);
        MemInitInput input = {};
        MemInitOutput output = {};
        Outcome run = Boot(&input, &output);
        ASSERT_FALSE(run.stop.has_value()) << std::hex << *run.stop;
        EXPECT_EQ(run.post, FullDetectionCodes(c.dimms.size()));
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(output.savedConfig[i], c.words[i]) << "word " << i;
        }
        const auto* saved = reinterpret_cast<const uint8_t*>(c.words);
        for (int k = 0; k < 16; ++k) {
            EXPECT_EQ(cmos.bytes[kCmosIndex[k]], saved[k]) << "CMOS byte " << k;
        }
        EXPECT_EQ(scriptbus::Writes(kHostBusPort, 0x73, 1).size(), 16u);
        EXPECT_EQ(output.frequency, c.frequency);
        EXPECT_EQ(output.interleaveMode, 0);
    }
}

TEST_F(Boots, BootMode1RestoresWhatTheFullDetectionSaved) {
    for (const BootCase& c : Cases()) {
        SCOPED_TRACE(c.what);
        Reset(Platform{});
        PutDimms(c);
        MemInitInput input = {};
        MemInitOutput output = {};
        ASSERT_FALSE(Boot(&input, &output).stop.has_value());

        // What detection itself chose, for comparison with the restore.
        Reset(Platform{});
        PutDimms(c);
        ASSERT_FALSE(Detect().stop.has_value());
        const MemConfig detected = config;

        // The next boot, in boot mode 1, with the DIMMs gone from SMBus.
        Reset(Platform{});
        MemInitInput again = {};
        again.bootMode = 1;
        MemInitOutput kept;
        std::memset(&kept, 0x5A, sizeof kept);
        Outcome run = Boot(&again, &kept);
        ASSERT_FALSE(run.stop.has_value()) << std::hex << *run.stop;
        std::vector<uint32_t> expected = {0xA0, 0x01, 0x02, 0x03};
        for (uint32_t code : DriverCodes()) {
            expected.push_back(code);
        }
        EXPECT_EQ(run.post, expected);
        EXPECT_EQ(SmbusAccesses(), 0u);
        EXPECT_TRUE(scriptbus::Writes(kHostBusPort, 0x73, 1).empty()) << "CMOS rewritten";
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(again.savedConfigIn[i], c.words[i]) << "word " << i;
        }
        const auto* bytes = reinterpret_cast<const uint8_t*>(&kept);
        for (size_t i = 0; i <= 0x32; ++i) {
            EXPECT_EQ(bytes[i], 0x5A) << "output byte " << i;
        }

        // The restored record matches the detected one field by field.
        MemConfig restored = {};
        MemInitInput buffer = {};
        ASSERT_FALSE(scriptbus::RunUntilStop([&] { RestoreConfig(&restored, &buffer); }));
        EXPECT_EQ(restored.ddrFreq, detected.ddrFreq);
        EXPECT_EQ(restored.fsbFreq, detected.fsbFreq);
        EXPECT_EQ(restored.casLatency, detected.casLatency);
        EXPECT_EQ(restored.tRcd, detected.tRcd);
        EXPECT_EQ(restored.tRp, detected.tRp);
        EXPECT_EQ(restored.tRas, detected.tRas);
        EXPECT_EQ(restored.tWr, detected.tWr);
        EXPECT_EQ(restored.tRfc, detected.tRfc);
        EXPECT_EQ(restored.tRrd, detected.tRrd);
        EXPECT_EQ(restored.tRtp, detected.tRtp);
        EXPECT_EQ(restored.tWtr, detected.tWtr);
        EXPECT_EQ(restored.fastRefresh, detected.fastRefresh);
        EXPECT_EQ(restored.tckMax533Ok, detected.tckMax533Ok);
        EXPECT_EQ(restored.eccLane, 0);
        EXPECT_EQ(restored.noInterleave, 0);
        EXPECT_EQ(restored.chARankMask, detected.chARankMask);
        EXPECT_EQ(restored.chBRankMask, detected.chBRankMask);
        EXPECT_EQ(restored.chARankCodes, detected.chARankCodes);
        EXPECT_EQ(restored.chBRankCodes, detected.chBRankCodes);
        EXPECT_EQ(restored.chADimmTypes, detected.chADimmTypes);
        EXPECT_EQ(restored.chBDimmTypes, detected.chBDimmTypes);
        for (int r = 0; r < 8; ++r) {
            EXPECT_EQ(restored.rankPresent[r], detected.rankPresent[r]) << "rank " << r;
            EXPECT_EQ(restored.rankRowBits[r],
                      detected.rankPresent[r] ? detected.rankRowBits[r] : 0);
            EXPECT_EQ(restored.rankColBits[r],
                      detected.rankPresent[r] ? detected.rankColBits[r] : 0);
        }
    }
}

TEST_F(Boots, ARefusedModuleStopsTheBootBeforeTheDriverAndLeavesCmosAlone) {
    PutDimm(0, LoadSpd(kCrucial800));
    PutDimm(1, LoadSpd(kUdimmTranscend));  // a desktop module
    std::memset(cmos.bytes, 0xC3, sizeof cmos.bytes);
    MemInitInput input = {};
    MemInitOutput output = {};
    Outcome run = Boot(&input, &output);
    EXPECT_TRUE(run.StoppedWith(0xE0));
    EXPECT_EQ(run.post, (std::vector<uint32_t>{0xA0, 0x01, 0x02, 0x03, 0xDD, 0x04, 0x05, 0x06, 0x07,
                                               0x08, 0x04, 0x05}));
    EXPECT_EQ(scriptbus::Writes(kHostBusPort, 0x80, 2), std::vector<uint32_t>{0xEEE0});
    EXPECT_TRUE(scriptbus::Writes(kHostBusPort, 0x73, 1).empty());
}

}  // namespace
}  // namespace dimmtest
