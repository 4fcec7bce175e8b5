// The ME transport and its messages against scripted register values: the
// wrap-around deadline, chunking of sends, receives that must never store past
// the buffer they were given, and what FatalStop tells the ME.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "corvex/config/entry.h"
#include "corvex/config/registers.h"
#include "corvex/dram/engine_messaging.h"
#include "corvex/dram/fatal_stop.h"
#include "tests/corvex/scripted_bus.h"

namespace {

const uint32_t kPhys = kHostBusPhysical;
const uint32_t kPort = kHostBusPort;
const uint32_t kBase = ENGINE_IF_BASE;
const uint32_t kHostWindow = kBase + 0x0;
const uint32_t kHostControl = kBase + 0x4;
const uint32_t kEngineWindow = kBase + 0x8;
const uint32_t kEngineStatus = kBase + 0xC;
const uint32_t kReady = 1u << 3;

// Pointer register value: depth, write and read pointers, flags.
uint32_t Pointers(uint32_t depth, uint32_t write, uint32_t read, uint32_t flags) {
    return depth << 24 | (write & 0xFF) << 16 | (read & 0xFF) << 8 | flags;
}

class EngineMessaging : public ::testing::Test {
  protected:
    void SetUp() override {
        scriptbus::Reset();
        // Time moves fast enough that a time-out ends within a few hundred polls.
        scriptbus::Ramp(kPhys, HPET_MAIN_COUNTER, 0x1000, 0x00010000);
    }
};

struct DeadlineCase {
    uint32_t start;
    uint32_t end;
    uint32_t now;
    bool passed;
};

TEST_F(EngineMessaging, DeadlinePassedAllowsForTheCounterWrapping) {
    const DeadlineCase cases[] = {
        {0x100, 0x200, 0x0FF, true},  // counter wrapped all the way round
        {0x100, 0x200, 0x100, false},
        {0x100, 0x200, 0x1FF, false},
        {0x100, 0x200, 0x200, true},
        {0x500, 0x500, 0x500, true},  // an empty window has always ended
        {0xFFFFFFF0, 0x00DA7A53, 0xFFFFFFF0, false},
        {0xFFFFFFF0, 0x00DA7A53, 0x00000010, false},
        {0xFFFFFFF0, 0x00DA7A53, 0x00DA7A52, false},
        {0xFFFFFFF0, 0x00DA7A53, 0x00DA7A60, true},
        {0xFFFFFFF0, 0x00DA7A53, 0xFFFFFFEF, true},
    };
    for (const DeadlineCase& c : cases) {
        scriptbus::Reset();
        scriptbus::Script(kPhys, HPET_MAIN_COUNTER, {c.now});
        EXPECT_EQ(DeadlinePassed(c.start, c.end), c.passed)
            << std::hex << "start 0x" << c.start << " end 0x" << c.end << " now 0x" << c.now;
        ASSERT_EQ(scriptbus::Log().size(), 1u);
        EXPECT_EQ(scriptbus::Log()[0].width, 4u);
    }
}

TEST_F(EngineMessaging, SendCutsTheMessageIntoChunksTheHostBufferHolds) {
    struct SendCase {
        uint32_t depth;
        uint32_t length;
        std::vector<uint32_t> window;  // dwords written to the host buffer
    };
    // The upper bytes of the last dword are not part of the message.
    const std::array<uint32_t, 3> message = {0x07020208, 0xA2A00000, 0xFFFFA6A4};
    const SendCase cases[] = {
        {4, 10, {0x800A0001, 0x07020208, 0xA2A00000, 0x0000A6A4}},
        {3, 10, {0x00080001, 0x07020208, 0xA2A00000, 0x80020001, 0x0000A6A4}},
        {8, 2, {0x80020001, 0x00000208}},
        {8, 0, {}},
    };
    for (const SendCase& c : cases) {
        SetUp();
        scriptbus::Script(kPhys, kHostControl, {Pointers(c.depth, 0, 0, 0)});
        scriptbus::Script(kPhys, kEngineStatus, {kReady});
        EXPECT_TRUE(EngineSend(message.data(), kBase, c.length, 0, 1));
        EXPECT_EQ(scriptbus::Writes(kPhys, kHostWindow, 4), c.window) << "depth " << c.depth;
        // Each chunk raises the interrupt-generate bit once.
        const size_t chunks = c.length == 0 ? 0 : (c.depth == 3 ? 2 : 1);
        EXPECT_EQ(scriptbus::Writes(kPhys, kHostControl, 4),
                  std::vector<uint32_t>(chunks, Pointers(c.depth, 0, 0, 1u << 2)));
    }
}

TEST_F(EngineMessaging, SendFailsWhenTheHostBufferCanNeverCarryAPayload) {
    const std::array<uint32_t, 3> message = {1, 2, 3};
    for (uint32_t depth : {0u, 1u}) {
        SetUp();
        scriptbus::Script(kPhys, kHostControl, {Pointers(depth, 0, 0, 0)});
        scriptbus::Script(kPhys, kEngineStatus, {kReady});
        EXPECT_FALSE(EngineSend(message.data(), kBase, 10, 0, 1)) << "depth " << depth;
        EXPECT_TRUE(scriptbus::Writes(kPhys, kHostWindow, 4).empty());
    }
}

TEST_F(EngineMessaging, SendTimesOutWhenTheEngineIsNotReadyOrTheBufferStaysFull) {
    const std::array<uint32_t, 1> message = {0x0000010A};
    // Engine never ready.
    scriptbus::Script(kPhys, kHostControl, {Pointers(8, 0, 0, 0)});
    EXPECT_FALSE(EngineSend(message.data(), kBase, 2, 0, 1));
    EXPECT_TRUE(scriptbus::Writes(kPhys, kHostWindow, 4).empty());
    // Ready, but more dwords waiting than the buffer holds: no room, ever.
    SetUp();
    scriptbus::Script(kPhys, kHostControl, {Pointers(8, 9, 0, 0)});
    scriptbus::Script(kPhys, kEngineStatus, {kReady});
    EXPECT_FALSE(EngineSend(message.data(), kBase, 2, 0, 1));
    EXPECT_TRUE(scriptbus::Writes(kPhys, kHostWindow, 4).empty());
}

TEST_F(EngineMessaging, ReceiveStoresNoMoreThanTheCapacityWhateverTheEngineSends) {
    struct ReceiveCase {
        const char* name;
        std::vector<uint32_t> window;  // header and payload dwords the engine offers
        bool ok;
        uint32_t length;
        std::vector<uint32_t> stored;  // buffer dwords 0..2 afterwards
        size_t windowReads;
    };
    const uint32_t g = 0xCAFEF00D;  // untouched buffer dword
    const ReceiveCase cases[] = {
        {"ten bytes, one chunk",
         {0x800A0001, 0x11, 0x22, 0x33, 0x44},
         true,
         10,
         {0x11, 0x22, 0x33},
         4},
        {"two chunks", {0x00080001, 0x11, 0x22, 0x80020001, 0x33}, true, 10, {0x11, 0x22, 0x33}, 5},
        {"longer than the room", {0x800C0001, 0x11, 0x22, 0x33}, false, 0, {g, g, g}, 1},
        {"second chunk overflows",
         {0x00080001, 0x11, 0x22, 0x80040001, 0x33},
         false,
         0,
         {0x11, 0x22, g},
         4},
        {"empty message", {0x80000001}, true, 0, {g, g, g}, 1},
        {"empty chunk after data",
         {0x00080001, 0x11, 0x22, 0x80000001},
         false,
         0,
         {0x11, 0x22, g},
         4},
        {"capacity filled without the last chunk",
         {0x00080001, 0x11, 0x22, 0x00020001, 0x33},
         false,
         0,
         {0x11, 0x22, 0x33},
         5},
    };
    for (const ReceiveCase& c : cases) {
        SetUp();
        scriptbus::Script(kPhys, kEngineStatus, {Pointers(8, 4, 0, kReady)});
        scriptbus::Script(kPhys, kEngineWindow, c.window);
        // A 10-byte capacity is three dwords; the fourth guards the end.
        std::array<uint32_t, 4> buffer = {g, g, g, g};
        u32 length = 10;
        EXPECT_EQ(EngineReceive(true, kBase, buffer.data(), &length), c.ok) << c.name;
        EXPECT_EQ(length, c.length) << c.name;
        EXPECT_EQ(std::vector<uint32_t>(buffer.begin(), buffer.begin() + 3), c.stored) << c.name;
        EXPECT_EQ(buffer[3], g) << c.name;
        EXPECT_EQ(scriptbus::Reads(kPhys, kEngineWindow), c.windowReads) << c.name;
    }
}

TEST_F(EngineMessaging, ReceiveFailsWhenTheEngineDropsReadyOrHasNothingToSay) {
    std::array<uint32_t, 3> buffer = {};
    // Ready for the header, gone after the payload.
    const uint32_t ready = Pointers(8, 4, 0, kReady);
    scriptbus::Script(kPhys, kEngineStatus, {ready, ready, ready, Pointers(8, 4, 0, 0)});
    scriptbus::Script(kPhys, kEngineWindow, {0x80020001, 0x0000018A});
    u32 length = 10;
    EXPECT_FALSE(EngineReceive(true, kBase, buffer.data(), &length));
    EXPECT_EQ(length, 0u);
    // Non-blocking with an empty engine buffer, and a zero capacity.
    SetUp();
    length = 10;
    EXPECT_FALSE(EngineReceive(false, kBase, buffer.data(), &length));
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(scriptbus::Reads(kPhys, kEngineWindow), 0u);
    length = 0;
    EXPECT_FALSE(EngineReceive(true, kBase, buffer.data(), &length));
}

TEST_F(EngineMessaging, FatalStopShowsTheCodeThenTellsTheEngineAndStops) {
    scriptbus::Script(kPhys, kHostControl, {Pointers(8, 0, 0, 0)});
    scriptbus::Script(kPhys, kEngineStatus, {Pointers(8, 0, 0, kReady)});  // no reply ever
    const auto reason = scriptbus::RunUntilStop([] { FatalStop(0x25); });
    ASSERT_TRUE(reason.has_value());
    EXPECT_EQ(*reason, kStopFatal | 0x25u);
    const auto& log = scriptbus::Log();
    ASSERT_FALSE(log.empty());
    EXPECT_TRUE(log[0].write && log[0].space == kPort && log[0].address == PORT_POST &&
                log[0].width == 2 && log[0].value == 0xEE25);
    // {0x08, 2, 2, 7, 0, 0, 0xA0, 0xA2, 0xA4, 0xA6}
    EXPECT_EQ(scriptbus::Writes(kPhys, kHostWindow, 4),
              (std::vector<uint32_t>{0x800A0001, 0x07020208, 0xA2A00000, 0x0000A6A4}));
}

TEST_F(EngineMessaging, DramInitDoneReportsTheConfigurationAndCopiesTheReply) {
    scriptbus::Script(kPhys, kHostControl, {Pointers(8, 0, 0, 0)});
    scriptbus::Script(kPhys, kEngineStatus, {Pointers(8, 1, 0, kReady)});
    scriptbus::Script(kPhys, kEngineWindow, {0x80030001, 0x00341288});
    MemConfig config = {};
    config.ddrFreq = 2;
    config.tckMax533Ok = 0;
    config.chASizeMb = 0;
    MemInitOutput output = {};
    EXPECT_TRUE(SendDramInitDone(&config, &output));
    EXPECT_EQ(scriptbus::Writes(kPhys, kHostWindow, 4),
              (std::vector<uint32_t>{0x800A0001, 0x06020208, 0xA2A00103, 0x0000A6A4}));
    EXPECT_EQ(output.engineChANone, 1);
    EXPECT_EQ(output.engineReply1, 0x12);
    EXPECT_EQ(output.engineReply2, 0x34);

    // A reply to something else halts without a message.
    SetUp();
    scriptbus::Script(kPhys, kHostControl, {Pointers(8, 0, 0, 0)});
    scriptbus::Script(kPhys, kEngineStatus, {Pointers(8, 1, 0, kReady)});
    scriptbus::Script(kPhys, kEngineWindow, {0x80030001, 0x0034128A});
    config.chASizeMb = 512;
    config.tckMax533Ok = 1;
    const auto reason = scriptbus::RunUntilStop([&] { SendDramInitDone(&config, &output); });
    ASSERT_TRUE(reason.has_value());
    EXPECT_EQ(*reason, kStopHalt | 0xB1u);
    EXPECT_EQ(scriptbus::Writes(kPort, PORT_POST, 2), std::vector<uint32_t>{0xEEB1});
    EXPECT_EQ(scriptbus::Writes(kPhys, kHostWindow, 4)[1], 0x00020208u);
    EXPECT_EQ(output.engineChANone, 0);
}

TEST_F(EngineMessaging, DdrFreqOverrideAboveDdr2800StopsTheBoot) {
    MemInitInput input = {};
    for (u8 value : {0, 1, 3}) {
        input.ddrFreqOverride = value;
        EXPECT_EQ(DdrFreqOverride(&input), value);
    }
    for (u8 value : {4, 0xFF}) {
        SetUp();
        input.ddrFreqOverride = value;
        const auto reason = scriptbus::RunUntilStop([&] { DdrFreqOverride(&input); });
        ASSERT_TRUE(reason.has_value());
        EXPECT_EQ(*reason, kStopFatal | kFatalDdrFreqOverride);
        EXPECT_EQ(scriptbus::Writes(kPort, PORT_POST, 2), std::vector<uint32_t>{0xEEE6});
    }
}

}  // namespace
