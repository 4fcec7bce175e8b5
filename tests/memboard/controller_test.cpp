// The controller's completion bits, frequency select, phase sampler and
// receive-enable strobe sampling.
#include "tests/memboard/board_fixture.h"

namespace boardtest {
namespace {

// Polls a bit until it reads `level`; returns the virtual time it took, or
// UINT64_MAX when it did not within `limitNs`.
uint64_t TimeUntil(Board& b, uint32_t address, uint8_t mask, bool level, uint64_t limitNs) {
    uint64_t start = b.NowNs();
    while (b.NowNs() - start < limitNs) {
        if (((Rd(b, address, 1) & mask) != 0) == level) {
            return b.NowNs() - start;
        }
    }
    return UINT64_MAX;
}

TEST(Completion, BitsClearAfterTheirDelay) {
    struct Case {
        const char* patch;
        uint32_t offset;
        uint8_t mask;
        bool startByWrite;
        uint64_t minNs, maxNs;  // UINT64_MAX: never clears
    };
    const Case cases[] = {
        {R"({})", 0x130, 0x01, true, 2000, 3000},
        {R"({"controller": {"completionBits": [{"mc": "0x130", "bit": 0, "delayNs": 40000}]}})",
         0x130, 0x01, true, 40000, 41000},
        {R"({"controller": {"completionBits": [{"mc": "0x130", "bit": 0, "never": true}]}})", 0x130,
         0x01, true, UINT64_MAX, UINT64_MAX},
        {R"({})", 0x1A8, 0x20, false, 0, 5000},  // busy from reset
        {R"({"controller": {"completionBits": [{"mc": "0x1A8", "bit": 5, "never": true}]}})", 0x1A8,
         0x20, false, UINT64_MAX, UINT64_MAX},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.patch);
        auto b = MakeBoard(c.patch);
        EnableMc(*b);
        if (c.startByWrite) {
            EXPECT_EQ(Rd(*b, kMc + c.offset, 1) & c.mask, 0u);
            Wr(*b, kMc + c.offset, 0x82 | c.mask, 1);
            Wr(*b, kMc + c.offset, 0x80, 1);  // software cannot clear it early
        }
        uint64_t t = TimeUntil(*b, kMc + c.offset, c.mask, false, 100000);
        if (c.minNs == UINT64_MAX) {
            EXPECT_EQ(t, UINT64_MAX);
        } else {
            EXPECT_LE(t, c.maxNs);
            EXPECT_GE(t + (c.startByWrite ? 600 : 0), c.minNs);
            EXPECT_EQ(Rd(*b, kMc + c.offset, 1) & ~c.mask & 0xFF,
                      c.startByWrite ? 0x80u : 0u);  // the other bits as written
        }
    }
}

TEST(Frequency, ControllerKeepsTheFastestItAccepts) {
    auto b = MakeBoard(R"({"mc": {"0xC00": "0x02"}, "controller": {"maxDdrFreq": 2}})");
    EnableMc(*b);
    Wr(*b, kMc + 0xC00, 0x00000435);  // asks for 800 MT/s and tries to change the strap
    EXPECT_EQ(Rd(*b, kMc + 0xC00), 0x00000422u);
    Wr(*b, kMc + 0xC00, 0x00000010);
    EXPECT_EQ(Rd(*b, kMc + 0xC00), 0x00000012u);
}

uint32_t Sample(Board& b) {
    Wr(b, kMc + 0x180, Rd(b, kMc + 0x180, 1) | 0x10, 1);
    while (!(Rd(b, kMc + 0x180, 2) & 0x100)) {
    }
    return Rd(b, kMc + 0x188, 2) << 16 | Rd(b, kMc + 0x184, 2);
}

char Classify(uint32_t s) {
    return s == 0xFFFFFFFFu ? '1' : s == 0 ? '0' : 'x';
}

TEST(PhaseSampler, SamplesFollowTheClockEdge) {
    // 800 MT/s: a 2500 ps clock, high for its first half. Phase setting
    // units of 100 and 10 ps, 40 ps sample spread.
    auto b = MakeBoard(R"({"controller": {"phaseSampler":
        {"coarsePs": 100, "finePs": 10, "spreadPs": 40, "clockStepPs": 500, "delayNs": 700}}})");
    EnableMc(*b);
    Wr(*b, kMc + 0xC00, 0x30, 1);
    std::string seen;
    for (unsigned coarse = 10; coarse <= 15; ++coarse) {
        Wr(*b, kMc + 0x190, 0x80 | coarse, 1);  // bit 7 is not part of the setting
        seen += Classify(Sample(*b));
    }
    // The falling edge at 1250 ps: 1000, 1100, 1200 high; 1300.. low.
    EXPECT_EQ(seen, "111000");
    Wr(*b, kMc + 0x190, 0x0C, 1);  // 1200 ps: the 40 ps spread straddles 1250 at 1240
    Wr(*b, kMc + 0x190, 0x4C, 1);  // 1240 ps
    EXPECT_EQ(Classify(Sample(*b)), 'x');
    // A clock step moves the clock by 500 ps: the same setting now samples low.
    Wr(*b, kMc + 0x190, 0x0A, 1);  // 1000 ps
    EXPECT_EQ(Classify(Sample(*b)), '1');
    Wr(*b, kMc + 0x1F8, Rd(*b, kMc + 0x1F8) | 0x80000, 4);
    EXPECT_EQ(Rd(*b, kMc + 0x1F8) & 0x80000, 0u);  // the step bit clears itself
    EXPECT_EQ(Classify(Sample(*b)), '0');
    // Done only after the sampling delay; the sample registers are read only.
    Wr(*b, kMc + 0x180, 0x10, 1);
    EXPECT_EQ(Rd(*b, kMc + 0x180, 2) & 0x100, 0u);
    Wait(*b, 800);
    EXPECT_EQ(Rd(*b, kMc + 0x180, 2) & 0x110, 0x100u);
    Wr(*b, kMc + 0x184, 0x1234, 2);
    EXPECT_EQ(Rd(*b, kMc + 0x184, 2), 0u);
}

TEST(PhaseSampler, FixedModes) {
    for (auto [mode, expected] :
         {std::pair<const char*, char>{"ones", '1'}, {"zeros", '0'}, {"mixed", 'x'}}) {
        auto b = MakeBoard(std::string(R"({"controller": {"phaseSampler": {"mode": ")") + mode +
                           "\"}}}");
        EnableMc(*b);
        EXPECT_EQ(Classify(Sample(*b)), expected) << mode;
    }
}

// Strobe sampling for lane 0 of channel A with an explicit window.
TEST(Strobe, SampledLevelFollowsTheReceiveEnableSetting) {
    auto b = MakeBoard(R"({"controller": {"strobe": {"fineStepPs": 100,
                                                     "windows": {"A": [[[20000, 21000]]]}}}})");
    EnableMc(*b);
    Wr(*b, kMc + 0xC00, 0x30, 1);  // 800 MT/s: a 2500 ps clock
    Wr(*b, kMc + 0x263, 0x08, 1);  // channel A enabled
    Wr(*b, kMc + 0x271, 0x0E, 1);  // normal operation
    auto sample = [&](unsigned coarse, unsigned medium, unsigned fine, bool arm) {
        Wr(*b, kMc + 0x248, coarse << 16, 4);
        Wr(*b, kMc + 0x53D, medium << 2, 1);
        Wr(*b, kMc + 0x52C, fine, 2);
        if (arm) {
            Wr(*b, kMc + 0x5F4, 0x00, 1);
            Wr(*b, kMc + 0x5F4, 0x02, 1);
        }
        Rd(*b, 0x00000000);
        In(*b, 0x61);
        return (Rd(*b, kMc + 0x5CC, 1) >> 6) & 1;
    };
    struct Case {
        unsigned coarse, medium, fine;
        bool arm;
        uint32_t high;
    };
    const Case cases[] = {
        {8, 0, 0, true, 1},   // 20000 ps
        {8, 1, 3, true, 1},   // 20925
        {8, 1, 4, true, 0},   // 21025
        {7, 3, 6, true, 0},   // 19975
        {7, 3, 7, true, 1},   // 20075
        {6, 0, 0, false, 1},  // not armed: the last sample stays
        {6, 0, 0, true, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sample(c.coarse, c.medium, c.fine, c.arm), c.high)
            << c.coarse << "," << c.medium << "," << c.fine;
    }
    // The status bit belongs to the hardware.
    Wr(*b, kMc + 0x5CC, 0x4F, 1);
    EXPECT_EQ(Rd(*b, kMc + 0x5CC, 1), 0x0Fu);
}

}  // namespace
}  // namespace boardtest
