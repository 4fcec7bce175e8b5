// The boot harness with a scripted entry in place of corvex: how each way of
// ending a boot becomes an outcome, and what is recorded.
#include <cstdio>
#include <functional>

#include "corvex/platform/host/host_bus.h"
#include "corvex/platform/platform.h"
#include "tests/memboard/board_fixture.h"
#include "tools/harness/harness.h"

namespace {

std::function<u32(MemInitInput*, MemInitOutput*)> g_script;
bool g_after = false;

}  // namespace

extern "C" u32 MemInitEntry(MemInitInput* input, MemInitOutput* output) {
    return g_script(input, output);
}

namespace boardtest {
namespace {

harness::BootResult Boot(Board& b, std::function<u32(MemInitInput*, MemInitOutput*)> script,
                         bool keep = false, FILE* trace = nullptr) {
    g_script = std::move(script);
    g_after = false;
    harness::BootOptions options;
    options.keepAccesses = keep;
    options.trace = trace;
    MemInitInput input{};
    input.bootMode = 1;
    return harness::RunBoot(b, input, MemInitOutput{}, options);
}

TEST(Harness, OutcomesOfEveryEnding) {
    struct Case {
        const char* name;
        std::function<u32(MemInitInput*, MemInitOutput*)> script;
        harness::Outcome outcome;
        uint32_t code;
    };
    const Case cases[] = {
        {"returned", [](MemInitInput*, MemInitOutput*) { return 7u; }, harness::Outcome::Returned,
         0},
        {"fatal",
         [](MemInitInput*, MemInitOutput*) -> u32 {
             CorvexHostWrite(kHostBusPort, 0x80, 2, 0xEE25);
             CorvexHostStop(kStopFatal | 0x25);
         },
         harness::Outcome::Fatal, 0x25},
        {"halt", [](MemInitInput*, MemInitOutput*) -> u32 { CorvexHostStop(kStopHalt | 0xB1); },
         harness::Outcome::Halt, 0xB1},
        {"reset not taken",
         [](MemInitInput*, MemInitOutput*) -> u32 {
             CorvexHostWrite(kHostBusPort, 0xCF9, 1, 0x02);
             CorvexHostStop(kStopReset);
         },
         harness::Outcome::Halt, 0},
        {"reset",
         [](MemInitInput*, MemInitOutput*) -> u32 {
             CorvexHostWrite(kHostBusPort, 0xCF9, 1, 0x0E);
             g_after = true;
             return 0;
         },
         harness::Outcome::Reset, 0x0E},
        {"hang",
         [](MemInitInput*, MemInitOutput*) -> u32 {
             CorvexHostWrite(kHostBusPhysical, 0xE0000048, 4, 0xFED14001);
             while (!(CorvexHostRead(kHostBusPhysical, 0xFED141A8, 1) & 0x01)) {
             }
             g_after = true;
             return 0;
         },
         harness::Outcome::Hang, 0},
    };
    auto b = MakeBoard();
    b->SetHangBudgetNs(1000000);
    for (const Case& c : cases) {
        harness::BootResult r = Boot(*b, c.script);
        EXPECT_STREQ(harness::OutcomeName(r.outcome), harness::OutcomeName(c.outcome)) << c.name;
        EXPECT_EQ(r.code, c.code) << c.name;
        EXPECT_FALSE(g_after) << c.name << ": the boot went on after its end";
        if (c.outcome == harness::Outcome::Returned) {
            EXPECT_EQ(r.returnValue, 7u);
        }
        b->PlatformReset();
    }
}

TEST(Harness, RecordsEveryAccessInOrder) {
    auto b = MakeBoard();
    std::FILE* trace = std::tmpfile();
    harness::BootResult r = Boot(
        *b,
        [](MemInitInput* in, MemInitOutput* out) -> u32 {
            CorvexHostWrite(kHostBusPort, 0x80, 1, 0xA0);
            u32 id = CorvexHostRead(kHostBusPhysical, 0xE0000000, 4);
            CorvexHostWrite(kHostBusPhysical, 0xE00000DF, 1, 0x13);
            out->engineReply2 = static_cast<u8>(in->bootMode + 1);
            return id;
        },
        true, trace);
    ASSERT_EQ(r.accesses.size(), 3u);
    EXPECT_EQ(r.accessCount, 3u);
    EXPECT_EQ(r.returnValue, 0x01007A5Cu);
    EXPECT_EQ(r.output.engineReply2, 2);
    const harness::Access& a = r.accesses[1];
    EXPECT_EQ(a.space, Space::Physical);
    EXPECT_FALSE(a.write);
    EXPECT_EQ(a.width, 4);
    EXPECT_EQ(a.address, 0xE0000000u);
    EXPECT_EQ(a.value, 0x01007A5Cu);
    EXPECT_TRUE(r.accesses[0].write);
    EXPECT_EQ(r.accesses[0].space, Space::Port);
    std::rewind(trace);
    char line[128];
    std::vector<std::string> lines;
    while (std::fgets(line, sizeof line, trace)) {
        lines.push_back(line);
    }
    std::fclose(trace);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find(" io W1 0x0080 0xA0"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(" mem R4 0xE0000000 0x01007A5C"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find(" mem W1 0xE00000DF 0x13"), std::string::npos) << lines[2];
}

}  // namespace
}  // namespace boardtest
