// Reading SPD over the board's SMBus host and EEPROMs: the shape of each
// byte-data read, the revision-0 re-reads of zero bytes, an SMBus error
// part-way through a slot, and the slots the platform does not fit.
#include <algorithm>

#include "tests/corvex_board/board_boot.h"

namespace cvxboard {
namespace {

const uint32_t kSmbusHostConfig = Cfg(31, 3, 0x40);

struct Started {
    uint32_t address;  // the target register: 8-bit address with the read bit
    uint32_t byte;
    bool operator==(const Started& o) const { return address == o.address && byte == o.byte; }
};

// The transactions started (control written with the byte-data read).
std::vector<Started> Transactions(const Boot& boot) {
    std::vector<Started> started;
    uint32_t command = 0, address = 0;
    for (const harness::Access& a : boot.accesses()) {
        if (!a.write || a.space != Space::Port) {
            continue;
        }
        if (a.address == 0x503) {
            command = a.value;
        } else if (a.address == 0x504) {
            address = a.value;
        } else if (a.address == 0x502 && a.value == 0x48) {
            started.push_back({address, command});
        }
    }
    return started;
}

std::vector<Started> Bytes(uint32_t address, uint32_t from, uint32_t to) {
    std::vector<Started> started;
    for (uint32_t b = from; b <= to; ++b) {
        started.push_back({address, b});
    }
    return started;
}

size_t Count(const std::vector<Started>& started, uint32_t address) {
    return static_cast<size_t>(std::count_if(
        started.begin(), started.end(), [&](const Started& s) { return s.address == address; }));
}

using SpdRead = BoardTest;

TEST_F(SpdRead, EachByteIsOneByteDataReadAndAbsentDevicesLeaveTheirSlotsEmpty) {
    const Spd spd = ShippedSpd();
    json board =
        Patched(WithDimms(ShippedBoard("default"), {{0, spd}}),
                {{"pci", {{"0:0.0", {{"0xE9", "0x00"}}}, {"0:1F.3", {{"0x40", "0x21"}}}}}});
    auto b = Open(board);
    ASSERT_TRUE(b);
    Boot boot = Run(*b, {}, {}, ReadSpdOnly);
    ASSERT_EQ(boot.outcome(), harness::Outcome::Returned);

    EXPECT_EQ(g_spd.slot[0].valid, 1);
    EXPECT_TRUE(std::equal(g_spd.slot[0].spd, g_spd.slot[0].spd + 48, spd.begin()));
    std::vector<Started> expected = Bytes(0xA1, 0, 47);
    // Nobody answers byte 0 of the empty slots, so each is given up at once.
    for (uint32_t address : {0xA3u, 0xA5u, 0xA7u}) {
        expected.push_back({address, 0});
    }
    EXPECT_TRUE(Transactions(boot) == expected);
    for (int slot = 1; slot < 4; ++slot) {
        EXPECT_EQ(g_spd.slot[slot].valid, 0) << "slot " << slot;
    }
    // The SMBus function's bit 3 is set before each slot, keeping the rest.
    EXPECT_EQ(boot.Writes(Space::Physical, kSmbusHostConfig, 1), std::vector<uint32_t>(4, 0x29));

    // Byte 5: clear the status, command, address with the read bit, start;
    // poll while the host is busy until it is done, then the data.
    size_t at = 0;
    for (size_t i = 0, starts = 0; i < boot.accesses().size(); ++i) {
        const harness::Access& a = boot.accesses()[i];
        if (a.write && a.space == Space::Port && a.address == 0x500 && starts++ == 5) {
            at = i;
            break;
        }
    }
    const std::vector<Step> byte5 = {
        IoW(0x500, 0x1E),
        IoW(0x503, 0x05),
        IoW(0x504, 0xA1),
        IoW(0x502, 0x48),
        Poll(IoR(0x500, 0x01, 0x1F)),
        IoR(0x500, 0x02, 0x1E),
        IoR(0x505, spd[5]),
    };
    EXPECT_TRUE(MatchesSteps(boot.accesses(), at, byte5, false));
}

TEST_F(SpdRead, RevisionZeroRereadsAZeroByteUpToEightReadsInAll) {
    const Spd spd = ShippedSpd();
    const size_t zeros = static_cast<size_t>(std::count(spd.begin(), spd.begin() + 48, 0));
    ASSERT_GT(zeros, 0u);
    struct Case {
        uint8_t lpcRevision;
        unsigned spuriousZeros;  // reads of the data port that give 0 after each transaction
        size_t readsOfNonZero;   // data reads per byte that is not 0
        size_t readsOfZero;
        bool intact;
    };
    const Case cases[] = {
        {0, 0, 1, 8, true},   // a real 0 costs eight reads
        {0, 3, 4, 8, true},   // a late latch is read again until the value shows
        {0, 7, 8, 8, true},   // the eighth read still finds it
        {0, 8, 8, 8, false},  // eight zeros in a row are taken as 0
        {2, 1, 1, 1, false},  // later revisions read each byte once
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "revision " << int(c.lpcRevision) << ", "
                                          << c.spuriousZeros << " spurious zeros");
        json board =
            Patched(ShippedBoard("default"), {{"pci", {{"0:1F.0", {{"0x08", c.lpcRevision}}}}},
                                              {"smbus", {{"spuriousZeroReads", c.spuriousZeros}}}});
        auto b = Open(board);
        ASSERT_TRUE(b);
        Boot boot = Run(*b, {}, {}, ReadSpdOnly);
        ASSERT_EQ(boot.outcome(), harness::Outcome::Returned);
        // Slot 2 is fitted but empty: it ends at byte 0 without data.
        EXPECT_EQ(boot.Reads(Space::Port, 0x505),
                  c.readsOfNonZero * (48 - zeros) + c.readsOfZero * zeros);
        EXPECT_EQ(g_spd.slot[0].valid, 1);
        const bool same = std::equal(g_spd.slot[0].spd, g_spd.slot[0].spd + 48, spd.begin());
        EXPECT_EQ(same, c.intact);
        if (!c.intact) {
            EXPECT_TRUE(std::all_of(g_spd.slot[0].spd, g_spd.slot[0].spd + 48,
                                    [](uint8_t v) { return v == 0; }));
        }
    }
}

TEST_F(SpdRead, AnSmbusErrorPartWayThroughASlotLeavesItEmpty) {
    const Spd spd = ShippedSpd();
    for (const char* status : {"device", "bus", "failed"}) {
        SCOPED_TRACE(status);
        json board = WithDimms(ShippedBoard("two-dimm"), {{0, spd}, {2, spd}});
        board["dimms"][0]["errors"] = {{{"byte", 20}, {"status", status}}};
        auto b = Open(board);
        ASSERT_TRUE(b);
        Boot read = Run(*b, {}, {}, ReadSpdOnly);
        ASSERT_EQ(read.outcome(), harness::Outcome::Returned);
        EXPECT_EQ(g_spd.slot[0].valid, 0);
        // The bytes before the error stay, nothing after it is read.
        EXPECT_TRUE(std::equal(g_spd.slot[0].spd, g_spd.slot[0].spd + 20, spd.begin()));
        EXPECT_TRUE(std::all_of(g_spd.slot[0].spd + 20, g_spd.slot[0].spd + 48,
                                [](uint8_t v) { return v == 0; }));
        std::vector<Started> started = Transactions(read);
        EXPECT_TRUE(std::vector<Started>(started.begin(), started.begin() + 21) ==
                    Bytes(0xA1, 0, 20));
        EXPECT_EQ(Count(started, 0xA1), 21u);
        EXPECT_EQ(g_spd.slot[2].valid, 1);

        // The boot goes on with the DIMM that was read: channel B only.
        b->PlatformReset();
        Boot boot = Run(*b);
        ASSERT_EQ(boot.outcome(), harness::Outcome::Returned);
        EXPECT_EQ((boot.result.output.savedConfig[0] >> 16) & 0xFF, 0x10u);
    }

    // When it was the only DIMM, nothing is left to boot from.
    json alone = WithDimms(ShippedBoard("default"), {{0, spd}});
    alone["dimms"][0]["errors"] = {{{"byte", 20}, {"status", "device"}}};
    auto b = Open(alone);
    ASSERT_TRUE(b);
    Boot boot = Run(*b);
    EXPECT_EQ(boot.outcome(), harness::Outcome::Fatal);
    EXPECT_EQ(boot.code(), 0xE8u);
    EXPECT_EQ(boot.post.back(), 0xEEE8u);
}

TEST_F(SpdRead, ATransientErrorCostsTheSlotForThatBootOnly) {
    const Spd spd = ShippedSpd();
    json board = WithDimms(ShippedBoard("two-dimm"), {{0, spd}, {2, spd}});
    board["dimms"][0]["errors"] = {{{"byte", 7}, {"status", "bus"}, {"times", 1}}};
    auto b = Open(board);
    ASSERT_TRUE(b);
    std::vector<Boot> boots = Sequence(*b, {0, 0});
    ASSERT_EQ(boots[0].outcome(), harness::Outcome::Returned);
    ASSERT_EQ(boots[1].outcome(), harness::Outcome::Returned);
    // No retry within the boot; the next boot reads the slot whole.
    EXPECT_EQ(Count(Transactions(boots[0]), 0xA1), 8u);
    EXPECT_EQ((boots[0].result.output.savedConfig[0] >> 16) & 0xFF, 0x10u);
    EXPECT_EQ((boots[1].result.output.savedConfig[0] >> 16) & 0xFF, 0x11u);
}

TEST_F(SpdRead, SlotsThePlatformDoesNotFitAreNeverRead) {
    struct Case {
        uint8_t slotFitting;  // byte 0xE9 of 0:0.0
        bool fitted[4];
    };
    const Case cases[] = {
        {0x00, {true, true, true, true}},
        {0x10, {true, false, true, false}},  // one slot per channel
        {0x20, {true, true, false, false}},  // no channel B
        {0x30, {true, false, false, false}},
        {0xCF, {true, true, true, true}},  // other bits say nothing about slots
    };
    const Spd spd = ShippedSpd();
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "0xE9 = 0x" << std::hex << int(c.slotFitting));
        json board = WithDimms(ShippedBoard("default"), {{0, spd}, {1, spd}, {2, spd}, {3, spd}});
        board["pci"]["0:0.0"]["0xE9"] = c.slotFitting;
        auto b = Open(board);
        ASSERT_TRUE(b);
        Boot boot = Run(*b, {}, {}, DetectOnly);
        ASSERT_EQ(boot.outcome(), harness::Outcome::Returned);
        const std::vector<Started> started = Transactions(boot);
        size_t fittedCount = 0;
        for (int slot = 0; slot < 4; ++slot) {
            SCOPED_TRACE(::testing::Message() << "slot " << slot);
            EXPECT_EQ(g_spd.slot[slot].valid, c.fitted[slot] ? 1 : 0);
            EXPECT_EQ(Count(started, 0xA1u + 2 * slot), c.fitted[slot] ? 48u : 0u);
            EXPECT_EQ(g_config.rankPresent[2 * slot], c.fitted[slot] ? 1 : 0);
            fittedCount += c.fitted[slot] ? 1 : 0;
        }
        // Read afresh for each slot.
        EXPECT_EQ(boot.Reads(Space::Physical, Cfg(0, 0, 0xE9)), 4u);
        EXPECT_EQ(boot.Writes(Space::Physical, kSmbusHostConfig, 1).size(), fittedCount);
    }
}

}  // namespace
}  // namespace cvxboard
