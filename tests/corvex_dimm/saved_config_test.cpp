// The CMOS copy of the configuration: what SaveConfig writes where, the
// round trip through CMOS, and the copies RestoreConfig refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "corvex/config/saved_config.h"
#include "corvex/platform/platform.h"
#include "tests/corvex_dimm/dimm_bench.h"

namespace dimmtest {
namespace {

const uint8_t kCmosIndex[16] = {0x85, 0x86, 0x87, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB,
                                0xAC, 0xAD, 0xAE, 0xAF, 0xB0, 0xB1, 0xB2, 0xB3};

// Every saved field at a value of its own, eccLane and noInterleave set (only
// a CMOS copy can set them), DIMM types with bits above the saved four.
MemConfig Configured() {
    MemConfig c = {};
    c.ddrFreq = 3;
    c.tckMax533Ok = 1;
    c.fsbFreq = 2;
    c.eccLane = 1;
    c.noInterleave = 1;
    c.fastRefresh = 1;
    c.casLatency = 5;
    c.chARankMask = 0xB;
    c.chBRankMask = 0x4;
    c.chADimmTypes = 0xF9;
    c.chBDimmTypes = 0x36;
    c.tRcd = 6;
    c.tRp = 5;
    c.tRas = 13;
    c.tWr = 11;
    c.tRfc = 45;
    c.tRrd = 7;
    c.tRtp = 9;
    c.tWtr = 12;
    c.chARankCodes = 0x07860302;  // rank 2's 0x86 lies under a clear mask bit
    c.chBRankCodes = 0x00890000;  // code 9 with the eight-bank mark
    c.slotSizeMb[0] = 1024;
    c.slotSizeMb[2] = 512;
    c.slotSizeMb[3] = 256;
    c.meMemSizeMb = 16;
    c.chASizeMb = 1536;
    c.chBSizeMb = 768;
    return c;
}

const uint32_t kConfiguredWords[4] = {0x694B53AB, 0xC97B6F6E, 0x07860302, 0x00890000};

using SavedCopy = DimmBench;

TEST_F(SavedCopy, SaveFillsTheOutputBlockAndWritesSixteenCmosBytesInOrder) {
    MemConfig c = Configured();
    MemInitOutput output;
    std::memset(&output, 0x5A, sizeof output);
    ASSERT_FALSE(scriptbus::RunUntilStop([&] { SaveConfig(&c, &output); }).has_value());

    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(output.savedConfig[i], kConfiguredWords[i]) << "word " << i;
    }
    // Word 0 bits 11:10 and 15 are always 0.
    EXPECT_EQ(output.savedConfig[0] & 0x8C00u, 0u);

    std::vector<std::pair<uint32_t, uint32_t>> cmosWrites;
    for (const scriptbus::Access& a : scriptbus::Log()) {
        if (a.write && a.space == kHostBusPort) {
            ASSERT_EQ(a.width, 1u);
            cmosWrites.push_back({a.address, a.value});
        }
    }
    ASSERT_EQ(cmosWrites.size(), 32u);
    const auto* saved = reinterpret_cast<const uint8_t*>(output.savedConfig);
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(cmosWrites[2 * k], std::make_pair(0x72u, uint32_t{kCmosIndex[k]}))
            << "byte " << k;
        EXPECT_EQ(cmosWrites[2 * k + 1], std::make_pair(0x73u, uint32_t{saved[k]})) << "byte " << k;
    }

    EXPECT_EQ(output.interleaveMode, 1);
    EXPECT_EQ(output.frequency, 3);
    EXPECT_EQ(output.engineMemory, 16);
    EXPECT_EQ(output.slotSizeMb[0], 1024u);
    EXPECT_EQ(output.slotSizeMb[1], 0u);
    EXPECT_EQ(output.slotSizeMb[2], 512u);
    EXPECT_EQ(output.slotSizeMb[3], 256u);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&output);
    for (size_t i = 0x20; i < 0x30; ++i) {
        EXPECT_EQ(bytes[i], 0x5A) << "reserved byte " << i;
    }
    for (size_t i = 0x33; i <= 0x38; ++i) {
        EXPECT_EQ(bytes[i], 0x5A) << "status byte " << i;
    }
}

TEST_F(SavedCopy, EngineMemoryIsDoubledWhenTheChannelsAreOfEqualSize) {
    struct Case {
        uint16_t meMemSizeMb, chASizeMb, chBSizeMb;
        uint8_t reported;
    };
    for (const Case& c : {Case{16, 0, 0, 32}, Case{16, 512, 512, 32}, Case{16, 512, 256, 16},
                          Case{200, 1024, 1024, 144}, Case{0x1FF, 0, 0, 0xFE}, Case{0, 0, 0, 0}}) {
        MemConfig config = Configured();
        config.meMemSizeMb = c.meMemSizeMb;
        config.chASizeMb = c.chASizeMb;
        config.chBSizeMb = c.chBSizeMb;
        MemInitOutput output = {};
        ASSERT_FALSE(scriptbus::RunUntilStop([&] { SaveConfig(&config, &output); }).has_value());
        EXPECT_EQ(output.engineMemory, c.reported)
            << c.meMemSizeMb << " MB, " << c.chASizeMb << "/" << c.chBSizeMb;
    }
}

TEST_F(SavedCopy, RestoreRebuildsTheSavedFieldsAndTheRanksFromTheGeometryTable) {
    MemConfig saved = Configured();
    MemInitOutput output = {};
    ASSERT_FALSE(scriptbus::RunUntilStop([&] { SaveConfig(&saved, &output); }).has_value());
    // What went to CMOS comes back on the next boot; bits that are never
    // written are ignored when they are found set.
    std::vector<uint32_t> written = scriptbus::Writes(kHostBusPort, 0x73, 1);
    ASSERT_EQ(written.size(), 16u);
    uint8_t cmos[16];
    std::copy(written.begin(), written.end(), cmos);
    cmos[1] |= 0x8C;
    Reset(Platform{});
    ScriptCmos(cmos);

    MemConfig restored;
    std::memset(&restored, 0x55, sizeof restored);  // restore must not rely on a cleared record
    MemInitInput input = {};
    input.bootMode = 1;
    ASSERT_FALSE(scriptbus::RunUntilStop([&] { RestoreConfig(&restored, &input); }).has_value());

    EXPECT_EQ(input.savedConfigIn[0], kConfiguredWords[0] | 0x8C00u);
    for (int i = 1; i < 4; ++i) {
        EXPECT_EQ(input.savedConfigIn[i], kConfiguredWords[i]) << "word " << i;
    }
    EXPECT_EQ(scriptbus::Writes(kHostBusPort, 0x72, 1),
              std::vector<uint32_t>(kCmosIndex, kCmosIndex + 16));

    EXPECT_EQ(restored.ddrFreq, saved.ddrFreq);
    EXPECT_EQ(restored.tckMax533Ok, saved.tckMax533Ok);
    EXPECT_EQ(restored.fsbFreq, saved.fsbFreq);
    EXPECT_EQ(restored.eccLane, 1);
    EXPECT_EQ(restored.noInterleave, 1);
    EXPECT_EQ(restored.fastRefresh, saved.fastRefresh);
    EXPECT_EQ(restored.casLatency, saved.casLatency);
    EXPECT_EQ(restored.chARankMask, saved.chARankMask);
    EXPECT_EQ(restored.chBRankMask, saved.chBRankMask);
    EXPECT_EQ(restored.chADimmTypes, 0x9);  // the saved low four bits
    EXPECT_EQ(restored.chBDimmTypes, 0x6);
    EXPECT_EQ(restored.tRcd, saved.tRcd);
    EXPECT_EQ(restored.tRp, saved.tRp);
    EXPECT_EQ(restored.tRas, saved.tRas);
    EXPECT_EQ(restored.tWr, saved.tWr);
    EXPECT_EQ(restored.tRfc, saved.tRfc);
    EXPECT_EQ(restored.tRrd, saved.tRrd);
    EXPECT_EQ(restored.tRtp, saved.tRtp);
    EXPECT_EQ(restored.tWtr, saved.tWtr);
    // The eight-bank mark survives in the code words.
    EXPECT_EQ(restored.chARankCodes, saved.chARankCodes);
    EXPECT_EQ(restored.chBRankCodes, saved.chBRankCodes);

    struct Rank {
        uint8_t present, rows, cols;
    };
    // Codes 2, 3, (absent), 7 on channel A; 9 with its mark on channel B rank 2.
    const Rank expected[8] = {{1, 14, 10}, {1, 13, 10}, {0, 0, 0},   {1, 13, 10},
                              {0, 0, 0},   {0, 0, 0},   {1, 14, 10}, {0, 0, 0}};
    for (int r = 0; r < 8; ++r) {
        EXPECT_EQ(restored.rankPresent[r], expected[r].present) << "rank " << r;
        EXPECT_EQ(restored.rankRowBits[r], expected[r].rows) << "rank " << r;
        EXPECT_EQ(restored.rankColBits[r], expected[r].cols) << "rank " << r;
    }
}

TEST_F(SavedCopy, RestoreRefusesACopyThatWouldIndexPastTheTables) {
    struct Case {
        const char* what;
        int word;
        uint32_t clear, set;
        bool refused;
    };
    const Case cases[] = {
        {"DDR2-533", 0, 0x7, 1, false},
        {"ddrFreq 0 (DDR2-400 is never chosen)", 0, 0x7, 0, true},
        {"ddrFreq 4", 0, 0x7, 4, true},
        {"ddrFreq 7", 0, 0x7, 7, true},
        {"host bus 1066", 0, 0x70, 0x00, false},
        {"fsbFreq 3", 0, 0x70, 0x30, true},
        {"fsbFreq 7", 0, 0x70, 0x70, true},
        {"rank code 10 on channel A", 2, 0xFF00, 0x0A00, true},
        {"rank code 10 with the eight-bank mark", 2, 0xFF00, 0x8A00, true},
        {"rank code 0x7F on channel B", 3, 0xFF0000, 0x7F0000, true},
        {"rank code 0xFF under a clear mask bit", 2, 0xFF0000, 0xFF0000, false},
        {"rank code 9 with the eight-bank mark", 2, 0xFF, 0x89, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reset(Platform{});
        uint32_t words[4];
        std::memcpy(words, kConfiguredWords, sizeof words);
        words[c.word] = (words[c.word] & ~c.clear) | c.set;
        ScriptCmos(reinterpret_cast<const uint8_t*>(words));
        MemConfig config = {};
        MemInitInput input = {};
        const auto stop = scriptbus::RunUntilStop([&] { RestoreConfig(&config, &input); });
        if (c.refused) {
            ASSERT_TRUE(stop.has_value());
            EXPECT_EQ(*stop, kStopFatal | 0xF1u);
            EXPECT_EQ(scriptbus::Writes(kHostBusPort, 0x80, 2), std::vector<uint32_t>{0xEEF1});
        } else {
            EXPECT_FALSE(stop.has_value()) << std::hex << stop.value_or(0);
        }
        // The whole copy is read before it is judged.
        EXPECT_EQ(scriptbus::Reads(kHostBusPort, 0x73), 16u);
        EXPECT_EQ(std::memcmp(input.savedConfigIn, words, sizeof words), 0);
    }
}

}  // namespace
}  // namespace dimmtest
