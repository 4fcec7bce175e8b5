// The ME host interface and its engine, driven by a plain host-side client
// of the buffer protocol.
#include <functional>

#include "tests/memboard/board_fixture.h"

namespace boardtest {
namespace {

constexpr uint32_t kIf = 0xFED10000;
constexpr uint64_t kSecond = 1000000000;

uint32_t Control(Board& b) {
    return Rd(b, kIf + 4);
}
uint32_t Status(Board& b) {
    return Rd(b, kIf + 0xC);
}
unsigned Fill(uint32_t word) {
    return static_cast<uint8_t>((word >> 16) - (word >> 8));
}

bool WaitFor(Board& b, const std::function<bool()>& done, uint64_t ns = kSecond) {
    uint64_t end = b.NowNs() + ns;
    while (b.NowNs() < end) {
        if (done()) {
            return true;
        }
    }
    return false;
}

void SetInterruptGenerate(Board& b) {
    Wr(b, kIf + 4, Control(b) | 0x04);
}

// Sends a message in chunks that fit the host buffer.
bool Send(Board& b, const std::vector<uint8_t>& bytes) {
    unsigned depth = Control(b) >> 24;
    size_t sent = 0;
    while (sent < bytes.size()) {
        size_t remaining = bytes.size() - sent;
        bool last = (remaining + 3) / 4 < depth;
        size_t chunk = last ? remaining : (depth - 1) * 4;
        unsigned need = static_cast<unsigned>((chunk + 3) / 4 + 1);
        if (!WaitFor(b, [&] { return (Status(b) & 0x08) && depth - Fill(Control(b)) >= need; })) {
            return false;
        }
        Wr(b, kIf, 0x01 | static_cast<uint32_t>(chunk) << 16 | (last ? 0x80000000u : 0));
        for (size_t i = 0; i < chunk; i += 4) {
            uint32_t d = 0;
            for (size_t k = 0; k < 4 && i + k < chunk; ++k) {
                d |= static_cast<uint32_t>(bytes[sent + i + k]) << (8 * k);
            }
            Wr(b, kIf, d);
        }
        SetInterruptGenerate(b);
        sent += chunk;
    }
    return true;
}

struct Reply {
    bool ok = false;
    std::vector<uint8_t> bytes;
    unsigned chunks = 0;
};

Reply Receive(Board& b, size_t room) {
    Reply r;
    while (true) {
        if (!WaitFor(b, [&] { return Fill(Status(b)) > 0; })) {
            return r;
        }
        uint32_t header = Rd(b, kIf + 8);
        unsigned len = (header >> 16) & 0x1FF;
        ++r.chunks;
        if (len > room - r.bytes.size()) {
            return r;
        }
        if (!WaitFor(b, [&] { return Fill(Status(b)) >= (len + 3) / 4; })) {
            return r;
        }
        for (unsigned i = 0; i < len; i += 4) {
            uint32_t d = Rd(b, kIf + 8);
            for (unsigned k = 0; k < 4 && i + k < len; ++k) {
                r.bytes.push_back(static_cast<uint8_t>(d >> (8 * k)));
            }
        }
        SetInterruptGenerate(b);
        if (header & 0x80000000u) {
            r.ok = true;
            return r;
        }
    }
}

const std::vector<uint8_t> kDramInitDone = {0x08, 2, 2, 0, 4, 2, 0xA0, 0xA2, 0xA4, 0xA6};
const std::vector<uint8_t> kCommand0A = {0x0A, 0x01};

TEST(Engine, MessagesRepliesAndFaults) {
    struct Case {
        const char* name;
        const char* me;
        std::vector<uint8_t> request;
        bool sendOk;
        bool replyOk;
        std::vector<uint8_t> reply;
        unsigned requestChunks;
    };
    const Case cases[] = {
        {"dram-init-done",
         R"({"replies": {"0x08": {"status": ["0x12", "0x34"]}}})",
         kDramInitDone,
         true,
         true,
         {0x88, 0x12, 0x34},
         1},
        {"command 0x0A",
         R"({"replies": {"0x0A": {"status": ["0x56"]}}})",
         kCommand0A,
         true,
         true,
         {0x8A, 0x56},
         1},
        {"wrong reply command",
         R"({"replies": {"0x08": {"command": "0x89"}}})",
         kDramInitDone,
         true,
         true,
         {0x89, 0, 0},
         1},
        {"reply longer than the room",
         R"({"replies": {"0x0A": {"length": 12}}})",
         kCommand0A,
         true,
         false,
         {},
         1},
        {"zero-length reply",
         R"({"replies": {"0x0A": {"length": 0}}})",
         kCommand0A,
         true,
         true,
         {},
         1},
        {"no reply",
         R"({"replies": {"0x08": {"silent": true}}})",
         kDramInitDone,
         true,
         false,
         {},
         1},
        {"never ready", R"({"readyAfterNs": "never"})", kDramInitDone, false, false, {}, 0},
        {"ready late",
         R"({"readyAfterNs": 300000000})",
         kDramInitDone,
         true,
         true,
         {0x88, 0, 0},
         1},
        {"small buffers",
         R"({"hostDepth": 3, "engineDepth": 4})",
         kDramInitDone,
         true,
         true,
         {0x88, 0, 0},
         2},
        {"host depth 4", R"({"hostDepth": 4})", kDramInitDone, true, true, {0x88, 0, 0}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto b = MakeBoard(std::string(R"({"me": )") + c.me + "}");
        ASSERT_EQ(Send(*b, c.request), c.sendOk);
        Reply r = Receive(*b, c.request.size());
        EXPECT_EQ(r.ok, c.replyOk);
        if (c.replyOk) {
            EXPECT_EQ(r.bytes, c.reply);
        }
        if (!c.sendOk) {
            EXPECT_TRUE(b->EngineMessages().empty());
            continue;
        }
        ASSERT_GE(b->EngineMessages().size(), 1u);
        const memboard::EngineMessage& m = b->EngineMessages()[0];
        EXPECT_TRUE(m.toEngine);
        EXPECT_EQ(m.bytes, c.request);
        EXPECT_EQ(m.chunks, c.requestChunks);
        EXPECT_EQ(m.engineAddress, 1);
        bool answered = b->EngineMessages().size() == 2;
        EXPECT_EQ(answered, std::string(c.name) != "no reply");
        if (answered && c.replyOk) {
            EXPECT_EQ(b->EngineMessages()[1].bytes, c.reply);
        }
        EXPECT_TRUE(b->Violations().empty()) << b->Violations()[0].what;
    }
}

TEST(Engine, ReplyChunksFollowTheEngineDepth) {
    auto b = MakeBoard(R"({"me": {"engineDepth": 2, "replies": {"0x08": {"length": 10}}}})");
    ASSERT_TRUE(Send(*b, kDramInitDone));
    // The engine announces a chunk through interrupt status; writing one clears it.
    ASSERT_TRUE(WaitFor(*b, [&] { return Fill(Status(*b)) > 0; }));
    EXPECT_TRUE(Control(*b) & 0x02);
    Wr(*b, kIf + 4, Control(*b) & ~0x04u);
    EXPECT_FALSE(Control(*b) & 0x02);
    Reply r = Receive(*b, 10);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.chunks, 3u);  // 4 + 4 + 2 bytes, one payload dword each
    EXPECT_EQ(r.bytes.size(), 10u);
}

TEST(Engine, AcknowledgesEachLookAtTheHostBuffer) {
    struct Case {
        const char* me;
        bool clears;
        bool toggles;
    };
    const Case cases[] = {
        {R"({})", true, true},
        {R"({"togglesStatus": false})", true, false},
        {R"({"clearsInterrupt": false})", false, true},
        {R"({"readyAfterNs": "never"})", false, false},  // nobody there to look
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.me);
        auto b = MakeBoard(std::string(R"({"me": )") + c.me + "}");
        uint32_t engineReg = Pci(3, 0, 0x40);
        for (unsigned look = 1; look <= 5; ++look) {
            SetInterruptGenerate(*b);
            EXPECT_TRUE(Control(*b) & 0x04);
            Wait(*b, 50000);
            EXPECT_EQ((Control(*b) & 0x04) == 0, c.clears);
            unsigned counter = (Rd(*b, engineReg) >> 10) & 3;
            EXPECT_EQ(counter, c.toggles ? look % 4 : 0u);
            if (!c.clears) {
                break;
            }
        }
        // Software cannot write the counter or clear interrupt generate itself.
        Wr(*b, engineReg, 0);
        Wr(*b, kIf + 4, 0);
        EXPECT_EQ((Control(*b) & 0x04) != 0, !c.clears);
    }
}

TEST(Engine, HostBufferOverflowIsRecorded) {
    auto b = MakeBoard(R"({"me": {"hostDepth": 3}})");
    for (int i = 0; i < 4; ++i) {
        Wr(*b, kIf, 0x00040001);
    }
    EXPECT_EQ(Fill(Control(*b)), 3u);
    ASSERT_EQ(b->Violations().size(), 1u);
    EXPECT_NE(b->Violations()[0].what.find("overflow"), std::string::npos);
    EXPECT_EQ(Rd(*b, kIf + 8), 0u);  // an empty engine buffer
    EXPECT_EQ(b->Violations().size(), 2u);
}

TEST(Engine, PointersAndDepthsReadAsBytes) {
    auto b = MakeBoard(R"({"me": {"hostDepth": 5, "engineDepth": 7}})");
    Wr(*b, kIf, 0x80000001);  // a zero-length complete message
    EXPECT_EQ(Rd(*b, kIf + 7, 1), 5u);
    EXPECT_EQ(Rd(*b, kIf + 6, 1), 1u);
    EXPECT_EQ(Rd(*b, kIf + 5, 1), 0u);
    SetInterruptGenerate(*b);
    Wait(*b, 50000);
    EXPECT_EQ(Rd(*b, kIf + 5, 1), 1u);  // taken by the engine
    EXPECT_EQ(Rd(*b, kIf + 0xF, 1), 7u);
}

}  // namespace
}  // namespace boardtest
