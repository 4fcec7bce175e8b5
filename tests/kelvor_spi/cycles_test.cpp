// Software- and hardware-sequenced requests cut into cycles, as the board's
// cycle log and flash image show them; the requests refused before the first
// cycle; the fallback of a locked menu; and the bounded waits, on a stuck
// board and on a plain block of memory that stands in for the registers.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "kelvor/spi/bounded_wait.h"
#include "kelvor/spi/flash_cycles.h"
#include "kelvor/spi/spi_api.h"
#include "kelvor/spi/spi_controller.h"
#include "kelvor/spi/spi_state.h"
#include "kelvor/spi/spi_window.h"
#include "tests/kelvor_spi/board_session.h"

namespace {

using nlohmann::json;
using spitest::BoardSession;
using spitest::Cycle;

const char kImage[] = "ravo-default-flash.bin";
constexpr uint32_t kPatternStart = 0x1000;
constexpr uint32_t kPatternEnd = 0x40000;

uint8_t Pattern(uint32_t address) {
    return static_cast<uint8_t>(address * 7 + (address >> 8));
}

// The shipped board with every region open to the host and the BIOS space
// writable, so that only the cycle rules decide.
json OpenBoard(const char* vscc = "0x00200500") {
    json board = spitest::ShippedBoard();
    board["descriptor"]["masters"]["cpu"] = {{"id", "0x0000"}, {"read", "0xFF"}, {"write", "0xFF"}};
    board["lpc"]["bios_control"] = "0x00000001";
    board["controller"]["vscc"] = vscc;
    return board;
}

// Brings the board up with a pattern from kPatternStart to kPatternEnd and
// erased flash above it.
void BringUpPatterned(BoardSession& session, const json& board) {
    session.Prepare(board);
    session.SeedImage(kImage, [](std::vector<uint8_t>* image) {
        for (uint32_t a = kPatternStart; a < kPatternEnd; ++a) {
            (*image)[a] = Pattern(a);
        }
    });
    ASSERT_EQ(session.BringUp(), 0);
    session.Printed();
}

using Split = std::vector<std::pair<int64_t, uint32_t>>;  // address, bytes

Split SplitOf(const std::vector<Cycle>& cycles) {
    Split split;
    for (const Cycle& cycle : cycles) {
        split.emplace_back(cycle.Address, cycle.Bytes);
    }
    return split;
}

struct SplitCase {
    const char* Name;
    bool Hardware;
    uint32_t Operation;
    uint32_t Address;
    uint32_t Length;
    Split Expected;
};

class CycleSplit : public testing::TestWithParam<SplitCase> {};

TEST_P(CycleSplit, CutsAndMovesTheData) {
    const SplitCase& c = GetParam();
    BoardSession session;
    BringUpPatterned(session, OpenBoard());
    std::vector<uint8_t> data(c.Length);
    for (uint32_t i = 0; i < c.Length; ++i) {
        data[i] = static_cast<uint8_t>(0xA0 + i);
    }
    const FlashDeviceRecord record = SpiController.Components[0];
    const int result = session.Run([&] {
        return c.Hardware ? HwSeqCycle(c.Address, data.data(), c.Length, c.Operation)
                          : SwSeqCycle(c.Address, data.data(), c.Length, c.Operation, record);
    });
    session.Close();
    ASSERT_EQ(result, 0) << session.Printed();
    const char* kind = c.Operation == kCycleRead ? "read" : "program";
    const std::vector<Cycle> cycles = session.CyclesOf(kind);
    EXPECT_EQ(SplitOf(cycles), c.Expected);
    for (const Cycle& cycle : cycles) {
        EXPECT_EQ(cycle.Seq, c.Hardware ? "hw" : "sw");
        EXPECT_EQ(cycle.Outcome, "done");
        EXPECT_EQ(cycle.Prefix, c.Operation == kCycleRead ? -1 : 0x06);
    }
    const std::vector<uint8_t> image = session.Image(kImage);
    if (c.Operation == kCycleRead) {
        EXPECT_EQ(data, std::vector<uint8_t>(image.begin() + c.Address,
                                             image.begin() + c.Address + c.Length));
    } else {
        EXPECT_EQ(
            std::vector<uint8_t>(image.begin() + c.Address, image.begin() + c.Address + c.Length),
            data);
        EXPECT_EQ(image[c.Address - 1], 0xFF);
        EXPECT_EQ(image[c.Address + c.Length], 0xFF);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, CycleSplit,
    testing::Values(SplitCase{"SoftwareReadAcross4K",
                              false,
                              kCycleRead,
                              0xFFF0,
                              100,
                              {{0xFFF0, 16}, {0x10000, 64}, {0x10040, 20}}},
                    SplitCase{"HardwareReadAcross4K",
                              true,
                              kCycleRead,
                              0xFFF0,
                              100,
                              {{0xFFF0, 16}, {0x10000, 64}, {0x10040, 20}}},
                    SplitCase{"SoftwareProgramByGranularity",
                              false,
                              kCycleProgram,
                              0x102200,
                              128,
                              {{0x102200, 64}, {0x102240, 64}}},
                    SplitCase{"HardwareProgramAcross4K",
                              true,
                              kCycleProgram,
                              0x101FFA,
                              10,
                              {{0x101FFA, 6}, {0x102000, 4}}},
                    // Never across a 256-byte page: the part would wrap inside the page.
                    SplitCase{"HardwareProgramAcrossAPage",
                              true,
                              kCycleProgram,
                              0x1020F0,
                              100,
                              {{0x1020F0, 16}, {0x102100, 64}, {0x102140, 20}}},
                    SplitCase{"HardwareProgramEndingOnAPage",
                              true,
                              kCycleProgram,
                              0x1021C0,
                              128,
                              {{0x1021C0, 64}, {0x102200, 64}}}),
    [](const testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.Name); });

struct EraseCase {
    const char* Name;
    bool Hardware;
    const char* Vscc;
    uint32_t Address;
    uint32_t Length;
    int Opcode;
    uint32_t Cycles;
};

class EraseSteps : public testing::TestWithParam<EraseCase> {};

TEST_P(EraseSteps, EraseTheRequestAndNoMore) {
    const EraseCase& c = GetParam();
    BoardSession session;
    BringUpPatterned(session, OpenBoard(c.Vscc));
    const FlashDeviceRecord record = SpiController.Components[0];
    const int result = session.Run([&] {
        return c.Hardware ? HwSeqCycle(c.Address, nullptr, c.Length, kCycleErase)
                          : SwSeqCycle(c.Address, nullptr, c.Length, kCycleErase, record);
    });
    session.Close();
    ASSERT_EQ(result, 0) << session.Printed();
    const std::vector<Cycle> cycles = session.CyclesOf("erase");
    ASSERT_EQ(cycles.size(), c.Cycles);
    const uint32_t step = c.Length / c.Cycles;
    for (uint32_t i = 0; i < c.Cycles; ++i) {
        EXPECT_EQ(cycles[i].Address, c.Address + i * step);
        EXPECT_EQ(cycles[i].Opcode, c.Opcode);
        EXPECT_EQ(cycles[i].Prefix, 0x06);
        EXPECT_EQ(cycles[i].Outcome, "done");
    }
    const std::vector<uint8_t> image = session.Image(kImage);
    EXPECT_EQ(image[c.Address - 1], Pattern(c.Address - 1));
    EXPECT_EQ(image[c.Address + c.Length], Pattern(c.Address + c.Length));
    for (uint32_t a = c.Address; a < c.Address + c.Length; ++a) {
        ASSERT_EQ(image[a], 0xFF) << std::hex << a;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, EraseSteps,
    testing::Values(EraseCase{"SoftwareTwoBlocks", false, "0x00200500", 0x10000, 8192, 0x20, 2},
                    EraseCase{"Hardware4KSteps", true, "0x00200500", 0x10000, 65536, 0x20, 16},
                    EraseCase{"Hardware64KStep", true, "0x00D80700", 0x10000, 65536, 0xD8, 1}),
    [](const testing::TestParamInfo<EraseCase>& info) { return std::string(info.param.Name); });

// Requests no cycle loop could serve without overrunning the data buffer,
// erasing outside the request or never ending: refused before any cycle.
struct Refusal {
    const char* Name;
    const char* Vscc;
    std::function<int(FlashDeviceRecord*)> Call;  // may change the record first
    const char* Message;
};

class RefusedUpFront : public testing::TestWithParam<Refusal> {};

TEST_P(RefusedUpFront, BeforeAnyCycle) {
    const Refusal& c = GetParam();
    BoardSession session;
    session.Prepare(OpenBoard(c.Vscc));
    ASSERT_EQ(session.BringUp(), 0);
    session.Printed();
    FlashDeviceRecord record = SpiController.Components[0];
    EXPECT_EQ(session.Run([&] { return c.Call(&record); }), 1);
    session.Close();
    EXPECT_EQ(session.Printed(), c.Message);
    for (const char* kind : {"read", "program", "erase", "chiperase"}) {
        EXPECT_TRUE(session.CyclesOf(kind).empty()) << kind;
    }
}

uint8_t gData[256];

int SwProgram(FlashDeviceRecord* record, uint8_t granularity) {
    record->WriteGranularity = granularity;
    return SwSeqCycle(0x100000, gData, 128, kCycleProgram, *record);
}

int SwErase(FlashDeviceRecord* record, uint32_t blockSize, uint32_t address, uint32_t length) {
    record->EraseBlockSize = blockSize;
    return SwSeqCycle(address, nullptr, length, kCycleErase, *record);
}

const char kGranularityMessage[] =
    "\n>>> Error: The write granularity of %u bytes given for the flash part cannot be used! It "
    "must be a power of two from 1 to 64.\n\n";

std::string Granularity(unsigned value) {
    char text[200];
    std::snprintf(text, sizeof text, kGranularityMessage, value);
    return text;
}

const std::string kGranularity0 = Granularity(0);
const std::string kGranularity48 = Granularity(48);
const std::string kGranularity128 = Granularity(128);

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedUpFront,
    testing::Values(
        Refusal{"WriteGranularityZero", "0x00200500",
                [](FlashDeviceRecord* r) { return SwProgram(r, 0); }, kGranularity0.c_str()},
        Refusal{"WriteGranularityNotAPowerOfTwo", "0x00200500",
                [](FlashDeviceRecord* r) { return SwProgram(r, 48); }, kGranularity48.c_str()},
        Refusal{"WriteGranularityAboveTheBuffer", "0x00200500",
                [](FlashDeviceRecord* r) { return SwProgram(r, 128); }, kGranularity128.c_str()},
        Refusal{"EraseBlockSizeZero", "0x00200500",
                [](FlashDeviceRecord* r) { return SwErase(r, 0, 0x100000, 0x1000); },
                "\n>>> Error: The block erase size of 0 bytes cannot be used! It must be a power "
                "of two.\n\n"},
        Refusal{"EraseBlockSizeNotAPowerOfTwo", "0x00200500",
                [](FlashDeviceRecord* r) { return SwErase(r, 3000, 0x100000, 6000); },
                "\n>>> Error: The block erase size of 3000 bytes cannot be used! It must be a "
                "power of two.\n\n"},
        Refusal{"EraseLengthNotWholeBlocks", "0x00200500",
                [](FlashDeviceRecord* r) { return SwErase(r, 4096, 0x100000, 6000); },
                "\n>>> Error: The erase length of 6000 bytes is not a multiple of the block "
                "erase size (4096 bytes)!\n\n"},
        Refusal{"EraseAddressInsideABlock", "0x00200500",
                [](FlashDeviceRecord* r) { return SwErase(r, 4096, 0x100800, 4096); },
                "\n>>> Error: The erase address 0x00100800 is not a multiple of the block erase "
                "size (4096 bytes)!\n\n"},
        Refusal{"EraseWithoutAnEraseCommand", "0x00200500",
                [](FlashDeviceRecord* r) {
                    r->EraseOpcode = -1;
                    return SwSeqCycle(0x100000, nullptr, 4096, kCycleErase, *r);
                },
                "\n>>> Error: The flash device does not support an erase command!\n\n"},
        Refusal{"HardwareEraseShorterThanTheVsccStep", "0x00D80700",
                [](FlashDeviceRecord*) { return HwSeqCycle(0x100000, nullptr, 4096, kCycleErase); },
                "\n>>> Error: The erase length of 4096 bytes is not a multiple of the VSCC erase "
                "step (65536 bytes)!\n\n"},
        Refusal{"HardwareEraseWithReservedBes", "0x00200600",
                [](FlashDeviceRecord*) { return HwSeqCycle(0x100000, nullptr, 4096, kCycleErase); },
                "\n>>> Error: Unrecognized BERASE value in the HSFSTS register! value = 2\n\n"},
        // Only traced: the caller's message is all the user sees.
        Refusal{"HardwareEraseWithInvalidVscc", "0xFFFFFFFF",
                [](FlashDeviceRecord*) { return HwSeqCycle(0x100000, nullptr, 4096, kCycleErase); },
                ""},
        Refusal{"ReadPastTheAddressSpace", "0x00200500",
                [](FlashDeviceRecord* r) {
                    return SwSeqCycle(0xFFFFFFF0u, gData, 0x20, kCycleRead, *r);
                },
                "\n>>> Error: The flash range of 32 bytes at 0xFFFFFFF0 runs past the end of the "
                "address space!\n\n"}),
    [](const testing::TestParamInfo<Refusal>& info) { return std::string(info.param.Name); });

TEST(HardwareCycles, InvalidVsccStopsErasesOnly) {
    BoardSession session;
    BringUpPatterned(session, OpenBoard("0xFFFFFFFF"));
    uint8_t data[16];
    std::memset(data, 0x5A, sizeof data);
    EXPECT_EQ(session.Run([&] { return HwSeqCycle(0x100000, data, 16, kCycleProgram); }), 0);
    EXPECT_EQ(session.Run([&] { return HwSeqCycle(0x1000, data, 16, kCycleRead); }), 0);
    EXPECT_EQ(data[0], Pattern(0x1000));
    EXPECT_EQ(session.Run([&] { return HwSeqCycle(0x100000, nullptr, 4096, kCycleErase); }), 1);
    session.Close();
    EXPECT_EQ(session.Image(kImage)[0x100000], 0x5A);
    EXPECT_TRUE(session.CyclesOf("erase").empty());
}

// A locked menu without the read opcode hands reads to hardware sequencing,
// or, with no descriptor, refuses them.
TEST(SoftwareCycles, LockedMenuWithoutReadFallsBack) {
    for (const bool descriptor : {true, false}) {
        SCOPED_TRACE(descriptor ? "with descriptor" : "without descriptor");
        BoardSession session;
        json board = OpenBoard();
        board["controller"]["locked"] = true;
        board["controller"]["opmenu"] = {"0x02", "0x9F", "0x01", "0x20",
                                         "0x00", "0x00", "0x00", "0x00"};
        board["controller"]["optype"] = "0x00D3";
        if (!descriptor) {
            board.erase("descriptor");
        }
        session.Prepare(board);
        ASSERT_EQ(session.BringUp(), 0);
        ASSERT_EQ(SpiController.SequencingMode, kSoftwareSequencing);
        EXPECT_EQ(SpiController.OpMenuSlots.ReadSlot, -1);
        session.Printed();
        uint8_t data[8] = {};
        const int result = session.Run([&] { return SpiReadFlash(0x1000, data, sizeof data); });
        session.Close();
        const std::vector<Cycle> reads = session.CyclesOf("read");
        if (descriptor) {
            EXPECT_EQ(result, 0);
            ASSERT_EQ(reads.size(), 1u);
            EXPECT_EQ(reads[0].Seq, "hw");
            EXPECT_EQ(session.Printed(), "");
        } else {
            EXPECT_EQ(result, 4);
            EXPECT_TRUE(reads.empty());
            EXPECT_EQ(session.Printed(),
                      "\n>>> Error: The SPI registers are write-protected, no valid flash "
                      "descriptor was found, and the OPMENU register does not contain the correct "
                      "command! Cannot access the flash!\n\n");
        }
    }
}

// A locked PREOP that holds the write enable only in slot 1: the atomic
// prefix must come from there, or every program is silently dropped by the
// part while the controller reports it done.
TEST(SoftwareCycles, WriteEnableFromTheSlotThatHoldsIt) {
    BoardSession session;
    json board = OpenBoard();
    board["controller"]["locked"] = true;
    board["controller"]["preop"] = {"0x50", "0x06"};
    session.Prepare(board);
    ASSERT_EQ(session.BringUp(), 0);
    EXPECT_EQ(SpiController.OpMenuSlots.WriteEnablePrefixSlot, 1);
    uint8_t data[64];
    std::memset(data, 0x3C, sizeof data);
    EXPECT_EQ(session.Run([&] { return SpiWriteFlash(0x100000, data, sizeof data); }), 0);
    session.Close();
    const std::vector<Cycle> programs = session.CyclesOf("program");
    ASSERT_EQ(programs.size(), 1u);
    EXPECT_EQ(programs[0].Prefix, 0x06);
    EXPECT_EQ(programs[0].Chip, "ok");
    EXPECT_EQ(session.Image(kImage)[0x100000], 0x3C);
}

// The registers as a plain block of memory: status bits the test sets stay
// set (kelvor's clearing writes only set more), so a finished cycle can show
// AEL and FCERR together, which the board never reports.
class PlainRegisters : public testing::Test {
  protected:
    void SetUp() override {
        spitest::ResetKelvor();
        std::memset(block_, 0, sizeof block_);
        SpiController.RegisterBase = block_;
        WaitClock = {1, 1000, 1};
    }
    void TearDown() override { spitest::ResetKelvor(); }

    std::string Printed(const std::function<int()>& call, int* result) {
        testing::internal::CaptureStdout();
        *result = call();
        return testing::internal::GetCapturedStdout();
    }

    alignas(4) uint8_t block_[256];
};

TEST_F(PlainRegisters, AelIsNamedBeforeFcerr) {
    const FlashDeviceRecord record = {"PART", 0, 0, 0x400000, 4096, 0x20, 64, 0xC7};
    uint8_t data[4];
    int result = 0;
    block_[kRegSsfsts] = kSsfstsFdone | kSsfstsAel | kSsfstsFcerr;
    EXPECT_EQ(Printed([&] { return SwSeqCycle(0, data, 4, kCycleRead, record); }, &result),
              "\n>>> SSFSTS[04] (AEL) = 1\n");
    EXPECT_EQ(result, 1);
    block_[kRegSsfsts] = 0;
    block_[kRegHsfsts] = kHsfstsFdone | kHsfstsAel | kHsfstsFcerr;
    EXPECT_EQ(Printed([&] { return HwSeqCycle(0, data, 4, kCycleRead); }, &result),
              "\n>>> HSFSTS[02] (AEL) = 1\n");
}

// With the whole-second clock a wait fails once its limit is exceeded: the
// 2000 ms wait at 3 seconds, the chip-erase wait at 31.
TEST_F(PlainRegisters, WaitBoundsInWholeSeconds) {
    block_[kRegSsfsts] = kSsfstsScip;
    for (const uint32_t limit : {kWaitLimitMs, kChipEraseWaitLimitMs}) {
        WaitClock = {1, 1000, 1};
        EXPECT_EQ(WaitWhileStatusSet(kRegSsfsts, 8, kSsfstsScip, limit, nullptr), 1);
        const int64_t lastReading = WaitClock.Seconds - 1;
        EXPECT_EQ((lastReading - 1000) * 1000, static_cast<int64_t>(limit) + 1000);
    }
    // A clock that stands still never times out a wait that ends.
    block_[kRegSsfsts] = 0;
    WaitClock = {1, 1000, 0};
    EXPECT_EQ(WaitWhileStatusSet(kRegSsfsts, 8, kSsfstsScip, kWaitLimitMs, nullptr), 0);
}

json StuckAfterBringUp() {
    json board = OpenBoard();
    // Bring-up starts five cycles on this board: one read-ID on chip select
    // 0, three on chip select 1, the write-status command.
    board["faults"]["scip_stuck"] = {{"after_cycles", 5}};
    return board;
}

TEST(StuckController, TimesOutThroughTheClockSeam) {
    BoardSession session;
    session.Prepare(StuckAfterBringUp());
    ASSERT_EQ(session.BringUp(), 0);
    session.Printed();
    WaitClock = {1, 5000, 1};
    uint8_t data[16];
    EXPECT_EQ(session.Run([&] { return SpiReadFlash(0x1000, data, sizeof data); }), 4);
    EXPECT_EQ(session.Printed(),
              "\n>>> Error: Timedout waiting for hardware to complete operation!\n\n");
    // The cycle stays in progress: the next request finds the controller busy.
    EXPECT_EQ(session.Run([&] { return SpiReadFlash(0x1000, data, sizeof data); }), 4);
    EXPECT_EQ(session.Printed(),
              "\n>>> Error: Timedout waiting for hardware to become available!\n\n");
    session.Close();
    const std::vector<Cycle> reads = session.CyclesOf("read");
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].Outcome, "stuck");
}

// The chip erase waits 30000 ms for its end, so it gives up at 31 seconds.
TEST(StuckController, ChipEraseWaitsLonger) {
    BoardSession session;
    json board = StuckAfterBringUp();
    board["descriptor"]["masters"]["cpu"] = {{"id", "0x0000"}, {"read", "0xFF"}, {"write", "0xFF"}};
    session.Prepare(board);
    ASSERT_EQ(session.BringUp(), 0);
    session.Printed();
    WaitClock = {1, 5000, 1};
    EXPECT_EQ(session.Run(SpiEraseFlash), 4);
    EXPECT_EQ(session.Printed(),
              "\n>>> Error: Timedout waiting for hardware to complete operation!\n\n");
    // The last reading of the clock was the one 31 seconds after the wait
    // for the end began (the one reading before went to the wait for SCIP).
    EXPECT_EQ(WaitClock.Seconds - 1 - 5000, 1 + 31);
    session.Close();
    ASSERT_EQ(session.CyclesOf("chiperase").size(), 1u);
}

TEST(StuckController, TimesOutOnTheCalendarClock) {
    BoardSession session;
    session.Prepare(StuckAfterBringUp());
    ASSERT_EQ(session.BringUp(), 0);
    uint8_t data[16];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(session.Run([&] { return SpiReadFlash(0x1000, data, sizeof data); }), 4);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GT(seconds, 2.0);
    EXPECT_LT(seconds, 3.5);
}

}  // namespace

namespace {

// The data buffer moves a dword per register access; only a remainder goes
// byte by byte (a register read costs about as much as 1 µs of the 27 µs
// that a 64-byte cycle takes on the SPI bus).
TEST(SoftwareCycles, DataBufferMovesByDwords) {
    const auto registerReads = [](uint32_t bytes) {
        BoardSession session;
        session.Prepare(OpenBoard());
        EXPECT_EQ(session.BringUp(), 0);
        uint8_t data[64];
        const FlashDeviceRecord record = SpiController.Components[0];
        EXPECT_EQ(session.Run([&] { return SwSeqCycle(0x1000, data, bytes, kCycleRead, record); }),
                  0);
        session.Close();
        return session.Totals()["register_reads"].get<int64_t>();
    };
    const int64_t four = registerReads(4);
    EXPECT_EQ(registerReads(64) - four, 15);
    EXPECT_EQ(registerReads(7) - four, 3);
}

TEST(SpiDumpRegisters, NamesEveryField) {
    BoardSession session;
    session.Prepare(spitest::ShippedBoard());
    ASSERT_EQ(session.BringUp(), 0);
    session.Printed();
    session.Run([] {
        SpiDumpRegisters();
        return 0;
    });
    const uintptr_t base = reinterpret_cast<uintptr_t>(SpiController.RegisterBase);
    char expected[1024];
    std::snprintf(expected, sizeof expected,
                  "HSFSTS Address: 0x%08X\nHSFSTS values: FDONE: 0x0, FCERR: 0x0, AEL: 0x0, "
                  "BERASE: 0x1,\n\tSCIP: 0x0, FDOPSS: 0x1, FDV: 0x1 FLOCKDN: 0x0\nFRACC Address: "
                  "0x%08X\nFRACC values: BRRA: 0x0B, BRWA: 0x0A, BMRAG: 0x00, BMWAG: 0x00\nVSCC "
                  "Register Address: 0x%08X\nVSCC values: BES: 0x1\tWSR: 0x0\tEOpCode: "
                  "0x20\tVCL: 0x0\tWG: 0x1\n",
                  static_cast<unsigned>(base + 0x04), static_cast<unsigned>(base + 0x50),
                  static_cast<unsigned>(base + 0xC0));
    EXPECT_EQ(session.Printed(), expected);
}

}  // namespace
