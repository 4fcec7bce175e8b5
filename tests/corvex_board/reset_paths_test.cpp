// The platform resets of the entry and the driver on the board: an
// initialization that was cut short, preserved DRAM that a channel lost, and
// the one-time reset of revision-0 controllers; each followed by the boot
// the platform comes back with.
#include <cstdio>

#include "tests/corvex_board/board_boot.h"

namespace cvxboard {
namespace {

const uint32_t kInitState = Cfg(31, 0, 0xA2);
const uint32_t kResetCause = Cfg(31, 0, 0xA4);
const uint32_t kResetControl = Cfg(31, 0, 0xAC);
const uint32_t kLpcRevision = Cfg(31, 0, 0x08);

// SystemReset as the board sees it: the revision check of 0:31.0, bit 20 of
// its register 0xAC on later revisions, then the full reset.
std::vector<Step> SystemResetSteps(uint8_t lpcRevision) {
    std::vector<Step> steps = {MemR(1, kLpcRevision, lpcRevision)};
    if (lpcRevision > 0) {
        steps.push_back(MemR(4, kResetControl, 0));
        steps.push_back(MemW(4, kResetControl, 1u << 20));
    }
    steps.push_back(IoW(0xCF9, 0x0E));
    return steps;
}

// Index of the access right after the first write of `code` to port 0x80.
size_t AfterPost(const Boot& boot, uint32_t code) {
    for (size_t i = 0; i < boot.accesses().size(); ++i) {
        const harness::Access& a = boot.accesses()[i];
        if (a.write && a.space == Space::Port && a.address == 0x80 && a.value == code) {
            return i + 1;
        }
    }
    ADD_FAILURE() << "no POST code 0x" << std::hex << code;
    return boot.accesses().size();
}

// A board file register value of `bytes` bytes (the digits give the width).
std::string RegisterValue(uint32_t value, int bytes) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*X", 2 * bytes, value);
    return buf;
}

using ResetPaths = BoardTest;

TEST_F(ResetPaths, AnInitializationCutShortResetsAtEntryAndTheNextBootRuns) {
    struct Case {
        uint8_t found;  // register 0xA2 of 0:31.0 at power-on
        uint8_t lpcRevision;
        uint8_t written;  // what goes back before the reset
    };
    const Case cases[] = {
        {0x80, 2, 0x04},  // in progress
        {0x04, 2, 0x04},  // cut short: bit 2 alone is enough
        {0x85, 0, 0x05},  // other bits kept; revision 0 has no register 0xAC step
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "0xA2 = 0x" << std::hex << int(c.found)
                                          << ", revision " << int(c.lpcRevision));
        json board = Patched(
            ShippedBoard("reset-paths"),
            {{"pci",
              {{"0:1F.0", {{"0xA2", c.found}, {"0xA4", "0x21"}, {"0x08", c.lpcRevision}}}}}});
        auto b = Open(board);
        ASSERT_TRUE(b);
        std::vector<Boot> boots = Sequence(*b, {0, 0});
        const Boot& reset = boots[0];
        EXPECT_EQ(reset.outcome(), harness::Outcome::Reset);
        EXPECT_EQ(reset.code(), 0x0Eu);
        EXPECT_EQ(reset.post, (std::vector<uint32_t>{0xA0, 0x01, 0x02, 0x03, 0x03}));
        // Step 8 starts after the first POST code 0x03.
        std::vector<Step> tail = {
            MemR(1, kInitState, c.found),
            MemW(1, kInitState, c.written),
            MemR(1, kResetCause, 0x21),
            MemW(1, kResetCause, 0x29),
            IoW(0x80, 0x03),
        };
        for (const Step& s : SystemResetSteps(c.lpcRevision)) {
            tail.push_back(s);
        }
        EXPECT_TRUE(MatchesSteps(reset.accesses(), AfterPost(reset, 0x03), tail));
        EXPECT_TRUE(reset.messages.empty());

        // The platform comes back with nothing in progress and boots.
        EXPECT_EQ(boots[1].outcome(), harness::Outcome::Returned);
        const uint32_t left = c.found & 0x7Bu;
        EXPECT_EQ(boots[1].Writes(Space::Physical, kInitState, 1),
                  (std::vector<uint32_t>{0x80 | left, left}));
    }
}

TEST_F(ResetPaths, PreservedDramThatAPopulatedChannelLostResetsUnlessTriedBefore) {
    struct Case {
        const char* what;
        const char* board;
        uint32_t f14;  // MC_BASE+0xF14 at power-on
        uint16_t a0c;  // saved calibration
        uint8_t c20;   // MC_BASE+0xC20
        bool resets;
    };
    const Case cases[] = {
        {"channel A lost", "preserved-dram", 0x100, 0x0707, 0, true},
        {"only channel B kept", "preserved-dram", 0x102, 0x0707, 0, true},
        {"no saved calibration does not save the boot", "preserved-dram", 0x100, 0, 0, true},
        {"channel B lost on a two-DIMM board", "two-dimm", 0x101, 0x0707, 0, true},
        {"the populated channel kept its part", "preserved-dram", 0x101, 0x0707, 0, false},
        {"reset already taken", "preserved-dram", 0x100, 0x0707, 1, false},
        {"nothing preserved", "preserved-dram", 0x000, 0x0707, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        json board = Patched(ShippedBoard(c.board), {{"mc",
                                                      {{"0xF14", RegisterValue(c.f14, 4)},
                                                       {"0xA0C", RegisterValue(c.a0c, 2)},
                                                       {"0xC20", c.c20}}},
                                                     {"pci", {{"0:1F.0", {{"0xA4", "0x21"}}}}}});
        auto b = Open(board);
        ASSERT_TRUE(b);
        std::vector<Boot> boots = Sequence(*b, {0, 0});
        const Boot& first = boots[0];
        if (!c.resets) {
            EXPECT_EQ(first.outcome(), harness::Outcome::Returned);
            continue;
        }
        EXPECT_EQ(first.outcome(), harness::Outcome::Reset);
        EXPECT_EQ(first.code(), 0x0Eu);
        EXPECT_EQ(first.post.back(), 0x22u);
        std::vector<Step> tail = {
            MemR(1, Mc(0x5FF), 0),      MemW(1, Mc(0x5FF), 0),     MemR(4, Mc(0xF14), c.f14),
            MemR(2, Mc(0xA0C), c.a0c),  MemR(1, Mc(0xC20), c.c20), MemR(1, kResetCause, 0x21),
            MemW(1, kResetCause, 0x29), MemR(1, kInitState, 0x80), MemW(1, kInitState, 0x00),
        };
        for (const Step& s : SystemResetSteps(2)) {
            tail.push_back(s);
        }
        EXPECT_TRUE(MatchesSteps(first.accesses(), AfterPost(first, 0x22), tail));
        // After the board's own reset the DRAM is no longer preserved.
        EXPECT_EQ(boots[1].outcome(), harness::Outcome::Returned);
    }
}

// The board never keeps DRAM in self-refresh across its resets; a platform
// whose warm reset does so reports it in MC_BASE+0xF14 bit 8 again, which is
// stood in for here (after the controller block is decoded, as firmware does).
void DramKeptInSelfRefresh(Board& b) {
    b.Write(Space::Physical, Cfg(0, 0, 0x48), 4, kMcBase | 1);
    uint32_t f14 = b.Read(Space::Physical, Mc(0xF14), 4);
    b.Write(Space::Physical, Mc(0xF14), 4, f14 | 0x100);
}

// Revision-0 host bridge, DRAM preserved on channel A with saved calibration,
// no engine share: the case in which the driver resets once more.
json Revision0Preserved() {
    return Patched(ShippedBoard("default"),
                   {{"pci", {{"0:0.0", {{"0x08", 0}}}}},
                    {"mc", {{"0xA2E", 0}, {"0xF14", "0x00000101"}, {"0xA0C", "0x0707"}}}});
}

TEST_F(ResetPaths, Revision0ResetsForPreservedDramAtMostOnceInARow) {
    auto b = Open(Revision0Preserved());
    ASSERT_TRUE(b);
    std::vector<Boot> boots;
    for (int boot = 0; boot < 3; ++boot) {
        if (boot > 0) {
            b->PlatformReset();
            DramKeptInSelfRefresh(*b);
        }
        boots.push_back(Run(*b));
    }
    // Reset, the boot that the reset bit lets through, and reset again.
    EXPECT_EQ(boots[0].outcome(), harness::Outcome::Reset);
    EXPECT_EQ(boots[0].code(), 0x06u);
    EXPECT_EQ(boots[1].outcome(), harness::Outcome::Returned);
    EXPECT_EQ(boots[2].outcome(), harness::Outcome::Reset);

    const Boot& reset = boots[0];
    EXPECT_EQ(reset.post.back(), 0x37u);
    // Step 18 runs after POST code 0x37 (the refresh step is not built yet).
    const std::vector<Step> resetSteps = {
        MemR(1, Cfg(0, 0, 0x08), 0), MemR(1, Mc(0xC20), 0),     MemR(1, Mc(0x5FF), 0),
        MemW(1, Mc(0x5FF), 0),       MemR(1, kInitState, 0x80), MemW(1, kInitState, 0x00),
        MemR(1, Mc(0xC20), 0),       MemW(1, Mc(0xC20), 0x01),  IoW(0xCF9, 0x06),
    };
    EXPECT_TRUE(MatchesSteps(reset.accesses(), AfterPost(reset, 0x37), resetSteps));

    // The boot after it finds the bit, goes on and clears it.
    EXPECT_TRUE(boots[1].Writes(Space::Port, 0xCF9).empty());
    EXPECT_EQ(boots[1].Writes(Space::Physical, Mc(0xC20), 1), std::vector<uint32_t>{0x00});
    EXPECT_EQ(boots[1].post.back(), 0x45u);
}

TEST_F(ResetPaths, Revision0ResetNeedsPreservedDramWithoutAnEngineShare) {
    struct Case {
        const char* what;
        json patch;
        bool resets;
        std::vector<uint32_t> c20Writes;
    };
    const Case cases[] = {
        {"preserved, no share", json::object(), true, {0x01}},
        {"the reset was taken before", {{"mc", {{"0xC20", 1}}}}, false, {0x00}},
        {"an engine share", {{"mc", {{"0xA2E", 8}}}}, false, {0x00}},
        {"not preserved", {{"mc", {{"0xF14", "0x00000000"}}}}, false, {0x00}},
        {"no saved calibration", {{"mc", {{"0xA0C", "0x0000"}}}}, false, {0x00}},
        {"later revisions never reset here", {{"pci", {{"0:0.0", {{"0x08", 2}}}}}}, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto b = Open(Patched(Revision0Preserved(), c.patch));
        ASSERT_TRUE(b);
        Boot boot = Run(*b);
        EXPECT_EQ(boot.outcome(), c.resets ? harness::Outcome::Reset : harness::Outcome::Returned);
        EXPECT_EQ(boot.Writes(Space::Physical, Mc(0xC20), 1), c.c20Writes);
        if (c.c20Writes.empty()) {
            EXPECT_EQ(boot.Reads(Space::Physical, Mc(0xC20)), 0u);
        }
    }
}

}  // namespace
}  // namespace cvxboard
