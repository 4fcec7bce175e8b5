// Data rate, CAS latency and timings chosen from the real dumps: agreement
// with the peer decoder's published readings, where the search starts, the
// latencies it may and may not take, and the stops when nothing fits.
#include <gtest/gtest.h>

#include "corvex/config/timings.h"
#include "tests/corvex_dimm/dimm_bench.h"

namespace dimmtest {
namespace {

struct Dimm {
    int slot;
    Spd spd;
};

// The module with 50 ohm on-die termination (byte 22 bit 1), which the
// search needs on every DIMM to go above DDR2-533.
Spd WithOdt(Spd spd) {
    spd.at(22) |= 0x02;
    return spd;
}

const uint16_t kRate[] = {400, 533, 667, 800};

using Timings = DimmBench;

TEST_F(Timings, ChosenSettingsAgreeWithThePeerDecoderAtTheChosenRate) {
    struct Case {
        const char* what;
        Spd spd;
        uint8_t capability;
        uint16_t rate;            // MT/s corvex chooses
        int cl, tRcd, tRp, tRas;  // the peer's reading at that rate
    };
    // Desktop dumps are run as SO-DIMMs (byte 20 patched to 4).
    const Case cases[] = {
        {"Crucial SO-DIMM", LoadSpd(kCrucial800), kUpTo800, 800, 6, 6, 6, 18},
        {"Crucial SO-DIMM", LoadSpd(kCrucial800), kUpTo667, 667, 5, 5, 5, 15},
        {"Crucial SO-DIMM", LoadSpd(kCrucial800), kUpTo533, 533, 4, 4, 4, 12},
        {"2 GB UDIMM", AsSoDimm(kUdimm800), kUpTo800, 800, 5, 5, 5, 18},
        {"2 GB UDIMM", AsSoDimm(kUdimm800), kUpTo667, 667, 5, 5, 5, 15},
        {"2 GB UDIMM", AsSoDimm(kUdimm800), kUpTo533, 533, 4, 4, 4, 12},
        // Rated 3.0 ns at its highest latency: DDR2-800 is out of reach.
        {"Transcend UDIMM", AsSoDimm(kUdimmTranscend), kUpTo800, 667, 5, 5, 5, 15},
        {"Transcend UDIMM", AsSoDimm(kUdimmTranscend), kUpTo533, 533, 4, 4, 4, 12},
        // No 50 ohm termination: the search starts at DDR2-533.
        {"Infineon UDIMM", AsSoDimm(kUdimmInfineon), kUpTo800, 533, 4, 4, 4, 12},
        // With it (byte 22 bit 1 set as well) 3.75 ns still keeps it at 533,
        // where CL5 and CL4 are both rated and the lower is taken.
        {"Infineon UDIMM with ODT", WithOdt(AsSoDimm(kUdimmInfineon)), kUpTo800, 533, 4, 4, 4, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.what << " @" << c.rate);
        Platform platform;
        platform.ddrCapability = c.capability;
        Reset(platform);
        PutDimm(0, c.spd);
        Outcome run = Detect();
        ASSERT_FALSE(run.stop.has_value()) << std::hex << *run.stop;
        EXPECT_EQ(kRate[config.ddrFreq], c.rate);
        EXPECT_EQ(config.casLatency + 3, c.cl);
        EXPECT_EQ(config.tRcd + 3, c.tRcd);
        EXPECT_EQ(config.tRp + 3, c.tRp);
        EXPECT_EQ(config.tRas + 9, c.tRas);
    }
}

TEST_F(Timings, TheSearchStartsWhereBusCapabilityTerminationAndOverrideAllow) {
    struct Case {
        const char* what;
        std::vector<Dimm> dimms;
        uint8_t fsbStrap;
        uint8_t capability;
        uint8_t ddrFreqOverride;
        uint8_t fsbFreq, ddrFreq, cl;
    };
    const Spd crucial = LoadSpd(kCrucial800);
    const Spd noOdt = Patched(crucial, {{22, 0x01}});
    // Highest latencies 5 and 4: candidate 3 is judged on the first DIMM two
    // steps down (bytes 25/26) and on the second one step down (23/24).
    const Spd top5 = Patched(crucial, {{18, 0x38}, {25, 0x30}, {26, 0x45}, {23, 0x30}, {24, 0x45}});
    const Spd top4 = Patched(crucial, {{18, 0x18}, {23, 0x30}, {24, 0x45}, {25, 0x50}, {26, 0x60}});
    const Case cases[] = {
        {"bus 800, up to 800", {{0, crucial}}, 2, kUpTo800, 0, 2, 3, 6},
        {"capability 1 also allows 800", {{0, crucial}}, 2, 0x40, 0, 2, 3, 6},
        {"bus 1066", {{0, crucial}}, 0, kUpTo800, 0, 0, 3, 6},
        {"bus 533 starts at 533", {{0, crucial}}, 1, kUpTo800, 0, 1, 1, 4},
        {"no ODT starts at 533", {{0, noOdt}}, 2, kUpTo800, 0, 2, 1, 4},
        {"one DIMM of two without ODT", {{0, crucial}, {3, noOdt}}, 2, kUpTo800, 0, 2, 1, 4},
        {"the override starts above the capability", {{0, crucial}}, 2, kUpTo533, 2, 2, 2, 5},
        {"the override starts below it", {{0, crucial}}, 2, kUpTo800, 1, 2, 1, 4},
        // Searched at 533 on a 533 bus, then replaced by the override.
        {"the override replaces a fallback", {{0, crucial}}, 1, kUpTo800, 3, 1, 3, 4},
        {"highest latencies 5 and 4 at 667", {{0, top5}, {2, top4}}, 2, kUpTo667, 0, 2, 2, 3},
        {"the first DIMM misses CL3 two steps down",
         {{0, Patched(top5, {{25, 0x31}})}, {2, top4}},
         2,
         kUpTo667,
         0,
         2,
         2,
         4},
        {"the second DIMM misses CL3 one step down",
         {{0, top5}, {2, Patched(top4, {{24, 0x46}})}},
         2,
         kUpTo667,
         0,
         2,
         2,
         4},
        // A zero cycle or access time means the DIMM does not support it.
        {"cycle time 0 two below the highest",
         {{0, Patched(crucial, {{25, 0}})}},
         2,
         kUpTo533,
         0,
         2,
         1,
         5},
        {"access time 0 two below the highest",
         {{0, Patched(crucial, {{26, 0}})}},
         2,
         kUpTo533,
         0,
         2,
         1,
         5},
        {"access time just over the 800 limit",
         {{0, Patched(crucial, {{10, 0x41}})}},
         2,
         kUpTo800,
         0,
         2,
         2,
         5},
        // A higher latency at the same rate comes before a lower rate.
        {"cycle time just over the 667 limit one below the highest",
         {{0, Patched(crucial, {{23, 0x31}})}},
         2,
         kUpTo667,
         0,
         2,
         2,
         6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Platform platform;
        platform.fsbStrap = c.fsbStrap;
        platform.ddrCapability = c.capability;
        Reset(platform);
        for (const Dimm& dimm : c.dimms) {
            PutDimm(dimm.slot, dimm.spd);
        }
        MemInitInput input = {};
        input.ddrFreqOverride = c.ddrFreqOverride;
        Outcome run = Detect(input);
        ASSERT_FALSE(run.stop.has_value()) << std::hex << *run.stop;
        EXPECT_EQ(config.fsbFreq, c.fsbFreq);
        EXPECT_EQ(config.ddrFreq, c.ddrFreq);
        EXPECT_EQ(config.casLatency + 3, c.cl);
    }
}

TEST_F(Timings, NothingFittingAt533OrFasterStopsWith0x10) {
    struct Case {
        const char* what;
        std::vector<Dimm> dimms;
        uint8_t ddrFreqOverride;
    };
    const Spd crucial = LoadSpd(kCrucial800);
    const Case cases[] = {
        {"the real DDR2-400 SO-DIMM", {{0, LoadSpd(kSoDimm400)}}, 0},
        {"the DDR2-400 SO-DIMM beside a fast one", {{0, crucial}, {1, LoadSpd(kSoDimm400)}}, 0},
        {"the DDR2-400 SO-DIMM with an override", {{0, LoadSpd(kSoDimm400)}}, 3},
        // No latency listed: the DIMM has no highest latency to count from.
        {"no CAS latency", {{0, Patched(crucial, {{18, 0x00}})}}, 0},
        // Latencies 0..2 are beyond every row below a DIMM's highest and
        // below what casLatency holds.
        {"CAS latency 2 only", {{0, Patched(crucial, {{18, 0x04}})}}, 0},
        {"no common latency", {{0, crucial}, {2, Patched(crucial, {{18, 0x08}})}}, 0},
        {"CL3 only, rated for DDR2-400", {{0, Patched(crucial, {{18, 0x08}, {9, 0x50}})}}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reset(Platform{});
        for (const Dimm& dimm : c.dimms) {
            PutDimm(dimm.slot, dimm.spd);
        }
        MemInitInput input = {};
        input.ddrFreqOverride = c.ddrFreqOverride;
        Outcome run = Detect(input);
        EXPECT_TRUE(run.StoppedWith(0x10)) << std::hex << run.stop.value_or(0);
        ASSERT_FALSE(run.post.empty());
        EXPECT_EQ(run.post.back(), 0x10u);
        EXPECT_EQ(config.ddrFreq, 1);
        EXPECT_EQ(config.casLatency, 1);
    }
}

TEST_F(Timings, EachTimingIsTheLargestAnyDimmNeeds) {
    struct Fields {
        uint8_t tRas, tRp, tRcd, tWr, tRfc, tWtr, tRrd, tRtp, fastRefresh;
    };
    struct Case {
        const char* what;
        std::vector<Dimm> dimms;
        uint8_t capability;
        Fields expected;
    };
    const Spd crucial = LoadSpd(kCrucial800);
    const Case cases[] = {
        // tRFC 127 ns at 800: 50 clocks give 125 ns, 51 give 128 ns.
        {"Crucial at 800", {{0, crucial}}, kUpTo800, {9, 3, 3, 6, 36, 3, 3, 3, 1}},
        // tRAS 45 ns at 667: 15 clocks give exactly 45 ns.
        {"Crucial at 667", {{0, crucial}}, kUpTo667, {6, 2, 2, 5, 28, 3, 3, 3, 1}},
        {"Crucial at 533", {{0, crucial}}, kUpTo533, {3, 1, 1, 4, 19, 2, 2, 2, 1}},
        // tRP 15 ns and 20 ns at 533: 20 ns needs 6 clocks of 3.75 ns.
        {"tRP 0x3C and 0x50",
         {{0, crucial}, {2, Patched(crucial, {{27, 0x50}})}},
         kUpTo533,
         {3, 3, 1, 4, 19, 2, 2, 2, 1}},
        {"tRP 0x50 and 0x3C",
         {{0, Patched(crucial, {{27, 0x50}})}, {2, crucial}},
         kUpTo533,
         {3, 3, 1, 4, 19, 2, 2, 2, 1}},
        {"each field from another DIMM",
         {{0, Patched(crucial, {{30, 60}, {12, 0x80}})},
          {1, Patched(crucial, {{29, 0x50}, {36, 0x50}, {12, 0x80}})},
          {2, Patched(crucial, {{40, 0x01}, {42, 0x00}, {37, 0x28}, {12, 0x85}})},
          {3, Patched(crucial, {{28, 0x28}, {38, 0x32}, {12, 0x01}})}},
         kUpTo533,
         {7, 1, 3, 6, 54, 3, 3, 4, 1}},
        {"normal refresh only",
         {{0, Patched(crucial, {{12, 0x80}})}, {2, Patched(crucial, {{12, 0x03}})}},
         kUpTo800,
         {9, 3, 3, 6, 36, 3, 3, 3, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Platform platform;
        platform.ddrCapability = c.capability;
        Reset(platform);
        for (const Dimm& dimm : c.dimms) {
            PutDimm(dimm.slot, dimm.spd);
        }
        Outcome run = Detect();
        ASSERT_FALSE(run.stop.has_value()) << std::hex << *run.stop;
        const Fields& e = c.expected;
        EXPECT_EQ(config.tRas, e.tRas);
        EXPECT_EQ(config.tRp, e.tRp);
        EXPECT_EQ(config.tRcd, e.tRcd);
        EXPECT_EQ(config.tWr, e.tWr);
        EXPECT_EQ(config.tRfc, e.tRfc);
        EXPECT_EQ(config.tWtr, e.tWtr);
        EXPECT_EQ(config.tRrd, e.tRrd);
        EXPECT_EQ(config.tRtp, e.tRtp);
        EXPECT_EQ(config.fastRefresh, e.fastRefresh);
    }
}

TEST_F(Timings, ImpossibleSettingsStopWithTheirCodeAtTheirSearch) {
    struct Case {
        const char* what;
        std::vector<Patch> patches;  // of the Crucial dump in slot 2, at DDR2-800
        uint8_t fsbStrap;
        uint8_t ddrFreqOverride;
        uint8_t fatal;
        uint8_t lastPost;
    };
    const Case cases[] = {
        {"bus index 3", {}, 3, 0, 0xE9, 0x09},
        {"bus index 7", {}, 7, 0, 0xE9, 0x09},
        {"override 4", {}, 2, 4, 0xE6, 0x10},
        {"override 0xFF", {}, 2, 0xFF, 0xE6, 0x10},
        {"tRAS 255 ns", {{30, 0xFF}}, 2, 0, 0xEC, 0x11},
        {"tRP 0", {{27, 0x00}}, 2, 0, 0xEB, 0x12},
        {"tRP 63.75 ns", {{27, 0xFF}}, 2, 0, 0xEB, 0x12},
        {"tRCD 63.75 ns", {{29, 0xFF}}, 2, 0, 0xEE, 0x13},
        {"no burst length 8", {{16, 0x04}}, 2, 0, 0xE7, 0x15},
        {"tWR 63.75 ns", {{36, 0xFF}}, 2, 0, 0xE0, 0x16},
        // 302 ns: even 78 clocks (195 ns) are too short.
        {"tRFC 302 ns", {{40, 0x07}, {42, 46}}, 2, 0, 0xE4, 0x17},
        {"tWTR 0", {{37, 0x00}}, 2, 0, 0xEF, 0x18},
        {"tWTR 63.75 ns", {{37, 0xFF}}, 2, 0, 0xEF, 0x18},
        {"tRRD 0", {{28, 0x00}}, 2, 0, 0xE0, 0x19},
        {"tRRD 63.75 ns", {{28, 0xFF}}, 2, 0, 0xE0, 0x19},
        {"tRTP 0", {{38, 0x00}}, 2, 0, 0xED, 0x20},
        {"tRTP 63.75 ns", {{38, 0xFF}}, 2, 0, 0xED, 0x20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Platform platform;
        platform.fsbStrap = c.fsbStrap;
        Reset(platform);
        PutDimm(0, LoadSpd(kCrucial800));
        PutDimm(2, Patched(LoadSpd(kCrucial800), c.patches));
        MemInitInput input = {};
        input.ddrFreqOverride = c.ddrFreqOverride;
        Outcome run = Detect(input);
        EXPECT_TRUE(run.StoppedWith(c.fatal)) << std::hex << run.stop.value_or(0);
        ASSERT_FALSE(run.post.empty());
        EXPECT_EQ(run.post.back(), c.lastPost);
    }
}

TEST_F(Timings, ASearchThatRunsOutLeavesItsFieldAtTheTop) {
    PutDimm(0, Patched(LoadSpd(kCrucial800), {{40, 0x07}, {42, 46}, {30, 0xFF}}));
    // tRAS stops first, at 24 clocks.
    EXPECT_TRUE(Detect().StoppedWith(0xEC));
    EXPECT_EQ(config.tRas, 15);
    EXPECT_EQ(config.tRp, 0);

    Reset(Platform{});
    PutDimm(0, Patched(LoadSpd(kCrucial800), {{40, 0x07}, {42, 46}}));
    EXPECT_TRUE(Detect().StoppedWith(0xE4));
    EXPECT_EQ(config.tRfc, 63);
    EXPECT_EQ(config.tWr, 6);
    EXPECT_EQ(config.tWtr, 2);  // not searched yet
}

TEST(SetBits, LowestAndHighestSetBit) {
    struct Case {
        uint8_t value, lowest, highest;
    };
    for (const Case& c : {Case{0x01, 0, 0}, Case{0x80, 7, 7}, Case{0x70, 4, 6}, Case{0x38, 3, 5},
                          Case{0xFF, 0, 7}, Case{0x00, 8, 8}}) {
        EXPECT_EQ(LowestSetBit(c.value), c.lowest) << std::hex << int(c.value);
        EXPECT_EQ(HighestSetBit(c.value), c.highest) << std::hex << int(c.value);
    }
}

}  // namespace
}  // namespace dimmtest
