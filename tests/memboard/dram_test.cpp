// The DRAM command decoder and its JEDEC DDR2 initialization order check.
#include "tests/memboard/board_fixture.h"

namespace boardtest {
namespace {

constexpr uint8_t kNop = 0x02, kPrecharge = 0x04, kMrs = 0x06, kRefresh = 0x0C, kEmrs1 = 0x18,
                  kEmrs2 = 0x28, kEmrs3 = 0x38;

struct Step {
    uint8_t code;
    uint32_t mode;  // mode-register value (DRAM address bits)
};

// MRS: CAS latency 6, burst length 8 interleaved, write recovery 6, DLL reset.
constexpr uint32_t kMrsDllReset = 6 << 4 | 1 << 3 | 3 | 1 << 8 | 5 << 9;
constexpr uint32_t kMrsInit = kMrsDllReset & ~(1u << 8);
constexpr uint32_t kEmrs1Odt = 0x44;  // 75 ohm termination, DLL enabled
const std::vector<Step> kJedec = {
    {kNop, 0},
    {kPrecharge, 0},
    {kEmrs2, 0},
    {kEmrs3, 0},
    {kEmrs1, kEmrs1Odt},
    {kMrs, kMrsDllReset},
    {kPrecharge, 0},
    {kRefresh, 0},
    {kRefresh, 0},
    {kMrs, kMrsInit},
    {kEmrs1, kEmrs1Odt | 7 << 7},
    {kEmrs1, kEmrs1Odt},
};

std::unique_ptr<Board> InitBoard(const char* patch = "{}") {
    auto b = MakeBoard(patch);
    EnableMc(*b);
    Wr(*b, kMc + 0xC00, 0x30, 1);
    Wr(*b, kMc + 0x260, 0x08000000);  // channel A enabled
    Wr(*b, kMc + 0x660, 0x08000000);
    return b;
}

void Issue(Board& b, unsigned rank, const Step& s) {
    uint32_t reg = kMc + (rank < 4 ? 0x271 : 0x671);
    Wr(b, reg, (Rd(b, reg, 1) & 0xC1) | s.code, 1);
    Rd(b, rank * 0x8000000u | s.mode << 3);
}

TEST(Dram, CorrectSequenceIsAccepted) {
    auto b = InitBoard();
    for (const Step& s : kJedec) {
        Issue(*b, 0, s);
    }
    EXPECT_TRUE(b->Violations().empty()) << b->Violations()[0].what;
    const auto& cmds = b->DramCommands();
    ASSERT_EQ(cmds.size(), kJedec.size());
    std::vector<std::string> names;
    for (const auto& c : cmds) {
        names.push_back(c.command);
        EXPECT_TRUE(c.fitted);
        EXPECT_EQ(c.rank, 0u);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"NOP", "PRECHARGE ALL", "EMRS(2)", "EMRS(3)",
                                               "EMRS(1)", "MRS", "PRECHARGE ALL", "REFRESH",
                                               "REFRESH", "MRS", "EMRS(1)", "EMRS(1)"}));
    EXPECT_EQ(cmds[5].value, kMrsDllReset);
    EXPECT_EQ(cmds[10].value, kEmrs1Odt | 7u << 7);
}

TEST(Dram, OrderViolationsAreRecorded) {
    struct Case {
        const char* name;
        std::vector<size_t> steps;  // indices into kJedec
        const char* needs;
    };
    const Case cases[] = {
        {"no NOP first", {1}, "needs NOP"},
        {"EMRS(3) before EMRS(2)", {0, 1, 3}, "needs EMRS(2)"},
        {"MRS before EMRS(1)", {0, 1, 2, 3, 5}, "needs EMRS(1) with the DLL enabled"},
        {"one refresh only", {0, 1, 2, 3, 4, 5, 6, 7, 9}, "second REFRESH"},
        {"no precharge after DLL reset", {0, 1, 2, 3, 4, 5, 7}, "needs PRECHARGE ALL"},
        {"OCD exit without default", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11}, "OCD calibration default"},
    };
    for (const Case& c : cases) {
        auto b = InitBoard();
        for (size_t i : c.steps) {
            Issue(*b, 0, kJedec[i]);
        }
        ASSERT_EQ(b->Violations().size(), 1u) << c.name;
        EXPECT_NE(b->Violations()[0].what.find(c.needs), std::string::npos)
            << c.name << ": " << b->Violations()[0].what;
        EXPECT_NE(b->Violations()[0].what.find("rank 0"), std::string::npos);
    }
}

TEST(Dram, ModeRegisterEncodingsAreChecked) {
    struct Case {
        uint32_t mrs;
        const char* what;
    };
    const Case cases[] = {
        {kMrsDllReset & ~(7u << 4), "CAS latency"},
        {(kMrsDllReset & ~7u) | 1, "burst length"},
        {kMrsDllReset & ~(7u << 9), "write recovery"},
    };
    for (const Case& c : cases) {
        auto b = InitBoard();
        for (size_t i = 0; i < 5; ++i) {
            Issue(*b, 0, kJedec[i]);
        }
        Issue(*b, 0, {kMrs, c.mrs});
        ASSERT_EQ(b->Violations().size(), 1u) << c.what;
        EXPECT_NE(b->Violations()[0].what.find(c.what), std::string::npos);
    }
}

TEST(Dram, RanksWithoutDeviceAndDisabledChannels) {
    auto b = InitBoard();
    Issue(*b, 1, kJedec[0]);  // the default DIMM has one rank
    Issue(*b, 4, kJedec[1]);  // channel B has no DIMM
    ASSERT_EQ(b->DramCommands().size(), 2u);
    EXPECT_FALSE(b->DramCommands()[0].fitted);
    EXPECT_EQ(b->DramCommands()[1].rank, 4u);
    EXPECT_TRUE(b->Violations().empty());
    Wr(*b, kMc + 0x260, 0);  // channel A disabled: the command goes nowhere
    Issue(*b, 0, kJedec[0]);
    EXPECT_EQ(b->DramCommands().size(), 2u);
    ASSERT_EQ(b->Violations().size(), 1u);
    EXPECT_NE(b->Violations()[0].what.find("not enabled"), std::string::npos);
    Wr(*b, kMc + 0x260, 0x08000000);
    Wr(*b, kMc + 0x271, kNop, 1);
    Rd(*b, 0, 2);  // a command needs a 32-bit read
    EXPECT_NE(b->Violations().back().what.find("2 bytes"), std::string::npos);
    Wr(*b, kMc + 0x271, 0x0A, 1);  // undefined command code
    Rd(*b, 0);
    EXPECT_NE(b->Violations().back().what.find("undefined"), std::string::npos);
}

// After initialization a read returns the strobe CAS latency plus the
// board's round trip later: 6 x 2500 + 4500 ps, plus 40 ps per lane.
TEST(Dram, StrobeFollowsTheRanksCasLatency) {
    auto b = InitBoard(R"({"controller": {"strobe": {"fineStepPs": 100}}})");
    for (const Step& s : kJedec) {
        Issue(*b, 0, s);
    }
    Wr(*b, kMc + 0x271, 0x0E, 1);
    auto levels = [&](unsigned coarse, unsigned medium, unsigned fine) {
        Wr(*b, kMc + 0x248, coarse << 16, 4);
        Wr(*b, kMc + 0x53D, medium << 2, 1);
        Wr(*b, kMc + 0x52C, fine, 2);
        Wr(*b, kMc + 0x5F4, 0x00, 1);
        Wr(*b, kMc + 0x5F4, 0x02, 1);
        Rd(*b, 0);
        In(*b, 0x61);
        unsigned mask = 0;
        for (unsigned lane = 0; lane < 9; ++lane) {
            mask |= ((Rd(*b, kMc + 0x5CC - 0x10 * lane, 1) >> 6) & 1) << lane;
        }
        return mask;
    };
    EXPECT_EQ(levels(7, 0, 0), 0x000u);   // 17500: before the strobe
    EXPECT_EQ(levels(7, 3, 3), 0x01Fu);   // 19675: lanes 0..4 (edges 19500..19660)
    EXPECT_EQ(levels(8, 0, 0), 0x0FFu);   // 20000: every data lane, no ECC lane
    EXPECT_EQ(levels(8, 2, 0), 0x000u);   // 21250: low half of the first clock
    EXPECT_EQ(levels(9, 0, 0), 0x0FFu);   // 22500: second clock
    EXPECT_EQ(levels(13, 0, 0), 0x000u);  // past the burst of four clocks
}

}  // namespace
}  // namespace boardtest
