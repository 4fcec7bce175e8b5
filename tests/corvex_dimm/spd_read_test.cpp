// Reading SPD over the SMBus host: the shape of each byte-data read, the
// revision-0 re-reads of zero bytes, an SMBus error part-way through a slot
// and the slots the platform does not fit.
#include <gtest/gtest.h>

#include <algorithm>

#include "corvex/config/registers.h"
#include "corvex/config/spd_dimms.h"
#include "tests/corvex_dimm/dimm_bench.h"

namespace dimmtest {
namespace {

const uint32_t kPort = kHostBusPort;
const uint32_t kPhys = kHostBusPhysical;
const uint32_t kSmbusHostConfig = PciCfgAddress(0, 31, 3, 0x40);

std::optional<uint32_t> ReadAll(SpdBuffer* spd) {
    return scriptbus::RunUntilStop([&] { ReadAllSpd(spd); });
}

std::vector<int> Counting(int from, int to) {
    std::vector<int> bytes;
    for (int i = from; i <= to; ++i) {
        bytes.push_back(i);
    }
    return bytes;
}

using SpdRead = DimmBench;

TEST_F(SpdRead, EachByteIsOneByteDataReadAndAbsentDevicesLeaveTheirSlotsEmpty) {
    const Spd crucial = LoadSpd(kCrucial800);
    PutDimm(0, crucial);
    smbus.SetBusyPolls(3);
    scriptbus::Script(kPhys, kSmbusHostConfig, {0x21});
    ASSERT_FALSE(ReadAll(&spd).has_value());

    EXPECT_EQ(spd.slot[0].valid, 1);
    EXPECT_TRUE(std::equal(spd.slot[0].spd, spd.slot[0].spd + 48, crucial.begin()));
    EXPECT_EQ(smbus.Started(0xA0), Counting(0, 47));
    for (int slot = 1; slot < 4; ++slot) {
        EXPECT_EQ(spd.slot[slot].valid, 0) << "slot " << slot;
        // Nobody answers byte 0, so the slot is given up at once.
        EXPECT_EQ(smbus.Started(static_cast<uint8_t>(0xA0 + 2 * slot)), std::vector<int>{0});
    }
    // The SMBus function's bit 3 is set before each slot, keeping the rest.
    EXPECT_EQ(scriptbus::Writes(kPhys, kSmbusHostConfig, 1), (std::vector<uint32_t>(4, 0x29)));

    // Byte 5 of slot 0: clear status, command, address with the read bit,
    // start; poll until done (three busy reads first), then the data.
    std::vector<scriptbus::Access> ports;
    for (const scriptbus::Access& a : scriptbus::Log()) {
        if (a.space == kPort && a.address >= 0x500 && a.address <= 0x505) {
            ports.push_back(a);
        }
    }
    const size_t perByte = 4 + 4 + 1;
    ASSERT_GE(ports.size(), 6 * perByte);
    const std::vector<std::pair<bool, uint32_t>> expected = {
        {true, 0x500},  {true, 0x503},  {true, 0x504},  {true, 0x502},  {false, 0x500},
        {false, 0x500}, {false, 0x500}, {false, 0x500}, {false, 0x505},
    };
    for (size_t i = 0; i < perByte; ++i) {
        const scriptbus::Access& a = ports[5 * perByte + i];
        EXPECT_EQ(std::make_pair(a.write, a.address), expected[i]) << "access " << i;
        EXPECT_EQ(a.width, 1u);
    }
    EXPECT_EQ(ports[5 * perByte + 0].value, 0x1Eu);
    EXPECT_EQ(ports[5 * perByte + 1].value, 5u);
    EXPECT_EQ(ports[5 * perByte + 2].value, 0xA1u);
    EXPECT_EQ(ports[5 * perByte + 3].value, 0x48u);
    EXPECT_EQ(ports[5 * perByte + 8].value, crucial[5]);
}

TEST_F(SpdRead, RevisionZeroRereadsAZeroByteUpToEightReadsInAll) {
    const Spd crucial = LoadSpd(kCrucial800);
    const int zeros = static_cast<int>(std::count(crucial.begin(), crucial.begin() + 48, 0));
    ASSERT_GT(zeros, 0);
    struct Case {
        uint8_t lpcRevision;
        int zeroReads;      // transient zeros in front of byte 9 (0x25)
        size_t extraReads;  // data reads beyond one per byte and seven per real 0
        uint8_t byte9;
    };
    const Case cases[] = {
        {0, 0, 0, 0x25},  // every real 0 costs eight reads
        {0, 3, 3, 0x25},  // a flaky 0 is read again until the value shows
        {0, 7, 7, 0x25},  // the eighth read still finds it
        {0, 8, 7, 0x00},  // eight zeros in a row are taken as 0
        {1, 1, 0, 0x00},  // later revisions read each byte once
    };
    for (const Case& c : cases) {
        Platform platform;
        platform.lpcRevision = c.lpcRevision;
        Reset(platform);
        SpdDevice device;
        device.bytes = crucial;
        device.zeroAtByte = 9;
        device.zeroReads = c.zeroReads;
        PutDevice(0, device);
        ASSERT_FALSE(ReadAll(&spd).has_value());
        const size_t rereads = c.lpcRevision == 0 ? 7 * static_cast<size_t>(zeros) : 0;
        // Slots 1..3 are empty and read no data.
        EXPECT_EQ(scriptbus::Reads(kPort, 0x505), 48 + rereads + c.extraReads)
            << "revision " << int(c.lpcRevision) << ", " << c.zeroReads << " zeros";
        EXPECT_EQ(spd.slot[0].spd[9], c.byte9);
        EXPECT_EQ(spd.slot[0].valid, 1);
    }
}

TEST_F(SpdRead, AnSmbusErrorPartWayThroughASlotLeavesItEmpty) {
    const Spd crucial = LoadSpd(kCrucial800);
    SpdDevice failing;
    failing.bytes = crucial;
    failing.failAtByte = 20;
    PutDevice(0, failing);
    PutDimm(2, crucial);
    ASSERT_FALSE(ReadAll(&spd).has_value());
    EXPECT_EQ(spd.slot[0].valid, 0);
    // The bytes before the error stay, nothing after it is read.
    EXPECT_TRUE(std::equal(spd.slot[0].spd, spd.slot[0].spd + 20, crucial.begin()));
    EXPECT_TRUE(
        std::all_of(spd.slot[0].spd + 20, spd.slot[0].spd + 48, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(smbus.Started(0xA0), Counting(0, 20));
    EXPECT_EQ(spd.slot[2].valid, 1);

    // Detection goes on with the DIMM that was read.
    Outcome run = Detect();
    ASSERT_FALSE(run.stop.has_value()) << std::hex << *run.stop;
    EXPECT_EQ(config.chARankMask, 0);
    EXPECT_EQ(config.chBRankMask, 0x1);

    // When it was the only DIMM, nothing is left to boot from.
    Reset(Platform{});
    PutDevice(0, failing);
    EXPECT_TRUE(Detect().StoppedWith(0xE8));
}

TEST_F(SpdRead, SlotsThePlatformDoesNotFitAreNeverRead) {
    struct Case {
        uint8_t slotFitting;
        bool fitted[4];
    };
    const Case cases[] = {
        {0x00, {true, true, true, true}},
        {0x10, {true, false, true, false}},  // one slot per channel
        {0x20, {true, true, false, false}},  // no channel B
        {0x30, {true, false, false, false}},
        {0xCF, {true, true, true, true}},  // other bits say nothing about slots
    };
    const Spd crucial = LoadSpd(kCrucial800);
    for (const Case& c : cases) {
        Platform platform;
        platform.slotFitting = c.slotFitting;
        Reset(platform);
        for (int slot = 0; slot < 4; ++slot) {
            PutDimm(slot, crucial);
        }
        Outcome run = Detect();
        ASSERT_FALSE(run.stop.has_value()) << std::hex << *run.stop;
        size_t fittedCount = 0;
        for (int slot = 0; slot < 4; ++slot) {
            const uint8_t address = static_cast<uint8_t>(0xA0 + 2 * slot);
            SCOPED_TRACE(testing::Message()
                         << "0xE9 = 0x" << std::hex << int(c.slotFitting) << ", slot " << slot);
            EXPECT_EQ(spd.slot[slot].valid, c.fitted[slot] ? 1 : 0);
            EXPECT_EQ(smbus.Started(address).size(), c.fitted[slot] ? 48u : 0u);
            EXPECT_EQ(config.rankPresent[2 * slot], c.fitted[slot] ? 1 : 0);
            fittedCount += c.fitted[slot] ? 1 : 0;
        }
        // Read afresh for each slot.
        EXPECT_EQ(scriptbus::Reads(kPhys, PciCfgAddress(0, 0, 0, 0xE9)), 4u);
        EXPECT_EQ(scriptbus::Writes(kPhys, kSmbusHostConfig, 1).size(), fittedCount);
    }
}

}  // namespace
}  // namespace dimmtest
