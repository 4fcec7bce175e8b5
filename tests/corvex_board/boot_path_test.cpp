// Whole boots on the board: the POST sequence of a full detection with one
// and with two DIMMs and the configuration it leaves in CMOS, the boot-mode-1
// boot that takes it from there, a module refused before the driver, and
// the status bytes 0x33..0x38 of the output block.
#include <algorithm>
#include <cstring>

#include "tests/corvex_board/board_boot.h"

namespace cvxboard {
namespace {

const uint8_t kCmosIndex[16] = {0x85, 0x86, 0x87, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB,
                                0xAC, 0xAD, 0xAE, 0xAF, 0xB0, 0xB1, 0xB2, 0xB3};

// The driver's codes, 0x22 to 0x45, with the handshake's 0x4E after 0x44
// when the ME has a share of memory and answers; an ME that holds its
// memory already skips the rank map, channel enable and JEDEC (0x35, 0x36).
std::vector<uint32_t> DriverCodes(bool handshake, bool engineHolds = false) {
    std::vector<uint32_t> codes;
    for (uint32_t c = 0x22; c <= 0x45; ++c) {
        if ((c & 0xF) > 9 || (engineHolds && (c == 0x35 || c == 0x36))) {
            continue;
        }
        if (c == 0x45 && handshake) {
            codes.push_back(0x4E);
        }
        codes.push_back(c);
    }
    return codes;
}

std::vector<uint32_t> FullDetectionCodes(size_t dimms, bool handshake) {
    std::vector<uint32_t> codes = {0xA0, 0x01, 0x02, 0x03, 0xDD};
    for (size_t i = 0; i < dimms; ++i) {
        codes.insert(codes.end(), {0x04, 0x05, 0x06, 0x07, 0x08});
    }
    codes.insert(codes.end(), {0x09, 0x09, 0x09, 0x10, 0x11});
    for (size_t i = 0; i < dimms; ++i) {
        codes.insert(codes.end(), {0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x20});
    }
    codes.insert(codes.end(), {0x21, 0x21});
    for (uint32_t c : DriverCodes(handshake)) {
        codes.push_back(c);
    }
    return codes;
}

std::vector<uint32_t> BootMode1Codes(bool handshake, bool engineHolds) {
    std::vector<uint32_t> codes = {0xA0, 0x01, 0x02, 0x03};
    for (uint32_t c : DriverCodes(handshake, engineHolds)) {
        codes.push_back(c);
    }
    return codes;
}

size_t SmbusAccesses(const Boot& boot) {
    size_t count = 0;
    for (const harness::Access& a : boot.accesses()) {
        count += a.space == Space::Port && a.address >= 0x500 && a.address < 0x510 ? 1 : 0;
    }
    return count;
}

MemInitOutput Filled(uint8_t value) {
    MemInitOutput output;
    std::memset(&output, value, sizeof output);
    return output;
}

struct BootCase {
    const char* what;
    std::vector<std::pair<int, Spd>> dimms;
    uint32_t words[4];  // the SavedConfig the full detection writes
    uint8_t frequency;
};

std::vector<BootCase> Cases() {
    // A desktop dump run as an SO-DIMM (byte 20 patched to 4) for its timings.
    const Spd udimm = Patched(FixtureSpd("udimm-ddr2-800-2gb.spd"), {{20, 4}});
    return {
        // 6-6-6-18 at DDR2-800 on an 800 bus: tWR 6, tRFC 51 clocks, tRRD,
        // tRTP and tWTR 3, 7.8 us refresh; one rank of code 6, eight-bank mark.
        {"one SO-DIMM", {{0, ShippedSpd()}}, {0x0101322B, 0x33391A5B, 0x86, 0}, 3},
        // The pair meets no latency at DDR2-800 and runs 5-5-5-15 at 667;
        // two ranks on channel B.
        {"two DIMMs", {{0, ShippedSpd()}, {2, udimm}}, {0x2131222A, 0x33371592, 0x86, 0x8686}, 2},
    };
}

class BootPaths : public BoardTest {
  protected:
    // The shipped board with these DIMMs on an 800 MT/s host bus.
    json BoardFor(const BootCase& c) {
        return Patched(
            WithDimms(ShippedBoard(c.dimms.size() > 1 ? "two-dimm" : "default"), c.dimms),
            {{"mc", {{"0xC00", "0x02"}}}});
    }
};

TEST_F(BootPaths, FullDetectionRunsToTheEndAndSavesItsConfiguration) {
    for (const BootCase& c : Cases()) {
        SCOPED_TRACE(c.what);
        auto b = Open(BoardFor(c));
        ASSERT_TRUE(b);
        for (int i = 0; i < 128; ++i) {
            b->SetCmosByte(static_cast<uint8_t>(i), 0xC3);
        }
        Boot boot = Run(*b);
        ASSERT_EQ(boot.outcome(), harness::Outcome::Returned);
        EXPECT_EQ(boot.post, FullDetectionCodes(c.dimms.size(), true));
        const MemInitOutput& out = boot.result.output;
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(out.savedConfig[i], c.words[i]) << "word " << i;
        }
        // Index, then data, for each byte in table order; nothing else in CMOS.
        std::vector<Step> cmos;
        const auto* saved = reinterpret_cast<const uint8_t*>(c.words);
        for (int k = 0; k < 16; ++k) {
            cmos.push_back(IoW(0x72, kCmosIndex[k]));
            cmos.push_back(IoW(0x73, saved[k]));
        }
        std::vector<harness::Access> cmosAccesses;
        for (const harness::Access& a : boot.accesses()) {
            if (a.space == Space::Port && (a.address == 0x72 || a.address == 0x73)) {
                cmosAccesses.push_back(a);
            }
        }
        EXPECT_TRUE(MatchesSteps(cmosAccesses, 0, cmos));
        for (int i = 0; i < 128; ++i) {
            const uint8_t* k = std::find(kCmosIndex, kCmosIndex + 16, 0x80 | i);
            const uint8_t expected = k == kCmosIndex + 16 ? 0xC3 : saved[k - kCmosIndex];
            EXPECT_EQ(b->CmosByte(static_cast<uint8_t>(i)), expected) << "CMOS byte " << i;
        }
        EXPECT_EQ(out.frequency, c.frequency);
        EXPECT_EQ(out.interleaveMode, 0);
        EXPECT_TRUE(boot.Writes(Space::Port, 0x84).empty());
        EXPECT_TRUE(boot.violations.empty());
        EXPECT_EQ(boot.unmapped, 0u);
    }
}

TEST_F(BootPaths, BootMode1AfterAFullDetectionTakesTheSavedCopy) {
    for (const BootCase& c : Cases()) {
        SCOPED_TRACE(c.what);
        auto b = Open(BoardFor(c));
        ASSERT_TRUE(b);
        Boot full = Run(*b);
        ASSERT_EQ(full.outcome(), harness::Outcome::Returned);
        b->PlatformReset();
        MemInitInput input = {};
        input.bootMode = 1;
        Boot restored = Run(*b, input, Filled(0x5A));
        ASSERT_EQ(restored.outcome(), harness::Outcome::Returned);

        EXPECT_EQ(restored.post, BootMode1Codes(true, true));
        EXPECT_EQ(restored.Writes(Space::Port, 0x84), std::vector<uint32_t>{0x21});
        EXPECT_EQ(SmbusAccesses(restored), 0u);
        EXPECT_TRUE(restored.Writes(Space::Port, 0x73).empty()) << "CMOS rewritten";
        EXPECT_EQ(restored.Reads(Space::Port, 0x73), 16u);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(restored.result.input.savedConfigIn[i], c.words[i]) << "word " << i;
        }
        const auto* bytes = reinterpret_cast<const uint8_t*>(&restored.result.output);
        for (size_t i = 0; i <= 0x32; ++i) {
            EXPECT_EQ(bytes[i], 0x5A) << "output byte " << i;
        }
        // The ME kept the memory it was given in the first boot.
        EXPECT_EQ(restored.result.output.retained, 1);
        EXPECT_TRUE(restored.dramCommands.empty());
    }
}

TEST_F(BootPaths, RestoreOnABoardWithoutDimmsRebuildsWhatDetectionFound) {
    for (const BootCase& c : Cases()) {
        SCOPED_TRACE(c.what);
        auto detecting = Open(BoardFor(c));
        ASSERT_TRUE(detecting);
        ASSERT_EQ(Run(*detecting).outcome(), harness::Outcome::Returned);
        detecting->PlatformReset();
        ASSERT_EQ(Run(*detecting, {}, {}, DetectOnly).outcome(), harness::Outcome::Returned);
        const MemConfig detected = g_config;

        // Power cycled with the modules gone; the CMOS battery kept the copy,
        // the ME holds nothing.
        json bare = ShippedBoard("default");
        bare.erase("dimms");
        auto b = Open(bare);
        ASSERT_TRUE(b);
        for (int i = 0; i < 128; ++i) {
            b->SetCmosByte(static_cast<uint8_t>(i), detecting->CmosByte(static_cast<uint8_t>(i)));
        }
        MemInitInput input = {};
        input.bootMode = 1;
        Boot boot = Run(*b, input, Filled(0x5A));
        ASSERT_EQ(boot.outcome(), harness::Outcome::Returned);
        EXPECT_EQ(boot.post, BootMode1Codes(true, false));
        EXPECT_EQ(boot.result.output.retained, 0);
        EXPECT_EQ(SmbusAccesses(boot), 0u);
        EXPECT_TRUE(boot.dramCommands.empty()) << "no JEDEC sequence in boot mode 1";

        b->PlatformReset();
        ASSERT_EQ(Run(*b, input, {}, RestoreOnly).outcome(), harness::Outcome::Returned);
        const MemConfig& restored = g_config;
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

TEST_F(BootPaths, ARefusedModuleStopsTheBootBeforeTheDriverAndLeavesCmosAlone) {
    json board = WithDimms(ShippedBoard("default"),
                           {{0, ShippedSpd()}, {1, FixtureSpd("udimm-transcend-jm667qlj-1g.spd")}});
    board["pci"]["0:0.0"]["0xE9"] = "0x00";  // both slots of channel A fitted
    auto b = Open(board);
    ASSERT_TRUE(b);
    for (int i = 0; i < 128; ++i) {
        b->SetCmosByte(static_cast<uint8_t>(i), 0xC3);
    }
    Boot boot = Run(*b);
    EXPECT_EQ(boot.outcome(), harness::Outcome::Fatal);
    EXPECT_EQ(boot.code(), 0xE0u);
    EXPECT_EQ(boot.post, (std::vector<uint32_t>{0xA0, 0x01, 0x02, 0x03, 0xDD, 0x04, 0x05, 0x06,
                                                0x07, 0x08, 0x04, 0x05, 0xEEE0}));
    EXPECT_EQ(boot.Writes(Space::Port, 0x80, 2), std::vector<uint32_t>{0xEEE0});
    EXPECT_TRUE(boot.Writes(Space::Port, 0x73).empty());
    for (int i = 0; i < 128; ++i) {
        EXPECT_EQ(b->CmosByte(static_cast<uint8_t>(i)), 0xC3) << "CMOS byte " << i;
    }
    // The fatal stop tells the ME that initialization failed.
    ASSERT_EQ(boot.messages.size(), 2u);
    EXPECT_TRUE(boot.messages[0].toEngine);
    EXPECT_EQ(boot.messages[0].bytes, kFailedDramInitDone);
    EXPECT_FALSE(boot.messages[1].toEngine);
    EXPECT_EQ(boot.messages[1].bytes, (std::vector<uint8_t>{0x88, 0, 0}));
}

TEST_F(BootPaths, StatusBytesComeFromTheEngineFunctionAndTheMesReplies) {
    struct Case {
        const char* what;
        json patch;
        uint8_t status[6];  // output bytes 0x33..0x38
        std::vector<std::vector<uint8_t>> messages;
    };
    const json replies = {{"0x08", {{"status", {"0x12", "0x34"}}}},
                          {"0x0A", {{"status", {"0x5A"}}}}};
    const std::vector<uint8_t> initDone = {0x08, 2, 2, 2, 4, 2, 0xA0, 0xA2, 0xA4, 0xA6};
    const Case cases[] = {
        {"a share for the ME",
         {{"pci", {{"0:3.0", {{"0x40", "0x00000005"}}}}}, {"me", {{"replies", replies}}}},
         {0x0, 0x5, 0, 0x12, 0x34, 1},
         {initDone, {0x88, 0x12, 0x34}}},
        {"the ME holds its memory already",
         {{"mc", {{"0xA30", "0x04000000"}}}, {"me", {{"replies", replies}}}},
         {0x0, 0x0, 1, 0x5A, 0x34, 1},
         {initDone, {0x88, 0x12, 0x34}, {0x0A, 0x01}, {0x8A, 0x5A}}},
        {"an engine error in bits 15:12 cancels the share",
         {{"pci", {{"0:3.0", {{"0x40", "0x0000A003"}}}}}, {"me", {{"replies", replies}}}},
         {0xA, 0x3, 0, 0, 2, 1},
         {}},
        {"no share",
         {{"mc", {{"0xA2E", 0}}}, {"me", {{"replies", replies}}}},
         {0, 0, 0, 0, 2, 1},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto b = Open(Patched(ShippedBoard("default"), c.patch));
        ASSERT_TRUE(b);
        Boot boot = Run(*b, {}, Filled(0xC3));
        ASSERT_EQ(boot.outcome(), harness::Outcome::Returned);
        const auto* bytes = reinterpret_cast<const uint8_t*>(&boot.result.output);
        for (size_t i = 0; i < 6; ++i) {
            EXPECT_EQ(bytes[0x33 + i], c.status[i]) << "output byte 0x" << std::hex << 0x33 + i;
        }
        std::vector<std::vector<uint8_t>> messages;
        for (const memboard::EngineMessage& m : boot.messages) {
            messages.push_back(m.bytes);
        }
        EXPECT_EQ(messages, c.messages);
        if (c.messages.empty()) {
            // Without a handshake the HPET is left alone.
            EXPECT_EQ(boot.Reads(Space::Physical, kHpetDecode), 0u);
            EXPECT_TRUE(boot.Writes(Space::Physical, kHpetConfig).empty());
        }
    }
}

}  // namespace
}  // namespace cvxboard
