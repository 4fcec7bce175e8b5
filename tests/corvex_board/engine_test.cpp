// The ME transport against the board's engine and its faults: time-outs
// counted on an HPET that wraps, chunking at small host buffers, replies the
// transport must refuse, the halts for a wrong reply, FatalStop's message,
// the revision-0 hand-off and the ME that never becomes ready.
#include <algorithm>

#include "corvex/dram/fatal_stop.h"
#include "tests/corvex_board/board_boot.h"

namespace cvxboard {
namespace {

const uint32_t kHostWindow = kEngineIf + 0x0;
const uint32_t kHostControl = kEngineIf + 0x4;
const uint32_t kEngineWindow = kEngineIf + 0x8;
const uint32_t kEngineStatus = kEngineIf + 0xC;
const uint64_t kSecond = 1000000000ull;

// DRAM-init-done of a full detection on the default board: DDR2-800, every
// module good for 533, channel A without a size (the map steps are not built).
const std::vector<uint8_t> kDramInitDone = {0x08, 2, 2, 2, 4, 2, 0xA0, 0xA2, 0xA4, 0xA6};

// Memory reads that cost 20 us, so that a wait of seconds of board time
// takes few polls.
const json kSlowReads = {{"costs", {{"memReadNs", 20000}}}};

bool HasPost(const Boot& boot, uint32_t code) {
    return std::find(boot.post.begin(), boot.post.end(), code) != boot.post.end();
}

std::vector<std::vector<uint8_t>> Messages(const Boot& boot) {
    std::vector<std::vector<uint8_t>> out;
    for (const memboard::EngineMessage& m : boot.messages) {
        out.push_back(m.bytes);
    }
    return out;
}

using Engine = BoardTest;

TEST_F(Engine, TheFiveSecondWaitForTheEngineHoldsAcrossTheCounterWrap) {
    // When the handshake starts, in board time, with these costs.
    auto probe = Open(Patched(ShippedBoard("silent-me"), kSlowReads));
    ASSERT_TRUE(probe);
    const Boot reference = Run(*probe, {}, {}, nullptr, false);
    ASSERT_TRUE(HasPost(reference, 0x4E));
    const uint64_t handshake =
        reference.postTimeNs[std::find(reference.post.begin(), reference.post.end(), 0x4E) -
                             reference.post.begin()];

    const int64_t kNever = -1;
    struct Case {
        uint64_t counter;      // HPET main counter when the handshake starts
        int64_t readyAfterNs;  // after the handshake starts; -1 never
        bool ready;
    };
    const uint64_t wrap = 1ull << 32;
    const Case cases[] = {
        {0, kNever, false},
        {wrap - 16, kNever, false},                   // wraps at once
        {wrap - 2 * kTicksPerSecond, kNever, false},  // wraps half-way
        {wrap - 71590899 + 16, kNever, false},        // the deadline itself lands just past 0
        {wrap + 0x1000, kNever, false},               // a 64-bit counter read as its low dword
        {wrap - 16, 2 * static_cast<int64_t>(kSecond), true},
        {wrap - 2 * kTicksPerSecond, 4900000000ll, true},
        {wrap - 2 * kTicksPerSecond, 5100000000ll, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "counter 0x" << std::hex << c.counter << std::dec
                                          << ", ready after " << c.readyAfterNs << " ns");
        json me = c.readyAfterNs < 0 ? json{{"readyAfterNs", "never"}}
                                     : json{{"readyAfterNs", handshake + c.readyAfterNs}};
        auto b = Open(Patched(Patched(ShippedBoard("default"), kSlowReads),
                              {{"hpet", {{"counter", c.counter}}}, {"me", me}}));
        ASSERT_TRUE(b);
        Boot boot = Run(*b, {}, {}, nullptr, false);
        ASSERT_EQ(boot.outcome(), harness::Outcome::Returned);
        EXPECT_EQ(boot.postTimeNs[std::find(boot.post.begin(), boot.post.end(), 0x4E) -
                                  boot.post.begin()],
                  handshake);
        if (c.ready) {
            EXPECT_FALSE(HasPost(boot, 0x4A));
            EXPECT_EQ(Messages(boot),
                      (std::vector<std::vector<uint8_t>>{kDramInitDone, {0x88, 0, 0}}));
            continue;
        }
        // Five seconds on the counter, give or take one poll.
        EXPECT_TRUE(HasPost(boot, 0x4A));
        const uint64_t waited = boot.NsBetween(0x4E, 0x4A);
        EXPECT_GE(waited, 5 * kSecond);
        EXPECT_LT(waited, 5 * kSecond + 100000);
        EXPECT_TRUE(boot.messages.empty());
    }
}

TEST_F(Engine, MessagesGoInChunksTheHostBufferHolds) {
    struct Case {
        unsigned hostDepth, engineDepth;
        std::vector<uint32_t> window;  // dwords written to the host buffer
        unsigned chunks;
        size_t engineReads;  // dwords taken from the engine buffer
    };
    const Case cases[] = {
        {16, 16, {0x800A0001, 0x02020208, 0xA2A00204, 0x0000A6A4}, 1, 2},
        // Three payload dwords and the header fill a buffer of four.
        {4, 16, {0x800A0001, 0x02020208, 0xA2A00204, 0x0000A6A4}, 1, 2},
        // A buffer of three takes eight bytes, then the last two.
        {3, 4, {0x00080001, 0x02020208, 0xA2A00204, 0x80020001, 0x0000A6A4}, 2, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "host depth " << c.hostDepth);
        auto b =
            Open(Patched(ShippedBoard("default"),
                         {{"me", {{"hostDepth", c.hostDepth}, {"engineDepth", c.engineDepth}}}}));
        ASSERT_TRUE(b);
        Boot boot = Run(*b);
        ASSERT_EQ(boot.outcome(), harness::Outcome::Returned);
        EXPECT_EQ(boot.Writes(Space::Physical, kHostWindow, 4), c.window);
        EXPECT_TRUE(boot.Writes(Space::Physical, kHostWindow, 1).empty());
        ASSERT_EQ(boot.messages.size(), 2u);
        EXPECT_EQ(boot.messages[0].bytes, kDramInitDone);
        EXPECT_EQ(boot.messages[0].chunks, c.chunks);
        EXPECT_EQ(boot.Reads(Space::Physical, kEngineWindow), c.engineReads);
        EXPECT_TRUE(boot.violations.empty());
        EXPECT_FALSE(HasPost(boot, 0x4B));
    }
}

TEST_F(Engine, RepliesTheTransportOrTheMessageRefuse) {
    struct Case {
        const char* what;
        json patch;
        harness::Outcome outcome;
        uint32_t last;       // the last POST code: 0x45, or the halt
        uint32_t failure;    // 0x4B or 0x4C when the handshake gave up, else 0
        size_t engineReads;  // dwords taken from the engine buffer
        uint8_t reply1, reply2;
    };
    const json holds = {{"mc", {{"0xA30", "0x04000000"}}}};
    const auto replies = [](const json& r) { return json{{"me", {{"replies", r}}}}; };
    const Case cases[] = {
        {"a reply in two chunks",
         {{"me",
           {{"engineDepth", 3}, {"replies", {{"0x08", {{"length", 10}, {"status", {7, 9}}}}}}}}},
         harness::Outcome::Returned,
         0x45,
         0,
         5,
         7,
         9},
        {"a reply longer than the room: its payload is not read",
         replies({{"0x08", {{"length", 12}}}}), harness::Outcome::Returned, 0x45, 0x4B, 1, 0, 2},
        {"no reply within a second", replies({{"0x08", {{"silent", true}}}}),
         harness::Outcome::Returned, 0x45, 0x4B, 0, 0, 2},
        // An empty reply is received, but then says nothing of DRAM-init-done.
        {"a zero-length reply", replies({{"0x08", {{"length", 0}}}}), harness::Outcome::Halt,
         0xEEB1, 0, 1, 0, 0},
        {"a reply with another command byte", replies({{"0x08", {{"command", 0x89}}}}),
         harness::Outcome::Halt, 0xEEB1, 0, 2, 0, 0},
        {"command 0x0A answered wrongly", Patched(holds, replies({{"0x0A", {{"command", 0x0A}}}})),
         harness::Outcome::Halt, 0xEEB2, 0, 4, 0, 0},
        {"command 0x0A unanswered", Patched(holds, replies({{"0x0A", {{"silent", true}}}})),
         harness::Outcome::Returned, 0x45, 0x4C, 2, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto b = Open(Patched(Patched(ShippedBoard("default"), kSlowReads), c.patch));
        ASSERT_TRUE(b);
        Boot boot = Run(*b);
        EXPECT_EQ(boot.outcome(), c.outcome);
        ASSERT_FALSE(boot.post.empty());
        EXPECT_EQ(boot.post.back(), c.last);
        EXPECT_EQ(boot.Reads(Space::Physical, kEngineWindow), c.engineReads);
        if (c.outcome == harness::Outcome::Halt) {
            // A halt shows its code and tells the ME nothing more.
            EXPECT_EQ(boot.code(), c.last & 0xFF);
            EXPECT_EQ(boot.Writes(Space::Port, 0x80, 2), std::vector<uint32_t>{c.last});
            EXPECT_FALSE(boot.messages.back().toEngine);
            EXPECT_TRUE(boot.Writes(Space::Physical, Mc(0xA30), 4).empty());
            continue;
        }
        // A failed handshake only says so; the boot ends without the bit
        // that tells the ME memory is ready.
        EXPECT_EQ(HasPost(boot, 0x4B), c.failure == 0x4B);
        EXPECT_EQ(HasPost(boot, 0x4C), c.failure == 0x4C);
        EXPECT_EQ(boot.Writes(Space::Physical, Mc(0xA30), 4).size(), c.failure ? 0u : 1u);
        EXPECT_EQ(boot.result.output.engineReply1, c.reply1);
        EXPECT_EQ(boot.result.output.engineReply2, c.reply2);
    }
}

TEST_F(Engine, NoReplyFailsAfterOneSecondOfTheCounter) {
    auto b = Open(Patched(Patched(ShippedBoard("default"), kSlowReads),
                          {{"hpet", {{"counter", (1ull << 32) - 0x100}}},
                           {"me", {{"replies", {{"0x08", {{"silent", true}}}}}}}}));
    ASSERT_TRUE(b);
    Boot boot = Run(*b, {}, {}, nullptr, false);
    const uint64_t waited = boot.NsBetween(0x4E, 0x4B);
    EXPECT_GE(waited, kSecond);
    EXPECT_LT(waited, kSecond + 1000000);
}

u32 FatalStop25(MemInitInput*, MemInitOutput*) {
    FatalStop(0x25);
}

TEST_F(Engine, FatalStopShowsItsCodeThenTellsTheEngine) {
    auto b = Open(ShippedBoard("default"));
    ASSERT_TRUE(b);
    Boot boot = Run(*b, {}, {}, FatalStop25);
    EXPECT_EQ(boot.outcome(), harness::Outcome::Fatal);
    EXPECT_EQ(boot.code(), 0x25u);
    ASSERT_FALSE(boot.accesses().empty());
    EXPECT_TRUE(MatchesSteps(boot.accesses(), 0, {IoW(0x80, 0xEE25, 2)}, false));
    EXPECT_EQ(boot.post, std::vector<uint32_t>{0xEE25});
    // {0x08, 2, 2, 7, 0, 0, 0xA0, 0xA2, 0xA4, 0xA6} in one chunk.
    EXPECT_EQ(boot.Writes(Space::Physical, kHostWindow, 4),
              (std::vector<uint32_t>{0x800A0001, 0x07020208, 0xA2A00000, 0x0000A6A4}));
    ASSERT_EQ(boot.messages.size(), 2u);
    EXPECT_EQ(boot.messages[0].bytes, kFailedDramInitDone);
    EXPECT_EQ(boot.messages[1].bytes, (std::vector<uint8_t>{0x88, 0, 0}));
}

// The accesses from the identification of 0:3.0 that precedes each read of
// the engine buffer up to that read.
std::vector<std::vector<harness::Access>> BeforeEngineReads(const Boot& boot) {
    std::vector<std::vector<harness::Access>> out;
    const auto& a = boot.accesses();
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].write || a[i].address != kEngineWindow) {
            continue;
        }
        size_t from = i;
        while (from > 0 && !(a[from].address == Cfg(3, 0, 0) && !a[from].write)) {
            --from;
        }
        out.emplace_back(a.begin() + static_cast<long>(from), a.begin() + static_cast<long>(i) + 1);
    }
    return out;
}

TEST_F(Engine, Revision0EngineInterfaceTradesTheInterruptBitBeforeEachRead) {
    struct Case {
        const char* what;
        json patch;
        uint32_t id;
        uint8_t revision;
        bool handOff;
    };
    const Case cases[] = {
        {"revision 0 of the identified function", json::object(), 0x01107A5C, 0, true},
        {"another function at revision 0",
         {{"pci", {{"0:3.0", {{"0x00", "0x01117A5C"}}}}}},
         0x01117A5C,
         0,
         false},
        {"a later revision", {{"pci", {{"0:3.0", {{"0x08", 2}}}}}}, 0x01107A5C, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto b = Open(Patched(ShippedBoard("me-handoff"), c.patch));
        ASSERT_TRUE(b);
        Boot boot = Run(*b);
        ASSERT_EQ(boot.outcome(), harness::Outcome::Returned);
        EXPECT_FALSE(HasPost(boot, 0x4B));
        const auto reads = BeforeEngineReads(boot);
        ASSERT_EQ(reads.size(), 2u);  // the reply's header and its one payload dword
        for (const std::vector<harness::Access>& before : reads) {
            // The revision counts only for the identified function.
            std::vector<Step> want = {MemR(4, Cfg(3, 0, 0), c.id)};
            if (c.id == 0x01107A5C) {
                want.push_back(MemR(1, Cfg(3, 0, 8), c.revision));
            }
            if (c.handOff) {
                // The state corvex noted, from its first read of 0:3.0 register 0x40.
                uint32_t s = 0;
                for (const harness::Access& a : before) {
                    if (a.address == Cfg(3, 0, 0x40)) {
                        s = a.value & 0xC00;
                        break;
                    }
                }
                // Until the engine has cleared bit 2, note the state, set
                // bit 2, and wait until the engine moves bits 11:10.
                const std::vector<Step> handOff = {
                    Poll(MemR(4, kHostControl, 0x4, 0x4), 1, 0),
                    MemR(4, kHostControl, 0, 0x4),
                    MemR(4, Cfg(3, 0, 0x40), s, 0xC00),
                    MemR(4, kHostControl, 0, 0x4),
                    Masked(MemW(4, kHostControl, 0x4), 0x4),
                    Poll(MemR(4, Cfg(3, 0, 0x40), s, 0xC00), 1, 0),
                    MemR(4, Cfg(3, 0, 0x40), 0, 0),
                };
                want.insert(want.end(), handOff.begin(), handOff.end());
            }
            want.push_back(MemR(4, kEngineWindow, 0, 0));
            EXPECT_TRUE(MatchesSteps(before, 0, want));
        }
    }
}

TEST_F(Engine, AHandOffTheEngineNeverAnswersWaitsForever) {
    for (const char* fault : {"clearsInterrupt", "togglesStatus"}) {
        SCOPED_TRACE(fault);
        auto b = Open(Patched(ShippedBoard("me-handoff"), {{"me", {{fault, false}}}}));
        ASSERT_TRUE(b);
        b->SetHangBudgetNs(200000000);
        Boot boot = Run(*b, {}, {}, nullptr, false);
        EXPECT_EQ(boot.outcome(), harness::Outcome::Hang);
        EXPECT_EQ(boot.post.back(), 0x4Eu);
    }
}

TEST_F(Engine, ASilentMeCostsTheHandshakeFiveSecondsAndTheBootGoesOn) {
    auto b = Open(Patched(ShippedBoard("silent-me"), kSlowReads));
    ASSERT_TRUE(b);
    Boot boot = Run(*b, {}, {}, nullptr, false);
    EXPECT_EQ(boot.outcome(), harness::Outcome::Returned);
    const std::vector<uint32_t> tail = {0x44, 0x4E, 0x4A, 0x45};
    ASSERT_GE(boot.post.size(), tail.size());
    EXPECT_EQ(std::vector<uint32_t>(boot.post.end() - 4, boot.post.end()), tail);
    EXPECT_TRUE(boot.messages.empty());
    EXPECT_EQ(boot.result.output.engineReply1, 0);
    EXPECT_EQ(boot.result.output.engineReply2, 2);
    EXPECT_EQ(boot.result.output.engineChANone, 1);
    // The configuration is still saved.
    EXPECT_EQ(b->CmosByte(0x85), boot.result.output.savedConfig[0] & 0xFF);
}

TEST_F(Engine, AFatalStopWithASilentMeWaitsInTheTransportForever) {
    // Nothing to boot from: FatalStop(0xE8) before the HPET was ever enabled.
    json board = ShippedBoard("silent-me");
    board.erase("dimms");
    auto b = Open(board);
    ASSERT_TRUE(b);
    b->SetHangBudgetNs(200000000);
    Boot boot = Run(*b);
    EXPECT_EQ(boot.outcome(), harness::Outcome::Hang);
    EXPECT_EQ(boot.post.back(), 0xEEE8u);
    EXPECT_TRUE(boot.messages.empty());
    // Its time-outs read a counter that does not respond: the HPET's decode
    // was never enabled, so every read gives all ones.
    EXPECT_TRUE(boot.Writes(Space::Physical, kHpetDecode).empty());
    EXPECT_GT(boot.Reads(Space::Physical, kHpetCounter), 1000u);
    for (const harness::Access& a : boot.accesses()) {
        if (a.address == kHpetCounter) {
            EXPECT_EQ(a.value, 0xFFFFFFFFu);
            break;
        }
    }
    EXPECT_GT(boot.Reads(Space::Physical, kEngineStatus), 1000u);
}

}  // namespace
}  // namespace cvxboard
