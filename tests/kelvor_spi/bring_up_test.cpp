// Bring-up on boards of every supported kind (unlocked, locked with a usable
// or an unusable menu, hardware sequencing, no descriptor, two chips) and
// the reasons it gives when it cannot go on.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "kelvor/front/settings.h"
#include "kelvor/spi/spi_api.h"
#include "kelvor/spi/spi_controller.h"
#include "kelvor/spi/spi_state.h"
#include "tests/kelvor_spi/board_session.h"

namespace {

using nlohmann::json;
using spitest::BoardSession;
using spitest::Cycle;

const char kDeviceHeader[] = "\n\t--- Flash Devices Found ---\n";
const char kW25X32Line[] = "\tW25X32\tID:0xEF3016\tSize: 4096KB (32768Kb)\n";
const char kLockLine[] = "Flash program registers are locked! HSFSTS[15] (FLOCKDN)\n";
const char kChecking[] =
    "Checking to see if the correct commands are in the OPMENU and PREOP registers.\n";
const char kSoftware[] = "Using software sequencing.\n";
const char kHardware[] = "Using hardware sequencing.\n";
const char kLockedUnusable[] =
    "\n>>> Error: The SPI registers are write-protected, no valid flash descriptor was found, and "
    "the OPMENU register does not contain the correct commands! Cannot access the flash!\n\n";

std::string Head(BoardSession& session, const char* descriptor) {
    return "Reading file \"" + session.Path("chipdefs.txt") +
           "\" into memory...\nInitializing SPI utilities\nReading HSFSTS register... Flash "
           "Descriptor: " +
           descriptor + "\n" + kDeviceHeader;
}

// The locked menu's opcode types come with it: a read-ID opcode must be typed
// "read without address" or the controller refuses the cycle.
json Locked(json board, std::vector<std::string> opmenu, std::vector<std::string> preop,
            const char* optype = "0x343B") {
    board["controller"]["locked"] = true;
    board["controller"]["opmenu"] = opmenu;
    board["controller"]["preop"] = preop;
    board["controller"]["optype"] = optype;
    return board;
}

// A menu without the read-ID opcodes, with every other command kelvor uses.
const std::vector<std::string> kMenuWithoutReadId = {"0x02", "0x03", "0x20", "0x00",
                                                     "0x05", "0x01", "0xD8", "0x00"};
// A menu with a read-ID opcode and nothing else kelvor uses.
const std::vector<std::string> kReadIdOnlyMenu = {"0x9F", "0x05", "0x00", "0x00",
                                                  "0x00", "0x00", "0x00", "0x00"};
const std::vector<std::string> kEmptyMenu = {"0x00", "0x00", "0x00", "0x00",
                                             "0x00", "0x00", "0x00", "0x00"};

json WithoutDescriptor(json board) {
    board.erase("descriptor");
    return board;
}

// Each reachable row of the mode table. (An unlocked controller with no part
// identified never reaches the table: the first probe that finds nothing
// ends bring-up with result 3 or 5.)
struct ModeRow {
    const char* Name;
    std::function<json()> Board;
    int Result;
    uint32_t Mode;
    const char* Devices;  // the device list
    std::string Tail;     // what follows the device list
    bool Enabled;         // a write-status command went to the part
};

class ModeTable : public testing::TestWithParam<ModeRow> {};

TEST_P(ModeTable, ChoosesTheModeAndSaysSo) {
    const ModeRow& row = GetParam();
    BoardSession session;
    const json board = row.Board();
    session.Prepare(board);
    ASSERT_EQ(session.BringUp(), row.Result);
    const uint32_t mode = SpiController.SequencingMode;
    const uint32_t hwAvailable = SpiController.HwSeqAvailable;
    session.Close();
    const bool valid = board.contains("descriptor");
    EXPECT_EQ(session.Printed(),
              Head(session, valid ? "Valid" : "INVALID") + row.Devices + "\n" + row.Tail);
    EXPECT_EQ(hwAvailable, valid ? 1u : 0u);
    if (row.Result == 0) {
        EXPECT_EQ(mode, row.Mode);
    }
    const std::vector<Cycle> writes = session.CyclesOf("writestatus");
    EXPECT_EQ(writes.size(), row.Enabled ? 1u : 0u);
    if (row.Enabled && !writes.empty()) {
        EXPECT_EQ(writes[0].Prefix, 0x06);
        EXPECT_EQ(writes[0].Bytes, 2u);
        EXPECT_EQ(writes[0].Outcome, "done");
        EXPECT_EQ(writes[0].Chip, "ok");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ModeTable,
    testing::Values(
        ModeRow{"UnlockedWithDescriptor", [] { return spitest::ShippedBoard(); }, 0,
                kSoftwareSequencing, kW25X32Line, kSoftware, true},
        ModeRow{"UnlockedWithoutDescriptor",
                [] { return WithoutDescriptor(spitest::ShippedBoard()); }, 0, kSoftwareSequencing,
                kW25X32Line, kSoftware, true},
        ModeRow{"LockedUsableMenu",
                [] {
                    json board = spitest::ShippedBoard();
                    board["controller"]["locked"] = true;
                    return board;
                },
                0, kSoftwareSequencing, kW25X32Line, std::string(kLockLine) + kChecking + kSoftware,
                true},
        ModeRow{
            "LockedUnusableMenuWithDescriptor",
            [] {
                return Locked(spitest::ShippedBoard(), kReadIdOnlyMenu, {"0x00", "0x00"}, "0x0000");
            },
            0, kHardwareSequencing, kW25X32Line, std::string(kLockLine) + kChecking + kHardware,
            false},
        ModeRow{"LockedNoReadIdUsableMenu",
                [] {
                    return Locked(spitest::ShippedBoard(), kMenuWithoutReadId, {"0x06", "0x50"});
                },
                0, kSoftwareSequencing,
                "\tSPI command registers are locked! HSFSTS[15] (FLOCKDN).\n",
                std::string(kLockLine) + kChecking + kSoftware, true},
        ModeRow{"LockedNoReadIdUnusableMenu",
                [] {
                    return Locked(spitest::ShippedBoard(), kEmptyMenu, {"0x00", "0x00"});
                },
                0, kHardwareSequencing,
                "\tSPI command registers are locked! HSFSTS[15] (FLOCKDN).\n",
                std::string(kLockLine) + kChecking + kHardware, false},
        ModeRow{"LockedUnusableMenuWithoutDescriptor",
                [] {
                    return WithoutDescriptor(Locked(spitest::ShippedBoard(), kReadIdOnlyMenu,
                                                    {"0x00", "0x00"}, "0x0000"));
                },
                1, 0, kW25X32Line, std::string(kLockLine) + kChecking + kLockedUnusable, false},
        ModeRow{"LockedNoReadIdWithoutDescriptor",
                [] {
                    return WithoutDescriptor(
                        Locked(spitest::ShippedBoard(), kMenuWithoutReadId, {"0x06", "0x50"}));
                },
                1, 0, "\tSPI command registers are locked! HSFSTS[15] (FLOCKDN).\n",
                std::string(kLockLine) + kLockedUnusable, false}),
    [](const testing::TestParamInfo<ModeRow>& info) { return std::string(info.param.Name); });

TEST(BringUp, DescriptorComponentsWhenNoPartAnswers) {
    BoardSession session;
    session.Prepare(Locked(spitest::ShippedBoard(), kMenuWithoutReadId, {"0x06", "0x50"}));
    ASSERT_EQ(session.BringUp(), 0);
    EXPECT_EQ(SpiController.ComponentCount, 1u);
    EXPECT_EQ(SpiController.TotalFlashSize, 4u * 1024 * 1024);
    const FlashDeviceRecord& record = SpiController.Components[0];
    EXPECT_STREQ(record.Name, "<unknown>");
    EXPECT_EQ(record.IdInfo, 0u);  // not a valid record for the operations
    EXPECT_EQ(record.EraseBlockSize, 0u);
    EXPECT_EQ(record.EraseOpcode, -1);
    EXPECT_EQ(record.ChipEraseOpcode, -1);
    EXPECT_EQ(record.WriteGranularity, 64);  // VSCC WG is set on this board
    session.Close();
    EXPECT_TRUE(session.CyclesOf("readid").empty());
}

TEST(BringUp, LockedMenuWithOnly0x90InSlot6) {
    BoardSession session;
    // 0x90 answers manufacturer and device, 0xEF 0x15; the record whose low
    // 16 bits match comes first.
    const std::string parts =
        "PART-3016, 0xEF3016, 0x2000000, 0x1000, 0x20, 64, 0, 0xC7\n"
        "PART-EF15, 0x00EF15, 0x2000000, 0x1000, 0x20, 64, 0, 0xC7\n"
        "PART-LATE, 0x12EF15, 0x2000000, 0x1000, 0x20, 64, 0, 0xC7\n";
    session.Prepare(Locked(spitest::ShippedBoard(),
                           {"0x02", "0x03", "0x20", "0x00", "0x05", "0x01", "0x90", "0x00"},
                           {"0x06", "0x50"}, "0x043B"),
                    parts);
    ASSERT_EQ(session.BringUp(), 0);
    EXPECT_STREQ(SpiController.Components[0].Name, "PART-EF15");
    EXPECT_EQ(SpiController.OpMenuSlots.ReadSlot, 1);
    session.Close();
    // 0x9F and 0xAB are not in the menu and never sent; the second chip
    // select is probed at the first part's size, where nothing answers.
    const std::vector<Cycle> reads = session.CyclesOf("readid");
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0].Opcode, 0x90);
    EXPECT_EQ(reads[0].Bytes, 3u);  // one byte more than the ID is clocked in
    EXPECT_EQ(reads[0].Outcome, "done");
    EXPECT_EQ(reads[1].Opcode, 0x90);
    EXPECT_EQ(reads[1].Outcome, "fcerr");
    EXPECT_EQ(SpiController.ComponentCount, 1u);
    EXPECT_NE(session.Printed().find("\tPART-EF15\tID:0x00EF15\tSize: 4096KB (32768Kb)\n"),
              std::string::npos);
}

TEST(BringUp, UnlockedMenuIsProgrammedForThePart) {
    BoardSession session;
    json board = spitest::ShippedBoard();
    board["controller"]["opmenu"] = kEmptyMenu;
    board["controller"]["preop"] = {"0x00", "0x00"};
    board["controller"]["optype"] = "0x0000";
    // A part with 64 KB blocks and no chip erase.
    session.Prepare(board, "BIG-BLOCKS, 0xEF3016, 0x2000000, 0x10000, 0xD8, 64, 0, -1\n");
    ASSERT_EQ(session.BringUp(), 0);
    session.Close();
    // The controller state the board keeps for the next run shows the menu
    // as programmed: no read-ID opcode left in it, no chip erase for this
    // part, the write enable in PREOP slot 0.
    const json saved =
        json::parse(testsupport::ReadFileText(session.Path("ravo-default-state.json")));
    EXPECT_EQ(saved["controller"]["opmenu"], "0203D80000010000");
    EXPECT_EQ(saved["controller"]["optype"], "0x043B");
    EXPECT_EQ(saved["controller"]["preop"], "0600");
}

}  // namespace

namespace {

// Bring-ups that cannot go on, with what they say.
struct FailureCase {
    const char* Name;
    std::function<json()> Board;
    std::string Parts;
    std::string Expected;  // the end of what bring-up prints
};

const char kW25X32Parts[] = "W25X32, 0xEF3016, 0x2000000, 0x1000, 0x20, 64, 0, 0xC7\n";

class BringUpFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(BringUpFailure, EndsWithItsMessage) {
    const FailureCase& c = GetParam();
    BoardSession session;
    session.Prepare(c.Board(), c.Parts);
    EXPECT_EQ(session.BringUp(), 1);
    session.Close();
    const std::string printed = session.Printed();
    ASSERT_GE(printed.size(), c.Expected.size()) << printed;
    EXPECT_EQ(printed.substr(printed.size() - c.Expected.size()), c.Expected) << printed;
}

json TwoChips(const char* second) {
    json board = spitest::ShippedBoard();
    board["chips"] = {{{"part", "W25X32"}, {"image", "cs0.bin"}},
                      {{"part", second}, {"image", "cs1.bin"}}};
    return board;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BringUpFailure,
    testing::Values(
        FailureCase{"EveryReadIdCycleFails",
                    [] {
                        json board = spitest::ShippedBoard();
                        board["faults"]["cycles"] = {
                            {{"kind", "readid"}, {"count", "all"}, {"error", "FCERR"}}};
                        return board;
                    },
                    kW25X32Parts,
                    "\t--- Flash Devices Found ---\n\n>>> Error: Failed to read the device ID "
                    "from the flash part!\n\n"},
        FailureCase{"PartNotInTheList", [] { return spitest::ShippedBoard(); },
                    "; nothing but comments\n",
                    "\t--- Flash Devices Found ---\n\n>>> Error: There is no supported SPI flash "
                    "device installed!\n\n"},
        FailureCase{"PartsWithDifferentCommandSets", [] { return TwoChips("M25P32"); },
                    spitest::ShippedPartList(),
                    std::string(kW25X32Line) +
                        "\tM25P32\tID:0x202016\tSize: 4096KB (32768Kb)\n\n\n>>> Error: The 2 "
                        "flash devices do not have compatible command sets!\n\n"},
        FailureCase{"WriteStatusRefused",
                    [] {
                        json board = spitest::ShippedBoard();
                        board["chips"][0]["write_status_fault"] = "fcerr";
                        return board;
                    },
                    kW25X32Parts,
                    std::string(kSoftware) +
                        "\n>>> SSFSTS[03] (FCERR) = 1\n\n>>> Error: An error occurred while "
                        "writing to the write status register of the flash device to enable "
                        "it!\n\n"},
        FailureCase{"RcbaNotEnabled",
                    [] {
                        json board = spitest::ShippedBoard();
                        board["lpc"]["rcba"] = "0xFED1C000";
                        return board;
                    },
                    kW25X32Parts,
                    "\n>>> Error: The Enable bit in the LPC RCBA register is not set! The value "
                    "of this register cannot be used as the SPI BIOS base address.\n\n"},
        FailureCase{"WindowCannotBeMapped",
                    [] {
                        json board = spitest::ShippedBoard();
                        board["faults"]["library"]["map_phys"] = {{"error", "no mapping today"}};
                        return board;
                    },
                    kW25X32Parts,
                    "RAVOUtil: Error during RAVO Call: RavoMapPhys: no mapping today \n\n>>> "
                    "Error: The SPI register block at physical address 0xFED1F020 could not be "
                    "mapped! Cannot access the flash!\n\n"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.Name); });

TEST(BringUp, UnmappedWindowIsNeverTouched) {
    BoardSession session;
    json board = spitest::ShippedBoard();
    board["faults"]["library"]["map_phys"] = {{"error", "no mapping today"}};
    session.Prepare(board);
    EXPECT_EQ(session.BringUp(), 1);
    EXPECT_EQ(SpiController.RegisterBase, nullptr);
    session.Close();
    EXPECT_EQ(session.Totals()["register_reads"], 0);
    EXPECT_EQ(session.Totals()["register_writes"], 0);
    // Nor was the part list read.
    EXPECT_EQ(session.Printed().find("Reading file"), std::string::npos);
}

TEST(BringUp, PartFileThatCannotBeFound) {
    BoardSession session;
    session.Prepare(spitest::ShippedBoard());
    ASSERT_TRUE(session.Open());
    std::strcpy(PartFilePath, "no-such-part-file.txt");
    EXPECT_EQ(session.Run(InitializeSpi), 1);
    EXPECT_EQ(session.Printed(),
              "\n>>> Error: Could not find the file \"no-such-part-file.txt\"!\n\n");
}

// Descriptor data kelvor cannot use are refused when the components must come
// from the descriptor: the controller holds two chip selects, and codes 6
// and 7 name no size.
struct DescriptorPatch {
    const char* Name;
    uint32_t Map0Components;  // bits 8-9 of map word 0
    uint8_t ComponentWord;
    const char* Message;
};

class UnusableDescriptor : public testing::TestWithParam<DescriptorPatch> {};

TEST_P(UnusableDescriptor, IsRefused) {
    const DescriptorPatch& patch = GetParam();
    BoardSession session;
    session.Prepare(Locked(spitest::ShippedBoard(), kMenuWithoutReadId, {"0x06", "0x50"}));
    ASSERT_TRUE(session.Open());  // the board lays a fresh image down
    session.Close();
    std::vector<uint8_t> image = session.Image("ravo-default-flash.bin");
    ASSERT_EQ(image.size(), 4u * 1024 * 1024);
    image[5] = static_cast<uint8_t>((image[5] & ~3u) | patch.Map0Components);
    image[0x30] = patch.ComponentWord;  // the component section of the shipped layout
    session.WriteImage("ravo-default-flash.bin", image);
    spitest::ResetKelvor();
    std::strcpy(PartFilePath, session.Path("chipdefs.txt").c_str());
    session.Printed();
    EXPECT_EQ(session.BringUp(), 1);
    EXPECT_EQ(SpiController.ComponentCount, 0u);
    session.Close();
    const std::string printed = session.Printed();
    EXPECT_NE(printed.find(std::string(patch.Message) +
                           "\n>>> Error: No flash devices could be identified!\n\n"),
              std::string::npos)
        << printed;
}

INSTANTIATE_TEST_SUITE_P(
    Patches, UnusableDescriptor,
    testing::Values(DescriptorPatch{"ThreeComponents", 2, 0x1B,
                                    "\n>>> Error: The flash descriptor describes 3 flash "
                                    "components, but no more than 2 can be used!\n\n"},
                    DescriptorPatch{"FourComponents", 3, 0x1B,
                                    "\n>>> Error: The flash descriptor describes 4 flash "
                                    "components, but no more than 2 can be used!\n\n"},
                    DescriptorPatch{"ReservedDensityOfTheSecond", 1, 0x33,
                                    "\n>>> Error: The flash descriptor gives flash component 2 "
                                    "the reserved density code 6!\n\n"}),
    [](const testing::TestParamInfo<DescriptorPatch>& info) {
        return std::string(info.param.Name);
    });

}  // namespace
