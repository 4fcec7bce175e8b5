// kelvor's wrapper and BIOS write protection over the real library and the
// board: configuration reads and writes reach the LPC bridge, the reset port
// write resets the board, and the BIOS Control cases of the write
// protection on boards that accept and refuse the write enable.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "kelvor/ops/bios_protect.h"
#include "kelvor/spi/ravo_util.h"
#include "tests/kelvor_spi/board_session.h"

namespace {

using nlohmann::json;
using spitest::BoardSession;

constexpr uint32_t kRcba = 0x8000F8F0;
constexpr uint32_t kBiosControl = 0x8000F8DC;
constexpr uint32_t kLpcId = 0x8000F800;

std::vector<json> LogEntries(const BoardSession& session, const char* kind) {
    std::vector<json> entries;
    std::istringstream log(testsupport::ReadFileText(session.Path("cycles.jsonl")));
    std::string line;
    while (std::getline(log, line)) {
        const json entry = json::parse(line);
        if (entry.contains("kind") && entry["kind"] == kind) {
            entries.push_back(entry);
        }
    }
    return entries;
}

TEST(HardwareAccess, ConfigurationSpaceOfTheBoard) {
    BoardSession session;
    json board = spitest::ShippedBoard();
    board["lpc"]["rcba"] = "0xFEC04001";
    session.Prepare(board);
    ASSERT_TRUE(session.Open());
    EXPECT_EQ(session.Run([] { return static_cast<int>(RavoPci_IN(kRcba)); }),
              static_cast<int>(0xFEC04001u));
    EXPECT_EQ(RavoPci_IN(kLpcId), 0x0F311E5Au);
    // Another device answers all ones, as an empty slot does.
    EXPECT_EQ(RavoPci_IN(0x8000F000), 0xFFFFFFFFu);
    RavoPci_OUT(kRcba, 0xFED1C001);
    EXPECT_EQ(RavoPci_IN(kRcba), 0xFED1C001u);
    session.Close();
    // The chipset state outlives the run.
    ASSERT_TRUE(session.Open());
    EXPECT_EQ(RavoPci_IN(kRcba), 0xFED1C001u);
    EXPECT_EQ(session.Printed(), "");
}

TEST(HardwareAccess, ResetPortResetsTheBoard) {
    BoardSession session;
    session.Prepare(spitest::ShippedBoard());
    ASSERT_TRUE(session.Open());
    LpcConfigWrite(kBiosControl, 1);
    ASSERT_EQ(LpcConfigRead(kBiosControl), 1u);
    EXPECT_NE(ResetPlatform(), 0);
    EXPECT_EQ(LpcConfigRead(kBiosControl), 0u);  // back to its power-on value
    session.Close();
    const std::vector<json> writes = LogEntries(session, "io");
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0]["port"], "0x0CF9");
    EXPECT_EQ(writes[0]["value"], "0xE");
    const std::vector<json> resets = LogEntries(session, "reset");
    ASSERT_EQ(resets.size(), 1u);
    EXPECT_EQ(resets[0]["type"], "full");
}

struct BiosControlCase {
    const char* Name;
    const char* PowerOn;
    bool Refused;
    int Result;
    uint32_t After;
    const char* Printed;
};

class BiosControl : public testing::TestWithParam<BiosControlCase> {};

TEST_P(BiosControl, WriteProtection) {
    const BiosControlCase& c = GetParam();
    BoardSession session;
    json board = spitest::ShippedBoard();
    board["lpc"]["bios_control"] = c.PowerOn;
    if (c.Refused) {
        board["lpc"]["bios_write_enable"] = "refused";
    }
    session.Prepare(board);
    ASSERT_TRUE(session.Open());
    EXPECT_EQ(session.Run(DisableBiosWriteProtection), c.Result);
    EXPECT_EQ(LpcConfigRead(kBiosControl), c.After);
    EXPECT_EQ(session.Printed(), c.Printed);
}

INSTANTIATE_TEST_SUITE_P(
    Boards, BiosControl,
    testing::Values(
        BiosControlCase{"AlreadyWritable", "0x00000001", false, 1, 1,
                        "Reading LPC BC register... 0x00000001\n"},
        BiosControlCase{"Accepted", "0x00000000", false, 1, 1,
                        "Reading LPC BC register... 0x00000000\nBIOS space write protection is "
                        "enabled\nDisabling BIOS space write protection\n"},
        BiosControlCase{"TakenBackByTheLock", "0x00000002", false, 0, 2,
                        "Reading LPC BC register... 0x00000002\nBIOS space write protection is "
                        "enabled\nDisabling BIOS space write protection\n"},
        BiosControlCase{"RefusedByTheChipset", "0x00000000", true, 0, 0,
                        "Reading LPC BC register... 0x00000000\nBIOS space write protection is "
                        "enabled\nDisabling BIOS space write protection\n"}),
    [](const testing::TestParamInfo<BiosControlCase>& info) {
        return std::string(info.param.Name);
    });

TEST(HardwareAccess, ShippedBoardsAndTheWriteEnable) {
    for (const std::string& name : spitest::ShippedBoardNames()) {
        SCOPED_TRACE(name);
        BoardSession session;
        const json board = spitest::ShippedBoard(name);
        session.Prepare(board);
        ASSERT_TRUE(session.Open());
        const int writable = session.Run(DisableBiosWriteProtection);
        const bool refuses = board.contains("lpc") && board["lpc"].contains("bios_write_enable") &&
                             board["lpc"]["bios_write_enable"] == "refused";
        EXPECT_EQ(writable, refuses ? 0 : 1) << session.Printed();
        session.Close();
    }
}

}  // namespace
