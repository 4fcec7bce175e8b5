// The emulator with small hand-assembled images in place of corvex: access
// widths and order as the instructions make them, how each way of stopping
// becomes an outcome, and the faults a freestanding build can have that the
// host build cannot show.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "corvex/platform/platform.h"
#include "mem_board.h"
#include "tools/image-run/image_run.h"

namespace {

using harness::Outcome;
using memboard::Space;

constexpr uint32_t kLink = 0xFFF80000;
constexpr uint32_t kEntryOffset = 0x20;
constexpr uint32_t kChipset = 0xFED1C000;  // a register block that reads back what was written
constexpr uint32_t kTpmAccess = 0xFED40000;

// A few encodings of 32-bit x86, enough to make every kind of access.
struct Code {
    std::vector<uint8_t> bytes;
    Code& Byte(std::initializer_list<uint8_t> b) {
        bytes.insert(bytes.end(), b);
        return *this;
    }
    Code& U32(uint32_t v) {
        return Byte({uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    }
    Code& MovEax(uint32_t v) { return Byte({0xB8}).U32(v); }
    Code& MovEbx(uint32_t v) { return Byte({0xBB}).U32(v); }
    Code& LoadEax(uint32_t a) { return Byte({0xA1}).U32(a); }
    Code& LoadAx(uint32_t a) { return Byte({0x66, 0xA1}).U32(a); }
    Code& StoreEax(uint32_t a) { return Byte({0xA3}).U32(a); }
    Code& Port(uint16_t p) { return Byte({0x66, 0xBA, uint8_t(p), uint8_t(p >> 8)}); }  // mov dx
    Code& OutAl() { return Byte({0xEE}); }
    Code& OutAx() { return Byte({0x66, 0xEF}); }
    Code& InAl() { return Byte({0xEC}); }
    Code& Halt() { return Byte({0xFA, 0xF4}); }  // cli; hlt
    Code& Ret() { return Byte({0xC3}); }
};

std::vector<uint8_t> MakeImage(const Code& code, uint32_t link = kLink) {
    std::vector<uint8_t> b(kEntryOffset, 0);
    const uint32_t size = kEntryOffset + static_cast<uint32_t>(code.bytes.size());
    const uint32_t header[] = {imagerun::kImageMagic, 0x00140001, link, kEntryOffset, size};
    for (size_t i = 0; i < sizeof header; ++i) {
        b[i] = static_cast<uint8_t>(header[i / 4] >> (8 * (i % 4)));
    }
    b.insert(b.end(), code.bytes.begin(), code.bytes.end());
    return b;
}

struct TestBoot {
    harness::BootResult result;
    std::unique_ptr<memboard::Board> board;
};

TestBoot Boot(const Code& code, uint32_t stallLimitMs = 10000, uint64_t hangBudgetNs = 0,
              uint32_t link = kLink) {
    TestBoot run;
    std::string error;
    imagerun::Image image;
    EXPECT_TRUE(imagerun::ParseImage("test.bin", MakeImage(code, link), &image, &error)) << error;
    run.board = memboard::OpenDefaultBoard(&error);
    EXPECT_TRUE(run.board) << error;
    if (hangBudgetNs) {
        run.board->SetHangBudgetNs(hangBudgetNs);
    }
    harness::BootOptions options;
    options.keepAccesses = true;
    imagerun::ImageRunOptions runOptions;
    runOptions.stallLimitMs = stallLimitMs;
    run.result = imagerun::RunImageBoot(image, *run.board, MemInitInput{}, MemInitOutput{}, options,
                                        runOptions);
    return run;
}

TEST(ImageEmulator, AccessesKeepTheirWidthAndOrder) {
    // Unaligned accesses across a page boundary are split by the emulator;
    // the board must see each as the one access the instruction made.
    Code code;
    code.MovEax(0x11223344)
        .StoreEax(kChipset + 0xFFE)
        .LoadAx(kChipset + 0xFFF)
        .Port(0x80)
        .OutAx()
        .Port(0x61)
        .InAl()
        .LoadEax(kChipset + 0xFFE)
        .Ret();
    TestBoot run = Boot(code);
    const harness::BootResult& r = run.result;
    ASSERT_EQ(r.outcome, Outcome::Returned) << r.error;
    EXPECT_EQ(r.returnValue, 0x11223344u);
    struct Expected {
        Space space;
        bool write;
        uint8_t width;
        uint32_t address;
        uint32_t value;
    };
    const Expected expected[] = {
        {Space::Physical, true, 4, kChipset + 0xFFE, 0x11223344},
        {Space::Physical, false, 2, kChipset + 0xFFF, 0x2233},
        {Space::Port, true, 2, 0x80, 0x2233},
        {Space::Port, false, 1, 0x61, r.accesses.size() > 3 ? r.accesses[3].value : 0},
        {Space::Physical, false, 4, kChipset + 0xFFE, 0x11223344},
    };
    ASSERT_EQ(r.accesses.size(), std::size(expected));
    EXPECT_EQ(r.accessCount, std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(harness::FormatAccess(r.accesses[i]));
        EXPECT_EQ(r.accesses[i].space, expected[i].space);
        EXPECT_EQ(r.accesses[i].write, expected[i].write);
        EXPECT_EQ(r.accesses[i].width, expected[i].width);
        EXPECT_EQ(r.accesses[i].address, expected[i].address);
        EXPECT_EQ(r.accesses[i].value, expected[i].value);
    }
    ASSERT_EQ(run.board->PostCodes().size(), 1u);
    EXPECT_EQ(run.board->PostCodes()[0].value, 0x2233u);
}

TEST(ImageEmulator, StopsBecomeTheHostBuildsOutcomes) {
    struct Case {
        const char* name;
        Code code;
        Outcome outcome;
        uint32_t stopCode;
        uint32_t stopReason;
        uint64_t accesses;
    };
    const Case cases[] = {
        // FatalStop: the code, then the attempt to tell the ME.
        {"fatal", Code().Port(0x80).MovEax(0xEE25).OutAx().LoadEax(kTpmAccess).Halt(),
         Outcome::Fatal, 0x25, kStopFatal | 0x25, 2},
        // FatalHalt: the code and nothing after it.
        {"halt", Code().Port(0x80).MovEax(0xEEB1).OutAx().Halt(), Outcome::Halt, 0xB1,
         kStopHalt | 0xB1, 1},
        // A reset request the board does not take (bit 2 stays 0).
        {"reset not taken", Code().Port(0xCF9).MovEax(0x02).OutAl().Halt(), Outcome::Halt, 0x02,
         kStopReset | 0x02, 1},
        // A reset the board takes ends the boot at the write: what follows
        // in the same block never reaches the board.
        {"reset", Code().Port(0xCF9).MovEax(0x0E).OutAl().Port(0x80).OutAl().Halt(), Outcome::Reset,
         0x0E, 0, 1},
        // A poll that never ends runs into the board's hang budget.
        {"hang", Code().LoadEax(kTpmAccess).Byte({0xEB, 0xF9}), Outcome::Hang, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestBoot run = Boot(c.code, 10000, 1000000);
        EXPECT_EQ(run.result.outcome, c.outcome) << run.result.error;
        EXPECT_EQ(run.result.code, c.stopCode);
        EXPECT_EQ(run.result.stopReason, c.stopReason);
        if (c.accesses) {
            EXPECT_EQ(run.result.accessCount, c.accesses);
        }
    }
}

TEST(ImageEmulator, FaultsOfTheFreestandingBuildAreErrors) {
    const uint32_t imageEnd = kLink + kEntryOffset + 64;
    Code pastEnd;
    pastEnd.LoadEax(imageEnd + 16).Ret();
    pastEnd.bytes.resize(64, 0x90);
    struct Case {
        const char* name;
        Code code;
        const char* message;
    };
    const Case cases[] = {
        {"write to the image", Code().StoreEax(kLink + 0x10).Ret(), "writable global state"},
        {"stack overflow", Code().Byte({0x81, 0xEC}).U32(0x10000).Byte({0x50}).Ret(),
         "stack overflow"},
        {"invalid instruction", Code().Byte({0x0F, 0x0B}), "invalid instruction"},
        {"divide by zero", Code().Byte({0x31, 0xC9, 0xF7, 0xF1}), "processor exception 0"},
        {"callee-saved register", Code().MovEbx(1).Ret(), "EBX"},
        {"arguments removed", Code().Byte({0xC2, 0x08, 0x00}), "ESP"},  // ret 8
        {"halt without a stop code", Code().Halt(), "without a stop code"},
        {"spin without accesses", Code().Byte({0xEB, 0xFE}), "spins"},
        {"write beside the blocks", Code().StoreEax(imagerun::kBlocksBase + 0x400).Ret(),
         "beside the firmware blocks"},
        {"execution outside the image",
         Code().MovEax(imagerun::kStackBase + 0x100).Byte({0xFF, 0xE0}), "execution at"},
        {"read of the caller's memory", Code().LoadEax(imagerun::kGdtAddress).Ret(),
         "caller's memory"},
        {"read past the image", pastEnd, "past the end of the image"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A short stall limit, for the spin; every other case ends at once.
        TestBoot run = Boot(c.code, 2000);
        EXPECT_EQ(run.result.outcome, Outcome::Error);
        EXPECT_NE(run.result.error.find(c.message), std::string::npos) << run.result.error;
    }
}

TEST(ImageEmulator, ImagesLinkedElsewhere) {
    // Below the emulator's memory, and in the last page of the 4 GB space.
    for (uint32_t link : {0x00100000u, 0xFFFFF000u}) {
        SCOPED_TRACE(link);
        TestBoot run =
            Boot(Code().LoadEax(kChipset).StoreEax(kChipset + 4).MovEax(5).Ret(), 10000, 0, link);
        EXPECT_EQ(run.result.outcome, Outcome::Returned) << run.result.error;
        EXPECT_EQ(run.result.returnValue, 5u);
        EXPECT_EQ(run.result.accessCount, 2u);
    }
}

TEST(ImageEmulator, BlocksGoInAndComeBack) {
    // mov eax, [esp+4]; mov bl, [eax]; mov eax, [esp+8]; mov [eax+0x38], bl; ret
    // with EBX saved around it.
    Code code;
    code.Byte({0x53, 0x8B, 0x44, 0x24, 0x08, 0x8A, 0x18, 0x8B, 0x44, 0x24, 0x0C, 0x88, 0x58, 0x38,
               0x5B})
        .Ret();
    std::string error;
    imagerun::Image image;
    ASSERT_TRUE(imagerun::ParseImage("test.bin", MakeImage(code), &image, &error)) << error;
    auto board = memboard::OpenDefaultBoard(&error);
    ASSERT_TRUE(board) << error;
    MemInitInput input{};
    input.bootMode = 0x5C;
    MemInitOutput before{};
    before.slotSizeMb[1] = 77;
    imagerun::ImageBootInfo info;
    harness::BootResult r = imagerun::RunImageBoot(image, *board, input, before, {}, {}, &info);
    ASSERT_EQ(r.outcome, Outcome::Returned) << r.error;
    EXPECT_EQ(r.output.engineChANone, 0x5C);
    EXPECT_EQ(r.output.slotSizeMb[1], 77u);
    EXPECT_EQ(r.accessCount, 0u);
    EXPECT_EQ(info.stackBytes, 16u);  // the call frame and the saved EBX
}

}  // namespace
