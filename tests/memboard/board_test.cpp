// Address decoding, byte storage, ports, CMOS, reset, time and the board file.
#include <fstream>

#include "tests/memboard/board_fixture.h"
#include "tests/support/files.h"

namespace boardtest {
namespace {

TEST(Storage, AccessesOfAnyWidthOverlapByteExactly) {
    auto b = MakeBoard();
    EnableMc(*b);
    Wr(*b, kMc + 0x241, 0x11223344);  // unaligned dword
    Wr(*b, kMc + 0x243, 0xAABB, 2);   // overlaps its top byte
    Wr(*b, kMc + 0x240, 0x99, 1);
    EXPECT_EQ(Rd(*b, kMc + 0x240), 0xBB334499u);
    EXPECT_EQ(Rd(*b, kMc + 0x244, 1), 0xAAu);
    EXPECT_EQ(Rd(*b, kMc + 0x242, 2), 0xBB33u);
    EXPECT_EQ(Rd(*b, kMc + 0x243, 4), 0x000000AABBu);
    EXPECT_EQ(b->PeekPhysical(kMc + 0x241), 0x44);
    std::vector<uint32_t> written = b->WrittenPhysical();
    EXPECT_EQ(written, (std::vector<uint32_t>{kMc + 0x240, kMc + 0x241, kMc + 0x242, kMc + 0x243,
                                              kMc + 0x244}));
}

TEST(Storage, PowerOnValuesComeFromTheBoardFile) {
    auto b = MakeBoard(R"({"mc": {"0xC00": "0x02", "0x6A0": "0x12345678"},
                           "pci": {"0:0.0": {"0xE3": "0x80"}}})");
    EXPECT_EQ(Rd(*b, Pci(0, 0, 0xE3), 1), 0x80u);
    EnableMc(*b);
    EXPECT_EQ(Rd(*b, kMc + 0xC00, 1), 0x02u);
    EXPECT_EQ(Rd(*b, kMc + 0x6A1, 2), 0x3456u);
}

TEST(Decode, ControllerBlockAnswersOnlyWhenEnabled) {
    auto b = MakeBoard(R"({"mc": {"0x130": "0x55"}})");
    EXPECT_EQ(Rd(*b, kMc + 0x130, 1), 0xFFu);
    EXPECT_EQ(b->UnmappedCount(), 1u);
    Wr(*b, Pci(0, 0, 0x48), 0xFED18001);  // enabled at another base
    EXPECT_EQ(Rd(*b, 0xFED18130, 1), 0x55u);
    EnableMc(*b);
    EXPECT_EQ(Rd(*b, kMc + 0x130, 1), 0x55u);
}

TEST(Decode, ConfigurationWindow) {
    auto b = MakeBoard(R"({"pci": {"0:3.0": "absent"}})");
    struct Case {
        uint8_t dev, fn;
        uint16_t reg;
        unsigned width;
        uint32_t expected;
    };
    const Case cases[] = {
        {0, 0, 0x00, 4, 0x01007A5C},  // present
        {31, 0, 0x08, 1, 0x02},      {31, 3, 0x00, 2, 0x7A5C},
        {3, 0, 0x00, 4, 0xFFFFFFFF},  // removed by the board file
        {2, 0, 0x00, 4, 0xFFFFFFFF},  // never there
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Rd(*b, Pci(c.dev, c.fn, c.reg), c.width), c.expected)
            << int(c.dev) << "." << int(c.fn) << "+" << c.reg;
    }
    // Identifiers and the revision are read only; other registers keep values.
    Wr(*b, Pci(0, 0, 0x00), 0);
    Wr(*b, Pci(0, 0, 0x08), 0x77, 1);
    Wr(*b, Pci(0, 0, 0xDF), 0x13, 1);
    EXPECT_EQ(Rd(*b, Pci(0, 0, 0x00)), 0x01007A5Cu);
    EXPECT_EQ(Rd(*b, Pci(0, 0, 0x08), 1), 0x02u);
    EXPECT_EQ(Rd(*b, Pci(0, 0, 0xDF), 1), 0x13u);
    std::vector<memboard::PciAddress> w = b->WrittenPci();
    ASSERT_EQ(w.size(), 6u);
    EXPECT_EQ(w.back().reg, 0xDF);
}

TEST(Decode, UnmappedAccessesAreRecordedAndReadAllOnes) {
    auto b = MakeBoard();
    EXPECT_EQ(Rd(*b, 0xF0000000), 0xFFFFFFFFu);
    Wr(*b, 0xFED50000, 1, 1);
    EXPECT_EQ(In(*b, 0x1234), 0xFFu);
    ASSERT_EQ(b->Unmapped().size(), 3u);
    EXPECT_TRUE(b->Unmapped()[1].write);
    EXPECT_EQ(b->Unmapped()[2].space, Space::Port);
}

TEST(Ports, PostCodesOfBothWidths) {
    auto b = MakeBoard();
    Out(*b, 0x80, 0xA0);
    Out(*b, 0x80, 0xEE25, 2);
    Out(*b, 0x81, 0x11);  // not a POST code of its own
    ASSERT_EQ(b->PostCodes().size(), 2u);
    EXPECT_EQ(b->PostCodes()[0].value, 0xA0u);
    EXPECT_EQ(b->PostCodes()[1].value, 0xEE25u);
    EXPECT_EQ(b->PostCodes()[1].width, 2u);
    EXPECT_EQ(In(*b, 0x80), 0x25u);
    EXPECT_EQ(In(*b, 0x81), 0x11u);
    Out(*b, 0x85, 0x01);
    EXPECT_EQ(In(*b, 0x85), 0x01u);
}

TEST(Ports, ResetControl) {
    struct Case {
        uint8_t value;
        bool resets;
    };
    const Case cases[] = {{0x0E, true}, {0x06, true}, {0x04, true}, {0x02, false}, {0x08, false}};
    for (const Case& c : cases) {
        auto b = MakeBoard();
        Out(*b, 0xCF9, c.value);
        EXPECT_EQ(b->StopRequested() == memboard::Stop::Reset, c.resets) << int(c.value);
        if (c.resets) {
            EXPECT_EQ(b->ResetValue(), c.value);
            // The boot is over: nothing more is answered or changed.
            Out(*b, 0x80, 0x55);
            EXPECT_TRUE(b->PostCodes().empty());
        }
    }
}

TEST(Ports, Port61DelayReadCostsItsDelayAndToggles) {
    auto b = MakeBoard(R"({"costs": {"port61ReadNs": 5000, "portReadNs": 100}})");
    uint64_t t = b->NowNs();
    uint32_t first = In(*b, 0x61);
    EXPECT_EQ(b->NowNs() - t, 5000u);
    uint32_t second = In(*b, 0x61), third = In(*b, 0x61), fourth = In(*b, 0x61);
    // Bit 4 toggles about every 15 us: within 20 us it changes at least once.
    EXPECT_TRUE(((first ^ second) | (second ^ third) | (third ^ fourth)) & 0x10);
    t = b->NowNs();
    In(*b, 0x80);
    EXPECT_EQ(b->NowNs() - t, 100u);
}

TEST(Cmos, BankTwoPersistsAcrossResetsAndRuns) {
    testsupport::ScratchDir dir("cmos");
    std::string patch = R"({"cmos": {"file": ")" + dir / "cmos.bin" + R"("}})";
    {
        auto b = MakeBoard(patch);
        Out(*b, 0x72, 0x85);
        Out(*b, 0x73, 0x3C);
        Out(*b, 0x72, 0xB3);
        Out(*b, 0x73, 0xC3);
        b->PlatformReset();
        b->BeginBoot();
        Out(*b, 0x72, 0x05);  // index bit 7 selects nothing: the same byte
        EXPECT_EQ(In(*b, 0x73), 0x3Cu);
        std::string error;
        ASSERT_TRUE(b->SaveCmos(&error)) << error;
    }
    EXPECT_EQ(testsupport::ReadFileBytes(dir / "cmos.bin").size(), 128u);
    auto again = MakeBoard(patch);
    EXPECT_EQ(again->CmosByte(0x85), 0x3C);
    EXPECT_EQ(again->CmosByte(0xB3), 0xC3);
}

TEST(Reset, KeepsOnlyWhatARealResetKeeps) {
    auto b = MakeBoard(R"({"mc": {"0x500": "0x5A"}})");
    EnableMc(*b);
    struct Case {
        uint32_t address;
        uint8_t write;
        uint8_t afterReset;
    };
    const uint32_t lpc = Pci(31, 0, 0);
    const Case cases[] = {
        {lpc + 0xA2, 0xFF, 0x80},   // bit 7 kept; bit 2 is write-one-to-clear
        {lpc + 0xA4, 0x08, 0x00},   // not kept
        {kMc + 0xA0C, 0xFF, 0x1F},  // saved calibration, bits 4:0
        {kMc + 0xA0D, 0xE3, 0x03}, {kMc + 0xC20, 0x03, 0x01},
        {kMc + 0xF14, 0x07, 0x03},                             // channel bits kept
        {kMc + 0xF15, 0x01, 0x00},                             // self-refresh report cleared
        {kMc + 0xA2E, 0x85, 0x85},                             // the ME's retained state
        {kMc + 0xA33, 0x04, 0x04}, {kMc + 0x500, 0x11, 0x5A},  // everything else: power-on value
        {0xFED1F404, 0x80, 0x00},
    };
    for (const Case& c : cases) {
        Wr(*b, c.address, c.write, 1);
    }
    b->PlatformReset();
    b->BeginBoot();
    EnableMc(*b);
    for (const Case& c : cases) {
        EXPECT_EQ(Rd(*b, c.address, 1), c.afterReset) << std::hex << c.address;
    }
}

TEST(Reset, StatusBitTwoOfA2IsWriteOneToClear) {
    auto b = MakeBoard(R"({"pci": {"0:1F.0": {"0xA2": "0x84"}}})");
    const uint32_t a2 = Pci(31, 0, 0xA2);
    Wr(*b, a2, 0x00, 1);  // a zero leaves the status
    EXPECT_EQ(Rd(*b, a2, 1), 0x04u);
    Wr(*b, a2, 0x04, 1);
    EXPECT_EQ(Rd(*b, a2, 1), 0x00u);
}

TEST(Time, HangBudgetEndsABoot) {
    auto b = MakeBoard(R"({"hangBudgetMs": 2,
                           "controller": {"completionBits": [{"mc": "0x130", "bit": 0, "never": true}]}})");
    EnableMc(*b);
    Wr(*b, kMc + 0x130, 0x01, 1);
    unsigned polls = 0;
    while (b->StopRequested() == memboard::Stop::None && (Rd(*b, kMc + 0x130, 1) & 1)) {
        ++polls;
    }
    EXPECT_EQ(b->StopRequested(), memboard::Stop::Hang);
    EXPECT_GT(b->BootTimeNs(), 2000000u);
    EXPECT_LT(b->BootTimeNs(), 2001000u);
    EXPECT_GT(polls, 1000u);
    // The next boot has a budget of its own.
    b->PlatformReset();
    b->BeginBoot();
    EXPECT_EQ(b->StopRequested(), memboard::Stop::None);
    EXPECT_EQ(b->BootTimeNs(), 0u);
}

TEST(Tpm, RegisterValidBit) {
    struct Case {
        const char* patch;
        uint64_t waitNs;
        uint8_t expected;
    };
    const Case cases[] = {
        {R"({})", 0, 0x81},
        {R"({"tpm": {"validAfterNs": 50000}})", 0, 0x01},
        {R"({"tpm": {"validAfterNs": 50000}})", 60000, 0x81},
        {R"({"tpm": {"validAfterNs": "never"}})", 1000000, 0x01},
        {R"({"tpm": {"present": false}})", 0, 0xFF},  // nothing there: the bus floats high
    };
    for (const Case& c : cases) {
        auto b = MakeBoard(c.patch);
        Wait(*b, c.waitNs);
        EXPECT_EQ(Rd(*b, 0xFED40000, 1), c.expected) << c.patch << " after " << c.waitNs;
    }
}

TEST(Hpet, CountsOnlyWhileDecodedAndEnabled) {
    auto b = MakeBoard(R"({"costs": {"memReadNs": 1000, "memWriteNs": 1000}})");
    EXPECT_EQ(Rd(*b, 0xFED000F0), 0xFFFFFFFFu);  // not decoded
    Wr(*b, 0xFED1F404, 0x80);
    EXPECT_EQ(Rd(*b, 0xFED000F0), 0u);
    Wait(*b, 1000000);
    EXPECT_EQ(Rd(*b, 0xFED000F0), 0u);  // decoded, not enabled
    Wr(*b, 0xFED00010, 1);
    uint64_t start = b->NowNs();
    Wait(*b, 100000000);  // 0.1 s
    uint32_t count = Rd(*b, 0xFED000F0);
    uint64_t expected = (b->NowNs() - start) * 14318179ull / 1000000000ull;
    EXPECT_NEAR(count, expected, 1.0);
    Wr(*b, 0xFED1F404, 0x00);  // decode off: the counter stops and reads all ones
    EXPECT_EQ(Rd(*b, 0xFED000F0), 0xFFFFFFFFu);
    Wait(*b, 1000000);
    Wr(*b, 0xFED1F404, 0x80);
    EXPECT_NEAR(Rd(*b, 0xFED000F0), count + 28.0, 2.0);  // the reads around it
}

TEST(Hpet, MainCounterWrapsAt32Bits) {
    auto b = MakeBoard(R"({"hpet": {"counter": "0xFFFFFF00"}})");
    Wr(*b, 0xFED1F404, 0x80);
    Wr(*b, 0xFED00010, 1);
    Wait(*b, 100000);  // about 1432 ticks
    EXPECT_LT(Rd(*b, 0xFED000F0), 0x600u);
    EXPECT_EQ(Rd(*b, 0xFED000F4), 1u);
}

TEST(BoardFile, ErrorsNameTheProblem) {
    struct Case {
        const char* json;
        const char* message;
    };
    const Case cases[] = {
        {R"({"nmae": "x"})", "unknown key \"nmae\""},
        {R"({"me": {"hostDepht": 3}})", "unknown key \"hostDepht\""},
        {R"({"pci": {"0:32.0": {}}})", "is not a PCI function"},
        {R"({"mc": {"0x4000": "0x01"}})", "outside the register block"},
        {R"({"mc": {"0xC00": "zz"}})", "is not a number"},
        {R"({"dimms": [{"slot": 0, "spd": "missing.spd"}]})", "cannot read"},
        {R"({"dimms": [{"slot": 4, "spd": "x.spd"}]})", "slot"},
        {R"({"memory": {"0x10000000": "0x01"}})", "holds no register"},
        {R"({"controller": {"phaseSampler": {"mode": "stuck"}}})", "\"model\""},
        {R"({"dimms": [)", "not valid JSON"},
    };
    for (const Case& c : cases) {
        std::string error;
        auto b = memboard::OpenBoardText(c.json, BoardsDir(), &error);
        EXPECT_FALSE(b) << c.json;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.json << " -> " << error;
    }
}

TEST(BoardFile, ShippedBoardsOpen) {
    for (const char* name : {"default", "two-dimm", "silent-me", "reset-paths", "small-me-buffers",
                             "me-handoff", "preserved-dram"}) {
        std::string error;
        auto b = memboard::OpenBoard(BoardsDir() + "/" + name + ".json", &error);
        EXPECT_TRUE(b) << name << ": " << error;
        if (b) {
            EXPECT_EQ(b->Name(), name);
        }
    }
    std::string error;
    EXPECT_TRUE(memboard::OpenDefaultBoard(&error)) << error;
}

}  // namespace
}  // namespace boardtest
