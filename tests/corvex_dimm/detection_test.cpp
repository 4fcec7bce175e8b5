// DIMM validation and rank maps over the real dumps: which modules are taken
// and how their ranks, geometry codes and DIMM types come out, and which are
// refused with which fatal code.
#include <gtest/gtest.h>

#include "corvex/config/spd_dimms.h"
#include "tests/corvex_dimm/dimm_bench.h"

namespace dimmtest {
namespace {

struct Dimm {
    int slot;
    Spd spd;
};

using Detection = DimmBench;

TEST_F(Detection, AcceptedModulesGiveTheirRankMasksCodesAndTypes) {
    struct Case {
        const char* what;
        std::vector<Dimm> dimms;
        uint8_t hostRevision;
        uint8_t chARankMask, chBRankMask;
        uint32_t chARankCodes, chBRankCodes;
        uint8_t chADimmTypes, chBDimmTypes;
        uint8_t tckMax533Ok;
    };
    const Spd crucial = LoadSpd(kCrucial800);
    // The desktop dumps run as SO-DIMMs (byte 20 patched to 4).
    const Spd udimm2g = AsSoDimm(kUdimm800);
    const Spd transcend = AsSoDimm(kUdimmTranscend);
    const Case cases[] = {
        {"1 GB, 8 banks, 14/10, x8", {{0, crucial}}, 1, 0x1, 0, 0x86, 0, 0x1, 0, 1},
        {"revision 0 leaves out the eight-bank mark",
         {{0, crucial}},
         0,
         0x1,
         0,
         0x06,
         0,
         0x1,
         0,
         1},
        {"4 banks are never marked",
         {{1, Patched(crucial, {{17, 4}})}},
         1,
         0x4,
         0,
         0x00020000,
         0,
         0x4,
         0,
         1},
        {"two ranks of 8-bank devices in slot 2", {{2, udimm2g}}, 1, 0, 0x3, 0, 0x8686, 0, 0x2, 1},
        {"two ranks of 4-bank devices in slot 3",
         {{3, transcend}},
         1,
         0,
         0xC,
         0,
         0x02020000,
         0,
         0x8,
         1},
        {"four DIMMs",
         {{0, crucial}, {1, transcend}, {2, udimm2g}, {3, crucial}},
         1,
         0xD,
         0x7,
         0x02020086,
         0x00868686,
         0x9,
         0x6,
         1},
        {"x16, 13 rows: one rank of type 3",
         {{0, Patched(crucial, {{3, 13}, {13, 16}})}},
         1,
         0x1,
         0,
         0x87,
         0,
         0x3,
         0,
         1},
        {"x16, 13 rows, 9 columns, 4 banks",
         {{2, Patched(crucial, {{3, 13}, {4, 9}, {13, 16}, {17, 4}})}},
         1,
         0,
         0x1,
         0,
         0x01,
         0,
         0x3,
         1},
        {"x16, 12 rows, 8 banks",
         {{1, Patched(crucial, {{3, 12}, {13, 16}})}},
         1,
         0x4,
         0,
         0x00850000,
         0,
         0xC,
         0,
         1},
        {"x8, 15 rows, 8 banks", {{0, Patched(crucial, {{3, 15}})}}, 1, 0x1, 0, 0x88, 0, 0x1, 0, 1},
        // Both ranks are used, but a two-rank x16 DIMM has no type code.
        {"two ranks of x16 devices",
         {{0, Patched(crucial, {{5, 0x61}, {3, 14}, {13, 16}})}},
         1,
         0x3,
         0,
         0x8989,
         0,
         0x0,
         0,
         1},
        {"maximum cycle time below 3.75 ns",
         {{0, Patched(crucial, {{43, 0x3C}})}, {2, crucial}},
         1,
         0x1,
         0x1,
         0x86,
         0x86,
         0x1,
         0x1,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Platform platform;
        platform.hostRevision = c.hostRevision;
        Reset(platform);
        for (const Dimm& dimm : c.dimms) {
            PutDimm(dimm.slot, dimm.spd);
        }
        Outcome run = Detect();
        ASSERT_FALSE(run.stop.has_value()) << std::hex << *run.stop;
        EXPECT_EQ(config.chARankMask, c.chARankMask);
        EXPECT_EQ(config.chBRankMask, c.chBRankMask);
        EXPECT_EQ(config.chARankCodes, c.chARankCodes);
        EXPECT_EQ(config.chBRankCodes, c.chBRankCodes);
        EXPECT_EQ(config.chADimmTypes, c.chADimmTypes);
        EXPECT_EQ(config.chBDimmTypes, c.chBDimmTypes);
        EXPECT_EQ(config.tckMax533Ok, c.tckMax533Ok);
    }
}

TEST_F(Detection, RefusedModulesStopWithTheirCodeAtTheirCheck) {
    struct Case {
        const char* what;
        Spd spd;
        uint8_t fatal;
        uint8_t lastPost;  // the check that refused it
    };
    const Spd crucial = LoadSpd(kCrucial800);
    const Case cases[] = {
        {"FB-DIMM (byte 2 = 9)", LoadSpd(kFbdimm), 0xE0, 0x04},
        {"DDR SDRAM (byte 2 = 7)", Patched(crucial, {{2, 7}}), 0xE0, 0x04},
        {"registered DIMM", LoadSpd(kRdimm), 0xE0, 0x05},
        {"desktop DIMM, 2 GB", LoadSpd(kUdimm800), 0xE0, 0x05},
        {"desktop DIMM, Transcend", LoadSpd(kUdimmTranscend), 0xE0, 0x05},
        {"desktop DIMM, Infineon", LoadSpd(kUdimmInfineon), 0xE0, 0x05},
        {"registered ECC DIMM run as an SO-DIMM", AsSoDimm(kRdimm), 0xE1, 0x06},
        {"ECC SO-DIMM", Patched(crucial, {{11, 0x02}}), 0xE1, 0x06},
        {"three ranks", Patched(crucial, {{5, 0x62}}), 0xE2, 0x07},
        {"eight ranks", Patched(crucial, {{5, 0x67}}), 0xE2, 0x07},
        {"x4 devices", Patched(crucial, {{13, 4}}), 0xE3, 0x08},
        {"x32 devices", Patched(crucial, {{13, 32}}), 0xE3, 0x08},
        {"two banks", Patched(crucial, {{17, 2}}), 0xE3, 0x08},
        {"sixteen banks", Patched(crucial, {{17, 16}}), 0xE3, 0x08},
        // Organisations the controller cannot address stop when the rank
        // maps are built.
        {"11 rows", Patched(crucial, {{3, 11}}), 0xF0, 0x21},
        {"16 rows", Patched(crucial, {{3, 16}}), 0xF0, 0x21},
        {"8 columns", Patched(crucial, {{4, 8}}), 0xF0, 0x21},
        {"11 columns", Patched(crucial, {{4, 11}}), 0xF0, 0x21},
        {"x8, 8 banks, 9 columns (no table entry)", Patched(crucial, {{4, 9}}), 0xF0, 0x21},
        {"x8, 4 banks, 13 rows, 9 columns", Patched(crucial, {{3, 13}, {4, 9}, {17, 4}}), 0xF0,
         0x21},
        {"x16, 15 rows", Patched(crucial, {{3, 15}, {13, 16}}), 0xF0, 0x21},
        {"x8, 12 rows", Patched(crucial, {{3, 12}}), 0xF0, 0x21},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reset(Platform{});
        PutDimm(0, LoadSpd(kCrucial800));  // a good DIMM first does not help
        PutDimm(2, c.spd);
        Outcome run = Detect();
        EXPECT_TRUE(run.StoppedWith(c.fatal)) << std::hex << run.stop.value_or(0);
        ASSERT_FALSE(run.post.empty());
        EXPECT_EQ(run.post.back(), c.lastPost);
        EXPECT_EQ(scriptbus::Writes(kHostBusPort, 0x80, 2),
                  std::vector<uint32_t>{0xEE00u | c.fatal});
    }
}

TEST_F(Detection, TwoRanksWithAHighRowNibbleRunAsOneRank) {
    // Byte 5 says two ranks, byte 3 has bit 4 set: the DIMM is taken on its
    // first rank, whose 16 row bits the controller then cannot address.
    PutDimm(0, Patched(LoadSpd(kCrucial800), {{5, 0x61}, {3, 0x10}}));
    FillSpd();
    ASSERT_FALSE(
        scriptbus::RunUntilStop([&] { ValidateDimms(nullptr, &spd, &config); }).has_value());
    EXPECT_EQ(config.slotDualRank[0], 0);
    EXPECT_EQ(config.rankPresent[0], 1);
    EXPECT_EQ(config.rankPresent[1], 0);
    EXPECT_EQ(config.rankRowBits[0], 0x10);
    EXPECT_TRUE(Detect().StoppedWith(0xF0));

    // Without the high nibble both ranks are there.
    Reset(Platform{});
    PutDimm(0, Patched(LoadSpd(kCrucial800), {{5, 0x61}}));
    ASSERT_FALSE(Detect().stop.has_value());
    EXPECT_EQ(config.slotDualRank[0], 1);
    EXPECT_EQ(config.chARankMask, 0x3);
}

}  // namespace
}  // namespace dimmtest
