// The flash access API: its result tables on the default board, the range
// and access checks (including the ranges that would wrap at 4 GB), the
// region lookup, the record that governs a request on two chips, and the
// whole-flash erase in its three forms.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "kelvor/spi/spi_api.h"
#include "kelvor/spi/spi_controller.h"
#include "kelvor/spi/spi_state.h"
#include "tests/kelvor_spi/board_session.h"

namespace {

using nlohmann::json;
using spitest::BoardSession;
using spitest::Cycle;

const char kImage[] = "ravo-default-flash.bin";
constexpr uint32_t kFourMb = 4u * 1024 * 1024;

uint8_t gBuffer[0x2000];

json WithFault(json board, const char* kind, const char* sequencing) {
    board["faults"]["cycles"] = {{{"kind", kind}, {"sequencing", sequencing}, {"count", "all"}}};
    return board;
}

// A board on which bring-up chooses hardware sequencing.
json HardwareBoard(json board) {
    board["controller"]["locked"] = true;
    board["controller"]["opmenu"] = {"0x9F", "0x00", "0x00", "0x00",
                                     "0x00", "0x00", "0x00", "0x00"};
    board["controller"]["optype"] = "0x0000";
    board["controller"]["preop"] = {"0x00", "0x00"};
    return board;
}

// One API call on a freshly brought-up board, with its expected result.
struct ApiCase {
    const char* Name;
    std::function<json()> Board;
    std::function<int()> Call;
    int Result;
};

class ApiResults : public testing::TestWithParam<ApiCase> {};

TEST_P(ApiResults, Table) {
    const ApiCase& c = GetParam();
    BoardSession session;
    session.Prepare(c.Board());
    ASSERT_EQ(session.BringUp(), 0);
    EXPECT_EQ(session.Run(c.Call), c.Result);
}

json Default() {
    return spitest::ShippedBoard();
}

json Writable() {
    json board = spitest::ShippedBoard();
    board["lpc"]["bios_control"] = "0x00000001";
    return board;
}

INSTANTIATE_TEST_SUITE_P(
    Reads, ApiResults,
    testing::Values(
        ApiCase{"InTheBiosRegion", Default, [] { return SpiReadFlash(0x200000, gBuffer, 256); }, 0},
        ApiCase{"EndingPastTheFlash", Default,
                [] { return SpiReadFlash(kFourMb - 16, gBuffer, 32); }, 1},
        ApiCase{"WrappingAt4Gb", Default, [] { return SpiReadFlash(0xFFFFFFF0u, gBuffer, 0x20); },
                1},
        ApiCase{"InTheMeRegion", Default, [] { return SpiReadFlash(0x3000, gBuffer, 16); }, 2},
        ApiCase{"SoftwareCycleFails", [] { return WithFault(Default(), "read", "software"); },
                [] { return SpiReadFlash(0x200000, gBuffer, 16); }, 4},
        ApiCase{"HardwareCycleFails",
                [] { return WithFault(HardwareBoard(Default()), "read", "hardware"); },
                [] { return SpiReadFlash(0x200000, gBuffer, 16); }, 3}),
    [](const testing::TestParamInfo<ApiCase>& info) { return std::string(info.param.Name); });

INSTANTIATE_TEST_SUITE_P(
    Writes, ApiResults,
    testing::Values(
        ApiCase{"InTheBiosRegion", Writable, [] { return SpiWriteFlash(0x200000, gBuffer, 128); },
                0},
        ApiCase{"EndingPastTheFlash", Writable,
                [] { return SpiWriteFlash(kFourMb - 64, gBuffer, 128); }, 2},
        ApiCase{"WrappingAt4Gb", Writable, [] { return SpiWriteFlash(0xFFFFFFC0u, gBuffer, 0x80); },
                2},
        // Misaligned in a region the host may not write: the granularity
        // check comes first.
        ApiCase{"MisalignedAddress", Writable, [] { return SpiWriteFlash(0x3020, gBuffer, 64); },
                1},
        ApiCase{"MisalignedLength", Writable, [] { return SpiWriteFlash(0x200000, gBuffer, 65); },
                1},
        ApiCase{"InTheMeRegion", Writable, [] { return SpiWriteFlash(0x3000, gBuffer, 64); }, 3},
        ApiCase{"SoftwareCycleFails", [] { return WithFault(Writable(), "program", "software"); },
                [] { return SpiWriteFlash(0x200000, gBuffer, 64); }, 5},
        ApiCase{"HardwareCycleFails",
                [] { return WithFault(HardwareBoard(Writable()), "program", "hardware"); },
                [] { return SpiWriteFlash(0x200000, gBuffer, 64); }, 4}),
    [](const testing::TestParamInfo<ApiCase>& info) { return std::string(info.param.Name); });

INSTANTIATE_TEST_SUITE_P(
    BlockErases, ApiResults,
    testing::Values(
        ApiCase{"InTheBiosRegion", Writable, [] { return SpiEraseBlock(0x200000); }, 0},
        ApiCase{"InsideABlock", Writable, [] { return SpiEraseBlock(0x200800); }, 1},
        ApiCase{"PastTheFlash", Writable, [] { return SpiEraseBlock(kFourMb); }, 2},
        ApiCase{"WrappingAt4Gb", Writable, [] { return SpiEraseBlock(0xFFFFF000u); }, 2},
        ApiCase{"InTheMeRegion", Writable, [] { return SpiEraseBlock(0x3000); }, 4},
        ApiCase{"HardwareCycleFails",
                [] { return WithFault(HardwareBoard(Writable()), "erase", "hardware"); },
                [] { return SpiEraseBlock(0x200000); }, 5},
        ApiCase{"SoftwareCycleFails", [] { return WithFault(Writable(), "erase", "software"); },
                [] { return SpiEraseBlock(0x200000); }, 6}),
    [](const testing::TestParamInfo<ApiCase>& info) { return std::string(info.param.Name); });

// Components derived from the descriptor have no erase block size: an erase
// of "block 0" must not report success without erasing anything.
TEST(SpiEraseBlock, RefusesARecordWithoutBlockSize) {
    BoardSession session;
    session.Prepare(HardwareBoard(Writable()));
    ASSERT_EQ(session.BringUp(), 0);
    SpiController.Components[0].EraseBlockSize = 0;
    session.Printed();
    EXPECT_EQ(session.Run([] { return SpiEraseBlock(0x200000); }), 1);
    session.Close();
    EXPECT_EQ(session.Printed(),
              "\n>>> Error: The block erase size of 0 bytes cannot be used! It must be a power of "
              "two.\n\n");
    EXPECT_TRUE(session.CyclesOf("erase").empty());
}

// Without a descriptor reads are not held to the flash size, but writes are:
// past the end of the part the address wraps to its start.
TEST(WithoutDescriptor, WritesStayInsideThePart) {
    BoardSession session;
    json board = Writable();
    board.erase("descriptor");
    session.Prepare(board);
    ASSERT_EQ(session.BringUp(), 0);
    std::memset(gBuffer, 0x11, 64);
    EXPECT_EQ(session.Run([] { return SpiReadFlash(kFourMb, gBuffer, 64); }), 0);
    EXPECT_EQ(session.Run([] { return SpiWriteFlash(kFourMb, gBuffer, 64); }), 2);
    EXPECT_EQ(session.Run([] { return SpiEraseBlock(kFourMb); }), 2);
    session.Close();
    EXPECT_TRUE(session.CyclesOf("program").empty());
    EXPECT_TRUE(session.CyclesOf("erase").empty());
    EXPECT_EQ(session.Image(kImage)[0], 0xFF);
}

struct AccessCase {
    uint32_t Address;
    uint32_t Length;
    int Write;
    int Expected;
};

// The shipped board: Descriptor 0-0xFFF (read), GbE 0x1000-0x2FFF (read,
// write), ME 0x3000-0x1FFFFF (neither), BIOS 0x200000-0x3FFFFF.
TEST(SpiCheckAccess, SamplesEvery4KFromTheStart) {
    BoardSession session;
    session.Prepare(Default());
    ASSERT_EQ(session.BringUp(), 0);
    const AccessCase cases[] = {
        {0x200000, 0, 1, 0},               // no bytes, no region touched
        {0x3000, 0, 1, 0},                 //
        {0x0FFF, 2, 0, 0},                 // samples only 0x0FFF
        {0x2FFF, 2, 1, 0},                 // samples only 0x2FFF (GbE)
        {0x2FFF, 0x1002, 0, 1},            // samples 0x3FFF too (ME)
        {0x0000, 0x1000, 0, 0},            // Descriptor: read
        {0x0000, 0x1000, 1, 1},            //   but not write
        {0x1000, 0x2000, 1, 0},            // GbE
        {0x3000, 0x1000, 0, 1},            // ME
        {0x200000, 0x200000, 1, 0},        // BIOS, always
        {0x3FF000, 0x1000, 0, 0},          // the last unit
        {0x400000, 0x1000, 0, 1},          // in no region
        {0xFFFFF000u, 0x2000, 0, 1},       // near 4 GB: refused, not wrapped
        {0xFFFFFFFFu, 0xFFFFFFFFu, 1, 1},  //
    };
    for (const AccessCase& c : cases) {
        EXPECT_EQ(SpiCheckAccess(c.Address, c.Length, c.Write), c.Expected)
            << std::hex << c.Address << " " << c.Length << " " << c.Write;
    }
}

TEST(SpiCheckAccess, BiosRegionEndingBelowTheFlashEnd) {
    BoardSession session;
    json board = Default();
    board["descriptor"]["regions"] = {{"descriptor", {{"base", "0x0"}, {"limit", "0xFFF"}}},
                                      {"me", {{"base", "0x1000"}, {"limit", "0x17FFFF"}}},
                                      {"bios", {{"base", "0x180000"}, {"limit", "0x1FFFFF"}}}};
    session.Prepare(board);
    ASSERT_EQ(session.BringUp(), 0);
    EXPECT_EQ(SpiCheckAccess(0x1FF000, 0x1000, 0), 0);
    EXPECT_EQ(SpiCheckAccess(0x200000, 0x1000, 0), 1);
    uint32_t start = 0;
    int32_t length = 0;
    EXPECT_EQ(SpiGetRegion(kRegionBios, &start, &length), 0);
    EXPECT_EQ(start, 0x180000u);
    EXPECT_EQ(length, 0x80000);
    EXPECT_EQ(SpiGetRegion(kRegionGbe, &start, &length), 2);  // absent: limit below base
}

TEST(SpiCheckAccess, EverythingAllowedWithoutFdopss) {
    BoardSession session;
    json board = Default();
    board["controller"]["fdopss"] = false;
    session.Prepare(board);
    ASSERT_EQ(session.BringUp(), 0);
    EXPECT_EQ(SpiCheckAccess(0x3000, 0x1000, 1), 0);
    EXPECT_EQ(SpiCheckAccess(0x400000, 0x1000, 1), 0);
}

TEST(SpiGetRegion, RegionsOfTheShippedBoard) {
    BoardSession session;
    session.Prepare(Default());
    ASSERT_EQ(session.BringUp(), 0);
    const struct {
        uint32_t Selector;
        uint32_t Start;
        int32_t Length;
    } regions[] = {{kRegionDescriptor, 0, 0x1000},
                   {kRegionBios, 0x200000, 0x200000},
                   {kRegionMe, 0x3000, 0x1FD000},
                   {kRegionGbe, 0x1000, 0x2000}};
    for (const auto& region : regions) {
        uint32_t start = 0xDEAD;
        int32_t length = -1;
        EXPECT_EQ(SpiGetRegion(region.Selector, &start, &length), 0);
        EXPECT_EQ(start, region.Start);
        EXPECT_EQ(length, region.Length);
    }
}

TEST(SpiGetRegion, NeedsAValidDescriptor) {
    BoardSession session;
    json board = Default();
    board.erase("descriptor");
    session.Prepare(board);
    ASSERT_EQ(session.BringUp(), 0);
    uint32_t start = 0;
    int32_t length = -1;
    EXPECT_EQ(SpiGetRegion(kRegionBios, &start, &length), 1);
    EXPECT_EQ(SpiCheckAccess(0x3000, 0x1000, 1), 0);
}

// Two chips, 4 MB and 8 MB, with every address open to the host.
json TwoChips() {
    json board = Writable();
    board["chips"] = {{{"part", "W25X32"}, {"image", "cs0.bin"}},
                      {{"part", "W25X64"}, {"image", "cs1.bin"}}};
    board["controller"]["fdopss"] = false;
    return board;
}

TEST(TwoComponents, BothFoundAndEnabled) {
    BoardSession session;
    session.Prepare(TwoChips());
    ASSERT_EQ(session.BringUp(), 0);
    EXPECT_EQ(SpiController.ComponentCount, 2u);
    EXPECT_EQ(SpiController.TotalFlashSize, 12u * 1024 * 1024);
    session.Close();
    EXPECT_NE(session.Printed().find("\tW25X32\tID:0xEF3016\tSize: 4096KB (32768Kb)\n"
                                     "\tW25X64\tID:0xEF3017\tSize: 8192KB (65536Kb)\n\n"),
              std::string::npos);
    const std::vector<Cycle> enables = session.CyclesOf("writestatus");
    ASSERT_EQ(enables.size(), 2u);
    EXPECT_EQ(enables[0].ChipSelect, 0);
    EXPECT_EQ(enables[1].ChipSelect, 1);
}

// A request is governed by the record of the component its start lies in;
// made visible here by giving the second record a granularity of its own.
TEST(TwoComponents, TheStartAddressChoosesTheRecord) {
    BoardSession session;
    session.Prepare(TwoChips());
    ASSERT_EQ(session.BringUp(), 0);
    SpiController.Components[1].WriteGranularity = 1;
    std::memset(gBuffer, 0x42, 64);
    EXPECT_EQ(session.Run([] { return SpiWriteFlash(kFourMb - 64, gBuffer, 64); }), 0);
    EXPECT_EQ(session.Run([] { return SpiWriteFlash(kFourMb, gBuffer, 2); }), 0);
    EXPECT_EQ(session.Run([] { return SpiWriteFlash(kFourMb - 32, gBuffer, 2); }), 1);
    EXPECT_EQ(session.Run([] { return SpiReadFlash(kFourMb - 16, gBuffer, 32); }), 0);
    session.Close();
    const std::vector<Cycle> programs = session.CyclesOf("program");
    ASSERT_EQ(programs.size(), 3u);
    EXPECT_EQ(programs[0].Bytes, 64u);
    EXPECT_EQ(programs[0].ChipSelect, 0);
    EXPECT_EQ(programs[1].Bytes, 1u);
    EXPECT_EQ(programs[1].ChipSelect, 1);
    EXPECT_EQ(programs[2].Address, kFourMb + 1);
    const std::vector<Cycle> reads = session.CyclesOf("read");
    ASSERT_EQ(reads.size(), 2u);  // one request across both chips
    EXPECT_EQ(reads[0].ChipSelect, 0);
    EXPECT_EQ(reads[1].ChipSelect, 1);
    EXPECT_EQ(session.Image("cs1.bin")[1], 0x42);
}

TEST(TwoComponents, SizesFromTheDescriptor) {
    BoardSession session;
    json board = Writable();
    board["chips"] = {{{"part", "SST25VF080B"}, {"image", "cs0.bin"}},
                      {{"part", "W25X64"}, {"image", "cs1.bin"}}};
    board["descriptor"]["regions"] = {{"descriptor", {{"base", "0x0"}, {"limit", "0xFFF"}}},
                                      {"bios", {{"base", "0x1000"}, {"limit", "0x8FFFFF"}}}};
    board["controller"]["locked"] = true;
    board["controller"]["opmenu"] = {"0x02", "0x03", "0x20", "0x00",
                                     "0x05", "0x01", "0xD8", "0x00"};
    session.Prepare(board);
    ASSERT_EQ(session.BringUp(), 0);
    ASSERT_EQ(SpiController.ComponentCount, 2u);
    EXPECT_EQ(SpiController.Components[0].Size, 1u * 1024 * 1024);
    EXPECT_EQ(SpiController.Components[1].Size, 8u * 1024 * 1024);
    EXPECT_EQ(SpiController.TotalFlashSize, 9u * 1024 * 1024);
    EXPECT_STREQ(SpiController.Components[1].Name, "<unknown>");
}

// The whole-flash erase, judged by the flash image: every byte erased.
struct EraseAllCase {
    const char* Name;
    std::function<json()> Board;
    std::string Parts;
    const char* Kind;  // of the erase cycles
    const char* Seq;
    uint32_t Cycles;
    int Opcode;
};

json WholeFlashGranted() {
    json board = Writable();
    board["descriptor"]["masters"]["cpu"] = {{"id", "0x0000"}, {"read", "0xFF"}, {"write", "0xFF"}};
    return board;
}

class WholeFlashErase : public testing::TestWithParam<EraseAllCase> {};

TEST_P(WholeFlashErase, LeavesEveryByteErased) {
    const EraseAllCase& c = GetParam();
    BoardSession session;
    session.Prepare(c.Board(), c.Parts);
    session.SeedImage(kImage, [](std::vector<uint8_t>* image) {
        for (size_t a = 0x1000; a < image->size(); a += 0x1000) {
            (*image)[a] = 0x00;
        }
    });
    ASSERT_EQ(session.BringUp(), 0);
    EXPECT_EQ(session.Run(SpiEraseFlash), 0);
    session.Close();
    const std::vector<Cycle> erases = session.CyclesOf(c.Kind);
    ASSERT_EQ(erases.size(), c.Cycles);
    for (size_t i = 0; i < erases.size(); ++i) {
        EXPECT_EQ(erases[i].Seq, c.Seq);
        EXPECT_EQ(erases[i].Opcode, c.Opcode);
        EXPECT_EQ(erases[i].Outcome, "done");
    }
    if (c.Cycles > 1) {
        EXPECT_EQ(erases.back().Address, static_cast<int64_t>(kFourMb - kFourMb / c.Cycles));
    }
    const std::vector<uint8_t> image = session.Image(kImage);
    ASSERT_EQ(image.size(), kFourMb);
    EXPECT_EQ(std::count(image.begin(), image.end(), 0xFF), static_cast<long>(kFourMb));
}

const char kNoChipErase[] = "W25X32, 0xEF3016, 0x2000000, 0x1000, 0x20, 64, 0, -1\n";

INSTANTIATE_TEST_SUITE_P(
    Modes, WholeFlashErase,
    testing::Values(EraseAllCase{"SoftwareChipErase", WholeFlashGranted, spitest::ShippedPartList(),
                                 "chiperase", "sw", 1, 0xC7},
                    EraseAllCase{"SoftwareBlockByBlock", WholeFlashGranted, kNoChipErase, "erase",
                                 "sw", 1024, 0x20},
                    // The part's opcodes play no part: the controller erases in VSCC steps.
                    EraseAllCase{"Hardware", [] { return HardwareBoard(WholeFlashGranted()); },
                                 "W25X32, 0xEF3016, 0x2000000, 0x10000, 0xD8, 64, 0, 0x60\n",
                                 "erase", "hw", 1024, 0x20}),
    [](const testing::TestParamInfo<EraseAllCase>& info) { return std::string(info.param.Name); });

TEST(SpiEraseFlash, OneChipEraseForEachComponent) {
    BoardSession session;
    session.Prepare(TwoChips());
    ASSERT_EQ(session.BringUp(), 0);
    EXPECT_EQ(session.Run(SpiEraseFlash), 0);
    session.Close();
    const std::vector<Cycle> erases = session.CyclesOf("chiperase");
    ASSERT_EQ(erases.size(), 2u);
    EXPECT_EQ(erases[0].ChipSelect, 0);
    EXPECT_EQ(erases[1].ChipSelect, 1);
}

TEST(SpiEraseFlash, Failures) {
    const struct {
        const char* Name;
        std::function<json()> Board;
        std::string Parts;
        int Result;
        const char* Printed;
    } cases[] = {
        {"no write access to ME", Writable, spitest::ShippedPartList(), 1, ""},
        {"hardware erase fails",
         [] { return WithFault(HardwareBoard(WholeFlashGranted()), "erase", "hardware"); },
         spitest::ShippedPartList(), 2, "\n>>> HSFSTS[01] (FCERR) = 1\nHSFCTL: FSMIE = 0x0\n"},
        {"block erase fails", [] { return WithFault(WholeFlashGranted(), "erase", "software"); },
         kNoChipErase, 3, "\n>>> SSFSTS[03] (FCERR) = 1\n"},
        {"chip erase fails", [] { return WithFault(WholeFlashGranted(), "erase", "software"); },
         spitest::ShippedPartList(), 4, "\n>>> SSFSTS[03] (FCERR) = 1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        BoardSession session;
        session.Prepare(c.Board(), c.Parts);
        ASSERT_EQ(session.BringUp(), 0);
        session.Printed();
        EXPECT_EQ(session.Run(SpiEraseFlash), c.Result);
        session.Close();
        EXPECT_EQ(session.Printed(), c.Printed);
        // The descriptor signature (first byte 0x5A) is still there.
        EXPECT_EQ(session.Image(kImage)[0], 0x5A);
    }
}

}  // namespace
